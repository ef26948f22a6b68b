// The built-in pool generator, white-box: built from its own copy of the
// sources with the process id, user id, time, clock, devices and daemon
// sockets of the poll and the shared fork counter replaced
// (crypto/rand/internal.h).  Expected bytes come from the
// independent model tools/rand_model.py.

#include <pthread.h>
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
int64_t fake_clock = 0;
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
  seams.clock = [] { return fake_clock; };
  seams.devices = devices;
  seams.sockets = nothing;
  seams.device = [](const struct stat& st) { return S_ISCHR(st.st_mode) || S_ISREG(st.st_mode); };
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
      fake_clock = std::stoll(r.Get("clock"));
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
  EXPECT_EQ(adds, (A{{32, 20.0}, {4, 0.0}, {4, 0.0}, {4, 0.0}, {8, 0.0}}));
  adds.clear();
  seams.devices = devices;
  devices[0] = "/dev/urandom";
  RAND_poll();
  EXPECT_EQ(adds, (A{{32, 32.0}, {4, 0.0}, {4, 0.0}, {4, 0.0}, {8, 0.0}}));
}

// Only a character device counts as a random device: a regular file in its
// place is not read, and nothing seeds the pool.
TEST(RandPool, ARegularFileIsNoDevice) {
  morvane_test::TempPath dev;
  morvane_test::WriteFile(dev.path(), std::string(64, 'f'));
  FakeSystem(dev.c_str());
  seams.device = [](const struct stat& st) { return S_ISCHR(st.st_mode); };
  unsigned char b[8];
  EXPECT_EQ(RAND_status(), 0);
  EXPECT_EQ(RAND_bytes(b, 8), 0);
  devices[0] = "/dev/urandom";
  EXPECT_EQ(RAND_status(), 1);
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
  bool mark = true;  // false: a kernel that cannot wipe the fork mark
};
class RandFork : public testing::TestWithParam<ForkCase> {};

TEST_P(RandFork, ChildrenNeverRepeatAStream) {
  const ForkCase tc = GetParam();
  if (!tc.mark) seams.fork_mark = [] { return static_cast<morvane::rand::ForkMark*>(nullptr); };
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
                                         ForkCase{"PidReusedNoMark", true, Fresh::kGetrandom,
                                                  Recover::kNo, false},
                                         ForkCase{"PidReusedNoGetrandom", true, Fresh::kDevice},
                                         ForkCase{"PidReusedNoFreshBytes", true, Fresh::kNone},
                                         ForkCase{"NoFreshBytesThenSeeded", true, Fresh::kNone,
                                                  Recover::kSeed},
                                         ForkCase{"NoFreshBytesThenPolled", true, Fresh::kNone,
                                                  Recover::kPoll}),
                         [](const testing::TestParamInfo<ForkCase>& i) { return i.param.name; });

// Where the kernel cannot wipe the fork mark, 32 bytes given in a child by an
// application's fork handler that runs before the generator's own count for
// that child, which draws without fresh bytes.
TEST(RandPool, HandlerSeedBeforeTheCountWithoutMark) {
  seams.fork_mark = [] { return static_cast<morvane::rand::ForkMark*>(nullptr); };
  FakeSystem(nullptr);
  seams.pid = [] { return getpid(); };
  ASSERT_EQ(
      pthread_atfork(nullptr, nullptr, [] { RAND_seed("32 bytes of the child's own seed", 32); }),
      0);
  RAND_seed("32 bytes of the parent's own seed", 32);
  unsigned char b[16];
  const pid_t c = fork();
  if (c == 0) _exit(RAND_bytes(b, 16) == 1 ? 0 : 1);
  int status = 1;
  ASSERT_EQ(waitpid(c, &status, 0), c);
  EXPECT_EQ(WEXITSTATUS(status), 0);
}
}  // namespace

