// DES keys from pass phrases, read through a scripted prompt method installed
// as the default: the key equals string-to-key of the answer, a failed or
// interrupted prompt leaves the key alone and its result is passed on, and
// the old names behave the same.

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/des.h>
#include <morvane/des_old.h>
#include <morvane/ui.h>

#include "des_test_util.h"
#include "test_support.h"

namespace {

using des_test::Bytes;
using des_test::ToHex;

// The answers the scripted method gives, in order, and the prompts it saw.
// An answer "<interrupt>" makes the reader report an interruption.
std::deque<std::string> g_answers;
std::vector<std::string> g_prompts;

int ScriptedReader(UI* ui, UI_STRING* uis) {
  const enum UI_string_types type = UI_get_string_type(uis);
  if (type != UIT_PROMPT && type != UIT_VERIFY) return 1;
  g_prompts.push_back(std::string(type == UIT_VERIFY ? "verify " : "") +
                      UI_get0_output_string(uis));
  if (g_answers.empty()) return 0;
  const std::string answer = g_answers.front();
  g_answers.pop_front();
  if (answer == "<interrupt>") return -1;
  if (UI_set_result(ui, uis, answer.c_str()) != 0) return 0;
  // A verification entry must repeat the first one, as on a console.
  if (type == UIT_VERIFY && answer != UI_get0_test_string(uis)) return 0;
  return 1;
}

class DesReadPassword : public ::testing::Test {
 protected:
  void SetUp() override {
    method_ = UI_create_method("scripted");
    ASSERT_NE(method_, nullptr);
    ASSERT_EQ(UI_method_set_reader(method_, ScriptedReader), 0);
    UI_set_default_method(method_);
    g_answers.clear();
    g_prompts.clear();
  }
  void TearDown() override {
    UI_set_default_method(nullptr);
    UI_destroy_method(method_);
  }
  UI_METHOD* method_ = nullptr;
};

struct Key {
  DES_cblock b;
  Key() { std::memset(b, 0xee, 8); }
  std::string Hex() const { return ToHex(Bytes(b, b + 8)); }
};

std::string KeyOf(const char* s) {
  Key k;
  DES_string_to_key(s, &k.b);
  return k.Hex();
}

TEST_F(DesReadPassword, KeyFromTheAnswer) {
  g_answers = {"my pass phrase"};
  Key k;
  EXPECT_EQ(DES_read_password(&k.b, "Enter key:", 0), 0);
  EXPECT_EQ(k.Hex(), KeyOf("my pass phrase"));
  EXPECT_EQ(g_prompts, (std::vector<std::string>{"Enter key:"}));

  // With verification both entries are asked for.
  g_answers = {"again", "again"};
  g_prompts.clear();
  EXPECT_EQ(DES_read_password(&k.b, "Key:", 1), 0);
  EXPECT_EQ(k.Hex(), KeyOf("again"));
  EXPECT_EQ(g_prompts, (std::vector<std::string>{"Key:", "verify Key:"}));
}

TEST_F(DesReadPassword, FailureLeavesTheKeyAlone) {
  Key k;
  g_answers = {"first", "second"};  // the entries differ
  EXPECT_EQ(DES_read_password(&k.b, "Key:", 1), -1);
  EXPECT_EQ(k.Hex(), "eeeeeeeeeeeeeeee");
  g_answers = {"<interrupt>"};
  EXPECT_EQ(DES_read_password(&k.b, "Key:", 0), -2);
  EXPECT_EQ(k.Hex(), "eeeeeeeeeeeeeeee");
  g_answers = {};  // no answer at all
  EXPECT_EQ(DES_read_password(&k.b, "Key:", 0), -1);
  EXPECT_EQ(k.Hex(), "eeeeeeeeeeeeeeee");
}

// The phrase may have 1023 characters; one more is refused by the prompt.
TEST_F(DesReadPassword, LongestPassPhrase) {
  const std::string longest(1023, 'p');
  Key k;
  g_answers = {longest};
  EXPECT_EQ(DES_read_password(&k.b, "Key:", 0), 0);
  EXPECT_EQ(k.Hex(), KeyOf(longest.c_str()));
  Key k2;
  g_answers = {longest + "p"};
  EXPECT_EQ(DES_read_password(&k2.b, "Key:", 0), -1);
  EXPECT_EQ(k2.Hex(), "eeeeeeeeeeeeeeee");
}

TEST_F(DesReadPassword, TwoKeys) {
  Key want1, want2, k1, k2;
  DES_string_to_2keys("a pass phrase of some length", &want1.b, &want2.b);
  g_answers = {"a pass phrase of some length"};
  EXPECT_EQ(DES_read_2passwords(&k1.b, &k2.b, "Keys:", 0), 0);
  EXPECT_EQ(k1.Hex(), want1.Hex());
  EXPECT_EQ(k2.Hex(), want2.Hex());

  Key u1, u2;
  g_answers = {"one", "two"};
  EXPECT_EQ(DES_read_2passwords(&u1.b, &u2.b, "Keys:", 1), -1);
  EXPECT_EQ(u1.Hex(), "eeeeeeeeeeeeeeee");
  EXPECT_EQ(u2.Hex(), "eeeeeeeeeeeeeeee");
}

TEST_F(DesReadPassword, OldNames) {
  Key a, b, a1, a2, b1, b2;
  g_answers = {"old", "old"};
  EXPECT_EQ(_qarn_old_des_read_password(&a.b, "Key:", 0), 0);
  EXPECT_EQ(DES_read_password(&b.b, "Key:", 0), 0);
  EXPECT_EQ(a.Hex(), b.Hex());
  g_answers = {"old two keys", "old two keys"};
  EXPECT_EQ(_qarn_old_des_read_2passwords(&a1.b, &a2.b, "Keys:", 0), 0);
  EXPECT_EQ(DES_read_2passwords(&b1.b, &b2.b, "Keys:", 0), 0);
  EXPECT_EQ(a1.Hex(), b1.Hex());
  EXPECT_EQ(a2.Hex(), b2.Hex());
  g_answers = {"<interrupt>"};
  EXPECT_EQ(_qarn_old_des_read_password(&a.b, "Key:", 0), -2);
}

// A method that answers nothing but reports success: the key is that of the
// empty text, not one made from whatever the stack held.
TEST_F(DesReadPassword, SilentMethodGivesTheEmptyTextKey) {
  UI_METHOD* silent = UI_create_method("silent");
  ASSERT_NE(silent, nullptr);
  UI_set_default_method(silent);
  Key k, k1, k2;
  EXPECT_EQ(DES_read_password(&k.b, "Key:", 1), 0);
  EXPECT_EQ(k.Hex(), "0101010101010101");
  EXPECT_EQ(DES_read_2passwords(&k1.b, &k2.b, "Key:", 0), 0);
  EXPECT_EQ(k1.Hex(), "0101010101010101");
  EXPECT_EQ(k2.Hex(), "0101010101010101");
  UI_set_default_method(method_);
  UI_destroy_method(silent);
}

}  // namespace
