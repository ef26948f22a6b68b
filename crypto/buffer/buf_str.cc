// String and memory duplication and the bounded copy and concatenation.

#include <limits.h>
#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

/* see morvane/buffer.h */
char* BUF_strdup(const char* str) {
  if (str == nullptr) return nullptr;
  return BUF_strndup(str, strlen(str));
}

char* BUF_strndup(const char* str, size_t siz) {
  if (str == nullptr) return nullptr;
  // The block of siz + 1 bytes must fit the allocator's int size.
  char* ret = siz < INT_MAX ? static_cast<char*>(MORVANE_malloc(siz + 1)) : nullptr;
  if (ret == nullptr) {
    BUFerr(BUF_F_BUF_STRNDUP, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  size_t n = strnlen(str, siz);
  memcpy(ret, str, n);
  ret[n] = '\0';
  return ret;
}

void* BUF_memdup(const void* data, size_t siz) {
  if (data == nullptr) return nullptr;
  // Size 0 fails like any refused allocation.
  void* ret = siz <= INT_MAX ? MORVANE_malloc(siz) : nullptr;
  if (ret == nullptr) {
    BUFerr(BUF_F_BUF_MEMDUP, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  return memcpy(ret, data, siz);
}

size_t BUF_strlcpy(char* dst, const char* src, size_t size) {
  size_t l = 0;
  for (; size > 1 && *src != '\0'; size--) {
    *dst++ = *src++;
    l++;
  }
  if (size != 0) *dst = '\0';
  return l + strlen(src);
}

size_t BUF_strlcat(char* dst, const char* src, size_t size) {
  size_t l = 0;
  for (; size > 0 && *dst != '\0'; size--, dst++) l++;
  return l + BUF_strlcpy(dst, src, size);
}
