// The template decoder and encoder on test items declared with the public
// macros: decode outcomes as a table (input, first error or the DER written
// back), the encoder's DEFAULT, SET OF, cached and streaming forms, and the
// mended faults (nesting depth, CHOICE reuse, indefinite primitives, ANY
// with high tags, negative type codes as tags, failures reaching the top).

#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "test_support.h"

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

struct Rec {
  ASN1_INTEGER* num;
  ASN1_OCTET_STRING* opt;  // [0] IMPLICIT OPTIONAL
  ASN1_BOOLEAN flag;       // DEFAULT TRUE
  ASN1_OCTET_STRING* last;
};
ASN1_SEQUENCE(Rec) = {
    ASN1_SIMPLE(Rec, num, ASN1_INTEGER),
    ASN1_IMP_OPT(Rec, opt, ASN1_OCTET_STRING, 0),
    ASN1_OPT(Rec, flag, ASN1_TBOOLEAN),
    ASN1_SIMPLE(Rec, last, ASN1_OCTET_STRING),
} ASN1_SEQUENCE_END(Rec);

struct Brk {
  ASN1_INTEGER* num;
};
ASN1_BROKEN_SEQUENCE(Brk) = {ASN1_SIMPLE(Brk, num, ASN1_INTEGER)} ASN1_BROKEN_SEQUENCE_END(Brk);

struct Cached {
  ASN1_ENCODING enc;
  ASN1_INTEGER* num;
};
ASN1_SEQUENCE_enc(Cached, enc, nullptr) = {
    ASN1_SIMPLE(Cached, num, ASN1_INTEGER),
} ASN1_SEQUENCE_END_enc(Cached, Cached);

struct Ch {
  int type;
  union {
    ASN1_OBJECT* obj;
    ASN1_OCTET_STRING* str;
  } d;
};
ASN1_CHOICE(Ch) = {
    ASN1_SIMPLE(Ch, d.obj, ASN1_OBJECT),
    ASN1_SIMPLE(Ch, d.str, ASN1_OCTET_STRING),
} ASN1_CHOICE_END(Ch);

struct Nest {
  Nest* next;
};
extern "C" const ASN1_ITEM Nest_it;
ASN1_SEQUENCE(Nest) = {ASN1_OPT(Nest, next, Nest)} ASN1_SEQUENCE_END(Nest);

struct Sets {
  STACK* plain;    // SET OF INTEGER OPTIONAL
  STACK* ordered;  // SET OF INTEGER, order written back
  ASN1_BOOLEAN f;  // DEFAULT FALSE
};
ASN1_SEQUENCE(Sets) = {
    ASN1_SET_OF_OPT(Sets, plain, ASN1_INTEGER),
    ASN1_EX_TYPE(ASN1_TF_SET_ORDER | ASN1_TF_OPTIONAL, 0, Sets, ordered, ASN1_INTEGER),
    ASN1_OPT(Sets, f, ASN1_FBOOLEAN),
} ASN1_SEQUENCE_END(Sets);

struct Lists {
  STACK* seq;     // SEQUENCE OF INTEGER OPTIONAL
  STACK* tagged;  // [0] IMPLICIT SET OF INTEGER OPTIONAL
};
ASN1_SEQUENCE(Lists) = {
    ASN1_SEQUENCE_OF_OPT(Lists, seq, ASN1_INTEGER),
    ASN1_IMP_SET_OF_OPT(Lists, tagged, ASN1_INTEGER, 0),
} ASN1_SEQUENCE_END(Lists);

struct Strm {
  ASN1_OCTET_STRING* data;
};
ASN1_NDEF_SEQUENCE(Strm) = {
    ASN1_NDEF_EXP(Strm, data, ASN1_OCTET_STRING_NDEF, 0),
} ASN1_NDEF_SEQUENCE_END(Strm);

