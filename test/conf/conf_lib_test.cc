// The configuration interface: the NCONF_ calls and their errors, the
// hash-table CONF_ forms, files and FILE streams, the environment, dumping,
// the error texts, and loads under failing allocations.

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>

#include "conf_test_util.h"
#include "test_support.h"

namespace {

using conf_test::LoadInto;
using conf_test::Pairs;
using conf_test::Sections;

// The most recent queued error's data text ("" when it has none).
std::string LastData() {
  const char* data = nullptr;
  int flags = 0;
  if (ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags) == 0) return "";
  return (flags & ERR_TXT_STRING) != 0 ? data : "";
}

unsigned long ConfError(int func, int reason) { return ERR_PACK(ERR_LIB_CONF, func, reason); }

// A configuration loaded from `text`; the test frees it.
CONF* Loaded(const std::string& text) {
  CONF* conf = NCONF_new(nullptr);
  EXPECT_EQ(LoadInto(conf, text).ok, 1);
  ERR_clear_error();
  return conf;
}

// A temporary file holding `text`, removed by the destructor.
class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/morvane_conf_XXXXXX";
    int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
    path_ = name;
  }
  ~TempFile() { unlink(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

TEST(ConfLib, VersionTexts) {
  EXPECT_STREQ(CONF_version, "CONF part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(CONF_def_version, "CONF_def part of Morvane 0.9.8o 01 Jun 2010");
}

TEST(ConfLib, Methods) {
  EXPECT_STREQ(NCONF_default()->name, "Morvane default");
  EXPECT_STREQ(NCONF_WIN32()->name, "WIN32");
  CONF* conf = NCONF_new(nullptr);
  ASSERT_NE(conf, nullptr);
  EXPECT_EQ(conf->meth, NCONF_default());
  EXPECT_EQ(conf->data, nullptr);
  NCONF_free(conf);
  conf = NCONF_new(NCONF_WIN32());
  EXPECT_EQ(conf->meth, NCONF_WIN32());
  NCONF_free(conf);
  NCONF_free(nullptr);
  NCONF_free_data(nullptr);
  EXPECT_EQ(NCONF_default()->init(nullptr), 0);
  EXPECT_EQ(NCONF_default()->destroy(nullptr), 0);
}

TEST(ConfLib, GetStringAndItsErrors) {
  CONF* conf = Loaded("d = 1\n[sec]\ns = 2\n");
  EXPECT_STREQ(NCONF_get_string(conf, "sec", "s"), "2");
  EXPECT_STREQ(NCONF_get_string(conf, "sec", "d"), "1");  // from "default"
  EXPECT_STREQ(NCONF_get_string(conf, nullptr, "d"), "1");
  EXPECT_EQ(ERR_peek_error(), 0u);

  EXPECT_EQ(NCONF_get_string(conf, "sec", "missing"), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_GET_STRING, CONF_R_NO_VALUE));
  EXPECT_EQ(LastData(), "group=sec name=missing");
  // A null group is left out of the text.
  EXPECT_EQ(NCONF_get_string(conf, nullptr, "missing"), nullptr);
  EXPECT_EQ(LastData(), "group= name=missing");
  NCONF_free(conf);
}

TEST(ConfLib, NullConfReadsTheEnvironment) {
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_X", "env-x", 1), 0);
  EXPECT_STREQ(NCONF_get_string(nullptr, nullptr, "MORVANE_CONF_TEST_X"), "env-x");
  EXPECT_STREQ(CONF_get_string(nullptr, "any", "MORVANE_CONF_TEST_X"), "env-x");
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_X"), 0);
  ERR_clear_error();
  EXPECT_EQ(NCONF_get_string(nullptr, nullptr, "MORVANE_CONF_TEST_X"), nullptr);
  EXPECT_EQ(ERR_get_error(),
            ConfError(CONF_F_NCONF_GET_STRING, CONF_R_NO_CONF_OR_ENVIRONMENT_VARIABLE));
  EXPECT_EQ(ERR_get_error(), 0u);
}

TEST(ConfLib, LookupFallsBackThroughEnvToDefault) {
  CONF* conf = Loaded("X_DEFAULT_ONLY = d\nMORVANE_CONF_TEST_Y = d\n");
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_Y", "env-y", 1), 0);
  EXPECT_STREQ(_CONF_get_string(conf, "ENV", "MORVANE_CONF_TEST_Y"), "env-y");
  EXPECT_STREQ(_CONF_get_string(conf, "ENV", "X_DEFAULT_ONLY"), "d");
  // Other sections do not read the environment.
  EXPECT_STREQ(_CONF_get_string(conf, "other", "MORVANE_CONF_TEST_Y"), "d");
  EXPECT_EQ(_CONF_get_string(conf, "ENV", nullptr), nullptr);
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_Y"), 0);
  NCONF_free(conf);
  // Before the first load there is no table: only the ENV step can answer.
  conf = NCONF_new(nullptr);
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_Y", "env-y", 1), 0);
  EXPECT_STREQ(_CONF_get_string(conf, "ENV", "MORVANE_CONF_TEST_Y"), "env-y");
  EXPECT_EQ(_CONF_get_string(conf, "default", "MORVANE_CONF_TEST_Y"), nullptr);
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_Y"), 0);
  NCONF_free(conf);
}

TEST(ConfLib, GetNumber) {
  CONF* conf = Loaded("a = 42\nb = \" 42\"\nc = 007x\nd =\ne = x1\nf = 99999999999999999999\n");
  long r = -5;
  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "a", &r), 1);
  EXPECT_EQ(r, 42);
  EXPECT_EQ(NCONF_get_number(conf, nullptr, "b", &r), 1);
  EXPECT_EQ(r, 0);  // a leading blank stops the digits
  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "c", &r), 1);
  EXPECT_EQ(r, 7);
  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "d", &r), 1);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "e", &r), 1);
  EXPECT_EQ(r, 0);
  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "f", &r), 1);  // wraps, no check
  EXPECT_EQ(ERR_peek_error(), 0u);

  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "missing", &r), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_GET_STRING, CONF_R_NO_VALUE));
  EXPECT_EQ(NCONF_get_number_e(conf, nullptr, "a", nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(),
            ConfError(CONF_F_NCONF_GET_NUMBER_E, ERR_R_PASSED_NULL_PARAMETER));
  NCONF_free(conf);

  // A null configuration fails with an error (it has no method to read digits
  // with), also when the environment has the name.
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_N", "12", 1), 0);
  r = -5;
  EXPECT_EQ(NCONF_get_number_e(nullptr, nullptr, "MORVANE_CONF_TEST_N", &r), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_GET_NUMBER_E, CONF_R_NO_CONF));
  EXPECT_EQ(r, -5);
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_N"), 0);
}

