// A random method that takes every byte straight from the operating system:
// getrandom(2), or "/dev/urandom" on a kernel without it.  The kernel keeps
// the pool, so seeding and cleanup have nothing to do.

#include <errno.h>
#include <fcntl.h>
#include <stddef.h>
#include <sys/random.h>
#include <unistd.h>

#include <morvane/rand.h>

#include "rand/internal.h"

namespace {

// Reads n bytes from "/dev/urandom"; false when it cannot be opened or read.
bool read_device(unsigned char* buf, size_t n) {
  int fd;
  do {
    fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return false;
  while (n > 0) {
    const ssize_t r = read(fd, buf, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) {
      close(fd);
      return false;
    }
    buf += r;
    n -= static_cast<size_t>(r);
  }
  close(fd);
  return true;
}

// Fills n bytes; getrandom blocks only until the kernel pool is first seeded.
bool fill(unsigned char* buf, size_t n) {
  while (n > 0) {
    const ssize_t r = getrandom(buf, n, 0);
    if (r < 0) {
      if (errno == EINTR) continue;
      if (errno == ENOSYS) return read_device(buf, n);
      return false;
    }
    buf += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

int os_bytes(unsigned char* buf, int num) {
  if (num <= 0) return 1;
  return fill(buf, static_cast<size_t>(num)) ? 1 : 0;
}

int os_status() {
  unsigned char probe;
  for (;;) {
    if (getrandom(&probe, 1, GRND_NONBLOCK) == 1) return 1;
    if (errno == EINTR) continue;
    // EAGAIN: the kernel pool is not seeded yet.
    if (errno == ENOSYS) return read_device(&probe, 1) ? 1 : 0;
    return 0;
  }
}

void os_seed(const void*, int) {}
void os_add(const void*, int, double) {}
void os_cleanup() {}

constexpr RAND_METHOD kOsMethod = {os_seed, os_bytes, os_cleanup, os_add, os_bytes, os_status};

}  // namespace

namespace morvane::rand {

const RAND_METHOD* os_method() {
  return &kOsMethod;
}

}  // namespace morvane::rand
