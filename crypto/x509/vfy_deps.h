// Calls of the neighbouring X.509 pieces (verification parameters, facts,
// purposes and trust, the policy tree) that the store and the verifier use, under their final names.
// vfy_deps.cc holds placeholders until those pieces are merged; both files
// go away then.
#ifndef MORVANE_X509_VFY_DEPS_H
#define MORVANE_X509_VFY_DEPS_H

#include <time.h>

#include <morvane/bio.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

struct X509_VERIFY_PARAM_st {
  char* name;
  time_t check_time;
  unsigned long inh_flags;
  unsigned long flags;
  int purpose;
  int trust;
  int depth;
  STACK* policies;
};

typedef struct x509_purpose_st X509_PURPOSE;

extern "C" {
X509_VERIFY_PARAM* X509_VERIFY_PARAM_new(void);
void X509_VERIFY_PARAM_free(X509_VERIFY_PARAM* param);
int X509_VERIFY_PARAM_inherit(X509_VERIFY_PARAM* to, const X509_VERIFY_PARAM* from);
int X509_VERIFY_PARAM_set1(X509_VERIFY_PARAM* to, const X509_VERIFY_PARAM* from);
int X509_VERIFY_PARAM_set_flags(X509_VERIFY_PARAM* param, unsigned long flags);
int X509_VERIFY_PARAM_set_purpose(X509_VERIFY_PARAM* param, int purpose);
int X509_VERIFY_PARAM_set_trust(X509_VERIFY_PARAM* param, int trust);
void X509_VERIFY_PARAM_set_depth(X509_VERIFY_PARAM* param, int depth);
void X509_VERIFY_PARAM_set_time(X509_VERIFY_PARAM* param, time_t t);
const X509_VERIFY_PARAM* X509_VERIFY_PARAM_lookup(const char* name);
int X509_check_issued(X509* issuer, X509* subject);
int X509_check_ca(X509* x);
int X509_check_trust(X509* x, int id, int flags);
int X509_PURPOSE_get_by_id(int id);
X509_PURPOSE* X509_PURPOSE_get0(int idx);
int X509_PURPOSE_get_trust(X509_PURPOSE* xp);
int X509_TRUST_get_by_id(int id);
int X509_policy_check(X509_POLICY_TREE** ptree, int* pexplicit_policy, STACK* certs,
                      STACK* policy_oids, unsigned int flags);
void X509_policy_tree_free(X509_POLICY_TREE* tree);
}

#endif  // MORVANE_X509_VFY_DEPS_H
