// Test doubles for the application, shell and sleep services, installed for the lifetime of the
// object, and an event log that wires every event of a component.
#pragma once

#include "Services.h"
#include "mxWebUpdate.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace korvanta::test {

class FakeServices : public platform::IApplication, public platform::IShell, public platform::ISleeper {
 public:
  struct ShellCall {
    platform::WindowHandle parent;
    std::u16string operation, file;
    std::optional<std::u16string> parameters, directory;
    int show;
  };

  // A host with its own application object (the window tests) keeps it and fakes the rest.
  explicit FakeServices(bool installApplication = true) : installedApplication_(installApplication) {
    if (installApplication) platform::InstallApplication(this);
    platform::InstallShell(this);
    platform::InstallSleeper(this);
  }
  ~FakeServices() override {
    if (installedApplication_) platform::InstallApplication(nullptr);
    platform::InstallShell(nullptr);
    platform::InstallSleeper(nullptr);
  }
  FakeServices(const FakeServices&) = delete;
  FakeServices& operator=(const FakeServices&) = delete;

  void ProcessMessages() override {
    ++processMessages;
    if (onProcessMessages) onProcessMessages();
  }
  void Terminate() override { ++terminateRequests; }
  platform::WindowHandle MainWindowHandle() override { return mainWindow; }
  std::intptr_t Execute(platform::WindowHandle parent, const std::u16string& operation, const std::u16string& file,
                        const std::optional<std::u16string>& parameters,
                        const std::optional<std::u16string>& directory, int show) override {
    shellCalls.push_back({parent, operation, file, parameters, directory, show});
    return shellResult;
  }
  void Sleep(unsigned milliseconds) override { sleeps.push_back(milliseconds); }

  int processMessages = 0;
  std::function<void()> onProcessMessages;
  int terminateRequests = 0;
  platform::WindowHandle mainWindow = 0x1234;
  std::vector<ShellCall> shellCalls;
  std::intptr_t shellResult = 42;
  std::vector<unsigned> sleeps;

 private:
  bool installedApplication_;
};

// Every event of a component, in order, as short texts ("Download 10/4", "AfterDownload <file>").
struct EventLog {
  explicit EventLog(TmxWebUpdate& c);
  std::vector<std::string> events;
  // Download events are many; this keeps only their count and the (Total, Downloaded) pairs.
  std::vector<std::pair<std::int32_t, std::int32_t>> blocks;
  bool logDownloads = false;  // when true, each block is also written to `events`
  // Whether the events list equals `expected` after collapsing runs of "Download" into one.
  std::vector<std::string> Collapsed() const;
};

}  // namespace korvanta::test
