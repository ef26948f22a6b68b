// The PKCS#7 data engine: chains of digest and cipher filters that produce
// a message's signatures, digest and ciphertext as content is written, and
// that decrypt and digest a received message as it is read (RFC 2315,
// sections 9 to 12).

#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/objects.h>
#include <morvane/pkcs7.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "bio/internal.h"
#include "evp/internal.h"
#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "internal/lock.h"
#include "internal/wipe.h"
#include "pk7_local.h"
#include "x509/internal.h"

using namespace morvane::pkcs7;

namespace {

bool type_is_other(const PKCS7* p7) {
  const int nid = type_nid(p7);
  return nid < kNidData || nid > kNidEncrypted;
}

// The content octet string: the data of a data content, or the OCTET STRING
// of an "other" content holding one.
ASN1_OCTET_STRING* get_octet_string(PKCS7* p7) {
  if (p7 == nullptr) return nullptr;
  if (type_nid(p7) == kNidData) return p7->d.data;
  if (type_is_other(p7) && p7->d.other != nullptr &&
      p7->d.other->type == ASN1_UT_OCTET_STRING)
    return p7->d.other->value.octet_string;
  return nullptr;
}

// Whether the chain from `chain` holds a digest filter running `md`.
bool has_digest_filter(BIO* chain, const EVP_MD* md) {
  for (BIO* b = chain; b != nullptr; b = BIO_next(b)) {
    const EVP_MD* running = nullptr;
    if (BIO_method_type(b) == BIO_TYPE_MD && BIO_get_md(b, &running) > 0 && running == md)
      return true;
  }
  return false;
}

// Appends a digest filter for `alg` to *pbio (or starts the chain with it),
// unless the chain has one for that digest already: signers sign and verify
// from copies of a filter's context, so one filter serves every entry of a
// digest, and a list that names one digest many times (a received message
// may) builds a chain no longer than the number of digests there are.
// Failures queue under `func`.
bool bio_add_digest(BIO** pbio, X509_ALGOR* alg, int func) {
  const EVP_MD* md = EVP_get_digestbyname(OBJ_nid2sn(OBJ_obj2nid(alg->algorithm)));
  if (md == nullptr) {
    PKCS7err(func, PKCS7_R_UNKNOWN_DIGEST_TYPE);
    return false;
  }
  if (has_digest_filter(*pbio, md)) return true;
  BIO* btmp = BIO_new(BIO_f_md());
  if (btmp == nullptr) {
    PKCS7err(func, ERR_R_BIO_LIB);
    return false;
  }
  BIO_set_md(btmp, md);
  if (*pbio == nullptr) {
    *pbio = btmp;
  } else if (BIO_push(*pbio, btmp) == nullptr) {
    PKCS7err(func, ERR_R_BIO_LIB);
    BIO_free(btmp);
    return false;
  }
  return true;
}

// The digest filters of every algorithm of `md_sk`, appended to *pbio in
// list order, one per digest; on failure *pbio is freed and cleared.
bool add_digest_filters(BIO** pbio, STACK* md_sk, int func) {
  for (int i = 0; i < sk_num(md_sk); i++) {
    if (!bio_add_digest(pbio, reinterpret_cast<X509_ALGOR*>(sk_value(md_sk, i)), func)) {
      BIO_free_all(*pbio);
      *pbio = nullptr;
      return false;
    }
  }
  return true;
}

// The digest filter of `nid` at or below `bio`, its context in *pmd.
BIO* find_digest(EVP_MD_CTX** pmd, BIO* bio, int nid) {
  for (;;) {
    bio = bio != nullptr ? BIO_find_type(bio, BIO_TYPE_MD) : nullptr;
    if (bio == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_FIND_DIGEST, PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST);
      return nullptr;
    }
    BIO_get_md_ctx(bio, pmd);
    if (*pmd == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_FIND_DIGEST, ERR_R_INTERNAL_ERROR);
      return nullptr;
    }
    if (EVP_MD_type(EVP_MD_CTX_md(*pmd)) == nid) return bio;
    bio = BIO_next(bio);
  }
}

// A writable memory stream whose end of data reads as end of file.  What it
// collects becomes the message's content as it is (in the clear for data and
// signed data, ciphertext under the cipher filter for enveloped data), so it
// grows and is freed without wiping.
BIO* new_empty_mem() {
  BIO* b = BIO_new(BIO_s_mem());
  if (b != nullptr) {
    BIO_set_mem_eof_return(b, 0);
    morvane::bio::MarkMemNoWipe(b);
  }
  return b;
}

// Content that is present but not held in an octet string: an "other"
// content of any other value, or a content of one of the typed records
// (nested signed data, for one).
bool has_unwrapped_content(PKCS7* inner) {
  return inner != nullptr && inner->d.ptr != nullptr && get_octet_string(inner) == nullptr;
}

// Moves *pp past one DER header within [*pp, end): the contents' length in
// *plen.  False for a malformed header, an indefinite length (no DER) or
// contents that run past `end`.
bool enter_der(const unsigned char** pp, const unsigned char* end, long* plen) {
  int tag = 0;
  int xclass = 0;
  const int r = ASN1_get_object(pp, plen, &tag, &xclass, end - *pp);
  return (r & (ASN1_HDR_ERROR | ASN1_HDR_INDEFINITE)) == 0 && *plen <= end - *pp;
}

