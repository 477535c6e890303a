#include "frm_MainWindow.h"

#include "Application.h"
#include "FileSystem.h"
#include "GradientProgressBar.h"
#include "Processes.h"
#include "Services.h"
#include "Skin.h"
#include "TextFile.h"
#include "TitleBar.h"
#include "WebLinkLabel.h"

#include <QAbstractButton>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QShowEvent>
#include <QUrl>
#include <QVBoxLayout>

namespace platform = korvanta::platform;

namespace {

constexpr int kClientWidth = 327;
constexpr int kClientHeight = 167;
constexpr const char16_t* kUpdateArchive = u"Update.zip";
constexpr const char16_t* kClientExecutable = u"Korvanta.exe";
constexpr const char16_t* kVersionFile = u"version.txt";
// The updater's own version, shown in the caption; unrelated to the client's.
constexpr const char* kUpdaterVersion = "0.1.1";
constexpr unsigned kPauseBeforeExitMs = 4000;

const QString kPressCheckUpdate = QStringLiteral("Press 'Check Update' button on top");

// The text after the last backslash, slash or colon.
std::u16string FileNamePart(const std::u16string& path) {
  const std::size_t cut = path.find_last_of(u"\\/:");
  return cut == std::u16string::npos ? path : path.substr(cut + 1);
}

QString Q(const std::u16string& text) { return QString::fromStdU16String(text); }

}  // namespace

int TerminateProcessesByName(const std::u16string& ExeFileName) {
  int result = 0;
  platform::IProcesses& processes = platform::Processes();
  for (const platform::ProcessEntry& entry : processes.Snapshot()) {
    bool matches = false;
    for (const std::u16string& name : entry.names)
      if (platform::ProcessNameMatches(name, ExeFileName)) matches = true;
    if (matches) result = processes.Terminate(entry.pid) ? 1 : 0;
  }
  return result;
}

TmxWebUpdateStoredValues MainWindowStoredValues() {
  TmxWebUpdateStoredValues v;
  v.TagInfo.Author = u"mxAuthor";
  v.TagInfo.Email = u"mxEmail";
  v.TagInfo.ClientFileName = u"mxClientSideName";
  v.TagInfo.Download = u"mxDownload";
  v.TagInfo.ProductName = u"mxProductName";
  v.TagInfo.Redirection = u"mxRedirection";
  v.TagInfo.RunParameters = u"mxRunParameters";
  v.TagInfo.Version = u"mxVersion";
  v.TagInfo.Signature = u"mxSignature";
  v.ProductInfo.URL = QStringLiteral(KORVANTA_INFO_URL).toStdU16String();
  v.ProductInfo.Version = u"0.2.0.0";
  v.InfoCaption.OkButton = u"&OK";
  v.InfoCaption.CancelButton = u"&Cancel";
  v.InfoCaption.CheckForUpdate = u"C&heck for updates in the future";
  v.Options = TmxUpdateOptions{uoRunUpdate, uoOverwrite};
  v.Version = u"1.21";
  v.TargetFolder = u".\\";
  v.HTTPPort = 80;
  // Empty unless the build names the publisher's key; then only signed updates are installed.
  v.PublicKey = QStringLiteral(KORVANTA_PUBLIC_KEY).toStdU16String();
  return v;
}

Tform_MainWindow::Tform_MainWindow(QWidget* parent) : QWidget(parent) {
  CreateControls();

  // The stored settings replace the component's defaults right after its construction.
  mxWebUpdate = std::make_unique<TmxWebUpdate>();
  MainWindowStoredValues().Load(*mxWebUpdate);
  WireEvents();

  Unzipper.setBaseDirectory(u"./");
  Unzipper.setCreateFolders(true);
  Unzipper.setRestorePaths(true);
  Unzipper.setProgressCallback([this](int percent) {
    UnzipArchiveBar->setValue(percent);
    platform::Application().ProcessMessages();
  });

  try {
    FormCreate();
  } catch (...) {
    // Reported like any other error: the window is still created and works.
    if (TApplication* app = TApplication::Instance()) app->ShowException(std::current_exception());
  }
}

Tform_MainWindow::~Tform_MainWindow() = default;

