// Directory iteration: one entry name per call over opendir/readdir.
//
// The context is the one allocation of the library that bypasses the hooks:
// it comes from the system malloc and goes back with the system free.

#include <dirent.h>
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/crypto.h>

namespace {
constexpr size_t kMaxName = 1024;
}  // namespace

struct MORVANE_dir_context_st {
  DIR* dir;
  char entry_name[kMaxName + 1];
};

/* see morvane/crypto.h */
const char* MORVANE_DIR_read(MORVANE_DIR_CTX** ctx, const char* directory) {
  if (ctx == nullptr || directory == nullptr) {
    errno = EINVAL;
    return nullptr;
  }
  errno = 0;
  if (*ctx == nullptr) {
    auto* c = static_cast<MORVANE_DIR_CTX*>(malloc(sizeof(MORVANE_DIR_CTX)));
    if (c == nullptr) {
      errno = ENOMEM;
      return nullptr;
    }
    memset(c, 0, sizeof(*c));
    c->dir = opendir(directory);
    if (c->dir == nullptr) {
      int saved = errno;
      free(c);
      errno = saved;
      return nullptr;
    }
    *ctx = c;
  }
  const struct dirent* entry = readdir((*ctx)->dir);
  if (entry == nullptr) return nullptr;
  char* name = (*ctx)->entry_name;
  size_t n = strnlen(entry->d_name, kMaxName);
  memcpy(name, entry->d_name, n);
  name[n] = '\0';
  return name;
}

int MORVANE_DIR_end(MORVANE_DIR_CTX** ctx) {
  if (ctx == nullptr || *ctx == nullptr) {
    errno = EINVAL;
    return 0;
  }
  int ret = closedir((*ctx)->dir);
  int saved = errno;
  free(*ctx);
  if (ret == 0) return 1;
  errno = ret == -1 ? saved : EINVAL;
  return 0;
}