TEST(ConfLib, ConfGetNumber) {
  ASSERT_EQ(setenv("MORVANE_CONF_TEST_N", "12abc", 1), 0);
  EXPECT_EQ(CONF_get_number(nullptr, nullptr, "MORVANE_CONF_TEST_N"), 12);
  ASSERT_EQ(unsetenv("MORVANE_CONF_TEST_N"), 0);
  ERR_put_error(ERR_LIB_USER, 1, 2, "x", 1);  // an earlier error
  EXPECT_EQ(CONF_get_number(nullptr, nullptr, "MORVANE_CONF_TEST_N"), 0);
  EXPECT_EQ(ERR_peek_error(), 0u) << "the whole queue is cleared";

  CONF* conf = Loaded("[s]\nn = 31\n");
  LHASH* hash = conf->data;
  EXPECT_EQ(CONF_get_number(hash, "s", "n"), 31);
  EXPECT_EQ(CONF_get_number(hash, "s", "none"), 0);
  EXPECT_EQ(ERR_peek_error(), 0u);
  NCONF_free(conf);
}

TEST(ConfLib, GetSection) {
  CONF* conf = Loaded("[s]\nb = 2\na = 1\n[empty]\n");
  STACK* sk = NCONF_get_section(conf, "s");
  ASSERT_EQ(sk_num(sk), 2);
  auto* v0 = reinterpret_cast<CONF_VALUE*>(sk_value(sk, 0));
  EXPECT_STREQ(v0->section, "s");
  EXPECT_STREQ(v0->name, "b");
  EXPECT_STREQ(v0->value, "2");
  EXPECT_STREQ(reinterpret_cast<CONF_VALUE*>(sk_value(sk, 1))->name, "a");
  EXPECT_EQ(sk_num(NCONF_get_section(conf, "empty")), 0);
  EXPECT_EQ(NCONF_get_section(conf, "nothere"), nullptr);
  EXPECT_EQ(ERR_peek_error(), 0u);
  EXPECT_EQ(CONF_get_section(conf->data, "s"), sk);

  EXPECT_EQ(NCONF_get_section(conf, nullptr), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_GET_SECTION, CONF_R_NO_SECTION));
  EXPECT_EQ(NCONF_get_section(nullptr, "s"), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_GET_SECTION, CONF_R_NO_CONF));
  ERR_clear_error();
  EXPECT_EQ(CONF_get_section(nullptr, "s"), nullptr);
  EXPECT_EQ(ERR_peek_error(), 0u);
  NCONF_free(conf);
}

