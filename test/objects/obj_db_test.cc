// The object database through the public API: every pinned object through
// the lookups in all directions, the text conversions, and the objects added
// at run time (process-wide: each test runs in its own process).

#include <climits>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include <string>
#include <vector>

#include "chunked_sources.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

std::string Field(const std::string& value, int i) {
  size_t pos = 0;
  for (; i > 0; i--) pos = value.find('|', pos) + 1;
  std::string part = value.substr(pos, value.find('|', pos) - pos);
  part.erase(0, part.find_first_not_of(' '));
  part.erase(part.find_last_not_of(' ') + 1);
  return part;
}

TEST(ObjDatabase, PinnedObjectsInAllDirections) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("objects/pinned.txt"));
  ASSERT_EQ(records.size(), 1u);
  for (const auto& [nid_text, value] : records[0].fields) {
    const int nid = std::stoi(nid_text);
    const std::string sn = Field(value, 0), ln = Field(value, 1), oid = Field(value, 2);
    SCOPED_TRACE(value);
    EXPECT_EQ(sn, OBJ_nid2sn(nid));
    if (sn != "NULL" && nid != 0) {
      EXPECT_EQ(nid, OBJ_sn2nid(sn.c_str()));
    }
    if (ln != "-") {
      EXPECT_EQ(ln, OBJ_nid2ln(nid));
      if (ln != "NULL" && nid != 0) {
        EXPECT_EQ(nid, OBJ_ln2nid(ln.c_str()));
      }
    }
    if (oid == "-" || oid == "0.0" || oid == "1.3") continue;  // shared contents
    char txt[100];
    EXPECT_EQ(static_cast<int>(oid.size()), OBJ_obj2txt(txt, sizeof txt, OBJ_nid2obj(nid), 1));
    EXPECT_EQ(oid, txt);
    ASN1_OBJECT* o = OBJ_txt2obj(oid.c_str(), 1);
    EXPECT_EQ(nid, OBJ_obj2nid(o));
    EXPECT_EQ(0, OBJ_cmp(o, OBJ_nid2obj(nid)));
    ASN1_OBJECT_free(o);
    EXPECT_EQ(nid, OBJ_txt2nid(oid.c_str()));
    EXPECT_EQ(nid, OBJ_txt2nid(sn.c_str()));
  }
  EXPECT_ERRORS({});
}

TEST(ObjDatabase, NidLookups) {
  EXPECT_STREQ("UNDEF", OBJ_nid2sn(0));
  EXPECT_STREQ("undefined", OBJ_nid2ln(0));
  EXPECT_EQ(nullptr, OBJ_nid2sn(102));
  EXPECT_EQ(nullptr, OBJ_nid2ln(775));
  EXPECT_ERRORS({{ERR_LIB_OBJ, OBJ_F_OBJ_NID2SN, OBJ_R_UNKNOWN_NID},
                 {ERR_LIB_OBJ, OBJ_F_OBJ_NID2LN, OBJ_R_UNKNOWN_NID}});
  EXPECT_EQ(nullptr, OBJ_nid2obj(102));
  EXPECT_EQ(0x08067065u, ERR_peek_error());
  ERR_clear_error();
  EXPECT_EQ(nullptr, OBJ_nid2obj(893));  // nothing added yet
  EXPECT_ERRORS({});
  const int null_nid = OBJ_sn2nid("NULL");
  EXPECT_TRUE(null_nid == 393 || null_nid == 404) << null_nid;
  EXPECT_EQ(0, OBJ_sn2nid("sha1"));  // case-sensitive
  EXPECT_EQ(0, OBJ_ln2nid("SHA1"));
}

