// Key generation (the built-in method and ANSI X9.31), the key check, the
// blinding switches and the locked copy of the private numbers; NIST's X9.31
// key generation and probable-prime key files.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;

constexpr int kR = ERR_LIB_RSA;

struct BnFree {
  void operator()(BIGNUM* b) const { BN_free(b); }
};
using Bn = std::unique_ptr<BIGNUM, BnFree>;

Bn Word(BN_ULONG w) {
  Bn b(BN_new());
  BN_set_word(b.get(), w);
  return b;
}

// The events a generation reports, in order.
std::vector<std::pair<int, int>> g_events;
int Record(int a, int b, BN_GENCB*) {
  g_events.push_back({a, b});
  return 1;
}
int StopAtThree(int a, int b, BN_GENCB*) {
  g_events.push_back({a, b});
  return a == 3 ? 0 : 1;
}
BN_GENCB Callback(int (*f)(int, int, BN_GENCB*)) {
  BN_GENCB cb;
  cb.ver = 2;
  cb.arg = nullptr;
  cb.cb.cb_2 = f;
  return cb;
}

// A signature and an encryption round trip with the key.
void RoundTrips(RSA* key) {
  const Bytes m = Pseudo(20, 3);
  Bytes sig(static_cast<size_t>(RSA_size(key)));
  unsigned int len = 0;
  ASSERT_EQ(1, RSA_sign(64, m.data(), 20, sig.data(), &len, key)) << morvane_test::DrainErrors();
  EXPECT_EQ(1, RSA_verify(64, m.data(), 20, sig.data(), len, key));
  Bytes ct(sig.size()), back(sig.size());
  ASSERT_EQ(RSA_size(key), RSA_public_encrypt(20, m.data(), ct.data(), key, RSA_PKCS1_PADDING));
  ASSERT_EQ(20, RSA_private_decrypt(RSA_size(key), ct.data(), back.data(), key, RSA_PKCS1_PADDING));
  EXPECT_EQ(m, Bytes(back.begin(), back.begin() + 20));
}

class RsaGenerate : public testing::TestWithParam<int> {};

// p has (bits + 1) / 2 bits and q the rest, p > q; the key checks and works.
TEST_P(RsaGenerate, SizesAndRoundTrips) {
  const int bits = GetParam();
  Rsa key(RSA_new());
  Bn e = Word(65537);
  g_events.clear();
  BN_GENCB cb = Callback(Record);
  ASSERT_EQ(1, RSA_generate_key_ex(key.get(), bits, e.get(), &cb)) << morvane_test::DrainErrors();
  EXPECT_EQ(bits, BN_num_bits(key->n));
  EXPECT_EQ((bits + 1) / 2, BN_num_bits(key->p));
  EXPECT_EQ(bits - (bits + 1) / 2, BN_num_bits(key->q));
  EXPECT_GT(BN_cmp(key->p, key->q), 0);
  EXPECT_EQ(1, RSA_check_key(key.get())) << morvane_test::DrainErrors();
  RoundTrips(key.get());
  // (3, 0) after p, (3, 1) after q, in that order.
  std::vector<std::pair<int, int>> threes;
  for (const auto& ev : g_events)
    if (ev.first == 3) threes.push_back(ev);
  EXPECT_EQ((std::vector<std::pair<int, int>>{{3, 0}, {3, 1}}), threes);
}

INSTANTIATE_TEST_SUITE_P(Bits, RsaGenerate, testing::Values(512, 1025, 1024, 2048, 3072));

// With e = 3 half of all primes of one word are refused (the prime search
// itself keeps p - 1 free of small factors only for longer primes); each
// refusal is (2, count) with one counter over p and q.  About one
// generation in three refuses three primes or more; keys are drawn until one
// does (400 tries leave no real chance of running out).
TEST(RsaGenerateEvents, RefusedPrimesCountOverBothPrimes) {
  Bn e = Word(3);
  BN_GENCB cb = Callback(Record);
  std::vector<int> counts;
  for (int round = 0; round < 400 && counts.size() < 3; round++) {
    Rsa key(RSA_new());
    g_events.clear();
    ASSERT_EQ(1, RSA_generate_key_ex(key.get(), 64, e.get(), &cb));
    counts.clear();
    for (const auto& ev : g_events)
      if (ev.first == 2) counts.push_back(ev.second);
  }
  ASSERT_GE(counts.size(), 3u);
  for (size_t i = 0; i < counts.size(); i++) EXPECT_EQ(static_cast<int>(i), counts[i]);
}

