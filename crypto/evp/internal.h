// Private shapes of the envelope shared by its sources.
#ifndef MORVANE_CRYPTO_EVP_INTERNAL_H
#define MORVANE_CRYPTO_EVP_INTERNAL_H

#include <string.h>

#include <morvane/bio.h>
#include <morvane/evp.h>

#include "bio/internal.h"

namespace morvane::evp {

// The length of a pass phrase given as (pass, passlen): 0 for a null pass,
// its string length for -1; false for another negative length.
bool pass_length(const char* pass, int passlen, int* out);

// Attaches "TYPE=" and the object's text (at most 79 characters), or
// "TYPE=NULL", to the error just queued.
void add_type_data(const ASN1_OBJECT* obj);

// ---- running digests ----

// Whether descriptions `a` and `b` run the same code over the same private
// data: the same init, update, final, copy and cleanup and the same
// ctx_size.  Only then may a running context of one go on as the other.
bool same_state(const EVP_MD* a, const EVP_MD* b);

// Gives the running context `ctx` the description `md` in place of its own,
// keeping the private data, when both run the same state (same_state): the
// way a SHA-1 digest becomes EVP_dss1's or EVP_ecdsa's for the key that
// signs it.  False, with `ctx` untouched, for any other pair and for an
// empty context, whose private data another description would misread.
bool retype_running(EVP_MD_CTX* ctx, const EVP_MD* md);

// Private data on the caller's stack instead of the heap, for a context that
// lives only within one call (EVP_Digest, HMAC()): a buffer of
// kLocalDataSize bytes holds the data of every built-in description (the
// largest, SHA-512's, is 224 bytes).
inline constexpr size_t kLocalDataSize = 256;

// Makes the empty context `ctx` look as if it already ran `type` over `buf`,
// a kept buffer (the reuse flag), so that EVP_DigestInit_ex with `type`
// starts on `buf` and a change of description (an engine's) leaves it alone;
// only where `impl` is null and `type` has no cleanup and fits.  Else `ctx`
// stays empty and the data goes to the heap as usual.
void seat_local(EVP_MD_CTX* ctx, const EVP_MD* type, ENGINE* impl, void* buf);

// EVP_MD_CTX_copy_ex(out, in), taking a short way when `out` already runs
// `in`'s description on its own private data, neither holds an engine and
// the description has no copy hook: the flags and the private data copied,
// nothing else to do.  HMAC copies its pads' states this way for every MAC.
int copy_running(EVP_MD_CTX* out, const EVP_MD_CTX* in);

// EVP_DigestInit_ex(ctx, type, NULL) for a caller that has just found no
// engine for `type` (ENGINE_get_digest_engine gave null): when `ctx` already
// runs `type` without an engine on its own data, only the flags and the
// description's init, the look-up and the checks being done; else
// EVP_DigestInit_ex itself.
int init_unengined(EVP_MD_CTX* ctx, const EVP_MD* type);

// Before the cleanup of a context given `buf` by seat_local: clears `buf`
// and forgets it when it is still the context's private data.
void unseat_local(EVP_MD_CTX* ctx, void* buf);

// Mode of a description (the low three flag bits).
inline unsigned long cipher_mode(const EVP_CIPHER* c) { return c->flags & EVP_CIPH_MODE; }

// ---- the filter streams (base64, cipher, digest, reliable) ----

// BIO_C_DO_STATE_MACHINE: passed on, the next stream's retry state copied.
inline long forward_state_machine(BIO* b, int cmd, long num, void* ptr) {
  BIO_clear_retry_flags(b);
  long ret = BIO_ctrl(b->next_bio, cmd, num, ptr);
  BIO_copy_next_retry(b);
  return ret;
}

// Output waiting in a filter's buffer: bytes [off, len) of `buf`.
struct Pending {
  unsigned char* buf;
  int& off;
  int& len;

  // Copies up to *outl waiting bytes to *out, advancing both; the count.
  // An emptied buffer starts again at 0.
  int deliver(char*& out, int& outl) const {
    int i = len - off;
    if (i > outl) i = outl;
    if (i <= 0) return 0;
    memcpy(out, buf + off, static_cast<size_t>(i));
    out += i;
    outl -= i;
    off += i;
    if (len == off) len = off = 0;
    return i;
  }

  // Writes the waiting bytes to the next stream of `b`; true when all went
  // (the buffer is then empty), else false with *result the next stream's
  // answer and its retry state copied to `b`.
  bool drain(BIO* b, int* result) const {
    while (len > off) {
      const int i = BIO_write(b->next_bio, buf + off, len - off);
      if (i <= 0) {
        BIO_copy_next_retry(b);
        *result = morvane::bio::RetryIsNoEnd(b, i);
        return false;
      }
      off += i;
    }
    len = off = 0;
    return true;
  }
};

// Callback controls go to the next stream (0 when there is none).
inline long forward_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  return b->next_bio != nullptr ? BIO_callback_ctrl(b->next_bio, cmd, fp) : 0;
}

}  // namespace morvane::evp

#endif  // MORVANE_CRYPTO_EVP_INTERNAL_H
