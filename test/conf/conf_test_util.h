// The configuration tests' one way from text to configuration: load a text
// through a memory stream, and read the whole store back as sections of
// (name, value) pairs in stored order.
#ifndef MORVANE_TEST_CONF_UTIL_H
#define MORVANE_TEST_CONF_UTIL_H

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

namespace conf_test {

using Pairs = std::vector<std::pair<std::string, std::string>>;
using Sections = std::map<std::string, Pairs>;

// The records of a loaded store: every section with its values in list order.
inline Sections ReadStore(const CONF* conf) {
  Sections out;
  if (conf->data == nullptr) return out;
  lh_doall_arg(
      conf->data,
      [](void* p, void* arg) {
        const auto* v = static_cast<const CONF_VALUE*>(p);
        if (v->name != nullptr) return;
        Pairs& pairs = (*static_cast<Sections*>(arg))[v->section];
        auto* sk = reinterpret_cast<STACK*>(v->value);
        for (int i = 0; i < sk_num(sk); i++) {
          auto* cv = reinterpret_cast<CONF_VALUE*>(sk_value(sk, i));
          pairs.emplace_back(cv->name, cv->value);
        }
      },
      &out);
  return out;
}

// The outcome of one load: its result, error line, the newest queued error
// with its data text, and the store.
struct Loaded {
  int ok = 0;
  long eline = -1;
  unsigned long error = 0;
  std::string data;
  Sections store;
};

// Loads `text` (all its bytes, NULs included) into `conf`.
inline Loaded LoadInto(CONF* conf, const std::string& text) {
  Loaded r;
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  r.ok = NCONF_load_bio(conf, in, &r.eline);
  BIO_free(in);
  const char* data = nullptr;
  int flags = 0;
  r.error = ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags);
  if (r.error != 0 && (flags & ERR_TXT_STRING) != 0) r.data = data;
  r.store = ReadStore(conf);
  return r;
}

struct ConfFree {
  void operator()(CONF* c) const { NCONF_free(c); }
};
using ConfPtr = std::unique_ptr<CONF, ConfFree>;

// A configuration of method `meth` holding `text`; the load must succeed.
// The error queue is left empty.
inline ConfPtr ConfFrom(const std::string& text, CONF_METHOD* meth = nullptr) {
  ConfPtr conf(NCONF_new(meth));
  EXPECT_EQ(LoadInto(conf.get(), text).ok, 1) << text;
  ERR_clear_error();
  return conf;
}

// Loads `text` into a fresh configuration of method `meth` and frees it.
inline Loaded Load(const std::string& text, CONF_METHOD* meth = nullptr) {
  ERR_clear_error();
  ConfPtr conf(NCONF_new(meth));
  return LoadInto(conf.get(), text);
}

}  // namespace conf_test

#endif  // MORVANE_TEST_CONF_UTIL_H
