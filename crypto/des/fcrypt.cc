// The traditional Unix password hash (Seventh Edition crypt(3)): 25 DES
// encryptions of the zero block under the password, with the expansion E
// perturbed by a 12-bit salt, printed as 13 characters.

#include <morvane/crypto.h>
#include <morvane/des.h>

#include "des/internal.h"

namespace {

// The 64 characters of the printed form, in value order.
constexpr char kCov2Char[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// The value of a salt character: "." and "/" are 0 and 1, digits 2 to 11,
// "A"-"Z" 12 to 37, "a"-"z" 38 to 63.  Characters outside the alphabet keep
// the historical arithmetic (modulo 256); only the low seven bits of a
// character are looked at, so no byte value reaches past the 128 entries.
constexpr unsigned con_salt(unsigned char ch) {
  const unsigned c = ch & 0x7fu;
  const unsigned v = c <= '9' ? c - '.' : c <= 'Z' ? c - ('A' - 12) : c - ('a' - 38);
  return v & 0xffu;
}
static_assert(con_salt('.') == 0 && con_salt('9') == 11 && con_salt('A') == 12 &&
              con_salt('z') == 63 && con_salt(0) == 210);

// One round with the salt: E-bits k and k+16 exchanged for each bit k set in
// the mask of that half of the lookups (Eswap0 pairs S-box 1 with 5, Eswap1
// S-box 2 with 6).
inline void salted_feistel(uint32_t& l, uint32_t r, const DES_LONG* k, uint32_t e0, uint32_t e1) {
  uint32_t v = (r ^ (r >> 16)) & e0;
  const uint32_t u = r ^ v ^ (v << 16) ^ k[0];
  v = (r ^ (r >> 16)) & e1;
  l = morvane::des::sp_xor(l, u, r ^ v ^ (v << 16) ^ k[1]);
}

}  // namespace

/* see morvane/des.h */
void fcrypt_body(DES_LONG* out, DES_key_schedule* ks, DES_LONG Eswap0, DES_LONG Eswap1) {
  // IP of the zero block is zero, and IP and FP cancel between the 25
  // encryptions, so the halves stay in the rotated frame throughout.
  uint32_t l = 0, r = 0;
  for (int j = 0; j < 25; j++) {
    for (int i = 0; i < 16; i += 2) {
      salted_feistel(l, r, ks->ks[i].deslong, Eswap0, Eswap1);
      salted_feistel(r, l, ks->ks[i + 1].deslong, Eswap0, Eswap1);
    }
    const uint32_t t = l;
    l = r;
    r = t;
  }
  uint32_t w0 = std::rotr(r, 3), w1 = std::rotr(l, 3);
  morvane::des::final_permutation(w0, w1);
  out[0] = w0;
  out[1] = w1;
}

char* DES_fcrypt(const char* buf, const char* salt, char* ret) {
  // A salt ends at its NUL: the second character is read only after a first.
  const unsigned char s0 = salt[0] != '\0' ? static_cast<unsigned char>(salt[0]) : 'A';
  const unsigned char s1 =
      salt[0] != '\0' && salt[1] != '\0' ? static_cast<unsigned char>(salt[1]) : 'A';
  ret[0] = static_cast<char>(s0);
  ret[1] = static_cast<char>(s1);

  // Seven bits of each of the first 8 characters, shifted over the parity bit.
  unsigned char key[8] = {};
  for (int i = 0; i < 8 && buf[i] != '\0'; i++)
    key[i] = static_cast<unsigned char>(static_cast<unsigned char>(buf[i]) << 1);
  DES_key_schedule ks;
  morvane::des::set_key(key, &ks);

  DES_LONG out[2];
  fcrypt_body(out, &ks, con_salt(s0) << 2, con_salt(s1) << 6);
  unsigned char b[9];
  morvane::internal::store_le32(b, out[0]);
  morvane::internal::store_le32(b + 4, out[1]);
  b[8] = 0;

  // 66 bits, six at a time, most significant first.
  for (int i = 2, bit = 0; i < 13; i++) {
    unsigned v = 0;
    for (int j = 0; j < 6; j++, bit++) v = v << 1 | (b[bit >> 3] >> (7 - (bit & 7)) & 1u);
    ret[i] = kCov2Char[v];
  }
  ret[13] = '\0';

  MORVANE_cleanse(key, sizeof(key));
  MORVANE_cleanse(&ks, sizeof(ks));
  MORVANE_cleanse(out, sizeof(out));
  MORVANE_cleanse(b, sizeof(b));
  return ret;
}

char* DES_crypt(const char* buf, const char* salt) {
  static char result[16];
  return DES_fcrypt(buf, salt, result);
}
