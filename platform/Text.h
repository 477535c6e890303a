// Text conversions at the boundaries: the system's single-byte code page (Windows-1252 everywhere)
// and UTF-8 for file names and network addresses.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace korvanta::platform {

// One character per byte through Windows-1252. The five bytes that the code page leaves unassigned
// (0x81, 0x8D, 0x8F, 0x90, 0x9D) become the code points of the same value, so no byte is ever lost.
std::u16string DecodeAnsi(std::string_view bytes);

// Appends the decoded bytes to `out` without a temporary: the transfer calls this per block.
void AppendAnsi(std::u16string& out, const unsigned char* bytes, std::size_t count);

// The inverse of DecodeAnsi; nothing when a character has no byte in Windows-1252.
std::optional<std::string> EncodeAnsi(std::u16string_view text);

// UTF-16 to UTF-8. A lone surrogate becomes U+FFFD instead of failing: a name with one cannot
// exist on the file system anyway, and a conversion must never throw at a boundary.
std::string ToUtf8(std::u16string_view text);

// UTF-8 to UTF-16; invalid sequences become U+FFFD.
std::u16string FromUtf8(std::string_view text);

// ASCII-only case folding, used wherever the rules ignore the case of the letters a to z only.
char16_t AsciiUpper(char16_t c);
bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b);
bool StartsWithIgnoreAsciiCase(std::u16string_view text, std::u16string_view prefix);

}  // namespace korvanta::platform
