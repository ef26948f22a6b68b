// Password-based encryption: the PBE table, PBES1 and PBES2 through
// EVP_PBE_CipherInit (Wycheproof pbes2_*), the parameters PKCS5_pbe_set and
// PKCS5_pbe2_set write, and the PKCS#8 structure (Wycheproof's
// privateKeyPkcs8 octets, the wipe on free).

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

#include "der_build.h"
#include "sha1_count.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using der_build::Der;
using der_build::Int;
using der_build::IntBytes;
using der_build::Seq;

// Object identifiers (RFC 8018, B and C; NIST CSOR for AES).
const Bytes kPbkdf2 = FromHex("06092a864886f70d01050c");
const Bytes kAesCbc[3] = {FromHex("0609608648016503040102"), FromHex("0609608648016503040116"),
                          FromHex("060960864801650304012a")};
const Bytes kDesEde3Cbc = FromHex("06082a864886f70d0307");

ASN1_TYPE* TypeOf(const Bytes& der) {
  const unsigned char* p = der.data();
  return d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(der.size()));
}

// Runs `in` through a context set up by EVP_PBE_CipherInit; empty on any
// failure (the error queue says which).
Bytes PbeRun(int nid, const Bytes& pass, const Bytes& param, const Bytes& in, int enc) {
  ASN1_TYPE* t = TypeOf(param);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  Bytes out(in.size() + 32);
  int n = 0, m = 0;
  const bool ok =
      t != nullptr &&
      EVP_PBE_CipherInit(OBJ_nid2obj(nid), reinterpret_cast<const char*>(pass.data()),
                         static_cast<int>(pass.size()), t, &ctx, enc) &&
      EVP_CipherUpdate(&ctx, out.data(), &n, in.data(), static_cast<int>(in.size())) &&
      EVP_CipherFinal_ex(&ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_cleanup(&ctx);
  ASN1_TYPE_free(t);
  if (!ok) return {};
  out.resize(static_cast<size_t>(n + m));
  return out;
}

// ---- the table, PBES1 and PBES2 ------------------------------------------

TEST(PbeTable, UnknownAlgorithm) {
  Morvane_add_all_ciphers();
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  EXPECT_EQ(0, EVP_PBE_CipherInit(OBJ_nid2obj(6), "pw", 2, nullptr, &ctx, 1));
  EXPECT_EQ(0x06074079u, ERR_peek_error());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_UNKNOWN_PBE_ALGORITHM,
                  "TYPE=rsaEncryption"}});
  EXPECT_EQ(0, EVP_PBE_CipherInit(nullptr, "pw", 2, nullptr, &ctx, 1));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_UNKNOWN_PBE_ALGORITHM, "TYPE=NULL"}});
  EVP_cleanup();  // the table goes with the names
  EXPECT_EQ(0, EVP_PBE_CipherInit(OBJ_nid2obj(170), "pw", 2, nullptr, &ctx, 1));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_UNKNOWN_PBE_ALGORITHM,
                  "TYPE=pbeWithSHA1AndDES-CBC"}});
}

// PBE-SHA1-DES, 2 iterations: D = SHA1(SHA1("password" || salt)), key
// D[0..8), IV D[8..16).  D from coreutils:
//   printf 'password\x01\x02\x03\x04\x05\x06\x07\x08' | sha1sum | cut -c1-40 | xxd -r -p | sha1sum
TEST(PbeTable, Pbes1KeyAndIv) {
  Morvane_add_all_ciphers();
  const Bytes salt = FromHex("0102030405060708");
  const Bytes param = Seq({Der(0x04, salt), Int(2)});
  const Bytes msg = FromHex("00112233445566778899");
  const Bytes ct = PbeRun(170, Bytes{'p', 'a', 's', 's', 'w', 'o', 'r', 'd'}, param, msg, 1);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  const Bytes key = FromHex("bcd6991db6b09dc0"), iv = FromHex("d2578c8cdcc471d4");
  Bytes want(32);
  int n = 0, m = 0;
  ASSERT_TRUE(EVP_EncryptInit_ex(&ctx, EVP_des_cbc(), nullptr, key.data(), iv.data()));
  EVP_EncryptUpdate(&ctx, want.data(), &n, msg.data(), static_cast<int>(msg.size()));
  EVP_EncryptFinal_ex(&ctx, want.data() + n, &m);
  want.resize(static_cast<size_t>(n + m));
  EVP_CIPHER_CTX_cleanup(&ctx);
  EXPECT_EQ(want, ct);
  EXPECT_TRUE(PbeRun(170, {}, Der(0x04, salt), msg, 1).empty());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_DECODE_ERROR},
                 {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE}});
}

