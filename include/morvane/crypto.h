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
 * be dropped by the compiler. */
#ifndef MORVANE_CRYPTO_H
#define MORVANE_CRYPTO_H

#include <stddef.h>

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

#define MORVANE_malloc(num) CRYPTO_malloc((int)(num), __FILE__, __LINE__)
#define MORVANE_strdup(str) CRYPTO_strdup((str), __FILE__, __LINE__)
#define MORVANE_realloc(addr, num) CRYPTO_realloc((char *)(addr), (int)(num), __FILE__, __LINE__)
#define MORVANE_realloc_clean(addr, old_num, num) \
  CRYPTO_realloc_clean((addr), (int)(old_num), (int)(num), __FILE__, __LINE__)
#define MORVANE_remalloc(addr, num) \
  CRYPTO_remalloc((addr), (int)(num), __FILE__, __LINE__)
#define MORVANE_freeFunc CRYPTO_free
#define MORVANE_free(addr) CRYPTO_free(addr)
#define MORVANE_malloc_locked(num) CRYPTO_malloc_locked((int)(num), __FILE__, __LINE__)
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

MORVANE_END_DECLS

#endif /* MORVANE_CRYPTO_H */
