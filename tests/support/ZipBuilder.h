// Builds ZIP archives for the extractor tests, including the hostile and broken ones: raw entry
// names, Unix modes, symbolic-link entries, and archives damaged after writing.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>

struct zip;

class ZipBuilder {
 public:
  explicit ZipBuilder(std::string archivePath);
  ~ZipBuilder();
  ZipBuilder(const ZipBuilder&) = delete;
  ZipBuilder& operator=(const ZipBuilder&) = delete;

  // Entries added after this are stored uncompressed, so their bytes can be found in the archive.
  ZipBuilder& Uncompressed();
  // A file without Unix attributes, as a Windows archiver writes it.
  ZipBuilder& File(const std::string& name, std::string data);
  // A file with Unix permission bits (S_IFREG is added).
  ZipBuilder& File(const std::string& name, std::string data, unsigned mode);
  ZipBuilder& Folder(const std::string& name);
  ZipBuilder& Symlink(const std::string& name, std::string target);
  // A file encrypted with AES-256 under this password.
  ZipBuilder& Encrypted(const std::string& name, std::string data, const std::string& password);
  // Writes the archive; nothing is written unless this is called.
  void Write();

 private:
  void Add(const std::string& name, std::string data, bool unix, std::uint32_t mode);

  struct Discard {
    void operator()(zip* archive) const noexcept;
  };
  std::unique_ptr<zip, Discard> archive_;
  std::deque<std::string> data_;  // libzip reads the buffers only when the archive is written
  bool stored_ = false;
};

// Damage done to a written archive.
void FlipFirstByteOf(const std::string& archivePath, std::string_view marker);
void CutShort(const std::string& archivePath, std::uintmax_t keptBytes);
// Makes the end record disagree with the central directory about the number of entries.
void BreakCentralDirectory(const std::string& archivePath);
// Renames every entry called `from` (in both its headers) to `to`, of the same length: libzip
// refuses to write two entries of one name, so duplicates are made after writing.
void RenameEntries(const std::string& archivePath, const std::string& from, const std::string& to);
// Rewrites the uncompressed size recorded for the entry in both its headers.
void SetDeclaredSize(const std::string& archivePath, const std::string& name, std::uint32_t size);
