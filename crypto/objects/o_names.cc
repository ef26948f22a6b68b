// The algorithm name registry: text names to objects, per name type, with
// aliases (a name standing for another name of the same type).
//
// Implementation notes: one process-wide hash of entries, plus an array of
// per-type functions indexed by type number; no lock (registration and
// cleanup happen before and after threads use the lookups, which only read).

#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/objects.h>

#include "internal/table_insert.h"
#include "objects/internal.h"

namespace morvane::objects {
namespace {

struct NameFuncs {
  unsigned long (*hash_func)(const char*);
  int (*cmp_func)(const char*, const char*);
  void (*free_func)(const char*, int, const char*);
};

constinit std::atomic<uint64_t> generation{0};
constinit LHASH* names_lh = nullptr;
constinit NameFuncs* name_funcs = nullptr;  // indexed by type number
constinit int name_funcs_num = 0;
constinit int names_type_num = OBJ_NAME_TYPE_NUM;

constexpr int kMaxAliasSteps = 10;

const NameFuncs* funcs_of(int type) {
  return type >= 0 && type < name_funcs_num ? &name_funcs[type] : nullptr;
}

unsigned long obj_name_hash(const void* item) {
  const auto* n = static_cast<const OBJ_NAME*>(item);
  const NameFuncs* f = funcs_of(n->type);
  const unsigned long h = f != nullptr ? f->hash_func(n->name) : lh_strhash(n->name);
  return h ^ static_cast<unsigned long>(n->type);
}

int obj_name_cmp(const void* x, const void* y) {
  const auto* a = static_cast<const OBJ_NAME*>(x);
  const auto* b = static_cast<const OBJ_NAME*>(y);
  if (a->type != b->type) return a->type - b->type;
  const NameFuncs* f = funcs_of(a->type);
  return f != nullptr ? f->cmp_func(a->name, b->name) : strcmp(a->name, b->name);
}

// Releases an entry that left the table.
void release(OBJ_NAME* n) {
  const NameFuncs* f = funcs_of(n->type);
  if (f != nullptr && f->free_func != nullptr) f->free_func(n->name, n->type, n->data);
  MORVANE_free(n);
}

unsigned long default_hash(const char* s) {
  return lh_strhash(s);
}
int default_cmp(const char* a, const char* b) {
  return strcmp(a, b);
}

struct DoAllArg {
  int type;
  void (*fn)(const OBJ_NAME*, void*);
  void* arg;
};

void do_all_fn(void* item, void* arg) {
  const auto* n = static_cast<const OBJ_NAME*>(item);
  const auto* d = static_cast<const DoAllArg*>(arg);
  if (n->type == d->type) d->fn(n, d->arg);
}

struct Collect {
  const OBJ_NAME** names;
  int n;
};
void collect_fn(const OBJ_NAME* name, void* arg) {
  auto* c = static_cast<Collect*>(arg);
  c->names[c->n++] = name;
}
int sorted_cmp(const void* a, const void* b) {
  return strcmp((*static_cast<const OBJ_NAME* const*>(a))->name,
                (*static_cast<const OBJ_NAME* const*>(b))->name);
}

struct CleanupArg {
  int type;  // negative: every entry
};
void cleanup_fn(void* item, void* arg) {
  auto* n = static_cast<OBJ_NAME*>(item);
  const int type = static_cast<CleanupArg*>(arg)->type;
  if (type < 0 || n->type == type) OBJ_NAME_remove(n->name, n->type);
}

}  // namespace

uint64_t names_generation() {
  return generation.load(std::memory_order_acquire);
}

void names_changed() {
  generation.fetch_add(1, std::memory_order_acq_rel);
}

}  // namespace morvane::objects

using namespace morvane::objects;

/* see morvane/objects.h */
int OBJ_NAME_init(void) {
  if (names_lh != nullptr) return 1;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  names_lh = lh_new(obj_name_hash, obj_name_cmp);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  return names_lh != nullptr;
}

