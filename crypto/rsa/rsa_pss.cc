// PSS encoding and verification (RFC 8017, 9.1), with MGF1 over the message
// digest itself.  The encoded message EM has RSA_size bytes; when the
// modulus's bit length is one more than a multiple of 8, EM starts with a
// zero byte and the encoding proper fills the rest.

#include <stdint.h>
#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include "internal/wipe.h"

namespace {

constexpr unsigned char kZeroes[8] = {0, 0, 0, 0, 0, 0, 0, 0};

// H = Hash(eight zero bytes, mHash, salt); 1 or 0.
int pss_hash(unsigned char* out, const EVP_MD* md, const unsigned char* mhash, int hlen,
             const unsigned char* salt, int slen) {
  EVP_MD_CTX c;
  EVP_MD_CTX_init(&c);
  const int ok = EVP_DigestInit_ex(&c, md, nullptr) && EVP_DigestUpdate(&c, kZeroes, 8) &&
                 EVP_DigestUpdate(&c, mhash, static_cast<size_t>(hlen)) &&
                 (slen <= 0 || EVP_DigestUpdate(&c, salt, static_cast<size_t>(slen))) &&
                 EVP_DigestFinal_ex(&c, out, nullptr);
  EVP_MD_CTX_cleanup(&c);
  return ok;
}

// The shape of an encoding: hLen, MSBits = (bits(n) - 1) mod 8, emLen =
// RSA_size, and sLen with RSA_PSS_SALTLEN_DIGEST resolved.  False, with the
// reason queued, for a salt length below RSA_PSS_SALTLEN_MAX (reason
// "salt length check failed") or a key without a modulus (`no_modulus`).
struct Shape {
  int hlen, msbits, emlen, slen;
};
bool shape_of(Shape* s, const RSA* rsa, const EVP_MD* md, int slen, int fn, int no_modulus) {
  s->hlen = EVP_MD_size(md);
  if (s->hlen <= 0) return false;
  s->slen = slen == RSA_PSS_SALTLEN_DIGEST ? s->hlen : slen;
  if (slen < RSA_PSS_SALTLEN_MAX) {
    RSAerr(fn, RSA_R_SALT_LENGTH_CHECK_FAILED);
    return false;
  }
  if (rsa == nullptr || rsa->n == nullptr || BN_is_zero(rsa->n)) {
    RSAerr(fn, no_modulus);
    return false;
  }
  s->msbits = (BN_num_bits(rsa->n) - 1) & 7;
  s->emlen = RSA_size(rsa);
  return true;
}

}  // namespace

/* see morvane/rsa.h */
int RSA_padding_add_PKCS1_PSS(RSA* rsa, unsigned char* EM, const unsigned char* mHash,
                              const EVP_MD* Hash, int sLen) {
  const int fn = RSA_F_RSA_PADDING_ADD_PKCS1_PSS;
  Shape shape;
  if (!shape_of(&shape, rsa, Hash, sLen, fn, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE)) return 0;
  const int hlen = shape.hlen, msbits = shape.msbits;
  int emlen = shape.emlen;
  sLen = shape.slen;
  if (msbits == 0) {
    *EM++ = 0;
    emlen--;
  }
  if (sLen == RSA_PSS_SALTLEN_MAX) {
    sLen = emlen - hlen - 2;  // the largest salt; none fits below hLen + 2
    if (sLen < 0) {
      RSAerr(fn, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE);
      return 0;
    }
  } else if (emlen < static_cast<long>(hlen) + sLen + 2) {
    RSAerr(fn, RSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE);
    return 0;
  }
  unsigned char* salt = nullptr;
  if (sLen > 0) {
    salt = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(sLen)));
    if (salt == nullptr) {
      RSAerr(fn, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    if (RAND_bytes(salt, sLen) <= 0) {
      MORVANE_free(salt);
      return 0;
    }
  }
  const int masked_len = emlen - hlen - 1;
  unsigned char* h = EM + masked_len;
  int ok =
      pss_hash(h, Hash, mHash, hlen, salt, sLen) && PKCS1_MGF1(EM, masked_len, h, hlen, Hash) == 0;
  if (ok) {
    // DB = zeros, 0x01, salt: XOR the 0x01 and the salt into the mask.
    unsigned char* p = EM + emlen - sLen - hlen - 2;
    *p++ ^= 0x01;
    for (int i = 0; i < sLen; i++) p[i] ^= salt[i];
    if (msbits != 0) EM[0] &= static_cast<unsigned char>(0xFF >> (8 - msbits));
    EM[emlen - 1] = 0xBC;
  }
  if (salt != nullptr) {
    morvane::internal::wipe(salt, static_cast<size_t>(sLen));
    MORVANE_free(salt);
  }
  return ok;
}

/* see morvane/rsa.h */
int RSA_verify_PKCS1_PSS(RSA* rsa, const unsigned char* mHash, const EVP_MD* Hash,
                         const unsigned char* EM, int sLen) {
  const int fn = RSA_F_RSA_VERIFY_PKCS1_PSS;
  Shape shape;
  if (!shape_of(&shape, rsa, Hash, sLen, fn, RSA_R_DATA_TOO_LARGE)) return 0;
  const int hlen = shape.hlen, msbits = shape.msbits;
  int emlen = shape.emlen;
  sLen = shape.slen;
  if (EM[0] & (0xFF << msbits)) {
    RSAerr(fn, RSA_R_FIRST_OCTET_INVALID);
    return 0;
  }
  if (msbits == 0) {
    EM++;
    emlen--;
  }
  // A block without room for the hash, the 0x01 and the 0xBC (which a salt
  // length taken from the block would let through) has no masked DB at all.
  if (emlen < hlen + 2 || emlen < static_cast<long>(hlen) + sLen + 2) {
    RSAerr(fn, RSA_R_DATA_TOO_LARGE);
    return 0;
  }
  if (EM[emlen - 1] != 0xBC) {
    RSAerr(fn, RSA_R_LAST_OCTET_INVALID);
    return 0;
  }
  const int masked_len = emlen - hlen - 1;
  const unsigned char* h = EM + masked_len;
  auto* db = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(masked_len)));
  if (db == nullptr) {
    RSAerr(fn, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  int ret = 0;
  if (PKCS1_MGF1(db, masked_len, h, hlen, Hash) == 0) {
    for (int i = 0; i < masked_len; i++) db[i] ^= EM[i];
    if (msbits != 0) db[0] &= static_cast<unsigned char>(0xFF >> (8 - msbits));
    int i = 0;
    while (db[i] == 0 && i < masked_len - 1) i++;
    unsigned char hprime[EVP_MAX_MD_SIZE];
    if (db[i++] != 0x01) {
      RSAerr(fn, RSA_R_SALT_LENGTH_RECOVERY_FAILED);
    } else if (sLen >= 0 && masked_len - i != sLen) {
      RSAerr(fn, RSA_R_SALT_LENGTH_CHECK_FAILED);
    } else if (pss_hash(hprime, Hash, mHash, hlen, db + i, masked_len - i)) {
      if (memcmp(hprime, h, static_cast<size_t>(hlen)) != 0) {
        RSAerr(fn, RSA_R_BAD_SIGNATURE);
      } else {
        ret = 1;
      }
    }
  }
  morvane::internal::wipe(db, static_cast<size_t>(masked_len));
  MORVANE_free(db);
  return ret;
}
