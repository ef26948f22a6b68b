// The PKITS certificates and revocation lists (../shared/vectors/pkits, NIST
// Public Key Interoperability Test Suite, 2048-bit RSA edition): each
// decodes, re-encodes to its exact octets, duplicates equal and frees
// cleanly; a revocation list re-encodes its signed part from the octets it
// was read from until an entry is added.

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using x509_test::Decode;
using x509_test::Encode;

// The files of a PKITS folder with the given extension, sorted.
std::vector<std::string> Files(const std::string& dir, const std::string& ext) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    if (e.path().extension() == ext) out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(Pkits, EveryCertificateRoundTrips) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/certs");
  const std::vector<std::string> files = Files(dir, ".crt");
  EXPECT_EQ(405u, files.size());
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const Bytes der = morvane_test::ReadFileBytes(f);
    X509* x = Decode(d2i_X509, der);
    ASSERT_NE(nullptr, x);
    EXPECT_NE(nullptr, X509_get0_subject_oneline(x));
    EXPECT_EQ(der, Encode(i2d_X509, x));
    X509* dup = X509_dup(x);
    ASSERT_NE(nullptr, dup);
    EXPECT_EQ(der, Encode(i2d_X509, dup));
    EXPECT_STREQ(X509_get0_subject_oneline(x), X509_get0_subject_oneline(dup));
    X509_free(dup);
    X509_free(x);
  }
  EXPECT_ERRORS({});
}

TEST(Pkits, EveryCrlRoundTrips) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits/crls");
  const std::vector<std::string> files = Files(dir, ".crl");
  EXPECT_EQ(173u, files.size());
  for (const std::string& f : files) {
    SCOPED_TRACE(f);
    const Bytes der = morvane_test::ReadFileBytes(f);
    X509_CRL* crl = Decode(d2i_X509_CRL, der);
    ASSERT_NE(nullptr, crl);
    EXPECT_EQ(0, crl->crl->enc.modified);
    EXPECT_EQ(der, Encode(i2d_X509_CRL, crl));
    X509_CRL* dup = X509_CRL_dup(crl);
    ASSERT_NE(nullptr, dup);
    EXPECT_EQ(der, Encode(i2d_X509_CRL, dup));
    X509_CRL_free(dup);
    X509_CRL_free(crl);
  }
  EXPECT_ERRORS({});
}

// The elements of one constructed DER element: each as its full encoding.
std::vector<Bytes> Elements(const Bytes& der) {
  std::vector<Bytes> out;
  size_t i = 1;
  auto length = [&](size_t* at) {
    size_t n = der[(*at)++];
    if (n & 0x80) {
      const size_t count = n & 0x7F;
      n = 0;
      for (size_t k = 0; k < count; k++) n = (n << 8) | der[(*at)++];
    }
    return n;
  };
  const size_t content = length(&i);
  const size_t end = i + content;
  EXPECT_EQ(der.size(), end);
  while (i < end) {
    const size_t start = i++;
    const size_t n = length(&i);
    out.emplace_back(der.begin() + start, der.begin() + i + n);
    i += n;
  }
  return out;
}

Bytes Join(const std::vector<Bytes>& parts) {
  Bytes out;
  for (const Bytes& b : parts) out.insert(out.end(), b.begin(), b.end());
  return out;
}

const char kEntry[] = "3012020127170d3130303130313030303030305a";  // serial 39, 2010-01-01
const char kLastUpdate[] = "170d3939313233313233353935395a";       // 1999-12-31 23:59:59

X509_REVOKED* NewEntry() {
  X509_REVOKED* rev = Decode(d2i_X509_REVOKED, morvane_test::FromHex(kEntry));
  EXPECT_NE(nullptr, rev);
  return rev;
}

