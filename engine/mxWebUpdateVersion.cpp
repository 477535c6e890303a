// Judging the published version against the installed one in the three version forms.
#include "mxWebUpdate.h"

#include "mxWebUpdateVersion.h"

#include <cerrno>
#include <clocale>
#include <cmath>
#include <cstdlib>
#include <locale.h>

namespace mxVersion {

std::int32_t PartToInt(std::u16string_view part) {
  std::size_t i = 0;
  while (i < part.size() && part[i] == u' ') ++i;
  bool negative = false;
  if (i < part.size() && (part[i] == u'+' || part[i] == u'-')) negative = part[i++] == u'-';

  bool hex = false;
  if (i < part.size() && part[i] == u'$') {
    hex = true;
    ++i;
  } else if (i < part.size() && (part[i] == u'x' || part[i] == u'X')) {
    hex = true;
    ++i;
  } else if (i + 1 < part.size() && part[i] == u'0' && (part[i + 1] == u'x' || part[i + 1] == u'X')) {
    hex = true;
    i += 2;
  }
  if (i == part.size()) return 0;  // no digits

  if (hex) {
    std::uint32_t value = 0;
    int significant = 0;
    for (; i < part.size(); ++i) {
      const char16_t c = part[i];
      int digit;
      if (c >= u'0' && c <= u'9') digit = c - u'0';
      else if (c >= u'a' && c <= u'f') digit = c - u'a' + 10;
      else if (c >= u'A' && c <= u'F') digit = c - u'A' + 10;
      else return 0;
      if (significant > 0 || digit != 0) ++significant;
      if (significant > 8) return 0;
      value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    // A 32-bit two's-complement pattern; a sign negates it with wrap-around.
    const std::uint32_t pattern = negative ? 0u - value : value;
    return static_cast<std::int32_t>(pattern);
  }

  std::int64_t value = 0;
  for (; i < part.size(); ++i) {
    const char16_t c = part[i];
    if (c < u'0' || c > u'9') return 0;
    value = value * 10 + (c - u'0');
    if (value > std::int64_t{2147483648}) return 0;
  }
  if (negative) value = -value;
  if (value > std::int64_t{2147483647}) return 0;
  return static_cast<std::int32_t>(value);
}

std::optional<double> TextToNumber(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == u' ') ++i;
  std::string ascii;
  const std::size_t begin = i;
  if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
  bool digits = false;
  bool point = false;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= u'0' && c <= u'9') {
      digits = true;
    } else if (c == u'.' && !point) {
      point = true;
    } else {
      break;
    }
    ascii.push_back(static_cast<char>(c));
  }
  if (!digits) return std::nullopt;
  if (i < text.size() && (text[i] == u'e' || text[i] == u'E')) {
    ascii.push_back('e');
    ++i;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) ascii.push_back(static_cast<char>(text[i++]));
    bool expDigits = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
      ascii.push_back(static_cast<char>(text[i]));
      expDigits = true;
    }
    if (!expDigits) return std::nullopt;
  }
  if (i != text.size() || i == begin) return std::nullopt;

  // Always "." as the separator, whatever the user's locale.
  static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  errno = 0;
  const double value = strtod_l(ascii.c_str(), nullptr, cLocale);
  // Beyond the range of a double: not a version; an underflow is the nearest value, 0.
  if (errno == ERANGE && std::isinf(value)) return std::nullopt;
  return value;
}

}  // namespace mxVersion

bool TmxWebUpdate::IsNewerVersion() {
  const std::u16string local = FProductInfo->Version();
  const std::u16string published = FProductVersion;

  switch (FProductInfo->VersionFormat()) {
    case vfStandard: {
      std::u16string_view l = local;
      std::u16string_view p = published;
      for (;;) {
        const std::size_t lDot = l.find(u'.');
        const std::size_t pDot = p.find(u'.');
        const std::int32_t lPart = mxVersion::PartToInt(l.substr(0, lDot));
        const std::int32_t pPart = mxVersion::PartToInt(p.substr(0, pDot));
        if (pPart > lPart) return true;
        if (pPart < lPart) break;
        if (lDot == std::u16string_view::npos) break;  // the local version's last part was equal
        l.remove_prefix(lDot + 1);
        p = pDot == std::u16string_view::npos ? std::u16string_view() : p.substr(pDot + 1);
      }
      break;
    }
    case vfString:
      // UTF-16 code units compared unsigned: std::u16string orders char16_t that way.
      if (published > local) return true;
      break;
    case vfNumber: {
      const std::optional<double> l = mxVersion::TextToNumber(local);
      if (!l) break;
      const std::optional<double> p = mxVersion::TextToNumber(published);
      if (p && *l < *p) return true;
      break;
    }
  }
  DoNoUpdateFound();
  return false;
}
