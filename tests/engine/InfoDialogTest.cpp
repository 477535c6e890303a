// The information dialog under a real QApplication (offscreen unless the caller chose a platform),
// with its page served on loopback.
#include "Internals.h"
#include "RunFixture.h"
#include "TestHttpServer.h"
#include "Text.h"
#include "mxWebUpdateInfo.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using Answer = std::function<void(QDialog&)>;

QDialog* FormOf(const Tfrm_ShowInfoUpdate& form) { return static_cast<QDialog*>(form.Widget()); }

template <class T>
T* Control(QWidget& form, const char* name) {
  T* control = form.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(control, nullptr) << name;
  return control;
}

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
  return true;
}

using Ready = std::function<bool(QDialog&)>;

// Runs `answer` on the dialog once it is the active modal widget and `ready` holds. The polls run
// from timers in the dialog's own loop and never wait inside it: a wait nested in a callback does
// not reliably deliver the network's queued results. A dialog that never comes up, or never gets
// ready, fails the test; a dialog left open is closed, so that exec() cannot hang the suite.
void WhenShown(Answer answer, Ready ready = {}) {
  constexpr int kPollMs = 10, kTimeoutMs = 5000, kCloseTimeoutMs = 2000;
  auto clock = std::make_shared<QElapsedTimer>();
  clock->start();
  auto poll = std::make_shared<std::function<void()>>();
  *poll = [=] {
    auto* form = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    const bool late = clock->elapsed() > kTimeoutMs;
    if (form == nullptr && late) {
      ADD_FAILURE() << "no modal dialog came up";
      for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<QDialog*>(w); d && d->isVisible()) d->done(0);
      *poll = nullptr;  // breaks the cycle of the shared poll
      return;
    }
    if (form == nullptr || (ready && !ready(*form) && !late)) {
      QTimer::singleShot(kPollMs, *poll);
      return;
    }
    if (late) ADD_FAILURE() << "the dialog never got ready";
    answer(*form);
    // An accelerator presses its button after a short animation: give it time to close. The watch
    // is a timer owned by the dialog, so nothing outlives the dialog if the test ends first.
    QPointer<QDialog> shown(form);
    clock->restart();
    auto* watch = new QTimer(form);
    QObject::connect(watch, &QTimer::timeout, watch, [watch, shown, clock] {
      if (shown && shown->isVisible()) {
        if (clock->elapsed() <= kCloseTimeoutMs) return;
        ADD_FAILURE() << "the answer left the dialog open";
        shown->done(0);
      }
      watch->stop();
      watch->deleteLater();
    });
    watch->start(kPollMs);
    *poll = nullptr;
  };
  QTimer::singleShot(kPollMs, *poll);
}

// True once `condition` has held for `ms` milliseconds: lets a page settle before it is looked at.
Ready HeldFor(std::function<bool(QDialog&)> condition, int ms) {
  auto since = std::make_shared<QElapsedTimer>();
  return [=](QDialog& form) {
    if (!condition(form)) return false;
    if (!since->isValid()) since->start();
    return since->elapsed() >= ms;
  };
}

// The ways a user ends the dialog. Keys go to the check box so that the dialog's default and
// cancel buttons, not the focused button, decide.
enum class Close { ClickOk, ClickCancel, Enter, Esc };

void CloseBy(QDialog& form, Close how) {
  auto* box = Control<QCheckBox>(form, "chk_FutureUpdate");
  switch (how) {
    case Close::ClickOk:
      QTest::mouseClick(Control<QPushButton>(form, "btn_OK"), Qt::LeftButton);
      break;
    case Close::ClickCancel:
      QTest::mouseClick(Control<QPushButton>(form, "btn_Cancel"), Qt::LeftButton);
      break;
    case Close::Enter:
      box->setFocus();
      QTest::keyClick(box, Qt::Key_Return);
      break;
    case Close::Esc:
      box->setFocus();
      QTest::keyClick(box, Qt::Key_Escape);
      break;
  }
}

QString ViewText(QDialog& form) { return Control<QTextBrowser>(form, "WebBrowser")->toPlainText(); }
bool PageShown(QDialog& form) { return !ViewText(form).isEmpty(); }

// Accelerators work in the active window only.
bool Activated(QDialog& form) {
  form.activateWindow();
  return form.isActiveWindow();
}

using korvanta::test::Connection;
using korvanta::test::TestHttpServer;

constexpr const char* kPagePath = "/webupdate.htm";

