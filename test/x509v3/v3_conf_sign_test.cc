// A section that uses the usage, policy, Netscape and distribution-point
// builders goes into a certificate that is then signed, verified, encoded
// and decoded again; its values and cached facts are those the lines ask
// for (bit and object values from RFC 5280, 4.2.1.3, 4.2.1.4 and 4.2.1.12).

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "rsa_key_file.h"
#include "test_support.h"

namespace {

constexpr char kSection[] =
    "[ext]\n"
    "basicConstraints = critical,CA:FALSE\n"
    "keyUsage = critical,digitalSignature,keyEncipherment\n"
    "extendedKeyUsage = serverAuth\n"
    "certificatePolicies = 1.2.3.4\n"
    "nsCertType = server\n"
    "nsComment = made from a section\n"
    "crlDistributionPoints = URI:http://crl.example/ca.crl\n"
    "subjectAltName = DNS:www.example\n";

// The value octets of the first extension with this NID, in hex.
std::string ValueOf(X509* x, int nid) {
  const int i = X509_get_ext_by_NID(x, nid, -1);
  if (i < 0) return "absent";
  const ASN1_OCTET_STRING* v = X509_get_ext(x, i)->value;
  return morvane_test::ToHex(v->data, static_cast<size_t>(v->length));
}

TEST(X509v3Conf, SectionIntoASignedCertificate) {
  Morvane_add_all_digests();
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(kSection), -1);
  long line = 0;
  ASSERT_EQ(1, NCONF_load_bio(conf, in, &line));
  BIO_free(in);
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(key, rsa_test::LoadKeyFile(morvane_test::TestDataFile("rsa/keys.txt").c_str(), 768));
  X509* x = X509_new();
  X509_set_version(x, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(x), 9);
  X509_NAME_add_entry_by_txt(X509_get_subject_name(x), "CN", ASN1_MB_ASCII,
                             reinterpret_cast<const unsigned char*>("www.example"), -1, -1, 0);
  X509_set_issuer_name(x, X509_get_subject_name(x));
  x->cert_info->validity->notBefore = X509_gmtime_adj(x->cert_info->validity->notBefore, 0);
  x->cert_info->validity->notAfter = X509_gmtime_adj(x->cert_info->validity->notAfter, 3600);
  X509_set_pubkey(x, key);
  X509V3_CTX ctx = {};
  X509V3_set_ctx(&ctx, x, x, nullptr, nullptr, 0);
  X509V3_set_nconf(&ctx, conf);
  ASSERT_EQ(1, X509V3_EXT_add_nconf(conf, &ctx, "ext", x)) << morvane_test::DrainErrors();
  ASSERT_GT(X509_sign(x, key, EVP_sha256()), 0);

  unsigned char* der = nullptr;
  const int n = i2d_X509(x, &der);
  ASSERT_GT(n, 0);
  const unsigned char* p = der;
  X509* back = d2i_X509(nullptr, &p, n);
  MORVANE_free(der);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(1, X509_verify(back, key));
  EXPECT_EQ(8, X509_get_ext_count(back));
  EXPECT_EQ("3000", ValueOf(back, 87));                            // cA FALSE is the default
  EXPECT_EQ("030205a0", ValueOf(back, 83));                        // bits 0 and 2
  EXPECT_EQ("300a06082b06010505070301", ValueOf(back, 126));       // id-kp-serverAuth
  EXPECT_EQ("3007300506032a0304", ValueOf(back, 89));
  EXPECT_EQ("03020640", ValueOf(back, 71));                        // nsCertType: server
  EXPECT_EQ("300d820b7777772e6578616d706c65", ValueOf(back, 85));
  // The cached facts read what was written.
  X509_check_purpose(back, -1, 0);
  for (unsigned long flag : {EXFLAG_BCONS, EXFLAG_KUSAGE, EXFLAG_XKUSAGE, EXFLAG_NSCERT, EXFLAG_SI,
                             EXFLAG_SET})
    EXPECT_NE(0u, back->ex_flags & flag) << flag;
  for (unsigned long flag : {EXFLAG_CA, EXFLAG_INVALID, EXFLAG_CRITICAL})
    EXPECT_EQ(0u, back->ex_flags & flag) << flag;
  EXPECT_EQ(static_cast<unsigned long>(KU_DIGITAL_SIGNATURE | KU_KEY_ENCIPHERMENT),
            static_cast<unsigned long>(back->ex_kusage));
  EXPECT_EQ(static_cast<unsigned long>(XKU_SSL_SERVER), static_cast<unsigned long>(back->ex_xkusage));
  EXPECT_EQ(static_cast<unsigned long>(NS_SSL_SERVER), static_cast<unsigned long>(back->ex_nscert));
  EXPECT_EQ(1, X509_check_purpose(back, X509_PURPOSE_SSL_SERVER, 0));
  EXPECT_EQ(0, X509_check_purpose(back, X509_PURPOSE_SSL_CLIENT, 0));
  EXPECT_ERRORS({});
  X509_free(back);
  X509_free(x);
  EVP_PKEY_free(key);
  NCONF_free(conf);
}

}  // namespace
