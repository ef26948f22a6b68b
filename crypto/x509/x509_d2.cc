// Filling a store from the default certificate file and directory, or from
// locations the caller names.

#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include <morvane/err.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/err_mark.h"

namespace {

// Whether every entry of the ':'-separated list `dirs` (empty entries
// skipped) is a directory now; false with the reasons queued, the entry
// named, for the first that is not.
bool directories_exist(const char* dirs) {
  for (const char* s = dirs;;) {
    const char* end = strchr(s, ':');
    const size_t len = end != nullptr ? static_cast<size_t>(end - s) : strlen(s);
    if (len != 0) {
      char dir[PATH_MAX];
      struct stat st;
      int err = ENAMETOOLONG;
      if (len < sizeof dir) {
        memcpy(dir, s, len);
        dir[len] = '\0';
        err = stat(dir, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
      }
      if (err != 0) {
        SYSerr(SYS_F_STAT, err);
        ERR_put_error(ERR_LIB_X509, X509_F_ADD_CERT_DIR, X509_R_INVALID_DIRECTORY, __FILE__,
                      __LINE__);
        ERR_add_error_data(2, "dir=", len < sizeof dir ? dir : "(name too long)");
        return false;
      }
    }
    if (end == nullptr) return true;
    s = end + 1;
  }
}

}  // namespace

int X509_STORE_set_default_paths(X509_STORE* ctx) {
  // A missing default file or directory is no failure: drop what this call
  // queued, and only that.
  morvane::internal::ErrorMark mark;
  X509_LOOKUP* lookup = X509_STORE_add_lookup(ctx, X509_LOOKUP_file());
  if (lookup == nullptr) return 0;
  X509_LOOKUP_load_file(lookup, nullptr, X509_FILETYPE_DEFAULT);
  lookup = X509_STORE_add_lookup(ctx, X509_LOOKUP_hash_dir());
  if (lookup == nullptr) return 0;
  X509_LOOKUP_add_dir(lookup, nullptr, X509_FILETYPE_DEFAULT);
  mark.pop();
  return 1;
}

int X509_STORE_load_locations(X509_STORE* ctx, const char* file, const char* path) {
  if (file == nullptr && path == nullptr) return 0;
  if (file != nullptr) {
    X509_LOOKUP* lookup = X509_STORE_add_lookup(ctx, X509_LOOKUP_file());
    if (lookup == nullptr) return 0;
    if (X509_LOOKUP_load_file(lookup, file, X509_FILETYPE_PEM) != 1) return 0;
  }
  if (path != nullptr) {
    if (!directories_exist(path)) return 0;
    X509_LOOKUP* lookup = X509_STORE_add_lookup(ctx, X509_LOOKUP_hash_dir());
    if (lookup == nullptr) return 0;
    if (X509_LOOKUP_add_dir(lookup, path, X509_FILETYPE_PEM) != 1) return 0;
  }
  return 1;
}
