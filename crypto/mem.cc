// Allocation front end: replaceable hooks, a debugging layer, and the gates
// that stop the hooks being replaced once the first block is handed out.
//
// Implementation notes: the hooks are plain process-wide slots without a lock;
// they are meant to be set before threads use the library.  An _ex slot that
// still holds its default adapter means the plain hook is in force, and the
// getters rely on that identity.

#include <stdlib.h>
#include <string.h>

#include <atomic>

#include <morvane/crypto.h>

namespace {

using MallocFn = void* (*)(size_t);
using ReallocFn = void* (*)(void*, size_t);
using FreeFn = void (*)(void*);
using MallocExFn = void* (*)(size_t, const char*, int);
using ReallocExFn = void* (*)(void*, size_t, const char*, int);
using MallocDebugFn = void (*)(void*, int, const char*, int, int);
using ReallocDebugFn = void (*)(void*, void*, int, const char*, int, int);
using FreeDebugFn = void (*)(void*, int);
using SetOptionsFn = void (*)(long);
using GetOptionsFn = long (*)(void);
using PushInfoFn = int (*)(const char*, const char*, int);
using PopInfoFn = int (*)(void);

// The system allocator behind the default hooks.  Named wrappers keep the
// slots' initial values constant expressions.
void* system_malloc(size_t n) { return malloc(n); }
void* system_realloc(void* p, size_t n) { return realloc(p, n); }
void system_free(void* p) { free(p); }

constinit MallocFn malloc_func = system_malloc;
constinit ReallocFn realloc_func = system_realloc;
constinit FreeFn free_func = system_free;
constinit MallocFn malloc_locked_func = system_malloc;
constinit FreeFn free_locked_func = system_free;

void* default_malloc_ex(size_t num, const char*, int) { return malloc_func(num); }
void* default_realloc_ex(void* str, size_t num, const char*, int) {
  return realloc_func(str, num);
}
void* default_malloc_locked_ex(size_t num, const char*, int) { return malloc_locked_func(num); }

constinit MallocExFn malloc_ex_func = default_malloc_ex;
constinit ReallocExFn realloc_ex_func = default_realloc_ex;
constinit MallocExFn malloc_locked_ex_func = default_malloc_locked_ex;

constinit MallocDebugFn malloc_debug_func = nullptr;
constinit ReallocDebugFn realloc_debug_func = nullptr;
constinit FreeDebugFn free_debug_func = nullptr;
constinit SetOptionsFn set_debug_options_func = nullptr;
constinit GetOptionsFn get_debug_options_func = nullptr;
constinit PushInfoFn push_info_func = nullptr;
constinit PopInfoFn pop_info_func = nullptr;
constinit PopInfoFn remove_all_info_func = nullptr;

// The gates: 1 until the first allocation (of any block, and of a block seen
// by a debugging layer).  Every allocation on every thread closes them, so
// they are read and written as relaxed atomics, and written only while open.
constinit int allow_customize = 1;
constinit int allow_customize_debug = 1;

bool gate_open(int& gate) {
  return std::atomic_ref<int>(gate).load(std::memory_order_relaxed) != 0;
}
void close_gate(int& gate) {
  if (gate_open(gate)) std::atomic_ref<int>(gate).store(0, std::memory_order_relaxed);
}

// Large blocks carry the cleanse counter in their first byte.
constexpr int kMarkThreshold = 2048;

// The shared body of CRYPTO_malloc and CRYPTO_malloc_locked.
void* gated_malloc(MallocExFn hook, int num, const char* file, int line) {
  if (num <= 0) return nullptr;
  close_gate(allow_customize);
  if (malloc_debug_func != nullptr) {
    close_gate(allow_customize_debug);
    malloc_debug_func(nullptr, num, file, line, 0);
  }
  void* ret = hook(static_cast<size_t>(num), file, line);
  if (malloc_debug_func != nullptr) malloc_debug_func(ret, num, file, line, 1);
  if (ret != nullptr && num > kMarkThreshold)
    *static_cast<unsigned char*>(ret) =
        std::atomic_ref<unsigned char>(cleanse_ctr).load(std::memory_order_relaxed);
  return ret;
}

}  // namespace

