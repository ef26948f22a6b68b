// AES (FIPS-197): key expansion, the equivalent inverse cipher's schedule and
// the table-driven block functions, with the one-block ECB entry point.
//
// Implementation notes: state and round-key words hold their bytes most
// significant first (column c of the state is word c).  A full round is four
// table lookups per column; the forward S-box alone is read out of the byte of
// a Te entry that holds the plain S(x), already in the position it is wanted.
// With AES-NI the block functions and the key setup run in aes_ni.cc over
// the same schedule words.

#include <stddef.h>
#include <stdint.h>

#include <morvane/aes.h>

#include "aes/aes_hw.h"
#include "aes/aes_local.h"
#include "aes/aes_tables.h"
#include "internal/byteorder.h"
#include "internal/cpu.h"

static_assert(sizeof(unsigned int) == 4 && sizeof(uint32_t) == sizeof(unsigned int));
static_assert(sizeof(AES_KEY) == 244 && offsetof(AES_KEY, rounds) == 240);
static_assert(AES_ENCRYPT == 1 && AES_DECRYPT == 0 && AES_BLOCK_SIZE == 16);

const char AES_version[] = "AES part of " MORVANE_VERSION_TEXT;

namespace aes_internal {
namespace {

using morvane::load_be32;
using morvane::store_be32;

inline uint32_t B0(uint32_t w) {
  return w >> 24;
}
inline uint32_t B1(uint32_t w) {
  return (w >> 16) & 0xff;
}
inline uint32_t B2(uint32_t w) {
  return (w >> 8) & 0xff;
}
inline uint32_t B3(uint32_t w) {
  return w & 0xff;
}

// SubWord of FIPS-197, 5.2, and SubWord(RotWord(w)).
inline uint32_t SubWord(uint32_t w) {
  return (kTe2[B0(w)] & 0xff000000u) ^ (kTe3[B1(w)] & 0x00ff0000u) ^ (kTe0[B2(w)] & 0x0000ff00u) ^
         (kTe1[B3(w)] & 0x000000ffu);
}
inline uint32_t SubRotWord(uint32_t w) {
  return (kTe2[B1(w)] & 0xff000000u) ^ (kTe3[B2(w)] & 0x00ff0000u) ^ (kTe0[B3(w)] & 0x0000ff00u) ^
         (kTe1[B0(w)] & 0x000000ffu);
}

// InvMixColumns of one round-key word (FIPS-197, 5.3.5): Td0..Td3 hold
// InvMixColumns of InvS(x), so they are indexed with S(b).
inline uint32_t InvMixWord(uint32_t w) {
  return kTd0[kTe1[B0(w)] & 0xff] ^ kTd1[kTe1[B1(w)] & 0xff] ^ kTd2[kTe1[B2(w)] & 0xff] ^
         kTd3[kTe1[B3(w)] & 0xff];
}

// SubBytes, ShiftRows, MixColumns and AddRoundKey for one column.
inline uint32_t EncRound(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return kTe0[B0(a)] ^ kTe1[B1(b)] ^ kTe2[B2(c)] ^ kTe3[B3(d)] ^ k;
}
// SubBytes and ShiftRows alone, for the last round.
inline uint32_t EncLast(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return ((kTe2[B0(a)] & 0xff000000u) ^ (kTe3[B1(b)] & 0x00ff0000u) ^ (kTe0[B2(c)] & 0x0000ff00u) ^
          (kTe1[B3(d)] & 0x000000ffu)) ^
         k;
}
inline uint32_t DecRound(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return kTd0[B0(a)] ^ kTd1[B1(b)] ^ kTd2[B2(c)] ^ kTd3[B3(d)] ^ k;
}
inline uint32_t DecLast(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t k) {
  return ((uint32_t{kTd4[B0(a)]} << 24) ^ (uint32_t{kTd4[B1(b)]} << 16) ^
          (uint32_t{kTd4[B2(c)]} << 8) ^ uint32_t{kTd4[B3(d)]}) ^
         k;
}

// The cipher (FIPS-197, 5.1): rounds - 1 full rounds and a last round without
// MixColumns.  The loop does two rounds a pass and leaves the last pass after
// its first round.  Encryption and decryption are written out separately:
// GCC keeps the state in registers better this way than through one shared
// template (about 7% faster when measured).
inline void TableEncrypt(const uint8_t* in, uint8_t* out, const AES_KEY* key) {
  const uint32_t* rk = key->rd_key;
  uint32_t s0 = load_be32(in) ^ rk[0];
  uint32_t s1 = load_be32(in + 4) ^ rk[1];
  uint32_t s2 = load_be32(in + 8) ^ rk[2];
  uint32_t s3 = load_be32(in + 12) ^ rk[3];
  uint32_t t0, t1, t2, t3;
  for (int r = key->rounds >> 1;;) {
    t0 = EncRound(s0, s1, s2, s3, rk[4]);
    t1 = EncRound(s1, s2, s3, s0, rk[5]);
    t2 = EncRound(s2, s3, s0, s1, rk[6]);
    t3 = EncRound(s3, s0, s1, s2, rk[7]);
    rk += 8;
    if (--r == 0) break;
    s0 = EncRound(t0, t1, t2, t3, rk[0]);
    s1 = EncRound(t1, t2, t3, t0, rk[1]);
    s2 = EncRound(t2, t3, t0, t1, rk[2]);
    s3 = EncRound(t3, t0, t1, t2, rk[3]);
  }
  store_be32(out, EncLast(t0, t1, t2, t3, rk[0]));
  store_be32(out + 4, EncLast(t1, t2, t3, t0, rk[1]));
  store_be32(out + 8, EncLast(t2, t3, t0, t1, rk[2]));
  store_be32(out + 12, EncLast(t3, t0, t1, t2, rk[3]));
}

// The equivalent inverse cipher (FIPS-197, 5.3.5): the same shape with the
// Td tables, InvShiftRows taking the bytes of words j, j + 3, j + 2, j + 1.
inline void TableDecrypt(const uint8_t* in, uint8_t* out, const AES_KEY* key) {
  const uint32_t* rk = key->rd_key;
  uint32_t s0 = load_be32(in) ^ rk[0];
  uint32_t s1 = load_be32(in + 4) ^ rk[1];
  uint32_t s2 = load_be32(in + 8) ^ rk[2];
  uint32_t s3 = load_be32(in + 12) ^ rk[3];
  uint32_t t0, t1, t2, t3;
  for (int r = key->rounds >> 1;;) {
    t0 = DecRound(s0, s3, s2, s1, rk[4]);
    t1 = DecRound(s1, s0, s3, s2, rk[5]);
    t2 = DecRound(s2, s1, s0, s3, rk[6]);
    t3 = DecRound(s3, s2, s1, s0, rk[7]);
    rk += 8;
    if (--r == 0) break;
    s0 = DecRound(t0, t3, t2, t1, rk[0]);
    s1 = DecRound(t1, t0, t3, t2, rk[1]);
    s2 = DecRound(t2, t1, t0, t3, rk[2]);
    s3 = DecRound(t3, t2, t1, t0, rk[3]);
  }
  store_be32(out, DecLast(t0, t3, t2, t1, rk[0]));
  store_be32(out + 4, DecLast(t1, t0, t3, t2, rk[1]));
  store_be32(out + 8, DecLast(t2, t1, t0, t3, rk[2]));
  store_be32(out + 12, DecLast(t3, t2, t1, t0, rk[3]));
}

}  // namespace

void EncryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept {
  if (morvane_cpu::Has(morvane_cpu::kAesni)) return aes_hw::NiEncryptBlock(in, out, key);
  TableEncrypt(in, out, key);
}

void DecryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept {
  if (morvane_cpu::Has(morvane_cpu::kAesni)) return aes_hw::NiDecryptBlock(in, out, key);
  TableDecrypt(in, out, key);
}

}  // namespace aes_internal

