// The DES block functions (FIPS 46-3): the combined S-box and P table, the
// single and triple block entry points, ECB, the build description and the
// version texts.  The rounds themselves live in internal.h so that the modes
// inline them.

#include <morvane/crypto.h>
#include <morvane/des.h>

#include "des/internal.h"

namespace {

// clang-format off
// FIPS 46-3, the selection functions S1 to S8: 4 rows of 16 columns each.
constexpr unsigned char kSBox[8][64] = {
  {14,  4, 13,  1,  2, 15, 11,  8,  3, 10,  6, 12,  5,  9,  0,  7,
    0, 15,  7,  4, 14,  2, 13,  1, 10,  6, 12, 11,  9,  5,  3,  8,
    4,  1, 14,  8, 13,  6,  2, 11, 15, 12,  9,  7,  3, 10,  5,  0,
   15, 12,  8,  2,  4,  9,  1,  7,  5, 11,  3, 14, 10,  0,  6, 13},
  {15,  1,  8, 14,  6, 11,  3,  4,  9,  7,  2, 13, 12,  0,  5, 10,
    3, 13,  4,  7, 15,  2,  8, 14, 12,  0,  1, 10,  6,  9, 11,  5,
    0, 14,  7, 11, 10,  4, 13,  1,  5,  8, 12,  6,  9,  3,  2, 15,
   13,  8, 10,  1,  3, 15,  4,  2, 11,  6,  7, 12,  0,  5, 14,  9},
  {10,  0,  9, 14,  6,  3, 15,  5,  1, 13, 12,  7, 11,  4,  2,  8,
   13,  7,  0,  9,  3,  4,  6, 10,  2,  8,  5, 14, 12, 11, 15,  1,
   13,  6,  4,  9,  8, 15,  3,  0, 11,  1,  2, 12,  5, 10, 14,  7,
    1, 10, 13,  0,  6,  9,  8,  7,  4, 15, 14,  3, 11,  5,  2, 12},
  { 7, 13, 14,  3,  0,  6,  9, 10,  1,  2,  8,  5, 11, 12,  4, 15,
   13,  8, 11,  5,  6, 15,  0,  3,  4,  7,  2, 12,  1, 10, 14,  9,
   10,  6,  9,  0, 12, 11,  7, 13, 15,  1,  3, 14,  5,  2,  8,  4,
    3, 15,  0,  6, 10,  1, 13,  8,  9,  4,  5, 11, 12,  7,  2, 14},
  { 2, 12,  4,  1,  7, 10, 11,  6,  8,  5,  3, 15, 13,  0, 14,  9,
   14, 11,  2, 12,  4,  7, 13,  1,  5,  0, 15, 10,  3,  9,  8,  6,
    4,  2,  1, 11, 10, 13,  7,  8, 15,  9, 12,  5,  6,  3,  0, 14,
   11,  8, 12,  7,  1, 14,  2, 13,  6, 15,  0,  9, 10,  4,  5,  3},
  {12,  1, 10, 15,  9,  2,  6,  8,  0, 13,  3,  4, 14,  7,  5, 11,
   10, 15,  4,  2,  7, 12,  9,  5,  6,  1, 13, 14,  0, 11,  3,  8,
    9, 14, 15,  5,  2,  8, 12,  3,  7,  0,  4, 10,  1, 13, 11,  6,
    4,  3,  2, 12,  9,  5, 15, 10, 11, 14,  1,  7,  6,  0,  8, 13},
  { 4, 11,  2, 14, 15,  0,  8, 13,  3, 12,  9,  7,  5, 10,  6,  1,
   13,  0, 11,  7,  4,  9,  1, 10, 14,  3,  5, 12,  2, 15,  8,  6,
    1,  4, 11, 13, 12,  3,  7, 14, 10, 15,  6,  8,  0,  5,  9,  2,
    6, 11, 13,  8,  1,  4, 10,  7,  9,  5,  0, 15, 14,  2,  3, 12},
  {13,  2,  8,  4,  6, 15, 11,  1, 10,  9,  3, 14,  5,  0, 12,  7,
    1, 15, 13,  8, 10,  3,  7,  4, 12,  5,  6, 11,  0, 14,  9,  2,
    7, 11,  4,  1,  9, 12, 14,  2,  0,  6, 10, 13, 15,  3,  5,  8,
    2,  1, 14,  7,  4, 10,  8, 13, 15, 12,  9,  0,  3,  5,  6, 11},
};

// FIPS 46-3, the permutation P: output bit i is input bit kP[i-1].
constexpr unsigned char kP[32] = {
  16,  7, 20, 21, 29, 12, 28, 17,  1, 15, 23, 26,  5, 18, 31, 10,
   2,  8, 24, 14, 32, 27,  3,  9, 19, 13, 30,  6, 22, 11,  4, 25,
};
// clang-format on

// Row j, index x of the combined table: x's bits are the S-box inputs b1 (bit
// 0) to b6 (bit 5); b1 b6 pick the row, b2..b5 the column.  The four output
// bits are bits 4j+1..4j+4 of P's input; each lands at P's output position n,
// stored in the rotated frame at bit (n+2) mod 32.
constexpr DES_LONG sp_entry(int j, int x) {
  const int row = (x & 1) << 1 | (x >> 5 & 1);
  const int col = (x >> 1 & 1) << 3 | (x >> 2 & 1) << 2 | (x >> 3 & 1) << 1 | (x >> 4 & 1);
  const int s = kSBox[j][row * 16 + col];
  DES_LONG v = 0;
  for (int n = 1; n <= 32; n++) {
    const int in = kP[n - 1] - 1;
    if (in / 4 == j && (s >> (3 - in % 4) & 1) != 0) v |= 1u << ((n + 2) % 32);
  }
  return v;
}

struct SpTable {
  DES_LONG v[8][64];
};

constexpr SpTable make_sp() {
  SpTable t{};
  for (int j = 0; j < 8; j++)
    for (int x = 0; x < 64; x++) t.v[j][x] = sp_entry(j, x);
  return t;
}

constexpr SpTable kSp = make_sp();

// S1(0) = 14 = 1110: P sends input bits 1, 2, 3 to outputs 9, 17, 23, which sit
// at bits 11, 19, 25 of the rotated frame.
static_assert(kSp.v[0][0] == 0x02080800u);

}  // namespace

