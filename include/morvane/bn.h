/* Morvane: big numbers.
 *
 * A BIGNUM is a signed multi-precision integer in sign-magnitude form: an
 * array `d` of 32-bit words, least significant first, of which the first `top`
 * are in use (no leading zero word; zero has top 0 and neg 0), `dmax` words
 * allocated, a sign `neg` and a flag word.  A record may be allocated by the
 * library (BN_new, BN_FLAG_HEAP) or embedded in the caller's memory and set up
 * with BN_init; either way BN_free releases what the library allocated, and
 * BN_clear_free wipes it first.  Growing a number replaces its word array,
 * only when more words are needed than allocated; a borrowed array
 * (BN_FLAG_BORROWED: the constant one, published primes) is never grown,
 * written by the clearing calls or freed.  No array exceeds 0xFFFFFF words.
 *
 * Operations take a result that may be any of their operands, return 1 (or a
 * pointer) on success and 0 (or null) on failure with a library-3 error
 * queued, except where a function says otherwise; results never carry a
 * negative zero.  Records have no lock: one writer at a time.
 *
 * Null arguments: the frees (BN_free, BN_clear_free, BN_CTX_free,
 * BN_RECP_CTX_free, BN_MONT_CTX_free, BN_BLINDING_free) ignore null, BN_dup
 * gives null for it and BN_cmp sorts it after every number.  Where a
 * function says so, a null result record makes a new one (BN_bin2bn,
 * BN_mod_inverse, the generators, ...), a null output is not written (the
 * quotient or remainder of BN_div, the primes' helpers) and a callback or
 * BN_CTX may be null.  Every other number, context, record and buffer is the
 * caller's to give: the functions check none of them, as memcpy does not. */
#ifndef MORVANE_BN_H
#define MORVANE_BN_H

#include <stdio.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* One word of a number: 32 bits on every platform. */
typedef unsigned int BN_ULONG;
#define BN_BITS2 32
#define BN_BYTES 4
#define BN_MASK2 (0xffffffffU)

/* Flag bits of a BIGNUM. */
#define BN_FLAG_HEAP 0x01       /* the record itself was allocated by the library */
#define BN_FLAG_BORROWED 0x02   /* the word array belongs to somebody else */
#define BN_FLAG_SECRET 0x04     /* a secret value: constant-time variants apply */
#define BN_FLAG_RELEASED 0x8000 /* an embedded record whose words were freed */

struct bignum_st {
  BN_ULONG *d; /* the magnitude, least significant word first */
  int top;     /* words in use; 0 for the value zero */
  int dmax;    /* words allocated in d */
  int neg;     /* 1 when negative */
  int flags;   /* BN_FLAG_* */
};

/* Flag helpers. */
#define BN_set_flags(b, n) ((b)->flags |= (n))
#define BN_get_flags(b, n) ((b)->flags & (n))

/* Value tests and shorthands (the value is never negative zero). */
#define BN_num_bytes(a) ((BN_num_bits(a) + 7) / 8)
#define BN_is_zero(a) ((a)->top == 0)
#define BN_is_negative(a) ((a)->neg != 0)
#define BN_is_odd(a) ((a)->top > 0 && ((a)->d[0] & 1))
#define BN_is_word(a, w) (BN_abs_is_word((a), (w)) && (!(w) || !(a)->neg))
#define BN_abs_is_word(a, w) \
  (((a)->top == 1 && (a)->d[0] == (BN_ULONG)(w)) || ((w) == 0 && (a)->top == 0))
#define BN_is_one(a) (BN_abs_is_word((a), 1) && !(a)->neg)
#define BN_zero(a) BN_set_word((a), 0)
#define BN_one(a) BN_set_word((a), 1)

/* ---- records: allocation, release, growth, copying ----------------------
 * Functions returning int give 1 on success and 0 on failure; those returning
 * a pointer give null on failure.  Failures push a library-3 error. */

/* A new empty record (value 0, no words) flagged BN_FLAG_HEAP. */
MORVANE_EXPORT BIGNUM *BN_new(void);
/* Sets every field of a caller-owned record to zero: no words, value 0. */
MORVANE_EXPORT void BN_init(BIGNUM *a);
/* Frees a's words unless borrowed; frees a record the library allocated, and
 * marks an embedded one BN_FLAG_RELEASED with d null (top and dmax kept).
 * Null and the constant one are ignored. */
MORVANE_EXPORT void BN_free(BIGNUM *a);
/* As BN_free, after wiping the words a owns (all dmax of them) and the
 * record; a borrowed array is neither wiped nor freed.  An embedded record is
 * left empty (d null, value 0) and flagged BN_FLAG_RELEASED. */
MORVANE_EXPORT void BN_clear_free(BIGNUM *a);
/* Zeroes the words a owns (all dmax of them) and sets a to 0, keeping its
 * array; a borrowed array is left as it is. */
MORVANE_EXPORT void BN_clear(BIGNUM *a);
/* Grows b's array to at least `words` words, keeping the `top` words in use.
 * Returns b, or null with b unchanged when `words` exceeds 0xFFFFFF, the array
 * is borrowed or allocation fails. */
MORVANE_EXPORT BIGNUM *bn_expand2(BIGNUM *b, int words);
/* A new record equal to b with room for at least `words` words. */
MORVANE_EXPORT BIGNUM *bn_dup_expand(const BIGNUM *b, int words);
/* Makes a equal to b (words, length and sign; a's flags stay), growing a's
 * array when needed.  Returns a, or null when growth fails (a unchanged).
 * BN_copy(a, a) returns a at once. */
MORVANE_EXPORT BIGNUM *BN_copy(BIGNUM *a, const BIGNUM *b);
/* A new record equal to a (flags not carried over); null for null. */
MORVANE_EXPORT BIGNUM *BN_dup(const BIGNUM *a);
/* Exchanges the values and arrays of a and b.  Each keeps its BN_FLAG_HEAP bit
 * and takes the other's BN_FLAG_BORROWED bit; all other flags are cleared. */
MORVANE_EXPORT void BN_swap(BIGNUM *a, BIGNUM *b);

/* ---- small values, sizes, bytes ------------------------------------------ */

