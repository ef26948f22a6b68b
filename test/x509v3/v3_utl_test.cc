// Reading configuration values as booleans.

#include <gtest/gtest.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

#include <cstring>

#include "test_support.h"

namespace {

TEST(X509v3Bool, WordsAndTheirValues) {
  char section[] = "sect", name[] = "flag";
  for (const char* word :
       {"TRUE", "true", "Y", "y", "YES", "yes", "FALSE", "false", "N", "n", "NO", "no"}) {
    CONF_VALUE v = {section, name, const_cast<char*>(word)};
    int b = -1;
    EXPECT_EQ(X509V3_get_value_bool(&v, &b), 1) << word;
    EXPECT_EQ(b, strchr("TtYy", word[0]) != nullptr ? 255 : 0) << word;
  }
  EXPECT_ERRORS({});
}

TEST(X509v3Bool, OtherTextsAreRefusedWithTheirPlace) {
  char section[] = "sect", name[] = "flag", value[] = "Yes";
  CONF_VALUE v = {section, name, value};
  int b = -1;
  EXPECT_EQ(X509V3_get_value_bool(&v, &b), 0);
  EXPECT_EQ(b, -1);
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING,
                  "section:sect,name:flag,value:Yes"}});
  CONF_VALUE none = {section, name, nullptr};
  EXPECT_EQ(X509V3_get_value_bool(&none, &b), 0);
}

}  // namespace