// A stream holding what a signature over the unwrapped content of `inner`
// covers (RFC 2315, 9.3; RFC 5652, 5.2.1): the contents octets of the DER
// encoding of the content, its identifier and length octets left out, as
// the bytes of the octet string are for data.  Null with "unsupported
// content type" when the content has no such encoding (a value of
// indefinite length, kept as it was received).
BIO* new_content_octets_stream(PKCS7* inner, int func) {
  unsigned char* der = nullptr;
  const int n = i2d_PKCS7(inner, &der);
  if (n <= 0 || der == nullptr) {
    MORVANE_free(der);
    PKCS7err(func, ERR_R_ASN1_LIB);
    return nullptr;
  }
  // ContentInfo ::= SEQUENCE { contentType OBJECT IDENTIFIER,
  //                            content [0] EXPLICIT ANY DEFINED BY contentType }
  const unsigned char* p = der;
  const unsigned char* end = der + n;
  long len = 0;
  bool ok = enter_der(&p, end, &len) && enter_der(&p, end, &len);  // SEQUENCE, OID
  if (ok) {
    p += len;
    ok = enter_der(&p, end, &len) && enter_der(&p, end, &len);  // [0], the value
  }
  BIO* b = nullptr;
  if (!ok) {
    PKCS7err(func, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
  } else if ((b = new_empty_mem()) == nullptr) {
    PKCS7err(func, ERR_R_MALLOC_FAILURE);
  } else if (len > 0 && BIO_write(b, p, static_cast<int>(len)) != len) {
    PKCS7err(func, ERR_R_MALLOC_FAILURE);
    BIO_free(b);
    b = nullptr;
  }
  MORVANE_free(der);
  return b;
}

// The type of the content that the signers of p7 sign: that of the inner
// content of signed data, or of the encrypted content of signed-and-enveloped
// data; null when the message has none.
const ASN1_OBJECT* signed_content_type(PKCS7* p7) {
  if (type_nid(p7) == kNidSigned)
    return p7->d.sign->contents != nullptr ? p7->d.sign->contents->type : nullptr;
  const PKCS7_ENC_CONTENT* ec = p7->d.signed_and_enveloped->enc_data;
  return ec != nullptr ? ec->content_type : nullptr;
}

// Signed attributes name the type of the content signed in their
// contentType attribute (RFC 2315, 9.2; RFC 5652, 11.1), and a signature
// holds only for content of that type: 1 when they agree, -1 ("content type
// mismatch") when they differ.  Attributes without one are taken for data,
// as a writer that left it out meant; for content of another type they bind
// no type, 0 ("no content type").
int check_content_type(PKCS7* p7, PKCS7_SIGNER_INFO* si) {
  const ASN1_OBJECT* type = signed_content_type(p7);
  const ASN1_TYPE* named = PKCS7_get_signed_attribute(si, kNidContentType);
  if (named == nullptr) {
    if (type != nullptr && OBJ_obj2nid(type) == kNidData) return 1;
    PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_NO_CONTENT_TYPE);
    return 0;
  }
  if (type == nullptr || named->type != ASN1_UT_OBJECT || OBJ_cmp(named->value.object, type) != 0) {
    PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_CONTENT_TYPE_MISMATCH);
    return -1;
  }
  return 1;
}

// Whether the signed attributes hold one messageDigest attribute with one
// value, as RFC 5652, 11.2 requires: with two, the digest checked would be
// the reader's choice.
bool single_message_digest(const PKCS7_SIGNER_INFO* si) {
  int seen = 0;
  for (int i = 0; i < sk_num(si->auth_attr); i++) {
    const auto* attr = reinterpret_cast<X509_ATTRIBUTE*>(sk_value(si->auth_attr, i));
    if (OBJ_obj2nid(attr->object) != kNidMessageDigest) continue;
    if (++seen > 1 || (attr->single == 0 && sk_num(attr->value.set) > 1)) return false;
  }
  return true;
}

// Adds `value` (taken over) to the signer's signed attributes as `nid` of
// type `atrtype`, in place of an attribute `nid` it has; a null value (its
// making failed) or a failed add frees it and queues "malloc failure".
template <typename T>
bool add_signed_value(PKCS7_SIGNER_INFO* si, int nid, int atrtype, T* value,
                      void (*free_value)(T*)) {
  if (value != nullptr && PKCS7_add_signed_attribute(si, nid, atrtype, value)) return true;
  free_value(value);
  PKCS7err(PKCS7_F_PKCS7_DATAFINAL, ERR_R_MALLOC_FAILURE);
  return false;
}

// Fits the running digest to the key that signs or verifies with it: DSA and
// ECDSA keys take a SHA-1 digest through descriptions of their own
// (EVP_dss1, EVP_ecdsa) that run SHA-1's code on SHA-1's state, so a running
// SHA-1 context goes on as the one of the key.  A context running any other
// digest keeps its description (no other code may run on its state), and
// EVP_SignFinal or EVP_VerifyFinal then refuses the key with "wrong public
// key type".
void fit_digest_to_key(EVP_MD_CTX* ctx, const EVP_PKEY* pkey) {
  const EVP_MD* fit = pkey->save_type == kNidDsa  ? EVP_dss1()
                      : pkey->save_type == kNidEc ? EVP_ecdsa()
                                                  : nullptr;
  if (fit != nullptr) morvane::evp::retype_running(ctx, fit);
}

// An identifier that may label a signer's digestEncryptionAlgorithm: the
// key type it signs with and the digest it names (0 for a bare key label).
struct SignatureLabel {
  int nid;
  int key;
  int digest;
};

// The forms that writers use (RFC 2315, 9.2; RFC 3370, 3.1-3.2; RFC 3279,
// 2.2; RFC 3278, 2.1; RFC 5758, 3).  ecdsa-with-Recommended and
// ecdsa-with-Specified name their digest elsewhere and count as bare.
// clang-format off
constexpr SignatureLabel kSignatureLabels[] = {
    {6, kNidRsa, 0},        // rsaEncryption
    {19, kNidRsa, 0},       // X.500 rsa
    {7, kNidRsa, 3},        // md2WithRSAEncryption
    {396, kNidRsa, 257},    // md4WithRSAEncryption
    {8, kNidRsa, 4},        // md5WithRSAEncryption
    {104, kNidRsa, 4},      // md5WithRSA (OIW)
    {42, kNidRsa, 41},      // shaWithRSAEncryption (OIW)
    {65, kNidRsa, 64},      // sha1WithRSAEncryption
    {115, kNidRsa, 64},     // sha-1WithRSAEncryption (OIW)
    {96, kNidRsa, 95},      // mdc2WithRSASignature
    {119, kNidRsa, 117},    // ripemd160WithRSA
    {671, kNidRsa, 675},    // sha224WithRSAEncryption
    {668, kNidRsa, 672},    // sha256WithRSAEncryption
    {669, kNidRsa, 673},    // sha384WithRSAEncryption
    {670, kNidRsa, 674},    // sha512WithRSAEncryption
    {116, kNidDsa, 0},      // dsaEncryption
    {67, kNidDsa, 0},       // dsaEncryption-old (OIW)
    {66, kNidDsa, 41},      // dsaWithSHA (OIW)
    {70, kNidDsa, 64},      // dsaWithSHA1-old (OIW)
    {113, kNidDsa, 64},     // dsaWithSHA1
    {802, kNidDsa, 675},    // dsa_with_SHA224
    {803, kNidDsa, 672},    // dsa_with_SHA256
    {408, kNidEc, 0},       // id-ecPublicKey
    {791, kNidEc, 0},       // ecdsa-with-Recommended
    {792, kNidEc, 0},       // ecdsa-with-Specified
    {416, kNidEc, 64},      // ecdsa-with-SHA1
    {793, kNidEc, 675},     // ecdsa-with-SHA224
    {794, kNidEc, 672},     // ecdsa-with-SHA256
    {795, kNidEc, 673},     // ecdsa-with-SHA384
    {796, kNidEc, 674},     // ecdsa-with-SHA512
};
// clang-format on

