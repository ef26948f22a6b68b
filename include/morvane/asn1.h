/* Morvane: the ASN.1 codec.
 *
 * DER and BER encoding and decoding driven by templates, the primitive ASN.1
 * types and their text forms.  Failing calls queue errors of library 13
 * (ERR_LIB_ASN1) and return 0, -1 or null as each function says.
 *
 * Headers: ASN1_get_object reads one identifier-and-length header (X.690) and
 * returns result bits (ASN1_HDR_CONSTRUCTED, ASN1_HDR_INDEFINITE,
 * ASN1_HDR_ERROR); ASN1_put_object writes one into a buffer that the caller
 * sized with ASN1_object_size.
 *
 * Values: ASN1_STRING is the one byte-string record behind every string-like
 * type (ASN1_INTEGER, ASN1_OCTET_STRING, ...); only `type` tells them apart.
 * Its owner frees it with ASN1_STRING_free.  Structures are described by
 * constant items (X_it, see morvane/asn1t.h); X_new and X_free create and free
 * a value of item X, X_free accepting null.
 *
 * Null arguments: the _free functions and ASN1_item_free accept null; a
 * null value given to the encoders gives 0; the d2i_ and c2i_ decoders and
 * ASN1_item_d2i refuse a null input pointer, or a null *in with a positive
 * length, with "passed a null parameter" and leave *a as it was;
 * the other functions need valid values, and data pointers valid for the
 * lengths given, except where a function's comment says what a null gets.
 *
 * Lengths: where a comment gives -1 a meaning (a zero-terminated text), any
 * other negative length is refused with "length error". */
#ifndef MORVANE_ASN1_H
#define MORVANE_ASN1_H

#include <stdio.h>
#include <time.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* Type codes: the universal tag numbers of X.680, and the library's own. */
#define ASN1_UT_EOC 0
#define ASN1_UT_BOOLEAN 1
#define ASN1_UT_INTEGER 2
#define ASN1_UT_BIT_STRING 3
#define ASN1_UT_OCTET_STRING 4
#define ASN1_UT_NULL 5
#define ASN1_UT_OBJECT 6
#define ASN1_UT_OBJECT_DESCRIPTOR 7
#define ASN1_UT_EXTERNAL 8
#define ASN1_UT_REAL 9
#define ASN1_UT_ENUMERATED 10
#define ASN1_UT_UTF8STRING 12
#define ASN1_UT_SEQUENCE 16
#define ASN1_UT_SET 17
#define ASN1_UT_NUMERICSTRING 18
#define ASN1_UT_PRINTABLESTRING 19
#define ASN1_UT_T61STRING 20
#define ASN1_UT_VIDEOTEXSTRING 21
#define ASN1_UT_IA5STRING 22
#define ASN1_UT_UTCTIME 23
#define ASN1_UT_GENERALIZEDTIME 24
#define ASN1_UT_GRAPHICSTRING 25
#define ASN1_UT_VISIBLESTRING 26
#define ASN1_UT_GENERALSTRING 27
#define ASN1_UT_UNIVERSALSTRING 28
#define ASN1_UT_BMPSTRING 30
#define ASN1_UT_NEG 0x100 /* added to INTEGER and ENUMERATED for negative values */
#define ASN1_UT_NEG_INTEGER (ASN1_UT_NEG | ASN1_UT_INTEGER)
#define ASN1_UT_NEG_ENUMERATED (ASN1_UT_NEG | ASN1_UT_ENUMERATED)
#define ASN1_UT_UNDEF (-1)  /* no type yet: a fresh ASN1_TYPE or multi-string */
#define ASN1_UT_OTHER (-3)  /* a non-universal element kept whole */
#define ASN1_UT_ANY (-4)    /* the ANY item */

/* Identifier octet: class bits and the constructed bit. */
#define ASN1_CLASS_UNIVERSAL 0x00
#define ASN1_CLASS_APPLICATION 0x40
#define ASN1_CLASS_CONTEXT 0x80
#define ASN1_CLASS_PRIVATE 0xC0
#define ASN1_CONSTRUCTED 0x20

/* Result bits of ASN1_get_object. */
#define ASN1_HDR_CONSTRUCTED 0x20
#define ASN1_HDR_INDEFINITE 0x01
#define ASN1_HDR_ERROR 0x80

/* ASN1_STRING flags. */
#define ASN1_STRING_BITS_LEFT 0x08 /* BIT STRING: unused-bit count in bits 0-2 */
#define ASN1_STRING_NDEF 0x10      /* OCTET STRING streamed with indefinite length */

struct asn1_string_st {
  int length;          /* content octets in data */
  int type;            /* type code */
  unsigned char *data; /* owned; after ASN1_STRING_set one zero octet follows */
  long flags;
};

typedef ASN1_STRING ASN1_INTEGER;
typedef ASN1_STRING ASN1_ENUMERATED;
typedef ASN1_STRING ASN1_BIT_STRING;
typedef ASN1_STRING ASN1_OCTET_STRING;
typedef ASN1_STRING ASN1_PRINTABLESTRING;
typedef ASN1_STRING ASN1_T61STRING;
typedef ASN1_STRING ASN1_IA5STRING;
typedef ASN1_STRING ASN1_GENERALSTRING;
typedef ASN1_STRING ASN1_UNIVERSALSTRING;
typedef ASN1_STRING ASN1_BMPSTRING;
typedef ASN1_STRING ASN1_UTCTIME;
typedef ASN1_STRING ASN1_TIME;
typedef ASN1_STRING ASN1_GENERALIZEDTIME;
typedef ASN1_STRING ASN1_VISIBLESTRING;
typedef ASN1_STRING ASN1_UTF8STRING;
typedef ASN1_STRING ASN1_PRINTABLE;
typedef ASN1_STRING DISPLAYTEXT;
typedef ASN1_STRING DIRECTORYSTRING;
typedef int ASN1_BOOLEAN; /* -1 absent, else the decoded octet */
typedef int ASN1_NULL;    /* a present NULL is the marker pointer value 1 */

/* An object identifier: content octets (without tag and length) with its NID
 * and names.  Flags: ASN1_OBJECT_FLAG_DYNAMIC (the record is freed by
 * ASN1_OBJECT_free), _DYNAMIC_STRINGS (the names are), _DYNAMIC_DATA (the
 * content is).  The built-in objects have flags 0 and are never freed. */
struct asn1_object_st {
  const char *sn;
  const char *ln;
  int nid;
  int length;
  const unsigned char *data;
  int flags;
};
#define ASN1_OBJECT_FLAG_DYNAMIC 0x01
#define ASN1_OBJECT_FLAG_DYNAMIC_STRINGS 0x04
#define ASN1_OBJECT_FLAG_DYNAMIC_DATA 0x08

/* A value of any type: `type` is a type code (-1 when empty). */
struct asn1_type_st {
  int type;
  union {
    char *ptr;
    ASN1_BOOLEAN boolean;
    ASN1_STRING *asn1_string;
    ASN1_OBJECT *object;
    ASN1_INTEGER *integer;
    ASN1_ENUMERATED *enumerated;
    ASN1_BIT_STRING *bit_string;
    ASN1_OCTET_STRING *octet_string;
    ASN1_PRINTABLESTRING *printablestring;
    ASN1_T61STRING *t61string;
    ASN1_IA5STRING *ia5string;
    ASN1_GENERALSTRING *generalstring;
    ASN1_BMPSTRING *bmpstring;
    ASN1_UNIVERSALSTRING *universalstring;
    ASN1_UTCTIME *utctime;
    ASN1_GENERALIZEDTIME *generalizedtime;
    ASN1_VISIBLESTRING *visiblestring;
    ASN1_UTF8STRING *utf8string;
    ASN1_STRING *set;      /* complete encoding, header included */
    ASN1_STRING *sequence; /* complete encoding, header included */
    ASN1_VALUE *asn1_value;
  } value;
};

/* The cached encoding of a structure whose item keeps one (morvane/asn1t.h).
 * The octets are the ones decoded and are never changed in place (a change
 * to the structure sets `modified` instead).  `digested` and `digest` keep
 * the SHA-256 digest of those octets once the verifier has made it (2:
 * made; 0 or 1: not yet); saving, emptying or freeing the cache clears
 * `digested`, so the digest never outlives its octets. */
typedef struct ASN1_ENCODING_st {
  unsigned char *enc; /* complete encoding last decoded, owned */
  long len;
  int modified; /* 1: enc must not be reused */
  int digested;
  unsigned char digest[32];
} ASN1_ENCODING;

/* The parse context of the hand-written legacy decoders.  `error` receives
 * the common reason (ERR_R_BAD_GET_ASN1_OBJECT_CALL, ..._EXPECTING_AN_ASN1_
 * SEQUENCE, ..._ASN1_LENGTH_MISMATCH, ..._MISSING_ASN1_EOS) of a failed step;
 * the caller pushes it.  `slen` is the count of octets after the current
 * sequence's header (for an indefinite sequence too); `max` null means the
 * input is unbounded. */
typedef struct asn1_ctx_st {
  unsigned char *p;
  int eos;
  int error;
  int inf;
  int tag;
  int xclass;
  long slen;
  unsigned char *max;
  unsigned char *q;
  unsigned char **pp;
  int line;
} ASN1_CTX;

typedef struct asn1_const_ctx_st {
  const unsigned char *p;
  int eos;
  int error;
  int inf;
  int tag;
  int xclass;
  long slen;
  const unsigned char *max;
  const unsigned char *q;
  const unsigned char **pp;
  int line;
} ASN1_const_CTX;

/* "ASN.1 part of Morvane 0.9.8o 01 Jun 2010". */
MORVANE_EXPORT extern const char ASN1_version[];

/* ---- headers ------------------------------------------------------------ */

/* Reads the header at *pp with `omax` octets available: the content length
 * goes to *plength, the tag number to *ptag, the class bits to *pclass.
 * Returns ASN1_HDR_CONSTRUCTED | ASN1_HDR_INDEFINITE as read.  A malformed or
 * truncated header (also omax <= 0) returns ASN1_HDR_ERROR with "header too
 * long", *pp unchanged; so does, with "bad tag", a tag number written in
 * more octets than it needs (below 31 in the long form, or a leading 0x80
 * octet: X.690 8.1.2).  A definite length beyond the input adds
 * ASN1_HDR_ERROR with "too long", but *pp still moves past the header and the
 * length is reported. */
MORVANE_EXPORT int ASN1_get_object(const unsigned char **pp, long *plength, int *ptag,
                                   int *pclass, long omax);
