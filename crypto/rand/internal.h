// Internal to the random generator: the built-in pool generator's hooks into
// the system, which a test built from these sources replaces, and a view of
// the pool's counters for such tests.  Nothing outside crypto/rand reaches
// them in the library.
#ifndef MORVANE_CRYPTO_RAND_INTERNAL_H
#define MORVANE_CRYPTO_RAND_INTERNAL_H

#include <stdint.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <morvane/rand.h>

namespace morvane::rand {

// A counter in memory shared with every process forked after it was made (an
// anonymous shared mapping): each forked child takes a number of its own from
// it, so no two children of one family get the same one, whatever their
// process ids.
struct ForkCounter {
  uint64_t taken;  // through atomic_ref
};

// A word in a private page that the kernel hands every child made without a
// shared address space (fork, _Fork, a raw clone) filled with zeros
// (MADV_WIPEONFORK); threads share it.  The generator sets it to 1 in the
// process that maps it and again in each child that finds it 0.
struct ForkMark {
  uint32_t set;  // through atomic_ref
};

// Where the generator and the poll take what they know of the process.
struct Seams {
  pid_t (*pid)();              // hashed into output, added by the poll
  uid_t (*uid)();              // added by the poll
  time_t (*now)(time_t*);      // added by the poll
  int (*setugid)();            // RAND_file_name ignores the environment when set
  int (*poll)();               // run by output and status calls until seeded
  bool (*getrandom)(unsigned char*, size_t);  // the whole request, or false
  const char* const* devices;  // the poll's devices, null-terminated
  const char* const* sockets;  // the poll's entropy-daemon sockets, null-terminated
  int64_t (*clock)();          // monotonic nanoseconds: added by the poll, mixed in after a fork
  ForkCounter* (*fork_counter)();  // a new shared counter, or null when none can be made
  ForkMark* (*fork_mark)();  // a new mark, or null where the kernel cannot wipe one
  bool (*device)(const struct stat&);  // whether an open file is read as a random device
};
extern constinit Seams seams;

// The pool's counters, read under lock 18.
struct PoolView {
  int state_num;
  int state_index;
  double entropy;
  int initialized;
  int stirred;
};
PoolView pool_view();

// Up to kSystemBytes fresh bytes from the operating system into buf:
// getrandom, else the random devices (each read for at most 10 ms); the
// number of bytes written.
constexpr int kSystemBytes = 32;
int system_entropy(unsigned char buf[kSystemBytes]);

}  // namespace morvane::rand

#endif  // MORVANE_CRYPTO_RAND_INTERNAL_H
