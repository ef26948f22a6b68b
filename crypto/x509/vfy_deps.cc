// Placeholders for the calls of vfy_deps.h until their pieces are merged:
// each queues "called a function that was disabled at compile-time" and
// returns its failure value.

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
int X509_VERIFY_PARAM_inherit(X509_VERIFY_PARAM*, const X509_VERIFY_PARAM*) { UNBUILT; return 0; }
int X509_VERIFY_PARAM_set1(X509_VERIFY_PARAM*, const X509_VERIFY_PARAM*) { UNBUILT; return 0; }
int X509_VERIFY_PARAM_set_flags(X509_VERIFY_PARAM*, unsigned long) { UNBUILT; return 0; }
int X509_VERIFY_PARAM_set_purpose(X509_VERIFY_PARAM*, int) { UNBUILT; return 0; }
int X509_VERIFY_PARAM_set_trust(X509_VERIFY_PARAM*, int) { UNBUILT; return 0; }
void X509_VERIFY_PARAM_set_depth(X509_VERIFY_PARAM*, int) { UNBUILT; }
void X509_VERIFY_PARAM_set_time(X509_VERIFY_PARAM*, time_t) { UNBUILT; }
const X509_VERIFY_PARAM* X509_VERIFY_PARAM_lookup(const char*) { UNBUILT; return nullptr; }
int X509_check_issued(X509*, X509*) { UNBUILT; return 29; }
int X509_check_ca(X509*) { UNBUILT; return 0; }
int X509_check_trust(X509*, int, int) { UNBUILT; return 3; }
int X509_PURPOSE_get_by_id(int) { UNBUILT; return -1; }
X509_PURPOSE* X509_PURPOSE_get0(int) { UNBUILT; return nullptr; }
int X509_PURPOSE_get_trust(X509_PURPOSE*) { UNBUILT; return 0; }
int X509_TRUST_get_by_id(int) { UNBUILT; return -1; }
int X509_policy_check(X509_POLICY_TREE**, int*, STACK*, STACK*, unsigned int) { UNBUILT; return 0; }
void X509_policy_tree_free(X509_POLICY_TREE*) {}
