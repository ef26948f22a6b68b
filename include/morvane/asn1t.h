/* Morvane: ASN.1 template descriptors and the macros that declare them.
 *
 * Every ASN.1 structure is described by one constant ASN1_ITEM (named
 * <type>_it), whose ASN1_TEMPLATEs describe its fields.  One generic engine
 * creates, frees, decodes and encodes any value from its item.  Declare an
 * item with the macros below; a structure `Pair` with two fields reads:
 *
 *   ASN1_SEQUENCE(Pair) = {
 *     ASN1_SIMPLE(Pair, type, ASN1_OBJECT),
 *     ASN1_EXP_OPT(Pair, value, ASN1_ANY, 0),
 *   } ASN1_SEQUENCE_END(Pair);
 *
 * In C++ this defines `extern "C" constinit const ASN1_ITEM Pair_it` with its
 * templates `static constexpr`: nothing runs at load time.  An item used
 * outside its file is declared (with MORVANE_EXPORT in a public header) as
 * `extern const ASN1_ITEM Pair_it;`; define it at namespace scope.  Items
 * referred to by a template must be declared before it, and an ADB table
 * before the sequence that uses it.
 *
 * Values: a SEQUENCE or CHOICE is a zero-filled structure of the item's size
 * whose fields lie at the templates' offsets; SET OF and SEQUENCE OF fields
 * are STACKs; a CHOICE keeps the index of its present alternative (or -1) in
 * an int selector.  A BOOLEAN field is an ASN1_BOOLEAN (an int) held in place
 * of a pointer; the engine writes it at that width and no wider.
 *
 * Null arguments: the routines need a valid item or template and field
 * pointer, except where one says otherwise. */
#ifndef MORVANE_ASN1T_H
#define MORVANE_ASN1T_H

#include <stddef.h>

#include <morvane/asn1.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- records ------------------------------------------------------------ */

typedef struct ASN1_TEMPLATE_st ASN1_TEMPLATE;
typedef struct ASN1_ADB_st ASN1_ADB;
typedef struct ASN1_ADB_TABLE_st ASN1_ADB_TABLE;
typedef struct ASN1_TLC_st ASN1_TLC;

/* Item kinds (ASN1_ITEM.itype). */
#define ASN1_KIND_PRIMITIVE 0x0
#define ASN1_KIND_SEQUENCE 0x1
#define ASN1_KIND_CHOICE 0x2
#define ASN1_KIND_COMPAT 0x3 /* old-style codec; no item of the library */
#define ASN1_KIND_EXTERN 0x4
#define ASN1_KIND_MSTRING 0x5
#define ASN1_KIND_NDEF_SEQUENCE 0x6

struct ASN1_ITEM_st {
  char itype;                       /* ASN1_KIND_* */
  long utype;                       /* type code, tag mask, selector offset or tag */
  const ASN1_TEMPLATE *templates;   /* fields, alternatives, or the one template */
  long tcount;                      /* number of templates */
  const void *funcs;                /* ASN1_AUX, ASN1_PRIMITIVE_FUNCS, ... or null */
  long size;                        /* structure size, or a primitive's own value */
  const char *sname;                /* the type's name */
};

/* Template flags (ASN1_TEMPLATE.flags). */
#define ASN1_TF_OPTIONAL 0x1
#define ASN1_TF_SET_OF 0x2      /* the field is a STACK */
#define ASN1_TF_SEQUENCE_OF 0x4 /* the field is a STACK */
#define ASN1_TF_SET_ORDER 0x6   /* SET OF, sorted order written back */
#define ASN1_TF_SK_MASK 0x6
#define ASN1_TF_IMPLICIT 0x8
#define ASN1_TF_EXPLICIT 0x10
#define ASN1_TF_TAG_MASK 0x18
#define ASN1_TF_UNIVERSAL 0x00
#define ASN1_TF_APPLICATION 0x40
#define ASN1_TF_CONTEXT 0x80
#define ASN1_TF_PRIVATE 0xC0
#define ASN1_TF_TAG_CLASS 0xC0
#define ASN1_TF_ADB_OID 0x100
#define ASN1_TF_ADB_INT 0x200
#define ASN1_TF_ADB_MASK 0x300
#define ASN1_TF_COMBINE 0x400 /* the field's value is the parent structure */
#define ASN1_TF_NDEF 0x800    /* indefinite length in streaming encodes */