// An I2D_PRE callback that drops field b on its second run: the writing pass
// then falls short of what the sizing pass measured.
int g_shrink_calls = 0;
struct Shrink {
  ASN1_INTEGER* a;
  ASN1_INTEGER* b;
};
int ShrinkCb(int op, ASN1_VALUE** in, const ASN1_ITEM*) {
  Shrink* s = reinterpret_cast<Shrink*>(*in);
  if (op == ASN1_CBOP_I2D_PRE && ++g_shrink_calls == 2) {
    ASN1_INTEGER_free(s->b);
    s->b = nullptr;
  }
  return 1;
}
ASN1_SEQUENCE_cb(Shrink, ShrinkCb) = {
    ASN1_SIMPLE(Shrink, a, ASN1_INTEGER),
    ASN1_OPT(Shrink, b, ASN1_INTEGER),
} ASN1_SEQUENCE_END_cb(Shrink, Shrink);

namespace {

// Encodes with the measuring call first and checks the allocating call agrees.
std::string Encode(void* val, const ASN1_ITEM* it) {
  const int measured = ASN1_item_i2d(static_cast<ASN1_VALUE*>(val), nullptr, it);
  unsigned char* der = nullptr;
  const int n = ASN1_item_i2d(static_cast<ASN1_VALUE*>(val), &der, it);
  EXPECT_EQ(measured, n);
  if (n <= 0) return "<" + std::to_string(n) + ">";
  std::string hex = ToHex(der, n);
  MORVANE_free(der);
  return hex;
}

std::string Hex(const char* spaced) {
  return ToHex(FromHex(spaced));
}

int FirstReason() {
  const unsigned long e = ERR_peek_error();
  ERR_clear_error();
  return ERR_GET_REASON(e);
}

struct DecodeCase {
  const ASN1_ITEM* it;
  const char* in;
  int reason;         // first error, or 0 to succeed
  const char* again;  // DER written back; null: the input
};
const DecodeCase kDecode[] = {
    {&Rec_it, "3007020105 04024142", 0, nullptr},
    {&Rec_it, "300a020105 800158 04024142", 0, nullptr},
    {&Rec_it, "300a020105 010100 04024142", 0, nullptr},
    {&Rec_it, "300a020105 0101ff 04024142", 0, "3007020105 04024142"},
    {&Rec_it, "3080020105 04024142 0000", 0, "3007020105 04024142"},
    {&Rec_it, "300b020105 2406 040141 040142", 0, "3007020105 04024142"},
    {&Rec_it, "3009020105 04024142 0500", ASN1_R_SEQUENCE_LENGTH_MISMATCH, nullptr},
    {&Rec_it, "3009020105 0000 04024142", ASN1_R_UNEXPECTED_EOC, nullptr},
    {&Rec_it, "3080020105 04024142", ASN1_R_MISSING_EOC, nullptr},
    {&Rec_it, "3007020105 02024142", ASN1_R_WRONG_TAG, nullptr},
    {&Rec_it, "300b020105 01020000 04024142", ASN1_R_BOOLEAN_IS_WRONG_LENGTH, nullptr},
    {&Rec_it, "1007020105 04024142", ASN1_R_SEQUENCE_NOT_CONSTRUCTED, nullptr},
    {&Rec_it, "", ASN1_R_HEADER_TOO_LONG, nullptr},
    {&Rec_it, "3008020105 04024142", ASN1_R_TOO_LONG, nullptr},
    // X.690 8.1.3.2: no indefinite length on a primitive element.
    {&Rec_it, "3080020105 04804142 0000 0000", ASN1_R_BAD_OBJECT_HEADER, nullptr},
    {&ASN1_OCTET_STRING_it, "0480 41 0000", ASN1_R_BAD_OBJECT_HEADER, nullptr},
    {&ASN1_ANY_it, "3003020105", 0, nullptr},
    {&ASN1_ANY_it, "a003020105", 0, nullptr},
    {&ASN1_ANY_it, "3080 020105 0000", 0, nullptr},
    {&ASN1_ANY_it, "020180", 0, nullptr},
    {&ASN1_ANY_it, "1f820201ff", 0, nullptr},  // universal tag 258 kept whole
    {&ASN1_ANY_it, "050100", ASN1_R_NULL_IS_WRONG_LENGTH, nullptr},
    {&ASN1_ANY_it, "3180 0500", ASN1_R_MISSING_EOC, nullptr},
    {&ASN1_BMPSTRING_it, "1e03414243", ASN1_R_BMPSTRING_IS_WRONG_LENGTH, nullptr},
    {&ASN1_UNIVERSALSTRING_it, "1c06414243444546", ASN1_R_UNIVERSALSTRING_IS_WRONG_LENGTH, nullptr},
    {&DIRECTORYSTRING_it, "0c0141", 0, nullptr},
    {&DIRECTORYSTRING_it, "160141", ASN1_R_MSTRING_WRONG_TAG, nullptr},
    {&DIRECTORYSTRING_it, "800141", ASN1_R_MSTRING_NOT_UNIVERSAL, nullptr},
    // X.690 8.10.1, 8.12.1: a SEQUENCE OF or SET OF is constructed, under an
    // IMPLICIT tag too, even in BER.
    {&Lists_it, "300a 3003020101 a003020102", 0, nullptr},
    {&Lists_it, "3005 1003020101", ASN1_R_TYPE_NOT_CONSTRUCTED, nullptr},
    {&Lists_it, "3005 8003020102", ASN1_R_TYPE_NOT_CONSTRUCTED, nullptr},
    {&Lists_it, "3002 1000", ASN1_R_TYPE_NOT_CONSTRUCTED, nullptr},
    {&Sets_it, "3005 1103020101", ASN1_R_TYPE_NOT_CONSTRUCTED, nullptr},
    {&Ch_it, "0401ff", 0, nullptr},
    {&Ch_it, "0201ff", ASN1_R_NO_MATCHING_CHOICE_TYPE, nullptr},
    {&Ch_it, "0603808001", ASN1_R_INVALID_OBJECT_ENCODING, nullptr},
    {&ASN1_BIT_STRING_it, "030100", 0, nullptr},
    {&ASN1_BIT_STRING_it, "0300", ASN1_R_STRING_TOO_SHORT, nullptr},
    // X.690 8.3.1: an INTEGER has content and is primitive (here a PKITS
    // serial number respelled); 8.1.2: a tag below 31 in one octet, no
    // padding in the long form; 8.19.2: an OBJECT IDENTIFIER ends its last
    // subidentifier.
    {&ASN1_INTEGER_it, "0200", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&ASN1_ENUMERATED_it, "0a00", ASN1_R_ILLEGAL_INTEGER, nullptr},
    // 8.3.2: no redundant leading octet, in any item that holds an INTEGER.
    {&ASN1_INTEGER_it, "02020001", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&ASN1_INTEGER_it, "0202ff80", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&ASN1_ENUMERATED_it, "0a02ffff", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&ASN1_ANY_it, "02020001", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&BIGNUM_it, "02020080", 0, nullptr},
    {&BIGNUM_it, "0203000080", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&LONG_it, "0202ff7f", 0, nullptr},
    {&LONG_it, "02020001", ASN1_R_ILLEGAL_INTEGER, nullptr},
    {&ASN1_INTEGER_it, "2207 aa00 040101 bb00", ASN1_R_TYPE_NOT_PRIMITIVE, nullptr},
    {&ASN1_ANY_it, "2203 020101", ASN1_R_TYPE_NOT_PRIMITIVE, nullptr},
    {&ASN1_ANY_it, "2603 06012a", ASN1_R_TYPE_NOT_PRIMITIVE, nullptr},
    {&ASN1_INTEGER_it, "1f020101", ASN1_R_BAD_TAG, nullptr},
    {&ASN1_ANY_it, "1f801f0100", ASN1_R_BAD_TAG, nullptr},
    {&ASN1_OBJECT_it, "0600", ASN1_R_INVALID_OBJECT_ENCODING, nullptr},
    {&ASN1_OBJECT_it, "06022a86", ASN1_R_INVALID_OBJECT_ENCODING, nullptr},
    // Constructed strings (BER): OCTET STRING pieces, BIT STRING pieces for
    // a BIT STRING (X.690 8.6.4.2's example), unused bits in the last only.
    {&ASN1_OCTET_STRING_it, "2480 0401410000", 0, "040141"},
    {&ASN1_OCTET_STRING_it, "2403 020101", ASN1_R_WRONG_TAG, nullptr},
    {&ASN1_OCTET_STRING_it, "2403 a00100", ASN1_R_WRONG_TAG, nullptr},
    {&ASN1_IA5STRING_it, "3606 040141 160142", 0, "16024142"},
    {&ASN1_BIT_STRING_it, "2380 0303000a3b 0305045f291cd0 0000", 0, "0307040a3b5f291cd0"},
    {&ASN1_BIT_STRING_it, "2308 0302040a 0302000b", ASN1_R_ILLEGAL_BITSTRING_FORMAT, nullptr},
    {&ASN1_OCTET_STRING_it, "2403 0401", ASN1_R_TOO_LONG, nullptr},
    {&ASN1_OCTET_STRING_it, "2405 040141 0401", ASN1_R_TOO_LONG, nullptr},  // piece kept no more
};

TEST(Asn1Decoder, CasesTable) {
  for (const DecodeCase& c : kDecode) {
    SCOPED_TRACE(std::string(c.it->sname) + " " + c.in);
    const Bytes in = FromHex(c.in);
    const unsigned char* p = in.data();
    ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, static_cast<long>(in.size()), c.it);
    if (c.reason != 0) {
      EXPECT_EQ(nullptr, v);
      EXPECT_EQ(c.reason, FirstReason());
      continue;
    }
    ASSERT_NE(nullptr, v) << morvane_test::DrainErrors();
    EXPECT_EQ(in.data() + in.size(), p);
    EXPECT_EQ(ToHex(FromHex(c.again != nullptr ? c.again : c.in)), Encode(v, c.it));
    ASN1_item_free(v, c.it);
  }
}

