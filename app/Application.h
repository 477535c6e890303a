// The program's application object: the Qt application, the services the component calls
// (pending messages, the terminate request, the main window) and the standard error handler.
#pragma once

#include "Services.h"

#include <QApplication>

#include <exception>
#include <functional>

class QWidget;

class TApplication final : public QApplication, public korvanta::platform::IApplication {
 public:
  // Shows an error's text; the default is a message box. Tests replace it to read the text.
  using MessagePresenter = std::function<void(const QString& text)>;

  TApplication(int& argc, char** argv);
  ~TApplication() override;

  void setMainForm(QWidget* form) { FMainForm = form; }
  QWidget* MainForm() const { return FMainForm; }

  // IApplication
  void ProcessMessages() override;
  void Terminate() override;
  korvanta::platform::WindowHandle MainWindowHandle() override;
  bool Terminated() const { return FTerminated; }

  // The standard error handler: the error's text with a full stop appended, in a message box; the
  // program goes on.
  void ShowException(std::exception_ptr error);
  void setMessagePresenter(MessagePresenter presenter) { FPresenter = std::move(presenter); }

  // No exception ever crosses Qt's own frames: one raised in an event handler ends up here.
  bool notify(QObject* receiver, QEvent* event) override;

  static TApplication* Instance();

 private:
  QWidget* FMainForm = nullptr;
  bool FTerminated = false;
  MessagePresenter FPresenter;
};

// The text the standard error handler shows for an error, full stop included.
QString ExceptionMessageText(std::exception_ptr error);
