// Private keys in PEM: the reader that takes any private-key block
// (traditional per-algorithm forms, PKCS#8, encrypted PKCS#8), the readers
// by algorithm on top of it, the traditional writer, and the PKCS#8 writers
// in PEM and DER, plain or encrypted under a pass phrase.

#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

#include "internal/codec_thunk.h"
#include "internal/unbuilt.h"
#include "internal/wipe.h"
#include "pem/internal.h"

namespace morvane::pem {

// Password-based encryption of PKCS#8 keys (PKCS #5, RFC 8018) is part of
// the PKCS#12 component, which is not built yet: these stand in for
// PKCS8_encrypt and PKCS8_decrypt and fail as unbuilt operations.
X509_SIG* pkcs8_encrypt(int, const EVP_CIPHER*, const char*, int, PKCS8_PRIV_KEY_INFO*) {
  morvane::internal::unbuilt(ERR_LIB_PKCS12, PKCS12_F_PKCS8_ENCRYPT, "PKCS8_encrypt", __FILE__,
                             __LINE__);
  return nullptr;
}

PKCS8_PRIV_KEY_INFO* pkcs8_decrypt(X509_SIG*, const char*, int) {
  morvane::internal::unbuilt(ERR_LIB_PKCS12, 0, "PKCS8_decrypt", __FILE__, __LINE__);
  return nullptr;
}

}  // namespace morvane::pem

namespace {

// The key of a PrivateKeyInfo; p8 is freed.
EVP_PKEY* from_pkcs8(PKCS8_PRIV_KEY_INFO* p8) {
  if (p8 == nullptr) return nullptr;
  EVP_PKEY* key = EVP_PKCS82PKEY(p8);
  PKCS8_PRIV_KEY_INFO_free(p8);
  return key;
}

// The pass phrase for decrypting an encrypted PKCS#8 key into buf, then
// the decrypted structure (p8 is freed either way); null with "bad password
// read" under func (and *no_pass set when given) when no phrase can be had.
PKCS8_PRIV_KEY_INFO* decrypt_pkcs8(X509_SIG* p8, pem_password_cb* cb, void* u, int func,
                                   bool* no_pass = nullptr) {
  char buf[PEM_BUFSIZE];
  morvane::internal::Wiper wb(buf);
  const int klen = morvane::pem::get_pass_phrase(buf, 0, cb, u);
  if (klen <= 0) {
    PEMerr(func, PEM_R_BAD_PASSWORD_READ);
    if (no_pass != nullptr) *no_pass = true;
    X509_SIG_free(p8);
    return nullptr;
  }
  PKCS8_PRIV_KEY_INFO* p8inf = morvane::pem::pkcs8_decrypt(p8, buf, klen);
  X509_SIG_free(p8);
  return p8inf;
}

// Writes the key as PrivateKeyInfo, encrypted when enc is given or nid is
// not -1, as DER (isder) or PEM.
int do_pk8pkey(BIO* bp, EVP_PKEY* x, bool isder, int nid, const EVP_CIPHER* enc,
               char* kstr, int klen, pem_password_cb* cb, void* u) {
  PKCS8_PRIV_KEY_INFO* p8inf = EVP_PKEY2PKCS8(x);
  if (p8inf == nullptr) {
    PEMerr(PEM_F_DO_PK8PKEY, PEM_R_ERROR_CONVERTING_PRIVATE_KEY);
    return 0;
  }
  int ret = 0;
  if (enc == nullptr && nid == -1) {
    ret = isder ? i2d_PKCS8_PRIV_KEY_INFO_bio(bp, p8inf)
                : PEM_write_bio_PKCS8_PRIV_KEY_INFO(bp, p8inf);
    PKCS8_PRIV_KEY_INFO_free(p8inf);
    return ret;
  }
  char buf[PEM_BUFSIZE];
  morvane::internal::Wiper wb(buf);
  if (kstr == nullptr) {
    klen = morvane::pem::get_pass_phrase(buf, 1, cb, u);
    if (klen <= 0) {
      PEMerr(PEM_F_DO_PK8PKEY, PEM_R_READ_KEY);
      PKCS8_PRIV_KEY_INFO_free(p8inf);
      return 0;
    }
    kstr = buf;
  }
  X509_SIG* p8 = morvane::pem::pkcs8_encrypt(nid, enc, kstr, klen, p8inf);
  PKCS8_PRIV_KEY_INFO_free(p8inf);
  if (p8 == nullptr) return 0;
  ret = isder ? i2d_PKCS8_bio(bp, p8) : PEM_write_bio_PKCS8(bp, p8);
  X509_SIG_free(p8);
  return ret;
}

int do_pk8pkey_fp(FILE* fp, EVP_PKEY* x, bool isder, int nid, const EVP_CIPHER* enc,
                  char* kstr, int klen, pem_password_cb* cb, void* u) {
  return morvane::pem::on_file(fp, PEM_F_DO_PK8PKEY_FP, 0, [&](BIO* b) {
    return do_pk8pkey(b, x, isder, nid, enc, kstr, klen, cb, u);
  });
}

// The algorithm key of the first private-key block, stored in *x when
// obtained (the old one freed with free_key).
template <class K>
K* read_algorithm_key(EVP_PKEY* pk, K** x, K* (*get1)(EVP_PKEY*), void (*free_key)(K*)) {
  if (pk == nullptr) return nullptr;
  K* key = get1(pk);
  EVP_PKEY_free(pk);
  if (key == nullptr) return nullptr;
  if (x != nullptr) {
    free_key(*x);
    *x = key;
  }
  return key;
}

}  // namespace

