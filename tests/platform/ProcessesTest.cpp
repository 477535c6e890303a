#include "Processes.h"
#include "Text.h"

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <set>

namespace {

using namespace korvanta::platform;
namespace fs = std::filesystem;

TEST(ProcessNameMatches, ComparesTheFileNamePartOrTheWholeEntry) {
  const struct {
    std::u16string entry;
    bool matches;
  } cases[] = {
      {u"Korvanta.exe", true},
      {u"KORVANTA.EXE", true},
      {u"korvanta.exe", true},
      {u"/opt/games/Korvanta.exe", true},
      {u"C:\\Games\\Korvanta.exe", true},
      {u"C:Korvanta.exe", true},
      {u"/opt/Korvanta.exe/other", false},
      {u"Korvanta.exe.bak", false},
      {u"MyKorvanta.exe", false},
      {u"Korvanta.exe ", false},
      {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(ProcessNameMatches(c.entry, u"Korvanta.exe"), c.matches) << ToUtf8(c.entry);

  // Only a-z and A-Z are folded.
  EXPECT_TRUE(ProcessNameMatches(u"/x/K\u00F6rvanta.exe", u"K\u00F6rvanta.exe"));
  EXPECT_FALSE(ProcessNameMatches(u"/x/K\u00D6RVANTA.EXE", u"K\u00F6rvanta.exe"));
  // A name that has delimiters itself can only match the whole entry.
  EXPECT_TRUE(ProcessNameMatches(u"C:\\Games\\Korvanta.exe", u"c:\\games\\KORVANTA.exe"));
}

// Children are copies of sleep under the client's name; they are started and reaped here.
class ProcessesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/korvanta-processes-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    for (pid_t pid : children_) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, nullptr, 0);
    }
    fs::remove_all(dir_);
  }

  // Starts a copy of sleep under `name` and returns once it runs the new program.
  pid_t Start(const std::string& name) {
    const std::string path = dir_ + "/" + name;
    fs::copy_file("/bin/sleep", path, fs::copy_options::overwrite_existing);
    fs::permissions(path, fs::perms::owner_all);
    int ready[2];
    if (::pipe2(ready, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::execl(path.c_str(), path.c_str(), "30", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(ready[1]);
    char byte;
    while (::read(ready[0], &byte, 1) < 0 && errno == EINTR) {
    }  // end of file: exec closed the pipe
    ::close(ready[0]);
    if (pid > 0) children_.push_back(pid);
    return pid;
  }

  // Reaps a child; its wait status, or -1 while it still runs.
  int Reap(pid_t pid, bool wait) {
    int status = 0;
    if (::waitpid(pid, &status, wait ? 0 : WNOHANG) != pid) return -1;
    children_.erase(std::find(children_.begin(), children_.end(), pid));
    return status;
  }

  std::string dir_;
  std::vector<pid_t> children_;
};

TEST_F(ProcessesTest, FindsAndEndsClientProcessesUnderAnyCaseOfTheirName) {
  const pid_t lower = Start("Korvanta.exe");
  const pid_t upper = Start("KORVANTA.EXE");
  const pid_t other = Start("Other.exe");
  ASSERT_GT(lower, 0);
  ASSERT_GT(upper, 0);
  ASSERT_GT(other, 0);

  ProcProcesses processes;
  std::set<int> matched;
  bool sawSelf = false;
  for (const ProcessEntry& entry : processes.Snapshot()) {
    if (entry.pid == ::getpid()) sawSelf = !entry.names.empty();
    // Only our own children: other programs on this machine may carry the name too.
    if (entry.pid != lower && entry.pid != upper && entry.pid != other) continue;
    // Command name, command line and executable path all name the copy.
    EXPECT_EQ(entry.names.size(), 3u) << entry.pid;
    const bool matches = std::any_of(entry.names.begin(), entry.names.end(), [](const std::u16string& name) {
      return ProcessNameMatches(name, u"Korvanta.exe");
    });
    if (matches) {
      matched.insert(entry.pid);
      EXPECT_TRUE(processes.Terminate(entry.pid));
    }
  }
  EXPECT_TRUE(sawSelf);
  EXPECT_EQ(matched, (std::set<int>{lower, upper}));

  for (pid_t pid : {lower, upper}) {
    const int status = Reap(pid, true);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << pid;
  }
  EXPECT_EQ(Reap(other, false), -1) << "a process of another name was ended";
}

TEST_F(ProcessesTest, NeverTerminatesTheCallerOrAProcessGroup) {
  ProcProcesses processes;
  EXPECT_FALSE(processes.Terminate(::getpid()));
  // Id 0 would address the caller's whole process group: try it in a child that leads its own.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::setpgid(0, 0);
    ProcProcesses inChild;
    const bool refused = !inChild.Terminate(0) && !inChild.Terminate(::getpid());
    ::_exit(refused ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
