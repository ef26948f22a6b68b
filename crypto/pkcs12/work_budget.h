// The iterations one reading or re-encryption of a PFX may spend: the MAC,
// every encrypted safe and every shrouded key draw on one budget.  Counts
// are weighed by their digest's cost (internal/iter_count.h), so the budget
// is one of SHA-1 iterations.  It is what PKCS12_create writes at most (a
// MAC, a certificate safe and a shrouded key, each at PKCS5_MAX_FILE_ITER),
// so every file it writes is read, while a file of more safes or keys at
// that bound is refused before the work past the budget starts.
#ifndef MORVANE_PKCS12_WORK_BUDGET_H
#define MORVANE_PKCS12_WORK_BUDGET_H

#include <morvane/evp.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

namespace morvane::pkcs12 {

// Counts at PKCS5_MAX_FILE_ITER in one budget: the MAC, a certificate safe
// and a shrouded key.
inline constexpr long kBudgetCounts = 3;
inline constexpr long kBudget = kBudgetCounts * PKCS5_MAX_FILE_ITER;

// The SEQUENCE parameter of a password-based algorithm, or null.
const ASN1_STRING* sequence_of(const X509_ALGOR* alg);

// The SHA-1 iterations the password-based algorithm `alg` states (PKCS#5
// v1, PKCS#12 or PBES2 with PBKDF2), its count weighed by its digest; 0
// when it states none this library reads, names no algorithm of the table
// or weighs more than the single-count bound, which the derivation itself
// refuses.
long stated_work(const X509_ALGOR* alg);
// The same for the shrouded keys among `bags`, nested safe-contents bags
// included.
long key_work(STACK* bags);
// The work a PFX states before anything is decrypted: its MAC and its
// encrypted safes, and with `plain_keys` the shrouded keys of its plain
// safes (a MAC or safes that do not decode count nothing here: reading
// them fails later).
long stated_work(PKCS12* p12, bool plain_keys);

class WorkBudget {
 public:
  explicit WorkBudget(int func) : func_(func) {}
  // Takes `work` from what is left; false, with "iteration budget
  // exceeded" queued, when it is not there (nothing is taken then).
  bool charge(long work);
  bool charge(const X509_ALGOR* alg) { return charge(stated_work(alg)); }

 private:
  long left_ = kBudget;
  int func_;
};

}  // namespace morvane::pkcs12

#endif  // MORVANE_PKCS12_WORK_BUDGET_H
