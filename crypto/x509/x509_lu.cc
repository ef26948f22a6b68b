// The certificate store: its cache of certificates and revocation lists
// (under lock 11), the lookup methods that fill the cache on demand, and
// the searches by name that the verifier makes.
//
// Implementation notes: X509_STORE_new allocates the public store with an
// index of the cache behind it, and an addition appends to the cache (the
// stack's own searches sort it when asked: the objects appended since the
// last sort are sorted and merged in).  The index holds an entry per cached
// object, in the order added, found through four hash tables with linear
// probing, each keyed under a secret drawn once per process so that no
// input can choose which objects share a key: by the key of its type and
// name (store_name_key: every name X509_NAME_cmp calls equal to it has that
// key, and the entries of one key are chained in the order added), by its
// quick key (of the name's key and the signature value's length and
// ends), by its key (a digest of its encoding, made only once another
// object shares its quick key, as copies of one object do: the signed
// part's digest is kept with its octets, so it is made once per encoding)
// and by the address of its certificate or list.  So an addition costs a
// few keyed hashes however many objects share its name or signature, and a
// search by name visits the objects of that name alone, choosing among
// them with X509_NAME_cmp.
//
// An entry's object is read only once it is found in the cache where the
// index placed it.  A cache a caller changed itself (objects pushed,
// removed, moved) is indexed again: its count, its last object and whether
// it is sorted tell.  A sort by the stack's own search moves objects
// without adding or removing any: the part it moved is then searched in
// the cache's order, as the stack's search does, until the index catches
// up.  X509_NAME_cmp is no order to sort by (a PrintableString equals a
// UTF8String of its octets, but folds case and spaces only against another
// PrintableString), so the cache sorts in the coarser folded order of
// internal/name_order.h, in which the names X509_NAME_cmp calls equal to
// one name form one run.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

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

// A search key of the object order: an object of the type and name.
class Probe {
 public:
  Probe(int type, X509_NAME* name) {
    obj_.type = type;
    obj_.data.ptr = nullptr;
    if (type == X509_LU_X509) {
      memset(&x509_, 0, sizeof(x509_));
      memset(&cinf_, 0, sizeof(cinf_));
      x509_.cert_info = &cinf_;
      cinf_.subject = name;
      obj_.data.x509 = &x509_;
    } else if (type == X509_LU_CRL) {
      memset(&crl_, 0, sizeof(crl_));
      memset(&crl_info_, 0, sizeof(crl_info_));
      crl_.crl = &crl_info_;
      crl_info_.issuer = name;
      obj_.data.crl = &crl_;
    }
  }
  Probe(const Probe&) = delete;
  Probe& operator=(const Probe&) = delete;
  // null for a type the cache does not order
  char* key() { return obj_.data.ptr != nullptr ? reinterpret_cast<char*>(&obj_) : nullptr; }

 private:
  X509_OBJECT obj_;
  X509 x509_;
  X509_CINF cinf_;
  X509_CRL crl_;
  X509_CRL_INFO crl_info_;
};

// Index of the first object of the type whose name stands with `name` in
// the cache's order (the run that holds every object of a name X509_NAME_cmp
// calls equal to it), sorting the stack first when needed, or -1; the
// caller holds lock 11 for writing.
int run_of(STACK* h, int type, X509_NAME* name) {
  Probe probe(type, name);
  if (probe.key() == nullptr) return -1;
  return sk_find(h, probe.key());
}

// Whether the object at index i of a cache is in the run of the type and
// name that run_of found.
bool in_run(STACK* h, int i, int type, const X509_NAME* name) {
  if (i >= sk_num(h)) return false;
  const auto* obj = reinterpret_cast<const X509_OBJECT*>(sk_value(h, i));
  return obj->type == type && morvane::internal::folded_name_cmp(name_of(obj), name) == 0;
}

