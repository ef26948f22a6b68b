/* Morvane: the object database.
 *
 * OBJ_bsearch_ex bisects a sorted array of `num` elements of `size` bytes,
 * calling cmp(key, element).  Without a match it returns null, or with flag
 * OBJ_BSEARCH_VALUE_ON_NOMATCH the element probed last; with a match and flag
 * OBJ_BSEARCH_FIRST_VALUE_ON_MATCH it walks back to the lowest equal element.
 * Nothing is queued on the error queue, except for a negative `size`, which
 * is refused: null with "invalid element size".
 *
 * Null arguments: OBJ_obj2nid gives 0 for a null object, and OBJ_txt2obj,
 * OBJ_txt2nid, OBJ_sn2nid and OBJ_ln2nid give null or 0 for a null text;
 * OBJ_add_object refuses a null object; OBJ_cmp orders a null object first;
 * OBJ_obj2txt needs a valid buffer for its length; the keys, tables and
 * comparison functions of the searches must be valid. */
#ifndef MORVANE_OBJECTS_H
#define MORVANE_OBJECTS_H

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

#define OBJ_BSEARCH_VALUE_ON_NOMATCH 0x01
#define OBJ_BSEARCH_FIRST_VALUE_ON_MATCH 0x02

MORVANE_EXPORT const char *OBJ_bsearch_ex(const char *key, const char *base, int num, int size,
                                          int (*cmp)(const void *, const void *), int flags);

/* Binary search with flags 0. */
MORVANE_EXPORT const char *OBJ_bsearch(const char *key, const char *base, int num, int size,
                                       int (*cmp)(const void *, const void *));

/* Lookups.  The built-in table is constant: its entries are handed out as
 * they are (flags 0, so ASN1_OBJECT_free leaves them alone).  Objects added
 * at run time are consulted first by the name and content lookups and serve
 * the NIDs beyond the table.  Only the NID lookups queue an error ("unknown
 * nid" for a retired NID, or for an unknown one once objects were added; a
 * NID beyond the table with nothing added is null without an error). */
MORVANE_EXPORT ASN1_OBJECT *OBJ_nid2obj(int n);
MORVANE_EXPORT const char *OBJ_nid2sn(int n);
MORVANE_EXPORT const char *OBJ_nid2ln(int n);
/* The NID of an object: its own NID field when set, else the added or
 * built-in object with the same content; 0 when unknown or null. */
MORVANE_EXPORT int OBJ_obj2nid(const ASN1_OBJECT *a);
/* Exact, case-sensitive name lookups; 0 when unknown. */
MORVANE_EXPORT int OBJ_sn2nid(const char *s);
MORVANE_EXPORT int OBJ_ln2nid(const char *s);
/* The object named by s (no_name 0: short then long names first; a known
 * object is the shared one), else a new object from the dotted text (NID 0,
 * no names); null when neither, with a reason queued (a2d_ASN1_OBJECT's,
 * or "unknown object name" for a text that gives no arcs; "passed a null
 * parameter" for a null s). */
MORVANE_EXPORT ASN1_OBJECT *OBJ_txt2obj(const char *s, int no_name);
/* OBJ_obj2nid of OBJ_txt2obj(s, 0). */
MORVANE_EXPORT int OBJ_txt2nid(const char *s);
/* The longest arc, in bits, that OBJ_obj2txt writes in decimal.  Arcs in use
 * stay under 128 bits; a longer one than this bound is refused, which keeps
 * the cost of the text of any object in proportion to its length.  The
 * bound is on the arc itself: the second arc of 2.x is x, not the x + 80
 * that its encoding holds. */
#define OBJ_MAX_ARC_BITS 4096

/* The text of an object: with no_name 0 and a known object its long name (or
 * short name), else its dotted decimal form.  Stores at most buf_len - 1
 * characters and a zero in buf (null: only counts); returns the length of
 * the whole text, 0 for a null object or content, -1 (and the empty text in
 * buf) for a content that ends inside a subidentifier or holds an arc of more
 * than OBJ_MAX_ARC_BITS bits ("arc too long" queued). */
MORVANE_EXPORT int OBJ_obj2txt(char *buf, int buf_len, const ASN1_OBJECT *a, int no_name);
/* Difference of lengths, else memcmp of the contents; a null object sorts
 * before every object (two nulls are equal). */
MORVANE_EXPORT int OBJ_cmp(const ASN1_OBJECT *a, const ASN1_OBJECT *b);
/* A deep dynamic copy of a dynamic object; an object without
 * ASN1_OBJECT_FLAG_DYNAMIC is returned itself.  Null on failure. */
MORVANE_EXPORT ASN1_OBJECT *OBJ_dup(const ASN1_OBJECT *o);

