// The real window class and the real component against the loopback server, under Qt's offscreen
// platform. Shell, sleep and the process list are fakes; processes are real in the last test.
#include "Application.h"
#include "Errors.h"
#include "GradientProgressBar.h"
#include "Processes.h"
#include "RunFixture.h"
#include "Signing.h"
#include "ZipBuilder.h"
#include "frm_MainWindow.h"

#include <QAbstractButton>
#include <QLabel>
#include <QProgressBar>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace korvanta::test {
namespace {

using Texts = std::vector<std::string>;

class FakeProcesses final : public platform::IProcesses {
 public:
  FakeProcesses() { platform::InstallProcesses(this); }
  ~FakeProcesses() override { platform::InstallProcesses(nullptr); }
  std::vector<platform::ProcessEntry> Snapshot() override { return entries; }
  bool Terminate(int pid) override {
    terminated.push_back(pid);
    return true;
  }
  std::vector<platform::ProcessEntry> entries;
  std::vector<int> terminated;
};

std::string S(const QString& text) { return text.toStdString(); }

class MainWindow : public testing::Test {
 protected:
  void SetUp() override {
    TApplication::Instance()->setMessagePresenter([this](const QString& text) { messages.push_back(S(text)); });
  }
  void TearDown() override {
    TApplication::Instance()->setMessagePresenter({});
    TApplication::Instance()->setMainForm(nullptr);
    window.reset();
  }

  // Creates and shows the window in the current folder, aimed at the loopback server.
  Tform_MainWindow& Start() {
    window = std::make_unique<Tform_MainWindow>();
    TApplication::Instance()->setMainForm(window.get());
    window->mxWebUpdate->ProductInfo()->setURL(U(server.url("/webupdate.htm")));
    window->mxWebUpdate->setHTTPPort(server.port());
    window->show();
    RecordStatusLine();
    return *window;
  }

  // Chains onto every handler of the window so that each status text is recorded once it is set.
  void RecordStatusLine() {
    TmxWebUpdate& c = *window->mxWebUpdate;
    auto record = [this] {
      const std::string text = S(window->UpdateDownloadBar->Caption());
      if (status.empty() || status.back() != text) status.push_back(text);
    };
    auto chain = [&](auto handler, auto setter) {
      (c.*setter)([handler, record](auto&&... args) {
        handler(std::forward<decltype(args)>(args)...);
        record();
      });
    };
    chain(c.OnBeforeGetInfo(), &TmxWebUpdate::setOnBeforeGetInfo);
    chain(c.OnAfterGetInfo(), &TmxWebUpdate::setOnAfterGetInfo);
    chain(c.OnDownloadError(), &TmxWebUpdate::setOnDownloadError);
    chain(c.OnNoUpdateFound(), &TmxWebUpdate::setOnNoUpdateFound);
    chain(c.OnBeforeDownload(), &TmxWebUpdate::setOnBeforeDownload);
    chain(c.OnAfterDownload(), &TmxWebUpdate::setOnAfterDownload);
  }

  std::string Page(const std::string& version, const std::string& clientName = "Update.zip") const {
    return "<HTML>\r\n" + Meta("mxProductName", "Korvanta") + Meta("mxVersion", version) +
           Meta("mxAuthor", "Studio K") + Meta("mxEmail", "Patch notes inside") +
           Meta("mxClientSideName", clientName) + Meta("mxDownload", server.url("/Update.zip")) + "</HTML>\r\n";
  }
  void ServePage(const std::string& body) {
    server.RouteResponse("/webupdate.htm", TestHttpServer::Response(200, body));
  }
  // An update archive: new version.txt, a replaced client, a file in a new folder.
  void ServeArchive() {
    const std::string path = (folder_ / "archive.src.zip").string();
    ZipBuilder(path)
        .File("version.txt", "0.3.0.0\r\n", 0644)
        .File("Korvanta.exe", "#!/bin/sh\necho new\n", 0755)
        .Folder("maps/")
        .File("maps/new.map", "map data", 0644)
        .Write();
    server.RouteResponse("/Update.zip", TestHttpServer::Response(200, ReadFile(path)));
    std::filesystem::remove(path);
  }
  void Click(QAbstractButton* command) { command->click(); }

