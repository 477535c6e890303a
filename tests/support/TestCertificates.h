// Certificates for the loopback HTTPS server, made fresh in each test process so that no private
// key lives in the tree and nothing expires: a test CA, a server certificate it signed for
// 127.0.0.1 and localhost, and a second, unrelated CA for the wrong-authority cases.
#pragma once

#include <string>

struct evp_pkey_st;
struct x509_st;

namespace korvanta::test {

struct TestTlsIdentity {
  x509_st* serverCertificate = nullptr;  // owned by the process-wide identity
  evp_pkey_st* serverKey = nullptr;
  std::string caFile;         // PEM file of the CA that signed the server certificate
  std::string foreignCaFile;  // PEM file of a CA that signed nothing the server uses
};

// Generated on first use, removed from disk when the process ends.
const TestTlsIdentity& TestTls();

}  // namespace korvanta::test
