// Start-up mark for the bench: once the window is exposed and its first expose has been handled,
// prints the milliseconds since the launcher exec'd this process (KORVANTA_BENCH_T0_NS, a
// CLOCK_MONOTONIC time) and ends the event loop.
#pragma once

#include <QByteArray>
#include <QCoreApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>
#include <QWindow>

#include <time.h>

#include <cstdio>
#include <cstdlib>

namespace korvanta::bench {

// Milliseconds since the launcher's exec, or -1 without it.
inline double SinceLaunchMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const char* t0 = std::getenv("KORVANTA_BENCH_T0_NS");
  return t0 ? (now.tv_sec * 1e9 + now.tv_nsec - std::strtod(t0, nullptr)) / 1e6 : -1;
}

// Stages of the start-up, printed with the mark: "name=ms " each.
inline QByteArray& Stages() {
  static QByteArray stages;
  return stages;
}
inline void MarkStage(const char* name) { Stages() += QByteArray(name) + "_ms=" + QByteArray::number(SinceLaunchMs(), 'f', 1) + ' '; }

class ExposeMark final : public QObject {
 public:
  explicit ExposeMark(QWidget& window) : QObject(&window), window_(window) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (!done_ && event->type() == QEvent::Expose && watched == window_.windowHandle()) {
      done_ = true;
      // Queued, so the mark is taken after the expose (and its paint) has been handled.
      QTimer::singleShot(0, this, [] {
        std::printf("ok %sstartup_ms=%.1f\n", Stages().constData(), SinceLaunchMs());
        std::fflush(stdout);
        QCoreApplication::quit();
      });
    }
    return false;
  }

 private:
  QWidget& window_;
  bool done_ = false;
};

inline void MarkWhenExposed(QWidget& window) {
  QCoreApplication::instance()->installEventFilter(new ExposeMark(window));
}

}  // namespace korvanta::bench
