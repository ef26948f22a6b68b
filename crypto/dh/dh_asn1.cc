// The DER form of Diffie-Hellman parameters (PKCS #3, 9): DHparams.  The
// item makes and frees whole keys through DH_new and DH_free.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/dh.h>

namespace {

int dh_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM* /*it*/) {
  if (operation == ASN1_CBOP_NEW_PRE) {
    *pval = reinterpret_cast<ASN1_VALUE*>(DH_new());
    return *pval != nullptr ? 2 : 0;
  }
  if (operation == ASN1_CBOP_FREE_PRE) {
    DH_free(reinterpret_cast<DH*>(*pval));
    *pval = nullptr;
    return 2;
  }
  return 1;
}

}  // namespace

// The item names itself: its structure is the DH key.
using DHparams = DH;

ASN1_SEQUENCE_cb(DHparams, dh_cb) = {
    ASN1_SIMPLE(DHparams, p, BIGNUM),
    ASN1_SIMPLE(DHparams, g, BIGNUM),
    ASN1_OPT(DHparams, length, ZLONG),
} ASN1_SEQUENCE_END_cb(DHparams, DHparams);
