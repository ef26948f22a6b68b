// The operating-system poll that seeds the built-in generator until it is
// seeded: up to 32 bytes from getrandom, else the random devices, then the
// entropy daemons, then the process id, user id, time and monotonic clock.
// Also the system hooks the generator uses.

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <sys/random.h>
#include <sys/mman.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <morvane/crypto.h>
#include <morvane/rand.h>

#include "internal/wipe.h"
#include "rand/internal.h"

namespace morvane::rand {
namespace {

constexpr const char* kDevices[] = {"/dev/urandom", "/dev/random", "/dev/srandom", nullptr};
constexpr const char* kSockets[] = {"/var/run/egd-pool", "/dev/egd-pool", "/etc/egd-pool",
                                    "/etc/entropy", nullptr};
constexpr int kWant = kSystemBytes;  // also the generator's seeding threshold

pid_t system_pid() {
  return getpid();
}
uid_t system_uid() {
  return getuid();
}

int64_t monotonic_ns() {
  timespec ts;
  if (clock_gettime(CLOCK_MONOTONIC, &ts) != 0) return 0;
  return int64_t{ts.tv_sec} * 1000000000 + ts.tv_nsec;
}

// One zero-filled shared page, kept for the life of the process: the
// children forked from it later share it too.
ForkCounter* map_fork_counter() {
  void* p =
      mmap(nullptr, sizeof(ForkCounter), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : static_cast<ForkCounter*>(p);
}

#ifndef MADV_WIPEONFORK
#define MADV_WIPEONFORK 18  // Linux 4.14 and later; older kernels refuse it
#endif

// One private page, zeroed in every child made from this process without a
// shared address space; null where the kernel cannot do that (EINVAL before
// Linux 4.14), and the fork handler and the process id alone tell children.
ForkMark* map_fork_mark() {
  void* p =
      mmap(nullptr, sizeof(ForkMark), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return nullptr;
  if (madvise(p, sizeof(ForkMark), MADV_WIPEONFORK) != 0) {
    munmap(p, sizeof(ForkMark));
    return nullptr;
  }
  return static_cast<ForkMark*>(p);
}

// The kernel's random devices: on Linux character devices 1:8 (random) and
// 1:9 (urandom), wherever they are bound.
bool kernel_random_device(const struct stat& st) {
#ifdef __linux__
  return S_ISCHR(st.st_mode) && major(st.st_rdev) == 1 &&
         (minor(st.st_rdev) == 8 || minor(st.st_rdev) == 9);
#else
  return S_ISCHR(st.st_mode);
#endif
}

// Reads what the open device `fd` yields within 10 ms into buf[*n .. kWant).
void read_device(int fd, unsigned char* buf, int* n) {
  long usec = 10000;
  ssize_t r;
  int err;
  do {
    bool readable = true;
    if (fd < FD_SETSIZE) {
      fd_set fds;
      FD_ZERO(&fds);
      FD_SET(fd, &fds);
      timeval t = {0, usec};
      if (select(fd + 1, &fds, nullptr, nullptr, &t) < 0) {
        usec = 0;
        readable = false;
      } else {
        usec = t.tv_sec * 1000000 + t.tv_usec;
        readable = FD_ISSET(fd, &fds);
      }
    }
    r = -1;
    err = EAGAIN;  // nothing readable yet
    if (readable) {
      r = read(fd, buf + *n, static_cast<size_t>(kWant - *n));
      err = r < 0 ? errno : 0;
      if (r > 0) *n += static_cast<int>(r);
    }
    // A system that does not report the time left is not waited on again.
    if (usec == 10000) usec = 0;
  } while ((r > 0 || err == EINTR || err == EAGAIN) && usec > 0 && *n < kWant);
}

bool getrandom_bytes(unsigned char* buf, size_t n) {
  while (n > 0) {
    const ssize_t r = getrandom(buf, n, 0);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    buf += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

}  // namespace

constinit Seams seams = {system_pid,   system_uid,       time,          MORVANE_issetugid,
                         RAND_poll,    getrandom_bytes,  kDevices,      kSockets,
                         monotonic_ns, map_fork_counter, map_fork_mark, kernel_random_device};

int system_entropy(unsigned char buf[kSystemBytes]) {
  if (seams.getrandom(buf, kSystemBytes)) return kSystemBytes;
  // A system without getrandom, or one that refuses it (a seccomp list):
  // each random device once, however many names lead to it.  Only the
  // kernel's random devices are read: a regular file or another device put
  // in their place (a badly made image or chroot, /dev/zero bound over them)
  // gives the same bytes every time.
  int n = 0;
  struct stat seen[8];
  int nseen = 0;
  for (const char* const* dev = seams.devices; *dev != nullptr && n < kWant; dev++) {
    const int fd = open(*dev, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    struct stat st;
    bool skip = fstat(fd, &st) != 0 || !seams.device(st);
    for (int i = 0; i < nseen && !skip; i++) {
      skip = seen[i].st_dev == st.st_dev && seen[i].st_ino == st.st_ino;
    }
    if (!skip) {
      if (nseen < 8) seen[nseen++] = st;
      read_device(fd, buf, &n);
    }
    close(fd);
  }
  return n;
}

}  // namespace morvane::rand

/* see morvane/rand.h */
int RAND_poll(void) {
  using morvane::rand::kWant;
  using morvane::rand::seams;
  const pid_t pid = seams.pid();
  unsigned char buf[kWant] = {};
  int n = morvane::rand::system_entropy(buf);
  for (const char* const* s = seams.sockets; *s != nullptr && n < kWant; s++) {
    const int r = RAND_query_egd_bytes(*s, buf + n, kWant - n);
    if (r > 0) n += r;
  }
  if (n > 0) RAND_add(buf, sizeof buf, n);
  morvane::internal::wipe(buf, sizeof buf);
  // Native 4-byte integers, estimate 0.
  const int32_t extra[3] = {static_cast<int32_t>(pid), static_cast<int32_t>(seams.uid()),
                            static_cast<int32_t>(seams.now(nullptr))};
  for (const int32_t& v : extra) RAND_add(&v, sizeof v, 0.0);
  // The monotonic clock's nanoseconds (8 native bytes, estimate 0): what
  // still tells apart two processes that start alike without fresh bytes
  // (children of a process that never used the generator, with one pid in
  // their own namespaces).
  const int64_t clock = seams.clock();
  RAND_add(&clock, sizeof clock, 0.0);
  return 1;
}
