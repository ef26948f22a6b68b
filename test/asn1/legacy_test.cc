// The legacy codecs: strings under a tag mask and with collation of
// constructed forms, SET OF and SEQUENCE OF over stacks (DER order of SET
// OF), packing, duplication and the ASN1_HEADER record with its methods.
// Encodings are written out from X.690; the collation and nesting limits are
// the library's own.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

std::string Hex(const ASN1_STRING* s) {
  return ToHex(s->data, s->length);
}

// Element functions with the exact types the stack codecs call.
int RawI2d(void* a, unsigned char** pp) {  // the string's octets as they are
  auto* s = static_cast<ASN1_STRING*>(a);
  if (pp != nullptr) {
    memcpy(*pp, s->data, s->length);
    *pp += s->length;
  }
  return s->length;
}
int IntI2d(void* a, unsigned char** pp) {
  return i2d_ASN1_INTEGER(static_cast<ASN1_INTEGER*>(a), pp);
}
void* IntD2i(void** a, const unsigned char** pp, long len) {
  return d2i_ASN1_INTEGER(reinterpret_cast<ASN1_INTEGER**>(a), pp, len);
}
int g_freed = 0;
void IntFree(void* a) {
  g_freed++;
  ASN1_INTEGER_free(static_cast<ASN1_INTEGER*>(a));
}

ASN1_STRING* Raw(const std::string& hex) {
  ASN1_STRING* s = ASN1_STRING_new();
  const Bytes b = FromHex(hex);
  ASN1_STRING_set(s, b.data(), static_cast<int>(b.size()));
  return s;
}

// ---- d2i_ASN1_type_bytes ----------------------------------------------------

struct TypeBytesCase {
  const char* der;
  unsigned long mask;
  int type;           // expected type, or 0 for a failure
  const char* value;  // expected data (hex)
  int reason;         // expected reason under d2i_ASN1_type_bytes on failure
};

TEST(Asn1TypeBytes, MaskDecidesTheTypes) {
  const unsigned long printable_ia5 = ASN1_tag2bit(19) | ASN1_tag2bit(22);
  const TypeBytesCase cases[] = {
      {"13024142", printable_ia5, 19, "4142", 0},
      {"160143", printable_ia5, 22, "43", 0},
      {"0c0144", printable_ia5, 0, "", ASN1_R_WRONG_TYPE},
      {"1f2000", ~0UL, 0, "", ASN1_R_TAG_VALUE_TOO_HIGH},
      {"33031301", printable_ia5, 19, "130141", 0},  // constructed: taken as it is
      {"1300", printable_ia5, 19, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.der);
    Bytes der = FromHex(c.der);
    if (std::string(c.der) == "33031301") der.push_back(0x41);
    const unsigned char* p = der.data();
    ASN1_STRING* s = d2i_ASN1_type_bytes(nullptr, &p, static_cast<long>(der.size()), c.mask);
    if (c.type == 0) {
      EXPECT_EQ(nullptr, s);
      EXPECT_EQ(der.data(), p);
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_TYPE_BYTES, c.reason}});
      continue;
    }
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(c.type, s->type);
    EXPECT_EQ(c.value, Hex(s));
    EXPECT_EQ(der.data() + der.size(), p);
    if (s->length > 0) {
      EXPECT_EQ(0, s->data[s->length]);
    }
    ASN1_STRING_free(s);
  }
  EXPECT_ERRORS({});
}

TEST(Asn1TypeBytes, BitStringAndHeaderErrors) {
  Bytes der = FromHex("030204f0");
  const unsigned char* p = der.data();
  ASN1_STRING* s = d2i_ASN1_type_bytes(nullptr, &p, 4, ASN1_tag2bit(3));
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(ASN1_UT_BIT_STRING, s->type);
  EXPECT_EQ(ASN1_STRING_BITS_LEFT | 4, s->flags);
  // Reused string: the old data is replaced.
  der = FromHex("13024142");
  p = der.data();
  EXPECT_EQ(s, d2i_ASN1_type_bytes(&s, &p, 4, ASN1_tag2bit(19)));
  EXPECT_EQ("4142", Hex(s));
  ASN1_STRING_free(s);
  // A content longer than the input: the header's error, then reason 0.
  der = FromHex("130541");
  p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_type_bytes(nullptr, &p, 3, ~0UL));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_GET_OBJECT, ASN1_R_TOO_LONG},
                 {ERR_LIB_ASN1, ASN1_F_D2I_ASN1_TYPE_BYTES, 0}});
}

