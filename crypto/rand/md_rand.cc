// The built-in pool generator (RAND_Quorix): a 1023-byte pool and a 20-byte
// chaining value, mixed and read out with SHA-1 through the digest envelope.
//
// Implementation notes.  Lock 18 guards the counters, `md` and the entropy
// estimate; lock 19 the id of the thread that holds 18 for an output or
// status call, so that the adds made by the poll and the stir from inside
// that call (the owning-thread test) take no lock.  Pool bytes are hashed and
// updated outside the lock on windows reserved under it, through relaxed
// atomic_ref, as are the owner flag and thread id: concurrent use under
// locking callbacks is free of data races, and windows that overlap (more data
// than the pool holds) may lose one another's updates, which is accepted.
// Without locking callbacks the generator serves one thread.
//
// Beyond the bare scheme: output and status calls poll the system until the
// pool is seeded, not only the first time (no descriptor free at that moment
// is no reason to stay unseeded).  An output or status call in a process
// other than the one that last used the pool (a forked child: another process
// id, or a fork counted by the fork handler or found by the fork mark, a
// private page the kernel zeroes in every child whatever made it, which
// tells apart processes with one id) first mixes in,
// in one step, 32 fresh bytes from the system, a number of the child's own,
// the monotonic clock and the process id.  The number comes from a counter
// that the pool's first user maps shared, so every process forked from it,
// and from its children, takes a different one whatever its process id.
// Without fresh bytes the child gives no output (and its status is 0) until
// its own adds have brought 32 bytes of entropy, and then only when it holds
// such a number: two children given the same bytes never draw one stream.
// The number is also hashed into each output request, so a cleanup in a child
// does not make it like another.  A mix whose digest fails leaves the
// chaining value and the estimate as they were, credits nothing and queues
// an error; a child whose mix failed is not marked mixed.  The output
// buffer's contents are never read (they are the caller's, often
// uninitialised); the pool's used length is kept at least 1 and the output
// position below it.

#include <pthread.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>

#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>

#include "internal/lock.h"
#include "internal/err_mark.h"
#include "internal/wipe.h"
#include "rand/internal.h"

