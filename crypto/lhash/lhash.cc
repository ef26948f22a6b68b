// Linear hash table: buckets split and merge one at a time as the load moves.
//
// Implementation notes: num_nodes = pmax + p and num_alloc_nodes = 2 * pmax.
// A hash h lives in bucket h mod pmax, or h mod num_alloc_nodes when that
// bucket has already been split in this cycle (index below p).  Bucket choice
// and loads are computed in 32 bits.
//
// lh_retrieve changes no link, so callers may run it on one table from several
// threads under a shared (read) lock; the statistics and `error` that it and
// getrn update are therefore written as relaxed atomics, which keeps their
// single-thread values and makes concurrent lookups free of races.

#include <stdint.h>
#include <string.h>

#include <atomic>

#include <morvane/crypto.h>
#include <morvane/lhash.h>

const char lh_version[] = "lhash part of " MORVANE_VERSION_TEXT;

namespace {

constexpr unsigned int kMinNodes = 16;
constexpr unsigned long kUpLoad = 2 * LH_LOAD_MULT;
constexpr unsigned long kDownLoad = LH_LOAD_MULT;

int default_comp(const void* a, const void* b) {
  return strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

unsigned long default_hash(const void* a) { return lh_strhash(static_cast<const char*>(a)); }

// Adds one to a statistic that concurrent lookups may share.
void count(unsigned long& counter) {
  std::atomic_ref<unsigned long>(counter).fetch_add(1, std::memory_order_relaxed);
}

uint32_t load(const LHASH* lh) {
  return static_cast<uint32_t>(lh->num_items) * LH_LOAD_MULT / lh->num_nodes;
}

unsigned int bucket_of(const LHASH* lh, unsigned long h) {
  uint32_t h32 = static_cast<uint32_t>(h);
  uint32_t nn = h32 % lh->pmax;
  if (nn < lh->p) nn = h32 % lh->num_alloc_nodes;
  return nn;
}

// Returns the link that points to the node equal to `data`, or the null link
// that ends its bucket's chain; the hash goes to *rhash.
LHASH_NODE** getrn(LHASH* lh, const void* data, unsigned long* rhash) {
  unsigned long hash = lh->hash(data);
  count(lh->num_hash_calls);
  *rhash = hash;
  LHASH_NODE** ret = &lh->b[bucket_of(lh, hash)];
  for (LHASH_NODE* n = *ret; n != nullptr; n = n->next) {
    count(lh->num_hash_comps);
    if (n->hash == hash) {
      count(lh->num_comp_calls);
      if (lh->comp(n->data, data) == 0) break;
    }
    ret = &n->next;
  }
  return ret;
}

void expand(LHASH* lh) {
  unsigned int s = lh->p;
  unsigned int n = lh->num_alloc_nodes;
  unsigned int m = lh->pmax;
  if (lh->p + 1 >= lh->pmax) {
    // The cycle ends: double the bucket array before splitting its last bucket.
    unsigned int j = lh->num_alloc_nodes * 2;
    if (j < lh->num_alloc_nodes ||
        static_cast<size_t>(j) > SIZE_MAX / sizeof(LHASH_NODE*)) {
      lh->error++;
      return;
    }
    auto* b = static_cast<LHASH_NODE**>(MORVANE_realloc(lh->b, sizeof(LHASH_NODE*) * j));
    if (b == nullptr) {
      // Nothing split; the table stays as it was.
      lh->error++;
      return;
    }
    for (unsigned int i = lh->num_alloc_nodes; i < j; i++) b[i] = nullptr;
    lh->b = b;
    lh->pmax = lh->num_alloc_nodes;
    lh->num_alloc_nodes = j;
    lh->num_expand_reallocs++;
    lh->p = 0;
  } else {
    lh->p++;
  }
  lh->num_nodes++;
  lh->num_expands++;

  LHASH_NODE** n1 = &lh->b[s];
  LHASH_NODE** n2 = &lh->b[s + m];
  *n2 = nullptr;
  for (LHASH_NODE* np = *n1; np != nullptr; np = *n1) {
    if (static_cast<uint32_t>(np->hash) % n != s) {
      *n1 = np->next;
      np->next = *n2;
      *n2 = np;
    } else {
      n1 = &np->next;
    }
  }
}

void contract(LHASH* lh) {
  LHASH_NODE* np = lh->b[lh->p + lh->pmax - 1];
  lh->b[lh->p + lh->pmax - 1] = nullptr;
  if (lh->p == 0) {
    auto* b = static_cast<LHASH_NODE**>(
        MORVANE_realloc(lh->b, sizeof(LHASH_NODE*) * lh->pmax));
    if (b == nullptr) {
      // Put the chain back: nothing changes.
      lh->b[lh->p + lh->pmax - 1] = np;
      lh->error++;
      return;
    }
    lh->num_contract_reallocs++;
    lh->num_alloc_nodes /= 2;
    lh->pmax /= 2;
    lh->p = lh->pmax - 1;
    lh->b = b;
  } else {
    lh->p--;
  }
  lh->num_nodes--;
  lh->num_contracts++;

  LHASH_NODE* n1 = lh->b[lh->p];
  if (n1 == nullptr) {
    lh->b[lh->p] = np;
  } else {
    while (n1->next != nullptr) n1 = n1->next;
    n1->next = np;
  }
}

template <typename Fn>
void doall(LHASH* lh, Fn&& fn) {
  if (lh == nullptr) return;
  // Read each next link before the callback runs: it may delete its item.
  for (int i = static_cast<int>(lh->num_nodes) - 1; i >= 0; i--) {
    for (LHASH_NODE* a = lh->b[i]; a != nullptr;) {
      LHASH_NODE* n = a->next;
      fn(a->data);
      a = n;
    }
  }
}

}  // namespace

/* see morvane/lhash.h */
LHASH* lh_new(LHASH_HASH_FN_TYPE h, LHASH_COMP_FN_TYPE c) {
  auto* ret = static_cast<LHASH*>(MORVANE_malloc(sizeof(LHASH)));
  if (ret == nullptr) return nullptr;
  memset(ret, 0, sizeof(*ret));
  ret->b = static_cast<LHASH_NODE**>(MORVANE_malloc(sizeof(LHASH_NODE*) * kMinNodes));
  if (ret->b == nullptr) {
    MORVANE_free(ret);
    return nullptr;
  }
  for (unsigned int i = 0; i < kMinNodes; i++) ret->b[i] = nullptr;
  ret->comp = c == nullptr ? default_comp : c;
  ret->hash = h == nullptr ? default_hash : h;
  ret->num_nodes = kMinNodes / 2;
  ret->num_alloc_nodes = kMinNodes;
  ret->p = 0;
  ret->pmax = kMinNodes / 2;
  ret->up_load = kUpLoad;
  ret->down_load = kDownLoad;
  return ret;
}

void lh_free(LHASH* lh) {
  if (lh == nullptr) return;
  for (unsigned int i = 0; i < lh->num_nodes; i++) {
    for (LHASH_NODE* n = lh->b[i]; n != nullptr;) {
      LHASH_NODE* nn = n->next;
      MORVANE_free(n);
      n = nn;
    }
  }
  MORVANE_free(lh->b);
  MORVANE_free(lh);
}

void* lh_insert(LHASH* lh, void* data) {
  if (lh == nullptr) return nullptr;
  lh->error = 0;
  if (lh->up_load <= load(lh)) expand(lh);
  unsigned long hash;
  LHASH_NODE** rn = getrn(lh, data, &hash);
  if (*rn == nullptr) {
    auto* nn = static_cast<LHASH_NODE*>(MORVANE_malloc(sizeof(LHASH_NODE)));
    if (nn == nullptr) {
      lh->error++;
      return nullptr;
    }
    nn->data = data;
    nn->next = nullptr;
    nn->hash = hash;
    *rn = nn;
    lh->num_insert++;
    lh->num_items++;
    return nullptr;
  }
  void* ret = (*rn)->data;
  (*rn)->data = data;
  lh->num_replace++;
  return ret;
}

void* lh_delete(LHASH* lh, const void* data) {
  if (lh == nullptr) return nullptr;
  lh->error = 0;
  unsigned long hash;
  LHASH_NODE** rn = getrn(lh, data, &hash);
  if (*rn == nullptr) {
    lh->num_no_delete++;
    return nullptr;
  }
  LHASH_NODE* nn = *rn;
  *rn = nn->next;
  void* ret = nn->data;
  MORVANE_free(nn);
  lh->num_delete++;
  lh->num_items--;
  if (lh->num_nodes > kMinNodes && lh->down_load >= load(lh)) contract(lh);
  return ret;
}

void* lh_retrieve(LHASH* lh, const void* data) {
  if (lh == nullptr) return nullptr;
  std::atomic_ref<int>(lh->error).store(0, std::memory_order_relaxed);
  unsigned long hash;
  LHASH_NODE** rn = getrn(lh, data, &hash);
  if (*rn == nullptr) {
    count(lh->num_retrieve_miss);
    return nullptr;
  }
  count(lh->num_retrieve);
  return (*rn)->data;
}

void lh_doall(LHASH* lh, LHASH_DOALL_FN_TYPE func) {
  if (func == nullptr) return;
  doall(lh, [&](void* item) { func(item); });
}

void lh_doall_arg(LHASH* lh, LHASH_DOALL_ARG_FN_TYPE func, void* arg) {
  if (func == nullptr) return;
  doall(lh, [&](void* item) { func(item, arg); });
}

unsigned long lh_strhash(const char* c) {
  if (c == nullptr || *c == '\0') return 0;
  uint32_t ret = 0;
  uint32_t n = 0x100;
  for (; *c != '\0'; c++) {
    // The byte is taken as signed and sign-extended before it meets n.
    uint32_t v = n | static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*c)));
    n += 0x100;
    unsigned int r = ((v >> 2) ^ v) & 15;
    uint32_t rot = r == 0 ? ret : (ret << r) | (ret >> (32 - r));
    ret = rot ^ (v * v);
  }
  return (ret >> 16) ^ ret;
}

unsigned long lh_num_items(const LHASH* lh) { return lh == nullptr ? 0 : lh->num_items; }
