// The field arithmetic of the constant-time engine (crypto/ec/ct_arith.h),
// limb by limb against the big-number functions: the product and square
// (a b / R mod p: R = 2^(64 N) in Montgomery form, 1 for plain residues),
// sum, difference and inverse, on the P-256 prime (its own reduction and the
// generic one), the P-384 prime (its own reduction), the secp256k1 prime and
// the P-256 and P-384 orders (the generic one), over edge values (0, 1,
// p - 1, p - 2, the largest limb patterns below p) and seeded random ones;
// and the P-384 reduction alone on double-width values of every size up to
// 2^768 - 1, built from 32-bit words of extreme patterns.

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn_test_util.h"
#include "ec/ct_arith.h"
#include "internal/fixed_words.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;
using namespace morvane::ec::ctarith;

struct Modulus {
  const char* name;
  const char* hex;
  size_t limbs;
  FieldKind kind;  // the reduction select_kind must choose (its portable kernel)
};

// The kind select_kind gives m on this processor, and the MULX/ADX kind of
// m's form (kGeneric when there is none).
FieldKind AdxKind(const Modulus& m) {
  if (m.limbs != 6) return FieldKind::kGeneric;
  return m.kind == FieldKind::kP384 ? FieldKind::kP384Adx : FieldKind::kMont6Adx;
}
FieldKind Chosen(const Modulus& m) {
  return p384::use_adx() && AdxKind(m) != FieldKind::kGeneric ? AdxKind(m) : m.kind;
}

// Published moduli: the P-256 and P-384 primes and orders (FIPS 186-4,
// D.1.2.3 and D.1.2.4), the secp256k1 prime (SEC 2, 2.4.1).
constexpr Modulus kModuli[] = {
    {"P-256 p", "FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF", 4,
     FieldKind::kP256},
    {"P-256 n", "FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551", 4,
     FieldKind::kGeneric},
    {"secp256k1 p", "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFC2F", 4,
     FieldKind::kGeneric},
    {"P-384 p",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFEFFFFFFFF0000000000000000"
     "FFFFFFFF",
     6, FieldKind::kP384},
    {"P-384 n",
     "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC7634D81F4372DDF581A0DB248B0A77AECEC196A"
     "CCC52973",
     6, FieldKind::kGeneric},
};

template <size_t N>
Fe<N> ToFe(const BIGNUM* a) {
  Fe<N> r{};
  EXPECT_TRUE(to_limbs<N>(r.v, a));
  return r;
}

template <size_t N>
Bn FromFe(const Fe<N>& a) {
  return Bn(morvane::ec::from_limbs<N>(a.v));
}

// The inputs: edge values, then seeded random values below p.
std::vector<Bn> Inputs(const BIGNUM* p, BN_CTX* ctx) {
  std::vector<Bn> v;
  const char* edges[] = {"0", "1", "2", "3"};
  for (const char* e : edges) v.push_back(Hex(e));
  for (BN_ULONG d = 1; d <= 3; d++) {  // p - 1, p - 2, p - 3
    Bn x(BN_dup(p));
    BN_sub_word(x.get(), d);
    v.push_back(std::move(x));
  }
  // 2^k and 2^k - 1 for k at limb edges, and R mod p (the Montgomery one).
  const int bits = BN_num_bits(p);
  for (int k : {32, 63, 64, 127, 128, 192, 224, 256, 320, bits - 1}) {
    if (k >= bits) continue;
    Bn x(BN_new());
    BN_set_bit(x.get(), k);
    Bn y(BN_dup(x.get()));
    BN_sub_word(y.get(), 1);
    BN_nnmod(x.get(), x.get(), p, ctx);
    v.push_back(std::move(x));
    v.push_back(std::move(y));
  }
  bn_test::SplitMix64 rng{0x5eed0001u + static_cast<uint64_t>(bits)};
  for (int i = 0; i < 40; i++) {
    std::vector<uint32_t> w(static_cast<size_t>(bits + 31) / 32);
    for (uint32_t& x : w) x = static_cast<uint32_t>(rng.Next());
    Bn x = bn_test::Make(w, false);
    BN_nnmod(x.get(), x.get(), p, ctx);
    v.push_back(std::move(x));
  }
  return v;
}

