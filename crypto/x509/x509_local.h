// Helpers shared by the files of the X.509 library.
#ifndef MORVANE_CRYPTO_X509_LOCAL_H
#define MORVANE_CRYPTO_X509_LOCAL_H

#include <morvane/asn1.h>
#include <morvane/evp.h>
#include <morvane/x509_vfy.h>

namespace morvane::x509 {

// The object named by field (a short or long name or a dotted number), new
// (free it); null with "invalid field name" under function code func, the
// text attached as "name=" field.
ASN1_OBJECT* field_object(const char* field, int func);

// 1 when k is the private key of xk (which is freed); else 0 with the
// reason under function code func ("unable to get certs public key" for a
// null xk).
int check_private_key(EVP_PKEY* xk, EVP_PKEY* k, int func);

// The built-in issued-by step: 1 when X509_check_issued says issuer issued
// x; with X509_V_FLAG_CB_ISSUER_CHECK a refusal goes to the verify callback,
// whose answer is the result.
int check_issued(X509_STORE_CTX* ctx, X509* x, X509* issuer);

// Issuer steps (1 found, with a new reference; 0 none; -1 an error): from
// the trusted stack of X509_STORE_CTX_trusted_stack, and from the context's
// store, asking its lookup methods when the cache holds nothing valid (for
// a self-issued x: not x itself).  Of the candidates that pass the
// issued-by step, x's own copy comes first, then one valid at the
// verification moment, then the first supplied.
int get_issuer_sk(X509** issuer, X509_STORE_CTX* ctx, X509* x);
int store_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x);

// Builds the context's chain from its target up to a trust anchor, trying
// other issuer candidates when the first chain found does not reach one,
// and reports the chain's errors (18, 19, 20, 2) to the verify callback,
// setting *bad_chain.  1 to go on with the checks, 0 failure, or a lookup's
// negative answer.
int build_chain(X509_STORE_CTX* ctx, bool* bad_chain);

// Receives one certificate of a store search; 0 (an error queued) ends it.
using CertSink = int (*)(void* arg, X509* x);

// Passes each certificate of subject `name` in the store's cache to add, in
// cache order, holding lock 11.  1, or 0 when add failed.
int scan_subject(X509_STORE* store, X509_NAME* name, CertSink add, void* arg);

// Asks each lookup method of the context's store for subject `name`, so
// that the cache holds what they load (a certificate a method returns goes
// to add too).  1; 0 when add failed; a method's negative answer, that
// method being asked first next time.
int load_subject(X509_STORE_CTX* ctx, X509_NAME* name, CertSink add, void* arg);

}  // namespace morvane::x509

#endif  // MORVANE_CRYPTO_X509_LOCAL_H