const SignatureLabel* find_label(int nid) {
  for (const SignatureLabel& l : kSignatureLabels)
    if (l.nid == nid) return &l;
  return nullptr;
}

// Whether a signer's digestEncryptionAlgorithm fits its key and its
// digestAlgorithm (md_type): a label of the key's type, which when it names
// a digest names the signer's (a signature identifier that some writers
// put as the digestAlgorithm counts as its digest).  An RSA signature
// labelled as DSA, EC or RSASSA-PSS (which has no NID here) does not fit,
// nor sha256WithRSAEncryption over a SHA-1 digest.
bool algorithm_fits_key(const X509_ALGOR* alg, const EVP_PKEY* pkey, int md_type) {
  const SignatureLabel* label = alg != nullptr ? find_label(OBJ_obj2nid(alg->algorithm)) : nullptr;
  if (label == nullptr || label->key != EVP_PKEY_type(pkey->type)) return false;
  if (label->digest == 0) return true;
  const SignatureLabel* as_label = find_label(md_type);
  const int digest = as_label != nullptr ? as_label->digest : md_type;
  return digest == 0 || digest == label->digest;
}

// Encrypts the content key `key` to every recipient.
bool encrypt_key_to_recipients(STACK* rsk, const unsigned char* key, int keylen) {
  int max = 0;
  for (int i = 0; i < sk_num(rsk); i++) {
    auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, i));
    if (ri->cert == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATAINIT, PKCS7_R_MISSING_CERIPEND_INFO);
      return false;
    }
    EVP_PKEY* pkey = X509_get_pubkey(ri->cert);
    if (pkey == nullptr) return false;
    const int size = EVP_PKEY_size(pkey);
    EVP_PKEY_free(pkey);
    if (size > max) max = size;
  }
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(max)));
  if (buf == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATAINIT, ERR_R_MALLOC_FAILURE);
    return false;
  }
  bool ok = true;
  for (int i = 0; ok && i < sk_num(rsk); i++) {
    auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, i));
    EVP_PKEY* pkey = X509_get_pubkey(ri->cert);
    const int jj = pkey != nullptr ? EVP_PKEY_encrypt(buf, key, keylen, pkey) : 0;
    EVP_PKEY_free(pkey);
    if (jj < 1) {
      PKCS7err(PKCS7_F_PKCS7_DATAINIT, ERR_R_EVP_LIB);
      ok = false;
    } else if (!ASN1_STRING_set(ri->enc_key, buf, jj)) {
      PKCS7err(PKCS7_F_PKCS7_DATAINIT, ERR_R_MALLOC_FAILURE);
      ok = false;
    }
  }
  MORVANE_free(buf);
  return ok;
}

// A cipher filter in encrypt mode keyed with a fresh content key, the
// identifier `xalg` filled with the cipher and its IV, the key encrypted to
// every recipient of `rsk`.
BIO* make_encrypt_filter(const EVP_CIPHER* evp_cipher, X509_ALGOR* xalg, STACK* rsk) {
  BIO* btmp = BIO_new(BIO_f_cipher());
  if (btmp == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATAINIT, ERR_R_BIO_LIB);
    return nullptr;
  }
  EVP_CIPHER_CTX* ctx = nullptr;
  BIO_get_cipher_ctx(btmp, &ctx);
  unsigned char key[EVP_MAX_KEY_LENGTH];
  unsigned char iv[EVP_MAX_IV_LENGTH];
  const int keylen = EVP_CIPHER_key_length(evp_cipher);
  const int ivlen = EVP_CIPHER_iv_length(evp_cipher);
  bool ok = ctx != nullptr;
  if (ok) {
    ASN1_OBJECT_free(xalg->algorithm);
    xalg->algorithm = OBJ_nid2obj(EVP_CIPHER_type(evp_cipher));
  }
  if (ok && ivlen > 0) ok = RAND_pseudo_bytes(iv, ivlen) > 0;
  if (ok) ok = EVP_CipherInit_ex(ctx, evp_cipher, nullptr, nullptr, nullptr, 1) > 0;
  if (ok) ok = EVP_CIPHER_CTX_rand_key(ctx, key) > 0;
  if (ok) ok = EVP_CipherInit_ex(ctx, nullptr, nullptr, key, iv, 1) > 0;
  if (ok && ivlen > 0) {
    // A message without its IV would decrypt with the wrong one: the
    // parameters' writer fails with 0 when it cannot make them.
    if (xalg->parameter == nullptr && (xalg->parameter = ASN1_TYPE_new()) == nullptr) ok = false;
    if (ok && EVP_CIPHER_param_to_asn1(ctx, xalg->parameter) <= 0) ok = false;
    if (!ok) PKCS7err(PKCS7_F_PKCS7_DATAINIT, ERR_R_EVP_LIB);
  }
  if (ok) ok = encrypt_key_to_recipients(rsk, key, keylen);
  MORVANE_cleanse(key, sizeof key);
  if (!ok) {
    BIO_free(btmp);
    return nullptr;
  }
  return btmp;
}

// Whether a failed decryption of a key block is the block's doing: the RSA
// layer's padding check failed, or the block does not fit the key's modulus.
// Anything else (memory, a key the layer cannot use, a result it did not
// trust) says nothing about the block.
bool block_refused(unsigned long code) {
  if (ERR_GET_LIB(code) != ERR_LIB_RSA) return false;
  const int reason = ERR_GET_REASON(code);
  return reason == RSA_R_PADDING_CHECK_FAILED || reason == RSA_R_DATA_TOO_LARGE_FOR_MODULUS ||
         reason == RSA_R_DATA_GREATER_THAN_MOD_LEN;
}

