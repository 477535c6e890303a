#include "TestHttpServer.h"

#include "TestCertificates.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <stdexcept>

namespace korvanta::test {

void SslDeleter::operator()(ssl_st* ssl) const { SSL_free(ssl); }
void SslContextDeleter::operator()(ssl_ctx_st* context) const { SSL_CTX_free(context); }

namespace {

constexpr std::size_t kMaxRequest = 64 * 1024;
constexpr int kLingerMs = 2000;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error("test HTTP server: " + what + ": " + std::strerror(errno));
}

const char* Reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

std::string TargetOf(const std::string& request) {
  const std::size_t first = request.find(' ');
  if (first == std::string::npos) return {};
  const std::size_t second = request.find_first_of(" \r\n", first + 1);
  return request.substr(first + 1, second == std::string::npos ? std::string::npos : second - first - 1);
}

}  // namespace

// --- Connection ---------------------------------------------------------------------------------

Connection::Connection(TestHttpServer& server, int fd) : server_(server), fd_(fd) {}

Connection::~Connection() { Close(); }

bool Connection::Receive(std::string& into) {
  if (fd_ < 0) return false;
  char chunk[4096];
  for (;;) {
    const int n = ssl_ ? SSL_read(ssl_.get(), chunk, sizeof chunk)
                       : static_cast<int>(::recv(fd_, chunk, sizeof chunk, 0));
    if (n > 0) {
      into.append(chunk, static_cast<std::size_t>(n));
      return true;
    }
    if (!ssl_ && n < 0 && errno == EINTR) continue;
    return false;
  }
}

bool Connection::Write(std::string_view bytes) {
  while (fd_ >= 0 && !bytes.empty()) {
    int n;
    if (ssl_) {
      n = SSL_write(ssl_.get(), bytes.data(), static_cast<int>(bytes.size()));
    } else {
      n = static_cast<int>(::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL));
      if (n < 0 && errno == EINTR) continue;
    }
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return fd_ >= 0;
}

bool Connection::SleepMs(int milliseconds) {
  std::unique_lock lock(server_.mutex_);
  return !server_.stopping_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                     [this] { return server_.stopped_; });
}

void Connection::Reset() {
  if (fd_ < 0) return;
  const linger abort{1, 0};
  ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  Release();
}

void Connection::Close() {
  if (fd_ < 0) return;
  if (ssl_) SSL_shutdown(ssl_.get());  // sends close_notify; the peer's answer is not awaited
  ::shutdown(fd_, SHUT_WR);
  // Read until the peer closes (bounded), so that its last bytes never meet a closed socket.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kLingerMs);
  char sink[4096];
  while (!server_.Stopping() && std::chrono::steady_clock::now() < deadline) {
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, 50);
    if (ready < 0 && errno != EINTR) break;
    if (ready > 0 && ::recv(fd_, sink, sizeof sink, 0) <= 0) break;
  }
  Release();
}

void Connection::Release() {
  ssl_.reset();
  server_.CloseDescriptor(fd_);
  fd_ = -1;
}

// --- TestHttpServer ----------------------------------------------------------------------------

TestHttpServer::TestHttpServer(Options options) : options_(options) {
  std::signal(SIGPIPE, SIG_IGN);
  if (options_.tls) {
    const TestTlsIdentity& identity = TestTls();
    tls_.reset(SSL_CTX_new(TLS_server_method()));
    if (!tls_ || SSL_CTX_use_certificate(tls_.get(), identity.serverCertificate) != 1 ||
        SSL_CTX_use_PrivateKey(tls_.get(), identity.serverKey) != 1)
      throw std::runtime_error("test HTTP server: TLS context");
  }

  listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) Fail("socket");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;  // a free port, chosen by the system
  socklen_t length = sizeof address;
  if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listenFd_, 64) != 0 ||
      ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(listenFd_);
    Fail("listen");
  }
  port_ = ntohs(address.sin_port);
  if (::pipe2(wakeFds_, O_CLOEXEC) != 0) {
    ::close(listenFd_);
    Fail("pipe");
  }
  acceptor_ = std::thread([this] { AcceptLoop(); });
}

