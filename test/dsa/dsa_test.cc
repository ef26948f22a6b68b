// The DSA key, its method, parameter and key generation, DSA_size,
// DSA_dup_DH and the DER forms of keys, parameters and signatures.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/err.h>

#include "dsa_test_util.h"
#include "pk_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using morvane_test::FromHex;
using pk_test::Bn;
using pk_test::Dsa;
using pk_test::HexBn;

constexpr int kDsa = ERR_LIB_DSA;

TEST(DsaKey, NewKeyHasTheBuiltInMethod) {
  Dsa dsa(DSA_new());
  ASSERT_NE(nullptr, dsa);
  EXPECT_EQ(DSA_Morvane(), dsa->meth);
  EXPECT_EQ(DSA_Morvane(), DSA_get_default_method());
  EXPECT_STREQ("Morvane DSA method", dsa->meth->name);
  EXPECT_EQ(DSA_FLAG_MONT_P_CACHED, dsa->flags);
  EXPECT_EQ(1, dsa->write_params);
  EXPECT_EQ(0, dsa->version);
  EXPECT_EQ(1, dsa->references);
  for (BIGNUM* b : {dsa->p, dsa->q, dsa->g, dsa->pub_key, dsa->priv_key, dsa->kinv, dsa->r})
    EXPECT_EQ(nullptr, b);
  EXPECT_EQ(0, DSA_size(dsa.get()));
  DSA_free(nullptr);
}

TEST(DsaKey, MethodOnlyFlagIsNotCopied) {
  DSA_METHOD m = *DSA_Morvane();
  m.flags = DSA_FLAG_METHOD_ONLY | DSA_FLAG_PLAIN_EXP;
  m.init = nullptr;
  DSA_set_default_method(&m);
  Dsa dsa(DSA_new());
  DSA_set_default_method(DSA_Morvane());
  EXPECT_EQ(DSA_FLAG_PLAIN_EXP, dsa->flags);
  EXPECT_EQ(&m, dsa->meth);
  EXPECT_EQ(1, DSA_set_method(dsa.get(), DSA_Morvane()));
  EXPECT_EQ(DSA_FLAG_PLAIN_EXP | DSA_FLAG_MONT_P_CACHED, dsa->flags);
}

TEST(DsaKey, ReferencesTakeLock8) {
  morvane_test::InstallLockingCallback();
  DSA* dsa = DSA_new();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(1, DSA_up_ref(dsa));
  DSA_free(dsa);
  const auto events = morvane_test::StopRecordingLocks({CRYPTO_LOCK_DSA});
  using morvane_test::WriteLock;
  using morvane_test::WriteUnlock;
  EXPECT_EQ((std::vector<morvane_test::LockEvent>{WriteLock(CRYPTO_LOCK_DSA),
                                                   WriteUnlock(CRYPTO_LOCK_DSA),
                                                   WriteLock(CRYPTO_LOCK_DSA),
                                                   WriteUnlock(CRYPTO_LOCK_DSA)}),
            events);
  EXPECT_EQ(1, dsa->references);
  DSA_free(dsa);
}

TEST(DsaKey, ExtraDataOfClass7) {
  const int idx = DSA_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_GE(idx, 0);
  EXPECT_EQ(idx + 1, CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DSA, 0, nullptr, nullptr, nullptr,
                                             nullptr));
  Dsa dsa(DSA_new());
  int value = 3;
  EXPECT_EQ(1, DSA_set_ex_data(dsa.get(), idx, &value));
  EXPECT_EQ(&value, DSA_get_ex_data(dsa.get(), idx));
}

TEST(DsaKey, SizeOfA160BitQ) {
  Dsa dsa = dsa_test::Fips186Key(false);
  EXPECT_EQ(48, DSA_size(dsa.get()));
  BN_set_bit(dsa->q, 255);  // 256 bits: 2 (2 + 33) + 2
  EXPECT_EQ(72, DSA_size(dsa.get()));
}

// ---- parameter generation --------------------------------------------------

struct Params {
  std::string p, q, g;
  int counter = -1;
  unsigned long h = 0;
};

