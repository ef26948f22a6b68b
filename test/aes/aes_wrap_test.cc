// AES key wrap: RFC 3394 section 4, the NIST SP 800-38F KW response files
// (KW-AE and KW-AD with the forward cipher), Project Wycheproof's
// aes_wrap_test.json, bad lengths and integrity failures.

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "aes_test_modes.h"
#include "test_support.h"

namespace {

using aes_test::Bytes;
using aes_test::FromHex;
using aes_test::ToHex;

struct WrapVector {
  const char* source;
  const char* kek;
  const char* data;
  const char* wrapped;
};

// RFC 3394, section 4.1 to 4.6.
const WrapVector kRfc3394[] = {
    {"4.1", "000102030405060708090a0b0c0d0e0f", "00112233445566778899aabbccddeeff",
     "1fa68b0a8112b447aef34bd8fb5a7b829d3e862371d2cfe5"},
    {"4.2", "000102030405060708090a0b0c0d0e0f1011121314151617", "00112233445566778899aabbccddeeff",
     "96778b25ae6ca435f92b5b97c050aed2468ab8a17ad84e5d"},
    {"4.3", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff", "64e8c3f9ce0f5ba263e9777905818a2a93c8191e7d6e8ae7"},
    {"4.4", "000102030405060708090a0b0c0d0e0f1011121314151617",
     "00112233445566778899aabbccddeeff0001020304050607",
     "031d33264e15d33268f24ec260743edce1c6c7ddee725a936ba814915c6762d2"},
    {"4.5", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff0001020304050607",
     "a8f9bc1612c68b3ff6e6f4fbe30e71e4769c8b80a32cb8958cd5d17d6b254da1"},
    {"4.6", "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
     "00112233445566778899aabbccddeeff000102030405060708090a0b0c0d0e0f",
     "28c9f404c4b810f4cbccb35cfb87f8263f5786e2d80ed326cbc7f0e71a99f43bfb988b9b7a02dd21"},
};

const uint8_t kDefaultIv[8] = {0xa6, 0xa6, 0xa6, 0xa6, 0xa6, 0xa6, 0xa6, 0xa6};

// Wraps `data` under `kek` with `iv` (null: the default); checks the result
// length.
Bytes Wrap(const Bytes& kek, const uint8_t* iv, const Bytes& data) {
  AES_KEY k = aes_test::Schedule(kek, false);
  Bytes out(data.size() + 8);
  EXPECT_EQ(AES_wrap_key(&k, iv, out.data(), data.data(), static_cast<unsigned>(data.size())),
            static_cast<int>(out.size()));
  return out;
}

// Unwraps; returns the result code and leaves the output in `out`.
int Unwrap(const Bytes& kek, const uint8_t* iv, const Bytes& wrapped, Bytes* out) {
  AES_KEY k = aes_test::Schedule(kek, true);
  out->assign(wrapped.size() < 8 ? 0 : wrapped.size() - 8, 0x55);
  return AES_unwrap_key(&k, iv, out->data(), wrapped.data(), static_cast<unsigned>(wrapped.size()));
}

TEST(AesWrap, Rfc3394Section4) {
  for (const auto& v : kRfc3394) {
    SCOPED_TRACE(v.source);
    const Bytes kek = FromHex(v.kek), data = FromHex(v.data);
    EXPECT_EQ(ToHex(Wrap(kek, nullptr, data)), v.wrapped);
    EXPECT_EQ(ToHex(Wrap(kek, kDefaultIv, data)), v.wrapped);
    Bytes out;
    EXPECT_EQ(Unwrap(kek, nullptr, FromHex(v.wrapped), &out), static_cast<int>(data.size()));
    EXPECT_EQ(ToHex(out), v.data);
  }
}

// The output may overlap the input: in place, and with the key data already
// sitting after the 8-byte integrity value.
TEST(AesWrap, OverlappingBuffers) {
  const auto& v = kRfc3394[5];
  const Bytes kek = FromHex(v.kek), data = FromHex(v.data);
  AES_KEY ek = aes_test::Schedule(kek, false), dk = aes_test::Schedule(kek, true);
  uint8_t buf[48];
  memcpy(buf, data.data(), 32);
  ASSERT_EQ(AES_wrap_key(&ek, nullptr, buf, buf, 32), 40);
  EXPECT_EQ(ToHex(buf, 40), v.wrapped);
  ASSERT_EQ(AES_unwrap_key(&dk, nullptr, buf, buf, 40), 32);
  EXPECT_EQ(ToHex(buf, 32), v.data);
  memcpy(buf + 8, data.data(), 32);
  ASSERT_EQ(AES_wrap_key(&ek, nullptr, buf, buf + 8, 32), 40);
  EXPECT_EQ(ToHex(buf, 40), v.wrapped);
  ASSERT_EQ(AES_unwrap_key(&dk, nullptr, buf + 8, buf, 40), 32);
  EXPECT_EQ(ToHex(buf + 8, 32), v.data);
}

TEST(AesWrap, BadLengths) {
  const Bytes kek = FromHex(kRfc3394[0].kek);
  AES_KEY ek = aes_test::Schedule(kek, false), dk = aes_test::Schedule(kek, true);
  uint8_t in[64] = {}, out[72];
  for (unsigned len : {0u, 1u, 4u, 7u, 12u, 20u, 63u}) {
    memset(out, 0x77, sizeof out);
    EXPECT_EQ(AES_wrap_key(&ek, nullptr, out, in, len), -1) << len;
    EXPECT_EQ(out[0], 0x77);
  }
  for (unsigned len : {0u, 8u, 15u, 20u, 23u, 33u}) {
    memset(out, 0x77, sizeof out);
    EXPECT_EQ(AES_unwrap_key(&dk, nullptr, out, in, len), -1) << len;
    EXPECT_EQ(out[0], 0x77);
  }
  // Results that would not fit the int return value are refused.
  EXPECT_EQ(AES_wrap_key(&ek, nullptr, out, in, 0xfffffff8u), -1);
  EXPECT_EQ(AES_wrap_key(&ek, nullptr, out, in, 0x7ffffff8u), -1);
  EXPECT_EQ(AES_unwrap_key(&dk, nullptr, out, in, 0xfffffff8u), -1);
}

// One 8-byte block wraps into 16 bytes with the same six-pass process, and
// unwraps again.
TEST(AesWrap, SingleBlock) {
  const Bytes kek = FromHex(kRfc3394[0].kek), data = FromHex("0011223344556677");
  const Bytes wrapped = Wrap(kek, nullptr, data);
  ASSERT_EQ(wrapped.size(), 16u);
  Bytes out;
  EXPECT_EQ(Unwrap(kek, nullptr, wrapped, &out), 8);
  EXPECT_EQ(ToHex(out), ToHex(data));
}

// A wrong initial value, or a changed byte anywhere, fails the integrity
// check: 0, and no plaintext is left in the output.
TEST(AesWrap, IntegrityFailureWipesOutput) {
  const auto& v = kRfc3394[3];
  const Bytes kek = FromHex(v.kek), data = FromHex(v.data);
  const uint8_t other_iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes wrapped = Wrap(kek, other_iv, data);
  Bytes out;
  EXPECT_EQ(Unwrap(kek, other_iv, wrapped, &out), static_cast<int>(data.size()));
  EXPECT_EQ(ToHex(out), v.data);
  EXPECT_EQ(Unwrap(kek, nullptr, wrapped, &out), 0);
  EXPECT_EQ(out.size(), data.size());
  for (size_t i = 0; i + 8 <= out.size(); i += 8)
    EXPECT_NE(ToHex(out.data() + i, 8), ToHex(data.data() + i, 8)) << i;
  for (size_t i = 0; i < 32; i++) {
    Bytes bad = FromHex(v.wrapped);
    bad[i] ^= 0x01;
    EXPECT_EQ(Unwrap(kek, nullptr, bad, &out), 0) << i;
  }
}

// NIST SP 800-38F KW with AES as the forward cipher and the default initial
// value: every file of KW-AE (wrap) and KW-AD (unwrap, some records FAIL)
// applies.  The _inv files wrap with the inverse cipher and do not.
TEST(AesWrap, NistKwAuthenticatedEncryption) {
  for (const char* bits : {"128", "192", "256"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path,
                                std::string("nist-cavp/mac/kwtestvectors/KW_AE_") + bits + ".txt");
    const auto records = morvane_test::ReadRsp(path);
    ASSERT_FALSE(records.empty());
    for (const auto& r : records) {
      SCOPED_TRACE(testing::Message() << path << " COUNT " << r.Get("COUNT"));
      const Bytes kek = FromHex(r.Get("K")), p = FromHex(r.Get("P"));
      ASSERT_EQ(ToHex(Wrap(kek, nullptr, p)), r.Get("C"));
    }
  }
}

TEST(AesWrap, NistKwAuthenticatedDecryption) {
  for (const char* bits : {"128", "192", "256"}) {
    MORVANE_VECTOR_PATH_OR_SKIP(path,
                                std::string("nist-cavp/mac/kwtestvectors/KW_AD_") + bits + ".txt");
    const auto records = morvane_test::ReadRsp(path);
    ASSERT_FALSE(records.empty());
    int failures = 0;
    for (const auto& r : records) {
      SCOPED_TRACE(testing::Message() << path << " COUNT " << r.Get("COUNT"));
      const Bytes kek = FromHex(r.Get("K")), c = FromHex(r.Get("C"));
      Bytes out;
      if (r.Has("FAIL")) {
        failures++;
        ASSERT_EQ(Unwrap(kek, nullptr, c, &out), 0);
      } else {
        ASSERT_EQ(Unwrap(kek, nullptr, c, &out), static_cast<int>(c.size() - 8));
        ASSERT_EQ(ToHex(out), r.Get("P"));
      }
    }
    EXPECT_GT(failures, 0);
  }
}

// ---- Project Wycheproof ----------------------------------------------------

TEST(AesWrap, Wycheproof) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/aes_wrap_test.json");
  const auto cases = morvane_test::ReadWycheproof(path);
  ASSERT_GT(cases.size(), 100u);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "tcId " << c.id);
    const Bytes kek = FromHex(c.Get("key")), msg = FromHex(c.Get("msg")), ct = FromHex(c.Get("ct"));
    const std::string result = c.Get("result");
    AES_KEY ek = aes_test::Schedule(kek, false), dk = aes_test::Schedule(kek, true);
    Bytes out(ct.size() + msg.size() + 16, 0);
    const int unwrapped =
        AES_unwrap_key(&dk, nullptr, out.data(), ct.data(), static_cast<unsigned>(ct.size()));
    const int wrapped =
        AES_wrap_key(&ek, nullptr, out.data(), msg.data(), static_cast<unsigned>(msg.size()));
    if (c.HasFlag("ShortKey")) {
      // One 8-byte block is wrapped here by the six-pass process (RFC 3394
      // asks for at least two blocks): the "acceptable" single-encryption
      // form does not unwrap, the six-pass one does.
      if (result == "acceptable") {
        EXPECT_EQ(unwrapped, 0);
      } else {
        EXPECT_EQ(unwrapped, 8);
        EXPECT_EQ(wrapped, 16);
        EXPECT_EQ(ToHex(out.data(), 16), c.Get("ct"));
      }
      continue;
    }
    if (result == "valid") {
      EXPECT_EQ(unwrapped, static_cast<int>(msg.size()));
      ASSERT_EQ(wrapped, static_cast<int>(ct.size()));
      EXPECT_EQ(ToHex(out.data(), ct.size()), c.Get("ct"));
    } else {
      EXPECT_LE(unwrapped, 0);
      // Invalid sizes of key data are refused too.
      if (msg.size() % 8 != 0 || msg.empty()) {
        EXPECT_EQ(wrapped, -1);
      }
    }
  }
}

}  // namespace
