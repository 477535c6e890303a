#include "GradientProgressBar.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>

namespace korvanta::platform::qt {

namespace {
constexpr int kFrame = 1;          // frame line around the track, in pixels
constexpr int kCaptionMargin = 4;  // keeps an elided caption off the frame
}  // namespace

GradientProgressBar::GradientProgressBar(QWidget* parent) : QWidget(parent) {
  // Every pixel is painted by paintEvent; skipping the background fill avoids flicker during
  // the immediate repaints of a transfer.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void GradientProgressBar::setMin(int value) {
  min_ = std::min(value, max_);
  position_ = std::max(position_, min_);
  UpdateFill();
}

void GradientProgressBar::setMax(int value) {
  max_ = std::max(value, min_);
  position_ = std::min(position_, max_);
  UpdateFill();
}

void GradientProgressBar::setPosition(int value) {
  position_ = std::clamp(value, min_, max_);
  UpdateFill();
}

void GradientProgressBar::setCaption(const QString& value) {
  if (value == caption_) return;
  caption_ = value;
  repaint();
}

int GradientProgressBar::InnerWidth() const { return std::max(0, width() - 2 * kFrame); }

void GradientProgressBar::UpdateFill() {
  if (max_ != min_) {
    fillNumerator_ = std::int64_t{position_} - min_;
    fillDenominator_ = std::int64_t{max_} - min_;
  }
  const int pixels = static_cast<int>(fillNumerator_ * InnerWidth() / fillDenominator_);
  if (pixels == fillPixels_) return;
  fillPixels_ = pixels;
  // repaint, not update: during a transfer the event loop runs only between blocks, and the new
  // fill must be on screen by then.
  repaint();
}

void GradientProgressBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Qt paints the resized widget itself; only the pixel width of the kept fraction changes.
  fillPixels_ = static_cast<int>(fillNumerator_ * InnerWidth() / fillDenominator_);
}

QSize GradientProgressBar::sizeHint() const {
  return {200, fontMetrics().height() + 2 * (kFrame + kCaptionMargin)};
}

void GradientProgressBar::paintEvent(QPaintEvent*) {
  ++paintCount_;
  QPainter painter(this);
  const QRect outer = rect();
  const QRect inner = outer.adjusted(kFrame, kFrame, -kFrame, -kFrame);

  painter.fillRect(outer, frameColor_);
  painter.fillRect(inner, trackColor_);

  if (fillPixels_ > 0 && !inner.isEmpty()) {
    // The gradient spans the whole track, so the fill uncovers it as it grows.
    QLinearGradient across(inner.left(), 0, inner.right() + 1, 0);
    across.setColorAt(0.0, fillStartColor_);
    across.setColorAt(1.0, fillEndColor_);
    const QRect fill(inner.left(), inner.top(), fillPixels_, inner.height());
    painter.fillRect(fill, across);
    // A soft highlight on the upper half gives the fill some depth.
    QLinearGradient gloss(0, inner.top(), 0, inner.bottom() + 1);
    gloss.setColorAt(0.0, QColor(255, 255, 255, 70));
    gloss.setColorAt(0.5, QColor(255, 255, 255, 15));
    gloss.setColorAt(0.51, QColor(0, 0, 0, 0));
    gloss.setColorAt(1.0, QColor(0, 0, 0, 40));
    painter.fillRect(fill, gloss);
  }

  if (caption_.isEmpty()) return;
  const QRect textArea = inner.adjusted(kCaptionMargin, 0, -kCaptionMargin, 0);
  const QString text = fontMetrics().elidedText(caption_, Qt::ElideRight, textArea.width());
  const int flags = Qt::AlignCenter | Qt::TextSingleLine;
  painter.setFont(font());
  painter.setPen(captionShadowColor_);
  painter.drawText(textArea.translated(1, 1), flags, text);
  painter.setPen(captionColor_);
  painter.drawText(textArea, flags, text);
}

}  // namespace korvanta::platform::qt
