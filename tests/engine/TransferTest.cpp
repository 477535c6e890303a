#include "RunFixture.h"

#include <chrono>
#include <optional>
#include <stdexcept>

namespace korvanta::test {
namespace {

using I = TmxWebUpdateInternals;

class Transfer : public RunFixture {
 protected:
  // Memory mode, as the page retrieval does it.
  void Page(const std::string& path) { I::TransferURL(c, U(Url(path)), false, false, u""); }
  // File mode, as the download does it.
  void File(const std::string& path, const std::u16string& local) { I::TransferURL(c, U(Url(path)), true, true, local); }
};

TEST_F(Transfer, SendsExactlyTheOneGetRequest) {
  server.RouteResponse("/webupdate.htm", TestHttpServer::Response(200, "x"));
  Page("/webupdate.htm");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /webupdate.htm HTTP/1.0\r\n"
                                  "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"
                                  "User-Agent: TmxWebUpdate\r\n"
                                  "Accept: */*\r\n"
                                  "\r\n");
}

TEST_F(Transfer, MemoryModeResultRules) {
  struct Case {
    const char* why;
    std::string response;
    bool result;
    std::vector<std::u16string> info;  // after the transfer (starts as {u"old"})
    bool errorEvent;
    std::int32_t fileSize;  // starts as 77
  } cases[] = {
      {"body with length", TestHttpServer::Response(200, "a\r\nb\nc"), true, {u"a", u"b", u"c"}, false, 6},
      {"body without length keeps the earlier size", TestHttpServer::Response(200, "page\n", false), true,
       {u"page"}, false, 77},
      {"empty body fails", TestHttpServer::Response(200, ""), false, {u"old"}, true, 0},
      {"error page is content", TestHttpServer::Response(404, "missing"), true, {u"missing"}, false, 7},
      {"shorter body than announced still succeeds",
       "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nshort", true, {u"short"}, false, 100},
      {"non-integer length is an error without event", "HTTP/1.0 200 OK\r\nContent-Length: 12a\r\n\r\nbody",
       false, {u"old"}, false, 77},
      {"length above the integer range is an error", "HTTP/1.0 200 OK\r\nContent-Length: 2147483648\r\n\r\nb",
       false, {u"old"}, false, 77},
      {"negative length is taken as it is", "HTTP/1.0 200 OK\r\nContent-Length: -5\r\n\r\nbody", true,
       {u"body"}, false, -5},
      {"Windows-1252 bytes", TestHttpServer::Response(200, "\x80 \xE9\x9D"), true, {u"\u20AC \u00E9\u009D"},
       false, 4},
      {"server that cannot be reached", "", false, {u"old"}, true, 77},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    const std::string path = "/case" + std::to_string(&k - cases);
    if (!k.response.empty()) server.RouteResponse(path, k.response);
    I::Info(c) = {u"old"};
    I::FileSize(c) = 77;
    int errors = 0;
    c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
    if (k.response.empty())
      I::TransferURL(c, u"http://127.0.0.2/nothing", false, false, u"");  // nothing listens there
    else
      Page(path);
    EXPECT_EQ(I::DownloadResult(c), k.result);
    EXPECT_EQ(I::Info(c), k.info);
    EXPECT_EQ(errors, k.errorEvent ? 1 : 0);
    EXPECT_EQ(I::FileSize(c), k.fileSize);
  }
}

TEST_F(Transfer, FileModeResultRules) {
  struct Case {
    const char* why;
    std::string response;
    bool result;
    std::optional<std::string> file;  // content afterwards; none: absent (starts absent or "old")
    bool errorEvent;
    bool existingFile;
  } cases[] = {
      {"complete body", TestHttpServer::Response(200, "archive"), true, "archive", false, true},
      {"length 0 makes an empty file", TestHttpServer::Response(200, ""), true, "", false, true},
      {"error page is stored", TestHttpServer::Response(404, "nope"), true, "nope", false, false},
      {"no length: nothing read, old file kept", TestHttpServer::Response(200, "new", false), false, "old", true,
       true},
      {"no length: no file created", TestHttpServer::Response(200, "new", false), false, std::nullopt, true, false},
      {"cut short: partial file stays", "HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nhalf", false, "half", true,
       true},
      {"non-integer length: no event, no file", "HTTP/1.0 200 OK\r\nContent-Length: x\r\n\r\nb", false,
       std::nullopt, false, false},
      {"negative length never matches", "HTTP/1.0 200 OK\r\nContent-Length: -1\r\n\r\n", false, "", true, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    const std::string path = "/file" + std::to_string(&k - cases);
    server.RouteResponse(path, k.response);
    const std::filesystem::path local = folder_ / ("local" + std::to_string(&k - cases));
    if (k.existingFile) WriteFile(local, "old");
    int errors = 0;
    c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
    File(path, U(local.string()));
    EXPECT_EQ(I::DownloadResult(c), k.result);
    EXPECT_EQ(errors, k.errorEvent ? 1 : 0);
    if (k.file)
      EXPECT_EQ(ReadFile(local), *k.file);
    else
      EXPECT_FALSE(std::filesystem::exists(local));
  }
}

TEST_F(Transfer, ReportsEveryBlockOfAtMost1025Bytes) {
  std::string body;
  for (int i = 0; i < 6000; ++i) body.push_back(static_cast<char>('a' + i % 26));
  server.Route("/big", [body](Connection& conn) {
    conn.Write("HTTP/1.0 200 OK\r\nContent-Length: 6000\r\n\r\n");
    for (std::size_t at = 0; at < body.size(); at += 700) {  // many small writes
      conn.Write(body.substr(at, 700));
      conn.SleepMs(2);
    }
  });
  std::vector<std::pair<std::int32_t, std::int32_t>> blocks;
  int messagesAtEvent = 0;
  c.setOnDownload([&](TmxWebUpdate&, std::int32_t total, std::int32_t done) {
    blocks.emplace_back(total, done);
    EXPECT_EQ(services.processMessages, messagesAtEvent) << "messages handled once after every block";
  });
  services.onProcessMessages = [&] { messagesAtEvent = services.processMessages; };
  File("/big", U((folder_ / "big").string()));
  ASSERT_TRUE(I::DownloadResult(c));
  EXPECT_EQ(ReadFile(folder_ / "big"), body);
  ASSERT_GE(blocks.size(), 6u);
  std::int32_t previous = 0;
  for (const auto& [total, done] : blocks) {
    EXPECT_EQ(total, 6000);
    EXPECT_GT(done, previous);
    EXPECT_LE(done - previous, 1025);
    previous = done;
  }
  EXPECT_EQ(previous, 6000);
  EXPECT_EQ(I::DownloadedSize(c), 6000u);
}

TEST_F(Transfer, AbortFromADownloadHandlerStopsBeforeTheNextRead) {
  server.RouteResponse("/f", TestHttpServer::Response(200, std::string(5000, 'z')));
  int blocks = 0, errors = 0;
  c.setOnDownload([&](TmxWebUpdate& sender, std::int32_t, std::int32_t) {
    ++blocks;
    sender.Abort();
  });
  c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
  File("/f", U((folder_ / "f").string()));
  EXPECT_EQ(blocks, 1);
  EXPECT_FALSE(I::DownloadResult(c));
  EXPECT_EQ(errors, 0);
  EXPECT_EQ(ReadFile(folder_ / "f"), std::string(I::DownloadedSize(c), 'z'));  // what arrived stays
  EXPECT_GT(I::DownloadedSize(c), 0u);
}

TEST_F(Transfer, AbortBeforeATransferHasNoEffectOnIt) {
  server.RouteResponse("/p", TestHttpServer::Response(200, "fine"));
  c.Abort();
  Page("/p");
  EXPECT_TRUE(I::DownloadResult(c));
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"fine"});
}

