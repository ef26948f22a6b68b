// S/MIME over PKCS#7 (RFC 2633): signing, verifying with certificate
// chains, encrypting to recipients and decrypting, each streaming the
// content through the data engine.

#include <limits.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "bio/internal.h"
#include "internal/err_mark.h"
#include "internal/first_success.h"
#include "pk7_local.h"

using namespace morvane::pkcs7;

namespace {

constexpr int kChunk = 4096;
constexpr int kNidRc2Cbc = 37;
constexpr int kNidDesCbc = 31;
constexpr int kNidDesEde3Cbc = 44;

void algor_free(void* a) { X509_ALGOR_free(reinterpret_cast<X509_ALGOR*>(a)); }

// The capabilities a signer announces, strongest first.
bool add_capabilities(PKCS7_SIGNER_INFO* si) {
  STACK* smcap = sk_new_null();
  if (smcap == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, ERR_R_MALLOC_FAILURE);
    return false;
  }
  const bool ok = PKCS7_simple_smimecap(smcap, kNidDesEde3Cbc, -1) &&
                  PKCS7_simple_smimecap(smcap, kNidRc2Cbc, 128) &&
                  PKCS7_simple_smimecap(smcap, kNidRc2Cbc, 64) &&
                  PKCS7_simple_smimecap(smcap, kNidDesCbc, -1) &&
                  PKCS7_simple_smimecap(smcap, kNidRc2Cbc, 40) &&
                  PKCS7_add_attrib_smimecap(si, smcap);
  sk_pop_free(smcap, algor_free);
  return ok;
}

// Unlinks the chain's filters from the top down to `keep` (which survives
// when it is in the chain) and frees them.
void free_filters_above(BIO* chain, BIO* keep) {
  while (chain != nullptr && chain != keep) {
    BIO* next = BIO_pop(chain);
    BIO_free(chain);
    chain = next;
  }
}

// Streams `in` through a new chain of p7 (as lines under `flags`), flushes
// it (the cipher's last block) and completes the message; failures queue
// under function `func`, a failed copy or final step with `final_reason`.
// Content that was not read and written whole is neither signed nor sealed.
bool stream_content(PKCS7* p7, BIO* in, int flags, int func, int final_reason) {
  BIO* p7bio = PKCS7_dataInit(p7, nullptr);
  if (p7bio == nullptr) {
    PKCS7err(func, ERR_R_MALLOC_FAILURE);
    return false;
  }
  const bool ok = SMIME_crlf_copy(in, p7bio, flags) != 0 && BIO_flush(p7bio) > 0 &&
                  PKCS7_dataFinal(p7, p7bio) != 0;
  if (!ok) PKCS7err(func, final_reason);
  BIO_free_all(p7bio);
  return ok;
}

void free_stack(void* sk) {
  sk_free(reinterpret_cast<STACK*>(sk));
}

// Reads `chain` to its end into `out` (when given): false, with "content
// write error" under `func`, when a write fails.  The last read's result
// goes to *last.
bool copy_content(BIO* chain, BIO* out, int func, int* last = nullptr) {
  char buf[kChunk];
  int n = 0;
  while ((n = BIO_read(chain, buf, sizeof buf)) > 0) {
    if (out != nullptr && BIO_write(out, buf, n) != n) {
      PKCS7err(func, PKCS7_R_CONTENT_WRITE_ERROR);
      return false;
    }
  }
  if (last != nullptr) *last = n;
  return true;
}

// Appends the certificates of `certs` that `ias` names to `out`, each once
// (the caller's list and the message may carry the same one).
bool add_named(STACK* out, STACK* certs, const PKCS7_ISSUER_AND_SERIAL* ias) {
  for (int i = 0; i < sk_num(certs); i++) {
    auto* x = reinterpret_cast<X509*>(sk_value(certs, i));
    if (!names_cert(ias, x)) continue;
    bool held = false;
    for (int j = 0; j < sk_num(out) && !held; j++)
      held = X509_cmp(reinterpret_cast<X509*>(sk_value(out, j)), x) == 0;
    if (!held && !sk_push(out, reinterpret_cast<char*>(x))) return false;
  }
  return true;
}

