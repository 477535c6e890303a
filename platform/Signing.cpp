#include "Signing.h"

#include "UniqueFd.h"

#include <sodium.h>

#include <cerrno>
#include <fcntl.h>
#include <optional>
#include <stdexcept>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace korvanta::platform {

namespace {

void EnsureSodium() {
  // Idempotent and thread-safe; only a broken system (no entropy source) fails it.
  if (sodium_init() < 0) throw std::runtime_error("libsodium could not be initialised");
}

// Exactly `size` bytes of strict standard base64, or nothing.
std::optional<std::vector<unsigned char>> DecodeBase64(std::string_view text, std::size_t size) {
  std::vector<unsigned char> bytes(size + 1);
  std::size_t length = 0;
  const char* end = nullptr;
  if (sodium_base642bin(bytes.data(), bytes.size(), text.data(), text.size(), nullptr, &length, &end,
                        sodium_base64_VARIANT_ORIGINAL) != 0 ||
      end != text.data() + text.size() || length != size)
    return std::nullopt;
  bytes.resize(size);
  return bytes;
}

std::string EncodeBase64(const unsigned char* bytes, std::size_t size) {
  std::string text(sodium_base64_encoded_len(size, sodium_base64_VARIANT_ORIGINAL), '\0');
  sodium_bin2base64(text.data(), text.size(), bytes, size, sodium_base64_VARIANT_ORIGINAL);
  text.resize(text.size() - 1);  // the terminating NUL
  return text;
}

// The secret key, wiped from memory when it goes.
struct SecretKey {
  unsigned char bytes[crypto_sign_SECRETKEYBYTES];
  explicit SecretKey(std::string_view base64) {
    auto decoded = DecodeBase64(base64, sizeof bytes);
    if (!decoded) throw std::invalid_argument("the secret key is not base64 of a 64-byte Ed25519 key");
    std::copy(decoded->begin(), decoded->end(), bytes);
    sodium_memzero(decoded->data(), decoded->size());
  }
  ~SecretKey() { sodium_memzero(bytes, sizeof bytes); }
  SecretKey(const SecretKey&) = delete;
  SecretKey& operator=(const SecretKey&) = delete;
};

}  // namespace

Sha256::Sha256() : state_(std::make_unique<crypto_hash_sha256_state>()) {
  EnsureSodium();
  crypto_hash_sha256_init(state_.get());
}

Sha256::~Sha256() = default;

void Sha256::Update(const unsigned char* data, std::size_t size) {
  crypto_hash_sha256_update(state_.get(), data, size);
}

std::string Sha256::FinalHex() {
  unsigned char digest[crypto_hash_sha256_BYTES];
  crypto_hash_sha256_final(state_.get(), digest);
  char hex[2 * crypto_hash_sha256_BYTES + 1];
  sodium_bin2hex(hex, sizeof hex, digest, sizeof digest);
  return hex;
}

std::string FileSha256Hex(const std::string& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) throw std::system_error(errno, std::generic_category(), "cannot open " + path);
  Sha256 hash;
  std::vector<unsigned char> buffer(256 * 1024);
  for (;;) {
    const ssize_t n = ::read(fd.get(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw std::system_error(errno, std::generic_category(), "cannot read " + path);
    if (n == 0) break;
    hash.Update(buffer.data(), static_cast<std::size_t>(n));
  }
  return hash.FinalHex();
}

std::string UpdateSignatureMessage(std::string_view versionUtf8, std::string_view digestHex) {
  std::string message(versionUtf8);
  message += '\n';
  message += digestHex;
  return message;
}

bool VerifySignature(std::string_view publicKeyBase64, std::string_view signatureBase64,
                     std::string_view message) {
  try {
    EnsureSodium();
  } catch (const std::exception&) {
    return false;
  }
  const auto key = DecodeBase64(publicKeyBase64, crypto_sign_PUBLICKEYBYTES);
  const auto signature = DecodeBase64(signatureBase64, crypto_sign_BYTES);
  if (!key || !signature) return false;
  return crypto_sign_verify_detached(signature->data(), reinterpret_cast<const unsigned char*>(message.data()),
                                     message.size(), key->data()) == 0;
}

SigningKeyPair GenerateSigningKeyPair() {
  EnsureSodium();
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  unsigned char sk[crypto_sign_SECRETKEYBYTES];
  crypto_sign_keypair(pk, sk);
  SigningKeyPair pair{EncodeBase64(pk, sizeof pk), EncodeBase64(sk, sizeof sk)};
  sodium_memzero(sk, sizeof sk);
  return pair;
}

std::string SignMessage(std::string_view secretKeyBase64, std::string_view message) {
  EnsureSodium();
  const SecretKey key(secretKeyBase64);
  unsigned char signature[crypto_sign_BYTES];
  crypto_sign_detached(signature, nullptr, reinterpret_cast<const unsigned char*>(message.data()), message.size(),
                       key.bytes);
  return EncodeBase64(signature, sizeof signature);
}

std::string PublicKeyOf(std::string_view secretKeyBase64) {
  EnsureSodium();
  const SecretKey key(secretKeyBase64);
  unsigned char pk[crypto_sign_PUBLICKEYBYTES];
  crypto_sign_ed25519_sk_to_pk(pk, key.bytes);
  return EncodeBase64(pk, sizeof pk);
}

}  // namespace korvanta::platform
