#include "Errors.h"
#include "Text.h"
#include "TextFile.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

namespace {

using namespace korvanta::platform;
namespace fs = std::filesystem;

class TextFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvanta-textfile-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& bytes) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }

  // The text of the error ReadFirstLine raises, or "" when it raises none.
  static std::u16string ErrorOf(const std::string& path) {
    try {
      ReadFirstLine(FromUtf8(path));
    } catch (const EInOutError& e) {
      return e.Message();
    }
    return u"";
  }

  std::string dir_;
};

TEST_F(TextFileTest, FirstLineEndsAtCrLfOrEndOfFileMark) {
  const std::string longLine(10000, 'x');  // spans several reads
  const struct {
    std::string bytes;
    std::u16string line;
  } cases[] = {
      {"1.2.3\r\nmore\r\n", u"1.2.3"},
      {"1.2.3\nmore", u"1.2.3"},
      {"1.2.3\rmore", u"1.2.3"},
      {"1.2.3\x1Amore", u"1.2.3"},
      {"1.2.3", u"1.2.3"},
      {"", u""},
      {"\r\n1.2.3", u""},
      {"1.2.3 \t\n", u"1.2.3 \t"},
      {"\xEF\xBB\xBF" "1.2.3\n", u"\u00EF\u00BB\u00BF" u"1.2.3"},
      {"\x80 \x99 \xE9\n", u"\u20AC \u2122 \u00E9"},
      {longLine + "\nrest", FromUtf8(longLine)},
      {longLine + "y", FromUtf8(longLine + "y")},
  };
  for (const auto& c : cases) {
    const std::string path = Write("version.txt", c.bytes);
    EXPECT_EQ(ReadFirstLine(FromUtf8(path)), c.line) << c.bytes.substr(0, 20);
  }
}

// A writer that keeps the pipe open until the line has been returned: reading on to the end of
// the file would wait for it, and the test would see the writer's time-out instead.
TEST_F(TextFileTest, StopsReadingAtTheLineBreak) {
  const std::string path = dir_ + "/pipe";
  ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
  std::atomic<bool> returned{false};
  std::atomic<bool> writerGaveUp{false};
  std::thread writer([&] {
    std::ofstream out(path, std::ios::binary);
    out << "1.2.3\n" << std::flush;
    for (int i = 0; i < 1000 && !returned; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    writerGaveUp = !returned;
  });
  std::u16string line;
  try {
    line = ReadFirstLine(FromUtf8(path));
  } catch (...) {
    const int release = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);  // lets a waiting writer go
    returned = true;
    writer.join();
    ::close(release);
    throw;
  }
  returned = true;
  writer.join();
  EXPECT_EQ(line, u"1.2.3");
  EXPECT_FALSE(writerGaveUp);
}

TEST_F(TextFileTest, FailuresRaiseTheStandardFileErrors) {
  Write("plain", "x");
  fs::create_directory(dir_ + "/folder");
  const struct {
    std::string path;
    std::u16string error;
  } cases[] = {
      {dir_ + "/missing.txt", u"File not found"},
      {dir_ + "/plain/version.txt", u"File not found"},  // a file where a folder should be
      {dir_ + "/folder", u"I/O error 21"},                 // EISDIR when read
  };
  for (const auto& c : cases) EXPECT_EQ(ErrorOf(c.path), c.error) << c.path;
}

// Permission bits do not stop root, so as root the read happens in a child that has dropped to
// an unprivileged user; the child reports the error text it saw.
TEST_F(TextFileTest, UnreadableFileRaisesFileAccessDenied) {
  const std::string path = Write("version.txt", "1.2.3\n");
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  if (::geteuid() != 0) {
    ASSERT_EQ(::chmod(path.c_str(), 0000), 0);
    EXPECT_EQ(ErrorOf(path), u"File access denied");
    return;
  }
  ASSERT_EQ(::chmod(dir_.c_str(), 0755), 0);
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(pipeFds[0]);
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
    const std::string text = ToUtf8(ErrorOf(path));
    (void)!::write(pipeFds[1], text.data(), text.size());
    ::_exit(0);
  }
  ::close(pipeFds[1]);
  std::string seen;
  char buffer[128];
  for (ssize_t got; (got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0;) seen.append(buffer, got);
  ::close(pipeFds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "could not drop privileges";
  EXPECT_EQ(seen, "File access denied");
}

}  // namespace
