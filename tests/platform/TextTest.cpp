#include "Text.h"

#include <gtest/gtest.h>

namespace {

using namespace korvanta::platform;

TEST(Windows1252, EveryByteBecomesOneCharacter) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  const std::u16string text = DecodeAnsi(all);
  ASSERT_EQ(text.size(), 256u);
  for (int b = 0; b < 0x80; ++b) EXPECT_EQ(text[b], b);
  for (int b = 0xA0; b < 0x100; ++b) EXPECT_EQ(text[b], b);
  struct Byte {
    int byte;
    char16_t ch;
  } table[] = {{0x80, u'\u20AC'}, {0x82, u'\u201A'}, {0x8A, u'\u0160'}, {0x91, u'\u2018'},
               {0x99, u'\u2122'}, {0x9F, u'\u0178'},
               // The five unassigned bytes keep their value.
               {0x81, u'\u0081'}, {0x8D, u'\u008D'}, {0x8F, u'\u008F'}, {0x90, u'\u0090'}, {0x9D, u'\u009D'}};
  for (const Byte& b : table) EXPECT_EQ(text[b.byte], b.ch) << b.byte;
  // A byte-order mark is three ordinary characters.
  EXPECT_EQ(DecodeAnsi("\xEF\xBB\xBF"), u"\u00EF\u00BB\u00BF");
}

TEST(Windows1252, EncodingIsTheExactInverse) {
  std::string all;
  for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
  EXPECT_EQ(EncodeAnsi(DecodeAnsi(all)), std::optional<std::string>(all));
  for (const char16_t* unmapped : {u"\u0100", u"\u0080", u"a\u4E2D", u"\U0001F600"})
    EXPECT_EQ(EncodeAnsi(unmapped), std::nullopt) << ToUtf8(unmapped);
}

TEST(Utf8, RoundTripsAndNeverThrows) {
  const std::u16string text = u"K\u00F6rvanta \u20AC \U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(ToUtf8(u"a\xD800" u"b"), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(FromUtf8("a\xFF" "b"), u"a\uFFFD" u"b");
}

}  // namespace
