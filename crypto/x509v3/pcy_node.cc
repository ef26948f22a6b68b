// Nodes of the valid-policy tree: creation under a parent, look-up by
// policy identifier in a level or a node stack.

#include <morvane/crypto.h>
#include <morvane/objects.h>
#include <morvane/stack.h>

#include "x509v3/pcy_int.h"

namespace {

int node_cmp(const char* const* a, const char* const* b) {
  return OBJ_cmp(reinterpret_cast<const X509_POLICY_NODE*>(*a)->data->valid_policy,
                 reinterpret_cast<const X509_POLICY_NODE*>(*b)->data->valid_policy);
}

}  // namespace

/* see morvane/x509v3.h */
STACK* policy_node_cmp_new(void) {
  return sk_new(node_cmp);
}

/* see morvane/x509v3.h */
X509_POLICY_NODE* tree_find_sk(STACK* nodes, const ASN1_OBJECT* id) {
  if (nodes == nullptr) return nullptr;
  if (!sk_is_sorted(nodes)) {
    // A stack still being filled: walk it rather than sort it each time.
    for (int i = 0; i < sk_num(nodes); i++) {
      auto* n = reinterpret_cast<X509_POLICY_NODE*>(sk_value(nodes, i));
      if (OBJ_cmp(n->data->valid_policy, id) == 0) return n;
    }
    return nullptr;
  }
  X509_POLICY_DATA key_data{};
  key_data.valid_policy = const_cast<ASN1_OBJECT*>(id);
  X509_POLICY_NODE key{};
  key.data = &key_data;
  const int idx = sk_find(nodes, reinterpret_cast<char*>(&key));
  return idx == -1 ? nullptr : reinterpret_cast<X509_POLICY_NODE*>(sk_value(nodes, idx));
}

/* see morvane/x509v3.h */
X509_POLICY_NODE* level_find_node(const X509_POLICY_LEVEL* level, const ASN1_OBJECT* id) {
  return tree_find_sk(level->nodes, id);
}

/* see morvane/x509v3.h */
X509_POLICY_NODE* level_add_node(X509_POLICY_LEVEL* level, X509_POLICY_DATA* data,
                                 X509_POLICY_NODE* parent, X509_POLICY_TREE* tree) {
  auto* node = static_cast<X509_POLICY_NODE*>(MORVANE_malloc(sizeof(X509_POLICY_NODE)));
  if (node == nullptr) return nullptr;
  node->data = data;
  node->parent = parent;
  node->nchild = 0;
  bool placed = false;
  if (level != nullptr) {
    if (OBJ_obj2nid(data->valid_policy) == morvane::x509v3::kNidAnyPolicy) {
      if (level->anyPolicy != nullptr) goto fail;
      level->anyPolicy = node;
      placed = true;
    } else {
      if (level->nodes == nullptr) level->nodes = policy_node_cmp_new();
      if (level->nodes == nullptr || !sk_push(level->nodes, reinterpret_cast<char*>(node)))
        goto fail;
      placed = true;
    }
  }
  if (tree != nullptr) {
    if (tree->extra_data == nullptr) tree->extra_data = sk_new_null();
    if (tree->extra_data == nullptr || !sk_push(tree->extra_data, reinterpret_cast<char*>(data)))
      goto fail;
  }
  if (parent != nullptr) parent->nchild++;
  return node;

fail:
  if (placed) {
    if (level->anyPolicy == node)
      level->anyPolicy = nullptr;
    else
      sk_pop(level->nodes);
  }
  MORVANE_free(node);
  return nullptr;
}

/* see morvane/x509v3.h */
void policy_node_free(X509_POLICY_NODE* node) {
  MORVANE_free(node);
}
