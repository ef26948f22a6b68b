// Every ECDSA signature of Wycheproof's ecdsa_secp256r1_sha256_test.json
// (the DER and BER mutations of SEQUENCE { r INTEGER, s INTEGER }) through a
// test item: each decodes or fails cleanly under the sanitizers, and each
// valid one is written back to exactly its octets.

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/asn1t.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

struct Sig {
  ASN1_INTEGER* r;
  ASN1_INTEGER* s;
};
ASN1_SEQUENCE(Sig) = {
    ASN1_SIMPLE(Sig, r, ASN1_INTEGER),
    ASN1_SIMPLE(Sig, s, ASN1_INTEGER),
} ASN1_SEQUENCE_END(Sig);

namespace {

TEST(Asn1Wycheproof, EcdsaSignaturesDecodeAndReencode) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/ecdsa_secp256r1_sha256_test.json");
  int total = 0, valid = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    SCOPED_TRACE(t.id);
    const morvane_test::Bytes der = morvane_test::FromHex(t.Get("sig"));
    const unsigned char* p = der.data();
    ASN1_VALUE* v = ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), &Sig_it);
    total++;
    if (t.Get("result") == "valid") {
      valid++;
      ASSERT_NE(nullptr, v);
      EXPECT_EQ(der.data() + der.size(), p);
      unsigned char* out = nullptr;
      const int n = ASN1_item_i2d(v, &out, &Sig_it);
      EXPECT_EQ(morvane_test::ToHex(der), morvane_test::ToHex(out, n > 0 ? n : 0));
      MORVANE_free(out);
    }
    ASN1_item_free(v, &Sig_it);
    ERR_clear_error();
  }
  EXPECT_EQ(484, total);
  EXPECT_EQ(174, valid);
}

}  // namespace
