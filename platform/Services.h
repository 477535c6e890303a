// The application-level services the component and the program call: pending messages, the
// terminate request, the main window, the shell's "open" and sleeping. The host installs its own
// implementations; tests install fakes. With none installed the application calls do nothing,
// the shell is the real POSIX one and sleeping really sleeps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace korvanta::platform {

using WindowHandle = std::uintptr_t;

class IApplication {
 public:
  virtual ~IApplication() = default;
  // Handles every window message that is waiting, then returns.
  virtual void ProcessMessages() = 0;
  // Asks the message loop to end once control is back in it.
  virtual void Terminate() = 0;
  virtual WindowHandle MainWindowHandle() = 0;
};

// Show commands, as the shell knows them.
inline constexpr int kShowNormal = 1;

class IShell {
 public:
  virtual ~IShell() = default;
  // The shell's "open": a result above 32 means started, 32 or less is the failure's code.
  // An absent parameter or directory differs from an empty one, as it does for the shell.
  virtual std::intptr_t Execute(WindowHandle parent, const std::u16string& operation,
                                const std::u16string& file,
                                const std::optional<std::u16string>& parameters,
                                const std::optional<std::u16string>& directory, int showCommand) = 0;
};

class ISleeper {
 public:
  virtual ~ISleeper() = default;
  virtual void Sleep(unsigned milliseconds) = 0;
};

// The installed services (never null: the defaults stand in).
IApplication& Application();
IShell& Shell();
ISleeper& Sleeper();

// Install a service; nullptr restores the default. The caller keeps ownership.
void InstallApplication(IApplication* application);
void InstallShell(IShell* shell);
void InstallSleeper(ISleeper* sleeper);

// The real shell: a regular executable file is started detached, in its own session, in the
// current folder (or `directory` when one is given), with the parameters split like a command line
// (double quotes group, no shell involved); anything else goes to the desktop's opener, xdg-open.
class PosixShell final : public IShell {
 public:
  std::intptr_t Execute(WindowHandle parent, const std::u16string& operation, const std::u16string& file,
                        const std::optional<std::u16string>& parameters,
                        const std::optional<std::u16string>& directory, int showCommand) override;
};

// Splits parameters like a command line: blanks separate words, double quotes group.

std::vector<std::u16string> SplitCommandLine(const std::u16string& parameters);

}  // namespace korvanta::platform
