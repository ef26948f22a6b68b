// Leak checker: records live blocks with their labels and reports them.
//
// Implementation notes.  `mh` maps block addresses to MEM records; `amih`
// maps thread ids to the top APP_INFO of each thread's label stack, the labels
// below it hanging off `next`.  A label is counted: one reference from the
// table (while it is a top), one from the label above it, one per MEM record
// that names it.  Lock 20 guards the mode words; lock 27 is held by the thread
// whose recording is suspended, for the whole suspension, and every table
// operation happens inside such a suspension, so allocations the checker makes
// for itself are never recorded.  Lock order: 27, then 20.
//
// Keys are compared as whole values and hashed over all their bits: heap
// addresses (and thread ids) can differ only above bit 31 on this platform.

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <atomic>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/lhash.h>

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

struct MEM_LEAK {
  BIO* bio;
  int chunks;
  long bytes;
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

// Inserts into a table and reports whether the table took the item: a failed
// node allocation shows only as a rise of the table's error count.  The item
// it displaced, if any, goes to *displaced.
bool table_insert(LHASH* lh, void* item, void** displaced) {
  int errors = lh->error;
  *displaced = lh_insert(lh, item);
  return lh->error == errors;
}

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

void print_leak(void* item, void* arg) {
  const auto* m = static_cast<const MEM*>(item);
  auto* l = static_cast<MEM_LEAK*>(arg);
  if (m->addr == static_cast<void*>(l->bio)) return;  // the report's own stream

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
  BIO_puts(l->bio, line.text());
  l->chunks++;
  l->bytes += m->num;

  const APP_INFO* amip = m->app_info;
  if (amip == nullptr) return;
  unsigned long t0 = amip->thread;
  size_t depth = 0;
  do {
    Line label;
    label.repeat('>', ++depth);
    label.printf(" thread=%lu, file=%s, line=%d, info=\"", amip->thread, amip->file, amip->line);
    size_t room = label.length() < kLabelWidth ? kLabelWidth - label.length() : 0;
    size_t info_len = strlen(amip->info);
    label.append(amip->info, info_len < room ? info_len : room);
    label.append("\"\n", 2);
    BIO_puts(l->bio, label.text());
    amip = amip->next;
  } while (amip != nullptr && amip->thread == t0);
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

/* see morvane/crypto.h */
int CRYPTO_mem_ctrl(int mode) {
  int ret = mh_mode;
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
  switch (mode) {
    case CRYPTO_MEM_CHECK_ON:
    case CRYPTO_MEM_CHECK_OFF:
      // A suspension of the calling thread ends here too, so that its lock is
      // not left held with no count to release it.
      if (num_disable > 0 && disabling_thread == CRYPTO_thread_id()) {
        CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
      }
      mh_mode = mode == CRYPTO_MEM_CHECK_ON ? CRYPTO_MEM_CHECK_ON | CRYPTO_MEM_CHECK_ENABLE
                                            : CRYPTO_MEM_CHECK_OFF;
      num_disable = 0;
      break;
    case CRYPTO_MEM_CHECK_DISABLE:
      if (mh_mode & CRYPTO_MEM_CHECK_ON) {
        if (num_disable == 0 || disabling_thread != CRYPTO_thread_id()) {
          // Wait for any other thread's suspension to end; 27 before 20.
          CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
          CRYPTO_w_lock(CRYPTO_LOCK_MALLOC2);
          CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
          mh_mode &= ~CRYPTO_MEM_CHECK_ENABLE;
          disabling_thread = CRYPTO_thread_id();
        }
        num_disable++;
      }
      break;
    case CRYPTO_MEM_CHECK_ENABLE:
      if ((mh_mode & CRYPTO_MEM_CHECK_ON) && num_disable > 0) {
        if (--num_disable == 0) {
          mh_mode |= CRYPTO_MEM_CHECK_ENABLE;
          CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
        }
      }
      break;
    default:
      break;
  }
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC);
  return ret;
}

int CRYPTO_is_mem_check_on(void) {
  if (!(mh_mode & CRYPTO_MEM_CHECK_ON)) return 0;
  CRYPTO_r_lock(CRYPTO_LOCK_MALLOC);
  int ret = (mh_mode & CRYPTO_MEM_CHECK_ENABLE) || disabling_thread != CRYPTO_thread_id();
  CRYPTO_r_unlock(CRYPTO_LOCK_MALLOC);
  return ret;
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
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
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
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
}

void CRYPTO_dbg_free(void* addr, int before_p) {
  if (before_p != 0 || addr == nullptr || !CRYPTO_is_mem_check_on() || mh == nullptr) return;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  MEM key{};
  key.addr = addr;
  auto* m = static_cast<MEM*>(lh_delete(mh, &key));
  if (m != nullptr) mem_free(m);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
}

void CRYPTO_dbg_realloc(void* addr1, void* addr2, int num, const char* file, int line,
                        int before_p) {
  if (before_p != 1 || addr2 == nullptr) return;
  if (addr1 == nullptr) {
    CRYPTO_dbg_malloc(addr2, num, file, line, 128 | 1);
    return;
  }
  if (!CRYPTO_is_mem_check_on()) return;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
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
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
}

// ---- labels -------------------------------------------------------------------

int CRYPTO_dbg_push_info(const char* info, const char* file, int line) {
  if (!CRYPTO_is_mem_check_on()) return 0;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
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
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  return 0;
}

int CRYPTO_dbg_pop_info(void) {
  if (!CRYPTO_is_mem_check_on()) return 0;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  int ret = pop_info();
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  return ret;
}

int CRYPTO_dbg_remove_all_info(void) {
  if (!CRYPTO_is_mem_check_on()) return 0;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  int ret = 0;
  while (pop_info()) ret++;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  return ret;
}

// ---- reports --------------------------------------------------------------------

void CRYPTO_mem_leaks(BIO* b) {
  if (mh == nullptr && amih == nullptr) return;
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  MEM_LEAK ml{b, 0, 0};
  if (mh != nullptr) lh_doall_arg(mh, print_leak, &ml);
  if (ml.chunks != 0) {
    BIO_printf(b, "%ld bytes leaked in %d chunks\n", ml.bytes, ml.chunks);
  } else {
    // Nothing to report: release the tables.  With the mode word at 0 the
    // frees of the tables' own blocks return from the hooks at once.
    CRYPTO_w_lock(CRYPTO_LOCK_MALLOC);
    int old_mode = mh_mode;
    mh_mode = CRYPTO_MEM_CHECK_OFF;
    if (mh != nullptr) {
      // Only the report stream's own record can remain.
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
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
}

void CRYPTO_mem_leaks_fp(FILE* fp) {
  if (mh == nullptr) return;
  // The stream is made with recording suspended, so it is not in the report.
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  BIO* b = BIO_new(BIO_s_file());
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  if (b == nullptr) return;
  BIO_set_fp(b, fp, BIO_NOCLOSE);
  CRYPTO_mem_leaks(b);
  BIO_free(b);
}

void CRYPTO_mem_leaks_cb(CRYPTO_MEM_LEAK_CB* cb) {
  if (mh == nullptr) return;
  CRYPTO_w_lock(CRYPTO_LOCK_MALLOC2);
  LeakCallback arg{cb};
  lh_doall_arg(mh, call_leak_cb, &arg);
  CRYPTO_w_unlock(CRYPTO_LOCK_MALLOC2);
}
