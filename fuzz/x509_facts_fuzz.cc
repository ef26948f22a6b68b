// Fuzzes the facts of certificates from outside: the first octet holds the
// policy-check flags (its bits 0x1, 0x2 and 0x4 pick 0x100, 0x200 and
// 0x400), the second the user policies (bit i picks the i-th policy of a
// short list that holds anyPolicy); the rest is read as DER certificates one
// after another.
//
// Every certificate goes through X509_check_purpose for every purpose with
// ca 0 and 1, X509_check_ca and X509_check_trust for every trust id; each
// pair of neighbours through X509_check_issued both ways; the whole list,
// first certificate the target and last the trust anchor, through
// X509_policy_check.  Checks: the results stay within their ranges, a tree
// is returned only for 1 and -2, and its accessors agree with its sizes.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace {

constexpr const char* kPolicies[] = {"2.5.29.32.0", "1.2.3.4", "1.2.3.5",
                                     "2.16.840.1.101.3.2.1.48.1", "2.16.840.1.101.3.2.1.48.2"};
constexpr int kMaxCerts = 8;

void FreeObject(void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); }
void FreeCert(void* x) { X509_free(static_cast<X509*>(x)); }

void Facts(X509* x) {
  for (int i = 0; i < X509_PURPOSE_get_count(); i++) {
    const int id = X509_PURPOSE_get_id(X509_PURPOSE_get0(i));
    for (int ca = 0; ca <= 1; ca++) {
      const int r = X509_check_purpose(x, id, ca);
      Check(r >= 0 && r <= 5, "purpose results lie in 0..5");
    }
  }
  const int ca = X509_check_ca(x);
  Check(ca == 0 || ca == 1 || (ca >= 3 && ca <= 5), "CA kinds 0, 1, 3, 4, 5");
  Check(x->ex_flags & EXFLAG_SET, "facts computed");
  for (int i = 0; i < X509_TRUST_get_count(); i++) {
    const int r = X509_check_trust(x, X509_TRUST_get_trust(X509_TRUST_get0(i)), 0);
    Check(r >= 1 && r <= 3, "trust results lie in 1..3");
  }
}

void Tree(X509_POLICY_TREE* tree, int n) {
  Check(X509_policy_tree_level_count(tree) == n, "one level per certificate");
  for (int i = 0; i < n; i++) {
    X509_POLICY_LEVEL* level = X509_policy_tree_get0_level(tree, i);
    const int count = X509_policy_level_node_count(level);
    for (int j = 0; j < count; j++) {
      X509_POLICY_NODE* node = X509_policy_level_get0_node(level, j);
      Check(node != nullptr && X509_policy_node_get0_policy(node) != nullptr, "nodes have policies");
      Check((i == 0) == (X509_policy_node_get0_parent(node) == nullptr), "parents above level 0");
    }
  }
  Check(X509_policy_tree_get0_level(tree, n) == nullptr, "no level past the last");
  STACK* user = X509_policy_tree_get0_user_policies(tree);
  for (int i = 0; i < sk_num(user); i++)
    Check(sk_value(user, i) != nullptr, "user set holds nodes");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const uint8_t flag_bits = in.ConsumeIntegral<uint8_t>();
  const uint8_t policy_bits = in.ConsumeIntegral<uint8_t>();
  unsigned int flags = 0;
  if (flag_bits & 1) flags |= 0x100;
  if (flag_bits & 2) flags |= 0x200;
  if (flag_bits & 4) flags |= 0x400;
  STACK* policies = nullptr;
  if (policy_bits != 0) {
    policies = sk_new_null();
    for (size_t i = 0; i < sizeof kPolicies / sizeof kPolicies[0]; i++)
      if (policy_bits & (1u << i)) sk_push(policies, reinterpret_cast<char*>(OBJ_txt2obj(kPolicies[i], 1)));
  }

  const std::string rest = in.ConsumeBytesAsString(in.remaining_bytes());
  const auto* p = reinterpret_cast<const unsigned char*>(rest.data());
  const unsigned char* end = p + rest.size();
  STACK* chain = sk_new_null();
  while (p < end && sk_num(chain) < kMaxCerts) {
    X509* x = d2i_X509(nullptr, &p, end - p);
    if (x == nullptr) break;
    sk_push(chain, reinterpret_cast<char*>(x));
  }
  const int n = sk_num(chain);
  for (int i = 0; i < n; i++) Facts(reinterpret_cast<X509*>(sk_value(chain, i)));
  for (int i = 0; i + 1 < n; i++) {
    X509* a = reinterpret_cast<X509*>(sk_value(chain, i));
    X509* b = reinterpret_cast<X509*>(sk_value(chain, i + 1));
    const int r1 = X509_check_issued(b, a);
    const int r2 = X509_check_issued(a, b);
    Check(r1 == 0 || (r1 >= 29 && r1 <= 39), "issued-by codes");
    Check(r2 == 0 || (r2 >= 29 && r2 <= 39), "issued-by codes");
  }
  if (n > 0) {
    X509_POLICY_TREE* tree = nullptr;
    int explicit_policy = -1;
    const int r = X509_policy_check(&tree, &explicit_policy, chain, policies, flags);
    Check(r >= -3 && r <= 1, "policy results lie in -3..1");
    Check(explicit_policy == 0 || explicit_policy == 1, "explicit is a flag");
    Check(tree == nullptr || r == 1 || r == -2, "a tree only with 1 or -2");
    if (tree != nullptr) Tree(tree, n);
    X509_policy_tree_free(tree);
  }
  sk_pop_free(chain, FreeCert);
  sk_pop_free(policies, FreeObject);
  ERR_clear_error();
  return 0;
}
