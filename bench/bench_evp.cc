// The cost of the envelope: a whole message digested through EVP_Digest (a
// context of its own per call) and through EVP_DigestInit_ex, Update and
// Final_ex on one context kept across calls, against the digest's own
// Init/Update/Final, for MD5, SHA-1, SHA-256 and SHA-512.  Names are
// "evp-<digest>/<way>/<bytes>"; tools/bench_table.py prints the overhead.
// Ciphers: EVP_EncryptUpdate (EVP_DecryptUpdate with padding off for CBC
// decryption) on one context continuing its stream, against the mode
// function called directly, for AES-128 (ECB, CBC both ways, CFB128, OFB),
// DES-EDE3-CBC and RC4: "evp-<cipher>/<way>/<bytes>".  AES-128-ECB also
// against Nettle and libgcrypt over the whole buffer in one call, the peers'
// figures measured in the same run as the envelope's.

#include <stdint.h>

#include <memory>
#include <string>

#include <nettle/aes.h>

#include <morvane/aes.h>
#include <morvane/des.h>
#include <morvane/evp.h>
#include <morvane/md5.h>
#include <morvane/rc4.h>
#include <morvane/sha.h>

#include "bench.h"

namespace bench {
namespace {

template <class Ctx, int (*Init)(Ctx*), auto Update, int (*Final)(unsigned char*, Ctx*)>
Impl Direct() {
  return Op("morvane", [] {
    return [](const uint8_t* in, uint8_t* out, size_t len) {
      Ctx c;
      Init(&c);
      Update(&c, in, len);
      Final(out, &c);
    };
  });
}

Impl OneShot(const EVP_MD* md) {
  return Op("evp-oneshot", [md] {
    return [md](const uint8_t* in, uint8_t* out, size_t len) {
      EVP_Digest(in, len, out, nullptr, md, nullptr);
    };
  });
}

Impl KeptContext(const EVP_MD* md) {
  return Op("evp-context", [md] {
    std::shared_ptr<EVP_MD_CTX> ctx(EVP_MD_CTX_create(), EVP_MD_CTX_destroy);
    EVP_DigestInit_ex(ctx.get(), md, nullptr);
    return [md, ctx](const uint8_t* in, uint8_t* out, size_t len) {
      EVP_DigestInit_ex(ctx.get(), md, nullptr);
      EVP_DigestUpdate(ctx.get(), in, len);
      EVP_DigestFinal_ex(ctx.get(), out, nullptr);
    };
  });
}

// A kept cipher context keyed from kKey and kIv, padding off.
Impl CipherContext(const EVP_CIPHER* c, int enc) {
  return Op("evp-update", [c, enc] {
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), c, nullptr, kKey, kIv, enc);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return [ctx](const uint8_t* in, uint8_t* out, size_t len) {
      int n = 0;
      EVP_CipherUpdate(ctx.get(), out, &n, in, static_cast<int>(len));
    };
  });
}

// The mode function called directly over a stream of its own.
struct AesStream {
  AES_KEY key;
  unsigned char iv[16];
  int num = 0;
  explicit AesStream(bool dec) {
    if (dec)
      AES_set_decrypt_key(kKey, 128, &key);
    else
      AES_set_encrypt_key(kKey, 128, &key);
    for (int i = 0; i < 16; ++i) iv[i] = kIv[i];
  }
};

template <class Body>
Impl AesDirect(bool dec, Body body) {
  return Op("morvane", [dec, body] {
    auto s = std::make_shared<AesStream>(dec);
    return [s, body](const uint8_t* in, uint8_t* out, size_t len) { body(*s, in, out, len); };
  });
}

Impl NettleAes128Ecb() {
  return Op("nettle", [] {
    auto ctx = std::make_shared<aes128_ctx>();
    aes128_set_encrypt_key(ctx.get(), kKey);
    return [ctx](const uint8_t* in, uint8_t* out, size_t len) {
      aes128_encrypt(ctx.get(), len, out, in);
    };
  });
}

