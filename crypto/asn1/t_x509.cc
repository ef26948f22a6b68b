// The text form of certificates: the labelled sections of the signed part,
// the signature dump and the auxiliary trust record; the older one-line
// name printer and the OCSP hashes of a certificate.
//
// Implementation notes: the layout is fixed to the blank.  A key that
// cannot be decoded or printed does not make the printer fail (it prints
// "Unable to load Public Key" and the error queue, or what its printer
// managed); a failed or short write does.  The key printers do not report
// every write, so the key section (shared with the request and SPKI
// printers) is printed into a memory buffer and written in one checked
// write.

#include <ctype.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "asn1/internal.h"

using morvane::asn1::put_whole;

namespace {

// The key lines of the subject key section; see KeyLayout.
void print_key_lines(BIO* bp, EVP_PKEY* pkey, const morvane::asn1::KeyLayout& layout) {
  const int in = layout.indent;
  if (pkey == nullptr) {
    BIO_printf(bp, "%*s%s\n", in, "", layout.unable);
    if (layout.errors) ERR_print_errors(bp);
    return;
  }
  switch (pkey->type) {
    case EVP_PKEY_RSA:
      BIO_printf(bp, "%*sRSA Public Key: (%d bit)\n", in, "",
                 pkey->pkey.rsa->n != nullptr ? BN_num_bits(pkey->pkey.rsa->n) : 0);
      RSA_print(bp, pkey->pkey.rsa, layout.key_off);
      break;
    case EVP_PKEY_DSA:
      BIO_printf(bp, "%*sDSA Public Key:\n", in, "");
      DSA_print(bp, pkey->pkey.dsa, layout.key_off);
      break;
    case EVP_PKEY_EC:
      BIO_printf(bp, "%*s%s\n", in, "", layout.ec);
      EC_KEY_print(bp, pkey->pkey.ec, layout.key_off);
      break;
    default:
      BIO_printf(bp, "%*sUnknown Public Key:\n", in, "");
      break;
  }
}

}  // namespace

namespace morvane::asn1 {

SectionBuffer::SectionBuffer() : mem_(BIO_new(BIO_s_mem())) {
  if (mem_ == nullptr) return;
  BIO_set_callback_arg(mem_, reinterpret_cast<char*>(&refused_));
  BIO_set_callback(mem_, watch);
}

SectionBuffer::~SectionBuffer() {
  BIO_free(mem_);
}

// A memory stream refuses a write only when it cannot grow.
long SectionBuffer::watch(BIO* b, int oper, const char* /*argp*/, int /*argi*/, long /*argl*/,
                          long ret) {
  if ((oper == BIO_CB_return(BIO_CB_WRITE) || oper == BIO_CB_return(BIO_CB_PUTS)) && ret < 0)
    *reinterpret_cast<bool*>(BIO_get_callback_arg(b)) = true;
  return ret;
}

bool SectionBuffer::flush_to(BIO* out) {
  char* text = nullptr;
  const long n = BIO_get_mem_data(mem_, &text);
  if (refused_ || n < 0 || n > INT_MAX) return false;
  return n == 0 || BIO_write(out, text, static_cast<int>(n)) == n;
}

// see asn1/internal.h
bool print_key_section(BIO* bp, EVP_PKEY* pkey, const KeyLayout& layout,
                       const morvane::internal::MallocFailureWatch& watch) {
  // Looked at before printing too: the error queue that an unloaded key
  // prints is emptied by it.
  const bool ok = !watch.seen() && print_as_one_write(bp, [&](BIO* b) {
    print_key_lines(b, pkey, layout);
    return !watch.seen();
  });
  EVP_PKEY_free(pkey);
  return ok;
}

// see asn1/internal.h
const char* algorithm_name(const X509_ALGOR* a, const char* none) {
  const int nid = a != nullptr ? OBJ_obj2nid(a->algorithm) : 0;
  const char* ln = nid != 0 ? OBJ_nid2ln(nid) : nullptr;
  return ln != nullptr ? ln : none;
}

// see asn1/internal.h
bool print_name_line(BIO* bp, const char* label, X509_NAME* name, unsigned long nmflags) {
  const bool multiline = (nmflags & NAME_PF_SEP_MASK) == NAME_PF_SEP_MULTILINE;
  const int indent = multiline ? 12 : nmflags == 0 ? 16 : 0;
  if (BIO_printf(bp, "        %s:%c", label, multiline ? '\n' : ' ') <= 0) return false;
  // The compatible form (flags 0) reports a failed write as 0, not -1.
  const int n = X509_NAME_print_ex(bp, name, indent, nmflags);
  return (nmflags == 0 ? n > 0 : n >= 0) && BIO_write(bp, "\n", 1) == 1;
}

// see asn1/internal.h
int write_obj(BIO* bp, ASN1_OBJECT* obj) {
  const unsigned long before = BIO_number_written(bp);
  const int n = i2a_ASN1_OBJECT(bp, obj);
  return n > 0 && BIO_number_written(bp) - before == static_cast<unsigned long>(n) ? n : -1;
}

// see asn1/internal.h
bool print_sig_bytes(BIO* bp, const ASN1_STRING* sig, const char* line_start) {
  const int n = sig != nullptr ? sig->length : 0;
  for (int i = 0; i < n; i++) {
    if (i % 18 == 0 && !put_whole(bp, line_start)) return false;
    if (BIO_printf(bp, i + 1 == n ? "%02x" : "%02x:", sig->data[i]) <= 0) return false;
  }
  return BIO_write(bp, "\n", 1) == 1;
}

}  // namespace morvane::asn1

