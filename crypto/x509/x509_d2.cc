// Filling a store from the default certificate file and directory, or from
// locations the caller names.

#include <morvane/err.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/err_mark.h"

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
    X509_LOOKUP* lookup = X509_STORE_add_lookup(ctx, X509_LOOKUP_hash_dir());
    if (lookup == nullptr) return 0;
    if (X509_LOOKUP_add_dir(lookup, path, X509_FILETYPE_PEM) != 1) return 0;
  }
  return 1;
}
