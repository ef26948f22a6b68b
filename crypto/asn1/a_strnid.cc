// String rules by attribute NID (the character-count bounds and string types
// of X.520 attributes, PKIX profiles and PKCS#9 attributes), the rules added
// at run time, and the process-wide default type mask.
//
// Implementation notes: the built-in rules are writable but constant-
// initialised, sorted by NID and searched by bisection; ASN1_STRING_TABLE_add
// edits a built-in row in place for the rest of the process.  Added rules sit
// in `stable`, a stack sorted by NID.  Neither is locked: the caller sets them
// up before threads use the library.

#include <errno.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include <array>

static_assert(offsetof(ASN1_STRING_TABLE, minsize) == 8 &&
              offsetof(ASN1_STRING_TABLE, mask) == 24 && offsetof(ASN1_STRING_TABLE, flags) == 32 &&
              sizeof(ASN1_STRING_TABLE) == 40);

namespace {

constinit unsigned long global_mask = 0xFFFFFFFFUL;

constexpr unsigned long kDir = ASN1_MASK_DIRECTORYSTRING;
constexpr unsigned long kPrintable = ASN1_MASK_PRINTABLESTRING;
constexpr unsigned long kIa5 = ASN1_MASK_IA5STRING;
constexpr unsigned long kBmp = ASN1_MASK_BMPSTRING;
constexpr unsigned long kDirIa5 = kDir | kIa5;
constexpr unsigned long kFixed = ASN1_STABLE_NO_MASK;

// X.520 upper bounds (ub-common-name 64, ub-locality-name 128, ...), PKIX
// (RFC 5280, Appendix A) and PKCS#9 (RFC 2985).
// clang-format off
constexpr std::array<ASN1_STRING_TABLE, 19> kBuiltIn = {{
    {13,  1, 64,    kDir,       0},       // commonName
    {14,  2, 2,     kPrintable, kFixed},  // countryName
    {15,  1, 128,   kDir,       0},       // localityName
    {16,  1, 128,   kDir,       0},       // stateOrProvinceName
    {17,  1, 64,    kDir,       0},       // organizationName
    {18,  1, 64,    kDir,       0},       // organizationalUnitName
    {48,  1, 128,   kIa5,       kFixed},  // emailAddress
    {49,  1, -1,    kDirIa5,    0},       // unstructuredName
    {54,  1, -1,    kDirIa5,    0},       // challengePassword
    {55,  1, -1,    kDir,       0},       // unstructuredAddress
    {99,  1, 32768, kDir,       0},       // givenName
    {100, 1, 32768, kDir,       0},       // surname
    {101, 1, 32768, kDir,       0},       // initials
    {105, 1, 64,    kPrintable, kFixed},  // serialNumber
    {156, -1, -1,   kBmp,       kFixed},  // friendlyName
    {173, 1, 32768, kDir,       0},       // name
    {174, -1, -1,   kPrintable, kFixed},  // dnQualifier
    {391, 1, -1,    kIa5,       kFixed},  // domainComponent
    {417, -1, -1,   kBmp,       kFixed},  // CSPName
}};
// clang-format on

constexpr bool sorted_by_nid() {
  for (size_t i = 1; i < kBuiltIn.size(); i++)
    if (kBuiltIn[i - 1].nid >= kBuiltIn[i].nid) return false;
  return true;
}
static_assert(sorted_by_nid(), "the built-in rules are searched by bisection");

// The rules in force: the built-in ones, which ASN1_STRING_TABLE_add may edit.
constinit std::array<ASN1_STRING_TABLE, kBuiltIn.size()> tbl_standard = kBuiltIn;

constinit STACK* stable = nullptr;

int cmp_nid(const char* const* a, const char* const* b) {
  const int x = reinterpret_cast<const ASN1_STRING_TABLE*>(*a)->nid;
  const int y = reinterpret_cast<const ASN1_STRING_TABLE*>(*b)->nid;
  return x < y ? -1 : x > y ? 1 : 0;
}

ASN1_STRING_TABLE* find_standard(int nid) {
  size_t lo = 0, hi = tbl_standard.size();
  while (lo < hi) {
    const size_t mid = lo + (hi - lo) / 2;
    if (tbl_standard[mid].nid == nid) return &tbl_standard[mid];
    if (tbl_standard[mid].nid < nid)
      lo = mid + 1;
    else
      hi = mid;
  }
  return nullptr;
}

void free_added(void* p) {
  auto* t = static_cast<ASN1_STRING_TABLE*>(p);
  if (t->flags & ASN1_STABLE_FLAGS_MALLOC) MORVANE_free(t);
}

}  // namespace

/* see morvane/asn1.h */
void ASN1_STRING_set_default_mask(unsigned long mask) {
  global_mask = mask;
}

