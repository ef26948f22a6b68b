// OCSP client operations (RFC 6960, 4.1 and 4.2): building and signing a
// request, reading a response, and checking the validity times of a status.

#include <limits.h>
#include <string.h>
#include <time.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/asn1_time.h"
#include "ocsp/ocsp_local.h"

namespace {

// Whether nextupd lies before thisupd: as moments (fractions of a second
// included) when both name one; else, one of them being malformed or
// without a zone, as strings, length first, as they were ever compared.
bool next_before_this(const ASN1_GENERALIZEDTIME* nextupd, const ASN1_GENERALIZEDTIME* thisupd) {
  morvane::internal::TimeMoment next;
  morvane::internal::TimeMoment first;
  if (morvane::internal::time_moment(nextupd, &next) &&
      morvane::internal::time_moment(thisupd, &first))
    return morvane::internal::compare_moments(next, first) < 0;
  return ASN1_STRING_cmp(nextupd, thisupd) < 0;
}

}  // namespace

extern "C" {

// The identifier is taken over only once nothing can fail any more: on
// every failure it stays the caller's.
OCSP_ONEREQ* OCSP_request_add0_id(OCSP_REQUEST* req, OCSP_CERTID* cid) {
  if (cid == nullptr) return nullptr;
  OCSP_ONEREQ* one = OCSP_ONEREQ_new();
  if (one == nullptr || (req != nullptr && !sk_push(req->tbsRequest->requestList,
                                                     reinterpret_cast<char*>(one)))) {
    OCSP_ONEREQ_free(one);  // with the empty identifier it was made with
    OCSPerr(OCSP_F_OCSP_REQUEST_ADD0_ID, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  OCSP_CERTID_free(one->reqCert);
  one->reqCert = cid;
  return one;
}

int OCSP_request_set1_name(OCSP_REQUEST* req, X509_NAME* nm) {
  if (req == nullptr || nm == nullptr) return 0;
  GENERAL_NAME* gen = GENERAL_NAME_new();
  if (gen == nullptr) return 0;
  if (!X509_NAME_set(&gen->d.directoryName, nm)) {
    GENERAL_NAME_free(gen);
    return 0;
  }
  gen->type = GEN_DIRNAME;
  GENERAL_NAME_free(req->tbsRequest->requestorName);
  req->tbsRequest->requestorName = gen;
  return 1;
}

int OCSP_request_add1_cert(OCSP_REQUEST* req, X509* cert) {
  if (req == nullptr) {
    OCSPerr(OCSP_F_OCSP_REQUEST_ADD1_CERT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (req->optionalSignature == nullptr) {
    req->optionalSignature = OCSP_SIGNATURE_new();
    if (req->optionalSignature == nullptr) return 0;
  }
  if (cert == nullptr) return 1;
  return morvane::ocsp::push_cert(&req->optionalSignature->certs, cert,
                                  OCSP_F_OCSP_REQUEST_ADD1_CERT);
}

int OCSP_request_sign(OCSP_REQUEST* req, X509* signer, EVP_PKEY* key, const EVP_MD* dgst,
                      STACK* certs, unsigned long flags) {
  if (req == nullptr || signer == nullptr) {
    OCSPerr(OCSP_F_OCSP_REQUEST_SIGN, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (!OCSP_request_set1_name(req, X509_get_subject_name(signer))) return 0;
  OCSP_SIGNATURE_free(req->optionalSignature);
  req->optionalSignature = OCSP_SIGNATURE_new();
  if (req->optionalSignature == nullptr) return 0;
  if (dgst == nullptr) dgst = EVP_sha1();
  bool ok = true;
  if (key != nullptr) {
    if (!X509_check_private_key(signer, key)) {
      OCSPerr(OCSP_F_OCSP_REQUEST_SIGN, OCSP_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
      ok = false;
    } else {
      ok = ASN1_item_sign(&OCSP_REQINFO_it, req->optionalSignature->signatureAlgorithm,
                          nullptr, req->optionalSignature->signature, req->tbsRequest, key,
                          dgst) > 0;
    }
  }
  if (ok && !(flags & OCSP_NOCERTS)) {
    ok = OCSP_request_add1_cert(req, signer) != 0;
    for (int i = 0; ok && i < sk_num(certs); i++)
      ok = OCSP_request_add1_cert(req, reinterpret_cast<X509*>(sk_value(certs, i))) != 0;
  }
  if (!ok) {
    OCSP_SIGNATURE_free(req->optionalSignature);
    req->optionalSignature = nullptr;
    return 0;
  }
  return 1;
}

long OCSP_response_status(OCSP_RESPONSE* resp) {
  if (resp == nullptr) return -1;
  return ASN1_ENUMERATED_get(resp->responseStatus);
}

OCSP_BASICRESP* OCSP_response_get1_basic(OCSP_RESPONSE* resp) {
  if (resp == nullptr) return nullptr;
  OCSP_RESPBYTES* rb = resp->responseBytes;
  if (rb == nullptr) {
    OCSPerr(OCSP_F_OCSP_RESPONSE_GET1_BASIC, OCSP_R_NO_RESPONSE_DATA);
    return nullptr;
  }
  if (OBJ_obj2nid(rb->responseType) != morvane::ocsp::kNidBasic) {
    OCSPerr(OCSP_F_OCSP_RESPONSE_GET1_BASIC, OCSP_R_NOT_BASIC_RESPONSE);
    return nullptr;
  }
  return static_cast<OCSP_BASICRESP*>(ASN1_item_unpack(rb->response, &OCSP_BASICRESP_it));
}

int OCSP_resp_count(OCSP_BASICRESP* bs) {
  if (bs == nullptr) return -1;
  return sk_num(bs->tbsResponseData->responses);
}

OCSP_SINGLERESP* OCSP_resp_get0(OCSP_BASICRESP* bs, int idx) {
  if (bs == nullptr) return nullptr;
  return reinterpret_cast<OCSP_SINGLERESP*>(sk_value(bs->tbsResponseData->responses, idx));
}

int OCSP_resp_find(OCSP_BASICRESP* bs, OCSP_CERTID* id, int last) {
  if (bs == nullptr || id == nullptr) return -1;
  last = last < 0 ? 0 : last + 1;
  STACK* sk = bs->tbsResponseData->responses;
  for (int i = last; i < sk_num(sk); i++) {
    auto* single = reinterpret_cast<OCSP_SINGLERESP*>(sk_value(sk, i));
    if (single != nullptr && OCSP_id_cmp(id, single->certId) == 0) return i;
  }
  return -1;
}

int OCSP_single_get0_status(OCSP_SINGLERESP* single, int* reason,
                            ASN1_GENERALIZEDTIME** revtime, ASN1_GENERALIZEDTIME** thisupd,
                            ASN1_GENERALIZEDTIME** nextupd) {
  if (single == nullptr || single->certStatus == nullptr) return -1;
  OCSP_CERTSTATUS* cst = single->certStatus;
  const int type = cst->type;
  if (type == V_OCSP_CERTSTATUS_REVOKED && cst->value.revoked != nullptr) {
    OCSP_REVOKEDINFO* rev = cst->value.revoked;
    if (revtime != nullptr) *revtime = rev->revocationTime;
    if (reason != nullptr)
      *reason = rev->revocationReason != nullptr
                    ? static_cast<int>(ASN1_ENUMERATED_get(rev->revocationReason))
                    : -1;
  }
  if (thisupd != nullptr) *thisupd = single->thisUpdate;
  if (nextupd != nullptr) *nextupd = single->nextUpdate;
  return type;
}

int OCSP_resp_find_status(OCSP_BASICRESP* bs, OCSP_CERTID* id, int* status, int* reason,
                          ASN1_GENERALIZEDTIME** revtime, ASN1_GENERALIZEDTIME** thisupd,
                          ASN1_GENERALIZEDTIME** nextupd) {
  const int i = OCSP_resp_find(bs, id, -1);
  if (i < 0) return 0;
  const int st = OCSP_single_get0_status(OCSP_resp_get0(bs, i), reason, revtime, thisupd,
                                         nextupd);
  if (status != nullptr) *status = st;
  return 1;
}

int OCSP_check_validity(ASN1_GENERALIZEDTIME* thisupd, ASN1_GENERALIZEDTIME* nextupd,
                        long nsec, long maxsec) {
  using morvane::ocsp::moment;
  int ret = 1;
  const long long now = static_cast<long long>(time(nullptr));
  // Skews far beyond any time a GeneralizedTime can hold are cut, so that
  // negating them cannot overflow.
  constexpr long kLimit = 1L << 40;
  nsec = nsec > kLimit ? kLimit : (nsec < -kLimit ? -kLimit : nsec);
  maxsec = maxsec > kLimit ? kLimit : maxsec;
  if (thisupd == nullptr || !ASN1_GENERALIZEDTIME_check(thisupd)) {
    OCSPerr(OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_ERROR_IN_THISUPDATE_FIELD);
    ret = 0;
  } else {
    time_t t = moment(now, nsec);
    if (X509_cmp_time(thisupd, &t) > 0) {
      OCSPerr(OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_STATUS_NOT_YET_VALID);
      ret = 0;
    }
    if (maxsec >= 0) {
      t = moment(now, -static_cast<long long>(maxsec));
      if (X509_cmp_time(thisupd, &t) < 0) {
        OCSPerr(OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_STATUS_TOO_OLD);
        ret = 0;
      }
    }
  }
  if (nextupd == nullptr) return ret;
  if (!ASN1_GENERALIZEDTIME_check(nextupd)) {
    OCSPerr(OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_ERROR_IN_NEXTUPDATE_FIELD);
    ret = 0;
  } else {
    time_t t = moment(now, -static_cast<long long>(nsec));
    if (X509_cmp_time(nextupd, &t) < 0) {
      OCSPerr(OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_STATUS_EXPIRED);
      ret = 0;
    }
  }
  if (thisupd != nullptr && next_before_this(nextupd, thisupd)) {
    OCSPerr(OCSP_F_OCSP_CHECK_VALIDITY, OCSP_R_NEXTUPDATE_BEFORE_THISUPDATE);
    ret = 0;
  }
  return ret;
}

}  // extern "C"
