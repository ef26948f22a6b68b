// The certificate store: its cache of certificates and revocation lists
// (ordered by type, then subject or issuer name in the folded order of
// internal/name_order.h, under lock 11), the lookup methods that fill the
// cache on demand, and the searches by name that the verifier makes.
// X509_NAME_cmp is no order to sort by (a PrintableString equals a
// UTF8String of its octets, but folds case and spaces only against another
// PrintableString), so the cache stands in the coarser folded order, in
// which the names X509_NAME_cmp calls equal to one name form one run; each
// search visits the whole run and selects in it with X509_NAME_cmp.
//
// Implementation notes: X509_STORE_new allocates the public store with an
// index of the cache behind it: the cached objects by a keyed hash of their
// signature value, then (only for objects that share that) by a keyed hash
// of the SHA-1 digest of their DER (for a certificate, the digest X509_cmp
// compares), each under a secret drawn once per process, so that no input
// can choose which objects share a key, and by the address of their
// certificate or list; an addition finds a duplicate in expected constant
// time whatever the objects share (the cache itself keeps those of one name
// in the order added).  The index follows the cache under lock 11; a cache that a caller
// changed itself (an object pushed, one removed) is indexed again at the
// next addition, and an index entry is read only while its object is found
// in the cache by address.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <atomic>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/sha.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "internal/lock.h"
#include "internal/name_order.h"
#include "x509_local.h"
#include "x509v3/internal.h"

