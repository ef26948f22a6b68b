// The iterations one reading or re-encryption of a PFX may spend: the MAC,
// every encrypted safe and every shrouded key draw on one budget, as large
// as the bound a single count has (PKCS5_MAX_FILE_ITER), so a file of many
// safes at that bound costs no more than one such count.
#ifndef MORVANE_PKCS12_WORK_BUDGET_H
#define MORVANE_PKCS12_WORK_BUDGET_H

#include <morvane/evp.h>
#include <morvane/pkcs12.h>
#include <morvane/x509.h>

namespace morvane::pkcs12 {

// The SEQUENCE parameter of a password-based algorithm, or null.
const ASN1_STRING* sequence_of(const X509_ALGOR* alg);

// The iteration count the password-based algorithm `alg` states (PKCS#5 v1,
// PKCS#12 or PBES2 with PBKDF2); 0 when it states none this library reads or
// one above the single-count bound, which the derivation itself refuses.
long stated_work(const X509_ALGOR* alg);
// The same for a MAC's count.
long stated_work(const ASN1_INTEGER* iter);
// The counts of a PFX's MAC and of its encrypted safes (a MAC or safes that
// do not decode count nothing here: reading them fails later).
long stated_work(PKCS12* p12);

class WorkBudget {
 public:
  // Takes `count` iterations from what is left; false, with "iteration
  // count too large" queued under `func`, when they are not there (nothing
  // is taken then).
  bool charge(long count, int func);
  bool charge(const X509_ALGOR* alg, int func) { return charge(stated_work(alg), func); }

 private:
  long left_ = PKCS5_MAX_FILE_ITER;
};

}  // namespace morvane::pkcs12

#endif  // MORVANE_PKCS12_WORK_BUDGET_H
