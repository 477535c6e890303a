// Shows the skinned widgets laid out as in the main window, frozen mid-download, so the look
// can be judged at its real size. "--message" adds a skinned message box.
#include "GradientProgressBar.h"
#include "Skin.h"
#include "TitleBar.h"
#include "WebLinkLabel.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace ui = korvanta::platform::qt;

namespace {

QLabel* AddLabel(QWidget* panel, const QString& text, int left, int top, bool fact) {
  auto* label = new QLabel(text, panel);
  label->setTextFormat(Qt::PlainText);
  if (fact) label->setProperty(ui::kSkinRole, "fact");
  label->move(left, top);
  return label;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ui::ApplySkin(app);

  QWidget window(nullptr, Qt::Window | Qt::FramelessWindowHint);
  window.setWindowTitle(QStringLiteral("Korvanta Updater v0.1.1"));
  auto* column = new QVBoxLayout(&window);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);

  auto* title = new ui::TitleBar(&window);
  title->setCaption(window.windowTitle());
  title->addCommand(QStringLiteral("Check  Update"));
  QObject::connect(title->addCommand(QStringLiteral("Exit")), &QAbstractButton::clicked, &window,
                   &QWidget::close);
  column->addWidget(title);

  auto* panel = new QWidget(&window);
  panel->setProperty(ui::kSkinRole, "panel");
  panel->setFixedSize(327, 169);
  column->addWidget(panel);

  AddLabel(panel, QStringLiteral("Author:"), 40, 24, false);
  AddLabel(panel, QStringLiteral("Korvanta Team"), 117, 24, true);
  AddLabel(panel, QStringLiteral("Manual updates:"), 24, 40, false);
  auto* link = new ui::WebLinkLabel(QStringLiteral("Web link"),
                                    QUrl(QStringLiteral("https://www.korvanta.example/download.php")),
                                    panel);
  link->move(117, 40);
  AddLabel(panel, QStringLiteral("Your version:"), 40, 56, false);
  AddLabel(panel, QStringLiteral("Press 'Check Update' button on top"), 118, 54, true);
  AddLabel(panel, QStringLiteral("Latest version:"), 32, 72, false);
  AddLabel(panel, QStringLiteral("Press 'Check Update' button on top"), 117, 72, true);
  AddLabel(panel, QStringLiteral("Extra info:"), 53, 88, false);
  AddLabel(panel, QStringLiteral("Info"), 117, 88, true);

  auto* unzip = new QProgressBar(panel);
  unzip->setGeometry(-2, 114, 329, 24);
  unzip->setRange(1, 100);
  unzip->setValue(65);

  auto* download = new ui::GradientProgressBar(panel);
  download->setGeometry(0, 144, 327, 25);
  download->setMax(100);
  download->setPosition(40);
  download->setCaption(QStringLiteral("Downloading file Update.zip"));

  window.move(20, 20);
  window.show();

  if (app.arguments().contains(QStringLiteral("--message"))) {
    QTimer::singleShot(0, &window, [&window] {
      QMessageBox box(QMessageBox::Critical, QStringLiteral("Korvanta Updater"),
                      QStringLiteral("File not found."), QMessageBox::Ok, &window);
      box.exec();
    });
  }
  return app.exec();
}
