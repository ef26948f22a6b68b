// OAEP (RFC 8017, 7.1) with SHA-1 and MGF1 over SHA-1, and MGF1 itself
// (RFC 8017, B.2.1) over any digest.
//
// Implementation notes: the check unmasks the whole block, compares the label
// hash, looks for the 0x01 separator and copies the message with masks, so
// its branches and addresses depend only on the lengths; every malformed
// block gives the one reason "oaep decoding error".  A message too long for
// the caller's room is "data too large", told apart only after the decoding
// succeeded.

#include <stdint.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>
#include <morvane/sha.h>

#include "internal/ct.h"
#include "internal/wipe.h"
#include "rsa/internal.h"

namespace ct = morvane::ct;

namespace {

constexpr int kHash = SHA_DIGEST_LENGTH;  // 20

// SHA-1 of the label; a null label counts as empty (the callers refuse a
// negative length with a label).
bool label_hash(unsigned char out[kHash], const unsigned char* param, int plen) {
  static const unsigned char kEmpty[1] = {0};
  const bool empty = param == nullptr || plen <= 0;
  return EVP_Digest(empty ? kEmpty : param, empty ? 0 : static_cast<size_t>(plen), out, nullptr,
                    EVP_sha1(), nullptr) == 1;
}

}  // namespace

/* see morvane/rsa.h */
int PKCS1_MGF1(unsigned char* mask, long len, const unsigned char* seed, long seedlen,
               const EVP_MD* dgst) {
  if (len < 0 || seedlen < 0) {
    RSAerr(RSA_F_PKCS1_MGF1, RSA_R_INVALID_LENGTH);
    return -1;
  }
  const int mdlen = EVP_MD_size(dgst);
  if (mdlen <= 0 || mdlen > EVP_MAX_MD_SIZE) return -1;
  EVP_MD_CTX c;
  EVP_MD_CTX_init(&c);
  unsigned char md[EVP_MAX_MD_SIZE];
  morvane::internal::Wiper wipe_md(md);
  int ret = 0;
  for (uint32_t counter = 0; len > 0; counter++) {
    const unsigned char cnt[4] = {
        static_cast<unsigned char>(counter >> 24), static_cast<unsigned char>(counter >> 16),
        static_cast<unsigned char>(counter >> 8), static_cast<unsigned char>(counter)};
    if (!EVP_DigestInit_ex(&c, dgst, nullptr) ||
        !EVP_DigestUpdate(&c, seed, static_cast<size_t>(seedlen)) ||
        !EVP_DigestUpdate(&c, cnt, sizeof cnt) || !EVP_DigestFinal_ex(&c, md, nullptr)) {
      ret = -1;
      break;
    }
    const long n = len < mdlen ? len : mdlen;
    memcpy(mask, md, static_cast<size_t>(n));
    mask += n;
    len -= n;
  }
  EVP_MD_CTX_cleanup(&c);
  return ret;
}

/* see morvane/rsa.h */
int MGF1(unsigned char* mask, long len, const unsigned char* seed, long seedlen) {
  return PKCS1_MGF1(mask, len, seed, seedlen, EVP_sha1());
}

