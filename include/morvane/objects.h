/* Morvane: the object database.
 *
 * OBJ_bsearch_ex bisects a sorted array of `num` elements of `size` bytes,
 * calling cmp(key, element).  Without a match it returns null, or with flag
 * OBJ_BSEARCH_VALUE_ON_NOMATCH the element probed last; with a match and flag
 * OBJ_BSEARCH_FIRST_VALUE_ON_MATCH it walks back to the lowest equal element.
 * Nothing is queued on the error queue. */
#ifndef MORVANE_OBJECTS_H
#define MORVANE_OBJECTS_H

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

#define OBJ_BSEARCH_VALUE_ON_NOMATCH 0x01
#define OBJ_BSEARCH_FIRST_VALUE_ON_MATCH 0x02

MORVANE_EXPORT const char *OBJ_bsearch_ex(const char *key, const char *base, int num, int size,
                                          int (*cmp)(const void *, const void *), int flags);

MORVANE_END_DECLS

#endif /* MORVANE_OBJECTS_H */
