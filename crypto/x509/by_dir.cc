// The hashed-directory lookup method ("Load certs from files in a
// directory"): certificates are read from <dir>/<hash>.<n> and revocation
// lists from <dir>/<hash>.r<n>, n = 0, 1, ... up to the first number with
// no entry, the hash being X509_NAME_hash of the subject (issuer) name, in
// eight lower-case hexadecimal digits.  A search reads the files of the
// hash in every directory of the list.  A broken entry (a dangling link,
// a file that cannot be opened, anything but a regular file) is passed
// over with its reason queued, and the numbers go on after it; a FIFO or a
// device is never opened.
//
// Implementation notes: each search looks at every file of the hash again,
// so that a list added or replaced since counts, but reads only those that
// changed: the lookup keeps, per directory, type, hash and file number, the
// file's identity (device, inode, size, modification and change times) as
// the descriptor read showed it when opened, recorded once all its objects
// are in the store, or once its bytes were read and did not parse.  A
// broken file, or one that memory ran short for, is not recorded: the next
// search tries it again, and this one fails (for a list, or for want of
// memory) rather than answer without it.  A file that looks as recorded is
// passed over; a search that finds no record reads the file itself
// (another thread may be reading it: the store refuses the second copy of
// each object), so its own objects are in the store when it returns.  The
// records sit under lock 11.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "internal/lock.h"
#include "x509_local.h"

namespace {

// A file of a hash as it was when last read.
struct LoadedFile {
  int dir;  // index in the directory list
  int type;
  unsigned long hash;
  int number;
  dev_t dev;
  ino_t ino;
  off_t size;
  struct timespec mtime;
  struct timespec ctime;
};

struct lookup_dir_st {
  BUF_MEM* buffer;
  int num_dirs;
  char** dirs;
  int* dirs_type;
  int num_dirs_alloced;
  LoadedFile* loaded;  // ordered by directory, type, hash and number
  int num_loaded;
  int num_loaded_alloced;
};

void put_error(int func, int reason, int line) {
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, line);
}

// The method's state, made by X509_LOOKUP_new, which reports failures
// under its own name.
int new_dir(X509_LOOKUP* lu) {
  auto* a = static_cast<lookup_dir_st*>(MORVANE_malloc(sizeof(lookup_dir_st)));
  if (a == nullptr) {
    put_error(X509_F_X509_LOOKUP_NEW, ERR_R_MALLOC_FAILURE, __LINE__);
    return 0;
  }
  a->buffer = BUF_MEM_new();
  if (a->buffer == nullptr) {
    MORVANE_free(a);
    put_error(X509_F_X509_LOOKUP_NEW, ERR_R_MALLOC_FAILURE, __LINE__);
    return 0;
  }
  a->num_dirs = 0;
  a->dirs = nullptr;
  a->dirs_type = nullptr;
  a->num_dirs_alloced = 0;
  a->loaded = nullptr;
  a->num_loaded = 0;
  a->num_loaded_alloced = 0;
  lu->method_data = reinterpret_cast<char*>(a);
  return 1;
}

void free_dir(X509_LOOKUP* lu) {
  auto* a = reinterpret_cast<lookup_dir_st*>(lu->method_data);
  for (int i = 0; i < a->num_dirs; i++) MORVANE_free(a->dirs[i]);
  MORVANE_free(a->dirs);
  MORVANE_free(a->dirs_type);
  MORVANE_free(a->loaded);
  BUF_MEM_free(a->buffer);
  MORVANE_free(a);
}

