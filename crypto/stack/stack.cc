// The generic stack: a growable array of element pointers, sorted lazily.
//
// Implementation notes: the slot array doubles whenever num_alloc <= num + 1,
// so an insertion always has a spare slot beyond the new last element; the
// array never shrinks.  `sorted_num` counts the first elements known to be
// in order (a sort makes it all of them): an insertion at the end keeps it,
// one before it (or an element set, which leaves `sorted` as it is) cuts it
// to that place, a deletion before it takes one off.

#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/objects.h>
#include <morvane/stack.h>

const char STACK_version[] = "Stack part of " MORVANE_VERSION_TEXT;

namespace {

constexpr int kMinNodes = 4;

// The caller's comparison is always called through its own type, sk_cmp_fn:
// the generic searcher and qsort_r get typed trampolines.  A search key
// carries the comparison with the element it looks for; OBJ_bsearch_ex passes
// the key first.
struct SearchKey {
  char* data;
  sk_cmp_fn comp;
};

int compare_key(const void* key, const void* slot) {
  const auto* k = static_cast<const SearchKey*>(key);
  return k->comp(&k->data, static_cast<const char* const*>(slot));
}

int compare_slots(const void* a, const void* b, void* comp) {
  return (*static_cast<sk_cmp_fn*>(comp))(static_cast<const char* const*>(a),
                                          static_cast<const char* const*>(b));
}

int internal_find(STACK* st, char* data, int flags) {
  if (st == nullptr) return -1;
  if (st->comp == nullptr) {
    for (int i = 0; i < st->num; i++)
      if (st->data[i] == data) return i;
    return -1;
  }
  sk_sort(st);
  if (data == nullptr) return -1;
  const SearchKey key = {data, st->comp};
  const char* r = OBJ_bsearch_ex(reinterpret_cast<const char*>(&key),
                                 reinterpret_cast<const char*>(st->data), st->num,
                                 static_cast<int>(sizeof(char*)), compare_key, flags);
  if (r == nullptr) return -1;
  return static_cast<int>(reinterpret_cast<char* const*>(r) - st->data);
}

// The first elements known to be in order (a caller may have set more
// than the count).
int in_order(const STACK* st) {
  return st->sorted_num < 0 ? 0 : st->sorted_num > st->num ? st->num : st->sorted_num;
}

// Sorts the elements after the first p, which are in order, and merges them
// in: each, from the last, goes after the elements before it that do not
// sort after it (found by bisection), those after it moving up at once.  So
// a few elements cost a few bisections and one move of the elements after
// their places.  false, the stack then holding the same elements, when
// memory for a copy of them ran out.
bool merge_into_order(STACK* st, int p) {
  sk_cmp_fn comp = st->comp;
  const int t = st->num - p;
  char** d = st->data;
  qsort_r(d + p, static_cast<size_t>(t), sizeof(char*), compare_slots, &comp);
  if (comp(&d[p - 1], &d[p]) <= 0) return true;
  auto* rest = static_cast<char**>(MORVANE_malloc(sizeof(char*) * static_cast<size_t>(t)));
  if (rest == nullptr) return false;
  memcpy(rest, d + p, sizeof(char*) * static_cast<size_t>(t));
  int i = p;        // the elements in order not yet passed: d[0..i)
  int k = st->num;  // d[k..num) is final
  for (int j = t - 1; j >= 0; j--) {
    int lo = 0;
    int hi = i;
    while (lo < hi) {
      const int mid = lo + (hi - lo) / 2;
      if (comp(&d[mid], &rest[j]) <= 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    const int after = i - lo;
    memmove(d + k - after, d + lo, sizeof(char*) * static_cast<size_t>(after));
    k -= after;
    i = lo;
    d[--k] = rest[j];
  }
  MORVANE_free(rest);
  return true;
}

}  // namespace

static_assert(offsetof(STACK, num) == 0 && offsetof(STACK, sorted_num) == 4 &&
              offsetof(STACK, data) == 8 && offsetof(STACK, sorted) == 16 &&
              offsetof(STACK, num_alloc) == 20 && offsetof(STACK, comp) == 24 &&
              sizeof(STACK) == 32);

/* see morvane/stack.h */
STACK* sk_new(sk_cmp_fn c) {
  auto* ret = static_cast<STACK*>(MORVANE_malloc(sizeof(STACK)));
  if (ret == nullptr) return nullptr;
  ret->data = static_cast<char**>(MORVANE_malloc(sizeof(char*) * kMinNodes));
  if (ret->data == nullptr) {
    MORVANE_free(ret);
    return nullptr;
  }
  for (int i = 0; i < kMinNodes; i++) ret->data[i] = nullptr;
  ret->comp = c;
  ret->num_alloc = kMinNodes;
  ret->num = 0;
  ret->sorted_num = 0;
  ret->sorted = 0;
  return ret;
}

STACK* sk_new_null(void) { return sk_new(nullptr); }

STACK* sk_dup(STACK* sk) {
  if (sk == nullptr) return nullptr;
  STACK* ret = sk_new(sk->comp);
  if (ret == nullptr) return nullptr;
  auto* s = static_cast<char**>(
      MORVANE_realloc(ret->data, sizeof(char*) * static_cast<size_t>(sk->num_alloc)));
  if (s == nullptr) {
    sk_free(ret);
    return nullptr;
  }
  ret->data = s;
  ret->num = sk->num;
  if (sk->num > 0) memcpy(ret->data, sk->data, sizeof(char*) * static_cast<size_t>(sk->num));
  ret->sorted = sk->sorted;
  ret->sorted_num = sk->sorted_num;
  ret->num_alloc = sk->num_alloc;
  ret->comp = sk->comp;
  return ret;
}

void sk_free(STACK* sk) {
  if (sk == nullptr) return;
  if (sk->data != nullptr) MORVANE_free(sk->data);
  MORVANE_free(sk);
}

void sk_pop_free(STACK* sk, void (*func)(void*)) {
  if (sk == nullptr) return;
  for (int i = 0; func != nullptr && i < sk->num; i++)
    if (sk->data[i] != nullptr) func(sk->data[i]);
  sk_free(sk);
}

void sk_zero(STACK* sk) {
  if (sk == nullptr || sk->num <= 0) return;
  memset(sk->data, 0, sizeof(char*) * static_cast<size_t>(sk->num));
  sk->num = 0;
  sk->sorted_num = 0;
}

int sk_num(const STACK* sk) { return sk == nullptr ? -1 : sk->num; }

char* sk_value(const STACK* sk, int i) {
  if (sk == nullptr || i < 0 || i >= sk->num) return nullptr;
  return sk->data[i];
}

char* sk_set(STACK* sk, int i, char* value) {
  if (sk == nullptr || i < 0 || i >= sk->num) return nullptr;
  if (i < sk->sorted_num) sk->sorted_num = i;
  return sk->data[i] = value;
}

int sk_is_sorted(const STACK* sk) { return sk == nullptr ? 1 : sk->sorted; }

sk_cmp_fn sk_set_cmp_func(STACK* sk, sk_cmp_fn c) {
  if (sk == nullptr) return nullptr;
  sk_cmp_fn old = sk->comp;
  if (sk->comp != c) {
    sk->sorted = 0;
    sk->sorted_num = 0;
  }
  sk->comp = c;
  return old;
}

int sk_insert(STACK* st, char* data, int loc) {
  if (st == nullptr) return 0;
  if (st->num_alloc <= st->num + 1) {
    // Refuse a doubling that would overflow the slot count or the byte size.
    if (st->num_alloc > (1 << 29)) return 0;
    auto* s = static_cast<char**>(
        MORVANE_realloc(st->data, sizeof(char*) * static_cast<size_t>(st->num_alloc) * 2));
    if (s == nullptr) return 0;
    st->data = s;
    st->num_alloc *= 2;
  }
  st->sorted_num = in_order(st);
  if (loc >= 0 && loc < st->num) {
    if (loc < st->sorted_num) st->sorted_num = loc;
    memmove(&st->data[loc + 1], &st->data[loc],
            sizeof(char*) * static_cast<size_t>(st->num - loc));
    st->data[loc] = data;
  } else {
    st->data[st->num] = data;
  }
  st->num++;
  st->sorted = 0;
  return st->num;
}

int sk_push(STACK* sk, char* data) { return sk == nullptr ? 0 : sk_insert(sk, data, sk->num); }

int sk_unshift(STACK* sk, char* data) { return sk_insert(sk, data, 0); }

char* sk_delete(STACK* st, int loc) {
  if (st == nullptr || loc < 0 || loc >= st->num) return nullptr;
  char* ret = st->data[loc];
  if (loc < st->sorted_num) st->sorted_num--;
  if (loc != st->num - 1)
    memmove(&st->data[loc], &st->data[loc + 1],
            sizeof(char*) * static_cast<size_t>(st->num - 1 - loc));
  st->num--;
  return ret;
}

char* sk_delete_ptr(STACK* st, char* p) {
  if (st == nullptr) return nullptr;
  for (int i = 0; i < st->num; i++)
    if (st->data[i] == p) return sk_delete(st, i);
  return nullptr;
}

char* sk_shift(STACK* sk) {
  if (sk == nullptr || sk->num <= 0) return nullptr;
  return sk_delete(sk, 0);
}

char* sk_pop(STACK* sk) {
  if (sk == nullptr || sk->num <= 0) return nullptr;
  return sk_delete(sk, sk->num - 1);
}

void sk_sort(STACK* sk) {
  if (sk == nullptr || sk->sorted) return;
  // Without a comparison there is no order to establish; the stack stays as
  // it is and unsorted.
  if (sk->comp == nullptr) return;
  // qsort_r is the same sort as qsort, so equal elements end where they did.
  const int p = in_order(sk);
  if (p == 0 || p == sk->num || !merge_into_order(sk, p)) {
    sk_cmp_fn comp = sk->comp;
    if (p < sk->num)
      qsort_r(sk->data, static_cast<size_t>(sk->num), sizeof(char*), compare_slots, &comp);
  }
  sk->sorted = 1;
  sk->sorted_num = sk->num;
}

// The first element equal to data: a search for the first index whose
// element does not sort before data, in O(log n) comparisons however many
// elements equal it.
int sk_find(STACK* sk, char* data) {
  if (sk == nullptr || sk->comp == nullptr || data == nullptr)
    return internal_find(sk, data, OBJ_BSEARCH_FIRST_VALUE_ON_MATCH);
  sk_sort(sk);
  const char* key = data;
  int lo = 0;
  int hi = sk->num;
  int found = -1;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    const int c = sk->comp(&key, &sk->data[mid]);
    if (c <= 0) {
      hi = mid;
      if (c == 0) found = mid;
    } else {
      lo = mid + 1;
    }
  }
  return found;
}

int sk_find_ex(STACK* sk, char* data) {
  return internal_find(sk, data, OBJ_BSEARCH_VALUE_ON_NOMATCH);
}
