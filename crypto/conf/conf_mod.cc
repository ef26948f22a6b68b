// Configuration modules: the registered modules, the instances that a loaded
// configuration initialised, and running a configuration's module list.
//
// Implementation notes: both lists are plain process-wide pointers (no lock:
// modules are loaded and unloaded at start-up and shutdown).  An instance
// keeps copies of the name and value it was listed with, so the CONF may be
// freed once its modules have run.

#include <ctype.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "internal/err_mark.h"

struct conf_module_st {
  DSO* dso;  // the shared object it came from; null when registered directly
  char* name;
  conf_init_func* init;
  conf_finish_func* finish;
  int links;  // live instances
  void* usr_data;
};

struct conf_imodule_st {
  CONF_MODULE* pmod;
  char* name;   // the name the configuration listed it under
  char* value;  // the value given to it there
  unsigned long flags;
  void* usr_data;
};

namespace {

constinit STACK* supported_modules = nullptr;    // CONF_MODULE*, in registration order
constinit STACK* initialized_modules = nullptr;  // CONF_IMODULE*, oldest first

CONF_MODULE* module_at(int i) {
  return reinterpret_cast<CONF_MODULE*>(sk_value(supported_modules, i));
}

CONF_MODULE* module_add(DSO* dso, const char* name, conf_init_func* ifunc,
                        conf_finish_func* ffunc) {
  if (supported_modules == nullptr) supported_modules = sk_new_null();
  if (supported_modules == nullptr) return nullptr;
  auto* m = static_cast<CONF_MODULE*>(MORVANE_malloc(sizeof(CONF_MODULE)));
  if (m == nullptr) return nullptr;
  memset(m, 0, sizeof(*m));
  m->dso = dso;
  m->name = BUF_strdup(name);
  m->init = ifunc;
  m->finish = ffunc;
  if (m->name == nullptr || !sk_push(supported_modules, reinterpret_cast<char*>(m))) {
    MORVANE_free(m->name);
    MORVANE_free(m);
    return nullptr;
  }
  return m;
}

// The first module whose name agrees with `name` up to the last "." of
// `name`: engines.1 finds "engines"; a shortened name finds a module whose
// name begins with it.
CONF_MODULE* module_find(const char* name) {
  const char* dot = strrchr(name, '.');
  const size_t n = dot != nullptr ? static_cast<size_t>(dot - name) : strlen(name);
  for (int i = 0; i < sk_num(supported_modules); i++)
    if (strncmp(module_at(i)->name, name, n) == 0) return module_at(i);
  return nullptr;
}

// Registers the module of a shared object: the section named by `value` may
// give its "path", else the module's name is the path.
CONF_MODULE* module_load_dso(const CONF* cnf, const char* name, const char* value) {
  const char* path;
  {
    // A section without "path" is no error: only what the lookup queued goes.
    morvane::internal::ErrorMark mark;
    path = NCONF_get_string(cnf, value, "path");
    if (path == nullptr) {
      mark.pop();
      path = name;
    }
  }
  int reason = 0;
  CONF_MODULE* md = nullptr;
  DSO* dso = DSO_load(nullptr, path, nullptr, 0);
  if (dso == nullptr) {
    reason = CONF_R_ERROR_LOADING_DSO;
  } else if (auto* ifunc = reinterpret_cast<conf_init_func*>(DSO_bind_func(dso, "MORVANE_init"))) {
    auto* ffunc = reinterpret_cast<conf_finish_func*>(DSO_bind_func(dso, "MORVANE_finish"));
    md = module_add(dso, name, ifunc, ffunc);
  } else {
    reason = CONF_R_MISSING_INIT_FUNCTION;
  }
  if (md != nullptr) return md;
  if (dso != nullptr) DSO_free(dso);
  CONFerr(CONF_F_MODULE_LOAD_DSO, reason);
  ERR_add_error_data(4, "module=", name, ", path=", path);
  return nullptr;
}

void imodule_free(CONF_IMODULE* imod) {
  MORVANE_free(imod->name);
  MORVANE_free(imod->value);
  MORVANE_free(imod);
}

// Makes an instance and runs the module's init on it; keeps the instance when
// that succeeds.  Returns the init's result, or -1.
int module_init(CONF_MODULE* pmod, const char* name, const char* value, const CONF* cnf) {
  auto* imod = static_cast<CONF_IMODULE*>(MORVANE_malloc(sizeof(CONF_IMODULE)));
  if (imod == nullptr) return -1;
  memset(imod, 0, sizeof(*imod));
  imod->pmod = pmod;
  imod->name = BUF_strdup(name);
  imod->value = BUF_strdup(value);
  if (imod->name == nullptr || imod->value == nullptr) {
    imodule_free(imod);
    return -1;
  }
  int ret = 1;
  if (pmod->init != nullptr) ret = pmod->init(imod, cnf);
  if (ret > 0) {
    if (initialized_modules == nullptr) initialized_modules = sk_new_null();
    if (initialized_modules != nullptr &&
        sk_push(initialized_modules, reinterpret_cast<char*>(imod))) {
      pmod->links++;
      return ret;
    }
    CONFerr(CONF_F_MODULE_INIT, ERR_R_MALLOC_FAILURE);
  }
  if (pmod->finish != nullptr) pmod->finish(imod);
  imodule_free(imod);
  return -1;
}

int module_run(const CONF* cnf, const char* name, const char* value, unsigned long flags) {
  // Silent: an unknown or failed module takes back all it queued (the search
  // in shared objects, the init's own errors), and only that.
  const bool silent = (flags & CONF_MFLAGS_SILENT) != 0;
  morvane::internal::ErrorMark mark(silent);
  CONF_MODULE* md = module_find(name);
  if (md == nullptr && !(flags & CONF_MFLAGS_NO_DSO)) md = module_load_dso(cnf, name, value);
  if (md == nullptr) {
    if (silent) {
      mark.pop();
    } else {
      CONFerr(CONF_F_MODULE_RUN, CONF_R_UNKNOWN_MODULE_NAME);
      ERR_add_error_data(2, "module=", name);
    }
    return -1;
  }
  const int ret = module_init(md, name, value, cnf);
  if (ret <= 0 && silent) {
    mark.pop();
  } else if (ret <= 0) {
    char rcode[16];
    snprintf(rcode, sizeof(rcode), "%-8d", ret);
    CONFerr(CONF_F_MODULE_RUN, CONF_R_MODULE_INITIALIZATION_ERROR);
    ERR_add_error_data(6, "module=", name, ", value=", value, ", retcode=", rcode);
  }
  return ret;
}

void module_finish(CONF_IMODULE* imod) {
  if (imod->pmod->finish != nullptr) imod->pmod->finish(imod);
  imod->pmod->links--;
  imodule_free(imod);
}

void module_free(CONF_MODULE* md) {
  if (md->dso != nullptr) DSO_free(md->dso);
  MORVANE_free(md->name);
  MORVANE_free(md);
}

}  // namespace

