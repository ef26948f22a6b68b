// The configuration interface: lookups and their errors as a table, numbers,
// sections, the hash-table CONF_ forms, files and FILE streams, dumping, and
// loads under failing allocations.

#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

#include "conf_test_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using conf_test::ConfFrom;
using conf_test::ConfPtr;
using conf_test::Sections;
using morvane_test::ErrEntry;

constexpr char kEnvName[] = "MORVANE_CONF_TEST_Y";

TEST(ConfLib, MethodsAndVersionTexts) {
  EXPECT_STREQ(CONF_version, "CONF part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(CONF_def_version, "CONF_def part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(NCONF_default()->name, "Morvane default");
  EXPECT_STREQ(NCONF_WIN32()->name, "WIN32");
  ConfPtr conf(NCONF_new(nullptr));
  EXPECT_EQ(conf->meth, NCONF_default());
  NCONF_free(nullptr);
  NCONF_free_data(nullptr);
  EXPECT_EQ(NCONF_default()->init(nullptr), 0);
  EXPECT_EQ(NCONF_default()->destroy(nullptr), 0);
}

// Lookups fall back from the section to the environment (section "ENV" only)
// and then to "default"; a failed lookup names what it looked for.
TEST(ConfLib, Lookups) {
  ConfPtr conf = ConfFrom("d = 1\nX_DEFAULT_ONLY = d\nMORVANE_CONF_TEST_Y = d\n[sec]\ns = 2\n");
  ConfPtr empty(NCONF_new(nullptr));  // before the first load: no table
  ASSERT_EQ(setenv(kEnvName, "env-y", 1), 0);
  const ErrEntry kNoValue = {ERR_LIB_CONF, CONF_F_NCONF_GET_STRING, CONF_R_NO_VALUE};
  struct Case {
    const CONF* conf;
    const char *group, *name, *want;
    std::vector<ErrEntry> errors;
  } const cases[] = {
      {conf.get(), "sec", "s", "2", {}},
      {conf.get(), "sec", "d", "1", {}},
      {conf.get(), nullptr, "d", "1", {}},
      {conf.get(), "ENV", kEnvName, "env-y", {}},
      {conf.get(), "ENV", "X_DEFAULT_ONLY", "d", {}},
      {conf.get(), "other", kEnvName, "d", {}},  // other sections do not read it
      {empty.get(), "ENV", kEnvName, "env-y", {}},
      {nullptr, nullptr, kEnvName, "env-y", {}},  // no configuration: the environment
      {conf.get(),
       "sec",
       "missing",
       nullptr,
       {{kNoValue.lib, kNoValue.func, kNoValue.reason, "group=sec name=missing"}}},
      {conf.get(),
       nullptr,
       "missing",
       nullptr,
       {{kNoValue.lib, kNoValue.func, kNoValue.reason, "group= name=missing"}}},
      {empty.get(), "default", kEnvName, nullptr, {kNoValue}},
      {nullptr,
       nullptr,
       "MORVANE_CONF_TEST_UNSET",
       nullptr,
       {{ERR_LIB_CONF, CONF_F_NCONF_GET_STRING, CONF_R_NO_CONF_OR_ENVIRONMENT_VARIABLE}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.group ? c.group : "(null)") + "/" + c.name);
    const char* got = NCONF_get_string(c.conf, c.group, c.name);
    EXPECT_EQ(got ? std::string(got) : "(null)", c.want ? c.want : "(null)");
    EXPECT_ERRORS(c.errors);
  }
  EXPECT_STREQ(CONF_get_string(nullptr, "any", kEnvName), "env-y");
  EXPECT_EQ(_CONF_get_string(conf.get(), "ENV", nullptr), nullptr);
  ASSERT_EQ(unsetenv(kEnvName), 0);
}

TEST(ConfLib, Numbers) {
  ConfPtr conf = ConfFrom("a = 42\nb = \" 42\"\nc = 007x\nd =\ne = x1\n");
  // Digits are read up to the first other byte; a leading blank stops them.
  for (const auto& [name, want] : std::vector<std::pair<const char*, long>>{
           {"a", 42}, {"b", 0}, {"c", 7}, {"d", 0}, {"e", 0}}) {
    long r = -5;
    EXPECT_EQ(NCONF_get_number_e(conf.get(), nullptr, name, &r), 1);
    EXPECT_EQ(r, want) << name;
  }
  long r = -5;
  EXPECT_ERRORS({});
  EXPECT_EQ(NCONF_get_number_e(conf.get(), nullptr, "missing", &r), 0);
  EXPECT_EQ(NCONF_get_number_e(conf.get(), nullptr, "a", nullptr), 0);
  // A null configuration fails (it has no method to read digits with), also
  // when the environment has the name.
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_N", "12abc", 1), 0);
  r = -5;
  EXPECT_EQ(NCONF_get_number_e(nullptr, nullptr, "MORVANE_CONF_TEST_N", &r), 0);
  EXPECT_EQ(r, -5);
  EXPECT_ERRORS({{ERR_LIB_CONF, CONF_F_NCONF_GET_STRING, CONF_R_NO_VALUE},
                 {ERR_LIB_CONF, CONF_F_NCONF_GET_NUMBER_E, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_CONF, CONF_F_NCONF_GET_NUMBER_E, CONF_R_NO_CONF}});
  // CONF_get_number with no table reads the environment itself, and clears
  // the whole queue when the name is missing.
  EXPECT_EQ(CONF_get_number(nullptr, nullptr, "MORVANE_CONF_TEST_N"), 12);
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_N"), 0);
  ERR_put_error(ERR_LIB_USER, 1, 2, "x", 1);
  EXPECT_EQ(CONF_get_number(nullptr, nullptr, "MORVANE_CONF_TEST_N"), 0);
  EXPECT_EQ(CONF_get_number(conf->data, nullptr, "a"), 42);
  EXPECT_EQ(CONF_get_number(conf->data, "s", "none"), 0);
  EXPECT_ERRORS({});
}

// Every long reads back, LONG_MAX included; one more, or any longer run of
// digits, fails with "number too large" and leaves the result as it was,
// under both methods and through all three calls.
TEST(ConfLib, NumbersThatDoNotFitALong) {
  static_assert(LONG_MAX == 9223372036854775807L);
  const std::string text =
      "max = 9223372036854775807\n"
      "max_x = 9223372036854775807x\n"
      "zeros = 000000000000000000000000000009223372036854775807\n"
      "over = 9223372036854775808\n"
      "twenty = 99999999999999999999\n"
      "over_x = 92233720368547758070x\n"
      "huge = " + std::string(400, '9') + "\n"
      "neg = -9223372036854775809\n";
  const ErrEntry kTooLarge = {ERR_LIB_CONF, CONF_F_NCONF_GET_NUMBER_E, CONF_R_NUMBER_TOO_LARGE};
  for (CONF_METHOD* meth : {NCONF_default(), NCONF_WIN32()}) {
    SCOPED_TRACE(meth->name);
    ConfPtr conf = ConfFrom(text, meth);
    struct Case {
      const char* name;
      bool fits;
      long want;
    } const cases[] = {
        {"max", true, LONG_MAX},  {"max_x", true, LONG_MAX}, {"zeros", true, LONG_MAX},
        {"over", false, 0},       {"twenty", false, 0},      {"over_x", false, 0},
        {"huge", false, 0},       {"neg", true, 0},  // no sign is read: no digits
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      long r = -5;
      EXPECT_EQ(NCONF_get_number_e(conf.get(), nullptr, c.name, &r), c.fits ? 1 : 0);
      EXPECT_EQ(r, c.fits ? c.want : -5);
      EXPECT_ERRORS(c.fits ? std::vector<ErrEntry>{} : std::vector<ErrEntry>{kTooLarge});
      r = -5;
      EXPECT_EQ(NCONF_get_number(conf.get(), nullptr, c.name, &r), c.fits ? 1 : 0);
      EXPECT_EQ(r, c.fits ? c.want : -5);
      ERR_clear_error();
      // The hash-table form hides the failure: 0 and an empty queue.
      ERR_put_error(ERR_LIB_USER, 1, 2, "x", 1);
      EXPECT_EQ(CONF_get_number(conf->data, nullptr, c.name), c.want);
      EXPECT_ERRORS(c.fits ? std::vector<ErrEntry>{{ERR_LIB_USER, 1, 2}} : std::vector<ErrEntry>{});
    }
  }
  // From the environment (no table): the same rule.
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_N", "9223372036854775808", 1), 0);
  EXPECT_EQ(CONF_get_number(nullptr, nullptr, "MORVANE_CONF_TEST_N"), 0);
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_N", "9223372036854775807", 1), 0);
  EXPECT_EQ(CONF_get_number(nullptr, nullptr, "MORVANE_CONF_TEST_N"), LONG_MAX);
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_N"), 0);
  EXPECT_ERRORS({});
}

TEST(ConfLib, Sections) {
  ConfPtr conf = ConfFrom("[s]\nb = 2\na = 1\n[empty]\n");
  STACK* sk = NCONF_get_section(conf.get(), "s");
  ASSERT_EQ(sk_num(sk), 2);
  auto* v0 = reinterpret_cast<CONF_VALUE*>(sk_value(sk, 0));
  EXPECT_EQ(std::string(v0->section) + " " + v0->name + "=" + v0->value, "s b=2");
  EXPECT_STREQ(reinterpret_cast<CONF_VALUE*>(sk_value(sk, 1))->name, "a");
  EXPECT_EQ(sk_num(NCONF_get_section(conf.get(), "empty")), 0);
  EXPECT_EQ(NCONF_get_section(conf.get(), "nothere"), nullptr);
  EXPECT_EQ(CONF_get_section(conf->data, "s"), sk);
  EXPECT_EQ(CONF_get_section(nullptr, "s"), nullptr);
  EXPECT_ERRORS({});
  EXPECT_EQ(NCONF_get_section(conf.get(), nullptr), nullptr);
  EXPECT_EQ(NCONF_get_section(nullptr, "s"), nullptr);
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(NCONF_load(nullptr, "/nonexistent", nullptr), 0);
  EXPECT_EQ(NCONF_load_bio(nullptr, mem, nullptr), 0);
  EXPECT_EQ(NCONF_dump_bio(nullptr, mem), 0);
  BIO_free(mem);
  EXPECT_ERRORS({{ERR_LIB_CONF, CONF_F_NCONF_GET_SECTION, CONF_R_NO_SECTION},
                 {ERR_LIB_CONF, CONF_F_NCONF_GET_SECTION, CONF_R_NO_CONF},
                 {ERR_LIB_CONF, CONF_F_NCONF_LOAD, CONF_R_NO_CONF},
                 {ERR_LIB_CONF, CONF_F_NCONF_LOAD_BIO, CONF_R_NO_CONF},
                 {ERR_LIB_CONF, CONF_F_NCONF_DUMP_BIO, CONF_R_NO_CONF}});
}

TEST(ConfLib, FilesAndFileStreams) {
  morvane_test::TempPath file;
  morvane_test::WriteFile(file.path(), "# a file\n[s]\nk = v\n");
  ConfPtr conf(NCONF_new(nullptr));
  long eline = -1;
  ASSERT_EQ(NCONF_load(conf.get(), file.c_str(), &eline), 1);
  EXPECT_EQ(eline, -1) << "written only on failure";
  EXPECT_STREQ(NCONF_get_string(conf.get(), "s", "k"), "v");
  conf.reset(NCONF_new(nullptr));
  FILE* fp = fopen(file.c_str(), "r");
  ASSERT_EQ(NCONF_load_fp(conf.get(), fp, nullptr), 1);
  EXPECT_STREQ(NCONF_get_string(conf.get(), "s", "k"), "v");
  EXPECT_EQ(fgetc(fp), EOF) << "the FILE stays open";
  rewind(fp);
  LHASH* hash = CONF_load(nullptr, file.c_str(), &eline);
  ASSERT_NE(hash, nullptr);
  EXPECT_STREQ(CONF_get_string(hash, "s", "k"), "v");
  EXPECT_EQ(CONF_load_fp(hash, fp, &eline), hash);
  fclose(fp);
  CONF_free(hash);
  CONF_free(nullptr);

  // Missing files, other reasons to fail to open, and a broken file.
  const ErrEntry kNoFile[] = {
      {ERR_LIB_SYS, SYS_F_FOPEN, ENOENT, "fopen('/nonexistent/morvane.cnf','rb')"},
      {ERR_LIB_BIO, BIO_F_BIO_NEW_FILE, BIO_R_NO_SUCH_FILE}};
  EXPECT_EQ(NCONF_load(conf.get(), "/nonexistent/morvane.cnf", nullptr), 0);
  EXPECT_ERRORS({kNoFile[0], kNoFile[1], {ERR_LIB_CONF, CONF_F_DEF_LOAD, CONF_R_NO_SUCH_FILE}});
  EXPECT_EQ(NCONF_load(conf.get(), (file.path() + "/x").c_str(), nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_SYS, SYS_F_FOPEN, ENOTDIR},
                 {ERR_LIB_BIO, BIO_F_BIO_NEW_FILE, ERR_R_SYS_LIB},
                 {ERR_LIB_CONF, CONF_F_DEF_LOAD, ERR_R_SYS_LIB}});
  EXPECT_EQ(NCONF_load(conf.get(), nullptr, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_CONF, CONF_F_DEF_LOAD, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(CONF_load(nullptr, "/nonexistent/morvane.cnf", &eline), nullptr);
  EXPECT_EQ(eline, -1);
  EXPECT_ERRORS({kNoFile[0], kNoFile[1], {ERR_LIB_CONF, CONF_F_CONF_LOAD, ERR_R_SYS_LIB}});
  morvane_test::WriteFile(file.path(), "a = 1\nb = 2\n[broken\n");
  EXPECT_EQ(CONF_load(nullptr, file.c_str(), &eline), nullptr);
  EXPECT_EQ(eline, 3);
  EXPECT_ERRORS(
      {{ERR_LIB_CONF, CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_CLOSE_SQUARE_BRACKET, "line 3"}});
}

// A stream whose third read fails, a directory and a FILE open only for
// writing, through the NCONF_ and the CONF_ forms: each load fails with
// "read error" and the line it was reading, the system's reason below it,
// and a fresh configuration keeps no table.
TEST(ConfLib, ReadsThatFailFailTheLoad) {
  ERR_clear_error();
  morvane_test::TempPath dir(morvane_test::TempPath::kDir), file;
  FILE* wo = fopen(file.c_str(), "w");
  ASSERT_NE(wo, nullptr);
  const ErrEntry kSys[] = {{ERR_LIB_SYS, SYS_F_FREAD, EISDIR}, {ERR_LIB_SYS, SYS_F_FREAD, EBADF}};
  for (int form = 0; form < 2; form++) {
    for (int source = 0; source < 3; source++) {
      SCOPED_TRACE(std::to_string(form) + "/" + std::to_string(source));
      BIO* in = source == 0 ? morvane_test::NewScriptedStream() : nullptr;
      if (in != nullptr) {
        morvane_test::Script(in).input = "a = 1\nb = 2\nc = 3\n";
        morvane_test::Script(in).read_script = {{}, {}, morvane_test::ScriptStep::Fail()};
      }
      ConfPtr conf(NCONF_new(nullptr));
      long eline = -1;
      const int ok = form == 0 ? (source == 0   ? NCONF_load_bio(conf.get(), in, &eline)
                                  : source == 1 ? NCONF_load(conf.get(), dir.c_str(), &eline)
                                                : NCONF_load_fp(conf.get(), wo, &eline))
                               : (source == 0   ? CONF_load_bio(nullptr, in, &eline)
                                  : source == 1 ? CONF_load(nullptr, dir.c_str(), &eline)
                                                : CONF_load_fp(nullptr, wo, &eline)) != nullptr;
      BIO_free(in);
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(eline, source == 0 ? 3 : 1);
      EXPECT_EQ(conf->data, nullptr);
      std::vector<ErrEntry> want;
      if (source > 0) want = {kSys[source - 1], {ERR_LIB_BIO, BIO_F_FILE_READ, ERR_R_SYS_LIB}};
      const std::string data = "line " + std::to_string(eline);
      want.push_back({ERR_LIB_CONF, CONF_F_DEF_LOAD_BIO, CONF_R_READ_ERROR, data.c_str()});
      EXPECT_ERRORS(want);
    }
  }
  fclose(wo);
  // The module loader reads its file the same way.
  EXPECT_EQ(CONF_modules_load_file(dir.c_str(), nullptr, CONF_MFLAGS_IGNORE_MISSING_FILE), 0);
  EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), CONF_R_READ_ERROR);
  ERR_clear_error();
}

