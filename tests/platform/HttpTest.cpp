#include "Http.h"

#include "TestHttpServer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <netinet/in.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace {

using namespace korvanta::platform;
using korvanta::test::Connection;
using korvanta::test::TestHttpServer;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;
using testing::HasSubstr;
using testing::MatchesRegex;

struct Address {
  HttpScheme scheme = HttpScheme::Http;
  std::u16string host = u"127.0.0.1";
  std::optional<std::uint16_t> port;
  std::u16string path;
  std::u16string user;
  std::u16string password;
};

Address At(const TestHttpServer& server, std::u16string path, HttpScheme scheme = HttpScheme::Http) {
  Address a;
  a.scheme = scheme;
  a.port = server.port();
  a.path = std::move(path);
  return a;
}

struct Outcome {
  bool sent = false;
  bool hasLength = false;
  std::u16string length;
  std::string body;
  bool lastReadOk = false;  // the read that ended the loop: true means a clean end of the body
  std::string error;
};

// The same sequence the transfer makes: open, connect, request, send, query, read until 0 or failure.
Outcome Fetch(const Address& a, std::uint32_t blockSize = 1025, IdleCallback idle = {}) {
  InternetHandle internet(u"TmxWebUpdate");
  ConnectionHandle connection(internet, a.scheme, a.host, a.port, a.user, a.password);
  RequestHandle request(connection, a.path, std::move(idle));
  Outcome out;
  out.sent = request.Send();
  out.hasLength = request.QueryContentLength(out.length);
  std::vector<unsigned char> block(blockSize);
  for (;;) {
    std::uint32_t got = 12345;
    out.lastReadOk = request.Read(block.data(), blockSize, got);
    if (!out.lastReadOk) {
      EXPECT_EQ(got, 0u);
    }
    if (!out.lastReadOk || got == 0) break;
    EXPECT_LE(got, blockSize);
    out.body.append(reinterpret_cast<const char*>(block.data()), got);
  }
  out.error = request.LastError();
  request.Close();
  connection.Close();
  internet.Close();
  return out;
}

std::u16string Ascii(std::string_view text) { return std::u16string(text.begin(), text.end()); }

long ElapsedMs(Clock::time_point since) {
  return static_cast<long>(std::chrono::duration_cast<milliseconds>(Clock::now() - since).count());
}

// Records when the idle callback runs; optionally gives up after a number of calls.
struct IdleProbe {
  std::vector<Clock::time_point> calls;
  int giveUpAfter = -1;

  IdleCallback Callback(Clock::time_point start) {
    calls.clear();
    calls.push_back(start);
    return [this] {
      calls.push_back(Clock::now());
      return giveUpAfter >= 0 && static_cast<int>(calls.size()) - 1 >= giveUpAfter;
    };
  }
  long LongestGapMs() const {
    long longest = 0;
    for (std::size_t i = 1; i < calls.size(); ++i)
      longest = std::max<long>(longest, std::chrono::duration_cast<milliseconds>(calls[i] - calls[i - 1]).count());
    return longest;
  }
};

// Slices are 100 ms; the margin absorbs scheduling on a loaded machine.
constexpr long kMaxIdleGapMs = 160;

class HttpTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = HttpSettings();
    // Generous enough for a loaded machine, short enough that a fault does not stall the suite.
    HttpSettings().connectTimeoutMs = 3000;
    HttpSettings().idleTimeoutMs = 3000;
  }
  void TearDown() override { HttpSettings() = saved_; }

  static void SetUpTestSuite() {
    // The loopback servers must be reached directly whatever proxy the machine names.
    setenv("no_proxy", "127.0.0.1,localhost", 1);
  }

  HttpOptions saved_;
};

// --- the request that goes out -------------------------------------------------------------------

TEST_F(HttpTest, SendsTheRequestLineAndExactlyThreeHeaders) {
  TestHttpServer server;
  server.RouteResponse("/webupdate.htm", TestHttpServer::Response(200, "page"));
  const Outcome out = Fetch(At(server, u"/webupdate.htm"));
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body, "page");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0], "GET /webupdate.htm HTTP/1.0\r\n"
                                  "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"
                                  "User-Agent: TmxWebUpdate\r\n"
                                  "Accept: */*\r\n"
                                  "\r\n");
}

