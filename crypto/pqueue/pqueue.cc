// Priority queue: a sorted singly linked list of items keyed by big-number
// priorities compared by magnitude.
//
// Insertion and search are linear in the queue's length; the queue is meant
// for a handful of items.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/pqueue.h>

/* see morvane/pqueue.h */
pitem* pitem_new(BIGNUM priority, void* data) {
  auto* item = static_cast<pitem*>(MORVANE_malloc(sizeof(pitem)));
  if (item == nullptr) return nullptr;
  BN_init(&item->priority);
  if (BN_copy(&item->priority, &priority) == nullptr) {
    BN_free(&item->priority);
    MORVANE_free(item);
    return nullptr;
  }
  item->data = data;
  item->next = nullptr;
  return item;
}

void pitem_free(pitem* item) {
  if (item == nullptr) return;
  BN_free(&item->priority);
  MORVANE_free(item);
}

pqueue_s* pqueue_new(void) {
  auto* pq = static_cast<pqueue_s*>(MORVANE_malloc(sizeof(pqueue_s)));
  if (pq == nullptr) return nullptr;
  pq->items = nullptr;
  pq->count = 0;
  return pq;
}

void pqueue_free(pqueue_s* pq) {
  if (pq != nullptr) MORVANE_free(pq);
}

pitem* pqueue_insert(pqueue_s* pq, pitem* item) {
  if (pq == nullptr || item == nullptr) return nullptr;
  // `link` is the pointer that leads to `curr`: the head, or the previous
  // item's next.  The greater-than test comes before the equality test.
  pitem** link = &pq->items;
  for (pitem* curr = pq->items; curr != nullptr; curr = curr->next) {
    int c = BN_ucmp(&curr->priority, &item->priority);
    if (c > 0) break;
    if (c == 0) return nullptr;
    link = &curr->next;
  }
  item->next = *link;
  *link = item;
  return item;
}

pitem* pqueue_peek(pqueue_s* pq) {
  return pq != nullptr ? pq->items : nullptr;
}

pitem* pqueue_pop(pqueue_s* pq) {
  if (pq == nullptr) return nullptr;
  pitem* item = pq->items;
  if (item != nullptr) pq->items = item->next;
  return item;
}

pitem* pqueue_find(pqueue_s* pq, BIGNUM priority) {
  if (pq == nullptr) return nullptr;
  for (pitem* curr = pq->items; curr != nullptr; curr = curr->next) {
    if (BN_ucmp(&curr->priority, &priority) == 0) return curr;
  }
  return nullptr;
}

pitem* pqueue_iterator(pqueue_s* pq) {
  return pqueue_peek(pq);
}

pitem* pqueue_next(pitem** iter) {
  if (iter == nullptr || *iter == nullptr) return nullptr;
  pitem* ret = *iter;
  *iter = ret->next;
  return ret;
}

int pqueue_size(pqueue_s* pq) {
  if (pq == nullptr) return 0;
  int count = 0;
  for (const pitem* curr = pq->items; curr != nullptr; curr = curr->next) count++;
  return count;
}
