// Working out the local path of the update file and downloading it there.
#include "mxWebUpdate.h"

#include "FileSystem.h"

namespace fs = korvanta::platform;

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
  FFileName = GetClientFilePath();
  if (FOnGetClientFileName) FOnGetClientFileName(*this, FFileName);
  FDownloadResult = false;
  if (fs::FileExists(FFileName)) {
    bool Overwrite = FOptions.Contains(uoOverwrite);
    if (FOnClientFileExists) FOnClientFileExists(*this, FFileName, Overwrite);
    if (!Overwrite) {
      DoDownloadError();
      return;
    }
  }
  DoBeforeDownload(FFileName);
  TransferURL(FUpdateURL, FUserName, FPassword, true, true, FFileName);
  DoAfterDownload(FFileName);
}
