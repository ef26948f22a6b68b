// OBJECT IDENTIFIER values: dotted text to content octets (X.690 8.19), the
// DER element, content decoding and reuse, and the text written to a BIO.

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

#include <string>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

// Content octets of dotted texts (X.690 8.19.5 gives 2.999 as 88 37), or the
// reason a2d_ASN1_OBJECT queues.
struct A2dCase {
  const char* text;
  const char* hex;
  int reason;
};
constexpr A2dCase kA2d[] = {
    {"1.2.840.113549", "2a864886f70d", 0},
    {"2.999", "8837", 0},
    {"1 2 3", "2a03", 0},
    {"2.40", "78", 0},
    {"1.2.", "2a", 0},
    {"1.2.4294967296", "2a9080808000", 0},  // 2^32: beyond a 32-bit word
    {"2.4294967295", "908080804f", 0},      // subidentifier 4294967375
    {"1.2.340282366920938463463374607431768211456", "2a84808080808080808080808080808080808000", 0},
    {"3.1", "", ASN1_R_FIRST_NUM_TOO_LARGE},
    {"1.40", "", ASN1_R_SECOND_NUMBER_TOO_LARGE},
    {"0.18446744073709551616", "", ASN1_R_SECOND_NUMBER_TOO_LARGE},
    {"1", "", ASN1_R_MISSING_SECOND_NUMBER},
    {"1.2a", "", ASN1_R_INVALID_DIGIT},
    {"12.3", "", ASN1_R_INVALID_SEPARATOR},
};

TEST(AsnObject, DottedTextToContent) {
  for (const auto& c : kA2d) {
    SCOPED_TRACE(c.text);
    const Bytes want = FromHex(c.hex);
    EXPECT_EQ(static_cast<int>(want.size()), a2d_ASN1_OBJECT(nullptr, 0, c.text, -1));
    unsigned char out[64];
    EXPECT_EQ(static_cast<int>(want.size()), a2d_ASN1_OBJECT(out, sizeof out, c.text, -1));
    if (c.reason != 0) {
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, c.reason},
                     {ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, c.reason}});
      continue;
    }
    EXPECT_EQ(c.hex, ToHex(out, want.size()));
    // Back to text: every arc prints exactly.
    ASN1_OBJECT o{};
    o.data = out;
    o.length = static_cast<int>(want.size());
    char txt[80];
    std::string dotted = c.text;
    for (char& ch : dotted) ch = ch == ' ' ? '.' : ch;
    if (dotted.back() == '.') dotted.pop_back();
    EXPECT_EQ(static_cast<int>(dotted.size()), OBJ_obj2txt(txt, sizeof txt, &o, 1));
    EXPECT_EQ(dotted, txt);
  }
  unsigned char small[3];
  EXPECT_EQ(0, a2d_ASN1_OBJECT(small, sizeof small, "1.2.840.113549", -1));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT, ASN1_R_BUFFER_TOO_SMALL}});
  EXPECT_EQ(0, a2d_ASN1_OBJECT(small, sizeof small, "1.", -1));
  EXPECT_EQ(1, a2d_ASN1_OBJECT(small, sizeof small, "1.2.3", 3));  // "1.2" only
  EXPECT_ERRORS({});
}

// Content octets: at least one subidentifier, the last one ended, none
// starting with 0x80 (X.690 8.19.2).
TEST(AsnObject, ContentDecoding) {
  const struct {
    const char* hex;
    bool ok;
  } kCases[] = {{"8001", false}, {"2a8001", false}, {"818000", true}, {"", false}, {"2a86", false}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.hex);
    const Bytes in = FromHex(c.hex);
    const unsigned char* p = in.data();
    ASN1_OBJECT* o = c2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(in.size()));
    EXPECT_EQ(c.ok, o != nullptr);
    EXPECT_EQ(c.ok ? in.data() + in.size() : in.data(), p);
    if (!c.ok) {
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_C2I_ASN1_OBJECT, ASN1_R_INVALID_OBJECT_ENCODING}});
    }
    ASN1_OBJECT_free(o);
  }
}

