// The error component's own text tables and their loader: library names,
// system-call names (registered under library 2), the reasons common to every
// library (all generated from err.errors), and the texts of the system's
// error numbers, taken once from strerror.

#include <stddef.h>
#include <string.h>

#include <iterator>

#include <morvane/crypto.h>
#include <morvane/err.h>

#include "err/internal.h"
#include "internal/err_load.h"
#include "internal/lock.h"

#include "err_err_data.inc"

static_assert(std::size(ERR_str_libraries) == 27 + 1);
static_assert(std::size(ERR_str_functs) == 11 + 1);
static_assert(std::size(ERR_str_reasons) == 35 + 1);

namespace {

constexpr int kSystemErrors = 127;  // error numbers 1 to 127
constexpr size_t kSystemTextSize = 32;

// Entry i - 1 holds error number i; the last entry stays the terminator.
constinit ERR_STRING_DATA SYS_str_reasons[kSystemErrors + 1] = {};
// At most 31 characters of strerror(i) per error number, NUL-terminated.
constinit char system_texts[kSystemErrors][kSystemTextSize] = {};
// 1 until the texts have been built; read and written under lock 1.
constinit int system_texts_pending = 1;

void build_system_texts() {
  {
    MORVANE_READ_LOCKED(CRYPTO_LOCK_ERR);
    if (!system_texts_pending) return;
  }
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ERR);
  if (!system_texts_pending) return;
  for (int i = 1; i <= kSystemErrors; i++) {
    ERR_STRING_DATA* str = &SYS_str_reasons[i - 1];
    str->error = static_cast<unsigned long>(i);
    if (str->string == nullptr) {
      // strerror is called only here, under the write lock.
      const char* src = strerror(i);
      if (src != nullptr) {
        char* text = system_texts[i - 1];
        strncpy(text, src, kSystemTextSize);
        text[kSystemTextSize - 1] = '\0';
        str->string = text;
      }
    }
    if (str->string == nullptr) str->string = "unknown";
  }
  system_texts_pending = 0;
}

}  // namespace

/* see morvane/err.h */
void ERR_load_ERR_strings(void) {
  // Before the first load this code lacks its library number and finds
  // nothing; registering it ORs library 2 into it.  As in every loader it
  // goes in last, once every other text is in (see internal/err_load.h).
  if (ERR_func_error_string(morvane::internal::string_code(ERR_str_functs[0])) != nullptr) return;
  bool all = morvane::err::register_strings(0, ERR_str_libraries);
  all = morvane::err::register_strings(0, ERR_str_reasons) && all;
  all = morvane::err::register_strings(ERR_LIB_SYS, ERR_str_functs + 1) && all;
  build_system_texts();
  all = morvane::err::register_strings(ERR_LIB_SYS, SYS_str_reasons) && all;
  if (all) morvane::err::register_entry(ERR_LIB_SYS, &ERR_str_functs[0]);
}
