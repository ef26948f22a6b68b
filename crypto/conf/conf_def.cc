// The two configuration methods, "Morvane default" and "WIN32": one set of
// operations over two character-class tables.  The parser they share is in
// conf_parse.cc; the store in conf_api.cc.

#include <array>
#include <string_view>

#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>

#include "conf/internal.h"

const char CONF_def_version[] = "CONF_def part of " MORVANE_VERSION_TEXT;

static_assert(sizeof(CONF_METHOD) == 10 * sizeof(void*));

namespace {

using namespace morvane::conf;
using ClassTable = std::array<unsigned short, 256>;

constexpr void set_all(ClassTable& t, std::string_view bytes, unsigned short cls) {
  for (char c : bytes) t[static_cast<unsigned char>(c)] = cls;
}

// The default table, and the WIN32 table: no escapes, no single or back
// quotes, no "#" comments; '"' doubles instead of escaping, and ";" starts a
// comment as the first non-blank byte of a line (elsewhere it is punctuation).
constexpr ClassTable make_classes(bool win32) {
  ClassTable t{};
  t[0] = kEof;
  set_all(t, "\t\n\r ", kWhite);
  for (int c = '0'; c <= '9'; c++) t[c] = kDigit;
  for (int c = 'A'; c <= 'Z'; c++) t[c] = kUpper;
  for (int c = 'a'; c <= 'z'; c++) t[c] = kLower;
  t['_'] = kUnderscore;
  set_all(t, "!%&*+,-./;?^|~@", kPunct);
  for (int c = 0x80; c <= 0xff; c++) t[c] = kHighByte;
  if (win32) {
    t['"'] = kDoublingQuote;
    t[';'] = kPunct | kFirstComment;
  } else {
    t['\\'] = kEscape;
    set_all(t, "\"'`", kQuote);
    t['#'] = kComment;
  }
  return t;
}

constexpr ClassTable kDefaultClasses = make_classes(false);
constexpr ClassTable kWin32Classes = make_classes(true);

static_assert(kDefaultClasses['\\'] == 0x0020 && kDefaultClasses['#'] == 0x0080);
static_assert(kDefaultClasses['$'] == 0 && kDefaultClasses['='] == 0 && kDefaultClasses[0x7f] == 0);
static_assert(kDefaultClasses[0xff] == 0x1000 && kDefaultClasses['@'] == 0x0200);
static_assert(kWin32Classes[';'] == 0x0A00 && kWin32Classes['"'] == 0x0400);
static_assert(kWin32Classes['\\'] == 0 && kWin32Classes['\''] == 0 && kWin32Classes['#'] == 0);

CONF* def_create(CONF_METHOD* meth);
int def_init_default(CONF* conf);
int def_init_win32(CONF* conf);
int def_destroy(CONF* conf);
int def_destroy_data(CONF* conf);
int def_dump(const CONF* conf, BIO* out);
int def_is_number(const CONF* conf, char c);
int def_to_int(const CONF* conf, char c);
int def_load(CONF* conf, const char* name, long* eline);

// Process-wide constants; NCONF_default and NCONF_WIN32 hand them out.
constinit CONF_METHOD default_method = {
    "Morvane default", def_create,     def_init_default, def_destroy,   def_destroy_data,
    load_bio,          def_dump,       def_is_number,    def_to_int,    def_load,
};
constinit CONF_METHOD win32_method = {
    "WIN32",  def_create, def_init_win32, def_destroy, def_destroy_data,
    load_bio, def_dump,   def_is_number,  def_to_int,  def_load,
};

CONF* def_create(CONF_METHOD* meth) {
  auto* ret = static_cast<CONF*>(MORVANE_malloc(sizeof(CONF)));
  if (ret != nullptr && meth->init(ret) == 0) {
    MORVANE_free(ret);
    ret = nullptr;
  }
  return ret;
}

// init sets the method's own table, whatever table create was given.
int init_with(CONF* conf, CONF_METHOD* meth, const ClassTable& classes) {
  if (conf == nullptr) return 0;
  conf->meth = meth;
  conf->meth_data = const_cast<unsigned short*>(classes.data());  // never written
  conf->data = nullptr;
  return 1;
}

int def_init_default(CONF* conf) { return init_with(conf, &default_method, kDefaultClasses); }
int def_init_win32(CONF* conf) { return init_with(conf, &win32_method, kWin32Classes); }

int def_destroy(CONF* conf) {
  if (def_destroy_data(conf) == 0) return 0;
  MORVANE_free(conf);
  return 1;
}

int def_destroy_data(CONF* conf) {
  if (conf == nullptr) return 0;
  _CONF_free_data(conf);
  return 1;
}

// The stream of a dump and whether every write so far succeeded; after a
// failed write nothing more is written.
struct Dump {
  BIO* out;
  bool ok;
};

void dump_record(void* p, void* arg) {
  const auto* v = static_cast<const CONF_VALUE*>(p);
  auto* d = static_cast<Dump*>(arg);
  if (!d->ok) return;
  const int n = v->name != nullptr
                    ? BIO_printf(d->out, "[%s] %s=%s\n", v->section, v->name, v->value)
                    : BIO_printf(d->out, "[[%s]]\n", v->section);
  d->ok = n > 0;
}

int def_dump(const CONF* conf, BIO* out) {
  Dump d = {out, true};
  lh_doall_arg(conf->data, dump_record, &d);
  return d.ok ? 1 : 0;
}

int def_is_number(const CONF* conf, char c) { return (classes_of(conf, c) & kDigit) != 0; }

int def_to_int(const CONF*, char c) { return c - '0'; }

int def_load(CONF* conf, const char* name, long* eline) {
  if (name == nullptr) {
    CONFerr(CONF_F_DEF_LOAD, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  if (conf->meth->load_bio == nullptr) {  // a table that borrowed this load alone
    CONFerr(CONF_F_DEF_LOAD, CONF_R_OPERATION_NOT_SUPPORTED);
    return 0;
  }
  BIO* in = BIO_new_file(name, "rb");
  if (in == nullptr) {
    if (ERR_GET_REASON(ERR_peek_last_error()) == BIO_R_NO_SUCH_FILE)
      CONFerr(CONF_F_DEF_LOAD, CONF_R_NO_SUCH_FILE);
    else
      CONFerr(CONF_F_DEF_LOAD, ERR_R_SYS_LIB);
    return 0;
  }
  const int ret = conf->meth->load_bio(conf, in, eline);
  BIO_free(in);
  return ret;
}

}  // namespace

/* see morvane/conf.h */
CONF_METHOD* NCONF_default(void) { return &default_method; }
CONF_METHOD* NCONF_WIN32(void) { return &win32_method; }
