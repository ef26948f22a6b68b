// The primes of the NIST curves over prime fields (FIPS 186-4, D.1.2) as
// constant numbers, and the fast reduction modulo each of them (FIPS 186-2,
// D.2): additions and subtractions of rearranged words instead of a division.
//
// Implementation notes: the sum of the rearranged terms is r + k 2^(32n)
// with r the n words kept and k the carries less the borrows.  Subtracting
// row k of the table of multiples (k p mod 2^(32n)) leaves the value or the
// value plus p, and one more subtraction of p, or an addition after a
// negative sum, brings it into [0, p); both candidates are computed and one
// is chosen by a mask, not by a branch on the value.  Inputs outside
// [0, p^2) take the general reduction.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <stddef.h>
#include <stdint.h>

#include <array>
#include <initializer_list>

#include "bn/internal.h"
#include "internal/ct.h"

namespace bn = morvane::bn;
namespace ct = morvane::ct;

namespace {

template <size_t N>
using Words = std::array<BN_ULONG, N>;

// Hex text (most significant digit first) as N words.
template <size_t N>
constexpr Words<N> from_hex(const char* hex) {
  Words<N> w{};
  size_t len = 0;
  while (hex[len] != '\0') len++;
  for (size_t i = 0; i < len; i++) {
    const char c = hex[len - 1 - i];
    const BN_ULONG v = c <= '9' ? c - '0' : c <= 'F' ? c - 'A' + 10 : c - 'a' + 10;
    w[i / 8] |= v << (4 * (i % 8));
  }
  return w;
}

// The sum of the signed powers of two ±2^e (e as a signed exponent), mod
// 2^(32 N).
template <size_t N>
constexpr Words<N> from_powers(std::initializer_list<int> exps) {
  Words<N> w{};
  for (int e : exps) {
    const int x = e < 0 ? -e - 1 : e;  // -1 - x stands for -2^x
    Words<N> t{};
    if (static_cast<size_t>(x / 32) < N) t[static_cast<size_t>(x / 32)] = BN_ULONG{1} << (x % 32);
    uint64_t carry = 0;
    for (size_t i = 0; i < N; i++) {
      const uint64_t s = e < 0 ? uint64_t{w[i]} - t[i] - carry : uint64_t{w[i]} + t[i] + carry;
      w[i] = static_cast<BN_ULONG>(s);
      carry = e < 0 ? (s >> 63) : (s >> 32);
    }
  }
  return w;
}

// Rows k = 1 .. K hold k p mod 2^(32 N).
template <size_t N, size_t K>
constexpr std::array<Words<N>, K> multiples(const Words<N>& p) {
  std::array<Words<N>, K> rows{};
  for (size_t k = 0; k < K; k++) {
    uint64_t carry = 0;
    for (size_t i = 0; i < N; i++) {
      const uint64_t s = uint64_t{p[i]} * (k + 1) + carry;
      rows[k][i] = static_cast<BN_ULONG>(s);
      carry = s >> 32;
    }
  }
  return rows;
}

// p^2 in M words (M = 2 N, or one less when the top word is zero).
template <size_t M, size_t N>
constexpr Words<M> square(const Words<N>& p) {
  Words<2 * N> t{};
  for (size_t i = 0; i < N; i++) {
    uint64_t carry = 0;
    for (size_t j = 0; j < N; j++) {
      const uint64_t s = uint64_t{p[i]} * p[j] + t[i + j] + carry;
      t[i + j] = static_cast<BN_ULONG>(s);
      carry = s >> 32;
    }
    t[i + N] = static_cast<BN_ULONG>(carry);
  }
  Words<M> out{};
  for (size_t i = 0; i < M; i++) out[i] = t[i];
  return out;
}

constexpr BIGNUM borrowed(const BN_ULONG* d, int n) {
  return {const_cast<BN_ULONG*>(d), n, n, 0, BN_FLAG_BORROWED};
}

// One prime: its words, the table of multiples, the number p and p^2.
// clang-format off
constexpr auto k192 = from_hex<6>("fffffffffffffffffffffffffffffffeffffffffffffffff");
constexpr auto k224 = from_hex<7>("ffffffffffffffffffffffffffffffff000000000000000000000001");
constexpr auto k256 = from_hex<8>("ffffffff00000001000000000000000000000000ffffffffffffffffffffffff");
constexpr auto k384 = from_hex<12>(
    "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffeffffffff0000000000000000ffffffff");
constexpr auto k521 = from_hex<17>(
    "1fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff"
    "fffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffffff");
// clang-format on
static_assert(k192 == from_powers<6>({192, -1 - 64, -1 - 0}), "P-192 = 2^192 - 2^64 - 1");
static_assert(k224 == from_powers<7>({224, -1 - 96, 0}), "P-224 = 2^224 - 2^96 + 1");
static_assert(k256 == from_powers<8>({256, -1 - 224, 192, 96, -1 - 0}),
              "P-256 = 2^256 - 2^224 + 2^192 + 2^96 - 1");
static_assert(k384 == from_powers<12>({384, -1 - 128, -1 - 96, 32, -1 - 0}),
              "P-384 = 2^384 - 2^128 - 2^96 + 2^32 - 1");
static_assert(k521 == from_powers<17>({521, -1 - 0}), "P-521 = 2^521 - 1");

constexpr auto kRows192 = multiples<6, 3>(k192);
constexpr auto kRows224 = multiples<7, 2>(k224);
constexpr auto kRows256 = multiples<8, 5>(k256);
constexpr auto kRows384 = multiples<12, 5>(k384);
constexpr auto kRows521 = multiples<17, 1>(k521);
constexpr auto kSq192 = square<12>(k192);
constexpr auto kSq224 = square<14>(k224);
constexpr auto kSq256 = square<16>(k256);
constexpr auto kSq384 = square<24>(k384);
constexpr auto kSq521 = square<33>(k521);
static_assert(kSq192[11] != 0 && kSq224[13] != 0 && kSq256[15] != 0 && kSq384[23] != 0 &&
                  kSq521[32] == 0x3FFFF,
              "the squares fill their words (p^2 of P-521 is 2^1042 - 2^522 + 1)");

constexpr BIGNUM kP192 = borrowed(kRows192[0].data(), 6);
constexpr BIGNUM kP224 = borrowed(kRows224[0].data(), 7);
constexpr BIGNUM kP256 = borrowed(kRows256[0].data(), 8);
constexpr BIGNUM kP384 = borrowed(kRows384[0].data(), 12);
constexpr BIGNUM kP521 = borrowed(kRows521[0].data(), 17);
constexpr BIGNUM kPSq192 = borrowed(kSq192.data(), 12);
constexpr BIGNUM kPSq224 = borrowed(kSq224.data(), 14);
constexpr BIGNUM kPSq256 = borrowed(kSq256.data(), 16);
constexpr BIGNUM kPSq384 = borrowed(kSq384.data(), 24);
constexpr BIGNUM kPSq521 = borrowed(kSq521.data(), 33);

// A rearranged term: for each of the n words, most significant first as
// FIPS 186-2 writes them, the index of a's word it takes (-1: zero).
template <size_t N>
using Term = std::array<signed char, N>;

// t = the term over a's words, whose words n .. 2n - 1 are in buf.
template <size_t N>
void gather(BN_ULONG* t, const Term<N>& term, const BN_ULONG* buf) {
  for (size_t i = 0; i < N; i++) {
    const int idx = term[N - 1 - i];
    t[i] = idx < 0 ? 0 : buf[static_cast<size_t>(idx) - N];
  }
}

// Steps 1 and 2 of every reduction: the general path for inputs outside
// [0, p^2), and the results for a <= p.  Returns 1 or 0 when done, -1 when
// the fast path is to run.
int prologue(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* p_sq, BN_CTX* ctx) {
  if (a->neg || BN_ucmp(a, p_sq) >= 0) {
    bn::CtxOrNew own(ctx);
    return own.get() != nullptr && BN_nnmod(r, a, p, own.get());
  }
  const int c = BN_ucmp(p, a);
  if (c == 0) return BN_zero(r);
  if (c > 0) return r == a || BN_copy(r, a) != nullptr;
  return -1;
}

// Step 3 and 4: r's words = a's low n words, buf = a's words from `from`
// upwards, zero above a's length.  Null when r cannot grow.
BN_ULONG* setup(BIGNUM* r, const BIGNUM* a, int n, BN_ULONG* buf, int from, int len) {
  for (int i = 0; i < len; i++) buf[i] = from + i < a->top ? a->d[from + i] : 0;
  if (r != a) {
    if (bn::wexpand(r, n) == nullptr) return nullptr;
    for (int i = 0; i < n; i++) r->d[i] = a->d[i];
  }
  return r->d;
}

// Steps 6 to 8: the correction by the table row of k, then the final
// subtraction of p (or addition after a negative sum) chosen by a mask.
// Every term is below 2^(32n), so k stays within the table: 0 .. 3 for
// P-192, -2 .. 2 for P-224, -4 .. 5 for P-256 (S2 is below 2^224) and
// -2 .. 4 for P-384 (S1 below 2^256, S5 and S6 shorter still).
template <size_t N, size_t K>
int finish(BIGNUM* r, BN_ULONG* rp, long k, const std::array<Words<N>, K>& rows) {
  constexpr int n = static_cast<int>(N);
  BN_ULONG f = 1, neg = 0;
  if (k > 0) {
    f = bn::sub_words(rp, rp, rows[static_cast<size_t>(k - 1)].data(), n);
  } else if (k < 0) {
    f = bn::add_words(rp, rp, rows[static_cast<size_t>(-k - 1)].data(), n);
    neg = 1;
  }
  BN_ULONG sub[N], sum[N];
  const BN_ULONG b = bn::sub_words(sub, rp, rows[0].data(), n);
  bn::add_words(sum, rp, rows[0].data(), n);
  const BN_ULONG keep = ct::bit_mask<BN_ULONG>(b) & ct::bit_mask<BN_ULONG>(f);
  const BN_ULONG use_sum = ct::bit_mask<BN_ULONG>(neg & (f ^ 1));  // still negative
  for (int i = 0; i < n; i++) rp[i] = ct::select(use_sum, sum[i], ct::select(keep, rp[i], sub[i]));
  r->top = n;
  r->neg = 0;
  bn::strip(r);
  return 1;
}

// The whole reduction for the primes with rearranged terms: `adds` and
// `subs` are applied in order; P-256 and P-384 double a first term.
template <size_t N, size_t K>
int reduce(BIGNUM* r, const BIGNUM* a, const BIGNUM* p, const BIGNUM* p_sq,
           const std::array<Words<N>, K>& rows, const Term<N>* doubled, int ndoubled,
           std::initializer_list<Term<N>> adds, std::initializer_list<Term<N>> subs, BN_CTX* ctx) {
  const int pre = prologue(r, a, p, p_sq, ctx);
  if (pre >= 0) return pre;
  constexpr int n = static_cast<int>(N);
  BN_ULONG buf[N], t[N], u[N];
  BN_ULONG* rp = setup(r, a, n, buf, n, n);
  if (rp == nullptr) return 0;
  long k = 0;
  if (ndoubled > 0) {
    // 2 (S1 + ...): the sum of the doubled terms, shifted left one bit.
    gather<N>(u, doubled[0], buf);
    long c = 0;
    for (int i = 1; i < ndoubled; i++) {
      gather<N>(t, doubled[i], buf);
      c += bn::add_words(u, u, t, n);
    }
    const BN_ULONG top = u[N - 1] >> 31;
    for (int i = n - 1; i > 0; i--) u[i] = (u[i] << 1) | (u[i - 1] >> 31);
    u[0] <<= 1;
    k += 2 * c + top + bn::add_words(rp, rp, u, n);
  }
  for (const Term<N>& term : adds) {
    gather<N>(t, term, buf);
    k += bn::add_words(rp, rp, t, n);
  }
  for (const Term<N>& term : subs) {
    gather<N>(t, term, buf);
    k -= bn::sub_words(rp, rp, t, n);
  }
  return finish<N, K>(r, rp, k, rows);
}

constexpr signed char Z = -1;  // a zero word in a term

}  // namespace