std::u16string PageUrl(const TestHttpServer& server) { return korvanta::platform::FromUtf8(server.url(kPagePath)); }

std::string HtmlResponse(const std::string& body, const std::string& contentType = "text/html") {
  return TestHttpServer::Response(200, body, true, {"Content-Type: " + contentType});
}

std::string HtmlPage(const std::string& head, const std::string& body) {
  return "<html><head>" + head + "</head><body>" + body + "</body></html>";
}

// Serves a plain page for the tests that only need the dialog to come up.
const TestHttpServer& DefaultPage() {
  struct Server : TestHttpServer {
    Server() { RouteResponse(kPagePath, HtmlResponse(HtmlPage("", "<p>Release notes</p>"))); }
  };
  static Server server;
  return server;
}

// An address on a port that nobody listens on: a server's free port, after the server is gone.
std::u16string RefusedUrl() {
  std::string url;
  {
    TestHttpServer gone;
    url = gone.url(kPagePath);
  }
  return korvanta::platform::FromUtf8(url);
}

const std::u16string kFailureText = u"The information page could not be loaded.";

// ---- the dialog step of the run ----

TEST(InfoDialogStep, HandlerThatSuppressesTheDialogLetsTheRunGoOnWithoutOne) {
  TmxWebUpdate c;
  c.ProductInfo()->setURL(PageUrl(DefaultPage()));
  int before = 0, after = 0;
  c.setOnBeforeShowInfo([&](TmxWebUpdate& sender, bool& showInfo, bool&) {
    EXPECT_EQ(&sender, &c);
    ++before;
    showInfo = false;
  });
  c.setOnAfterShowInfo([&](TmxWebUpdate&, bool) { ++after; });
  EXPECT_TRUE(TmxWebUpdateInternals::ShowUpdateInfo(c));
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 0);
  EXPECT_FALSE(TmxWebUpdateInternals::HasDialog(c));
}