// An even e or one below 3 is refused before a prime is drawn (an even e
// would make the search endless, e = 1 would give d = 1).
TEST(RsaGenerateEvents, BadExponents) {
  for (BN_ULONG w : {0u, 1u, 2u, 4u, 65536u}) {
    Rsa key(RSA_new());
    Bn e = Word(w);
    g_events.clear();
    BN_GENCB cb = Callback(Record);
    EXPECT_EQ(0, RSA_generate_key_ex(key.get(), 512, e.get(), &cb)) << w;
    EXPECT_ERRORS({{kR, RSA_F_RSA_BUILTIN_KEYGEN, RSA_R_BAD_E_VALUE}});
    EXPECT_TRUE(g_events.empty()) << w;
    EXPECT_EQ(nullptr, key->p);
  }
}

TEST(RsaGenerateEvents, StoppingCallbackIsBnLib) {
  Rsa key(RSA_new());
  Bn e = Word(65537);
  BN_GENCB cb = Callback(StopAtThree);
  EXPECT_EQ(0, RSA_generate_key_ex(key.get(), 512, e.get(), &cb));
  EXPECT_ERRORS({{kR, RSA_F_RSA_BUILTIN_KEYGEN, ERR_R_BN_LIB}});
}

// The older form takes all 64 bits of e and a version-1 callback.
int g_old_calls = 0;
void OldCallback(int, int, void* arg) {
  EXPECT_EQ(&g_old_calls, arg);
  g_old_calls++;
}

TEST(RsaGenerateEvents, OldFormUsesEveryBitOfE) {
  Rsa key(RSA_generate_key(512, 0x100000001UL, OldCallback, &g_old_calls));
  ASSERT_TRUE(key) << morvane_test::DrainErrors();
  char* hex = BN_bn2hex(key->e);
  EXPECT_STREQ("0100000001", hex);
  CRYPTO_free(hex);
  EXPECT_EQ(33, BN_num_bits(key->e));
  EXPECT_GT(g_old_calls, 2);
  EXPECT_EQ(1, RSA_check_key(key.get()));
  EXPECT_EQ(nullptr, RSA_generate_key(512, 2, nullptr, nullptr));
  EXPECT_ERRORS({{kR, RSA_F_RSA_BUILTIN_KEYGEN, RSA_R_BAD_E_VALUE}});
}

int g_keygen_calls = 0;
int MethodKeygen(RSA*, int bits, BIGNUM*, BN_GENCB*) {
  g_keygen_calls++;
  return bits == 77 ? 1 : 0;
}

TEST(RsaGenerateEvents, MethodKeygenTakesTheCall) {
  RSA_METHOD meth = *RSA_PKCS1_Quorix();
  meth.rsa_keygen = MethodKeygen;
  Rsa key(RSA_new());
  RSA_set_method(key.get(), &meth);
  Bn e = Word(2);  // not looked at by the method
  EXPECT_EQ(1, RSA_generate_key_ex(key.get(), 77, e.get(), nullptr));
  EXPECT_EQ(1, g_keygen_calls);
  RSA_set_method(key.get(), RSA_PKCS1_Quorix());
}

// ---- X9.31 ------------------------------------------------------------------

// KeyGenRSA.rsp: the key derived from the file's starting values has its p,
// q, n, and its d modulo lcm(p - 1, q - 1); one test for each of the 30
// keys.
class RsaX931NistKeyGen : public testing::TestWithParam<int> {};