/* The constant 1 (a borrowed static word); never to be modified. */
MORVANE_EXPORT const BIGNUM *BN_value_one(void);
/* a = w (non-negative). */
MORVANE_EXPORT int BN_set_word(BIGNUM *a, BN_ULONG w);
/* |a| when it fits in a word, 0xFFFFFFFF when it does not. */
MORVANE_EXPORT BN_ULONG BN_get_word(const BIGNUM *a);
/* Makes a negative when b is non-zero and a is not zero, else non-negative. */
MORVANE_EXPORT void BN_set_negative(BIGNUM *a, int b);
/* Bit length of a word (0 for 0) and of |a| (0 for zero). */
MORVANE_EXPORT int BN_num_bits_word(BN_ULONG l);
MORVANE_EXPORT int BN_num_bits(const BIGNUM *a);
/* The `len` big-endian bytes at s as a non-negative number, into ret or a new
 * record when ret is null.  A negative len fails. */
MORVANE_EXPORT BIGNUM *BN_bin2bn(const unsigned char *s, int len, BIGNUM *ret);
/* Writes |a| big-endian with no leading zero byte (nothing for zero) into to,
 * which holds BN_num_bytes(a) bytes; returns that count. */
MORVANE_EXPORT int BN_bn2bin(const BIGNUM *a, unsigned char *to);

/* ---- comparison and bits ------------------------------------------------- */

/* Compares magnitudes, signs ignored: a's top minus b's top when the word
 * counts differ (only its sign matters), else 1, -1 or 0 from the most
 * significant differing word. */
MORVANE_EXPORT int BN_ucmp(const BIGNUM *a, const BIGNUM *b);
/* Signed comparison: -1, 0 or 1.  A null sorts after every number. */
MORVANE_EXPORT int BN_cmp(const BIGNUM *a, const BIGNUM *b);
/* Compares two n-word vectors from the top: 1, -1 or 0 (0 when n <= 0). */
MORVANE_EXPORT int bn_cmp_words(const BN_ULONG *a, const BN_ULONG *b, int n);
/* Compares a (cl + max(dl, 0) words) with b (cl + max(-dl, 0) words). */
MORVANE_EXPORT int bn_cmp_part_words(const BN_ULONG *a, const BN_ULONG *b, int cl, int dl);
/* Bit n of |a| (bit 0 least significant).  Set grows a; clear, test and mask
 * (keep the low n bits) give 0 for n < 0 and for bits above the top word. */
MORVANE_EXPORT int BN_set_bit(BIGNUM *a, int n);
MORVANE_EXPORT int BN_clear_bit(BIGNUM *a, int n);
MORVANE_EXPORT int BN_is_bit_set(const BIGNUM *a, int n);
MORVANE_EXPORT int BN_mask_bits(BIGNUM *a, int n);

/* ---- tuning, options, version, progress ---------------------------------- */

/* Stores each non-negative argument, clamped to 31 bits, as a tuning value
 * (read back by BN_get_params(0..3)); no arithmetic reads them. */
MORVANE_EXPORT void BN_set_params(int mult, int high, int low, int mont);
MORVANE_EXPORT int BN_get_params(int which);
/* "bn(32,32)": the widths of the double-word products and of a word. */
MORVANE_EXPORT const char *BN_options(void);
MORVANE_EXPORT extern const char BN_version[];

/* The progress callback of generators: ver 1 calls cb_1(a, b, arg) and goes
 * on; ver 2 returns cb_2(a, b, cb) (0: stop). */
struct bn_gencb_st {
  unsigned int ver;
  void *arg;
  union {
    void (*cb_1)(int, int, void *);
    int (*cb_2)(int, int, BN_GENCB *);
  } cb;
};
/* 1 (go on) for a null cb, else as above; an unknown ver gives 0. */
MORVANE_EXPORT int BN_GENCB_call(BN_GENCB *cb, int a, int b);

/* ---- word kernels ----------------------------------------------------------
 * Bare vectors of 32-bit words, least significant first; they never allocate
 * or fail.  A count of 0 or less touches nothing (result 0).  mul_add, mul:
 * rp may equal ap; add, sub: r may equal a or b; no other overlap. */

/* rp[0..num) += ap[0..num) * w; returns the carry word. */
MORVANE_EXPORT BN_ULONG bn_mul_add_words(BN_ULONG *rp, const BN_ULONG *ap, int num, BN_ULONG w);
/* rp[0..num) = ap[0..num) * w; returns the carry word. */
MORVANE_EXPORT BN_ULONG bn_mul_words(BN_ULONG *rp, const BN_ULONG *ap, int num, BN_ULONG w);
/* r[2i], r[2i+1] = a[i]^2 for i < n (r must not overlap a). */
MORVANE_EXPORT void bn_sqr_words(BN_ULONG *r, const BN_ULONG *a, int n);
/* (h * 2^32 + l) / d for h < d; modulo 2^32 for d <= h < 2d; 0xFFFFFFFF
 * for d = 0. */
MORVANE_EXPORT BN_ULONG bn_div_words(BN_ULONG h, BN_ULONG l, BN_ULONG d);
/* r = a + b over n words; returns the carry (0 or 1). */
MORVANE_EXPORT BN_ULONG bn_add_words(BN_ULONG *r, const BN_ULONG *a, const BN_ULONG *b, int n);
/* r = a - b over n words; returns the borrow (0 or 1). */
MORVANE_EXPORT BN_ULONG bn_sub_words(BN_ULONG *r, const BN_ULONG *a, const BN_ULONG *b, int n);
/* r[0..8) = a[0..4) * b[0..4), r[0..16) = a[0..8) * b[0..8), and the squares;
 * r must not overlap a or b. */
MORVANE_EXPORT void bn_mul_comba4(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b);
MORVANE_EXPORT void bn_mul_comba8(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b);
MORVANE_EXPORT void bn_sqr_comba4(BN_ULONG *r, const BN_ULONG *a);
MORVANE_EXPORT void bn_sqr_comba8(BN_ULONG *r, const BN_ULONG *a);

/* ---- addition, subtraction, shifts, word operations -----------------------
 * r may be any operand.  Results never carry a negative zero. */

/* r = a + b, r = a - b (signed). */
MORVANE_EXPORT int BN_add(BIGNUM *r, const BIGNUM *a, const BIGNUM *b);
MORVANE_EXPORT int BN_sub(BIGNUM *r, const BIGNUM *a, const BIGNUM *b);
/* r = |a| + |b|; r = |a| - |b|, which needs |a| >= |b| (fewer words in a
 * fails with "arg2 lt arg3"). */
