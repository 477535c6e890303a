// The reference for start-up: the least a Qt Widgets program does to put a window of the
// Updater's size on screen.
#include "StartupMark.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("Minimal"));
  window.resize(327, 190);
  korvanta::bench::MarkWhenExposed(window);
  window.show();
  return app.exec();
}
