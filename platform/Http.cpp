#include "Http.h"

#include "Text.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

namespace korvanta::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Large network reads into one buffer; the caller's small blocks are copied out of it.
constexpr long kNetworkChunk = 64 * 1024;
constexpr std::size_t kReceiveCapacity = 4 * kNetworkChunk;
// The header value must fit a 1024-byte UTF-16 buffer with its terminating zero.
constexpr std::size_t kMaxHeaderValue = 511;

struct EasyDeleter {
  void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
  void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct SlistDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct UrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlTextDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using EasyPtr = std::unique_ptr<CURL, EasyDeleter>;
using MultiPtr = std::unique_ptr<CURLM, MultiDeleter>;
using SlistPtr = std::unique_ptr<curl_slist, SlistDeleter>;
using UrlPtr = std::unique_ptr<CURLU, UrlDeleter>;
using CurlTextPtr = std::unique_ptr<char, CurlTextDeleter>;

void InitCurlOnce() {
  static const CURLcode result = curl_global_init(CURL_GLOBAL_DEFAULT);
  (void)result;  // a failure shows up as curl_easy_init returning null
}

std::string_view TrimBlanks(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool HeaderNameIs(std::string_view line, std::string_view name) {
  if (line.size() <= name.size() || line[name.size()] != ':') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (AsciiUpper(static_cast<unsigned char>(line[i])) != AsciiUpper(static_cast<unsigned char>(name[i])))
      return false;
  }
  return true;
}

// Only digits, and small enough to count: anything else leaves the body running to the close.
std::optional<std::uint64_t> ParseLength(std::string_view text) {
  if (text.empty()) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const unsigned digit = static_cast<unsigned>(c - '0');
    if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// Spaces, control characters and non-ASCII bytes are escaped so that odd paths still make a URL;
// everything else (including existing %XX escapes) goes out as written.
std::string EscapePath(std::string_view path) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size() + 1);
  if (path.empty() || path.front() != '/') out.push_back('/');
  for (char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F) {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    } else {
      out.push_back(ch);
    }
  }
  return out;
}

}  // namespace

HttpOptions& HttpSettings() {
  static HttpOptions options;
  return options;
}

// ---------------------------------------------------------------------------------------------
// The root and connection stages only carry their settings forward; nothing goes out before Send.

InternetHandle::InternetHandle(std::u16string agent) : agent_(std::move(agent)) { InitCurlOnce(); }
InternetHandle::~InternetHandle() = default;
void InternetHandle::Close() { agent_.reset(); }

ConnectionHandle::ConnectionHandle(const InternetHandle& internet, HttpScheme scheme, std::u16string host,
                                   std::optional<std::uint16_t> port, std::u16string userName,
                                   std::u16string password) {
  if (!internet.valid()) return;
  target_ = Target{*internet.agent_, scheme, std::move(host), port, std::move(userName), std::move(password)};
}
ConnectionHandle::~ConnectionHandle() = default;
void ConnectionHandle::Close() { target_.reset(); }

// ---------------------------------------------------------------------------------------------

struct RequestHandle::Impl {
  Impl(const ConnectionHandle::Target& target, std::u16string_view objectPath, IdleCallback idleCallback);
  ~Impl();
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;

  bool Send();
  bool Read(unsigned char* out, std::uint32_t size, std::uint32_t& got);

  // curl's callbacks; never let an exception through.
  static size_t HeaderCallback(char* data, size_t size, size_t count, void* self) noexcept;
  static size_t WriteCallback(char* data, size_t size, size_t count, void* self) noexcept;
  static int PrereqCallback(void* self, char*, char*, int, int) noexcept;
  size_t OnHeader(std::string_view line);
  size_t OnBody(const char* data, size_t size);

  bool Configure(const ConnectionHandle::Target& target, std::u16string_view objectPath);
  bool BuildUrl(const ConnectionHandle::Target& target, std::u16string_view objectPath);
  bool AnsweredByCurl() const;
  void StartBody();
  std::size_t Available() const { return end - begin; }
  bool MakeRoom(std::size_t count);
  void Drive();
  void Perform();
  template <class Ready>
  bool Wait(Ready ready);
  void Abandon(std::string reason);
  void Resume();
  bool Fail(std::string reason);

