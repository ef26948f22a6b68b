// The configuration text format: the table of texts in test/data/conf/
// parse.txt with the sections and values they must produce or the error and
// line they must fail with, and the cases around read boundaries, bounded
// expansion and the environment; the store used directly.

#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "conf_test_util.h"
#include "test_support.h"

namespace {

using conf_test::Load;
using conf_test::Loaded;
using conf_test::Pairs;
using conf_test::Sections;

// Sections "default" is always present; the helper adds it when a case does
// not name it.
Sections WithDefault(Sections s) {
  s.emplace("default", Pairs{});
  return s;
}

// The store as test/data/conf/parse.txt writes it.
std::string Dump(const Sections& s) {
  std::string out;
  for (const auto& [name, pairs] : s) {
    if (name == "default" && pairs.empty()) continue;
    out += "[" + name + "]";
    for (const auto& [k, v] : pairs) out += " " + k + "=" + v;
    out += "\n";
  }
  return out;
}

// Each text of the table either loads into the stated store or fails with
// the stated error and line.
TEST(ConfParse, TableOfTexts) {
  ERR_load_CONF_strings();
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("conf/parse.txt"));
  ASSERT_EQ(records.size(), 72u);
  for (const auto& c : records) {
    SCOPED_TRACE(c.Get("Case"));
    const bool win32 = c.Has("Method") && c.Get("Method") == "WIN32";
    Loaded r = Load(morvane_test::Unquote(c.Get("Text")), win32 ? NCONF_WIN32() : NCONF_default());
    if (c.Has("Store")) {
      EXPECT_EQ(r.ok, 1) << r.data;
      EXPECT_EQ(r.eline, -1);
      EXPECT_EQ(r.error, 0u);
      EXPECT_EQ(r.store.count("default"), 1u);
      EXPECT_EQ(Dump(r.store), morvane_test::Unquote(c.Get("Store")));
      continue;
    }
    auto text = [](const char* s) { return std::string(s != nullptr ? s : "(none)"); };
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(ERR_GET_LIB(r.error), ERR_LIB_CONF);
    EXPECT_EQ(text(ERR_func_error_string(r.error)) + ":" + text(ERR_reason_error_string(r.error)) +
                  ":" + r.data,
              c.Get("Error"));
    EXPECT_EQ("line " + std::to_string(r.eline), r.data);
    EXPECT_TRUE(r.store.empty()) << "a failed first load leaves no table";
  }
}

TEST(ConfParse, PieceBoundariesDoNotChangeTheMeaning) {
  // Lines are read in pieces of 510 bytes; wherever a piece ends, a line
  // means the same: an escape or a CR LF split between two pieces still
  // belongs to its line.
  for (size_t len = 500; len <= 520; len++) {
    SCOPED_TRACE(len);
    const std::string value(len, 'x');
    Loaded r = Load("k=" + value + "\nn=1\n");
    ASSERT_EQ(r.ok, 1);
    EXPECT_EQ(r.store, WithDefault({{"default", {{"k", value}, {"n", "1"}}}}));
    r = Load("k=" + value);
    EXPECT_EQ(r.store, WithDefault({{"default", {{"k", value}}}}));
    r = Load("k=" + value + "\\tz\n");
    EXPECT_EQ(r.store, WithDefault({{"default", {{"k", value + "\tz"}}}}));
    r = Load("k=" + value + "\\\nz\n[");
    EXPECT_EQ(r.eline, 3);
    EXPECT_EQ(Load(std::string(4 * len, 'a') + "=1\n[x\n").eline, 2);
    r = Load("k=" + value + "\\\nz\n");
    EXPECT_EQ(r.store, WithDefault({{"default", {{"k", value + "z"}}}}));
    r = Load("k=" + value + "\r\n[");
    EXPECT_EQ(r.eline, 2);
    r = Load("k=" + value + "\rq\n");
    EXPECT_EQ(r.store, WithDefault({{"default", {{"k", value + "\rq"}}}}));
  }
}

// Each line doubles the previous value: a0 holds 64 bytes, so a10 holds
// exactly CONF_MAX_VALUE_LENGTH and a11 would hold twice that.
std::string Doubling(int lines) {
  std::string text = "a0 = " + std::string(64, 'x') + "\n";
  for (int i = 1; i < lines; i++)
    text += "a" + std::to_string(i) + " = ${a" + std::to_string(i - 1) + "}$a" +
            std::to_string(i - 1) + "\n";
  return text;
}

TEST(ConfParse, ExpansionIsBounded) {
  static_assert(CONF_MAX_VALUE_LENGTH == 64 * 1024);
  Loaded r = Load(Doubling(11));
  ASSERT_EQ(r.ok, 1);
  EXPECT_EQ(r.store["default"].back().second.size(), size_t{CONF_MAX_VALUE_LENGTH});

  // The "billion laughs" text: the first value past the bound fails.
  r = Load(Doubling(40));
  EXPECT_EQ(r.ok, 0);
  EXPECT_EQ(r.error, ERR_PACK(ERR_LIB_CONF, CONF_F_STR_COPY, CONF_R_VARIABLE_HAS_NO_VALUE));
  EXPECT_EQ(r.eline, 12);
  EXPECT_EQ(r.data, "line 12");

  // One byte of literal text next to a full-size value passes the bound too.
  r = Load(Doubling(11) + "b = x$a10\n");
  EXPECT_EQ(r.eline, 12);
  r = Load(Doubling(11) + "b = $a10\n");
  EXPECT_EQ(r.ok, 1);
}

