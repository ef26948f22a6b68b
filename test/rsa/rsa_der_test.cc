// The DER forms of RSA keys (RFC 8017, A.1): Wycheproof's two-prime private
// keys and public keys decode and encode back to the same octets; decoded
// keys are made with the default method and freed through their reference
// count; copies, the old-style codec table and what the decoders refuse.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::FromHex;

// The encoding by `i2d`, empty when it fails.
Bytes Der(int (*i2d)(RSA*, unsigned char**), RSA* r) {
  unsigned char* der = nullptr;
  const int n = i2d(r, &der);
  Bytes out;
  if (n > 0) out.assign(der, der + n);
  CRYPTO_free(der);
  return out;
}
Bytes PrivateDer(RSA* r) {
  return Der(i2d_RSAPrivateKey, r);
}
Bytes PublicDer(RSA* r) {
  return Der(i2d_RSAPublicKey, r);
}

Rsa DecodePrivate(const Bytes& der) {
  const unsigned char* p = der.data();
  Rsa r(d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(der.size())));
  if (r) {
    EXPECT_EQ(der.data() + der.size(), p);
  }
  return r;
}

// Every two-prime private key of the Wycheproof files that carry PKCS#8 keys
// (the RSAPrivateKey inside), and every public key of the signature files.
TEST(RsaDer, WycheproofPrivateKeysRoundTrip) {
  int keys = 0;
  for (const char* f : {"rsa_pkcs1_2048_test.json", "rsa_pkcs1_3072_test.json",
                        "rsa_pkcs1_4096_test.json", "rsa_pkcs1_1024_sig_gen_test.json",
                        "rsa_pkcs1_2048_sig_gen_test.json", "rsa_pkcs1_4096_sig_gen_test.json",
                        "rsa_oaep_2048_sha1_mgf1sha1_test.json", "rsa_oaep_misc_test.json"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + f);
    std::set<std::string> seen;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      const std::string pkcs8 = t.Get("privateKeyPkcs8");
      if (pkcs8.empty() || !seen.insert(pkcs8).second) continue;
      const Bytes der = morvane_test::Pkcs8PrivateKey(FromHex(pkcs8));
      Rsa r = DecodePrivate(der);
      ASSERT_TRUE(r) << f << ": " << morvane_test::DrainErrors();
      EXPECT_EQ(RSA_get_default_method(), RSA_get_method(r.get()));
      EXPECT_EQ(1, r->references);
      EXPECT_EQ(0, r->version);
      EXPECT_EQ(der, PrivateDer(r.get())) << f;
      EXPECT_EQ(static_cast<int>(der.size()), i2d_RSAPrivateKey(r.get(), nullptr));
      // The first key of each file checks: its numbers are the key's own.
      if (seen.size() == 1) {
        EXPECT_EQ(1, RSA_check_key(r.get())) << morvane_test::DrainErrors();
      }
      keys++;
    }
  }
  EXPECT_GT(keys, 8);
}

TEST(RsaDer, WycheproofPublicKeysRoundTrip) {
  int keys = 0;
  for (const char* f :
       {"rsa_signature_2048_sha256_test.json", "rsa_signature_3072_sha512_test.json",
        "rsa_signature_8192_sha256_test.json"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + f);
    std::set<std::string> seen;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      const std::string hex = t.Get("publicKeyAsn");
      if (!seen.insert(hex).second) continue;
      const Bytes der = FromHex(hex);
      const unsigned char* p = der.data();
      Rsa r(d2i_RSAPublicKey(nullptr, &p, static_cast<long>(der.size())));
      ASSERT_TRUE(r) << morvane_test::DrainErrors();
      EXPECT_EQ(der.data() + der.size(), p);
      EXPECT_EQ(nullptr, r->d);
      EXPECT_EQ(der, PublicDer(r.get()));
      keys++;
    }
  }
  EXPECT_GE(keys, 3);
}

