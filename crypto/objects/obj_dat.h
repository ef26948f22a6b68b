// The record of one built-in object.  The tables generated from objects.txt
// (obj_dat.inc in the generated folder, beside the error tables: nid_objs,
// lvalues and the sn_objs, ln_objs and obj_objs index orders) are arrays of
// these and of NIDs.  The records are ASN1_OBJECTs (sn, ln, nid, length,
// data, flags), so the object database serves its entries as they are.

#ifndef MORVANE_CRYPTO_OBJECTS_OBJ_DAT_H
#define MORVANE_CRYPTO_OBJECTS_OBJ_DAT_H

#include <morvane/asn1.h>

// sn and ln are null for a retired NID, whose nid is 0; length is 0 and data
// null for an entry without an OID; flags are 0: built-in entries are static.
using ObjRecord = ASN1_OBJECT;

#endif  // MORVANE_CRYPTO_OBJECTS_OBJ_DAT_H