using namespace aes_internal;

/* see morvane/aes.h */
const char* AES_options(void) {
  return "aes(partial)";
}

// FIPS-197, 5.2 (KeyExpansion).
int AES_set_encrypt_key(const unsigned char* userKey, const int bits, AES_KEY* key) {
  if (userKey == nullptr || key == nullptr) return -1;
  if (bits != 128 && bits != 192 && bits != 256) return -2;
  if (bits != 192 && morvane_cpu::Has(morvane_cpu::kAesni)) {
    aes_hw::NiExpandKey(userKey, bits, key);
    return 0;
  }
  const int nk = bits / 32;
  const int rounds = nk + 6;
  const int total = 4 * (rounds + 1);
  uint32_t* w = key->rd_key;
  key->rounds = rounds;
  for (int i = 0; i < nk; i++) w[i] = load_be32(userKey + 4 * i);
  for (int i = nk; i < total; i++) {
    uint32_t temp = w[i - 1];
    if (i % nk == 0)
      temp = SubRotWord(temp) ^ kRcon[i / nk - 1];
    else if (nk == 8 && i % 8 == 4)
      temp = SubWord(temp);
    w[i] = w[i - nk] ^ temp;
  }
  return 0;
}

// FIPS-197, 5.3.5: the encryption schedule in reverse round order, with
// InvMixColumns applied to every round key but the first and the last.
int AES_set_decrypt_key(const unsigned char* userKey, const int bits, AES_KEY* key) {
  const int status = AES_set_encrypt_key(userKey, bits, key);
  if (status < 0) return status;
  if (morvane_cpu::Has(morvane_cpu::kAesni)) {
    aes_hw::NiInvertSchedule(key);
    return 0;
  }
  uint32_t* rk = key->rd_key;
  const int rounds = key->rounds;
  for (int i = 0, j = 4 * rounds; i < j; i += 4, j -= 4) {
    for (int k = 0; k < 4; k++) {
      const uint32_t t = rk[i + k];
      rk[i + k] = rk[j + k];
      rk[j + k] = t;
    }
  }
  for (int i = 4; i < 4 * rounds; i++) rk[i] = InvMixWord(rk[i]);
  return 0;
}

void AES_encrypt(const unsigned char* in, unsigned char* out, const AES_KEY* key) {
  EncryptBlock(in, out, key);
}

void AES_decrypt(const unsigned char* in, unsigned char* out, const AES_KEY* key) {
  DecryptBlock(in, out, key);
}

void AES_ecb_encrypt(const unsigned char* in, unsigned char* out, const AES_KEY* key,
                     const int enc) {
  if (enc == AES_ENCRYPT)
    EncryptBlock(in, out, key);
  else
    DecryptBlock(in, out, key);
}
