// The certificate-policy cache each certificate keeps and the valid-policy
// tree built over a chain (RFC 3280, 6.1): their records and the helpers the
// pcy_*.cc sources share.
//
// Implementation notes: a cache is built once per certificate under lock 3;
// a tree belongs to one verification.  A level's node stack is filled
// unsorted and sorted once, when the level is complete; look-ups on a level
// that is still being filled walk it.
#ifndef MORVANE_CRYPTO_X509V3_PCY_INT_H
#define MORVANE_CRYPTO_X509V3_PCY_INT_H

#include <morvane/asn1.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

// Bits of X509_POLICY_DATA::flags.
constexpr unsigned int POLICY_DATA_FLAG_MAPPED = 0x1;      // an issuer-domain policy it lists
constexpr unsigned int POLICY_DATA_FLAG_MAPPED_ANY = 0x2;  // one made from anyPolicy
constexpr unsigned int POLICY_DATA_FLAG_SHARED_QUALIFIERS = 0x4;
constexpr unsigned int POLICY_DATA_FLAG_EXTRA_NODE = 0x8;  // for a user policy outside every level
constexpr unsigned int POLICY_DATA_FLAG_CRITICAL = 0x10;   // certificatePolicies was critical

// One policy of one certificate.
struct X509_POLICY_DATA_st {
  unsigned int flags;
  ASN1_OBJECT* valid_policy;   // owned
  STACK* qualifier_set;        // of POLICYQUALINFO; owned unless SHARED_QUALIFIERS
  STACK* expected_policy_set;  // of ASN1_OBJECT, owned: subject-domain policies
};

// One policy mapping of a certificate.
struct X509_POLICY_REF_st {
  ASN1_OBJECT* subjectDomainPolicy;  // owned
  const X509_POLICY_DATA* data;      // the issuer-domain policy's data
};
typedef struct X509_POLICY_REF_st X509_POLICY_REF;

struct X509_POLICY_CACHE_st {
  X509_POLICY_DATA* anyPolicy;  // or null
  STACK* data;                  // of X509_POLICY_DATA, ordered by identifier
  STACK* maps;                  // of X509_POLICY_REF, ordered by subject-domain identifier
  long any_skip;                // inhibitAnyPolicy, -1 when absent
  long explicit_skip;           // requireExplicitPolicy, -1 when absent
  long map_skip;                // inhibitPolicyMapping, -1 when absent
};

struct X509_POLICY_NODE_st {
  X509_POLICY_DATA* data;    // not owned
  X509_POLICY_NODE* parent;  // null in level 0
  int nchild;
};

struct X509_POLICY_LEVEL_st {
  X509* cert;                   // one reference; null in level 0
  STACK* nodes;                 // of X509_POLICY_NODE other than anyPolicy
  X509_POLICY_NODE* anyPolicy;  // or null
  unsigned int flags;          // 0x200 anyPolicy inhibited, 0x400 mapping inhibited
};

// Tree flags.
constexpr unsigned int POLICY_FLAG_ANY_POLICY = 0x2;  // the user asked for anyPolicy

struct X509_POLICY_TREE_st {
  X509_POLICY_LEVEL* levels;  // nlevel of them; level 0 is the trust anchor's
  int nlevel;
  STACK* extra_data;          // of X509_POLICY_DATA made for the tree, owned
  STACK* auth_policies;       // of X509_POLICY_NODE
  STACK* user_policies;       // of X509_POLICY_NODE; extra nodes owned
  unsigned int flags;
  long node_count;            // nodes made so far, against kMaxTreeNodes
};

namespace morvane::x509v3 {

// The most nodes one tree may hold, extra nodes included: past it the check
// stops with X509_PCY_TREE_TOO_LARGE instead of growing without bound.
inline constexpr long kMaxTreeNodes = 10000;

// NID of anyPolicy (RFC 5280, 4.2.1.4).
inline constexpr int kNidAnyPolicy = 746;

// The cache, data and node functions the pcy_*.cc sources share are
// exported (x509v3.h: policy_cache_set, policy_data_new, level_add_node,
// ...).  A tree counts the nodes it makes against kMaxTreeNodes in
// pcy_tree.cc, around level_add_node.

}  // namespace morvane::x509v3

#endif  // MORVANE_CRYPTO_X509V3_PCY_INT_H
