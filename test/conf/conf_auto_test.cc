// Automatic configuration and the built-in modules: the default file (from
// MORVANE_CONF here), a missing file, the application's section,
// MORVANE_no_config, the process ending on a bad file or a failing module,
// and the rules of "alg_section", "engines" and "oid_section".

#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

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

namespace {

// A configuration file that lives as long as the object.
class ConfigFile {
 public:
  explicit ConfigFile(const std::string& text) {
    const char* dir = getenv("TMPDIR");
    path_ = std::string(dir != nullptr ? dir : "/tmp") + "/morvane_conf_XXXXXX";
    const int fd = mkstemp(path_.data());
    EXPECT_GE(fd, 0);
    EXPECT_EQ(write(fd, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    close(fd);
  }
  ~ConfigFile() { unlink(path_.c_str()); }
  const char* path() const { return path_.c_str(); }

 private:
  std::string path_;
};

int test_inits = 0;
int CountInit(CONF_IMODULE*, const CONF*) {
  return ++test_inits;
}

class AutoConfig : public ::testing::Test {
 protected:
  void SetUp() override {
    test_inits = 0;
    ERR_clear_error();
  }
  void TearDown() override {
    CONF_modules_free();
    unsetenv("MORVANE_CONF");
    ERR_clear_error();
  }
};

TEST_F(AutoConfig, MissingDefaultFileIsNoError) {
  setenv("MORVANE_CONF", "/nonexistent/morvane.cnf", 1);
  MORVANE_config(nullptr);
  EXPECT_EQ(ERR_peek_error(), 0UL);
}

TEST_F(AutoConfig, RunsTheDefaultFilesModules) {
  ASSERT_EQ(CONF_module_add("counter", CountInit, nullptr), 1);
  ConfigFile f(
      "morvane_conf = mods\n[mods]\ncounter = x\nalg_section = algs\n"
      "[algs]\nfips_mode = no\n");
  setenv("MORVANE_CONF", f.path(), 1);
  MORVANE_config(nullptr);
  EXPECT_EQ(test_inits, 1);
  EXPECT_EQ(ERR_peek_error(), 0UL);
  // The mark is not set by MORVANE_config itself: a second call loads again.
  MORVANE_config(nullptr);
  EXPECT_EQ(test_inits, 2);
}

TEST_F(AutoConfig, ApplicationSectionFallsBackToTheDefaultList) {
  ASSERT_EQ(CONF_module_add("counter", CountInit, nullptr), 1);
  ConfigFile f(
      "morvane_conf = mods\nmyapp = appmods\n[mods]\ncounter = x\n"
      "[appmods]\ncounter.1 = y\ncounter.2 = z\n");
  setenv("MORVANE_CONF", f.path(), 1);
  MORVANE_config("myapp");
  EXPECT_EQ(test_inits, 2);
  MORVANE_config("otherapp");
  EXPECT_EQ(test_inits, 3);
}

TEST_F(AutoConfig, NoConfigTurnsItOff) {
  ConfigFile f("[unclosed\n");
  setenv("MORVANE_CONF", f.path(), 1);
  MORVANE_no_config();
  MORVANE_config(nullptr);  // would end the process otherwise
  SUCCEED();
}

using AutoConfigDeathTest = AutoConfig;

TEST_F(AutoConfigDeathTest, UnreadableFileEndsTheProcess) {
  ConfigFile f("morvane_conf = mods\n[unclosed\n");
  setenv("MORVANE_CONF", f.path(), 1);
  EXPECT_EXIT(MORVANE_config(nullptr), ::testing::ExitedWithCode(1),
              "^Auto configuration failed\n[0-9]+:error:0E079064:configuration file routines:"
              "DEF_LOAD_BIO:missing close square bracket:[^\n]*:line 2\n$");
}

TEST_F(AutoConfigDeathTest, FailingModuleEndsTheProcess) {
  ConfigFile f("morvane_conf = mods\n[mods]\nalg_section = algs\n[algs]\nfips_mode = yes\n");
  setenv("MORVANE_CONF", f.path(), 1);
  EXPECT_EXIT(MORVANE_config(nullptr), ::testing::ExitedWithCode(1),
              "^Auto configuration failed\n"
              "[0-9]+:error:0608A093:digital envelope routines:ALG_MODULE_INIT:"
              "fips mode not supported:[^\n]*\n"
              "[0-9]+:error:0E07606D:configuration file routines:MODULE_RUN:"
              "module initialization error:[^\n]*:module=alg_section, value=algs, "
              "retcode=-1      \n$");
}

TEST_F(AutoConfigDeathTest, UnknownModuleEndsTheProcess) {
  ConfigFile f("morvane_conf = mods\n[mods]\nnosuch = x\n");
  setenv("MORVANE_CONF", f.path(), 1);
  EXPECT_EXIT(MORVANE_config(nullptr), ::testing::ExitedWithCode(1),
              "^Auto configuration failed\n.*DSO support routines:DSO_load:"
              "functionality not supported.*MODULE_LOAD_DSO:error loading dso:[^\n]*:"
              "module=nosuch, path=nosuch\n.*MODULE_RUN:unknown module name:[^\n]*:"
              "module=nosuch\n$");
}

// ---- the built-in modules ----------------------------------------------------

class BuiltinModules : public AutoConfig {
 protected:
  void SetUp() override {
    AutoConfig::SetUp();
    MORVANE_load_builtin_modules();
  }
  // Runs the module list of `text` with the built-in modules.
  int Run(const std::string& text) {
    CONF* conf = NCONF_new(nullptr);
    BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
    EXPECT_EQ(NCONF_load_bio(conf, in, nullptr), 1);
    BIO_free(in);
    const int r = CONF_modules_load(conf, nullptr, CONF_MFLAGS_NO_DSO);
    NCONF_free(conf);
    return r;
  }
  // The queued errors, oldest first, as "code data".
  static std::vector<std::string> Errors() {
    std::vector<std::string> out;
    const char* data;
    int flags;
    while (unsigned long e = ERR_get_error_line_data(nullptr, nullptr, &data, &flags)) {
      char hex[24];
      snprintf(hex, sizeof(hex), "%08lX", e);
      out.push_back(std::string(hex) + ((flags & ERR_TXT_STRING) && *data ? " " : "") +
                    ((flags & ERR_TXT_STRING) ? data : ""));
    }
    return out;
  }
  static std::string Code(int lib, int func, int reason) {
    char hex[24];
    snprintf(hex, sizeof(hex), "%08lX", ERR_PACK(lib, func, reason));
    return hex;
  }
};

using V = std::vector<std::string>;

TEST_F(BuiltinModules, AlgSectionAcceptsFipsModeOffAndReportsUnknownNames) {
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nalg_section = algs\n[algs]\nfips_mode = no\n"
                "colour = blue\n"),
            1);
  EXPECT_EQ(Errors(), (V{Code(ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_UNKNOWN_OPTION) +
                         " name=colour, value=blue"}));
}

TEST_F(BuiltinModules, AlgSectionRefusesFipsMode) {
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nalg_section = algs\n[algs]\nfips_mode = YES\n"), -1);
  const V errors = Errors();
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_EQ(errors[0], Code(ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_FIPS_MODE_NOT_SUPPORTED));

  EXPECT_EQ(Run("morvane_conf = m\n[m]\nalg_section = algs\n[algs]\nfips_mode = maybe\n"), -1);
  EXPECT_EQ(
      Errors(),
      (V{Code(ERR_LIB_X509V3, X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING) +
             " section:algs,name:fips_mode,value:maybe",
         Code(ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_INVALID_FIPS_MODE),
         Code(ERR_LIB_CONF, CONF_F_MODULE_RUN, CONF_R_MODULE_INITIALIZATION_ERROR) +
             " module=alg_section, value=algs, retcode=-1      "}));

  EXPECT_EQ(Run("morvane_conf = m\n[m]\nalg_section = nowhere\n"), -1);
  EXPECT_EQ(Errors()[0], Code(ERR_LIB_EVP, EVP_F_ALG_MODULE_INIT, EVP_R_ERROR_LOADING_SECTION));
}

TEST_F(BuiltinModules, EnginesThatCannotBeFound) {
  // No engine is available: a soft-loaded engine is passed over silently.
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = foo_s\n"
                "[foo_s]\nsoft_load = 1\ndefault_algorithms = ALL\n"),
            1);
  EXPECT_TRUE(Errors().empty());

  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nx.foo = foo_s\n"
                "[foo_s]\nengine_id = bar\ndefault_algorithms = ALL\n"),
            -1);
  const V errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0],
            Code(ERR_LIB_ENGINE, ENGINE_F_ENGINE_BY_ID, ENGINE_R_NO_SUCH_ENGINE) + " id=bar");
  EXPECT_EQ(errors[1], Code(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE,
                            ENGINE_R_ENGINE_CONFIGURATION_ERROR) +
                           " section=foo_s, name=default_algorithms, value=ALL");
}

