// The update run: its stages in their fixed order, the checks between them, the retrieval of the
// information page along its redirection chain, and the start of the downloaded file.
#include "mxWebUpdate.h"

#include "Services.h"
#include "mxWebUpdateInfo.h"

namespace {
// A chain longer than this is taken for a cycle: the retrieval fails.
constexpr int kMaxInformationPages = 10;
// The shell's results above this value mean that the file was started.
constexpr std::intptr_t kShellErrorLimit = 32;
}  // namespace

bool TmxWebUpdate::CheckForAnUpdate() {
  if (FActive) return false;
  FActive = true;
  // An exception from a handler passes through to the caller, but never leaves the component
  // locked in a run that no longer exists.
  struct ActiveGuard {
    bool& active;
    ~ActiveGuard() { active = false; }
  } guard{FActive};

  FRedirectionURL.clear();
  DoBeforeGetInfo();
  GetInfo();
  DoAfterGetInfo();
  if (FProductName.empty() || FProductVersion.empty()) {
    DoDownloadError();
    FDownloadResult = false;
  }
  if (!FDownloadResult) return false;
  if (!IsNewerVersion()) return false;

  bool CanUpdate = true;
  if (FOnUpdateAvailable) FOnUpdateAvailable(*this, FProductInfo->Version(), FProductVersion, CanUpdate);
  if (!CanUpdate) return false;
  if (!ShowUpdateInfo()) return false;

  DownloadUpdate();
  if (!FDownloadResult) return false;

  if (FOptions.Contains(uoRunUpdate)) {
    auto& app = korvanta::platform::Application();
    const std::intptr_t started = korvanta::platform::Shell().Execute(
        app.MainWindowHandle(), u"open", FFileName, FRunParameters, std::u16string(),
        korvanta::platform::kShowNormal);
    if (started <= kShellErrorLimit) DoCannotExecute();
    if (FOptions.Contains(uoTerminate)) app.Terminate();
  }
  return true;
}

void TmxWebUpdate::GetInfo() {
  for (int page = 0;; ++page) {
    FProductVersion.clear();
    FUpdateURL.clear();
    FAuthor.clear();
    FEMail.clear();
    FProductName.clear();
    FRunParameters.clear();
    FSignature.clear();
    if (page == kMaxInformationPages) {
      // The bound is reached: nothing read along the chain counts, so the run reports a failure.
      FClientFileName.clear();
      FDownloadResult = false;
      return;
    }
    const std::u16string address = FRedirectionURL.empty() ? FProductInfo->URL() : FRedirectionURL;
    TransferURL(address, FUserName, FPassword, false, false, std::u16string());
    if (!FDownloadResult) return;
    ParseInfo();
    if (FRedirectionURL.empty()) return;
  }
}

bool TmxWebUpdate::ShowUpdateInfo() {
  bool Result = true;
  bool ShowInfo = true;
  bool CheckForUpdate = true;
  if (FOnBeforeShowInfo) FOnBeforeShowInfo(*this, ShowInfo, CheckForUpdate);
  if (!ShowInfo) return true;
  // A host without a GUI application object (a console program) cannot show a dialog; such a host
  // has the same answer as one that suppresses it, and OnAfterShowInfo does not fire.
  if (!Tfrm_ShowInfoUpdate::CanShow()) return true;

  if (!frm_ShowInfoUpdate) frm_ShowInfoUpdate = std::make_unique<Tfrm_ShowInfoUpdate>();
  frm_ShowInfoUpdate->setFutureUpdateChecked(CheckForUpdate);
  frm_ShowInfoUpdate->setCaptions(FInfoCaption->OkButton(), FInfoCaption->CancelButton(),
                                  FInfoCaption->CheckForUpdate());
  frm_ShowInfoUpdate->Navigate(FProductInfo->URL());
  Result = frm_ShowInfoUpdate->ShowModal() == Tfrm_ShowInfoUpdate::mrOk;
  if (FOnAfterShowInfo) FOnAfterShowInfo(*this, frm_ShowInfoUpdate->FutureUpdateChecked());
  return Result;
}
