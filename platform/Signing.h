// Ed25519 signatures over update files and the streaming SHA-256 they are computed from, on
// libsodium. Keys and signatures travel as standard base64 text (pages, files, build settings).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

struct crypto_hash_sha256_state;

namespace korvanta::platform {

// SHA-256 of data fed in pieces, so a file is hashed while it streams past.
class Sha256 {
 public:
  Sha256();
  ~Sha256();
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void Update(const unsigned char* data, std::size_t size);
  // The digest in lowercase hex; the object is spent afterwards.
  std::string FinalHex();

 private:
  std::unique_ptr<crypto_hash_sha256_state> state_;
};

// The SHA-256 of a whole file in lowercase hex; throws std::system_error when it cannot be read.
std::string FileSha256Hex(const std::string& path);

// What a publisher signs for an update: the published version, a line feed, the archive's digest.
// Signing the version with the archive stops an old archive from being replayed as a newer one.
std::string UpdateSignatureMessage(std::string_view versionUtf8, std::string_view digestHex);

// True only when both texts are well-formed base64 of a 32-byte public key and a 64-byte signature
// and the signature is valid for the message. Never throws.
bool VerifySignature(std::string_view publicKeyBase64, std::string_view signatureBase64,
                     std::string_view message);

struct SigningKeyPair {
  std::string publicKeyBase64;
  std::string secretKeyBase64;
};
SigningKeyPair GenerateSigningKeyPair();

// The signature (base64) of the message with a secret key (base64, 64 bytes as libsodium keeps
// it); throws std::invalid_argument for a malformed key.
std::string SignMessage(std::string_view secretKeyBase64, std::string_view message);
// The public half of a secret key; throws std::invalid_argument for a malformed key.
std::string PublicKeyOf(std::string_view secretKeyBase64);

}  // namespace korvanta::platform
