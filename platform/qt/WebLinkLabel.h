// A label shown as a link that asks the desktop to open its address when clicked.
#pragma once

#include <QLabel>
#include <QUrl>

#include <functional>

namespace korvanta::platform::qt {

class WebLinkLabel : public QLabel {
  Q_OBJECT

 public:
  // Opens an address; the default hands it to QDesktopServices (the user's web browser).
  using Opener = std::function<void(const QUrl&)>;

  WebLinkLabel(const QString& text, const QUrl& address, QWidget* parent = nullptr);

  const QUrl& Address() const { return address_; }
  void setAddress(const QUrl& address) { address_ = address; }
  void setOpener(Opener opener) { opener_ = std::move(opener); }

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QUrl address_;
  Opener opener_;
  bool pressed_ = false;  // a click is a press and a release both on the label
};

}  // namespace korvanta::platform::qt
