// Explicit byte order for data that leaves or enters memory as words.
//
// Loads and stores go through memcpy (one unaligned-safe move the compiler
// turns into a plain load or store) and a byte swap only where the host's
// order differs, so input of any alignment is read at full speed and UBSan
// never sees a misaligned access.
#ifndef MORVANE_INTERNAL_BYTEORDER_H
#define MORVANE_INTERNAL_BYTEORDER_H

#include <bit>
#include <cstdint>
#include <cstring>

namespace morvane::internal {

inline constexpr bool kHostBigEndian = std::endian::native == std::endian::big;

[[gnu::always_inline]] inline uint32_t load_le32(const uint8_t* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  if constexpr (kHostBigEndian) v = __builtin_bswap32(v);
  return v;
}

[[gnu::always_inline]] inline uint32_t load_be32(const uint8_t* p) noexcept {
  uint32_t v;
  std::memcpy(&v, p, sizeof(v));
  if constexpr (!kHostBigEndian) v = __builtin_bswap32(v);
  return v;
}

[[gnu::always_inline]] inline uint64_t load_be64(const uint8_t* p) noexcept {
  uint64_t v;
  std::memcpy(&v, p, sizeof(v));
  if constexpr (!kHostBigEndian) v = __builtin_bswap64(v);
  return v;
}

[[gnu::always_inline]] inline void store_le32(uint8_t* p, uint32_t v) noexcept {
  if constexpr (kHostBigEndian) v = __builtin_bswap32(v);
  std::memcpy(p, &v, sizeof(v));
}

[[gnu::always_inline]] inline void store_be32(uint8_t* p, uint32_t v) noexcept {
  if constexpr (!kHostBigEndian) v = __builtin_bswap32(v);
  std::memcpy(p, &v, sizeof(v));
}

[[gnu::always_inline]] inline void store_be64(uint8_t* p, uint64_t v) noexcept {
  if constexpr (!kHostBigEndian) v = __builtin_bswap64(v);
  std::memcpy(p, &v, sizeof(v));
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_BYTEORDER_H
