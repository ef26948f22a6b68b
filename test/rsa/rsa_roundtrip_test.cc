// Round trips: every padding's add then check over 10^4 random messages for
// each key size from 512 to 4096 bits (lengths at both limits included), and
// a few messages through the raw operations with every padding.

#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;

enum Scheme { kType1, kType2, kSslv23, kNone, kOaep, kX931, kPss };
const char* const kSchemeNames[] = {"Type1", "Type2", "SSLv23", "None", "OAEP", "X931", "PSS"};

// The longest message of a scheme for a block of k bytes.
int MaxLength(Scheme s, int k) {
  switch (s) {
    case kType1:
    case kType2:
    case kSslv23:
      return k - 11;
    case kNone:
      return k;
    case kOaep:
      return k - 42;
    case kX931:
      return k - 2;
    case kPss:
      return 0;
  }
  return 0;
}

class PaddingRoundTrip : public testing::TestWithParam<std::tuple<Scheme, int>> {};

TEST_P(PaddingRoundTrip, TenThousandMessages) {
  const auto [scheme, bits] = GetParam();
  Rsa key = MakeKey(TestKey(bits), "n");
  const int k = RSA_size(key.get());
  const int max = MaxLength(scheme, k);
  std::mt19937 gen(static_cast<unsigned>(bits * 10 + scheme));
  Bytes block(k), out(k), label = {'L'};
  for (int iter = 0; iter < 10000; iter++) {
    // The limits first, then random lengths.  (An X9.31 block needs a message:
    // its check finds no 0xBA in the bytes it scans otherwise.)
    const int min = scheme == kX931 ? 1 : 0;
    const int len = iter == 0   ? max
                    : iter == 1 ? min
                                : min + static_cast<int>(gen() % (max - min + 1));
    Bytes msg(len);
    for (auto& b : msg) b = static_cast<uint8_t>(gen());
    if (scheme == kNone && len < k) continue;
    // X9.31 writes 0x6B 0xBA for one byte of padding, which its check refuses.
    if (scheme == kX931 && len == k - 3) continue;
    if (scheme == kPss) {
      const Bytes mhash = Pseudo(20, static_cast<unsigned>(iter));
      const int hmax = k - (((bits - 1) & 7) == 0) - 22;
      const int slen = iter == 0 ? hmax : static_cast<int>(gen() % (hmax + 1));
      ASSERT_EQ(RSA_padding_add_PKCS1_PSS(key.get(), block.data(), mhash.data(), EVP_sha1(), slen),
                1);
      ASSERT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha1(), block.data(), slen), 1);
      ASSERT_EQ(RSA_verify_PKCS1_PSS(key.get(), mhash.data(), EVP_sha1(), block.data(),
                                     RSA_PSS_SALTLEN_MAX),
                1);
      continue;
    }
    int added = 0;
    switch (scheme) {
      case kType1:
        added = RSA_padding_add_PKCS1_type_1(block.data(), k, msg.data(), len);
        break;
      case kType2:
        added = RSA_padding_add_PKCS1_type_2(block.data(), k, msg.data(), len);
        break;
      case kSslv23:
        added = RSA_padding_add_SSLv23(block.data(), k, msg.data(), len);
        break;
      case kNone:
        added = RSA_padding_add_none(block.data(), k, msg.data(), len);
        break;
      case kOaep:
        added = RSA_padding_add_PKCS1_OAEP(block.data(), k, msg.data(), len, label.data(), 1);
        break;
      case kX931:
        added = RSA_padding_add_X931(block.data(), k, msg.data(), len);
        break;
      case kPss:
        break;
    }
    ASSERT_EQ(added, 1) << "length " << len;
    // The check gets the block as a raw operation gives it: no leading zeros.
    int skip = 0;
    while (skip < k && block[skip] == 0) skip++;
    const unsigned char* in = block.data() + skip;
    const int flen = k - skip;
    int got = -1;
    switch (scheme) {
      case kType1:
        got = RSA_padding_check_PKCS1_type_1(out.data(), k, in, flen, k);
        break;
      case kType2:
        got = RSA_padding_check_PKCS1_type_2(out.data(), k, in, flen, k);
        break;
      case kSslv23:  // refused by its own check: the add marks the rollback
        ASSERT_EQ(RSA_padding_check_SSLv23(out.data(), k, in, flen, k), -1);
        ASSERT_TRUE(morvane_test::ErrorsAre(
            {{ERR_LIB_RSA, RSA_F_RSA_PADDING_CHECK_SSLV23, RSA_R_SSLV3_ROLLBACK_ATTACK}}));
        got = RSA_padding_check_PKCS1_type_2(out.data(), k, in, flen, k);
        break;
      case kNone:
        got = RSA_padding_check_none(out.data(), k, in, flen, k);
        break;
      case kOaep:
        got = RSA_padding_check_PKCS1_OAEP(out.data(), k, in, flen, k, label.data(), 1);
        break;
      case kX931:
        got = RSA_padding_check_X931(out.data(), k, in, flen, k);
        break;
      case kPss:
        break;
    }
    ASSERT_EQ(got, len) << "length " << len;
    ASSERT_EQ(Bytes(out.begin(), out.begin() + len), msg) << "length " << len;
  }
  EXPECT_ERRORS({});
}

