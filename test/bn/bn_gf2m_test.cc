// GF(2^m): the exponent arrays, the word products, and every operation
// against a bit-by-bit model in this file (carry-less products by shifts,
// reduction by long division), over the reduction polynomials of the binary
// curves of FIPS 186-4 (D.1.3) and SEC 2; inversion, square roots and the
// quadratic equation by their defining properties.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn/gf2m_words.h"
#include "bn_det_rand.h"
#include "bn_test_util.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;

// ---- the model: polynomials as bit vectors in 32-bit words ----

using Poly = std::vector<uint32_t>;

int Degree(const Poly& a) {
  for (size_t i = a.size(); i-- > 0;)
    for (int b = 31; b >= 0; b--)
      if ((a[i] >> b) & 1) return static_cast<int>(32 * i) + b;
  return -1;
}
bool Bit(const Poly& a, int i) {
  return static_cast<size_t>(i / 32) < a.size() &&
         ((a[static_cast<size_t>(i / 32)] >> (i % 32)) & 1);
}
void Flip(Poly& a, int i) {
  if (a.size() <= static_cast<size_t>(i / 32)) a.resize(static_cast<size_t>(i / 32) + 1);
  a[static_cast<size_t>(i / 32)] ^= 1u << (i % 32);
}
// a ^= b x^s.
void XorShifted(Poly& a, const Poly& b, int s) {
  const size_t w = static_cast<size_t>(s / 32), bits = static_cast<size_t>(s % 32);
  if (a.size() < b.size() + w + 1) a.resize(b.size() + w + 1);
  for (size_t i = 0; i < b.size(); i++) {
    a[i + w] ^= b[i] << bits;
    if (bits != 0) a[i + w + 1] ^= b[i] >> (32 - bits);
  }
}
Poly Trim(Poly a) {
  while (!a.empty() && a.back() == 0) a.pop_back();
  return a;
}
Poly ModelMul(const Poly& a, const Poly& b) {
  Poly r;
  for (int i = 0; i <= Degree(a); i++)
    if (Bit(a, i)) XorShifted(r, b, i);
  return Trim(r);
}
Poly ModelMod(Poly a, const Poly& p) {
  const int m = Degree(p);
  for (int d = Degree(a); d >= m; d = Degree(a)) XorShifted(a, p, d - m);
  return Trim(a);
}
Bn ToBn(const Poly& a) {
  return bn_test::Make(a, false);
}
Poly FromBn(const BIGNUM* a) {
  return {a->d, a->d + a->top};
}
Poly FromTerms(std::initializer_list<int> terms) {
  Poly p;
  for (int t : terms) Flip(p, t);
  return p;
}

// FIPS 186-4, D.1.3 (B-163 to B-571) and SEC 2 (sect113r1, sect131r1).
const std::vector<std::vector<unsigned>> kFields = {
    {113, 9, 0},        {131, 8, 3, 2, 0}, {163, 7, 6, 3, 0},  {233, 74, 0},
    {283, 12, 7, 5, 0}, {409, 87, 0},      {571, 10, 5, 2, 0},
};

Poly FieldPoly(const std::vector<unsigned>& f) {
  Poly p;
  for (unsigned t : f) Flip(p, static_cast<int>(t));
  return p;
}

// ---- exponent arrays ----

TEST(BnGF2m, Poly2ArrAndBack) {
  Bn p = ToBn(FromTerms({163, 7, 6, 3, 0}));
  unsigned arr[164] = {};
  ASSERT_EQ(BN_GF2m_poly2arr(p.get(), arr, 164), 5);
  EXPECT_EQ(std::vector<unsigned>(arr, arr + 5), (std::vector<unsigned>{163, 7, 6, 3, 0}));
  unsigned two[3] = {99, 99, 99};
  EXPECT_EQ(BN_GF2m_poly2arr(p.get(), two, 2), 5);
  EXPECT_EQ(std::vector<unsigned>(two, two + 3), (std::vector<unsigned>{163, 7, 99}));
  EXPECT_EQ(BN_GF2m_poly2arr(Hex("6").get(), arr, 164), 0);  // x^2 + x
  EXPECT_EQ(BN_GF2m_poly2arr(Hex("0").get(), arr, 164), 0);
  Bn back(BN_new());
  const unsigned f[] = {163, 7, 6, 3, 0};
  ASSERT_EQ(BN_GF2m_arr2poly(f, back.get()), 1);
  EXPECT_EQ(BN_cmp(back.get(), p.get()), 0);
  const unsigned one[] = {0};
  ASSERT_EQ(BN_GF2m_arr2poly(one, back.get()), 1);
  EXPECT_TRUE(BN_is_one(back.get()));
}

