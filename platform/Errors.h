// The errors that the platform layers raise. The message is kept as the program's own text
// (UTF-16) for the error dialog; what() gives the same text in UTF-8 for logs and tests.
#pragma once

#include <stdexcept>
#include <string>

namespace korvanta::platform {

class EPlatformError : public std::runtime_error {
 public:
  explicit EPlatformError(std::u16string message);
  const std::u16string& Message() const noexcept { return message_; }

 private:
  std::u16string message_;
};

// A failed file operation; ErrorCode() is the system's error number behind it.
class EInOutError : public EPlatformError {
 public:
  explicit EInOutError(int errorCode);
  int ErrorCode() const noexcept { return errorCode_; }

 private:
  int errorCode_;
};

// An archive that cannot be opened or read.
class EArchiveError : public EPlatformError {
 public:
  using EPlatformError::EPlatformError;
};

// The standard text of a file error: "File not found", "File access denied" or "I/O error %d".
std::u16string InOutErrorText(int errorCode);

}  // namespace korvanta::platform
