// Digest contexts and descriptions through the envelope: every built-in
// description's numbers and a published answer, the NIST SHS files fed in
// random pieces and through a copy made mid-stream, reuse of private data,
// errors, the description limit and the wipe on a change of description.

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::ErrorsAre;
using morvane_test::FromHex;
using morvane_test::ToHex;

const std::map<std::string, const EVP_MD* (*)()> kDescriptions = {
    {"md2", EVP_md2},       {"md4", EVP_md4},
    {"md5", EVP_md5},       {"sha", EVP_sha},
    {"sha1", EVP_sha1},     {"sha224", EVP_sha224},
    {"sha256", EVP_sha256}, {"sha384", EVP_sha384},
    {"sha512", EVP_sha512}, {"ripemd160", EVP_ripemd160},
    {"dss", EVP_dss},       {"dss1", EVP_dss1},
    {"ecdsa", EVP_ecdsa},   {"md_null", EVP_md_null}};

// A context emptied on every way out; &ctx gives the EVP_MD_CTX.
struct Ctx {
  EVP_MD_CTX c;
  Ctx() { EVP_MD_CTX_init(&c); }
  ~Ctx() { EVP_MD_CTX_cleanup(&c); }
  EVP_MD_CTX* operator&() { return &c; }
};

std::string Finish(EVP_MD_CTX* c) {
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EXPECT_EQ(EVP_DigestFinal_ex(c, md, &n), 1);
  return ToHex(md, n);
}

TEST(EvpDigest, EveryDescriptionCarriesItsNumbersAndDigests) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("evp/descriptions.txt"));
  ASSERT_EQ(records.size(), kDescriptions.size());
  for (const auto& r : records) {
    SCOPED_TRACE(r.Get("name") + ", " + r.Get("source"));
    const EVP_MD* md = kDescriptions.at(r.Get("name"))();
    EXPECT_EQ(EVP_MD_type(md), std::stoi(r.Get("type")));
    EXPECT_EQ(EVP_MD_pkey_type(md), std::stoi(r.Get("pkey_type")));
    EXPECT_EQ(EVP_MD_size(md), std::stoi(r.Get("md_size")));
    EXPECT_EQ(EVP_MD_block_size(md), std::stoi(r.Get("block_size")));
    EXPECT_EQ(md->flags, std::stoul(r.Get("flags")));
    std::string keys;
    for (int i = 0; i < 5 && md->required_pkey_type[i] != 0; i++)
      keys += (keys.empty() ? "" : " ") + std::to_string(md->required_pkey_type[i]);
    EXPECT_EQ(keys, r.Get("keys"));
    EXPECT_EQ(md->sign != nullptr && md->verify != nullptr, !keys.empty());
    EXPECT_TRUE(md->copy == nullptr && md->cleanup == nullptr);
    // One shot, then byte by byte on a context started twice.
    const Bytes msg = FromHex(r.Get("msg"));
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 99;
    ASSERT_EQ(EVP_Digest(msg.data(), msg.size(), out, &n, md, nullptr), 1);
    EXPECT_EQ(ToHex(out, n), r.Get("md"));
    Ctx ctx;
    ASSERT_EQ(EVP_DigestInit_ex(&ctx, md, nullptr), 1);
    ASSERT_EQ(EVP_DigestUpdate(&ctx, "junk", 4), 1);
    ASSERT_EQ(EVP_DigestInit_ex(&ctx, md, nullptr), 1);
    for (uint8_t b : msg) ASSERT_EQ(EVP_DigestUpdate(&ctx, &b, 1), 1);
    EXPECT_EQ(Finish(&ctx), r.Get("md"));
    EXPECT_EQ(EVP_MD_CTX_md(&ctx), md);
  }
  EXPECT_TRUE(ErrorsAre({}));
}

// ---- NIST SHS files -------------------------------------------------------

struct ShsFile {
  const char* prefix;
  const EVP_MD* (*md)();
};
void PrintTo(const ShsFile& f, std::ostream* os) {
  *os << f.prefix;
}
class EvpNistShs : public ::testing::TestWithParam<ShsFile> {};

