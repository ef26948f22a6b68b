// Content conversions of INTEGER, BIT STRING and BOOLEAN, the LONG and
// BIGNUM items, and the cipher parameter forms of ASN1_TYPE.  Expected
// octets follow X.690 (8.2, 8.3, 8.6) worked by hand.

#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

struct Nums {
  long l;      // [0] LONG OPTIONAL: 0x7FFFFFFF is absent
  long z;      // [1] ZLONG: DEFAULT 0
  BIGNUM* bn;  // CBIGNUM
};
ASN1_SEQUENCE(Nums) = {
    ASN1_IMP_OPT(Nums, l, LONG, 0),
    ASN1_IMP_OPT(Nums, z, ZLONG, 1),
    ASN1_SIMPLE(Nums, bn, CBIGNUM),
} ASN1_SEQUENCE_END(Nums);

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

namespace {

std::string I2cInteger(ASN1_INTEGER* a) {
  const int n = i2c_ASN1_INTEGER(a, nullptr);
  Bytes out(n > 0 ? n : 0);
  unsigned char* p = out.data();
  EXPECT_EQ(n, i2c_ASN1_INTEGER(a, &p));
  return ToHex(out);
}

// X.690 8.3: two's complement contents and the long they stand for.
struct IntCase {
  const char* content;
  long value;
};
constexpr IntCase kIntegers[] = {
    {"0080", 128}, {"ff7f", -129}, {"80", -128},  {"ff", -1},     {"ff00", -256},
    {"00", 0},     {"7f", 127},    {"0100", 256}, {"ff01", -255}, {"80000001", -2147483647},
};

TEST(Asn1Integer, ContentsReadAndWriteBack) {
  for (const IntCase& c : kIntegers) {
    SCOPED_TRACE(c.content);
    const Bytes in = FromHex(c.content);
    const unsigned char* p = in.data();
    ASN1_INTEGER* a = c2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(in.size()));
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(in.data() + in.size(), p);
    EXPECT_EQ(c.value, ASN1_INTEGER_get(a));
    EXPECT_EQ(c.content, I2cInteger(a));
    ASN1_INTEGER* b = ASN1_INTEGER_new();
    ASSERT_EQ(1, ASN1_INTEGER_set(b, c.value));
    EXPECT_EQ(c.content, I2cInteger(b));
    ASN1_INTEGER_free(a);
    ASN1_INTEGER_free(b);
  }
}

// X.690 8.3.2: contents whose first nine bits are all zero or all one carry
// a redundant leading octet and are refused, read as signed or unsigned;
// 80 and 00 80 are the fewest octets (an unsigned read of 80 gives 128).
TEST(Asn1Integer, RedundantLeadingOctetsAreRefused) {
  for (const char* c : {"0001", "000724", "0000", "ff80", "ffff7f", "ffff"}) {
    SCOPED_TRACE(c);
    const Bytes in = FromHex(c);
    const unsigned char* p = in.data();
    EXPECT_EQ(nullptr, c2i_ASN1_INTEGER(nullptr, &p, static_cast<long>(in.size())));
    EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_C2I_ASN1_INTEGER, ASN1_R_ILLEGAL_INTEGER}});
    const Bytes whole = FromHex("02" + ToHex(Bytes{static_cast<uint8_t>(in.size())}) + c);
    p = whole.data();
    EXPECT_EQ(nullptr, d2i_ASN1_UINTEGER(nullptr, &p, static_cast<long>(whole.size())));
    EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_UINTEGER, ASN1_R_ILLEGAL_INTEGER}});
  }
  for (const char* c : {"020180", "02020080"}) {
    const Bytes whole = FromHex(c);
    const unsigned char* p = whole.data();
    ASN1_INTEGER* a = d2i_ASN1_UINTEGER(nullptr, &p, static_cast<long>(whole.size()));
    ASSERT_NE(nullptr, a) << c;
    EXPECT_EQ(128, ASN1_INTEGER_get(a)) << c;
    ASN1_INTEGER_free(a);
  }
}