INSTANTIATE_TEST_SUITE_P(
    AllSchemesAndSizes, PaddingRoundTrip,
    testing::Combine(testing::Values(kType1, kType2, kSslv23, kNone, kOaep, kX931, kPss),
                     testing::Values(512, 520, 768, 1024, 1025, 1031, 1536, 2048, 3072, 4096)),
    [](const testing::TestParamInfo<PaddingRoundTrip::ParamType>& info) {
      return std::string(kSchemeNames[std::get<0>(info.param)]) + "_" +
             std::to_string(std::get<1>(info.param));
    });

// ---- through the raw operations --------------------------------------------------

class OperationRoundTrip : public testing::TestWithParam<int> {};

TEST_P(OperationRoundTrip, EveryPadding) {
  Rsa key = MakeKey(TestKey(GetParam()));
  const int k = RSA_size(key.get());
  Bytes ct(k), out(k);
  struct Way {
    int padding;
    bool sign;  // private encrypt, public decrypt
    int max;
  };
  const Way ways[] = {{RSA_PKCS1_PADDING, false, k - 11}, {RSA_SSLV23_PADDING, false, k - 11},
                      {RSA_NO_PADDING, false, k},         {RSA_PKCS1_OAEP_PADDING, false, k - 42},
                      {RSA_PKCS1_PADDING, true, k - 11},  {RSA_X931_PADDING, true, k - 2},
                      {RSA_NO_PADDING, true, k}};
  for (const Way& w : ways) {
    // X9.31 blocks start with 0x6B: the modulus must fill its top byte.
    if (w.padding == RSA_X931_PADDING && GetParam() % 8 != 0) continue;
    const int min = w.padding == RSA_X931_PADDING ? 1 : 0;
    std::vector<int> lengths = {min, w.max};
    if (GetParam() <= 2048) lengths.push_back(w.max / 2 + 1);
    for (int len : lengths) {
      if (w.padding == RSA_NO_PADDING) len = k;
      Bytes msg = Pseudo(static_cast<size_t>(len), static_cast<unsigned>(len + w.padding));
      if (w.padding == RSA_NO_PADDING) msg[0] = 0;  // below n
      const std::string what = "padding " + std::to_string(w.padding) + (w.sign ? " sign" : "") +
                               ", length " + std::to_string(len);
      if (w.sign) {
        ASSERT_EQ(RSA_private_encrypt(len, msg.data(), ct.data(), key.get(), w.padding), k) << what;
        const int got = RSA_public_decrypt(k, ct.data(), out.data(), key.get(), w.padding);
        ASSERT_EQ(got, len) << what;
      } else {
        ASSERT_EQ(RSA_public_encrypt(len, msg.data(), ct.data(), key.get(), w.padding), k) << what;
        const int got = RSA_private_decrypt(k, ct.data(), out.data(), key.get(), w.padding);
        if (w.padding == RSA_SSLV23_PADDING) {  // the check refuses its own add's mark
          ASSERT_EQ(got, -1) << what;
          ERR_clear_error();
          ASSERT_EQ(RSA_private_decrypt(k, ct.data(), out.data(), key.get(), RSA_PKCS1_PADDING),
                    len)
              << what;
        } else {
          ASSERT_EQ(got, len) << what;
        }
      }
      EXPECT_EQ(Bytes(out.begin(), out.begin() + len), msg) << what;
      EXPECT_ERRORS({});
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllSizes, OperationRoundTrip,
                         testing::Values(512, 520, 768, 1024, 1025, 1031, 1536, 2048, 3072, 4096));

}  // namespace
