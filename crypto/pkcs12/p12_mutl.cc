// The PFX integrity MAC (RFC 7292, 5 and B.4): HMAC keyed by the PKCS#12
// derivation (id 3) over the content octets of the authenticated safes.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/rand.h>
#include <morvane/x509.h>

#include "internal/ct.h"
#include "internal/iter_count.h"
#include "internal/wipe.h"

/* see morvane/pkcs12.h */
int PKCS12_gen_mac(PKCS12* p12, const char* pass, int passlen, unsigned char* mac,
                   unsigned int* maclen) {
  if (p12 == nullptr || p12->mac == nullptr || p12->authsafes == nullptr || mac == nullptr ||
      maclen == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_INVALID_NULL_ARGUMENT);
    return 0;
  }
  if (OBJ_obj2nid(p12->authsafes->type) != 21 /* pkcs7-data */ || p12->authsafes->d.data == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_CONTENT_TYPE_NOT_DATA);
    return 0;
  }
  const PKCS12_MAC_DATA* md = p12->mac;
  // The count is bounded first as a SHA-1 count, then weighed by its
  // digest's cost once the digest is known.
  long count = morvane::internal::stated_iterations(md->iter, nullptr);
  if (count < 0) {
    PKCS12err(PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_ITERATION_COUNT_TOO_LARGE);
    return 0;
  }
  const EVP_MD* md_type =
      EVP_get_digestbyname(OBJ_nid2sn(OBJ_obj2nid(md->dinfo->algor->algorithm)));
  if (md_type == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_UNKNOWN_DIGEST_ALGORITHM);
    return 0;
  }
  if ((count = morvane::internal::stated_iterations(md->iter, md_type)) < 0) {
    PKCS12err(PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_ITERATION_COUNT_TOO_LARGE);
    return 0;
  }
  const int iter = static_cast<int>(count);  // at most PKCS5_MAX_FILE_ITER
  unsigned char key[EVP_MAX_MD_SIZE];
  morvane::internal::Wiper wk(key);
  const int keylen = EVP_MD_size(md_type);
  if (!PKCS12_key_gen_asc(pass, passlen, md->salt->data, md->salt->length, PKCS12_MAC_ID, iter,
                          keylen, key, md_type)) {
    PKCS12err(PKCS12_F_PKCS12_GEN_MAC, PKCS12_R_KEY_GEN_ERROR);
    return 0;
  }
  const ASN1_OCTET_STRING* data = p12->authsafes->d.data;
  HMAC_CTX h;
  HMAC_CTX_init(&h);
  const bool ok = HMAC_Init_ex(&h, key, keylen, md_type, nullptr) &&
                  HMAC_Update(&h, data->data, static_cast<size_t>(data->length)) &&
                  HMAC_Final(&h, mac, maclen);
  HMAC_CTX_cleanup(&h);
  return ok ? 1 : 0;
}

/* see morvane/pkcs12.h */
int PKCS12_verify_mac(PKCS12* p12, const char* pass, int passlen) {
  if (p12 == nullptr || p12->mac == nullptr) {
    PKCS12err(PKCS12_F_PKCS12_VERIFY_MAC, PKCS12_R_MAC_ABSENT);
    return 0;
  }
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int maclen = 0;
  if (!PKCS12_gen_mac(p12, pass, passlen, mac, &maclen)) {
    PKCS12err(PKCS12_F_PKCS12_VERIFY_MAC, PKCS12_R_MAC_GENERATION_ERROR);
    return 0;
  }
  const ASN1_OCTET_STRING* stored = p12->mac->dinfo->digest;
  if (stored == nullptr || static_cast<unsigned int>(stored->length) != maclen) return 0;
  // The stored value is public, the computed one depends on the password.
  return morvane::ct::declassify(morvane::ct::bytes_eq_mask(mac, stored->data, maclen)) != 0 ? 1 : 0;
}

/* see morvane/pkcs12.h */
int PKCS12_setup_mac(PKCS12* p12, int iter, unsigned char* salt, int saltlen,
                     const EVP_MD* md_type) {
  if (p12 == nullptr || md_type == nullptr || saltlen < 0) return 0;
  PKCS12_MAC_DATA* mac = PKCS12_MAC_DATA_new();
  if (mac == nullptr) return 0;
  if (iter > 1) {
    mac->iter = ASN1_INTEGER_new();
    if (mac->iter == nullptr || !ASN1_INTEGER_set(mac->iter, iter)) {
      PKCS12_MAC_DATA_free(mac);
      PKCS12err(PKCS12_F_PKCS12_SETUP_MAC, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  if (saltlen == 0) saltlen = 8;
  if (!ASN1_STRING_set(mac->salt, salt, saltlen)) {
    PKCS12_MAC_DATA_free(mac);
    PKCS12err(PKCS12_F_PKCS12_SETUP_MAC, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (salt == nullptr && RAND_pseudo_bytes(mac->salt->data, saltlen) < 0) {
    PKCS12_MAC_DATA_free(mac);
    return 0;
  }
  ASN1_OBJECT* obj = OBJ_nid2obj(EVP_MD_type(md_type));
  if (obj == nullptr || !X509_ALGOR_set0(mac->dinfo->algor, obj, ASN1_UT_NULL, nullptr)) {
    PKCS12_MAC_DATA_free(mac);
    PKCS12err(PKCS12_F_PKCS12_SETUP_MAC, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  // MAC data set up again replaces what was there.
  PKCS12_MAC_DATA_free(p12->mac);
  p12->mac = mac;
  return 1;
}

/* see morvane/pkcs12.h */
int PKCS12_set_mac(PKCS12* p12, const char* pass, int passlen, unsigned char* salt, int saltlen,
                   int iter, const EVP_MD* md_type) {
  if (md_type == nullptr) md_type = EVP_sha1();
  if (!PKCS12_setup_mac(p12, iter, salt, saltlen, md_type)) {
    PKCS12err(PKCS12_F_PKCS12_SET_MAC, PKCS12_R_MAC_SETUP_ERROR);
    return 0;
  }
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int maclen = 0;
  if (!PKCS12_gen_mac(p12, pass, passlen, mac, &maclen)) {
    PKCS12err(PKCS12_F_PKCS12_SET_MAC, PKCS12_R_MAC_GENERATION_ERROR);
    return 0;
  }
  if (!ASN1_OCTET_STRING_set(p12->mac->dinfo->digest, mac, static_cast<int>(maclen))) {
    PKCS12err(PKCS12_F_PKCS12_SET_MAC, PKCS12_R_MAC_STRING_SET_ERROR);
    return 0;
  }
  return 1;
}