// A read that asks to retry is no read error: a buffering filter over a
// writable memory stream loads as the text does, and so does a stream that
// asks again up to 16 times in a row.  A source that still has nothing
// after that, or that never reaches its end, fails the load with "read
// error" and the line it was reading; so does a failure at any read.
TEST(ConfLib, RetriesEndOnlyAtTheEnd) {
  const std::string text = "a = 1\n[s]\nb = 2\nc = 3";
  const Sections whole = conf_test::LoadInto(ConfPtr(NCONF_new(nullptr)).get(), text).store;
  ASSERT_EQ(whole.size(), 2u);
  const std::vector<morvane_test::RetryCase> cases = morvane_test::RetryCases(text, 4);
  for (const morvane_test::RetryCase& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    ConfPtr conf(NCONF_new(nullptr));
    long eline = 0;
    EXPECT_EQ(NCONF_load_bio(conf.get(), c.in, &eline), c.fail_line == 0 ? 1 : 0);
    EXPECT_EQ(eline, c.fail_line);
    if (c.fail_line == 0) {
      EXPECT_EQ(conf_test::ReadStore(conf.get()), whole);
      EXPECT_ERRORS({});
    } else {
      const std::string data = "line " + std::to_string(c.fail_line);
      EXPECT_ERRORS({{ERR_LIB_CONF, CONF_F_DEF_LOAD_BIO, CONF_R_READ_ERROR, data.c_str()}});
    }
    BIO_free_all(c.in);
  }
}

