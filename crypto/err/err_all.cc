// Registering the error texts of every library at once.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/comp.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/dso.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/pkcs12.h>
#include <morvane/pkcs7.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>
#include <morvane/ui.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

/* see morvane/err.h */
void ERR_load_crypto_strings(void) {
  ERR_load_ERR_strings();
  ERR_load_BN_strings();
  ERR_load_RSA_strings();
  ERR_load_DH_strings();
  ERR_load_EVP_strings();
  ERR_load_BUF_strings();
  ERR_load_OBJ_strings();
  ERR_load_PEM_strings();
  ERR_load_DSA_strings();
  ERR_load_X509_strings();
  ERR_load_ASN1_strings();
  ERR_load_CONF_strings();
  ERR_load_CRYPTO_strings();
  ERR_load_EC_strings();
  ERR_load_ECDSA_strings();
  ERR_load_ECDH_strings();
  ERR_load_BIO_strings();
  ERR_load_PKCS7_strings();
  ERR_load_X509V3_strings();
  ERR_load_PKCS12_strings();
  ERR_load_RAND_strings();
  ERR_load_DSO_strings();
  ERR_load_ENGINE_strings();
  ERR_load_OCSP_strings();
  ERR_load_UI_strings();
  ERR_load_COMP_strings();
}
