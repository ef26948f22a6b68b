// The key container and the envelope operations that need no key material:
// type folding, assignment, the typed getters, the reference count and its
// lock, comparisons, the key-type checks of signing, verification and
// opening, the running-copy behaviour of signing (through a description of
// the test's own), and sealing's set-up, IV draw and key wiping.

#include <climits>
#include <cstring>
#include <map>
#include <string>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/ec.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/rand.h>

#include "test_support.h"

namespace {

using morvane_test::FromHex;
using morvane_test::LockEvent;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

// A container of `type` without a key (EVP_PKEY_assign with null sets the
// type and returns 0).
EVP_PKEY* Typed(int type) {
  EVP_PKEY* p = EVP_PKEY_new();
  EXPECT_EQ(0, EVP_PKEY_assign(p, type, nullptr));
  return p;
}

TEST(EvpPkey, TypeFolding) {
  const std::map<int, int> cases = {{6, 6},    {19, 6},    {116, 116}, {66, 116},  {67, 116},
                                    {70, 116}, {113, 116}, {28, 28},   {408, 408}, {999, 0},
                                    {0, 0},    {65, 0},    {-1, 0}};
  for (const auto& [type, folded] : cases) EXPECT_EQ(folded, EVP_PKEY_type(type)) << type;
}

TEST(EvpPkey, NewAndAssignNullKey) {
  EVP_PKEY* p = EVP_PKEY_new();
  ASSERT_NE(nullptr, p);
  EXPECT_EQ(0, p->type);
  EXPECT_EQ(1, p->references);
  EXPECT_EQ(nullptr, p->pkey.ptr);
  EXPECT_EQ(1, p->save_parameters);
  EXPECT_EQ(nullptr, p->attributes);
  EXPECT_EQ(0, EVP_PKEY_assign(p, 67, nullptr));  // DSA-old folds to DSA
  EXPECT_EQ(EVP_PKEY_DSA, p->type);
  EXPECT_EQ(67, p->save_type);
  EXPECT_EQ(0, EVP_PKEY_assign(nullptr, 6, nullptr));
  EXPECT_EQ(0, EVP_PKEY_set1_RSA(p, nullptr));
  EXPECT_EQ(EVP_PKEY_RSA, p->type);
  EVP_PKEY_free(p);
  EVP_PKEY_free(nullptr);
  EXPECT_ERRORS({});
}

TEST(EvpPkey, GettersRefuseOtherTypes) {
  ERR_load_EVP_strings();
  EVP_PKEY* dh = Typed(EVP_PKEY_DH);
  EVP_PKEY* rsa = Typed(EVP_PKEY_RSA);
  EXPECT_EQ(nullptr, EVP_PKEY_get1_RSA(dh));
  EXPECT_EQ(nullptr, EVP_PKEY_get1_DSA(dh));
  EXPECT_EQ(nullptr, EVP_PKEY_get1_EC_KEY(dh));
  EXPECT_EQ(nullptr, EVP_PKEY_get1_DH(rsa));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PKEY_GET1_RSA, EVP_R_EXPECTING_AN_RSA_KEY},
                 {ERR_LIB_EVP, EVP_F_EVP_PKEY_GET1_DSA, EVP_R_EXPECTING_A_DSA_KEY},
                 {ERR_LIB_EVP, EVP_F_EVP_PKEY_GET1_EC_KEY, EVP_R_EXPECTING_A_EC_KEY},
                 {ERR_LIB_EVP, EVP_F_EVP_PKEY_GET1_DH, EVP_R_EXPECTING_A_DH_KEY}});
  EXPECT_STREQ("expecting an rsa key", ERR_reason_error_string(ERR_PACK(ERR_LIB_EVP, 0, 127)));
  // The right type without a key hands out null and queues nothing.
  EXPECT_EQ(nullptr, EVP_PKEY_get1_DH(dh));
  EXPECT_ERRORS({});
  EVP_PKEY_free(dh);
  EVP_PKEY_free(rsa);
}

TEST(EvpPkey, ReferencesChangeUnderLockTen) {
  morvane_test::InstallLockingCallback();
  EVP_PKEY* p = EVP_PKEY_new();
  morvane_test::StartRecordingLocks();
  CRYPTO_add(&p->references, 1, CRYPTO_LOCK_EVP_PKEY);  // a second holder
  EVP_PKEY_free(p);
  EXPECT_EQ(1, p->references);  // still held
  EVP_PKEY_free(p);
  const std::vector<LockEvent> expected = {WriteLock(10),   WriteUnlock(10), WriteLock(10),
                                           WriteUnlock(10), WriteLock(10),   WriteUnlock(10)};
  EXPECT_EQ(expected, morvane_test::StopRecordingLocks());
}

