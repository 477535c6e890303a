#include "TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <vector>

namespace korvanta::test {
namespace {

struct KeyDeleter {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertDeleter {
  void operator()(X509* cert) const { X509_free(cert); }
};
struct ExtensionDeleter {
  void operator()(X509_EXTENSION* ext) const { X509_EXTENSION_free(ext); }
};
struct FileDeleter {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyDeleter>;
using CertPtr = std::unique_ptr<X509, CertDeleter>;

[[noreturn]] void Fail(const char* what) { throw std::runtime_error(std::string("test TLS set-up: ") + what); }

KeyPtr NewKey() {
  KeyPtr key(EVP_EC_gen("P-256"));
  if (!key) Fail("key generation");
  return key;
}

void AddExtension(X509* cert, X509* issuer, int nid, const char* value) {
  X509V3_CTX context;
  X509V3_set_ctx(&context, issuer, cert, nullptr, nullptr, 0);
  std::unique_ptr<X509_EXTENSION, ExtensionDeleter> ext(X509V3_EXT_conf_nid(nullptr, &context, nid, value));
  if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) Fail("certificate extension");
}

// issuer == nullptr: self-signed.
CertPtr NewCertificate(const char* commonName, EVP_PKEY* key, X509* issuer, EVP_PKEY* issuerKey, long serial,
                       bool authority) {
  CertPtr cert(X509_new());
  if (!cert) Fail("certificate");
  X509_set_version(cert.get(), 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert.get()), serial);
  X509_gmtime_adj(X509_getm_notBefore(cert.get()), -24L * 3600);
  X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
  X509_set_pubkey(cert.get(), key);
  X509_NAME* name = X509_get_subject_name(cert.get());
  X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Korvanta tests"), -1,
                             -1, 0);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                             0);
  X509* signer = issuer ? issuer : cert.get();
  X509_set_issuer_name(cert.get(), X509_get_subject_name(signer));
  AddExtension(cert.get(), signer, NID_subject_key_identifier, "hash");
  if (authority) {
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,keyCertSign,cRLSign");
  } else {
    AddExtension(cert.get(), signer, NID_authority_key_identifier, "keyid:always");
    AddExtension(cert.get(), signer, NID_basic_constraints, "critical,CA:FALSE");
    AddExtension(cert.get(), signer, NID_key_usage, "critical,digitalSignature");
    AddExtension(cert.get(), signer, NID_ext_key_usage, "serverAuth");
    AddExtension(cert.get(), signer, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost");
  }
  if (X509_sign(cert.get(), issuerKey ? issuerKey : key, EVP_sha256()) == 0) Fail("signing");
  return cert;
}

void WritePem(const std::filesystem::path& path, X509* cert) {
  std::unique_ptr<std::FILE, FileDeleter> file(std::fopen(path.c_str(), "wb"));
  if (!file || PEM_write_X509(file.get(), cert) != 1) Fail("writing the CA file");
}

class Identity {
 public:
  Identity() {
    std::string dir = std::filesystem::temp_directory_path() / "korvanta-tls-XXXXXX";
    if (!mkdtemp(dir.data())) Fail("temporary folder");
    dir_ = dir;

    KeyPtr caKey = NewKey();
    CertPtr ca = NewCertificate("Korvanta Test CA", caKey.get(), nullptr, nullptr, 1, true);
    serverKey_ = NewKey();
    serverCert_ = NewCertificate("127.0.0.1", serverKey_.get(), ca.get(), caKey.get(), 2, false);
    KeyPtr foreignKey = NewKey();
    CertPtr foreign = NewCertificate("Unrelated Test CA", foreignKey.get(), nullptr, nullptr, 3, true);

    identity_.serverCertificate = serverCert_.get();
    identity_.serverKey = serverKey_.get();
    identity_.caFile = dir_ / "ca.pem";
    identity_.foreignCaFile = dir_ / "foreign-ca.pem";
    WritePem(identity_.caFile, ca.get());
    WritePem(identity_.foreignCaFile, foreign.get());
  }
  ~Identity() {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  Identity(const Identity&) = delete;
  Identity& operator=(const Identity&) = delete;

  const TestTlsIdentity& get() const { return identity_; }

 private:
  std::filesystem::path dir_;
  KeyPtr serverKey_;
  CertPtr serverCert_;
  TestTlsIdentity identity_;
};

}  // namespace

const TestTlsIdentity& TestTls() {
  static const Identity identity;
  return identity.get();
}

}  // namespace korvanta::test
