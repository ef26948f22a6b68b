// The DES key schedule (FIPS 46-3, "The Key Schedule Calculation"), key
// parity, the weak-key list and random keys.
//
// Implementation notes: the 56 key bits after PC-1 are kept as C || D in one
// 64-bit word, standard position p (1 to 56) at bit 56 - p.  PC-1 and PC-2 are
// tables indexed by 7-bit groups, generated at compile time from the FIPS 46
// lists: PC-1 by key byte, PC-2 by groups of C || D, each PC-2 entry already
// spread into the round-key layout that the block function reads.

#include <string.h>

#include <bit>

#include <morvane/crypto.h>
#include <morvane/des.h>
#include <morvane/rand.h>

#include "des/internal.h"

int _shadow_DES_check_key = 0;

namespace {

// clang-format off
// FIPS 46-3, Permuted Choice 1: key bit numbers of C0 then D0.
constexpr unsigned char kPc1[56] = {
  57, 49, 41, 33, 25, 17,  9,  1, 58, 50, 42, 34, 26, 18,
  10,  2, 59, 51, 43, 35, 27, 19, 11,  3, 60, 52, 44, 36,
  63, 55, 47, 39, 31, 23, 15,  7, 62, 54, 46, 38, 30, 22,
  14,  6, 61, 53, 45, 37, 29, 21, 13,  5, 28, 20, 12,  4,
};

// FIPS 46-3, Permuted Choice 2: positions in C || D of subkey bits 1 to 48.
constexpr unsigned char kPc2[48] = {
  14, 17, 11, 24,  1,  5,  3, 28, 15,  6, 21, 10,
  23, 19, 12,  4, 26,  8, 16,  7, 27, 20, 13,  2,
  41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
  44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// FIPS 46-3, the left shifts of C and D before each round.
constexpr unsigned char kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};

// The 4 weak and 12 semi-weak keys (FIPS 74, 3.6), with odd parity.
constexpr unsigned char kWeakKeys[16][8] = {
  {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01},
  {0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE},
  {0x1F, 0x1F, 0x1F, 0x1F, 0x0E, 0x0E, 0x0E, 0x0E},
  {0xE0, 0xE0, 0xE0, 0xE0, 0xF1, 0xF1, 0xF1, 0xF1},
  {0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE},
  {0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01, 0xFE, 0x01},
  {0x1F, 0xE0, 0x1F, 0xE0, 0x0E, 0xF1, 0x0E, 0xF1},
  {0xE0, 0x1F, 0xE0, 0x1F, 0xF1, 0x0E, 0xF1, 0x0E},
  {0x01, 0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1},
  {0xE0, 0x01, 0xE0, 0x01, 0xF1, 0x01, 0xF1, 0x01},
  {0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E, 0xFE},
  {0xFE, 0x1F, 0xFE, 0x1F, 0xFE, 0x0E, 0xFE, 0x0E},
  {0x01, 0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E},
  {0x1F, 0x01, 0x1F, 0x01, 0x0E, 0x01, 0x0E, 0x01},
  {0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1, 0xFE},
  {0xFE, 0xE0, 0xFE, 0xE0, 0xFE, 0xF1, 0xFE, 0xF1},
};
// clang-format on

constexpr uint32_t kHalfMask = 0x0fffffffu;

struct GroupTable {
  uint64_t v[8][128];
};

// PC-1 by key byte: entry [i][b >> 1] holds the C || D bits that byte i
// (value b; its parity bit dropped) contributes.  Key bit 8i+m+1 is bit 7-m of
// byte i.
constexpr GroupTable make_pc1() {
  GroupTable t{};
  for (int i = 0; i < 8; i++)
    for (int v = 0; v < 128; v++)
      for (int p = 1; p <= 56; p++) {
        const int bit = kPc1[p - 1] - 1;
        if (bit / 8 == i && (v >> (6 - bit % 8) & 1) != 0) t.v[i][v] |= uint64_t{1} << (56 - p);
      }
  return t;
}

// Where subkey bit j (1 to 48) goes in a round entry (word 0 in the low half,
// word 1 in the high half): S-box s's group of six, lowest-numbered bit
// lowest, at 2 + 8(s/2) in word 0 for s = 0, 2, 4, 6 and at 6 + 8(s/2),
// wrapping, in word 1 for s = 1, 3, 5, 7.
constexpr uint64_t round_key_bit(int j) {
  const int s = (j - 1) / 6, q = (j - 1) % 6;
  if (s % 2 == 0) return uint64_t{1} << (2 + 8 * (s / 2) + q);
  return uint64_t{1} << (32 + (6 + 8 * (s / 2) + q) % 32);
}

// PC-2 by groups of seven positions of C || D: entry [g][v] for positions
// 7g+1 .. 7g+7, the first of them the most significant bit of v.
constexpr GroupTable make_pc2() {
  GroupTable t{};
  for (int g = 0; g < 8; g++)
    for (int v = 0; v < 128; v++)
      for (int j = 1; j <= 48; j++) {
        const int p = kPc2[j - 1] - 1;
        if (p / 7 == g && (v >> (6 - p % 7) & 1) != 0) t.v[g][v] |= round_key_bit(j);
      }
  return t;
}

constexpr GroupTable kPc1Table = make_pc1();
constexpr GroupTable kPc2Table = make_pc2();

// Key bit 1 (the top bit of byte 0) is C's bit 8 (position 8 of C || D).
static_assert(kPc1Table.v[0][0x40] == uint64_t{1} << 48);
// Subkey bit 1 comes from C's bit 14 and sits at bit 2 of word 0.
static_assert(kPc2Table.v[1][0x01] == uint64_t{1} << 2);

constexpr uint32_t rotl28(uint32_t x, int n) {
  return ((x << n) | (x >> (28 - n))) & kHalfMask;
}

constexpr unsigned char odd_parity(unsigned char b) {
  const unsigned char hi = b & 0xfe;
  return static_cast<unsigned char>(hi | (std::popcount(hi) % 2 == 0 ? 1 : 0));
}

}  // namespace

