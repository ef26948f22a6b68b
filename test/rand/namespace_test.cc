// Forked children that all have process id 1, each in a process-id namespace
// of its own, and grandchildren that have it too, in namespaces nested in
// their parent's, under a parent that may have no entropy sources at all
// (getrandom refused, /dev an empty file system): given the same seed they
// sign with different nonces and draw different bytes, and a child that only
// signs never counts the public digests it mixes in as entropy.  Skipped
// where the system allows no namespaces.

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stddef.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bn.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/ecdsa.h>
#include <morvane/objects.h>
#include <morvane/rand.h>

#include "test_support.h"

namespace {

constexpr int kSkip = 77;
constexpr int kChildren = 16;
constexpr int kGrandchildren = 3;
const unsigned char kFixed[32] = {'o', 'n', 'e', ' ', 's', 'e', 'e', 'd'};

// Takes the entropy sources from this process and all it forks: getrandom
// fails with ENOSYS and /dev is an empty file system (a mount namespace of
// its own).  False where the system does not allow it.
bool RefuseGetrandom();
bool PrivateMounts() {
  if (unshare(CLONE_NEWNS) != 0 && unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
  return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}
bool RemoveEntropySources() {
  return PrivateMounts() && mount("none", "/dev", "tmpfs", 0, nullptr) == 0 && RefuseGetrandom();
}
bool RefuseGetrandom() {
  sock_filter filter[] = {
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_X86_64, 1, 0),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
      BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
      BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_getrandom, 0, 1),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
      BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
  };
  sock_fprog prog = {static_cast<unsigned short>(std::size(filter)), filter};
  return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
         prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &prog) == 0;
}

// What one child reports.
struct Record {
  int pid;
  int depth;       // 0 child, 1 grandchild
  int status;      // RAND_status after signing
  int ecdsa, dsa;  // the signatures were made
  int bytes;       // RAND_bytes gave 1
  int keygen;      // EC_KEY_generate_key gave 1
  unsigned char ecdsa_r[32], dsa_r[20], out[32], key[32];
};

void Fixed(const BIGNUM* bn, unsigned char* to, int size) {
  std::memset(to, 0, static_cast<size_t>(size));
  if (bn != nullptr && BN_num_bytes(bn) <= size) BN_bn2bin(bn, to + size - BN_num_bytes(bn));
}

enum class Act { kSeedAndSign, kSignOnly };

// Runs `body` as the first process (pid 1) of a new pid namespace, through a
// helper child; the helper's exit status: kSkip when the namespace cannot be
// made, else the status `body` exits with.  Returns the helper's pid.
template <class F>
pid_t InNewPidNamespace(F body) {
  const pid_t h = fork();
  if (h != 0) return h;
  if (unshare(CLONE_NEWPID) != 0) _exit(kSkip);
  const pid_t c = fork();
  if (c == 0) {
    body();
    _exit(0);
  }
  int st = 0;
  _exit(c > 0 && waitpid(c, &st, 0) == c && WIFEXITED(st) ? WEXITSTATUS(st) : 14);
}

// Signs a digest of its own (after the same fixed seed as every other
// child, or with none), draws and makes a key; then, with `grandchildren`,
// makes that many children of its own, each process id 1 in a namespace
// nested in its own, which do the same.
void Child(int fd, Act act, EC_KEY* ec, DSA* dsa, int index, int depth, int grandchildren) {
  Record r = {};
  r.pid = getpid();
  r.depth = depth;
  if (act == Act::kSeedAndSign) RAND_seed(kFixed, sizeof kFixed);
  unsigned char dgst[32] = {static_cast<unsigned char>(index), static_cast<unsigned char>(depth)};
  if (act == Act::kSignOnly) {
    // The digests go into the pool as a signature mixes them in: 72 bytes.
    unsigned char sig[128];
    unsigned int len;
    r.dsa = DSA_sign(0, dgst, 20, sig, &len, dsa) + DSA_sign(0, dgst, 20, sig, &len, dsa);
    r.ecdsa = ECDSA_sign(0, dgst, 32, sig, &len, ec);
  } else {
    if (ECDSA_SIG* s = ECDSA_do_sign(dgst, 32, ec)) {
      r.ecdsa = 1;
      Fixed(s->r, r.ecdsa_r, 32);
      ECDSA_SIG_free(s);
    }
    if (DSA_SIG* s = DSA_do_sign(dgst, 20, dsa)) {
      r.dsa = 1;
      Fixed(s->r, r.dsa_r, 20);
      DSA_SIG_free(s);
    }
    r.bytes = RAND_bytes(r.out, sizeof r.out) == 1;
  }
  r.status = RAND_status();
  EC_KEY* key = EC_KEY_new_by_curve_name(OBJ_sn2nid("prime256v1"));
  r.keygen = key != nullptr && EC_KEY_generate_key(key) == 1;
  if (r.keygen) Fixed(EC_KEY_get0_private_key(key), r.key, 32);
  EC_KEY_free(key);
  if (write(fd, &r, sizeof r) != static_cast<ssize_t>(sizeof r)) _exit(3);
  for (int g = 0; g < grandchildren; g++) {
    const pid_t h =
        InNewPidNamespace([&] { Child(fd, act, ec, dsa, index * 8 + g + 1, depth + 1, 0); });
    int st = 0;
    if (h < 0 || waitpid(h, &st, 0) != h || !WIFEXITED(st) || WEXITSTATUS(st) != 0) _exit(16);
  }
}

