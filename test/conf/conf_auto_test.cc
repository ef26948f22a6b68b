// Automatic configuration and the built-in modules: the default file (from
// MORVANE_CONF here), a missing file, the application's section,
// MORVANE_no_config, the process ending on a bad file or a failing module,
// and the rules of "alg_section", "engines" and "oid_section".

#include <stdlib.h>

#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/dso.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509v3.h>

#include "conf_test_util.h"
#include "test_support.h"

namespace {

// A configuration file holding `text`, named by MORVANE_CONF while it lives.
class ConfigFile {
 public:
  explicit ConfigFile(const std::string& text) {
    morvane_test::WriteFile(file_.path(), text);
    setenv("MORVANE_CONF", file_.c_str(), 1);
  }
  ~ConfigFile() { unsetenv("MORVANE_CONF"); }

 private:
  morvane_test::TempPath file_;
};

int test_inits = 0;
int CountInit(CONF_IMODULE*, const CONF*) {
  return ++test_inits;
}

class AutoConfig : public ::testing::Test {
 protected:
  void TearDown() override { CONF_modules_free(); }
};

TEST_F(AutoConfig, MissingDefaultFileIsNoError) {
  setenv("MORVANE_CONF", "/nonexistent/morvane.cnf", 1);
  MORVANE_config(nullptr);
  EXPECT_ERRORS({});
  // Nor does it take the caller's own entries or mark with it.
  EXPECT_TRUE(morvane_test::KeepsCallersMark([] {
    MORVANE_config(nullptr);
    return true;
  }));
  unsetenv("MORVANE_CONF");
}

// The default file's list runs (again at each call: MORVANE_config sets no
// mark itself); an application's section replaces it, an unknown one falls
// back to it.
TEST_F(AutoConfig, RunsTheDefaultFilesModules) {
  ASSERT_EQ(CONF_module_add("counter", CountInit, nullptr), 1);
  ConfigFile f(
      "morvane_conf = mods\nmyapp = appmods\n[mods]\ncounter = x\nalg_section = algs\n"
      "[algs]\nfips_mode = no\n[appmods]\ncounter.1 = y\ncounter.2 = z\n");
  MORVANE_config(nullptr);
  EXPECT_EQ(test_inits, 1);
  EXPECT_ERRORS({});
  MORVANE_config(nullptr);
  EXPECT_EQ(test_inits, 2);
  MORVANE_config("myapp");
  EXPECT_EQ(test_inits, 4);
  MORVANE_config("otherapp");
  EXPECT_EQ(test_inits, 5);
}

TEST_F(AutoConfig, NoConfigTurnsItOff) {
  ConfigFile f("[unclosed\n");
  MORVANE_no_config();
  MORVANE_config(nullptr);  // would end the process otherwise
  SUCCEED();
}

using AutoConfigDeathTest = AutoConfig;

// A bad file, a failing module, an unknown module and a file that cannot be
// read each end the process with the queued errors printed.
TEST_F(AutoConfigDeathTest, FailuresEndTheProcess) {
  const struct {
    const char *text, *printed;
  } kCases[] = {
      {"morvane_conf = mods\n[unclosed\n",
       "^Auto configuration failed\n[0-9]+:error:0E079064:configuration file routines:"
       "DEF_LOAD_BIO:missing close square bracket:[^\n]*:line 2\n$"},
      {"morvane_conf = mods\n[mods]\nalg_section = algs\n[algs]\nfips_mode = yes\n",
       "^Auto configuration failed\n"
       "[0-9]+:error:0608A093:digital envelope routines:ALG_MODULE_INIT:"
       "fips mode not supported:[^\n]*\n"
       "[0-9]+:error:0E07606D:configuration file routines:MODULE_RUN:"
       "module initialization error:[^\n]*:module=alg_section, value=algs, retcode=-1      \n$"},
      {"morvane_conf = mods\n[mods]\nnosuch = x\n",
       "^Auto configuration failed\n.*DSO support routines:DSO_load:"
       "functionality not supported.*MODULE_LOAD_DSO:error loading dso:[^\n]*:"
       "module=nosuch, path=nosuch\n.*MODULE_RUN:unknown module name:[^\n]*:module=nosuch\n$"},
  };
  for (const auto& c : kCases) {
    ConfigFile f(c.text);
    EXPECT_EXIT(MORVANE_config(nullptr), ::testing::ExitedWithCode(1), c.printed);
  }
  // A file that cannot be read is no missing file.
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  setenv("MORVANE_CONF", dir.c_str(), 1);
  EXPECT_EXIT(MORVANE_config(nullptr), ::testing::ExitedWithCode(1),
              "^Auto configuration failed\n.*fread.*\n.*DEF_LOAD_BIO:read error:[^\n]*:line 1\n$");
  unsetenv("MORVANE_CONF");
}

// ---- the built-in modules ----------------------------------------------------

class BuiltinModules : public AutoConfig {
 protected:
  void SetUp() override {
    AutoConfig::SetUp();
    MORVANE_load_builtin_modules();
  }
  // Runs the module list of `text` with the built-in modules.
  static int Run(const std::string& text) {
    return CONF_modules_load(conf_test::ConfFrom(text).get(), nullptr, CONF_MFLAGS_NO_DSO);
  }
};

constexpr morvane_test::ErrEntry kModuleRunError = {ERR_LIB_CONF, CONF_F_MODULE_RUN,
                                                    CONF_R_MODULE_INITIALIZATION_ERROR};

TEST_F(BuiltinModules, AlgSection) {
  const std::string head = "morvane_conf = m\n[m]\nalg_section = algs\n[algs]\nfips_mode = ";
  EXPECT_EQ(Run(head + "no\ncolour = blue\n"), 1);
  EXPECT_ERRORS(
      {{ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_UNKNOWN_OPTION, "name=colour, value=blue"}});
  EXPECT_EQ(Run(head + "YES\n"), -1);
  EXPECT_ERRORS(
      {{ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_FIPS_MODE_NOT_SUPPORTED}, kModuleRunError});
  EXPECT_EQ(Run(head + "maybe\n"), -1);
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING,
                  "section:algs,name:fips_mode,value:maybe"},
                 {ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_INVALID_FIPS_MODE},
                 {ERR_LIB_CONF, CONF_F_MODULE_RUN, CONF_R_MODULE_INITIALIZATION_ERROR,
                  "module=alg_section, value=algs, retcode=-1      "}});
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nalg_section = nowhere\n"), -1);
  EXPECT_ERRORS(
      {{ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_ERROR_LOADING_SECTION}, kModuleRunError});
}