/* see morvane/bn.h */
const BIGNUM* BN_get0_nist_prime_192(void) {
  return &kP192;
}
/* see morvane/bn.h */
const BIGNUM* BN_get0_nist_prime_224(void) {
  return &kP224;
}
/* see morvane/bn.h */
const BIGNUM* BN_get0_nist_prime_256(void) {
  return &kP256;
}
/* see morvane/bn.h */
const BIGNUM* BN_get0_nist_prime_384(void) {
  return &kP384;
}
/* see morvane/bn.h */
const BIGNUM* BN_get0_nist_prime_521(void) {
  return &kP521;
}

// clang-format off
/* see morvane/bn.h */
int BN_nist_mod_192(BIGNUM* r, const BIGNUM* a, const BIGNUM* /*field*/, BN_CTX* ctx) {
  // FIPS 186-2, D.2.1: T + S1 + S2 + S3 in 64-bit limbs (A3, A4, A5 = words 6 .. 11).
  return reduce<6, 3>(r, a, &kP192, &kPSq192, kRows192, nullptr, 0,
                      {{Z, Z, 7, 6, 7, 6}, {9, 8, 9, 8, Z, Z}, {11, 10, 11, 10, 11, 10}}, {}, ctx);
}

/* see morvane/bn.h */
int BN_nist_mod_224(BIGNUM* r, const BIGNUM* a, const BIGNUM* /*field*/, BN_CTX* ctx) {
  // FIPS 186-2, D.2.2: T + S1 + S2 - D1 - D2.
  return reduce<7, 2>(r, a, &kP224, &kPSq224, kRows224, nullptr, 0,
                      {{10, 9, 8, 7, Z, Z, Z}, {Z, 13, 12, 11, Z, Z, Z}},
                      {{13, 12, 11, 10, 9, 8, 7}, {Z, Z, Z, Z, 13, 12, 11}}, ctx);
}