// GoodCACRL.crl: version, algorithm, issuer, thisUpdate, nextUpdate,
// revoked entries, [0] extensions.  Its signed part is written from the
// octets read, even after a field changed in place, until an entry is added;
// then from the fields, in DER.
TEST(Pkits, CrlKeepsSignedPartUntilModified) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "pkits/crls/GoodCACRL.crl");
  const Bytes der = morvane_test::ReadFileBytes(path);
  X509_CRL* crl = Decode(d2i_X509_CRL, der);
  ASSERT_NE(nullptr, crl);
  const char update[] = "991231235959Z";
  ASSERT_EQ(1, ASN1_STRING_set(crl->crl->lastUpdate, update, 13));
  EXPECT_EQ(der, Encode(i2d_X509_CRL, crl));  // not marked: the octets read

  ASSERT_EQ(1, X509_CRL_add0_revoked(crl, NewEntry()));
  std::vector<Bytes> outer = Elements(der);
  std::vector<Bytes> tbs = Elements(outer[0]);
  ASSERT_EQ(7u, tbs.size());
  tbs[3] = morvane_test::FromHex(kLastUpdate);
  std::vector<Bytes> entries = Elements(tbs[5]);
  entries.push_back(morvane_test::FromHex(kEntry));
  tbs[5] = x509_test::Tlv(0x30, Join(entries));
  outer[0] = x509_test::Tlv(0x30, Join(tbs));
  EXPECT_EQ(x509_test::Tlv(0x30, Join(outer)), Encode(i2d_X509_CRL, crl));
  X509_CRL_free(crl);
}

// The same list with thisUpdate's length in the long form (BER): read and
// duplicated, it is written as received; once changed, in DER.
TEST(Pkits, NonCanonicalCrlReencodesReceivedOctets) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "pkits/crls/GoodCACRL.crl");
  std::vector<Bytes> outer = Elements(morvane_test::ReadFileBytes(path));
  std::vector<Bytes> tbs = Elements(outer[0]);
  const Bytes canonical_update = tbs[3];
  tbs[3].insert(tbs[3].begin() + 1, 0x81);  // 17 0D ... as 17 81 0D ...
  outer[0] = x509_test::Tlv(0x30, Join(tbs));
  const Bytes ber = x509_test::Tlv(0x30, Join(outer));
  X509_CRL* crl = Decode(d2i_X509_CRL, ber);
  ASSERT_NE(nullptr, crl);
  EXPECT_EQ(ber, Encode(i2d_X509_CRL, crl));
  X509_CRL* dup = X509_CRL_dup(crl);
  ASSERT_NE(nullptr, dup);
  EXPECT_EQ(ber, Encode(i2d_X509_CRL, dup));
  ASSERT_EQ(1, X509_CRL_add0_revoked(dup, NewEntry()));
  std::vector<Bytes> got = Elements(Elements(Encode(i2d_X509_CRL, dup))[0]);
  ASSERT_EQ(7u, got.size());
  EXPECT_EQ(canonical_update, got[3]);
  EXPECT_EQ(sk_num(crl->crl->revoked) + 1, static_cast<int>(Elements(got[5]).size()));
  X509_CRL_free(dup);
  X509_CRL_free(crl);
}

// Path test 1's end-entity certificate with its serial number (02 01 01)
// respelled as a constructed INTEGER whose pieces carry other tags: X.690
// 8.3.1 keeps an INTEGER primitive, so the certificate no longer decodes
// (it verified before, with another fingerprint).
TEST(Pkits, ConstructedSerialNumberIsRefused) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "pkits/certs/ValidCertificatePathTest1EE.crt");
  std::vector<Bytes> outer = Elements(morvane_test::ReadFileBytes(path));
  std::vector<Bytes> tbs = Elements(outer[0]);
  ASSERT_EQ(morvane_test::FromHex("020101"), tbs[1]);
  tbs[1] = morvane_test::FromHex("2207aa00040101bb00");
  outer[0] = x509_test::Tlv(0x30, Join(tbs));
  const Bytes der = x509_test::Tlv(0x30, Join(outer));
  const unsigned char* p = der.data();
  EXPECT_EQ(nullptr, d2i_X509(nullptr, &p, static_cast<long>(der.size())));
  EXPECT_EQ(ASN1_R_TYPE_NOT_PRIMITIVE, ERR_GET_REASON(ERR_peek_error()));
  ERR_clear_error();
}

}  // namespace
