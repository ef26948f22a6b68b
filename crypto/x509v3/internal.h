// Helpers shared by the sources of crypto/x509v3: the computation of a
// certificate's cached extension facts, the reading of constraint values and
// the freeing of a method's values.
#ifndef MORVANE_CRYPTO_X509V3_INTERNAL_H
#define MORVANE_CRYPTO_X509V3_INTERNAL_H

#include <atomic>

#include <morvane/x509.h>
#include <morvane/x509v3.h>

namespace morvane::x509v3 {

// x->ex_flags, read without a lock: the facts are published by a release
// store of EXFLAG_SET, and the policy cache adds its mark atomically.
inline unsigned long flags_of(const X509* x) {
  return std::atomic_ref<unsigned long>(const_cast<X509*>(x)->ex_flags)
      .load(std::memory_order_acquire);
}

// Adds bits to x->ex_flags (under lock 3, against readers outside it).
inline void add_flags(X509* x, unsigned long bits) {
  std::atomic_ref<unsigned long>(x->ex_flags).fetch_or(bits, std::memory_order_acq_rel);
}

// Computes x's extension facts unless EXFLAG_SET says they are computed,
// holding lock 3 for writing.  false when memory ran out: nothing is cached
// then, and the facts read as those of a certificate without extensions.
bool cache_extensions(X509* x);

// A constraint's count (a path length, a policy skip) into *out, which a
// null value leaves alone.  false when the value is negative or does not
// read as a long (ASN1_INTEGER_get's -1, e.g. an over-long encoding): the
// caller marks the extensions invalid rather than read "no limit".
bool constraint_value(const ASN1_INTEGER* value, long* out);

// Frees a value that method decoded or built: through its template when it
// has one, else its ext_free (if any).
void free_value(const X509V3_EXT_METHOD* method, void* value);

}  // namespace morvane::x509v3

#endif  // MORVANE_CRYPTO_X509V3_INTERNAL_H
