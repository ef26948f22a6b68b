// The ASN1_OBJECT record: creation, freeing, its DER content and the
// conversion of dotted text into content octets (X.690 8.19).
//
// Implementation notes: an arc is read in a 64-bit word while it fits and
// continues as a big number beyond, so arcs of any size are encoded exactly.

#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "asn1/internal.h"

/* see morvane/asn1.h */
ASN1_OBJECT* ASN1_OBJECT_new(void) {
  auto* ret = static_cast<ASN1_OBJECT*>(MORVANE_malloc(sizeof(ASN1_OBJECT)));
  if (ret == nullptr) {
    ASN1err(ASN1_F_ASN1_OBJECT_NEW, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ret, 0, sizeof *ret);
  ret->flags = ASN1_OBJECT_FLAG_DYNAMIC;
  return ret;
}

/* see morvane/asn1.h */
void ASN1_OBJECT_free(ASN1_OBJECT* a) {
  if (a == nullptr) return;
  if (a->flags & ASN1_OBJECT_FLAG_DYNAMIC_STRINGS) {
    MORVANE_free(const_cast<char*>(a->sn));
    MORVANE_free(const_cast<char*>(a->ln));
    a->sn = a->ln = nullptr;
  }
  if (a->flags & ASN1_OBJECT_FLAG_DYNAMIC_DATA) {
    MORVANE_free(const_cast<unsigned char*>(a->data));
    a->data = nullptr;
    a->length = 0;
  }
  if (a->flags & ASN1_OBJECT_FLAG_DYNAMIC) MORVANE_free(a);
}

/* see morvane/asn1.h */
int i2d_ASN1_OBJECT(ASN1_OBJECT* a, unsigned char** pp) {
  if (a == nullptr || a->data == nullptr) return 0;
  const int ret = ASN1_object_size(0, a->length, ASN1_UT_OBJECT);
  if (pp == nullptr || ret < 0) return ret;
  ASN1_put_object(pp, 0, a->length, ASN1_UT_OBJECT, ASN1_CLASS_UNIVERSAL);
  memcpy(*pp, a->data, a->length);
  *pp += a->length;
  return ret;
}

/* see morvane/asn1.h */
ASN1_OBJECT* c2i_ASN1_OBJECT(ASN1_OBJECT** a, const unsigned char** pp, long len) {
  if (morvane::asn1::null_input(pp, len, ASN1_F_C2I_ASN1_OBJECT)) return nullptr;
  const unsigned char* p = *pp;
  if (len < 0 || len > 0x7FFFFFFE) {
    ASN1err(ASN1_F_C2I_ASN1_OBJECT, ASN1_R_TOO_LONG);
    return nullptr;
  }
  // X.690 8.19.2: at least one subidentifier, the last one ended (bit 8
  // clear in its last octet), and none with a leading 0x80 octet.
  if (len == 0 || (p[len - 1] & 0x80)) {
    ASN1err(ASN1_F_C2I_ASN1_OBJECT, ASN1_R_INVALID_OBJECT_ENCODING);
    return nullptr;
  }
  for (long i = 0; i < len; i++) {
    if (p[i] == 0x80 && (i == 0 || !(p[i - 1] & 0x80))) {
      ASN1err(ASN1_F_C2I_ASN1_OBJECT, ASN1_R_INVALID_OBJECT_ENCODING);
      return nullptr;
    }
  }
  ASN1_OBJECT* ret = (a != nullptr && *a != nullptr && ((*a)->flags & ASN1_OBJECT_FLAG_DYNAMIC))
                         ? *a
                         : ASN1_OBJECT_new();
  if (ret == nullptr) return nullptr;
  if (ret->data == nullptr || ret->length < len || !(ret->flags & ASN1_OBJECT_FLAG_DYNAMIC_DATA)) {
    if (ret->flags & ASN1_OBJECT_FLAG_DYNAMIC_DATA)
      MORVANE_free(const_cast<unsigned char*>(ret->data));
    ret->data = nullptr;
    ret->length = 0;
    auto* data = static_cast<unsigned char*>(MORVANE_malloc(len > 0 ? len : 1));
    if (data == nullptr) {
      ASN1err(ASN1_F_C2I_ASN1_OBJECT, ERR_R_MALLOC_FAILURE);
      ret->flags &= ~ASN1_OBJECT_FLAG_DYNAMIC_DATA;
      if (a == nullptr || ret != *a) ASN1_OBJECT_free(ret);
      return nullptr;
    }
    ret->data = data;
    ret->flags |= ASN1_OBJECT_FLAG_DYNAMIC_DATA;
  }
  if (len > 0) memcpy(const_cast<unsigned char*>(ret->data), p, len);
  ret->length = static_cast<int>(len);
  if (ret->flags & ASN1_OBJECT_FLAG_DYNAMIC_STRINGS) {
    MORVANE_free(const_cast<char*>(ret->sn));
    MORVANE_free(const_cast<char*>(ret->ln));
    ret->flags &= ~ASN1_OBJECT_FLAG_DYNAMIC_STRINGS;
  }
  ret->sn = ret->ln = nullptr;
  ret->nid = 0;  // the content may name another object now
  if (a != nullptr) *a = ret;
  *pp += len;
  return ret;
}

/* see morvane/asn1.h */
ASN1_OBJECT* d2i_ASN1_OBJECT(ASN1_OBJECT** a, const unsigned char** pp, long length) {
  if (morvane::asn1::null_input(pp, length, ASN1_F_D2I_ASN1_OBJECT)) return nullptr;
  const unsigned char* p = *pp;
  long len = 0;
  int tag = 0, xclass = 0;
  const int hdr = ASN1_get_object(&p, &len, &tag, &xclass, length);
  if (hdr & ASN1_HDR_ERROR) {
    ASN1err(ASN1_F_D2I_ASN1_OBJECT, ASN1_R_BAD_OBJECT_HEADER);
    return nullptr;
  }
  if (tag != ASN1_UT_OBJECT) {
    ASN1err(ASN1_F_D2I_ASN1_OBJECT, ASN1_R_EXPECTING_AN_OBJECT);
    return nullptr;
  }
  if (hdr & ASN1_HDR_CONSTRUCTED) {  // X.690 8.19.1: always primitive
    ASN1err(ASN1_F_D2I_ASN1_OBJECT, ASN1_R_TYPE_NOT_PRIMITIVE);
    return nullptr;
  }
  ASN1_OBJECT* ret = c2i_ASN1_OBJECT(a, &p, len);
  if (ret != nullptr) *pp = p;
  return ret;
}

/* see morvane/asn1.h */
ASN1_OBJECT* ASN1_OBJECT_create(int nid, unsigned char* data, int len, const char* sn,
                                const char* ln) {
  if (len < 0) {
    ASN1err(ASN1_F_ASN1_OBJECT_CREATE, ASN1_R_LENGTH_ERROR);
    return nullptr;
  }
  ASN1_OBJECT o;
  o.sn = sn;
  o.ln = ln;
  o.nid = nid;
  o.length = len;
  o.data = data;
  o.flags =
      ASN1_OBJECT_FLAG_DYNAMIC | ASN1_OBJECT_FLAG_DYNAMIC_STRINGS | ASN1_OBJECT_FLAG_DYNAMIC_DATA;
  return OBJ_dup(&o);
}

namespace morvane::asn1 {
namespace {

// Writes one subidentifier, base 128 with the most significant group first.
// Returns its octet count, or 0 after queuing an error.
int put_subid(unsigned char* out, int room, uint64_t w, BIGNUM* big) {
  unsigned char local[24];
  unsigned char* groups = local;
  int n = 0;
  if (big == nullptr) {
    do {
      local[n++] = static_cast<unsigned char>(w & 0x7F);
      w >>= 7;
    } while (w != 0);
  } else {
    const int count = (BN_num_bits(big) + 6) / 7;
    if (count > static_cast<int>(sizeof local)) {
      groups = static_cast<unsigned char*>(MORVANE_malloc(count + 32));
      if (groups == nullptr) {
        ASN1err(ASN1_F_A2D_ASN1_OBJECT, ERR_R_MALLOC_FAILURE);
        return 0;
      }
    }
    for (; n < count; n++) {
      const BN_ULONG r = BN_div_word(big, 0x80);
      if (r == static_cast<BN_ULONG>(-1)) break;
      groups[n] = static_cast<unsigned char>(r);
    }
    if (n != count) n = 0;
  }
  if (n > 0 && out != nullptr) {
    if (n > room) {
      ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_BUFFER_TOO_SMALL);
      n = 0;
    } else {
      for (int i = 0; i < n; i++)
        out[i] = static_cast<unsigned char>(groups[n - 1 - i] | (i == n - 1 ? 0 : 0x80));
    }
  }
  if (groups != local) MORVANE_free(groups);
  return n;
}

// An arc: digits up to '.', ' ' or the end.  A word while it fits, beyond that
// the big number *big (created on demand).  Returns false after an error.
bool read_arc(const char*& p, int& num, uint64_t& w, BIGNUM*& big, bool& in_big) {
  constexpr uint64_t kWordLimit = 0x0FFFFFFFFFFFFFFFull / 10;
  w = 0;
  in_big = false;
  while (num > 0) {
    const char c = *p++;
    num--;
    if (c == ' ' || c == '.') break;
    if (c < '0' || c > '9') {
      ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_INVALID_DIGIT);
      return false;
    }
    const unsigned d = static_cast<unsigned>(c - '0');
    if (!in_big && w > kWordLimit) {
      if (big == nullptr && (big = BN_new()) == nullptr) return false;
      // The word in two 32-bit halves: BN_ULONG is 32 bits.
      if (!BN_set_word(big, static_cast<BN_ULONG>(w >> 32)) || !BN_lshift(big, big, 32) ||
          !BN_add_word(big, static_cast<BN_ULONG>(w & 0xFFFFFFFFu)))
        return false;
      in_big = true;
    }
    if (in_big) {
      if (!BN_mul_word(big, 10) || !BN_add_word(big, d)) return false;
    } else {
      w = w * 10 + d;
    }
  }
  return true;
}

}  // namespace
}  // namespace morvane::asn1