  HttpOptions options = HttpSettings();
  IdleCallback idle;
  bool hasCredentials = false;

  EasyPtr easy;
  MultiPtr multi;
  SlistPtr headers;
  std::string url;
  bool attached = false;  // the easy handle is in the multi handle
  char errorText[CURL_ERROR_SIZE] = {};
  std::string lastError;

  // Progress of the transfer.
  bool sent = false;
  bool responded = false;  // Send saw the final response
  bool finished = false;   // curl reported the transfer done
  bool abandoned = false;  // we stopped it (time-out, idle callback)
  CURLcode result = CURLE_OK;
  std::string callbackError;
  bool connected = false;
  Clock::time_point lastActivity{};
  // While Send waits: a server that keeps sending header lines is never silent, so the headers
  // get a deadline of their own.
  std::optional<Clock::time_point> headersDue;

  // The record of the latest response's headers; a new status line starts it afresh.
  struct Record {
    int status = 0;
    std::optional<std::string> contentLength;
    bool location = false;
    bool authChallenge = false;
    bool proxyChallenge = false;
  } record;
  bool finalHeaders = false;

  // The body of the final response.
  bool bodyStarted = false;
  std::optional<std::uint64_t> bodyLength;  // announced, valid length: the body ends there
  std::uint64_t bodyAccepted = 0;           // bytes taken into the buffer
  std::uint64_t bodyDelivered = 0;          // bytes handed to the caller
  std::vector<unsigned char> buffer;
  std::size_t begin = 0;
  std::size_t end = 0;
  bool paused = false;
};

RequestHandle::Impl::Impl(const ConnectionHandle::Target& target, std::u16string_view objectPath,
                          IdleCallback idleCallback)
    : idle(std::move(idleCallback)) {
  InitCurlOnce();
  easy.reset(curl_easy_init());
  multi.reset(curl_multi_init());
  if (!easy || !multi) {
    lastError = "libcurl could not be initialised";
    return;
  }
  buffer.resize(kReceiveCapacity);
  hasCredentials = !target.userName.empty();
  if (!Configure(target, objectPath) && lastError.empty()) lastError = "the request could not be set up";
}

RequestHandle::Impl::~Impl() {
  // An easy handle must leave its multi handle before either is cleaned up.
  if (attached) curl_multi_remove_handle(multi.get(), easy.get());
}

bool RequestHandle::Impl::BuildUrl(const ConnectionHandle::Target& target, std::u16string_view objectPath) {
  const std::string host = ToUtf8(target.host);
  std::string text = target.scheme == HttpScheme::Https ? "https://" : "http://";
  text += host;
  text += EscapePath(ToUtf8(objectPath));

  UrlPtr parsed(curl_url());
  if (!parsed) return Fail("out of memory");
  if (host.empty()) return Fail("no host name: " + text);
  const CURLUcode code = curl_url_set(parsed.get(), CURLUPART_URL, text.c_str(), CURLU_ALLOW_SPACE);
  if (code != CURLUE_OK) return Fail(std::string("the address cannot be used: ") + curl_url_strerror(code));
  // The host text is a host with an optional port; credentials only ever come from the caller.
  char* user = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_USER, &user, 0) == CURLUE_OK) {
    curl_free(user);
    return Fail("the host name carries user information: " + host);
  }
  char* full = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_URL, &full, 0) != CURLUE_OK || !full)
    return Fail("the address cannot be used: " + text);
  CurlTextPtr holder(full);
  url = full;
  return true;
}

