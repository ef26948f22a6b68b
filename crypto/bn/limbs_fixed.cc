// Products and Montgomery products of fixed sizes.  On the MULX/ADCX/ADOX
// kernel: 2 to 8, 16, 24 and 32 limbs (moduli of an even word count), each
// row one straight run of instructions, the squares by their triangle, and
// the reduction with its carries, all unrolled for the size; four limbs
// (256 bits) keep the whole product in registers.  In plain C: 1 to 8 limbs
// by product scanning (limbs.h's mont_mul_scan for the Montgomery product).
//
// Implementation notes: a row r[0 .. L) += a[0 .. L) w is one asm statement
// whose two carry chains (CF adds the low halves of the products, OF the
// high half of the limb before) stay live from the first limb to the last;
// the assembler repeats the pair of limb steps (.rept) for the row's length,
// a compile-time constant, with .Lmvo as the running byte offset.  Nothing
// in these kernels branches or picks an address on the values: the sizes,
// the offsets and the instruction stream are fixed by N alone.

#include <stdint.h>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <utility>

#include "bn/limbs.h"
#include "internal/ct.h"

namespace morvane::bn::limb {

#if defined(__x86_64__)

namespace {

using u128 = unsigned __int128;

// The four-limb kernels below name the limbs they read or write through a
// pointer as "m" operands, so that the optimizer keeps the stores before
// them and the loads after them in place and other values in registers
// across them.  Without optimization each such operand takes a register of
// its own for its address, and with their ten or more register operands
// those statements would ask for more registers than there are: there they
// declare a "memory" clobber instead (the same instructions either way).
#if defined(__OPTIMIZE__)
#define MORVANE_ASM_MEM(...) , __VA_ARGS__
#define MORVANE_ASM_MEMORY_CLOBBER
#else
#define MORVANE_ASM_MEM(...)
#define MORVANE_ASM_MEMORY_CLOBBER , "memory"
#endif

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
  static_assert(L >= 2);
  Limb lo, ha, hb, t, second, c = *carry;
  __asm__(
      "xorl %k[hb], %k[hb]\n\t"
      MORVANE_FIXED_STEP("0", "hb", "ha")  //
      MORVANE_FIXED_STEP("8", "ha", "hb")  //
      "movq %[t], %[second]\n\t"
      ".set .Lmvo, 16\n\t"
      ".if %c[odd]\n\t"  //
      MORVANE_FIXED_STEP(".Lmvo", "hb", "ha")  //
      "movq %[ha], %[hb]\n\t"
      ".set .Lmvo, 24\n\t"
      ".endif\n\t"
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
        "m"(*reinterpret_cast<const Limb(*)[L]>(a)), [odd] "n"(L & 1), [pairs] "n"(L / 2 - 1),
        [top] "n"(8 * L)
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

// t[0 .. 2N) = a b.  This, sqr() and triangle() are always inlined: the
// Montgomery products and the plain ones (fixed_rows) each take their own
// copy, as the Montgomery products had them before the plain ones used them
// too (with a call in the middle, the 1024-bit exponentiation measured 3 to
// 5 % slower).
template <int N>
[[gnu::always_inline]] inline void mul(Limb* t, const Limb* a, const Limb* b) noexcept {
  t[N] = first_row<N>(t, a, b[0]);
  for (int i = 1; i < N; i++) t[i + N] = row<N>(t + i, a, b[i]);
}

// t[0 .. 2N) = a^2: the products above the diagonal once (row i is a[i]
// a[i+1 .. N) at 2i + 1, its carry the first word written at i + N; the
// first row writes t[1 .. N], and every later row adds within what the rows
// before it wrote), then doubled with the squares of the diagonal added.
template <int N, size_t... I>
[[gnu::always_inline]] inline void triangle(Limb* t, const Limb* a,
                                            std::index_sequence<I...>) noexcept {
  ((t[I + 1 + N] = row<N - 2 - static_cast<int>(I)>(t + 2 * I + 3, a + I + 2, a[I + 1])), ...);
}

template <int N>
[[gnu::always_inline]] inline void sqr(Limb* t, const Limb* a) noexcept {
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
void mont_mul_n(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept {
  if (a == b) {
    sqr<N>(t, a);
  } else {
    mul<N>(t, a, b);
  }
  redc<N>(r, t, m.n, m.n0);
}

template <int N>
void redc_n(Limb* r, Limb* t, const Modulus& m) noexcept {
  redc<N>(r, t, m.n, m.n0);
}

template <int N>
void mul_n(Limb* r, const Limb* a, const Limb* b) noexcept {
  if (a == b) {
    sqr<N>(r, a);
  } else {
    mul<N>(r, a, b);
  }
}

// ---- four limbs in registers ----------------------------------------------
// The product or square and the reduction of a 256-bit modulus keep the
// eight limbs of the product in registers from the first row to the final
// subtraction: no row reads what the row before stored.

// The eight limbs of a four-limb product.
struct Wide {
  Limb t0, t1, t2, t3, t4, t5, t6, t7;
};

// The asm outputs of the eight limbs of w (as `c`) and of lo and hi.
#define MORVANE_WIDE_OPERANDS(c)                                                \
  [t0] c(w.t0), [t1] c(w.t1), [t2] c(w.t2), [t3] c(w.t3), [t4] c(w.t4), [t5] c(w.t5), \
      [t6] c(w.t6), [t7] c(w.t7), [lo] "=&r"(lo), [hi] "=&r"(hi)

// One step of a row of a b[i]: lo:hi = a[j] b[i]; the low half on CF, the
// high half on OF.
#define MORVANE_W4_STEP(off, lo_to, hi_to)  \
  "mulx " off "(%[a]), %[lo], %[hi]\n\t"    \
  "adcx %[lo], %[" lo_to "]\n\t"            \
  "adox %[hi], %[" hi_to "]\n\t"
// Row i (b[i] at byte offset `boff`) into t_i .. t_{i+4}, t_{i+4} fresh.
#define MORVANE_W4_ROW(boff, x0, x1, x2, x3, x4) \
  "movq " boff "(%[b]), %%rdx\n\t"               \
  "xorl %k[" x4 "], %k[" x4 "]\n\t"              \
  MORVANE_W4_STEP("0", x0, x1) MORVANE_W4_STEP("8", x1, x2) \
  MORVANE_W4_STEP("16", x2, x3) MORVANE_W4_STEP("24", x3, x4) \
  "movl $0, %k[lo]\n\t"                          \
  "adcx %[lo], %[" x4 "]\n\t"

// The four limbs at a and b are read as bytes (char aliases any type), so
// a and b may be the words of a BIGNUM.
inline Wide mul4(const void* a, const void* b) noexcept {
  Wide w;
  Limb lo, hi;
  __asm__(
      "movq (%[b]), %%rdx\n\t"
      "mulx (%[a]), %[t0], %[t1]\n\t"
      "mulx 8(%[a]), %[lo], %[t2]\n\t"
      "addq %[lo], %[t1]\n\t"
      "mulx 16(%[a]), %[lo], %[t3]\n\t"
      "adcq %[lo], %[t2]\n\t"
      "mulx 24(%[a]), %[lo], %[t4]\n\t"
      "adcq %[lo], %[t3]\n\t"
      "adcq $0, %[t4]\n\t"  //
      MORVANE_W4_ROW("8", "t1", "t2", "t3", "t4", "t5")
      MORVANE_W4_ROW("16", "t2", "t3", "t4", "t5", "t6")
      MORVANE_W4_ROW("24", "t3", "t4", "t5", "t6", "t7")
      : MORVANE_WIDE_OPERANDS("=&r")
      : [a] "r"(a), [b] "r"(b)
        MORVANE_ASM_MEM("m"(*static_cast<const unsigned char(*)[32]>(a)),
                        "m"(*static_cast<const unsigned char(*)[32]>(b)))
      : "rdx", "cc" MORVANE_ASM_MEMORY_CLOBBER);
  return w;
}
#undef MORVANE_W4_ROW
#undef MORVANE_W4_STEP

// a^2: the six cross products once, then doubled with the four squares
// added.
inline Wide sqr4(const void* a) noexcept {
  Wide w;
  Limb lo, hi;
  __asm__(
      "movq (%[a]), %%rdx\n\t"
      "mulx 8(%[a]), %[t1], %[t2]\n\t"
      "mulx 16(%[a]), %[lo], %[t3]\n\t"
      "addq %[lo], %[t2]\n\t"
      "mulx 24(%[a]), %[lo], %[t4]\n\t"
      "adcq %[lo], %[t3]\n\t"
      "adcq $0, %[t4]\n\t"
      "movq 8(%[a]), %%rdx\n\t"
      "mulx 16(%[a]), %[lo], %[hi]\n\t"
      "mulx 24(%[a]), %[t6], %[t5]\n\t"
      "addq %[lo], %[t3]\n\t"
      "adcq %[hi], %[t4]\n\t"
      "adcq $0, %[t5]\n\t"
      "addq %[t6], %[t4]\n\t"
      "adcq $0, %[t5]\n\t"
      "movq 16(%[a]), %%rdx\n\t"
      "mulx 24(%[a]), %[lo], %[t6]\n\t"
      "addq %[lo], %[t5]\n\t"
      "adcq $0, %[t6]\n\t"
      // Doubled (CF) with the squares on the diagonal added (OF), in one
      // pass; t7 starts at zero and takes the top bit.
      "movl $0, %k[t7]\n\t"
      "movq (%[a]), %%rdx\n\t"
      "mulx %%rdx, %[t0], %[hi]\n\t"
      "xorl %k[lo], %k[lo]\n\t"
      "adcx %[t1], %[t1]\n\t"
      "adox %[hi], %[t1]\n\t"
      "movq 8(%[a]), %%rdx\n\t"
      "mulx %%rdx, %[lo], %[hi]\n\t"
      "adcx %[t2], %[t2]\n\t"
      "adox %[lo], %[t2]\n\t"
      "adcx %[t3], %[t3]\n\t"
      "adox %[hi], %[t3]\n\t"
      "movq 16(%[a]), %%rdx\n\t"
      "mulx %%rdx, %[lo], %[hi]\n\t"
      "adcx %[t4], %[t4]\n\t"
      "adox %[lo], %[t4]\n\t"
      "adcx %[t5], %[t5]\n\t"
      "adox %[hi], %[t5]\n\t"
      "movq 24(%[a]), %%rdx\n\t"
      "mulx %%rdx, %[lo], %[hi]\n\t"
      "adcx %[t6], %[t6]\n\t"
      "adox %[lo], %[t6]\n\t"
      "adcx %[t7], %[t7]\n\t"
      "adox %[hi], %[t7]\n\t"
      : MORVANE_WIDE_OPERANDS("=&r")
      : [a] "r"(a) MORVANE_ASM_MEM("m"(*static_cast<const unsigned char(*)[32]>(a)))
      : "rdx", "cc" MORVANE_ASM_MEMORY_CLOBBER);
  return w;
}

// ---- four limbs without ADX ----------------------------------------------
// The same products by MUL alone (every x86-64), for the kernel without
// ADX.  GCC's form of the product scanning in C passes the 128-bit sums
// through the stack.  The product scans too, the eight limbs of the result
// being the column accumulators (column k adds into t_k, t_{k+1} and
// t_{k+2}, zeroed as the column starts).

// The eight limbs of w as asm outputs.
#define MORVANE_PLAIN_WIDE                                                             \
  [t0] "=&r"(w.t0), [t1] "=&r"(w.t1), [t2] "=&r"(w.t2), [t3] "=&r"(w.t3), [t4] "=&r"(w.t4), \
      [t5] "=&r"(w.t5), [t6] "=&r"(w.t6), [t7] "=&r"(w.t7)
// Column x0, x1, x2 += a[i] b[j] (byte offsets `ai` and `bj`).
#define MORVANE_P4_ADD(ai, bj, x0, x1, x2) \
  "movq " ai "(%[a]), %%rax\n\t"           \
  "mulq " bj "(%[b])\n\t"                  \
  "addq %%rax, %[" x0 "]\n\t"              \
  "adcq %%rdx, %[" x1 "]\n\t"              \
  "adcq $0, %[" x2 "]\n\t"
// The column's first product into x0, x1 (x2 zeroed), and the last one,
// whose sum needs no third limb.
#define MORVANE_P4_FIRST(ai, bj, x0, x1, x2) \
  "movq " ai "(%[a]), %%rax\n\t"             \
  "mulq " bj "(%[b])\n\t"                    \
  "movq %%rax, %[" x0 "]\n\t"                \
  "movq %%rdx, %[" x1 "]\n\t"                \
  "xorl %k[" x2 "], %k[" x2 "]\n\t"
#define MORVANE_P4_LAST(ai, bj, x0, x1) \
  "movq " ai "(%[a]), %%rax\n\t"        \
  "mulq " bj "(%[b])\n\t"               \
  "addq %%rax, %[" x0 "]\n\t"           \
  "adcq %%rdx, %[" x1 "]\n\t"
#define MORVANE_P4_ZERO(x) "xorl %k[" x "], %k[" x "]\n\t"

inline Wide mul4_plain(const void* a, const void* b) noexcept {
  Wide w;
  __asm__(
      MORVANE_P4_FIRST("0", "0", "t0", "t1", "t2")
      MORVANE_P4_ZERO("t3")
      MORVANE_P4_ADD("0", "8", "t1", "t2", "t3") MORVANE_P4_ADD("8", "0", "t1", "t2", "t3")
      MORVANE_P4_ZERO("t4")
      MORVANE_P4_ADD("0", "16", "t2", "t3", "t4") MORVANE_P4_ADD("8", "8", "t2", "t3", "t4")
      MORVANE_P4_ADD("16", "0", "t2", "t3", "t4")
      MORVANE_P4_ZERO("t5")
      MORVANE_P4_ADD("0", "24", "t3", "t4", "t5") MORVANE_P4_ADD("8", "16", "t3", "t4", "t5")
      MORVANE_P4_ADD("16", "8", "t3", "t4", "t5") MORVANE_P4_ADD("24", "0", "t3", "t4", "t5")
      MORVANE_P4_ZERO("t6")
      MORVANE_P4_ADD("8", "24", "t4", "t5", "t6") MORVANE_P4_ADD("16", "16", "t4", "t5", "t6")
      MORVANE_P4_ADD("24", "8", "t4", "t5", "t6")
      MORVANE_P4_ZERO("t7")
      MORVANE_P4_ADD("16", "24", "t5", "t6", "t7") MORVANE_P4_ADD("24", "16", "t5", "t6", "t7")
      MORVANE_P4_LAST("24", "24", "t6", "t7")
      : MORVANE_PLAIN_WIDE
      : [a] "r"(a), [b] "r"(b)
        MORVANE_ASM_MEM("m"(*static_cast<const unsigned char(*)[32]>(a)),
                        "m"(*static_cast<const unsigned char(*)[32]>(b)))
      : "rax", "rdx", "cc" MORVANE_ASM_MEMORY_CLOBBER);
  return w;
}

// a^2: the six cross products once, in rows, doubled by one chain of
// additions, then the squares added (MUL changes the flags: the carry
// waits in a register across each of the last two).
inline Wide sqr4_plain(const void* a) noexcept {
  Wide w;
  Limb x, c;
  __asm__(
      // t1 .. t6 = the cross products.
      "movq (%[a]), %%rax\n\t"
      "mulq 8(%[a])\n\t"
      "movq %%rax, %[t1]\n\t"
      "movq %%rdx, %[t2]\n\t"
      "movq (%[a]), %%rax\n\t"
      "mulq 16(%[a])\n\t"
      "addq %%rax, %[t2]\n\t"
      "adcq $0, %%rdx\n\t"
      "movq %%rdx, %[t3]\n\t"
      "movq (%[a]), %%rax\n\t"
      "mulq 24(%[a])\n\t"
      "addq %%rax, %[t3]\n\t"
      "adcq $0, %%rdx\n\t"
      "movq %%rdx, %[t4]\n\t"
      "movq 8(%[a]), %%rax\n\t"
      "mulq 16(%[a])\n\t"
      "xorl %k[t5], %k[t5]\n\t"
      "addq %%rax, %[t3]\n\t"
      "adcq %%rdx, %[t4]\n\t"
      "adcq $0, %[t5]\n\t"
      "movq 8(%[a]), %%rax\n\t"
      "mulq 24(%[a])\n\t"
      "addq %%rax, %[t4]\n\t"
      "adcq %%rdx, %[t5]\n\t"
      "movq 16(%[a]), %%rax\n\t"
      "mulq 24(%[a])\n\t"
      "addq %%rax, %[t5]\n\t"
      "adcq $0, %%rdx\n\t"
      "movq %%rdx, %[t6]\n\t"
      // Doubled; t7 takes the top bit.
      "xorl %k[t7], %k[t7]\n\t"
      "addq %[t1], %[t1]\n\t"
      "adcq %[t2], %[t2]\n\t"
      "adcq %[t3], %[t3]\n\t"
      "adcq %[t4], %[t4]\n\t"
      "adcq %[t5], %[t5]\n\t"
      "adcq %[t6], %[t6]\n\t"
      "adcq %[t7], %[t7]\n\t"
      // The squares on the diagonal.
      "movq (%[a]), %%rax\n\t"
      "mulq %%rax\n\t"
      "movq %%rax, %[t0]\n\t"
      "movq %%rdx, %[x]\n\t"
      "movq 8(%[a]), %%rax\n\t"
      "mulq %%rax\n\t"
      "addq %[x], %[t1]\n\t"
      "adcq %%rax, %[t2]\n\t"
      "adcq %%rdx, %[t3]\n\t"
      "sbbq %[c], %[c]\n\t"
      "movq 16(%[a]), %%rax\n\t"
      "mulq %%rax\n\t"
      "negq %[c]\n\t"
      "adcq %%rax, %[t4]\n\t"
      "adcq %%rdx, %[t5]\n\t"
      "sbbq %[c], %[c]\n\t"
      "movq 24(%[a]), %%rax\n\t"
      "mulq %%rax\n\t"
      "negq %[c]\n\t"
      "adcq %%rax, %[t6]\n\t"
      "adcq %%rdx, %[t7]\n\t"
      : MORVANE_PLAIN_WIDE, [x] "=&r"(x), [c] "=&r"(c)
      : [a] "r"(a) MORVANE_ASM_MEM("m"(*static_cast<const unsigned char(*)[32]>(a)))
      : "rax", "rdx", "cc" MORVANE_ASM_MEMORY_CLOBBER);
  return w;
}
#undef MORVANE_P4_ZERO
#undef MORVANE_P4_LAST
#undef MORVANE_P4_FIRST
#undef MORVANE_P4_ADD
#undef MORVANE_PLAIN_WIDE

// One round of the reduction: t_i becomes zero, t_{i+1} .. t_{i+4} take
// t_i n0 N, the carry cin (0 to 2) of the round before goes in at t_{i+4},
// and t_i becomes the carry at t_{i+5}.
#define MORVANE_R4_STEP(off, lo_to, hi_to)  \
  "mulx " off "(%[n]), %[lo], %[hi]\n\t"    \
  "adcx %[lo], %[" lo_to "]\n\t"            \
  "adox %[hi], %[" hi_to "]\n\t"
#define MORVANE_R4_ROUND(cin, x0, x1, x2, x3, x4)             \
  "movq %[" x0 "], %%rdx\n\t"                                  \
  "imulq %[n0], %%rdx\n\t"                                     \
  "xorl %k[lo], %k[lo]\n\t"                                    \
  MORVANE_R4_STEP("0", x0, x1) MORVANE_R4_STEP("8", x1, x2)    \
  MORVANE_R4_STEP("16", x2, x3) MORVANE_R4_STEP("24", x3, x4)  \
  "movl $0, %k[lo]\n\t"                                        \
  "adcx %[" cin "], %[" x4 "]\n\t"                             \
  "adcx %[lo], %[" x0 "]\n\t"                                  \
  "adox %[lo], %[" x0 "]\n\t"

// The value after the four rounds is u = t4 .. t7 and t3 (its carry, 0 or
// 1): d = u - n into t0, t1, t2, lo, t3 all ones when u < n, and then
// r = d ^ ((u ^ d) & mask) in t0, t1, t2, lo.
#define MORVANE_R4_TAIL      \
  "movq %[t4], %[t0]\n\t"    \
  "subq (%[n]), %[t0]\n\t"   \
  "movq %[t5], %[t1]\n\t"    \
  "sbbq 8(%[n]), %[t1]\n\t"  \
  "movq %[t6], %[t2]\n\t"    \
  "sbbq 16(%[n]), %[t2]\n\t" \
  "movq %[t7], %[lo]\n\t"    \
  "sbbq 24(%[n]), %[lo]\n\t" \
  "sbbq $0, %[t3]\n\t"       \
  "xorq %[t0], %[t4]\n\t"    \
  "andq %[t3], %[t4]\n\t"    \
  "xorq %[t4], %[t0]\n\t"    \
  "xorq %[t1], %[t5]\n\t"    \
  "andq %[t3], %[t5]\n\t"    \
  "xorq %[t5], %[t1]\n\t"    \
  "xorq %[t2], %[t6]\n\t"    \
  "andq %[t3], %[t6]\n\t"    \
  "xorq %[t6], %[t2]\n\t"    \
  "xorq %[lo], %[t7]\n\t"    \
  "andq %[t3], %[t7]\n\t"    \
  "xorq %[t7], %[lo]\n\t"

// r = w R^-1 mod n (R = 2^256) for w < n R: four rounds, then n subtracted
// unless the value is below n, chosen by a mask.
inline void redc4(Limb* r, Wide w, const Limb* n, Limb n0) noexcept {
  Limb lo, hi;
  __asm__(
      MORVANE_R4_ROUND("lo", "t0", "t1", "t2", "t3", "t4")
      MORVANE_R4_ROUND("t0", "t1", "t2", "t3", "t4", "t5")
      MORVANE_R4_ROUND("t1", "t2", "t3", "t4", "t5", "t6")
      MORVANE_R4_ROUND("t2", "t3", "t4", "t5", "t6", "t7")
      MORVANE_R4_TAIL
      "movq %[t0], (%[r])\n\t"
      "movq %[t1], 8(%[r])\n\t"
      "movq %[t2], 16(%[r])\n\t"
      "movq %[lo], 24(%[r])\n\t"
      : MORVANE_WIDE_OPERANDS("+&r") MORVANE_ASM_MEM("=m"(*reinterpret_cast<Limb(*)[4]>(r)))
      : [n] "r"(n), [n0] "m"(n0), [r] "r"(r)
        MORVANE_ASM_MEM("m"(*reinterpret_cast<const Limb(*)[4]>(n)))
      : "rdx", "cc" MORVANE_ASM_MEMORY_CLOBBER);
}
#undef MORVANE_R4_ROUND
#undef MORVANE_R4_STEP

// The reduction's round without ADX: m = t_i n0, t_i .. t_{i+3} += m N with
// the carry in c (MUL changes the flags; each limb's product is added
// before the carry of the limb below, which shortens the chain from limb
// to limb), t_i becoming zero and then the carry out of t_{i+4}; the carry
// of the round before is added after.
#define MORVANE_R4P_STEP(off, x) \
  "movq %[m], %%rax\n\t"        \
  "mulq " off "(%[n])\n\t"      \
  "addq %%rax, %[" x "]\n\t"    \
  "adcq $0, %%rdx\n\t"          \
  "addq %[c], %[" x "]\n\t"     \
  "adcq $0, %%rdx\n\t"          \
  "movq %%rdx, %[c]\n\t"
#define MORVANE_R4P_ROUND(x0, x1, x2, x3, x4)                  \
  "movq %[" x0 "], %[m]\n\t"                                  \
  "imulq %[n0], %[m]\n\t"                                     \
  "movq %[m], %%rax\n\t"                                      \
  "mulq (%[n])\n\t"                                           \
  "addq %%rax, %[" x0 "]\n\t"                                 \
  "adcq $0, %%rdx\n\t"                                        \
  "movq %%rdx, %[c]\n\t"                                      \
  MORVANE_R4P_STEP("8", x1) MORVANE_R4P_STEP("16", x2)        \
  MORVANE_R4P_STEP("24", x3)                                  \
  "addq %[c], %[" x4 "]\n\t"                                  \
  "adcq $0, %[" x0 "]\n\t"
#define MORVANE_R4P_CARRY(cin, x4, x0) \
  "addq %[" cin "], %[" x4 "]\n\t"     \
  "adcq $0, %[" x0 "]\n\t"

// redc4 without ADX.
inline void redc4_plain(Limb* r, Wide w, const Limb* n, Limb n0) noexcept {
  Limb lo, hi, m, c;
  __asm__(
      MORVANE_R4P_ROUND("t0", "t1", "t2", "t3", "t4")
      MORVANE_R4P_ROUND("t1", "t2", "t3", "t4", "t5") MORVANE_R4P_CARRY("t0", "t5", "t1")
      MORVANE_R4P_ROUND("t2", "t3", "t4", "t5", "t6") MORVANE_R4P_CARRY("t1", "t6", "t2")
      MORVANE_R4P_ROUND("t3", "t4", "t5", "t6", "t7") MORVANE_R4P_CARRY("t2", "t7", "t3")
      MORVANE_R4_TAIL
      : [t0] "+&r"(w.t0), [t1] "+&r"(w.t1), [t2] "+&r"(w.t2), [t3] "+&r"(w.t3),
        [t4] "+&r"(w.t4), [t5] "+&r"(w.t5), [t6] "+&r"(w.t6), [t7] "+&r"(w.t7), [lo] "=&a"(lo),
        [hi] "=&d"(hi), [m] "=&r"(m), [c] "=&r"(c)
      : [n] "r"(n), [n0] "m"(n0) MORVANE_ASM_MEM("m"(*reinterpret_cast<const Limb(*)[4]>(n)))
      : "cc" MORVANE_ASM_MEMORY_CLOBBER);
  r[0] = w.t0;
  r[1] = w.t1;
  r[2] = w.t2;
  r[3] = lo;
}
#undef MORVANE_R4P_CARRY
#undef MORVANE_R4P_ROUND
#undef MORVANE_R4P_STEP
#undef MORVANE_R4_TAIL
#undef MORVANE_WIDE_OPERANDS

void mont_mul4(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb*) noexcept {
  redc4(r, a == b ? sqr4(a) : mul4(a, b), m.n, m.n0);
}

void mont_mul4_plain(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb*) noexcept {
  redc4_plain(r, a == b ? sqr4_plain(a) : mul4_plain(a, b), m.n, m.n0);
}

#undef MORVANE_FIXED_PAIRS
#undef MORVANE_FIXED_STEP
#undef MORVANE_ASM_MEMORY_CLOBBER
#undef MORVANE_ASM_MEM

// The unrolled kernels by limb count (none for one limb: the plain C form
// serves it).
constexpr MontMulFn kAdxMont[] = {nullptr,         nullptr,         mont_mul_n<2>,
                                  mont_mul_n<3>,   mont_mul4,       mont_mul_n<5>,
                                  mont_mul_n<6>,   mont_mul_n<7>,   mont_mul_n<8>};

MontMulFn adx_mont(int nl) noexcept {
  if (nl <= kFixedLimbs) return kAdxMont[nl];
  switch (nl) {
    case 16:
      return mont_mul_n<16>;
    case 24:
      return mont_mul_n<24>;
    case 32:
      return mont_mul_n<32>;
    default:
      return nullptr;
  }
}

using RedcFn = void (*)(Limb* r, Limb* t, const Modulus& m) noexcept;
constexpr RedcFn kAdxRedc[] = {nullptr,   nullptr,   redc_n<2>, redc_n<3>, redc_n<4>,
                               redc_n<5>, redc_n<6>, redc_n<7>, redc_n<8>};

// r[0 .. 16) = a b, or a^2 (a == b) as L^2 + 2 L H 2^256 + H^2 2^512 from
// the four-limb halves L and H: the three products in registers, 2 L H as
// shifted limbs added on one carry chain, rather than a triangle of seven
// short rows and the doubling pass over memory.
void mul8(Limb* r, const Limb* a, const Limb* b) noexcept {
  if (a != b) return mul<8>(r, a, b);
  const Wide l = sqr4(a), h = sqr4(a + 4), m = mul4(a, a + 4);
  const Limb d[9] = {m.t0 << 1,
                     m.t1 << 1 | m.t0 >> 63,
                     m.t2 << 1 | m.t1 >> 63,
                     m.t3 << 1 | m.t2 >> 63,
                     m.t4 << 1 | m.t3 >> 63,
                     m.t5 << 1 | m.t4 >> 63,
                     m.t6 << 1 | m.t5 >> 63,
                     m.t7 << 1 | m.t6 >> 63,
                     m.t7 >> 63};
  const Limb s[12] = {l.t4, l.t5, l.t6, l.t7, h.t0, h.t1, h.t2, h.t3, h.t4, h.t5, h.t6, h.t7};
  r[0] = l.t0;
  r[1] = l.t1;
  r[2] = l.t2;
  r[3] = l.t3;
  unsigned char c = 0;
  for (int i = 0; i < 12; i++) {
    unsigned long long x;
    c = _addcarry_u64(c, s[i], i < 9 ? d[i] : 0, &x);  // a^2 < 2^1024: no carry out
    r[4 + i] = x;
  }
}

using MulFn = void (*)(Limb* r, const Limb* a, const Limb* b) noexcept;
constexpr MulFn kAdxMul[] = {nullptr,  nullptr,  mul_n<2>, mul_n<3>, mul_n<4>,
                             mul_n<5>, mul_n<6>, mul_n<7>, mul8};

}  // namespace

#endif  // __x86_64__

namespace {

using u128 = unsigned __int128;

// Column sums for the plain C products: a three-limb accumulator.
struct Columns {
  Limb lo = 0, mid = 0, hi = 0;
  void add(u128 p) noexcept {
    u128 s = (static_cast<u128>(mid) << 64) | lo;
    // The carry through a register: no branch on the sum of secrets.
    hi += ct::value_barrier(static_cast<Limb>(__builtin_add_overflow(s, p, &s)));
    lo = static_cast<Limb>(s);
    mid = static_cast<Limb>(s >> 64);
  }
  Limb next() noexcept {
    const Limb out = lo;
    lo = mid;
    mid = hi;
    hi = 0;
    return out;
  }
};

// Limb i of an operand given as limbs, or as the words of a BIGNUM.
inline Limb limb_at(const Limb* a, int i) noexcept {
  return a[i];
}
inline Limb limb_at(const BN_ULONG* a, int i) noexcept {
  return a[2 * i] | static_cast<Limb>(a[2 * i + 1]) << 32;
}

// Limb i of a product into the words w[0 .. nw) (the parts that fall inside).
inline void put_limb(BN_ULONG* w, int nw, int i, Limb v) noexcept {
  if (2 * i < nw) w[2 * i] = static_cast<BN_ULONG>(v);
  if (2 * i + 1 < nw) w[2 * i + 1] = static_cast<BN_ULONG>(v >> 32);
}

// w[0 .. nw) = the low words of a b by product scanning, or of a^2 with
// each cross product formed once and added twice.
template <int N, class In>
void mul_scan(BN_ULONG* w, int nw, const In* a, const In* b) noexcept {
  Columns c;
  const bool square = a == b;
#pragma GCC unroll 16
  for (int k = 0; k < 2 * N - 1; k++) {
    const int lo = k < N ? 0 : k - N + 1, hi = k < N ? k : N - 1;
    if (square) {
#pragma GCC unroll 16
      for (int i = lo; i < k - i; i++) {
        const u128 p = static_cast<u128>(limb_at(a, i)) * limb_at(a, k - i);
        c.add(p);
        c.add(p);
      }
      if (k % 2 == 0) c.add(static_cast<u128>(limb_at(a, k / 2)) * limb_at(a, k / 2));
    } else {
#pragma GCC unroll 16
      for (int i = lo; i <= hi; i++) c.add(static_cast<u128>(limb_at(a, i)) * limb_at(b, k - i));
    }
    put_limb(w, nw, k, c.next());
  }
  put_limb(w, nw, 2 * N - 1, c.lo);
}

template <int N>
void mont_mul_scan_n(Limb* r, const Limb* a, const Limb* b, const Modulus& m, Limb* t) noexcept {
  mont_mul_scan<N>(r, a, b, m.n, m.n0, t);
}

constexpr MontMulFn kScanMont[] = {nullptr,
                                   mont_mul_scan_n<1>,
                                   mont_mul_scan_n<2>,
                                   mont_mul_scan_n<3>,
                                   mont_mul_scan_n<4>,
                                   mont_mul_scan_n<5>,
                                   mont_mul_scan_n<6>,
                                   mont_mul_scan_n<7>,
                                   mont_mul_scan_n<8>};

template <class In>
using ScanFn = void (*)(BN_ULONG* w, int nw, const In* a, const In* b) noexcept;
template <class In>
constexpr ScanFn<In> kScanMul[] = {nullptr,           mul_scan<1, In>, mul_scan<2, In>,
                                   mul_scan<3, In>,   mul_scan<4, In>, mul_scan<5, In>,
                                   mul_scan<6, In>,   mul_scan<7, In>, mul_scan<8, In>};

}  // namespace

MontMulFn mont_mul_for(const Modulus& m) noexcept {
  if (m.nw == 2 * m.nl) {
#if defined(__x86_64__)
    if (adx_kernel()) {
      if (const MontMulFn f = adx_mont(m.nl)) return f;
    } else if (m.nl == 4) {
      return mont_mul4_plain;
    }
#endif
    if (m.nl <= kFixedLimbs) return kScanMont[m.nl];
  }
  return mont_mul_rows;
}

bool fixed_rows(Limb* r, const Limb* a, const Limb* b, int n) noexcept {
#if defined(__x86_64__)
  // A square of 24 or 32 limbs by its unrolled triangle measured slower than
  // by the rows' loop (twice as slow at 32): those go to the loop.
  if (!adx_kernel() || (a == b && n != 12 && n != 16)) return false;
  switch (n) {
    case 12:  // the halves of split squares of 24 limbs
      mul_n<12>(r, a, b);
      return true;
    case 16:
      mul_n<16>(r, a, b);
      return true;
    case 24:
      mul_n<24>(r, a, b);
      return true;
    case 32:
      mul_n<32>(r, a, b);
      return true;
    default:
      return false;
  }
#else
  static_cast<void>(r);
  static_cast<void>(a);
  static_cast<void>(b);
  static_cast<void>(n);
  return false;
#endif
}

bool fixed_redc(Limb* r, Limb* t, const Modulus& m) noexcept {
#if defined(__x86_64__)
  if (m.nw != 2 * m.nl || !adx_kernel()) return false;
  if (m.nl >= 2 && m.nl <= kFixedLimbs) {
    kAdxRedc[m.nl](r, t, m);
    return true;
  }
  switch (m.nl) {
    case 16:
      redc_n<16>(r, t, m);
      return true;
    case 24:
      redc_n<24>(r, t, m);
      return true;
    case 32:
      redc_n<32>(r, t, m);
      return true;
    default:
      return false;
  }
#else
  static_cast<void>(r);
  static_cast<void>(t);
  static_cast<void>(m);
  return false;
#endif
}

#if defined(__x86_64__)
// The eight limbs of p into w[0 .. nw).
inline void put_wide(BN_ULONG* w, int nw, const Wide& p) noexcept {
    put_limb(w, nw, 0, p.t0);
    put_limb(w, nw, 1, p.t1);
    put_limb(w, nw, 2, p.t2);
    put_limb(w, nw, 3, p.t3);
    put_limb(w, nw, 4, p.t4);
    put_limb(w, nw, 5, p.t5);
    put_limb(w, nw, 6, p.t6);
    put_limb(w, nw, 7, p.t7);
}
#endif

bool mul_words(BN_ULONG* w, int nw, const BN_ULONG* a, const BN_ULONG* b, int n) noexcept {
#if defined(__x86_64__)
  if (adx_kernel()) {
    if (n == 4) {
      put_wide(w, nw, a == b ? sqr4(a) : mul4(a, b));
      return true;
    }
    // The whole product straight into w, the operands read in place (2 n
    // words each, as limbs): no copies to make and wipe.  Only where all
    // three are placed as limbs: a number's words may sit at any 4-byte
    // boundary, and the rows index them as limbs.  The rows are reached
    // through the table, a call that the compiler cannot see into, so the
    // words written as limbs are read back as words after it.
    const auto at = reinterpret_cast<uintptr_t>(w) | reinterpret_cast<uintptr_t>(a) |
                    reinterpret_cast<uintptr_t>(b);
    if (n < 2 || nw != 4 * n || at % alignof(Limb) != 0) return false;
    auto* r = reinterpret_cast<Limb*>(w);
    auto* x = reinterpret_cast<const Limb*>(a);
    auto* y = reinterpret_cast<const Limb*>(b);
    if (n > kFixedLimbs) {
#if !defined(MORVANE_BN_SWEEP)
      if (mul_square_ifma(r, x, y, n)) return true;
#endif
      return fixed_rows(r, x, y, n);
    }
    kAdxMul[n](r, x, y);
    return true;
  }
  if (n == 4) {
    put_wide(w, nw, a == b ? sqr4_plain(a) : mul4_plain(a, b));
    return true;
  }
#endif
  if (n > kFixedLimbs) return false;
  kScanMul<BN_ULONG>[n](w, nw, a, b);
  return true;
}

void fixed_mul(BN_ULONG* w, int nw, const Limb* a, const Limb* b, int n) noexcept {
#if defined(__x86_64__)
  if (n == 4) {  // from the registers
    if (adx_kernel()) {
      put_wide(w, nw, a == b ? sqr4(a) : mul4(a, b));
    } else {
      put_wide(w, nw, a == b ? sqr4_plain(a) : mul4_plain(a, b));
    }
    return;
  }
  if (adx_kernel() && n >= 2) {
    if (nw > 4 * kFixedLimbs) __builtin_unreachable();
    Limb p[2 * kFixedLimbs];
    kAdxMul[n](p, a, b);
    store(w, p, nw);
    clear(p, 2 * n);
    return;
  }
#endif
  kScanMul<Limb>[n](w, nw, a, b);
}

}  // namespace morvane::bn::limb
