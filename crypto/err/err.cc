// The per-thread error queue: push, attach data, read, peek, mark, pop to
// mark and clear, and finding or removing a thread's queue.
//
// Implementation notes: the queue is a ring of ERR_NUM_ERRORS slots; the live
// entries are the slots after `bottom` up to and including `top`, so one slot
// always stays unused.  A dropped or removed entry keeps its data in its slot
// until the slot is reused or cleared.  Each thread touches only its own
// queue, without a lock; finding it goes through the storage functions.

#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>

#include "err/internal.h"

namespace {

constexpr int kSlots = ERR_NUM_ERRORS;

// Shared by every thread whose own queue could not be made.
constinit ERR_STATE fallback_state = {};

int next_slot(int i) { return (i + 1) % kSlots; }

// Frees the slot's data when the queue owns it, and forgets the pointer in
// any case: caller-owned text may be gone by the time the slot is reused.
void clear_data(ERR_STATE* es, int i) {
  if (es->err_data[i] != nullptr && (es->err_data_flags[i] & ERR_TXT_MALLOCED))
    MORVANE_free(es->err_data[i]);
  es->err_data[i] = nullptr;
  es->err_data_flags[i] = 0;
}

void clear_slot(ERR_STATE* es, int i) {
  es->err_flags[i] = 0;
  es->err_buffer[i] = 0;
  clear_data(es, i);
  es->err_file[i] = nullptr;
  es->err_line[i] = -1;
}

// The one reader behind the nine public ones: `remove` takes the entry off the
// queue, `newest` reads the most recent entry instead of the oldest.
unsigned long read_entry(bool remove, bool newest, const char** file, int* line,
                         const char** data, int* flags) {
  ERR_STATE* es = ERR_get_state();
  if (es->bottom == es->top) return 0;
  int i = newest ? es->top : next_slot(es->bottom);
  unsigned long ret = es->err_buffer[i];
  if (remove) {
    es->bottom = i;
    es->err_buffer[i] = 0;
  }
  if (file != nullptr && line != nullptr) {
    if (es->err_file[i] == nullptr) {
      *file = "NA";
      *line = 0;
    } else {
      *file = es->err_file[i];
      *line = es->err_line[i];
    }
  }
  if (data == nullptr) {
    if (remove) clear_data(es, i);
  } else if (es->err_data[i] == nullptr) {
    *data = "";
    if (flags != nullptr) *flags = 0;
  } else {
    *data = es->err_data[i];
    if (flags != nullptr) *flags = es->err_data_flags[i];
  }
  return ret;
}

}  // namespace

namespace morvane::err {

void err_state_free(ERR_STATE* es) {
  if (es == nullptr) return;
  for (int i = 0; i < kSlots; i++) clear_data(es, i);
  MORVANE_free(es);
}

}  // namespace morvane::err

/* see morvane/err.h */
void ERR_put_error(int lib, int func, int reason, const char* file, int line) {
  ERR_STATE* es = ERR_get_state();
  es->top = next_slot(es->top);
  if (es->top == es->bottom) es->bottom = next_slot(es->bottom);  // full: drop the oldest
  int i = es->top;
  es->err_flags[i] = 0;
  // Packed in 32 bits: the library keeps its low 8 bits.
  es->err_buffer[i] = (static_cast<uint32_t>(lib) << 24) |
                      ((static_cast<uint32_t>(func) & 0xFFF) << 12) |
                      (static_cast<uint32_t>(reason) & 0xFFF);
  es->err_file[i] = file;
  es->err_line[i] = line;
  clear_data(es, i);
}

void ERR_set_error_data(char* data, int flags) {
  ERR_STATE* es = ERR_get_state();
  int i = es->top;
  clear_data(es, i);
  es->err_data[i] = data;
  es->err_data_flags[i] = flags;
}

