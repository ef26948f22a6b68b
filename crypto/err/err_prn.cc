// Printing a thread's error queue: each entry, oldest first, is taken off the
// queue and becomes one line "thread:error text:file:line:data" handed to a
// callback, a stream or a FILE.

#include <stdio.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

namespace {

int print_bio(const char* str, size_t len, void* bp) {
  return BIO_write(static_cast<BIO*>(bp), str, static_cast<int>(len));
}

int print_fp(const char* str, size_t, void* bp) {
  return BIO_printf(static_cast<BIO*>(bp), "%s", str);
}

}  // namespace

/* see morvane/err.h */
void ERR_print_errors_cb(int (*cb)(const char* str, size_t len, void* u), void* u) {
  unsigned long tid = CRYPTO_thread_id();
  const char* file;
  const char* data;
  int line, flags;
  unsigned long e;
  while ((e = ERR_get_error_line_data(&file, &line, &data, &flags)) != 0) {
    char text[256];
    char out[4096];
    ERR_error_string_n(e, text, sizeof(text));
    BIO_snprintf(out, sizeof(out), "%lu:%s:%s:%d:%s\n", tid, text, file, line,
                 (flags & ERR_TXT_STRING) ? data : "");
    if (cb(out, strlen(out), u) <= 0) break;
  }
}

void ERR_print_errors(BIO* bp) { ERR_print_errors_cb(print_bio, bp); }

void ERR_print_errors_fp(FILE* fp) {
  BIO* bp = BIO_new_fp(fp, BIO_NOCLOSE);
  if (bp == nullptr) return;
  ERR_print_errors_cb(print_fp, bp);
  BIO_free(bp);
}
