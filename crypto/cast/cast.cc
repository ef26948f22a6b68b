// CAST-128 (RFC 2144): key schedule, the block functions and the byte-wise
// modes.
//
// Implementation notes: each rotation subkey is stored as (Kr + 16) mod 32, so
// the rotated value I comes out turned a further 16 bits and the round reads
// the standard bytes Ia, Ib, Ic, Id from I's bits 8-15, 0-7, 24-31 and 16-23.
// Rounds are written out with the halves kept in locals and no swaps.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include <morvane/cast.h>

#include "internal/modes.h"

static_assert(sizeof(CAST_KEY) == 4 * 32 + sizeof(int));
static_assert(offsetof(CAST_KEY, short_key) == 4 * 32);

const char CAST_version[] = "CAST part of " MORVANE_VERSION_TEXT;

namespace {

namespace internal = morvane::internal;

// RFC 2144, 2.2: the three round function types, `kr` the stored rotation.
template <int kType>
inline uint32_t f(uint32_t d, uint32_t km, uint32_t kr) {
  uint32_t i;
  if constexpr (kType == 1)
    i = std::rotl(km + d, static_cast<int>(kr));
  else if constexpr (kType == 2)
    i = std::rotl(km ^ d, static_cast<int>(kr));
  else
    i = std::rotl(km - d, static_cast<int>(kr));
  const uint32_t s1 = CAST_S_table0[(i >> 8) & 0xff];
  const uint32_t s2 = CAST_S_table1[i & 0xff];
  const uint32_t s3 = CAST_S_table2[i >> 24];
  const uint32_t s4 = CAST_S_table3[(i >> 16) & 0xff];
  if constexpr (kType == 1)
    return ((s1 ^ s2) - s3) + s4;
  else if constexpr (kType == 2)
    return ((s1 - s2) + s3) ^ s4;
  else
    return ((s1 + s2) ^ s3) - s4;
}

[[gnu::always_inline]] inline void encrypt_block(uint32_t* data, const CAST_KEY* key) {
  const uint32_t* k = key->data;
  uint32_t l = data[0];
  uint32_t r = data[1];
  l ^= f<1>(r, k[0], k[1]);
  r ^= f<2>(l, k[2], k[3]);
  l ^= f<3>(r, k[4], k[5]);
  r ^= f<1>(l, k[6], k[7]);
  l ^= f<2>(r, k[8], k[9]);
  r ^= f<3>(l, k[10], k[11]);
  l ^= f<1>(r, k[12], k[13]);
  r ^= f<2>(l, k[14], k[15]);
  l ^= f<3>(r, k[16], k[17]);
  r ^= f<1>(l, k[18], k[19]);
  l ^= f<2>(r, k[20], k[21]);
  r ^= f<3>(l, k[22], k[23]);
  if (!key->short_key) {
    l ^= f<1>(r, k[24], k[25]);
    r ^= f<2>(l, k[26], k[27]);
    l ^= f<3>(r, k[28], k[29]);
    r ^= f<1>(l, k[30], k[31]);
  }
  data[0] = r;
  data[1] = l;
}

// The same rounds from the last down, each with its own type.
[[gnu::always_inline]] inline void decrypt_block(uint32_t* data, const CAST_KEY* key) {
  const uint32_t* k = key->data;
  uint32_t l = data[0];
  uint32_t r = data[1];
  if (!key->short_key) {
    l ^= f<1>(r, k[30], k[31]);
    r ^= f<3>(l, k[28], k[29]);
    l ^= f<2>(r, k[26], k[27]);
    r ^= f<1>(l, k[24], k[25]);
  }
  l ^= f<3>(r, k[22], k[23]);
  r ^= f<2>(l, k[20], k[21]);
  l ^= f<1>(r, k[18], k[19]);
  r ^= f<3>(l, k[16], k[17]);
  l ^= f<2>(r, k[14], k[15]);
  r ^= f<1>(l, k[12], k[13]);
  l ^= f<3>(r, k[10], k[11]);
  r ^= f<2>(l, k[8], k[9]);
  l ^= f<1>(r, k[6], k[7]);
  r ^= f<3>(l, k[4], k[5]);
  l ^= f<2>(r, k[2], k[3]);
  r ^= f<1>(l, k[0], k[1]);
  data[0] = r;
  data[1] = l;
}

struct Cast {
  using Key = CAST_KEY;
  static constexpr auto kOrder = internal::WordOrder::kBig;
  [[gnu::always_inline]] static void encrypt(unsigned int* d, const Key* k) { encrypt_block(d, k); }
  [[gnu::always_inline]] static void decrypt(unsigned int* d, const Key* k) { decrypt_block(d, k); }
};

// ---- key schedule (RFC 2144, 2.4) -------------------------------------------

// The key state x0..xF and the temporary z0..zF, four big-endian words each;
// byte i of a state is byte i & 3 (from the top) of word i >> 2.
struct KeyState {
  uint32_t x[4];
  uint32_t z[4];
  uint32_t xb(int i) const { return (x[i >> 2] >> (24 - 8 * (i & 3))) & 0xff; }
  uint32_t zb(int i) const { return (z[i >> 2] >> (24 - 8 * (i & 3))) & 0xff; }
};

// One half of the schedule: 16 subkey words from the state, which is left for
// the next half to continue from.
void half_schedule(KeyState& s, uint32_t* k) {
  const uint32_t* S5 = CAST_S_table4;
  const uint32_t* S6 = CAST_S_table5;
  const uint32_t* S7 = CAST_S_table6;
  const uint32_t* S8 = CAST_S_table7;
  auto z_from_x = [&] {
    s.z[0] = s.x[0] ^ S5[s.xb(13)] ^ S6[s.xb(15)] ^ S7[s.xb(12)] ^ S8[s.xb(14)] ^ S7[s.xb(8)];
    s.z[1] = s.x[2] ^ S5[s.zb(0)] ^ S6[s.zb(2)] ^ S7[s.zb(1)] ^ S8[s.zb(3)] ^ S8[s.xb(10)];
    s.z[2] = s.x[3] ^ S5[s.zb(7)] ^ S6[s.zb(6)] ^ S7[s.zb(5)] ^ S8[s.zb(4)] ^ S5[s.xb(9)];
    s.z[3] = s.x[1] ^ S5[s.zb(10)] ^ S6[s.zb(9)] ^ S7[s.zb(11)] ^ S8[s.zb(8)] ^ S6[s.xb(11)];
  };
  auto x_from_z = [&] {
    s.x[0] = s.z[2] ^ S5[s.zb(5)] ^ S6[s.zb(7)] ^ S7[s.zb(4)] ^ S8[s.zb(6)] ^ S7[s.zb(0)];
    s.x[1] = s.z[0] ^ S5[s.xb(0)] ^ S6[s.xb(2)] ^ S7[s.xb(1)] ^ S8[s.xb(3)] ^ S8[s.zb(2)];
    s.x[2] = s.z[1] ^ S5[s.xb(7)] ^ S6[s.xb(6)] ^ S7[s.xb(5)] ^ S8[s.xb(4)] ^ S5[s.zb(1)];
    s.x[3] = s.z[3] ^ S5[s.xb(10)] ^ S6[s.xb(9)] ^ S7[s.xb(11)] ^ S8[s.xb(8)] ^ S6[s.zb(3)];
  };
  z_from_x();
  k[0] = S5[s.zb(8)] ^ S6[s.zb(9)] ^ S7[s.zb(7)] ^ S8[s.zb(6)] ^ S5[s.zb(2)];
  k[1] = S5[s.zb(10)] ^ S6[s.zb(11)] ^ S7[s.zb(5)] ^ S8[s.zb(4)] ^ S6[s.zb(6)];
  k[2] = S5[s.zb(12)] ^ S6[s.zb(13)] ^ S7[s.zb(3)] ^ S8[s.zb(2)] ^ S7[s.zb(9)];
  k[3] = S5[s.zb(14)] ^ S6[s.zb(15)] ^ S7[s.zb(1)] ^ S8[s.zb(0)] ^ S8[s.zb(12)];
  x_from_z();
  k[4] = S5[s.xb(3)] ^ S6[s.xb(2)] ^ S7[s.xb(12)] ^ S8[s.xb(13)] ^ S5[s.xb(8)];
  k[5] = S5[s.xb(1)] ^ S6[s.xb(0)] ^ S7[s.xb(14)] ^ S8[s.xb(15)] ^ S6[s.xb(13)];
  k[6] = S5[s.xb(7)] ^ S6[s.xb(6)] ^ S7[s.xb(8)] ^ S8[s.xb(9)] ^ S7[s.xb(3)];
  k[7] = S5[s.xb(5)] ^ S6[s.xb(4)] ^ S7[s.xb(10)] ^ S8[s.xb(11)] ^ S8[s.xb(7)];
  z_from_x();
  k[8] = S5[s.zb(3)] ^ S6[s.zb(2)] ^ S7[s.zb(12)] ^ S8[s.zb(13)] ^ S5[s.zb(9)];
  k[9] = S5[s.zb(1)] ^ S6[s.zb(0)] ^ S7[s.zb(14)] ^ S8[s.zb(15)] ^ S6[s.zb(12)];
  k[10] = S5[s.zb(7)] ^ S6[s.zb(6)] ^ S7[s.zb(8)] ^ S8[s.zb(9)] ^ S7[s.zb(2)];
  k[11] = S5[s.zb(5)] ^ S6[s.zb(4)] ^ S7[s.zb(10)] ^ S8[s.zb(11)] ^ S8[s.zb(6)];
  x_from_z();
  k[12] = S5[s.xb(8)] ^ S6[s.xb(9)] ^ S7[s.xb(7)] ^ S8[s.xb(6)] ^ S5[s.xb(3)];
  k[13] = S5[s.xb(10)] ^ S6[s.xb(11)] ^ S7[s.xb(5)] ^ S8[s.xb(4)] ^ S6[s.xb(7)];
  k[14] = S5[s.xb(12)] ^ S6[s.xb(13)] ^ S7[s.xb(3)] ^ S8[s.xb(2)] ^ S7[s.xb(8)];
  k[15] = S5[s.xb(14)] ^ S6[s.xb(15)] ^ S7[s.xb(1)] ^ S8[s.xb(0)] ^ S8[s.xb(13)];
}

}  // namespace

