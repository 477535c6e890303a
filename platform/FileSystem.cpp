#include "FileSystem.h"

#include "Text.h"

namespace korvanta::platform {

std::filesystem::path NativePath(std::u16string_view path) {
  std::u16string copy(path);
  for (char16_t& c : copy)
    if (c == u'\\') c = u'/';
  return std::filesystem::path(ToUtf8(copy));
}

bool DirectoryExists(std::u16string_view path) {
  if (path.empty()) return false;
  std::error_code ec;
  return std::filesystem::is_directory(NativePath(path), ec);
}

bool FileExists(std::u16string_view path) {
  if (path.empty()) return false;
  std::error_code ec;
  const auto status = std::filesystem::status(NativePath(path), ec);
  return !ec && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

std::u16string TempPath() {
  std::error_code ec;
  const std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
  if (ec || dir.empty()) return {};
  std::u16string text = FromUtf8(dir.string());
  if (!IsPathDelimiter(text.back())) text.push_back(kPathDelimiter);
  return text;
}

bool DeleteFile(std::u16string_view path) {
  std::error_code ec;
  return std::filesystem::remove(NativePath(path), ec) && !ec;
}

}  // namespace korvanta::platform
