// Objects added at run time: one process-wide hash of records, one per key
// (content, short name, long name, NID) of each added object, and the next
// NID to hand out.
//
// Implementation notes: no lock guards this state; the application
// serialises additions and OBJ_cleanup against every other lookup.  An added
// built-in entry is stored by reference and never written or freed; every
// other object is stored as a copy that OBJ_cleanup frees once, however many
// records reach it.

#include <ctype.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/objects.h>

#include "internal/line_read.h"
#include "objects/internal.h"

namespace morvane::objects {
namespace {

struct AddedRecord {
  int type;  // an AddedKey
  ASN1_OBJECT* obj;
};

constinit LHASH* added = nullptr;
constinit int new_nid = 893;  // the first NID after the built-in table

constexpr int kDynamicFlags =
    ASN1_OBJECT_FLAG_DYNAMIC | ASN1_OBJECT_FLAG_DYNAMIC_STRINGS | ASN1_OBJECT_FLAG_DYNAMIC_DATA;

// The record's key hash in 32 bits, its type in the top two.
unsigned long add_hash(const void* item) {
  const auto* r = static_cast<const AddedRecord*>(item);
  const ASN1_OBJECT* o = r->obj;
  uint32_t h = 0;
  switch (r->type) {
    case kByData:
      h = static_cast<uint32_t>(o->length) << 20;
      for (int i = 0; i < o->length; i++) h ^= static_cast<uint32_t>(o->data[i]) << ((i * 3) % 24);
      break;
    case kBySn:
      h = static_cast<uint32_t>(lh_strhash(o->sn));
      break;
    case kByLn:
      h = static_cast<uint32_t>(lh_strhash(o->ln));
      break;
    case kByNid:
      h = static_cast<uint32_t>(o->nid);
      break;
    default:
      return 0;
  }
  return (h & 0x3FFFFFFFu) | (static_cast<uint32_t>(r->type) << 30);
}

int name_cmp(const char* a, const char* b) {
  if (a == nullptr) return b == nullptr ? 0 : -1;
  if (b == nullptr) return 1;
  return strcmp(a, b);
}

int add_cmp(const void* x, const void* y) {
  const auto* ca = static_cast<const AddedRecord*>(x);
  const auto* cb = static_cast<const AddedRecord*>(y);
  if (ca->type != cb->type) return ca->type - cb->type;
  const ASN1_OBJECT* a = ca->obj;
  const ASN1_OBJECT* b = cb->obj;
  switch (ca->type) {
    case kByData:
      if (a->length != b->length) return a->length - b->length;
      return a->length == 0 ? 0 : memcmp(a->data, b->data, a->length);
    case kBySn:
      return name_cmp(a->sn, b->sn);
    case kByLn:
      return name_cmp(a->ln, b->ln);
    case kByNid:
      return a->nid - b->nid;
    default:
      return 0;
  }
}

// OBJ_cleanup's passes: the NID field of each allocated object counts the
// records that reach it, and the last one frees it.
void cleanup_mark(void* item) {
  ASN1_OBJECT* o = static_cast<AddedRecord*>(item)->obj;
  if (is_builtin(o)) return;
  o->nid = 0;
  o->flags |= kDynamicFlags;
}
void cleanup_count(void* item) {
  ASN1_OBJECT* o = static_cast<AddedRecord*>(item)->obj;
  if (!is_builtin(o)) o->nid++;
}
void cleanup_free(void* item) {
  auto* r = static_cast<AddedRecord*>(item);
  if (!is_builtin(r->obj) && --r->obj->nid == 0) ASN1_OBJECT_free(r->obj);
  MORVANE_free(r);
}

}  // namespace

bool added_exists() {
  return added != nullptr;
}

ASN1_OBJECT* added_find(AddedKey key, const ASN1_OBJECT* probe) {
  if (added == nullptr) return nullptr;
  AddedRecord r{key, const_cast<ASN1_OBJECT*>(probe)};
  auto* hit = static_cast<AddedRecord*>(lh_retrieve(added, &r));
  return hit == nullptr ? nullptr : hit->obj;
}

}  // namespace morvane::objects

using namespace morvane::objects;

/* see morvane/objects.h */
int OBJ_new_nid(int num) {
  // NIDs are ints: a count that is negative or would run past INT_MAX
  // reserves nothing.
  if (num < 0 || num > INT_MAX - new_nid) {
    OBJerr(OBJ_F_OBJ_NEW_NID, OBJ_R_INVALID_NID_COUNT);
    return 0;
  }
  const int ret = new_nid;
  new_nid += num;
  return ret;
}