namespace {

int x509_object_cmp(const char* const* pa, const char* const* pb) {
  const auto* a = reinterpret_cast<const X509_OBJECT*>(*pa);
  const auto* b = reinterpret_cast<const X509_OBJECT*>(*pb);
  const int ret = a->type - b->type;
  if (ret != 0) return ret;
  const X509_NAME* na;
  const X509_NAME* nb;
  switch (a->type) {
    case X509_LU_X509:
      na = a->data.x509->cert_info->subject;
      nb = b->data.x509->cert_info->subject;
      break;
    case X509_LU_CRL:
      na = a->data.crl->crl->issuer;
      nb = b->data.crl->crl->issuer;
      break;
    default:
      return 0;
  }
  return morvane::internal::folded_name_cmp(na, nb);
}

// The name a cached object is found by: a certificate's subject, a list's
// issuer.
X509_NAME* name_of(const X509_OBJECT* obj) {
  switch (obj->type) {
    case X509_LU_X509:
      return obj->data.x509->cert_info->subject;
    case X509_LU_CRL:
      return obj->data.crl->crl->issuer;
    default:
      return nullptr;
  }
}

void free_object(void* p) {
  auto* a = static_cast<X509_OBJECT*>(p);
  X509_OBJECT_free_contents(a);
  MORVANE_free(a);
}

void free_lookup(void* p) {
  auto* lu = static_cast<X509_LOOKUP*>(p);
  X509_LOOKUP_shutdown(lu);
  X509_LOOKUP_free(lu);
}

// Index of the first object of the type whose name stands with `name` in
// the cache's order (the run that holds every object of a name X509_NAME_cmp
// calls equal to it), sorting the stack first when needed, or -1; the
// caller holds lock 11 for writing.
int run_of(STACK* h, int type, X509_NAME* name) {
  X509_OBJECT stmp;
  X509 x509_s;
  X509_CINF cinf_s;
  X509_CRL crl_s;
  X509_CRL_INFO crl_info_s;
  stmp.type = type;
  switch (type) {
    case X509_LU_X509:
      memset(&x509_s, 0, sizeof(x509_s));
      memset(&cinf_s, 0, sizeof(cinf_s));
      x509_s.cert_info = &cinf_s;
      cinf_s.subject = name;
      stmp.data.x509 = &x509_s;
      break;
    case X509_LU_CRL:
      memset(&crl_s, 0, sizeof(crl_s));
      memset(&crl_info_s, 0, sizeof(crl_info_s));
      crl_s.crl = &crl_info_s;
      crl_info_s.issuer = name;
      stmp.data.crl = &crl_s;
      break;
    default:
      return -1;
  }
  return sk_find(h, reinterpret_cast<char*>(&stmp));
}

// Whether the object at index i of a cache is in the run of the type and
// name that run_of found.
bool in_run(STACK* h, int i, int type, const X509_NAME* name) {
  if (i >= sk_num(h)) return false;
  const auto* obj = reinterpret_cast<const X509_OBJECT*>(sk_value(h, i));
  return obj->type == type && morvane::internal::folded_name_cmp(name_of(obj), name) == 0;
}

// Index of the first object of the type and a name X509_NAME_cmp calls
// equal to `name`, or -1; as run_of.
int idx_by_subject(STACK* h, int type, X509_NAME* name) {
  const int first = run_of(h, type, name);
  if (first < 0) return -1;
  for (int i = first; in_run(h, i, type, name); i++) {
    const auto* obj = reinterpret_cast<const X509_OBJECT*>(sk_value(h, i));
    if (X509_NAME_cmp(name_of(obj), name) == 0) return i;
  }
  return -1;
}

// Whether two revocation lists are one: the same object, or the same
// encoding (the signatures are compared first, so that lists of one issuer
// are encoded only when those agree).
bool same_crl(X509_CRL* a, X509_CRL* b) {
  if (a == b) return true;
  if (a->signature != nullptr && b->signature != nullptr &&
      ASN1_STRING_cmp(a->signature, b->signature) != 0)
    return false;
  // Two lists as decoded, with one signature value and algorithm: their
  // signed parts' octets decide, and nothing is encoded.
  const ASN1_ENCODING* ea = a->crl != nullptr ? &a->crl->enc : nullptr;
  const ASN1_ENCODING* eb = b->crl != nullptr ? &b->crl->enc : nullptr;
  if (ea != nullptr && eb != nullptr && ea->enc != nullptr && eb->enc != nullptr &&
      ea->modified == 0 && eb->modified == 0 && a->signature != nullptr &&
      b->signature != nullptr && a->signature->flags == b->signature->flags) {
    morvane::x509::Written alg_a;
    morvane::x509::Written alg_b;
    morvane::x509::algorithm_der(a->sig_alg, alg_a);
    morvane::x509::algorithm_der(b->sig_alg, alg_b);
    if (alg_a.length() > 0 && alg_a.length() == alg_b.length() &&
        memcmp(alg_a.data(), alg_b.data(), static_cast<size_t>(alg_a.length())) == 0)
      return ea->len == eb->len && memcmp(ea->enc, eb->enc, static_cast<size_t>(ea->len)) == 0;
  }
  unsigned char* der_a = nullptr;
  unsigned char* der_b = nullptr;
  const int len_a = i2d_X509_CRL(a, &der_a);
  const int len_b = i2d_X509_CRL(b, &der_b);
  const bool same =
      len_a > 0 && len_a == len_b && memcmp(der_a, der_b, static_cast<size_t>(len_a)) == 0;
  MORVANE_free(der_a);
  MORVANE_free(der_b);
  return same;
}

// Whether the cached object c, of x's type and name, is x again: the same
// certificate (one object, or equal by X509_cmp), or the same revocation
// list (an issuer publishes a new list each period: those are not
// duplicates).
bool same_object(X509_OBJECT* c, X509_OBJECT* x) {
  switch (x->type) {
    case X509_LU_X509: {
      if (c->data.x509 == x->data.x509) return true;
      // The digests X509_cmp compares, from each one's encoding as decoded
      // where it has one, so that a copy refused works out no facts.
      unsigned char dc[SHA_DIGEST_LENGTH];
      unsigned char dx[SHA_DIGEST_LENGTH];
      if (morvane::x509::der_digest(c, dc) == 1 && morvane::x509::der_digest(x, dx) == 1)
        return memcmp(dc, dx, sizeof dc) == 0;
      return X509_cmp(c->data.x509, x->data.x509) == 0;
    }
    case X509_LU_CRL:
      return same_crl(c->data.crl, x->data.crl);
    default:
      return true;
  }
}

// The index at which obj joins the sorted cache: after every object that
// sorts before it or equal to it, so that objects of one name stay in the
// order they were added.  *after_its_name: the object before that index has
// obj's name.  `hint`, when not 0, is where the addition before joined the
// objects of its name: objects of one name added in turn join there in two
// comparisons.  The caller holds lock 11 for writing.
int insertion_point(STACK* objs, X509_OBJECT* obj, int hint, bool* after_its_name) {
  const char* key = reinterpret_cast<const char*>(obj);
  const int n = sk_num(objs);
  *after_its_name = false;
  if (hint > 0 && hint <= n) {
    const char* before = sk_value(objs, hint - 1);
    const char* at = hint < n ? sk_value(objs, hint) : nullptr;
    if (x509_object_cmp(&before, &key) == 0 && (at == nullptr || x509_object_cmp(&at, &key) > 0)) {
      *after_its_name = true;
      return hint;
    }
  }
  int lo = 0;
  int hi = n;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const char* at = sk_value(objs, mid);
    const int c = x509_object_cmp(&at, &key);
    if (c <= 0) {
      lo = mid + 1;  // the last step that moves lo compares the object before the result
      *after_its_name = c == 0;
    } else {
      hi = mid;
    }
  }
  return lo;
}

