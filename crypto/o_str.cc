// String and byte comparisons: case-insensitive compares from the system and
// a constant-time unsigned byte compare.

#include <strings.h>

#include <morvane/crypto.h>

#include "internal/ct.h"

/* see morvane/crypto.h */
int MORVANE_strncasecmp(const char* str1, const char* str2, size_t n) {
  return strncasecmp(str1, str2, n);
}

int MORVANE_strcasecmp(const char* str1, const char* str2) {
  return strcasecmp(str1, str2);
}

// Constant time: every byte is read and the first difference kept by masks,
// so neither the time nor the addresses tell where the strings differ.
int MORVANE_memcmp(const void* v1, const void* v2, size_t n) {
  const auto* a = static_cast<const unsigned char*>(v1);
  const auto* b = static_cast<const unsigned char*>(v2);
  unsigned result = 0;
  unsigned found = 0;  // mask: a difference was seen
  for (size_t i = 0; i < n; i++) {
    const unsigned d = static_cast<unsigned>(a[i] - b[i]);
    const unsigned first = ~morvane::ct::zero_mask(d) & ~found;
    result = morvane::ct::select(first, d, result);
    found |= first;
  }
  return static_cast<int>(result);
}
