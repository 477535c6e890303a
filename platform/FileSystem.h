// File-system questions the component asks, on paths given as UTF-16 text.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace korvanta::platform {

// The delimiter appended to a folder path: the native one.
inline constexpr char16_t kPathDelimiter = u'/';

// True for both delimiters: a folder written ".\" or "./" names the working folder alike.
constexpr bool IsPathDelimiter(char16_t c) { return c == u'/' || c == u'\\'; }

// The native path for a component path: backslashes become slashes, the text becomes UTF-8.
std::filesystem::path NativePath(std::u16string_view path);

// Existence tests; a symbolic link counts as what it points to. Relative paths count from the
// current folder. Never throw.
bool DirectoryExists(std::u16string_view path);
bool FileExists(std::u16string_view path);  // a file that is not a folder

// The system's temporary folder (TMPDIR honoured), ending with the path delimiter; empty when
// it cannot be had.
std::u16string TempPath();

// Deletes a file; the result tells whether it is gone. Never throws.
bool DeleteFile(std::u16string_view path);

}  // namespace korvanta::platform