std::string ShsPath(const char* prefix, const char* kind) {
  return std::string("nist-cavp/shs/shabytetestvectors/") + prefix + kind + ".rsp";
}

// Each message in random pieces; at a random cut the context is copied and
// both the original and the copy finish the message.
void CheckMessages(const std::string& path, const EVP_MD* md, unsigned seed) {
  std::mt19937 rng(seed);
  int count = 0;
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("Len")) continue;
    Bytes msg = FromHex(rec.Get("Msg"));
    msg.resize(std::stoul(rec.Get("Len")) / 8);  // Len = 0 comes with Msg = 00
    SCOPED_TRACE("Len = " + rec.Get("Len"));
    const size_t fork_at = std::uniform_int_distribution<size_t>(0, msg.size())(rng);
    Ctx ctx, copy;
    ASSERT_EQ(EVP_DigestInit_ex(&ctx, md, nullptr), 1);
    for (size_t at = 0;;) {
      if (at == fork_at) {
        ASSERT_EQ(EVP_MD_CTX_copy(&copy, &ctx), 1);
      }
      if (at == msg.size()) break;
      size_t n = std::uniform_int_distribution<size_t>(1, 300)(rng);
      n = std::min(n, msg.size() - at);
      if (at < fork_at && fork_at < at + n) n = fork_at - at;
      ASSERT_EQ(EVP_DigestUpdate(&ctx, msg.data() + at, n), 1);
      at += n;
    }
    ASSERT_EQ(EVP_DigestUpdate(&copy, msg.data() + fork_at, msg.size() - fork_at), 1);
    EXPECT_EQ(Finish(&ctx), rec.Get("MD"));
    EXPECT_EQ(Finish(&copy), rec.Get("MD"));
    count++;
  }
  EXPECT_GT(count, 60);
}

TEST_P(EvpNistShs, ShortMessages) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, ShsPath(GetParam().prefix, "ShortMsg"));
  CheckMessages(path, GetParam().md(), 21);
}

TEST_P(EvpNistShs, LongMessages) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, ShsPath(GetParam().prefix, "LongMsg"));
  CheckMessages(path, GetParam().md(), 22);
}

// SHAVS 6.4 Monte Carlo on one context started again for every digest.
TEST_P(EvpNistShs, MonteCarloOnOneContext) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, ShsPath(GetParam().prefix, "Monte"));
  const EVP_MD* md = GetParam().md();
  const size_t n = static_cast<size_t>(EVP_MD_size(md));
  Ctx ctx;
  ASSERT_EQ(EVP_DigestInit_ex(&ctx, md, nullptr), 1);
  Bytes seed;
  int checked = 0;
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (rec.Has("Seed")) seed = FromHex(rec.Get("Seed"));
    if (!rec.Has("COUNT")) continue;
    Bytes m(seed), m2(seed), m3(seed);
    for (int i = 3; i < 1003; i++) {
      ASSERT_EQ(EVP_DigestInit_ex(&ctx, nullptr, nullptr), 1);
      EVP_DigestUpdate(&ctx, m.data(), n);
      EVP_DigestUpdate(&ctx, m2.data(), n);
      EVP_DigestUpdate(&ctx, m3.data(), n);
      m.swap(m2);
      m2.swap(m3);
      ASSERT_EQ(EVP_DigestFinal_ex(&ctx, m3.data(), nullptr), 1);
    }
    seed = m3;
    ASSERT_EQ(ToHex(seed), rec.Get("MD")) << "COUNT = " << rec.Get("COUNT");
    checked++;
  }
  EXPECT_EQ(checked, 100);
}

INSTANTIATE_TEST_SUITE_P(Files, EvpNistShs,
                         ::testing::Values(ShsFile{"SHA1", EVP_sha1}, ShsFile{"SHA224", EVP_sha224},
                                           ShsFile{"SHA256", EVP_sha256},
                                           ShsFile{"SHA384", EVP_sha384},
                                           ShsFile{"SHA512", EVP_sha512}),
                         [](const auto& info) { return std::string(info.param.prefix); });

// ---- private data: reuse, zeroing, copies ---------------------------------

