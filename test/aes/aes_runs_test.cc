// AES over runs long enough for the multi-block kernels (8 blocks at a time
// with AES-NI, 16 with 256-bit VAES, 32 with 512-bit VAES) and their tails:
//   - ECB through the envelope over the records of a NIST CAVP known-answer
//     file that share a key, concatenated (ECB has no chaining, so the
//     concatenated texts are a known answer too);
//   - CBC decryption over the DECRYPT records of a file that share a key,
//     concatenated: record r's first block then chains on the last
//     ciphertext block of record r - 1 in place of its IV, so its expected
//     first block is its published plaintext XOR its IV XOR that block;
//   - CTR over test/data/aes/ctr_runs.txt (the model tools/aes_model.py),
//     with every kind of counter carry, and over every length of the records
//     of test/data/aes/ctr_lengths.txt (the same model), up to a few passes
//     past each kernel's widest.
// Each in one call, in random pieces and in place; ctest runs them on every
// path (see CMakeLists.txt).

#include <morvane/aes.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "aes_test_modes.h"
#include "test_support.h"

namespace {

using aes_test::Bytes;
using aes_test::FromHex;
using aes_test::Mode;
using aes_test::RunMode;
using aes_test::ToHex;

const char* const kKeyBits[] = {"128", "192", "256"};

// The concatenated texts of one key and direction, in file order.
struct Joined {
  bool enc = true;
  Bytes key, iv, in, want;
  size_t records = 0;
};

// Runs of the records of `path` grouped by direction and key (and IV, kept
// from the first record).  For CBC decryption the expected blocks are chained
// as the header comment says; ECB takes the texts as they stand.
std::vector<Joined> Concatenated(const std::string& path, bool cbc) {
  std::map<std::pair<bool, std::string>, Joined> runs;
  for (const auto& r : morvane_test::ReadRsp(path)) {
    const bool enc = r.section.count("ENCRYPT") != 0;
    if (cbc && enc) continue;
    Joined& run = runs[{enc, r.Get("KEY")}];
    const Bytes in = FromHex(r.Get(enc ? "PLAINTEXT" : "CIPHERTEXT"));
    Bytes want = FromHex(r.Get(enc ? "CIPHERTEXT" : "PLAINTEXT"));
    if (run.records == 0) {
      run.enc = enc;
      run.key = FromHex(r.Get("KEY"));
      if (cbc) run.iv = FromHex(r.Get("IV"));
    } else if (cbc) {
      const Bytes iv = FromHex(r.Get("IV"));
      for (size_t i = 0; i < 16; i++) want[i] ^= iv[i] ^ run.in[run.in.size() - 16 + i];
    }
    run.in.insert(run.in.end(), in.begin(), in.end());
    run.want.insert(run.want.end(), want.begin(), want.end());
    run.records++;
  }
  std::vector<Joined> out;
  for (auto& [k, run] : runs)
    if (run.records > 1) out.push_back(std::move(run));
  return out;
}

TEST(AesRuns, EcbThroughTheEnvelopeOnConcatenatedKnownAnswers) {
  size_t longest = 0;
  for (const char* kind : {"GFSbox", "VarTxt"}) {
    for (const char* bits : kKeyBits) {
      const std::string name = std::string("nist-cavp/aes/KAT_AES/ECB") + kind + bits + ".rsp";
      MORVANE_VECTOR_PATH_OR_SKIP(path, name);
      for (const Joined& r : Concatenated(path, false)) {
        for (unsigned seed : {0u, 3u, 11u}) {
          for (bool in_place : {false, true}) {
            SCOPED_TRACE(testing::Message() << name << (r.enc ? " encrypt" : " decrypt") << " seed "
                                            << seed << " in place " << in_place);
            bool ok = false;
            EXPECT_EQ(
                ToHex(aes_test::EnvelopeEcb(r.key, r.enc, r.in, false, {seed, in_place}, &ok)),
                ToHex(r.want));
            EXPECT_TRUE(ok);
          }
        }
        longest = std::max(longest, r.in.size() / 16);
      }
    }
  }
  EXPECT_GE(longest, 128u);  // VarTxt: 128 blocks under one key
}

TEST(AesRuns, CbcDecryptionOnConcatenatedKnownAnswers) {
  size_t longest = 0;
  for (const char* kind : {"GFSbox", "VarTxt"}) {
    for (const char* bits : kKeyBits) {
      const std::string name = std::string("nist-cavp/aes/KAT_AES/CBC") + kind + bits + ".rsp";
      MORVANE_VECTOR_PATH_OR_SKIP(path, name);
      for (const Joined& r : Concatenated(path, true)) {
        for (unsigned seed : {0u, 3u, 11u}) {
          for (bool in_place : {false, true}) {
            SCOPED_TRACE(testing::Message()
                         << name << " seed " << seed << " in place " << in_place);
            aes_test::Chain end;
            EXPECT_EQ(ToHex(RunMode(Mode::kCbc, r.key, false, r.iv, r.in, r.in.size(),
                                    {seed, in_place}, &end)),
                      ToHex(r.want));
            // The chaining value ends as the last ciphertext block.
            EXPECT_EQ(ToHex(end.iv, 16), ToHex(r.in.data() + r.in.size() - 16, 16));
          }
        }
        longest = std::max(longest, r.in.size() / 16);
      }
    }
  }
  EXPECT_GE(longest, 128u);
}

// After `len` bytes of CTR from the counter block `ctr` over `pt` (whose
// ciphertext is `ct`): the counter has moved past the last block used, by
// the blocks modulo 2^128, and the keystream block kept is the last one used
// (its bytes up to the end of the text are ciphertext XOR plaintext).
testing::AssertionResult CtrEndsRight(const Bytes& ctr, const Bytes& pt, const Bytes& ct,
                                      size_t len, const aes_test::Chain& end) {
  Bytes next = ctr;
  for (size_t b = 0; b < (len + 15) / 16; b++)
    for (int i = 15; i >= 0 && ++next[static_cast<size_t>(i)] == 0; i--) {
    }
  if (ToHex(end.iv, 16) != ToHex(next))
    return testing::AssertionFailure() << "counter " << ToHex(end.iv, 16) << ", not " << ToHex(next);
  const size_t last = len == 0 ? 0 : (len - 1) / 16 * 16;
  for (size_t i = last; i < len; i++)
    if (end.ecount[i - last] != (pt[i] ^ ct[i]))
      return testing::AssertionFailure() << "keystream byte " << i;
  return testing::AssertionSuccess();
}

TEST(AesRuns, CtrAgainstTheModel) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("aes/ctr_runs.txt"));
  ASSERT_EQ(records.size(), 6u);
  for (const auto& v : records) {
    const Bytes key = FromHex(v.Get("Key")), ctr = FromHex(v.Get("Counter"));
    const Bytes pt = FromHex(v.Get("Plaintext")), ct = FromHex(v.Get("Ciphertext"));
    ASSERT_EQ(pt.size(), ct.size());
    for (unsigned seed : {0u, 1u, 2u, 9u}) {
      for (bool in_place : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << v.Get("Case") << ", seed " << seed << " in place " << in_place);
        aes_test::Chain end;
        EXPECT_EQ(ToHex(RunMode(Mode::kCtr, key, true, ctr, pt, pt.size(), {seed, in_place}, &end)),
                  ToHex(ct));
        EXPECT_EQ(ToHex(RunMode(Mode::kCtr, key, false, ctr, ct, ct.size(), {seed, in_place})),
                  ToHex(pt));
        EXPECT_TRUE(CtrEndsRight(ctr, pt, ct, pt.size(), end));
      }
    }
  }
}

