// String and byte comparisons: case-insensitive compares from the system and
// a plain unsigned byte compare.

#include <strings.h>

#include <morvane/crypto.h>

/* see morvane/crypto.h */
int MORVANE_strncasecmp(const char* str1, const char* str2, size_t n) {
  return strncasecmp(str1, str2, n);
}

int MORVANE_strcasecmp(const char* str1, const char* str2) {
  return strcasecmp(str1, str2);
}

int MORVANE_memcmp(const void* v1, const void* v2, size_t n) {
  const auto* a = static_cast<const unsigned char*>(v1);
  const auto* b = static_cast<const unsigned char*>(v2);
  for (size_t i = 0; i < n; i++) {
    if (a[i] != b[i]) return a[i] - b[i];
  }
  return 0;
}
