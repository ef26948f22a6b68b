/* Items declared in C with the macros of morvane/asn1t.h, as an application
 * declares its own (a cached encoding, a reference count, ANY DEFINED BY with
 * and without a default, a CHOICE with a callback, a CHOICE combined into its
 * parent), and runs that drive them through the public template routines and
 * the item codec.  Compiled as C11; the checks are in
 * template_routines_test.cc. */
#include "template_routines.h"

#include <stddef.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/objects.h>

typedef struct {
  ASN1_ENCODING enc;
  ASN1_INTEGER *n;
} CtEnc;

typedef struct {
  int references;
  ASN1_INTEGER *n;
} CtRef;

typedef struct {
  ASN1_OBJECT *kind;
  ASN1_VALUE *value; /* [0] EXPLICIT, ANY DEFINED BY kind */
} CtAdb;
typedef CtAdb CtStrict;

typedef struct {
  int type;
  union {
    ASN1_INTEGER *number;
    ASN1_OCTET_STRING *octets;
  } d;
} CtChoice;

typedef struct {
  ASN1_INTEGER *n;
  int alt; /* selector of the CHOICE combined into the structure */
  union {
    ASN1_INTEGER *number;
    ASN1_IA5STRING *text;
  } u;
} CtHolder;

#define CT_PKCS7_DATA 21 /* NID of 1.2.840.113549.1.7.1 */

static int ct_ops[16];
static int ct_nops;

static int ct_choice_cb(int op, ASN1_VALUE **pval, const ASN1_ITEM *it) {
  (void)pval;
  (void)it;
  if (ct_nops < 16) ct_ops[ct_nops++] = op;
  return 1;
}

ASN1_SEQUENCE_enc(CtEnc, enc, NULL) = {
    ASN1_SIMPLE(CtEnc, n, ASN1_INTEGER),
} ASN1_SEQUENCE_END_enc(CtEnc, CtEnc);

ASN1_SEQUENCE_ref(CtRef, NULL, CT_REF_LOCK) = {
    ASN1_SIMPLE(CtRef, n, ASN1_INTEGER),
} ASN1_SEQUENCE_END_ref(CtRef, CtRef);

ASN1_ADB_TEMPLATE(CtAdb_default) = ASN1_EXP_OPT(CtAdb, value, ASN1_ANY, 0);
ASN1_ADB(CtAdb) = {
    ASN1_ADB_ENTRY(CT_PKCS7_DATA, ASN1_EXP_OPT(CtAdb, value, ASN1_OCTET_STRING, 0)),
} ASN1_ADB_END(CtAdb, 0, kind, 0, &CtAdb_default_tt, NULL);

ASN1_SEQUENCE(CtAdb) = {
    ASN1_SIMPLE(CtAdb, kind, ASN1_OBJECT),
    ASN1_ADB_OBJECT(CtAdb),
} ASN1_SEQUENCE_END(CtAdb);

ASN1_ADB(CtStrict) = {
    ASN1_ADB_ENTRY(CT_PKCS7_DATA, ASN1_EXP_OPT(CtStrict, value, ASN1_OCTET_STRING, 0)),
} ASN1_ADB_END(CtStrict, 0, kind, 0, NULL, NULL);

ASN1_SEQUENCE(CtStrict) = {
    ASN1_SIMPLE(CtStrict, kind, ASN1_OBJECT),
    ASN1_ADB_OBJECT(CtStrict),
} ASN1_SEQUENCE_END(CtStrict);

ASN1_CHOICE_cb(CtChoice, ct_choice_cb) = {
    ASN1_SIMPLE(CtChoice, d.number, ASN1_INTEGER),
    ASN1_EXP(CtChoice, d.octets, ASN1_OCTET_STRING, 1),
} ASN1_CHOICE_END_cb(CtChoice, CtChoice, type);

ASN1_CHOICE(CtHolderAlt) = {
    ASN1_SIMPLE(CtHolder, u.number, ASN1_INTEGER),
    ASN1_SIMPLE(CtHolder, u.text, ASN1_IA5STRING),
} ASN1_CHOICE_END_selector(CtHolder, CtHolderAlt, alt);

ASN1_SEQUENCE(CtHolder) = {
    ASN1_SIMPLE(CtHolder, n, ASN1_INTEGER),
    ASN1_EX_COMBINE(0, 0, CtHolderAlt),
} ASN1_SEQUENCE_END(CtHolder);

int ct_field_pointers(void) {
  CtHolder *h = (CtHolder *)ASN1_item_new(&CtHolder_it);
  if (h == NULL) return 0;
  ASN1_VALUE *v = (ASN1_VALUE *)h;
  const ASN1_TEMPLATE *tt = CtHolder_it.templates;
  int ok = asn1_get_field_ptr(&v, &tt[0]) == (ASN1_VALUE **)&h->n;
  ok = ok && asn1_get_field_ptr(&v, &tt[1]) == &v;
  /* The combined CHOICE's selector is the parent's own field. */
  ok = ok && asn1_get_choice_selector(asn1_get_field_ptr(&v, &tt[1]), &CtHolderAlt_it) == -1;
  ok = ok && asn1_set_choice_selector(&v, 1, &CtHolderAlt_it) == -1 && h->alt == 1;
  asn1_set_choice_selector(&v, -1, &CtHolderAlt_it);
  ASN1_item_free(v, &CtHolder_it);
  return ok;
}

void ct_choice_selectors(int out[4]) {
  ASN1_VALUE *v = ASN1_item_new(&CtChoice_it);
  out[0] = asn1_get_choice_selector(&v, &CtChoice_it);
  out[1] = asn1_set_choice_selector(&v, 1, &CtChoice_it);
  out[2] = asn1_get_choice_selector(&v, &CtChoice_it);
  out[3] = asn1_set_choice_selector(&v, -1, &CtChoice_it);
  ASN1_item_free(v, &CtChoice_it);
}