// For each signer of p7, the certificates that may be its own, in the order
// tried: those of `certs` that carry its issuer and serial, then (without
// PKCS7_FLAG_NO_INTERNAL) the message's; one stack per signer in a stack
// (free with sk_pop_free and free_stack).  Null with the reason queued.
STACK* find_candidates(PKCS7* p7, STACK* sinfos, STACK* certs, int flags) {
  STACK* all = sk_new_null();
  bool ok = all != nullptr;
  bool found = true;
  for (int i = 0; ok && found && i < sk_num(sinfos); i++) {
    const auto* ias = reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(sinfos, i))->issuer_and_serial;
    STACK* mine = sk_new_null();
    ok = mine != nullptr && sk_push(all, reinterpret_cast<char*>(mine));
    if (!ok) {
      sk_free(mine);
      break;
    }
    ok = add_named(mine, certs, ias) &&
         ((flags & PKCS7_FLAG_NO_INTERNAL) || add_named(mine, p7->d.sign->cert, ias));
    found = sk_num(mine) > 0;
  }
  if (ok && found) return all;
  sk_pop_free(all, free_stack);
  if (!ok)
    PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
  else
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND);
  return nullptr;
}

X509* candidate(STACK* all, int signer, int i) {
  return reinterpret_cast<X509*>(sk_value(reinterpret_cast<STACK*>(sk_value(all, signer)), i));
}

// Verifies the chain of `signer` with the message's certificates as
// untrusted ones and its CRLs, as `flags` ask: 1, or 0 with the reason
// queued.
int verify_chain(X509_STORE_CTX* ctx, X509_STORE* store, X509* signer, PKCS7* p7, int flags) {
  const bool chain = !(flags & PKCS7_FLAG_NO_CHAIN);
  if (!X509_STORE_CTX_init(ctx, store, signer, chain ? p7->d.sign->cert : nullptr)) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_X509_LIB);
    return 0;
  }
  if (chain) X509_STORE_CTX_set_default(ctx, "smime_sign");
  if (!(flags & PKCS7_FLAG_NO_CRLS)) X509_STORE_CTX_set0_crls(ctx, p7->d.sign->crl);
  const int i = X509_verify_cert(ctx);
  const int j = i <= 0 ? X509_STORE_CTX_get_error(ctx) : 0;
  X509_STORE_CTX_cleanup(ctx);
  if (i > 0) return 1;
  PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_CERTIFICATE_VERIFY_ERROR);
  ERR_add_error_data(2, "Verify error:", X509_verify_cert_error_string(j));
  return 0;
}

// Keeps, for every signer, the candidates whose chain verifies: false when a
// signer has none, with the reason its first candidate gives.
bool keep_verified_chains(STACK* all, X509_STORE* store, PKCS7* p7, int flags) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  if (ctx == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
    return false;
  }
  bool ok = true;
  for (int k = 0; ok && k < sk_num(all); k++) {
    auto* mine = reinterpret_cast<STACK*>(sk_value(all, k));
    for (int i = sk_num(mine) - 1; i >= 0; i--) {
      morvane::internal::ErrorMark mark;
      if (verify_chain(ctx, store, candidate(all, k, i), p7, flags) > 0) continue;
      // The first candidate's reason stays when no other verified.
      if (i == 0 && sk_num(mine) == 1) {
        ok = false;
        break;
      }
      mark.pop();
      sk_delete(mine, i);
    }
  }
  X509_STORE_CTX_free(ctx);
  return ok;
}

}  // namespace

/* see morvane/pkcs7.h */
PKCS7* PKCS7_sign(X509* signcert, EVP_PKEY* pkey, STACK* certs, BIO* data, int flags) {
  if (!X509_check_private_key(signcert, pkey)) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
    return nullptr;
  }
  PKCS7* p7 = PKCS7_new();
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  PKCS7_SIGNER_INFO* si = nullptr;
  if (!PKCS7_set_type(p7, kNidSigned) || !PKCS7_content_new(p7, kNidData)) goto err;
  if ((si = PKCS7_add_signature(p7, signcert, pkey, EVP_sha1())) == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGN, PKCS7_R_PKCS7_ADD_SIGNATURE_ERROR);
    goto err;
  }
  if (!(flags & PKCS7_FLAG_NO_CERTS)) {
    if (!PKCS7_add_certificate(p7, signcert)) goto err;
    for (int i = 0; i < sk_num(certs); i++)
      if (!PKCS7_add_certificate(p7, reinterpret_cast<X509*>(sk_value(certs, i)))) goto err;
  }
  if (!(flags & PKCS7_FLAG_NO_ATTRIBUTES)) {
    if (!PKCS7_add_signed_attribute(si, kNidContentType, ASN1_UT_OBJECT, OBJ_nid2obj(kNidData)))
      goto err;
    if (!(flags & PKCS7_FLAG_NO_CAPABILITIES) && !add_capabilities(si)) goto err;
  }
  if (flags & PKCS7_FLAG_DETACHED) PKCS7_set_detached(p7, 1);
  if (flags & PKCS7_FLAG_PARTIAL) return p7;
  if (stream_content(p7, data, flags, PKCS7_F_PKCS7_SIGN, PKCS7_R_PKCS7_DATASIGN)) return p7;
