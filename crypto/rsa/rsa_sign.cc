// PKCS#1 v1.5 signatures (RFC 8017, 8.2): a DigestInfo, or the bare MD5 and
// SHA-1 pair of MD5-SHA1, or a DER OCTET STRING, in a type 1 block under the
// private key.
//
// Implementation notes: the verifying side decodes what the public key
// recovers with the tolerant template decoder and then insists that the
// value encodes back (in DER) to exactly the recovered bytes.  The decoder
// alone would pass long-form and indefinite lengths, padded integers and
// bytes after the value, each of which lets a forger or a mauler vary a
// valid signature (Bleichenbacher's 2006 attack on small exponents lives in
// such slack).  An absent DigestInfo parameter encodes back to itself, so a
// DigestInfo without the NULL stays accepted.

#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/x509.h>

#include "internal/wipe.h"
#include "rsa/internal.h"

namespace {

constexpr int kNidMd2 = 3;
constexpr int kNidMd5 = 4;
constexpr int kNidMd2WithRsa = 7;
constexpr int kNidMd5WithRsa = 8;
constexpr int kNidMd5Sha1 = 114;
constexpr unsigned kMd5Sha1Length = 36;

// A heap buffer of `size` bytes, wiped over its whole size and freed when the
// scope ends.
class Buffer {
 public:
  explicit Buffer(size_t size) noexcept
      : size_(size), p_(static_cast<unsigned char*>(MORVANE_malloc(size))) {}
  ~Buffer() {
    morvane::internal::wipe(p_, size_);
    MORVANE_free(p_);
  }
  Buffer(const Buffer&) = delete;
  Buffer& operator=(const Buffer&) = delete;
  unsigned char* get() const noexcept { return p_; }

