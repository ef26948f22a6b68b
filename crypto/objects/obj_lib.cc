// Objects as values: copies, comparison, and the conversions between objects
// and text (a name, or the dotted decimal form of the content).
//
// Implementation notes: OBJ_obj2txt reads an arc in a 32-bit word while it
// fits and continues as a big number beyond, so every arc prints exactly.

#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>

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

// Prints the dotted form of the content; -1 on a content that ends inside a
// subidentifier or a big-number failure.
int print_dotted(TextOut& out, const unsigned char* p, int len) {
  BIGNUM* big = nullptr;
  bool first = true;
  int ret = 0;
  while (len > 0 && ret == 0) {
    uint32_t w = 0;
    bool in_big = false;
    for (;;) {
      const unsigned char c = *p++;
      len--;
      if (len == 0 && (c & 0x80)) {
        ret = -1;
        break;
      }
      if (!in_big) {
        w |= c & 0x7F;
      } else if (!BN_add_word(big, c & 0x7F)) {
        ret = -1;
        break;
      }
      if (!(c & 0x80)) break;
      if (!in_big && w > 0x1FFFFFF) {
        if ((big == nullptr && (big = BN_new()) == nullptr) || !BN_set_word(big, w)) {
          ret = -1;
          break;
        }
        in_big = true;
      }
      if (!in_big) {
        w <<= 7;
      } else if (!BN_lshift(big, big, 7)) {
        ret = -1;
        break;
      }
    }
    if (ret != 0) break;
    if (first) {  // X.690 8.19.4: the first subidentifier holds two arcs
      first = false;
      unsigned digit;
      if (in_big) {
        digit = 2;
        if (!BN_sub_word(big, 80)) {
          ret = -1;
          break;
        }
      } else if (w < 80) {
        digit = w / 40;
        w -= digit * 40;
      } else {
        digit = 2;
        w -= 80;
      }
      const char text[2] = {static_cast<char>('0' + digit), '\0'};
      out.put(text);
    }
    if (in_big) {
      char* dec = BN_bn2dec(big);
      if (dec == nullptr) {
        ret = -1;
        break;
      }
      out.put(".");
      out.put(dec);
      MORVANE_free(dec);
    } else {
      char text[26];
      snprintf(text, sizeof text, ".%u", static_cast<unsigned>(w));
      out.put(text);
    }
  }
  BN_free(big);
  return ret;
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
  if (s == nullptr) return nullptr;
  if (!no_name) {
    int nid = OBJ_sn2nid(s);
    if (nid == 0) nid = OBJ_ln2nid(s);
    if (nid != 0) return OBJ_nid2obj(nid);
  }
  const int len = a2d_ASN1_OBJECT(nullptr, 0, s, -1);
  if (len <= 0) return nullptr;
  const int total = ASN1_object_size(0, len, ASN1_UT_OBJECT);
  if (total <= 0) return nullptr;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(total));
  if (buf == nullptr) return nullptr;
  unsigned char* p = buf;
  ASN1_put_object(&p, 0, len, ASN1_UT_OBJECT, ASN1_CLASS_UNIVERSAL);
  ASN1_OBJECT* op = nullptr;
  if (a2d_ASN1_OBJECT(p, len, s, -1) == len) {
    const unsigned char* cp = buf;
    op = d2i_ASN1_OBJECT(nullptr, &cp, total);
  }
  MORVANE_free(buf);
  return op;
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
  return print_dotted(out, a->data, a->length) < 0 ? -1 : out.n;
}
