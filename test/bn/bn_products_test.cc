// Ten thousand random cases (operands of 1 to 140 words, both signs, the
// shapes of the size rules among them) through multiplication, squaring,
// division, the modular operations and their quick forms, against hashes of
// the results computed with Python integers by tools/gen_bn_vectors.py
// --products (which documents the draw and the hashes).  Every operation also
// runs with its result in each operand's record; the secret division and the
// reciprocal division must agree with BN_div.  A second test takes the
// exponentiations, GCD, inverse and Kronecker symbol through 2000 cases of
// tools/gen_bn_vectors.py --exponents.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bn_test_util.h"
#include "test_support.h"

namespace {

using namespace bn_test;

constexpr int kShapes[][2] = {{8, 8},     {16, 16}, {16, 17}, {17, 16}, {16, 18}, {15, 15},
                              {32, 31},   {31, 32}, {4, 4},   {64, 64}, {33, 32}, {128, 127},
                              {140, 139}, {1, 1},   {17, 17}, {64, 63}};

Bn DrawNumber(SplitMix64& rng, uint64_t n) {
  auto w = DrawWords(rng, n);
  if (rng.Next() % 8 == 0) std::copy_n(w.begin(), n / 2, w.end() - n / 2);  // equal halves
  if (w.back() == 0) w.back() = 1;
  return Make(w, rng.Next() & 1);
}

// r = op(x, y, m); then with r in a copy of each operand's record (the first
// `slots` of x, y, m) and r = x = y: each must give the same.
Bn Aliased(Op op, const BIGNUM* x, const BIGNUM* y, const BIGNUM* m, int slots = 3) {
  Bn r(BN_new()), twice(BN_new()), same(BN_dup(x));
  EXPECT_EQ(op(r.get(), x, y, m), 1);
  for (int k = 0; k < slots; k++) {
    Bn c[3] = {Bn(BN_dup(x)), Bn(BN_dup(y)), Bn(BN_dup(m))};
    EXPECT_EQ(op(c[k].get(), c[0].get(), c[1].get(), c[2].get()), 1);
    EXPECT_EQ(BN_cmp(c[k].get(), r.get()), 0) << "result in operand " << k;
  }
  EXPECT_EQ(op(twice.get(), x, x, m), 1);
  EXPECT_EQ(op(same.get(), same.get(), same.get(), m), 1);
  EXPECT_EQ(BN_cmp(same.get(), twice.get()), 0) << "result in both operands";
  return r;
}

// The quotient and remainder of num / d hashed (each result in every
// operand's record); the secret form and (with recp) the reciprocal division
// must agree.
void Divide(Fnv& h, const BIGNUM* num, const BIGNUM* d, const BIGNUM* m, BN_RECP_CTX* recp) {
  Bn q = Aliased(kOps.at("div"), num, d, m), r = Aliased(kOps.at("rem"), num, d, m);
  Bn s(BN_dup(num)), q2(BN_new()), r2(BN_new());
  h.Num(q.get());
  h.Num(r.get());
  BN_set_flags(s.get(), BN_FLAG_SECRET);
  EXPECT_EQ(BN_div(q2.get(), r2.get(), s.get(), d, g_ctx), 1);
  EXPECT_TRUE(BN_cmp(q2.get(), q.get()) == 0 && BN_cmp(r2.get(), r.get()) == 0) << "secret";
  if (d != m) return;
  EXPECT_EQ(BN_div_recp(q2.get(), r2.get(), num, recp, g_ctx), 1);
  EXPECT_TRUE(BN_cmp(q2.get(), q.get()) == 0 && BN_cmp(r2.get(), r.get()) == 0) << "reciprocal";
}

const char* const kProducts[] = {"mul", "sqr"};
const char* const kModular[] = {"nnmod",   "mod_add",     "mod_sub",   "mod_mul",
                                "mod_sqr", "mod_lshift1", "mod_lshift"};
const char* const kQuick[] = {"mod_add_quick", "mod_sub_quick", "mod_lshift1_quick",
                              "mod_lshift_quick"};

}  // namespace

TEST(BnDifferential, ProductsAndDivisionAgreeWithIntegerModel) {
  SplitMix64 rng{0};
  const auto records = ReadCases("bn/products.txt", rng);
  const size_t count = records.size();
  Ctx ctx(BN_CTX_new());
  g_ctx = ctx.get();
  for (size_t c = 0; c < count; c++) {
    SCOPED_TRACE("case " + std::to_string(c));
    const uint64_t r = rng.Next();
    uint64_t na = 1 + rng.Next() % 140, nb = 1 + rng.Next() % 140;
    if (r % 8 == 0) nb = na;
    if (r % 8 == 1) nb = std::clamp<uint64_t>(na + ((r & 8) ? 1 : -1), 1, 140);
    if (r % 8 == 2) na = kShapes[(r >> 4) % 16][0], nb = kShapes[(r >> 4) % 16][1];
    Bn a = DrawNumber(rng, na), b = DrawNumber(rng, nb);
    if (r % 16 == 3) b.reset(BN_dup(a.get()));
    Bn m = DrawNumber(rng, 1 + rng.Next() % 70);
    g_shift = static_cast<int>(rng.Next() % 300);

    Fnv prod, divmod;
    for (auto op : kProducts) prod.Num(Aliased(kOps.at(op), a.get(), b.get(), m.get()).get());
    BN_RECP_CTX recp;
    BN_RECP_CTX_init(&recp);
    ASSERT_EQ(BN_RECP_CTX_set(&recp, m.get(), g_ctx), 1);
    Divide(divmod, a.get(), b.get(), m.get(), &recp);
    Divide(divmod, a.get(), m.get(), m.get(), &recp);
    BN_RECP_CTX_free(&recp);
    for (auto op : kModular) divmod.Num(Aliased(kOps.at(op), a.get(), b.get(), m.get()).get());
    Bn am(BN_dup(m.get())), ar(BN_new()), br(BN_new());
    BN_set_negative(am.get(), 0);
    ASSERT_TRUE(BN_nnmod(ar.get(), a.get(), am.get(), g_ctx) &&
                BN_nnmod(br.get(), b.get(), am.get(), g_ctx));
    for (auto op : kQuick) divmod.Num(Aliased(kOps.at(op), ar.get(), br.get(), am.get(), 2).get());
    char expected[24];
    snprintf(expected, sizeof(expected), "%08x %08x", prod.h, divmod.h);
    ASSERT_EQ(records[c].Get("h"), expected) << na << " x " << nb << " words, shift " << g_shift;
  }
}