/* see morvane/conf.h */
int CONF_module_add(const char* name, conf_init_func* ifunc, conf_finish_func* ffunc) {
  return module_add(nullptr, name, ifunc, ffunc) != nullptr ? 1 : 0;
}

int CONF_modules_load(const CONF* cnf, const char* appname, unsigned long flags) {
  if (cnf == nullptr) return 1;
  const char* vsection = nullptr;
  {
    // A missing name is no error: the application's when the default list
    // stands in for it, or every name (no list to run).  The lookups' errors
    // go, and only they (the caller's entries and mark stay).
    morvane::internal::ErrorMark mark;
    if (appname != nullptr) vsection = NCONF_get_string(cnf, nullptr, appname);
    if (appname == nullptr || (vsection == nullptr && (flags & CONF_MFLAGS_DEFAULT_SECTION)))
      vsection = NCONF_get_string(cnf, nullptr, "morvane_conf");
    mark.pop();
    if (vsection == nullptr) return 1;  // no module list: nothing to run
  }
  STACK* values = NCONF_get_section(cnf, vsection);
  if (values == nullptr) {
    CONFerr(CONF_F_CONF_MODULES_LOAD, CONF_R_NO_SECTION);
    ERR_add_error_data(2, "section=", vsection);
    return 0;
  }
  for (int i = 0; i < sk_num(values); i++) {
    const auto* vl = reinterpret_cast<const CONF_VALUE*>(sk_value(values, i));
    const int ret = module_run(cnf, vl->name, vl->value, flags);
    if (ret <= 0 && !(flags & CONF_MFLAGS_IGNORE_ERRORS)) return ret;
  }
  return 1;
}

