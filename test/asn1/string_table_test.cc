// The string rules by NID and the default mask, over the cases of
// test/data/asn1/string_rules.txt: the built-in rules, strings made by them,
// the mask's text forms, rules added and changed at run time.  Rules and mask
// are process-wide; each test runs in its own process.

#include <stdlib.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

const std::string kFile = morvane_test::TestDataFile("asn1/string_rules.txt");

ASN1_STRING* ByNid(int nid, const std::string& text) {
  return ASN1_STRING_set_by_NID(nullptr, reinterpret_cast<const unsigned char*>(text.data()),
                                static_cast<int>(text.size()), ASN1_MB_UTF8, nid);
}

int TypeByNid(int nid, const std::string& text) {
  ASN1_STRING* s = ByNid(nid, text);
  const int type = s == nullptr ? -1 : s->type;
  ASN1_STRING_free(s);
  ERR_clear_error();
  return type;
}

TEST(Asn1StringTable, BuiltInRules) {
  int rows = 0;
  for (const auto& r : morvane_test::ReadRsp(kFile)) {
    if (r.section.count("RULES") == 0) continue;
    const int nid = atoi(r.Get("nid").c_str());
    SCOPED_TRACE(nid);
    const ASN1_STRING_TABLE* t = ASN1_STRING_TABLE_get(nid);
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(nid, t->nid);
    EXPECT_EQ(atol(r.Get("minsize").c_str()), t->minsize);
    EXPECT_EQ(atol(r.Get("maxsize").c_str()), t->maxsize);
    EXPECT_EQ(strtoul(r.Get("mask").c_str(), nullptr, 16), t->mask);
    EXPECT_EQ(strtoul(r.Get("flags").c_str(), nullptr, 0), t->flags);
    rows++;
  }
  EXPECT_EQ(19, rows);
  for (int nid : {0, 12, 19, 392, 418}) EXPECT_EQ(nullptr, ASN1_STRING_TABLE_get(nid));
  for (const auto& r : morvane_test::ReadTableRows(kFile, "BY_NID")) {
    EXPECT_EQ(atoi(r[3].c_str()), TypeByNid(atoi(r[1].c_str()), r[2])) << r[0];
  }
  // Into the caller's string.
  ASN1_STRING* mine = ASN1_STRING_new();
  EXPECT_EQ(mine, ASN1_STRING_set_by_NID(&mine, reinterpret_cast<const unsigned char*>("XY"), 2,
                                         ASN1_MB_ASCII, 14));
  EXPECT_EQ(19, mine->type);
  ASN1_STRING_free(mine);
}

// The default mask narrows every rule without ASN1_STABLE_NO_MASK (and the
// directory-string mask used without a rule); the country rule keeps exactly
// two printable characters whatever it holds.
TEST(Asn1StringTable, DefaultMask) {
  for (const auto& r : morvane_test::ReadTableRows(kFile, "MASK_TEXT")) {
    EXPECT_EQ(atoi(r[2].c_str()), ASN1_STRING_set_default_mask_asc(r[1].c_str())) << r[0];
    EXPECT_EQ(strtoul(r[3].c_str(), nullptr, 16), ASN1_STRING_get_default_mask()) << r[0];
  }
  EXPECT_EQ(0, ASN1_STRING_set_default_mask_asc(nullptr));
  ASN1_STRING_set_default_mask(ASN1_MASK_UTF8STRING);
  EXPECT_EQ(12, TypeByNid(13, "Test CA"));
  EXPECT_EQ(12, TypeByNid(12345, "free text"));
  for (unsigned long mask : {0x2000UL, 0UL, 0xFFFFFFFFUL}) {
    ASN1_STRING_set_default_mask(mask);
    EXPECT_EQ(19, TypeByNid(14, "DE"));
    EXPECT_EQ(-1, TypeByNid(14, "D"));
    EXPECT_EQ(-1, TypeByNid(14, "DEU"));
  }
  ASN1_STRING_set_default_mask(ASN1_MASK_PRINTABLESTRING);
  EXPECT_EQ(nullptr, ByNid(13, "a*b"));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_MBSTRING_NCOPY, ASN1_R_ILLEGAL_CHARACTERS}});
}

