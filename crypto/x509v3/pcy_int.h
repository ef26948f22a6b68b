// The records of a certificate-policy tree (RFC 5280, 6.1.2): one policy of
// one certificate, and a node of the tree.
#ifndef MORVANE_CRYPTO_X509V3_PCY_INT_H
#define MORVANE_CRYPTO_X509V3_PCY_INT_H

#include <morvane/asn1.h>
#include <morvane/stack.h>
#include <morvane/x509v3.h>

// Bits of X509_POLICY_DATA::flags.
constexpr unsigned int POLICY_DATA_FLAG_MAPPED = 0x1;
constexpr unsigned int POLICY_DATA_FLAG_MAPPED_ANY = 0x2;
constexpr unsigned int POLICY_DATA_FLAG_SHARED_QUALIFIERS = 0x4;
constexpr unsigned int POLICY_DATA_FLAG_EXTRA_NODE = 0x8;
constexpr unsigned int POLICY_DATA_FLAG_CRITICAL = 0x10;

typedef struct X509_POLICY_DATA_st X509_POLICY_DATA;

struct X509_POLICY_DATA_st {
  unsigned int flags;
  ASN1_OBJECT* valid_policy;   // owned
  STACK* qualifier_set;        // of POLICYQUALINFO; owned unless shared
  STACK* expected_policy_set;  // of ASN1_OBJECT, owned
};

struct X509_POLICY_NODE_st {
  X509_POLICY_DATA* data;      // not owned
  X509_POLICY_NODE* parent;    // null for the root
  int nchild;
};

#endif  // MORVANE_CRYPTO_X509V3_PCY_INT_H
