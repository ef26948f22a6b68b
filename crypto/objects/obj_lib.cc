// Objects as values: copies, comparison, and the conversions between objects
// and text (a name, or the dotted decimal form of the content).
//
// Implementation notes: OBJ_obj2txt converts each arc to decimal in one pass
// over its octets, into a fixed room of nine-digit limbs; an arc of more than
// OBJ_MAX_ARC_BITS bits (the arc, not the first subidentifier that holds it
// with 80 added) is refused, so the text of any content costs time in
// proportion to its length.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <bit>

#include <morvane/asn1.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "internal/err_watch.h"
#include "objects/internal.h"

namespace morvane::objects {

ASN1_OBJECT* copy_object(const ASN1_OBJECT* o) {
  ASN1_OBJECT* r = ASN1_OBJECT_new();
  if (r == nullptr) {
    OBJerr(OBJ_F_OBJ_DUP, ERR_R_ASN1_LIB);
    return nullptr;
  }
  r->flags = o->flags | ASN1_OBJECT_FLAG_DYNAMIC | ASN1_OBJECT_FLAG_DYNAMIC_STRINGS |
             ASN1_OBJECT_FLAG_DYNAMIC_DATA;
  bool ok = true;
  if (o->length > 0 && o->data != nullptr) {
    auto* data = static_cast<unsigned char*>(MORVANE_malloc(o->length));
    if ((ok = data != nullptr)) {
      memcpy(data, o->data, o->length);
      r->data = data;
      r->length = o->length;
    }
  }
  r->nid = o->nid;
  if (ok && o->ln != nullptr) ok = (r->ln = BUF_strdup(o->ln)) != nullptr;
  if (ok && o->sn != nullptr) ok = (r->sn = BUF_strdup(o->sn)) != nullptr;
  if (!ok) {
    OBJerr(OBJ_F_OBJ_DUP, ERR_R_MALLOC_FAILURE);
    ASN1_OBJECT_free(r);
    return nullptr;
  }
  return r;
}

namespace {

// Appends text to the output: stored while room is left (terminated, cut at
// buf_len - 1 characters), always counted whole.
struct TextOut {
  char* buf;
  int room;
  int n = 0;
  void put(const char* s) {
    const int len = static_cast<int>(strlen(s));
    if (buf != nullptr && room > 0) {
      BUF_strlcpy(buf, s, static_cast<size_t>(room));
      const int used = len < room ? len : room - 1;
      buf += used;
      room -= used;
    }
    n += len;
  }
};

// The value of one arc in decimal, built in one pass over the octets of its
// subidentifier: limbs of nine decimal digits, least significant first.  An
// arc holds at most OBJ_MAX_ARC_BITS bits (its subidentifier one more, for
// the first with its 80 added), so the limbs have a fixed room and each
// octet costs at most one sweep over them.
class DecimalArc {
 public:
  // value = value * 2^shift + add, for shift at most 28 and add below 2^shift.
  void shift_add(int shift, uint32_t add) {
    uint64_t carry = add;
    for (int i = 0; i < n_; i++) {
      const uint64_t t = (static_cast<uint64_t>(limb_[i]) << shift) + carry;
      limb_[i] = static_cast<uint32_t>(t % kBase);
      carry = t / kBase;
    }
    while (carry != 0 && n_ < kLimbs) {  // the bound on the bits keeps n_ within room
      limb_[n_++] = static_cast<uint32_t>(carry % kBase);
      carry /= kBase;
    }
  }
  // The value when it is below 80 (it fits one limb), else -1.
  int small() const {
    return n_ == 0 ? 0 : n_ == 1 && limb_[0] < 80 ? static_cast<int>(limb_[0]) : -1;
  }
  // value -= v, for a value of at least v.
  void subtract(uint32_t v) {
    for (int i = 0; i < n_ && v != 0; i++) {
      if (limb_[i] >= v) {
        limb_[i] -= v;
        v = 0;
      } else {
        limb_[i] += kBase - v;
        v = 1;
      }
    }
    while (n_ > 0 && limb_[n_ - 1] == 0) n_--;
  }
  void print(TextOut& out) const {
    char text[16];
    snprintf(text, sizeof text, "%u", n_ == 0 ? 0u : static_cast<unsigned>(limb_[n_ - 1]));
    out.put(text);
    for (int i = n_ - 2; i >= 0; i--) {
      snprintf(text, sizeof text, "%09u", static_cast<unsigned>(limb_[i]));
      out.put(text);
    }
  }

