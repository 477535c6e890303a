#include "Processes.h"

#include "Text.h"
#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>

namespace korvanta::platform {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};
using UniqueDir = std::unique_ptr<DIR, DirCloser>;

bool IsPid(const char* name) {
  if (*name == '\0') return false;
  for (const char* p = name; *p; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

// Reads a /proc file up to the first `stop` byte (or its end), at most `limit` bytes.
// False when the file cannot be opened or read, which is how a vanished process shows.
bool ReadProcText(const std::string& path, char stop, std::size_t limit, std::string& text) {
  text.clear();
  const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return false;
  char buffer[512];
  while (text.size() < limit) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    const std::string_view chunk(buffer, static_cast<std::size_t>(got));
    const std::size_t end = chunk.find(stop);
    text.append(chunk.substr(0, end));
    if (end != std::string_view::npos) break;
  }
  return true;
}

bool ReadLink(const std::string& path, std::string& target) {
  target.assign(256, '\0');
  for (;;) {
    const ssize_t got = ::readlink(path.c_str(), target.data(), target.size());
    if (got < 0) return false;
    if (static_cast<std::size_t>(got) < target.size()) {
      target.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (target.size() >= 65536) return false;
    target.resize(target.size() * 2);
  }
}

ProcProcesses gProcProcesses;
IProcesses* gProcesses = &gProcProcesses;

}  // namespace

IProcesses& Processes() { return *gProcesses; }

void InstallProcesses(IProcesses* processes) { gProcesses = processes ? processes : &gProcProcesses; }

std::vector<ProcessEntry> ProcProcesses::Snapshot() {
  std::vector<ProcessEntry> entries;
  const UniqueDir proc(::opendir("/proc"));
  if (!proc) return entries;

  std::string text;
  while (const dirent* item = ::readdir(proc.get())) {
    if (!IsPid(item->d_name)) continue;
    const std::string base = std::string("/proc/") + item->d_name;
    // The command name is there for every live process, kernel threads included.
    if (!ReadProcText(base + "/comm", '\n', 64, text)) continue;

    ProcessEntry entry;
    entry.pid = std::stoi(item->d_name);
    if (!text.empty()) entry.names.push_back(FromUtf8(text));
    if (ReadProcText(base + "/cmdline", '\0', 65536, text) && !text.empty())
      entry.names.push_back(FromUtf8(text));
    if (ReadLink(base + "/exe", text) && !text.empty()) entry.names.push_back(FromUtf8(text));
    entries.push_back(std::move(entry));
  }
  return entries;
}

bool ProcProcesses::Terminate(int pid) {
  // 0 and negative ids address process groups or every process: never that.
  if (pid <= 0 || pid == ::getpid()) return false;
  return ::kill(pid, SIGKILL) == 0;
}

bool ProcessNameMatches(std::u16string_view entry, std::u16string_view exeFileName) {
  const std::size_t cut = entry.find_last_of(u"/\\:");
  const std::u16string_view fileName = cut == std::u16string_view::npos ? entry : entry.substr(cut + 1);
  return EqualsIgnoreAsciiCase(fileName, exeFileName) || EqualsIgnoreAsciiCase(entry, exeFileName);
}

}  // namespace korvanta::platform
