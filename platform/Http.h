// A pull-style HTTP client in the shape the transfer needs: open, connect, open a request, send it,
// ask for the Content-Length as text, read the body in blocks of the caller's size, close.
// Each stage is an object that releases what it holds when it goes (or on Close). A stage that
// failed is an empty object, and every call on an empty object fails, so the caller may go on
// without testing each step.
//
// Underneath is libcurl's multi interface: the network is read in large chunks into one receive
// buffer, and Read hands out the caller's blocks from it. Whenever the client waits (connecting,
// waiting for the headers, a stalled body) it calls the idle callback at least every
// HttpSettings().waitSliceMs milliseconds; the callback returns true to give up the wait.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace korvanta::platform {

struct HttpOptions {
  long connectTimeoutMs = 30000;  // to establish the connection (TLS handshake included)
  long idleTimeoutMs = 60000;     // without a byte from the server, once connected
  long headersTimeoutMs = 90000;  // from sending the request to the final response's headers
  unsigned waitSliceMs = 100;     // the longest wait between two idle calls
  long maxRedirects = 10;         // HTTP redirects followed, to http and https addresses only
  std::string caFile;             // certificate authorities; empty: the system's trust store
};

// Process-wide settings, read when a request is opened. Tests shorten the time-outs.
HttpOptions& HttpSettings();

using IdleCallback = std::function<bool()>;

enum class HttpScheme { Http, Https };

class InternetHandle {
 public:
  InternetHandle() = default;
  explicit InternetHandle(std::u16string agent);
  InternetHandle(InternetHandle&&) noexcept = default;
  InternetHandle& operator=(InternetHandle&&) noexcept = default;
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  ~InternetHandle();

  bool valid() const { return static_cast<bool>(agent_); }
  void Close();

 private:
  friend class ConnectionHandle;
  std::optional<std::u16string> agent_;
};

class ConnectionHandle {
 public:
  ConnectionHandle() = default;
  // `host` may carry a ":port" of its own; for http the connection's port is `port` all the same,
  // for https an absent `port` means the one the host names, or 443.
  ConnectionHandle(const InternetHandle& internet, HttpScheme scheme, std::u16string host,
                   std::optional<std::uint16_t> port, std::u16string userName, std::u16string password);
  ConnectionHandle(ConnectionHandle&&) noexcept = default;
  ConnectionHandle& operator=(ConnectionHandle&&) noexcept = default;
  ConnectionHandle(const ConnectionHandle&) = delete;
  ConnectionHandle& operator=(const ConnectionHandle&) = delete;
  ~ConnectionHandle();

  bool valid() const { return static_cast<bool>(target_); }
  void Close();

 private:
  friend class RequestHandle;
  struct Target {
    std::u16string agent;
    HttpScheme scheme;
    std::u16string host;
    std::optional<std::uint16_t> port;
    std::u16string userName;
    std::u16string password;
  };
  std::optional<Target> target_;
};

class RequestHandle {
 public:
  RequestHandle();
  // A GET of `objectPath` in HTTP/1.0 with "Accept: */*", never served from a cache.
  // Credentials are offered only when the user name is not empty, in answer to a challenge.
  RequestHandle(const ConnectionHandle& connection, std::u16string objectPath, IdleCallback idle);
  RequestHandle(RequestHandle&&) noexcept;
  RequestHandle& operator=(RequestHandle&&) noexcept;
  RequestHandle(const RequestHandle&) = delete;
  RequestHandle& operator=(const RequestHandle&) = delete;
  ~RequestHandle();

  bool valid() const { return static_cast<bool>(impl_); }
  void Close();

  // Sends the request and returns once the final response's headers have arrived; false when the
  // attempt failed or the idle callback gave up.
  bool Send();

  // The final response's Content-Length header, as the server wrote it (surrounding blanks removed);
  // false when the response has none, no response arrived, or the value is longer than 511 characters.
  bool QueryContentLength(std::u16string& text) const;

  // Delivers up to `size` bytes of the body. True with bytesRead 0 at the end of the body; false on
  // a failure (connection lost, time-out, the idle callback gave up), with bytesRead 0.
  // When the response announced a valid Content-Length, the body ends after that many bytes.
  bool Read(unsigned char* buffer, std::uint32_t size, std::uint32_t& bytesRead);

  // Why the last call failed, for diagnostics only (never shown as a status).
  std::string LastError() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace korvanta::platform
