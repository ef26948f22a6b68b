// Placeholders for the calls of vfy_deps.h until their pieces are merged:
// the parameter block, the issued-by test by names alone and permissive CA,
// trust and policy answers, so that the verifier runs meanwhile; the rest
// queues "called a function that was disabled at compile-time" and returns
// its failure value.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/unbuilt.h"
#include "x509/vfy_deps.h"

#define UNBUILT MORVANE_UNBUILT(ERR_LIB_X509, 0)

// A bare block, so that stores and contexts can be made meanwhile.
X509_VERIFY_PARAM* X509_VERIFY_PARAM_new(void) {
  auto* p = static_cast<X509_VERIFY_PARAM*>(MORVANE_malloc(sizeof(X509_VERIFY_PARAM)));
  if (p == nullptr) return nullptr;
  memset(p, 0, sizeof(*p));
  p->depth = -1;
  return p;
}
void X509_VERIFY_PARAM_free(X509_VERIFY_PARAM* p) { MORVANE_free(p); }
// Copies the set fields, enough for the verifier's own tests meanwhile.
int X509_VERIFY_PARAM_inherit(X509_VERIFY_PARAM* to, const X509_VERIFY_PARAM* from) {
  if (from == nullptr) return 1;
  if (from->purpose != 0 && to->purpose == 0) to->purpose = from->purpose;
  if (from->trust != 0 && to->trust == 0) to->trust = from->trust;
  if (from->depth != -1 && to->depth == -1) to->depth = from->depth;
  if (!(to->flags & 0x2)) to->check_time = from->check_time;
  to->flags |= from->flags;
  return 1;
}
int X509_VERIFY_PARAM_set1(X509_VERIFY_PARAM*, const X509_VERIFY_PARAM*) { UNBUILT; return 0; }
int X509_VERIFY_PARAM_set_flags(X509_VERIFY_PARAM* p, unsigned long flags) {
  p->flags |= flags;
  if (flags & 0x780) p->flags |= 0x80;
  return 1;
}
int X509_VERIFY_PARAM_set_purpose(X509_VERIFY_PARAM*, int) { UNBUILT; return 0; }
int X509_VERIFY_PARAM_set_trust(X509_VERIFY_PARAM*, int) { UNBUILT; return 0; }
void X509_VERIFY_PARAM_set_depth(X509_VERIFY_PARAM* p, int depth) { p->depth = depth; }
void X509_VERIFY_PARAM_set_time(X509_VERIFY_PARAM* p, time_t t) {
  p->check_time = t;
  p->flags |= 0x2;
}
const X509_VERIFY_PARAM* X509_VERIFY_PARAM_lookup(const char* name) {
  static constinit X509_VERIFY_PARAM kDefault = {nullptr, 0, 0, 0, 0, 0, 100, nullptr};
  if (strcmp(name, "default") == 0) return &kDefault;
  UNBUILT;
  return nullptr;
}
int X509_check_issued(X509* issuer, X509* subject) {
  return X509_NAME_cmp(X509_get_subject_name(issuer), X509_get_issuer_name(subject)) == 0 ? 0 : 29;
}
int X509_check_ca(X509*) { return 1; }
int X509_check_trust(X509*, int, int) { return 1; }
int X509_PURPOSE_get_by_id(int) { UNBUILT; return -1; }
X509_PURPOSE* X509_PURPOSE_get0(int) { UNBUILT; return nullptr; }
int X509_PURPOSE_get_trust(X509_PURPOSE*) { UNBUILT; return 0; }
int X509_TRUST_get_by_id(int) { UNBUILT; return -1; }
int X509_policy_check(X509_POLICY_TREE**, int*, STACK*, STACK*, unsigned int) { return 1; }
void X509_policy_tree_free(X509_POLICY_TREE*) {}
