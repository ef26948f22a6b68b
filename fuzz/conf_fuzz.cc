// Fuzzes the configuration parser: the input is read as a configuration
// text through a read-only memory stream, once under each method, then a
// second time into the same configuration.
//
// Checks: a load ends in success or in a CONF error with its line number
// (no hang, crash or leak); a failed first load leaves no table; every value
// record of a loaded store is found by its own lookup and no value is longer
// than the expansion bound allows; every value read as a number gives its
// leading digits when they fit a long, else "number too large" with the
// result untouched.

#include "fuzz_check.h"

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <initializer_list>

#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

namespace {

// The value's leading digits (by the method's classes) against a reading in
// 128 bits, which holds any run that fits a long with a digit to spare.
void CheckNumber(CONF* conf, const CONF_VALUE* v) {
  __int128 want = 0;
  bool fits = true;
  for (const char* p = v->value; fits && conf->meth->is_number(conf, *p); p++) {
    want = want * 10 + conf->meth->to_int(conf, *p);
    fits = want <= LONG_MAX;
  }
  ERR_clear_error();
  long got = -1;
  const int ok = NCONF_get_number_e(conf, v->section, v->name, &got);
  Check(ok == (fits ? 1 : 0), "a number is read exactly when it fits");
  Check(fits ? got == static_cast<long>(want) : got == -1, "the number, or the result untouched");
  const unsigned long e = ERR_get_error();
  Check(fits ? e == 0 : ERR_GET_REASON(e) == CONF_R_NUMBER_TOO_LARGE, "only a number too large fails");
}

struct Walk {
  CONF* conf;
  size_t max_value;
};

void CheckSection(void* p, void* arg) {
  const auto* s = static_cast<const CONF_VALUE*>(p);
  if (s->name != nullptr) return;
  auto* w = static_cast<Walk*>(arg);
  Check(_CONF_get_section(w->conf, s->section) == s, "section found by name");
  auto* sk = reinterpret_cast<STACK*>(s->value);
  for (int i = 0; i < sk_num(sk); i++) {
    auto* v = reinterpret_cast<CONF_VALUE*>(sk_value(sk, i));
    Check(v->section == s->section, "value shares its section's name");
    CONF_VALUE key = {s->section, v->name, nullptr};
    Check(lh_retrieve(w->conf->data, &key) == v, "value found by its key");
    Check(strlen(v->value) <= w->max_value, "value within the expansion bound");
    CheckNumber(w->conf, v);
  }
}

// Loads `data` into `conf`; returns the load's result after checking it.
int LoadOnce(CONF* conf, const uint8_t* data, size_t size) {
  const bool had_table = conf->data != nullptr;
  BIO* in = BIO_new_mem_buf(const_cast<uint8_t*>(data), static_cast<int>(size));
  Check(in != nullptr, "memory stream");
  long eline = -1;
  ERR_clear_error();
  const int ok = NCONF_load_bio(conf, in, &eline);
  BIO_free(in);
  if (ok) {
    Check(eline == -1, "line written only on failure");
    Walk w = {conf, CONF_MAX_VALUE_LENGTH + size};
    lh_doall_arg(conf->data, CheckSection, &w);
    BIO* sink = BIO_new(BIO_s_null());
    Check(NCONF_dump_bio(conf, sink) == 1, "dump");
    BIO_free(sink);
  } else {
    const unsigned long e = ERR_peek_last_error();
    Check(ERR_GET_LIB(e) == ERR_LIB_CONF, "a CONF error");
    Check(eline >= 0 && static_cast<size_t>(eline) <= size + 1, "a line number");
    const char* text = nullptr;
    int flags = 0;
    ERR_peek_last_error_line_data(nullptr, nullptr, &text, &flags);
    char want[32];
    snprintf(want, sizeof(want), "line %ld", eline);
    Check((flags & ERR_TXT_STRING) != 0 && strcmp(text, want) == 0, "the line as data");
    Check(had_table || conf->data == nullptr, "a failed first load leaves no table");
  }
  return ok;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  for (CONF_METHOD* meth : {NCONF_default(), NCONF_WIN32()}) {
    CONF* conf = NCONF_new(meth);
    Check(conf != nullptr, "new configuration");
    if (LoadOnce(conf, data, size)) LoadOnce(conf, data, size);
    NCONF_free(conf);
  }
  ERR_clear_error();
  return 0;
}