/* A field.  `adb` replaces `item` under ASN1_TF_ADB_OID or ASN1_TF_ADB_INT.
 * C99 has no unnamed unions: there the field is `item` alone, and an ANY
 * DEFINED BY field keeps its ASN1_ADB's address in it (the same pointer
 * in the same place). */
#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L)
struct ASN1_TEMPLATE_st {
  unsigned long flags;
  long tag;
  unsigned long offset;
  const char *field_name;
  union {
    const ASN1_ITEM *item;
    const ASN1_ADB *adb;
  };
};
#define ASN1_TEMPLATE_ADB_(adbp) .adb = (adbp)
#else
struct ASN1_TEMPLATE_st {
  unsigned long flags;
  long tag;
  unsigned long offset;
  const char *field_name;
  const ASN1_ITEM *item;
};
#define ASN1_TEMPLATE_ADB_(adbp) .item = (const ASN1_ITEM *)(const void *)(adbp)
#endif

/* ANY DEFINED BY: the selector field at `offset` (an OBJECT IDENTIFIER read
 * as its NID, or an INTEGER) picks the row whose value matches, else
 * `default_tt`; null_tt is not consulted. */
struct ASN1_ADB_TABLE_st {
  long value;
  ASN1_TEMPLATE tt;
};

struct ASN1_ADB_st {
  unsigned long flags;
  unsigned long offset;
  STACK **app_items;
  const ASN1_ADB_TABLE *tbl;
  long tblcount;
  const ASN1_TEMPLATE *default_tt;
  const ASN1_TEMPLATE *null_tt;
};

/* Callback operations and the auxiliary record of SEQUENCE and CHOICE items.
 * The callback returns 0 to fail creation, decoding or encoding; 2 from
 * ASN1_CBOP_NEW_PRE means it made the value itself, 2 from ASN1_CBOP_FREE_PRE
 * that it released it. */
#define ASN1_CBOP_NEW_PRE 0
#define ASN1_CBOP_NEW_POST 1
#define ASN1_CBOP_FREE_PRE 2
#define ASN1_CBOP_FREE_POST 3
#define ASN1_CBOP_D2I_PRE 4
#define ASN1_CBOP_D2I_POST 5
#define ASN1_CBOP_I2D_PRE 6
#define ASN1_CBOP_I2D_POST 7

typedef int ASN1_aux_cb(int operation, ASN1_VALUE **in, const ASN1_ITEM *it);

#define ASN1_AUX_REFCOUNT 0x1 /* int count at ref_offset, changed under ref_lock */
#define ASN1_AUX_ENCODING 0x2 /* ASN1_ENCODING at enc_offset */
#define ASN1_AUX_BROKEN 0x4   /* trailing octets of a definite SEQUENCE tolerated */

typedef struct ASN1_AUX_st {
  void *app_data;
  int flags;
  int ref_offset;
  int ref_lock;
  ASN1_aux_cb *asn1_cb;
  int enc_offset;
} ASN1_AUX;

/* The header cache of one decode. */
struct ASN1_TLC_st {
  char valid;
  int ret;
  long plen;
  int ptag;
  int pclass;
  int hdrlen;
};

typedef int ASN1_ex_d2i(ASN1_VALUE **pval, const unsigned char **in, long len,
                        const ASN1_ITEM *it, int tag, int aclass, char opt, ASN1_TLC *ctx);
typedef int ASN1_ex_i2d(ASN1_VALUE **pval, unsigned char **out, const ASN1_ITEM *it, int tag,
                        int aclass);
typedef int ASN1_ex_new_func(ASN1_VALUE **pval, const ASN1_ITEM *it);
typedef void ASN1_ex_free_func(ASN1_VALUE **pval, const ASN1_ITEM *it);
typedef int ASN1_primitive_i2c(ASN1_VALUE **pval, unsigned char *cont, int *putype,
                               const ASN1_ITEM *it);
typedef int ASN1_primitive_c2i(ASN1_VALUE **pval, const unsigned char *cont, int len, int utype,
                               char *free_cont, const ASN1_ITEM *it);

