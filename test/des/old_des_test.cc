// The old-style DES names as one table of old/new pairs: each pair runs on
// the same inputs, in both directions and under both settings of the
// process-wide switches (DES_check_key, DES_rw_mode), and must leave the same
// outputs, IV, offset, words, keys, schedule and result.  Schedules are the
// same memory in both types.

#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/des_old.h>
#include <morvane/rand.h>

#include "des_test_util.h"

namespace {

using des_test::Bytes;
using des_test::Lcg;
using des_test::ToHex;
using C = _qarn_old_des_cblock;
using O = _qarn_old_des_ks_struct;

// A random method that records what it is seeded with and hands out fixed
// bytes, so keys and record padding repeat.
Bytes g_seeded;
void RecordSeed(const void* buf, int num) {
  g_seeded.assign(static_cast<const uint8_t*>(buf), static_cast<const uint8_t*>(buf) + num);
}
int FixedBytes(unsigned char* buf, int num) {
  for (int i = 0; i < num; i++) buf[i] = static_cast<unsigned char>(0x10 + i);
  return 1;
}
const RAND_METHOD kFixed = {RecordSeed, FixedBytes, nullptr, nullptr, FixedBytes, nullptr};

// Everything a call may read or change.
struct Io {
  DES_key_schedule ks[3] = {des_test::Schedule("0123456789abcdef"),
                            des_test::Schedule("23456789abcdef01"),
                            des_test::Schedule("456789abcdef0123")};
  DES_key_schedule sched = {};
  Bytes in = Lcg(21).Fill(48), out = Bytes(64);  // 45 bytes used: five blocks and a short one
  DES_cblock iv = {0x12, 0x34, 0x56, 0x78, 0x90, 0xab, 0xcd, 0xef};
  DES_cblock k = {0x00, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}, k2 = {};
  DES_LONG w[2] = {0x01234567u, 0x89abcdefu};
  int num = 3, enc = 1, fd[2] = {-1, -1};
  long ret = 0;
  Io() { EXPECT_EQ(pipe(fd), 0); }
  ~Io() {
    close(fd[0]);
    close(fd[1]);
  }
  O* o(int i) { return reinterpret_cast<O*>(&ks[i]); }
  C* ci() { return reinterpret_cast<C*>(in.data()); }
  C* co() { return reinterpret_cast<C*>(out.data()); }
  void Drain() { ret = ret << 8 | read(fd[0], out.data(), out.size()); }
  std::string State() const {
    return ToHex(out) + " " + ToHex(iv, 8) + " " + ToHex(k, 8) + ToHex(k2, 8) + " " +
           std::to_string(w[0]) + "," + std::to_string(w[1]) + " " + std::to_string(num) + " " +
           std::to_string(ret) + " " +
           ToHex(reinterpret_cast<const uint8_t*>(&sched), sizeof sched) + " " + ToHex(g_seeded);
  }
};

struct Pair {
  const char* name;
  void (*fresh)(Io&);
  void (*old)(Io&);
};
#define PAIR(name, fresh, old) {name, [](Io& x) { fresh; }, [](Io& x) { old; }}

const Pair kPairs[] = {
    PAIR("options", x.ret = DES_options() != nullptr, x.ret = _qarn_old_des_options() == DES_options()),
    PAIR("encrypt", DES_encrypt1(x.w, &x.ks[0], x.enc), _qarn_old_des_encrypt(x.w, x.o(0), x.enc)),
    PAIR("encrypt2", DES_encrypt2(x.w, &x.ks[0], x.enc), _qarn_old_des_encrypt2(x.w, x.o(0), x.enc)),
    PAIR("encrypt3", DES_encrypt3(x.w, &x.ks[0], &x.ks[1], &x.ks[2]),
         _qarn_old_des_encrypt3(x.w, x.o(0), x.o(1), x.o(2))),
    PAIR("decrypt3", DES_decrypt3(x.w, &x.ks[0], &x.ks[1], &x.ks[2]),
         _qarn_old_des_decrypt3(x.w, x.o(0), x.o(1), x.o(2))),
    PAIR("ecb", DES_ecb_encrypt(x.ci(), x.co(), &x.ks[0], x.enc),
         _qarn_old_des_ecb_encrypt(x.ci(), x.co(), x.o(0), x.enc)),
    PAIR("ecb3", DES_ecb3_encrypt(x.ci(), x.co(), &x.ks[0], &x.ks[1], &x.ks[2], x.enc),
         _qarn_old_des_ecb3_encrypt(x.ci(), x.co(), x.o(0), x.o(1), x.o(2), x.enc)),
    PAIR("cbc", DES_cbc_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.iv, x.enc),
         _qarn_old_des_cbc_encrypt(x.ci(), x.co(), 45, x.o(0), &x.iv, x.enc)),
    PAIR("ncbc", DES_ncbc_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.iv, x.enc),
         _qarn_old_des_ncbc_encrypt(x.ci(), x.co(), 45, x.o(0), &x.iv, x.enc)),
    PAIR("pcbc", DES_pcbc_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.iv, x.enc),
         _qarn_old_des_pcbc_encrypt(x.ci(), x.co(), 45, x.o(0), &x.iv, x.enc)),
    PAIR("xcbc", DES_xcbc_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.iv, &x.k, &x.k2, x.enc),
         _qarn_old_des_xcbc_encrypt(x.ci(), x.co(), 45, x.o(0), &x.iv, &x.k, &x.k2, x.enc)),
    PAIR("cfb", DES_cfb_encrypt(x.in.data(), x.out.data(), 12, 45, &x.ks[0], &x.iv, x.enc),
         _qarn_old_des_cfb_encrypt(x.in.data(), x.out.data(), 12, 45, x.o(0), &x.iv, x.enc)),
    PAIR("ofb", DES_ofb_encrypt(x.in.data(), x.out.data(), 12, 20, &x.ks[0], &x.iv),
         _qarn_old_des_ofb_encrypt(x.in.data(), x.out.data(), 12, 20, x.o(0), &x.iv)),
    PAIR("cfb64", DES_cfb64_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.iv, &x.num, x.enc),
         _qarn_old_des_cfb64_encrypt(x.in.data(), x.out.data(), 45, x.o(0), &x.iv, &x.num, x.enc)),
    PAIR("ofb64", DES_ofb64_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.iv, &x.num),
         _qarn_old_des_ofb64_encrypt(x.in.data(), x.out.data(), 45, x.o(0), &x.iv, &x.num)),
    PAIR("ede3 cbc",
         DES_ede3_cbc_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.ks[1], &x.ks[2], &x.iv, x.enc),
         _qarn_old_des_ede3_cbc_encrypt(x.ci(), x.co(), 45, x.o(0), x.o(1), x.o(2), &x.iv, x.enc)),
    PAIR("ede3 cfb64",
         DES_ede3_cfb64_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.ks[1], &x.ks[2], &x.iv,
                                &x.num, x.enc),
         _qarn_old_des_ede3_cfb64_encrypt(x.in.data(), x.out.data(), 45, x.o(0), x.o(1), x.o(2),
                                          &x.iv, &x.num, x.enc)),
    PAIR("ede3 ofb64",
         DES_ede3_ofb64_encrypt(x.in.data(), x.out.data(), 45, &x.ks[0], &x.ks[1], &x.ks[2], &x.iv,
                                &x.num),
         _qarn_old_des_ede3_ofb64_encrypt(x.in.data(), x.out.data(), 45, x.o(0), x.o(1), x.o(2),
                                          &x.iv, &x.num)),
    PAIR("cbc_cksum", x.ret = DES_cbc_cksum(x.in.data(), x.co(), 45, &x.ks[0], &x.iv),
         x.ret = _qarn_old_des_cbc_cksum(x.ci(), x.co(), 45, x.o(0), &x.iv)),
    PAIR("quad_cksum", x.ret = DES_quad_cksum(x.in.data(), x.co(), 45, 3, &x.iv),
         x.ret = _qarn_old_des_quad_cksum(x.ci(), x.co(), 45, 3, &x.iv)),
    PAIR("string_to_key", DES_string_to_key("pass phrase", &x.k),
         _qarn_old_des_string_to_key("pass phrase", &x.k)),
    PAIR("string_to_2keys", DES_string_to_2keys("a longer pass phrase", &x.k, &x.k2),
         _qarn_old_des_string_to_2keys("a longer pass phrase", &x.k, &x.k2)),
    PAIR("fcrypt", x.ret = DES_fcrypt("secret", "ab", (char*)x.co()) == (char*)x.co(),
         x.ret = _qarn_old_des_fcrypt("secret", "ab", (char*)x.co()) == (char*)x.co()),
    PAIR("crypt", strcpy((char*)x.co(), DES_crypt("secret", "ab")),
         strcpy((char*)x.co(), _qarn_old_des_crypt("secret", "ab"))),
    PAIR("crypt (shared buffer)", x.ret = DES_crypt("x", "yz") == DES_crypt("secret", "ab");
         strcpy((char*)x.co(), DES_crypt("secret", "ab")),
         x.ret = _qarn_old_crypt("x", "yz") == DES_crypt("secret", "ab");
         strcpy((char*)x.co(), _qarn_old_crypt("secret", "ab"))),
    PAIR("set_key", x.ret = DES_set_key(&x.k, &x.sched), x.ret = _qarn_old_des_set_key(&x.k, (O*)&x.sched)),
    PAIR("set_key (weak)", std::memset(x.k2, 1, 8); x.ret = DES_set_key(&x.k2, &x.sched),
         std::memset(x.k2, 1, 8); x.ret = _qarn_old_des_set_key(&x.k2, (O*)&x.sched)),
    PAIR("key_sched", x.ret = DES_key_sched(&x.k, &x.sched),
         x.ret = _qarn_old_des_key_sched(&x.k, (O*)&x.sched)),
    PAIR("is_weak_key", std::memset(x.k2, 1, 8);
         x.ret = DES_is_weak_key(&x.k) << 1 | DES_is_weak_key(&x.k2), std::memset(x.k2, 1, 8);
         x.ret = _qarn_old_des_is_weak_key(&x.k) << 1 | _qarn_old_des_is_weak_key(&x.k2)),
    PAIR("set_odd_parity", DES_set_odd_parity(&x.k), _qarn_old_des_set_odd_parity(&x.k)),
    PAIR("random_key", x.ret = DES_random_key(&x.k), x.ret = _qarn_old_des_random_key(&x.k)),
    PAIR("random_seed", RAND_seed(&x.iv, 8), _qarn_old_des_random_seed(&x.iv)),
    PAIR("096 random_seed", RAND_seed(&x.iv, 8), _qarn_096_des_random_seed(&x.iv)),
    PAIR("enc_write", x.ret = DES_enc_write(x.fd[1], x.in.data(), 45, &x.ks[0], &x.iv); x.Drain(),
         x.ret = _qarn_old_des_enc_write(x.fd[1], x.in.data(), 45, x.o(0), &x.iv); x.Drain()),
    PAIR("enc_write (negative)", x.ret = DES_enc_write(x.fd[1], x.in.data(), -1, &x.ks[0], &x.iv),
         x.ret = _qarn_old_des_enc_write(x.fd[1], x.in.data(), -1, x.o(0), &x.iv)),
    PAIR("enc_read", DES_enc_write(x.fd[1], x.in.data(), 45, &x.ks[0], &x.iv);
         x.ret = DES_enc_read(x.fd[0], x.out.data(), 45, &x.ks[0], &x.iv),
         DES_enc_write(x.fd[1], x.in.data(), 45, &x.ks[0], &x.iv);
         x.ret = _qarn_old_des_enc_read(x.fd[0], x.out.data(), 45, x.o(0), &x.iv)),
    PAIR("enc_read (negative)", x.ret = DES_enc_read(x.fd[0], x.out.data(), -1, &x.ks[0], &x.iv),
         x.ret = _qarn_old_des_enc_read(x.fd[0], x.out.data(), -1, x.o(0), &x.iv)),
};

TEST(DesOldNames, EachOldNameActsAsItsTarget) {
  ASSERT_EQ(RAND_set_rand_method(&kFixed), 1);
  for (const Pair& p : kPairs) {
    for (int flag : {0, 1}) {
      for (int enc : {1, 0}) {
        DES_check_key = flag;
        DES_rw_mode = flag;
        Io a, b;
        a.enc = b.enc = enc;
        g_seeded.clear();
        p.fresh(a);
        const std::string want = a.State();
        g_seeded.clear();
        p.old(b);
        EXPECT_EQ(b.State(), want) << p.name << " enc " << enc << " switches " << flag;
      }
    }
  }
  DES_check_key = 0;
  DES_rw_mode = 1;
  RAND_set_rand_method(nullptr);
}

}  // namespace