// clang-format off
#define SP4(j, x) kSp.v[j][x], kSp.v[j][x + 1], kSp.v[j][x + 2], kSp.v[j][x + 3]
#define SP16(j, x) SP4(j, x), SP4(j, x + 4), SP4(j, x + 8), SP4(j, x + 12)
#define SP_ROW(j) {SP16(j, 0), SP16(j, 16), SP16(j, 32), SP16(j, 48)}
constinit const DES_LONG DES_SPtrans[8][64] = {
  SP_ROW(0), SP_ROW(1), SP_ROW(2), SP_ROW(3), SP_ROW(4), SP_ROW(5), SP_ROW(6), SP_ROW(7),
};
#undef SP_ROW
#undef SP16
#undef SP4
// clang-format on

const char QARN_DES_version[] = "DES part of " MORVANE_VERSION_TEXT;
const char QARN_brevik_version[] = "brevik part of " MORVANE_VERSION_TEXT;

/* see morvane/des.h */
const char* DES_options(void) {
  // The text is fixed: it names the shape of this code (indexed SP tables,
  // the CISC round form, 4-byte words) and nothing in it varies, so it is a
  // constant rather than a buffer formatted on the first call.
  return "des(idx,cisc,4,long)";
}

void DES_encrypt1(DES_LONG* data, DES_key_schedule* ks, int enc) {
  morvane::des::encrypt1(data, ks, enc != 0);
}

void DES_encrypt2(DES_LONG* data, DES_key_schedule* ks, int enc) {
  uint32_t r = std::rotl(data[0], 3), l = std::rotl(data[1], 3);
  morvane::des::rounds(l, r, ks, enc != 0);
  data[0] = std::rotr(l, 3);
  data[1] = std::rotr(r, 3);
}

void DES_encrypt3(DES_LONG* data, DES_key_schedule* ks1, DES_key_schedule* ks2,
                  DES_key_schedule* ks3) {
  morvane::des::encrypt3(data, ks1, ks2, ks3, true);
}

void DES_decrypt3(DES_LONG* data, DES_key_schedule* ks1, DES_key_schedule* ks2,
                  DES_key_schedule* ks3) {
  morvane::des::encrypt3(data, ks1, ks2, ks3, false);
}

void DES_ecb_encrypt(const_DES_cblock* input, DES_cblock* output, DES_key_schedule* ks, int enc) {
  using morvane::des::Block;
  Block b = Block::load(*input);
  morvane::des::encrypt1(b.w, ks, enc != 0);
  b.store(*output);
  morvane::des::wipe(b);
}

void DES_ecb3_encrypt(const_DES_cblock* input, DES_cblock* output, DES_key_schedule* ks1,
                      DES_key_schedule* ks2, DES_key_schedule* ks3, int enc) {
  using morvane::des::Block;
  Block b = Block::load(*input);
  morvane::des::encrypt3(b.w, ks1, ks2, ks3, enc != 0);
  b.store(*output);
  morvane::des::wipe(b);
}
