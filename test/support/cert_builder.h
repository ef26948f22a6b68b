// Certificates made by the tests: chosen names, version, serial number and
// extensions (each given as the DER of its value), signed with SHA-1 (DSA-
// and ECDSA-SHA1 for such keys) by one RSA test key made on first use, or
// the key given.
#ifndef MORVANE_TEST_SUPPORT_CERT_BUILDER_H
#define MORVANE_TEST_SUPPORT_CERT_BUILDER_H

#include <time.h>

#include <string>
#include <vector>

#include <morvane/types.h>

#include "test_support.h"

namespace morvane_test {

// One extension: its NID, criticality and the DER of its value.
struct CertExt {
  int nid;
  bool critical;
  Bytes der;
};

struct CertSpec {
  std::string subject;  // the CN of the subject name
  std::string issuer;   // the CN of the issuer name; empty: the subject's
  int version = 2;      // the version field (0: absent, version 1)
  long serial = 1;
  std::vector<CertExt> exts;
  EVP_PKEY* key = nullptr;         // the subject's key; null: the test key
  EVP_PKEY* issuer_key = nullptr;  // the signing key; null: the test key
  long not_before = 1577836800;    // 2020-01-01
  long not_after = 4102444800;     // 2100-01-01
};

// A new certificate (free with X509_free) signed by the test key.
X509* MakeCert(const CertSpec& spec);

// One revocation entry: a serial number and its entry extensions.
struct CrlEntry {
  long serial;
  std::vector<CertExt> exts;
};

// A version 2 revocation list issued under the CN `issuer`, valid from
// last_update to next_update (2020-01-01 to 2100-01-01 unless given), with
// its entries and list extensions (free with X509_CRL_free), signed by
// `key` (null: the test key).
X509_CRL* MakeCrl(const std::string& issuer, const std::vector<CrlEntry>& entries,
                  time_t last_update = 1577836800, time_t next_update = 4102444800,
                  const std::vector<CertExt>& exts = {}, EVP_PKEY* key = nullptr);

}  // namespace morvane_test

#endif  // MORVANE_TEST_SUPPORT_CERT_BUILDER_H
