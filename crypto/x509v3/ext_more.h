// The built-in extension methods of key usages, policies, Netscape strings,
// revocation-list entries, Strong Extranet identifiers, proxy certificates
// and OCSP, for the registry's table, and what their files share.
#ifndef MORVANE_CRYPTO_X509V3_EXT_MORE_H
#define MORVANE_CRYPTO_X509V3_EXT_MORE_H

#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

extern const X509V3_EXT_METHOD v3_nscert;                  // 71
extern const X509V3_EXT_METHOD v3_ns_ia5_list[7];          // 72 to 78
extern const X509V3_EXT_METHOD v3_key_usage;               // 83
extern const X509V3_EXT_METHOD v3_pkey_usage_period;       // 84
extern const X509V3_EXT_METHOD v3_crl_num;                 // 88
extern const X509V3_EXT_METHOD v3_cpols;                   // 89
extern const X509V3_EXT_METHOD v3_ext_ku;                  // 126
extern const X509V3_EXT_METHOD v3_delta_crl;               // 140
extern const X509V3_EXT_METHOD v3_crl_reason;              // 141
extern const X509V3_EXT_METHOD v3_crl_invdate;             // 142
extern const X509V3_EXT_METHOD v3_sxnet;                   // 143
extern const X509V3_EXT_METHOD v3_ocsp_nonce;              // 366
extern const X509V3_EXT_METHOD v3_ocsp_crlid;              // 367
extern const X509V3_EXT_METHOD v3_ocsp_accresp;            // 368
extern const X509V3_EXT_METHOD v3_ocsp_nocheck;            // 369
extern const X509V3_EXT_METHOD v3_ocsp_acutoff;            // 370
extern const X509V3_EXT_METHOD v3_ocsp_serviceloc;         // 371
extern const X509V3_EXT_METHOD v3_crl_hold;                // 430
extern const X509V3_EXT_METHOD v3_pci;                     // 663
extern const X509V3_EXT_METHOD v3_inhibit_anyp;            // 748

namespace morvane::x509v3 {

// Attaches the place of a configuration line to the error just queued.
inline void value_context(const CONF_VALUE* value) {
  ERR_add_error_data(6, "section:", value->section, ",name:", value->name, ",value:",
                     value->value);
}

// Frees a record of a name/value list (for sk_pop_free).
inline void free_conf_value(void* value) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(value));
}

// What an i2v function that was passed `given` gives when a pair cannot be
// added: null, having freed the list when the function made it (a list the
// caller passed keeps the pairs already appended).
inline STACK* drop_pairs(STACK* list, const STACK* given) {
  if (given == nullptr) sk_pop_free(list, free_conf_value);
  return nullptr;
}

// The qualifiers of a policy (a stack of POLICYQUALINFO) as lines at indent.
int print_qualifiers(BIO* out, STACK* quals, int indent);

// A GeneralizedTime after indent blanks (invalidity date, archive cutoff).
int i2r_ocsp_acutoff(const X509V3_EXT_METHOD* method, void* value, BIO* out, int indent);

}  // namespace morvane::x509v3

#endif  // MORVANE_CRYPTO_X509V3_EXT_MORE_H
