// Ten thousand random cases (operands of 1 to 140 words, both signs, the
// shapes of the size rules among them) through multiplication, squaring,
// division, the modular operations and their quick forms, against hashes of
// the results computed with Python integers by tools/gen_bn_vectors.py
// --products (which documents the draw and the hashes).  Every operation also
// runs with its result in each operand's record; the secret division and the
// reciprocal division must agree with BN_div.

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

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
