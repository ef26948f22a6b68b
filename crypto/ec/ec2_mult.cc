// Scalar multiplication over GF(2^m): the Montgomery ladder of Lopez and
// Dahab on x-only projective coordinates ("Fast multiplication on elliptic
// curves over GF(2^m) without precomputation", CHES 1999, Algorithm 2),
// which the method's multiplication slot (ec2_smpl.cc) runs.
//
// Implementation notes: the ladder keeps R0 = j P and R1 = (j + 1) P as
// (X : Z) pairs and recovers y at the end (Mxy).  Two implementations give
// the same points:
// - the fixed-width engine, for fields of at most 576 bits whose polynomial
//   has its second term at least 64 below m (every named curve): elements
//   are arrays of N 64-bit words, reduced word by word with the
//   polynomial's exponents (public).  Their products are carry-less: with
//   PCLMULQDQ where the processor has it, else by integer multiplications
//   on bits spread four apart (no table, no branch), squares by spreading
//   bits; the choice is made on the first multiplication and kept in a
//   pointer to the table of engines (MORVANE_NO_HWCRYPT=pclmul forces the
//   portable products).  The scalar is read as m + 1 bits whatever its
//   value, starting from R0 = O = (1 : 0), R1 = P = (x : 1), and the
//   registers are exchanged by masked swaps, so the steps and addresses
//   depend only on the group.  The inverse in Mxy is a^(2^m - 2) by the
//   chain of Itoh and Tsujii.  Only whether the result is O or -P (which
//   the result shows) and its coordinates are made public.
// - the BIGNUM ladder over the method's field slots, from the bit below the
//   scalar's highest set bit, for everything else (other fields, scalars
//   longer than m + 1 bits, points with x = 0 or unreduced coordinates).

#include <stdint.h>
#include <string.h>

#include <array>
#include <atomic>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>

#include "ec/internal.h"
#include "internal/cpu.h"
#include "internal/ct.h"

using morvane::ec::Scratch;

