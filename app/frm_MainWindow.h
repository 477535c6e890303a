// The Updater's one window: it owns the update component, shows every stage of an update run and
// installs the downloaded archive.
#pragma once

#include "ZipExtractor.h"
#include "mxWebUpdate.h"

#include <QWidget>

#include <memory>
#include <string>

class QAbstractButton;
class QFrame;
class QLabel;
class QProgressBar;

namespace korvanta::platform::qt {
class GradientProgressBar;
class TitleBar;
class WebLinkLabel;
}  // namespace korvanta::platform::qt

// Ends every running process whose executable name matches; the result is the outcome of the last
// attempt (nonzero for success), 0 when none matched.
int TerminateProcessesByName(const std::u16string& ExeFileName);

// The design-time values stored with the window for its component.
TmxWebUpdateStoredValues MainWindowStoredValues();

class Tform_MainWindow : public QWidget {
 public:
  explicit Tform_MainWindow(QWidget* parent = nullptr);
  ~Tform_MainWindow() override;

  std::unique_ptr<TmxWebUpdate> mxWebUpdate;
  korvanta::platform::qt::TitleBar* sTitleBar1 = nullptr;
  QFrame* sPanel1 = nullptr;
  korvanta::platform::qt::WebLinkLabel* korvantaweb = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* lbl_Author = nullptr;
  QLabel* lbl_Email = nullptr;
  QLabel* lbl_WebVersion = nullptr;
  QLabel* lbl_YourVersion = nullptr;
  QLabel* Label5 = nullptr;
  QProgressBar* UnzipArchiveBar = nullptr;
  korvanta::platform::qt::GradientProgressBar* UpdateDownloadBar = nullptr;
  korvanta::platform::ZipExtractor Unzipper;

  std::u16string version;                // installed version read at start-up
  const char16_t* appname = nullptr;     // the client executable, set when it is started

  // Window handlers.
  void FormCreate();
  void FormShow();
  void btn_UpdateClick();
  void btn_ExitClick();

  // Handlers of the component's events.
  void mxWebUpdateBeforeGetInfo(TmxWebUpdate& Sender);
  void mxWebUpdateAfterGetInfo(TmxWebUpdate& Sender);
  void mxWebUpdateDownload(TmxWebUpdate& Sender, std::int32_t Total, std::int32_t Downloaded);
  void mxWebUpdateDownloadError(TmxWebUpdate& Sender);
  void mxWebUpdateNoUpdateFound(TmxWebUpdate& Sender);
  void mxWebUpdateBeforeShowInfo(TmxWebUpdate& Sender, bool& ShowInfo, bool& CheckForUpdate);
  void mxWebUpdateBeforeDownload(TmxWebUpdate& Sender, std::u16string FileName);
  void mxWebUpdateAfterDownload(TmxWebUpdate& Sender, std::u16string FileName);

  QAbstractButton* UpdateCommand() const { return FUpdateCommand; }
  QAbstractButton* ExitCommand() const { return FExitCommand; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void CreateControls();
  void WireEvents();
  void SetStatus(const QString& text);

  QAbstractButton* FUpdateCommand = nullptr;
  QAbstractButton* FExitCommand = nullptr;
  bool FShown = false;
};
