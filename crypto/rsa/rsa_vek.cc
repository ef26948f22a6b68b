// The built-in RSA method: public operations by plain exponentiation, private
// operations by the Chinese Remainder Theorem with a check of the result
// (RFC 8017, 5.1.2), behind a blinding of the input.
//
// Implementation notes: the private operations keep every secret-derived
// value at a public width.  With the five CRT numbers, odd primes and the
// built-in exponentiation, the CRT runs at one fixed width for both primes
// (rsa_crt.cc), whatever their lengths: reductions and products in
// Montgomery form, the two exponentiations in the constant-time form, the
// recombination by masks, and the check r^e = I (mod n) by a ladder that
// follows e's bits only.  Other keys take the same steps on BIGNUMs; the
// exponentiation by d alone runs at n's width too.  The decrypted block
// keeps all RSA_size bytes for the padding check, and the unblinding factor
// is applied on words too, so the plaintext never passes through a BIGNUM
// whose length follows its value.  The public operations with a one-word e
// run on limbs from the input bytes to the output bytes once the key's
// context of n is cached.
//
// The check: a result that is right modulo one prime and wrong modulo the
// other gives the key away (its difference from the right one shares that
// prime with n), so no private result leaves unchecked where the key gives
// something to check it by.  With e, every result is raised to e and
// compared with the input: the CRT's, that of the exponentiation by d which
// replaces a CRT result failing the check, that of d alone, and that of
// another method's rsa_mod_exp; a result that still fails is refused
// ("private result check failed").  Without e, the CRT result, or another
// method's rsa_mod_exp result, must equal the one by d (so a fault in
// either, or CRT numbers that disagree with d, is refused), and a key with
// neither e nor d is refused ("no public exponent").  A key with d alone and no e has nothing to be checked by; its
// exponentiation runs modulo n, where a fault does not split along the
// primes.

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
// the modulus length (none for num 0), wiped and freed on every way out.
class OpFrame {
 public:
  OpFrame(int num, int fn) : num_(num) {
    ctx_ = BN_CTX_new();
    if (ctx_ == nullptr) return;  // no record: the caller fails with -1
    BN_CTX_start(ctx_);
    if (num == 0) return;
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
  bool ok() const { return ctx_ != nullptr && (num_ == 0 || buf_ != nullptr); }
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

// A block of the modulus length for the public operations: on the stack up
// to 4096 bits, else allocated ("malloc failure" under fn when that fails);
// wiped when it goes.
class Block {
 public:
  Block(int num, int fn) : num_(num) {
    if (num <= static_cast<int>(sizeof local_)) {
      p_ = local_;
      return;
    }
    p_ = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(num)));
    if (p_ == nullptr) RSAerr(fn, ERR_R_MALLOC_FAILURE);
  }
  ~Block() {
    if (p_ == nullptr) return;
    morvane::internal::wipe(p_, static_cast<size_t>(num_));
    if (p_ != local_) MORVANE_free(p_);
  }
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  unsigned char* get() const { return p_; }