TEST_F(BuiltinModules, EnginesFromSharedObjectsAndMissingSections) {
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = foo_s\n"
                "[foo_s]\ndynamic_path = /lib/foo.so\n"),
            -1);
  V errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0], Code(ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED));
  EXPECT_EQ(errors[1], Code(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE,
                            ENGINE_R_ENGINE_CONFIGURATION_ERROR) +
                           " section=foo_s, name=dynamic_path, value=/lib/foo.so");

  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\nfoo = nowhere\n"), -1);
  errors = Errors();
  ASSERT_EQ(errors.size(), 3u);
  EXPECT_EQ(errors[0],
            Code(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE, ENGINE_R_ENGINE_SECTION_ERROR));
  EXPECT_EQ(errors[1], Code(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_CONFIGURE,
                            ENGINE_R_ENGINE_CONFIGURATION_ERROR));

  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = nowhere\n"), -1);
  EXPECT_EQ(Errors()[0],
            Code(ERR_LIB_ENGINE, ENGINE_F_INT_ENGINE_MODULE_INIT, ENGINE_R_ENGINES_SECTION_ERROR));
  EXPECT_EQ(Run("morvane_conf = m\n[m]\nengines = eng\n[eng]\n"), 1);
}

TEST_F(BuiltinModules, OidSection) {
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = oids\n[oids]\n"), 1);
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = nowhere\n"), -1);
  EXPECT_EQ(Errors()[0], Code(ERR_LIB_ASN1, ASN1_F_OID_MODULE_INIT, ASN1_R_ERROR_LOADING_SECTION));
  // Objects cannot be added to the object database yet.
  EXPECT_EQ(Run("morvane_conf = m\n[m]\noid_section = oids\n[oids]\nmyOID = 1.2.3.4\n"), -1);
  EXPECT_EQ(Errors()[0], Code(ERR_LIB_ASN1, ASN1_F_OID_MODULE_INIT, ASN1_R_ADDING_OBJECT));
}

}  // namespace
