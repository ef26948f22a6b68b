/* The C side of the template-routine tests: items written with the macros of
 * morvane/asn1t.h in a C translation unit, as an application writes its own,
 * and the runs that drive them through the public routines.  Plain C, shared
 * with template_routines_test.cc. */
#ifndef MORVANE_TEST_ASN1_TEMPLATE_ROUTINES_H
#define MORVANE_TEST_ASN1_TEMPLATE_ROUTINES_H

#include <morvane/asn1t.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The lock that CtRef's reference count is changed under. */
#define CT_REF_LOCK CRYPTO_LOCK_DYNLOCK

extern const ASN1_ITEM CtEnc_it;    /* SEQUENCE { INTEGER } with a cached encoding */
extern const ASN1_ITEM CtRef_it;    /* SEQUENCE { INTEGER } with a reference count */
extern const ASN1_ITEM CtAdb_it;    /* SEQUENCE { OID, [0] ANY DEFINED BY it } with a default */
extern const ASN1_ITEM CtStrict_it; /* the same without a default */
extern const ASN1_ITEM CtChoice_it; /* CHOICE { INTEGER, [1] OCTET STRING } with a callback */
extern const ASN1_ITEM CtHolder_it; /* SEQUENCE { INTEGER, CHOICE combined into it } */

/* asn1_get_field_ptr on CtHolder: 1 when the combined template gives the
 * parent's own field and the plain one the field at its offset. */
int ct_field_pointers(void);

/* asn1_get_choice_selector and asn1_set_choice_selector on a new CtChoice:
 * out = {selector after creation, old value returned when setting 1,
 * selector then, old value returned when setting -1 again}. */
void ct_choice_selectors(int out[4]);
/* CtChoice decoded from `der` (ASN1_item_d2i) then encoded again
 * (ASN1_item_i2d into `reencoded`, room `room`): returns the encoding's
 * length (-1 when decoding fails), its selector in *selector, and the
 * callback operations seen in `ops` (their count in *nops, at most 16). */
int ct_choice_round_trip(const unsigned char *der, long len, unsigned char *reencoded,
                         int room, int *selector, int ops[16], int *nops);

/* asn1_do_lock on a new CtRef: out = {count after creation, after +1, after
 * -1, after -1 again, asn1_do_lock of CtEnc (no count)}. */
void ct_reference_counts(int out[5]);

/* The cached encoding of a new CtEnc: out = {asn1_enc_restore after creation,
 * asn1_enc_save of `octets`, asn1_enc_restore then, the length it stored,
 * asn1_enc_restore after asn1_enc_free, asn1_enc_save of CtRef (no cache),
 * asn1_enc_restore of CtRef}; the restored octets are copied to `restored`
 * (room for `n`), and *advanced is how far the output position moved. */
void ct_cached_encoding(const unsigned char *octets, int n, int out[7],
                        unsigned char *restored, int *advanced);
/* CtEnc decoded from `der` and encoded again: the encoding's length
 * (written to `reencoded`, room `room`), or -1.  With `modify` the cache is
 * marked modified (asn1_enc_init after asn1_enc_free) before encoding. */
int ct_enc_round_trip(const unsigned char *der, long len, int modify, unsigned char *reencoded,
                      int room);

/* asn1_do_adb with a CtAdb (or CtStrict when `strict`) whose selector is the
 * object of `nid` (no selector for 0): 0 the table's row, 1 the default, 2
 * null, 3 the template given (for the selector field's template). */
int ct_adb_choice(int nid, int strict, int nullerr);
/* CtAdb decoded from `der` and encoded again, as ct_enc_round_trip; the
 * value's type in *value_type. */
int ct_adb_round_trip(const unsigned char *der, long len, unsigned char *reencoded, int room,
                      int *value_type);

#ifdef __cplusplus
}
#endif

#endif /* MORVANE_TEST_ASN1_TEMPLATE_ROUTINES_H */
