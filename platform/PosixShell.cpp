// The shell's "open" on POSIX. Results follow the shell's convention: above 32 is success,
// 2 file not found, 3 path not found, 5 access denied, 8 out of memory, 31 nothing to open it with.
#include "FileSystem.h"
#include "Services.h"
#include "Text.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace korvanta::platform {
namespace {

constexpr std::intptr_t kStarted = 42;
constexpr std::intptr_t kFileNotFound = 2;
constexpr std::intptr_t kPathNotFound = 3;
constexpr std::intptr_t kAccessDenied = 5;
constexpr std::intptr_t kOutOfMemory = 8;
constexpr std::intptr_t kNoAssociation = 31;

std::intptr_t FromErrno(int error) {
  switch (error) {
    case ENOENT: return kFileNotFound;
    case ENOTDIR: return kPathNotFound;
    case EACCES:
    case EPERM: return kAccessDenied;
    case ENOMEM: return kOutOfMemory;
    default: return kNoAssociation;
  }
}

// Starts argv[0] detached: a first child makes a new session and forks the program, then ends, so the
// program is never our child and never becomes a zombie. A close-on-exec pipe carries exec's errno back.
std::intptr_t SpawnDetached(const std::vector<std::string>& args, const std::string* directory) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  int pipeFds[2];
  if (pipe2(pipeFds, O_CLOEXEC) != 0) return FromErrno(errno);

  const pid_t first = fork();
  if (first < 0) {
    const int error = errno;
    close(pipeFds[0]);
    close(pipeFds[1]);
    return FromErrno(error);
  }
  if (first == 0) {
    // Only async-signal-safe calls from here on.
    close(pipeFds[0]);
    setsid();
    const pid_t second = fork();
    if (second < 0) {
      const int error = errno;
      (void)!write(pipeFds[1], &error, sizeof error);
      _exit(127);
    }
    if (second == 0) {
      if (directory && chdir(directory->c_str()) != 0) {
        const int error = errno;
        (void)!write(pipeFds[1], &error, sizeof error);
        _exit(127);
      }
      execvp(argv[0], argv.data());
      const int error = errno;
      (void)!write(pipeFds[1], &error, sizeof error);
      _exit(127);
    }
    _exit(0);
  }
  close(pipeFds[1]);
  int status = 0;
  while (waitpid(first, &status, 0) < 0 && errno == EINTR) {
  }
  int childError = 0;
  ssize_t got;
  while ((got = read(pipeFds[0], &childError, sizeof childError)) < 0 && errno == EINTR) {
  }
  close(pipeFds[0]);
  return got == static_cast<ssize_t>(sizeof childError) ? FromErrno(childError) : kStarted;
}

}  // namespace

std::intptr_t PosixShell::Execute(WindowHandle /*parent*/, const std::u16string& operation,
                                  const std::u16string& file,
                                  const std::optional<std::u16string>& parameters,
                                  const std::optional<std::u16string>& directory, int /*showCommand*/) {
  if (operation != u"open" || file.empty()) return kNoAssociation;
  const std::string path = NativePath(file).string();
  std::string dir;
  if (directory && !directory->empty()) dir = NativePath(*directory).string();
  const std::string* dirPtr = dir.empty() ? nullptr : &dir;

  // A name without a folder part counts from the current (or the given) folder, never from PATH.
  std::string resolved = path.find('/') == std::string::npos ? "./" + path : path;
  const std::string probe = (dirPtr && resolved[0] != '/') ? dir + "/" + resolved : resolved;

  struct stat st {};
  if (stat(probe.c_str(), &st) != 0) {
    // Not a file: an address or other name goes to the desktop's opener.
    if (errno != ENOENT && errno != ENOTDIR) return FromErrno(errno);
    if (file.find(u"://") == std::u16string::npos) return FromErrno(errno);
    return SpawnDetached({"xdg-open", path}, dirPtr);
  }
  if (S_ISREG(st.st_mode) && access(probe.c_str(), X_OK) == 0) {
    std::vector<std::string> args{resolved};
    if (parameters)
      for (const std::u16string& word : SplitCommandLine(*parameters)) args.push_back(ToUtf8(word));
    return SpawnDetached(args, dirPtr);
  }
  return SpawnDetached({"xdg-open", resolved}, dirPtr);
}

}  // namespace korvanta::platform
