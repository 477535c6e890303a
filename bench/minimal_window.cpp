// The references for start-up: the least a Qt Widgets program does to put a window of the
// Updater's size on screen; with "label", the same window showing one line of text, which adds
// the font set-up every window with text pays.
//   minimal_window [label]
#include "StartupMark.h"

#include <QApplication>
#include <QLabel>
#include <QWidget>

#include <cstring>

int main(int argc, char** argv) {
  korvanta::bench::MarkStage("main");
  QApplication app(argc, argv);
  korvanta::bench::MarkStage("app");
  QWidget window;
  window.setWindowTitle(QStringLiteral("Minimal"));
  window.resize(327, 190);
  if (argc > 1 && std::strcmp(argv[1], "label") == 0) new QLabel(QStringLiteral("Waiting..."), &window);
  korvanta::bench::MarkStage("window");
  korvanta::bench::MarkWhenExposed(window);
  window.show();
  return app.exec();
}