/* ---- the index ---- */

// The cache's objects as entries found through three hash tables with
// linear probing: by quick key (store_quick_key, the first entry of each
// only), by key (store_key: copies of one object share it, other objects
// almost never do, and no caller can choose which) and by the address of
// the certificate or list.  An object's key, which digests its encoding, is
// made only once another object shares its quick key, and then once: an
// addition whose quick key is new reads its signature value alone.  An
// entry's object is read only after it is found in the cache by address,
// so that an entry of a cache a caller has changed is never read: `rank`,
// the number of objects of its name before it, says where (the first
// object of the name, plus rank).
struct HeldIndex {
  struct Entry {
    uint64_t quick;
    uint64_t key;  // when `keyed`
    X509_OBJECT* obj;
    const void* data;  // obj's certificate or list when indexed
    int type;
    int rank;
    bool keyed;
    bool first;  // the first entry of its quick key and type
  };
  Entry* entries;      // `count` of them, in no order; the one block allocated
  uint32_t* by_quick;  // 2 * cap slots each: 1 + an entry's index, or 0 (free)
  uint32_t* by_key;
  uint32_t* by_data;
  int cap;  // a power of two, or 0
  int count;
  int join;  // the index after the last object added, when it joined
             // others of its name; else 0
};

// An object's keys as an addition learns them.
struct Keys {
  uint64_t quick;
  uint64_t key;  // when `keyed`
  bool keyed;
  bool first;  // no entry has its quick key and type
};

// The store as X509_STORE_new allocates it.
struct StoreBody {
  X509_STORE store;  // first: the address handed out
  HeldIndex held;
};
static_assert(offsetof(StoreBody, store) == 0);

HeldIndex& held_of(X509_STORE* store) {
  return reinterpret_cast<StoreBody*>(store)->held;
}

void link(uint32_t* table, int cap, uint64_t key, int index) {
  const auto mask = static_cast<uint64_t>(2 * cap - 1);
  uint64_t i = key & mask;
  while (table[i] != 0) i = (i + 1) & mask;
  table[i] = static_cast<uint32_t>(index + 1);
}

// Places an entry; the index has room.
void place(HeldIndex& h, const HeldIndex::Entry& e) {
  h.entries[h.count] = e;
  if (e.first) link(h.by_quick, h.cap, e.quick, h.count);
  if (e.keyed) link(h.by_key, h.cap, e.key, h.count);
  link(h.by_data, h.cap, morvane::x509::store_address_key(e.data), h.count);
  h.count++;
}

HeldIndex::Entry entry_of(const Keys& k, X509_OBJECT* obj, int rank) {
  return {k.quick, k.key, obj, obj->data.ptr, obj->type, rank, k.keyed, k.first};
}

void clear(HeldIndex& h) {
  MORVANE_free(h.entries);
  h = HeldIndex{};
}