// The field of m on the products of `use` (another kernel of the same form).
template <size_t N>
void CheckField(const Modulus& m, FieldKind use) {
  SCOPED_TRACE(std::string(m.name) + " on kind " + std::to_string(static_cast<int>(use)));
  Ctx ctx(BN_CTX_new());
  Bn p = Hex(m.hex);
  Field<N> f{};
  ASSERT_TRUE(init_modulus<N>(f, p.get(), ctx.get()));
  EXPECT_EQ(f.kind, Chosen(m));
  f.kind = use;
  // rinv = R^-1 mod p: the product of Fe values a, b is a b rinv mod p.
  Bn rinv(BN_new()), t(BN_new()), want(BN_new());
  BN_set_bit(t.get(), plain_residues(f.kind) ? 0 : static_cast<int>(64 * N));
  ASSERT_NE(BN_mod_inverse(rinv.get(), t.get(), p.get(), ctx.get()), nullptr);
  BN_nnmod(t.get(), t.get(), p.get(), ctx.get());
  EXPECT_EQ(Show(FromFe<N>(f.one).get()), Show(t.get()));

  const std::vector<Bn> in = Inputs(p.get(), ctx.get());
  for (size_t i = 0; i < in.size(); i++) {
    const BIGNUM* a = in[i].get();
    const Fe<N> fa = ToFe<N>(a);
    Fe<N> r;
    // A limb value A stands for A R^-1: the square is A^2 R^-1, the inverse
    // (A R^-1)^-1 R = A^-1 R^2 (0 for 0).
    sqr(r, fa, f);
    BN_mod_mul(want.get(), a, a, p.get(), ctx.get());
    BN_mod_mul(want.get(), want.get(), rinv.get(), p.get(), ctx.get());
    EXPECT_EQ(Show(FromFe<N>(r).get()), Show(want.get())) << "sqr " << Show(a);
    invert(r, fa, f);
    if (BN_is_zero(a)) {
      BN_zero(want.get());
    } else {
      BN_mod_mul(want.get(), a, rinv.get(), p.get(), ctx.get());
      ASSERT_NE(BN_mod_inverse(want.get(), want.get(), p.get(), ctx.get()), nullptr);
      BN_mod_mul(want.get(), want.get(), t.get(), p.get(), ctx.get());  // t = R mod p
    }
    EXPECT_EQ(Show(FromFe<N>(r).get()), Show(want.get())) << "inverse " << Show(a);
    for (size_t j = i; j < in.size(); j += 7) {
      const BIGNUM* b = in[j].get();
      const Fe<N> fb = ToFe<N>(b);
      mul(r, fa, fb, f);
      BN_mod_mul(want.get(), a, b, p.get(), ctx.get());
      BN_mod_mul(want.get(), want.get(), rinv.get(), p.get(), ctx.get());
      EXPECT_EQ(Show(FromFe<N>(r).get()), Show(want.get())) << "mul " << Show(a) << " " << Show(b);
      add(r, fa, fb, f);
      BN_mod_add(want.get(), a, b, p.get(), ctx.get());
      EXPECT_EQ(Show(FromFe<N>(r).get()), Show(want.get())) << "add " << Show(a) << " " << Show(b);
      sub(r, fa, fb, f);
      BN_mod_sub(want.get(), a, b, p.get(), ctx.get());
      EXPECT_EQ(Show(FromFe<N>(r).get()), Show(want.get())) << "sub " << Show(a) << " " << Show(b);
    }
  }
}

TEST(EcField, ProductsSquaresSumsAndInversesMatchBignum) {
  for (const Modulus& m : kModuli) {
    if (m.limbs == 4) {
      CheckField<4>(m, m.kind);
      if (m.kind != FieldKind::kGeneric) CheckField<4>(m, FieldKind::kGeneric);
    } else {
      CheckField<6>(m, m.kind);
      // The MULX/ADX kernel, where the processor has it.
      if (morvane::internal::Has(morvane::internal::kAdx)) CheckField<6>(m, AdxKind(m));
    }
  }
}

