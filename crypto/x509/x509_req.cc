// Certificate requests (PKCS #10, RFC 2986): the private-key match, the
// extensions a request asks for, carried in an attribute of type
// extensionRequest (PKCS #9, RFC 2985, 5.4.2) or Microsoft's older
// equivalent as one SEQUENCE OF Extension, and the conversions between a
// request and a self-signed certificate.

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "internal/codec_thunk.h"
#include "x509_local.h"

namespace {

constexpr int kNidExtReq = 172;    // 1.2.840.113549.1.9.14
constexpr int kNidMsExtReq = 171;  // 1.3.6.1.4.1.311.2.1.14

// The attribute types searched for requested extensions, in order, ending
// in 0; X509_REQ_set_extension_nids points ext_nids at the caller's list.
constinit int ext_nid_list[] = {kNidExtReq, kNidMsExtReq, 0};
constinit int* ext_nids = ext_nid_list;

constexpr long kSecondsPerDay = 86400;

// Sets *t to now plus adj seconds, making the time when absent.
bool set_time(ASN1_TIME** t, long adj) {
  ASN1_TIME* r = X509_gmtime_adj(*t, adj);
  if (r == nullptr) return false;
  *t = r;
  return true;
}

}  // namespace

/* see morvane/x509.h */
int X509_REQ_check_private_key(X509_REQ* x, EVP_PKEY* k) {
  return morvane::x509::check_private_key(X509_REQ_get_pubkey(x), k,
                                          X509_F_X509_REQ_CHECK_PRIVATE_KEY);
}

/* see morvane/x509.h */
int X509_REQ_extension_nid(int nid) {
  for (const int* p = ext_nids; p != nullptr && *p != 0; p++)
    if (*p == nid) return 1;
  return 0;
}

/* see morvane/x509.h */
int* X509_REQ_get_extension_nids(void) {
  return ext_nids;
}

/* see morvane/x509.h */
void X509_REQ_set_extension_nids(int* nids) {
  ext_nids = nids;
}

/* see morvane/x509.h */
STACK* X509_REQ_get_extensions(X509_REQ* req) {
  if (req == nullptr || req->req_info == nullptr || ext_nids == nullptr) return nullptr;
  const STACK* attrs = req->req_info->attributes;
  const X509_ATTRIBUTE* found = nullptr;
  for (const int* p = ext_nids; *p != 0 && found == nullptr; p++) {
    const int i = X509_REQ_get_attr_by_NID(req, *p, -1);
    if (i >= 0) found = reinterpret_cast<const X509_ATTRIBUTE*>(sk_value(attrs, i));
  }
  if (found == nullptr) return nullptr;
  const ASN1_TYPE* v = nullptr;
  if (found->single)
    v = found->value.single;
  else if (sk_num(found->value.set) > 0)
    v = reinterpret_cast<const ASN1_TYPE*>(sk_value(found->value.set, 0));
  if (v == nullptr || v->type != ASN1_UT_SEQUENCE || v->value.sequence == nullptr) return nullptr;
  const unsigned char* p = v->value.sequence->data;
  return d2i_ASN1_SET(nullptr, &p, v->value.sequence->length,
                      morvane::internal::d2i_thunk<X509_EXTENSION, d2i_X509_EXTENSION>,
                      morvane::internal::free_thunk<X509_EXTENSION, X509_EXTENSION_free>,
                      ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL);
}

