// The field arithmetic of the constant-time engine (crypto/ec/ct_arith.h),
// limb by limb against the big-number functions: the Montgomery product and
// square (a b / R mod p), sum, difference and inverse, on the P-256 prime
// (its own reduction and the generic one), the P-384 and secp256k1 primes
// and the P-256 order, over edge values (0, 1, p - 1, p - 2, the largest
// limb patterns below p) and seeded random ones.

#include <morvane/bn.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn_test_util.h"
#include "ec/ct_arith.h"

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
  FieldKind kind;  // the reduction select_kind must choose
};

// Published moduli: the P-256 and P-384 primes and the P-256 order (FIPS
// 186-4, D.1.2.3 and D.1.2.4), the secp256k1 prime (SEC 2, 2.4.1).
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
  for (int k : {32, 63, 64, 127, 128, 192, 224, bits - 1}) {
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

template <size_t N>
void CheckField(const Modulus& m, bool force_generic) {
  SCOPED_TRACE(std::string(m.name) + (force_generic ? " (generic reduction)" : ""));
  Ctx ctx(BN_CTX_new());
  Bn p = Hex(m.hex);
  Field<N> f{};
  ASSERT_TRUE(init_modulus<N>(f, p.get(), ctx.get()));
  EXPECT_EQ(f.kind, m.kind);
  if (force_generic) f.kind = FieldKind::kGeneric;
  // rinv = R^-1 mod p: the product of Fe values a, b is a b rinv mod p.
  Bn rinv(BN_new()), t(BN_new()), want(BN_new());
  BN_set_bit(t.get(), static_cast<int>(64 * N));
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
      CheckField<4>(m, false);
      if (m.kind != FieldKind::kGeneric) CheckField<4>(m, true);
    } else {
      CheckField<6>(m, false);
    }
  }
}

}  // namespace
