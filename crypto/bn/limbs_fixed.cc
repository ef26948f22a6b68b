// Montgomery products of fixed sizes on the MULX/ADCX/ADOX kernels: 8, 16,
// 24 and 32 limbs (512 to 2048-bit moduli of an even word count), each row
// one straight run of instructions, the squares by their triangle, and the
// reduction with its carries, all unrolled for the size.
//
// Implementation notes: a row r[0 .. L) += a[0 .. L) w is one asm statement
// whose two carry chains (CF adds the low halves of the products, OF the
// high half of the limb before) stay live from the first limb to the last;
// the assembler repeats the pair of limb steps (.rept) for the row's length,
// a compile-time constant, with .Lmvo as the running byte offset.  Nothing
// in these kernels branches or picks an address on the values: the sizes,
// the offsets and the instruction stream are fixed by N alone.

#include <stdint.h>

#include <utility>

#include "bn/limbs.h"
#include "internal/ct.h"

namespace morvane::bn::limb {

#if defined(__x86_64__)

namespace {

using u128 = unsigned __int128;

// One limb of a row at byte offset `off`: lo:hout = a[j] w; r[j] += lo (CF
// chain) + hin (OF chain).
#define MORVANE_FIXED_STEP(off, hin, hout)     \
  "mulx " off "(%[a]), %[lo], %[" hout "]\n\t" \
  "movq " off "(%[r]), %[t]\n\t"               \
  "adcx %[lo], %[t]\n\t"                       \
  "adox %[" hin "], %[t]\n\t"                  \
  "movq %[t], " off "(%[r])\n\t"

// %c[pairs] pairs of limb steps from the byte offset .Lmvo on, the high
// half coming in and going out in hb.
#define MORVANE_FIXED_PAIRS                  \
  ".rept %c[pairs]\n\t"                      \
  MORVANE_FIXED_STEP(".Lmvo", "hb", "ha")    \
  MORVANE_FIXED_STEP(".Lmvo+8", "ha", "hb")  \
  ".set .Lmvo, .Lmvo+16\n\t"                 \
  ".endr\n\t"

// r[0 .. L) += a[0 .. L) w; returns the carry limb (the high half of the
// last product with both chains' carries).
template <int L>
inline Limb row(Limb* r, const Limb* a, Limb w) noexcept {
  static_assert(L >= 1);
  Limb lo, ha, hb, t;
  __asm__(
      "xorl %k[hb], %k[hb]\n\t"  // the first high half is zero; CF = OF = 0
      ".set .Lmvo, 0\n\t"
      ".if %c[odd]\n\t"  //
      MORVANE_FIXED_STEP(".Lmvo", "hb", "ha")  //
      "movq %[ha], %[hb]\n\t"
      ".set .Lmvo, 8\n\t"
      ".endif\n\t"
      MORVANE_FIXED_PAIRS
      "movl $0, %k[t]\n\t"
      "adcx %[t], %[hb]\n\t"
      "adox %[t], %[hb]\n\t"
      : [lo] "=&r"(lo), [ha] "=&r"(ha), [hb] "=&r"(hb), [t] "=&r"(t),
        "+m"(*reinterpret_cast<Limb(*)[L]>(r))
      : [a] "r"(a), [r] "r"(r), "d"(w), "m"(*reinterpret_cast<const Limb(*)[L]>(a)),
        [odd] "n"(L & 1), [pairs] "n"(L / 2)
      : "cc");
  return hb;
}

// r[0 .. L) = a[0 .. L) w (r is only written); returns the high limb.
template <int L>
inline Limb first_row(Limb* r, const Limb* a, Limb w) noexcept {
  static_assert(L >= 1);
  Limb lo, ha, hb;
  __asm__(
      "xorl %k[hb], %k[hb]\n\t"  // CF = 0
      ".set .Lmvo, 0\n\t"
      ".if %c[odd]\n\t"
      "mulx 0(%[a]), %[lo], %[ha]\n\t"
      "movq %[lo], 0(%[r])\n\t"
      "movq %[ha], %[hb]\n\t"
      ".set .Lmvo, 8\n\t"
      ".endif\n\t"
      ".rept %c[pairs]\n\t"
      "mulx .Lmvo(%[a]), %[lo], %[ha]\n\t"
      "adcx %[hb], %[lo]\n\t"
      "movq %[lo], .Lmvo(%[r])\n\t"
      "mulx .Lmvo+8(%[a]), %[lo], %[hb]\n\t"
      "adcx %[ha], %[lo]\n\t"
      "movq %[lo], .Lmvo+8(%[r])\n\t"
      ".set .Lmvo, .Lmvo+16\n\t"
      ".endr\n\t"
      "movl $0, %k[lo]\n\t"
      "adcx %[lo], %[hb]\n\t"
      : [lo] "=&r"(lo), [ha] "=&r"(ha), [hb] "=&r"(hb), "=m"(*reinterpret_cast<Limb(*)[L]>(r))
      : [a] "r"(a), [r] "r"(r), "d"(w),
        "m"(*reinterpret_cast<const Limb(*)[L]>(a)), [odd] "n"(L & 1), [pairs] "n"(L / 2)
      : "cc");
  return hb;
}

// One row of the reduction: r[0 .. L) += a[0 .. L) w, and its carry with
// the carry bit *carry of the rows before added into r[L], whose own carry
// bit becomes *carry.  Also sets *next to the new r[1] times n0, the
// multiplier of the row after it, from the register that holds it (not
// through memory).
template <int L>
inline void reduction_row(Limb* r, const Limb* a, Limb w, Limb n0, Limb* next,
                          Limb* carry) noexcept {
  static_assert(L >= 2 && L % 2 == 0);
  Limb lo, ha, hb, t, second, c = *carry;
  __asm__(
      "xorl %k[hb], %k[hb]\n\t"
      MORVANE_FIXED_STEP("0", "hb", "ha")  //
      MORVANE_FIXED_STEP("8", "ha", "hb")  //
      "movq %[t], %[second]\n\t"
      ".set .Lmvo, 16\n\t"
      MORVANE_FIXED_PAIRS
      // r[L] + the last high half + CF (the CF chain) + the carry bit in
      // (the OF chain); the sum is below 2^65, so at most one chain carries.
      "movq %c[top](%[r]), %[t]\n\t"
      "adcx %[t], %[hb]\n\t"
      "adox %[c], %[hb]\n\t"
      "movq %[hb], %c[top](%[r])\n\t"
      "movl $0, %k[c]\n\t"
      "movl $0, %k[t]\n\t"
      "adcx %[t], %[c]\n\t"
      "adox %[t], %[c]\n\t"
      "imulq %[n0], %[second]\n\t"
      : [lo] "=&r"(lo), [ha] "=&r"(ha), [hb] "=&r"(hb), [t] "=&r"(t), [second] "=&r"(second),
        [c] "+r"(c), "+m"(*reinterpret_cast<Limb(*)[L + 1]>(r))
      : [a] "r"(a), [r] "r"(r), "d"(w), [n0] "r"(n0),
        "m"(*reinterpret_cast<const Limb(*)[L]>(a)), [pairs] "n"(L / 2 - 1), [top] "n"(8 * L)
      : "cc");
  *next = second;
  *carry = c;
}

// r = u - n over L limbs; returns all ones when it borrows.
template <int L>
inline Limb sub_borrow(Limb* r, const Limb* u, const Limb* n) noexcept {
  Limb t, mask = 0;  // defined before the sbb that turns CF into a mask
  __asm__(
      "movq 0(%[u]), %[t]\n\t"
      "subq 0(%[n]), %[t]\n\t"
      "movq %[t], 0(%[r])\n\t"
      ".set .Lmvo, 8\n\t"
      ".rept %c[rest]\n\t"
      "movq .Lmvo(%[u]), %[t]\n\t"
      "sbbq .Lmvo(%[n]), %[t]\n\t"
      "movq %[t], .Lmvo(%[r])\n\t"
      ".set .Lmvo, .Lmvo+8\n\t"
      ".endr\n\t"
      "sbbq %[mask], %[mask]\n\t"
      : [t] "=&r"(t), [mask] "+r"(mask), "=m"(*reinterpret_cast<Limb(*)[L]>(r))
      : [u] "r"(u), [n] "r"(n), [r] "r"(r), "m"(*reinterpret_cast<const Limb(*)[L]>(u)),
        "m"(*reinterpret_cast<const Limb(*)[L]>(n)), [rest] "n"(L - 1)
      : "cc");
  return mask;
}

// t[0 .. 2N) = a b.
template <int N>
inline void mul(Limb* t, const Limb* a, const Limb* b) noexcept {
  t[N] = first_row<N>(t, a, b[0]);
  for (int i = 1; i < N; i++) t[i + N] = row<N>(t + i, a, b[i]);
}

// t[0 .. 2N) = a^2: the products above the diagonal once (row i is a[i]
// a[i+1 .. N) at 2i + 1, its carry the first word written at i + N; the
// first row writes t[1 .. N], and every later row adds within what the rows
// before it wrote), then doubled with the squares of the diagonal added.
template <int N, size_t... I>
inline void triangle(Limb* t, const Limb* a, std::index_sequence<I...>) noexcept {
  ((t[I + 1 + N] = row<N - 2 - static_cast<int>(I)>(t + 2 * I + 3, a + I + 2, a[I + 1])), ...);
}

template <int N>
inline void sqr(Limb* t, const Limb* a) noexcept {
  t[0] = t[2 * N - 1] = 0;
  t[N] = first_row<N - 1>(t + 1, a + 1, a[0]);
  triangle<N>(t, a, std::make_index_sequence<N - 2>());
  // t = 2 t + the squares: CF doubles, OF adds a[i]^2; a^2 < 2^(128 N), so
  // both chains end without a carry.
  Limb lo, hi, x0, x1, d;
  __asm__(
      "xorl %k[x0], %k[x0]\n\t"
      ".set .Lmvo, 0\n\t"
      ".rept %c[n]\n\t"
      "movq .Lmvo(%[a]), %%rdx\n\t"
      "mulx %%rdx, %[lo], %[hi]\n\t"
      "movq 2*.Lmvo(%[t]), %[x0]\n\t"
      "movq 2*.Lmvo+8(%[t]), %[x1]\n\t"
      "adcx %[x0], %[x0]\n\t"
      "adox %[lo], %[x0]\n\t"
      "adcx %[x1], %[x1]\n\t"
      "adox %[hi], %[x1]\n\t"
      "movq %[x0], 2*.Lmvo(%[t])\n\t"
      "movq %[x1], 2*.Lmvo+8(%[t])\n\t"
      ".set .Lmvo, .Lmvo+8\n\t"
      ".endr\n\t"
      : [lo] "=&r"(lo), [hi] "=&r"(hi), [x0] "=&r"(x0), [x1] "=&r"(x1), "=&d"(d),
        "+m"(*reinterpret_cast<Limb(*)[2 * N]>(t))
      : [a] "r"(a), [t] "r"(t), "m"(*reinterpret_cast<const Limb(*)[N]>(a)), [n] "n"(N)
      : "cc");
}

// r = t R^-1 mod n for t < n R (R = 2^(64 N)); t is overwritten.  Row i
// clears t[i] and its carry, with the carry bit of the rows before, goes
// into t[i + N]; the value t[N .. 2N) + carry R is below 2n, and n is
// subtracted unless it is below n (chosen by a mask).
template <int N>
inline void redc(Limb* r, Limb* t, const Limb* n, Limb n0) noexcept {
  Limb carry = 0, m = t[0] * n0;
  for (int i = 0; i < N; i++) reduction_row<N>(t + i, n, m, n0, &m, &carry);
  const Limb keep = sub_borrow<N>(r, t + N, n) & (carry - 1);
  for (int i = 0; i < N; i++) r[i] = ct::select(keep, t[i + N], r[i]);
}

template <int N>
void mont_mul_n(Limb* r, const Limb* a, const Limb* b, const Limb* n, Limb n0, Limb* t) noexcept {
  if (a == b) {
    sqr<N>(t, a);
  } else {
    mul<N>(t, a, b);
  }
  redc<N>(r, t, n, n0);
}

template <int N>
void redc_n(Limb* r, Limb* t, const Limb* n, Limb n0) noexcept {
  redc<N>(r, t, n, n0);
}

#undef MORVANE_FIXED_PAIRS
#undef MORVANE_FIXED_STEP

}  // namespace

bool fixed_mont_mul(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept {
  if (m.nw != 2 * m.nl || !adx_kernel()) return false;
  switch (m.nl) {
    case 8:
      mont_mul_n<8>(r, a, b, m.n, m.n0, t);
      return true;
    case 16:
      mont_mul_n<16>(r, a, b, m.n, m.n0, t);
      return true;
    case 24:
      mont_mul_n<24>(r, a, b, m.n, m.n0, t);
      return true;
    case 32:
      mont_mul_n<32>(r, a, b, m.n, m.n0, t);
      return true;
    default:
      return false;
  }
}

bool fixed_redc(Limb* r, Limb* t, const Modulus& m) noexcept {
  if (m.nw != 2 * m.nl || !adx_kernel()) return false;
  switch (m.nl) {
    case 8:
      redc_n<8>(r, t, m.n, m.n0);
      return true;
    case 16:
      redc_n<16>(r, t, m.n, m.n0);
      return true;
    case 24:
      redc_n<24>(r, t, m.n, m.n0);
      return true;
    case 32:
      redc_n<32>(r, t, m.n, m.n0);
      return true;
    default:
      return false;
  }
}

#else

bool fixed_mont_mul(Limb*, const Limb*, const Limb*, const Modulus&, Limb*) noexcept {
  return false;
}
bool fixed_redc(Limb*, Limb*, const Modulus&) noexcept {
  return false;
}

#endif

}  // namespace morvane::bn::limb
