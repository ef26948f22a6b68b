// Creation and freeing through a prototype item declared with the public
// macros: OPTIONAL, EXPLICIT and IMPLICIT fields, SET OF, SEQUENCE OF, ANY
// DEFINED BY with a default, a CHOICE, a CHOICE combined into the parent,
// a reference count and a cached encoding.  Checks the callback order, the
// initial and absent values, the reference count under its lock, a refusing
// NEW_POST, a FREE_PRE that takes over, and an ANY DEFINED BY field without
// a row; every case runs under AddressSanitizer's leak check.

#include <string.h>

#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>

#include "test_support.h"

constexpr int kPkcs7Data = 21;  // NID of 1.2.840.113549.1.7.1 (objects.txt)
constexpr int kProtoLock = CRYPTO_LOCK_X509_REQ;

struct ProtoChoice {
  int type;
  union {
    ASN1_OCTET_STRING* octets;
    ASN1_INTEGER* number;
  } d;
};

struct Proto {
  int references;
  ASN1_ENCODING enc;
  ASN1_OBJECT* kind;        // selects `value`
  ASN1_INTEGER* version;    // [0] EXPLICIT OPTIONAL
  ASN1_OCTET_STRING* name;  // [1] IMPLICIT
  STACK* numbers;           // SET OF INTEGER
  STACK* labels;            // SEQUENCE OF UTF8String
  ASN1_BOOLEAN critical;    // BOOLEAN OPTIONAL
  ASN1_VALUE* value;        // [2] EXPLICIT ANY DEFINED BY kind, OPTIONAL
  ProtoChoice* choice;
  int alt;  // selector of the CHOICE combined into Proto
  union {
    ASN1_IA5STRING* text;
    ASN1_INTEGER* code;
  } comb;
};

// An ANY DEFINED BY without a default row.
struct Strict {
  ASN1_OBJECT* kind;
  ASN1_VALUE* value;
};

// What the callback saw and how it answers.
struct Script {
  std::vector<int> ops;
  int fail_new_post = 0;
  int free_pre_answer = 1;
  int critical_at_free_post = 0;
};
Script g_script;

static int ProtoCallback(int op, ASN1_VALUE** pval, const ASN1_ITEM*) {
  g_script.ops.push_back(op);
  if (op == ASN1_CBOP_NEW_POST && g_script.fail_new_post) return 0;
  if (op == ASN1_CBOP_FREE_PRE) return g_script.free_pre_answer;
  if (op == ASN1_CBOP_FREE_POST)
    g_script.critical_at_free_post = reinterpret_cast<Proto*>(*pval)->critical;
  return 1;
}

ASN1_CHOICE(ProtoChoice) = {
    ASN1_SIMPLE(ProtoChoice, d.octets, ASN1_OCTET_STRING),
    ASN1_EXP(ProtoChoice, d.number, ASN1_INTEGER, 1),
} ASN1_CHOICE_END(ProtoChoice);

ASN1_CHOICE(ProtoComb) = {
    ASN1_SIMPLE(Proto, comb.text, ASN1_IA5STRING),
    ASN1_SIMPLE(Proto, comb.code, ASN1_INTEGER),
} ASN1_CHOICE_END_selector(Proto, ProtoComb, alt);

ASN1_ADB_TEMPLATE(Proto_default) = ASN1_EXP_OPT(Proto, value, ASN1_ANY, 2);
ASN1_ADB(Proto) = {
    ASN1_ADB_ENTRY(kPkcs7Data, ASN1_EXP_OPT(Proto, value, ASN1_OCTET_STRING, 2)),
} ASN1_ADB_END(Proto, 0, kind, 0, &Proto_default_tt, NULL);

ASN1_SEQUENCE_aux(Proto, ASN1_AUX_REFCOUNT | ASN1_AUX_ENCODING, offsetof(Proto, references),
                  kProtoLock, ProtoCallback, offsetof(Proto, enc)) = {
    ASN1_SIMPLE(Proto, kind, ASN1_OBJECT),
    ASN1_EXP_OPT(Proto, version, ASN1_INTEGER, 0),
    ASN1_IMP(Proto, name, ASN1_OCTET_STRING, 1),
    ASN1_SET_OF(Proto, numbers, ASN1_INTEGER),
    ASN1_SEQUENCE_OF(Proto, labels, ASN1_UTF8STRING),
    ASN1_OPT(Proto, critical, ASN1_BOOLEAN),
    ASN1_ADB_OBJECT(Proto),
    ASN1_SIMPLE(Proto, choice, ProtoChoice),
    ASN1_EX_COMBINE(ASN1_TF_OPTIONAL, 0, ProtoComb),  // still created
} ASN1_SEQUENCE_END_cb(Proto, Proto);