/* Writes a header at *pp and advances it: constructed 0 primitive, 2
 * constructed with indefinite length, any other value constructed.  A
 * negative length writes nothing and leaves *pp ("length error"). */
MORVANE_EXPORT void ASN1_put_object(unsigned char **pp, int constructed, int length, int tag,
                                    int xclass);
/* Writes the end-of-contents octets 00 00; returns 2. */
MORVANE_EXPORT int ASN1_put_eoc(unsigned char **pp);
/* Octets of an element with `length` content octets (constructed 2: the
 * indefinite form with its end-of-contents); -1 for a negative length or a
 * total beyond INT_MAX. */
MORVANE_EXPORT int ASN1_object_size(int constructed, int length, int tag);
/* 1 when len <= 0; 1 and *p advanced by 2 when the next two octets are
 * end-of-contents; otherwise 0. */
MORVANE_EXPORT int ASN1_check_infinite_end(unsigned char **p, long len);
MORVANE_EXPORT int ASN1_const_check_infinite_end(const unsigned char **p, long len);

/* Legacy parse context: reads a SEQUENCE header with *length octets available
 * (subtracting the header's size from *length); 1, or 0 with c->error set. */
MORVANE_EXPORT int asn1_GetSequence(ASN1_const_CTX *c, long *length);
/* Closes the current sequence: 1, or 0 with c->error set. */
MORVANE_EXPORT int asn1_Finish(ASN1_CTX *c);
MORVANE_EXPORT int asn1_const_Finish(ASN1_const_CTX *c);
/* Attaches "address=<address as unsigned decimal> offset=<offset>" to the
 * newest error entry. */
MORVANE_EXPORT void asn1_add_error(const unsigned char *address, int offset);

/* ---- the string value --------------------------------------------------- */

/* A new empty string of `type`; null with "malloc failure" on failure. */
MORVANE_EXPORT ASN1_STRING *ASN1_STRING_type_new(int type);
MORVANE_EXPORT ASN1_STRING *ASN1_STRING_new(void); /* OCTET STRING */
MORVANE_EXPORT void ASN1_STRING_free(ASN1_STRING *a);
/* Sets the contents to `len` octets of `data` followed by a zero octet (len
 * -1: data's zero-terminated length; null data only sizes the buffer).
 * Returns 1, or 0 with the string unchanged ("length error" for a len below
 * -1).  ASN1_OCTET_STRING_set and ASN1_BIT_STRING_set are this call. */
MORVANE_EXPORT int ASN1_STRING_set(ASN1_STRING *str, const void *data, int len);
/* Takes ownership of `data` (len octets, no terminator added; a negative
 * len counts as 0). */
MORVANE_EXPORT void ASN1_STRING_set0(ASN1_STRING *str, void *data, int len);
MORVANE_EXPORT ASN1_STRING *ASN1_STRING_dup(const ASN1_STRING *str);
/* Orders by length, then contents, then type code. */
MORVANE_EXPORT int ASN1_STRING_cmp(const ASN1_STRING *a, const ASN1_STRING *b);
MORVANE_EXPORT int ASN1_STRING_length(const ASN1_STRING *x);
/* Sets the length (at most what the data holds); a negative len is ignored. */
MORVANE_EXPORT void ASN1_STRING_length_set(ASN1_STRING *x, int len);
MORVANE_EXPORT int ASN1_STRING_type(ASN1_STRING *x);
MORVANE_EXPORT unsigned char *ASN1_STRING_data(ASN1_STRING *x);

/* ---- objects ------------------------------------------------------------ */

/* A zeroed dynamic object; null with "malloc failure". */
MORVANE_EXPORT ASN1_OBJECT *ASN1_OBJECT_new(void);
/* Frees what the object's flags mark as allocated; built-in objects survive. */
MORVANE_EXPORT void ASN1_OBJECT_free(ASN1_OBJECT *a);
/* A new dynamic object holding copies of the content and names (OBJ_dup of
 * the five values); null on allocation failure or for a negative len
 * ("length error"). */
MORVANE_EXPORT ASN1_OBJECT *ASN1_OBJECT_create(int nid, unsigned char *data, int len,
                                               const char *sn, const char *ln);

/* ---- integers ----------------------------------------------------------- */

/* ---- INTEGER and ENUMERATED ---------------------------------------------
 * Content conversions (i2c: value to content octets, c2i: content octets to
 * value) follow one pattern: i2c returns the content length and, when pp is
 * given, writes at *pp and advances it; c2i converts len octets at *pp into
 * *a when a value is there (its old data replaced) or a new value, stores it
 * through a when given, advances *pp and returns it, or null with an error
 * queued (a value it created is freed, the caller's kept). */

/* Two's complement content, at least one octet: a value without data (never
 * set) is written as zero; a null value gives 0 octets. */
MORVANE_EXPORT int i2c_ASN1_INTEGER(ASN1_INTEGER *a, unsigned char **pp);
/* No content octets (len 0), or a redundant leading octet (the first nine
 * bits all zero or all one, as 00 01 or FF 80), is "illegal integer"
 * (X.690 8.3.1, 8.3.2). */
MORVANE_EXPORT ASN1_INTEGER *c2i_ASN1_INTEGER(ASN1_INTEGER **a, const unsigned char **pp,
                                              long len);
/* A whole INTEGER element read as an unsigned number; a constructed one is
 * "type not primitive", one without content or with a redundant leading
 * octet "illegal integer". */
MORVANE_EXPORT ASN1_INTEGER *d2i_ASN1_UINTEGER(ASN1_INTEGER **a, const unsigned char **pp,
                                               long length);
/* Set to v (magnitude without leading zeros, sign in the type); 1, or 0 on
 * allocation failure. */
MORVANE_EXPORT int ASN1_INTEGER_set(ASN1_INTEGER *a, long v);
MORVANE_EXPORT int ASN1_ENUMERATED_set(ASN1_ENUMERATED *a, long v);
/* The value: 0 for null, -1 for another type or a magnitude of more than 4
 * octets. */
MORVANE_EXPORT long ASN1_INTEGER_get(const ASN1_INTEGER *a);
MORVANE_EXPORT long ASN1_ENUMERATED_get(const ASN1_ENUMERATED *a);
/* Conversions with big numbers: into ai (or a new value) and into bn (or a
 * new number); null with an error queued on failure. */
MORVANE_EXPORT ASN1_INTEGER *BN_to_ASN1_INTEGER(const BIGNUM *bn, ASN1_INTEGER *ai);
MORVANE_EXPORT ASN1_ENUMERATED *BN_to_ASN1_ENUMERATED(const BIGNUM *bn, ASN1_ENUMERATED *ai);
MORVANE_EXPORT BIGNUM *ASN1_INTEGER_to_BN(const ASN1_INTEGER *ai, BIGNUM *bn);
MORVANE_EXPORT BIGNUM *ASN1_ENUMERATED_to_BN(const ASN1_ENUMERATED *ai, BIGNUM *bn);
/* Order of the values: negative before positive, then by magnitude. */
MORVANE_EXPORT int ASN1_INTEGER_cmp(const ASN1_INTEGER *x, const ASN1_INTEGER *y);
MORVANE_EXPORT ASN1_INTEGER *ASN1_INTEGER_dup(const ASN1_INTEGER *x);

/* ---- BIT STRING, BOOLEAN, OCTET STRING ----------------------------------
 * Bit n is the mask 0x80 >> (n % 8) of octet n / 8.  With the flag
 * ASN1_STRING_BITS_LEFT the low three flag bits count the unused bits of the
 * last octet; without it they are derived when writing. */
MORVANE_EXPORT int i2c_ASN1_BIT_STRING(ASN1_BIT_STRING *a, unsigned char **pp);
MORVANE_EXPORT ASN1_BIT_STRING *c2i_ASN1_BIT_STRING(ASN1_BIT_STRING **a, const unsigned char **pp,
                                                    long len);
MORVANE_EXPORT int ASN1_BIT_STRING_set(ASN1_BIT_STRING *x, unsigned char *d, int len);
/* Sets or clears bit n (growing the data to set it); 1, or 0 for a null
 * value, a negative n or allocation failure. */
MORVANE_EXPORT int ASN1_BIT_STRING_set_bit(ASN1_BIT_STRING *a, int n, int value);
/* 1 when bit n is set; 0 otherwise, also beyond the data or for n < 0. */
MORVANE_EXPORT int ASN1_BIT_STRING_get_bit(ASN1_BIT_STRING *a, int n);
/* Always 3; writes 01 01 and the low octet of a when pp is given. */
MORVANE_EXPORT int i2d_ASN1_BOOLEAN(int a, unsigned char **pp);
/* The content octet (0..255), stored through a when given; -1 with an error
 * queued and *pp unchanged on failure. */
MORVANE_EXPORT int d2i_ASN1_BOOLEAN(int *a, const unsigned char **pp, long length);
MORVANE_EXPORT ASN1_OCTET_STRING *ASN1_OCTET_STRING_dup(const ASN1_OCTET_STRING *a);
MORVANE_EXPORT int ASN1_OCTET_STRING_cmp(const ASN1_OCTET_STRING *a, const ASN1_OCTET_STRING *b);
MORVANE_EXPORT int ASN1_OCTET_STRING_set(ASN1_OCTET_STRING *str, const unsigned char *data,
                                         int len);
/* The string a under tag and class: the element's length, written at *pp
 * (which must have room) when pp is given; BIT STRING (tag 3) as its item. */
MORVANE_EXPORT int i2d_ASN1_bytes(ASN1_STRING *a, unsigned char **pp, int tag, int xclass);

/* ---- any type ------------------------------------------------------------ */

/* The type of a present value (or NULL), else 0. */
MORVANE_EXPORT int ASN1_TYPE_get(ASN1_TYPE *a);
/* Replaces the value (the old one freed), taking ownership of value; for
 * BOOLEAN a non-null value is TRUE. */
MORVANE_EXPORT void ASN1_TYPE_set(ASN1_TYPE *a, int type, void *value);
/* The same with a copy of value (OBJ_dup for OBJECT IDENTIFIER,
 * ASN1_STRING_dup for the other types); a null value, and any value of type
 * BOOLEAN, is stored as given.  1, or 0 when the copy fails, a unchanged. */
MORVANE_EXPORT int ASN1_TYPE_set1(ASN1_TYPE *a, int type, const void *value);
/* A cipher's parameters: an OCTET STRING, or SEQUENCE { INTEGER num, OCTET
 * STRING data }.  The setters return 1, or 0 on allocation failure, for a
 * negative len, or for a SEQUENCE too large to encode; the
 * getters copy at most max_len octets and return the string's full length,
 * or -1 with "data is wrong" when a holds no such value. */
