// P-521's field in the constant-time engine (crypto/ec/ct_p521.h), against
// the big-number functions modulo 2^521 - 1: product, square, sum,
// difference, inverse, the conversions from and to plain limbs and the zero
// test, through the engine's field record (which must choose P-521's
// arithmetic) and on raw digits at the largest values the representation
// allows (every digit at its bound, values of p and above; products of
// digits up to the wider bound the doubling uses), and the doubling against
// the generic formula.  Every result's digits must stay within the bound.  The curve constants kept with the
// field are the named curve's, and its record reads 521-bit scalars (a
// group given another order 576).

#include <morvane/bn.h>
#include <morvane/ec.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn_test_util.h"
#include "ec/ct_arith.h"
#include "ec/ecp_ct_table.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;
using namespace morvane::ec::ctarith;
namespace d521 = morvane::ec::ctarith::p521;

using Digits = std::vector<uint64_t>;

// 2^521 - 1 (FIPS 186-4, D.1.2.5).
Bn Prime() {
  Bn p(BN_new());
  EXPECT_TRUE(BN_set_bit(p.get(), 521));
  EXPECT_TRUE(BN_sub_word(p.get(), 1));
  return p;
}

// The number sum d_i 2^(58 i), not reduced.
Bn Value(const uint64_t d[9]) {
  Bn v(BN_new()), t(BN_new());
  BN_zero(v.get());
  for (size_t i = 9; i-- > 0;) {
    EXPECT_TRUE(BN_lshift(v.get(), v.get(), 58));
    EXPECT_TRUE(BN_set_word(t.get(), static_cast<BN_ULONG>(d[i] >> 32)));
    EXPECT_TRUE(BN_lshift(t.get(), t.get(), 32));
    EXPECT_TRUE(BN_add_word(t.get(), static_cast<BN_ULONG>(d[i] & 0xffffffffu)));
    EXPECT_TRUE(BN_add(v.get(), v.get(), t.get()));
  }
  return v;
}

Bn Reduced(const uint64_t d[9], const BIGNUM* p, BN_CTX* ctx) {
  Bn v = Value(d);
  EXPECT_TRUE(BN_nnmod(v.get(), v.get(), p, ctx));
  return v;
}

void ExpectLoose(const uint64_t d[9], const std::string& what) {
  for (size_t i = 0; i < 9; i++) EXPECT_LT(d[i], d521::kLoose) << what << " digit " << i;
}

// Edge digit patterns: zero, one, p, p + 1, 2^521, 2^522 - 1 (as nine full
// digits), every digit at its bound, the pattern 2^58 - 1 with digit 8 at
// 2^57 and 2^57 - 1, and seeded random digits up to the bound.
std::vector<Digits> Patterns() {
  std::vector<Digits> out;
  const uint64_t m = d521::kMask, top = d521::kLoose - 1;
  out.push_back(Digits(9, 0));
  Digits one(9, 0);
  one[0] = 1;
  out.push_back(one);
  Digits p(9, m);
  p[8] = d521::kTopMask;
  out.push_back(p);  // p itself: zero
  Digits p1 = p;
  p1[0] = m + 1;
  out.push_back(p1);  // p + 1, digit 0 above 58 bits
  Digits two521(9, 0);
  two521[8] = uint64_t{1} << 57;
  out.push_back(two521);
  out.push_back(Digits(9, m));
  out.push_back(Digits(9, top));
  Digits high = Digits(9, m);
  high[8] = uint64_t{1} << 57;
  out.push_back(high);
  bn_test::SplitMix64 rng{0x521};
  for (int i = 0; i < 60; i++) {
    Digits d(9);
    for (uint64_t& x : d) x = rng.Next() % d521::kLoose;
    if (i % 4 == 0) d[i % 9] = top;
    out.push_back(d);
  }
  return out;
}

