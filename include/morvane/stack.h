/* Morvane: the generic stack, the library's one ordered container.
 *
 * A STACK is a growable array of untyped element pointers with an optional
 * comparison function.  The stack never owns its elements: sk_free frees only
 * the stack, and sk_pop_free is the deep free.  With a comparison function the
 * stack sorts lazily: insertions clear `sorted`, and the first search sorts.
 * Elements appended to a sorted stack leave it sorted up to `sorted_num`, and
 * that search then sorts only the elements after those and merges them in,
 * so that a few additions between searches cost a few bisections and one
 * move of the elements after their places (each goes after the elements in
 * order that equal it).
 * Stack functions queue no errors; failures show only in the results.  A
 * stack has no lock: its owner serialises use (a search may sort, so it counts
 * as a write).
 *
 * Null arguments: every function accepts a null stack (sk_num gives -1,
 * sk_is_sorted 1, sk_find -1, sk_dup and sk_set_cmp_func null, the others 0
 * or null, doing nothing), and sk_pop_free a null free function (the
 * elements are then left alone). */
#ifndef MORVANE_STACK_H
#define MORVANE_STACK_H

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* Called with pointers to two slots; returns <0, 0 or >0 like a qsort
 * comparison. */
typedef int (*sk_cmp_fn)(const char *const *a, const char *const *b);

struct stack_st {
  int num;          /* elements in use */
  int sorted_num;   /* how many of the first elements are known to be in
                       the order of comp (all after a sort; an insertion or
                       sk_set before the end cuts it there) */
  char **data;      /* num_alloc slots; the first num are the elements */
  int sorted;       /* 1 when the elements are in the order of comp */
  int num_alloc;    /* slots allocated; only grows, by doubling */
  sk_cmp_fn comp;   /* comparison, or null */
};

#define M_sk_num(sk) ((sk) ? (sk)->num : -1)
#define M_sk_value(sk, n) ((sk) ? (sk)->data[n] : NULL)

MORVANE_EXPORT extern const char STACK_version[];

/* A new empty stack with comparison `c` (may be null) and 4 slots; null on
 * failure. */
MORVANE_EXPORT STACK *sk_new(sk_cmp_fn c);
MORVANE_EXPORT STACK *sk_new_null(void);
/* A shallow copy sharing the elements; null on failure. */
MORVANE_EXPORT STACK *sk_dup(STACK *sk);
MORVANE_EXPORT void sk_free(STACK *sk);
/* Calls func on every non-null element, index 0 upward, then frees the stack. */
MORVANE_EXPORT void sk_pop_free(STACK *sk, void (*func)(void *));
/* Empties the stack without freeing elements. */
MORVANE_EXPORT void sk_zero(STACK *sk);

MORVANE_EXPORT int sk_num(const STACK *sk);                /* -1 for null */
MORVANE_EXPORT char *sk_value(const STACK *sk, int i);     /* null out of range */
MORVANE_EXPORT char *sk_set(STACK *sk, int i, char *value);
MORVANE_EXPORT int sk_is_sorted(const STACK *sk);          /* 1 for null */
MORVANE_EXPORT sk_cmp_fn sk_set_cmp_func(STACK *sk, sk_cmp_fn c);

/* Inserts before `loc` (appends when loc is out of range); returns the new
 * count, or 0 on failure with the stack unchanged. */
MORVANE_EXPORT int sk_insert(STACK *sk, char *data, int loc);
MORVANE_EXPORT int sk_push(STACK *sk, char *data);
MORVANE_EXPORT int sk_unshift(STACK *sk, char *data);
MORVANE_EXPORT char *sk_delete(STACK *sk, int loc);
MORVANE_EXPORT char *sk_delete_ptr(STACK *sk, char *p);
MORVANE_EXPORT char *sk_shift(STACK *sk);
MORVANE_EXPORT char *sk_pop(STACK *sk);

/* Sorts with comp when not already sorted; a stack without comparison is left
 * as it is. */
MORVANE_EXPORT void sk_sort(STACK *sk);
/* Index of a matching element (the lowest among equals), or -1.  Without a
 * comparison the match is pointer identity. */
MORVANE_EXPORT int sk_find(STACK *sk, char *data);
/* As sk_find; with a comparison an absent key yields the index of the last
 * element the bisection compared. */
MORVANE_EXPORT int sk_find_ex(STACK *sk, char *data);

MORVANE_END_DECLS

#endif /* MORVANE_STACK_H */
