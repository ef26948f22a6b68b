// The configuration text format: a table of small texts with the sections and
// values they must produce, a table of texts that must fail with a given
// error and line, and the cases around read boundaries, bounded expansion and
// the environment; the store used directly.

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "conf_test_util.h"

namespace {

using conf_test::Load;
using conf_test::Loaded;
using conf_test::Pairs;
using conf_test::Sections;

struct GoodCase {
  const char* what;
  std::string text;
  Sections want;
  bool win32 = false;
};

// Sections "default" is always present; the helper adds it when a case does
// not name it.
Sections WithDefault(Sections s) {
  s.emplace("default", Pairs{});
  return s;
}

const std::vector<GoodCase>& GoodCases() {
  static const std::vector<GoodCase> cases = {
      {"empty input", "", {}},
      {"only blank lines and comments", "\n   \n# c\n\t# c2\n", {}},
      {"last line without newline", "a=b", {{"default", {{"a", "b"}}}}},
      {"white space around name and value", "  a   =   b c  \n", {{"default", {{"a", "b c"}}}}},
      {"empty value", "a=\nb =  \n", {{"default", {{"a", ""}, {"b", ""}}}}},
      {"empty name", "=x\n", {{"default", {{"", "x"}}}}},
      {"punctuation in names", "a.b-c/d@e = 1\n", {{"default", {{"a.b-c/d@e", "1"}}}}},
      {"CRLF line ends", "a=1\r\nb=2\r\n", {{"default", {{"a", "1"}, {"b", "2"}}}}},
      {"section header", "[s]\nk=v\n", {{"s", {{"k", "v"}}}}},
      {"inner white space stays in the section name",
       "[ my sect ]\nk=v\n",
       {{"my sect", {{"k", "v"}}}}},
      {"text after the closing bracket is ignored", "[s] junk\nk=v\n", {{"s", {{"k", "v"}}}}},
      {"empty section name", "[]\nk=v\n", {{"", {{"k", "v"}}}}},
      {"a section opened twice collects both",
       "[s]\na=1\n[t]\nb=2\n[s]\nc=3\n",
       {{"s", {{"a", "1"}, {"c", "3"}}}, {"t", {{"b", "2"}}}}},
      {"a later value replaces and moves to the end",
       "a=1\nb=2\na=3\n",
       {{"default", {{"b", "2"}, {"a", "3"}}}}},
      {"section::name stores elsewhere, current section unchanged",
       "[a]\ns2::k = v\nq = 1\n",
       {{"a", {{"q", "1"}}}, {"s2", {{"k", "v"}}}}},
      {"section::name naming the current section", "[a]\na::k = v\n", {{"a", {{"k", "v"}}}}},
      {"comment after a value", "k = v # note\n", {{"default", {{"k", "v"}}}}},
      {"quoted comment character", "k = 'a#b' # note\n", {{"default", {{"k", "a#b"}}}}},
      {"escaped comment character", "k = a\\#b\n", {{"default", {{"k", "a#b"}}}}},
      {"escape sequences", "k = \\tx\\n\\r\\b\\q\\\\\n", {{"default", {{"k", "\tx\n\r\bq\\"}}}}},
      {"three kinds of quotes",
       "a = \"x y\"\nb = 'p q'\nc = `r s`\n",
       {{"default", {{"a", "x y"}, {"b", "p q"}, {"c", "r s"}}}}},
      {"escape inside quotes is literal", "k = 'it\\'s \\n'\n", {{"default", {{"k", "it's n"}}}}},
      {"quotes inside a value", "k = a'b c'd\n", {{"default", {{"k", "ab cd"}}}}},
      {"white space inside quotes at the end is kept",
       "k = 'a '  \n",
       {{"default", {{"k", "a "}}}}},
      {"unterminated quote runs to the end", "k = 'abc\n", {{"default", {{"k", "abc"}}}}},
      {"escape at the end of a quote", "k = 'abc\\", {{"default", {{"k", "abc"}}}}},
      {"escaped bytes stay raw in a name", "a\\=b = c\n", {{"default", {{"a\\=b", "c"}}}}},
      {"continuation keeps the next line's white space",
       "x = one\\\n  two\n",
       {{"default", {{"x", "one  two"}}}}},
      {"escaped escape is no continuation",
       "x = one\\\\\ny = 2\n",
       {{"default", {{"x", "one\\"}, {"y", "2"}}}}},
      {"continuation over CRLF", "x = a\\\r\nb\r\n", {{"default", {{"x", "ab"}}}}},
      {"continuation at the end of input", "x = v\\", {{"default", {{"x", "v"}}}}},
      {"continuation into a comment line",
       "x = v\\\n# c\ny=1\n",
       {{"default", {{"x", "v"}, {"y", "1"}}}}},
      {"a lone escape", "\\", {}},
      {"variable forms",
       "home = /h\na = ${home}/x\nb = $home/x\nc = $(home)/x\n",
       {{"default", {{"home", "/h"}, {"a", "/h/x"}, {"b", "/h/x"}, {"c", "/h/x"}}}}},
      {"variable of the current section first",
       "v = d\n[s]\nv = s\np = $v\n",
       {{"default", {{"v", "d"}}}, {"s", {{"v", "s"}, {"p", "s"}}}}},
      {"variable falls back to default",
       "v = d\n[s]\np = $v\n",
       {{"default", {{"v", "d"}}}, {"s", {{"p", "d"}}}}},
      {"variable of another section",
       "[s]\nh = 1\n[t]\np = $s::h\nq = ${s::h}x\n",
       {{"s", {{"h", "1"}}}, {"t", {{"p", "1"}, {"q", "1x"}}}}},
      {"variable of a section::name key uses that section",
       "[s]\nh = 1\n[t]\ns::p = $h\n",
       {{"s", {{"h", "1"}, {"p", "1"}}}, {"t", {}}}},
      {"variable name ends at a non-name byte",
       "a = x\nb = $a.y\n",
       {{"default", {{"a", "x"}, {"b", "x.y"}}}}},
      {"expanded text is not scanned again",
       "a = '$b \\t'\nd = ${a}\n",
       {{"default", {{"a", "$b t"}, {"d", "$b t"}}}}},
      {"escaped dollar is literal", "k = \\$x\n", {{"default", {{"k", "$x"}}}}},
      {"quoted dollar is literal", "k = '$x'\n", {{"default", {{"k", "$x"}}}}},
      {"empty variable name finds the empty name",
       "=e\nk = $\n",
       {{"default", {{"", "e"}, {"k", "e"}}}}},
      {"escapes in a section header", "[a\\]b\\$c]\nk = v\n", {{"a]b$c", {{"k", "v"}}}}},
      {"high bytes in a value", "k = caf\xc3\xa9\n", {{"default", {{"k", "caf\xc3\xa9"}}}}},
      {"a NUL byte drops the rest of its line",
       std::string("a=1\0b=2\nc=3\n", 12),
       {{"default", {{"a", "1c=3"}}}}},
      // WIN32 flavour.
      {"WIN32: first-column semicolon comment",
       "  ; c\nk = v\n",
       {{"default", {{"k", "v"}}}},
       true},
      {"WIN32: semicolon elsewhere is data", "k = a;b\n", {{"default", {{"k", "a;b"}}}}, true},
      {"WIN32: doubled double quote", "k = \"a\"\"b\"\n", {{"default", {{"k", "a\"b"}}}}, true},
      {"WIN32: backslash is ordinary", "k = a\\nb\\\n", {{"default", {{"k", "a\\nb\\"}}}}, true},
      {"WIN32: hash and single quotes are data",
       "k = 'a' #b\n",
       {{"default", {{"k", "'a' #b"}}}},
       true},
  };
  return cases;
}

TEST(ConfParse, TableOfTexts) {
  for (const GoodCase& c : GoodCases()) {
    SCOPED_TRACE(c.what);
    Loaded r = Load(c.text, c.win32 ? NCONF_WIN32() : NCONF_default());
    EXPECT_EQ(r.ok, 1) << r.data;
    EXPECT_EQ(r.eline, -1);
    EXPECT_EQ(r.error, 0u);
    EXPECT_EQ(r.store, WithDefault(c.want));
  }
}

struct BadCase {
  const char* what;
  std::string text;
  int func;
  int reason;
  long line;
};

const std::vector<BadCase>& BadCases() {
  static const std::vector<BadCase> cases = {
      {"header without bracket", "[abc", CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_CLOSE_SQUARE_BRACKET,
       1},
      {"header stops on a byte it cannot pass", "a=1\n[a(b]\n", CONF_F_DEF_LOAD_BIO,
       CONF_R_MISSING_CLOSE_SQUARE_BRACKET, 2},
      {"header with a quote", "[a 'b']\n", CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_CLOSE_SQUARE_BRACKET,
       1},
      {"header of only a foreign byte", "[=]\n", CONF_F_DEF_LOAD_BIO,
       CONF_R_MISSING_CLOSE_SQUARE_BRACKET, 1},
      {"no equal sign", "a b = c\n", CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_EQUAL_SIGN, 1},
      {"bare word", "x\n", CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_EQUAL_SIGN, 1},
      {"line starting with a dollar", "\n\n$x = 1\n", CONF_F_DEF_LOAD_BIO,
       CONF_R_MISSING_EQUAL_SIGN, 3},
      {"high byte in a name", "caf\xc3\xa9 = 1\n", CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_EQUAL_SIGN,
       1},
      {"unclosed brace", "home = /h\np = ${home/x\n", CONF_F_STR_COPY, CONF_R_NO_CLOSE_BRACE, 2},
      {"brace open at the end", "p = ${", CONF_F_STR_COPY, CONF_R_NO_CLOSE_BRACE, 1},
      {"parenthesis closed by a brace", "a=1\np = $(a}\n", CONF_F_STR_COPY, CONF_R_NO_CLOSE_BRACE,
       2},
      {"reference to a later line", "p = $later\nlater = 1\n", CONF_F_STR_COPY,
       CONF_R_VARIABLE_HAS_NO_VALUE, 1},
      {"lone dollar", "p = $\n", CONF_F_STR_COPY, CONF_R_VARIABLE_HAS_NO_VALUE, 1},
      {"reference to a missing section", "p = $nosect::x\n", CONF_F_STR_COPY,
       CONF_R_VARIABLE_HAS_NO_VALUE, 1},
      {"header names take no plain dollar", "n = sec\n[$n]\n", CONF_F_DEF_LOAD_BIO,
       CONF_R_MISSING_CLOSE_SQUARE_BRACKET, 2},
      {"the line of a continued line is its last", "a=1\nb = \\\n $nothing\n", CONF_F_STR_COPY,
       CONF_R_VARIABLE_HAS_NO_VALUE, 3},
      {"error after a long line", std::string(2000, 'a') + "=1\n[x\n", CONF_F_DEF_LOAD_BIO,
       CONF_R_MISSING_CLOSE_SQUARE_BRACKET, 2},
  };
  return cases;
}

TEST(ConfParse, TableOfErrors) {
  for (const BadCase& c : BadCases()) {
    SCOPED_TRACE(c.what);
    Loaded r = Load(c.text);
    EXPECT_EQ(r.ok, 0);
    EXPECT_EQ(r.eline, c.line);
    EXPECT_EQ(r.error, ERR_PACK(ERR_LIB_CONF, c.func, c.reason));
    EXPECT_EQ(r.data, "line " + std::to_string(c.line));
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
