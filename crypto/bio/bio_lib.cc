// The stream object: creation and release, dispatch of every operation
// through the type's method table (with the watcher callback around it),
// byte counters, control commands, chains and their copies.
//
// Implementation notes: the generic functions never walk a chain on their
// own; filters reach the next stream through their own calls.  Only the
// reference count is changed under a lock (CRYPTO_LOCK_BIO).

#include <cstddef>
#include <cstdint>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/internal.h"

// The public record's layout on this platform (LP64).
static_assert(offsetof(BIO, method) == 0);
static_assert(offsetof(BIO, callback) == 8);
static_assert(offsetof(BIO, cb_arg) == 16);
static_assert(offsetof(BIO, init) == 24);
static_assert(offsetof(BIO, shutdown) == 28);
static_assert(offsetof(BIO, flags) == 32);
static_assert(offsetof(BIO, retry_reason) == 36);
static_assert(offsetof(BIO, num) == 40);
static_assert(offsetof(BIO, ptr) == 48);
static_assert(offsetof(BIO, next_bio) == 56);
static_assert(offsetof(BIO, prev_bio) == 64);
static_assert(offsetof(BIO, references) == 72);
static_assert(offsetof(BIO, num_read) == 80);
static_assert(offsetof(BIO, num_write) == 88);
static_assert(offsetof(BIO, ex_data) == 96);
static_assert(sizeof(BIO) == 96 + sizeof(CRYPTO_EX_DATA));
static_assert(offsetof(BIO_METHOD, name) == 8);
static_assert(offsetof(BIO_METHOD, callback_ctrl) == 72);
static_assert(sizeof(BIO_METHOD) == 80);

namespace {

using morvane::bio::kRetryMask;

// The shared sequence of BIO_read, BIO_write, BIO_puts and BIO_gets: method
// check, watcher before, init check, the type's function, counting, watcher
// after.  `call` runs the type's function.
template <typename Call>
int DataOp(BIO* b, bool has_slot, int func, int oper, const char* argp, int argi,
           unsigned long bio_st::*counter, Call call) {
  if (b == nullptr || b->method == nullptr || !has_slot) {
    BIOerr(func, BIO_R_UNSUPPORTED_METHOD);
    return -2;
  }
  auto cb = b->callback;
  if (cb != nullptr) {
    long r = cb(b, oper, argp, argi, 0L, 1L);
    if (r <= 0) return static_cast<int>(r);
  }
  if (!b->init) {
    BIOerr(func, BIO_R_UNINITIALIZED);
    return -2;
  }
  int i = call();
  if (i > 0 && counter != nullptr) b->*counter += static_cast<unsigned long>(i);
  if (cb != nullptr) i = static_cast<int>(cb(b, oper | BIO_CB_RETURN, argp, argi, 0L, i));
  return i;
}

// The shared sequence of BIO_ctrl and BIO_callback_ctrl (no init check).
template <typename Call>
long CtrlOp(BIO* b, bool has_slot, int func, const char* argp, int cmd, long larg, Call call) {
  if (b == nullptr) return 0;
  if (b->method == nullptr || !has_slot) {
    BIOerr(func, BIO_R_UNSUPPORTED_METHOD);
    return -2;
  }
  auto cb = b->callback;
  if (cb != nullptr) {
    long r = cb(b, BIO_CB_CTRL, argp, cmd, larg, 1L);
    if (r <= 0) return r;
  }
  long ret = call();
  if (cb != nullptr) ret = cb(b, BIO_CB_CTRL | BIO_CB_RETURN, argp, cmd, larg, ret);
  return ret;
}

}  // namespace

/* see morvane/bio.h */
BIO* BIO_new(BIO_METHOD* method) {
  BIO* ret = static_cast<BIO*>(MORVANE_malloc(sizeof(BIO)));
  if (ret == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  if (!BIO_set(ret, method)) {
    MORVANE_free(ret);
    return nullptr;
  }
  return ret;
}

/* see morvane/bio.h */
int BIO_set(BIO* bio, BIO_METHOD* method) {
  if (method == nullptr) return 0;
  bio->method = method;
  bio->callback = nullptr;
  bio->cb_arg = nullptr;
  bio->init = 0;
  bio->shutdown = 1;
  bio->flags = 0;
  bio->retry_reason = 0;
  bio->num = 0;
  bio->ptr = nullptr;
  bio->prev_bio = nullptr;
  bio->next_bio = nullptr;
  bio->references = 1;
  bio->num_read = 0;
  bio->num_write = 0;
  CRYPTO_new_ex_data(CRYPTO_EX_INDEX_BIO, bio, &bio->ex_data);
  if (method->create != nullptr && !method->create(bio)) {
    CRYPTO_free_ex_data(CRYPTO_EX_INDEX_BIO, bio, &bio->ex_data);
    return 0;
  }
  return 1;
}

/* see morvane/bio.h */
int BIO_free(BIO* a) {
  if (a == nullptr) return 0;
  if (CRYPTO_add_lock(&a->references, -1, CRYPTO_LOCK_BIO, __FILE__, __LINE__) > 0) return 1;
  if (a->callback != nullptr) {
    long r = a->callback(a, BIO_CB_FREE, nullptr, 0, 0L, 1L);
    if (r <= 0) return static_cast<int>(r);
  }
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_BIO, a, &a->ex_data);
  // A type without a destroy function has no state of its own to release;
  // the record goes all the same.
  if (a->method != nullptr && a->method->destroy != nullptr) a->method->destroy(a);
  MORVANE_free(a);
  return 1;
}

