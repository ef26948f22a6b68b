// Probable primes: the test against Wycheproof's primality vectors and small
// cases, the rounds and events seen through the callback, generation (plain,
// short, residue class, safe) and the X9.31 derivation against the NIST
// CAVP KeyGen vectors.  Draws come from a deterministic random method.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "bn_det_rand.h"
#include "bn_test_util.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;

// The events a callback saw, as (a, b) pairs; stop_after > 0 makes the
// callback return 0 on that event.
struct Events {
  std::vector<std::pair<int, int>> seen;
  int stop_after = 0;
  BN_GENCB cb{};
  Events() {
    cb.ver = 2;
    cb.arg = this;
    cb.cb.cb_2 = [](int a, int b, BN_GENCB* g) {
      auto* self = static_cast<Events*>(g->arg);
      self->seen.emplace_back(a, b);
      return self->stop_after > 0 && static_cast<int>(self->seen.size()) >= self->stop_after ? 0
                                                                                             : 1;
    };
  }
  int Count(int a) const {
    int n = 0;
    for (auto& e : seen) n += e.first == a;
    return n;
  }
};

// A signed two's-complement big-endian hex value, as Wycheproof writes them.
Bn SignedHex(const std::string& hex) {
  Bn v(Hex(hex.empty() ? "0" : hex));
  if (!hex.empty() && std::stoi(hex.substr(0, 1), nullptr, 16) >= 8) {
    Bn mod(BN_new());
    BN_set_bit(mod.get(), static_cast<int>(4 * hex.size()));
    BN_sub(v.get(), v.get(), mod.get());
  }
  return v;
}

TEST(BnPrime, SmallValues) {
  bn_test::InstallDetRand(1);
  Ctx ctx(BN_CTX_new());
  // value, result without and with trial division
  const struct {
    const char* v;
    int plain, trial;
  } cases[] = {
      {"2", 1, 1},    {"1", 0, 0},    {"0", 0, 0},        {"-7", 0, 0},        {"-2", 0, 0},
      {"4", 0, 0},    {"9", 0, 0},    {"3", 1, 1},        {"5", 1, 1},         {"61", 1, 1},
      {"65", 1, 1},   {"FB", 1, 1},   {"101", 1, 1},      {"45C7", 1, 1},      {"D155", 0, 0},
      {"45C9", 0, 0}, {"45D9", 1, 1}, {"FFFFFFFB", 1, 1}, {"100000001", 0, 0},
  };
  for (const auto& c : cases) {
    Bn a(Hex(c.v));
    EXPECT_EQ(BN_is_prime_fasttest_ex(a.get(), 0, ctx.get(), 0, nullptr), c.plain) << c.v;
    EXPECT_EQ(BN_is_prime_fasttest_ex(a.get(), 0, nullptr, 1, nullptr), c.trial) << c.v;
    EXPECT_EQ(BN_is_prime_ex(a.get(), 64, nullptr, nullptr), c.plain) << c.v;
  }
  EXPECT_ERRORS({});
}

// Rounds by size through the callback: 2^512 - 569 and 2^1024 - 105, the
// largest primes below 2^512 and 2^1024, take 6 and 3 rounds with checks 0.
TEST(BnPrime, RoundsBySize) {
  bn_test::InstallDetRand(3);
  const struct {
    int bits;
    BN_ULONG below;
    int rounds;
  } cases[] = {{512, 569, 6}, {1024, 105, 3}};
  for (const auto& c : cases) {
    Bn p(BN_new());
    BN_set_bit(p.get(), c.bits);
    BN_sub_word(p.get(), c.below);
    Events ev;
    EXPECT_EQ(BN_is_prime_fasttest_ex(p.get(), 0, nullptr, 1, &ev.cb), 1);
    std::vector<std::pair<int, int>> want = {{1, -1}};
    for (int i = 0; i < c.rounds; i++) want.emplace_back(1, i);
    EXPECT_EQ(ev.seen, want) << c.bits;
  }
}

TEST(BnPrime, CallbackStopsTheTest) {
  bn_test::InstallDetRand(4);
  Bn p(Hex("FFFFFFFB"));
  Events ev;
  ev.stop_after = 2;
  EXPECT_EQ(BN_is_prime_fasttest_ex(p.get(), 10, nullptr, 0, &ev.cb), -1);
  EXPECT_EQ(ev.seen.size(), 2u);
  // A version-1 callback cannot stop it; the older form takes a bare one.
  int calls = 0;
  EXPECT_EQ(
      BN_is_prime(
          p.get(), 5, [](int, int, void* arg) { ++*static_cast<int*>(arg); }, nullptr, &calls),
      1);
  EXPECT_EQ(calls, 5);
  EXPECT_EQ(BN_is_prime_fasttest(p.get(), 5, nullptr, nullptr, nullptr, 1), 1);
}

