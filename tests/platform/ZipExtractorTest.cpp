#include "Errors.h"
#include "FileSizeLimit.h"
#include "Text.h"
#include "ZipBuilder.h"
#include "ZipExtractor.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <iterator>
#include <set>

namespace {

using namespace korvanta::platform;
namespace fs = std::filesystem;

class ZipExtractorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvanta-zip-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    root_ = pattern;
    install_ = root_ + "/install";
    archive_ = root_ + "/Update.zip";
    fs::create_directory(install_);
    extractor_.setBaseDirectory(FromUtf8(install_ + "/"));
  }
  void TearDown() override { fs::remove_all(root_); }

  ExtractSummary Extract(const std::u16string& mask = u"*") {
    extractor_.setFileName(FromUtf8(archive_));
    return extractor_.ExtractFiles(mask);
  }

  std::string In(const std::string& relative) const { return install_ + "/" + relative; }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  static void Write(const std::string& path, const std::string& bytes, mode_t mode = 0644) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
    ::chmod(path.c_str(), mode);
  }
  static mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
  }
  // Every name below `dir`, relative to it, so that stray files (temporaries, escapes) show.
  static std::set<std::string> Tree(const std::string& dir) {
    std::set<std::string> names;
    for (const auto& item : fs::recursive_directory_iterator(dir))
      names.insert(fs::relative(item.path(), dir).string());
    return names;
  }

  std::string root_, install_, archive_;
  ZipExtractor extractor_;
};

TEST_F(ZipExtractorTest, InstallsFoldersAndReplacesFilesWithoutAsking) {
  fs::create_directory(In("data"));
  Write(In("version.txt"), "1.0\n");
  Write(In("data/keep.dat"), "untouched");
  ZipBuilder(archive_)
      .File("version.txt", "2.0\n")
      .Folder("empty/")
      .File("data/new/deep/file.bin", std::string(200000, 'z'))  // several chunks
      .File("win\\sub\\file.txt", "backslashes")
      .Write();

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.installed, 4);
  EXPECT_EQ(summary.skipped, 0);
  EXPECT_EQ(Read(In("version.txt")), "2.0\n");
  EXPECT_EQ(Read(In("data/new/deep/file.bin")), std::string(200000, 'z'));
  EXPECT_EQ(Read(In("win/sub/file.txt")), "backslashes");
  EXPECT_EQ(ModeOf(In("empty")), 0755u);
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"version.txt", "empty", "data", "data/keep.dat", "data/new",
                                                   "data/new/deep", "data/new/deep/file.bin", "win", "win/sub",
                                                   "win/sub/file.txt"}));
}

TEST_F(ZipExtractorTest, ModesComeFromTheArchiveOrTheReplacedFile) {
  ::umask(022);
  Write(In("private.cfg"), "old", 0600);
  Write(In("tool.sh"), "old", 0644);
  ZipBuilder(archive_)
      .File("private.cfg", "new")           // no Unix mode: keeps 0600
      .File("fresh.txt", "new")             // no Unix mode, new: 0644
      .File("tool.sh", "new", 0755)         // stored mode wins
      .File("suid", "new", 04775)           // never setuid
      .File("group.txt", "new", 0664)       // applied exactly, umask aside
      .Write();

  Extract();

  EXPECT_EQ(ModeOf(In("private.cfg")), 0600u);
  EXPECT_EQ(ModeOf(In("fresh.txt")), 0644u);
  EXPECT_EQ(ModeOf(In("tool.sh")), 0755u);
  EXPECT_EQ(ModeOf(In("suid")), 0775u);
  EXPECT_EQ(ModeOf(In("group.txt")), 0664u);
  EXPECT_EQ(Read(In("private.cfg")), "new");
}

TEST_F(ZipExtractorTest, EntryThatCannotBeWrittenIsSkippedAndTheRestGoOn) {
  fs::create_directories(In("blocked/inside"));
  Write(In("plain"), "a file");
  ZipBuilder(archive_)
      .File("first.txt", "1")
      .File("blocked", "a folder stands here")
      .File("plain/child.txt", "a file stands where a folder should be")
      .File("last.txt", "2")
      .Write();

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.installed, 2);
  EXPECT_EQ(summary.skipped, 2);
  EXPECT_EQ(Read(In("first.txt")), "1");
  EXPECT_EQ(Read(In("last.txt")), "2");
  EXPECT_EQ(Read(In("plain")), "a file");
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"first.txt", "last.txt", "plain", "blocked", "blocked/inside"}));
}

