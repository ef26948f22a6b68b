// DSA signing and verification: the example of FIPS 186-2, Appendix 5, the
// refusals of the verifier, the DER wrappers, the envelope's DSS1 digest,
// and the mends: a nonce raised as a secret bits(q) + 1-bit exponent, new
// nonces for r or s of zero, and DER-only signatures.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/sha.h>

#include "dsa_test_util.h"
#include "pk_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using morvane_test::FromHex;
using pk_test::Bn;
using pk_test::Dsa;
using pk_test::Hex;
using pk_test::HexBn;
using pk_test::Sig;

constexpr int kDsa = ERR_LIB_DSA;

std::vector<uint8_t> Sha1(const std::string& msg) {
  std::vector<uint8_t> md(20);
  SHA1(reinterpret_cast<const unsigned char*>(msg.data()), msg.size(), md.data());
  return md;
}

// FIPS 186-2, Appendix 5: with the pair precomputed from k, SHA-1("abc")
// signs to the published (r, s), which verifies; y = g^x mod p.
TEST(DsaSign, Fips186Example) {
  const auto r = dsa_test::Fips186Example();
  Dsa dsa = dsa_test::Fips186Key(true);
  Bn y(BN_new()), k = HexBn(r.Get("k"));
  ASSERT_EQ(1, BN_mod_exp(y.get(), dsa->g, dsa->priv_key, dsa->p, pk_test::Ctx()));
  EXPECT_EQ(0, BN_cmp(y.get(), dsa->pub_key));
  const std::vector<uint8_t> md = Sha1(r.Get("msg"));
  EXPECT_EQ(r.Get("digest"), morvane_test::ToHex(md));
  // kinv = k^-1 mod q and r = (g^k mod p) mod q, as DSA_sign_setup stores them.
  dsa->kinv = BN_mod_inverse(nullptr, k.get(), dsa->q, pk_test::Ctx());
  EXPECT_EQ(pk_test::Canon(r.Get("kinv")), pk_test::ToHex(dsa->kinv));
  dsa->r = BN_new();
  ASSERT_EQ(1, BN_mod_exp(dsa->r, dsa->g, k.get(), dsa->p, pk_test::Ctx()));
  ASSERT_TRUE(BN_nnmod(dsa->r, dsa->r, dsa->q, pk_test::Ctx()));
  Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  EXPECT_EQ(nullptr, dsa->kinv);  // the pair is used once
  EXPECT_EQ(nullptr, dsa->r);
  EXPECT_EQ(pk_test::Canon(r.Get("r")), pk_test::ToHex(sig->r));
  EXPECT_EQ(pk_test::Canon(r.Get("s")), pk_test::ToHex(sig->s));
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  // The same through the DER wrappers, with a fresh nonce.
  unsigned char der[48];
  unsigned int len = 0;
  ASSERT_EQ(1, DSA_sign(0, md.data(), 20, der, &len, dsa.get()));
  EXPECT_LE(len, 48u);
  EXPECT_EQ(1, DSA_verify(0, md.data(), 20, der, static_cast<int>(len), dsa.get()));
  EXPECT_EQ(0, DSA_verify(0, Sha1("abd").data(), 20, der, static_cast<int>(len), dsa.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_VERIFY, ERR_R_BN_LIB}}));
}

TEST(DsaSign, FreshSignaturesVerify) {
  Dsa dsa = dsa_test::Fips186Key(true);
  for (int i = 0; i < 8; i++) {
    const std::vector<uint8_t> md = Sha1(std::string(static_cast<size_t>(i), 'm'));
    Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
    ASSERT_NE(nullptr, sig);
    EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  }
  // A precomputed pair from DSA_sign_setup serves the next signature.
  ASSERT_EQ(1, DSA_sign_setup(dsa.get(), nullptr, &dsa->kinv, &dsa->r));
  Bn r(BN_dup(dsa->r));
  const std::vector<uint8_t> md = Sha1("x");
  Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  EXPECT_EQ(0, BN_cmp(r.get(), sig->r));
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  // Shorter digests are numbers too.
  Sig short_sig(DSA_do_sign(md.data(), 7, dsa.get()));
  ASSERT_NE(nullptr, short_sig);
  EXPECT_EQ(1, DSA_do_verify(md.data(), 7, short_sig.get(), dsa.get()));
  // And with the plain exponentiation.
  dsa->flags |= DSA_FLAG_PLAIN_EXP;
  Sig plain(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, plain);
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, plain.get(), dsa.get()));
}

