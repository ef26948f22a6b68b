// Signing, verifying and digesting the DER encoding of a structure, each in
// a legacy form (the structure's i2d function) and an item form (its
// ASN1_ITEM).  Signing also sets the algorithm identifiers that describe the
// signature.
//
// Implementation notes: the encoding and the signature buffer are wiped
// before they are freed, since the structure may carry secrets.  The two
// forms differ only where noted: the legacy form writes a NULL parameter for
// ecdsa-with-SHA1, and verification orders its encoding and digest set-up
// differently (which decides the result of a failure).

#include <limits.h>

#include <initializer_list>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

#include "internal/wipe.h"

namespace {

constexpr int kNidDsaWithSha1 = 113;
constexpr int kNidEcdsaWithSha1 = 416;

// A structure to encode: through its i2d function or through its item.
struct Encodable {
  i2d_of_void* i2d;
  const ASN1_ITEM* it;
  void* value;

  // Whether there is a way to encode the value (a legacy i2d function may
  // take a null value); "passed a null parameter" under `func` when not.
  bool given(int func) const {
    if (i2d != nullptr || it != nullptr) return true;
    ASN1err(func, ERR_R_PASSED_NULL_PARAMETER);
    return false;
  }
};

// Whether every pointer the caller must give is there; "passed a null
// parameter" under `func` when not.
bool all_given(std::initializer_list<const void*> ptrs, int func) {
  for (const void* p : ptrs) {
    if (p == nullptr) {
      ASN1err(func, ERR_R_PASSED_NULL_PARAMETER);
      return false;
    }
  }
  return true;
}

// The encoding of x in a new buffer (wiped when it goes), or none.
class Encoding {
 public:
  explicit Encoding(const Encodable& x) {
    if (x.it != nullptr) {
      len_ = ASN1_item_i2d(static_cast<ASN1_VALUE*>(x.value), &der_, x.it);
    } else {
      len_ = x.i2d(x.value, nullptr);
      der_ = len_ > 0 ? static_cast<unsigned char*>(MORVANE_malloc(len_)) : nullptr;
      unsigned char* p = der_;
      // A failed writing pass leaves no encoding: nothing is signed over
      // octets the encoder never wrote.
      if (der_ != nullptr && (x.i2d(x.value, &p) != len_ || p - der_ != len_)) {
        morvane::internal::wipe(der_, static_cast<size_t>(len_));
        MORVANE_free(der_);
        der_ = nullptr;
      }
    }
    if (der_ == nullptr) len_ = 0;
  }
  ~Encoding() {
    morvane::internal::wipe(der_, static_cast<size_t>(len_));
    MORVANE_free(der_);
  }
  Encoding(const Encoding&) = delete;
  Encoding& operator=(const Encoding&) = delete;
  const unsigned char* data() const { return der_; }
  size_t size() const { return static_cast<size_t>(len_); }

 private:
  unsigned char* der_ = nullptr;
  int len_ = 0;
};

// A digest context cleaned up when it goes.
class DigestCtx {
 public:
  DigestCtx() { EVP_MD_CTX_init(&ctx_); }
  ~DigestCtx() { EVP_MD_CTX_cleanup(&ctx_); }
  DigestCtx(const DigestCtx&) = delete;
  DigestCtx& operator=(const DigestCtx&) = delete;
  EVP_MD_CTX* get() { return &ctx_; }