// Reuse writes only into a buffer the object owns, frees its owned names and
// drops a NID that no longer matches the content.
TEST(AsnObject, ContentDecodingReusesOnlyOwnedParts) {
  static const unsigned char kSha1[] = {0x2B, 0x0E, 0x03, 0x02, 0x1A};  // 1.3.14.3.2.26
  const Bytes md5 = FromHex("2a864886f70d0205");
  ASN1_OBJECT* o =
      ASN1_OBJECT_create(64, const_cast<unsigned char*>(kSha1), sizeof kSha1, "a", "b");
  ASSERT_NE(nullptr, o);
  const unsigned char* p = md5.data();
  ASSERT_EQ(o, c2i_ASN1_OBJECT(&o, &p, static_cast<long>(md5.size())));
  EXPECT_EQ(nullptr, o->sn);
  EXPECT_EQ(4, OBJ_obj2nid(o));
  ASN1_OBJECT_free(o);
  // An object pointing at someone else's content gets its own copy.
  ASN1_OBJECT* q = ASN1_OBJECT_new();
  q->data = kSha1;
  q->length = sizeof kSha1;
  p = md5.data();
  ASSERT_EQ(q, c2i_ASN1_OBJECT(&q, &p, 3));
  EXPECT_EQ(0x2B, kSha1[0]);
  EXPECT_EQ("2a8648", ToHex(q->data, q->length));
  ASN1_OBJECT_free(q);
  ASN1_OBJECT_free(OBJ_nid2obj(64));  // built-in: nothing happens
  EXPECT_STREQ("SHA1", OBJ_nid2sn(64));
}

TEST(AsnObject, DerElement) {
  const Bytes der = FromHex("06092a864886f70d010101");  // rsaEncryption
  const unsigned char* p = der.data();
  ASN1_OBJECT* o = d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(der.data() + der.size(), p);
  EXPECT_EQ(6, OBJ_obj2nid(o));
  unsigned char out[16];
  unsigned char* q = out;
  EXPECT_EQ(11, i2d_ASN1_OBJECT(o, &q));
  EXPECT_EQ(ToHex(der), ToHex(out, 11));
  ASN1_OBJECT_free(o);
  for (const char* hex : {"020100", "0609"}) {  // wrong tag; content beyond the input
    const Bytes bad = FromHex(hex);
    p = bad.data();
    EXPECT_EQ(nullptr, d2i_ASN1_OBJECT(nullptr, &p, static_cast<long>(bad.size())));
    EXPECT_EQ(bad.data(), p);
  }
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_OBJECT, ASN1_R_EXPECTING_AN_OBJECT},
                 {ERR_LIB_ASN1, ASN1_F_ASN1_GET_OBJECT, ASN1_R_TOO_LONG},
                 {ERR_LIB_ASN1, ASN1_F_D2I_ASN1_OBJECT, ASN1_R_BAD_OBJECT_HEADER}});
}

TEST(AsnObject, CreateCopiesTheCallersBuffers) {
  unsigned char data[] = {0x2A, 0x03};
  char sn[] = "short", ln[] = "long";
  ASN1_OBJECT* o = ASN1_OBJECT_create(0, data, sizeof data, sn, ln);
  ASSERT_NE(nullptr, o);
  data[0] = sn[0] = ln[0] = 'X';
  EXPECT_STREQ("short", o->sn);
  EXPECT_STREQ("long", o->ln);
  EXPECT_EQ("2a03", ToHex(o->data, o->length));
  ASN1_OBJECT_free(o);
}

std::string Written(ASN1_OBJECT* o, int* ret) {
  BIO* b = BIO_new(BIO_s_mem());
  *ret = i2a_ASN1_OBJECT(b, o);
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  std::string s(p, static_cast<size_t>(n));
  BIO_free(b);
  return s;
}

