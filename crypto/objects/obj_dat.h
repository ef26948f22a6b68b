// The record of one built-in object.  The tables generated from objects.txt
// (obj_dat.inc in the generated folder, beside the error tables: nid_objs,
// lvalues and the sn_objs, ln_objs and obj_objs index orders) are arrays of
// these and of NIDs.  The fields follow ASN1_OBJECT's order (sn, ln, nid,
// length, data, flags), so the object database can serve its entries as
// ASN1_OBJECTs once that type lands.

#ifndef MORVANE_CRYPTO_OBJECTS_OBJ_DAT_H
#define MORVANE_CRYPTO_OBJECTS_OBJ_DAT_H

struct ObjRecord {
  const char* sn;             // short name, null for a retired NID
  const char* ln;             // long name, null for a retired NID
  int nid;                    // the entry's own number, 0 for a retired NID
  int length;                 // number of content octets, 0 without an OID
  const unsigned char* data;  // content octets inside lvalues, or null
  int flags;                  // 0: built-in entries are static
};

#endif  // MORVANE_CRYPTO_OBJECTS_OBJ_DAT_H
