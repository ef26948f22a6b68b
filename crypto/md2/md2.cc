// MD2 (RFC 1319): 16-byte blocks, a 16-byte checksum appended to the
// message, and the C entry points.  MD2 keeps its own buffer; it does not use
// the 64-byte block scheme of the other digests.
//
// Implementation notes: state and checksum are unsigned ints each holding one
// byte value (MD2_options says "md2(int)"); the S table is bytes, which the
// chain of 864 dependent lookups per block reads measurably faster than a
// table of ints.  The 48-word scratch of the compression function lives in
// the calling entry point and is wiped once before it returns, whatever the
// number of blocks.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include <morvane/crypto.h>
#include <morvane/md2.h>

#include "internal/digest.h"

const char MD2_version[] = "MD2 part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(MD2_CTX) == 148);
static_assert(offsetof(MD2_CTX, data) == 4 && offsetof(MD2_CTX, cksm) == 20 &&
              offsetof(MD2_CTX, state) == 84);

namespace {

constexpr size_t kBlock = MD2_BLOCK;

// clang-format off
// RFC 1319, 3.2: the permutation of 0..255 built from the digits of pi.
constexpr uint8_t kS[256] = {
     41,  46,  67, 201, 162, 216, 124,   1,  61,  54,  84, 161, 236, 240,   6,  19,
     98, 167,   5, 243, 192, 199, 115, 140, 152, 147,  43, 217, 188,  76, 130, 202,
     30, 155,  87,  60, 253, 212, 224,  22, 103,  66, 111,  24, 138,  23, 229,  18,
    190,  78, 196, 214, 218, 158, 222,  73, 160, 251, 245, 142, 187,  47, 238, 122,
    169, 104, 121, 145,  21, 178,   7,  63, 148, 194,  16, 137,  11,  34,  95,  33,
    128, 127,  93, 154,  90, 144,  50,  39,  53,  62, 204, 231, 191, 247, 151,   3,
    255,  25,  48, 179,  72, 165, 181, 209, 215,  94, 146,  42, 172,  86, 170, 198,
     79, 184,  56, 210, 150, 164, 125, 182, 118, 252, 107, 226, 156, 116,   4, 241,
     69, 157, 112,  89, 100, 113, 135,  32, 134,  91, 207, 101, 230,  45, 168,   2,
     27,  96,  37, 173, 174, 176, 185, 246,  28,  70,  97, 105,  52,  64, 126,  15,
     85,  71, 163,  35, 221,  81, 175,  58, 195,  92, 249, 206, 186, 197, 234,  38,
     44,  83,  13, 110, 133,  40, 132,   9, 211, 223, 205, 244,  65, 129,  77,  82,
    106, 220,  55, 200, 108, 193, 171, 250,  36, 225, 123,   8,  12, 189, 177,  74,
    120, 136, 149, 139, 227,  99, 232, 109, 233, 203, 213, 254,  59,   0,  29,  57,
    242, 239, 183,  14, 102,  88, 208, 228, 166, 119, 114, 248, 235, 117,  75,  10,
     49,  68,  80, 180, 143, 237,  31,  26, 219, 153, 141,  51, 159,  17, 131,  20,
};
// clang-format on

using Scratch = unsigned int[48];

// RFC 1319, 3.2 and 3.4: folds the 16 bytes at d into the checksum and the
// state.
void compress(MD2_CTX* c, const uint8_t* d, Scratch& x) noexcept {
  for (size_t i = 0; i < kBlock; i++) {
    x[i] = c->state[i];
    x[16 + i] = d[i];
    x[32 + i] = c->state[i] ^ d[i];
  }
  // Each step's result feeds the next lookup: 864 steps of one load and one
  // XOR, the whole cost of the block.
  unsigned int t = 0;
  for (unsigned int j = 0; j < 18; j++) {
#pragma GCC unroll 48
    for (size_t k = 0; k < 48; k++) {
      t = x[k] ^ kS[t];
      x[k] = t;
    }
    t = (t + j) & 0xff;
  }
  std::memcpy(c->state, x, sizeof(c->state));
  // The checksum depends on the data alone, not on the state: updated last,
  // its chain of lookups runs alongside the next block's steps.
  unsigned int l = c->cksm[15];
  for (size_t i = 0; i < kBlock; i++) l = c->cksm[i] ^= kS[d[i] ^ l];
}

constinit unsigned char g_oneshot_md[MD2_DIGEST_LENGTH];

}  // namespace

/* see morvane/md2.h */
const char* MD2_options(void) {
  return "md2(int)";
}

int MD2_Init(MD2_CTX* c) {
  std::memset(c, 0, sizeof(*c));
  return 1;
}

int MD2_Update(MD2_CTX* c, const unsigned char* data, size_t len) {
  if (len == 0 || morvane::internal::digest_length_is_negative(len)) return 1;
  if (c->num != 0) {
    if (c->num + len < kBlock) {
      std::memcpy(c->data + c->num, data, len);
      c->num += static_cast<unsigned int>(len);
      return 1;
    }
    const size_t take = kBlock - c->num;
    std::memcpy(c->data + c->num, data, take);
    data += take;
    len -= take;
    c->num = 0;
    Scratch x;
    compress(c, c->data, x);
    MORVANE_cleanse(x, sizeof(x));
  }
  if (len >= kBlock) {
    Scratch x;
    for (; len >= kBlock; len -= kBlock, data += kBlock) compress(c, data, x);
    MORVANE_cleanse(x, sizeof(x));
  }
  std::memcpy(c->data, data, len);
  c->num = static_cast<unsigned int>(len);
  return 1;
}

int MD2_Final(unsigned char* md, MD2_CTX* c) {
  // RFC 1319, 3.1: pad with v bytes of value v, 1 <= v <= 16.
  const unsigned int v = kBlock - c->num;
  std::memset(c->data + c->num, static_cast<int>(v), v);
  Scratch x;
  compress(c, c->data, x);
  // RFC 1319, 3.2: append the checksum as one more block.
  for (size_t i = 0; i < kBlock; i++) c->data[i] = static_cast<unsigned char>(c->cksm[i]);
  compress(c, c->data, x);
  MORVANE_cleanse(x, sizeof(x));
  for (size_t i = 0; i < kBlock; i++) md[i] = static_cast<unsigned char>(c->state[i]);
  std::memset(c, 0, sizeof(*c));
  return 1;
}

unsigned char* MD2(const unsigned char* d, size_t n, unsigned char* md) {
  return morvane::internal::digest_oneshot<MD2_CTX, MD2_Init, MD2_Update, MD2_Final>(d, n, md,
                                                                                     g_oneshot_md);
}
