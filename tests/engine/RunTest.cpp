#include "Errors.h"
#include "FileSizeLimit.h"
#include "RunFixture.h"
#include "ZipBuilder.h"
#include "ZipExtractor.h"

#include <random>
#include <stdexcept>

namespace korvanta::test {
namespace {

using I = TmxWebUpdateInternals;
using Events = std::vector<std::string>;

class Run : public RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    c.setTargetFolder(u".\\");
    c.ProductInfo()->setVersion(u"0.2.0.0");
  }
  // A page publishing version 0.3 and the archive at /Update.zip.
  std::string NewerPage(const std::string& extra = "") const {
    return Meta("mxProduct", "Korvanta") + Meta("mxVersion", "0.3") + Meta("mxClientSideName", "Update.zip") +
           Meta("mxDownload", Url("/Update.zip")) + extra;
  }
  void ServeArchive(const std::string& bytes = "PK-archive") {
    server.RouteResponse("/Update.zip", TestHttpServer::Response(200, bytes));
  }
};

TEST_F(Run, ACompleteRunFiresEveryEventInOrderAndStartsTheFile) {
  ServePage("/webupdate.htm", NewerPage(Meta("mxRunParameters", "-quiet \"x y\"")));
  ServeArchive();
  c.setOptions({uoRunUpdate, uoTerminate});
  EventLog log(c);
  EXPECT_TRUE(c.CheckForAnUpdate());
  EXPECT_EQ(log.Collapsed(), (Events{"BeforeGetInfo", "Download*", "AfterGetInfo", "UpdateAvailable 0.2.0.0 0.3",
                                     "BeforeShowInfo", "GetClientFileName .\\Update.zip",
                                     "BeforeDownload .\\Update.zip", "Download*", "AfterDownload .\\Update.zip"}));
  EXPECT_EQ(ReadFile(folder_ / "Update.zip"), "PK-archive");
  EXPECT_FALSE(c.Active());

  ASSERT_EQ(services.shellCalls.size(), 1u);
  const auto& call = services.shellCalls[0];
  EXPECT_EQ(call.parent, services.mainWindow);
  EXPECT_EQ(call.operation, u"open");
  EXPECT_EQ(call.file, u".\\Update.zip");
  EXPECT_EQ(call.parameters, std::optional<std::u16string>(u"-quiet "));  // the value ends at its first quote
  EXPECT_EQ(call.directory, std::optional<std::u16string>(u""));  // empty, not absent
  EXPECT_EQ(call.show, 1);
  EXPECT_EQ(services.terminateRequests, 1);
}

TEST_F(Run, OptionsDecideTheStartAndTheTerminateRequest) {
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive();
  struct Case {
    TmxUpdateOptions options;
    std::intptr_t shellResult;
    int shellCalls, terminates;
    bool cannotExecute;
  } cases[] = {
      {{}, 42, 0, 0, false},
      {{uoTerminate}, 42, 0, 0, false},
      {{uoRunUpdate}, 42, 1, 0, false},
      {{uoRunUpdate, uoTerminate}, 33, 1, 1, false},
      {{uoRunUpdate, uoTerminate}, 32, 1, 1, true},
      {{uoRunUpdate, uoOverwrite}, 2, 1, 0, true},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(int(k.options.Bits()) * 100 + int(k.shellResult));
    services.shellCalls.clear();
    services.terminateRequests = 0;
    services.shellResult = k.shellResult;
    std::filesystem::remove(folder_ / "Update.zip");
    c.setOptions(k.options);
    bool cannotExecute = false;
    c.setOnCannotExecute([&](TmxWebUpdate&) { cannotExecute = true; });
    EXPECT_TRUE(c.CheckForAnUpdate());  // true after a complete download, started or not
    EXPECT_EQ(services.shellCalls.size(), std::size_t(k.shellCalls));
    EXPECT_EQ(services.terminateRequests, k.terminates);
    EXPECT_EQ(cannotExecute, k.cannotExecute);
  }
}