// The end of the run that starts at `first`, found by galloping: a few
// name comparisons however long the run.
int run_end(STACK* h, int first, int type, const X509_NAME* name) {
  int in = first;  // in the run
  int step = 1;
  while (in_run(h, in + step, type, name)) {
    in += step;
    step *= 2;
  }
  int out = in + step;  // past it, or past the stack
  while (out - in > 1) {
    const int mid = in + (out - in) / 2;
    if (in_run(h, mid, type, name)) {
      in = mid;
    } else {
      out = mid;
    }
  }
  return out;
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

// Whether two BIT STRINGs encode alike: their octets as the encoder writes
// them (trailing zero octets dropped unless the count of unused bits is
// set, and those bits as zeros).
bool same_bits(const ASN1_BIT_STRING* a, const ASN1_BIT_STRING* b) {
  const auto written = [](const ASN1_BIT_STRING* s, int* bits) {
    int len = s->data != nullptr ? s->length : 0;
    *bits = 0;
    if (s->flags & ASN1_STRING_BITS_LEFT) {
      *bits = static_cast<int>(s->flags & 0x07);
    } else {
      while (len > 0 && s->data[len - 1] == 0) len--;
      if (len > 0)
        for (unsigned j = s->data[len - 1]; !(j & 1); j >>= 1) ++*bits;
    }
    return len;
  };
  int bits_a;
  int bits_b;
  const int len = written(a, &bits_a);
  if (written(b, &bits_b) != len || bits_a != bits_b) return false;
  if (len == 0) return true;
  const unsigned mask = 0xffu << bits_a;
  return memcmp(a->data, b->data, static_cast<size_t>(len - 1)) == 0 &&
         ((a->data[len - 1] ^ b->data[len - 1]) & mask) == 0;
}

// Whether two signed objects are one encoding, told from their parts as
// decoded: the signed part's octets, the signature algorithm and value as
// the DER writes them; -1 when one is not as decoded (changed or built in
// memory) or a part does not encode.
int same_as_decoded(const ASN1_ENCODING* ea, X509_ALGOR* alg_a, const ASN1_BIT_STRING* sig_a,
                    const ASN1_ENCODING* eb, X509_ALGOR* alg_b, const ASN1_BIT_STRING* sig_b) {
  if (ea == nullptr || eb == nullptr || ea->enc == nullptr || eb->enc == nullptr ||
      ea->modified != 0 || eb->modified != 0 || sig_a == nullptr || sig_b == nullptr)
    return -1;
  if (!same_bits(sig_a, sig_b)) return 0;
  if (ea->len != eb->len || memcmp(ea->enc, eb->enc, static_cast<size_t>(ea->len)) != 0) return 0;
  morvane::x509::Written der_a;
  morvane::x509::Written der_b;
  morvane::x509::algorithm_der(alg_a, der_a);
  morvane::x509::algorithm_der(alg_b, der_b);
  if (der_a.length() <= 0 || der_b.length() <= 0) return -1;
  return der_a.length() == der_b.length() &&
         memcmp(der_a.data(), der_b.data(), static_cast<size_t>(der_a.length())) == 0;
}

// Whether two revocation lists are one: the same object, or the same
// encoding.
bool same_crl(X509_CRL* a, X509_CRL* b) {
  if (a == b) return true;
  const int decoded =
      same_as_decoded(a->crl != nullptr ? &a->crl->enc : nullptr, a->sig_alg, a->signature,
                      b->crl != nullptr ? &b->crl->enc : nullptr, b->sig_alg, b->signature);
  if (decoded >= 0) return decoded == 1;
  if (a->signature != nullptr && b->signature != nullptr && !same_bits(a->signature, b->signature))
    return false;
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

// The digest X509_cmp compares of a certificate not as decoded, made once
// for the comparisons of one search.
struct Digest {
  int made = 2;  // 2: not yet; else der_digest's result
  unsigned char md[SHA_DIGEST_LENGTH];
};

// Whether the cached object c, of x's type, is x again: the same
// certificate (one object, or one encoding, as X509_cmp compares them), or
// the same revocation list (an issuer publishes a new list each period:
// those are not duplicates).  Objects as decoded are compared by their
// octets, signatures first, so that telling two apart reads a few octets
// and digests nothing.  x_digest, when given, keeps x's digest between
// calls.
bool same_object(X509_OBJECT* c, X509_OBJECT* x, Digest* x_digest = nullptr) {
  switch (x->type) {
    case X509_LU_X509: {
      X509* a = c->data.x509;
      X509* b = x->data.x509;
      if (a == b) return true;
      const int decoded = same_as_decoded(
          a->cert_info != nullptr ? &a->cert_info->enc : nullptr, a->sig_alg, a->signature,
          b->cert_info != nullptr ? &b->cert_info->enc : nullptr, b->sig_alg, b->signature);
      if (decoded >= 0) return decoded == 1;
      // The digests X509_cmp compares, from each one's encoding as decoded
      // where it has one, so that a copy refused works out no facts.
      Digest own;
      Digest& dx = x_digest != nullptr ? *x_digest : own;
      if (dx.made == 2) dx.made = morvane::x509::der_digest(x, dx.md);
      unsigned char dc[SHA_DIGEST_LENGTH];
      if (dx.made == 1 && morvane::x509::der_digest(c, dc) == 1)
        return memcmp(dc, dx.md, sizeof dc) == 0;
      return X509_cmp(a, b) == 0;
    }
    case X509_LU_CRL:
      return same_crl(c->data.crl, x->data.crl);
    default:
      return true;
  }
}

/* ---- the index ---- */

struct HeldIndex {
  struct Entry {
    uint64_t quick;
    uint64_t key;   // when `keyed`
    uint64_t name;  // the key of its type and name
    X509_OBJECT* obj;
    const void* data;  // obj's certificate or list when indexed
    int type;
    int pos;   // where obj stood in the cache when last seen there
    int next;  // the next entry of its name key and type, or -1
    int last;  // in the first entry of a name key and type: the last one
    bool keyed;
    bool first;  // the first entry of its quick key and type
  };
  Entry* entries;      // `count` of them, in the order indexed; the one block allocated
  uint32_t* by_quick;  // 2 * cap slots each: 1 + an entry's index, or 0 (free)
  uint32_t* by_key;
  uint32_t* by_data;
  uint32_t* by_name;  // the first entry of each name key and type
  int cap;            // a power of two, or 0
  int count;
  // The cache as the index last left it: its last object and whether it
  // was sorted; how many of its first objects a sort moved since they were
  // indexed (follow), and the operations since.
  const char* last_obj;
  bool sorted;
  int moved;
  int since_moved;
};

// An object's keys as an addition learns them.
struct Keys {
  uint64_t quick;
  uint64_t name;
  uint64_t key;  // when `keyed`
  bool keyed;
  bool first;  // no entry has its quick key and type
};

// The keys an addition starts with: of the name, and the quick key.
Keys keys_of(const X509_OBJECT* obj) {
  const uint64_t name = morvane::x509::store_name_key(obj->type, name_of(obj));
  return {morvane::x509::store_quick_key(obj, name), name, 0, false, true};
}

// The store as X509_STORE_new allocates it.
struct StoreBody {
  X509_STORE store;  // first: the address handed out
  HeldIndex held;
};
static_assert(offsetof(StoreBody, store) == 0);

HeldIndex& held_of(X509_STORE* store) {
  return reinterpret_cast<StoreBody*>(store)->held;
}

uint64_t mask_of(const HeldIndex& h) {
  return static_cast<uint64_t>(2 * h.cap - 1);
}

void link(uint32_t* table, uint64_t mask, uint64_t key, int index) {
  uint64_t i = key & mask;
  while (table[i] != 0) i = (i + 1) & mask;
  table[i] = static_cast<uint32_t>(index + 1);
}

// The entry of a table (by_name or by_quick, which hold the first entry of
// each name key or quick key and type) whose key `field` is `key`, or -1.
int first_in(const HeldIndex& h, const uint32_t* table, uint64_t HeldIndex::Entry::*field,
             uint64_t key, int type) {
  if (h.cap == 0) return -1;
  const uint64_t mask = mask_of(h);
  for (uint64_t i = key & mask; table[i] != 0; i = (i + 1) & mask) {
    const HeldIndex::Entry& e = h.entries[table[i] - 1];
    if (e.*field == key && e.type == type) return static_cast<int>(table[i] - 1);
  }
  return -1;
}

// The first entry of a name key and type, or -1.
int name_first(const HeldIndex& h, uint64_t name, int type) {
  return first_in(h, h.by_name, &HeldIndex::Entry::name, name, type);
}

// Places an entry, the last of its name key and type; the index has room.
void place(HeldIndex& h, const HeldIndex::Entry& e) {
  const int at = h.count;
  const uint64_t mask = mask_of(h);
  HeldIndex::Entry& placed = h.entries[at] = e;
  placed.next = -1;
  placed.last = at;
  const int head = name_first(h, e.name, e.type);
  if (head < 0) {
    link(h.by_name, mask, e.name, at);
  } else {
    h.entries[h.entries[head].last].next = at;
    h.entries[head].last = at;
  }
  if (e.first) link(h.by_quick, mask, e.quick, at);
  if (e.keyed) link(h.by_key, mask, e.key, at);
  link(h.by_data, mask, morvane::x509::store_address_key(e.data), at);
  h.count++;
}

HeldIndex::Entry entry_of(const Keys& k, X509_OBJECT* obj, int pos) {
  return {k.quick, k.key, k.name, obj, obj->data.ptr, obj->type, pos, -1, -1, k.keyed, k.first};
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
      static_cast<size_t>(cap) * sizeof(HeldIndex::Entry) + 4 * slots * sizeof(uint32_t)));
  if (block == nullptr) return false;
  HeldIndex grown = h;
  grown.entries = reinterpret_cast<HeldIndex::Entry*>(block);
  grown.by_quick = reinterpret_cast<uint32_t*>(block + cap * sizeof(HeldIndex::Entry));
  grown.by_key = grown.by_quick + slots;
  grown.by_data = grown.by_key + slots;
  grown.by_name = grown.by_data + slots;
  grown.cap = cap;
  grown.count = 0;
  memset(grown.by_quick, 0, 4 * slots * sizeof(uint32_t));
  for (int i = 0; i < h.count; i++) place(grown, h.entries[i]);
  MORVANE_free(h.entries);
  h = grown;
  return true;
}

