// The publisher's side of a signed update: key pairs, the update archive, its signature and the
// information page that announces it, each checked by reading it back as the updater will.
#pragma once

#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace korvanta::publish {

// Every refusal and failure of the tool; the text says what to change.
class PublishError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes a new key pair: the secret key readable by its owner only, the public key for the
// Updater's build. Refuses to replace an existing file. Returns the public key (base64).
std::string WriteKeyPair(const std::filesystem::path& secretKeyFile, const std::filesystem::path& publicKeyFile);

// The first line of a key file, without surrounding blanks.
std::string ReadKeyFile(const std::filesystem::path& file);

// The facts the page announces (UTF-8 text).
struct PageFacts {
  std::string productName = "Korvanta";
  std::string version;
  std::string download;                     // where Update.zip will live
  std::string clientFileName = "Update.zip";
  std::string author;
  std::string email;
  std::string runParameters;
  std::string signature;                    // filled by Publish
};

struct PublishRequest {
  std::filesystem::path folder;     // the new files, as they are to lie in the installation
  std::filesystem::path outFolder;  // receives the archive and the page
  std::string secretKey;            // base64
  PageFacts facts;
  std::string pageName = "webupdate.htm";
  std::string productTag = "mxProductName";  // the tag the Updater reads the product name from
  std::string notesHtml;                      // the page's body; a short default when empty
};

struct PublishResult {
  std::filesystem::path archive, page;
  std::size_t files = 0, folders = 0;
  std::uintmax_t archiveBytes = 0;
  std::string digestHex;
  std::string publicKey;
};

// "Update.zip" of the folder's files and folders, paths relative to it, Unix modes kept.
// Symbolic links and special files are refused. Returns the count of files and folders.
std::pair<std::size_t, std::size_t> BuildArchive(const std::filesystem::path& folder,
                                                 const std::filesystem::path& archive);

// The information page in Windows-1252, one META line per fact in the form the updater reads.
// Refuses a value the reader could not carry back whole.
std::string PageBytes(const PageFacts& facts, const std::string& productTag, const std::string& notesHtml);

// Builds the archive, signs it for the version, writes the page, then reads both back: the page
// with the component's own reader (every fact must come back), the signature with the updater's
// check, the archive's entries with libzip. Throws PublishError on any refusal or mismatch.
PublishResult Publish(PublishRequest request);

}  // namespace korvanta::publish