/* see morvane/crypto.h */
void* CRYPTO_malloc(int num, const char* file, int line) {
  return gated_malloc(malloc_ex_func, num, file, line);
}

void* CRYPTO_malloc_locked(int num, const char* file, int line) {
  return gated_malloc(malloc_locked_ex_func, num, file, line);
}

void* CRYPTO_realloc(void* str, int num, const char* file, int line) {
  if (str == nullptr) return CRYPTO_malloc(num, file, line);
  if (num <= 0) return nullptr;
  if (realloc_debug_func != nullptr) realloc_debug_func(str, nullptr, num, file, line, 0);
  void* ret = realloc_ex_func(str, static_cast<size_t>(num), file, line);
  if (realloc_debug_func != nullptr) realloc_debug_func(str, ret, num, file, line, 1);
  return ret;
}

void* CRYPTO_realloc_clean(void* str, int old_len, int num, const char* file, int line) {
  if (str == nullptr) return CRYPTO_malloc(num, file, line);
  if (num <= 0) return nullptr;
  if (realloc_debug_func != nullptr) realloc_debug_func(str, nullptr, num, file, line, 0);
  void* ret = malloc_ex_func(static_cast<size_t>(num), file, line);
  if (ret != nullptr) {
    // Callers grow their buffers; a shrinking call copies only what fits.
    size_t old = old_len > 0 ? static_cast<size_t>(old_len) : 0;
    size_t copy = old < static_cast<size_t>(num) ? old : static_cast<size_t>(num);
    memcpy(ret, str, copy);
    MORVANE_cleanse(str, old);
    free_func(str);
  }
  if (realloc_debug_func != nullptr) realloc_debug_func(str, ret, num, file, line, 1);
  return ret;
}

void* CRYPTO_remalloc(void* a, int num, const char*, int) {
  if (a != nullptr) CRYPTO_free(a);
  // The fresh block is reported under this file's own place.
  return CRYPTO_malloc(num, "mem.cc", 410);
}

char* CRYPTO_strdup(const char* str, const char* file, int line) {
  if (str == nullptr) return nullptr;
  size_t len = strlen(str) + 1;
  auto* ret = static_cast<char*>(CRYPTO_malloc(MORVANE_int_size(len), file, line));
  if (ret != nullptr) memcpy(ret, str, len);
  return ret;
}

void CRYPTO_free(void* str) {
  if (free_debug_func != nullptr) free_debug_func(str, 0);
  free_func(str);
  if (free_debug_func != nullptr) free_debug_func(nullptr, 1);
}

void CRYPTO_free_locked(void* str) {
  if (free_debug_func != nullptr) free_debug_func(str, 0);
  free_locked_func(str);
  if (free_debug_func != nullptr) free_debug_func(nullptr, 1);
}

// ---- hook setters ---------------------------------------------------------

int CRYPTO_set_mem_functions(MallocFn m, ReallocFn r, FreeFn f) {
  if (!gate_open(allow_customize) || m == nullptr || r == nullptr || f == nullptr) return 0;
  malloc_func = m;
  malloc_ex_func = default_malloc_ex;
  realloc_func = r;
  realloc_ex_func = default_realloc_ex;
  free_func = f;
  malloc_locked_func = m;
  malloc_locked_ex_func = default_malloc_locked_ex;
  free_locked_func = f;
  return 1;
}

int CRYPTO_set_mem_ex_functions(MallocExFn m, ReallocExFn r, FreeFn f) {
  if (!gate_open(allow_customize) || m == nullptr || r == nullptr || f == nullptr) return 0;
  malloc_func = nullptr;
  malloc_ex_func = m;
  realloc_func = nullptr;
  realloc_ex_func = r;
  free_func = f;
  malloc_locked_func = nullptr;
  malloc_locked_ex_func = m;
  free_locked_func = f;
  return 1;
}