TEST_P(RsaX931NistKeyGen, DeriveGivesTheKey) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "nist-cavp/dss/186-2rsatestvectors/KeyGenRSA.rsp");
  int keys = 0;
  BN_CTX* ctx = BN_CTX_new();
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("Xp") || keys++ != GetParam()) continue;
    auto h = [&](const char* name) { return Bn(Hex(rec.Get(name))); };
    Bn e = h("e"), xp1 = h("xp1"), xp2 = h("xp2"), Xp = h("Xp"), xq1 = h("xq1"), xq2 = h("xq2"),
       Xq = h("Xq");
    Rsa key(RSA_new());
    ASSERT_EQ(
        1, RSA_X931_derive_ex(key.get(), nullptr, nullptr, nullptr, nullptr, xp1.get(), xp2.get(),
                              Xp.get(), xq1.get(), xq2.get(), Xq.get(), e.get(), nullptr))
        << morvane_test::DrainErrors();
    EXPECT_EQ(0, BN_cmp(h("p").get(), key->p));
    EXPECT_EQ(0, BN_cmp(h("q").get(), key->q));
    EXPECT_EQ(0, BN_cmp(h("n").get(), key->n));
    // The file's d reduced modulo the lcm.
    Bn p1(BN_dup(key->p)), q1(BN_dup(key->q)), g(BN_new()), l(BN_new()), d(BN_new());
    BN_sub_word(p1.get(), 1);
    BN_sub_word(q1.get(), 1);
    BN_gcd(g.get(), p1.get(), q1.get(), ctx);
    BN_mul(l.get(), p1.get(), q1.get(), ctx);
    BN_div(l.get(), nullptr, l.get(), g.get(), ctx);
    BN_mod(d.get(), h("d").get(), l.get(), ctx);
    EXPECT_EQ(0, BN_cmp(d.get(), key->d));
    EXPECT_EQ(1, RSA_check_key(key.get()));
  }
  BN_CTX_free(ctx);
  EXPECT_EQ(30, keys);
}

INSTANTIATE_TEST_SUITE_P(Keys, RsaX931NistKeyGen, testing::Range(0, 30));

TEST(RsaX931, DeriveKeepsWhatTheKeyHas) {
  Rsa key(RSA_new());
  EXPECT_EQ(0, RSA_X931_derive_ex(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
  Bn e = Word(65537);
  // Without starting values nothing but e is taken: 2.
  EXPECT_EQ(2, RSA_X931_derive_ex(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, e.get(), nullptr));
  EXPECT_TRUE(BN_is_word(key->e, 65537));
  // The key's p and q are kept and completed.
  Rsa ref = MakeKey(TestKey(1024));
  key->p = BN_dup(ref->p);
  key->q = BN_dup(ref->q);
  Bn other_e = Word(3);
  EXPECT_EQ(1, RSA_X931_derive_ex(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                  nullptr, nullptr, nullptr, nullptr, other_e.get(), nullptr));
  EXPECT_TRUE(BN_is_word(key->e, 65537));
  EXPECT_EQ(0, BN_cmp(ref->n, key->n));
  EXPECT_EQ(1, RSA_check_key(key.get()));
}

TEST(RsaX931, GenerateKey) {
  Rsa key(RSA_new());
  Bn e = Word(65537);
  ASSERT_EQ(1, RSA_X931_generate_key_ex(key.get(), 1024, e.get(), nullptr))
      << morvane_test::DrainErrors();
  EXPECT_EQ(1024, BN_num_bits(key->n));
  EXPECT_EQ(1, RSA_check_key(key.get())) << morvane_test::DrainErrors();
  RoundTrips(key.get());
  Rsa small(RSA_new());
  EXPECT_EQ(0, RSA_X931_generate_key_ex(small.get(), 512, e.get(), nullptr));
  ERR_clear_error();
}

// ---- the key check ----------------------------------------------------------

TEST(RsaCheckKey, NistProbablyPrimeKeys) {
  MORVANE_VECTOR_PATH_OR_SKIP(
      path, "nist-cavp/dss/186-3rsatestvectors/KeyGen_RandomProbablyPrime3_3.rsp");
  int keys = 0;
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("p")) continue;
    KeyText t = {{"n", rec.Get("n")},
                 {"e", rec.Get("e")},
                 {"d", rec.Get("d")},
                 {"p", rec.Get("p")},
                 {"q", rec.Get("q")}};
    Rsa key = MakeKey(t, "n,e,d,p,q");
    EXPECT_EQ(1, RSA_check_key(key.get())) << rec.Get("n") << morvane_test::DrainErrors();
    keys++;
  }
  EXPECT_GT(keys, 0);
}

