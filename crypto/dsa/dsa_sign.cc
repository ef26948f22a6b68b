// The DER wrappers of DSA signing and verification, which the DSS digests
// of the envelope use as their sign and verify functions.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/rand.h>

/* see morvane/dsa.h */
int DSA_sign(int /*type*/, const unsigned char* dgst, int dlen, unsigned char* sig,
             unsigned int* siglen, DSA* dsa) {
  *siglen = 0;
  if (dlen < 0 || dlen > 50) {  // refused before the pool reads it
    DSAerr(DSA_F_DSA_DO_SIGN,
           dlen < 0 ? DSA_R_INVALID_DIGEST_LENGTH : DSA_R_DATA_TOO_LARGE_FOR_KEY_SIZE);
    return 0;
  }
  RAND_add(dgst, dlen, 0.0);  // public data: mixed in, never counted as entropy
  DSA_SIG* s = DSA_do_sign(dgst, dlen, dsa);
  if (s == nullptr) return 0;
  unsigned char* out = sig;
  const int n = i2d_DSA_SIG(s, &out);
  DSA_SIG_free(s);
  if (n <= 0) return 0;
  *siglen = static_cast<unsigned int>(n);
  return 1;
}

/* see morvane/dsa.h */
int DSA_verify(int /*type*/, const unsigned char* dgst, int dgst_len, const unsigned char* sigbuf,
               int siglen, DSA* dsa) {
  if (siglen < 0) {
    DSAerr(DSA_F_DSA_VERIFY, ERR_R_ASN1_LIB);
    return -1;
  }
  const unsigned char* p = sigbuf;
  DSA_SIG* s = d2i_DSA_SIG(nullptr, &p, siglen);
  if (s == nullptr) return -1;
  // Only the DER encoding of the signature, filling all of siglen, is taken:
  // a BER form or trailing bytes would make one signature many.
  int ret = -1;
  unsigned char* der = nullptr;
  const int n = i2d_DSA_SIG(s, &der);
  if (p != sigbuf + siglen || n != siglen || memcmp(der, sigbuf, static_cast<size_t>(n)) != 0) {
    DSAerr(DSA_F_DSA_VERIFY, ERR_R_ASN1_LIB);
  } else {
    ret = DSA_do_verify(dgst, dgst_len, s, dsa);
  }
  MORVANE_free(der);
  DSA_SIG_free(s);
  return ret;
}