Impl Des3Direct() {
  struct S {
    DES_key_schedule k[3];
    DES_cblock iv;
  };
  return Op("morvane", [] {
    auto s = std::make_shared<S>();
    for (int i = 0; i < 3; ++i)
      DES_set_key_unchecked(reinterpret_cast<const_DES_cblock*>(const_cast<uint8_t*>(kKey + 8 * i)),
                            &s->k[i]);
    for (int i = 0; i < 8; ++i) s->iv[i] = kIv[i];
    return [s](const uint8_t* in, uint8_t* out, size_t len) {
      DES_ede3_cbc_encrypt(in, out, static_cast<long>(len), &s->k[0], &s->k[1], &s->k[2], &s->iv,
                           1);
    };
  });
}

Impl Rc4Direct() {
  return Op("morvane", [] {
    auto k = std::make_shared<RC4_KEY>();
    RC4_set_key(k.get(), 16, kKey);
    return [k](const uint8_t* in, uint8_t* out, size_t len) { RC4(k.get(), len, in, out); };
  });
}

}  // namespace

void RegisterEnvelope() {
  Throughput("evp-aes128-ecb", kCheckLen,
             {AesDirect(false,
                        [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                          for (size_t i = 0; i + 16 <= len; i += 16)
                            AES_ecb_encrypt(in + i, out + i, &s.key, AES_ENCRYPT);
                        }),
              CipherContext(EVP_aes_128_ecb(), 1), NettleAes128Ecb(),
              GcryOp(GCRY_CIPHER_AES128, GCRY_CIPHER_MODE_ECB, 16, true)});
  Throughput("evp-aes128-cbc-enc", kCheckLen,
             {AesDirect(false,
                        [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                          AES_cbc_encrypt(in, out, len, &s.key, s.iv, AES_ENCRYPT);
                        }),
              CipherContext(EVP_aes_128_cbc(), 1)});
  Throughput("evp-aes128-cbc-dec", kCheckLen,
             {AesDirect(true,
                        [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                          AES_cbc_encrypt(in, out, len, &s.key, s.iv, AES_DECRYPT);
                        }),
              CipherContext(EVP_aes_128_cbc(), 0)});
  Throughput("evp-aes128-cfb128", kCheckLen,
             {AesDirect(false,
                        [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                          AES_cfb128_encrypt(in, out, len, &s.key, s.iv, &s.num, AES_ENCRYPT);
                        }),
              CipherContext(EVP_aes_128_cfb128(), 1)});
  Throughput("evp-aes128-ofb", kCheckLen,
             {AesDirect(false,
                        [](AesStream& s, const uint8_t* in, uint8_t* out, size_t len) {
                          AES_ofb128_encrypt(in, out, len, &s.key, s.iv, &s.num);
                        }),
              CipherContext(EVP_aes_128_ofb(), 1)});
  Throughput("evp-des-ede3-cbc", kCheckLen, {Des3Direct(), CipherContext(EVP_des_ede3_cbc(), 1)});
  Throughput("evp-rc4", kCheckLen, {Rc4Direct(), CipherContext(EVP_rc4(), 1)});
  Throughput("evp-md5", MD5_DIGEST_LENGTH,
             {Direct<MD5_CTX, MD5_Init, MD5_Update, MD5_Final>(), OneShot(EVP_md5()),
              KeptContext(EVP_md5())});
  Throughput("evp-sha1", SHA_DIGEST_LENGTH,
             {Direct<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final>(), OneShot(EVP_sha1()),
              KeptContext(EVP_sha1())});
  Throughput("evp-sha256", SHA256_DIGEST_LENGTH,
             {Direct<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>(),
              OneShot(EVP_sha256()), KeptContext(EVP_sha256())});
  Throughput("evp-sha512", SHA512_DIGEST_LENGTH,
             {Direct<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final>(),
              OneShot(EVP_sha512()), KeptContext(EVP_sha512())});
}

}  // namespace bench
