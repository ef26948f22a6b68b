// Netscape's signed public key and challenge in its text form: the DER in
// base64 without line breaks.

#include <limits.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>

/* see morvane/x509.h */
NETSCAPE_SPKI* NETSCAPE_SPKI_b64_decode(const char* str, int len) {
  if (str == nullptr) return nullptr;
  size_t n = len > 0 ? static_cast<size_t>(len) : strlen(str);
  if (n >= INT_MAX) {
    X509err(X509_F_NETSCAPE_SPKI_B64_DECODE, X509_R_BASE64_DECODE_ERROR);
    return nullptr;
  }
  auto* der = static_cast<unsigned char*>(MORVANE_malloc(n + 1));
  if (der == nullptr) {
    X509err(X509_F_NETSCAPE_SPKI_B64_DECODE, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  const int der_len =
      EVP_DecodeBlock(der, reinterpret_cast<const unsigned char*>(str), static_cast<int>(n));
  if (der_len < 0) {
    X509err(X509_F_NETSCAPE_SPKI_B64_DECODE, X509_R_BASE64_DECODE_ERROR);
    MORVANE_free(der);
    return nullptr;
  }
  const unsigned char* p = der;
  NETSCAPE_SPKI* spki = d2i_NETSCAPE_SPKI(nullptr, &p, der_len);
  MORVANE_free(der);
  return spki;
}

/* see morvane/x509.h */
char* NETSCAPE_SPKI_b64_encode(NETSCAPE_SPKI* spki) {
  unsigned char* der = nullptr;
  const int der_len = i2d_NETSCAPE_SPKI(spki, &der);
  if (der_len <= 0) return nullptr;
  // Four characters for every three bytes, rounded up, and the terminator:
  // within twice the DER length plus four.
  const size_t room = 2 * static_cast<size_t>(der_len) + 4;
  auto* b64 = static_cast<char*>(MORVANE_malloc(room));
  if (b64 == nullptr) {
    X509err(X509_F_NETSCAPE_SPKI_B64_ENCODE, ERR_R_MALLOC_FAILURE);
    MORVANE_free(der);
    return nullptr;
  }
  EVP_EncodeBlock(reinterpret_cast<unsigned char*>(b64), der, der_len);
  MORVANE_free(der);
  return b64;
}
