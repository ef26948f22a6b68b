// The PKCS#12 key derivation (known answers checked by
// tools/pkcs12_kdf_model.py), the BMPString conversions, the six PKCS#12
// ciphers through PKCS12_pbe_crypt, DER items under a pass phrase, and
// PKCS#8 keys encrypted with every row of the password-based table.

#include <cstring>
#include <string>

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

using der_build::Der;
using der_build::Int;
using der_build::Seq;
using morvane_test::Bytes;
using morvane_test::FromHex;

// Derived with SHA-1 (RFC 7292, B.2); tools/pkcs12_kdf_model.py, a model
// over its own SHA-1, reproduces every row.
struct KdfCase {
  const char* pass;  // null: no password at all
  const char* salt;
  int id, iter, n;
  const char* want;
};
constexpr KdfCase kKdf[] = {
    {"smeg", "0A58CF64530D823F", 1, 1, 24, "8AAAE6297B6CB04642AB5B077851284EB7128F1A2A7FBCA3"},
    {"smeg", "0A58CF64530D823F", 2, 1, 8, "79993DFE048D3B76"},
    {"queeg", "05DEC959ACFF72F7", 1, 1000, 24, "ED2034E36328830FF09DF1E1A07DD357185DAC0D4F9EB3D4"},
    {"queeg", "05DEC959ACFF72F7", 2, 1000, 8, "11DEDAD7758D4860"},
    {"", "0A58CF64530D823F", 1, 1, 24, "46DCC1D4AEA61E4498F3EA3E6507A7E2572A837ACD212182"},
    {nullptr, "0A58CF64530D823F", 1, 1, 24, "9985036E1A31D2812085D6CEF9DB2E03DCBB6B9CD0100FB5"},
};

TEST(Pkcs12Kdf, KnownAnswers) {
  for (const auto& c : kKdf) {
    Bytes salt = FromHex(c.salt), out(static_cast<size_t>(c.n));
    ASSERT_EQ(1, PKCS12_key_gen_asc(c.pass, -1, salt.data(), static_cast<int>(salt.size()), c.id,
                                    c.iter, c.n, out.data(), EVP_sha1()));
    EXPECT_EQ(FromHex(c.want), out) << (c.pass ? c.pass : "(null)") << " id " << c.id;
  }
  // The BMPString form gives the same bytes, and a shorter request is a
  // prefix of a longer one.
  unsigned char* uni = nullptr;
  int unilen = 0;
  ASSERT_NE(nullptr, asc2uni("smeg", -1, &uni, &unilen));
  Bytes salt = FromHex("0A58CF64530D823F"), out(10);
  ASSERT_EQ(1, PKCS12_key_gen_uni(uni, unilen, salt.data(), 8, 1, 1, 10, out.data(), EVP_sha1()));
  const Bytes full = FromHex(kKdf[0].want);
  EXPECT_EQ(Bytes(full.begin(), full.begin() + 10), out);
  MORVANE_free(uni);
}

TEST(Pkcs12Kdf, EmptySaltAndBadArguments) {
  unsigned char out[20];
  EXPECT_EQ(1, PKCS12_key_gen_asc("p", 1, nullptr, 0, 1, 1, 20, out, EVP_sha1()));
  EXPECT_EQ(0, PKCS12_key_gen_uni(out, -2, nullptr, 0, 1, 1, 20, out, EVP_sha1()));
  EXPECT_EQ(0, PKCS12_key_gen_asc("p", -2, nullptr, 0, 1, 1, 20, out, EVP_sha1()));
  EXPECT_EQ(0, PKCS12_key_gen_asc(nullptr, -2, nullptr, 0, 1, 1, 20, out, EVP_sha1()));
  EXPECT_EQ(0, PKCS12_key_gen_asc("p", 1, out, -1, 1, 1, 20, out, EVP_sha1()));
  EXPECT_EQ(0, PKCS12_key_gen_asc("p", 1, nullptr, 0, 1, 1, -1, out, EVP_sha1()));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_LENGTH},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_KEY_GEN_ASC, PKCS12_R_INVALID_LENGTH},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_KEY_GEN_ASC, PKCS12_R_INVALID_LENGTH},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_LENGTH},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_LENGTH}});
  EXPECT_EQ(0, PKCS12_key_gen_asc("p", 1, nullptr, 0, 1, 1, 20, out, nullptr));
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_KEY_GEN_UNI, PKCS12_R_INVALID_NULL_ARGUMENT}});
}

