#include "Fakes.h"

#include "Text.h"

namespace korvanta::test {

EventLog::EventLog(TmxWebUpdate& c) {
  auto notify = [this](const char* name) { return [this, name](TmxWebUpdate&) { events.emplace_back(name); }; };
  auto withFile = [this](const char* name) {
    return [this, name](TmxWebUpdate&, std::u16string file) {
      events.push_back(std::string(name) + " " + platform::ToUtf8(file));
    };
  };
  c.setOnBeforeGetInfo(notify("BeforeGetInfo"));
  c.setOnAfterGetInfo(notify("AfterGetInfo"));
  c.setOnDownloadError(notify("DownloadError"));
  c.setOnNoUpdateFound(notify("NoUpdateFound"));
  c.setOnCannotExecute(notify("CannotExecute"));
  c.setOnBeforeDownload(withFile("BeforeDownload"));
  c.setOnAfterDownload(withFile("AfterDownload"));
  c.setOnDownload([this](TmxWebUpdate&, std::int32_t total, std::int32_t downloaded) {
    blocks.emplace_back(total, downloaded);
    events.emplace_back("Download");
  });
  c.setOnUpdateAvailable([this](TmxWebUpdate&, std::u16string actual, std::u16string latest, bool&) {
    events.push_back("UpdateAvailable " + platform::ToUtf8(actual) + " " + platform::ToUtf8(latest));
  });
  c.setOnBeforeShowInfo([this](TmxWebUpdate&, bool& show, bool&) {
    events.emplace_back("BeforeShowInfo");
    show = false;  // no dialog in these tests
  });
  c.setOnAfterShowInfo([this](TmxWebUpdate&, bool) { events.emplace_back("AfterShowInfo"); });
  c.setOnGetClientFileName([this](TmxWebUpdate&, std::u16string& file) {
    events.push_back("GetClientFileName " + platform::ToUtf8(file));
  });
  c.setOnClientFileExists([this](TmxWebUpdate&, std::u16string& file, bool& overwrite) {
    events.push_back("ClientFileExists " + platform::ToUtf8(file) + (overwrite ? " yes" : " no"));
  });
}

std::vector<std::string> EventLog::Collapsed() const {
  std::vector<std::string> out;
  for (const std::string& e : events)
    if (!(e == "Download" && !out.empty() && out.back() == "Download*")) out.push_back(e == "Download" ? "Download*" : e);
  return out;
}

}  // namespace korvanta::test
