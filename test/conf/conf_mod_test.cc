// Configuration modules: registration, running a configuration's module
// list (names with dots, the application's section, flags, failures),
// finishing and unloading, list splitting and the default file's name.

#include <stdlib.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/err.h>

#include "conf_test_util.h"
#include "test_support.h"

namespace {

using conf_test::ConfFrom;
using V = std::vector<std::string>;

// What the test module's callbacks saw, in order.
V events;
int init_result = 1;

int TestInit(CONF_IMODULE* md, const CONF*) {
  events.push_back(std::string("init ") + CONF_imodule_get_name(md) + "=" +
                   CONF_imodule_get_value(md));
  CONF_imodule_set_usr_data(md, const_cast<char*>(CONF_imodule_get_name(md)));
  CONF_imodule_set_flags(md, 7);
  return init_result;
}

void TestFinish(CONF_IMODULE* md) {
  events.push_back(std::string("finish ") + CONF_imodule_get_name(md) +
                   (CONF_imodule_get_usr_data(md) == CONF_imodule_get_name(md) ? "" : " ?") +
                   (CONF_imodule_get_flags(md) == 7 ? "" : " !"));
}

class ConfModules : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(CONF_module_add("test", TestInit, TestFinish), 1); }
  void TearDown() override { CONF_modules_free(); }
  // Runs the module list of `text` for `app` with `flags`.
  static int Run(const std::string& text, const char* app = nullptr, unsigned long flags = 0) {
    return CONF_modules_load(ConfFrom(text).get(), app, flags);
  }
};

constexpr char kTwo[] = "morvane_conf = mods\n[mods]\ntest.1 = a\ntest.2 = b\n";

TEST_F(ConfModules, RunsTheListedModulesAndFinishesThemNewestFirst) {
  ASSERT_EQ(CONF_module_add("other", TestInit, nullptr), 1);
  EXPECT_EQ(Run(kTwo), 1);
  CONF_modules_finish();
  EXPECT_EQ(Run("morvane_conf = mods\n[mods]\ntes = x\noth.1 = y\n"), 1);  // shortened names
  EXPECT_EQ(events, (V{"init test.1=a", "init test.2=b", "finish test.2", "finish test.1",
                       "init tes=x", "init oth.1=y"}));
  EXPECT_ERRORS({});
}

// The first module whose name begins with the line's name runs: "te",
// registered after "test", is never reached.
TEST_F(ConfModules, ALineNamesAModuleByPrefix) {
  const auto other = [](CONF_IMODULE*, const CONF*) {
    events.push_back("other");
    return 1;
  };
  ASSERT_EQ(CONF_module_add("te", other, nullptr), 1);
  EXPECT_EQ(Run("morvane_conf = mods\n[mods]\nte = a\n"), 1);
  EXPECT_EQ(events, (V{"init te=a"}));  // the test module's init, not "te"'s
}

TEST_F(ConfModules, ListSections) {
  const std::string apps =
      "morvane_conf = mods\nmyapp = appmods\n[mods]\ntest = a\n[appmods]\ntest = b\n";
  EXPECT_EQ(Run("x = y\n[mods]\ntest = a\n"), 1);  // no list: nothing runs
  EXPECT_EQ(Run("x = y\n[mods]\ntest = a\n", "myapp"), 1);
  EXPECT_EQ(CONF_modules_load(nullptr, nullptr, 0), 1);
  EXPECT_EQ(Run(apps, "myapp"), 1);
  EXPECT_EQ(Run(apps, "otherapp"), 1);  // not found: nothing runs
  EXPECT_EQ(Run(apps, "otherapp", CONF_MFLAGS_DEFAULT_SECTION), 1);
  EXPECT_ERRORS({});  // the default list stood in: the lookup of otherapp left nothing
  EXPECT_EQ(events, (V{"init test=b", "init test=a"}));
  EXPECT_EQ(Run("morvane_conf = nowhere\n"), 0);  // a missing list fails, saying so
  EXPECT_ERRORS({{ERR_LIB_CONF, CONF_F_CONF_MODULES_LOAD, CONF_R_NO_SECTION, "section=nowhere"}});
}

