#include "FileWriter.h"

#include "FileSystem.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace korvanta::platform {

FileWriter::FileWriter(std::u16string_view path) : buffer_(new unsigned char[kBufferSize]) {
  const std::string native = NativePath(path).string();
  do {
    fd_ = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "cannot create " + native);
}

FileWriter::~FileWriter() {
  try {
    Close();
  } catch (...) {
    // The caller that cares calls Close itself; a destructor must not throw.
  }
}

void FileWriter::Write(const unsigned char* data, std::size_t count) {
  if (fd_ < 0) throw std::system_error(EBADF, std::generic_category(), "file is closed");
  if (used_ + count > kBufferSize) Flush();
  if (count >= kBufferSize) {
    WriteAll(data, count);  // large writes go straight through
    return;
  }
  std::memcpy(buffer_.get() + used_, data, count);
  used_ += count;
}

void FileWriter::Flush() {
  const std::size_t count = used_;
  used_ = 0;
  WriteAll(buffer_.get(), count);
}

void FileWriter::WriteAll(const unsigned char* p, std::size_t left) {
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::system_error(n < 0 ? errno : ENOSPC, std::generic_category(), "write failed");
    p += n;
    left -= static_cast<std::size_t>(n);
  }
}

void FileWriter::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  try {
    Flush();
  } catch (...) {
    fd_ = -1;
    ::close(fd);
    throw;
  }
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR)
    throw std::system_error(errno, std::generic_category(), "close failed");
}

}  // namespace korvanta::platform
