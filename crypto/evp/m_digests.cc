// The built-in digest descriptions: constant tables whose slots are one-line
// adapters over each digest's own Init/Update/Final (on the digest's context
// structure kept as the context's private data) and over the public-key
// signing functions that pair with it.

#include <stddef.h>

#include <morvane/dsa.h>
#include <morvane/ecdsa.h>
#include <morvane/evp.h>
#include <morvane/md2.h>
#include <morvane/md4.h>
#include <morvane/md5.h>
#include <morvane/ripemd.h>
#include <morvane/rsa.h>
#include <morvane/sha.h>

// The layouts the C API promises.
static_assert(offsetof(EVP_MD, type) == 0 && offsetof(EVP_MD, pkey_type) == 4 &&
              offsetof(EVP_MD, md_size) == 8 && offsetof(EVP_MD, flags) == 16 &&
              offsetof(EVP_MD, init) == 24 && offsetof(EVP_MD, update) == 32 &&
              offsetof(EVP_MD, final) == 40 && offsetof(EVP_MD, copy) == 48 &&
              offsetof(EVP_MD, cleanup) == 56 && offsetof(EVP_MD, sign) == 64 &&
              offsetof(EVP_MD, verify) == 72 && offsetof(EVP_MD, required_pkey_type) == 80 &&
              offsetof(EVP_MD, block_size) == 100 && offsetof(EVP_MD, ctx_size) == 104 &&
              sizeof(EVP_MD) == 112);
static_assert(offsetof(EVP_MD_CTX, digest) == 0 && offsetof(EVP_MD_CTX, engine) == 8 &&
              offsetof(EVP_MD_CTX, flags) == 16 && offsetof(EVP_MD_CTX, md_data) == 24 &&
              sizeof(EVP_MD_CTX) == 32);