namespace {

using morvane::asn1::print_name_line;
using morvane::asn1::write_obj;

// The serial number: on the label's line when it fits in 4 octets, else
// colon-separated octets on the next line.
bool print_serial(BIO* bp, const ASN1_INTEGER* bs) {
  if (!put_whole(bp, "        Serial Number:")) return false;
  const bool neg = (bs->type & ASN1_UT_NEG) != 0;
  if (bs->length <= 4) {
    unsigned long v = 0;
    for (int i = 0; i < bs->length; i++) v = v << 8 | bs->data[i];
    const char* sign = neg ? "-" : "";
    return BIO_printf(bp, " %s%lu (%s0x%lx)\n", sign, v, sign, v) > 0;
  }
  if (BIO_printf(bp, "\n%12s%s", "", neg ? " (Negative)" : "") <= 0) return false;
  for (int i = 0; i < bs->length; i++)
    if (BIO_printf(bp, "%02x%c", bs->data[i], i + 1 == bs->length ? '\n' : ':') <= 0) return false;
  return true;
}

long version_of(const ASN1_INTEGER* v) {
  return v != nullptr ? ASN1_INTEGER_get(v) : 0;
}

// One list of the trust record: its objects' texts joined by ", ".
bool print_uses(BIO* out, const STACK* objs, const char* title, int indent) {
  if (objs == nullptr) return BIO_printf(out, "%*sNo %s Uses.\n", indent, "", title) > 0;
  if (BIO_printf(out, "%*s%s Uses:\n%*s", indent, "", title, indent + 2, "") <= 0) return false;
  char text[80];
  for (int i = 0; i < sk_num(objs); i++) {
    if (i > 0 && !put_whole(out, ", ")) return false;
    text[0] = '\0';
    OBJ_obj2txt(text, sizeof text, reinterpret_cast<ASN1_OBJECT*>(sk_value(objs, i)), 0);
    if (!put_whole(out, text)) return false;
  }
  return put_whole(out, "\n");
}

// The SHA-1 of `len` octets as 40 upper-case hex digits.
bool print_sha1(BIO* bp, const unsigned char* data, size_t len) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_Digest(data, len, md, &n, EVP_sha1(), nullptr)) return false;
  for (unsigned int i = 0; i < n; i++)
    if (BIO_printf(bp, "%02X", md[i]) <= 0) return false;
  return true;
}

bool is_upper(char c) {
  return c >= 'A' && c <= 'Z';
}

// A "/" that starts a component of the one-line form: one or two upper-case
// letters and "=" follow before `end`.
bool starts_component(const char* s, const char* end) {
  if (*s != '/' || end - s < 3 || !is_upper(s[1])) return false;
  if (s[2] == '=') return true;
  return end - s >= 4 && is_upper(s[2]) && s[3] == '=';
}

}  // namespace

/* see morvane/x509.h */
int X509_print_ex(BIO* bp, X509* x, unsigned long nmflags, unsigned long cflag) {
  const X509_CINF* ci = x->cert_info;
  if (!(cflag & X509_FLAG_NO_HEADER) &&
      (!put_whole(bp, "Certificate:\n") || !put_whole(bp, "    Data:\n")))
    return 0;
  if (!(cflag & X509_FLAG_NO_VERSION)) {
    const long v = version_of(ci->version);
    if (BIO_printf(bp, "%8sVersion: %lu (0x%lx)\n", "", v + 1, v) <= 0) return 0;
  }
  if (!(cflag & X509_FLAG_NO_SERIAL) && !print_serial(bp, ci->serialNumber)) return 0;
  if (!(cflag & X509_FLAG_NO_SIGNAME) &&
      (BIO_printf(bp, "%8sSignature Algorithm: ", "") <= 0 ||
       write_obj(bp, ci->signature->algorithm) <= 0 || !put_whole(bp, "\n")))
    return 0;
  if (!(cflag & X509_FLAG_NO_ISSUER) && !print_name_line(bp, "Issuer", ci->issuer, nmflags))
    return 0;
  if (!(cflag & X509_FLAG_NO_VALIDITY) &&
      (!put_whole(bp, "        Validity\n") || !put_whole(bp, "            Not Before: ") ||
       !ASN1_TIME_print(bp, ci->validity->notBefore) ||
       !put_whole(bp, "\n            Not After : ") ||
       !ASN1_TIME_print(bp, ci->validity->notAfter) || !put_whole(bp, "\n")))
    return 0;
  if (!(cflag & X509_FLAG_NO_SUBJECT) && !print_name_line(bp, "Subject", ci->subject, nmflags))
    return 0;
  if (!(cflag & X509_FLAG_NO_PUBKEY)) {
    if (!put_whole(bp, "        Subject Public Key Info:\n") ||
        BIO_printf(bp, "%12sPublic Key Algorithm: ", "") <= 0 ||
        write_obj(bp, ci->key->algor->algorithm) <= 0 || !put_whole(bp, "\n"))
      return 0;
    static constexpr morvane::asn1::KeyLayout kLayout = {12, 16, "Unable to load Public Key", true,
                                                         "EC Public Key:"};
    if (!morvane::asn1::print_key_section(
            bp, [x] { return X509_get_pubkey(x); }, kLayout))
      return 0;
  }
  if (!(cflag & X509_FLAG_NO_EXTENSIONS) &&
      !X509V3_extensions_print(bp, "X509v3 extensions", ci->extensions, cflag, 8))
    return 0;
  if (!(cflag & X509_FLAG_NO_SIGDUMP) && X509_signature_print(bp, x->sig_alg, x->signature) <= 0)
    return 0;
  if (!(cflag & X509_FLAG_NO_AUX) && !X509_CERT_AUX_print(bp, x->aux, 0)) return 0;
  return 1;
}