/* see morvane/asn1.h */
unsigned long ASN1_STRING_get_default_mask(void) {
  return global_mask;
}

/* see morvane/asn1.h */
int ASN1_STRING_set_default_mask_asc(const char* p) {
  if (p == nullptr) return 0;
  unsigned long mask;
  if (strncmp(p, "MASK:", 5) == 0) {
    if (p[5] == '\0') return 0;
    char* end;
    errno = 0;
    mask = strtoul(p + 5, &end, 0);
    if (end == p + 5 || *end != '\0' || errno == ERANGE) return 0;  // no mask, or too long
  } else if (strcmp(p, "nombstr") == 0) {
    mask = ~(ASN1_MASK_BMPSTRING | ASN1_MASK_UTF8STRING) & 0xFFFFFFFFUL;
  } else if (strcmp(p, "pkix") == 0) {
    mask = ~ASN1_MASK_T61STRING & 0xFFFFFFFFUL;
  } else if (strcmp(p, "utf8only") == 0) {
    mask = ASN1_MASK_UTF8STRING;
  } else if (strcmp(p, "default") == 0) {
    mask = 0xFFFFFFFFUL;
  } else {
    return 0;
  }
  ASN1_STRING_set_default_mask(mask);
  return 1;
}

/* see morvane/asn1.h */
ASN1_STRING* ASN1_STRING_set_by_NID(ASN1_STRING** out, const unsigned char* in, int inlen,
                                    int inform, int nid) {
  ASN1_STRING* local = nullptr;
  if (out == nullptr) out = &local;
  const ASN1_STRING_TABLE* rule = ASN1_STRING_TABLE_get(nid);
  int ret;
  if (rule != nullptr) {
    unsigned long mask = rule->mask;
    if (!(rule->flags & ASN1_STABLE_NO_MASK)) mask &= global_mask;
    ret = ASN1_mbstring_ncopy(out, in, inlen, inform, mask, rule->minsize, rule->maxsize);
  } else {
    ret = ASN1_mbstring_copy(out, in, inlen, inform, ASN1_MASK_DIRECTORYSTRING & global_mask);
  }
  return ret > 0 ? *out : nullptr;
}

/* see morvane/asn1.h */
ASN1_STRING_TABLE* ASN1_STRING_TABLE_get(int nid) {
  ASN1_STRING_TABLE* t = find_standard(nid);
  if (t != nullptr || stable == nullptr) return t;
  ASN1_STRING_TABLE key{};
  key.nid = nid;
  const int i = sk_find(stable, reinterpret_cast<char*>(&key));
  return i < 0 ? nullptr : reinterpret_cast<ASN1_STRING_TABLE*>(sk_value(stable, i));
}

/* see morvane/asn1.h */
int ASN1_STRING_TABLE_add(int nid, long minsize, long maxsize, unsigned long mask,
                          unsigned long flags) {
  if (minsize < -1 || maxsize < -1) {  // -1 keeps a bound; no other negative has a meaning
    ASN1err(ASN1_F_ASN1_STRING_TABLE_ADD, ASN1_R_LENGTH_ERROR);
    return 0;
  }
  if (stable == nullptr) {
    stable = sk_new(cmp_nid);
    if (stable == nullptr) {
      ASN1err(ASN1_F_ASN1_STRING_TABLE_ADD, ERR_R_MALLOC_FAILURE);
      return 0;
    }
  }
  ASN1_STRING_TABLE* t = ASN1_STRING_TABLE_get(nid);
  const bool made = t == nullptr;
  if (made) {
    t = static_cast<ASN1_STRING_TABLE*>(MORVANE_malloc(sizeof *t));
    if (t == nullptr) {
      ASN1err(ASN1_F_ASN1_STRING_TABLE_ADD, ERR_R_MALLOC_FAILURE);
      return 0;
    }
    t->nid = nid;
    t->minsize = -1;  // a new rule's bounds default to none
    t->maxsize = -1;
    t->flags = (flags & ~ASN1_STABLE_FLAGS_MALLOC) | ASN1_STABLE_FLAGS_MALLOC;
  } else {
    t->flags = (t->flags & ASN1_STABLE_FLAGS_MALLOC) | (flags & ~ASN1_STABLE_FLAGS_MALLOC);
  }
  if (minsize != -1) t->minsize = minsize;
  if (maxsize != -1) t->maxsize = maxsize;
  t->mask = mask;
  if (made && !sk_push(stable, reinterpret_cast<char*>(t))) {
    MORVANE_free(t);
    ASN1err(ASN1_F_ASN1_STRING_TABLE_ADD, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  return 1;
}

/* see morvane/asn1.h */
void ASN1_STRING_TABLE_cleanup(void) {
  STACK* tmp = stable;
  if (tmp == nullptr) return;
  stable = nullptr;
  sk_pop_free(tmp, free_added);
}
