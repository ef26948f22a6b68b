// Fuzzes S/MIME text carrying PKCS#7: SMIME_read_PKCS7 with the detached
// content stream requested, then PKCS7_verify of what was read (signatures
// only) over that stream.
//
// Checks: a content stream comes only with a message; a message read
// encodes.

#include "fuzz_check.h"

#include <cstdint>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs7.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool loaded = [] {
    Morvane_add_all_digests();
    Morvane_add_all_ciphers();
    return true;
  }();
  (void)loaded;
  BIO* in = BIO_new_mem_buf(const_cast<uint8_t*>(data), static_cast<int>(size));
  Check(in != nullptr, "a source");
  BIO* cont = nullptr;
  PKCS7* p7 = SMIME_read_PKCS7(in, &cont);
  Check(p7 != nullptr || cont == nullptr, "content only with a message");
  if (p7 != nullptr) {
    unsigned char* der = nullptr;
    Check(i2d_PKCS7(p7, &der) > 0, "a message read encodes");
    MORVANE_free(der);
    BIO* out = BIO_new(BIO_s_mem());
    PKCS7_verify(p7, nullptr, nullptr, cont, out, PKCS7_FLAG_NO_VERIFY);
    BIO_free(out);
    PKCS7_free(p7);
  }
  BIO_free(cont);
  BIO_free(in);
  ERR_clear_error();
  return 0;
}
