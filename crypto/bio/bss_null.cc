// The null stream: a sink that takes and drops everything and a source that
// is always at its end.

#include <cstring>

#include <morvane/bio.h>
#include <morvane/err.h>

namespace {

int null_new(BIO* b) {
  b->init = 1;
  b->num = 0;
  b->ptr = nullptr;
  return 1;
}

int null_free(BIO* b) {
  return b == nullptr ? 0 : 1;
}
int null_read(BIO*, char*, int) {
  return 0;
}
int null_write(BIO*, const char*, int inl) {
  // A negative length is no count of bytes taken.
  if (inl < 0) {
    BIOerr(BIO_F_BIO_WRITE, BIO_R_INVALID_ARGUMENT);
    return -1;
  }
  return inl;
}
int null_puts(BIO*, const char* str) {
  return str == nullptr ? 0 : static_cast<int>(strlen(str));
}
int null_gets(BIO*, char*, int) {
  return 0;
}

long null_ctrl(BIO*, int cmd, long, void*) {
  switch (cmd) {
    case BIO_CTRL_RESET:
    case BIO_CTRL_EOF:
    case BIO_CTRL_SET:
    case BIO_CTRL_SET_CLOSE:
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    default:
      return 0;
  }
}

constinit BIO_METHOD null_method = {
    BIO_TYPE_NULL, "NULL",    null_write, null_read, null_puts,
    null_gets,     null_ctrl, null_new,   null_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_null(void) {
  return &null_method;
}