namespace {

// r = op(a, p, m) by a name of the operation table, with r fresh and (for
// `slot` 0, 1 or 2) in a copy of a, p or m: both must agree.
Bn Exp(const char* op, const BIGNUM* a, const BIGNUM* p, const BIGNUM* m, int slot) {
  Bn r(BN_new());
  EXPECT_EQ(kOps.at(op)(r.get(), a, p, m), 1) << op;
  Bn c[3] = {Bn(BN_dup(a)), Bn(BN_dup(p)), Bn(BN_dup(m))};
  EXPECT_EQ(kOps.at(op)(c[slot].get(), c[0].get(), c[1].get(), c[2].get()), 1) << op;
  EXPECT_EQ(BN_cmp(c[slot].get(), r.get()), 0) << op << ": result in operand " << slot;
  return r;
}

}  // namespace

// Two thousand cases through every exponentiation form, the GCD, the inverse
// (plain and secret) and the Kronecker symbol, against one hash a case from
// tools/gen_bn_vectors.py --exponents (which documents the draw).
TEST(BnExponents, AgreeWithIntegerModel) {
  SplitMix64 rng{0};
  const auto records = ReadCases("bn/exponents.txt", rng);
  Ctx ctx(BN_CTX_new());
  g_ctx = ctx.get();
  for (size_t c = 0; c < records.size(); c++) {
    SCOPED_TRACE("case " + std::to_string(c));
    Bn m = DrawNumber(rng, 1 + rng.Next() % 70);
    const int neg = m->neg;
    ASSERT_EQ((rng.Next() & 1) ? BN_set_bit(m.get(), 0) : BN_clear_bit(m.get(), 0), 1);
    if (BN_is_zero(m.get())) {
      ASSERT_EQ(BN_set_word(m.get(), 2), 1);
    }
    BN_set_negative(m.get(), neg);
    const uint64_t na = rng.Next() % static_cast<uint64_t>(m->top + 2);
    Bn a = na ? DrawNumber(rng, na) : Bn(BN_new());
    const auto pw = DrawWords(rng, rng.Next() % 9);
    Bn p = Make(pw, rng.Next() & 1), t(BN_new()), p2(BN_new()), wb(BN_new());
    const BN_ULONG w = static_cast<BN_ULONG>(rng.Next() >> 32);
    const bool odd = BN_is_odd(m.get());

    Fnv h;
    Bn r = Exp("mod_exp", a.get(), p.get(), m.get(), 0);
    std::vector<std::pair<const char*, int>> forms = {{"mod_exp_recp", 1}, {"mod_exp_simple", 2}};
    if (odd) forms.insert(forms.end(), {{"mod_exp_mont", 2}, {"mod_exp_mont_consttime", 1}});
    for (auto [op, slot] : forms) {
      EXPECT_EQ(BN_cmp(Exp(op, a.get(), p.get(), m.get(), slot).get(), r.get()), 0) << op;
    }
    h.Num(r.get());
    if (odd) {
      Bn secret(BN_dup(p.get()));
      BN_set_flags(secret.get(), BN_FLAG_SECRET);
      EXPECT_EQ(BN_cmp(Exp("mod_exp", a.get(), secret.get(), m.get(), 1).get(), r.get()), 0);
      ASSERT_EQ(BN_mod_exp_mont_word(t.get(), w, p.get(), m.get(), g_ctx, nullptr), 1);
      h.Num(t.get());
      ASSERT_TRUE(BN_rshift(p2.get(), p.get(), 7) && BN_set_word(wb.get(), w));
      ASSERT_EQ(BN_mod_exp2_mont(t.get(), a.get(), p.get(), wb.get(), p2.get(), m.get(), g_ctx,
                                 nullptr), 1);
      h.Num(t.get());
    }
    ASSERT_EQ(BN_gcd(t.get(), a.get(), m.get(), g_ctx), 1);
    h.Num(t.get());
    if (BN_mod_inverse(t.get(), a.get(), m.get(), g_ctx) != nullptr) {
      h.Num(t.get());
      Bn secret(BN_dup(m.get())), t2(BN_new());
      BN_set_flags(secret.get(), BN_FLAG_SECRET);
      ASSERT_NE(BN_mod_inverse(t2.get(), a.get(), secret.get(), g_ctx), nullptr);
      EXPECT_EQ(BN_cmp(t2.get(), t.get()), 0) << "secret modulus";
    } else {
      h.Int(0xFFFFFFFFu);
      ERR_clear_error();
    }
    h.Int(static_cast<uint32_t>(BN_kronecker(a.get(), m.get(), g_ctx)));
    char expected[12];
    snprintf(expected, sizeof(expected), "%08x", h.h);
    ASSERT_EQ(records[c].Get("h"), expected) << m->top << "-word modulus, p of " << pw.size();
  }
}