// FIPS 180-2, appendix B.1: SHA-256 of "abc".
constexpr char kSha256Abc[] = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";

TEST(EvpDigest, PrivateDataIsReusedZeroedAndCopied) {
  Ctx a, b;
  ASSERT_EQ(EVP_DigestInit_ex(&a, EVP_sha256(), nullptr), 1);
  void* data = a.c.md_data;
  ASSERT_EQ(EVP_DigestUpdate(&a, "ab", 2), 1);
  // A copy into a context running the same description keeps its buffer.
  ASSERT_EQ(EVP_DigestInit_ex(&b, EVP_sha256(), nullptr), 1);
  void* kept = b.c.md_data;
  ASSERT_EQ(EVP_MD_CTX_copy_ex(&b, &a), 1);
  EXPECT_EQ(b.c.md_data, kept);
  EXPECT_EQ(EVP_DigestUpdate(&b, "c", 1), 1);
  EXPECT_EQ(Finish(&b), kSha256Abc);
  // Final zeroes the private data and leaves the context restartable, with
  // the same data: by a null description or by the same one.
  EXPECT_EQ(EVP_DigestUpdate(&a, "c", 1), 1);
  EXPECT_EQ(Finish(&a), kSha256Abc);
  EXPECT_EQ(Bytes(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + 40), Bytes(40, 0));
  for (const EVP_MD* again : {static_cast<const EVP_MD*>(nullptr), EVP_sha256()}) {
    ASSERT_EQ(EVP_DigestInit_ex(&a, again, nullptr), 1);
    EXPECT_EQ(a.c.md_data, data);
  }
  // A copy into a context running another description gets its own data;
  // EVP_DigestFinal and EVP_MD_CTX_copy (of an empty target) clean up.
  ASSERT_EQ(EVP_DigestInit_ex(&b, EVP_md5(), nullptr), 1);
  ASSERT_EQ(EVP_MD_CTX_copy_ex(&b, &a), 1);
  EXPECT_NE(b.c.md_data, a.c.md_data);
  EXPECT_EQ(EVP_DigestUpdate(&b, "abc", 3), 1);
  unsigned char md[EVP_MAX_MD_SIZE];
  EXPECT_EQ(EVP_DigestFinal(&b, md, nullptr), 1);
  EXPECT_EQ(ToHex(md, 32), kSha256Abc);
  EXPECT_EQ(EVP_MD_CTX_md(&b), nullptr);
  EXPECT_EQ(b.c.md_data, nullptr);
  // Heap contexts.
  EVP_MD_CTX* h = EVP_MD_CTX_create();
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(EVP_MD_CTX_copy_ex(h, &a), 1);
  EXPECT_EQ(EVP_MD_CTX_copy_ex(h, h), 1);
  EXPECT_EQ(EVP_DigestUpdate(h, "abc", 3), 1);
  EXPECT_EQ(Finish(h), kSha256Abc);
  EVP_MD_CTX_destroy(h);
  EVP_MD_CTX_destroy(nullptr);
  // A source whose owner keeps its state (the reuse flag) still gives a
  // copy that owns, and frees, the state made for it.
  EVP_MD_CTX_set_flags(&a, EVP_MD_CTX_FLAG_REUSE);
  h = EVP_MD_CTX_create();
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(EVP_DigestInit_ex(h, EVP_md5(), nullptr), 1);
  ASSERT_EQ(EVP_MD_CTX_copy_ex(h, &a), 1);
  EXPECT_EQ(EVP_MD_CTX_test_flags(h, EVP_MD_CTX_FLAG_REUSE), 0);
  EVP_MD_CTX_destroy(h);  // leaks the copy's state if the flag came along
  EVP_MD_CTX_clear_flags(&a, EVP_MD_CTX_FLAG_REUSE);
  EXPECT_TRUE(ErrorsAre({}));
}

