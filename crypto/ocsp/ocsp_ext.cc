// OCSP extensions (RFC 6960, 4.4): the accessors of the four objects that
// carry extensions, the nonce, and the creators of the CRL reference,
// acceptable responses, archive cutoff and service locator extensions.

#include <limits.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/rand.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "ocsp/ocsp_local.h"

namespace {

STACK** exts_of(OCSP_REQUEST* x) { return &x->tbsRequest->requestExtensions; }
STACK** exts_of(OCSP_ONEREQ* x) { return &x->singleRequestExtensions; }
STACK** exts_of(OCSP_BASICRESP* x) { return &x->tbsResponseData->responseExtensions; }
STACK** exts_of(OCSP_SINGLERESP* x) { return &x->singleExtensions; }

// Adds a nonce extension (RFC 6960, 4.4.1) holding the DER OCTET STRING of
// len bytes (val, or random bytes), replacing any earlier nonce; failures
// queue their reason under func.
int add1_nonce(STACK** exts, const unsigned char* val, int len, int func) {
  if (len <= 0) len = 16;
  const int total = ASN1_object_size(0, len, ASN1_UT_OCTET_STRING);
  auto* buf = total > 0 ? static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(total)))
                        : nullptr;
  if (buf == nullptr) {  // also a length whose encoding does not fit an int
    OCSPerr(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned char* p = buf;
  ASN1_put_object(&p, 0, len, ASN1_UT_OCTET_STRING, ASN1_CLASS_UNIVERSAL);
  int ok;
  if (val != nullptr) {
    memcpy(p, val, static_cast<size_t>(len));
    ok = 1;
  } else {
    ok = RAND_pseudo_bytes(p, len) >= 0;
    if (!ok) OCSPerr(func, ERR_R_RAND_LIB);
  }
  ASN1_OCTET_STRING os;
  memset(&os, 0, sizeof(os));
  os.type = ASN1_UT_OCTET_STRING;
  os.length = total;
  os.data = buf;
  // X509V3_add1_i2d queues its own reasons.
  if (ok) ok = X509V3_add1_i2d(exts, morvane::ocsp::kNidNonce, &os, 0, X509V3_ADD_REPLACE) > 0;
  MORVANE_free(buf);
  return ok ? 1 : 0;
}

// Wraps the DER of value (by i2d) in a non-critical extension of nid.
X509_EXTENSION* make_ext(int nid, i2d_of_void* i2d, void* data, STACK* sk) {
  ASN1_OCTET_STRING* os = ASN1_STRING_encode(nullptr, i2d, data, sk);
  if (os == nullptr) return nullptr;
  X509_EXTENSION* ex = X509_EXTENSION_create_by_NID(nullptr, nid, 0, os);
  ASN1_OCTET_STRING_free(os);
  return ex;
}

int i2d_crlid(void* a, unsigned char** pp) { return i2d_OCSP_CRLID(static_cast<OCSP_CRLID*>(a), pp); }
int i2d_obj(void* a, unsigned char** pp) { return i2d_ASN1_OBJECT(static_cast<ASN1_OBJECT*>(a), pp); }
int i2d_gtime(void* a, unsigned char** pp) {
  return i2d_ASN1_GENERALIZEDTIME(static_cast<ASN1_GENERALIZEDTIME*>(a), pp);
}
int i2d_svcloc(void* a, unsigned char** pp) {
  return i2d_OCSP_SERVICELOC(static_cast<OCSP_SERVICELOC*>(a), pp);
}
void free_obj(void* a) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(a)); }
void free_ad(void* a) { ACCESS_DESCRIPTION_free(static_cast<ACCESS_DESCRIPTION*>(a)); }

}  // namespace