// Makes room for one more entry: true, or false when memory ran out (the
// index unchanged).
bool reserve(HeldIndex& h) {
  if (h.count < h.cap) return true;
  if (h.cap >= (1 << 26)) return false;
  const int cap = h.cap == 0 ? 32 : 2 * h.cap;
  const size_t slots = 2 * static_cast<size_t>(cap);
  auto* block = static_cast<unsigned char*>(MORVANE_malloc(
      static_cast<size_t>(cap) * sizeof(HeldIndex::Entry) + 3 * slots * sizeof(uint32_t)));
  if (block == nullptr) return false;
  HeldIndex grown{};
  grown.entries = reinterpret_cast<HeldIndex::Entry*>(block);
  grown.by_quick = reinterpret_cast<uint32_t*>(block + cap * sizeof(HeldIndex::Entry));
  grown.by_key = grown.by_quick + slots;
  grown.by_data = grown.by_key + slots;
  grown.cap = cap;
  grown.join = h.join;
  memset(grown.by_quick, 0, 3 * slots * sizeof(uint32_t));
  for (int i = 0; i < h.count; i++) place(grown, h.entries[i]);
  MORVANE_free(h.entries);
  h = grown;
  return true;
}

// The index of the first entry of the quick key and type, or -1.
int first_of(const HeldIndex& h, uint64_t quick, int type) {
  if (h.cap == 0) return -1;
  const auto mask = static_cast<uint64_t>(2 * h.cap - 1);
  for (uint64_t i = quick & mask; h.by_quick[i] != 0; i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_quick[i] - 1];
    if (e.quick == quick && e.type == type) return static_cast<int>(h.by_quick[i] - 1);
  }
  return -1;
}

// Gives entry i its key, once (its object is in the cache): false when
// memory ran out.
bool key_entry(HeldIndex& h, int i) {
  HeldIndex::Entry& e = h.entries[i];
  if (e.keyed) return true;
  if (!morvane::x509::store_key(e.obj, &e.key)) return false;
  e.keyed = true;
  link(h.by_key, h.cap, e.key, i);
  return true;
}

// Indexes the sorted cache anew: true, or false when memory ran out (the
// index then empty).
bool reindex(HeldIndex& h, STACK* objs) {
  clear(h);
  int rank = 0;
  for (int i = 0; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (i > 0) {
      const char* prev = sk_value(objs, i - 1);
      const char* at = reinterpret_cast<const char*>(obj);
      rank = x509_object_cmp(&prev, &at) == 0 ? rank + 1 : 0;
    }
    Keys k{morvane::x509::store_quick_key(obj), 0, false, true};
    if (!reserve(h)) {
      clear(h);
      return false;
    }
    const int first = first_of(h, k.quick, obj->type);
    if (first >= 0) {
      k.first = false;
      k.keyed = morvane::x509::store_key(obj, &k.key);
      if (!k.keyed || !key_entry(h, first)) {
        clear(h);
        return false;
      }
    }
    place(h, entry_of(k, obj, rank));
  }
  return true;
}

// The first object of obj's name in the sorted cache, found once per
// search (a binary search whose every step may miss the processor's cache
// in a large store).
class Run {
 public:
  Run(STACK* objs, X509_OBJECT* obj) : objs_(objs), obj_(obj) {}
  int first() {
    if (!found_) {
      first_ = sk_find(objs_, reinterpret_cast<char*>(obj_));
      found_ = true;
    }
    return first_;
  }

 private:
  STACK* objs_;
  X509_OBJECT* obj_;
  int first_ = -1;
  bool found_ = false;
};

// Whether the entry's object stands where its rank says among the objects
// of obj's name (its run) in the sorted cache.
bool at_rank(STACK* objs, Run& run, const HeldIndex::Entry& e) {
  const int first = run.first();
  return first >= 0 && e.rank < sk_num(objs) - first &&
         sk_value(objs, first + e.rank) == reinterpret_cast<const char*>(e.obj);
}

// Whether c is anywhere in the cache (by address).
bool anywhere(STACK* objs, const X509_OBJECT* c) {
  for (int i = 0; i < sk_num(objs); i++)
    if (sk_value(objs, i) == reinterpret_cast<const char*>(c)) return true;
  return false;
}

enum class Held { kNo, kYes, kStale, kLack };