TEST(Asn1Integer, SetHoldsAWholeLong) {
  // The buffer once held five octets: a long needs eight.
  constexpr long kValues[] = {0x7FFFFFFFFFFFFFFFL, -0x7FFFFFFFFFFFFFFFL - 1, 0x123456789AL};
  constexpr const char* kContents[] = {"7fffffffffffffff", "8000000000000000", "123456789a"};
  for (int i = 0; i < 3; i++) {
    ASN1_INTEGER* a = ASN1_INTEGER_new();
    ASSERT_EQ(1, ASN1_INTEGER_set(a, kValues[i]));
    EXPECT_EQ(kContents[i], I2cInteger(a));
    ASN1_INTEGER_free(a);
  }
  ASN1_INTEGER* zero = ASN1_INTEGER_new();
  EXPECT_EQ("00", I2cInteger(zero));  // no data (never set): zero, one octet
  ASSERT_EQ(1, ASN1_INTEGER_set(zero, 0));
  EXPECT_EQ(0, zero->length);
  EXPECT_EQ("00", I2cInteger(zero));
  // A negative zero is written as zero.
  const unsigned char nz[2] = {0, 0};
  ASN1_STRING_set(zero, nz, 2);
  zero->type = ASN1_UT_NEG_INTEGER;
  EXPECT_EQ("00", I2cInteger(zero));
  ASN1_INTEGER_free(zero);
}

TEST(Asn1Integer, BignumsAndEnumerated) {
  BIGNUM* bn = nullptr;
  ASSERT_NE(0, BN_hex2bn(&bn, "-1234567890ABCDEF12"));
  ASN1_INTEGER* ai = BN_to_ASN1_INTEGER(bn, nullptr);
  EXPECT_EQ("edcba9876f543210ee", I2cInteger(ai));
  BIGNUM* back = ASN1_INTEGER_to_BN(ai, nullptr);
  EXPECT_EQ(0, BN_cmp(bn, back));
  ASN1_ENUMERATED* e = ASN1_ENUMERATED_new();
  ASN1_ENUMERATED_set(e, -5);
  EXPECT_EQ(-5, ASN1_ENUMERATED_get(e));
  EXPECT_EQ(-1, ASN1_INTEGER_get(e));  // another family
  BN_free(bn);
  BN_free(back);
  ASN1_INTEGER_free(ai);
  ASN1_ENUMERATED_free(e);
}

TEST(Asn1LongAndBignum, FieldsEncodeAndDecode) {
  struct {
    long l, z;
    const char* bn;
    const char* der;
  } cases[] = {
      {0x7FFFFFFF, 0, "0", "3003 020100"},
      {128, -129, "FF", "300c 80020080 8102ff7f 020200ff"},
      {0x10000000000L, -1, "80", "300f 8006010000000000 8101ff 02020080"},
      {-0x7FFFFFFFFFFFFFFFL - 1, 0x7FFFFFFF, "0", "3013 80088000000000000000 81047fffffff 020100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.der);
    Nums* n = reinterpret_cast<Nums*>(ASN1_item_new(&Nums_it));
    n->l = c.l;
    n->z = c.z;
    BN_hex2bn(&n->bn, c.bn);
    unsigned char* der = nullptr;
    const int len = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(n), &der, &Nums_it);
    EXPECT_EQ(ToHex(FromHex(c.der)), ToHex(der, len > 0 ? len : 0));
    const unsigned char* p = der;
    Nums* back = reinterpret_cast<Nums*>(ASN1_item_d2i(nullptr, &p, len, &Nums_it));
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(c.l, back->l);
    EXPECT_EQ(c.z, back->z);
    EXPECT_EQ(0, BN_cmp(n->bn, back->bn));
    MORVANE_free(der);
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(n), &Nums_it);
    ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(back), &Nums_it);
  }
  // ZLONG never reads its DEFAULT; LONG takes at most a long's octets.
  for (const char* bad : {"3009 800101 810100 020100", "300e 8009010000000000000000 020100"}) {
    const Bytes in = FromHex(bad);
    const unsigned char* p = in.data();
    EXPECT_EQ(nullptr, ASN1_item_d2i(nullptr, &p, static_cast<long>(in.size()), &Nums_it));
    EXPECT_EQ(ASN1_R_INTEGER_TOO_LARGE_FOR_LONG, ERR_GET_REASON(ERR_peek_error()));
    ERR_clear_error();
  }
}

