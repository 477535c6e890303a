#include "TextFile.h"

#include "Errors.h"
#include "FileSystem.h"
#include "Text.h"
#include "UniqueFd.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace korvanta::platform {
namespace {

constexpr unsigned char kEndOfFileMark = 26;

// A version line is short: one small read nearly always holds it.
constexpr std::size_t kChunkSize = 4096;

bool IsLineEnd(unsigned char b) { return b == '\r' || b == '\n' || b == kEndOfFileMark; }

}  // namespace

std::u16string ReadFirstLine(std::u16string_view path) {
  const UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (!fd) throw EInOutError(errno);

  std::u16string line;
  std::array<unsigned char, kChunkSize> chunk;
  for (;;) {
    const ssize_t got = ::read(fd.get(), chunk.data(), chunk.size());
    if (got < 0) {
      if (errno == EINTR) continue;
      throw EInOutError(errno);
    }
    if (got == 0) return line;
    const auto end = chunk.begin() + got;
    const auto stop = std::find_if(chunk.begin(), end, IsLineEnd);
    AppendAnsi(line, chunk.data(), static_cast<std::size_t>(stop - chunk.begin()));
    if (stop != end) return line;
  }
}

}  // namespace korvanta::platform
