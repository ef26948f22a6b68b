// MORVANE_cleanse: overwrite memory that held secrets.
//
// The filler moves with an address-dependent counter, and the second pass reads
// the region back; both go through volatile accesses so the compiler cannot
// drop them as dead stores before the block is freed.
//
// Implementation notes: byte by byte, each byte gets the counter and the
// counter then grows by 17 plus the low four bits of the next address.  Over a
// run of 16 bytes starting on a 16-byte boundary that gives byte j the value
// c + 17j + j(j+1)/2 (c the counter at the run's start) and moves the counter
// on by 392, so such runs are written as one 16-byte vector: a fixed pattern
// plus c in every byte lane.  The search pass reads aligned 8-byte words and
// looks at single bytes only in the word that holds the first match.  The
// bytes and the counter left behind are those of the byte-wise definition.
//
// Calls on several threads share `cleanse_ctr`; it is read once and written
// once per call through a relaxed atomic reference, so the calls never race
// (a concurrent call may see the older value, which only changes the filler).

#include <stdint.h>
#include <string.h>

#include <atomic>

#include <morvane/crypto.h>

constinit unsigned char cleanse_ctr = 0;

namespace {

// Word loads over bytes of any type, and one run of 16 bytes as a vector
// whose lanes add without carries between them.
typedef uint64_t __attribute__((may_alias)) word_t;
typedef unsigned char run_t __attribute__((vector_size(16), may_alias));

constexpr uintptr_t kRun = 16;
constexpr unsigned int kRunStep = 392;  // the counter's growth over one run
constexpr uint64_t kHigh = 0x8080808080808080ULL;
constexpr uint64_t kOnes = 0x0101010101010101ULL;

// Byte j of an aligned run whose counter starts at 0.
constexpr unsigned char pattern(unsigned int j) {
  return static_cast<unsigned char>(17 * j + j * (j + 1) / 2);
}
constexpr run_t kPattern = {pattern(0),  pattern(1),  pattern(2),  pattern(3),
                            pattern(4),  pattern(5),  pattern(6),  pattern(7),
                            pattern(8),  pattern(9),  pattern(10), pattern(11),
                            pattern(12), pattern(13), pattern(14), pattern(15)};

// `x` in every lane.
inline run_t splat(unsigned char x) {
  run_t r;
  for (unsigned int i = 0; i < kRun; i++) r[i] = x;
  return r;
}

// Nonzero when some byte lane of `w` is zero.
inline uint64_t has_zero_lane(uint64_t w) {
  return (w - kOnes) & ~w & kHigh;
}

}  // namespace

/* see morvane/crypto.h */
void MORVANE_cleanse(void* ptr, size_t len) {
  volatile unsigned char* p = static_cast<volatile unsigned char*>(ptr);
  volatile unsigned char* const end = p + len;
  std::atomic_ref<unsigned char> shared(cleanse_ctr);
  unsigned int ctr = shared.load(std::memory_order_relaxed);
  auto write_byte = [&]() {
    *(p++) = static_cast<unsigned char>(ctr);
    ctr += 17 + (static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p)) & 0xF);
  };
  while (p != end && (reinterpret_cast<uintptr_t>(p) & (kRun - 1)) != 0) write_byte();
  if (static_cast<size_t>(end - p) >= kRun) {
    run_t run = kPattern + splat(static_cast<unsigned char>(ctr));
    const run_t step = splat(static_cast<unsigned char>(kRunStep));
    do {
      *reinterpret_cast<volatile run_t*>(p) = run;
      run += step;
      ctr += kRunStep;
      p += kRun;
    } while (static_cast<size_t>(end - p) >= kRun);
  }
  while (p != end) write_byte();

  // The first byte equal to the counter, in address order.
  const unsigned char target = static_cast<unsigned char>(ctr);
  const uint64_t spread = kOnes * target;
  p = static_cast<volatile unsigned char*>(ptr);
  volatile unsigned char* found = nullptr;
  while (p != end && found == nullptr) {
    const bool whole_word =
        (reinterpret_cast<uintptr_t>(p) & 7) == 0 && static_cast<size_t>(end - p) >= 8;
    if (whole_word && has_zero_lane(*reinterpret_cast<volatile word_t*>(p) ^ spread) == 0) {
      p += 8;
      continue;
    }
    // A single byte, or the word that holds a match: byte by byte.
    volatile unsigned char* const stop = whole_word ? p + 8 : p + 1;
    for (; p != stop; p++) {
      if (*p == target) {
        found = p;
        break;
      }
    }
  }
  if (found != nullptr) ctr += 63 + static_cast<unsigned int>(reinterpret_cast<uintptr_t>(found));
  shared.store(static_cast<unsigned char>(ctr), std::memory_order_relaxed);
}
