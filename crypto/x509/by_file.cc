// The file lookup method ("Load file into cache") and the loaders that read
// certificates and revocation lists from PEM or DER files into a store.

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/pem.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "internal/err_mark.h"
#include "internal/err_watch.h"
#include "pem/internal.h"
#include "x509_local.h"

namespace {

void put_error(int func, int reason, int line) {
  ERR_put_error(ERR_LIB_X509, func, reason, __FILE__, line);
}

int by_file_ctrl(X509_LOOKUP* ctx, int cmd, const char* argp, long argl, char** /*ret*/) {
  if (cmd != X509_L_FILE_LOAD) return 0;
  if (argl == X509_FILETYPE_DEFAULT) {
    const char* file = getenv(X509_get_default_cert_file_env());
    if (file == nullptr) file = X509_get_default_cert_file();
    if (X509_load_cert_crl_file(ctx, file, X509_FILETYPE_PEM) == 0) {
      put_error(X509_F_BY_FILE_CTRL, X509_R_LOADING_DEFAULTS, __LINE__);
      return 0;
    }
    return 1;
  }
  if (argl == X509_FILETYPE_PEM) {
    return X509_load_cert_crl_file(ctx, argp, X509_FILETYPE_PEM) != 0 ? 1 : 0;
  }
  return X509_load_cert_file(ctx, argp, static_cast<int>(argl)) != 0 ? 1 : 0;
}

constinit X509_LOOKUP_METHOD x509_file_lookup = {
    "Load file into cache",
    nullptr,       // new_item
    nullptr,       // free
    nullptr,       // init
    nullptr,       // shutdown
    by_file_ctrl,  // ctrl
    nullptr,       // get_by_subject
    nullptr,       // get_by_issuer_serial
    nullptr,       // get_by_fingerprint
    nullptr,       // get_by_alias
};

// What one loader reads and where it puts it.
struct Loader {
  int func;
  const ASN1_ITEM* item;
  void* (*read_pem)(BIO* in);
  int (*add)(X509_STORE* store, void* obj);
  void (*free)(void* obj);
};

const Loader kCertLoader = {
    X509_F_X509_LOAD_CERT_FILE,
    &X509_it,
    [](BIO* in) -> void* { return PEM_read_bio_X509_AUX(in, nullptr, nullptr, nullptr); },
    [](X509_STORE* s, void* o) { return X509_STORE_add_cert(s, static_cast<X509*>(o)); },
    [](void* o) { X509_free(static_cast<X509*>(o)); },
};

const Loader kCrlLoader = {
    X509_F_X509_LOAD_CRL_FILE,
    &X509_CRL_it,
    [](BIO* in) -> void* { return PEM_read_bio_X509_CRL(in, nullptr, nullptr, nullptr); },
    [](X509_STORE* s, void* o) { return X509_STORE_add_crl(s, static_cast<X509_CRL*>(o)); },
    [](void* o) { X509_CRL_free(static_cast<X509_CRL*>(o)); },
};

// Adds obj to the lookup's store: true when added, or when the store held
// it already and `held_ok` (that refusal is then taken back).
bool add_object(const Loader& l, X509_LOOKUP* ctx, void* obj, bool held_ok) {
  morvane::internal::ErrorMark mark(held_ok);
  if (l.add(ctx->store_ctx, obj) != 0) return true;
  const unsigned long e = ERR_peek_last_error();
  if (!held_ok || ERR_GET_LIB(e) != ERR_LIB_X509 ||
      ERR_GET_REASON(e) != X509_R_CERT_ALREADY_IN_HASH_TABLE)
    return false;
  mark.pop();
  return true;
}

// Reads every object of the stream into the lookup's store: the number read,
// or 0.  A duplicate ends the reading unless `held_ok`.  In a PEM file a
// broken block, or an object the decoder refuses, is passed over, its
// reasons queued, and the others load; a stream that fails ends the
// reading and fails the load (the objects read before it staying).  Only
// the errors of this call are dropped when a PEM file ends normally after
// objects that all read.
int load_bio(const Loader& l, X509_LOOKUP* ctx, BIO* in, int type, bool held_ok) {
  int ret = 0;
  if (type == X509_FILETYPE_PEM) {
    morvane::internal::ErrorMark mark;
    int count = 0;
    int unread = 0;
    for (;;) {
      morvane::internal::ErrorMark read_mark;
      const morvane::internal::MallocFailureWatch watch;
      void* obj = l.read_pem(in);
      if (obj == nullptr) {
        const unsigned long e = ERR_peek_last_error();
        const bool undecodable =
            ERR_GET_LIB(e) == ERR_LIB_PEM && ERR_GET_REASON(e) == ERR_R_ASN1_LIB;
        // A stream that fails between blocks, or inside one, is no end and
        // no broken block: it ends the reading, its error queued.
        const morvane::pem::ReadEnd how = morvane::pem::read_end(read_mark);
        if ((undecodable || how == morvane::pem::ReadEnd::kBrokenBlock) && !watch.seen()) {
          unread++;
          continue;
        }
        const bool end = how == morvane::pem::ReadEnd::kEnd;
        if (end && count > 0 && unread == 0) {
          mark.pop();
          ret = count;
        } else {
          if (end && count > 0) read_mark.pop();  // the end is no reason
          put_error(l.func, ERR_R_PEM_LIB, __LINE__);
          // A stream that failed may have held more objects: no count of
          // those read reads as the whole file.
          ret = watch.seen() || !end ? 0 : count;
        }
        break;
      }
      const bool added = add_object(l, ctx, obj, held_ok);
      l.free(obj);
      if (!added) {
        ret = 0;
        break;
      }
      count++;
    }
  } else if (type == X509_FILETYPE_ASN1) {
    void* obj = ASN1_item_d2i_bio(l.item, in, nullptr);
    if (obj == nullptr) {
      put_error(l.func, ERR_R_ASN1_LIB, __LINE__);
    } else {
      ret = add_object(l, ctx, obj, held_ok) ? 1 : 0;
      l.free(obj);
    }
  } else {
    put_error(l.func, X509_R_BAD_X509_FILETYPE, __LINE__);
  }
  return ret;
}

// load_bio over the named file (1 for a null name).
int load_file(const Loader& l, X509_LOOKUP* ctx, const char* file, int type, bool held_ok) {
  if (file == nullptr) return 1;
  BIO* in = morvane::x509::open_file(file, l.func, false, nullptr, nullptr);
  if (in == nullptr) return 0;
  const int ret = load_bio(l, ctx, in, type, held_ok);
  BIO_free(in);
  return ret;
}

}  // namespace

