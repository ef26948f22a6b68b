// Keys from pass phrases: EVP_BytesToKey's digest passes, the stored prompt
// and EVP_read_pw_string over a scripted prompt method.

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/ui.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

// DES-EDE3-CBC (24-byte key, 8-byte IV) from "password" with MD5, count 1,
// no salt: D1 = MD5("password") gives key bytes 0-15, D2 = MD5(D1 ||
// "password") key bytes 16-23 and the IV.  Expected bytes from coreutils:
//   printf 'password' | md5sum
//   printf '\x5f\x4d\xcc\x3b\x5a\xa7\x65\xd6\x1d\x83\x27\xde\xb8\x82\xcf\x99password' | md5sum
TEST(BytesToKey, TwoDigestPassesForTripleDes) {
  unsigned char key[24], iv[8];
  const auto* pw = reinterpret_cast<const unsigned char*>("password");
  EXPECT_EQ(24, EVP_BytesToKey(EVP_des_ede3_cbc(), EVP_md5(), nullptr, pw, 8, 1, key, iv));
  EXPECT_EQ("5f4dcc3b5aa765d61d8327deb882cf992b95990a9151374a", morvane_test::ToHex(key, 24));
  EXPECT_EQ("bd8ff8c5a7a0fe08", morvane_test::ToHex(iv, 8));
  // Only the key, or only the IV: the same bytes land where asked.
  unsigned char iv2[8];
  EXPECT_EQ(24, EVP_BytesToKey(EVP_des_ede3_cbc(), EVP_md5(), nullptr, pw, 8, 1, nullptr, iv2));
  EXPECT_EQ(Bytes(iv, iv + 8), Bytes(iv2, iv2 + 8));
}

TEST(BytesToKey, NullDataWritesNothing) {
  unsigned char key[24], iv[8];
  memset(key, 0x77, sizeof key);
  memset(iv, 0x77, sizeof iv);
  EXPECT_EQ(24, EVP_BytesToKey(EVP_des_ede3_cbc(), EVP_md5(), nullptr, nullptr, 0, 1, key, iv));
  EXPECT_EQ(Bytes(24, 0x77), Bytes(key, key + 24));
  EXPECT_EQ(Bytes(8, 0x77), Bytes(iv, iv + 8));
}

TEST(BytesToKey, CountAndSaltChangeTheKey) {
  const auto* pw = reinterpret_cast<const unsigned char*>("password");
  const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  unsigned char a[16], b[16], c[16];
  ASSERT_EQ(16, EVP_BytesToKey(EVP_aes_128_cbc(), EVP_md5(), nullptr, pw, 8, 1, a, nullptr));
  ASSERT_EQ(16, EVP_BytesToKey(EVP_aes_128_cbc(), EVP_md5(), salt, pw, 8, 1, b, nullptr));
  ASSERT_EQ(16, EVP_BytesToKey(EVP_aes_128_cbc(), EVP_md5(), nullptr, pw, 8, 2, c, nullptr));
  // count 2 digests D1 once more: MD5(MD5("password")).
  EXPECT_EQ("5f4dcc3b5aa765d61d8327deb882cf99", morvane_test::ToHex(a, 16));
  EXPECT_NE(Bytes(a, a + 16), Bytes(b, b + 16));
  unsigned char d1twice[16];
  EVP_Digest(a, 16, d1twice, nullptr, EVP_md5(), nullptr);
  EXPECT_EQ(Bytes(d1twice, d1twice + 16), Bytes(c, c + 16));
}

