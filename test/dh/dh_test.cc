// The Diffie-Hellman key, its method, parameter generation, the checks, key
// generation, the shared secret and the DER form of the parameters.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/err.h>

#include "pk_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using morvane_test::FromHex;
using morvane_test::ReadRsp;
using morvane_test::TestDataFile;
using pk_test::Bn;
using pk_test::Dh;
using pk_test::Hex;
using pk_test::HexBn;

constexpr int kDh = ERR_LIB_DH;

// The 2048-bit MODP group of RFC 3526, section 3 (test/data/dh/rfc3526.txt).
Dh Rfc3526Group() {
  const auto recs = ReadRsp(TestDataFile("dh/rfc3526.txt"));
  EXPECT_EQ(1u, recs.size());
  Dh dh(DH_new());
  dh->p = Hex(recs.at(0).Get("p"));
  dh->g = Hex(recs.at(0).Get("g"));
  return dh;
}

// A key over p and g given in hex.
Dh Group(const char* p, const char* g) {
  Dh dh(DH_new());
  dh->p = Hex(p);
  dh->g = Hex(g);
  return dh;
}

TEST(DhKey, NewKeyHasTheBuiltInMethod) {
  Dh dh(DH_new());
  ASSERT_NE(nullptr, dh);
  EXPECT_EQ(DH_Morvane(), dh->meth);
  EXPECT_EQ(DH_Morvane(), DH_get_default_method());
  EXPECT_STREQ("Morvane DH Method", dh->meth->name);
  EXPECT_EQ(DH_FLAG_MONT_P_CACHED, dh->flags);  // set by the method's init
  EXPECT_EQ(1, dh->references);
  EXPECT_EQ(0, dh->length);
  for (BIGNUM* b : {dh->p, dh->g, dh->pub_key, dh->priv_key, dh->q, dh->j, dh->counter})
    EXPECT_EQ(nullptr, b);
  EXPECT_EQ(nullptr, dh->engine);
  EXPECT_EQ(0, DH_size(dh.get()));
  DH_free(nullptr);
}

TEST(DhKey, ReferencesTakeLock26) {
  morvane_test::InstallLockingCallback();
  DH* dh = DH_new();
  morvane_test::StartRecordingLocks();
  EXPECT_EQ(1, DH_up_ref(dh));
  DH_free(dh);
  EXPECT_EQ(1, dh->references);
  const auto events = morvane_test::StopRecordingLocks({CRYPTO_LOCK_DH});
  using morvane_test::WriteLock;
  using morvane_test::WriteUnlock;
  EXPECT_EQ((std::vector<morvane_test::LockEvent>{WriteLock(CRYPTO_LOCK_DH),
                                                   WriteUnlock(CRYPTO_LOCK_DH),
                                                   WriteLock(CRYPTO_LOCK_DH),
                                                   WriteUnlock(CRYPTO_LOCK_DH)}),
            events);
  DH_free(dh);
}

int g_freed = 0;
TEST(DhKey, ExtraDataOfClass8) {
  const int idx = DH_get_ex_new_index(
      0, nullptr, nullptr, nullptr,
      [](void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) { g_freed += ptr != nullptr; });
  ASSERT_GE(idx, 0);
  EXPECT_EQ(idx + 1, CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_DH, 0, nullptr, nullptr, nullptr,
                                             nullptr));
  DH* dh = DH_new();
  int value = 7;
  EXPECT_EQ(1, DH_set_ex_data(dh, idx, &value));
  EXPECT_EQ(&value, DH_get_ex_data(dh, idx));
  DH_free(dh);
  EXPECT_EQ(1, g_freed);
}

TEST(DhKey, SetMethodRunsFinishAndInit) {
  static int inits = 0, finishes = 0;
  DH_METHOD m = *DH_Morvane();
  m.init = [](DH*) { return ++inits, 1; };
  m.finish = [](DH*) { return ++finishes, 1; };
  Dh dh(DH_new());
  EXPECT_EQ(1, DH_set_method(dh.get(), &m));
  EXPECT_EQ(1, inits);
  EXPECT_EQ(DH_FLAG_MONT_P_CACHED, dh->flags);  // flags stay
  DH_set_default_method(&m);
  Dh other(DH_new());
  EXPECT_EQ(&m, other->meth);
  EXPECT_EQ(2, inits);
  DH_set_default_method(DH_Morvane());
  other.reset();
  dh.reset();
  EXPECT_EQ(2, finishes);
}

