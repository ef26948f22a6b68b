// The old-style DES names: each gives the same output, result and side
// effects as its DES_ target, schedules made by either interface serve both,
// and the process-wide switches apply to the old names too.

#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/des_old.h>
#include <morvane/rand.h>

#include "des_test_util.h"
#include "test_support.h"

namespace {

using des_test::Bytes;
using des_test::FromHex;
using des_test::Lcg;
using des_test::ToHex;

struct Fixture {
  DES_key_schedule ks1 = des_test::Schedule("0123456789abcdef");
  DES_key_schedule ks2 = des_test::Schedule("23456789abcdef01");
  DES_key_schedule ks3 = des_test::Schedule("456789abcdef0123");
  // The same schedules in the old type (the same memory).
  _qarn_old_des_ks_struct* o1 = reinterpret_cast<_qarn_old_des_ks_struct*>(&ks1);
  _qarn_old_des_ks_struct* o2 = reinterpret_cast<_qarn_old_des_ks_struct*>(&ks2);
  _qarn_old_des_ks_struct* o3 = reinterpret_cast<_qarn_old_des_ks_struct*>(&ks3);
  // 45 bytes (five blocks and a short one) in room for six blocks, since
  // decryption reads whole blocks.
  Bytes data = Lcg(21).Fill(48);
};

struct Iv {
  DES_cblock b = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
  std::string Hex() const { return ToHex(Bytes(b, b + 8)); }
};

// Buffers as old-style block pointers.
using C = _qarn_old_des_cblock;
C* cb(const unsigned char* p) {
  return reinterpret_cast<C*>(const_cast<unsigned char*>(p));
}

// Runs a buffer mode through the new and the old name with fresh IVs and
// compares output and final IV.
template <class New, class Old>
void SameMode(const Bytes& in, size_t out_size, New run_new, Old run_old, const char* what) {
  Bytes a(out_size), b(out_size);
  Iv iva, ivb;
  run_new(in.data(), a.data(), &iva.b);
  run_old(in.data(), b.data(), &ivb.b);
  EXPECT_EQ(a, b) << what;
  EXPECT_EQ(iva.Hex(), ivb.Hex()) << what;
}

TEST(DesOldNames, SchedulesServeBothInterfaces) {
  DES_cblock key = {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  _qarn_old_des_key_schedule old_ks;
  ASSERT_EQ(_qarn_old_des_key_sched(&key, old_ks), 0);
  DES_cblock a = {0x4e, 0x6f, 0x77, 0x20, 0x69, 0x73, 0x20, 0x74}, b;
  // FIPS 81, Appendix B (ECB), first block.
  DES_ecb_encrypt(&a, &b, reinterpret_cast<DES_key_schedule*>(old_ks), DES_ENCRYPT);
  EXPECT_EQ(ToHex(Bytes(b, b + 8)), "3fa40e8a984d4815");

  DES_key_schedule new_ks;
  DES_set_key_unchecked(&key, &new_ks);
  DES_cblock c;
  _qarn_old_des_ecb_encrypt(&a, &c, reinterpret_cast<_qarn_old_des_ks_struct*>(&new_ks),
                            DES_ENCRYPT);
  EXPECT_EQ(ToHex(Bytes(c, c + 8)), "3fa40e8a984d4815");
  EXPECT_EQ(std::memcmp(old_ks, &new_ks, sizeof(new_ks)), 0);
}

TEST(DesOldNames, KeyFunctionsFollowDesCheckKey) {
  DES_cblock weak = {0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x01};
  DES_cblock even = {0x00, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef};
  _qarn_old_des_key_schedule old_ks;
  DES_key_schedule ks;
  for (int check : {0, 1}) {
    DES_check_key = check;
    for (DES_cblock* k : {&weak, &even}) {
      EXPECT_EQ(_qarn_old_des_set_key(k, old_ks), DES_set_key(k, &ks)) << check;
      EXPECT_EQ(_qarn_old_des_key_sched(k, old_ks), DES_key_sched(k, &ks)) << check;
    }
  }
  DES_check_key = 0;
  EXPECT_EQ(_qarn_old_des_is_weak_key(&weak), 1);
  EXPECT_EQ(_qarn_old_des_is_weak_key(&even), 0);
  _qarn_old_des_set_odd_parity(&even);
  EXPECT_EQ(ToHex(Bytes(even, even + 8)), "0123456789abcdef");
  EXPECT_EQ(_qarn_old_des_options(), DES_options());
}

TEST(DesOldNames, BlockFunctions) {
  Fixture f;
  const DES_LONG start[2] = {0x01234567u, 0x89abcdefu};
  for (int enc : {0, 1}) {
    DES_LONG a[2] = {start[0], start[1]}, b[2] = {start[0], start[1]};
    DES_encrypt1(a, &f.ks1, enc);
    _qarn_old_des_encrypt(b, f.o1, enc);
    EXPECT_EQ(std::memcmp(a, b, sizeof(a)), 0);
    DES_encrypt2(a, &f.ks1, enc);
    _qarn_old_des_encrypt2(b, f.o1, enc);
    EXPECT_EQ(std::memcmp(a, b, sizeof(a)), 0);
  }
  DES_LONG a[2] = {start[0], start[1]}, b[2] = {start[0], start[1]};
  DES_encrypt3(a, &f.ks1, &f.ks2, &f.ks3);
  _qarn_old_des_encrypt3(b, f.o1, f.o2, f.o3);
  EXPECT_EQ(std::memcmp(a, b, sizeof(a)), 0);
  DES_decrypt3(a, &f.ks1, &f.ks2, &f.ks3);
  _qarn_old_des_decrypt3(b, f.o1, f.o2, f.o3);
  EXPECT_EQ(std::memcmp(a, b, sizeof(a)), 0);
  EXPECT_EQ(a[0], start[0]);

  for (int enc : {0, 1}) {
    DES_cblock in = {1, 2, 3, 4, 5, 6, 7, 8}, x, y;
    DES_ecb3_encrypt(&in, &x, &f.ks1, &f.ks2, &f.ks3, enc);
    _qarn_old_des_ecb3_encrypt(&in, &y, f.o1, f.o2, f.o3, enc);
    EXPECT_EQ(std::memcmp(x, y, 8), 0);
  }
}

TEST(DesOldNames, SingleDesModes) {
  Fixture f;
  const long n = 45;
  // The three CBC forms share one signature.
  using NewCbc =
      void (*)(const unsigned char*, unsigned char*, long, DES_key_schedule*, DES_cblock*, int);
  using OldCbc = void (*)(C*, C*, long, _qarn_old_des_ks_struct*, C*, int);
  const struct {
    const char* name;
    NewCbc fresh;
    OldCbc old;
  } kCbcForms[] = {{"cbc", DES_cbc_encrypt, _qarn_old_des_cbc_encrypt},
                   {"ncbc", DES_ncbc_encrypt, _qarn_old_des_ncbc_encrypt},
                   {"pcbc", DES_pcbc_encrypt, _qarn_old_des_pcbc_encrypt}};
  for (int enc : {1, 0}) {
    for (const auto& m : kCbcForms) {
      SameMode(
          f.data, 48,
          [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
            m.fresh(i, o, n, &f.ks1, iv, enc);
          },
          [&](const unsigned char* i, unsigned char* o, C* iv) {
            m.old(cb(i), cb(o), n, f.o1, iv, enc);
          },
          m.name);
    }
    DES_cblock inw = {9, 8, 7, 6, 5, 4, 3, 2}, outw = {1, 3, 5, 7, 9, 11, 13, 15};
    SameMode(
        f.data, 48,
        [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
          DES_xcbc_encrypt(i, o, n, &f.ks1, iv, &inw, &outw, enc);
        },
        [&](const unsigned char* i, unsigned char* o, C* iv) {
          _qarn_old_des_xcbc_encrypt(cb(i), cb(o), n, f.o1, iv, &inw, &outw, enc);
        },
        "xcbc");
    for (int bits : {1, 12, 64}) {
      SameMode(
          f.data, 45,
          [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
            DES_cfb_encrypt(i, o, bits, n, &f.ks1, iv, enc);
          },
          [&](const unsigned char* i, unsigned char* o, C* iv) {
            _qarn_old_des_cfb_encrypt(i, o, bits, n, f.o1, iv, enc);
          },
          "cfb");
      SameMode(
          f.data, 45,
          [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
            DES_ofb_encrypt(i, o, bits, 5, &f.ks1, iv);
          },
          [&](const unsigned char* i, unsigned char* o, C* iv) {
            _qarn_old_des_ofb_encrypt(i, o, bits, 5, f.o1, iv);
          },
          "ofb");
    }
    int na = 3, nb = 3;
    SameMode(
        f.data, 45,
        [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
          DES_cfb64_encrypt(i, o, n, &f.ks1, iv, &na, enc);
        },
        [&](const unsigned char* i, unsigned char* o, C* iv) {
          _qarn_old_des_cfb64_encrypt(i, o, n, f.o1, iv, &nb, enc);
        },
        "cfb64");
    EXPECT_EQ(na, nb);
    na = nb = 5;
    SameMode(
        f.data, 45,
        [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
          DES_ofb64_encrypt(i, o, n, &f.ks1, iv, &na);
        },
        [&](const unsigned char* i, unsigned char* o, C* iv) {
          _qarn_old_des_ofb64_encrypt(i, o, n, f.o1, iv, &nb);
        },
        "ofb64");
    EXPECT_EQ(na, nb);
  }
}

TEST(DesOldNames, TripleDesModes) {
  Fixture f;
  const long n = 45;
  for (int enc : {1, 0}) {
    SameMode(
        f.data, 48,
        [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
          DES_ede3_cbc_encrypt(i, o, n, &f.ks1, &f.ks2, &f.ks3, iv, enc);
        },
        [&](const unsigned char* i, unsigned char* o, C* iv) {
          _qarn_old_des_ede3_cbc_encrypt(cb(i), cb(o), n, f.o1, f.o2, f.o3, iv, enc);
        },
        "ede3 cbc");
    int na = 6, nb = 6;
    SameMode(
        f.data, 45,
        [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
          DES_ede3_cfb64_encrypt(i, o, n, &f.ks1, &f.ks2, &f.ks3, iv, &na, enc);
        },
        [&](const unsigned char* i, unsigned char* o, C* iv) {
          _qarn_old_des_ede3_cfb64_encrypt(i, o, n, f.o1, f.o2, f.o3, iv, &nb, enc);
        },
        "ede3 cfb64");
    EXPECT_EQ(na, nb);
    na = nb = 1;
    SameMode(
        f.data, 45,
        [&](const unsigned char* i, unsigned char* o, DES_cblock* iv) {
          DES_ede3_ofb64_encrypt(i, o, n, &f.ks1, &f.ks2, &f.ks3, iv, &na);
        },
        [&](const unsigned char* i, unsigned char* o, C* iv) {
          _qarn_old_des_ede3_ofb64_encrypt(i, o, n, f.o1, f.o2, f.o3, iv, &nb);
        },
        "ede3 ofb64");
    EXPECT_EQ(na, nb);
  }
}

TEST(DesOldNames, ChecksumsAndKeysFromText) {
  Fixture f;
  _qarn_old_des_cblock* in = reinterpret_cast<_qarn_old_des_cblock*>(f.data.data());
  Iv iv;
  DES_cblock a, b;
  EXPECT_EQ(_qarn_old_des_cbc_cksum(in, &b, 45, f.o1, &iv.b),
            DES_cbc_cksum(f.data.data(), &a, 45, &f.ks1, &iv.b));
  EXPECT_EQ(std::memcmp(a, b, 8), 0);

  DES_cblock qa[4], qb[4];
  EXPECT_EQ(_qarn_old_des_quad_cksum(in, qb, 45, 3, &iv.b),
            DES_quad_cksum(f.data.data(), qa, 45, 3, &iv.b));
  EXPECT_EQ(std::memcmp(qa, qb, 24), 0);

  DES_cblock k1, k2, o1, o2;
  DES_string_to_key("pass phrase", &k1);
  _qarn_old_des_string_to_key("pass phrase", &o1);
  EXPECT_EQ(std::memcmp(k1, o1, 8), 0);
  DES_string_to_2keys("a longer pass phrase", &k1, &k2);
  _qarn_old_des_string_to_2keys("a longer pass phrase", &o1, &o2);
  EXPECT_EQ(std::memcmp(k1, o1, 8), 0);
  EXPECT_EQ(std::memcmp(k2, o2, 8), 0);
}

TEST(DesOldNames, UnixCrypt) {
  char a[14], b[14];
  EXPECT_EQ(_qarn_old_des_fcrypt("secret", "ab", b), b);
  EXPECT_STREQ(b, DES_fcrypt("secret", "ab", a));
  const std::string want = DES_crypt("secret", "ab");
  EXPECT_EQ(std::string(_qarn_old_des_crypt("secret", "ab")), want);
  EXPECT_EQ(std::string(_qarn_old_crypt("secret", "ab")), want);
  // Both hand out DES_crypt's static buffer.
  EXPECT_EQ(_qarn_old_crypt("x", "yz"), DES_crypt("x", "yz"));
}

TEST(DesOldNames, StreamRecordsInterwork) {
  Fixture f;
  const Bytes msg(f.data.begin(), f.data.begin() + 45);
  int fd[2];
  ASSERT_EQ(pipe(fd), 0);
  Iv iv;
  for (int mode : {1, 0}) {
    DES_rw_mode = mode;
    // Old writer, new reader; new writer, old reader.
    ASSERT_EQ(_qarn_old_des_enc_write(fd[1], f.data.data(), 45, f.o1, &iv.b), 45);
    Bytes got(45);
    ASSERT_EQ(DES_enc_read(fd[0], got.data(), 45, &f.ks1, &iv.b), 45);
    EXPECT_EQ(got, msg);
    ASSERT_EQ(DES_enc_write(fd[1], f.data.data(), 45, &f.ks1, &iv.b), 45);
    Bytes got2(45);
    ASSERT_EQ(_qarn_old_des_enc_read(fd[0], got2.data(), 45, f.o1, &iv.b), 45);
    EXPECT_EQ(got2, msg);
  }
  // The mode switch applies to the old names: a PCBC reader garbles the
  // second block of a CBC record written through the old name.
  DES_rw_mode = 0;
  ASSERT_EQ(_qarn_old_des_enc_write(fd[1], f.data.data(), 16, f.o1, &iv.b), 16);
  DES_rw_mode = 1;
  Bytes got(16);
  ASSERT_EQ(_qarn_old_des_enc_read(fd[0], got.data(), 16, f.o1, &iv.b), 16);
  EXPECT_EQ(Bytes(got.begin(), got.begin() + 8), Bytes(f.data.begin(), f.data.begin() + 8));
  EXPECT_NE(Bytes(got.begin() + 8, got.end()), Bytes(f.data.begin() + 8, f.data.begin() + 16));
  EXPECT_EQ(_qarn_old_des_enc_write(fd[1], "x", -1, f.o1, &iv.b), -1);
  EXPECT_EQ(_qarn_old_des_enc_read(fd[0], got.data(), -1, f.o1, &iv.b), -1);
  close(fd[0]);
  close(fd[1]);
}

// A random method that records what it is seeded with and hands out a fixed
// key.
Bytes g_seeded;
void RecordSeed(const void* buf, int num) {
  const unsigned char* p = static_cast<const unsigned char*>(buf);
  g_seeded.assign(p, p + num);
}
int FixedBytes(unsigned char* buf, int num) {
  for (int i = 0; i < num; i++) buf[i] = static_cast<unsigned char>(0x10 + i);
  return 1;
}

TEST(DesOldNames, RandomKeyAndSeeding) {
  const RAND_METHOD meth = {RecordSeed, FixedBytes, nullptr, nullptr, FixedBytes, nullptr};
  ASSERT_EQ(RAND_set_rand_method(&meth), 1);
  DES_cblock a, b;
  EXPECT_EQ(_qarn_old_des_random_key(&b), DES_random_key(&a));
  EXPECT_EQ(std::memcmp(a, b, 8), 0);

  DES_cblock seed = {1, 2, 3, 4, 5, 6, 7, 8};
  _qarn_old_des_random_seed(&seed);
  EXPECT_EQ(ToHex(g_seeded), "0102030405060708");
  g_seeded.clear();
  _qarn_096_des_random_seed(&seed);
  EXPECT_EQ(ToHex(g_seeded), "0102030405060708");
  RAND_set_rand_method(nullptr);
}

}  // namespace