// The index of the first entry of the quick key and type, or -1.
int first_of(const HeldIndex& h, uint64_t quick, int type) {
  return first_in(h, h.by_quick, &HeldIndex::Entry::quick, quick, type);
}

// Gives entry i its key, once (its object is in the cache): false when
// memory ran out.
bool key_entry(HeldIndex& h, int i) {
  HeldIndex::Entry& e = h.entries[i];
  if (e.keyed) return true;
  if (!morvane::x509::store_key(e.obj, &e.key)) return false;
  e.keyed = true;
  link(h.by_key, mask_of(h), e.key, i);
  return true;
}

// Notes the cache as the index leaves it.
void seen(HeldIndex& h, STACK* objs) {
  const int n = sk_num(objs);
  h.last_obj = n > 0 ? sk_value(objs, n - 1) : nullptr;
  h.sorted = sk_is_sorted(objs) != 0;
}

// Indexes the cache anew: true, or false when memory ran out (the index
// then empty).
bool reindex(HeldIndex& h, STACK* objs) {
  clear(h);
  for (int i = 0; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    Keys k = keys_of(obj);
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
    place(h, entry_of(k, obj, i));
  }
  seen(h, objs);
  return true;
}

// Brings the index up to the cache, which a caller may have changed since
// the index last saw it.  When the stack's own search sorted it (which
// moves objects but adds or removes none, unless the caller did that too,
// keeping the count), the index answers for the objects appended since,
// and the part sorted then (`moved`) is searched in the order, as the
// stack's search does, until the index catches up with it (once a quarter
// of the cache has been added or searched since: so that costs each
// operation a constant share).  Any other change indexes the cache anew.
// false when memory ran out for that.
bool follow(HeldIndex& h, STACK* objs) {
  const int n = sk_num(objs);
  if (h.count == n &&
      (n == 0 || (sk_value(objs, n - 1) == h.last_obj && (sk_is_sorted(objs) != 0) == h.sorted))) {
    if (h.moved == 0 || ++h.since_moved <= (n < 256 ? 64 : n / 4)) return true;
  } else if (h.count == n && sk_is_sorted(objs) && objs->comp == x509_object_cmp) {
    h.moved = n;
    h.since_moved = 0;
    seen(h, objs);
    return true;
  }
  return reindex(h, objs);
}

