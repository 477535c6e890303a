#include "Publisher.h"

#include "Signing.h"
#include "Text.h"
#include "UniqueFd.h"
#include "mxWebUpdate.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <vector>

namespace korvanta::publish {

namespace fs = std::filesystem;
namespace p = korvanta::platform;

namespace {

// Owns a libzip archive; discarded (nothing written) unless closed successfully.
class ZipArchive {
 public:
  ZipArchive(const fs::path& path, int flags) {
    int error = 0;
    archive_ = zip_open(path.c_str(), flags, &error);
    if (!archive_) {
      zip_error_t e;
      zip_error_init_with_code(&e, error);
      const std::string text = zip_error_strerror(&e);
      zip_error_fini(&e);
      throw PublishError("cannot open " + path.string() + ": " + text);
    }
  }
  ~ZipArchive() {
    if (archive_) zip_discard(archive_);
  }
  ZipArchive(const ZipArchive&) = delete;
  ZipArchive& operator=(const ZipArchive&) = delete;

  zip_t* get() const { return archive_; }
  std::string Error() const { return zip_strerror(archive_); }
  void Close() {
    if (zip_close(archive_) != 0) throw PublishError("cannot write the archive: " + Error());
    archive_ = nullptr;
  }

 private:
  zip_t* archive_ = nullptr;
};

void WriteNewFile(const fs::path& path, const std::string& bytes, mode_t mode) {
  p::UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
  if (!fd) throw PublishError("cannot create " + path.string() + ": " + std::strerror(errno));
  if (::write(fd.get(), bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()) || ::fsync(fd.get()) != 0)
    throw PublishError("cannot write " + path.string() + ": " + std::strerror(errno));
}

// Written beside its place and renamed, so a page is never seen half-written on the server.
void ReplaceFile(const fs::path& path, const std::string& bytes) {
  const fs::path temp = path.parent_path() / ("." + path.filename().string() + ".tmp");
  fs::remove(temp);
  WriteNewFile(temp, bytes, 0644);
  std::error_code ec;
  fs::rename(temp, path, ec);
  if (ec) {
    fs::remove(temp);
    throw PublishError("cannot write " + path.string() + ": " + ec.message());
  }
}

bool Inside(const fs::path& inner, const fs::path& outer) {
  const fs::path a = fs::weakly_canonical(inner), b = fs::weakly_canonical(outer);
  auto [end, _] = std::mismatch(b.begin(), b.end(), a.begin(), a.end());
  return end == b.end();
}

// A fact's value as the page will carry it; refused when the tag reader would not give it back.
std::string PageValue(const char* what, const std::string& utf8) {
  const std::u16string text = p::FromUtf8(utf8);
  if (p::ToUtf8(text) != utf8) throw PublishError(std::string(what) + " is not valid UTF-8");
  if (text.find_first_of(u"\"\r\n") != std::u16string::npos)
    throw PublishError(std::string(what) + " must not contain a double quote or a line break");
  // The reader looks for the closing quote within 255 characters of the value's start.
  if (text.size() > 254) throw PublishError(std::string(what) + " is longer than 254 characters");
  auto bytes = p::EncodeAnsi(text);
  if (!bytes) throw PublishError(std::string(what) + " has a character that Windows-1252 cannot carry");
  return *bytes;
}

std::string HtmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      default: out += c;
    }
  }
  return out;
}

// The entry's Unix attributes: file type and permission bits; never set-id bits.
zip_uint32_t UnixAttributes(const fs::path& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) throw PublishError("cannot read " + path.string() + ": " + std::strerror(errno));
  return static_cast<zip_uint32_t>((st.st_mode & (S_IFMT | 0777)) << 16);
}

void CheckArchive(const fs::path& archive, std::size_t entries) {
  ZipArchive zip(archive, ZIP_RDONLY | ZIP_CHECKCONS);
  const zip_int64_t count = zip_get_num_entries(zip.get(), 0);
  if (count != static_cast<zip_int64_t>(entries))
    throw PublishError("the archive read back holds " + std::to_string(count) + " entries, not " +
                       std::to_string(entries));
  std::vector<char> buffer(256 * 1024);
  for (zip_int64_t i = 0; i < count; ++i) {
    zip_file_t* file = zip_fopen_index(zip.get(), static_cast<zip_uint64_t>(i), 0);
    if (!file) throw PublishError("cannot read back entry " + std::to_string(i) + ": " + zip.Error());
    zip_int64_t n = 0;
    while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0) {
    }
    const std::string error = n < 0 ? zip_file_strerror(file) : "";
    zip_fclose(file);
    if (n < 0) throw PublishError("entry " + std::to_string(i) + " does not read back: " + error);
  }
}

}  // namespace

