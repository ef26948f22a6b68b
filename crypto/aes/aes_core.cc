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
#include "aes/internal.h"
#include "aes/aes_tables.h"
#include "internal/byteorder.h"
#include "internal/cpu.h"

static_assert(sizeof(unsigned int) == 4 && sizeof(uint32_t) == sizeof(unsigned int));
static_assert(sizeof(AES_KEY) == 244 && offsetof(AES_KEY, rounds) == 240);
static_assert(AES_ENCRYPT == 1 && AES_DECRYPT == 0 && AES_BLOCK_SIZE == 16);

const char AES_version[] = "AES part of " MORVANE_VERSION_TEXT;

namespace morvane::aes {
namespace {

using morvane::internal::load_be32;
using morvane::internal::store_be32;

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

// The table code on bytes, kept out of line so that the AES-NI path of the
// block functions below stays a bare tail call (no frame set up per block).
[[gnu::noinline]] void TableEncryptBytes(const uint8_t* in, uint8_t* out,
                                         const AES_KEY* key) noexcept {
  TableEncrypt(Block::load(in), key).store(out);
}

[[gnu::noinline]] void TableDecryptBytes(const uint8_t* in, uint8_t* out,
                                         const AES_KEY* key) noexcept {
  TableDecrypt(Block::load(in), key).store(out);
}

}  // namespace

void EncryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept {
  if (internal::Has(internal::kAesni)) return NiEncryptBlock(in, out, key);
  TableEncryptBytes(in, out, key);
}

void DecryptBlock(const uint8_t* in, uint8_t* out, const AES_KEY* key) noexcept {
  if (internal::Has(internal::kAesni)) return NiDecryptBlock(in, out, key);
  TableDecryptBytes(in, out, key);
}

}  // namespace morvane::aes

using namespace morvane::aes;

/* see morvane/aes.h */
const char* AES_options(void) {
  return "aes(partial)";
}

// FIPS-197, 5.2 (KeyExpansion).
int AES_set_encrypt_key(const unsigned char* userKey, const int bits, AES_KEY* key) {
  if (userKey == nullptr || key == nullptr) return -1;
  if (bits != 128 && bits != 192 && bits != 256) return -2;
  if (morvane::internal::Has(morvane::internal::kAesni)) {
    morvane::aes::NiExpandKey(userKey, bits, key);
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
  if (morvane::internal::Has(morvane::internal::kAesni)) {
    morvane::aes::NiInvertSchedule(key);
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
