// Verification of OCSP responses and signed requests (RFC 6960, 4.2.2.2 and
// 4.1.2): the signer is found by the responder id or the requestor name, its
// signature is checked, its chain is verified under the OCSP helper purpose,
// and a response's signer must be the issuer of the certificates asked about
// or a responder that issuer delegated with the OCSPSigning key purpose.  A
// signer whose key takes its parameters from its issuer's (DSA) is checked
// after its chain, with a copy of its key that takes them from the chain
// verified; the certificates are left as they were.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/first_success.h"
#include "ocsp/ocsp_local.h"
#include "x509/internal.h"
#include "x509v3/internal.h"

namespace {

// The NID of the id-kp-OCSPSigning key purpose (RFC 5280, 4.2.1.12).
constexpr int kNidOcspSign = 180;
// SHA-1 output size: the length of a responder id by key (RFC 6960, 4.2.1).
constexpr int kKeyHashLen = 20;

X509* cert_at(STACK* sk, int i) {
  return reinterpret_cast<X509*>(sk_value(sk, i));
}

OCSP_CERTID* id_at(STACK* responses, int i) {
  auto* single = reinterpret_cast<OCSP_SINGLERESP*>(sk_value(responses, i));
  return single != nullptr ? single->certId : nullptr;
}

void free_chain(STACK* chain) {
  for (int i = 0; i < sk_num(chain); i++) X509_free(cert_at(chain, i));
  sk_free(chain);
}

// Whether the responder id names x: by subject name, or by the SHA-1 hash
// of its public key.
bool names_signer(X509* x, const OCSP_RESPID* id) {
  if (x == nullptr) return false;
  if (id->type == V_OCSP_RESPID_NAME)
    return id->value.byName != nullptr &&
           X509_NAME_cmp(X509_get_subject_name(x), id->value.byName) == 0;
  if (id->type != V_OCSP_RESPID_KEY) return false;
  const ASN1_OCTET_STRING* key = id->value.byKey;
  if (key == nullptr || key->length != kKeyHashLen || key->data == nullptr) return false;
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  return X509_pubkey_digest(x, EVP_sha1(), md, &len) &&
         len == static_cast<unsigned int>(kKeyHashLen) && memcmp(md, key->data, len) == 0;
}

// Appends the certificates of certs that the responder id names to out.
bool add_signers(STACK* out, STACK* certs, const OCSP_RESPID* id) {
  for (int i = 0; i < sk_num(certs); i++)
    if (names_signer(cert_at(certs, i), id) && !sk_push(out, sk_value(certs, i))) return false;
  return true;
}

// The certificates that may have signed: those of the caller's certs that
// the responder id names (*ncaller of them), then, without OCSP_NOINTERN,
// those of the response.  Null when the list cannot be made.
STACK* find_signers(OCSP_BASICRESP* bs, STACK* certs, unsigned long flags, int* ncaller) {
  const OCSP_RESPID* id = bs->tbsResponseData->responderId;
  STACK* found = sk_new_null();
  if (found == nullptr || id == nullptr) return found;
  bool ok = add_signers(found, certs, id);
  *ncaller = sk_num(found);
  if (ok && !(flags & OCSP_NOINTERN)) ok = add_signers(found, bs->certs, id);
  if (!ok) {
    sk_free(found);
    return nullptr;
  }
  return found;
}

// Whether signer's key leaves its parameters (DSA p, q, g) to its issuer's.
bool key_lacks_parameters(X509* signer) {
  EVP_PKEY* own = X509_get_pubkey(signer);
  const bool lacks = own != nullptr && EVP_PKEY_missing_parameters(own);
  EVP_PKEY_free(own);
  return lacks;
}

// Checks the signature over tbs (of template it) with signer's public key,
// or, for a key that leaves its parameters to its issuer's, with a copy
// that takes them from the signer's verified chain: the result of
// ASN1_item_verify, or -1 without a usable key.
int verify_signature(const ASN1_ITEM* it, void* tbs, X509_ALGOR* alg, ASN1_BIT_STRING* sig,
                     X509* signer, STACK* chain, int func) {
  EVP_PKEY* key = chain != nullptr ? morvane::x509::chain_leaf_key(chain) : X509_get_pubkey(signer);
  if (key == nullptr) {
    OCSPerr(func, OCSP_R_NO_PUBLIC_KEY);
    return -1;
  }
  const int ret = alg != nullptr && sig != nullptr ? ASN1_item_verify(it, alg, sig, tbs, key) : 0;
  EVP_PKEY_free(key);
  if (ret <= 0) OCSPerr(func, OCSP_R_SIGNATURE_FAILURE);
  return ret;
}

// Verifies signer's chain under the OCSP helper purpose, with untrusted
// certificates from untrusted: the verifier's result; *pchain (when given)
// receives a copy of the chain.  A context that cannot be set up gives
// init_fail with "X509 lib".
int verify_chain(X509_STORE* store, X509* signer, STACK* untrusted, STACK** pchain, int func,
                 int init_fail) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  if (ctx == nullptr || !X509_STORE_CTX_init(ctx, store, signer, untrusted)) {
    X509_STORE_CTX_free(ctx);
    OCSPerr(func, ERR_R_X509_LIB);
    return init_fail;
  }
  X509_STORE_CTX_set_purpose(ctx, X509_PURPOSE_OCSP_HELPER);
  const int ret = X509_verify_cert(ctx);
  if (pchain != nullptr) *pchain = X509_STORE_CTX_get1_chain(ctx);
  const int err = X509_STORE_CTX_get_error(ctx);
  X509_STORE_CTX_free(ctx);
  if (ret <= 0) {
    OCSPerr(func, OCSP_R_CERTIFICATE_VERIFY_ERROR);
    ERR_add_error_data(2, "Verify error:", X509_verify_cert_error_string(err));
  }
  return ret;
}