namespace morvane::rand {
namespace {

using internal::Wiper;

constexpr int kPoolSize = 1023;
constexpr int kMdSize = 20;
constexpr double kSeeded = 32.0;
constexpr char kFaq[] =
    "You need to read the Morvane FAQ, https://www.morvane.org/support/faq.html";

// Forks seen from this process's line, each counted once in the child it
// made: by a fork handler that the pool's first user registers, or by
// this_process in a child that finds the fork mark wiped (made without that
// handler: _Fork, a raw clone, or an add or draw in an application's child
// handler that runs first); whichever comes first sets the mark again, so
// the other does not count the same fork.  With the process id it tells a
// process apart from its parent even where both have one id (a child that
// is the first process of a pid namespace nested in its parent's, or that
// was given its parent's id anew).
constinit std::atomic<unsigned> forks{0};

// A process as the pool sees it.
struct Process {
  pid_t pid;
  unsigned forks;
  bool operator==(const Process&) const = default;
};

struct Pool {
  unsigned char state[kPoolSize];
  int state_num;
  int state_index;
  unsigned char md[kMdSize];
  uint32_t md_count[2];  // [0] output requests, [1] 20-byte add steps
  double entropy;
  int initialized;
  int stirred_pool;
  int crypto_lock_rand;          // outside lock 18: atomic_ref
  unsigned long locking_thread;  // under lock 19: atomic_ref
  Process last;                  // the process that last used the pool (fork check)
  Process credit_by;             // a process not `last` that has added entropy
  double credit;                 // the entropy it added, towards its own reseeding
  ForkCounter* family;           // shared with every process forked from here, or null
  uint64_t ticket;               // this process's number from `family`, 0 for none
  Process ticket_by;             // the process that took `ticket`
  bool counting;                 // the fork handler is registered
  ForkMark* mark;                // wiped in every child; null where it cannot be (atomic_ref)
  bool marking;                  // a mark was asked for
};
constinit Pool pool{};

template <class T>
std::atomic_ref<T> relaxed(T& v) {
  return std::atomic_ref<T>(v);
}

ForkMark* fork_mark() {
  return relaxed(pool.mark).load(std::memory_order_relaxed);
}

void count_fork() {
  forks.fetch_add(1, std::memory_order_relaxed);
}

// Whether the mark was found wiped, which sets it again: the fork that made
// this process is then not counted yet.
bool take_wiped_mark(ForkMark* mark) {
  if (relaxed(mark->set).load(std::memory_order_relaxed) != 0) return false;
  relaxed(mark->set).store(1, std::memory_order_relaxed);
  return true;
}

// The fork handler, in the child (its only thread) after every fork.
// Without a mark, what an application's handler that ran first added in
// this child was credited under the identity before the count: it passes on.
void on_fork() {
  if (ForkMark* mark = fork_mark()) {
    if (take_wiped_mark(mark)) count_fork();
    return;
  }
  const Process before = {seams.pid(), forks.load(std::memory_order_relaxed)};
  count_fork();
  if (pool.credit_by == before && !(pool.last == before))
    pool.credit_by.forks = forks.load(std::memory_order_relaxed);
}

// Lock 18 held by this thread: the calling process, a child counted as
// forked when it finds the mark wiped.  Two relaxed loads when nothing forked.
Process this_process() {
  ForkMark* mark = fork_mark();
  if (mark != nullptr && take_wiped_mark(mark)) count_fork();
  return {seams.pid(), forks.load(std::memory_order_relaxed)};
}

unsigned char pool_byte(int i) {
  return relaxed(pool.state[i]).load(std::memory_order_relaxed);
}
void pool_xor(int i, unsigned char v) {
  auto b = relaxed(pool.state[i]);
  b.store(b.load(std::memory_order_relaxed) ^ v, std::memory_order_relaxed);
}

// SHA-1 over one context that the generator reuses for its rounds.
class Sha1 {
 public:
  Sha1() { EVP_MD_CTX_init(&ctx_); }
  ~Sha1() { EVP_MD_CTX_cleanup(&ctx_); }
  Sha1(const Sha1&) = delete;
  Sha1& operator=(const Sha1&) = delete;
  // After a failure every step does nothing: ok() stays false.
  void begin() {
    if (ok_) ok_ = EVP_DigestInit_ex(&ctx_, EVP_sha1(), nullptr) == 1;
  }
  void update(const void* p, size_t n) {
    if (ok_ && n != 0) ok_ = EVP_DigestUpdate(&ctx_, p, n) == 1;
  }
  // `n` pool bytes from `at`, wrapping to position 0 at `end`.
  void update_pool(int at, int n, int end) {
    unsigned char tmp[kMdSize];
    Wiper w(tmp);
    for (int i = 0; i < n; i++) {
      tmp[i] = pool_byte(at);
      if (++at >= end) at = 0;
    }
    update(tmp, static_cast<size_t>(n));
  }
  void finish(unsigned char out[kMdSize]) {
    if (ok_) ok_ = EVP_DigestFinal_ex(&ctx_, out, nullptr) == 1;
  }
  bool ok() const { return ok_; }

 private:
  EVP_MD_CTX ctx_;
  bool ok_ = true;
};

// The owning-thread test: true when this thread holds lock 18 for an output
// or status call, so the caller must not take it again.
bool held_by_this_thread() {
  if (relaxed(pool.crypto_lock_rand).load(std::memory_order_relaxed) == 0) return false;
  MORVANE_READ_LOCKED(CRYPTO_LOCK_RAND2);
  return relaxed(pool.locking_thread).load(std::memory_order_relaxed) == CRYPTO_thread_id();
}

// Marks this thread as the holder of lock 18 (which it has just taken).
void become_owner() {
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_RAND2);
    relaxed(pool.locking_thread).store(CRYPTO_thread_id(), std::memory_order_relaxed);
  }
  relaxed(pool.crypto_lock_rand).store(1, std::memory_order_relaxed);
}
void end_owner() {
  relaxed(pool.crypto_lock_rand).store(0, std::memory_order_relaxed);
}

