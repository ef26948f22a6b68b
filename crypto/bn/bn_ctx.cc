// Scratch frames: a BN_CTX hands out temporary numbers in nested frames.
//
// Implementation notes: the numbers live in a pool of items of 16 embedded
// records, linked head to tail and never freed before the context, so their
// word arrays are reused from frame to frame.  A frame is the pool's use count
// when it opened, kept on a stack of marks (32 entries, then x 3/2).  The
// error latch: after a failed push, or while a get has failed in the open
// frame (too_many), starts and ends only count err_stack up and down, so the
// callers' pairs stay balanced without touching the stack.

#include <string.h>

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bn/internal.h"

namespace {

constexpr unsigned kItemSize = 16;
constexpr unsigned kFirstMarks = 32;

struct PoolItem {
  BIGNUM vals[kItemSize];
  PoolItem* prev;
  PoolItem* next;
};

struct Pool {
  PoolItem* head;
  PoolItem* current;
  PoolItem* tail;
  unsigned used;  // numbers handed out
  unsigned size;  // numbers allocated, a multiple of 16
};

struct MarkStack {
  unsigned* indexes;
  unsigned depth;
  unsigned size;
};

}  // namespace

struct bignum_ctx {
  Pool pool;
  MarkStack stack;
  unsigned used;
  int err_stack;
  int too_many;
};

namespace {

// The next number of the pool, allocating a new item when all are in use.
BIGNUM* pool_get(Pool& p) {
  if (p.used == p.size) {
    auto* item = static_cast<PoolItem*>(MORVANE_malloc(sizeof(PoolItem)));
    if (item == nullptr) return nullptr;
    for (BIGNUM& b : item->vals) BN_init(&b);
    item->prev = p.tail;
    item->next = nullptr;
    if (p.head == nullptr) {
      p.head = item;
    } else {
      p.tail->next = item;
    }
    p.current = p.tail = item;
    p.size += kItemSize;
    p.used++;
    return &item->vals[0];
  }
  if (p.used == 0) {
    p.current = p.head;
  } else if (p.used % kItemSize == 0) {
    p.current = p.current->next;
  }
  return &p.current->vals[p.used++ % kItemSize];
}

// Gives back the n numbers handed out last (not cleared: the next get zeroes).
void pool_release(Pool& p, unsigned n) {
  unsigned offset = (p.used - 1) % kItemSize;
  p.used -= n;
  while (n-- > 0) {
    if (offset == 0) {
      offset = kItemSize - 1;
      p.current = p.current->prev;
    } else {
      offset--;
    }
  }
}

bool stack_push(MarkStack& s, unsigned mark) {
  if (s.depth == s.size) {
    const unsigned size = s.size == 0 ? kFirstMarks : s.size * 3 / 2;
    auto* grown = static_cast<unsigned*>(MORVANE_malloc(sizeof(unsigned) * size));
    if (grown == nullptr) return false;
    if (s.depth > 0) memcpy(grown, s.indexes, sizeof(unsigned) * s.depth);
    if (s.size > 0) MORVANE_free(s.indexes);
    s.indexes = grown;
    s.size = size;
  }
  s.indexes[s.depth++] = mark;
  return true;
}

}  // namespace

/* see morvane/bn.h */
BN_CTX* BN_CTX_new(void) {
  auto* ctx = static_cast<BN_CTX*>(MORVANE_malloc(sizeof(BN_CTX)));
  if (ctx == nullptr) {
    BNerr(BN_F_BN_CTX_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ctx, 0, sizeof(*ctx));
  return ctx;
}

void BN_CTX_init(BN_CTX* ctx) {
  Pool& p = ctx->pool;
  for (PoolItem* item = p.head; item != nullptr; item = item->next) {
    for (BIGNUM& b : item->vals) {
      if (b.d != nullptr) BN_clear(&b);
    }
  }
  p.current = p.head;
  p.used = 0;
  ctx->stack.depth = 0;
  ctx->used = 0;
  ctx->err_stack = 0;
  ctx->too_many = 0;
}

void BN_CTX_free(BN_CTX* ctx) {
  if (ctx == nullptr) return;
  if (ctx->stack.size > 0) MORVANE_free(ctx->stack.indexes);
  PoolItem* item = ctx->pool.head;
  while (item != nullptr) {
    for (BIGNUM& b : item->vals) {
      if (b.d != nullptr) BN_clear_free(&b);
    }
    PoolItem* next = item->next;
    MORVANE_free(item);
    item = next;
  }
  MORVANE_free(ctx);
}

void BN_CTX_start(BN_CTX* ctx) {
  if (ctx->err_stack != 0 || ctx->too_many != 0) {
    ctx->err_stack++;
  } else if (!stack_push(ctx->stack, ctx->used)) {
    BNerr(BN_F_BN_CTX_START, BN_R_TOO_MANY_TEMPORARY_VARIABLES);
    ctx->err_stack++;
  }
}

BIGNUM* BN_CTX_get(BN_CTX* ctx) {
  if (ctx->err_stack != 0 || ctx->too_many != 0) return nullptr;
  BIGNUM* ret = pool_get(ctx->pool);
  if (ret == nullptr) {
    ctx->too_many = 1;
    BNerr(BN_F_BN_CTX_GET, BN_R_TOO_MANY_TEMPORARY_VARIABLES);
    return nullptr;
  }
  // Zero without touching the array: a get never allocates words.
  ret->top = 0;
  ret->neg = 0;
  ctx->used++;
  return ret;
}

void BN_CTX_end(BN_CTX* ctx) {
  if (ctx->err_stack != 0) {
    ctx->err_stack--;
    return;
  }
  if (ctx->stack.depth == 0) return;  // no open frame: nothing to pop
  const unsigned mark = ctx->stack.indexes[--ctx->stack.depth];
  if (mark < ctx->used) pool_release(ctx->pool, ctx->used - mark);
  ctx->used = mark;
  ctx->too_many = 0;
}
