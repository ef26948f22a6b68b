// The constant-time inversion by divsteps (crypto/ec/ct_modinv.h) against
// BN_mod_inverse: the orders of P-256, P-384 and P-521 (FIPS 186-4, D.1.2),
// the P-256 prime, small moduli on both sides of the step bound's change at
// 46 bits, and odd moduli filling their limbs (2^64 - 59, 2^576 - 1, whose
// inputs are kept coprime); inputs 0, 1, 2, m - 1, m - 2, (m + 1) / 2,
// powers of two and seeded random values below m.

#include <morvane/bn.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn_test_util.h"
#include "ec/ct_arith.h"
#include "ec/ct_modinv.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;
using namespace morvane::ec::ctarith;

template <size_t N>
void CheckModulus(const BIGNUM* m) {
  SCOPED_TRACE("m = " + Show(m));
  Ctx ctx(BN_CTX_new());
  Field<N> f{};
  ASSERT_TRUE(init_modulus<N>(f, m, ctx.get()));  // m's limbs and n0
  const size_t bits = static_cast<size_t>(BN_num_bits(m));

  std::vector<Bn> in;
  for (const char* h : {"0", "1", "2", "3"}) in.push_back(Hex(h));
  for (BN_ULONG d : {1, 2}) {
    Bn x(BN_dup(m));
    ASSERT_TRUE(BN_sub_word(x.get(), d));
    in.push_back(std::move(x));
  }
  Bn half(BN_dup(m));
  ASSERT_TRUE(BN_add_word(half.get(), 1) && BN_rshift1(half.get(), half.get()));
  in.push_back(std::move(half));
  for (size_t k = 1; k + 1 < bits; k += 1 + k / 3) {
    Bn x(BN_new());
    ASSERT_TRUE(BN_set_bit(x.get(), static_cast<int>(k)));
    in.push_back(std::move(x));
  }
  bn_test::SplitMix64 rng{0x1d1'5e7e + bits};
  for (int i = 0; i < 60; i++) {
    std::vector<uint32_t> w((bits + 31) / 32);
    for (uint32_t& x : w) x = static_cast<uint32_t>(rng.Next());
    Bn x = bn_test::Make(w, false);
    ASSERT_TRUE(BN_nnmod(x.get(), x.get(), m, ctx.get()));
    in.push_back(std::move(x));
  }

  Bn want(BN_new());
  for (const Bn& x : in) {
    if (BN_cmp(x.get(), m) >= 0) continue;
    uint64_t xl[N], r[N];
    ASSERT_TRUE(morvane::ec::to_limbs<N>(xl, x.get()));
    if (BN_is_zero(x.get())) {
      BN_zero(want.get());
    } else if (BN_mod_inverse(want.get(), x.get(), m, ctx.get()) == nullptr) {
      ERR_clear_error();  // not coprime to m: no inverse to compare
      continue;
    }
    modinv::invert<N>(r, xl, f.p, bits, f.n0);
    EXPECT_EQ(Show(Bn(morvane::ec::from_limbs<N>(r)).get()), Show(want.get()))
        << "x = " << Show(x.get());
  }
}

TEST(EcModInverse, MatchesBignum) {
  // FIPS 186-4, D.1.2.3, D.1.2.4, D.1.2.5: the orders; D.1.2.3: P-256's p.
  CheckModulus<4>(Hex("FFFFFFFF00000000FFFFFFFFFFFFFFFFBCE6FAADA7179E84F3B9CAC2FC632551").get());
  CheckModulus<4>(Hex("FFFFFFFF00000001000000000000000000000000FFFFFFFFFFFFFFFFFFFFFFFF").get());
  CheckModulus<6>(Hex("FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFC7634D81F4372DDF581A0DB248B0A77A"
                      "ECEC196ACCC52973")
                      .get());
  CheckModulus<9>(Hex("01FFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFFA51868783BF2F"
                      "966B7FCC0148F709A5D03BB5C9B8899C47AEBB6FB71E91386409")
                      .get());
  for (const char* small : {"3", "7", "3F1", "1FFFFFFFFFFF", "3FFFFFFFFFFF", "2000000000001",
                            "FFFFFFFFFFFFFFC5"})
    CheckModulus<1>(Hex(small).get());
  Bn big(BN_new());  // 2^576 - 1
  ASSERT_TRUE(BN_set_bit(big.get(), 576) && BN_sub_word(big.get(), 1));
  CheckModulus<9>(big.get());
}

}  // namespace