// A load that succeeds without a list to run (none in the file, or a
// missing file the flags let pass) removes only what its lookups queued:
// the caller's entries and mark stay (the whole queue was cleared).
TEST_F(ConfModules, SuccessWithoutAListKeepsTheCallersEntries) {
  const conf_test::ConfPtr conf = ConfFrom("x = y\n");
  for (const char* app : {static_cast<const char*>(nullptr), "myapp"})
    EXPECT_TRUE(morvane_test::KeepsCallersMark(
        [&] { return CONF_modules_load(conf.get(), app, CONF_MFLAGS_DEFAULT_SECTION) == 1; }));
  EXPECT_TRUE(morvane_test::KeepsCallersMark([] {
    return CONF_modules_load_file("/nonexistent/morvane.cnf", nullptr,
                                  CONF_MFLAGS_IGNORE_MISSING_FILE) == 1;
  }));
  EXPECT_TRUE(events.empty());
}

TEST_F(ConfModules, UnknownModules) {
  const std::string text =
      "morvane_conf = mods\n[mods]\nxyz = xsect\n[xsect]\npath = /lib/xyz.so\n";
  const morvane_test::ErrEntry unknown = {ERR_LIB_CONF, CONF_F_MODULE_RUN,
                                          CONF_R_UNKNOWN_MODULE_NAME, "module=xyz"};
  EXPECT_EQ(Run(text, nullptr, CONF_MFLAGS_NO_DSO), -1);
  EXPECT_ERRORS({unknown});
  // Looking in a shared object fails: there is no loader in this build.
  EXPECT_EQ(Run(text), -1);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED},
                 {ERR_LIB_CONF, CONF_F_MODULE_LOAD_DSO, CONF_R_ERROR_LOADING_DSO,
                  "module=xyz, path=/lib/xyz.so"},
                 unknown});
  // The path defaults to the module's name.
  EXPECT_EQ(Run("morvane_conf = mods\n[mods]\nxyz = nosection\n"), -1);
  EXPECT_ERRORS(
      {{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED},
       {ERR_LIB_CONF, CONF_F_MODULE_LOAD_DSO, CONF_R_ERROR_LOADING_DSO, "module=xyz, path=xyz"},
       unknown});
  EXPECT_EQ(Run(text, nullptr, CONF_MFLAGS_SILENT | CONF_MFLAGS_NO_DSO), -1);
  EXPECT_ERRORS({});
  // Silent also takes back what the search in shared objects queued, and
  // only that.
  EXPECT_EQ(Run(text, nullptr, CONF_MFLAGS_SILENT), -1);
  EXPECT_ERRORS({});
  const conf_test::ConfPtr conf = ConfFrom(text);
  EXPECT_TRUE(morvane_test::KeepsCallersMark([&] {
    return CONF_modules_load(conf.get(), nullptr, CONF_MFLAGS_SILENT | CONF_MFLAGS_IGNORE_ERRORS) ==
           1;
  }));
  // Errors may be ignored: the next module runs.
  const std::string two = "morvane_conf = mods\n[mods]\nxyz = a\ntest = b\n";
  EXPECT_EQ(Run(two, nullptr, CONF_MFLAGS_NO_DSO), -1);
  EXPECT_TRUE(events.empty());
  ERR_clear_error();
  EXPECT_EQ(Run(two, nullptr, CONF_MFLAGS_NO_DSO | CONF_MFLAGS_IGNORE_ERRORS), 1);
  EXPECT_EQ(events, (V{"init test=b"}));
}