MORVANE_EXPORT int ASN1_TYPE_set_octetstring(ASN1_TYPE *a, unsigned char *data, int len);
MORVANE_EXPORT int ASN1_TYPE_get_octetstring(ASN1_TYPE *a, unsigned char *data, int max_len);
MORVANE_EXPORT int ASN1_TYPE_set_int_octetstring(ASN1_TYPE *a, long num, unsigned char *data,
                                                 int len);
MORVANE_EXPORT int ASN1_TYPE_get_int_octetstring(ASN1_TYPE *a, long *num, unsigned char *data,
                                                 int max_len);

/* ---- OBJECT IDENTIFIER content ------------------------------------------ */

/* The element (header and content); 0 for a null object or content. */
MORVANE_EXPORT int i2d_ASN1_OBJECT(ASN1_OBJECT *a, unsigned char **pp);
/* Content octets into an object (a dynamic *a is reused); no content, a
 * last subidentifier left open (its last octet with bit 8 set) or a
 * subidentifier starting with 0x80 is "invalid object encoding" (X.690
 * 8.19.2). */
MORVANE_EXPORT ASN1_OBJECT *c2i_ASN1_OBJECT(ASN1_OBJECT **a, const unsigned char **pp, long len);
/* One OBJECT IDENTIFIER element: "bad object header", "expecting an object",
 * "type not primitive", then c2i_ASN1_OBJECT; *pp advances only on
 * success. */
MORVANE_EXPORT ASN1_OBJECT *d2i_ASN1_OBJECT(ASN1_OBJECT **a, const unsigned char **pp,
                                            long length);
/* Dotted text (num characters, -1: zero-terminated; '.' or ' ' between arcs)
 * into content octets at out (at most olen), or only counted when out is
 * null.  Arcs of any size are exact.  Returns the octet count, 0 on failure
 * ("first num too large", "missing second number", "invalid separator",
 * "invalid digit", "second number too large", "buffer too small", "length
 * error" for a num below -1). */
MORVANE_EXPORT int a2d_ASN1_OBJECT(unsigned char *out, int olen, const char *buf, int num);
/* OBJ_obj2txt(buf, buf_len, a, 0): the name when known, else dotted. */
MORVANE_EXPORT int i2t_ASN1_OBJECT(char *buf, int buf_len, ASN1_OBJECT *a);
/* Writes the text form to bp ("NULL" for a null object or content,
 * "<INVALID>" for a content whose text cannot be made); returns the text
 * length, or -1 when the write failed or was short, or when a long text's
 * buffer cannot be allocated ("malloc failure"). */
MORVANE_EXPORT int i2a_ASN1_OBJECT(BIO *bp, ASN1_OBJECT *a);

/* ---- character strings ------------------------------------------------
 * Text given in one of four input forms (ASN1_MB_*) is converted into an
 * ASN1_STRING of a character-string type chosen from a type mask, one bit per
 * type (the bits of ASN1_tag2bit, morvane/asn1t.h).  The conversions and the
 * UTF-8 codec accept characters up to 0x7FFFFFFF (UTF-8 of 1 to 6 octets). */
#define ASN1_MB_FLAG 0x1000
#define ASN1_MB_UTF8 (ASN1_MB_FLAG)       /* UTF-8, 1 to 6 octets a character */
#define ASN1_MB_ASCII (ASN1_MB_FLAG | 1)  /* one octet a character (0-255) */
#define ASN1_MB_BMP (ASN1_MB_FLAG | 2)    /* two octets, big-endian */
#define ASN1_MB_UNIV (ASN1_MB_FLAG | 4)   /* four octets, big-endian */

/* Type mask bits (ASN1_tag2bit of the type's tag). */
#define ASN1_MASK_NUMERICSTRING 0x0001UL
#define ASN1_MASK_PRINTABLESTRING 0x0002UL
#define ASN1_MASK_T61STRING 0x0004UL
#define ASN1_MASK_VIDEOTEXSTRING 0x0008UL
#define ASN1_MASK_IA5STRING 0x0010UL
#define ASN1_MASK_GRAPHICSTRING 0x0020UL
#define ASN1_MASK_VISIBLESTRING 0x0040UL
#define ASN1_MASK_GENERALSTRING 0x0080UL
#define ASN1_MASK_UNIVERSALSTRING 0x0100UL
#define ASN1_MASK_OCTET_STRING 0x0200UL
#define ASN1_MASK_BIT_STRING 0x0400UL
#define ASN1_MASK_BMPSTRING 0x0800UL
#define ASN1_MASK_UNKNOWN 0x1000UL
#define ASN1_MASK_UTF8STRING 0x2000UL
#define ASN1_MASK_UTCTIME 0x4000UL
#define ASN1_MASK_GENERALIZEDTIME 0x8000UL
#define ASN1_MASK_SEQUENCE 0x10000UL
/* PrintableString, T61String, BMPString and UTF8String. */
#define ASN1_MASK_DIRECTORYSTRING 0x2806UL

/* Converts len octets at `in` (-1: the zero-terminated text) of form `inform`
 * into the first type of the mask (0: ASN1_MASK_DIRECTORYSTRING) that holds
 * every character, in the order PrintableString, IA5String, T61String,
 * BMPString, UniversalString, else UTF8String.  minsize and maxsize bound the
 * character count when above 0.  With out null only the type code is
 * returned; else the string *out (emptied and retyped) or a new one stored
 * there receives the characters, copied unchanged when the input form is the
 * type's own.  Returns the type code, or -1 with an error queued ("string too
 * short" carries "minsize=N", "string too long" "maxsize=N"; a result beyond
 * INT_MAX octets is "string too long" too); a string made by the call is then
 * freed and *out left null. */
MORVANE_EXPORT int ASN1_mbstring_ncopy(ASN1_STRING **out, const unsigned char *in, int len,
                                       int inform, unsigned long mask, long minsize,
                                       long maxsize);
MORVANE_EXPORT int ASN1_mbstring_copy(ASN1_STRING **out, const unsigned char *in, int len,
                                      int inform, unsigned long mask);
/* One UTF-8 character from at most len octets at str: its octet count, with
 * the value in *val; 0 for len < 1, -1 truncated, -2 a bad first octet, -3 a
 * bad continuation octet, -4 an overlong form.  Surrogates are accepted. */
MORVANE_EXPORT int UTF8_getc(const unsigned char *str, int len, unsigned long *val);
/* Writes value as UTF-8 into len octets at str: the octet count, or -1 when
 * it does not fit (nothing written).  str null: only the count (1 to 6). */
MORVANE_EXPORT int UTF8_putc(unsigned char *str, int len, unsigned long value);
/* The narrowest of PrintableString (19), IA5String (22) and T61String (20)
 * for the octets at s up to a zero octet or len octets (len <= 0: no
 * limit); null s gives 19. */
MORVANE_EXPORT int ASN1_PRINTABLE_type(const unsigned char *s, int len);
/* Narrows a UniversalString whose characters are all below 256 to one octet
 * a character, typed by ASN1_PRINTABLE_type: 1, or 0 with s unchanged. */
MORVANE_EXPORT int ASN1_UNIVERSALSTRING_to_string(ASN1_UNIVERSALSTRING *s);

/* String rules by attribute NID: character-count bounds (-1: none) and the
 * type mask, used under the default mask unless ASN1_STABLE_NO_MASK is set.
 * The built-in rules can be changed for the process by
 * ASN1_STRING_TABLE_add; added rules live until ASN1_STRING_TABLE_cleanup.
 * Neither the rules nor the default mask are guarded by a lock: set them up
 * before threads use them. */
typedef struct asn1_string_table_st {
  int nid;
  long minsize;
  long maxsize;
  unsigned long mask;
  unsigned long flags;
} ASN1_STRING_TABLE;
#define ASN1_STABLE_FLAGS_MALLOC 0x01 /* allocated by ASN1_STRING_TABLE_add */
#define ASN1_STABLE_NO_MASK 0x02      /* mask used without the default mask */

/* The string of in (inlen octets, form inform) made by the rule of nid, or
 * by the directory-string mask without one, into *out when out is given;
 * null on failure. */
MORVANE_EXPORT ASN1_STRING *ASN1_STRING_set_by_NID(ASN1_STRING **out, const unsigned char *in,
                                                   int inlen, int inform, int nid);
/* The rule of nid (borrowed, writable), or null. */
MORVANE_EXPORT ASN1_STRING_TABLE *ASN1_STRING_TABLE_get(int nid);
/* Sets the rule of nid (minsize and maxsize -1: kept; a new rule has no
 * bounds then), creating it when absent: 1, or 0 on allocation failure or
 * for a bound below -1 ("length error", nothing changed). */
MORVANE_EXPORT int ASN1_STRING_TABLE_add(int nid, long minsize, long maxsize, unsigned long mask,
                                         unsigned long flags);
/* Frees the added rules; changes made to built-in rules stay. */
MORVANE_EXPORT void ASN1_STRING_TABLE_cleanup(void);
/* The default mask (initially 0xFFFFFFFF), ANDed into rules and the
 * directory-string mask by ASN1_STRING_set_by_NID.  The text form takes
 * "MASK:<number>" (C base prefixes; a number that does not fit an unsigned
 * long is refused), "nombstr" (no BMPString or UTF8String),
 * "pkix" (no T61String), "utf8only" or "default": 1, or 0 with the mask
 * unchanged. */
MORVANE_EXPORT void ASN1_STRING_set_default_mask(unsigned long mask);
MORVANE_EXPORT unsigned long ASN1_STRING_get_default_mask(void);
MORVANE_EXPORT int ASN1_STRING_set_default_mask_asc(const char *p);

/* ---- times ---------------------------------------------------------------
 * UTCTime (type 23, YYMMDDHHMM[SS][Z|+hhmm|-hhmm]) and GeneralizedTime
 * (type 24, CCYYMMDDHHMM[SS[.fff]][Z|+hhmm|-hhmm]) are ASN1_STRINGs holding
 * that ASCII text; ASN1_TIME is either (ASN1_TIME_it).  The checks test
 * each field's range, the day against the days of its month (Gregorian
 * calendar; a UTCTime's YY 50-99 is 19YY, else 20YY): 1 valid, 0 not. */