struct NsCase {
  const char* name;
  bool remove_sources;
  Act act;
};

// The parent: without entropy sources it is seeded by the fixed bytes
// alone.  Each child is the first process of a pid namespace of its own.
int Parent(int fd, const NsCase& tc) {
  if (tc.remove_sources) {
    if (!RemoveEntropySources()) return kSkip;
    if (RAND_status() != 0) return 10;  // the sources are still there
  }
  RAND_seed(kFixed, sizeof kFixed);
  if (RAND_status() != 1) return 11;
  EC_KEY* ec = EC_KEY_new_by_curve_name(OBJ_sn2nid("prime256v1"));
  DSA* dsa = DSA_new();
  if (ec == nullptr || EC_KEY_generate_key(ec) != 1 || dsa == nullptr ||
      DSA_generate_parameters_ex(dsa, 512, nullptr, 0, nullptr, nullptr, nullptr) != 1 ||
      DSA_generate_key(dsa) != 1)
    return 12;
  for (int i = 0; i < kChildren; i++) {
    const pid_t h =
        InNewPidNamespace([&] { Child(fd, tc.act, ec, dsa, i * 8, 0, kGrandchildren); });
    if (h < 0) return 13;
    int st = 0;
    if (waitpid(h, &st, 0) != h || !WIFEXITED(st)) return 15;
    if (WEXITSTATUS(st) != 0) return WEXITSTATUS(st);
  }
  return 0;
}

class RandNamespaces : public testing::TestWithParam<NsCase> {};

TEST_P(RandNamespaces, ChildrenWithOnePidAndOneSeed) {
  const NsCase tc = GetParam();
  morvane_test::Pipe p;
  const pid_t parent = fork();
  ASSERT_GE(parent, 0);
  if (parent == 0) _exit(Parent(p.write_fd, tc));
  p.CloseWrite();
  const std::string all = morvane_test::ReadAll(p.read_fd);
  int st = 0;
  ASSERT_EQ(waitpid(parent, &st, 0), parent);
  ASSERT_TRUE(WIFEXITED(st));
  if (WEXITSTATUS(st) == kSkip) GTEST_SKIP() << "no namespaces here";
  ASSERT_EQ(WEXITSTATUS(st), 0);

  std::vector<Record> recs(all.size() / sizeof(Record));
  ASSERT_EQ(all.size(), recs.size() * sizeof(Record));
  ASSERT_EQ(recs.size(), static_cast<size_t>(kChildren * (1 + kGrandchildren)));
  if (!recs.empty()) std::memcpy(recs.data(), all.data(), all.size());
  std::set<std::string> ecdsa_r, dsa_r, outs, keys;
  for (const Record& r : recs) {
    EXPECT_EQ(r.pid, 1);
    if (tc.act == Act::kSignOnly) {
      // Nothing of its own: no signature, no key, not seeded.
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.keygen, 0);
      EXPECT_EQ(r.ecdsa + r.dsa, 0);
      continue;
    }
    EXPECT_EQ(r.ecdsa + r.dsa + r.bytes + r.keygen + r.status, 5);
    ecdsa_r.insert(std::string(r.ecdsa_r, r.ecdsa_r + 32));
    dsa_r.insert(std::string(r.dsa_r, r.dsa_r + 20));
    outs.insert(std::string(r.out, r.out + 32));
    keys.insert(std::string(r.key, r.key + 32));
  }
  if (tc.act == Act::kSeedAndSign) {
    EXPECT_EQ(ecdsa_r.size(), recs.size());
    EXPECT_EQ(dsa_r.size(), recs.size());
    EXPECT_EQ(outs.size(), recs.size());
    EXPECT_EQ(keys.size(), recs.size());
  }
}
// A child made with its parent's process id (both process 1 of their own
// namespace, the child's nested in the parent's) by each way a process is
// made, after the parent has used the generator: its draw, its ECDSA r over
// another digest and its new key all differ from what the parent gets next,
// unless it refuses.
enum class Maker { kFork, kUnderscoreFork, kRawClone, kAppHandler };
struct MakerCase {
  const char* name;
  Maker maker;
};

