// Generation of DSA parameters by FIPS 186-2, Appendix 2.2 (SHA-1, a
// 160-bit q), and the old interface with a bare callback.
//
// Implementation notes: buf holds SEED + offset of the standard: SEED + 1
// after q is made, then incremented before each hash of W's blocks, so the
// first p candidate hashes SEED + 2 and each later one goes on where the
// previous stopped, as the standard's offset does.

#include <string.h>

#include <initializer_list>

#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/rand.h>
#include <morvane/sha.h>

#include "internal/wipe.h"

namespace {

constexpr int kSeedBytes = SHA_DIGEST_LENGTH;  // 20: g of the standard is 160

// The 20-byte big-endian number at b, plus one (modulo 2^160).
void increment(unsigned char* b) {
  for (int i = kSeedBytes - 1; i >= 0; i--) {
    if (++b[i] != 0) break;
  }
}

// Numbers of one generation, taken from a frame of one context.
struct Work {
  BIGNUM *r0, *W, *q, *X, *c, *p, *test, *g;
};

// Steps 1 to 5 (q from a seed, the given one first when there is one):
// true with w.q prime; false on an error or a stop by the callback.
bool find_q(Work& w, unsigned char* seed, unsigned char* buf, const unsigned char* given,
            int* m, BN_CTX* ctx, BN_GENCB* cb) {
  for (;;) {
    if (!BN_GENCB_call(cb, 0, (*m)++)) return false;
    const bool random = given == nullptr;
    if (random) {
      if (RAND_pseudo_bytes(seed, kSeedBytes) < 0) return false;
    } else {
      memcpy(seed, given, kSeedBytes);
      given = nullptr;  // a given seed serves once
    }
    unsigned char md[kSeedBytes], md2[kSeedBytes];
    memcpy(buf, seed, kSeedBytes);
    increment(buf);
    SHA1(seed, kSeedBytes, md);
    SHA1(buf, kSeedBytes, md2);
    for (int i = 0; i < kSeedBytes; i++) md[i] ^= md2[i];  // U
    md[0] |= 0x80;
    md[kSeedBytes - 1] |= 0x01;
    if (BN_bin2bn(md, kSeedBytes, w.q) == nullptr) return false;
    const int r = BN_is_prime_fasttest_ex(w.q, 50, ctx, random, cb);
    if (r > 0) return true;
    if (r < 0) return false;
  }
}

int builtin_paramgen(DSA* ret, int bits, unsigned char* seed_in, int seed_len, int* counter_ret,
                     unsigned long* h_ret, BN_GENCB* cb) {
  if (bits > DSA_MAX_MODULUS_BITS) {
    DSAerr(DSA_F_DSA_BUILTIN_PARAMGEN, DSA_R_MODULUS_TOO_LARGE);
    return 0;
  }
  if (bits < 512) bits = 512;
  bits = (bits + 63) / 64 * 64;
  const unsigned char* given = seed_in != nullptr && seed_len >= kSeedBytes ? seed_in : nullptr;
  unsigned char seed[kSeedBytes], buf[kSeedBytes], md[kSeedBytes];
  BN_CTX* ctx = BN_CTX_new();
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  int ok = 0, counter = 0, m = 0;
  unsigned long h = 2;
  Work w{};
  if (ctx == nullptr || mont == nullptr) goto done;
  BN_CTX_start(ctx);
  for (BIGNUM** b : {&w.r0, &w.W, &w.q, &w.X, &w.c, &w.p, &w.test, &w.g}) *b = BN_CTX_get(ctx);
  if (w.g == nullptr || !BN_lshift(w.test, BN_value_one(), bits - 1)) goto end;
  for (bool found = false; !found;) {
    if (!find_q(w, seed, buf, given, &m, ctx, cb)) goto end;
    given = nullptr;
    if (!BN_GENCB_call(cb, 2, 0) || !BN_GENCB_call(cb, 3, 0)) goto end;
    // Step 7 on: p candidates from SEED + offset.
    const int n = (bits - 1) / 160;
    for (counter = 0; counter < 4096; counter++) {
      if (counter != 0 && !BN_GENCB_call(cb, 0, counter)) goto end;
      BN_zero(w.W);
      for (int k = 0; k <= n; k++) {  // W = V_0 + V_1 2^160 + ... + V_n 2^(160 n)
        increment(buf);
        SHA1(buf, kSeedBytes, md);
        if (BN_bin2bn(md, kSeedBytes, w.r0) == nullptr || !BN_lshift(w.r0, w.r0, 160 * k) ||
            !BN_add(w.W, w.W, w.r0))
          goto end;
      }
      // X = (W mod 2^(L-1)) + 2^(L-1); p = X - (X mod 2q - 1).
      if (!BN_mask_bits(w.W, bits - 1) || BN_copy(w.X, w.W) == nullptr ||
          !BN_add(w.X, w.X, w.test) || !BN_lshift1(w.r0, w.q) || !BN_mod(w.c, w.X, w.r0, ctx) ||
          !BN_sub(w.r0, w.c, BN_value_one()) || !BN_sub(w.p, w.X, w.r0))
        goto end;
      if (BN_cmp(w.p, w.test) >= 0) {
        const int r = BN_is_prime_fasttest_ex(w.p, 50, ctx, 1, cb);
        if (r < 0) goto end;
        if (r > 0) {
          found = true;
          break;
        }
      }
    }
  }
  if (!BN_GENCB_call(cb, 2, 1)) goto end;
  // Appendix 4: g = h^((p-1)/q) mod p for h = 2, 3, ... until g > 1.
  if (!BN_sub(w.test, w.p, BN_value_one()) || !BN_div(w.r0, nullptr, w.test, w.q, ctx) ||
      !BN_set_word(w.test, h) || !BN_MONT_CTX_set(mont, w.p, ctx))
    goto end;
  for (;;) {
    if (!BN_mod_exp_mont(w.g, w.test, w.r0, w.p, ctx, mont)) goto end;
    if (!BN_is_one(w.g)) break;
    if (!BN_add_word(w.test, 1)) goto end;
    h++;
  }
  if (!BN_GENCB_call(cb, 3, 1)) goto end;
  {
    BIGNUM* p = BN_dup(w.p);
    BIGNUM* q = BN_dup(w.q);
    BIGNUM* g = BN_dup(w.g);
    if (p == nullptr || q == nullptr || g == nullptr) {
      BN_free(p);
      BN_free(q);
      BN_free(g);
      goto end;
    }
    BN_free(ret->p);
    BN_free(ret->q);
    BN_free(ret->g);
    ret->p = p;
    ret->q = q;
    ret->g = g;
  }
  if (seed_in != nullptr && seed_len == 0) memcpy(seed_in, seed, kSeedBytes);
  if (counter_ret != nullptr) *counter_ret = counter;
  if (h_ret != nullptr) *h_ret = h;
  ok = 1;
end:
  BN_CTX_end(ctx);
done:
  BN_MONT_CTX_free(mont);
  BN_CTX_free(ctx);
  return ok;
}

}  // namespace

/* see morvane/dsa.h */
int DSA_generate_parameters_ex(DSA* dsa, int bits, unsigned char* seed, int seed_len,
                               int* counter_ret, unsigned long* h_ret, BN_GENCB* cb) {
  if (dsa->meth->dsa_paramgen != nullptr)
    return dsa->meth->dsa_paramgen(dsa, bits, seed, seed_len, counter_ret, h_ret, cb);
  return builtin_paramgen(dsa, bits, seed, seed_len, counter_ret, h_ret, cb);
}

/* see morvane/dsa.h */
DSA* DSA_generate_parameters(int bits, unsigned char* seed, int seed_len, int* counter_ret,
                             unsigned long* h_ret, void (*callback)(int, int, void*),
                             void* cb_arg) {
  DSA* ret = DSA_new();
  if (ret == nullptr) return nullptr;
  BN_GENCB cb;
  cb.ver = 1;
  cb.arg = cb_arg;
  cb.cb.cb_1 = callback;
  if (DSA_generate_parameters_ex(ret, bits, seed, seed_len, counter_ret, h_ret, &cb)) return ret;
  DSA_free(ret);
  return nullptr;
}
