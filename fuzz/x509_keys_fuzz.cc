// Fuzzes the hand-written decoders beside the X.509 templates: the first
// input octet picks d2i_X509_AUX (a certificate and its trust record),
// d2i_X509_PKEY (the legacy private-key record), d2i_PUBKEY,
// d2i_AutoPrivateKey or d2i_PublicKey (the next octet its type); the rest is
// the encoding.
//
// Checks: the legacy key-record reader that fails leaves the input pointer
// where it was; every decoder that succeeds moves it forward within the
// input (the key decoders may have moved it on a failure past the outer
// structure, so only their successes are checked); a
// certificate and record are written again by the measuring, the allocating
// and the caller-buffer forms with equal octets; the one-line subject fits
// any caller buffer; every value is freed, so the leak check sees anything
// left behind.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/x509.h>

namespace {

void CheckPosition(bool ok, const unsigned char* start, const unsigned char* p, size_t len) {
  if (ok)
    Check(p > start && p <= start + len, "success moves forward within the input");
  else
    Check(p == start, "failure leaves the input pointer");
}

void CertificateAndRecord(const unsigned char* der, size_t len, int room) {
  const unsigned char* p = der;
  X509* x = d2i_X509_AUX(nullptr, &p, static_cast<long>(len));
  if (x == nullptr) return;
  Check(p > der && p <= der + len, "the pair moves forward within the input");
  const int n = i2d_X509_AUX(x, nullptr);
  unsigned char* alloc = nullptr;
  Check(i2d_X509_AUX(x, &alloc) == n, "allocating and measuring agree");
  if (n > 0) {
    std::string buf(static_cast<size_t>(n), '\0');
    auto* q = reinterpret_cast<unsigned char*>(buf.data());
    Check(i2d_X509_AUX(x, &q) == n, "writing and measuring agree");
    Check(q == reinterpret_cast<unsigned char*>(buf.data()) + n, "the pointer ends after both");
    Check(memcmp(buf.data(), alloc, static_cast<size_t>(n)) == 0, "the same octets");
  }
  MORVANE_free(alloc);
  std::string text(static_cast<size_t>(room), '\x7f');
  char* got = X509_NAME_oneline(x->cert_info->subject, text.data(), room);
  Check(got == text.data() && strlen(got) < static_cast<size_t>(room), "the text fits its room");
  X509_free(x);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool ciphers = false;
  if (!ciphers) {
    Morvane_add_all_ciphers();
    ciphers = true;
  }
  FuzzInput in(data, size);
  const int which = in.ConsumeIntegral<uint8_t>() % 5;
  const int arg = in.ConsumeIntegral<uint8_t>();
  const std::string input = in.ConsumeBytesAsString(in.remaining_bytes());
  const auto* der = reinterpret_cast<const unsigned char*>(input.data());
  const long len = static_cast<long>(input.size());
  const unsigned char* p = der;
  switch (which) {
    case 0:
      CertificateAndRecord(der, input.size(), 1 + arg);
      break;
    case 1: {
      X509_PKEY* pk = d2i_X509_PKEY(nullptr, &p, len);
      CheckPosition(pk != nullptr, der, p, input.size());
      X509_PKEY_free(pk);
      break;
    }
    case 2: {
      EVP_PKEY* key = d2i_PUBKEY(nullptr, &p, len);
      if (key != nullptr) Check(p > der && p <= der + input.size(), "moves forward");
      EVP_PKEY_free(key);
      break;
    }
    case 3: {
      EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &p, len);
      if (key != nullptr) Check(p > der && p <= der + input.size(), "moves forward");
      EVP_PKEY_free(key);
      break;
    }
    default: {
      static constexpr int kTypes[] = {EVP_PKEY_RSA, EVP_PKEY_DSA, EVP_PKEY_EC, EVP_PKEY_DH};
      EVP_PKEY* key = d2i_PublicKey(kTypes[arg % 4], nullptr, &p, len);
      if (key != nullptr) Check(p > der && p <= der + input.size(), "moves forward");
      EVP_PKEY_free(key);
      break;
    }
  }
  ERR_clear_error();
  return 0;
}
