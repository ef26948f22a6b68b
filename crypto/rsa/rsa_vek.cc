// The built-in RSA method: public operations by plain exponentiation, private
// operations by the Chinese Remainder Theorem with a check of the result
// (RFC 8017, 5.1.2), behind a blinding of the input.
//
// Implementation notes: the private operations keep every secret-derived
// value at the public width of its modulus.  With the five CRT numbers, a
// balanced key (p and q of one word count, n at most twice that) and the
// built-in exponentiation, the CRT runs on word arrays: reductions and
// products in Montgomery form, the two exponentiations in the constant-time
// form (the exponents are marked secret), the recombination by masks, and the
// check r^e = I (mod n) with the constant-time form too (e marked secret, so
// that the result's value steers nothing).  Other keys take the same steps on BIGNUMs.  The
// decrypted block keeps all RSA_size bytes for the padding check, and the
// unblinding factor is applied on words too (the blinding record is then only
// advanced), so the plaintext never passes through a BIGNUM whose length
// follows its value.

#include <stdint.h>
#include <string.h>

#include <initializer_list>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "internal/ct.h"
#include "internal/wipe.h"
#include "rsa/internal.h"

namespace ct = morvane::ct;
using namespace morvane::rsa;

namespace {

constexpr int kMaxModulusBits = 16384;
constexpr int kSmallModulusBits = 3072;  // above it the public exponent is limited
constexpr int kSmallExponentBits = 64;

// The frame of one operation: a BN_CTX with one open frame, and a buffer of
// the modulus length, wiped and freed on every way out.
class OpFrame {
 public:
  OpFrame(int num, int fn) : num_(num) {
    ctx_ = BN_CTX_new();
    if (ctx_ == nullptr) return;  // no record: the caller fails with -1
    BN_CTX_start(ctx_);
    buf_ =
        num > 0 ? static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(num))) : nullptr;
    if (buf_ == nullptr) RSAerr(fn, ERR_R_MALLOC_FAILURE);
  }
  ~OpFrame() {
    if (ctx_ != nullptr) {
      BN_CTX_end(ctx_);
      BN_CTX_free(ctx_);
    }
    if (buf_ != nullptr) {
      morvane::internal::wipe(buf_, static_cast<size_t>(num_));
      MORVANE_free(buf_);
    }
  }
  OpFrame(const OpFrame&) = delete;
  OpFrame& operator=(const OpFrame&) = delete;
  bool ok() const { return ctx_ != nullptr && buf_ != nullptr; }
  BN_CTX* ctx() const { return ctx_; }
  unsigned char* buf() const { return buf_; }
  // n numbers from the frame, "malloc failure" when one is missing.
  bool get(int fn, std::initializer_list<BIGNUM**> out) {
    bool all = true;
    for (BIGNUM** b : out) all = (*b = BN_CTX_get(ctx_)) != nullptr && all;
    if (!all) RSAerr(fn, ERR_R_MALLOC_FAILURE);
    return all;
  }

 private:
  BN_CTX* ctx_ = nullptr;
  unsigned char* buf_ = nullptr;
  int num_;
};

// A key without n is refused (the private operations' first test).
bool has_modulus(const RSA* rsa, int fn) {
  if (rsa->n != nullptr) return true;
  RSAerr(fn, ERR_R_PASSED_NULL_PARAMETER);
  return false;
}

// An input of flen bytes must not be longer than the modulus.
bool fits_modulus(int flen, int num, int fn) {
  if (flen <= num && flen >= 0) return true;
  RSAerr(fn, RSA_R_DATA_GREATER_THAN_MOD_LEN);
  return false;
}

// Scratch words were had ("malloc failure" otherwise).
bool scratch_ok(const BN_ULONG* w, int fn) {
  if (w != nullptr) return true;
  RSAerr(fn, ERR_R_MALLOC_FAILURE);
  return false;
}

