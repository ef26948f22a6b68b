// RSA key generation: the built-in method (two random primes of half the
// size each, d = e^-1 mod (p-1)(q-1)) and ANSI X9.31 (primes derived from
// starting values with large auxiliary primes, d = e^-1 mod lcm(p-1, q-1)).
//
// Implementation notes: the primes that are kept steer no branch and no
// address.  BN_generate_prime_ex tests its candidates so; p - 1 is p with
// bit 0 cleared, gcd(p - 1, e) and the inverses take the fixed-width forms
// of secret operands, and the primes are compared by masks.  Made public
// (reveal) are the decisions that drop a prime (gcd(p - 1, e) > 1, q = p),
// which of the two is the larger (the key keeps p > q anyway), and the word
// counts of the key's numbers, which the private operations take as public.

#include <stdint.h>

#include <initializer_list>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "rsa/internal.h"

namespace {

using morvane::rsa::minus_one;
using morvane::rsa::one_mask;
using morvane::rsa::reveal;
using morvane::rsa::reveal_top;
using morvane::rsa::secret_view;

// Makes each of the key's numbers that is missing; false when memory runs out.
bool make_numbers(RSA* rsa) {
  for (BIGNUM** b :
       {&rsa->n, &rsa->d, &rsa->e, &rsa->p, &rsa->q, &rsa->dmp1, &rsa->dmq1, &rsa->iqmp}) {
    if (*b == nullptr && (*b = BN_new()) == nullptr) return false;
  }
  return true;
}

// Compares two primes by masks (their word counts are public): -1, 0 or 1,
// made public.
int compare_primes(const BIGNUM* a, const BIGNUM* b) {
  if (a->top != b->top) return a->top < b->top ? -1 : 1;
  if (morvane::rsa::same_value(a, b)) return 0;
  return reveal(morvane::rsa::lt_words(a->d, b->d, a->top)) != 0 ? -1 : 1;
}

// True when gcd(prime - 1, e) = 1, made public; `ok` false when the
// arithmetic failed.
bool coprime_to_e(const RSA* rsa, const BIGNUM* prime, const BIGNUM* e, BIGNUM* t, BIGNUM* g,
                  BN_CTX* ctx, bool* ok) {
  *ok = minus_one(t, prime);
  const BIGNUM v = secret_view(t, rsa);
  *ok = *ok && BN_gcd(g, &v, e, ctx);
  const bool coprime = *ok && reveal(one_mask(g)) != 0;
  BN_clear(g);  // its count came from masks: cleared by its room
  return coprime;
}

// d = e^-1 mod `modulus`, dmp1 = d mod r1, dmq1 = d mod r2 (r1 = p - 1, r2 =
// q - 1) and iqmp = q^-1 mod p, the secret operands marked for the
// constant-time forms.  False when a step failed.
bool private_numbers(RSA* rsa, const BIGNUM* modulus, const BIGNUM* r1, const BIGNUM* r2,
                     BN_CTX* ctx) {
  const BIGNUM m = secret_view(modulus, rsa);
  if (BN_mod_inverse(rsa->d, rsa->e, &m, ctx) == nullptr) return false;
  reveal_top(rsa->d);
  const BIGNUM d = secret_view(rsa->d, rsa);
  const BIGNUM s1 = secret_view(r1, rsa), s2 = secret_view(r2, rsa);
  if (!BN_mod(rsa->dmp1, &d, &s1, ctx) || !BN_mod(rsa->dmq1, &d, &s2, ctx)) return false;
  reveal_top(rsa->dmp1);
  reveal_top(rsa->dmq1);
  const BIGNUM p = secret_view(rsa->p, rsa);
  if (BN_mod_inverse(rsa->iqmp, rsa->q, &p, ctx) == nullptr) return false;
  reveal_top(rsa->iqmp);
  return true;
}

// The built-in generator, once the key's numbers exist.  False on any
// failure of the arithmetic, of the prime search or of the callback.
bool builtin_keygen(RSA* rsa, int bits, const BIGNUM* e_value, BN_GENCB* cb, BN_CTX* ctx) {
  BN_CTX_start(ctx);
  BIGNUM* r0 = BN_CTX_get(ctx);
  BIGNUM* r1 = BN_CTX_get(ctx);
  BIGNUM* r2 = BN_CTX_get(ctx);
  BIGNUM* r3 = BN_CTX_get(ctx);
  bool ok = r3 != nullptr && BN_copy(rsa->e, e_value) != nullptr;
  const int bitsp = bits / 2 + (bits & 1);
  const int bitsq = bits - bitsp;
  int refused = 0;
  // p, refused while p - 1 shares a factor with e.
  while (ok) {
    if (!BN_generate_prime_ex(rsa->p, bitsp, 0, nullptr, nullptr, cb)) {
      ok = false;
      break;
    }
    if (coprime_to_e(rsa, rsa->p, rsa->e, r2, r1, ctx, &ok) || !ok) break;
    if (!BN_GENCB_call(cb, 2, refused++)) ok = false;
  }
  if (ok && !BN_GENCB_call(cb, 3, 0)) ok = false;
  // q, at most three draws equal to p, refused while q - 1 shares a factor
  // with e.
  while (ok) {
    int draws = 0;
    do {
      if (!BN_generate_prime_ex(rsa->q, bitsq, 0, nullptr, nullptr, cb)) {
        ok = false;
        break;
      }
    } while (compare_primes(rsa->p, rsa->q) == 0 && ++draws < 3);
    if (!ok) break;
    if (draws == 3) {
      RSAerr(RSA_F_RSA_BUILTIN_KEYGEN, RSA_R_KEY_SIZE_TOO_SMALL);
      BN_CTX_end(ctx);
      return false;
    }
    if (coprime_to_e(rsa, rsa->q, rsa->e, r2, r1, ctx, &ok) || !ok) break;
    if (!BN_GENCB_call(cb, 2, refused++)) ok = false;
  }
  if (ok && !BN_GENCB_call(cb, 3, 1)) ok = false;
  if (ok && compare_primes(rsa->p, rsa->q) < 0) {
    BIGNUM* t = rsa->p;
    rsa->p = rsa->q;
    rsa->q = t;
  }
  ok = ok && BN_mul(rsa->n, rsa->p, rsa->q, ctx) && minus_one(r1, rsa->p) &&
       minus_one(r2, rsa->q) && BN_mul(r0, r1, r2, ctx);
  if (ok) {
    reveal_top(rsa->n);
    reveal_top(r0);
  }
  ok = ok && private_numbers(rsa, r0, r1, r2, ctx);
  BN_CTX_end(ctx);
  if (!ok) RSAerr(RSA_F_RSA_BUILTIN_KEYGEN, ERR_R_BN_LIB);
  return ok;
}

}  // namespace