TEST(ConfLib, NullConfErrors) {
  EXPECT_EQ(NCONF_load(nullptr, "/nonexistent", nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_LOAD, CONF_R_NO_CONF));
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(NCONF_load_bio(nullptr, mem, nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_LOAD_BIO, CONF_R_NO_CONF));
  EXPECT_EQ(NCONF_dump_bio(nullptr, mem), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_DUMP_BIO, CONF_R_NO_CONF));
  BIO_free(mem);
}

TEST(ConfLib, FilesAndFileStreams) {
  TempFile file("# a file\n[s]\nk = v\n");
  CONF* conf = NCONF_new(nullptr);
  long eline = -1;
  ASSERT_EQ(NCONF_load(conf, file.path(), &eline), 1);
  EXPECT_EQ(eline, -1) << "written only on failure";
  EXPECT_STREQ(NCONF_get_string(conf, "s", "k"), "v");
  NCONF_free(conf);

  FILE* fp = fopen(file.path(), "r");
  ASSERT_NE(fp, nullptr);
  conf = NCONF_new(nullptr);
  ASSERT_EQ(NCONF_load_fp(conf, fp, nullptr), 1);
  EXPECT_STREQ(NCONF_get_string(conf, "s", "k"), "v");
  EXPECT_EQ(fgetc(fp), EOF) << "the FILE stays open";
  fclose(fp);
  NCONF_free(conf);

  LHASH* hash = CONF_load(nullptr, file.path(), &eline);
  ASSERT_NE(hash, nullptr);
  EXPECT_STREQ(CONF_get_string(hash, "s", "k"), "v");
  fp = fopen(file.path(), "r");
  EXPECT_EQ(CONF_load_fp(hash, fp, &eline), hash);
  fclose(fp);
  CONF_free(hash);
}

TEST(ConfLib, MissingFiles) {
  CONF* conf = NCONF_new(nullptr);
  EXPECT_EQ(NCONF_load(conf, "/nonexistent/morvane.cnf", nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_DEF_LOAD, CONF_R_NO_SUCH_FILE));
  // Other reasons to fail to open are system errors.
  TempFile file("");
  EXPECT_EQ(NCONF_load(conf, (std::string(file.path()) + "/x").c_str(), nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_DEF_LOAD, ERR_R_SYS_LIB));
  EXPECT_EQ(NCONF_load(conf, nullptr, nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_DEF_LOAD, ERR_R_PASSED_NULL_PARAMETER));
  NCONF_free(conf);

  long eline = -1;
  EXPECT_EQ(CONF_load(nullptr, "/nonexistent/morvane.cnf", &eline), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_CONF_LOAD, ERR_R_SYS_LIB));
  EXPECT_EQ(eline, -1);
}

TEST(ConfLib, ConfLoadReportsTheLine) {
  TempFile file("a = 1\nb = 2\n[broken\n");
  long eline = -1;
  EXPECT_EQ(CONF_load(nullptr, file.path(), &eline), nullptr);
  EXPECT_EQ(eline, 3);
  EXPECT_EQ(ERR_peek_last_error(),
            ConfError(CONF_F_DEF_LOAD_BIO, CONF_R_MISSING_CLOSE_SQUARE_BRACKET));
  EXPECT_EQ(LastData(), "line 3");
}

TEST(ConfLib, ConfLoadBioAddsToATable) {
  BIO* in = BIO_new_mem_buf(const_cast<char*>("a = 1\n"), -1);
  LHASH* hash = CONF_load_bio(nullptr, in, nullptr);
  BIO_free(in);
  ASSERT_NE(hash, nullptr);
  in = BIO_new_mem_buf(const_cast<char*>("b = $a$a\n"), -1);
  EXPECT_EQ(CONF_load_bio(hash, in, nullptr), hash);
  BIO_free(in);
  EXPECT_STREQ(CONF_get_string(hash, nullptr, "b"), "11");
  EXPECT_EQ(CONF_get_string(hash, nullptr, "c"), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), ConfError(CONF_F_NCONF_GET_STRING, CONF_R_NO_VALUE));
  CONF_free(hash);
  CONF_free(nullptr);
}