// The list grows under lock 11, which searches hold to read it; a name
// stays until the lookup is freed.
int add_cert_dir(lookup_dir_st* ctx, const char* dir, int type) {
  if (dir == nullptr || *dir == '\0') {
    put_error(X509_F_ADD_CERT_DIR, X509_R_INVALID_DIRECTORY, __LINE__);
    return 0;
  }
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
  const char* s = dir;
  const char* p = s;
  for (;; p++) {
    if (*p != ':' && *p != '\0') continue;
    const char* ss = s;
    s = p + 1;
    const size_t len = static_cast<size_t>(p - ss);
    if (len != 0) {
      bool held = false;
      for (int j = 0; j < ctx->num_dirs; j++) {
        if (strlen(ctx->dirs[j]) == len && strncmp(ctx->dirs[j], ss, len) == 0) {
          held = true;
          break;
        }
      }
      if (!held) {
        if (ctx->num_dirs_alloced < ctx->num_dirs + 1) {
          const int n = ctx->num_dirs_alloced + 10;
          auto* dirs = static_cast<char**>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(char*)));
          auto* types = static_cast<int*>(MORVANE_malloc(static_cast<size_t>(n) * sizeof(int)));
          if (dirs == nullptr || types == nullptr) {
            MORVANE_free(dirs);
            MORVANE_free(types);
            put_error(X509_F_ADD_CERT_DIR, ERR_R_MALLOC_FAILURE, __LINE__);
            return 0;
          }
          for (int j = 0; j < ctx->num_dirs; j++) {
            dirs[j] = ctx->dirs[j];
            types[j] = ctx->dirs_type[j];
          }
          MORVANE_free(ctx->dirs);
          MORVANE_free(ctx->dirs_type);
          ctx->dirs = dirs;
          ctx->dirs_type = types;
          ctx->num_dirs_alloced = n;
        }
        char* copy = BUF_strndup(ss, len);
        if (copy == nullptr) return 0;
        ctx->dirs_type[ctx->num_dirs] = type;
        ctx->dirs[ctx->num_dirs] = copy;
        ctx->num_dirs++;
      }
    }
    if (*p == '\0') break;
  }
  return 1;
}

int dir_ctrl(X509_LOOKUP* ctx, int cmd, const char* argp, long argl, char** /*retp*/) {
  auto* ld = reinterpret_cast<lookup_dir_st*>(ctx->method_data);
  if (cmd != X509_L_ADD_DIR) return 0;
  if (argl == X509_FILETYPE_DEFAULT) {
    const char* dir = getenv(X509_get_default_cert_dir_env());
    if (dir == nullptr) dir = X509_get_default_cert_dir();
    const int ret = add_cert_dir(ld, dir, X509_FILETYPE_PEM);
    if (ret == 0) put_error(X509_F_DIR_CTRL, X509_R_LOADING_CERT_DIR, __LINE__);
    return ret;
  }
  return add_cert_dir(ld, argp, static_cast<int>(argl));
}

// The place of the record for key's file in the ordered list: its index
// when held (*found set), else where it would go.  The caller holds lock 11.
int find_loaded(const lookup_dir_st* ctx, const LoadedFile& key, bool* found) {
  auto before = [](const LoadedFile& a, const LoadedFile& b) {
    if (a.dir != b.dir) return a.dir < b.dir;
    if (a.type != b.type) return a.type < b.type;
    if (a.hash != b.hash) return a.hash < b.hash;
    return a.number < b.number;
  };
  int lo = 0;
  int hi = ctx->num_loaded;
  while (lo < hi) {
    const int mid = lo + (hi - lo) / 2;
    if (before(ctx->loaded[mid], key)) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  *found = lo < ctx->num_loaded && !before(key, ctx->loaded[lo]);
  return lo;
}

bool same_time(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// Whether the file was read when it looked as it does now.
bool unchanged(const lookup_dir_st* ctx, const LoadedFile& now) {
  MORVANE_READ_LOCKED(CRYPTO_LOCK_X509_STORE);
  bool found;
  const int at = find_loaded(ctx, now, &found);
  if (!found) return false;
  const LoadedFile& was = ctx->loaded[at];
  return was.dev == now.dev && was.ino == now.ino && was.size == now.size &&
         same_time(was.mtime, now.mtime) && same_time(was.ctime, now.ctime);
}

// Records what a file looked like before it was read: false without memory
// for the record ("malloc failure" queued; the file is read again next
// time).
bool remember(lookup_dir_st* ctx, const LoadedFile& read) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_X509_STORE);
  bool found;
  const int at = find_loaded(ctx, read, &found);
  if (!found) {
    if (ctx->num_loaded == ctx->num_loaded_alloced) {
      const int n = ctx->num_loaded_alloced == 0 ? 16 : ctx->num_loaded_alloced * 2;
      auto* grown = static_cast<LoadedFile*>(
          MORVANE_realloc(ctx->loaded, static_cast<size_t>(n) * sizeof(LoadedFile)));
      if (grown == nullptr) {
        put_error(X509_F_GET_CERT_BY_SUBJECT, ERR_R_MALLOC_FAILURE, __LINE__);
        return false;
      }
      ctx->loaded = grown;
      ctx->num_loaded_alloced = n;
    }
    memmove(ctx->loaded + at + 1, ctx->loaded + at,
            static_cast<size_t>(ctx->num_loaded - at) * sizeof(LoadedFile));
    ctx->num_loaded++;
  }
  ctx->loaded[at] = read;
  return true;
}

