// The URL rule and the address splitting on arbitrary text, then the HTTP layer building the
// request address from the pieces (nothing is sent).
#include "FuzzCheck.h"
#include "Http.h"
#include "Internals.h"
#include "Text.h"
#include "mxWebUpdate.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

using namespace korvanta::platform;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Both boundaries the addresses come through: the page's bytes and UTF-8 settings.
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const std::u16string& value : {DecodeAnsi(bytes), FromUtf8(bytes)}) {
    TmxWebUpdate c;
    c.ProductInfo()->setURL(value);
    const std::u16string& url = c.ProductInfo()->URL();
    const bool kept = StartsWithIgnoreAsciiCase(value, u"http://") || StartsWithIgnoreAsciiCase(value, u"https://");
    FUZZ_CHECK(url == (kept ? value : u"http://" + value));

    for (const std::u16string* address : {&value, &url}) {
      std::u16string host = u"stale", path = u"stale";
      TmxWebUpdateInternals::SplitURL(c, *address, host, path);
      // The pieces are the address less its scheme, cut before the first "/".
      std::u16string_view rest = *address;
      if (StartsWithIgnoreAsciiCase(rest, u"http://")) rest.remove_prefix(7);
      else if (StartsWithIgnoreAsciiCase(rest, u"https://")) rest.remove_prefix(8);
      FUZZ_CHECK(host + path == rest);
      FUZZ_CHECK(host.find(u'/') == std::u16string::npos);
      if (host.empty())
        FUZZ_CHECK(path.find(u'/') == std::u16string::npos || path.front() == u'/');
      else
        FUZZ_CHECK(!path.empty() && path.front() == u'/');

      // Building the request from hostile pieces fails cleanly or gives a request; it never crashes.
      const InternetHandle internet(u"TmxWebUpdate");
      const ConnectionHandle connection(internet, HttpScheme::Http, host, 80, u"", u"");
      RequestHandle request(connection, path, [] { return true; });
      request.Close();
    }
  }
  return 0;
}