TEST_F(ZipExtractorTest, ZipSlipDotDotEntryIsNeverWritten) {
  fs::create_directory(In("sub"));
  ZipBuilder(archive_)
      .File("../escape.txt", "x")
      .File("sub/../../escape.txt", "x")
      .File("..\\escape.txt", "x")
      .File("sub\\..\\..\\escape.txt", "x")
      .File("sub/../inside.txt", "x")  // stays inside, but a ".." part is refused all the same
      .File("ok.txt", "fine")
      .Write();

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.skipped, 5);
  EXPECT_EQ(Read(In("ok.txt")), "fine");
  EXPECT_EQ(Tree(root_), (std::set<std::string>{"Update.zip", "install", "install/sub", "install/ok.txt"}));
}

TEST_F(ZipExtractorTest, AbsolutePathEntryIsNeverWritten) {
  const std::string target = root_ + "/absolute.txt";
  ZipBuilder(archive_)
      .File(target, "x")
      .File("\\" + target.substr(1), "x")
      .File("C:/absolute.txt", "x")
      .File("C:absolute.txt", "x")
      .File("ok.txt", "fine")
      .Write();

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.skipped, 4);
  EXPECT_FALSE(fs::exists(target));
  EXPECT_EQ(Tree(root_), (std::set<std::string>{"Update.zip", "install", "install/ok.txt"}));
}

TEST_F(ZipExtractorTest, SymlinkEntryIsNeverCreatedNorWrittenThrough) {
  const std::string outside = root_ + "/outside";
  fs::create_directory(outside);
  ZipBuilder(archive_).Symlink("link", outside).File("link/evil.txt", "x").Write();

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.skipped, 1);
  EXPECT_FALSE(fs::is_symlink(In("link")));
  EXPECT_TRUE(fs::is_empty(outside));
  EXPECT_EQ(Read(In("link/evil.txt")), "x");  // a plain folder inside the installation
}

TEST_F(ZipExtractorTest, SymlinkedFolderInTheInstallationIsNeverFollowed) {
  const std::string outside = root_ + "/outside";
  fs::create_directory(outside);
  fs::create_directory_symlink(outside, In("linked"));
  ZipBuilder(archive_).File("linked/evil.txt", "x").Folder("linked/made/").Write();

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.skipped, 2);
  EXPECT_TRUE(fs::is_empty(outside));
}

TEST_F(ZipExtractorTest, SymlinkAtTheTargetIsReplacedNotFollowed) {
  const std::string victim = root_ + "/victim.txt";
  Write(victim, "victim", 0600);
  fs::create_symlink(victim, In("client.cfg"));
  ZipBuilder(archive_).File("client.cfg", "new").Write();

  Extract();

  EXPECT_FALSE(fs::is_symlink(In("client.cfg")));
  EXPECT_EQ(Read(In("client.cfg")), "new");
  EXPECT_EQ(ModeOf(In("client.cfg")), 0644u);  // not the mode of the link's target
  EXPECT_EQ(Read(victim), "victim");
}

TEST_F(ZipExtractorTest, DamagedEntryLeavesTheOldFileWholeAndNoTemporaryFile) {
  Write(In("Korvanta.exe"), "old client");
  ZipBuilder(archive_)
      .Uncompressed()
      .File("Korvanta.exe", "NEW-CLIENT-" + std::string(100000, 'c'))
      .File("after.txt", "still extracted")
      .Write();
  FlipFirstByteOf(archive_, "NEW-CLIENT-");

  const ExtractSummary summary = Extract();

  EXPECT_EQ(summary.skipped, 1);
  EXPECT_EQ(Read(In("Korvanta.exe")), "old client");
  EXPECT_EQ(Read(In("after.txt")), "still extracted");
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"Korvanta.exe", "after.txt"}));
}

// The extraction runs in a child whose file-size limit lies far below the bomb's real size but
// above its declared one: writing past the declared size would end the child with SIGXFSZ.
TEST_F(ZipExtractorTest, CompressionBombBeyondItsDeclaredSizeIsNeverWritten) {
  ZipBuilder(archive_).File("bomb.bin", std::string(4 << 20, '\0')).File("after.txt", "ok").Write();
  SetDeclaredSize(archive_, "bomb.bin", 1000);

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const rlimit limit{256 * 1024, 256 * 1024};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    const ExtractSummary summary = Extract();
    const bool expected = summary.skipped == 1 && Tree(install_) == std::set<std::string>{"after.txt"};
    ::_exit(expected ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_FALSE(WIFSIGNALED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"after.txt"}));
}

