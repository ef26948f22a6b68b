// The "oid_section" configuration module: objects made from a section's
// lines, the lines it refuses, and its finish removing what was added.  The
// object database is process-wide: each test runs in its own process.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "test_support.h"

namespace {

// Runs the module over `lines` as its section; the module list's result.
int RunOids(const std::string& lines) {
  const std::string text = "morvane_conf = m\n[m]\noid_section = oids\n[oids]\n" + lines;
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  EXPECT_EQ(1, NCONF_load_bio(conf, in, nullptr));
  BIO_free(in);
  ASN1_add_oid_module();
  const int rc = CONF_modules_load(conf, nullptr, CONF_MFLAGS_NO_DSO);
  NCONF_free(conf);
  return rc;
}

std::string Dotted(int nid) {
  char buf[64];
  OBJ_obj2txt(buf, sizeof buf, OBJ_nid2obj(nid), 1);
  return buf;
}

TEST(OidModule, LinesMakeObjects) {
  ASSERT_EQ(1, RunOids("shortName = 1.2.3.4\n"
                       "other = Some Long Name , 1.2.3.5\n"
                       "commas = A, B,  1.2.3.6\n"));
  EXPECT_ERRORS({});
  const int a = OBJ_sn2nid("shortName");
  ASSERT_NE(0, a);
  EXPECT_STREQ("shortName", OBJ_nid2ln(a));
  EXPECT_EQ("1.2.3.4", Dotted(a));
  const int b = OBJ_sn2nid("other");
  ASSERT_NE(0, b);
  EXPECT_STREQ("Some Long Name", OBJ_nid2ln(b));
  EXPECT_EQ(b, OBJ_txt2nid("1.2.3.5"));
  EXPECT_EQ(b, OBJ_ln2nid("Some Long Name"));
  const int c = OBJ_sn2nid("commas");
  EXPECT_STREQ("A, B", OBJ_nid2ln(c));
  EXPECT_EQ("1.2.3.6", Dotted(c));
  // Finishing the module removes them.
  CONF_modules_finish();
  EXPECT_EQ(0, OBJ_sn2nid("shortName"));
  EXPECT_EQ(0, OBJ_txt2nid("1.2.3.5"));
}

TEST(OidModule, RefusedLines) {
  const char* const lines[] = {
      "x = Name ,   \n",     // no OID after the comma
      "y =  , 1.2.3.7\n",    // a blank long name
      "z = not an oid\n",    // no dotted OID
      "w = Long, 2.x\n",     // a malformed OID after the comma
  };
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(-1, RunOids(std::string("first = 1.2.3.8\n") + line + "last = 1.2.3.9\n"));
    const std::string queue = morvane_test::DrainErrors();
    EXPECT_NE(std::string::npos, queue.find("func 174 (no text), reason 171")) << queue;
    // The module stops at the failing line, and the finish that follows a
    // failed start removes what it had added.
    EXPECT_EQ(0, OBJ_sn2nid("first"));
    EXPECT_EQ(0, OBJ_sn2nid("last"));
  }
}

TEST(OidModule, MissingSection) {
  CONF* conf = NCONF_new(nullptr);
  const char text[] = "morvane_conf = m\n[m]\noid_section = nowhere\n";
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text), -1);
  ASSERT_EQ(1, NCONF_load_bio(conf, in, nullptr));
  BIO_free(in);
  ASN1_add_oid_module();
  EXPECT_EQ(-1, CONF_modules_load(conf, nullptr, CONF_MFLAGS_NO_DSO));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_OID_MODULE_INIT, ASN1_R_ERROR_LOADING_SECTION},
                 {ERR_LIB_CONF, CONF_F_MODULE_RUN, CONF_R_MODULE_INITIALIZATION_ERROR}});
  NCONF_free(conf);
}

}  // namespace