int CONF_modules_load_file(const char* filename, const char* appname, unsigned long flags) {
  CONF* conf = NCONF_new(nullptr);
  if (conf == nullptr) return 0;
  char* file = nullptr;  // the default file's name, made here
  if (filename == nullptr) {
    file = CONF_get1_default_config_file();
    if (file == nullptr) {
      NCONF_free(conf);
      return 0;
    }
  }
  int ret = 0;
  bool loaded;
  {
    morvane::internal::ErrorMark mark;
    loaded = NCONF_load(conf, filename != nullptr ? filename : file, nullptr) > 0;
    if (!loaded && (flags & CONF_MFLAGS_IGNORE_MISSING_FILE) &&
        ERR_GET_REASON(ERR_peek_last_error()) == CONF_R_NO_SUCH_FILE) {
      mark.pop();  // the missing file's errors go, not the caller's
      ret = 1;
    }
  }
  if (loaded) ret = CONF_modules_load(conf, appname, flags);
  MORVANE_free(file);
  NCONF_free(conf);
  return ret;
}

void CONF_modules_finish(void) {
  while (sk_num(initialized_modules) > 0)
    module_finish(reinterpret_cast<CONF_IMODULE*>(sk_pop(initialized_modules)));
  sk_free(initialized_modules);
  initialized_modules = nullptr;
}

void CONF_modules_unload(int all) {
  CONF_modules_finish();
  for (int i = sk_num(supported_modules) - 1; i >= 0; i--) {
    CONF_MODULE* md = module_at(i);
    // Without `all`, keep modules in use and those registered directly.
    if (!all && (md->links > 0 || md->dso == nullptr)) continue;
    sk_delete(supported_modules, i);
    module_free(md);
  }
  if (sk_num(supported_modules) == 0) {
    sk_free(supported_modules);
    supported_modules = nullptr;
  }
}

void CONF_modules_free(void) {
  CONF_modules_finish();
  CONF_modules_unload(1);
}

const char* CONF_imodule_get_name(const CONF_IMODULE* md) {
  return md->name;
}
const char* CONF_imodule_get_value(const CONF_IMODULE* md) {
  return md->value;
}
void* CONF_imodule_get_usr_data(const CONF_IMODULE* md) {
  return md->usr_data;
}
void CONF_imodule_set_usr_data(CONF_IMODULE* md, void* usr_data) {
  md->usr_data = usr_data;
}
CONF_MODULE* CONF_imodule_get_module(const CONF_IMODULE* md) {
  return md->pmod;
}
unsigned long CONF_imodule_get_flags(const CONF_IMODULE* md) {
  return md->flags;
}
void CONF_imodule_set_flags(CONF_IMODULE* md, unsigned long flags) {
  md->flags = flags;
}
void* CONF_module_get_usr_data(CONF_MODULE* pmod) {
  return pmod->usr_data;
}
void CONF_module_set_usr_data(CONF_MODULE* pmod, void* usr_data) {
  pmod->usr_data = usr_data;
}

char* CONF_get1_default_config_file(void) {
  if (const char* file = getenv("MORVANE_CONF")) return BUF_strdup(file);
  const char* dir = X509_get_default_cert_area();
  static constexpr char kName[] = "/morvane.cnf";
  const size_t len = strlen(dir) + sizeof(kName);  // the name's NUL included
  auto* file = static_cast<char*>(MORVANE_malloc(len));
  if (file == nullptr) return nullptr;
  BUF_strlcpy(file, dir, len);
  BUF_strlcat(file, kName, len);
  return file;
}

int CONF_parse_list(const char* list, int sep, int nospc,
                    int (*list_cb)(const char* elem, int len, void* usr), void* arg) {
  if (list == nullptr) return 0;
  // The separator is used as the char strchr makes of it: 256 is a NUL.
  const char sep_char = static_cast<char>(sep);
  const char* start = list;
  for (;;) {
    if (nospc)
      while (*start != '\0' && isspace(static_cast<unsigned char>(*start))) start++;
    // A NUL separator would be found at the end of every text: there is none.
    const char* p = sep_char != '\0' ? strchr(start, sep_char) : nullptr;
    int ret;
    if (p == start || *start == '\0') {
      ret = list_cb(nullptr, 0, arg);
    } else {
      const char* end = p != nullptr ? p - 1 : start + strlen(start) - 1;
      if (nospc)
        while (isspace(static_cast<unsigned char>(*end))) end--;
      ret = list_cb(start, static_cast<int>(end - start + 1), arg);
    }
    if (ret <= 0) return ret;
    if (p == nullptr) return 1;
    start = p + 1;
  }
}
