// The ZIP extractor on arbitrary archive bytes, with the main window's settings, into a fresh
// installation folder. Whatever the bytes, nothing appears beside that folder, no symbolic link
// and no temporary file is left inside it, and an old file is either kept or replaced whole.
#include "Errors.h"
#include "FuzzCheck.h"
#include "Text.h"
#include "ZipExtractor.h"

#include <stdlib.h>
#include <unistd.h>
#include <zip.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace fs = std::filesystem;
using namespace korvanta::platform;

namespace {

constexpr char kOldContent[] = "old content of the installed file";

std::string Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One folder per process, emptied for every input.
const fs::path& Root() {
  static const fs::path root = [] {
    std::string pattern = (fs::temp_directory_path() / "korvanta-fuzz-zip-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    std::atexit([] { fs::remove_all(Root()); });
    return fs::path(pattern);
  }();
  return root;
}

// Whether some entry of the archive reads, to its end and with its checksum right, as `content`.
bool IsWholeEntry(const fs::path& archive, const std::string& content) {
  int error = 0;
  zip_t* zip = zip_open(archive.c_str(), ZIP_RDONLY, &error);
  if (!zip) return false;
  bool found = false;
  const zip_int64_t count = zip_get_num_entries(zip, 0);
  for (zip_int64_t i = 0; i < count && !found; ++i) {
    zip_file_t* file = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
    if (!file) continue;
    std::string data;
    char chunk[4096];
    zip_int64_t got = 0;
    while (data.size() <= content.size() && (got = zip_fread(file, chunk, sizeof chunk)) > 0)
      data.append(chunk, static_cast<std::size_t>(got));
    found = got == 0 && data == content;
    zip_fclose(file);
  }
  zip_discard(zip);
  return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fs::path root = Root() / "run";
  const fs::path install = root / "install";
  const fs::path archive = root / "Update.zip";
  fs::remove_all(root);
  fs::create_directories(install / "data");
  // Names an archive is likely to carry, so that replacing an old file is exercised.
  for (const char* name : {"version.txt", "a", "data/a"}) std::ofstream(install / name) << kOldContent;
  std::ofstream(archive, std::ios::binary).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  ZipExtractor unzipper;
  unzipper.setBaseDirectory(FromUtf8(install.string() + "/"));
  unzipper.setCreateFolders(true);
  unzipper.setRestorePaths(true);
  int lastPercent = -1;
  unzipper.setProgressCallback([&](int percent) {
    FUZZ_CHECK(percent >= 0 && percent <= 100);
    lastPercent = percent;
  });
  try {
    unzipper.setFileName(FromUtf8(archive.string()));
    unzipper.ExtractFiles(u"*");
    FUZZ_CHECK(lastPercent == 100);
  } catch (const EArchiveError&) {
    // An archive that cannot be opened is reported; nothing was extracted.
  }
  unzipper.setFileName(u"");

  for (const char* name : {"version.txt", "a", "data/a"}) {
    const fs::path path = install / name;
    FUZZ_CHECK(fs::is_regular_file(fs::symlink_status(path)));  // never removed, never replaced by a folder
    const std::string content = Read(path);
    FUZZ_CHECK(content == kOldContent || IsWholeEntry(archive, content));
  }

  std::size_t beside = 0;
  for (const auto& item : fs::directory_iterator(root)) {
    FUZZ_CHECK(item.path() == install || item.path() == archive);
    ++beside;
  }
  FUZZ_CHECK(beside == 2);
  for (const auto& item : fs::recursive_directory_iterator(install)) {
    FUZZ_CHECK(!item.is_symlink());
    FUZZ_CHECK(item.path().filename().string().find(".korvanta-") == std::string::npos);
  }
  return 0;
}
