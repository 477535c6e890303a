// Signed updates: with a publisher's key set, only an update file whose page signature verifies
// for the published version and the file's digest counts as downloaded; anything else is deleted
// before the host sees it.
#include "RunFixture.h"
#include "Signing.h"

namespace korvanta::test {
namespace {

using Events = std::vector<std::string>;
namespace p = korvanta::platform;

std::string Sha256Hex(const std::string& bytes) {
  p::Sha256 hash;
  hash.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  return hash.FinalHex();
}

class SignedUpdate : public RunFixture {
 protected:
  void SetUp() override {
    RunFixture::SetUp();
    c.setTargetFolder(u".\\");
    c.ProductInfo()->setVersion(u"0.2.0.0");
    c.setOptions({uoRunUpdate, uoOverwrite});
  }
  std::string SignatureFor(const std::string& version, const std::string& archive,
                           const p::SigningKeyPair& by) const {
    return p::SignMessage(by.secretKeyBase64, p::UpdateSignatureMessage(version, Sha256Hex(archive)));
  }
  // Serves version 0.3 and its archive; the signature line only when `signature` is given.
  void Serve(const std::string& archive, const std::optional<std::string>& signature) {
    std::string metas = Meta("mxProduct", "Korvanta") + Meta("mxVersion", "0.3") +
                        Meta("mxClientSideName", "Update.zip") + Meta("mxDownload", Url("/Update.zip"));
    if (signature) metas += Meta("mxSignature", *signature);
    ServePage("/webupdate.htm", metas);
    server.RouteResponse("/Update.zip", TestHttpServer::Response(200, archive));
  }
  // Logs the events and notes whether the update file still exists when OnAfterDownload fires.
  void Watch() {
    auto logged = c.OnAfterDownload();
    c.setOnAfterDownload([this, logged](TmxWebUpdate& s, std::u16string file) {
      fileAtAfterDownload = std::filesystem::exists(folder_ / "Update.zip");
      logged(s, std::move(file));
    });
  }