// The limits on the key of the public operations: the size of the modulus
// and of the public exponent; a key without n or e is refused too.
bool public_key_ok(const RSA* rsa, int fn) {
  if (!has_modulus(rsa, fn)) return false;
  if (rsa->e == nullptr) {
    RSAerr(fn, RSA_R_NO_PUBLIC_EXPONENT);
    return false;
  }
  if (BN_num_bits(rsa->n) > kMaxModulusBits) {
    RSAerr(fn, RSA_R_MODULUS_TOO_LARGE);
    return false;
  }
  if (BN_ucmp(rsa->n, rsa->e) <= 0 ||
      (BN_num_bits(rsa->n) > kSmallModulusBits && BN_num_bits(rsa->e) > kSmallExponentBits)) {
    RSAerr(fn, RSA_R_BAD_E_VALUE);
    return false;
  }
  return true;
}

// The cached Montgomery context of n when the key keeps one (null
// otherwise); false on failure.
bool mont_n(RSA* rsa, BN_CTX* ctx, BN_MONT_CTX** out) {
  *out = nullptr;
  if (!(rsa->flags & RSA_FLAG_CACHE_PUBLIC)) return true;
  *out = BN_MONT_CTX_set_locked(&rsa->_method_mod_n, CRYPTO_LOCK_RSA, rsa->n, ctx);
  return *out != nullptr;
}

// f = the number in `from` (flen bytes), which must be below n.
bool input_below_n(BIGNUM* f, const unsigned char* from, int flen, const RSA* rsa, int fn) {
  if (BN_bin2bn(from, flen, f) == nullptr) return false;
  if (BN_ucmp(f, rsa->n) >= 0) {
    RSAerr(fn, RSA_R_DATA_TOO_LARGE_FOR_MODULUS);
    return false;
  }
  return true;
}

// The big-endian bytes of ret right-aligned in to[0 .. num).
void write_right_aligned(unsigned char* to, int num, const BIGNUM* ret) {
  const int j = BN_num_bytes(ret);
  memset(to, 0, static_cast<size_t>(num - j));
  BN_bn2bin(ret, to + num - j);
}

// A number of nl words viewed from w, marked secret and borrowed; its top
// is the public width, so it may carry leading zero words.
BIGNUM words_view(BN_ULONG* w, int nl) {
  BIGNUM v;
  v.d = w;
  v.top = nl;
  v.dmax = nl;
  v.neg = 0;
  v.flags = BN_FLAG_BORROWED | BN_FLAG_SECRET;
  return v;
}

// ---- the private exponentiation ------------------------------------------

