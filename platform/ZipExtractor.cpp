#include "ZipExtractor.h"

#include "Errors.h"
#include "FileSystem.h"
#include "Text.h"
#include "UniqueFd.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <cerrno>
#include <optional>
#include <random>
#include <set>

namespace korvanta::platform {
namespace {

constexpr std::size_t kChunkSize = 64 * 1024;
constexpr mode_t kNewFileMode = 0644;
constexpr mode_t kNewFolderMode = 0755;
constexpr mode_t kPermissionBits = 0777;  // never setuid, setgid or sticky from an archive
constexpr std::size_t kTempNameRoom = 200;  // keeps ".<name>.korvanta-XXXXXX" under NAME_MAX

struct ZipFileCloser {
  void operator()(zip_file_t* file) const noexcept { zip_fclose(file); }
};
using UniqueZipFile = std::unique_ptr<zip_file_t, ZipFileCloser>;

class ZipErrorText {
 public:
  explicit ZipErrorText(int code) { zip_error_init_with_code(&error_, code); }
  ~ZipErrorText() { zip_error_fini(&error_); }
  ZipErrorText(const ZipErrorText&) = delete;
  ZipErrorText& operator=(const ZipErrorText&) = delete;
  std::u16string Text() { return FromUtf8(zip_error_strerror(&error_)); }

