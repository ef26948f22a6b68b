// Leak checker: records live blocks with their labels and reports them.
//
// Implementation notes.  `mh` maps block addresses to MEM records; `amih`
// maps thread ids to the top APP_INFO of each thread's label stack, the labels
// below it hanging off `next`.  A label is counted: one reference from the
// table (while it is a top), one from the label above it, one per MEM record
// that names it.  Lock 20 guards the mode words; lock 27 is held by the thread
// whose recording is suspended, for the whole suspension (but while a report
// it asked for is written), and every table operation happens inside such a
// suspension, so allocations the checker makes for itself are never
// recorded.  A hook works on the tables only when its suspension was granted
// (the checker may have been switched off meanwhile); switching on or off
// waits for every other thread's suspension to end, so a count is never reset
// under a thread that still holds 27.  The reports make their text with 27
// held and write it after releasing it, even a suspended caller's, so no
// stream (and no lock a stream takes) is used while 27 is held.  Lock order:
// 27, then 20, and nothing else under 27.
//
// Keys are compared as whole values and hashed over all their bits: heap
// addresses (and thread ids) can differ only above bit 31 on this platform.

#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/lhash.h>

#include "internal/table_insert.h"

namespace {

struct APP_INFO {
  unsigned long thread;
  const char* file;
  int line;
  const char* info;
  APP_INFO* next;
  int references;
};

struct MEM {
  void* addr;
  int num;
  const char* file;
  int line;
  unsigned long thread;
  unsigned long order;
  time_t time;
  APP_INFO* app_info;
};

// The blocks of a report's own stream chain, never listed: each stream, its
// state and, for a memory stream, its buffer (the caller's bytes of a
// read-only one aside) and, for a buffer filter, its two buffers.  A record
// at a block's address is the stream's only when it is no older than the
// record of the stream the block belongs to (`since`); an older one, or any
// one where that stream has no record, is stale, left by a block freed
// unseen whose address the stream now uses, and is listed.
constexpr int kOwnBlocks = 64;
struct OwnBlocks {
  const void* at[kOwnBlocks];
  int stream[kOwnBlocks];           // the entry of the block's stream; -1 for a stream
  unsigned long since[kOwnBlocks];  // for a stream: its record's order, or none
  int n;
  int add(const void* p, int of) {
    if (p == nullptr || n == kOwnBlocks) return -1;
    at[n] = p;
    stream[n] = of;
    since[n] = ULONG_MAX;
    return n++;
  }
  bool owns(const MEM* m) const {
    for (int i = 0; i < n; i++) {
      if (at[i] == m->addr) return stream[i] < 0 || m->order >= since[stream[i]];
    }
    return false;
  }
};

// The report's text, grown with CRYPTO_realloc while the tables are held:
// the lines of each listed block followed by a NUL.  `chunks` and `bytes`
// count every block, `listed` those whose lines are in the text (a block
// whose lines find no memory is left out whole).
struct MEM_LEAK {
  OwnBlocks skip;
  char* text;
  size_t len;
  size_t cap;
  int chunks;
  long bytes;
  int listed;
};

// The tables are created and released inside a suspension (lock 27) but
// tested for existence outside it, and the mode word is read before lock 20 is
// taken; these three, and the options, which take no lock at all, are atomics
// so that such reads are well defined.
constinit std::atomic<LHASH*> mh{nullptr};
constinit std::atomic<LHASH*> amih{nullptr};
constinit std::atomic<int> mh_mode{CRYPTO_MEM_CHECK_OFF};
constinit std::atomic<long> options{0};
// Under lock 20.
constinit unsigned int num_disable = 0;
constinit unsigned long disabling_thread = 0;
// Under lock 20: threads writing out a report they made, with no lock held;
// what they allocate meanwhile is not recorded, as within a suspension.
constexpr int kWriters = 8;
constinit unsigned long writers[kWriters] = {};
constinit int num_writers = 0;
// Under lock 27.
constinit unsigned long order = 0;

// ---- hashing ----------------------------------------------------------------

// The mixing of a 32-bit key, applied to the key folded to 32 bits so that
// every bit of a 64-bit address or thread id counts.
unsigned long key_hash(uint64_t key) {
  auto x = static_cast<uint32_t>(key ^ (key >> 32));
  return x * 17851u + (x >> 14) * 7u + (x >> 4) * 251u;
}

unsigned long mem_hash(const void* a) {
  return key_hash(reinterpret_cast<uintptr_t>(static_cast<const MEM*>(a)->addr));
}

int mem_cmp(const void* a, const void* b) {
  auto x = reinterpret_cast<uintptr_t>(static_cast<const MEM*>(a)->addr);
  auto y = reinterpret_cast<uintptr_t>(static_cast<const MEM*>(b)->addr);
  return x == y ? 0 : (x < y ? -1 : 1);
}

unsigned long app_info_hash(const void* a) {
  return key_hash(static_cast<const APP_INFO*>(a)->thread);
}

int app_info_cmp(const void* a, const void* b) {
  return static_cast<const APP_INFO*>(a)->thread == static_cast<const APP_INFO*>(b)->thread ? 0 : 1;
}

using morvane::internal::table_insert;

// A new item for `table`, which is created when absent; null when either
// allocation fails.
template <typename T>
T* new_entry(std::atomic<LHASH*>& table, LHASH_HASH_FN_TYPE hash, LHASH_COMP_FN_TYPE cmp) {
  auto* item = static_cast<T*>(MORVANE_malloc(sizeof(T)));
  if (item == nullptr) return nullptr;
  if (table == nullptr) table = lh_new(hash, cmp);
  if (table == nullptr) {
    MORVANE_free(item);
    return nullptr;
  }
  return item;
}

// ---- labels -----------------------------------------------------------------

// Drops one reference; at none left, releases the label below and frees it.
void app_info_free(APP_INFO* inf) {
  while (inf != nullptr && --inf->references <= 0) {
    APP_INFO* next = inf->next;
    MORVANE_free(inf);
    inf = next;
  }
}

// Releases a record and its label reference.
void mem_free(MEM* m) {
  if (m->app_info != nullptr) app_info_free(m->app_info);
  MORVANE_free(m);
}

// Enters a record into `mh`.  A record that the table cannot take is dropped
// (its block stays usable, only unrecorded); a record it displaces is stale,
// left by a block freed while its thread's recording was suspended.
void store_record(MEM* m) {
  void* displaced;
  if (!table_insert(mh, m, &displaced)) {
    mem_free(m);
  } else if (displaced != nullptr) {
    mem_free(static_cast<MEM*>(displaced));
  }
}

// Removes the calling thread's top label; its successor becomes the top.  Runs
// inside the caller's suspension.  Returns 1 when a label was removed.
int pop_info() {
  if (amih == nullptr) return 0;
  APP_INFO key{};
  key.thread = CRYPTO_thread_id();
  auto* top = static_cast<APP_INFO*>(lh_delete(amih, &key));
  if (top == nullptr) return 0;
  APP_INFO* next = top->next;
  if (next != nullptr) {
    void* displaced;
    if (table_insert(amih, next, &displaced)) next->references++;
  }
  app_info_free(top);
  return 1;
}

// ---- the report ---------------------------------------------------------------

// A bounded line: appends never write past the buffer and always leave it
// NUL-terminated.
class Line {
 public:
  void printf(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
    size_t avail = sizeof(buf_) - len_;
    va_list ap;
    va_start(ap, fmt);
    int n = vsnprintf(buf_ + len_, avail, fmt, ap);
    va_end(ap);
    if (n < 0) {
      buf_[len_] = '\0';
    } else {
      len_ += static_cast<size_t>(n) < avail ? static_cast<size_t>(n) : avail - 1;
    }
  }
  void append(const char* s, size_t n) {
    if (n > sizeof(buf_) - 1 - len_) n = sizeof(buf_) - 1 - len_;
    memcpy(buf_ + len_, s, n);
    len_ += n;
    buf_[len_] = '\0';
  }
  void repeat(char c, size_t n) {
    if (n > sizeof(buf_) - 1 - len_) n = sizeof(buf_) - 1 - len_;
    memset(buf_ + len_, c, n);
    len_ += n;
    buf_[len_] = '\0';
  }
  size_t length() const { return len_; }
  const char* text() const { return buf_; }

