// The certificate-policy evaluation that the verifier calls, under its
// final name; vfy_deps.cc holds a placeholder until the policy tree is
// merged, and both files go away then.
#ifndef MORVANE_X509_VFY_DEPS_H
#define MORVANE_X509_VFY_DEPS_H

#include <morvane/stack.h>
#include <morvane/x509.h>

extern "C" {
int X509_policy_check(X509_POLICY_TREE** ptree, int* pexplicit_policy, STACK* certs,
                      STACK* policy_oids, unsigned int flags);
void X509_policy_tree_free(X509_POLICY_TREE* tree);
}

#endif  // MORVANE_X509_VFY_DEPS_H