namespace {

namespace ct = morvane::ct;
using morvane::ec::from_limbs;
using morvane::ec::to_limbs;
using word = uint64_t;

constexpr size_t kMaxWords = 9;  // 576 bits

// ---- carry-less products ----------------------------------------------------------

// The carry-less product of two 32-bit words.  Each factor is cut into four
// parts holding every fourth bit; an integer product of two parts then adds
// at most eight bits at each place, which fits in the three-bit gap before
// the next place of the same residue mod 4, so the low bit at each place is
// the carry-less sum.
inline word clmul32(uint32_t a, uint32_t b) {
  constexpr word m0 = 0x1111111111111111u, m1 = m0 << 1, m2 = m0 << 2, m3 = m0 << 3;
  const word a0 = a & static_cast<uint32_t>(m0), a1 = a & static_cast<uint32_t>(m1),
             a2 = a & static_cast<uint32_t>(m2), a3 = a & static_cast<uint32_t>(m3);
  const word b0 = b & static_cast<uint32_t>(m0), b1 = b & static_cast<uint32_t>(m1),
             b2 = b & static_cast<uint32_t>(m2), b3 = b & static_cast<uint32_t>(m3);
  const word z0 = (a0 * b0) ^ (a1 * b3) ^ (a2 * b2) ^ (a3 * b1);
  const word z1 = (a0 * b1) ^ (a1 * b0) ^ (a2 * b3) ^ (a3 * b2);
  const word z2 = (a0 * b2) ^ (a1 * b1) ^ (a2 * b0) ^ (a3 * b3);
  const word z3 = (a0 * b3) ^ (a1 * b2) ^ (a2 * b1) ^ (a3 * b0);
  return (z0 & m0) | (z1 & m1) | (z2 & m2) | (z3 & m3);
}

// hi:lo = a b without carries (one Karatsuba step over 32-bit halves).
inline void clmul64(word a, word b, word& lo, word& hi) {
  const uint32_t a0 = static_cast<uint32_t>(a), a1 = static_cast<uint32_t>(a >> 32);
  const uint32_t b0 = static_cast<uint32_t>(b), b1 = static_cast<uint32_t>(b >> 32);
  const word l = clmul32(a0, b0);
  const word h = clmul32(a1, b1);
  const word mid = clmul32(a0 ^ a1, b0 ^ b1) ^ l ^ h;
  lo = l ^ (mid << 32);
  hi = h ^ (mid >> 32);
}

// The 32 bits of x spread to the even places of a word (x squared).
inline word spread32(uint32_t x) {
  word v = x;
  v = (v | v << 16) & 0x0000FFFF0000FFFFu;
  v = (v | v << 8) & 0x00FF00FF00FF00FFu;
  v = (v | v << 4) & 0x0F0F0F0F0F0F0F0Fu;
  v = (v | v << 2) & 0x3333333333333333u;
  v = (v | v << 1) & 0x5555555555555555u;
  return v;
}

// ---- the field -----------------------------------------------------------------

template <size_t N>
struct Fe {
  word v[N];
};

template <size_t N>
struct Field {
  unsigned m;     // degree
  unsigned k[4];  // the lower exponents, 0 last
  size_t nk;      // how many of them
  Fe<N> b;
};

// The unreduced products: c = a b and c = a^2 (2N words).  Portable: the
// integer-multiplication products above; bits are spread for the square.
struct Portable {
  template <size_t N>
  static inline void mul(word c[2 * N], const Fe<N>& a, const Fe<N>& b) {
    for (size_t i = 0; i < 2 * N; i++) c[i] = 0;
    for (size_t i = 0; i < N; i++) {
      for (size_t j = 0; j < N; j++) {
        word lo, hi;
        clmul64(a.v[i], b.v[j], lo, hi);
        c[i + j] ^= lo;
        c[i + j + 1] ^= hi;
      }
    }
  }
  template <size_t N>
  static inline void sqr(word c[2 * N], const Fe<N>& a) {
    for (size_t i = 0; i < N; i++) {
      c[2 * i] = spread32(static_cast<uint32_t>(a.v[i]));
      c[2 * i + 1] = spread32(static_cast<uint32_t>(a.v[i] >> 32));
    }
  }
};

#if defined(__x86_64__)
#define MORVANE_EC2_CLMUL __attribute__((target("pclmul,sse2")))

// With PCLMULQDQ (one instruction for each 64 by 64 bit product), used only
// when the processor reports it.  The products of each column i + j are
// summed in one 128-bit register, whose halves go to words i + j and
// i + j + 1.
struct Clmul {
  template <size_t N>
  MORVANE_EC2_CLMUL static inline void mul(word c[2 * N], const Fe<N>& a, const Fe<N>& b) {
    __m128i col[2 * N - 1];
    __m128i bw[N];
    for (size_t j = 0; j < N; j++) bw[j] = _mm_cvtsi64_si128(static_cast<long long>(b.v[j]));
    for (size_t k = 0; k < 2 * N - 1; k++) col[k] = _mm_setzero_si128();
    for (size_t i = 0; i < N; i++) {
      const __m128i ai = _mm_cvtsi64_si128(static_cast<long long>(a.v[i]));
      for (size_t j = 0; j < N; j++)
        col[i + j] = _mm_xor_si128(col[i + j], _mm_clmulepi64_si128(ai, bw[j], 0x00));
    }
    word carry = 0;
    for (size_t k = 0; k < 2 * N - 1; k++) {
      c[k] = carry ^ static_cast<word>(_mm_cvtsi128_si64(col[k]));
      carry = static_cast<word>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(col[k], col[k])));
    }
    c[2 * N - 1] = carry;
  }
  template <size_t N>
  MORVANE_EC2_CLMUL static inline void sqr(word c[2 * N], const Fe<N>& a) {
    for (size_t i = 0; i < N; i++) {
      const __m128i ai = _mm_cvtsi64_si128(static_cast<long long>(a.v[i]));
      const __m128i p = _mm_clmulepi64_si128(ai, ai, 0x00);
      c[2 * i] = static_cast<word>(_mm_cvtsi128_si64(p));
      c[2 * i + 1] = static_cast<word>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(p, p)));
    }
  }
};
#endif

