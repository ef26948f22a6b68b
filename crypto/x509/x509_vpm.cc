// Verification parameter blocks: creation, field setters, inheritance from
// one block into another, and the named blocks (a built-in table and the one
// the application fills).
//
// Implementation notes: the built-in blocks are constant data, sorted by
// name for the binary search, and never freed; the added table is a stack
// created on first use and changed without a lock.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include <stddef.h>

static_assert(offsetof(X509_VERIFY_PARAM, check_time) == 8 &&
              offsetof(X509_VERIFY_PARAM, purpose) == 32 &&
              offsetof(X509_VERIFY_PARAM, policies) == 48 && sizeof(X509_VERIFY_PARAM) == 56);

namespace {

constexpr unsigned long kFlagUseCheckTime = 0x2;
constexpr unsigned long kFlagPolicyCheck = 0x80;
constexpr unsigned long kFlagPolicyFlags = 0x80 | 0x100 | 0x200 | 0x400;

constexpr X509_VERIFY_PARAM builtin(const char* name, int purpose, int trust, int depth) {
  return X509_VERIFY_PARAM{const_cast<char*>(name), 0, 0, 0, purpose, trust, depth, nullptr};
}

// clang-format off
constexpr X509_VERIFY_PARAM default_table[] = {
    builtin("default", 0, 0, 100),
    builtin("pkcs7", 4, 4, -1),          // S/MIME signing, e-mail trust
    builtin("smime_sign", 4, 4, -1),
    builtin("ssl_client", 1, 2, -1),
    builtin("ssl_server", 2, 3, -1),
};
// clang-format on

constexpr bool sorted_by_name() {
  for (size_t i = 1; i < sizeof default_table / sizeof default_table[0]; i++) {
    const char* a = default_table[i - 1].name;
    const char* b = default_table[i].name;
    while (*a != '\0' && *a == *b) a++, b++;
    if (static_cast<unsigned char>(*a) >= static_cast<unsigned char>(*b)) return false;
  }
  return true;
}
static_assert(sorted_by_name(), "default_table is searched by name in ascending order");

constinit STACK* param_table = nullptr;

int param_cmp(const char* const* a, const char* const* b) {
  return strcmp(reinterpret_cast<const X509_VERIFY_PARAM*>(*a)->name,
                reinterpret_cast<const X509_VERIFY_PARAM*>(*b)->name);
}

void free_object(void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); }

// The fields a constructor or a reset leaves: all unset, name kept.
void zero_fields(X509_VERIFY_PARAM* p) {
  p->check_time = 0;
  p->inh_flags = 0;
  p->flags = 0;
  p->purpose = 0;
  p->trust = 0;
  p->depth = -1;
  if (p->policies != nullptr) {
    sk_pop_free(p->policies, free_object);
    p->policies = nullptr;
  }
}

// Whether the source's value of one field replaces the destination's.
bool take(bool overwrite, bool to_default, bool src_set, bool dest_set) {
  if (overwrite) return true;
  return src_set && (to_default || !dest_set);
}

const X509_VERIFY_PARAM* builtin_lookup(const char* name) {
  size_t lo = 0, hi = sizeof default_table / sizeof default_table[0];
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    const int c = strcmp(name, default_table[mid].name);
    if (c == 0) return &default_table[mid];
    if (c < 0)
      hi = mid;
    else
      lo = mid + 1;
  }
  return nullptr;
}

}  // namespace

/* see morvane/x509.h */
X509_VERIFY_PARAM* X509_VERIFY_PARAM_new(void) {
  auto* p = static_cast<X509_VERIFY_PARAM*>(MORVANE_malloc(sizeof(X509_VERIFY_PARAM)));
  if (p == nullptr) return nullptr;
  memset(p, 0, sizeof *p);
  zero_fields(p);
  return p;
}