/* see morvane/asn1.h */
int a2d_ASN1_OBJECT(unsigned char* out, int olen, const char* buf, int num) {
  using namespace morvane::asn1;
  if (num == 0 || buf == nullptr) return 0;
  if (num < -1) {  // -1 is the only length with a meaning below 0
    ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_LENGTH_ERROR);
    return 0;
  }
  if (num == -1) {
    const size_t n = strlen(buf);
    if (n > INT_MAX) {
      ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_LENGTH_ERROR);
      return 0;
    }
    num = static_cast<int>(n);
  }
  if (num == 0) return 0;
  const char* p = buf;
  const char first_c = *p++;
  num--;
  if (first_c < '0' || first_c > '2') {
    ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_FIRST_NUM_TOO_LARGE);
    return 0;
  }
  if (num <= 0) {
    ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_MISSING_SECOND_NUMBER);
    return 0;
  }
  const unsigned first = static_cast<unsigned>(first_c - '0');
  char sep = *p++;
  num--;
  BIGNUM* big = nullptr;
  int len = 0;
  bool ok = true;
  while (num > 0) {
    if (sep != '.' && sep != ' ') {
      ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_INVALID_SEPARATOR);
      ok = false;
      break;
    }
    uint64_t w = 0;
    bool in_big = false;
    if (!read_arc(p, num, w, big, in_big)) {
      ok = false;
      break;
    }
    sep = p[-1];
    if (len == 0) {  // X.690 8.19.4: the first two arcs make one subidentifier
      if (first < 2 && (in_big || w >= 40)) {
        ASN1err(ASN1_F_A2D_ASN1_OBJECT, ASN1_R_SECOND_NUMBER_TOO_LARGE);
        ok = false;
        break;
      }
      if (in_big && !BN_add_word(big, first * 40)) {
        ok = false;
        break;
      }
      w += first * 40;
    }
    const int n =
        put_subid(out != nullptr ? out + len : nullptr, olen - len, w, in_big ? big : nullptr);
    if (n == 0) {
      ok = false;
      break;
    }
    len += n;
  }
  BN_free(big);
  return ok ? len : 0;
}

