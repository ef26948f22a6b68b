/* Morvane: the runtime core.
 *
 * Memory.  Every block the library allocates comes from CRYPTO_malloc,
 * CRYPTO_realloc, CRYPTO_realloc_clean or CRYPTO_malloc_locked and goes back
 * through CRYPTO_free or CRYPTO_free_locked.  The allocator calls replaceable
 * process-wide hooks (the system malloc/realloc/free by default); the hooks can
 * be replaced only until the first allocation of one byte or more, after which
 * every setter refuses (returns 0).  An optional debugging layer (the leak
 * checker, or the application's own) sees a call before and after each
 * operation.  Sizes below 1 give null without calling any hook.  The allocator
 * queues no error: callers queue "malloc failure" under their own codes.
 *
 * MORVANE_cleanse overwrites memory that held secrets with an address-dependent
 * pattern driven by the process-wide counter `cleanse_ctr`; the stores cannot
 * be dropped by the compiler.
 *
 * Null arguments: CRYPTO_free, CRYPTO_free_locked and CRYPTO_strdup accept
 * null (nothing done; null returned), MORVANE_cleanse a null pointer with
 * length 0; the hook setters refuse null hooks; every other pointer must be
 * valid. */
#ifndef MORVANE_CRYPTO_H
#define MORVANE_CRYPTO_H

#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/times.h>
#include <time.h>

#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* Allocation front end.  `file` and `line` name the caller's source place; only
 * the debugging and _ex hooks see them. */
MORVANE_EXPORT void *CRYPTO_malloc(int num, const char *file, int line);
MORVANE_EXPORT void *CRYPTO_malloc_locked(int num, const char *file, int line);
/* Resizes `str`; null `str` allocates; on failure `str` stays valid. */
MORVANE_EXPORT void *CRYPTO_realloc(void *str, int num, const char *file, int line);
/* Moves the contents into a fresh block and wipes and frees the old one. */
MORVANE_EXPORT void *CRYPTO_realloc_clean(void *str, int old_len, int num, const char *file,
                                          int line);
/* Frees `a` and returns a fresh block; the contents are not carried over. */
MORVANE_EXPORT void *CRYPTO_remalloc(void *a, int num, const char *file, int line);
MORVANE_EXPORT char *CRYPTO_strdup(const char *str, const char *file, int line);
MORVANE_EXPORT void CRYPTO_free(void *str);
MORVANE_EXPORT void CRYPTO_free_locked(void *str);

/* The macros take sizes computed in size_t and pass CRYPTO_malloc's int: a
 * size above INT_MAX (or a negative int) becomes -1, which allocates nothing,
 * so the caller reports "malloc failure" instead of getting a block cut to
 * the low bits of its size. */
static inline int MORVANE_int_size(size_t num) {
  return num <= (size_t)INT_MAX ? (int)num : -1;
}
#define MORVANE_malloc(num) CRYPTO_malloc(MORVANE_int_size(num), __FILE__, __LINE__)
#define MORVANE_strdup(str) CRYPTO_strdup((str), __FILE__, __LINE__)
#define MORVANE_realloc(addr, num) \
  CRYPTO_realloc((char *)(addr), MORVANE_int_size(num), __FILE__, __LINE__)
#define MORVANE_realloc_clean(addr, old_num, num)                                      \
  CRYPTO_realloc_clean((addr), MORVANE_int_size(old_num), MORVANE_int_size(num), __FILE__, \
                       __LINE__)
#define MORVANE_remalloc(addr, num) \
  CRYPTO_remalloc((addr), MORVANE_int_size(num), __FILE__, __LINE__)
#define MORVANE_freeFunc CRYPTO_free
#define MORVANE_free(addr) CRYPTO_free(addr)
#define MORVANE_malloc_locked(num) \
  CRYPTO_malloc_locked(MORVANE_int_size(num), __FILE__, __LINE__)
#define MORVANE_free_locked(addr) CRYPTO_free_locked(addr)

/* Hook setters: 1 on success, 0 when refused (after the first allocation, or a
 * null argument); a refusal changes nothing. */
MORVANE_EXPORT int CRYPTO_set_mem_functions(void *(*m)(size_t), void *(*r)(void *, size_t),
                                            void (*f)(void *));
MORVANE_EXPORT int CRYPTO_set_locked_mem_functions(void *(*m)(size_t), void (*free_func)(void *));
MORVANE_EXPORT int CRYPTO_set_mem_ex_functions(void *(*m)(size_t, const char *, int),
                                               void *(*r)(void *, size_t, const char *, int),
                                               void (*f)(void *));