// 1: cert is the issuer that id names (its subject name and public key hash
// to the identifier's hashes with the identifier's algorithm); 0: it is
// not; -1: the hashes cannot be made.  Without id, cert must be the issuer
// named by every single response of responses.
int match_issuerid(X509* cert, OCSP_CERTID* id, STACK* responses) {
  if (id == nullptr) {
    for (int i = 0; i < sk_num(responses); i++) {
      OCSP_CERTID* each = id_at(responses, i);
      if (each == nullptr) return 0;
      const int ret = match_issuerid(cert, each, nullptr);
      if (ret <= 0) return ret;
    }
    return 1;
  }
  const char* name = id->hashAlgorithm != nullptr
                         ? OBJ_nid2sn(OBJ_obj2nid(id->hashAlgorithm->algorithm))
                         : nullptr;
  const EVP_MD* dgst = name != nullptr ? EVP_get_digestbyname(name) : nullptr;
  if (dgst == nullptr) {
    OCSPerr(OCSP_F_OCSP_MATCH_ISSUERID, OCSP_R_UNKNOWN_MESSAGE_DIGEST);
    return -1;
  }
  const int mdlen = EVP_MD_size(dgst);
  if (mdlen <= 0 || id->issuerNameHash == nullptr || id->issuerKeyHash == nullptr ||
      id->issuerNameHash->length != mdlen || id->issuerKeyHash->length != mdlen)
    return 0;
  unsigned char md[EVP_MAX_MD_SIZE];
  if (!X509_NAME_digest(X509_get_subject_name(cert), dgst, md, nullptr)) return -1;
  if (memcmp(md, id->issuerNameHash->data, static_cast<size_t>(mdlen)) != 0) return 0;
  if (!X509_pubkey_digest(cert, dgst, md, nullptr)) return -1;
  if (memcmp(md, id->issuerKeyHash->data, static_cast<size_t>(mdlen)) != 0) return 0;
  return 1;
}

// Whether the single responses name one issuer: 1 with *pid the identifier
// to match; 2 (*pid null) when they name different issuers with different
// hash algorithms, so that each must be matched; 0 when two identifiers of
// one algorithm name different issuers; -1 without single responses.
int check_ids(STACK* responses, OCSP_CERTID** pid) {
  *pid = nullptr;
  const int n = sk_num(responses);
  if (n <= 0) {
    OCSPerr(OCSP_F_OCSP_CHECK_IDS, OCSP_R_RESPONSE_CONTAINS_NO_REVOCATION_DATA);
    return -1;
  }
  OCSP_CERTID* first = id_at(responses, 0);
  if (first == nullptr) return 0;
  for (int i = 1; i < n; i++) {
    OCSP_CERTID* other = id_at(responses, i);
    if (other == nullptr) return 0;
    if (OCSP_id_issuer_cmp(first, other) != 0) {
      const bool same_alg =
          first->hashAlgorithm != nullptr && other->hashAlgorithm != nullptr &&
          OBJ_cmp(first->hashAlgorithm->algorithm, other->hashAlgorithm->algorithm) == 0;
      return same_alg ? 0 : 2;
    }
  }
  *pid = first;
  return 1;
}