// Whether the cache holds obj (k.quick: its quick key) again: its
// certificate or list itself, whatever became of its contents since it was
// added, or an object of its name and contents that same_object takes for
// it.  When an entry has its quick key, obj's key and that entry's are made
// (once each) and the entries of obj's key are looked at.  An entry is
// looked for where its rank places it, else (objects changed after they
// were added can leave the cache out of order) anywhere in the cache;
// kStale when one that might have answered is not there (a caller changed
// the cache since), kLack when memory ran out.
Held held(HeldIndex& h, STACK* objs, X509_OBJECT* obj, Keys& k) {
  k.first = true;
  if (h.cap == 0) return Held::kNo;
  const auto mask = static_cast<uint64_t>(2 * h.cap - 1);
  bool stale = false;
  Run run(objs, obj);
  for (uint64_t i = morvane::x509::store_address_key(obj->data.ptr) & mask; h.by_data[i] != 0;
       i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_data[i] - 1];
    if (e.data != obj->data.ptr || e.type != obj->type) continue;
    if ((at_rank(objs, run, e) || anywhere(objs, e.obj)) && e.obj->type == obj->type &&
        e.obj->data.ptr == obj->data.ptr)
      return Held::kYes;
    stale = true;
  }
  const int first = first_of(h, k.quick, obj->type);
  if (first < 0) return stale ? Held::kStale : Held::kNo;
  k.first = false;
  if (!k.keyed) {
    if (!morvane::x509::store_key(obj, &k.key)) return Held::kLack;
    k.keyed = true;
  }
  if (!h.entries[first].keyed) {
    if (!at_rank(objs, run, h.entries[first]) && !anywhere(objs, h.entries[first].obj))
      return Held::kStale;
    if (!key_entry(h, first)) return Held::kLack;
  }
  for (uint64_t i = k.key & mask; h.by_key[i] != 0; i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_key[i] - 1];
    if (e.key != k.key || e.type != obj->type) continue;
    const bool placed = at_rank(objs, run, e);
    if (!placed && !anywhere(objs, e.obj)) {
      stale = true;
      continue;
    }
    const char* held_at = reinterpret_cast<const char*>(e.obj);
    const char* key_at = reinterpret_cast<const char*>(obj);
    if ((placed || x509_object_cmp(&held_at, &key_at) == 0) && same_object(e.obj, obj))
      return Held::kYes;
  }
  return stale ? Held::kStale : Held::kNo;
}

// The rank of an object inserted at index `at` of the sorted cache: one
// more than that of the object before it when that one has its name.
int rank_at(const HeldIndex& h, STACK* objs, int at, bool after_its_name) {
  if (!after_its_name || h.cap == 0) return 0;
  const auto* prev = reinterpret_cast<const X509_OBJECT*>(sk_value(objs, at - 1));
  const auto mask = static_cast<uint64_t>(2 * h.cap - 1);
  for (uint64_t i = morvane::x509::store_address_key(prev->data.ptr) & mask; h.by_data[i] != 0;
       i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[h.by_data[i] - 1];
    if (e.obj == prev) return e.rank + 1;
  }
  return 0;  // not indexed: a later search looks for it and indexes anew
}

// Adds obj (type and pointer filled, no reference yet) to the cache, which
// stays sorted: one binary search finds the place, after the objects of its
// name (two comparisons when the addition before joined that name), and the
// index tells whether the cache holds a duplicate; an addition costs a
// keyed hash of the object's signature value (and one digest of its
// encoding when another object shares that) and at most O(log n) name
// comparisons however many objects share its name, serial number or
// signature.
int add_object(X509_STORE* ctx, X509_OBJECT* obj, int func) {
  int reason = 0;
  Keys k{morvane::x509::store_quick_key(obj), 0, false, true};
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    STACK* objs = ctx->objs;
    HeldIndex& h = held_of(ctx);
    // A caller that pushed objects itself left the cache unsorted; one that
    // removed some changed the count.
    const bool pushed = !sk_is_sorted(objs);
    sk_sort(objs);
    bool current = (!pushed && h.count == sk_num(objs)) || reindex(h, objs);
    Held found = current ? held(h, objs, obj, k) : Held::kNo;
    if (found == Held::kStale) {
      current = reindex(h, objs);
      found = current ? held(h, objs, obj, k) : Held::kNo;
    }
    if (!current || found == Held::kLack || !reserve(h)) {
      reason = ERR_R_MALLOC_FAILURE;
    } else if (found == Held::kYes) {
      reason = X509_R_CERT_ALREADY_IN_HASH_TABLE;
    } else {
      bool after_its_name;
      const int at = insertion_point(objs, obj, h.join, &after_its_name);
      const int rank = rank_at(h, objs, at, after_its_name);
      if (sk_insert(objs, reinterpret_cast<char*>(obj), at) == 0) {
        reason = ERR_R_MALLOC_FAILURE;
      } else {
        X509_OBJECT_up_ref_count(obj);
        place(h, entry_of(k, obj, rank));
        h.join = after_its_name ? at + 1 : 0;
        objs->sorted = 1;  // inserted in its place: no sort is due
      }
    }
  }
  if (reason == 0) return 1;
  MORVANE_free(obj);
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, __LINE__);
  return 0;
}

}  // namespace

