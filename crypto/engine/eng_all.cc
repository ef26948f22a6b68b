// Loading the built-in engines.

#include <morvane/engine.h>
#include <morvane/err.h>

/* see morvane/engine.h */
void ENGINE_load_builtin_engines(void) {
  // The engine list and its "dynamic" engine are not built yet: there is
  // nothing to add.  Adding engines may queue errors that are no failure.
  ERR_clear_error();
}