Bytes Pbes2Param(const Bytes& salt, unsigned iter, const Bytes& extra, const Bytes& cipher_oid,
                 const Bytes& iv) {
  Bytes kdf_fields = Der(0x04, salt);
  const Bytes it = Int(iter);
  kdf_fields.insert(kdf_fields.end(), it.begin(), it.end());
  kdf_fields.insert(kdf_fields.end(), extra.begin(), extra.end());
  return Seq({Seq({kPbkdf2, Der(0x30, kdf_fields)}), Seq({cipher_oid, Der(0x04, iv)})});
}

// Wycheproof pbes2_hmacsha1_aes_*: every message comes back from its
// ciphertext; the files with another PRF fail with "unsupported prf".
class WycheproofPbes2 : public testing::TestWithParam<int> {};

TEST_P(WycheproofPbes2, Decrypts) {
  Morvane_add_all_ciphers();
  const int i = GetParam();
  const char* bits[] = {"128", "192", "256"};
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/pbes2_hmacsha1_aes_") + bits[i] +
                                        "_test.json");
  int n = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    const Bytes param = Pbes2Param(FromHex(t.Get("salt")), std::stoul(t.Get("iterationCount")),
                                   {}, kAesCbc[i], FromHex(t.Get("iv")));
    EXPECT_EQ(FromHex(t.Get("msg")), PbeRun(161, FromHex(t.Get("password")), param,
                                            FromHex(t.Get("ct")), 0))
        << "tcId " << t.id << morvane_test::DrainErrors();
    n++;
  }
  EXPECT_EQ(84, n);
}

TEST_P(WycheproofPbes2, OtherPrfsAreRefused) {
  Morvane_add_all_ciphers();
  const char* prfs[] = {"sha224", "sha256", "sha512"};
  const uint8_t arcs[] = {8, 9, 11};  // hmacWithSHA224/256/512, RFC 8018, B.1.2
  const char* bits[] = {"128", "192", "256"};
  const Bytes prf = Seq({Bytes{0x06, 0x08, 0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02,
                               arcs[GetParam()]},
                         Bytes{0x05, 0x00}});
  for (int aes = 0; aes < 3; aes++) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/pbes2_hmac") + prfs[GetParam()] +
                                          "_aes_" + bits[aes] + "_test.json");
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      const Bytes param = Pbes2Param(FromHex(t.Get("salt")), std::stoul(t.Get("iterationCount")),
                                     prf, kAesCbc[aes], FromHex(t.Get("iv")));
      EXPECT_TRUE(PbeRun(161, FromHex(t.Get("password")), param, FromHex(t.Get("ct")), 0).empty());
      ASSERT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_UNSUPPORTED_PRF},
                     {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE}});
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofPbes2, testing::Values(0, 1, 2));

TEST(PbeTable, Pbes2KeyLengthMustMatch) {
  Morvane_add_all_ciphers();
  const Bytes param = Pbes2Param(Bytes(8, 1), 1, Int(16), kDesEde3Cbc, Bytes(8, 2));
  EXPECT_TRUE(PbeRun(161, {'p'}, param, Bytes(8, 0), 1).empty());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_UNSUPPORTED_KEYLENGTH},
                 {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE}});
  // The right length (24) is accepted.
  EXPECT_FALSE(PbeRun(161, {'p'}, Pbes2Param(Bytes(8, 1), 1, Int(24), kDesEde3Cbc, Bytes(8, 2)),
                      Bytes(8, 0), 1)
                   .empty());
}