 private:
  char buf_[1024] = "";
  size_t len_ = 0;
};

// A label line holds at most this many characters before its closing quote.
constexpr size_t kLabelWidth = 125;

// Appends `n` bytes to the report's text; false when it cannot grow.
bool put(MEM_LEAK* l, const char* s, size_t n) {
  if (l->cap - l->len < n) {
    size_t cap = l->cap < 4096 ? 4096 : l->cap;
    while (cap - l->len < n) cap *= 2;
    char* grown = static_cast<char*>(MORVANE_realloc(l->text, cap));
    if (grown == nullptr) return false;
    l->text = grown;
    l->cap = cap;
  }
  memcpy(l->text + l->len, s, n);
  l->len += n;
  return true;
}

// One block's lines, all or none of them.
void print_leak(void* item, void* arg) {
  const auto* m = static_cast<const MEM*>(item);
  auto* l = static_cast<MEM_LEAK*>(arg);
  if (l->skip.owns(m)) return;  // the report's own stream
  const size_t start = l->len;
  bool fits = true;

  Line line;
  if (options & V_CRYPTO_MDEBUG_TIME) {
    struct tm lcl {};
    localtime_r(&m->time, &lcl);
    line.printf("[%02d:%02d:%02d] ", lcl.tm_hour, lcl.tm_min, lcl.tm_sec);
  }
  line.printf("%5lu file=%s, line=%d, ", m->order, m->file, m->line);
  if (options & V_CRYPTO_MDEBUG_THREAD) line.printf("thread=%lu, ", m->thread);
  line.printf("number=%d, address=%08lX\n", m->num,
              static_cast<unsigned long>(reinterpret_cast<uintptr_t>(m->addr)));
  fits = put(l, line.text(), line.length());
  l->chunks++;
  l->bytes += m->num;

  // The labels of the allocating thread, top first.
  const APP_INFO* amip = m->app_info;
  const unsigned long t0 = amip != nullptr ? amip->thread : 0;
  for (size_t depth = 1; fits && amip != nullptr && amip->thread == t0; depth++) {
    Line label;
    label.repeat('>', depth);
    label.printf(" thread=%lu, file=%s, line=%d, info=\"", amip->thread, amip->file, amip->line);
    size_t room = label.length() < kLabelWidth ? kLabelWidth - label.length() : 0;
    size_t info_len = strlen(amip->info);
    label.append(amip->info, info_len < room ? info_len : room);
    label.append("\"\n", 2);
    fits = put(l, label.text(), label.length());
    amip = amip->next;
  }
  if (fits && put(l, "", 1)) {
    l->listed++;
  } else {
    l->len = start;  // a block is listed whole or not at all
  }
}

void free_record(void* item) {
  mem_free(static_cast<MEM*>(item));
}

struct LeakCallback {
  CRYPTO_MEM_LEAK_CB* cb;
};

void call_leak_cb(void* item, void* arg) {
  const auto* m = static_cast<const MEM*>(item);
  static_cast<LeakCallback*>(arg)->cb(m->order, m->file, m->line, m->num, m->addr);
}

}  // namespace