Params Generate(int bits, unsigned char* seed, int seed_len, uint64_t random_seed) {
  pk_test::DeterministicRandom rnd(random_seed);
  Dsa dsa(DSA_new());
  Params out;
  EXPECT_EQ(1, DSA_generate_parameters_ex(dsa.get(), bits, seed, seed_len, &out.counter,
                                          &out.h, nullptr));
  if (dsa->p == nullptr) return out;
  out.p = pk_test::ToHex(dsa->p);
  out.q = pk_test::ToHex(dsa->q);
  out.g = pk_test::ToHex(dsa->g);
  EXPECT_EQ(160, BN_num_bits(dsa->q));
  return out;
}

TEST(DsaParams, BitsAreRoundedUp) {
  for (auto [bits, want] : {std::pair{300, 512}, std::pair{513, 576}}) {
    SCOPED_TRACE(bits);
    pk_test::DeterministicRandom rnd(static_cast<uint64_t>(bits));
    Dsa dsa(DSA_new());
    ASSERT_EQ(1, DSA_generate_parameters_ex(dsa.get(), bits, nullptr, 0, nullptr, nullptr,
                                            nullptr));
    EXPECT_EQ(want, BN_num_bits(dsa->p));
    // q divides p - 1 and g has order q.
    Bn rem(BN_new()), t(BN_dup(dsa->p));
    BN_sub_word(t.get(), 1);
    ASSERT_TRUE(BN_div(nullptr, rem.get(), t.get(), dsa->q, pk_test::Ctx()));
    EXPECT_TRUE(BN_is_zero(rem.get()));
    ASSERT_EQ(1, BN_mod_exp(t.get(), dsa->g, dsa->q, dsa->p, pk_test::Ctx()));
    EXPECT_TRUE(BN_is_one(t.get()));
    EXPECT_EQ(1, BN_is_prime_ex(dsa->p, 0, nullptr, nullptr));
    EXPECT_EQ(1, BN_is_prime_ex(dsa->q, 0, nullptr, nullptr));
  }
}

TEST(DsaParams, SeedMakesItReproducible) {
  // A seed whose first candidate q is prime (FIPS 186-2, Appendix 5), under
  // two different random generators.
  std::vector<uint8_t> seed = FromHex(dsa_test::Fips186Example().Get("seed"));
  const Params a = Generate(512, seed.data(), 20, 1), b = Generate(512, seed.data(), 20, 2);
  EXPECT_EQ(a.p, b.p);
  EXPECT_EQ(a.q, b.q);
  EXPECT_EQ(a.g, b.g);
  EXPECT_EQ(a.counter, b.counter);
  EXPECT_EQ(a.h, b.h);
  // More than 20 bytes: the first 20 are taken.
  seed.resize(32, 0xEE);
  const Params c = Generate(512, seed.data(), 32, 3);
  EXPECT_EQ(a.p, c.p);
  EXPECT_EQ(a.counter, c.counter);
}

