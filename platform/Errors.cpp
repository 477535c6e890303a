#include "Errors.h"

#include "Text.h"

#include <cerrno>

namespace korvanta::platform {

EPlatformError::EPlatformError(std::u16string message)
    : std::runtime_error(ToUtf8(message)), message_(std::move(message)) {}

EInOutError::EInOutError(int errorCode) : EPlatformError(InOutErrorText(errorCode)), errorCode_(errorCode) {}

std::u16string InOutErrorText(int errorCode) {
  switch (errorCode) {
    case ENOENT:
    case ENOTDIR: return u"File not found";
    case EACCES:
    case EPERM: return u"File access denied";
    default: return u"I/O error " + FromUtf8(std::to_string(errorCode));
  }
}

}  // namespace korvanta::platform