TEST(ObjDatabase, ObjectToText) {
  ASN1_OBJECT* rsa = OBJ_nid2obj(6);
  char buf[32];
  EXPECT_EQ(13, OBJ_obj2txt(buf, sizeof buf, rsa, 0));
  EXPECT_STREQ("rsaEncryption", buf);
  EXPECT_EQ(20, OBJ_obj2txt(buf, sizeof buf, rsa, 1));
  EXPECT_STREQ("1.2.840.113549.1.1.1", buf);
  EXPECT_EQ(20, OBJ_obj2txt(buf, 5, rsa, 1));
  EXPECT_STREQ("1.2.", buf);
  EXPECT_EQ(20, OBJ_obj2txt(nullptr, 0, rsa, 1));
  EXPECT_EQ(i2t_ASN1_OBJECT(buf, sizeof buf, rsa), 13);
  EXPECT_EQ(0, OBJ_obj2txt(buf, sizeof buf, nullptr, 0));
  // Entries without content: the empty text whatever no_name is.
  for (int nid : {33,  35,  36,  38,  39,  40,  43,  46,  60,  61,  62,  63,  80,  92,  93,  94,
                  97,  98,  109, 110, 111, 114, 121, 122, 123, 166, 650, 651, 652, 653, 654, 655,
                  656, 657, 658, 659, 749, 750, 760, 761, 762, 763, 764, 765, 814, 855}) {
    for (int no_name : {0, 1}) {
      buf[0] = 'x';
      EXPECT_EQ(0, OBJ_obj2txt(buf, sizeof buf, OBJ_nid2obj(nid), no_name)) << nid;
      EXPECT_STREQ("", buf);
    }
    EXPECT_EQ(nid, OBJ_obj2nid(OBJ_nid2obj(nid)));
  }
  EXPECT_ERRORS({});
}

TEST(ObjDatabase, TextToObject) {
  EXPECT_EQ(OBJ_nid2obj(64), OBJ_txt2obj("SHA1", 0));
  EXPECT_EQ(OBJ_nid2obj(64), OBJ_txt2obj("sha1", 0));
  EXPECT_EQ(nullptr, OBJ_txt2obj("SHA1", 1));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_FIRST_NUM_TOO_LARGE}});
  ASN1_OBJECT* o = OBJ_txt2obj("1.2.3", 0);
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(0, OBJ_obj2nid(o));
  EXPECT_EQ(nullptr, o->sn);
  ASN1_OBJECT* d = OBJ_dup(o);
  ASSERT_NE(o, d);
  EXPECT_EQ(0, OBJ_cmp(o, d));
  ASN1_OBJECT_free(o);
  ASN1_OBJECT_free(d);
  EXPECT_EQ(OBJ_nid2obj(6), OBJ_dup(OBJ_nid2obj(6)));  // built-in: itself
}

TEST(ObjAdded, CreateAgreesInEveryLookup) {
  EXPECT_EQ(893, OBJ_create("1.2.3.4", "x", "y"));
  EXPECT_EQ(893, OBJ_sn2nid("x"));
  EXPECT_EQ(893, OBJ_ln2nid("y"));
  EXPECT_EQ(893, OBJ_txt2nid("1.2.3.4"));
  EXPECT_STREQ("x", OBJ_nid2sn(893));
  char buf[16];
  EXPECT_EQ(1, OBJ_obj2txt(buf, sizeof buf, OBJ_nid2obj(893), 0));
  EXPECT_STREQ("y", buf);
  ASN1_OBJECT_free(OBJ_nid2obj(893));  // the stored object stays
  EXPECT_EQ(nullptr, OBJ_nid2obj(1000));
  EXPECT_ERRORS({{ERR_LIB_OBJ, OBJ_F_OBJ_NID2OBJ, OBJ_R_UNKNOWN_NID}});
  // The same short name again: only that index moves.
  EXPECT_EQ(894, OBJ_create("1.2.3.5", "x", "z"));
  EXPECT_EQ(894, OBJ_sn2nid("x"));
  EXPECT_EQ(893, OBJ_ln2nid("y"));
  EXPECT_EQ(0, OBJ_create("1.40", "bad", "bad"));  // refused before a NID is taken
  ERR_clear_error();
  EXPECT_EQ(895, OBJ_new_nid(0));
  OBJ_cleanup();
  EXPECT_EQ(0, OBJ_sn2nid("x"));
  EXPECT_EQ(nullptr, OBJ_nid2obj(893));
  EXPECT_ERRORS({});
}