// Decrypts one recipient's key block with `pkey` into `ek` (room for
// EVP_PKEY_size + 10 bytes): the key's length, or 0 or below for a block
// that does not open, whose entries are dropped (the caller's earlier
// entries and marks stay).  A decryption that failed otherwise (out of
// memory, above all) says nothing about the block: *failed is set, and what
// it queued stays.
int unwrap_key_quietly(const PKCS7_RECIP_INFO* ri, EVP_PKEY* pkey, unsigned char* ek,
                       bool* failed) {
  morvane::internal::ErrorMark mark;
  const morvane::internal::MallocFailureWatch watch;
  const int n = EVP_PKEY_decrypt(ek, ri->enc_key->data, ri->enc_key->length, pkey);
  // Every entry the call queued is looked at, whatever it returned.
  if (watch.seen() || (n < 0 && !watch.any(block_refused))) {
    *failed = true;
    return -1;
  }
  mark.pop();
  return n;
}

// Whether set_content_key tries the block of `ri`.
bool tried(const PKCS7_RECIP_INFO* ri, X509* pcert) {
  return pcert == nullptr || names_cert(ri->issuer_and_serial, pcert);
}

// A secret of this process, drawn on first use, for the substitutes of keys
// whose private exponent is not at hand (a key of CRT numbers only, or one
// that an engine or hardware holds).  Once set it never changes, so a reader
// that sees the flag set reads it without the lock.
constexpr size_t kProcessSecretLen = 32;
constinit unsigned char process_secret[kProcessSecretLen] = {};
constinit std::atomic<bool> process_secret_set{false};

// Copies the process secret to `out`, drawing it first when no call has:
// false, with nothing queued by this function, when the draw fails.  Two
// first calls may both draw; the first to take the lock sets the secret.
bool get_process_secret(unsigned char* out) {
  if (!process_secret_set.load(std::memory_order_acquire)) {
    unsigned char fresh[kProcessSecretLen];
    const morvane::internal::Wiper wiper(fresh);
    if (RAND_bytes(fresh, sizeof fresh) <= 0) return false;
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_RSA);
    if (!process_secret_set.load(std::memory_order_relaxed)) {
      memcpy(process_secret, fresh, sizeof fresh);
      process_secret_set.store(true, std::memory_order_release);
    }
  }
  memcpy(out, process_secret, kProcessSecretLen);
  return true;
}

// The substitute for a content key that no block gives (RFC 3218, 2.3.2):
// `keylen` bytes of HMAC-SHA-256 over the blocks that are tried (each with
// its length), in counter blocks, keyed by the private exponent of the RSA
// key `pkey`.  A key without its private exponent at hand keys it with the
// process secret instead, and the key's modulus is digested first in every
// block.  One message and one key give one substitute, so that submitting a
// message again tells nothing about its padding.  `scratch` holds RSA_size
// bytes.  False, with the reason queued, when memory, the random source or
// a digest step fails.
bool substitute_key(unsigned char* key, int keylen, STACK* rsk, EVP_PKEY* pkey, X509* pcert,
                    unsigned char* scratch) {
  const RSA* rsa = pkey->type == EVP_PKEY_RSA ? pkey->pkey.rsa : nullptr;
  const bool own_secret = rsa != nullptr && rsa->d != nullptr;
  unsigned char secret[kProcessSecretLen];
  const morvane::internal::Wiper wiper(secret);
  int secret_len = kProcessSecretLen;
  if (own_secret) {
    secret_len = BN_bn2bin(rsa->d, scratch);
  } else if (!get_process_secret(secret)) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_EVP_LIB);
    return false;
  }
  HMAC_CTX h;
  HMAC_CTX_init(&h);
  bool ok = HMAC_Init_ex(&h, own_secret ? scratch : secret, secret_len, EVP_sha256(), nullptr) != 0;
  if (own_secret)
    morvane::internal::wipe(scratch, static_cast<size_t>(secret_len > 0 ? secret_len : 0));
  // The modulus, public, tells apart the keys that share the process secret.
  const int nlen =
      !own_secret && rsa != nullptr && rsa->n != nullptr ? BN_bn2bin(rsa->n, scratch) : 0;
  unsigned char block[EVP_MAX_MD_SIZE];
  for (int done = 0, counter = 0; ok && done < keylen; counter++) {
    const unsigned char c = static_cast<unsigned char>(counter);
    ok = HMAC_Init_ex(&h, nullptr, 0, nullptr, nullptr) && HMAC_Update(&h, &c, 1) &&
         (nlen == 0 || HMAC_Update(&h, scratch, static_cast<size_t>(nlen)));
    for (int i = 0; ok && i < sk_num(rsk); i++) {
      const auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, i));
      if (!tried(ri, pcert)) continue;
      const auto len = static_cast<uint32_t>(ri->enc_key->length);
      const unsigned char be[4] = {
          static_cast<unsigned char>(len >> 24), static_cast<unsigned char>(len >> 16),
          static_cast<unsigned char>(len >> 8), static_cast<unsigned char>(len)};
      ok = HMAC_Update(&h, be, sizeof be) &&
           HMAC_Update(&h, ri->enc_key->data, static_cast<size_t>(ri->enc_key->length));
    }
    unsigned int got = 0;
    if (ok) ok = HMAC_Final(&h, block, &got) && got > 0;
    if (ok) {
      const int take =
          keylen - done < static_cast<int>(got) ? keylen - done : static_cast<int>(got);
      memcpy(key + done, block, static_cast<size_t>(take));
      done += take;
    }
  }
  morvane::internal::wipe(block, sizeof block);
  HMAC_CTX_cleanup(&h);
  if (!ok) PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_EVP_LIB);
  return ok;
}