TestHttpServer::~TestHttpServer() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (int fd : openFds_) ::shutdown(fd, SHUT_RDWR);  // wakes blocked reads and writes
  }
  stopping_.notify_all();
  const char wake = 1;
  (void)!::write(wakeFds_[1], &wake, 1);
  acceptor_.join();
  // The acceptor is gone, so the list no longer grows.
  for (std::thread& worker : workers_) worker.join();
  ::close(listenFd_);
  ::close(wakeFds_[0]);
  ::close(wakeFds_[1]);
}

bool TestHttpServer::Stopping() const {
  std::lock_guard lock(mutex_);
  return stopped_;
}

std::string TestHttpServer::url(const std::string& path) const {
  return std::string(options_.tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) + path;
}

void TestHttpServer::Route(const std::string& target, Responder responder) {
  std::lock_guard lock(mutex_);
  routes_[target] = std::move(responder);
}

void TestHttpServer::RouteResponse(const std::string& target, std::string rawResponse) {
  Route(target, [raw = std::move(rawResponse)](Connection& connection) { connection.Write(raw); });
}

std::string TestHttpServer::Response(int status, const std::string& body, bool withContentLength,
                                     const std::vector<std::string>& extraHeaders) {
  std::string out = "HTTP/1.0 " + std::to_string(status) + " " + Reason(status) + "\r\n";
  for (const std::string& header : extraHeaders) out += header + "\r\n";
  if (withContentLength) out += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  out += "\r\n";
  out += body;
  return out;
}

std::vector<std::string> TestHttpServer::Requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

std::vector<std::string> TestHttpServer::Paths() const {
  std::lock_guard lock(mutex_);
  return paths_;
}

const std::string& TestHttpServer::CaFile() { return TestTls().caFile; }
const std::string& TestHttpServer::ForeignCaFile() { return TestTls().foreignCaFile; }

void TestHttpServer::CloseDescriptor(int fd) {
  std::lock_guard lock(mutex_);
  openFds_.erase(fd);
  ::close(fd);
}

void TestHttpServer::AcceptLoop() {
  for (;;) {
    pollfd waits[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
    if (::poll(waits, 2, -1) < 0 && errno != EINTR) return;
    if (waits[1].revents != 0) return;
    if ((waits[0].revents & POLLIN) == 0) continue;
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    std::lock_guard lock(mutex_);
    if (stopped_) {
      ::close(fd);
      return;
    }
    openFds_.insert(fd);
    workers_.emplace_back([this, fd] { Serve(fd); });
  }
}

void TestHttpServer::Serve(int fd) {
  Connection connection(*this, fd);
  try {
    if (tls_) {
      connection.ssl_.reset(SSL_new(tls_.get()));
      if (!connection.ssl_ || SSL_set_fd(connection.ssl_.get(), fd) != 1 || SSL_accept(connection.ssl_.get()) != 1) {
        ERR_clear_error();
        connection.Reset();  // a failed handshake (such as a client refusing the certificate)
        return;
      }
    }
    std::string received;
    std::size_t headerEnd;
    while ((headerEnd = received.find("\r\n\r\n")) == std::string::npos) {
      if (received.size() > kMaxRequest || !connection.Receive(received)) return;
    }
    connection.request_ = received.substr(0, headerEnd + 4);

    Responder responder;
    {
      std::lock_guard lock(mutex_);
      requests_.push_back(connection.request_);
      paths_.push_back(TargetOf(connection.request_));
      const auto route = routes_.find(paths_.back());
      if (route != routes_.end()) responder = route->second;
    }
    if (responder)
      responder(connection);
    else
      connection.Write(Response(404, "<html><body>Not Found</body></html>"));
    connection.Close();
  } catch (...) {
    // A responder's failure shows up in the test as a missing or broken response.
    connection.Reset();
  }
}

}  // namespace korvanta::test