// ---- d2i_ASN1_bytes -----------------------------------------------------------

// `levels` constructed OCTET STRINGs, each holding the next, around 04 01 AA.
Bytes Nested(int levels) {
  Bytes der = FromHex("0401aa");
  for (int i = 0; i < levels; i++) {
    Bytes outer = {0x24, static_cast<uint8_t>(der.size())};
    outer.insert(outer.end(), der.begin(), der.end());
    der = outer;
  }
  return der;
}

TEST(Asn1Bytes, CollatesConstructedStrings) {
  struct {
    const char* der;
    const char* value;
  } const cases[] = {
      {"24800402010204020304 0000", "01020304"},  // indefinite, two 2-octet pieces
      {"2408040201020402 0304", "01020304"},      // definite
      {"0403616263", "616263"},
      {"2400", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.der);
    const Bytes der = FromHex(c.der);
    const unsigned char* p = der.data();
    ASN1_STRING* s = d2i_ASN1_bytes(nullptr, &p, static_cast<long>(der.size()), 4, 0);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(c.value, Hex(s));
    EXPECT_EQ(4, s->type);
    EXPECT_EQ(der.data() + der.size(), p);
    ASN1_STRING_free(s);
  }
  EXPECT_ERRORS({});
}

TEST(Asn1Bytes, RefusesWrongTagsAndDeepNesting) {
  Bytes der = FromHex("0c0141");
  const unsigned char* p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_bytes(nullptr, &p, 3, 4, 0));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_BYTES, ASN1_R_WRONG_TAG}});
  // Six constructed levels (the outer one and five below it) are collated,
  // as the template decoder does; a seventh is refused.
  der = Nested(6);
  p = der.data();
  ASN1_STRING* s = d2i_ASN1_bytes(nullptr, &p, static_cast<long>(der.size()), 4, 0);
  ASSERT_NE(nullptr, s);
  EXPECT_EQ("aa", Hex(s));
  ASN1_STRING_free(s);
  der = Nested(7);
  p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_bytes(nullptr, &p, static_cast<long>(der.size()), 4, 0));
  EXPECT_EQ(der.data(), p);
  const std::string errors = morvane_test::DrainErrors();
  EXPECT_NE(std::string::npos, errors.find("reason 197")) << errors;
  // Deep nesting that a recursion without bound would follow.
  der = Nested(100);
  p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_bytes(nullptr, &p, static_cast<long>(der.size()), 4, 0));
  ERR_clear_error();
}

// A piece that runs past the outer string's content is a length mismatch;
// one that runs past the input is refused by the header reader.
TEST(Asn1Bytes, PiecesStayInsideTheirBounds) {
  for (const char* hex : {"2403040201020304", "2404040501020304", "24800402"}) {
    SCOPED_TRACE(hex);
    const Bytes der = FromHex(hex);
    const unsigned char* p = der.data();
    EXPECT_EQ(nullptr, d2i_ASN1_bytes(nullptr, &p, static_cast<long>(der.size()), 4, 0));
    EXPECT_EQ(der.data(), p);
    ERR_clear_error();
  }
}

// A string whose buffer holds exactly its length octets (ASN1_STRING_set0,
// or a collated string) is not written past: the content and its trailing
// zero need a new buffer.
TEST(Asn1Bytes, ReusedStringIsNotOverrun) {
  ASN1_STRING* s = ASN1_STRING_new();
  auto* exact = static_cast<unsigned char*>(MORVANE_malloc(3));
  memcpy(exact, "xyz", 3);
  ASN1_STRING_set0(s, exact, 3);
  const Bytes der = FromHex("0403616263");
  const unsigned char* p = der.data();
  ASSERT_EQ(s, d2i_ASN1_bytes(&s, &p, 5, 4, 0));
  EXPECT_EQ("616263", Hex(s));
  EXPECT_EQ(0, s->data[3]);
  // A longer buffer is reused; an empty content leaves no data.
  const Bytes shorter = FromHex("04026869");
  p = shorter.data();
  unsigned char* before = s->data;
  ASSERT_EQ(s, d2i_ASN1_bytes(&s, &p, 4, 4, 0));
  EXPECT_EQ(before, s->data);
  EXPECT_EQ("6869", Hex(s));
  const Bytes empty = FromHex("0400");
  p = empty.data();
  ASSERT_EQ(s, d2i_ASN1_bytes(&s, &p, 2, 4, 0));
  EXPECT_EQ(nullptr, s->data);
  EXPECT_EQ(0, s->length);
  ASN1_STRING_free(s);
}

