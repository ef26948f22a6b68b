// The "oid_section" configuration module: one object identifier per line of
// the section it names, "name = 1.2.3.4" or "name = Long Name, 1.2.3.4".
// Finishing the module removes every object added at run time.

#include <ctype.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>

namespace {

bool is_space(char c) {
  return isspace(static_cast<unsigned char>(c)) != 0;
}

// Creates the object of one line; false on failure.
bool do_create(const char* value, const char* name) {
  if (value == nullptr) return false;
  const char* comma = strrchr(value, ',');
  if (comma == nullptr) return OBJ_create(value, name, name) != 0;
  const char* oid = comma + 1;
  while (is_space(*oid)) oid++;
  if (*oid == '\0') return false;
  // The long name: the text before the comma without white space around it.
  const char* ln = value;
  while (ln < comma && is_space(*ln)) ln++;
  const char* end = comma;
  while (end > ln && is_space(end[-1])) end--;
  char* long_name = BUF_strndup(ln, static_cast<size_t>(end - ln));
  if (long_name == nullptr) return false;
  // A blank long name fails the line; its object stays, without a long name.
  const bool blank = *long_name == '\0';
  const bool ok = OBJ_create(oid, name, blank ? nullptr : long_name) != 0;
  MORVANE_free(long_name);
  return ok && !blank;
}

int oid_module_init(CONF_IMODULE* md, const CONF* cnf) {
  STACK* values = NCONF_get_section(cnf, CONF_imodule_get_value(md));
  if (values == nullptr) {
    ASN1err(ASN1_F_OID_MODULE_INIT, ASN1_R_ERROR_LOADING_SECTION);
    return 0;
  }
  for (int i = 0; i < sk_num(values); i++) {
    const auto* line = reinterpret_cast<const CONF_VALUE*>(sk_value(values, i));
    if (!do_create(line->value, line->name)) {
      ASN1err(ASN1_F_OID_MODULE_INIT, ASN1_R_ADDING_OBJECT);
      return 0;
    }
  }
  return 1;
}

void oid_module_finish(CONF_IMODULE* /*md*/) {
  OBJ_cleanup();
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_add_oid_module(void) {
  return CONF_module_add("oid_section", oid_module_init, oid_module_finish);
}
