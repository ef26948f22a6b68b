// Loading the built-in engines.

#include <morvane/engine.h>
#include <morvane/err.h>

/* see morvane/engine.h */
void ENGINE_load_builtin_engines(void) {
  ENGINE_load_padlock();
  ENGINE_load_dynamic();
  // Adding engines may queue errors that are no failure.
  ERR_clear_error();
}

/* see morvane/engine.h */
void ENGINE_load_dynamic(void) {
  // The "dynamic" engine, which loads engines from shared objects, is not
  // built yet: nothing is added.
}

/* see morvane/engine.h */
void ENGINE_load_padlock(void) {}

/* see morvane/engine.h */
void ENGINE_load_cryptodev(void) {}
