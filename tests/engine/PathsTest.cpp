#include "Internals.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

TEST(SplitUrl, CutsHostAndObjectPath) {
  struct Case {
    std::u16string url, host, path;
  } cases[] = {
      {u"http://H/P", u"H", u"/P"},
      {u"HTTP://H/P", u"H", u"/P"},
      {u"H/P", u"H", u"/P"},
      {u"http://H/", u"H", u"/"},
      {u"http://H", u"", u"H"},
      {u"/P", u"", u"/P"},
      {u"H:8080/P", u"H:8080", u"/P"},
      {u"", u"", u""},
      {u"http://u:p@H/a/b?q=1#f", u"u:p@H", u"/a/b?q=1#f"},
      {u"ftp://H/P", u"ftp:", u"//H/P"},
      // https names its real host (the transfer then uses TLS).
      {u"https://H/P", u"H", u"/P"},
      {u"HTTPS://H:8443/P", u"H:8443", u"/P"},
  };
  TmxWebUpdate c;
  for (const auto& k : cases) {
    std::u16string host = u"x", path = u"y";
    TmxWebUpdateInternals::SplitURL(c, k.url, host, path);
    EXPECT_EQ(host, k.host) << testing::PrintToString(k.url);
    EXPECT_EQ(path, k.path) << testing::PrintToString(k.url);
  }
}

class ClientFilePath : public testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("korvanta-paths-" + std::to_string(getpid()));
    std::filesystem::create_directories(root_ / "target");
    std::filesystem::create_directories(root_ / "tmp");
    previousCwd_ = std::filesystem::current_path();
    std::filesystem::current_path(root_);
    const char* tmp = std::getenv("TMPDIR");
    savedTmp_ = tmp ? std::optional<std::string>(tmp) : std::nullopt;
    setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
  }
  void TearDown() override {
    std::filesystem::current_path(previousCwd_);
    if (savedTmp_) setenv("TMPDIR", savedTmp_->c_str(), 1); else unsetenv("TMPDIR");
    std::filesystem::remove_all(root_);
  }
  std::u16string Tmp() const { return korvanta::platform::FromUtf8((root_ / "tmp").string()) + u"/"; }

  std::filesystem::path root_, previousCwd_;
  std::optional<std::string> savedTmp_;
};

TEST_F(ClientFilePath, TargetFolderOrElseTheTemporaryFolder) {
  struct Case {
    std::u16string folder, name;
    bool inTemp;
    std::u16string expected;  // when not in the temporary folder
  } cases[] = {
      {u".\\", u"Update.zip", false, u".\\Update.zip"},
      {u"./", u"Update.zip", false, u"./Update.zip"},
      {u"target", u"Update.zip", false, u"target/Update.zip"},
      {u"target/", u"Update.zip", false, u"target/Update.zip"},
      {u"target\\", u"Update.zip", false, u"target\\Update.zip"},
      {u"target", u"", false, u"target/"},
      {u"missing", u"Update.zip", true, u""},
      {u"", u"Update.zip", true, u""},
      {u"", u"", true, u""},
  };
  for (const auto& k : cases) {
    TmxWebUpdate c;
    c.setTargetFolder(k.folder);
    TmxWebUpdateInternals::ClientFileName(c) = k.name;
    const std::u16string expected = k.inTemp ? Tmp() + k.name : k.expected;
    EXPECT_EQ(TmxWebUpdateInternals::GetClientFilePath(c), expected) << testing::PrintToString(k.folder);
  }
}

TEST_F(ClientFilePath, AFileIsNoFolder) {
  std::filesystem::path file = root_ / "plain";
  { FILE* f = fopen(file.c_str(), "w"); fclose(f); }
  TmxWebUpdate c;
  c.setTargetFolder(u"plain");
  TmxWebUpdateInternals::ClientFileName(c) = u"u.zip";
  EXPECT_EQ(TmxWebUpdateInternals::GetClientFilePath(c), Tmp() + u"u.zip");
}

}  // namespace
