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

// RFC 3394, section 4.1 to 4.6 (test/data/aes/rfc3394.txt).
const std::vector<morvane_test::RspRecord>& Rfc3394() {
  static const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("aes/rfc3394.txt"));
  return records;
}

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
  ASSERT_EQ(Rfc3394().size(), 6u);
  for (const auto& v : Rfc3394()) {
    SCOPED_TRACE(v.Get("Source"));
    const Bytes kek = FromHex(v.Get("KEK")), data = FromHex(v.Get("Data"));
    EXPECT_EQ(ToHex(Wrap(kek, nullptr, data)), v.Get("Wrapped"));
    EXPECT_EQ(ToHex(Wrap(kek, kDefaultIv, data)), v.Get("Wrapped"));
    Bytes out;
    EXPECT_EQ(Unwrap(kek, nullptr, FromHex(v.Get("Wrapped")), &out), static_cast<int>(data.size()));
    EXPECT_EQ(ToHex(out), v.Get("Data"));
  }
}

// The output may overlap the input: in place, and with the key data already
// sitting after the 8-byte integrity value.
TEST(AesWrap, OverlappingBuffers) {
  const auto& v = Rfc3394().at(5);
  const Bytes kek = FromHex(v.Get("KEK")), data = FromHex(v.Get("Data"));
  const std::string wrapped = v.Get("Wrapped");
  AES_KEY ek = aes_test::Schedule(kek, false), dk = aes_test::Schedule(kek, true);
  uint8_t buf[48];
  memcpy(buf, data.data(), 32);
  ASSERT_EQ(AES_wrap_key(&ek, nullptr, buf, buf, 32), 40);
  EXPECT_EQ(ToHex(buf, 40), wrapped);
  ASSERT_EQ(AES_unwrap_key(&dk, nullptr, buf, buf, 40), 32);
  EXPECT_EQ(ToHex(buf, 32), v.Get("Data"));
  memcpy(buf + 8, data.data(), 32);
  ASSERT_EQ(AES_wrap_key(&ek, nullptr, buf, buf + 8, 32), 40);
  EXPECT_EQ(ToHex(buf, 40), wrapped);
  ASSERT_EQ(AES_unwrap_key(&dk, nullptr, buf + 8, buf, 40), 32);
  EXPECT_EQ(ToHex(buf + 8, 32), v.Get("Data"));
}

TEST(AesWrap, BadLengths) {
  const Bytes kek = FromHex(Rfc3394().at(0).Get("KEK"));
  AES_KEY ek = aes_test::Schedule(kek, false), dk = aes_test::Schedule(kek, true);
  uint8_t in[64] = {}, out[72];
  for (unsigned len : {0u, 1u, 4u, 7u, 8u, 12u, 15u, 20u, 63u}) {
    memset(out, 0x77, sizeof out);
    EXPECT_EQ(AES_wrap_key(&ek, nullptr, out, in, len), -1) << len;
    EXPECT_EQ(out[0], 0x77);
    EXPECT_EQ(out[8], 0x77);
  }
  for (unsigned len : {0u, 8u, 15u, 16u, 20u, 23u, 33u}) {
    memset(out, 0x77, sizeof out);
    EXPECT_EQ(AES_unwrap_key(&dk, nullptr, out, in, len), -1) << len;
    EXPECT_EQ(out[0], 0x77);
  }
  // Results that would not fit the int return value are refused.
  EXPECT_EQ(AES_wrap_key(&ek, nullptr, out, in, 0xfffffff8u), -1);
  EXPECT_EQ(AES_wrap_key(&ek, nullptr, out, in, 0x7ffffff8u), -1);
  EXPECT_EQ(AES_unwrap_key(&dk, nullptr, out, in, 0xfffffff8u), -1);
}