TEST_F(Transfer, AThrowingDownloadHandlerIsAFailedTransferWithoutEvent) {
  server.RouteResponse("/f", TestHttpServer::Response(200, std::string(3000, 'q')));
  int errors = 0;
  c.setOnDownload([&](TmxWebUpdate&, std::int32_t, std::int32_t) { throw std::runtime_error("handler"); });
  c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
  const auto local = folder_ / "f";
  File("/f", U(local.string()));
  EXPECT_FALSE(I::DownloadResult(c));
  EXPECT_EQ(errors, 0);
  // The file was released: the block written before the handler ran is on disk, and it can go.
  EXPECT_EQ(ReadFile(local).size(), I::DownloadedSize(c));
  EXPECT_TRUE(std::filesystem::remove(local));

  I::Info(c) = {u"kept"};
  c.setOnDownload({});
  c.setOnDownloadError([](TmxWebUpdate&) { throw std::runtime_error("error handler"); });
  server.RouteResponse("/empty", TestHttpServer::Response(200, ""));
  Page("/empty");
  EXPECT_FALSE(I::DownloadResult(c));
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"kept"});
}

TEST_F(Transfer, ASilentServerFailsInBoundedTimeWhileMessagesKeepRunning) {
  platform::HttpSettings().idleTimeoutMs = 500;
  server.Route("/silent", [](Connection& conn) { conn.SleepMs(5000); });
  server.Route("/stall", [](Connection& conn) {
    conn.Write("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nfirst");
    conn.SleepMs(5000);
  });
  for (const char* path : {"/silent", "/stall"}) {
    SCOPED_TRACE(path);
    int errors = 0;
    c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
    services.processMessages = 0;
    const auto start = std::chrono::steady_clock::now();
    File(path, U((folder_ / "stalled").string()));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_FALSE(I::DownloadResult(c));
    EXPECT_EQ(errors, 1);
    EXPECT_LT(elapsed, std::chrono::seconds(4));
    EXPECT_GE(services.processMessages, 3) << "the window is served while the transfer waits";
  }
}

