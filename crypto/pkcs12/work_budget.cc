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

constexpr int kNidData = 21, kNidEncrypted = 26, kNidPbes2 = 161, kNidPbkdf2 = 69;
constexpr int kNidShroudedKeyBag = 151, kNidSafeContentsBag = 155;

// Sums stop past twice the budget: a sum is then over it already, and
// cannot overflow however many terms a file has.
constexpr long kSaturated = 2 * kBudget;

long add_work(long sum, long work) {
  return sum + work > kSaturated ? kSaturated + 1 : sum + work;
}

// The count of `iter` weighed by `md`, or 0 past the single-count bound.
long weighed(const ASN1_INTEGER* iter, const EVP_MD* md) {
  const long n = morvane::internal::stated_iterations(iter, md);
  return n < 0 ? 0 : morvane::internal::weighed_count(n, md);
}

}  // namespace

const ASN1_STRING* sequence_of(const X509_ALGOR* alg) {
  if (alg == nullptr || alg->parameter == nullptr || alg->parameter->type != ASN1_UT_SEQUENCE)
    return nullptr;
  return alg->parameter->value.sequence;
}

long stated_work(const X509_ALGOR* alg) {
  const ASN1_STRING* s = sequence_of(alg);
  const EVP_MD* md = nullptr;
  if (s == nullptr || s->data == nullptr ||
      !morvane::internal::pbe_row_digest(OBJ_obj2nid(alg->algorithm), &md))
    return 0;
  // Parameters that do not decode are the derivation's to refuse: what
  // their decoding queued here is taken back.
  morvane::internal::ErrorMark mark;
  const unsigned char* p = s->data;
  long n = 0;
  if (OBJ_obj2nid(alg->algorithm) != kNidPbes2) {
    PBEPARAM* pbe = d2i_PBEPARAM(nullptr, &p, s->length);
    if (pbe != nullptr) n = weighed(pbe->iter, md);
    PBEPARAM_free(pbe);
  } else {
    PBE2PARAM* pbe2 = d2i_PBE2PARAM(nullptr, &p, s->length);
    const ASN1_STRING* k = pbe2 != nullptr && OBJ_obj2nid(pbe2->keyfunc->algorithm) == kNidPbkdf2
                               ? sequence_of(pbe2->keyfunc)
                               : nullptr;
    if (k != nullptr && k->data != nullptr) {
      const unsigned char* q = k->data;
      PBKDF2PARAM* kdf = d2i_PBKDF2PARAM(nullptr, &q, k->length);
      if (kdf != nullptr) n = weighed(kdf->iter, EVP_sha1());
      PBKDF2PARAM_free(kdf);
    }
    PBE2PARAM_free(pbe2);
  }
  mark.pop();
  return n;
}

long key_work(STACK* bags) {
  long n = 0;
  for (int i = 0; i < sk_num(bags) && n <= kSaturated; i++) {
    const auto* bag = reinterpret_cast<const PKCS12_SAFEBAG*>(sk_value(bags, i));
    const int type = OBJ_obj2nid(bag->type);
    if (type == kNidSafeContentsBag)
      n = add_work(n, key_work(bag->value.safes));
    else if (type == kNidShroudedKeyBag && bag->value.shkeybag != nullptr)
      n = add_work(n, stated_work(bag->value.shkeybag->algor));
  }
  return n;
}

long stated_work(PKCS12* p12, bool plain_keys) {
  morvane::internal::ErrorMark mark;
  long n = 0;
  if (p12->mac != nullptr && p12->mac->dinfo != nullptr && p12->mac->dinfo->algor != nullptr) {
    const EVP_MD* md =
        EVP_get_digestbyname(OBJ_nid2sn(OBJ_obj2nid(p12->mac->dinfo->algor->algorithm)));
    if (md != nullptr) n = weighed(p12->mac->iter, md);
  }
  STACK* safes = PKCS12_unpack_authsafes(p12);
  for (int i = 0; i < sk_num(safes) && n <= kSaturated; i++) {
    auto* p7 = reinterpret_cast<PKCS7*>(sk_value(safes, i));
    const int type = OBJ_obj2nid(p7->type);
    if (type == kNidEncrypted && p7->d.encrypted != nullptr &&
        p7->d.encrypted->enc_data != nullptr) {
      n = add_work(n, stated_work(p7->d.encrypted->enc_data->algorithm));
    } else if (type == kNidData && plain_keys) {
      STACK* bags = PKCS12_unpack_p7data(p7);
      n = add_work(n, key_work(bags));
      sk_pop_free(bags, [](void* b) { PKCS12_SAFEBAG_free(static_cast<PKCS12_SAFEBAG*>(b)); });
    }
  }
  sk_pop_free(safes, [](void* p) { PKCS7_free(static_cast<PKCS7*>(p)); });
  mark.pop();
  return n;
}

bool WorkBudget::charge(long work) {
  if (work > left_) {
    PKCS12err(func_, PKCS12_R_ITERATION_BUDGET_EXCEEDED);
    return false;
  }
  left_ -= work;
  return true;
}

}  // namespace morvane::pkcs12