/* ---- objects ---- */

void X509_OBJECT_up_ref_count(X509_OBJECT* a) {
  switch (a->type) {
    case X509_LU_X509:
      CRYPTO_add(&a->data.x509->references, 1, CRYPTO_LOCK_X509);
      break;
    case X509_LU_CRL:
      CRYPTO_add(&a->data.crl->references, 1, CRYPTO_LOCK_X509_CRL);
      break;
    default:
      break;
  }
}

void X509_OBJECT_free_contents(X509_OBJECT* a) {
  switch (a->type) {
    case X509_LU_X509:
      X509_free(a->data.x509);
      break;
    case X509_LU_CRL:
      X509_CRL_free(a->data.crl);
      break;
    default:
      break;
  }
}

int X509_OBJECT_idx_by_subject(STACK* h, int type, X509_NAME* name) {
  return idx_by_subject(h, type, name);
}

X509_OBJECT* X509_OBJECT_retrieve_by_subject(STACK* h, int type, X509_NAME* name) {
  const int idx = idx_by_subject(h, type, name);
  if (idx == -1) return nullptr;
  return reinterpret_cast<X509_OBJECT*>(sk_value(h, idx));
}

X509_OBJECT* X509_OBJECT_retrieve_match(STACK* h, X509_OBJECT* x) {
  X509_NAME* name = name_of(x);
  if (name == nullptr) return nullptr;
  const int first = run_of(h, x->type, name);
  if (first < 0) return nullptr;
  for (int i = first; in_run(h, i, x->type, name); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(h, i));
    if (X509_NAME_cmp(name_of(obj), name) == 0 && same_object(obj, x)) return obj;
  }
  return nullptr;
}

/* ---- store ---- */

X509_STORE* X509_STORE_new(void) {
  auto* body = static_cast<StoreBody*>(MORVANE_malloc(sizeof(StoreBody)));
  if (body == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_NEW, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return nullptr;
  }
  memset(body, 0, sizeof(*body));
  X509_STORE* ret = &body->store;
  ret->cache = 1;
  ret->references = 1;
  ret->objs = sk_new(x509_object_cmp);
  ret->get_cert_methods = sk_new_null();
  ret->param = X509_VERIFY_PARAM_new();
  if (ret->objs == nullptr || ret->get_cert_methods == nullptr || ret->param == nullptr ||
      CRYPTO_new_ex_data(CRYPTO_EX_INDEX_X509_STORE, ret, &ret->ex_data) == 0) {
    sk_free(ret->objs);
    sk_free(ret->get_cert_methods);
    X509_VERIFY_PARAM_free(ret->param);
    MORVANE_free(ret);
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_NEW, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return nullptr;
  }
  return ret;
}

void X509_STORE_free(X509_STORE* vfy) {
  if (vfy == nullptr) return;
  sk_pop_free(vfy->get_cert_methods, free_lookup);
  sk_pop_free(vfy->objs, free_object);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_X509_STORE, vfy, &vfy->ex_data);
  X509_VERIFY_PARAM_free(vfy->param);
  clear(held_of(vfy));
  MORVANE_free(vfy);
}

