#include "ZipBuilder.h"

#include <sys/stat.h>
#include <zip.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <tuple>

void ZipBuilder::Discard::operator()(zip* archive) const noexcept { zip_discard(archive); }

ZipBuilder::ZipBuilder(std::string archivePath) {
  int error = 0;
  archive_.reset(zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &error));
  if (!archive_) throw std::runtime_error("cannot create " + archivePath);
}

ZipBuilder::~ZipBuilder() = default;

ZipBuilder& ZipBuilder::Uncompressed() {
  stored_ = true;
  return *this;
}

ZipBuilder& ZipBuilder::File(const std::string& name, std::string data) {
  Add(name, std::move(data), false, 0);
  return *this;
}

ZipBuilder& ZipBuilder::File(const std::string& name, std::string data, unsigned mode) {
  Add(name, std::move(data), true, S_IFREG | mode);
  return *this;
}

ZipBuilder& ZipBuilder::Folder(const std::string& name) {
  const zip_int64_t index = zip_dir_add(archive_.get(), name.c_str(), ZIP_FL_ENC_RAW);
  if (index < 0) throw std::runtime_error("cannot add folder " + name);
  zip_file_set_external_attributes(archive_.get(), index, 0, ZIP_OPSYS_UNIX, (S_IFDIR | 0755u) << 16);
  return *this;
}

ZipBuilder& ZipBuilder::Symlink(const std::string& name, std::string target) {
  Add(name, std::move(target), true, S_IFLNK | 0777);
  return *this;
}

ZipBuilder& ZipBuilder::Encrypted(const std::string& name, std::string data, const std::string& password) {
  Add(name, std::move(data), false, 0);
  const zip_int64_t index = zip_get_num_entries(archive_.get(), 0) - 1;
  if (zip_file_set_encryption(archive_.get(), static_cast<zip_uint64_t>(index), ZIP_EM_AES_256, password.c_str()) != 0)
    throw std::runtime_error("cannot encrypt " + name + ": " + zip_strerror(archive_.get()));
  return *this;
}

void ZipBuilder::Add(const std::string& name, std::string data, bool unix, std::uint32_t mode) {
  const std::string& kept = data_.emplace_back(std::move(data));
  zip_source_t* source = zip_source_buffer(archive_.get(), kept.data(), kept.size(), 0);
  if (!source) throw std::runtime_error("cannot make a source for " + name);
  // Raw names: the hostile ones ("../x", "/abs") must reach the archive unchanged.
  const zip_int64_t index = zip_file_add(archive_.get(), name.c_str(), source, ZIP_FL_ENC_RAW);
  if (index < 0) {
    zip_source_free(source);
    throw std::runtime_error("cannot add " + name);
  }
  if (stored_) zip_set_file_compression(archive_.get(), index, ZIP_CM_STORE, 0);
  zip_file_set_external_attributes(archive_.get(), index, 0, unix ? ZIP_OPSYS_UNIX : ZIP_OPSYS_DOS,
                                   unix ? mode << 16 : 0);
}

void ZipBuilder::Write() {
  if (zip_close(archive_.get()) != 0) throw std::runtime_error(zip_strerror(archive_.get()));
  archive_.release();  // zip_close freed it
}

namespace {

std::string Load(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Save(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

void Put32(std::string& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
}

}  // namespace

void FlipFirstByteOf(const std::string& archivePath, std::string_view marker) {
  std::string bytes = Load(archivePath);
  const std::size_t at = bytes.find(marker);
  if (at == std::string::npos) throw std::runtime_error("marker not in archive");
  bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
  Save(archivePath, bytes);
}

void CutShort(const std::string& archivePath, std::uintmax_t keptBytes) {
  std::filesystem::resize_file(archivePath, keptBytes);
}

void BreakCentralDirectory(const std::string& archivePath) {
  std::string bytes = Load(archivePath);
  // The end record claims one entry more than the directory holds.
  const std::size_t end = bytes.rfind(std::string("PK\x05\x06", 4));
  if (end == std::string::npos) throw std::runtime_error("no end record");
  for (std::size_t countAt : {end + 8, end + 10}) bytes[countAt] = static_cast<char>(bytes[countAt] + 1);
  Save(archivePath, bytes);
}

void RenameEntries(const std::string& archivePath, const std::string& from, const std::string& to) {
  if (from.size() != to.size()) throw std::runtime_error("names of different lengths");
  std::string bytes = Load(archivePath);
  const std::string local = std::string("PK\x03\x04", 4), central = std::string("PK\x01\x02", 4);
  int patched = 0;
  for (const auto& [signature, nameAt] : {std::pair{local, 30u}, std::pair{central, 46u}}) {
    for (std::size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4)) {
      if (bytes.compare(at + nameAt, from.size(), from) == 0) {
        bytes.replace(at + nameAt, to.size(), to);
        ++patched;
      }
    }
  }
  if (patched == 0) throw std::runtime_error("entry not found: " + from);
  Save(archivePath, bytes);
}

void SetDeclaredSize(const std::string& archivePath, const std::string& name, std::uint32_t size) {
  std::string bytes = Load(archivePath);
  // Local header: size at 22, name at 30. Central record: size at 24, name at 46.
  const std::string local = std::string("PK\x03\x04", 4), central = std::string("PK\x01\x02", 4);
  int patched = 0;
  for (const auto& [signature, sizeAt, nameAt] :
       {std::tuple{local, 22u, 30u}, std::tuple{central, 24u, 46u}}) {
    for (std::size_t at = bytes.find(signature); at != std::string::npos; at = bytes.find(signature, at + 4)) {
      if (bytes.compare(at + nameAt, name.size(), name) == 0) {
        Put32(bytes, at + sizeAt, size);
        ++patched;
      }
    }
  }
  if (patched != 2) throw std::runtime_error("entry headers not found");
  Save(archivePath, bytes);
}