TEST(BnGF2m, AddOfEqualNumbersIsZero) {
  Bn a(Hex("123456789ABCDEF0123")), r(Hex("-77"));
  ASSERT_EQ(BN_GF2m_add(r.get(), a.get(), a.get()), 1);
  EXPECT_EQ(r->top, 0);
  EXPECT_EQ(r->neg, 0);
  Bn b(Hex("F0")), c(BN_new());
  ASSERT_EQ(BN_GF2m_add(c.get(), b.get(), a.get()), 1);
  EXPECT_EQ(Show(c.get()), "0123456789ABCDEF01D3");
}

// ---- word products ----

uint64_t ModelWords(uint32_t a, uint32_t b) {
  uint64_t r = 0;
  for (int i = 0; i < 32; i++)
    if ((b >> i) & 1) r ^= uint64_t{a} << i;
  return r;
}

TEST(BnGF2mWords, OneByOneAndTwoByTwo) {
  BN_ULONG h = 0, l = 0;
  morvane::bn::bn_GF2m_mul_1x1(&h, &l, 0xFFFFFFFF, 0xFFFFFFFF);
  EXPECT_EQ(h, 0x55555555u);
  EXPECT_EQ(l, 0x55555555u);
  bn_test::SplitMix64 rng{1};
  for (int i = 0; i < 20000; i++) {
    const auto w = bn_test::DrawWords(rng, 4);
    morvane::bn::bn_GF2m_mul_1x1(&h, &l, w[0], w[1]);
    ASSERT_EQ((uint64_t{h} << 32) | l, ModelWords(w[0], w[1])) << w[0] << " " << w[1];
    BN_ULONG r[4];
    morvane::bn::bn_GF2m_mul_2x2(r, w[1], w[0], w[3], w[2]);
    const Poly want = ModelMul({w[0], w[1]}, {w[2], w[3]});
    for (size_t k = 0; k < 4; k++) ASSERT_EQ(r[k], k < want.size() ? want[k] : 0u) << k;
  }
}

// ---- reduction, products, squares, against the model ----

TEST(BnGF2m, ReductionExamples) {
  Bn r(BN_new()), x163(BN_new()), p = ToBn(FromTerms({163, 7, 6, 3, 0}));
  BN_set_bit(x163.get(), 163);
  ASSERT_EQ(BN_GF2m_mod(r.get(), x163.get(), p.get()), 1);
  EXPECT_EQ(Show(r.get()), "C9");  // x^7 + x^6 + x^3 + 1
  // 163 bits, below x^163: unchanged, and non-negative.
  Bn small(Hex("-7" + std::string(40, 'F')));
  ASSERT_EQ(BN_GF2m_mod(r.get(), small.get(), p.get()), 1);
  EXPECT_EQ(Show(r.get()), "07" + std::string(40, 'F'));
  const unsigned one[] = {0};
  ASSERT_EQ(BN_GF2m_mod_arr(r.get(), small.get(), one), 1);
  EXPECT_TRUE(BN_is_zero(r.get()));
}

TEST(BnGF2m, ModulusWithoutArrayForm) {
  Ctx ctx(BN_CTX_new());
  Bn r(BN_new()), a(Hex("5")), even(Hex("6")), zero(BN_new());
  const struct {
    int func;
    int ok;
  } calls[] = {
      {BN_F_BN_GF2M_MOD, BN_GF2m_mod(r.get(), a.get(), even.get())},
      {BN_F_BN_GF2M_MOD_MUL, BN_GF2m_mod_mul(r.get(), a.get(), a.get(), zero.get(), ctx.get())},
      {BN_F_BN_GF2M_MOD_SQR, BN_GF2m_mod_sqr(r.get(), a.get(), even.get(), ctx.get())},
      {BN_F_BN_GF2M_MOD_EXP, BN_GF2m_mod_exp(r.get(), a.get(), a.get(), even.get(), ctx.get())},
      {BN_F_BN_GF2M_MOD_SQRT, BN_GF2m_mod_sqrt(r.get(), a.get(), zero.get(), ctx.get())},
      {BN_F_BN_GF2M_MOD_SOLVE_QUAD,
       BN_GF2m_mod_solve_quad(r.get(), a.get(), even.get(), ctx.get())},
  };
  for (const auto& c : calls) {
    EXPECT_EQ(c.ok, 0);
  }
  std::vector<morvane_test::ErrEntry> want;
  for (const auto& c : calls) want.push_back({ERR_LIB_BN, c.func, BN_R_INVALID_LENGTH});
  EXPECT_ERRORS(want);
}