// The P-384 reduction folds 32-bit-word shifts of the upper half: any value
// below 2^768 (not only products of reduced inputs) reduces to c mod p.
// The words are drawn from 0, 1, 2^31, 2^32 - 2, 2^32 - 1 and random ones.
TEST(EcField, P384ReductionOfDoubleWidthValues) {
  Ctx ctx(BN_CTX_new());
  Bn p = Hex(kModuli[3].hex);
  Bn want(BN_new());
  bn_test::SplitMix64 rng{0x384384u};
  const uint32_t special[] = {0, 1, 0x80000000u, 0xfffffffeu, 0xffffffffu};
  for (int i = 0; i < 4000; i++) {
    std::vector<uint32_t> w(24);
    const uint64_t style = rng.Next();
    for (size_t j = 0; j < w.size(); j++) {
      const uint64_t r = rng.Next();
      switch (i < 8 ? i % 4 : style % 4) {
        case 0:  // all ones, or ones above word j0
          w[j] = i < 8 ? 0xffffffffu : (j >= style % 24 ? 0xffffffffu : special[r % 5]);
          break;
        case 1:  // extreme words only
          w[j] = special[r % 5];
          break;
        case 2:  // upper half only
          w[j] = j >= 12 ? (i < 8 ? 0xffffffffu : static_cast<uint32_t>(r)) : 0;
          break;
        default:
          w[j] = r % 3 == 0 ? special[(r >> 8) % 5] : static_cast<uint32_t>(r >> 16);
      }
    }
    limb c[12];
    for (size_t j = 0; j < 12; j++) c[j] = w[2 * j] | static_cast<limb>(w[2 * j + 1]) << 32;
    Bn x = bn_test::Make(w, false);
    limb r[6];
    p384::reduce(r, c);
    BN_nnmod(want.get(), x.get(), p.get(), ctx.get());
    ASSERT_EQ(Show(Bn(morvane::ec::from_limbs<6>(r)).get()), Show(want.get())) << Show(x.get());
  }
  // c = k p + j with residues j at both ends (0 .. 40, p - 40 .. p - 1):
  // the second fold's sums then carry past 2^384 and its subtraction
  // borrows back.
  for (int i = 0; i < 2000; i++) {
    std::vector<uint32_t> w(12);
    for (uint32_t& x : w)
      x = i % 2 == 0 ? special[rng.Next() % 5] : static_cast<uint32_t>(rng.Next());
    w[11] >>= 1;  // k < 2^383: k p + j < 2^768
    Bn k = bn_test::Make(w, false);
    Bn j(BN_new());
    ASSERT_TRUE(BN_set_word(j.get(), static_cast<BN_ULONG>(rng.Next() % 41)));
    if (i % 4 >= 2) {
      ASSERT_TRUE(BN_sub(j.get(), p.get(), j.get()) && BN_sub_word(j.get(), 1));
    }
    Bn x(BN_new());
    ASSERT_TRUE(BN_mul(x.get(), k.get(), p.get(), ctx.get()) && BN_add(x.get(), x.get(), j.get()));
    limb c[12];
    ASSERT_TRUE(morvane::ec::to_limbs<12>(c, x.get()));
    limb r[6];
    p384::reduce(r, c);
    ASSERT_EQ(Show(Bn(morvane::ec::from_limbs<6>(r)).get()), Show(j.get())) << Show(x.get());
  }
}

#if defined(__x86_64__)
// The MULX/ADX Montgomery reduction for any six-limb modulus against the
// portable one (mont_reduce), on the P-384 order and on moduli with extreme
// limbs (2^384 - 1 - 2k, 2^383 + 1, the P-384 prime), for t below p 2^384
// with limbs drawn as in the test below.
TEST(EcField, MontgomeryReductionAdxMatchesPortable) {
  if (!morvane::internal::Has(morvane::internal::kAdx)) GTEST_SKIP() << "no MULX/ADX";
  Ctx ctx(BN_CTX_new());
  bn_test::SplitMix64 rng{0x6a0d6u};
  const limb special[] = {0, 1, limb{1} << 63, ~limb{1}, ~limb{0}};
  const char* moduli[] = {
      kModuli[4].hex, kModuli[3].hex,
      "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
      "FFFFFFFD",
      "8000000000000000000000000000000000000000000000000000000000000000000000000000000000000000"
      "00000001",
      "FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFF"
      "FFFFFF61"};
  for (const char* hex : moduli) {
    Field<6> f{};
    ASSERT_TRUE(init_modulus<6>(f, Hex(hex).get(), ctx.get()));
    for (int i = 0; i < 5000; i++) {
      limb t[12], want[6], got[6], w[6], top;
      for (size_t j = 0; j < 12; j++) {
        const uint64_t r = rng.Next();
        t[j] = i % 2 == 0 ? special[r % 5] : rng.Next();
      }
      // t < p 2^384: an upper half not below p becomes p - 1, p - 2 or p - 3.
      bool below = false;
      for (size_t j = 6; j-- > 0 && !below;) {
        if (t[6 + j] != f.p[j]) {
          below = t[6 + j] < f.p[j];
          break;
        }
      }
      if (!below) {
        carry_t b = 0;
        const limb d = 1 + rng.Next() % 3;
        for (size_t j = 0; j < 6; j++) t[6 + j] = sbb(f.p[j], j == 0 ? d : 0, b);
      }
      limb copy[12];
      memcpy(copy, t, sizeof t);
      mont_reduce<6>(want, copy, f);
      p384::mont_reduce_adx(w, top, t, f.p, f.n0);
      final_sub<6>(got, w, static_cast<carry_t>(top), f.p);
      for (size_t j = 0; j < 6; j++) ASSERT_EQ(got[j], want[j]) << hex << ", case " << i;
    }
  }
}