/* A primitive with its own in-memory form (a BIGNUM, a long). */
typedef struct ASN1_PRIMITIVE_FUNCS_st {
  void *app_data;
  unsigned long flags;
  ASN1_ex_new_func *prim_new;
  ASN1_ex_free_func *prim_free;
  ASN1_ex_free_func *prim_clear;
  ASN1_primitive_c2i *prim_c2i;
  ASN1_primitive_i2c *prim_i2c;
} ASN1_PRIMITIVE_FUNCS;

/* An item with its own codec (the distinguished name). */
typedef struct ASN1_EXTERN_FUNCS_st {
  void *app_data;
  ASN1_ex_new_func *asn1_ex_new;
  ASN1_ex_free_func *asn1_ex_free;
  ASN1_ex_free_func *asn1_ex_clear;
  ASN1_ex_d2i *asn1_ex_d2i;
  ASN1_ex_i2d *asn1_ex_i2d;
} ASN1_EXTERN_FUNCS;

/* An old-style codec (ASN1_KIND_COMPAT); declared for completeness. */
typedef struct ASN1_COMPAT_FUNCS_st {
  void *(*asn1_new)(void);
  void (*asn1_free)(void *value);
  void *(*asn1_d2i)(void **pval, const unsigned char **in, long len);
  int (*asn1_i2d)(void *value, unsigned char **out);
} ASN1_COMPAT_FUNCS;

/* ---- the engine --------------------------------------------------------- */

/* The mask bit of a universal tag (a multi-string's utype is a mask of these);
 * 0 for tags outside 0..30. */
MORVANE_EXPORT unsigned long ASN1_tag2bit(int tag);

/* Create into the field *pval: 1, or 0 with an error queued. */
MORVANE_EXPORT int ASN1_item_ex_new(ASN1_VALUE **pval, const ASN1_ITEM *it);
MORVANE_EXPORT int ASN1_template_new(ASN1_VALUE **pval, const ASN1_TEMPLATE *tt);
/* A null `it` or a multi-string item makes an ASN1_STRING of type -1. */
MORVANE_EXPORT int ASN1_primitive_new(ASN1_VALUE **pval, const ASN1_ITEM *it);
/* Free the value in the field *pval and leave the field's absent value. */
MORVANE_EXPORT void ASN1_item_ex_free(ASN1_VALUE **pval, const ASN1_ITEM *it);
MORVANE_EXPORT void ASN1_template_free(ASN1_VALUE **pval, const ASN1_TEMPLATE *tt);
/* With `it` null, *pval is an ASN1_TYPE whose contents alone are freed. */
MORVANE_EXPORT void ASN1_primitive_free(ASN1_VALUE **pval, const ASN1_ITEM *it);

/* Decoding and encoding with a tag override (tag -1: the item's own; else
 * tag with the class bits of aclass, IMPLICIT).  ASN1_item_ex_d2i returns 1
 * decoded, -1 an OPTIONAL element absent (opt set; nothing consumed), 0
 * error; ctx is the header cache of one decode (zero it before the first
 * call).  ASN1_item_ex_i2d returns the element's length (written at *out
 * and advanced when out is given), 0 for an absent value, -1 on failure. */
MORVANE_EXPORT int ASN1_item_ex_d2i(ASN1_VALUE **pval, const unsigned char **in, long len,
                                    const ASN1_ITEM *it, int tag, int aclass, char opt,
                                    ASN1_TLC *ctx);
MORVANE_EXPORT int ASN1_item_ex_i2d(ASN1_VALUE **pval, unsigned char **out, const ASN1_ITEM *it,
                                    int tag, int aclass);
/* One template, not optional, with its own tag. */
MORVANE_EXPORT int ASN1_template_d2i(ASN1_VALUE **pval, const unsigned char **in, long len,
                                     const ASN1_TEMPLATE *tt);
MORVANE_EXPORT int ASN1_template_i2d(ASN1_VALUE **pval, unsigned char **out,
                                     const ASN1_TEMPLATE *tt);
/* The content octets cont (len of them) of a primitive element of type utype
 * into the field *pval of the primitive or multi-string item it (an ANY item
 * holds an ASN1_TYPE, made when absent): the item's prim_c2i when it has one,
 * else by type (NULL empty, BOOLEAN one octet, INTEGER and ENUMERATED through
 * c2i_ASN1_INTEGER, ...; a string is reused or made).  When *free_cont is
 * non-zero, cont is a CRYPTO_malloc block (one octet longer than len) that
 * a string may take over instead of copying, which then sets *free_cont to
 * 0.  1, or 0 with an error queued. */
