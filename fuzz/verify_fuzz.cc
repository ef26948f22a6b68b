// Fuzzes chain verification: the input is cut into up to four DER
// certificates and two DER revocation lists (each piece a two-octet length
// and its octets).  The first certificate is the target, the others the
// untrusted list, the CRLs the context's list; the store holds one root
// generated at start-up (RSA, self-signed).  Each input is verified with
// strict checks, CRL checks for the whole chain and the policy check under
// a callback that accepts every error, then again with the default
// callback over the same objects.
//
// Checks: the results are 1 or 0 (never the missing-certificate -1); a run
// that fails leaves a verification error; the chain starts with the target;
// every object is freed, so the leak check sees anything left behind.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

namespace {

X509* root = nullptr;

// A self-signed RSA root, "CN=Fuzz Root", valid 2000 to 2099.
X509* MakeRoot() {
  RSA* rsa = RSA_generate_key(1024, 65537, nullptr, nullptr);
  EVP_PKEY* pkey = EVP_PKEY_new();
  EVP_PKEY_assign_RSA(pkey, rsa);
  X509* x = X509_new();
  X509_CINF* ci = x->cert_info;
  ci->version = ASN1_INTEGER_new();
  ASN1_INTEGER_set(ci->version, 2);
  ASN1_INTEGER_set(ci->serialNumber, 1);
  X509_NAME_add_entry_by_txt(ci->subject, "CN", ASN1_UT_PRINTABLESTRING,
                             reinterpret_cast<const unsigned char*>("Fuzz Root"), -1, -1, 0);
  X509_NAME_add_entry_by_txt(ci->issuer, "CN", ASN1_UT_PRINTABLESTRING,
                             reinterpret_cast<const unsigned char*>("Fuzz Root"), -1, -1, 0);
  time_t from = 946684800;   // 2000-01-01
  time_t to = 4070908800;    // 2099-01-01
  ASN1_TIME_set(ci->validity->notBefore, from);
  ASN1_TIME_set(ci->validity->notAfter, to);
  X509_PUBKEY_set(&ci->key, pkey);
  ASN1_item_sign(&X509_CINF_it, ci->signature, x->sig_alg, x->signature, ci, pkey, EVP_sha1());
  EVP_PKEY_free(pkey);
  return x;
}

void FreeCert(void* p) { X509_free(static_cast<X509*>(p)); }
void FreeCrl(void* p) { X509_CRL_free(static_cast<X509_CRL*>(p)); }

int AcceptAll(int, X509_STORE_CTX*) { return 1; }

void Run(X509_STORE* store, X509* target, STACK* untrusted, STACK* crls, bool lenient) {
  X509_STORE_CTX* ctx = X509_STORE_CTX_new();
  Check(X509_STORE_CTX_init(ctx, store, target, untrusted) == 1, "init");
  X509_STORE_CTX_set0_crls(ctx, crls);
  X509_STORE_CTX_set_flags(ctx, X509_V_FLAG_CRL_CHECK | X509_V_FLAG_CRL_CHECK_ALL |
                                    X509_V_FLAG_POLICY_CHECK | X509_V_FLAG_X509_STRICT);
  if (lenient) X509_STORE_CTX_set_verify_cb(ctx, AcceptAll);
  const int r = X509_verify_cert(ctx);
  Check(r == 0 || r == 1, "the result is 1 or 0");
  STACK* chain = X509_STORE_CTX_get_chain(ctx);
  Check(chain != nullptr && sk_value(chain, 0) != nullptr, "the chain holds the target");
  if (r == 0 && ERR_peek_error() == 0) {
    Check(X509_STORE_CTX_get_error(ctx) != X509_V_OK, "a refusal names its error");
  }
  X509_STORE_CTX_free(ctx);
  ERR_clear_error();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (root == nullptr) {
    Morvane_add_all_digests();
    root = MakeRoot();
  }
  FuzzInput in(data, size);
  STACK* certs = sk_new_null();
  STACK* crls = sk_new_null();
  for (int i = 0; i < 6 && in.remaining_bytes() > 0; i++) {
    const size_t n = in.ConsumeIntegral<uint16_t>();
    const std::string der = in.ConsumeBytesAsString(n);
    const auto* p = reinterpret_cast<const unsigned char*>(der.data());
    if (i < 4) {
      X509* x = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
      if (x != nullptr) sk_push(certs, reinterpret_cast<char*>(x));
    } else {
      X509_CRL* c = d2i_X509_CRL(nullptr, &p, static_cast<long>(der.size()));
      if (c != nullptr) sk_push(crls, reinterpret_cast<char*>(c));
    }
  }
  if (sk_num(certs) > 0) {
    X509_STORE* store = X509_STORE_new();
    X509_STORE_add_cert(store, root);
    X509* target = reinterpret_cast<X509*>(sk_shift(certs));
    Run(store, target, certs, crls, true);
    Run(store, target, certs, crls, false);
    X509_free(target);
    X509_STORE_free(store);
  }
  sk_pop_free(certs, FreeCert);
  sk_pop_free(crls, FreeCrl);
  ERR_clear_error();
  return 0;
}