// primality_test.json: checks 64, with and without trial division; the
// negated primes are 0 like every number <= 1.  The file's tests are dealt
// to shards, one process each, so that no test runs long.
constexpr int kWycheproofShards = 32;
class BnPrimeWycheproof : public testing::TestWithParam<int> {};

TEST_P(BnPrimeWycheproof, Primality) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/primality_test.json");
  bn_test::InstallDetRand(5);
  Ctx ctx(BN_CTX_new());
  int valid = 0, invalid = 0, negated = 0, index = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    const std::string result = t.Get("result");
    valid += result == "valid";
    invalid += result == "invalid";
    negated += t.HasFlag("NegativeOfPrime");
    if (index++ % kWycheproofShards != GetParam()) continue;
    Bn v = SignedHex(t.Get("value"));
    if (t.HasFlag("NegativeOfPrime")) {
      EXPECT_TRUE(BN_is_negative(v.get())) << t.id;
    }
    for (int trial = 0; trial < 2; trial++)
      EXPECT_EQ(BN_is_prime_fasttest_ex(v.get(), 64, ctx.get(), trial, nullptr),
                result == "valid" ? 1 : 0)
          << "tcId " << t.id << " trial division " << trial;
  }
  EXPECT_EQ(valid, 66);
  EXPECT_EQ(invalid, 243);
  EXPECT_EQ(negated, 8);
}

INSTANTIATE_TEST_SUITE_P(Shards, BnPrimeWycheproof, testing::Range(0, kWycheproofShards));

// ---- generation ----

bool IsPrime(const BIGNUM* p) {
  return BN_is_prime_fasttest_ex(p, 64, nullptr, 1, nullptr) == 1;
}

TEST(BnGeneratePrime, PlainPrimeAndEvents) {
  bn_test::InstallDetRand(6);
  Bn p(BN_new());
  Events ev;
  ASSERT_EQ(BN_generate_prime_ex(p.get(), 256, 0, nullptr, nullptr, &ev.cb), 1);
  EXPECT_EQ(BN_num_bits(p.get()), 256);
  EXPECT_TRUE(BN_is_bit_set(p.get(), 254));
  EXPECT_TRUE(IsPrime(p.get()));
  // Candidates 0, 1, ... each followed by its rounds; the last passes all 12.
  ASSERT_FALSE(ev.seen.empty());
  int candidates = 0;
  for (auto& e : ev.seen)
    if (e.first == 0) {
      EXPECT_EQ(e.second, candidates++);
    }
  std::vector<std::pair<int, int>> tail(ev.seen.end() - 13, ev.seen.end());
  EXPECT_EQ(tail[0], std::make_pair(0, candidates - 1));
  for (int i = 0; i < 12; i++) EXPECT_EQ(tail[static_cast<size_t>(i + 1)], std::make_pair(1, i));
}

// Short lengths end with a prime of exactly that length: every candidate
// below 17863^2 used to be ruled out by the table or carried past the length.
TEST(BnGeneratePrime, ShortLengths) {
  bn_test::InstallDetRand(7);
  Bn p(BN_new());
  for (int bits = 2; bits <= 40; bits++) {
    for (int i = 0; i < 3; i++) {
      ASSERT_EQ(BN_generate_prime_ex(p.get(), bits, 0, nullptr, nullptr, nullptr), 1) << bits;
      EXPECT_EQ(BN_num_bits(p.get()), bits);
      EXPECT_TRUE(BN_is_bit_set(p.get(), bits - 2)) << bits;
      EXPECT_TRUE(IsPrime(p.get())) << bits << " " << Show(p.get());
    }
  }
  BN_generate_prime_ex(p.get(), 3, 0, nullptr, nullptr, nullptr);
  EXPECT_EQ(Show(p.get()), "07");
}

