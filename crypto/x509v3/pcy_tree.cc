// The valid-policy tree (RFC 3280, 6.1.2 to 6.1.5): one level per
// certificate below the trust anchor, built from each certificate's policy
// cache, pruned as it grows, and the authority- and user-constrained
// policy sets read from it.
//
// Implementation notes: policy mapping is always inhibited in this version:
// a policy a certificate maps is removed from its level and no node is made
// for the subject-domain policy.  A tree never holds more than
// kMaxTreeNodes nodes; past that the check stops with
// X509_PCY_TREE_TOO_LARGE.  The authority set keeps the order in which its
// nodes were found; duplicates are dropped, and the user's policies looked
// up, through a sorted index built once beside it.

#include <stdlib.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "x509v3/internal.h"
#include "x509v3/pcy_int.h"

namespace morvane::x509v3 {

namespace {

constexpr unsigned int kFlagExplicitPolicy = 0x100;
constexpr unsigned int kFlagInhibitAny = 0x200;
constexpr unsigned int kFlagInhibitMap = 0x400;

// Results of tree_init besides 0, 1, 2 and -1.
constexpr int kInitExplicit = 5;       // tree built, an explicit policy required
constexpr int kInitNoneExplicit = 6;  // no policies at all, an explicit policy required

// Results of tree_evaluate.
constexpr int kEvalFailed = 0;
constexpr int kEvalOk = 1;
constexpr int kEvalEmpty = 2;
constexpr int kEvalTooLarge = 3;

X509* chain_cert(STACK* chain, int i) { return reinterpret_cast<X509*>(sk_value(chain, i)); }

bool self_issued(const X509* x) { return (flags_of(x) & EXFLAG_SI) != 0; }

void free_data(void* d) { policy_data_free(static_cast<X509_POLICY_DATA*>(d)); }
void free_node(void* n) { policy_node_free(static_cast<X509_POLICY_NODE*>(n)); }

// level_add_node within the tree's budget: every node made is counted, and
// none is made once the tree holds kMaxTreeNodes (node_count then exceeds
// it).  With `own_data` the tree takes the data over.
X509_POLICY_NODE* add_node(X509_POLICY_TREE* tree, X509_POLICY_LEVEL* level, X509_POLICY_DATA* data,
                           X509_POLICY_NODE* parent, bool own_data) {
  if (tree->node_count >= kMaxTreeNodes) {
    tree->node_count = kMaxTreeNodes + 1;
    return nullptr;
  }
  X509_POLICY_NODE* node = level_add_node(level, data, parent, own_data ? tree : nullptr);
  if (node != nullptr) tree->node_count++;
  return node;
}

// The chain's levels and the counters of RFC 3280, 6.1.2 (explicit_policy,
// inhibit_any_policy; policy_mapping is 0 from the start).
int tree_init(X509_POLICY_TREE** ptree, STACK* chain, unsigned int flags) {
  *ptree = nullptr;
  flags |= kFlagInhibitMap;
  const int n = sk_num(chain);
  int explicit_policy = (flags & kFlagExplicitPolicy) ? 0 : n + 1;
  int any_skip = (flags & kFlagInhibitAny) ? 0 : n + 1;
  if (n == 1) return 1;

  int ret = 1;
  for (int i = n - 2; i >= 0; i--) {
    X509* x = chain_cert(chain, i);
    if (X509_check_purpose(x, -1, -1) != 1) return 0;  // no memory for the facts
    const X509_POLICY_CACHE* cache = policy_cache_set(x);
    if (cache == nullptr) return 0;
    if (flags_of(x) & EXFLAG_INVALID_POLICY)
      ret = -1;
    else if (ret == 1 && cache->data == nullptr)
      ret = 2;
    // RFC 5280, 6.1.4 (h) and 6.1.5 (a): a self-issued intermediate does not
    // count down; the target always does.
    if (explicit_policy > 0) {
      if (!self_issued(x) || i == 0) explicit_policy--;
      if (cache->explicit_skip != -1 && cache->explicit_skip < explicit_policy)
        explicit_policy = static_cast<int>(cache->explicit_skip);
    }
  }
  if (ret == 2 && explicit_policy == 0) return kInitNoneExplicit;
  if (ret != 1) return ret;

  auto* tree = static_cast<X509_POLICY_TREE*>(MORVANE_malloc(sizeof(X509_POLICY_TREE)));
  if (tree == nullptr) return 0;
  memset(tree, 0, sizeof *tree);
  tree->levels = static_cast<X509_POLICY_LEVEL*>(
      MORVANE_malloc(sizeof(X509_POLICY_LEVEL) * static_cast<size_t>(n)));
  if (tree->levels == nullptr) {
    MORVANE_free(tree);
    return 0;
  }
  memset(tree->levels, 0, sizeof(X509_POLICY_LEVEL) * static_cast<size_t>(n));
  tree->nlevel = n;

  X509_POLICY_DATA* root = policy_data_new(nullptr, OBJ_nid2obj(kNidAnyPolicy), 0);
  if (root == nullptr || !add_node(tree, &tree->levels[0], root, nullptr, true)) {
    policy_data_free(root);
    X509_policy_tree_free(tree);
    return 0;
  }

  X509_POLICY_LEVEL* level = tree->levels;
  for (int i = n - 2; i >= 0; i--) {
    level++;
    X509* x = chain_cert(chain, i);
    const X509_POLICY_CACHE* cache = policy_cache_set(x);
    CRYPTO_add(&x->references, 1, CRYPTO_LOCK_X509);
    level->cert = x;
    if (cache->anyPolicy == nullptr) level->flags |= kFlagInhibitAny;
    // RFC 3280, 6.1.3 (d) (2) and 6.1.4 (j): a self-issued intermediate
    // neither counts down nor is subject to a count that reached 0.
    if (any_skip == 0) {
      if (!self_issued(x) || i == 0) level->flags |= kFlagInhibitAny;
    } else {
      if (!self_issued(x)) any_skip--;
      if (cache->any_skip >= 0 && cache->any_skip < any_skip)
        any_skip = static_cast<int>(cache->any_skip);
    }
    // Mapping is always inhibited.
    level->flags |= kFlagInhibitMap;
  }
  *ptree = tree;
  return explicit_policy == 0 ? kInitExplicit : 1;
}

// RFC 3280, 6.1.3 (d) (1): a node for each policy under the node of the
// same policy in the level above, else under its anyPolicy node.  The
// issuer-domain policies a certificate maps without listing them get none:
// with mapping inhibited such a node would go with the level's pruning, and
// the anyPolicy match of the level is left as it is, so however many there
// are they cost the tree nothing.
bool tree_link_nodes(X509_POLICY_LEVEL* curr, const X509_POLICY_CACHE* cache,
                     X509_POLICY_TREE* tree) {
  const X509_POLICY_LEVEL* last = curr - 1;
  for (int i = 0; i < sk_num(cache->data); i++) {
    auto* data = reinterpret_cast<X509_POLICY_DATA*>(sk_value(cache->data, i));
    if (data->flags & POLICY_DATA_FLAG_MAPPED_ANY) continue;
    X509_POLICY_NODE* parent = level_find_node(last, data->valid_policy);
    if (parent == nullptr) parent = last->anyPolicy;
    if (parent != nullptr && !add_node(tree, curr, data, parent, false)) return false;
  }
  return true;
}

// RFC 3280, 6.1.3 (d) (2): the certificate's anyPolicy matches every policy
// of the level above that has no child yet.
bool tree_link_any(X509_POLICY_LEVEL* curr, const X509_POLICY_CACHE* cache,
                   X509_POLICY_TREE* tree) {
  const X509_POLICY_LEVEL* last = curr - 1;
  for (int i = 0; i < sk_num(last->nodes); i++) {
    auto* node = reinterpret_cast<X509_POLICY_NODE*>(sk_value(last->nodes, i));
    if (node->nchild != 0) continue;
    X509_POLICY_DATA* data = policy_data_new(nullptr, node->data->valid_policy,
                                             node->data->flags & POLICY_DATA_FLAG_CRITICAL);
    if (data == nullptr) return false;
    data->qualifier_set = cache->anyPolicy->qualifier_set;
    data->flags |= POLICY_DATA_FLAG_SHARED_QUALIFIERS;
    if (!add_node(tree, curr, data, node, true)) {
      policy_data_free(data);
      return false;
    }
  }
  if (last->anyPolicy != nullptr && !add_node(tree, curr, cache->anyPolicy, last->anyPolicy, false))
    return false;
  return true;
}

// Removes from nodes each node that matches, lowering its parent's count.
template <class Pred>
void remove_nodes(STACK* nodes, Pred matches) {
  for (int i = sk_num(nodes) - 1; i >= 0; i--) {
    auto* node = reinterpret_cast<X509_POLICY_NODE*>(sk_value(nodes, i));
    if (!matches(node)) continue;
    if (node->parent != nullptr) node->parent->nchild--;
    policy_node_free(node);
    sk_delete(nodes, i);
  }
}

// RFC 3280, 6.1.3 (f) and 6.1.5 (g): removes the mapped policies of the new
// level, then every childless node above it.  false when the tree is empty.
bool tree_prune(X509_POLICY_TREE* tree, X509_POLICY_LEVEL* curr) {
  remove_nodes(curr->nodes, [](const X509_POLICY_NODE* node) {
    return (node->data->flags & (POLICY_DATA_FLAG_MAPPED | POLICY_DATA_FLAG_MAPPED_ANY)) != 0;
  });
  for (X509_POLICY_LEVEL* level = curr - 1; level >= tree->levels; level--) {
    remove_nodes(level->nodes, [](const X509_POLICY_NODE* node) { return node->nchild == 0; });
    if (level->anyPolicy != nullptr && level->anyPolicy->nchild == 0) {
      if (level->anyPolicy->parent != nullptr) level->anyPolicy->parent->nchild--;
      policy_node_free(level->anyPolicy);
      level->anyPolicy = nullptr;
    }
  }
  return tree->levels[0].anyPolicy != nullptr;
}

int tree_evaluate(X509_POLICY_TREE* tree) {
  for (int k = 1; k < tree->nlevel; k++) {
    X509_POLICY_LEVEL* curr = &tree->levels[k];
    const X509_POLICY_CACHE* cache = curr->cert->policy_cache;
    bool ok = tree_link_nodes(curr, cache, tree);
    if (ok && !(curr->flags & kFlagInhibitAny)) ok = tree_link_any(curr, cache, tree);
    if (!ok) return tree->node_count > kMaxTreeNodes ? kEvalTooLarge : kEvalFailed;
    // The level is complete: sorted once for the look-ups of the next one.
    sk_sort(curr->nodes);
    if (!tree_prune(tree, curr)) return kEvalEmpty;
  }
  return kEvalOk;
}

// A look-up index over the authority set: its nodes sorted by policy
// identifier, so that building the set and matching the user's policies
// against it cost n log n rather than a walk of the set per node.
struct AuthIndex {
  X509_POLICY_NODE** nodes = nullptr;
  int n = 0;
  AuthIndex() = default;
  AuthIndex(const AuthIndex&) = delete;
  AuthIndex& operator=(const AuthIndex&) = delete;
  ~AuthIndex() { MORVANE_free(nodes); }
};

// One candidate of the authority set and its place in the order found.
struct AuthCandidate {
  X509_POLICY_NODE* node;
  int pos;
};

int candidate_cmp(const void* a, const void* b) {
  const auto* x = static_cast<const AuthCandidate*>(a);
  const auto* y = static_cast<const AuthCandidate*>(b);
  const int c = OBJ_cmp(x->node->data->valid_policy, y->node->data->valid_policy);
  if (c != 0) return c;
  return x->pos < y->pos ? -1 : (x->pos > y->pos ? 1 : 0);
}

// The node of the index with policy id, or null (a binary search).
X509_POLICY_NODE* auth_index_find(const AuthIndex& index, const ASN1_OBJECT* id) {
  int lo = 0, hi = index.n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = OBJ_cmp(index.nodes[mid]->data->valid_policy, id);
    if (c == 0) return index.nodes[mid];
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

// Calls f(node) for each node whose parent is anyPolicy, level by level
// while the level above has an anyPolicy node (RFC 3280, 6.1.5 (g) (ii)).
template <class F>
void for_each_auth_candidate(const X509_POLICY_TREE* tree, F f) {
  for (int k = 1; k < tree->nlevel; k++) {
    const X509_POLICY_NODE* any = tree->levels[k - 1].anyPolicy;
    if (any == nullptr) break;
    STACK* nodes = tree->levels[k].nodes;
    for (int j = 0; j < sk_num(nodes); j++) {
      auto* node = reinterpret_cast<X509_POLICY_NODE*>(sk_value(nodes, j));
      if (node->parent == any) f(node);
    }
  }
}

// Appends to *set, in the order found, the candidates of the authority set,
// a node whose policy an earlier one holds left out; *index gets the nodes
// appended, sorted by policy.  The candidates are sorted once (by policy,
// then by their order) and each keeps its place only when it is the first of
// its policy.  false when memory runs out.
bool tree_add_auth_nodes(const X509_POLICY_TREE* tree, STACK** set, AuthIndex* index) {
  int count = 0;
  for_each_auth_candidate(tree, [&count](X509_POLICY_NODE*) { count++; });
  if (count == 0) return true;
  const size_t n = static_cast<size_t>(count);
  auto* sorted = static_cast<AuthCandidate*>(MORVANE_malloc(n * sizeof(AuthCandidate)));
  auto* keep = static_cast<unsigned char*>(MORVANE_malloc(n));
  index->nodes = static_cast<X509_POLICY_NODE**>(MORVANE_malloc(n * sizeof(X509_POLICY_NODE*)));
  bool ok = sorted != nullptr && keep != nullptr && index->nodes != nullptr;
  if (ok) {
    int pos = 0;
    for_each_auth_candidate(tree, [&](X509_POLICY_NODE* node) {
      sorted[pos] = {node, pos};
      pos++;
    });
    qsort(sorted, n, sizeof(AuthCandidate), candidate_cmp);
    for (int i = 0; i < count; i++) {
      const bool first = i == 0 || OBJ_cmp(sorted[i - 1].node->data->valid_policy,
                                           sorted[i].node->data->valid_policy) != 0;
      keep[sorted[i].pos] = first;
      if (first) index->nodes[index->n++] = sorted[i].node;
    }
    if (*set == nullptr) *set = policy_node_cmp_new();
    ok = *set != nullptr;
    if (ok) {
      pos = 0;
      for_each_auth_candidate(tree, [&](X509_POLICY_NODE* node) {
        if (ok && keep[pos]) ok = sk_push(*set, reinterpret_cast<char*>(node)) != 0;
        pos++;
      });
    }
  }
  MORVANE_free(sorted);
  MORVANE_free(keep);
  return ok;
}

// RFC 3280, 6.1.5 (g) (ii): the nodes whose parent is anyPolicy, level by
// level while the level above has an anyPolicy node.  When the last level
// has an anyPolicy node the authority set is that node and the others go to
// *pnodes (result 2); otherwise *pnodes is the authority set (result 1).
// *index is the look-up index over *pnodes.
int tree_calculate_authority_set(X509_POLICY_TREE* tree, STACK** pnodes, AuthIndex* index) {
  const X509_POLICY_LEVEL* last = &tree->levels[tree->nlevel - 1];
  STACK** addnodes = &tree->auth_policies;
  if (last->anyPolicy != nullptr) {
    if (tree->auth_policies == nullptr) tree->auth_policies = policy_node_cmp_new();
    if (tree->auth_policies == nullptr ||
        !sk_push(tree->auth_policies, reinterpret_cast<char*>(last->anyPolicy)))
      return 0;
    addnodes = pnodes;
  }
  if (!tree_add_auth_nodes(tree, addnodes, index)) return 0;
  if (addnodes == pnodes) return 2;
  *pnodes = tree->auth_policies;
  return 1;
}

// RFC 3280, 6.1.5 (g) (iii): the user's policies among the authority set;
// anyPolicy of the last level stands for those it does not hold.
int tree_calculate_user_set(X509_POLICY_TREE* tree, STACK* policy_oids, const AuthIndex& auth) {
  if (sk_num(policy_oids) <= 0) return 1;
  for (int i = 0; i < sk_num(policy_oids); i++)
    if (OBJ_obj2nid(reinterpret_cast<ASN1_OBJECT*>(sk_value(policy_oids, i))) == kNidAnyPolicy) {
      tree->flags |= POLICY_FLAG_ANY_POLICY;
      return 1;
    }
  X509_POLICY_NODE* any = tree->levels[tree->nlevel - 1].anyPolicy;
  for (int i = 0; i < sk_num(policy_oids); i++) {
    auto* oid = reinterpret_cast<ASN1_OBJECT*>(sk_value(policy_oids, i));
    X509_POLICY_NODE* node = auth_index_find(auth, oid);
    if (node == nullptr) {
      if (any == nullptr) continue;
      X509_POLICY_DATA* extra = policy_data_new(nullptr, oid, any->data->flags & POLICY_DATA_FLAG_CRITICAL);
      if (extra == nullptr) return 0;
      extra->qualifier_set = any->data->qualifier_set;
      extra->flags |= POLICY_DATA_FLAG_SHARED_QUALIFIERS | POLICY_DATA_FLAG_EXTRA_NODE;
      node = add_node(tree, nullptr, extra, any->parent, true);
      if (node == nullptr) {
        policy_data_free(extra);
        return tree->node_count > kMaxTreeNodes ? kEvalTooLarge : 0;
      }
    }
    if (tree->user_policies == nullptr) tree->user_policies = sk_new_null();
    if (tree->user_policies == nullptr || !sk_push(tree->user_policies, reinterpret_cast<char*>(node))) {
      if (node->data->flags & POLICY_DATA_FLAG_EXTRA_NODE) policy_node_free(node);
      return 0;
    }
  }
  return 1;
}

}  // namespace

}  // namespace morvane::x509v3

/* see morvane/x509v3.h */
void X509_policy_tree_free(X509_POLICY_TREE* tree) {
  using namespace morvane::x509v3;
  if (tree == nullptr) return;
  sk_free(tree->auth_policies);
  sk_pop_free(tree->user_policies, [](void* n) {
    auto* node = static_cast<X509_POLICY_NODE*>(n);
    if (node->data->flags & POLICY_DATA_FLAG_EXTRA_NODE) policy_node_free(node);
  });
  for (int i = 0; i < tree->nlevel; i++) {
    X509_POLICY_LEVEL* level = &tree->levels[i];
    X509_free(level->cert);
    sk_pop_free(level->nodes, free_node);
    policy_node_free(level->anyPolicy);
  }
  sk_pop_free(tree->extra_data, free_data);
  MORVANE_free(tree->levels);
  MORVANE_free(tree);
}

/* see morvane/x509v3.h */
int X509_policy_check(X509_POLICY_TREE** ptree, int* pexplicit_policy, STACK* certs,
                      STACK* policy_oids, unsigned int flags) {
  using namespace morvane::x509v3;
  if (ptree == nullptr || pexplicit_policy == nullptr || certs == nullptr) {
    X509V3err(0, ERR_R_PASSED_NULL_PARAMETER);
    if (ptree != nullptr) *ptree = nullptr;
    if (pexplicit_policy != nullptr) *pexplicit_policy = 0;
    return 0;
  }
  X509_POLICY_TREE* tree = nullptr;
  *ptree = nullptr;
  *pexplicit_policy = 0;
  int ret = tree_init(&tree, certs, flags);
  switch (ret) {
    case 0:
      return 0;
    case 2:
      return 1;
    case kInitNoneExplicit:
      *pexplicit_policy = 1;
      return -2;
    case -1:
      return -1;
    case kInitExplicit:
      *pexplicit_policy = 1;
      break;
    default:
      if (tree == nullptr) return 1;
      break;
  }

  ret = tree_evaluate(tree);
  if (ret != kEvalOk) {
    X509_policy_tree_free(tree);
    if (ret == kEvalEmpty) return *pexplicit_policy ? -2 : 1;
    return ret == kEvalTooLarge ? X509_PCY_TREE_TOO_LARGE : 0;
  }

  STACK* auth_nodes = nullptr;
  AuthIndex auth_index;
  ret = tree_calculate_authority_set(tree, &auth_nodes, &auth_index);
  if (ret == 0) {
    if (auth_nodes != tree->auth_policies) sk_free(auth_nodes);
    X509_policy_tree_free(tree);
    return 0;
  }
  const int user = tree_calculate_user_set(tree, policy_oids, auth_index);
  if (ret == 2) sk_free(auth_nodes);
  if (user != 1) {
    X509_policy_tree_free(tree);
    return user == kEvalTooLarge ? X509_PCY_TREE_TOO_LARGE : 0;
  }

  *ptree = tree;
  if (*pexplicit_policy) {
    STACK* nodes = X509_policy_tree_get0_user_policies(tree);
    if (sk_num(nodes) <= 0) return -2;
  }
  return 1;
}