// With an add-lock callback installed, the count changes through it alone.
std::vector<std::pair<int, int>> g_adds;  // (amount, lock)
int RecordAdd(int* pointer, int amount, int type, const char*, int) {
  g_adds.emplace_back(amount, type);
  return *pointer += amount;
}

TEST(EvpPkey, FreeGoesThroughTheAddLockCallback) {
  morvane_test::InstallLockingCallback();
  CRYPTO_set_add_lock_callback(RecordAdd);
  EVP_PKEY* p = EVP_PKEY_new();
  morvane_test::StartRecordingLocks();
  EVP_PKEY_free(p);
  EXPECT_TRUE(morvane_test::StopRecordingLocks().empty());
  EXPECT_EQ((std::vector<std::pair<int, int>>{{-1, CRYPTO_LOCK_EVP_PKEY}}), g_adds);
  CRYPTO_set_add_lock_callback(nullptr);
}

TEST(EvpPkey, ComparisonsAndParameters) {
  EVP_PKEY* dh1 = Typed(EVP_PKEY_DH);
  EVP_PKEY* dh2 = Typed(EVP_PKEY_DH);
  EVP_PKEY* rsa = Typed(EVP_PKEY_RSA);
  EVP_PKEY* dsa = Typed(EVP_PKEY_DSA);
  EVP_PKEY* ec = Typed(EVP_PKEY_EC);
  EXPECT_EQ(-2, EVP_PKEY_cmp(dh1, dh2));
  EXPECT_EQ(-1, EVP_PKEY_cmp(rsa, dsa));
  EXPECT_EQ(-1, EVP_PKEY_cmp_parameters(dh1, dh2));
  EXPECT_EQ(-1, EVP_PKEY_cmp_parameters(rsa, dsa));
  // save_parameters: DSA and EC only; a negative mode only asks.
  EXPECT_EQ(1, EVP_PKEY_save_parameters(dsa, -1));
  EXPECT_EQ(1, EVP_PKEY_save_parameters(dsa, 0));
  EXPECT_EQ(0, EVP_PKEY_save_parameters(dsa, -1));
  EXPECT_EQ(1, EVP_PKEY_save_parameters(ec, 1));
  EXPECT_EQ(0, EVP_PKEY_save_parameters(rsa, 0));
  EXPECT_EQ(1, rsa->save_parameters);
  // Without a key, DSA and EC miss their parameters.
  EXPECT_EQ(1, EVP_PKEY_missing_parameters(dsa));
  EXPECT_EQ(1, EVP_PKEY_missing_parameters(ec));
  EXPECT_EQ(0, EVP_PKEY_missing_parameters(rsa));
  EXPECT_EQ(0, EVP_PKEY_copy_parameters(rsa, dsa));
  EXPECT_EQ(0, EVP_PKEY_copy_parameters(dsa, dsa));
  EXPECT_EQ(1, EVP_PKEY_copy_parameters(dh1, dh2));  // nothing to copy
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PKEY_COPY_PARAMETERS, EVP_R_DIFFERENT_KEY_TYPES},
                 {ERR_LIB_EVP, EVP_F_EVP_PKEY_COPY_PARAMETERS, EVP_R_MISSING_PARAMETERS}});
  // Sizes and bits of empty containers.
  for (EVP_PKEY* p : {dh1, rsa, dsa, ec}) {
    EXPECT_EQ(0, EVP_PKEY_size(p));
    EXPECT_EQ(0, EVP_PKEY_bits(p));
  }
  EXPECT_EQ(0, EVP_PKEY_size(nullptr));
  for (EVP_PKEY* p : {dh1, dh2, rsa, dsa, ec}) EVP_PKEY_free(p);
  EXPECT_ERRORS({});
}

