// Ten thousand random operand pairs (0 to 70 words, both signs) through
// addition, subtraction, comparison, shifts, word operations and the text and
// MPI forms, against hashes of the results computed with Python integers by
// tools/gen_bn_vectors.py (which documents the draw and the hashes).  Each
// operation also runs with the result aliasing its operands, and every text
// form is parsed back.

#include <morvane/bn.h>
#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "bn_test_util.h"
#include "test_support.h"

namespace {

using bn_test::Bn;
using bn_test::DrawWords;
using bn_test::Fnv;
using bn_test::Make;
using bn_test::ReadCases;
using bn_test::SplitMix64;


int Sign(int c) { return (c > 0) - (c < 0); }

// r = op(x, y) with r distinct, r == x and r == y; the aliased results must
// equal the first, which is returned.  op(x, x) with r == x too.
using BinOp = int (*)(BIGNUM*, const BIGNUM*, const BIGNUM*);
Bn Binary(BinOp op, const BIGNUM* x, const BIGNUM* y) {
  Bn r(BN_new()), rx(BN_dup(x)), ry(BN_dup(y));
  EXPECT_EQ(op(r.get(), x, y), 1);
  EXPECT_EQ(op(rx.get(), rx.get(), y), 1);
  EXPECT_EQ(op(ry.get(), x, ry.get()), 1);
  EXPECT_EQ(BN_cmp(rx.get(), r.get()), 0);
  EXPECT_EQ(BN_cmp(ry.get(), r.get()), 0);
  Bn twice(BN_new()), both(BN_dup(x));  // and op(x, x) with r = x as well
  EXPECT_EQ(op(twice.get(), x, x), 1);
  EXPECT_EQ(op(both.get(), both.get(), both.get()), 1);
  EXPECT_EQ(BN_cmp(both.get(), twice.get()), 0);
  return r;
}

void RoundTripText(const BIGNUM* a, Fnv& h) {
  using To = char* (*)(const BIGNUM*);
  using From = int (*)(BIGNUM**, const char*);
  for (auto [to, from] : {std::pair<To, From>{BN_bn2hex, BN_hex2bn}, {BN_bn2dec, BN_dec2bn}}) {
    char* s = to(a);
    BIGNUM* back = nullptr;
    EXPECT_EQ(from(&back, s), static_cast<int>(strlen(s)));
    EXPECT_EQ(BN_cmp(back, a), 0);
    h.Text(s);
    MORVANE_free(s);
    BN_free(back);
  }
  std::vector<uint8_t> mpi(static_cast<size_t>(BN_bn2mpi(a, nullptr)));
  EXPECT_EQ(BN_bn2mpi(a, mpi.data()), static_cast<int>(mpi.size()));
  Bn back(BN_mpi2bn(mpi.data(), static_cast<int>(mpi.size()), nullptr));
  EXPECT_EQ(BN_cmp(back.get(), a), 0);
  mpi.push_back(0);  // hashed as a text: its bytes and a zero byte
  h.Bytes(mpi.data(), mpi.size());
}

}  // namespace

TEST(BnDifferential, AgreesWithIntegerModel) {
  SplitMix64 rng{0};
  const auto records = ReadCases("bn/differential.txt", rng);
  const size_t count = records.size();
  for (size_t c = 0; c < count; c++) {
    SCOPED_TRACE("case " + std::to_string(c));
    const uint64_t na = rng.Next() % 71, r = rng.Next();
    const uint64_t nb = r % 4 == 0 ? na : (r >> 2) % 71;
    auto wa = DrawWords(rng, na), wb = DrawWords(rng, nb);
    if (na == nb && na > 0 && rng.Next() % 2 == 0) {
      wb = wa;
      wb[0] += static_cast<uint32_t>(rng.Next() % 3) - 1;
    }
    Bn a = Make(wa, rng.Next() & 1), b = Make(wb, rng.Next() & 1);
    const int s = static_cast<int>(rng.Next() % 2400);
    const uint64_t rw = rng.Next();
    const BN_ULONG words[8] = {0, 1, 0xFFFFFFFFu, 0x10000, 0x10001, 0xFFFF, 10, BN_ULONG(rw >> 32)};
    const BN_ULONG w = words[rw % 8];

    Fnv arith, shift, text;
    arith.Num(Binary(BN_add, a.get(), b.get()).get());
    arith.Num(Binary(BN_sub, a.get(), b.get()).get());
    arith.Num(Binary(BN_uadd, a.get(), b.get()).get());
    const bool a_larger = BN_ucmp(a.get(), b.get()) >= 0;
    arith.Num(Binary(BN_usub, a_larger ? a.get() : b.get(), a_larger ? b.get() : a.get()).get());
    arith.Int(static_cast<uint32_t>(BN_cmp(a.get(), b.get())));
    arith.Int(static_cast<uint32_t>(Sign(BN_ucmp(a.get(), b.get()))));

    Bn t(BN_new()), in_place(BN_dup(a.get()));
    for (int (*op)(BIGNUM*, const BIGNUM*) : {BN_lshift1, BN_rshift1}) {
      ASSERT_EQ(op(t.get(), a.get()), 1);
      ASSERT_TRUE(BN_copy(in_place.get(), a.get()));
      ASSERT_EQ(op(in_place.get(), in_place.get()), 1);
      EXPECT_EQ(BN_cmp(in_place.get(), t.get()), 0);
      shift.Num(t.get());
    }
    ASSERT_TRUE(BN_copy(in_place.get(), a.get()));
    ASSERT_EQ(BN_lshift(t.get(), a.get(), s), 1);
    ASSERT_EQ(BN_lshift(in_place.get(), in_place.get(), s), 1);
    EXPECT_EQ(BN_cmp(in_place.get(), t.get()), 0);
    shift.Num(t.get());
    ASSERT_EQ(BN_rshift(t.get(), a.get(), s), 1);
    ASSERT_EQ(BN_rshift(in_place.get(), in_place.get(), 2 * s), 1);  // (a << s) >> 2s
    EXPECT_EQ(BN_cmp(in_place.get(), t.get()), 0);
    shift.Num(t.get());
    for (int (*op)(BIGNUM*, BN_ULONG) : {BN_add_word, BN_sub_word, BN_mul_word}) {
      ASSERT_TRUE(BN_copy(t.get(), a.get()));
      ASSERT_EQ(op(t.get(), w), 1);
      shift.Num(t.get());
    }
    ASSERT_TRUE(BN_copy(t.get(), a.get()));
    const BN_ULONG rem = BN_div_word(t.get(), w);
    shift.Num(t.get());
    shift.Int(rem);
    shift.Int(BN_mod_word(a.get(), w));

    RoundTripText(a.get(), text);
    char expected[32];
    snprintf(expected, sizeof(expected), "%08x %08x %08x", arith.h, shift.h, text.h);
    ASSERT_EQ(records[c].Get("h"), expected) << na << " x " << nb << " words, s " << s << ", w " << w;
  }
}
