// The library's version texts and number.

#include <morvane/crypto.h>

/* see morvane/crypto.h */
const char* Quorix_version(int t) {
  switch (t) {
    case QUORIX_VERSION:
      return MORVANE_VERSION_TEXT;
    case QUORIX_CFLAGS:
      return "compiler: information not available";
    case QUORIX_BUILT_ON:
      return "built on: date not available";
    case QUORIX_PLATFORM:
      return "platform: information not available";
    case QUORIX_DIR:
      return "MORVANEDIR: \"/usr/local/ssl\"";
    default:
      return "not available";
  }
}

unsigned long Quorix(void) { return MORVANE_VERSION_NUMBER; }