TEST(ConfLib, HashTableFormsAddUpUnderTheDefaultMethod) {
  // Set before the first wrapping: the WIN32 rules apply to CONF_load_bio.
  EXPECT_EQ(CONF_set_default_method(NCONF_WIN32()), 1);
  BIO* in = BIO_new_mem_buf(const_cast<char*>("; note\nk = a;b # c\n"), -1);
  LHASH* hash = CONF_load_bio(nullptr, in, nullptr);
  BIO_free(in);
  ASSERT_NE(hash, nullptr);
  in = BIO_new_mem_buf(const_cast<char*>("b = 2\n"), -1);
  EXPECT_EQ(CONF_load_bio(hash, in, nullptr), hash);
  BIO_free(in);
  EXPECT_STREQ(CONF_get_string(hash, nullptr, "k"), "a;b # c");
  EXPECT_STREQ(CONF_get_string(hash, nullptr, "b"), "2");
  CONF wrap;
  CONF_set_nconf(&wrap, hash);
  EXPECT_EQ(wrap.meth, NCONF_WIN32());
  EXPECT_EQ(wrap.data, hash);
  CONF_free(hash);
}

std::vector<std::string> SortedLines(const std::string& text) {
  std::vector<std::string> out;
  for (size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
    nl = text.find('\n', pos);
    out.push_back(text.substr(pos, nl - pos));
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The four dump forms write the same lines (in hash order); FILEs stay open.
TEST(ConfLib, Dump) {
  ConfPtr conf = ConfFrom("a = 1\n[s]\nb = x y\n");
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(NCONF_dump_bio(conf.get(), out), 1);
  EXPECT_EQ(CONF_dump_bio(conf->data, out), 1);
  FILE* fp = tmpfile();
  EXPECT_EQ(NCONF_dump_fp(conf.get(), fp), 1);
  EXPECT_EQ(CONF_dump_fp(conf->data, fp), 1);
  char* data = nullptr;
  const long len = BIO_get_mem_data(out, &data);
  const std::string text(data, static_cast<size_t>(len));
  rewind(fp);
  std::string from_file;
  for (int c; (c = fgetc(fp)) != EOF;) from_file += static_cast<char>(c);
  fclose(fp);
  BIO_free(out);
  const std::vector<std::string> want = {"[[default]]", "[[default]]",   "[[s]]",
                                         "[[s]]",       "[default] a=1", "[default] a=1",
                                         "[s] b=x y",   "[s] b=x y"};
  EXPECT_EQ(SortedLines(text), want);
  EXPECT_EQ(SortedLines(from_file), want);

  // A stream that refuses writes: the dump fails.
  char ro[] = "read only";
  out = BIO_new_mem_buf(ro, static_cast<int>(sizeof(ro) - 1));
  EXPECT_EQ(NCONF_dump_bio(conf.get(), out), 0);
  EXPECT_EQ(CONF_dump_bio(conf->data, out), 0);
  BIO_free(out);
  ERR_clear_error();
}

// Every allocation of a load may fail: the load then fails cleanly (nothing
// leaks; a fresh configuration keeps no table) or, where the failure is
// absorbed, succeeds with the full result.
TEST(ConfLib, LoadUnderFailingAllocations) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const std::string text = "a = 1\n[s]\nb = ${a}x\nt::c = 'q'\n[t]\nd = $s::b\n";
  const Sections want = {
      {"default", {{"a", "1"}}}, {"s", {{"b", "1x"}}}, {"t", {{"c", "q"}, {"d", "1x"}}}};
  int failures = 0;
  for (long n = 1; n < 400; n++) {
    ConfPtr conf(NCONF_new(nullptr));
    BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
    ERR_clear_error();
    morvane_test::FailAllocationAfter(n);
    const int ok = NCONF_load_bio(conf.get(), in, nullptr);
    morvane_test::FailAllocationAfter(0);
    BIO_free(in);
    if (ok == 1) {
      EXPECT_EQ(conf_test::ReadStore(conf.get()), want) << n;
    } else {
      failures++;
      EXPECT_NE(ERR_peek_last_error(), 0u) << n;
      EXPECT_EQ(conf->data, nullptr) << n;
    }
  }
  EXPECT_GT(failures, 10);
}

}  // namespace