// ---- switching ----------------------------------------------------------------

namespace {

// Lock 20 held: waits, with 20 released, until this thread holds 27 (27 is
// taken before 20).
void take_27_under_20() {
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC2);
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
}

// Suspends the calling thread's recording (nestable): true when it is now
// suspended, so that it holds 27; false, with nothing held, while the checker
// is off (also when it was switched off while this thread waited).
bool suspend() {
  bool ok = false;
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
  if (mh_mode & CRYPTO_MEM_CHECK_ON) {
    ok = true;
    if (num_disable == 0 || disabling_thread != CRYPTO_thread_id()) {
      take_27_under_20();  // waits for any other thread's suspension to end
      if (mh_mode & CRYPTO_MEM_CHECK_ON) {
        mh_mode &= ~CRYPTO_MEM_CHECK_ENABLE;
        disabling_thread = CRYPTO_thread_id();
      } else {
        CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
        ok = false;
      }
    }
    if (ok) num_disable++;
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
  return ok;
}

// Ends one suspension of the calling thread; the last one releases 27.  A
// thread that has none ends nothing.
void resume() {
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
  if (num_disable > 0 && disabling_thread == CRYPTO_thread_id() && --num_disable == 0) {
    if (mh_mode & CRYPTO_MEM_CHECK_ON) mh_mode |= CRYPTO_MEM_CHECK_ENABLE;
    CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
}

}  // namespace

/* see morvane/crypto.h */
int CRYPTO_mem_ctrl(int mode) {
  int ret = mh_mode;
  switch (mode) {
    case CRYPTO_MEM_CHECK_ON:
    case CRYPTO_MEM_CHECK_OFF:
      CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
      // Switched only while no other thread has its recording suspended: a
      // thread inside a hook holds 27 and finishes first.  A suspension of
      // the calling thread ends here (its 27 is released with the count).
      if (num_disable == 0 || disabling_thread != CRYPTO_thread_id()) take_27_under_20();
      mh_mode = mode == CRYPTO_MEM_CHECK_ON ? CRYPTO_MEM_CHECK_ON | CRYPTO_MEM_CHECK_ENABLE
                                            : CRYPTO_MEM_CHECK_OFF;
      num_disable = 0;
      CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
      CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
      break;
    case CRYPTO_MEM_CHECK_DISABLE:
      suspend();
      break;
    case CRYPTO_MEM_CHECK_ENABLE:
      resume();
      break;
    default:
      break;
  }
  return ret;
}

namespace {

// Whether the calling thread's allocations are seen: not while it has its
// recording suspended.  A thread writing out a report (`new_blocks`) records
// no new block, but its frees and reallocations of recorded blocks (a memory
// stream's buffer, say) still end or move their records, so that none is
// left behind for a block that is gone.
bool seen(bool new_blocks) {
  if (!(mh_mode & CRYPTO_MEM_CHECK_ON)) return false;
  const unsigned long self = CRYPTO_thread_id();
  CRYPTO_r_lock(CRYPTO_LOCK_MALLOC);
  bool ret = (mh_mode & CRYPTO_MEM_CHECK_ENABLE) || disabling_thread != self;
  for (int i = 0; i < num_writers && ret && new_blocks; i++) ret = writers[i] != self;
  CRYPTO_r_unlock(CRYPTO_LOCK_MALLOC);
  return ret;
}

}  // namespace

int CRYPTO_is_mem_check_on(void) {
  return seen(true) ? 1 : 0;
}

void CRYPTO_dbg_set_options(long bits) {
  options = bits;
}

long CRYPTO_dbg_get_options(void) {
  return options;
}

void CRYPTO_malloc_debug_init(void) {
  CRYPTO_set_mem_debug_functions(CRYPTO_dbg_malloc, CRYPTO_dbg_realloc, CRYPTO_dbg_free,
                                 CRYPTO_dbg_set_options, CRYPTO_dbg_get_options);
  CRYPTO_set_mem_info_functions(CRYPTO_dbg_push_info, CRYPTO_dbg_pop_info,
                                CRYPTO_dbg_remove_all_info);
}

// ---- hooks ----------------------------------------------------------------------

void CRYPTO_dbg_malloc(void* addr, int num, const char* file, int line, int before_p) {
  // Bit 7 marks a call made on behalf of a reallocation from null.
  if ((before_p & 127) != 1 || addr == nullptr || !CRYPTO_is_mem_check_on()) return;
  if (!suspend()) return;
  // A block whose record cannot be made stays usable, only unrecorded.
  auto* m = new_entry<MEM>(mh, mem_hash, mem_cmp);
  if (m != nullptr) {
    m->addr = addr;
    m->file = file;
    m->line = line;
    m->num = num;
    m->thread = (options & V_CRYPTO_MDEBUG_THREAD) ? CRYPTO_thread_id() : 0;
    m->order = order++;
    m->time = (options & V_CRYPTO_MDEBUG_TIME) ? time(nullptr) : 0;
    m->app_info = nullptr;
    if (amih != nullptr) {
      APP_INFO key{};
      key.thread = CRYPTO_thread_id();
      auto* top = static_cast<APP_INFO*>(lh_retrieve(amih, &key));
      if (top != nullptr) {
        m->app_info = top;
        top->references++;
      }
    }
    store_record(m);
  }
  resume();
}

void CRYPTO_dbg_free(void* addr, int before_p) {
  if (before_p != 0 || addr == nullptr || mh == nullptr || !seen(false)) return;
  if (!suspend()) return;
  MEM key{};
  key.addr = addr;
  auto* m = mh != nullptr ? static_cast<MEM*>(lh_delete(mh, &key)) : nullptr;
  if (m != nullptr) mem_free(m);
  resume();
}

void CRYPTO_dbg_realloc(void* addr1, void* addr2, int num, const char* file, int line,
                        int before_p) {
  if (before_p != 1 || addr2 == nullptr) return;
  if (addr1 == nullptr) {
    CRYPTO_dbg_malloc(addr2, num, file, line, 128 | 1);
    return;
  }
  if (!seen(false) || !suspend()) return;
  MEM key{};
  key.addr = addr1;
  auto* m = mh != nullptr ? static_cast<MEM*>(lh_delete(mh, &key)) : nullptr;
  if (m != nullptr) {
    // The record keeps its first allocation's place, number, thread, time and
    // label.
    m->addr = addr2;
    m->num = num;
    store_record(m);
  }
  resume();
}

// ---- labels -------------------------------------------------------------------

int CRYPTO_dbg_push_info(const char* info, const char* file, int line) {
  if (!CRYPTO_is_mem_check_on() || !suspend()) return 0;
  // A label that cannot be made is not pushed.
  auto* ami = new_entry<APP_INFO>(amih, app_info_hash, app_info_cmp);
  if (ami != nullptr) {
    ami->thread = CRYPTO_thread_id();
    ami->file = file;
    ami->line = line;
    ami->info = info;
    ami->references = 1;
    ami->next = nullptr;
    void* below;
    if (!table_insert(amih, ami, &below)) {
      MORVANE_free(ami);
    } else if (below != nullptr) {
      // The table's reference to the old top passes to the link.
      ami->next = static_cast<APP_INFO*>(below);
    }
  }
  resume();
  return 0;
}

int CRYPTO_dbg_pop_info(void) {
  if (!CRYPTO_is_mem_check_on() || !suspend()) return 0;
  int ret = pop_info();
  resume();
  return ret;
}

int CRYPTO_dbg_remove_all_info(void) {
  if (!CRYPTO_is_mem_check_on() || !suspend()) return 0;
  int ret = 0;
  while (pop_info()) ret++;
  resume();
  return ret;
}

// ---- reports --------------------------------------------------------------------

namespace {

// How a report holds the tables (27).
enum class Hold {
  kNested,  // within a suspension the calling thread already has
  kOwn,     // by a suspension of its own
  kOff,     // by taking 27 as it is, with the checker off
};

// Takes the tables for a report.  The mode is read only once this thread
// holds 27: switching waits for 27, so the mode stays as read until the
// tables are released, and with the checker off nothing records meanwhile.
Hold hold_tables() {
  Hold how = Hold::kNested;
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
  if (num_disable > 0 && disabling_thread == CRYPTO_thread_id()) {
    num_disable++;
  } else {
    take_27_under_20();
    how = Hold::kOff;
    if (mh_mode & CRYPTO_MEM_CHECK_ON) {
      how = Hold::kOwn;
      mh_mode &= ~CRYPTO_MEM_CHECK_ENABLE;
      disabling_thread = CRYPTO_thread_id();
      num_disable++;
    }
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
  return how;
}

void release_tables(Hold how) {
  if (how == Hold::kOff) {
    CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
  } else {
    resume();
  }
}

class TablesHeld {
 public:
  TablesHeld() : how_(hold_tables()) {}
  ~TablesHeld() { release_tables(how_); }
  TablesHeld(const TablesHeld&) = delete;
  TablesHeld& operator=(const TablesHeld&) = delete;
  Hold how() const { return how_; }

 private:
  const Hold how_;
};

// Makes the report's text with the tables held; a report with nothing to
// list releases the tables instead.  The blocks `skip` owns are never listed.
// False, with nothing made, when there are no tables; `how` says how the
// tables were held.
bool make_report(MEM_LEAK* ml, const OwnBlocks& skip, Hold* how) {
  *ml = MEM_LEAK{skip, nullptr, 0, 0, 0, 0, 0};
  if (mh == nullptr && amih == nullptr) return false;
  TablesHeld held;
  *how = held.how();
  for (int i = 0; mh != nullptr && i < ml->skip.n; i++) {
    if (ml->skip.stream[i] >= 0) continue;
    MEM key{};
    key.addr = const_cast<void*>(ml->skip.at[i]);
    if (const auto* own = static_cast<const MEM*>(lh_retrieve(mh, &key)))
      ml->skip.since[i] = own->order;
  }
  if (mh != nullptr) lh_doall_arg(mh, print_leak, ml);
  if (ml->chunks == 0) {
    // Nothing to report: release the tables.  With the mode word at 0 the
    // frees of the tables' own blocks return from the hooks at once.
    CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
    int old_mode = mh_mode;
    mh_mode = CRYPTO_MEM_CHECK_OFF;
    if (mh != nullptr) {
      // Only the records of the report stream's own blocks can remain.
      lh_doall(mh, free_record);
      lh_free(mh);
      mh = nullptr;
    }
    if (amih != nullptr && lh_num_items(amih) == 0) {
      lh_free(amih);
      amih = nullptr;
    }
    mh_mode = old_mode;
    CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
  }
  return true;
}

// The blocks of stream `b`'s chain, taken before the report holds the tables
// (asking a memory stream for its buffer is a control call).
OwnBlocks stream_blocks(BIO* b) {
  OwnBlocks own{};
  for (BIO* s = b; s != nullptr; s = s->next_bio) {
    const int of = own.add(s, -1);
    if (of < 0) break;
    own.add(s->ptr, of);
    BUF_MEM* bm = nullptr;
    if (s->method == BIO_s_mem() && BIO_get_mem_ptr(s, &bm) > 0 && bm != nullptr) {
      own.add(bm, of);
      if (!(s->flags & BIO_FLAGS_MEM_RDONLY)) own.add(bm->data, of);
    } else if (s->method == BIO_f_buffer() && s->ptr != nullptr) {
      const auto* ctx = static_cast<const BIO_F_BUFFER_CTX*>(s->ptr);
      own.add(ctx->ibuf, of);
      own.add(ctx->obuf, of);
    }
  }
  return own;
}

using Out = bool (*)(void*, const char*, size_t);

// Hands the report to `out`: each listed block's lines in one write, then a
// line for the blocks not listed (no memory for their text, or a write that
// failed: the blocks after it are not written), then the summary, which
// counts them all.
void write_report(const MEM_LEAK& ml, Out out, void* to) {
  int written = 0;
  for (size_t at = 0; at < ml.len && written < ml.listed; written++) {
    const size_t n = strlen(ml.text + at);
    if (!out(to, ml.text + at, n)) break;
    at += n + 1;
  }
  if (written < ml.chunks) {
    Line missing;
    missing.printf("%d chunks not listed: out of memory\n", ml.chunks - written);
    out(to, missing.text(), missing.length());
  }
  Line summary;
  summary.printf("%ld bytes leaked in %d chunks\n", ml.bytes, ml.chunks);
  out(to, summary.text(), summary.length());
}

// Writes the report with no lock held, the calling thread marked as a writer
// (what it allocates meanwhile is not recorded; recorded after all when eight
// threads already write).  A caller that has its recording suspended lets
// go of 27 for the writing and takes it again after, unless the checker was
// switched off meanwhile, which ends its suspension.
void write_unrecorded(const MEM_LEAK& ml, Hold how, Out out, void* to) {
  const unsigned long self = CRYPTO_thread_id();
  unsigned int suspensions = 0;
  bool marked = false;
  if (ml.chunks == 0) return;
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
  if (how == Hold::kNested && num_disable > 0 && disabling_thread == self) {
    suspensions = num_disable;
    num_disable = 0;
    if (mh_mode & CRYPTO_MEM_CHECK_ON) mh_mode |= CRYPTO_MEM_CHECK_ENABLE;
    CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
  }
  if (num_writers < kWriters) {
    writers[num_writers++] = self;
    marked = true;
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
  write_report(ml, out, to);
  MORVANE_free(ml.text);
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
  for (int i = 0; marked && i < num_writers; i++) {
    if (writers[i] == self) {
      writers[i] = writers[--num_writers];
      break;
    }
  }
  if (suspensions != 0) {
    if (num_disable > 0 && disabling_thread == self) {
      num_disable += suspensions;  // the stream suspended this thread itself
    } else {
      take_27_under_20();
      if (mh_mode & CRYPTO_MEM_CHECK_ON) {
        mh_mode &= ~CRYPTO_MEM_CHECK_ENABLE;
        disabling_thread = self;
        num_disable = suspensions;
      } else {
        CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
      }
    }
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
}

// The rest of a write that the stream took in part follows at once.
bool to_bio(void* to, const char* s, size_t n) {
  while (n > 0) {
    const int w = BIO_write(static_cast<BIO*>(to), s, static_cast<int>(n));
    if (w <= 0) return false;
    s += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

bool to_file(void* to, const char* s, size_t n) {
  return fwrite(s, 1, n, static_cast<FILE*>(to)) == n;
}

}  // namespace

void CRYPTO_mem_leaks(BIO* b) {
  MEM_LEAK ml;
  Hold how = Hold::kOff;
  if (make_report(&ml, stream_blocks(b), &how)) write_unrecorded(ml, how, to_bio, b);
}

void CRYPTO_mem_leaks_fp(FILE* fp) {
  MEM_LEAK ml;
  Hold how = Hold::kOff;
  if (mh != nullptr && make_report(&ml, OwnBlocks{}, &how)) write_unrecorded(ml, how, to_file, fp);
}

// The tables are held as for the other reports, so a caller that has its
// recording suspended (and so holds 27) is served too.
void CRYPTO_mem_leaks_cb(CRYPTO_MEM_LEAK_CB* cb) {
  if (mh == nullptr) return;
  TablesHeld held;
  LeakCallback arg{cb};
  if (mh != nullptr) lh_doall_arg(mh, call_leak_cb, &arg);
}