// A decoded key and its copies go through RSA_new and RSA_free: a reference
// taken before the item frees the key keeps it alive.
TEST(RsaDer, ItemFreeDropsOneReference) {
  Rsa key = MakeKey(TestKey(1024));
  const Bytes der = PrivateDer(key.get());
  ASSERT_FALSE(der.empty());
  Rsa again = DecodePrivate(der);
  ASSERT_TRUE(again);
  RSA_up_ref(again.get());
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(again.get()), &RSAPrivateKey_it);
  EXPECT_EQ(1, again->references);
  EXPECT_EQ(der, PrivateDer(again.get()));

  Rsa copy(RSAPrivateKey_dup(key.get()));
  ASSERT_TRUE(copy);
  EXPECT_NE(key.get(), copy.get());
  EXPECT_EQ(der, PrivateDer(copy.get()));
  Rsa pub(RSAPublicKey_dup(key.get()));
  ASSERT_TRUE(pub);
  EXPECT_EQ(nullptr, pub->d);
  EXPECT_EQ(0, BN_cmp(key->n, pub->n));
  EXPECT_EQ(PublicDer(key.get()), PublicDer(pub.get()));
}

// Decoding into an existing key replaces it (the d2i convention).
TEST(RsaDer, DecodeIntoAnExistingPointer) {
  Rsa key = MakeKey(TestKey(512));
  const Bytes der = PublicDer(key.get());
  RSA* target = RSA_new();
  const unsigned char* p = der.data();
  RSA* got = d2i_RSAPublicKey(&target, &p, static_cast<long>(der.size()));
  ASSERT_EQ(target, got);
  EXPECT_EQ(0, BN_cmp(key->n, got->n));
  RSA_free(got);
}

// The old-style codec table encodes, decodes, creates and frees private keys.
TEST(RsaDer, AsnMethodOfPrivateKeys) {
  const ASN1_METHOD* m = RSAPrivateKey_asn1_meth();
  ASSERT_NE(nullptr, m);
  Rsa key = MakeKey(TestKey(768));
  unsigned char* der = nullptr;
  const int n = m->i2d(key.get(), &der);
  ASSERT_GT(n, 0);
  const unsigned char* p = der;
  void* back = m->d2i(nullptr, &p, n);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(0, BN_cmp(key->d, static_cast<RSA*>(back)->d));
  m->destroy(back);
  CRYPTO_free(der);
  void* fresh = m->create();
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ(1, static_cast<RSA*>(fresh)->references);
  m->destroy(fresh);
}

// What the decoders refuse: a key with a missing field, trailing garbage
// inside the SEQUENCE, a truncated encoding; a public key has no private
// encoding.
TEST(RsaDer, RefusedEncodings) {
  Rsa key = MakeKey(TestKey(512));
  Bytes der = PrivateDer(key.get());
  ASSERT_FALSE(der.empty());
  for (size_t cut : {size_t{1}, size_t{10}, der.size() - 1}) {
    const unsigned char* p = der.data();
    EXPECT_EQ(nullptr, d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(cut)));
    ERR_clear_error();
  }
  // The public key's SEQUENCE is no private key.
  const Bytes pub = PublicDer(key.get());
  const unsigned char* p = pub.data();
  EXPECT_EQ(nullptr, d2i_RSAPrivateKey(nullptr, &p, static_cast<long>(pub.size())));
  ERR_clear_error();
  // A key without one of its numbers has no encoding (rather than one
  // without that INTEGER, which no decoder takes).
  for (const char* parts : {"n,e", "n,e,d,p,q,dmp1,dmq1", "e,d,p,q,dmp1,dmq1,iqmp"}) {
    Rsa partial = MakeKey(TestKey(512), parts);
    unsigned char* out = nullptr;
    EXPECT_LE(i2d_RSAPrivateKey(partial.get(), &out), 0) << parts;
    EXPECT_EQ(nullptr, out);
    EXPECT_LE(i2d_RSAPrivateKey(partial.get(), nullptr), 0) << parts;
    EXPECT_ERRORS({{ERR_LIB_RSA, 0, ERR_R_PASSED_NULL_PARAMETER},
                   {ERR_LIB_RSA, 0, ERR_R_PASSED_NULL_PARAMETER}});
  }
  Rsa no_e = MakeKey(TestKey(512), "n");
  EXPECT_LE(i2d_RSAPublicKey(no_e.get(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_RSA, 0, ERR_R_PASSED_NULL_PARAMETER}});
}

}  // namespace