TEST(BnGeneratePrime, SafePrimes) {
  bn_test::InstallDetRand(8);
  Bn p(BN_new()), q(BN_new());
  for (int bits : {6, 7, 12, 20, 33, 96}) {
    Events ev;
    ASSERT_EQ(BN_generate_prime_ex(p.get(), bits, 1, nullptr, nullptr, &ev.cb), 1) << bits;
    EXPECT_EQ(BN_num_bits(p.get()), bits);
    BN_rshift1(q.get(), p.get());
    EXPECT_TRUE(IsPrime(p.get()) && IsPrime(q.get())) << Show(p.get());
    EXPECT_GT(ev.Count(2), 0);
  }
}

TEST(BnGeneratePrime, ResidueClasses) {
  bn_test::InstallDetRand(9);
  Bn p(BN_new()), q(BN_new()), add(Hex("C")), rem(Hex("B")), r(BN_new());
  Ctx ctx(BN_CTX_new());
  // p = 11 (mod 12), plain and safe; p = 1 (mod 12) when rem is null.
  for (int safe = 0; safe < 2; safe++) {
    ASSERT_EQ(BN_generate_prime_ex(p.get(), 128, safe, add.get(), rem.get(), nullptr), 1);
    BN_nnmod(r.get(), p.get(), add.get(), ctx.get());
    EXPECT_EQ(Show(r.get()), "0B");
    EXPECT_TRUE(IsPrime(p.get()));
    BN_rshift1(q.get(), p.get());
    if (safe) {
      EXPECT_TRUE(IsPrime(q.get()));
    }
  }
  ASSERT_EQ(BN_generate_prime_ex(p.get(), 128, 0, add.get(), nullptr, nullptr), 1);
  BN_nnmod(r.get(), p.get(), add.get(), ctx.get());
  EXPECT_EQ(Show(r.get()), "01");
  EXPECT_TRUE(IsPrime(p.get()));
}

TEST(BnGeneratePrime, Refusals) {
  bn_test::InstallDetRand(10);
  Bn p(BN_new());
  for (auto [bits, safe] : {std::pair{1, 0}, {0, 0}, {-3, 0}, {5, 1}, {2, 1}}) {
    EXPECT_EQ(BN_generate_prime_ex(p.get(), bits, safe, nullptr, nullptr, nullptr), 0);
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_GENERATE_PRIME_EX, BN_R_INVALID_ARGUMENT}});
  }
  EXPECT_EQ(BN_generate_prime(nullptr, 1, 0, nullptr, nullptr, nullptr, nullptr), nullptr);
  ERR_clear_error();
}

// A version-2 callback returning 0 on the first event stops generation.
TEST(BnGeneratePrime, CallbackStops) {
  bn_test::InstallDetRand(11);
  Bn p(BN_new());
  Events ev;
  ev.stop_after = 1;
  EXPECT_EQ(BN_generate_prime_ex(p.get(), 512, 1, nullptr, nullptr, &ev.cb), 0);
  EXPECT_EQ(ev.seen, (std::vector<std::pair<int, int>>{{0, 0}}));
  EXPECT_ERRORS({});
}

TEST(BnGeneratePrime, OlderForm) {
  bn_test::InstallDetRand(12);
  int events = 0;
  BIGNUM* p = BN_generate_prime(
      nullptr, 64, 0, nullptr, nullptr, [](int, int, void* arg) { ++*static_cast<int*>(arg); },
      &events);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(BN_num_bits(p), 64);
  EXPECT_TRUE(IsPrime(p));
  EXPECT_GT(events, 27);
  BN_free(p);
}

// ---- X9.31 ----

TEST(BnX931, StartingValues) {
  bn_test::InstallDetRand(13);
  Bn xp(BN_new()), xq(BN_new()), d(BN_new());
  EXPECT_EQ(BN_X931_generate_Xpq(xp.get(), xq.get(), 1000, nullptr), 0);
  EXPECT_EQ(BN_X931_generate_Xpq(xp.get(), xq.get(), 1100, nullptr), 0);
  EXPECT_EQ(BN_X931_generate_Xpq(xp.get(), xq.get(), 768, nullptr), 0);
  EXPECT_ERRORS({});
  Ctx ctx(BN_CTX_new());
  ASSERT_EQ(BN_X931_generate_Xpq(xp.get(), xq.get(), 1280, ctx.get()), 1);
  EXPECT_EQ(BN_num_bits(xp.get()), 640);
  ASSERT_EQ(BN_X931_generate_Xpq(xp.get(), xq.get(), 1024, ctx.get()), 1);
  for (BIGNUM* x : {xp.get(), xq.get()}) {
    EXPECT_EQ(BN_num_bits(x), 512);
    EXPECT_TRUE(BN_is_bit_set(x, 510));
  }
  BN_sub(d.get(), xp.get(), xq.get());
  EXPECT_GT(BN_num_bits(d.get()), 412);
}

