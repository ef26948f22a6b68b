// The entropy sources and the seed file: loading in chunks, writing with mode
// 0600, the default name, the entropy-daemon client against a test daemon,
// and draws and adds from 8 threads under real locks.

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <climits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/rand.h>

#include "test_support.h"

namespace {

using Adds = std::vector<std::pair<int, double>>;
Adds adds;
const RAND_METHOD kRecorder = {nullptr, nullptr, nullptr, [](const void*, int n, double e) {
                                 adds.push_back({n, e});
                               }};
constexpr int kStat = sizeof(struct stat);

TEST(RandFile, LoadsInChunks) {
  morvane_test::TempPath file;
  morvane_test::WriteFile(file.path(), std::string(1500, 'r'));
  const struct {
    const char* name;
    long bytes;
    int ret;
    Adds adds;
  } cases[] = {
      // The short last chunk adds only the 476 bytes read, not stale ones.
      {file.c_str(), -1, 1500, {{kStat, 0}, {1024, 1024}, {476, 476}}},
      {file.c_str(), 1100, 1100, {{kStat, 0}, {1024, 1024}, {76, 76}}},
      {file.c_str(), 0, 0, {{kStat, 0}}},
      {"/nonexistent/seed", -1, 0, {}},
      {"/dev/urandom", -1, 2048, {{kStat, 0}, {1024, 1024}, {1024, 1024}}},
  };
  RAND_set_rand_method(&kRecorder);
  for (const auto& c : cases) {
    adds.clear();
    EXPECT_EQ(RAND_load_file(c.name, c.bytes), c.ret) << c.name << " " << c.bytes;
    EXPECT_EQ(adds, c.adds) << c.name << " " << c.bytes;
  }
}

// A file over 2 GB (sparse: its zeros cost no disk) is read whole; the count
// stops at INT_MAX instead of wrapping.
TEST(RandFile, CountOfAFileOver2GbStopsAtIntMax) {
  morvane_test::TempPath file;
  ASSERT_EQ(0, truncate(file.c_str(), 0x80000000L + 4096));
  RAND_set_rand_method(&kRecorder);
  adds.clear();
  adds.reserve(1 << 21);
  EXPECT_EQ(INT_MAX, RAND_load_file(file.c_str(), -1));
  long long sum = 0;
  for (const auto& a : adds) sum += a.first;
  EXPECT_EQ(0x80000000LL + 4096 + kStat, sum);
}

TEST(RandFile, WritesOwnerOnly) {
  EXPECT_EQ(RAND_write_file("/dev/urandom"), 1);
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  const std::string fresh = dir.Join("fresh"), old = dir.Join("old");
  morvane_test::WriteFile(old, "x");
  chmod(old.c_str(), 0644);
  const mode_t mask = umask(0);
  for (const std::string& f : {fresh, old}) {
    EXPECT_EQ(RAND_write_file(f.c_str()), 1024);
    struct stat st;
    ASSERT_EQ(stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << f;
    EXPECT_EQ(st.st_size, 1024);
  }
  umask(mask);
  EXPECT_EQ(RAND_load_file(fresh.c_str(), -1), 1024);
}

TEST(RandFile, DefaultName) {
  const std::string too_long(40, 'r');
  const struct {
    const char *randfile, *home;
    size_t size;
    const char* name;
  } cases[] = {
      {nullptr, "/home/x", 14, "/home/x/.rnd"},
      {nullptr, "/home/x", 13, ""},
      {"/r", "/home/x", 64, "/r"},
      {too_long.c_str(), "/h", 10, "/h/.rnd"},
      {"", nullptr, 64, ""},
  };
  for (const auto& c : cases) {
    c.randfile ? setenv("RANDFILE", c.randfile, 1) : unsetenv("RANDFILE");
    c.home ? setenv("HOME", c.home, 1) : unsetenv("HOME");
    char buf[64];
    EXPECT_STREQ(RAND_file_name(buf, c.size), c.name) << c.size;
  }
}

// A test daemon answering one connection: round i replies with counts[i]
// bytes (-1: as many as asked), then hangs up.
void Serve(int listener, std::vector<int> counts) {
  const int fd = accept(listener, nullptr, nullptr);
  unsigned char req[2];
  for (int c : counts) {
    if (recv(fd, req, 2, MSG_WAITALL) != 2 || req[0] != 1) break;
    const std::string reply = std::string(1, static_cast<char>(c < 0 ? req[1] : c)) +
                              std::string(c < 0 ? req[1] : c, 'e');
    if (send(fd, reply.data(), reply.size(), MSG_NOSIGNAL) < 0) break;
  }
  close(fd);
}

TEST(RandEgd, QueriesTheDaemon) {
  const struct {
    int ask;
    std::vector<int> counts;
    int ret;
  } cases[] = {
      {40, {-1}, 40}, {300, {-1, -1}, 300}, {40, {10, 0}, 10}, {5, {6}, -1}, {40, {10, 200}, -1},
  };
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  const std::string path = dir.Join("egd");
  for (const auto& c : cases) {
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr = {AF_UNIX, {}};
    path.copy(addr.sun_path, path.size());
    unlink(path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    std::thread daemon(Serve, listener, c.counts);
    std::vector<unsigned char> buf(c.ask + 8, 0);
    EXPECT_EQ(RAND_query_egd_bytes(path.c_str(), buf.data(), c.ask), c.ret) << c.ask;
    daemon.join();
    close(listener);
    EXPECT_EQ(buf[c.ask], 0);  // nothing past what was asked for
  }
  EXPECT_EQ(RAND_query_egd_bytes(dir.Join("none").c_str(), nullptr, 8), 0);
  EXPECT_EQ(RAND_query_egd_bytes(("/" + std::string(103, 'p')).c_str(), nullptr, 8), -1);
}

TEST(RandThreads, DrawsAndAddsOnEightThreads) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  std::vector<std::string> firsts(8);
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; t++) {
    threads.emplace_back([t, &firsts] {
      unsigned char b[64] = {};
      for (int i = 0; i < 200; i++) {
        EXPECT_EQ(RAND_bytes(b, 1 + (i + t) % 64), 1);
        if (i == 0) firsts[t].assign(b, b + 32);
        RAND_add(b, 8 * t, 0.5);
        if (i % 50 == 0) {
          EXPECT_EQ(RAND_status(), 1);
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(std::set<std::string>(firsts.begin(), firsts.end()).size(), 8u);
}

}  // namespace