TEST(Asn1Decoder, MissingFieldNamesItself) {
  const Bytes in = FromHex("3003020105");
  const unsigned char* p = in.data();
  Rec* r = reinterpret_cast<Rec*>(ASN1_item_new(&Rec_it));
  EXPECT_EQ(nullptr, ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(&r), &p, 5, &Rec_it));
  EXPECT_EQ(nullptr, r);  // the structure passed in is freed
  EXPECT_ERRORS(
      {{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_EX_D2I, ASN1_R_FIELD_MISSING, "Field=last, Type=Rec"}});
}

TEST(Asn1Decoder, BrokenLengthLeavesTrailingOctets) {
  const Bytes in = FromHex("3005020105 0500");
  const unsigned char* p = in.data();
  ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, 7, &Brk_it);
  ASSERT_NE(nullptr, v);
  EXPECT_EQ(in.data() + 5, p);
  ASN1_item_free(v, &Brk_it);
}

TEST(Asn1Decoder, ConstructedStringsNestFiveLevels) {
  for (int levels = 1; levels <= 7; levels++) {
    std::string hex = "040141";
    for (int i = 0; i < levels; i++) hex = "2480" + hex + "0000";
    const Bytes in = FromHex(hex);
    const unsigned char* p = in.data();
    ASN1_OCTET_STRING* s = d2i_ASN1_OCTET_STRING(nullptr, &p, static_cast<long>(in.size()));
    if (levels <= 6) {  // the outer element and five nested levels
      ASSERT_NE(nullptr, s) << levels;
      EXPECT_EQ("41", ToHex(s->data, s->length));
      ASN1_OCTET_STRING_free(s);
    } else {
      EXPECT_EQ(nullptr, s);
      EXPECT_EQ(ASN1_R_NESTED_ASN1_STRING, FirstReason());
    }
  }
}

