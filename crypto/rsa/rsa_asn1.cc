// The DER forms of RSA keys (RFC 8017, A.1.1 and A.1.2) and the old-style
// codec table of private keys.  Both items make and free whole keys through
// RSA_new and RSA_free, so a decoded key has the default method and its
// release goes through the reference count; a key that lacks one of the
// item's numbers is not encoded.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/err.h>
#include <morvane/rsa.h>

namespace {

// True when the key holds every number of the item's SEQUENCE.
bool complete(const RSA* r, bool private_key) {
  if (r->n == nullptr || r->e == nullptr) return false;
  if (!private_key) return true;
  return r->d != nullptr && r->p != nullptr && r->q != nullptr && r->dmp1 != nullptr &&
         r->dmq1 != nullptr && r->iqmp != nullptr;
}

int rsa_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM* it) {
  if (operation == ASN1_CBOP_NEW_PRE) {
    *pval = reinterpret_cast<ASN1_VALUE*>(RSA_new());
    return *pval != nullptr ? 2 : 0;
  }
  if (operation == ASN1_CBOP_FREE_PRE) {
    RSA_free(reinterpret_cast<RSA*>(*pval));
    *pval = nullptr;
    return 2;
  }
  // The engine leaves an absent INTEGER out; a key without one of its
  // numbers has no encoding instead.
  if (operation == ASN1_CBOP_I2D_PRE &&
      !complete(reinterpret_cast<const RSA*>(*pval), it == &RSAPrivateKey_it)) {
    RSAerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return 1;
}

int i2d_private(void* a, unsigned char** out) {
  return i2d_RSAPrivateKey(static_cast<RSA*>(a), out);
}

void* d2i_private(void** a, const unsigned char** in, long len) {
  return d2i_RSAPrivateKey(reinterpret_cast<RSA**>(a), in, len);
}

void* create() {
  return RSA_new();
}

void destroy(void* a) {
  RSA_free(static_cast<RSA*>(a));
}

constexpr ASN1_METHOD kPrivateKeyMethod = {i2d_private, d2i_private, create, destroy};

}  // namespace

// The items name themselves: their structure is the RSA key.
using RSAPrivateKey = RSA;
using RSAPublicKey = RSA;

ASN1_SEQUENCE_cb(RSAPrivateKey, rsa_cb) = {
    ASN1_SIMPLE(RSAPrivateKey, version, LONG), ASN1_SIMPLE(RSAPrivateKey, n, BIGNUM),
    ASN1_SIMPLE(RSAPrivateKey, e, BIGNUM),     ASN1_SIMPLE(RSAPrivateKey, d, CBIGNUM),
    ASN1_SIMPLE(RSAPrivateKey, p, CBIGNUM),    ASN1_SIMPLE(RSAPrivateKey, q, CBIGNUM),
    ASN1_SIMPLE(RSAPrivateKey, dmp1, CBIGNUM), ASN1_SIMPLE(RSAPrivateKey, dmq1, CBIGNUM),
    ASN1_SIMPLE(RSAPrivateKey, iqmp, CBIGNUM),
} ASN1_SEQUENCE_END_cb(RSAPrivateKey, RSAPrivateKey);

ASN1_SEQUENCE_cb(RSAPublicKey, rsa_cb) = {
    ASN1_SIMPLE(RSAPublicKey, n, BIGNUM),
    ASN1_SIMPLE(RSAPublicKey, e, BIGNUM),
} ASN1_SEQUENCE_END_cb(RSAPublicKey, RSAPublicKey);

/* see morvane/rsa.h */
const ASN1_METHOD* RSAPrivateKey_asn1_meth(void) {
  return &kPrivateKeyMethod;
}