// r = (g^(m w) y^(r w) mod p) mod q with w = s^-1 mod q (FIPS 186-2, 4.7),
// in plain BIGNUM arithmetic, for subgroups DSA_do_verify does not take.
bool SatisfiesTheEquations(const DSA* dsa, const unsigned char* md, int n, const DSA_SIG* sig) {
  BN_CTX* ctx = pk_test::Ctx();
  Bn w(BN_mod_inverse(nullptr, sig->s, dsa->q, ctx)), m(BN_bin2bn(md, n, nullptr));
  Bn a(BN_new()), b(BN_new());
  return w != nullptr && BN_cmp(sig->r, dsa->q) < 0 && BN_cmp(sig->s, dsa->q) < 0 &&
         BN_mod_mul(m.get(), m.get(), w.get(), dsa->q, ctx) &&
         BN_mod_mul(w.get(), sig->r, w.get(), dsa->q, ctx) &&
         BN_mod_exp(a.get(), dsa->g, m.get(), dsa->p, ctx) &&
         BN_mod_exp(b.get(), dsa->pub_key, w.get(), dsa->p, ctx) &&
         BN_mod_mul(a.get(), a.get(), b.get(), dsa->p, ctx) &&
         BN_nnmod(a.get(), a.get(), dsa->q, ctx) && BN_cmp(a.get(), sig->r) == 0;
}

// The arithmetic modulo q runs on limbs, one product per limb count (1 to
// 8): groups around a q of 32 to 512 bits (1 to 16 words, an odd and an
// even word count for each limb count), p = 1 mod 2q of bits(q) + 160
// bits, g of order q, each with a key; their signatures of digests of 20
// bytes and of bytes(q) (at most the 50 the signer takes) satisfy the
// verification equations.
TEST(DsaSign, SubgroupsOfEveryLimbCount) {
  pk_test::DeterministicRandom random(67);
  BN_CTX* ctx = pk_test::Ctx();
  for (int qbits : {32, 64, 95, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, 449, 512}) {
    SCOPED_TRACE("q of " + std::to_string(qbits) + " bits");
    Dsa dsa(DSA_new());
    Bn two_q(BN_new()), e(BN_new()), h(BN_new());
    dsa->p = BN_new();
    dsa->q = BN_new();
    dsa->g = BN_new();
    ASSERT_EQ(1, BN_generate_prime_ex(dsa->q, qbits, 0, nullptr, nullptr, nullptr));
    ASSERT_EQ(1, BN_lshift1(two_q.get(), dsa->q));
    ASSERT_EQ(1, BN_generate_prime_ex(dsa->p, qbits + 160, 0, two_q.get(), nullptr, nullptr));
    ASSERT_EQ(1, BN_sub(e.get(), dsa->p, BN_value_one()));
    ASSERT_EQ(1, BN_div(e.get(), nullptr, e.get(), dsa->q, ctx));
    ASSERT_EQ(1, BN_set_word(h.get(), 2));
    ASSERT_EQ(1, BN_mod_exp(dsa->g, h.get(), e.get(), dsa->p, ctx));
    ASSERT_FALSE(BN_is_one(dsa->g));
    ASSERT_EQ(1, DSA_generate_key(dsa.get()));
    const int qbytes = BN_num_bytes(dsa->q);
    for (int len : {qbytes < 20 ? qbytes : 20, qbytes < 50 ? qbytes : 50}) {
      for (int i = 0; i < 2; i++) {
        unsigned char md[64];
        SHA512(reinterpret_cast<const unsigned char*>(&i), sizeof i, md);
        Sig sig(DSA_do_sign(md, len, dsa.get()));
        ASSERT_NE(nullptr, sig);
        EXPECT_TRUE(SatisfiesTheEquations(dsa.get(), md, len, sig.get()));
      }
    }
  }
}