/* see morvane/bn.h */
int BN_nist_mod_256(BIGNUM* r, const BIGNUM* a, const BIGNUM* /*field*/, BN_CTX* ctx) {
  // FIPS 186-2, D.2.3: T + 2 S1 + 2 S2 + S3 + S4 - D1 - D2 - D3 - D4.
  static constexpr Term<8> kDoubled[] = {{15, 14, 13, 12, 11, Z, Z, Z}, {Z, 15, 14, 13, 12, Z, Z, Z}};
  return reduce<8, 5>(r, a, &kP256, &kPSq256, kRows256, kDoubled, 2,
                      {{15, 14, Z, Z, Z, 10, 9, 8}, {8, 13, 15, 14, 13, 11, 10, 9}},
                      {{10, 8, Z, Z, Z, 13, 12, 11}, {11, 9, Z, Z, 15, 14, 13, 12},
                       {12, Z, 10, 9, 8, 15, 14, 13}, {13, Z, 11, 10, 9, Z, 15, 14}}, ctx);
}

/* see morvane/bn.h */
int BN_nist_mod_384(BIGNUM* r, const BIGNUM* a, const BIGNUM* /*field*/, BN_CTX* ctx) {
  // FIPS 186-2, D.2.4: T + 2 S1 + S2 + S3 + S4 + S5 + S6 - D1 - D2 - D3.
  static constexpr Term<12> kDoubled[] = {{Z, Z, Z, Z, Z, 23, 22, 21, Z, Z, Z, Z}};
  return reduce<12, 5>(r, a, &kP384, &kPSq384, kRows384, kDoubled, 1,
                       {{23, 22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12},
                        {20, 19, 18, 17, 16, 15, 14, 13, 12, 23, 22, 21},
                        {19, 18, 17, 16, 15, 14, 13, 12, 20, Z, 23, Z},
                        {Z, Z, Z, Z, 23, 22, 21, 20, Z, Z, Z, Z},
                        {Z, Z, Z, Z, Z, Z, 23, 22, 21, Z, Z, 20}},
                       {{22, 21, 20, 19, 18, 17, 16, 15, 14, 13, 12, 23},
                        {Z, Z, Z, Z, Z, Z, Z, 23, 22, 21, 20, Z},
                        {Z, Z, Z, Z, Z, Z, Z, 23, 23, Z, Z, Z}}, ctx);
}
// clang-format on

/* see morvane/bn.h */
int BN_nist_mod_521(BIGNUM* r, const BIGNUM* a, const BIGNUM* /*field*/, BN_CTX* ctx) {
  // a = hi 2^521 + lo = hi + lo (mod 2^521 - 1).
  const int pre = prologue(r, a, &kP521, &kPSq521, ctx);
  if (pre >= 0) return pre;
  constexpr int n = 17;
  BN_ULONG buf[n];
  BN_ULONG* rp = setup(r, a, n, buf, 16, n);
  if (rp == nullptr) return 0;
  for (int i = 0; i < n - 1; i++) buf[i] = (buf[i] >> 9) | (buf[i + 1] << 23);
  buf[n - 1] >>= 9;
  rp[n - 1] &= 0x1FF;
  bn::add_words(rp, rp, buf, n);
  return finish<17, 1>(r, rp, 0, kRows521);
}
