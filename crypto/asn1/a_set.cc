// SET OF and SEQUENCE OF over a stack with a per-element encoder or decoder:
// the legacy forms that predate the templates, with DER ordering of SET OF
// (X.690, 11.6) on encoding.
//
// Implementation notes: the decoder gives each element only the octets left
// before the end of the content (or of the input, for an indefinite length),
// so a malformed element cannot read past either.

#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "asn1/internal.h"

namespace {

// One element's encoding inside the output.
struct SetBlob {
  unsigned char* data;
  size_t length;
};

// DER order of SET OF: octets compared as far as the shorter goes, then the
// shorter first.
int blob_cmp(const void* x, const void* y) {
  const auto* a = static_cast<const SetBlob*>(x);
  const auto* b = static_cast<const SetBlob*>(y);
  const size_t n = a->length < b->length ? a->length : b->length;
  const int c = n != 0 ? memcmp(a->data, b->data, n) : 0;
  if (c != 0) return c;
  return a->length < b->length ? -1 : (a->length > b->length ? 1 : 0);
}

// Writes the elements at *p in DER order.
bool write_sorted(STACK* sk, int n, unsigned char** p, i2d_of_void* i2d) {
  auto* blobs = static_cast<SetBlob*>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(SetBlob)));
  if (blobs == nullptr) return false;
  unsigned char* start = *p;
  for (int i = 0; i < n; i++) {
    blobs[i].data = *p;
    if (i2d(sk_value(sk, i), p) < 0) {
      MORVANE_free(blobs);
      return false;
    }
    blobs[i].length = static_cast<size_t>(*p - blobs[i].data);
  }
  const size_t total = static_cast<size_t>(*p - start);
  qsort(blobs, static_cast<size_t>(n), sizeof(SetBlob), blob_cmp);
  auto* sorted = static_cast<unsigned char*>(MORVANE_malloc(total));
  if (sorted == nullptr && total != 0) {
    MORVANE_free(blobs);
    return false;
  }
  unsigned char* q = sorted;
  for (int i = 0; i < n; i++) {
    if (blobs[i].length != 0) memcpy(q, blobs[i].data, blobs[i].length);
    q += blobs[i].length;
  }
  if (total != 0) memcpy(start, sorted, total);
  MORVANE_free(sorted);
  MORVANE_free(blobs);
  return true;
}

}  // namespace

/* see morvane/asn1.h */
int i2d_ASN1_SET(STACK* sk, unsigned char** pp, i2d_of_void* i2d, int tag, int xclass, int is_set) {
  if (sk == nullptr) return 0;
  const int n = sk_num(sk);
  size_t sum = 0;
  for (int i = 0; i < n; i++) {
    const int l = i2d(sk_value(sk, i), nullptr);
    if (l < 0) return 0;
    sum += static_cast<size_t>(l);
    if (sum > INT_MAX) return 0;
  }
  const int ret = ASN1_object_size(1, static_cast<int>(sum), tag);
  if (ret < 0) return 0;
  if (pp == nullptr) return ret;
  if (*pp == nullptr) {
    ASN1err(ASN1_F_I2D_ASN1_SET, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  unsigned char* p = *pp;
  ASN1_put_object(&p, 1, static_cast<int>(sum), tag, xclass);
  unsigned char* const content = p;
  bool ok = true;
  if (!is_set || n < 2) {
    for (int i = 0; ok && i < n; i++) ok = i2d(sk_value(sk, i), &p) >= 0;
  } else if (!write_sorted(sk, n, &p, i2d)) {
    ASN1err(ASN1_F_I2D_ASN1_SET, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  // An element whose writing pass failed (or wrote other than it measured)
  // fails the whole set: the caller's buffer is not taken for its encoding.
  if (!ok || static_cast<size_t>(p - content) != sum) {
    ASN1err(ASN1_F_I2D_ASN1_SET, ASN1_R_ENCODE_ERROR);
    return 0;
  }
  *pp = p;
  return ret;
}

/* see morvane/asn1.h */
STACK* d2i_ASN1_SET(STACK** a, const unsigned char** pp, long length, d2i_of_void* d2i,
                    void (*free_func)(void*), int tag, int xclass) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_SET)) return nullptr;
  if (d2i == nullptr) {
    ASN1err(ASN1_F_D2I_ASN1_SET, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  STACK* ret = (a == nullptr || *a == nullptr) ? sk_new_null() : *a;
  int reason = 0;
  if (ret == nullptr) {
    ASN1err(ASN1_F_D2I_ASN1_SET, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  const unsigned char* p = *pp;
  const unsigned char* const end_of_input = *pp + (length > 0 ? length : 0);
  long slen = 0;
  int ptag = 0, pclass = 0;
  const int inf = ASN1_get_object(&p, &slen, &ptag, &pclass, length);
  if (inf & ASN1_HDR_ERROR) {
    goto err;  // the header's reason is on the queue
  }
  if (pclass != xclass) {
    reason = ASN1_R_BAD_CLASS;
    goto err;
  }
  if (ptag != tag) {
    reason = ASN1_R_BAD_TAG;
    goto err;
  }
  if (slen > end_of_input - p) {
    reason = ASN1_R_LENGTH_ERROR;
    goto err;
  }
  {
    const bool indefinite = inf == (ASN1_HDR_CONSTRUCTED | ASN1_HDR_INDEFINITE);
    const unsigned char* const end = indefinite ? end_of_input : p + slen;
    while (p < end) {
      if (indefinite && ASN1_const_check_infinite_end(&p, static_cast<long>(end - p))) break;
      const unsigned char* q = p;
      void* s = d2i(nullptr, &p, static_cast<long>(end - p));
      if (s != nullptr && p == q) {  // nothing consumed: the loop would not end
        if (free_func != nullptr) free_func(s);
        s = nullptr;
      }
      if (s == nullptr) {
        ASN1err(ASN1_F_D2I_ASN1_SET, ASN1_R_ERROR_PARSING_SET_ELEMENT);
        asn1_add_error(*pp, static_cast<int>(q - *pp));
        goto fail;
      }
      if (!sk_push(ret, static_cast<char*>(s))) {
        if (free_func != nullptr) free_func(s);
        goto fail;
      }
    }
  }
  if (a != nullptr) *a = ret;
  *pp = p;
  return ret;
err:
  if (reason != 0) ASN1err(ASN1_F_D2I_ASN1_SET, reason);
fail:
  if (a == nullptr || *a != ret) {
    if (free_func != nullptr)
      sk_pop_free(ret, free_func);
    else
      sk_free(ret);
  }
  return nullptr;
}