int CRYPTO_set_locked_mem_functions(MallocFn m, FreeFn f) {
  if (!gate_open(allow_customize) || m == nullptr || f == nullptr) return 0;
  malloc_locked_func = m;
  malloc_locked_ex_func = default_malloc_locked_ex;
  free_locked_func = f;
  return 1;
}

int CRYPTO_set_locked_mem_ex_functions(MallocExFn m, FreeFn f) {
  if (!gate_open(allow_customize) || m == nullptr || f == nullptr) return 0;
  malloc_locked_func = nullptr;
  malloc_locked_ex_func = m;
  free_locked_func = f;
  return 1;
}

int CRYPTO_set_mem_debug_functions(MallocDebugFn m, ReallocDebugFn r, FreeDebugFn f,
                                   SetOptionsFn so, GetOptionsFn go) {
  if (!gate_open(allow_customize_debug)) return 0;
  malloc_debug_func = m;
  realloc_debug_func = r;
  free_debug_func = f;
  set_debug_options_func = so;
  get_debug_options_func = go;
  return 1;
}

void CRYPTO_set_mem_info_functions(PushInfoFn push_info_fn, PopInfoFn pop_info_fn,
                                   PopInfoFn remove_all_info_fn) {
  push_info_func = push_info_fn;
  pop_info_func = pop_info_fn;
  remove_all_info_func = remove_all_info_fn;
}

// ---- getters --------------------------------------------------------------

void CRYPTO_get_mem_functions(MallocFn* m, ReallocFn* r, FreeFn* f) {
  if (m != nullptr) *m = malloc_ex_func == default_malloc_ex ? malloc_func : nullptr;
  if (r != nullptr) *r = realloc_ex_func == default_realloc_ex ? realloc_func : nullptr;
  if (f != nullptr) *f = free_func;
}

void CRYPTO_get_mem_ex_functions(MallocExFn* m, ReallocExFn* r, FreeFn* f) {
  if (m != nullptr) *m = malloc_ex_func != default_malloc_ex ? malloc_ex_func : nullptr;
  if (r != nullptr) *r = realloc_ex_func != default_realloc_ex ? realloc_ex_func : nullptr;
  if (f != nullptr) *f = free_func;
}

void CRYPTO_get_locked_mem_functions(MallocFn* m, FreeFn* f) {
  if (m != nullptr)
    *m = malloc_locked_ex_func == default_malloc_locked_ex ? malloc_locked_func : nullptr;
  if (f != nullptr) *f = free_locked_func;
}

void CRYPTO_get_locked_mem_ex_functions(MallocExFn* m, FreeFn* f) {
  if (m != nullptr)
    *m = malloc_locked_ex_func != default_malloc_locked_ex ? malloc_locked_ex_func : nullptr;
  if (f != nullptr) *f = free_locked_func;
}

void CRYPTO_get_mem_debug_functions(MallocDebugFn* m, ReallocDebugFn* r, FreeDebugFn* f,
                                    SetOptionsFn* so, GetOptionsFn* go) {
  if (m != nullptr) *m = malloc_debug_func;
  if (r != nullptr) *r = realloc_debug_func;
  if (f != nullptr) *f = free_debug_func;
  if (so != nullptr) *so = set_debug_options_func;
  if (go != nullptr) *go = get_debug_options_func;
}

// ---- forwarders to the debugging layer ------------------------------------

void CRYPTO_set_mem_debug_options(long bits) {
  if (set_debug_options_func != nullptr) set_debug_options_func(bits);
}

long CRYPTO_get_mem_debug_options(void) {
  return get_debug_options_func != nullptr ? get_debug_options_func() : 0;
}

int CRYPTO_push_info_(const char* info, const char* file, int line) {
  return push_info_func != nullptr ? push_info_func(info, file, line) : 1;
}

int CRYPTO_pop_info(void) { return pop_info_func != nullptr ? pop_info_func() : 1; }

int CRYPTO_remove_all_info(void) {
  return remove_all_info_func != nullptr ? remove_all_info_func() : 1;
}