TEST(DsaSign, Refusals) {
  Dsa dsa = dsa_test::Fips186Key(true);
  unsigned char big[64] = {1};
  EXPECT_EQ(nullptr, DSA_do_sign(big, 21, dsa.get()));  // more than bytes(q)
  // 51 bytes are refused whatever q.
  BN_set_bit(dsa->q, 1023);
  EXPECT_EQ(nullptr, DSA_do_sign(big, 51, dsa.get()));
  EXPECT_EQ(nullptr, DSA_do_sign(big, -1, dsa.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_SIGN, DSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                         {kDsa, DSA_F_DSA_DO_SIGN, DSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                         {kDsa, DSA_F_DSA_DO_SIGN, DSA_R_INVALID_DIGEST_LENGTH}}));
  unsigned char sig[64];
  unsigned int len = 99;
  EXPECT_EQ(0, DSA_sign(0, big, 51, sig, &len, dsa.get()));
  EXPECT_EQ(0u, len);
  EXPECT_EQ(0, DSA_sign(0, big, -1, sig, &len, dsa.get()));
  DSA_SIG* none = DSA_SIG_new();
  EXPECT_EQ(-1, DSA_do_verify(big, -1, none, dsa.get()));
  DSA_SIG_free(none);
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_SIGN, DSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE},
                         {kDsa, DSA_F_DSA_DO_SIGN, DSA_R_INVALID_DIGEST_LENGTH},
                         {kDsa, DSA_F_DSA_DO_VERIFY, DSA_R_INVALID_DIGEST_LENGTH}}));
  Dsa empty(DSA_new());
  EXPECT_EQ(nullptr, DSA_do_sign(big, 20, empty.get()));
  BIGNUM *kinv = nullptr, *r = nullptr;
  EXPECT_EQ(0, DSA_sign_setup(empty.get(), nullptr, &kinv, &r));
  Sig s0(DSA_SIG_new());
  EXPECT_EQ(-1, DSA_do_verify(big, 20, s0.get(), empty.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_SIGN, DSA_R_MISSING_PARAMETERS},
                         {kDsa, DSA_F_DSA_SIGN_SETUP, DSA_R_MISSING_PARAMETERS},
                         {kDsa, DSA_F_DSA_DO_VERIFY, DSA_R_MISSING_PARAMETERS}}));
}

// Verification needs a 160-bit q and at most 10000 bits of p; r and s in
// [1, q - 1].
TEST(DsaVerify, RefusesBadKeysAndOutOfRangeValues) {
  Dsa dsa = dsa_test::Fips186Key(true);
  const std::vector<uint8_t> md = Sha1("abc");
  Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  // A 1024-bit p with a 159-bit q.
  Dsa odd(DSA_new());
  odd->p = BN_new();
  BN_set_bit(odd->p, 1023);
  BN_set_bit(odd->p, 0);
  odd->q = BN_new();
  BN_set_bit(odd->q, 158);
  odd->g = HexBn("2").release();
  odd->pub_key = HexBn("3").release();
  EXPECT_EQ(-1, DSA_do_verify(md.data(), 20, sig.get(), odd.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_VERIFY, DSA_R_BAD_Q_VALUE}}));
  BN_set_bit(odd->q, 159);
  BN_set_bit(odd->p, DSA_MAX_MODULUS_BITS);
  EXPECT_EQ(-1, DSA_do_verify(md.data(), 20, sig.get(), odd.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_VERIFY, DSA_R_MODULUS_TOO_LARGE}}));
  struct {
    const char* name;
    BIGNUM* r;
    BIGNUM* s;
  } const cases[] = {{"s = 0", BN_dup(sig->r), BN_new()},
                     {"r = q", BN_dup(dsa->q), BN_dup(sig->s)},
                     {"r = 0", BN_new(), BN_dup(sig->s)},
                     {"s = q + s", BN_dup(sig->r), BN_new()},
                     {"r negative", BN_dup(sig->r), BN_dup(sig->s)}};
  BN_add(cases[3].s, dsa->q, sig->s);
  BN_set_negative(cases[4].r, 1);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Sig bad(DSA_SIG_new());
    bad->r = c.r;
    bad->s = c.s;
    EXPECT_EQ(0, DSA_do_verify(md.data(), 20, bad.get(), dsa.get()));
    EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_VERIFY, ERR_R_BN_LIB}}));
  }
}

