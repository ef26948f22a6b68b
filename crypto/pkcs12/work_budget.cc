// The iteration budget of one PFX operation (work_budget.h).

#include "pkcs12/work_budget.h"

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>

#include "internal/err_mark.h"
#include "internal/iter_count.h"

namespace morvane::pkcs12 {

namespace {

constexpr int kNidEncrypted = 26, kNidPbes2 = 161, kNidPbkdf2 = 69;

}  // namespace

const ASN1_STRING* sequence_of(const X509_ALGOR* alg) {
  if (alg == nullptr || alg->parameter == nullptr || alg->parameter->type != ASN1_UT_SEQUENCE)
    return nullptr;
  return alg->parameter->value.sequence;
}

long stated_work(const ASN1_INTEGER* iter) {
  const long n = morvane::internal::stated_iterations(iter);
  return n < 0 ? 0 : n;
}

long stated_work(PKCS12* p12) {
  morvane::internal::ErrorMark mark;
  long n = p12->mac != nullptr ? stated_work(p12->mac->iter) : 0;
  STACK* safes = PKCS12_unpack_authsafes(p12);
  for (int i = 0; i < sk_num(safes); i++) {
    const auto* p7 = reinterpret_cast<const PKCS7*>(sk_value(safes, i));
    if (OBJ_obj2nid(p7->type) == kNidEncrypted && p7->d.encrypted != nullptr &&
        p7->d.encrypted->enc_data != nullptr) {
      // Each term is at most PKCS5_MAX_FILE_ITER: past twice that the sum
      // is over any budget already, and stops before it could overflow.
      n += stated_work(p7->d.encrypted->enc_data->algorithm);
      if (n > 2L * PKCS5_MAX_FILE_ITER) break;
    }
  }
  sk_pop_free(safes, [](void* p) { PKCS7_free(static_cast<PKCS7*>(p)); });
  mark.pop();
  return n;
}

long stated_work(const X509_ALGOR* alg) {
  const ASN1_STRING* s = sequence_of(alg);
  if (s == nullptr || s->data == nullptr) return 0;
  // Parameters that do not decode are the derivation's to refuse: what
  // their decoding queued here is taken back.
  morvane::internal::ErrorMark mark;
  const unsigned char* p = s->data;
  long n = 0;
  if (OBJ_obj2nid(alg->algorithm) != kNidPbes2) {
    PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length);
    if (pbe != nullptr) n = stated_work(pbe->iter);
    PBEPARAM_free(pbe);
  } else {
    PBE2PARAM* pbe2 = d2i_PBE2PARAM(nullptr, &p, s->length);
    const ASN1_STRING* k = pbe2 != nullptr && OBJ_obj2nid(pbe2->keyfunc->algorithm) == kNidPbkdf2
                               ? sequence_of(pbe2->keyfunc)
                               : nullptr;
    if (k != nullptr && k->data != nullptr) {
      const unsigned char* q = k->data;
      PBKDF2PARAM* kdf = d2i_PBKDF2PARAM(nullptr, &q, k->length);
      if (kdf != nullptr) n = stated_work(kdf->iter);
      PBKDF2PARAM_free(kdf);
    }
    PBE2PARAM_free(pbe2);
  }
  mark.pop();
  return n;
}

bool WorkBudget::charge(long count, int func) {
  if (count > left_) {
    PKCS12err(func, PKCS12_R_ITERATION_COUNT_TOO_LARGE);
    return false;
  }
  left_ -= count;
  return true;
}

}  // namespace morvane::pkcs12