// What reading one file of a hash came to.
enum class FileRead {
  kRead,        // read, whatever it held (objects that did not parse passed over)
  kUnreadable,  // it could not be opened or read: try again at the next search
  kNoMemory,    // memory ran short: try again, and the search fails
};

// Reads the file's bytes whole, then its objects into the store; *st gets
// the status of the file read.  Only a regular file is opened (without
// waiting) and read: anything else is broken, like one that cannot be
// opened.
FileRead read_file(X509_LOOKUP* xl, const char* path, int type, int file_type, struct stat* st) {
  const morvane::internal::MallocFailureWatch watch;
  morvane::x509::OpenFailure why = morvane::x509::OpenFailure::kUnreadable;
  BIO* in = morvane::x509::open_file(path, X509_F_GET_CERT_BY_SUBJECT, true, st, &why);
  if (in == nullptr) {
    return watch.seen() || why == morvane::x509::OpenFailure::kNoMemory ? FileRead::kNoMemory
                                                                        : FileRead::kUnreadable;
  }
  BIO* bytes = BIO_new(BIO_s_mem());
  char chunk[4096];
  int n = 0;
  while (bytes != nullptr && (n = BIO_read(in, chunk, sizeof chunk)) > 0)
    if (BIO_write(bytes, chunk, n) != n) n = -2;
  BIO_free(in);
  FileRead how = FileRead::kRead;
  if (bytes == nullptr || n == -2) {
    how = FileRead::kNoMemory;
  } else if (n < 0) {
    put_error(X509_F_GET_CERT_BY_SUBJECT, ERR_R_SYS_LIB, __LINE__);
    ERR_add_error_data(2, "file=", path);
    how = FileRead::kUnreadable;
  } else {
    morvane::x509::load_bio_objects(xl, bytes, type, file_type);
  }
  BIO_free(bytes);
  if (how == FileRead::kNoMemory || watch.seen()) {
    if (!watch.seen()) put_error(X509_F_GET_CERT_BY_SUBJECT, ERR_R_MALLOC_FAILURE, __LINE__);
    return FileRead::kNoMemory;
  }
  return how;
}