err:
  PKCS7_free(p7);
  return nullptr;
}

/* see morvane/pkcs7.h */
STACK* PKCS7_get0_signers(PKCS7* p7, STACK* certs, int flags) {
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_INVALID_NULL_POINTER);
    return nullptr;
  }
  if (type_nid(p7) != kNidSigned || p7->d.sign == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_WRONG_CONTENT_TYPE);
    return nullptr;
  }
  STACK* sinfos = PKCS7_get_signer_info(p7);
  if (sk_num(sinfos) <= 0) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_NO_SIGNERS);
    return nullptr;
  }
  STACK* signers = sk_new_null();
  if (signers == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  for (int i = 0; i < sk_num(sinfos); i++) {
    auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(sinfos, i));
    PKCS7_ISSUER_AND_SERIAL* ias = si->issuer_and_serial;
    X509* signer = nullptr;
    if (certs != nullptr) signer = X509_find_by_issuer_and_serial(certs, ias->issuer, ias->serial);
    if (signer == nullptr && !(flags & PKCS7_FLAG_NO_INTERNAL) && p7->d.sign->cert != nullptr)
      signer = X509_find_by_issuer_and_serial(p7->d.sign->cert, ias->issuer, ias->serial);
    if (signer == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_GET0_SIGNERS, PKCS7_R_SIGNER_CERTIFICATE_NOT_FOUND);
      sk_free(signers);
      return nullptr;
    }
    if (!sk_push(signers, reinterpret_cast<char*>(signer))) {
      sk_free(signers);
      return nullptr;
    }
  }
  return signers;
}

/* see morvane/pkcs7.h */
int PKCS7_verify(PKCS7* p7, STACK* certs, X509_STORE* store, BIO* indata, BIO* out, int flags) {
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_INVALID_NULL_POINTER);
    return 0;
  }
  if (type_nid(p7) != kNidSigned || p7->d.sign == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  // Verification reads the message only: several threads may verify it.
  if (content_absent(p7) && indata == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_NO_CONTENT);
    return 0;
  }
  STACK* sinfos = PKCS7_get_signer_info(p7);
  if (sk_num(sinfos) <= 0) {
    PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_NO_SIGNATURES_ON_DATA);
    return 0;
  }
  // Several certificates may carry a signer's issuer and serial: each is
  // tried, for its chain and then for the signature.
  STACK* signers = find_candidates(p7, sinfos, certs, flags);
  if (signers == nullptr) return 0;
  if (!(flags & PKCS7_FLAG_NO_VERIFY) && !keep_verified_chains(signers, store, p7, flags)) {
    sk_pop_free(signers, free_stack);
    return 0;
  }

  // A memory stream is read through a read-only copy so that the caller's
  // stream keeps its bytes.
  BIO* tmpin = indata;
  if (indata != nullptr && BIO_method_type(indata) == BIO_TYPE_MEM) {
    char* ptr = nullptr;
    long len = BIO_get_mem_data(indata, &ptr);
    if (len > INT_MAX) len = INT_MAX;  // a memory stream holds less
    if (ptr == nullptr || len <= 0) {
      static char empty[1];
      ptr = empty;
      len = 0;
    }
    tmpin = BIO_new_mem_buf(ptr, static_cast<int>(len));
    if (tmpin == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
      sk_pop_free(signers, free_stack);
      return 0;
    }
  }
  BIO* p7bio = PKCS7_dataInit(p7, tmpin);
  BIO* tmpout = nullptr;
  int ret = 0;
  if (p7bio == nullptr) goto done;
  if (flags & PKCS7_FLAG_TEXT) {
    if ((tmpout = BIO_new(BIO_s_mem())) == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, ERR_R_MALLOC_FAILURE);
      goto done;
    }
    BIO_set_mem_eof_return(tmpout, 0);
    morvane::bio::MarkMemNoWipe(tmpout);  // the content came in the clear
  } else {
    tmpout = out;
  }
  if (!copy_content(p7bio, tmpout, PKCS7_F_PKCS7_VERIFY)) {
    if (tmpout != out) BIO_free(tmpout);
    goto done;
  }
  if (flags & PKCS7_FLAG_TEXT) {
    const bool text_ok = SMIME_text(tmpout, out) != 0;
    BIO_free(tmpout);
    if (!text_ok) {
      PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_SMIME_TEXT_ERROR);
      goto done;
    }
  }
  if (!(flags & PKCS7_FLAG_NO_SIGNATURES)) {
    for (int i = 0; i < sk_num(sinfos); i++) {
      auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(sinfos, i));
      const int n = sk_num(reinterpret_cast<STACK*>(sk_value(signers, i)));
      if (morvane::internal::first_success(n, [&](int k) {
            return PKCS7_signatureVerify(p7bio, p7, si, candidate(signers, i, k));
          }) <= 0) {
        PKCS7err(PKCS7_F_PKCS7_VERIFY, PKCS7_R_SIGNATURE_FAILURE);
        goto done;
      }
    }
  }
  ret = 1;
