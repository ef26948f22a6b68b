// The text form of certificate extensions: name/value lists, one
// extension's value through its method's printer (or a fallback chosen by
// the caller), and a list of extensions under its title.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "asn1/internal.h"
#include "internal/err_watch.h"
#include "x509v3/internal.h"

namespace {

void free_conf_value(void* v) {
  X509V3_conf_free(static_cast<CONF_VALUE*>(v));
}

// What is printed when a value has no method or does not decode.
int unknown_ext_print(BIO* out, X509_EXTENSION* ext, unsigned long flag, int indent,
                      bool supported) {
  switch (flag & X509V3_EXT_UNKNOWN_MASK) {
    case X509V3_EXT_DEFAULT:
      return 0;
    case X509V3_EXT_ERROR_UNKNOWN:
      BIO_printf(out, "%*s%s", indent, "", supported ? "<Parse Error>" : "<Not Supported>");
      return 1;
    case X509V3_EXT_PARSE_UNKNOWN:
      return ASN1_parse_dump(out, ext->value->data, ext->value->length, indent, -1);
    case X509V3_EXT_DUMP_UNKNOWN:
      return BIO_dump_indent(out, reinterpret_cast<const char*>(ext->value->data),
                             ext->value->length, indent);
    default:
      return 1;
  }
}

}  // namespace

/* see morvane/x509v3.h */
void X509V3_EXT_val_prn(BIO* out, STACK* val, int indent, int ml) {
  if (val == nullptr) return;
  if (!ml || sk_num(val) == 0) {
    BIO_printf(out, "%*s", indent, "");
    if (sk_num(val) == 0) BIO_puts(out, "<EMPTY>\n");
  }
  for (int i = 0; i < sk_num(val); i++) {
    if (ml)
      BIO_printf(out, "%*s", indent, "");
    else if (i > 0)
      BIO_printf(out, ", ");
    auto* nval = reinterpret_cast<CONF_VALUE*>(sk_value(val, i));
    if (nval->name == nullptr)
      BIO_puts(out, nval->value != nullptr ? nval->value : "");
    else if (nval->value == nullptr)
      BIO_puts(out, nval->name);
    else
      BIO_printf(out, "%s:%s", nval->name, nval->value);
    if (ml) BIO_puts(out, "\n");
  }
}

/* see morvane/x509v3.h */
int X509V3_EXT_print(BIO* out, X509_EXTENSION* ext, unsigned long flag, int indent) {
  const X509V3_EXT_METHOD* method = X509V3_EXT_get(ext);
  if (method == nullptr) return unknown_ext_print(out, ext, flag, indent, false);
  const morvane::internal::MallocFailureWatch watch;
  void* value = X509V3_EXT_d2i(ext);
  // A value that could not be decoded for want of memory is no parse error.
  if (value == nullptr) return watch.seen() ? 0 : unknown_ext_print(out, ext, flag, indent, true);
  int ok = 1;
  if (method->i2s != nullptr) {
    char* text = method->i2s(method, value);
    if (text == nullptr)
      ok = 0;
    else
      BIO_printf(out, "%*s%s", indent, "", text);
    MORVANE_free(text);
  } else if (method->i2v != nullptr) {
    STACK* list = method->i2v(method, value, nullptr);
    if (list == nullptr)
      ok = 0;
    else
      X509V3_EXT_val_prn(out, list, indent, method->ext_flags & X509V3_EXT_MULTILINE);
    sk_pop_free(list, free_conf_value);
  } else if (method->i2r != nullptr) {
    ok = method->i2r(method, value, out, indent);
  } else {
    ok = 0;
  }
  morvane::x509v3::free_value(method, value);
  return ok;
}

/* see morvane/x509v3.h */
int X509V3_EXT_print_fp(FILE* out, X509_EXTENSION* ext, int flag, int indent) {
  BIO* bio = BIO_new_fp(out, BIO_NOCLOSE);
  if (bio == nullptr) return 0;
  const int ret = X509V3_EXT_print(bio, ext, static_cast<unsigned long>(flag), indent);
  BIO_free(bio);
  return ret;
}

/* see morvane/x509v3.h */
int X509V3_extensions_print(BIO* bp, const char* title, STACK* exts, unsigned long flag,
                            int indent) {
  if (sk_num(exts) <= 0) return 1;
  if (title != nullptr) {
    if (BIO_printf(bp, "%*s%s:\n", indent, "", title) <= 0) return 0;
    indent += 4;
  }
  for (int i = 0; i < sk_num(exts); i++) {
    auto* ex = reinterpret_cast<X509_EXTENSION*>(sk_value(exts, i));
    if (!BIO_indent(bp, indent, indent) || morvane::asn1::write_obj(bp, ex->object) <= 0 ||
        BIO_printf(bp, ": %s\n", ex->critical > 0 ? "critical" : "") <= 0)
      return 0;
    // The method printers do not all report their writes, and one that
    // fails halfway is taken for one that declines: the value goes out in
    // one write from a buffer, and what such a printer left there is
    // dropped before the raw octets are printed instead.  A printer that
    // ran out of memory has not declined: the list fails, with nothing of
    // the value written.
    const bool written = morvane::asn1::print_as_one_write(bp, [&](BIO* b) {
      const morvane::internal::MallocFailureWatch watch;
      const int printed = X509V3_EXT_print(b, ex, flag, indent + 4);
      if (watch.seen()) return false;
      if (!printed && BIO_reset(b) >= 0 && BIO_indent(b, indent + 4, indent + 4))
        ASN1_STRING_print(b, ex->value);
      return true;
    });
    if (!written || BIO_write(bp, "\n", 1) != 1) return 0;
  }
  return 1;
}
