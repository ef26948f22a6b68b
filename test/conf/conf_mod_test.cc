// Configuration modules: registration, running a configuration's module
// list (names with dots, the application's section, flags, failures),
// finishing and unloading, list splitting and the default file's name.

#include <stdlib.h>
#include <string.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/dso.h>
#include <morvane/err.h>

namespace {

// A configuration loaded from text.
class Config {
 public:
  explicit Config(const std::string& text) : conf_(NCONF_new(nullptr)) {
    BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
    EXPECT_EQ(NCONF_load_bio(conf_, in, nullptr), 1) << text;
    BIO_free(in);
  }
  ~Config() { NCONF_free(conf_); }
  const CONF* get() const { return conf_; }

 private:
  CONF* conf_;
};

// What the test module's callbacks saw, in order.
std::vector<std::string> events;
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
  void SetUp() override {
    events.clear();
    init_result = 1;
    ERR_clear_error();
    ASSERT_EQ(CONF_module_add("test", TestInit, TestFinish), 1);
  }
  void TearDown() override {
    CONF_modules_free();
    ERR_clear_error();
  }
};

// The oldest queued error, with its attached text.
std::pair<unsigned long, std::string> NextError() {
  const char* data = nullptr;
  int flags = 0;
  const unsigned long e = ERR_get_error_line_data(nullptr, nullptr, &data, &flags);
  return {e, (flags & ERR_TXT_STRING) ? data : ""};
}

