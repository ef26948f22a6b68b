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
      : start_(s->data), p_(s->data), len_(s->data != nullptr ? s->length : 0) {
    while (len_ > 0 && space(*p_)) skip();
    while (len_ > 0 && space(p_[len_ - 1])) len_--;
  }

  // Passes on to octet `at` of the value, when it is past the white space
  // trimmed at the start, not past the end, and octet at - 1 is no white
  // space (so that the characters passed read as the octets before it do
  // in any value that begins with them): true, else false (nothing passed).
  bool pass_to(int at) {
    const int from = static_cast<int>(p_ - start_);
    if (at <= from || at > from + len_ || space(start_[at - 1])) return false;
    len_ -= at - from;
    p_ = start_ + at;
    return true;
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

  const unsigned char* start_;
  const unsigned char* p_;
  int len_;
};

// Whether the order reads n octets as they are: no ASCII capital, no white
// space.
inline bool read_as_is(const unsigned char* p, int n) {
  for (int i = 0; i < n; i++)
    if ((p[i] >= 'A' && p[i] <= 'Z') || p[i] == ' ' || (p[i] >= '\t' && p[i] <= '\r'))
      return false;
  return true;
}

inline int folded_value_cmp(const ASN1_STRING* a, const ASN1_STRING* b) {
  const int la = a->data != nullptr && a->length > 0 ? a->length : 0;
  const int lb = b->data != nullptr && b->length > 0 ? b->length : 0;
  const int common = la < lb ? la : lb;
  const int r = common > 0 ? memcmp(a->data, b->data, static_cast<size_t>(common)) : 0;
  if (r == 0 && la == lb) return 0;  // the same octets read alike
  if (read_as_is(a->data, la) && read_as_is(b->data, lb)) return r != 0 ? r : la - lb;
  FoldedValue fa(a);
  FoldedValue fb(b);
  // The octets both values begin with read alike in both: the reading
  // starts where they part, after the last that is no white space.
  int same = 0;
  while (same < common && a->data[same] == b->data[same]) same++;
  if (same > 0 && fa.pass_to(same) && !fb.pass_to(same)) fa = FoldedValue(a);
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