std::string WriteKeyPair(const fs::path& secretKeyFile, const fs::path& publicKeyFile) {
  for (const fs::path& f : {secretKeyFile, publicKeyFile})
    if (fs::exists(fs::symlink_status(f))) throw PublishError(f.string() + " exists already; not replaced");
  const p::SigningKeyPair pair = p::GenerateSigningKeyPair();
  WriteNewFile(secretKeyFile, pair.secretKeyBase64 + "\n", 0600);
  WriteNewFile(publicKeyFile, pair.publicKeyBase64 + "\n", 0644);
  return pair.publicKeyBase64;
}

std::string ReadKeyFile(const fs::path& file) {
  std::ifstream in(file);
  std::string line;
  if (!in || !std::getline(in, line)) throw PublishError("cannot read the key file " + file.string());
  const auto first = line.find_first_not_of(" \t\r");
  const auto last = line.find_last_not_of(" \t\r");
  return first == std::string::npos ? std::string() : line.substr(first, last - first + 1);
}

std::pair<std::size_t, std::size_t> BuildArchive(const fs::path& folder, const fs::path& archive) {
  if (!fs::is_directory(folder)) throw PublishError(folder.string() + " is not a folder");
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());

  fs::remove(archive);
  ZipArchive zip(archive, ZIP_CREATE | ZIP_EXCL);
  std::size_t files = 0, folders = 0;
  for (const fs::path& path : paths) {
    const std::string name = path.lexically_relative(folder).generic_string();
    const fs::file_status status = fs::symlink_status(path);
    zip_int64_t index = -1;
    if (fs::is_symlink(status)) {
      throw PublishError("refusing the symbolic link " + name + ": the updater installs no links");
    } else if (fs::is_directory(status)) {
      index = zip_dir_add(zip.get(), name.c_str(), ZIP_FL_ENC_GUESS);
      ++folders;
    } else if (fs::is_regular_file(status)) {
      zip_source_t* source = zip_source_file(zip.get(), path.c_str(), 0, -1);
      if (!source) throw PublishError("cannot read " + path.string() + ": " + zip.Error());
      index = zip_file_add(zip.get(), name.c_str(), source, ZIP_FL_ENC_GUESS);
      if (index < 0) zip_source_free(source);
      ++files;
    } else {
      throw PublishError("refusing " + name + ": not a file or a folder");
    }
    if (index < 0) throw PublishError("cannot add " + name + ": " + zip.Error());
    if (zip_file_set_external_attributes(zip.get(), static_cast<zip_uint64_t>(index), 0, ZIP_OPSYS_UNIX,
                                         UnixAttributes(path)) != 0)
      throw PublishError("cannot keep the mode of " + name + ": " + zip.Error());
  }
  if (files == 0) throw PublishError(folder.string() + " holds no file to publish");
  zip.Close();
  return {files, folders};
}

std::string PageBytes(const PageFacts& facts, const std::string& productTag, const std::string& notesHtml) {
  if (facts.version.empty()) throw PublishError("the version is empty");
  if (facts.productName.empty()) throw PublishError("the product name is empty");
  if (!(facts.download.starts_with("http://") || facts.download.starts_with("https://")))
    throw PublishError("the download address must begin with http:// or https://");
  if (facts.clientFileName.empty() || facts.clientFileName.find_first_of("/\\:") != std::string::npos ||
      facts.clientFileName == "." || facts.clientFileName == "..")
    throw PublishError("the client-side name must be a plain file name");

  const std::pair<std::string, std::string> lines[] = {
      {productTag, PageValue("the product name", facts.productName)},
      {"mxVersion", PageValue("the version", facts.version)},
      {"mxDownload", PageValue("the download address", facts.download)},
      {"mxClientSideName", PageValue("the client-side name", facts.clientFileName)},
      {"mxAuthor", PageValue("the author", facts.author)},
      {"mxEmail", PageValue("the e-mail", facts.email)},
      {"mxRunParameters", PageValue("the run parameters", facts.runParameters)},
      {"mxSignature", PageValue("the signature", facts.signature)},
  };
  const std::string title = HtmlEscaped(facts.productName + " " + facts.version);
  std::string page = "<HTML>\r\n<HEAD>\r\n<TITLE>" + PageValue("the title", title) + "</TITLE>\r\n";
  for (const auto& [tag, value] : lines) page += "<META NAME=\"" + tag + "\" CONTENT=\"" + value + "\">\r\n";
  page += "</HEAD>\r\n<BODY>\r\n";
  if (notesHtml.empty()) {
    page += "<P>" + PageValue("the title", title) + "</P>\r\n";
  } else {
    auto notes = p::EncodeAnsi(p::FromUtf8(notesHtml));
    if (!notes) throw PublishError("the notes have a character that Windows-1252 cannot carry");
    page += *notes + "\r\n";
  }
  page += "</BODY>\r\n</HTML>\r\n";
  return page;
}