struct Draws {
  int done;  // 1 all made, 0 refused
  unsigned char out[32], r[32], key[32];
};
Draws DrawAll(EC_KEY* ec, unsigned char digest) {
  Draws d = {};
  const unsigned char dgst[32] = {digest};
  EC_KEY* key = EC_KEY_new_by_curve_name(OBJ_sn2nid("prime256v1"));
  d.done = RAND_bytes(d.out, 32) == 1 && key != nullptr && EC_KEY_generate_key(key) == 1;
  ECDSA_SIG* s = d.done ? ECDSA_do_sign(dgst, 32, ec) : nullptr;
  d.done = s != nullptr;
  if (d.done) {
    Fixed(s->r, d.r, 32);
    Fixed(EC_KEY_get0_private_key(key), d.key, 32);
  }
  ECDSA_SIG_free(s);
  EC_KEY_free(key);
  return d;
}

EC_KEY* handler_key = nullptr;  // set: the next child draws in the handler
Draws handler_draws;
void DrawInChild() {
  if (handler_key != nullptr) handler_draws = DrawAll(handler_key, 1);
}

// Process 1 of a namespace: uses the generator, makes the child, compares.
int MakeAndCompare(Maker maker) {
  EC_KEY* ec = EC_KEY_new_by_curve_name(OBJ_sn2nid("prime256v1"));
  if (ec == nullptr || EC_KEY_generate_key(ec) != 1 || getpid() != 1) return 20;
  if (unshare(CLONE_NEWPID) != 0) return kSkip;
  morvane_test::Pipe p;
  if (maker == Maker::kAppHandler) handler_key = ec;
  const pid_t c = maker == Maker::kUnderscoreFork ? _Fork()
                  : maker == Maker::kRawClone     ? static_cast<pid_t>(syscall(SYS_clone, SIGCHLD, 0, 0, 0, 0))
                                                  : fork();
  if (c == 0) {
    const Draws d = maker == Maker::kAppHandler ? handler_draws : DrawAll(ec, 1);
    _exit(getpid() == 1 && write(p.write_fd, &d, sizeof d) == sizeof d ? 0 : 21);
  }
  handler_key = nullptr;
  if (c < 0) return 22;
  const Draws mine = DrawAll(ec, 2);
  p.CloseWrite();
  const std::string got = morvane_test::ReadAll(p.read_fd);
  int st = 0;
  if (waitpid(c, &st, 0) != c || !WIFEXITED(st) || WEXITSTATUS(st) != 0) return 23;
  Draws child;
  if (got.size() != sizeof child || mine.done != 1) return 24;
  std::memcpy(&child, got.data(), sizeof child);
  if (child.done == 0) return 0;  // refused
  const bool differ = std::memcmp(child.out, mine.out, 32) != 0 &&
                      std::memcmp(child.r, mine.r, 32) != 0 &&
                      std::memcmp(child.key, mine.key, 32) != 0;
  return differ ? 0 : 25;
}

class RandChildMakers : public testing::TestWithParam<MakerCase> {};

TEST_P(RandChildMakers, ChildWithItsParentsPidDrawsItsOwn) {
  const MakerCase tc = GetParam();
  // Registered before the generator's first use in this process, so it runs
  // before the generator's own handler in a forked child.
  static const bool registered = pthread_atfork(nullptr, nullptr, DrawInChild) == 0;
  ASSERT_TRUE(registered);
  const pid_t h = InNewPidNamespace([&] { _exit(MakeAndCompare(tc.maker)); });
  ASSERT_GT(h, 0);
  int st = 0;
  ASSERT_EQ(waitpid(h, &st, 0), h);
  ASSERT_TRUE(WIFEXITED(st));
  if (WEXITSTATUS(st) == kSkip) GTEST_SKIP() << "no namespaces here";
  EXPECT_EQ(WEXITSTATUS(st), 0);
}
INSTANTIATE_TEST_SUITE_P(Fork, RandChildMakers,
                         testing::Values(MakerCase{"Fork", Maker::kFork},
                                         MakerCase{"UnderscoreFork", Maker::kUnderscoreFork},
                                         MakerCase{"RawClone", Maker::kRawClone},
                                         MakerCase{"ApplicationHandler", Maker::kAppHandler}),
                         [](const testing::TestParamInfo<MakerCase>& i) { return i.param.name; });

