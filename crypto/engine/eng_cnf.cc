// The "engines" configuration module: the section it names lists one engine
// per line (name = section), and each engine's section loads, sets up,
// initialises and installs it as a default.
//
// Implementation notes: each instance of the module (one per "engines" line
// of a loaded configuration) keeps the engines it initialised, with their
// functional reference, in a list of its own (the instance's user data), so
// that an instance whose init fails finishes what it started and nothing
// another instance holds.  The lists are not locked: configuration modules
// are loaded and finished from one thread.  A "soft_load" engine that cannot
// be found is passed over with what its lookup queued taken off again, never
// the caller's errors.

#include <string.h>

#include <morvane/conf.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "internal/err_mark.h"

namespace {

// The part of `name` after its first ".", or all of it.
const char* skip_dot(const char* name) {
  const char* p = strchr(name, '.');
  return p != nullptr ? p + 1 : name;
}

// Initialises `e` and remembers it for the finish of the instance `md`.
int int_engine_init(CONF_IMODULE* md, ENGINE* e) {
  if (!ENGINE_init(e)) return 0;
  auto* held = static_cast<STACK*>(CONF_imodule_get_usr_data(md));
  if (held == nullptr) {
    held = sk_new_null();
    CONF_imodule_set_usr_data(md, held);
  }
  if (held == nullptr || !sk_push(held, reinterpret_cast<char*>(e))) {
    ENGINE_finish(e);
    ENGINEerr(ENGINE_F_INT_ENGINE_CONFIGURE, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

// The entries of one engine section, in file order.  1, or 0 with the
// failing entry in *failed (null for a failure after the last entry).
int configure_entries(CONF_IMODULE* md, const char* name, const char* section, STACK* ecmds,
                      const CONF* cnf, ENGINE** held, const CONF_VALUE** failed) {
  bool soft_load = false;
  long do_init = -1;
  for (int i = 0; i < sk_num(ecmds); i++) {
    const auto* ecmd = reinterpret_cast<const CONF_VALUE*>(sk_value(ecmds, i));
    *failed = ecmd;
    const char* ctrlname = skip_dot(ecmd->name);
    const char* ctrlvalue = ecmd->value;
    if (strcmp(ctrlname, "engine_id") == 0) {
      name = ctrlvalue;
    } else if (strcmp(ctrlname, "soft_load") == 0) {
      soft_load = true;
    } else if (strcmp(ctrlname, "dynamic_path") == 0) {
      // The engine loaded from the object is the one the entries after this
      // configure.
      if (*held != nullptr) ENGINE_free(*held);
      *held = ENGINE_by_id("dynamic");
      if (*held == nullptr || !ENGINE_ctrl_cmd_string(*held, "SO_PATH", ctrlvalue, 0) ||
          !ENGINE_ctrl_cmd_string(*held, "LIST_ADD", "2", 0) ||
          !ENGINE_ctrl_cmd_string(*held, "LOAD", nullptr, 0))
        return 0;
    } else {
      if (*held == nullptr) {
        morvane::internal::ErrorMark mark(soft_load);
        *held = ENGINE_by_id(name);
        mark.pop();  // a found engine queued nothing: only the mark goes
        if (*held == nullptr && soft_load) {
          *failed = nullptr;
          return 2;  // passed over
        }
        if (*held == nullptr) return 0;
      }
      if (strcmp(ctrlvalue, "EMPTY") == 0) ctrlvalue = nullptr;
      if (strcmp(ctrlname, "init") == 0) {
        // The entry's own value: "1.init" is read as itself, not as "init".
        if (!NCONF_get_number_e(cnf, section, ecmd->name, &do_init)) return 0;
        if (do_init == 1) {
          if (!int_engine_init(md, *held)) return 0;
        } else if (do_init != 0) {
          ENGINEerr(ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_INVALID_INIT_VALUE);
          return 0;
        }
      } else if (strcmp(ctrlname, "default_algorithms") == 0) {
        // "EMPTY" names no class: ENGINE_set_default_string refuses it with
        // "invalid string".
        if (!ENGINE_set_default_string(*held, ctrlvalue)) return 0;
      } else if (!ENGINE_ctrl_cmd_string(*held, ctrlname, ctrlvalue, 0)) {
        return 0;
      }
    }
  }
  *failed = nullptr;
  if (*held != nullptr && do_init == -1 && !int_engine_init(md, *held)) return 0;
  return 1;
}

// Configures the engine `name` (after its first ".") from the section
// `value`: 1, or 0 with "engine configuration error".
int int_engine_configure(CONF_IMODULE* md, const char* name, const char* value, const CONF* cnf) {
  name = skip_dot(name);
  STACK* ecmds = NCONF_get_section(cnf, value);
  ENGINE* e = nullptr;
  const CONF_VALUE* failed = nullptr;
  int ret = 0;
  if (ecmds == nullptr) {
    ENGINEerr(ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_SECTION_ERROR);
  } else {
    ret = configure_entries(md, name, value, ecmds, cnf, &e, &failed);
  }
  if (ret == 0) {
    ENGINEerr(ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_CONFIGURATION_ERROR);
    if (failed != nullptr)
      ERR_add_error_data(6, "section=", failed->section, ", name=", failed->name,
                         ", value=", failed->value);
  }
  if (e != nullptr) ENGINE_free(e);
  return ret != 0 ? 1 : 0;
}

int int_engine_module_init(CONF_IMODULE* md, const CONF* cnf) {
  STACK* engines = NCONF_get_section(cnf, CONF_imodule_get_value(md));
  if (engines == nullptr) {
    ENGINEerr(ENGINE_F_INT_ENGINE_MODULE_INIT, ENGINE_R_ENGINES_SECTION_ERROR);
    return 0;
  }
  for (int i = 0; i < sk_num(engines); i++) {
    const auto* e = reinterpret_cast<const CONF_VALUE*>(sk_value(engines, i));
    if (!int_engine_configure(md, e->name, e->value, cnf)) return 0;
  }
  return 1;
}

// Releases the engines the instance initialised, the last one first.
void int_engine_module_finish(CONF_IMODULE* md) {
  auto* held = static_cast<STACK*>(CONF_imodule_get_usr_data(md));
  if (held == nullptr) return;
  while (sk_num(held) > 0) ENGINE_finish(reinterpret_cast<ENGINE*>(sk_pop(held)));
  sk_free(held);
  CONF_imodule_set_usr_data(md, nullptr);
}

}  // namespace

/* see morvane/engine.h */
int ENGINE_add_conf_module(void) {
  return CONF_module_add("engines", int_engine_module_init, int_engine_module_finish);
}
