#include "Internals.h"
#include "mxWebUpdateVersion.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

struct Case {
  TmxVersionFormat format;
  std::u16string local, published;
  bool newer;
};

void PrintTo(const Case& k, std::ostream* os) {
  *os << "format " << int(k.format) << " local ";
  *os << testing::PrintToString(k.local);
  *os << " published ";
  *os << testing::PrintToString(k.published);
}

class VersionForms : public testing::TestWithParam<Case> {};

// Judges one pair and checks the notification rule: exactly one OnNoUpdateFound on false, none on true,
// and neither version text changed.
TEST_P(VersionForms, JudgesThePairAndNotifiesExactlyOnceWhenNotNewer) {
  const Case& k = GetParam();
  TmxWebUpdate c;
  c.ProductInfo()->setVersion(k.local);
  c.ProductInfo()->setVersionFormat(k.format);
  TmxWebUpdateInternals::ProductVersion(c) = k.published;
  int notified = 0;
  c.setOnNoUpdateFound([&](TmxWebUpdate&) { ++notified; });

  EXPECT_EQ(TmxWebUpdateInternals::IsNewerVersion(c), k.newer);
  EXPECT_EQ(notified, k.newer ? 0 : 1);
  EXPECT_EQ(c.ProductInfo()->Version(), k.local);
  EXPECT_EQ(c.ProductVersion(), k.published);
}

INSTANTIATE_TEST_SUITE_P(Standard, VersionForms, testing::Values(
    Case{vfStandard, u"0.2.0.0", u"0.2.1.0", true},
    Case{vfStandard, u"0.2.0.0", u"0.2.0.0", false},
    Case{vfStandard, u"1.9", u"1.10", true},
    Case{vfStandard, u"1.2", u"1.1.9", false},
    Case{vfStandard, u"1.0", u"1.0.1", false},
    Case{vfStandard, u"2.0.1", u"2", false},
    Case{vfStandard, u"1.2.0", u"1.2", false},
    Case{vfStandard, u"", u"1", true},
    Case{vfStandard, u"", u"0.5", false},
    Case{vfStandard, u"1.a", u"1.1", true},
    Case{vfStandard, u"1.2.3 ", u"1.2.1", true},     // a trailing blank makes the part 0
    Case{vfStandard, u"1.  2", u"1.3", true},         // leading blanks are fine
    Case{vfStandard, u"1.$10", u"1.17", true},        // hexadecimal: 16 against 17
    Case{vfStandard, u"1.0x10", u"1.17", true},
    Case{vfStandard, u"-1", u"0", true},
    Case{vfStandard, u"1.$FFFFFFFF", u"1.0", true}))  // the pattern is -1
;

INSTANTIATE_TEST_SUITE_P(String, VersionForms, testing::Values(
    Case{vfString, u"1.9", u"1.10", false},
    Case{vfString, u"1.10", u"1.9", true},
    Case{vfString, u"abc", u"abc", false},
    Case{vfString, u"ABC", u"ABc", true},  // lower case sorts after upper case
    Case{vfString, u"abc", u"ABC", false},
    Case{vfString, u"1.0", u"1.0.1", true},  // the longer text sorts after its prefix
    Case{vfString, u"", u"0", true},
    Case{vfString, u"\uFFFF", u"\U0001F600", false}));  // code units, not code points

INSTANTIATE_TEST_SUITE_P(Number, VersionForms, testing::Values(
    Case{vfNumber, u"1.9", u"1.10", false},
    Case{vfNumber, u"1.5", u"1.50", false},
    Case{vfNumber, u"1.5", u"1.51", true},
    Case{vfNumber, u"0.2.0.0", u"1", false},
    Case{vfNumber, u"1", u"0.2.0.0", false},
    Case{vfNumber, u"", u"1", false},
    Case{vfNumber, u"1", u"1e1", true},
    Case{vfNumber, u"  -2", u"+1", true},
    Case{vfNumber, u"1 ", u"2", false},
    Case{vfNumber, u"1", u"2,5", false},
    Case{vfNumber, u"1", u"1e999", false},  // beyond a double: not a number
    Case{vfNumber, u"1e-999", u"1", true}));  // an underflow is 0

TEST(VersionParts, ConvertLikeTheRuntimeIntegerConversion) {
  struct Part {
    std::u16string text;
    std::int32_t value;
  } parts[] = {
      {u"0", 0},           {u"42", 42},          {u"  7", 7},          {u"+7", 7},
      {u"-7", -7},         {u"7 ", 0},           {u"", 0},             {u"-", 0},
      {u"1a", 0},          {u"2147483647", 2147483647},                {u"2147483648", 0},
      {u"-2147483648", -2147483647 - 1},         {u"-2147483649", 0},  {u"$1F", 31},
      {u"x1f", 31},        {u"X1F", 31},         {u"0x1F", 31},        {u"0X1f", 31},
      {u"-$10", -16},      {u"$", 0},            {u"0x", 0},           {u"$FFFFFFFF", -1},
      {u"$000000001", 1},  {u"$100000000", 0},   {u"$80000000", -2147483647 - 1},
      {u"$G", 0},          {u"00012", 12},
  };
  for (const Part& p : parts) EXPECT_EQ(mxVersion::PartToInt(p.text), p.value) << testing::PrintToString(p.text);
}

TEST(VersionNumbers, ConvertIndependentlyOfTheLocale) {
  // A locale with a decimal comma must not change the reading, where one is installed.
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(mxVersion::TextToNumber(u"1.25"), 1.25);
  EXPECT_EQ(mxVersion::TextToNumber(u"1,25"), std::nullopt);
  std::setlocale(LC_NUMERIC, saved.c_str());

  EXPECT_EQ(mxVersion::TextToNumber(u".5"), 0.5);
  EXPECT_EQ(mxVersion::TextToNumber(u"5."), 5.0);
  EXPECT_EQ(mxVersion::TextToNumber(u"1E+2"), 100.0);
  EXPECT_EQ(mxVersion::TextToNumber(u"."), std::nullopt);
  EXPECT_EQ(mxVersion::TextToNumber(u"1e"), std::nullopt);
  EXPECT_EQ(mxVersion::TextToNumber(u"1..2"), std::nullopt);
  EXPECT_EQ(mxVersion::TextToNumber(u"e5"), std::nullopt);
}

}  // namespace
