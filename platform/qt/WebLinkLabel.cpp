#include "WebLinkLabel.h"

#include <QDesktopServices>
#include <QMouseEvent>

namespace korvanta::platform::qt {

WebLinkLabel::WebLinkLabel(const QString& text, const QUrl& address, QWidget* parent)
    : QLabel(parent), address_(address), opener_([](const QUrl& url) { QDesktopServices::openUrl(url); }) {
  // Plain text drawn in the link style: rich text would bring QLabel's own link handling,
  // which bypasses the replaceable opener.
  setTextFormat(Qt::PlainText);
  setText(text);
  setCursor(Qt::PointingHandCursor);
  setToolTip(address.toString());
  QFont underlined = font();
  underlined.setUnderline(true);
  setFont(underlined);
}

void WebLinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mousePressEvent(event);
    return;
  }
  pressed_ = true;
  event->accept();
}

void WebLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QLabel::mouseReleaseEvent(event);
    return;
  }
  const bool click = pressed_ && rect().contains(event->position().toPoint());
  pressed_ = false;
  event->accept();
  if (click && opener_) opener_(address_);
}

}  // namespace korvanta::platform::qt