// BIT STRING contents (X.690 8.6): data and flags in, octets out (an empty
// string has no unused bits, whatever the flags say).
struct BitCase {
  const char* data;
  long flags;
  const char* content;
};
constexpr BitCase kBitStrings[] = {
    {"0a00", 0, "010a"}, {"0a00", ASN1_STRING_BITS_LEFT | 3, "030a00"}, {"", 0, "00"},
    {"0000", 0, "00"},   {"ff", ASN1_STRING_BITS_LEFT | 4, "04f0"},     {"80", 0, "0780"},
    {"", ASN1_STRING_BITS_LEFT | 3, "00"},
};

TEST(Asn1BitString, Contents) {
  for (const BitCase& c : kBitStrings) {
    SCOPED_TRACE(c.content);
    const Bytes d = FromHex(c.data);
    ASN1_BIT_STRING* a = ASN1_BIT_STRING_new();
    ASN1_BIT_STRING_set(a, const_cast<unsigned char*>(d.data()), static_cast<int>(d.size()));
    a->flags = c.flags;
    unsigned char* der = nullptr;
    const int n = i2d_ASN1_BIT_STRING(a, &der);
    EXPECT_EQ("03" + ToHex(Bytes{static_cast<uint8_t>(strlen(c.content) / 2)}) + c.content,
              ToHex(der, n));
    MORVANE_free(der);
    ASN1_BIT_STRING_free(a);
  }
}

TEST(Asn1BitString, ReadEdges) {
  // Only the count: null data.  A count of 8 or more is refused (it would
  // clear the last octet and read back as another value), and so is any
  // count on an empty string.
  struct {
    const char* content;
    const char* data;  // null: refused
  } cases[] = {{"00", ""},        {"01", nullptr},   {"07", nullptr},
               {"08ff", nullptr}, {"ffff", nullptr}, {"0380ff", "80f8"}};
  for (const auto& c : cases) {
    const Bytes in = FromHex(c.content);
    const unsigned char* p = in.data();
    ASN1_BIT_STRING* a = c2i_ASN1_BIT_STRING(nullptr, &p, static_cast<long>(in.size()));
    if (c.data == nullptr) {
      EXPECT_EQ(nullptr, a) << c.content;
      EXPECT_EQ(in.data(), p);
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_C2I_ASN1_BIT_STRING, ASN1_R_INVALID_BIT_STRING_BITS_LEFT}});
      continue;
    }
    ASSERT_NE(nullptr, a);
    EXPECT_EQ(c.data, ToHex(a->data, a->length));
    ASN1_BIT_STRING_free(a);
  }
  const unsigned char* p = nullptr;
  EXPECT_EQ(nullptr, c2i_ASN1_BIT_STRING(nullptr, &p, 0));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_C2I_ASN1_BIT_STRING, ASN1_R_STRING_TOO_SHORT}});
}

TEST(Asn1BitString, SetAndGetBits) {
  ASN1_BIT_STRING* a = ASN1_BIT_STRING_new();
  ASSERT_EQ(1, ASN1_BIT_STRING_set_bit(a, 9, 1));
  EXPECT_EQ("0040", ToHex(a->data, a->length));
  EXPECT_EQ(1, ASN1_BIT_STRING_get_bit(a, 9));
  EXPECT_EQ(0, ASN1_BIT_STRING_get_bit(a, 8));
  EXPECT_EQ(0, ASN1_BIT_STRING_get_bit(a, 100));
  EXPECT_EQ(0, ASN1_BIT_STRING_set_bit(a, -1, 1));
  EXPECT_EQ(0, ASN1_BIT_STRING_get_bit(a, -1));
  ASSERT_EQ(1, ASN1_BIT_STRING_set_bit(a, 9, 0));
  EXPECT_EQ(0, a->length);
  ASN1_BIT_STRING_free(a);
}

