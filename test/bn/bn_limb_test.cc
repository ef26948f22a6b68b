// The limb arithmetic against the 32-bit word reference of bn_reference.h:
// 10^5 random cases in ten shards (operands of 0 to 70 words, both signs,
// odd moduli of 1 to 70 words, some flagged secret) through BN_mul, BN_sqr,
// BN_mod_mul_montgomery (with factors longer than N too) and
// BN_from_montgomery (inputs up to and past R^2), each also with its result
// aliasing the operands; one case in fifty also runs BN_mod_exp_mont,
// BN_mod_exp_mont_consttime and BN_mod_exp2_mont with exponents of up to two
// words (zero included, secret or not) and any base.  Words, top and sign
// must be identical.  The suite runs once per kernel (see CMakeLists.txt).
// A second test takes the sizes with unrolled Montgomery products to the
// edges of their carries.

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "bn_reference.h"
#include "bn_test_util.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;
using bn_test::SplitMix64;

constexpr int kShards = 10;
constexpr int kCasesPerShard = 10000;
constexpr int kExpEvery = 50;

struct MontFree {
  void operator()(BN_MONT_CTX* p) const { BN_MONT_CTX_free(p); }
};

Bn Draw(SplitMix64& rng, uint64_t words, bool neg) {
  return bn_test::Make(bn_test::DrawWords(rng, words), neg);
}

// Identical words, top and sign.
void Same(const BIGNUM* got, const BIGNUM* want, const char* what) {
  EXPECT_EQ(got->top, want->top) << what;
  EXPECT_EQ(got->neg, want->neg) << what;
  EXPECT_EQ(Show(got), Show(want)) << what;
}

class BnLimbs : public testing::TestWithParam<int> {};

