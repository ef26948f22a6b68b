// The policy data a certificate caches for chain verification (RFC 5280,
// 6.1.3 (d) to (i)): its policies with their qualifiers, its mappings and
// its policy constraints, decoded once.
//
// Implementation notes: the cache is built under lock 3 held for writing
// and attached to the certificate once built.  Invalid or inconsistent
// policy extensions never fail the build: they set EXFLAG_INVALID_POLICY on
// the certificate, which makes the policy check give -1; only a lack of
// memory leaves the cache unbuilt (and the mark unset).

#include <algorithm>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "internal/err_watch.h"
#include "internal/lock.h"
#include "x509v3/internal.h"
#include "x509v3/pcy_int.h"

namespace morvane::x509v3 {

namespace {

constexpr int kNidCertificatePolicies = 89;
constexpr int kNidPolicyConstraints = 401;
constexpr int kNidPolicyMappings = 747;
constexpr int kNidInhibitAnyPolicy = 748;

int data_cmp(const char* const* a, const char* const* b) {
  return OBJ_cmp(reinterpret_cast<const X509_POLICY_DATA*>(*a)->valid_policy,
                 reinterpret_cast<const X509_POLICY_DATA*>(*b)->valid_policy);
}

int ref_cmp(const char* const* a, const char* const* b) {
  return OBJ_cmp(reinterpret_cast<const X509_POLICY_REF*>(*a)->subjectDomainPolicy,
                 reinterpret_cast<const X509_POLICY_REF*>(*b)->subjectDomainPolicy);
}

void data_free(void* d) { policy_data_free(static_cast<X509_POLICY_DATA*>(d)); }

void ref_free(void* r) {
  auto* ref = static_cast<X509_POLICY_REF*>(r);
  ASN1_OBJECT_free(ref->subjectDomainPolicy);
  MORVANE_free(ref);
}

void free_object(void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); }
void free_policyinfo(void* p) { POLICYINFO_free(static_cast<POLICYINFO*>(p)); }
void free_mapping(void* p) { POLICY_MAPPING_free(static_cast<POLICY_MAPPING*>(p)); }

// Result of a build step: done, the certificate's extensions are bad (build
// over; the caller sets the mark), or out of memory.
enum class Step { kOk, kBad, kNoMemory };

// The data of each policy of the list (RFC 5280, 4.2.1.4): an identifier
// listed twice, or anyPolicy twice, makes the list invalid.
Step cache_create(X509_POLICY_CACHE* cache, STACK* policies, int crit) {
  if (sk_num(policies) == 0) {
    // An empty certificatePolicies breaks the syntax (SIZE (1..MAX)); it is
    // a bad certificate, not a lack of memory.
    return Step::kBad;
  }
  cache->data = sk_new(data_cmp);
  if (cache->data == nullptr) return Step::kNoMemory;
  bool invalid = false;
  for (int i = 0; i < sk_num(policies); i++) {
    auto* policy = reinterpret_cast<POLICYINFO*>(sk_value(policies, i));
    X509_POLICY_DATA* data = policy_data_new(policy, nullptr, crit);
    if (data == nullptr) return Step::kNoMemory;
    if (OBJ_obj2nid(data->valid_policy) == kNidAnyPolicy) {
      if (cache->anyPolicy != nullptr) {
        invalid = true;
        policy_data_free(data);
      } else {
        cache->anyPolicy = data;
      }
    } else if (!sk_push(cache->data, reinterpret_cast<char*>(data))) {
      policy_data_free(data);
      return Step::kNoMemory;
    }
  }
  // Sorted once; an identifier listed twice then sits beside itself.
  sk_sort(cache->data);
  for (int i = 1; i < sk_num(cache->data) && !invalid; i++)
    invalid = OBJ_cmp(reinterpret_cast<X509_POLICY_DATA*>(sk_value(cache->data, i - 1))->valid_policy,
                      reinterpret_cast<X509_POLICY_DATA*>(sk_value(cache->data, i))->valid_policy) == 0;
  if (invalid) {
    sk_pop_free(cache->data, data_free);
    cache->data = nullptr;
    return Step::kBad;
  }
  return Step::kOk;
}

// One mapping of the list and its place there.
struct MappingAt {
  const POLICY_MAPPING* map;
  int index;
};

// The data among the first n of `data` (sorted by identifier) with
// identifier id, or null.
X509_POLICY_DATA* listed_data(STACK* data, int n, const ASN1_OBJECT* id) {
  int lo = 0, hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    auto* d = reinterpret_cast<X509_POLICY_DATA*>(sk_value(data, mid));
    const int c = OBJ_cmp(d->valid_policy, id);
    if (c == 0) return d;
    if (c < 0)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

// Adds the mapping's subject-domain policy to the data's expected set and
// a reference to `maps`: false without memory.
bool add_mapping(X509_POLICY_CACHE* cache, X509_POLICY_DATA* data, const POLICY_MAPPING* map) {
  if (data->expected_policy_set == nullptr) data->expected_policy_set = sk_new_null();
  ASN1_OBJECT* expected = OBJ_dup(map->subjectDomainPolicy);
  if (data->expected_policy_set == nullptr || expected == nullptr ||
      !sk_push(data->expected_policy_set, reinterpret_cast<char*>(expected))) {
    ASN1_OBJECT_free(expected);
    return false;
  }
  auto* ref = static_cast<X509_POLICY_REF*>(MORVANE_malloc(sizeof(X509_POLICY_REF)));
  ASN1_OBJECT* subject = ref == nullptr ? nullptr : OBJ_dup(map->subjectDomainPolicy);
  if (subject == nullptr || !sk_push(cache->maps, reinterpret_cast<char*>(ref))) {
    ASN1_OBJECT_free(subject);
    MORVANE_free(ref);
    return false;
  }
  ref->subjectDomainPolicy = subject;
  ref->data = data;
  return true;
}

// The data of the mappings of each issuer-domain policy: the one listed,
// marked mapped, or one made from anyPolicy (appended to the data); without
// either the mappings are ignored.  `order` is sorted by issuer-domain
// policy, then by place; the first `listed` data are the listed ones.
Step map_issuer_domains(X509_POLICY_CACHE* cache, const MappingAt* order, int n, int listed) {
  for (int i = 0; i < n;) {
    const ASN1_OBJECT* issuer = order[i].map->issuerDomainPolicy;
    int end = i + 1;
    while (end < n && OBJ_cmp(order[end].map->issuerDomainPolicy, issuer) == 0) end++;
    X509_POLICY_DATA* data = listed_data(cache->data, listed, issuer);
    if (data != nullptr) {
      data->flags |= POLICY_DATA_FLAG_MAPPED;
    } else if (cache->anyPolicy == nullptr) {
      i = end;  // neither listed nor covered by anyPolicy: ignored
      continue;
    } else {
      data = policy_data_new(nullptr, issuer, cache->anyPolicy->flags & POLICY_DATA_FLAG_CRITICAL);
      if (data == nullptr) return Step::kNoMemory;
      data->qualifier_set = cache->anyPolicy->qualifier_set;
      data->flags |= POLICY_DATA_FLAG_MAPPED_ANY | POLICY_DATA_FLAG_SHARED_QUALIFIERS;
      if (!sk_push(cache->data, reinterpret_cast<char*>(data))) {
        policy_data_free(data);
        return Step::kNoMemory;
      }
    }
    for (; i < end; i++)
      if (!add_mapping(cache, data, order[i].map)) return Step::kNoMemory;
  }
  return Step::kOk;
}

// The certificate's mappings (RFC 5280, 4.2.1.5): anyPolicy on either side
// makes the list invalid, and so does a subject-domain policy mapped again
// after a mapping that counted (one whose issuer-domain policy is listed or
// covered by anyPolicy).  The mappings are sorted once by subject-domain
// policy and once by issuer-domain policy, and the data and references
// once when all are made: n log n comparisons for n mappings, the list
// checked whole before anything is made.
Step cache_set_mapping(X509_POLICY_CACHE* cache, STACK* maps) {
  const int n = sk_num(maps);
  if (n <= 0) return Step::kBad;
  for (int i = 0; i < n; i++) {
    auto* map = reinterpret_cast<POLICY_MAPPING*>(sk_value(maps, i));
    if (OBJ_obj2nid(map->subjectDomainPolicy) == kNidAnyPolicy ||
        OBJ_obj2nid(map->issuerDomainPolicy) == kNidAnyPolicy)
      return Step::kBad;
  }
  auto* order = static_cast<MappingAt*>(MORVANE_malloc(sizeof(MappingAt) * static_cast<size_t>(n)));
  if (order == nullptr) return Step::kNoMemory;
  for (int i = 0; i < n; i++) order[i] = {reinterpret_cast<POLICY_MAPPING*>(sk_value(maps, i)), i};
  const int listed = sk_num(cache->data);  // sorted by cache_create
  std::sort(order, order + n, [](const MappingAt& a, const MappingAt& b) {
    const int c = OBJ_cmp(a.map->subjectDomainPolicy, b.map->subjectDomainPolicy);
    return c != 0 ? c < 0 : a.index < b.index;
  });
  Step result = Step::kOk;
  for (int i = 0; i + 1 < n && result == Step::kOk; i++) {
    const POLICY_MAPPING* map = order[i].map;
    if (OBJ_cmp(map->subjectDomainPolicy, order[i + 1].map->subjectDomainPolicy) == 0 &&
        (cache->anyPolicy != nullptr ||
         listed_data(cache->data, listed, map->issuerDomainPolicy) != nullptr))
      result = Step::kBad;
  }
  if (result == Step::kOk) {
    cache->maps = sk_new(ref_cmp);
    if (cache->maps == nullptr) result = Step::kNoMemory;
  }
  if (result == Step::kOk) {
    std::sort(order, order + n, [](const MappingAt& a, const MappingAt& b) {
      const int c = OBJ_cmp(a.map->issuerDomainPolicy, b.map->issuerDomainPolicy);
      return c != 0 ? c < 0 : a.index < b.index;
    });
    result = map_issuer_domains(cache, order, n, listed);
  }
  MORVANE_free(order);
  if (result != Step::kOk) {
    sk_pop_free(cache->maps, ref_free);
    cache->maps = nullptr;
    return result;
  }
  sk_sort(cache->data);
  sk_sort(cache->maps);
  return Step::kOk;
}

// Builds x's cache into *cache: kBad when x's policy extensions are invalid
// (the cache then holds what was read before), kNoMemory when memory ran out
// (as far as the steps themselves can tell).
Step cache_build(X509* x, X509_POLICY_CACHE* cache) {
  cache->any_skip = -1;
  cache->explicit_skip = -1;
  cache->map_skip = -1;

  // policyConstraints first (RFC 5280, 4.2.1.11): at least one field.
  int crit = -1;
  auto* pcons = static_cast<POLICY_CONSTRAINTS*>(X509_get_ext_d2i(x, kNidPolicyConstraints, &crit, nullptr));
  if (crit != -1) {
    if (pcons == nullptr) return Step::kBad;
    const bool ok =
        (pcons->requireExplicitPolicy != nullptr || pcons->inhibitPolicyMapping != nullptr) &&
        constraint_value(pcons->requireExplicitPolicy, &cache->explicit_skip) &&
        constraint_value(pcons->inhibitPolicyMapping, &cache->map_skip);
    POLICY_CONSTRAINTS_free(pcons);
    if (!ok) return Step::kBad;
  }

  auto* cpols = static_cast<STACK*>(X509_get_ext_d2i(x, kNidCertificatePolicies, &crit, nullptr));
  if (crit == -1) return Step::kOk;
  if (cpols == nullptr) return Step::kBad;
  const Step created = cache_create(cache, cpols, crit);
  sk_pop_free(cpols, free_policyinfo);
  if (created != Step::kOk) return created;

  auto* maps = static_cast<STACK*>(X509_get_ext_d2i(x, kNidPolicyMappings, &crit, nullptr));
  if (crit != -1) {
    if (maps == nullptr) return Step::kBad;
    const Step mapped = cache_set_mapping(cache, maps);
    sk_pop_free(maps, free_mapping);
    if (mapped != Step::kOk) return mapped;
  }

  auto* inhibit = static_cast<ASN1_INTEGER*>(X509_get_ext_d2i(x, kNidInhibitAnyPolicy, &crit, nullptr));
  if (crit != -1) {
    const bool ok = inhibit != nullptr && constraint_value(inhibit, &cache->any_skip);
    ASN1_INTEGER_free(inhibit);
    if (!ok) return Step::kBad;
  }
  return Step::kOk;
}

}  // namespace

}  // namespace morvane::x509v3

