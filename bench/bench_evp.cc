// The cost of the envelope: a whole message digested through EVP_Digest (a
// context of its own per call) and through EVP_DigestInit_ex, Update and
// Final_ex on one context kept across calls, against the digest's own
// Init/Update/Final, for MD5, SHA-1, SHA-256 and SHA-512.  Names are
// "evp-<digest>/<way>/<bytes>"; tools/bench_table.py prints the overhead.

#include <stdint.h>

#include <memory>
#include <string>

#include <morvane/evp.h>
#include <morvane/md5.h>
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

}  // namespace

void RegisterEnvelope() {
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
