// Single-DES modes over caller buffers (FIPS 81): CBC in its two forms,
// propagating CBC, CFB and OFB in every width, and DESX in CBC mode.

#include <morvane/des.h>

#include "des/des_local.h"
#include "des/des_modes.h"

using morvane::des::Block;
using morvane::des::byte_count;
using morvane::des::Des;

/* see morvane/des.h */
void DES_ncbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                      DES_key_schedule* _schedule, DES_cblock* ivec, int enc) {
  Block v =
      morvane::des::cbc(Des{_schedule}, in, out, byte_count(length), Block::load(*ivec), enc != 0);
  v.store(*ivec);
  morvane::des::wipe(v);
}

void DES_cbc_encrypt(const unsigned char* in, unsigned char* out, long length,
                     DES_key_schedule* _schedule, DES_cblock* ivec, int enc) {
  Block v =
      morvane::des::cbc(Des{_schedule}, in, out, byte_count(length), Block::load(*ivec), enc != 0);
  morvane::des::wipe(v);
}

void DES_pcbc_encrypt(const unsigned char* input, unsigned char* output, long length,
                      DES_key_schedule* schedule, DES_cblock* ivec, int enc) {
  const Des des{schedule};
  Block x = Block::load(*ivec);
  for (size_t n = byte_count(length); n != 0; n -= n < 8 ? n : 8, input += 8, output += 8) {
    const size_t take = n < 8 ? n : 8;
    if (enc != 0) {
      const Block p = Block::load_partial(input, take);
      const Block c = des.encrypt(p ^ x);
      c.store(output);
      x = p ^ c;
    } else {
      const Block c = Block::load(input);
      const Block p = des.decrypt(c) ^ x;
      p.store_partial(output, take);
      x = p ^ c;
    }
  }
  morvane::des::wipe(x);
}

void DES_cfb_encrypt(const unsigned char* in, unsigned char* out, int numbits, long length,
                     DES_key_schedule* schedule, DES_cblock* ivec, int enc) {
  morvane::des::cfb_bits(Des{schedule}, in, out, numbits, length, *ivec, enc != 0);
}

void DES_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                       DES_key_schedule* schedule, DES_cblock* ivec, int* num, int enc) {
  morvane::des::cfb64(Des{schedule}, in, out, length, *ivec, num, enc != 0);
}

void DES_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                       DES_key_schedule* schedule, DES_cblock* ivec, int* num) {
  morvane::des::ofb64(Des{schedule}, in, out, length, *ivec, num);
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
  const Des des{schedule};
  Block s = Block::load(*ivec);
  Block e{};
  for (long units = length; units > 0; units--, in += w, out += w) {
    e = des.encrypt(s);
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
  const Des des{schedule};
  const Block iw = Block::load(*inw), ow = Block::load(*outw);
  Block v = Block::load(*ivec);
  for (size_t n = byte_count(length); n != 0; n -= n < 8 ? n : 8, in += 8, out += 8) {
    const size_t take = n < 8 ? n : 8;
    if (enc != 0) {
      v = des.encrypt(Block::load_partial(in, take) ^ v ^ iw) ^ ow;
      v.store(out);
    } else {
      const Block c = Block::load(in);
      Block p = des.decrypt(c ^ ow) ^ v ^ iw;
      p.store_partial(out, take);
      morvane::des::wipe(p);
      v = c;
    }
  }
  v.store(*ivec);
  morvane::des::wipe(v);
}