namespace morvane::evp {
namespace {

// Object numbers (NIDs) of the digests, signatures and key types.
namespace nid {
constexpr int undef = 0;
constexpr int md2 = 3;
constexpr int md5 = 4;
constexpr int rsaEncryption = 6;
constexpr int md2WithRsa = 7;
constexpr int md5WithRsa = 8;
constexpr int rsa = 19;
constexpr int sha = 41;
constexpr int shaWithRsa = 42;
constexpr int sha1 = 64;
constexpr int sha1WithRsa = 65;
constexpr int dsaWithSha = 66;
constexpr int dsaWithSha1Old = 70;
constexpr int dsaWithSha1 = 113;
constexpr int dsa = 116;
constexpr int ripemd160 = 117;
constexpr int ripemd160WithRsa = 119;
constexpr int md4 = 257;
constexpr int md4WithRsa = 396;
constexpr int ecPublicKey = 408;
constexpr int ecdsaWithSha1 = 416;
constexpr int sha256WithRsa = 668;
constexpr int sha384WithRsa = 669;
constexpr int sha512WithRsa = 670;
constexpr int sha224WithRsa = 671;
constexpr int sha256 = 672;
constexpr int sha384 = 673;
constexpr int sha512 = 674;
constexpr int sha224 = 675;
}  // namespace nid

// ---- slot adapters --------------------------------------------------------

template <class Ctx, int (*Init)(Ctx*), auto Update, int (*Final)(unsigned char*, Ctx*)>
struct Slots {
  static int init(EVP_MD_CTX* c) { return Init(static_cast<Ctx*>(c->md_data)); }
  static int update(EVP_MD_CTX* c, const void* d, size_t n) {
    return Update(static_cast<Ctx*>(c->md_data), static_cast<const unsigned char*>(d), n);
  }
  static int final(EVP_MD_CTX* c, unsigned char* md) {
    return Final(md, static_cast<Ctx*>(c->md_data));
  }
  // The digest's context and one pointer more.
  static constexpr int ctx_size = static_cast<int>(sizeof(Ctx) + sizeof(EVP_MD*));
};

int rsa_sign(int type, const unsigned char* m, unsigned int m_len, unsigned char* sig,
             unsigned int* sig_len, void* key) {
  return RSA_sign(type, m, m_len, sig, sig_len, static_cast<RSA*>(key));
}
int rsa_verify(int type, const unsigned char* m, unsigned int m_len, const unsigned char* sig,
               unsigned int sig_len, void* key) {
  return RSA_verify(type, m, m_len, sig, sig_len, static_cast<RSA*>(key));
}
int dsa_sign(int type, const unsigned char* m, unsigned int m_len, unsigned char* sig,
             unsigned int* sig_len, void* key) {
  return DSA_sign(type, m, static_cast<int>(m_len), sig, sig_len, static_cast<DSA*>(key));
}
int dsa_verify(int type, const unsigned char* m, unsigned int m_len, const unsigned char* sig,
               unsigned int sig_len, void* key) {
  return DSA_verify(type, m, static_cast<int>(m_len), sig, static_cast<int>(sig_len),
                    static_cast<DSA*>(key));
}
int ecdsa_sign(int type, const unsigned char* m, unsigned int m_len, unsigned char* sig,
               unsigned int* sig_len, void* key) {
  return ECDSA_sign(type, m, static_cast<int>(m_len), sig, sig_len, static_cast<EC_KEY*>(key));
}
int ecdsa_verify(int type, const unsigned char* m, unsigned int m_len, const unsigned char* sig,
                 unsigned int sig_len, void* key) {
  return ECDSA_verify(type, m, static_cast<int>(m_len), sig, static_cast<int>(sig_len),
                      static_cast<EC_KEY*>(key));
}

int null_init(EVP_MD_CTX*) {
  return 1;
}
int null_update(EVP_MD_CTX*, const void*, size_t) {
  return 1;
}
int null_final(EVP_MD_CTX*, unsigned char*) {
  return 1;
}

// ---- the descriptions -----------------------------------------------------

enum class Signer { kRsa, kDsa, kEcdsa };

template <class S>
constexpr EVP_MD describe(int type, int pkey_type, int md_size, int block_size, Signer signer,
                          unsigned long flags = 0) {
  EVP_MD md{type,    pkey_type, md_size, flags,   S::init, S::update,  S::final,
            nullptr, nullptr,   nullptr, nullptr, {0},     block_size, S::ctx_size};
  switch (signer) {
    case Signer::kRsa:
      md.sign = rsa_sign;
      md.verify = rsa_verify;
      md.required_pkey_type[0] = nid::rsaEncryption;
      md.required_pkey_type[1] = nid::rsa;
      break;
    case Signer::kDsa:
      md.sign = dsa_sign;
      md.verify = dsa_verify;
      md.required_pkey_type[0] = nid::dsa;
      md.required_pkey_type[1] = nid::dsaWithSha;
      md.required_pkey_type[2] = nid::dsaWithSha1;
      md.required_pkey_type[3] = nid::dsaWithSha1Old;
      break;
    case Signer::kEcdsa:
      md.sign = ecdsa_sign;
      md.verify = ecdsa_verify;
      md.required_pkey_type[0] = nid::ecPublicKey;
      break;
  }
  return md;
}

using Md2 = Slots<MD2_CTX, MD2_Init, MD2_Update, MD2_Final>;
using Md4 = Slots<MD4_CTX, MD4_Init, MD4_Update, MD4_Final>;
using Md5 = Slots<MD5_CTX, MD5_Init, MD5_Update, MD5_Final>;
using Sha0 = Slots<SHA_CTX, SHA_Init, SHA_Update, SHA_Final>;
using Sha1 = Slots<SHA_CTX, SHA1_Init, SHA1_Update, SHA1_Final>;
using Sha224 = Slots<SHA256_CTX, SHA224_Init, SHA256_Update, SHA256_Final>;
using Sha256 = Slots<SHA256_CTX, SHA256_Init, SHA256_Update, SHA256_Final>;
using Sha384 = Slots<SHA512_CTX, SHA384_Init, SHA512_Update, SHA512_Final>;
using Sha512 = Slots<SHA512_CTX, SHA512_Init, SHA512_Update, SHA512_Final>;
using Rmd160 = Slots<RIPEMD160_CTX, RIPEMD160_Init, RIPEMD160_Update, RIPEMD160_Final>;

// clang-format off
constexpr EVP_MD kMd2 = describe<Md2>(nid::md2, nid::md2WithRsa, 16, 16, Signer::kRsa);
constexpr EVP_MD kMd4 = describe<Md4>(nid::md4, nid::md4WithRsa, 16, 64, Signer::kRsa);
constexpr EVP_MD kMd5 = describe<Md5>(nid::md5, nid::md5WithRsa, 16, 64, Signer::kRsa);
constexpr EVP_MD kSha = describe<Sha0>(nid::sha, nid::shaWithRsa, 20, 64, Signer::kRsa);
constexpr EVP_MD kSha1 = describe<Sha1>(nid::sha1, nid::sha1WithRsa, 20, 64, Signer::kRsa);
constexpr EVP_MD kSha224 = describe<Sha224>(nid::sha224, nid::sha224WithRsa, 28, 64, Signer::kRsa);
constexpr EVP_MD kSha256 = describe<Sha256>(nid::sha256, nid::sha256WithRsa, 32, 64, Signer::kRsa);
constexpr EVP_MD kSha384 = describe<Sha384>(nid::sha384, nid::sha384WithRsa, 48, 128, Signer::kRsa);
constexpr EVP_MD kSha512 = describe<Sha512>(nid::sha512, nid::sha512WithRsa, 64, 128, Signer::kRsa);
constexpr EVP_MD kRmd160 = describe<Rmd160>(nid::ripemd160, nid::ripemd160WithRsa, 20, 64, Signer::kRsa);
constexpr EVP_MD kDss = describe<Sha1>(nid::dsaWithSha, nid::dsaWithSha, 20, 64, Signer::kDsa, EVP_MD_FLAG_FIPS);
constexpr EVP_MD kDss1 = describe<Sha1>(nid::dsa, nid::dsaWithSha1, 20, 64, Signer::kDsa);
constexpr EVP_MD kEcdsa = describe<Sha1>(nid::ecdsaWithSha1, nid::ecdsaWithSha1, 20, 64, Signer::kEcdsa);
constexpr EVP_MD kNull = {nid::undef, nid::undef, 0, 0, null_init, null_update, null_final, nullptr,
                          nullptr, nullptr, nullptr, {0}, 0, static_cast<int>(sizeof(EVP_MD*))};
// clang-format on

}  // namespace
}  // namespace morvane::evp

