// Downloads one file through the component's whole update run (page, comparison, file-mode
// transfer) and prints the wall time, CPU time and peak resident memory of the run.
//   transfer_bench <information page address>
#include "Text.h"
#include "mxWebUpdate.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <page url> <port>\n", argv[0]);
    return 2;
  }
  TmxWebUpdate c;
  c.ProductInfo()->setURL(korvanta::platform::FromUtf8(argv[1]));
  c.ProductInfo()->setVersion(u"0.1");
  c.setHTTPPort(static_cast<std::uint32_t>(std::stoul(argv[2])));
  c.setTargetFolder(u"./");
  c.setOptions({uoOverwrite});  // nothing is started afterwards
  std::uint64_t blocks = 0;
  c.setOnDownload([&](TmxWebUpdate&, std::int32_t, std::int32_t) { ++blocks; });

  const auto start = std::chrono::steady_clock::now();
  const bool ok = c.CheckForAnUpdate();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const double cpu = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                     (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf("%s wall=%.3f cpu=%.3f maxrss_kib=%ld blocks=%llu\n", ok ? "ok" : "FAILED", wall, cpu,
              usage.ru_maxrss, static_cast<unsigned long long>(blocks));
  return ok ? 0 : 1;
}