// ---- SET OF and SEQUENCE OF ---------------------------------------------------

TEST(Asn1Set, DerOrderOfSetOf) {
  STACK* sk = sk_new_null();
  for (const char* e : {"020105", "020103", "0101ff"}) sk_push(sk, reinterpret_cast<char*>(Raw(e)));
  struct {
    int tag;
    int is_set;
    const char* der;
  } const cases[] = {
      {17, 1, "31090101ff020103020105"},
      {17, 0, "31090201050201030101ff"},
      {16, 0, "30090201050201030101ff"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.der);
    const int n = i2d_ASN1_SET(sk, nullptr, RawI2d, c.tag, 0, c.is_set);
    ASSERT_EQ(11, n);
    unsigned char buf[16];
    unsigned char* p = buf;
    EXPECT_EQ(11, i2d_ASN1_SET(sk, &p, RawI2d, c.tag, 0, c.is_set));
    EXPECT_EQ(buf + 11, p);
    EXPECT_EQ(c.der, ToHex(buf, 11));
  }
  // The stack keeps its order.
  EXPECT_EQ("020105", Hex(reinterpret_cast<ASN1_STRING*>(sk_value(sk, 0))));
  sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(ASN1_STRING_free));
  // Equal up to the shorter one: the shorter first.
  sk = sk_new_null();
  for (const char* e : {"aabb", "aa"}) sk_push(sk, reinterpret_cast<char*>(Raw(e)));
  unsigned char buf[8];
  unsigned char* p = buf;
  ASSERT_EQ(5, i2d_ASN1_SET(sk, &p, RawI2d, 17, 0, 1));
  EXPECT_EQ("3103aaaabb", ToHex(buf, 5));
  sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(ASN1_STRING_free));
  EXPECT_EQ(0, i2d_ASN1_SET(nullptr, nullptr, RawI2d, 17, 0, 1));
}

TEST(Asn1Set, DecodesSetsOfIntegers) {
  // An indefinite SET: the end-of-contents octets are consumed.
  Bytes der = FromHex("3180020105020103 0000 ff");
  const unsigned char* p = der.data();
  STACK* sk = d2i_ASN1_SET(nullptr, &p, static_cast<long>(der.size()), IntD2i, IntFree, 17, 0);
  ASSERT_NE(nullptr, sk);
  EXPECT_EQ(der.data() + 10, p);
  ASSERT_EQ(2, sk_num(sk));
  EXPECT_EQ(5, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sk_value(sk, 0))));
  EXPECT_EQ(3, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sk_value(sk, 1))));
  // Decoding onto the caller's stack appends.
  der = FromHex("3103020107");
  p = der.data();
  EXPECT_EQ(sk, d2i_ASN1_SET(&sk, &p, 5, IntD2i, IntFree, 17, 0));
  EXPECT_EQ(3, sk_num(sk));
  sk_pop_free(sk, IntFree);
  EXPECT_ERRORS({});
}