MORVANE_EXPORT int BN_uadd(BIGNUM *r, const BIGNUM *a, const BIGNUM *b);
MORVANE_EXPORT int BN_usub(BIGNUM *r, const BIGNUM *a, const BIGNUM *b);
/* r = 2a; r = a / 2 (magnitude truncated, sign of a). */
MORVANE_EXPORT int BN_lshift1(BIGNUM *r, const BIGNUM *a);
MORVANE_EXPORT int BN_rshift1(BIGNUM *r, const BIGNUM *a);
/* r = a * 2^n; r = |a| / 2^n with a's sign.  A negative n fails, r untouched. */
MORVANE_EXPORT int BN_lshift(BIGNUM *r, const BIGNUM *a, int n);
MORVANE_EXPORT int BN_rshift(BIGNUM *r, const BIGNUM *a, int n);
/* a = a + w, a - w, a * w. */
MORVANE_EXPORT int BN_add_word(BIGNUM *a, BN_ULONG w);
MORVANE_EXPORT int BN_sub_word(BIGNUM *a, BN_ULONG w);
MORVANE_EXPORT int BN_mul_word(BIGNUM *a, BN_ULONG w);
/* a = a / w truncated (sign kept); returns |a| mod w, or 0xFFFFFFFF for w = 0
 * (a unchanged) and when a cannot grow. */
MORVANE_EXPORT BN_ULONG BN_div_word(BIGNUM *a, BN_ULONG w);
/* |a| mod w, a unchanged; 0xFFFFFFFF for w = 0. */
MORVANE_EXPORT BN_ULONG BN_mod_word(const BIGNUM *a, BN_ULONG w);

/* ---- text and MPI ----------------------------------------------------------
 * The texts returned are allocated; the caller frees them with MORVANE_free. */

/* Upper-case hex, two digits per byte ("-FF", "0100000000", "0" for zero). */
MORVANE_EXPORT char *BN_bn2hex(const BIGNUM *a);
/* Decimal ("-5", "0"). */
MORVANE_EXPORT char *BN_bn2dec(const BIGNUM *a);
/* Parse an optional "-" and the longest run of hex (or decimal) digits at the
 * start of a into *bn (a new record when *bn is null; nothing when bn is
 * null).  Returns the characters taken, 0 for no digits or on failure. */
MORVANE_EXPORT int BN_hex2bn(BIGNUM **bn, const char *a);
MORVANE_EXPORT int BN_dec2bn(BIGNUM **bn, const char *a);
/* Hex digits of a, leading zeros skipped, to a stream or a C file; 1 or 0. */
MORVANE_EXPORT int BN_print(BIO *bp, const BIGNUM *a);
MORVANE_EXPORT int BN_print_fp(FILE *fp, const BIGNUM *a);
/* MPI: a 4-byte big-endian length and the signed magnitude.  bn2mpi returns
 * the MPI's length and writes it at d unless d is null; mpi2bn parses exactly
 * n bytes into a (a new record when a is null). */
MORVANE_EXPORT int BN_bn2mpi(const BIGNUM *a, unsigned char *d);
MORVANE_EXPORT BIGNUM *BN_mpi2bn(const unsigned char *d, int n, BIGNUM *a);

/* ---- scratch frames ---------------------------------------------------------
 * A BN_CTX lends temporary numbers to the operations that take one: a routine
 * opens a frame (BN_CTX_start), takes numbers (BN_CTX_get) and gives them all
 * back (BN_CTX_end).  Frames nest; the numbers and their word arrays are kept
 * and reused until BN_CTX_free.  A number taken belongs to the context and is
 * valid until the end of its frame.  Once a get has failed, every get of that
 * frame (and of frames opened inside it) returns null, so a caller may take
 * all its numbers and test only the last.  One thread at a time. */

/* A new empty context; null on allocation failure. */
MORVANE_EXPORT BN_CTX *BN_CTX_new(void);
/* Resets a context from BN_CTX_new for reuse: every number zeroed (arrays
 * kept), no frame open, the error latch cleared. */
MORVANE_EXPORT void BN_CTX_init(BN_CTX *ctx);
/* Wipes and frees every number, then the context; null is ignored. */
MORVANE_EXPORT void BN_CTX_free(BN_CTX *ctx);
/* Opens a frame (pushes "too many temporary variables" when the frame stack
 * cannot grow; the matching end then only undoes the failed start). */
MORVANE_EXPORT void BN_CTX_start(BN_CTX *ctx);
/* A number of value zero from the open frame; null when the pool cannot grow
 * ("too many temporary variables", once per frame) or after a failure. */
MORVANE_EXPORT BIGNUM *BN_CTX_get(BN_CTX *ctx);
/* Closes the innermost frame, giving back its numbers; with no frame open it
 * does nothing. */
MORVANE_EXPORT void BN_CTX_end(BN_CTX *ctx);

/* ---- multiplication and squaring --------------------------------------------
 * r may be a or b (or both).  Temporaries come from ctx. */

/* r = a * b; r = a^2. */
MORVANE_EXPORT int BN_mul(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, BN_CTX *ctx);
MORVANE_EXPORT int BN_sqr(BIGNUM *r, const BIGNUM *a, BN_CTX *ctx);

/* Vector products: 32-bit word vectors, least significant first, as the word
 * kernels.  They never allocate or fail; r must not overlap a, b or t, and
 * exactly the words named are written.  Scratch t: bn_mul_recursive 4 n2 words,
 * bn_mul_part_recursive 8 n, bn_sqr_recursive 4 n2, bn_mul_high 3 n2,
 * bn_mul_low_recursive 2 n2. */

/* r[0 .. na+nb) = a[0 .. na) * b[0 .. nb), schoolbook. */
MORVANE_EXPORT void bn_mul_normal(BN_ULONG *r, BN_ULONG *a, int na, BN_ULONG *b, int nb);
/* r[0 .. 2 n2) = a * b by Karatsuba, n2 a power of two (below 16: schoolbook),
 * a of n2 + dna and b of n2 + dnb words (-n2/2 < dna, dnb <= 0). */
MORVANE_EXPORT void bn_mul_recursive(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b, int n2, int dna,
                                     int dnb, BN_ULONG *t);
/* r[0 .. 4n) = a * b, a of n + tna and b of n + tnb words (0 <= tna, tnb < n,
 * lengths differing by at most one); nothing is written for n <= 0. */
MORVANE_EXPORT void bn_mul_part_recursive(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b, int n, int tna,
                                          int tnb, BN_ULONG *t);
/* r[0 .. n) = the low n words of a * b (n-word operands). */
MORVANE_EXPORT void bn_mul_low_normal(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b, int n);
/* The same for n2 a power of two, by Karatsuba. */
MORVANE_EXPORT void bn_mul_low_recursive(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b, int n2, BN_ULONG *t);
/* r[0 .. n2) = the high n2 words of the 2 n2-word product a * b, given l = its
 * low n2 words (null: taken as zero); n2 a power of two, at least 16. */