TEST(ConfParse, ExpansionPerLoadIsBounded) {
  // Many lines that each copy a full-size value: a load may add a bounded
  // amount in all, so the store cannot grow by 64 KiB per input line.
  std::string text = Doubling(11);
  for (int i = 0; i < 1000; i++) text += "b" + std::to_string(i) + " = $a10\n";
  Loaded r = Load(text);
  EXPECT_EQ(r.ok, 0);
  EXPECT_EQ(r.error, ERR_PACK(ERR_LIB_CONF, CONF_F_STR_COPY, CONF_R_VARIABLE_HAS_NO_VALUE));
  EXPECT_GT(r.eline, 11 + 100);
  EXPECT_LT(r.eline, 11 + 1000);
}

TEST(ConfParse, EnvironmentSection) {
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_HOME", "/env", 1), 0);
  Loaded r = Load("p = $ENV::MORVANE_CONF_TEST_HOME/x\n");
  EXPECT_EQ(r.store["default"], (Pairs{{"p", "/env/x"}}));
  // A section ENV in the text takes precedence for the names it defines.
  r = Load(
      "[ENV]\nMORVANE_CONF_TEST_HOME = /file\n[default]\np = ${ENV::MORVANE_CONF_TEST_HOME}\n");
  EXPECT_EQ(r.store["default"], (Pairs{{"p", "/file"}}));
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_HOME"), 0);
  r = Load("p = $ENV::MORVANE_CONF_TEST_HOME\n");
  EXPECT_EQ(r.error, ERR_PACK(ERR_LIB_CONF, CONF_F_STR_COPY, CONF_R_VARIABLE_HAS_NO_VALUE));
}

// Names assigned twice, the second time in file order or in reverse order:
// each is listed once, with its second value, in the order of the second
// pass, as when each old record was removed at once (bench/bench_conf.cc
// times the loads, which grow linearly).
TEST(ConfParse, RedefinitionsKeepTheFirstPlace) {
  for (int reverse : {0, 1}) {
    SCOPED_TRACE(reverse ? "reverse order" : "file order");
    std::string text;
    for (int pass = 0; pass < 2; pass++)
      for (int i = 0; i < 3; i++)
        text += "k" + std::to_string(pass == 1 && reverse ? 2 - i : i) + " = " +
                std::to_string(pass) + "\n";
    EXPECT_EQ(Load(text).store.at("default"),
              reverse ? (Pairs{{"k2", "1"}, {"k1", "1"}, {"k0", "1"}})
                      : (Pairs{{"k0", "1"}, {"k1", "1"}, {"k2", "1"}}));
  }
}

// Loads add up: a second load starts again in "default" and sees the first
// load's values; what a failed load added before its error stays.
TEST(ConfParse, LoadsAddUp) {
  conf_test::ConfPtr conf = conf_test::ConfFrom("a = 1\n[s]\nx = 1\n");
  Loaded r = conf_test::LoadInto(conf.get(), "b = $a\n[s]\ny = $x\n");
  EXPECT_EQ(r.ok, 1);
  r = conf_test::LoadInto(conf.get(), "[t]\nb = 2\nc = $none\nd = 4\n");
  EXPECT_EQ(r.ok, 0);
  EXPECT_EQ(r.eline, 3);
  EXPECT_EQ(r.store, (Sections{{"default", {{"a", "1"}, {"b", "1"}}},
                               {"s", {{"x", "1"}, {"y", "1"}}},
                               {"t", {{"b", "2"}}}}));
}

// The store used directly, as components that build configurations do: a
// value named like its section is a different record; replacing frees the
// old record and appends the new one.
TEST(ConfStore, SectionsAndValues) {
  EXPECT_EQ(_CONF_new_data(nullptr), 0);
  conf_test::ConfPtr conf(NCONF_new(nullptr));
  ASSERT_EQ(_CONF_new_data(conf.get()), 1);
  LHASH* table = conf->data;
  EXPECT_EQ(_CONF_new_data(conf.get()), 1);
  EXPECT_EQ(conf->data, table) << "an existing table is kept";
  EXPECT_EQ(_CONF_get_section(conf.get(), "s"), nullptr);
  EXPECT_EQ(_CONF_get_section(nullptr, "s"), nullptr);
  EXPECT_EQ(_CONF_get_section(conf.get(), nullptr), nullptr);
  CONF_VALUE* s = _CONF_new_section(conf.get(), "s");
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(_CONF_get_section(conf.get(), "s"), s);
  EXPECT_EQ(sk_num(_CONF_get_section_values(conf.get(), "s")), 0);
  for (const auto& [name, value] : Pairs{{"a", "1"}, {"s", "self"}, {"a", "2"}}) {
    auto* v = static_cast<CONF_VALUE*>(MORVANE_malloc(sizeof(CONF_VALUE)));
    *v = {nullptr, MORVANE_strdup(name.c_str()), MORVANE_strdup(value.c_str())};
    ASSERT_EQ(_CONF_add_string(conf.get(), s, v), 1);
    EXPECT_EQ(v->section, s->section) << "the value borrows the section's name";
  }
  EXPECT_EQ(_CONF_get_section(conf.get(), "s"), s);
  EXPECT_EQ(conf_test::ReadStore(conf.get()), (Sections{{"s", {{"s", "self"}, {"a", "2"}}}}));
  EXPECT_STREQ(_CONF_get_string(conf.get(), "s", "a"), "2");
  EXPECT_EQ(_CONF_get_string(conf.get(), "s", "b"), nullptr);
  _CONF_free_data(conf.get());
  EXPECT_EQ(conf->data, nullptr);
  _CONF_free_data(conf.get());
  _CONF_free_data(nullptr);
}

}  // namespace