/* see morvane/bio.h */
void BIO_vfree(BIO* a) {
  BIO_free(a);
}

/* see morvane/bio.h */
void BIO_free_all(BIO* bio) {
  while (bio != nullptr) {
    BIO* b = bio;
    int refs = b->references;
    bio = b->next_bio;
    BIO_free(b);
    if (refs > 1) break;  // still used elsewhere: it and the rest stay
  }
}

/* see morvane/bio.h */
int BIO_read(BIO* b, void* out, int outl) {
  return DataOp(b, b != nullptr && b->method != nullptr && b->method->bread != nullptr,
                BIO_F_BIO_READ, BIO_CB_READ, static_cast<const char*>(out), outl, &bio_st::num_read,
                [&] { return b->method->bread(b, static_cast<char*>(out), outl); });
}

/* see morvane/bio.h */
int BIO_write(BIO* b, const void* in, int inl) {
  if (b == nullptr) return 0;
  return DataOp(b, b->method != nullptr && b->method->bwrite != nullptr, BIO_F_BIO_WRITE,
                BIO_CB_WRITE, static_cast<const char*>(in), inl, &bio_st::num_write,
                [&] { return b->method->bwrite(b, static_cast<const char*>(in), inl); });
}

/* see morvane/bio.h */
int BIO_puts(BIO* b, const char* in) {
  return DataOp(b, b != nullptr && b->method != nullptr && b->method->bputs != nullptr,
                BIO_F_BIO_PUTS, BIO_CB_PUTS, in, 0, &bio_st::num_write,
                [&] { return b->method->bputs(b, in); });
}

/* see morvane/bio.h */
int BIO_gets(BIO* b, char* in, int inl) {
  // No room even for the terminator: nothing is read or stored, whether or
  // not the type reads lines.
  const bool no_room = inl <= 0;
  return DataOp(b, b != nullptr && b->method != nullptr && (no_room || b->method->bgets != nullptr),
                BIO_F_BIO_GETS, BIO_CB_GETS, in, inl, nullptr,
                [&] { return no_room ? 0 : b->method->bgets(b, in, inl); });
}

/* see morvane/bio.h */
int BIO_indent(BIO* b, int indent, int max) {
  if (indent > max) indent = max;
  for (int i = 0; i < indent; i++)
    if (BIO_puts(b, " ") != 1) return 0;
  return 1;
}

/* see morvane/bio.h */
long BIO_ctrl(BIO* b, int cmd, long larg, void* parg) {
  return CtrlOp(b, b != nullptr && b->method != nullptr && b->method->ctrl != nullptr,
                BIO_F_BIO_CTRL, static_cast<const char*>(parg), cmd, larg,
                [&] { return b->method->ctrl(b, cmd, larg, parg); });
}

/* see morvane/bio.h */
long BIO_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return CtrlOp(b, b != nullptr && b->method != nullptr && b->method->callback_ctrl != nullptr,
                BIO_F_BIO_CALLBACK_CTRL, reinterpret_cast<const char*>(&fp), cmd, 0L,
                [&] { return b->method->callback_ctrl(b, cmd, fp); });
}

/* see morvane/bio.h */
long BIO_int_ctrl(BIO* b, int cmd, long larg, int iarg) {
  int i = iarg;
  return BIO_ctrl(b, cmd, larg, &i);
}

/* see morvane/bio.h */
char* BIO_ptr_ctrl(BIO* b, int cmd, long larg) {
  char* p = nullptr;
  if (BIO_ctrl(b, cmd, larg, &p) <= 0) return nullptr;
  return p;
}

/* see morvane/bio.h */
size_t BIO_ctrl_pending(BIO* bio) {
  return static_cast<size_t>(BIO_ctrl(bio, BIO_CTRL_PENDING, 0, nullptr));
}

/* see morvane/bio.h */
size_t BIO_ctrl_wpending(BIO* bio) {
  return static_cast<size_t>(BIO_ctrl(bio, BIO_CTRL_WPENDING, 0, nullptr));
}

/* see morvane/bio.h */
BIO* BIO_push(BIO* b, BIO* bio) {
  if (b == nullptr) return bio;
  BIO* last = b;
  while (last->next_bio != nullptr) last = last->next_bio;
  last->next_bio = bio;
  if (bio != nullptr) bio->prev_bio = last;
  BIO_ctrl(b, BIO_CTRL_PUSH, 0, nullptr);
  return b;
}