TEST_F(HttpTest, ObjectPathsBecomeRequestTargets) {
  struct Case {
    std::u16string path;
    std::string target;
  } cases[] = {
      {u"/plain.htm", "/plain.htm"},
      {u"no-slash.htm", "/no-slash.htm"},  // a URL without "/" gives a path without one
      {u"", "/"},
      {u"/a b.htm", "/a%20b.htm"},
      {u"/q.php?x=1&y=2", "/q.php?x=1&y=2"},
      {u"/already%20escaped", "/already%20escaped"},
      {u"/\u00FCber\u20AC", "/%C3%BCber%E2%82%AC"},
      {u"/tab\there", "/tab%09here"},
  };
  TestHttpServer server;
  for (const Case& c : cases) {
    const Outcome out = Fetch(At(server, c.path));
    EXPECT_TRUE(out.sent) << c.target << ": " << out.error;
    ASSERT_FALSE(server.Paths().empty());
    EXPECT_EQ(server.Paths().back(), c.target);
  }
  EXPECT_EQ(server.Paths().size(), std::size(cases));
}

TEST_F(HttpTest, HttpPortComesFromTheConnectionNotFromTheHostText) {
  TestHttpServer server;
  server.RouteResponse("/p", TestHttpServer::Response(200, "reached"));
  Address a = At(server, u"/p");
  a.host = u"127.0.0.1:1";
  const Outcome out = Fetch(a);
  EXPECT_EQ(out.body, "reached") << out.error;
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_THAT(server.Requests()[0], HasSubstr("\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n"));
}

TEST_F(HttpTest, GoesThroughTheSystemProxy) {
  TestHttpServer proxy;
  proxy.RouteResponse("http://updates.korvanta.example/webupdate.htm", TestHttpServer::Response(200, "via proxy"));
  setenv("http_proxy", proxy.url("").c_str(), 1);
  Address a;
  a.host = u"updates.korvanta.example";
  a.port = 80;
  a.path = u"/webupdate.htm";
  const Outcome out = Fetch(a);
  unsetenv("http_proxy");
  EXPECT_EQ(out.body, "via proxy") << out.error;
  ASSERT_EQ(proxy.Requests().size(), 1u);
  EXPECT_EQ(proxy.Requests()[0], "GET http://updates.korvanta.example/webupdate.htm HTTP/1.0\r\n"
                                 "Host: updates.korvanta.example\r\n"
                                 "User-Agent: TmxWebUpdate\r\n"
                                 "Accept: */*\r\n"
                                 "\r\n");
}

// --- credentials ---------------------------------------------------------------------------------

void ChallengeUnlessAuthorised(Connection& c, const std::string& expected) {
  if (c.Request().find("\r\nAuthorization: " + expected + "\r\n") != std::string::npos)
    c.Write(TestHttpServer::Response(200, "granted"));
  else
    c.Write(TestHttpServer::Response(401, "denied", true, {"WWW-Authenticate: Basic realm=\"updates\""}));
}

TEST_F(HttpTest, CredentialsAreNotSentBeforeTheServerAsks) {
  TestHttpServer server;
  server.Route("/secret", [](Connection& c) { ChallengeUnlessAuthorised(c, "Basic dXNlcjpwYXNz"); });
  Address a = At(server, u"/secret");
  a.user = u"user";
  a.password = u"pass";
  const Outcome out = Fetch(a);
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body, "granted");
  EXPECT_EQ(out.length, u"7");  // the challenge's Content-Length does not count
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_THAT(requests[0], testing::Not(HasSubstr("Authorization")));
  EXPECT_THAT(requests[1], HasSubstr("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"));
}

