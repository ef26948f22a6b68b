// The responder side of OCSP (RFC 6960, 4.2): reading a request, building,
// signing and wrapping a basic response.

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "ocsp/ocsp_local.h"

extern "C" {

int OCSP_request_onereq_count(OCSP_REQUEST* req) {
  if (req == nullptr) return -1;
  return sk_num(req->tbsRequest->requestList);
}

OCSP_ONEREQ* OCSP_request_onereq_get0(OCSP_REQUEST* req, int i) {
  if (req == nullptr) return nullptr;
  return reinterpret_cast<OCSP_ONEREQ*>(sk_value(req->tbsRequest->requestList, i));
}

OCSP_CERTID* OCSP_onereq_get0_id(OCSP_ONEREQ* one) {
  return one == nullptr ? nullptr : one->reqCert;
}

int OCSP_request_is_signed(OCSP_REQUEST* req) {
  return req != nullptr && req->optionalSignature != nullptr ? 1 : 0;
}

OCSP_RESPONSE* OCSP_response_create(int status, OCSP_BASICRESP* bs) {
  OCSP_RESPONSE* rsp = OCSP_RESPONSE_new();
  if (rsp == nullptr) return nullptr;
  if (!ASN1_ENUMERATED_set(rsp->responseStatus, status)) goto err;
  if (bs == nullptr) return rsp;
  rsp->responseBytes = OCSP_RESPBYTES_new();
  if (rsp->responseBytes == nullptr) goto err;
  rsp->responseBytes->responseType = OBJ_nid2obj(morvane::ocsp::kNidBasic);
  if (rsp->responseBytes->responseType == nullptr) goto err;
  if (ASN1_item_pack(bs, &OCSP_BASICRESP_it, &rsp->responseBytes->response) == nullptr)
    goto err;
  return rsp;
err:
  OCSP_RESPONSE_free(rsp);
  return nullptr;
}

OCSP_SINGLERESP* OCSP_basic_add1_status(OCSP_BASICRESP* rsp, OCSP_CERTID* cid, int status,
                                        int reason, ASN1_TIME* revtime, ASN1_TIME* thisupd,
                                        ASN1_TIME* nextupd) {
  if (rsp == nullptr || cid == nullptr || thisupd == nullptr) return nullptr;
  OCSP_RESPDATA* rd = rsp->tbsResponseData;
  if (rd->responses == nullptr && (rd->responses = sk_new_null()) == nullptr) return nullptr;
  OCSP_SINGLERESP* single = OCSP_SINGLERESP_new();
  if (single == nullptr) return nullptr;
  OCSP_CERTSTATUS* cs = single->certStatus;
  OCSP_CERTID* id = static_cast<OCSP_CERTID*>(ASN1_item_dup(&OCSP_CERTID_it, cid));
  if (id == nullptr) goto err;
  OCSP_CERTID_free(single->certId);
  single->certId = id;
  ASN1_GENERALIZEDTIME_free(single->thisUpdate);
  single->thisUpdate = ASN1_TIME_to_generalizedtime(thisupd, nullptr);
  if (single->thisUpdate == nullptr) goto err;
  if (nextupd != nullptr &&
      (single->nextUpdate = ASN1_TIME_to_generalizedtime(nextupd, nullptr)) == nullptr)
    goto err;
  cs->type = status;
  switch (status) {
    case V_OCSP_CERTSTATUS_REVOKED: {
      if (revtime == nullptr) {
        OCSPerr(OCSP_F_OCSP_BASIC_ADD1_STATUS, OCSP_R_NO_REVOKED_TIME);
        goto err;
      }
      OCSP_REVOKEDINFO* ri = OCSP_REVOKEDINFO_new();
      if (ri == nullptr) goto err;
      cs->value.revoked = ri;
      ASN1_GENERALIZEDTIME_free(ri->revocationTime);
      ri->revocationTime = ASN1_TIME_to_generalizedtime(revtime, nullptr);
      if (ri->revocationTime == nullptr) goto err;
      if (reason != -1) {
        if ((ri->revocationReason = ASN1_ENUMERATED_new()) == nullptr ||
            !ASN1_ENUMERATED_set(ri->revocationReason, reason))
          goto err;
      }
      break;
    }
    case V_OCSP_CERTSTATUS_GOOD:
      if ((cs->value.good = ASN1_NULL_new()) == nullptr) goto err;
      break;
    case V_OCSP_CERTSTATUS_UNKNOWN:
      if ((cs->value.unknown = ASN1_NULL_new()) == nullptr) goto err;
      break;
    default:
      cs->type = -1;
      goto err;
  }
  if (!sk_push(rd->responses, reinterpret_cast<char*>(single))) goto err;
  return single;
err:
  OCSP_SINGLERESP_free(single);
  return nullptr;
}

int OCSP_basic_add1_cert(OCSP_BASICRESP* resp, X509* cert) {
  if (resp == nullptr || cert == nullptr) {
    OCSPerr(OCSP_F_OCSP_BASIC_ADD1_CERT, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return morvane::ocsp::push_cert(&resp->certs, cert, OCSP_F_OCSP_BASIC_ADD1_CERT);
}

int OCSP_basic_sign(OCSP_BASICRESP* brsp, X509* signer, EVP_PKEY* key, const EVP_MD* dgst,
                    STACK* certs, unsigned long flags) {
  if (brsp == nullptr || signer == nullptr || key == nullptr || dgst == nullptr) {
    OCSPerr(OCSP_F_OCSP_BASIC_SIGN, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (!X509_check_private_key(signer, key)) {
    OCSPerr(OCSP_F_OCSP_BASIC_SIGN, OCSP_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
    return 0;
  }
  if (!(flags & OCSP_NOCERTS)) {
    if (!OCSP_basic_add1_cert(brsp, signer)) return 0;
    for (int i = 0; i < sk_num(certs); i++)
      if (!OCSP_basic_add1_cert(brsp, reinterpret_cast<X509*>(sk_value(certs, i)))) return 0;
  }
  OCSP_RESPID* rid = brsp->tbsResponseData->responderId;
  if (flags & OCSP_RESPID_KEY) {
    unsigned char md[20];
    unsigned int mdlen = 0;
    if (!X509_pubkey_digest(signer, EVP_sha1(), md, &mdlen)) return 0;
    ASN1_OCTET_STRING* kh = ASN1_OCTET_STRING_new();
    if (kh == nullptr || !ASN1_OCTET_STRING_set(kh, md, static_cast<int>(mdlen))) {
      ASN1_OCTET_STRING_free(kh);
      return 0;
    }
    OCSP_RESPID_free(rid);
    rid = OCSP_RESPID_new();
    brsp->tbsResponseData->responderId = rid;
    if (rid == nullptr) {
      ASN1_OCTET_STRING_free(kh);
      return 0;
    }
    rid->type = V_OCSP_RESPID_KEY;
    rid->value.byKey = kh;
  } else {
    X509_NAME* nm = X509_NAME_dup(X509_get_subject_name(signer));
    if (nm == nullptr) return 0;
    OCSP_RESPID_free(rid);
    rid = OCSP_RESPID_new();
    brsp->tbsResponseData->responderId = rid;
    if (rid == nullptr) {
      X509_NAME_free(nm);
      return 0;
    }
    rid->type = V_OCSP_RESPID_NAME;
    rid->value.byName = nm;
  }
  if (!(flags & OCSP_NOTIME) &&
      X509_gmtime_adj(brsp->tbsResponseData->producedAt, 0) == nullptr)
    return 0;
  if (ASN1_item_sign(&OCSP_RESPDATA_it, brsp->signatureAlgorithm, nullptr, brsp->signature,
                     brsp->tbsResponseData, key, dgst) <= 0)
    return 0;
  return 1;
}

}  // extern "C"