// A built-in entry is referenced as it is: never written or freed.
TEST(ObjAdded, BuiltInAndCallerObjectsSurviveCleanup) {
  EXPECT_EQ(64, OBJ_add_object(OBJ_nid2obj(64)));
  static const unsigned char kData[] = {0x2A, 0x03, 0x07};
  ASN1_OBJECT mine{};
  mine.sn = "mine";
  mine.nid = OBJ_new_nid(1);
  mine.data = kData;
  mine.length = sizeof kData;
  EXPECT_EQ(mine.nid, OBJ_add_object(&mine));
  EXPECT_NE(&mine, OBJ_nid2obj(mine.nid));
  EXPECT_EQ(mine.nid, OBJ_txt2nid("1.2.3.7"));
  OBJ_cleanup();
  EXPECT_STREQ("SHA1", OBJ_nid2sn(64));
  EXPECT_EQ(64, OBJ_nid2obj(64)->nid);
  EXPECT_STREQ("mine", mine.sn);
  EXPECT_EQ(64, OBJ_txt2nid("1.3.14.3.2.26"));
}

TEST(ObjAdded, CreateObjectsReadsUpToACommentLine) {
  const std::string ln498(498, 'L');
  const struct {
    std::string text;
    int count;
    const char* last_ln;
  } kCases[] = {
      {"1.2.3.4 short a long name\n# stop\n1.2.3.5 more\n", 1, "a long name"},
      {"1.2.3.6 s6 l6\n1.2.3.7 s7 last line", 2, "last line"},  // no final newline
      {"1.2.3.30 s30 " + ln498 + "\r\n", 1, ln498.c_str()},     // 511 characters and CR LF
      {"1.2.3.8\r\n\n1.2.3.9 s9\n", 1, nullptr},
  };
  for (const auto& c : kCases) {
    BIO* in = BIO_new_mem_buf(const_cast<char*>(c.text.data()), static_cast<int>(c.text.size()));
    const int first = OBJ_new_nid(0);
    EXPECT_EQ(c.count, OBJ_create_objects(in)) << c.text;
    BIO_free(in);
    const char* ln = OBJ_nid2ln(first + c.count - 1);
    EXPECT_STREQ(c.last_ln, ln) << c.text;
  }
  EXPECT_EQ(OBJ_ln2nid("a long name"), OBJ_sn2nid("short"));
  EXPECT_EQ(OBJ_txt2nid("1.2.3.8"), OBJ_new_nid(0) - 1);
  // A read that fails is no end of the list: the count so far, and a reason.
  ERR_clear_error();
  BIO* in = morvane_test::NewScriptedSource("1.2.3.10 s10\n1.2.3.11 s11\n",
                                            morvane_test::ScriptStep::FailAt(2));
  EXPECT_EQ(1, OBJ_create_objects(in));
  EXPECT_ERRORS({{ERR_LIB_OBJ, 0, ERR_R_BIO_LIB}});
  BIO_free(in);
}

// Lines handed out in pieces are whole lines; a line longer than the
// reader's 511 characters stops the list with a reason, creating nothing.
TEST(ObjAdded, CreateObjectsTakesWholeLines) {
  const std::string text = "1.2.3.20 s20 A long name\n1.2.3.21 s21 " + std::string(400, 'n') + "\n";
  for (int kind = 0; kind < morvane_test::PieceSource::kKinds; kind++) {
    for (uint32_t seed = 1; seed <= 10; seed++) {
      morvane_test::PieceSource src(kind, text, seed);
      const int first = OBJ_new_nid(0);
      ASSERT_EQ(2, OBJ_create_objects(src.bio())) << kind << " " << seed;
      EXPECT_STREQ("A long name", OBJ_nid2ln(first));
      EXPECT_EQ(std::string(400, 'n'), OBJ_nid2ln(first + 1));
    }
  }
  EXPECT_ERRORS({});
  const std::string too_long = "1.2.3.22 s22 ok\n1.2.3.23 s23 " + std::string(500, 'n') + "\n";
  BIO* in = BIO_new_mem_buf(const_cast<char*>(too_long.data()), static_cast<int>(too_long.size()));
  EXPECT_EQ(1, OBJ_create_objects(in));
  EXPECT_ERRORS({{ERR_LIB_OBJ, 0, OBJ_R_LINE_TOO_LONG}});
  EXPECT_EQ(0, OBJ_sn2nid("s23"));
  BIO_free(in);
}

