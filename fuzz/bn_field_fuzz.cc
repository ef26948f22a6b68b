// Fuzzes the reductions over special moduli and the GF(2^m) inverse.  The
// input is a selector byte and a number.  Each NIST-prime reduction must give
// BN_nnmod's result (also for negative inputs and inputs above p^2); modulo a
// polynomial taken from the input (reducible or not), an inverse that is
// found multiplies back to 1 and one that is not ends; one-word numbers get
// the primality answer of plain trial division.

#include <cstddef>
#include <cstdint>
#include <initializer_list>

#include <morvane/bn.h>
#include <morvane/err.h>

#include "fuzz_check.h"

namespace {

using Reduce = int (*)(BIGNUM*, const BIGNUM*, const BIGNUM*, BN_CTX*);
struct Nist {
  const BIGNUM* (*prime)();
  Reduce reduce;
};
constexpr Nist kNist[] = {{BN_get0_nist_prime_192, BN_nist_mod_192},
                          {BN_get0_nist_prime_224, BN_nist_mod_224},
                          {BN_get0_nist_prime_256, BN_nist_mod_256},
                          {BN_get0_nist_prime_384, BN_nist_mod_384},
                          {BN_get0_nist_prime_521, BN_nist_mod_521}};

void NistReductions(const BIGNUM* a, BN_CTX* ctx) {
  BIGNUM *r = BN_new(), *want = BN_new(), *in = BN_dup(a);
  for (const Nist& n : kNist) {
    Check(n.reduce(r, a, nullptr, ctx) == 1, "nist reduction");
    Check(BN_nnmod(want, a, n.prime(), ctx) == 1, "nnmod");
    Check(BN_cmp(r, want) == 0, "nist reduction equals nnmod");
    Check(BN_copy(in, a) != nullptr && n.reduce(in, in, nullptr, ctx) == 1 && BN_cmp(in, want) == 0,
          "nist reduction in place");
  }
  BN_free(r);
  BN_free(want);
  BN_free(in);
}

// p = the low bytes of the input with bit 0 set, a = the rest.
void Gf2mInverse(const uint8_t* data, size_t size, BN_CTX* ctx) {
  const size_t split = size > 1 ? 1 + data[0] % (size - 1) : 0;
  if (split == 0 || split > 72) return;
  BIGNUM *p = BN_bin2bn(data + 1, static_cast<int>(split), nullptr),
         *a = BN_bin2bn(data + 1 + split, static_cast<int>(size - 1 - split), nullptr),
         *r = BN_new(), *t = BN_new();
  BN_set_bit(p, 0);
  if (BN_num_bits(p) > 1 && BN_GF2m_mod_inv(r, a, p, ctx) == 1) {
    Check(BN_GF2m_mod_mul(t, a, r, p, ctx) == 1 && BN_is_one(t), "a a^-1 = 1");
  }
  ERR_clear_error();
  for (BIGNUM* x : {p, a, r, t}) BN_free(x);
}

void SmallPrimality(const BIGNUM* a, BN_CTX* ctx) {
  if (a->top != 1 || a->neg || a->d[0] > 17863u * 17863u) return;
  const BN_ULONG v = a->d[0];
  bool prime = v >= 2;
  for (BN_ULONG d = 2; d * d <= v && prime; d++) prime = v % d != 0;
  Check(BN_is_prime_fasttest_ex(a, 1, ctx, 1, nullptr) == (prime ? 1 : 0), "trial division");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > 300) return 0;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* a = BN_bin2bn(data + 1, static_cast<int>(size - 1), nullptr);
  BN_set_negative(a, data[0] & 1);
  NistReductions(a, ctx);
  SmallPrimality(a, ctx);
  Gf2mInverse(data, size, ctx);
  BN_free(a);
  BN_CTX_free(ctx);
  return 0;
}
