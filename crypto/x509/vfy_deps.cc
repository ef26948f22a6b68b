// Placeholder for the policy evaluation of vfy_deps.h until the policy tree
// is merged: every chain passes without a tree.

#include "x509/vfy_deps.h"

int X509_policy_check(X509_POLICY_TREE** ptree, int*, STACK*, STACK*, unsigned int) {
  *ptree = nullptr;
  return 1;
}

void X509_policy_tree_free(X509_POLICY_TREE*) {}