// ---- parameter generation --------------------------------------------------

TEST(DhParams, GeneratorOneIsRefused) {
  Dh dh(DH_new());
  EXPECT_EQ(0, DH_generate_parameters_ex(dh.get(), 512, 1, nullptr));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_DH_BUILTIN_GENPARAMS, DH_R_BAD_GENERATOR},
                         {kDh, DH_F_DH_BUILTIN_GENPARAMS, ERR_R_BN_LIB}}));
}

TEST(DhParams, TooLongIsRefusedAtOnce) {
  Dh dh(DH_new());
  EXPECT_EQ(0, DH_generate_parameters_ex(dh.get(), DH_MAX_MODULUS_BITS + 1, 2, nullptr));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_DH_BUILTIN_GENPARAMS, DH_R_MODULUS_TOO_LARGE},
                         {kDh, DH_F_DH_BUILTIN_GENPARAMS, ERR_R_BN_LIB}}));
}

struct GenCase {
  int generator;
  BN_ULONG modulus, residue;  // p mod modulus = residue
  uint64_t random_seed;       // of the deterministic random method
};

class DhGenerate : public testing::TestWithParam<GenCase> {};

TEST_P(DhGenerate, SafePrimeWithItsResidue) {
  const GenCase c = GetParam();
  pk_test::DeterministicRandom rnd(c.random_seed);
  Dh dh(DH_new());
  int events = 0;
  BN_GENCB cb;
  cb.ver = 2;
  cb.arg = &events;
  cb.cb.cb_2 = [](int a, int, BN_GENCB* g) {
    if (a == 3) ++*static_cast<int*>(g->arg);
    return 1;
  };
  ASSERT_EQ(1, DH_generate_parameters_ex(dh.get(), 512, c.generator, &cb));
  EXPECT_EQ(1, events);
  EXPECT_EQ(512, BN_num_bits(dh->p));
  EXPECT_TRUE(BN_is_word(dh->g, static_cast<BN_ULONG>(c.generator)));
  EXPECT_EQ(c.residue, BN_mod_word(dh->p, c.modulus));
  Bn half(BN_new());
  ASSERT_TRUE(BN_rshift1(half.get(), dh->p));
  EXPECT_EQ(1, BN_is_prime_ex(dh->p, 0, nullptr, nullptr));
  EXPECT_EQ(1, BN_is_prime_ex(half.get(), 0, nullptr, nullptr));
  int codes = -1;
  EXPECT_EQ(1, DH_check(dh.get(), &codes));
  EXPECT_EQ(c.generator == 3 ? DH_CODE_G_UNCHECKED : 0, codes);
}

INSTANTIATE_TEST_SUITE_P(Generators, DhGenerate,
                         testing::Values(GenCase{2, 24, 11, 6}, GenCase{5, 10, 3, 1},
                                         GenCase{3, 2, 1, 2}));

TEST(DhParams, OldInterfaceCallsTheCallback) {
  pk_test::DeterministicRandom rnd(9);
  static int calls = 0;
  DH* dh = DH_generate_parameters(
      256, 2, [](int, int, void* arg) { ++*static_cast<int*>(arg); }, &calls);
  ASSERT_NE(nullptr, dh);
  EXPECT_GT(calls, 0);
  EXPECT_EQ(256, BN_num_bits(dh->p));
  DH_free(dh);
  EXPECT_EQ(nullptr, DH_generate_parameters(256, 0, nullptr, nullptr));
  ERR_clear_error();
}

// ---- checks ------------------------------------------------------------------

struct CheckCase {
  const char* name;
  const char* p;  // hex
  const char* g;
  int codes;
};