TEST(AsnObject, TextToBio) {
  int ret = 0;
  ASN1_OBJECT empty{};
  EXPECT_EQ("NULL", Written(&empty, &ret));
  EXPECT_EQ("sha1", Written(OBJ_nid2obj(64), &ret));
  EXPECT_EQ(4, ret);
  std::string dotted = "1.2";
  while (dotted.size() < 200) dotted += ".99";
  ASN1_OBJECT* o = OBJ_txt2obj(dotted.c_str(), 1);
  ASSERT_NE(nullptr, o);
  EXPECT_EQ(dotted, Written(o, &ret));
  EXPECT_EQ(static_cast<int>(dotted.size()), ret);
  ASN1_OBJECT_free(o);
  static const unsigned char kCut[] = {0x2A, 0x86};
  ASN1_OBJECT cut{};
  cut.data = kCut;
  cut.length = 2;
  EXPECT_EQ("<INVALID>", Written(&cut, &ret));
}

// 2^n - k in decimal, by doubling and subtracting digit by digit (k small).
std::string PowerOfTwoMinus(int n, int k) {
  std::string d = "1";  // least significant digit first
  for (int i = 0; i < n; i++) {
    int carry = 0;
    for (char& c : d) {
      const int v = (c - '0') * 2 + carry;
      c = static_cast<char>('0' + v % 10);
      carry = v / 10;
    }
    if (carry != 0) d += static_cast<char>('0' + carry);
  }
  for (size_t i = 0; k != 0; i++, k /= 10) {
    int v = (d[i] - '0') - k % 10;
    if (v < 0) {
      v += 10;
      k += 10;  // borrow from the next digit
    }
    d[i] = static_cast<char>('0' + v);
  }
  while (d.size() > 1 && d.back() == '0') d.pop_back();
  return std::string(d.rbegin(), d.rend());
}

// The subidentifier (X.690 8.19.2) of 2^n - 1 (all_ones) or of 2^n.
Bytes Subidentifier(int n, bool all_ones) {
  Bytes groups;
  if (all_ones) {
    if (n % 7 != 0) groups.push_back(static_cast<uint8_t>((1 << (n % 7)) - 1));
    groups.insert(groups.end(), n / 7, 0x7F);
  } else {
    groups.push_back(static_cast<uint8_t>(1 << (n % 7)));
    groups.insert(groups.end(), n / 7, 0x00);
  }
  for (size_t i = 0; i + 1 < groups.size(); i++) groups[i] |= 0x80;
  return groups;
}

// The subidentifier 2^n + low (low below 128: its last group).
Bytes SubidentifierPlus(int n, uint8_t low) {
  Bytes arc = Subidentifier(n, false);
  arc.back() = low;
  return arc;
}

// An arc of up to OBJ_MAX_ARC_BITS bits prints exactly, in the first
// subidentifier too (X.690 8.19.4: 2.(v - 80), the bound on v - 80); a
// longer one is refused.
TEST(AsnObject, ArcTextUpToTheBound) {
  static_assert(OBJ_MAX_ARC_BITS >= 1024 && OBJ_MAX_ARC_BITS <= 16384);
  constexpr int kMax = OBJ_MAX_ARC_BITS;
  const struct {
    const char* prefix;  // content octets before the arc
    int bits;
    bool all_ones;
    std::string want;  // empty: refused
    int low = -1;      // 0 to 127: the arc is SubidentifierPlus(bits, low)
  } cases[] = {
      {"2a", kMax, true, "1.2." + PowerOfTwoMinus(kMax, 1)},
      {"2a", 200, false, "1.2." + PowerOfTwoMinus(200, 0)},
      {"", 300, false, "2." + PowerOfTwoMinus(300, 80)},
      {"", kMax, true, "2." + PowerOfTwoMinus(kMax, 81)},
      {"2a", kMax, false, ""},
      {"", kMax, false, "2." + PowerOfTwoMinus(kMax, 80)},
      {"", kMax, false, "2." + PowerOfTwoMinus(kMax, 1), 79},  // 2.(2^4096 - 1)
      {"", kMax, false, "", 80},                               // 2.(2^4096)
      {"", kMax + 1, true, ""},
      {"2a", 4 * kMax, true, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.prefix) + " and " + std::to_string(c.bits) + " bits");
    Bytes content = FromHex(c.prefix);
    const Bytes arc = c.low >= 0 ? SubidentifierPlus(c.bits, static_cast<uint8_t>(c.low))
                                 : Subidentifier(c.bits, c.all_ones);
    content.insert(content.end(), arc.begin(), arc.end());
    ASN1_OBJECT o{};
    o.data = content.data();
    o.length = static_cast<int>(content.size());
    std::string buf(8 * kMax, '#');
    const int n = OBJ_obj2txt(&buf[0], static_cast<int>(buf.size()), &o, 1);
    if (c.want.empty()) {
      EXPECT_EQ(-1, n);
      EXPECT_STREQ("", buf.c_str());
      EXPECT_ERRORS({{ERR_LIB_OBJ, OBJ_F_OBJ_OBJ2TXT, OBJ_R_ARC_TOO_LONG}});
      int ret = 0;
      EXPECT_EQ("<INVALID>", Written(&o, &ret));
      ERR_clear_error();
    } else {
      EXPECT_EQ(static_cast<int>(c.want.size()), n);
      EXPECT_EQ(c.want, buf.c_str());
      EXPECT_ERRORS({});
    }
  }
}

