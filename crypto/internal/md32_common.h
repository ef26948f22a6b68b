// The 64-byte block scheme of MD4, MD5, SHA-0, SHA-1, SHA-224/256 and
// RIPEMD-160: the 64-bit bit count, the partial block kept in the context,
// whole blocks handed straight from the caller's memory to the compression
// function, and the final padding (RFC 1321, 3.1-3.2; FIPS 180-4, 5.1.1).
//
// Implementation notes: a context is the algorithm's chaining words followed
// by Nl, Nh (low and high half of the bit count), data (16 words holding the
// partial block as bytes in input order, whatever the host's order) and num
// (bytes waiting in data, 0 to 63).  Each algorithm supplies a traits type:
//
//   struct Md5Traits {
//     using Ctx = MD5_CTX;
//     static constexpr bool kBigEndian = false;     // word and length order
//     static void blocks(Ctx&, const uint8_t*, size_t nblocks) noexcept;
//   };
//
// Where the chaining words are named fields that Final writes out whole, in
// order, the traits also list them with their initial values and the scheme
// supplies Init and Final too:
//
//   static constexpr std::array kWords = {&MD5_CTX::A, &MD5_CTX::B, ...};
//   static constexpr std::array<uint32_t, 4> kInitialValues = {...};
//
// Otherwise the algorithm writes its digest itself after finish().  Once a
// buffered block has been through the compression function the buffer is
// zeroed, so after Final data is all zero and num is 0.
#ifndef MORVANE_INTERNAL_MD32_COMMON_H
#define MORVANE_INTERNAL_MD32_COMMON_H

#include <array>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "internal/byteorder.h"
#include "internal/digest.h"

namespace morvane::internal {

inline constexpr size_t kMd32BlockSize = 64;

template <class T>
concept Md32Traits = requires(typename T::Ctx& c, const uint8_t* p, size_t n) {
  { T::kBigEndian } -> std::convertible_to<bool>;
  requires noexcept(T::blocks(c, p, n));
  requires sizeof(c.data) == kMd32BlockSize;
  requires sizeof(c.Nl) == 4 && sizeof(c.Nh) == 4 && sizeof(c.num) == 4;
};

template <class T>
concept Md32NamedWords = Md32Traits<T> && requires(typename T::Ctx& c) {
  requires T::kWords.size() == T::kInitialValues.size();
  { c.*T::kWords[0] } -> std::same_as<unsigned int&>;
};

// Adds 8 * len to the 64-bit bit count nh:nl, modulo 2^64.
constexpr void md32_add_bits(unsigned int& nl, unsigned int& nh, size_t len) noexcept {
  const uint32_t l = static_cast<uint32_t>(nl) + (static_cast<uint32_t>(len) << 3);
  if (l < nl) nh++;
  nh += static_cast<uint32_t>(static_cast<uint64_t>(len) >> 29);
  nl = l;
}

constexpr bool md32_count_after(unsigned int nl, unsigned int nh, size_t len, unsigned int want_nl,
                                unsigned int want_nh) {
  md32_add_bits(nl, nh, len);
  return nl == want_nl && nh == want_nh;
}
static_assert(md32_count_after(0xfffffff8u, 0, 1, 0, 1));      // carry out of Nl
static_assert(md32_count_after(0, 0, size_t{1} << 29, 0, 1));  // 2^32 bits
// modulo 2^64
static_assert(md32_count_after(5, 0xffffffffu, (size_t{1} << 61) + 1, 13, 0xffffffffu));

template <Md32Traits T>
struct Md32 {
  using Ctx = typename T::Ctx;

  static uint8_t* buffer(Ctx& c) noexcept { return reinterpret_cast<uint8_t*>(c.data); }

  // A word in the algorithm's byte order.
  static void store(uint8_t* p, uint32_t v) noexcept {
    if constexpr (T::kBigEndian) {
      store_be32(p, v);
    } else {
      store_le32(p, v);
    }
  }

  // Init: the initial chaining words, an empty count and buffer (the buffer's
  // bytes are left as they are); always 1.
  static int init(Ctx& c) noexcept requires Md32NamedWords<T> {
    for (size_t i = 0; i < T::kWords.size(); i++) c.*T::kWords[i] = T::kInitialValues[i];
    c.Nl = c.Nh = 0;
    c.num = 0;
    return 1;
  }

  // Final: finish(), then every chaining word in order; always 1.
  static int final(unsigned char* md, Ctx& c) noexcept requires Md32NamedWords<T> {
    finish(c);
    for (size_t i = 0; i < T::kWords.size(); i++) store(md + 4 * i, c.*T::kWords[i]);
    return 1;
  }

  // Absorbs len bytes; always 1.
  static int update(Ctx& c, const void* data, size_t len) noexcept {
    if (len == 0 || digest_length_is_negative(len)) return 1;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    md32_add_bits(c.Nl, c.Nh, len);

    uint8_t* buf = buffer(c);
    const size_t num = c.num;
    if (num != 0) {
      if (len < kMd32BlockSize && num + len < kMd32BlockSize) {
        std::memcpy(buf + num, in, len);
        c.num = static_cast<unsigned int>(num + len);
        return 1;
      }
      const size_t take = kMd32BlockSize - num;
      std::memcpy(buf + num, in, take);
      T::blocks(c, buf, 1);
      in += take;
      len -= take;
      c.num = 0;
      std::memset(buf, 0, kMd32BlockSize);
    }
    if (const size_t nblocks = len / kMd32BlockSize; nblocks != 0) {
      T::blocks(c, in, nblocks);
      in += nblocks * kMd32BlockSize;
      len -= nblocks * kMd32BlockSize;
    }
    if (len != 0) {
      std::memcpy(buf, in, len);
      c.num = static_cast<unsigned int>(len);
    }
    return 1;
  }

  // Pads the message and runs the last block or two; the caller then writes
  // the digest from the chaining words.
  static void finish(Ctx& c) noexcept {
    uint8_t* buf = buffer(c);
    size_t n = c.num;
    buf[n++] = 0x80;
    if (n > kMd32BlockSize - 8) {
      std::memset(buf + n, 0, kMd32BlockSize - n);
      T::blocks(c, buf, 1);
      n = 0;
    }
    std::memset(buf + n, 0, kMd32BlockSize - 8 - n);
    // The 64-bit count written whole in the algorithm's byte order.
    store(buf + 56, T::kBigEndian ? c.Nh : c.Nl);
    store(buf + 60, T::kBigEndian ? c.Nl : c.Nh);
    T::blocks(c, buf, 1);
    c.num = 0;
    std::memset(buf, 0, kMd32BlockSize);
  }
};

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_MD32_COMMON_H
