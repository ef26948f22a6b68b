// The one shape of every library's ERR_load_<LIB>_strings: register the
// library's function and reason texts unless the text of its first function
// is already in the string table (so a second call, or a call after another
// thread's load, registers nothing; after ERR_free_strings, or after a load
// that could not register every text, it loads again).
#ifndef MORVANE_INTERNAL_ERR_LOAD_H
#define MORVANE_INTERNAL_ERR_LOAD_H

#include <atomic>

#include <morvane/err.h>

namespace morvane::internal {

// The code of a text entry.  Loaders OR their library number into the codes
// of the static arrays while other threads look texts up, so every access to
// a code goes through a relaxed atomic reference.
inline unsigned long string_code(const ERR_STRING_DATA& d) {
  return std::atomic_ref<unsigned long>(const_cast<unsigned long&>(d.error))
      .load(std::memory_order_relaxed);
}

// `functs` and `reasons` are the generated <LIB>_str_functs and
// <LIB>_str_reasons arrays; their codes already carry the library number.
// The text of functs[0] is registered last, once every other text is in
// the table, so that a load that could not register them all (no memory)
// is repeated by the next one.  Defined in crypto/err/err_str.cc.
void load_error_strings(ERR_STRING_DATA* functs, ERR_STRING_DATA* reasons);

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ERR_LOAD_H
