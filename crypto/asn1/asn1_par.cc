// The DER dump printer: one line per encoded object (offset, depth, header
// and content lengths, constructed or primitive, tag, and a readable form of
// simple values, optionally hex dumps of other contents), with no template;
// and the names of the universal types.
//
// Implementation notes: the walker recurses once per level of nesting, so
// it refuses to go deeper than kMaxDepth levels.  It never reads past the
// buffer: every header is read with the count of octets that remain, and a
// length beyond them is an encoding error.

#include <limits.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>

#include "asn1/internal.h"

namespace {

constexpr int kMaxDepth = 128;

// clang-format off
constexpr const char* kTag2Str[31] = {
    "EOC", "BOOLEAN", "INTEGER", "BIT STRING", "OCTET STRING",                   // 0-4
    "NULL", "OBJECT", "OBJECT DESCRIPTOR", "EXTERNAL", "REAL",                   // 5-9
    "ENUMERATED", "<ASN1 11>", "UTF8STRING", "<ASN1 13>", "<ASN1 14>",           // 10-14
    "<ASN1 15>", "SEQUENCE", "SET", "NUMERICSTRING", "PRINTABLESTRING",          // 15-19
    "T61STRING", "VIDEOTEXSTRING", "IA5STRING", "UTCTIME", "GENERALIZEDTIME",    // 20-24
    "GRAPHICSTRING", "VISIBLESTRING", "GENERALSTRING", "UNIVERSALSTRING",        // 25-28
    "<ASN1 29>", "BMPSTRING"};                                                   // 29-30
// clang-format on

bool put(BIO* bp, const char* s) {
  return morvane::asn1::put_whole(bp, s);
}

// The tag column: class and number, left-aligned in 18 columns.
bool tag_column(BIO* bp, int tag, int xclass, bool constructed, int depth) {
  if (!put(bp, constructed ? "cons: " : "prim: ")) return false;
  if (depth > 0 && BIO_indent(bp, depth, kMaxDepth) <= 0) return false;
  char text[32];
  const char* name = text;
  if (xclass == ASN1_CLASS_PRIVATE)
    BIO_snprintf(text, sizeof text, "priv [ %d ] ", tag);
  else if (xclass == ASN1_CLASS_CONTEXT)
    BIO_snprintf(text, sizeof text, "cont [ %d ]", tag);
  else if (xclass == ASN1_CLASS_APPLICATION)
    BIO_snprintf(text, sizeof text, "appl [ %d ]", tag);
  else if (tag > 30)
    BIO_snprintf(text, sizeof text, "<ASN1 %d>", tag);
  else
    name = ASN1_tag2str(tag);
  return BIO_printf(bp, "%-18s", name) > 0;
}

// Writes len octets, in pieces that an int counts.
bool write_all(BIO* bp, const unsigned char* p, long len) {
  while (len > 0) {
    const int n = len > INT_MAX ? INT_MAX : static_cast<int>(len);
    if (BIO_write(bp, p, n) != n) return false;
    p += n;
    len -= n;
  }
  return true;
}

// A newline and a hex dump of the content, or of its first `dump` octets.
bool hex_dump(BIO* bp, const unsigned char* p, long len, int dump) {
  long n = dump == -1 || dump > len ? len : dump;
  if (n > INT_MAX) n = INT_MAX;
  return put(bp, "\n") &&
         BIO_dump_indent(bp, reinterpret_cast<const char*>(p), static_cast<int>(n), 6) > 0;
}

bool printable(const unsigned char* p, int len) {
  for (int i = 0; i < len; i++) {
    const unsigned char c = p[i];
    if ((c < ' ' || c > '~') && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// The readable form of a primitive universal value whose element is the
// `hl` + `len` octets at `op`.  *dumped tells that a hex dump ended the line.
bool primitive(BIO* bp, int tag, const unsigned char* op, long hl, long len, int dump,
               bool* dumped) {
  const unsigned char* content = op + hl;
  const long whole = hl + len;
  switch (tag) {
    case ASN1_UT_PRINTABLESTRING:
    case ASN1_UT_T61STRING:
    case ASN1_UT_IA5STRING:
    case ASN1_UT_VISIBLESTRING:
    case ASN1_UT_NUMERICSTRING:
    case ASN1_UT_UTF8STRING:
    case ASN1_UT_UTCTIME:
    case ASN1_UT_GENERALIZEDTIME:
      return put(bp, ":") && write_all(bp, content, len);
    case ASN1_UT_OBJECT: {
      const unsigned char* q = op;
      ASN1_OBJECT* o = d2i_ASN1_OBJECT(nullptr, &q, whole);
      bool ok;
      if (o != nullptr)
        ok = put(bp, ":") && i2a_ASN1_OBJECT(bp, o) > 0;
      else
        ok = put(bp, ":BAD OBJECT");
      ASN1_OBJECT_free(o);
      return ok;
    }
    case ASN1_UT_BOOLEAN: {
      const unsigned char* q = op;
      const int v = d2i_ASN1_BOOLEAN(nullptr, &q, whole);
      if (v < 0 && !put(bp, "Bad boolean\n")) return false;
      return BIO_printf(bp, ":%d", v) > 0;
    }
    case ASN1_UT_BMPSTRING:
      return true;
    case ASN1_UT_OCTET_STRING: {
      const unsigned char* q = op;
      ASN1_OCTET_STRING* os = d2i_ASN1_OCTET_STRING(nullptr, &q, whole);
      bool ok = true;
      if (os != nullptr && os->length > 0) {
        if (printable(os->data, os->length)) {
          ok = put(bp, ":") && BIO_write(bp, os->data, os->length) == os->length;
        } else if (dump == 0) {
          ok = put(bp, "[HEX DUMP]:");
          for (int i = 0; ok && i < os->length; i++) ok = BIO_printf(bp, "%02X", os->data[i]) > 0;
        } else {
          ok = hex_dump(bp, os->data, os->length, dump);
          *dumped = true;
        }
      }
      ASN1_OCTET_STRING_free(os);
      return ok;
    }
    case ASN1_UT_INTEGER:
    case ASN1_UT_ENUMERATED: {
      const unsigned char* q = op;
      const bool integer = tag == ASN1_UT_INTEGER;
      ASN1_STRING* v =
          integer ? d2i_ASN1_INTEGER(nullptr, &q, whole) : d2i_ASN1_ENUMERATED(nullptr, &q, whole);
      bool ok;
      if (v == nullptr) {
        ok = put(bp, integer ? "BAD INTEGER" : "BAD ENUMERATED");
      } else {
        ok = put(bp, ":") && (!(v->type & ASN1_UT_NEG) || put(bp, "-"));
        for (int i = 0; ok && i < v->length; i++) ok = BIO_printf(bp, "%02X", v->data[i]) > 0;
        if (ok && v->length == 0) ok = put(bp, "00");
      }
      ASN1_STRING_free(v);
      return ok;
    }
    default:
      if (len > 0 && dump != 0) {
        *dumped = true;
        return hex_dump(bp, content, len, dump);
      }
      return true;
  }
}

// Walks the `length` octets at *pp, whose first is `offset` octets into the
// whole buffer, at `depth`.  1 after the last object, 2 after an
// end-of-contents object, 0 on an encoding error or a failed write; *pp
// receives the position reached.
int walk(BIO* bp, const unsigned char** pp, long length, long offset, int depth, int indent,
         int dump) {
  const unsigned char* const start = *pp;
  const unsigned char* const end = start + length;
  const unsigned char* p = start;
  int ret = 0;
  if (depth >= kMaxDepth) {
    put(bp, "Error in encoding\n");
    goto done;
  }
  while (p < end) {
    const unsigned char* const op = p;
    long len;
    int tag, xclass;
    const int j = ASN1_get_object(&p, &len, &tag, &xclass, end - op);
    if (j & ASN1_HDR_ERROR) {
      put(bp, "Error in encoding\n");
      goto done;
    }
    const long hl = p - op;
    const bool constructed = (j & ASN1_HDR_CONSTRUCTED) != 0;
    const bool indefinite = constructed && (j & ASN1_HDR_INDEFINITE);
    if (BIO_printf(bp, "%5ld:", offset + (op - start)) <= 0) goto done;
    if (indefinite ? BIO_printf(bp, "d=%-2d hl=%ld l=inf  ", depth, hl) <= 0
                   : BIO_printf(bp, "d=%-2d hl=%ld l=%4ld ", depth, hl, len) <= 0)
      goto done;
    if (!tag_column(bp, tag, xclass, constructed, indent ? depth : 0)) goto done;
    if (constructed) {
      if (!put(bp, "\n")) goto done;
      if (len > end - p) {
        BIO_printf(bp, "length is greater than %ld\n", static_cast<long>(end - p));
        goto done;
      }
      const unsigned char* const stop = indefinite ? end : p + len;
      while (p < stop) {
        const unsigned char* const before = p;
        const int r = walk(bp, &p, stop - p, offset + (p - start), depth + 1, indent, dump);
        if (r == 0) {
          *pp = p;
          return 0;
        }
        if ((indefinite && r == 2) || p == before) break;
      }
    } else if (xclass != ASN1_CLASS_UNIVERSAL) {
      p += len;
      if (!put(bp, "\n")) goto done;
    } else {
      bool dumped = false;
      if (!primitive(bp, tag, op, hl, len, dump, &dumped)) goto done;
      p += len;
      if (!dumped && !put(bp, "\n")) goto done;
      if (tag == ASN1_UT_EOC) {
        ret = 2;
        goto done;
      }
    }
  }
  ret = 1;
done:
  *pp = p;
  return ret;
}

}  // namespace

/* see morvane/asn1.h */
int ASN1_parse(BIO* bp, const unsigned char* pp, long len, int indent) {
  return ASN1_parse_dump(bp, pp, len, indent, 0);
}

/* see morvane/asn1.h */
int ASN1_parse_dump(BIO* bp, const unsigned char* pp, long len, int indent, int dump) {
  if (len < 0) {  // no buffer has a negative size: the end would lie before pp
    ASN1err(0, ASN1_R_LENGTH_ERROR);
    return 0;
  }
  return walk(bp, &pp, len, 0, 0, indent, dump);
}

/* see morvane/asn1.h */
const char* ASN1_tag2str(int tag) {
  if (tag == ASN1_UT_NEG_INTEGER || tag == ASN1_UT_NEG_ENUMERATED) tag &= ~ASN1_UT_NEG;
  if (tag < 0 || tag > 30) return "(unknown)";
  return kTag2Str[tag];
}