// Each length from 0 bytes to the whole text in one call, out of place and in
// place: the prefix of the text gives the prefix of the ciphertext, and no
// byte past it is written.
TEST(AesRuns, CtrEveryLengthAgainstTheModel) {
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("aes/ctr_lengths.txt"));
  ASSERT_EQ(records.size(), 6u);
  for (const auto& v : records) {
    const Bytes key = FromHex(v.Get("Key")), ctr = FromHex(v.Get("Counter"));
    const Bytes pt = FromHex(v.Get("Plaintext")), ct = FromHex(v.Get("Ciphertext"));
    ASSERT_EQ(pt.size(), ct.size());
    ASSERT_GE(pt.size(), 100u * 16);  // past two passes of 32 blocks and a run of 64 and 24
    for (size_t len = 0; len <= pt.size(); len++) {
      for (bool in_place : {false, true}) {
        aes_test::Chain end;
        const Bytes out = RunMode(Mode::kCtr, key, true, ctr, pt, len, {0, in_place}, &end);
        Bytes want(ct.begin(), ct.begin() + static_cast<std::ptrdiff_t>(len));
        want.resize(pt.size(), 0);  // the output buffer starts zeroed
        if (in_place) std::copy(pt.begin() + static_cast<std::ptrdiff_t>(len), pt.end(),
                                want.begin() + static_cast<std::ptrdiff_t>(len));
        ASSERT_EQ(ToHex(out), ToHex(want))
            << v.Get("Case") << ", " << len << " bytes, in place " << in_place;
        ASSERT_TRUE(CtrEndsRight(ctr, pt, ct, len, end))
            << v.Get("Case") << ", " << len << " bytes, in place " << in_place;
      }
    }
  }
}

}  // namespace
