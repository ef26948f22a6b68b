// X509_PKEY, a private key as the PEM layer holds it (counted under lock 5),
// and the reader of its legacy DER form SEQUENCE { algorithm, OCTET STRING },
// which sets the cipher and IV from the algorithm identifier.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

#include "asn1/internal.h"

/* see morvane/x509.h */
X509_PKEY* X509_PKEY_new(void) {
  auto* ret = static_cast<X509_PKEY*>(MORVANE_malloc(sizeof(X509_PKEY)));
  if (ret == nullptr) {
    ASN1err(ASN1_F_X509_PKEY_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof *ret);  // every other field zero, the IV too
  ret->references = 1;
  ret->enc_algor = X509_ALGOR_new();
  ret->enc_pkey = ASN1_OCTET_STRING_new();
  if (ret->enc_algor == nullptr || ret->enc_pkey == nullptr) {
    X509_PKEY_free(ret);
    return nullptr;
  }
  return ret;
}

/* see morvane/x509.h */
void X509_PKEY_free(X509_PKEY* x) {
  if (x == nullptr) return;
  if (CRYPTO_add(&x->references, -1, CRYPTO_LOCK_X509_PKEY) > 0) return;
  X509_ALGOR_free(x->enc_algor);
  ASN1_OCTET_STRING_free(x->enc_pkey);
  EVP_PKEY_free(x->dec_pkey);
  if (x->key_free && x->key_data != nullptr) {
    if (x->key_length > 0) MORVANE_cleanse(x->key_data, static_cast<size_t>(x->key_length));
    MORVANE_free(x->key_data);
  }
  MORVANE_free(x);
}

/* see morvane/x509.h */
X509_PKEY* d2i_X509_PKEY(X509_PKEY** a, const unsigned char** in, long len) {
  if (morvane::asn1::null_input(in, len, ASN1_F_D2I_X509_PKEY)) return nullptr;
  X509_PKEY* ret = (a == nullptr || *a == nullptr) ? X509_PKEY_new() : *a;
  ASN1_const_CTX c = {};
  c.pp = in;
  c.p = *in;
  c.q = *in;
  c.max = *in + (len > 0 ? len : 0);
  c.error = ERR_R_NESTED_ASN1_ERROR;
  const ASN1_TYPE* param;
  const char* name;
  if (ret == nullptr) goto err;
  if (!asn1_GetSequence(&c, &len)) goto err;
  c.error = ERR_R_NESTED_ASN1_ERROR;
  c.q = c.p;
  if (d2i_X509_ALGOR(&ret->enc_algor, &c.p, c.slen) == nullptr) goto err;
  c.slen -= c.p - c.q;
  c.q = c.p;
  if (d2i_ASN1_OCTET_STRING(&ret->enc_pkey, &c.p, c.slen) == nullptr) goto err;
  c.slen -= c.p - c.q;
  name = OBJ_nid2ln(OBJ_obj2nid(ret->enc_algor->algorithm));
  ret->cipher.cipher = name != nullptr ? EVP_get_cipherbyname(name) : nullptr;
  if (ret->cipher.cipher == nullptr) {
    c.error = ASN1_R_UNSUPPORTED_CIPHER;
    goto err;
  }
  param = ret->enc_algor->parameter;
  if (param != nullptr && param->type == ASN1_UT_OCTET_STRING) {
    const int n = param->value.octet_string->length;
    if (n > EVP_MAX_IV_LENGTH) {
      c.error = ASN1_R_IV_TOO_LARGE;
      goto err;
    }
    if (n > 0) memcpy(ret->cipher.iv, param->value.octet_string->data, static_cast<size_t>(n));
  } else {
    memset(ret->cipher.iv, 0, EVP_MAX_IV_LENGTH);
  }
  if (!asn1_const_Finish(&c)) goto err;
  *in = c.p;
  if (a != nullptr) *a = ret;
  return ret;
err:
  ASN1err(ASN1_F_D2I_X509_PKEY, c.error);
  asn1_add_error(*in, static_cast<int>(c.q - *in));
  if (ret != nullptr && (a == nullptr || *a != ret)) X509_PKEY_free(ret);
  return nullptr;
}

/* see morvane/x509.h */
int i2d_X509_PKEY(X509_PKEY* /*a*/, unsigned char** /*out*/) {
  return 0;
}
