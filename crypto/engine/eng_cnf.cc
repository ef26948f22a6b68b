// The "engines" configuration module: the section it names lists one engine
// per line, each with a section of settings.
//
// Implementation notes: no engine is built in yet and engines cannot be
// loaded from shared objects, so every engine a section asks for is unknown:
// a section with "soft_load" is passed over, any other fails.  No engine is
// ever initialised, so the finisher has nothing to release.

#include <string.h>

#include <morvane/conf.h>
#include <morvane/dso.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/stack.h>

namespace {

// The part of `name` after its first ".", or all of it.
const char* skip_dot(const char* name) {
  const char* p = strchr(name, '.');
  return p != nullptr ? p + 1 : name;
}

// Looks up the engine `id`: none is known.
bool find_engine(const char* id) {
  ENGINEerr(ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE);
  ERR_add_error_data(2, "id=", id);
  return false;
}

// Configures the engine `name` (after its first ".") from the section
// `value`: 1, or 0 with "engine configuration error".
int int_engine_configure(const char* name, const char* value, const CONF* cnf) {
  name = skip_dot(name);
  const CONF_VALUE* entry = nullptr;
  STACK* entries = NCONF_get_section(cnf, value);
  if (entries == nullptr) {
    ENGINEerr(ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_SECTION_ERROR);
  } else {
    bool soft_load = false;
    int i = 0;
    for (; i < sk_num(entries); i++) {
      entry = reinterpret_cast<const CONF_VALUE*>(sk_value(entries, i));
      const char* setting = skip_dot(entry->name);
      if (strcmp(setting, "engine_id") == 0) {
        name = entry->value;
      } else if (strcmp(setting, "soft_load") == 0) {
        soft_load = true;
      } else if (strcmp(setting, "dynamic_path") == 0) {
        // An engine from a shared object: loading it fails in this build.
        if (DSO* dso = DSO_load(nullptr, entry->value, nullptr, 0)) DSO_free(dso);
        break;
      } else if (!find_engine(name)) {  // every other setting needs the engine
        if (!soft_load) break;
        ERR_clear_error();
        return 1;
      }
    }
    if (i == sk_num(entries)) return 1;
  }
  ENGINEerr(ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_CONFIGURATION_ERROR);
  if (entry != nullptr)
    ERR_add_error_data(6, "section=", entry->section, ", name=", entry->name,
                       ", value=", entry->value);
  return 0;
}

int int_engine_module_init(CONF_IMODULE* md, const CONF* cnf) {
  STACK* engines = NCONF_get_section(cnf, CONF_imodule_get_value(md));
  if (engines == nullptr) {
    ENGINEerr(ENGINE_F_INT_ENGINE_MODULE_INIT, ENGINE_R_ENGINES_SECTION_ERROR);
    return 0;
  }
  for (int i = 0; i < sk_num(engines); i++) {
    const auto* e = reinterpret_cast<const CONF_VALUE*>(sk_value(engines, i));
    if (!int_engine_configure(e->name, e->value, cnf)) return 0;
  }
  return 1;
}

void int_engine_module_finish(CONF_IMODULE* /*md*/) {}

}  // namespace

/* see morvane/engine.h */
int ENGINE_add_conf_module(void) {
  return CONF_module_add("engines", int_engine_module_init, int_engine_module_finish);
}