/* see morvane/objects.h */
int OBJ_NAME_new_index(unsigned long (*hash_func)(const char*),
                       int (*cmp_func)(const char*, const char*),
                       void (*free_func)(const char*, int, const char*)) {
  const int ret = names_type_num;
  if (ret >= name_funcs_num) {
    auto* grown = static_cast<NameFuncs*>(
        MORVANE_realloc(name_funcs, sizeof(NameFuncs) * static_cast<size_t>(ret + 1)));
    if (grown == nullptr) {
      OBJerr(OBJ_F_OBJ_NAME_NEW_INDEX, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    for (int i = name_funcs_num; i <= ret; i++) grown[i] = {default_hash, default_cmp, nullptr};
    name_funcs = grown;
    name_funcs_num = ret + 1;
  }
  names_type_num++;
  NameFuncs& f = name_funcs[ret];
  if (hash_func != nullptr) f.hash_func = hash_func;
  if (cmp_func != nullptr) f.cmp_func = cmp_func;
  if (free_func != nullptr) f.free_func = free_func;
  names_changed();
  return ret;
}

/* see morvane/objects.h */
const char* OBJ_NAME_get(const char* name, int type) {
  if (name == nullptr || !OBJ_NAME_init()) return nullptr;
  const bool no_alias = (type & OBJ_NAME_ALIAS) != 0;
  OBJ_NAME key{type & ~OBJ_NAME_ALIAS, 0, name, nullptr};
  for (int steps = 0;; steps++) {
    const auto* hit = static_cast<const OBJ_NAME*>(lh_retrieve(names_lh, &key));
    if (hit == nullptr) return nullptr;
    if (!hit->alias || no_alias) return hit->data;
    if (steps == kMaxAliasSteps) return nullptr;
    key.name = hit->data;
  }
}

/* see morvane/objects.h */
int OBJ_NAME_add(const char* name, int type, const char* data) {
  if (!OBJ_NAME_init()) return 0;
  auto* n = static_cast<OBJ_NAME*>(MORVANE_malloc(sizeof(OBJ_NAME)));
  if (n == nullptr) return 0;
  n->type = type & ~OBJ_NAME_ALIAS;
  n->alias = type & OBJ_NAME_ALIAS;
  n->name = name;
  n->data = data;
  void* old;
  if (!morvane::internal::table_insert(names_lh, n, &old)) {
    MORVANE_free(n);  // the table could not take it and holds what it held
    return 0;
  }
  if (old != nullptr) release(static_cast<OBJ_NAME*>(old));
  names_changed();
  return 1;
}

/* see morvane/objects.h */
int OBJ_NAME_remove(const char* name, int type) {
  if (names_lh == nullptr || name == nullptr) return 0;
  OBJ_NAME key{type & ~OBJ_NAME_ALIAS, 0, name, nullptr};
  auto* n = static_cast<OBJ_NAME*>(lh_delete(names_lh, &key));
  if (n == nullptr) return 0;
  release(n);
  names_changed();
  return 1;
}

/* see morvane/objects.h */
void OBJ_NAME_do_all(int type, void (*fn)(const OBJ_NAME*, void*), void* arg) {
  if (names_lh == nullptr) return;
  DoAllArg d{type, fn, arg};
  lh_doall_arg(names_lh, do_all_fn, &d);
}

/* see morvane/objects.h */
void OBJ_NAME_do_all_sorted(int type, void (*fn)(const OBJ_NAME*, void*), void* arg) {
  if (names_lh == nullptr) return;
  const unsigned long total = lh_num_items(names_lh);
  Collect c{
      static_cast<const OBJ_NAME**>(MORVANE_malloc(sizeof(OBJ_NAME*) * (total > 0 ? total : 1))),
      0};
  if (c.names == nullptr) return;
  OBJ_NAME_do_all(type, collect_fn, &c);
  qsort(c.names, static_cast<size_t>(c.n), sizeof(OBJ_NAME*), sorted_cmp);
  for (int i = 0; i < c.n; i++) fn(c.names[i], arg);
  MORVANE_free(c.names);
}

/* see morvane/objects.h */
void OBJ_NAME_cleanup(int type) {
  if (names_lh == nullptr) return;
  const unsigned long down_load = names_lh->down_load;
  names_lh->down_load = 0;  // no shrinking during the walk
  CleanupArg arg{type};
  lh_doall_arg(names_lh, cleanup_fn, &arg);
  if (type < 0) {
    lh_free(names_lh);
    names_lh = nullptr;
    MORVANE_free(name_funcs);
    name_funcs = nullptr;
    name_funcs_num = 0;
    names_type_num = OBJ_NAME_TYPE_NUM;
  } else {
    names_lh->down_load = down_load;
  }
  names_changed();
}