// The MULX/ADX double-width product and square against a plain 128-bit
// schoolbook product, on any six-limb operands (not only residues): limbs
// drawn from 0, 1, 2^63, 2^64 - 2, 2^64 - 1 and random ones, where the two
// carry chains and the rows' top limbs meet their extremes.
TEST(EcField, P384AdxKernelsMatchSchoolbook) {
  if (!morvane::internal::Has(morvane::internal::kAdx)) GTEST_SKIP() << "no MULX/ADX";
  bn_test::SplitMix64 rng{0xad0384u};
  const limb special[] = {0, 1, limb{1} << 63, ~limb{1}, ~limb{0}};
  for (int i = 0; i < 20000; i++) {
    limb a[6], b[6];
    for (size_t j = 0; j < 6; j++) {
      const uint64_t r = rng.Next();
      const bool sa = i < 2 || (i % 3 != 1 && r % 2 == 0);
      const bool sb = i < 2 || (i % 3 != 0 && r % 4 != 0);
      a[j] = sa ? special[i < 2 ? 4 : (r >> 8) % 5] : rng.Next();
      b[j] = sb ? special[i < 2 ? 4 : (r >> 16) % 5] : rng.Next();
    }
    limb want[12] = {}, sq[12] = {};
    for (size_t x = 0; x < 6; x++) {
      limb c = 0, d = 0;
      for (size_t y = 0; y < 6; y++) {
        want[x + y] = mac(a[x], b[y], want[x + y], c, c);
        sq[x + y] = mac(a[x], a[y], sq[x + y], d, d);
      }
      want[x + 6] = c;
      sq[x + 6] = d;
    }
    limb got[12], gsq[12];
    p384::product_adx(got, a, b);
    p384::square_adx(gsq, a);
    for (size_t j = 0; j < 12; j++) {
      ASSERT_EQ(got[j], want[j]) << "product, case " << i << ", limb " << j;
      ASSERT_EQ(gsq[j], sq[j]) << "square, case " << i << ", limb " << j;
    }
  }
}
#endif

// The engines read a number at their fixed width whatever its word count:
// words at or above the count are masked off (whatever they hold), a count
// that takes in zero words beyond the width still fits, and only a non-zero
// word beyond the width refuses.  copy_words copies at the source's room,
// also without the count deciding anything.
TEST(EcLimbs, ReadAtFixedWidthWhateverTheCount) {
  struct Row {
    std::vector<uint32_t> words;  // the number's words, least significant first
    int top;                      // its word count as stored (may count zero words)
    int room;                     // words allocated
    bool fits;                    // in 4 limbs (8 words)
  };
  const std::vector<Row> rows = {
      {{5, 0, 0, 0, 0, 0, 0, 0}, 1, 8, true},
      {{1, 2, 3, 4, 5, 6, 7, 0xFFFFFFFFu}, 8, 8, true},
      {{1, 2, 3, 4, 5, 6, 7, 8, 0, 0}, 10, 40, true},  // zero words counted past the width
      {{1, 2, 3}, 3, 40, true},
      {{1, 0, 0, 0, 0, 0, 0, 0, 1}, 9, 9, false},
      {{1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 7}, 20, 40, false},
  };
  for (const Row& row : rows) {
    Bn a(BN_new());
    ASSERT_NE(bn_expand2(a.get(), row.room), nullptr);
    for (int i = 0; i < row.room; i++) a->d[i] = 0xA5A5A5A5u;  // garbage above the count
    for (size_t i = 0; i < row.words.size(); i++) a->d[i] = row.words[i];
    a->top = row.top;
    uint64_t l[4] = {9, 9, 9, 9};
    EXPECT_EQ(morvane::ec::to_limbs<4>(l, a.get()), row.fits) << row.top << " " << row.room;
    EXPECT_EQ(morvane::ec::fits_words(a.get(), 8), row.fits);
    if (row.fits) {
      for (size_t j = 0; j < 4; j++) {
        const uint64_t lo = 2 * j < row.words.size() ? row.words[2 * j] : 0;
        const uint64_t hi = 2 * j + 1 < row.words.size() ? row.words[2 * j + 1] : 0;
        EXPECT_EQ(l[j], lo | hi << 32) << j;
      }
    }
    // A copy holds the same value at the source's room, the garbage zeroed.
    Bn b(BN_new());
    ASSERT_TRUE(BN_set_word(b.get(), 77));
    ASSERT_EQ(morvane::internal::copy_words(b.get(), a.get()), 1);
    EXPECT_EQ(b->top, a->top);
    ASSERT_GE(b->dmax, row.room);
    for (int i = 0; i < b->dmax; i++)
      EXPECT_EQ(b->d[i], i < row.top && static_cast<size_t>(i) < row.words.size()
                             ? row.words[static_cast<size_t>(i)]
                             : 0u)
          << i;
  }
}

}  // namespace
