// The position policy of the byte-wise modes: a position outside the block
// (0..15 for AES, 0..7 for DES and triple DES) leaves the output, the
// register, the keystream buffer and the position untouched.  A write at the
// position would land outside the caller's 16- or 8-byte buffers, which the
// address sanitizer reports.

#include <climits>
#include <cstring>

#include <gtest/gtest.h>
#include <morvane/aes.h>
#include <morvane/des.h>

namespace {

// A mode called with position `num` on caller buffers of one block each.
struct Mode {
  const char* name;
  long block;
  void (*run)(unsigned char* out, unsigned char* iv, unsigned char* ecount, long* num);
};

const unsigned char kIn[32] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

const AES_KEY* Aes() {
  static AES_KEY key;
  static const unsigned char raw[16] = {0x2b, 0x7e, 0x15, 0x16};
  AES_set_encrypt_key(raw, 128, &key);
  return &key;
}
DES_key_schedule* Des() {
  static DES_key_schedule ks;
  static DES_cblock raw = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  DES_set_key_unchecked(&raw, &ks);
  return &ks;
}

// Runs f on an int copy of *num and stores the result back.
template <class F>
void AsInt(long* num, F f) {
  int n = static_cast<int>(*num);
  f(&n);
  *num = n;
}

void Check(const Mode& m, long num) {
  SCOPED_TRACE(testing::Message() << m.name << " at " << num);
  unsigned char out[32], iv[16], ecount[16];
  std::memset(out, 0x77, sizeof out);
  std::memset(iv, 0x5a, sizeof iv);
  std::memset(ecount, 0xa5, sizeof ecount);
  long n = num;
  m.run(out, iv, ecount, &n);
  for (unsigned char b : out) ASSERT_EQ(b, 0x77);
  for (unsigned char b : iv) ASSERT_EQ(b, 0x5a);
  for (unsigned char b : ecount) ASSERT_EQ(b, 0xa5);
  EXPECT_EQ(n, num);
}

constexpr long kSignedBad[] = {-1, INT_MIN, 4096, INT_MAX};

TEST(ModePosition, CfbOutOfRangeTouchesNothing) {
  const Mode modes[] = {
      {"AES-CFB128 encrypt", 16,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) { AES_cfb128_encrypt(kIn, o, 32, Aes(), iv, n, AES_ENCRYPT); });
       }},
      {"AES-CFB128 decrypt", 16,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) { AES_cfb128_encrypt(kIn, o, 32, Aes(), iv, n, AES_DECRYPT); });
       }},
      {"DES-CFB64", 8,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) {
           DES_cfb64_encrypt(kIn, o, 32, Des(), reinterpret_cast<DES_cblock*>(iv), n, DES_ENCRYPT);
         });
       }},
      {"DES-EDE3-CFB64", 8,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) {
           DES_ede3_cfb64_encrypt(kIn, o, 32, Des(), Des(), Des(),
                                  reinterpret_cast<DES_cblock*>(iv), n, DES_DECRYPT);
         });
       }},
  };
  for (const Mode& m : modes) {
    for (long num : kSignedBad) Check(m, num);
    Check(m, m.block);
    Check(m, m.block + 1);
  }
}

TEST(ModePosition, OfbOutOfRangeTouchesNothing) {
  const Mode modes[] = {
      {"AES-OFB128", 16,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) { AES_ofb128_encrypt(kIn, o, 32, Aes(), iv, n); });
       }},
      {"DES-OFB64", 8,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) {
           DES_ofb64_encrypt(kIn, o, 32, Des(), reinterpret_cast<DES_cblock*>(iv), n);
         });
       }},
      {"DES-EDE3-OFB64", 8,
       [](unsigned char* o, unsigned char* iv, unsigned char*, long* num) {
         AsInt(num, [&](int* n) {
           DES_ede3_ofb64_encrypt(kIn, o, 32, Des(), Des(), Des(),
                                  reinterpret_cast<DES_cblock*>(iv), n);
         });
       }},
  };
  for (const Mode& m : modes) {
    for (long num : kSignedBad) Check(m, num);
    Check(m, m.block);
    Check(m, m.block + 1);
  }
}

TEST(ModePosition, CtrOutOfRangeTouchesNothing) {
  const Mode ctr = {"AES-CTR128", 16,
                    [](unsigned char* o, unsigned char* iv, unsigned char* ecount, long* num) {
                      unsigned int n = static_cast<unsigned int>(*num);
                      AES_ctr128_encrypt(kIn, o, 32, Aes(), iv, ecount, &n);
                      *num = n;
                    }};
  for (long num : {16L, 17L, 4096L, static_cast<long>(UINT_MAX)}) Check(ctr, num);
}

}  // namespace
