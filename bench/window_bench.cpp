// Drives the real Updater window (Tform_MainWindow with its component, progress bars and message
// handling) under Qt's offscreen platform and prints what the bench table needs. One mode a run:
//   window_bench download <page url> <port>  an update run whose after-download handler is left out:
//                                            the file-mode download with the window's bar wired
//   window_bench extract <archive>           the window's extractor over the current folder
//   window_bench run <page url> <port>       a whole update run; shell and sleep do nothing
//   window_bench startup                     the program's start-up until the window is exposed
// The first three click "Check  Update" (or extract) in a shown window while a 10 ms timer
// measures how late the event loop lets it fire. Output: key=value pairs on one line.
#include "Application.h"
#include "GradientProgressBar.h"
#include "Services.h"
#include "Skin.h"
#include "StartupMark.h"
#include "Text.h"
#include "frm_MainWindow.h"

#include <QAbstractButton>
#include <QElapsedTimer>
#include <QProgressBar>
#include <QTimer>
#include <QWindow>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

// The shell's "open" and the 4-second pause stand aside: the bench measures the updater's work.
class InertServices final : public korvanta::platform::IShell, public korvanta::platform::ISleeper {
 public:
  InertServices() {
    korvanta::platform::InstallShell(this);
    korvanta::platform::InstallSleeper(this);
  }
  ~InertServices() override {
    korvanta::platform::InstallShell(nullptr);
    korvanta::platform::InstallSleeper(nullptr);
  }
  InertServices(const InertServices&) = delete;
  InertServices& operator=(const InertServices&) = delete;
  std::intptr_t Execute(korvanta::platform::WindowHandle, const std::u16string&, const std::u16string&,
                        const std::optional<std::u16string>&, const std::optional<std::u16string>&,
                        int) override {
    ++executes;
    return 42;
  }
  void Sleep(unsigned) override { ++sleeps; }
  int executes = 0;
  int sleeps = 0;
};

// A 10 ms timer in the window; records the largest delay beyond its interval per phase.
class LatenessProbe {
 public:
  enum Phase { kIdle, kDownload, kExtract, kPhases };

  explicit LatenessProbe(QObject* parent) : timer_(parent) {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      const Clock::time_point now = Clock::now();
      if (started_) {
        const double late = std::chrono::duration<double, std::milli>(now - last_).count() - 10.0;
        if (late > worst_[phase_]) worst_[phase_] = late;
        ++ticks_[phase_];
      }
      started_ = true;
      last_ = now;
    });
  }
  void Start() { timer_.start(); }
  void Enter(Phase phase) {
    phase_ = phase;
    started_ = false;  // an interval that spans two phases belongs to neither
  }
  double Worst(Phase phase) const { return worst_[phase]; }
  long Ticks(Phase phase) const { return ticks_[phase]; }

 private:
  QTimer timer_;
  Phase phase_ = kIdle;
  bool started_ = false;
  Clock::time_point last_;
  double worst_[kPhases] = {};
  long ticks_[kPhases] = {};
};

long PeakRssKib() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

double Seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

// Shows the window and lets it become exposed, as it would be before a user could click.
void ShowAndSettle(TApplication& app, Tform_MainWindow& window) {
  app.setMainForm(&window);
  window.show();
  QElapsedTimer waited;
  waited.start();
  while (!(window.windowHandle() && window.windowHandle()->isExposed()) && waited.elapsed() < 5000)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  QCoreApplication::processEvents();
}