TEST_F(HttpTest, WithoutAUserNameTheChallengeIsTheResponse) {
  TestHttpServer server;
  server.Route("/secret", [](Connection& c) { ChallengeUnlessAuthorised(c, "Basic dXNlcjpwYXNz"); });
  const Outcome out = Fetch(At(server, u"/secret"));
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body, "denied");  // the status is the caller's business, the body is the content
  EXPECT_EQ(out.length, u"6");
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(HttpTest, CredentialsAreNotForwardedToARedirectedServer) {
  TestHttpServer elsewhere;
  elsewhere.Route("/grab", [](Connection& c) { ChallengeUnlessAuthorised(c, "Basic dXNlcjpwYXNz"); });
  TestHttpServer server;
  server.Route("/secret", [&](Connection& c) {
    if (c.Request().find("Authorization:") == std::string::npos)
      c.Write(TestHttpServer::Response(401, "", true, {"WWW-Authenticate: Basic realm=\"updates\""}));
    else
      c.Write(TestHttpServer::Response(302, "", true, {"Location: " + elsewhere.url("/grab")}));
  });
  Address a = At(server, u"/secret");
  a.user = u"user";
  a.password = u"pass";
  const Outcome out = Fetch(a);
  EXPECT_EQ(out.body, "denied");
  for (const std::string& request : elsewhere.Requests()) EXPECT_THAT(request, testing::Not(HasSubstr("Authorization")));
  EXPECT_FALSE(elsewhere.Requests().empty());
}

// --- Content-Length and the body -----------------------------------------------------------------

TEST_F(HttpTest, ContentLengthArrivesAsTextAndFramesTheBodyOnlyWhenValid) {
  struct Case {
    std::string header;  // the whole header line, or empty for none
    bool hasLength;
    std::u16string text;
    std::string body;
    std::string expectedBody;
    bool cleanEnd;
  } cases[] = {
      {"Content-Length: 4", true, u"4", "body", "body", true},
      {"Content-Length:  \t4 \t", true, u"4", "body", "body", true},
      {"content-length: 4", true, u"4", "body", "body", true},
      // Not a count: handed over as written, and the body runs until the connection closes.
      {"Content-Length: abc", true, u"abc", "body", "body", true},
      {"Content-Length: -5", true, u"-5", "body", "body", true},
      {"Content-Length: +4", true, u"+4", "body", "body", true},
      {"Content-Length:", true, u"", "body", "body", true},
      // A count larger than what arrives: the early close is a failed read.
      {"Content-Length: 99999999999", true, u"99999999999", "body", "body", false},
      {"", false, u"", "body", "body", true},
      // The value must fit a 512-character buffer with its terminator.
      {"Content-Length: " + std::string(510, '0') + "4", true, std::u16string(510, u'0') + u"4", "body", "body",
       true},
      {"Content-Length: " + std::string(511, '0') + "4", false, u"", "body", "body", true},
  };
  TestHttpServer server;
  int n = 0;
  for (const Case& c : cases) {
    const std::string path = "/length/" + std::to_string(n++);
    server.RouteResponse(path, "HTTP/1.0 200 OK\r\n" + (c.header.empty() ? "" : c.header + "\r\n") + "\r\n" + c.body);
    const Outcome out = Fetch(At(server, Ascii(path)));
    SCOPED_TRACE(c.header);
    EXPECT_TRUE(out.sent);
    EXPECT_EQ(out.hasLength, c.hasLength);
    if (c.hasLength) {
      EXPECT_EQ(out.length, c.text);
    }
    EXPECT_EQ(out.body, c.expectedBody);
    EXPECT_EQ(out.lastReadOk, c.cleanEnd) << out.error;
  }
}

TEST_F(HttpTest, ReadsNeverExceedTheAskedSizeAndAddUpToTheBody) {
  std::string big(300 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) >> 3);
  TestHttpServer server;
  server.RouteResponse("/big", TestHttpServer::Response(200, big));
  server.RouteResponse("/unframed", TestHttpServer::Response(200, big, false));
  server.Route("/trickle", [&](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 3000\r\n\r\n");
    for (std::size_t i = 0; i < 3000; i += 10) c.Write(std::string_view(big).substr(i, 10));
  });
  for (std::uint32_t blockSize : {1u, 1025u, 70000u, 1u << 20}) {
    SCOPED_TRACE(blockSize);
    if (blockSize != 1) {  // a byte at a time through 300 KiB is slow under the sanitizers
      EXPECT_EQ(Fetch(At(server, u"/big"), blockSize).body, big);
      EXPECT_EQ(Fetch(At(server, u"/unframed"), blockSize).body, big);
    }
    const Outcome trickle = Fetch(At(server, u"/trickle"), blockSize);
    EXPECT_EQ(trickle.body, big.substr(0, 3000));
    EXPECT_TRUE(trickle.lastReadOk);
  }
}