TEST(ConfLib, DefaultMethodOfTheWrappers) {
  // Set before the first wrapping: the WIN32 rules apply to CONF_load_bio.
  EXPECT_EQ(CONF_set_default_method(NCONF_WIN32()), 1);
  BIO* in = BIO_new_mem_buf(const_cast<char*>("; note\nk = a;b # c\n"), -1);
  LHASH* hash = CONF_load_bio(nullptr, in, nullptr);
  BIO_free(in);
  ASSERT_NE(hash, nullptr);
  EXPECT_STREQ(CONF_get_string(hash, nullptr, "k"), "a;b # c");
  CONF wrap;
  CONF_set_nconf(&wrap, hash);
  EXPECT_EQ(wrap.meth, NCONF_WIN32());
  EXPECT_EQ(wrap.data, hash);
  CONF_free(hash);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t nl = text.find('\n', pos);
    out.push_back(text.substr(pos, nl - pos));
    pos = nl + 1;
  }
  std::sort(out.begin(), out.end());
  return out;
}

TEST(ConfLib, Dump) {
  CONF* conf = Loaded("a = 1\n[s]\nb = x y\n");
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(NCONF_dump_bio(conf, out), 1);
  EXPECT_EQ(CONF_dump_bio(conf->data, out), 1);
  char* data = nullptr;
  long len = BIO_get_mem_data(out, &data);
  const std::vector<std::string> once = {"[[default]]", "[[s]]", "[default] a=1", "[s] b=x y"};
  std::vector<std::string> twice;
  for (const auto& l : once) twice.insert(twice.end(), {l, l});
  std::sort(twice.begin(), twice.end());
  EXPECT_EQ(Lines(std::string(data, static_cast<size_t>(len))), twice);
  BIO_free(out);

  // The FILE forms write the same and leave the FILE open.
  FILE* fp = tmpfile();
  ASSERT_NE(fp, nullptr);
  EXPECT_EQ(NCONF_dump_fp(conf, fp), 1);
  EXPECT_EQ(CONF_dump_fp(conf->data, fp), 1);
  rewind(fp);
  std::string text;
  for (int c; (c = fgetc(fp)) != EOF;) text += static_cast<char>(c);
  fclose(fp);
  EXPECT_EQ(Lines(text), twice);
  NCONF_free(conf);
}

TEST(ConfLib, ErrorTexts) {
  ERR_load_ERR_strings();  // the library names
  ERR_load_CONF_strings();
  EXPECT_STREQ(ERR_lib_error_string(ConfError(0, 0)), "configuration file routines");
  EXPECT_STREQ(ERR_func_error_string(ConfError(CONF_F_STR_COPY, 0)), "STR_COPY");
  EXPECT_STREQ(ERR_func_error_string(ConfError(CONF_F_DEF_LOAD_BIO, 0)), "DEF_LOAD_BIO");
  EXPECT_STREQ(ERR_reason_error_string(ConfError(0, CONF_R_NO_SUCH_FILE)), "no such file");
  EXPECT_STREQ(ERR_reason_error_string(ConfError(0, CONF_R_VARIABLE_HAS_NO_VALUE)),
               "variable has no value");
  int functs = 0, reasons = 0;
  for (int code = 1; code < 0x1000; code++) {
    functs += ERR_func_error_string(ConfError(code, 0)) != nullptr;
    const char* r = ERR_reason_error_string(ConfError(0, code));
    reasons += r != nullptr && code >= 100;  // below 100: the common reasons
  }
  EXPECT_EQ(functs, 21);
  EXPECT_EQ(reasons, 15);
}

// Every allocation of a load may fail: the load then fails cleanly (nothing
// leaks; a fresh configuration keeps no table) or, where the failure is
// absorbed, succeeds with the full result.
TEST(ConfLib, LoadUnderFailingAllocations) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const std::string text =
      "a = 1\n[s]\nb = ${a}x\nt::c = 'q'\n[t]\nd = $s::b\n";
  const Sections want = {{"default", {{"a", "1"}}},
                         {"s", {{"b", "1x"}}},
                         {"t", {{"c", "q"}, {"d", "1x"}}}};
  int failures = 0;
  for (long n = 1; n < 400; n++) {
    CONF* conf = NCONF_new(nullptr);
    BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
    ASSERT_TRUE(conf != nullptr && in != nullptr);
    ERR_clear_error();
    morvane_test::FailAllocationAfter(n);
    const int ok = NCONF_load_bio(conf, in, nullptr);
    morvane_test::FailAllocationAfter(0);
    if (ok == 1) {
      EXPECT_EQ(conf_test::ReadStore(conf), want) << n;
    } else {
      failures++;
      EXPECT_NE(ERR_peek_last_error(), 0u) << n;
      EXPECT_EQ(conf->data, nullptr) << n;
    }
    BIO_free(in);
    NCONF_free(conf);
  }
  EXPECT_GT(failures, 10);
}

}  // namespace
