// Shared-object handles: creating, loading, binding and releasing them
// through the method table.  The null method is the only one in this build.

#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "dso/internal.h"

namespace {

constexpr int kCtrlSetFlags = 2;

// The null method: every slot empty, so nothing can be loaded or bound.
constinit DSO_METHOD dso_meth_null = {
    "NULL shared library method",
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// The method of handles made without one; the platform method, which in this
// build is the null method, until the application chooses.
constinit DSO_METHOD* default_dso_meth = nullptr;

DSO* new_method(DSO_METHOD* meth) {
  if (default_dso_meth == nullptr) default_dso_meth = &dso_meth_null;
  auto* dso = static_cast<DSO*>(MORVANE_malloc(sizeof(DSO)));
  if (dso == nullptr) {
    DSOerr(DSO_F_DSO_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(dso, 0, sizeof(*dso));
  dso->meth_data = sk_new_null();
  if (dso->meth_data == nullptr) {
    DSOerr(DSO_F_DSO_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    MORVANE_free(dso);
    return nullptr;
  }
  dso->meth = meth != nullptr ? meth : default_dso_meth;
  dso->references = 1;
  if (dso->meth->init != nullptr && !dso->meth->init(dso)) {
    sk_free(dso->meth_data);
    MORVANE_free(dso);
    return nullptr;
  }
  return dso;
}

long ctrl(DSO* dso, int cmd, long larg, void* parg) {
  if (cmd == kCtrlSetFlags) {
    dso->flags = static_cast<int>(larg);
    return 0;
  }
  if (dso->meth->dso_ctrl == nullptr) {
    DSOerr(DSO_F_DSO_CTRL, DSO_R_FUNCTIONALITY_NOT_SUPPORTED);
    return -1;
  }
  return dso->meth->dso_ctrl(dso, cmd, larg, parg);
}

int set_filename(DSO* dso, const char* filename) {
  if (dso->loaded_filename != nullptr) {
    DSOerr(DSO_F_DSO_SET_FILENAME, DSO_R_DSO_ALREADY_LOADED);
    return 0;
  }
  char* copy = BUF_strdup(filename);
  if (copy == nullptr) {
    DSOerr(DSO_F_DSO_SET_FILENAME, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  MORVANE_free(dso->filename);
  dso->filename = copy;
  return 1;
}

// Fills `dso` (made by the caller or by DSO_load) from `filename`.
bool load_into(DSO* dso, const char* filename) {
  if (dso->filename != nullptr) {
    DSOerr(DSO_F_DSO_LOAD, DSO_R_DSO_ALREADY_LOADED);
    return false;
  }
  if (filename != nullptr && !set_filename(dso, filename)) {
    DSOerr(DSO_F_DSO_LOAD, DSO_R_SET_FILENAME_FAILED);
    return false;
  }
  if (dso->filename == nullptr) {
    DSOerr(DSO_F_DSO_LOAD, DSO_R_NO_FILENAME);
    return false;
  }
  if (dso->meth->dso_load == nullptr) {
    DSOerr(DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED);
    return false;
  }
  if (!dso->meth->dso_load(dso)) {
    DSOerr(DSO_F_DSO_LOAD, DSO_R_COULD_NOT_LOAD_THE_SHARED_LIBRARY);
    return false;
  }
  return true;
}

}  // namespace

/* see morvane/dso.h */
DSO* DSO_load(DSO* dso, const char* filename, DSO_METHOD* meth, int flags) {
  DSO* ret = dso;
  if (ret == nullptr) {
    ret = new_method(meth);
    if (ret == nullptr) {
      DSOerr(DSO_F_DSO_LOAD, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    if (ctrl(ret, kCtrlSetFlags, flags, nullptr) < 0) {
      DSOerr(DSO_F_DSO_LOAD, DSO_R_CONTROL_COMMAND_FAILED);
      DSO_free(ret);
      return nullptr;
    }
  }
  if (!load_into(ret, filename)) {
    if (dso == nullptr) DSO_free(ret);
    return nullptr;
  }
  return ret;
}

DSO_FUNC_TYPE DSO_bind_func(DSO* dso, const char* symname) {
  if (dso == nullptr || symname == nullptr) {
    DSOerr(DSO_F_DSO_BIND_FUNC, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (dso->meth->dso_bind_func == nullptr) {
    DSOerr(DSO_F_DSO_BIND_FUNC, DSO_R_FUNCTIONALITY_NOT_SUPPORTED);
    return nullptr;
  }
  DSO_FUNC_TYPE f = dso->meth->dso_bind_func(dso, symname);
  if (f == nullptr) DSOerr(DSO_F_DSO_BIND_FUNC, DSO_R_COULD_NOT_BIND_TO_THE_REQUESTED_SYMBOL_NAME);
  return f;
}

int DSO_free(DSO* dso) {
  if (dso == nullptr) {
    DSOerr(DSO_F_DSO_FREE, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (CRYPTO_add(&dso->references, -1, CRYPTO_LOCK_DSO) > 0) return 1;
  if (dso->meth->dso_unload != nullptr && !dso->meth->dso_unload(dso)) {
    DSOerr(DSO_F_DSO_FREE, DSO_R_COULD_NOT_UNLOAD_THE_SHARED_LIBRARY);
    return 0;
  }
  if (dso->meth->finish != nullptr && !dso->meth->finish(dso)) {
    DSOerr(DSO_F_DSO_FREE, DSO_R_CLEANUP_METHOD_FUNCTION_FAILED);
    return 0;
  }
  sk_free(dso->meth_data);
  MORVANE_free(dso->filename);
  MORVANE_free(dso->loaded_filename);
  MORVANE_free(dso);
  return 1;
}