/* see morvane/x509.h */
void X509_VERIFY_PARAM_free(X509_VERIFY_PARAM* param) {
  if (param == nullptr) return;
  zero_fields(param);
  MORVANE_free(param->name);
  MORVANE_free(param);
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_inherit(X509_VERIFY_PARAM* dest, const X509_VERIFY_PARAM* src) {
  if (src == nullptr) return 1;
  const unsigned long f = dest->inh_flags | src->inh_flags;
  if (f & X509_VP_FLAG_ONCE) dest->inh_flags = 0;
  if (f & X509_VP_FLAG_LOCKED) return 1;
  const bool overwrite = (f & X509_VP_FLAG_OVERWRITE) != 0;
  const bool to_default = (f & X509_VP_FLAG_DEFAULT) != 0;

  if (take(overwrite, to_default, src->purpose != 0, dest->purpose != 0))
    dest->purpose = src->purpose;
  if (take(overwrite, to_default, src->trust != 0, dest->trust != 0)) dest->trust = src->trust;
  if (take(overwrite, to_default, src->depth != -1, dest->depth != -1)) dest->depth = src->depth;

  // A destination that fixes its own time keeps it unless overwriting.
  if (overwrite || !(dest->flags & kFlagUseCheckTime)) {
    dest->check_time = src->check_time;
    dest->flags &= ~kFlagUseCheckTime;
  }
  if (f & X509_VP_FLAG_RESET_FLAGS) dest->flags = 0;
  dest->flags |= src->flags;

  if (overwrite || (src->policies != nullptr && (to_default || dest->policies == nullptr)))
    if (!X509_VERIFY_PARAM_set1_policies(dest, src->policies)) return 0;
  return 1;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_set1(X509_VERIFY_PARAM* to, const X509_VERIFY_PARAM* from) {
  const unsigned long save = to->inh_flags;
  to->inh_flags |= X509_VP_FLAG_DEFAULT;
  const int ret = X509_VERIFY_PARAM_inherit(to, from);
  to->inh_flags = save;
  return ret;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_set1_name(X509_VERIFY_PARAM* param, const char* name) {
  MORVANE_free(param->name);
  param->name = nullptr;
  if (name == nullptr) return 1;
  param->name = BUF_strdup(name);
  return param->name != nullptr;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_set_flags(X509_VERIFY_PARAM* param, unsigned long flags) {
  param->flags |= flags;
  if (flags & kFlagPolicyFlags) param->flags |= kFlagPolicyCheck;
  return 1;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_clear_flags(X509_VERIFY_PARAM* param, unsigned long flags) {
  param->flags &= ~flags;
  return 1;
}

/* see morvane/x509.h */
unsigned long X509_VERIFY_PARAM_get_flags(X509_VERIFY_PARAM* param) { return param->flags; }

/* see morvane/x509.h */
int X509_VERIFY_PARAM_set_purpose(X509_VERIFY_PARAM* param, int purpose) {
  return X509_PURPOSE_set(&param->purpose, purpose);
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_set_trust(X509_VERIFY_PARAM* param, int trust) {
  return X509_TRUST_set(&param->trust, trust);
}

/* see morvane/x509.h */
void X509_VERIFY_PARAM_set_depth(X509_VERIFY_PARAM* param, int depth) { param->depth = depth; }

/* see morvane/x509.h */
int X509_VERIFY_PARAM_get_depth(const X509_VERIFY_PARAM* param) { return param->depth; }

/* see morvane/x509.h */
void X509_VERIFY_PARAM_set_time(X509_VERIFY_PARAM* param, time_t t) {
  param->check_time = t;
  param->flags |= kFlagUseCheckTime;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_add0_policy(X509_VERIFY_PARAM* param, ASN1_OBJECT* policy) {
  if (param->policies == nullptr) param->policies = sk_new_null();
  if (param->policies == nullptr || !sk_push(param->policies, reinterpret_cast<char*>(policy))) {
    X509err(X509_F_X509_VERIFY_PARAM_ADD0_POLICY, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  // A policy list is only worth having when it is checked: the same as
  // X509_VERIFY_PARAM_set1_policies.
  param->flags |= kFlagPolicyCheck;
  return 1;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_set1_policies(X509_VERIFY_PARAM* param, STACK* policies) {
  if (param == nullptr) return 0;
  if (param->policies != nullptr) {
    sk_pop_free(param->policies, free_object);
    param->policies = nullptr;
  }
  if (policies == nullptr) return 1;
  param->policies = sk_new_null();
  if (param->policies == nullptr) return 0;
  for (int i = 0; i < sk_num(policies); i++) {
    ASN1_OBJECT* copy = OBJ_dup(reinterpret_cast<const ASN1_OBJECT*>(sk_value(policies, i)));
    if (copy == nullptr) return 0;
    if (!sk_push(param->policies, reinterpret_cast<char*>(copy))) {
      ASN1_OBJECT_free(copy);
      return 0;
    }
  }
  param->flags |= kFlagPolicyCheck;
  return 1;
}

/* see morvane/x509.h */
int X509_VERIFY_PARAM_add0_table(X509_VERIFY_PARAM* param) {
  if (param->name == nullptr) return 0;  // a table entry is found by its name
  if (param_table == nullptr) {
    param_table = sk_new(param_cmp);
    if (param_table == nullptr) return 0;
  } else {
    const int idx = sk_find(param_table, reinterpret_cast<char*>(param));
    if (idx != -1) {
      auto* old = reinterpret_cast<X509_VERIFY_PARAM*>(sk_value(param_table, idx));
      if (old == param) return 1;
      sk_delete(param_table, idx);
      X509_VERIFY_PARAM_free(old);
    }
  }
  if (!sk_push(param_table, reinterpret_cast<char*>(param))) return 0;
  // Sorted here, so that the lookups of verifying threads write nothing.
  sk_sort(param_table);
  return 1;
}

/* see morvane/x509.h */
const X509_VERIFY_PARAM* X509_VERIFY_PARAM_lookup(const char* name) {
  if (name == nullptr) return nullptr;
  if (param_table != nullptr) {
    X509_VERIFY_PARAM key{};
    key.name = const_cast<char*>(name);
    const int idx = sk_find(param_table, reinterpret_cast<char*>(&key));
    if (idx != -1) return reinterpret_cast<const X509_VERIFY_PARAM*>(sk_value(param_table, idx));
  }
  return builtin_lookup(name);
}

/* see morvane/x509.h */
void X509_VERIFY_PARAM_table_cleanup(void) {
  if (param_table != nullptr)
    sk_pop_free(param_table, [](void* p) {
      X509_VERIFY_PARAM_free(static_cast<X509_VERIFY_PARAM*>(p));
    });
  param_table = nullptr;
}