TEST(RsaCheckKey, TestKeysAreValid) {
  for (int bits : TestKeySizes()) {
    Rsa key = MakeKey(TestKey(bits));
    EXPECT_EQ(1, RSA_check_key(key.get())) << bits << morvane_test::DrainErrors();
  }
}

// A key with composite p (consistent otherwise) and a wrong dmp1: 0 with both
// reasons.
TEST(RsaCheckKey, CompositePAndWrongDmp1) {
  BN_CTX* ctx = BN_CTX_new();
  Bn a(BN_new()), b(BN_new()), q(BN_new()), e = Word(65537);
  Rsa key(RSA_new());
  for (;;) {
    ASSERT_TRUE(BN_generate_prime_ex(a.get(), 128, 0, nullptr, nullptr, nullptr));
    ASSERT_TRUE(BN_generate_prime_ex(b.get(), 128, 0, nullptr, nullptr, nullptr));
    ASSERT_TRUE(BN_generate_prime_ex(q.get(), 256, 0, nullptr, nullptr, nullptr));
    key->p = BN_new();
    key->q = BN_dup(q.get());
    key->e = BN_dup(e.get());
    BN_mul(key->p, a.get(), b.get(), ctx);
    // Derive the rest as for a real key, then spoil dmp1.
    if (RSA_X931_derive_ex(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr, nullptr, nullptr, nullptr) == 1)
      break;
    ERR_clear_error();
    key.reset(RSA_new());
  }
  BN_add_word(key->dmp1, 2);
  EXPECT_EQ(0, RSA_check_key(key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_CHECK_KEY, RSA_R_P_NOT_PRIME},
                 {kR, RSA_F_RSA_CHECK_KEY, RSA_R_DMP1_NOT_CONGRUENT_TO_D}});
  // Without dmp1 the three CRT tests are left out.
  BN_add_word(key->dmq1, 2);
  BN_clear_free(key->dmp1);
  key->dmp1 = nullptr;
  EXPECT_EQ(0, RSA_check_key(key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_CHECK_KEY, RSA_R_P_NOT_PRIME}});
  BN_CTX_free(ctx);
}

TEST(RsaCheckKey, EachRelation) {
  struct Case {
    const char* number;
    std::vector<int> reasons;
  };
  const Case cases[] = {
      {"n", {RSA_R_N_DOES_NOT_EQUAL_P_Q}},
      {"d",
       {RSA_R_D_E_NOT_CONGRUENT_TO_1, RSA_R_DMP1_NOT_CONGRUENT_TO_D,
        RSA_R_DMQ1_NOT_CONGRUENT_TO_D}},
      {"dmq1", {RSA_R_DMQ1_NOT_CONGRUENT_TO_D}},
      {"iqmp", {RSA_R_IQMP_NOT_INVERSE_OF_Q}},
      {"q",
       {RSA_R_Q_NOT_PRIME, RSA_R_N_DOES_NOT_EQUAL_P_Q, RSA_R_D_E_NOT_CONGRUENT_TO_1,
        RSA_R_DMQ1_NOT_CONGRUENT_TO_D, RSA_R_IQMP_NOT_INVERSE_OF_Q}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.number);
    Rsa key = MakeKey(TestKey(512));
    const std::map<std::string, BIGNUM*> numbers = {
        {"n", key->n}, {"d", key->d}, {"dmq1", key->dmq1}, {"iqmp", key->iqmp}, {"q", key->q}};
    BN_add_word(numbers.at(c.number), 2);
    EXPECT_EQ(0, RSA_check_key(key.get()));
    std::vector<morvane_test::ErrEntry> want;
    for (int r : c.reasons) want.push_back({kR, RSA_F_RSA_CHECK_KEY, r});
    EXPECT_ERRORS(want);
  }
}

