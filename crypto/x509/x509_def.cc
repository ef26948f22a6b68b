// The library's default places: the directory that holds the default
// configuration file.

#include <morvane/x509.h>

/* see morvane/x509.h */
const char* X509_get_default_cert_area(void) {
  return "/usr/local/ssl";
}
