#include "Internals.h"

#include <gtest/gtest.h>

namespace {

TEST(Component, NewComponentHasTheDefaults) {
  TmxWebUpdate c;
  EXPECT_EQ(c.ProductInfo()->URL(), u"http://");
  EXPECT_EQ(c.ProductInfo()->Version(), u"1.0");
  EXPECT_EQ(c.ProductInfo()->VersionFormat(), vfStandard);
  EXPECT_EQ(c.Options(), (TmxUpdateOptions{uoRunUpdate, uoTerminate}));
  EXPECT_EQ(c.Options().Bits(), 0b011);
  EXPECT_EQ(c.HTTPPort(), 80u);
  EXPECT_EQ(c.TargetFolder(), u"");
  EXPECT_EQ(c.UserName(), u"");
  EXPECT_EQ(c.Password(), u"");
  EXPECT_FALSE(c.Active());
  EXPECT_EQ(TmxWebUpdateInternals::PackedVersion(c), 277);
  EXPECT_FALSE(TmxWebUpdateInternals::HasDialog(c));
  EXPECT_TRUE(TmxWebUpdateInternals::Info(c).empty());

  const TmxTagInfo& t = *c.TagInfo();
  EXPECT_EQ(t.Author(), u"mxAuthor");
  EXPECT_EQ(t.Email(), u"mxEmail");
  EXPECT_EQ(t.ClientFileName(), u"mxClientSideName");
  EXPECT_EQ(t.Download(), u"mxDownload");
  EXPECT_EQ(t.ProductName(), u"mxProduct");
  EXPECT_EQ(t.Redirection(), u"mxRedirection");
  EXPECT_EQ(t.RunParameters(), u"mxRunParameters");
  EXPECT_EQ(t.Version(), u"mxVersion");
  EXPECT_EQ(t.Signature(), u"mxSignature");
  EXPECT_EQ(c.PublicKey(), u"");  // no verification unless a publisher's key is set

  EXPECT_EQ(c.InfoCaption()->OkButton(), u"&OK");
  EXPECT_EQ(c.InfoCaption()->CancelButton(), u"&Cancel");
  EXPECT_EQ(c.InfoCaption()->CheckForUpdate(), u"C&heck for updates in the future");

  for (const std::u16string* fact : {&c.ProductVersion(), &c.UpdateURL(), &c.ClientFileName(),
                                     &c.RedirectionURL(), &c.Author(), &c.EMail(), &c.ProductName(),
                                     &c.RunParameters(), &c.Signature()})
    EXPECT_EQ(*fact, u"");
}

TEST(Component, UrlRuleAddsThePrefixOnlyWhereTheSchemeIsMissing) {
  struct Case {
    std::u16string written, stored;
  } cases[] = {
      {u"", u"http://"},
      {u"http://host/webupdate.htm", u"http://host/webupdate.htm"},
      {u"HTTP://Host/Page", u"HTTP://Host/Page"},
      {u"hTtP://h/p", u"hTtP://h/p"},
      {u"host/webupdate.htm", u"http://host/webupdate.htm"},
      {u"http:/", u"http://http:/"},
      {u"ftp://host/x", u"http://ftp://host/x"},
      {u"http:", u"http://http:"},
      // An https address is kept: the prefix would make it unreachable.
      {u"https://host/p", u"https://host/p"},
      {u"HTTPS://host/p", u"HTTPS://host/p"},
  };
  for (const Case& k : cases) {
    TmxProductInfo p;
    p.setURL(k.written);
    EXPECT_EQ(p.URL(), k.stored);
  }
}

TEST(Component, VersionTextIsFixedAndWritesAreIgnored) {
  TmxWebUpdate c;
  EXPECT_EQ(c.Version(), u"1.21");
  c.setVersion(u"9.99");
  EXPECT_EQ(c.Version(), u"1.21");
  EXPECT_EQ(TmxWebUpdateInternals::PackedVersion(c), 277);
}

TEST(Component, OptionSetIsOneBytePerOrdinal) {
  TmxUpdateOptions o{uoRunUpdate, uoOverwrite};
  EXPECT_EQ(o.Bits(), 0b101);
  EXPECT_TRUE(o.Contains(uoRunUpdate));
  EXPECT_FALSE(o.Contains(uoTerminate));
  o.Exclude(uoRunUpdate);
  o.Include(uoTerminate);
  EXPECT_EQ(o, TmxUpdateOptions::FromBits(0b110));
}

TEST(Component, StoredValuesReplaceTheDefaultsThroughTheSetters) {
  TmxWebUpdateStoredValues stored;
  stored.TagInfo.ProductName = u"mxProductName";
  stored.ProductInfo.URL = u"updates.example/webupdate.htm";  // goes through the URL rule
  stored.ProductInfo.Version = u"0.2.0.0";
  stored.Options = TmxUpdateOptions{uoRunUpdate, uoOverwrite};
  stored.Version = u"1.21";  // accepted and discarded
  stored.TargetFolder = u".\\";
  stored.HTTPPort = 8080;
  stored.TagInfo.Signature = u"sig";
  stored.PublicKey = u"key";

  TmxWebUpdate c;
  stored.Load(c);
  EXPECT_EQ(c.TagInfo()->ProductName(), u"mxProductName");
  EXPECT_EQ(c.TagInfo()->Version(), u"mxVersion");  // not stored: the default stays
  EXPECT_EQ(c.ProductInfo()->URL(), u"http://updates.example/webupdate.htm");
  EXPECT_EQ(c.ProductInfo()->Version(), u"0.2.0.0");
  EXPECT_EQ(c.ProductInfo()->VersionFormat(), vfStandard);
  EXPECT_EQ(c.Options(), (TmxUpdateOptions{uoRunUpdate, uoOverwrite}));
  EXPECT_EQ(c.Version(), u"1.21");
  EXPECT_EQ(c.TargetFolder(), u".\\");
  EXPECT_EQ(c.HTTPPort(), 8080u);
  EXPECT_EQ(c.UserName(), u"");
  EXPECT_EQ(c.TagInfo()->Signature(), u"sig");
  EXPECT_EQ(c.PublicKey(), u"key");
}

TEST(Component, AbortOutsideATransferOnlyRaisesTheFlag) {
  TmxWebUpdate c;
  EXPECT_FALSE(TmxWebUpdateInternals::Aborting(c));
  c.Abort();
  EXPECT_TRUE(TmxWebUpdateInternals::Aborting(c));
  EXPECT_FALSE(c.Active());
}

TEST(Component, DispatchersFireOnlyAssignedEventsWithTheComponentAsSender) {
  struct Probe : TmxWebUpdate {
    void FireAll() {
      DoDownload();
      DoDownloadError();
      DoBeforeDownload(u"a");
      DoAfterDownload(u"b");
      DoNoUpdateFound();
      DoAfterGetInfo();
      DoBeforeGetInfo();
      DoCannotExecute();
    }
  } c;
  c.FireAll();  // nothing assigned: nothing happens

  std::vector<std::string> fired;
  auto notify = [&](const char* name) {
    return [&fired, &c, name](TmxWebUpdate& sender) {
      EXPECT_EQ(&sender, &c);
      fired.push_back(name);
    };
  };
  TmxWebUpdateInternals::FileSize(c) = 10;
  TmxWebUpdateInternals::DownloadedSize(c) = 4;
  c.setOnDownload([&](TmxWebUpdate&, std::int32_t total, std::int32_t done) {
    fired.push_back("Download " + std::to_string(total) + " " + std::to_string(done));
  });
  c.setOnDownloadError(notify("DownloadError"));
  c.setOnBeforeDownload([&](TmxWebUpdate&, std::u16string f) { fired.push_back("Before " + std::string(f.begin(), f.end())); });
  c.setOnAfterDownload([&](TmxWebUpdate&, std::u16string f) { fired.push_back("After " + std::string(f.begin(), f.end())); });
  c.setOnNoUpdateFound(notify("NoUpdateFound"));
  c.setOnAfterGetInfo(notify("AfterGetInfo"));
  c.setOnBeforeGetInfo(notify("BeforeGetInfo"));
  c.setOnCannotExecute(notify("CannotExecute"));
  c.FireAll();
  EXPECT_EQ(fired, (std::vector<std::string>{"Download 10 4", "DownloadError", "Before a", "After b",
                                             "NoUpdateFound", "AfterGetInfo", "BeforeGetInfo",
                                             "CannotExecute"}));
}

}  // namespace