// Keys whose relations all hold but whose shape is refused: p = q (n a
// square; lcm(p - 1, q - 1) is then p - 1, so d e = 1 holds) and e = 1 (with
// d = 1 and its CRT numbers).  0 with the shape's reason.
TEST(RsaCheckKey, RefusedShapes) {
  BN_CTX* ctx = BN_CTX_new();
  Rsa p_is_q = MakeKey(TestKey(512), "e,p");
  p_is_q->q = BN_dup(p_is_q->p);
  p_is_q->n = BN_new();
  p_is_q->d = BN_new();
  Bn p1(BN_dup(p_is_q->p));
  BN_sub_word(p1.get(), 1);
  ASSERT_TRUE(BN_mul(p_is_q->n, p_is_q->p, p_is_q->q, ctx));
  ASSERT_NE(BN_mod_inverse(p_is_q->d, p_is_q->e, p1.get(), ctx), nullptr);
  Rsa e_one = MakeKey(TestKey(512), "n,p,q,iqmp");
  for (BIGNUM** b : {&e_one->e, &e_one->d, &e_one->dmp1, &e_one->dmq1}) *b = Word(1).release();
  const struct {
    RSA* key;
    int reason;
  } cases[] = {{p_is_q.get(), RSA_R_P_EQUALS_Q}, {e_one.get(), RSA_R_BAD_E_VALUE}};
  for (const auto& c : cases) {
    EXPECT_EQ(0, RSA_check_key(c.key)) << c.reason;
    EXPECT_ERRORS({{kR, RSA_F_RSA_CHECK_KEY, c.reason}});
  }
  BN_CTX_free(ctx);
}

// d e = 1 is checked modulo lcm(p - 1, q - 1) only: d plus that lcm, or plus
// three times (p - 1)(q - 1), is as good (dmp1 and dmq1 agree with it too);
// d plus p - 1 fails the congruence and dmq1 alone.
TEST(RsaCheckKey, DIsCheckedModuloTheLcm) {
  struct Case {
    const char* added;
    std::vector<int> reasons;
  };
  const Case cases[] = {{"lcm", {}},
                        {"3 phi", {}},
                        {"p - 1", {RSA_R_D_E_NOT_CONGRUENT_TO_1, RSA_R_DMQ1_NOT_CONGRUENT_TO_D}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.added);
    Rsa key = MakeKey(TestKey(512));
    BN_CTX* ctx = BN_CTX_new();
    Bn p1(BN_dup(key->p)), q1(BN_dup(key->q)), g(BN_new()), t(BN_new());
    ASSERT_TRUE(BN_sub_word(p1.get(), 1) && BN_sub_word(q1.get(), 1) &&
                BN_mul(t.get(), p1.get(), q1.get(), ctx) && BN_gcd(g.get(), p1.get(), q1.get(), ctx));
    bool ok = true;
    if (strcmp(c.added, "lcm") == 0) ok = BN_div(t.get(), nullptr, t.get(), g.get(), ctx);
    if (strcmp(c.added, "3 phi") == 0) ok = BN_mul_word(t.get(), 3);
    if (strcmp(c.added, "p - 1") == 0) ok = BN_copy(t.get(), p1.get()) != nullptr;
    ASSERT_TRUE(ok && BN_add(key->d, key->d, t.get()));
    EXPECT_EQ(c.reasons.empty() ? 1 : 0, RSA_check_key(key.get()));
    std::vector<morvane_test::ErrEntry> want;
    for (int r : c.reasons) want.push_back({kR, RSA_F_RSA_CHECK_KEY, r});
    EXPECT_ERRORS(want);
    BN_CTX_free(ctx);
  }
}

// A key without n, e, d, p or q is an error, not a crash.
TEST(RsaCheckKey, MissingNumbers) {
  for (const char* parts : {"e,d,p,q", "n,d,p,q", "n,e,p,q", "n,e,d,q", "n,e,d,p"}) {
    Rsa key = MakeKey(TestKey(512), parts);
    EXPECT_EQ(-1, RSA_check_key(key.get())) << parts;
    EXPECT_ERRORS({{kR, RSA_F_RSA_CHECK_KEY, ERR_R_PASSED_NULL_PARAMETER}});
  }
}

// ---- blinding and locked memory ---------------------------------------------

