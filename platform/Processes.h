// The system's process list and process termination, behind a replaceable interface so that the
// program's process-ending logic can be tested without touching real processes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace korvanta::platform {

struct ProcessEntry {
  int pid = 0;
  // Every name the process is known by: its command name, the first word of its command line and
  // its executable's path, as far as each can be read.
  std::vector<std::u16string> names;
};

class IProcesses {
 public:
  virtual ~IProcesses() = default;
  // The processes running now; a process that ends during the scan is left out.
  virtual std::vector<ProcessEntry> Snapshot() = 0;
  // Asks the system to end the process at once, without waiting for it; true when the request was
  // accepted. Never ends the calling process.
  virtual bool Terminate(int pid) = 0;
};

// The installed process service (never null: the real one stands in).
IProcesses& Processes();
// Installs a process service; nullptr restores the real one. The caller keeps ownership.
void InstallProcesses(IProcesses* processes);

// The real service on /proc; termination is SIGKILL, the counterpart of a forced termination.
class ProcProcesses final : public IProcesses {
 public:
  std::vector<ProcessEntry> Snapshot() override;
  bool Terminate(int pid) override;
};

// True when the file-name part of `entry` (the text after its last '/', '\' or ':') or the whole of
// `entry` equals `exeFileName`, ignoring the case of the ASCII letters only.
bool ProcessNameMatches(std::u16string_view entry, std::u16string_view exeFileName);

}  // namespace korvanta::platform