TEST(BnX931, EvenExponentRefused) {
  Bn p(BN_new()), x(Hex("F1")), e(Hex("10000"));
  EXPECT_EQ(BN_X931_derive_prime_ex(p.get(), nullptr, nullptr, x.get(), x.get(), x.get(), e.get(),
                                    nullptr, nullptr),
            0);
  EXPECT_ERRORS({});
}

// NIST CAVP 186-2 KeyGen RSA (X9.31): each p and q from its xp1, xp2, Xp
// (xq1, xq2, Xq) and e; one prime per test (the 30 keys give 60), to keep
// each test short.
class BnX931Cavp : public testing::TestWithParam<int> {};

TEST_P(BnX931Cavp, DerivesThePrime) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "nist-cavp/dss/186-2rsatestvectors/KeyGenRSA.rsp");
  bn_test::InstallDetRand(14);
  std::vector<morvane_test::RspRecord> keys;
  for (auto& rec : morvane_test::ReadRsp(path))
    if (rec.Has("Xp")) keys.push_back(rec);
  ASSERT_EQ(keys.size(), 30u);
  const auto& rec = keys[static_cast<size_t>(GetParam() / 2)];
  const std::string w = GetParam() % 2 ? "q" : "p";
  Ctx ctx(BN_CTX_new());
  Bn e(Hex(rec.Get("e"))), x1(Hex(rec.Get("x" + w + "1"))), x2(Hex(rec.Get("x" + w + "2")));
  Bn X(Hex(rec.Get("X" + w))), want(Hex(rec.Get(w)));
  Bn p(BN_new()), p1(BN_new()), p2(BN_new()), t(BN_new());
  Events ev;
  ASSERT_EQ(BN_X931_derive_prime_ex(p.get(), p1.get(), p2.get(), X.get(), x1.get(), x2.get(),
                                    e.get(), ctx.get(), &ev.cb),
            1);
  EXPECT_EQ(BN_cmp(p.get(), want.get()), 0) << "mod " << rec.section.at("mod") << " " << w;
  // p1 divides p - 1 and p2 divides p + 1; (3, 0) closes the events.
  BN_sub_word(p.get(), 1);
  BN_div(nullptr, t.get(), p.get(), p1.get(), ctx.get());
  EXPECT_TRUE(BN_is_zero(t.get()));
  BN_add_word(p.get(), 2);
  BN_div(nullptr, t.get(), p.get(), p2.get(), ctx.get());
  EXPECT_TRUE(BN_is_zero(t.get()));
  EXPECT_EQ(ev.seen.back(), std::make_pair(3, 0));
}

INSTANTIATE_TEST_SUITE_P(Primes, BnX931Cavp, testing::Range(0, 60));

TEST(BnX931, GeneratePrime) {
  bn_test::InstallDetRand(15);
  Bn p(BN_new()), p1(BN_new()), p2(BN_new()), xp1(BN_new()), xp2(BN_new()), xp(BN_new());
  Bn xq(BN_new()), e(Hex("10001"));
  ASSERT_EQ(BN_X931_generate_Xpq(xp.get(), xq.get(), 1024, nullptr), 1);
  ASSERT_EQ(BN_X931_generate_prime_ex(p.get(), p1.get(), p2.get(), xp1.get(), xp2.get(), xp.get(),
                                      e.get(), nullptr, nullptr),
            1);
  EXPECT_EQ(BN_num_bits(xp1.get()), 101);
  EXPECT_EQ(BN_num_bits(xp2.get()), 101);
  EXPECT_GE(BN_cmp(p.get(), xp.get()), 0);
  EXPECT_GE(BN_cmp(p1.get(), xp1.get()), 0);
  EXPECT_TRUE(IsPrime(p.get()) && IsPrime(p1.get()) && IsPrime(p2.get()));
  ASSERT_EQ(BN_X931_generate_prime_ex(p.get(), nullptr, nullptr, nullptr, nullptr, xp.get(),
                                      e.get(), nullptr, nullptr),
            1);
  EXPECT_TRUE(IsPrime(p.get()));
}

}  // namespace