TEST_F(HttpTest, BodyEndsAtTheAnnouncedLengthWhenTheServerSendsMore) {
  TestHttpServer server;
  server.Route("/more", [](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhelloEXTRA BYTES");
    c.SleepMs(3000);  // keeps the connection open: only the count can end the body
  });
  const auto start = Clock::now();
  const Outcome out = Fetch(At(server, u"/more"));
  EXPECT_EQ(out.body, "hello");
  EXPECT_TRUE(out.lastReadOk);
  EXPECT_LT(ElapsedMs(start), 1500);
}

TEST_F(HttpTest, ZeroContentLengthIsAnEmptyBody) {
  TestHttpServer server;
  server.Route("/empty", [](Connection& c) {
    c.Write(TestHttpServer::Response(200, ""));
    c.SleepMs(3000);
  });
  const auto start = Clock::now();
  const Outcome out = Fetch(At(server, u"/empty"));
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.length, u"0");
  EXPECT_EQ(out.body, "");
  EXPECT_TRUE(out.lastReadOk);
  EXPECT_LT(ElapsedMs(start), 1500);
}

TEST_F(HttpTest, SendReturnsWithTheHeadersBeforeTheBody) {
  TestHttpServer server;
  server.Route("/late", [](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\n");
    c.SleepMs(700);
    c.Write("late");
  });
  InternetHandle internet(u"TmxWebUpdate");
  ConnectionHandle connection(internet, HttpScheme::Http, u"127.0.0.1", server.port(), u"", u"");
  RequestHandle request(connection, u"/late", {});
  const auto start = Clock::now();
  ASSERT_TRUE(request.Send());
  EXPECT_LT(ElapsedMs(start), 500);
  std::u16string length;
  EXPECT_TRUE(request.QueryContentLength(length));
  EXPECT_EQ(length, u"4");

  RequestHandle moved = std::move(request);  // the transfer survives a move of its handle
  EXPECT_FALSE(request.valid());
  unsigned char block[1025];
  std::uint32_t got = 0;
  ASSERT_TRUE(moved.Read(block, sizeof block, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), got), "late");
  EXPECT_TRUE(moved.Read(block, sizeof block, got));
  EXPECT_EQ(got, 0u);
}

TEST_F(HttpTest, ConnectionLostDuringTheBody) {
  const std::string part(3000, 'x');
  TestHttpServer server;
  server.Route("/closed-early", [&](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 10000\r\n\r\n" + part);
  });
  server.Route("/closed-unframed", [&](Connection& c) { c.Write("HTTP/1.0 200 OK\r\n\r\n" + part); });
  server.Route("/reset", [&](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 10000\r\n\r\n" + part);
    c.SleepMs(200);
    c.Reset();
  });

  // An orderly close before the announced count: what arrived is delivered, then the read fails.
  Outcome out = Fetch(At(server, u"/closed-early"));
  EXPECT_EQ(out.body, part);
  EXPECT_FALSE(out.lastReadOk);
  EXPECT_EQ(out.error, "the connection closed after 3000 of 10000 bytes");

  // Without a count, the close is the end of the body.
  out = Fetch(At(server, u"/closed-unframed"));
  EXPECT_EQ(out.body, part);
  EXPECT_TRUE(out.lastReadOk);

  // A reset is a failure as curl reports it; the bytes that got through come first.
  out = Fetch(At(server, u"/reset"));
  EXPECT_TRUE(out.sent);
  EXPECT_FALSE(out.lastReadOk);
  EXPECT_EQ(out.body, part);
  EXPECT_THAT(out.error, HasSubstr("reset by peer"));
}

// --- redirects -----------------------------------------------------------------------------------