MORVANE_EXPORT void bn_mul_high(BN_ULONG *r, BN_ULONG *a, BN_ULONG *b, BN_ULONG *l, int n2,
                                BN_ULONG *t);
/* r[0 .. 2n) = a^2, schoolbook; tmp of 2n words. */
MORVANE_EXPORT void bn_sqr_normal(BN_ULONG *r, const BN_ULONG *a, int n, BN_ULONG *tmp);
/* r[0 .. 2 n2) = a^2 for n2 a power of two. */
MORVANE_EXPORT void bn_sqr_recursive(BN_ULONG *r, const BN_ULONG *a, int n2, BN_ULONG *t);
/* r[0 .. cl+|dl|) = a + b (a - b), where a has cl + max(dl, 0) words and b
 * cl + max(-dl, 0); returns the carry (the borrow). */
MORVANE_EXPORT BN_ULONG bn_add_part_words(BN_ULONG *r, const BN_ULONG *a, const BN_ULONG *b, int cl,
                                          int dl);
MORVANE_EXPORT BN_ULONG bn_sub_part_words(BN_ULONG *r, const BN_ULONG *a, const BN_ULONG *b, int cl,
                                          int dl);

/* ---- division and modular operations ------------------------------------------
 * Results may be any operand (dv and rm excepted, below). */

/* num = dv * divisor + rm, the quotient truncated toward zero and rm with
 * num's sign; either result may be null.  dv and rm the same record is
 * refused ("invalid argument"); an unstripped operand fails with "not
 * initialized", a zero divisor with "div by zero".  With BN_FLAG_SECRET on an
 * operand, the steps do not depend on the values, only on their lengths. */
MORVANE_EXPORT int BN_div(BIGNUM *dv, BIGNUM *rm, const BIGNUM *num, const BIGNUM *divisor,
                          BN_CTX *ctx);
/* rem = m mod d, with m's sign. */
#define BN_mod(rem, m, d, ctx) BN_div(NULL, (rem), (m), (d), (ctx))
/* r = m mod d in [0, |d|). */
MORVANE_EXPORT int BN_nnmod(BIGNUM *r, const BIGNUM *m, const BIGNUM *d, BN_CTX *ctx);
/* r = (a + b), (a - b), (a * b), a^2, 2a, a * 2^n, each mod m in [0, |m|). */
MORVANE_EXPORT int BN_mod_add(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *m,
                              BN_CTX *ctx);
MORVANE_EXPORT int BN_mod_sub(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *m,
                              BN_CTX *ctx);
MORVANE_EXPORT int BN_mod_mul(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *m,
                              BN_CTX *ctx);
MORVANE_EXPORT int BN_mod_sqr(BIGNUM *r, const BIGNUM *a, const BIGNUM *m, BN_CTX *ctx);
MORVANE_EXPORT int BN_mod_lshift1(BIGNUM *r, const BIGNUM *a, const BIGNUM *m, BN_CTX *ctx);
/* r = a * 2^n mod m; a negative n is refused ("invalid length"), as by
 * BN_lshift. */
MORVANE_EXPORT int BN_mod_lshift(BIGNUM *r, const BIGNUM *a, int n, const BIGNUM *m, BN_CTX *ctx);
/* Quick forms: a and b already in [0, m), m positive, r not m. */
MORVANE_EXPORT int BN_mod_add_quick(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *m);
MORVANE_EXPORT int BN_mod_sub_quick(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *m);
MORVANE_EXPORT int BN_mod_lshift1_quick(BIGNUM *r, const BIGNUM *a, const BIGNUM *m);
/* Fails with "input not reduced" when a has more bits than m, and with
 * "invalid length" for a negative n. */
MORVANE_EXPORT int BN_mod_lshift_quick(BIGNUM *r, const BIGNUM *a, int n, const BIGNUM *m);

/* ---- reduction by a reciprocal ----------------------------------------------
 * A BN_RECP_CTX keeps a divisor N and, computed on first use, its reciprocal
 * Nr = floor(2^shift / N).  Divisions update it: one thread at a time. */
typedef struct bn_recp_ctx_st BN_RECP_CTX;
struct bn_recp_ctx_st {
  BIGNUM N;     /* the divisor */
  BIGNUM Nr;    /* floor(2^shift / N) */
  int num_bits; /* bits of N */
  int shift;    /* 0: not computed yet; -1: the computation failed */
  int flags;    /* BN_FLAG_HEAP when from BN_RECP_CTX_new */
};
/* Sets up a caller-owned context (empty); BN_RECP_CTX_new allocates one (null
 * on failure, nothing queued); free releases the numbers and a record from
 * BN_RECP_CTX_new (null is ignored). */
MORVANE_EXPORT void BN_RECP_CTX_init(BN_RECP_CTX *recp);
MORVANE_EXPORT BN_RECP_CTX *BN_RECP_CTX_new(void);
MORVANE_EXPORT void BN_RECP_CTX_free(BN_RECP_CTX *recp);
/* N = d; the reciprocal is computed by the first division. */
MORVANE_EXPORT int BN_RECP_CTX_set(BN_RECP_CTX *recp, const BIGNUM *d, BN_CTX *ctx);
/* r = floor(2^len / m); returns len, or -1 on failure. */
MORVANE_EXPORT int BN_reciprocal(BIGNUM *r, const BIGNUM *m, int len, BN_CTX *ctx);
/* m = dv * N + rem as BN_div (either result may be null; dv not m).  An
 * estimate that needs more than three corrections fails ("bad reciprocal"). */
MORVANE_EXPORT int BN_div_recp(BIGNUM *dv, BIGNUM *rem, const BIGNUM *m, BN_RECP_CTX *recp,
                               BN_CTX *ctx);
/* r = x * y mod N (x mod N when y is null), with x's sign. */
MORVANE_EXPORT int BN_mod_mul_reciprocal(BIGNUM *r, const BIGNUM *x, const BIGNUM *y,
                                         BN_RECP_CTX *recp, BN_CTX *ctx);

/* ---- number theory ---------------------------------------------------------
 * r = gcd(|a|, |b|) (gcd(0, 0) = 0). */
MORVANE_EXPORT int BN_gcd(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, BN_CTX *ctx);
/* The x in [0, |n|) with a x = 1 (mod n), in `in` or a new record; null on
 * failure ("no inverse" when gcd(a, n) is not 1).  Secret a or n
 * (BN_FLAG_SECRET) take the no-branch divisions. */