// The CRT on words for a balanced key (see the notes at the top); r0 = I^d
// mod n.  The Montgomery contexts of p and q are given (cached or made for
// the call), that of n may be null.
int crt_words(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, const BN_MONT_CTX* mp_ctx,
              const BN_MONT_CTX* mq_ctx, BN_MONT_CTX* mn_cached) {
  const int pl = rsa->p->top, nl = rsa->n->top;
  const int tw = 2 * pl;
  // R^2 mod p and mod q, x, r1, m1, r0, h, iqmp, t, prod, out, vrfy, iw.
  Scratch s(static_cast<size_t>(2 * pl + 2 * pl + 5 * pl + tw + 2 * pl + 3 * nl));
  Modulus mp, mq;
  if (!s.modulus(&mp, mp_ctx) || !s.modulus(&mq, mq_ctx)) return 0;
  BN_ULONG *x = s.take(2 * pl), *r1 = s.take(pl), *m1 = s.take(pl), *r0w = s.take(pl),
           *h = s.take(pl), *iq = s.take(pl), *t = s.take(tw), *prod = s.take(2 * pl);
  BN_ULONG *out = s.take(nl), *vrfy = s.take(nl), *iw = s.take(nl);
  if (iw == nullptr) return 0;
  BN_CTX_start(ctx);
  BIGNUM* e1 = BN_CTX_get(ctx);
  int ok = e1 != nullptr;
  load_words(x, 2 * pl, I);
  // r = I^dm mod m for m = q then p: I mod m by two reductions (x R^-1, then
  // times R^2), then the constant-time exponentiation.
  struct Half {
    const Modulus& m;
    const BN_MONT_CTX* mont;
    const BIGNUM* prime;
    const BIGNUM* exp;
    BN_ULONG* result;
  };
  for (const Half& half :
       {Half{mq, mq_ctx, rsa->q, rsa->dmq1, m1}, Half{mp, mp_ctx, rsa->p, rsa->dmp1, r0w}}) {
    if (!ok) break;
    for (int i = 0; i < 2 * pl; i++) t[i] = x[i];
    redc(r1, t, half.m);
    mont_mul(r1, r1, half.m.rr, half.m, t);
    BIGNUM base = words_view(r1, pl);
    BIGNUM exp = secret_view(half.exp, rsa);
    BIGNUM prime = secret_view(half.prime, rsa);
    ok = rsa->meth->bn_mod_exp(e1, &base, &exp, &prime, ctx, const_cast<BN_MONT_CTX*>(half.mont)) ==
         1;
    if (ok) load_words(half.result, pl, e1);
  }
  if (ok) {
    // h = (r0 - (m1 mod p)) iqmp mod p, then r0 = m1 + h q.
    for (int i = 0; i < 2 * pl; i++) t[i] = i < pl ? m1[i] : 0;
    redc(h, t, mp);
    mont_mul(h, h, mp.rr, mp, t);
    sub_mod(h, r0w, h, mp);
    load_words(iq, pl, rsa->iqmp);
    mont_mul(h, h, iq, mp, t);
    mont_mul(h, h, mp.rr, mp, t);
    bn_mul_normal(prod, h, pl, rsa->q->d, pl);
    BN_ULONG c = bn_add_words(prod, prod, m1, pl);
    for (int i = pl; i < 2 * pl; i++) {
      prod[i] += c;
      c = ct::lt_mask(prod[i], c) & 1;
    }
    for (int i = 0; i < nl; i++) out[i] = prod[i];
    if (rsa->e != nullptr) {
      // The check: r0 < n and r0^e = I (mod n), or the result is discarded.
      // The power runs in the constant-time form (e marked secret), which
      // takes the result's words whatever their value.
      MontFor mn(mn_cached, rsa->n, ctx);
      BIGNUM base = words_view(out, nl), e = secret_view(rsa->e, rsa);
      e.flags |= BN_FLAG_SECRET;
      ok =
          mn.get() != nullptr && BN_mod_exp_mont_consttime(e1, &base, &e, rsa->n, ctx,
                                                           const_cast<BN_MONT_CTX*>(mn.get())) == 1;
      if (ok) {
        load_words(vrfy, nl, e1);
        load_words(iw, nl, I);
        BN_ULONG good = zero_words_mask(prod + nl, 2 * pl - nl) & lt_words(out, rsa->n->d, nl);
        for (int i = 0; i < nl; i++) good &= ct::eq_mask(vrfy[i], iw[i]);
        if (!reveal(good)) {  // a fault: the direct exponentiation instead
          ok = rsa->d != nullptr;
          BIGNUM d = ok ? secret_view(rsa->d, rsa) : BIGNUM{};
          ok = ok && rsa->meth->bn_mod_exp(e1, I, &d, rsa->n, ctx,
                                           const_cast<BN_MONT_CTX*>(mn.get())) == 1;
          if (ok) load_words(out, nl, e1);
        }
      }
    }
  }
  ok = ok && store_words(r0, out, nl);
  if (e1 != nullptr) BN_clear(e1);
  BN_CTX_end(ctx);
  return ok;
}

