// Shared-object handles with the null method, the only one in this build
// (loading and binding fail cleanly and leave nothing behind), and with a
// method of the test's own for what a loader would do.

#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

TEST(Dso, FailuresReportOneErrorEach) {
  // The handle made for the load is freed quietly: one entry only.
  EXPECT_EQ(DSO_load(nullptr, "x", nullptr, 0), nullptr);
  EXPECT_EQ(ERR_peek_last_error(), 0x2507006Cu);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED}});
  EXPECT_EQ(DSO_load(nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_NO_FILENAME}});
  EXPECT_EQ(DSO_bind_func(nullptr, "MORVANE_init"), nullptr);
  EXPECT_EQ(DSO_free(nullptr), 0);
  EXPECT_EQ(DSO_ctrl(nullptr, DSO_CTRL_GET_FLAGS, 0, nullptr), -1);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_BIND_FUNC, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_DSO, DSO_F_DSO_FREE, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_DSO, DSO_F_DSO_CTRL, ERR_R_PASSED_NULL_PARAMETER}});
}

TEST(Dso, TheNullMethodNamesButNeverLoads) {
  EXPECT_EQ(DSO_METHOD_morvane(), DSO_METHOD_null());
  EXPECT_STREQ(DSO_METHOD_null()->name, "NULL shared library method");
  EXPECT_EQ(DSO_METHOD_dlfcn(), nullptr);
  DSO* dso = DSO_new();
  ASSERT_NE(dso, nullptr);
  EXPECT_EQ(DSO_get_method(dso), DSO_METHOD_null());
  // A handle given by the caller keeps its new name after a failed load.
  EXPECT_EQ(DSO_load(dso, "libx.so", nullptr, 0), nullptr);
  EXPECT_STREQ(DSO_get_filename(dso), "libx.so");
  EXPECT_EQ(DSO_load(dso, "liby.so", nullptr, 0), nullptr);
  EXPECT_EQ(DSO_bind_func(dso, "f"), nullptr);
  EXPECT_EQ(DSO_bind_var(dso, "v"), nullptr);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_FUNCTIONALITY_NOT_SUPPORTED},
                 {ERR_LIB_DSO, DSO_F_DSO_LOAD, DSO_R_DSO_ALREADY_LOADED},
                 {ERR_LIB_DSO, DSO_F_DSO_BIND_FUNC, DSO_R_FUNCTIONALITY_NOT_SUPPORTED},
                 {ERR_LIB_DSO, DSO_F_DSO_BIND_VAR, DSO_R_FUNCTIONALITY_NOT_SUPPORTED}});
  char* name = DSO_convert_filename(dso, nullptr);
  EXPECT_STREQ(name, "libx.so");
  CRYPTO_free(name);
  EXPECT_EQ(DSO_merge(dso, nullptr, "/lib"), nullptr);
  EXPECT_ERRORS({});
  EXPECT_EQ(DSO_free(dso), 1);
}

TEST(Dso, FlagsAndReferences) {
  DSO* dso = DSO_new();
  ASSERT_NE(dso, nullptr);
  EXPECT_EQ(DSO_ctrl(dso, DSO_CTRL_SET_FLAGS, 4, nullptr), 0);
  EXPECT_EQ(DSO_ctrl(dso, DSO_CTRL_OR_FLAGS, 1, nullptr), 0);
  EXPECT_EQ(DSO_flags(dso), 5);
  EXPECT_EQ(DSO_ctrl(dso, DSO_CTRL_GET_FLAGS, 0, nullptr), 5);
  EXPECT_EQ(DSO_ctrl(dso, 9, 0, nullptr), -1);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_CTRL, DSO_R_FUNCTIONALITY_NOT_SUPPORTED}});
  char* name = DSO_convert_filename(dso, "a");  // no translation with flag 1 either
  EXPECT_STREQ(name, "a");
  CRYPTO_free(name);
  EXPECT_EQ(DSO_merge(dso, nullptr, "/lib"), nullptr);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_MERGE, DSO_R_NO_FILE_SPECIFICATION}});
  EXPECT_EQ(DSO_up_ref(dso), 1);
  EXPECT_EQ(DSO_free(dso), 1);
  EXPECT_EQ(dso->references, 1);  // still alive: the second free frees it
  EXPECT_EQ(DSO_free(dso), 1);
}

// A loader of the test's own: it "loads" any name and converts names.
int TestLoad(DSO* dso) {
  dso->loaded_filename =
      static_cast<char*>(CRYPTO_malloc(strlen(dso->filename) + 1, __FILE__, __LINE__));
  strcpy(dso->loaded_filename, dso->filename);
  return 1;
}
char* TestConvert(DSO*, const char* name) {
  std::string s = std::string("lib") + name + ".so";
  char* p = static_cast<char*>(CRYPTO_malloc(static_cast<int>(s.size() + 1), __FILE__, __LINE__));
  memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

TEST(Dso, AMethodsLoadFixesTheName) {
  DSO_METHOD meth{};
  meth.name = "test";
  meth.dso_load = TestLoad;
  meth.dso_name_converter = TestConvert;
  DSO* dso = DSO_load(nullptr, "one", &meth, 0);
  ASSERT_NE(dso, nullptr);
  EXPECT_STREQ(DSO_get_loaded_filename(dso), "one");
  EXPECT_EQ(DSO_set_filename(dso, "two"), 0);
  EXPECT_ERRORS({{ERR_LIB_DSO, DSO_F_DSO_SET_FILENAME, DSO_R_DSO_ALREADY_LOADED}});
  char* name = DSO_convert_filename(dso, "z");
  EXPECT_STREQ(name, "libz.so");
  CRYPTO_free(name);
  DSO_ctrl(dso, DSO_CTRL_OR_FLAGS, DSO_FLAG_NO_NAME_TRANSLATION, nullptr);
  name = DSO_convert_filename(dso, "z");
  EXPECT_STREQ(name, "z");
  CRYPTO_free(name);
  EXPECT_EQ(DSO_free(dso), 1);
}

}  // namespace
