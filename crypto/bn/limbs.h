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
// also has with its row inlined.
#ifndef MORVANE_CRYPTO_BN_LIMBS_H
#define MORVANE_CRYPTO_BN_LIMBS_H

#include <stddef.h>
#include <stdint.h>

#include <morvane/bn.h>

namespace morvane::bn::limb {

using Limb = uint64_t;

// Limbs that hold `words` 32-bit words.
constexpr int count(int words) { return (words + 1) / 2; }

// l[0 .. count(nw)) = w[0 .. nw), the upper half of an odd top limb zero.
void load(Limb* l, const BN_ULONG* w, int nw) noexcept;
// w[0 .. nw) = the low nw words of l.
void store(BN_ULONG* w, const Limb* l, int nw) noexcept;

// r[0 .. n) += a[0 .. n) w; returns the carry limb.  The instructions run
// and the addresses touched depend on n only.
using MulAddFn = Limb (*)(Limb* r, const Limb* a, int n, Limb w) noexcept;
MulAddFn mul_add() noexcept;
// Whether the kernel in use is the MULX/ADCX/ADOX one.
bool adx_kernel() noexcept;

// r[0 .. na + nb) = a b by rows (no branch on the values); r must not
// overlap a or b.
void mul_rows(Limb* r, const Limb* a, int na, const Limb* b, int nb) noexcept;
// r[0 .. 2n) = a^2 by rows (each cross product once, doubled).
void sqr_rows(Limb* r, const Limb* a, int n) noexcept;
// r[0 .. 2n) = a b (or a^2 when a == b) for n-limb operands: Karatsuba from
// kKaratsuba limbs up, rows below.  Scratch of scratch_limbs(n).
constexpr int kKaratsuba = 32;
size_t scratch_limbs(int n) noexcept;
void mul_square(Limb* r, const Limb* a, const Limb* b, int n, Limb* scratch) noexcept;

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
// r may be a or b.
void mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept;

// The same two operations unrolled for moduli of 8, 16, 24 or 32 limbs and
// an even word count, on the MULX/ADCX/ADOX kernel (limbs_fixed.cc): false,
// with nothing done, for any other modulus or kernel.
bool fixed_mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept;
bool fixed_redc(Limb* r, Limb* t, const Modulus& m) noexcept;

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
// r = a - b mod N for a, b < N.
void sub_mod(Limb* r, const Limb* a, const Limb* b, const Modulus& m) noexcept;
// r = 2^k r mod N for r < N, by k doublings; t: nl limbs.
void shl_mod(Limb* r, int k, const Modulus& m, Limb* t) noexcept;

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
