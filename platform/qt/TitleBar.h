// The title bar of the frameless main window: the caption on the left, text command items and
// the minimise button at the right end. Dragging the bar moves the window.
#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QPoint>
#include <QString>
#include <QWidget>

class QHBoxLayout;
class QLabel;

namespace korvanta::platform::qt {

// One clickable item of the title bar. Draws its text exactly as given: no mnemonic processing
// (an '&' stays visible) and no collapsing of blanks, so "Check  Update" keeps both.
class TitleBarItem : public QAbstractButton {
  Q_OBJECT
  Q_PROPERTY(QColor textColor MEMBER textColor_)
  Q_PROPERTY(QColor hoverTextColor MEMBER hoverTextColor_)
  Q_PROPERTY(QColor hoverColor MEMBER hoverColor_)
  Q_PROPERTY(QColor pressedColor MEMBER pressedColor_)

 public:
  enum class Kind { Text, Minimise };

  explicit TitleBarItem(const QString& text, Kind kind = Kind::Text, QWidget* parent = nullptr);

  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  Kind kind_;
  QColor textColor_{0xc9, 0xd1, 0xdc};
  QColor hoverTextColor_{0xff, 0xff, 0xff};
  QColor hoverColor_{255, 255, 255, 28};
  QColor pressedColor_{255, 255, 255, 56};
};

class TitleBar : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor topColor MEMBER topColor_)
  Q_PROPERTY(QColor bottomColor MEMBER bottomColor_)
  Q_PROPERTY(QColor accentColor MEMBER accentColor_)

 public:
  explicit TitleBar(QWidget* parent = nullptr);

  QString Caption() const;
  void setCaption(const QString& text);

  // Appends a text item at the right end, after those added before and left of the minimise
  // button. The bar owns the item; connect to its clicked signal.
  QAbstractButton* addCommand(const QString& text);

  QAbstractButton* MinimiseButton() const { return minimise_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  QHBoxLayout* layout_;
  QLabel* caption_;
  TitleBarItem* minimise_;
  // Set while the window is moved by hand because the window system offers no system move.
  bool dragging_ = false;
  QPoint dragOffset_;

  QColor topColor_{0x1c, 0x21, 0x2a};
  QColor bottomColor_{0x11, 0x14, 0x1a};
  QColor accentColor_{0xf0, 0x9a, 0x1e};
};

}  // namespace korvanta::platform::qt
