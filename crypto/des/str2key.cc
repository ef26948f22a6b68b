// DES keys from text: the text is fan-folded into 8 key bytes (forward, then
// backward and bit-reversed), the key gets odd parity, and the final key is
// the CBC-MAC of the text under that key with the key as IV.  This is the
// construction of the Kerberos DES string-to-key (RFC 3961, 6.2), without the
// salt and the weak-key correction.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/des.h>

namespace {

// The bits of c in reverse order: bit 0 becomes bit 7 and so on.
constexpr unsigned char reverse_bits(unsigned char c) {
  unsigned v = c;
  v = (v << 4 & 0xf0u) | (v >> 4 & 0x0fu);
  v = (v << 2 & 0xccu) | (v >> 2 & 0x33u);
  v = (v << 1 & 0xaau) | (v >> 1 & 0x55u);
  return static_cast<unsigned char>(v);
}
static_assert(reverse_bits(0x01) == 0x80 && reverse_bits(0x5c) == 0x3a);

// Folds one text byte into key byte j (0 to 7): going forward the byte is
// shifted left by one (the low bit is the parity bit); going backward it is
// bit-reversed and lands in byte 7 - j.
void fold(unsigned char* key, bool forward, size_t j, unsigned char c) {
  if (forward) {
    key[j] ^= static_cast<unsigned char>(c << 1);
  } else {
    key[7 - j] ^= reverse_bits(c);
  }
}

// The CBC-MAC of the text under the (odd-parity) key, chained from the key,
// stored back into the key with odd parity.
void finish(const char* str, size_t n, DES_cblock* key, DES_key_schedule* ks) {
  DES_set_odd_parity(key);
  DES_set_key_unchecked(key, ks);
  DES_cbc_cksum(reinterpret_cast<const unsigned char*>(str), key, static_cast<long>(n), ks, key);
  DES_set_odd_parity(key);
}

}  // namespace

/* see morvane/des.h */
void DES_string_to_key(const char* str, DES_cblock* key) {
  const size_t n = strlen(str);
  memset(*key, 0, sizeof(DES_cblock));
  // Cycles of 16: 8 bytes forward, 8 backward.
  for (size_t i = 0; i < n; i++) fold(*key, i % 16 < 8, i % 8, static_cast<unsigned char>(str[i]));
  DES_key_schedule ks;
  finish(str, n, key, &ks);
  MORVANE_cleanse(&ks, sizeof(ks));
}

void DES_string_to_2keys(const char* str, DES_cblock* key1, DES_cblock* key2) {
  const size_t n = strlen(str);
  memset(*key1, 0, sizeof(DES_cblock));
  memset(*key2, 0, sizeof(DES_cblock));
  // Cycles of 32: 8 bytes forward into key1, 8 forward into key2, 8 backward
  // into key1, 8 backward into key2.
  for (size_t i = 0; i < n; i++)
    fold(i % 16 < 8 ? *key1 : *key2, i % 32 < 16, i % 8, static_cast<unsigned char>(str[i]));
  if (n <= 8) memcpy(*key2, *key1, sizeof(DES_cblock));
  DES_key_schedule ks;
  finish(str, n, key1, &ks);
  finish(str, n, key2, &ks);
  MORVANE_cleanse(&ks, sizeof(ks));
}
