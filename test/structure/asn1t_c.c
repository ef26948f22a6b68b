/* The template macros of morvane/asn1t.h compiled as C99 and C11 (-pedantic): one
 * item of each kind and each family of field forms.  Compiled only; the C++
 * forms run in test/asn1. */
#include <morvane/asn1t.h>
#include <morvane/crypto.h>

typedef struct {
  int type;
  union {
    ASN1_INTEGER *number;
    ASN1_NULL *null;
  } d;
} CChoice;

typedef struct {
  int references;
  ASN1_ENCODING enc;
  ASN1_OBJECT *kind;
  ASN1_VALUE *value;
  ASN1_INTEGER *a, *b, *c;
  STACK *s1, *s2, *s3;
  CChoice *choice;
} CSeq;

typedef CSeq CSeqEnc;
typedef CSeq CNdef;

static int c_cb(int op, ASN1_VALUE **pval, const ASN1_ITEM *it) { return op + !pval + !it; }

ASN1_CHOICE(CChoice) = {
    ASN1_SIMPLE(CChoice, d.number, ASN1_INTEGER),
    ASN1_IMP(CChoice, d.null, ASN1_NULL, 0),
} ASN1_CHOICE_END(CChoice);

ASN1_ADB_TEMPLATE(CSeq_default) = ASN1_EXP_OPT(CSeq, value, ASN1_ANY, 9);
ASN1_ADB(CSeq) = {
    ASN1_ADB_ENTRY(21, ASN1_EXP_OPT(CSeq, value, ASN1_OCTET_STRING, 9)),
} ASN1_ADB_END(CSeq, 0, kind, 0, &CSeq_default_tt, NULL);

ASN1_SEQUENCE_ref(CSeq, c_cb, CRYPTO_LOCK_X509) = {
    ASN1_SIMPLE(CSeq, kind, ASN1_OBJECT),
    ASN1_IMP_OPT(CSeq, a, ASN1_INTEGER, 1),
    ASN1_NDEF_EXP_OPT(CSeq, b, ASN1_INTEGER, 3),
    ASN1_SET_ORDER_OF(CSeq, s1, ASN1_INTEGER),
    ASN1_SEQUENCE_OF_OPT(CSeq, s2, ASN1_INTEGER),
    ASN1_EXP_SET_OF_OPT(CSeq, s3, ASN1_INTEGER, 6),
    ASN1_ADB_OBJECT(CSeq),
    ASN1_SIMPLE(CSeq, choice, CChoice),
} ASN1_SEQUENCE_END_ref(CSeq, CSeq);

ASN1_SEQUENCE_enc(CSeqEnc, enc, c_cb) = {
    ASN1_SIMPLE(CSeq, c, ASN1_INTEGER),
} ASN1_SEQUENCE_END_enc(CSeqEnc, CSeqEnc);

ASN1_NDEF_SEQUENCE(CNdef) = {
    ASN1_ADB_INTEGER(CSeq),
} ASN1_NDEF_SEQUENCE_END(CNdef);

ASN1_ITEM_TEMPLATE(CList) = ASN1_EX_TEMPLATE_TYPE(ASN1_TF_SET_OF, 0, CList, ASN1_INTEGER)
ASN1_ITEM_TEMPLATE_END(CList);

ASN1_ITEM_PRIMITIVE(CString, ASN1_UT_IA5STRING);
ASN1_ITEM_MSTRING(CMulti, 0x2850);