// A name whose attribute type has an arc over the bound shows the type as
// "<INVALID>", in the one-line form and through X509_NAME_print_ex (with
// the value dumped too); one of 4,096 bits shows its digits (as many as the
// 80 characters of room take).
TEST(AsnObject, NameTypeWithALongArc) {
  constexpr int kMax = OBJ_MAX_ARC_BITS;
  const std::string digits = ("2." + PowerOfTwoMinus(kMax, 1)).substr(0, 79);
  const struct {
    uint8_t low;
    std::string type;
  } cases[] = {{79, digits}, {80, "<INVALID>"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    const Bytes content = SubidentifierPlus(kMax, c.low);
    ASN1_OBJECT* o = ASN1_OBJECT_create(0, const_cast<unsigned char*>(content.data()),
                                        static_cast<int>(content.size()), nullptr, nullptr);
    ASSERT_NE(nullptr, o);
    X509_NAME* name = X509_NAME_new();
    ASSERT_EQ(1, X509_NAME_add_entry_by_OBJ(name, o, ASN1_MB_ASCII,
                                            reinterpret_cast<const unsigned char*>("x"), 1, -1, 0));
    char* line = X509_NAME_oneline(name, nullptr, 0);
    EXPECT_EQ("/" + c.type + "=x", std::string(line));
    MORVANE_free(line);
    for (const auto& [flags, want] :
         {std::pair{0x82031FUL, c.type + " = x"},
          {NAME_PF_SEP_CPLUS_SPC | NAME_PF_DUMP_UNKNOWN_FIELDS, c.type + "=#78"}}) {
      BIO* out = BIO_new(BIO_s_mem());
      EXPECT_EQ(static_cast<int>(want.size()), X509_NAME_print_ex(out, name, 0, flags));
      char* text = nullptr;
      const long n = BIO_get_mem_data(out, &text);
      EXPECT_EQ(want, std::string(text, static_cast<size_t>(n)));
      BIO_free(out);
    }
    X509_NAME_free(name);
    ASN1_OBJECT_free(o);
  }
  ERR_clear_error();
}

// The arc is converted in its own fixed room: no memory is taken for it.
TEST(AsnObject, ArcTextTakesNoMemory) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Bytes content = FromHex("2a");
  for (int i = 0; i < 4; i++) {
    const Bytes arc = Subidentifier(OBJ_MAX_ARC_BITS - i, true);
    content.insert(content.end(), arc.begin(), arc.end());
  }
  ASN1_OBJECT o{};
  o.data = content.data();
  o.length = static_cast<int>(content.size());
  const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
  const int n = OBJ_obj2txt(nullptr, 0, &o, 1);
  const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
  EXPECT_GT(n, 4 * 1200);  // each arc has over 1200 digits
  EXPECT_EQ(before.mallocs, after.mallocs);
  EXPECT_EQ(before.reallocs, after.reallocs);
}

}  // namespace