TEST(Asn1Set, Failures) {
  // The class is looked at before the tag.
  Bytes der = FromHex("a103020105");
  const unsigned char* p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_SET(nullptr, &p, 5, IntD2i, IntFree, 17, 0));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_SET, ASN1_R_BAD_CLASS}});
  der = FromHex("3003020105");
  p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_SET(nullptr, &p, 5, IntD2i, IntFree, 17, 0));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_SET, ASN1_R_BAD_TAG}});
  // A bad second element: its offset in the error data; the first element
  // is freed with the stack the call made.
  der = FromHex("3105020105 0400");
  p = der.data();
  g_freed = 0;
  EXPECT_EQ(nullptr, d2i_ASN1_SET(nullptr, &p, 7, IntD2i, IntFree, 17, 0));
  EXPECT_EQ(1, g_freed);
  EXPECT_EQ(der.data(), p);
  const char* data = nullptr;
  int flags = 0;
  const unsigned long e = ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags);
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_D2I_ASN1_SET, ASN1_R_ERROR_PARSING_SET_ELEMENT), e);
  ASSERT_NE(nullptr, data);
  EXPECT_NE(nullptr, strstr(data, " offset=5")) << data;
  ERR_clear_error();
  // An element may not read past the content of its SET, even when the
  // input goes on.
  der = FromHex("3103020205 05");
  p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_SET(nullptr, &p, 6, IntD2i, IntFree, 17, 0));
  ERR_clear_error();
}

TEST(Asn1Pack, SequencesAndStrings) {
  STACK* sk = sk_new_null();
  for (long v : {1, 300}) {
    ASN1_INTEGER* i = ASN1_INTEGER_new();
    ASN1_INTEGER_set(i, v);
    sk_push(sk, reinterpret_cast<char*>(i));
  }
  unsigned char* buf = nullptr;
  int len = 0;
  unsigned char* der = ASN1_seq_pack(sk, IntI2d, &buf, &len);
  ASSERT_NE(nullptr, der);
  EXPECT_EQ(der, buf);
  EXPECT_EQ("30070201010202012c", ToHex(der, len));
  STACK* back = ASN1_seq_unpack(der, len, IntD2i, IntFree);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(300, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sk_value(back, 1))));
  sk_pop_free(back, IntFree);
  EXPECT_EQ(nullptr, ASN1_seq_unpack(der, len - 1, IntD2i, IntFree));
  const unsigned long last = ERR_peek_last_error();
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_ASN1_SEQ_UNPACK, ASN1_R_DECODE_ERROR), last);
  ERR_clear_error();
  MORVANE_free(der);
  EXPECT_EQ(nullptr, ASN1_seq_pack(nullptr, IntI2d, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_SEQ_PACK, ASN1_R_ENCODE_ERROR}});

  // One structure in an OCTET STRING, by i2d and by item; the old contents
  // of a string passed in are replaced.
  auto* one = reinterpret_cast<ASN1_INTEGER*>(sk_value(sk, 1));
  ASN1_STRING* oct = ASN1_pack_string(one, IntI2d, nullptr);
  ASSERT_NE(nullptr, oct);
  EXPECT_EQ("0202012c", Hex(oct));
  auto* i = static_cast<ASN1_INTEGER*>(ASN1_unpack_string(oct, IntD2i));
  EXPECT_EQ(300, ASN1_INTEGER_get(i));
  ASN1_INTEGER_free(i);
  EXPECT_EQ(oct, ASN1_item_pack(sk_value(sk, 0), &ASN1_INTEGER_it, &oct));
  EXPECT_EQ("020101", Hex(oct));
  i = static_cast<ASN1_INTEGER*>(ASN1_item_unpack(oct, &ASN1_INTEGER_it));
  EXPECT_EQ(1, ASN1_INTEGER_get(i));
  ASN1_INTEGER_free(i);
  ASN1_STRING* made = nullptr;
  EXPECT_EQ(ASN1_item_pack(one, &ASN1_INTEGER_it, &made), made);
  ASN1_STRING_free(made);
  ASN1_STRING_set(oct, "\x04\x01", 2);
  EXPECT_EQ(nullptr, ASN1_unpack_string(oct, IntD2i));
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_ASN1_UNPACK_STRING, ASN1_R_DECODE_ERROR),
            ERR_peek_last_error());
  ERR_clear_error();
  EXPECT_EQ(nullptr, ASN1_item_unpack(oct, &ASN1_INTEGER_it));
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_UNPACK, ASN1_R_DECODE_ERROR),
            ERR_peek_last_error());
  ERR_clear_error();
  ASN1_STRING_free(oct);

  // A copy by encoding and decoding.
  auto* copy = static_cast<ASN1_INTEGER*>(ASN1_dup(IntI2d, IntD2i, one));
  ASSERT_NE(nullptr, copy);
  EXPECT_NE(one, copy);
  EXPECT_EQ(0, ASN1_INTEGER_cmp(one, copy));
  ASN1_INTEGER_free(copy);
  EXPECT_EQ(nullptr, ASN1_dup(IntI2d, IntD2i, nullptr));
  sk_pop_free(sk, IntFree);
  EXPECT_ERRORS({});
}

