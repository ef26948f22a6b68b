// The DER forms of DSA signatures, keys and parameters.  The key items make
// and free whole keys through DSA_new and DSA_free; the public key is a
// CHOICE whose selector is the key's write_params.

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/err.h>

namespace {

int sig_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM* /*it*/) {
  if (operation != ASN1_CBOP_NEW_PRE) return 1;
  auto* sig = static_cast<DSA_SIG*>(MORVANE_malloc(sizeof(DSA_SIG)));
  if (sig == nullptr) {
    DSAerr(DSA_F_SIG_CB, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  sig->r = nullptr;
  sig->s = nullptr;
  *pval = reinterpret_cast<ASN1_VALUE*>(sig);
  return 2;
}

int dsa_cb(int operation, ASN1_VALUE** pval, const ASN1_ITEM* /*it*/) {
  if (operation == ASN1_CBOP_NEW_PRE) {
    *pval = reinterpret_cast<ASN1_VALUE*>(DSA_new());
    return *pval != nullptr ? 2 : 0;
  }
  if (operation == ASN1_CBOP_FREE_PRE) {
    DSA_free(reinterpret_cast<DSA*>(*pval));
    *pval = nullptr;
    return 2;
  }
  return 1;
}

}  // namespace

// The items name themselves: their structures are DSA_SIG and the DSA key.
using DSAPrivateKey = DSA;
using DSAparams = DSA;
using DSAPublicKey = DSA;
using dsa_pub_internal = DSA;

ASN1_SEQUENCE_cb(DSA_SIG, sig_cb) = {
    ASN1_SIMPLE(DSA_SIG, r, CBIGNUM),
    ASN1_SIMPLE(DSA_SIG, s, CBIGNUM),
} ASN1_SEQUENCE_END_cb(DSA_SIG, DSA_SIG);

ASN1_SEQUENCE_cb(DSAPrivateKey, dsa_cb) = {
    ASN1_SIMPLE(DSAPrivateKey, version, LONG),
    ASN1_SIMPLE(DSAPrivateKey, p, BIGNUM),
    ASN1_SIMPLE(DSAPrivateKey, q, BIGNUM),
    ASN1_SIMPLE(DSAPrivateKey, g, BIGNUM),
    ASN1_SIMPLE(DSAPrivateKey, pub_key, BIGNUM),
    ASN1_SIMPLE(DSAPrivateKey, priv_key, CBIGNUM),
} ASN1_SEQUENCE_END_cb(DSAPrivateKey, DSAPrivateKey);

ASN1_SEQUENCE_cb(DSAparams, dsa_cb) = {
    ASN1_SIMPLE(DSAparams, p, BIGNUM),
    ASN1_SIMPLE(DSAparams, q, BIGNUM),
    ASN1_SIMPLE(DSAparams, g, BIGNUM),
} ASN1_SEQUENCE_END_cb(DSAparams, DSAparams);

// The public key with its parameters, combined into the key itself.
ASN1_SEQUENCE(dsa_pub_internal) = {
    ASN1_SIMPLE(dsa_pub_internal, pub_key, BIGNUM),
    ASN1_SIMPLE(dsa_pub_internal, p, BIGNUM),
    ASN1_SIMPLE(dsa_pub_internal, q, BIGNUM),
    ASN1_SIMPLE(dsa_pub_internal, g, BIGNUM),
} ASN1_SEQUENCE_END_name(dsa_pub_internal, dsa_pub_internal);

ASN1_CHOICE_cb(DSAPublicKey, dsa_cb) = {
    ASN1_SIMPLE(DSAPublicKey, pub_key, BIGNUM),
    ASN1_EX_COMBINE(0, 0, dsa_pub_internal),
} ASN1_CHOICE_END_cb(DSAPublicKey, DSAPublicKey, write_params);