// Page, download and, in a whole run, the extraction, started the way a user starts it.
int UpdateRun(TApplication& app, const char* pageUrl, const char* port, bool whole) {
  InertServices services;
  Tform_MainWindow window;
  window.mxWebUpdate->ProductInfo()->setURL(korvanta::platform::FromUtf8(pageUrl));
  window.mxWebUpdate->setHTTPPort(static_cast<std::uint32_t>(std::stoul(port)));
  ShowAndSettle(app, window);

  LatenessProbe probe(&window);
  TmxWebUpdate& c = *window.mxWebUpdate;
  std::uint64_t blocks = 0;
  Clock::time_point downloadStart{}, extractStart{};
  double downloadWall = 0, extractWall = 0;
  auto download = c.OnDownload();
  c.setOnDownload([&, download](TmxWebUpdate& s, std::int32_t total, std::int32_t done) {
    ++blocks;
    download(s, total, done);
  });
  auto before = c.OnBeforeDownload();
  c.setOnBeforeDownload([&, before](TmxWebUpdate& s, std::u16string name) {
    before(s, std::move(name));
    blocks = 0;
    probe.Enter(LatenessProbe::kDownload);
    downloadStart = Clock::now();
  });
  auto after = c.OnAfterDownload();
  c.setOnAfterDownload([&, after, whole](TmxWebUpdate& s, std::u16string name) {
    downloadWall = Seconds(downloadStart);
    if (!whole) {
      probe.Enter(LatenessProbe::kIdle);
      return;
    }
    probe.Enter(LatenessProbe::kExtract);
    extractStart = Clock::now();
    after(s, std::move(name));
    extractWall = Seconds(extractStart);
    probe.Enter(LatenessProbe::kIdle);
  });

  probe.Start();
  const Clock::time_point start = Clock::now();
  window.UpdateCommand()->click();  // "Check  Update", as the user starts a run
  const double wall = Seconds(start);
  const bool downloaded = blocks > 0 && window.UpdateDownloadBar->Position() == window.UpdateDownloadBar->Max() &&
                          c.ProductVersion() == u"2.0";
  const bool done = downloaded && (!whole || (app.Terminated() && services.sleeps == 1));
  std::printf("%s wall=%.3f download=%.3f extract=%.3f late_download_ms=%.1f late_extract_ms=%.1f "
              "ticks_download=%ld blocks=%llu bar=%d/%d maxrss_kib=%ld\n",
              done ? "ok" : "FAILED", wall, downloadWall, extractWall, probe.Worst(LatenessProbe::kDownload),
              probe.Worst(LatenessProbe::kExtract), probe.Ticks(LatenessProbe::kDownload),
              static_cast<unsigned long long>(blocks), window.UpdateDownloadBar->Position(),
              window.UpdateDownloadBar->Max(), PeakRssKib());
  app.setMainForm(nullptr);
  return done ? 0 : 1;
}

// The window's own extractor and settings over the current folder, its bar and message handling
// included (the first two steps of the after-download handler).
int Extract(TApplication& app, const char* archive) {
  Tform_MainWindow window;
  ShowAndSettle(app, window);
  LatenessProbe probe(&window);
  probe.Start();
  probe.Enter(LatenessProbe::kExtract);
  const Clock::time_point start = Clock::now();
  window.Unzipper.setFileName(korvanta::platform::FromUtf8(archive));
  const korvanta::platform::ExtractSummary summary = window.Unzipper.ExtractFiles(u"*");
  const double wall = Seconds(start);
  const bool ok = summary.skipped == 0 && window.UnzipArchiveBar->value() == 100;
  std::printf("%s wall=%.3f late_extract_ms=%.1f installed=%d skipped=%d maxrss_kib=%ld\n", ok ? "ok" : "FAILED",
              wall, probe.Worst(LatenessProbe::kExtract), summary.installed, summary.skipped, PeakRssKib());
  app.setMainForm(nullptr);
  return ok ? 0 : 1;
}

// As the program's entry does it, until the window is on screen.
int Startup(TApplication& app) {
  korvanta::bench::MarkStage("app");
  QApplication::setApplicationDisplayName(QStringLiteral("Korvanta Updater"));
  korvanta::platform::qt::ApplySkin(app);
  korvanta::bench::MarkStage("skin");
  Tform_MainWindow form_MainWindow;
  korvanta::bench::MarkStage("window");
  app.setMainForm(&form_MainWindow);
  korvanta::bench::MarkWhenExposed(form_MainWindow);
  form_MainWindow.show();
  const int code = app.exec();
  app.setMainForm(nullptr);
  return code;
}

}  // namespace

int main(int argc, char** argv) {
  korvanta::bench::MarkStage("main");
  const std::string mode = argc > 1 ? argv[1] : "";
  TApplication app(argc, argv);
  // An error the program would show in a message box ends the bench instead of waiting for a click.
  app.setMessagePresenter([](const QString& text) {
    std::fprintf(stderr, "FAILED: the program reports \"%s\"\n", text.toLocal8Bit().constData());
    std::exit(1);
  });
  if (mode == "startup") return Startup(app);
  korvanta::platform::qt::ApplySkin(app);
  if ((mode == "download" || mode == "run") && argc == 4) return UpdateRun(app, argv[2], argv[3], mode == "run");
  if (mode == "extract" && argc == 3) return Extract(app, argv[2]);
  std::fprintf(stderr, "usage: %s download|run <page url> <port> | extract <archive> | startup\n", argv[0]);
  return 2;
}