TEST(BytesToKey, RefusesWhatCannotFillTheKey) {
  unsigned char key[32];
  const auto* pw = reinterpret_cast<const unsigned char*>("pw");
  EXPECT_EQ(0, EVP_BytesToKey(EVP_aes_256_cbc(), EVP_md_null(), nullptr, pw, 2, 1, key, nullptr));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH}});
  EXPECT_EQ(0, EVP_BytesToKey(EVP_aes_256_cbc(), EVP_md5(), nullptr, pw, -1, 1, key, nullptr));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, EVP_R_INVALID_KEY_LENGTH}});
  EXPECT_EQ(0, EVP_BytesToKey(nullptr, EVP_md5(), nullptr, pw, 2, 1, key, nullptr));
  EXPECT_ERRORS({{ERR_LIB_EVP, 0, ERR_R_PASSED_NULL_PARAMETER}});
  EVP_MD broken = *EVP_md5();
  broken.final = [](EVP_MD_CTX*, unsigned char*) { return 0; };
  EXPECT_EQ(0, EVP_BytesToKey(EVP_aes_256_cbc(), &broken, nullptr, pw, 2, 1, key, nullptr));
}

TEST(PwPrompt, KeepsSeventyNineCharacters) {
  EXPECT_EQ(nullptr, EVP_get_pw_prompt());
  const std::string long_prompt(100, 'p');
  EVP_set_pw_prompt(long_prompt.c_str());
  ASSERT_NE(nullptr, EVP_get_pw_prompt());
  EXPECT_EQ(std::string(79, 'p'), EVP_get_pw_prompt());
  EVP_set_pw_prompt("short");
  EXPECT_STREQ("short", EVP_get_pw_prompt());
  EVP_set_pw_prompt(nullptr);
  EXPECT_EQ(nullptr, EVP_get_pw_prompt());
}

// A prompt method that answers from a table and records the prompts shown.
const char* g_answers[2];
int g_next = 0;
std::string g_seen_prompt;

int Answer(UI* ui, UI_STRING* uis) {
  g_seen_prompt = UI_get0_output_string(uis);
  return UI_set_result(ui, uis, g_answers[g_next++]) == 0 ? 1 : 0;
}

class ReadPwString : public testing::Test {
 protected:
  void SetUp() override {
    method_ = UI_create_method("answers");
    UI_method_set_reader(method_, Answer);
    UI_set_default_method(method_);
    g_next = 0;
  }
  void TearDown() override {
    UI_set_default_method(nullptr);
    UI_destroy_method(method_);
    EVP_set_pw_prompt(nullptr);
  }
  UI_METHOD* method_ = nullptr;
};

TEST_F(ReadPwString, ReadsVerifiesAndUsesTheStoredPrompt) {
  char buf[16];
  g_answers[0] = g_answers[1] = "secret";
  EVP_set_pw_prompt("Stored:");
  EXPECT_EQ(0, EVP_read_pw_string(buf, sizeof buf, nullptr, 1));
  EXPECT_STREQ("secret", buf);
  EXPECT_EQ(2, g_next);
  EXPECT_EQ("Stored:", g_seen_prompt);
  g_next = 0;
  EXPECT_EQ(0, EVP_read_pw_string(buf, sizeof buf, "Given:", 0));
  EXPECT_EQ("Given:", g_seen_prompt);
  EXPECT_EQ(1, g_next);
}

// An answer of exactly `length` characters does not fit with its zero: it
// is refused and nothing is written past the buffer (the prompt layer was
// asked for `length` characters and wrote length + 1 bytes).
TEST_F(ReadPwString, AnswerThatFillsTheBufferIsRefused) {
  char area[9];
  memset(area, '#', sizeof area);
  g_answers[0] = "12345678";
  EXPECT_NE(0, EVP_read_pw_string(area, 8, "p:", 0));
  EXPECT_EQ('#', area[8]);
  EXPECT_ERRORS({{ERR_LIB_UI, UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_LARGE,
                  "You must type in 0 to 7 characters"}});
  g_next = 0;
  g_answers[0] = "1234567";
  EXPECT_EQ(0, EVP_read_pw_string(area, 8, "p:", 0));
  EXPECT_STREQ("1234567", area);
  EXPECT_EQ(-1, EVP_read_pw_string(area, 0, "p:", 0));
  EXPECT_EQ(-1, EVP_read_pw_string(nullptr, 8, "p:", 0));
}

}  // namespace