/* see morvane/rsa.h */
int RSA_generate_key_ex(RSA* rsa, int bits, BIGNUM* e_value, BN_GENCB* cb) {
  if (rsa->meth->rsa_keygen != nullptr) return rsa->meth->rsa_keygen(rsa, bits, e_value, cb);
  if (e_value == nullptr) {
    RSAerr(RSA_F_RSA_BUILTIN_KEYGEN, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // No prime p has gcd(p - 1, e) = 1 for an even e, and e = 1 makes d = 1:
  // refuse both before drawing anything.
  if (BN_is_negative(e_value) || !BN_is_odd(e_value) || BN_is_one(e_value)) {
    RSAerr(RSA_F_RSA_BUILTIN_KEYGEN, RSA_R_BAD_E_VALUE);
    return 0;
  }
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr || !make_numbers(rsa)) {
    RSAerr(RSA_F_RSA_BUILTIN_KEYGEN, ERR_R_BN_LIB);
    BN_CTX_free(ctx);
    return 0;
  }
  const bool ok = builtin_keygen(rsa, bits, e_value, cb, ctx);
  BN_CTX_free(ctx);
  return ok ? 1 : 0;
}

/* see morvane/rsa.h */
RSA* RSA_generate_key(int bits, unsigned long e_value, void (*callback)(int, int, void*),
                      void* cb_arg) {
  RSA* rsa = RSA_new();
  BIGNUM* e = BN_new();
  unsigned char be[sizeof(unsigned long)];
  for (size_t i = 0; i < sizeof be; i++)
    be[i] = static_cast<unsigned char>(e_value >> (8 * (sizeof be - 1 - i)));
  BN_GENCB cb;
  cb.ver = 1;
  cb.arg = cb_arg;
  cb.cb.cb_1 = callback;
  if (rsa != nullptr && e != nullptr && BN_bin2bn(be, static_cast<int>(sizeof be), e) != nullptr &&
      RSA_generate_key_ex(rsa, bits, e, callback != nullptr ? &cb : nullptr)) {
    BN_free(e);
    return rsa;
  }
  BN_free(e);
  RSA_free(rsa);
  return nullptr;
}

/* see morvane/rsa.h */
int RSA_X931_derive_ex(RSA* rsa, BIGNUM* p1, BIGNUM* p2, BIGNUM* q1, BIGNUM* q2, const BIGNUM* Xp1,
                       const BIGNUM* Xp2, const BIGNUM* Xp, const BIGNUM* Xq1, const BIGNUM* Xq2,
                       const BIGNUM* Xq, const BIGNUM* e, BN_GENCB* cb) {
  if (rsa == nullptr) return 0;
  if (rsa->e == nullptr) {
    if (e == nullptr || (rsa->e = BN_dup(e)) == nullptr) return 0;
  }
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) return 0;
  BN_CTX_start(ctx);
  BIGNUM* r0 = BN_CTX_get(ctx);
  BIGNUM* r1 = BN_CTX_get(ctx);
  BIGNUM* r2 = BN_CTX_get(ctx);
  BIGNUM* r3 = BN_CTX_get(ctx);
  BIGNUM* r4 = BN_CTX_get(ctx);
  bool ok = r4 != nullptr;
  if (ok && Xp != nullptr && rsa->p == nullptr) {
    rsa->p = BN_new();
    ok =
        rsa->p != nullptr && BN_X931_derive_prime_ex(rsa->p, p1, p2, Xp, Xp1, Xp2, rsa->e, ctx, cb);
  }
  if (ok && Xq != nullptr && rsa->q == nullptr) {
    rsa->q = BN_new();
    ok =
        rsa->q != nullptr && BN_X931_derive_prime_ex(rsa->q, q1, q2, Xq, Xq1, Xq2, rsa->e, ctx, cb);
  }
  if (!ok) {
    BN_CTX_end(ctx);
    BN_CTX_free(ctx);
    return 0;
  }
  if (rsa->p == nullptr || rsa->q == nullptr) {
    BN_CTX_end(ctx);
    BN_CTX_free(ctx);
    return 2;
  }
  if (!make_numbers(rsa)) ok = false;
  // n = p q; r4 = lcm(p - 1, q - 1) = (p - 1)(q - 1) / gcd(p - 1, q - 1), by
  // the constant-time forms.
  ok = ok && BN_mul(rsa->n, rsa->p, rsa->q, ctx) && minus_one(r1, rsa->p) &&
       minus_one(r2, rsa->q) && BN_mul(r0, r1, r2, ctx);
  if (ok) {
    reveal_top(rsa->n);
    reveal_top(r0);
  }
  const BIGNUM s1 = secret_view(r1, rsa), s2 = secret_view(r2, rsa);
  ok = ok && BN_gcd(r3, &s1, &s2, ctx);
  if (ok) reveal_top(r3);
  const BIGNUM s0 = secret_view(r0, rsa), s3 = secret_view(r3, rsa);
  ok = ok && BN_div(r4, nullptr, &s0, &s3, ctx);
  if (ok) reveal_top(r4);
  ok = ok && private_numbers(rsa, r4, r1, r2, ctx);
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ok ? 1 : 0;
}