X509_LOOKUP* X509_STORE_add_lookup(X509_STORE* v, X509_LOOKUP_METHOD* m) {
  STACK* sk = v->get_cert_methods;
  for (int i = 0; i < sk_num(sk); i++) {
    auto* lu = reinterpret_cast<X509_LOOKUP*>(sk_value(sk, i));
    if (lu->method == m) return lu;
  }
  X509_LOOKUP* lu = X509_LOOKUP_new(m);  // queues why it failed
  if (lu == nullptr) return nullptr;
  lu->store_ctx = v;
  if (sk_push(sk, reinterpret_cast<char*>(lu)) == 0) {
    X509_LOOKUP_free(lu);
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_LOOKUP, ERR_R_MALLOC_FAILURE, __FILE__,
                  __LINE__);
    return nullptr;
  }
  return lu;
}

int X509_STORE_add_cert(X509_STORE* ctx, X509* x) {
  if (x == nullptr) return 0;
  auto* obj = static_cast<X509_OBJECT*>(MORVANE_malloc(sizeof(X509_OBJECT)));
  if (obj == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_CERT, ERR_R_MALLOC_FAILURE, __FILE__,
                  __LINE__);
    return 0;
  }
  obj->type = X509_LU_X509;
  obj->data.x509 = x;
  return add_object(ctx, obj, X509_F_X509_STORE_ADD_CERT);
}

int X509_STORE_add_crl(X509_STORE* ctx, X509_CRL* x) {
  if (x == nullptr) return 0;
  auto* obj = static_cast<X509_OBJECT*>(MORVANE_malloc(sizeof(X509_OBJECT)));
  if (obj == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_CRL, ERR_R_MALLOC_FAILURE, __FILE__,
                  __LINE__);
    return 0;
  }
  obj->type = X509_LU_CRL;
  obj->data.crl = x;
  return add_object(ctx, obj, X509_F_X509_STORE_ADD_CRL);
}

int X509_STORE_get_by_subject(X509_STORE_CTX* vs, int type, X509_NAME* name, X509_OBJECT* ret) {
  X509_STORE* ctx = vs->ctx;
  if (ctx == nullptr) return 0;  // a context without store finds nothing
  X509_OBJECT stmp{};
  X509_OBJECT* tmp;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    tmp = X509_OBJECT_retrieve_by_subject(ctx->objs, type, name);
  }
  if (tmp == nullptr) {
    // The first object a lookup method returns.
    const auto take_first = [](void* arg, X509_OBJECT* obj) {
      *static_cast<X509_OBJECT*>(arg) = *obj;
      return 0;
    };
    const int j = morvane::x509::load_subject(vs, type, name, take_first, &stmp);
    if (j < 0) return j;
    if (stmp.data.ptr == nullptr) return 0;
    tmp = &stmp;
  }
  ret->type = tmp->type;
  ret->data.ptr = tmp->data.ptr;
  X509_OBJECT_up_ref_count(ret);
  return 1;
}

int X509_STORE_CTX_get1_issuer(X509** issuer, X509_STORE_CTX* ctx, X509* x) {
  return morvane::x509::store_issuer(issuer, ctx, x);
}

namespace morvane::x509 {

int scan_subject(X509_STORE* store, int type, X509_NAME* name, ObjectSink add, void* arg) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
  STACK* objs = store->objs;
  const int first = run_of(objs, type, name);
  if (first < 0) return 1;
  for (int i = first; in_run(objs, i, type, name); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (X509_NAME_cmp(name, name_of(obj)) == 0 && !add(arg, obj)) return 0;
  }
  return 1;
}

int load_subject(X509_STORE_CTX* vs, int type, X509_NAME* name, ObjectSink add, void* arg) {
  STACK* methods = vs->ctx->get_cert_methods;
  // A lookup that asked to be retried is asked first next time.
  if (vs->current_method < 0 || vs->current_method >= sk_num(methods)) vs->current_method = 0;
  for (int i = vs->current_method; i < sk_num(methods); i++) {
    auto* lu = reinterpret_cast<X509_LOOKUP*>(sk_value(methods, i));
    X509_OBJECT obj;
    const int j = X509_LOOKUP_by_subject(lu, type, name, &obj);
    if (j < 0) {
      vs->current_method = i;
      return j;
    }
    if (j > 0 && obj.type == type && !add(arg, &obj)) {
      vs->current_method = 0;
      return 0;
    }
  }
  vs->current_method = 0;
  return 1;
}

}  // namespace morvane::x509

