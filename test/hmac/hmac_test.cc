// HMAC through HMAC() and through HMAC_Init_ex/Update/Final in random
// splits: RFC 2202 and RFC 4231 (test/data/hmac/rfc_vectors.txt), NIST
// CAVP HMAC.rsp and Wycheproof hmac_sha*_test.json; restarts, the limits on
// keys and descriptions, and a failing digest step reported as a failure.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>

#include "sha1_engine.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

const EVP_MD* DigestNamed(const std::string& name) {
  if (name == "MD5") return EVP_md5();
  if (name == "SHA1") return EVP_sha1();
  if (name == "SHA224") return EVP_sha224();
  if (name == "SHA256") return EVP_sha256();
  if (name == "SHA384") return EVP_sha384();
  if (name == "SHA512") return EVP_sha512();
  return nullptr;
}

// The MAC of `data` under `key` through HMAC().
Bytes OneShot(const EVP_MD* md, const Bytes& key, const Bytes& data) {
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  if (HMAC(md, key.data(), static_cast<int>(key.size()), data.data(), data.size(), mac, &len) !=
      mac)
    return {};
  return Bytes(mac, mac + len);
}

// The same through a context, the data cut at random places, then again
// after a restart with null key and digest (which must give the same MAC).
Bytes Streamed(const EVP_MD* md, const Bytes& key, const Bytes& data, std::mt19937* rng) {
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  Bytes out[2];
  for (Bytes& mac : out) {
    const bool first = &mac == &out[0];
    EXPECT_EQ(1, first ? HMAC_Init_ex(&ctx, key.data(), static_cast<int>(key.size()), md, nullptr)
                       : HMAC_Init_ex(&ctx, nullptr, 0, nullptr, nullptr));
    size_t at = 0;
    while (at < data.size()) {
      const size_t n = std::uniform_int_distribution<size_t>(0, data.size() - at)(*rng);
      EXPECT_EQ(1, HMAC_Update(&ctx, data.data() + at, n));
      at += n;
    }
    mac.resize(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    EXPECT_EQ(1, HMAC_Final(&ctx, mac.data(), &len));
    mac.resize(len);
  }
  HMAC_CTX_cleanup(&ctx);
  EXPECT_EQ(out[0], out[1]) << "a restart gave another MAC";
  return out[0];
}

// Both ways; `expected` may be the leading part of the MAC.
void ExpectMac(const EVP_MD* md, const Bytes& key, const Bytes& data, const Bytes& expected,
               std::mt19937* rng, const std::string& where) {
  for (const Bytes& mac : {OneShot(md, key, data), Streamed(md, key, data, rng)}) {
    ASSERT_GE(mac.size(), expected.size()) << where;
    EXPECT_EQ(morvane_test::ToHex(expected),
              morvane_test::ToHex(Bytes(mac.begin(), mac.begin() + expected.size())))
        << where;
  }
}

TEST(Hmac, Rfc2202AndRfc4231) {
  std::mt19937 rng(2202);
  int n = 0;
  for (const auto& r : morvane_test::ReadRsp(morvane_test::TestDataFile("hmac/rfc_vectors.txt"))) {
    ASSERT_EQ(1u, r.section.size());
    const std::string name = r.section.begin()->first;
    const EVP_MD* md = DigestNamed(name);
    ASSERT_NE(nullptr, md) << name;
    ExpectMac(md, FromHex(r.Get("Key")), FromHex(r.Get("Data")), FromHex(r.Get("MAC")), &rng,
              name + " case " + r.Get("Case"));
    n++;
  }
  EXPECT_EQ(42, n);
}

// NIST CAVP HMAC.rsp: [L=20] to [L=64] name SHA-1 to SHA-512; every key
// length and Tlen (the leading Tlen bytes of the MAC).
TEST(Hmac, NistCavp) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "nist-cavp/mac/hmactestvectors/HMAC.rsp");
  const std::map<std::string, const EVP_MD*> by_l = {{"20", EVP_sha1()},   {"28", EVP_sha224()},
                                                     {"32", EVP_sha256()}, {"48", EVP_sha384()},
                                                     {"64", EVP_sha512()}};
  std::mt19937 rng(198);
  std::map<std::string, int> per_l;
  for (const auto& r : morvane_test::ReadRsp(path)) {
    const std::string l = r.section.at("L");
    const Bytes key = FromHex(r.Get("Key"));
    ASSERT_EQ(std::stoul(r.Get("Klen")), key.size());
    const Bytes mac = FromHex(r.Get("Mac"));
    ASSERT_EQ(std::stoul(r.Get("Tlen")), mac.size());
    ExpectMac(by_l.at(l), key, FromHex(r.Get("Msg")), mac, &rng, "L=" + l + " Count=" + r.Get("Count"));
    per_l[l]++;
  }
  EXPECT_EQ(5u, per_l.size());
}