TEST(Asn1Decoder, DepthIsBounded) {
  for (int levels : {30, 31, 5000}) {
    std::string hex = "3000";
    Bytes in = FromHex(hex);
    for (int i = 1; i < levels; i++) {
      Bytes outer = {0x30};
      const size_t n = in.size();
      if (n < 128) {
        outer.push_back(static_cast<uint8_t>(n));
      } else {
        outer.insert(outer.end(), {0x82, static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n)});
      }
      outer.insert(outer.end(), in.begin(), in.end());
      in = outer;
    }
    const unsigned char* p = in.data();
    ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, static_cast<long>(in.size()), &Nest_it);
    if (levels == 30) {
      ASSERT_NE(nullptr, v);
      EXPECT_EQ(ToHex(in), Encode(v, &Nest_it));
      ASN1_item_free(v, &Nest_it);
    } else {
      // The queue keeps the newest entries: one per level above the fault,
      // so the "depth exceeded" entry itself has been pushed out.
      EXPECT_EQ(nullptr, v);
      EXPECT_EQ(ERR_R_NESTED_ASN1_ERROR, ERR_GET_REASON(ERR_peek_last_error()));
      ERR_clear_error();
    }
  }
}

TEST(Asn1Decoder, ChoiceReusedDropsTheOldAlternative) {
  Ch* c = nullptr;
  const Bytes str = FromHex("040141"), obj = FromHex("06012a");
  const unsigned char* p = str.data();
  ASSERT_NE(nullptr, ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(&c), &p, 3, &Ch_it));
  EXPECT_EQ(1, c->type);
  p = obj.data();  // the string must not be taken for an object
  ASSERT_NE(nullptr, ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(&c), &p, 3, &Ch_it));
  EXPECT_EQ(0, c->type);
  EXPECT_EQ("2a", ToHex(c->d.obj->data, c->d.obj->length));
  p = str.data();
  ASSERT_NE(nullptr, ASN1_item_d2i(reinterpret_cast<ASN1_VALUE**>(&c), &p, 3, &Ch_it));
  EXPECT_EQ("040141", Encode(c, &Ch_it));
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(c), &Ch_it);
}