// An EC key whose group has no order has no size; asking leaves the entries
// the caller queued before, and the caller's mark, in place (the whole
// queue was cleared).
TEST(EvpPkey, BitsOfAGroupWithoutOrderKeepTheCallersEntries) {
  EC_GROUP* group = EC_GROUP_new(EC_GFp_mont_method());
  ASSERT_NE(group, nullptr);
  EC_KEY* key = EC_KEY_new();
  ASSERT_EQ(1, EC_KEY_set_group(key, group));
  EVP_PKEY* p = EVP_PKEY_new();
  ASSERT_EQ(1, EVP_PKEY_assign_EC_KEY(p, key));
  EXPECT_TRUE(morvane_test::KeepsCallersMark([&] { return EVP_PKEY_bits(p) == 0; }));
  EVP_PKEY_free(p);
  EC_GROUP_free(group);
}

// ---- signing and verification ----------------------------------------------

TEST(EvpSign, WrongKeyTypeForTheDigest) {
  EVP_PKEY* rsa = Typed(EVP_PKEY_RSA);
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_SignInit_ex(&ctx, EVP_dss1(), nullptr));
  unsigned char sig[64];
  unsigned int siglen = 99;
  EXPECT_EQ(0, EVP_SignFinal(&ctx, sig, &siglen, rsa));
  EXPECT_EQ(0u, siglen);
  EXPECT_EQ(0x0606B06EUL, ERR_get_error());
  EXPECT_EQ(-1, EVP_VerifyFinal(&ctx, sig, sizeof sig, rsa));
  EXPECT_EQ(0x0606C06EUL, ERR_get_error());
  // An empty container is no key type of any description.
  EVP_PKEY* none = EVP_PKEY_new();
  EXPECT_EQ(-1, EVP_VerifyFinal(&ctx, sig, sizeof sig, none));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_VERIFYFINAL, EVP_R_WRONG_PUBLIC_KEY_TYPE}});
  EVP_MD_CTX_cleanup(&ctx);
  EVP_PKEY_free(rsa);
  EVP_PKEY_free(none);
}

constexpr int NID_FOR_TEST_SHA1 = 64;

// A description of the test's own: SHA-1 whose sign function "signs" by
// copying the digest it is given, and whose verify function compares.
EVP_MD g_md;
int CopySign(int type, const unsigned char* m, unsigned int m_len, unsigned char* sig,
             unsigned int* sig_len, void* key) {
  EXPECT_EQ(NID_FOR_TEST_SHA1, type);
  EXPECT_EQ(reinterpret_cast<void*>(&g_md), key);  // the container's key pointer
  memcpy(sig, m, m_len);
  *sig_len = m_len;
  return 1;
}
int CompareVerify(int, const unsigned char* m, unsigned int m_len, const unsigned char* sig,
                  unsigned int sig_len, void*) {
  return m_len == sig_len && memcmp(m, sig, m_len) == 0 ? 1 : 0;
}
// With EVP_MD_FLAG_SVCTX the function gets the running copy and finishes it.
int SvctxSign(int type, const unsigned char* m, unsigned int m_len, unsigned char* sig,
              unsigned int* sig_len, void* key) {
  EXPECT_EQ(NID_FOR_TEST_SHA1, type);
  EXPECT_EQ(nullptr, m);
  EXPECT_EQ(UINT_MAX, m_len);
  auto* pair = static_cast<EVP_MD_SVCTX*>(key);
  EXPECT_EQ(reinterpret_cast<void*>(&g_md), pair->key);
  return EVP_DigestFinal_ex(pair->mctx, sig, sig_len);
}

// A container of type RSA whose key pointer is a marker, not a key.
struct MarkedRsa {
  EVP_PKEY* p = EVP_PKEY_new();
  MarkedRsa() {
    p->type = EVP_PKEY_RSA;
    p->pkey.ptr = reinterpret_cast<char*>(&g_md);
  }
  ~MarkedRsa() {
    p->pkey.ptr = nullptr;
    EVP_PKEY_free(p);
  }
};

// FIPS 180-2, Appendix A.1: SHA-1("abc").
const char kSha1Abc[] = "a9993e364706816aba3e25717850c26c9cd0d89d";