TEST_F(HttpTest, FollowsRedirectsAndReportsTheFinalResponse) {
  TestHttpServer other;
  other.RouteResponse("/there", TestHttpServer::Response(200, "other server"));
  TestHttpServer server;
  server.RouteResponse("/final", TestHttpServer::Response(200, "final page"));
  server.RouteResponse("/moved/final", TestHttpServer::Response(200, "relative page"));
  struct Case {
    int status;
    std::string location;
    std::string body;
  } cases[] = {
      {302, server.url("/final"), "final page"},
      {301, "/final", "final page"},  // a host-less location
      {303, "final", "relative page"},  // relative to /moved/
      {307, other.url("/there"), "other server"},  // another port: not the connection's
      {308, "/final", "final page"},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.location);
    const std::string path = "/moved/" + std::to_string(n++);
    // The redirect's own body and Content-Length must not leak into the result.
    server.RouteResponse(path, TestHttpServer::Response(c.status, "moved away", true, {"Location: " + c.location}));
    const Outcome out = Fetch(At(server, Ascii(path)));
    EXPECT_TRUE(out.sent) << out.error;
    EXPECT_EQ(out.body, c.body);
    EXPECT_EQ(out.length, Ascii(std::to_string(c.body.size())));
    EXPECT_TRUE(out.lastReadOk);
  }
}

TEST_F(HttpTest, RefusesARedirectToAnotherProtocol) {
  TestHttpServer server;
  server.RouteResponse("/to-ftp", TestHttpServer::Response(302, "", true, {"Location: ftp://127.0.0.1/file"}));
  server.RouteResponse("/to-file", TestHttpServer::Response(302, "", true, {"Location: file:///etc/passwd"}));
  for (const char16_t* path : {u"/to-ftp", u"/to-file"}) {
    const Outcome out = Fetch(At(server, path));
    EXPECT_FALSE(out.sent);
    EXPECT_FALSE(out.hasLength);
    EXPECT_FALSE(out.lastReadOk);
    EXPECT_EQ(out.body, "");
    EXPECT_THAT(out.error, HasSubstr("not supported or disabled"));
  }
}

TEST_F(HttpTest, StopsAnEndlessRedirectChainAfterTen) {
  TestHttpServer server;
  // /chain/k redirects k times before the page.
  for (int k = 0; k <= 11; ++k) {
    const std::string path = "/chain/" + std::to_string(k);
    if (k == 0)
      server.RouteResponse(path, TestHttpServer::Response(200, "end of chain"));
    else
      server.RouteResponse(path, TestHttpServer::Response(302, "", true, {"Location: /chain/" + std::to_string(k - 1)}));
  }
  const Outcome ten = Fetch(At(server, u"/chain/10"));
  EXPECT_TRUE(ten.sent);
  EXPECT_EQ(ten.body, "end of chain");

  const Outcome eleven = Fetch(At(server, u"/chain/11"));
  EXPECT_FALSE(eleven.sent);
  EXPECT_EQ(eleven.body, "");
  EXPECT_EQ(eleven.error, "Maximum (10) redirects followed");
}

// --- waiting, time-outs and the idle callback -----------------------------------------------------

TEST_F(HttpTest, SilentServerTimesOutWhileTheIdleCallbackKeepsRunning) {
  HttpSettings().idleTimeoutMs = 400;
  TestHttpServer server;
  server.Route("/silent", [](Connection& c) { c.SleepMs(5000); });
  IdleProbe probe;
  const auto start = Clock::now();
  const Outcome out = Fetch(At(server, u"/silent"), 1025, probe.Callback(start));
  const long elapsed = ElapsedMs(start);
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.error, "no data from the server for 400 ms");
  EXPECT_GE(elapsed, 380);
  EXPECT_LT(elapsed, 1200);
  EXPECT_GE(probe.calls.size(), 4u);
  EXPECT_LE(probe.LongestGapMs(), kMaxIdleGapMs);
}

TEST_F(HttpTest, StalledBodyTimesOutAfterWhatArrived) {
  HttpSettings().idleTimeoutMs = 400;
  TestHttpServer server;
  server.Route("/stall", [](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 1000\r\n\r\n" + std::string(100, 'b'));
    c.SleepMs(5000);
  });
  IdleProbe probe;
  const auto start = Clock::now();
  const Outcome out = Fetch(At(server, u"/stall"), 1025, probe.Callback(start));
  const long elapsed = ElapsedMs(start);
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body, std::string(100, 'b'));
  EXPECT_FALSE(out.lastReadOk);
  EXPECT_EQ(out.error, "no data from the server for 400 ms");
  EXPECT_GE(elapsed, 380);
  EXPECT_LT(elapsed, 1200);
  EXPECT_LE(probe.LongestGapMs(), kMaxIdleGapMs);
}