// Keys the cipher context `ctx` (set up for decryption, its parameters
// read) with the content key of the recipients `rsk`: the first key block
// that decrypts with `pkey` to a key the cipher takes, among the recipients
// that `pcert` names (several may carry its issuer and serial) or, without
// `pcert`, among all (every such block is tried, so that the time does not
// tell which one opened).  The cipher takes a key of its context's length,
// and a key of another length when its key length varies (writers that use
// a longer RC2 key than its parameters give).
//
// When no block gives such a key, the context is keyed with the substitute
// of substitute_key instead (RFC 3218, 2.3.2): a block with bad padding then
// takes the same path as a well-padded one whose content does not decrypt,
// and both fail alike when the content is read, with nothing of the
// private-key layers on the error queue.  False when no recipient matches
// `pcert` and on failures that no key block causes (memory, digests, a
// decryption that failed for another reason than the block), with the
// reasons queued.
bool set_content_key(EVP_CIPHER_CTX* ctx, STACK* rsk, EVP_PKEY* pkey, X509* pcert) {
  if (pcert != nullptr) {
    bool named = false;
    for (int i = 0; !named && i < sk_num(rsk); i++)
      named = tried(reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, i)), pcert);
    if (!named) {
      PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_NO_RECIPIENT_MATCHES_CERTIFICATE);
      return false;
    }
  }
  const int keylen = EVP_CIPHER_CTX_key_length(ctx);
  const int size = EVP_PKEY_size(pkey);
  if (keylen < 1) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_DECRYPTED_KEY_IS_WRONG_LENGTH);
    return false;
  }
  if (size < 1 || size > INT_MAX / 2 - keylen - 10) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_MALLOC_FAILURE);
    return false;
  }
  // One block: the trial key, then the key kept (the substitute at first).
  const size_t trial_room = static_cast<size_t>(size) + 10;
  const size_t room = trial_room + (keylen > size + 10 ? static_cast<size_t>(keylen) : trial_room);
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(room));
  if (buf == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_MALLOC_FAILURE);
    return false;
  }
  unsigned char* trial = buf;
  unsigned char* key = buf + trial_room;
  bool ok = substitute_key(key, keylen, rsk, pkey, pcert, trial);
  const unsigned long flags = EVP_CIPHER_CTX_flags(ctx);
  const bool variable =
      (flags & EVP_CIPH_VARIABLE_LENGTH) != 0 && (flags & EVP_CIPH_CUSTOM_KEY_LENGTH) == 0;
  int taken = 0;  // the length of the key kept from a block, 0 for none
  bool failed = false;
  for (int i = 0; ok && i < sk_num(rsk); i++) {
    auto* ri = reinterpret_cast<PKCS7_RECIP_INFO*>(sk_value(rsk, i));
    if (!tried(ri, pcert)) continue;
    const int n = unwrap_key_quietly(ri, pkey, trial, &failed);
    if (failed) {
      PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_EVP_LIB);
      ok = false;
    } else if (taken == 0 && (n == keylen || (variable && n > 0))) {
      memcpy(key, trial, static_cast<size_t>(n));
      taken = n;
    }
  }
  if (ok && taken != 0 && taken != keylen && !EVP_CIPHER_CTX_set_key_length(ctx, taken)) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_DECRYPTED_KEY_IS_WRONG_LENGTH);
    ok = false;
  }
  if (ok) ok = EVP_CipherInit_ex(ctx, nullptr, nullptr, key, nullptr, 0) > 0;
  MORVANE_cleanse(buf, room);
  MORVANE_free(buf);
  return ok;
}

// Restarts `ctx` with the signer's digest over the DER SET OF its signed
// attributes, which is what the signature covers when it has them (RFC
// 2315, 9.3): false when the digest is unknown or the encoding fails.
bool digest_signed_attributes(EVP_MD_CTX* ctx, PKCS7_SIGNER_INFO* si, int md_type) {
  const EVP_MD* md = EVP_get_digestbyname(OBJ_nid2sn(md_type));
  unsigned char* abuf = nullptr;
  const int alen = md != nullptr ? ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr),
                                                 &abuf, &PKCS7_ATTR_VERIFY_it)
                                 : -1;
  const bool ok = alen > 0 && abuf != nullptr && EVP_DigestInit_ex(ctx, md, nullptr) &&
                  EVP_DigestUpdate(ctx, abuf, static_cast<size_t>(alen));
  MORVANE_free(abuf);
  return ok;
}

// Checks the signature of `si` with the key of `x509` over what `ctx`
// digested: 1, or -1 (a key that does not fit the signature's label, or a
// signature that does not verify) with the reason queued.
int verify_final(EVP_MD_CTX* ctx, PKCS7_SIGNER_INFO* si, X509* x509, int md_type,
                 EVP_PKEY* key) {
  EVP_PKEY* pkey = key;
  if (pkey != nullptr)
    CRYPTO_add(&pkey->references, 1, CRYPTO_LOCK_EVP_PKEY);
  else
    pkey = X509_get_pubkey(x509);
  if (pkey == nullptr) return -1;
  if (!algorithm_fits_key(si->digest_enc_alg, pkey, md_type)) {
    PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_ALGORITHM_MISMATCH);
    EVP_PKEY_free(pkey);
    return -1;
  }
  fit_digest_to_key(ctx, pkey);
  const int i = EVP_VerifyFinal(ctx, si->enc_digest->data,
                                static_cast<unsigned int>(si->enc_digest->length), pkey);
  EVP_PKEY_free(pkey);
  if (i <= 0) {
    PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_SIGNATURE_FAILURE);
    return -1;
  }
  return 1;
}

}  // namespace

