// The text-to-DER generator: the texts of test/data/asn1/generate.txt over
// the sections below, the bounds on layers and nested sections, and the
// error entries of a refused value.

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509v3.h>

#include "last_error.h"
#include "test_support.h"

namespace {

using morvane_test::FromHex;
using morvane_test::ToHex;

const char kSections[] =
    "[sect]\na = INTEGER:1\nb = BOOL:TRUE\n"
    "[unsorted]\na = INTEGER:5\nb = INTEGER:3\nc = BOOL:TRUE\n"
    "[empty]\n"
    "[nested]\na = SEQUENCE:sect\nb = NULL\n"
    "[bad]\na = NULL:1\n"
    "[self]\na = SEQUENCE:self\n";

CONF* LoadConf(const std::string& text) {
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  EXPECT_EQ(1, NCONF_load_bio(conf, in, nullptr));
  BIO_free(in);
  return conf;
}

std::string Der(ASN1_TYPE* t) {
  unsigned char* out = nullptr;
  const int n = i2d_ASN1_TYPE(t, &out);
  std::string hex = ToHex(out, n > 0 ? n : 0);
  MORVANE_free(out);
  return hex;
}

TEST(Generate, TextsOfTheDataFile) {
  CONF* conf = LoadConf(kSections);
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("asn1/generate.txt"));
  ASSERT_GE(records.size(), 60u);
  for (const auto& r : records) {
    const std::string text = morvane_test::Unquote(r.Get("text"));
    SCOPED_TRACE(text);
    ASN1_TYPE* t = ASN1_generate_nconf(text.c_str(), conf);
    if (r.Has("der")) {
      ASSERT_NE(nullptr, t) << morvane_test::DrainErrors();
      EXPECT_EQ(ToHex(FromHex(r.Get("der"))), Der(t));
      EXPECT_ERRORS({});
    } else {
      EXPECT_EQ(nullptr, t);
      const auto [reason, data] = LastAsn1Error();
      EXPECT_EQ(std::stoi(r.Get("reason")), reason);
      if (r.Has("data")) {
        EXPECT_EQ(r.Get("data"), data);
      }
    }
    ASN1_TYPE_free(t);
  }
  NCONF_free(conf);
}

TEST(Generate, SectionsNeedAConfiguration) {
  EXPECT_EQ(nullptr, ASN1_generate_nconf("SEQUENCE:sect", nullptr));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_SEQUENCE_OR_SET_NEEDS_CONFIG}});
  // A context without a database cannot read sections.
  X509V3_CTX ctx = {};
  EXPECT_EQ(nullptr, ASN1_generate_v3("SET:sect", &ctx));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_SECTION, X509V3_R_OPERATION_NOT_DEFINED},
                 {ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_ERROR_LOADING_SECTION,
                  "section=sect"}});
  // Texts without sections need none.
  ASN1_TYPE* t = ASN1_generate_v3("EXP:0,NULL", nullptr);
  EXPECT_EQ("a0020500", Der(t));
  ASN1_TYPE_free(t);
}

TEST(Generate, ARefusedValueNamesItself) {
  EXPECT_EQ(nullptr, ASN1_generate_nconf("BOOL:maybe", nullptr));
  EXPECT_ERRORS({{ERR_LIB_X509V3, X509V3_F_X509V3_GET_VALUE_BOOL, X509V3_R_INVALID_BOOLEAN_STRING,
                  "section:,name:,value:maybe"},
                 {ERR_LIB_ASN1, ASN1_F_ASN1_STR2TYPE, ASN1_R_ILLEGAL_BOOLEAN, "string=maybe"}});
  EXPECT_EQ(nullptr, ASN1_generate_nconf("IMPLICIT:1,EXPLICIT:2,NULL", nullptr));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_APPEND_EXP, ASN1_R_ILLEGAL_IMPLICIT_TAG}});
  EXPECT_EQ(nullptr, ASN1_generate_nconf("FOO:1,NULL", nullptr));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_CB, ASN1_R_UNKNOWN_TAG, "tag=FOO:1,NULL"}});
}

// The element `tag` around `inner` (short lengths).
std::string Wrap(const std::string& tag, const std::string& inner) {
  char len[3];
  snprintf(len, sizeof len, "%02x", static_cast<unsigned>(inner.size() / 2));
  return tag + len + inner;
}

