// The simple pass-phrase readers over the default method, and their old
// names.

#include <morvane/crypto.h>
#include <morvane/ui.h>

namespace {

constexpr int kScratchSize = 1024;  // the verification entry of UI_UTIL_read_pw_string

}  // namespace

/* see morvane/ui.h */
int UI_UTIL_read_pw(char* buf, char* buff, int size, const char* prompt, int verify) {
  if (size < 1) return -1;
  UI* ui = UI_new();
  if (ui == nullptr) return -1;
  int ok = UI_add_input_string(ui, prompt, 0, buf, 0, size - 1);
  if (ok >= 0 && verify) ok = UI_add_verify_string(ui, prompt, 0, buff, 0, size - 1, buf);
  if (ok >= 0) ok = UI_process(ui);
  UI_free(ui);
  return ok > 0 ? 0 : ok;
}

int UI_UTIL_read_pw_string(char* buf, int length, const char* prompt, int verify) {
  char buff[kScratchSize];
  const int size = length > kScratchSize ? kScratchSize : length;
  const int ret = UI_UTIL_read_pw(buf, buff, size, prompt, verify);
  MORVANE_cleanse(buff, sizeof(buff));
  return ret;
}

int _qarn_old_des_read_pw(char* buf, char* buff, int size, const char* prompt, int verify) {
  return UI_UTIL_read_pw(buf, buff, size, prompt, verify);
}

int _qarn_old_des_read_pw_string(char* buf, int length, const char* prompt, int verify) {
  return UI_UTIL_read_pw_string(buf, length, prompt, verify);
}