MORVANE_EXPORT BIGNUM *BN_mod_inverse(BIGNUM *in, const BIGNUM *a, const BIGNUM *n, BN_CTX *ctx);
/* The Kronecker symbol (a | b): -1, 0 or 1; -2 on an internal failure. */
MORVANE_EXPORT int BN_kronecker(const BIGNUM *a, const BIGNUM *b, BN_CTX *ctx);
/* An x in [0, p) with x^2 = a (mod p) for a prime p, in `in` or a new record;
 * null on failure ("not a square", "p is not prime"). */
MORVANE_EXPORT BIGNUM *BN_mod_sqrt(BIGNUM *in, const BIGNUM *a, const BIGNUM *p, BN_CTX *ctx);

/* ---- random numbers ------------------------------------------------------------
 * rnd = a random number of at most `bits` bits; top -1: no bit forced, 0: the
 * top bit set, 1 (or any other value): the two top bits set; bottom non-zero:
 * odd.  Each draw first adds the time to the generator's pool (no entropy
 * credited).  bits 0 gives 0; a negative count, and top 1 with one bit, fail
 * with "invalid argument".  1, or 0 on failure. */
/* From RAND_bytes (strong output; a generator that is not seeded fails). */
MORVANE_EXPORT int BN_rand(BIGNUM *rnd, int bits, int top, int bottom);
/* From RAND_pseudo_bytes (only its -1 fails). */
MORVANE_EXPORT int BN_pseudo_rand(BIGNUM *rnd, int bits, int top, int bottom);
/* As BN_pseudo_rand, reshaped into long runs of equal bits for testing the
 * arithmetic. */
MORVANE_EXPORT int BN_bntest_rand(BIGNUM *rnd, int bits, int top, int bottom);
/* r uniform in [0, range) from BN_rand (BN_pseudo_rand); "invalid range" for
 * range <= 0, "too many iterations" after 100 draws. */
MORVANE_EXPORT int BN_rand_range(BIGNUM *r, const BIGNUM *range);
MORVANE_EXPORT int BN_pseudo_rand_range(BIGNUM *r, const BIGNUM *range);

/* ---- primes -----------------------------------------------------------------------
 * Progress events (a, b) to cb (BN_GENCB_call): (0, n) candidate n made; (1, -1)
 * trial division passed; (1, i) Miller-Rabin round i passed; (2, n) a double
 * round of a safe candidate passed; the X9.31 routines give (0, i) and (2, i)
 * for each auxiliary candidate and prime, (0, 1) for each candidate p and
 * (3, 0) when p is found, and ignore the callback's result.  A callback that
 * returns 0 stops a test (-1) and a generation (0). */
/* Rounds by size: checks 0 picks them from the size of the number, which
 * suits random candidates; validators of outside input pass 64. */
#define BN_prime_checks 0
/* 1 probably prime, 0 composite (every a <= 1, and negative numbers), -1 on
 * error or a stop.  checks <= 0 picks the rounds by size; ctx may be null.
 * With trial division a number equal to one of the first 2048 primes is
 * prime. */
MORVANE_EXPORT int BN_is_prime_fasttest_ex(const BIGNUM *a, int checks, BN_CTX *ctx,
                                           int do_trial_division, BN_GENCB *cb);
MORVANE_EXPORT int BN_is_prime_ex(const BIGNUM *a, int checks, BN_CTX *ctx, BN_GENCB *cb);
/* ret = a probable prime of exactly `bits` bits (with add: ret = rem mod add,
 * rem null meaning 1; safe: (ret - 1) / 2 prime too).  Without add its two
 * top bits are set.  Fewer than 2 bits (6 for a safe prime) fail with
 * "invalid argument"; add and rem must admit primes.  1, or 0 on failure or
 * a stop. */
MORVANE_EXPORT int BN_generate_prime_ex(BIGNUM *ret, int bits, int safe, const BIGNUM *add,
                                        const BIGNUM *rem, BN_GENCB *cb);
/* ANSI X9.31 starting values Xp, Xq of nbits / 2 bits for an nbits-bit
 * modulus (nbits >= 1024, a multiple of 256), |Xp - Xq| above 2^(nbits/2 -
 * 100); 1, or 0 with nothing queued. */
MORVANE_EXPORT int BN_X931_generate_Xpq(BIGNUM *Xp, BIGNUM *Xq, int nbits, BN_CTX *ctx);
/* The X9.31 prime p >= Xp from the auxiliary primes p1 >= Xp1 and p2 >= Xp2
 * (returned in p1 and p2 unless null) with gcd(p - 1, e) = 1; an even e
 * fails with nothing queued.  1 or 0. */
MORVANE_EXPORT int BN_X931_derive_prime_ex(BIGNUM *p, BIGNUM *p1, BIGNUM *p2, const BIGNUM *Xp,
                                           const BIGNUM *Xp1, const BIGNUM *Xp2, const BIGNUM *e,
                                           BN_CTX *ctx, BN_GENCB *cb);
/* As BN_X931_derive_prime_ex with Xp1 and Xp2 drawn as random 101-bit
 * numbers (into the arguments unless null). */
MORVANE_EXPORT int BN_X931_generate_prime_ex(BIGNUM *p, BIGNUM *p1, BIGNUM *p2, BIGNUM *Xp1,
                                             BIGNUM *Xp2, const BIGNUM *Xp, const BIGNUM *e,
                                             BN_CTX *ctx, BN_GENCB *cb);
/* Older forms with a bare callback (called as a version-1 BN_GENCB).
 * BN_generate_prime returns ret, or a new record when ret is null; null on
 * failure. */
MORVANE_EXPORT BIGNUM *BN_generate_prime(BIGNUM *ret, int bits, int safe, const BIGNUM *add,
                                         const BIGNUM *rem, void (*callback)(int, int, void *),
                                         void *cb_arg);
MORVANE_EXPORT int BN_is_prime(const BIGNUM *a, int checks, void (*callback)(int, int, void *),
                               BN_CTX *ctx, void *cb_arg);
MORVANE_EXPORT int BN_is_prime_fasttest(const BIGNUM *a, int checks,
                                        void (*callback)(int, int, void *), BN_CTX *ctx,
                                        void *cb_arg, int do_trial_division);

/* ---- Montgomery arithmetic ---------------------------------------------------
 * For an odd modulus N: R = 2^ri with ri the bits of N rounded up to a
 * multiple of 32, RR = R^2 mod N, n0 = -N^-1 mod 2^32.  Immutable once set. */