/* see morvane/pkcs7.h */
BIO* PKCS7_dataInit(PKCS7* p7, BIO* bio) {
  clear_state(p7);
  STACK* md_sk = nullptr;
  STACK* rsk = nullptr;
  X509_ALGOR* xa = nullptr;
  X509_ALGOR* xalg = nullptr;
  const EVP_CIPHER* evp_cipher = nullptr;
  PKCS7* inner = nullptr;  // the inner content of signed and digested data
  const int nid = type_nid(p7);
  if (p7->d.ptr == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATAINIT, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
    return nullptr;
  }
  switch (nid) {
    case kNidSigned:
      md_sk = p7->d.sign->md_algs;
      inner = p7->d.sign->contents;
      break;
    case kNidSignedAndEnveloped:
      rsk = p7->d.signed_and_enveloped->recipientinfo;
      md_sk = p7->d.signed_and_enveloped->md_algs;
      xalg = p7->d.signed_and_enveloped->enc_data->algorithm;
      evp_cipher = p7->d.signed_and_enveloped->enc_data->cipher;
      if (evp_cipher == nullptr) {
        PKCS7err(PKCS7_F_PKCS7_DATAINIT, PKCS7_R_CIPHER_NOT_INITIALIZED);
        return nullptr;
      }
      break;
    case kNidEnveloped:
      rsk = p7->d.enveloped->recipientinfo;
      xalg = p7->d.enveloped->enc_data->algorithm;
      evp_cipher = p7->d.enveloped->enc_data->cipher;
      if (evp_cipher == nullptr) {
        PKCS7err(PKCS7_F_PKCS7_DATAINIT, PKCS7_R_CIPHER_NOT_INITIALIZED);
        return nullptr;
      }
      break;
    case kNidDigest:
      xa = p7->d.digest->md;
      inner = p7->d.digest->contents;
      break;
    default:
      PKCS7err(PKCS7_F_PKCS7_DATAINIT, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
      return nullptr;
  }
  ASN1_OCTET_STRING* os = get_octet_string(inner);

  BIO* out_bio = nullptr;
  if (!add_digest_filters(&out_bio, md_sk, PKCS7_F_PKCS7_BIO_ADD_DIGEST)) return nullptr;
  if (xa != nullptr && !bio_add_digest(&out_bio, xa, PKCS7_F_PKCS7_BIO_ADD_DIGEST)) {
    BIO_free_all(out_bio);
    return nullptr;
  }
  if (evp_cipher != nullptr) {
    BIO* btmp = make_encrypt_filter(evp_cipher, xalg, rsk);
    if (btmp == nullptr) {
      BIO_free_all(out_bio);
      return nullptr;
    }
    out_bio = out_bio == nullptr ? btmp : BIO_push(out_bio, btmp);
  }

  BIO* bottom = bio;
  if (bottom == nullptr) {
    if (nid == kNidSigned && content_absent(p7)) {
      bottom = BIO_new(BIO_s_null());
    } else if (os != nullptr && os->length > 0) {
      bottom = BIO_new_mem_buf(os->data, os->length);
    } else if (has_unwrapped_content(inner)) {
      bottom = new_content_octets_stream(inner, PKCS7_F_PKCS7_DATAINIT);
    } else {
      bottom = new_empty_mem();
    }
    if (bottom == nullptr) {
      BIO_free_all(out_bio);
      return nullptr;
    }
  }
  if (out_bio == nullptr) return bottom;
  BIO_push(out_bio, bottom);
  return out_bio;
}

/* see morvane/pkcs7.h */
BIO* PKCS7_dataDecode(PKCS7* p7, EVP_PKEY* pkey, BIO* in_bio, X509* pcert) {
  clear_state(p7);
  STACK* md_sk = nullptr;
  STACK* rsk = nullptr;
  X509_ALGOR* enc_alg = nullptr;
  ASN1_OCTET_STRING* data_body = nullptr;
  const EVP_CIPHER* evp_cipher = nullptr;
  PKCS7* inner = nullptr;  // the inner content of signed data
  const int nid = type_nid(p7);
  if (p7->d.ptr == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
    return nullptr;
  }
  PKCS7_ENC_CONTENT* ec = nullptr;
  switch (nid) {
    case kNidSigned:
      md_sk = p7->d.sign->md_algs;
      inner = p7->d.sign->contents;
      data_body = get_octet_string(inner);
      break;
    case kNidSignedAndEnveloped:
      md_sk = p7->d.signed_and_enveloped->md_algs;
      rsk = p7->d.signed_and_enveloped->recipientinfo;
      ec = p7->d.signed_and_enveloped->enc_data;
      break;
    case kNidEnveloped:
      rsk = p7->d.enveloped->recipientinfo;
      ec = p7->d.enveloped->enc_data;
      break;
    default:
      PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
      return nullptr;
  }
  if (ec != nullptr) {
    enc_alg = ec->algorithm;
    data_body = ec->enc_data;
    evp_cipher = EVP_get_cipherbyname(OBJ_nid2sn(OBJ_obj2nid(enc_alg->algorithm)));
    if (evp_cipher == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_UNSUPPORTED_CIPHER_TYPE);
      return nullptr;
    }
    // The content key is unwrapped with the recipient's private key.
    if (pkey == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_PASSED_NULL_PARAMETER);
      return nullptr;
    }
  }
  const bool detached = nid == kNidSigned && content_absent(p7);
  const bool unwrapped = data_body == nullptr && has_unwrapped_content(inner);
  if (!detached && in_bio == nullptr && data_body == nullptr && !unwrapped) {
    PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_NO_CONTENT);
    return nullptr;
  }

  BIO* out_bio = nullptr;
  if (!add_digest_filters(&out_bio, md_sk, PKCS7_F_PKCS7_DATADECODE)) return nullptr;

  if (evp_cipher != nullptr) {
    BIO* etmp = BIO_new(BIO_f_cipher());
    if (etmp == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATADECODE, ERR_R_BIO_LIB);
      BIO_free_all(out_bio);
      return nullptr;
    }
    EVP_CIPHER_CTX* evp_ctx = nullptr;
    BIO_get_cipher_ctx(etmp, &evp_ctx);
    bool ok = evp_ctx != nullptr;
    if (ok) ok = EVP_CipherInit_ex(evp_ctx, evp_cipher, nullptr, nullptr, nullptr, 0) > 0;
    // The parameters are read as the encoder writes them: only for a cipher
    // with an IV (a stream cipher such as RC4 has none to read).  A cipher
    // with an IV whose identifier carries no parameters has none to decrypt
    // with, and is refused rather than read with a zero IV.
    if (ok && EVP_CIPHER_iv_length(evp_cipher) > 0) {
      const int got = EVP_CIPHER_asn1_to_param(evp_ctx, enc_alg->parameter);
      ok = got > 0;
      if (got == 0) PKCS7err(PKCS7_F_PKCS7_DATADECODE, PKCS7_R_MISSING_CIPHER_IV);
    }
    if (ok) ok = set_content_key(evp_ctx, rsk, pkey, pcert);
    if (!ok) {
      BIO_free(etmp);
      BIO_free_all(out_bio);
      return nullptr;
    }
    out_bio = out_bio == nullptr ? etmp : BIO_push(out_bio, etmp);
  }

  BIO* bottom = nullptr;
  if (detached || in_bio != nullptr) {
    bottom = in_bio;
  } else if (unwrapped) {
    bottom = new_content_octets_stream(inner, PKCS7_F_PKCS7_DATADECODE);
  } else if (data_body->length > 0) {
    bottom = BIO_new_mem_buf(data_body->data, data_body->length);
  } else {
    bottom = new_empty_mem();
  }
  if (bottom == nullptr && !detached) {
    BIO_free_all(out_bio);
    return nullptr;
  }
  if (out_bio == nullptr) return bottom;
  if (bottom != nullptr) BIO_push(out_bio, bottom);
  return out_bio;
}

