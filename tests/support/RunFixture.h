// A fixture for tests that run the component against the loopback server: a fresh working folder
// (the current directory while the test runs), fake services and short network time-outs.
#pragma once

#include "Fakes.h"
#include "Http.h"
#include "Internals.h"
#include "TestHttpServer.h"
#include "Text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace korvanta::test {

inline std::u16string U(const std::string& utf8) { return platform::FromUtf8(utf8); }

inline std::string Meta(const std::string& name, const std::string& content) {
  return "<META NAME=\"" + name + "\" CONTENT=\"" + content + "\">\r\n";
}

inline std::string ReadFile(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void WriteFile(const std::filesystem::path& p, const std::string& bytes) {
  std::ofstream(p, std::ios::binary) << bytes;
}

// For one test: a fresh working folder as the current directory, short network time-outs and no
// proxy for loopback; everything is put back afterwards.
class TestEnvironment {
 public:
  TestEnvironment() {
    saved_ = platform::HttpSettings();
    setenv("no_proxy", "127.0.0.1,localhost", 1);  // a proxy set on the machine must not capture loopback
    platform::HttpSettings().connectTimeoutMs = 2000;
    platform::HttpSettings().idleTimeoutMs = 1000;
    platform::HttpSettings().headersTimeoutMs = 3000;
    previous_ = std::filesystem::current_path();
    folder_ = std::filesystem::temp_directory_path() /
              ("korvanta-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(getpid()));
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    std::filesystem::current_path(folder_);
  }
  ~TestEnvironment() {
    std::filesystem::current_path(previous_);
    std::filesystem::remove_all(folder_);
    platform::HttpSettings() = saved_;
  }
  TestEnvironment(const TestEnvironment&) = delete;
  TestEnvironment& operator=(const TestEnvironment&) = delete;
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path folder_, previous_;
  platform::HttpOptions saved_;
};

class RunFixture : public testing::Test {
 protected:
  void SetUp() override {
    c.ProductInfo()->setURL(U(server.url("/webupdate.htm")));
    c.setHTTPPort(server.port());
  }
  // An information page naming these facts, served at `path`.
  void ServePage(const std::string& path, const std::string& metas, bool withContentLength = true) {
    server.RouteResponse(path, TestHttpServer::Response(200, "<HTML><HEAD>\r\n" + metas + "</HEAD></HTML>\r\n",
                                                        withContentLength));
  }
  std::string Url(const std::string& path) const { return server.url(path); }

  TestEnvironment environment;
  const std::filesystem::path& folder_ = environment.folder();
  FakeServices services;
  TestHttpServer server;
  TmxWebUpdate c;
};

}  // namespace korvanta::test