 private:
  zip_error_t error_;
};

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

bool HasZipSignature(int fd) {
  unsigned char head[4] = {};
  if (::pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return false;
  // A local header, an empty archive's end record, or the marker of a split archive.
  return head[0] == 'P' && head[1] == 'K' &&
         ((head[2] == 3 && head[3] == 4) || (head[2] == 5 && head[3] == 6) || (head[2] == 7 && head[3] == 8));
}

// What one entry asks for, once its stored path has been judged safe.
struct EntryPlan {
  bool folder = false;
  std::vector<std::string> folders;  // the folder parts below the base folder
  std::string name;                  // the last part; empty for a folder entry
  std::optional<mode_t> mode;        // permission bits stored by a Unix archiver
};

// False for entries that must never be written: absolute paths, drives, ".." parts, symbolic links
// and special files.
bool PlanEntry(zip_t* archive, zip_uint64_t index, const std::string& stored, bool restorePaths, EntryPlan& plan) {
  if (stored.empty() || IsSeparator(stored[0])) return false;
  const auto isLetter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (stored.size() >= 2 && isLetter(stored[0]) && stored[1] == ':') return false;

  zip_uint8_t opsys = 0;
  zip_uint32_t attributes = 0;
  std::optional<mode_t> unixMode;
  if (zip_file_get_external_attributes(archive, index, 0, &opsys, &attributes) == 0 && opsys == ZIP_OPSYS_UNIX)
    unixMode = static_cast<mode_t>(attributes >> 16);

  plan.folder = IsSeparator(stored.back());
  if (unixMode) {
    switch (*unixMode & S_IFMT) {
      case 0:
      case S_IFREG: break;
      case S_IFDIR: plan.folder = true; break;
      default: return false;  // symbolic links, devices, pipes
    }
    if (*unixMode & kPermissionBits) plan.mode = *unixMode & kPermissionBits;
  }

  std::vector<std::string> parts;
  std::size_t start = 0;
  while (start <= stored.size()) {
    std::size_t end = start;
    while (end < stored.size() && !IsSeparator(stored[end])) ++end;
    const std::string_view part(stored.data() + start, end - start);
    if (part == "..") return false;
    if (!part.empty() && part != ".") parts.emplace_back(part);
    start = end + 1;
  }
  if (parts.empty()) return false;

  if (plan.folder) {
    // Without stored paths a folder entry has nothing to make.
    if (restorePaths) plan.folders = std::move(parts);
  } else {
    plan.name = std::move(parts.back());
    parts.pop_back();
    if (restorePaths) plan.folders = std::move(parts);
  }
  return true;
}

// ".<name>.korvanta-XXXXXX": the temporary file of an extraction that was killed before its rename.
bool IsLeftoverTemporary(std::string_view name) {
  constexpr std::string_view kMarker = ".korvanta-";
  constexpr std::size_t kRandom = 6;
  if (name.size() < 2 + kMarker.size() + kRandom || name[0] != '.') return false;
  return name.substr(name.size() - kRandom - kMarker.size(), kMarker.size()) == kMarker;
}

struct DirCloser {
  void operator()(DIR* dir) const noexcept { ::closedir(dir); }
};

// Removes what killed extractions left in this folder; only regular files, never followed links.
void SweepLeftovers(int folderFd) {
  const int fd = ::openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  const std::unique_ptr<DIR, DirCloser> dir(::fdopendir(fd));
  if (!dir) {
    ::close(fd);
    return;
  }
  std::vector<std::string> leftovers;
  while (const dirent* item = ::readdir(dir.get()))
    if (IsLeftoverTemporary(item->d_name)) leftovers.emplace_back(item->d_name);
  for (const std::string& name : leftovers) {
    struct stat info {};
    if (::fstatat(folderFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
      ::unlinkat(folderFd, name.c_str(), 0);
  }
}

// Opens the folders of an entry's path one by one below the base folder, never through a symbolic
// link, making the missing ones when asked to. The last folder opened stays open, since archives
// list the files of one folder together.
class FolderCursor {
 public:
  FolderCursor(int baseFd, bool create) : baseFd_(baseFd), create_(create) {}

  // The descriptor of the folder, or -1 when it cannot be had safely.
  // Each folder is swept of leftover temporary files the first time an entry goes into it.
  int Open(const std::vector<std::string>& parts) {
    if (parts.empty()) {
      if (baseFd_ >= 0 && swept_.insert("").second) SweepLeftovers(baseFd_);
      return baseFd_;
    }
    std::string key;
    for (const std::string& part : parts) (key += part) += '/';
    if (folder_ && key == key_) return folder_.get();

    key_.clear();
    folder_.reset();
    UniqueFd current;
    for (const std::string& part : parts) {
      const int parent = current ? current.get() : baseFd_;
      UniqueFd next(OpenChild(parent, part));
      if (!next) return -1;
      current = std::move(next);
    }
    if (swept_.insert(key).second) SweepLeftovers(current.get());
    key_ = std::move(key);
    folder_ = std::move(current);
    return folder_.get();
  }

 private:
  int OpenChild(int parent, const std::string& name) const {
    constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    int fd = ::openat(parent, name.c_str(), kFlags);
    if (fd < 0 && errno == ENOENT && create_) {
      if (::mkdirat(parent, name.c_str(), kNewFolderMode) != 0 && errno != EEXIST) return -1;
      fd = ::openat(parent, name.c_str(), kFlags);
    }
    return fd;  // a symbolic link fails with ELOOP, a file with ENOTDIR
  }

  int baseFd_;
  bool create_;
  std::string key_;
  UniqueFd folder_;
  std::set<std::string> swept_;
};

// A temporary file beside the target, removed again unless it was renamed over the target.
class TempFile {
 public:
  TempFile(int folderFd, const std::string& targetName) : folderFd_(folderFd) {
    static thread_local std::mt19937 random{std::random_device{}()};
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string stem(1, '.');  // appended piece by piece: GCC 12 warns falsely on "." + std::string
    stem.append(targetName, 0, kTempNameRoom);
    stem += ".korvanta-";
    for (int attempt = 0; attempt < 100; ++attempt) {
      name_ = stem;
      for (int i = 0; i < 6; ++i) name_ += kLetters[pick(random)];
      fd_.reset(::openat(folderFd_, name_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
      if (fd_ || errno != EEXIST) break;
    }
    if (!fd_) name_.clear();
  }
  ~TempFile() {
    fd_.reset();
    if (!name_.empty()) ::unlinkat(folderFd_, name_.c_str(), 0);
  }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  int fd() const { return fd_.get(); }

  // Closes the file and renames it over the target; a symbolic link there is replaced, not followed.
  bool Commit(const std::string& targetName) {
    if (::close(fd_.release()) != 0) return false;  // late write errors show here
    if (::renameat(folderFd_, name_.c_str(), folderFd_, targetName.c_str()) != 0) return false;
    name_.clear();
    return true;
  }

 private:
  int folderFd_;
  std::string name_;
  UniqueFd fd_;
};

bool WriteAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t done = ::write(fd, data, size);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += done;
    size -= static_cast<std::size_t>(done);
  }
  return true;
}

bool WriteFileEntry(zip_t* archive, zip_uint64_t index, zip_uint64_t declaredSize, int folderFd,
                    const EntryPlan& plan, std::vector<char>& buffer) {
  struct stat old {};
  const bool exists = ::fstatat(folderFd, plan.name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (exists && S_ISDIR(old.st_mode)) return false;  // a rename could not replace it anyway
  const mode_t mode = plan.mode ? *plan.mode
                      : (exists && S_ISREG(old.st_mode)) ? (old.st_mode & kPermissionBits)
                                                          : kNewFileMode;

  TempFile temp(folderFd, plan.name);
  if (temp.fd() < 0) return false;
  const UniqueZipFile entry(zip_fopen_index(archive, index, 0));
  if (!entry) return false;

  // Reading on to the end lets libzip check the CRC; data beyond the declared size is never
  // written, so a compression bomb cannot fill the disk.
  zip_uint64_t written = 0;
  for (;;) {
    const zip_int64_t got = zip_fread(entry.get(), buffer.data(), buffer.size());
    if (got < 0) return false;
    if (got == 0) break;
    if (static_cast<zip_uint64_t>(got) > declaredSize - written) return false;
    if (!WriteAll(temp.fd(), buffer.data(), static_cast<std::size_t>(got))) return false;
    written += static_cast<zip_uint64_t>(got);
  }
  if (written != declaredSize) return false;
  // File systems without Unix modes refuse this; the file is still good.
  (void)::fchmod(temp.fd(), mode);
  return temp.Commit(plan.name);
}

}  // namespace

void ZipExtractor::ArchiveCloser::operator()(zip* archive) const noexcept { zip_discard(archive); }

ZipExtractor::ZipExtractor() = default;
ZipExtractor::~ZipExtractor() = default;

void ZipExtractor::setFileName(const std::u16string& path) {
  archive_.reset();
  fileName_.clear();
  if (path.empty()) return;

  // O_NONBLOCK keeps a named pipe under that name from blocking the open.
  UniqueFd fd(::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd) throw EArchiveError(InOutErrorText(errno));
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) throw EArchiveError(InOutErrorText(errno));
  if (S_ISDIR(info.st_mode)) throw EArchiveError(u"File not found");
  if (!S_ISREG(info.st_mode)) throw EArchiveError(u"Unhandled Archive Type");
  if (info.st_size == 0) throw EArchiveError(u"Invalid Stream");
  ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);

  int error = 0;
  if (zip* archive = zip_fdopen(fd.get(), ZIP_RDONLY, &error)) {
    fd.release();  // libzip closes it with the archive
    archive_.reset(archive);
    fileName_ = path;
    return;
  }
  // Something else than ZIP data in front (a self-extracting stub) is accepted above; without the
  // signature and without an archive, the file is simply of another kind.
  if (!HasZipSignature(fd.get())) throw EArchiveError(u"Unhandled Archive Type");
  // libzip reports a directory it cannot find (an archive cut short) as "not a zip archive".
  if (error == ZIP_ER_NOZIP)
    throw EArchiveError(u"Damaged archive: the archive's directory is missing or damaged");
  throw EArchiveError(u"Damaged archive: " + ZipErrorText(error).Text());
}

ExtractSummary ZipExtractor::ExtractFiles(const std::u16string& mask) {
  if (!archive_) throw EArchiveError(u"No archive is open");
  zip_t* archive = archive_.get();
  buffer_.resize(kChunkSize);

  const std::string base = NativePath(baseDirectory_.empty() ? u"." : baseDirectory_).string();
  UniqueFd baseFd(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!baseFd && errno == ENOENT && createFolders_) {
    std::error_code ec;
    std::filesystem::create_directories(base, ec);
    baseFd.reset(::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  }
  // Without a base folder every entry fails, but progress is still reported.
  FolderCursor folders(baseFd.get(), createFolders_);

  ExtractSummary summary;
  const zip_int64_t count = zip_get_num_entries(archive, 0);
  for (zip_int64_t i = 0; i < count; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    zip_stat_t info;
    zip_stat_init(&info);
    const bool known = zip_stat_index(archive, index, 0, &info) == 0 && (info.valid & ZIP_STAT_NAME) &&
                       (info.valid & ZIP_STAT_SIZE);
    const std::string stored = known ? info.name : "";
    std::u16string path = FromUtf8(stored);
    if (!known || MatchesFileMask(path, mask)) {
      EntryPlan plan;
      bool done = known && baseFd && PlanEntry(archive, index, stored, restorePaths_, plan);
      if (done) {
        const int folderFd = (plan.folder && !restorePaths_) ? baseFd.get() : folders.Open(plan.folders);
        if (folderFd < 0) done = false;
        else if (!plan.folder) done = WriteFileEntry(archive, index, info.size, folderFd, plan, buffer_);
      }
      ++(done ? summary.installed : summary.skipped);
    }
    if (progress_) progress_(static_cast<int>((i + 1) * 100 / count));
  }
  if (progress_) progress_(100);
  return summary;
}

bool MatchesFileMask(std::u16string_view path, std::u16string_view mask) {
  const auto same = [](char16_t a, char16_t b) {
    if (IsPathDelimiter(a) && IsPathDelimiter(b)) return true;
    return AsciiUpper(a) == AsciiUpper(b);
  };
  // Greedy matching that backs up to the last '*' on a mismatch.
  std::size_t p = 0, m = 0;
  std::size_t starMask = std::u16string_view::npos, starPath = 0;
  while (p < path.size()) {
    if (m < mask.size() && mask[m] == u'*') {
      starMask = m++;
      starPath = p;
    } else if (m < mask.size() && (mask[m] == u'?' || same(mask[m], path[p]))) {
      ++m;
      ++p;
    } else if (starMask != std::u16string_view::npos) {
      m = starMask + 1;
      p = ++starPath;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == u'*') ++m;
  return m == mask.size();
}

}  // namespace korvanta::platform