// Wycheproof: valid tags equal the MAC cut to the group's tag size, invalid
// ones differ from it.
class WycheproofHmac : public testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(WycheproofHmac, Tags) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, std::string("wycheproof/") + GetParam().first);
  const EVP_MD* md = DigestNamed(GetParam().second);
  int valid = 0, invalid = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    const size_t tag_bytes = std::stoul(t.Get("tagSize")) / 8;
    Bytes mac = OneShot(md, FromHex(t.Get("key")), FromHex(t.Get("msg")));
    ASSERT_GE(mac.size(), tag_bytes);
    mac.resize(tag_bytes);
    const bool same = mac == FromHex(t.Get("tag"));
    if (t.Get("result") == "valid") {
      EXPECT_TRUE(same) << "tcId " << t.id;
      valid++;
    } else {
      EXPECT_FALSE(same) << "tcId " << t.id;
      invalid++;
    }
  }
  EXPECT_GT(valid, 0);
  EXPECT_GT(invalid, 0);
}

INSTANTIATE_TEST_SUITE_P(Files, WycheproofHmac,
                         testing::Values(std::make_pair("hmac_sha1_test.json", "SHA1"),
                                         std::make_pair("hmac_sha224_test.json", "SHA224"),
                                         std::make_pair("hmac_sha256_test.json", "SHA256"),
                                         std::make_pair("hmac_sha512_test.json", "SHA512")));

// A new key (and digest) for every MAC on one context kept throughout gives
// what HMAC() gives, for keys shorter than, as long as and longer than the
// block.
TEST(Hmac, NewKeysOnAKeptContextMatchTheOneShot) {
  std::mt19937 rng(4231);
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  for (int round = 0; round < 60; round++) {
    const EVP_MD* md = DigestNamed(
        std::vector<std::string>{"MD5", "SHA1", "SHA224", "SHA256", "SHA384", "SHA512"}[round % 6]);
    const size_t block = static_cast<size_t>(EVP_MD_block_size(md));
    const size_t key_len = std::vector<size_t>{0, 1, block - 1, block, block + 1, 200}[rng() % 6];
    Bytes key(key_len), data(rng() % 300);
    for (auto& b : key) b = static_cast<uint8_t>(rng());
    for (auto& b : data) b = static_cast<uint8_t>(rng());
    // (A null key would keep the previous one: an empty key is given as "".)
    const void* k = key.empty() ? static_cast<const void*>("") : key.data();
    ASSERT_EQ(1, HMAC_Init_ex(&ctx, k, static_cast<int>(key.size()), md, nullptr));
    ASSERT_EQ(1, HMAC_Update(&ctx, data.data(), data.size()));
    Bytes mac(EVP_MAX_MD_SIZE);
    unsigned int len = 0;
    ASSERT_EQ(1, HMAC_Final(&ctx, mac.data(), &len));
    mac.resize(len);
    EXPECT_EQ(OneShot(md, key, data), mac) << "round " << round << ", key of " << key_len;
  }
  HMAC_CTX_cleanup(&ctx);
}

// A key shorter than the block is the key zero-filled to the block (RFC
// 2104, 2), at every length: the copy of a short key into the pads' buffer
// goes by pieces of 16, 8, 4, 2 and 1 bytes.
TEST(Hmac, EveryShortKeyIsItsZeroFilledBlock) {
  std::mt19937 rng(2104);
  const Bytes data = {'d', 'a', 't', 'a'};
  for (const EVP_MD* md : {EVP_sha1(), EVP_sha256(), EVP_sha512()}) {
    const size_t block = static_cast<size_t>(EVP_MD_block_size(md));
    for (size_t len = 0; len <= block; len++) {
      Bytes key(len);
      for (auto& b : key) b = static_cast<uint8_t>(rng() | 1);
      Bytes filled = key;
      filled.resize(block, 0);
      const Bytes want = OneShot(md, filled, data);
      EXPECT_EQ(want, OneShot(md, key, data)) << EVP_MD_size(md) << ", key of " << len;
      EXPECT_EQ(want, Streamed(md, key, data, &rng)) << EVP_MD_size(md) << ", key of " << len;
    }
  }
}

int g_engine_inits = 0;