void Tform_MainWindow::CreateControls() {
  setWindowTitle(QStringLiteral("Korvanta Updater"));
  setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint);
  setObjectName(QStringLiteral("form_MainWindow"));

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);

  sTitleBar1 = new korvanta::platform::qt::TitleBar(this);
  sTitleBar1->setCaption(windowTitle());
  FUpdateCommand = sTitleBar1->addCommand(QStringLiteral("Check  Update"));
  FExitCommand = sTitleBar1->addCommand(QStringLiteral("Exit"));
  QObject::connect(FUpdateCommand, &QAbstractButton::clicked, this, [this] { btn_UpdateClick(); });
  QObject::connect(FExitCommand, &QAbstractButton::clicked, this, [this] { btn_ExitClick(); });
  layout->addWidget(sTitleBar1);

  // The client area; the panel is two pixels taller than it, as designed, and is clipped.
  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->setFixedSize(kClientWidth, kClientHeight);
  layout->addWidget(client);

  sPanel1 = new QFrame(client);
  sPanel1->setObjectName(QStringLiteral("sPanel1"));
  sPanel1->setGeometry(0, 0, 327, 169);
  sPanel1->setProperty(korvanta::platform::qt::kSkinRole, QStringLiteral("panel"));

  auto label = [this](const char* name, int left, int top, const QString& text) {
    auto* l = new QLabel(text, sPanel1);
    l->setObjectName(QString::fromLatin1(name));
    l->setTextFormat(Qt::PlainText);
    l->move(left, top);
    l->adjustSize();
    return l;
  };
  Label4 = label("Label4", 40, 24, QStringLiteral("Created by:"));
  lbl_Author = label("lbl_Author", 117, 24, QStringLiteral("The Korvanta Team"));
  Label1 = label("Label1", 24, 40, QStringLiteral("Manual updates:"));
  korvantaweb = new korvanta::platform::qt::WebLinkLabel(QStringLiteral("Web link"),
                                                        QUrl(QStringLiteral(KORVANTA_DOWNLOAD_URL)), sPanel1);
  korvantaweb->setObjectName(QStringLiteral("korvantaweb"));
  korvantaweb->move(117, 40);
  korvantaweb->adjustSize();
  Label2 = label("Label2", 40, 56, QStringLiteral("Your version:"));
  lbl_YourVersion = label("lbl_YourVersion", 118, 54, kPressCheckUpdate);
  Label3 = label("Label3", 32, 72, QStringLiteral("Latest version:"));
  lbl_WebVersion = label("lbl_WebVersion", 117, 72, kPressCheckUpdate);
  Label5 = label("Label5", 53, 88, QStringLiteral("Extra info:"));
  lbl_Email = label("lbl_Email", 117, 88, QStringLiteral("Info"));
  for (QLabel* fact : {lbl_Author, lbl_YourVersion, lbl_WebVersion, lbl_Email})
    fact->setProperty(korvanta::platform::qt::kSkinRole, QStringLiteral("fact"));

  UnzipArchiveBar = new QProgressBar(sPanel1);
  UnzipArchiveBar->setObjectName(QStringLiteral("UnzipArchiveBar"));
  UnzipArchiveBar->setGeometry(-2, 114, 329, 24);
  UnzipArchiveBar->setRange(1, 100);
  UnzipArchiveBar->setValue(1);
  UnzipArchiveBar->setTextVisible(false);

  UpdateDownloadBar = new korvanta::platform::qt::GradientProgressBar(sPanel1);
  UpdateDownloadBar->setObjectName(QStringLiteral("UpdateDownloadBar"));
  UpdateDownloadBar->setGeometry(0, 144, 327, 25);
  UpdateDownloadBar->setMin(0);
  UpdateDownloadBar->setMax(100);
  UpdateDownloadBar->setPosition(0);
  UpdateDownloadBar->setCaption(QStringLiteral("Waiting..."));

  layout->setSizeConstraint(QLayout::SetFixedSize);
  move(357, 283);
}