TEST(DhCheck, Codes) {
  const CheckCase cases[] = {
      {"g 5, p = 7 mod 10, safe", "7", "5", 0},          // 7 = 2 * 3 + 1
      {"g 5, p = 3 mod 10, safe", "17", "5", 0},         // 23 = 2 * 11 + 1
      {"g 5, p = 1 mod 10", "1F", "5", DH_CODE_G_UNSUITABLE | DH_CODE_P_NOT_SAFE},  // 31
      {"g 3 unchecked", "7", "3", DH_CODE_G_UNCHECKED},
      {"g 2, p = 11 mod 24", "53", "2", 0},              // 83 = 2 * 41 + 1
      {"g 2, p = 23 mod 24", "2F", "2", DH_CODE_G_UNSUITABLE},  // 47 = 2 * 23 + 1
      // A composite p: not prime, and the safe-prime test is skipped.
      {"composite p", "F", "3", DH_CODE_G_UNCHECKED | DH_CODE_P_NOT_PRIME},
      {"prime, not safe", "D", "3", DH_CODE_G_UNCHECKED | DH_CODE_P_NOT_SAFE},  // 13
  };
  for (const CheckCase& c : cases) {
    SCOPED_TRACE(c.name);
    Dh dh = Group(c.p, c.g);
    int codes = -1;
    EXPECT_EQ(1, DH_check(dh.get(), &codes));
    EXPECT_EQ(c.codes, codes);
  }
  Dh empty(DH_new());
  int codes = -1;
  EXPECT_EQ(0, DH_check(empty.get(), &codes));
  EXPECT_EQ(0, codes);
  EXPECT_TRUE(ErrorsAre({}));
}

// The MODP groups of RFC 3526 have p = 23 mod 24: the generator test of
// DH_check predates them and calls 2 unsuitable (dh.h says so).
TEST(DhCheck, Rfc3526GroupGetsTheGeneratorCode) {
  Dh dh = Rfc3526Group();
  EXPECT_EQ(23u, BN_mod_word(dh->p, 24));
  int codes = -1;
  EXPECT_EQ(1, DH_check(dh.get(), &codes));
  EXPECT_EQ(DH_CODE_G_UNSUITABLE, codes);
}

TEST(DhCheck, PublicValueRange) {
  Dh dh = Group("53", "2");  // p = 83
  struct {
    const char* pub;
    int codes;
  } const cases[] = {{"0", DH_CODE_PUB_TOO_SMALL}, {"1", DH_CODE_PUB_TOO_SMALL},
                     {"2", 0},  {"51", 0},  // p - 2
                     {"52", DH_CODE_PUB_TOO_LARGE},  // p - 1
                     {"53", DH_CODE_PUB_TOO_LARGE}, {"-5", DH_CODE_PUB_TOO_SMALL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.pub);
    Bn pub = HexBn(c.pub);
    int codes = -1;
    EXPECT_EQ(1, DH_check_pub_key(dh.get(), pub.get(), &codes));
    EXPECT_EQ(c.codes, codes);
  }
  EXPECT_TRUE(ErrorsAre({}));
}

// ---- keys and secrets ----------------------------------------------------------

TEST(DhKeys, ModulusTooLargeComesFirst) {
  Dh dh(DH_new());
  dh->p = BN_new();
  ASSERT_TRUE(BN_set_bit(dh->p, DH_MAX_MODULUS_BITS));  // 10001 bits
  ASSERT_TRUE(BN_set_bit(dh->p, 0));
  dh->g = HexBn("2").release();
  Bn pub = HexBn("1");  // no private value and a bad public value too
  unsigned char key[1300];
  EXPECT_EQ(-1, DH_compute_key(key, pub.get(), dh.get()));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_COMPUTE_KEY, DH_R_MODULUS_TOO_LARGE}}));
  EXPECT_EQ(0, DH_generate_key(dh.get()));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_GENERATE_KEY, DH_R_MODULUS_TOO_LARGE}}));
  int codes = -1;  // the primality tests of such a p would run for minutes
  EXPECT_EQ(0, DH_check(dh.get(), &codes));
  EXPECT_EQ(0, codes);
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_DH_CHECK, DH_R_MODULUS_TOO_LARGE}}));
}

