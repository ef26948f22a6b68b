// Operations whose implementation is not part of this build yet (the
// public-key algorithms): they exist under their final names so that callers
// link, and each call queues "called a function that was disabled at
// compile-time" (ERR_R_DISABLED) under its library, with the function's name
// as the error data, before returning its contract's failure value.
#ifndef MORVANE_INTERNAL_UNBUILT_H
#define MORVANE_INTERNAL_UNBUILT_H

#include <morvane/err.h>

namespace morvane::internal {

// Queues the error of the unbuilt operation `name` of library `lib`; `func`
// is its function code in the library's table, or 0 when it has none.
inline void unbuilt(int lib, int func, const char* name, const char* file, int line) {
  ERR_put_error(lib, func, ERR_R_DISABLED, file, line);
  ERR_add_error_data(1, name);
}

}  // namespace morvane::internal

// In the body of an unbuilt operation: queues its error, naming it.
#define MORVANE_UNBUILT(lib, func) \
  ::morvane::internal::unbuilt((lib), (func), __func__, __FILE__, __LINE__)

#endif  // MORVANE_INTERNAL_UNBUILT_H