// The CRT on BIGNUMs, step by step as the standard gives it, for keys that
// the word form does not take.
int crt_numbers(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mp,
                BN_MONT_CTX* mq, BN_MONT_CTX* mn) {
  BN_CTX_start(ctx);
  BIGNUM* r1 = BN_CTX_get(ctx);
  BIGNUM* m1 = BN_CTX_get(ctx);
  BIGNUM* vrfy = BN_CTX_get(ctx);
  const BIGNUM p = secret_view(rsa->p, rsa), q = secret_view(rsa->q, rsa);
  const BIGNUM dmp1 = secret_view(rsa->dmp1, rsa), dmq1 = secret_view(rsa->dmq1, rsa);
  const BIGNUM in = secret_view(I, rsa);
  const auto exp = rsa->meth->bn_mod_exp;
  int ok = vrfy != nullptr && BN_mod(r1, &in, &q, ctx);
  BIGNUM r1v = ok ? secret_view(r1, rsa) : BIGNUM{};
  ok = ok && exp(m1, &r1v, &dmq1, &q, ctx, mq) && BN_mod(r1, &in, &p, ctx);
  r1v = ok ? secret_view(r1, rsa) : BIGNUM{};
  ok = ok && exp(r0, &r1v, &dmp1, &p, ctx, mp) && BN_sub(r0, r0, m1);
  if (ok && BN_is_negative(r0)) ok = BN_add(r0, r0, rsa->p);
  ok = ok && BN_mul(r1, r0, rsa->iqmp, ctx);
  r1v = ok ? secret_view(r1, rsa) : BIGNUM{};
  ok = ok && BN_mod(r0, &r1v, &p, ctx);
  if (ok && BN_is_negative(r0)) ok = BN_add(r0, r0, rsa->p);
  ok = ok && BN_mul(r1, r0, rsa->q, ctx) && BN_add(r0, r1, m1);
  if (ok && rsa->e != nullptr && rsa->n != nullptr) {
    ok = exp(vrfy, r0, rsa->e, rsa->n, ctx, mn) && BN_sub(vrfy, vrfy, I) &&
         BN_mod(vrfy, vrfy, rsa->n, ctx);
    if (ok && BN_is_negative(vrfy)) ok = BN_add(vrfy, vrfy, rsa->n);
    if (ok && !BN_is_zero(vrfy)) {  // a fault: the direct exponentiation instead
      ok = rsa->d != nullptr;
      const BIGNUM d = ok ? secret_view(rsa->d, rsa) : BIGNUM{};
      ok = ok && exp(r0, I, &d, rsa->n, ctx, mn);
    }
  }
  if (r1 != nullptr) BN_clear(r1);
  if (m1 != nullptr) BN_clear(m1);
  BN_CTX_end(ctx);
  return ok ? 1 : 0;
}

// r0 = I^d mod n by the CRT with its check.
int vek_mod_exp(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx) {
  BN_MONT_CTX *mp = nullptr, *mq = nullptr, *mn = nullptr;
  if (rsa->flags & RSA_FLAG_CACHE_PRIVATE) {
    mp = BN_MONT_CTX_set_locked(&rsa->_method_mod_p, CRYPTO_LOCK_RSA, rsa->p, ctx);
    mq = mp == nullptr ? nullptr
                       : BN_MONT_CTX_set_locked(&rsa->_method_mod_q, CRYPTO_LOCK_RSA, rsa->q, ctx);
    if (mq == nullptr) return 0;
  }
  if ((rsa->flags & RSA_FLAG_CACHE_PUBLIC) && !mont_n(rsa, ctx, &mn)) return 0;
  if (rsa->p == nullptr || rsa->q == nullptr || rsa->dmp1 == nullptr || rsa->dmq1 == nullptr ||
      rsa->iqmp == nullptr || rsa->n == nullptr) {  // a method flag sent a key without them
    if (rsa->d == nullptr || rsa->n == nullptr) return 0;
    const BIGNUM d = secret_view(rsa->d, rsa);
    return rsa->meth->bn_mod_exp(r0, I, &d, rsa->n, ctx, mn);
  }
  const int pl = rsa->p->top, nl = rsa->n->top;
  const bool words = rsa->meth->bn_mod_exp == BN_mod_exp_mont &&
                     !(rsa->flags & RSA_FLAG_NO_CONSTTIME) && pl > 0 && rsa->q->top == pl &&
                     nl <= 2 * pl && rsa->iqmp->top <= pl && !I->neg && I->top <= nl &&
                     BN_is_odd(rsa->p) && BN_is_odd(rsa->q);
  if (!words) return crt_numbers(r0, I, rsa, ctx, mp, mq, mn);
  MontFor p(mp, rsa->p, ctx), q(mq, rsa->q, ctx);
  if (p.get() == nullptr || q.get() == nullptr) return 0;
  return crt_words(r0, I, rsa, ctx, p.get(), q.get(), mn);
}