TEST(BnGF2m, AgreesWithTheModel) {
  Ctx ctx(BN_CTX_new());
  bn_test::SplitMix64 rng{2};
  Bn r(BN_new());
  for (const auto& f : kFields) {
    const Poly p = FieldPoly(f);
    Bn pn = ToBn(p);
    const uint64_t words = f[0] / 32 + 1;
    for (int i = 0; i < 100; i++) {
      Bn a = ToBn(bn_test::DrawWords(rng, 1 + rng.Next() % (2 * words)));
      Bn b = ToBn(bn_test::DrawWords(rng, 1 + rng.Next() % words));
      ASSERT_EQ(BN_GF2m_mod_arr(r.get(), a.get(), f.data()), 1);
      ASSERT_EQ(FromBn(r.get()), ModelMod(FromBn(a.get()), p)) << f[0];
      ASSERT_EQ(BN_GF2m_mod_mul(r.get(), a.get(), b.get(), pn.get(), ctx.get()), 1);
      ASSERT_EQ(FromBn(r.get()), ModelMod(ModelMul(FromBn(a.get()), FromBn(b.get())), p));
      ASSERT_EQ(BN_GF2m_mod_sqr_arr(r.get(), b.get(), f.data(), ctx.get()), 1);
      ASSERT_EQ(FromBn(r.get()), ModelMod(ModelMul(FromBn(b.get()), FromBn(b.get())), p));
      // In place, and a and b the same object.
      Bn c(BN_dup(a.get()));
      ASSERT_EQ(BN_GF2m_mod_mul_arr(c.get(), c.get(), c.get(), f.data(), ctx.get()), 1);
      ASSERT_EQ(FromBn(c.get()), ModelMod(ModelMul(FromBn(a.get()), FromBn(a.get())), p));
    }
  }
  // (x + 1)^2 = x^2 + 1 modulo any p of degree 3 or more.
  Bn x1(Hex("3"));
  ASSERT_EQ(BN_GF2m_mod_mul(r.get(), x1.get(), x1.get(), Hex("B").get(), ctx.get()), 1);
  EXPECT_EQ(Show(r.get()), "05");
}

// ---- inversion and division ----

TEST(BnGF2m, InverseAndDivision) {
  Ctx ctx(BN_CTX_new());
  bn_test::SplitMix64 rng{3};
  const std::vector<unsigned>& f = kFields[2];  // x^163 + x^7 + x^6 + x^3 + 1
  Bn p = ToBn(FieldPoly(f)), inv(BN_new()), r(BN_new()), q(BN_new());
  for (int i = 0; i < 100; i++) {
    Bn a = ToBn(bn_test::DrawWords(rng, 1 + rng.Next() % 8));
    BN_GF2m_mod(a.get(), a.get(), p.get());
    if (BN_is_zero(a.get())) continue;
    ASSERT_EQ(BN_GF2m_mod_inv(inv.get(), a.get(), p.get(), ctx.get()), 1);
    ASSERT_EQ(BN_GF2m_mod_mul(r.get(), a.get(), inv.get(), p.get(), ctx.get()), 1);
    ASSERT_TRUE(BN_is_one(r.get())) << Show(a.get());
    Bn y = ToBn(bn_test::DrawWords(rng, 6));
    ASSERT_EQ(BN_GF2m_mod_div_arr(q.get(), y.get(), a.get(), f.data(), ctx.get()), 1);
    ASSERT_EQ(BN_GF2m_mod_mul(r.get(), q.get(), a.get(), p.get(), ctx.get()), 1);
    BN_GF2m_mod(y.get(), y.get(), p.get());
    ASSERT_EQ(BN_cmp(r.get(), y.get()), 0);
    ASSERT_EQ(BN_GF2m_mod_inv_arr(r.get(), a.get(), f.data(), ctx.get()), 1);
    ASSERT_EQ(BN_cmp(r.get(), inv.get()), 0);
  }
  // 0 and p itself have no inverse; nothing is queued.
  EXPECT_EQ(BN_GF2m_mod_inv(r.get(), Hex("0").get(), p.get(), ctx.get()), 0);
  EXPECT_EQ(BN_GF2m_mod_inv(r.get(), p.get(), p.get(), ctx.get()), 0);
  EXPECT_EQ(BN_GF2m_mod_div(r.get(), p.get(), p.get(), p.get(), ctx.get()), 0);
  EXPECT_ERRORS({});
}

// Modulo the reducible (x^2 + x + 1)(x^3 + x + 1) = x^5 + x^4 + 1, an
// element sharing a factor has no inverse: the loop used to run forever.
TEST(BnGF2m, NoInverseModuloAReduciblePolynomial) {
  Ctx ctx(BN_CTX_new());
  Bn p(Hex("31")), r(BN_new());
  for (const char* a : {"7", "B", "E", "16"}) {  // multiples of either factor
    EXPECT_EQ(BN_GF2m_mod_inv(r.get(), Hex(a).get(), p.get(), ctx.get()), 0) << a;
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_GF2M_MOD_INV, BN_R_NO_INVERSE}});
  }
  ASSERT_EQ(BN_GF2m_mod_inv(r.get(), Hex("2").get(), p.get(), ctx.get()), 1);
  ASSERT_EQ(BN_GF2m_mod_mul(r.get(), r.get(), Hex("2").get(), p.get(), ctx.get()), 1);
  EXPECT_TRUE(BN_is_one(r.get()));
}