TEST(DsaParams, ShortSeedIsIgnored) {
  unsigned char seed[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  const Params a = Generate(512, seed, 10, 5), b = Generate(512, nullptr, 0, 5);
  EXPECT_EQ(a.p, b.p);
  EXPECT_EQ(a.q, b.q);
  EXPECT_EQ(a.counter, b.counter);
}

// With seed_len 0 the seed found comes back (dsa.h: the buffer holds 20
// bytes), and it reproduces the parameters.
TEST(DsaParams, SeedIsWrittenBackForLengthZero) {
  unsigned char seed[20] = {};
  const Params a = Generate(512, seed, 0, 11);
  EXPECT_NE(std::vector<unsigned char>(20, 0), std::vector<unsigned char>(seed, seed + 20));
  const Params b = Generate(512, seed, 20, 12);
  EXPECT_EQ(a.p, b.p);
  EXPECT_EQ(a.g, b.g);
  EXPECT_EQ(a.counter, b.counter);
}

// FIPS 186-2, Appendix 5: the seed and L = 512 give counter 105, h 2 and
// the published p, q, g.
TEST(DsaParams, Fips186Example) {
  const auto r = dsa_test::Fips186Example();
  std::vector<uint8_t> seed = FromHex(r.Get("seed"));
  const Params got = Generate(std::stoi(r.Get("L")), seed.data(), 20, 3);
  EXPECT_EQ(pk_test::Canon(r.Get("p")), got.p);
  EXPECT_EQ(pk_test::Canon(r.Get("q")), got.q);
  EXPECT_EQ(pk_test::Canon(r.Get("g")), got.g);
  EXPECT_EQ(std::stoi(r.Get("counter")), got.counter);
  EXPECT_EQ(std::stoul(r.Get("h")), got.h);
}

TEST(DsaParams, RefusalsAndStops) {
  Dsa dsa(DSA_new());
  EXPECT_EQ(0, DSA_generate_parameters_ex(dsa.get(), DSA_MAX_MODULUS_BITS + 1, nullptr, 0,
                                          nullptr, nullptr, nullptr));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_BUILTIN_PARAMGEN, DSA_R_MODULUS_TOO_LARGE}}));
  BN_GENCB stop;
  stop.ver = 2;
  stop.arg = nullptr;
  stop.cb.cb_2 = [](int, int, BN_GENCB*) { return 0; };
  EXPECT_EQ(0, DSA_generate_parameters_ex(dsa.get(), 512, nullptr, 0, nullptr, nullptr, &stop));
  EXPECT_EQ(nullptr, dsa->p);
  static int calls = 0;
  pk_test::DeterministicRandom rnd(4);
  DSA* old = DSA_generate_parameters(
      512, nullptr, 0, nullptr, nullptr, [](int, int, void*) { ++calls; }, nullptr);
  ASSERT_NE(nullptr, old);
  EXPECT_GT(calls, 0);
  DSA_free(old);
}

// ---- keys ----------------------------------------------------------------------

TEST(DsaKeys, GeneratedKeyMatches) {
  Dsa dsa = dsa_test::Fips186Key(false);
  ASSERT_EQ(1, DSA_generate_key(dsa.get()));
  EXPECT_FALSE(BN_is_zero(dsa->priv_key));
  EXPECT_LT(BN_cmp(dsa->priv_key, dsa->q), 0);
  EXPECT_FALSE(BN_get_flags(dsa->priv_key, BN_FLAG_SECRET));
  Bn y(BN_new());
  ASSERT_EQ(1, BN_mod_exp(y.get(), dsa->g, dsa->priv_key, dsa->p, pk_test::Ctx()));
  EXPECT_EQ(0, BN_cmp(y.get(), dsa->pub_key));
  Dsa empty(DSA_new());
  EXPECT_EQ(0, DSA_generate_key(empty.get()));
  EXPECT_TRUE(ErrorsAre({{kDsa, DSA_F_DSA_BUILTIN_KEYGEN, DSA_R_MISSING_PARAMETERS}}));
}

TEST(DsaKeys, DupDhOfParameters) {
  Dsa dsa = dsa_test::Fips186Key(false);
  DH* dh = DSA_dup_DH(dsa.get());
  ASSERT_NE(nullptr, dh);
  EXPECT_EQ(0, BN_cmp(dh->p, dsa->p));
  EXPECT_EQ(0, BN_cmp(dh->g, dsa->g));
  EXPECT_EQ(0, BN_cmp(dh->q, dsa->q));  // so DH_compute_key checks the subgroup
  EXPECT_EQ(160, dh->length);
  EXPECT_EQ(nullptr, dh->pub_key);
  EXPECT_EQ(nullptr, dh->priv_key);
  // A converted group refuses a peer outside the subgroup of order q.
  ASSERT_EQ(1, DH_generate_key(dh));
  EXPECT_EQ(160, BN_num_bits(dh->priv_key));
  Bn outside = HexBn("3");
  unsigned char key[64];
  EXPECT_EQ(-1, DH_compute_key(key, outside.get(), dh));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_DH, DH_F_COMPUTE_KEY, DH_R_INVALID_PUBLIC_KEY}}));
  DH_free(dh);
  Dsa full = dsa_test::Fips186Key(true);
  dh = DSA_dup_DH(full.get());
  ASSERT_NE(nullptr, dh);
  EXPECT_EQ(0, BN_cmp(dh->priv_key, full->priv_key));
  EXPECT_EQ(0, BN_cmp(dh->pub_key, full->pub_key));
  DH_free(dh);
  EXPECT_EQ(nullptr, DSA_dup_DH(nullptr));
}