/* see morvane/bio.h */
BIO* BIO_pop(BIO* b) {
  if (b == nullptr) return nullptr;
  BIO* ret = b->next_bio;
  BIO_ctrl(b, BIO_CTRL_POP, 0, nullptr);
  if (b->prev_bio != nullptr) b->prev_bio->next_bio = b->next_bio;
  if (b->next_bio != nullptr) b->next_bio->prev_bio = b->prev_bio;
  b->next_bio = nullptr;
  b->prev_bio = nullptr;
  return ret;
}

/* see morvane/bio.h */
BIO* BIO_next(BIO* b) {
  return b == nullptr ? nullptr : b->next_bio;
}

/* see morvane/bio.h */
BIO* BIO_find_type(BIO* bio, int type) {
  bool exact = (type & 0xff) != 0;
  for (; bio != nullptr; bio = bio->next_bio) {
    if (bio->method == nullptr) continue;
    int mt = bio->method->type;
    if (exact ? mt == type : (mt & type) != 0) return bio;
  }
  return nullptr;
}

/* see morvane/bio.h */
BIO* BIO_get_retry_BIO(BIO* bio, int* reason) {
  BIO* last = bio;
  for (BIO* b = bio; b != nullptr && (b->flags & BIO_FLAGS_SHOULD_RETRY); b = b->next_bio) last = b;
  if (reason != nullptr) *reason = last->retry_reason;
  return last;
}

/* see morvane/bio.h */
void BIO_copy_next_retry(BIO* b) {
  if (b == nullptr || b->next_bio == nullptr) return;  // nothing to copy from
  b->flags |= b->next_bio->flags & kRetryMask;
  b->retry_reason = b->next_bio->retry_reason;
}

/* see morvane/bio.h */
BIO* BIO_dup_chain(BIO* in) {
  BIO* head = nullptr;
  BIO* tail = nullptr;
  for (BIO* s = in; s != nullptr; s = s->next_bio) {
    BIO* n = BIO_new(s->method);
    if (n == nullptr) goto err;
    n->callback = s->callback;
    n->cb_arg = s->cb_arg;
    n->init = s->init;
    n->shutdown = s->shutdown;
    n->flags = s->flags;
    n->num = s->num;
    if (BIO_ctrl(s, BIO_CTRL_DUP, 0, n) == 0 ||
        !CRYPTO_dup_ex_data(CRYPTO_EX_INDEX_BIO, &n->ex_data, &s->ex_data)) {
      BIO_free(n);
      goto err;
    }
    if (head == nullptr) {
      head = n;
    } else {
      BIO_push(tail, n);
    }
    tail = n;
  }
  return head;
err:
  BIO_free_all(head);
  return nullptr;
}

// ---- accessors --------------------------------------------------------------

/* see morvane/bio.h */
void BIO_set_flags(BIO* b, int flags) {
  b->flags |= flags;
}
/* see morvane/bio.h */
void BIO_clear_flags(BIO* b, int flags) {
  b->flags &= ~flags;
}
/* see morvane/bio.h */
int BIO_test_flags(const BIO* b, int flags) {
  return b->flags & flags;
}

/* see morvane/bio.h */
long (*BIO_get_callback(const BIO* b))(BIO*, int, const char*, int, long, long) {
  return b->callback;
}

/* see morvane/bio.h */
void BIO_set_callback(BIO* b, long (*cb)(BIO*, int, const char*, int, long, long)) {
  b->callback = cb;
}

/* see morvane/bio.h */
char* BIO_get_callback_arg(const BIO* b) {
  return b->cb_arg;
}
/* see morvane/bio.h */
void BIO_set_callback_arg(BIO* b, char* arg) {
  b->cb_arg = arg;
}
/* see morvane/bio.h */
const char* BIO_method_name(const BIO* b) {
  return b->method->name;
}
/* see morvane/bio.h */
int BIO_method_type(const BIO* b) {
  return b->method->type;
}
/* see morvane/bio.h */
int BIO_get_retry_reason(BIO* bio) {
  return bio->retry_reason;
}
/* see morvane/bio.h */
unsigned long BIO_number_read(BIO* bio) {
  return bio == nullptr ? 0 : bio->num_read;
}
/* see morvane/bio.h */
unsigned long BIO_number_written(BIO* bio) {
  return bio == nullptr ? 0 : bio->num_write;
}

/* see morvane/bio.h */
int BIO_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func, CRYPTO_EX_dup* dup_func,
                         CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_BIO, argl, argp, new_func, dup_func, free_func);
}

/* see morvane/bio.h */
int BIO_set_ex_data(BIO* bio, int idx, void* data) {
  return CRYPTO_set_ex_data(&bio->ex_data, idx, data);
}

/* see morvane/bio.h */
void* BIO_get_ex_data(BIO* bio, int idx) {
  return CRYPTO_get_ex_data(&bio->ex_data, idx);
}
