// The version comparison in its three forms on arbitrary version texts. The first byte picks the
// form and how the rest becomes text (Windows-1252 bytes or raw UTF-16 code units); a zero byte
// (a zero code unit) separates the installed version from the published one.
#include "FuzzCheck.h"
#include "Internals.h"
#include "Text.h"
#include "mxWebUpdate.h"
#include "mxWebUpdateVersion.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace {

struct Outcome {
  bool newer;
  int noUpdateEvents;
};

Outcome Compare(TmxVersionFormat format, const std::u16string& local, const std::u16string& published) {
  using I = TmxWebUpdateInternals;
  TmxWebUpdate c;
  c.ProductInfo()->setVersionFormat(format);
  c.ProductInfo()->setVersion(local);
  I::ProductVersion(c) = published;
  int events = 0;
  c.setOnNoUpdateFound([&](TmxWebUpdate&) { ++events; });
  const bool newer = I::IsNewerVersion(c);
  // Both versions are read from copies.
  FUZZ_CHECK(c.ProductInfo()->Version() == local);
  FUZZ_CHECK(c.ProductVersion() == published);
  return {newer, events};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const auto format = static_cast<TmxVersionFormat>(data[0] % 3);
  std::u16string text;
  if (data[0] & 4) {
    for (std::size_t i = 1; i + 1 < size; i += 2) text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    text = korvanta::platform::DecodeAnsi(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
  }
  const std::size_t zero = text.find(u'\0');
  const std::u16string local = text.substr(0, zero);
  const std::u16string published = zero == std::u16string::npos ? std::u16string() : text.substr(zero + 1);

  const Outcome forward = Compare(format, local, published);
  const Outcome backward = Compare(format, published, local);
  const Outcome same = Compare(format, local, local);
  // The no-update event fires exactly once on every answer "not newer", never on "newer".
  for (const Outcome& o : {forward, backward, same}) FUZZ_CHECK(o.noUpdateEvents == (o.newer ? 0 : 1));
  // No version is newer than itself, and two versions are never each newer than the other.
  FUZZ_CHECK(!same.newer);
  FUZZ_CHECK(!(forward.newer && backward.newer));

  if (format == vfString) FUZZ_CHECK(forward.newer == (published > local));
  if (format == vfNumber) {
    const auto l = mxVersion::TextToNumber(local), p = mxVersion::TextToNumber(published);
    FUZZ_CHECK(forward.newer == (l && p && *l < *p));
  }
  return 0;
}
