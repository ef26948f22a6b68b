// What one chain search has learnt of the certificates it took as issuers,
// so that a certificate met again, above another subject, costs one look-up
// instead of a search of everything above it: either nothing above it
// leads to a trust anchor by links that hold (dead), or the first chain
// found above it does (vouched), the certificates of that chain being kept.
#ifndef MORVANE_CRYPTO_X509_PATH_KNOWN_H
#define MORVANE_CRYPTO_X509_PATH_KNOWN_H

#include <morvane/x509.h>

namespace morvane::x509 {

class KnownIssuers {
 public:
  struct Entry {
    unsigned char digest[sizeof(X509::sha1_hash)];
    bool trusted;   // taken as a store certificate
    bool dead;      // else vouched
    bool reusable;  // learnt without keeping out any certificate below it
    bool cut;       // the depth limit ended a chain above it
    int index;      // its place in the chain when learnt
    X509* up;       // vouched: its issuer in the chain found (a reference)
    unsigned up_rank;
    int up_entry;  // vouched: the issuer's entry, -1 when the issuer is the anchor
  };

  KnownIssuers() = default;
  ~KnownIssuers();
  KnownIssuers(const KnownIssuers&) = delete;
  KnownIssuers& operator=(const KnownIssuers&) = delete;

  // The entry that speaks for x taken as trusted or not, or -1.
  int find(X509* x, bool trusted) const;

  const Entry& at(int i) const { return entries_[i]; }

  // Adds e (its digest and trust taken from x and trusted, a new reference
  // to e.up) and lets it speak for x unless it is not reusable and the
  // entry that does is.  Entries are never changed, so a vouched entry's
  // chain stays what was found.  The new entry's number; -1 when x has no
  // digest (nothing learnt); -2 with "malloc failure" queued.
  int add(X509* x, bool trusted, const Entry& e);

 private:
  // Where the entry for the digest and trust is or would go in order_.
  int lower_bound(const unsigned char* digest, bool trusted, bool* found) const;

  Entry* entries_ = nullptr;
  int n_ = 0;
  int cap_ = 0;
  int* order_ = nullptr;  // one entry number per digest and trust, in their order
  int keys_ = 0;
};

}  // namespace morvane::x509

#endif  // MORVANE_CRYPTO_X509_PATH_KNOWN_H