// c (2N words, degree below 2m - 1) reduced into r.
template <size_t N>
inline void reduce(Fe<N>& r, word c[2 * N], const Field<N>& f) {
  const size_t dn = f.m / 64, dm = f.m % 64;
  for (size_t j = 2 * N - 1; j > dn; j--) {
    const word zz = c[j];
    c[j] = 0;
    for (size_t t = 0; t < f.nk; t++) {
      // x^(64 j + i) = x^(64 j + i - (m - k)) (x^m + x^k) / x^k ...: move
      // the word down by m - k places (at least 64: a lower word).
      const size_t n = f.m - f.k[t];
      const size_t wd = n / 64, off = n % 64;
      c[j - wd] ^= zz >> off;
      if (off != 0) c[j - wd - 1] ^= zz << (64 - off);
    }
  }
  // The places m and up of word dn.
  const word zz = dm == 0 ? c[dn] : c[dn] >> dm;
  c[dn] = dm == 0 ? 0 : c[dn] & ((word{1} << dm) - 1);
  for (size_t t = 0; t < f.nk; t++) {
    const size_t wd = f.k[t] / 64, off = f.k[t] % 64;
    c[wd] ^= zz << off;
    if (off != 0) c[wd + 1] ^= zz >> (64 - off);
  }
  for (size_t i = 0; i < N; i++) r.v[i] = c[i];
}

template <class Ops, size_t N>
inline void fmul(Fe<N>& r, const Fe<N>& a, const Fe<N>& b, const Field<N>& f) {
  word c[2 * N];
  Ops::template mul<N>(c, a, b);
  reduce(r, c, f);
}

template <class Ops, size_t N>
inline void fsqr(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  word c[2 * N];
  Ops::template sqr<N>(c, a);
  reduce(r, c, f);
}

template <size_t N>
inline void fadd(Fe<N>& r, const Fe<N>& a, const Fe<N>& b) {
  for (size_t i = 0; i < N; i++) r.v[i] = a.v[i] ^ b.v[i];
}

// r = a^(2^m - 2), the inverse of a (0 for 0), by the chain of Itoh and
// Tsujii: t = a^(2^e - 1) goes to a^(2^(2e) - 1) = t^(2^e) t, or one further
// to a^(2^(2e+1) - 1) = (a^(2^(2e) - 1))^2 a, along the bits of m - 1; then
// r = (a^(2^(m-1) - 1))^2.  m - 2 squarings and about 2 log2(m)
// multiplications, the same for every a.
template <class Ops, size_t N>
inline void finv(Fe<N>& r, const Fe<N>& a, const Field<N>& f) {
  const unsigned e = f.m - 1;
  int top = 31;
  while (top > 0 && ((e >> top) & 1) == 0) top--;
  Fe<N> t = a, u;
  unsigned have = 1;  // t = a^(2^have - 1)
  for (int bit = top - 1; bit >= 0; bit--) {
    u = t;
    for (unsigned i = 0; i < have; i++) fsqr<Ops>(u, u, f);
    fmul<Ops>(t, u, t, f);
    have *= 2;
    if ((e >> bit) & 1) {
      fsqr<Ops>(t, t, f);
      fmul<Ops>(t, t, a, f);
      have++;
    }
  }
  fsqr<Ops>(r, t, f);
  MORVANE_cleanse(&t, sizeof t);
  MORVANE_cleanse(&u, sizeof u);
}

template <size_t N>
word is_zero_mask(const Fe<N>& a) {
  word acc = 0;
  for (size_t i = 0; i < N; i++) acc |= a.v[i];
  return ct::zero_mask(acc);
}

template <size_t N>
inline void cswap(Fe<N>& a, Fe<N>& b, word mask) {
  for (size_t i = 0; i < N; i++) {
    const word t = (a.v[i] ^ b.v[i]) & mask;
    a.v[i] ^= t;
    b.v[i] ^= t;
  }
}