// Every allocation of an addition failing in turn: 0 with a reason and the
// object found under none of its keys, or its NID and found under all (a
// key whose table node could not be allocated was left out, with success).
TEST(ObjAdded, CreateUnderAllocationFailureAddsAllOrNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  auto count = [] {
    const morvane_test::AllocCounts c = morvane_test::GetAllocCounts();
    return c.mallocs + c.reallocs;
  };
  const long before = count();
  ASSERT_NE(0, OBJ_create("1.2.3.1", "first", "first object"));
  const long total = count() - before;
  for (long n = 1; n <= 2 * total; n++) {
    const std::string id = std::to_string(n);
    const std::string oid = "1.2.3.2." + id, sn = "s" + id, ln = "l" + id;
    morvane_test::FailAllocationAfter(n);
    const int nid = OBJ_create(oid.c_str(), sn.c_str(), ln.c_str());
    morvane_test::FailAllocationAfter(0);
    const int found[] = {OBJ_txt2nid(oid.c_str()), OBJ_sn2nid(sn.c_str()), OBJ_ln2nid(ln.c_str())};
    EXPECT_TRUE(nid != 0 || ERR_peek_error() != 0) << n;
    for (int f : found) EXPECT_EQ(nid, f) << n;
    ERR_clear_error();
  }
  EXPECT_EQ(OBJ_sn2nid("first"), OBJ_txt2nid("1.2.3.1"));
}

// Every k-th allocation failing while names are added and then replaced: a
// name is found, with the data of its last successful add, exactly when an
// add of it gave 1, and the cleanup leaves no block behind.
TEST(ObjNames, AddAndGetUnderEveryKthAllocationFailing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const long live = morvane_test::GetAllocCounts().live_blocks;
  constexpr int kNames = 200;
  std::vector<std::string> names(kNames), second(kNames);
  for (int i = 0; i < kNames; i++) {
    names[i] = "sweep name " + std::to_string(i);
    second[i] = "second data " + std::to_string(i);
  }
  for (long k : morvane_test::SweepSteps()) {
    std::vector<const char*> want(kNames, nullptr);
    morvane_test::FailEveryAllocation(k);
    for (int round = 0; round < 2; round++) {
      for (int i = round; i < kNames; i += round + 1) {
        const char* data = round == 0 ? names[i].c_str() : second[i].c_str();
        if (OBJ_NAME_add(names[i].c_str(), OBJ_NAME_TYPE_MD_METH, data) == 1) want[i] = data;
      }
    }
    morvane_test::FailEveryAllocation(0);
    for (int i = 0; i < kNames; i++)
      EXPECT_EQ(OBJ_NAME_get(names[i].c_str(), OBJ_NAME_TYPE_MD_METH), want[i]) << k << " " << i;
    OBJ_NAME_cleanup(-1);
    EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live) << k;
  }
}

}  // namespace

// NIDs are ints: a negative count, or one that would run past INT_MAX, is
// refused and reserves nothing (INT_MAX used to overflow the counter).
TEST(ObjNewNid, CountsThatDoNotFitAreRefused) {
  const int next = OBJ_new_nid(0);
  EXPECT_EQ(0, OBJ_new_nid(INT_MAX));
  EXPECT_ERRORS({{ERR_LIB_OBJ, OBJ_F_OBJ_NEW_NID, OBJ_R_INVALID_NID_COUNT}});
  EXPECT_EQ(0, OBJ_new_nid(-1));
  EXPECT_ERRORS({{ERR_LIB_OBJ, OBJ_F_OBJ_NEW_NID, OBJ_R_INVALID_NID_COUNT}});
  EXPECT_EQ(next, OBJ_new_nid(INT_MAX - next));  // exactly up to INT_MAX fits
  EXPECT_EQ(0, OBJ_new_nid(1));
  EXPECT_EQ(0, OBJ_create("1.2.3.9", "late", "late"));  // no NID left to give
  ERR_clear_error();
  EXPECT_EQ(INT_MAX, OBJ_new_nid(0));
}