/* see morvane/asn1.h */
int i2t_ASN1_OBJECT(char* buf, int buf_len, ASN1_OBJECT* a) {
  return OBJ_obj2txt(buf, buf_len, a, 0);
}

/* see morvane/asn1.h */
int i2a_ASN1_OBJECT(BIO* bp, ASN1_OBJECT* a) {
  // Each text goes out whole or the result is -1, so that a caller that
  // checks the result sees a short write.
  const auto write_all = [bp](const char* text, int len) {
    return BIO_write(bp, text, len) == len ? len : -1;
  };
  if (a == nullptr || a->data == nullptr) return write_all("NULL", 4);
  char local[80];
  char* p = local;
  const int n = i2t_ASN1_OBJECT(local, sizeof local, a);
  if (n <= 0) return write_all("<INVALID>", 9);
  if (n > static_cast<int>(sizeof local) - 1) {
    p = static_cast<char*>(MORVANE_malloc(static_cast<size_t>(n) + 1));
    if (p == nullptr) {
      OBJerr(OBJ_F_OBJ_OBJ2TXT, ERR_R_MALLOC_FAILURE);
      return -1;
    }
    i2t_ASN1_OBJECT(p, n + 1, a);
  }
  const int r = write_all(p, n);
  if (p != local) MORVANE_free(p);
  return r;
}
