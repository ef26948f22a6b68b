// The PBES2 and PBKDF2 parameters (RFC 8018, A.4 and A.2) and the algorithm
// identifier that names PBES2 with PBKDF2, a cipher and fresh parameters.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/x509.h>

#include "asn1/internal.h"

ASN1_SEQUENCE(PBE2PARAM) = {
    ASN1_SIMPLE(PBE2PARAM, keyfunc, X509_ALGOR),
    ASN1_SIMPLE(PBE2PARAM, encryption, X509_ALGOR),
} ASN1_SEQUENCE_END(PBE2PARAM);

ASN1_SEQUENCE(PBKDF2PARAM) = {
    ASN1_SIMPLE(PBKDF2PARAM, salt, ASN1_ANY),
    ASN1_SIMPLE(PBKDF2PARAM, iter, ASN1_INTEGER),
    ASN1_OPT(PBKDF2PARAM, keylength, ASN1_INTEGER),
    ASN1_OPT(PBKDF2PARAM, prf, X509_ALGOR),
} ASN1_SEQUENCE_END(PBKDF2PARAM);

namespace {

// Object numbers of the identifiers written here.
constexpr int kNidRc2Cbc = 37;
constexpr int kNidPbkdf2 = 69;
constexpr int kNidPbes2 = 161;

using morvane::asn1::type_set_item_sequence;

// What went wrong, for the one error the function queues.
enum class Fault { kNone, kQuiet, kParams, kMalloc };

// Fills the cipher's parameters (its IV drawn afresh) into `param`.
Fault set_cipher_params(const EVP_CIPHER* cipher, ASN1_TYPE* param) {
  unsigned char iv[EVP_MAX_IV_LENGTH] = {};
  const int ivlen = EVP_CIPHER_iv_length(cipher);
  if (ivlen > 0 && RAND_pseudo_bytes(iv, ivlen) < 0) return Fault::kQuiet;
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  Fault f = Fault::kNone;
  if (!EVP_CipherInit_ex(&ctx, cipher, nullptr, nullptr, iv, 0) ||
      EVP_CIPHER_param_to_asn1(&ctx, param) < 0)
    f = Fault::kParams;
  EVP_CIPHER_CTX_cleanup(&ctx);
  return f;
}

// The PBKDF2 parameters: salt, iterations and, for RC2-CBC only, the key
// length.
Fault set_kdf_params(PBKDF2PARAM* kdf, int nid, const EVP_CIPHER* cipher, int iter,
                     const unsigned char* salt, int saltlen) {
  ASN1_OCTET_STRING* osalt = ASN1_OCTET_STRING_new();
  if (osalt == nullptr || !ASN1_STRING_set(osalt, salt, saltlen) ||
      (salt == nullptr && RAND_pseudo_bytes(osalt->data, saltlen) < 0)) {
    ASN1_OCTET_STRING_free(osalt);
    return Fault::kMalloc;
  }
  ASN1_TYPE_set(kdf->salt, ASN1_UT_OCTET_STRING, osalt);
  if (!ASN1_INTEGER_set(kdf->iter, iter)) return Fault::kMalloc;
  if (nid == kNidRc2Cbc) {
    kdf->keylength = ASN1_INTEGER_new();
    if (kdf->keylength == nullptr ||
        !ASN1_INTEGER_set(kdf->keylength, EVP_CIPHER_key_length(cipher)))
      return Fault::kMalloc;
  }
  return Fault::kNone;
}

// Names `alg` with `obj` and a SEQUENCE parameter holding `value`.
bool set_algor(X509_ALGOR* alg, int nid, void* value, const ASN1_ITEM* it) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  ASN1_TYPE* param = ASN1_TYPE_new();
  if (obj == nullptr || param == nullptr || !type_set_item_sequence(param, value, it)) {
    ASN1_TYPE_free(param);
    return false;
  }
  ASN1_OBJECT_free(alg->algorithm);
  alg->algorithm = obj;
  ASN1_TYPE_free(alg->parameter);
  alg->parameter = param;
  return true;
}

}  // namespace

/* see morvane/x509.h */
X509_ALGOR* PKCS5_pbe2_set(const EVP_CIPHER* cipher, int iter, const unsigned char* salt,
                           int saltlen) {
  if (cipher == nullptr) {
    ASN1err(ASN1_F_PKCS5_PBE2_SET, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (saltlen < 0) {
    ASN1err(ASN1_F_PKCS5_PBE2_SET, ASN1_R_LENGTH_ERROR);
    return nullptr;
  }
  const int nid = EVP_CIPHER_type(cipher);
  if (nid == 0) {
    ASN1err(ASN1_F_PKCS5_PBE2_SET, ASN1_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER);
    return nullptr;
  }
  if (iter <= 0) iter = PKCS5_DEFAULT_ITER;
  if (saltlen == 0) saltlen = PKCS5_SALT_LEN;

  PBE2PARAM* pbe2 = PBE2PARAM_new();
  PBKDF2PARAM* kdf = nullptr;
  X509_ALGOR* ret = nullptr;
  Fault f = Fault::kMalloc;
  if (pbe2 != nullptr) {
    ASN1_OBJECT_free(pbe2->encryption->algorithm);
    pbe2->encryption->algorithm = OBJ_nid2obj(nid);
    pbe2->encryption->parameter = ASN1_TYPE_new();
    if (pbe2->encryption->algorithm != nullptr && pbe2->encryption->parameter != nullptr)
      f = set_cipher_params(cipher, pbe2->encryption->parameter);
  }
  if (f == Fault::kNone) {
    kdf = PBKDF2PARAM_new();
    f = kdf == nullptr ? Fault::kMalloc : set_kdf_params(kdf, nid, cipher, iter, salt, saltlen);
  }
  if (f == Fault::kNone &&
      (!set_algor(pbe2->keyfunc, kNidPbkdf2, kdf, ASN1_ITEM_ref(PBKDF2PARAM)) ||
       (ret = X509_ALGOR_new()) == nullptr ||
       !set_algor(ret, kNidPbes2, pbe2, ASN1_ITEM_ref(PBE2PARAM))))
    f = Fault::kMalloc;
  PBKDF2PARAM_free(kdf);
  PBE2PARAM_free(pbe2);
  if (f == Fault::kNone) return ret;
  X509_ALGOR_free(ret);
  if (f == Fault::kParams) ASN1err(ASN1_F_PKCS5_PBE2_SET, ASN1_R_ERROR_SETTING_CIPHER_PARAMS);
  if (f == Fault::kMalloc) ASN1err(ASN1_F_PKCS5_PBE2_SET, ERR_R_MALLOC_FAILURE);
  return nullptr;
}