TEST(Pkcs12Bmp, Conversions) {
  unsigned char* uni = nullptr;
  int unilen = 0;
  unsigned char* r = asc2uni("abc", 3, &uni, &unilen);
  ASSERT_NE(nullptr, r);
  EXPECT_EQ(r, uni);
  ASSERT_EQ(8, unilen);
  EXPECT_EQ(FromHex("0061006200630000"), Bytes(uni, uni + 8));
  char* asc = uni2asc(uni, unilen);
  ASSERT_NE(nullptr, asc);
  EXPECT_STREQ("abc", asc);
  MORVANE_free(asc);
  // Without the closing zero unit the terminator gets a place of its own.
  asc = uni2asc(uni, 6);
  EXPECT_STREQ("abc", asc);
  MORVANE_free(asc);
  asc = uni2asc(uni, 0);
  EXPECT_STREQ("", asc);
  MORVANE_free(asc);
  EXPECT_EQ(nullptr, uni2asc(uni, 5));  // half a character
  MORVANE_free(uni);
}

// ---- the six PKCS#12 ciphers -----------------------------------------------

// Runs PKCS12_pbe_crypt; empty on failure.
Bytes Crypt(X509_ALGOR* alg, const char* pass, const Bytes& in, int en_de) {
  unsigned char* out = nullptr;
  int outlen = -1;
  unsigned char* r = PKCS12_pbe_crypt(alg, pass, -1, const_cast<unsigned char*>(in.data()),
                                      static_cast<int>(in.size()), &out, &outlen, en_de);
  if (r == nullptr) {
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(-1, outlen);
    return {};
  }
  EXPECT_EQ(r, out);
  Bytes b(out, out + outlen);
  MORVANE_free(out);
  return b;
}

X509_ALGOR* AlgorOf(int nid, const Bytes& param) {
  X509_ALGOR* a = X509_ALGOR_new();
  const unsigned char* p = param.data();
  ASN1_TYPE* t = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(param.size()));
  X509_ALGOR_set0(a, OBJ_nid2obj(nid), t->type, t->value.ptr);
  t->value.ptr = nullptr;
  ASN1_TYPE_free(t);
  return a;
}

TEST(Pkcs12Pbe, SixCiphersRoundTrip) {
  Morvane_add_all_ciphers();
  const Bytes msg = FromHex("000102030405060708090a0b0c0d0e0f1011121314");
  for (int nid = 144; nid <= 149; nid++) {
    X509_ALGOR* alg = PKCS5_pbe_set(nid, 3, nullptr, 0);
    ASSERT_NE(nullptr, alg);
    const Bytes ct = Crypt(alg, "secret", msg, 1);
    ASSERT_FALSE(ct.empty()) << nid << morvane_test::DrainErrors();
    EXPECT_NE(msg, Bytes(ct.begin(), ct.begin() + static_cast<long>(msg.size())));
    EXPECT_EQ(msg, Crypt(alg, "secret", ct, 0)) << nid;
    X509_ALGOR_free(alg);
  }
}

