// Triple-DES modes (SP 800-67 with the FIPS 81 modes): EDE CBC, CFB and OFB,
// CBC with output-feedback masking, and two-key triple DES built from three
// single-DES CBC passes.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/des.h>

#include "des/des_local.h"
#include "des/des_modes.h"

using morvane::des::Block;
using morvane::des::byte_count;
using morvane::des::Des;
using morvane::des::DesEde3;

/* see morvane/des.h */
void DES_ede3_cbc_encrypt(const unsigned char* input, unsigned char* output, long length,
                          DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                          DES_cblock* ivec, int enc) {
  Block v = morvane::des::cbc(DesEde3{ks1, ks2, ks3}, input, output, byte_count(length),
                              Block::load(*ivec), enc != 0);
  v.store(*ivec);
  morvane::des::wipe(v);
}

void DES_ede3_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                            DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                            DES_cblock* ivec, int* num, int enc) {
  morvane::des::cfb64(DesEde3{ks1, ks2, ks3}, in, out, length, *ivec, num, enc != 0);
}

void DES_ede3_cfb_encrypt(const unsigned char* in, unsigned char* out, int numbits, long length,
                          DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                          DES_cblock* ivec, int enc) {
  morvane::des::cfb_bits(DesEde3{ks1, ks2, ks3}, in, out, numbits, length, *ivec, enc != 0);
}

void DES_ede3_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                            DES_key_schedule* k1, DES_key_schedule* k2, DES_key_schedule* k3,
                            DES_cblock* ivec, int* num) {
  morvane::des::ofb64(DesEde3{k1, k2, k3}, in, out, length, *ivec, num);
}

void DES_ede3_cbcm_encrypt(const unsigned char* in, unsigned char* out, long length,
                           DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                           DES_cblock* ivec1, DES_cblock* ivec2, int enc) {
  // Biham and Knudsen's CBCM: every block takes a fresh mask m from an OFB
  // stream under ks3 and applies it between the three single-DES steps.
  const Des d1{ks1}, d2{ks2}, d3{ks3};
  Block m = Block::load(*ivec1), v = Block::load(*ivec2);
  for (size_t n = byte_count(length); n != 0; n -= n < 8 ? n : 8, in += 8, out += 8) {
    const size_t take = n < 8 ? n : 8;
    m = d3.encrypt(m);
    if (enc != 0) {
      v = d1.encrypt(d2.decrypt(d1.encrypt(Block::load_partial(in, take) ^ v) ^ m) ^ m);
      v.store(out);
    } else {
      const Block c = Block::load(in);
      Block p = d1.decrypt(d2.encrypt(d1.decrypt(c) ^ m) ^ m) ^ v;
      p.store_partial(out, take);
      morvane::des::wipe(p);
      v = c;
    }
  }
  m.store(*ivec1);
  v.store(*ivec2);
  morvane::des::wipe(m);
  morvane::des::wipe(v);
}

void DES_3cbc_encrypt(DES_cblock* input, DES_cblock* output, long length, DES_key_schedule ks1,
                      DES_key_schedule ks2, DES_cblock* iv1, DES_cblock* iv2, int enc) {
  // Nothing to process leaves both IVs as they were; otherwise the last block
  // (index (length-1)/8) exists in every buffer read below, also for a length
  // below 8, so the new IVs are always defined.
  if (length <= 0) return;
  const size_t len = static_cast<size_t>(length);
  const size_t padded = (len + 7) & ~size_t{7};
  const size_t last = (len - 1) / 8 * 8;
  const unsigned char* in = *input;
  unsigned char* out = *output;
  const Des des1{&ks1}, des2{&ks2};
  using morvane::des::cbc;
  unsigned char new_iv1[8], new_iv2[8];
  if (enc == DES_ENCRYPT) {
    cbc(des1, in, out, len, Block::load(*iv1), true);
    memcpy(new_iv1, out + last, 8);
    cbc(des2, out, out, padded, Block::load(*iv1), false);
    cbc(des1, out, out, padded, Block::load(*iv2), true);
    memcpy(new_iv2, out + last, 8);
  } else {
    memcpy(new_iv2, in + last, 8);
    cbc(des1, in, out, padded, Block::load(*iv2), false);
    cbc(des2, out, out, padded, Block::load(*iv1), true);
    memcpy(new_iv1, out + last, 8);
    cbc(des1, out, out, len, Block::load(*iv1), false);
  }
  memcpy(*iv1, new_iv1, 8);
  memcpy(*iv2, new_iv2, 8);
  MORVANE_cleanse(&ks1, sizeof(ks1));
  MORVANE_cleanse(&ks2, sizeof(ks2));
}