enum class Found { kYes, kNo, kStale };

// Whether the entry's object stands where the index placed it (the index
// answers for it): kStale when the cache changed there (or the object no
// longer holds the entry's certificate or list), kNo when it is in the
// part a sort moved, where the index does not follow it.
Found in_place(const HeldIndex& h, STACK* objs, int i) {
  const HeldIndex::Entry& e = h.entries[i];
  if (e.pos < h.moved) return Found::kNo;
  if (e.pos < sk_num(objs) && sk_value(objs, e.pos) == reinterpret_cast<char*>(e.obj) &&
      e.obj->type == e.type && e.obj->data.ptr == e.data)
    return Found::kYes;
  return Found::kStale;
}

// The first index of the run of the type and name in the part of the cache
// that a sort moved (the run ends where in_run says), found by bisection.
int moved_run(const HeldIndex& h, STACK* objs, int type, X509_NAME* name) {
  Probe probe(type, name);
  const char* key = probe.key();
  if (key == nullptr) return h.moved;
  int lo = 0;
  int hi = h.moved;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const char* at = sk_value(objs, mid);
    if (x509_object_cmp(&at, &key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Whether c is anywhere in the cache (by address).
bool anywhere(STACK* objs, const X509_OBJECT* c) {
  for (int i = 0; i < sk_num(objs); i++)
    if (sk_value(objs, i) == reinterpret_cast<const char*>(c)) return true;
  return false;
}

enum class Held { kNo, kYes, kStale, kLack };

// Whether the cache holds obj (k: its quick key) again: its certificate or
// list itself, whatever became of its contents since it was added, or an
// object that same_object takes for it.  When an entry has its quick key,
// obj's key and that entry's are made (once each) and the entries of obj's
// key are looked at; in the part a sort moved, the run of obj's name.
// kStale when the cache changed where the index cannot follow, kLack when
// memory ran out.
Held held(HeldIndex& h, STACK* objs, X509_OBJECT* obj, Keys& k) {
  k.first = true;
  if (h.cap == 0) return Held::kNo;
  const uint64_t mask = mask_of(h);
  X509_NAME* name = name_of(obj);
  for (uint64_t i = morvane::x509::store_address_key(obj->data.ptr) & mask; h.by_data[i] != 0;
       i = (i + 1) & mask) {
    const int at = static_cast<int>(h.by_data[i] - 1);
    const HeldIndex::Entry& e = h.entries[at];
    if (e.data != obj->data.ptr || e.type != obj->type) continue;
    const Found f = in_place(h, objs, at);
    if (f == Found::kStale) return Held::kStale;
    // Moved by a sort: found by its address (its name may have changed
    // since it was added, so that its run does not hold it).
    if (f == Found::kYes ||
        (anywhere(objs, e.obj) && e.obj->type == obj->type && e.obj->data.ptr == obj->data.ptr))
      return Held::kYes;
  }
  if (h.moved > 0) {
    for (int i = moved_run(h, objs, obj->type, name);
         i < h.moved && in_run(objs, i, obj->type, name); i++) {
      auto* c = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
      if (c->data.ptr == obj->data.ptr || same_object(c, obj)) return Held::kYes;
    }
  }
  const int first = first_of(h, k.quick, obj->type);
  if (first < 0) return Held::kNo;
  k.first = false;
  if (!k.keyed) {
    if (!morvane::x509::store_key(obj, &k.key)) return Held::kLack;
    k.keyed = true;
  }
  if (!h.entries[first].keyed) {
    const Found f = in_place(h, objs, first);
    if (f == Found::kStale) return Held::kStale;
    if (f == Found::kYes && !key_entry(h, first)) return Held::kLack;
  }
  for (uint64_t i = k.key & mask; h.by_key[i] != 0; i = (i + 1) & mask) {
    const int at = static_cast<int>(h.by_key[i] - 1);
    const HeldIndex::Entry& e = h.entries[at];
    if (e.key != k.key || e.type != obj->type) continue;
    const Found f = in_place(h, objs, at);
    if (f == Found::kStale) return Held::kStale;
    if (f == Found::kYes && same_object(e.obj, obj)) return Held::kYes;
  }
  return Held::kNo;
}

// Adds obj (type and pointer filled, no reference yet) to the end of the
// cache, when the index tells that the cache does not hold it already.  A
// cache in order stays so when obj sorts after its last object.  An
// addition costs a few keyed hashes (and one digest of obj's signed part,
// once per encoding, when another object shares its quick key) however
// many objects share its name, serial number or signature.
int add_object(X509_STORE* ctx, X509_OBJECT* obj, int func) {
  int reason = 0;
  Keys k = keys_of(obj);
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    STACK* objs = ctx->objs;
    HeldIndex& h = held_of(ctx);
    bool current = follow(h, objs);
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
      const int n = sk_num(objs);
      const char* last = n > 0 ? sk_value(objs, n - 1) : nullptr;
      const char* added = reinterpret_cast<const char*>(obj);
      const bool in_order = objs->comp == x509_object_cmp && (n == 0 || sk_is_sorted(objs)) &&
                            (last == nullptr || x509_object_cmp(&last, &added) <= 0);
      if (sk_push(objs, reinterpret_cast<char*>(obj)) == 0) {
        reason = ERR_R_MALLOC_FAILURE;
      } else {
        if (in_order) sk_sort(objs);  // nothing to move: only marks it sorted
        X509_OBJECT_up_ref_count(obj);
        place(h, entry_of(k, obj, n));
        seen(h, objs);
      }
    }
  }
  if (reason == 0) return 1;
  MORVANE_free(obj);
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, __LINE__);
  return 0;
}