// The triple-DES row's key and IV are the derivation's ids 1 and 2 with the
// parameter's salt and iterations.  PBEPARAM's iteration count is not
// optional (RFC 8018, A.3): without it the parameter does not decode.
TEST(Pkcs12Pbe, KeyAndIvComeFromTheDerivation) {
  Morvane_add_all_ciphers();
  const Bytes salt = FromHex("0A58CF64530D823F"), msg = FromHex("4142434445464748494a");
  const Bytes key = FromHex(kKdf[0].want);
  unsigned char iv[8];
  ASSERT_EQ(1, PKCS12_key_gen_asc("smeg", -1, const_cast<unsigned char*>(salt.data()), 8, 2, 1, 8,
                                  iv, EVP_sha1()));
  Bytes want(32);
  int n = 0, m = 0;
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_EncryptInit_ex(&ctx, EVP_des_ede3_cbc(), nullptr, key.data(), iv));
  EVP_EncryptUpdate(&ctx, want.data(), &n, msg.data(), static_cast<int>(msg.size()));
  EVP_EncryptFinal_ex(&ctx, want.data() + n, &m);
  EVP_CIPHER_CTX_cleanup(&ctx);
  want.resize(static_cast<size_t>(n + m));
  X509_ALGOR* alg = AlgorOf(146, Seq({Der(0x04, salt), Int(1)}));
  EXPECT_EQ(want, Crypt(alg, "smeg", msg, 1));
  X509_ALGOR_free(alg);
  alg = AlgorOf(146, Seq({Der(0x04, salt)}));
  EXPECT_TRUE(Crypt(alg, "smeg", msg, 1).empty());
  EXPECT_EQ(ERR_PACK(ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_CRYPT,
                     PKCS12_R_PKCS12_ALGOR_CIPHERINIT_ERROR),
            ERR_peek_last_error());
  ERR_clear_error();
  X509_ALGOR_free(alg);
}

TEST(Pkcs12Pbe, RefusedParametersAndPadding) {
  Morvane_add_all_ciphers();
  // Not a SEQUENCE: refused before any derivation.
  X509_ALGOR* alg = AlgorOf(146, Der(0x04, FromHex("0102030405060708")));
  EXPECT_TRUE(Crypt(alg, "p", Bytes(8, 1), 1).empty());
  EXPECT_ERRORS({{ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_KEYIVGEN, PKCS12_R_DECODE_ERROR},
                 {ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_KEYGEN_FAILURE},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_CRYPT,
                  PKCS12_R_PKCS12_ALGOR_CIPHERINIT_ERROR}});
  X509_ALGOR_free(alg);
  // A ciphertext that is not whole blocks fails in the final step.
  alg = PKCS5_pbe_set(146, 1, nullptr, 0);
  EXPECT_TRUE(Crypt(alg, "p", Bytes(7, 1), 0).empty());
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_WRONG_FINAL_BLOCK_LENGTH},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_CRYPT, PKCS12_R_PKCS12_CIPHERFINAL_ERROR}});
  X509_ALGOR_free(alg);
}

// Wycheproof pbes2_hmacsha1_aes_*: PBES2 identifiers built from each case
// open its ciphertext through PKCS12_pbe_crypt.
TEST(Pkcs12Pbe, WycheproofPbes2) {
  Morvane_add_all_ciphers();
  const char* bits[] = {"128", "192", "256"};
  const Bytes aes[3] = {FromHex("0609608648016503040102"), FromHex("0609608648016503040116"),
                        FromHex("060960864801650304012a")};
  const Bytes pbkdf2 = FromHex("06092a864886f70d01050c");
  for (int i = 0; i < 3; i++) {
    MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/pbes2_hmacsha1_aes_") + bits[i] +
                                          "_test.json");
    int n = 0;
    for (const auto& t : morvane_test::ReadWycheproof(path)) {
      Bytes kdf = Der(0x04, FromHex(t.Get("salt")));
      const Bytes it = Int(std::stoul(t.Get("iterationCount")));
      kdf.insert(kdf.end(), it.begin(), it.end());
      const Bytes param = Seq({Seq({pbkdf2, Der(0x30, kdf)}), Seq({aes[i], Der(0x04, FromHex(t.Get("iv")))})});
      X509_ALGOR* alg = AlgorOf(161, param);
      const Bytes pw = FromHex(t.Get("password"));
      const Bytes ct = FromHex(t.Get("ct"));
      unsigned char* out = nullptr;
      int outlen = 0;
      ASSERT_NE(nullptr, PKCS12_pbe_crypt(alg, reinterpret_cast<const char*>(pw.data()),
                                          static_cast<int>(pw.size()),
                                          const_cast<unsigned char*>(ct.data()),
                                          static_cast<int>(ct.size()), &out, &outlen, 0))
          << "tcId " << t.id << morvane_test::DrainErrors();
      EXPECT_EQ(FromHex(t.Get("msg")), Bytes(out, out + outlen)) << "tcId " << t.id;
      MORVANE_free(out);
      X509_ALGOR_free(alg);
      n++;
    }
    EXPECT_EQ(84, n);
  }
}

