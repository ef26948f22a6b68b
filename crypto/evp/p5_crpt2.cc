// PBKDF2 with HMAC-SHA1 (RFC 8018, 5.2) and PBES2 (RFC 8018, 6.2): the key
// of a cipher named by its parameters, derived from a pass phrase.
//
// Implementation notes: PBKDF2 keys HMAC once per call and restarts it for
// every iteration, so each iteration costs the two compressions of its inner
// and outer digest and nothing more.  With the built-in SHA-1 it works on
// the chaining words directly: the pads are compressed once, and each
// iteration's 20-byte message, padded once and for all to one block, goes
// through one SHA1_Transform from each pad's state.  An engine that supplies
// SHA-1 gets the same computation through an HMAC context, restarted with a
// null key, whose failing steps fail the derivation.

#include <stdint.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/objects.h>
#include <morvane/sha.h>
#include <morvane/x509.h>

#include "evp/internal.h"
#include "internal/byteorder.h"
#include "internal/iter_count.h"
#include "internal/wipe.h"

namespace {

constexpr int kNidSha1 = 64;
constexpr int kNidPbkdf2 = 69;
constexpr int kNidHmacWithSha1 = 163;
constexpr size_t kSha1Size = 20;

// The DER content of a SEQUENCE parameter decoded as `T`, or null.
template <class T, T* (*D2i)(T**, const unsigned char**, long)>
T* decode_param(const ASN1_TYPE* param) {
  if (param == nullptr || param->type != ASN1_UT_SEQUENCE || param->value.sequence == nullptr)
    return nullptr;
  const unsigned char* p = param->value.sequence->data;
  return D2i(nullptr, &p, param->value.sequence->length);
}

// One PBKDF2 block: T = U1 ^ ... ^ Uc with U1 = PRF(salt || INT(i)) and
// Uj = PRF(Uj-1), on a context keyed with the pass phrase.
bool pbkdf2_block(HMAC_CTX* ctx, const unsigned char* salt, size_t saltlen, uint32_t i, int iter,
                  unsigned char* t) {
  const unsigned char index[4] = {static_cast<unsigned char>(i >> 24),
                                  static_cast<unsigned char>(i >> 16),
                                  static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
  unsigned char u[EVP_MAX_MD_SIZE];
  morvane::internal::Wiper w(u);
  if (!HMAC_Init_ex(ctx, nullptr, 0, nullptr, nullptr) || !HMAC_Update(ctx, salt, saltlen) ||
      !HMAC_Update(ctx, index, sizeof index) || !HMAC_Final(ctx, u, nullptr))
    return false;
  memcpy(t, u, kSha1Size);
  for (int j = 1; j < iter; j++) {
    if (!HMAC_Init_ex(ctx, nullptr, 0, nullptr, nullptr) || !HMAC_Update(ctx, u, kSha1Size) ||
        !HMAC_Final(ctx, u, nullptr))
      return false;
    for (size_t k = 0; k < kSha1Size; k++) t[k] ^= u[k];
  }
  return true;
}

// HMAC-SHA1 keyed once: the chaining words after the inner and the outer
// pad (RFC 2104, 2).
struct Sha1Pads {
  SHA_CTX inner, outer;
};

void key_pads(Sha1Pads* pads, const unsigned char* key, size_t len) {
  unsigned char k[SHA_CBLOCK] = {}, pad[SHA_CBLOCK];
  morvane::internal::Wiper wk(k), wp(pad);
  if (len > SHA_CBLOCK)
    SHA1(key, len, k);
  else if (len != 0)
    memcpy(k, key, len);
  for (size_t i = 0; i < sizeof pad; i++) pad[i] = static_cast<unsigned char>(k[i] ^ 0x36);
  SHA1_Init(&pads->inner);
  SHA1_Update(&pads->inner, pad, sizeof pad);
  for (size_t i = 0; i < sizeof pad; i++) pad[i] = static_cast<unsigned char>(k[i] ^ 0x5c);
  SHA1_Init(&pads->outer);
  SHA1_Update(&pads->outer, pad, sizeof pad);
}

// Compresses `block` from the chaining words of `from` and stores the
// result, big-endian, over the block's first 20 bytes.
void compress_into(const SHA_CTX& from, SHA_CTX* c, unsigned char* block) {
  c->h0 = from.h0;
  c->h1 = from.h1;
  c->h2 = from.h2;
  c->h3 = from.h3;
  c->h4 = from.h4;
  SHA1_Transform(c, block);
  const SHA_LONG h[5] = {c->h0, c->h1, c->h2, c->h3, c->h4};
  for (int i = 0; i < 5; i++) morvane::internal::store_be32(block + 4 * i, h[i]);
}

// One PBKDF2 block over the pads: U1 through the digest functions, then
// every Uj as the two compressions of a block that holds Uj-1 and the
// padding of a 64 + 20-byte message.
void pbkdf2_block_sha1(const Sha1Pads& pads, const unsigned char* salt, size_t saltlen, uint32_t i,
                       int iter, unsigned char* t) {
  unsigned char block[SHA_CBLOCK] = {};
  SHA_CTX c = pads.inner;
  morvane::internal::Wiper wb(block), wc(c);
  unsigned char index[4];
  morvane::internal::store_be32(index, i);
  SHA1_Update(&c, salt, saltlen);
  SHA1_Update(&c, index, sizeof index);
  SHA1_Final(block, &c);
  block[kSha1Size] = 0x80;               // FIPS 180-4, 5.1.1: the padding bit,
  block[SHA_CBLOCK - 2] = (84 * 8) >> 8;  // and the length in bits of pad
  block[SHA_CBLOCK - 1] = (84 * 8) & 0xff;  // and message, 64 + 20 bytes
  compress_into(pads.outer, &c, block);
  memcpy(t, block, kSha1Size);
  for (int j = 1; j < iter; j++) {
    compress_into(pads.inner, &c, block);
    compress_into(pads.outer, &c, block);
    for (size_t k = 0; k < kSha1Size; k++) t[k] ^= block[k];
  }
}

}  // namespace

/* see morvane/evp.h */
int PKCS5_PBKDF2_HMAC_SHA1(const char* pass, int passlen, const unsigned char* salt, int saltlen,
                           int iter, int keylen, unsigned char* out) {
  int plen = 0;
  if (!morvane::evp::pass_length(pass, passlen, &plen) || saltlen < 0 || keylen < 0) {
    EVPerr(0, EVP_R_INVALID_KEY_LENGTH);
    return 0;
  }
  if ((salt == nullptr && saltlen > 0) || (out == nullptr && keylen > 0)) {
    EVPerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  unsigned char t[kSha1Size];
  morvane::internal::Wiper w(t);
  size_t left = static_cast<size_t>(keylen);
  ENGINE* engine = ENGINE_get_digest_engine(kNidSha1);
  if (engine == nullptr) {
    Sha1Pads pads;
    morvane::internal::Wiper wp(pads);
    key_pads(&pads, reinterpret_cast<const unsigned char*>(pass), static_cast<size_t>(plen));
    for (uint32_t i = 1; left > 0; i++) {
      pbkdf2_block_sha1(pads, salt, static_cast<size_t>(saltlen), i, iter, t);
      const size_t n = left < kSha1Size ? left : kSha1Size;
      memcpy(out, t, n);
      out += n;
      left -= n;
    }
    return 1;
  }
  ENGINE_finish(engine);
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  bool ok = HMAC_Init_ex(&ctx, pass, plen, EVP_sha1(), nullptr);
  for (uint32_t i = 1; ok && left > 0; i++) {
    ok = pbkdf2_block(&ctx, salt, static_cast<size_t>(saltlen), i, iter, t);
    const size_t n = left < kSha1Size ? left : kSha1Size;
    if (ok) memcpy(out, t, n);
    out += n;
    left -= n;
  }
  HMAC_CTX_cleanup(&ctx);
  return ok ? 1 : 0;
}

/* see morvane/evp.h */
int PKCS5_v2_PBE_keyivgen(EVP_CIPHER_CTX* ctx, const char* pass, int passlen, ASN1_TYPE* param,
                          const EVP_CIPHER* /*c*/, const EVP_MD* /*md*/, int en_de) {
  PBE2PARAM* pbe2 = decode_param<PBE2PARAM, d2i_PBE2PARAM>(param);
  if (pbe2 == nullptr) {
    EVPerr(EVP_F_PKCS5_V2_PBE_KEYIVGEN, EVP_R_DECODE_ERROR);
    return 0;
  }
  PBKDF2PARAM* kdf = nullptr;
  unsigned char key[EVP_MAX_KEY_LENGTH];
  morvane::internal::Wiper wk(key);
  int reason = 0;
  long iter = 0;
  int keylen = 0;
  const EVP_CIPHER* cipher = nullptr;
  if (OBJ_obj2nid(pbe2->keyfunc->algorithm) != kNidPbkdf2) {
    reason = EVP_R_UNSUPPORTED_KEY_DERIVATION_FUNCTION;
  } else if ((cipher = EVP_get_cipherbyname(
                  OBJ_nid2sn(OBJ_obj2nid(pbe2->encryption->algorithm)))) == nullptr) {
    reason = EVP_R_UNSUPPORTED_CIPHER;
  } else if (!EVP_CipherInit_ex(ctx, cipher, nullptr, nullptr, nullptr, en_de)) {
    reason = EVP_R_CIPHER_PARAMETER_ERROR;
  } else if (EVP_CIPHER_asn1_to_param(ctx, pbe2->encryption->parameter) <
             (EVP_CIPHER_iv_length(cipher) > 0 ? 1 : 0)) {
    reason = EVP_R_CIPHER_PARAMETER_ERROR;  // an IV the parameters do not give included
  } else if ((keylen = EVP_CIPHER_CTX_key_length(ctx)) > EVP_MAX_KEY_LENGTH) {
    MorvaneDie(__FILE__, __LINE__, "keylen <= sizeof key");
  } else if ((kdf = decode_param<PBKDF2PARAM, d2i_PBKDF2PARAM>(pbe2->keyfunc->parameter)) ==
             nullptr) {
    reason = EVP_R_DECODE_ERROR;
  } else if (kdf->keylength != nullptr && ASN1_INTEGER_get(kdf->keylength) != keylen) {
    reason = EVP_R_UNSUPPORTED_KEYLENGTH;
  } else if (kdf->prf != nullptr && OBJ_obj2nid(kdf->prf->algorithm) != kNidHmacWithSha1) {
    reason = EVP_R_UNSUPPORTED_PRF;
  } else if (kdf->salt->type != ASN1_UT_OCTET_STRING || kdf->salt->value.octet_string == nullptr) {
    reason = EVP_R_UNSUPPORTED_SALT_TYPE;
  } else if ((iter = morvane::internal::stated_iterations(kdf->iter, EVP_sha1())) < 0) {
    reason = EVP_R_ITERATION_COUNT_TOO_LARGE;
  } else {
    const ASN1_OCTET_STRING* salt = kdf->salt->value.octet_string;
    if (!PKCS5_PBKDF2_HMAC_SHA1(pass, passlen, salt->data, salt->length, static_cast<int>(iter),
                                keylen, key) ||
        !EVP_CipherInit_ex(ctx, nullptr, nullptr, key, nullptr, en_de))
      reason = -1;  // their own error is queued
  }
  PBKDF2PARAM_free(kdf);
  PBE2PARAM_free(pbe2);
  if (reason == 0) return 1;
  if (reason > 0) EVPerr(EVP_F_PKCS5_V2_PBE_KEYIVGEN, reason);
  return 0;
}
