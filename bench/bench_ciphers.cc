// The 64-bit block ciphers in CBC (encryption; IDEA also in its other modes)
// and RC4, in Morvane, Nettle and libgcrypt, all with 128-bit keys (RC2 with
// 128 effective bits).  Nettle has no IDEA.

#include <stdint.h>
#include <string.h>

#include <memory>

#include <gcrypt.h>
#include <nettle/arcfour.h>
#include <nettle/arctwo.h>
#include <nettle/blowfish.h>
#include <nettle/cast128.h>
#include <nettle/cbc.h>

#include <morvane/blowfish.h>
#include <morvane/cast.h>
#include <morvane/idea.h>
#include <morvane/rc2.h>
#include <morvane/rc4.h>

#include "bench.h"

namespace bench {
namespace {

// Morvane's CBC over a schedule type: `cbc(in, out, len, ks, iv, enc)`.
template <class Key, class SetKey, class Cbc>
Impl OursCbc(SetKey set_key, Cbc cbc) {
  return Op("morvane", [=] {
    struct State {
      Key ks;
      uint8_t iv[8];
    } s{};
    set_key(&s.ks);
    memcpy(s.iv, kIv, 8);
    return [s, cbc](const uint8_t* in, uint8_t* out, size_t len) mutable {
      cbc(in, out, static_cast<long>(len), &s.ks, s.iv, 1);
    };
  });
}

// Nettle's CBC over a context and its block function.
template <class Ctx, class SetKey>
Impl NettleCbc(SetKey set_key, nettle_cipher_func* f) {
  return Op("nettle", [=] {
    struct State {
      Ctx ctx;
      uint8_t iv[8];
    } s{};
    set_key(&s.ctx);
    memcpy(s.iv, kIv, 8);
    return [s, f](const uint8_t* in, uint8_t* out, size_t len) mutable {
      cbc_encrypt(&s.ctx, f, 8, s.iv, len, out, in);
    };
  });
}

// Morvane's IDEA over one stream: `run(in, out, len, ek, dk, iv, num)`.
template <class Run>
Impl OursIdea(Run run) {
  return Op("morvane", [=] {
    struct State {
      IDEA_KEY_SCHEDULE ek, dk;
      uint8_t iv[8];
      int num;
    } s{};
    idea_set_encrypt_key(kKey, &s.ek);
    idea_set_decrypt_key(&s.ek, &s.dk);
    memcpy(s.iv, kIv, 8);
    return [s, run](const uint8_t* in, uint8_t* out, size_t len) mutable {
      run(in, out, static_cast<long>(len), &s.ek, &s.dk, s.iv, &s.num);
    };
  });
}

}  // namespace

void RegisterCiphers() {
  Throughput("blowfish-cbc-enc", kCheckLen,
             {OursCbc<BF_KEY>([](BF_KEY* k) { BF_set_key(k, 16, kKey); }, BF_cbc_encrypt),
              NettleCbc<blowfish_ctx>([](blowfish_ctx* c) { blowfish_set_key(c, 16, kKey); },
                                      reinterpret_cast<nettle_cipher_func*>(blowfish_encrypt)),
              GcryOp(GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_CBC, 16, true)});

  Throughput("cast5-cbc-enc", kCheckLen,
             {OursCbc<CAST_KEY>([](CAST_KEY* k) { CAST_set_key(k, 16, kKey); }, CAST_cbc_encrypt),
              NettleCbc<cast128_ctx>([](cast128_ctx* c) { cast5_set_key(c, 16, kKey); },
                                     reinterpret_cast<nettle_cipher_func*>(cast128_encrypt)),
              GcryOp(GCRY_CIPHER_CAST5, GCRY_CIPHER_MODE_CBC, 16, true)});

  Throughput("rc2-cbc-enc", kCheckLen,
             {OursCbc<RC2_KEY>([](RC2_KEY* k) { RC2_set_key(k, 16, kKey, 128); }, RC2_cbc_encrypt),
              NettleCbc<arctwo_ctx>([](arctwo_ctx* c) { arctwo_set_key_ekb(c, 16, kKey, 128); },
                                    reinterpret_cast<nettle_cipher_func*>(arctwo_encrypt)),
              GcryOp(GCRY_CIPHER_RFC2268_128, GCRY_CIPHER_MODE_CBC, 16, true)});

  Throughput("idea-cbc-enc", kCheckLen,
             {OursCbc<IDEA_KEY_SCHEDULE>(
                  [](IDEA_KEY_SCHEDULE* k) { idea_set_encrypt_key(kKey, k); }, idea_cbc_encrypt),
              GcryOp(GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_CBC, 16, true)});
  // IDEA's other modes: one block function under them all.
  Throughput("idea-cbc-dec", kCheckLen,
             {OursIdea([](const uint8_t* in, uint8_t* out, long len, const IDEA_KEY_SCHEDULE*,
                          const IDEA_KEY_SCHEDULE* dk, uint8_t* iv, int*) {
                idea_cbc_encrypt(in, out, len, dk, iv, 0);
              }),
              GcryOp(GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_CBC, 16, false)});
  Throughput("idea-cfb64-enc", kCheckLen,
             {OursIdea([](const uint8_t* in, uint8_t* out, long len, const IDEA_KEY_SCHEDULE* ek,
                          const IDEA_KEY_SCHEDULE*, uint8_t* iv, int* num) {
                idea_cfb64_encrypt(in, out, len, ek, iv, num, 1);
              }),
              GcryOp(GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_CFB, 16, true)});
  Throughput("idea-ofb", kCheckLen,
             {OursIdea([](const uint8_t* in, uint8_t* out, long len, const IDEA_KEY_SCHEDULE* ek,
                          const IDEA_KEY_SCHEDULE*, uint8_t* iv, int* num) {
                idea_ofb64_encrypt(in, out, len, ek, iv, num);
              }),
              GcryOp(GCRY_CIPHER_IDEA, GCRY_CIPHER_MODE_OFB, 16, true)});

  Throughput("rc4", kCheckLen,
             {Op("morvane",
                 [] {
                   RC4_KEY k;
                   RC4_set_key(&k, 16, kKey);
                   return [k](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     RC4(&k, len, in, out);
                   };
                 }),
              Op("nettle",
                 [] {
                   arcfour_ctx c;
                   arcfour_set_key(&c, 16, kKey);
                   return [c](const uint8_t* in, uint8_t* out, size_t len) mutable {
                     arcfour_crypt(&c, len, out, in);
                   };
                 }),
              GcryOp(GCRY_CIPHER_ARCFOUR, GCRY_CIPHER_MODE_STREAM, 16, true)});
}

}  // namespace bench