// What the generators refuse instead of running: a pass-phrase length below
// -1 (it used to reach the digests as a huge size), a PBES2 iteration count
// past INT_MAX (above the bound of counts read from parameters), and a PBES1
// cipher whose key would not fit the key buffer (it used to be copied past
// it).
TEST(PbeTable, RefusesWhatItCannotRun) {
  Morvane_add_all_ciphers();
  const Bytes param = Pbes2Param(Bytes(8, 1), 1, {}, kAesCbc[0], Bytes(16, 2));
  ASN1_TYPE* t = TypeOf(param);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  EXPECT_EQ(0, EVP_PBE_CipherInit(OBJ_nid2obj(161), "pw", -2, t, &ctx, 1));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_INVALID_KEY_LENGTH}});
  unsigned char dk[20];
  EXPECT_EQ(0, PKCS5_PBKDF2_HMAC_SHA1("pw", -2, dk, 1, 1, 20, dk));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH}});
  ASN1_TYPE_free(t);

  EXPECT_TRUE(PbeRun(161, {'p'}, Pbes2Param(Bytes(8, 1), 0x80000000u, {}, kAesCbc[0], Bytes(16, 2)),
                     Bytes(16, 0), 1)
                  .empty());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_ITERATION_COUNT_TOO_LARGE},
                 {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE}});

  // A scheme whose cipher has an IV but whose parameters are absent: refused
  // rather than run with a zero IV.
  Bytes kdf = Der(0x04, Bytes(8, 1));
  const Bytes one = Int(1);
  kdf.insert(kdf.end(), one.begin(), one.end());
  EXPECT_TRUE(
      PbeRun(161, {'p'}, Seq({Seq({kPbkdf2, Der(0x30, kdf)}), Seq({kAesCbc[0]})}), Bytes(16, 0), 1)
          .empty());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_CIPHER_PARAMETER_ERROR},
                 {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE}});

  EVP_CIPHER wide = *EVP_aes_256_cbc();
  wide.key_len = 48;
  t = TypeOf(Seq({Der(0x04, Bytes(8, 3)), Int(1)}));
  EXPECT_EQ(0, PKCS5_PBE_keyivgen(&ctx, "pw", 2, t, &wide, EVP_sha512(), 1));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN, EVP_R_INVALID_KEY_LENGTH}});
  ASN1_TYPE_free(t);
  EVP_CIPHER_CTX_cleanup(&ctx);
}

// An iteration count read from the parameters above PKCS5_MAX_FILE_ITER is
// refused before any digest is finished, by PBES1, PBES2 and the PKCS#12
// rows (2^31 - 1 held a PKCS#8 file's reader for minutes; a count of 2^32 -
// 1 ran unclamped, and one past four octets as 1), and so is a count whose
// iterations with a slower digest weigh more than that many of SHA-1 (MD2
// at the bound held it 39 s).  A count at the bound is taken: its
// derivation starts (and is stopped by the counting digest).
TEST(PbeTable, CountsFromParametersAreBounded) {
  Morvane_add_all_ciphers();
  const Bytes salt = Der(0x04, Bytes(8, 1));
  constexpr unsigned kBound = PKCS5_MAX_FILE_ITER;
  const struct {
    int nid;
    Bytes param;
    int lib, func, reason;  // reason 0: the count is taken
  } rows[] = {
      {170, Seq({salt, Int(0xFFFFFFFFu)}), ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN,
       EVP_R_ITERATION_COUNT_TOO_LARGE},
      {170, Seq({salt, IntBytes(Bytes(9, 0x11))}), ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN,
       EVP_R_ITERATION_COUNT_TOO_LARGE},
      {170, Seq({salt, Int(kBound + 1)}), ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN,
       EVP_R_ITERATION_COUNT_TOO_LARGE},
      {170, Seq({salt, Int(kBound)}), 0, 0, 0},
      // Weighed by the digest: an MD2 iteration costs 71 of SHA-1, MD5's 1.7.
      {9, Seq({salt, Int(kBound / 71 + 1)}), ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN,
       EVP_R_ITERATION_COUNT_TOO_LARGE},
      {10, Seq({salt, Int(kBound * 10 / 17 + 1)}), ERR_LIB_EVP, EVP_F_PKCS5_PBE_KEYIVGEN,
       EVP_R_ITERATION_COUNT_TOO_LARGE},
      {161, Pbes2Param(Bytes(8, 1), 0x7FFFFFFF, {}, kAesCbc[0], Bytes(16, 2)), ERR_LIB_EVP,
       EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_ITERATION_COUNT_TOO_LARGE},
      {161, Pbes2Param(Bytes(8, 1), kBound + 1, {}, kAesCbc[0], Bytes(16, 2)), ERR_LIB_EVP,
       EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_ITERATION_COUNT_TOO_LARGE},
      {161, Pbes2Param(Bytes(8, 1), kBound, {}, kAesCbc[0], Bytes(16, 2)), 0, 0, 0},
      {146, Seq({salt, Int(0x7FFFFFFF)}), ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_KEYIVGEN,
       PKCS12_R_ITERATION_COUNT_TOO_LARGE},
      {146, Seq({salt, Int(kBound + 1)}), ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_KEYIVGEN,
       PKCS12_R_ITERATION_COUNT_TOO_LARGE},
      {146, Seq({salt, Int(kBound)}), 0, 0, 0},
  };
  sha1_count::Sha1Counter sha1(100);
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.nid << " " << morvane_test::ToHex(r.param));
    sha1.Reset();
    EXPECT_TRUE(PbeRun(r.nid, {'p'}, r.param, Bytes(16, 0), 1).empty());
    if (r.reason != 0) {
      EXPECT_EQ(0, sha1.finals());
      EXPECT_ERRORS({{r.lib, r.func, r.reason},
                     {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE}});
    } else {
      EXPECT_GT(sha1.finals(), 100);
      ERR_clear_error();
    }
  }
}