TEST(Asn1Boolean, ElementOutsideTemplates) {
  struct {
    const char* der;
    int result;
    int reason;
  } cases[] = {{"0101ff", 255, 0},
               {"010100", 0, 0},
               {"01020000", -1, ASN1_R_BOOLEAN_IS_WRONG_LENGTH},
               {"020100", -1, ASN1_R_EXPECTING_A_BOOLEAN},
               {"0180", -1, ASN1_R_BOOLEAN_IS_WRONG_LENGTH}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.der);
    const Bytes in = FromHex(c.der);
    const unsigned char* p = in.data();
    int v = 7;
    EXPECT_EQ(c.result, d2i_ASN1_BOOLEAN(&v, &p, static_cast<long>(in.size())));
    EXPECT_EQ(c.reason ? in.data() : in.data() + in.size(), p);
    if (c.reason) {
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_D2I_ASN1_BOOLEAN, c.reason}});
    }
  }
  unsigned char out[3];
  unsigned char* p = out;
  EXPECT_EQ(3, i2d_ASN1_BOOLEAN(0x1FF, &p));
  EXPECT_EQ("0101ff", ToHex(out, 3));
}

TEST(Asn1Type, CipherParameterForms) {
  ASN1_TYPE* t = ASN1_TYPE_new();
  unsigned char iv[16];
  for (int i = 0; i < 16; i++) iv[i] = static_cast<unsigned char>(i);
  ASSERT_EQ(1, ASN1_TYPE_set_octetstring(t, iv, 16));
  unsigned char got[16] = {};
  EXPECT_EQ(16, ASN1_TYPE_get_octetstring(t, got, 8));
  EXPECT_EQ(0, memcmp(got, iv, 8));
  EXPECT_EQ(0, got[8]);
  // RFC 2268 style parameters: SEQUENCE { INTEGER 58, OCTET STRING iv }.
  ASSERT_EQ(1, ASN1_TYPE_set_int_octetstring(t, 58, iv, 8));
  EXPECT_EQ("300d02013a04080001020304050607",
            ToHex(t->value.sequence->data, t->value.sequence->length));
  long num = 0;
  memset(got, 0, sizeof got);
  EXPECT_EQ(8, ASN1_TYPE_get_int_octetstring(t, &num, got, 4));
  EXPECT_EQ(58, num);
  EXPECT_EQ("0001020300000000", ToHex(got, 8));
  EXPECT_EQ(-1, ASN1_TYPE_get_octetstring(t, got, 16));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_TYPE_GET_OCTETSTRING, ASN1_R_DATA_IS_WRONG}});
  // A negative length is refused and leaves the value as it was (it used to
  // size the SEQUENCE one octet short and write past it).
  EXPECT_EQ(0, ASN1_TYPE_set_int_octetstring(t, 5, iv, -1));
  EXPECT_EQ(0, ASN1_TYPE_set_octetstring(t, iv, -1));
  EXPECT_EQ(ASN1_UT_SEQUENCE, t->type);
  EXPECT_EQ(15, t->value.sequence->length);
  // Trailing octets inside the sequence are refused.
  const Bytes bad = FromHex("300e02013a0408000102030405060700");
  ASN1_STRING* seq = ASN1_STRING_type_new(ASN1_UT_SEQUENCE);
  ASN1_STRING_set(seq, bad.data(), static_cast<int>(bad.size()));
  ASN1_TYPE_set(t, ASN1_UT_SEQUENCE, seq);
  EXPECT_EQ(-1, ASN1_TYPE_get_int_octetstring(t, &num, got, 16));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_TYPE_GET_INT_OCTETSTRING, ASN1_R_DATA_IS_WRONG}});
  ASN1_TYPE_free(t);
}