// ---- items and PKCS#8 --------------------------------------------------------

TEST(Pkcs12Item, EncryptThenDecrypt) {
  Morvane_add_all_ciphers();
  X509_ALGOR* alg = PKCS5_pbe_set(149, 1, nullptr, 0);
  ASN1_INTEGER* v = ASN1_INTEGER_new();
  ASN1_INTEGER_set(v, 123456789);
  ASN1_OCTET_STRING* oct = PKCS12_item_i2d_encrypt(alg, &ASN1_INTEGER_it, "pw", -1, v, 1);
  ASSERT_NE(nullptr, oct);
  auto* back = static_cast<ASN1_INTEGER*>(
      PKCS12_item_decrypt_d2i(alg, &ASN1_INTEGER_it, "pw", -1, oct, 1));
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(123456789, ASN1_INTEGER_get(back));
  ASN1_INTEGER_free(back);
  // Decoding the plaintext as another type fails with "decode error".
  EXPECT_EQ(nullptr, PKCS12_item_decrypt_d2i(alg, &ASN1_OCTET_STRING_it, "pw", -1, oct, 0));
  EXPECT_EQ(ERR_PACK(ERR_LIB_PKCS12, PKCS12_F_PKCS12_ITEM_DECRYPT_D2I, PKCS12_R_DECODE_ERROR),
            ERR_peek_last_error());
  ERR_clear_error();
  ASN1_OCTET_STRING_free(oct);
  ASN1_INTEGER_free(v);
  X509_ALGOR_free(alg);
}

// A PrivateKeyInfo whose key octets need not be a real key for the round
// trip (RFC 5208, 5).
PKCS8_PRIV_KEY_INFO* SomeKeyInfo(Bytes* der) {
  *der = Seq({Int(0), Seq({FromHex("06092a864886f70d010101"), FromHex("0500")}),
              Der(0x04, FromHex("300d020100020101020101020101"))});
  const unsigned char* p = der->data();
  return d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, static_cast<long>(der->size()));
}

Bytes DerOf(PKCS8_PRIV_KEY_INFO* p8) {
  unsigned char* out = nullptr;
  const int n = i2d_PKCS8_PRIV_KEY_INFO(p8, &out);
  Bytes b(out, out + (n > 0 ? n : 0));
  MORVANE_free(out);
  return b;
}