TEST(InfoDialogStep, UserAnswerGivesTheResultAndTheBoxStateIsReported) {
  struct Case {
    const char* name;
    std::optional<bool> handlerCheck;  // nullopt: no OnBeforeShowInfo handler
    bool toggle;
    Close close;
    bool shownChecked, result, reported;
  } cases[] = {
      {"no handler, OK button", std::nullopt, false, Close::ClickOk, true, true, true},
      {"no handler, box cleared, Enter", std::nullopt, true, Close::Enter, true, true, false},
      {"handler clears box, OK button", false, false, Close::ClickOk, false, true, false},
      {"handler clears box, user sets it, Cancel button", false, true, Close::ClickCancel, false, false, true},
      {"handler keeps box, Esc", true, false, Close::Esc, true, false, true},
      {"no handler, box cleared, Cancel button", std::nullopt, true, Close::ClickCancel, true, false, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TmxWebUpdate c;
    c.ProductInfo()->setURL(PageUrl(DefaultPage()));
    if (k.handlerCheck)
      c.setOnBeforeShowInfo([&](TmxWebUpdate&, bool& showInfo, bool& check) {
        EXPECT_TRUE(showInfo);
        EXPECT_TRUE(check);
        check = *k.handlerCheck;
      });
    std::optional<bool> reported;
    c.setOnAfterShowInfo([&](TmxWebUpdate& sender, bool check) {
      EXPECT_EQ(&sender, &c);
      EXPECT_FALSE(reported.has_value()) << "fired twice";
      reported = check;
    });
    std::optional<bool> shownChecked;
    WhenShown([&](QDialog& form) {
      auto* box = Control<QCheckBox>(form, "chk_FutureUpdate");
      shownChecked = box->isChecked();
      if (k.toggle) {
        box->setFocus();
        QTest::keyClick(box, Qt::Key_Space);
      }
      CloseBy(form, k.close);
    });
    EXPECT_EQ(TmxWebUpdateInternals::ShowUpdateInfo(c), k.result);
    EXPECT_EQ(shownChecked, k.shownChecked);
    EXPECT_EQ(reported, k.reported);
    EXPECT_TRUE(TmxWebUpdateInternals::HasDialog(c));
  }
}

TEST(InfoDialogStep, SecondShowingReusesTheDialogAndAppliesNewCaptionsAndBoxState) {
  TmxWebUpdate c;
  c.ProductInfo()->setURL(PageUrl(DefaultPage()));
  struct Seen {
    QString ok, cancel, check;
    bool checked;
  };
  Seen first{}, second{};
  auto look = [](Seen& seen, bool uncheck, Close close) {
    WhenShown([&seen, uncheck, close](QDialog& form) {
      seen = {Control<QPushButton>(form, "btn_OK")->text(), Control<QPushButton>(form, "btn_Cancel")->text(),
              Control<QCheckBox>(form, "chk_FutureUpdate")->text(),
              Control<QCheckBox>(form, "chk_FutureUpdate")->isChecked()};
      if (uncheck) Control<QCheckBox>(form, "chk_FutureUpdate")->setChecked(false);
      CloseBy(form, close);
    });
  };

  look(first, true, Close::ClickOk);
  EXPECT_TRUE(TmxWebUpdateInternals::ShowUpdateInfo(c));
  Tfrm_ShowInfoUpdate* dialog = TmxWebUpdateInternals::Dialog(c);
  ASSERT_NE(dialog, nullptr);

  c.InfoCaption()->setOkButton(u"&Jetzt laden");
  c.InfoCaption()->setCancelButton(u"&Später");
  c.InfoCaption()->setCheckForUpdate(u"&Weiter nach Updates suchen");
  look(second, false, Close::ClickCancel);
  EXPECT_FALSE(TmxWebUpdateInternals::ShowUpdateInfo(c));

  EXPECT_EQ(TmxWebUpdateInternals::Dialog(c), dialog);
  EXPECT_EQ(first.ok, "&OK");
  EXPECT_EQ(first.cancel, "&Cancel");
  EXPECT_EQ(first.check, "C&heck for updates in the future");
  EXPECT_EQ(second.ok, "&Jetzt laden");
  EXPECT_EQ(second.cancel, QString::fromUtf8("&Später"));
  EXPECT_EQ(second.check, "&Weiter nach Updates suchen");
  // The user's choice of the first showing does not carry over: each showing applies the handler's.
  EXPECT_TRUE(first.checked);
  EXPECT_TRUE(second.checked);
}

// ---- the dialog itself ----

TEST(InfoDialog, ModalResultsOfButtonsKeysAndAccelerators) {
  struct Case {
    const char* name;
    Answer close;
    int result;
    Ready ready = {};
  } cases[] = {
      {"OK button", [](QDialog& f) { CloseBy(f, Close::ClickOk); }, Tfrm_ShowInfoUpdate::mrOk},
      {"Enter", [](QDialog& f) { CloseBy(f, Close::Enter); }, Tfrm_ShowInfoUpdate::mrOk},
      {"Cancel button", [](QDialog& f) { CloseBy(f, Close::ClickCancel); }, Tfrm_ShowInfoUpdate::mrCancel},
      {"Esc", [](QDialog& f) { CloseBy(f, Close::Esc); }, Tfrm_ShowInfoUpdate::mrCancel},
      {"Alt+O", [](QDialog& f) { QTest::keyClick(&f, Qt::Key_O, Qt::AltModifier); }, Tfrm_ShowInfoUpdate::mrOk,
       Activated},
      {"Alt+C", [](QDialog& f) { QTest::keyClick(&f, Qt::Key_C, Qt::AltModifier); },
       Tfrm_ShowInfoUpdate::mrCancel, Activated},
      {"window closed", [](QDialog& f) { f.close(); }, Tfrm_ShowInfoUpdate::mrCancel},
  };
  Tfrm_ShowInfoUpdate form;
  form.setCaptions(u"&OK", u"&Cancel", u"C&heck for updates in the future");
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    WhenShown(k.close, k.ready);
    EXPECT_EQ(form.ShowModal(), k.result);
  }
}