X509_LOOKUP_METHOD* X509_LOOKUP_file(void) {
  return &x509_file_lookup;
}

int X509_load_cert_file(X509_LOOKUP* ctx, const char* file, int type) {
  return load_file(kCertLoader, ctx, file, type, false);
}

int X509_load_crl_file(X509_LOOKUP* ctx, const char* file, int type) {
  return load_file(kCrlLoader, ctx, file, type, false);
}

namespace morvane::x509 {

BIO* open_file(const char* path, int func, bool regular_only, struct stat* st, OpenFailure* why) {
  struct stat own;
  if (st == nullptr) st = &own;
  // Opened without waiting (opening a FIFO waits for a writer otherwise)
  // and judged by the descriptor, so that the file read is the one judged.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  FILE* fp = nullptr;
  if (fd >= 0 && fstat(fd, st) == 0) {
    const mode_t m = st->st_mode;
    if (regular_only ? !S_ISREG(m) : S_ISCHR(m) || S_ISBLK(m) || S_ISSOCK(m)) {
      // A device is never read: it may block, or never end.
      close(fd);
      put_error(func, X509_R_WRONG_TYPE, __LINE__);
      ERR_add_error_data(3, "file=", path, " (not a regular file)");
      if (why != nullptr) *why = OpenFailure::kNotRegular;
      return nullptr;
    }
    // Read as before: a FIFO that a writer holds open waits for its data,
    // one that none holds ends at once.
    const int fl = fcntl(fd, F_GETFL);
    if (fl >= 0 && fcntl(fd, F_SETFL, fl & ~O_NONBLOCK) == 0) fp = fdopen(fd, "r");
  }
  if (fp == nullptr) {
    const int err = errno;
    if (fd >= 0) close(fd);
    SYSerr(SYS_F_FOPEN, err);
    ERR_add_error_data(3, "fopen('", path, "','r')");
    ERR_put_error(ERR_LIB_BIO, BIO_F_BIO_NEW_FILE,
                  err == ENOENT ? BIO_R_NO_SUCH_FILE : ERR_R_SYS_LIB, __FILE__, __LINE__);
    put_error(func, ERR_R_SYS_LIB, __LINE__);
    ERR_add_error_data(2, "file=", path);
    if (why != nullptr) *why = OpenFailure::kUnreadable;
    return nullptr;
  }
  BIO* in = BIO_new_fp(fp, BIO_CLOSE);
  if (in == nullptr) {
    fclose(fp);
    put_error(func, ERR_R_MALLOC_FAILURE, __LINE__);
    if (why != nullptr) *why = OpenFailure::kNoMemory;
  }
  return in;
}

int load_bio_objects(X509_LOOKUP* lu, BIO* in, int type, int file_type) {
  return load_bio(type == X509_LU_X509 ? kCertLoader : kCrlLoader, lu, in, file_type, true);
}

}  // namespace morvane::x509

