// The subject key of a request, taken from their subject
// public key info with its decoded key cached there.

#include <morvane/evp.h>
#include <morvane/x509.h>

/* see morvane/x509.h */
EVP_PKEY* X509_REQ_get_pubkey(X509_REQ* req) {
  if (req == nullptr || req->req_info == nullptr) return nullptr;
  return X509_PUBKEY_get(req->req_info->pubkey);
}