// ---- ASN1_HEADER -----------------------------------------------------------------

TEST(Asn1Header, WithAndWithoutMethod) {
  ASN1_HEADER* h = ASN1_HEADER_new();
  ASSERT_NE(nullptr, h);
  EXPECT_EQ(0, h->header->length);
  EXPECT_EQ(nullptr, h->data);
  EXPECT_EQ(nullptr, h->meth);
  // SEQUENCE { OCTET STRING "hi", IA5String "A" }.
  const Bytes der = FromHex("3007040268691601 41");
  const unsigned char* p = der.data();
  // Without a method only the header is read and the input stays.
  ASSERT_EQ(h, d2i_ASN1_HEADER(&h, &p, 9));
  EXPECT_EQ(der.data(), p);
  EXPECT_EQ("6869", Hex(h->header));
  EXPECT_EQ(nullptr, h->data);
  EXPECT_EQ(0, i2d_ASN1_HEADER(h, nullptr));
  ERR_clear_error();
  h->meth = ASN1_IA5STRING_asn1_meth();
  ASSERT_EQ(h, d2i_ASN1_HEADER(&h, &p, 9));
  EXPECT_EQ(der.data() + 9, p);
  ASSERT_NE(nullptr, h->data);
  EXPECT_EQ("41", Hex(static_cast<ASN1_STRING*>(h->data)));
  EXPECT_EQ(22, static_cast<ASN1_STRING*>(h->data)->type);
  ASSERT_EQ(9, i2d_ASN1_HEADER(h, nullptr));
  unsigned char buf[9];
  unsigned char* q = buf;
  EXPECT_EQ(9, i2d_ASN1_HEADER(h, &q));
  EXPECT_EQ(ToHex(der), ToHex(buf, 9));
  // Trailing octets inside the SEQUENCE: the end check fails.
  const Bytes longer = FromHex("30080402686916014100");
  p = longer.data();
  EXPECT_EQ(nullptr, d2i_ASN1_HEADER(&h, &p, 10));
  EXPECT_EQ(longer.data(), p);
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_D2I_ASN1_HEADER, ERR_R_ASN1_LENGTH_MISMATCH),
            ERR_peek_last_error());
  ERR_clear_error();
  ASN1_HEADER_free(h);
  ASN1_HEADER_free(nullptr);
  // A record made by the call is freed on failure.
  p = der.data();
  EXPECT_EQ(nullptr, d2i_ASN1_HEADER(nullptr, &p, 5));
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_D2I_ASN1_HEADER, ERR_R_BAD_GET_ASN1_OBJECT_CALL),
            ERR_peek_last_error());
  ERR_clear_error();
}

TEST(Asn1Header, BitStringMethod) {
  const ASN1_METHOD* m = ASN1_BIT_STRING_asn1_meth();
  auto* s = static_cast<ASN1_STRING*>(m->create());
  ASSERT_NE(nullptr, s);
  ASN1_BIT_STRING_set_bit(s, 1, 1);
  unsigned char buf[8];
  unsigned char* p = buf;
  ASSERT_EQ(4, m->i2d(s, &p));
  EXPECT_EQ("03020640", ToHex(buf, 4));  // bit 1, six unused bits (X.690, 8.6.2)
  const unsigned char* q = buf;
  void* back = m->d2i(nullptr, &q, 4);
  ASSERT_NE(nullptr, back);
  EXPECT_EQ(1, ASN1_BIT_STRING_get_bit(static_cast<ASN1_STRING*>(back), 1));
  m->destroy(back);
  m->destroy(s);
  EXPECT_NE(m, ASN1_IA5STRING_asn1_meth());
}

}  // namespace