int vek_init(RSA* rsa) {
  rsa->flags |= RSA_FLAG_CACHE_PUBLIC | RSA_FLAG_CACHE_PRIVATE;
  return 1;
}

int vek_finish(RSA* rsa) {
  for (BN_MONT_CTX** m : {&rsa->_method_mod_n, &rsa->_method_mod_p, &rsa->_method_mod_q}) {
    BN_MONT_CTX_free(*m);
    *m = nullptr;
  }
  return 1;
}

// The private exponentiation: out[0 .. n->top) = f^d mod n, through the
// blinding unless the key asks for none.  f is blinded in place.
bool private_exp(RSA* rsa, BIGNUM* f, BN_ULONG* out, BN_CTX* ctx, int fn) {
  BIGNUM *ret = BN_CTX_get(ctx), *br = BN_CTX_get(ctx);
  if (br == nullptr) {
    RSAerr(fn, ERR_R_MALLOC_FAILURE);
    return false;
  }
  Blinding blinding;
  if (!(rsa->flags & RSA_FLAG_NO_BLINDING)) {
    if (!blinding.find(rsa, ctx)) {
      RSAerr(fn, ERR_R_INTERNAL_ERROR);
      return false;
    }
    if (!blinding.convert(f, br, ctx)) return false;
  }
  const bool crt = (rsa->flags & RSA_FLAG_EXT_PKEY) ||
                   (rsa->p != nullptr && rsa->q != nullptr && rsa->dmp1 != nullptr &&
                    rsa->dmq1 != nullptr && rsa->iqmp != nullptr);
  bool ok;
  if (crt) {
    ok = rsa->meth->rsa_mod_exp(ret, f, rsa, ctx) == 1;
  } else if (rsa->d == nullptr) {
    RSAerr(fn, ERR_R_PASSED_NULL_PARAMETER);
    ok = false;
  } else {
    BN_MONT_CTX* mn = nullptr;
    const BIGNUM d = secret_view(rsa->d, rsa);
    ok = mont_n(rsa, ctx, &mn) && rsa->meth->bn_mod_exp(ret, f, &d, rsa->n, ctx, mn) == 1;
  }
  if (ok) load_words(out, rsa->n->top, ret);
  BN_clear(ret);
  return ok && (!blinding.active() || blinding.invert(out, br, ctx));
}

// Pads `from` into buf (num bytes): for a signature (private encryption)
// with type 1, none or X9.31, for an encryption with type 2, SSLv23, none or
// OAEP.  The padding function's result, or -1 with "unknown padding type".
int add_padding(bool sign, int padding, unsigned char* buf, int num, const unsigned char* from,
                int flen, int fn) {
  switch (padding) {
    case RSA_PKCS1_PADDING:
      return sign ? RSA_padding_add_PKCS1_type_1(buf, num, from, flen)
                  : RSA_padding_add_PKCS1_type_2(buf, num, from, flen);
    case RSA_NO_PADDING:
      return RSA_padding_add_none(buf, num, from, flen);
    case RSA_SSLV23_PADDING:
      if (!sign) return RSA_padding_add_SSLv23(buf, num, from, flen);
      break;
    case RSA_PKCS1_OAEP_PADDING:
      if (!sign) return RSA_padding_add_PKCS1_OAEP(buf, num, from, flen, nullptr, 0);
      break;
    case RSA_X931_PADDING:
      if (sign) return RSA_padding_add_X931(buf, num, from, flen);
      break;
  }
  RSAerr(fn, RSA_R_UNKNOWN_PADDING_TYPE);
  return -1;
}

// ---- the four operations ----------------------------------------------------