TEST_P(BnLimbs, AgreeWithTheWordReference) {
  SplitMix64 rng{0x5eed0000u + static_cast<uint64_t>(GetParam())};
  Ctx ctx(BN_CTX_new());
  BN_CTX* c = ctx.get();
  for (int k = 0; k < kCasesPerShard; k++) {
    SCOPED_TRACE("case " + std::to_string(k));
    const uint64_t nw = 1 + rng.Next() % 70;
    Bn m = Draw(rng, nw, false);
    BN_set_bit(m.get(), 0);
    if (m->top != static_cast<int>(nw))  // a top word with any of its bits set
      BN_set_bit(m.get(), static_cast<int>(32 * (nw - 1) + rng.Next() % 32));
    if (rng.Next() % 4 == 0) BN_set_flags(m.get(), BN_FLAG_SECRET);
    // Factors: mostly no longer than m, sometimes a word longer.
    auto length = [&] { return rng.Next() % 8 == 0 ? nw + 1 : rng.Next() % (nw + 1); };
    Bn a = Draw(rng, length(), rng.Next() & 1), b = Draw(rng, length(), rng.Next() & 1);
    if (rng.Next() % 8 == 0) b.reset(BN_dup(a.get()));
    Bn got(BN_new()), want(BN_new()), x(BN_dup(a.get()));

    ASSERT_EQ(bn_ref::Mul(want.get(), a.get(), b.get()), 1);
    ASSERT_EQ(BN_mul(got.get(), a.get(), b.get(), c), 1);
    Same(got.get(), want.get(), "BN_mul");
    ASSERT_EQ(bn_ref::Sqr(want.get(), a.get()), 1);
    ASSERT_EQ(BN_sqr(got.get(), a.get(), c), 1);
    Same(got.get(), want.get(), "BN_sqr");
    ASSERT_EQ(BN_sqr(x.get(), x.get(), c), 1);
    Same(x.get(), want.get(), "BN_sqr, r = a");
    ASSERT_EQ(BN_copy(x.get(), a.get()), x.get());
    ASSERT_EQ(BN_mul(x.get(), x.get(), x.get(), c), 1);
    ASSERT_EQ(bn_ref::Mul(want.get(), a.get(), a.get()), 1);
    Same(x.get(), want.get(), "BN_mul, r = a = b");

    std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
    ASSERT_EQ(BN_MONT_CTX_set(mont.get(), m.get(), c), 1);
    ASSERT_EQ(bn_ref::MontMul(want.get(), a.get(), b.get(), mont.get(), c), 1);
    ASSERT_EQ(BN_mod_mul_montgomery(got.get(), a.get(), b.get(), mont.get(), c), 1);
    Same(got.get(), want.get(), "BN_mod_mul_montgomery");
    ASSERT_EQ(BN_copy(x.get(), a.get()), x.get());
    ASSERT_EQ(BN_mod_mul_montgomery(x.get(), x.get(), x.get(), mont.get(), c), 1);
    ASSERT_EQ(bn_ref::MontMul(want.get(), a.get(), a.get(), mont.get(), c), 1);
    Same(x.get(), want.get(), "BN_mod_mul_montgomery, r = a = b");
    // Up to two words past 2 nw: inputs below N R, in [N R, R^2) and above.
    Bn t = Draw(rng, rng.Next() % (2 * nw + 3), rng.Next() & 1);
    ASSERT_EQ(bn_ref::FromMont(want.get(), t.get(), mont.get(), c), 1);
    ASSERT_EQ(BN_from_montgomery(got.get(), t.get(), mont.get(), c), 1);
    Same(got.get(), want.get(), "BN_from_montgomery");
    ASSERT_EQ(BN_from_montgomery(t.get(), t.get(), mont.get(), c), 1);
    Same(t.get(), want.get(), "BN_from_montgomery, r = a");

    if (k % kExpEvery != 0) continue;
    Bn p = Draw(rng, rng.Next() % 3, rng.Next() % 4 == 0), q = Draw(rng, rng.Next() % 3, false);
    if (rng.Next() % 3 == 0) BN_set_flags(p.get(), BN_FLAG_SECRET);
    Bn base = Draw(rng, rng.Next() % (nw + 2), rng.Next() % 4 == 0);
    ASSERT_EQ(bn_ref::ModExp(want.get(), base.get(), p.get(), m.get(), c), 1);
    ASSERT_EQ(BN_mod_exp_mont(got.get(), base.get(), p.get(), m.get(), c, mont.get()), 1);
    Same(got.get(), want.get(), "BN_mod_exp_mont");
    ASSERT_EQ(BN_mod_exp_mont_consttime(got.get(), base.get(), p.get(), m.get(), c, nullptr), 1);
    Same(got.get(), want.get(), "BN_mod_exp_mont_consttime");
    ASSERT_EQ(bn_ref::ModExp2(want.get(), base.get(), p.get(), b.get(), q.get(), m.get(), c), 1);
    ASSERT_EQ(BN_mod_exp2_mont(got.get(), base.get(), p.get(), b.get(), q.get(), m.get(), c,
                               mont.get()),
              1);
    Same(got.get(), want.get(), "BN_mod_exp2_mont");
  }
}

INSTANTIATE_TEST_SUITE_P(Shards, BnLimbs, testing::Range(0, kShards));