struct bn_mont_ctx_st {
  int ri;           /* bits of R */
  BIGNUM RR;        /* R^2 mod N */
  BIGNUM N;         /* the modulus */
  BIGNUM Ni;        /* unused: stays empty */
  unsigned int n0;  /* -N^-1 mod 2^32 */
  int flags;        /* BN_FLAG_HEAP when from BN_MONT_CTX_new */
};
/* A new empty context; null ("malloc failure") when it cannot be had. */
MORVANE_EXPORT BN_MONT_CTX *BN_MONT_CTX_new(void);
MORVANE_EXPORT void BN_MONT_CTX_init(BN_MONT_CTX *ctx);
MORVANE_EXPORT void BN_MONT_CTX_free(BN_MONT_CTX *mont);
/* Prepares mont for an odd modulus; 1 or 0 ("no inverse" for an even one,
 * "div by zero" for zero). */
MORVANE_EXPORT int BN_MONT_CTX_set(BN_MONT_CTX *mont, const BIGNUM *mod, BN_CTX *ctx);
/* Copies all but flags; null when a copy fails. */
MORVANE_EXPORT BN_MONT_CTX *BN_MONT_CTX_copy(BN_MONT_CTX *to, BN_MONT_CTX *from);
/* The context in *pmont, created on first use under lock number `lock`. */
MORVANE_EXPORT BN_MONT_CTX *BN_MONT_CTX_set_locked(BN_MONT_CTX **pmont, int lock,
                                                   const BIGNUM *mod, BN_CTX *ctx);
/* r = a b R^-1 mod N. */
MORVANE_EXPORT int BN_mod_mul_montgomery(BIGNUM *r, const BIGNUM *a, const BIGNUM *b,
                                         BN_MONT_CTX *mont, BN_CTX *ctx);
/* r = a R^-1 mod N for 0 <= a < N R; a zero result is non-negative. */
MORVANE_EXPORT int BN_from_montgomery(BIGNUM *r, const BIGNUM *a, BN_MONT_CTX *mont, BN_CTX *ctx);
#define BN_to_montgomery(r, a, mont, ctx) BN_mod_mul_montgomery((r), (a), &((mont)->RR), (mont), (ctx))

/* ---- exponentiation ----------------------------------------------------------
 * r = a^|p| mod m: 1 on success, 0 on failure; the forms that refuse a secret
 * exponent (BN_FLAG_SECRET on p) push "called a function you should not call"
 * and return -1.  in_mont, when not null, is a context set for m. */
MORVANE_EXPORT int BN_mod_exp(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m,
                              BN_CTX *ctx);
/* Odd m; a secret p is handed to BN_mod_exp_mont_consttime. */
MORVANE_EXPORT int BN_mod_exp_mont(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m,
                                   BN_CTX *ctx, BN_MONT_CTX *in_mont);
/* Odd m; the same operations and memory blocks for every exponent of a given
 * word count. */
MORVANE_EXPORT int BN_mod_exp_mont_consttime(BIGNUM *r, const BIGNUM *a, const BIGNUM *p,
                                             const BIGNUM *m, BN_CTX *ctx, BN_MONT_CTX *in_mont);
/* Odd m, one-word base a. */
MORVANE_EXPORT int BN_mod_exp_mont_word(BIGNUM *r, BN_ULONG a, const BIGNUM *p, const BIGNUM *m,
                                        BN_CTX *ctx, BN_MONT_CTX *in_mont);
/* Any non-zero m, by reciprocals; BN_mod_exp_simple by BN_mod_mul. */
MORVANE_EXPORT int BN_mod_exp_recp(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m,
                                   BN_CTX *ctx);
MORVANE_EXPORT int BN_mod_exp_simple(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m,
                                     BN_CTX *ctx);
/* r = a^|p|. */
MORVANE_EXPORT int BN_exp(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, BN_CTX *ctx);
/* r = a1^|p1| a2^|p2| mod m for odd m. */
MORVANE_EXPORT int BN_mod_exp2_mont(BIGNUM *r, const BIGNUM *a1, const BIGNUM *p1,
                                    const BIGNUM *a2, const BIGNUM *p2, const BIGNUM *m,
                                    BN_CTX *ctx, BN_MONT_CTX *in_mont);

/* ---- blinding ------------------------------------------------------------------
 * A pair A = r^e mod n and Ai = r^-1 mod n for a random r, which an RSA
 * private-key operation multiplies into its input (convert) and output
 * (invert).  Every inversion updates the pair: both are squared, and after
 * 32 uses drawn afresh (when e is known).  No lock: the RSA code uses a
 * record without one from its owner thread (thread_id), and otherwise under
 * a write lock; for each operation it blinds, keeps its own copy of Ai and
 * advances the pair before the exponentiation, so that no two operations
 * apply one pair, and a process other than the one that drew the pair (a
 * forked child) draws afresh first.  The record owns A, Ai, e and mod, not
 * m_ctx.  1 on success, 0 on failure; "not initialized" before A and Ai
 * exist. */
#define BN_BLINDING_NO_SQUARE 0x01 /* never square: the pair changes only when drawn */
#define BN_BLINDING_NO_REGEN 0x02  /* never draw afresh */
struct bn_blinding_st {
  BIGNUM *A;                  /* r^e mod mod */
  BIGNUM *Ai;                 /* r^-1 mod mod */
  BIGNUM *e;                  /* the public exponent; null: no fresh draws */
  BIGNUM *mod;                /* the modulus */
  unsigned long thread_id;    /* the owner thread (CRYPTO_thread_id), set by the caller */
  unsigned int counter;       /* uses left before a fresh draw: 32 down to 1 */
  unsigned int pid;           /* the process that made or drew the pair (getpid) */
  unsigned long flags;        /* BN_BLINDING_NO_SQUARE, BN_BLINDING_NO_REGEN */
  BN_MONT_CTX *m_ctx;         /* the caller's Montgomery context of mod */
  int (*bn_mod_exp)(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m, BN_CTX *ctx,
                    BN_MONT_CTX *m_ctx);
};
/* A record over copies of A and Ai (null allowed) and of mod (keeping its
 * BN_FLAG_SECRET); null on failure. */