 private:
  static constexpr uint32_t kBase = 1000000000;
  // Each limb holds over 29 bits: room for OBJ_MAX_ARC_BITS + 1 and more.
  static constexpr int kLimbs = OBJ_MAX_ARC_BITS / 29 + 2;
  uint32_t limb_[kLimbs];
  int n_ = 0;
};

// Prints the dotted form of the content.  -1 on a content that ends inside a
// subidentifier, or (queuing "arc too long") one with an arc of more than
// OBJ_MAX_ARC_BITS bits.
int print_dotted(TextOut& out, const unsigned char* p, int len) {
  bool first = true;
  while (len > 0) {
    DecimalArc arc;
    int bits = 0;  // significant bits of the subidentifier so far
    uint32_t chunk = 0;
    int groups = 0;  // 7-bit groups in chunk, at most four
    // The first subidentifier holds 80 more than its second arc, so it may
    // take one bit over the bound: then the arc is within it only when the
    // subidentifier is 2^OBJ_MAX_ARC_BITS plus less than 80, that is a
    // leading group of one bit and the rest below 80.
    const int limit = first ? OBJ_MAX_ARC_BITS + 1 : OBJ_MAX_ARC_BITS;
    bool lead_one_bit = false;
    uint32_t rest = 0;  // the groups after the leading one, saturated at 128
    for (;;) {
      const unsigned char c = *p++;
      len--;
      if (len == 0 && (c & 0x80)) return -1;
      const unsigned g = c & 0x7F;
      if (bits == 0) {
        lead_one_bit = g != 0 && (g & (g - 1)) == 0;
      } else {
        rest = rest >= 128 ? 128 : (rest << 7 | g) < 128 ? rest << 7 | g : 128;
      }
      bits = bits != 0 ? bits + 7 : std::bit_width(g);
      if (bits > limit) {
        OBJerr(OBJ_F_OBJ_OBJ2TXT, OBJ_R_ARC_TOO_LONG);
        return -1;
      }
      chunk = chunk << 7 | g;
      groups++;
      if (groups == 4 || !(c & 0x80)) {
        arc.shift_add(7 * groups, chunk);
        chunk = 0;
        groups = 0;
      }
      if (!(c & 0x80)) break;
    }
    if (bits > OBJ_MAX_ARC_BITS && !(lead_one_bit && rest < 80)) {
      OBJerr(OBJ_F_OBJ_OBJ2TXT, OBJ_R_ARC_TOO_LONG);
      return -1;
    }
    if (first) {  // X.690 8.19.4: the first subidentifier holds two arcs
      first = false;
      const int v = arc.small();
      const int digit = v >= 0 ? v / 40 : 2;
      arc.subtract(static_cast<uint32_t>(digit * 40));
      const char text[2] = {static_cast<char>('0' + digit), '\0'};
      out.put(text);
    }
    out.put(".");
    arc.print(out);
  }
  return 0;
}

}  // namespace
}  // namespace morvane::objects

using namespace morvane::objects;

/* see morvane/objects.h */
ASN1_OBJECT* OBJ_dup(const ASN1_OBJECT* o) {
  if (o == nullptr) return nullptr;
  if (!(o->flags & ASN1_OBJECT_FLAG_DYNAMIC)) return const_cast<ASN1_OBJECT*>(o);
  return copy_object(o);
}

/* see morvane/objects.h */
int OBJ_cmp(const ASN1_OBJECT* a, const ASN1_OBJECT* b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  if (a->length != b->length) return a->length - b->length;
  return a->length == 0 ? 0 : memcmp(a->data, b->data, a->length);
}

/* see morvane/objects.h */
const char* OBJ_bsearch(const char* key, const char* base, int num, int size,
                        int (*cmp)(const void*, const void*)) {
  return OBJ_bsearch_ex(key, base, num, size, cmp, 0);
}

/* see morvane/objects.h */
ASN1_OBJECT* OBJ_txt2obj(const char* s, int no_name) {
  if (s == nullptr) {
    OBJerr(OBJ_F_OBJ_TXT2OBJ, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (!no_name) {
    int nid = OBJ_sn2nid(s);
    if (nid == 0) nid = OBJ_ln2nid(s);
    if (nid != 0) return OBJ_nid2obj(nid);  // queues its failure
  }
  // Every failure below queues a reason: the callee's, or this one's when
  // the callee gave none (a text with no arcs after the first, a big
  // number that failed quietly).
  const morvane::internal::ErrorWatch watch;
  const auto fail = [&watch](int reason) -> ASN1_OBJECT* {
    if (!watch.any([](unsigned long) { return true; })) OBJerr(OBJ_F_OBJ_TXT2OBJ, reason);
    return nullptr;
  };
  const int len = a2d_ASN1_OBJECT(nullptr, 0, s, -1);
  if (len <= 0) return fail(OBJ_R_UNKNOWN_OBJECT_NAME);
  const int total = ASN1_object_size(0, len, ASN1_UT_OBJECT);
  if (total <= 0) return fail(OBJ_R_UNKNOWN_OBJECT_NAME);
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(total));
  if (buf == nullptr) return fail(ERR_R_MALLOC_FAILURE);
  unsigned char* p = buf;
  ASN1_put_object(&p, 0, len, ASN1_UT_OBJECT, ASN1_CLASS_UNIVERSAL);
  ASN1_OBJECT* op = nullptr;
  if (a2d_ASN1_OBJECT(p, len, s, -1) == len) {
    const unsigned char* cp = buf;
    op = d2i_ASN1_OBJECT(nullptr, &cp, total);
  }
  MORVANE_free(buf);
  return op != nullptr ? op : fail(ERR_R_MALLOC_FAILURE);
}

/* see morvane/objects.h */
int OBJ_txt2nid(const char* s) {
  ASN1_OBJECT* obj = OBJ_txt2obj(s, 0);
  const int nid = OBJ_obj2nid(obj);
  ASN1_OBJECT_free(obj);
  return nid;
}

/* see morvane/objects.h */
int OBJ_obj2txt(char* buf, int buf_len, const ASN1_OBJECT* a, int no_name) {
  if (buf != nullptr && buf_len > 0) buf[0] = '\0';
  if (a == nullptr || a->data == nullptr || a->length <= 0) return 0;
  TextOut out{buf, buf_len};
  if (!no_name) {
    const int nid = OBJ_obj2nid(a);
    if (nid != 0) {
      const char* s = OBJ_nid2ln(nid);
      if (s == nullptr) s = OBJ_nid2sn(nid);
      if (s != nullptr) {
        out.put(s);
        return out.n;
      }
    }
  }
  if (print_dotted(out, a->data, a->length) < 0) {
    if (buf != nullptr && buf_len > 0) buf[0] = '\0';  // no part of a text that failed
    return -1;
  }
  return out.n;
}
