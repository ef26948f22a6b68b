// AES-128 and AES-256 in ECB, CBC, CFB128, OFB and CTR, and the cost of the
// key schedules, in Morvane, Nettle and libgcrypt.  Every mode runs over one
// stream whose chaining state carries on from call to call.

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include <gcrypt.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/cfb.h>
#include <nettle/ctr.h>

#include <morvane/aes.h>

#include "bench.h"

namespace bench {
namespace {

// Morvane's side: a schedule (encryption or decryption) and the chaining
// state of one stream.
struct AesStream {
  AES_KEY key;
  uint8_t iv[16];
  uint8_t ecount[16];
  int num;
  unsigned unum;
  AesStream(int bits, bool decrypt_key) {
    if (decrypt_key)
      AES_set_decrypt_key(kKey, bits, &key);
    else
      AES_set_encrypt_key(kKey, bits, &key);
    memcpy(iv, kIv, 16);
    memset(ecount, 0, 16);
    num = 0;
    unum = 0;
  }
};

template <class F>
Impl Ours(int bits, bool decrypt_key, F f) {
  return Op("morvane", [=] {
    return [s = AesStream(bits, decrypt_key), f](const uint8_t* in, uint8_t* out,
                                                 size_t len) mutable { f(s, in, out, len); };
  });
}

// Nettle's contexts for one key size.
template <class Ctx>
struct NettleAes {
  Ctx ctx;
  uint8_t iv[16];
};

template <class Ctx, class SetKey, class F>
Impl Theirs(SetKey set_key, F f) {
  return Op("nettle", [=] {
    NettleAes<Ctx> n;
    set_key(&n.ctx, kKey);
    memcpy(n.iv, kIv, 16);
    return [n, f](const uint8_t* in, uint8_t* out, size_t len) mutable { f(n, in, out, len); };
  });
}

template <class Ctx>
void RegisterSize(int bits, void (*set_enc)(Ctx*, const uint8_t*),
                  void (*set_dec)(Ctx*, const uint8_t*),
                  void (*enc)(const Ctx*, size_t, uint8_t*, const uint8_t*),
                  void (*dec)(const Ctx*, size_t, uint8_t*, const uint8_t*),
                  void (*cbc_enc)(const Ctx*, uint8_t*, size_t, uint8_t*, const uint8_t*)) {
  const std::string name = "aes-" + std::to_string(bits);
  const int algo = bits == 128 ? GCRY_CIPHER_AES128 : GCRY_CIPHER_AES256;
  const size_t keylen = static_cast<size_t>(bits / 8);
  auto* fenc = reinterpret_cast<nettle_cipher_func*>(enc);
  auto* fdec = reinterpret_cast<nettle_cipher_func*>(dec);

  Throughput(name + "-ecb-enc", kCheckLen,
             {Ours(bits, false,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     for (size_t i = 0; i < len; i += 16)
                       AES_ecb_encrypt(in + i, out + i, &s.key, AES_ENCRYPT);
                   }),
              Theirs<Ctx>(set_enc, [enc](NettleAes<Ctx>& n, const uint8_t* in, uint8_t* out,
                                         size_t len) { enc(&n.ctx, len, out, in); }),
              GcryOp(algo, GCRY_CIPHER_MODE_ECB, keylen, true)});

  Throughput(name + "-cbc-enc", kCheckLen,
             {Ours(bits, false,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     AES_cbc_encrypt(in, out, len, &s.key, s.iv, AES_ENCRYPT);
                   }),
              Theirs<Ctx>(set_enc, [cbc_enc](NettleAes<Ctx>& n, const uint8_t* in, uint8_t* out,
                                             size_t len) { cbc_enc(&n.ctx, n.iv, len, out, in); }),
              GcryOp(algo, GCRY_CIPHER_MODE_CBC, keylen, true)});

