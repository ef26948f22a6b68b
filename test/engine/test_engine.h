// A test engine for the engine suites: counting init/finish/destroy, an
// init that can be told to refuse, and a probe of the structural count.
#ifndef MORVANE_TEST_ENGINE_TEST_ENGINE_H
#define MORVANE_TEST_ENGINE_TEST_ENGINE_H

#include <morvane/engine.h>

namespace engine_test {

struct Counts {
  int inits = 0;
  int finishes = 0;
  int destroys = 0;
};

// The counts of the engine made by MakeEngine(id).
Counts& CountsOf(const ENGINE* e);
// A new engine with id and name `id`, counting callbacks; `init_ok` false
// makes its init refuse (pushing an error, as a real engine would).
ENGINE* MakeEngine(const char* id, bool init_ok = true);
// The structural count of `e`, read through an add-lock callback around
// ENGINE_up_ref/ENGINE_free (single-threaded tests only).
int StructRef(ENGINE* e);

}  // namespace engine_test

#endif  // MORVANE_TEST_ENGINE_TEST_ENGINE_H