MORVANE_EXPORT int ASN1_UTCTIME_check(const ASN1_UTCTIME *d);
MORVANE_EXPORT int ASN1_GENERALIZEDTIME_check(const ASN1_GENERALIZEDTIME *d);
MORVANE_EXPORT int ASN1_TIME_check(const ASN1_TIME *t);
/* Sets s to the text str when it is valid (s null: only checks): 1 or 0. */
MORVANE_EXPORT int ASN1_UTCTIME_set_string(ASN1_UTCTIME *s, const char *str);
MORVANE_EXPORT int ASN1_GENERALIZEDTIME_set_string(ASN1_GENERALIZEDTIME *s, const char *str);
/* Sets s (or a new string when s is null) to t in UTC with seconds and "Z",
 * reusing a buffer of 20 octets or more; returns it, or null.  ASN1_TIME_set
 * takes UTCTime for the years 1950 to 2049 and GeneralizedTime otherwise.
 * ASN1_UTCTIME_set refuses a moment outside 1950 to 2049, whose year its two
 * digits cannot name, and the other two a moment outside the years 0 to
 * 9999, whose year four digits cannot name ("illegal time value", null; s is
 * left as it was); a moment the system cannot break down is "error getting
 * time".  The items that hold one form only (ASN1_UTCTIME_it,
 * ASN1_GENERALIZEDTIME_it and fields declared with them) refuse to encode a
 * value of the other form (-1), which would be written under their tag in
 * text no reader takes; ASN1_TIME_it takes both. */
MORVANE_EXPORT ASN1_UTCTIME *ASN1_UTCTIME_set(ASN1_UTCTIME *s, time_t t);
MORVANE_EXPORT ASN1_GENERALIZEDTIME *ASN1_GENERALIZEDTIME_set(ASN1_GENERALIZEDTIME *s, time_t t);
MORVANE_EXPORT ASN1_TIME *ASN1_TIME_set(ASN1_TIME *s, time_t t);
/* The valid time t as a GeneralizedTime (a UTCTime gains the century 19 for
 * years 50 to 99, else 20): into *out when it holds a string, else a new one
 * (stored through out when given); null on failure. */
MORVANE_EXPORT ASN1_GENERALIZEDTIME *ASN1_TIME_to_generalizedtime(ASN1_TIME *t,
                                                                  ASN1_GENERALIZEDTIME **out);
/* -1, 0 or 1 as s is before, at or after t; absent seconds count as 0 and an
 * absent zone as UTC. */
MORVANE_EXPORT int ASN1_UTCTIME_cmp_time_t(const ASN1_UTCTIME *s, time_t t);

/* ---- values of any item ------------------------------------------------- */

/* A new value of item `it` (morvane/asn1t.h), or null. */
MORVANE_EXPORT ASN1_VALUE *ASN1_item_new(const ASN1_ITEM *it);
/* Frees a value of item `it`; null is ignored. */
MORVANE_EXPORT void ASN1_item_free(ASN1_VALUE *val, const ASN1_ITEM *it);
/* Decodes one value of `it` (BER: indefinite lengths and constructed strings
 * accepted) from the len octets at *in.  What X.690 forbids in BER too is
 * refused: a constructed encoding of a type other than a string ("type not
 * primitive", so never a constructed INTEGER or OBJECT IDENTIFIER), a piece
 * of a constructed string that is not an OCTET STRING or of the string's own
 * type (a BIT STRING's pieces are BIT STRINGs) ("wrong tag"), a BIT STRING
 * piece after one with unused bits ("illegal bitstring format"), and an
 * INTEGER or ENUMERATED without content ("illegal integer"), besides the
 * header and OBJECT IDENTIFIER faults of ASN1_get_object and
 * c2i_ASN1_OBJECT.  A negative INTEGER read into a BIGNUM field is still
 * taken as its magnitude.  pval may be null or address a value
 * to decode into.  Success: *in advanced past the element, the value stored
 * through pval and returned.  Failure: null with the innermost fault first on
 * the error queue; a structure under decode, also one passed in, is freed and
 * *pval cleared.  Input nested deeper than 30 items is "depth exceeded".  A
 * null `in`, a null *in with len above 0 or a null `it` is refused with
 * "passed a null parameter" before anything is decoded (*pval untouched);
 * every generated d2i_X function, which calls this one, does the same. */
MORVANE_EXPORT ASN1_VALUE *ASN1_item_d2i(ASN1_VALUE **pval, const unsigned char **in, long len,
                                         const ASN1_ITEM *it);
/* Encodes val as DER.  out null: the length only; *out null: a buffer of
 * exactly the length is allocated, filled and stored; otherwise written at
 * *out, which advances.  Returns the length, 0 when nothing is written (an
 * absent value), -1 on failure (nothing is handed back; "malloc failure"
 * when the buffer cannot be allocated).  An INTEGER never set is written as
 * 0; an OBJECT IDENTIFIER without content (one made by ASN1_OBJECT_new and
 * never set) fails with "invalid object encoding". */
MORVANE_EXPORT int ASN1_item_i2d(ASN1_VALUE *val, unsigned char **out, const ASN1_ITEM *it);
/* The same, with streaming structures in indefinite form; a streamed OCTET
 * STRING writes only its header and end-of-contents. */
MORVANE_EXPORT int ASN1_item_ndef_i2d(ASN1_VALUE *val, unsigned char **out, const ASN1_ITEM *it);
/* A copy of x by encoding and decoding it; null for null x or on failure. */
MORVANE_EXPORT void *ASN1_item_dup(const ASN1_ITEM *it, void *x);

/* ---- legacy codecs ---------------------------------------------------------
 * Encoders and decoders in the older call style, beside the template engine:
 * a string under any tag, SET OF and SEQUENCE OF over a stack with a
 * per-element function, packing into an OCTET STRING, copies by encoding,
 * and the ASN1_HEADER record.  The decoders follow the d2i conventions (a
 * value they allocated is freed on failure; one passed in is the caller's);
 * i2d_ASN1_bytes, i2d_ASN1_SET and i2d_ASN1_HEADER never allocate the
 * output: with pp given, *pp must address a buffer of the measured length.
 * i2d_ASN1_SET sorts a SET of two or more elements in memory it allocates,
 * and fails with "malloc failure" (0) when it cannot have it. */

typedef void *d2i_of_void(void **a, const unsigned char **pp, long length);
typedef int i2d_of_void(void *a, unsigned char **pp);

/* An older codec: encoder, decoder, constructor and destructor of one type. */
struct asn1_method_st {
  i2d_of_void *i2d;
  d2i_of_void *d2i;
  void *(*create)(void);
  void (*destroy)(void *a);
};

/* SEQUENCE { OCTET STRING header, the data as `meth` encodes it }. */
typedef struct asn1_header_st {
  ASN1_OCTET_STRING *header;
  void *data;
  const ASN1_METHOD *meth; /* null: data is neither read nor freed */
} ASN1_HEADER;

/* The element at *pp if its tag's bit (ASN1_tag2bit) is in `type_mask`: its
 * content (kept as it is, even when constructed) with a zero octet after it,
 * typed by the tag; a BIT STRING as its item decodes it.  Null with "tag
 * value too high" (tag 32 or more) or "wrong type"; the class is not
 * compared. */
MORVANE_EXPORT ASN1_STRING *d2i_ASN1_type_bytes(ASN1_STRING **a, const unsigned char **pp,
                                                long length, unsigned long type_mask);
/* The string at *pp under `tag` (the class is not compared); a constructed
 * string's pieces, of the same tag, are joined (at most 5 levels nested:
 * deeper is "nested asn1 string").  Null with "bad object header" or "wrong
 * tag". */
MORVANE_EXPORT ASN1_STRING *d2i_ASN1_bytes(ASN1_STRING **a, const unsigned char **pp, long length,
                                           int tag, int xclass);
/* The stack's elements under a constructed tag: with is_set 1 and two or
 * more elements in DER order (encodings sorted), else in stack order; the
 * stack is not reordered.  The element's length, 0 for a null stack or on
 * failure. */
MORVANE_EXPORT int i2d_ASN1_SET(STACK *sk, unsigned char **pp, i2d_of_void *i2d, int tag,
                                int xclass, int is_set);
/* A SET OF or SEQUENCE OF under tag and class into *a (or a new stack),
 * each element by d2i; an indefinite length ends at its end-of-contents
 * octets.  Null with "bad class", "bad tag", "length error" or "error
 * parsing set element" (with its offset); a stack made here is freed, with
 * free_func on its elements when given. */
MORVANE_EXPORT STACK *d2i_ASN1_SET(STACK **a, const unsigned char **pp, long length,
                                   d2i_of_void *d2i, void (*free_func)(void *), int tag,
                                   int xclass);
/* The stack as a SEQUENCE OF in a new buffer, also stored through buf and
 * len when given; null with "encode error" or "malloc failure". */
MORVANE_EXPORT unsigned char *ASN1_seq_pack(STACK *sk, i2d_of_void *i2d, unsigned char **buf,
                                            int *len);
/* A new stack from the SEQUENCE OF in buf; null with "decode error". */
MORVANE_EXPORT STACK *ASN1_seq_unpack(const unsigned char *buf, int len, d2i_of_void *d2i,
                                      void (*free_func)(void *));
/* obj's encoding in *oct (its old contents replaced) or a new OCTET STRING
 * (stored through oct when given); null with "encode error" or "malloc
 * failure", a string made here freed. */
MORVANE_EXPORT ASN1_STRING *ASN1_pack_string(void *obj, i2d_of_void *i2d, ASN1_STRING **oct);
MORVANE_EXPORT ASN1_STRING *ASN1_item_pack(void *obj, const ASN1_ITEM *it, ASN1_STRING **oct);
/* The structure encoded in the string's data; null with "decode error". */
MORVANE_EXPORT void *ASN1_unpack_string(ASN1_STRING *oct, d2i_of_void *d2i);
MORVANE_EXPORT void *ASN1_item_unpack(ASN1_STRING *oct, const ASN1_ITEM *it);
/* A copy of x by encoding (i2d) and decoding (d2i); null for null x or on
 * failure. */
MORVANE_EXPORT void *ASN1_dup(i2d_of_void *i2d, d2i_of_void *d2i, void *x);

/* A record with an empty OCTET STRING header and no data or method; null
 * with "malloc failure". */
MORVANE_EXPORT ASN1_HEADER *ASN1_HEADER_new(void);
/* Frees the header and, when a method is set, the data through it. */
MORVANE_EXPORT void ASN1_HEADER_free(ASN1_HEADER *a);
/* 0 for a null record or one without method. */
MORVANE_EXPORT int i2d_ASN1_HEADER(ASN1_HEADER *a, unsigned char **pp);
/* Reads the SEQUENCE and the OCTET STRING header; only when the record (*a)
 * has a method are the data read, the end checked and *pp advanced.
 * Without a method the record comes back after the header and *pp stays. */
