// The one-line text of a distinguished name: "/" short name "=" value for
// each entry, as certificates keep it in their `name` field.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

namespace {

constexpr size_t kFirstRoom = 200;  // a growable text starts with this room

bool printable(unsigned char c) {
  return c >= 0x20 && c <= 0x7E;
}

// The bytes of a value that are printed: all of them, except for a
// GeneralString of whole 4-byte units whose first three bytes are all zero
// (UCS-4 text with ASCII content), of which only every fourth byte is.
bool ucs4_ascii(const ASN1_STRING* v) {
  if (v->type != ASN1_UT_GENERALSTRING || v->length % 4 != 0 || v->length == 0) return false;
  for (int j = 0; j < v->length; j++)
    if ((j & 3) != 3 && v->data[j] != 0) return false;
  return true;
}

}  // namespace

/* see morvane/x509.h */
char* X509_NAME_oneline(X509_NAME* a, char* buf, int len) {
  const bool grow = buf == nullptr;
  size_t room;  // bytes usable for text and its terminating zero
  if (grow) {
    buf = static_cast<char*>(MORVANE_malloc(kFirstRoom));
    if (buf == nullptr) {
      X509err(X509_F_X509_NAME_ONELINE, ERR_R_MALLOC_FAILURE);
      return nullptr;
    }
    room = kFirstRoom;
  } else if (len <= 0) {
    return nullptr;
  } else {
    room = static_cast<size_t>(len);
  }
  buf[0] = '\0';
  if (a == nullptr) {
    static constexpr char kNoName[] = "NO X509_NAME";
    const size_t n = sizeof kNoName < room ? sizeof kNoName : room;
    memcpy(buf, kNoName, n);
    buf[n - 1] = '\0';
    return buf;
  }
  size_t used = 0;  // text written so far, without the zero
  for (int i = 0; i < sk_num(a->entries); i++) {
    const auto* ne = reinterpret_cast<const X509_NAME_ENTRY*>(sk_value(a->entries, i));
    char dotted[80];
    const int nid = OBJ_obj2nid(ne->object);
    const char* label = nid != 0 ? OBJ_nid2sn(nid) : nullptr;
    if (label == nullptr) {
      // A type whose text cannot be made (an arc over the bound) shows as
      // i2a_ASN1_OBJECT shows it, never as an empty label.
      label = i2t_ASN1_OBJECT(dotted, sizeof dotted, ne->object) > 0 ? dotted : "<INVALID>";
    }
    const size_t label_len = strlen(label);
    const ASN1_STRING* v = ne->value;
    const bool only_fourth = ucs4_ascii(v);
    size_t value_len = 0;
    for (int j = 0; j < v->length; j++) {
      if (only_fourth && (j & 3) != 3) continue;
      value_len += printable(v->data[j]) ? 1 : 4;
    }
    const size_t total = used + 2 + label_len + value_len;
    if (total + 1 > room) {
      if (!grow) break;  // the text keeps the whole entries before this one
      // Doubled at least, so that a name of many entries is copied a
      // bounded number of times over.
      const size_t want = total + 1 > 2 * room ? total + 1 : 2 * room;
      auto* bigger = static_cast<char*>(MORVANE_realloc(buf, want));
      if (bigger == nullptr) {
        MORVANE_free(buf);
        X509err(X509_F_X509_NAME_ONELINE, ERR_R_MALLOC_FAILURE);
        return nullptr;
      }
      buf = bigger;
      room = want;
    }
    char* p = buf + used;
    *p++ = '/';
    memcpy(p, label, label_len);
    p += label_len;
    *p++ = '=';
    for (int j = 0; j < v->length; j++) {
      if (only_fourth && (j & 3) != 3) continue;
      const unsigned char c = v->data[j];
      if (printable(c)) {
        *p++ = static_cast<char>(c);
      } else {
        static constexpr char kHex[] = "0123456789ABCDEF";
        *p++ = '\\';
        *p++ = 'x';
        *p++ = kHex[c >> 4];
        *p++ = kHex[c & 15];
      }
    }
    *p = '\0';
    used = total;
  }
  return buf;
}
