// DES and three-key triple DES in CBC (encryption, and decryption, whose
// blocks are independent), and the DES key schedule, in Morvane, Nettle and
// libgcrypt.

#include <stdint.h>
#include <string.h>

#include <string>

#include <gcrypt.h>
#include <nettle/cbc.h>
#include <nettle/des.h>

#include <morvane/des.h>

#include "bench.h"

namespace bench {
namespace {

// const_DES_cblock is not const-qualified; the key setup only reads it.
const_DES_cblock* Cblock(const uint8_t* p) {
  return reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(p));
}

// CBC over single DES (`triple` false) or three-key triple DES in the three
// libraries, one direction.
void CbcRow(bool triple, bool encrypt) {
  const int dir = encrypt ? DES_ENCRYPT : DES_DECRYPT;
  const std::string name = std::string(triple ? "3des" : "des") + (encrypt ? "-cbc-enc" : "-cbc-dec");
  Throughput(name, kCheckLen,
             {Op("morvane",
                 [triple, dir] {
                   struct State {
                     DES_key_schedule ks[3];
                     DES_cblock iv;
                   } s;
                   for (int i = 0; i < 3; i++)
                     DES_set_key_unchecked(Cblock(kKey + 8 * i), &s.ks[i]);
                   memcpy(s.iv, kIv, 8);
                   return [s, triple, dir](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     if (triple)
                       DES_ede3_cbc_encrypt(in, out, static_cast<long>(len), &s.ks[0], &s.ks[1],
                                            &s.ks[2], &s.iv, dir);
                     else
                       DES_ncbc_encrypt(in, out, static_cast<long>(len), &s.ks[0], &s.iv, dir);
                   };
                 }),
              Op("nettle",
                 [triple, encrypt] {
                   struct State {
                     des_ctx one;
                     des3_ctx three;
                     uint8_t iv[8];
                   } s;
                   des_set_key(&s.one, kKey);
                   des3_set_key(&s.three, kKey);
                   memcpy(s.iv, kIv, 8);
                   return [s, triple, encrypt](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     void* ctx = triple ? static_cast<void*>(&s.three) : static_cast<void*>(&s.one);
                     nettle_cipher_func* f =
                         triple ? reinterpret_cast<nettle_cipher_func*>(encrypt ? des3_encrypt
                                                                               : des3_decrypt)
                                : reinterpret_cast<nettle_cipher_func*>(encrypt ? des_encrypt
                                                                               : des_decrypt);
                     if (encrypt)
                       cbc_encrypt(ctx, f, 8, s.iv, len, out, in);
                     else
                       cbc_decrypt(ctx, f, 8, s.iv, len, out, in);
                   };
                 }),
              GcryOp(triple ? GCRY_CIPHER_3DES : GCRY_CIPHER_DES, GCRY_CIPHER_MODE_CBC,
                     triple ? 24 : 8, encrypt)});
}

}  // namespace

void RegisterDes() {
  CbcRow(false, true);
  CbcRow(true, true);
  CbcRow(false, false);
  CbcRow(true, false);

  KeySetup("des-set-key",
           {KeyOp("morvane",
                  [] {
                    return [ks = DES_key_schedule{}](const uint8_t* key) mutable {
                      DES_set_key_unchecked(Cblock(key), &ks);
                    };
                  }),
            KeyOp("nettle",
                  [] { return [c = des_ctx{}](const uint8_t* key) mutable { des_set_key(&c, key); }; }),
            KeyOp("libgcrypt", [] {
              return [h = GcryOpen(GCRY_CIPHER_DES, GCRY_CIPHER_MODE_ECB, 8)](const uint8_t* key) {
                gcry_cipher_setkey(*h, key, 8);
              };
            })});
}

}  // namespace bench
