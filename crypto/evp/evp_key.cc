// Keys from pass phrases the legacy way (EVP_BytesToKey, as PEM encryption
// uses it), the stored pass-phrase prompt and the pass-phrase reader over
// the prompt interface.
//
// Implementation notes: the prompt buffer is process-wide and unlocked, set
// before threads use it.  The prompt interface writes an answer and its
// terminating zero, so a buffer of `length` bytes takes length - 1
// characters.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/ui.h>

#include "internal/wipe.h"

namespace {

// The stored prompt: at most 79 characters and a zero; empty by default.
constexpr size_t kPromptSize = 80;
constinit char g_prompt[kPromptSize] = {};

// The longest answer EVP_read_pw_string asks for (the verification entry's
// local buffer holds it and its zero).
constexpr int kMaxAnswer = 1023;

// One digest pass of EVP_BytesToKey: D = H(previous ‖ data ‖ salt), then
// count - 1 more digests of D.  False when a digest step fails.
bool derive_pass(EVP_MD_CTX* c, const EVP_MD* md, const unsigned char* prev, unsigned int prev_len,
                 const unsigned char* data, size_t datal, const unsigned char* salt, int count,
                 unsigned char* out, unsigned int* out_len) {
  if (!EVP_DigestInit_ex(c, md, nullptr) || (prev_len != 0 && !EVP_DigestUpdate(c, prev, prev_len)) ||
      !EVP_DigestUpdate(c, data, datal) ||
      (salt != nullptr && !EVP_DigestUpdate(c, salt, PKCS5_SALT_LEN)) ||
      !EVP_DigestFinal_ex(c, out, out_len))
    return false;
  for (int i = 1; i < count; i++) {
    if (!EVP_DigestInit_ex(c, md, nullptr) || !EVP_DigestUpdate(c, out, *out_len) ||
        !EVP_DigestFinal_ex(c, out, out_len))
      return false;
  }
  return true;
}

}  // namespace

/* see morvane/evp.h */
int EVP_BytesToKey(const EVP_CIPHER* type, const EVP_MD* md, const unsigned char* salt,
                   const unsigned char* data, int datal, int count, unsigned char* key,
                   unsigned char* iv) {
  if (type == nullptr || md == nullptr) {
    EVPerr(0, ERR_R_PASSED_NULL_PARAMETER);
    return 0;
  }
  int nkey = EVP_CIPHER_key_length(type);
  int niv = EVP_CIPHER_iv_length(type);
  if (nkey > EVP_MAX_KEY_LENGTH) MorvaneDie(__FILE__, __LINE__, "nkey <= EVP_MAX_KEY_LENGTH");
  if (niv > EVP_MAX_IV_LENGTH) MorvaneDie(__FILE__, __LINE__, "niv <= EVP_MAX_IV_LENGTH");
  if (data == nullptr) return nkey;
  // A digest without output would never fill the key.
  if (datal < 0 || EVP_MD_size(md) <= 0) {
    EVPerr(0, EVP_R_INVALID_KEY_LENGTH);
    return 0;
  }
  EVP_MD_CTX c;
  EVP_MD_CTX_init(&c);
  unsigned char buf[EVP_MAX_MD_SIZE];
  morvane::internal::Wiper w(buf);
  unsigned int mds = 0;
  bool ok;
  do {
    ok = derive_pass(&c, md, buf, mds, data, static_cast<size_t>(datal), salt, count, buf, &mds) &&
         mds != 0;
    unsigned int i = 0;
    // Bytes of this pass go to the key first, then to the IV; the rest is
    // dropped.
    for (; ok && nkey > 0 && i < mds; i++, nkey--)
      if (key != nullptr) *key++ = buf[i];
    for (; ok && niv > 0 && i < mds; i++, niv--)
      if (iv != nullptr) *iv++ = buf[i];
  } while (ok && (nkey > 0 || niv > 0));
  EVP_MD_CTX_cleanup(&c);
  return ok ? EVP_CIPHER_key_length(type) : 0;
}

/* see morvane/evp.h */
void EVP_set_pw_prompt(const char* prompt) {
  if (prompt == nullptr) {
    g_prompt[0] = '\0';
    return;
  }
  strncpy(g_prompt, prompt, kPromptSize - 1);
  g_prompt[kPromptSize - 1] = '\0';
}

/* see morvane/evp.h */
char* EVP_get_pw_prompt(void) {
  return g_prompt[0] == '\0' ? nullptr : g_prompt;
}

/* see morvane/evp.h */
int EVP_read_pw_string(char* buf, int length, const char* prompt, int verify) {
  if (buf == nullptr || length < 1) return -1;
  if (prompt == nullptr && g_prompt[0] != '\0') prompt = g_prompt;
  // The answer and its zero fit in `length` bytes.
  const int max = length - 1 < kMaxAnswer ? length - 1 : kMaxAnswer;
  char check[kMaxAnswer + 1];
  morvane::internal::Wiper w(check);
  UI* ui = UI_new();
  if (ui == nullptr) return -1;
  int ret = UI_add_input_string(ui, prompt, 0, buf, 0, max);
  if (ret >= 0 && verify) ret = UI_add_verify_string(ui, prompt, 0, check, 0, max, buf);
  if (ret >= 0) ret = UI_process(ui);
  UI_free(ui);
  return ret;
}