/* Objects added at run time (process-wide, no lock: the application
 * serialises these calls against every lookup).  OBJ_new_nid returns the next
 * free NID (893 at first) and reserves num of them; a negative num, or one
 * that would take the NIDs past INT_MAX, reserves nothing and returns 0 with
 * "invalid nid count".  OBJ_add_object stores the
 * object under its NID and its content and names, the latest addition
 * winning each key: a built-in entry by reference, any other as a copy owned
 * by the database; returns the NID, 0 on failure.  OBJ_create adds the object
 * of a dotted OID with a new NID (returned; 0 on failure).
 * OBJ_create_objects reads lines "OID short-name long name" until a line
 * that does not start with a letter or digit, or a failure; returns the count
 * created.  A line is whole, however the stream hands it out: the text up to
 * a line feed or the end of the input, at most 511 characters without its
 * LF or CR LF (a longer line stops the reading with "line too long"); a
 * chain without line reads of its own (descriptor, socket, stream pair) is
 * read a byte a call, so that nothing past the list is taken from it: put a
 * buffer filter in front of such a stream to read it faster.  A read of the
 * stream that fails, or a stream not at its end that still has nothing
 * after 16 retries in a row, queues "BIO lib"; a retry from a stream at its
 * end that holds no pending data is the end.  OBJ_cleanup frees every
 * added object it allocated. */
MORVANE_EXPORT int OBJ_new_nid(int num);
MORVANE_EXPORT int OBJ_add_object(const ASN1_OBJECT *obj);
MORVANE_EXPORT int OBJ_create(const char *oid, const char *sn, const char *ln);
MORVANE_EXPORT int OBJ_create_objects(BIO *in);
MORVANE_EXPORT void OBJ_cleanup(void);

/* ---- algorithm name registry ---------------------------------------------
 * Text names to objects, per name type (OBJ_NAME_TYPE_*; OBJ_NAME_new_index
 * hands out more from 5).  OBJ_NAME_ALIAS ORed into a type adds an alias (a
 * name standing for another name of the same type) or, when getting, returns
 * an alias's target text instead of following it.  Names and data are not
 * copied: they must outlive their entries.  Process-wide, no lock: register
 * and clean up before and after threads use the lookups. */
#define OBJ_NAME_TYPE_UNDEF 0x00
#define OBJ_NAME_TYPE_MD_METH 0x01
#define OBJ_NAME_TYPE_CIPHER_METH 0x02
#define OBJ_NAME_TYPE_PKEY_METH 0x03
#define OBJ_NAME_TYPE_COMP_METH 0x04
#define OBJ_NAME_TYPE_NUM 0x05
#define OBJ_NAME_ALIAS 0x8000

typedef struct obj_name_st {
  int type;  /* without the alias flag */
  int alias; /* OBJ_NAME_ALIAS or 0 */
  const char *name;
  const char *data; /* the object; for an alias the name it stands for */
} OBJ_NAME;

/* Creates the registry's table; 1 when it exists. */
MORVANE_EXPORT int OBJ_NAME_init(void);
/* A new type number (5, 6, ...) whose non-null functions replace the
 * defaults (lh_strhash, strcmp, no free function); 0 on failure. */
MORVANE_EXPORT int OBJ_NAME_new_index(unsigned long (*hash_func)(const char *),
                                      int (*cmp_func)(const char *, const char *),
                                      void (*free_func)(const char *, int, const char *));
/* The data for (type, name), following up to 10 aliases; null when none. */
MORVANE_EXPORT const char *OBJ_NAME_get(const char *name, int type);
/* Adds or replaces (the type's free function gets the old entry); 1, or 0
 * on failure. */
MORVANE_EXPORT int OBJ_NAME_add(const char *name, int type, const char *data);
/* 1 when the entry existed and was removed, else 0. */
MORVANE_EXPORT int OBJ_NAME_remove(const char *name, int type);
/* Calls fn for each entry of type: in table order, or sorted by name. */
MORVANE_EXPORT void OBJ_NAME_do_all(int type, void (*fn)(const OBJ_NAME *, void *), void *arg);
MORVANE_EXPORT void OBJ_NAME_do_all_sorted(int type, void (*fn)(const OBJ_NAME *, void *),
                                           void *arg);
/* Removes every entry of type; a negative type empties the registry back to
 * its first state (type numbers start again at 5). */
MORVANE_EXPORT void OBJ_NAME_cleanup(int type);

/* Registers the texts of library 8 (ERR_LIB_OBJ) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_OBJ_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 8 (OBJ). */
#define OBJ_F_OBJ_CREATE 100
#define OBJ_F_OBJ_DUP 101
#define OBJ_F_OBJ_NID2LN 102
#define OBJ_F_OBJ_NID2OBJ 103
#define OBJ_F_OBJ_NID2SN 104
#define OBJ_F_OBJ_ADD_OBJECT 105
#define OBJ_F_OBJ_NAME_NEW_INDEX 106
#define OBJ_F_OBJ_NEW_NID 107
#define OBJ_F_OBJ_BSEARCH_EX 108
#define OBJ_F_OBJ_OBJ2TXT 109
#define OBJ_F_OBJ_TXT2OBJ 110
/* Reason codes of library 8 (OBJ). */
#define OBJ_R_MALLOC_FAILURE 100
#define OBJ_R_UNKNOWN_NID 101
#define OBJ_R_INVALID_NID_COUNT 102
#define OBJ_R_INVALID_ELEMENT_SIZE 103
#define OBJ_R_ARC_TOO_LONG 104
#define OBJ_R_UNKNOWN_OBJECT_NAME 105
#define OBJ_R_LINE_TOO_LONG 106
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_OBJECTS_H */