// With the random devices bound to a regular file or to another device
// (/dev/zero) and getrandom refused, nothing is credited as system entropy,
// unless the caller seeds.
TEST(RandDevices, ARegularFileInTheDevicesPlaceIsNoSource) {
  for (const std::string source : {"", "/dev/zero"}) {  // "": a regular file
    for (const bool seeded : {false, true}) {
      const pid_t c = fork();
      ASSERT_GE(c, 0);
      if (c == 0) {
        const std::string file = "/tmp/morvane-fixed-random." + std::to_string(getpid());
        const char* kFile = source.empty() ? file.c_str() : source.c_str();
        if (!PrivateMounts()) _exit(kSkip);
        if (source.empty()) {
          int fd = open(kFile, O_CREAT | O_TRUNC | O_WRONLY, 0600);
          const std::string fixed(4096, 'f');
          if (fd < 0 || write(fd, fixed.data(), fixed.size()) != 4096) _exit(30);
          close(fd);
        }
        bool bound = true;
        for (const char* dev : {"/dev/urandom", "/dev/random"})
          bound = bound && mount(kFile, dev, nullptr, MS_BIND, nullptr) == 0;
        if (source.empty()) unlink(kFile);
        if (!bound) _exit(kSkip);
        if (!RefuseGetrandom()) _exit(kSkip);
        if (seeded) RAND_seed(kFixed, sizeof kFixed);
        unsigned char b[32];
        const int want = seeded ? 1 : 0;
        _exit(RAND_status() == want && RAND_bytes(b, 32) == want ? 0 : 31);
      }
      int st = 0;
      ASSERT_EQ(waitpid(c, &st, 0), c);
      ASSERT_TRUE(WIFEXITED(st));
      if (WEXITSTATUS(st) == kSkip) GTEST_SKIP() << "no mount namespace here";
      EXPECT_EQ(WEXITSTATUS(st), 0) << source << " " << seeded;
    }
  }
}

// Children given 32 bytes in the application's own fork handler, registered
// before the generator's first use (so it runs before the generator's own)
// or after, with no system entropy (getrandom refused, both random devices
// bound to /dev/null): each draws, and two given different bytes differ.
unsigned char handler_seed[32];
int SeededInTheHandler(bool before) {
  auto handler = [] { RAND_seed(handler_seed, sizeof handler_seed); };
  bool ok = PrivateMounts();
  for (const char* dev : {"/dev/urandom", "/dev/random"})
    ok = ok && mount("/dev/null", dev, nullptr, MS_BIND, nullptr) == 0;
  if (!ok || !RefuseGetrandom()) return kSkip;
  if (before) pthread_atfork(nullptr, nullptr, handler);
  RAND_seed(kFixed, sizeof kFixed);
  if (!before) pthread_atfork(nullptr, nullptr, handler);
  std::set<std::string> outs;
  for (unsigned char i = 0; i < 2; i++) {
    std::memset(handler_seed, i, sizeof handler_seed);
    morvane_test::Pipe p;
    unsigned char b[32];
    if (fork() == 0) _exit(RAND_bytes(b, 32) == 1 && write(p.write_fd, b, 32) == 32 ? 0 : 1);
    p.CloseWrite();
    outs.insert(morvane_test::ReadAll(p.read_fd));
  }
  return outs.size() == 2 && outs.count("") == 0 ? 0 : 40;
}

class RandHandlerSeed : public testing::TestWithParam<bool> {};
TEST_P(RandHandlerSeed, ChildSeededInAForkHandlerDraws) {
  const pid_t c = fork();
  if (c == 0) _exit(SeededInTheHandler(GetParam()));
  int st = 0;
  ASSERT_EQ(waitpid(c, &st, 0), c);
  if (WEXITSTATUS(st) == kSkip) GTEST_SKIP() << "no mount namespace here";
  EXPECT_EQ(WEXITSTATUS(st), 0);
}
INSTANTIATE_TEST_SUITE_P(Fork, RandHandlerSeed, testing::Bool());

INSTANTIATE_TEST_SUITE_P(Fork, RandNamespaces,
                         testing::Values(NsCase{"NoEntropySources", true, Act::kSeedAndSign},
                                         NsCase{"NoEntropySourcesSignOnly", true, Act::kSignOnly},
                                         NsCase{"EntropySources", false, Act::kSeedAndSign}),
                         [](const testing::TestParamInfo<NsCase>& i) { return i.param.name; });

}  // namespace
