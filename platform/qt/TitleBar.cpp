#include "TitleBar.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QWindow>

namespace korvanta::platform::qt {

namespace {
constexpr int kBarHeight = 24;
constexpr int kItemPadding = 8;  // blank space left and right of an item's text
constexpr int kMinimiseWidth = 26;
}  // namespace

TitleBarItem::TitleBarItem(const QString& text, Kind kind, QWidget* parent)
    : QAbstractButton(parent), kind_(kind) {
  setText(text);
  // setText grabs Alt+letter for an '&' in the text; an item's text is shown as it is instead.
  setShortcut(QKeySequence());
  setAttribute(Qt::WA_Hover);
  setCursor(Qt::PointingHandCursor);
  setFocusPolicy(Qt::NoFocus);
  setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Expanding);
}

QSize TitleBarItem::sizeHint() const {
  if (kind_ == Kind::Minimise) return {kMinimiseWidth, kBarHeight};
  return {fontMetrics().horizontalAdvance(text()) + 2 * kItemPadding, kBarHeight};
}

void TitleBarItem::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const bool hot = underMouse() || isDown();
  if (isDown()) {
    painter.fillRect(rect(), pressedColor_);
  } else if (hot) {
    painter.fillRect(rect(), hoverColor_);
  }
  painter.setPen(hot ? hoverTextColor_ : textColor_);
  if (kind_ == Kind::Minimise) {
    const int half = 5;
    const QPoint centre = rect().center();
    painter.fillRect(centre.x() - half + 1, centre.y() + 3, 2 * half, 2, painter.pen().color());
    return;
  }
  // Without Qt::TextShowMnemonic the painter neither hides '&' nor alters blanks.
  painter.setFont(font());
  painter.drawText(rect(), Qt::AlignCenter | Qt::TextSingleLine, text());
}

TitleBar::TitleBar(QWidget* parent)
    : QWidget(parent),
      layout_(new QHBoxLayout(this)),
      caption_(new QLabel(this)),
      minimise_(new TitleBarItem(QString(), TitleBarItem::Kind::Minimise, this)) {
  setFixedHeight(kBarHeight);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  layout_->setContentsMargins(8, 0, 0, 1);  // the bottom pixel is the accent line
  layout_->setSpacing(0);

  caption_->setObjectName(QStringLiteral("TitleBarCaption"));
  caption_->setTextFormat(Qt::PlainText);
  // Presses on the caption belong to the bar: they start a move.
  caption_->setAttribute(Qt::WA_TransparentForMouseEvents);
  layout_->addWidget(caption_);
  layout_->addStretch(1);

  minimise_->setObjectName(QStringLiteral("TitleBarMinimise"));
  minimise_->setToolTip(tr("Minimise"));
  connect(minimise_, &QAbstractButton::clicked, this, [this] { window()->showMinimized(); });
  layout_->addWidget(minimise_);
}

QString TitleBar::Caption() const { return caption_->text(); }

void TitleBar::setCaption(const QString& text) { caption_->setText(text); }

QAbstractButton* TitleBar::addCommand(const QString& text) {
  auto* item = new TitleBarItem(text, TitleBarItem::Kind::Text, this);
  item->setObjectName(QStringLiteral("TitleBarCommand"));
  layout_->insertWidget(layout_->indexOf(minimise_), item);
  return item;
}

void TitleBar::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QLinearGradient shade(0, 0, 0, height());
  shade.setColorAt(0.0, topColor_);
  shade.setColorAt(1.0, bottomColor_);
  painter.fillRect(rect(), shade);
  painter.fillRect(0, height() - 1, width(), 1, accentColor_);
}

void TitleBar::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QWidget::mousePressEvent(event);
    return;
  }
  QWidget* win = window();
  // The window system's own move keeps edge snapping and works under Wayland; where it is not
  // offered, the window follows the mouse by hand.
  if (QWindow* handle = win->windowHandle(); handle != nullptr && handle->startSystemMove()) {
    event->accept();
    return;
  }
  dragging_ = true;
  dragOffset_ = event->globalPosition().toPoint() - win->frameGeometry().topLeft();
  event->accept();
}

void TitleBar::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_ || !(event->buttons() & Qt::LeftButton)) {
    QWidget::mouseMoveEvent(event);
    return;
  }
  window()->move(event->globalPosition().toPoint() - dragOffset_);
  event->accept();
}

void TitleBar::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) dragging_ = false;
  QWidget::mouseReleaseEvent(event);
}

}  // namespace korvanta::platform::qt