MORVANE_EXPORT int CRYPTO_set_locked_mem_ex_functions(void *(*m)(size_t, const char *, int),
                                                      void (*free_func)(void *));
/* Debugging layer: refused once an allocation has run with a debugging malloc
 * hook installed.  A null argument removes that hook. */
MORVANE_EXPORT int CRYPTO_set_mem_debug_functions(
    void (*m)(void *, int, const char *, int, int),
    void (*r)(void *, void *, int, const char *, int, int), void (*f)(void *, int),
    void (*so)(long), long (*go)(void));
MORVANE_EXPORT void CRYPTO_set_mem_info_functions(int (*push_info_fn)(const char *info,
                                                                      const char *file, int line),
                                                  int (*pop_info_fn)(void),
                                                  int (*remove_all_info_fn)(void));

/* Getters: every out-pointer may be null. */
MORVANE_EXPORT void CRYPTO_get_mem_functions(void *(**m)(size_t), void *(**r)(void *, size_t),
                                             void (**f)(void *));
MORVANE_EXPORT void CRYPTO_get_locked_mem_functions(void *(**m)(size_t), void (**f)(void *));
MORVANE_EXPORT void CRYPTO_get_mem_ex_functions(void *(**m)(size_t, const char *, int),
                                                void *(**r)(void *, size_t, const char *, int),
                                                void (**f)(void *));
MORVANE_EXPORT void CRYPTO_get_locked_mem_ex_functions(void *(**m)(size_t, const char *, int),
                                                       void (**f)(void *));
MORVANE_EXPORT void CRYPTO_get_mem_debug_functions(
    void (**m)(void *, int, const char *, int, int),
    void (**r)(void *, void *, int, const char *, int, int), void (**f)(void *, int),
    void (**so)(long), long (**go)(void));

/* Forwarders to the debugging layer; without a hook they do nothing and the
 * int forms return 1 (the options getter 0). */
MORVANE_EXPORT void CRYPTO_set_mem_debug_options(long bits);
MORVANE_EXPORT long CRYPTO_get_mem_debug_options(void);
MORVANE_EXPORT int CRYPTO_push_info_(const char *info, const char *file, int line);
MORVANE_EXPORT int CRYPTO_pop_info(void);
MORVANE_EXPORT int CRYPTO_remove_all_info(void);
#define CRYPTO_push_info(info) CRYPTO_push_info_((info), __FILE__, __LINE__)

/* ==== Leak checker ==========================================================
 *
 * An optional debugging layer over the allocation hooks above.  Installed
 * with CRYPTO_malloc_debug_init and switched on with
 * CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), it records every live block allocated
 * through CRYPTO_malloc and friends (address, size, source place, allocation
 * number, optionally the thread and the time, and the allocating thread's top
 * label), forgets blocks when they are freed, follows them through
 * reallocation, and reports what is still recorded.  Labels are info texts pushed and popped per thread
 * (CRYPTO_push_info / CRYPTO_pop_info); the text is not copied, so the caller
 * keeps it alive while blocks allocated under it may still be reported.
 *
 * A thread may suspend its own recording (CRYPTO_MEM_CHECK_DISABLE, nestable,
 * each ended by one CRYPTO_MEM_CHECK_ENABLE); while it does, other threads that
 * allocate wait, and blocks it allocates or frees are not seen.  Locks 20 and
 * 27 serialise the checker: a thread holds 27 for as long as its recording is
 * suspended (but while a report it asked for is written, see below), and
 * every allocation, reallocation, free and label call suspends
 * the calling thread's recording while it works on the checker's tables.
 * Switching the checker on or off is safe while other threads allocate: it
 * waits until no other thread has its recording suspended (so a thread must
 * not switch while another waits for it with its recording suspended), and
 * ends a suspension of the calling thread.  Nothing here queues an error. */

/* CRYPTO_mem_ctrl modes. */
#define CRYPTO_MEM_CHECK_OFF 0x0     /* stop checking */
#define CRYPTO_MEM_CHECK_ON 0x1      /* start checking and recording */
#define CRYPTO_MEM_CHECK_ENABLE 0x2  /* end one suspension of this thread */
#define CRYPTO_MEM_CHECK_DISABLE 0x3 /* suspend recording for this thread */