/* see morvane/x509v3.h */
X509_POLICY_DATA* policy_data_new(POLICYINFO* policy, const ASN1_OBJECT* id, int crit) {
  if (policy == nullptr && id == nullptr) return nullptr;
  ASN1_OBJECT* copy = nullptr;
  if (id != nullptr) {
    copy = OBJ_dup(id);
    if (copy == nullptr) return nullptr;
  }
  auto* data = static_cast<X509_POLICY_DATA*>(MORVANE_malloc(sizeof(X509_POLICY_DATA)));
  if (data == nullptr) {
    ASN1_OBJECT_free(copy);
    return nullptr;
  }
  data->flags = crit ? POLICY_DATA_FLAG_CRITICAL : 0;
  data->expected_policy_set = nullptr;
  if (id != nullptr) {
    data->valid_policy = copy;
    data->qualifier_set = nullptr;
  } else {
    data->valid_policy = policy->policyid;
    policy->policyid = nullptr;
    data->qualifier_set = policy->qualifiers;
    policy->qualifiers = nullptr;
  }
  return data;
}

/* see morvane/x509v3.h */
void policy_data_free(X509_POLICY_DATA* data) {
  if (data == nullptr) return;
  ASN1_OBJECT_free(data->valid_policy);
  if (!(data->flags & POLICY_DATA_FLAG_SHARED_QUALIFIERS))
    sk_pop_free(data->qualifier_set,
                [](void* q) { POLICYQUALINFO_free(static_cast<POLICYQUALINFO*>(q)); });
  sk_pop_free(data->expected_policy_set, morvane::x509v3::free_object);
  MORVANE_free(data);
}