TEST_F(BuiltinModules, EnginesThatCannotBeFound) {
  const morvane_test::ErrEntry kConfigError = {ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE,
                                               ENGINE_R_ENGINE_CONFIGURATION_ERROR};
  // No engine is available: a soft-loaded engine is passed over silently.
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = foo_s\n"
                "[foo_s]\nsoft_load = 1\ndefault_algorithms = ALL\n"),
            1);
  EXPECT_ERRORS({});
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nx.foo = foo_s\n"
                "[foo_s]\nengine_id = bar\ndefault_algorithms = ALL\n"),
            -1);
  // The loader "dynamic" is not listed: its own lookup fails first.
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE, "id=dynamic"},
                 {ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE, "id=bar"},
                 {kConfigError.lib, kConfigError.func, kConfigError.reason,
                  "section=foo_s, name=default_algorithms, value=ALL"},
                 kModuleRunError});
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = foo_s\n"
                "[foo_s]\ndynamic_path = /lib/foo.so\n"),
            -1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE, "id=dynamic"},
                 {kConfigError.lib, kConfigError.func, kConfigError.reason,
                  "section=foo_s, name=dynamic_path, value=/lib/foo.so"},
                 kModuleRunError});
  // With the loader listed, loading from the shared object fails.
  ENGINE_load_dynamic();
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = foo_s\n"
                "[foo_s]\ndynamic_path = /lib/foo.so\n"),
            -1);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED},
                 {ERR_LIB_ENGINE, ENGINE_F_DYNAMIC_LOAD, ENGINE_R_DSO_NOT_FOUND},
                 {kConfigError.lib, kConfigError.func, kConfigError.reason,
                  "section=foo_s, name=dynamic_path, value=/lib/foo.so"},
                 kModuleRunError});
  ENGINE_cleanup();
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = nowhere\n"), -1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_SECTION_ERROR},
                 kConfigError,
                 kModuleRunError});
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = nowhere\n"), -1);
  EXPECT_ERRORS({{ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_MODULE_INIT, ENGINE_R_ENGINES_SECTION_ERROR},
                 kModuleRunError});
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\n"), 1);
}

TEST_F(BuiltinModules, OidSection) {
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = oids\n[oids]\n"), 1);
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = nowhere\n"), -1);
  EXPECT_ERRORS(
      {{ERR_LIB_ASN1, ASN1_F_OID_MODULE_INIT, ASN1_R_ERROR_LOADING_SECTION}, kModuleRunError});
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = oids\n[oids]\nmyOID = 1.2.3.4\n"), 1);
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = oids\n[oids]\nbad = 1.x\n"), -1);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_INVALID_DIGIT},
                 {ERR_LIB_ASN1, ASN1_F_OID_MODULE_INIT, ASN1_R_ADDING_OBJECT},
                 kModuleRunError});
}

}  // namespace
