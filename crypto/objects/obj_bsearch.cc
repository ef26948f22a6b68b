// Binary search over a sorted array, shared by the object tables and by the
// sorted stacks.

#include <morvane/err.h>
#include <morvane/objects.h>

/* see morvane/objects.h */
const char* OBJ_bsearch_ex(const char* key, const char* base, int num, int size,
                           int (*cmp)(const void*, const void*), int flags) {
  if (size < 0) {  // would step before the table or far past it
    OBJerr(OBJ_F_OBJ_BSEARCH_EX, OBJ_R_INVALID_ELEMENT_SIZE);
    return nullptr;
  }
  if (num <= 0) return nullptr;
  int l = 0, h = num, i = 0, c = 0;
  const char* p = nullptr;
  while (l < h) {
    i = l + (h - l) / 2;  // (l + h) / 2 without overflow
    p = base + static_cast<long>(i) * size;
    c = cmp(key, p);
    if (c < 0)
      h = i;
    else if (c > 0)
      l = i + 1;
    else
      break;
  }
  if (c != 0) return (flags & OBJ_BSEARCH_VALUE_ON_NOMATCH) ? p : nullptr;
  if (flags & OBJ_BSEARCH_FIRST_VALUE_ON_MATCH) {
    while (i > 0 && cmp(key, base + static_cast<long>(i - 1) * size) == 0) i--;
    p = base + static_cast<long>(i) * size;
  }
  return p;
}
