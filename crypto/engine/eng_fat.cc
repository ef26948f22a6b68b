// Several classes at once: defaults by bit mask or by keyword list, and
// registration for every class an engine offers.
//
// Implementation notes: an empty element of a keyword list (an empty list,
// two adjacent commas, a trailing comma) names no class, so a typo cannot
// make an engine the default for everything; a list that names no class at
// all is refused like one with an unknown keyword.

#include <string.h>

#include <morvane/conf.h>
#include <morvane/engine.h>
#include <morvane/err.h>

namespace {

struct Keyword {
  const char* name;
  unsigned int bits;
};

// Tried in this order; an element names the first keyword it starts.
constexpr Keyword kKeywords[] = {
    {"ALL", ENGINE_METHOD_ALL},         {"RSA", ENGINE_METHOD_RSA},
    {"DSA", ENGINE_METHOD_DSA},         {"ECDH", ENGINE_METHOD_ECDH},
    {"ECDSA", ENGINE_METHOD_ECDSA},     {"DH", ENGINE_METHOD_DH},
    {"RAND", ENGINE_METHOD_RAND},       {"CIPHERS", ENGINE_METHOD_CIPHERS},
    {"DIGESTS", ENGINE_METHOD_DIGESTS},
};

// CONF_parse_list callback: adds the element's bits to *arg; 0 for an element
// that names no keyword.
int add_keyword(const char* elem, int len, void* arg) {
  if (len == 0) return 1;  // an empty element names nothing
  for (const Keyword& k : kKeywords) {
    if (static_cast<size_t>(len) <= strlen(k.name) && strncmp(elem, k.name, len) == 0) {
      *static_cast<unsigned int*>(arg) |= k.bits;
      return 1;
    }
  }
  return 0;
}

struct ClassCall {
  unsigned int bit;
  int (*call)(ENGINE*);
};

// ENGINE_set_default's order.
constexpr ClassCall kDefaults[] = {
    {ENGINE_METHOD_CIPHERS, ENGINE_set_default_ciphers},
    {ENGINE_METHOD_DIGESTS, ENGINE_set_default_digests},
    {ENGINE_METHOD_RSA, ENGINE_set_default_RSA},
    {ENGINE_METHOD_DSA, ENGINE_set_default_DSA},
    {ENGINE_METHOD_DH, ENGINE_set_default_DH},
    {ENGINE_METHOD_ECDH, ENGINE_set_default_ECDH},
    {ENGINE_METHOD_ECDSA, ENGINE_set_default_ECDSA},
    {ENGINE_METHOD_RAND, ENGINE_set_default_RAND},
};

constexpr int (*kRegisters[])(ENGINE*) = {
    ENGINE_register_ciphers, ENGINE_register_digests, ENGINE_register_RSA,   ENGINE_register_DSA,
    ENGINE_register_DH,      ENGINE_register_ECDH,    ENGINE_register_ECDSA, ENGINE_register_RAND,
};

}  // namespace

/* see morvane/engine.h */
int ENGINE_set_default(ENGINE* e, unsigned int flags) {
  for (const ClassCall& c : kDefaults) {
    if ((flags & c.bit) && !c.call(e)) return 0;
  }
  return 1;
}

/* see morvane/engine.h */
int ENGINE_set_default_string(ENGINE* e, const char* def_list) {
  unsigned int flags = 0;
  if (!CONF_parse_list(def_list, ',', 1, add_keyword, &flags) || flags == 0) {
    ENGINEerr(ENGINE_F_ENGINE_SET_DEFAULT_STRING, ENGINE_R_INVALID_STRING);
    ERR_add_error_data(2, "str=", def_list != nullptr ? def_list : "");
    return 0;
  }
  return ENGINE_set_default(e, flags);
}

/* see morvane/engine.h */
int ENGINE_register_complete(ENGINE* e) {
  for (auto reg : kRegisters) reg(e);
  return 1;
}

/* see morvane/engine.h */
int ENGINE_register_all_complete(void) {
  for (ENGINE* e = ENGINE_get_first(); e != nullptr; e = ENGINE_get_next(e))
    ENGINE_register_complete(e);
  return 1;
}
