// The classification of a certificate by its key and signature algorithm,
// as key-exchange code chooses certificates.

#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

/* see morvane/x509.h */
int X509_certificate_type(X509* x, EVP_PKEY* pkey) {
  if (x == nullptr) return 0;
  EVP_PKEY* pk = pkey != nullptr ? pkey : X509_get_pubkey(x);
  if (pk == nullptr) return 0;
  int ret = 0;
  switch (pk->type) {
    case EVP_PKEY_RSA:
      ret = EVP_PKT_SIGN | EVP_PKT_ENC | EVP_PK_RSA;
      break;
    case EVP_PKEY_DSA:
      ret = EVP_PKT_SIGN | EVP_PK_DSA;
      break;
    case EVP_PKEY_EC:
      ret = EVP_PKT_SIGN | EVP_PKT_EXCH | EVP_PK_EC;
      break;
    case EVP_PKEY_DH:
      ret = EVP_PK_DH | EVP_PKT_EXCH;
      break;
    default:
      break;
  }
  const int signer = x->sig_alg != nullptr ? EVP_PKEY_type(OBJ_obj2nid(x->sig_alg->algorithm)) : 0;
  switch (signer) {
    case EVP_PKEY_RSA:
      ret |= EVP_PKS_RSA;
      break;
    case EVP_PKEY_DSA:
      ret |= EVP_PKS_DSA;
      break;
    case EVP_PKEY_EC:
      ret |= EVP_PKS_EC;
      break;
    default:
      break;
  }
  if (EVP_PKEY_size(pk) <= 128) ret |= EVP_PKT_EXP;
  if (pkey == nullptr) EVP_PKEY_free(pk);
  return ret;
}