TEST(EcP521Field, DigitsAgreeWithBignum) {
  Ctx ctx(BN_CTX_new());
  Bn p = Prime();
  Bn want(BN_new());
  const std::vector<Digits> in = Patterns();
  for (size_t i = 0; i < in.size(); i++) {
    const uint64_t* a = in[i].data();
    SCOPED_TRACE("a = pattern " + std::to_string(i));
    Bn va = Reduced(a, p.get(), ctx.get());
    uint64_t r[9], w[9];

    d521::canonical(r, a);
    EXPECT_EQ(Show(Value(r).get()), Show(va.get()));
    EXPECT_LT(BN_cmp(Value(r).get(), p.get()), 0);
    d521::to_words(w, a);
    EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(va.get()));
    EXPECT_EQ(d521::zero_mask(a), BN_is_zero(va.get()) ? ~uint64_t{0} : 0);

    d521::sqr(r, a);
    ExpectLoose(r, "sqr");
    BN_mod_mul(want.get(), va.get(), va.get(), p.get(), ctx.get());
    EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get())) << "sqr";

    d521::invert(r, a);
    ExpectLoose(r, "invert");
    if (BN_is_zero(va.get())) {
      BN_zero(want.get());
    } else {
      ASSERT_NE(BN_mod_inverse(want.get(), va.get(), p.get(), ctx.get()), nullptr);
    }
    EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get())) << "invert";

    for (size_t j = i % 5; j < in.size(); j += 5) {
      const uint64_t* b = in[j].data();
      Bn vb = Reduced(b, p.get(), ctx.get());
      SCOPED_TRACE("b = pattern " + std::to_string(j));
      d521::mul(r, a, b);
      ExpectLoose(r, "mul");
      BN_mod_mul(want.get(), va.get(), vb.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get())) << "mul";
      d521::add(r, a, b);
      ExpectLoose(r, "add");
      BN_mod_add(want.get(), va.get(), vb.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get())) << "add";
      d521::sub(r, a, b);
      ExpectLoose(r, "sub");
      BN_mod_sub(want.get(), va.get(), vb.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get())) << "sub";
    }
  }
}

// The engine's record for 2^521 - 1 takes P-521's arithmetic; plain numbers
// (any value below 2^576) go in and come out reduced, and the products,
// sums and inverses agree with the big-number functions.
TEST(EcP521Field, EngineRecordConvertsAndComputes) {
  Ctx ctx(BN_CTX_new());
  Bn p = Prime();
  Field<9> f{};
  ASSERT_TRUE(init_modulus<9>(f, p.get(), ctx.get()));
  EXPECT_EQ(f.kind, FieldKind::kP521);

  std::vector<Bn> in;
  for (const char* h : {"0", "1", "2"}) in.push_back(Hex(h));
  for (BN_ULONG d : {0, 1, 2}) {  // p, p - 1, p - 2
    Bn x(BN_dup(p.get()));
    BN_sub_word(x.get(), d);
    in.push_back(std::move(x));
  }
  for (int k : {57, 58, 64, 116, 128, 464, 520, 521, 522, 575}) {  // 2^k and 2^k - 1
    Bn x(BN_new());
    BN_set_bit(x.get(), k);
    Bn y(BN_dup(x.get()));
    BN_sub_word(y.get(), 1);
    in.push_back(std::move(x));
    in.push_back(std::move(y));
  }
  bn_test::SplitMix64 rng{0x5eed0521};
  for (int i = 0; i < 30; i++) {
    std::vector<uint32_t> w(i % 3 == 0 ? 18 : 17);
    for (uint32_t& x : w) x = static_cast<uint32_t>(rng.Next());
    if (w.size() == 17) w[16] &= 0x1ff;
    in.push_back(bn_test::Make(w, false));
  }

  Bn want(BN_new()), ra(BN_new()), rb(BN_new());
  for (size_t i = 0; i < in.size(); i++) {
    const BIGNUM* a = in[i].get();
    SCOPED_TRACE("a = " + Show(a));
    BN_nnmod(ra.get(), a, p.get(), ctx.get());
    Fe<9> fa, r;
    ASSERT_TRUE(to_mont(fa, a, f));
    ExpectLoose(fa.v, "from_plain");
    uint64_t w[9];
    to_plain(w, fa, f);
    EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(ra.get()));
    EXPECT_EQ(fe_zero_mask(fa, f), BN_is_zero(ra.get()) ? ~uint64_t{0} : 0);
    sqr(r, fa, f);
    to_plain(w, r, f);
    BN_mod_mul(want.get(), ra.get(), ra.get(), p.get(), ctx.get());
    EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(want.get())) << "sqr";
    invert(r, fa, f);
    to_plain(w, r, f);
    if (BN_is_zero(ra.get())) {
      BN_zero(want.get());
    } else {
      ASSERT_NE(BN_mod_inverse(want.get(), ra.get(), p.get(), ctx.get()), nullptr);
    }
    EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(want.get())) << "invert";
    for (size_t j = i; j < in.size(); j += 7) {
      const BIGNUM* b = in[j].get();
      SCOPED_TRACE("b = " + Show(b));
      BN_nnmod(rb.get(), b, p.get(), ctx.get());
      Fe<9> fb;
      ASSERT_TRUE(to_mont(fb, b, f));
      mul(r, fa, fb, f);
      to_plain(w, r, f);
      BN_mod_mul(want.get(), ra.get(), rb.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(want.get())) << "mul";
      add(r, fa, fb, f);
      to_plain(w, r, f);
      BN_mod_add(want.get(), ra.get(), rb.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(want.get())) << "add";
      sub(r, fa, fb, f);
      to_plain(w, r, f);
      BN_mod_sub(want.get(), ra.get(), rb.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(w)).get()), Show(want.get())) << "sub";
    }
  }
}