TEST(Pkcs8Encrypt, EveryTableRowAndPbes2) {
  Morvane_add_all_ciphers();
  Bytes der;
  PKCS8_PRIV_KEY_INFO* p8 = SomeKeyInfo(&der);
  ASSERT_NE(nullptr, p8);
  // PBES1 rows of RFC 8018 and the six PKCS#12 rows.
  for (int nid : {9, 10, 68, 168, 169, 170, 144, 145, 146, 147, 148, 149}) {
    X509_SIG* enc = PKCS8_encrypt(nid, nullptr, "key pass", -1, nullptr, 0, 5, p8);
    ASSERT_NE(nullptr, enc) << nid << morvane_test::DrainErrors();
    EXPECT_EQ(nid, OBJ_obj2nid(enc->algor->algorithm));
    PKCS8_PRIV_KEY_INFO* back = PKCS8_decrypt(enc, "key pass", -1);
    ASSERT_NE(nullptr, back) << nid << morvane_test::DrainErrors();
    EXPECT_EQ(der, DerOf(back)) << nid;
    PKCS8_PRIV_KEY_INFO_free(back);
    X509_SIG_free(enc);
  }
  for (const EVP_CIPHER* c : {EVP_aes_128_cbc(), EVP_aes_256_cbc(), EVP_des_ede3_cbc()}) {
    X509_SIG* enc = PKCS8_encrypt(-1, c, "key pass", 8, nullptr, 0, 0, p8);
    ASSERT_NE(nullptr, enc) << morvane_test::DrainErrors();
    EXPECT_EQ(161, OBJ_obj2nid(enc->algor->algorithm));  // PBES2
    PKCS8_PRIV_KEY_INFO* back = PKCS8_decrypt(enc, "key pass", 8);
    ASSERT_NE(nullptr, back) << morvane_test::DrainErrors();
    EXPECT_EQ(der, DerOf(back));
    PKCS8_PRIV_KEY_INFO_free(back);
    // Another pass phrase does not give the key back.
    EXPECT_EQ(nullptr, PKCS8_decrypt(enc, "key pasS", 8));
    ERR_clear_error();
    X509_SIG_free(enc);
  }
  // A file whose PBKDF2 count is 2^31 - 1 (it held the reader for minutes)
  // is refused before any digest is finished.
  X509_SIG* enc = PKCS8_encrypt(-1, EVP_aes_128_cbc(), "key pass", -1, nullptr, 0, 1, p8);
  ASSERT_NE(nullptr, enc);
  X509_ALGOR_free(enc->algor);
  const Bytes kdf =
      Seq({FromHex("06092a864886f70d01050c"), Seq({Der(0x04, Bytes(8, 1)), Int(0x7FFFFFFF)})});
  enc->algor =
      AlgorOf(161, Seq({kdf, Seq({FromHex("0609608648016503040102"), Der(0x04, Bytes(16, 2))})}));
  {
    sha1_count::Sha1Counter sha1(100);
    EXPECT_EQ(nullptr, PKCS8_decrypt(enc, "key pass", -1));
    EXPECT_EQ(ERR_PACK(ERR_LIB_EVP, EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_ITERATION_COUNT_TOO_LARGE),
              ERR_peek_error());
    EXPECT_EQ(0, sha1.finals());
  }
  ERR_clear_error();
  X509_SIG_free(enc);
  PKCS8_PRIV_KEY_INFO_free(p8);
}

// With a NID and no iterations or salt: PBEPARAM with 2048 iterations and
// eight fresh salt bytes.
TEST(Pkcs8Encrypt, DefaultParameters) {
  Morvane_add_all_ciphers();
  Bytes der;
  PKCS8_PRIV_KEY_INFO* p8 = SomeKeyInfo(&der);
  X509_SIG* a = PKCS8_encrypt(146, nullptr, "p", 1, nullptr, 0, 0, p8);
  X509_SIG* b = PKCS8_encrypt(146, nullptr, "p", 1, nullptr, 0, 0, p8);
  ASSERT_NE(nullptr, a);
  ASSERT_NE(nullptr, b);
  ASSERT_EQ(ASN1_UT_SEQUENCE, a->algor->parameter->type);
  const ASN1_STRING* seq = a->algor->parameter->value.sequence;
  const unsigned char* p = seq->data;
  PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, seq->length);
  ASSERT_NE(nullptr, pbe);
  EXPECT_EQ(2048, ASN1_INTEGER_get(pbe->iter));
  EXPECT_EQ(8, pbe->salt->length);
  PBEPARAM_free(pbe);
  EXPECT_NE(0, ASN1_STRING_cmp(a->algor->parameter->value.sequence,
                               b->algor->parameter->value.sequence));
  X509_SIG_free(a);
  X509_SIG_free(b);
  // An unknown row fails in the encryption.
  EXPECT_EQ(nullptr, PKCS8_encrypt(6, nullptr, "p", 1, nullptr, 0, 1, p8));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PBE_CIPHERINIT, EVP_R_UNKNOWN_PBE_ALGORITHM,
                  "TYPE=rsaEncryption"},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_PBE_CRYPT,
                  PKCS12_R_PKCS12_ALGOR_CIPHERINIT_ERROR},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS12_ITEM_I2D_ENCRYPT, PKCS12_R_ENCRYPT_ERROR},
                 {ERR_LIB_PKCS12, PKCS12_F_PKCS8_ENCRYPT, PKCS12_R_ENCRYPT_ERROR}});
  PKCS8_PRIV_KEY_INFO_free(p8);
}

}  // namespace
