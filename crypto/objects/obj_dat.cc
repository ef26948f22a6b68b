// Lookups in the built-in object table: NID to object and object to NID.
//
// Implementation notes: objects added at run time come with the object
// database's hash of added objects; until then a NID beyond the table names
// nothing (null, no error) and an object unknown to the table has NID 0.

#include <string.h>

#include <morvane/asn1.h>
#include <morvane/err.h>
#include <morvane/objects.h>

#include "objects/obj_dat.h"
// The generated tables, after the record type they fill.
#include "obj_dat.inc"

namespace {

// The order of obj_objs: shorter content first, then the octets.
int obj_cmp(const void* key, const void* element) {
  const ASN1_OBJECT* a = static_cast<const ASN1_OBJECT*>(key);
  const ASN1_OBJECT* b = &nid_objs[*static_cast<const unsigned int*>(element)];
  if (a->length != b->length) return a->length - b->length;
  return memcmp(a->data, b->data, a->length);
}

}  // namespace

/* see morvane/objects.h */
ASN1_OBJECT* OBJ_nid2obj(int n) {
  if (n < 0 || n >= kNumNid) return nullptr;
  if (n != 0 && nid_objs[n].nid == 0) {
    OBJerr(OBJ_F_OBJ_NID2OBJ, OBJ_R_UNKNOWN_NID);
    return nullptr;
  }
  // Built-in entries are never written: their flags keep ASN1_OBJECT_free off.
  return const_cast<ASN1_OBJECT*>(&nid_objs[n]);
}

/* see morvane/objects.h */
int OBJ_obj2nid(const ASN1_OBJECT* a) {
  if (a == nullptr) return 0;
  if (a->nid != 0) return a->nid;
  if (a->length <= 0 || a->data == nullptr) return 0;
  const char* hit = OBJ_bsearch_ex(reinterpret_cast<const char*>(a),
                                   reinterpret_cast<const char*>(obj_objs), kNumObj,
                                   sizeof(obj_objs[0]), obj_cmp, 0);
  return hit == nullptr ? 0 : nid_objs[*reinterpret_cast<const unsigned int*>(hit)].nid;
}