TEST_F(Transfer, AbortDuringAStallEndsTheWaitWithoutEvent) {
  platform::HttpSettings().idleTimeoutMs = 10000;
  server.Route("/stall", [](Connection& conn) {
    conn.Write("HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nfirst");
    conn.SleepMs(8000);
  });
  int errors = 0;
  c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
  services.onProcessMessages = [&] {
    if (services.processMessages == 5) c.Abort();  // a window message asks to stop
  };
  const auto start = std::chrono::steady_clock::now();
  File("/stall", U((folder_ / "s").string()));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
  EXPECT_FALSE(I::DownloadResult(c));
  EXPECT_EQ(errors, 0);
}

// What a hostile or broken server can send. Each ends within the short time-outs, with the
// outcome the result rules give, memory held to the page bound and a file no longer than announced.
TEST_F(Transfer, HostileServersEndInAFailureWithoutHangOrUnboundedGrowth) {
  const std::string head = "HTTP/1.0 200 OK\r\n";
  const auto endless = [](std::string start, std::string piece, int pauseMs) {
    return [start, piece, pauseMs](Connection& conn) {
      if (!conn.Write(start)) return;
      while (conn.Write(piece) && conn.SleepMs(pauseMs)) {
      }
    };
  };
  const auto slow = [](std::string start, std::string piece, int pieces) {
    return [start, piece, pieces](Connection& conn) {
      conn.Write(start);
      for (int i = 0; i < pieces && conn.Write(piece) && conn.SleepMs(100); ++i) {
      }
    };
  };
  struct Case {
    const char* attack;
    TestHttpServer::Responder responder;
    bool toFile;
    bool result;
    bool errorEvent;
    std::optional<std::string> file;  // file mode: the local file afterwards; none: not created
  } cases[] = {
      {"headers that never end", endless(head, "X-Padding: " + std::string(1000, 'p') + "\r\n", 0), false, false,
       true, {}},
      {"headers that never end, to a file", endless(head, "X-Slow: header\r\n", 50), true, false, true, {}},
      {"huge length, slow body, then the end", slow(head + "Content-Length: 2147483647\r\n\r\n", "drip", 5), true,
       false, true, "dripdripdripdripdrip"},
      {"length beyond the integer range with a slow body: raised, never read",
       slow(head + "Content-Length: 99999999999\r\n\r\n", "drip", 50), true, false, false, {}},
      {"negative length with an endless body", endless(head + "Content-Length: -1\r\n\r\n", "x", 0), true, false,
       true, ""},
      {"signed length with an endless body: ends at the announced length",
       endless(head + "Content-Length: +4\r\n\r\n", "x", 0), true, true, false, "xxxx"},
      {"body far longer than announced", endless(head + "Content-Length: 10\r\n\r\n0123456789", "more", 0), true,
       true, false, "0123456789"},
      {"endless body in memory mode", endless(head + "\r\n", std::string(64 * 1024, 'e'), 0), false, false, true, {}},
      {"garbage instead of HTTP", endless("SSH-2.0-OpenSSH_9.2\r\n", std::string(100, '\x9d'), 10), false, false,
       true, {}},
      {"garbage instead of HTTP, to a file", endless("\x16\x03\x01\x02\x00", "\x01", 10), true, false, true, {}},
      {"reset right after the headers",
       [head](Connection& conn) {
         conn.Write(head + "Content-Length: 5000\r\n\r\n");
         conn.SleepMs(200);
         conn.Reset();
       },
       true, false, true, ""},
      {"reset right after the headers, memory mode",
       [head](Connection& conn) {
         conn.Write(head + "Content-Length: 5000\r\n\r\n");
         conn.SleepMs(200);
         conn.Reset();
       },
       false, false, true, {}},
      {"redirect to a local file", [](Connection& conn) {
         conn.Write(TestHttpServer::Response(302, "", true, {"Location: file:///etc/passwd"}));
       }, true, false, true, {}},
      {"redirect to another protocol", [](Connection& conn) {
         conn.Write(TestHttpServer::Response(301, "", true, {"Location: ftp://127.0.0.1/Update.zip"}));
       }, false, false, true, {}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.attack);
    const std::string path = "/hostile" + std::to_string(&k - cases);
    server.Route(path, k.responder);
    const std::filesystem::path local = folder_ / ("hostile" + std::to_string(&k - cases));
    I::Info(c) = {u"old"};
    int errors = 0;
    c.setOnDownloadError([&](TmxWebUpdate&) { ++errors; });
    const auto start = std::chrono::steady_clock::now();
    if (k.toFile)
      File(path, U(local.string()));
    else
      Page(path);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(8));
    EXPECT_EQ(I::DownloadResult(c), k.result);
    EXPECT_EQ(errors, k.errorEvent ? 1 : 0);
    EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"old"}) << "a failed page leaves the lines as they were";
    EXPECT_LE(I::DownloadedSize(c), 16u * 1024 * 1024) << "a page is never held beyond its bound";
    if (k.file)
      EXPECT_EQ(ReadFile(local), *k.file);
    else
      EXPECT_FALSE(std::filesystem::exists(local));
  }
}