bool RequestHandle::Impl::Configure(const ConnectionHandle::Target& target, std::u16string_view objectPath) {
  CURL* e = easy.get();
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
  curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(e, CURLOPT_MAXREDIRS, options.maxRedirects);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(e, CURLOPT_BUFFERSIZE, kNetworkChunk);
  // The component reads Content-Length itself, including values curl would reject; framing is ours.
  curl_easy_setopt(e, CURLOPT_IGNORE_CONTENT_LENGTH, 1L);
  curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
  curl_easy_setopt(e, CURLOPT_FORBID_REUSE, 1L);

  const std::string agent = ToUtf8(target.agent);
  if (!agent.empty()) curl_easy_setopt(e, CURLOPT_USERAGENT, agent.c_str());
  // curl sends "Accept: */*" by default; naming it keeps the request fixed whatever the version does.
  // An empty "Proxy-Connection:" stops the one header curl would add on its own through a proxy.
  for (const char* header : {"Accept: */*", "Proxy-Connection:"}) {
    curl_slist* longer = curl_slist_append(headers.get(), header);
    if (!longer) return Fail("out of memory");
    if (!headers) headers.reset(longer);  // later appends extend the same list in place
  }
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers.get());

  if (hasCredentials) {
    const std::string user = ToUtf8(target.userName);
    const std::string password = ToUtf8(target.password);
    curl_easy_setopt(e, CURLOPT_USERNAME, user.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, password.c_str());
    // Any scheme the server offers, and only once it asks: the first request goes without them.
    curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
  }

  if (target.port && *target.port != 0) curl_easy_setopt(e, CURLOPT_PORT, static_cast<long>(*target.port));
  if (!options.caFile.empty()) {
    curl_easy_setopt(e, CURLOPT_CAINFO, options.caFile.c_str());
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
  }

  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &Impl::HeaderCallback);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &Impl::WriteCallback);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, &Impl::PrereqCallback);
  curl_easy_setopt(e, CURLOPT_PREREQDATA, this);

  if (!BuildUrl(target, objectPath)) return false;
  curl_easy_setopt(e, CURLOPT_URL, url.c_str());
  return true;
}

bool RequestHandle::Impl::Fail(std::string reason) {
  lastError = std::move(reason);
  return false;
}

// --- callbacks --------------------------------------------------------------------------------

size_t RequestHandle::Impl::HeaderCallback(char* data, size_t size, size_t count, void* self) noexcept {
  try {
    return static_cast<Impl*>(self)->OnHeader(std::string_view(data, size * count));
  } catch (...) {
    static_cast<Impl*>(self)->callbackError = "out of memory while reading the headers";
    return 0;  // makes curl end the transfer with a write error
  }
}

size_t RequestHandle::Impl::WriteCallback(char* data, size_t size, size_t count, void* self) noexcept {
  try {
    return static_cast<Impl*>(self)->OnBody(data, size * count);
  } catch (...) {
    static_cast<Impl*>(self)->callbackError = "out of memory while reading the body";
    return 0;
  }
}

int RequestHandle::Impl::PrereqCallback(void* self, char*, char*, int, int) noexcept {
  auto* impl = static_cast<Impl*>(self);
  impl->connected = true;
  impl->lastActivity = Clock::now();
  return CURL_PREREQFUNC_OK;
}

size_t RequestHandle::Impl::OnHeader(std::string_view line) {
  lastActivity = Clock::now();
  if (bodyStarted) return line.size();  // trailers do not change the record
  if (line.size() >= 5 && line.substr(0, 5) == "HTTP/") {
    record = Record{};
    finalHeaders = false;
    const std::size_t space = line.find(' ');
    if (space != std::string_view::npos) {
      int status = 0;
      for (std::size_t i = space + 1; i < line.size() && line[i] >= '0' && line[i] <= '9'; ++i)
        status = status * 10 + (line[i] - '0');
      record.status = status;
    }
    return line.size();
  }
  if (TrimBlanks(line).empty()) {  // end of this response's header block
    if (!AnsweredByCurl()) {
      finalHeaders = true;
      StartBody();
    }
    return line.size();
  }
  if (HeaderNameIs(line, "Content-Length")) {
    if (!record.contentLength) record.contentLength = std::string(TrimBlanks(line.substr(15)));
  } else if (HeaderNameIs(line, "Location")) {
    record.location = !TrimBlanks(line.substr(9)).empty();
  } else if (HeaderNameIs(line, "WWW-Authenticate")) {
    record.authChallenge = true;
  } else if (HeaderNameIs(line, "Proxy-Authenticate")) {
    record.proxyChallenge = true;
  }
  return line.size();
}

// Whether curl goes on to another request after this response (which is then not the final one).
// When the guess is wrong the body or the end of the transfer still shows the response as final.
bool RequestHandle::Impl::AnsweredByCurl() const {
  const int s = record.status;
  if (s >= 100 && s < 200) return true;
  if (s >= 300 && s < 400 && record.location) return true;
  if (s == 401 && hasCredentials && record.authChallenge) return true;
  if (s == 407 && record.proxyChallenge) return true;
  return false;
}

