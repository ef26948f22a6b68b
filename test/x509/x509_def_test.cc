// The library's default places.

#include <gtest/gtest.h>
#include <morvane/x509.h>

namespace {

TEST(X509Defaults, CertificateArea) {
  EXPECT_STREQ(X509_get_default_cert_area(), "/usr/local/ssl");
}

}  // namespace
