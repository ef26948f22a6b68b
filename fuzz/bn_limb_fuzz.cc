// Fuzz target for the limb arithmetic: arbitrary operand bytes through
// BN_mul, BN_sqr, BN_mod_mul_montgomery, BN_from_montgomery and (with an
// exponent of up to 8 bytes) BN_mod_exp_mont, BN_mod_exp_mont_consttime and
// BN_mod_exp2_mont, each against the 32-bit word reference of
// test/bn/bn_reference.h in words, top and sign.
//
// Input: a flag byte (signs, secret flags, aliasing), then four fields, each
// a length byte and that many big-endian bytes: the modulus (made odd), a, b
// and the exponent.

#include <morvane/bn.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "../test/bn/bn_reference.h"
#include "fuzz_check.h"
#include "fuzz_input.h"

namespace {

BIGNUM* Field(FuzzInput& in, size_t max) {
  const size_t n = in.ConsumeIntegralInRange<size_t>(0, max);
  const std::string s = in.ConsumeBytesAsString(n);
  return BN_bin2bn(reinterpret_cast<const unsigned char*>(s.data()), static_cast<int>(s.size()),
                   nullptr);
}

bool Same(const BIGNUM* x, const BIGNUM* y) {
  if (x->top != y->top || x->neg != y->neg) return false;
  for (int i = 0; i < x->top; i++)
    if (x->d[i] != y->d[i]) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t flags = in.ConsumeIntegral<uint8_t>();
  BIGNUM *m = Field(in, 255), *a = Field(in, 255), *b = Field(in, 255), *p = Field(in, 8);
  BIGNUM *got = BN_new(), *want = BN_new(), *x = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  Check(m && a && b && p && got && want && x && ctx && mont, "allocation");
  BN_set_bit(m, 0);
  BN_set_negative(a, flags & 1);
  BN_set_negative(b, flags & 2);
  if (flags & 4) BN_set_flags(m, BN_FLAG_SECRET);
  if (flags & 8) BN_set_flags(p, BN_FLAG_SECRET);

  Check(BN_mul(got, a, b, ctx) && bn_ref::Mul(want, a, b) && Same(got, want), "BN_mul");
  Check(BN_sqr(got, a, ctx) && bn_ref::Sqr(want, a) && Same(got, want), "BN_sqr");
  Check(BN_copy(x, a) && BN_mul(x, x, x, ctx) && bn_ref::Mul(want, a, a) && Same(x, want),
        "BN_mul, r = a = b");
  Check(BN_MONT_CTX_set(mont, m, ctx), "BN_MONT_CTX_set");
  Check(BN_mod_mul_montgomery(got, a, b, mont, ctx) && bn_ref::MontMul(want, a, b, mont, ctx) &&
            Same(got, want),
        "BN_mod_mul_montgomery");
  Check(BN_copy(x, a) && BN_mod_mul_montgomery(x, x, x, mont, ctx) &&
            bn_ref::MontMul(want, a, a, mont, ctx) && Same(x, want),
        "BN_mod_mul_montgomery, r = a = b");
  Check(BN_from_montgomery(got, a, mont, ctx) && bn_ref::FromMont(want, a, mont, ctx) &&
            Same(got, want),
        "BN_from_montgomery");
  if (flags & 16) {
    Check(bn_ref::ModExp(want, a, p, m, ctx), "reference power");
    Check(BN_mod_exp_mont(got, a, p, m, ctx, mont) && Same(got, want), "BN_mod_exp_mont");
    Check(BN_mod_exp_mont_consttime(got, a, p, m, ctx, nullptr) && Same(got, want),
          "BN_mod_exp_mont_consttime");
    Check(bn_ref::ModExp2(want, a, p, b, p, m, ctx) &&
              BN_mod_exp2_mont(got, a, p, b, p, m, ctx, mont) && Same(got, want),
          "BN_mod_exp2_mont");
  }
  BN_MONT_CTX_free(mont);
  BN_CTX_free(ctx);
  for (BIGNUM* n : {m, a, b, p, got, want, x}) BN_free(n);
  return 0;
}
