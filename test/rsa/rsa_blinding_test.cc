// Blinding of the private operations: when it is made and by whom (the lock
// requests of the first and later operations), the public exponent derived
// for a key without one, the failures, what an unseeded generator is given,
// and the fresh value of a forked child.

#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/rand.h>
#include <morvane/rsa.h>

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <set>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using namespace rsa_test;
using morvane_test::LockEvent;
using morvane_test::ReadLock;
using morvane_test::ReadUnlock;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

constexpr int kR = ERR_LIB_RSA;
constexpr int kRsaLock = CRYPTO_LOCK_RSA;

std::vector<LockEvent> Times(const std::vector<LockEvent>& v, int n) {
  std::vector<LockEvent> all;
  for (int i = 0; i < n; i++) all.insert(all.end(), v.begin(), v.end());
  return all;
}

// First operation: the blinding made under the write lock after the read
// check, then the three Montgomery contexts; later ones only read.
TEST(RsaBlinding, MadeOnceByTheFirstOperation) {
  morvane_test::InstallLockingCallback();
  Rsa key = MakeKey(TestKey(1024));
  Bytes in(128, 0x11), out(128), back(128);
  in[0] = 0;
  const std::vector<LockEvent> make = {ReadLock(kRsaLock), ReadUnlock(kRsaLock),
                                       WriteLock(kRsaLock), WriteUnlock(kRsaLock)};
  const std::vector<LockEvent> find = {ReadLock(kRsaLock), ReadUnlock(kRsaLock)};
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(morvane_test::StopRecordingLocks({kRsaLock, CRYPTO_LOCK_RSA_BLINDING}), Times(make, 4));
  ASSERT_NE(key->blinding, nullptr);
  EXPECT_EQ(key->mt_blinding, nullptr);
  EXPECT_EQ(BN_BLINDING_get_thread_id(key->blinding), CRYPTO_thread_id());
  morvane_test::StartRecordingLocks();
  ASSERT_EQ(RSA_private_encrypt(128, in.data(), back.data(), key.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(morvane_test::StopRecordingLocks({kRsaLock, CRYPTO_LOCK_RSA_BLINDING}), Times(find, 4));
  EXPECT_EQ(back, out);
  // The blinded results are the plain ones, over more than 32 uses (the pair
  // is drawn afresh after 32).
  Rsa plain = MakeKey(TestKey(1024));
  plain->flags |= RSA_FLAG_NO_BLINDING;
  for (int i = 0; i < 40; i++) {
    in[5] = static_cast<uint8_t>(i);
    ASSERT_EQ(RSA_private_decrypt(128, in.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
    ASSERT_EQ(RSA_private_decrypt(128, in.data(), back.data(), plain.get(), RSA_NO_PADDING), 128);
    ASSERT_EQ(out, back) << i;
  }
  EXPECT_EQ(plain->blinding, nullptr);
  EXPECT_ERRORS({});
}

// Without e, the blinding's exponent is derived from d, p and q; without e
// and p there is none, and the operation fails.
TEST(RsaBlinding, KeyWithoutPublicExponent) {
  Rsa full = MakeKey(TestKey(1024));
  Rsa no_e = MakeKey(TestKey(1024), "n,d,p,q,dmp1,dmq1,iqmp");
  Bytes in(128, 0x22), want(128), got(128);
  in[0] = 0;
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), want.data(), full.get(), RSA_NO_PADDING), 128);
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), got.data(), no_e.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(got, want);
  EXPECT_ERRORS({});
  Rsa no_e_p = MakeKey(TestKey(1024), "n,d,q");
  EXPECT_EQ(RSA_private_decrypt(128, in.data(), got.data(), no_e_p.get(), RSA_NO_PADDING), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_SETUP_BLINDING, RSA_R_NO_PUBLIC_EXPONENT},
                 {kR, RSA_F_RSA_VEK_PRIVATE_DECRYPT, ERR_R_INTERNAL_ERROR}});
  EXPECT_EQ(RSA_private_encrypt(128, in.data(), got.data(), no_e_p.get(), RSA_NO_PADDING), -1);
  EXPECT_ERRORS({{kR, RSA_F_RSA_SETUP_BLINDING, RSA_R_NO_PUBLIC_EXPONENT},
                 {kR, RSA_F_RSA_VEK_PRIVATE_ENCRYPT, ERR_R_INTERNAL_ERROR}});
  // Without blinding the same key serves (plain exponentiation with d).
  no_e_p->flags |= RSA_FLAG_NO_BLINDING;
  ASSERT_EQ(RSA_private_decrypt(128, in.data(), got.data(), no_e_p.get(), RSA_NO_PADDING), 128);
  EXPECT_EQ(got, want);
}