PublishResult Publish(PublishRequest request) {
  if (!fs::is_directory(request.folder)) throw PublishError(request.folder.string() + " is not a folder");
  if (Inside(request.outFolder, request.folder))
    throw PublishError("the output folder must not lie inside the folder of new files");
  fs::create_directories(request.outFolder);
  if (request.pageName.empty() || request.pageName.find('/') != std::string::npos)
    throw PublishError("the page name must be a plain file name");

  PublishResult result;
  try {
    result.publicKey = p::PublicKeyOf(request.secretKey);
  } catch (const std::invalid_argument& e) {
    throw PublishError(e.what());
  }
  // Refused before anything is built: a page the reader would misread is never published. A
  // signature is 88 characters of base64; its length is all this check needs.
  request.facts.signature = std::string(88, 'A');
  PageBytes(request.facts, request.productTag, request.notesHtml);

  result.archive = request.outFolder / "Update.zip";
  result.page = request.outFolder / request.pageName;
  // Built under another name: what is published stays whole until the new set is ready.
  const fs::path building = request.outFolder / ".Update.zip.building";
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code ec;
      fs::remove(path, ec);
    }
  } cleanup{building};
  std::tie(result.files, result.folders) = BuildArchive(request.folder, building);
  result.archiveBytes = fs::file_size(building);
  result.digestHex = p::FileSha256Hex(building.string());
  const std::string message = p::UpdateSignatureMessage(request.facts.version, result.digestHex);
  request.facts.signature = p::SignMessage(request.secretKey, message);
  const std::string page = PageBytes(request.facts, request.productTag, request.notesHtml);

  // Read back as the updater will before the page goes out.
  CheckArchive(building, result.files + result.folders);
  TmxWebUpdate reader;
  reader.TagInfo()->setProductName(p::FromUtf8(request.productTag));
  reader.ReadInfoPage(page);
  const PageFacts& f = request.facts;
  const std::pair<const char*, bool> checks[] = {
      {"product name", reader.ProductName() == p::FromUtf8(f.productName)},
      {"version", reader.ProductVersion() == p::FromUtf8(f.version)},
      {"download address", reader.UpdateURL() == p::FromUtf8(f.download)},
      {"client-side name", reader.ClientFileName() == p::FromUtf8(f.clientFileName)},
      {"author", reader.Author() == p::FromUtf8(f.author)},
      {"e-mail", reader.EMail() == p::FromUtf8(f.email)},
      {"run parameters", reader.RunParameters() == p::FromUtf8(f.runParameters)},
      {"signature", reader.Signature() == p::FromUtf8(f.signature)},
      {"redirection (must be none)", reader.RedirectionURL().empty()},
  };
  for (const auto& [what, ok] : checks)
    if (!ok) throw PublishError(std::string("the page does not read back its ") + what);
  const std::string readBackMessage =
      p::UpdateSignatureMessage(p::ToUtf8(reader.ProductVersion()), p::FileSha256Hex(building.string()));
  if (!p::VerifySignature(result.publicKey, p::ToUtf8(reader.Signature()), readBackMessage))
    throw PublishError("the signature does not verify against the archive read back");

  // The archive first: in between, the old page's signature fails on the new archive and an
  // updater refuses it, rather than install anything unsigned.
  std::error_code ec;
  fs::rename(building, result.archive, ec);
  if (ec) throw PublishError("cannot write " + result.archive.string() + ": " + ec.message());
  ReplaceFile(result.page, page);
  return result;
}

}  // namespace korvanta::publish
