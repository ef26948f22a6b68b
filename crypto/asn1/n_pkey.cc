// The legacy Netscape format of an RSA private key under a pass phrase: the
// key's DER in a small record, encrypted with RC4 under a key made from the
// pass phrase with MD5, behind the label "private-key".
//
// Implementation notes: every buffer that holds the key in the clear (the
// key's DER, the inner record's DER before encryption and after decryption),
// the pass phrase and the RC4 key is wiped before it is released, on every
// path.  The pass phrase is taken from at most 255 bytes of its buffer, so a
// callback that fills all of it without a terminating zero is still read
// within the buffer.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

#include "internal/wipe.h"

ASN1_SEQUENCE(NETSCAPE_PKEY) = {
    ASN1_SIMPLE(NETSCAPE_PKEY, version, LONG),
    ASN1_SIMPLE(NETSCAPE_PKEY, algor, X509_ALGOR),
    ASN1_SIMPLE(NETSCAPE_PKEY, private_key, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(NETSCAPE_PKEY);

// Stored records were written with a wrong outer length: the outer
// SEQUENCE's length is not held against its content.
ASN1_BROKEN_SEQUENCE(NETSCAPE_ENCRYPTED_PKEY) = {
    ASN1_SIMPLE(NETSCAPE_ENCRYPTED_PKEY, os, ASN1_OCTET_STRING),
    ASN1_SIMPLE(NETSCAPE_ENCRYPTED_PKEY, enckey, X509_SIG),
} ASN1_BROKEN_SEQUENCE_END(NETSCAPE_ENCRYPTED_PKEY);

namespace {

using PassCallback = int (*)(char* buf, int len, const char* prompt, int verify);

constexpr int kNidRsaEncryption = 6;
constexpr int kNidRc4 = 5;
constexpr char kLabel[] = "private-key";
constexpr int kLabelLen = 11;
constexpr char kPrompt[] = "Enter Private Key password:";
constexpr char kSalt[] = "PLOVRAKTEN";  // the salted form's fixed salt
constexpr int kSaltLen = 10;
constexpr int kPassLen = 256;  // the pass-phrase buffer
constexpr int kRc4KeyLen = 16;

// Asks for the pass phrase into `buf` (kPassLen bytes) and terminates it
// within the buffer; false (with "bad password read") when the source fails.
bool read_pass(PassCallback cb, char* buf, int verify, int func) {
  if (cb == nullptr) cb = EVP_read_pw_string;
  buf[0] = '\0';
  if (cb(buf, kPassLen, kPrompt, verify) != 0) {
    ASN1err(func, ASN1_R_BAD_PASSWORD_READ);
    return false;
  }
  buf[kPassLen - 1] = '\0';
  return true;
}

// The RC4 key of a pass phrase: EVP_BytesToKey(RC4, MD5, no salt, data, 1
// round) over the pass phrase, or in the salted form over its MD5 digest and
// the salt.  The pass phrase is wiped here.
bool derive_key(char* pass, int sgckey, unsigned char key[kRc4KeyLen]) {
  const auto* data = reinterpret_cast<const unsigned char*>(pass);
  size_t len = strlen(pass);
  unsigned char salted[EVP_MAX_MD_SIZE + kSaltLen];
  morvane::internal::Wiper wipe_salted(salted);
  bool ok = true;
  if (sgckey) {
    unsigned int mdlen = 0;
    ok = EVP_Digest(pass, len, salted, &mdlen, EVP_md5(), nullptr) != 0;
    memcpy(salted + mdlen, kSalt, kSaltLen);
    data = salted;
    len = mdlen + kSaltLen;
  }
  ok = ok && EVP_BytesToKey(EVP_rc4(), EVP_md5(), nullptr, data, static_cast<int>(len), 1, key,
                            nullptr) == kRc4KeyLen;
  morvane::internal::wipe(pass, kPassLen);
  return ok;
}

// RC4 over the `len` bytes at `data`, in place.
bool rc4_in_place(const unsigned char key[kRc4KeyLen], unsigned char* data, int len) {
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  int outl = 0, finl = 0;
  const bool ok = EVP_EncryptInit_ex(&ctx, EVP_rc4(), nullptr, key, nullptr) &&
                  EVP_EncryptUpdate(&ctx, data, &outl, data, len) &&
                  EVP_EncryptFinal_ex(&ctx, data + outl, &finl);
  EVP_CIPHER_CTX_cleanup(&ctx);
  return ok;
}

// Sets `alg` to the algorithm of `nid` with a NULL parameter.
bool set_algor(X509_ALGOR* alg, int nid) {
  ASN1_OBJECT* obj = OBJ_nid2obj(nid);
  return obj != nullptr && X509_ALGOR_set0(alg, obj, ASN1_UT_NULL, nullptr);
}

// Wipes a string's bytes (its terminating zero included) before it is freed.
void wipe_string(ASN1_STRING* s) {
  if (s != nullptr && s->data != nullptr) morvane::internal::wipe(s->data, s->length + 1u);
}

// Decrypts the octets of `os` in place and decodes the key they hold.
RSA* d2i_RSA_NET_2(RSA** a, ASN1_OCTET_STRING* os, PassCallback cb, int sgckey) {
  char pass[kPassLen];
  morvane::internal::Wiper wipe_pass(pass);
  if (!read_pass(cb, pass, 0, ASN1_F_D2I_RSA_NET_2)) return nullptr;
  unsigned char key[kRc4KeyLen];
  morvane::internal::Wiper wipe_key(key);
  if (!derive_key(pass, sgckey, key) || !rc4_in_place(key, os->data, os->length)) return nullptr;
  // The inner record's version and algorithm are not looked at.
  const unsigned char* p = os->data;
  NETSCAPE_PKEY* pkey = d2i_NETSCAPE_PKEY(nullptr, &p, os->length);
  wipe_string(os);
  if (pkey == nullptr) {
    ASN1err(ASN1_F_D2I_RSA_NET_2, ASN1_R_UNABLE_TO_DECODE_RSA_PRIVATE_KEY);
    return nullptr;
  }
  const unsigned char* k = pkey->private_key->data;
  RSA* ret = d2i_RSAPrivateKey(a, &k, pkey->private_key->length);
  if (ret == nullptr) ASN1err(ASN1_F_D2I_RSA_NET_2, ASN1_R_UNABLE_TO_DECODE_RSA_KEY);
  wipe_string(pkey->private_key);
  NETSCAPE_PKEY_free(pkey);
  return ret;
}

}  // namespace

/* see morvane/x509.h */
int i2d_RSA_NET(const RSA* a, unsigned char** out, PassCallback cb, int sgckey) {
  if (a == nullptr) return 0;
  int ret = 0;
  NETSCAPE_PKEY* pkey = NETSCAPE_PKEY_new();
  NETSCAPE_ENCRYPTED_PKEY* enc = NETSCAPE_ENCRYPTED_PKEY_new();
  char pass[kPassLen];
  morvane::internal::Wiper wipe_pass(pass);
  unsigned char key[kRc4KeyLen];
  morvane::internal::Wiper wipe_key(key);
  int keylen = 0, pkeylen = 0;
  ASN1_OCTET_STRING* inner = nullptr;  // the inner record's DER, then its ciphertext
  if (pkey == nullptr || enc == nullptr || !set_algor(pkey->algor, kNidRsaEncryption) ||
      !set_algor(enc->enckey->algor, kNidRc4))
    goto done;
  pkey->version = 0;
  // The sizes: the key's DER, the inner record around it (which RC4 leaves
  // as long as it is), and the label.  The item encoder takes the key as
  // non-const but leaves it unchanged.
  if ((keylen = i2d_RSAPrivateKey(const_cast<RSA*>(a), nullptr)) <= 0) goto done;
  if (!ASN1_STRING_set(pkey->private_key, nullptr, keylen)) {
    ASN1err(ASN1_F_I2D_RSA_NET, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (out != nullptr) {
    unsigned char* p = pkey->private_key->data;
    if (i2d_RSAPrivateKey(const_cast<RSA*>(a), &p) != keylen) goto done;
  }
  inner = enc->enckey->digest;
  if ((pkeylen = i2d_NETSCAPE_PKEY(pkey, nullptr)) <= 0) goto done;
  if (!ASN1_STRING_set(inner, nullptr, pkeylen) ||
      !ASN1_STRING_set(enc->os, kLabel, kLabelLen)) {
    ASN1err(ASN1_F_I2D_RSA_NET, ERR_R_MALLOC_FAILURE);
    goto done;
  }
  if (out == nullptr) {  // measuring: no pass phrase
    ret = i2d_NETSCAPE_ENCRYPTED_PKEY(enc, nullptr);
    goto done;
  }
  {
    unsigned char* p = inner->data;
    if (i2d_NETSCAPE_PKEY(pkey, &p) != pkeylen) goto done;
  }
  wipe_string(pkey->private_key);
  if (!read_pass(cb, pass, 1, ASN1_F_I2D_RSA_NET) || !derive_key(pass, sgckey, key) ||
      !rc4_in_place(key, inner->data, pkeylen))
    goto done;
  ret = i2d_NETSCAPE_ENCRYPTED_PKEY(enc, out);
  if (ret < 0) ret = 0;
done:
  if (pkey != nullptr) wipe_string(pkey->private_key);
  // Cleared as well when the record was not encrypted.
  wipe_string(inner);
  NETSCAPE_PKEY_free(pkey);
  NETSCAPE_ENCRYPTED_PKEY_free(enc);
  return ret;
}

/* see morvane/x509.h */
int i2d_Netscape_RSA(const RSA* a, unsigned char** out, PassCallback cb) {
  return i2d_RSA_NET(a, out, cb, 0);
}

/* see morvane/x509.h */
RSA* d2i_RSA_NET(RSA** a, const unsigned char** in, long len, PassCallback cb, int sgckey) {
  if (in == nullptr) {
    ASN1err(ASN1_F_D2I_RSA_NET, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  const unsigned char* p = *in;
  NETSCAPE_ENCRYPTED_PKEY* enc = d2i_NETSCAPE_ENCRYPTED_PKEY(nullptr, &p, len);
  if (enc == nullptr) {
    ASN1err(ASN1_F_D2I_RSA_NET, ASN1_R_DECODING_ERROR);
    return nullptr;
  }
  RSA* ret = nullptr;
  if (enc->os->length != kLabelLen || memcmp(enc->os->data, kLabel, kLabelLen) != 0) {
    ASN1err(ASN1_F_D2I_RSA_NET, ASN1_R_PRIVATE_KEY_HEADER_MISSING);
  } else if (OBJ_obj2nid(enc->enckey->algor->algorithm) != kNidRc4) {
    ASN1err(ASN1_F_D2I_RSA_NET, ASN1_R_UNSUPPORTED_ENCRYPTION_ALGORITHM);
  } else if ((ret = d2i_RSA_NET_2(a, enc->enckey->digest, cb, sgckey)) != nullptr) {
    *in = p;
  }
  NETSCAPE_ENCRYPTED_PKEY_free(enc);
  return ret;
}

/* see morvane/x509.h */
RSA* d2i_Netscape_RSA(RSA** a, const unsigned char** in, long len, PassCallback cb) {
  return d2i_RSA_NET(a, in, len, cb, 0);
}