TEST_F(ConfModules, RunsTheListedModulesAndFinishesThemNewestFirst) {
  Config c("morvane_conf = mods\n[mods]\ntest.1 = a\ntest.2 = b\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 1);
  CONF_modules_finish();
  EXPECT_EQ(events, (std::vector<std::string>{"init test.1=a", "init test.2=b", "finish test.2",
                                              "finish test.1"}));
  EXPECT_EQ(ERR_peek_error(), 0UL);
}

TEST_F(ConfModules, ShortenedNameFindsTheModule) {
  ASSERT_EQ(CONF_module_add("other", TestInit, nullptr), 1);
  Config c("morvane_conf = mods\n[mods]\ntes = x\noth.1 = y\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 1);
  EXPECT_EQ(events, (std::vector<std::string>{"init tes=x", "init oth.1=y"}));
}

TEST_F(ConfModules, WithoutModuleListNothingRuns) {
  Config c("x = y\n[mods]\ntest = a\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 1);
  EXPECT_EQ(CONF_modules_load(c.get(), "myapp", 0), 1);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(ERR_peek_error(), 0UL);
  EXPECT_EQ(CONF_modules_load(nullptr, nullptr, 0), 1);
}

TEST_F(ConfModules, ApplicationSectionAndItsFallback) {
  Config c("morvane_conf = mods\nmyapp = appmods\n[mods]\ntest = a\n[appmods]\ntest = b\n");
  EXPECT_EQ(CONF_modules_load(c.get(), "myapp", 0), 1);
  EXPECT_EQ(CONF_modules_load(c.get(), "otherapp", 0), 1);  // not found: nothing runs
  EXPECT_EQ(CONF_modules_load(c.get(), "otherapp", CONF_MFLAGS_DEFAULT_SECTION), 1);
  EXPECT_EQ(events, (std::vector<std::string>{"init test=b", "init test=a"}));
}

TEST_F(ConfModules, MissingListSectionFailsQuietly) {
  Config c("morvane_conf = nowhere\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 0);
  EXPECT_EQ(ERR_peek_error(), 0UL);
}

TEST_F(ConfModules, UnknownModule) {
  Config c("morvane_conf = mods\n[mods]\nxyz = xsect\n[xsect]\npath = /lib/xyz.so\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, CONF_MFLAGS_NO_DSO), -1);
  EXPECT_EQ(NextError(),
            std::make_pair(ERR_PACK(ERR_LIB_CONF, CONF_F_MODULE_RUN, CONF_R_UNKNOWN_MODULE_NAME),
                           std::string("module=xyz")));
  EXPECT_EQ(ERR_peek_error(), 0UL);

  // Looking in a shared object fails: there is no loader in this build.
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), -1);
  EXPECT_EQ(NextError().first,
            ERR_PACK(ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED));
  EXPECT_EQ(NextError(),
            std::make_pair(ERR_PACK(ERR_LIB_CONF, CONF_F_MODULE_LOAD_DSO, CONF_R_ERROR_LOADING_DSO),
                           std::string("module=xyz, path=/lib/xyz.so")));
  EXPECT_EQ(NextError().first,
            ERR_PACK(ERR_LIB_CONF, CONF_F_MODULE_RUN, CONF_R_UNKNOWN_MODULE_NAME));
  EXPECT_EQ(ERR_peek_error(), 0UL);

  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, CONF_MFLAGS_SILENT | CONF_MFLAGS_NO_DSO), -1);
  EXPECT_EQ(ERR_peek_error(), 0UL);
}

TEST_F(ConfModules, PathDefaultsToTheModuleName) {
  Config c("morvane_conf = mods\n[mods]\nxyz = nosection\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), -1);
  NextError();
  EXPECT_EQ(NextError().second, "module=xyz, path=xyz");
}

TEST_F(ConfModules, FailedInitIsFinishedAndReported) {
  init_result = 0;
  Config c("morvane_conf = mods\n[mods]\ntest = a\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), -1);
  EXPECT_EQ(events, (std::vector<std::string>{"init test=a", "finish test"}));
  EXPECT_EQ(NextError(), std::make_pair(ERR_PACK(ERR_LIB_CONF, CONF_F_MODULE_RUN,
                                                 CONF_R_MODULE_INITIALIZATION_ERROR),
                                        std::string("module=test, value=a, retcode=-1      ")));
  CONF_modules_finish();  // the failed instance was not kept
  EXPECT_EQ(events.size(), 2u);
}

TEST_F(ConfModules, IgnoreErrorsGoesOn) {
  Config c("morvane_conf = mods\n[mods]\nxyz = a\ntest = b\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, CONF_MFLAGS_NO_DSO), -1);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, CONF_MFLAGS_NO_DSO | CONF_MFLAGS_IGNORE_ERRORS), 1);
  EXPECT_EQ(events, (std::vector<std::string>{"init test=b"}));
}

TEST_F(ConfModules, UnloadKeepsOrRemovesRegisteredModules) {
  Config c("morvane_conf = mods\n[mods]\ntest = a\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 1);
  CONF_modules_unload(0);  // finishes the instance, keeps the module
  EXPECT_EQ(events, (std::vector<std::string>{"init test=a", "finish test"}));
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 1);
  CONF_modules_unload(1);
  EXPECT_EQ(events.size(), 4u);
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, CONF_MFLAGS_NO_DSO), -1);
}

TEST_F(ConfModules, ModuleUserData) {
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
  Config c("morvane_conf = mods\n[mods]\nmine = a\n");
  EXPECT_EQ(CONF_modules_load(c.get(), nullptr, 0), 1);
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(CONF_module_get_usr_data(seen), &seen);
}

// ---- list splitting ------------------------------------------------------------

std::vector<std::string> Split(const char* list, int sep, int nospc, int stop_after = -1) {
  struct State {
    std::vector<std::string> out;
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
  using V = std::vector<std::string>;
  EXPECT_EQ(Split(" a , b ", ',', 1), (V{"a", "b", "=1"}));
  EXPECT_EQ(Split(" a , b ", ',', 0), (V{" a ", " b ", "=1"}));
  EXPECT_EQ(Split("a,,b", ',', 0), (V{"a", "<null>", "b", "=1"}));
  EXPECT_EQ(Split("a,", ',', 0), (V{"a", "<null>", "=1"}));
  EXPECT_EQ(Split("", ',', 0), (V{"<null>", "=1"}));
  EXPECT_EQ(Split("  ,x", ',', 1), (V{"<null>", "x", "=1"}));
  EXPECT_EQ(Split("a:b:c", ':', 0, 2), (V{"a", "b", "=0"}));
  EXPECT_EQ(Split("a b", '\0', 0), (V{"a b", "=1"}));  // no separator at all
  EXPECT_EQ(CONF_parse_list(nullptr, ',', 0, nullptr, nullptr), 0);
}

// ---- the default file ------------------------------------------------------------

TEST(ConfDefaultFile, NameFromTheEnvironmentOrTheDefaultDirectory) {
  unsetenv("MORVANE_CONF");
  char* f = CONF_get1_default_config_file();
  EXPECT_STREQ(f, "/usr/local/ssl/morvane.cnf");
  MORVANE_free(f);
  setenv("MORVANE_CONF", "/etc/mine.cnf", 1);
  f = CONF_get1_default_config_file();
  EXPECT_STREQ(f, "/etc/mine.cnf");
  MORVANE_free(f);
  unsetenv("MORVANE_CONF");
}

}  // namespace