namespace {

// ---- families of forked processes given one seed ---------------------------

using morvane::rand::ForkCounter;

// What a member of a family reports: whether it drew, or refused as it must
// (status 0, "prng not reseeded", nothing written), or did something else;
// and what it drew.  Under allocation failures (`any_failure`) the status
// is not asked and any failure that hands nothing out is a refusal.
enum Kind : unsigned char { kRefused, kDrew, kWrong };
struct Record {
  Kind kind;
  unsigned char bytes[32];
};

Record Draw(bool any_failure = false) {
  Record r = {kWrong, {}};
  const int status = any_failure ? 1 : RAND_status();
  const int got = RAND_bytes(r.bytes, sizeof r.bytes);
  const bool reseed = ERR_GET_REASON(ERR_peek_last_error()) == RAND_R_PRNG_NOT_RESEEDED;
  const bool none = r.bytes[0] == 0 && std::memcmp(r.bytes, r.bytes + 1, sizeof r.bytes - 1) == 0;
  if (got == 1 && status == 1) {
    r.kind = kDrew;
  } else if (got == 0 && none && (any_failure || (status == 0 && reseed))) {
    r.kind = kRefused;
  }
  ERR_clear_error();
  return r;
}

void Send(int fd, const Record& r) {
  if (write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(3);
}

// Every record sent to the pipe until all writers have gone; counts by kind
// and the distinct outputs drawn.
struct Tally {
  int drew = 0, refused = 0, wrong = 0;
  std::set<std::string> outs;
};
Tally Collect(morvane_test::Pipe& p) {
  p.CloseWrite();
  const std::string all = morvane_test::ReadAll(p.read_fd);
  Tally t;
  for (size_t at = 0; at + sizeof(Record) <= all.size(); at += sizeof(Record)) {
    Record r;
    std::memcpy(&r, all.data() + at, sizeof r);
    t.drew += r.kind == kDrew;
    t.refused += r.kind == kRefused;
    t.wrong += r.kind == kWrong;
    if (r.kind == kDrew) t.outs.insert(std::string(r.bytes, r.bytes + sizeof r.bytes));
  }
  return t;
}

void Reap(const std::vector<pid_t>& pids) {
  for (pid_t c : pids) waitpid(c, nullptr, 0);
}

// What each member is given before it draws: the same fixed 32 bytes as
// every other; 64 bytes of public data counted as no entropy, as a
// signature mixes in its digest; a cleanup and then the fixed bytes; or the
// fixed bytes, a draw, a cleanup and the fixed bytes again.
enum class Given { kSameSeed, kPublicOnly, kCleanupThenSameSeed, kDrawCleanupThenSameSeed };

void Give(Given g) {
  static const unsigned char kFixed[32] = {'o', 'n', 'e', ' ', 's', 'e', 'e', 'd'};
  if (g == Given::kDrawCleanupThenSameSeed) {
    unsigned char b[8];
    RAND_seed(kFixed, 32);
    RAND_bytes(b, sizeof b);
  }
  if (g == Given::kCleanupThenSameSeed || g == Given::kDrawCleanupThenSameSeed) RAND_cleanup();
  if (g == Given::kPublicOnly) {
    RAND_add(kFixed, 32, 0.0);
    RAND_add(kFixed, 32, 0.0);
  } else {
    RAND_seed(kFixed, 32);
  }
}

// A parent seeds the pool and forks kChildren children; each child is given
// its bytes and forks kGrandchildren of its own, half before its own first
// draw and half after it; each grandchild is given the same and draws.  All
// of them report one process id and the monotonic clock stands still, so
// only fresh system bytes and the number each takes from the shared counter
// set them apart.  Without fresh bytes or without the counter (it could not
// be made), or given no entropy of their own, they must all refuse.
constexpr int kChildren = 40;
constexpr int kGrandchildren = 4;

struct FamilyCase {
  const char* name;
  Fresh fresh;
  bool counter;
  Given given;
  bool draw;  // every member draws; else every member refuses
};
class RandFamily : public testing::TestWithParam<FamilyCase> {};

void Member(int fd, Given given, int grandchildren) {
  Give(given);
  std::vector<pid_t> kids;
  for (int g = 0; g <= grandchildren; g++) {
    if (g == grandchildren / 2) Send(fd, Draw());
    if (g == grandchildren) break;
    const pid_t k = fork();
    if (k == 0) {
      Member(fd, given, 0);
      _exit(0);
    }
    kids.push_back(k);
  }
  Reap(kids);
}

TEST_P(RandFamily, NoTwoMembersDrawOneStream) {
  const FamilyCase tc = GetParam();
  if (tc.fresh != Fresh::kGetrandom)
    FakeSystem(tc.fresh == Fresh::kDevice ? "/dev/urandom" : nullptr);
  if (!tc.counter) seams.fork_counter = [] { return static_cast<ForkCounter*>(nullptr); };
  fake_pid = getpid();
  seams.pid = [] { return fake_pid; };
  seams.clock = [] { return int64_t{42}; };
  const unsigned char key[32] = {7};
  RAND_seed(key, 32);
  ASSERT_EQ(RAND_status(), 1);

  morvane_test::Pipe p;
  std::vector<pid_t> kids;
  for (int c = 0; c < kChildren; c++) {
    const pid_t k = fork();
    ASSERT_GE(k, 0);
    if (k == 0) {
      Member(p.write_fd, tc.given, kGrandchildren);
      _exit(0);
    }
    kids.push_back(k);
  }
  Reap(kids);
  const Tally t = Collect(p);
  constexpr int kAll = kChildren * (1 + kGrandchildren);
  EXPECT_EQ(t.wrong, 0);
  EXPECT_EQ(t.drew, tc.draw ? kAll : 0);
  EXPECT_EQ(t.refused, tc.draw ? 0 : kAll);
  EXPECT_EQ(t.outs.size(), static_cast<size_t>(t.drew));
  unsigned char own[32];
  ASSERT_EQ(RAND_bytes(own, 32), 1);  // the parent's stream is its own too
  EXPECT_EQ(t.outs.count(std::string(own, own + 32)), 0u);
}
INSTANTIATE_TEST_SUITE_P(
    Fork, RandFamily,
    testing::Values(
        FamilyCase{"FreshBytes", Fresh::kGetrandom, true, Given::kSameSeed, true},
        FamilyCase{"FreshBytesFromTheDevice", Fresh::kDevice, true, Given::kSameSeed, true},
        FamilyCase{"FreshBytesNoCounter", Fresh::kGetrandom, false, Given::kSameSeed, true},
        FamilyCase{"NoFreshBytes", Fresh::kNone, true, Given::kSameSeed, true},
        FamilyCase{"NoFreshBytesCleanupFirst", Fresh::kNone, true, Given::kCleanupThenSameSeed,
                   true},
        FamilyCase{"NoFreshBytesCleanupAfterADraw", Fresh::kNone, true,
                   Given::kDrawCleanupThenSameSeed, true},
        FamilyCase{"NoFreshBytesNoCounter", Fresh::kNone, false, Given::kSameSeed, false},
        FamilyCase{"NoFreshBytesPublicDataOnly", Fresh::kNone, true, Given::kPublicOnly, false},
        FamilyCase{"FreshBytesPublicDataOnly", Fresh::kGetrandom, true, Given::kPublicOnly, true}),
    [](const testing::TestParamInfo<FamilyCase>& i) { return i.param.name; });

// ---- allocation failures over a child's seed and first draw ---------------

// A child is given the fixed bytes and draws twice; 1, 2 or 3 allocations in
// a row fail, from each allocation of its seed and first draw on.  A draw
// either refuses or gives bytes that no other child of the sweep gives; a
// mix that failed counts for nothing.  The clock stands still; without the
// counter, only the mix of fresh bytes sets the children apart.
struct SweepCase {
  const char* name;
  bool reuse;
  Fresh fresh;
  bool counter = true;
};
class RandSweep : public testing::TestWithParam<SweepCase> {};

TEST_P(RandSweep, FailedAllocationsNeverRepeatAStream) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const SweepCase tc = GetParam();
  if (tc.fresh == Fresh::kNone) FakeSystem(nullptr);
  if (!tc.counter) seams.fork_counter = [] { return static_cast<ForkCounter*>(nullptr); };
  fake_pid = getpid();
  if (tc.reuse) seams.pid = [] { return fake_pid; };
  seams.clock = [] { return int64_t{42}; };
  const unsigned char key[32] = {7};
  RAND_seed(key, 32);
  unsigned char b[8];
  ASSERT_EQ(RAND_bytes(b, 8), 1);  // stirred: the sweep covers what a child does
  morvane_test::Pipe p;
  std::vector<pid_t> kids;
  for (int run = 1; run <= 3; run++) {
    for (int at = 1; at <= 12; at++) {
      const pid_t k = fork();
      ASSERT_GE(k, 0);
      if (k == 0) {
        morvane_test::FailAllocationsAfter(at, run);
        Give(Given::kSameSeed);
        const Record first = Draw(true);
        morvane_test::FailAllocationAfter(0);
        Send(p.write_fd, first);
        Send(p.write_fd, Draw(true));
        _exit(0);
      }
      kids.push_back(k);
    }
  }
  Reap(kids);
  const Tally t = Collect(p);
  EXPECT_EQ(t.wrong, 0);
  EXPECT_EQ(t.outs.size(), static_cast<size_t>(t.drew));
  EXPECT_GT(t.refused, 0);    // the failures reached the first draw
  EXPECT_GE(t.drew, 3 * 12);  // and most draws still give bytes
}
INSTANTIATE_TEST_SUITE_P(Fork, RandSweep,
                         testing::Values(SweepCase{"FreshBytes", false, Fresh::kGetrandom},
                                         SweepCase{"FreshBytesPidReused", true, Fresh::kGetrandom},
                                         SweepCase{"NoFreshBytes", false, Fresh::kNone},
                                         SweepCase{"NoFreshBytesPidReused", true, Fresh::kNone},
                                         SweepCase{"NoCounterPidReused", true, Fresh::kGetrandom,
                                                   false}),
                         [](const testing::TestParamInfo<SweepCase>& i) { return i.param.name; });

// A mix whose digest cannot be made credits nothing and says so.
TEST(RandPool, AMixWhoseDigestFailsCreditsNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  FakeSystem(nullptr);
  const unsigned char k[32] = {3};
  RAND_add(k, 1, 0.0);  // the method is chosen
  morvane_test::FailAllocationAfter(1);
  RAND_seed(k, 32);
  EXPECT_EQ(ERR_GET_FUNC(ERR_peek_last_error()), RAND_F_QUORIX_RAND_ADD);
  EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), ERR_R_EVP_LIB);
  ERR_clear_error();
  EXPECT_EQ(RAND_status(), 0);
  RAND_seed(k, 32);
  EXPECT_EQ(RAND_status(), 1);
}

}  // namespace