// ---- exponentiation, square roots, the quadratic equation ----

TEST(BnGF2m, Exponentiation) {
  Ctx ctx(BN_CTX_new());
  const std::vector<unsigned>& f = kFields[4];  // B-283
  const Poly p = FieldPoly(f);
  Bn r(BN_new()), big = ToBn(FromTerms({300, 5, 0}));
  ASSERT_EQ(BN_GF2m_mod_exp_arr(r.get(), big.get(), Hex("0").get(), f.data(), ctx.get()), 1);
  EXPECT_TRUE(BN_is_one(r.get()));
  ASSERT_EQ(BN_GF2m_mod_exp(r.get(), big.get(), Hex("1").get(), ToBn(p).get(), ctx.get()), 1);
  EXPECT_EQ(BN_cmp(r.get(), big.get()), 0);  // not reduced
  ASSERT_EQ(BN_GF2m_mod_exp_arr(r.get(), big.get(), Hex("-1").get(), f.data(), ctx.get()), 1);
  EXPECT_EQ(BN_cmp(r.get(), big.get()), 0);
  // a^e by repeated products in the model.
  for (int e : {2, 3, 10, 77}) {
    Poly want = {1};
    for (int i = 0; i < e; i++) want = ModelMod(ModelMul(want, FromBn(big.get())), p);
    Bn en(BN_new());
    BN_set_word(en.get(), static_cast<BN_ULONG>(e));
    ASSERT_EQ(BN_GF2m_mod_exp_arr(r.get(), big.get(), en.get(), f.data(), ctx.get()), 1);
    EXPECT_EQ(FromBn(r.get()), want) << e;
  }
}

TEST(BnGF2m, SquareRoots) {
  Ctx ctx(BN_CTX_new());
  bn_test::SplitMix64 rng{4};
  Bn r(BN_new()), s(BN_new());
  for (const auto& f : kFields) {
    Bn pn = ToBn(FieldPoly(f));
    Bn a = ToBn(bn_test::DrawWords(rng, f[0] / 32 + 3));
    ASSERT_EQ(BN_GF2m_mod_sqrt(r.get(), a.get(), pn.get(), ctx.get()), 1);
    ASSERT_EQ(BN_GF2m_mod_sqr_arr(s.get(), r.get(), f.data(), ctx.get()), 1);
    BN_GF2m_mod(a.get(), a.get(), pn.get());
    EXPECT_EQ(BN_cmp(s.get(), a.get()), 0) << f[0];
  }
}

TEST(BnGF2m, QuadraticEquation) {
  bn_test::InstallDetRand(5);
  Ctx ctx(BN_CTX_new());
  bn_test::SplitMix64 rng{5};
  Bn r(BN_new()), a(BN_new()), other(BN_new());
  // Odd degrees (the half-trace) and an even one, x^4 + x + 1 (random rho).
  std::vector<std::vector<unsigned>> fields = kFields;
  fields.push_back({4, 1, 0});
  fields.push_back({8, 4, 3, 1, 0});
  for (const auto& f : fields) {
    Bn pn = ToBn(FieldPoly(f));
    for (int i = 0; i < 5; i++) {
      Bn z0 = ToBn(bn_test::DrawWords(rng, f[0] / 32 + 1));
      BN_GF2m_mod(z0.get(), z0.get(), pn.get());
      BN_GF2m_mod_sqr(a.get(), z0.get(), pn.get(), ctx.get());
      BN_GF2m_add(a.get(), a.get(), z0.get());  // a = z0^2 + z0
      ASSERT_EQ(BN_GF2m_mod_solve_quad(r.get(), a.get(), pn.get(), ctx.get()), 1) << f[0];
      BN_GF2m_add(other.get(), z0.get(), BN_value_one());
      EXPECT_TRUE(BN_cmp(r.get(), z0.get()) == 0 || BN_cmp(r.get(), other.get()) == 0) << f[0];
    }
  }
  // Tr(1) = m mod 2: for odd m, z^2 + z = 1 has no root.
  EXPECT_EQ(BN_GF2m_mod_solve_quad_arr(r.get(), BN_value_one(), kFields[2].data(), ctx.get()), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_GF2M_MOD_SOLVE_QUAD_ARR, BN_R_NO_SOLUTION}});
  EXPECT_EQ(BN_GF2m_mod_solve_quad_arr(r.get(), Hex("0").get(), kFields[2].data(), ctx.get()), 1);
  EXPECT_TRUE(BN_is_zero(r.get()));
}

}  // namespace