// ---- the parameters written ----------------------------------------------

template <class T, T* (*D2i)(T**, const unsigned char**, long)>
T* DecodeParam(const X509_ALGOR* alg) {
  const ASN1_STRING* s = alg->parameter->value.sequence;
  const unsigned char* p = s->data;
  return D2i(nullptr, &p, s->length);
}

TEST(PbeParams, Pbes1Defaults) {
  X509_ALGOR* alg = PKCS5_pbe_set(170, -5, nullptr, 0);
  ASSERT_NE(nullptr, alg);
  EXPECT_EQ(170, OBJ_obj2nid(alg->algorithm));
  PBEPARAM* pbe = DecodeParam<PBEPARAM, d2i_PBEPARAM>(alg);
  ASSERT_NE(nullptr, pbe);
  EXPECT_EQ(2048, ASN1_INTEGER_get(pbe->iter));
  EXPECT_EQ(8, pbe->salt->length);
  PBEPARAM_free(pbe);
  X509_ALGOR_free(alg);
}

// The key length is written for RC2-CBC only; PBES2 round trip.
TEST(PbeParams, Pbes2KeyLengthAndRoundTrip) {
  Morvane_add_all_ciphers();
  const struct {
    const EVP_CIPHER* cipher;
    long keylength;  // -1: absent
  } cases[] = {{EVP_rc2_cbc(), 16}, {EVP_des_ede3_cbc(), -1}, {EVP_aes_256_cbc(), -1}};
  const Bytes msg = FromHex("5468652071756963");
  for (const auto& c : cases) {
    X509_ALGOR* alg = PKCS5_pbe2_set(c.cipher, 0, nullptr, 0);
    ASSERT_NE(nullptr, alg);
    PBE2PARAM* pbe2 = DecodeParam<PBE2PARAM, d2i_PBE2PARAM>(alg);
    ASSERT_NE(nullptr, pbe2);
    PBKDF2PARAM* kdf = DecodeParam<PBKDF2PARAM, d2i_PBKDF2PARAM>(pbe2->keyfunc);
    ASSERT_NE(nullptr, kdf);
    EXPECT_EQ(2048, ASN1_INTEGER_get(kdf->iter));
    EXPECT_EQ(8, kdf->salt->value.octet_string->length);
    EXPECT_EQ(nullptr, kdf->prf);
    EXPECT_EQ(c.keylength, kdf->keylength ? ASN1_INTEGER_get(kdf->keylength) : -1);
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_TYPE(alg->parameter, &der);
    const Bytes param(der, der + n);
    MORVANE_free(der);
    EXPECT_EQ(msg, PbeRun(161, {'p', 'w'}, param, PbeRun(161, {'p', 'w'}, param, msg, 1), 0));
    PBKDF2PARAM_free(kdf);
    PBE2PARAM_free(pbe2);
    X509_ALGOR_free(alg);
  }
}

TEST(PbeParams, CipherWithoutIdentifierBuildsNothing) {
  if (!morvane_test::InstallCountingAllocator()) GTEST_SKIP() << "needs a fresh process";
  ASSERT_EQ(0, EVP_CIPHER_type(EVP_des_ede3_cfb1()));
  ERR_put_error(ERR_LIB_ASN1, 0, 1, "warm-up", 1);  // the error queue's own first allocation
  ERR_clear_error();
  const long before = morvane_test::GetAllocCounts().mallocs;
  EXPECT_EQ(nullptr, PKCS5_pbe2_set(EVP_des_ede3_cfb1(), 0, nullptr, 0));
  EXPECT_EQ(before, morvane_test::GetAllocCounts().mallocs);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_PKCS5_PBE2_SET, ASN1_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER}});
}