namespace morvane::des {

void set_key(const unsigned char* key, DES_key_schedule* schedule) {
  uint64_t cd = 0;
  for (int i = 0; i < 8; i++) cd |= kPc1Table.v[i][key[i] >> 1];
  uint32_t c = static_cast<uint32_t>(cd >> 28), d = static_cast<uint32_t>(cd) & kHalfMask;
  for (int round = 0; round < 16; round++) {
    c = rotl28(c, kShifts[round]);
    d = rotl28(d, kShifts[round]);
    const uint64_t k = kPc2Table.v[0][c >> 21] | kPc2Table.v[1][(c >> 14) & 0x7f] |
                       kPc2Table.v[2][(c >> 7) & 0x7f] | kPc2Table.v[3][c & 0x7f] |
                       kPc2Table.v[4][d >> 21] | kPc2Table.v[5][(d >> 14) & 0x7f] |
                       kPc2Table.v[6][(d >> 7) & 0x7f] | kPc2Table.v[7][d & 0x7f];
    schedule->ks[round].deslong[0] = static_cast<DES_LONG>(k);
    schedule->ks[round].deslong[1] = static_cast<DES_LONG>(k >> 32);
  }
}

}  // namespace morvane::des

/* see morvane/des.h */
void DES_set_key_unchecked(const_DES_cblock* key, DES_key_schedule* schedule) {
  morvane::des::set_key(*key, schedule);
}

int DES_set_key_checked(const_DES_cblock* key, DES_key_schedule* schedule) {
  if (!DES_check_key_parity(key)) return -1;
  if (DES_is_weak_key(key)) return -2;
  morvane::des::set_key(*key, schedule);
  return 0;
}

int DES_set_key(const_DES_cblock* key, DES_key_schedule* schedule) {
  if (DES_check_key != 0) return DES_set_key_checked(key, schedule);
  morvane::des::set_key(*key, schedule);
  return 0;
}

int DES_key_sched(const_DES_cblock* key, DES_key_schedule* schedule) {
  return DES_set_key(key, schedule);
}

void DES_set_odd_parity(DES_cblock* key) {
  for (unsigned char& b : *key) b = odd_parity(b);
}

int DES_check_key_parity(const_DES_cblock* key) {
  for (unsigned char b : *key)
    if (b != odd_parity(b)) return 0;
  return 1;
}

int DES_is_weak_key(const_DES_cblock* key) {
  for (const auto& weak : kWeakKeys)
    if (memcmp(weak, *key, sizeof(weak)) == 0) return 1;
  return 0;
}

int DES_random_key(DES_cblock* ret) {
  // Parity is set before the weak-key test: the table holds the weak keys
  // with odd parity, so testing the raw bytes would let a weak key through
  // whenever its parity bits came out even.
  do {
    if (RAND_bytes(*ret, static_cast<int>(sizeof(DES_cblock))) != 1) return 0;
    DES_set_odd_parity(ret);
  } while (DES_is_weak_key(ret));
  return 1;
}