int vek_public_encrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                       int padding) {
  const int fn = RSA_F_RSA_VEK_PUBLIC_ENCRYPT;
  if (!public_key_ok(rsa, fn)) return -1;
  const int num = RSA_size(rsa);
  OpFrame frame(num, fn);
  BIGNUM *f, *ret;
  if (!frame.ok() || !frame.get(fn, {&f, &ret})) return -1;
  unsigned char* buf = frame.buf();
  const int i = add_padding(false, padding, buf, num, from, flen, fn);
  BN_MONT_CTX* mn;
  if (i <= 0 || !input_below_n(f, buf, num, rsa, fn) || !mont_n(rsa, frame.ctx(), &mn) ||
      !rsa->meth->bn_mod_exp(ret, f, rsa->e, rsa->n, frame.ctx(), mn)) {
    return -1;
  }
  write_right_aligned(to, num, ret);
  return num;
}

int vek_public_decrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                       int padding) {
  const int fn = RSA_F_RSA_VEK_PUBLIC_DECRYPT;
  if (!public_key_ok(rsa, fn)) return -1;
  const int num = RSA_size(rsa);
  OpFrame frame(num, fn);
  BIGNUM *f, *ret;
  if (!frame.ok() || !frame.get(fn, {&f, &ret}) || !fits_modulus(flen, num, fn)) return -1;
  BN_MONT_CTX* mn;
  if (!input_below_n(f, from, flen, rsa, fn) || !mont_n(rsa, frame.ctx(), &mn) ||
      !rsa->meth->bn_mod_exp(ret, f, rsa->e, rsa->n, frame.ctx(), mn)) {
    return -1;
  }
  // X9.31: the signature may be n - s; the representative ends in 0xC.
  if (padding == RSA_X931_PADDING && (ret->top == 0 || (ret->d[0] & 0xF) != 12) &&
      !BN_sub(ret, rsa->n, ret)) {
    return -1;
  }
  unsigned char* buf = frame.buf();
  const int j = BN_bn2bin(ret, buf);
  int r;
  switch (padding) {
    case RSA_PKCS1_PADDING:
      r = RSA_padding_check_PKCS1_type_1(to, num, buf, j, num);
      break;
    case RSA_X931_PADDING:
      r = RSA_padding_check_X931(to, num, buf, j, num);
      break;
    case RSA_NO_PADDING:
      r = RSA_padding_check_none(to, num, buf, j, num);
      break;
    default:
      RSAerr(fn, RSA_R_UNKNOWN_PADDING_TYPE);
      return -1;
  }
  if (r < 0) RSAerr(fn, RSA_R_PADDING_CHECK_FAILED);
  return r;
}

int vek_private_encrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                        int padding) {
  const int fn = RSA_F_RSA_VEK_PRIVATE_ENCRYPT;
  if (!has_modulus(rsa, fn)) return -1;
  const int num = RSA_size(rsa), nl = rsa->n->top;
  OpFrame frame(num, fn);
  BIGNUM* f;
  Scratch s(2 * static_cast<size_t>(nl));
  BN_ULONG *out = s.take(nl), *neg = s.take(nl);
  if (!frame.ok() || !frame.get(fn, {&f}) || !scratch_ok(neg, fn)) return -1;
  unsigned char* buf = frame.buf();
  const int i = add_padding(true, padding, buf, num, from, flen, fn);
  if (i <= 0 || !input_below_n(f, buf, num, rsa, fn) || !private_exp(rsa, f, out, frame.ctx(), fn))
    return -1;
  if (padding == RSA_X931_PADDING) {  // the smaller of s and n - s
    bn_sub_words(neg, rsa->n->d, out, nl);
    const BN_ULONG smaller = lt_words(neg, out, nl);
    for (int k = 0; k < nl; k++) out[k] = ct::select(smaller, neg[k], out[k]);
  }
  words_to_bytes(to, static_cast<size_t>(num), out, nl);
  return num;
}

