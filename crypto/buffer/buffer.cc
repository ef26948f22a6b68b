// BUF_MEM: the growable byte buffer.
//
// Implementation notes: storage grows to ((len + 3) / 3) * 4 bytes, computed
// in 64 bits and refused when it would not fit an int; lengths are never
// negative, so every memset below covers a real range.

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/wipe.h"

namespace {

// The shared body of BUF_MEM_grow and BUF_MEM_grow_clean.
int grow(BUF_MEM* str, int len, bool clean) {
  const int func = clean ? BUF_F_BUF_MEM_GROW_CLEAN : BUF_F_BUF_MEM_GROW;
  if (str == nullptr) {
    BUFerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (len < 0) {
    BUFerr(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  if (str->length >= len) {
    if (clean && str->length > len) memset(str->data + len, 0, str->length - len);
    str->length = len;
    return len;
  }
  if (str->max >= len) {
    memset(str->data + str->length, 0, len - str->length);
    str->length = len;
    return len;
  }
  const int64_t n = (static_cast<int64_t>(len) + 3) / 3 * 4;
  if (n > INT_MAX) {  // storage an int cannot count
    BUFerr(func, BUF_R_SIZE_LIMIT_EXCEEDED);
    return 0;
  }
  char* ret;
  if (str->data == nullptr)
    ret = static_cast<char*>(MORVANE_malloc(n));
  else if (clean)
    ret = static_cast<char*>(MORVANE_realloc_clean(str->data, str->max, n));
  else
    ret = static_cast<char*>(MORVANE_realloc(str->data, n));
  if (ret == nullptr) {
    BUFerr(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  str->data = ret;
  str->max = static_cast<int>(n);
  memset(str->data + str->length, 0, len - str->length);
  str->length = len;
  return len;
}

}  // namespace

/* see morvane/buffer.h */
BUF_MEM* BUF_MEM_new(void) {
  auto* ret = static_cast<BUF_MEM*>(MORVANE_malloc(sizeof(BUF_MEM)));
  if (ret == nullptr) {
    BUFerr(BUF_F_BUF_MEM_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ret->length = 0;
  ret->max = 0;
  ret->data = nullptr;
  return ret;
}

void BUF_MEM_free(BUF_MEM* a) {
  if (a == nullptr) return;
  if (a->data != nullptr) {
    // A plain memset before a free is a dead store the compiler may drop.
    morvane::internal::wipe_to_zero(a->data, static_cast<size_t>(a->max));
    MORVANE_free(a->data);
  }
  MORVANE_free(a);
}

int BUF_MEM_grow(BUF_MEM* str, int len) { return grow(str, len, false); }

int BUF_MEM_grow_clean(BUF_MEM* str, int len) { return grow(str, len, true); }