TEST_F(HttpTest, AHandshakeThatNeverCompletesHitsTheConnectTimeout) {
  HttpSettings().connectTimeoutMs = 400;
  TestHttpServer plain;  // accepts, then waits for an HTTP request that a TLS client never sends
  IdleProbe probe;
  const auto start = Clock::now();
  const Outcome out = Fetch(At(plain, u"/x", HttpScheme::Https), 1025, probe.Callback(start));
  const long elapsed = ElapsedMs(start);
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.error, "SSL connection timeout");
  EXPECT_GE(elapsed, 380);
  EXPECT_LT(elapsed, 1200);
  EXPECT_LE(probe.LongestGapMs(), kMaxIdleGapMs);
}

TEST_F(HttpTest, IdleCallbackGivesUpAWaitPromptly) {
  TestHttpServer server;
  server.Route("/silent", [](Connection& c) { c.SleepMs(5000); });
  server.Route("/stall", [](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\n\r\nsome");
    c.SleepMs(5000);
  });
  IdleProbe probe;
  probe.giveUpAfter = 2;
  auto start = Clock::now();
  Outcome out = Fetch(At(server, u"/silent"), 1025, probe.Callback(start));
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.error, "the wait was given up");
  EXPECT_LT(ElapsedMs(start), 600);

  start = Clock::now();
  out = Fetch(At(server, u"/stall"), 1025, probe.Callback(start));
  EXPECT_TRUE(out.sent);
  EXPECT_EQ(out.body, "some");
  EXPECT_FALSE(out.lastReadOk);
  EXPECT_EQ(out.error, "the wait was given up");
  EXPECT_LT(ElapsedMs(start), 600);
}

TEST_F(HttpTest, AnExceptionFromTheIdleCallbackReachesTheCaller) {
  TestHttpServer server;
  server.Route("/stall", [](Connection& c) {
    c.Write("HTTP/1.0 200 OK\r\nContent-Length: 10\r\n\r\nsome");
    c.SleepMs(5000);
  });
  server.Route("/silent", [](Connection& c) { c.SleepMs(5000); });
  bool armed = false;
  const auto thrower = [&armed] {
    if (armed) throw std::runtime_error("handler failed");
    return false;
  };
  InternetHandle internet(u"TmxWebUpdate");
  ConnectionHandle connection(internet, HttpScheme::Http, u"127.0.0.1", server.port(), u"", u"");
  {
    RequestHandle request(connection, u"/silent", thrower);
    armed = true;
    EXPECT_THROW(request.Send(), std::runtime_error);
  }
  armed = false;
  RequestHandle request(connection, u"/stall", thrower);
  ASSERT_TRUE(request.Send());
  unsigned char block[1025];
  std::uint32_t got = 0;
  ASSERT_TRUE(request.Read(block, sizeof block, got));
  EXPECT_EQ(got, 4u);
  armed = true;
  EXPECT_THROW(request.Read(block, sizeof block, got), std::runtime_error);
  EXPECT_EQ(got, 0u);
  request.Close();  // releases everything; the sanitizer build checks for leaks
  EXPECT_FALSE(request.valid());
}

// --- TLS -----------------------------------------------------------------------------------------

TEST_F(HttpTest, HttpsWithTheTrustedAuthoritySucceeds) {
  TestHttpServer server({.tls = true});
  server.RouteResponse("/secure", TestHttpServer::Response(200, "over tls"));
  HttpSettings().caFile = TestHttpServer::CaFile();
  Outcome out = Fetch(At(server, u"/secure", HttpScheme::Https));
  EXPECT_TRUE(out.sent) << out.error;
  EXPECT_EQ(out.body, "over tls");
  EXPECT_EQ(out.length, u"8");
  EXPECT_TRUE(out.lastReadOk);

  // Without a port of its own, https uses the one the host text names.
  Address a = At(server, u"/secure", HttpScheme::Https);
  a.host = u"localhost:" + Ascii(std::to_string(server.port()));
  a.port.reset();
  out = Fetch(a);
  EXPECT_EQ(out.body, "over tls") << out.error;
  ASSERT_EQ(server.Requests().size(), 2u);
  EXPECT_EQ(server.Requests()[1], "GET /secure HTTP/1.0\r\n"
                                  "Host: localhost:" + std::to_string(server.port()) + "\r\n"
                                  "User-Agent: TmxWebUpdate\r\n"
                                  "Accept: */*\r\n"
                                  "\r\n");
}

