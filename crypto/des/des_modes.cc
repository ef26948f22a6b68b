// Single-DES modes over caller buffers (FIPS 81): CBC in its two forms,
// propagating CBC, CFB and OFB in every width, and DESX in CBC mode.  CBC,
// 64-bit CFB and OFB and r-bit CFB are the shared modes (internal/modes.h).

#include <string.h>

#include <morvane/des.h>

#include "des/internal.h"
#include "internal/modes.h"

namespace internal = morvane::internal;
using internal::length_of;
using morvane::des::Block;
using morvane::des::Des;

/* see morvane/des.h */
void DES_ncbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                      DES_key_schedule* _schedule, DES_cblock* ivec, int enc) {
  internal::cbc<Des>(in, out, length_of(length), _schedule, *ivec, enc != 0);
}

// The same, leaving the caller's IV as it was.
void DES_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                     DES_key_schedule* _schedule, DES_cblock* ivec, int enc) {
  unsigned char iv[8];
  memcpy(iv, *ivec, 8);
  internal::cbc<Des>(in, out, length_of(length), _schedule, iv, enc != 0);
  internal::wipe(iv);
}

void DES_pcbc_encrypt(const unsigned char* input, unsigned char* output, long length,
                      DES_key_schedule* schedule, DES_cblock* ivec, int enc) {
  Block x = Block::load(*ivec);
  for (size_t n = length_of(length); n != 0; n -= n < 8 ? n : 8, input += 8, output += 8) {
    const size_t take = n < 8 ? n : 8;
    if (enc != 0) {
      const Block p = Block::load_partial(input, take);
      const Block c = Des::encrypt(p ^ x, schedule);
      c.store(output);
      x = p ^ c;
    } else {
      const Block c = Block::load(input);
      const Block p = Des::decrypt(c, schedule) ^ x;
      p.store_partial(output, take);
      x = p ^ c;
    }
  }
  morvane::des::wipe(x);
}

void DES_cfb_encrypt(const unsigned char* in, unsigned char* out, int numbits, long length,
                     DES_key_schedule* schedule, DES_cblock* ivec, int enc) {
  if (numbits < 1 || numbits > 64) return;
  const size_t bits = static_cast<size_t>(numbits);
  internal::cfb_bits<Des>(in, out, length_of(length) / ((bits + 7) / 8), bits, schedule, *ivec,
                          enc != 0);
}

void DES_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                       DES_key_schedule* schedule, DES_cblock* ivec, int* num, int enc) {
  internal::cfb<Des>(in, out, length_of(length), schedule, *ivec, num, enc != 0);
}

void DES_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                       DES_key_schedule* schedule, DES_cblock* ivec, int* num) {
  internal::ofb<Des>(in, out, length_of(length), schedule, *ivec, num);
}

void DES_ofb_encrypt(const unsigned char* in, unsigned char* out, int numbits, long length,
                     DES_key_schedule* schedule, DES_cblock* ivec) {
  // OFB with k-bit units (FIPS 81, 7) on the register's two words.  For k a
  // multiple of 8 the register drops its first k/8 bytes and takes in the
  // first k/8 keystream bytes; for other k the unit is the low-order bits,
  // counted upward from bit 0 of byte 0.
  if (numbits < 1 || numbits > 64) return;
  const unsigned k = static_cast<unsigned>(numbits);
  const size_t w = (k + 7) / 8;
  const uint32_t mask0 = k >= 32 ? 0xffffffffu : (uint32_t{1} << k) - 1;
  const uint32_t mask1 = k == 64 ? 0xffffffffu : k > 32 ? (uint32_t{1} << (k - 32)) - 1 : 0;
  Block s = Block::load(*ivec);
  Block e{};
  for (long units = length; units > 0; units--, in += w, out += w) {
    e = Des::encrypt(s, schedule);
    const Block x = Block::load_partial(in, w);
    const Block o{{(x.w[0] ^ e.w[0]) & mask0, (x.w[1] ^ e.w[1]) & mask1}};
    o.store_partial(out, w);
    if (k == 64) {
      s = e;
    } else if (k == 32) {
      s = Block{{s.w[1], e.w[0]}};
    } else if (k < 32) {
      s = Block{{s.w[0] >> k | s.w[1] << (32 - k), s.w[1] >> k | e.w[0] << (32 - k)}};
    } else {
      s = Block{{s.w[1] >> (k - 32) | e.w[0] << (64 - k), e.w[0] >> (k - 32) | e.w[1] << (64 - k)}};
    }
  }
  s.store(*ivec);
  morvane::des::wipe(s);
  morvane::des::wipe(e);
}

void DES_xcbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                      DES_key_schedule* schedule, DES_cblock* ivec, const_DES_cblock* inw,
                      const_DES_cblock* outw, int enc) {
  // DESX (Rivest): E(p ^ inw) ^ outw, chained in CBC.
  const Block iw = Block::load(*inw), ow = Block::load(*outw);
  Block v = Block::load(*ivec);
  for (size_t n = length_of(length); n != 0; n -= n < 8 ? n : 8, in += 8, out += 8) {
    const size_t take = n < 8 ? n : 8;
    if (enc != 0) {
      v = Des::encrypt(Block::load_partial(in, take) ^ v ^ iw, schedule) ^ ow;
      v.store(out);
    } else {
      const Block c = Block::load(in);
      Block p = Des::decrypt(c ^ ow, schedule) ^ v ^ iw;
      p.store_partial(out, take);
      morvane::des::wipe(p);
      v = c;
    }
  }
  v.store(*ivec);
  morvane::des::wipe(v);
}
