// Attribute records (which attribute codes are set and a private copy of each
// value), the parser that turns an item list into one record per conjunction
// group, and the comparisons a back end orders and matches records with.

#include <climits>
#include <cstring>

#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/store.h>
#include <morvane/x509.h>

namespace {

constexpr int kCodes = STORE_ATTR_TYPE_NUM + 1;
constexpr int kSetBytes = (kCodes + 7) / 8;
static_assert(kSetBytes == 2);

enum class Kind { kNone, kString, kSha1, kName, kNumber };

// The kind of value each code carries.
constexpr Kind kKinds[kCodes] = {
    Kind::kNone, Kind::kString, Kind::kSha1, Kind::kSha1, Kind::kSha1,   Kind::kSha1,
    Kind::kName, Kind::kNumber, Kind::kName, Kind::kSha1, Kind::kString, Kind::kString,
};

Kind kind_of(int code) {
  return code > 0 && code < kCodes ? kKinds[code] : Kind::kNone;
}

}  // namespace

struct STORE_attr_info_st {
  unsigned char set[kSetBytes];  // code n is bit n % 8 of byte n / 8
  union {
    char* cstring;
    unsigned char* sha1string;
    X509_NAME* dn;
    BIGNUM* number;
    void* any;
  } values[kCodes];
  size_t value_sizes[kCodes];
};