TEST(RsaBlindingSwitch, OnAndOff) {
  Rsa key = MakeKey(TestKey(1024));
  ASSERT_EQ(1, RSA_blinding_on(key.get(), nullptr));
  EXPECT_NE(nullptr, key->blinding);
  EXPECT_TRUE(key->flags & RSA_FLAG_BLINDING);
  EXPECT_FALSE(key->flags & RSA_FLAG_NO_BLINDING);
  BN_BLINDING* first = key->blinding;
  ASSERT_EQ(1, RSA_blinding_on(key.get(), nullptr));  // replaces the old one
  EXPECT_NE(nullptr, key->blinding);
  (void)first;
  RoundTrips(key.get());
  RSA_blinding_off(key.get());
  EXPECT_EQ(nullptr, key->blinding);
  EXPECT_FALSE(key->flags & RSA_FLAG_BLINDING);
  EXPECT_TRUE(key->flags & RSA_FLAG_NO_BLINDING);
  RoundTrips(key.get());
  Rsa no_e = MakeKey(TestKey(1024), "n,d");
  EXPECT_EQ(0, RSA_blinding_on(no_e.get(), nullptr));
  ERR_clear_error();
}

TEST(RsaMemoryLock, PublicKeyIsLeftAlone) {
  Rsa key = MakeKey(TestKey(512), "n,e");
  const int flags = key->flags;
  EXPECT_EQ(1, RSA_memory_lock(key.get()));
  EXPECT_EQ(nullptr, key->bignum_data);
  EXPECT_EQ(flags, key->flags);
}

TEST(RsaMemoryLock, MissingNumberIsRefused) {
  Rsa key = MakeKey(TestKey(512), "n,e,d,p,q,dmp1,dmq1");
  EXPECT_EQ(0, RSA_memory_lock(key.get()));
  EXPECT_ERRORS({{kR, RSA_F_RSA_MEMORY_LOCK, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(nullptr, key->bignum_data);
}

// The locked block: the numbers keep their values and the key its use; the
// block is wiped before it goes back (the words of d are nowhere in it).
std::map<void*, size_t> g_locked;
Bytes g_d_words;
bool g_d_found_at_free = false;
void* LockedMalloc(size_t n) {
  void* p = malloc(n);
  g_locked[p] = n;
  return p;
}
void LockedFree(void* p) {
  auto it = g_locked.find(p);
  if (it != g_locked.end()) {
    const auto* b = static_cast<const unsigned char*>(p);
    for (size_t i = 0; i + g_d_words.size() <= it->second; i++)
      if (memcmp(b + i, g_d_words.data(), g_d_words.size()) == 0) g_d_found_at_free = true;
    g_locked.erase(it);
  }
  free(p);
}

TEST(RsaMemoryLock, NumbersMoveIntoAWipedBlock) {
  ASSERT_EQ(1, CRYPTO_set_locked_mem_functions(LockedMalloc, LockedFree));
  RSA* key = MakeKey(TestKey(1024)).release();
  Rsa ref = MakeKey(TestKey(1024));
  g_d_words.assign(reinterpret_cast<unsigned char*>(key->d->d),
                   reinterpret_cast<unsigned char*>(key->d->d + 8));
  ASSERT_EQ(1, RSA_memory_lock(key));
  ASSERT_NE(nullptr, key->bignum_data);
  ASSERT_EQ(1u, g_locked.size());
  EXPECT_EQ(static_cast<void*>(key->bignum_data), g_locked.begin()->first);
  EXPECT_EQ(static_cast<void*>(key->bignum_data), static_cast<void*>(key->d));
  EXPECT_FALSE(key->flags & (RSA_FLAG_CACHE_PUBLIC | RSA_FLAG_CACHE_PRIVATE));
  EXPECT_EQ(0, BN_cmp(ref->d, key->d));
  EXPECT_EQ(0, BN_cmp(ref->iqmp, key->iqmp));
  EXPECT_EQ(1, RSA_check_key(key));
  RoundTrips(key);
  RSA_free(key);
  EXPECT_TRUE(g_locked.empty());
  EXPECT_FALSE(g_d_found_at_free);
}

}  // namespace
