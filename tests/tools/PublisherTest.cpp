// The publisher's tool: what it writes must come back whole through the updater's own reader,
// signature check and extractor; what the reader could not carry must be refused up front.
#include "Publisher.h"

#include "RunFixture.h"
#include "Signing.h"
#include "ZipExtractor.h"

#include <sys/stat.h>

namespace korvanta::test {
namespace {

namespace fs = std::filesystem;
namespace kp = korvanta::publish;

class Publisher : public testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(folder_ / "new" / "maps");
    WriteFile(folder_ / "new" / "version.txt", "0.3.0.0\r\n");
    WriteFile(folder_ / "new" / "Korvanta.exe", "#!/bin/sh\necho new\n");
    fs::permissions(folder_ / "new" / "Korvanta.exe", fs::perms(0755));
    WriteFile(folder_ / "new" / "maps" / "harbour.map", std::string(100000, 'h'));
    fs::permissions(folder_ / "new" / "maps" / "harbour.map", fs::perms(0640));
  }
  kp::PublishRequest Request() const {
    kp::PublishRequest r;
    r.folder = folder_ / "new";
    r.outFolder = folder_ / "site";
    r.secretKey = keys.secretKeyBase64;
    r.facts.version = "0.3.0.0";
    r.facts.download = "http://updates.example/Update.zip";
    r.facts.author = "Caf\xC3\xA9 \xE2\x82\xAC Team";  // beyond ASCII, within Windows-1252
    r.facts.email = "patch notes";
    r.facts.runParameters = "-quiet";
    return r;
  }

  TestEnvironment environment;
  const fs::path& folder_ = environment.folder();
  const platform::SigningKeyPair keys = platform::GenerateSigningKeyPair();
};

TEST_F(Publisher, ThePageReadsBackEveryFactAndTheArchiveInstallsAsTheFolderWas) {
  const kp::PublishResult result = kp::Publish(Request());
  EXPECT_EQ(result.files, 3u);
  EXPECT_EQ(result.folders, 1u);
  EXPECT_EQ(result.publicKey, keys.publicKeyBase64);
  EXPECT_FALSE(fs::exists(folder_ / "site" / ".Update.zip.building"));

  TmxWebUpdate reader;
  reader.TagInfo()->setProductName(u"mxProductName");
  reader.ReadInfoPage(ReadFile(folder_ / "site" / "webupdate.htm"));
  EXPECT_EQ(reader.ProductName(), u"Korvanta");
  EXPECT_EQ(reader.ProductVersion(), u"0.3.0.0");
  EXPECT_EQ(reader.UpdateURL(), u"http://updates.example/Update.zip");
  EXPECT_EQ(reader.ClientFileName(), u"Update.zip");
  EXPECT_EQ(reader.Author(), u"Caf\u00E9 \u20AC Team");
  EXPECT_EQ(reader.EMail(), u"patch notes");
  EXPECT_EQ(reader.RunParameters(), u"-quiet");
  const std::string digest = platform::FileSha256Hex((folder_ / "site" / "Update.zip").string());
  EXPECT_EQ(digest, result.digestHex);
  EXPECT_TRUE(platform::VerifySignature(keys.publicKeyBase64, platform::ToUtf8(reader.Signature()),
                                        platform::UpdateSignatureMessage("0.3.0.0", digest)));

  fs::create_directories(folder_ / "installed");
  platform::ZipExtractor unzip;
  unzip.setBaseDirectory(U((folder_ / "installed").string() + "/"));
  unzip.setFileName(U((folder_ / "site" / "Update.zip").string()));
  unzip.ExtractFiles(u"*");
  for (const char* name : {"version.txt", "Korvanta.exe", "maps/harbour.map"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(ReadFile(folder_ / "installed" / name), ReadFile(folder_ / "new" / name));
    EXPECT_EQ(fs::status(folder_ / "installed" / name).permissions(), fs::status(folder_ / "new" / name).permissions());
  }
}

TEST_F(Publisher, RefusesWhatTheUpdaterCouldNotReadBackAndWritesNothing) {
  struct Case {
    const char* why;
    std::function<void(kp::PublishRequest&)> change;
    std::string error;
  } cases[] = {
      {"empty version", [](auto& r) { r.facts.version = ""; }, "the version is empty"},
      {"quote in a value", [](auto& r) { r.facts.author = "the \"team\""; },
       "the author must not contain a double quote or a line break"},
      {"line break in a value", [](auto& r) { r.facts.email = "a\nb"; },
       "the e-mail must not contain a double quote or a line break"},
      {"value beyond the reader's window", [](auto& r) { r.facts.runParameters = std::string(255, 'x'); },
       "the run parameters is longer than 254 characters"},
      {"character outside Windows-1252", [](auto& r) { r.facts.author = "\xE4\xB8\xAD"; },
       "the author has a character that Windows-1252 cannot carry"},
      {"address without a scheme", [](auto& r) { r.facts.download = "updates.example/Update.zip"; },
       "the download address must begin with http:// or https://"},
      {"client-side name with a path", [](auto& r) { r.facts.clientFileName = "../Update.zip"; },
       "the client-side name must be a plain file name"},
      {"malformed secret key", [](auto& r) { r.secretKey = "c2hvcnQ="; },
       "the secret key is not base64 of a 64-byte Ed25519 key"},
      {"output inside the new files", [this](auto& r) { r.outFolder = folder_ / "new" / "site"; },
       "the output folder must not lie inside the folder of new files"},
      {"symbolic link among the new files",
       [this](auto&) { fs::create_symlink("/etc/passwd", folder_ / "new" / "link"); },
       "refusing the symbolic link link: the updater installs no links"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    kp::PublishRequest r = Request();
    k.change(r);
    try {
      kp::Publish(r);
      ADD_FAILURE() << "published";
    } catch (const kp::PublishError& e) {
      EXPECT_EQ(std::string(e.what()), k.error);
    }
    EXPECT_FALSE(fs::exists(r.outFolder / "webupdate.htm"));
    EXPECT_FALSE(fs::exists(r.outFolder / "Update.zip"));
    fs::remove(folder_ / "new" / "link");
  }
}

TEST_F(Publisher, KeygenKeepsTheSecretKeyPrivateAndNeverReplacesAKey) {
  const fs::path secret = folder_ / "publisher.key", pub = folder_ / "publisher.pub";
  const std::string publicKey = kp::WriteKeyPair(secret, pub);
  EXPECT_EQ(kp::ReadKeyFile(pub), publicKey);
  EXPECT_EQ(platform::PublicKeyOf(kp::ReadKeyFile(secret)), publicKey);
  struct stat st {};
  ASSERT_EQ(::stat(secret.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const std::string before = ReadFile(secret);
  EXPECT_THROW(kp::WriteKeyPair(secret, folder_ / "other.pub"), kp::PublishError);
  EXPECT_EQ(ReadFile(secret), before);
  EXPECT_FALSE(fs::exists(folder_ / "other.pub"));
}

}  // namespace
}  // namespace korvanta::test
