// Building a PKCS#7 message: content types, signers, certificates,
// revocation lists, recipients and the bulk cipher (RFC 2315).

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "pk7_local.h"

using namespace morvane::pkcs7;

namespace {

bool set_version(ASN1_INTEGER* v, long n) { return ASN1_INTEGER_set(v, n) != 0; }

// A fresh enc_data whose content type is data.
bool set_data_content_type(PKCS7_ENC_CONTENT* ec) {
  ec->content_type = OBJ_nid2obj(kNidData);
  return ec->content_type != nullptr;
}

// The issuer and serial of a certificate copied into a record.
bool set_issuer_and_serial(PKCS7_ISSUER_AND_SERIAL* ias, X509* x509) {
  if (!X509_NAME_set(&ias->issuer, X509_get_issuer_name(x509))) return false;
  ASN1_INTEGER* serial = ASN1_INTEGER_dup(X509_get_serialNumber(x509));
  if (serial == nullptr) return false;
  ASN1_INTEGER_free(ias->serial);
  ias->serial = serial;
  return true;
}

// The algorithm of an identifier, its parameter NULL.
bool set_alg_null(X509_ALGOR* alg, int nid) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  return obj != nullptr && X509_ALGOR_set0(alg, obj, ASN1_UT_NULL, nullptr);
}

