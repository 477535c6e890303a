#include "Skin.h"

#include <QApplication>
#include <QColor>
#include <QPalette>
#include <QStyle>
#include <QStyleFactory>

namespace korvanta::platform::qt {

namespace {

// Class selectors of namespaced widgets write "::" as "--".
constexpr char kSheet[] = R"qss(
* {
  font-family: "DejaVu Sans";
  font-size: 11px;
}

QWidget[skinRole="panel"] {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #1f2530, stop:1 #12151b);
}

QLabel {
  color: #8d98a8;
  background: transparent;
}

QLabel[skinRole="fact"] {
  color: #eef1f5;
}

korvanta--platform--qt--WebLinkLabel {
  color: #ffb23f;
  text-decoration: underline;
}

korvanta--platform--qt--WebLinkLabel:hover {
  color: #ffd089;
}

korvanta--platform--qt--TitleBar {
  qproperty-topColor: #222834;
  qproperty-bottomColor: #14171d;
  qproperty-accentColor: #f09a1e;
}

QLabel#TitleBarCaption {
  color: #eef1f5;
  font-weight: bold;
}

korvanta--platform--qt--TitleBarItem {
  qproperty-textColor: #c3cbd6;
  qproperty-hoverTextColor: #ffc266;
  qproperty-hoverColor: rgba(240, 154, 30, 40);
  qproperty-pressedColor: rgba(240, 154, 30, 80);
}

korvanta--platform--qt--GradientProgressBar {
  font-weight: bold;
  qproperty-trackColor: #0c0e12;
  qproperty-frameColor: #3a4252;
  qproperty-fillStartColor: #8f4100;
  qproperty-fillEndColor: #f59a1c;
  qproperty-captionColor: #ffffff;
  qproperty-captionShadowColor: rgba(0, 0, 0, 210);
}

QProgressBar {
  border: none;
  border-top: 1px solid #2c3340;
  border-bottom: 1px solid #2c3340;
  background: #0c0e12;
  color: #eef1f5;
  text-align: center;
}

QProgressBar::chunk {
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1,
                              stop:0 #f5b04a, stop:0.5 #e08a14, stop:0.51 #c87510, stop:1 #a35c06);
}

QMessageBox {
  background: #1a1e26;
  border: 1px solid #3a4252;
}

QMessageBox QLabel {
  color: #eef1f5;
}

QDialogButtonBox {
  dialogbuttonbox-buttons-have-icons: 0;
}

QPushButton {
  color: #eef1f5;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #2d3441, stop:1 #222833);
  border: 1px solid #3f4858;
  border-radius: 3px;
  padding: 4px 16px;
  min-width: 56px;
}

QPushButton:hover {
  border-color: #f09a1e;
}

QPushButton:pressed {
  background: #1a1e26;
}

QPushButton:default {
  border-color: #c87c12;
}

QToolTip {
  color: #eef1f5;
  background: #1a1e26;
  border: 1px solid #f09a1e;
}
)qss";

QPalette DarkPalette() {
  QPalette palette;
  const QColor window(0x1a, 0x1e, 0x26);
  const QColor text(0xee, 0xf1, 0xf5);
  const QColor accent(0xf0, 0x9a, 0x1e);
  palette.setColor(QPalette::Window, window);
  palette.setColor(QPalette::WindowText, text);
  palette.setColor(QPalette::Base, QColor(0x0c, 0x0e, 0x12));
  palette.setColor(QPalette::AlternateBase, window);
  palette.setColor(QPalette::Text, text);
  palette.setColor(QPalette::Button, QColor(0x2a, 0x30, 0x3c));
  palette.setColor(QPalette::ButtonText, text);
  palette.setColor(QPalette::BrightText, Qt::white);
  palette.setColor(QPalette::Highlight, accent);
  palette.setColor(QPalette::HighlightedText, Qt::black);
  palette.setColor(QPalette::Link, accent);
  palette.setColor(QPalette::ToolTipBase, window);
  palette.setColor(QPalette::ToolTipText, text);
  palette.setColor(QPalette::PlaceholderText, QColor(0x8d, 0x98, 0xa8));
  palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6a, 0x72, 0x80));
  palette.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6a, 0x72, 0x80));
  palette.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6a, 0x72, 0x80));
  return palette;
}

}  // namespace

QString BuiltInSkin() { return QString::fromUtf8(kSheet); }

void ApplySkin(QApplication& app) {
  // Fusion draws the same everywhere and follows the palette, so the few controls the sheet
  // leaves alone still match the dark look.
  if (QStyle* fusion = QStyleFactory::create(QStringLiteral("Fusion"))) app.setStyle(fusion);
  app.setPalette(DarkPalette());
  app.setStyleSheet(BuiltInSkin());
}

}  // namespace korvanta::platform::qt