int get_cert_by_subject(X509_LOOKUP* xl, int type, X509_NAME* name, X509_OBJECT* ret) {
  if (name == nullptr) return 0;
  const char* postfix;
  if (type == X509_LU_X509) {
    postfix = "";
  } else if (type == X509_LU_CRL) {
    postfix = "r";
  } else {
    put_error(X509_F_GET_CERT_BY_SUBJECT, X509_R_WRONG_LOOKUP_TYPE, __LINE__);
    return 0;
  }
  BUF_MEM* b = BUF_MEM_new();
  if (b == nullptr) {
    put_error(X509_F_GET_CERT_BY_SUBJECT, ERR_R_BUF_LIB, __LINE__);
    return 0;
  }
  auto* ctx = reinterpret_cast<lookup_dir_st*>(xl->method_data);
  const unsigned long h = X509_NAME_hash(name);
  // What a file that does not load queued stays only when nothing is found,
  // or when memory ran short or a file could not be read: then the search
  // fails, whatever else it found.
  morvane::internal::ErrorMark mark;
  bool no_memory = false;
  bool unreadable = false;  // a file that could not be opened or read: it may be next time
  bool broken = false;      // an entry that is no readable file: it stays so
  for (int i = 0;; i++) {
    const char* dir;
    int dir_type;
    {
      MORVANE_READ_LOCKED(CRYPTO_LOCK_X509_STORE);
      if (i >= ctx->num_dirs) break;
      dir = ctx->dirs[i];
      dir_type = ctx->dirs_type[i];
    }
    for (int k = 0;; k++) {
      // The path's length comes from the formatter itself, so no file
      // number can outgrow the buffer.
      const int need = snprintf(nullptr, 0, "%s%c%08lx.%s%d", dir, '/', h, postfix, k);
      if (need < 0 || BUF_MEM_grow(b, need + 1) == 0) {
        put_error(X509_F_GET_CERT_BY_SUBJECT, ERR_R_MALLOC_FAILURE, __LINE__);
        BUF_MEM_free(b);
        return 0;
      }
      snprintf(b->data, static_cast<size_t>(need) + 1, "%s%c%08lx.%s%d", dir, '/', h, postfix, k);
      struct stat st;
      if (stat(b->data, &st) < 0) {
        const int err = errno;
        struct stat link;
        const bool entry = lstat(b->data, &link) == 0;
        // No entry (or no directory): the numbers end here.
        if (!entry && (err == ENOENT || err == ENOTDIR)) break;
        // An entry that cannot be followed (a dangling or looping link) is
        // broken, and stays so however often it is asked: the numbers go on
        // after it.  A directory that cannot be searched tells nothing of
        // what follows.
        SYSerr(SYS_F_STAT, err);
        ERR_add_error_data(3, "stat('", b->data, "')");
        put_error(X509_F_GET_CERT_BY_SUBJECT, ERR_R_SYS_LIB, __LINE__);
        ERR_add_error_data(2, "file=", b->data);
        (err == ENOMEM ? unreadable : broken) = true;
        if (!entry) break;
        continue;
      }
      auto as_seen = [&] {
        return LoadedFile{i, type, h, k, st.st_dev, st.st_ino, st.st_size, st.st_mtim, st.st_ctim};
      };
      const LoadedFile seen = as_seen();
      if (!S_ISREG(st.st_mode)) {
        // A FIFO, a device or a folder is never opened: it may block, or
        // never end.  It fails every list search; a certificate search
        // reports it once while it stays as it is.
        if (type == X509_LU_X509 && unchanged(ctx, seen)) continue;
        put_error(X509_F_GET_CERT_BY_SUBJECT, X509_R_WRONG_TYPE, __LINE__);
        ERR_add_error_data(3, "file=", b->data, " (not a regular file)");
        if (type == X509_LU_CRL) {
          broken = true;
        } else if (!remember(ctx, seen)) {
          no_memory = true;
        }
        continue;
      }
      if (unchanged(ctx, seen)) continue;
      // A file read, whether or not its objects parsed, is remembered as
      // the descriptor read showed it, so that it is not read again while
      // unchanged; one that could not be opened or read (no descriptor
      // left, say), or that memory ran short for, is read again next time.
      switch (read_file(xl, b->data, type, dir_type, &st)) {
        case FileRead::kRead:
          if (!remember(ctx, as_seen())) no_memory = true;
          break;
        case FileRead::kUnreadable:
          unreadable = true;
          break;
        case FileRead::kNoMemory:
          no_memory = true;
          break;
      }
    }
  }
  BUF_MEM_free(b);
  // A list that could not be read may be the one that decides: the search
  // fails, its reasons queued, once every other file is in the store (the
  // verifier still counts a list in hand that revokes); "should retry" only
  // when a retry may read it.  A certificate that could not be read leaves
  // the chain without it, which the verifier reports.
  if (type == X509_LU_CRL && (no_memory || unreadable)) {
    put_error(X509_F_GET_CERT_BY_SUBJECT, X509_R_SHOULD_RETRY, __LINE__);
    return X509_LU_RETRY;
  }
  if (no_memory || (broken && type == X509_LU_CRL)) return X509_LU_RETRY;
  // Every directory is read, so that the verifier can choose among all the
  // objects of the name, whichever directory holds them.
  if (morvane::x509::first_held(xl->store_ctx, type, name, ret) == 0) return 0;
  mark.pop();
  return 1;
}

constinit X509_LOOKUP_METHOD x509_dir_lookup = {
    "Load certs from files in a directory",
    new_dir,              // new_item
    free_dir,             // free
    nullptr,              // init
    nullptr,              // shutdown
    dir_ctrl,             // ctrl
    get_cert_by_subject,  // get_by_subject
    nullptr,              // get_by_issuer_serial
    nullptr,              // get_by_fingerprint
    nullptr,              // get_by_alias
};

}  // namespace

X509_LOOKUP_METHOD* X509_LOOKUP_hash_dir(void) {
  return &x509_dir_lookup;
}