void lock_pool() {
  CRYPTO_w_lock(CRYPTO_LOCK_RAND);
}
void unlock_pool() {
  CRYPTO_w_unlock(CRYPTO_LOCK_RAND);
}

// Runs the poll while the pool is not seeded (lock 18 held by this thread).
void poll_until_seeded() {
  if (pool.initialized == 0 || pool.entropy < kSeeded) {
    seams.poll();
    pool.initialized = 1;
  }
}

// Lock 18 held by this thread: the pool is now this process's (its first
// user, or a forked child that has mixed), which registers the fork handler
// and makes the fork mark and the counter its children will share, unless it
// has them from its parent.
void own_pool(Process now) {
  if (!pool.counting) pool.counting = pthread_atfork(nullptr, nullptr, on_fork) == 0;
  if (!pool.marking) {
    pool.marking = true;
    ForkMark* mark = seams.fork_mark();
    if (mark != nullptr) relaxed(mark->set).store(1, std::memory_order_relaxed);
    relaxed(pool.mark).store(mark, std::memory_order_relaxed);
  }
  pool.last = now;
  if (pool.family == nullptr) pool.family = seams.fork_counter();
}

// Lock 18 held by this thread, in a forked child: its own number from the
// counter its family shares, taken once; 0 when it shares none (a number
// inherited from the parent is never kept).
void take_ticket(Process now) {
  if (pool.ticket_by == now) return;
  pool.ticket_by = now;
  pool.ticket = 0;
  if (pool.family != nullptr)
    pool.ticket = relaxed(pool.family->taken).fetch_add(1, std::memory_order_relaxed) + 1;
}

// Lock 18 held by this thread, after an add of `add` bytes of entropy that
// was mixed in: in a process other than the pool's last user (a forked child
// not mixed yet) the adds of that process count towards its own seeding.
void credit_child(double add) {
  const Process now = this_process();
  if (pool.last.pid == 0 || pool.last == now) return;
  if (!(pool.credit_by == now)) {
    pool.credit_by = now;
    pool.credit = 0;
  }
  if (add > 0) pool.credit += add;
}

// The add: false, with an error queued and nothing credited, when the digest
// fails (the rounds done before stay in the pool; the chaining value is left
// as it was).
bool mix(const void* buf, int num, double add) {
  if (buf == nullptr || num <= 0) return true;
  const bool owner = held_by_this_thread();
  int st_idx;
  uint32_t md_c[2];
  unsigned char local_md[kMdSize];
  Wiper w(local_md);
  if (!owner) lock_pool();
  st_idx = pool.state_index;
  memcpy(md_c, pool.md_count, sizeof md_c);
  memcpy(local_md, pool.md, sizeof local_md);
  if (pool.last.pid == 0) own_pool(this_process());
  const int64_t idx = int64_t{pool.state_index} + num;
  if (idx >= kPoolSize) {
    pool.state_index = static_cast<int>(idx % kPoolSize);
    pool.state_num = kPoolSize;
  } else {
    pool.state_index = static_cast<int>(idx);
    if (pool.state_num < kPoolSize && pool.state_index > pool.state_num) {
      pool.state_num = pool.state_index;
    }
  }
  pool.md_count[1] += static_cast<uint32_t>(num / kMdSize + (num % kMdSize > 0));
  if (!owner) unlock_pool();

  // The window st_idx .. st_idx+num-1 (wrapping at the pool's end) is ours.
  const unsigned char* data = static_cast<const unsigned char*>(buf);
  Sha1 m;
  // Counted down: stepping an index by kMdSize past num would overflow an
  // int for counts near INT_MAX.
  for (int left = num; left > 0; left -= kMdSize) {
    const int j = std::min(kMdSize, left);
    m.begin();
    m.update(local_md, kMdSize);
    m.update_pool(st_idx, j, kPoolSize);
    m.update(data, static_cast<size_t>(j));
    m.update(md_c, sizeof md_c);
    m.finish(local_md);
    if (!m.ok()) break;
    md_c[1]++;
    data += j;
    for (int k = 0; k < j; k++) {
      pool_xor(st_idx, local_md[k]);
      if (++st_idx >= kPoolSize) st_idx = 0;
    }
  }

  if (!owner) lock_pool();
  if (m.ok()) {
    // XOR, not copy: what a concurrent add gave `md` meanwhile survives.
    for (int k = 0; k < kMdSize; k++) pool.md[k] ^= local_md[k];
    if (pool.entropy < kSeeded) pool.entropy += add;
    credit_child(add);
  }
  if (!owner) unlock_pool();
  if (m.ok()) return true;
  ERR_put_error(ERR_LIB_RAND, RAND_F_QUORIX_RAND_ADD, ERR_R_EVP_LIB, __FILE__, __LINE__);
  return false;
}