void ERR_add_error_data(int num, ...) {
  // Starts with room for 80 characters; grows to the running length plus 20.
  size_t room = 80;
  auto* str = static_cast<char*>(MORVANE_malloc(room + 1));
  if (str == nullptr) return;
  str[0] = '\0';
  size_t n = 0;
  va_list args;
  va_start(args, num);
  for (int i = 0; i < num; i++) {
    const char* a = va_arg(args, const char*);
    if (a == nullptr) continue;
    size_t len = strlen(a);
    if (len > static_cast<size_t>(INT_MAX) - 21 - n) {  // no int-sized block holds it
      MORVANE_free(str);
      str = nullptr;
      break;
    }
    if (n + len > room) {
      room = n + len + 20;
      auto* grown = static_cast<char*>(MORVANE_realloc(str, room + 1));
      if (grown == nullptr) {
        MORVANE_free(str);
        str = nullptr;
        break;
      }
      str = grown;
    }
    memcpy(str + n, a, len + 1);
    n += len;
  }
  va_end(args);
  if (str != nullptr) ERR_set_error_data(str, ERR_TXT_MALLOCED | ERR_TXT_STRING);
}

unsigned long ERR_get_error(void) {
  return read_entry(true, false, nullptr, nullptr, nullptr, nullptr);
}
unsigned long ERR_get_error_line(const char** file, int* line) {
  return read_entry(true, false, file, line, nullptr, nullptr);
}
unsigned long ERR_get_error_line_data(const char** file, int* line, const char** data,
                                      int* flags) {
  return read_entry(true, false, file, line, data, flags);
}

unsigned long ERR_peek_error(void) {
  return read_entry(false, false, nullptr, nullptr, nullptr, nullptr);
}
unsigned long ERR_peek_error_line(const char** file, int* line) {
  return read_entry(false, false, file, line, nullptr, nullptr);
}
unsigned long ERR_peek_error_line_data(const char** file, int* line, const char** data,
                                       int* flags) {
  return read_entry(false, false, file, line, data, flags);
}

unsigned long ERR_peek_last_error(void) {
  return read_entry(false, true, nullptr, nullptr, nullptr, nullptr);
}
unsigned long ERR_peek_last_error_line(const char** file, int* line) {
  return read_entry(false, true, file, line, nullptr, nullptr);
}
unsigned long ERR_peek_last_error_line_data(const char** file, int* line, const char** data,
                                            int* flags) {
  return read_entry(false, true, file, line, data, flags);
}

void ERR_clear_error(void) {
  ERR_STATE* es = ERR_get_state();
  for (int i = 0; i < kSlots; i++) clear_slot(es, i);
  es->top = es->bottom = 0;
}

int ERR_set_mark(void) {
  ERR_STATE* es = ERR_get_state();
  if (es->bottom == es->top) return 0;
  es->err_flags[es->top] |= ERR_FLAG_MARK;
  return 1;
}

int ERR_pop_to_mark(void) {
  ERR_STATE* es = ERR_get_state();
  while (es->bottom != es->top && (es->err_flags[es->top] & ERR_FLAG_MARK) == 0) {
    clear_slot(es, es->top);
    es->top = es->top > 0 ? es->top - 1 : kSlots - 1;
  }
  if (es->bottom == es->top) return 0;
  es->err_flags[es->top] &= ~ERR_FLAG_MARK;
  return 1;
}

// ---- thread states ---------------------------------------------------------

ERR_STATE* ERR_get_state(void) {
  const ERR_FNS* fns = morvane::err::err_fns();
  ERR_STATE key = {};
  key.pid = CRYPTO_thread_id();
  ERR_STATE* ret = fns->cb_thread_get_item(&key);
  if (ret != nullptr) return ret;

  ret = static_cast<ERR_STATE*>(MORVANE_malloc(sizeof(ERR_STATE)));
  if (ret == nullptr) return &fallback_state;
  ret->pid = key.pid;
  ret->top = ret->bottom = 0;
  for (int i = 0; i < kSlots; i++) {
    ret->err_data[i] = nullptr;
    clear_slot(ret, i);
  }
  ERR_STATE* replaced = fns->cb_thread_set_item(ret);
  if (fns->cb_thread_get_item(ret) != ret) {  // the store failed
    morvane::err::err_state_free(ret);
    return &fallback_state;
  }
  if (replaced != nullptr) morvane::err::err_state_free(replaced);
  return ret;
}

void ERR_remove_state(unsigned long pid) {
  const ERR_FNS* fns = morvane::err::err_fns();
  ERR_STATE key = {};
  key.pid = pid != 0 ? pid : CRYPTO_thread_id();
  fns->cb_thread_del_item(&key);
}
