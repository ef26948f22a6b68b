// The engine table of digests: which engine, if any, implements a digest.
//
// Implementation notes: no engine registers digests in this build, so the
// table is empty: the default engine of every NID is none (which tells the
// caller to use its built-in description, with nothing queued), and no engine
// supplies a description.

#include <morvane/engine.h>
#include <morvane/err.h>

/* see morvane/engine.h */
ENGINE* ENGINE_get_digest_engine(int /*nid*/) {
  return nullptr;
}

/* see morvane/engine.h */
const EVP_MD* ENGINE_get_digest(ENGINE* /*e*/, int /*nid*/) {
  ENGINEerr(ENGINE_F_ENGINE_GET_DIGEST, ENGINE_R_UNIMPLEMENTED_DIGEST);
  return nullptr;
}