void quorix_add(const void* buf, int num, double add) {
  mix(buf, num, add);
}

void quorix_seed(const void* buf, int num) {
  quorix_add(buf, num, static_cast<double>(num));
}

// Lock 18 held by this thread: touches every pool position.
void stir() {
  static constexpr char kDots[] = "....................";
  for (int n = kPoolSize; n > 0; n -= kMdSize) quorix_add(kDots, kMdSize, 0.0);
}

// Lock 18 held by this thread: a process other than the last user of the
// pool (a forked child) mixes in, before it draws, fresh system bytes, its
// own number, the monotonic clock and its process id, in one add.  False,
// with the pool left as it was, when the system gives no fresh bytes and the
// child either has not added 32 bytes of entropy of its own (credit_child)
// or holds no number; false too when the mix fails.
bool check_fork() {
  const Process now = this_process();
  if (pool.last == now) {
    if (!pool.counting) own_pool(now);  // the handler, where it could not be registered yet
    return true;
  }
  if (pool.last.pid == 0) {  // nothing added yet, not even by the poll
    own_pool(now);
    return true;
  }
  take_ticket(now);
  unsigned char in[kSystemBytes + 20] = {};
  Wiper w(in);
  const bool fresh = system_entropy(in) == kSystemBytes;
  const bool own = pool.credit_by == now && pool.credit >= kSeeded && pool.ticket != 0;
  if (!fresh && !own) return false;
  const int64_t clock = seams.clock();
  const int32_t pid = static_cast<int32_t>(seams.pid());
  memcpy(in + kSystemBytes, &pool.ticket, 8);
  memcpy(in + kSystemBytes + 8, &clock, 8);
  memcpy(in + kSystemBytes + 16, &pid, 4);
  if (!mix(in, sizeof in, 0.0)) return false;
  own_pool(now);
  return true;
}