  TestEnvironment environment;
  const std::filesystem::path& folder_ = environment.folder();
  FakeServices services{false};
  FakeProcesses processes;
  TestHttpServer server;
  std::unique_ptr<Tform_MainWindow> window;
  Texts status;
  Texts messages;
};

TEST_F(MainWindow, StartsUpWithTheInstalledVersionAndTheCaption) {
  struct Case {
    const char* why;
    std::optional<std::string> versionFile;
    std::u16string version, componentVersion;
    Texts messages;
  } cases[] = {
      {"first line only", "1.2.3\r\nmore\r\n", u"1.2.3", u"1.2.3", {}},
      {"trailing blank kept", "1.2.3 \n", u"1.2.3 ", u"1.2.3 ", {}},
      {"empty file", "", u"", u"", {}},
      {"byte-order mark decoded as characters", "\xEF\xBB\xBF" "1.0", u"\u00EF\u00BB\u00BF" u"1.0",
       u"\u00EF\u00BB\u00BF" u"1.0", {}},
      {"missing file", std::nullopt, u"", u"0.2.0.0", {"File not found."}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    messages.clear();
    std::filesystem::remove(folder_ / "version.txt");
    if (k.versionFile) WriteFile(folder_ / "version.txt", *k.versionFile);
    WriteFile(folder_ / "Update.zip", "left over");
    Tform_MainWindow& w = Start();
    EXPECT_EQ(w.version, k.version);
    EXPECT_EQ(w.mxWebUpdate->ProductInfo()->Version(), k.componentVersion);
    EXPECT_EQ(messages, k.messages);
    EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip")) << "a leftover archive is deleted";
    EXPECT_EQ(S(w.windowTitle()), "Korvanta Updater v0.1.1");
    EXPECT_EQ(S(w.lbl_YourVersion->text()), "Press 'Check Update' button on top");
    EXPECT_EQ(S(w.lbl_WebVersion->text()), "Press 'Check Update' button on top");
    EXPECT_EQ(S(w.UpdateDownloadBar->Caption()), "Waiting...");
    EXPECT_EQ(S(w.UpdateCommand()->text()), "Check  Update");
    EXPECT_EQ(S(w.ExitCommand()->text()), "Exit");
  }
}

TEST_F(MainWindow, ComponentCarriesTheStoredSettings) {
  WriteFile(folder_ / "version.txt", "0.2.0.0");
  TmxWebUpdate& c = *Start().mxWebUpdate;
  EXPECT_EQ(c.TagInfo()->ProductName(), u"mxProductName");
  EXPECT_EQ(c.Options(), (TmxUpdateOptions{uoRunUpdate, uoOverwrite}));
  EXPECT_EQ(c.TargetFolder(), u".\\");
  const TmxWebUpdate fresh;
  EXPECT_EQ(MainWindowStoredValues().ProductInfo.URL->substr(0, 7), u"http://");
  EXPECT_TRUE(MainWindowStoredValues().ProductInfo.URL->ends_with(u"/webupdate.htm"));
  EXPECT_EQ(fresh.TagInfo()->ProductName(), u"mxProduct");
}

TEST_F(MainWindow, ANewerVersionIsInstalledAndTheClientStarted) {
  WriteFile(folder_ / "version.txt", "0.2.0.0\r\n");
  WriteFile(folder_ / "Korvanta.exe", "old client");
  ServePage(Page("0.3.0.0"));
  ServeArchive();
  processes.entries = {{101, {u"Korvanta.exe"}}, {102, {u"bash"}}, {103, {u"/games/KORVANTA.EXE"}}};
  Tform_MainWindow& w = Start();
  Click(w.UpdateCommand());

  EXPECT_EQ(status, (Texts{"Checking for an update", "Downloading file Update.zip",
                           "Update done, starting Korvanta Client"}));
  EXPECT_EQ(S(w.lbl_Author->text()), "Studio K");
  EXPECT_EQ(S(w.lbl_Email->text()), "Patch notes inside");
  EXPECT_EQ(S(w.lbl_YourVersion->text()), "0.2.0.0");
  EXPECT_EQ(S(w.lbl_WebVersion->text()), "0.3.0.0");
  EXPECT_EQ(processes.terminated, (std::vector<int>{101, 103}));

  EXPECT_EQ(ReadFile(folder_ / "version.txt"), "0.3.0.0\r\n");
  EXPECT_EQ(ReadFile(folder_ / "maps/new.map"), "map data");
  EXPECT_EQ(std::filesystem::status(folder_ / "Korvanta.exe").permissions() & std::filesystem::perms::owner_exec,
            std::filesystem::perms::owner_exec);
  EXPECT_EQ(w.UnzipArchiveBar->value(), 100);
  EXPECT_TRUE(std::filesystem::exists(folder_ / "Update.zip")) << "the archive stays until the next start";

  // The client first, by name with no parameters, then the 4-second pause, then the end; the
  // component opens the downloaded file after the handler returned.
  ASSERT_EQ(services.shellCalls.size(), 2u);
  EXPECT_EQ(services.shellCalls[0].file, u"Korvanta.exe");
  EXPECT_EQ(services.shellCalls[0].parameters, std::nullopt);
  EXPECT_EQ(services.shellCalls[0].directory, std::nullopt);
  EXPECT_EQ(services.shellCalls[0].parent, TApplication::Instance()->MainWindowHandle());
  EXPECT_EQ(services.shellCalls[1].file, u".\\Update.zip");
  EXPECT_EQ(services.sleeps, (std::vector<unsigned>{4000}));
  EXPECT_TRUE(TApplication::Instance()->Terminated());
  EXPECT_EQ(std::u16string(w.appname), u"Korvanta.exe");
  EXPECT_TRUE(messages.empty());

  // The next start deletes the archive and reads the new version.
  Start();
  EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip"));
  EXPECT_EQ(window->version, u"0.3.0.0");
}

TEST_F(MainWindow, EveryOtherOutcomeShowsItsStatusLine) {
  WriteFile(folder_ / "version.txt", "0.2.0.0");
  struct Case {
    const char* why;
    std::optional<std::string> page;  // none: the page is not served (404 with an empty body)
    std::string archive;              // raw response for /Update.zip
    Texts status;
    Texts messages;
    std::string author, webVersion;
  } cases[] = {
      {"not newer", Page("0.2.0.0"), "", {"Checking for an update", "There is no update available!"}, {},
       "Studio K", "0.2.0.0"},
      {"page not received", std::nullopt, "", {"Checking for an update", "Cannot download data from the web!"}, {},
       "", ""},
      {"no product name", "<META NAME=\"mxVersion\" CONTENT=\"0.3\">", "",
       {"Checking for an update", "Cannot download data from the web!"}, {}, "", "0.3"},
      {"archive without length", Page("0.3.0.0"), TestHttpServer::Response(200, "x", false),
       {"Checking for an update", "Downloading file Update.zip", "Cannot download data from the web!"},
       {"File not found."}, "Studio K", "0.3.0.0"},
      {"error page saved as archive", Page("0.3.0.0"), TestHttpServer::Response(404, "<html>gone</html>"),
       {"Checking for an update", "Downloading file Update.zip"}, {"Unhandled Archive Type."}, "Studio K",
       "0.3.0.0"},
      {"empty archive", Page("0.3.0.0"), TestHttpServer::Response(200, ""),
       {"Checking for an update", "Downloading file Update.zip"}, {"Invalid Stream."}, "Studio K", "0.3.0.0"},
      {"another client-side name", Page("0.3.0.0", "Other.zip"), TestHttpServer::Response(200, "PK"),
       {"Checking for an update", "Downloading file Other.zip"}, {"File not found."}, "Studio K", "0.3.0.0"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    server.RouteResponse("/webupdate.htm", k.page ? TestHttpServer::Response(200, *k.page)
                                                  : TestHttpServer::Response(404, ""));
    server.RouteResponse("/Update.zip", k.archive);
    status.clear();
    messages.clear();
    services.shellCalls.clear();
    Tform_MainWindow& w = Start();
    Click(w.UpdateCommand());
    EXPECT_EQ(status, k.status);
    EXPECT_EQ(messages, k.messages);
    EXPECT_EQ(S(w.lbl_Author->text()), k.author);
    EXPECT_EQ(S(w.lbl_YourVersion->text()), "0.2.0.0");
    EXPECT_EQ(S(w.lbl_WebVersion->text()), k.webVersion);
    EXPECT_TRUE(services.shellCalls.empty()) << "the client is not started";
    EXPECT_TRUE(services.sleeps.empty());
  }
}

TEST_F(MainWindow, WithAPublisherKeyOnlyASignedArchiveIsInstalled) {
  const platform::SigningKeyPair publisher = platform::GenerateSigningKeyPair();
  const std::string archivePath = (folder_ / "archive.src.zip").string();
  ZipBuilder(archivePath).File("version.txt", "0.3.0.0\r\n", 0644).File("Korvanta.exe", "new client", 0755).Write();
  const std::string archive = ReadFile(archivePath);
  std::filesystem::remove(archivePath);
  const auto signatureFor = [&](const std::string& bytes) {
    platform::Sha256 digest;
    digest.Update(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    return platform::SignMessage(publisher.secretKeyBase64,
                                 platform::UpdateSignatureMessage("0.3.0.0", digest.FinalHex()));
  };
  std::string tampered = archive;
  tampered[tampered.size() - 30] ^= 0x20;  // inside the central directory's names: still a readable archive

  const Texts refused = {"Checking for an update", "Downloading file Update.zip", "Cannot download data from the web!"};
  struct Case {
    const char* why;
    std::string served, signature;
    bool installed;
  } cases[] = {
      {"signed archive", archive, signatureFor(archive), true},
      {"unsigned archive", archive, "", false},
      {"archive changed after signing", tampered, signatureFor(archive), false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.why);
    WriteFile(folder_ / "version.txt", "0.2.0.0\r\n");
    WriteFile(folder_ / "Korvanta.exe", "old client");
    ServePage("<HTML>\r\n" + Meta("mxProductName", "Korvanta") + Meta("mxVersion", "0.3.0.0") +
              Meta("mxClientSideName", "Update.zip") + Meta("mxDownload", server.url("/Update.zip")) +
              (k.signature.empty() ? "" : Meta("mxSignature", k.signature)));
    server.RouteResponse("/Update.zip", TestHttpServer::Response(200, k.served));
    status.clear();
    messages.clear();
    services.shellCalls.clear();
    Tform_MainWindow& w = Start();
    w.mxWebUpdate->setPublicKey(U(publisher.publicKeyBase64));
    Click(w.UpdateCommand());
    if (k.installed) {
      EXPECT_EQ(status.back(), "Update done, starting Korvanta Client");
      EXPECT_EQ(ReadFile(folder_ / "Korvanta.exe"), "new client");
      EXPECT_EQ(services.shellCalls.size(), 2u);
    } else {
      EXPECT_EQ(status, refused);
      EXPECT_EQ(messages, (Texts{"File not found."}));
      EXPECT_EQ(ReadFile(folder_ / "version.txt"), "0.2.0.0\r\n");
      EXPECT_EQ(ReadFile(folder_ / "Korvanta.exe"), "old client");
      EXPECT_FALSE(std::filesystem::exists(folder_ / "Update.zip"));
      EXPECT_TRUE(services.shellCalls.empty()) << "nothing is started";
    }
  }
}

TEST_F(MainWindow, ASecondCheckDuringARunChangesNothing) {
  WriteFile(folder_ / "version.txt", "0.2.0.0");
  ServePage(Page("0.2.0.0"));
  Tform_MainWindow& w = Start();
  int nested = 0;
  auto handler = w.mxWebUpdate->OnDownload();
  w.mxWebUpdate->setOnDownload([&](TmxWebUpdate& s, std::int32_t t, std::int32_t d) {
    handler(s, t, d);
    const Texts before = status;
    Click(w.UpdateCommand());  // arrives like a click handled between two blocks
    EXPECT_EQ(status, before);
    ++nested;
  });
  Click(w.UpdateCommand());
  EXPECT_GE(nested, 1);
  EXPECT_EQ(status, (Texts{"Checking for an update", "There is no update available!"}));
  EXPECT_EQ(server.Paths(), Texts{"/webupdate.htm"});
}

TEST_F(MainWindow, TheBarFollowsEachTransferWithItsClamping) {
  WriteFile(folder_ / "version.txt", "0.2.0.0");
  Tform_MainWindow& w = Start();
  auto& bar = *w.UpdateDownloadBar;
  TmxWebUpdate& c = *w.mxWebUpdate;
  struct Step {
    std::int32_t total, downloaded;
    int max, position;
    bool full, unchangedFill;
  } steps[] = {
      {1000, 500, 1000, 500, false, false},
      {0, 700, 0, 0, false, true},        // announced size 0: fill left as it was, position 0
      {100, 250, 100, 100, true, false},  // more received than announced: a full bar
  };
  for (const Step& s : steps) {
    const int fillBefore = bar.FillPixels();
    c.OnDownload()(c, s.total, s.downloaded);
    EXPECT_EQ(bar.Max(), s.max);
    EXPECT_EQ(bar.Position(), s.position);
    if (s.unchangedFill) {
      EXPECT_EQ(bar.FillPixels(), fillBefore);
    }
    if (s.full) {
      EXPECT_GT(bar.FillPixels(), 300);
    }
  }
}

TEST_F(MainWindow, AnEntryThatCannotBeWrittenIsSkippedAndTheRestGoesOn) {
  WriteFile(folder_ / "version.txt", "0.2.0.0");
  std::filesystem::create_directories(folder_ / "blocked.dat");  // a folder stands at the entry's path
  WriteFile(folder_ / "keep.txt", "old");
  ServePage(Page("0.3.0.0"));
  const std::string path = (folder_ / "src.zip").string();
  ZipBuilder(path).File("blocked.dat", "data").File("keep.txt", "new").File("../outside.txt", "escape").Write();
  server.RouteResponse("/Update.zip", TestHttpServer::Response(200, ReadFile(path)));
  std::filesystem::remove(path);

  Tform_MainWindow& w = Start();
  Click(w.UpdateCommand());
  EXPECT_TRUE(std::filesystem::is_directory(folder_ / "blocked.dat"));
  EXPECT_EQ(ReadFile(folder_ / "keep.txt"), "new");
  EXPECT_FALSE(std::filesystem::exists(folder_.parent_path() / "outside.txt"));
  EXPECT_EQ(status.back(), "Update done, starting Korvanta Client");
  ASSERT_FALSE(services.shellCalls.empty());
  EXPECT_EQ(services.shellCalls[0].file, u"Korvanta.exe");
  EXPECT_TRUE(messages.empty());
}

TEST(TerminateProcesses, EndsEveryClientWhateverTheCaseAndNothingElse) {
  const auto dir = std::filesystem::temp_directory_path() / ("korvanta-procs-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  auto start = [&](const std::string& name) {
    std::filesystem::copy_file("/bin/sleep", dir / name, std::filesystem::copy_options::overwrite_existing);
    const pid_t pid = fork();
    if (pid == 0) {
      const std::string program = (dir / name).string();
      execl(program.c_str(), name.c_str(), "30", static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid;
  };
  const pid_t client = start("Korvanta.exe");
  const pid_t shouting = start("KORVANTA.EXE");
  const pid_t other = start("Korvanta.exe.bak");
  usleep(200 * 1000);  // let exec finish so /proc shows the new names

  EXPECT_NE(TerminateProcessesByName(u"Korvanta.exe"), 0);
  for (pid_t pid : {client, shouting}) {
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  }
  int status = 0;
  EXPECT_EQ(waitpid(other, &status, WNOHANG), 0) << "another program keeps running";
  kill(other, SIGKILL);
  waitpid(other, &status, 0);
  EXPECT_EQ(TerminateProcessesByName(u"Korvanta.exe"), 0) << "no process matched";
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace korvanta::test

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  testing::InitGoogleTest(&argc, argv);
  TApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