// A g or y under which anyone can sign: a signature made without the
// private key that the verification equation accepts ((r, s) from y^z, or
// g^z, for z = 1 to 40, over the digest, all zero where g^u1 must be 1) is
// refused for the key, not the signature: g or y of 0, 1, p - 1 (of order
// 2, under which half such signatures verify), p, or another order than q.
TEST(DsaVerify, RefusesGAndYUnderWhichAnyoneCanSign) {
  struct Case {
    const char* name;
    const char* g;  // "p", "p-1": from p; null: the example's
    const char* y;  // as g
    bool zero_digest;
    int reason;
  };
  const Case cases[] = {{"g = 0", "0", nullptr, true, DSA_R_BAD_G_VALUE},
                        {"g = 1", "1", nullptr, false, DSA_R_BAD_G_VALUE},
                        {"g = p", "p", nullptr, true, DSA_R_BAD_G_VALUE},
                        {"g = p - 1", "p-1", nullptr, true, DSA_R_BAD_G_VALUE},
                        {"g of another order", "2", nullptr, true, DSA_R_BAD_G_VALUE},
                        {"y = 1", nullptr, "1", false, DSA_R_BAD_PUBLIC_KEY},
                        {"y = p - 1", nullptr, "p-1", false, DSA_R_BAD_PUBLIC_KEY},
                        {"y of another order", nullptr, "2", false, DSA_R_BAD_PUBLIC_KEY}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Dsa dsa = dsa_test::Fips186Key(true);
    auto set = [&](BIGNUM* to, const std::string& v) {
      BN_copy(to, v[0] == 'p' ? dsa->p : HexBn(v.c_str()).get());
      if (v == "p-1") BN_sub_word(to, 1);
    };
    if (c.g != nullptr) set(dsa->g, c.g);
    if (c.y != nullptr) set(dsa->pub_key, c.y);
    std::vector<uint8_t> md = Sha1("abc");
    if (c.zero_digest) md.assign(20, 0);
    int refused = 0;
    for (int k = 1; k <= 40; k++) {
      Bn h(BN_bin2bn(md.data(), 20, nullptr)), z(BN_new()), t(BN_new());
      BN_set_word(z.get(), static_cast<unsigned>(k));
      BN_CTX* bn = BN_CTX_new();
      Sig forged(DSA_SIG_new());
      forged->r = BN_new();
      forged->s = BN_new();
      // y degenerate: r = g^z, s = h / z; otherwise (g^u1 = 1): r = y^z, s = r / z.
      const bool y_odd = c.y != nullptr;
      BN_mod_exp(t.get(), y_odd ? dsa->g : dsa->pub_key, z.get(), dsa->p, bn);
      BN_nnmod(forged->r, t.get(), dsa->q, bn);
      BN_mod_inverse(t.get(), z.get(), dsa->q, bn);
      BN_mod_mul(forged->s, y_odd ? h.get() : forged->r, t.get(), dsa->q, bn);
      BN_CTX_free(bn);
      if (DSA_do_verify(md.data(), 20, forged.get(), dsa.get()) == -1 &&
          ErrorsAre({{kDsa, DSA_F_DSA_DO_VERIFY, c.reason}}))
        refused++;
    }
    EXPECT_EQ(40, refused);
  }
}

// The order of g and y is found once for the key's values: values changed
// in place after a verification are checked again.
TEST(DsaVerify, ValuesChangedAfterAVerificationAreCheckedAgain) {
  Dsa dsa = dsa_test::Fips186Key(true);
  const std::vector<uint8_t> md = Sha1("abc");
  Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  Bn g(BN_dup(dsa->g));
  BN_copy(dsa->g, dsa->p);
  BN_sub_word(dsa->g, 1);
  EXPECT_EQ(-1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_VERIFY, DSA_R_BAD_G_VALUE}}));
  BN_copy(dsa->g, g.get());
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
}

