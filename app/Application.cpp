#include "Application.h"

#include "Errors.h"

#include <QMessageBox>
#include <QWidget>

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {
  korvanta::platform::InstallApplication(this);
}

TApplication::~TApplication() { korvanta::platform::InstallApplication(nullptr); }

TApplication* TApplication::Instance() { return dynamic_cast<TApplication*>(QCoreApplication::instance()); }

void TApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

void TApplication::Terminate() {
  // exit() only tells the running loops to end: the main loop ends once control is back in it.
  FTerminated = true;
  QCoreApplication::exit(0);
}

korvanta::platform::WindowHandle TApplication::MainWindowHandle() {
  return FMainForm ? static_cast<korvanta::platform::WindowHandle>(FMainForm->winId()) : 0;
}

QString ExceptionMessageText(std::exception_ptr error) {
  QString text;
  try {
    std::rethrow_exception(error);
  } catch (const korvanta::platform::EPlatformError& e) {
    text = QString::fromStdU16String(e.Message());
  } catch (const std::exception& e) {
    text = QString::fromUtf8(e.what());
  } catch (...) {
    text = QStringLiteral("Unknown error");
  }
  return text + QLatin1Char('.');
}

void TApplication::ShowException(std::exception_ptr error) {
  const QString text = ExceptionMessageText(error);
  if (FPresenter) {
    FPresenter(text);
    return;
  }
  QMessageBox box(QMessageBox::Critical, applicationDisplayName(), text, QMessageBox::Ok, FMainForm);
  box.exec();
}

bool TApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowException(std::current_exception());
    return false;
  }
}
