// The window sizes of BN_mod_exp_mont, white-box: built from its own copy of
// the sources with the product counter of crypto/bn/internal.h.  For the
// exponent 2^(b-1) the count is b + 2 (two conversions, one product, b - 1
// squarings) plus the products that fill the table of odd powers, so one bit
// more costs one product, and at a window change also the table's growth.
// The prime searches: only the safe one, whose numbers are public, takes it.

#include <gtest/gtest.h>
#include <morvane/bn.h>

#include "bn/internal.h"

namespace {

int products = 0;

int count_products(int bits) {
  BIGNUM *r = BN_new(), *a = BN_new(), *p = BN_new(), *m = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  products = 0;
  const bool ok = BN_set_word(a, 3) && BN_set_word(m, 1000003) && BN_set_bit(p, bits - 1) &&
                  BN_mod_exp_mont(r, a, p, m, ctx, nullptr) == 1;
  for (BIGNUM* x : {r, a, p, m}) BN_free(x);
  BN_CTX_free(ctx);
  return ok ? products : -1;
}

// Exponent bit length where the window widens, and the products that fill the
// odd-power table below and at it (none for a window of 1, else one squaring
// and 2^(w-1) - 1 products).
struct Threshold {
  int bits, table_below, table_at;
};
constexpr Threshold kThresholds[] = {{24, 0, 4}, {80, 4, 8}, {240, 8, 16}, {672, 16, 32}};

TEST(BnWindow, SizeChangesAtThresholds) {
  for (const Threshold& t : kThresholds) {
    SCOPED_TRACE(t.bits);
    const int below = count_products(t.bits - 1);
    EXPECT_EQ(below - count_products(t.bits - 2), 1);  // same window
    EXPECT_EQ(count_products(t.bits) - below, 1 + t.table_at - t.table_below);
    EXPECT_EQ(count_products(t.bits + 1) - count_products(t.bits), 1);
  }
}

// A safe prime's candidates take the plain Miller-Rabin rounds, on the
// sliding-window exponentiation, rather than building the fixed-width
// set-up afresh for each of their one-at-a-time rounds; the other searches'
// candidates, which may be secret, take the fixed-width rounds, which count
// no product here.
TEST(BnWindow, OnlySafePrimeSearchesTakeThePlainRounds) {
  BIGNUM *p = BN_new(), *add = BN_new(), *rem = BN_new();
  ASSERT_TRUE(p != nullptr && add != nullptr && rem != nullptr && BN_set_word(add, 12) &&
              BN_set_word(rem, 11));
  // Plain and safe, with and without the residue class 11 mod 12.
  for (const auto& [safe, in_class] : {std::pair{0, false}, {0, true}, {1, false}, {1, true}}) {
    SCOPED_TRACE(testing::Message() << "safe " << safe << ", in a class " << in_class);
    products = 0;
    ASSERT_EQ(BN_generate_prime_ex(p, 128, safe, in_class ? add : nullptr, in_class ? rem : nullptr,
                                   nullptr),
              1);
    if (safe)
      EXPECT_GT(products, 0);
    else
      EXPECT_EQ(products, 0);
  }
  for (BIGNUM* x : {p, add, rem}) BN_free(x);
}

}  // namespace

void morvane::bn::exp_product() {
  products++;
}