// DSA_verify takes only the DER encoding of a DSA_SIG filling siglen.
TEST(DsaVerify, OnlyDer) {
  Dsa dsa = dsa_test::Fips186Key(true);
  const std::vector<uint8_t> md = Sha1("abc");
  unsigned char der[48];
  unsigned int len = 0;
  ASSERT_EQ(1, DSA_sign(0, md.data(), 20, der, &len, dsa.get()));
  const std::vector<uint8_t> good(der, der + len);
  ASSERT_EQ(0x30, good[0]);
  ASSERT_LT(good[1], 0x80);
  std::vector<uint8_t> trailing = good;
  trailing.push_back(0);
  std::vector<uint8_t> long_form = {0x30, 0x81};  // BER: a long form for a short length
  long_form.insert(long_form.end(), good.begin() + 1, good.end());
  std::vector<uint8_t> indefinite = {0x30, 0x80};
  indefinite.insert(indefinite.end(), good.begin() + 2, good.end());
  indefinite.push_back(0);
  indefinite.push_back(0);
  std::vector<uint8_t> padded_r = {0x30, static_cast<uint8_t>(good[1] + 1), 0x02,
                                   static_cast<uint8_t>(good[3] + 1), 0x00};
  padded_r.insert(padded_r.end(), good.begin() + 4, good.end());  // r with a needless zero
  std::vector<uint8_t> junk = {0x04, 0x02, 0x01, 0x02};
  for (const auto* bytes : {&trailing, &long_form, &indefinite, &padded_r, &junk}) {
    EXPECT_EQ(-1, DSA_verify(0, md.data(), 20, bytes->data(), static_cast<int>(bytes->size()),
                             dsa.get()));
    ERR_clear_error();
  }
  EXPECT_EQ(-1, DSA_verify(0, md.data(), 20, good.data(), -1, dsa.get()));
  EXPECT_EQ(-1, DSA_verify(0, md.data(), 20, good.data(), static_cast<int>(len) - 1, dsa.get()));
  ERR_clear_error();
  EXPECT_EQ(1, DSA_verify(0, md.data(), 20, good.data(), static_cast<int>(len), dsa.get()));
  EXPECT_TRUE(ErrorsAre({}));
}

// ---- the mends -------------------------------------------------------------------

// The signing setup raises g to K = k + q or k + 2q, a secret-marked number
// of bits(q) + 1 bits; with DSA_FLAG_PLAIN_EXP, to k itself.
std::vector<int> g_exponent_bits;
std::vector<bool> g_exponent_secret;
int RecordingModExp(DSA*, BIGNUM* r, BIGNUM* a, const BIGNUM* p, const BIGNUM* m, BN_CTX* ctx,
                    BN_MONT_CTX* m_ctx) {
  g_exponent_bits.push_back(BN_num_bits(p));
  g_exponent_secret.push_back(BN_get_flags(p, BN_FLAG_SECRET) != 0);
  return BN_mod_exp_mont(r, a, p, m, ctx, m_ctx);
}

TEST(DsaMends, NonceIsASecretExponentOfFixedLength) {
  DSA_METHOD m = *DSA_Morvane();
  m.bn_mod_exp = RecordingModExp;
  Dsa dsa = dsa_test::Fips186Key(true);
  DSA_set_method(dsa.get(), &m);
  const std::vector<uint8_t> md = Sha1("abc");
  for (int i = 0; i < 16; i++) {
    Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
    ASSERT_NE(nullptr, sig);
    EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  }
  ASSERT_EQ(16u, g_exponent_bits.size());
  for (size_t i = 0; i < 16; i++) {
    EXPECT_EQ(161, g_exponent_bits[i]);
    EXPECT_TRUE(g_exponent_secret[i]);
  }
  dsa->flags |= DSA_FLAG_PLAIN_EXP;
  Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  EXPECT_LE(g_exponent_bits.back(), 160);
  EXPECT_FALSE(g_exponent_secret.back());
}

