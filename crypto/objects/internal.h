// Private interface of the object database: the objects added at run time,
// which the name, NID and content lookups consult before the built-in table.

#ifndef MORVANE_CRYPTO_OBJECTS_INTERNAL_H
#define MORVANE_CRYPTO_OBJECTS_INTERNAL_H

#include <stdint.h>

#include <morvane/asn1.h>

namespace morvane::objects {

// The keys of an added object, one hash record each.
enum AddedKey : int { kByData = 0, kBySn = 1, kByLn = 2, kByNid = 3 };

// The added object stored under `key` with the value that `probe` carries
// (content, short name, long name or NID); null when none or no object was
// added.
ASN1_OBJECT* added_find(AddedKey key, const ASN1_OBJECT* probe);

// Whether any object was added (and OBJ_cleanup has not run since).
bool added_exists();

// Whether o is an entry of the constant built-in table (never written, never
// freed).
bool is_builtin(const ASN1_OBJECT* o);

// A deep copy with its own content and names and the three dynamic flags;
// null after queuing an error under OBJ_dup.
ASN1_OBJECT* copy_object(const ASN1_OBJECT* o);

// A number that changes after every change to the name registry
// (OBJ_NAME_add, OBJ_NAME_remove, OBJ_NAME_cleanup, OBJ_NAME_new_index) or
// to the added objects (OBJ_add_object, OBJ_cleanup): what a look-up found
// through them while it read the same is found again.
uint64_t names_generation();
void names_changed();

}  // namespace morvane::objects

#endif  // MORVANE_CRYPTO_OBJECTS_INTERNAL_H
