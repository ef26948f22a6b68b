// The "dynamic" engine: a loader that turns a shared object into an engine.
// Each copy that ENGINE_by_id("dynamic") hands out collects its settings
// through control commands (a path or an id, directories, whether to list
// the result) and LOAD then binds the object's "bind_engine" into the copy.
//
// Implementation notes: the settings of a copy live in its extra data under
// one index, allocated on first use, whose free callback releases them with
// the copy.  This library's only shared-object method is the null method,
// so LOAD fails with "dso not found" after the loader's own errors.

#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "engine/internal.h"
#include "internal/err_mark.h"
#include "internal/lock.h"

namespace {

constexpr int kCmdSoPath = ENGINE_CMD_BASE;
constexpr int kCmdNoVcheck = ENGINE_CMD_BASE + 1;
constexpr int kCmdId = ENGINE_CMD_BASE + 2;
constexpr int kCmdListAdd = ENGINE_CMD_BASE + 3;
constexpr int kCmdDirLoad = ENGINE_CMD_BASE + 4;
constexpr int kCmdDirAdd = ENGINE_CMD_BASE + 5;
constexpr int kCmdLoad = ENGINE_CMD_BASE + 6;

// The version a shared object's "v_check" must accept.
constexpr unsigned long kInterfaceVersion = 0x20000;

constexpr ENGINE_CMD_DEFN dynamic_cmd_defns[] = {
    {kCmdSoPath, "SO_PATH", "Specifies the path to the new ENGINE shared library",
     ENGINE_CMD_FLAG_STRING},
    {kCmdNoVcheck, "NO_VCHECK", "Specifies to continue even if version checking fails (boolean)",
     ENGINE_CMD_FLAG_NUMERIC},
    {kCmdId, "ID", "Specifies an ENGINE id name for loading", ENGINE_CMD_FLAG_STRING},
    {kCmdListAdd, "LIST_ADD",
     "Whether to add a loaded ENGINE to the internal list (0=no,1=yes,2=mandatory)",
     ENGINE_CMD_FLAG_NUMERIC},
    {kCmdDirLoad, "DIR_LOAD",
     "Specifies whether to load from 'DIR_ADD' directories (0=no,1=yes,2=mandatory)",
     ENGINE_CMD_FLAG_NUMERIC},
    {kCmdDirAdd, "DIR_ADD", "Adds a directory from which ENGINEs can be loaded",
     ENGINE_CMD_FLAG_STRING},
    {kCmdLoad, "LOAD", "Load up the ENGINE specified by other settings", ENGINE_CMD_FLAG_NO_INPUT},
    {0, nullptr, nullptr, 0},
};

// What a loaded object's "bind_engine" receives: this library's state and
// the implementations it runs with.
struct dynamic_MEM_fns {
  void* (*malloc_cb)(size_t);
  void* (*realloc_cb)(void*, size_t);
  void (*free_cb)(void*);
};
struct dynamic_LOCK_fns {
  CRYPTO_locking_cb lock_locking_cb;
  CRYPTO_add_lock_cb lock_add_lock_cb;
  CRYPTO_dynlock_create_cb dynlock_create_cb;
  CRYPTO_dynlock_lock_cb dynlock_lock_cb;
  CRYPTO_dynlock_destroy_cb dynlock_destroy_cb;
};
struct dynamic_fns {
  void* static_state;
  const ERR_FNS* err_fns;
  const CRYPTO_EX_DATA_IMPL* ex_data_fns;
  dynamic_MEM_fns mem_fns;
  dynamic_LOCK_fns lock_fns;
};

using dynamic_v_check_fn = unsigned long (*)(unsigned long interface_version);
using dynamic_bind_engine = int (*)(ENGINE* e, const char* id, const dynamic_fns* fns);

// The settings of one copy.
struct dynamic_data_ctx {
  DSO* dynamic_dso;
  dynamic_v_check_fn v_check;
  dynamic_bind_engine bind_engine;
  char* DYNAMIC_LIBNAME;  // path of the shared object
  int no_vcheck;
  char* engine_id;
  int list_add_value;      // 0 do not list, 1 list if possible, 2 must list
  const char* DYNAMIC_F1;  // "v_check"
  const char* DYNAMIC_F2;  // "bind_engine"
  int dir_load;            // 0 the path only, 1 the path then dirs, 2 dirs only
  STACK* dirs;             // of char*, in order
};

// The extra-data index of the settings; -1 until the first use.  Lock 30.
constinit int dynamic_ex_data_idx = -1;

void free_data_ctx(dynamic_data_ctx* ctx) {
  if (ctx->dynamic_dso != nullptr) DSO_free(ctx->dynamic_dso);
  MORVANE_free(ctx->DYNAMIC_LIBNAME);
  MORVANE_free(ctx->engine_id);
  if (ctx->dirs != nullptr) sk_pop_free(ctx->dirs, CRYPTO_free);
  MORVANE_free(ctx);
}

void dynamic_data_ctx_free_func(void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
  if (ptr != nullptr) free_data_ctx(static_cast<dynamic_data_ctx*>(ptr));
}

int read_index() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
  return dynamic_ex_data_idx;
}