// A description of the test's own, with a copy step and a cleanup, that
// records what the envelope did.
struct Seen {
  int cleanups = 0, copies = 0;
  unsigned long flags_at_update = 0;
} g_seen;
int TestInit(EVP_MD_CTX* c) {
  memset(c->md_data, 0xA5, 32);
  return 1;
}
int TestUpdate(EVP_MD_CTX* c, const void*, size_t) {
  g_seen.flags_at_update = c->flags;
  return 1;
}
int TestFinal(EVP_MD_CTX*, unsigned char* md) {
  memset(md, 7, 4);
  return 1;
}
int TestCopy(EVP_MD_CTX*, const EVP_MD_CTX*) {
  return ++g_seen.copies;
}
int TestCleanup(EVP_MD_CTX*) {
  return ++g_seen.cleanups;
}
EVP_MD TestMd(int md_size) {
  return EVP_MD{9999,     0,           md_size, 0,       TestInit, TestUpdate, TestFinal,
                TestCopy, TestCleanup, nullptr, nullptr, {0},      64,         32};
}

TEST(EvpDigest, CleanupRunsOnceAndEveryStepReachesTheDescription) {
  const EVP_MD md = TestMd(4);
  Ctx a, b;
  unsigned char out[4];
  ASSERT_EQ(EVP_Digest("x", 1, out, nullptr, &md, nullptr), 1);
  EXPECT_EQ(g_seen.flags_at_update, unsigned{EVP_MD_CTX_FLAG_ONESHOT});
  EXPECT_EQ(g_seen.cleanups, 1);  // by the final step, not again by cleanup
  ASSERT_EQ(EVP_DigestInit_ex(&a, &md, nullptr), 1);
  ASSERT_EQ(EVP_MD_CTX_copy_ex(&b, &a), 1);  // the copy step's result
  EXPECT_EQ(g_seen.copies, 1);
  EXPECT_EQ(Finish(&a), "07070707");
  EXPECT_EQ(EVP_MD_CTX_test_flags(&a, EVP_MD_CTX_FLAG_CLEANED), EVP_MD_CTX_FLAG_CLEANED);
  EXPECT_EQ(g_seen.cleanups, 2);
  EVP_MD_CTX_cleanup(&a);
  EVP_MD_CTX_cleanup(&b);  // b never finished: cleaned now
  EXPECT_EQ(g_seen.cleanups, 3);
  EVP_MD_CTX_set_flags(&a, 0x18);
  EVP_MD_CTX_clear_flags(&a, 0x10);
  EXPECT_EQ(EVP_MD_CTX_test_flags(&a, 0xff), EVP_MD_CTX_FLAG_NAME_HASH);
}

// ---- failures ---------------------------------------------------------------

TEST(EvpDigest, FailuresQueueTheirReasons) {
  Ctx empty, ctx;
  unsigned char md[EVP_MAX_MD_SIZE];
  EXPECT_EQ(EVP_DigestInit_ex(&empty, nullptr, nullptr), 0);
  EXPECT_EQ(ERR_peek_error(), 0x0608B08BUL);  // "no digest set"
  EXPECT_EQ(EVP_MD_CTX_copy_ex(&ctx, &empty), 0);
  EXPECT_EQ(EVP_MD_CTX_copy(&ctx, nullptr), 0);
  EXPECT_EQ(ERR_peek_last_error(), 0x0606E06FUL);  // "input not initialized"
  EXPECT_EQ(EVP_DigestUpdate(&empty, "a", 1), 0);
  EXPECT_EQ(EVP_DigestFinal_ex(&empty, md, nullptr), 0);
  EXPECT_EQ(EVP_DigestInit(nullptr, EVP_md5()), 0);
  EXPECT_EQ(EVP_Digest("", 0, md, nullptr, nullptr, nullptr), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_DO_EVP_MD_ENGINE, EVP_R_NO_DIGEST_SET},
                         {ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, EVP_R_INPUT_NOT_INITIALIZED},
                         {ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, EVP_R_INPUT_NOT_INITIALIZED},
                         {ERR_LIB_EVP, 0, EVP_R_NO_DIGEST_SET},
                         {ERR_LIB_EVP, 0, EVP_R_NO_DIGEST_SET},
                         {ERR_LIB_EVP, EVP_F_EVP_DIGESTINIT_EX, ERR_R_PASSED_NULL_PARAMETER},
                         {ERR_LIB_EVP, EVP_F_DO_EVP_MD_ENGINE, EVP_R_NO_DIGEST_SET}}));
  // An engine whose init refuses.
  ENGINE* refusing = ENGINE_new();
  ENGINE_set_init_function(refusing, [](ENGINE*) { return 0; });
  EXPECT_EQ(EVP_Digest("", 0, md, nullptr, EVP_md5(), refusing), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_DIGESTINIT_EX, EVP_R_INITIALIZATION_ERROR}}));
  ENGINE_free(refusing);
  EXPECT_EQ(EVP_MD_CTX_cleanup(nullptr), 1);
  EXPECT_EQ(EVP_MD_CTX_md(nullptr), nullptr);
}