/* see morvane/pkcs7.h */
int PKCS7_dataFinal(PKCS7* p7, BIO* bio) {
  EVP_MD_CTX ctx_tmp;
  EVP_MD_CTX_init(&ctx_tmp);
  p7->state = 0;
  STACK* si_sk = nullptr;
  ASN1_OCTET_STRING* os = nullptr;
  const int nid = type_nid(p7);
  if (p7->d.ptr == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATAFINAL, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
    return 0;
  }
  PKCS7_ENC_CONTENT* ec = nullptr;
  PKCS7* inner = nullptr;
  switch (nid) {
    case kNidEnveloped:
      ec = p7->d.enveloped->enc_data;
      break;
    case kNidSignedAndEnveloped:
      si_sk = p7->d.signed_and_enveloped->signer_info;
      ec = p7->d.signed_and_enveloped->enc_data;
      break;
    case kNidSigned:
      si_sk = p7->d.sign->signer_info;
      inner = p7->d.sign->contents;
      break;
    case kNidDigest:
      inner = p7->d.digest->contents;
      break;
    default:
      PKCS7err(PKCS7_F_PKCS7_DATAFINAL, PKCS7_R_UNSUPPORTED_CONTENT_TYPE);
      return 0;
  }
  if (ec != nullptr) {
    if ((os = ASN1_OCTET_STRING_new()) == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATAFINAL, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    ASN1_OCTET_STRING_free(ec->enc_data);
    ec->enc_data = os;
  } else {
    os = get_octet_string(inner);
    if (os != nullptr && p7->detached && type_nid(inner) == kNidData) {
      ASN1_OCTET_STRING_free(os);
      inner->d.data = nullptr;
      os = nullptr;
    }
  }

  bool ok = true;
  BUF_MEM* buf = nullptr;
  if (si_sk != nullptr) {
    if ((buf = BUF_MEM_new()) == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATAFINAL, ERR_R_BIO_LIB);
      ok = false;
    }
    for (int i = 0; ok && i < sk_num(si_sk); i++) {
      auto* si = reinterpret_cast<PKCS7_SIGNER_INFO*>(sk_value(si_sk, i));
      if (si->pkey == nullptr) continue;
      EVP_MD_CTX* mdc = nullptr;
      if (find_digest(&mdc, bio, OBJ_obj2nid(si->digest_alg->algorithm)) == nullptr ||
          !EVP_MD_CTX_copy_ex(&ctx_tmp, mdc)) {
        ok = false;
        break;
      }
      if (!BUF_MEM_grow_clean(buf, EVP_PKEY_size(si->pkey))) {
        PKCS7err(PKCS7_F_PKCS7_DATAFINAL, ERR_R_BIO_LIB);
        ok = false;
        break;
      }
      if (has_signed_attributes(si)) {
        // The attributes name the content's type (RFC 5652, 11.1) and the
        // time of signing (11.3: UTCTime for 1950-2049, GeneralizedTime
        // outside), and carry the content's digest.
        const ASN1_OBJECT* type = signed_content_type(p7);
        if (type != nullptr && PKCS7_get_signed_attribute(si, kNidContentType) == nullptr &&
            !add_signed_value(si, kNidContentType, ASN1_UT_OBJECT, OBJ_dup(type),
                              ASN1_OBJECT_free)) {
          ok = false;
          break;
        }
        if (PKCS7_get_signed_attribute(si, kNidSigningTime) == nullptr) {
          ASN1_TIME* sign_time = ASN1_TIME_set(nullptr, time(nullptr));
          if (!add_signed_value(si, kNidSigningTime, sign_time != nullptr ? sign_time->type : 0,
                                sign_time, ASN1_TIME_free)) {
            ok = false;
            break;
          }
        }
        unsigned char md_data[EVP_MAX_MD_SIZE];
        unsigned int md_len = 0;
        const EVP_MD* md = EVP_MD_CTX_md(&ctx_tmp);
        EVP_DigestFinal_ex(&ctx_tmp, md_data, &md_len);
        ASN1_OCTET_STRING* digest = ASN1_OCTET_STRING_new();
        if (digest != nullptr &&
            !ASN1_OCTET_STRING_set(digest, md_data, static_cast<int>(md_len))) {
          ASN1_OCTET_STRING_free(digest);
          digest = nullptr;
        }
        if (!add_signed_value(si, kNidMessageDigest, ASN1_UT_OCTET_STRING, digest,
                              ASN1_OCTET_STRING_free)) {
          ok = false;
          break;
        }
        // The signature covers the DER SET OF the attributes, which also
        // puts the stack into the order the message carries.
        EVP_DigestInit_ex(&ctx_tmp, md, nullptr);
        unsigned char* abuf = nullptr;
        const int alen = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(si->auth_attr), &abuf,
                                       &PKCS7_ATTR_SIGN_it);
        if (alen <= 0 || abuf == nullptr) {
          ok = false;
          break;
        }
        EVP_DigestUpdate(&ctx_tmp, abuf, static_cast<size_t>(alen));
        MORVANE_free(abuf);
      }
      fit_digest_to_key(&ctx_tmp, si->pkey);
      unsigned int siglen = static_cast<unsigned int>(buf->length);
      if (!EVP_SignFinal(&ctx_tmp, reinterpret_cast<unsigned char*>(buf->data), &siglen,
                         si->pkey)) {
        PKCS7err(PKCS7_F_PKCS7_DATAFINAL, ERR_R_EVP_LIB);
        ok = false;
        break;
      }
      if (!ASN1_STRING_set(si->enc_digest, buf->data, static_cast<int>(siglen))) {
        PKCS7err(PKCS7_F_PKCS7_DATAFINAL, ERR_R_ASN1_LIB);
        ok = false;
        break;
      }
    }
  } else if (nid == kNidDigest) {
    unsigned char md_data[EVP_MAX_MD_SIZE];
    unsigned int md_len = 0;
    EVP_MD_CTX* mdc = nullptr;
    if (find_digest(&mdc, bio, OBJ_obj2nid(p7->d.digest->md->algorithm)) == nullptr ||
        !EVP_DigestFinal_ex(mdc, md_data, &md_len) ||
        !ASN1_OCTET_STRING_set(p7->d.digest->digest, md_data, static_cast<int>(md_len)))
      ok = false;
  }

  if (ok && os != nullptr && !(nid == kNidSigned && PKCS7_get_detached(p7))) {
    BIO* mem = bio != nullptr ? BIO_find_type(bio, BIO_TYPE_MEM) : nullptr;
    if (mem == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_DATAFINAL, PKCS7_R_UNABLE_TO_FIND_MEM_BIO);
      ok = false;
    } else {
      BUF_MEM* bm = nullptr;
      BIO_get_mem_ptr(mem, &bm);
      if (bm != nullptr && reinterpret_cast<char*>(os->data) != bm->data) {
        // The octet string takes the stream's bytes over; the stream, now
        // read-only, no longer frees them.
        BIO_set_flags(mem, BIO_FLAGS_MEM_RDONLY);
        BIO_set_mem_eof_return(mem, 0);
        ASN1_STRING_set0(os, bm->data, bm->length);
      }
    }
  }
  EVP_MD_CTX_cleanup(&ctx_tmp);
  BUF_MEM_free(buf);
  return ok ? 1 : 0;
}

