// Reading a text file the way the run-time library's text files do, for the installed-version file.
#pragma once

#include <string>
#include <string_view>

namespace korvanta::platform {

// The first line of the file: everything up to, not including, the first CR, LF or end-of-file
// mark (byte 26), or the whole file when there is none. Bytes are decoded as Windows-1252, with
// no trimming and no byte-order mark detection. Only as much of the file is read as the line needs.
// Raises EInOutError ("File not found", "File access denied", "I/O error %d") when it fails.
std::u16string ReadFirstLine(std::u16string_view path);

}  // namespace korvanta::platform