MORVANE_EXPORT BN_BLINDING *BN_BLINDING_new(const BIGNUM *A, const BIGNUM *Ai, BIGNUM *mod);
/* Frees the record and its numbers; null is ignored. */
MORVANE_EXPORT void BN_BLINDING_free(BN_BLINDING *b);
/* Draws a fresh pair into b, or into a new record for m when b is null; e
 * (when given) replaces the stored exponent, bn_mod_exp and m_ctx (when
 * given) the stored ones, which raise A to e when both are set (else
 * BN_mod_exp).  Draws without an inverse are retried, at most 33 in all
 * ("too many iterations"), leaving the caller's queued errors in place.
 * Returns the record, or null (a record made here is freed). */
MORVANE_EXPORT BN_BLINDING *BN_BLINDING_create_param(
    BN_BLINDING *b, const BIGNUM *e, BIGNUM *m, BN_CTX *ctx,
    int (*bn_mod_exp)(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, const BIGNUM *m, BN_CTX *ctx,
                      BN_MONT_CTX *m_ctx),
    BN_MONT_CTX *m_ctx);
/* Advances the pair after a use: squares both unless BN_BLINDING_NO_SQUARE;
 * at the 32nd use draws afresh instead, when e is known and
 * BN_BLINDING_NO_REGEN is clear.  A fresh draw that fails part-way leaves
 * no usable pair: until a draw succeeds, every call below draws again first,
 * or (a record that cannot draw) fails with "not initialized"; none returns
 * 1 with a pair that does not match. */
MORVANE_EXPORT int BN_BLINDING_update(BN_BLINDING *b, BN_CTX *ctx);
/* n = n A mod m; r (when given) receives a copy of Ai.  b is not changed,
 * but for the fresh draw after a failed one. */
MORVANE_EXPORT int BN_BLINDING_convert_ex(BIGNUM *n, BIGNUM *r, BN_BLINDING *b, BN_CTX *ctx);
/* n = n r mod m (n Ai when r is null), then BN_BLINDING_update; the
 * product's result, or 0 when the update failed.  With r null after a failed
 * draw, n is left alone ("not initialized", 0), and the update draws again. */
MORVANE_EXPORT int BN_BLINDING_invert_ex(BIGNUM *n, const BIGNUM *r, BN_BLINDING *b, BN_CTX *ctx);
MORVANE_EXPORT int BN_BLINDING_convert(BIGNUM *n, BN_BLINDING *b, BN_CTX *ctx);
MORVANE_EXPORT int BN_BLINDING_invert(BIGNUM *n, BN_BLINDING *b, BN_CTX *ctx);
MORVANE_EXPORT unsigned long BN_BLINDING_get_thread_id(const BN_BLINDING *b);
MORVANE_EXPORT void BN_BLINDING_set_thread_id(BN_BLINDING *b, unsigned long n);
MORVANE_EXPORT unsigned long BN_BLINDING_get_flags(const BN_BLINDING *b);
MORVANE_EXPORT void BN_BLINDING_set_flags(BN_BLINDING *b, unsigned long flags);

/* ---- NIST primes and published primes ---------------------------------------
 * The primes of the NIST curves over prime fields (FIPS 186-4, D.1.2) as
 * constant numbers (BN_FLAG_BORROWED: never to be modified or freed), and the
 * reduction modulo each: r = a mod p in [0, p), 1 or 0.  The field argument
 * is not read (each function reduces by its own prime); ctx serves only
 * inputs outside [0, p^2), which take the general reduction.  r may be a. */
MORVANE_EXPORT const BIGNUM *BN_get0_nist_prime_192(void);
MORVANE_EXPORT const BIGNUM *BN_get0_nist_prime_224(void);
MORVANE_EXPORT const BIGNUM *BN_get0_nist_prime_256(void);
MORVANE_EXPORT const BIGNUM *BN_get0_nist_prime_384(void);
MORVANE_EXPORT const BIGNUM *BN_get0_nist_prime_521(void);
MORVANE_EXPORT int BN_nist_mod_192(BIGNUM *r, const BIGNUM *a, const BIGNUM *field, BN_CTX *ctx);
MORVANE_EXPORT int BN_nist_mod_224(BIGNUM *r, const BIGNUM *a, const BIGNUM *field, BN_CTX *ctx);
MORVANE_EXPORT int BN_nist_mod_256(BIGNUM *r, const BIGNUM *a, const BIGNUM *field, BN_CTX *ctx);
MORVANE_EXPORT int BN_nist_mod_384(BIGNUM *r, const BIGNUM *a, const BIGNUM *field, BN_CTX *ctx);
MORVANE_EXPORT int BN_nist_mod_521(BIGNUM *r, const BIGNUM *a, const BIGNUM *field, BN_CTX *ctx);
/* The MODP group primes of RFC 2409 (section 6: the first and second Oakley
 * groups) and RFC 3526 (groups 5 and 14 to 18), written into bn or a new
 * number when bn is null; null on failure. */