TEST(EvpSign, FinishesACopySoTheDigestRunsOn) {
  g_md = *EVP_sha1();
  g_md.sign = CopySign;
  g_md.verify = CompareVerify;
  MarkedRsa key;
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_SignInit_ex(&ctx, &g_md, nullptr));
  ASSERT_EQ(1, EVP_SignUpdate(&ctx, "abc", 3));
  unsigned char s1[EVP_MAX_MD_SIZE], s2[EVP_MAX_MD_SIZE];
  unsigned int n1 = 0, n2 = 0;
  ASSERT_EQ(1, EVP_SignFinal(&ctx, s1, &n1, key.p));
  ASSERT_EQ(1, EVP_SignFinal(&ctx, s2, &n2, key.p));
  EXPECT_EQ(kSha1Abc, morvane_test::ToHex(s1, n1));
  EXPECT_EQ(kSha1Abc, morvane_test::ToHex(s2, n2));
  EXPECT_EQ(1, EVP_VerifyFinal(&ctx, s1, n1, key.p));
  s1[0] ^= 1;
  EXPECT_EQ(0, EVP_VerifyFinal(&ctx, s1, n1, key.p));
  // The caller's context still runs: "abc" + "" finishes to the same digest.
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int mdlen = 0;
  ASSERT_EQ(1, EVP_DigestFinal_ex(&ctx, md, &mdlen));
  EXPECT_EQ(kSha1Abc, morvane_test::ToHex(md, mdlen));
  // The pair form.
  g_md.flags |= EVP_MD_FLAG_SVCTX;
  g_md.sign = SvctxSign;
  ASSERT_EQ(1, EVP_SignInit_ex(&ctx, &g_md, nullptr));
  ASSERT_EQ(1, EVP_SignUpdate(&ctx, "abc", 3));
  ASSERT_EQ(1, EVP_SignFinal(&ctx, s1, &n1, key.p));
  EXPECT_EQ(kSha1Abc, morvane_test::ToHex(s1, n1));
  EVP_MD_CTX_cleanup(&ctx);
  EXPECT_ERRORS({});
}

TEST(EvpSign, MissingFunctions) {
  g_md = *EVP_sha1();
  g_md.sign = nullptr;
  g_md.verify = nullptr;
  MarkedRsa key;
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_SignInit_ex(&ctx, &g_md, nullptr));
  unsigned char sig[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  EXPECT_EQ(0, EVP_SignFinal(&ctx, sig, &n, key.p));
  EXPECT_EQ(0, EVP_VerifyFinal(&ctx, sig, 20, key.p));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_SIGNFINAL, EVP_R_NO_SIGN_FUNCTION_CONFIGURED},
                 {ERR_LIB_EVP, EVP_F_EVP_VERIFYFINAL, EVP_R_NO_VERIFY_FUNCTION_CONFIGURED}});
  EVP_MD_CTX_cleanup(&ctx);
}

// When the caller's context cannot be copied, signing fails with 0 and
// verification with -1, the copy's error on the queue.
TEST(EvpSign, ContextThatCannotBeCopied) {
  EVP_PKEY* rsa = Typed(EVP_PKEY_RSA);
  EVP_MD_CTX empty;
  EVP_MD_CTX_init(&empty);
  unsigned char sig[64];
  unsigned int n = 7;
  EXPECT_EQ(0, EVP_SignFinal(&empty, sig, &n, rsa));
  EXPECT_EQ(0u, n);
  EXPECT_EQ(-1, EVP_VerifyFinal(&empty, sig, sizeof sig, rsa));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, EVP_R_INPUT_NOT_INITIALIZED},
                 {ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, EVP_R_INPUT_NOT_INITIALIZED}});
  EVP_PKEY_free(rsa);
}

TEST(EvpSign, CopyAllocationFails) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  g_md = *EVP_sha1();
  g_md.sign = CopySign;
  g_md.verify = CompareVerify;
  MarkedRsa key;
  EVP_MD_CTX ctx;
  EVP_MD_CTX_init(&ctx);
  ASSERT_EQ(1, EVP_SignInit_ex(&ctx, &g_md, nullptr));
  unsigned char sig[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(0, EVP_SignFinal(&ctx, sig, &n, key.p));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, ERR_R_MALLOC_FAILURE}});
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(-1, EVP_VerifyFinal(&ctx, sig, 20, key.p));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_MD_CTX_COPY_EX, ERR_R_MALLOC_FAILURE}});
  EVP_MD_CTX_cleanup(&ctx);
}

// ---- sealing and opening ------------------------------------------------------

int g_rand_calls = 0;
int FillA5(unsigned char* buf, int num) {
  g_rand_calls++;
  memset(buf, 0xA5, num);
  return 1;
}
int Fill11(unsigned char* buf, int num) {
  g_rand_calls++;
  memset(buf, 0x11, num);
  return 1;
}
const RAND_METHOD kFixedRand = {nullptr, FillA5, nullptr, nullptr, Fill11, nullptr};
const RAND_METHOD kNoPseudoRand = {nullptr, FillA5, nullptr, nullptr, nullptr, nullptr};