/* see morvane/rsa.h */
int RSA_X931_generate_key_ex(RSA* rsa, int bits, const BIGNUM* e, BN_GENCB* cb) {
  BN_CTX* ctx = BN_CTX_new();
  if (ctx == nullptr) return 0;
  BN_CTX_start(ctx);
  BIGNUM* Xp = BN_CTX_get(ctx);
  BIGNUM* Xq = BN_CTX_get(ctx);
  bool ok = Xq != nullptr && BN_X931_generate_Xpq(Xp, Xq, bits, ctx);
  if (ok) {
    BN_clear_free(rsa->p);
    BN_clear_free(rsa->q);
    rsa->p = BN_new();
    rsa->q = BN_new();
    const BIGNUM* pe = rsa->e != nullptr ? rsa->e : e;
    ok = rsa->p != nullptr && rsa->q != nullptr && pe != nullptr &&
         BN_X931_generate_prime_ex(rsa->p, nullptr, nullptr, nullptr, nullptr, Xp, pe, ctx, cb) &&
         BN_X931_generate_prime_ex(rsa->q, nullptr, nullptr, nullptr, nullptr, Xq, pe, ctx, cb);
  }
  ok = ok && RSA_X931_derive_ex(rsa, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, e, cb) == 1;
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
  return ok ? 1 : 0;
}