// What the fixed-width ladder takes and gives: the field, P = (x, y), the
// scalar's words (steps bits of them are read) in; out, whether k P is the
// point at infinity (kind 0) or the affine point (rx, ry) (kind 1), made
// public.
template <size_t N>
struct LadderIo {
  const Field<N>* f;
  const Fe<N>* x;
  const Fe<N>* y;
  const word* sk;
  unsigned steps;
  Fe<N> rx, ry;
  int kind;
};

template <class Ops, size_t N>
inline void ladder_core(LadderIo<N>& io) {
  const Field<N>& f = *io.f;
  const Fe<N>& x = *io.x;
  const Fe<N>& y = *io.y;
  Fe<N> x1 = {}, z1 = {}, x2 = x, z2 = {}, t = {};
  x1.v[0] = 1;  // R0 = O
  z2.v[0] = 1;  // R1 = P
  for (unsigned i = io.steps; i-- > 0;) {
    const word bit = ct::bit_mask<word>(io.sk[i / 64] >> (i % 64));
    cswap(x1, x2, bit);
    cswap(z1, z2, bit);
    // R1 = R0 + R1 (difference P): Madd into (x2, z2).
    fmul<Ops>(x2, x2, z1, f);
    fmul<Ops>(z2, z2, x1, f);
    fmul<Ops>(t, x2, z2, f);
    fadd(z2, z2, x2);
    fsqr<Ops>(z2, z2, f);
    fmul<Ops>(x2, x, z2, f);
    fadd(x2, x2, t);
    // R0 = 2 R0: Mdouble of (x1, z1).
    fsqr<Ops>(x1, x1, f);
    fsqr<Ops>(t, z1, f);
    fmul<Ops>(z1, x1, t, f);
    fsqr<Ops>(x1, x1, f);
    fsqr<Ops>(t, t, f);
    fmul<Ops>(t, t, f.b, f);
    fadd(x1, x1, t);
    cswap(x1, x2, bit);
    cswap(z1, z2, bit);
  }

  // Mxy: (x1 : z1) = k P and (x2 : z2) = (k + 1) P to the affine k P.
  if (ct::declassify(is_zero_mask(z1)) != 0) {
    io.kind = 0;
  } else {
    if (ct::declassify(is_zero_mask(z2)) != 0) {  // k P = -P
      io.rx = x;
      fadd(io.ry, x, y);
    } else {
      Fe<N> t3, t4;
      fmul<Ops>(t3, z1, z2, f);
      fmul<Ops>(z1, z1, x, f);
      fadd(z1, z1, x1);
      fmul<Ops>(z2, z2, x, f);
      fmul<Ops>(x1, z2, x1, f);
      fadd(z2, z2, x2);
      fmul<Ops>(z2, z2, z1, f);
      fsqr<Ops>(t4, x, f);
      fadd(t4, t4, y);
      fmul<Ops>(t4, t4, t3, f);
      fadd(t4, t4, z2);
      fmul<Ops>(t3, t3, x, f);
      finv<Ops>(t3, t3, f);
      fmul<Ops>(t4, t3, t4, f);
      fmul<Ops>(io.rx, x1, t3, f);
      fadd(io.ry, io.rx, x);
      fmul<Ops>(io.ry, io.ry, t4, f);
      fadd(io.ry, io.ry, y);
      MORVANE_cleanse(&t3, sizeof t3);
      MORVANE_cleanse(&t4, sizeof t4);
    }
    for (size_t j = 0; j < N; j++) {
      io.rx.v[j] = ct::declassify(io.rx.v[j]);
      io.ry.v[j] = ct::declassify(io.ry.v[j]);
    }
    io.kind = 1;
  }
  MORVANE_cleanse(&x1, sizeof x1);
  MORVANE_cleanse(&z1, sizeof z1);
  MORVANE_cleanse(&x2, sizeof x2);
  MORVANE_cleanse(&z2, sizeof z2);
  MORVANE_cleanse(&t, sizeof t);
}

// The ladder for each word count on each kind of product, every field
// operation inlined into it.
template <size_t N>
[[gnu::noinline, gnu::flatten]] void ladder_portable(LadderIo<N>& io) {
  ladder_core<Portable>(io);
}

