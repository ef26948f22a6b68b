// The configuration interface: the NCONF_ calls over a CONF and its method
// table, and the older CONF_ calls over a bare hash table, which they wrap in
// a CONF on the stack.

#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

const char CONF_version[] = "CONF part of " MORVANE_VERSION_TEXT;

namespace {

// The method of the wrappers; the first wrapping installs the default.
constinit CONF_METHOD* default_CONF_method = nullptr;

// True when the method slot is there; a null slot is an operation the method
// does not offer, refused with a reason under `func`.
template <typename Slot>
bool offered(Slot slot, int func) {
  if (slot != nullptr) return true;
  CONFerr(func, CONF_R_OPERATION_NOT_SUPPORTED);
  return false;
}

// Reads the leading digits of the value of (group, name), looked up in
// `conf` (null: the environment), as the method of `classes` tells digits.
// A number that does not fit a long fails, `result` untouched.
int get_number(const CONF* conf, const CONF* classes, const char* group, const char* name,
               long* result) {
  if (!offered(classes->meth->is_number, CONF_F_NCONF_GET_NUMBER_E) ||
      !offered(classes->meth->to_int, CONF_F_NCONF_GET_NUMBER_E))
    return 0;
  const char* str = NCONF_get_string(conf, group, name);
  if (str == nullptr) return 0;
  long r = 0;
  for (; classes->meth->is_number(classes, *str); str++) {
    const long digit = classes->meth->to_int(classes, *str);
    if (__builtin_mul_overflow(r, 10L, &r) || __builtin_add_overflow(r, digit, &r)) {
      CONFerr(CONF_F_NCONF_GET_NUMBER_E, CONF_R_NUMBER_TOO_LARGE);
      return 0;
    }
  }
  *result = r;
  return 1;
}

// A FILE stream over `fp` that leaves it open, or null after queuing "BUF lib"
// under `func`.
BIO* wrap_fp(FILE* fp, int func) {
  BIO* b = BIO_new_fp(fp, BIO_NOCLOSE);
  if (b == nullptr) CONFerr(func, ERR_R_BUF_LIB);
  return b;
}

}  // namespace

/* see morvane/conf.h */
CONF* NCONF_new(CONF_METHOD* meth) {
  if (meth == nullptr) meth = NCONF_default();
  // create runs the table's init on the new CONF: both are needed.
  if (!offered(meth->create, CONF_F_NCONF_NEW) || !offered(meth->init, CONF_F_NCONF_NEW))
    return nullptr;
  CONF* ret = meth->create(meth);
  if (ret == nullptr) CONFerr(CONF_F_NCONF_NEW, ERR_R_MALLOC_FAILURE);
  return ret;
}

void NCONF_free(CONF* conf) {
  if (conf != nullptr && offered(conf->meth->destroy, CONF_F_NCONF_FREE)) conf->meth->destroy(conf);
}

void NCONF_free_data(CONF* conf) {
  if (conf != nullptr && offered(conf->meth->destroy_data, CONF_F_NCONF_FREE_DATA))
    conf->meth->destroy_data(conf);
}

int NCONF_load(CONF* conf, const char* file, long* eline) {
  if (conf == nullptr) {
    CONFerr(CONF_F_NCONF_LOAD, CONF_R_NO_CONF);
    return 0;
  }
  if (!offered(conf->meth->load, CONF_F_NCONF_LOAD)) return 0;
  return conf->meth->load(conf, file, eline);
}

int NCONF_load_fp(CONF* conf, FILE* fp, long* eline) {
  BIO* b = wrap_fp(fp, CONF_F_NCONF_LOAD_FP);
  if (b == nullptr) return 0;
  const int ret = NCONF_load_bio(conf, b, eline);
  BIO_free(b);
  return ret;
}

int NCONF_load_bio(CONF* conf, BIO* bp, long* eline) {
  if (conf == nullptr) {
    CONFerr(CONF_F_NCONF_LOAD_BIO, CONF_R_NO_CONF);
    return 0;
  }
  if (!offered(conf->meth->load_bio, CONF_F_NCONF_LOAD_BIO)) return 0;
  return conf->meth->load_bio(conf, bp, eline);
}

STACK* NCONF_get_section(const CONF* conf, const char* section) {
  if (conf == nullptr) {
    CONFerr(CONF_F_NCONF_GET_SECTION, CONF_R_NO_CONF);
    return nullptr;
  }
  if (section == nullptr) {
    CONFerr(CONF_F_NCONF_GET_SECTION, CONF_R_NO_SECTION);
    return nullptr;
  }
  return _CONF_get_section_values(conf, section);
}