/* see morvane/x509.h */
int X509_print(BIO* bp, X509* x) {
  return X509_print_ex(bp, x, 0, 0);
}

/* see morvane/x509.h */
int X509_print_ex_fp(FILE* fp, X509* x, unsigned long nmflags, unsigned long cflag) {
  return morvane::asn1::print_to_file(fp, X509_F_X509_PRINT_EX_FP,
                                      [&](BIO* b) { return X509_print_ex(b, x, nmflags, cflag); });
}

/* see morvane/x509.h */
int X509_print_fp(FILE* fp, X509* x) {
  return X509_print_ex_fp(fp, x, 0, 0);
}

/* see morvane/x509.h */
int X509_signature_print(BIO* bp, X509_ALGOR* sigalg, ASN1_STRING* sig) {
  if (!put_whole(bp, "    Signature Algorithm: ") ||
      write_obj(bp, sigalg != nullptr ? sigalg->algorithm : nullptr) <= 0)
    return 0;
  return morvane::asn1::print_sig_bytes(bp, sig, "\n        ") ? 1 : 0;
}

/* see morvane/x509.h */
int X509_ocspid_print(BIO* bp, X509* x) {
  unsigned char* der = nullptr;
  const int n = i2d_X509_NAME(x->cert_info->subject, &der);
  bool ok = n > 0 && put_whole(bp, "        Subject OCSP hash: ") &&
            print_sha1(bp, der, static_cast<size_t>(n));
  MORVANE_free(der);
  const ASN1_BIT_STRING* key = x->cert_info->key->public_key;
  ok = ok && put_whole(bp, "\n        Public key OCSP hash: ") &&
       print_sha1(bp, key->data, static_cast<size_t>(key->length)) && put_whole(bp, "\n");
  return ok ? 1 : 0;
}

/* see morvane/x509.h */
int X509_CERT_AUX_print(BIO* out, X509_CERT_AUX* aux, int indent) {
  if (aux == nullptr) return 1;
  if (!print_uses(out, aux->trust, "Trusted", indent) ||
      !print_uses(out, aux->reject, "Rejected", indent))
    return 0;
  if (aux->alias != nullptr && BIO_printf(out, "%*sAlias: %.*s\n", indent, "", aux->alias->length,
                                          reinterpret_cast<const char*>(aux->alias->data)) <= 0)
    return 0;
  if (aux->keyid != nullptr) {
    if (BIO_printf(out, "%*sKey Id: ", indent, "") <= 0) return 0;
    for (int i = 0; i < aux->keyid->length; i++)
      if (BIO_printf(out, "%s%02X", i > 0 ? ":" : "", aux->keyid->data[i]) <= 0) return 0;
    if (!put_whole(out, "\n")) return 0;
  }
  return 1;
}

/* see morvane/x509.h */
int X509_NAME_print(BIO* bp, X509_NAME* name, int /*obase*/) {
  char* line = X509_NAME_oneline(name, nullptr, 0);
  if (line == nullptr) return 0;
  const char* const end = line + strlen(line);
  int ok = 1;
  if (line < end) {
    // Each component goes out up to the "/" that starts the next, which
    // becomes ", "; the leading "/" is dropped.
    const char* c = line[0] == '/' ? line + 1 : line;
    for (const char* s = c;; s++) {
      const bool last = s >= end;
      if (last || starts_component(s, end)) {
        const int len = static_cast<int>(s - c);
        if (BIO_write(bp, c, len) != len || (!last && BIO_write(bp, ", ", 2) != 2)) {
          X509err(X509_F_X509_NAME_PRINT, ERR_R_BUF_LIB);
          ok = 0;
          break;
        }
        c = s + 1;
      }
      if (last) break;
    }
  }
  MORVANE_free(line);
  return ok;
}