// Products and squares of wide digits (up to kWide, as the doubling gives
// them) against the big-number functions.
TEST(EcP521Field, WideProductsAgreeWithBignum) {
  Ctx ctx(BN_CTX_new());
  Bn p = Prime();
  Bn want(BN_new());
  std::vector<Digits> in{Digits(9, d521::kWide), Digits(9, d521::kWide - 1)};
  bn_test::SplitMix64 rng{0x3d1de};
  for (int i = 0; i < 40; i++) {
    Digits d(9);
    for (uint64_t& x : d) x = rng.Next() % (d521::kWide + 1);
    if (i % 3 == 0) d[i % 9] = d521::kWide;
    in.push_back(d);
  }
  for (size_t i = 0; i < in.size(); i++) {
    const uint64_t* a = in[i].data();
    Bn va = Reduced(a, p.get(), ctx.get());
    uint64_t r[9];
    d521::sqr(r, a);
    ExpectLoose(r, "sqr");
    BN_mod_mul(want.get(), va.get(), va.get(), p.get(), ctx.get());
    EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get())) << "sqr " << i;
    for (size_t j = 0; j < in.size(); j += 3) {
      const uint64_t* b = in[j].data();
      d521::mul(r, a, b);
      ExpectLoose(r, "mul");
      BN_mod_mul(want.get(), va.get(), Reduced(b, p.get(), ctx.get()).get(), p.get(), ctx.get());
      EXPECT_EQ(Show(Reduced(r, p.get(), ctx.get()).get()), Show(want.get()))
          << "mul " << i << " " << j;
    }
  }
}

