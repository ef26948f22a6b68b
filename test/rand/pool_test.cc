// The built-in pool generator, white-box: built from its own copy of the
// sources with the process id, user id, time, devices and daemon sockets of
// the poll replaced (crypto/rand/internal.h).  Expected bytes come from the
// independent model tools/rand_model.py.

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include "rand/internal.h"
#include "test_support.h"

namespace {

using morvane::rand::pool_view;
using morvane::rand::seams;
using morvane_test::Bytes;

pid_t fake_pid = 0;
uid_t fake_uid = 0;
time_t fake_time = 0;
int polls = 0;
const char* devices[2] = {nullptr, nullptr};
const char* const nothing[1] = {nullptr};

bool NoGetrandom(unsigned char*, size_t) {
  return false;
}

void FakeSystem(const char* device) {
  devices[0] = device;
  seams.getrandom = NoGetrandom;
  seams.pid = [] { return fake_pid; };
  seams.uid = [] { return fake_uid; };
  seams.now = [](time_t*) { return fake_time; };
  seams.devices = devices;
  seams.sockets = nothing;
}

TEST(RandPool, MatchesTheModel) {
  morvane_test::TempPath dev;
  FakeSystem(dev.c_str());
  for (const auto& r : morvane_test::ReadRsp(morvane_test::TestDataFile("rand/pool_model.txt"))) {
    const std::string op = r.Get("op");
    SCOPED_TRACE(op + " " + (r.Has("n") ? r.Get("n") : ""));
    const Bytes data = morvane_test::FromHex(r.Has("data") ? r.Get("data") : "");
    if (op == "setup") {
      fake_pid = std::stoi(r.Get("pid"));
      fake_uid = std::stoi(r.Get("uid"));
      fake_time = std::stol(r.Get("time"));
    }
    if (op == "setup" || op == "device")
      morvane_test::WriteFile(dev.path(), {data.begin(), data.end()});
    if (op == "seed") RAND_seed(data.data(), static_cast<int>(data.size()));
    if (op == "add")
      RAND_add(data.data(), static_cast<int>(data.size()), std::stod(r.Get("entropy")));
    EXPECT_TRUE(op != "status" || RAND_status() == std::stoi(r.Get("ret")));
    if (op == "cleanup") RAND_cleanup();
    if (op == "bytes") {
      Bytes out(std::stoul(r.Get("n")), morvane_test::FromHex(r.Get("fill"))[0]);
      EXPECT_EQ(RAND_bytes(out.data(), static_cast<int>(out.size())), std::stoi(r.Get("ret")));
      EXPECT_EQ(morvane_test::ToHex(out), r.Get("out"));
      ERR_clear_error();
    }
  }
}

TEST(RandPool, RequestsMoveThePoolPosition) {
  unsigned char buf[4] = {9, 9, 9, 9};
  EXPECT_EQ(RAND_bytes(buf, 0), 1);
  EXPECT_EQ(buf[0], 9);
  EXPECT_EQ(pool_view().initialized, 0);  // no poll for nothing
  ASSERT_EQ(RAND_bytes(buf, 4), 1);       // polls and stirs
  const struct { int n, advance; } cases[] = {{1, 10}, {11, 20}, {10, 10}, {100, 100}};
  unsigned char out[100];
  for (const auto& c : cases) {
    const int before = pool_view().state_index;
    ASSERT_EQ(RAND_bytes(out, c.n), 1);
    EXPECT_EQ(pool_view().state_index, (before + c.advance) % pool_view().state_num) << c.n;
  }
  const std::vector<unsigned char> big(1500, 1);
  const int before = pool_view().state_index;
  RAND_add(big.data(), 1500, 0);
  EXPECT_EQ(pool_view().state_num, 1023);
  EXPECT_EQ(pool_view().state_index, (before + 1500) % 1023);
}

TEST(RandPool, PollsOnceUntilCleanup) {
  seams.poll = [] { return ++polls, RAND_poll(); };
  unsigned char b[8];
  for (int round : {1, 2}) {
    RAND_bytes(b, 8);
    RAND_status();
    EXPECT_EQ(polls, round);
    RAND_cleanup();
  }
}

// The poll takes getrandom first, then the devices, and runs again on each
// call until the pool is seeded: a device that could not be opened at the
// first call (no descriptor free, say) seeds it at a later one.
TEST(RandPool, PollsUntilSeeded) {
  FakeSystem(nullptr);
  unsigned char b[8];
  EXPECT_EQ(RAND_bytes(b, 8), 0);
  EXPECT_EQ(RAND_status(), 0);
  morvane_test::TempPath dev;
  morvane_test::WriteFile(dev.path(), std::string(32, 'x'));
  devices[0] = dev.c_str();
  EXPECT_EQ(RAND_bytes(b, 8), 1);
  ERR_clear_error();
  RAND_cleanup();
  devices[0] = nullptr;  // no device at all, as in a namespace without /dev
  seams.getrandom = [](unsigned char* p, size_t n) { return memset(p, 'g', n), true; };
  EXPECT_EQ(RAND_status(), 1);
}

TEST(RandPool, UnseededFailsAndPseudoBytesKeepsTheQueue) {
  FakeSystem(nullptr);
  const unsigned char k[32] = {1};
  RAND_add(k, 32, 0.0);
  EXPECT_EQ(RAND_status(), 0);
  unsigned char b[16] = {};
  EXPECT_EQ(RAND_bytes(b, 16), 0);
  EXPECT_NE(std::memcmp(b, Bytes(16).data(), 16), 0);  // filled all the same
  EXPECT_EQ(ERR_peek_error(), 0x24064064UL);
  EXPECT_ERRORS({{ERR_LIB_RAND, RAND_F_QUORIX_RAND_BYTES, RAND_R_PRNG_NOT_SEEDED,
                  "You need to read the Morvane FAQ, https://www.morvane.org/support/faq.html"}});
  ERR_put_error(ERR_LIB_SYS, 1, 2, "caller.cc", 1);
  EXPECT_EQ(RAND_pseudo_bytes(b, 16), 0);
  EXPECT_ERRORS({{ERR_LIB_SYS, 1, 2}});
  // An unseeded generator writes no seed file; one there stays as it was.
  morvane_test::TempPath seed;
  morvane_test::WriteFile(seed.path(), "old");
  EXPECT_EQ(RAND_write_file(seed.c_str()), -1);
  EXPECT_EQ(morvane_test::ReadFile(seed.path()), "old");
  RAND_seed(k, 32);
  EXPECT_EQ(RAND_status(), 1);
}

const RAND_METHOD kSilent = {};

TEST(RandPool, OutputAfterCleanupUnderAnotherMethod) {
  unsigned char b[40];
  ASSERT_EQ(RAND_bytes(b, 40), 1);  // seeded and stirred
  RAND_cleanup();
  RAND_set_rand_method(&kSilent);  // the poll's adds go nowhere: the pool stays empty
  RAND_Quorix()->bytes(b, 40);
  EXPECT_GE(pool_view().state_num, 1);
  EXPECT_LT(pool_view().state_index, pool_view().state_num);
}

// The poll through a method that records what it is given.
std::vector<std::pair<int, double>> adds;
const RAND_METHOD kRecorder = {nullptr, nullptr, nullptr, [](const void*, int n, double e) {
                                 adds.push_back({n, e});
                               }};

TEST(RandPool, PollReadsEachDeviceOnce) {
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  const std::string file = dir.Join("a"), link = dir.Join("b");
  morvane_test::WriteFile(file, std::string(20, 'x'));
  ASSERT_EQ(::link(file.c_str(), link.c_str()), 0);
  const char* const both[] = {file.c_str(), link.c_str(), nullptr};
  FakeSystem(nullptr);
  seams.devices = both;
  RAND_set_rand_method(&kRecorder);
  RAND_poll();
  using A = std::vector<std::pair<int, double>>;
  EXPECT_EQ(adds, (A{{32, 20.0}, {4, 0.0}, {4, 0.0}, {4, 0.0}}));
  adds.clear();
  seams.devices = devices;
  devices[0] = "/dev/urandom";
  RAND_poll();
  EXPECT_EQ(adds, (A{{32, 32.0}, {4, 0.0}, {4, 0.0}, {4, 0.0}}));
}

TEST(RandPool, FileNameIgnoresTheEnvironmentWhenSetuid) {
  setenv("RANDFILE", "/seed", 1);
  char buf[64];
  EXPECT_STREQ(RAND_file_name(buf, sizeof buf), "/seed");
  seams.setugid = [] { return 1; };
  EXPECT_STREQ(RAND_file_name(buf, sizeof buf), "");
}

// A parent seeds and forks two children; all three draw 64 bytes.  With
// `reuse`, both children report the process id the parent had.  The
// children's fresh bytes come from getrandom, else the random device; with
// neither they draw nothing and fail, and are not seeded, until they are
// given 32 bytes of their own (`recover`: RAND_seed, or a RAND_poll that
// finds the device again).
enum class Fresh { kGetrandom, kDevice, kNone };
enum class Recover { kNo, kSeed, kPoll };
struct ForkCase {
  const char* name;
  bool reuse;
  Fresh fresh;
  Recover recover = Recover::kNo;
};
class RandFork : public testing::TestWithParam<ForkCase> {};

TEST_P(RandFork, ChildrenNeverRepeatAStream) {
  const ForkCase tc = GetParam();
  const unsigned char key[32] = {7};
  RAND_seed(key, 32);
  ASSERT_EQ(RAND_status(), 1);  // polled before the fork: the children start alike
  fake_pid = getpid();
  if (tc.reuse) seams.pid = [] { return fake_pid; };
  if (tc.fresh != Fresh::kGetrandom) FakeSystem(tc.fresh == Fresh::kDevice ? "/dev/urandom" : nullptr);
  std::set<std::string> outs;
  for (int child = 0; child < 3; child++) {
    morvane_test::Pipe p;
    const pid_t c = child < 2 ? fork() : 1;
    unsigned char b[64] = {};
    if (c == 0) {
      const bool unseeded = RAND_status() == 0;
      int r = RAND_bytes(b, 64);
      const bool refused = r == 0 && ERR_GET_REASON(ERR_peek_error()) == RAND_R_PRNG_NOT_RESEEDED &&
                           b[0] == 0 && std::memcmp(b, b + 1, 63) == 0 &&
                           RAND_pseudo_bytes(b, 64) == -1 && b[0] == 0 && unseeded;
      if (refused && tc.recover != Recover::kNo) {
        ERR_clear_error();
        const unsigned char own[32] = {static_cast<unsigned char>(child + 1)};
        RAND_seed(own, 16);  // half the entropy needed: still refused
        const bool half = RAND_status() == 0 && RAND_bytes(b, 64) == 0;
        if (tc.recover == Recover::kSeed) {
          RAND_seed(own + 16, 16);
        } else {
          devices[0] = "/dev/urandom";
          RAND_poll();
        }
        r = half && RAND_status() == 1 ? RAND_bytes(b, 64) : -2;
      }
      _exit(r == 1 && write(p.write_fd, b, 64) == 64 ? 0 : refused ? 2 : 1);
    }
    if (c != 1) {
      p.CloseWrite();
      const std::string got = morvane_test::ReadAll(p.read_fd);
      if (!got.empty()) outs.insert(got);
      int status = 1;
      ASSERT_EQ(waitpid(c, &status, 0), c);
      const bool none = tc.fresh == Fresh::kNone && tc.recover == Recover::kNo;
      EXPECT_EQ(WEXITSTATUS(status), none ? 2 : 0);
    } else {
      ASSERT_EQ(RAND_bytes(b, 64), 1);
      outs.insert(std::string(b, b + 64));
    }
  }
  const bool none = tc.fresh == Fresh::kNone && tc.recover == Recover::kNo;
  EXPECT_EQ(outs.size(), none ? 1u : 3u);
}
INSTANTIATE_TEST_SUITE_P(Fork, RandFork,
                         testing::Values(ForkCase{"NewPids", false, Fresh::kGetrandom},
                                         ForkCase{"PidReused", true, Fresh::kGetrandom},
                                         ForkCase{"PidReusedNoGetrandom", true, Fresh::kDevice},
                                         ForkCase{"PidReusedNoFreshBytes", true, Fresh::kNone},
                                         ForkCase{"NoFreshBytesThenSeeded", true, Fresh::kNone,
                                                  Recover::kSeed},
                                         ForkCase{"NoFreshBytesThenPolled", true, Fresh::kNone,
                                                  Recover::kPoll}),
                         [](const testing::TestParamInfo<ForkCase>& i) { return i.param.name; });
}  // namespace
