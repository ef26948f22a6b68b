// A total order of distinguished names, coarser than X509_NAME_cmp, for
// lists that are sorted by name and then searched.
//
// Implementation notes: X509_NAME_cmp takes a PrintableString, a T61String
// and a UTF8String with the same octets for equal but otherwise orders
// values by string type first, so it is not transitive and a list sorted by
// it cannot be binary-searched.  Here each value is read with ASCII letters
// in lower case, white space trimmed and each run of it as one space, and
// the string type is not looked at: names that X509_NAME_cmp finds equal
// are equal here too.  A search by this order finds a run of candidates
// that the caller then checks with the exact comparison it needs.
#ifndef MORVANE_INTERNAL_NAME_ORDER_H
#define MORVANE_INTERNAL_NAME_ORDER_H

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace morvane::internal {

// One value's characters as the order reads them.
class FoldedValue {
 public:
  explicit FoldedValue(const ASN1_STRING* s)
      : p_(s->data), len_(s->data != nullptr ? s->length : 0) {
    while (len_ > 0 && space(*p_)) skip();
    while (len_ > 0 && space(p_[len_ - 1])) len_--;
  }

  // The next character as read, -1 at the end.
  int next() {
    if (len_ <= 0) return -1;
    if (space(*p_)) {
      while (space(*p_)) skip();  // a trimmed value ends in none
      return ' ';
    }
    const int c = *p_ >= 'A' && *p_ <= 'Z' ? *p_ - 'A' + 'a' : *p_;
    skip();
    return c;
  }

 private:
  static bool space(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
  void skip() {
    p_++;
    len_--;
  }

  const unsigned char* p_;
  int len_;
};

inline int folded_value_cmp(const ASN1_STRING* a, const ASN1_STRING* b) {
  if (a->length == b->length &&
      (a->length <= 0 || memcmp(a->data, b->data, static_cast<size_t>(a->length)) == 0))
    return 0;  // the same octets read alike
  FoldedValue fa(a);
  FoldedValue fb(b);
  for (;;) {
    const int ca = fa.next();
    const int cb = fb.next();
    if (ca != cb) return ca - cb;
    if (ca < 0) return 0;
  }
}

// Negative, zero or positive as name a sorts before, with or after b: by
// the number of entries, then entry by entry from the last, its folded
// value, its set and its type.  A null name sorts as an empty one.
inline int folded_name_cmp(const X509_NAME* a, const X509_NAME* b) {
  const int na = a != nullptr ? sk_num(a->entries) : 0;
  const int nb = b != nullptr ? sk_num(b->entries) : 0;
  if (na != nb) return na - nb;
  for (int i = na - 1; i >= 0; i--) {
    const auto* ea = reinterpret_cast<const X509_NAME_ENTRY*>(sk_value(a->entries, i));
    const auto* eb = reinterpret_cast<const X509_NAME_ENTRY*>(sk_value(b->entries, i));
    int r = folded_value_cmp(ea->value, eb->value);
    if (r == 0) r = ea->set - eb->set;
    if (r == 0) r = OBJ_cmp(ea->object, eb->object);
    if (r != 0) return r;
  }
  return 0;
}

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_NAME_ORDER_H
