// The subject keys of certificates and requests, taken from their subject
// public key info with its decoded key cached there.

#include <morvane/evp.h>
#include <morvane/x509.h>

/* see morvane/x509.h */
EVP_PKEY* X509_get_pubkey(X509* x) {
  if (x == nullptr || x->cert_info == nullptr) return nullptr;
  return X509_PUBKEY_get(x->cert_info->key);
}

/* see morvane/x509.h */
EVP_PKEY* X509_REQ_get_pubkey(X509_REQ* req) {
  if (req == nullptr || req->req_info == nullptr) return nullptr;
  return X509_PUBKEY_get(req->req_info->pubkey);
}