TEST(Generate, TwentyLayersAtMost) {
  std::string text, der = "0500";
  for (int i = 0; i < 20; i++) text += i % 2 ? "OCTWRAP," : "EXPLICIT:3,";
  for (int i = 19; i >= 0; i--) der = Wrap(i % 2 ? "04" : "a3", der);  // the first is outermost
  ASN1_TYPE* t = ASN1_generate_nconf((text + "NULL").c_str(), nullptr);
  EXPECT_EQ(der, Der(t));
  ASN1_TYPE_free(t);
  EXPECT_EQ(nullptr, ASN1_generate_nconf((text + "SEQWRAP,NULL").c_str(), nullptr));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_APPEND_EXP, ASN1_R_DEPTH_EXCEEDED}});
}

// Sections s1 to s<n>, each the SEQUENCE of the next, the last a NULL.
std::string Chain(int n) {
  std::string text;
  for (int i = 1; i < n; i++)
    text += "[s" + std::to_string(i) + "]\na = SEQUENCE:s" + std::to_string(i + 1) + "\n";
  return text + "[s" + std::to_string(n) + "]\na = NULL\n";
}

TEST(Generate, FiftyNestedSectionsAtMost) {
  CONF* conf = LoadConf(Chain(50));
  ASN1_TYPE* t = ASN1_generate_nconf("SEQUENCE:s1", conf);
  std::string der = "0500";
  for (int i = 0; i < 50; i++) der = Wrap("30", der);
  EXPECT_EQ(der, Der(t));
  ASN1_TYPE_free(t);
  NCONF_free(conf);
  EXPECT_ERRORS({});

  conf = LoadConf(Chain(51));
  EXPECT_EQ(nullptr, ASN1_generate_nconf("SEQUENCE:s1", conf));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED}});
  NCONF_free(conf);
}

TEST(Generate, SectionsThatNameEachOther) {
  CONF* conf = LoadConf("[a]\nx = INT:1\ny = SET:b\n[b]\nz = SEQ:a\n");
  EXPECT_EQ(nullptr, ASN1_generate_nconf("SEQUENCE:a", conf));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED}});
  NCONF_free(conf);
}

// Sections m1 to m<n>, each holding the next twice, the last a NULL: the
// encoding doubles at each level.
std::string Doubling(int n) {
  std::string text;
  for (int i = 1; i < n; i++) {
    const std::string next = "SEQUENCE:m" + std::to_string(i + 1) + "\n";
    text += "[m" + std::to_string(i) + "]\na = " + next + "b = " + next;
  }
  return text + "[m" + std::to_string(n) + "]\na = NULL\n";
}

TEST(Generate, SectionsThatMultiplyStopEarly) {
  // Five levels make 16 NULLs; forty would make 2^39 of them, and stop
  // once the encodings made reach 4 MiB.
  CONF* conf = LoadConf(Doubling(5));
  ASN1_TYPE* t = ASN1_generate_nconf("SEQUENCE:m1", conf);
  std::string der = "30020500";
  for (int i = 0; i < 4; i++) der = Wrap("30", der + der);
  EXPECT_EQ(der, Der(t));
  ASN1_TYPE_free(t);
  NCONF_free(conf);
  conf = LoadConf(Doubling(40));
  EXPECT_EQ(nullptr, ASN1_generate_nconf("SEQUENCE:m1", conf));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED}});
  NCONF_free(conf);
}

// Allocation hooks that track the bytes held and their peak (each block
// carries its size in a 16-byte header).
size_t g_held = 0;
size_t g_peak = 0;
void Held(size_t add, size_t remove) {
  g_held += add;
  g_held -= remove;
  if (g_held > g_peak) g_peak = g_held;
}
void* PeakMalloc(size_t n) {
  auto* b = static_cast<unsigned char*>(malloc(n + 16));
  if (b == nullptr) return nullptr;
  memcpy(b, &n, sizeof n);
  Held(n, 0);
  return b + 16;
}
void* PeakRealloc(void* p, size_t n) {
  if (p == nullptr) return PeakMalloc(n);
  size_t old;
  memcpy(&old, static_cast<unsigned char*>(p) - 16, sizeof old);
  auto* b = static_cast<unsigned char*>(realloc(static_cast<unsigned char*>(p) - 16, n + 16));
  if (b == nullptr) return nullptr;
  memcpy(b, &n, sizeof n);
  Held(n, old);
  return b + 16;
}
void PeakFree(void* p) {
  if (p == nullptr) return;
  size_t n;
  memcpy(&n, static_cast<unsigned char*>(p) - 16, sizeof n);
  Held(0, n);
  free(static_cast<unsigned char*>(p) - 16);
}

