// RSA: what the sources of crypto/rsa share.
//
// Implementation notes: the private operations work on fixed-width limb and
// word arrays (rsa_crt.cc, rsa_words.cc) and hand the padding checks a block
// of the full modulus length (the *_block functions below), so that no
// branch and no address depends on a secret.  Two facts leave that discipline on purpose,
// through reveal(): whether a padding check passed (with the reason it
// queues), which the caller learns from the result anyway, and whether a
// private result failed its check, which only a fault can make happen.
#ifndef MORVANE_CRYPTO_RSA_INTERNAL_H
#define MORVANE_CRYPTO_RSA_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

#include "internal/ct.h"
#include "internal/fixed_words.h"
#include "internal/wipe.h"

namespace morvane::rsa {

// Returns v, which becomes public from here on (ct::declassify: the
// constant-time checks of test/ct/ see it as defined).
template <class T>
inline T reveal(T v) noexcept {
  return ct::declassify(v);
}

// Makes a's word count public: the key's numbers' counts are, and so are
// those of their products.
inline void reveal_top(BIGNUM* a) noexcept {
  a->top = static_cast<int>(reveal(static_cast<unsigned>(a->top)));
}

// The longest block the padding functions take, in bytes (a 524288-bit
// modulus): a longer tlen or num is refused with "modulus too large" before
// anything is allocated or written.
constexpr int kMaxBlock = 1 << 16;

// ---- padding checks over a whole block (rsa_pk1.cc, rsa_ssl.cc, rsa_oaep.cc)
// `em` holds the num bytes of the decrypted block, leading zeros included; it
// is our own copy, which the type 2 and SSLv23 checks rearrange.  Each returns
// the message length written to `to` (room for tlen bytes), or -1 with the
// first failing reason queued under `func`; constant time in the contents of
// em.
int check_type_2_block(unsigned char* to, int tlen, uint8_t* em, int num, int func);
// too_small: a mask, true when the block without its leading zeros is shorter
// than 10 bytes (the first test of the check).
int check_sslv23_block(unsigned char* to, int tlen, uint8_t* em, int num, unsigned too_small,
                       int func);
int check_oaep_block(unsigned char* to, int tlen, const uint8_t* em, int num,
                     const unsigned char* param, int plen, int func);

// Copies the message that fills em[from_first .. num) to to[0 ..) when `good`
// (a mask) is true, and writes nothing otherwise (the bytes are stored back).
// The message is first moved to em[first_min] in place; first_min is the
// smallest start a good block can have, so the copy touches to[0 ..
// min(tlen, num - first_min)) whatever the values.  Constant time in
// from_first, good and the bytes.
void copy_message(unsigned char* to, int tlen, uint8_t* em, int num, unsigned from_first,
                  int first_min, unsigned good);

// The first bytes of a PKCS#1 type 2 block, scanned by masks: whether it
// starts 0x00 0x02, the first zero byte after those two (found, zero_at), and
// how many 0x03 bytes come just before that zero (threes).
struct Type2Scan {
  unsigned type_ok, found, zero_at, threes;
};
Type2Scan scan_type_2(const uint8_t* em, int num);

// All ones when a message of msg_len bytes does not fit in tlen bytes.
unsigned too_long(int tlen, unsigned msg_len);

// The end of a constant-time check: copy_message, then the result made
// public: msg_len, or -1 with `reason` queued under `func`.
int finish_check(unsigned char* to, int tlen, uint8_t* em, int num, unsigned from_first,
                 int first_min, unsigned good, unsigned reason, unsigned msg_len, int func);

// Refuses with "modulus too large" a tlen above kMaxBlock, with "data too
// small for key size" a negative flen, and with "data too large for key size"
// one above tlen - overhead; true when it fits.
bool add_fits(int flen, int tlen, int overhead, int func);

// Fills p[0 .. n) with random non-zero bytes: one draw for all, then single
// draws for each zero.  False when the generator fails.
bool random_nonzero(unsigned char* p, int n);

// Runs check(em) over a right-aligned copy of the flen bytes at `from` in a
// scratch block em of num bytes, for the exported checks, whose input lacks
// the block's leading zero byte.  Refuses flen > num, num < 1 and flen < 0
// with `reason`, and returns -1 then.
template <class Check>
int over_block(const unsigned char* from, int flen, int num, int func, int reason, Check check) {
  if (num > kMaxBlock) {
    ERR_put_error(ERR_LIB_RSA, func, RSA_R_MODULUS_TOO_LARGE, __FILE__, __LINE__);
    return -1;
  }
  if (num < 1 || flen < 0 || flen > num) {
    ERR_put_error(ERR_LIB_RSA, func, reason, __FILE__, __LINE__);
    return -1;
  }
  auto* em = static_cast<uint8_t*>(MORVANE_malloc(static_cast<size_t>(num)));
  if (em == nullptr) {
    ERR_put_error(ERR_LIB_RSA, func, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return -1;
  }
  const size_t lead = static_cast<size_t>(num - flen);
  memset(em, 0, lead);
  if (flen > 0) memcpy(em + lead, from, static_cast<size_t>(flen));
  const int ret = check(em);
  internal::wipe(em, static_cast<size_t>(num));
  MORVANE_free(em);
  return ret;
}

// ---- word arrays (rsa_words.cc) ---------------------------------------------
// Word arrays taken from one allocation, zeroed when taken and wiped when the
// object goes.
class Scratch {
 public:
  explicit Scratch(size_t words) noexcept;
  ~Scratch();
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  bool ok() const noexcept { return block_ != nullptr; }
  // n zeroed words (null once the block is used up or was not allocated).
  BN_ULONG* take(int n) noexcept;

 private:
  BN_ULONG* block_;
  size_t size_, used_ = 0;
};

// Moves from BIGNUMs to word arrays (internal/fixed_words.h).
using internal::load_words;
// Big-endian bytes of w[0 .. nl) into out[0 .. len), zeros in front.
void words_to_bytes(unsigned char* out, size_t len, const BN_ULONG* w, int nl) noexcept;
// All ones when a < b (n words each).
BN_ULONG lt_words(const BN_ULONG* a, const BN_ULONG* b, int n) noexcept;
// Whether a and b hold the same value, judged by masks over every word they
// have room for (their counts may be secret); only the verdict is made
// public.
bool same_value(const BIGNUM* a, const BIGNUM* b) noexcept;
// All ones when a = 1, judged by masks over every word a has room for (its
// count may come from masks).
BN_ULONG one_mask(const BIGNUM* a) noexcept;
// r = a - 1 for a > 0: a's bit 0 cleared when a is odd (a prime's parity is
// public).  False when memory runs out.
bool minus_one(BIGNUM* r, const BIGNUM* a);
// A Montgomery context of a public modulus for the length of one call: the
// key's cached one when given, or one made here (get() is null when that
// failed).
class MontFor {
 public:
  MontFor(BN_MONT_CTX* cached, const BIGNUM* mod, BN_CTX* ctx) noexcept;
  ~MontFor();
  MontFor(const MontFor&) = delete;
  MontFor& operator=(const MontFor&) = delete;
  const BN_MONT_CTX* get() const noexcept { return m_; }

 private:
  BN_MONT_CTX* m_;
  BN_MONT_CTX* own_ = nullptr;
};

// ---- the fixed-width CRT and the public ladder (rsa_crt.cc) ----------------
// Whether the fixed-width CRT takes the key and input I (the tests are on
// public word counts, signs and parities): odd p and q, n no longer than
// twice the longer prime's limbs, iqmp no longer than that prime, I
// non-negative and no longer than n (judged by masks: a blinded input's word
// count is secret).  The Montgomery contexts of p and q are given.
bool crt_fits(const RSA* rsa, const BIGNUM* I, const BN_MONT_CTX* mp, const BN_MONT_CTX* mq);
// r0 = I^d mod n by the CRT at one fixed width, constant time in the key and
// the value of I.  When the key has e, *good tells whether r0 passed the
// check (r0 < n and r0^e = I mod n); without e it is true.  mp and mq are the
// contexts of p and q, mn_cached that of n or null.  0 on failure.
int crt_fixed(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, const BN_MONT_CTX* mp,
              const BN_MONT_CTX* mq, BN_MONT_CTX* mn_cached, bool* good);
// r0 = I^d mod n at n's fixed width (whole limbs), constant time in d and
// the value of I, for I that fits n's words and an odd n (mn_cached its
// context or null).  0 on failure.
int direct_fixed(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mn_cached);
// The same check of a result r made elsewhere, for a key with n and e: 1
// when r < n and r^e = I (mod n), 0 when not, -1 when it could not be done
// (the reason queued).  On limbs of n's width for an odd n (mn_cached its
// context or null), constant time in r and I but for the verdict.
int check_result(const BIGNUM* r, const BIGNUM* I, RSA* rsa, BN_CTX* ctx, BN_MONT_CTX* mn_cached);
// to[0 .. num) = the big-endian bytes of f^e mod n, f the flen bytes at from
// (flen <= num), for the built-in exponentiation, a one-word e and the key's
// cached context of n; with x931, n - r unless r ends in 0xC.  1 when done,
// 0 with "data too large for modulus" queued under fn when f >= n, and -1
// when the key does not take this way (the caller goes by numbers).
int public_exp(unsigned char* to, int num, const unsigned char* from, int flen, RSA* rsa, bool x931,
               int fn);

// ---- the default method (rsa_vek.cc) and blinding (rsa_blind.cc) ----------

// The blinding of one private operation.
class Blinding {
 public:
  // Chooses the key's blinding for this thread, making it on first use
  // (lock CRYPTO_LOCK_RSA): the key's own when this thread owns it, else the
  // shared one.  False when none could be made.
  bool find(RSA* rsa, BN_CTX* ctx);
  bool active() const noexcept { return b_ != nullptr; }
  // f = f A mod n, br = the matching unblinding factor, and the blinding
  // advanced before anything else may use it (the shared one under a write
  // lock of CRYPTO_LOCK_RSA_BLINDING); a pair drawn before a fork is drawn
  // afresh first.
  bool convert(BIGNUM* f, BIGNUM* br, BN_CTX* ctx);
  // out = out br mod n on the n->top words at out.
  bool invert(BN_ULONG* out, const BIGNUM* br, BN_CTX* ctx);

 private:
  RSA* rsa_ = nullptr;
  BN_MONT_CTX* mont_n_ = nullptr;  // the key's context of n as find() saw it
  BN_BLINDING* b_ = nullptr;
  bool local_ = false;
};

// Frees a key's blinding (null accepted).
void free_blinding(BN_BLINDING* b);

// Wipes and frees the locked block of RSA_memory_lock (null accepted).
void release_locked_block(char* block);

// A view of a sharing its words, marked BN_FLAG_SECRET (unless the key asks
// for no constant-time marks), so exponentiation and division take their
// constant-time forms.
BIGNUM secret_view(const BIGNUM* a, const RSA* rsa) noexcept;

}  // namespace morvane::rsa

#endif  // MORVANE_CRYPTO_RSA_INTERNAL_H