 private:
  unsigned char local_[512];
  unsigned char* p_;
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

// A null helper slot of the key's method (rsa_mod_exp, bn_mod_exp) is an
// exponentiation the method does not offer: refused under fn.
template <class Slot>
bool offered(Slot slot, int fn) {
  if (slot != nullptr) return true;
  RSAerr(fn, RSA_R_RSA_OPERATIONS_NOT_SUPPORTED);
  return false;
}

// The cached Montgomery context of n when the key keeps one; null when it
// does not, or when the cache could not be made (its allocation queues
// nothing): the exponentiation then sets a context up for the call and
// queues what fails there.
BN_MONT_CTX* mont_n(RSA* rsa, BN_CTX* ctx) {
  if (!(rsa->flags & RSA_FLAG_CACHE_PUBLIC)) return nullptr;
  return BN_MONT_CTX_set_locked(&rsa->_method_mod_n, CRYPTO_LOCK_RSA, rsa->n, ctx);
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

// ---- the private exponentiation ------------------------------------------

// The CRT on BIGNUMs, step by step as the standard gives it, for keys that
// the fixed-width form does not take (another exponentiation, no
// constant-time marks, even or empty primes).  *good tells whether r0 passed
// the check against e (true for a key without e).
int crt_numbers(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mp,
                BN_MONT_CTX* mq, BN_MONT_CTX* mn, bool* good) {
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
  *good = true;
  if (ok && rsa->e != nullptr) {
    ok = exp(vrfy, r0, rsa->e, rsa->n, ctx, mn) && BN_sub(vrfy, vrfy, I) &&
         BN_mod(vrfy, vrfy, rsa->n, ctx);
    *good = ok && BN_is_zero(vrfy) && BN_ucmp(r0, rsa->n) < 0;
  }
  if (r1 != nullptr) BN_clear(r1);
  if (m1 != nullptr) BN_clear(m1);
  BN_CTX_end(ctx);
  return ok ? 1 : 0;
}

// r0 = I^d mod n directly, checked against e when the key has it: 1, or 0
// with the reason queued under fn (a result failing the check is cleared).
int direct_checked(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mn, int fn) {
  if (rsa->d == nullptr) {
    RSAerr(fn, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  // The built-in exponentiation at n's width: a blinded input's word count
  // is secret.
  const bool fixed = rsa->meth->bn_mod_exp == BN_mod_exp_mont &&
                     !(rsa->flags & RSA_FLAG_NO_CONSTTIME) && BN_is_odd(rsa->n) &&
                     morvane::internal::fits_words(I, rsa->n->top);
  const BIGNUM d = secret_view(rsa->d, rsa);
  if (fixed ? direct_fixed(r0, I, rsa, ctx, mn) != 1
            : rsa->meth->bn_mod_exp(r0, I, &d, rsa->n, ctx, mn) != 1)
    return 0;
  if (rsa->e == nullptr) return 1;
  const int checked = check_result(r0, I, rsa, ctx, mn);
  if (checked == 1) return 1;
  if (checked == 0) RSAerr(fn, RSA_R_PRIVATE_RESULT_CHECK_FAILED);
  BN_clear(r0);
  return 0;
}

// For a key without e: 1 when the result r0 (of the CRT, or of another
// method's rsa_mod_exp) equals I^d mod n, else 0 with the reason queued
// under fn (r0 cleared).  Constant time but for the verdict.
int same_as_direct(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mn, int fn) {
  BN_CTX_start(ctx);
  BIGNUM* direct = BN_CTX_get(ctx);
  int ok = direct != nullptr && direct_checked(direct, I, rsa, ctx, mn, fn);
  if (ok && !same_value(r0, direct)) {
    RSAerr(fn, RSA_R_PRIVATE_RESULT_CHECK_FAILED);
    ok = 0;
  }
  if (direct != nullptr) BN_clear(direct);
  if (!ok) BN_clear(r0);
  BN_CTX_end(ctx);
  return ok;
}

// r0 = I^d mod n by the CRT with its check.  The contexts of p and q are
// made from their secret views, so that the division which makes R^2 takes
// its no-branch form.
int vek_mod_exp(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx) {
  if (!offered(rsa->meth->bn_mod_exp, RSA_F_RSA_VEK_MOD_EXP)) return 0;
  BN_MONT_CTX *mp = nullptr, *mq = nullptr, *mn = nullptr;
  const bool crt = rsa->p != nullptr && rsa->q != nullptr && rsa->dmp1 != nullptr &&
                   rsa->dmq1 != nullptr && rsa->iqmp != nullptr && rsa->n != nullptr;
  const BIGNUM p = crt ? secret_view(rsa->p, rsa) : BIGNUM{};
  const BIGNUM q = crt ? secret_view(rsa->q, rsa) : BIGNUM{};
  if (crt && (rsa->flags & RSA_FLAG_CACHE_PRIVATE)) {
    mp = BN_MONT_CTX_set_locked(&rsa->_method_mod_p, CRYPTO_LOCK_RSA, &p, ctx);
    mq = mp == nullptr ? nullptr
                       : BN_MONT_CTX_set_locked(&rsa->_method_mod_q, CRYPTO_LOCK_RSA, &q, ctx);
    if (mq == nullptr) return 0;
  }
  if (rsa->n == nullptr) {
    RSAerr(RSA_F_RSA_VEK_MOD_EXP, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  mn = mont_n(rsa, ctx);
  // A method flag sent a key without the CRT numbers: d alone.
  if (!crt) return direct_checked(r0, I, rsa, ctx, mn, RSA_F_RSA_VEK_MOD_EXP);
  if (rsa->e == nullptr && rsa->d == nullptr) {  // nothing to check the CRT by
    RSAerr(RSA_F_RSA_VEK_MOD_EXP, RSA_R_NO_PUBLIC_EXPONENT);
    return 0;
  }
  const bool fixed = rsa->meth->bn_mod_exp == BN_mod_exp_mont &&
                     !(rsa->flags & RSA_FLAG_NO_CONSTTIME) && BN_is_odd(rsa->p) &&
                     BN_is_odd(rsa->q);
  bool good = true;
  int ok;
  if (!fixed) {
    ok = crt_numbers(r0, I, rsa, ctx, mp, mq, mn, &good);
  } else {
    MontFor mont_p(mp, &p, ctx), mont_q(mq, &q, ctx);
    if (mont_p.get() == nullptr || mont_q.get() == nullptr) return 0;
    ok = crt_fits(rsa, I, mont_p.get(), mont_q.get())
             ? crt_fixed(r0, I, rsa, ctx, mont_p.get(), mont_q.get(), mn, &good)
             : crt_numbers(r0, I, rsa, ctx, mp, mq, mn, &good);
  }
  if (!ok) return 0;
  if (rsa->e == nullptr) return same_as_direct(r0, I, rsa, ctx, mn, RSA_F_RSA_VEK_MOD_EXP);
  if (good) return 1;
  // A fault: the direct exponentiation instead, checked in turn.
  if (rsa->d == nullptr) {
    RSAerr(RSA_F_RSA_VEK_MOD_EXP, RSA_R_PRIVATE_RESULT_CHECK_FAILED);
    BN_clear(r0);
    return 0;
  }
  return direct_checked(r0, I, rsa, ctx, mn, RSA_F_RSA_VEK_MOD_EXP);
}

// The check of a result r0 that another method's rsa_mod_exp made from I:
// against e when the key has it, else against the exponentiation by d; a
// key with neither is refused ("no public exponent").  1, or 0 with the
// reason queued under fn and r0 cleared.
int check_method_result(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, int fn) {
  BN_MONT_CTX* mn = mont_n(rsa, ctx);
  if (rsa->e == nullptr && rsa->d != nullptr) return same_as_direct(r0, I, rsa, ctx, mn, fn);
  const int checked = rsa->e != nullptr ? check_result(r0, I, rsa, ctx, mn) : -1;
  if (checked == 1) return 1;
  if (checked == 0) RSAerr(fn, RSA_R_PRIVATE_RESULT_CHECK_FAILED);
  if (rsa->e == nullptr) RSAerr(fn, RSA_R_NO_PUBLIC_EXPONENT);
  BN_clear(r0);
  return 0;
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
  const bool crt = (rsa->flags & RSA_FLAG_EXT_PKEY) ||
                   (rsa->p != nullptr && rsa->q != nullptr && rsa->dmp1 != nullptr &&
                    rsa->dmq1 != nullptr && rsa->iqmp != nullptr);
  if (crt ? !offered(rsa->meth->rsa_mod_exp, fn) : !offered(rsa->meth->bn_mod_exp, fn))
    return false;
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
  bool ok;
  if (!crt) {
    ok = direct_checked(ret, f, rsa, ctx, mont_n(rsa, ctx), fn) == 1;
  } else {
    ok = rsa->meth->rsa_mod_exp(ret, f, rsa, ctx) == 1;
    // The built-in rsa_mod_exp checks its own results; another one's are
    // checked here, by e or else by d.
    if (ok && rsa->meth->rsa_mod_exp != vek_mod_exp)
      ok = check_method_result(ret, f, rsa, ctx, fn) == 1;
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

// to[0 .. num) = the big-endian bytes of f^e mod n, f the flen bytes at from
// (flen <= num): on limbs where public_exp takes the key, else on numbers;
// with x931, n - r unless r ends in 0xC.  False with the reason queued.
bool public_exp_any(unsigned char* to, int num, const unsigned char* from, int flen, RSA* rsa,
                    bool x931, int fn) {
  if (!offered(rsa->meth->bn_mod_exp, fn)) return false;
  const int fast = public_exp(to, num, from, flen, rsa, x931, fn);
  if (fast >= 0) return fast == 1;
  OpFrame frame(0, fn);
  BIGNUM *f, *ret;
  if (!frame.ok() || !frame.get(fn, {&f, &ret}) || !input_below_n(f, from, flen, rsa, fn) ||
      !rsa->meth->bn_mod_exp(ret, f, rsa->e, rsa->n, frame.ctx(), mont_n(rsa, frame.ctx()))) {
    return false;
  }
  if (x931 && (ret->top == 0 || (ret->d[0] & 0xF) != 12) && !BN_sub(ret, rsa->n, ret)) return false;
  write_right_aligned(to, num, ret);
  return true;
}

int vek_public_encrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                       int padding) {
  const int fn = RSA_F_RSA_VEK_PUBLIC_ENCRYPT;
  if (!public_key_ok(rsa, fn)) return -1;
  const int num = RSA_size(rsa);
  Block buf(num, fn);
  if (buf.get() == nullptr) return -1;
  const int i = add_padding(false, padding, buf.get(), num, from, flen, fn);
  if (i <= 0 || !public_exp_any(to, num, buf.get(), num, rsa, false, fn)) return -1;
  return num;
}

int vek_public_decrypt(int flen, const unsigned char* from, unsigned char* to, RSA* rsa,
                       int padding) {
  const int fn = RSA_F_RSA_VEK_PUBLIC_DECRYPT;
  if (!public_key_ok(rsa, fn)) return -1;
  const int num = RSA_size(rsa);
  Block block(num, fn);
  unsigned char* buf = block.get();
  if (buf == nullptr || !fits_modulus(flen, num, fn) ||
      !public_exp_any(buf, num, from, flen, rsa, padding == RSA_X931_PADDING, fn)) {
    return -1;
  }
  // The checks take the block without its leading zero bytes.
  int lead = 0;
  while (lead < num && buf[lead] == 0) lead++;
  const int j = num - lead;
  int r;
  switch (padding) {
    case RSA_PKCS1_PADDING:
      r = RSA_padding_check_PKCS1_type_1(to, num, buf + lead, j, num);
      break;
    case RSA_X931_PADDING:
      r = RSA_padding_check_X931(to, num, buf + lead, j, num);
      break;
    case RSA_NO_PADDING:
      r = RSA_padding_check_none(to, num, buf + lead, j, num);
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
