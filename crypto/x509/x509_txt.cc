// The texts of the verification error codes.

#include <stdio.h>

#include <morvane/x509_vfy.h>

namespace {

constexpr const char* kTexts[] = {
    "ok",                                                  // 0
    nullptr,                                               // 1
    "unable to get issuer certificate",                    // 2
    "unable to get certificate CRL",                       // 3
    "unable to decrypt certificate's signature",           // 4
    "unable to decrypt CRL's signature",                   // 5
    "unable to decode issuer public key",                  // 6
    "certificate signature failure",                       // 7
    "CRL signature failure",                               // 8
    "certificate is not yet valid",                        // 9
    "certificate has expired",                             // 10
    "CRL is not yet valid",                                // 11
    "CRL has expired",                                     // 12
    "format error in certificate's notBefore field",       // 13
    "format error in certificate's notAfter field",        // 14
    "format error in CRL's lastUpdate field",              // 15
    "format error in CRL's nextUpdate field",              // 16
    "out of memory",                                       // 17
    "self signed certificate",                             // 18
    "self signed certificate in certificate chain",        // 19
    "unable to get local issuer certificate",              // 20
    "unable to verify the first certificate",              // 21
    "certificate chain too long",                          // 22
    "certificate revoked",                                 // 23
    "invalid CA certificate",                              // 24
    "path length constraint exceeded",                     // 25
    "unsupported certificate purpose",                     // 26
    "certificate not trusted",                             // 27
    "certificate rejected",                                // 28
    "subject issuer mismatch",                             // 29
    "authority and subject key identifier mismatch",       // 30
    "authority and issuer serial number mismatch",         // 31
    "key usage does not include certificate signing",      // 32
    "unable to get CRL issuer certificate",                // 33
    "unhandled critical extension",                        // 34
    "key usage does not include CRL signing",              // 35
    "unhandled critical CRL extension",                    // 36
    "invalid non-CA certificate (has CA markings)",        // 37
    "proxy path length constraint exceeded",               // 38
    "key usage does not include digital signature",        // 39
    "proxy certificates not allowed, please set the appropriate flag",  // 40
    "invalid or inconsistent certificate extension",       // 41
    "invalid or inconsistent certificate policy extension",  // 42
    "no explicit policy",                                  // 43
    "RFC 3779 resource not subset of parent's resources",  // 44
    nullptr,                                               // 45
    "proxy certificate subject is not its issuer's subject plus one CN",  // 46
};

// The text of a code without one; overwritten by the next such call.
constinit char unknown_text[100];

}  // namespace

const char* X509_verify_cert_error_string(long n) {
  constexpr long kCount = static_cast<long>(sizeof(kTexts) / sizeof(kTexts[0]));
  if (n >= 0 && n < kCount && kTexts[n] != nullptr) return kTexts[n];
  if (n == X509_V_ERR_APPLICATION_VERIFICATION) return "application verification failure";
  snprintf(unknown_text, sizeof(unknown_text), "error number %ld", n);
  return unknown_text;
}