TEST_F(HttpTest, RefusesAServerCertifiedByAnUnknownAuthority) {
  TestHttpServer server({.tls = true});
  server.RouteResponse("/secure", TestHttpServer::Response(200, "over tls"));
  HttpSettings().caFile = TestHttpServer::ForeignCaFile();
  const Outcome out = Fetch(At(server, u"/secure", HttpScheme::Https));
  EXPECT_FALSE(out.sent);
  EXPECT_EQ(out.body, "");
  EXPECT_THAT(out.error, HasSubstr("SSL certificate problem"));
  EXPECT_TRUE(server.Requests().empty());
}

// --- failed stages and empty objects -------------------------------------------------------------

TEST_F(HttpTest, EveryCallOnAnEmptyOrClosedStageFails) {
  unsigned char block[16];
  std::uint32_t got = 99;
  std::u16string length = u"untouched";

  RequestHandle none;
  EXPECT_FALSE(none.valid());
  EXPECT_FALSE(none.Send());
  EXPECT_FALSE(none.QueryContentLength(length));
  EXPECT_FALSE(none.Read(block, sizeof block, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(none.LastError(), "the request handle is not open");
  none.Close();

  InternetHandle internet;  // never opened
  ConnectionHandle connection(internet, HttpScheme::Http, u"127.0.0.1", 80, u"", u"");
  EXPECT_FALSE(connection.valid());
  RequestHandle request(connection, u"/", {});
  EXPECT_FALSE(request.valid());
  EXPECT_FALSE(request.Send());

  InternetHandle open(u"TmxWebUpdate");
  open.Close();
  EXPECT_FALSE(open.valid());
  EXPECT_FALSE(ConnectionHandle(open, HttpScheme::Http, u"h", 80, u"", u"").valid());

  InternetHandle again(u"TmxWebUpdate");
  ConnectionHandle closed(again, HttpScheme::Http, u"127.0.0.1", 80, u"", u"");
  ASSERT_TRUE(closed.valid());
  closed.Close();
  EXPECT_FALSE(RequestHandle(closed, u"/", {}).valid());
  EXPECT_EQ(length, u"untouched");
}

TEST_F(HttpTest, ReadBeforeSendAndSendTwiceFail) {
  TestHttpServer server;
  server.RouteResponse("/p", TestHttpServer::Response(200, "abc"));
  InternetHandle internet(u"TmxWebUpdate");
  ConnectionHandle connection(internet, HttpScheme::Http, u"127.0.0.1", server.port(), u"", u"");
  RequestHandle request(connection, u"/p", {});
  unsigned char block[16];
  std::uint32_t got = 7;
  EXPECT_FALSE(request.Read(block, sizeof block, got));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(request.LastError(), "the request was not sent");
  ASSERT_TRUE(request.Send());
  EXPECT_FALSE(request.Send());
  EXPECT_EQ(request.LastError(), "the request was already sent");
  ASSERT_TRUE(request.Read(block, sizeof block, got));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(block), got), "abc");
}

std::uint16_t UnusedPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  ::close(fd);  // nothing listens there now
  return ntohs(address.sin_port);
}

TEST_F(HttpTest, UnusableAddressesFailAtSend) {
  struct Case {
    std::u16string host;
    std::optional<std::uint16_t> port;
    std::string error;  // a regular expression
  } cases[] = {
      {u"", 80, "no host name: http:///p"},
      {u"user:secret@127.0.0.1", 80, "the host name carries user information: user:secret@127.0.0.1"},
      {u"bad host", 80, "the address cannot be used: .*"},
      {u"127.0.0.1", UnusedPort(), "Failed to connect to 127.0.0.1 port [0-9]+.*"},
  };
  for (const Case& c : cases) {
    Address a;
    a.host = c.host;
    a.port = c.port;
    a.path = u"/p";
    const Outcome out = Fetch(a);
    EXPECT_FALSE(out.sent);
    EXPECT_FALSE(out.hasLength);
    EXPECT_FALSE(out.lastReadOk);
    EXPECT_THAT(out.error, MatchesRegex(c.error));
  }
}

}  // namespace