/* see morvane/evp.h */
const EVP_MD* EVP_md_null(void) {
  return &morvane::evp::kNull;
}
const EVP_MD* EVP_md2(void) {
  return &morvane::evp::kMd2;
}
const EVP_MD* EVP_md4(void) {
  return &morvane::evp::kMd4;
}
const EVP_MD* EVP_md5(void) {
  return &morvane::evp::kMd5;
}
const EVP_MD* EVP_sha(void) {
  return &morvane::evp::kSha;
}
const EVP_MD* EVP_sha1(void) {
  return &morvane::evp::kSha1;
}
const EVP_MD* EVP_dss(void) {
  return &morvane::evp::kDss;
}
const EVP_MD* EVP_dss1(void) {
  return &morvane::evp::kDss1;
}
const EVP_MD* EVP_ecdsa(void) {
  return &morvane::evp::kEcdsa;
}
const EVP_MD* EVP_sha224(void) {
  return &morvane::evp::kSha224;
}
const EVP_MD* EVP_sha256(void) {
  return &morvane::evp::kSha256;
}
const EVP_MD* EVP_sha384(void) {
  return &morvane::evp::kSha384;
}
const EVP_MD* EVP_sha512(void) {
  return &morvane::evp::kSha512;
}
const EVP_MD* EVP_ripemd160(void) {
  return &morvane::evp::kRmd160;
}
