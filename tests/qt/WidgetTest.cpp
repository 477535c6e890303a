#include "GradientProgressBar.h"
#include "Skin.h"
#include "TitleBar.h"
#include "WebLinkLabel.h"

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <vector>

namespace {

using korvanta::platform::qt::ApplySkin;
using korvanta::platform::qt::GradientProgressBar;
using korvanta::platform::qt::TitleBar;
using korvanta::platform::qt::TitleBarItem;
using korvanta::platform::qt::WebLinkLabel;

void SendMouse(QWidget& widget, QEvent::Type type, QPoint local, Qt::MouseButton button,
               Qt::MouseButtons held) {
  QMouseEvent event(type, QPointF(local), QPointF(widget.mapToGlobal(local)), button, held,
                    Qt::NoModifier);
  QApplication::sendEvent(&widget, &event);
}

void Press(QWidget& widget, QPoint at) {
  SendMouse(widget, QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton);
}

void Release(QWidget& widget, QPoint at) {
  SendMouse(widget, QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton);
}

// The bar at the window's size: 325 pixels inside its frame.
class GradientProgressBarPaintTest : public ::testing::Test {
 protected:
  GradientProgressBarPaintTest() {
    bar.setGeometry(100, 100, 327, 25);
    bar.show();
    QApplication::processEvents();
  }
  GradientProgressBar bar;
};

TEST(GradientProgressBarTest, ClampsRangeAndPositionAndKeepsFillOfEmptyRange) {
  enum Kind { Min, Max, Pos };
  struct Op {
    Kind kind;
    int value;
  };
  struct Case {
    const char* name;
    std::vector<Op> ops;
    int min, max, position, pixels;
  };
  const Case cases[] = {
      {"initial state", {}, 0, 100, 0, 0},
      {"max below min gives min and keeps the fill", {{Max, 100}, {Pos, 50}, {Max, -5}}, 0, 0, 0, 162},
      {"max below position pulls the position down", {{Max, 100}, {Pos, 80}, {Max, 50}}, 0, 50, 50, 325},
      {"downloaded beyond total shows a full bar", {{Max, 200}, {Pos, 500}}, 0, 200, 200, 325},
      {"position below min is clamped up", {{Max, 100}, {Pos, 60}, {Pos, -7}}, 0, 100, 0, 0},
      {"total 0 after an earlier transfer keeps the fill", {{Max, 1000}, {Pos, 400}, {Max, 0}, {Pos, 0}},
       0, 0, 0, 130},
      {"new total applies before the new position",
       {{Max, 1000}, {Pos, 1000}, {Max, 200}, {Pos, 50}}, 0, 200, 50, 81},
      {"min above max gives max", {{Max, 100}, {Pos, 50}, {Min, 150}}, 100, 100, 100, 162},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    GradientProgressBar fresh;
    fresh.resize(327, 25);
    for (const Op& op : c.ops) {
      switch (op.kind) {
        case Min: fresh.setMin(op.value); break;
        case Max: fresh.setMax(op.value); break;
        case Pos: fresh.setPosition(op.value); break;
      }
    }
    EXPECT_EQ(fresh.Min(), c.min);
    EXPECT_EQ(fresh.Max(), c.max);
    EXPECT_EQ(fresh.Position(), c.position);
    EXPECT_EQ(fresh.FillPixels(), c.pixels);
  }
}

TEST_F(GradientProgressBarPaintTest, PaintsAtOnceOnlyWhenFillPixelsOrCaptionChange) {
  bar.setMax(325 * 10000);  // one pixel of fill per 10000 units
  const auto before = bar.PaintCount();
  // Positions 5001..9999 draw no fill, 10000..15000 one pixel: a single paint for 10000 calls,
  // done before any event is processed.
  for (int position = 5001; position <= 15000; ++position) bar.setPosition(position);
  EXPECT_EQ(bar.FillPixels(), 1);
  EXPECT_EQ(bar.PaintCount() - before, 1u);

  bar.setCaption(QStringLiteral("Checking for an update"));
  EXPECT_EQ(bar.PaintCount() - before, 2u);
  bar.setCaption(QStringLiteral("Checking for an update"));
  EXPECT_EQ(bar.PaintCount() - before, 2u);
  bar.setCaption(QStringLiteral("There is no update available!"));
  EXPECT_EQ(bar.PaintCount() - before, 3u);
  EXPECT_EQ(bar.Caption(), QStringLiteral("There is no update available!"));
}

// A transfer repaints only the columns its fill edge crossed; what is on screen then must be what
// a full paint shows, caption and gradient included, growing and shrinking alike.
TEST_F(GradientProgressBarPaintTest, StepByStepFillShowsWhatAFullPaintShows) {
  bar.setCaption(QStringLiteral("Downloading file Update.zip"));
  const auto onScreen = [this] { return bar.screen()->grabWindow(bar.winId()).toImage(); };
  const auto expectAsFullPaint = [&](const char* when) {
    SCOPED_TRACE(when);
    const QImage stepped = onScreen();
    bar.repaint();
    EXPECT_EQ(stepped, onScreen());
  };
  bar.setMax(325);
  for (int position = 0; position <= 325; position += 3) bar.setPosition(position);
  expectAsFullPaint("grown in steps");
  bar.setPosition(325);
  expectAsFullPaint("full");
  bar.setPosition(120);
  expectAsFullPaint("shrunk");
  bar.setMax(100);  // a new transfer with another total
  for (int position = 0; position <= 70; ++position) bar.setPosition(position);
  expectAsFullPaint("second transfer");
}

class TitleBarTest : public ::testing::Test {
 protected:
  TitleBarTest() : title(new TitleBar(&window)) {
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    window.setGeometry(200, 150, 327, 60);
    title->setGeometry(0, 0, 327, 24);
    title->setCaption(QStringLiteral("Korvanta Updater v0.1.1"));
    update = title->addCommand(QStringLiteral("Check  Update"));
    exit = title->addCommand(QStringLiteral("Exit"));
    window.show();
    QApplication::processEvents();
  }
  QWidget window;
  TitleBar* title;
  QAbstractButton* update = nullptr;
  QAbstractButton* exit = nullptr;
};

TEST_F(TitleBarTest, ItemsKeepTheirTextAsGivenInOrderAtTheRightEnd) {
  EXPECT_EQ(title->Caption(), QStringLiteral("Korvanta Updater v0.1.1"));
  EXPECT_EQ(update->text(), QStringLiteral("Check  Update"));
  // Both blanks take room on screen: a collapsed text would be as wide as a single blank's.
  EXPECT_GT(update->sizeHint().width(), TitleBarItem(QStringLiteral("Check Update")).sizeHint().width());
  EXPECT_LT(update->geometry().right(), exit->geometry().left());
  EXPECT_LT(exit->geometry().right(), title->MinimiseButton()->geometry().left());
  EXPECT_EQ(title->MinimiseButton()->geometry().right(), title->width() - 1);

  // An ampersand is text, not an accelerator.
  TitleBarItem ampersand(QStringLiteral("R&D"));
  EXPECT_EQ(ampersand.text(), QStringLiteral("R&D"));
  EXPECT_TRUE(ampersand.shortcut().isEmpty());
}

TEST_F(TitleBarTest, ClickingAnItemEmitsClicked) {
  int updates = 0;
  int exits = 0;
  QObject::connect(update, &QAbstractButton::clicked, [&] { ++updates; });
  QObject::connect(exit, &QAbstractButton::clicked, [&] { ++exits; });
  const QPoint centre = update->rect().center();
  Press(*update, centre);
  Release(*update, centre);
  EXPECT_EQ(updates, 1);
  EXPECT_EQ(exits, 0);
}

TEST_F(TitleBarTest, DraggingTheBarMovesTheWindow) {
  const QPoint start = window.pos();
  const QPoint grip(10, 10);  // on the caption, away from the items
  Press(*title, grip);
  SendMouse(*title, QEvent::MouseMove, grip + QPoint(30, 20), Qt::NoButton, Qt::LeftButton);
  Release(*title, grip + QPoint(30, 20));
  EXPECT_EQ(window.pos(), start + QPoint(30, 20));
}

TEST(WebLinkLabelTest, ClickOpensTheAddressOnlyWhenReleasedOnTheLabel) {
  const QUrl address(QStringLiteral("https://www.korvanta.example/download.php"));
  WebLinkLabel link(QStringLiteral("Web link"), address);
  link.resize(60, 16);
  std::vector<QUrl> opened;
  link.setOpener([&](const QUrl& url) { opened.push_back(url); });
  EXPECT_EQ(link.text(), QStringLiteral("Web link"));
  EXPECT_EQ(link.cursor().shape(), Qt::PointingHandCursor);

  Press(link, {5, 5});
  Release(link, {200, 5});  // dragged off: no click
  EXPECT_TRUE(opened.empty());

  Press(link, {5, 5});
  Release(link, {6, 6});
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened.front(), address);
}

QStringList qtWarnings;

void CollectWarnings(QtMsgType type, const QMessageLogContext&, const QString& message) {
  if (type != QtDebugMsg && type != QtInfoMsg) qtWarnings.append(message);
}

TEST(SkinTest, ParsesAndReachesTheNamespacedWidgets) {
  qtWarnings.clear();
  const QtMessageHandler previous = qInstallMessageHandler(CollectWarnings);
  ApplySkin(*qApp);
  GradientProgressBar bar;
  bar.ensurePolished();
  qInstallMessageHandler(previous);
  EXPECT_TRUE(qtWarnings.isEmpty()) << qtWarnings.join(u'\n').toStdString();
  // The skin's fill colour: a class selector that misses the namespace leaves the default.
  EXPECT_EQ(bar.property("fillEndColor").value<QColor>(), QColor(0xf5, 0x9a, 0x1c));
  qApp->setStyleSheet(QString());
}

}  // namespace

int main(int argc, char** argv) {
  // The widgets need a display; the offscreen platform works anywhere, CI included.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