// Entries that cannot be installed leave the old file whole; the ones that can are installed whole.
TEST_F(ZipExtractorTest, ForgedEntriesLeaveTheOldFileWholeAndTheGoodOnesInstalledWhole) {
  const struct {
    const char* attack;
    std::function<void(const std::string& archive)> build;
    std::string expected;  // content of "target" afterwards; it holds "old" before
  } cases[] = {
      {"encrypted entry",
       [](const std::string& a) { ZipBuilder(a).Encrypted("target", "secret new", "password").Write(); }, "old"},
      {"declared size far larger than the data",
       [](const std::string& a) {
         ZipBuilder(a).File("target", std::string(5000, 'n')).Write();
         SetDeclaredSize(a, "target", 50000000);
       },
       "old"},
      {"declared size far larger, stored",
       [](const std::string& a) {
         ZipBuilder(a).Uncompressed().File("target", std::string(5000, 'n')).Write();
         SetDeclaredSize(a, "target", 50000000);
       },
       "old"},
      {"declared size smaller than the data",
       [](const std::string& a) {
         ZipBuilder(a).File("target", std::string(5000, 'n')).Write();
         SetDeclaredSize(a, "target", 10);
       },
       "old"},
      {"duplicate entries: each is installed whole, the later one last",
       [](const std::string& a) {
         ZipBuilder(a).File("target", "first copy").File("targex", "second copy, longer").Write();
         RenameEntries(a, "targex", "target");
       },
       "second copy, longer"},
      {"duplicate entries, the later one damaged",
       [](const std::string& a) {
         ZipBuilder(a).Uncompressed().File("target", "first copy").File("targex", "DAMAGED second copy").Write();
         RenameEntries(a, "targex", "target");
         FlipFirstByteOf(a, "DAMAGED");
       },
       "first copy"},
      {"backslash path leading out, then one leading in",
       [](const std::string& a) {
         ZipBuilder(a).File("..\\install\\target", "escaped").File("sub\\..\\target", "dotted").Write();
       },
       "old"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.attack);
    fs::remove_all(install_);
    fs::create_directory(install_);
    Write(In("target"), "old");
    c.build(archive_);

    Extract();

    EXPECT_EQ(Read(In("target")), c.expected);
    EXPECT_EQ(Tree(install_), std::set<std::string>{"target"}) << "no temporary file and nothing else";
    EXPECT_EQ(Tree(root_), (std::set<std::string>{"Update.zip", "install", "install/target"}));
  }
}

// A disk that fills part-way through the extraction: the entry that no longer fits is skipped
// with its old file whole and no temporary file left, the rest are installed, the process goes on.
TEST_F(ZipExtractorTest, DiskFullDuringAnEntryLeavesItsOldFileWhole) {
  Write(In("Korvanta.exe"), "old client");
  Write(In("version.txt"), "0.2.0.0\r\n");
  ZipBuilder(archive_)
      .File("readme.txt", "small enough")
      .Uncompressed()
      .File("Korvanta.exe", std::string(400 * 1024, 'N'))
      .File("version.txt", "0.3.0.0\r\n")
      .Write();

  ExtractSummary summary;
  const std::string outcome = korvanta::test::RunWithFileSizeLimit(128 * 1024, [&] {
    summary = Extract();
    return summary.installed == 2 && summary.skipped == 1;
  });

  EXPECT_EQ(outcome, "passed");
  EXPECT_EQ(Read(In("Korvanta.exe")), "old client");
  EXPECT_EQ(Read(In("version.txt")), "0.3.0.0\r\n");
  EXPECT_EQ(Read(In("readme.txt")), "small enough");
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"Korvanta.exe", "version.txt", "readme.txt"}));
}

// A killed extraction leaves the temporary file of the entry it was writing; the next extraction
// into that folder removes it, and nothing that only looks alike.
TEST_F(ZipExtractorTest, LeftoverTemporaryFilesOfAKilledRunAreRemovedWhereEntriesGo) {
  fs::create_directories(In("data"));
  fs::create_directories(In("untouched"));
  fs::create_directories(In(".folder.korvanta-abcdef"));
  for (const char* name : {".Korvanta.exe.korvanta-Ab3xYz", "data/.pack.pak.korvanta-000000",
                           "untouched/.old.korvanta-qwerty", ".notes.korvanta-12345", "notes.korvanta-123456"})
    Write(In(name), "partial");
  ZipBuilder(archive_).File("Korvanta.exe", "new").File("data/pack.pak", "new").Write();

  Extract();

  EXPECT_EQ(Tree(install_), (std::set<std::string>{"Korvanta.exe", "data", "data/pack.pak", "untouched",
                                                   "untouched/.old.korvanta-qwerty", ".folder.korvanta-abcdef",
                                                   ".notes.korvanta-12345", "notes.korvanta-123456"}));
}