// RFC 3394, 2: the process wraps two blocks or more.  One 8-byte block is
// refused both ways, and two blocks (the shortest key data) round trip.
TEST(AesWrap, TwoBlocksAtLeast) {
  const Bytes kek = FromHex(Rfc3394().at(0).Get("KEK"));
  AES_KEY ek = aes_test::Schedule(kek, false), dk = aes_test::Schedule(kek, true);
  const Bytes one = FromHex("0011223344556677");
  Bytes out(24, 0x77);
  EXPECT_EQ(AES_wrap_key(&ek, nullptr, out.data(), one.data(), 8), -1);
  EXPECT_EQ(ToHex(out), std::string(48, '7'));
  const Bytes sixteen = FromHex("dc26fb6911d71971df0356d6bb9ed6e6");  // any 16 bytes
  EXPECT_EQ(AES_unwrap_key(&dk, nullptr, out.data(), sixteen.data(), 16), -1);
  EXPECT_EQ(ToHex(out), std::string(48, '7'));
  const Bytes two = FromHex("00112233445566778899aabbccddeeff");
  const Bytes wrapped = Wrap(kek, nullptr, two);
  ASSERT_EQ(wrapped.size(), 24u);
  EXPECT_EQ(ToHex(wrapped), Rfc3394().at(0).Get("Wrapped"));  // RFC 3394, 4.1: the same data
  Bytes back;
  EXPECT_EQ(Unwrap(kek, nullptr, wrapped, &back), 16);
  EXPECT_EQ(ToHex(back), ToHex(two));
}

// A wrong initial value, or a changed byte anywhere, fails the integrity
// check: 0, and no plaintext is left in the output.
TEST(AesWrap, IntegrityFailureWipesOutput) {
  const auto& v = Rfc3394().at(3);
  const Bytes kek = FromHex(v.Get("KEK")), data = FromHex(v.Get("Data"));
  const uint8_t other_iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const Bytes wrapped = Wrap(kek, other_iv, data);
  Bytes out;
  EXPECT_EQ(Unwrap(kek, other_iv, wrapped, &out), static_cast<int>(data.size()));
  EXPECT_EQ(ToHex(out), v.Get("Data"));
  EXPECT_EQ(Unwrap(kek, nullptr, wrapped, &out), 0);
  EXPECT_EQ(out.size(), data.size());
  for (size_t i = 0; i + 8 <= out.size(); i += 8)
    EXPECT_NE(ToHex(out.data() + i, 8), ToHex(data.data() + i, 8)) << i;
  for (size_t i = 0; i < 32; i++) {
    Bytes bad = FromHex(v.Get("Wrapped"));
    bad[i] ^= 0x01;
    EXPECT_EQ(Unwrap(kek, nullptr, bad, &out), 0) << i;
  }
}

// NIST SP 800-38F KW with AES as the forward cipher and the default initial
// value: every file of KW-AE (wrap) and KW-AD (unwrap, some records FAIL)
// applies.  The _inv files wrap with the inverse cipher and do not.
TEST(AesWrap, NistKw) {
  for (const char* kind : {"AE", "AD"}) {
    for (const char* bits : {"128", "192", "256"}) {
      MORVANE_VECTOR_PATH_OR_SKIP(
          path, std::string("nist-cavp/mac/kwtestvectors/KW_") + kind + "_" + bits + ".txt");
      const auto records = morvane_test::ReadRsp(path);
      ASSERT_FALSE(records.empty());
      int failures = 0;
      for (const auto& r : records) {
        SCOPED_TRACE(testing::Message() << path << " COUNT " << r.Get("COUNT"));
        const Bytes kek = FromHex(r.Get("K")), c = FromHex(r.Get("C"));
        Bytes out;
        if (kind[1] == 'E') {
          ASSERT_EQ(ToHex(Wrap(kek, nullptr, FromHex(r.Get("P")))), r.Get("C"));
        } else if (r.Has("FAIL")) {
          failures++;
          ASSERT_EQ(Unwrap(kek, nullptr, c, &out), 0);
        } else {
          ASSERT_EQ(Unwrap(kek, nullptr, c, &out), static_cast<int>(c.size() - 8));
          ASSERT_EQ(ToHex(out), r.Get("P"));
        }
      }
      EXPECT_EQ(failures > 0, kind[1] == 'D');
    }
  }
}

// ---- Project Wycheproof ----------------------------------------------------

TEST(AesWrap, Wycheproof) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/aes_wrap_test.json");
  const auto cases = morvane_test::ReadWycheproof(path);
  ASSERT_GT(cases.size(), 100u);
  std::vector<int> short_invalid;
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
      // One 8-byte block (RFC 3394 asks for at least two): neither the
      // six-pass form (13, 55, 110: invalid) nor the single-encryption one
      // ("acceptable") is made or opened.
      EXPECT_EQ(unwrapped, -1);
      EXPECT_EQ(wrapped, -1);
      if (result == "invalid") short_invalid.push_back(c.id);
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
  EXPECT_EQ(short_invalid, (std::vector<int>{13, 55, 110}));
}

}  // namespace
