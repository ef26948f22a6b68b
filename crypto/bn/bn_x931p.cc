// Prime derivation of ANSI X9.31 (1998, 4.1.2): the auxiliary primes p1 and
// p2 from Xp1 and Xp2, the prime p >= Xp with p - 1 divisible by p1 and p + 1
// by p2, and the random starting values of an RSA modulus.
//
// Implementation notes: p, p1 and p2 are secret: the primality tests, the
// inverses and gcd(p - 1, e) see them through views flagged BN_FLAG_SECRET,
// which take the constant-time forms; the walk from one candidate to the
// next is plain arithmetic.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace bn = morvane::bn;

namespace {

// pi = the first probable prime >= Xpi (odd values only), with progress
// events (0, attempt) and (2, attempt).
bool derive_pi(BIGNUM* pi, const BIGNUM* Xpi, BN_CTX* ctx, BN_GENCB* cb) {
  if (BN_copy(pi, Xpi) == nullptr) return false;
  if (!BN_is_odd(pi) && !BN_add_word(pi, 1)) return false;
  for (int i = 1;; i++) {
    BN_GENCB_call(cb, 0, i);
    const BIGNUM v = bn::secret_view(pi);
    const int j = BN_is_prime_fasttest_ex(&v, 27, ctx, 1, cb);
    if (j < 0) return false;
    if (j > 0) {
      BN_GENCB_call(cb, 2, i);
      return true;
    }
    if (!BN_add_word(pi, 2)) return false;
  }
}

}  // namespace

/* see morvane/bn.h */
int BN_X931_derive_prime_ex(BIGNUM* p, BIGNUM* p1, BIGNUM* p2, const BIGNUM* Xp, const BIGNUM* Xp1,
                            const BIGNUM* Xp2, const BIGNUM* e, BN_CTX* ctx, BN_GENCB* cb) {
  if (!BN_is_odd(e)) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  ctx = own.get();
  bn::Frame frame(ctx);
  if (p1 == nullptr) p1 = frame.get();
  if (p2 == nullptr) p2 = frame.get();
  BIGNUM *t = frame.get(), *p1p2 = frame.get(), *pm1 = frame.get();
  if (pm1 == nullptr || p1 == nullptr || p2 == nullptr) return 0;
  if (!derive_pi(p1, Xp1, ctx, cb) || !derive_pi(p2, Xp2, ctx, cb) || !BN_mul(p1p2, p1, p2, ctx))
    return 0;
  // R = (p2^-1 mod p1) p2 - (p1^-1 mod p2) p1: R = 1 (mod p1), R = -1 (mod p2).
  const BIGNUM s1 = bn::secret_view(p1), s2 = bn::secret_view(p2);
  if (BN_mod_inverse(p, &s2, &s1, ctx) == nullptr || !BN_mul(p, p, p2, ctx) ||
      BN_mod_inverse(t, &s1, &s2, ctx) == nullptr || !BN_mul(t, t, p1, ctx) || !BN_sub(p, p, t))
    return 0;
  if (p->neg && !BN_add(p, p, p1p2)) return 0;
  // The least p >= Xp with p = R (mod p1 p2).
  if (!BN_sub(p, p, Xp) || !BN_nnmod(p, p, p1p2, ctx) || !BN_add(p, p, Xp)) return 0;
  for (;;) {
    BN_GENCB_call(cb, 0, 1);
    if (BN_copy(pm1, p) == nullptr || !BN_sub_word(pm1, 1)) return 0;
    const BIGNUM sp = bn::secret_view(p), spm1 = bn::secret_view(pm1);
    if (!BN_gcd(t, &spm1, e, ctx)) return 0;
    if (BN_is_one(t)) {
      const int j = BN_is_prime_fasttest_ex(&sp, 50, ctx, 1, cb);
      if (j < 0) return 0;
      if (j > 0) break;
    }
    if (!BN_add(p, p, p1p2)) return 0;
  }
  BN_GENCB_call(cb, 3, 0);
  return 1;
}

/* see morvane/bn.h */
int BN_X931_generate_Xpq(BIGNUM* Xp, BIGNUM* Xq, int nbits, BN_CTX* ctx) {
  if (nbits < 1024 || nbits % 256 != 0) return 0;
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  bn::Frame frame(own.get());
  BIGNUM* t = frame.get();
  if (t == nullptr || !BN_rand(Xp, nbits / 2, 1, 0)) return 0;
  // |Xp - Xq| must exceed 2^(nbits/2 - 100).
  for (int i = 0; i < 1000; i++) {
    if (!BN_rand(Xq, nbits / 2, 1, 0) || !BN_sub(t, Xp, Xq)) return 0;
    if (BN_num_bits(t) > nbits / 2 - 100) return 1;
  }
  return 0;
}

/* see morvane/bn.h */
int BN_X931_generate_prime_ex(BIGNUM* p, BIGNUM* p1, BIGNUM* p2, BIGNUM* Xp1, BIGNUM* Xp2,
                              const BIGNUM* Xp, const BIGNUM* e, BN_CTX* ctx, BN_GENCB* cb) {
  bn::CtxOrNew own(ctx);
  if (own.get() == nullptr) return 0;
  bn::Frame frame(own.get());
  if (Xp1 == nullptr) Xp1 = frame.get();
  if (Xp2 == nullptr) Xp2 = frame.get();
  if (Xp1 == nullptr || Xp2 == nullptr || !BN_rand(Xp1, 101, 0, 0) || !BN_rand(Xp2, 101, 0, 0))
    return 0;
  return BN_X931_derive_prime_ex(p, p1, p2, Xp, Xp1, Xp2, e, own.get(), cb);
}