TEST(EvpSeal, NoRecipientsOnlySetsUpTheCipher) {
  RAND_set_rand_method(&kFixedRand);
  EVP_CIPHER_CTX ctx;
  unsigned char iv[EVP_MAX_IV_LENGTH] = {};
  EXPECT_EQ(1, EVP_SealInit(&ctx, EVP_aes_128_cbc(), nullptr, nullptr, iv, nullptr, 0));
  EXPECT_EQ(EVP_aes_128_cbc(), EVP_CIPHER_CTX_cipher(&ctx));
  EXPECT_EQ(1, ctx.encrypt);
  EXPECT_EQ(0, g_rand_calls);  // no key, no IV
  EXPECT_EQ(std::string(16, '\0'), std::string(reinterpret_cast<char*>(iv), 16));
  EVP_CIPHER_CTX_cleanup(&ctx);
  // Opening without a key sets up the cipher as well.
  EXPECT_EQ(1, EVP_OpenInit(&ctx, EVP_aes_128_cbc(), nullptr, 0, iv, nullptr));
  EXPECT_EQ(0, ctx.encrypt);
  EVP_CIPHER_CTX_cleanup(&ctx);
  RAND_set_rand_method(nullptr);
  EXPECT_ERRORS({});
}

// A random method without pseudo-random output: the IV cannot be drawn, so
// sealing fails before any recipient is tried.
TEST(EvpSeal, IvDrawThatFailsFailsTheCall) {
  RAND_set_rand_method(&kNoPseudoRand);
  EVP_PKEY* none = EVP_PKEY_new();
  EVP_CIPHER_CTX ctx;
  unsigned char ek[256];
  unsigned char* eks[] = {ek};
  int ekl[1] = {-7};
  unsigned char iv[EVP_MAX_IV_LENGTH];
  EXPECT_EQ(0, EVP_SealInit(&ctx, EVP_aes_128_cbc(), eks, ekl, iv, &none, 1));
  EXPECT_EQ(-7, ekl[0]);
  EVP_CIPHER_CTX_cleanup(&ctx);
  EVP_PKEY_free(none);
  RAND_set_rand_method(nullptr);
  ERR_clear_error();
}

TEST(EvpSeal, RecipientThatIsNotRsa) {
  RAND_set_rand_method(&kFixedRand);
  EVP_PKEY* dsa = Typed(EVP_PKEY_DSA);
  EVP_CIPHER_CTX ctx;
  unsigned char ek[256];
  unsigned char* eks[] = {ek};
  int ekl[1] = {-7};
  unsigned char iv[EVP_MAX_IV_LENGTH] = {};
  EXPECT_EQ(-1, EVP_SealInit(&ctx, EVP_aes_128_cbc(), eks, ekl, iv, &dsa, 1));
  EXPECT_EQ(0, ekl[0]);
  EXPECT_EQ(std::string(16, '\x11'), std::string(reinterpret_cast<char*>(iv), 16));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PKEY_ENCRYPT, EVP_R_PUBLIC_KEY_NOT_RSA}});
  EVP_CIPHER_CTX_cleanup(&ctx);
  // Opening with a DSA container: 0x0606606A "public key not rsa".
  EXPECT_EQ(0, EVP_OpenInit(&ctx, EVP_aes_128_cbc(), ek, 128, iv, dsa));
  EXPECT_EQ(0x0606606AUL, ERR_get_error());
  unsigned char key[32];
  EXPECT_EQ(-1, EVP_PKEY_decrypt(key, ek, 128, dsa));
  EXPECT_EQ(0, EVP_PKEY_encrypt(ek, key, 16, dsa));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_PKEY_DECRYPT, EVP_R_PUBLIC_KEY_NOT_RSA},
                 {ERR_LIB_EVP, EVP_F_EVP_PKEY_ENCRYPT, EVP_R_PUBLIC_KEY_NOT_RSA}});
  EVP_CIPHER_CTX_cleanup(&ctx);
  EVP_PKEY_free(dsa);
  RAND_set_rand_method(nullptr);
}

