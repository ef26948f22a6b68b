// MORVANE_cleanse: overwrite memory that held secrets.
//
// The filler moves with an address-dependent counter, and the second pass reads
// the region back; both go through volatile accesses so the compiler cannot
// drop them as dead stores before the block is freed.
//
// Implementation notes: calls on several threads share `cleanse_ctr`; it is
// read once and written once per call through a relaxed atomic reference, so
// the calls never race (a concurrent call may see the older value, which only
// changes the filler).

#include <stdint.h>

#include <atomic>

#include <morvane/crypto.h>

constinit unsigned char cleanse_ctr = 0;

/* see morvane/crypto.h */
void MORVANE_cleanse(void* ptr, size_t len) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(ptr);
  std::atomic_ref<unsigned char> shared(cleanse_ctr);
  unsigned int ctr = shared.load(std::memory_order_relaxed);
  size_t loop = len;
  while (loop--) {
    *(p++) = static_cast<unsigned char>(ctr);
    ctr += 17 + (static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p)) & 0xF);
  }
  p = static_cast<volatile unsigned char*>(ptr);
  for (size_t i = 0; i < len; i++) {
    if (p[i] == static_cast<unsigned char>(ctr)) {
      ctr += 63 + static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p + i));
      break;
    }
  }
  shared.store(static_cast<unsigned char>(ctr), std::memory_order_relaxed);
}