// Adding a rule for a built-in NID edits that row for the process (cleanup
// leaves it); a new NID gets an allocated rule, without bounds unless given,
// that cleanup frees.
TEST(Asn1StringTable, AddChangesOrCreatesRules) {
  ASN1_STRING_TABLE* cn = ASN1_STRING_TABLE_get(13);
  ASSERT_EQ(1, ASN1_STRING_TABLE_add(13, -1, 5, ASN1_MASK_IA5STRING,
                                     ASN1_STABLE_NO_MASK | ASN1_STABLE_FLAGS_MALLOC));
  EXPECT_EQ(cn, ASN1_STRING_TABLE_get(13));
  EXPECT_EQ(1, cn->minsize);
  EXPECT_EQ(5, cn->maxsize);
  EXPECT_EQ(ASN1_MASK_IA5STRING, cn->mask);
  EXPECT_EQ(static_cast<unsigned long>(ASN1_STABLE_NO_MASK), cn->flags);
  EXPECT_EQ(-1, TypeByNid(13, "toolong"));

  ASSERT_EQ(1, ASN1_STRING_TABLE_add(5000, -1, -1, ASN1_MASK_BMPSTRING, 0));
  ASSERT_EQ(1, ASN1_STRING_TABLE_add(4000, 3, 4, ASN1_MASK_PRINTABLESTRING, 0));
  ASN1_STRING_TABLE* t = ASN1_STRING_TABLE_get(5000);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(-1, t->minsize);
  EXPECT_EQ(-1, t->maxsize);
  EXPECT_EQ(static_cast<unsigned long>(ASN1_STABLE_FLAGS_MALLOC), t->flags);
  EXPECT_EQ(30, TypeByNid(5000, "x"));
  ASSERT_EQ(1, ASN1_STRING_TABLE_add(5000, 2, -1, ASN1_MASK_UTF8STRING, ASN1_STABLE_NO_MASK));
  EXPECT_EQ(t, ASN1_STRING_TABLE_get(5000));
  EXPECT_EQ(2, t->minsize);
  EXPECT_EQ(static_cast<unsigned long>(ASN1_STABLE_FLAGS_MALLOC | ASN1_STABLE_NO_MASK), t->flags);
  EXPECT_EQ(-1, TypeByNid(4000, "ab"));

  ASN1_STRING_TABLE_cleanup();
  EXPECT_EQ(nullptr, ASN1_STRING_TABLE_get(5000));
  EXPECT_EQ(nullptr, ASN1_STRING_TABLE_get(4000));
  EXPECT_EQ(5, ASN1_STRING_TABLE_get(13)->maxsize);
  ASN1_STRING_TABLE_cleanup();
  ASSERT_EQ(1, ASN1_STRING_TABLE_add(5000, 1, 1, ASN1_MASK_BMPSTRING, 0));
  EXPECT_NE(nullptr, ASN1_STRING_TABLE_get(5000));
  ASN1_STRING_TABLE_cleanup();
}

// A rule that cannot be stored is not reported as added: each allocation of
// an add fails in turn, first while the stack of added rules is created, then
// when it grows (its fourth element fills the four slots it starts with).
TEST(Asn1StringTable, AddFailsCleanly) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  auto try_add = [](int nid, long fail_at) {
    morvane_test::FailAllocationAfter(fail_at);
    const int ret = ASN1_STRING_TABLE_add(nid, 1, 2, ASN1_MASK_PRINTABLESTRING, 0);
    morvane_test::FailAllocationAfter(0);
    EXPECT_EQ(ret == 1, ASN1_STRING_TABLE_get(nid) != nullptr) << nid << " " << fail_at;
    EXPECT_TRUE(morvane_test::ErrorsAre(
        ret == 1 ? std::vector<morvane_test::ErrEntry>{}
                 : std::vector<morvane_test::ErrEntry>{
                       {ERR_LIB_ASN1, ASN1_F_ASN1_STRING_TABLE_ADD, ERR_R_MALLOC_FAILURE}}));
    return ret;
  };
  for (long n = 1; n <= 3; n++) {
    EXPECT_EQ(0, try_add(6000, n));
    ASN1_STRING_TABLE_cleanup();
  }
  for (int nid = 7001; nid <= 7003; nid++) ASSERT_EQ(1, try_add(nid, 0));
  EXPECT_EQ(0, try_add(7004, 1));  // the rule itself
  EXPECT_EQ(0, try_add(7004, 2));  // the stack's growth
  EXPECT_EQ(1, try_add(7004, 0));
  ASN1_STRING_TABLE_cleanup();
}

}  // namespace