// Makes the settings of `e`; another thread's, when it attached some first.
dynamic_data_ctx* dynamic_set_data_ctx(ENGINE* e, int idx) {
  auto* c = static_cast<dynamic_data_ctx*>(MORVANE_malloc(sizeof(dynamic_data_ctx)));
  if (c == nullptr) {
    ENGINEerr(ENGINE_F_DYNAMIC_SET_DATA_CTX, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(c, 0, sizeof(*c));
  c->dirs = sk_new_null();
  if (c->dirs == nullptr) {
    ENGINEerr(ENGINE_F_DYNAMIC_SET_DATA_CTX, ERR_R_MALLOC_FAILURE);
    MORVANE_free(c);
    return nullptr;
  }
  c->DYNAMIC_F1 = "v_check";
  c->DYNAMIC_F2 = "bind_engine";
  c->dir_load = 1;
  dynamic_data_ctx* ret;
  bool attached = false;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    ret = static_cast<dynamic_data_ctx*>(ENGINE_get_ex_data(e, idx));
    if (ret == nullptr && ENGINE_set_ex_data(e, idx, c)) {
      ret = c;
      attached = true;
    }
  }
  if (!attached) {
    free_data_ctx(c);
    if (ret == nullptr) ENGINEerr(ENGINE_F_DYNAMIC_SET_DATA_CTX, ERR_R_MALLOC_FAILURE);
  }
  return ret;
}

dynamic_data_ctx* dynamic_get_data_ctx(ENGINE* e) {
  int idx = read_index();
  if (idx < 0) {
    const int new_idx =
        ENGINE_get_ex_new_index(0, nullptr, nullptr, nullptr, dynamic_data_ctx_free_func);
    if (new_idx == -1) {
      ENGINEerr(ENGINE_F_DYNAMIC_GET_DATA_CTX, ENGINE_R_NO_INDEX);
      return nullptr;
    }
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    if (dynamic_ex_data_idx < 0) dynamic_ex_data_idx = new_idx;  // else the new one stays unused
    idx = dynamic_ex_data_idx;
  }
  auto* ctx = static_cast<dynamic_data_ctx*>(ENGINE_get_ex_data(e, idx));
  return ctx != nullptr ? ctx : dynamic_set_data_ctx(e, idx);
}

// Replaces `*slot` by a copy of `p`, or clears it for a null or empty `p`;
// 1 when a text is set now.
int set_text(char** slot, const char* p) {
  MORVANE_free(*slot);
  *slot = p != nullptr && *p != '\0' ? BUF_strdup(p) : nullptr;
  return *slot != nullptr ? 1 : 0;
}

// Tries the path, then each directory joined with it, as dir_load says.
bool int_load(dynamic_data_ctx* ctx) {
  if (ctx->dir_load != 2 && DSO_load(ctx->dynamic_dso, ctx->DYNAMIC_LIBNAME, nullptr, 0) != nullptr)
    return true;
  if (ctx->dir_load == 0) return false;
  for (int i = 0; i < sk_num(ctx->dirs); i++) {
    char* merge = DSO_merge(ctx->dynamic_dso, ctx->DYNAMIC_LIBNAME, sk_value(ctx->dirs, i));
    if (merge == nullptr) return false;
    const bool loaded = DSO_load(ctx->dynamic_dso, merge, nullptr, 0) != nullptr;
    MORVANE_free(merge);
    if (loaded) return true;
  }
  return false;
}

int load_failed(dynamic_data_ctx* ctx, int reason) {
  ctx->bind_engine = nullptr;
  ctx->v_check = nullptr;
  DSO_free(ctx->dynamic_dso);
  ctx->dynamic_dso = nullptr;
  ENGINEerr(ENGINE_F_DYNAMIC_LOAD, reason);
  return 0;
}

int dynamic_load(ENGINE* e, dynamic_data_ctx* ctx) {
  if (ctx->dynamic_dso == nullptr && (ctx->dynamic_dso = DSO_new()) == nullptr) return 0;
  if (ctx->DYNAMIC_LIBNAME == nullptr) {
    if (ctx->engine_id == nullptr) {  // nothing to load: no error
      DSO_free(ctx->dynamic_dso);
      ctx->dynamic_dso = nullptr;
      return 0;
    }
    ctx->DYNAMIC_LIBNAME = DSO_convert_filename(ctx->dynamic_dso, ctx->engine_id);
  }
  if (ctx->DYNAMIC_LIBNAME == nullptr || !int_load(ctx))
    return load_failed(ctx, ENGINE_R_DSO_NOT_FOUND);
  ctx->bind_engine =
      reinterpret_cast<dynamic_bind_engine>(DSO_bind_func(ctx->dynamic_dso, ctx->DYNAMIC_F2));
  if (ctx->bind_engine == nullptr) return load_failed(ctx, ENGINE_R_DSO_FAILURE);
  if (!ctx->no_vcheck) {
    unsigned long vcheck_res = 0;
    ctx->v_check =
        reinterpret_cast<dynamic_v_check_fn>(DSO_bind_func(ctx->dynamic_dso, ctx->DYNAMIC_F1));
    if (ctx->v_check != nullptr) vcheck_res = ctx->v_check(kInterfaceVersion);
    if (vcheck_res < kInterfaceVersion) return load_failed(ctx, ENGINE_R_VERSION_INCOMPATIBILITY);
  }
  // The object binds itself into this copy, from a cleared record.
  const ENGINE saved = *e;
  dynamic_fns fns{};
  fns.static_state = ENGINE_get_static_state();
  fns.err_fns = ERR_get_implementation();
  fns.ex_data_fns = CRYPTO_get_ex_data_implementation();
  CRYPTO_get_mem_functions(&fns.mem_fns.malloc_cb, &fns.mem_fns.realloc_cb, &fns.mem_fns.free_cb);
  fns.lock_fns.lock_locking_cb = CRYPTO_get_locking_callback();
  fns.lock_fns.lock_add_lock_cb = CRYPTO_get_add_lock_callback();
  fns.lock_fns.dynlock_create_cb = CRYPTO_get_dynlock_create_callback();
  fns.lock_fns.dynlock_lock_cb = CRYPTO_get_dynlock_lock_callback();
  fns.lock_fns.dynlock_destroy_cb = CRYPTO_get_dynlock_destroy_callback();
  engine_set_all_null(e);
  if (!ctx->bind_engine(e, ctx->engine_id, &fns)) {
    // Back to the dynamic engine's own fields; counts, data and links stay.
    const ENGINE now = *e;
    *e = saved;
    e->struct_ref = now.struct_ref;
    e->funct_ref = now.funct_ref;
    e->ex_data = now.ex_data;
    e->prev = now.prev;
    e->next = now.next;
    return load_failed(ctx, ENGINE_R_INIT_FAILED);
  }
  if (ctx->list_add_value > 0) {
    const bool wished = ctx->list_add_value == 1;
    morvane::internal::ErrorMark mark(wished);
    const int added = ENGINE_add(e);
    if (wished) {
      mark.pop();  // listing was only wished for
    } else if (!added) {
      ENGINEerr(ENGINE_F_DYNAMIC_LOAD, ENGINE_R_CONFLICTING_ENGINE_ID);
      return 0;
    }
  }
  return 1;
}

int dynamic_ctrl(ENGINE* e, int cmd, long i, void* p, void (*)(void)) {
  dynamic_data_ctx* ctx = dynamic_get_data_ctx(e);
  if (ctx == nullptr) {
    ENGINEerr(ENGINE_F_DYNAMIC_CTRL, ENGINE_R_NOT_LOADED);
    return 0;
  }
  if (ctx->dynamic_dso != nullptr) {
    ENGINEerr(ENGINE_F_DYNAMIC_CTRL, ENGINE_R_ALREADY_LOADED);
    return 0;
  }
  const char* text = static_cast<const char*>(p);
  switch (cmd) {
    case kCmdSoPath:
      return set_text(&ctx->DYNAMIC_LIBNAME, text);
    case kCmdNoVcheck:
      ctx->no_vcheck = i != 0 ? 1 : 0;
      return 1;
    case kCmdId:
      return set_text(&ctx->engine_id, text);
    case kCmdListAdd:
    case kCmdDirLoad:
      if (i < 0 || i > 2) {
        ENGINEerr(ENGINE_F_DYNAMIC_CTRL, ENGINE_R_INVALID_ARGUMENT);
        return 0;
      }
      (cmd == kCmdListAdd ? ctx->list_add_value : ctx->dir_load) = static_cast<int>(i);
      return 1;
    case kCmdDirAdd: {
      if (text == nullptr || *text == '\0') {
        ENGINEerr(ENGINE_F_DYNAMIC_CTRL, ENGINE_R_INVALID_ARGUMENT);
        return 0;
      }
      char* dir = BUF_strdup(text);
      if (dir == nullptr || !sk_push(ctx->dirs, dir)) {
        MORVANE_free(dir);
        ENGINEerr(ENGINE_F_DYNAMIC_CTRL, ERR_R_MALLOC_FAILURE);
        return 0;
      }
      return 1;
    }
    case kCmdLoad:
      return dynamic_load(e, ctx);
    default:
      ENGINEerr(ENGINE_F_DYNAMIC_CTRL, ENGINE_R_CTRL_COMMAND_NOT_IMPLEMENTED);
      return 0;
  }
}

// The dynamic engine itself can never be initialised.
int dynamic_init(ENGINE*) {
  return 0;
}
int dynamic_finish(ENGINE*) {
  return 0;
}

ENGINE* engine_dynamic() {
  ENGINE* e = ENGINE_new();
  if (e == nullptr) return nullptr;
  if (!ENGINE_set_id(e, "dynamic") || !ENGINE_set_name(e, "Dynamic engine loading support") ||
      !ENGINE_set_init_function(e, dynamic_init) ||
      !ENGINE_set_finish_function(e, dynamic_finish) ||
      !ENGINE_set_ctrl_function(e, dynamic_ctrl) || !ENGINE_set_flags(e, ENGINE_FLAGS_BY_ID_COPY) ||
      !ENGINE_set_cmd_defns(e, dynamic_cmd_defns)) {
    ENGINE_free(e);
    return nullptr;
  }
  return e;
}

}  // namespace

/* see morvane/engine.h */
void ENGINE_load_dynamic(void) {
  // Adding it a second time fails with "conflicting engine id": what this
  // call queued goes, what the caller had queued stays.
  morvane::internal::ErrorMark mark;
  if (ENGINE* toadd = engine_dynamic()) {
    ENGINE_add(toadd);
    ENGINE_free(toadd);
  }
  mark.pop();
}
