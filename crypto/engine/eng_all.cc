// Loading the built-in engines.

#include <morvane/engine.h>

/* see morvane/engine.h */
void ENGINE_load_builtin_engines(void) {
  ENGINE_load_padlock();
  ENGINE_load_dynamic();
}

/* see morvane/engine.h */
void ENGINE_load_padlock(void) {}

/* see morvane/engine.h */
void ENGINE_load_cryptodev(void) {}
