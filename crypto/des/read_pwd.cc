// DES keys from pass phrases read through the prompt interface: the phrase
// (and, when asked, its second entry) goes into stack buffers that are wiped
// on every return, and the key is made with the string-to-key functions.

#include <string.h>

#include <morvane/crypto.h>
#include <morvane/des.h>
#include <morvane/ui.h>

namespace {

constexpr int kBufSize = 1024;  // at most 1023 characters and the NUL

// Reads a pass phrase into `buf` (and its second entry into `buff`); hands
// the phrase to `make` only when the prompt succeeded.  Returns the prompt's
// result: 0 on success, negative otherwise.
template <class Make>
int with_pass_phrase(const char* prompt, int verify, Make make) {
  // Empty until an answer is stored: a prompt method that reports success
  // without answering yields the key of the empty text, never stack bytes.
  char buf[kBufSize] = {};
  char buff[kBufSize] = {};
  const int ok = UI_UTIL_read_pw(buf, buff, kBufSize, prompt, verify);
  if (ok == 0) make(buf);
  MORVANE_cleanse(buf, sizeof(buf));
  MORVANE_cleanse(buff, sizeof(buff));
  return ok;
}

}  // namespace

/* see morvane/des.h */
int DES_read_password(DES_cblock* key, const char* prompt, int verify) {
  return with_pass_phrase(prompt, verify, [key](const char* s) { DES_string_to_key(s, key); });
}

int DES_read_2passwords(DES_cblock* key1, DES_cblock* key2, const char* prompt, int verify) {
  return with_pass_phrase(prompt, verify,
                          [key1, key2](const char* s) { DES_string_to_2keys(s, key1, key2); });
}