namespace morvane::rsa {

int check_oaep_block(unsigned char* to, int tlen, const uint8_t* em, int num,
                     const unsigned char* param, int plen, int func) {
  if (num < 2 * kHash + 2) {
    RSAerr(func, RSA_R_OAEP_DECODING_ERROR);
    return -1;
  }
  const int dblen = num - 1 - kHash;
  auto* buf = static_cast<uint8_t*>(MORVANE_malloc(static_cast<size_t>(dblen + kHash)));
  if (buf == nullptr) {
    RSAerr(func, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  uint8_t* seed = buf;
  uint8_t* db = buf + kHash;
  unsigned char phash[kHash];
  int ret = -1;
  if (MGF1(seed, kHash, em + 1 + kHash, dblen) != 0) {
    RSAerr(func, RSA_R_OAEP_DECODING_ERROR);
  } else {
    for (int i = 0; i < kHash; i++) seed[i] ^= em[1 + i];
    if (MGF1(db, dblen, seed, kHash) != 0 || !label_hash(phash, param, plen)) {
      RSAerr(func, RSA_R_OAEP_DECODING_ERROR);
    } else {
      for (int i = 0; i < dblen; i++) db[i] ^= em[1 + kHash + i];
      unsigned good = ct::zero_mask<unsigned>(em[0]) & ct::bytes_eq_mask(db, phash, kHash);
      unsigned found = 0, one_at = 0, one_ok = 0;  // the first non-zero byte after the hash
      for (int i = kHash; i < dblen; i++) {
        const unsigned nonzero = ~ct::zero_mask<unsigned>(db[i]);
        const unsigned first = nonzero & ~found;
        one_at = ct::select(first, static_cast<unsigned>(i), one_at);
        one_ok = ct::select(first, ct::eq_mask<unsigned>(db[i], 1), one_ok);
        found |= nonzero;
      }
      good &= found & one_ok;
      const unsigned msg_len = static_cast<unsigned>(dblen) - 1 - one_at;
      const unsigned too_large = too_long(tlen, msg_len);
      const unsigned reason =
          ct::select(good, unsigned{RSA_R_DATA_TOO_LARGE}, unsigned{RSA_R_OAEP_DECODING_ERROR});
      ret = finish_check(to, tlen, db, dblen, one_at + 1, kHash + 1, good & ~too_large, reason,
                         msg_len, func);
    }
  }
  internal::wipe(buf, static_cast<size_t>(dblen + kHash));
  MORVANE_free(buf);
  return ret;
}

}  // namespace morvane::rsa

using namespace morvane::rsa;

/* see morvane/rsa.h */
int RSA_padding_add_PKCS1_OAEP(unsigned char* to, int tlen, const unsigned char* from, int flen,
                               const unsigned char* param, int plen) {
  const int fn = RSA_F_RSA_PADDING_ADD_PKCS1_OAEP;
  if (param != nullptr && plen < 0) {  // a null label alone is empty whatever plen says
    RSAerr(fn, RSA_R_INVALID_LENGTH);
    return 0;
  }
  if (tlen < 2 * kHash + 2) {  // emLen = tlen - 1 below 41
    RSAerr(fn, RSA_R_KEY_SIZE_TOO_SMALL);
    return 0;
  }
  if (!add_fits(flen, tlen, 2 * kHash + 2, fn)) return 0;
  const int emlen = tlen - 1;
  const int dblen = emlen - kHash;
  unsigned char* seed = to + 1;
  unsigned char* db = to + 1 + kHash;
  to[0] = 0x00;
  if (!label_hash(db, param, plen)) return 0;
  memset(db + kHash, 0, static_cast<size_t>(dblen - flen - 1 - kHash));
  db[dblen - flen - 1] = 0x01;
  if (flen > 0) memcpy(db + dblen - flen, from, static_cast<size_t>(flen));
  if (RAND_bytes(seed, kHash) <= 0) return 0;
  auto* dbmask = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(dblen)));
  if (dbmask == nullptr) {
    RSAerr(fn, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  int ok = MGF1(dbmask, dblen, seed, kHash) == 0;
  if (ok) {
    for (int i = 0; i < dblen; i++) db[i] ^= dbmask[i];
    unsigned char seedmask[kHash];
    ok = MGF1(seedmask, kHash, db, dblen) == 0;
    for (int i = 0; ok && i < kHash; i++) seed[i] ^= seedmask[i];
    morvane::internal::wipe(seedmask);
  }
  morvane::internal::wipe(dbmask, static_cast<size_t>(dblen));
  MORVANE_free(dbmask);
  return ok;
}

/* see morvane/rsa.h */
int RSA_padding_check_PKCS1_OAEP(unsigned char* to, int tlen, const unsigned char* from, int flen,
                                 int num, const unsigned char* param, int plen) {
  const int fn = RSA_F_RSA_PADDING_CHECK_PKCS1_OAEP;
  if (param != nullptr && plen < 0) {  // public, like the lengths: refused at once
    RSAerr(fn, RSA_R_INVALID_LENGTH);
    return -1;
  }
  if (num < 2 * kHash + 2 && num <= kMaxBlock) {
    RSAerr(fn, RSA_R_OAEP_DECODING_ERROR);
    return -1;
  }
  return over_block(from, flen, num, fn, RSA_R_OAEP_DECODING_ERROR, [&](uint8_t* em) {
    return check_oaep_block(to, tlen, em, num, param, plen, fn);
  });
}
