// Shared-object handles: creating, naming, loading, binding and releasing
// them through the method table.  The null method is the only loader in this
// build: handles can be made, named, counted and freed, but nothing loads.

#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/err.h>
#include <morvane/stack.h>

static_assert(offsetof(DSO, meth) == 0 && offsetof(DSO, meth_data) == 8 &&
              offsetof(DSO, references) == 16 && offsetof(DSO, flags) == 20 &&
              offsetof(DSO, ex_data) == 24 && offsetof(DSO, name_converter) == 40 &&
              offsetof(DSO, merger) == 48 && offsetof(DSO, filename) == 56 &&
              offsetof(DSO, loaded_filename) == 64);

namespace {

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

// The method of handles made without one; set on first need.
constinit DSO_METHOD* default_dso_meth = nullptr;

bool null_arg(const void* p, int func) {
  if (p != nullptr) return false;
  DSOerr(func, ERR_R_PASSED_NULL_PARAMETER);
  return true;
}

}  // namespace

/* see morvane/dso.h */
DSO* DSO_new(void) {
  return DSO_new_method(nullptr);
}

/* see morvane/dso.h */
DSO* DSO_new_method(DSO_METHOD* meth) {
  if (default_dso_meth == nullptr) default_dso_meth = DSO_METHOD_morvane();
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

/* see morvane/dso.h */
int DSO_free(DSO* dso) {
  if (null_arg(dso, DSO_F_DSO_FREE)) return 0;
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

/* see morvane/dso.h */
int DSO_up_ref(DSO* dso) {
  if (null_arg(dso, DSO_F_DSO_UP_REF)) return 0;
  CRYPTO_add(&dso->references, 1, CRYPTO_LOCK_DSO);
  return 1;
}

/* see morvane/dso.h */
int DSO_flags(DSO* dso) {
  return dso != nullptr ? dso->flags : 0;
}

/* see morvane/dso.h */
long DSO_ctrl(DSO* dso, int cmd, long larg, void* parg) {
  if (null_arg(dso, DSO_F_DSO_CTRL)) return -1;
  switch (cmd) {
    case DSO_CTRL_GET_FLAGS:
      return dso->flags;
    case DSO_CTRL_SET_FLAGS:
      dso->flags = static_cast<int>(larg);
      return 0;
    case DSO_CTRL_OR_FLAGS:
      dso->flags |= static_cast<int>(larg);
      return 0;
    default:
      break;
  }
  if (dso->meth->dso_ctrl == nullptr) {
    DSOerr(DSO_F_DSO_CTRL, DSO_R_FUNCTIONALITY_NOT_SUPPORTED);
    return -1;
  }
  return dso->meth->dso_ctrl(dso, cmd, larg, parg);
}

/* see morvane/dso.h */
void DSO_set_default_method(DSO_METHOD* meth) {
  default_dso_meth = meth;
}

/* see morvane/dso.h */
DSO_METHOD* DSO_get_default_method(void) {
  return default_dso_meth;
}

/* see morvane/dso.h */
DSO_METHOD* DSO_get_method(DSO* dso) {
  return dso != nullptr ? dso->meth : nullptr;
}

/* see morvane/dso.h */
DSO_METHOD* DSO_set_method(DSO* dso, DSO_METHOD* meth) {
  if (dso == nullptr) return nullptr;
  DSO_METHOD* old = dso->meth;
  dso->meth = meth;
  return old;
}

/* see morvane/dso.h */
int DSO_set_name_converter(DSO* dso, DSO_NAME_CONVERTER_FUNC cb, DSO_NAME_CONVERTER_FUNC* oldcb) {
  if (null_arg(dso, DSO_F_DSO_SET_NAME_CONVERTER)) return 0;
  if (oldcb != nullptr) *oldcb = dso->name_converter;
  dso->name_converter = cb;
  return 1;
}

/* see morvane/dso.h */
const char* DSO_get_filename(DSO* dso) {
  if (null_arg(dso, DSO_F_DSO_GET_FILENAME)) return nullptr;
  return dso->filename;
}

/* see morvane/dso.h */
const char* DSO_get_loaded_filename(DSO* dso) {
  if (null_arg(dso, DSO_F_DSO_GET_LOADED_FILENAME)) return nullptr;
  return dso->loaded_filename;
}

/* see morvane/dso.h */
int DSO_set_filename(DSO* dso, const char* filename) {
  if (dso == nullptr || filename == nullptr) {
    DSOerr(DSO_F_DSO_SET_FILENAME, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
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

/* see morvane/dso.h */
char* DSO_convert_filename(DSO* dso, const char* filename) {
  if (null_arg(dso, DSO_F_DSO_CONVERT_FILENAME)) return nullptr;
  if (filename == nullptr) filename = dso->filename;
  if (filename == nullptr) {
    DSOerr(DSO_F_DSO_CONVERT_FILENAME, DSO_R_NO_FILENAME);
    return nullptr;
  }
  char* result = nullptr;
  if (!(dso->flags & DSO_FLAG_NO_NAME_TRANSLATION)) {
    if (dso->name_converter != nullptr) {
      result = dso->name_converter(dso, filename);
    } else if (dso->meth->dso_name_converter != nullptr) {
      result = dso->meth->dso_name_converter(dso, filename);
    }
  }
  if (result == nullptr) {
    result = BUF_strdup(filename);
    if (result == nullptr) DSOerr(DSO_F_DSO_CONVERT_FILENAME, ERR_R_MALLOC_FAILURE);
  }
  return result;
}

/* see morvane/dso.h */
char* DSO_merge(DSO* dso, const char* filespec1, const char* filespec2) {
  if (null_arg(dso, DSO_F_DSO_MERGE)) return nullptr;
  if (filespec1 == nullptr) filespec1 = dso->filename;
  if (filespec1 == nullptr) {
    DSOerr(DSO_F_DSO_MERGE, DSO_R_NO_FILE_SPECIFICATION);
    return nullptr;
  }
  if (dso->flags & DSO_FLAG_NO_NAME_TRANSLATION) return nullptr;
  if (dso->merger != nullptr) return dso->merger(dso, filespec1, filespec2);
  if (dso->meth->dso_merger != nullptr) return dso->meth->dso_merger(dso, filespec1, filespec2);
  return nullptr;
}

/* see morvane/dso.h */
DSO* DSO_load(DSO* dso, const char* filename, DSO_METHOD* meth, int flags) {
  DSO* ret = dso;
  if (ret == nullptr) {
    ret = DSO_new_method(meth);
    if (ret == nullptr) {
      DSOerr(DSO_F_DSO_LOAD, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    if (DSO_ctrl(ret, DSO_CTRL_SET_FLAGS, flags, nullptr) < 0) {
      DSOerr(DSO_F_DSO_LOAD, DSO_R_CONTROL_COMMAND_FAILED);
      DSO_free(ret);
      return nullptr;
    }
  }
  int reason = 0;
  if (ret->filename != nullptr) {
    reason = DSO_R_DSO_ALREADY_LOADED;
  } else if (filename != nullptr && !DSO_set_filename(ret, filename)) {
    reason = DSO_R_SET_FILENAME_FAILED;
  } else if (ret->filename == nullptr) {
    reason = DSO_R_NO_FILENAME;
  } else if (ret->meth->dso_load == nullptr) {
    reason = DSO_R_FUNCTIONALITY_NOT_SUPPORTED;
  } else if (!ret->meth->dso_load(ret)) {
    reason = DSO_R_COULD_NOT_LOAD_THE_SHARED_LIBRARY;
  }
  if (reason == 0) return ret;
  DSOerr(DSO_F_DSO_LOAD, reason);
  if (dso == nullptr) DSO_free(ret);
  return nullptr;
}

/* see morvane/dso.h */
void* DSO_bind_var(DSO* dso, const char* symname) {
  if (dso == nullptr || symname == nullptr) {
    DSOerr(DSO_F_DSO_BIND_VAR, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (dso->meth->dso_bind_var == nullptr) {
    DSOerr(DSO_F_DSO_BIND_VAR, DSO_R_FUNCTIONALITY_NOT_SUPPORTED);
    return nullptr;
  }
  void* p = dso->meth->dso_bind_var(dso, symname);
  if (p == nullptr) DSOerr(DSO_F_DSO_BIND_VAR, DSO_R_COULD_NOT_BIND_TO_THE_REQUESTED_SYMBOL_NAME);
  return p;
}

/* see morvane/dso.h */
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

/* see morvane/dso.h */
DSO_METHOD* DSO_METHOD_null(void) {
  return &dso_meth_null;
}
DSO_METHOD* DSO_METHOD_morvane(void) {
  return &dso_meth_null;
}
DSO_METHOD* DSO_METHOD_dl(void) {
  return nullptr;
}
DSO_METHOD* DSO_METHOD_dlfcn(void) {
  return nullptr;
}
DSO_METHOD* DSO_METHOD_vms(void) {
  return nullptr;
}
DSO_METHOD* DSO_METHOD_win32(void) {
  return nullptr;
}
