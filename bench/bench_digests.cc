// The digests, one whole message per call (Init, Update, Final), in Morvane,
// Nettle and libgcrypt.  libgcrypt has no MD2.

#include <stdint.h>
#include <string.h>

#include <memory>
#include <string>

#include <gcrypt.h>
#include <nettle/md2.h>
#include <nettle/md4.h>
#include <nettle/md5.h>
#include <nettle/ripemd160.h>
#include <nettle/sha1.h>
#include <nettle/sha2.h>

#include <morvane/md2.h>
#include <morvane/md4.h>
#include <morvane/md5.h>
#include <morvane/ripemd.h>
#include <morvane/sha.h>

#include "bench.h"

namespace bench {
namespace {

template <class Ctx, int (*Init)(Ctx*), class UpdateFn, int (*Final)(unsigned char*, Ctx*)>
Impl Ours(UpdateFn update) {
  return Op("morvane", [update] {
    return [update](const uint8_t* in, uint8_t* out, size_t len) {
      Ctx c;
      Init(&c);
      update(&c, in, len);
      Final(out, &c);
    };
  });
}

template <class Ctx, class InitFn, class UpdateFn, class DigestFn>
Impl Theirs(InitFn init, UpdateFn update, DigestFn digest, size_t dlen) {
  return Op("nettle", [=] {
    return [=](const uint8_t* in, uint8_t* out, size_t len) {
      Ctx c;
      init(&c);
      update(&c, len, in);
      digest(&c, dlen, out);
    };
  });
}

// libgcrypt: one handle opened ahead, reset for each message.
Impl Gcry(int algo) {
  return Op("libgcrypt", [algo] {
    auto* h = new gcry_md_hd_t;
    gcry_md_open(h, algo, 0);
    auto hd = std::shared_ptr<gcry_md_hd_t>(h, [](gcry_md_hd_t* p) {
      gcry_md_close(*p);
      delete p;
    });
    const size_t dlen = gcry_md_get_algo_dlen(algo);
    return [hd, algo, dlen](const uint8_t* in, uint8_t* out, size_t len) {
      gcry_md_reset(*hd);
      gcry_md_write(*hd, in, len);
      memcpy(out, gcry_md_read(*hd, algo), dlen);
    };
  });
}

}  // namespace

void RegisterDigests() {
  Throughput("md2", MD2_DIGEST_LENGTH,
             {Ours<MD2_CTX, MD2_Init, decltype(&MD2_Update), MD2_Final>(MD2_Update),
              Theirs<md2_ctx>(md2_init, md2_update, md2_digest, MD2_DIGEST_SIZE)});
  Throughput("md4", MD4_DIGEST_LENGTH,
             {Ours<MD4_CTX, MD4_Init, decltype(&MD4_Update), MD4_Final>(MD4_Update),
              Theirs<md4_ctx>(md4_init, md4_update, md4_digest, MD4_DIGEST_SIZE), Gcry(GCRY_MD_MD4)});
  Throughput("md5", MD5_DIGEST_LENGTH,
             {Ours<MD5_CTX, MD5_Init, decltype(&MD5_Update), MD5_Final>(MD5_Update),
              Theirs<md5_ctx>(md5_init, md5_update, md5_digest, MD5_DIGEST_SIZE), Gcry(GCRY_MD_MD5)});
  Throughput("sha1", SHA_DIGEST_LENGTH,
             {Ours<SHA_CTX, SHA1_Init, decltype(&SHA1_Update), SHA1_Final>(SHA1_Update),
              Theirs<sha1_ctx>(sha1_init, sha1_update, sha1_digest, SHA1_DIGEST_SIZE), Gcry(GCRY_MD_SHA1)});
  Throughput("sha256", SHA256_DIGEST_LENGTH,
             {Ours<SHA256_CTX, SHA256_Init, decltype(&SHA256_Update), SHA256_Final>(SHA256_Update),
              Theirs<sha256_ctx>(sha256_init, sha256_update, sha256_digest, SHA256_DIGEST_SIZE),
              Gcry(GCRY_MD_SHA256)});
  Throughput("sha512", SHA512_DIGEST_LENGTH,
             {Ours<SHA512_CTX, SHA512_Init, decltype(&SHA512_Update), SHA512_Final>(SHA512_Update),
              Theirs<sha512_ctx>(sha512_init, sha512_update, sha512_digest, SHA512_DIGEST_SIZE),
              Gcry(GCRY_MD_SHA512)});
  Throughput("ripemd160", RIPEMD160_DIGEST_LENGTH,
             {Ours<RIPEMD160_CTX, RIPEMD160_Init, decltype(&RIPEMD160_Update), RIPEMD160_Final>(
                  RIPEMD160_Update),
              Theirs<ripemd160_ctx>(ripemd160_init, ripemd160_update, ripemd160_digest,
                                    RIPEMD160_DIGEST_SIZE),
              Gcry(GCRY_MD_RMD160)});
}

}  // namespace bench
