// What the template engine's creation, freeing, decoding and encoding share
// beyond the public routines of morvane/asn1t.h (field location, the CHOICE
// selector, reference counts, the cached encoding and ANY DEFINED BY
// resolution): the auxiliary record, the callback and the combine forms.
#ifndef MORVANE_CRYPTO_ASN1_INTERNAL_H
#define MORVANE_CRYPTO_ASN1_INTERNAL_H

#include <stdio.h>
#include <string.h>

#include <type_traits>

#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>

#include "internal/err_watch.h"

namespace morvane::asn1 {

// The input check of every decoder, the item decoder's and the hand-written
// ones': no input pointer, or no input where `len` promises some, queues
// "passed a null parameter" under `func` and gives true (nothing decoded,
// nothing the caller passed changed).
inline bool null_input(const unsigned char* const* in, long len, int func) {
  if (in != nullptr && (*in != nullptr || len <= 0)) return false;
  ASN1err(func, ERR_R_PASSED_NULL_PARAMETER);
  return true;
}

// Whether the len content octets at c are an INTEGER's or ENUMERATED's in
// their fewest (X.690 8.3.1, 8.3.2): one at least, and the first nine bits
// neither all zero nor all one.  02 01 80 passes; 02 00, 02 02 00 01 and
// 02 02 ff 80 do not.
inline bool integer_content_ok(const unsigned char* c, long len) {
  if (len <= 0) return false;
  if (len == 1) return true;
  return !(c[0] == 0x00 && !(c[1] & 0x80)) && !(c[0] == 0xFF && (c[1] & 0x80));
}

// A key to check signatures with, decoded from the octets `key` encodes to
// now (i2d_X509_PUBKEY), their SHA-256 digest into digest[32]: a new
// reference to the copy kept on `key`, made when it has none.  Null when
// the structure no longer reads as the one the copy was decoded from (or
// holds a parameter of a kind not compared), or when it does not decode
// (queued).
EVP_PKEY* pubkey_copy(X509_PUBKEY* key, unsigned char* digest);

// The auxiliary record of a SEQUENCE or CHOICE item, or null.
const ASN1_AUX* aux_of(const ASN1_ITEM* it);

// Runs the item's callback for `op`; 1 when the item has none.
int run_callback(int op, ASN1_VALUE** pval, const ASN1_ITEM* it);

// Creation and freeing with the combine flag (the structure lies inside its
// parent and is neither allocated nor released).
int item_ex_new(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine);
void item_ex_free(ASN1_VALUE** pval, const ASN1_ITEM* it, bool combine);

// Makes `type` a SEQUENCE holding the DER of `value`, a structure of `it`
// (the parameter form of algorithm identifiers); false, `type` unchanged,
// when the encoding or an allocation fails.
bool type_set_item_sequence(ASN1_TYPE* type, void* value, const ASN1_ITEM* it);

// A file stream over fp that leaves it open when freed, or null: the FILE
// forms of the printers.
BIO* new_file_bio(FILE* fp);

// Runs print(stream) on such a stream over fp and gives its result; when
// the stream cannot be made, queues library X509, function `func`, "BUF
// lib" and gives 0.
template <typename Print>
int print_to_file(FILE* fp, int func, Print print) {
  BIO* b = new_file_bio(fp);
  if (b == nullptr) {
    X509err(func, ERR_R_BUF_LIB);
    return 0;
  }
  const int r = print(b);
  BIO_free(b);
  return r;
}

// The subject key section shared by the certificate, request and SPKI
// printers: the key's kind and bit length at `indent`, the key itself
// through its printer at `key_off`, or `unable` (followed by the error
// queue when `errors`) when there is no key; `ec` is the EC label.
struct KeyLayout {
  int indent;
  int key_off;
  const char* unable;
  bool errors;
  const char* ec;
};

// Prints the section for pkey and drops the reference the caller held;
// false when the text did not go out whole (see print_as_one_write).  A
// key that cannot be decoded or printed is no failure: its printer's output
// stands; but one that could not be had or printed for want of memory
// (reported since `watch` began) fails the section, with nothing written.
bool print_key_section(BIO* bp, EVP_PKEY* pkey, const KeyLayout& layout,
                       const morvane::internal::MallocFailureWatch& watch);

// The same for the key that get() returns (a new reference or null).
template <typename Get>
bool print_key_section(BIO* bp, Get get, const KeyLayout& layout) {
  const morvane::internal::MallocFailureWatch watch;
  return print_key_section(bp, get(), layout, watch);
}

// A memory stream that notes every write it refuses (the callback sees each
// result), so that a section whose printers do not all report their writes
// can be printed into it and go out in one checked write.
class SectionBuffer {
 public:
  SectionBuffer();
  ~SectionBuffer();
  SectionBuffer(const SectionBuffer&) = delete;
  SectionBuffer& operator=(const SectionBuffer&) = delete;

  // The memory stream, or null when it could not be made.
  BIO* bio() const { return mem_; }
  // Writes what was printed into the buffer to out: true when the buffer
  // took every write and out took the whole text.
  bool flush_to(BIO* out);

 private:
  static long watch(BIO* b, int oper, const char* argp, int argi, long argl, long ret);
  BIO* mem_;
  bool refused_ = false;
};

// Runs print(stream) on a SectionBuffer and writes the result to out in one
// write: true when all of it went out.  Without memory for the buffer
// (its reason queued) nothing is printed and the result is false; so too
// when print returns a bool and gives false (a section that failed).
template <typename Print>
bool print_as_one_write(BIO* out, Print print) {
  SectionBuffer buf;
  if (buf.bio() == nullptr) return false;
  if constexpr (std::is_same_v<decltype(print(buf.bio())), bool>) {
    if (!print(buf.bio())) return false;
  } else {
    print(buf.bio());
  }
  return buf.flush_to(out);
}

// The long name of an algorithm's object, or `none` when it has no NID.
const char* algorithm_name(const X509_ALGOR* a, const char* none);

// "        label:" and the name: on the next line at indent 12 under the
// one-component-a-line separator, else after a blank (indent 16 for the
// compatible form, flags 0); false when a write fails.
bool print_name_line(BIO* bp, const char* label, X509_NAME* name, unsigned long nmflags);

// BIO_puts that sees a short write: true when all of s went out.
inline bool put_whole(BIO* bp, const char* s) {
  const size_t n = strlen(s);
  return n == 0 || BIO_puts(bp, s) == static_cast<int>(n);
}

// i2a_ASN1_OBJECT that sees its write fail: the characters written, or -1
// when the text did not go out whole.
int write_obj(BIO* bp, ASN1_OBJECT* obj);

// The octets of a signature as "%02x" joined by ':', `line_start` before
// every 18th, and a newline; false when a write fails.
bool print_sig_bytes(BIO* bp, const ASN1_STRING* sig, const char* line_start);

}  // namespace morvane::asn1

struct x509_kept_sigs_st;

namespace morvane::x509 {

// Frees the verdicts a certificate or list keeps (x509_sig_mark.cc).
void kept_sigs_free(x509_kept_sigs_st* k);

}  // namespace morvane::x509

#endif  // MORVANE_CRYPTO_ASN1_INTERNAL_H