// The Montgomery products unrolled for moduli of 16, 32, 48 and 64 words (8
// to 32 limbs, on the MULX/ADCX/ADOX kernel) and their odd neighbours, at
// the edges of their carries: moduli of all ones, 2^(32 n - 1) + 1 and
// random ones with the top bit set; factors 0, 1, N - 1 and random ones;
// BN_from_montgomery of N R - 1; and the exponentiations with exponents as
// long as N (so the constant-time form runs its whole window table).
TEST(BnLimbsFixedSizes, AgreeWithTheWordReferenceAtTheEdges) {
  SplitMix64 rng{0xF1ED51DEu};
  Ctx ctx(BN_CTX_new());
  BN_CTX* c = ctx.get();
  for (int nw : {15, 16, 32, 33, 48, 64}) {
    for (int shape = 0; shape < 3; shape++) {
      SCOPED_TRACE("words " + std::to_string(nw) + ", shape " + std::to_string(shape));
      Bn m(BN_new());
      if (shape == 0) {  // 2^(32 nw) - 1
        ASSERT_EQ(BN_set_bit(m.get(), 32 * nw), 1);
        ASSERT_EQ(BN_sub_word(m.get(), 1), 1);
      } else if (shape == 1) {  // 2^(32 nw - 1) + 1
        ASSERT_EQ(BN_set_bit(m.get(), 32 * nw - 1), 1);
        ASSERT_EQ(BN_set_bit(m.get(), 0), 1);
      } else {
        m = bn_test::Make(bn_test::DrawWords(rng, static_cast<uint64_t>(nw)), false);
        BN_set_bit(m.get(), 32 * nw - 1);
        BN_set_bit(m.get(), 0);
      }
      std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
      ASSERT_EQ(BN_MONT_CTX_set(mont.get(), m.get(), c), 1);
      Bn n1(BN_dup(m.get()));
      ASSERT_EQ(BN_sub_word(n1.get(), 1), 1);
      std::vector<Bn> factors;
      factors.push_back(Bn(BN_new()));
      factors.push_back(Hex("1"));
      factors.push_back(Bn(BN_dup(n1.get())));
      factors.push_back(Draw(rng, static_cast<uint64_t>(nw - 1), false));
      Bn got(BN_new()), want(BN_new());
      for (const Bn& a : factors) {
        for (const Bn& b : factors) {
          ASSERT_EQ(bn_ref::MontMul(want.get(), a.get(), b.get(), mont.get(), c), 1);
          ASSERT_EQ(BN_mod_mul_montgomery(got.get(), a.get(), b.get(), mont.get(), c), 1);
          Same(got.get(), want.get(), "BN_mod_mul_montgomery");
        }
      }
      Bn t(BN_new());  // N R - 1
      ASSERT_EQ(BN_lshift(t.get(), m.get(), 32 * nw), 1);
      ASSERT_EQ(BN_sub_word(t.get(), 1), 1);
      ASSERT_EQ(bn_ref::FromMont(want.get(), t.get(), mont.get(), c), 1);
      ASSERT_EQ(BN_from_montgomery(got.get(), t.get(), mont.get(), c), 1);
      Same(got.get(), want.get(), "BN_from_montgomery of N R - 1");
      for (int k = 0; k < 2; k++) {
        Bn p = Draw(rng, static_cast<uint64_t>(nw), false);
        Bn q = Draw(rng, static_cast<uint64_t>(nw), false);
        const Bn& base = k == 0 ? n1 : factors[3];
        ASSERT_EQ(bn_ref::ModExp(want.get(), base.get(), p.get(), m.get(), c), 1);
        ASSERT_EQ(BN_mod_exp_mont(got.get(), base.get(), p.get(), m.get(), c, mont.get()), 1);
        Same(got.get(), want.get(), "BN_mod_exp_mont");
        BN_set_flags(p.get(), BN_FLAG_SECRET);
        ASSERT_EQ(BN_mod_exp_mont_consttime(got.get(), base.get(), p.get(), m.get(), c, mont.get()),
                  1);
        Same(got.get(), want.get(), "BN_mod_exp_mont_consttime");
        ASSERT_EQ(bn_ref::ModExp2(want.get(), base.get(), p.get(), n1.get(), q.get(), m.get(), c),
                  1);
        ASSERT_EQ(BN_mod_exp2_mont(got.get(), base.get(), p.get(), n1.get(), q.get(), m.get(), c,
                                   mont.get()),
                  1);
        Same(got.get(), want.get(), "BN_mod_exp2_mont");
      }
    }
  }
}

