// DES and three-key triple DES in CBC (encryption, and decryption, whose
// blocks are independent), and the DES key schedule, in Morvane, Nettle and
// libgcrypt.

#include <stdint.h>
#include <string.h>

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

}  // namespace

void RegisterDes() {
  Throughput("des-cbc-enc", kCheckLen,
             {Op("morvane",
                 [] {
                   struct State {
                     DES_key_schedule ks;
                     DES_cblock iv;
                   } s;
                   DES_set_key_unchecked(Cblock(kKey), &s.ks);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     DES_ncbc_encrypt(in, out, static_cast<long>(len), &s.ks, &s.iv, DES_ENCRYPT);
                   };
                 }),
              Op("nettle",
                 [] {
                   struct State {
                     des_ctx ctx;
                     uint8_t iv[8];
                   } s;
                   des_set_key(&s.ctx, kKey);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     cbc_encrypt(&s.ctx, reinterpret_cast<nettle_cipher_func*>(des_encrypt), 8, s.iv,
                                 len, out, in);
                   };
                 }),
              GcryOp(GCRY_CIPHER_DES, GCRY_CIPHER_MODE_CBC, 8, true)});

  Throughput("3des-cbc-enc", kCheckLen,
             {Op("morvane",
                 [] {
                   struct State {
                     DES_key_schedule ks[3];
                     DES_cblock iv;
                   } s;
                   for (int i = 0; i < 3; i++)
                     DES_set_key_unchecked(Cblock(kKey + 8 * i), &s.ks[i]);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     DES_ede3_cbc_encrypt(in, out, static_cast<long>(len), &s.ks[0], &s.ks[1],
                                          &s.ks[2], &s.iv, DES_ENCRYPT);
                   };
                 }),
              Op("nettle",
                 [] {
                   struct State {
                     des3_ctx ctx;
                     uint8_t iv[8];
                   } s;
                   des3_set_key(&s.ctx, kKey);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     cbc_encrypt(&s.ctx, reinterpret_cast<nettle_cipher_func*>(des3_encrypt), 8,
                                 s.iv, len, out, in);
                   };
                 }),
              GcryOp(GCRY_CIPHER_3DES, GCRY_CIPHER_MODE_CBC, 24, true)});

  Throughput("des-cbc-dec", kCheckLen,
             {Op("morvane",
                 [] {
                   struct State {
                     DES_key_schedule ks;
                     DES_cblock iv;
                   } s;
                   DES_set_key_unchecked(Cblock(kKey), &s.ks);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     DES_ncbc_encrypt(in, out, static_cast<long>(len), &s.ks, &s.iv, DES_DECRYPT);
                   };
                 }),
              Op("nettle",
                 [] {
                   struct State {
                     des_ctx ctx;
                     uint8_t iv[8];
                   } s;
                   des_set_key(&s.ctx, kKey);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     cbc_decrypt(&s.ctx, reinterpret_cast<nettle_cipher_func*>(des_decrypt), 8, s.iv,
                                 len, out, in);
                   };
                 }),
              GcryOp(GCRY_CIPHER_DES, GCRY_CIPHER_MODE_CBC, 8, false)});

  Throughput("3des-cbc-dec", kCheckLen,
             {Op("morvane",
                 [] {
                   struct State {
                     DES_key_schedule ks[3];
                     DES_cblock iv;
                   } s;
                   for (int i = 0; i < 3; i++)
                     DES_set_key_unchecked(Cblock(kKey + 8 * i), &s.ks[i]);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     DES_ede3_cbc_encrypt(in, out, static_cast<long>(len), &s.ks[0], &s.ks[1],
                                          &s.ks[2], &s.iv, DES_DECRYPT);
                   };
                 }),
              Op("nettle",
                 [] {
                   struct State {
                     des3_ctx ctx;
                     uint8_t iv[8];
                   } s;
                   des3_set_key(&s.ctx, kKey);
                   memcpy(s.iv, kIv, 8);
                   return [s](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     cbc_decrypt(&s.ctx, reinterpret_cast<nettle_cipher_func*>(des3_decrypt), 8,
                                 s.iv, len, out, in);
                   };
                 }),
              GcryOp(GCRY_CIPHER_3DES, GCRY_CIPHER_MODE_CBC, 24, false)});

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
