// What a chain search has learnt of its issuers: entries kept in the order
// they were learnt, found through an index sorted by digest and trust.

#include "x509_path_known.h"

#include <string.h>

#include <algorithm>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

namespace morvane::x509 {

KnownIssuers::~KnownIssuers() {
  for (int i = 0; i < n_; i++) X509_free(entries_[i].up);
  MORVANE_free(entries_);
  MORVANE_free(order_);
}

int KnownIssuers::lower_bound(const unsigned char* digest, bool trusted, bool* found) const {
  auto cmp = [&](int entry) {
    const Entry& e = entries_[entry];
    const int c = memcmp(e.digest, digest, sizeof(e.digest));
    return c != 0 ? c : static_cast<int>(e.trusted) - static_cast<int>(trusted);
  };
  const int* at =
      std::lower_bound(order_, order_ + keys_, 0, [&](int entry, int) { return cmp(entry) < 0; });
  *found = at != order_ + keys_ && cmp(*at) == 0;
  return static_cast<int>(at - order_);
}

int KnownIssuers::find(X509* x, bool trusted) const {
  if (keys_ == 0 || X509_check_purpose(x, -1, 0) != 1) return -1;
  bool found;
  const int at = lower_bound(x->sha1_hash, trusted, &found);
  return found ? order_[at] : -1;
}

int KnownIssuers::add(X509* x, bool trusted, const Entry& e) {
  if (X509_check_purpose(x, -1, 0) != 1) return -1;
  if (n_ == cap_) {
    const int cap = cap_ == 0 ? 16 : cap_ * 2;
    auto* entries =
        static_cast<Entry*>(MORVANE_realloc(entries_, static_cast<size_t>(cap) * sizeof(Entry)));
    if (entries != nullptr) entries_ = entries;
    int* order = nullptr;
    if (entries != nullptr)
      order = static_cast<int*>(MORVANE_realloc(order_, static_cast<size_t>(cap) * sizeof(int)));
    if (order == nullptr) {
      ERR_put_error(ERR_LIB_X509, X509_F_X509_VERIFY_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                    __LINE__);
      return -2;
    }
    order_ = order;
    cap_ = cap;
  }
  Entry& added = entries_[n_];
  added = e;
  memcpy(added.digest, x->sha1_hash, sizeof(added.digest));
  added.trusted = trusted;
  if (added.up != nullptr) CRYPTO_add(&added.up->references, 1, CRYPTO_LOCK_X509);
  bool found;
  const int at = lower_bound(added.digest, trusted, &found);
  if (!found) {
    memmove(order_ + at + 1, order_ + at, static_cast<size_t>(keys_ - at) * sizeof(int));
    order_[at] = n_;
    keys_++;
  } else if (added.reusable || !entries_[order_[at]].reusable) {
    order_[at] = n_;
  }
  return n_++;
}

}  // namespace morvane::x509