// Fixes the body's framing from the response it belongs to.
void RequestHandle::Impl::StartBody() {
  if (bodyAccepted > 0) return;
  bodyLength.reset();
  if (record.contentLength) bodyLength = ParseLength(*record.contentLength);
}

size_t RequestHandle::Impl::OnBody(const char* data, size_t size) {
  lastActivity = Clock::now();
  if (!bodyStarted) {
    bodyStarted = true;
    StartBody();
  }
  std::size_t take = size;
  if (bodyLength) take = static_cast<std::size_t>(std::min<std::uint64_t>(size, *bodyLength - bodyAccepted));
  if (take == 0) return size;  // past the announced length: not part of the body
  if (!MakeRoom(take)) {
    paused = true;
    return CURL_WRITEFUNC_PAUSE;  // curl keeps the chunk and offers it again after Resume
  }
  std::memcpy(buffer.data() + end, data, take);
  end += take;
  bodyAccepted += take;
  return size;
}

bool RequestHandle::Impl::MakeRoom(std::size_t count) {
  if (buffer.size() - end >= count) return true;
  if (begin > 0) {
    std::memmove(buffer.data(), buffer.data() + begin, end - begin);
    end -= begin;
    begin = 0;
    if (buffer.size() - end >= count) return true;
  }
  // A chunk larger than the whole buffer could never fit: grow once rather than stall.
  if (end == 0) {
    buffer.resize(count);
    return true;
  }
  return false;
}

// --- driving curl -----------------------------------------------------------------------------

void RequestHandle::Impl::Perform() {
  int running = 0;
  const CURLMcode code = curl_multi_perform(multi.get(), &running);
  if (code != CURLM_OK) {
    Abandon(curl_multi_strerror(code));
    return;
  }
  int queued = 0;
  while (CURLMsg* message = curl_multi_info_read(multi.get(), &queued)) {
    if (message->msg != CURLMSG_DONE) continue;
    finished = true;
    result = message->data.result;
    if (result != CURLE_OK) {
      if (!callbackError.empty())
        lastError = callbackError;
      else
        lastError = errorText[0] ? errorText : curl_easy_strerror(result);
    }
  }
}

void RequestHandle::Impl::Drive() {
  if (attached && !finished && !abandoned && !paused) Perform();
}

void RequestHandle::Impl::Abandon(std::string reason) {
  abandoned = true;
  lastError = std::move(reason);
  if (attached) {
    curl_multi_remove_handle(multi.get(), easy.get());
    attached = false;
  }
}

void RequestHandle::Impl::Resume() {
  if (!paused || !attached || finished || abandoned) return;
  paused = false;
  // May deliver the held-back chunk at once, through OnBody, which may pause again.
  const CURLcode code = curl_easy_pause(easy.get(), CURLPAUSE_CONT);
  if (code != CURLE_OK) Abandon(curl_easy_strerror(code));
}

// Drives the transfer until `ready()` holds or it ends (true), or until the server stays silent too
// long or the idle callback gives up (false, transfer abandoned). The idle callback runs at least
// once per slice; an exception from it leaves this function as it is.
template <class Ready>
bool RequestHandle::Impl::Wait(Ready ready) {
  using std::chrono::milliseconds;
  const auto slice = milliseconds(std::max(1u, options.waitSliceMs));
  const auto idleLimit = milliseconds(std::max(1L, options.idleTimeoutMs));
  const auto waitStart = Clock::now();
  auto lastIdle = waitStart;
  for (;;) {
    Drive();
    if (abandoned) return false;
    if (ready() || finished) return true;

    auto now = Clock::now();
    // Time spent by the caller between two waits is not the server's silence.
    const auto silentSince = std::max(lastActivity, waitStart);
    if (connected && now - silentSince >= idleLimit) {
      Abandon("no data from the server for " + std::to_string(options.idleTimeoutMs) + " ms");
      return false;
    }
    if (headersDue && now >= *headersDue) {
      Abandon("no complete response headers within " + std::to_string(options.headersTimeoutMs) + " ms");
      return false;
    }
    Clock::duration timeout = slice - (now - lastIdle);
    if (connected) timeout = std::min<Clock::duration>(timeout, idleLimit - (now - silentSince));
    if (headersDue) timeout = std::min<Clock::duration>(timeout, *headersDue - now);
    const long timeoutMs =
        std::max<long>(0, static_cast<long>(std::chrono::ceil<milliseconds>(timeout).count()));
    const CURLMcode code = curl_multi_poll(multi.get(), nullptr, 0, static_cast<int>(timeoutMs), nullptr);
    if (code != CURLM_OK) {
      Abandon(curl_multi_strerror(code));
      return false;
    }
    now = Clock::now();
    if (now - lastIdle >= slice) {
      lastIdle = now;
      if (idle && idle()) {
        Abandon("the wait was given up");
        return false;
      }
    }
  }
}