MORVANE_EXPORT int asn1_ex_c2i(ASN1_VALUE **pval, const unsigned char *cont, int len, int utype,
                               char *free_cont, const ASN1_ITEM *it);

/* ---- routines shared by creation, freeing, decoding and encoding -------- */

/* Every routine here addresses a value through `pval`, the field that holds
 * it; `pval`, *pval and the item or template must be non-null except where a
 * routine says otherwise.  Applications call them from their own callbacks
 * and items. */

/* The field of template `tt` inside the structure *pval: *pval itself under
 * ASN1_TF_COMBINE, else the field at the template's offset. */
MORVANE_EXPORT ASN1_VALUE **asn1_get_field_ptr(ASN1_VALUE **pval, const ASN1_TEMPLATE *tt);
/* The int selector of a CHOICE (the index of the present alternative, or -1);
 * the setter stores `value` and returns the old selector. */
MORVANE_EXPORT int asn1_get_choice_selector(ASN1_VALUE **pval, const ASN1_ITEM *it);
MORVANE_EXPORT int asn1_set_choice_selector(ASN1_VALUE **pval, int value, const ASN1_ITEM *it);
/* The reference count of a sequence with ASN1_AUX_REFCOUNT: op 0 sets it to
 * 1 and returns 1; any other op is added under the item's ref_lock and the
 * new count returned.  0 for other items and for a null pval or *pval. */
MORVANE_EXPORT int asn1_do_lock(ASN1_VALUE **pval, int op, const ASN1_ITEM *it);
/* The cached encoding of a sequence with ASN1_AUX_ENCODING; for other items,
 * and for a null pval or *pval, they do nothing (asn1_enc_save returns 1,
 * asn1_enc_restore 0).  asn1_enc_init empties the cache without freeing it
 * and marks it modified; asn1_enc_free frees it and does the same.  All
 * three but asn1_enc_restore drop the digest kept with the octets.
 * asn1_enc_save replaces it by a copy of the `inlen` octets at `in` and marks
 * it unmodified; 0 (no error queued) on allocation failure or a negative
 * `inlen`, leaving it empty and modified.  asn1_enc_restore returns 0 while
 * the cache is modified; else it copies the octets to *out and advances *out
 * when `out` is not null, stores their count in *len when `len` is not null,
 * and returns 1. */
MORVANE_EXPORT void asn1_enc_init(ASN1_VALUE **pval, const ASN1_ITEM *it);
MORVANE_EXPORT void asn1_enc_free(ASN1_VALUE **pval, const ASN1_ITEM *it);
MORVANE_EXPORT int asn1_enc_save(ASN1_VALUE **pval, const unsigned char *in, int inlen,
                                 const ASN1_ITEM *it);
MORVANE_EXPORT int asn1_enc_restore(int *len, unsigned char **out, ASN1_VALUE **pval,
                                    const ASN1_ITEM *it);
/* The template that an ANY DEFINED BY field takes in the structure *pval: the
 * row of the ADB table whose value is the selector (an OBJECT IDENTIFIER's
 * NID or an INTEGER's value; an absent selector counts as 0), else the
 * table's default; without one, null, queuing "unsupported any defined by
 * type" when `nullerr` is non-zero.  A template that is not ANY DEFINED BY is
 * returned as given. */
MORVANE_EXPORT const ASN1_TEMPLATE *asn1_do_adb(ASN1_VALUE **pval, const ASN1_TEMPLATE *tt,
                                                int nullerr);

/* ---- declaration macros ------------------------------------------------- */

#ifdef __cplusplus
#define ASN1_ITEM_DEFINE_(itname) extern "C" constinit const ASN1_ITEM itname##_it
#define ASN1_CONST_ static constexpr
#else
#define ASN1_ITEM_DEFINE_(itname) const ASN1_ITEM itname##_it
#define ASN1_CONST_ static const
#endif

#define ASN1_ITEM_ref(itname) (&(itname##_it))
#define ASN1_COUNT_(arr) ((long)(sizeof(arr) / sizeof((arr)[0])))