int quorix_bytes(unsigned char* buf, int num) {
  const pid_t pid = seams.pid();
  if (num <= 0) return 1;
  Sha1 m;
  const int64_t num_ceil = (1 + (int64_t{num} - 1) / 10) * 10;
  int st_idx, st_num;
  uint32_t md_c[2];
  unsigned char local_md[kMdSize];
  Wiper w(local_md);
  uint64_t ticket;

  lock_pool();
  become_owner();
  poll_until_seeded();
  const bool ok = pool.entropy >= kSeeded;
  if (!ok) pool.entropy = std::max(0.0, pool.entropy - num);
  if (pool.stirred_pool == 0) {
    stir();
    if (ok) pool.stirred_pool = 1;
  }
  if (!check_fork()) {
    end_owner();
    unlock_pool();
    ERR_put_error(ERR_LIB_RAND, RAND_F_QUORIX_RAND_BYTES, RAND_R_PRNG_NOT_RESEEDED, __FILE__,
                  __LINE__);
    return 0;
  }
  // After a cleanup the pool may be empty: positions stay within 1 .. state_num.
  pool.state_num = std::max(pool.state_num, 1);
  st_num = pool.state_num;
  st_idx = pool.state_index % st_num;
  memcpy(md_c, pool.md_count, sizeof md_c);
  memcpy(local_md, pool.md, sizeof local_md);
  ticket = pool.ticket;
  pool.state_index = static_cast<int>((st_idx + num_ceil) % st_num);
  pool.md_count[0]++;
  end_owner();
  unlock_pool();

  bool first = true;
  unsigned char* out = buf;
  for (int left = num; left > 0;) {
    const int j = std::min(10, left);
    left -= j;
    m.begin();
    if (first && pid != 0) {
      const int32_t p = static_cast<int32_t>(pid);
      m.update(&p, sizeof p);
    }
    if (first && ticket != 0) m.update(&ticket, sizeof ticket);
    first = false;
    m.update(local_md, kMdSize);
    m.update(md_c, sizeof md_c);
    m.update_pool(st_idx, 10, st_num);
    m.finish(local_md);
    if (!m.ok()) break;
    for (int i = 0; i < 10; i++) {
      pool_xor(st_idx, local_md[i]);
      if (++st_idx >= st_num) st_idx = 0;
      if (i < j) *out++ = local_md[10 + i];
    }
  }

  lock_pool();
  unsigned char next_md[kMdSize];
  Wiper wn(next_md);
  m.begin();
  m.update(md_c, sizeof md_c);
  m.update(local_md, kMdSize);
  m.update(pool.md, kMdSize);
  m.finish(next_md);
  if (m.ok()) memcpy(pool.md, next_md, kMdSize);
  unlock_pool();

  if (!m.ok()) {
    // The envelope queued its error; what was written is not handed out.
    internal::wipe_to_zero(buf, static_cast<size_t>(num));
    return 0;
  }
  if (ok) return 1;
  ERR_put_error(ERR_LIB_RAND, RAND_F_QUORIX_RAND_BYTES, RAND_R_PRNG_NOT_SEEDED, __FILE__, __LINE__);
  ERR_add_error_data(1, kFaq);
  return 0;
}

// Removes only the "PRNG not seeded" entry that the request left; the
// caller's entries and marks stay.
int quorix_pseudo_bytes(unsigned char* buf, int num) {
  morvane::internal::ErrorMark mark;
  const int r = RAND_bytes(buf, num);
  const unsigned long e = ERR_peek_last_error();
  const bool unseeded =
      r == 0 && ERR_GET_LIB(e) == ERR_LIB_RAND && ERR_GET_REASON(e) == RAND_R_PRNG_NOT_SEEDED;
  if (unseeded || r == 1) mark.pop();
  // Any other 0 (a forked child without fresh bytes, a digest failure) left
  // no usable bytes, not even weak ones: -1, which callers take as failure.
  return r == 0 && !unseeded ? -1 : r;
}

int quorix_status() {
  const bool owner = held_by_this_thread();
  if (!owner) {
    lock_pool();
    become_owner();
  }
  poll_until_seeded();
  // A forked child is seeded only once it has fresh bytes of its own.
  const int r = pool.entropy >= kSeeded && check_fork() ? 1 : 0;
  if (!owner) {
    end_owner();
    unlock_pool();
  }
  return r;
}

void quorix_cleanup() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_RAND);
  // Back to the fresh, all-zero pool.
  internal::wipe_to_zero(pool.state, sizeof pool.state);
  internal::wipe_to_zero(pool.md, sizeof pool.md);
  pool.state_num = 0;
  pool.state_index = 0;
  pool.md_count[0] = pool.md_count[1] = 0;
  pool.entropy = 0;
  pool.initialized = 0;
  pool.credit_by = {};
  pool.credit = 0;
  // stirred_pool keeps its value; so do the last user (a forked child that
  // has not mixed yet still must), the fork handler, the family counter and
  // this process's number.
}

constexpr RAND_METHOD kQuorix = {quorix_seed, quorix_bytes,        quorix_cleanup,
                                 quorix_add,  quorix_pseudo_bytes, quorix_status};

}  // namespace

PoolView pool_view() {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_RAND);
  return {pool.state_num, pool.state_index, pool.entropy, pool.initialized, pool.stirred_pool};
}

}  // namespace morvane::rand

/* see morvane/rand.h */
const RAND_METHOD* RAND_Quorix(void) {
  return &morvane::rand::kQuorix;
}