TEST(RsaBlinding, SetupGivesAnOwnedRecord) {
  Rsa key = MakeKey(TestKey(512));
  BN_BLINDING* b = RSA_setup_blinding(key.get(), nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(BN_BLINDING_get_thread_id(b), CRYPTO_thread_id());
  // Blinding around the private exponentiation gives its plain result:
  // (x A)^d Ai = x^d (mod n).
  BIGNUM* x = Hex("123456789");
  BIGNUM* y = BN_dup(x);
  BIGNUM* want = BN_new();
  BN_CTX* ctx = BN_CTX_new();
  ASSERT_EQ(BN_mod_exp(want, x, key->d, key->n, ctx), 1);
  ASSERT_EQ(BN_BLINDING_convert_ex(y, nullptr, b, ctx), 1);
  EXPECT_NE(BN_cmp(x, y), 0);
  ASSERT_EQ(BN_mod_exp(y, y, key->d, key->n, ctx), 1);
  ASSERT_EQ(BN_BLINDING_invert_ex(y, nullptr, b, ctx), 1);
  EXPECT_EQ(BN_cmp(want, y), 0);
  BN_CTX_free(ctx);
  for (BIGNUM* n : {x, y, want}) BN_free(n);
  BN_BLINDING_free(b);
}

// The blinded input of the last private exponentiation, recorded by a
// method whose rsa_mod_exp is the built-in one behind a recorder.
Bytes last_blinded;
int RecordingModExp(BIGNUM* r0, const BIGNUM* I, RSA* rsa, BN_CTX* ctx) {
  last_blinded = ToBytes(I, 128);
  return RSA_PKCS1_Quorix()->rsa_mod_exp(r0, I, rsa, ctx);
}

// A forked child holds a copy of its parent's blindings: it draws a fresh
// pair before its first use, so that two children and their parent, each
// blinding one message once, blind it three ways.  Through the owner's
// blinding (a thread-id callback gives the child its parent's thread) and
// through the shared one (by default a thread's id is its process's, so a
// child is never the owner).
TEST(RsaBlinding, ForkedChildDrawsAFreshValue) {
  static RSA_METHOD recording = *RSA_PKCS1_Quorix();
  recording.rsa_mod_exp = RecordingModExp;
  for (bool owner : {true, false}) {
    SCOPED_TRACE(owner ? "owner's blinding" : "shared blinding");
    if (owner) morvane_test::InstallThreadIdCallback();
    Rsa key = MakeKey(TestKey(1024));
    ASSERT_EQ(RSA_set_method(key.get(), &recording), 1);
    Bytes msg(128, 0x3C), out(128);
    msg[0] = 0;
    ASSERT_EQ(RSA_private_decrypt(128, msg.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
    if (!owner) key->mt_blinding = RSA_setup_blinding(key.get(), nullptr);
    std::set<Bytes> blinded;
    for (int child = 0; child < 2; child++) {
      morvane_test::Pipe pipe;
      const pid_t pid = fork();
      ASSERT_GE(pid, 0);
      if (pid == 0) {
        const bool ok =
            RSA_private_decrypt(128, msg.data(), out.data(), key.get(), RSA_NO_PADDING) == 128 &&
            write(pipe.write_fd, last_blinded.data(), 128) == 128;
        _exit(ok ? 0 : 1);
      }
      pipe.CloseWrite();
      const std::string got = morvane_test::ReadAll(pipe.read_fd);
      blinded.insert(Bytes(got.begin(), got.end()));
      int status = 1;
      EXPECT_TRUE(waitpid(pid, &status, 0) == pid && status == 0);
    }
    ASSERT_EQ(RSA_private_decrypt(128, msg.data(), out.data(), key.get(), RSA_NO_PADDING), 128);
    blinded.insert(last_blinded);
    EXPECT_EQ(blinded.size(), 3u);
    CRYPTO_set_id_callback(nullptr);
  }
  EXPECT_ERRORS({});
}

// A random method that reports itself unseeded and records what it is given.
std::vector<int> added;
void RecordAdd(const void*, int num, double) {
  added.push_back(num);
}
int Unseeded() {
  return 0;
}
int Bytes1(unsigned char* buf, int num) {
  for (int i = 0; i < num; i++) buf[i] = static_cast<unsigned char>(i * 31 + 7);
  return 1;
}

// An unseeded generator gets the words of d that hold its value (4 bytes
// each), not the unused words past them.
TEST(RsaBlinding, UnseededGeneratorGetsTheUsedWordsOfD) {
  RAND_METHOD recording = *RAND_get_rand_method();
  recording.add = RecordAdd;
  recording.status = Unseeded;
  recording.bytes = Bytes1;
  recording.pseudorand = Bytes1;
  Rsa key = MakeKey(TestKey(512));
  ASSERT_NE(bn_expand2(key->d, key->d->top + 20), nullptr);
  RAND_set_rand_method(&recording);
  BN_BLINDING* b = RSA_setup_blinding(key.get(), nullptr);
  RAND_set_rand_method(nullptr);
  ASSERT_FALSE(added.empty());
  EXPECT_EQ(added[0], 4 * key->d->top);
  BN_BLINDING_free(b);
  ERR_clear_error();
}

}  // namespace