  Throughput(name + "-cbc-dec", kCheckLen,
             {Ours(bits, true,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     AES_cbc_encrypt(in, out, len, &s.key, s.iv, AES_DECRYPT);
                   }),
              Theirs<Ctx>(set_dec,
                          [fdec](NettleAes<Ctx>& n, const uint8_t* in, uint8_t* out, size_t len) {
                            cbc_decrypt(&n.ctx, fdec, 16, n.iv, len, out, in);
                          }),
              GcryOp(algo, GCRY_CIPHER_MODE_CBC, keylen, false)});

  Throughput(name + "-cfb128-enc", kCheckLen,
             {Ours(bits, false,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     AES_cfb128_encrypt(in, out, len, &s.key, s.iv, &s.num, AES_ENCRYPT);
                   }),
              Theirs<Ctx>(set_enc,
                          [fenc](NettleAes<Ctx>& n, const uint8_t* in, uint8_t* out, size_t len) {
                            cfb_encrypt(&n.ctx, fenc, 16, n.iv, len, out, in);
                          }),
              GcryOp(algo, GCRY_CIPHER_MODE_CFB, keylen, true)});

  Throughput(name + "-cfb128-dec", kCheckLen,
             {Ours(bits, false,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     AES_cfb128_encrypt(in, out, len, &s.key, s.iv, &s.num, AES_DECRYPT);
                   }),
              Theirs<Ctx>(set_enc,
                          [fenc](NettleAes<Ctx>& n, const uint8_t* in, uint8_t* out, size_t len) {
                            cfb_decrypt(&n.ctx, fenc, 16, n.iv, len, out, in);
                          }),
              GcryOp(algo, GCRY_CIPHER_MODE_CFB, keylen, false)});

  // Nettle has no OFB.
  Throughput(name + "-ofb", kCheckLen,
             {Ours(bits, false,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     AES_ofb128_encrypt(in, out, len, &s.key, s.iv, &s.num);
                   }),
              GcryOp(algo, GCRY_CIPHER_MODE_OFB, keylen, true)});

  Throughput(name + "-ctr", kCheckLen,
             {Ours(bits, false,
                   [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                     AES_ctr128_encrypt(in, out, len, &s.key, s.iv, s.ecount, &s.unum);
                   }),
              Theirs<Ctx>(set_enc,
                          [fenc](NettleAes<Ctx>& n, const uint8_t* in, uint8_t* out, size_t len) {
                            ctr_crypt(&n.ctx, fenc, 16, n.iv, len, out, in);
                          }),
              GcryOp(algo, GCRY_CIPHER_MODE_CTR, keylen, true)});

  // Key schedules.  libgcrypt builds its decryption schedule on the first
  // decryption, so its "decrypt key" figure is a key setup and one block.
  KeySetup(name + "-set-encrypt-key",
           {KeyOp("morvane",
                  [bits] {
                    return [bits, k = AES_KEY{}](const uint8_t* key) mutable {
                      AES_set_encrypt_key(key, bits, &k);
                    };
                  }),
            KeyOp("nettle",
                  [set_enc] {
                    return [set_enc, c = Ctx{}](const uint8_t* key) mutable { set_enc(&c, key); };
                  }),
            KeyOp("libgcrypt", [=] {
              return [h = GcryOpen(algo, GCRY_CIPHER_MODE_ECB, keylen),
                      keylen](const uint8_t* key) { gcry_cipher_setkey(*h, key, keylen); };
            })});
  KeySetup(name + "-set-decrypt-key",
           {KeyOp("morvane",
                  [bits] {
                    return [bits, k = AES_KEY{}](const uint8_t* key) mutable {
                      AES_set_decrypt_key(key, bits, &k);
                    };
                  }),
            KeyOp("nettle",
                  [set_dec] {
                    return [set_dec, c = Ctx{}](const uint8_t* key) mutable { set_dec(&c, key); };
                  }),
            KeyOp("libgcrypt", [=] {
              return
                  [h = GcryOpen(algo, GCRY_CIPHER_MODE_ECB, keylen), keylen](const uint8_t* key) {
                    uint8_t block[16] = {};
                    gcry_cipher_setkey(*h, key, keylen);
                    gcry_cipher_decrypt(*h, block, 16, nullptr, 0);
                  };
            })});
}

}  // namespace

void RegisterAes() {
  RegisterSize<aes128_ctx>(128, aes128_set_encrypt_key, aes128_set_decrypt_key, aes128_encrypt,
                           aes128_decrypt, cbc_aes128_encrypt);
  RegisterSize<aes256_ctx>(256, aes256_set_encrypt_key, aes256_set_decrypt_key, aes256_encrypt,
                           aes256_decrypt, cbc_aes256_encrypt);
}

}  // namespace bench