/* see morvane/pem.h */
EVP_PKEY* PEM_read_bio_PrivateKey(BIO* bp, EVP_PKEY** x, pem_password_cb* cb, void* u) {
  char* nm = nullptr;
  unsigned char* data = nullptr;
  long len = 0;
  if (!PEM_bytes_read_bio(&data, &len, &nm, PEM_STRING_EVP_PKEY, bp, cb, u)) return nullptr;
  const unsigned char* p = data;
  EVP_PKEY* ret = nullptr;
  bool no_pass = false;
  const morvane::pem::PrivateKeyName* known = morvane::pem::find_private_key_name(nm);
  if (known != nullptr && known->pkey_type != 0) {
    ret = d2i_PrivateKey(known->pkey_type, x, &p, len);
  } else if (known != nullptr) {
    PKCS8_PRIV_KEY_INFO* p8inf = nullptr;
    if (strcmp(nm, PEM_STRING_PKCS8INF) == 0) {
      p8inf = d2i_PKCS8_PRIV_KEY_INFO(nullptr, &p, len);
    } else {
      X509_SIG* p8 = d2i_X509_SIG(nullptr, &p, len);
      if (p8 != nullptr)
        p8inf = decrypt_pkcs8(p8, cb, u, PEM_F_PEM_READ_BIO_PRIVATEKEY, &no_pass);
    }
    if (p8inf != nullptr) {
      ret = from_pkcs8(p8inf);
      if (x != nullptr) {
        EVP_PKEY_free(*x);
        *x = ret;
      }
    }
  }
  // Without a pass phrase the read ends with "bad password read" alone; the
  // name and the bytes are released on that path too.
  if (ret == nullptr && !no_pass) PEMerr(PEM_F_PEM_READ_BIO_PRIVATEKEY, ERR_R_ASN1_LIB);
  MORVANE_free(nm);
  morvane::internal::wipe(data, static_cast<size_t>(len));
  MORVANE_free(data);
  return ret;
}

/* see morvane/pem.h */
EVP_PKEY* PEM_read_PrivateKey(FILE* fp, EVP_PKEY** x, pem_password_cb* cb, void* u) {
  return morvane::pem::on_file(fp, PEM_F_PEM_READ_PRIVATEKEY, static_cast<EVP_PKEY*>(nullptr),
                               [&](BIO* b) { return PEM_read_bio_PrivateKey(b, x, cb, u); });
}

/* see morvane/pem.h */
RSA* PEM_read_bio_RSAPrivateKey(BIO* bp, RSA** x, pem_password_cb* cb, void* u) {
  return read_algorithm_key(PEM_read_bio_PrivateKey(bp, nullptr, cb, u), x, EVP_PKEY_get1_RSA,
                            RSA_free);
}

/* see morvane/pem.h */
RSA* PEM_read_RSAPrivateKey(FILE* fp, RSA** x, pem_password_cb* cb, void* u) {
  return read_algorithm_key(PEM_read_PrivateKey(fp, nullptr, cb, u), x, EVP_PKEY_get1_RSA,
                            RSA_free);
}

/* see morvane/pem.h */
DSA* PEM_read_bio_DSAPrivateKey(BIO* bp, DSA** x, pem_password_cb* cb, void* u) {
  return read_algorithm_key(PEM_read_bio_PrivateKey(bp, nullptr, cb, u), x, EVP_PKEY_get1_DSA,
                            DSA_free);
}

/* see morvane/pem.h */
DSA* PEM_read_DSAPrivateKey(FILE* fp, DSA** x, pem_password_cb* cb, void* u) {
  return read_algorithm_key(PEM_read_PrivateKey(fp, nullptr, cb, u), x, EVP_PKEY_get1_DSA,
                            DSA_free);
}

/* see morvane/pem.h */
EC_KEY* PEM_read_bio_ECPrivateKey(BIO* bp, EC_KEY** x, pem_password_cb* cb, void* u) {
  return read_algorithm_key(PEM_read_bio_PrivateKey(bp, nullptr, cb, u), x,
                            EVP_PKEY_get1_EC_KEY, EC_KEY_free);
}