/* Option bits (CRYPTO_dbg_set_options, CRYPTO_set_mem_debug_options): what is
 * recorded at allocation and printed in reports. */
#define V_CRYPTO_MDEBUG_TIME 0x1   /* the time of allocation */
#define V_CRYPTO_MDEBUG_THREAD 0x2 /* the allocating thread */
#define V_CRYPTO_MDEBUG_ALL 0x3

/* Installs the checker's hooks with CRYPTO_set_mem_debug_functions (refused
 * once an allocation has run under a debugging hook) and its label functions
 * with CRYPTO_set_mem_info_functions.  The checker starts off. */
MORVANE_EXPORT void CRYPTO_malloc_debug_init(void);
/* Switches the checker (modes above; others do nothing); returns the mode
 * word as it was on entry: 0 off, 3 on and recording, 1 on with a thread's
 * recording suspended.  CRYPTO_MEM_CHECK_ON and CRYPTO_MEM_CHECK_OFF first
 * wait for the suspensions of other threads to end (see above). */
MORVANE_EXPORT int CRYPTO_mem_ctrl(int mode);
/* 1 when checking is on and the calling thread records, else 0. */
MORVANE_EXPORT int CRYPTO_is_mem_check_on(void);

/* The checker's hooks, in the shapes the debugging layer expects. */
MORVANE_EXPORT void CRYPTO_dbg_malloc(void *addr, int num, const char *file, int line,
                                      int before_p);
MORVANE_EXPORT void CRYPTO_dbg_realloc(void *addr1, void *addr2, int num, const char *file,
                                       int line, int before_p);
MORVANE_EXPORT void CRYPTO_dbg_free(void *addr, int before_p);
MORVANE_EXPORT void CRYPTO_dbg_set_options(long bits);
MORVANE_EXPORT long CRYPTO_dbg_get_options(void);
/* Labels of the calling thread; all three do nothing and return 0 while the
 * thread does not record.  Push returns 0; pop returns 1 when a label was
 * removed; remove_all returns the number removed. */
MORVANE_EXPORT int CRYPTO_dbg_push_info(const char *info, const char *file, int line);
MORVANE_EXPORT int CRYPTO_dbg_pop_info(void);
MORVANE_EXPORT int CRYPTO_dbg_remove_all_info(void);

/* Leak reports.  Each recorded block prints one line,
 *   "[hh:mm:ss] " (time option), "%5lu file=%s, line=%d, ",
 *   "thread=%lu, " (thread option), "number=%d, address=%08lX\n",
 * then one line per label of the allocating thread, top label first, each
 * with one more '>' in front: "> thread=%lu, file=%s, line=%d, info=\"...\"\n",
 * the text cut so that at most 125 characters precede the closing quote.
 * The summary reads "%ld bytes leaked in %d chunks\n".  A report with
 * nothing to print writes nothing and releases the checker's tables.  The
 * blocks of the report's own stream (each stream of its chain, its state, a
 * memory stream's buffer and a buffer filter's buffers; up to 64 blocks)
 * are never listed.  The report is made with lock 27 held and written after
 * it is released, whatever the mode is or becomes meanwhile, so the stream
 * may be of any kind: what the stream allocates meanwhile is not recorded,
 * while its frees and reallocations of blocks recorded before end or move
 * their records.  A thread that has its recording suspended may ask for any
 * of the three reports: it lets go of 27 while its report is written (other
 * threads record meanwhile) and holds it again after, unless the checker is
 * off by then, which ends its suspension.  Each block's lines go
 * to the stream in one write.  When no memory is left for the text, or a
 * write fails (the blocks after it are not written), the blocks not listed
 * are left out whole and "%d chunks not listed: out of memory\n" comes
 * before the summary, which counts them all. */
MORVANE_EXPORT void CRYPTO_mem_leaks(BIO *b);
/* The same onto a FILE, which stays open. */
MORVANE_EXPORT void CRYPTO_mem_leaks_fp(FILE *fp);
/* Calls cb once per recorded block (order, file, line, size, address); its
 * result is ignored.  The callback must not allocate or free through the
 * library. */
typedef void *CRYPTO_MEM_LEAK_CB(unsigned long order, const char *file, int line, int num_bytes,
                                 void *addr);
MORVANE_EXPORT void CRYPTO_mem_leaks_cb(CRYPTO_MEM_LEAK_CB *cb);
/* ==== end of leak checker ================================================= */

