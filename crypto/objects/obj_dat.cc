// Lookups in the object database: NID to object and names, object and names
// to NID.  The objects added at run time (obj_add.cc) are consulted first by
// the name and content lookups and serve the NIDs beyond the built-in table.

#include <string.h>

#include <functional>

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "objects/internal.h"
#include "objects/obj_dat.h"
// The generated tables, after the record type they fill.
#include "obj_dat.inc"

namespace morvane::objects {
namespace {

// The order of obj_objs: shorter content first, then the octets.
int obj_cmp(const void* key, const void* element) {
  const auto* a = static_cast<const ASN1_OBJECT*>(key);
  const ASN1_OBJECT* b = &nid_objs[*static_cast<const unsigned int*>(element)];
  if (a->length != b->length) return a->length - b->length;
  return memcmp(a->data, b->data, a->length);
}

// The orders of sn_objs and ln_objs: strcmp of the names.
int sn_cmp(const void* key, const void* element) {
  return strcmp(static_cast<const char*>(key),
                nid_objs[*static_cast<const unsigned int*>(element)].sn);
}
int ln_cmp(const void* key, const void* element) {
  return strcmp(static_cast<const char*>(key),
                nid_objs[*static_cast<const unsigned int*>(element)].ln);
}

// The NID that a binary search over an index table finds; 0 when none.
int search(const void* key, const unsigned int* index, int num,
           int (*cmp)(const void*, const void*)) {
  const char* hit = OBJ_bsearch(static_cast<const char*>(key), reinterpret_cast<const char*>(index),
                                num, sizeof(index[0]), cmp);
  return hit == nullptr ? 0 : nid_objs[*reinterpret_cast<const unsigned int*>(hit)].nid;
}

// The object of NID n, queuing "unknown nid" under `func` when there is none.
const ASN1_OBJECT* find_nid(int n, int func) {
  if (n >= 0 && n < kNumNid) {
    if (n != 0 && nid_objs[n].nid == 0) {
      OBJerr(func, OBJ_R_UNKNOWN_NID);
      return nullptr;
    }
    return &nid_objs[n];
  }
  ASN1_OBJECT probe{};
  probe.nid = n;
  const ASN1_OBJECT* o = added_find(kByNid, &probe);
  if (o == nullptr && added_exists()) OBJerr(func, OBJ_R_UNKNOWN_NID);
  return o;
}

}  // namespace

bool is_builtin(const ASN1_OBJECT* o) {
  return !std::less<const ASN1_OBJECT*>()(o, nid_objs) &&
         std::less<const ASN1_OBJECT*>()(o, nid_objs + kNumNid);
}

}  // namespace morvane::objects

using namespace morvane::objects;

/* see morvane/objects.h */
ASN1_OBJECT* OBJ_nid2obj(int n) {
  // Built-in entries are returned as they are: flags 0 keep ASN1_OBJECT_free
  // off them.
  return const_cast<ASN1_OBJECT*>(find_nid(n, OBJ_F_OBJ_NID2OBJ));
}

/* see morvane/objects.h */
const char* OBJ_nid2sn(int n) {
  const ASN1_OBJECT* o = find_nid(n, OBJ_F_OBJ_NID2SN);
  return o == nullptr ? nullptr : o->sn;
}

/* see morvane/objects.h */
const char* OBJ_nid2ln(int n) {
  const ASN1_OBJECT* o = find_nid(n, OBJ_F_OBJ_NID2LN);
  return o == nullptr ? nullptr : o->ln;
}

/* see morvane/objects.h */
int OBJ_obj2nid(const ASN1_OBJECT* a) {
  if (a == nullptr) return 0;
  if (a->nid != 0) return a->nid;
  if (a->length <= 0 || a->data == nullptr) return 0;
  if (const ASN1_OBJECT* o = added_find(kByData, a)) return o->nid;
  return search(a, obj_objs, kNumObj, obj_cmp);
}

/* see morvane/objects.h */
int OBJ_sn2nid(const char* s) {
  if (s == nullptr) return 0;
  ASN1_OBJECT probe{};
  probe.sn = s;
  if (const ASN1_OBJECT* o = added_find(kBySn, &probe)) return o->nid;
  return search(s, sn_objs, kNumSn, sn_cmp);
}

/* see morvane/objects.h */
int OBJ_ln2nid(const char* s) {
  if (s == nullptr) return 0;
  ASN1_OBJECT probe{};
  probe.ln = s;
  if (const ASN1_OBJECT* o = added_find(kByLn, &probe)) return o->nid;
  return search(s, ln_objs, kNumLn, ln_cmp);
}