// The doubling with unreduced sums gives the coordinates of the engine's
// generic a = -3 doubling (the same formula in Montgomery arithmetic over
// the same prime), for loose inputs up to the digits' bound, in place too.
TEST(EcP521Field, DoublingMatchesTheGenericFormula) {
  Ctx ctx(BN_CTX_new());
  Bn p = Prime();
  Field<9> generic{};
  ASSERT_TRUE(init_modulus<9>(generic, p.get(), ctx.get()));
  generic.kind = FieldKind::kGeneric;
  const std::vector<Digits> in = Patterns();
  for (size_t i = 0; i + 2 < in.size(); i++) {
    SCOPED_TRACE("point " + std::to_string(i));
    const Digits* xyz[3] = {&in[i], &in[(i * 7 + 1) % in.size()], &in[(i * 13 + 2) % in.size()]};
    Pt<9> g;
    Fe<9>* coords[3] = {&g.x, &g.y, &g.z};
    for (int c = 0; c < 3; c++)
      ASSERT_TRUE(to_mont(*coords[c], Reduced(xyz[c]->data(), p.get(), ctx.get()).get(), generic));
    point_dbl_jac_m3(g, g, generic);
    uint64_t x[9], y[9], z[9];
    for (int k = 0; k < 9; k++) {
      x[k] = (*xyz[0])[k];
      y[k] = (*xyz[1])[k];
      z[k] = (*xyz[2])[k];
    }
    d521::dbl_jac_m3(x, y, z, x, y, z);
    const uint64_t* mine[3] = {x, y, z};
    for (int c = 0; c < 3; c++) {
      ExpectLoose(mine[c], "coordinate " + std::to_string(c));
      uint64_t w[9];
      to_plain(w, *coords[c], generic);
      EXPECT_EQ(Show(Reduced(mine[c], p.get(), ctx.get()).get()),
                Show(Bn(morvane::ec::from_limbs<9>(w)).get()))
          << "coordinate " << c;
    }
  }
}

// b and n kept with the field are those of the named curve, whose record
// reads 521 bits of scalar; with another order it reads all 576.
TEST(EcP521Field, CurveConstantsAndScalarLength) {
  EC_GROUP* g = EC_GROUP_new_by_curve_name(716);
  ASSERT_NE(g, nullptr);
  Ctx ctx(BN_CTX_new());
  Bn b(BN_new()), n(BN_new());
  ASSERT_TRUE(EC_GROUP_get_curve_GFp(g, nullptr, nullptr, b.get(), ctx.get()));
  ASSERT_TRUE(EC_GROUP_get_order(g, n.get(), ctx.get()));
  EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(d521::kB)).get()), Show(b.get()));
  EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<9>(d521::kOrder)).get()), Show(n.get()));
  EC_POINT* r = EC_POINT_new(g);
  ASSERT_EQ(EC_POINT_mul(g, r, BN_value_one(), nullptr, nullptr, ctx.get()), 1);
  using morvane::ec::cttable::Cache;
  EXPECT_EQ(static_cast<Cache<9>*>(g->ct_cache)->scalar_bits, 521u);
  ASSERT_TRUE(BN_add_word(n.get(), 2));
  EC_POINT* gen = EC_POINT_dup(EC_GROUP_get0_generator(g), g);
  ASSERT_TRUE(EC_GROUP_set_generator(g, gen, n.get(), BN_value_one()));
  ASSERT_EQ(EC_POINT_mul(g, r, BN_value_one(), nullptr, nullptr, ctx.get()), 1);
  EXPECT_EQ(static_cast<Cache<9>*>(g->ct_cache)->scalar_bits, 576u);
  EC_POINT_free(gen);
  EC_POINT_free(r);
  EC_GROUP_free(g);
}

// Another 9-limb prime keeps the Montgomery arithmetic.
TEST(EcP521Field, OtherNineLimbPrimeStaysGeneric) {
  Ctx ctx(BN_CTX_new());
  Bn q(BN_new());  // 2^575 - 1: odd, nine limbs
  ASSERT_TRUE(BN_set_bit(q.get(), 575));
  ASSERT_TRUE(BN_sub_word(q.get(), 1));
  Field<9> f{};
  ASSERT_TRUE(init_modulus<9>(f, q.get(), ctx.get()));
  EXPECT_EQ(f.kind, FieldKind::kGeneric);
}

}  // namespace
