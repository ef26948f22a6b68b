// The text form of certificate requests (PKCS #10): version, subject,
// subject key, attributes, requested extensions and the signature.
//
// Implementation notes: an attribute prints each of its values after its
// type's name padded to 25 columns; only the three ASCII string types print
// as text.  An attribute whose SET holds no value prints "unable to print
// attribute" like one of another type, and printing goes on.

#include <stdint.h>
#include <stdio.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "asn1/internal.h"

using morvane::asn1::put_whole;

namespace {

bool blanks(BIO* bp, int n) {
  for (int i = 0; i < n; i++)
    if (BIO_write(bp, " ", 1) != 1) return false;
  return true;
}

// One value after its padding and ':'.
bool print_value(BIO* bp, const ASN1_TYPE* v) {
  const int type = v != nullptr ? v->type : ASN1_UT_UNDEF;
  if (type == ASN1_UT_PRINTABLESTRING || type == ASN1_UT_T61STRING ||
      type == ASN1_UT_IA5STRING) {
    const ASN1_STRING* s = v->value.asn1_string;
    return BIO_write(bp, s->data, s->length) == s->length && put_whole(bp, "\n");
  }
  return put_whole(bp, "unable to print attribute\n");
}

// An attribute: "%12s", its type, padding to 25 columns, ':' and its first
// value; each further value on a line of its own under the first.
bool print_attribute(BIO* bp, const X509_ATTRIBUTE* a) {
  if (BIO_printf(bp, "%12s", "") <= 0) return false;
  // The name's text always exists ("<INVALID>" at worst): a name that did
  // not go out is a failed write.
  const int j = morvane::asn1::write_obj(bp, a->object);
  if (j <= 0) return false;
  const int count = a->single ? 1 : sk_num(a->value.set);
  // The first line pads after the name; the others stand 25 blanks in, or
  // as far as the name reached.
  if (!blanks(bp, 25 - j) || !put_whole(bp, ":")) return false;
  if (count <= 0) return print_value(bp, nullptr);
  for (int i = 0; i < count; i++) {
    if (i > 0 && (!blanks(bp, j > 25 ? j : 25) || !put_whole(bp, ":"))) return false;
    const ASN1_TYPE* v = a->single ? a->value.single
                                   : reinterpret_cast<const ASN1_TYPE*>(sk_value(a->value.set, i));
    if (!print_value(bp, v)) return false;
  }
  return true;
}

bool print_attributes(BIO* bp, const STACK* attrs) {
  if (BIO_printf(bp, "%8sAttributes:\n", "") <= 0) return false;
  if (attrs == nullptr) return true;  // decoded without the field
  if (sk_num(attrs) == 0) return BIO_printf(bp, "%12sa0:00\n", "") > 0;
  for (int i = 0; i < sk_num(attrs); i++) {
    const auto* a = reinterpret_cast<const X509_ATTRIBUTE*>(sk_value(attrs, i));
    if (X509_REQ_extension_nid(OBJ_obj2nid(a->object))) continue;
    if (!print_attribute(bp, a)) return false;
  }
  return true;
}

void free_extension(void* ex) {
  X509_EXTENSION_free(static_cast<X509_EXTENSION*>(ex));
}

// Each extension as the certificate printer lists them, at indent 12 under
// the title.
bool print_requested_extensions(BIO* bp, X509_REQ* x, unsigned long cflag) {
  STACK* exts = X509_REQ_get_extensions(x);
  if (exts == nullptr) return true;
  const bool ok = BIO_printf(bp, "%8sRequested Extensions:\n", "") > 0 &&
                  X509V3_extensions_print(bp, nullptr, exts, cflag, 12);
  sk_pop_free(exts, free_extension);
  return ok;
}

}  // namespace

/* see morvane/x509.h */
int X509_REQ_print_ex(BIO* bp, X509_REQ* x, unsigned long nmflags, unsigned long cflag) {
  const X509_REQ_INFO* ri = x->req_info;
  bool ok = true;
  if (!(cflag & X509_FLAG_NO_HEADER))
    ok = put_whole(bp, "Certificate Request:\n") && put_whole(bp, "    Data:\n");
  if (ok && !(cflag & X509_FLAG_NO_VERSION)) {
    // The content octets, most significant first, in a 32-bit word.
    uint32_t v = 0;
    const ASN1_INTEGER* ver = ri->version;
    for (int i = 0; ver != nullptr && i < ver->length; i++) v = v << 8 | ver->data[i];
    const char* sign = ver != nullptr && (ver->type & ASN1_UT_NEG) ? "-" : "";
    ok = BIO_printf(bp, "%8sVersion: %s%lu (%s0x%lx)\n", "", sign, static_cast<unsigned long>(v),
                    sign, static_cast<unsigned long>(v)) > 0;
  }
  if (ok && !(cflag & X509_FLAG_NO_SUBJECT))
    ok = morvane::asn1::print_name_line(bp, "Subject", ri->subject, nmflags);
  if (ok && !(cflag & X509_FLAG_NO_PUBKEY)) {
    ok = put_whole(bp, "        Subject Public Key Info:\n") &&
         BIO_printf(bp, "%12sPublic Key Algorithm: ", "") > 0 &&
         morvane::asn1::write_obj(bp, ri->pubkey->algor->algorithm) > 0 && put_whole(bp, "\n");
    static constexpr morvane::asn1::KeyLayout kLayout = {12, 16, "Unable to load Public Key", true,
                                                         "EC Public Key: "};
    if (ok)
      ok = morvane::asn1::print_key_section(
          bp, [x] { return X509_REQ_get_pubkey(x); }, kLayout);
  }
  if (ok && !(cflag & X509_FLAG_NO_ATTRIBUTES)) ok = print_attributes(bp, ri->attributes);
  if (ok && !(cflag & X509_FLAG_NO_EXTENSIONS)) ok = print_requested_extensions(bp, x, cflag);
  if (ok && !(cflag & X509_FLAG_NO_SIGDUMP))
    ok = X509_signature_print(bp, x->sig_alg, x->signature) > 0;
  if (!ok) {
    X509err(X509_F_X509_REQ_PRINT_EX, ERR_R_BUF_LIB);
    return 0;
  }
  return 1;
}

/* see morvane/x509.h */
int X509_REQ_print(BIO* bp, X509_REQ* x) {
  return X509_REQ_print_ex(bp, x, 0, 0);
}

/* see morvane/x509.h */
int X509_REQ_print_fp(FILE* fp, X509_REQ* x) {
  return morvane::asn1::print_to_file(fp, X509_F_X509_REQ_PRINT_FP,
                                      [&](BIO* b) { return X509_REQ_print(b, x); });
}