TEST(InfoDialog, LayoutAtCreation) {
  Tfrm_ShowInfoUpdate form;
  QDialog& f = *FormOf(form);
  EXPECT_EQ(f.windowTitle(), "mxWebUpdate");
  EXPECT_EQ(f.size(), QSize(522, 426));
  EXPECT_EQ(f.parent(), nullptr);
  EXPECT_EQ(f.windowFlags(), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
  EXPECT_EQ(f.palette().color(QPalette::Window), f.palette().color(QPalette::Button));
  EXPECT_EQ(f.font().pointSize(), 8);

  struct Place {
    const char* name;
    QRect geometry;
  } places[] = {
      {"Panel1", {0, 0, 522, 354}},      {"WebBrowser", {2, 2, 518, 350}},
      {"Panel2", {0, 354, 522, 31}},     {"chk_FutureUpdate", {8, 6, 497, 17}},
      {"Panel_Bottom", {0, 385, 522, 41}}, {"btn_OK", {183, 10, 75, 25}},
      {"btn_Cancel", {261, 10, 75, 25}},
  };
  for (const Place& p : places) EXPECT_EQ(Control<QWidget>(f, p.name)->geometry(), p.geometry) << p.name;

  auto* ok = Control<QPushButton>(f, "btn_OK");
  auto* cancel = Control<QPushButton>(f, "btn_Cancel");
  auto* box = Control<QCheckBox>(f, "chk_FutureUpdate");
  auto* view = Control<QTextBrowser>(f, "WebBrowser");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_FALSE(cancel->isDefault());
  EXPECT_EQ(ok->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_EQ(cancel->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(box->isChecked());
  EXPECT_TRUE(form.FutureUpdateChecked());
  EXPECT_TRUE(view->isReadOnly());

  // Tab stops only: the chain also holds the controls' own parts, which take no focus.
  auto nextTabStop = [](QWidget* w) {
    do w = w->nextInFocusChain();
    while (!(w->focusPolicy() & Qt::TabFocus));
    return w;
  };
  EXPECT_EQ(nextTabStop(ok), cancel);
  EXPECT_EQ(nextTabStop(cancel), box);
  EXPECT_EQ(nextTabStop(box), view);
  EXPECT_EQ(nextTabStop(view), ok);
}

TEST(InfoDialog, ButtonPlacementFollowsTheBottomPanelWidth) {
  struct Case {
    int width, okLeft, cancelLeft;
  } cases[] = {{522, 183, 261}, {523, 183, 261}, {151, -2, 76}};
  Tfrm_ShowInfoUpdate form;
  QDialog& f = *FormOf(form);
  f.show();
  for (const Case& k : cases) {
    SCOPED_TRACE(k.width);
    EXPECT_EQ(Tfrm_ShowInfoUpdate::ButtonLefts(k.width, 75, 75), std::make_pair(k.okLeft, k.cancelLeft));

    f.resize(k.width, 426);
    auto* panel = Control<QWidget>(f, "Panel_Bottom");
    EXPECT_TRUE(WaitFor([&] { return panel->width() == k.width; }));
    EXPECT_EQ(Control<QWidget>(f, "btn_OK")->x(), k.okLeft);
    EXPECT_EQ(Control<QWidget>(f, "btn_Cancel")->x(), k.cancelLeft);
  }
  f.hide();
}

// ---- the page in the view ----

TEST(InfoPage, ViewShowsThePageDecodedByItsCharset) {
  struct Case {
    const char* name;
    std::string contentType, body;
    QString expected;
  } cases[] = {
      {"UTF-8 named by the header", "text/html; charset=utf-8", HtmlPage("", "<p>Caf\xC3\xA9 \xE2\x82\xAC</p>"),
       QString::fromUtf8("Café €")},
      {"UTF-8 named by the page", "text/html",
       HtmlPage("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-8\">",
                "<p>Caf\xC3\xA9 \xE2\x82\xAC</p>"),
       QString::fromUtf8("Café €")},
      {"no charset: Windows-1252", "text/html", HtmlPage("", "<p>Caf\xE9 \x80</p>"), QString::fromUtf8("Café €")},
      {"ISO-8859-1 read as Windows-1252", "text/html; charset=iso-8859-1", HtmlPage("", "<p>Caf\xE9 \x80</p>"),
       QString::fromUtf8("Café €")},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TestHttpServer server;
    server.RouteResponse(kPagePath, HtmlResponse(k.body, k.contentType));
    TmxWebUpdate c;
    c.ProductInfo()->setURL(PageUrl(server));
    QString shown;
    WhenShown(
        [&](QDialog& form) {
          shown = ViewText(form);
          CloseBy(form, Close::ClickOk);
        },
        PageShown);
    EXPECT_TRUE(TmxWebUpdateInternals::ShowUpdateInfo(c));
    EXPECT_EQ(shown, k.expected);
    EXPECT_EQ(server.Paths(), std::vector<std::string>{kPagePath});
  }
}

TEST(InfoPage, PageThatFailsToLoadShowsTheMessageAndTheUserStillDecides) {
  TestHttpServer missing;  // no route: every request gets a 404
  struct Case {
    const char* name;
    std::u16string url;
    Close close;
    bool result;
  } cases[] = {
      {"404, accepted", PageUrl(missing), Close::ClickOk, true},
      {"404, declined", PageUrl(missing), Close::ClickCancel, false},
      {"connection refused, accepted", RefusedUrl(), Close::Enter, true},
      {"connection refused, declined", RefusedUrl(), Close::Esc, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    TmxWebUpdate c;
    c.ProductInfo()->setURL(k.url);
    QString shown;
    bool okEnabled = false;
    WhenShown(
        [&](QDialog& form) {
          shown = ViewText(form);
          okEnabled = Control<QPushButton>(form, "btn_OK")->isEnabled() &&
                      Control<QPushButton>(form, "btn_Cancel")->isEnabled();
          CloseBy(form, k.close);
        },
        PageShown);
    EXPECT_EQ(TmxWebUpdateInternals::ShowUpdateInfo(c), k.result);
    EXPECT_EQ(shown.toStdU16String(), kFailureText);
    EXPECT_TRUE(okEnabled);
  }
}

TEST(InfoPage, PageOfAnEarlierShowingNeverReplacesTheCurrentOne) {
  TestHttpServer server;
  server.Route("/old.htm", [](Connection& c) {
    if (c.SleepMs(400)) c.Write(HtmlResponse(HtmlPage("", "<p>old page</p>")));
  });
  server.RouteResponse("/new.htm", HtmlResponse(HtmlPage("", "<p>new page</p>")));
  TmxWebUpdate c;
  c.ProductInfo()->setURL(korvanta::platform::FromUtf8(server.url("/old.htm")));
  WhenShown([](QDialog& form) { CloseBy(form, Close::ClickCancel); },
            [&](QDialog&) { return server.Paths().size() == 1; });
  EXPECT_FALSE(TmxWebUpdateInternals::ShowUpdateInfo(c));

  c.ProductInfo()->setURL(korvanta::platform::FromUtf8(server.url("/new.htm")));
  QString shown;
  WhenShown(
      [&](QDialog& form) {
        shown = ViewText(form);
        CloseBy(form, Close::ClickOk);
      },
      // Long enough for the earlier page's server to have answered.
      HeldFor([](QDialog& form) { return ViewText(form) == "new page"; }, 700));
  EXPECT_TRUE(TmxWebUpdateInternals::ShowUpdateInfo(c));
  EXPECT_EQ(shown, "new page");
}

TEST(InfoPage, ComponentDestroyedWhilePageStillLoadingAbortsTheTransfer) {
  // The page trickles in for up to 10 s; its responder learns when the client has gone.
  std::atomic<bool> clientGone{false};
  TestHttpServer server;
  server.Route(kPagePath, [&](Connection& conn) {
    if (!conn.Write("HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n<p>")) return;
    for (int i = 0; i < 500 && conn.SleepMs(20); ++i)
      if (!conn.Write("x")) {
        clientGone = true;
        return;
      }
  });
  {
    TmxWebUpdate c;
    c.ProductInfo()->setURL(PageUrl(server));
    WhenShown([](QDialog& form) { CloseBy(form, Close::ClickOk); },
              [&](QDialog&) { return server.Paths().size() == 1; });
    EXPECT_TRUE(TmxWebUpdateInternals::ShowUpdateInfo(c));
  }
  // Any event still queued for the destroyed dialog's transfer runs during this wait.
  EXPECT_TRUE(WaitFor([&] { return clientGone.load(); }));
}

TEST(InfoPageSecurity, LocalFileDisclosureThroughPageResourcesIsBlocked) {
  const QString secret = QDir::temp().filePath(QStringLiteral("korvanta-dialog-secret.png"));
  {
    QFile f(secret);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("not for the page");
  }
  const std::string secretUrl = QUrl::fromLocalFile(secret).toEncoded().toStdString();
  TestHttpServer server;
  server.RouteResponse(kPagePath, HtmlResponse(HtmlPage("<link rel=\"stylesheet\" href=\"" + secretUrl + "\">",
                                                        "<img src=\"" + secretUrl + "\"><p>page</p>")));
  TmxWebUpdate c;
  c.ProductInfo()->setURL(PageUrl(server));
  QVariant image, sheet;
  WhenShown(
      [&](QDialog& form) {
        const QTextDocument* page = Control<QTextBrowser>(form, "WebBrowser")->document();
        const QUrl url(QString::fromStdString(secretUrl));
        image = page->resource(QTextDocument::ImageResource, url);
        sheet = page->resource(QTextDocument::StyleSheetResource, url);
        CloseBy(form, Close::ClickOk);
      },
      PageShown);
  EXPECT_TRUE(TmxWebUpdateInternals::ShowUpdateInfo(c));
  EXPECT_FALSE(image.isValid());
  EXPECT_FALSE(sheet.isValid());
  QFile::remove(secret);
}

// ---- the dialog inside a whole run ----

class DialogRun : public korvanta::test::RunFixture {};

TEST_F(DialogRun, AcceptGoesOnToTheDownloadAndDeclineEndsTheRunBeforeIt) {
  using korvanta::test::Meta;
  // The configured page redirects; the dialog still shows the configured one.
  server.RouteResponse(kPagePath, HtmlResponse(HtmlPage(Meta("mxRedirection", Url("/second.htm")),
                                                        "<p>configured page</p>")));
  server.RouteResponse("/second.htm",
                       HtmlResponse(HtmlPage(Meta("mxProduct", "Korvanta") + Meta("mxVersion", "0.3") +
                                                 Meta("mxClientSideName", "Update.zip") +
                                                 Meta("mxDownload", Url("/Update.zip")),
                                             "<p>second page</p>")));
  server.RouteResponse("/Update.zip", TestHttpServer::Response(200, "PK-archive"));
  c.ProductInfo()->setVersion(u"0.2");
  c.setTargetFolder(u"./");
  c.setOptions({});
  struct Case {
    const char* name;
    Close close;
    bool result;
    std::vector<std::string> paths, events;
  } cases[] = {
      {"accepted", Close::ClickOk, true, {kPagePath, "/second.htm", kPagePath, "/Update.zip"},
       {"AfterShowInfo 1", "BeforeDownload"}},
      {"declined", Close::Esc, false, {kPagePath, "/second.htm", kPagePath}, {"AfterShowInfo 1"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    std::filesystem::remove(folder_ / "Update.zip");
    const std::size_t before = server.Paths().size();
    std::vector<std::string> events;
    c.setOnAfterShowInfo([&](TmxWebUpdate&, bool check) { events.push_back(check ? "AfterShowInfo 1" : "AfterShowInfo 0"); });
    c.setOnBeforeDownload([&](TmxWebUpdate&, std::u16string) { events.push_back("BeforeDownload"); });
    QString shown;
    WhenShown(
        [&](QDialog& form) {
          shown = ViewText(form);
          CloseBy(form, k.close);
        },
        PageShown);
    EXPECT_EQ(c.CheckForAnUpdate(), k.result);
    EXPECT_EQ(shown, "configured page");
    const std::vector<std::string> all = server.Paths();
    EXPECT_EQ(std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()), k.paths);
    EXPECT_EQ(events, k.events);
    EXPECT_EQ(std::filesystem::exists(folder_ / "Update.zip"), k.result);
    EXPECT_FALSE(c.Active());
  }
}

// The picture for the documentation: the dialog as a user sees it, with a page served on loopback.
int SaveScreenshot(const QString& path) {
  TestHttpServer server;
  server.RouteResponse(
      kPagePath,
      HtmlResponse(HtmlPage(
          "<title>Korvanta update</title>"
          "<meta name=\"mxProductName\" content=\"Korvanta Client\">"
          "<meta name=\"mxVersion\" content=\"0.2.1.0\">",
          "<h2>Korvanta Client 0.2.1.0</h2>"
          "<p>A new version of the Korvanta client is ready to download.</p>"
          "<ul><li>Faster start-up on older machines</li>"
          "<li>Fixed the inventory sorting</li>"
          "<li>New sound options</li></ul>"
          "<p>The update is about 12 MB.</p>")));
  TmxWebUpdate c;
  c.ProductInfo()->setURL(PageUrl(server));
  bool saved = false;
  WhenShown(
      [&](QDialog& form) {
        saved = form.grab().save(path);
        CloseBy(form, Close::ClickOk);
      },
      HeldFor([](QDialog& form) { return ViewText(form).contains("sound"); }, 300));
  TmxWebUpdateInternals::ShowUpdateInfo(c);
  return saved ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const QString screenshot = QStringLiteral("--screenshot=");
  for (int i = 1; i < argc; ++i)
    if (QString arg = QString::fromLocal8Bit(argv[i]); arg.startsWith(screenshot))
      return SaveScreenshot(arg.mid(screenshot.size()));
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