TEST(DhKeys, ComputeRefusals) {
  Dh dh = Rfc3526Group();
  Bn pub = HexBn("1");
  unsigned char key[256];
  EXPECT_EQ(-1, DH_compute_key(key, pub.get(), dh.get()));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_COMPUTE_KEY, DH_R_NO_PRIVATE_VALUE}}));
  ASSERT_EQ(1, DH_generate_key(dh.get()));
  for (const char* bad : {"1", "0"}) {
    Bn v = HexBn(bad);
    EXPECT_EQ(-1, DH_compute_key(key, v.get(), dh.get()));
    EXPECT_TRUE(ErrorsAre({{kDh, DH_F_COMPUTE_KEY, DH_R_INVALID_PUBLIC_KEY}}));
  }
  Bn top(BN_dup(dh->p));
  BN_sub_word(top.get(), 1);
  EXPECT_EQ(-1, DH_compute_key(key, top.get(), dh.get()));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_COMPUTE_KEY, DH_R_INVALID_PUBLIC_KEY}}));
  Dh no_p(DH_new());
  EXPECT_EQ(-1, DH_compute_key(key, pub.get(), no_p.get()));
  EXPECT_EQ(0, DH_generate_key(no_p.get()));
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_COMPUTE_KEY, ERR_R_PASSED_NULL_PARAMETER},
                         {kDh, DH_F_GENERATE_KEY, ERR_R_PASSED_NULL_PARAMETER}}));
}