/* see morvane/pkcs7.h */
int PKCS7_signatureVerify(BIO* bio, PKCS7* p7, PKCS7_SIGNER_INFO* si, X509* x509) {
  return signature_verify(bio, p7, si, x509, false);
}

namespace morvane::pkcs7 {

bool key_lacks_parameters(X509* x509) {
  EVP_PKEY* own = X509_get_pubkey(x509);
  const bool lacks = own != nullptr && EVP_PKEY_missing_parameters(own);
  EVP_PKEY_free(own);
  return lacks;
}

int signature_verify(BIO* bio, PKCS7* p7, PKCS7_SIGNER_INFO* si, X509* x509,
                     bool attributes_verified, EVP_PKEY* key) {
  if (signed_part(p7) == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_WRONG_PKCS7_TYPE);
    return 0;
  }
  const int md_type = OBJ_obj2nid(si->digest_alg->algorithm);
  EVP_MD_CTX* mdc = nullptr;
  for (BIO* btmp = bio;; btmp = BIO_next(btmp)) {
    btmp = btmp != nullptr ? BIO_find_type(btmp, BIO_TYPE_MD) : nullptr;
    if (btmp == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST);
      return 0;
    }
    BIO_get_md_ctx(btmp, &mdc);
    if (mdc == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, ERR_R_INTERNAL_ERROR);
      return 0;
    }
    const EVP_MD* md = EVP_MD_CTX_md(mdc);
    if (md != nullptr && (EVP_MD_type(md) == md_type || EVP_MD_pkey_type(md) == md_type)) break;
  }

  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  int ret = 0;
  if (!EVP_MD_CTX_copy_ex(&ctx, mdc)) {
    EVP_MD_CTX_cleanup(&ctx);
    return 0;
  }
  if (has_signed_attributes(si)) {
    const int type_ok = check_content_type(p7, si);
    if (type_ok <= 0) {
      EVP_MD_CTX_cleanup(&ctx);
      return type_ok;
    }
    unsigned char md_dat[EVP_MAX_MD_SIZE];
    unsigned int md_len = 0;
    EVP_DigestFinal_ex(&ctx, md_dat, &md_len);
    if (!single_message_digest(si)) {
      PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DUPLICATE_MESSAGE_DIGEST);
      EVP_MD_CTX_cleanup(&ctx);
      return -1;
    }
    ASN1_OCTET_STRING* message_digest = PKCS7_digest_from_attributes(si->auth_attr);
    if (message_digest == nullptr) {
      PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_UNABLE_TO_FIND_MESSAGE_DIGEST);
      EVP_MD_CTX_cleanup(&ctx);
      return 0;
    }
    if (message_digest->length != static_cast<int>(md_len) ||
        memcmp(message_digest->data, md_dat, md_len) != 0) {
      PKCS7err(PKCS7_F_PKCS7_SIGNATUREVERIFY, PKCS7_R_DIGEST_FAILURE);
      EVP_MD_CTX_cleanup(&ctx);
      return -1;
    }
    if (attributes_verified || !digest_signed_attributes(&ctx, si, md_type)) {
      EVP_MD_CTX_cleanup(&ctx);
      return attributes_verified ? 1 : 0;
    }
  }
  ret = verify_final(&ctx, si, x509, md_type, key);
  EVP_MD_CTX_cleanup(&ctx);
  return ret;
}

}  // namespace morvane::pkcs7

/* see morvane/pkcs7.h */
int PKCS7_dataVerify(X509_STORE* cert_store, X509_STORE_CTX* ctx, BIO* bio, PKCS7* p7,
                     PKCS7_SIGNER_INFO* si) {
  PKCS7_SIGNED* s = signed_part(p7);
  if (s == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATAVERIFY, PKCS7_R_WRONG_PKCS7_TYPE);
    return 0;
  }
  PKCS7_ISSUER_AND_SERIAL* ias = si->issuer_and_serial;
  X509* x509 = X509_find_by_issuer_and_serial(s->cert, ias->issuer, ias->serial);
  if (x509 == nullptr) {
    PKCS7err(PKCS7_F_PKCS7_DATAVERIFY, PKCS7_R_UNABLE_TO_FIND_CERTIFICATE);
    return 0;
  }
  if (!X509_STORE_CTX_init(ctx, cert_store, x509, s->cert)) {
    PKCS7err(PKCS7_F_PKCS7_DATAVERIFY, ERR_R_X509_LIB);
    return 0;
  }
  X509_STORE_CTX_set_purpose(ctx, 4);  // S/MIME signing
  const int i = X509_verify_cert(ctx);
  if (i <= 0) {
    PKCS7err(PKCS7_F_PKCS7_DATAVERIFY, ERR_R_X509_LIB);
    X509_STORE_CTX_cleanup(ctx);
    return 0;
  }
  // A signer's key without parameters takes them from the chain verified.
  EVP_PKEY* lent = morvane::pkcs7::key_lacks_parameters(x509)
                       ? morvane::x509::chain_leaf_key(X509_STORE_CTX_get_chain(ctx))
                       : nullptr;
  X509_STORE_CTX_cleanup(ctx);
  const int ret = morvane::pkcs7::signature_verify(bio, p7, si, x509, false, lent);
  EVP_PKEY_free(lent);
  return ret;
}

namespace morvane::pkcs7 {

int verify_attribute_signature(PKCS7_SIGNER_INFO* si, X509* x509, EVP_PKEY* key) {
  const int md_type = OBJ_obj2nid(si->digest_alg->algorithm);
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  const int ret = digest_signed_attributes(&ctx, si, md_type)
                      ? verify_final(&ctx, si, x509, md_type, key)
                      : 0;
  EVP_MD_CTX_cleanup(&ctx);
  return ret;
}

}  // namespace morvane::pkcs7