TEST(Asn1Decoder, AnyKeepsWholeElements) {
  struct {
    const char* in;
    int type;
  } cases[] = {{"3003020105", ASN1_UT_SEQUENCE},
               {"a003020105", ASN1_UT_OTHER},
               {"1f820201ff", ASN1_UT_OTHER},
               {"2803020105", ASN1_UT_OTHER},  // EXTERNAL, constructed by nature
               {"0201ff", ASN1_UT_INTEGER}};
  for (const auto& c : cases) {
    const Bytes in = FromHex(c.in);
    const unsigned char* p = in.data();
    ASN1_TYPE* t = d2i_ASN1_TYPE(nullptr, &p, static_cast<long>(in.size()));
    ASSERT_NE(nullptr, t);
    EXPECT_EQ(c.type, t->type);
    if (c.type != ASN1_UT_INTEGER) {
      EXPECT_EQ(ToHex(in), ToHex(t->value.asn1_string->data, t->value.asn1_string->length));
    }
    ASN1_TYPE_free(t);
  }
}

TEST(Asn1Encoder, NegativeCodesWriteTheirUniversalTag) {
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASN1_INTEGER* i = ASN1_INTEGER_new();
  ASN1_INTEGER_set(i, -5);
  ASN1_TYPE_set(t, ASN1_UT_NEG_INTEGER, i);
  EXPECT_EQ("0201fb", Encode(t, &ASN1_ANY_it));
  ASN1_TYPE_free(t);
  ASN1_STRING* e = ASN1_STRING_type_new(ASN1_UT_ENUMERATED);
  ASN1_ENUMERATED_set(e, -5);
  EXPECT_EQ("0a01fb", Encode(e, &ASN1_PRINTABLE_it));
  ASN1_STRING_free(e);
}

