// The built-in extension methods of the names, key identifiers, constraints,
// distribution points and information access (their conversion functions
// live in v3_alt.cc, v3_skey.cc, v3_cons.cc and v3_info.cc).  The records are
// constant expressions so that the registry can check its order at compile
// time.

#ifndef MORVANE_X509V3_EXT_METHODS_H
#define MORVANE_X509V3_EXT_METHODS_H

#include <morvane/asn1.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/ext_more.h"

namespace morvane::v3 {

// Conversion functions, in the signatures of the method record.
char* i2s_octets(const X509V3_EXT_METHOD* method, void* value);
void* s2i_skey_id(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, const char* str);
STACK* i2v_names(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_subject_alt(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
void* v2i_issuer_alt(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
STACK* i2v_bcons(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_bcons(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
STACK* i2v_akey(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_akey(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
STACK* i2v_crld(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_crld(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
STACK* i2v_info(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_info(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
STACK* i2v_pcons(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_pcons(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
void* v2i_ncons(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);
int i2r_ncons(const X509V3_EXT_METHOD* method, void* value, BIO* out, int indent);
STACK* i2v_pmaps(const X509V3_EXT_METHOD* method, void* value, STACK* list);
void* v2i_pmaps(const X509V3_EXT_METHOD* method, X509V3_CTX* ctx, STACK* values);

using morvane::x509v3::drop_pairs;

// NIDs of the extension types (RFC 5280 object identifiers).
inline constexpr int kNidSubjectKeyId = 82;       // 2.5.29.14
inline constexpr int kNidSubjectAltName = 85;     // 2.5.29.17
inline constexpr int kNidIssuerAltName = 86;      // 2.5.29.18
inline constexpr int kNidBasicConstraints = 87;   // 2.5.29.19
inline constexpr int kNidAuthorityKeyId = 90;     // 2.5.29.35
inline constexpr int kNidCrlDistPoints = 103;     // 2.5.29.31
inline constexpr int kNidInfoAccess = 177;        // 1.3.6.1.5.5.7.1.1
inline constexpr int kNidSubjectInfoAccess = 398; // 1.3.6.1.5.5.7.1.11
inline constexpr int kNidPolicyConstraints = 401; // 2.5.29.36
inline constexpr int kNidNameConstraints = 666;   // 2.5.29.30
inline constexpr int kNidPolicyMappings = 747;    // 2.5.29.33

// A record with the string pair, the list pair or the printer and list
// builder of one value type.
constexpr X509V3_EXT_METHOD string_method(int nid, const ASN1_ITEM* it, X509V3_EXT_I2S i2s,
                                          X509V3_EXT_S2I s2i) {
  X509V3_EXT_METHOD m{};
  m.ext_nid = nid;
  m.it = it;
  m.i2s = i2s;
  m.s2i = s2i;
  return m;
}
constexpr X509V3_EXT_METHOD list_method(int nid, int flags, const ASN1_ITEM* it,
                                        X509V3_EXT_I2V i2v, X509V3_EXT_V2I v2i) {
  X509V3_EXT_METHOD m{};
  m.ext_nid = nid;
  m.ext_flags = flags;
  m.it = it;
  m.i2v = i2v;
  m.v2i = v2i;
  return m;
}

inline constexpr X509V3_EXT_METHOD skey_id =
    string_method(kNidSubjectKeyId, &ASN1_OCTET_STRING_it, i2s_octets, s2i_skey_id);
inline constexpr X509V3_EXT_METHOD subject_alt =
    list_method(kNidSubjectAltName, 0, &GENERAL_NAMES_it, i2v_names, v2i_subject_alt);
inline constexpr X509V3_EXT_METHOD issuer_alt =
    list_method(kNidIssuerAltName, 0, &GENERAL_NAMES_it, i2v_names, v2i_issuer_alt);
inline constexpr X509V3_EXT_METHOD basic_constraints =
    list_method(kNidBasicConstraints, 0, &BASIC_CONSTRAINTS_it, i2v_bcons, v2i_bcons);
inline constexpr X509V3_EXT_METHOD authority_key_id = list_method(
    kNidAuthorityKeyId, X509V3_EXT_MULTILINE, &AUTHORITY_KEYID_it, i2v_akey, v2i_akey);
inline constexpr X509V3_EXT_METHOD crl_dist_points = list_method(
    kNidCrlDistPoints, X509V3_EXT_MULTILINE, &CRL_DIST_POINTS_it, i2v_crld, v2i_crld);
inline constexpr X509V3_EXT_METHOD info_access = list_method(
    kNidInfoAccess, X509V3_EXT_MULTILINE, &AUTHORITY_INFO_ACCESS_it, i2v_info, v2i_info);
inline constexpr X509V3_EXT_METHOD subject_info_access = list_method(
    kNidSubjectInfoAccess, X509V3_EXT_MULTILINE, &AUTHORITY_INFO_ACCESS_it, i2v_info, v2i_info);
inline constexpr X509V3_EXT_METHOD policy_constraints =
    list_method(kNidPolicyConstraints, 0, &POLICY_CONSTRAINTS_it, i2v_pcons, v2i_pcons);
inline constexpr X509V3_EXT_METHOD name_constraints = [] {
  X509V3_EXT_METHOD m = list_method(kNidNameConstraints, 0, &NAME_CONSTRAINTS_it, nullptr,
                                    v2i_ncons);
  m.i2r = i2r_ncons;
  return m;
}();
inline constexpr X509V3_EXT_METHOD policy_mappings =
    list_method(kNidPolicyMappings, 0, &POLICY_MAPPINGS_it, i2v_pmaps, v2i_pmaps);

// Shared by the builders: a new IA5String holding text (null when out of
// memory, with no error queued).
ASN1_IA5STRING* ia5_from_text(const char* text);

// Adds the error context of a configuration line: "section:", its section,
// ",name:", its name, ",value:", its value.
void add_value_context(const CONF_VALUE* value);

}  // namespace morvane::v3

#endif  // MORVANE_X509V3_EXT_METHODS_H