// ---- DER -----------------------------------------------------------------------

std::string Der(int (*i2d)(DSA*, unsigned char**), DSA* dsa) {
  unsigned char* der = nullptr;
  const int n = i2d(dsa, &der);
  std::string out = n > 0 ? morvane_test::ToHex(der, static_cast<size_t>(n)) : "";
  MORVANE_free(der);
  return out;
}

TEST(DsaDer, KeysAndParametersRoundTrip) {
  Dsa dsa = dsa_test::Fips186Key(true);
  const std::string priv = Der(i2d_DSAPrivateKey, dsa.get());
  const std::string params = Der(i2d_DSAparams, dsa.get());
  const std::string pub = Der(i2d_DSAPublicKey, dsa.get());
  dsa->write_params = 0;
  const std::string bare = Der(i2d_DSAPublicKey, dsa.get());
  EXPECT_EQ("0240", bare.substr(0, 4));  // the bare INTEGER y
  EXPECT_EQ("30", pub.substr(0, 2));
  EXPECT_EQ("3081f7020100", priv.substr(0, 12));  // version 0 first
  struct Form {
    const char* name;
    std::string der;
    DSA* (*d2i)(DSA**, const unsigned char**, long);
    int (*i2d)(DSA*, unsigned char**);
    int write_params;
  } const forms[] = {{"private", priv, d2i_DSAPrivateKey, i2d_DSAPrivateKey, 1},
                     {"params", params, d2i_DSAparams, i2d_DSAparams, 1},
                     {"public", pub, d2i_DSAPublicKey, i2d_DSAPublicKey, 1},
                     {"bare public", bare, d2i_DSAPublicKey, i2d_DSAPublicKey, 0}};
  for (const Form& f : forms) {
    SCOPED_TRACE(f.name);
    const auto bytes = FromHex(f.der);
    const unsigned char* in = bytes.data();
    Dsa back(f.d2i(nullptr, &in, static_cast<long>(bytes.size())));
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(bytes.data() + bytes.size(), in);
    EXPECT_EQ(DSA_Morvane(), back->meth);
    EXPECT_EQ(f.write_params, back->write_params);
    EXPECT_EQ(f.der, Der(f.i2d, back.get()));
  }
  EXPECT_TRUE(ErrorsAre({}));
}

TEST(DsaDer, SignatureRoundTripAndRefusals) {
  const auto good = FromHex("3006020101020102");
  const unsigned char* in = good.data();
  pk_test::Sig sig(d2i_DSA_SIG(nullptr, &in, static_cast<long>(good.size())));
  ASSERT_NE(nullptr, sig);
  EXPECT_TRUE(BN_is_one(sig->r));
  EXPECT_TRUE(BN_is_word(sig->s, 2));
  unsigned char* der = nullptr;
  EXPECT_EQ(8, i2d_DSA_SIG(sig.get(), &der));
  MORVANE_free(der);
  pk_test::Sig fresh(DSA_SIG_new());
  ASSERT_NE(nullptr, fresh);
  EXPECT_EQ(nullptr, fresh->r);
  EXPECT_EQ(nullptr, fresh->s);
  DSA_SIG_free(nullptr);
  for (const char* bad : {"30030201010201", "3003020101", "020101"}) {
    const auto b = FromHex(std::string(bad) + (std::strlen(bad) % 2 ? "0" : ""));
    in = b.data();
    EXPECT_EQ(nullptr, d2i_DSA_SIG(nullptr, &in, static_cast<long>(b.size()))) << bad;
  }
  ERR_clear_error();
}

}  // namespace
