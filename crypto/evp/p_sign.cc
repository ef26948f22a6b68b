// Finishing a signature or a verification over a running digest: the key
// type is checked against the description, the running digest is copied and
// the copy finished, and the description's sign or verify function does the
// public-key work.
//
// Implementation notes: the caller's context is never finished, so signing
// twice from one running digest signs the same data.  A description with
// EVP_MD_FLAG_SVCTX gets the running copy itself and finishes it.

#include <morvane/err.h>
#include <morvane/evp.h>

#include "internal/wipe.h"

namespace {

// Whether the container's type is among the first four required types of
// the description (the list ends at its first 0).
bool accepts(const EVP_MD* md, const EVP_PKEY* pkey) {
  const int type = pkey != nullptr ? pkey->type : EVP_PKEY_NONE;
  for (int i = 0; i < 4 && md->required_pkey_type[i] != 0; i++)
    if (md->required_pkey_type[i] == type) return true;
  return false;
}

// A running copy of the caller's context, cleaned when it goes.
class RunningCopy {
 public:
  RunningCopy() { EVP_MD_CTX_init(&ctx_); }
  ~RunningCopy() { EVP_MD_CTX_cleanup(&ctx_); }
  RunningCopy(const RunningCopy&) = delete;
  RunningCopy& operator=(const RunningCopy&) = delete;
  bool copy_from(const EVP_MD_CTX* in) { return EVP_MD_CTX_copy_ex(&ctx_, in) == 1; }
  EVP_MD_CTX* get() { return &ctx_; }

 private:
  EVP_MD_CTX ctx_;
};

}  // namespace

/* see morvane/evp.h */
int EVP_SignFinal(EVP_MD_CTX* ctx, unsigned char* sigret, unsigned int* siglen, EVP_PKEY* pkey) {
  if (sigret == nullptr || siglen == nullptr) {
    EVPerr(EVP_F_EVP_SIGNFINAL, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  *siglen = 0;
  RunningCopy copy;
  const EVP_MD* md = EVP_MD_CTX_md(ctx);
  if (md == nullptr) {
    copy.copy_from(ctx);  // queues "input not initialized"
    return 0;
  }
  if (!accepts(md, pkey)) {
    EVPerr(EVP_F_EVP_SIGNFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE);
    return 0;
  }
  if (md->sign == nullptr) {
    EVPerr(EVP_F_EVP_SIGNFINAL, EVP_R_NO_SIGN_FUNCTION_CONFIGURED);
    return 0;
  }
  if (!copy.copy_from(ctx)) return 0;
  if (md->flags & EVP_MD_FLAG_SVCTX) {
    EVP_MD_SVCTX pair = {copy.get(), pkey->pkey.ptr};
    return md->sign(md->type, nullptr, static_cast<unsigned int>(-1), sigret, siglen, &pair);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  morvane::internal::Wiper wipe_digest(digest);
  unsigned int n = 0;
  if (!EVP_DigestFinal_ex(copy.get(), digest, &n)) return 0;
  return md->sign(md->type, digest, n, sigret, siglen, pkey->pkey.ptr);
}

/* see morvane/evp.h */
int EVP_VerifyFinal(EVP_MD_CTX* ctx, const unsigned char* sigbuf, unsigned int siglen,
                    EVP_PKEY* pkey) {
  RunningCopy copy;
  const EVP_MD* md = EVP_MD_CTX_md(ctx);
  if (md == nullptr) {
    copy.copy_from(ctx);  // queues "input not initialized"
    return -1;
  }
  if (!accepts(md, pkey)) {
    EVPerr(EVP_F_EVP_VERIFYFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE);
    return -1;
  }
  if (md->verify == nullptr) {
    EVPerr(EVP_F_EVP_VERIFYFINAL, EVP_R_NO_VERIFY_FUNCTION_CONFIGURED);
    return 0;
  }
  if (!copy.copy_from(ctx)) return -1;
  if (md->flags & EVP_MD_FLAG_SVCTX) {
    EVP_MD_SVCTX pair = {copy.get(), pkey->pkey.ptr};
    return md->verify(md->type, nullptr, static_cast<unsigned int>(-1), sigbuf, siglen, &pair);
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  if (!EVP_DigestFinal_ex(copy.get(), digest, &n)) return -1;
  return md->verify(md->type, digest, n, sigbuf, siglen, pkey->pkey.ptr);
}