// A delegated responder must carry the OCSPSigning key purpose (RFC 6960,
// 4.2.2.2).
int check_delegated(X509* x) {
  X509_check_purpose(x, -1, 0);
  if ((morvane::x509v3::flags_of(x) & EXFLAG_XKUSAGE) && (x->ex_xkusage & XKU_OCSP_SIGN)) return 1;
  OCSPerr(OCSP_F_OCSP_CHECK_DELEGATED, OCSP_R_MISSING_OCSPSIGNING_USAGE);
  return 0;
}

// 1: the chain's signer is the issuer named by the response, or a responder
// delegated by it; 0: neither; -1: the response or chain cannot be judged.
int check_issuer(OCSP_BASICRESP* bs, STACK* chain) {
  if (sk_num(chain) <= 0) {
    OCSPerr(OCSP_F_OCSP_CHECK_ISSUER, OCSP_R_NO_CERTIFICATES_IN_CHAIN);
    return -1;
  }
  STACK* responses = bs->tbsResponseData->responses;
  OCSP_CERTID* id = nullptr;
  int ret = check_ids(responses, &id);
  if (ret <= 0) return ret;
  X509* signer = cert_at(chain, 0);
  if (sk_num(chain) > 1) {
    ret = match_issuerid(cert_at(chain, 1), id, responses);
    if (ret < 0) return ret;
    if (ret > 0) return check_delegated(signer);
  }
  return match_issuerid(signer, id, responses);
}

// Whether the signature must wait for the signer's chain: its key takes
// its parameters from the chain, once verified (as PKCS#7 signers do).
bool signature_after_chain(X509* signer, unsigned long flags) {
  return !(flags & OCSP_NOSIGS) && !(flags & OCSP_NOVERIFY) && key_lacks_parameters(signer);
}

// Verifies bs as signed by signer: its signature, the signer's chain and
// its entitlement to answer for the certificates asked about.
int verify_as(OCSP_BASICRESP* bs, X509* signer, X509_STORE* store, unsigned long flags) {
  const bool after_chain = signature_after_chain(signer, flags);
  auto signature = [&](STACK* chain) {
    return verify_signature(&OCSP_RESPDATA_it, bs->tbsResponseData, bs->signatureAlgorithm,
                            bs->signature, signer, chain, OCSP_F_OCSP_BASIC_VERIFY);
  };
  if (!(flags & OCSP_NOSIGS) && !after_chain) {
    const int ret = signature(nullptr);
    if (ret <= 0) return ret;
  }
  if (flags & OCSP_NOVERIFY) return 1;
  STACK* chain = nullptr;
  int ret = verify_chain(store, signer, (flags & OCSP_NOCHAIN) ? nullptr : bs->certs, &chain,
                         OCSP_F_OCSP_BASIC_VERIFY, -1);
  if (ret > 0 && after_chain) ret = signature(chain);
  if (ret > 0 && !(flags & OCSP_NOCHECKS)) {
    ret = check_issuer(bs, chain);
    if (ret == 0) {
      // Neither the issuer nor delegated by it: only a chain root trusted
      // explicitly for OCSP signing entitles the signer.
      if (flags & OCSP_NOEXPLICIT) {
        ret = 0;
      } else if (X509_check_trust(cert_at(chain, sk_num(chain) - 1), kNidOcspSign, 0) ==
                 X509_TRUST_TRUSTED) {
        ret = 1;
      } else {
        OCSPerr(OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_ROOT_CA_NOT_TRUSTED);
        ret = 0;
      }
    }
  }
  free_chain(chain);
  return ret;
}