// Content octets into a field through the template decoder's conversion
// (X.690, 8.2, 8.3, 8.8): each row one primitive item and content.
TEST(ContentConversion, ExC2iByType) {
  struct Row {
    const char* what;
    const ASN1_ITEM* it;
    int utype;
    const char* content;
    int reason;  // 0: converted
  };
  const Row rows[] = {
      {"NULL", &ASN1_NULL_it, ASN1_UT_NULL, "", 0},
      {"NULL with content", &ASN1_NULL_it, ASN1_UT_NULL, "00", ASN1_R_NULL_IS_WRONG_LENGTH},
      {"BOOLEAN", &ASN1_BOOLEAN_it, ASN1_UT_BOOLEAN, "ff", 0},
      {"BOOLEAN of two octets", &ASN1_BOOLEAN_it, ASN1_UT_BOOLEAN, "ff00",
       ASN1_R_BOOLEAN_IS_WRONG_LENGTH},
      {"INTEGER -1", &ASN1_INTEGER_it, ASN1_UT_INTEGER, "ff", 0},
      {"INTEGER without content", &ASN1_INTEGER_it, ASN1_UT_INTEGER, "", ASN1_R_ILLEGAL_INTEGER},
      {"BIGNUM without content", &BIGNUM_it, ASN1_UT_INTEGER, "", ASN1_R_ILLEGAL_INTEGER},
      {"ENUMERATED 5", &ASN1_ENUMERATED_it, ASN1_UT_ENUMERATED, "05", 0},
      {"OCTET STRING", &ASN1_OCTET_STRING_it, ASN1_UT_OCTET_STRING, "0102", 0},
      {"BMPString of odd length", &ASN1_BMPSTRING_it, ASN1_UT_BMPSTRING, "004100",
       ASN1_R_BMPSTRING_IS_WRONG_LENGTH},
      {"ANY holding an OCTET STRING", &ASN1_ANY_it, ASN1_UT_OCTET_STRING, "41", 0},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const Bytes content = FromHex(r.content);
    union {
      ASN1_VALUE* ptr;
      int boolean;
    } field = {nullptr};
    if (r.utype == ASN1_UT_BOOLEAN) field.boolean = -1;
    char take = 0;
    const int ok = asn1_ex_c2i(&field.ptr, content.data(), static_cast<int>(content.size()),
                               r.utype, &take, r.it);
    if (r.reason != 0) {
      EXPECT_EQ(0, ok);
      EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_EX_C2I, r.reason}});
      continue;
    }
    ASSERT_EQ(1, ok);
    switch (r.utype) {
      case ASN1_UT_NULL:
        EXPECT_EQ(reinterpret_cast<ASN1_VALUE*>(1), field.ptr);  // the presence marker
        continue;
      case ASN1_UT_BOOLEAN:
        EXPECT_EQ(0xFF, field.boolean);
        continue;
      case ASN1_UT_INTEGER:
        EXPECT_EQ(-1, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(field.ptr)));
        break;
      case ASN1_UT_ENUMERATED:
        EXPECT_EQ(5, ASN1_ENUMERATED_get(reinterpret_cast<ASN1_ENUMERATED*>(field.ptr)));
        break;
      default:
        if (r.it == &ASN1_ANY_it) {
          const auto* t = reinterpret_cast<ASN1_TYPE*>(field.ptr);
          EXPECT_EQ(ASN1_UT_OCTET_STRING, t->type);
          EXPECT_EQ(r.content, ToHex(t->value.octet_string->data,
                                     static_cast<size_t>(t->value.octet_string->length)));
        } else {
          const auto* str = reinterpret_cast<ASN1_STRING*>(field.ptr);
          EXPECT_EQ(ASN1_UT_OCTET_STRING, str->type);
          EXPECT_EQ(r.content, ToHex(str->data, static_cast<size_t>(str->length)));
        }
    }
    ASN1_item_ex_free(&field.ptr, r.it);
  }
  // A buffer of the caller's heap is taken over by a string rather than
  // copied, which clears the caller's free flag; a negative length is too
  // long.
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(3));
  memcpy(buf, "ab", 3);
  ASN1_VALUE* str = nullptr;
  char take = 1;
  ASSERT_EQ(1, asn1_ex_c2i(&str, buf, 2, ASN1_UT_OCTET_STRING, &take, &ASN1_OCTET_STRING_it));
  EXPECT_EQ(0, take);
  EXPECT_EQ(buf, reinterpret_cast<ASN1_STRING*>(str)->data);
  ASN1_item_ex_free(&str, &ASN1_OCTET_STRING_it);
  EXPECT_EQ(0, asn1_ex_c2i(&str, nullptr, -1, ASN1_UT_OCTET_STRING, &take, &ASN1_OCTET_STRING_it));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_EX_C2I, ASN1_R_TOO_LONG}});
}

}  // namespace