TEST(EvpDigest, FailedAllocationsLeaveContextsUsable) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  // EVP_Digest keeps a built-in description's data off the heap.
  unsigned char out[EVP_MAX_MD_SIZE];
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(EVP_Digest("abc", 3, out, nullptr, EVP_sha512(), nullptr), 1);
  EXPECT_EQ(ToHex(out, 4), "ddaf35a1");
  EXPECT_EQ(morvane_test::GetAllocCounts().mallocs, 0);
  morvane_test::FailAllocationAfter(0);
  Ctx ctx, copy;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(EVP_DigestInit_ex(&ctx, EVP_sha1(), nullptr), 0);
  EXPECT_EQ(EVP_MD_CTX_md(&ctx), EVP_sha1());      // stored, without private data
  EXPECT_EQ(EVP_DigestUpdate(&ctx, "abc", 3), 0);  // no private data: nothing runs
  EXPECT_EQ(EVP_MD_CTX_copy(&copy, &ctx), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_DIGESTINIT_EX, ERR_R_MALLOC_FAILURE},
                         {ERR_LIB_EVP, 0, EVP_R_NO_DIGEST_SET},
                         {ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, EVP_R_INPUT_NOT_INITIALIZED}}));
  ASSERT_EQ(EVP_DigestInit_ex(&ctx, nullptr, nullptr), 1);
  ASSERT_EQ(EVP_DigestUpdate(&ctx, "abc", 3), 1);
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(EVP_MD_CTX_copy(&copy, &ctx), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, ERR_R_MALLOC_FAILURE}}));
  EXPECT_EQ(Finish(&ctx), "a9993e364706816aba3e25717850c26c9cd0d89d");
}

TEST(EvpDigestDeathTest, FinalRefusesADigestLongerThanTheLimit) {
  const EVP_MD md = TestMd(EVP_MAX_MD_SIZE + 1);
  EXPECT_DEATH(
      {
        Ctx ctx;
        EVP_DigestInit_ex(&ctx, &md, nullptr);
        unsigned char out[EVP_MAX_MD_SIZE + 1];
        EVP_DigestFinal_ex(&ctx, out, nullptr);
      },
      "Morvane internal error, assertion failed: ctx->digest->md_size <= EVP_MAX_MD_SIZE");
}

// ---- the old private data is wiped when the description changes ----------

const void* g_watched = nullptr;
Bytes g_freed_bytes;
void WatchingFree(void* p) {
  if (p != nullptr && p == g_watched)
    g_freed_bytes.assign(static_cast<uint8_t*>(p), static_cast<uint8_t*>(p) + 32);
  free(p);
}

TEST(EvpDigest, ChangingDescriptionWipesTheOldPrivateData) {
  ASSERT_EQ(CRYPTO_set_mem_functions(malloc, realloc, WatchingFree), 1);
  const EVP_MD md = TestMd(4);
  Ctx ctx;
  ASSERT_EQ(EVP_DigestInit_ex(&ctx, &md, nullptr), 1);  // fills its data with A5
  g_watched = ctx.c.md_data;
  ASSERT_EQ(EVP_DigestInit_ex(&ctx, EVP_md5(), nullptr), 1);
  ASSERT_EQ(g_freed_bytes.size(), 32u);
  EXPECT_NE(g_freed_bytes, Bytes(32, 0xA5));
  EXPECT_LT(std::count(g_freed_bytes.begin(), g_freed_bytes.end(), 0xA5), 8);
}

}  // namespace