/* see morvane/x509.h */
int X509_REQ_add_extensions_nid(X509_REQ* req, STACK* exts, int nid) {
  if (req == nullptr || req->req_info == nullptr) return 0;
  i2d_of_void* i2d = morvane::internal::i2d_thunk<X509_EXTENSION, i2d_X509_EXTENSION>;
  ASN1_TYPE* at = ASN1_TYPE_new();
  ASN1_STRING* seq = ASN1_STRING_type_new(ASN1_UT_SEQUENCE);
  X509_ATTRIBUTE* attr = nullptr;
  unsigned char* buf = nullptr;
  bool pushed_type = false;
  const int len = i2d_ASN1_SET(exts, nullptr, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0);
  if (len <= 0) goto err;  // the encoder said why
  if (at == nullptr || seq == nullptr) goto memerr;
  buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
  if (buf == nullptr) goto memerr;
  {
    unsigned char* p = buf;
    if (i2d_ASN1_SET(exts, &p, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0) != len) goto err;
  }
  ASN1_STRING_set0(seq, buf, len);
  buf = nullptr;
  at->type = ASN1_UT_SEQUENCE;
  at->value.sequence = seq;
  seq = nullptr;
  attr = X509_ATTRIBUTE_new();
  if (attr == nullptr) goto memerr;
  attr->value.set = sk_new_null();
  if (attr->value.set == nullptr || !sk_push(attr->value.set, reinterpret_cast<char*>(at)))
    goto memerr;
  pushed_type = true;
  attr->single = 0;
  attr->object = OBJ_nid2obj(nid);
  if (attr->object == nullptr) goto err;
  if (req->req_info->attributes == nullptr) {
    req->req_info->attributes = sk_new_null();
    if (req->req_info->attributes == nullptr) goto memerr;
  }
  if (!sk_push(req->req_info->attributes, reinterpret_cast<char*>(attr))) goto memerr;
  req->req_info->enc.modified = 1;
  return 1;

memerr:
  X509err(0, ERR_R_MALLOC_FAILURE);
err:
  MORVANE_free(buf);
  ASN1_STRING_free(seq);
  if (!pushed_type) ASN1_TYPE_free(at);
  X509_ATTRIBUTE_free(attr);
  return 0;
}

/* see morvane/x509.h */
int X509_REQ_add_extensions(X509_REQ* req, STACK* exts) {
  return X509_REQ_add_extensions_nid(req, exts, kNidExtReq);
}

/* see morvane/x509.h */
X509_REQ* X509_to_X509_REQ(X509* x, EVP_PKEY* pkey, const EVP_MD* md) {
  if (x == nullptr || x->cert_info == nullptr) return nullptr;
  X509_REQ* ret = X509_REQ_new();
  if (ret == nullptr) {
    X509err(X509_F_X509_TO_X509_REQ, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  EVP_PKEY* key = nullptr;
  X509_REQ_INFO* ri = ret->req_info;
  // Version 0 as its one content octet (ASN1_INTEGER_set would store 0 as
  // no octets at all, which encodes the same but reads differently).
  if (ri->version == nullptr) ri->version = ASN1_INTEGER_new();
  if (ri->version == nullptr || !ASN1_STRING_set(ri->version, "\0", 1)) goto err;
  if (!X509_REQ_set_subject_name(ret, X509_get_subject_name(x))) goto err;
  key = X509_get_pubkey(x);
  if (key == nullptr || !X509_REQ_set_pubkey(ret, key)) goto err;
  EVP_PKEY_free(key);
  key = nullptr;
  if (pkey != nullptr && !X509_REQ_sign(ret, pkey, md)) goto err;
  return ret;

err:
  EVP_PKEY_free(key);
  X509_REQ_free(ret);
  return nullptr;
}

/* see morvane/x509.h */
X509* X509_REQ_to_X509(X509_REQ* r, int days, EVP_PKEY* pkey) {
  if (r == nullptr || r->req_info == nullptr) return nullptr;
  X509* ret = X509_new();
  if (ret == nullptr) {
    X509err(X509_F_X509_REQ_TO_X509, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  X509_CINF* ci = ret->cert_info;
  EVP_PKEY* key = nullptr;
  // A request with attributes (or none at all, counted -1) makes a
  // version 3 certificate; one with an empty list a version 1 certificate.
  if (X509_REQ_get_attr_count(r) != 0 && !X509_set_version(ret, 2)) goto err;
  if (!X509_set_subject_name(ret, r->req_info->subject) ||
      !X509_set_issuer_name(ret, r->req_info->subject))
    goto err;
  if (!set_time(&ci->validity->notBefore, 0) ||
      !set_time(&ci->validity->notAfter, static_cast<long>(days) * kSecondsPerDay))
    goto err;
  key = X509_REQ_get_pubkey(r);
  if (!X509_set_pubkey(ret, key)) goto err;
  EVP_PKEY_free(key);
  key = nullptr;
  if (!X509_sign(ret, pkey, EVP_md5())) goto err;
  return ret;

err:
  EVP_PKEY_free(key);
  X509_free(ret);
  return nullptr;
}