 private:
  EVP_MD_CTX ctx_;
};

// Sets one algorithm identifier to the signature algorithm of `type`.
bool set_algorithm(X509_ALGOR* a, const EVP_MD* type, bool item_form, int func) {
  const int nid = type->pkey_type;
  if (nid == kNidDsaWithSha1 || (item_form && nid == kNidEcdsaWithSha1)) {
    ASN1_TYPE_free(a->parameter);  // no parameter at all (RFC 3279, 2.2.2 and 2.2.3)
    a->parameter = nullptr;
  } else if (a->parameter == nullptr || a->parameter->type != ASN1_UT_NULL) {
    ASN1_TYPE_free(a->parameter);
    a->parameter = ASN1_TYPE_new();
    if (a->parameter == nullptr) return false;
    a->parameter->type = ASN1_UT_NULL;
  }
  ASN1_OBJECT_free(a->algorithm);
  a->algorithm = OBJ_nid2obj(nid);
  if (a->algorithm == nullptr) {
    ASN1err(func, ASN1_R_UNKNOWN_OBJECT_TYPE);
    return false;
  }
  if (a->algorithm->length == 0) {
    ASN1err(func, ASN1_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD);
    return false;
  }
  return true;
}

int sign(const Encodable& x, X509_ALGOR* algor1, X509_ALGOR* algor2, ASN1_BIT_STRING* signature,
         EVP_PKEY* pkey, const EVP_MD* type, int func) {
  if (!x.given(func) || !all_given({signature, pkey, type}, func)) return 0;
  const bool item_form = x.it != nullptr;
  X509_ALGOR* const algors[] = {algor1, algor2};
  for (X509_ALGOR* a : algors)
    if (a != nullptr && !set_algorithm(a, type, item_form, func)) return 0;
  Encoding in(x);
  const int room = EVP_PKEY_size(pkey);
  auto* out = static_cast<unsigned char*>(MORVANE_malloc(room));
  if (in.data() == nullptr || out == nullptr) {
    ASN1err(func, ERR_R_MALLOC_FAILURE);
    MORVANE_free(out);  // nothing was written to it
    return 0;
  }
  DigestCtx ctx;
  unsigned int outl = 0;
  if (!EVP_DigestInit_ex(ctx.get(), type, nullptr) ||
      !EVP_DigestUpdate(ctx.get(), in.data(), in.size()) ||
      !EVP_SignFinal(ctx.get(), out, &outl, pkey)) {
    ASN1err(func, ERR_R_EVP_LIB);
    morvane::internal::wipe(out, static_cast<size_t>(room));
    MORVANE_free(out);
    return 0;
  }
  MORVANE_free(signature->data);
  signature->data = out;
  signature->length = static_cast<int>(outl);
  // A signature is whole octets: 0 unused bits in the BIT STRING.
  signature->flags &= ~0x07L;
  signature->flags |= ASN1_STRING_BITS_LEFT;
  return static_cast<int>(outl);
}

int verify(const Encodable& x, X509_ALGOR* a, ASN1_BIT_STRING* signature, EVP_PKEY* pkey,
           int func) {
  if (!x.given(func)) return -1;
  if (a == nullptr) {
    ASN1err(func, ASN1_R_UNKNOWN_MESSAGE_DIGEST_ALGORITHM);
    return -1;
  }
  const EVP_MD* type = EVP_get_digestbyname(OBJ_nid2sn(OBJ_obj2nid(a->algorithm)));
  if (type == nullptr) {
    // No digest is registered under the algorithm's name: one this library
    // does not verify with (ecdsa-with-SHA256), or not a signature algorithm.
    char name[80];
    OBJ_obj2txt(name, sizeof(name), a->algorithm, 0);
    ASN1err(func, ASN1_R_UNSUPPORTED_SIGNATURE_ALGORITHM);
    ERR_add_error_data(2, "algorithm=", name);
    return -1;
  }
  DigestCtx ctx;
  const bool item_form = x.it != nullptr;
  // The item form sets the digest up before encoding, the legacy form after.
  if (item_form && !EVP_DigestInit_ex(ctx.get(), type, nullptr)) {
    ASN1err(func, ERR_R_EVP_LIB);
    return 0;
  }
  Encoding in(x);
  if (in.data() == nullptr) {
    ASN1err(func, ERR_R_MALLOC_FAILURE);
    return -1;
  }
  if (!item_form && !EVP_DigestInit_ex(ctx.get(), type, nullptr)) {
    ASN1err(func, ERR_R_EVP_LIB);
    return 0;
  }
  EVP_DigestUpdate(ctx.get(), in.data(), in.size());
  // The BIT STRING's unused-bit count is not looked at.
  const unsigned char* sig = signature != nullptr ? signature->data : nullptr;
  const int siglen = signature != nullptr && signature->length > 0 ? signature->length : 0;
  if (EVP_VerifyFinal(ctx.get(), sig, static_cast<unsigned int>(siglen), pkey) <= 0) {
    ASN1err(func, ERR_R_EVP_LIB);
    return 0;
  }
  return 1;
}

int digest(const Encodable& x, const EVP_MD* type, unsigned char* md, unsigned int* len, int func) {
  if (!x.given(func) || !all_given({type, md}, func)) return 0;
  Encoding in(x);
  if (in.data() == nullptr) {
    if (func != 0) ASN1err(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return EVP_Digest(in.data(), in.size(), md, len, type, nullptr) ? 1 : 0;
}

}  // namespace

/* see morvane/x509.h */
int ASN1_sign(i2d_of_void* i2d, X509_ALGOR* algor1, X509_ALGOR* algor2, ASN1_BIT_STRING* signature,
              char* data, EVP_PKEY* pkey, const EVP_MD* type) {
  return sign({i2d, nullptr, data}, algor1, algor2, signature, pkey, type, ASN1_F_ASN1_SIGN);
}

/* see morvane/x509.h */
int ASN1_item_sign(const ASN1_ITEM* it, X509_ALGOR* algor1, X509_ALGOR* algor2,
                   ASN1_BIT_STRING* signature, void* asn, EVP_PKEY* pkey, const EVP_MD* type) {
  return sign({nullptr, it, asn}, algor1, algor2, signature, pkey, type, ASN1_F_ASN1_ITEM_SIGN);
}

/* see morvane/x509.h */
int ASN1_verify(i2d_of_void* i2d, X509_ALGOR* a, ASN1_BIT_STRING* signature, char* data,
                EVP_PKEY* pkey) {
  return verify({i2d, nullptr, data}, a, signature, pkey, ASN1_F_ASN1_VERIFY);
}

/* see morvane/x509.h */
int ASN1_item_verify(const ASN1_ITEM* it, X509_ALGOR* a, ASN1_BIT_STRING* signature, void* asn,
                     EVP_PKEY* pkey) {
  return verify({nullptr, it, asn}, a, signature, pkey, ASN1_F_ASN1_ITEM_VERIFY);
}

/* see morvane/x509.h */
int ASN1_digest(i2d_of_void* i2d, const EVP_MD* type, char* data, unsigned char* md,
                unsigned int* len) {
  return digest({i2d, nullptr, data}, type, md, len, ASN1_F_ASN1_DIGEST);
}

/* see morvane/x509.h */
int ASN1_item_digest(const ASN1_ITEM* it, const EVP_MD* type, void* asn, unsigned char* md,
                     unsigned int* len) {
  // An encoding failure of this form queues nothing; a null argument
  // queues its reason under no function.
  return digest({nullptr, it, asn}, type, md, len, 0);
}
