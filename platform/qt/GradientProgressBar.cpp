#include "GradientProgressBar.h"

#include <QLinearGradient>
#include <QPaintEvent>
#include <QPainter>
#include <QResizeEvent>

#include <algorithm>
#include <cstdlib>

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
  captionLaidOut_ = false;
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
  // Only the columns between the old and the new edge change; the fill is copied from one
  // rendered track, so painting just them gives exactly the pixels of a full paint.
  const QRect changed(kFrame + std::min(pixels, fillPixels_), 0, std::abs(pixels - fillPixels_), height());
  fillPixels_ = pixels;
  // repaint, not update: during a transfer the event loop runs only between blocks, and the new
  // fill must be on screen by then.
  repaint(changed);
}

void GradientProgressBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  // Qt paints the resized widget itself; only the pixel width of the kept fraction changes.
  fillPixels_ = static_cast<int>(fillNumerator_ * InnerWidth() / fillDenominator_);
  captionLaidOut_ = false;
}

void GradientProgressBar::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange) captionLaidOut_ = false;
}

QSize GradientProgressBar::sizeHint() const {
  return {200, fontMetrics().height() + 2 * (kFrame + kCaptionMargin)};
}

const QPixmap& GradientProgressBar::FilledTrack(QSize size) {
  const qreal ratio = devicePixelRatioF();
  if (filledTrack_.deviceIndependentSize().toSize() == size && filledTrack_.devicePixelRatio() == ratio &&
      filledColors_[0] == fillStartColor_ && filledColors_[1] == fillEndColor_)
    return filledTrack_;
  filledColors_[0] = fillStartColor_;
  filledColors_[1] = fillEndColor_;
  filledTrack_ = QPixmap(size * ratio);
  filledTrack_.setDevicePixelRatio(ratio);
  QPainter painter(&filledTrack_);
  const QRect all(QPoint(0, 0), size);
  // The gradient spans the whole track, so the fill uncovers it as it grows.
  QLinearGradient across(0, 0, size.width(), 0);
  across.setColorAt(0.0, fillStartColor_);
  across.setColorAt(1.0, fillEndColor_);
  painter.fillRect(all, across);
  // A soft highlight on the upper half gives the fill some depth.
  QLinearGradient gloss(0, 0, 0, size.height());
  gloss.setColorAt(0.0, QColor(255, 255, 255, 70));
  gloss.setColorAt(0.5, QColor(255, 255, 255, 15));
  gloss.setColorAt(0.51, QColor(0, 0, 0, 0));
  gloss.setColorAt(1.0, QColor(0, 0, 0, 40));
  painter.fillRect(all, gloss);
  return filledTrack_;
}

void GradientProgressBar::paintEvent(QPaintEvent*) {
  ++paintCount_;
  QPainter painter(this);
  const QRect outer = rect();
  const QRect inner = outer.adjusted(kFrame, kFrame, -kFrame, -kFrame);

  painter.fillRect(outer, frameColor_);
  painter.fillRect(inner, trackColor_);

  if (fillPixels_ > 0 && !inner.isEmpty()) {
    const QPixmap& track = FilledTrack(inner.size());
    const qreal ratio = track.devicePixelRatio();  // the source is in the pixmap's own pixels
    painter.drawPixmap(QRectF(inner.left(), inner.top(), fillPixels_, inner.height()), track,
                       QRectF(0, 0, fillPixels_ * ratio, inner.height() * ratio));
  }

  if (caption_.isEmpty()) return;
  const QRect textArea = inner.adjusted(kCaptionMargin, 0, -kCaptionMargin, 0);
  if (!captionLaidOut_) {
    captionText_.setTextFormat(Qt::PlainText);
    captionText_.setText(fontMetrics().elidedText(caption_, Qt::ElideRight, textArea.width()));
    captionText_.prepare(QTransform(), font());
    captionLaidOut_ = true;
  }
  // Centred in the text area, as a single line.
  const QSizeF size = captionText_.size();
  const QPointF at(textArea.left() + (textArea.width() - size.width()) / 2,
                   textArea.top() + (textArea.height() - size.height()) / 2);
  painter.setFont(font());
  painter.setPen(captionShadowColor_);
  painter.drawStaticText(at + QPointF(1, 1), captionText_);
  painter.setPen(captionColor_);
  painter.drawStaticText(at, captionText_);
}

}  // namespace korvanta::platform::qt
