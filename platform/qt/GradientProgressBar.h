// A progress bar that fills with a gradient and draws a caption centred over the fill. The window
// uses its caption as the status line and its fill for transfer progress.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QStaticText>
#include <QString>
#include <QWidget>

#include <cstdint>

namespace korvanta::platform::qt {

class GradientProgressBar : public QWidget {
  Q_OBJECT
  // Colours come from the skin (qproperty-… in the style sheet); the defaults suit a dark skin.
  Q_PROPERTY(QColor trackColor MEMBER trackColor_)
  Q_PROPERTY(QColor frameColor MEMBER frameColor_)
  Q_PROPERTY(QColor fillStartColor MEMBER fillStartColor_)
  Q_PROPERTY(QColor fillEndColor MEMBER fillEndColor_)
  Q_PROPERTY(QColor captionColor MEMBER captionColor_)
  Q_PROPERTY(QColor captionShadowColor MEMBER captionShadowColor_)

 public:
  explicit GradientProgressBar(QWidget* parent = nullptr);

  int Min() const { return min_; }
  int Max() const { return max_; }
  int Position() const { return position_; }
  const QString& Caption() const { return caption_; }

  // A minimum above the maximum gives the maximum; the position follows into the range.
  void setMin(int value);
  // A maximum below the minimum gives the minimum; a position above it moves down to it.
  void setMax(int value);
  // Clamped to the nearest end of the range.
  void setPosition(int value);
  void setCaption(const QString& value);

  // Width of the drawn fill in pixels, and how often the bar has been painted.
  int FillPixels() const { return fillPixels_; }
  std::uint64_t PaintCount() const { return paintCount_; }

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  int InnerWidth() const;
  // Takes the fill from the range unless the range is empty, which keeps the last fill; paints
  // at once when that moves the fill by a pixel. Runs for every block of a transfer, so it does
  // nothing costly when the pixels stay the same.
  void UpdateFill();
  // The whole track filled, rendered once per size and colours; a paint copies the filled part.
  const QPixmap& FilledTrack(QSize size);

  int min_ = 0;
  int max_ = 100;
  int position_ = 0;
  QString caption_;
  // The caption laid out once (elided to the width, shaped, glyphs cached): a transfer repaints
  // the bar hundreds of times with the same caption, and laying text out is most of a paint.
  QStaticText captionText_;
  bool captionLaidOut_ = false;
  QPixmap filledTrack_;
  QColor filledColors_[2];

  // The fill as an exact fraction, so that a later resize or an empty range keeps it.
  std::int64_t fillNumerator_ = 0;
  std::int64_t fillDenominator_ = 1;
  int fillPixels_ = 0;
  std::uint64_t paintCount_ = 0;

  QColor trackColor_{0x0d, 0x10, 0x15};
  QColor frameColor_{0x3a, 0x42, 0x50};
  QColor fillStartColor_{0xb3, 0x5a, 0x00};
  QColor fillEndColor_{0xff, 0xb3, 0x3d};
  QColor captionColor_{0xf4, 0xf6, 0xfa};
  QColor captionShadowColor_{0, 0, 0, 200};
};

}  // namespace korvanta::platform::qt
