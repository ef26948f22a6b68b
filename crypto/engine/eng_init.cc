// Functional references of engines.
//
// Implementation notes: no engine object exists yet (the engine list and
// engine construction come later), so there is no engine to take or release
// a reference on: both calls refuse every argument, a null one with "passed a
// null parameter".  No caller can reach them with an engine of this build.

#include <morvane/engine.h>
#include <morvane/err.h>

/* see morvane/engine.h */
int ENGINE_init(ENGINE* e) {
  ENGINEerr(ENGINE_F_ENGINE_INIT,
            e == nullptr ? ERR_R_PASSED_NULL_PARAMETER : ENGINE_R_INIT_FAILED);
  return 0;
}

/* see morvane/engine.h */
int ENGINE_finish(ENGINE* e) {
  ENGINEerr(ENGINE_F_ENGINE_FINISH,
            e == nullptr ? ERR_R_PASSED_NULL_PARAMETER : ENGINE_R_FINISH_FAILED);
  return 0;
}