/* see morvane/objects.h */
int OBJ_add_object(const ASN1_OBJECT* obj) {
  if (obj == nullptr) return 0;
  if (added == nullptr && (added = lh_new(add_hash, add_cmp)) == nullptr) {
    OBJerr(OBJ_F_OBJ_ADD_OBJECT, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  // A built-in entry is referenced as it is; anything else is copied, so the
  // stored object belongs to the database whatever the caller's flags say.
  ASN1_OBJECT* o = is_builtin(obj) ? const_cast<ASN1_OBJECT*>(obj) : copy_object(obj);
  if (o == nullptr) return 0;
  AddedRecord* rec[4] = {};
  bool ok = (rec[kByNid] = static_cast<AddedRecord*>(MORVANE_malloc(sizeof(AddedRecord))));
  if (ok && o->length != 0 && obj->data != nullptr)
    ok = (rec[kByData] = static_cast<AddedRecord*>(MORVANE_malloc(sizeof(AddedRecord))));
  if (ok && o->sn != nullptr)
    ok = (rec[kBySn] = static_cast<AddedRecord*>(MORVANE_malloc(sizeof(AddedRecord))));
  if (ok && o->ln != nullptr)
    ok = (rec[kByLn] = static_cast<AddedRecord*>(MORVANE_malloc(sizeof(AddedRecord))));
  if (!ok) {
    OBJerr(OBJ_F_OBJ_ADD_OBJECT, ERR_R_MALLOC_FAILURE);
    for (AddedRecord* r : rec) MORVANE_free(r);
    if (o != obj) ASN1_OBJECT_free(o);
    return 0;
  }
  // The latest object added under a key wins; the records it replaces go
  // once every key is in.  A key the table cannot take (its node not
  // allocated) takes the keys stored before it back out.
  AddedRecord* replaced[4] = {};
  int stored = 0;
  for (; stored < 4; stored++) {
    AddedRecord* r = rec[stored];
    if (r == nullptr) continue;
    r->type = stored;
    r->obj = o;
    replaced[stored] = static_cast<AddedRecord*>(lh_insert(added, r));
    if (replaced[stored] == nullptr && lh_retrieve(added, r) != r) break;
  }
  if (stored < 4) {
    for (int i = 0; i < stored; i++) {
      if (rec[i] == nullptr) continue;
      if (replaced[i] != nullptr)
        lh_insert(added, replaced[i]);  // over the node it had: no allocation
      else
        lh_delete(added, rec[i]);
    }
    OBJerr(OBJ_F_OBJ_ADD_OBJECT, ERR_R_MALLOC_FAILURE);
    for (AddedRecord* r : rec) MORVANE_free(r);
    if (o != obj) ASN1_OBJECT_free(o);
    return 0;
  }
  for (AddedRecord* r : replaced) MORVANE_free(r);
  // Lookups hand the stored object out; ASN1_OBJECT_free leaves it alone.
  if (o != obj) o->flags &= ~kDynamicFlags;
  names_changed();
  return o->nid;
}

/* see morvane/objects.h */
int OBJ_create(const char* oid, const char* sn, const char* ln) {
  const int len = a2d_ASN1_OBJECT(nullptr, 0, oid, -1);
  if (len <= 0) return 0;
  auto* buf = static_cast<unsigned char*>(MORVANE_malloc(len));
  if (buf == nullptr) {
    OBJerr(OBJ_F_OBJ_CREATE, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  int ok = 0;
  if (a2d_ASN1_OBJECT(buf, len, oid, -1) == len) {
    // The NID is taken first: a failed creation still uses it up.
    const int nid = OBJ_new_nid(1);
    ASN1_OBJECT* op = nid != 0 ? ASN1_OBJECT_create(nid, buf, len, sn, ln) : nullptr;
    if (op != nullptr) ok = OBJ_add_object(op);
    ASN1_OBJECT_free(op);
  }
  MORVANE_free(buf);
  return ok;
}

/* see morvane/objects.h */
int OBJ_create_objects(BIO* in) {
  char line[512];
  int count = 0;
  for (;;) {
    // A read that fails is no end of the list, and a line too long for the
    // buffer is no shorter line: both say so.
    const int n = morvane::internal::read_line(in, line, sizeof line, true);
    if (n == morvane::internal::kLineTooLong)
      OBJerr(0, OBJ_R_LINE_TOO_LONG);
    else if (n < 0)
      OBJerr(0, ERR_R_BIO_LIB);
    if (n <= 0) return count;
    // Only a line end is stripped: a last line without one keeps its text.
    int end = n;
    while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '\r')) end--;
    line[end] = '\0';
    if (!isalnum(static_cast<unsigned char>(line[0]))) return count;
    char* s = line;
    while (*s != '\0' && (isdigit(static_cast<unsigned char>(*s)) || *s == '.')) s++;
    char* sn = nullptr;
    char* ln = nullptr;
    if (*s != '\0') {
      *s++ = '\0';
      while (isspace(static_cast<unsigned char>(*s))) s++;
      if (*s != '\0') {
        sn = s;
        while (*s != '\0' && !isspace(static_cast<unsigned char>(*s))) s++;
        if (*s != '\0') {
          *s++ = '\0';
          while (isspace(static_cast<unsigned char>(*s))) s++;
          if (*s != '\0') ln = s;
        }
      }
    }
    if (line[0] == '\0' || !OBJ_create(line, sn, ln)) return count;
    count++;
  }
}

/* see morvane/objects.h */
void OBJ_cleanup(void) {
  if (added == nullptr) return;
  added->down_load = 0;  // no contraction during the passes
  lh_doall(added, cleanup_mark);
  lh_doall(added, cleanup_count);
  lh_doall(added, cleanup_free);
  lh_free(added);
  added = nullptr;
  names_changed();
}