/* see morvane/pem.h */
EC_KEY* PEM_read_ECPrivateKey(FILE* fp, EC_KEY** x, pem_password_cb* cb, void* u) {
  return read_algorithm_key(PEM_read_PrivateKey(fp, nullptr, cb, u), x, EVP_PKEY_get1_EC_KEY,
                            EC_KEY_free);
}

namespace {

const char* traditional_name(const EVP_PKEY* x) {
  if (x->type == EVP_PKEY_DSA) return PEM_STRING_DSA;
  if (x->type == EVP_PKEY_RSA) return PEM_STRING_RSA;
  return PEM_STRING_ECPRIVATEKEY;
}

}  // namespace

/* see morvane/pem.h */
int PEM_write_bio_PrivateKey(BIO* bp, EVP_PKEY* x, const EVP_CIPHER* enc, unsigned char* kstr,
                             int klen, pem_password_cb* cb, void* u) {
  if (x == nullptr) return 0;
  return PEM_ASN1_write_bio(morvane::internal::i2d_thunk<EVP_PKEY, i2d_PrivateKey>, traditional_name(x),
                            bp, reinterpret_cast<char*>(x), enc, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int PEM_write_PrivateKey(FILE* fp, EVP_PKEY* x, const EVP_CIPHER* enc, unsigned char* kstr,
                         int klen, pem_password_cb* cb, void* u) {
  if (x == nullptr) return 0;
  return PEM_ASN1_write(morvane::internal::i2d_thunk<EVP_PKEY, i2d_PrivateKey>, traditional_name(x), fp,
                        reinterpret_cast<char*>(x), enc, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int PEM_write_bio_PKCS8PrivateKey(BIO* bp, EVP_PKEY* x, const EVP_CIPHER* enc, char* kstr,
                                  int klen, pem_password_cb* cb, void* u) {
  return do_pk8pkey(bp, x, false, -1, enc, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int PEM_write_bio_PKCS8PrivateKey_nid(BIO* bp, EVP_PKEY* x, int nid, char* kstr, int klen,
                                      pem_password_cb* cb, void* u) {
  return do_pk8pkey(bp, x, false, nid, nullptr, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int i2d_PKCS8PrivateKey_bio(BIO* bp, EVP_PKEY* x, const EVP_CIPHER* enc, char* kstr, int klen,
                            pem_password_cb* cb, void* u) {
  return do_pk8pkey(bp, x, true, -1, enc, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int i2d_PKCS8PrivateKey_nid_bio(BIO* bp, EVP_PKEY* x, int nid, char* kstr, int klen,
                                pem_password_cb* cb, void* u) {
  return do_pk8pkey(bp, x, true, nid, nullptr, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int PEM_write_PKCS8PrivateKey(FILE* fp, EVP_PKEY* x, const EVP_CIPHER* enc, char* kstr,
                              int klen, pem_password_cb* cb, void* u) {
  return do_pk8pkey_fp(fp, x, false, -1, enc, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int PEM_write_PKCS8PrivateKey_nid(FILE* fp, EVP_PKEY* x, int nid, char* kstr, int klen,
                                  pem_password_cb* cb, void* u) {
  return do_pk8pkey_fp(fp, x, false, nid, nullptr, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int i2d_PKCS8PrivateKey_fp(FILE* fp, EVP_PKEY* x, const EVP_CIPHER* enc, char* kstr, int klen,
                           pem_password_cb* cb, void* u) {
  return do_pk8pkey_fp(fp, x, true, -1, enc, kstr, klen, cb, u);
}

/* see morvane/pem.h */
int i2d_PKCS8PrivateKey_nid_fp(FILE* fp, EVP_PKEY* x, int nid, char* kstr, int klen,
                               pem_password_cb* cb, void* u) {
  return do_pk8pkey_fp(fp, x, true, nid, nullptr, kstr, klen, cb, u);
}

/* see morvane/pem.h */
EVP_PKEY* d2i_PKCS8PrivateKey_bio(BIO* bp, EVP_PKEY** x, pem_password_cb* cb, void* u) {
  X509_SIG* p8 = d2i_PKCS8_bio(bp, nullptr);
  if (p8 == nullptr) return nullptr;
  EVP_PKEY* ret = from_pkcs8(decrypt_pkcs8(p8, cb, u, PEM_F_D2I_PKCS8PRIVATEKEY_BIO));
  if (ret == nullptr) return nullptr;
  if (x != nullptr) {
    EVP_PKEY_free(*x);
    *x = ret;
  }
  return ret;
}

/* see morvane/pem.h */
EVP_PKEY* d2i_PKCS8PrivateKey_fp(FILE* fp, EVP_PKEY** x, pem_password_cb* cb, void* u) {
  return morvane::pem::on_file(fp, PEM_F_D2I_PKCS8PRIVATEKEY_FP, static_cast<EVP_PKEY*>(nullptr),
                               [&](BIO* b) { return d2i_PKCS8PrivateKey_bio(b, x, cb, u); });
}
