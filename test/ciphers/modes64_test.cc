// The shared 64-bit block modes (modes64_suite.h) over Blowfish, CAST5, IDEA
// and RC2.  Their known answers share Schneier's key, IV and 29-byte message
// ("7654321 Now is the time for " and a zero byte).

#include <gtest/gtest.h>
#include <morvane/blowfish.h>
#include <morvane/cast.h>
#include <morvane/idea.h>
#include <morvane/rc2.h>

#include "modes64_suite.h"

namespace {

using modes64_test::Bytes;

struct SchneierText {
  static constexpr size_t kKeyBytes = 16;
  static constexpr bool kCheckOffsets = true;
  static constexpr const char* kKey = "0123456789ABCDEFF0E1D2C3B4A59687";
  static constexpr const char* kIv = "FEDCBA9876543210";
  static constexpr const char* kMessage =
      "37363534333231204E6F77206973207468652074696D6520666F722000";
};

// Binds a cipher's four mode functions to a key member `k`.
#define MODES64_FUNCTIONS(ECB, CBC, CFB, OFB, EK, DK)                                        \
  void Ecb(const uint8_t* in, uint8_t* out, int enc) const { ECB(in, out, enc ? EK : DK, enc); } \
  void Cbc(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int enc) const {            \
    CBC(in, out, n, enc ? EK : DK, iv, enc);                                                  \
  }                                                                                           \
  void Cfb(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num, int enc) const {  \
    CFB(in, out, n, EK, iv, num, enc);                                                        \
  }                                                                                           \
  void Ofb(const uint8_t* in, uint8_t* out, long n, uint8_t* iv, int* num) const {           \
    OFB(in, out, n, EK, iv, num);                                                             \
  }

struct Blowfish : SchneierText {
  static constexpr const char* kName = "Blowfish";
  // Schneier, Blowfish test vectors (vectors.txt): the chaining mode examples.
  static constexpr const char* kCbc =
      "6B77B4D63006DEE605B156E27403979358DEB9E7154616D959F1652BD5FF92CC";
  static constexpr const char* kCfb = "E73214A2822139CAF26ECF6D2EB9E76E3DA3DE04D1517200519D57A6C3";
  static constexpr const char* kOfb = "E73214A2822139CA62B343CC5B65587310DD908D0C241B2263C2CF80DA";
  explicit Blowfish(const Bytes& key) { BF_set_key(&k, static_cast<int>(key.size()), key.data()); }
  MODES64_FUNCTIONS(BF_ecb_encrypt, BF_cbc_encrypt, BF_cfb64_encrypt, BF_ofb64_encrypt, &k, &k)
  BF_KEY k;
};

struct Cast : SchneierText {
  static constexpr const char* kName = "Cast";
  // Computed with libgcrypt 1.10 (CAST5; CBC over the message zero-padded).
  static constexpr const char* kCbc =
      "5616F7BC3AF7868D8C324CC8A26FE75AA4CED5314FC12FC0757C4897461032D8";
  static constexpr const char* kCfb = "5436CBBAC0AC7EDD396C53F4C53C3524369E81CD5E317D6AC9630AD279";
  static constexpr const char* kOfb = "5436CBBAC0AC7EDDB01087339D836DD6CE6C651B02D6A78FFF966810F6";
  explicit Cast(const Bytes& key) { CAST_set_key(&k, static_cast<int>(key.size()), key.data()); }
  MODES64_FUNCTIONS(CAST_ecb_encrypt, CAST_cbc_encrypt, CAST_cfb64_encrypt, CAST_ofb64_encrypt,
                    &k, &k)
  CAST_KEY k;
};

// IDEA picks its direction by schedule: decryption runs on the derived one.
void IdeaEcb(const uint8_t* in, uint8_t* out, const IDEA_KEY_SCHEDULE* k, int) {
  idea_ecb_encrypt(in, out, k);
}
struct Idea : SchneierText {
  static constexpr const char* kName = "Idea";
  // Computed with libgcrypt 1.10 (IDEA; CBC over the message zero-padded).
  static constexpr const char* kCbc =
      "34775351E5077B8F77B163CC714844FCBD55DE3E515A6D3C4031F59CEBCB7F02";
  static constexpr const char* kCfb = "7FF7A989C1BF2CDD8517C76DAB400948726C2208FCDA64DDEDA6823122";
  static constexpr const char* kOfb = "7FF7A989C1BF2CDDA97CF5245A76FE6E1ECFCF00DD3B709B8BED434477";
  explicit Idea(const Bytes& key) {
    idea_set_encrypt_key(key.data(), &ek);
    idea_set_decrypt_key(&ek, &dk);
  }
  MODES64_FUNCTIONS(IdeaEcb, idea_cbc_encrypt, idea_cfb64_encrypt, idea_ofb64_encrypt, &ek, &dk)
  IDEA_KEY_SCHEDULE ek, dk;
};

// RC2 with 128 effective bits; its blocks are read little-endian.
struct Rc2 : SchneierText {
  static constexpr const char* kName = "Rc2";
  // Computed with libgcrypt 1.10 (RFC2268_128; CBC over the message zero-padded).
  static constexpr const char* kCbc =
      "791D4237313D820C251DDB05B68ACB79641B352BB8676D1107D071827B5FAEC3";
  static constexpr const char* kCfb = "0E62D29A40A7319EDC4B15093E85087791059A259463D5C2A2903F20DB";
  static constexpr const char* kOfb = "0E62D29A40A7319EA72B553118C65C694BB53E0E6917D53CAE6171D7F1";
  explicit Rc2(const Bytes& key) { RC2_set_key(&k, static_cast<int>(key.size()), key.data(), 128); }
  MODES64_FUNCTIONS(RC2_ecb_encrypt, RC2_cbc_encrypt, RC2_cfb64_encrypt, RC2_ofb64_encrypt, &k, &k)
  RC2_KEY k;
};

}  // namespace

namespace modes64_test {
using Ciphers = ::testing::Types<Blowfish, Cast, Idea, Rc2>;
INSTANTIATE_TYPED_TEST_SUITE_P(Ciphers, Modes64, Ciphers, ::TypeNames);
}  // namespace modes64_test