// Section "big" of `members` BIT STRINGs with only bit `bit` set.
std::string BitStrings(int members, long bit) {
  std::string text = "[big]\n";
  for (int i = 0; i < members; i++)
    text += "m" + std::to_string(i) + " = FORMAT:BITLIST,BITSTR:" + std::to_string(bit) + "\n";
  return text;
}

// A section whose members pass the 4 MiB bound is refused as soon as they
// do: 400 members of 4 MiB each (33 bytes of text apiece) take a few MiB
// before the refusal, not 1.6 GB; the same through the extension builder.
// Members just under the bound still build.
TEST(Generate, ASectionPastTheBoundStopsBeforeItsNextMember) {
  ASSERT_EQ(1, CRYPTO_set_mem_functions(PeakMalloc, PeakRealloc, PeakFree));
  CONF* conf = LoadConf(BitStrings(400, 33554431));  // 2^25 bits: 4 MiB
  X509V3_CTX ctx = {};
  X509V3_set_nconf(&ctx, conf);
  for (int via_extension = 0; via_extension < 2; via_extension++) {
    SCOPED_TRACE(via_extension ? "X509V3_EXT_nconf" : "ASN1_generate_nconf");
    const size_t before = g_held;
    g_peak = g_held;
    if (via_extension) {
      EXPECT_EQ(nullptr, X509V3_EXT_nconf(conf, &ctx, "1.2.3.4", "ASN1:SEQUENCE:big"));
    } else {
      EXPECT_EQ(nullptr, ASN1_generate_nconf("SEQUENCE:big", conf));
    }
    EXPECT_LT(g_peak - before, size_t{64} << 20);
    bool bound = false;  // the refusal is on the queue, under the builder's own errors
    for (unsigned long e; (e = ERR_get_error()) != 0;)
      bound |= e == ERR_PACK(ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED);
    EXPECT_TRUE(bound);
  }
  NCONF_free(conf);

  // Three members of 1 MiB build: 3 x (5 + 1 + 2^20) octets in a SEQUENCE
  // with a 5-octet header; a fifth passes the bound.
  conf = LoadConf(BitStrings(3, 8388607));
  ASN1_TYPE* t = ASN1_generate_nconf("SEQUENCE:big", conf);
  ASSERT_NE(nullptr, t);
  EXPECT_EQ(3 * (6 + (1 << 20)) + 5, i2d_ASN1_TYPE(t, nullptr));
  ASN1_TYPE_free(t);
  NCONF_free(conf);
  conf = LoadConf(BitStrings(5, 8388607));
  g_peak = g_held;
  const size_t before = g_held;
  EXPECT_EQ(nullptr, ASN1_generate_nconf("SEQUENCE:big", conf));
  EXPECT_LT(g_peak - before, size_t{16} << 20);
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GENERATE_V3, ASN1_R_DEPTH_EXCEEDED}});
  NCONF_free(conf);
}

// Texts of different keywords generated on eight threads at once give what
// they give on one: the keyword search shares no state between calls.
TEST(Generate, ConcurrentCallsShareNothing) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  const char* const texts[] = {"INTEGER:5",         "EXPLICIT:1A,BOOL:TRUE", "OCTWRAP,NULL",
                               "IMP:2,OCT:ab",      "GENSTR:x",               "SETWRAP,ENUM:7",
                               "BITWRAP,OID:1.2.3", "FORMAT:HEX,BITSTR:01"};
  std::vector<std::string> expected;
  for (const char* t : texts) {
    ASN1_TYPE* v = ASN1_generate_v3(t, nullptr);
    expected.push_back(Der(v));
    ASN1_TYPE_free(v);
  }
  ERR_clear_error();
  std::vector<int> mismatches(8, 0);
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; i++) {
    threads.emplace_back([&, i] {
      for (int round = 0; round < 500; round++) {
        ASN1_TYPE* v = ASN1_generate_v3(texts[i], nullptr);
        if (Der(v) != expected[i]) mismatches[i]++;
        ASN1_TYPE_free(v);
      }
      ERR_remove_state(0);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(std::vector<int>(8, 0), mismatches);
}

}  // namespace