done:
  // The caller's stream at the bottom of the chain survives; the filters and
  // the read-only copy are freed.
  if (p7bio != nullptr) {
    if (tmpin == indata && indata != nullptr) {
      free_filters_above(p7bio, indata);
    } else {
      BIO_free_all(p7bio);
    }
  } else if (tmpin != indata) {
    BIO_free(tmpin);
  }
  sk_pop_free(signers, free_stack);
  return ret;
}

/* see morvane/pkcs7.h */
PKCS7* PKCS7_encrypt(STACK* certs, BIO* in, const EVP_CIPHER* cipher, int flags) {
  PKCS7* p7 = PKCS7_new();
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_ENCRYPT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (!PKCS7_set_type(p7, kNidEnveloped)) goto err;
  if (!PKCS7_set_cipher(p7, cipher)) {
    PKCS7err(PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_ERROR_SETTING_CIPHER);
    goto err;
  }
  for (int i = 0; i < sk_num(certs); i++) {
    if (PKCS7_add_recipient(p7, reinterpret_cast<X509*>(sk_value(certs, i))) == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_ERROR_ADDING_RECIPIENT);
      goto err;
    }
  }
  if (stream_content(p7, in, flags, PKCS7_F_PKCS7_ENCRYPT, PKCS7_R_PKCS7_DATAFINAL_ERROR))
    return p7;
err:
  PKCS7_free(p7);
  return nullptr;
}

/* see morvane/pkcs7.h */
int PKCS7_decrypt(PKCS7* p7, EVP_PKEY* pkey, X509* cert, BIO* data, int flags) {
  if (p7 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_INVALID_NULL_POINTER);
    return 0;
  }
  if (type_nid(p7) != kNidEnveloped) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_WRONG_CONTENT_TYPE);
    return 0;
  }
  if (cert != nullptr && !X509_check_private_key(cert, pkey)) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_PRIVATE_KEY_DOES_NOT_MATCH_CERTIFICATE);
    return 0;
  }
  BIO* tmpmem = PKCS7_dataDecode(p7, pkey, nullptr, cert);
  if (tmpmem == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR);
    return 0;
  }
  if (flags & PKCS7_FLAG_TEXT) {
    BIO* bread = BIO_new(BIO_f_buffer());
    if (bread == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DECRYPT, ERR_R_MALLOC_FAILURE);
      BIO_free_all(tmpmem);
      return 0;
    }
    BIO_push(bread, tmpmem);
    const int ret = SMIME_text(bread, data);
    // A final block that did not decrypt is damaged content, not text; a
    // header that is not text, or a write or read that failed, is said as
    // verification says it.
    BIO* cipher = BIO_find_type(bread, BIO_TYPE_CIPHER);
    const bool sound = cipher == nullptr || BIO_get_cipher_status(cipher) != 0;
    BIO_free_all(bread);
    if (!sound) {
      PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR);
      return 0;
    }
    if (!ret) PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_SMIME_TEXT_ERROR);
    return ret;
  }
  int n = 0;
  const bool written = copy_content(tmpmem, data, PKCS7_F_PKCS7_DECRYPT, &n);
  // A negative last read or a cipher status of 0 means the last block did
  // not decrypt (bad padding or the wrong key): the content is damaged.
  BIO* cipher = BIO_find_type(tmpmem, BIO_TYPE_CIPHER);
  const bool sound = n == 0 && (cipher == nullptr || BIO_get_cipher_status(cipher) != 0);
  BIO_free_all(tmpmem);
  if (written && !sound) PKCS7err(PKCS7_F_PKCS7_DECRYPT, PKCS7_R_DECRYPT_ERROR);
  return written && sound ? 1 : 0;
}