  const p::SigningKeyPair publisher = p::GenerateSigningKeyPair();
  const p::SigningKeyPair stranger = p::GenerateSigningKeyPair();
  const std::string archive = "PK\x03\x04 the new client " + std::string(5000, 'x');
  bool fileAtAfterDownload = false;
};

TEST_F(SignedUpdate, AValidSignatureIsInstalledAndStarted) {
  Serve(archive, SignatureFor("0.3", archive, publisher));
  c.setPublicKey(U(publisher.publicKeyBase64));
  EventLog log(c);
  Watch();
  EXPECT_TRUE(c.CheckForAnUpdate());
  EXPECT_TRUE(fileAtAfterDownload);
  EXPECT_EQ(ReadFile(folder_ / "Update.zip"), archive);
  const Events events = log.Collapsed();
  EXPECT_EQ(Events(events.end() - 3, events.end()),
            (Events{"BeforeDownload .\\Update.zip", "Download*", "AfterDownload .\\Update.zip"}));
  EXPECT_EQ(services.shellCalls.size(), 1u);
}

TEST_F(SignedUpdate, AnythingButTheRightSignatureIsRefusedAndDeleted) {
  std::string tampered = archive;
  tampered[tampered.size() / 2] ^= 0x01;
  const std::string good = SignatureFor("0.3", archive, publisher);
  std::string flipped = good;
  flipped[10] = flipped[10] == 'A' ? 'B' : 'A';
  struct Case {
    const char* attack;
    std::string served;
    std::optional<std::string> signature;
    std::string publicKey;
  } cases[] = {
      {"unsigned archive", archive, std::nullopt, publisher.publicKeyBase64},
      {"empty signature", archive, "", publisher.publicKeyBase64},
      {"signature that is not base64", archive, "not base64 at all!", publisher.publicKeyBase64},
      {"signature of the wrong length", archive, good.substr(0, 44), publisher.publicKeyBase64},
      {"signature with one character changed", archive, flipped, publisher.publicKeyBase64},
      {"archive signed by another key", archive, SignatureFor("0.3", archive, stranger), publisher.publicKeyBase64},
      {"old archive replayed with its signature for another version", archive, SignatureFor("0.2", archive, publisher),
       publisher.publicKeyBase64},
      {"archive changed by one byte", tampered, good, publisher.publicKeyBase64},
      {"public key that is not a key", archive, good, "c2hvcnQ="},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.attack);
    services.shellCalls.clear();
    Serve(k.served, k.signature);
    c.setPublicKey(U(k.publicKey));
    EventLog log(c);
    Watch();
    EXPECT_FALSE(c.CheckForAnUpdate());
    EXPECT_FALSE(fileAtAfterDownload);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip"));
    const Events events = log.Collapsed();
    EXPECT_EQ(Events(events.end() - 4, events.end()),
              (Events{"BeforeDownload .\\Update.zip", "Download*", "DownloadError", "AfterDownload .\\Update.zip"}));
    EXPECT_TRUE(services.shellCalls.empty());
  }
}

TEST_F(SignedUpdate, WithoutAKeyTheArchiveIsTakenAsItComes) {
  Serve(archive, std::nullopt);
  EventLog log(c);
  Watch();
  EXPECT_TRUE(c.CheckForAnUpdate());
  EXPECT_TRUE(fileAtAfterDownload);
  EXPECT_EQ(ReadFile(folder_ / "Update.zip"), archive);
  EXPECT_EQ(services.shellCalls.size(), 1u);
}

TEST_F(SignedUpdate, ATruncatedDownloadIsDeletedWithOneErrorEvent) {
  ServePage("/webupdate.htm", Meta("mxProduct", "K") + Meta("mxVersion", "0.3") + Meta("mxClientSideName", "Update.zip") +
                                  Meta("mxDownload", Url("/Update.zip")) +
                                  Meta("mxSignature", SignatureFor("0.3", archive, publisher)));
  // Announces the whole archive, sends half of it and closes.
  server.RouteResponse("/Update.zip", "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(archive.size()) +
                                          "\r\n\r\n" + archive.substr(0, archive.size() / 2));
  c.setPublicKey(U(publisher.publicKeyBase64));
  EventLog log(c);
  Watch();
  EXPECT_FALSE(c.CheckForAnUpdate());
  EXPECT_FALSE(fileAtAfterDownload);
  const Events events = log.Collapsed();
  EXPECT_EQ(std::count(events.begin(), events.end(), "DownloadError"), 1);
}

TEST_F(SignedUpdate, AClientFileNameFromThePageCannotEscapeTheTargetFolder) {
  const std::filesystem::path outside = folder_.parent_path() / ("korvanta-escape-" + std::to_string(getpid()));
  std::filesystem::create_directories(outside);
  struct Case {
    const char* attack;
    std::string name;
  } cases[] = {
      {"parent step", "../" + outside.filename().string() + "/x.zip"},
      {"parent step with backslashes", "..\\" + outside.filename().string() + "\\x.zip"},
      {"absolute path", (outside / "x.zip").string()},
      {"drive-qualified path", "C:x.zip"},
      {"parent step after a folder", "sub/../../" + outside.filename().string() + "/x.zip"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.attack);
    ServePage("/webupdate.htm", Meta("mxProduct", "K") + Meta("mxVersion", "0.3") + Meta("mxClientSideName", k.name) +
                                    Meta("mxDownload", Url("/Update.zip")));
    server.RouteResponse("/Update.zip", TestHttpServer::Response(200, archive));
    EventLog log(c);
    EXPECT_FALSE(c.CheckForAnUpdate());
    EXPECT_EQ(log.Collapsed().back(), "DownloadError");
    EXPECT_TRUE(std::filesystem::is_empty(outside));
  }
  // A name inside a folder of the target stays allowed.
  std::filesystem::create_directories(folder_ / "sub");
  ServePage("/webupdate.htm", Meta("mxProduct", "K") + Meta("mxVersion", "0.3") + Meta("mxClientSideName", "sub/u.zip") +
                                  Meta("mxDownload", Url("/Update.zip")));
  EventLog log(c);
  EXPECT_TRUE(c.CheckForAnUpdate());
  EXPECT_EQ(ReadFile(folder_ / "sub" / "u.zip"), archive);
  std::filesystem::remove_all(outside);
}

}  // namespace
}  // namespace korvanta::test