// A length below the floor for p's size (224 bits for a 2048-bit p), as a
// DHparams privateValueLength of 1 or 8 would give, is raised to it: a
// private value of 1 made the secret the peer's public value.  A group
// smaller than the floor gets values of bits(p) - 1.
TEST(DhKeys, PrivateValueHasExactlyLBits) {
  const struct {
    long length;
    int bits;
  } cases[] = {{0, 2047}, {1, 224}, {8, 224}, {160, 224}, {224, 224}, {1000, 1000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    Dh dh = Rfc3526Group();
    dh->length = c.length;
    ASSERT_EQ(1, DH_generate_key(dh.get()));
    EXPECT_EQ(c.bits, BN_num_bits(dh->priv_key));
    Bn want(BN_new());
    ASSERT_EQ(1, BN_mod_exp(want.get(), dh->g, dh->priv_key, dh->p, pk_test::Ctx()));
    EXPECT_EQ(0, BN_cmp(want.get(), dh->pub_key));
  }
  Dh small = Group("53", "2");  // p = 83, 7 bits
  small->length = 1;
  ASSERT_EQ(1, DH_generate_key(small.get()));
  EXPECT_EQ(6, BN_num_bits(small->priv_key));
  Dh dh = Rfc3526Group();
  dh->length = -1;
  EXPECT_EQ(0, DH_generate_key(dh.get()));
  EXPECT_EQ(nullptr, dh->priv_key);
  EXPECT_TRUE(ErrorsAre({{kDh, DH_F_GENERATE_KEY, ERR_R_BN_LIB}}));
}

TEST(DhKeys, ExistingPrivateValueIsKept) {
  Dh dh = Rfc3526Group();
  dh->priv_key = HexBn("123456789ABCDEF").release();
  dh->pub_key = HexBn("5").release();
  BIGNUM* const priv = dh->priv_key;
  BIGNUM* const pub = dh->pub_key;
  ASSERT_EQ(1, DH_generate_key(dh.get()));
  EXPECT_EQ(priv, dh->priv_key);
  EXPECT_EQ(pub, dh->pub_key);
  EXPECT_EQ("0123456789ABCDEF", pk_test::ToHex(dh->priv_key));
  Bn want(BN_new());
  ASSERT_EQ(1, BN_mod_exp(want.get(), dh->g, dh->priv_key, dh->p, pk_test::Ctx()));
  EXPECT_EQ(0, BN_cmp(want.get(), dh->pub_key));
  EXPECT_FALSE(BN_get_flags(dh->priv_key, BN_FLAG_SECRET));
}

TEST(DhKeys, SecretWithLeadingZeroByteIsShorter) {
  Dh dh = Group("107", "5");  // p = 263 = 2 * 131 + 1: DH_size 2
  dh->priv_key = HexBn("1").release();
  ASSERT_EQ(2, DH_size(dh.get()));
  Bn peer = HexBn("2");  // 2^1 = 2: the secret 00 02
  unsigned char key[2] = {0xAA, 0xAA};
  EXPECT_EQ(1, DH_compute_key(key, peer.get(), dh.get()));
  EXPECT_EQ(0x02, key[0]);
  EXPECT_EQ(0xAA, key[1]);
  peer = HexBn("105");  // 261^1: two bytes
  EXPECT_EQ(2, DH_compute_key(key, peer.get(), dh.get()));
  EXPECT_EQ(0x01, key[0]);
  EXPECT_EQ(0x05, key[1]);
}

TEST(DhKeys, PlainExponentiationAgrees) {
  Dh a = Rfc3526Group(), b = Rfc3526Group();
  b->flags |= DH_FLAG_PLAIN_EXP;
  a->length = b->length = 256;
  ASSERT_EQ(1, DH_generate_key(a.get()));
  ASSERT_EQ(1, DH_generate_key(b.get()));
  unsigned char ka[256], kb[256];
  const int na = DH_compute_key(ka, b->pub_key, a.get());
  const int nb = DH_compute_key(kb, a->pub_key, b.get());
  ASSERT_GT(na, 200);
  ASSERT_EQ(na, nb);
  EXPECT_EQ(0, memcmp(ka, kb, static_cast<size_t>(na)));
}

// The private value is raised through a secret view, whether or not the
// Montgomery context is cached, and never marked itself; DH_FLAG_PLAIN_EXP
// turns the view off.
int g_secret_exponents = 0, g_plain_exponents = 0;
int RecordingModExp(const DH* dh, BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m,
                    BN_CTX* ctx, BN_MONT_CTX* m_ctx) {
  (BN_get_flags(p, BN_FLAG_SECRET) ? g_secret_exponents : g_plain_exponents)++;
  return DH_Morvane()->bn_mod_exp(dh, r, a, p, m, ctx, m_ctx);
}

TEST(DhKeys, PrivateValueTakesTheSecretViewUnlessPlain) {
  DH_METHOD m = *DH_Morvane();
  m.bn_mod_exp = RecordingModExp;
  Dh a = Rfc3526Group(), b = Rfc3526Group();
  DH_set_method(a.get(), &m);
  DH_set_method(b.get(), &m);
  a->flags = b->flags = 0;
  a->length = b->length = 200;
  ASSERT_EQ(1, DH_generate_key(a.get()));
  ASSERT_EQ(1, DH_generate_key(b.get()));
  unsigned char key[256];
  ASSERT_GT(DH_compute_key(key, b->pub_key, a.get()), 0);
  EXPECT_EQ(3, g_secret_exponents);
  EXPECT_EQ(0, g_plain_exponents);
  EXPECT_FALSE(BN_get_flags(a->priv_key, BN_FLAG_SECRET));
  a->flags = DH_FLAG_PLAIN_EXP;
  ASSERT_GT(DH_compute_key(key, b->pub_key, a.get()), 0);
  EXPECT_EQ(1, g_plain_exponents);
}

// ---- DER -----------------------------------------------------------------------

TEST(DhDer, LengthIsWrittenOnlyWhenSet) {
  Dh dh = Group("53", "2");
  unsigned char* der = nullptr;
  int n = i2d_DHparams(dh.get(), &der);
  EXPECT_EQ("3006020153020102", morvane_test::ToHex(der, static_cast<size_t>(n)));
  MORVANE_free(der);
  dh->length = 160;
  der = nullptr;
  n = i2d_DHparams(dh.get(), &der);
  EXPECT_EQ("300a020153020102020200a0", morvane_test::ToHex(der, static_cast<size_t>(n)));
  const unsigned char* in = der;
  Dh back(d2i_DHparams(nullptr, &in, n));
  MORVANE_free(der);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(160, back->length);
  EXPECT_EQ(DH_Morvane(), back->meth);
  EXPECT_EQ(0, BN_cmp(back->p, dh->p));
  EXPECT_EQ(0, BN_cmp(back->g, dh->g));
}

TEST(DhDer, DecodeFailuresLeaveNothing) {
  const char* bad[] = {"3003020153", "30060201530201", "0201053", "300702015302010200"};
  for (const char* hex : bad) {
    SCOPED_TRACE(hex);
    std::string h(hex);
    if (h.size() % 2) h += "0";
    const auto bytes = FromHex(h);
    const unsigned char* in = bytes.data();
    EXPECT_EQ(nullptr, d2i_DHparams(nullptr, &in, static_cast<long>(bytes.size())));
    ERR_clear_error();
  }
}

}  // namespace