extern "C" {

// One table of forwards: nine operations for each of the four objects.
#define OCSP_EXT_FORWARDS(P, T)                                                   \
  int P##get_ext_count(T* x) {                                                    \
    return x == nullptr ? 0 : X509v3_get_ext_count(*exts_of(x));                  \
  }                                                                               \
  int P##get_ext_by_NID(T* x, int nid, int lastpos) {                             \
    return x == nullptr ? -1 : X509v3_get_ext_by_NID(*exts_of(x), nid, lastpos);  \
  }                                                                               \
  int P##get_ext_by_OBJ(T* x, ASN1_OBJECT* obj, int lastpos) {                    \
    return x == nullptr ? -1 : X509v3_get_ext_by_OBJ(*exts_of(x), obj, lastpos);  \
  }                                                                               \
  int P##get_ext_by_critical(T* x, int crit, int lastpos) {                       \
    return x == nullptr ? -1 : X509v3_get_ext_by_critical(*exts_of(x), crit, lastpos); \
  }                                                                               \
  X509_EXTENSION* P##get_ext(T* x, int loc) {                                     \
    return x == nullptr ? nullptr : X509v3_get_ext(*exts_of(x), loc);             \
  }                                                                               \
  X509_EXTENSION* P##delete_ext(T* x, int loc) {                                  \
    return x == nullptr ? nullptr : X509v3_delete_ext(*exts_of(x), loc);          \
  }                                                                               \
  void* P##get1_ext_d2i(T* x, int nid, int* crit, int* idx) {                     \
    return x == nullptr ? nullptr : X509V3_get_d2i(*exts_of(x), nid, crit, idx);  \
  }                                                                               \
  int P##add1_ext_i2d(T* x, int nid, void* value, int crit, unsigned long flags) { \
    return x == nullptr ? 0 : X509V3_add1_i2d(exts_of(x), nid, value, crit, flags); \
  }                                                                               \
  int P##add_ext(T* x, X509_EXTENSION* ex, int loc) {                             \
    return x != nullptr && X509v3_add_ext(exts_of(x), ex, loc) != nullptr;        \
  }

OCSP_EXT_FORWARDS(OCSP_REQUEST_, OCSP_REQUEST)
OCSP_EXT_FORWARDS(OCSP_ONEREQ_, OCSP_ONEREQ)
OCSP_EXT_FORWARDS(OCSP_BASICRESP_, OCSP_BASICRESP)
OCSP_EXT_FORWARDS(OCSP_SINGLERESP_, OCSP_SINGLERESP)

#undef OCSP_EXT_FORWARDS

int OCSP_request_add1_nonce(OCSP_REQUEST* req, unsigned char* val, int len) {
  if (req == nullptr) return 0;
  return add1_nonce(&req->tbsRequest->requestExtensions, val, len,
                    OCSP_F_OCSP_REQUEST_ADD1_NONCE);
}

int OCSP_basic_add1_nonce(OCSP_BASICRESP* resp, unsigned char* val, int len) {
  if (resp == nullptr) return 0;
  return add1_nonce(&resp->tbsResponseData->responseExtensions, val, len,
                    OCSP_F_OCSP_BASIC_ADD1_NONCE);
}

int OCSP_check_nonce(OCSP_REQUEST* req, OCSP_BASICRESP* bs) {
  const int nid = morvane::ocsp::kNidNonce;
  const int ri = OCSP_REQUEST_get_ext_by_NID(req, nid, -1);
  const int bi = OCSP_BASICRESP_get_ext_by_NID(bs, nid, -1);
  if (ri < 0 && bi < 0) return 2;
  if (ri >= 0 && bi < 0) return -1;
  if (ri < 0) return 3;
  X509_EXTENSION* re = OCSP_REQUEST_get_ext(req, ri);
  X509_EXTENSION* be = OCSP_BASICRESP_get_ext(bs, bi);
  return ASN1_OCTET_STRING_cmp(re->value, be->value) == 0 ? 1 : 0;
}

int OCSP_copy_nonce(OCSP_BASICRESP* resp, OCSP_REQUEST* req) {
  const int ri = OCSP_REQUEST_get_ext_by_NID(req, morvane::ocsp::kNidNonce, -1);
  if (ri < 0) return 2;
  return OCSP_BASICRESP_add_ext(resp, OCSP_REQUEST_get_ext(req, ri), -1);
}

