// SPDX-License-Identifier: GPL-3.0-or-later
// A self-signed server certificate made at test time (OpenSSL): key and certificate
// as PEM files in a folder of the test's own.
#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <filesystem>
#include <string>

namespace tarvix::testing {

struct TestCertificate {
  std::filesystem::path certificate;  // PEM; also the CA file a client trusts
  std::filesystem::path key;          // PEM
  bool ok = false;
};

inline bool AddExtension(X509* cert, int nid, const char* value) {
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
  if (ext == nullptr) return false;
  const bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  return added;
}

// Writes "<stem>.crt" and "<stem>.key" into `folder`; `names` are its subject
// alternative names.
inline TestCertificate MakeTestCertificate(
    const std::filesystem::path& folder, const std::string& stem,
    const std::string& names = "DNS:localhost,IP:127.0.0.1") {
  TestCertificate out;
  out.certificate = folder / (stem + ".crt");
  out.key = folder / (stem + ".key");
  EVP_PKEY* key = EVP_EC_gen("P-256");
  X509* cert = X509_new();
  bool ok = key != nullptr && cert != nullptr;
  if (ok) {
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    ok = AddExtension(cert, NID_subject_alt_name, names.c_str()) &&
         AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE") &&
         X509_sign(cert, key, EVP_sha256()) > 0;
  }
  if (ok) {
    FILE* c = std::fopen(out.certificate.c_str(), "w");
    FILE* k = std::fopen(out.key.c_str(), "w");
    ok = c != nullptr && k != nullptr && PEM_write_X509(c, cert) == 1 &&
         PEM_write_PrivateKey(k, key, nullptr, nullptr, 0, nullptr, nullptr) == 1;
    if (c != nullptr) std::fclose(c);
    if (k != nullptr) std::fclose(k);
  }
  X509_free(cert);
  EVP_PKEY_free(key);
  out.ok = ok;
  return out;
}

}  // namespace tarvix::testing