#if defined(__x86_64__)
template <size_t N>
[[gnu::noinline, gnu::flatten]] MORVANE_EC2_CLMUL void ladder_clmul(LadderIo<N>& io) {
  ladder_core<Clmul>(io);
}
#endif

// The engines for 1 to kMaxWords words, as untyped pointers (each takes
// its own LadderIo<N>).
using EngineFn = void (*)(void*);

template <size_t N, void (*F)(LadderIo<N>&)>
void engine(void* io) {
  F(*static_cast<LadderIo<N>*>(io));
}

template <size_t... I>
constexpr auto portable_table(std::index_sequence<I...>) {
  return std::array<EngineFn, sizeof...(I)>{engine<I + 1, ladder_portable<I + 1>>...};
}
constexpr auto kPortable = portable_table(std::make_index_sequence<kMaxWords>());

#if defined(__x86_64__)
template <size_t... I>
constexpr auto clmul_table(std::index_sequence<I...>) {
  return std::array<EngineFn, sizeof...(I)>{engine<I + 1, ladder_clmul<I + 1>>...};
}
constexpr auto kClmul = clmul_table(std::make_index_sequence<kMaxWords>());
#endif

// The table in use: null until the first multiplication looks at the
// processor (MORVANE_NO_HWCRYPT=pclmul forces the portable products).
constinit std::atomic<const EngineFn*> g_engines{nullptr};

const EngineFn* engines() {
  const EngineFn* t = g_engines.load(std::memory_order_relaxed);
  if (t != nullptr) return t;
  t = kPortable.data();
#if defined(__x86_64__)
  if (morvane::internal::Has(morvane::internal::kPclmul)) t = kClmul.data();
#endif
  g_engines.store(t, std::memory_order_relaxed);
  return t;
}

// r = |k| P by the fixed-width ladder; the caller has checked that the
// group and point suit it.  1, or 0 on failure, or -1 when the scalar has
// more than m + 1 bits (nothing written: the caller takes the other path).
template <size_t N>
int ladder_n(const EC_GROUP* group, EC_POINT* r, const BIGNUM* k, const EC_POINT* point) {
  Field<N> f = {};
  f.m = group->poly[0];
  for (size_t i = 1; i < 5 && group->poly[i] != 0; i++) f.k[f.nk++] = group->poly[i];
  f.k[f.nk++] = 0;
  Fe<N> x = {}, y = {};
  // Scalar words: m + 1 bits, and any further words of k must be zero.
  constexpr size_t kScalarWords = N + 1;
  word sk[kScalarWords] = {};
  const unsigned steps = f.m + 1;
  if (!to_limbs<N>(f.b.v, &group->b) || !to_limbs<N>(x.v, &point->X) ||
      !to_limbs<N>(y.v, &point->Y) || !to_limbs<kScalarWords>(sk, k))
    return -1;
  word high = 0;
  for (size_t i = 0; i < kScalarWords; i++) {
    const size_t lo = 64 * i;
    if (lo >= steps) {
      high |= sk[i];
    } else if (steps - lo < 64) {
      high |= sk[i] >> (steps - lo);
    }
  }
  if (ct::declassify(ct::zero_mask(high)) == 0) {
    MORVANE_cleanse(sk, sizeof sk);
    return -1;
  }
  LadderIo<N> io = {&f, &x, &y, sk, steps, {}, {}, 0};
  engines()[N - 1](&io);
  MORVANE_cleanse(sk, sizeof sk);
  if (io.kind == 0) return EC_POINT_set_to_infinity(group, r);
  BIGNUM* ox = from_limbs<N>(io.rx.v);
  BIGNUM* oy = from_limbs<N>(io.ry.v);
  const int ok = ox != nullptr && oy != nullptr &&
                 EC_POINT_set_affine_coordinates_GF2m(group, r, ox, oy, nullptr);
  BN_free(ox);
  BN_free(oy);
  return ok;
}