int X509_load_cert_crl_file(X509_LOOKUP* ctx, const char* file, int type) {
  if (type != X509_FILETYPE_PEM) return X509_load_cert_file(ctx, file, type);
  if (file == nullptr) return 1;
  BIO* in = morvane::x509::open_file(file, X509_F_X509_LOAD_CERT_CRL_FILE, false, nullptr, nullptr);
  if (in == nullptr) return 0;
  // A block that does not read (a certificate the decoder refuses) costs
  // that object only: its reasons stay queued and the others load.
  // Memory that runs short fails the load, whatever was added before.
  int unread = 0;
  bool ended = true;
  const morvane::internal::MallocFailureWatch watch;
  STACK* inf = morvane::pem::read_info_lenient(in, nullptr, nullptr, &unread, &ended);
  BIO_free(in);
  if (inf == nullptr) {
    put_error(X509_F_X509_LOAD_CERT_CRL_FILE, watch.seen() ? ERR_R_MALLOC_FAILURE : ERR_R_PEM_LIB,
              __LINE__);
    ERR_add_error_data(2, "file=", file);
    return 0;
  }
  int count = 0;
  for (int i = 0; i < sk_num(inf); i++) {
    auto* itmp = reinterpret_cast<X509_INFO*>(sk_value(inf, i));
    if (itmp->x509 != nullptr) {
      X509_STORE_add_cert(ctx->store_ctx, itmp->x509);
      count++;
    }
    if (itmp->crl != nullptr) {
      X509_STORE_add_crl(ctx->store_ctx, itmp->crl);
      count++;
    }
  }
  sk_pop_free(inf, [](void* p) { X509_INFO_free(static_cast<X509_INFO*>(p)); });
  if (watch.seen()) {
    put_error(X509_F_X509_LOAD_CERT_CRL_FILE, ERR_R_MALLOC_FAILURE, __LINE__);
    ERR_add_error_data(2, "file=", file);
    return 0;
  }
  // A file that was not read whole says so after the reasons of what it
  // lacks, loaded or not; an empty file, a DER file or one without
  // certificates holds no object to load: the 0 result says why.
  if (unread > 0 || !ended) {
    put_error(X509_F_X509_LOAD_CERT_CRL_FILE, ERR_R_PEM_LIB, __LINE__);
    ERR_add_error_data(2, "file=", file);
    // A stream that failed may have held more objects.
    if (!ended) return 0;
  } else if (count == 0) {
    put_error(X509_F_X509_LOAD_CERT_CRL_FILE, X509_R_NO_CERTIFICATE_OR_CRL_FOUND, __LINE__);
    ERR_add_error_data(2, "file=", file);
  }
  return count;
}