MORVANE_EXPORT ASN1_HEADER *d2i_ASN1_HEADER(ASN1_HEADER **a, const unsigned char **pp,
                                            long length);
/* The constant methods of IA5String and BIT STRING values. */
MORVANE_EXPORT const ASN1_METHOD *ASN1_IA5STRING_asn1_meth(void);
MORVANE_EXPORT const ASN1_METHOD *ASN1_BIT_STRING_asn1_meth(void);

/* ---- DER objects from and to streams ---------------------------------------
 * The readers take exactly one object, of definite or indefinite length,
 * off the stream (nothing after it is consumed) and decode it: null with
 * "not enough data" when the stream ends inside it, or the decoder's error.
 * Storage grows with what arrives, never ahead of it.  The writers encode x
 * and write all of it: 1, or 0.  The _fp forms wrap the FILE in a file
 * stream that leaves it open.  xnew is not used. */
MORVANE_EXPORT void *ASN1_d2i_bio(void *(*xnew)(void), d2i_of_void *d2i, BIO *in, void **x);
MORVANE_EXPORT void *ASN1_d2i_fp(void *(*xnew)(void), d2i_of_void *d2i, FILE *in, void **x);
/* x, when given, is the ASN1_VALUE ** place to decode into. */
MORVANE_EXPORT void *ASN1_item_d2i_bio(const ASN1_ITEM *it, BIO *in, void *x);
MORVANE_EXPORT void *ASN1_item_d2i_fp(const ASN1_ITEM *it, FILE *in, void *x);
MORVANE_EXPORT int ASN1_i2d_bio(i2d_of_void *i2d, BIO *out, void *x);
MORVANE_EXPORT int ASN1_i2d_fp(i2d_of_void *i2d, FILE *out, void *x);
MORVANE_EXPORT int ASN1_item_i2d_bio(const ASN1_ITEM *it, BIO *out, void *x);
MORVANE_EXPORT int ASN1_item_i2d_fp(const ASN1_ITEM *it, FILE *out, void *x);

/* ---- S/MIME framing (RFC 5751) -------------------------------------------
 * A value of any item as a MIME message: opaque ("application/pkcs7-mime",
 * the base64 of its DER) or, for a detached signature, "multipart/signed"
 * with the content as the first part and the base64 signature as the second.
 * The flags are those of PKCS#7: 0x1 text (a "text/plain" header is put
 * before copied content), 0x40 detached, 0x80 binary (content copied
 * unchanged, not as CRLF lines), 0x400 the old "application/x-pkcs7-" types,
 * 0x800 header lines ending in CR LF (else LF).  Reading accepts both type
 * prefixes, header names and values in any case, folded header lines and
 * quoted parameters.  Writers return 1, or 0 when a write fails (also the
 * content writer's or the signature part's); the message may then be
 * incomplete.  Null arguments: data, mdalgs, bcont and (when no detached
 * message is written) data_fn may be null. */

/* Writes the first part of a multipart/signed message, its headers included,
 * from `data` to `out`; non-zero on success. */
typedef int asn1_output_data_fn(BIO *out, BIO *data, ASN1_VALUE *val, int flags,
                                const ASN1_ITEM *it);
/* With flag 0x40 and data: a multipart/signed message whose micalg lists
 * mdalgs (a STACK of X509_ALGOR; digests without a MIME name as one
 * "unknown"), its boundary 32 random upper-case hexadecimal digits.  Else an
 * opaque message whose smime-type follows ctype_nid: enveloped data (23),
 * signed data (22: "signed-receipt" when econt_nid is 204, "signed-data"
 * when mdalgs holds digests, else "certs-only"), compressed data (786, file
 * name "smime.p7z"); no smime-type for other types. */
MORVANE_EXPORT int int_smime_write_ASN1(BIO *bio, ASN1_VALUE *val, BIO *data, int flags,
                                        int ctype_nid, int econt_nid, STACK *mdalgs,
                                        asn1_output_data_fn *data_fn, const ASN1_ITEM *it);
/* Reads one message and decodes its base64 part with `it`; for a
 * multipart/signed message the content part (with its own headers, lines
 * ending in CR LF) is handed over through bcont as a memory stream that the
 * caller frees.  Delimiters count only at the start of a line, and content
 * lines of any length keep every byte but the CRs and LF that end them.
 * Header lines are whole however the stream hands them out, and lines are
 * read to the end of the input as SMIME_crlf_copy reads it.  A chain
 * without line reads of its own (descriptor, socket, stream pair, also
 * behind the null or line-buffer filter) is read through a buffer filter
 * of the reader's: the reader owns the rest of the stream and may take
 * bytes past the message from it.  Null on failure
 * ("mime parse error", also for a header section of more than 10,000
 * headers and parameters, or after "header too long" for a header line over
 * 65,535 bytes without its LF or CR LF; "no content type", "invalid mime type",
 * "no multipart boundary", "no multipart body failure" unless there are
 * exactly two parts and a closing delimiter (a third part is refused as it
 * starts), "mime sig parse error", "no sig content type", "sig invalid mime
 * type", "asn1 parse error", "asn1 sig parse error"). */
MORVANE_EXPORT ASN1_VALUE *SMIME_read_ASN1(BIO *bio, BIO **bcont, const ASN1_ITEM *it);
/* Copies `in` to `out` through a buffering filter: with flag 0x80
 * unchanged, else line by line with each line end made CR LF (a last line
 * without one gets none), after "Content-Type: text/plain" and an empty line
 * with flag 0x1; flushes.  The data ends where a read gives 0, or -1 with a
 * retry from a stream at its end (an empty memory stream) that holds no
 * pending data; any other stream that asks to retry is read again, 16 times
 * in a row at most.  1,
 * or 0 when the filter cannot be made ("malloc failure"), a read fails or
 * the stream still has nothing after those retries ("stream read error") or
 * a write fails. */
MORVANE_EXPORT int SMIME_crlf_copy(BIO *in, BIO *out, int flags);
/* Reads the MIME headers of `in` and copies the rest to `out` when the
 * content type is "text/plain" ("mime parse error", also for more than
 * 10,000 headers and parameters, "mime no content type",
 * "invalid mime type" with "type: " and the type otherwise; "stream read
 * error" and "mime parse error" for a read of the headers that fails, "header
 * too long" and "mime parse error" for a header line over 65,535 bytes
 * without its LF or CR LF).  Header lines are whole however the stream
 * hands them out; a chain without line reads is read through a buffer
 * filter of the reader's, as by SMIME_read_ASN1.  The rest is
 * read to its end as SMIME_crlf_copy reads it: 1, or 0 when a read fails
 * ("stream read error") or a write fails. */
MORVANE_EXPORT int SMIME_text(BIO *in, BIO *out);

/* ---- the text-to-DER generator -------------------------------------------
 * A text is zero or more modifiers and one type, comma-separated:
 * "IMPLICIT:0,INTEGER:5", "EXPLICIT:1A,OCTWRAP,FORMAT:HEX,OCT:01:02".  The
 * type's value is the rest of the text after its ':', commas included.
 * Types: BOOL/BOOLEAN, NULL, INT/INTEGER, ENUM/ENUMERATED, OID/OBJECT,
 * UTC/UTCTIME, GENTIME/GENERALIZEDTIME, OCT/OCTETSTRING, BITSTR/BITSTRING,
 * UNIV/UNIVERSALSTRING, IA5/IA5STRING, UTF8/UTF8String, BMP/BMPSTRING,
 * VISIBLE/VISIBLESTRING, PRINTABLE/PRINTABLESTRING, T61/T61STRING/
 * TELETEXSTRING, GENSTR/GeneralString, and SEQ/SEQUENCE and SET, whose value
 * names a configuration section each line of which is another text (the
 * members; a SET is written in DER order).  Modifiers: IMP/IMPLICIT:tag and
 * EXP/EXPLICIT:tag (a number and an optional class letter U, A, C or P;
 * context-specific by default), the wrappers OCTWRAP, BITWRAP, SEQWRAP and
 * SETWRAP (an implicit tag before one applies to it), and FORM/FORMAT:ASCII,
 * UTF8, HEX (digit pairs, ':' allowed between them) or BITLIST (bit numbers
 * of a BIT STRING, below 2^25).  At most 20 layers around one value, 50 sections
 * nested in one another, and 4 MiB of SEQUENCE and SET encodings made for
 * one text, nested ones counted at each level ("depth exceeded"); a section
 * is refused as soon as the members made so far pass what is left of that
 * bound, before its next member is made, so memory stays near the bound.
 * Keywords match exactly, case
 * included.  Null on failure, with the reason and (for a bad value)
 * "string=" and the value on the queue. */

/* The generator over sections of `cnf`, which may be null when the text
 * needs none (else "sequence or set needs config"); a null text is empty. */
MORVANE_EXPORT ASN1_TYPE *ASN1_generate_v3(const char *str, X509V3_CTX *cnf);
/* The same with the sections of a configuration (null: none). */
MORVANE_EXPORT ASN1_TYPE *ASN1_generate_nconf(const char *str, CONF *nconf);

/* Registers the configuration module "oid_section", whose section creates
 * one object a line: "name = 1.2.3.4" (short and long name both "name") or
 * "name = Long Name, 1.2.3.4".  A line that fails stops the module with
 * "adding object" (objects made before stay); its finish removes every added
 * object (OBJ_cleanup).  Returns CONF_module_add's result. */

/* ---- text output ---------------------------------------------------------
 * The printers write to a stream (or, in their _fp forms, a FILE, which
 * stays open).  String and DER dump printers return the characters written,
 * or -1 (0 for the dump) when a write fails or the value is malformed; they
 * queue no error.  A null stream makes ASN1_STRING_print_ex count only.
 *
 * String print flags (ORed; the name printer of morvane/x509.h takes them in
 * the same word as its own NAME_PF_ flags): */
#define ASN1_PF_ESC_2253 0x0001UL     /* escape the RFC 2253 specials */
#define ASN1_PF_ESC_CTRL 0x0002UL     /* escape control characters as \XX */
#define ASN1_PF_ESC_MSB 0x0004UL      /* escape octets with bit 7 set as \XX */
#define ASN1_PF_ESC_QUOTE 0x0008UL    /* quote the value instead of escaping */
#define ASN1_PF_UTF8_CONVERT 0x0010UL /* each character as UTF-8 octets first */
#define ASN1_PF_IGNORE_TYPE 0x0020UL  /* one octet a character, whatever the type */
#define ASN1_PF_SHOW_TYPE 0x0040UL    /* "TYPENAME:" first */
#define ASN1_PF_DUMP_ALL 0x0080UL     /* '#' and the hex of every value */
#define ASN1_PF_DUMP_UNKNOWN 0x0100UL /* the same for types without a width */
#define ASN1_PF_DUMP_DER 0x0200UL     /* dumps show the whole DER element */