TEST_F(ZipExtractorTest, ProgressReportsEachEntryThenOneHundred) {
  ZipBuilder(archive_).File("a", "1").File("b", "2").File("../c", "3").Write();
  std::vector<int> seen;
  extractor_.setProgressCallback([&](int percent) { seen.push_back(percent); });

  Extract();

  EXPECT_EQ(seen, (std::vector<int>{33, 66, 100, 100}));
}

TEST_F(ZipExtractorTest, MaskAndPathSettingsChooseWhatIsWritten) {
  ZipBuilder(archive_)
      .File("docs/readme.txt", "r")
      .File("bin/Korvanta.exe", "k")
      .Folder("docs/empty/")
      .File("new/deep/notes.txt", "n")
      .Write();

  EXPECT_EQ(Extract(u"DOCS/*.TXT").installed, 1);
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"docs", "docs/readme.txt"}));

  fs::remove_all(install_);
  fs::create_directory(install_);
  extractor_.setRestorePaths(false);
  Extract();
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"readme.txt", "Korvanta.exe", "notes.txt"}));

  fs::remove_all(install_);
  fs::create_directories(In("docs"));
  extractor_.setRestorePaths(true);
  extractor_.setCreateFolders(false);
  const ExtractSummary summary = Extract();
  EXPECT_EQ(summary.installed, 1);
  EXPECT_EQ(summary.skipped, 3);
  EXPECT_EQ(Tree(install_), (std::set<std::string>{"docs", "docs/readme.txt"}));
}

TEST(FileMask, WildcardsMatchAcrossFoldersIgnoringAsciiCase) {
  const struct {
    std::u16string path, mask;
    bool matches;
  } cases[] = {
      {u"a/b/c.txt", u"*", true},        {u"", u"*", true},
      {u"a/b/c.txt", u"*.txt", true},    {u"a/b/c.txt", u"a\\*", true},
      {u"C.TXT", u"c.txt", true},        {u"c.txt", u"?.txt", true},
      {u"cc.txt", u"?.txt", false},      {u"c.txt.bak", u"*.txt", false},
      {u"abcabd", u"*abd", true},        {u"\u00C4.txt", u"\u00E4.txt", false},
  };
  for (const auto& c : cases)
    EXPECT_EQ(MatchesFileMask(c.path, c.mask), c.matches) << ToUtf8(c.path) << " ~ " << ToUtf8(c.mask);
}

TEST_F(ZipExtractorTest, UnusableArchivesRaiseTheirErrors) {
  const auto errorOf = [&](const std::string& path) -> std::u16string {
    try {
      extractor_.setFileName(FromUtf8(path));
    } catch (const EArchiveError& e) {
      return e.Message();
    }
    return u"";
  };
  const std::string empty = root_ + "/empty.zip", page = root_ + "/page.zip";
  const std::string cut = root_ + "/cut.zip", broken = root_ + "/broken.zip";
  Write(empty, "");
  Write(page, "<html><body>404 Not Found</body></html>\n");
  for (const std::string& path : {cut, broken})
    ZipBuilder(path).File("a.txt", std::string(5000, 'a')).File("b.txt", "b").Write();
  CutShort(cut, fs::file_size(cut) / 2);
  BreakCentralDirectory(broken);

  const struct {
    std::string path;
    std::u16string error;
  } cases[] = {
      {root_ + "/missing.zip", u"File not found"},
      {install_, u"File not found"},
      {empty, u"Invalid Stream"},
      {page, u"Unhandled Archive Type"},
      {cut, u"Damaged archive: the archive's directory is missing or damaged"},
      {broken, u"Damaged archive: Zip archive inconsistent"},
  };
  for (const auto& c : cases) EXPECT_EQ(errorOf(c.path), c.error) << c.path;

  // A failed open leaves no archive behind; the empty name just closes.
  EXPECT_EQ(extractor_.fileName(), u"");
  EXPECT_THROW(extractor_.ExtractFiles(u"*"), EArchiveError);
  ZipBuilder(archive_).File("a.txt", "a").Write();
  extractor_.setFileName(FromUtf8(archive_));
  EXPECT_EQ(extractor_.fileName(), FromUtf8(archive_));
  EXPECT_NO_THROW(extractor_.setFileName(u""));
  EXPECT_EQ(extractor_.fileName(), u"");
}

}  // namespace