/* Primitive items: a universal type code (or ASN1_UT_ANY), optionally with
 * ASN1_PRIMITIVE_FUNCS and a per-type size; multi-strings by tag mask;
 * external items by their functions. */
#define ASN1_ITEM_PRIMITIVE(itname, utype) ASN1_ITEM_PRIMITIVE_ex(itname, utype, NULL, 0)
#define ASN1_ITEM_PRIMITIVE_ex(itname, utype, pfuncs, sz) \
  ASN1_ITEM_DEFINE_(itname) = {ASN1_KIND_PRIMITIVE, (utype), NULL, 0, (pfuncs), (sz), #itname}
#define ASN1_ITEM_MSTRING(itname, mask) \
  ASN1_ITEM_DEFINE_(itname) = {            \
      ASN1_KIND_MSTRING, (mask), NULL, 0, NULL, (long)sizeof(ASN1_STRING), #itname}
#define ASN1_ITEM_EXTERN(itname, tag, efuncs, sz) \
  ASN1_ITEM_DEFINE_(itname) = {ASN1_KIND_EXTERN, (tag), NULL, 0, (efuncs), (sz), #itname}

/* An item that is one template (a SEQUENCE OF another item, say). */
#define ASN1_ITEM_TEMPLATE(tname) ASN1_CONST_ ASN1_TEMPLATE tname##_item_tt
#define ASN1_ITEM_TEMPLATE_END(tname) \
  ;                                   \
  ASN1_ITEM_DEFINE_(tname) = {ASN1_KIND_PRIMITIVE, -1, &tname##_item_tt, 0, NULL, 0, #tname}

/* SEQUENCE: ASN1_SEQUENCE(T) = { fields } ASN1_SEQUENCE_END(T);  The _cb,
 * _ref (reference count), _enc (cached encoding) and _aux (any aux record)
 * forms end with ASN1_SEQUENCE_END_cb/_ref/_enc(T, T). */
#define ASN1_SEQUENCE(tname) ASN1_CONST_ ASN1_TEMPLATE tname##_seq_tt[]
#define ASN1_SEQUENCE_aux(tname, aflags, refoff, lck, cb, encoff) \
  ASN1_CONST_ ASN1_AUX tname##_aux = {NULL, (aflags), (refoff), (lck), (cb), (encoff)}; \
  ASN1_SEQUENCE(tname)
#define ASN1_SEQUENCE_cb(tname, cb) ASN1_SEQUENCE_aux(tname, 0, 0, 0, cb, 0)
#define ASN1_SEQUENCE_ref(tname, cb, lck) \
  ASN1_SEQUENCE_aux(tname, ASN1_AUX_REFCOUNT, (int)offsetof(tname, references), lck, cb, 0)
#define ASN1_SEQUENCE_enc(tname, enc, cb) \
  ASN1_SEQUENCE_aux(tname, ASN1_AUX_ENCODING, 0, 0, cb, (int)offsetof(tname, enc))
#define ASN1_BROKEN_SEQUENCE(tname) ASN1_SEQUENCE_aux(tname, ASN1_AUX_BROKEN, 0, 0, NULL, 0)
#define ASN1_NDEF_SEQUENCE(tname) ASN1_SEQUENCE(tname)
#define ASN1_NDEF_SEQUENCE_cb(tname, cb) ASN1_SEQUENCE_cb(tname, cb)

#define ASN1_SEQUENCE_ITEM_(kind, stname, tname, aux)                                   \
  ;                                                                                     \
  ASN1_ITEM_DEFINE_(tname) = {kind,         ASN1_UT_SEQUENCE, tname##_seq_tt,           \
                              ASN1_COUNT_(tname##_seq_tt), aux, (long)sizeof(stname), \
                              #stname}
#define ASN1_SEQUENCE_END(stname) ASN1_SEQUENCE_END_name(stname, stname)
#define ASN1_SEQUENCE_END_name(stname, tname) \
  ASN1_SEQUENCE_ITEM_(ASN1_KIND_SEQUENCE, stname, tname, NULL)
#define ASN1_SEQUENCE_END_cb(stname, tname) \
  ASN1_SEQUENCE_ITEM_(ASN1_KIND_SEQUENCE, stname, tname, &tname##_aux)
#define ASN1_SEQUENCE_END_ref ASN1_SEQUENCE_END_cb
#define ASN1_SEQUENCE_END_enc ASN1_SEQUENCE_END_cb
#define ASN1_BROKEN_SEQUENCE_END(stname) ASN1_SEQUENCE_END_cb(stname, stname)
#define ASN1_NDEF_SEQUENCE_END(tname) \
  ASN1_SEQUENCE_ITEM_(ASN1_KIND_NDEF_SEQUENCE, tname, tname, NULL)
#define ASN1_NDEF_SEQUENCE_END_cb(stname, tname) \
  ASN1_SEQUENCE_ITEM_(ASN1_KIND_NDEF_SEQUENCE, stname, tname, &tname##_aux)

/* CHOICE: the selector is the int field `type`, or `selname` with the
 * _selector forms (the structure type `stname` may differ from the item name,
 * as for an item combined into its parent). */
#define ASN1_CHOICE(tname) ASN1_CONST_ ASN1_TEMPLATE tname##_ch_tt[]
#define ASN1_CHOICE_cb(tname, cb)                                  \
  ASN1_CONST_ ASN1_AUX tname##_aux = {NULL, 0, 0, 0, (cb), 0}; \
  ASN1_CHOICE(tname)
#define ASN1_CHOICE_ITEM_(stname, tname, selname, aux)                                      \
  ;                                                                                         \
  ASN1_ITEM_DEFINE_(tname) = {ASN1_KIND_CHOICE,           (long)offsetof(stname, selname), \
                              tname##_ch_tt,              ASN1_COUNT_(tname##_ch_tt),       \
                              aux,                        (long)sizeof(stname),             \
                              #stname}
#define ASN1_CHOICE_END(stname) ASN1_CHOICE_ITEM_(stname, stname, type, NULL)
#define ASN1_CHOICE_END_selector(stname, tname, selname) \
  ASN1_CHOICE_ITEM_(stname, tname, selname, NULL)
#define ASN1_CHOICE_END_cb(stname, tname, selname) \
  ASN1_CHOICE_ITEM_(stname, tname, selname, &tname##_aux)

/* Fields.  The tagged forms put the tag in the context class; the _EX forms
 * take extra flags (ASN1_TF_*). */
#define ASN1_EX_TYPE(fl, tg, stname, field, type)                           \
  {                                                                         \
    .flags = (fl), .tag = (tg), .offset = offsetof(stname, field),          \
    .field_name = #field, .item = ASN1_ITEM_ref(type)                       \
  }
#define ASN1_EX_TEMPLATE_TYPE(fl, tg, name, type) \
  { .flags = (fl), .tag = (tg), .offset = 0, .field_name = #name, .item = ASN1_ITEM_ref(type) }
#define ASN1_EX_COMBINE(fl, tg, type) \
  { .flags = ASN1_TF_COMBINE | (fl), .tag = (tg), .offset = 0, .field_name = NULL, \
    .item = ASN1_ITEM_ref(type) }

#define ASN1_SIMPLE(stname, field, type) ASN1_EX_TYPE(0, 0, stname, field, type)
#define ASN1_OPT(stname, field, type) ASN1_EX_TYPE(ASN1_TF_OPTIONAL, 0, stname, field, type)
#define ASN1_IMP_EX(stname, field, type, tag, ex) \
  ASN1_EX_TYPE(ASN1_TF_IMPLICIT | ASN1_TF_CONTEXT | (ex), tag, stname, field, type)
#define ASN1_EXP_EX(stname, field, type, tag, ex) \
  ASN1_EX_TYPE(ASN1_TF_EXPLICIT | ASN1_TF_CONTEXT | (ex), tag, stname, field, type)
#define ASN1_IMP(stname, field, type, tag) ASN1_IMP_EX(stname, field, type, tag, 0)
#define ASN1_EXP(stname, field, type, tag) ASN1_EXP_EX(stname, field, type, tag, 0)
#define ASN1_IMP_OPT(stname, field, type, tag) \
  ASN1_IMP_EX(stname, field, type, tag, ASN1_TF_OPTIONAL)
#define ASN1_EXP_OPT(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_OPTIONAL)
#define ASN1_NDEF_EXP(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_NDEF)
#define ASN1_NDEF_EXP_OPT(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_OPTIONAL | ASN1_TF_NDEF)

#define ASN1_SEQUENCE_OF(stname, field, type) \
  ASN1_EX_TYPE(ASN1_TF_SEQUENCE_OF, 0, stname, field, type)
#define ASN1_SEQUENCE_OF_OPT(stname, field, type) \
  ASN1_EX_TYPE(ASN1_TF_SEQUENCE_OF | ASN1_TF_OPTIONAL, 0, stname, field, type)
#define ASN1_SET_OF(stname, field, type) ASN1_EX_TYPE(ASN1_TF_SET_OF, 0, stname, field, type)
#define ASN1_SET_OF_OPT(stname, field, type) \
  ASN1_EX_TYPE(ASN1_TF_SET_OF | ASN1_TF_OPTIONAL, 0, stname, field, type)
#define ASN1_SET_ORDER_OF(stname, field, type) \
  ASN1_EX_TYPE(ASN1_TF_SET_ORDER, 0, stname, field, type)
#define ASN1_IMP_SET_OF(stname, field, type, tag) \
  ASN1_IMP_EX(stname, field, type, tag, ASN1_TF_SET_OF)
#define ASN1_IMP_SET_OF_OPT(stname, field, type, tag) \
  ASN1_IMP_EX(stname, field, type, tag, ASN1_TF_SET_OF | ASN1_TF_OPTIONAL)
#define ASN1_EXP_SET_OF(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_SET_OF)
#define ASN1_EXP_SET_OF_OPT(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_SET_OF | ASN1_TF_OPTIONAL)
#define ASN1_IMP_SEQUENCE_OF(stname, field, type, tag) \
  ASN1_IMP_EX(stname, field, type, tag, ASN1_TF_SEQUENCE_OF)
#define ASN1_IMP_SEQUENCE_OF_OPT(stname, field, type, tag) \
  ASN1_IMP_EX(stname, field, type, tag, ASN1_TF_SEQUENCE_OF | ASN1_TF_OPTIONAL)
#define ASN1_EXP_SEQUENCE_OF(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_SEQUENCE_OF)
#define ASN1_EXP_SEQUENCE_OF_OPT(stname, field, type, tag) \
  ASN1_EXP_EX(stname, field, type, tag, ASN1_TF_SEQUENCE_OF | ASN1_TF_OPTIONAL)

/* ANY DEFINED BY: the rows come first,
 *
 *   ASN1_ADB_TEMPLATE(Pair_default) = ASN1_EXP_OPT(Pair, value, ASN1_ANY, 0);
 *   ASN1_ADB(Pair) = {
 *     ASN1_ADB_ENTRY(21, ASN1_EXP_OPT(Pair, value, ASN1_OCTET_STRING, 0)),
 *   } ASN1_ADB_END(Pair, 0, type, 0, &Pair_default_tt, NULL);
 *
 * then ASN1_ADB_OBJECT(Pair) (or ASN1_ADB_INTEGER) stands in the sequence.
 * Each row's template names the field it fills. */
#define ASN1_ADB_TEMPLATE(name) ASN1_CONST_ ASN1_TEMPLATE name##_tt
#define ASN1_ADB(name) ASN1_CONST_ ASN1_ADB_TABLE name##_adbtbl[]
#define ASN1_ADB_ENTRY(val, template) \
  { (val), template }
#define ASN1_ADB_END(name, fl, field, app_table, def, none)                              \
  ;                                                                                      \
  ASN1_CONST_ ASN1_ADB name##_adb = {(fl),        offsetof(name, field),              \
                                     (app_table), name##_adbtbl,                       \
                                     ASN1_COUNT_(name##_adbtbl), (def), (none)}
#define ASN1_ADB_OBJECT(tblname) \
  { .flags = ASN1_TF_ADB_OID, .tag = -1, .offset = 0, .field_name = #tblname, \
    ASN1_TEMPLATE_ADB_(&(tblname##_adb)) }
#define ASN1_ADB_INTEGER(tblname) \
  { .flags = ASN1_TF_ADB_INT, .tag = -1, .offset = 0, .field_name = #tblname, \
    ASN1_TEMPLATE_ADB_(&(tblname##_adb)) }

MORVANE_END_DECLS

#endif /* MORVANE_ASN1T_H */