bool RequestHandle::Impl::Send() {
  if (sent) return Fail("the request was already sent");
  sent = true;
  if (url.empty()) return false;  // the address could not be built; lastError tells why
  if (curl_multi_add_handle(multi.get(), easy.get()) != CURLM_OK) return Fail("the request could not be started");
  attached = true;
  headersDue = Clock::now() + std::chrono::milliseconds(std::max(1L, options.headersTimeoutMs));
  const bool waited = Wait([this] { return finalHeaders || bodyStarted; });
  headersDue.reset();
  if (!waited) return false;
  // A transfer that ended cleanly did get its final response, even when the guess above missed it.
  responded = finalHeaders || bodyStarted || (finished && result == CURLE_OK);
  if (responded) StartBody();
  return responded;
}

bool RequestHandle::Impl::Read(unsigned char* out, std::uint32_t size, std::uint32_t& got) {
  got = 0;
  // After a failed Send its reason stays the last error: it is the one worth reporting.
  if (!responded) return sent ? false : Fail("the request was not sent");
  if (abandoned) return false;
  if (size == 0) return true;
  if (!out) return Fail("no buffer to read into");
  for (;;) {
    if (bodyLength && bodyDelivered == *bodyLength) return true;
    // Top up from the network without waiting when the caller's block cannot be filled yet.
    if (Available() < size) {
      Resume();
      Drive();
      if (abandoned) return false;
    }
    if (Available() > 0) {
      const std::size_t n = std::min<std::size_t>(size, Available());
      std::memcpy(out, buffer.data() + begin, n);
      begin += n;
      if (begin == end) begin = end = 0;
      bodyDelivered += n;
      got = static_cast<std::uint32_t>(n);
      return true;
    }
    if (finished) {
      if (result != CURLE_OK) return false;
      if (bodyLength && bodyDelivered < *bodyLength)
        return Fail("the connection closed after " + std::to_string(bodyDelivered) + " of " +
                    std::to_string(*bodyLength) + " bytes");
      return true;
    }
    if (!Wait([this] { return Available() > 0; })) return false;
  }
}

// ---------------------------------------------------------------------------------------------

RequestHandle::RequestHandle() = default;
RequestHandle::RequestHandle(RequestHandle&&) noexcept = default;
RequestHandle& RequestHandle::operator=(RequestHandle&&) noexcept = default;
RequestHandle::~RequestHandle() = default;

RequestHandle::RequestHandle(const ConnectionHandle& connection, std::u16string objectPath, IdleCallback idle) {
  if (!connection.valid()) return;
  auto impl = std::make_unique<Impl>(*connection.target_, objectPath, std::move(idle));
  if (!impl->easy || !impl->multi) return;
  impl_ = std::move(impl);
}

void RequestHandle::Close() { impl_.reset(); }

bool RequestHandle::Send() { return impl_ && impl_->Send(); }

bool RequestHandle::QueryContentLength(std::u16string& text) const {
  if (!impl_ || !impl_->responded || !impl_->record.contentLength) return false;
  const std::string& value = *impl_->record.contentLength;
  if (value.size() > kMaxHeaderValue) return false;
  text = DecodeAnsi(value);
  return true;
}

bool RequestHandle::Read(unsigned char* buffer, std::uint32_t size, std::uint32_t& bytesRead) {
  bytesRead = 0;
  return impl_ && impl_->Read(buffer, size, bytesRead);
}

std::string RequestHandle::LastError() const {
  if (!impl_) return "the request handle is not open";
  return impl_->lastError;
}

}  // namespace korvanta::platform