/* Prints str under flags: characters escaped (\X, \XX, \UXXXX, \WXXXXXXXX)
 * or the value in double quotes, or a dump.  A null str, a malformed
 * UTF-8, BMPString or UniversalString value, or a failed write: -1. */
MORVANE_EXPORT int ASN1_STRING_print_ex(BIO *out, ASN1_STRING *str, unsigned long flags);
MORVANE_EXPORT int ASN1_STRING_print_ex_fp(FILE *fp, ASN1_STRING *str, unsigned long flags);
/* The characters of in as a new zero-terminated UTF-8 text in *out (freed
 * with MORVANE_free): its length in octets, or a negative value (in null or
 * not a character string: -1). */
MORVANE_EXPORT int ASN1_STRING_to_UTF8(unsigned char **out, ASN1_STRING *in);
/* The octets as upper-case hex digit pairs, 70 digits a line, lines joined
 * by a backslash and a newline; an INTEGER starts with "-" when negative.
 * An empty value is "00" ("0" for i2a_ASN1_STRING, whose type is not used).
 * The characters written, 0 for a null value, -1 when a write fails. */
MORVANE_EXPORT int i2a_ASN1_INTEGER(BIO *bp, ASN1_INTEGER *a);
MORVANE_EXPORT int i2a_ASN1_ENUMERATED(BIO *bp, ASN1_ENUMERATED *a);
MORVANE_EXPORT int i2a_ASN1_STRING(BIO *bp, ASN1_STRING *a, int type);
/* Read that form back into bs, line by line into the caller's buf of size
 * octets: each line's hex digits up to its first other character (a2i_ASN1_
 * STRING: up to the last other character after the first), a backslash at
 * its end continuing the value.  A line is whole however the stream hands it
 * out: the text up to a line feed or the end of the input, which must fit in
 * size - 1 octets (its line feed may be left out).  Nothing is written
 * outside buf, whatever the stream returns.  A chain without line reads
 * of its own (descriptor, socket, stream pair) is read a byte a call, so
 * that nothing past the value is taken from it: put a buffer filter in
 * front of such a stream to read it faster.  The INTEGER and
 * ENUMERATED readers set the type and drop a leading "00"; a2i_ASN1_STRING
 * accepts an empty input as an empty value.  1, or 0 with "short line", "odd
 * number of chars", "non hex characters", "malloc failure", "too long" for a
 * line that does not fit, or "BIO lib" for a read of the stream that fails
 * (bs then keeps its octets), or "length
 * error" for a size below 2, which leaves no room for a character (nothing
 * read, bs unchanged). */
MORVANE_EXPORT int a2i_ASN1_INTEGER(BIO *bp, ASN1_INTEGER *bs, char *buf, int size);
MORVANE_EXPORT int a2i_ASN1_ENUMERATED(BIO *bp, ASN1_ENUMERATED *bs, char *buf, int size);
MORVANE_EXPORT int a2i_ASN1_STRING(BIO *bp, ASN1_STRING *bs, char *buf, int size);

/* Named bits of a BIT STRING; a table ends with a row whose lname is null. */
typedef struct BIT_STRING_BITNAME_st {
  int bitnum;
  const char *lname;
  const char *sname;
} BIT_STRING_BITNAME;
/* indent blanks, the long names of the bits set joined by ", ", "\n"; 1. */
MORVANE_EXPORT int ASN1_BIT_STRING_name_print(BIO *out, ASN1_BIT_STRING *bs,
                                              BIT_STRING_BITNAME *tbl, int indent);
/* The bit named name (short or long name, exact), or -1. */
MORVANE_EXPORT int ASN1_BIT_STRING_num_asc(char *name, BIT_STRING_BITNAME *tbl);
/* Sets the named bit to value: 0 for an unknown name, 1 for a null bs, else
 * ASN1_BIT_STRING_set_bit's result. */
MORVANE_EXPORT int ASN1_BIT_STRING_set_asc(ASN1_BIT_STRING *bs, char *name, int value,
                                           BIT_STRING_BITNAME *tbl);

/* Dumps the BER/DER at pp, one line per element: offset, depth, header and
 * content lengths, "cons:" or "prim:", the tag (indented by depth when
 * indent is non-zero) and the value of simple types.  dump 0: other
 * contents are left out (an OCTET STRING of unprintable octets shows as
 * "[HEX DUMP]:" and hex); -1: they are hex-dumped whole; n > 0: their
 * first n octets.  Returns 1 after the whole buffer, 2 when an
 * end-of-contents element ends the top level, 0 after writing "Error in
 * encoding" (a malformed header, a length beyond the buffer, nesting 128
 * deep) or when a write fails; 0 with "length error", nothing written, for a
 * negative len. */
MORVANE_EXPORT int ASN1_parse(BIO *bp, const unsigned char *pp, long len, int indent);
MORVANE_EXPORT int ASN1_parse_dump(BIO *bp, const unsigned char *pp, long len, int indent,
                                   int dump);
/* The name of a type code ("INTEGER" for 2 and 258, ...), "(unknown)"
 * outside 0 to 30. */
MORVANE_EXPORT const char *ASN1_tag2str(int tag);

/* The octets of v, those below 0x20 (but newline and carriage return) and
 * from 0x7F up written as '.'; 1, or 0 for a null v or a failed write. */
MORVANE_EXPORT int ASN1_STRING_print(BIO *bp, ASN1_STRING *v);
/* A time as "Mon DD HH:MM:SS[.fff] YYYY" and " GMT" when it ends in 'Z':
 * 1, or "Bad time value" and 0 when the value is not one of the type. */
MORVANE_EXPORT int ASN1_TIME_print(BIO *bp, const ASN1_TIME *tm);
MORVANE_EXPORT int ASN1_UTCTIME_print(BIO *bp, const ASN1_UTCTIME *tm);
MORVANE_EXPORT int ASN1_GENERALIZEDTIME_print(BIO *bp, const ASN1_GENERALIZEDTIME *tm);

/* Registers the configuration module "oid_section", whose section lists
 * object identifiers to create, one name = OID per line.  Returns
 * CONF_module_add's result. */
MORVANE_EXPORT int ASN1_add_oid_module(void);