TEST_F(Run, EarlyEndsReportTheirEventsAndReturnFalse) {
  struct Case {
    const char* why;
    std::string page;  // empty: the page is not served at all (connection refused)
    Events events;
  } cases[] = {
      {"version without product", Meta("mxVersion", "0.3"),
       {"BeforeGetInfo", "Download*", "AfterGetInfo", "DownloadError"}},
      {"product without version", Meta("mxProduct", "K"),
       {"BeforeGetInfo", "Download*", "AfterGetInfo", "DownloadError"}},
      {"same version", Meta("mxProduct", "K") + Meta("mxVersion", "0.2.0.0"),
       {"BeforeGetInfo", "Download*", "AfterGetInfo", "NoUpdateFound"}},
      {"older version", Meta("mxProduct", "K") + Meta("mxVersion", "0.1"),
       {"BeforeGetInfo", "Download*", "AfterGetInfo", "NoUpdateFound"}},
      {"page not received", "", {"BeforeGetInfo", "DownloadError", "AfterGetInfo", "DownloadError"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    if (k.page.empty()) {
      c.ProductInfo()->setURL(u"http://127.0.0.2/webupdate.htm");  // nothing listens there
    } else {
      ServePage("/webupdate.htm", k.page);
    }
    EventLog log(c);
    EXPECT_FALSE(c.CheckForAnUpdate());
    EXPECT_EQ(log.Collapsed(), k.events);
    EXPECT_FALSE(c.Active());
    EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip"));
  }
}

TEST_F(Run, TheHostCanVetoTheUpdate) {
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive();
  EventLog log(c);
  c.setOnUpdateAvailable([&](TmxWebUpdate&, std::u16string actual, std::u16string latest, bool& canUpdate) {
    EXPECT_EQ(actual, u"0.2.0.0");
    EXPECT_EQ(latest, u"0.3");
    EXPECT_TRUE(canUpdate);
    canUpdate = false;
  });
  EXPECT_FALSE(c.CheckForAnUpdate());
  EXPECT_EQ(log.Collapsed().back(), "AfterGetInfo");
  EXPECT_EQ(server.Paths(), Events{"/webupdate.htm"});
}

TEST_F(Run, ARunInProgressRefusesASecondOne) {
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive();
  c.setOptions({});
  int nested = 0;
  EventLog log(c);
  c.setOnDownload([&](TmxWebUpdate& sender, std::int32_t, std::int32_t) {
    const std::size_t before = log.events.size();
    EXPECT_FALSE(sender.CheckForAnUpdate());
    EXPECT_EQ(log.events.size(), before) << "a refused run fires no event";
    ++nested;
  });
  EXPECT_TRUE(c.CheckForAnUpdate());
  EXPECT_GE(nested, 2);
  EXPECT_FALSE(c.Active());
}

TEST_F(Run, AnExceptionFromAHandlerPassesThroughAndLowersActive) {
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive();
  c.setOnAfterGetInfo([](TmxWebUpdate&) { throw std::runtime_error("handler failed"); });
  EXPECT_THROW(c.CheckForAnUpdate(), std::runtime_error);
  EXPECT_FALSE(c.Active());
  c.setOnAfterGetInfo({});
  c.setOptions({});
  EXPECT_TRUE(c.CheckForAnUpdate()) << "a later run can start";
}

TEST_F(Run, RedirectionChainsEndAtTheLastPageRead) {
  const std::string b = Meta("mxProduct", "B") + Meta("mxVersion", "0.1") + Meta("mxAuthor", "b-author");
  ServePage("/a.htm", Meta("mxRedirection", Url("/b.htm")) + Meta("mxEmail", "only-a") +
                          Meta("mxClientSideName", "a.zip"));
  ServePage("/b.htm", b);
  ServePage("/host-less.htm", Meta("mxRedirection", "/b.htm"));
  ServePage("/to-missing.htm", Meta("mxRedirection", "http://127.0.0.2/gone.htm") + Meta("mxClientSideName", "a.zip"));
  ServePage("/empty-redirection.htm", Meta("mxRedirection", "") + Meta("mxProduct", "E") + Meta("mxVersion", "9"));
  ServePage("/cycle.htm", Meta("mxRedirection", "/cycle.htm") + Meta("mxProduct", "C") + Meta("mxVersion", "9"));
  struct Case {
    const char* start;
    Events paths;
    bool result;
    std::u16string product, author, email, client, redirection;
  } cases[] = {
      {"/a.htm", {"/a.htm", "/b.htm"}, true, u"B", u"b-author", u"", u"", u""},
      {"/host-less.htm", {"/host-less.htm", "/b.htm"}, true, u"B", u"b-author", u"", u"", u""},
      {"/to-missing.htm", {"/to-missing.htm"}, false, u"", u"", u"", u"a.zip", u"http://127.0.0.2/gone.htm"},
      {"/empty-redirection.htm", {"/empty-redirection.htm"}, true, u"E", u"", u"", u"", u""},
      {"/cycle.htm", Events(10, "/cycle.htm"), false, u"", u"", u"", u"", u"/cycle.htm"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.start);
    const std::size_t before = server.Paths().size();
    c.ProductInfo()->setURL(U(Url(k.start)));
    I::RedirectionURL(c).clear();
    I::GetInfo(c);
    const auto paths = server.Paths();
    EXPECT_EQ(Events(paths.begin() + before, paths.end()), k.paths);
    EXPECT_EQ(I::DownloadResult(c), k.result);
    EXPECT_EQ(c.ProductName(), k.product);
    EXPECT_EQ(c.Author(), k.author);
    EXPECT_EQ(c.EMail(), k.email);
    EXPECT_EQ(c.ClientFileName(), k.client);
    EXPECT_EQ(c.RedirectionURL(), k.redirection);
  }
}

TEST_F(Run, EveryPageOfTheChainUsesTheCredentials) {
  c.setUserName(u"user");
  c.setPassword(u"pass");
  auto guarded = [](std::string body) {
    return [body](Connection& conn) {
      if (conn.Request().find("Authorization: Basic dXNlcjpwYXNz") == std::string::npos)
        conn.Write(TestHttpServer::Response(401, "", true, {"WWW-Authenticate: Basic realm=\"k\""}));
      else
        conn.Write(TestHttpServer::Response(200, body));
    };
  };
  server.Route("/webupdate.htm", guarded(Meta("mxRedirection", "/second.htm")));
  server.Route("/second.htm", guarded(Meta("mxProduct", "K") + Meta("mxVersion", "0.1")));
  I::GetInfo(c);
  EXPECT_TRUE(I::DownloadResult(c));
  EXPECT_EQ(c.ProductName(), u"K");
}

TEST_F(Run, DownloadHonoursTheOverwriteRule) {
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive("new");
  struct Case {
    const char* why;
    TmxUpdateOptions options;
    std::function<void(TmxWebUpdate&, std::u16string&, bool&)> exists;  // OnClientFileExists, may be empty
    bool result;
    std::string content;
    Events tail;  // the run's last events
  } cases[] = {
      {"overwrite set", {uoOverwrite}, {}, true, "new",
       {"BeforeDownload .\\Update.zip", "Download*", "AfterDownload .\\Update.zip"}},
      {"overwrite clear", {}, {}, false, "old", {"ClientFileExists .\\Update.zip no", "DownloadError"}},
      {"handler allows", {}, [](TmxWebUpdate&, std::u16string&, bool& o) { o = true; }, true, "new",
       {"BeforeDownload .\\Update.zip", "Download*", "AfterDownload .\\Update.zip"}},
      {"handler renames but refuses", {uoOverwrite},
       [](TmxWebUpdate&, std::u16string& f, bool& o) { f = u"./elsewhere.zip"; o = false; }, false, "old",
       {"GetClientFileName .\\Update.zip", "DownloadError"}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    WriteFile(folder_ / "Update.zip", "old");
    c.setOptions(k.options);
    EventLog log(c);
    if (k.exists) c.setOnClientFileExists(k.exists);
    EXPECT_EQ(c.CheckForAnUpdate(), k.result);
    EXPECT_EQ(ReadFile(folder_ / "Update.zip"), k.content);
    const Events events = log.Collapsed();
    ASSERT_GE(events.size(), k.tail.size());
    EXPECT_EQ(Events(events.end() - k.tail.size(), events.end()), k.tail);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "elsewhere.zip"));
  }
}

TEST_F(Run, AChangedPathIsTheOneTestedAndWritten) {
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive("new");
  c.setOptions({});
  c.setOnGetClientFileName([](TmxWebUpdate&, std::u16string& f) { f = u"renamed.zip"; });
  EXPECT_TRUE(c.CheckForAnUpdate());
  EXPECT_EQ(ReadFile(folder_ / "renamed.zip"), "new");
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip"));
}

TEST_F(Run, AFailedTransferStillClosesTheDownloadEvents) {
  ServePage("/webupdate.htm", NewerPage());
  server.RouteResponse("/Update.zip", TestHttpServer::Response(200, "no length", false));
  EventLog log(c);
  EXPECT_FALSE(c.CheckForAnUpdate());
  const Events events = log.Collapsed();
  EXPECT_EQ(Events(events.end() - 3, events.end()),
            (Events{"BeforeDownload .\\Update.zip", "DownloadError", "AfterDownload .\\Update.zip"}));
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip"));
  EXPECT_TRUE(services.shellCalls.empty());
}

TEST_F(Run, AnEmptyClientFileNameFailsAtTheFolder) {
  ServePage("/webupdate.htm", Meta("mxProduct", "K") + Meta("mxVersion", "0.3") + Meta("mxDownload", Url("/Update.zip")));
  ServeArchive();
  EventLog log(c);
  EXPECT_FALSE(c.CheckForAnUpdate());
  const Events events = log.Collapsed();
  EXPECT_EQ(Events(events.end() - 2, events.end()), (Events{"BeforeDownload .\\", "AfterDownload .\\"}));
}

// A disk that fills during the download: the transfer fails, the window's extraction of the
// partial archive raises its error (shown in a message box), the installation keeps every file,
// nothing is started, and the process goes on.
TEST_F(Run, ADiskThatFillsDuringTheDownloadFailsTheRunAndLeavesTheInstallationWhole) {
  std::string client(300 * 1024, '\0');
  std::mt19937 random(7);
  for (char& byte : client) byte = static_cast<char>(random());
  const std::string archive = (folder_ / "build.zip").string();
  ZipBuilder(archive).Uncompressed().File("version.txt", "0.3\r\n").File("Korvanta.exe", client).Write();
  ServePage("/webupdate.htm", NewerPage());
  ServeArchive(ReadFile(archive));
  std::filesystem::remove(archive);
  WriteFile(folder_ / "version.txt", "0.2.0.0\r\n");
  WriteFile(folder_ / "Korvanta.exe", "old client");

  const std::string outcome = RunWithFileSizeLimit(64 * 1024, [&] {
    int errors = 0;
    c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
    c.setOnAfterDownload([](TmxWebUpdate&, std::u16string) {
      platform::ZipExtractor unzipper;  // as the window's after-download handler does it
      unzipper.setFileName(u"Update.zip");
      unzipper.ExtractFiles(u"*");
    });
    std::u16string shown;
    try {
      c.CheckForAnUpdate();
    } catch (const platform::EArchiveError& e) {
      shown = e.Message();
    }
    return shown == u"Damaged archive: the archive's directory is missing or damaged" && errors == 0 &&
           !I::DownloadResult(c) && !c.Active() && services.shellCalls.empty() &&
           std::filesystem::file_size(folder_ / "Update.zip") == 64 * 1024;
  });

  EXPECT_EQ(outcome, "passed");
  EXPECT_EQ(ReadFile(folder_ / "version.txt"), "0.2.0.0\r\n");
  EXPECT_EQ(ReadFile(folder_ / "Korvanta.exe"), "old client");
}

}  // namespace
}  // namespace korvanta::test