/* see morvane/x509v3.h */
const X509_POLICY_CACHE* policy_cache_set(X509* x) {
  if (std::atomic_ref<X509_POLICY_CACHE*>(x->policy_cache).load(std::memory_order_acquire) == nullptr) {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509);
    if (x->policy_cache == nullptr) {
      auto* cache = static_cast<X509_POLICY_CACHE*>(MORVANE_malloc(sizeof(X509_POLICY_CACHE)));
      if (cache == nullptr) return nullptr;
      cache->anyPolicy = nullptr;
      cache->data = nullptr;
      cache->maps = nullptr;
      // An extension that did not decode for lack of memory is not
      // invalid: nothing is kept then, and the next caller builds again.
      using morvane::x509v3::Step;
      const morvane::internal::MallocFailureWatch watch;
      const Step built = morvane::x509v3::cache_build(x, cache);
      if (built == Step::kNoMemory || watch.seen()) {
        policy_cache_free(cache);
        return nullptr;
      }
      if (built == Step::kBad) morvane::x509v3::add_flags(x, EXFLAG_INVALID_POLICY);
      // Sorted now, so that look-ups from several verifications only read.
      sk_sort(cache->data);
      sk_sort(cache->maps);
      std::atomic_ref<X509_POLICY_CACHE*>(x->policy_cache).store(cache, std::memory_order_release);
    }
  }
  return x->policy_cache;
}

/* see morvane/x509v3.h */
const X509_POLICY_DATA* policy_cache_find_data(const X509_POLICY_CACHE* cache,
                                               const ASN1_OBJECT* id) {
  X509_POLICY_DATA key{};
  key.valid_policy = const_cast<ASN1_OBJECT*>(id);
  const int idx = sk_find(cache->data, reinterpret_cast<char*>(&key));
  return idx == -1 ? nullptr : reinterpret_cast<const X509_POLICY_DATA*>(sk_value(cache->data, idx));
}

/* see morvane/x509v3.h */
void policy_cache_free(X509_POLICY_CACHE* cache) {
  if (cache == nullptr) return;
  policy_data_free(cache->anyPolicy);
  sk_pop_free(cache->data, morvane::x509v3::data_free);
  sk_pop_free(cache->maps, morvane::x509v3::ref_free);
  MORVANE_free(cache);
}