/* ==== Portability helpers and timing ======================================
 *
 * Thin wrappers over the operating system.  None of them queues an error.
 *
 * Directory iteration: the caller keeps a MORVANE_DIR_CTX pointer that starts
 * as null and passes its address to every MORVANE_DIR_read, which opens the
 * directory on the first call and returns one entry name per call (the entries
 * for the directory itself and its parent included, in the system's order).
 * The name stays valid until the next call; names longer than 1024 characters
 * are cut to 1024.  Null means the end (errno 0) or a failure (errno set:
 * EINVAL for a missing argument, ENOMEM when the context cannot be allocated,
 * else the system's).  A failed open leaves the pointer null; otherwise the
 * caller ends the iteration with MORVANE_DIR_end, after which the pointer is
 * not to be passed again.  The context comes from the system allocator, not
 * from the hooks above. */
typedef struct MORVANE_dir_context_st MORVANE_DIR_CTX;
MORVANE_EXPORT const char *MORVANE_DIR_read(MORVANE_DIR_CTX **ctx, const char *directory);
/* Closes the directory and frees the context: 1 on success, 0 with errno set
 * (EINVAL for a null argument). */
MORVANE_EXPORT int MORVANE_DIR_end(MORVANE_DIR_CTX **ctx);

/* The system's case-insensitive comparisons. */
MORVANE_EXPORT int MORVANE_strncasecmp(const char *str1, const char *str2, size_t n);
MORVANE_EXPORT int MORVANE_strcasecmp(const char *str1, const char *str2);
/* Compares n bytes as unsigned values: the difference of the first pair that
 * differs, or 0.  Constant time: reads all n bytes whatever they hold. */
MORVANE_EXPORT int MORVANE_memcmp(const void *v1, const void *v2, size_t n);

/* UTC broken-down time of *timer, copied into *result; returns result, or null
 * when the conversion fails. */
MORVANE_EXPORT struct tm *MORVANE_gmtime(const time_t *timer, struct tm *result);

/* CPU-time stopwatch.  A sample holds the process times (in clock ticks) at
 * the moment ms_time_get was called; only the user time is compared. */
typedef struct ms_tm {
  struct tms ms_tms;
} MS_TM;
/* A zero-filled sample from CRYPTO_malloc, or null. */
MORVANE_EXPORT MS_TM *ms_time_new(void);
MORVANE_EXPORT void ms_time_free(MS_TM *a);
MORVANE_EXPORT void ms_time_get(MS_TM *tm);
/* Seconds of user time from a to b (an unsigned 32-bit tick difference), never
 * below 1e-7. */
MORVANE_EXPORT double ms_time_diff(const MS_TM *a, const MS_TM *b);
/* -1, 0 or 1 as b's user time is before, equal to or after a's. */
MORVANE_EXPORT int ms_time_cmp(const MS_TM *a, const MS_TM *b);

/* 1 when the real and effective user or group ids differ, else 0. */
MORVANE_EXPORT int MORVANE_issetugid(void);
/* Does nothing; kept as an entry point for applications. */
MORVANE_EXPORT void MORVANE_init(void);
/* ==== end of portability helpers ========================================== */

/* Wipes `len` bytes at `ptr`; see the header comment. */
MORVANE_EXPORT void MORVANE_cleanse(void *ptr, size_t len);
/* The cleanse state; also the mark byte written into blocks over 2048 bytes. */
MORVANE_EXPORT extern unsigned char cleanse_ctr;

/* Fatal internal assertion: writes "%s(%d): Morvane internal error, assertion
 * failed: %s\n" to standard error through MORVANE_showfatal and aborts. */
MORVANE_EXPORT void MorvaneDie(const char *file, int line, const char *assertion)
    __attribute__((noreturn));
/* Formats onto standard error. */
MORVANE_EXPORT void MORVANE_showfatal(const char *fmta, ...)
    __attribute__((format(printf, 1, 2)));
