// Constant-time helpers: masks from conditions, selection, conditional copy,
// swap and wipe, equality of byte strings and a count of leading zeros, for
// code whose branches and memory addresses must not depend on secret values.
//
// Contract shared by every helper: the instructions executed and the
// addresses touched depend only on the lengths passed, never on the values.
// A mask is all ones (true) or all zeros (false) in an unsigned type.  The
// valgrind harness in test/ct/ checks the library's users of these helpers.
//
// Implementation notes: value_barrier hides a value from the optimizer, so a
// mask built by arithmetic is not turned back into a comparison and a branch.
#ifndef MORVANE_CRYPTO_INTERNAL_CT_H
#define MORVANE_CRYPTO_INTERNAL_CT_H

#include <stddef.h>
#include <stdint.h>

#include <concepts>
#include <limits>

// The library built for the constant-time harness of test/ct/ names that
// harness's header here, which defines MORVANE_CT_DECLASSIFY over valgrind's
// client requests; every other build compiles it to nothing.
#ifdef MORVANE_CT_DECLASSIFY_HEADER
#include MORVANE_CT_DECLASSIFY_HEADER
#else
#define MORVANE_CT_DECLASSIFY(p, n) ((void)(p), (void)(n))
#endif

namespace morvane::ct {

template <typename T>
concept Word = std::unsigned_integral<T> && !std::same_as<T, bool>;

// Returns v unchanged; the compiler cannot see through it.
template <Word T>
inline T value_barrier(T v) noexcept {
  __asm__("" : "+r"(v));
  return v;
}

// All ones when the top bit of a is set, else zero.
template <Word T>
inline T msb_mask(T a) noexcept {
  constexpr int kTop = std::numeric_limits<T>::digits - 1;
  return static_cast<T>(T{0} - value_barrier(static_cast<T>(a >> kTop)));
}

// All ones when bit (0 or 1) is 1, else zero.
template <Word T>
inline T bit_mask(T bit) noexcept {
  return static_cast<T>(T{0} - value_barrier(static_cast<T>(bit & 1)));
}

// All ones when a == 0.
template <Word T>
inline T zero_mask(T a) noexcept {
  return msb_mask(static_cast<T>(~a & static_cast<T>(a - 1)));
}

// All ones when a == b.
template <Word T>
inline T eq_mask(T a, T b) noexcept {
  return zero_mask(static_cast<T>(a ^ b));
}

// All ones when a < b.
template <Word T>
inline T lt_mask(T a, T b) noexcept {
  return msb_mask(static_cast<T>(a ^ ((a ^ b) | (static_cast<T>(a - b) ^ a))));
}

// a where mask is all ones, b where it is zero.
template <Word T>
inline T select(T mask, T a, T b) noexcept {
  const T m = value_barrier(mask);
  return static_cast<T>((m & a) | (~m & b));
}

// The number of leading zero bits of a (the width of T when a == 0).
template <Word T>
inline unsigned leading_zeros(T a) noexcept {
  constexpr int kDigits = std::numeric_limits<T>::digits;
  unsigned n = 0;
  for (int s = kDigits / 2; s > 0; s /= 2) {  // the top s bits zero: skip them
    const T m = zero_mask(static_cast<T>(a >> (kDigits - s)));
    n += static_cast<unsigned>(s) & static_cast<unsigned>(m);
    a = select(m, static_cast<T>(a << s), a);
  }
  return n + (1 & static_cast<unsigned>(zero_mask(a)));
}

// An 8-bit mask from a wider one (true stays true).
template <Word T>
inline uint8_t byte_mask(T mask) noexcept {
  return static_cast<uint8_t>(mask);
}

// dst[i] = src[i] for i < n when mask is true; dst unchanged otherwise.
template <Word T>
inline void copy_if(T mask, uint8_t* dst, const uint8_t* src, size_t n) noexcept {
  const uint8_t m = value_barrier(byte_mask(mask));
  for (size_t i = 0; i < n; i++) dst[i] = static_cast<uint8_t>((m & src[i]) | (~m & dst[i]));
}

// Exchanges a[i] and b[i] for i < n when mask is true.
template <Word T>
inline void swap_if(T mask, uint8_t* a, uint8_t* b, size_t n) noexcept {
  const uint8_t m = value_barrier(byte_mask(mask));
  for (size_t i = 0; i < n; i++) {
    const uint8_t x = static_cast<uint8_t>((a[i] ^ b[i]) & m);
    a[i] ^= x;
    b[i] ^= x;
  }
}

// Sets p[0..n) to zero when mask is true.
template <Word T>
inline void zero_if(T mask, uint8_t* p, size_t n) noexcept {
  const uint8_t keep = value_barrier(static_cast<uint8_t>(~byte_mask(mask)));
  for (size_t i = 0; i < n; i++) p[i] &= keep;
}

// All ones (in unsigned) when the n bytes at a and b are equal.
inline unsigned bytes_eq_mask(const void* a, const void* b, size_t n) noexcept {
  const auto* x = static_cast<const uint8_t*>(a);
  const auto* y = static_cast<const uint8_t*>(b);
  unsigned d = 0;
  for (size_t i = 0; i < n; i++) d |= static_cast<unsigned>(x[i] ^ y[i]);
  return zero_mask(d);
}

// Returns v, which the caller is about to make public (a check's verdict, a
// length it reports): from here on it may decide branches.  Under the
// valgrind harness of test/ct/, where secrets are undefined, it marks v
// defined; elsewhere it costs nothing.  Use it only on what the function's
// result discloses anyway.
template <Word T>
inline T declassify(T v) noexcept {
  MORVANE_CT_DECLASSIFY(&v, sizeof v);
  return v;
}

}  // namespace morvane::ct

#endif  // MORVANE_CRYPTO_INTERNAL_CT_H