int X509_STORE_set_flags(X509_STORE* ctx, unsigned long flags) {
  return X509_VERIFY_PARAM_set_flags(ctx->param, flags);
}

int X509_STORE_set_depth(X509_STORE* ctx, int depth) {
  X509_VERIFY_PARAM_set_depth(ctx->param, depth);
  return 1;
}

int X509_STORE_set_purpose(X509_STORE* ctx, int purpose) {
  return X509_VERIFY_PARAM_set_purpose(ctx->param, purpose);
}

int X509_STORE_set_trust(X509_STORE* ctx, int trust) {
  return X509_VERIFY_PARAM_set_trust(ctx->param, trust);
}

int X509_STORE_set1_param(X509_STORE* ctx, X509_VERIFY_PARAM* param) {
  return X509_VERIFY_PARAM_set1(ctx->param, param);
}

/* ---- lookups ---- */

// A method whose new_item fails queues its own reason.
X509_LOOKUP* X509_LOOKUP_new(X509_LOOKUP_METHOD* method) {
  auto* ret = static_cast<X509_LOOKUP*>(MORVANE_malloc(sizeof(X509_LOOKUP)));
  if (ret == nullptr) {
    ERR_put_error(ERR_LIB_X509, X509_F_X509_LOOKUP_NEW, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
    return nullptr;
  }
  memset(ret, 0, sizeof(*ret));
  ret->method = method;
  if (method != nullptr && method->new_item != nullptr && method->new_item(ret) == 0) {
    MORVANE_free(ret);
    return nullptr;
  }
  return ret;
}

void X509_LOOKUP_free(X509_LOOKUP* ctx) {
  if (ctx == nullptr) return;
  if (ctx->method != nullptr && ctx->method->free != nullptr) ctx->method->free(ctx);
  MORVANE_free(ctx);
}

int X509_LOOKUP_init(X509_LOOKUP* ctx) {
  if (ctx->method == nullptr) return 0;
  if (ctx->method->init == nullptr) return 1;
  return ctx->method->init(ctx);
}

int X509_LOOKUP_shutdown(X509_LOOKUP* ctx) {
  if (ctx->method == nullptr) return 0;
  if (ctx->method->shutdown == nullptr) return 1;
  return ctx->method->shutdown(ctx);
}

int X509_LOOKUP_ctrl(X509_LOOKUP* ctx, int cmd, const char* argc, long argl, char** ret) {
  if (ctx->method == nullptr) return -1;
  if (ctx->method->ctrl == nullptr) return 0;  // an operation the method does not offer
  return ctx->method->ctrl(ctx, cmd, argc, argl, ret);
}

int X509_LOOKUP_by_subject(X509_LOOKUP* ctx, int type, X509_NAME* name, X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_subject == nullptr) return 0;
  if (ctx->skip) return 0;
  return ctx->method->get_by_subject(ctx, type, name, ret);
}

int X509_LOOKUP_by_issuer_serial(X509_LOOKUP* ctx, int type, X509_NAME* name, ASN1_INTEGER* serial,
                                 X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_issuer_serial == nullptr) return 0;
  return ctx->method->get_by_issuer_serial(ctx, type, name, serial, ret);
}

int X509_LOOKUP_by_fingerprint(X509_LOOKUP* ctx, int type, unsigned char* bytes, int len,
                               X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_fingerprint == nullptr) return 0;
  return ctx->method->get_by_fingerprint(ctx, type, bytes, len, ret);
}

int X509_LOOKUP_by_alias(X509_LOOKUP* ctx, int type, char* str, int len, X509_OBJECT* ret) {
  if (ctx->method == nullptr || ctx->method->get_by_alias == nullptr) return 0;
  return ctx->method->get_by_alias(ctx, type, str, len, ret);
}