int ct_choice_round_trip(const unsigned char *der, long len, unsigned char *reencoded,
                         int room, int *selector, int ops[16], int *nops) {
  ct_nops = 0;
  const unsigned char *p = der;
  ASN1_VALUE *v = ASN1_item_d2i(NULL, &p, len, &CtChoice_it);
  int n = -1;
  if (v != NULL) {
    *selector = asn1_get_choice_selector(&v, &CtChoice_it);
    n = ASN1_item_i2d(v, NULL, &CtChoice_it);
    unsigned char *q = reencoded;
    if (n > 0 && n <= room) ASN1_item_i2d(v, &q, &CtChoice_it);
    ASN1_item_free(v, &CtChoice_it);
  }
  memcpy(ops, ct_ops, sizeof ct_ops);
  *nops = ct_nops;
  return n;
}

void ct_reference_counts(int out[5]) {
  ASN1_VALUE *v = ASN1_item_new(&CtRef_it);
  out[0] = ((CtRef *)v)->references;
  out[1] = asn1_do_lock(&v, 1, &CtRef_it);
  out[2] = asn1_do_lock(&v, -1, &CtRef_it);
  out[3] = asn1_do_lock(&v, -1, &CtRef_it);
  /* Released: the count is back at 0, so the structure is freed by hand. */
  asn1_do_lock(&v, 0, &CtRef_it);
  ASN1_item_free(v, &CtRef_it);
  ASN1_VALUE *e = ASN1_item_new(&CtEnc_it);
  out[4] = asn1_do_lock(&e, 1, &CtEnc_it);
  ASN1_item_free(e, &CtEnc_it);
}

void ct_cached_encoding(const unsigned char *octets, int n, int out[7],
                        unsigned char *restored, int *advanced) {
  ASN1_VALUE *v = ASN1_item_new(&CtEnc_it);
  int len = -1;
  out[0] = asn1_enc_restore(&len, NULL, &v, &CtEnc_it);
  out[1] = asn1_enc_save(&v, octets, n, &CtEnc_it);
  unsigned char *p = restored;
  out[2] = asn1_enc_restore(&len, &p, &v, &CtEnc_it);
  out[3] = len;
  *advanced = (int)(p - restored);
  asn1_enc_free(&v, &CtEnc_it);
  out[4] = asn1_enc_restore(NULL, NULL, &v, &CtEnc_it);
  ASN1_item_free(v, &CtEnc_it);

  ASN1_VALUE *r = ASN1_item_new(&CtRef_it);
  out[5] = asn1_enc_save(&r, octets, n, &CtRef_it);
  asn1_enc_init(&r, &CtRef_it); /* nothing to do for an item without cache */
  asn1_enc_free(&r, &CtRef_it);
  out[6] = asn1_enc_restore(&len, NULL, &r, &CtRef_it);
  ASN1_item_free(r, &CtRef_it);
}

int ct_enc_round_trip(const unsigned char *der, long len, int modify, unsigned char *reencoded,
                      int room) {
  const unsigned char *p = der;
  ASN1_VALUE *v = ASN1_item_d2i(NULL, &p, len, &CtEnc_it);
  if (v == NULL) return -1;
  if (modify) {
    asn1_enc_free(&v, &CtEnc_it);
    asn1_enc_init(&v, &CtEnc_it);
  }
  int n = ASN1_item_i2d(v, NULL, &CtEnc_it);
  unsigned char *q = reencoded;
  if (n > 0 && n <= room) ASN1_item_i2d(v, &q, &CtEnc_it);
  ASN1_item_free(v, &CtEnc_it);
  return n;
}

int ct_adb_choice(int nid, int strict, int nullerr) {
  const ASN1_ITEM *it = strict ? &CtStrict_it : &CtAdb_it;
  ASN1_VALUE *v = ASN1_item_new(it);
  CtAdb *a = (CtAdb *)v;
  ASN1_OBJECT_free(a->kind);
  a->kind = nid != 0 ? OBJ_nid2obj(nid) : NULL;
  const ASN1_TEMPLATE *row = strict ? &CtStrict_adbtbl[0].tt : &CtAdb_adbtbl[0].tt;
  int result = -1;
  const ASN1_TEMPLATE *got = asn1_do_adb(&v, &it->templates[1], nullerr);
  if (got == row) result = 0;
  else if (got == &CtAdb_default_tt) result = 1;
  else if (got == NULL) result = 2;
  /* The selector field's own template comes back as given. */
  if (asn1_do_adb(&v, &it->templates[0], nullerr) != &it->templates[0]) result = -1;
  ASN1_item_free(v, it);
  return result;
}

int ct_adb_round_trip(const unsigned char *der, long len, unsigned char *reencoded, int room,
                      int *value_type) {
  const unsigned char *p = der;
  ASN1_VALUE *v = ASN1_item_d2i(NULL, &p, len, &CtAdb_it);
  if (v == NULL) return -1;
  CtAdb *a = (CtAdb *)v;
  if (OBJ_obj2nid(a->kind) == CT_PKCS7_DATA)
    *value_type = ((ASN1_STRING *)a->value)->type;
  else
    *value_type = ASN1_TYPE_get((ASN1_TYPE *)a->value);
  int n = ASN1_item_i2d(v, NULL, &CtAdb_it);
  unsigned char *q = reencoded;
  if (n > 0 && n <= room) ASN1_item_i2d(v, &q, &CtAdb_it);
  ASN1_item_free(v, &CtAdb_it);
  return n;
}