TEST_F(Transfer, AddressesWithoutHostUseTheInformationPageHost) {
  server.RouteResponse("/other.htm", TestHttpServer::Response(200, "other"));
  I::TransferURL(c, u"/other.htm", false, false, u"");
  EXPECT_TRUE(I::DownloadResult(c));
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"other"});
  // A port written in the host does not count for http: HTTPPort does.
  I::TransferURL(c, U("127.0.0.1:1/other.htm"), false, false, u"");
  EXPECT_TRUE(I::DownloadResult(c));
}

TEST_F(Transfer, FollowsHttpRedirectsAndAnswersAChallenge) {
  server.RouteResponse("/moved", TestHttpServer::Response(302, "", true, {"Location: /final"}));
  server.RouteResponse("/final", TestHttpServer::Response(200, "arrived"));
  Page("/moved");
  EXPECT_TRUE(I::DownloadResult(c));
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"arrived"});

  server.RouteResponse("/ftp", TestHttpServer::Response(302, "", true, {"Location: ftp://127.0.0.1/x"}));
  I::Info(c) = {u"kept"};
  Page("/ftp");
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"kept"});  // a non-HTTP redirect is never followed

  server.Route("/secret", [](Connection& conn) {
    if (conn.Request().find("Authorization: Basic dXNlcjpwYXNz") == std::string::npos)
      conn.Write(TestHttpServer::Response(401, "who?", true, {"WWW-Authenticate: Basic realm=\"k\""}));
    else
      conn.Write(TestHttpServer::Response(200, "welcome"));
  });
  c.setUserName(u"user");
  c.setPassword(u"pass");
  Page("/secret");
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"welcome"});
  const auto requests = server.Requests();
  ASSERT_GE(requests.size(), 2u);
  EXPECT_EQ(requests[requests.size() - 2].find("Authorization"), std::string::npos)
      << "credentials only in answer to the challenge";
}

TEST(TransferTls, FetchesHttpsAddressesWithTheCertificateVerified) {
  FakeServices services;
  TestHttpServer server({.tls = true});
  server.RouteResponse("/secure.htm", TestHttpServer::Response(200, "secure"));
  const platform::HttpOptions saved = platform::HttpSettings();
  TmxWebUpdate c;
  c.setHTTPPort(1);  // not used for https: the address names its port
  platform::HttpSettings().caFile = TestHttpServer::CaFile();
  I::TransferURL(c, U(server.url("/secure.htm")), false, false, u"");
  EXPECT_TRUE(I::DownloadResult(c));
  EXPECT_EQ(I::Info(c), std::vector<std::u16string>{u"secure"});

  platform::HttpSettings().caFile = TestHttpServer::ForeignCaFile();
  I::Info(c).clear();
  I::TransferURL(c, U(server.url("/secure.htm")), false, false, u"");
  EXPECT_FALSE(I::DownloadResult(c)) << "a certificate that does not verify is refused";
  EXPECT_TRUE(I::Info(c).empty());
  platform::HttpSettings() = saved;
}

}  // namespace
}  // namespace korvanta::test