ASN1_ADB(Strict) = {
    ASN1_ADB_ENTRY(kPkcs7Data, ASN1_EXP(Strict, value, ASN1_OCTET_STRING, 0)),
} ASN1_ADB_END(Strict, 0, kind, 0, NULL, NULL);

ASN1_SEQUENCE(Strict) = {
    ASN1_SIMPLE(Strict, kind, ASN1_OBJECT),
    ASN1_ADB_OBJECT(Strict),
} ASN1_SEQUENCE_END(Strict);

namespace {

using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

Proto* NewProto() { return reinterpret_cast<Proto*>(ASN1_item_new(ASN1_ITEM_ref(Proto))); }
void FreeProto(Proto* p) {
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(p), ASN1_ITEM_ref(Proto));
}

// Fills every field of a new Proto with values that its free must release.
void Fill(Proto* p, int kind_nid) {
  p->kind = OBJ_nid2obj(kind_nid);
  p->version = ASN1_INTEGER_new();
  for (int i = 0; i < 3; i++) sk_push(p->numbers, reinterpret_cast<char*>(ASN1_INTEGER_new()));
  sk_push(p->labels, reinterpret_cast<char*>(ASN1_UTF8STRING_new()));
  p->critical = 1;
  if (kind_nid == kPkcs7Data) {
    p->value = reinterpret_cast<ASN1_VALUE*>(ASN1_OCTET_STRING_new());
  } else {  // the default row: ANY
    ASN1_TYPE* any = ASN1_TYPE_new();
    any->type = ASN1_UT_IA5STRING;
    any->value.ia5string = ASN1_IA5STRING_new();
    p->value = reinterpret_cast<ASN1_VALUE*>(any);
  }
  p->choice->type = 1;
  p->choice->d.number = ASN1_INTEGER_new();
  p->alt = 0;
  p->comb.text = ASN1_IA5STRING_new();
  p->enc.enc = static_cast<unsigned char*>(CRYPTO_malloc(4, __FILE__, __LINE__));
  p->enc.len = 4;
}

TEST(Asn1Template, CreatesMandatoryFieldsAndAbsentValues) {
  g_script = {};
  Proto* p = NewProto();
  ASSERT_NE(nullptr, p);
  EXPECT_EQ((std::vector<int>{ASN1_CBOP_NEW_PRE, ASN1_CBOP_NEW_POST}), g_script.ops);
  EXPECT_EQ(1, p->references);
  EXPECT_EQ(nullptr, p->enc.enc);
  EXPECT_EQ(1, p->enc.modified);
  EXPECT_EQ(OBJ_nid2obj(0), p->kind);  // the undefined object
  EXPECT_EQ(nullptr, p->version);      // OPTIONAL
  ASSERT_NE(nullptr, p->name);         // IMPLICIT keeps the item's type
  EXPECT_EQ(ASN1_UT_OCTET_STRING, p->name->type);
  EXPECT_EQ(0, sk_num(p->numbers));
  EXPECT_EQ(0, sk_num(p->labels));
  EXPECT_EQ(-1, p->critical);
  EXPECT_EQ(nullptr, p->value);
  ASSERT_NE(nullptr, p->choice);
  EXPECT_EQ(-1, p->choice->type);
  EXPECT_EQ(-1, p->alt);
  EXPECT_EQ(nullptr, p->comb.text);
  FreeProto(p);
  EXPECT_ERRORS({});
}

TEST(Asn1Template, FreesEveryFieldInCallbackOrder) {
  for (int kind : {kPkcs7Data, 0}) {  // the ADB row, then the default
    g_script = {};
    Proto* p = NewProto();
    ASSERT_NE(nullptr, p);
    Fill(p, kind);
    FreeProto(p);
    EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), g_script.ops);
    EXPECT_EQ(-1, g_script.critical_at_free_post);  // BOOLEAN back to absent
  }
  EXPECT_ERRORS({});
}

