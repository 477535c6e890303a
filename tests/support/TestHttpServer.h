// A loopback HTTP(S) server for tests: it binds 127.0.0.1 on a free port, reads one request per
// connection (request line and headers, no body), hands the connection to the responder routed
// for the request target, and closes the connection when the responder returns.
//
//   TestHttpServer server;                                   // or TestHttpServer server({.tls = true});
//   server.RouteResponse("/page", TestHttpServer::Response(200, "hello"));
//   server.Route("/slow", [](Connection& c) { c.Write(head); c.SleepMs(200); c.Write(rest); });
//   ... GET server.url("/page") ...
//   EXPECT_EQ(server.Paths(), (std::vector<std::string>{"/page"}));
//
// Unknown targets get a 404 with a small body and a Content-Length. The destructor stops the
// server promptly: blocked reads and writes are woken by shutting the sockets down, and SleepMs
// returns early, so a responder that waits on SleepMs never holds the test binary.
// TLS uses a certificate for 127.0.0.1 and localhost signed by a CA made at run time; point the
// client at CaFile() (or ForeignCaFile() for a CA the server's certificate does not chain to).
// Constructing a server makes the process ignore SIGPIPE, so a write to a vanished peer fails
// with an error instead of ending the test binary.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

struct ssl_st;
struct ssl_ctx_st;

namespace korvanta::test {

class TestHttpServer;

struct SslDeleter {
  void operator()(ssl_st* ssl) const;
};
struct SslContextDeleter {
  void operator()(ssl_ctx_st* context) const;
};

// One accepted connection, as a responder sees it. Every call is harmless after Close or Reset.
class Connection {
 public:
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection();

  // The raw request: request line and headers up to and including the empty line.
  const std::string& Request() const { return request_; }
  // Sends all bytes; false when the peer is gone or the connection is closed.
  bool Write(std::string_view bytes);
  // Waits; returns false early when the server is stopping.
  bool SleepMs(int milliseconds);
  // Aborts the connection: the peer sees a reset, not an orderly end.
  void Reset();
  // Orderly end (TLS close_notify, then FIN); waits briefly for the peer to close its side so
  // that no unread byte turns the close into a reset.
  void Close();

 private:
  friend class TestHttpServer;
  Connection(TestHttpServer& server, int fd);
  bool Receive(std::string& into);  // false at end of stream or on error
  void Release();

  TestHttpServer& server_;
  int fd_;
  std::unique_ptr<ssl_st, SslDeleter> ssl_;
  std::string request_;
};

class TestHttpServer {
 public:
  struct Options {
    bool tls = false;  // serve HTTPS with the test certificate
  };
  using Responder = std::function<void(Connection&)>;

  TestHttpServer() : TestHttpServer(Options{}) {}
  explicit TestHttpServer(Options options);
  TestHttpServer(const TestHttpServer&) = delete;
  TestHttpServer& operator=(const TestHttpServer&) = delete;
  ~TestHttpServer();

  std::uint16_t port() const { return port_; }
  // "http://127.0.0.1:<port><path>", or https when serving TLS.
  std::string url(const std::string& path) const;

  // Exact match on the request line's target (for a proxy request, the absolute address).
  void Route(const std::string& target, Responder responder);
  // Writes these bytes, then closes.
  void RouteResponse(const std::string& target, std::string rawResponse);

  // "HTTP/1.0 <status> <reason>", the extra header lines as given, "Content-Length" when asked, the body.
  static std::string Response(int status, const std::string& body, bool withContentLength = true,
                              const std::vector<std::string>& extraHeaders = {});

  // Every complete request received, in order of arrival: raw bytes, and the request targets.
  std::vector<std::string> Requests() const;
  std::vector<std::string> Paths() const;

  static const std::string& CaFile();
  static const std::string& ForeignCaFile();

 private:
  friend class Connection;
  void AcceptLoop();
  void Serve(int fd);
  void CloseDescriptor(int fd);
  bool Stopping() const;

  Options options_;
  std::unique_ptr<ssl_ctx_st, SslContextDeleter> tls_;
  int listenFd_ = -1;
  int wakeFds_[2] = {-1, -1};  // a pipe that wakes the accept loop at shutdown
  std::uint16_t port_ = 0;

  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  std::set<int> openFds_;  // closed only under mutex_, so shutdown never hits a reused number
  std::map<std::string, Responder> routes_;
  std::vector<std::string> requests_;
  std::vector<std::string> paths_;
  std::vector<std::thread> workers_;
  std::thread acceptor_;
};

}  // namespace korvanta::test