/* see morvane/cast.h */
void CAST_set_key(CAST_KEY* key, int len, const unsigned char* data) {
  // RFC 2144, 2.5: shorter keys are padded with zero bytes on the right.
  uint8_t buf[16] = {};
  if (len > 16) len = 16;
  if (len > 0) std::memcpy(buf, data, static_cast<size_t>(len));
  // Keys of 80 bits or less run 12 rounds.
  key->short_key = len <= 10 ? 1 : 0;
  KeyState s;
  for (int i = 0; i < 4; i++) s.x[i] = morvane::internal::load_be32(buf + 4 * i);
  uint32_t k[32];
  half_schedule(s, k);
  half_schedule(s, k + 16);
  for (int i = 0; i < 16; i++) {
    key->data[2 * i] = k[i];
    key->data[2 * i + 1] = (k[16 + i] + 16) & 0x1f;
  }
  internal::wipe(buf, sizeof buf);
  internal::wipe(&s, sizeof s);
  internal::wipe(k, sizeof k);
}

/* see morvane/cast.h */
void CAST_encrypt(CAST_LONG* data, const CAST_KEY* key) {
  encrypt_block(data, key);
}

/* see morvane/cast.h */
void CAST_decrypt(CAST_LONG* data, const CAST_KEY* key) {
  decrypt_block(data, key);
}

/* see morvane/cast.h */
void CAST_ecb_encrypt(const unsigned char* in, unsigned char* out, const CAST_KEY* ks, int enc) {
  internal::ecb<internal::OnWords<Cast>>(in, out, ks, enc != 0);
}

/* see morvane/cast.h */
void CAST_cbc_encrypt(const unsigned char* in, unsigned char* out, long length, const CAST_KEY* ks,
                      unsigned char* iv, int enc) {
  internal::cbc<internal::OnWords<Cast>>(in, out, internal::length_of(length), ks, iv, enc != 0);
}

/* see morvane/cast.h */
void CAST_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                        const CAST_KEY* schedule, unsigned char* ivec, int* num, int enc) {
  internal::cfb<internal::OnWords<Cast>>(in, out, internal::length_of(length), schedule, ivec, num,
                                         enc != 0);
}

/* see morvane/cast.h */
void CAST_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                        const CAST_KEY* schedule, unsigned char* ivec, int* num) {
  internal::ofb<internal::OnWords<Cast>>(in, out, internal::length_of(length), schedule, ivec, num);
}