namespace {

bool is_set(const STORE_ATTR_INFO* a, int code) {
  return (a->set[code / 8] >> (code % 8)) & 1;
}
void mark(STORE_ATTR_INFO* a, int code) {
  a->set[code / 8] = static_cast<unsigned char>(a->set[code / 8] | (1u << (code % 8)));
}
void unmark(STORE_ATTR_INFO* a, int code) {
  a->set[code / 8] = static_cast<unsigned char>(a->set[code / 8] & ~(1u << (code % 8)));
}

// Releases the value of a set code and clears its mark.
void release(STORE_ATTR_INFO* a, int code) {
  switch (kind_of(code)) {
    case Kind::kString:
    case Kind::kSha1:
      MORVANE_free(a->values[code].any);
      break;
    case Kind::kName:
      X509_NAME_free(a->values[code].dn);
      break;
    case Kind::kNumber:
      BN_free(a->values[code].number);
      break;
    case Kind::kNone:
      break;
  }
  a->values[code].any = nullptr;
  a->value_sizes[code] = 0;
  unmark(a, code);
}

// The value of `code` when it is set and of kind `k`; else "no value".
void* get0(STORE_ATTR_INFO* a, int code, Kind k, int func) {
  if (a == nullptr) {
    STOREerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if (kind_of(code) == k && is_set(a, code)) return a->values[code].any;
  STOREerr(func, STORE_R_NO_VALUE);
  return nullptr;
}

// The checks every setter makes before copying: 1 when `code` of kind `k`
// may take a value in `a`.
bool may_set(STORE_ATTR_INFO* a, int code, Kind k, const void* value, int func) {
  if (a == nullptr || value == nullptr) {
    STOREerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return false;
  }
  if (kind_of(code) != k) {
    STOREerr(func, STORE_R_INVALID_ATTRIBUTE_CODE);
    return false;
  }
  if (is_set(a, code)) {
    STOREerr(func, STORE_R_ALREADY_HAS_A_VALUE);
    return false;
  }
  return true;
}

int keep(STORE_ATTR_INFO* a, int code, void* copy, size_t size, int func) {
  if (copy == nullptr) {
    STOREerr(func, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  a->values[code].any = copy;
  a->value_sizes[code] = size;
  mark(a, code);
  return 1;
}

// The first step of every modifier: a code already set of the right kind
// loses its value.
bool clear_for_modify(STORE_ATTR_INFO* a, int code, Kind k, int func) {
  if (a == nullptr) {
    STOREerr(func, ERR_R_PASSED_NULL_PARAMETER);
    return false;
  }
  if (kind_of(code) == k && is_set(a, code)) release(a, code);
  return true;
}

}  // namespace

/* see morvane/store.h */
STORE_ATTR_INFO* STORE_ATTR_INFO_new(void) {
  auto* a = static_cast<STORE_ATTR_INFO*>(MORVANE_malloc(sizeof(STORE_ATTR_INFO)));
  if (a != nullptr) *a = STORE_ATTR_INFO{};
  return a;
}

/* see morvane/store.h */
int STORE_ATTR_INFO_free(STORE_ATTR_INFO* attrs) {
  if (attrs == nullptr) return 1;
  for (int code = 1; code < kCodes; code++)
    if (is_set(attrs, code)) release(attrs, code);
  MORVANE_free(attrs);
  return 1;
}

/* see morvane/store.h */
char* STORE_ATTR_INFO_get0_cstr(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code) {
  return static_cast<char*>(get0(attrs, code, Kind::kString, STORE_F_STORE_ATTR_INFO_GET0_CSTR));
}

/* see morvane/store.h */
unsigned char* STORE_ATTR_INFO_get0_sha1str(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code) {
  return static_cast<unsigned char*>(
      get0(attrs, code, Kind::kSha1, STORE_F_STORE_ATTR_INFO_GET0_SHA1STR));
}

/* see morvane/store.h */
X509_NAME* STORE_ATTR_INFO_get0_dn(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code) {
  return static_cast<X509_NAME*>(get0(attrs, code, Kind::kName, STORE_F_STORE_ATTR_INFO_GET0_DN));
}

/* see morvane/store.h */
BIGNUM* STORE_ATTR_INFO_get0_number(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code) {
  return static_cast<BIGNUM*>(
      get0(attrs, code, Kind::kNumber, STORE_F_STORE_ATTR_INFO_GET0_NUMBER));
}

/* see morvane/store.h */
int STORE_ATTR_INFO_set_cstr(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code, char* cstr,
                             size_t cstr_size) {
  constexpr int f = STORE_F_STORE_ATTR_INFO_SET_CSTR;
  if (!may_set(attrs, code, Kind::kString, cstr, f)) return 0;
  return keep(attrs, code, BUF_strndup(cstr, cstr_size), cstr_size, f);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_set_sha1str(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code,
                                unsigned char* sha1str, size_t sha1str_size) {
  constexpr int f = STORE_F_STORE_ATTR_INFO_SET_SHA1STR;
  if (!may_set(attrs, code, Kind::kSha1, sha1str, f)) return 0;
  return keep(attrs, code, BUF_memdup(sha1str, sha1str_size), sha1str_size, f);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_set_dn(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code, X509_NAME* dn) {
  constexpr int f = STORE_F_STORE_ATTR_INFO_SET_DN;
  if (!may_set(attrs, code, Kind::kName, dn, f)) return 0;
  return keep(attrs, code, X509_NAME_dup(dn), 0, f);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_set_number(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code, BIGNUM* number) {
  constexpr int f = STORE_F_STORE_ATTR_INFO_SET_NUMBER;
  if (!may_set(attrs, code, Kind::kNumber, number, f)) return 0;
  return keep(attrs, code, BN_dup(number), 0, f);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_modify_cstr(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code, char* cstr,
                                size_t cstr_size) {
  if (!clear_for_modify(attrs, code, Kind::kString, STORE_F_STORE_ATTR_INFO_MODIFY_CSTR)) return 0;
  return STORE_ATTR_INFO_set_cstr(attrs, code, cstr, cstr_size);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_modify_sha1str(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code,
                                   unsigned char* sha1str, size_t sha1str_size) {
  if (!clear_for_modify(attrs, code, Kind::kSha1, STORE_F_STORE_ATTR_INFO_MODIFY_SHA1STR)) return 0;
  return STORE_ATTR_INFO_set_sha1str(attrs, code, sha1str, sha1str_size);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_modify_dn(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code, X509_NAME* dn) {
  if (!clear_for_modify(attrs, code, Kind::kName, STORE_F_STORE_ATTR_INFO_MODIFY_DN)) return 0;
  return STORE_ATTR_INFO_set_dn(attrs, code, dn);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_modify_number(STORE_ATTR_INFO* attrs, STORE_ATTR_TYPES code, BIGNUM* number) {
  if (!clear_for_modify(attrs, code, Kind::kNumber, STORE_F_STORE_ATTR_INFO_MODIFY_NUMBER))
    return 0;
  return STORE_ATTR_INFO_set_number(attrs, code, number);
}

// ---- Parsing item lists.

namespace {

struct ParseContext {
  MORVANE_ITEM* attributes;  // the current item
};

bool ends_group(const MORVANE_ITEM* item) {
  return item->code == STORE_ATTR_OR || item->code == STORE_ATTR_END;
}

}  // namespace

/* see morvane/store.h */
void* STORE_parse_attrs_start(MORVANE_ITEM* attributes) {
  if (attributes == nullptr) {
    STOREerr(STORE_F_STORE_PARSE_ATTRS_START, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  auto* ctx = static_cast<ParseContext*>(MORVANE_malloc(sizeof(ParseContext)));
  if (ctx == nullptr) {
    STOREerr(STORE_F_STORE_PARSE_ATTRS_START, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  ctx->attributes = attributes;
  return ctx;
}

/* see morvane/store.h */
STORE_ATTR_INFO* STORE_parse_attrs_next(void* handle) {
  auto* ctx = static_cast<ParseContext*>(handle);
  if (ctx == nullptr || ctx->attributes == nullptr) {
    STOREerr(STORE_F_STORE_PARSE_ATTRS_NEXT, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  STORE_ATTR_INFO* attrs = nullptr;
  for (; !ends_group(ctx->attributes); ctx->attributes++) {
    MORVANE_ITEM* item = ctx->attributes;
    const Kind k = kind_of(item->code);
    if (k == Kind::kNone) continue;  // an unknown code is skipped
    if (attrs == nullptr && (attrs = STORE_ATTR_INFO_new()) == nullptr) {
      STOREerr(STORE_F_STORE_PARSE_ATTRS_NEXT, ERR_R_MALLOC_FAILURE);
      while (!ends_group(ctx->attributes)) ctx->attributes++;
      break;
    }
    // A repeated string keeps its first value (the setter queues "already has
    // a value"); a repeated name or number keeps its last.
    const auto code = static_cast<STORE_ATTR_TYPES>(item->code);
    switch (k) {
      case Kind::kString:
        STORE_ATTR_INFO_set_cstr(attrs, code, static_cast<char*>(item->value), item->value_size);
        break;
      case Kind::kSha1:
        STORE_ATTR_INFO_set_sha1str(attrs, code, static_cast<unsigned char*>(item->value),
                                    item->value_size);
        break;
      case Kind::kName:
        STORE_ATTR_INFO_modify_dn(attrs, code, static_cast<X509_NAME*>(item->value));
        break;
      case Kind::kNumber:
        STORE_ATTR_INFO_modify_number(attrs, code, static_cast<BIGNUM*>(item->value));
        break;
      case Kind::kNone:
        break;
    }
  }
  if (ctx->attributes->code == STORE_ATTR_OR) ctx->attributes++;
  return attrs;
}

/* see morvane/store.h */
int STORE_parse_attrs_end(void* handle) {
  auto* ctx = static_cast<ParseContext*>(handle);
  if (ctx == nullptr || ctx->attributes == nullptr) {
    STOREerr(STORE_F_STORE_PARSE_ATTRS_END, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  MORVANE_free(ctx);
  return 1;
}

/* see morvane/store.h */
int STORE_parse_attrs_endp(void* handle) {
  auto* ctx = static_cast<ParseContext*>(handle);
  if (ctx == nullptr || ctx->attributes == nullptr) {
    STOREerr(STORE_F_STORE_PARSE_ATTRS_ENDP, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  return ctx->attributes->code == STORE_ATTR_END;
}

// ---- Comparisons.

namespace {

// Clear bits among bits lo..hi of `byte`.
unsigned clear_bits(unsigned char byte, int lo, int hi) {
  unsigned n = 0;
  for (int i = lo; i <= hi; i++) n += !((byte >> i) & 1);
  return n;
}

// The ranges of the codes set in `a` and `b` and their ordering.  The span
// of a record runs from its low mark (taken from its first non-empty byte)
// to its high mark (from its last), each counted over the clear bits of
// that byte, as records have always been ordered.
struct Ranges {
  unsigned alow = UINT_MAX, ahigh = 0, blow = UINT_MAX, bhigh = 0;
  int order = 0;
};

void extend(unsigned char byte, int i, unsigned& low, unsigned& high) {
  if (byte == 0) return;
  if (low == UINT_MAX) low = 8u * i + clear_bits(byte, 0, 6);
  high = 8u * i + 7 + clear_bits(byte, 1, 7);
}

Ranges compute_ranges(const unsigned char* a, const unsigned char* b) {
  Ranges r;
  for (int i = 0; i < kSetBytes; i++) {
    if (r.order == 0 && a[i] != b[i]) r.order = a[i] < b[i] ? -1 : 1;
    extend(a[i], i, r.alow, r.ahigh);
    extend(b[i], i, r.blow, r.bhigh);
  }
  const unsigned asum = r.ahigh + r.alow, bsum = r.bhigh + r.blow;  // wraps like the original
  if (asum < bsum)
    r.order = -1;
  else if (asum > bsum)
    r.order = 1;
  return r;
}

// Names are equal under X509_NAME_cmp's matching rules (printable strings
// compared with case and inner spaces folded).
bool same_name(X509_NAME* a, X509_NAME* b) {
  return X509_NAME_cmp(a, b) == 0;
}

bool same_value(const STORE_ATTR_INFO* a, const STORE_ATTR_INFO* b, int code) {
  switch (kind_of(code)) {
    case Kind::kString:
      return strcmp(a->values[code].cstring, b->values[code].cstring) == 0;
    case Kind::kSha1:
      // Values of different sizes differ; equal sizes compare byte by byte.
      return a->value_sizes[code] == b->value_sizes[code] &&
             memcmp(a->values[code].sha1string, b->values[code].sha1string, a->value_sizes[code]) ==
                 0;
    case Kind::kName:
      return same_name(a->values[code].dn, b->values[code].dn);
    case Kind::kNumber:
      return BN_cmp(a->values[code].number, b->values[code].number) == 0;
    case Kind::kNone:
      break;
  }
  return true;
}

}  // namespace

/* see morvane/store.h */
int STORE_ATTR_INFO_compare(const STORE_ATTR_INFO* a, const STORE_ATTR_INFO* b) {
  if (a == b) return 0;
  if (a == nullptr) return -1;
  if (b == nullptr) return 1;
  return compute_ranges(a->set, b->set).order;
}

/* see morvane/store.h */
int STORE_ATTR_INFO_in_range(const STORE_ATTR_INFO* a, const STORE_ATTR_INFO* b) {
  if (a == b) return 1;
  if (a == nullptr || b == nullptr) return 0;
  const Ranges r = compute_ranges(a->set, b->set);
  return !(r.alow < r.blow || r.ahigh > r.bhigh);
}

/* see morvane/store.h */
int STORE_ATTR_INFO_in(const STORE_ATTR_INFO* a, const STORE_ATTR_INFO* b) {
  if (a == b) return 1;
  if (a == nullptr || b == nullptr) return 0;
  for (int i = 0; i < kSetBytes; i++)
    if ((a->set[i] & b->set[i]) != a->set[i]) return 0;
  return 1;
}

/* see morvane/store.h */
int STORE_ATTR_INFO_in_ex(const STORE_ATTR_INFO* a, const STORE_ATTR_INFO* b) {
  if (a == b) return 1;
  if (!STORE_ATTR_INFO_in(a, b)) return 0;
  for (int code = 1; code < kCodes; code++)
    if (is_set(a, code) && !same_value(a, b, code)) return 0;
  return 1;
}