// ---- the PKCS#8 structure -------------------------------------------------

// Wycheproof's privateKeyPkcs8 of every RSA group decodes and encodes back
// to the same octets.
TEST(Pkcs8Structure, WycheproofRsaKeysRoundTrip) {
  const std::string dir = morvane_test::VectorFile("wycheproof");
  if (dir.empty()) GTEST_SKIP() << "published vectors not found (wycheproof)";
  int keys = 0, three_prime = 0;
  for (const char* f :
       {"rsa_oaep_2048_sha1_mgf1sha1", "rsa_oaep_2048_sha224_mgf1sha1",
        "rsa_oaep_2048_sha224_mgf1sha224", "rsa_oaep_2048_sha256_mgf1sha1",
        "rsa_oaep_2048_sha256_mgf1sha256", "rsa_oaep_2048_sha512_mgf1sha1",
        "rsa_oaep_2048_sha512_mgf1sha512", "rsa_oaep_3072_sha256_mgf1sha1",
        "rsa_oaep_3072_sha256_mgf1sha256", "rsa_oaep_3072_sha512_mgf1sha1",
        "rsa_oaep_3072_sha512_mgf1sha512", "rsa_oaep_4096_sha256_mgf1sha1",
        "rsa_oaep_4096_sha256_mgf1sha256", "rsa_oaep_4096_sha512_mgf1sha1",
        "rsa_oaep_4096_sha512_mgf1sha512", "rsa_oaep_misc", "rsa_pkcs1_1024_sig_gen",
        "rsa_pkcs1_1536_sig_gen", "rsa_pkcs1_2048_sig_gen", "rsa_pkcs1_2048",
        "rsa_pkcs1_3072_sig_gen", "rsa_pkcs1_3072", "rsa_pkcs1_4096_sig_gen", "rsa_pkcs1_4096",
        "rsa_three_primes_oaep_2048_sha1_mgf1sha1", "rsa_three_primes_oaep_3072_sha224_mgf1sha224",
        "rsa_three_primes_oaep_4096_sha256_mgf1sha256"}) {
    const morvane_test::Json j = morvane_test::ParseJson(
        morvane_test::ReadFile(dir + "/" + f + "_test.json"));
    for (const auto& g : j["testGroups"].items) {
      const Bytes der = FromHex(g["privateKeyPkcs8"].text);
      const unsigned char* p = der.data();
      PKCS8_PRIV_KEY_INFO* p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
      ASSERT_NE(nullptr, p8) << f;
      unsigned char* out = nullptr;
      const int n = i2d_PKCS8_PRIV_KEY_INFO(p8, &out);
      EXPECT_EQ(der, Bytes(out, out + (n > 0 ? n : 0))) << f;
      MORVANE_free(out);
      PKCS8_PRIV_KEY_INFO_free(p8);
      keys++;
      if (strstr(f, "three_primes") != nullptr) three_prime++;
    }
  }
  EXPECT_EQ(270, keys);
  EXPECT_EQ(3, three_prime);
}

// The key bytes are overwritten before their block is released.
const unsigned char* g_watched = nullptr;
Bytes g_released;
void WatchingFree(void* p) {
  if (p != nullptr && p == g_watched) g_released.assign(g_watched, g_watched + 32);
  free(p);
}

TEST(Pkcs8Structure, FreeWipesTheKeyBytes) {
  if (!CRYPTO_set_mem_functions(malloc, realloc, WatchingFree))
    GTEST_SKIP() << "needs a fresh process";
  const Bytes key(32, 0x5a);
  const Bytes der = Seq({Int(0), Seq({FromHex("06092a864886f70d010101"), FromHex("0500")}),
                         Der(0x04, key)});
  const unsigned char* p = der.data();
  PKCS8_PRIV_KEY_INFO* p8 = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, p8);
  g_watched = p8->pkey->value.octet_string->data;
  ASSERT_EQ(key, Bytes(g_watched, g_watched + 32));
  PKCS8_PRIV_KEY_INFO_free(p8);
  ASSERT_EQ(32u, g_released.size());
  EXPECT_NE(key, g_released);
  for (uint8_t b : g_released) EXPECT_NE(0x5a, b);
}

}  // namespace
