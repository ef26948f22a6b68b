// The library's default places: the directory that holds the default
// configuration file.

#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

/* see morvane/x509.h */
const char* X509_get_default_cert_area(void) {
  return "/usr/local/ssl";
}

/* see morvane/x509_vfy.h */
const char* X509_get_default_cert_dir(void) {
  return "/usr/local/ssl/certs";
}

const char* X509_get_default_cert_file(void) {
  return "/usr/local/ssl/cert.pem";
}

const char* X509_get_default_private_dir(void) {
  return "/usr/local/ssl/private";
}

const char* X509_get_default_cert_dir_env(void) {
  return "SSL_CERT_DIR";
}

const char* X509_get_default_cert_file_env(void) {
  return "SSL_CERT_FILE";
}
