// The certificate store: its cache of certificates and revocation lists
// (ordered by type, then subject or issuer name, under lock 11), the lookup
// methods that fill the cache on demand, and the searches by name that the
// verifier makes.
//
// Implementation notes: X509_STORE_new allocates the public store with an
// index of the cache behind it, a hash table of the cached objects keyed by
// a hash of their name, serial number (a list's lastUpdate) and signature,
// so that an addition finds a duplicate in constant time however many
// objects share its name, encodable or not (the cache itself keeps those in
// the order added).  The index follows the cache under lock 11; a
// cache that a caller changed itself (an object pushed, one removed) is
// indexed again at the next addition, and an index entry is read only while
// its object is found in the cache by address.

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>
#include <morvane/x509v3.h>

#include "internal/lock.h"
#include "x509_local.h"

namespace {

int x509_object_cmp(const char* const* pa, const char* const* pb) {
  const auto* a = reinterpret_cast<const X509_OBJECT*>(*pa);
  const auto* b = reinterpret_cast<const X509_OBJECT*>(*pb);
  const int ret = a->type - b->type;
  if (ret != 0) return ret;
  switch (a->type) {
    case X509_LU_X509:
      return X509_subject_name_cmp(a->data.x509, b->data.x509);
    case X509_LU_CRL:
      return X509_CRL_cmp(a->data.crl, b->data.crl);
    default:
      return 0;
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

// Index of the first object of the type and name, sorting the stack first
// when needed; the caller holds lock 11 for writing.
int idx_by_subject(STACK* h, int type, X509_NAME* name) {
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

// Whether two revocation lists are one: the same object, or the same
// encoding (the signatures are compared first, so that lists of one issuer
// are encoded only when those agree).
bool same_crl(X509_CRL* a, X509_CRL* b) {
  if (a == b) return true;
  if (a->signature != nullptr && b->signature != nullptr &&
      ASN1_STRING_cmp(a->signature, b->signature) != 0)
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

// Whether the cached object c, of x's type and name, is x again: the same
// certificate, or the same revocation list (an issuer publishes a new list
// each period: those are not duplicates).
bool same_object(X509_OBJECT* c, X509_OBJECT* x) {
  switch (x->type) {
    case X509_LU_X509:
      return X509_cmp(c->data.x509, x->data.x509) == 0;
    case X509_LU_CRL:
      return same_crl(c->data.crl, x->data.crl);
    default:
      return true;
  }
}

// The index at which obj joins the sorted cache: after every object that
// sorts before it or equal to it, so that objects of one name stay in the
// order they were added.  The caller holds lock 11 for writing.
int insertion_point(STACK* objs, X509_OBJECT* obj) {
  const char* key = reinterpret_cast<const char*>(obj);
  int lo = 0;
  int hi = sk_num(objs);
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const char* at = sk_value(objs, mid);
    if (x509_object_cmp(&at, &key) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// The cache's objects in a hash table with linear probing, keyed by a hash
// of what every object has and costs nothing to read: its name's cached
// encoding (a certificate's subject, a list's issuer), a certificate's
// serial number or a list's lastUpdate, and its signature.  Copies of one
// object share the key; objects of one name almost never do, encodable or
// not.  Objects with equal keys are told apart by same_object.
struct HeldIndex {
  struct Slot {
    uint64_t key;
    X509_OBJECT* obj;  // null: free
  };
  Slot* slots;
  int cap;  // a power of two, or 0
  int count;
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

// Mixes the octets of a string (its length first; nothing for a null one)
// into h, eight at a time.  A signature's octets look random, so its last
// 16 tell it apart as well as all of them would.
uint64_t fold(uint64_t h, const unsigned char* data, int len, bool tail_only = false) {
  if (data == nullptr || len < 0) len = 0;
  h = (h ^ static_cast<uint64_t>(len)) * 0x100000001b3ULL;
  const int from = tail_only && len > 16 ? len - 16 : 0;
  for (int i = from; i < len; i += 8) {
    uint64_t w = 0;
    memcpy(&w, data + i, len - i < 8 ? static_cast<size_t>(len - i) : 8);
    h = (h ^ w) * 0x100000001b3ULL;
    h ^= h >> 29;
  }
  return h;
}

uint64_t fold(uint64_t h, const ASN1_STRING* s, bool tail_only = false) {
  return s != nullptr ? fold(h, s->data, s->length, tail_only) : fold(h, nullptr, 0);
}

// A name's cached encoding, when current (nothing is encoded here: the
// name may be shared with threads that read it).
uint64_t fold(uint64_t h, const X509_NAME* name) {
  if (name == nullptr || name->modified || name->bytes == nullptr) return fold(h, nullptr, 0);
  return fold(h, reinterpret_cast<const unsigned char*>(name->bytes->data),
              static_cast<int>(name->bytes->length));
}

// The key of obj (mixed so that its low bits, which pick the slot, depend
// on every octet read).
uint64_t key_of(const X509_OBJECT* obj) {
  uint64_t h = 0xcbf29ce484222325ULL;
  if (obj->type == X509_LU_X509) {
    const X509* x = obj->data.x509;
    h = fold(h, x->cert_info->subject);
    h = fold(h, x->cert_info->serialNumber);
    h = fold(h, x->signature, true);
  } else if (obj->type == X509_LU_CRL) {
    const X509_CRL* crl = obj->data.crl;
    h = fold(h, crl->crl->issuer);
    h = fold(h, crl->crl->lastUpdate);
    h = fold(h, crl->signature, true);
  }
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  return h;
}

// Places obj under key; the table has a free slot.
void place(HeldIndex& h, uint64_t key, X509_OBJECT* obj) {
  const auto mask = static_cast<uint64_t>(h.cap - 1);
  for (uint64_t i = key & mask;; i = (i + 1) & mask) {
    if (h.slots[i].obj == nullptr) {
      h.slots[i] = {key, obj};
      h.count++;
      return;
    }
  }
}

// Makes room for one more object (the table at most half full): true, or
// false when memory ran out, the table unchanged.
bool reserve(HeldIndex& h) {
  if (2 * (h.count + 1) <= h.cap) return true;
  const int cap = h.cap == 0 ? 64 : h.cap * 2;
  auto* slots = static_cast<HeldIndex::Slot*>(
      MORVANE_malloc(static_cast<size_t>(cap) * sizeof(HeldIndex::Slot)));
  if (slots == nullptr) return false;
  memset(slots, 0, static_cast<size_t>(cap) * sizeof(HeldIndex::Slot));
  HeldIndex grown{slots, cap, 0};
  for (int i = 0; i < h.cap; i++)
    if (h.slots[i].obj != nullptr) place(grown, h.slots[i].key, h.slots[i].obj);
  MORVANE_free(h.slots);
  h = grown;
  return true;
}

// Indexes the cache anew when a caller has changed it (`pushed`: objects
// were pushed, which left it unsorted before this addition sorted it; the
// count tells of the others): true, or false (queued) when memory ran out,
// the index then empty.
bool index_current(HeldIndex& h, STACK* objs, bool pushed) {
  if (!pushed && h.count == sk_num(objs)) return true;
  MORVANE_free(h.slots);
  h = HeldIndex{nullptr, 0, 0};
  for (int i = 0; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (!reserve(h)) {
      MORVANE_free(h.slots);
      h = HeldIndex{nullptr, 0, 0};
      return false;
    }
    place(h, key_of(obj), obj);
  }
  return true;
}

// Whether c is still one of the sorted cache's objects, as a duplicate of
// obj would be: among the objects of obj's name, compared by address, so
// that an entry of an index gone stale is never read.
bool in_cache(STACK* objs, const X509_OBJECT* c, X509_OBJECT* obj) {
  const char* key = reinterpret_cast<const char*>(obj);
  for (int i = sk_find(objs, reinterpret_cast<char*>(obj)); i >= 0 && i < sk_num(objs); i++) {
    const char* at = sk_value(objs, i);
    if (x509_object_cmp(&at, &key) != 0) break;
    if (at == reinterpret_cast<const char*>(c)) return true;
  }
  return false;
}

enum class Held { kNo, kYes, kStale };

// Whether the index holds a duplicate of obj, whose key is key; kStale when
// an entry of the key is no longer in the sorted cache (a caller removed it
// and sorted the cache again since).
Held held(const HeldIndex& h, STACK* objs, uint64_t key, X509_OBJECT* obj) {
  if (h.cap == 0) return Held::kNo;
  const auto mask = static_cast<uint64_t>(h.cap - 1);
  for (uint64_t i = key & mask; h.slots[i].obj != nullptr; i = (i + 1) & mask) {
    X509_OBJECT* c = h.slots[i].obj;
    if (h.slots[i].key != key) continue;
    if (!in_cache(objs, c, obj)) return Held::kStale;
    if (c->type == obj->type && same_object(c, obj)) return Held::kYes;
  }
  return Held::kNo;
}

// Adds obj (type and pointer filled, no reference yet) to the cache, which
// stays sorted: one binary search finds the place, after the objects of its
// name, and the index tells whether the cache holds a duplicate; n
// additions cost O(n log n) comparisons.
int add_object(X509_STORE* ctx, X509_OBJECT* obj, int func) {
  int reason = 0;
  const uint64_t key = key_of(obj);
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
    STACK* objs = ctx->objs;
    HeldIndex& h = held_of(ctx);
    const bool pushed = !sk_is_sorted(objs);
    sk_sort(objs);  // nothing to do unless a caller pushed objects itself
    bool current = index_current(h, objs, pushed);
    Held found = current ? held(h, objs, key, obj) : Held::kNo;
    if (found == Held::kStale) {
      current = index_current(h, objs, true);
      found = current ? held(h, objs, key, obj) : Held::kNo;
    }
    if (!current || !reserve(h)) {
      reason = ERR_R_MALLOC_FAILURE;
    } else if (found == Held::kYes) {
      reason = X509_R_CERT_ALREADY_IN_HASH_TABLE;
    } else if (sk_insert(objs, reinterpret_cast<char*>(obj), insertion_point(objs, obj)) == 0) {
      reason = ERR_R_MALLOC_FAILURE;
    } else {
      X509_OBJECT_up_ref_count(obj);
      place(h, key, obj);
      objs->sorted = 1;  // inserted in its place: no sort is due
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
  int idx = sk_find(h, reinterpret_cast<char*>(x));
  if (idx == -1) return nullptr;
  // The objects of one name follow each other.
  const char* key = reinterpret_cast<const char*>(x);
  for (; idx < sk_num(h); idx++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(h, idx));
    const char* held = reinterpret_cast<const char*>(obj);
    if (x509_object_cmp(&held, &key) != 0) return nullptr;
    if (same_object(obj, x)) return obj;
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
  MORVANE_free(held_of(vfy).slots);
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
  const int idx = X509_OBJECT_idx_by_subject(objs, type, name);
  if (idx < 0) return 1;
  for (int i = idx; i < sk_num(objs); i++) {
    auto* obj = reinterpret_cast<X509_OBJECT*>(sk_value(objs, i));
    if (obj->type != type) break;
    X509_NAME* held =
        type == X509_LU_X509 ? X509_get_subject_name(obj->data.x509) : obj->data.crl->crl->issuer;
    if (X509_NAME_cmp(name, held) != 0) break;
    if (!add(arg, obj)) return 0;
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
