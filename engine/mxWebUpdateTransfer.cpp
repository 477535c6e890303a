// The component's one network operation: one HTTP GET into the page lines or into a local file.
#include "mxWebUpdate.h"

#include "FileWriter.h"
#include "Http.h"
#include "Services.h"
#include "Signing.h"
#include "Text.h"

#include <algorithm>
#include <stdexcept>

using korvanta::platform::StartsWithIgnoreAsciiCase;

void TmxWebUpdate::SplitURL(const std::u16string& URL, std::u16string& Host, std::u16string& ObjectPath) {
  std::u16string_view rest = URL;
  // An https address names its host just as an http one does (the scheme is chosen by the caller).
  if (StartsWithIgnoreAsciiCase(rest, u"http://"))
    rest.remove_prefix(7);
  else if (StartsWithIgnoreAsciiCase(rest, u"https://"))
    rest.remove_prefix(8);
  const std::size_t slash = rest.find(u'/');
  if (slash == std::u16string_view::npos) {
    Host.clear();
    ObjectPath = std::u16string(rest);
  } else {
    Host = std::u16string(rest.substr(0, slash));
    ObjectPath = std::u16string(rest.substr(slash));
  }
}

namespace {

using namespace korvanta::platform;

constexpr std::uint32_t kBlockSize = 1025;
// A page in memory mode larger than this is not an information page: the transfer fails rather
// than let a hostile server exhaust the memory.
constexpr std::size_t kMaxPageCharacters = 16 * 1024 * 1024;

// The Content-Length text as a signed 32-bit integer: leading blanks and a sign are accepted;
// anything else, or a value outside the range, raises.
std::int32_t ContentLengthToInt(const std::u16string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
  if (i == text.size()) throw std::invalid_argument("Content-Length is not an integer");
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < u'0' || text[i] > u'9') throw std::invalid_argument("Content-Length is not an integer");
    value = value * 10 + (text[i] - u'0');
    if (value > std::int64_t{2147483648}) throw std::out_of_range("Content-Length out of range");
  }
  if (negative) value = -value;
  if (value > std::int64_t{2147483647}) throw std::out_of_range("Content-Length out of range");
  return static_cast<std::int32_t>(value);
}

}  // namespace

void TmxWebUpdate::CloseInternetHandles(RequestHandle& Request, ConnectionHandle& Connection,
                                        InternetHandle& Internet) {
  Request.Close();
  Connection.Close();
  Internet.Close();
}

void TmxWebUpdate::TransferURL(const std::u16string& URL, const std::u16string& UserName,
                               const std::u16string& Password, bool ContentLengthRequired, bool ToFile,
                               const std::u16string& LocalFileName) {
  FAborting = false;
  InternetHandle internet;
  ConnectionHandle connection;
  RequestHandle request;
  std::unique_ptr<FileWriter> file;
  try {
    std::u16string Host, ObjectPath;
    SplitURL(URL, Host, ObjectPath);
    bool secure = StartsWithIgnoreAsciiCase(URL, u"https://");
    if (Host.empty()) {
      std::u16string productPath;
      SplitURL(FProductInfo->URL(), Host, productPath);
      secure = StartsWithIgnoreAsciiCase(FProductInfo->URL(), u"https://");
    }
    // An https address keeps its own port (or 443); plain http always uses HTTPPort.
    const std::optional<std::uint16_t> port =
        secure ? std::nullopt : std::optional<std::uint16_t>(static_cast<std::uint16_t>(FHTTPPort & 0xFFFF));

    // While the layer waits for the server, the window keeps handling its messages and an Abort
    // from one of them ends the wait.
    auto idle = [this] {
      Application().ProcessMessages();
      return FAborting;
    };
    internet = InternetHandle(u"TmxWebUpdate");
    connection = ConnectionHandle(internet, secure ? HttpScheme::Https : HttpScheme::Http, Host, port, UserName,
                                  Password);
    request = RequestHandle(connection, ObjectPath, idle);
    request.Send();
    if (FAborting) {
      CloseInternetHandles(request, connection, internet);
      FDownloadResult = false;
      return;
    }

    std::u16string lengthText;
    FDownloadResult = request.QueryContentLength(lengthText);
    if (FAborting) {
      CloseInternetHandles(request, connection, internet);
      FDownloadResult = false;
      return;
    }

    std::u16string text;
    if (FDownloadResult || !ContentLengthRequired) {
      if (FDownloadResult) FFileSize = ContentLengthToInt(lengthText);
      FDownloadedSize = 0;
      if (ToFile) {
        file = std::make_unique<FileWriter>(LocalFileName);
        // Hashed as it streams, so a signed download needs no second pass over the file.
        if (!FPublicKey.empty()) FDigest = std::make_unique<Sha256>();
      }

      unsigned char buffer[kBlockSize];
      bool tooLarge = false;
      for (;;) {
        // Tested before every read, and after a read that an Abort cut short while it waited.
        const bool readFailed = FAborting || !request.Read(buffer, kBlockSize, FDownloadSize) || FDownloadSize == 0;
        if (FAborting) {
          if (file) file->Close();  // what was written stays on disk
          CloseInternetHandles(request, connection, internet);
          FDownloadResult = false;
          return;
        }
        if (readFailed) break;
        if (ToFile) {
          // Never more than announced: a body that outgrows a length the layer could not frame
          // (a signed or negative one) would otherwise fill the disk.
          const std::int64_t room = std::max<std::int64_t>(0, std::int64_t{FFileSize} - FDownloadedSize);
          if (room == 0) break;
          FDownloadSize = static_cast<std::uint32_t>(std::min<std::int64_t>(room, FDownloadSize));
          file->Write(buffer, FDownloadSize);
          if (FDigest) FDigest->Update(buffer, FDownloadSize);
        } else {
          if (text.size() + FDownloadSize > kMaxPageCharacters) {
            tooLarge = true;
            break;
          }
          AppendAnsi(text, buffer, FDownloadSize);
        }
        FDownloadedSize += FDownloadSize;
        DoDownload();
        Application().ProcessMessages();
      }

      if (ToFile) {
        // Compared as wide integers: a negative Content-Length never matches.
        FDownloadResult = static_cast<std::int64_t>(FDownloadedSize) == static_cast<std::int64_t>(FFileSize);
        file->Close();
      } else {
        FDownloadResult = FDownloadedSize > 0 && !tooLarge;
      }
    }

    CloseInternetHandles(request, connection, internet);
    if (!FDownloadResult)
      DoDownloadError();
    else if (!ToFile)
      *FInfo = SplitLines(text);
  } catch (...) {
    // Any error inside the transfer, a handler's included, is a failed transfer without an event;
    // the holders release the file and the handles on the way out.
    FDownloadResult = false;
  }
}
