// korvanta-publish: makes the key pair of a publisher and publishes signed updates.
#include "Publisher.h"

#include <algorithm>
#include <fstream>
#include <iostream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace {

namespace kp = korvanta::publish;

constexpr const char* kUsage = R"USAGE(usage:
  korvanta-publish keygen SECRET_KEY_FILE PUBLIC_KEY_FILE
      Makes a new Ed25519 key pair. Keep the secret key private; build the Updater with the
      public key: cmake -DKORVANTA_PUBLIC_KEY="$(cat PUBLIC_KEY_FILE)" ...
  korvanta-publish publish --key SECRET_KEY_FILE --folder NEW_FILES --version VERSION
                           --url ARCHIVE_ADDRESS --out OUTPUT_FOLDER [options]
      Packs NEW_FILES into OUTPUT_FOLDER/Update.zip (paths relative to NEW_FILES, Unix modes
      kept), signs it for VERSION and writes the information page beside it. Upload both; the
      archive must be served at ARCHIVE_ADDRESS.
      options: --product NAME        (default "Korvanta")
               --client-name NAME    (default "Update.zip")
               --author TEXT   --email TEXT   --run-parameters TEXT
               --page FILE_NAME      (default "webupdate.htm")
               --product-tag TAG     (default "mxProductName", the tag the Updater reads)
               --notes HTML_FILE     (the page's body)
)USAGE";

int Usage(const std::string& problem) {
  std::cerr << "korvanta-publish: " << problem << "\n" << kUsage;
  return 2;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw kp::PublishError("cannot read " + path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int Keygen(const std::vector<std::string>& args) {
  if (args.size() != 2) return Usage("keygen takes two file names");
  const std::string publicKey = kp::WriteKeyPair(args[0], args[1]);
  std::cout << "secret key: " << args[0] << " (keep it private)\n"
            << "public key: " << args[1] << "\n"
            << publicKey << "\n";
  return 0;
}

int PublishCommand(const std::vector<std::string>& args) {
  std::map<std::string, std::string> options;
  const char* known[] = {"--key",    "--folder", "--version", "--url",          "--out",  "--product",     "--client-name",
                         "--author", "--email",  "--page",    "--run-parameters", "--notes", "--product-tag"};
  for (std::size_t i = 0; i < args.size(); i += 2) {
    if (std::find(std::begin(known), std::end(known), args[i]) == std::end(known))
      return Usage("unknown option " + args[i]);
    if (i + 1 == args.size()) return Usage(args[i] + " needs a value");
    options[args[i]] = args[i + 1];
  }
  for (const char* required : {"--key", "--folder", "--version", "--url", "--out"})
    if (!options.count(required)) return Usage(std::string(required) + " is required");

  kp::PublishRequest request;
  request.folder = options["--folder"];
  request.outFolder = options["--out"];
  request.secretKey = kp::ReadKeyFile(options["--key"]);
  request.facts.version = options["--version"];
  request.facts.download = options["--url"];
  if (options.count("--product")) request.facts.productName = options["--product"];
  if (options.count("--client-name")) request.facts.clientFileName = options["--client-name"];
  request.facts.author = options["--author"];
  request.facts.email = options["--email"];
  request.facts.runParameters = options["--run-parameters"];
  if (options.count("--page")) request.pageName = options["--page"];
  if (options.count("--product-tag")) request.productTag = options["--product-tag"];
  if (options.count("--notes")) request.notesHtml = ReadText(options["--notes"]);

  const kp::PublishResult r = kp::Publish(request);
  std::cout << "archive:   " << r.archive.string() << " (" << r.files << " files, " << r.folders << " folders, "
            << r.archiveBytes << " bytes)\n"
            << "sha-256:   " << r.digestHex << "\n"
            << "page:      " << r.page.string() << "\n"
            << "version:   " << request.facts.version << "\n"
            << "signed by: " << r.publicKey << "\n"
            << "checked:   page facts read back, signature verified, archive entries read back\n";
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("no command");
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  try {
    if (command == "keygen") return Keygen(args);
    if (command == "publish") return PublishCommand(args);
    if (command == "-h" || command == "--help") {
      std::cout << kUsage;
      return 0;
    }
    return Usage("unknown command " + command);
  } catch (const std::exception& e) {
    std::cerr << "korvanta-publish: " << e.what() << "\n";
    return 1;
  }
}
