// Montgomery reduction against GMP: BN_from_montgomery over random inputs in
// [N R, R^2) (and their negatives), and BN_mod_mul_montgomery over random
// factors below R, whose products reach past N R.  R = 2^(32 n) for an n-word
// odd modulus N; GMP computes a R^-1 mod N with mpz_invert.

#include <morvane/bn.h>

#include <gmp.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bn_test_util.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;

struct Mpz {
  mpz_t v;
  Mpz() { mpz_init(v); }
  ~Mpz() { mpz_clear(v); }
  Mpz(const Mpz&) = delete;
  Mpz& operator=(const Mpz&) = delete;
};

Bn ToBn(const mpz_t x) {
  std::vector<unsigned char> be((mpz_sizeinbase(x, 2) + 7) / 8 + 1);
  size_t n = 0;
  mpz_export(be.data(), &n, 1, 1, 1, 0, x);
  Bn r(BN_bin2bn(be.data(), static_cast<int>(n), nullptr));
  BN_set_negative(r.get(), mpz_sgn(x) < 0);
  return r;
}

std::string Text(const mpz_t x) {
  char* s = mpz_get_str(nullptr, 16, x);
  std::string out(s);
  void (*release)(void*, size_t);
  mp_get_memory_functions(nullptr, nullptr, &release);
  release(s, out.size() + 1);
  return out;
}

std::string Text(const BIGNUM* x) {
  Mpz v;
  char* s = BN_bn2hex(x);
  mpz_set_str(v.v, s[0] == '-' ? s + 1 : s, 16);
  if (s[0] == '-') mpz_neg(v.v, v.v);
  MORVANE_free(s);
  return Text(v.v);
}

class BnMontGmp : public ::testing::Test {
 protected:
  BnMontGmp() { gmp_randinit_mt(rng_); }
  ~BnMontGmp() override { gmp_randclear(rng_); }

  // want = sign(a) (|a| R^-1 mod N).
  void Expect(const mpz_t a, const mpz_t n, const mpz_t rinv, const BIGNUM* got) {
    Mpz want;
    mpz_abs(want.v, a);
    mpz_mul(want.v, want.v, rinv);
    mpz_mod(want.v, want.v, n);
    if (mpz_sgn(a) < 0) mpz_neg(want.v, want.v);
    EXPECT_EQ(Text(got), Text(want.v)) << "a = " << Text(a) << ", N = " << Text(n);
  }

  gmp_randstate_t rng_;
};

TEST_F(BnMontGmp, InputsFromNRToRSquared) {
  gmp_randseed_ui(rng_, 1);
  Ctx ctx(BN_CTX_new());
  for (int c = 0; c < 3000; c++) {
    const unsigned words = 1 + c % 40;
    Mpz n, r, rinv, a, b, span;
    mpz_urandomb(n.v, rng_, 32 * words);
    mpz_setbit(n.v, 0);
    mpz_setbit(n.v, 32 * words - 1 - (c % 7 == 0 ? 0 : c % 31));  // top bit set or lower
    if (mpz_sizeinbase(n.v, 2) <= 32 * (words - 1)) mpz_setbit(n.v, 32 * words - 1);
    mpz_setbit(r.v, 32 * words);
    ASSERT_NE(mpz_invert(rinv.v, r.v, n.v), 0);
    // a = N R + u, u uniform below R^2 - N R.
    mpz_mul(span.v, r.v, r.v);
    mpz_submul(span.v, n.v, r.v);
    mpz_urandomm(a.v, rng_, span.v);
    if (c % 5 == 0) mpz_set_ui(a.v, 0);  // N R itself
    if (c % 5 == 1) mpz_sub_ui(a.v, span.v, 1);  // R^2 - 1
    mpz_addmul(a.v, n.v, r.v);
    if (c % 3 == 0) mpz_neg(a.v, a.v);
    BN_MONT_CTX* mont = BN_MONT_CTX_new();
    Bn bn = ToBn(n.v), ba = ToBn(a.v), got(BN_new());
    ASSERT_EQ(BN_MONT_CTX_set(mont, bn.get(), ctx.get()), 1);
    ASSERT_EQ(BN_from_montgomery(got.get(), ba.get(), mont, ctx.get()), 1);
    Expect(a.v, n.v, rinv.v, got.get());
    // Two factors below R: their product may reach past N R.
    mpz_urandomm(a.v, rng_, r.v);
    mpz_urandomm(b.v, rng_, r.v);
    if (c % 4 == 0) mpz_sub_ui(a.v, r.v, 1);
    Bn fa = ToBn(a.v), fb = ToBn(b.v);
    ASSERT_EQ(BN_mod_mul_montgomery(got.get(), fa.get(), fb.get(), mont, ctx.get()), 1);
    mpz_mul(a.v, a.v, b.v);
    Expect(a.v, n.v, rinv.v, got.get());
    BN_MONT_CTX_free(mont);
  }
}

}  // namespace