using LadderFn = int (*)(const EC_GROUP*, EC_POINT*, const BIGNUM*, const EC_POINT*);

template <size_t... I>
constexpr LadderFn pick(size_t n, std::index_sequence<I...>) {
  LadderFn fn = nullptr;
  ((n == I + 1 ? (fn = ladder_n<I + 1>, 0) : 0), ...);
  return fn;
}

// The fixed-width ladder for this group and point, or null.
LadderFn fixed_ladder(const EC_GROUP* group, const EC_POINT* point) {
  const unsigned m = group->poly[0];
  if (m < 2 || m > 64 * kMaxWords || group->poly[1] == 0 || m - group->poly[1] < 64) return nullptr;
  if (!point->Z_is_one || BN_is_zero(&point->X)) return nullptr;
  const int deg = static_cast<int>(m);
  if (BN_num_bits(&point->X) > deg || BN_num_bits(&point->Y) > deg) return nullptr;
  return pick((m + 63) / 64, std::make_index_sequence<kMaxWords>());
}

// ---- the BIGNUM ladder -------------------------------------------------------------

// (X1, Z1) = (X1, Z1) + (X2, Z2), where x is the affine x of their difference.
bool madd(const EC_GROUP* group, const BIGNUM* x, BIGNUM* x1, BIGNUM* z1, const BIGNUM* x2,
          const BIGNUM* z2, BN_CTX* ctx) {
  Scratch s(ctx);
  BIGNUM* t = s.get();
  const EC_METHOD* m = group->meth;
  return t != nullptr && m->field_mul(group, x1, x1, z2, s.ctx()) &&
         m->field_mul(group, z1, z1, x2, s.ctx()) && m->field_mul(group, t, x1, z1, s.ctx()) &&
         BN_GF2m_add(z1, z1, x1) && m->field_sqr(group, z1, z1, s.ctx()) &&
         m->field_mul(group, x1, z1, x, s.ctx()) && BN_GF2m_add(x1, x1, t);
}

// (X, Z) = 2 (X, Z).
bool mdouble(const EC_GROUP* group, BIGNUM* x, BIGNUM* z, BN_CTX* ctx) {
  Scratch s(ctx);
  BIGNUM* t = s.get();
  const EC_METHOD* m = group->meth;
  return t != nullptr && m->field_sqr(group, x, x, s.ctx()) && m->field_sqr(group, t, z, s.ctx()) &&
         m->field_mul(group, z, x, t, s.ctx()) && m->field_sqr(group, x, x, s.ctx()) &&
         m->field_sqr(group, t, t, s.ctx()) && m->field_mul(group, t, &group->b, t, s.ctx()) &&
         BN_GF2m_add(x, x, t);
}

// The affine k P from (X1, Z1) = k P and (X2, Z2) = (k + 1) P: 2 with the
// coordinates in x2, z2, 1 for the point at infinity, 0 on failure.
int mxy(const EC_GROUP* group, const BIGNUM* x, const BIGNUM* y, BIGNUM* x1, BIGNUM* z1, BIGNUM* x2,
        BIGNUM* z2, BN_CTX* ctx) {
  if (BN_is_zero(z1)) {
    BN_zero(x2);
    BN_zero(z2);
    return 1;
  }
  if (BN_is_zero(z2)) {
    if (BN_copy(x2, x) == nullptr || !BN_GF2m_add(z2, x, y)) return 0;
    return 2;
  }
  Scratch s(ctx);
  BIGNUM* t3 = s.get();
  BIGNUM* t4 = s.get();
  BN_CTX* c = s.ctx();
  const EC_METHOD* m = group->meth;
  if (t4 == nullptr || !m->field_mul(group, t3, z1, z2, c) || !m->field_mul(group, z1, z1, x, c) ||
      !BN_GF2m_add(z1, z1, x1) || !m->field_mul(group, z2, z2, x, c) ||
      !m->field_mul(group, x1, z2, x1, c) || !BN_GF2m_add(z2, z2, x2) ||
      !m->field_mul(group, z2, z2, z1, c) || !m->field_sqr(group, t4, x, c) ||
      !BN_GF2m_add(t4, t4, y) || !m->field_mul(group, t4, t4, t3, c) || !BN_GF2m_add(t4, t4, z2) ||
      !m->field_mul(group, t3, t3, x, c) || !m->field_div(group, t3, BN_value_one(), t3, c) ||
      !m->field_mul(group, t4, t3, t4, c) || !m->field_mul(group, x2, x1, t3, c) ||
      !BN_GF2m_add(z2, x2, x) || !m->field_mul(group, z2, z2, t4, c) || !BN_GF2m_add(z2, z2, y))
    return 0;
  return 2;
}

}  // namespace

