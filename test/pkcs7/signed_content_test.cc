// What a signature of signed data covers: a digest list that names one
// digest many times builds one filter per digest.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <time.h>

#include <string>
#include <vector>

#include "pkcs7_fixture.h"
#include "test_support.h"

namespace {

using namespace pkcs7_test;

// The message as a receiver decodes it from its DER.
PKCS7* Reread(PKCS7* p7) {
  const std::vector<unsigned char> der = Der(p7);
  const unsigned char* p = der.data();
  PKCS7* back = d2i_PKCS7(nullptr, &p, static_cast<long>(der.size()));
  EXPECT_NE(back, nullptr);
  return back;
}

// PKCS7_verify without chain checks: its result, what it wrote in *out.
int Verify(PKCS7* p7, std::string* out = nullptr, BIO* indata = nullptr) {
  BIO* b = BIO_new(BIO_s_mem());
  const int r = PKCS7_verify(p7, nullptr, nullptr, indata, b, PKCS7_FLAG_NO_VERIFY);
  if (out != nullptr) *out = MemText(b);
  BIO_free(b);
  return r;
}

// The same after the message went through S/MIME text.
int VerifyThroughMime(PKCS7* p7) {
  BIO* mime = BIO_new(BIO_s_mem());
  EXPECT_EQ(SMIME_write_PKCS7(mime, p7, nullptr, PKCS7_FLAG_BINARY), 1);
  BIO* bcont = nullptr;
  PKCS7* back = SMIME_read_PKCS7(mime, &bcont);
  EXPECT_NE(back, nullptr);
  const int r = back != nullptr ? Verify(back, nullptr, bcont) : -1;
  BIO_free(bcont);
  PKCS7_free(back);
  BIO_free(mime);
  return r;
}

// ---- the digest list ----------------------------------------------------------

// The digest filters of a chain, top first, by digest NID.
std::vector<int> DigestFilters(BIO* chain) {
  std::vector<int> nids;
  for (BIO* b = chain; b != nullptr; b = BIO_next(b)) {
    if (BIO_method_type(b) != BIO_TYPE_MD) continue;
    const EVP_MD* md = nullptr;
    BIO_get_md(b, &md);
    nids.push_back(md != nullptr ? EVP_MD_type(md) : 0);
  }
  return nids;
}

// A received message whose digest list names SHA-1 and MD5 ten thousand
// times each gets one filter per digest, and verifies.
TEST(SignedContent, RepeatedDigestAlgorithmsBuildOneFilterPerDigest) {
  PKCS7* p7 = PKCS7_new();
  ASSERT_TRUE(PKCS7_set_type(p7, 22));
  ASSERT_TRUE(PKCS7_content_new(p7, 21));
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(0), UserKey(0), EVP_sha1()), nullptr);
  ASSERT_NE(PKCS7_add_signature(p7, UserCert(1), UserKey(1), EVP_md5()), nullptr);
  ASSERT_TRUE(PKCS7_add_certificate(p7, UserCert(0)));
  ASSERT_TRUE(PKCS7_add_certificate(p7, UserCert(1)));
  BIO* chain = PKCS7_dataInit(p7, nullptr);
  BIO_write(chain, "content", 7);
  ASSERT_EQ(PKCS7_dataFinal(p7, chain), 1);
  BIO_free_all(chain);
  STACK* md_algs = p7->d.sign->md_algs;
  ASSERT_EQ(sk_num(md_algs), 2);
  for (int i = 2; i < 20000; i++)
    sk_push(md_algs, reinterpret_cast<char*>(X509_ALGOR_dup(
                         reinterpret_cast<X509_ALGOR*>(sk_value(md_algs, i % 2)))));
  PKCS7* back = Reread(p7);
  ASSERT_EQ(sk_num(back->d.sign->md_algs), 20000);

  const std::vector<int> expected = {64, 4};
  chain = PKCS7_dataInit(back, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(DigestFilters(chain), expected);
  BIO_free_all(chain);
  chain = PKCS7_dataDecode(back, nullptr, nullptr, nullptr);
  ASSERT_NE(chain, nullptr);
  EXPECT_EQ(DigestFilters(chain), expected);
  EXPECT_EQ(ReadAll(chain), "content");
  for (int i = 0; i < 2; i++)
    EXPECT_EQ(PKCS7_signatureVerify(chain, back, Signer(back, i), UserCert(i)), 1) << i;
  BIO_free_all(chain);

  std::string out;
  EXPECT_EQ(Verify(back, &out), 1) << morvane_test::DrainErrors();
  EXPECT_EQ(out, "content");
  EXPECT_EQ(VerifyThroughMime(back), 1) << morvane_test::DrainErrors();
  PKCS7_free(back);
  PKCS7_free(p7);
}

}  // namespace