// Passes each object of the type and a name X509_NAME_cmp calls equal to
// `name` to take, in the order added, until take returns false; the caller
// holds lock 11 for writing.  When memory for the index ran out the cache
// is searched object by object.
template <class Take>
void each_held(X509_STORE* store, int type, X509_NAME* name, Take take) {
  STACK* objs = store->objs;
  HeldIndex& h = held_of(store);
  bool indexed = follow(h, objs);
  const uint64_t key = morvane::x509::store_name_key(type, name);
  // Every entry of the key is found in its place before any object is
  // passed, so that a cache indexed anew is searched from its start.
  for (int tries = 0; indexed && tries < 2; tries++) {
    const int head = name_first(h, key, type);
    bool stale = false;
    for (int i = head; i >= 0 && !stale; i = h.entries[i].next)
      stale = in_place(h, objs, i) == Found::kStale;
    if (stale) {
      indexed = reindex(h, objs);
      continue;
    }
    // The part a sort moved holds those added first.
    for (int i = h.moved > 0 ? moved_run(h, objs, type, name) : 0;
         i < h.moved && in_run(objs, i, type, name); i++) {
      auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
      if (X509_NAME_cmp(name_of(obj), name) == 0 && !take(obj)) return;
    }
    for (int i = head; i >= 0; i = h.entries[i].next) {
      X509_OBJECT* obj = h.entries[i].obj;
      if (in_place(h, objs, i) == Found::kYes && X509_NAME_cmp(name_of(obj), name) == 0 &&
          !take(obj))
        return;
    }
    return;
  }
  for (int i = 0; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (obj->type == type && X509_NAME_cmp(name_of(obj), name) == 0 && !take(obj)) return;
  }
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
  Digest x_digest;
  const int end = run_end(h, first, x->type, name);
  for (int i = first; i < end; i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(h, i));
    if (same_object(obj, x, &x_digest) && X509_NAME_cmp(name_of(obj), name) == 0) return obj;
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

// The list of lookups changes under lock 11, which searches hold to read
// it; a lookup stays until the store is freed.
X509_LOOKUP* X509_STORE_add_lookup(X509_STORE* v, X509_LOOKUP_METHOD* m) {
  STACK* sk = v->get_cert_methods;
  const auto attached = [sk, m]() -> X509_LOOKUP* {
    for (int i = 0; i < sk_num(sk); i++) {
      auto* lu = reinterpret_cast<X509_LOOKUP*>(sk_value(sk, i));
      if (lu->method == m) return lu;
    }
    return nullptr;
  };
  {
    MORVANE_READ_LOCKED(CRYPTO_LOCK_X509_STORE);
    if (X509_LOOKUP* lu = attached()) return lu;
  }
  X509_LOOKUP* lu = X509_LOOKUP_new(m);  // queues why it failed
  if (lu == nullptr) return nullptr;
  lu->store_ctx = v;
  X509_LOOKUP* other = nullptr;
  bool pushed = false;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    other = attached();  // another thread may have attached one meanwhile
    pushed = other == nullptr && sk_push(sk, reinterpret_cast<char*>(lu)) != 0;
  }
  if (pushed) return lu;
  X509_LOOKUP_free(lu);
  if (other != nullptr) return other;
  ERR_put_error(ERR_LIB_X509, X509_F_X509_STORE_ADD_LOOKUP, ERR_R_MALLOC_FAILURE, __FILE__,
                __LINE__);
  return nullptr;
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
  X509_OBJECT* tmp = nullptr;
  if (morvane::x509::first_held(ctx, type, name, &stmp) == 1) tmp = &stmp;
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
  int ret = 1;
  each_held(store, type, name, [&](X509_OBJECT* obj) {
    if (add(arg, obj) != 0) return true;
    ret = 0;
    return false;
  });
  return ret;
}

int first_held(X509_STORE* store, int type, X509_NAME* name, X509_OBJECT* ret) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
  int found = 0;
  each_held(store, type, name, [&](X509_OBJECT* obj) {
    ret->type = obj->type;
    ret->data.ptr = obj->data.ptr;
    found = 1;
    return false;
  });
  return found;
}

int load_subject(X509_STORE_CTX* vs, int type, X509_NAME* name, ObjectSink add, void* arg) {
  STACK* methods = vs->ctx->get_cert_methods;
  // The lookup at index i, read under lock 11 (another thread may be
  // attaching one), or null past the last.
  const auto lookup_at = [methods](int i) {
    MORVANE_READ_LOCKED(CRYPTO_LOCK_X509_STORE);
    return i < sk_num(methods) ? reinterpret_cast<X509_LOOKUP*>(sk_value(methods, i)) : nullptr;
  };
  // A lookup that asked to be retried is asked first next time.
  if (vs->current_method < 0 || lookup_at(vs->current_method) == nullptr) vs->current_method = 0;
  for (int i = vs->current_method;; i++) {
    X509_LOOKUP* lu = lookup_at(i);
    if (lu == nullptr) break;
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