// Appends a reference to a certificate (crl false) or revocation list (crl
// true) of signed or signed-and-enveloped data; `refs` and `lock` are its
// count and lock.
int add_reference(PKCS7* p7, void* obj, int* refs, int lock, bool crl, int func) {
  PKCS7_SIGNED* s = signed_part(p7);
  if (s == nullptr) {
    PKCS7err(func, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  STACK** psk = crl ? &s->crl : &s->cert;
  if (*psk == nullptr && (*psk = sk_new_null()) == nullptr) {
    PKCS7err(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  CRYPTO_add(refs, 1, lock);
  if (!sk_push(*psk, static_cast<char*>(obj))) {
    if (crl)
      X509_CRL_free(static_cast<X509_CRL*>(obj));
    else
      X509_free(static_cast<X509*>(obj));
    return 0;
  }
  return 1;
}

}  // namespace

/* see morvane/pkcs7.h */
long PKCS7_ctrl(PKCS7* p7, int cmd, long larg, char*) {
  const int nid = type_nid(p7);
  switch (cmd) {
    case PKCS7_CTRL_SET_DETACHED:
      if (nid != kNidSigned) break;
      p7->detached = static_cast<int>(larg);
      if (larg != 0 && p7->d.sign != nullptr && p7->d.sign->contents != nullptr &&
          type_nid(p7->d.sign->contents) == kNidData) {
        ASN1_OCTET_STRING_free(p7->d.sign->contents->d.data);
        p7->d.sign->contents->d.data = nullptr;
      }
      return larg;
    case PKCS7_CTRL_GET_DETACHED:
      if (nid != kNidSigned) break;
      p7->detached = content_absent(p7) ? 1 : 0;
      return p7->detached;
    default:
      PKCS7err(PKCS7_F_PKCS7_CTRL, PKCS7_R_UNKNOWN_OPERATION);
      return 0;
  }
  PKCS7err(PKCS7_F_PKCS7_CTRL, PKCS7_R_OPERATION_NOT_SUPPORTED_ON_THIS_TYPE);
  return 0;
}

/* see morvane/pkcs7.h */
int PKCS7_content_new(PKCS7* p7, int type) {
  PKCS7* inner = PKCS7_new();
  if (inner == nullptr) return 0;
  if (!PKCS7_set_type(inner, type) || !PKCS7_set_content(p7, inner)) {
    PKCS7_free(inner);
    return 0;
  }
  return 1;
}

/* see morvane/pkcs7.h */
int PKCS7_set_content(PKCS7* p7, PKCS7* p7_data) {
  switch (type_nid(p7)) {
    case kNidSigned:
      if (p7->d.sign == nullptr) break;
      PKCS7_free(p7->d.sign->contents);
      p7->d.sign->contents = p7_data;
      return 1;
    case kNidDigest:
      if (p7->d.digest == nullptr) break;
      PKCS7_free(p7->d.digest->contents);
      p7->d.digest->contents = p7_data;
      return 1;
    default:
      break;
  }
  PKCS7err(PKCS7_F_PKCS7_SET_CONTENT, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
  return 0;
}

/* see morvane/pkcs7.h */
int PKCS7_set_type(PKCS7* p7, int type) {
  ASN1_OBJECT* obj = OBJ_nid2obj(type);
  switch (type) {
    case kNidSigned:
      p7->type = obj;
      if ((p7->d.sign = PKCS7_SIGNED_new()) == nullptr) return 0;
      if (!set_version(p7->d.sign->version, 1)) {
        PKCS7_SIGNED_free(p7->d.sign);
        p7->d.sign = nullptr;
        return 0;
      }
      return 1;
    case kNidData:
      p7->type = obj;
      return (p7->d.data = ASN1_OCTET_STRING_new()) != nullptr;
    case kNidSignedAndEnveloped:
      p7->type = obj;
      if ((p7->d.signed_and_enveloped = PKCS7_SIGN_ENVELOPE_new()) == nullptr) return 0;
      return set_version(p7->d.signed_and_enveloped->version, 1) &&
             set_data_content_type(p7->d.signed_and_enveloped->enc_data);
    case kNidEnveloped:
      p7->type = obj;
      if ((p7->d.enveloped = PKCS7_ENVELOPE_new()) == nullptr) return 0;
      return set_version(p7->d.enveloped->version, 0) &&
             set_data_content_type(p7->d.enveloped->enc_data);
    case kNidDigest:
      p7->type = obj;
      if ((p7->d.digest = PKCS7_DIGEST_new()) == nullptr) return 0;
      return set_version(p7->d.digest->version, 0);
    case kNidEncrypted:
      p7->type = obj;
      if ((p7->d.encrypted = PKCS7_ENCRYPT_new()) == nullptr) return 0;
      return set_version(p7->d.encrypted->version, 0) &&
             set_data_content_type(p7->d.encrypted->enc_data);
    default:
      PKCS7err(PKCS7_F_PKCS7_SET_TYPE, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
      return 0;
  }
}

/* see morvane/pkcs7.h */
int PKCS7_set0_type_other(PKCS7* p7, int type, ASN1_TYPE* other) {
  p7->type = OBJ_nid2obj(type);
  p7->d.other = other;
  return 1;
}

/* see morvane/pkcs7.h */
int PKCS7_add_signer(PKCS7* p7, PKCS7_SIGNER_INFO* psi) {
  PKCS7_SIGNED* s = signed_part(p7);
  if (s == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_ADD_SIGNER, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  const int nid = OBJ_obj2nid(psi->digest_alg->algorithm);
  bool present = false;
  for (int i = 0; i < sk_num(s->md_algs); i++) {
    auto* alg = reinterpret_cast<X509_ALGOR*>(sk_value(s->md_algs, i));
    if (OBJ_obj2nid(alg->algorithm) == nid) {
      present = true;
      break;
    }
  }
  if (!present) {
    X509_ALGOR* alg = X509_ALGOR_new();
    if (alg == nullptr || (alg->parameter = ASN1_TYPE_new()) == nullptr) {
      X509_ALGOR_free(alg);
      PKCS7err(PKCS7_F_PKCS7_ADD_SIGNER, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    ASN1_OBJECT_free(alg->algorithm);
    alg->algorithm = OBJ_nid2obj(nid);
    ASN1_TYPE_set(alg->parameter, ASN1_UT_NULL, nullptr);
    if (!sk_push(s->md_algs, reinterpret_cast<char*>(alg))) {
      X509_ALGOR_free(alg);
      return 0;
    }
  }
  return sk_push(s->signer_info, reinterpret_cast<char*>(psi)) ? 1 : 0;
}

/* see morvane/pkcs7.h */
int PKCS7_add_certificate(PKCS7* p7, X509* x509) {
  return add_reference(p7, x509, &x509->references, CRYPTO_LOCK_X509, false,
                       PKCS7_F_PKCS7_ADD_CERTIFICATE);
}

/* see morvane/pkcs7.h */
int PKCS7_add_crl(PKCS7* p7, X509_CRL* crl) {
  return add_reference(p7, crl, &crl->references, CRYPTO_LOCK_X509_CRL, true,
                       PKCS7_F_PKCS7_ADD_CRL);
}

/* see morvane/pkcs7.h */
int PKCS7_SIGNER_INFO_set(PKCS7_SIGNER_INFO* p7i, X509* x509, EVP_PKEY* pkey,
                          const EVP_MD* dgst) {
  // DSA and ECDSA signatures of this format are made over SHA-1 only.
  const bool dsa_like = pkey->save_type == kNidDsa || pkey->save_type == kNidEc;
  if (!set_version(p7i->version, 1)) return 0;
  if (!set_issuer_and_serial(p7i->issuer_and_serial, x509)) return 0;
  CRYPTO_add(&pkey->references, 1, CRYPTO_LOCK_EVP_PKEY);
  EVP_PKEY_free(p7i->pkey);
  p7i->pkey = pkey;
  if (!set_alg_null(p7i->digest_alg, dsa_like ? kNidSha1 : EVP_MD_type(dgst))) return 0;
  ASN1_TYPE_free(p7i->digest_enc_alg->parameter);
  p7i->digest_enc_alg->parameter = nullptr;
  switch (EVP_PKEY_type(pkey->type)) {
    case kNidRsa:
      return set_alg_null(p7i->digest_enc_alg, kNidRsa) ? 1 : 0;
    case kNidDsa:
      ASN1_OBJECT_free(p7i->digest_enc_alg->algorithm);
      p7i->digest_enc_alg->algorithm = OBJ_nid2obj(kNidDsa);
      return p7i->digest_enc_alg->algorithm != nullptr ? 1 : 0;
    case kNidEc:
      return set_alg_null(p7i->digest_enc_alg, kNidEcdsaSha1) ? 1 : 0;
    default:
      return 0;
  }
}

/* see morvane/pkcs7.h */
PKCS7_SIGNER_INFO* PKCS7_add_signature(PKCS7* p7, X509* x509, EVP_PKEY* pkey,
                                       const EVP_MD* dgst) {
  PKCS7_SIGNER_INFO* si = PKCS7_SIGNER_INFO_new();
  if (si == nullptr) return nullptr;
  if (!PKCS7_SIGNER_INFO_set(si, x509, pkey, dgst) || !PKCS7_add_signer(p7, si)) {
    PKCS7_SIGNER_INFO_free(si);
    return nullptr;
  }
  return si;
}

/* see morvane/pkcs7.h */
int PKCS7_set_digest(PKCS7* p7, const EVP_MD* md) {
  if (type_nid(p7) != kNidDigest || p7->d.digest == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SET_DIGEST, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  if (!set_alg_null(p7->d.digest->md, EVP_MD_type(md))) {
    PKCS7err(PKCS7_F_PKCS7_SET_DIGEST, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/pkcs7.h */
STACK* PKCS7_get_signer_info(PKCS7* p7) {
  PKCS7_SIGNED* s = signed_part(p7);
  return s != nullptr ? s->signer_info : nullptr;
}

/* see morvane/pkcs7.h */
X509* PKCS7_cert_from_signer_info(PKCS7* p7, PKCS7_SIGNER_INFO* si) {
  if (type_nid(p7) != kNidSigned || p7->d.sign == nullptr || si->issuer_and_serial == nullptr)
    return nullptr;
  return X509_find_by_issuer_and_serial(p7->d.sign->cert, si->issuer_and_serial->issuer,
                                        si->issuer_and_serial->serial);
}

/* see morvane/pkcs7.h */
int PKCS7_RECIP_INFO_set(PKCS7_RECIP_INFO* p7i, X509* x509) {
  if (!set_version(p7i->version, 0)) return 0;
  if (!set_issuer_and_serial(p7i->issuer_and_serial, x509)) return 0;
  X509_ALGOR* alg = X509_ALGOR_dup(x509->cert_info->key->algor);
  if (alg == nullptr) return 0;
  X509_ALGOR_free(p7i->key_enc_algor);
  p7i->key_enc_algor = alg;
  CRYPTO_add(&x509->references, 1, CRYPTO_LOCK_X509);
  X509_free(p7i->cert);
  p7i->cert = x509;
  return 1;
}

/* see morvane/pkcs7.h */
int PKCS7_add_recipient_info(PKCS7* p7, PKCS7_RECIP_INFO* ri) {
  STACK* sk = nullptr;
  const int nid = type_nid(p7);
  if (nid == kNidEnveloped && p7->d.enveloped != nullptr) {
    sk = p7->d.enveloped->recipientinfo;
  } else if (nid == kNidSignedAndEnveloped && p7->d.signed_and_enveloped != nullptr) {
    sk = p7->d.signed_and_enveloped->recipientinfo;
  } else {
    PKCS7err(PKCS7_F_PKCS7_ADD_RECIPIENT_INFO, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  return sk_push(sk, reinterpret_cast<char*>(ri)) ? 1 : 0;
}

/* see morvane/pkcs7.h */
PKCS7_RECIP_INFO* PKCS7_add_recipient(PKCS7* p7, X509* x509) {
  PKCS7_RECIP_INFO* ri = PKCS7_RECIP_INFO_new();
  if (ri == nullptr) return nullptr;
  if (!PKCS7_RECIP_INFO_set(ri, x509) || !PKCS7_add_recipient_info(p7, ri)) {
    PKCS7_RECIP_INFO_free(ri);
    return nullptr;
  }
  return ri;
}

/* see morvane/pkcs7.h */
int PKCS7_set_cipher(PKCS7* p7, const EVP_CIPHER* cipher) {
  PKCS7_ENC_CONTENT* ec = nullptr;
  const int nid = type_nid(p7);
  if (nid == kNidEnveloped && p7->d.enveloped != nullptr) {
    ec = p7->d.enveloped->enc_data;
  } else if (nid == kNidSignedAndEnveloped && p7->d.signed_and_enveloped != nullptr) {
    ec = p7->d.signed_and_enveloped->enc_data;
  } else {
    PKCS7err(PKCS7_F_PKCS7_SET_CIPHER, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  if (EVP_CIPHER_type(cipher) == 0) {
    PKCS7err(PKCS7_F_PKCS7_SET_CIPHER, PKCS7_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER);
    return 0;
  }
  ec->cipher = cipher;
  return 1;
}

/* see morvane/pkcs7.h */
PKCS7_ISSUER_AND_SERIAL* PKCS7_get_issuer_and_serial(PKCS7* p7, int idx) {
  if (type_nid(p7) != kNidSignedAndEnveloped || p7->d.signed_and_enveloped == nullptr)
    return nullptr;
  STACK* rsk = p7->d.signed_and_enveloped->recipientinfo;
  if (rsk == nullptr || idx < 0 || idx >= sk_num(rsk)) return nullptr;
  return reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, idx))->issuer_and_serial;
}
