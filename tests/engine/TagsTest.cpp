#include "Internals.h"

#include <gtest/gtest.h>

namespace {

std::u16string Meta(const std::u16string& name, const std::u16string& content) {
  return u"<META NAME=\"" + name + u"\" CONTENT=\"" + content + u"\">";
}

struct Facts {
  std::u16string product, client, version, author, email, download, redirection, parameters, signature;
  bool operator==(const Facts&) const = default;
};

Facts Read(const TmxWebUpdate& c) {
  return {c.ProductName(), c.ClientFileName(), c.ProductVersion(), c.Author(),
          c.EMail(),       c.UpdateURL(),      c.RedirectionURL(), c.RunParameters(),
          c.Signature()};
}

void PrintTo(const Facts& f, std::ostream* os) {
  for (const auto* s : {&f.product, &f.client, &f.version, &f.author, &f.email, &f.download,
                        &f.redirection, &f.parameters, &f.signature}) {
    *os << testing::PrintToString(*s);
    *os << ' ';
  }
}

Facts Parse(TmxWebUpdate& c, std::vector<std::u16string> lines) {
  TmxWebUpdateInternals::Info(c) = std::move(lines);
  TmxWebUpdateInternals::ParseInfo(c);
  return Read(c);
}

TEST(Tags, AConformingPageFillsAllNineFacts) {
  TmxWebUpdate c;
  const std::vector<std::u16string> page = {
      u"<HTML><HEAD>",
      Meta(u"mxProduct", u"Korvanta"),
      Meta(u"mxClientSideName", u"Update.zip"),
      Meta(u"mxVersion", u"0.2.1.0"),
      Meta(u"mxAuthor", u"The Team"),
      Meta(u"mxEmail", u"mail@example"),
      Meta(u"mxDownload", u"http://h/Update.zip"),
      Meta(u"mxRedirection", u""),
      Meta(u"mxRunParameters", u"-silent"),
      Meta(u"mxSignature", u"c2lnbmVk"),
      u"</HEAD></HTML>",
  };
  const std::vector<std::u16string> before = page;
  EXPECT_EQ(Parse(c, page), (Facts{u"Korvanta", u"Update.zip", u"0.2.1.0", u"The Team", u"mail@example",
                                   u"http://h/Update.zip", u"", u"-silent", u"c2lnbmVk"}));
  EXPECT_EQ(TmxWebUpdateInternals::Info(c), before);  // the reader does not change the lines
}

TEST(Tags, LineRulesDecideWhatAVersionLineYields) {
  const std::u16string v254(254, u'9');
  const std::u16string v255(255, u'9');
  struct Case {
    const char* why;
    std::u16string line;
    std::u16string version;
  } cases[] = {
      {"plain", Meta(u"mxVersion", u"1.2.0.0"), u"1.2.0.0"},
      {"text before the marker", u"junk <p>" + Meta(u"mxVersion", u"7"), u"7"},
      {"lower-case content marker", u"<META NAME=\"mxVersion\" content=\"3\">", u"3"},
      {"mixed-case content marker", u"<META NAME=\"mxVersion\" CoNtEnT=\"4\">", u"4"},
      {"blanks and references kept", Meta(u"mxVersion", u" 1 &amp; 2 "), u" 1 &amp; 2 "},
      {"value of 254 characters", Meta(u"mxVersion", v254), v254},
      {"value of 255 characters", Meta(u"mxVersion", v255), u""},
      {"value without closing quote", u"<META NAME=\"mxVersion\" CONTENT=\"5>", u""},
      {"no content attribute", u"<META NAME=\"mxVersion\">", u""},
      {"content of an earlier element wins", u"<X CONTENT=\"other\"><META NAME=\"mxVersion\" CONTENT=\"6\">",
       u"other"},
      {"two elements: first name, first content",
       Meta(u"mxVersion", u"8") + Meta(u"mxAuthor", u"someone"), u"8"},
      {"marker skip characters are not looked at", u"<META NAMEXXmxVersion\" CONTENT=Y9\">", u"9"},
  };
  for (const Case& k : cases) {
    TmxWebUpdate c;
    TmxWebUpdateInternals::ProductVersion(c) = u"stale";
    EXPECT_EQ(Parse(c, {k.line}).version, k.version) << k.why;
  }
}

TEST(Tags, LinesThatNameNoKnownTagFillNothing) {
  const std::u16string n255(255, u'n');
  struct Case {
    const char* why;
    std::u16string line;
  } cases[] = {
      {"lower-case name marker", u"<meta name=\"mxVersion\" CONTENT=\"1\">"},
      {"two blanks in the marker", u"<META  NAME=\"mxVersion\" CONTENT=\"1\">"},
      {"blank before the equals sign", u"<META NAME =\"mxVersion\" CONTENT=\"1\">"},
      {"tag name in another case", Meta(u"mxversion", u"1")},
      {"blank inside the quotes", Meta(u" mxVersion", u"1")},
      {"single quotes", u"<META NAME='mxVersion' CONTENT='1'>"},
      {"name of 255 characters", Meta(n255, u"1")},
  };
  for (const Case& k : cases) {
    TmxWebUpdate c;
    EXPECT_EQ(Parse(c, {k.line}), Facts{}) << k.why;
  }
}

TEST(Tags, EveryFactIsEmptiedAndTheLastLineWins) {
  TmxWebUpdate c;
  TmxWebUpdateInternals::RedirectionURL(c) = u"http://before/";
  TmxWebUpdateInternals::ClientFileName(c) = u"old.zip";
  EXPECT_EQ(Parse(c, {u"<HTML>", u"no tags here", u""}), Facts{});

  EXPECT_EQ(Parse(c, {Meta(u"mxVersion", u"1"), Meta(u"mxVersion", u"2")}).version, u"2");
  EXPECT_EQ(Parse(c, {Meta(u"mxVersion", u"1"), Meta(u"mxVersion", u"")}).version, u"");
  // NAME and CONTENT on two lines: the fact is emptied.
  EXPECT_EQ(Parse(c, {Meta(u"mxVersion", u"1"), u"<META NAME=\"mxVersion\"", u"CONTENT=\"2\">"}).version, u"");
}

TEST(Tags, APageReadFromItsBytesYieldsItsFacts) {
  TmxWebUpdate c;
  c.ReadInfoPage("<HTML>\r\n<META NAME=\"mxAuthor\" CONTENT=\"Caf\xE9 \x80\">\n"
                 "<META NAME=\"mxVersion\" CONTENT=\"1.2\">\r<META NAME=\"mxSignature\" CONTENT=\"s\">");
  EXPECT_EQ(c.Author(), u"Caf\u00E9 \u20AC");  // Windows-1252, as a page fetched over the network
  EXPECT_EQ(c.ProductVersion(), u"1.2");
  EXPECT_EQ(c.Signature(), u"s");
  c.ReadInfoPage("");
  EXPECT_EQ(Read(c), Facts{});
}

TEST(Tags, ProductTagNameFollowsTheSetting) {
  TmxWebUpdate c;
  EXPECT_EQ(Parse(c, {Meta(u"mxProductName", u"K")}).product, u"");
  EXPECT_EQ(Parse(c, {Meta(u"mxProduct", u"K")}).product, u"K");
  c.TagInfo()->setProductName(u"mxProductName");
  EXPECT_EQ(Parse(c, {Meta(u"mxProduct", u"K")}).product, u"");
  EXPECT_EQ(Parse(c, {Meta(u"mxProductName", u"K")}).product, u"K");
}

TEST(Tags, EqualSettingsFillBothFactsFromOneLine) {
  TmxWebUpdate c;
  c.TagInfo()->setAuthor(u"mxShared");
  c.TagInfo()->setEmail(u"mxShared");
  const Facts f = Parse(c, {Meta(u"mxShared", u"both")});
  EXPECT_EQ(f.author, u"both");
  EXPECT_EQ(f.email, u"both");

  // An empty setting matches every malformed line, whose name is empty.
  c.TagInfo()->setRunParameters(u"");
  EXPECT_EQ(Parse(c, {u"<META NAME=\"\" CONTENT=\"x\">"}).parameters, u"x");
}

TEST(Tags, ExtractContentStandsAlone) {
  EXPECT_EQ(ExtractContent(u""), u"");
  EXPECT_EQ(ExtractContent(u"CONTENT="), u"");
  EXPECT_EQ(ExtractContent(u"CONTENT=\""), u"");
  EXPECT_EQ(ExtractContent(u"CONTENT=\"\""), u"");
  EXPECT_EQ(ExtractContent(u"xcontent=\"Ab\u00E9\""), u"Ab\u00E9");
  // Only ASCII letters are folded: a dotted capital I is not an "I".
  EXPECT_EQ(ExtractContent(u"CONTENT\u0130=\"x\""), u"");
}

TEST(Tags, LinesAreCutAtEveryKindOfBreak) {
  struct Case {
    std::u16string text;
    std::vector<std::u16string> lines;
  } cases[] = {
      {u"", {}},
      {u"a", {u"a"}},
      {u"a\r\nb\nc\rd", {u"a", u"b", u"c", u"d"}},
      {u"a\r\n", {u"a"}},
      {u"a\n", {u"a"}},
      {u"a\r", {u"a"}},
      {u"a\n\r", {u"a", u""}},
      {u"a\n\rb", {u"a", u"", u"b"}},
      {u"\n", {u""}},
      {u"a\r\n\r\nb", {u"a", u"", u"b"}},
      {u"\r\r", {u"", u""}},
  };
  for (const Case& k : cases) EXPECT_EQ(SplitLines(k.text), k.lines);
}

}  // namespace
