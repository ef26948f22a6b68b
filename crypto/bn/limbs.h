// Big numbers on 64-bit limbs: the arithmetic behind BN_mul, BN_sqr, the
// Montgomery products and the exponentiations, which see two adjacent 32-bit
// words as one limb (little-endian; an odd top word is a limb whose upper
// half is zero).  The results are the words the 32-bit algorithms give.
//
// The row kernel (r += a w over a vector) has two implementations, plain C
// with unsigned __int128 and MULX/ADCX/ADOX, chosen on first use from the
// processor's features (internal/cpu.h; "adx" in MORVANE_NO_HWCRYPT forces
// the plain one).  Everything else is written once over that kernel, but for
// the row loops of the products, squares and reduction, which the ADX kernel
// also has with its row inlined, the unrolled products and Montgomery
// products of short operands (limbs_fixed.cc), and the division's
// multiply-and-subtract pass (limbs_div.cc), which each kernel has in its
// own form.
#ifndef MORVANE_CRYPTO_BN_LIMBS_H
#define MORVANE_CRYPTO_BN_LIMBS_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <atomic>

#include <morvane/bn.h>

#include "internal/cpu.h"
#include "internal/ct.h"

namespace morvane::bn::limb {

using Limb = uint64_t;

// Limbs that hold `words` 32-bit words.
constexpr int count(int words) { return (words + 1) / 2; }

// Runs of limbs up to this many are moved in line, longer ones by memcpy
// (on a little-endian machine the words of a limb are in memory order).
constexpr int kInlineMove = 16;

// l[0 .. count(nw)) = w[0 .. nw), the upper half of an odd top limb zero.
// A short run is moved limb by limb, as store() does: w may have just been
// stored a limb at a time (a product), and the compiler's vector loop, with
// its set-up for the count, costs more than the moves at these lengths.
inline void load(Limb* l, const BN_ULONG* w, int nw) noexcept {
  const int full = nw / 2;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (full > kInlineMove) {
    memcpy(l, w, sizeof(Limb) * static_cast<size_t>(full));
  } else {
    for (int i = 0; i < full; i++) {
      Limb v;
      memcpy(&v, w + 2 * i, sizeof(Limb));
      __asm__("" : "+r"(v));
      l[i] = v;
    }
  }
#else
  for (int i = 0; i < full; i++) l[i] = w[2 * i] | static_cast<Limb>(w[2 * i + 1]) << 32;
#endif
  if (nw & 1) l[full] = w[nw - 1];
}

// Sets l[0 .. n) to zero by stores the compiler keeps (a wipe of a few
// limbs, cheaper than a call or a string store).
inline void clear(Limb* l, int n) noexcept {
  volatile Limb* v = l;
  for (int i = 0; i < n; i++) v[i] = 0;
}

// w[0 .. nw) = the low nw words of l.  A short run is moved limb by limb
// (the barrier keeps the compiler from pairing them): l has just been
// stored a limb at a time by a kernel, and a wider load would not be
// forwarded from those stores.
inline void store(BN_ULONG* w, const Limb* l, int nw) noexcept {
  const int full = nw / 2;
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
  if (full > kInlineMove) {
    memcpy(w, l, sizeof(Limb) * static_cast<size_t>(full));
  } else {
    for (int i = 0; i < full; i++) {
      Limb v = l[i];
      __asm__("" : "+r"(v));
      memcpy(w + 2 * i, &v, sizeof(Limb));
    }
  }
#else
  for (int i = 0; i < full; i++) {
    w[2 * i] = static_cast<BN_ULONG>(l[i]);
    w[2 * i + 1] = static_cast<BN_ULONG>(l[i] >> 32);
  }
#endif
  if (nw & 1) w[nw - 1] = static_cast<BN_ULONG>(l[full]);
}

// r[0 .. n) += a[0 .. n) w; returns the carry limb.  The instructions run
// and the addresses touched depend on n only.
using MulAddFn = Limb (*)(Limb* r, const Limb* a, int n, Limb w) noexcept;
MulAddFn mul_add() noexcept;
// Whether the kernel in use is the MULX/ADCX/ADOX one: g_adx is 1 or 0
// once mul_add() has chosen, -1 before.
extern std::atomic<int> g_adx;
bool adx_kernel_choose() noexcept;
inline bool adx_kernel() noexcept {
  const int adx = g_adx.load(std::memory_order_relaxed);
  return adx >= 0 ? adx == 1 : adx_kernel_choose();
}

// r[0 .. na + nb) = a b by rows (no branch on the values); r must not
// overlap a or b.
void mul_rows(Limb* r, const Limb* a, int na, const Limb* b, int nb) noexcept;
// r[0 .. 2n) = a^2 by rows (each cross product once, doubled).
void sqr_rows(Limb* r, const Limb* a, int n) noexcept;
// r[0 .. 2n) = a b (or a^2 when a == b) for n-limb operands: Karatsuba from
// karatsuba_limbs(a == b) limbs up, rows below.  Scratch of scratch_limbs(n).
// The crossover was measured for each kernel, products and squares apart (a
// square's rows cost about half a product's) by bench/bench_bn_sweep.cc: 48
// and 64 limbs with MULX/ADCX/ADOX (where the squares of 32 limbs below
// split into halves; products from 32 on AMD's cores, see kAmdMul), 32 and
// 40 in C.  kKaratsuba is the least of them;
// scratch_limbs() also holds the split squares' (limbs.cc).
constexpr int kKaratsuba = 32;
#if defined(MORVANE_BN_SWEEP)
// The crossover sweep's copy of these sources (bench/bench_bn_sweep.cc) sets
// the crossovers of products and squares here (0 keeps the measured ones);
// its scratch is sized for any crossover from 4 limbs up.
extern int g_sweep_karatsuba[2];
// And whether squares take split_square (limbs.cc) where they can.
extern bool g_sweep_split;
#endif
inline int karatsuba_limbs(bool square) noexcept {
#if defined(MORVANE_BN_SWEEP)
  if (g_sweep_karatsuba[square] != 0) return g_sweep_karatsuba[square];
#endif
  if (adx_kernel()) return square ? 64 : internal::Has(internal::kAmdMul) ? 32 : 48;
  return square ? 40 : kKaratsuba;
}
size_t scratch_limbs(int n) noexcept;
void mul_square(Limb* r, const Limb* a, const Limb* b, int n, Limb* scratch) noexcept;
// mul_square on words: w[0 .. 4n) = a b (a^2 when a == b) for operands of
// exactly 2n words, read in place (w must not overlap them), with scratch
// of scratch_limbs(n) limbs; false, nothing done, where w, a or b is not
// placed as limbs (a number's words may sit at any 4-byte boundary).
bool mul_square_words(BN_ULONG* w, const BN_ULONG* a, const BN_ULONG* b, int n,
                      Limb* scratch) noexcept;

// A Montgomery modulus as limbs: R = 2^(32 nw), n0 = -N^-1 mod 2^64 lifted
// from the context's 32-bit n0 (n0w), which the last step of an odd word
// count uses.
struct Modulus {
  const Limb* n;
  int nw, nl;
  Limb n0;
  BN_ULONG n0w;
};
// The 64-bit n0 from N's low limb and the 32-bit one.
Limb lift_n0(Limb n_low, BN_ULONG n0w) noexcept;

// r[0 .. nl) = t R^-1 mod N for t[0 .. 2 nl) < N R (t is overwritten), with
// no branch or address that depends on the values.
void redc(Limb* r, Limb* t, const Modulus& m) noexcept;
// r = a b R^-1 mod N (a^2 R^-1 when a == b) for a b < N R; t: 2 nl limbs.
// r may be a or b.  The same instructions and addresses for every value.
void mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept;
using MontMulFn = void (*)(Limb* r, const Limb* a, const Limb* b, const Modulus& m,
                           Limb* t) noexcept;
// mont_mul by rows of the kernel and redc, for every modulus (limbs.cc).
void mont_mul_rows(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept;
// The form of mont_mul for m, to call in a loop: unrolled for its size
// where there is such a kernel (limbs_fixed.cc; an even word count and 1 to
// 8 limbs, or with the MULX/ADCX/ADOX kernel also 16, 24 or 32), else the
// general one.
MontMulFn mont_mul_for(const Modulus& m) noexcept;

// r[0 .. 2n) = a b by the unrolled rows of the MULX/ADCX/ADOX kernel for n
// of 12, 16, 24 or 32 limbs, a^2 (a == b) for 12 and 16: false, nothing
// done, for any other size or kernel.
bool fixed_rows(Limb* r, const Limb* a, const Limb* b, int n) noexcept;

// redc unrolled for the sizes mont_mul_for has on the MULX/ADCX/ADOX kernel
// but one limb: false, with nothing done, for any other modulus or kernel.
bool fixed_redc(Limb* r, Limb* t, const Modulus& m) noexcept;

// w[0 .. nw) = the low nw (at most 4n) words of a b (a^2 when a == b) for
// n-limb operands, n from 1 to kFixedLimbs, by the unrolled kernels; a
// product of four limbs goes from the registers to w.
constexpr int kFixedLimbs = 8;
void fixed_mul(BN_ULONG* w, int nw, const Limb* a, const Limb* b, int n) noexcept;
// The same for operands of exactly 2n words, read in place (w must not
// overlap them), n up to kFixedLimbs or, on the MULX/ADCX/ADOX kernel, one
// of fixed_rows' sizes: false, nothing done, where the kernel in use has no
// such form (on the MULX/ADCX/ADOX one, where nw is not all 4n words of the
// product, or for a size fixed_rows does not take).
bool mul_words(BN_ULONG* w, int nw, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept;

// r = a b R^-1 mod n for N-limb a b < n R (R = 2^(64 N)), by product
// scanning: column k of a b (each cross product of a square once, added
// twice) and of q n (q[0 .. N), the multipliers of n, each made when its
// column's low limb is known) summed in a three-limb accumulator; the
// columns from N up are the result.  Column k reads no
// limb of a or b below k - N + 1, so the result's limb k - N is written at
// the end of column k and r may be a or b.  Unrolled for N, in plain C; the
// instructions and addresses follow N only.
template <int N>
[[gnu::noinline]] void mont_mul_scan(Limb* r, const Limb* a, const Limb* b, const Limb* n,
                                     Limb n0, Limb* q) noexcept {
  using u128 = unsigned __int128;
  Limb lo = 0, mid = 0, hi = 0;
  auto add_wide = [&](u128 p) {
    u128 s = (static_cast<u128>(mid) << 64) | lo;
    hi += __builtin_add_overflow(s, p, &s);
    lo = static_cast<Limb>(s);
    mid = static_cast<Limb>(s >> 64);
  };
  auto add = [&](Limb x, Limb y) { add_wide(static_cast<u128>(x) * y); };
  auto shift = [&] {
    lo = mid;
    mid = hi;
    hi = 0;
  };
  // Column k of a b: for a square, each cross product once, added twice.
  const bool square = a == b;
  auto products = [&](int k, int from, int to) {
    if (square) {
#pragma GCC unroll 16
      for (int j = from; j < k - j; j++) {
        const u128 p = static_cast<u128>(a[j]) * a[k - j];
        add_wide(p);
        add_wide(p);
      }
      if (k % 2 == 0) add(a[k / 2], a[k / 2]);
    } else {
#pragma GCC unroll 16
      for (int j = from; j <= to; j++) add(a[j], b[k - j]);
    }
  };
#pragma GCC unroll 16
  for (int i = 0; i < N; i++) {
    products(i, 0, i);
#pragma GCC unroll 16
    for (int j = 0; j < i; j++) add(q[j], n[i - j]);
    q[i] = lo * n0;
    add(q[i], n[0]);  // the low limb becomes zero
    shift();
  }
#pragma GCC unroll 16
  for (int i = N; i < 2 * N - 1; i++) {
    products(i, i - N + 1, N - 1);
#pragma GCC unroll 16
    for (int j = i - N + 1; j < N; j++) add(q[j], n[i - j]);
    r[i - N] = lo;
    shift();
  }
  r[N - 1] = lo;
  // r + mid 2^(64 N) is below 2n: subtract n unless it is below n (the
  // difference goes into q, free now).
  Limb borrow = 0;
#pragma GCC unroll 16
  for (int j = 0; j < N; j++) {
    const u128 x = static_cast<u128>(r[j]) - n[j] - borrow;
    q[j] = static_cast<Limb>(x);
    borrow = static_cast<Limb>(x >> 127);
  }
  const Limb keep = ct::bit_mask<Limb>(borrow & ~mid);
#pragma GCC unroll 16
  for (int j = 0; j < N; j++) r[j] = ct::select(keep, r[j], q[j]);
}

// ---- fixed widths: the instructions and addresses follow the counts only --
// r[0 .. n) = a + b, or a - b; the carry or borrow out.
Limb add_n(Limb* r, const Limb* a, const Limb* b, int n) noexcept;
Limb sub_n(Limb* r, const Limb* a, const Limb* b, int n) noexcept;
// All ones when a < b (n limbs each), else zero.
Limb lt_mask_n(const Limb* a, const Limb* b, int n) noexcept;
// l[0 .. nl) = a, zero above a's top; the top (which follows a's value) is
// applied by masks, and only words below a->dmax are read.  a's value must
// fit in nl limbs.
void load_masked(Limb* l, int nl, const BIGNUM* a) noexcept;
// a = l[0 .. nl) (2 nl words), non-negative, its top found by masks; 0 when
// a cannot grow to 2 nl words.
int store_masked(BIGNUM* a, const Limb* l, int nl) noexcept;
// The same for an a whose old value may be secret: a short a is cleared
// before it grows, so that nothing is copied by its count.
int store_masked_fresh(BIGNUM* a, const Limb* l, int nl) noexcept;
// r = a - b mod N for a, b < N.
void sub_mod(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept;
// r = 2^k r mod N for r < N, by k doublings; t: nl limbs.
void shl_mod(Limb* r, int k, const Modulus& m, Limb* t) noexcept;

// ---- division (limbs_div.cc) -------------------------------------------
// r[0 .. n) = a << s, returning the bits shifted out, and r[0 .. n) = a >>
// s, with 0 <= s < 64 and n >= 1; r may be a.
inline Limb shift_left(Limb* r, const Limb* a, int n, int s) noexcept {
  if (s == 0) {
    for (int i = 0; i < n; i++) r[i] = a[i];
    return 0;
  }
  const Limb out = a[n - 1] >> (64 - s);
  for (int i = n - 1; i > 0; i--) r[i] = (a[i] << s) | (a[i - 1] >> (64 - s));
  r[0] = a[0] << s;
  return out;
}

inline void shift_right(Limb* r, const Limb* a, int n, int s) noexcept {
  if (s == 0) {
    for (int i = 0; i < n; i++) r[i] = a[i];
    return;
  }
  for (int i = 0; i + 1 < n; i++) r[i] = (a[i] >> s) | (a[i + 1] << (64 - s));
  r[n - 1] = a[n - 1] >> s;
}

// The reciprocal of d (nd >= 1 limbs, its top bit set) that divide takes.
Limb reciprocal(const Limb* d, int nd) noexcept;
// q[0 .. nn - nd) = floor(n / d) and n[0 .. nd) = the remainder (the limbs
// of n above it are left undefined) for d of nd >= 1 limbs with its top bit
// set and n of nn > nd limbs whose top nd limbs are below d; v =
// reciprocal(d, nd).
void divide(Limb* q, Limb* n, int nn, const Limb* d, int nd, Limb v) noexcept;

// ---- gcd and inverses at a fixed width (limbs_gcd.cc) ----------------------
// The instructions and addresses of these follow n only, never the values.
// All ones when a (n limbs) is 1, when a equals b.
Limb is_one_n(const Limb* a, int n) noexcept;
Limb equal_n(const Limb* a, const Limb* b, int n) noexcept;
// The number of trailing zero bits of a (64 n when a is zero).
unsigned ctz_n(const Limb* a, int n) noexcept;
// r = a >> s, and r = a << s (the bits above 64 n dropped), for a secret s
// of at most 64 n; r may be a; t: n limbs.
void shift_right_secret(Limb* r, const Limb* a, int n, unsigned s, Limb* t) noexcept;
void shift_left_secret(Limb* r, const Limb* a, int n, unsigned s, Limb* t) noexcept;
// 128 n steps of the binary Euclidean algorithm on u (odd) and v: v ends 0
// and u as gcd(u, v).  With m (odd, n limbs; u = m on entry, x and y below
// m) it keeps u = x V and v = y V mod m, V being v's starting value; m null
// leaves x, y and t alone.  t: n limbs.
void gcd_steps(Limb* u, Limb* v, Limb* x, Limb* y, const Limb* m, int n, Limb* t) noexcept;
// x = v^-1 mod m for an odd m (n limbs each, v any value): all ones when
// gcd(m, v) = 1, else zero with x unspecified.  m = 1 gives x = 0.  t: 4 n
// limbs.
Limb inverse_odd(Limb* x, const Limb* m, const Limb* v, int n, Limb* t) noexcept;
// x = b^-1 mod 2^(64 n) for an odd b (n limbs).  t: 3 n limbs.
void inverse_2adic(Limb* x, const Limb* b, int n, Limb* t) noexcept;

// ---- exponentiation on limbs (limbs_exp.cc) --------------------------------
// The constant-time form: r = b^p mod N for b < R (both plain, not in
// Montgomery form), p read from its pwords words, whatever their values; rr
// is R^2 mod N.  The products, the table reads and the addresses follow nl,
// N's word count and pwords only (a fixed window over all pwords 32 bits, the
// table of powers read by a masked pass over every entry).  `scratch` holds
// exp_consttime_bytes(m.nw, pwords) bytes; r must not overlap b.
size_t exp_consttime_bytes(int nw, int pwords) noexcept;
void exp_consttime(Limb* r, const Limb* b, const BN_ULONG* p, int pwords, const Modulus& m,
                   const Limb* rr, void* scratch) noexcept;
// The window of the constant-time form for an exponent of pwords words: its
// windows start at the multiples of this many bits.
int exp_consttime_window(int pwords) noexcept;
// exp_consttime that shows its way to watch(arg, x, pos), x being b^(p >>
// pos) R mod N where p's bits from pos up to the next multiple of the window
// are all zero: called after the top window (pos its low bit), after each
// squaring of a window but the last (pos the bit below those squared in),
// and after each window's product (pos its low bit); the calls and their
// positions follow pwords only.
using ExpWatch = void (*)(void* arg, const Limb* x, int pos) noexcept;
void exp_consttime_watch(Limb* r, const Limb* b, const BN_ULONG* p, int pwords, const Modulus& m,
                         const Limb* rr, void* scratch, ExpWatch watch, void* arg) noexcept;
// The public-exponent form: r = b^e mod N for b < R (plain), e read from its
// ewords words, by squarings and products by b R that follow e's bits (the
// last product, by b itself, leaves Montgomery form).  Constant time in b and
// N, not in e.  t: 3 nl limbs; r must not overlap b.
void exp_public(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                const Limb* rr, Limb* t) noexcept;

// The public-exponent form for a public base too, in radix 2^52 with AVX-512
// IFMA (limbs_ifma.cc), for b < N: r = b^e mod N, rr = R^2 mod N as for
// exp_public.  False, r untouched, where the processor lacks IFMA ("ifma" in
// MORVANE_NO_HWCRYPT turns it off) or N has fewer than 16 words or more than
// 4158 bits.  Not constant time (nor checked for it): public values only.
bool exp_public_ifma(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                     const Limb* rr) noexcept;
// The same by a sliding window of `window` bits (at most 5: 16 odd powers of
// b) for N of more than 32 words (1024 bits; at 1024 the unrolled 64-bit
// products measured faster) to 4158 bits, BN_mod_exp_mont's form: r =
// b^e mod N for b < N and e of at least one bit.  The products follow e's
// bits, never b's or N's values (the last subtraction is by a mask), and
// the powers are wiped; false, r untouched, where this form does not serve.
bool exp_window_ifma(Limb* r, const Limb* b, const BN_ULONG* e, int ewords, const Modulus& m,
                     const Limb* rr, int window) noexcept;

// Whether mul_square_ifma serves n limbs: the processor has AVX-512 IFMA
// and VBMI ("ifma" or "vbmi" in MORVANE_NO_HWCRYPT turns it off) and n is 17
// (below, the 64-bit kernels measured faster) to 65.
bool mul_ifma_serves(int n) noexcept;
// r[0 .. 2n) = a b (a == b for a square, which takes half the products) in
// radix 2^52 where mul_ifma_serves(n); false, r untouched, elsewhere.  r
// overlaps neither.  Past that choice, the same instructions and addresses
// for every value.
bool mul_square_ifma(Limb* r, const Limb* a, const Limb* b, int n) noexcept;

// Whether mont_mul_ifma serves N: the processor has AVX-512 IFMA and VBMI
// ("ifma" or "vbmi" in MORVANE_NO_HWCRYPT turns it off) and N has 32 words
// (1024 bits; below, the unrolled 64-bit products measured faster) to 4158
// bits.  It follows those only.
bool mont_ifma_serves(const Modulus& m) noexcept;
// r[0 .. nl) = a b R^-1 mod N (R = 2^(32 nw), fully reduced) in radix 2^52,
// for a and b of nl limbs, one of them below N, where mont_ifma_serves(m);
// false, r untouched, where neither is.  r may be a or b.  Past that choice,
// the same instructions and addresses for every value.
bool mont_mul_ifma(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept;

// Limb storage: on the stack up to Inline limbs, else from CRYPTO_malloc;
// wiped when it goes.  ok() is false after a failed allocation (pushed as
// "malloc failure").
template <int Inline>
class Buffer {
 public:
  explicit Buffer(size_t limbs) noexcept;
  ~Buffer();
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  bool ok() const noexcept { return p_ != nullptr; }
  Limb* get() noexcept { return p_; }

 private:
  Limb local_[Inline];
  Limb* p_;
  size_t n_;
};

// Allocation behind Buffer (null and an error on the queue on failure) and
// its release, wiping first.
Limb* allocate(size_t limbs) noexcept;
void release(Limb* p, size_t limbs, bool heap) noexcept;

template <int Inline>
Buffer<Inline>::Buffer(size_t limbs) noexcept
    : p_(limbs <= Inline ? local_ : allocate(limbs)), n_(limbs) {}

template <int Inline>
Buffer<Inline>::~Buffer() {
  if (p_ != nullptr) release(p_, n_, p_ != local_);
}

}  // namespace morvane::bn::limb

namespace morvane::bn {
// The context's modulus as limbs, loaded into n (count(N's words) limbs).
limb::Modulus limb_modulus(const BN_MONT_CTX* mont, limb::Limb* n) noexcept;
}  // namespace morvane::bn

#endif  // MORVANE_CRYPTO_BN_LIMBS_H