// A setup that gives r = 0 once: the signer draws a new nonce.
int g_setups = 0;
int ZeroROnce(DSA* dsa, BN_CTX* ctx, BIGNUM** kinvp, BIGNUM** rp) {
  if (g_setups++ == 0) {
    BN_clear_free(*kinvp);
    BN_free(*rp);
    *kinvp = HexBn("1").release();
    *rp = BN_new();
    return 1;
  }
  return DSA_Morvane()->dsa_sign_setup(dsa, ctx, kinvp, rp);
}

TEST(DsaMends, ZeroRDrawsANewNonce) {
  DSA_METHOD m = *DSA_Morvane();
  m.dsa_sign_setup = ZeroROnce;
  Dsa dsa = dsa_test::Fips186Key(true);
  DSA_set_method(dsa.get(), &m);
  const std::vector<uint8_t> md = Sha1("abc");
  Sig sig(DSA_do_sign(md.data(), 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  EXPECT_EQ(2, g_setups);
  EXPECT_FALSE(BN_is_zero(sig->r));
  EXPECT_EQ(1, DSA_do_verify(md.data(), 20, sig.get(), dsa.get()));
  EXPECT_TRUE(ErrorsAre({}));
}

// A precomputed pair that makes r or s zero cannot be replaced: "BN lib".
TEST(DsaMends, ZeroWithPrecomputedPairFails) {
  Dsa dsa = dsa_test::Fips186Key(true);
  const std::vector<uint8_t> md = Sha1("abc");
  dsa->kinv = HexBn("1").release();
  dsa->r = BN_new();  // r = 0
  EXPECT_EQ(nullptr, DSA_do_sign(md.data(), 20, dsa.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_SIGN, ERR_R_BN_LIB}}));
  EXPECT_EQ(nullptr, dsa->kinv);
  // s = kinv (m + x r) = 0 for m = q - x and r = 1.
  Bn m(BN_new());
  ASSERT_TRUE(BN_sub(m.get(), dsa->q, dsa->priv_key));
  unsigned char digest[20] = {};
  BN_bn2bin(m.get(), digest + 20 - BN_num_bytes(m.get()));
  dsa->kinv = HexBn("5").release();
  dsa->r = HexBn("1").release();
  EXPECT_EQ(nullptr, DSA_do_sign(digest, 20, dsa.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_DO_SIGN, ERR_R_BN_LIB}}));
  // Without a precomputed pair the same digest signs.
  Sig sig(DSA_do_sign(digest, 20, dsa.get()));
  ASSERT_NE(nullptr, sig);
  EXPECT_EQ(1, DSA_do_verify(digest, 20, sig.get(), dsa.get()));
}

// ---- the envelope ----------------------------------------------------------------

TEST(DsaEvp, Dss1SignsAndVerifies) {
  Dsa dsa = dsa_test::Fips186Key(true);
  EVP_PKEY* pkey = EVP_PKEY_new();
  ASSERT_EQ(1, EVP_PKEY_set1_DSA(pkey, dsa.get()));
  EXPECT_EQ(48, EVP_PKEY_size(pkey));
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_DigestInit_ex(&ctx, EVP_dss1(), nullptr));
  ASSERT_EQ(1, EVP_DigestUpdate(&ctx, "abc", 3));
  unsigned char sig[48];
  unsigned int len = 0;
  ASSERT_EQ(1, EVP_SignFinal(&ctx, sig, &len, pkey));
  ASSERT_EQ(1, EVP_DigestInit_ex(&ctx, EVP_dss1(), nullptr));
  ASSERT_EQ(1, EVP_DigestUpdate(&ctx, "abc", 3));
  EXPECT_EQ(1, EVP_VerifyFinal(&ctx, sig, len, pkey));
  // The digest is SHA-1: DSA_verify of SHA-1("abc") accepts it too.
  EXPECT_EQ(1, DSA_verify(0, Sha1("abc").data(), 20, sig, static_cast<int>(len), dsa.get()));
  EVP_MD_CTX_cleanup(&ctx);
  EVP_PKEY_free(pkey);
}

}  // namespace