char* NCONF_get_string(const CONF* conf, const char* group, const char* name) {
  char* s = _CONF_get_string(conf, group, name);
  if (s != nullptr) return s;
  if (conf == nullptr) {
    CONFerr(CONF_F_NCONF_GET_STRING, CONF_R_NO_CONF_OR_ENVIRONMENT_VARIABLE);
    return nullptr;
  }
  CONFerr(CONF_F_NCONF_GET_STRING, CONF_R_NO_VALUE);
  ERR_add_error_data(4, "group=", group, " name=", name);
  return nullptr;
}

int NCONF_get_number_e(const CONF* conf, const char* group, const char* name, long* result) {
  if (result == nullptr) {
    CONFerr(CONF_F_NCONF_GET_NUMBER_E, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (conf == nullptr) {
    // Without a configuration there is no method to read digits with.
    CONFerr(CONF_F_NCONF_GET_NUMBER_E, CONF_R_NO_CONF);
    return 0;
  }
  return get_number(conf, conf, group, name, result);
}

int NCONF_dump_fp(const CONF* conf, FILE* out) {
  BIO* b = wrap_fp(out, CONF_F_NCONF_DUMP_FP);
  if (b == nullptr) return 0;
  const int ret = NCONF_dump_bio(conf, b);
  BIO_free(b);
  return ret;
}

int NCONF_dump_bio(const CONF* conf, BIO* out) {
  if (conf == nullptr) {
    CONFerr(CONF_F_NCONF_DUMP_BIO, CONF_R_NO_CONF);
    return 0;
  }
  if (!offered(conf->meth->dump, CONF_F_NCONF_DUMP_BIO)) return 0;
  return conf->meth->dump(conf, out);
}

int CONF_set_default_method(CONF_METHOD* meth) {
  // The wrappers run the method's init on themselves: a method without it
  // could make none.
  if (meth != nullptr && !offered(meth->init, CONF_F_CONF_SET_DEFAULT_METHOD)) return 0;
  default_CONF_method = meth;
  return 1;
}

void CONF_set_nconf(CONF* conf, LHASH* hash) {
  if (conf == nullptr) return;  // nothing to make a wrapper of
  if (default_CONF_method == nullptr) default_CONF_method = NCONF_default();
  default_CONF_method->init(conf);
  conf->data = hash;
}

LHASH* CONF_load(LHASH* hash, const char* file, long* eline) {
  BIO* in = file == nullptr ? nullptr : BIO_new_file(file, "rb");
  if (in == nullptr) {
    CONFerr(CONF_F_CONF_LOAD, file == nullptr ? ERR_R_PASSED_NULL_PARAMETER : ERR_R_SYS_LIB);
    return nullptr;
  }
  LHASH* ret = CONF_load_bio(hash, in, eline);
  BIO_free(in);
  return ret;
}

LHASH* CONF_load_fp(LHASH* hash, FILE* fp, long* eline) {
  BIO* b = wrap_fp(fp, CONF_F_CONF_LOAD_FP);
  if (b == nullptr) return nullptr;
  LHASH* ret = CONF_load_bio(hash, b, eline);
  BIO_free(b);
  return ret;
}

LHASH* CONF_load_bio(LHASH* hash, BIO* bp, long* eline) {
  CONF ctmp;
  CONF_set_nconf(&ctmp, hash);
  return NCONF_load_bio(&ctmp, bp, eline) ? ctmp.data : nullptr;
}

STACK* CONF_get_section(LHASH* hash, const char* section) {
  if (hash == nullptr) return nullptr;
  CONF ctmp;
  CONF_set_nconf(&ctmp, hash);
  return NCONF_get_section(&ctmp, section);
}

char* CONF_get_string(LHASH* hash, const char* group, const char* name) {
  if (hash == nullptr) return NCONF_get_string(nullptr, group, name);
  CONF ctmp;
  CONF_set_nconf(&ctmp, hash);
  return NCONF_get_string(&ctmp, group, name);
}

long CONF_get_number(LHASH* hash, const char* group, const char* name) {
  long result = 0;
  CONF ctmp;
  CONF_set_nconf(&ctmp, hash);
  // Without a table the value comes from the environment; the wrapper's
  // method still tells the digits.
  const int status = hash == nullptr ? get_number(nullptr, &ctmp, group, name, &result)
                                     : NCONF_get_number_e(&ctmp, group, name, &result);
  if (status == 0) ERR_clear_error();
  return result;
}

void CONF_free(LHASH* hash) {
  CONF ctmp;
  CONF_set_nconf(&ctmp, hash);
  NCONF_free_data(&ctmp);
}

int CONF_dump_fp(LHASH* hash, FILE* out) {
  BIO* b = wrap_fp(out, CONF_F_CONF_DUMP_FP);
  if (b == nullptr) return 0;
  const int ret = CONF_dump_bio(hash, b);
  BIO_free(b);
  return ret;
}

int CONF_dump_bio(LHASH* hash, BIO* out) {
  CONF ctmp;
  CONF_set_nconf(&ctmp, hash);
  return NCONF_dump_bio(&ctmp, out);
}