TEST(Asn1Encoder, DefaultsSetsAndEmptyStacks) {
  Sets* s = reinterpret_cast<Sets*>(ASN1_item_new(&Sets_it));
  EXPECT_EQ("3000", Encode(s, &Sets_it));  // null stacks, FALSE default
  s->plain = sk_new_null();
  s->ordered = sk_new_null();
  s->f = 255;
  EXPECT_EQ(Hex("3007 3100 3100 0101ff"), Encode(s, &Sets_it));
  for (STACK* sk : {s->plain, s->ordered}) {
    for (long v : {5, 3}) {
      ASN1_INTEGER* i = ASN1_INTEGER_new();
      ASN1_INTEGER_set(i, v);
      sk_push(sk, reinterpret_cast<char*>(i));
    }
  }
  s->f = 0;
  EXPECT_EQ(Hex("3010 3106020103020105 3106020103020105"), Encode(s, &Sets_it));
  // Only SET_ORDER rewrites the STACK in the order written.
  EXPECT_EQ(5, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sk_value(s->plain, 0))));
  EXPECT_EQ(3, ASN1_INTEGER_get(reinterpret_cast<ASN1_INTEGER*>(sk_value(s->ordered, 0))));
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(s), &Sets_it);
}

TEST(Asn1Encoder, TrueDefaultBoolean) {
  Rec* r = reinterpret_cast<Rec*>(ASN1_item_new(&Rec_it));
  ASN1_INTEGER_set(r->num, 1);
  r->flag = 1;
  EXPECT_EQ(Hex("3005020101 0400"), Encode(r, &Rec_it));
  r->flag = 0;
  EXPECT_EQ(Hex("3008020101 010100 0400"), Encode(r, &Rec_it));
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(r), &Rec_it);
}

TEST(Asn1Encoder, CachedEncodingUntilModified) {
  const Bytes in = FromHex("3080 020105 0000");
  const unsigned char* p = in.data();
  Cached* c = reinterpret_cast<Cached*>(ASN1_item_d2i(nullptr, &p, 7, &Cached_it));
  ASSERT_NE(nullptr, c);
  EXPECT_EQ(ToHex(in), Encode(c, &Cached_it));
  c->enc.modified = 1;
  EXPECT_EQ("3003020105", Encode(c, &Cached_it));
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(c), &Cached_it);
}

TEST(Asn1Encoder, StreamingWritesIndefiniteForms) {
  Strm* s = reinterpret_cast<Strm*>(ASN1_item_new(&Strm_it));
  s->data->flags |= ASN1_STRING_NDEF;
  unsigned char* der = nullptr;
  const int n = ASN1_item_ndef_i2d(reinterpret_cast<ASN1_VALUE*>(s), &der, &Strm_it);
  EXPECT_EQ("3080a0802480000000000000", ToHex(der, n));
  MORVANE_free(der);
  EXPECT_EQ("3006a00424800000", Encode(s, &Strm_it));
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(s), &Strm_it);
}

// X.690 8.3.1, 8.19.2: an INTEGER never set is written as zero; an
// OBJECT IDENTIFIER without content has no encoding.
TEST(Asn1Encoder, ValuesWithoutContent) {
  ASN1_INTEGER* i = ASN1_INTEGER_new();
  EXPECT_EQ("020100", Encode(i, &ASN1_INTEGER_it));
  ASN1_INTEGER_free(i);
  ASN1_OBJECT* o = ASN1_OBJECT_new();
  EXPECT_EQ("<-1>", Encode(o, &ASN1_OBJECT_it));
  EXPECT_EQ(ASN1_R_INVALID_OBJECT_ENCODING, FirstReason());
  ASN1_OBJECT_free(o);
}

TEST(Asn1Encoder, FailuresReachTheTop) {
  // A multi-string whose type its item does not accept cannot be written.
  ASN1_STRING* d = ASN1_STRING_type_new(ASN1_UT_IA5STRING);
  unsigned char* der = nullptr;
  EXPECT_EQ(-1, ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(d), &der, &DIRECTORYSTRING_it));
  EXPECT_EQ(nullptr, der);
  EXPECT_EQ(-1, ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(d), nullptr, &DIRECTORYSTRING_it));
  ASN1_STRING_free(d);
  // Written must equal measured, or nothing is handed back.
  Shrink* s = reinterpret_cast<Shrink*>(ASN1_item_new(&Shrink_it));
  s->b = ASN1_INTEGER_new();
  EXPECT_EQ(-1, ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(s), &der, &Shrink_it));
  EXPECT_EQ(nullptr, der);
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(s), &Shrink_it);
}

}  // namespace
