// The error-string table: registering and removing text arrays, the three
// lookups, and the one-line text of a packed code.
//
// Implementation notes: the table stores pointers to the registered entries
// themselves, so registered arrays are static and writable (loading with a
// non-zero library ORs the library number into their codes for good).

#include <stdio.h>
#include <string.h>

#include <atomic>

#include <morvane/err.h>

#include "err/internal.h"
#include "internal/err_load.h"

namespace {

// ERR_error_string's buffer for callers that pass none, shared by all.
constinit char shared_text[256] = {};

// The registered text for `code`, or null.
const char* lookup(unsigned long code) {
  ERR_STRING_DATA key = {code, nullptr};
  const ERR_STRING_DATA* p = morvane::err::err_fns()->cb_err_get_item(&key);
  return p != nullptr ? p->string : nullptr;
}

// ORs library `lib` into the entry's code.  The array is written only when
// the code changes, so loading an array again (as concurrent loaders may)
// does not write to it.
void or_library(ERR_STRING_DATA* str, int lib) {
  const unsigned long old = morvane::internal::string_code(*str);
  const unsigned long code = old | ERR_PACK(lib, 0, 0);
  if (code != old) std::atomic_ref<unsigned long>(str->error).store(code, std::memory_order_relaxed);
}

}  // namespace

namespace morvane::err {

// see err/internal.h
bool register_entry(int lib, ERR_STRING_DATA* str) {
  const ERR_FNS* fns = err_fns();
  or_library(str, lib);
  fns->cb_err_set_item(str);
  // The table says nothing when it could not take the entry (no memory
  // for it, or for the table): look it up.
  return fns->cb_err_get_item(str) != nullptr;
}

// see err/internal.h
bool register_strings(int lib, ERR_STRING_DATA* str) {
  bool all = true;
  for (; internal::string_code(*str) != 0; str++)
    if (!register_entry(lib, str)) all = false;
  return all;
}

}  // namespace morvane::err

namespace morvane::internal {

// see internal/err_load.h
void load_error_strings(ERR_STRING_DATA* functs, ERR_STRING_DATA* reasons) {
  if (string_code(functs[0]) == 0) {  // no function texts
    err::register_strings(0, reasons);
    return;
  }
  if (ERR_func_error_string(string_code(functs[0])) != nullptr) return;
  // The first function's text tells later loads that everything is there,
  // so it goes in last and only then: after a text that could not be
  // registered, the next load registers them all again.
  const bool functions = err::register_strings(0, functs + 1);
  const bool all = err::register_strings(0, reasons) && functions;
  if (all) err::register_entry(0, &functs[0]);
}

}  // namespace morvane::internal

/* see morvane/err.h */
void ERR_load_strings(int lib, ERR_STRING_DATA* str) {
  if (str != nullptr) morvane::err::register_strings(lib, str);
}

void ERR_unload_strings(int lib, ERR_STRING_DATA* str) {
  if (str == nullptr) return;
  const ERR_FNS* fns = morvane::err::err_fns();
  for (; morvane::internal::string_code(*str) != 0; str++) {
    or_library(str, lib);
    fns->cb_err_del_item(str);
  }
}

void ERR_free_strings(void) { morvane::err::err_fns()->cb_err_del(); }

LHASH* ERR_get_string_table(void) { return morvane::err::err_fns()->cb_err_get(0); }

const char* ERR_lib_error_string(unsigned long e) {
  return lookup(ERR_PACK(ERR_GET_LIB(e), 0, 0));
}

const char* ERR_func_error_string(unsigned long e) {
  return lookup(ERR_PACK(ERR_GET_LIB(e), ERR_GET_FUNC(e), 0));
}

const char* ERR_reason_error_string(unsigned long e) {
  const char* s = lookup(ERR_PACK(ERR_GET_LIB(e), 0, ERR_GET_REASON(e)));
  // Reasons common to every library live under library 0.
  if (s == nullptr) s = lookup(ERR_PACK(0, 0, ERR_GET_REASON(e)));
  return s;
}

void ERR_error_string_n(unsigned long e, char* buf, size_t len) {
  if (buf == nullptr || len == 0) return;  // no room even for the NUL
  char lsbuf[64], fsbuf[64], rsbuf[64];
  const char* ls = ERR_lib_error_string(e);
  const char* fs = ERR_func_error_string(e);
  const char* rs = ERR_reason_error_string(e);
  if (ls == nullptr) {
    snprintf(lsbuf, sizeof(lsbuf), "lib(%lu)", static_cast<unsigned long>(ERR_GET_LIB(e)));
    ls = lsbuf;
  }
  if (fs == nullptr) {
    snprintf(fsbuf, sizeof(fsbuf), "func(%lu)", static_cast<unsigned long>(ERR_GET_FUNC(e)));
    fs = fsbuf;
  }
  if (rs == nullptr) {
    snprintf(rsbuf, sizeof(rsbuf), "reason(%lu)", static_cast<unsigned long>(ERR_GET_REASON(e)));
    rs = rsbuf;
  }
  snprintf(buf, len, "error:%08lX:%s:%s:%s", e, ls, fs, rs);
  if (strlen(buf) != len - 1 || len <= 4) return;
  // The text may have been cut: keep its four colons, the last ones moved
  // into the final four places when they were cut off.
  char* s = buf;
  for (size_t i = 0; i < 4; i++) {
    char* last = buf + len - 5 + i;
    char* colon = strchr(s, ':');
    if (colon == nullptr || colon > last) {
      colon = last;
      *colon = ':';
    }
    s = colon + 1;
  }
}

char* ERR_error_string(unsigned long e, char* buf) {
  if (buf == nullptr) buf = shared_text;
  ERR_error_string_n(e, buf, sizeof(shared_text));
  return buf;
}