namespace morvane::ec {

int gf2m_montgomery_point_multiply(const EC_GROUP* group, EC_POINT* r, const BIGNUM* scalar,
                                   const EC_POINT* point, BN_CTX* ctx) {
  if (r == point) {
    ECERR(EC_F_EC_GF2M_MONTGOMERY_POINT_MULTIPLY, EC_R_INVALID_ARGUMENT);
    return 0;
  }
  if (scalar == nullptr || point == nullptr || EC_POINT_is_at_infinity(group, point))
    return EC_POINT_set_to_infinity(group, r);
  if (!point->Z_is_one) return 0;
  // The fixed-width ladder reads the scalar's words by masks, its word count
  // unseen (a zero scalar included: the result is O).
  if (const LadderFn fn = fixed_ladder(group, point); fn != nullptr) {
    const int ret = fn(group, r, scalar, point);
    if (ret >= 0) return ret;
  }
  if (BN_is_zero(scalar)) return EC_POINT_set_to_infinity(group, r);
  Scratch s(ctx);
  BIGNUM* x1 = s.get();
  BIGNUM* z1 = s.get();
  if (z1 == nullptr) return 0;
  BN_CTX* c = s.ctx();
  BIGNUM* x2 = &r->X;
  BIGNUM* z2 = &r->Y;
  const BIGNUM* x = &point->X;
  const BIGNUM* y = &point->Y;
  // (X1, Z1) = P, (X2, Z2) = 2 P = (x^4 + b, x^2).
  if (!BN_GF2m_mod_arr(x1, x, group->poly) || !BN_one(z1) ||
      !group->meth->field_sqr(group, z2, x1, c) || !group->meth->field_sqr(group, x2, z2, c) ||
      !BN_GF2m_add(x2, x2, &group->b))
    return 0;
  for (int i = BN_num_bits(scalar) - 2; i >= 0; i--) {
    if (BN_is_bit_set(scalar, i)) {
      if (!madd(group, x, x1, z1, x2, z2, c) || !mdouble(group, x2, z2, c)) return 0;
    } else {
      if (!madd(group, x, x2, z2, x1, z1, c) || !mdouble(group, x1, z1, c)) return 0;
    }
  }
  const int res = mxy(group, x, y, x1, z1, x2, z2, c);
  if (res == 0) return 0;
  if (res == 1) return EC_POINT_set_to_infinity(group, r);
  BN_set_negative(x2, 0);
  BN_set_negative(z2, 0);
  if (!BN_one(&r->Z)) return 0;
  r->Z_is_one = 1;
  return 1;
}

bool gf2m_fixed_ladder_serves(const EC_GROUP* group, const EC_POINT* point) {
  return fixed_ladder(group, point) != nullptr;
}

int gf2m_use_clmul(int mode) {
  if (mode == 0) g_engines.store(kPortable.data(), std::memory_order_relaxed);
  if (mode == 1) g_engines.store(nullptr, std::memory_order_relaxed);
#if defined(__x86_64__)
  return engines() == kClmul.data() ? 1 : 0;
#else
  return engines() != kPortable.data() ? 1 : 0;
#endif
}

int gf2m_precompute_mult(EC_GROUP* group, BN_CTX* ctx) {
  return ec_wNAF_precompute_mult(group, ctx);
}

int gf2m_have_precompute_mult(const EC_GROUP* group) {
  return ec_wNAF_have_precompute_mult(group);
}

}  // namespace morvane::ec
