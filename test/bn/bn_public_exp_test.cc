// The exponentiations on limbs for public exponents, white-box (built from
// its own copy of crypto/bn/limbs*.cc and crypto/cpu.cc): exp_public (64-bit
// limbs, constant time in the base) and exp_public_ifma (radix 2^52 with
// AVX-512 IFMA, where the processor has it) against the word reference's
// square and multiply (bn_reference.h), over odd moduli of 15 to 130 words,
// bases from 0 to N - 1 and exponents 0, 1, 2, 3, 65537, 2^32 - 1 and drawn
// ones of one and two words.  The IFMA form declines moduli of fewer than 16
// words or more than 4158 bits and leaves the result alone then.  Then
// BN_mod_exp_mont's sliding window on either form, and last the limb sums and
// products against plain loops (run also without ADX, see CMakeLists.txt).

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bn/limbs.h"
#include "bn_reference.h"
#include "bn_test_util.h"
#include "internal/cpu.h"

namespace {

namespace limb = morvane::bn::limb;
using bn_test::Bn;
using bn_test::Ctx;
using bn_test::SplitMix64;
using limb::Limb;

struct MontFree {
  void operator()(BN_MONT_CTX* p) const { BN_MONT_CTX_free(p); }
};

// The words of x (nl limbs, 2 nl words) as a number.
Bn FromLimbs(const std::vector<Limb>& x) {
  std::vector<uint32_t> w(2 * x.size());
  limb::store(w.data(), x.data(), static_cast<int>(w.size()));
  return bn_test::Make(w, false);
}

std::vector<Limb> ToLimbs(const BIGNUM* a, int nl) {
  std::vector<Limb> x(static_cast<size_t>(nl), 0);
  limb::load(x.data(), a->d, a->top);
  return x;
}

TEST(BnPublicExp, LimbFormsAgreeWithTheReference) {
  SplitMix64 rng{0x9ab1e5u};
  Ctx ctx(BN_CTX_new());
  const bool ifma = morvane::internal::Has(morvane::internal::kIfma);
  int ifma_ran = 0;
  for (int nw : {15, 16, 17, 31, 32, 33, 48, 49, 64, 65, 96, 127, 128, 129, 130}) {
    SCOPED_TRACE("words " + std::to_string(nw));
    Bn n = bn_test::Make(bn_test::DrawWords(rng, static_cast<uint64_t>(nw)), false);
    BN_set_bit(n.get(), 0);
    BN_set_bit(n.get(), 32 * nw - 1 - static_cast<int>(rng.Next() % 3));
    std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
    ASSERT_EQ(BN_MONT_CTX_set(mont.get(), n.get(), ctx.get()), 1);
    const int nl = limb::count(nw);
    std::vector<Limb> nn = ToLimbs(n.get(), nl), rr = ToLimbs(&mont->RR, nl);
    const limb::Modulus m{nn.data(), nw, nl, limb::lift_n0(nn[0], mont->n0), mont->n0};
    Bn n1(BN_dup(n.get()));
    BN_sub_word(n1.get(), 1);
    std::vector<Bn> bases;
    bases.emplace_back(BN_new());
    bases.emplace_back(BN_dup(BN_value_one()));
    bases.emplace_back(BN_dup(n1.get()));
    for (int i = 0; i < 2; i++) {
      Bn b = bn_test::Make(bn_test::DrawWords(rng, static_cast<uint64_t>(nw)), false);
      BN_nnmod(b.get(), b.get(), n.get(), ctx.get());
      bases.push_back(std::move(b));
    }
    std::vector<std::vector<uint32_t>> exps = {{0}, {1}, {2}, {3}, {65537}, {0xFFFFFFFFu}};
    exps.push_back({static_cast<uint32_t>(rng.Next())});
    exps.push_back({static_cast<uint32_t>(rng.Next()), static_cast<uint32_t>(rng.Next() | 1)});
    for (const Bn& b : bases) {
      const std::vector<Limb> bl = ToLimbs(b.get(), nl);
      for (const auto& e : exps) {
        SCOPED_TRACE("exponent word " + std::to_string(e[0]));
        Bn p = bn_test::Make(e, false), want(BN_new());
        ASSERT_EQ(bn_ref::ModExp(want.get(), b.get(), p.get(), n.get(), ctx.get()), 1);
        std::vector<Limb> got(static_cast<size_t>(nl)), t(3 * static_cast<size_t>(nl));
        limb::exp_public(got.data(), bl.data(), e.data(), static_cast<int>(e.size()), m, rr.data(),
                         t.data());
        EXPECT_EQ(BN_cmp(FromLimbs(got).get(), want.get()), 0) << "64-bit limbs";
        std::vector<Limb> vec(static_cast<size_t>(nl), 0x5a5a);
        const bool took = limb::exp_public_ifma(vec.data(), bl.data(), e.data(),
                                                static_cast<int>(e.size()), m, rr.data());
        EXPECT_EQ(took, ifma && nw >= 16 && nw <= 129);
        if (took) {
          EXPECT_EQ(BN_cmp(FromLimbs(vec).get(), want.get()), 0) << "radix 2^52";
          ifma_ran++;
        } else {
          EXPECT_EQ(vec, std::vector<Limb>(static_cast<size_t>(nl), 0x5a5a));
        }
      }
    }
  }
  // Without IFMA (or with "ifma" switched off) the 64-bit form alone ran.
  if (ifma) {
    EXPECT_EQ(ifma_ran, 13 * 5 * 8);
  }
}

// BN_mod_exp_mont above 1024 bits, which takes the radix-2^52 sliding window
// where the processor has IFMA and the 64-bit one in the run with "ifma"
// switched off, against the word reference: moduli of 32, 33, 48, 64, 65 and
// 96 words (all ones, or drawn with the top bit set), bases 1, N - 1 and
// drawn ones, exponents of one bit, of runs of ones and zeros, and drawn
// ones as long as N (every window width's table).
TEST(BnPublicExp, SlidingWindowAgreesWithTheReference) {
  SplitMix64 rng{0x5117de5u};
  Ctx ctx(BN_CTX_new());
  BN_CTX* c = ctx.get();
  for (int nw : {32, 33, 48, 64, 65, 96}) {
    for (int shape = 0; shape < 2; shape++) {
      SCOPED_TRACE("words " + std::to_string(nw) + ", shape " + std::to_string(shape));
      const auto n = static_cast<uint64_t>(nw);
      Bn m = shape == 0 ? bn_test::Make(std::vector<uint32_t>(n, 0xFFFFFFFFu), false)
                        : bn_test::Make(bn_test::DrawWords(rng, n), false);
      BN_set_bit(m.get(), 32 * nw - 1);
      BN_set_bit(m.get(), 0);
      std::unique_ptr<BN_MONT_CTX, MontFree> mont(BN_MONT_CTX_new());
      ASSERT_EQ(BN_MONT_CTX_set(mont.get(), m.get(), c), 1);
      Bn n1(BN_dup(m.get()));
      ASSERT_EQ(BN_sub_word(n1.get(), 1), 1);
      Bn runs(BN_new());  // 0xFF00FF00... over 8 words
      for (int bit = 8; bit < 256; bit += (bit % 8 == 7) ? 9 : 1) {
        ASSERT_EQ(BN_set_bit(runs.get(), bit), 1);
      }
      Bn one_bit(BN_new());
      ASSERT_EQ(BN_set_bit(one_bit.get(), 32 * nw - 5), 1);
      const Bn bases[] = {bn_test::Hex("1"), Bn(BN_dup(n1.get())),
                          bn_test::Make(bn_test::DrawWords(rng, n - 1), false)};
      const Bn exps[] = {Bn(BN_dup(one_bit.get())), Bn(BN_dup(runs.get())),
                         bn_test::Make(bn_test::DrawWords(rng, n), false),
                         bn_test::Make(bn_test::DrawWords(rng, 3), false)};
      Bn got(BN_new()), want(BN_new());
      for (const Bn& a : bases) {
        for (const Bn& p : exps) {
          ASSERT_EQ(bn_ref::ModExp(want.get(), a.get(), p.get(), m.get(), c), 1);
          ASSERT_EQ(BN_mod_exp_mont(got.get(), a.get(), p.get(), m.get(), c, mont.get()), 1);
          EXPECT_EQ(BN_cmp(got.get(), want.get()), 0);
        }
      }
    }
  }
}

// The sums and products the exponentiations and BN_mul build on, against
// plain loops on unsigned __int128 (schoolbook products): add_n and sub_n
// for 0 to 9 and 15 to 17 limbs (every mix of the four-limb turns and the
// single limbs), also with r as a or b; mul_square, products and squares,
// around the Karatsuba crossovers and the split squares' sizes (12 to 65
// limbs), its scratch exactly scratch_limbs(n) limbs on the heap so that a
// write past it is caught.  Operands random, all ones, and all ones against
// one (every carry set, every borrow).
TEST(BnLimbKernels, SumsAndProductsAgreeWithPlainLoops) {
  using u128 = unsigned __int128;
  SplitMix64 rng{0x5A4D5351u};
  auto draw = [&](int n, int shape, bool second) {
    std::vector<Limb> v(static_cast<size_t>(n));
    for (auto& x : v) x = shape == 0 ? rng.Next() : ~Limb{0};
    if (shape == 2 && second && n > 0) {
      for (auto& x : v) x = 0;
      v[0] = 1;
    }
    return v;
  };
  for (int n : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 15, 16, 17}) {
    for (int shape = 0; shape < 3; shape++) {
      SCOPED_TRACE("limbs " + std::to_string(n) + ", shape " + std::to_string(shape));
      const std::vector<Limb> a = draw(n, shape, false), b = draw(n, shape, true);
      std::vector<Limb> sum(a.size()), diff(a.size());
      Limb c = 0, d = 0;
      for (size_t i = 0; i < a.size(); i++) {
        const u128 s = static_cast<u128>(a[i]) + b[i] + c;
        sum[i] = static_cast<Limb>(s);
        c = static_cast<Limb>(s >> 64);
        const u128 t = static_cast<u128>(a[i]) - b[i] - d;
        diff[i] = static_cast<Limb>(t);
        d = static_cast<Limb>(t >> 127);
      }
      std::vector<Limb> r(a.size()), x = a, y = b;
      EXPECT_EQ(limb::add_n(r.data(), a.data(), b.data(), n), c);
      EXPECT_EQ(r, sum);
      EXPECT_EQ(limb::sub_n(r.data(), a.data(), b.data(), n), d);
      EXPECT_EQ(r, diff);
      EXPECT_EQ(limb::add_n(x.data(), x.data(), b.data(), n), c);  // r = a
      EXPECT_EQ(x, sum);
      EXPECT_EQ(limb::sub_n(y.data(), a.data(), y.data(), n), d);  // r = b
      EXPECT_EQ(y, diff);
    }
  }
  for (int n : {12, 16, 23, 24, 25, 31, 32, 33, 47, 48, 49, 63, 64, 65}) {
    for (int shape = 0; shape < 3; shape++) {
      for (bool square : {false, true}) {
        SCOPED_TRACE("limbs " + std::to_string(n) + ", shape " + std::to_string(shape) +
                     (square ? ", square" : ""));
        const std::vector<Limb> a = draw(n, shape, false), b = square ? a : draw(n, shape, true);
        std::vector<Limb> want(2 * a.size());
        for (size_t j = 0; j < b.size(); j++) {
          Limb c = 0;
          for (size_t i = 0; i < a.size(); i++) {
            const u128 t = static_cast<u128>(a[i]) * b[j] + want[i + j] + c;
            want[i + j] = static_cast<Limb>(t);
            c = static_cast<Limb>(t >> 64);
          }
          want[j + a.size()] = c;
        }
        std::vector<Limb> got(2 * a.size()), scratch(limb::scratch_limbs(n));
        limb::mul_square(got.data(), a.data(), square ? a.data() : b.data(), n, scratch.data());
        EXPECT_EQ(got, want);
      }
    }
  }
}

}  // namespace