ASN1_STRING* ASN1_STRING_encode(ASN1_STRING* s, i2d_of_void* i2d, void* data, STACK* sk) {
  int len;
  if (i2d == nullptr) {
    OCSPerr(OCSP_F_ASN1_STRING_ENCODE, OCSP_R_BAD_DATA);
    return nullptr;
  }
  if (data != nullptr) {
    len = i2d(data, nullptr);
  } else if (sk != nullptr) {
    len = i2d_ASN1_SET(sk, nullptr, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0);
  } else {
    OCSPerr(OCSP_F_ASN1_STRING_ENCODE, OCSP_R_BAD_DATA);
    return nullptr;
  }
  if (len <= 0) return nullptr;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(len)));
  if (buf == nullptr) {
    OCSPerr(OCSP_F_ASN1_STRING_ENCODE, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  unsigned char* p = buf;
  const int n = data != nullptr
                    ? i2d(data, &p)
                    : i2d_ASN1_SET(sk, &p, i2d, ASN1_UT_SEQUENCE, ASN1_CLASS_UNIVERSAL, 0);
  ASN1_STRING* out = s != nullptr ? s : ASN1_STRING_new();
  if (n != len || out == nullptr || !ASN1_STRING_set(out, buf, len)) {
    if (s == nullptr) ASN1_STRING_free(out);
    MORVANE_free(buf);
    OCSPerr(OCSP_F_ASN1_STRING_ENCODE, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  MORVANE_free(buf);
  return out;
}

X509_EXTENSION* OCSP_crlID_new(char* url, long* n, char* tim) {
  OCSP_CRLID* cid = OCSP_CRLID_new();
  X509_EXTENSION* ex = nullptr;
  bool ok = cid != nullptr;
  if (ok && url != nullptr) {
    ok = (cid->crlUrl = ASN1_IA5STRING_new()) != nullptr &&
         ASN1_STRING_set(cid->crlUrl, url, -1);
  }
  if (ok && n != nullptr) {
    ok = (cid->crlNum = ASN1_INTEGER_new()) != nullptr && ASN1_INTEGER_set(cid->crlNum, *n);
  }
  if (ok && tim != nullptr) {
    ok = (cid->crlTime = ASN1_GENERALIZEDTIME_new()) != nullptr &&
         ASN1_GENERALIZEDTIME_set_string(cid->crlTime, tim);
  }
  if (ok) ex = make_ext(morvane::ocsp::kNidCrlId, i2d_crlid, cid, nullptr);
  OCSP_CRLID_free(cid);
  return ex;
}

X509_EXTENSION* OCSP_accept_responses_new(char** oids) {
  STACK* sk = sk_new_null();
  if (sk == nullptr) return nullptr;
  bool ok = true;
  for (; ok && oids != nullptr && *oids != nullptr; oids++) {
    const int nid = OBJ_txt2nid(*oids);
    if (nid == 0) continue;  // unknown names are skipped
    ASN1_OBJECT* o = OBJ_nid2obj(nid);
    ok = o != nullptr && sk_push(sk, reinterpret_cast<char*>(o));
  }
  X509_EXTENSION* ex =
      ok ? make_ext(morvane::ocsp::kNidAcceptResponses, i2d_obj, nullptr, sk) : nullptr;
  sk_pop_free(sk, free_obj);
  return ex;
}

X509_EXTENSION* OCSP_archive_cutoff_new(char* tim) {
  if (tim == nullptr) return nullptr;
  ASN1_GENERALIZEDTIME* gt = ASN1_GENERALIZEDTIME_new();
  X509_EXTENSION* ex = nullptr;
  if (gt != nullptr && ASN1_GENERALIZEDTIME_set_string(gt, tim))
    ex = make_ext(morvane::ocsp::kNidArchiveCutoff, i2d_gtime, gt, nullptr);
  ASN1_GENERALIZEDTIME_free(gt);
  return ex;
}

X509_EXTENSION* OCSP_url_svcloc_new(X509_NAME* issuer, char** urls) {
  if (issuer == nullptr) return nullptr;
  OCSP_SERVICELOC* sloc = OCSP_SERVICELOC_new();
  X509_EXTENSION* ex = nullptr;
  bool ok = sloc != nullptr && X509_NAME_set(&sloc->issuer, issuer);
  if (ok && urls != nullptr && *urls != nullptr) {
    ok = (sloc->locator = sk_new_null()) != nullptr;
    for (; ok && *urls != nullptr; urls++) {
      ACCESS_DESCRIPTION* ad = ACCESS_DESCRIPTION_new();
      ok = ad != nullptr;
      if (ok) {
        ASN1_OBJECT_free(ad->method);
        ad->method = OBJ_nid2obj(morvane::ocsp::kNidAdOcsp);
        ASN1_IA5STRING* ia5 = ASN1_IA5STRING_new();
        ok = ad->method != nullptr && ia5 != nullptr && ASN1_STRING_set(ia5, *urls, -1);
        if (ok) {
          GENERAL_NAME_free(ad->location);
          ad->location = GENERAL_NAME_new();
          ok = ad->location != nullptr;
        }
        if (ok) {
          ad->location->type = GEN_URI;
          ad->location->d.uniformResourceIdentifier = ia5;
          ia5 = nullptr;
          ok = sk_push(sloc->locator, reinterpret_cast<char*>(ad)) != 0;
        }
        ASN1_IA5STRING_free(ia5);
        if (!ok) free_ad(ad);
      }
    }
  }
  if (ok) ex = make_ext(morvane::ocsp::kNidServiceLocator, i2d_svcloc, sloc, nullptr);
  OCSP_SERVICELOC_free(sloc);
  return ex;
}

}  // extern "C"
