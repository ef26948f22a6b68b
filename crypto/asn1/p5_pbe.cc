// The PKCS#5 v1.5 password-based-encryption parameter (RFC 8018, A.3) and
// the algorithm identifier that names such an algorithm with fresh
// parameters.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/x509.h>

#include "asn1/internal.h"

ASN1_SEQUENCE(PBEPARAM) = {
    ASN1_SIMPLE(PBEPARAM, salt, ASN1_OCTET_STRING),
    ASN1_SIMPLE(PBEPARAM, iter, ASN1_INTEGER),
} ASN1_SEQUENCE_END(PBEPARAM);

namespace morvane::asn1 {

bool type_set_item_sequence(ASN1_TYPE* type, void* value, const ASN1_ITEM* it) {
  ASN1_STRING* der = ASN1_item_pack(value, it, nullptr);
  if (der == nullptr) return false;
  der->type = ASN1_UT_SEQUENCE;
  ASN1_TYPE_set(type, ASN1_UT_SEQUENCE, der);
  return true;
}

}  // namespace morvane::asn1

/* see morvane/x509.h */
X509_ALGOR* PKCS5_pbe_set(int alg, int iter, const unsigned char* salt, int saltlen) {
  if (saltlen < 0) {
    ASN1err(ASN1_F_PKCS5_PBE_SET, ASN1_R_LENGTH_ERROR);
    return nullptr;
  }
  ASN1_OBJECT* obj = OBJ_nid2obj(alg);
  if (obj == nullptr) return nullptr;
  if (iter <= 0) iter = PKCS5_DEFAULT_ITER;
  if (saltlen == 0) saltlen = PKCS5_SALT_LEN;
  PBEPARAM* pbe = PBEPARAM_new();
  ASN1_TYPE* param = nullptr;
  X509_ALGOR* ret = nullptr;
  bool ok = pbe != nullptr && ASN1_INTEGER_set(pbe->iter, iter) &&
            ASN1_STRING_set(pbe->salt, salt, saltlen);
  // A failed random call fails the whole without an error of its own.
  if (ok && salt == nullptr && RAND_pseudo_bytes(pbe->salt->data, saltlen) < 0) {
    PBEPARAM_free(pbe);
    return nullptr;
  }
  if (ok) {
    param = ASN1_TYPE_new();
    ok = param != nullptr &&
         morvane::asn1::type_set_item_sequence(param, pbe, ASN1_ITEM_ref(PBEPARAM)) &&
         (ret = X509_ALGOR_new()) != nullptr;
  }
  PBEPARAM_free(pbe);
  if (!ok) {
    ASN1err(ASN1_F_PKCS5_PBE_SET, ERR_R_MALLOC_FAILURE);
    ASN1_TYPE_free(param);
    return nullptr;
  }
  ASN1_OBJECT_free(ret->algorithm);
  ret->algorithm = obj;
  ret->parameter = param;
  return ret;
}
