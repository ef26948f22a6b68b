// The digest filter: digests everything that passes through it, either way,
// and hands out the digest through BIO_gets.
//
// Implementation notes: the filter owns one EVP_MD_CTX; BIO_C_SET_MD_CTX may
// make it run a context of the caller's instead, which stays the caller's:
// the filter frees only the context it made.

#include <string.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "evp/internal.h"

namespace {

struct MdFilter {
  EVP_MD_CTX* cur;  // the context in use: `own`, or one the caller set
  EVP_MD_CTX own;
  bool given;  // the digest was handed out, and nothing passed since
};

BIO_METHOD* md_method();

MdFilter* state(BIO* b) {
  return static_cast<MdFilter*>(b->ptr);
}

int md_new(BIO* b) {
  auto* f = static_cast<MdFilter*>(MORVANE_malloc(sizeof(MdFilter)));
  if (f == nullptr) {
    BIOerr(BIO_F_BIO_NEW, ERR_R_MALLOC_FAILURE);
    return 0;
  }
  EVP_MD_CTX_init(&f->own);
  f->cur = &f->own;
  f->given = false;
  b->init = 0;
  b->ptr = f;
  b->flags = 0;
  return 1;
}

int md_free(BIO* b) {
  if (b == nullptr) return 0;
  if (MdFilter* f = state(b)) {
    EVP_MD_CTX_cleanup(&f->own);
    MORVANE_free(f);
  }
  b->ptr = nullptr;
  b->init = 0;
  b->flags = 0;
  return 1;
}

// Digests the `n` bytes that passed (n > 0); false when the digest fails,
// which fails the call (no retry).
bool digest_passed(BIO* b, MdFilter* f, const void* data, int n) {
  f->given = false;
  if (!b->init || EVP_DigestUpdate(f->cur, data, static_cast<size_t>(n)) > 0) return true;
  BIO_clear_retry_flags(b);
  return false;
}

int md_read(BIO* b, char* out, int outl) {
  MdFilter* f = state(b);
  if (out == nullptr || f == nullptr || b->next_bio == nullptr) return 0;
  const int ret = morvane::bio::PassOn(b, BIO_read(b->next_bio, out, outl));
  return ret > 0 && !digest_passed(b, f, out, ret) ? -1 : ret;
}

int md_write(BIO* b, const char* in, int inl) {
  MdFilter* f = state(b);
  if (in == nullptr || inl <= 0 || f == nullptr || b->next_bio == nullptr) return 0;
  const int ret = morvane::bio::PassOn(b, BIO_write(b->next_bio, in, inl));
  return ret > 0 && !digest_passed(b, f, in, ret) ? -1 : ret;
}

// The digest and a terminator after it, as a line read stores a line, when
// the size leaves room for both; -1, the digest running on, when it does
// not.  A digest handed out is not there again (0, as at an end) until
// more data passes or the digest is set again, so that a line reader over
// the filter ends.
int md_gets(BIO* b, char* buf, int size) {
  MdFilter* f = state(b);
  BIO_clear_retry_flags(b);
  if (f == nullptr || f->given) return 0;
  if (size <= EVP_MD_size(EVP_MD_CTX_md(f->cur))) return -1;
  unsigned int n = 0;
  if (EVP_DigestFinal_ex(f->cur, reinterpret_cast<unsigned char*>(buf), &n) <= 0) return -1;
  buf[n] = '\0';
  f->given = true;
  return static_cast<int>(n);
}

long md_ctrl(BIO* b, int cmd, long num, void* ptr) {
  MdFilter* f = state(b);
  if (f == nullptr) return 0;
  switch (cmd) {
    case BIO_CTRL_RESET:
      if (!b->init || EVP_DigestInit_ex(f->cur, f->cur->digest, nullptr) <= 0) return 0;
      f->given = false;
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
    case BIO_C_GET_MD:
      if (!b->init) return 0;
      *static_cast<const EVP_MD**>(ptr) = f->cur->digest;
      return 1;
    case BIO_C_GET_MD_CTX:
      *static_cast<EVP_MD_CTX**>(ptr) = f->cur;
      return 1;
    case BIO_C_SET_MD_CTX:
      if (!b->init || ptr == nullptr) return 0;
      f->cur = static_cast<EVP_MD_CTX*>(ptr);
      f->given = false;
      return 1;
    case BIO_C_SET_MD: {
      const int ret = EVP_DigestInit_ex(f->cur, static_cast<const EVP_MD*>(ptr), nullptr);
      if (ret > 0) {
        b->init = 1;
        f->given = false;
      }
      return ret;
    }
    case BIO_C_DO_STATE_MACHINE:
      return morvane::evp::forward_state_machine(b, cmd, num, ptr);
    case BIO_CTRL_DUP: {
      auto* dbio = static_cast<BIO*>(ptr);
      MdFilter* d = dbio != nullptr && dbio->method == md_method() ? state(dbio) : nullptr;
      if (d == nullptr) return 0;
      if (!b->init) return 1;  // nothing running to copy
      if (!EVP_MD_CTX_copy_ex(d->cur, f->cur)) return 0;
      d->given = f->given;
      dbio->init = 1;
      return 1;
    }
    default:
      return BIO_ctrl(b->next_bio, cmd, num, ptr);
  }
}

long md_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return morvane::evp::forward_callback_ctrl(b, cmd, fp);
}

constinit BIO_METHOD methods_md = {
    BIO_TYPE_MD, "message digest", md_write, md_read, nullptr,
    md_gets,     md_ctrl,          md_new,   md_free, md_callback_ctrl,
};

BIO_METHOD* md_method() {
  return &methods_md;
}

}  // namespace

/* see morvane/evp.h */
BIO_METHOD* BIO_f_md(void) {
  return &methods_md;
}
