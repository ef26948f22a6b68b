// RSA key generation: the built-in method (two random primes of half the
// size each, d = e^-1 mod (p-1)(q-1)) and ANSI X9.31 (primes derived from
// starting values with large auxiliary primes, d = e^-1 mod lcm(p-1, q-1)).

#include <stdint.h>

#include <initializer_list>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "rsa/internal.h"

namespace {

using morvane::rsa::secret_view;

// Makes each of the key's numbers that is missing; false when memory runs out.
bool make_numbers(RSA* rsa) {
  for (BIGNUM** b :
       {&rsa->n, &rsa->d, &rsa->e, &rsa->p, &rsa->q, &rsa->dmp1, &rsa->dmq1, &rsa->iqmp}) {
    if (*b == nullptr && (*b = BN_new()) == nullptr) return false;
  }
  return true;
}

// True when gcd(prime - 1, e) = 1; `ok` false when the arithmetic failed.
bool coprime_to_e(const BIGNUM* prime, const BIGNUM* e, BIGNUM* t, BIGNUM* g, BN_CTX* ctx,
                  bool* ok) {
  *ok = BN_copy(t, prime) != nullptr && BN_sub_word(t, 1) && BN_gcd(g, t, e, ctx);
  return *ok && BN_is_one(g);
}

// d = e^-1 mod `modulus`, dmp1 = d mod r1, dmq1 = d mod r2 (r1 = p - 1, r2 =
// q - 1) and iqmp = q^-1 mod p, the secret operands marked for the
// constant-time forms.  False when a step failed.
bool private_numbers(RSA* rsa, const BIGNUM* modulus, const BIGNUM* r1, const BIGNUM* r2,
                     BN_CTX* ctx) {
  const BIGNUM m = secret_view(modulus, rsa);
  if (BN_mod_inverse(rsa->d, rsa->e, &m, ctx) == nullptr) return false;
  const BIGNUM d = secret_view(rsa->d, rsa);
  if (!BN_mod(rsa->dmp1, &d, r1, ctx) || !BN_mod(rsa->dmq1, &d, r2, ctx)) return false;
  const BIGNUM p = secret_view(rsa->p, rsa);
  return BN_mod_inverse(rsa->iqmp, rsa->q, &p, ctx) != nullptr;
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
    if (coprime_to_e(rsa->p, rsa->e, r2, r1, ctx, &ok) || !ok) break;
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
    } while (BN_cmp(rsa->p, rsa->q) == 0 && ++draws < 3);
    if (!ok) break;
    if (draws == 3) {
      RSAerr(RSA_F_RSA_BUILTIN_KEYGEN, RSA_R_KEY_SIZE_TOO_SMALL);
      BN_CTX_end(ctx);
      return false;
    }
    if (coprime_to_e(rsa->q, rsa->e, r2, r1, ctx, &ok) || !ok) break;
    if (!BN_GENCB_call(cb, 2, refused++)) ok = false;
  }
  if (ok && !BN_GENCB_call(cb, 3, 1)) ok = false;
  if (ok && BN_cmp(rsa->p, rsa->q) < 0) {
    BIGNUM* t = rsa->p;
    rsa->p = rsa->q;
    rsa->q = t;
  }
  ok = ok && BN_mul(rsa->n, rsa->p, rsa->q, ctx) && BN_sub(r1, rsa->p, BN_value_one()) &&
       BN_sub(r2, rsa->q, BN_value_one()) && BN_mul(r0, r1, r2, ctx) &&
       private_numbers(rsa, r0, r1, r2, ctx);
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
  // n = p q; r4 = lcm(p - 1, q - 1) = (p - 1)(q - 1) / gcd(p - 1, q - 1).
  ok = ok && BN_mul(rsa->n, rsa->p, rsa->q, ctx) && BN_sub(r1, rsa->p, BN_value_one()) &&
       BN_sub(r2, rsa->q, BN_value_one()) && BN_mul(r0, r1, r2, ctx) && BN_gcd(r3, r1, r2, ctx) &&
       BN_div(r4, nullptr, r0, r3, ctx) && private_numbers(rsa, r4, r1, r2, ctx);
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
