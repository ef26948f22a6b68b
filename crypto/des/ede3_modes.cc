// Triple-DES modes (SP 800-67 with the FIPS 81 modes): EDE CBC, CFB and OFB,
// CBC with output-feedback masking, and two-key triple DES built from three
// single-DES CBC passes.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/des.h>

#include "des/internal.h"
#include "internal/modes.h"

namespace internal = morvane::internal;
using internal::length_of;
using morvane::des::Block;
using morvane::des::Des;
using morvane::des::DesEde3;
using morvane::des::Ede3Keys;

/* see morvane/des.h */
void DES_ede3_cbc_encrypt(const unsigned char* input, unsigned char* output, long length,
                          DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                          DES_cblock* ivec, int enc) {
  const Ede3Keys k{ks1, ks2, ks3};
  internal::cbc<DesEde3>(input, output, length_of(length), &k, *ivec, enc != 0);
}

void DES_ede3_cfb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                            DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                            DES_cblock* ivec, int* num, int enc) {
  const Ede3Keys k{ks1, ks2, ks3};
  internal::cfb<DesEde3>(in, out, length_of(length), &k, *ivec, num, enc != 0);
}

void DES_ede3_cfb_encrypt(const unsigned char* in, unsigned char* out, int numbits, long length,
                          DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                          DES_cblock* ivec, int enc) {
  if (numbits < 1 || numbits > 64) return;
  const size_t bits = static_cast<size_t>(numbits);
  const Ede3Keys k{ks1, ks2, ks3};
  internal::cfb_bits<DesEde3>(in, out, length_of(length) / ((bits + 7) / 8), bits, &k, *ivec,
                              enc != 0);
}

void DES_ede3_ofb64_encrypt(const unsigned char* in, unsigned char* out, long length,
                            DES_key_schedule* k1, DES_key_schedule* k2, DES_key_schedule* k3,
                            DES_cblock* ivec, int* num) {
  const Ede3Keys k{k1, k2, k3};
  internal::ofb<DesEde3>(in, out, length_of(length), &k, *ivec, num);
}

void DES_ede3_cbcm_encrypt(const unsigned char* in, unsigned char* out, long length,
                           DES_key_schedule* ks1, DES_key_schedule* ks2, DES_key_schedule* ks3,
                           DES_cblock* ivec1, DES_cblock* ivec2, int enc) {
  // Biham and Knudsen's CBCM: every block takes a fresh mask m from an OFB
  // stream under ks3 and applies it between the three single-DES steps.
  Block m = Block::load(*ivec1), v = Block::load(*ivec2);
  for (size_t n = length_of(length); n != 0; n -= n < 8 ? n : 8, in += 8, out += 8) {
    const size_t take = n < 8 ? n : 8;
    m = Des::encrypt(m, ks3);
    if (enc != 0) {
      v = Des::encrypt(
          Des::decrypt(Des::encrypt(Block::load_partial(in, take) ^ v, ks1) ^ m, ks2) ^ m, ks1);
      v.store(out);
    } else {
      const Block c = Block::load(in);
      Block p = Des::decrypt(Des::encrypt(Des::decrypt(c, ks1) ^ m, ks2) ^ m, ks1) ^ v;
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
  // One single-DES CBC pass from a copy of `iv`.
  auto cbc = [](const DES_key_schedule* ks, const unsigned char* from, unsigned char* to, size_t n,
                const DES_cblock* iv, bool encrypt) {
    unsigned char v[8];
    memcpy(v, *iv, 8);
    internal::cbc<Des>(from, to, n, ks, v, encrypt);
  };
  unsigned char new_iv1[8], new_iv2[8];
  if (enc == DES_ENCRYPT) {
    cbc(&ks1, in, out, len, iv1, true);
    memcpy(new_iv1, out + last, 8);
    cbc(&ks2, out, out, padded, iv1, false);
    cbc(&ks1, out, out, padded, iv2, true);
    memcpy(new_iv2, out + last, 8);
  } else {
    // The three passes block by block, so that only `length` bytes are
    // written: t1 = D1(c) ^ previous c (from iv2), t2 = E2(t1 ^ previous t2)
    // (from iv1), p = D1(t2) ^ previous t2.
    Block c_prev = Block::load(*iv2), t2_prev = Block::load(*iv1);
    for (size_t off = 0; off < len; off += 8) {
      const Block c = Block::load(in + off);
      Block t = Des::decrypt(c, &ks1) ^ c_prev;
      t = Des::encrypt(t ^ t2_prev, &ks2);
      Block p = Des::decrypt(t, &ks1) ^ t2_prev;
      p.store_partial(out + off, len - off < 8 ? len - off : 8);
      morvane::des::wipe(p);
      c_prev = c;
      t2_prev = t;
      morvane::des::wipe(t);
    }
    c_prev.store(new_iv2);
    t2_prev.store(new_iv1);
    morvane::des::wipe(t2_prev);
  }
  memcpy(*iv1, new_iv1, 8);
  memcpy(*iv2, new_iv2, 8);
  internal::wipe(ks1);
  internal::wipe(ks2);
}