// Verifies req as signed by signer: its signature and the signer's chain.
int verify_request_as(OCSP_REQUEST* req, X509* signer, X509_STORE* store, unsigned long flags) {
  OCSP_SIGNATURE* sig = req->optionalSignature;
  const bool after_chain = signature_after_chain(signer, flags);
  auto signature = [&](STACK* chain) {
    return verify_signature(&OCSP_REQINFO_it, req->tbsRequest, sig->signatureAlgorithm,
                            sig->signature, signer, chain, OCSP_F_OCSP_REQUEST_VERIFY);
  };
  if (!(flags & OCSP_NOSIGS) && !after_chain && signature(nullptr) <= 0) return 0;
  if (flags & OCSP_NOVERIFY) return 1;
  STACK* chain = nullptr;
  int ret = verify_chain(store, signer, (flags & OCSP_NOCHAIN) ? nullptr : sig->certs,
                         after_chain ? &chain : nullptr, OCSP_F_OCSP_REQUEST_VERIFY, 0);
  if (ret > 0 && after_chain) ret = signature(chain);
  free_chain(chain);
  return ret > 0 ? 1 : 0;
}

}  // namespace

extern "C" {

// Every certificate that the responder id names is tried, the caller's
// first, until one verifies (a responder's old and new certificates may
// both travel in a response, or the caller may hold a stale one).
int OCSP_basic_verify(OCSP_BASICRESP* bs, STACK* certs, X509_STORE* store, unsigned long flags) {
  if (bs == nullptr || bs->tbsResponseData == nullptr) {
    OCSPerr(OCSP_F_OCSP_BASIC_VERIFY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  int ncaller = 0;
  STACK* signers = find_signers(bs, certs, flags, &ncaller);
  if (signers == nullptr) {
    OCSPerr(OCSP_F_OCSP_BASIC_VERIFY, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (sk_num(signers) == 0) {
    sk_free(signers);
    OCSPerr(OCSP_F_OCSP_BASIC_VERIFY, OCSP_R_SIGNER_CERTIFICATE_NOT_FOUND);
    return 0;
  }
  const int ret = morvane::internal::first_success(sk_num(signers), [&](int i) {
    // A certificate of the caller's is trusted as it is with OCSP_TRUSTOTHER.
    const bool trusted = i < ncaller && (flags & OCSP_TRUSTOTHER);
    return verify_as(bs, cert_at(signers, i), store, trusted ? flags | OCSP_NOVERIFY : flags);
  });
  sk_free(signers);
  return ret;
}

int OCSP_request_verify(OCSP_REQUEST* req, STACK* certs, X509_STORE* store, unsigned long flags) {
  if (req == nullptr || req->tbsRequest == nullptr) {
    OCSPerr(OCSP_F_OCSP_REQUEST_VERIFY, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  OCSP_SIGNATURE* sig = req->optionalSignature;
  if (sig == nullptr) {
    OCSPerr(OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_REQUEST_NOT_SIGNED);
    return 0;
  }
  const GENERAL_NAME* gen = req->tbsRequest->requestorName;
  if (gen == nullptr || gen->type != GEN_DIRNAME || gen->d.directoryName == nullptr) {
    OCSPerr(OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_UNSUPPORTED_REQUESTORNAME_TYPE);
    return 0;
  }
  // The signer comes from the request's certificates, or with OCSP_NOINTERN
  // from the caller's only; every certificate of the requestor's name is
  // tried in turn, as for a response.
  STACK* pool = (flags & OCSP_NOINTERN) ? certs : sig->certs;
  OCSP_RESPID by_name{};
  by_name.type = V_OCSP_RESPID_NAME;
  by_name.value.byName = gen->d.directoryName;
  STACK* signers = sk_new_null();
  if (signers == nullptr || !add_signers(signers, pool, &by_name)) {
    sk_free(signers);
    OCSPerr(OCSP_F_OCSP_REQUEST_VERIFY, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (sk_num(signers) == 0) {
    sk_free(signers);
    OCSPerr(OCSP_F_OCSP_REQUEST_VERIFY, OCSP_R_SIGNER_CERTIFICATE_NOT_FOUND);
    return 0;
  }
  if ((flags & OCSP_NOINTERN) && (flags & OCSP_TRUSTOTHER)) flags |= OCSP_NOVERIFY;
  const int ret = morvane::internal::first_success(sk_num(signers), [&](int i) {
    return verify_request_as(req, cert_at(signers, i), store, flags);
  });
  sk_free(signers);
  return ret;
}

}  // extern "C"
