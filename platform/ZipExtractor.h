// Extraction of a ZIP archive over an installation folder.
//
// Every file is written to a temporary file beside its target and renamed over it only once its
// data is complete and verified, so a target is always either the old file or the new one, even
// when the updater is killed midway; the temporary file a killed run leaves is removed by the next
// extraction that writes into its folder. Files are not synced to disk one by one: a power loss during
// the extraction may leave new files empty or old; that is outside the guarantee.
//
// Nothing is ever written outside the base folder: entries with an absolute path, a drive or a
// ".." part are skipped, symbolic-link entries are never created, and a symbolic link already
// standing on an entry's folder path is never followed.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct zip;

namespace korvanta::platform {

struct ExtractSummary {
  int installed = 0;  // file and folder entries in place
  int skipped = 0;    // matching entries that were not written
};

class ZipExtractor {
 public:
  // Receives the percentage of entries processed after each entry, then 100 once more at the end.
  using ProgressCallback = std::function<void(int percent)>;

  ZipExtractor();
  ~ZipExtractor();
  ZipExtractor(const ZipExtractor&) = delete;
  ZipExtractor& operator=(const ZipExtractor&) = delete;

  void setBaseDirectory(std::u16string folder) { baseDirectory_ = std::move(folder); }
  const std::u16string& baseDirectory() const { return baseDirectory_; }
  // On: missing folders on an entry's path are made, and folder entries become folders.
  void setCreateFolders(bool on) { createFolders_ = on; }
  bool createFolders() const { return createFolders_; }
  // On: entries keep their stored paths; off: only the file-name part is used.
  void setRestorePaths(bool on) { restorePaths_ = on; }
  bool restorePaths() const { return restorePaths_; }
  void setProgressCallback(ProgressCallback callback) { progress_ = std::move(callback); }

  // Closes the open archive and opens this one; the empty string only closes. Raises EArchiveError:
  // "File not found", "Invalid Stream" (an empty file), "Unhandled Archive Type" (not a ZIP archive)
  // or "Damaged archive: ..." (a ZIP archive that cannot be read).
  void setFileName(const std::u16string& path);
  // The open archive's path; empty when none is open.
  const std::u16string& fileName() const { return fileName_; }

  // Extracts the entries whose stored path matches `mask` ('*' and '?' wildcards, ASCII case
  // ignored), in archive order. An entry that cannot be written is skipped and the rest go on.
  // Raises EArchiveError when no archive is open.
  ExtractSummary ExtractFiles(const std::u16string& mask);

 private:
  struct ArchiveCloser {
    void operator()(zip* archive) const noexcept;
  };

  std::u16string baseDirectory_ = u"./";
  bool createFolders_ = true;
  bool restorePaths_ = true;
  ProgressCallback progress_;
  std::u16string fileName_;
  std::unique_ptr<zip, ArchiveCloser> archive_;
  std::vector<char> buffer_;  // one chunk, reused for every entry
};

// File-mask matching: '*' stands for any run of characters (separators included), '?' for one.
// Slashes and backslashes are the same character here; ASCII letters match in either case.
bool MatchesFileMask(std::u16string_view path, std::u16string_view mask);

}  // namespace korvanta::platform
