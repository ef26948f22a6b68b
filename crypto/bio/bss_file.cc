// FILE streams: a standard-library FILE behind the stream interface.
// BIO_new_file opens a file by name, BIO_new_fp wraps a FILE the caller has;
// every _fp function of the library works through this type.
//
// Implementation notes: the stream never sets or clears retry flags.  Every
// path that would use the FILE first checks that one is attached, so a
// stream without a FILE answers with its failure values instead of handing
// stdio a null pointer; negative lengths never reach fread or fwrite.

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <morvane/bio.h>
#include <morvane/err.h>

#include "bio/internal.h"

namespace {

FILE* Fp(BIO* b) {
  return static_cast<FILE*>(b->ptr);
}

// Queues the system error of a failed fopen with the name and mode as data,
// then the stream library's error.
void FopenFailed(int func, const char* name, const char* mode) {
  int err = errno;
  SYSerr(SYS_F_FOPEN, err);
  ERR_add_error_data(5, "fopen('", name, "','", mode, "')");
  BIOerr(func, func == BIO_F_BIO_NEW_FILE && err == ENOENT ? BIO_R_NO_SUCH_FILE : ERR_R_SYS_LIB);
}

int file_new(BIO* b) {
  b->init = 0;
  b->num = 0;
  b->ptr = nullptr;
  b->flags = 0;
  return 1;
}

int file_free(BIO* b) {
  if (b == nullptr) return 0;
  if (b->shutdown) {
    if (b->init && b->ptr != nullptr) {
      fclose(Fp(b));
      b->ptr = nullptr;
      b->flags = 0;
    }
    b->init = 0;
  }
  return 1;
}

int file_read(BIO* b, char* out, int outl) {
  if (!b->init || out == nullptr || Fp(b) == nullptr || outl <= 0) return 0;
  int ret = static_cast<int>(fread(out, 1, static_cast<size_t>(outl), Fp(b)));
  if (ferror(Fp(b))) {
    SYSerr(SYS_F_FREAD, errno);
    BIOerr(BIO_F_FILE_READ, ERR_R_SYS_LIB);
    return -1;
  }
  return ret;
}

int file_write(BIO* b, const char* in, int inl) {
  if (!b->init || in == nullptr || Fp(b) == nullptr || inl <= 0) return 0;
  // One item of inl bytes: all or nothing.
  return fwrite(in, static_cast<size_t>(inl), 1, Fp(b)) == 1 ? inl : 0;
}

int file_puts(BIO* b, const char* str) {
  return file_write(b, str, static_cast<int>(strlen(str)));
}

// Up to the first newline (kept) or size - 1 bytes, then a terminator; the
// result counts every byte read, those after a zero byte too (as a memory
// stream's does).  A read error with nothing read is reported as file_read
// reports it.
int file_gets(BIO* b, char* buf, int size) {
  if (size <= 0) return 0;
  buf[0] = '\0';
  FILE* fp = Fp(b);
  if (fp == nullptr) return 0;
  int n = 0;
  int c = 0;
  flockfile(fp);
  while (n < size - 1 && (c = getc_unlocked(fp)) != EOF) {
    buf[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  const bool failed = n == 0 && c == EOF && ferror(fp);
  funlockfile(fp);
  buf[n] = '\0';
  if (failed) {
    SYSerr(SYS_F_FREAD, errno);
    BIOerr(BIO_F_FILE_READ, ERR_R_SYS_LIB);
    return -1;
  }
  return n;
}

// The fopen mode for the mode bits of BIO_C_SET_FILENAME, or null.
const char* ModeText(long bits) {
  if (bits & BIO_FP_APPEND) return (bits & BIO_FP_READ) ? "a+" : "a";
  if ((bits & BIO_FP_READ) && (bits & BIO_FP_WRITE)) return "r+";
  if (bits & BIO_FP_WRITE) return "w";
  if (bits & BIO_FP_READ) return "r";
  return nullptr;
}

long file_ctrl(BIO* b, int cmd, long num, void* ptr) {
  FILE* fp = Fp(b);
  switch (cmd) {
    case BIO_CTRL_RESET:
    case BIO_C_FILE_SEEK:
      return fp == nullptr ? -1 : fseek(fp, num, SEEK_SET);
    case BIO_CTRL_EOF:
      return fp == nullptr ? 1 : feof(fp);
    case BIO_CTRL_INFO:
    case BIO_C_FILE_TELL:
      return fp == nullptr ? -1 : ftell(fp);
    case BIO_C_SET_FILE_PTR:
      file_free(b);
      b->shutdown = static_cast<int>(num) & BIO_CLOSE;
      b->ptr = ptr;
      // Without a FILE the stream stays uninitialised.
      b->init = ptr != nullptr;
      return ptr != nullptr;
    case BIO_C_GET_FILE_PTR:
      if (ptr != nullptr) *static_cast<FILE**>(ptr) = fp;
      return 1;
    case BIO_C_SET_FILENAME: {
      file_free(b);
      b->shutdown = static_cast<int>(num) & BIO_CLOSE;
      const char* mode = ModeText(num);
      if (mode == nullptr) {
        BIOerr(BIO_F_FILE_CTRL, BIO_R_BAD_FOPEN_MODE);
        return 0;
      }
      const char* name = static_cast<const char*>(ptr);
      FILE* f = name == nullptr ? nullptr : fopen(name, mode);
      if (f == nullptr) {
        if (name == nullptr) errno = EINVAL;
        FopenFailed(BIO_F_FILE_CTRL, name, mode);
        return 0;
      }
      b->ptr = f;
      b->init = 1;
      return 1;
    }
    case BIO_CTRL_GET_CLOSE:
      return b->shutdown;
    case BIO_CTRL_SET_CLOSE:
      b->shutdown = static_cast<int>(num);
      return 1;
    case BIO_CTRL_FLUSH:
      if (fp == nullptr) return 0;
      fflush(fp);
      return 1;
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

constinit BIO_METHOD methods_filep = {
    BIO_TYPE_FILE, "FILE pointer", file_write, file_read, file_puts,
    file_gets,     file_ctrl,      file_new,   file_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_file(void) {
  return &methods_filep;
}

/* see morvane/bio.h */
BIO* BIO_new_file(const char* filename, const char* mode) {
  if (filename == nullptr || mode == nullptr) {
    BIOerr(BIO_F_BIO_NEW_FILE, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  FILE* fp = fopen(filename, mode);
  if (fp == nullptr) {
    FopenFailed(BIO_F_BIO_NEW_FILE, filename, mode);
    return nullptr;
  }
  BIO* ret = BIO_new(BIO_s_file());
  if (ret == nullptr) {
    fclose(fp);
    return nullptr;
  }
  BIO_ctrl(ret, BIO_C_SET_FILE_PTR, BIO_CLOSE, fp);
  return ret;
}

/* see morvane/bio.h */
BIO* BIO_new_fp(FILE* stream, int close_flag) {
  BIO* ret = BIO_new(BIO_s_file());
  if (ret == nullptr) return nullptr;
  BIO_ctrl(ret, BIO_C_SET_FILE_PTR, close_flag, stream);
  return ret;
}