// Allocation hooks that look at every block as it is freed: the message key
// (sixteen 0xA5 octets from the random method above) must never be in one.
bool g_watch = false;
int g_key_blocks_freed = 0;
void* SizedMalloc(size_t n) {
  auto* p = static_cast<unsigned char*>(malloc(n + 16));
  if (p == nullptr) return nullptr;
  memcpy(p, &n, sizeof n);
  return p + 16;
}
void* SizedRealloc(void* q, size_t n) {
  if (q == nullptr) return SizedMalloc(n);
  auto* p = static_cast<unsigned char*>(realloc(static_cast<unsigned char*>(q) - 16, n + 16));
  if (p == nullptr) return nullptr;
  memcpy(p, &n, sizeof n);
  return p + 16;
}
void SizedFree(void* q) {
  if (q == nullptr) return;
  auto* p = static_cast<unsigned char*>(q) - 16;
  size_t n;
  memcpy(&n, p, sizeof n);
  if (g_watch && n >= 16) {
    const std::string block(static_cast<char*>(q), n);
    if (block.find(std::string(16, '\xA5')) != std::string::npos) g_key_blocks_freed++;
  }
  free(p);
}

TEST(EvpSeal, MessageKeyIsWipedBeforeItsBlockIsFreed) {
  ASSERT_EQ(1, CRYPTO_set_mem_functions(SizedMalloc, SizedRealloc, SizedFree));
  RAND_set_rand_method(&kFixedRand);
  EVP_PKEY* none = EVP_PKEY_new();
  EVP_CIPHER_CTX ctx;
  unsigned char ek[256];
  unsigned char* eks[] = {ek};
  int ekl[1];
  unsigned char iv[EVP_MAX_IV_LENGTH];
  g_watch = true;
  EXPECT_EQ(-1, EVP_SealInit(&ctx, EVP_aes_128_cbc(), eks, ekl, iv, &none, 1));
  g_watch = false;
  EXPECT_GE(g_rand_calls, 2);  // the key and the IV were drawn
  EXPECT_EQ(0, g_key_blocks_freed);
  EVP_CIPHER_CTX_cleanup(&ctx);
  EVP_PKEY_free(none);
  RAND_set_rand_method(nullptr);
  ERR_clear_error();
}

// The final calls rewind the context to its IV, so a second message under
// the same key and IV encrypts as the first did.  FIPS 197 C.1 key with the
// NIST SP 800-38A F.2.1 IV; the expected first block is SP 800-38A's.
TEST(EvpSeal, FinalRewindsForTheNextMessage) {
  const auto key = FromHex("2b7e151628aed2a6abf7158809cf4f3c");
  const auto iv = FromHex("000102030405060708090a0b0c0d0e0f");
  const auto msg = FromHex("6bc1bee22e409f96e93d7e117393172a");
  EVP_CIPHER_CTX ctx;
  ASSERT_EQ(1, EVP_SealInit(&ctx, EVP_aes_128_cbc(), nullptr, nullptr, nullptr, nullptr, 0));
  ASSERT_EQ(1, EVP_EncryptInit_ex(&ctx, nullptr, nullptr, key.data(), iv.data()));
  std::string first, second;
  for (std::string* out : {&first, &second}) {
    unsigned char buf[64];
    int n = 0, m = 0;
    ASSERT_EQ(1, EVP_SealUpdate(&ctx, buf, &n, msg.data(), 16));
    ASSERT_EQ(1, EVP_SealFinal(&ctx, buf + n, &m));
    out->assign(reinterpret_cast<char*>(buf), n + m);
  }
  EXPECT_EQ(first, second);
  EXPECT_EQ("7649abac8119b246cee98e9b12e9197d",
            morvane_test::ToHex(reinterpret_cast<const uint8_t*>(first.data()), 16));
  EVP_CIPHER_CTX_cleanup(&ctx);
  // Opening, with the key set by hand, rewinds the same way.
  ASSERT_EQ(1, EVP_OpenInit(&ctx, EVP_aes_128_cbc(), nullptr, 0, nullptr, nullptr));
  ASSERT_EQ(1, EVP_DecryptInit_ex(&ctx, nullptr, nullptr, key.data(), iv.data()));
  for (int round = 0; round < 2; round++) {
    unsigned char buf[64];
    int n = 0, m = 0;
    ASSERT_EQ(1, EVP_OpenUpdate(&ctx, buf, &n, reinterpret_cast<const unsigned char*>(first.data()),
                                static_cast<int>(first.size())));
    ASSERT_EQ(1, EVP_OpenFinal(&ctx, buf + n, &m));
    EXPECT_EQ(morvane_test::ToHex(msg), morvane_test::ToHex(buf, n + m));
  }
  EVP_CIPHER_CTX_cleanup(&ctx);
  EXPECT_ERRORS({});
}

}  // namespace