TEST(Asn1Template, ReferenceTakenOnceMoreNeedsTwoFrees) {
  morvane_test::InstallLockingCallback();
  g_script = {};
  Proto* p = NewProto();
  Fill(p, kPkcs7Data);
  EXPECT_EQ(2, CRYPTO_add(&p->references, 1, kProtoLock));
  morvane_test::StartRecordingLocks();
  FreeProto(p);
  EXPECT_EQ((std::vector<morvane_test::LockEvent>{WriteLock(kProtoLock), WriteUnlock(kProtoLock)}),
            morvane_test::StopRecordingLocks({kProtoLock}));
  EXPECT_EQ(1, p->references);
  EXPECT_EQ((std::vector<int>{0, 1}), g_script.ops);  // no free callback yet
  EXPECT_NE(nullptr, p->version);
  FreeProto(p);
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), g_script.ops);
}

TEST(Asn1Template, RefusedNewPostFailsAndFreesTheHalfBuiltValue) {
  g_script = {};
  g_script.fail_new_post = 1;
  EXPECT_EQ(nullptr, NewProto());
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_EX_COMBINE_NEW, ASN1_R_AUX_ERROR}});
  EXPECT_EQ((std::vector<int>{0, 1, 2, 3}), g_script.ops);
}

TEST(Asn1Template, FreePreAnswerTwoStopsTheEngine) {
  g_script = {};
  Proto* p = NewProto();
  Fill(p, kPkcs7Data);
  ASN1_INTEGER* version = p->version;
  g_script.free_pre_answer = 2;
  FreeProto(p);
  EXPECT_EQ((std::vector<int>{0, 1, 2}), g_script.ops);
  EXPECT_EQ(version, p->version);  // untouched, still readable
  EXPECT_EQ(3, sk_num(p->numbers));
  g_script.free_pre_answer = 1;
  FreeProto(p);  // the count went to 0 already; this free releases it all
}

TEST(Asn1Template, AnyDefinedByWithoutRowIsSkipped) {
  auto* s = reinterpret_cast<Strict*>(ASN1_item_new(ASN1_ITEM_ref(Strict)));
  ASSERT_NE(nullptr, s);
  ASN1_OCTET_STRING* mine = ASN1_OCTET_STRING_new();
  s->kind = OBJ_nid2obj(6);  // rsaEncryption: no row, no default
  s->value = reinterpret_cast<ASN1_VALUE*>(mine);
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(s), ASN1_ITEM_ref(Strict));
  EXPECT_ERRORS({});   // freeing reports nothing
  ASN1_OCTET_STRING_free(mine);  // still ours: a double free would show
  // With the row's selector the field is released through the row.
  s = reinterpret_cast<Strict*>(ASN1_item_new(ASN1_ITEM_ref(Strict)));
  s->kind = OBJ_nid2obj(kPkcs7Data);
  s->value = reinterpret_cast<ASN1_VALUE*>(ASN1_OCTET_STRING_new());
  ASN1_item_free(reinterpret_cast<ASN1_VALUE*>(s), ASN1_ITEM_ref(Strict));
}

TEST(Asn1Template, FreeingAnAbsentFieldDoesNothing) {
  Proto* p = NewProto();
  ASN1_item_ex_free(reinterpret_cast<ASN1_VALUE**>(&p->version), ASN1_ITEM_ref(ASN1_INTEGER));
  EXPECT_EQ(nullptr, p->version);
  FreeProto(p);
}

TEST(Asn1UniversalItems, NullMarkerAndEmptyAny) {
  ASN1_NULL* n = ASN1_NULL_new();
  EXPECT_EQ(reinterpret_cast<ASN1_NULL*>(1), n);
  ASN1_NULL_free(n);  // nothing to release
  ASN1_TYPE* any = ASN1_TYPE_new();
  ASSERT_NE(nullptr, any);
  EXPECT_EQ(-1, any->type);
  EXPECT_EQ(nullptr, any->value.ptr);
  ASN1_TYPE_free(any);
  ASN1_STRING* s = ASN1_PRINTABLE_new();  // a multi-string starts untyped
  ASSERT_NE(nullptr, s);
  EXPECT_EQ(-1, s->type);
  ASN1_PRINTABLE_free(s);
}

TEST(Asn1UniversalItems, TagToMask) {
  const unsigned long want[31] = {0, 0, 0, 0x400, 0x200, 0, 0, 0x1000, 0x1000, 0x1000, 0x1000,
                                  0x1000, 0x2000, 0x1000, 0x1000, 0x1000, 0x10000, 0, 1, 2, 4, 8,
                                  0x10, 0x4000, 0x8000, 0x20, 0x40, 0x80, 0x100, 0x1000, 0x800};
  for (int tag = -1; tag <= 31; tag++)
    EXPECT_EQ(tag < 0 || tag > 30 ? 0 : want[tag], ASN1_tag2bit(tag)) << tag;
}

}  // namespace