/* Registers the texts of library 13 (ERR_LIB_ASN1) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_ASN1_strings(void);

/* The universal items and their functions (X_new, X_free, d2i_X, i2d_X). */
/* BEGIN ITEMS (generated by tools/gen_asn1_items.py) */
MORVANE_EXPORT extern const ASN1_ITEM ASN1_INTEGER_it;
MORVANE_EXPORT ASN1_INTEGER *ASN1_INTEGER_new(void);
MORVANE_EXPORT void ASN1_INTEGER_free(ASN1_INTEGER *a);
MORVANE_EXPORT ASN1_INTEGER *d2i_ASN1_INTEGER(ASN1_INTEGER **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_INTEGER(ASN1_INTEGER *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_ENUMERATED_it;
MORVANE_EXPORT ASN1_ENUMERATED *ASN1_ENUMERATED_new(void);
MORVANE_EXPORT void ASN1_ENUMERATED_free(ASN1_ENUMERATED *a);
MORVANE_EXPORT ASN1_ENUMERATED *d2i_ASN1_ENUMERATED(ASN1_ENUMERATED **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_ENUMERATED(ASN1_ENUMERATED *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_BIT_STRING_it;
MORVANE_EXPORT ASN1_BIT_STRING *ASN1_BIT_STRING_new(void);
MORVANE_EXPORT void ASN1_BIT_STRING_free(ASN1_BIT_STRING *a);
MORVANE_EXPORT ASN1_BIT_STRING *d2i_ASN1_BIT_STRING(ASN1_BIT_STRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_BIT_STRING(ASN1_BIT_STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_OCTET_STRING_it;
MORVANE_EXPORT ASN1_OCTET_STRING *ASN1_OCTET_STRING_new(void);
MORVANE_EXPORT void ASN1_OCTET_STRING_free(ASN1_OCTET_STRING *a);
MORVANE_EXPORT ASN1_OCTET_STRING *d2i_ASN1_OCTET_STRING(ASN1_OCTET_STRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_OCTET_STRING(ASN1_OCTET_STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_NULL_it;
MORVANE_EXPORT ASN1_NULL *ASN1_NULL_new(void);
MORVANE_EXPORT void ASN1_NULL_free(ASN1_NULL *a);
MORVANE_EXPORT ASN1_NULL *d2i_ASN1_NULL(ASN1_NULL **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_NULL(ASN1_NULL *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_OBJECT_it;
MORVANE_EXPORT extern const ASN1_ITEM ASN1_UTF8STRING_it;
MORVANE_EXPORT ASN1_UTF8STRING *ASN1_UTF8STRING_new(void);
MORVANE_EXPORT void ASN1_UTF8STRING_free(ASN1_UTF8STRING *a);
MORVANE_EXPORT ASN1_UTF8STRING *d2i_ASN1_UTF8STRING(ASN1_UTF8STRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_UTF8STRING(ASN1_UTF8STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_PRINTABLESTRING_it;
MORVANE_EXPORT ASN1_PRINTABLESTRING *ASN1_PRINTABLESTRING_new(void);
MORVANE_EXPORT void ASN1_PRINTABLESTRING_free(ASN1_PRINTABLESTRING *a);
MORVANE_EXPORT ASN1_PRINTABLESTRING *d2i_ASN1_PRINTABLESTRING(ASN1_PRINTABLESTRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_PRINTABLESTRING(ASN1_PRINTABLESTRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_T61STRING_it;
MORVANE_EXPORT ASN1_T61STRING *ASN1_T61STRING_new(void);
MORVANE_EXPORT void ASN1_T61STRING_free(ASN1_T61STRING *a);
MORVANE_EXPORT ASN1_T61STRING *d2i_ASN1_T61STRING(ASN1_T61STRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_T61STRING(ASN1_T61STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_IA5STRING_it;
MORVANE_EXPORT ASN1_IA5STRING *ASN1_IA5STRING_new(void);
MORVANE_EXPORT void ASN1_IA5STRING_free(ASN1_IA5STRING *a);
MORVANE_EXPORT ASN1_IA5STRING *d2i_ASN1_IA5STRING(ASN1_IA5STRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_IA5STRING(ASN1_IA5STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_GENERALSTRING_it;
MORVANE_EXPORT ASN1_GENERALSTRING *ASN1_GENERALSTRING_new(void);
MORVANE_EXPORT void ASN1_GENERALSTRING_free(ASN1_GENERALSTRING *a);
MORVANE_EXPORT ASN1_GENERALSTRING *d2i_ASN1_GENERALSTRING(ASN1_GENERALSTRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_GENERALSTRING(ASN1_GENERALSTRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_UTCTIME_it;
MORVANE_EXPORT ASN1_UTCTIME *ASN1_UTCTIME_new(void);
MORVANE_EXPORT void ASN1_UTCTIME_free(ASN1_UTCTIME *a);
MORVANE_EXPORT ASN1_UTCTIME *d2i_ASN1_UTCTIME(ASN1_UTCTIME **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_UTCTIME(ASN1_UTCTIME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_GENERALIZEDTIME_it;
MORVANE_EXPORT ASN1_GENERALIZEDTIME *ASN1_GENERALIZEDTIME_new(void);
MORVANE_EXPORT void ASN1_GENERALIZEDTIME_free(ASN1_GENERALIZEDTIME *a);
MORVANE_EXPORT ASN1_GENERALIZEDTIME *d2i_ASN1_GENERALIZEDTIME(ASN1_GENERALIZEDTIME **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_GENERALIZEDTIME(ASN1_GENERALIZEDTIME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_TIME_it;
MORVANE_EXPORT ASN1_TIME *ASN1_TIME_new(void);
MORVANE_EXPORT void ASN1_TIME_free(ASN1_TIME *a);
MORVANE_EXPORT ASN1_TIME *d2i_ASN1_TIME(ASN1_TIME **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_TIME(ASN1_TIME *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_VISIBLESTRING_it;
MORVANE_EXPORT ASN1_VISIBLESTRING *ASN1_VISIBLESTRING_new(void);
MORVANE_EXPORT void ASN1_VISIBLESTRING_free(ASN1_VISIBLESTRING *a);
MORVANE_EXPORT ASN1_VISIBLESTRING *d2i_ASN1_VISIBLESTRING(ASN1_VISIBLESTRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_VISIBLESTRING(ASN1_VISIBLESTRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_UNIVERSALSTRING_it;
MORVANE_EXPORT ASN1_UNIVERSALSTRING *ASN1_UNIVERSALSTRING_new(void);
MORVANE_EXPORT void ASN1_UNIVERSALSTRING_free(ASN1_UNIVERSALSTRING *a);
MORVANE_EXPORT ASN1_UNIVERSALSTRING *d2i_ASN1_UNIVERSALSTRING(ASN1_UNIVERSALSTRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_UNIVERSALSTRING(ASN1_UNIVERSALSTRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_BMPSTRING_it;
MORVANE_EXPORT ASN1_BMPSTRING *ASN1_BMPSTRING_new(void);
MORVANE_EXPORT void ASN1_BMPSTRING_free(ASN1_BMPSTRING *a);
MORVANE_EXPORT ASN1_BMPSTRING *d2i_ASN1_BMPSTRING(ASN1_BMPSTRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_BMPSTRING(ASN1_BMPSTRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_ANY_it;
MORVANE_EXPORT ASN1_TYPE *ASN1_TYPE_new(void);
MORVANE_EXPORT void ASN1_TYPE_free(ASN1_TYPE *a);
MORVANE_EXPORT ASN1_TYPE *d2i_ASN1_TYPE(ASN1_TYPE **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_TYPE(ASN1_TYPE *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_SEQUENCE_it;
MORVANE_EXPORT extern const ASN1_ITEM ASN1_PRINTABLE_it;
MORVANE_EXPORT ASN1_STRING *ASN1_PRINTABLE_new(void);
MORVANE_EXPORT void ASN1_PRINTABLE_free(ASN1_STRING *a);
MORVANE_EXPORT ASN1_STRING *d2i_ASN1_PRINTABLE(ASN1_STRING **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_ASN1_PRINTABLE(ASN1_STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DISPLAYTEXT_it;
MORVANE_EXPORT ASN1_STRING *DISPLAYTEXT_new(void);
MORVANE_EXPORT void DISPLAYTEXT_free(ASN1_STRING *a);
MORVANE_EXPORT ASN1_STRING *d2i_DISPLAYTEXT(ASN1_STRING **a, const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DISPLAYTEXT(ASN1_STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM DIRECTORYSTRING_it;
MORVANE_EXPORT ASN1_STRING *DIRECTORYSTRING_new(void);
MORVANE_EXPORT void DIRECTORYSTRING_free(ASN1_STRING *a);
MORVANE_EXPORT ASN1_STRING *d2i_DIRECTORYSTRING(ASN1_STRING **a,
    const unsigned char **in, long len);
MORVANE_EXPORT int i2d_DIRECTORYSTRING(ASN1_STRING *a, unsigned char **out);
MORVANE_EXPORT extern const ASN1_ITEM ASN1_BOOLEAN_it;
MORVANE_EXPORT extern const ASN1_ITEM ASN1_TBOOLEAN_it;
MORVANE_EXPORT extern const ASN1_ITEM ASN1_FBOOLEAN_it;
MORVANE_EXPORT extern const ASN1_ITEM ASN1_OCTET_STRING_NDEF_it;
MORVANE_EXPORT extern const ASN1_ITEM LONG_it;
MORVANE_EXPORT extern const ASN1_ITEM ZLONG_it;
MORVANE_EXPORT extern const ASN1_ITEM BIGNUM_it;
MORVANE_EXPORT extern const ASN1_ITEM CBIGNUM_it;
/* END ITEMS */

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 13 (ASN1). */
#define ASN1_F_A2D_ASN1_OBJECT 100
#define ASN1_F_A2I_ASN1_ENUMERATED 101
#define ASN1_F_A2I_ASN1_INTEGER 102
#define ASN1_F_A2I_ASN1_STRING 103
#define ASN1_F_ASN1_CHECK_TLEN 104
#define ASN1_F_ASN1_COLLATE_PRIMITIVE 105
#define ASN1_F_ASN1_COLLECT 106
#define ASN1_F_ASN1_D2I_READ_BIO 107
#define ASN1_F_ASN1_D2I_EX_PRIMITIVE 108
#define ASN1_F_ASN1_D2I_FP 109
#define ASN1_F_ASN1_DO_ADB 110
#define ASN1_F_ASN1_DUP 111
#define ASN1_F_ASN1_ENUMERATED_SET 112
#define ASN1_F_ASN1_ENUMERATED_TO_BN 113
#define ASN1_F_ASN1_GET_OBJECT 114
#define ASN1_F_ASN1_HEADER_NEW 115
#define ASN1_F_ASN1_I2D_BIO 116
#define ASN1_F_ASN1_I2D_FP 117
#define ASN1_F_ASN1_INTEGER_SET 118
#define ASN1_F_ASN1_INTEGER_TO_BN 119
#define ASN1_F_ASN1_ITEM_EX_D2I 120
#define ASN1_F_ASN1_ITEM_EX_COMBINE_NEW 121
#define ASN1_F_ASN1_MBSTRING_NCOPY 122
#define ASN1_F_ASN1_OBJECT_NEW 123
#define ASN1_F_ASN1_PACK_STRING 124
#define ASN1_F_ASN1_PKCS5_PBE_SET 125
#define ASN1_F_ASN1_SEQ_PACK 126
#define ASN1_F_ASN1_SEQ_UNPACK 127
#define ASN1_F_ASN1_SIGN 128
#define ASN1_F_ASN1_STRING_TABLE_ADD 129
#define ASN1_F_ASN1_STRING_TYPE_NEW 130
#define ASN1_F_ASN1_TEMPLATE_NOEXP_D2I 131
#define ASN1_F_ASN1_TEMPLATE_EX_D2I 132
#define ASN1_F_ASN1_TEMPLATE_NEW 133
#define ASN1_F_ASN1_TYPE_GET_INT_OCTETSTRING 134
#define ASN1_F_ASN1_TYPE_GET_OCTETSTRING 135
#define ASN1_F_ASN1_UNPACK_STRING 136
#define ASN1_F_ASN1_VERIFY 137
#define ASN1_F_BN_TO_ASN1_ENUMERATED 138
#define ASN1_F_BN_TO_ASN1_INTEGER 139
#define ASN1_F_COLLECT_DATA 140
#define ASN1_F_D2I_ASN1_BIT_STRING 141
#define ASN1_F_D2I_ASN1_BOOLEAN 142
#define ASN1_F_D2I_ASN1_BYTES 143
#define ASN1_F_D2I_ASN1_GENERALIZEDTIME 144
#define ASN1_F_D2I_ASN1_HEADER 145
#define ASN1_F_D2I_ASN1_INTEGER 146
#define ASN1_F_D2I_ASN1_OBJECT 147
#define ASN1_F_D2I_ASN1_SET 148
#define ASN1_F_D2I_ASN1_TYPE_BYTES 149
#define ASN1_F_D2I_ASN1_UINTEGER 150
#define ASN1_F_D2I_ASN1_UTCTIME 151
#define ASN1_F_D2I_NETSCAPE_RSA 152
#define ASN1_F_D2I_NETSCAPE_RSA_2 153
#define ASN1_F_D2I_PRIVATEKEY 154
#define ASN1_F_D2I_PUBLICKEY 155
#define ASN1_F_D2I_X509 156
#define ASN1_F_D2I_X509_CINF 157
#define ASN1_F_X509_NAME_EX_D2I 158
#define ASN1_F_D2I_X509_PKEY 159
#define ASN1_F_I2D_ASN1_TIME 160
#define ASN1_F_I2D_DSA_PUBKEY 161
#define ASN1_F_I2D_RSA_NET 162
#define ASN1_F_I2D_PRIVATEKEY 163
#define ASN1_F_I2D_PUBLICKEY 164
#define ASN1_F_I2D_RSA_PUBKEY 165
#define ASN1_F_LONG_C2I 166
#define ASN1_F_PKCS5_PBE2_SET 167
#define ASN1_F_X509_CINF_NEW 168
#define ASN1_F_X509_CRL_ADD0_REVOKED 169
#define ASN1_F_X509_INFO_NEW 170
#define ASN1_F_X509_NAME_EX_NEW 171
#define ASN1_F_X509_NEW 172
#define ASN1_F_X509_PKEY_NEW 173
#define ASN1_F_OID_MODULE_INIT 174
#define ASN1_F_ASN1_TIME_SET 175
#define ASN1_F_APPEND_EXP 176
#define ASN1_F_ASN1_CB 177
#define ASN1_F_ASN1_GENERATE_V3 178
#define ASN1_F_ASN1_STR2TYPE 179
#define ASN1_F_BITSTR_CB 180
#define ASN1_F_I2D_EC_PUBKEY 181
#define ASN1_F_PARSE_TAGGING 182
#define ASN1_F_ASN1_BIT_STRING_SET_BIT 183
#define ASN1_F_ASN1_DIGEST 184
#define ASN1_F_ASN1_GENERALIZEDTIME_SET 185
#define ASN1_F_ASN1_STRING_SET 186
#define ASN1_F_ASN1_UTCTIME_SET 187
#define ASN1_F_I2D_ASN1_SET 188
#define ASN1_F_C2I_ASN1_BIT_STRING 189
#define ASN1_F_ASN1_FIND_END 190
#define ASN1_F_ASN1_ITEM_DUP 191
#define ASN1_F_ASN1_ITEM_I2D_BIO 192
#define ASN1_F_ASN1_ITEM_I2D_FP 193
#define ASN1_F_C2I_ASN1_INTEGER 194
#define ASN1_F_ASN1_ITEM_SIGN 195
#define ASN1_F_C2I_ASN1_OBJECT 196
#define ASN1_F_ASN1_ITEM_VERIFY 197
#define ASN1_F_ASN1_ITEM_PACK 198
#define ASN1_F_ASN1_ITEM_UNPACK 199
#define ASN1_F_D2I_RSA_NET 200
#define ASN1_F_D2I_RSA_NET_2 201
#define ASN1_F_PKCS5_PBE_SET 202
#define ASN1_F_X509_NAME_ENCODE 203
#define ASN1_F_ASN1_EX_C2I 204
#define ASN1_F_ASN1_PCTX_NEW 205
#define ASN1_F_ASN1_ITEM_D2I_FP 206
#define ASN1_F_ASN1_OUTPUT_DATA 207
#define ASN1_F_B64_READ_ASN1 208
#define ASN1_F_B64_WRITE_ASN1 209
#define ASN1_F_SMIME_READ_ASN1 210
#define ASN1_F_SMIME_TEXT 211
#define ASN1_F_ASN1_TEMPLATE_EX_I2D 212
#define ASN1_F_SMIME_CRLF_COPY 213
#define ASN1_F_ASN1_PUT_OBJECT 214
#define ASN1_F_ASN1_OBJECT_CREATE 215
#define ASN1_F_ASN1_ITEM_I2D 216
/* Reason codes of library 13 (ASN1). */
#define ASN1_R_AUX_ERROR 100
#define ASN1_R_BAD_CLASS 101
#define ASN1_R_BAD_OBJECT_HEADER 102
#define ASN1_R_BAD_PASSWORD_READ 103
#define ASN1_R_BAD_TAG 104
#define ASN1_R_BN_LIB 105
#define ASN1_R_BOOLEAN_IS_WRONG_LENGTH 106
#define ASN1_R_BUFFER_TOO_SMALL 107
#define ASN1_R_CIPHER_HAS_NO_OBJECT_IDENTIFIER 108
#define ASN1_R_DATA_IS_WRONG 109
#define ASN1_R_DECODE_ERROR 110
#define ASN1_R_DECODING_ERROR 111
#define ASN1_R_ENCODE_ERROR 112
#define ASN1_R_ERROR_PARSING_SET_ELEMENT 113
#define ASN1_R_ERROR_SETTING_CIPHER_PARAMS 114
#define ASN1_R_EXPECTING_AN_INTEGER 115
#define ASN1_R_EXPECTING_AN_OBJECT 116
#define ASN1_R_EXPECTING_A_BOOLEAN 117
#define ASN1_R_EXPECTING_A_TIME 118
#define ASN1_R_EXPLICIT_LENGTH_MISMATCH 119
#define ASN1_R_EXPLICIT_TAG_NOT_CONSTRUCTED 120
#define ASN1_R_FIELD_MISSING 121
#define ASN1_R_FIRST_NUM_TOO_LARGE 122
#define ASN1_R_HEADER_TOO_LONG 123
#define ASN1_R_ILLEGAL_CHARACTERS 124
#define ASN1_R_ILLEGAL_NULL 125
#define ASN1_R_ILLEGAL_OPTIONAL_ANY 126
#define ASN1_R_ILLEGAL_TAGGED_ANY 127
#define ASN1_R_INTEGER_TOO_LARGE_FOR_LONG 128
#define ASN1_R_INVALID_BMPSTRING_LENGTH 129
#define ASN1_R_INVALID_DIGIT 130
#define ASN1_R_INVALID_SEPARATOR 131
#define ASN1_R_INVALID_TIME_FORMAT 132
#define ASN1_R_INVALID_UNIVERSALSTRING_LENGTH 133
#define ASN1_R_INVALID_UTF8STRING 134
#define ASN1_R_IV_TOO_LARGE 135
#define ASN1_R_LENGTH_ERROR 136
#define ASN1_R_MISSING_EOC 137
#define ASN1_R_MISSING_SECOND_NUMBER 138
#define ASN1_R_MSTRING_NOT_UNIVERSAL 139
#define ASN1_R_MSTRING_WRONG_TAG 140
#define ASN1_R_NON_HEX_CHARACTERS 141
#define ASN1_R_NOT_ENOUGH_DATA 142
#define ASN1_R_NO_MATCHING_CHOICE_TYPE 143
#define ASN1_R_NULL_IS_WRONG_LENGTH 144
#define ASN1_R_ODD_NUMBER_OF_CHARS 145
#define ASN1_R_PRIVATE_KEY_HEADER_MISSING 146
#define ASN1_R_SECOND_NUMBER_TOO_LARGE 147
#define ASN1_R_SEQUENCE_LENGTH_MISMATCH 148
#define ASN1_R_SEQUENCE_NOT_CONSTRUCTED 149
#define ASN1_R_SHORT_LINE 150
#define ASN1_R_STRING_TOO_LONG 151
#define ASN1_R_STRING_TOO_SHORT 152
#define ASN1_R_TAG_VALUE_TOO_HIGH 153
#define ASN1_R_THE_ASN1_OBJECT_IDENTIFIER_IS_NOT_KNOWN_FOR_THIS_MD 154
#define ASN1_R_TOO_LONG 155
#define ASN1_R_TYPE_NOT_CONSTRUCTED 156
#define ASN1_R_UNABLE_TO_DECODE_RSA_KEY 157
#define ASN1_R_UNABLE_TO_DECODE_RSA_PRIVATE_KEY 158
#define ASN1_R_UNEXPECTED_EOC 159
#define ASN1_R_UNKNOWN_FORMAT 160
#define ASN1_R_UNKNOWN_MESSAGE_DIGEST_ALGORITHM 161
#define ASN1_R_UNKNOWN_OBJECT_TYPE 162
#define ASN1_R_UNKNOWN_PUBLIC_KEY_TYPE 163
#define ASN1_R_UNSUPPORTED_ANY_DEFINED_BY_TYPE 164
#define ASN1_R_UNSUPPORTED_CIPHER 165
#define ASN1_R_UNSUPPORTED_ENCRYPTION_ALGORITHM 166
#define ASN1_R_UNSUPPORTED_PUBLIC_KEY_TYPE 167
#define ASN1_R_WRONG_TAG 168
#define ASN1_R_WRONG_TYPE 169
#define ASN1_R_ILLEGAL_OPTIONS_ON_ITEM_TEMPLATE 170
#define ASN1_R_ADDING_OBJECT 171
#define ASN1_R_ERROR_LOADING_SECTION 172
#define ASN1_R_ERROR_GETTING_TIME 173
#define ASN1_R_DEPTH_EXCEEDED 174
#define ASN1_R_ILLEGAL_BITSTRING_FORMAT 175
#define ASN1_R_ILLEGAL_BOOLEAN 176
#define ASN1_R_ILLEGAL_FORMAT 177
#define ASN1_R_ILLEGAL_HEX 178
#define ASN1_R_ILLEGAL_IMPLICIT_TAG 179
#define ASN1_R_ILLEGAL_INTEGER 180
#define ASN1_R_ILLEGAL_NESTED_TAGGING 181
#define ASN1_R_ILLEGAL_NULL_VALUE 182
#define ASN1_R_ILLEGAL_OBJECT 183
#define ASN1_R_ILLEGAL_TIME_VALUE 184
#define ASN1_R_INTEGER_NOT_ASCII_FORMAT 185
#define ASN1_R_INVALID_MODIFIER 186
#define ASN1_R_INVALID_NUMBER 187
#define ASN1_R_LIST_ERROR 188
#define ASN1_R_MISSING_VALUE 189
#define ASN1_R_NOT_ASCII_FORMAT 190
#define ASN1_R_OBJECT_NOT_ASCII_FORMAT 191
#define ASN1_R_SEQUENCE_OR_SET_NEEDS_CONFIG 192
#define ASN1_R_TIME_NOT_ASCII_FORMAT 193
#define ASN1_R_UNKNOWN_TAG 194
#define ASN1_R_UNKOWN_FORMAT 195
#define ASN1_R_UNSUPPORTED_TYPE 196
#define ASN1_R_NESTED_ASN1_STRING 197
#define ASN1_R_ASN1_PARSE_ERROR 198
#define ASN1_R_ASN1_SIG_PARSE_ERROR 199
#define ASN1_R_INVALID_MIME_TYPE 200
#define ASN1_R_MIME_NO_CONTENT_TYPE 201
#define ASN1_R_MIME_PARSE_ERROR 202
#define ASN1_R_MIME_SIG_PARSE_ERROR 203
#define ASN1_R_NO_CONTENT_TYPE 204
#define ASN1_R_NO_MULTIPART_BODY_FAILURE 205
#define ASN1_R_NO_MULTIPART_BOUNDARY 206
#define ASN1_R_NO_SIG_CONTENT_TYPE 207
#define ASN1_R_SIG_INVALID_MIME_TYPE 208
#define ASN1_R_STREAMING_NOT_SUPPORTED 209
#define ASN1_R_BMPSTRING_IS_WRONG_LENGTH 210
#define ASN1_R_UNIVERSALSTRING_IS_WRONG_LENGTH 211
#define ASN1_R_INVALID_OBJECT_ENCODING 212
#define ASN1_R_UNSUPPORTED_SIGNATURE_ALGORITHM 213
#define ASN1_R_STREAM_READ_ERROR 214
#define ASN1_R_TYPE_NOT_PRIMITIVE 215
#define ASN1_R_INVALID_BIT_STRING_BITS_LEFT 216
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_ASN1_H */
