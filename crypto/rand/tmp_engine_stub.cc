// Interim stand-ins for the engine tables' random-method calls, so that the
// dispatch layer builds before they land: no engine supplies a random method.
// Removed when crypto/engine provides them.
#include <morvane/engine.h>
#include <morvane/rand.h>
extern "C" ENGINE* ENGINE_get_default_RAND(void) { return nullptr; }
extern "C" const RAND_METHOD* ENGINE_get_RAND(const ENGINE*) { return nullptr; }
