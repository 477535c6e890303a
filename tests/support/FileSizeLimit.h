// Runs a piece of a test in a child process whose files cannot grow beyond a limit, the way a
// full disk stops a write part-way: SIGXFSZ is ignored, so the write fails with EFBIG instead of
// ending the process. The child reports through its exit status only and never runs destructors
// of the parent's objects.
#pragma once

#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>

namespace korvanta::test {

// The child's exit status (0: every check passed), or a text saying how it ended otherwise.
inline std::string RunWithFileSizeLimit(rlim_t limitBytes, const std::function<bool()>& body) {
  const pid_t child = ::fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{limitBytes, limitBytes};
    if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(2);
    bool passed = false;
    try {
      passed = body();
    } catch (...) {
      ::_exit(3);
    }
    ::_exit(passed ? 0 : 1);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return "waitpid failed";
  if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
  const int code = WEXITSTATUS(status);
  return code == 0 ? "passed" : code == 1 ? "a check failed" : code == 3 ? "an exception escaped" : "exit " + std::to_string(code);
}

}  // namespace korvanta::test