TEST_F(ConfModules, FailedInitIsFinishedAndReported) {
  init_result = 0;
  EXPECT_EQ(Run("morvane_conf = mods\n[mods]\ntest = a\n"), -1);
  EXPECT_EQ(events, (V{"init test=a", "finish test"}));
  EXPECT_ERRORS({{ERR_LIB_CONF, CONF_F_MODULE_RUN, CONF_R_MODULE_INITIALIZATION_ERROR,
                  "module=test, value=a, retcode=-1      "}});
  CONF_modules_finish();  // the failed instance was not kept
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(ConfModules, UnloadKeepsOrRemovesRegisteredModules) {
  static CONF_MODULE* seen = nullptr;
  ASSERT_EQ(CONF_module_add(
                "mine",
                [](CONF_IMODULE* md, const CONF*) {
                  seen = CONF_imodule_get_module(md);
                  CONF_module_set_usr_data(seen, &seen);
                  return 1;
                },
                nullptr),
            1);
  const std::string text = "morvane_conf = mods\n[mods]\ntest = a\nmine = b\n";
  EXPECT_EQ(Run(text), 1);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(CONF_module_get_usr_data(seen), &seen);
  CONF_modules_unload(0);  // finishes the instance, keeps the module
  EXPECT_EQ(events, (V{"init test=a", "finish test"}));
  EXPECT_EQ(Run(text), 1);
  CONF_modules_unload(1);
  EXPECT_EQ(events.size(), 4u);
  EXPECT_EQ(Run(text, nullptr, CONF_MFLAGS_NO_DSO), -1);
  ERR_clear_error();
}

// ---- list splitting and the default file ---------------------------------

V Split(const char* list, int sep, int nospc, int stop_after = -1) {
  struct State {
    V out;
    int stop_after;
  } st{{}, stop_after};
  const int r = CONF_parse_list(
      list, sep, nospc,
      [](const char* elem, int len, void* arg) {
        auto* s = static_cast<State*>(arg);
        s->out.push_back(elem == nullptr ? "<null>" : std::string(elem, static_cast<size_t>(len)));
        return static_cast<int>(s->out.size()) == s->stop_after ? 0 : 1;
      },
      &st);
  st.out.push_back("=" + std::to_string(r));
  return st.out;
}

TEST(ConfParseList, Elements) {
  EXPECT_EQ(Split(" a , b ", ',', 1), (V{"a", "b", "=1"}));
  EXPECT_EQ(Split(" a , b ", ',', 0), (V{" a ", " b ", "=1"}));
  EXPECT_EQ(Split("a,,b", ',', 0), (V{"a", "<null>", "b", "=1"}));
  EXPECT_EQ(Split("a,", ',', 0), (V{"a", "<null>", "=1"}));
  EXPECT_EQ(Split("", ',', 0), (V{"<null>", "=1"}));
  EXPECT_EQ(Split("  ,x", ',', 1), (V{"<null>", "x", "=1"}));
  EXPECT_EQ(Split("a:b:c", ':', 0, 2), (V{"a", "b", "=0"}));
  EXPECT_EQ(Split("a b", '\0', 0), (V{"a b", "=1"}));  // no separator at all
  // The separator is compared as a char: a low byte of 0 is none, 256 + ','
  // is a comma.
  EXPECT_EQ(Split("a,b", 256, 0), (V{"a,b", "=1"}));
  EXPECT_EQ(Split("a,b", 0x10000, 0), (V{"a,b", "=1"}));
  EXPECT_EQ(Split("a,b", 256 + ',', 0), (V{"a", "b", "=1"}));
  EXPECT_EQ(CONF_parse_list(nullptr, ',', 0, nullptr, nullptr), 0);
}

TEST(ConfDefaultFile, NameFromTheEnvironmentOrTheDefaultDirectory) {
  for (const char* env : {static_cast<const char*>(nullptr), "/etc/mine.cnf"}) {
    if (env != nullptr)
      setenv("MORVANE_CONF", env, 1);
    else
      unsetenv("MORVANE_CONF");
    char* f = CONF_get1_default_config_file();
    EXPECT_STREQ(f, env != nullptr ? env : "/usr/local/ssl/morvane.cnf");
    MORVANE_free(f);
  }
  unsetenv("MORVANE_CONF");
}

}  // namespace
