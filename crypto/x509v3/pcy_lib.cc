// Read access to a valid-policy tree: its levels, their nodes, the
// authority- and user-constrained policy sets.

#include <morvane/stack.h>
#include <morvane/x509v3.h>

#include "x509v3/pcy_int.h"

/* see morvane/x509v3.h */
int X509_policy_tree_level_count(const X509_POLICY_TREE* tree) {
  return tree == nullptr ? 0 : tree->nlevel;
}

/* see morvane/x509v3.h */
X509_POLICY_LEVEL* X509_policy_tree_get0_level(const X509_POLICY_TREE* tree, int i) {
  if (tree == nullptr || i < 0 || i >= tree->nlevel) return nullptr;
  return &tree->levels[i];
}

/* see morvane/x509v3.h */
STACK* X509_policy_tree_get0_policies(const X509_POLICY_TREE* tree) {
  return tree == nullptr ? nullptr : tree->auth_policies;
}

/* see morvane/x509v3.h */
STACK* X509_policy_tree_get0_user_policies(const X509_POLICY_TREE* tree) {
  if (tree == nullptr) return nullptr;
  return (tree->flags & POLICY_FLAG_ANY_POLICY) ? tree->auth_policies : tree->user_policies;
}

/* see morvane/x509v3.h */
int X509_policy_level_node_count(X509_POLICY_LEVEL* level) {
  if (level == nullptr) return 0;
  const int n = level->nodes == nullptr ? 0 : sk_num(level->nodes);
  return n + (level->anyPolicy != nullptr ? 1 : 0);
}

/* see morvane/x509v3.h */
X509_POLICY_NODE* X509_policy_level_get0_node(X509_POLICY_LEVEL* level, int i) {
  if (level == nullptr) return nullptr;
  if (level->anyPolicy != nullptr) {
    if (i == 0) return level->anyPolicy;
    i--;
  }
  return reinterpret_cast<X509_POLICY_NODE*>(sk_value(level->nodes, i));
}

/* see morvane/x509v3.h */
const ASN1_OBJECT* X509_policy_node_get0_policy(const X509_POLICY_NODE* node) {
  return node == nullptr ? nullptr : node->data->valid_policy;
}

/* see morvane/x509v3.h */
STACK* X509_policy_node_get0_qualifiers(const X509_POLICY_NODE* node) {
  return node == nullptr ? nullptr : node->data->qualifier_set;
}

/* see morvane/x509v3.h */
const X509_POLICY_NODE* X509_policy_node_get0_parent(const X509_POLICY_NODE* node) {
  return node == nullptr ? nullptr : node->parent;
}