MORVANE_EXPORT BIGNUM *get_rfc2409_prime_768(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc2409_prime_1024(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc3526_prime_1536(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc3526_prime_2048(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc3526_prime_3072(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc3526_prime_4096(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc3526_prime_6144(BIGNUM *bn);
MORVANE_EXPORT BIGNUM *get_rfc3526_prime_8192(BIGNUM *bn);

/* ---- arithmetic over GF(2^m) ----------------------------------------------------
 * A polynomial over GF(2) is a number whose bit i is the coefficient of x^i
 * (the sign is ignored; results are non-negative).  The modulus p is given as
 * a number, or (the _arr forms) as the exponents of its nonzero terms in
 * decreasing order ending with 0: x^163 + x^7 + x^6 + x^3 + 1 is {163, 7, 6,
 * 3, 0}; {0} stands for the polynomial 1.  Only a modulus with a constant
 * term has that form: the number forms refuse others, and zero, with
 * "invalid length".  1 on success, 0 on failure; r may be any operand. */
/* r = a + b. */
MORVANE_EXPORT int BN_GF2m_add(BIGNUM *r, const BIGNUM *a, const BIGNUM *b);
/* r = a mod p. */
MORVANE_EXPORT int BN_GF2m_mod(BIGNUM *r, const BIGNUM *a, const BIGNUM *p);
MORVANE_EXPORT int BN_GF2m_mod_arr(BIGNUM *r, const BIGNUM *a, const unsigned int p[]);
/* r = a b mod p; r = a^2 mod p. */
MORVANE_EXPORT int BN_GF2m_mod_mul(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *p,
                                   BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_mul_arr(BIGNUM *r, const BIGNUM *a, const BIGNUM *b,
                                       const unsigned int p[], BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_sqr(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_sqr_arr(BIGNUM *r, const BIGNUM *a, const unsigned int p[],
                                       BN_CTX *ctx);
/* r = a^-1 mod p.  An a of 0 mod p fails with nothing queued; one sharing a
 * factor with a reducible p fails with "no inverse". */
MORVANE_EXPORT int BN_GF2m_mod_inv(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_inv_arr(BIGNUM *r, const BIGNUM *a, const unsigned int p[],
                                       BN_CTX *ctx);
/* r = y / x mod p (failing as the inverse of x). */
MORVANE_EXPORT int BN_GF2m_mod_div(BIGNUM *r, const BIGNUM *y, const BIGNUM *x, const BIGNUM *p,
                                   BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_div_arr(BIGNUM *r, const BIGNUM *y, const BIGNUM *x,
                                       const unsigned int p[], BN_CTX *ctx);
/* r = a^b mod p for an ordinary integer b (its sign ignored); b = 0 gives 1,
 * b = 1 gives a as it is, not reduced. */
MORVANE_EXPORT int BN_GF2m_mod_exp(BIGNUM *r, const BIGNUM *a, const BIGNUM *b, const BIGNUM *p,
                                   BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_exp_arr(BIGNUM *r, const BIGNUM *a, const BIGNUM *b,
                                       const unsigned int p[], BN_CTX *ctx);
/* r = the square root of a mod p, a^(2^(m-1)). */
MORVANE_EXPORT int BN_GF2m_mod_sqrt(BIGNUM *r, const BIGNUM *a, const BIGNUM *p, BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_sqrt_arr(BIGNUM *r, const BIGNUM *a, const unsigned int p[],
                                        BN_CTX *ctx);
/* r = a root z of z^2 + z = a mod p (the other is z + 1); "no solution" when
 * there is none, "too many iterations" after 50 draws for an even degree. */
MORVANE_EXPORT int BN_GF2m_mod_solve_quad(BIGNUM *r, const BIGNUM *a, const BIGNUM *p,
                                          BN_CTX *ctx);
MORVANE_EXPORT int BN_GF2m_mod_solve_quad_arr(BIGNUM *r, const BIGNUM *a, const unsigned int p[],
                                              BN_CTX *ctx);
/* Stores the exponents of a's nonzero terms, highest first, in p[0 .. max)
 * and returns their number (which may exceed max: the rest are not stored);
 * 0 for zero and for a without a constant term. */
MORVANE_EXPORT int BN_GF2m_poly2arr(const BIGNUM *a, unsigned int p[], int max);
/* a = the polynomial of the exponent array p (ending with 0). */
MORVANE_EXPORT int BN_GF2m_arr2poly(const unsigned int p[], BIGNUM *a);
#define BN_GF2m_sub(r, a, b) BN_GF2m_add((r), (a), (b))
#define BN_GF2m_cmp(a, b) BN_ucmp((a), (b))

/* Registers the texts of library 3 (ERR_LIB_BN) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_BN_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 3 (BN). */
#define BN_F_BN_BLINDING_CONVERT_EX 100
#define BN_F_BN_BLINDING_INVERT_EX 101
#define BN_F_BN_BLINDING_NEW 102
#define BN_F_BN_BLINDING_UPDATE 103
#define BN_F_BN_BN2DEC 104
#define BN_F_BN_BN2HEX 105
#define BN_F_BN_CTX_NEW 106
#define BN_F_BN_DIV 107
#define BN_F_BN_EXPAND2 108
#define BN_F_BN_MOD_EXP_MONT 109
#define BN_F_BN_MOD_INVERSE 110
#define BN_F_BN_MOD_MUL_RECIPROCAL 111
#define BN_F_BN_MPI2BN 112
#define BN_F_BN_NEW 113
#define BN_F_BN_RAND 114
#define BN_F_BN_USUB 115
#define BN_F_BN_CTX_GET 116
#define BN_F_BN_MOD_EXP_MONT_WORD 117
#define BN_F_BN_MOD_EXP2_MONT 118
#define BN_F_BN_MOD_LSHIFT_QUICK 119
#define BN_F_BN_EXPAND_INTERNAL 120
#define BN_F_BN_MOD_SQRT 121
#define BN_F_BN_RAND_RANGE 122
#define BN_F_BN_EXP 123
#define BN_F_BN_MOD_EXP_MONT_CONSTTIME 124
#define BN_F_BN_MOD_EXP_RECP 125
#define BN_F_BN_MOD_EXP_SIMPLE 126
#define BN_F_BNRAND 127
#define BN_F_BN_BLINDING_CREATE_PARAM 128
#define BN_F_BN_CTX_START 129
#define BN_F_BN_DIV_RECP 130
#define BN_F_BN_GF2M_MOD 131
#define BN_F_BN_GF2M_MOD_EXP 132
#define BN_F_BN_GF2M_MOD_MUL 133
#define BN_F_BN_GF2M_MOD_SOLVE_QUAD 134
#define BN_F_BN_GF2M_MOD_SOLVE_QUAD_ARR 135
#define BN_F_BN_GF2M_MOD_SQR 136
#define BN_F_BN_GF2M_MOD_SQRT 137
#define BN_F_BN_DIV_NO_BRANCH 138
#define BN_F_BN_MOD_INVERSE_NO_BRANCH 139
#define BN_F_BN_GENERATE_PRIME_EX 140
#define BN_F_BN_GF2M_MOD_INV 141
#define BN_F_BN_MOD_LSHIFT 142
#define BN_F_BN_MONT_CTX_NEW 143
/* Reason codes of library 3 (BN). */
#define BN_R_ARG2_LT_ARG3 100
#define BN_R_BAD_RECIPROCAL 101
#define BN_R_CALLED_WITH_EVEN_MODULUS 102
#define BN_R_DIV_BY_ZERO 103
#define BN_R_ENCODING_ERROR 104
#define BN_R_EXPAND_ON_STATIC_BIGNUM_DATA 105
#define BN_R_INVALID_LENGTH 106
#define BN_R_NOT_INITIALIZED 107
#define BN_R_NO_INVERSE 108
#define BN_R_TOO_MANY_TEMPORARY_VARIABLES 109
#define BN_R_INPUT_NOT_REDUCED 110
#define BN_R_NOT_A_SQUARE 111
#define BN_R_P_IS_NOT_PRIME 112
#define BN_R_TOO_MANY_ITERATIONS 113
#define BN_R_BIGNUM_TOO_LONG 114
#define BN_R_INVALID_RANGE 115
#define BN_R_NO_SOLUTION 116
#define BN_R_INVALID_ARGUMENT 117
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_BN_H */
