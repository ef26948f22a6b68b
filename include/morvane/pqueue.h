/* Morvane: the priority queue.
 *
 * A singly linked list of items in strictly ascending order of priority.  A
 * priority is a big number compared by magnitude (signs are ignored), and no
 * two queued items share one.  Each item holds its own copy of its priority
 * and an untyped payload that the queue never looks at.  The queue never frees
 * items: the caller creates each item with pitem_new and frees it with
 * pitem_free once it is out of the queue; pqueue_free frees only the queue.
 * Nothing here queues an error; a queue belongs to one thread at a time.
 *
 * Null arguments: a null queue is empty (peek, pop, find and iterator give
 * null, size 0, insert refuses the item with null) and pitem_free and
 * pqueue_free accept null; pqueue_next takes a null iterator as finished. */
#ifndef MORVANE_PQUEUE_H
#define MORVANE_PQUEUE_H

#include <morvane/bn.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

typedef struct _pitem {
  BIGNUM priority;     /* the item's own copy */
  void *data;          /* the caller's payload, not owned */
  struct _pitem *next; /* the item of next higher priority, or null */
} pitem;

typedef struct _pqueue {
  pitem *items; /* the item of lowest priority, or null */
  int count;    /* 0 at creation and not maintained: use pqueue_size */
} pqueue_s;

/* A new item holding a copy of `priority` and the payload `data`; null when
 * the allocation or the copy fails. */
MORVANE_EXPORT pitem *pitem_new(BIGNUM priority, void *data);
/* Frees the item and its priority's words; null is ignored.  The item must no
 * longer be queued. */
MORVANE_EXPORT void pitem_free(pitem *item);

/* An empty queue, or null. */
MORVANE_EXPORT pqueue_s *pqueue_new(void);
/* Frees the queue record only; the items stay the caller's.  Null is ignored. */
MORVANE_EXPORT void pqueue_free(pqueue_s *pq);

/* Inserts `item` in order and returns it; null, with nothing changed, when an
 * item of equal priority is already queued. */
MORVANE_EXPORT pitem *pqueue_insert(pqueue_s *pq, pitem *item);
/* The item of lowest priority, or null; nothing is removed. */
MORVANE_EXPORT pitem *pqueue_peek(pqueue_s *pq);
/* Removes and returns the item of lowest priority, or null when empty. */
MORVANE_EXPORT pitem *pqueue_pop(pqueue_s *pq);
/* The queued item whose priority equals `priority`, or null. */
MORVANE_EXPORT pitem *pqueue_find(pqueue_s *pq, BIGNUM priority);

/* Walking the queue in order:
 *   pitem *iter = pqueue_iterator(pq), *item;
 *   while ((item = pqueue_next(&iter)) != NULL) ...
 * pqueue_next returns the item that *iter holds and advances *iter to the next
 * one; null when iter or *iter is null. */
MORVANE_EXPORT pitem *pqueue_iterator(pqueue_s *pq);
MORVANE_EXPORT pitem *pqueue_next(pitem **iter);
/* The number of queued items, counted along the list. */
MORVANE_EXPORT int pqueue_size(pqueue_s *pq);

MORVANE_END_DECLS

#endif /* MORVANE_PQUEUE_H */