 private:
  size_t size_;
  unsigned char* p_;
};

// Signs the `len` bytes of `block` with padding type 1; 1 with *siglen set,
// or 0.
int sign_block(const unsigned char* block, int len, unsigned char* sigret, unsigned int* siglen,
               RSA* rsa) {
  const int n = RSA_private_encrypt(len, block, sigret, rsa, RSA_PKCS1_PADDING);
  if (n <= 0) return 0;
  *siglen = static_cast<unsigned int>(n);
  return 1;
}

// Signs the DER encoding of `value` (by `encode`) when it fits in a type 1
// block of the key; reasons under `func`.  The block is wiped and freed.
template <class T, class Encode>
int sign_der(T* value, Encode encode, unsigned char* sigret, unsigned int* siglen, RSA* rsa,
             int func) {
  const int k = RSA_size(rsa);
  const int len = encode(value, nullptr);
  if (len <= 0) return 0;
  if (len > k - RSA_PKCS1_PADDING_SIZE) {
    RSAerr(func, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY);
    return 0;
  }
  Buffer block(static_cast<size_t>(k) + 1);
  if (block.get() == nullptr) {
    RSAerr(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  unsigned char* p = block.get();
  if (encode(value, &p) != len) return 0;
  return sign_block(block.get(), len, sigret, siglen, rsa);
}

// True when the value that `der` encodes to is exactly the `len` bytes at
// `got`: DER, and nothing after it.
template <class T, class Encode>
bool encodes_back(T* value, Encode encode, const unsigned char* got, int len) {
  unsigned char* der = nullptr;
  const int n = encode(value, &der);
  const bool same = n == len && der != nullptr && memcmp(der, got, static_cast<size_t>(n)) == 0;
  if (der != nullptr) {
    morvane::internal::wipe(der, n > 0 ? static_cast<size_t>(n) : 0);
    MORVANE_free(der);
  }
  return same;
}

// memcmp that accepts null pointers for zero lengths.
bool same_bytes(const unsigned char* a, const unsigned char* b, size_t n) {
  return n == 0 || memcmp(a, b, n) == 0;
}

// Recovers the type 1 block of a signature into `buf` (room for siglen
// bytes); its length, or 0 or less.
int recover(const unsigned char* sigbuf, unsigned int siglen, unsigned char* buf, RSA* rsa) {
  return RSA_public_decrypt(static_cast<int>(siglen), sigbuf, buf, rsa, RSA_PKCS1_PADDING);
}

// The DER DigestInfo of m under dtype's algorithm with a NULL parameter, the
// form RSA_sign writes, built into out (room bytes); its length, or 0 when
// dtype has no object identifier or the encoding does not fit.  Every length
// stays below 128, so each header is two octets.
size_t expected_digest_info(int dtype, const unsigned char* m, unsigned int m_length,
                            unsigned char* out, size_t room) {
  const ASN1_OBJECT* obj = OBJ_nid2obj(dtype);
  if (obj == nullptr || obj->data == nullptr || obj->length <= 0) return 0;
  const size_t oid = static_cast<size_t>(obj->length);
  const size_t algor = 2 + oid + 2;        // OBJECT IDENTIFIER, NULL
  const size_t inner = 2 + algor + 2 + m_length;  // SEQUENCE, OCTET STRING
  if (oid > 127 || algor > 127 || m_length > 127 || inner > 127 || 2 + inner > room) return 0;
  unsigned char* p = out;
  *p++ = 0x30;
  *p++ = static_cast<unsigned char>(inner);
  *p++ = 0x30;
  *p++ = static_cast<unsigned char>(algor);
  *p++ = 0x06;
  *p++ = static_cast<unsigned char>(oid);
  memcpy(p, obj->data, oid);
  p += oid;
  *p++ = 0x05;
  *p++ = 0x00;
  *p++ = 0x04;
  *p++ = static_cast<unsigned char>(m_length);
  memcpy(p, m, m_length);
  return 2 + inner;
}

}  // namespace


/* see morvane/rsa.h */
int RSA_sign(int type, const unsigned char* m, unsigned int m_length, unsigned char* sigret,
             unsigned int* siglen, RSA* rsa) {
  if ((rsa->flags & RSA_FLAG_SIGN_VER) != 0 && rsa->meth->rsa_sign != nullptr)
    return rsa->meth->rsa_sign(type, m, m_length, sigret, siglen, rsa);
  const int k = RSA_size(rsa);
  if (type == kNidMd5Sha1) {
    if (m_length != kMd5Sha1Length) {
      RSAerr(RSA_F_RSA_SIGN, RSA_R_INVALID_MESSAGE_LENGTH);
      return 0;
    }
    if (static_cast<int>(kMd5Sha1Length) > k - RSA_PKCS1_PADDING_SIZE) {
      RSAerr(RSA_F_RSA_SIGN, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY);
      return 0;
    }
    return sign_block(m, static_cast<int>(kMd5Sha1Length), sigret, siglen, rsa);
  }
  ASN1_OBJECT* obj = OBJ_nid2obj(type);
  if (obj == nullptr) {
    RSAerr(RSA_F_RSA_SIGN, RSA_R_UNKNOWN_ALGORITHM_TYPE);
    return 0;
  }
  if (obj->length == 0) {
    RSAerr(RSA_F_RSA_SIGN, RSA_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD);
    return 0;
  }
  // A digest longer than the modulus cannot fit whatever its DigestInfo; the
  // test also keeps its length within an int.
  if (m_length > static_cast<unsigned int>(k)) {
    RSAerr(RSA_F_RSA_SIGN, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY);
    return 0;
  }
  ASN1_TYPE parameter{};
  parameter.type = ASN1_UT_NULL;
  X509_ALGOR algor{obj, &parameter};
  ASN1_OCTET_STRING digest{static_cast<int>(m_length), ASN1_UT_OCTET_STRING,
                           const_cast<unsigned char*>(m), 0};
  X509_SIG sig{&algor, &digest};
  return sign_der(&sig, i2d_X509_SIG, sigret, siglen, rsa, RSA_F_RSA_SIGN);
}

/* see morvane/rsa.h */
int RSA_verify(int dtype, const unsigned char* m, unsigned int m_length,
               const unsigned char* sigbuf, unsigned int siglen, RSA* rsa) {
  if (siglen != static_cast<unsigned int>(RSA_size(rsa)) || siglen == 0) {
    RSAerr(RSA_F_RSA_VERIFY, RSA_R_WRONG_SIGNATURE_LENGTH);
    return 0;
  }
  if ((rsa->flags & RSA_FLAG_SIGN_VER) != 0 && rsa->meth->rsa_verify != nullptr)
    return rsa->meth->rsa_verify(dtype, m, m_length, sigbuf, siglen, rsa);
  Buffer buf(siglen);
  if (buf.get() == nullptr) {
    RSAerr(RSA_F_RSA_VERIFY, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (dtype == kNidMd5Sha1 && m_length != kMd5Sha1Length) {
    RSAerr(RSA_F_RSA_VERIFY, RSA_R_INVALID_MESSAGE_LENGTH);
    return 0;
  }
  const int len = recover(sigbuf, siglen, buf.get(), rsa);
  if (len <= 0) return 0;
  if (dtype == kNidMd5Sha1) {
    if (len != static_cast<int>(kMd5Sha1Length) || !same_bytes(m, buf.get(), kMd5Sha1Length)) {
      RSAerr(RSA_F_RSA_VERIFY, RSA_R_BAD_SIGNATURE);
      return 0;
    }
    return 1;
  }
  // The usual case first: the recovered block is exactly the DigestInfo
  // RSA_sign writes (the decoding below accepts that and no other form with
  // a NULL parameter), found without building the structure.
  unsigned char want[160];
  const size_t want_len = expected_digest_info(dtype, m, m_length, want, sizeof want);
  if (want_len != 0 && want_len == static_cast<size_t>(len) && same_bytes(want, buf.get(), want_len))
    return 1;
  const unsigned char* p = buf.get();
  X509_SIG* sig = d2i_X509_SIG(nullptr, &p, len);
  if (sig == nullptr) return 0;
  int ret = 0;
  const ASN1_TYPE* param = sig->algor->parameter;
  if (p != buf.get() + len || (param != nullptr && param->type != ASN1_UT_NULL) ||
      !encodes_back(sig, i2d_X509_SIG, buf.get(), len)) {
    RSAerr(RSA_F_RSA_VERIFY, RSA_R_BAD_SIGNATURE);
  } else {
    const int nid = OBJ_obj2nid(sig->algor->algorithm);
    bool same_algorithm = nid == dtype;
    if (!same_algorithm && ((dtype == kNidMd5 && nid == kNidMd5WithRsa) ||
                            (dtype == kNidMd2 && nid == kNidMd2WithRsa))) {
      fputs("signature has problems, re-make with post Quorix045\n", stderr);
      same_algorithm = true;
    }
    if (!same_algorithm) {
      RSAerr(RSA_F_RSA_VERIFY, RSA_R_ALGORITHM_MISMATCH);
    } else if (static_cast<unsigned int>(sig->digest->length) != m_length ||
               !same_bytes(m, sig->digest->data, m_length)) {
      RSAerr(RSA_F_RSA_VERIFY, RSA_R_BAD_SIGNATURE);
    } else {
      ret = 1;
    }
  }
  X509_SIG_free(sig);
  return ret;
}

/* see morvane/rsa.h */
int RSA_sign_ASN1_OCTET_STRING(int /*type*/, const unsigned char* m, unsigned int m_length,
                               unsigned char* sigret, unsigned int* siglen, RSA* rsa) {
  const int k = RSA_size(rsa);
  if (m_length > static_cast<unsigned int>(k)) {
    RSAerr(RSA_F_RSA_SIGN_ASN1_OCTET_STRING, RSA_R_DIGEST_TOO_BIG_FOR_RSA_KEY);
    return 0;
  }
  ASN1_OCTET_STRING sig{static_cast<int>(m_length), ASN1_UT_OCTET_STRING,
                        const_cast<unsigned char*>(m), 0};
  return sign_der(&sig, i2d_ASN1_OCTET_STRING, sigret, siglen, rsa,
                  RSA_F_RSA_SIGN_ASN1_OCTET_STRING);
}

/* see morvane/rsa.h */
int RSA_verify_ASN1_OCTET_STRING(int /*dtype*/, const unsigned char* m, unsigned int m_length,
                                 unsigned char* sigbuf, unsigned int siglen, RSA* rsa) {
  if (siglen != static_cast<unsigned int>(RSA_size(rsa)) || siglen == 0) {
    RSAerr(RSA_F_RSA_VERIFY_ASN1_OCTET_STRING, RSA_R_WRONG_SIGNATURE_LENGTH);
    return 0;
  }
  Buffer buf(siglen);
  if (buf.get() == nullptr) {
    RSAerr(RSA_F_RSA_VERIFY_ASN1_OCTET_STRING, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  const int len = recover(sigbuf, siglen, buf.get(), rsa);
  if (len <= 0) return 0;
  const unsigned char* p = buf.get();
  ASN1_OCTET_STRING* s = d2i_ASN1_OCTET_STRING(nullptr, &p, len);
  if (s == nullptr) return 0;
  int ret = 0;
  if (p != buf.get() + len || !encodes_back(s, i2d_ASN1_OCTET_STRING, buf.get(), len) ||
      static_cast<unsigned int>(s->length) != m_length || !same_bytes(m, s->data, m_length)) {
    RSAerr(RSA_F_RSA_VERIFY_ASN1_OCTET_STRING, RSA_R_BAD_SIGNATURE);
  } else {
    ret = 1;
  }
  ASN1_OCTET_STRING_free(s);
  return ret;
}
