// Working out the local path of the update file, downloading it there and, with a publisher's
// key set, accepting it only when its signature verifies.
#include "mxWebUpdate.h"

#include "FileSystem.h"
#include "Signing.h"
#include "Text.h"

#include <fcntl.h>
#include <unistd.h>

namespace fs = korvanta::platform;

namespace {

// A client-side name from the page must stay inside the target folder: an absolute path, a drive
// or a ".." step would let a hostile page have the download written anywhere.
bool StaysInTargetFolder(std::u16string_view name) {
  if (!name.empty() && fs::IsPathDelimiter(name.front())) return false;
  if (name.find(u':') != std::u16string_view::npos) return false;
  std::size_t start = 0;
  for (;;) {
    std::size_t end = start;
    while (end < name.size() && !fs::IsPathDelimiter(name[end])) ++end;
    if (name.substr(start, end - start) == u"..") return false;
    if (end == name.size()) return true;
    start = end + 1;
  }
}

// A refused download must not stay installable: deleted, or emptied when it cannot be deleted.
void DiscardFile(const std::u16string& path) {
  if (fs::DeleteFile(path)) return;
  const int fd = ::open(fs::NativePath(path).c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
  if (fd >= 0) ::close(fd);
}

}  // namespace

std::u16string TmxWebUpdate::GetClientFilePath() {
  if (fs::DirectoryExists(FTargetFolder)) {
    std::u16string path = FTargetFolder;
    if (!fs::IsPathDelimiter(path.back())) path.push_back(fs::kPathDelimiter);
    return path + FClientFileName;
  }
  const std::u16string temp = fs::TempPath();
  return temp.empty() ? std::u16string() : temp + FClientFileName;
}

void TmxWebUpdate::DownloadUpdate() {
  FDownloadResult = false;
  if (!StaysInTargetFolder(FClientFileName)) {
    DoDownloadError();
    return;
  }
  FFileName = GetClientFilePath();
  if (FOnGetClientFileName) FOnGetClientFileName(*this, FFileName);
  if (fs::FileExists(FFileName)) {
    bool Overwrite = FOptions.Contains(uoOverwrite);
    if (FOnClientFileExists) FOnClientFileExists(*this, FFileName, Overwrite);
    if (!Overwrite) {
      DoDownloadError();
      return;
    }
  }
  DoBeforeDownload(FFileName);
  FDigest.reset();
  TransferURL(FUpdateURL, FUserName, FPassword, true, true, FFileName);
  if (!FPublicKey.empty()) {
    // A failed transfer has reported itself already; a complete one fails here when unsigned.
    if (FDownloadResult && !DownloadIsSigned()) {
      FDownloadResult = false;
      DoDownloadError();
    }
    // The digest exists once the transfer created the file; what it wrote goes unless verified.
    if (!FDownloadResult && FDigest) DiscardFile(FFileName);
    FDigest.reset();
  }
  DoAfterDownload(FFileName);
}

bool TmxWebUpdate::DownloadIsSigned() {
  if (!FDigest || FSignature.empty()) return false;
  const std::string message = fs::UpdateSignatureMessage(fs::ToUtf8(FProductVersion), FDigest->FinalHex());
  return fs::VerifySignature(fs::ToUtf8(FPublicKey), fs::ToUtf8(FSignature), message);
}
