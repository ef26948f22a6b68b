// The one internal wipe: memory that held secrets is cleared through
// MORVANE_cleanse, either at once (`wipe`) or when a scope ends (`Wiper`, for
// stack buffers and objects that must be cleared on every way out).
#ifndef MORVANE_INTERNAL_WIPE_H
#define MORVANE_INTERNAL_WIPE_H

#include <stddef.h>
#include <string.h>

#include <type_traits>

#include <morvane/crypto.h>

namespace morvane::internal {

// Overwrites `n` bytes at `p` with stores the compiler cannot drop; a null `p`
// or a zero `n` does nothing.
inline void wipe(void* p, size_t n) noexcept {
  if (p != nullptr && n != 0) MORVANE_cleanse(p, n);
}

// As wipe, then leaves the bytes zero, for storage whose state after release
// is documented as all zeros (the free hooks may look at it).
inline void wipe_to_zero(void* p, size_t n) noexcept {
  if (p == nullptr || n == 0) return;
  MORVANE_cleanse(p, n);
  memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");  // the zeros are stored before any free
}

// As wipe, for short-lived scratch on hot paths (the big-number limb
// buffers): zeros stored by memset, which the barrier keeps from being
// dropped as dead stores.
inline void wipe_scratch(void* p, size_t n) noexcept {
  if (p == nullptr || n == 0) return;
  memset(p, 0, n);
  __asm__ __volatile__("" : : "r"(p) : "memory");
}

// An object that may be wiped as bytes: plain data, never a bare pointer
// (whose own 8 bytes are rarely what the caller means).
template <class T>
concept Wipeable = std::is_trivially_copyable_v<T> && !std::is_pointer_v<T>;

// Overwrites the whole of `obj` (an array, a struct, a scalar).
template <Wipeable T>
inline void wipe(T& obj) noexcept {
  MORVANE_cleanse(&obj, sizeof obj);
}

// Wipes a region when the enclosing scope ends:
//   unsigned char block[16];
//   Wiper w(block);                  // the whole array
//   Wiper k(key, sizeof key);        // or an explicit region
class [[nodiscard]] Wiper {
 public:
  Wiper(void* p, size_t n) noexcept : p_(p), n_(n) {}
  template <Wipeable T>
  explicit Wiper(T& obj) noexcept : p_(&obj), n_(sizeof obj) {}
  ~Wiper() { wipe(p_, n_); }
  Wiper(const Wiper&) = delete;
  Wiper& operator=(const Wiper&) = delete;

 private:
  void* p_;
  size_t n_;
};

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_WIPE_H