// HMAC() takes the engine's description when an engine supplies the digest
// (SHA-1's own functions here, on private data larger than HMAC()'s stack
// buffers, counting their starts), and reports its failure.
TEST(Hmac, OneShotTakesAnEngineDigest) {
  using hmac_test::g_engine_sha1;
  ENGINE* e = hmac_test::RegisterSha1Engine("hmac-sha1-test");
  ASSERT_NE(nullptr, e);
  g_engine_sha1 = *EVP_sha1();
  g_engine_sha1.ctx_size = 1024;
  g_engine_sha1.init = [](EVP_MD_CTX* c) {
    g_engine_inits++;
    return EVP_sha1()->init(c);
  };
  // RFC 2202, 3, test case 1.
  const Bytes key(20, 0x0b), data = {'H', 'i', ' ', 'T', 'h', 'e', 'r', 'e'};
  EXPECT_EQ("b617318655057264e28bc0b6fb378c8ef146be00",
            morvane_test::ToHex(OneShot(EVP_sha1(), key, data)));
  EXPECT_LE(2, g_engine_inits);
  g_engine_sha1.final = [](EVP_MD_CTX*, unsigned char*) { return 0; };
  unsigned char mac[EVP_MAX_MD_SIZE];
  EXPECT_EQ(nullptr, HMAC(EVP_sha1(), key.data(), 20, data.data(), data.size(), mac, nullptr));
  ENGINE_cleanup();
  ENGINE_free(e);
  // Without the engine, the built-in SHA-1 again.
  const int inits = g_engine_inits;
  EXPECT_EQ("b617318655057264e28bc0b6fb378c8ef146be00",
            morvane_test::ToHex(OneShot(EVP_sha1(), key, data)));
  EXPECT_EQ(inits, g_engine_inits);
}

// A description whose digest is longer than its block (SHA-1's functions
// with a 16-byte block): a long key's digest is cut to the block by the
// pads, the same through HMAC() as through a context.
TEST(Hmac, DigestLongerThanItsBlock) {
  EVP_MD narrow = *EVP_sha1();
  narrow.block_size = 16;
  std::mt19937 rng(16);
  for (size_t key_len : {0, 5, 16, 17, 40}) {
    const Bytes key(key_len, 0x5a), data = {'d', 'a', 't', 'a'};
    const Bytes one = OneShot(&narrow, key, data);
    EXPECT_EQ(20u, one.size());
    EXPECT_EQ(one, Streamed(&narrow, key, data, &rng)) << "key of " << key_len;
  }
}

TEST(Hmac, NullOutputUsesOneSharedBuffer) {
  const unsigned char* a = HMAC(EVP_sha1(), "k", 1, nullptr, 0, nullptr, nullptr);
  ASSERT_NE(nullptr, a);
  const Bytes first(a, a + 20);
  EXPECT_EQ(a, HMAC(EVP_sha256(), "k", 1, reinterpret_cast<const unsigned char*>("x"), 1,
                    nullptr, nullptr));
  EXPECT_NE(first, Bytes(a, a + 20));
}

TEST(Hmac, CleanupZeroesTheContext) {
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  ASSERT_EQ(1, HMAC_Init_ex(&ctx, "key", 3, EVP_sha256(), nullptr));
  HMAC_CTX_cleanup(&ctx);
  const auto* p = reinterpret_cast<const unsigned char*>(&ctx);
  EXPECT_EQ(Bytes(sizeof ctx, 0), Bytes(p, p + sizeof ctx));
}

TEST(Hmac, RefusesMissingDigestAndNegativeKeyLength) {
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  EXPECT_EQ(0, HMAC_Init_ex(&ctx, nullptr, 0, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_NO_DIGEST_SET}});
  EXPECT_EQ(0, HMAC_Init_ex(&ctx, "key", -1, EVP_sha1(), nullptr));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH}});
  EXPECT_EQ(nullptr, HMAC(EVP_sha1(), "key", -1, nullptr, 0, nullptr, nullptr));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH}});
  HMAC_CTX_cleanup(&ctx);
}

// A description whose final step fails: the MAC is not reported as made.
TEST(Hmac, FailedDigestStepIsAFailure) {
  EVP_MD broken = *EVP_sha1();
  broken.final = [](EVP_MD_CTX*, unsigned char*) { return 0; };
  unsigned char mac[EVP_MAX_MD_SIZE];
  EXPECT_EQ(nullptr, HMAC(&broken, "key", 3, reinterpret_cast<const unsigned char*>("m"), 1, mac,
                          nullptr));
  // Also when the key is first digested.
  const Bytes long_key(100, 0xaa);
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  EXPECT_EQ(0, HMAC_Init_ex(&ctx, long_key.data(), 100, &broken, nullptr));
  HMAC_CTX_cleanup(&ctx);
}

TEST(HmacDeathTest, BlockLargerThanTheKeyBufferIsFatal) {
  EVP_MD wide = *EVP_sha512();
  wide.block_size = 129;
  HMAC_CTX ctx;
  HMAC_CTX_init(&ctx);
  EXPECT_DEATH(HMAC_Init_ex(&ctx, "k", 1, &wide, nullptr),
               "assertion failed: j <= \\(int\\)sizeof\\(ctx->key\\)");
  // A new digest without a key rebuilds the pads too: the same check, not
  // a pad read past the key buffer.
  EXPECT_DEATH(HMAC_Init_ex(&ctx, nullptr, 0, &wide, nullptr),
               "assertion failed: j <= \\(int\\)sizeof\\(ctx->key\\)");
  EXPECT_DEATH(HMAC(&wide, "k", 1, nullptr, 0, nullptr, nullptr),
               "assertion failed: j <= \\(int\\)sizeof\\(ctx->key\\)");
  HMAC_CTX_cleanup(&ctx);
}

}  // namespace