void Tform_MainWindow::WireEvents() {
  TmxWebUpdate& c = *mxWebUpdate;
  c.setOnBeforeGetInfo([this](TmxWebUpdate& s) { mxWebUpdateBeforeGetInfo(s); });
  c.setOnAfterGetInfo([this](TmxWebUpdate& s) { mxWebUpdateAfterGetInfo(s); });
  c.setOnDownload([this](TmxWebUpdate& s, std::int32_t t, std::int32_t d) { mxWebUpdateDownload(s, t, d); });
  c.setOnDownloadError([this](TmxWebUpdate& s) { mxWebUpdateDownloadError(s); });
  c.setOnNoUpdateFound([this](TmxWebUpdate& s) { mxWebUpdateNoUpdateFound(s); });
  c.setOnBeforeShowInfo([this](TmxWebUpdate& s, bool& show, bool& check) { mxWebUpdateBeforeShowInfo(s, show, check); });
  c.setOnBeforeDownload([this](TmxWebUpdate& s, std::u16string f) { mxWebUpdateBeforeDownload(s, std::move(f)); });
  c.setOnAfterDownload([this](TmxWebUpdate& s, std::u16string f) { mxWebUpdateAfterDownload(s, std::move(f)); });
}

void Tform_MainWindow::SetStatus(const QString& text) { UpdateDownloadBar->setCaption(text); }

void Tform_MainWindow::FormCreate() {
  Unzipper.setFileName(u"");
  if (platform::FileExists(kUpdateArchive)) platform::DeleteFile(kUpdateArchive);
  version = platform::ReadFirstLine(kVersionFile);
  mxWebUpdate->ProductInfo()->setVersion(version);
}

void Tform_MainWindow::FormShow() {
  const QString caption = windowTitle() + QStringLiteral(" v") + QLatin1String(kUpdaterVersion);
  setWindowTitle(caption);
  sTitleBar1->setCaption(caption);
}

void Tform_MainWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  // The show handler runs once, when the window first becomes visible (not on a restore).
  if (!FShown && !event->spontaneous()) {
    FShown = true;
    FormShow();
  }
}

void Tform_MainWindow::btn_UpdateClick() {
  try {
    mxWebUpdate->CheckForAnUpdate();
  } catch (...) {
    // An error raised by a handler during the run (an archive that cannot be opened, ...).
    if (TApplication* app = TApplication::Instance()) app->ShowException(std::current_exception());
  }
}

void Tform_MainWindow::btn_ExitClick() { close(); }

void Tform_MainWindow::mxWebUpdateBeforeGetInfo(TmxWebUpdate&) {
  SetStatus(QStringLiteral("Checking for an update"));
}

void Tform_MainWindow::mxWebUpdateAfterGetInfo(TmxWebUpdate&) {
  const auto show = [](QLabel* label, const std::u16string& text) {
    label->setText(Q(text));
    label->adjustSize();
  };
  show(lbl_Author, mxWebUpdate->Author());
  show(lbl_Email, mxWebUpdate->EMail());
  show(lbl_YourVersion, version);
  show(lbl_WebVersion, mxWebUpdate->ProductVersion());
}

void Tform_MainWindow::mxWebUpdateDownload(TmxWebUpdate&, std::int32_t Total, std::int32_t Downloaded) {
  // Maximum first, so the new position is clamped against the new size.
  UpdateDownloadBar->setMax(Total);
  UpdateDownloadBar->setPosition(Downloaded);
}

void Tform_MainWindow::mxWebUpdateDownloadError(TmxWebUpdate&) {
  SetStatus(QStringLiteral("Cannot download data from the web!"));
}

void Tform_MainWindow::mxWebUpdateNoUpdateFound(TmxWebUpdate&) {
  SetStatus(QStringLiteral("There is no update available!"));
}

void Tform_MainWindow::mxWebUpdateBeforeShowInfo(TmxWebUpdate&, bool& ShowInfo, bool& /*CheckForUpdate*/) {
  ShowInfo = false;
}

void Tform_MainWindow::mxWebUpdateBeforeDownload(TmxWebUpdate&, std::u16string FileName) {
  TerminateProcessesByName(kClientExecutable);
  SetStatus(QStringLiteral("Downloading file %1").arg(Q(FileNamePart(FileName))));
}

void Tform_MainWindow::mxWebUpdateAfterDownload(TmxWebUpdate&, std::u16string /*FileName*/) {
  Unzipper.setFileName(kUpdateArchive);  // raises when the archive is missing or unreadable
  Unzipper.ExtractFiles(u"*");
  SetStatus(QStringLiteral("Update done, starting Korvanta Client"));
  appname = kClientExecutable;
  platform::Shell().Execute(platform::Application().MainWindowHandle(), u"open", appname, std::nullopt,
                            std::nullopt, platform::kShowNormal);
  platform::Sleeper().Sleep(kPauseBeforeExitMs);
  platform::Application().Terminate();
}
