// The algorithm tables: for each class, which engines are registered for a
// NID and which one is chosen.
//
// Implementation notes: a table is a hash table of piles keyed by NID; a
// pile lists its engines (oldest registration first, no references counted)
// and caches the chosen engine `funct`, which holds a functional reference of
// its own.  `uptodate` says that `funct` (null included) is the settled
// answer for the current registrations.  Lock 30 guards everything; the one
// read without it is selection's first test whether the table exists, made
// atomic so that it is no data race with a registration creating the table.

#include <atomic>

#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

#include "engine/internal.h"
#include "internal/err_mark.h"
#include "internal/lock.h"

namespace {

// The table record is never defined: an ENGINE_TABLE* is the LHASH* of its
// piles.
struct Pile {
  int nid;
  STACK* sk;  // of ENGINE*, no references counted
  ENGINE* funct;
  int uptodate;
};

constinit unsigned int table_flags = 0;

unsigned long pile_hash(const void* p) {
  return static_cast<unsigned long>(static_cast<const Pile*>(p)->nid);
}

int pile_cmp(const void* a, const void* b) {
  return static_cast<const Pile*>(a)->nid - static_cast<const Pile*>(b)->nid;
}

LHASH* as_lhash(ENGINE_TABLE* t) {
  return reinterpret_cast<LHASH*>(t);
}

ENGINE_TABLE* load_table(ENGINE_TABLE** table) {
  return std::atomic_ref<ENGINE_TABLE*>(*table).load(std::memory_order_acquire);
}

void store_table(ENGINE_TABLE** table, ENGINE_TABLE* value) {
  std::atomic_ref<ENGINE_TABLE*>(*table).store(value, std::memory_order_release);
}

Pile* find_pile(ENGINE_TABLE* t, int nid) {
  Pile key{};
  key.nid = nid;
  return static_cast<Pile*>(lh_retrieve(as_lhash(t), &key));
}

ENGINE* engine_at(const Pile* p, int i) {
  return reinterpret_cast<ENGINE*>(sk_value(p->sk, i));
}

// Removes every occurrence of `e` from the pile (lock 30 held).
void pile_unregister(void* item, void* arg) {
  auto* p = static_cast<Pile*>(item);
  auto* e = static_cast<ENGINE*>(arg);
  for (int i = sk_num(p->sk) - 1; i >= 0; i--) {
    if (engine_at(p, i) == e) {
      sk_delete(p->sk, i);
      p->uptodate = 0;
    }
  }
  if (p->funct == e) {
    engine_unlocked_finish(e, 0);
    p->funct = nullptr;
  }
}

// Frees a pile, releasing its cached engine (lock 30 held).
void pile_free(void* item) {
  auto* p = static_cast<Pile*>(item);
  sk_free(p->sk);
  if (p->funct != nullptr) engine_unlocked_finish(p->funct, 0);
  MORVANE_free(p);
}

// Registers `e` for one NID (lock 30 held): 1, or 0.
int register_nid(ENGINE_TABLE* t, ENGINE* e, int nid, bool setdefault) {
  Pile* p = find_pile(t, nid);
  if (p == nullptr) {
    p = static_cast<Pile*>(MORVANE_malloc(sizeof(Pile)));
    if (p == nullptr) return 0;
    p->nid = nid;
    p->sk = sk_new_null();
    p->funct = nullptr;
    p->uptodate = 1;
    if (p->sk == nullptr) {
      MORVANE_free(p);
      return 0;
    }
    lh_insert(as_lhash(t), p);
    if (find_pile(t, nid) != p) {  // the insertion could not allocate
      pile_free(p);
      return 0;
    }
  }
  sk_delete_ptr(p->sk, reinterpret_cast<char*>(e));
  if (!sk_push(p->sk, reinterpret_cast<char*>(e))) return 0;
  p->uptodate = 0;
  if (setdefault) {
    if (!engine_unlocked_init(e)) {
      ENGINEerr(ENGINE_F_ENGINE_TABLE_REGISTER, ENGINE_R_INIT_FAILED);
      return 0;
    }
    if (p->funct != nullptr) engine_unlocked_finish(p->funct, 0);
    p->funct = e;
    p->uptodate = 1;
  }
  return 1;
}

}  // namespace

/* see morvane/engine.h */
int engine_table_register(ENGINE_TABLE** table, ENGINE_CLEANUP_CB* cleanup, ENGINE* e,
                          const int* nids, int num_nids, int setdefault) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  ENGINE_TABLE* t = *table;
  if (t == nullptr) {
    t = reinterpret_cast<ENGINE_TABLE*>(lh_new(pile_hash, pile_cmp));
    if (t == nullptr) return 0;
    store_table(table, t);
    engine_cleanup_add_first(cleanup);
  }
  for (int i = 0; i < num_nids; i++) {
    if (!register_nid(t, e, nids[i], setdefault != 0)) return 0;
  }
  return 1;
}

/* see morvane/engine.h */
void engine_table_unregister(ENGINE_TABLE** table, ENGINE* e) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  if (*table != nullptr) lh_doall_arg(as_lhash(*table), pile_unregister, e);
}

/* see morvane/engine.h */
void engine_table_cleanup(ENGINE_TABLE** table) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  if (*table == nullptr) return;
  lh_doall(as_lhash(*table), pile_free);
  lh_free(as_lhash(*table));
  store_table(table, nullptr);
}

/* see morvane/engine.h */
ENGINE* engine_table_select(ENGINE_TABLE** table, int nid) {
  if (load_table(table) == nullptr) return nullptr;
  morvane::internal::ErrorMark mark;
  ENGINE* ret = nullptr;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    Pile* p = *table != nullptr ? find_pile(*table, nid) : nullptr;
    if (p != nullptr) {
      if (p->funct != nullptr && engine_unlocked_init(p->funct)) {
        ret = p->funct;
      } else if (!p->uptodate) {
        unsigned int flags = ENGINE_get_table_flags();
        for (int i = 0; i < sk_num(p->sk) && ret == nullptr; i++) {
          ENGINE* e = engine_at(p, i);
          bool may_try = e->funct_ref > 0 || !(flags & ENGINE_TABLE_FLAG_NOINIT);
          if (may_try && engine_unlocked_init(e)) ret = e;
        }
        // The choice keeps a second functional reference of its own.
        if (ret != nullptr && p->funct != ret && engine_unlocked_init(ret)) {
          if (p->funct != nullptr) engine_unlocked_finish(p->funct, 0);
          p->funct = ret;
        }
      }
      p->uptodate = 1;
    }
  }
  mark.pop();
  return ret;
}

/* see morvane/engine.h */
unsigned int ENGINE_get_table_flags(void) {
  return std::atomic_ref<unsigned int>(table_flags).load(std::memory_order_relaxed);
}

/* see morvane/engine.h */
void ENGINE_set_table_flags(unsigned int flags) {
  std::atomic_ref<unsigned int>(table_flags).store(flags, std::memory_order_relaxed);
}
