#include "Text.h"

#include <algorithm>

#include <utf8.h>

#include <array>

namespace korvanta::platform {
namespace {

// Windows-1252 for 0x80..0x9F; the unassigned bytes map to themselves.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80-87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 88-8F
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90-97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 98-9F
};

constexpr char16_t Decode(unsigned char b) {
  return (b >= 0x80 && b <= 0x9F) ? kHighControls[b - 0x80] : static_cast<char16_t>(b);
}

}  // namespace

void AppendAnsi(std::u16string& out, const unsigned char* bytes, std::size_t count) {
  const std::size_t start = out.size();
  out.resize(start + count);
  char16_t* dst = out.data() + start;
  for (std::size_t i = 0; i < count; ++i) dst[i] = Decode(bytes[i]);
}

std::u16string DecodeAnsi(std::string_view bytes) {
  std::u16string out;
  AppendAnsi(out, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return out;
}

std::optional<std::string> EncodeAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char16_t c : text) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
      out.push_back(static_cast<char>(c));
      continue;
    }
    const auto* hit = std::find(kHighControls.begin(), kHighControls.end(), c);
    if (hit == kHighControls.end()) return std::nullopt;
    out.push_back(static_cast<char>(0x80 + (hit - kHighControls.begin())));
  }
  return out;
}

std::string ToUtf8(std::u16string_view text) {
  // Replace lone surrogates first so that utfcpp sees valid UTF-16 only.
  std::u16string clean;
  clean.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      clean.push_back(c);
      clean.push_back(text[++i]);
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      clean.push_back(u'\uFFFD');
    } else {
      clean.push_back(c);
    }
  }
  std::string out;
  out.reserve(clean.size());
  utf8::utf16to8(clean.begin(), clean.end(), std::back_inserter(out));
  return out;
}

std::u16string FromUtf8(std::string_view text) {
  std::string valid;
  utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
  std::u16string out;
  out.reserve(valid.size());
  utf8::utf8to16(valid.begin(), valid.end(), std::back_inserter(out));
  return out;
}

char16_t AsciiUpper(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; }

bool EqualsIgnoreAsciiCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (AsciiUpper(a[i]) != AsciiUpper(b[i])) return false;
  return true;
}

bool StartsWithIgnoreAsciiCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && EqualsIgnoreAsciiCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace korvanta::platform
