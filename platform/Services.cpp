#include "Services.h"

#include <chrono>
#include <thread>

namespace korvanta::platform {
namespace {

class NullApplication final : public IApplication {
 public:
  void ProcessMessages() override {}
  void Terminate() override {}
  WindowHandle MainWindowHandle() override { return 0; }
};

class RealSleeper final : public ISleeper {
 public:
  void Sleep(unsigned milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
};

NullApplication gNullApplication;
PosixShell gPosixShell;
RealSleeper gRealSleeper;

IApplication* gApplication = &gNullApplication;
IShell* gShell = &gPosixShell;
ISleeper* gSleeper = &gRealSleeper;

}  // namespace

IApplication& Application() { return *gApplication; }
IShell& Shell() { return *gShell; }
ISleeper& Sleeper() { return *gSleeper; }

void InstallApplication(IApplication* application) {
  gApplication = application ? application : &gNullApplication;
}
void InstallShell(IShell* shell) { gShell = shell ? shell : &gPosixShell; }
void InstallSleeper(ISleeper* sleeper) { gSleeper = sleeper ? sleeper : &gRealSleeper; }

std::vector<std::u16string> SplitCommandLine(const std::u16string& parameters) {
  std::vector<std::u16string> words;
  std::u16string word;
  bool inWord = false;
  bool quoted = false;
  for (char16_t c : parameters) {
    if (c == u'"') {
      quoted = !quoted;
      inWord = true;  // "" is an empty word
    } else if (!quoted && (c == u' ' || c == u'\t')) {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word.push_back(c);
      inWord = true;
    }
  }
  if (inWord) words.push_back(std::move(word));
  return words;
}

}  // namespace korvanta::platform
