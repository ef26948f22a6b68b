// NIST CAVP byte-oriented SHS response files (SHAVS): short and long messages
// and the Monte Carlo chains for SHA-1, SHA-224, SHA-256, SHA-384 and SHA-512,
// read from nist-cavp/shs/shabytetestvectors/ in the published vectors folder.
// Each message also runs fed in random pieces.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest_algos.h"

namespace digest_test {
namespace {

using morvane_test::FromHex;
using morvane_test::ReadRsp;

struct ShsFile {
  const char* algo;
  const char* prefix;  // file name prefix, e.g. "SHA256"
};

void PrintTo(const ShsFile& f, std::ostream* os) {
  *os << f.prefix;
}

class NistShs : public ::testing::TestWithParam<ShsFile> {};

std::string Path(const ShsFile& f, const char* kind) {
  return std::string("nist-cavp/shs/shabytetestvectors/") + f.prefix + kind + ".rsp";
}

void CheckMessages(const ShsFile& f, const std::string& path, unsigned seed) {
  const Algo& a = FindAlgo(f.algo);
  std::mt19937 rng(seed);
  int count = 0;
  for (const auto& rec : ReadRsp(path)) {
    if (!rec.Has("Len")) continue;
    const size_t bits = std::stoul(rec.Get("Len"));
    ASSERT_EQ(bits % 8, 0u);
    Bytes msg = FromHex(rec.Get("Msg"));
    msg.resize(bits / 8);  // Len = 0 comes with Msg = 00
    const std::string want = rec.Get("MD");
    SCOPED_TRACE("Len = " + rec.Get("Len"));
    EXPECT_EQ(Digest(a, msg.data(), msg.size()), want);
    std::vector<size_t> cuts;
    for (size_t left = msg.size(); left > 0;) {
      const size_t cut = std::uniform_int_distribution<size_t>(0, std::min<size_t>(left, 200))(rng);
      cuts.push_back(cut);
      left -= cut;
    }
    EXPECT_EQ(DigestInPieces(a, msg.data(), msg.size(), cuts), want);
    count++;
  }
  EXPECT_GT(count, 60);
}

TEST_P(NistShs, ShortMessages) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, Path(GetParam(), "ShortMsg"));
  CheckMessages(GetParam(), path, 11);
}

TEST_P(NistShs, LongMessages) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, Path(GetParam(), "LongMsg"));
  CheckMessages(GetParam(), path, 12);
}

// SHAVS 6.4: from the seed, 100 checkpoints of 1000 chained digests each;
// every message is the previous three digests concatenated.
TEST_P(NistShs, MonteCarlo) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, Path(GetParam(), "Monte"));
  const Algo& a = FindAlgo(GetParam().algo);
  const auto records = ReadRsp(path);
  Bytes seed;
  int checked = 0;
  for (const auto& rec : records) {
    if (rec.Has("Seed")) {
      seed = FromHex(rec.Get("Seed"));
      continue;
    }
    if (!rec.Has("COUNT")) continue;
    ASSERT_EQ(seed.size(), a.md_len);
    const size_t n = a.md_len;
    Bytes md0 = seed, md1 = seed, md2 = seed, msg(3 * n), next(n);
    for (int i = 3; i < 1003; i++) {
      std::copy(md0.begin(), md0.end(), msg.begin());
      std::copy(md1.begin(), md1.end(), msg.begin() + static_cast<long>(n));
      std::copy(md2.begin(), md2.end(), msg.begin() + static_cast<long>(2 * n));
      a.oneshot(msg.data(), msg.size(), next.data());
      md0.swap(md1);
      md1.swap(md2);
      md2.swap(next);
    }
    seed = md2;
    ASSERT_EQ(morvane_test::ToHex(seed), rec.Get("MD")) << "COUNT = " << rec.Get("COUNT");
    checked++;
  }
  EXPECT_EQ(checked, 100);
}

INSTANTIATE_TEST_SUITE_P(Files, NistShs,
                         ::testing::Values(ShsFile{"SHA1", "SHA1"}, ShsFile{"SHA224", "SHA224"},
                                           ShsFile{"SHA256", "SHA256"}, ShsFile{"SHA384", "SHA384"},
                                           ShsFile{"SHA512", "SHA512"}),
                         [](const ::testing::TestParamInfo<ShsFile>& info) {
                           return std::string(info.param.prefix);
                         });

}  // namespace
}  // namespace digest_test
