// RC4: the key-scheduling algorithm and the keystream generator.
//
// Implementation notes: the generator keeps i, j and the table pointer in
// locals and writes out the steps for eight bytes at a time, then finishes the
// last zero to seven bytes one by one; the output is that of the byte-wise
// algorithm.

#include <cstddef>
#include <cstdint>

#include <morvane/rc4.h>

static_assert(sizeof(RC4_KEY) == (2 + 256) * sizeof(unsigned int));
static_assert(offsetof(RC4_KEY, data) == 2 * sizeof(unsigned int));

const char RC4_version[] = "RC4 part of " MORVANE_VERSION_TEXT;

/* see morvane/rc4.h */
void RC4_set_key(RC4_KEY* key, int len, const unsigned char* data) {
  unsigned int* s = key->data;
  key->x = 0;
  key->y = 0;
  for (unsigned int k = 0; k < 256; k++) s[k] = k;
  // An empty key acts as the one-byte key 0x00 and reads nothing.
  static constexpr unsigned char kZero = 0;
  if (len <= 0) {
    data = &kZero;
    len = 1;
  }
  const size_t n = static_cast<size_t>(len);
  unsigned int j = 0;
  size_t p = 0;
  for (unsigned int k = 0; k < 256; k++) {
    const unsigned int t = s[k];
    j = (j + t + data[p]) & 0xff;
    if (++p == n) p = 0;
    s[k] = s[j];
    s[j] = t;
  }
}

namespace {

// One step of the generator: advance i and j, swap S[i] and S[j], and return
// the keystream byte S[S[i] + S[j]].
inline unsigned int step(unsigned int* s, unsigned int& x, unsigned int& y) {
  x = (x + 1) & 0xff;
  const unsigned int a = s[x];
  y = (y + a) & 0xff;
  const unsigned int b = s[y];
  s[x] = b;
  s[y] = a;
  return s[(a + b) & 0xff];
}

}  // namespace

/* see morvane/rc4.h */
void RC4(RC4_KEY* key, unsigned long len, const unsigned char* indata, unsigned char* outdata) {
  unsigned int* s = key->data;
  unsigned int x = key->x;
  unsigned int y = key->y;
  for (; len >= 8; len -= 8, indata += 8, outdata += 8) {
    outdata[0] = static_cast<unsigned char>(indata[0] ^ step(s, x, y));
    outdata[1] = static_cast<unsigned char>(indata[1] ^ step(s, x, y));
    outdata[2] = static_cast<unsigned char>(indata[2] ^ step(s, x, y));
    outdata[3] = static_cast<unsigned char>(indata[3] ^ step(s, x, y));
    outdata[4] = static_cast<unsigned char>(indata[4] ^ step(s, x, y));
    outdata[5] = static_cast<unsigned char>(indata[5] ^ step(s, x, y));
    outdata[6] = static_cast<unsigned char>(indata[6] ^ step(s, x, y));
    outdata[7] = static_cast<unsigned char>(indata[7] ^ step(s, x, y));
  }
  for (; len != 0; len--) *outdata++ = static_cast<unsigned char>(*indata++ ^ step(s, x, y));
  key->x = x;
  key->y = y;
}

/* see morvane/rc4.h */
const char* RC4_options(void) {
  return "rc4(ptr,int)";
}