// Products and squares at every length around the Karatsuba crossovers of
// both kernels (32, 40, 48 and 80 limbs: 64 to 160 words) and one level
// down, where the halves fall on the rows, and around the squares split into
// halves on the MULX/ADCX/ADOX kernel (24, 32, 48 and 64 limbs): odd and
// even word counts, equal lengths and the unequal ones that still take
// Karatsuba, random words and all ones (every carry of every row set), and
// operands whose words are borrowed at a 4-byte boundary (read through the
// copy).  Each also with the result in an operand's record.
TEST(BnLimbsKaratsuba, AgreeWithTheWordReferenceAroundTheCrossovers) {
  SplitMix64 rng{0x6B61726Bu};
  Ctx ctx(BN_CTX_new());
  Bn got(BN_new()), want(BN_new()), x(BN_new());
  for (int limbs : {15, 16, 17, 23, 24, 25, 31, 32, 33, 39, 40, 41, 47, 48, 49, 63, 64, 65, 79, 80, 81, 95,
                    96, 97, 127, 128, 129, 160, 161}) {
    for (int nw : {2 * limbs - 1, 2 * limbs}) {
      for (int shape = 0; shape < 4; shape++) {
        SCOPED_TRACE("words " + std::to_string(nw) + ", shape " + std::to_string(shape));
        const auto n = static_cast<uint64_t>(nw);
        Bn a = shape == 1 ? bn_test::Make(std::vector<uint32_t>(n, 0xFFFFFFFFu), false)
                          : Draw(rng, n, rng.Next() & 1);
        Bn b = shape == 1 ? bn_test::Make(std::vector<uint32_t>(n, 0xFFFFFFFFu), true)
                          : Draw(rng, shape == 2 ? n - n / 8 : n, false);
        // Shape 3: a and b borrowed from words that start 4 bytes past a
        // limb boundary.
        std::vector<uint64_t> store(2 * n + 2);
        BIGNUM ua, ub;
        const BIGNUM *pa = a.get(), *pb = b.get();
        if (shape == 3) {
          auto* words = reinterpret_cast<BN_ULONG*>(store.data()) + 1;
          for (const auto& [u, src, at] : {std::tuple{&ua, a.get(), words},
                                           std::tuple{&ub, b.get(), words + n + 1}}) {
            BN_init(u);
            for (int i = 0; i < src->top; i++) at[i] = src->d[i];
            u->d = at;
            u->top = u->dmax = src->top;
            u->neg = src->neg;
            u->flags = BN_FLAG_BORROWED;
          }
          pa = &ua;
          pb = &ub;
        }
        ASSERT_EQ(bn_ref::Mul(want.get(), a.get(), b.get()), 1);
        ASSERT_EQ(BN_mul(got.get(), pa, pb, ctx.get()), 1);
        Same(got.get(), want.get(), "BN_mul");
        ASSERT_EQ(BN_copy(x.get(), a.get()), x.get());
        ASSERT_EQ(BN_mul(x.get(), x.get(), pb, ctx.get()), 1);
        Same(x.get(), want.get(), "BN_mul, r = a");
        ASSERT_EQ(bn_ref::Sqr(want.get(), a.get()), 1);
        ASSERT_EQ(BN_sqr(got.get(), pa, ctx.get()), 1);
        Same(got.get(), want.get(), "BN_sqr");
        ASSERT_EQ(BN_copy(x.get(), a.get()), x.get());
        ASSERT_EQ(BN_sqr(x.get(), x.get(), ctx.get()), 1);
        Same(x.get(), want.get(), "BN_sqr, r = a");
      }
    }
  }
}

}  // namespace

namespace {

// Montgomery products of moduli of 4 to 9 limbs (8 to 18 words), as the
// elliptic-curve field operations make them, allocate nothing once the
// result has its room: their scratch is on the stack, not in the BN_CTX.
TEST(BnLimbsHeapFree, MontgomeryProductsOfFourToNineLimbs) {
  if (!morvane_test::InstallCountingAllocator()) GTEST_SKIP() << "counting hooks refused";
  Ctx ctx(BN_CTX_new());
  SplitMix64 rng{9};
  for (int words = 8; words <= 18; words++) {
    Bn m = Draw(rng, static_cast<uint64_t>(words), false);
    BN_set_bit(m.get(), 0);
    BN_set_bit(m.get(), 32 * words - 1);
    std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
    ASSERT_EQ(BN_MONT_CTX_set(mont.get(), m.get(), ctx.get()), 1);
    Bn a = Draw(rng, static_cast<uint64_t>(words - 1), false);
    Bn b = Draw(rng, static_cast<uint64_t>(words - 1), false), r(BN_new());
    ASSERT_EQ(BN_mod_mul_montgomery(r.get(), a.get(), b.get(), mont.get(), ctx.get()), 1);
    Ctx unused(BN_CTX_new());  // an empty context: its first scratch number would allocate
    const long before = morvane_test::GetAllocCounts().mallocs;
    for (int i = 0; i < 10; i++) {
      ASSERT_EQ(BN_mod_mul_montgomery(r.get(), r.get(), b.get(), mont.get(), unused.get()), 1);
      ASSERT_EQ(BN_mod_mul_montgomery(r.get(), r.get(), r.get(), mont.get(), unused.get()), 1);
    }
    EXPECT_EQ(morvane_test::GetAllocCounts().mallocs, before) << words << " words";
  }
}

}  // namespace