#define MORVANE_assert(e) \
  (void)((e) ? 0 : (MorvaneDie(__FILE__, __LINE__, #e), 1))

/* Platform probes: standard error; never a service (0); no processor
 * capability vector (null); nothing to set up. */
MORVANE_EXPORT FILE *MORVANE_stderr(void);
MORVANE_EXPORT int MORVANE_isservice(void);
MORVANE_EXPORT unsigned long *MORVANE_ia32cap_loc(void);
MORVANE_EXPORT void MORVANE_cpuid_setup(void);
/* Always 0; nothing reads or writes it. */
MORVANE_EXPORT extern int MORVANE_NONPIC_relocated;

/* ---- version ------------------------------------------------------------ */

/* Quorix_version(t) texts; any other t gives "not available". */
#define QUORIX_VERSION 0
#define QUORIX_CFLAGS 2
#define QUORIX_BUILT_ON 3
#define QUORIX_PLATFORM 4
#define QUORIX_DIR 5
MORVANE_EXPORT const char *Quorix_version(int t);
/* 0x009080ff: "0.9.8o" as 0, 09, 08, 0f (the 15th letter), f. */
MORVANE_EXPORT unsigned long Quorix(void);

/* ---- locks and thread identity -----------------------------------------
 *
 * The library owns no lock.  Mutual exclusion goes through CRYPTO_lock(mode,
 * type, file, line), which hands the request to the application's locking
 * callback (static and application lock numbers, 0 and up) or to the
 * dynamic-lock dispatcher (negative numbers); with no callback it does
 * nothing.  `mode` combines CRYPTO_LOCK or CRYPTO_UNLOCK with CRYPTO_READ or
 * CRYPTO_WRITE.  The thread id comes from the id callback, else it is the
 * process id.  Callbacks are process-wide, set without a lock: install them at
 * start-up, before threads share library objects.  Shared objects change
 * their reference counts through CRYPTO_add_lock under their family's lock. */

#define CRYPTO_LOCK 1
#define CRYPTO_UNLOCK 2
#define CRYPTO_READ 4
#define CRYPTO_WRITE 8

/* Static lock numbers; 0 is not a lock. */
#define CRYPTO_LOCK_ERR 1
#define CRYPTO_LOCK_EX_DATA 2
#define CRYPTO_LOCK_X509 3
#define CRYPTO_LOCK_X509_INFO 4
#define CRYPTO_LOCK_X509_PKEY 5
#define CRYPTO_LOCK_X509_CRL 6
#define CRYPTO_LOCK_X509_REQ 7
#define CRYPTO_LOCK_DSA 8
#define CRYPTO_LOCK_RSA 9
#define CRYPTO_LOCK_EVP_PKEY 10
#define CRYPTO_LOCK_X509_STORE 11
#define CRYPTO_LOCK_SSL_CTX 12
#define CRYPTO_LOCK_SSL_CERT 13
#define CRYPTO_LOCK_SSL_SESSION 14
#define CRYPTO_LOCK_SSL_SESS_CERT 15
#define CRYPTO_LOCK_SSL 16
#define CRYPTO_LOCK_SSL_METHOD 17
#define CRYPTO_LOCK_RAND 18
#define CRYPTO_LOCK_RAND2 19
#define CRYPTO_LOCK_MALLOC 20
#define CRYPTO_LOCK_BIO 21
#define CRYPTO_LOCK_GETHOSTBYNAME 22
#define CRYPTO_LOCK_GETSERVBYNAME 23
#define CRYPTO_LOCK_READDIR 24
#define CRYPTO_LOCK_RSA_BLINDING 25
#define CRYPTO_LOCK_DH 26
#define CRYPTO_LOCK_MALLOC2 27
#define CRYPTO_LOCK_DSO 28
#define CRYPTO_LOCK_DYNLOCK 29
#define CRYPTO_LOCK_ENGINE 30
#define CRYPTO_LOCK_UI 31
#define CRYPTO_LOCK_ECDSA 32
#define CRYPTO_LOCK_EC 33
#define CRYPTO_LOCK_ECDH 34
#define CRYPTO_LOCK_BN 35
#define CRYPTO_LOCK_EC_PRE_COMP 36
#define CRYPTO_LOCK_STORE 37
#define CRYPTO_LOCK_COMP 38
#define CRYPTO_NUM_LOCKS 39

/* The lock order: the library takes a static lock while it holds another
 * only when the one taken comes later in this list, so a program that takes
 * several locks in this order cannot deadlock against the library.  A
 * threaded program that calls fork() takes every one of its lock mutexes in
 * its pthread_atfork prepare handler in this order, and releases them in the
 * parent and child handlers:
 *
 *   static const int order[] = {CRYPTO_LOCK_ORDER};
 *   for (i = 0; i < (int)(sizeof order / sizeof order[0]); i++)
 *     pthread_mutex_lock(&locks[order[i]]);
 *
 * The nestings behind it: the certificate store (11) takes certificates' (3)
 * and revocation lists' (6) locks under its own; RSA (9) makes a key's
 * blinding under its lock, which draws random bytes (18, then 19 under it);
 * the shared blinding (25) draws its pair afresh under its lock; the random
 * generator, and certificates' cached facts, hash with digests that the
 * engine tables (30) may supply; the engine lock frees engines' extra data
 * (2); DSA (8), DH (26) and RSA make Montgomery contexts under their locks,
 * EC (33) keeps method data and the dynamic-lock table (29) grows under
 * theirs, the console prompt (31) holds its lock for a whole session and
 * host-name lookups (22) queue their errors under theirs; nearly every lock
 * may be held while an error is queued (1) and, with the leak checker on,
 * while memory is allocated (27, then 20), so those three come last.  The
 * locks between 22 and 1 are never held while another is taken.  Callbacks
 * that the library calls with a lock held (an engine's init, finish and
 * destroy, and its extra data's free functions, under 30) may take only
 * locks later in the list.  The leak checker takes only 20 under 27: its
 * reports make their text under 27 and write it with no lock held (the
 * callback of CRYPTO_mem_leaks_cb runs under 27 and may take no lock).
 * Application locks (40 and up) and dynamic locks are the program's own to
 * place. */
#define CRYPTO_LOCK_ORDER                                                                       \
  11, 3, 6, 9, 25, 8, 26, 33, 18, 19, 30, 2, 29, 31, 22, 4, 5, 7, 10, 12, 13, 14, 15, 16, 17, 21, \
      23, 24, 28, 32, 34, 35, 36, 37, 38, 1, 27, 20

#define CRYPTO_w_lock(type) CRYPTO_lock(CRYPTO_LOCK | CRYPTO_WRITE, type, __FILE__, __LINE__)
#define CRYPTO_w_unlock(type) CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_WRITE, type, __FILE__, __LINE__)
#define CRYPTO_r_lock(type) CRYPTO_lock(CRYPTO_LOCK | CRYPTO_READ, type, __FILE__, __LINE__)
#define CRYPTO_r_unlock(type) CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_READ, type, __FILE__, __LINE__)
#define CRYPTO_add(addr, amount, type) CRYPTO_add_lock(addr, amount, type, __FILE__, __LINE__)

/* The application's lock object behind a dynamic lock; the library never
 * looks inside. */
struct CRYPTO_dynlock_value;

typedef void (*CRYPTO_locking_cb)(int mode, int type, const char *file, int line);
typedef int (*CRYPTO_add_lock_cb)(int *pointer, int amount, int type, const char *file,
                                  int line);
typedef unsigned long (*CRYPTO_id_cb)(void);
typedef struct CRYPTO_dynlock_value *(*CRYPTO_dynlock_create_cb)(const char *file, int line);
typedef void (*CRYPTO_dynlock_lock_cb)(int mode, struct CRYPTO_dynlock_value *l,
                                       const char *file, int line);
typedef void (*CRYPTO_dynlock_destroy_cb)(struct CRYPTO_dynlock_value *l, const char *file,
                                          int line);

/* 39: the static numbers 0 to 38. */
MORVANE_EXPORT int CRYPTO_num_locks(void);
/* Setters store the pointer unchanged (null included); getters return it. */
MORVANE_EXPORT void CRYPTO_set_locking_callback(CRYPTO_locking_cb func);
MORVANE_EXPORT CRYPTO_locking_cb CRYPTO_get_locking_callback(void);
MORVANE_EXPORT void CRYPTO_set_add_lock_callback(CRYPTO_add_lock_cb func);
MORVANE_EXPORT CRYPTO_add_lock_cb CRYPTO_get_add_lock_callback(void);
MORVANE_EXPORT void CRYPTO_set_id_callback(CRYPTO_id_cb func);
MORVANE_EXPORT CRYPTO_id_cb CRYPTO_get_id_callback(void);
/* The id callback's result, else the process id. */
MORVANE_EXPORT unsigned long CRYPTO_thread_id(void);

/* Hands a lock request on; `file` and `line` name the requesting place. */
MORVANE_EXPORT void CRYPTO_lock(int mode, int type, const char *file, int line);
/* Adds `amount` to *pointer under a write lock of `type` and returns the new
 * value; with an add-lock callback installed, returns the callback's result
 * and takes no lock. */
MORVANE_EXPORT int CRYPTO_add_lock(int *pointer, int amount, int type, const char *file,
                                   int line);

/* "dynamic" for negative numbers, the static name for 0 to 38, the
 * registered name for numbers handed out by CRYPTO_get_new_lockid, "ERROR"
 * beyond (and null for 39 once names exist). */
MORVANE_EXPORT const char *CRYPTO_get_lock_name(int type);
/* Registers a lock name and returns its number (40, 41, ...); 0 on failure.
 * Meant for start-up: takes no lock. */
MORVANE_EXPORT int CRYPTO_get_new_lockid(char *name);

/* Dynamic locks, numbered -1, -2, ...: created through the create callback
 * (0 when it is missing or fails), destroyed through the destroy callback.
 * A lock operation on a dynamic number reaches the dynlock lock callback. */
MORVANE_EXPORT int CRYPTO_get_new_dynlockid(void);
MORVANE_EXPORT void CRYPTO_destroy_dynlockid(int i);
/* The lock object of number i with a reference taken, or null; balance every
 * successful call with one CRYPTO_destroy_dynlockid(i). */
MORVANE_EXPORT struct CRYPTO_dynlock_value *CRYPTO_get_dynlock_value(int i);
MORVANE_EXPORT void CRYPTO_set_dynlock_create_callback(CRYPTO_dynlock_create_cb func);
/* The first call also installs the dispatcher for negative numbers, for good. */
MORVANE_EXPORT void CRYPTO_set_dynlock_lock_callback(CRYPTO_dynlock_lock_cb func);
MORVANE_EXPORT void CRYPTO_set_dynlock_destroy_callback(CRYPTO_dynlock_destroy_cb func);
MORVANE_EXPORT CRYPTO_dynlock_create_cb CRYPTO_get_dynlock_create_callback(void);
MORVANE_EXPORT CRYPTO_dynlock_lock_cb CRYPTO_get_dynlock_lock_callback(void);
MORVANE_EXPORT CRYPTO_dynlock_destroy_cb CRYPTO_get_dynlock_destroy_callback(void);
/* Stores the dispatcher that CRYPTO_lock calls for negative numbers. */
MORVANE_EXPORT void int_CRYPTO_set_do_dynlock_callback(CRYPTO_locking_cb dyn_cb);

/* ---- per-object extra data ----------------------------------------------
 *
 * Objects of many families embed a CRYPTO_EX_DATA in which applications keep
 * one pointer per registered index.  An index is registered per class of
 * objects (CRYPTO_EX_INDEX_*, or a class made by CRYPTO_ex_data_new_class)
 * with optional callbacks run, in ascending index order and with no lock
 * held, when an object of the class is set up, duplicated or released; `argl`
 * and `argp` are handed back to them.  The registry can be replaced by an
 * application table before its first use.  Lock 2 ("ex_data") guards the
 * registry; the values of one object are not locked. */

struct crypto_ex_data_st {
  STACK *sk; /* slot values by index; null until a value is stored */
  int dummy;
};

/* `ptr` is the slot's current value; the result is ignored. */
typedef int CRYPTO_EX_new(void *parent, void *ptr, CRYPTO_EX_DATA *ad, int idx, long argl,
                          void *argp);
typedef void CRYPTO_EX_free(void *parent, void *ptr, CRYPTO_EX_DATA *ad, int idx, long argl,
                            void *argp);
/* `from_d` points to a copy of the value, which the callback may replace with
 * the value to store in `to`; the result is ignored. */
typedef int CRYPTO_EX_dup(CRYPTO_EX_DATA *to, CRYPTO_EX_DATA *from, void *from_d, int idx,
                          long argl, void *argp);

/* One registered index. */
typedef struct crypto_ex_data_func_st {
  long argl;
  void *argp;
  CRYPTO_EX_new *new_func;
  CRYPTO_EX_free *free_func;
  CRYPTO_EX_dup *dup_func;
} CRYPTO_EX_DATA_FUNCS;

/* Classes of the library's object families; numbers from 100 up are made by
 * CRYPTO_ex_data_new_class. */
#define CRYPTO_EX_INDEX_BIO 0
#define CRYPTO_EX_INDEX_X509_STORE 4
#define CRYPTO_EX_INDEX_X509_STORE_CTX 5
#define CRYPTO_EX_INDEX_RSA 6
#define CRYPTO_EX_INDEX_DSA 7
#define CRYPTO_EX_INDEX_DH 8
#define CRYPTO_EX_INDEX_ENGINE 9
#define CRYPTO_EX_INDEX_X509 10
#define CRYPTO_EX_INDEX_UI 11
#define CRYPTO_EX_INDEX_ECDSA 12
#define CRYPTO_EX_INDEX_ECDH 13
#define CRYPTO_EX_INDEX_STORE 15
#define CRYPTO_EX_INDEX_USER 100

/* The registry's functions; the dispatchers below call the table in force. */
typedef struct st_CRYPTO_EX_DATA_IMPL {
  int (*cb_new_class)(void);
  void (*cb_cleanup)(void);
  int (*cb_get_new_index)(int class_index, long argl, void *argp, CRYPTO_EX_new *new_func,
                          CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
  int (*cb_new_ex_data)(int class_index, void *obj, CRYPTO_EX_DATA *ad);
  int (*cb_dup_ex_data)(int class_index, CRYPTO_EX_DATA *to, CRYPTO_EX_DATA *from);
  void (*cb_free_ex_data)(int class_index, void *obj, CRYPTO_EX_DATA *ad);
} CRYPTO_EX_DATA_IMPL;

/* The table in force, installing the built-in one if none is. */
MORVANE_EXPORT const CRYPTO_EX_DATA_IMPL *CRYPTO_get_ex_data_implementation(void);
/* Installs `i` and returns 1 only while no table is in force (before first
 * use, or after CRYPTO_cleanup_all_ex_data); otherwise 0.  A table with a
 * null slot is refused: 0 with "table with a null function". */
MORVANE_EXPORT int CRYPTO_set_ex_data_implementation(const CRYPTO_EX_DATA_IMPL *i);

/* A new class number: 100, 101, ... for the life of the process. */
MORVANE_EXPORT int CRYPTO_ex_data_new_class(void);
/* Registers an index of the class (0, 1, ... per class); -1 on failure. */
MORVANE_EXPORT int CRYPTO_get_ex_new_index(int class_index, long argl, void *argp,
                                           CRYPTO_EX_new *new_func, CRYPTO_EX_dup *dup_func,
                                           CRYPTO_EX_free *free_func);
/* Sets up the empty `ad` of a new object `obj`: 1, or 0 on failure. */
MORVANE_EXPORT int CRYPTO_new_ex_data(int class_index, void *obj, CRYPTO_EX_DATA *ad);
/* Copies the values of `from` into `to` through the dup callbacks (values
 * without one are shared): 1, or 0 on failure. */
MORVANE_EXPORT int CRYPTO_dup_ex_data(int class_index, CRYPTO_EX_DATA *to,
                                      CRYPTO_EX_DATA *from);
/* Runs the free callbacks and releases the slots of `ad` (not the values). */
MORVANE_EXPORT void CRYPTO_free_ex_data(int class_index, void *obj, CRYPTO_EX_DATA *ad);
/* Forgets every class and index (application teardown, one thread); new
 * class numbers continue where they were. */
MORVANE_EXPORT void CRYPTO_cleanup_all_ex_data(void);

/* Stores `val` at `idx` (a negative idx stores nothing): 1, or 0 when the
 * slots cannot grow.  Reads null for empty or absent slots. */
MORVANE_EXPORT int CRYPTO_set_ex_data(CRYPTO_EX_DATA *ad, int idx, void *val);
MORVANE_EXPORT void *CRYPTO_get_ex_data(const CRYPTO_EX_DATA *ad, int idx);

/* Registers the texts of library 15 (ERR_LIB_CRYPTO) once; see
 * ERR_load_strings in <morvane/err.h>. */
MORVANE_EXPORT void ERR_load_CRYPTO_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 15 (CRYPTO). */
#define CRYPTO_F_CRYPTO_GET_EX_NEW_INDEX 100
#define CRYPTO_F_CRYPTO_GET_NEW_LOCKID 101
#define CRYPTO_F_CRYPTO_SET_EX_DATA 102
#define CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID 103
#define CRYPTO_F_DEF_ADD_INDEX 104
#define CRYPTO_F_DEF_GET_CLASS 105
#define CRYPTO_F_INT_DUP_EX_DATA 106
#define CRYPTO_F_INT_FREE_EX_DATA 107
#define CRYPTO_F_INT_NEW_EX_DATA 108
#define CRYPTO_F_CRYPTO_SET_EX_DATA_IMPLEMENTATION 109
/* Reason codes of library 15 (CRYPTO). */
#define CRYPTO_R_NO_DYNLOCK_CREATE_CALLBACK 100
#define CRYPTO_R_INCOMPLETE_TABLE 101
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_CRYPTO_H */