// The number of leading zero bytes of em[0 .. num), by masks.
unsigned leading_zero_bytes(const uint8_t* em, int num) {
  unsigned count = 0, seen = 0;
  for (int i = 0; i < num; i++) {
    seen |= ~ct::zero_mask<unsigned>(em[i]);
    count += 1 & ~seen;
  }
  return count;
}

int vek_private_decrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                        int padding) {
  const int fn = RSA_F_RSA_VEK_PRIVATE_DECRYPT;
  if (!has_modulus(rsa, fn)) return -1;
  const int num = RSA_size(rsa), nl = rsa->n->top;
  OpFrame frame(num, fn);
  BIGNUM* f;
  Scratch s(static_cast<size_t>(nl));
  BN_ULONG* out = s.take(nl);
  if (!frame.ok() || !frame.get(fn, {&f}) || !scratch_ok(out, fn) || !fits_modulus(flen, num, fn))
    return -1;
  if (!input_below_n(f, from, flen, rsa, fn) || !private_exp(rsa, f, out, frame.ctx(), fn))
    return -1;
  uint8_t* em = frame.buf();
  words_to_bytes(em, static_cast<size_t>(num), out, nl);
  int r;
  switch (padding) {
    case RSA_PKCS1_PADDING:
      r = check_type_2_block(to, num, em, num, RSA_F_RSA_PADDING_CHECK_PKCS1_TYPE_2);
      break;
    case RSA_SSLV23_PADDING: {
      const unsigned len = static_cast<unsigned>(num) - leading_zero_bytes(em, num);
      r = check_sslv23_block(to, num, em, num, ct::lt_mask(len, 10u),
                             RSA_F_RSA_PADDING_CHECK_SSLV23);
      break;
    }
    case RSA_NO_PADDING:
      r = RSA_padding_check_none(to, num, em, num, num);
      break;
    case RSA_PKCS1_OAEP_PADDING:
      r = check_oaep_block(to, num, em, num, nullptr, 0, RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP);
      break;
    default:
      RSAerr(fn, RSA_R_UNKNOWN_PADDING_TYPE);
      return -1;
  }
  if (r < 0) RSAerr(fn, RSA_R_PADDING_CHECK_FAILED);
  return r;
}

// ---- the null method ----------------------------------------------------------

template <int Fn>
int null_operation(int, const unsigned char*, unsigned char*, RSA*, int) {
  RSAerr(Fn, RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
  return -1;
}

int null_init_finish(RSA*) {
  return 1;
}

// clang-format off
constinit const RSA_METHOD kVekMethod = {
    "Tamsel's PKCS#1 RSA",
    vek_public_encrypt, vek_public_decrypt, vek_private_encrypt, vek_private_decrypt,
    vek_mod_exp, BN_mod_exp_mont, vek_init, vek_finish,
    0, nullptr, nullptr, nullptr, nullptr,
};

constinit const RSA_METHOD kNullMethod = {
    "Null RSA",
    null_operation<RSA_F_RSA_NULL_PUBLIC_ENCRYPT>, null_operation<RSA_F_RSA_NULL_PUBLIC_DECRYPT>,
    null_operation<RSA_F_RSA_NULL_PRIVATE_ENCRYPT>, null_operation<RSA_F_RSA_NULL_PRIVATE_DECRYPT>,
    nullptr, nullptr, null_init_finish, null_init_finish,
    0, nullptr, nullptr, nullptr, nullptr,
};
// clang-format on

}  // namespace

namespace morvane::rsa {

BIGNUM secret_view(const BIGNUM* a, const RSA* rsa) noexcept {
  BIGNUM v = *a;
  v.flags = BN_FLAG_BORROWED;
  if (!(rsa->flags & RSA_FLAG_NO_CONSTTIME)) v.flags |= BN_FLAG_SECRET;
  return v;
}

}  // namespace morvane::rsa

/* see morvane/rsa.h */
const RSA_METHOD* RSA_PKCS1_Quorix(void) {
  return &kVekMethod;
}

/* see morvane/rsa.h */
const RSA_METHOD* RSA_null_method(void) {
  return &kNullMethod;
}
