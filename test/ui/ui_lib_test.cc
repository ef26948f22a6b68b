// The prompt interface over a scripted method: records and their accessors,
// answer checking, yes/no answers, the run order of UI_process and its
// results, controls, prompt texts and the pass-phrase readers' argument checks.

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ui.h>

#include "test_support.h"

namespace {

// What the scripted method saw and what it answers.
struct Script {
  std::vector<std::string> calls;    // "open", "write:<text>", "flush", "read:<text>", "close"
  std::vector<std::string> answers;  // one per read, given to UI_set_result in order
  size_t next_answer = 0;
  int open_result = 1, write_result = 1, flush_result = 1, close_result = 1;
  int read_result = 1;  // returned after storing the answer
};

Script* ScriptOf(UI* ui) {
  return static_cast<Script*>(UI_get0_user_data(ui));
}

int Open(UI* ui) {
  ScriptOf(ui)->calls.push_back("open");
  return ScriptOf(ui)->open_result;
}
int Write(UI* ui, UI_STRING* uis) {
  ScriptOf(ui)->calls.push_back(std::string("write:") + UI_get0_output_string(uis));
  return ScriptOf(ui)->write_result;
}
int Flush(UI* ui) {
  ScriptOf(ui)->calls.push_back("flush");
  return ScriptOf(ui)->flush_result;
}
int Read(UI* ui, UI_STRING* uis) {
  Script* s = ScriptOf(ui);
  s->calls.push_back(std::string("read:") + UI_get0_output_string(uis));
  const enum UI_string_types t = UI_get_string_type(uis);
  if (t == UIT_PROMPT || t == UIT_VERIFY || t == UIT_BOOLEAN) {
    if (s->next_answer >= s->answers.size()) return 0;
    if (UI_set_result(ui, uis, s->answers[s->next_answer++].c_str()) < 0) return 0;
  }
  return s->read_result;
}
int Close(UI* ui) {
  ScriptOf(ui)->calls.push_back("close");
  return ScriptOf(ui)->close_result;
}

class ScriptedUi : public ::testing::Test {
 protected:
  void SetUp() override {
    method_ = UI_create_method("scripted");
    ASSERT_NE(method_, nullptr);
    UI_method_set_opener(method_, Open);
    UI_method_set_writer(method_, Write);
    UI_method_set_flusher(method_, Flush);
    UI_method_set_reader(method_, Read);
    UI_method_set_closer(method_, Close);
    ui_ = UI_new_method(method_);
    ASSERT_NE(ui_, nullptr);
    UI_add_user_data(ui_, &script_);
    ERR_clear_error();
  }
  void TearDown() override {
    UI_free(ui_);
    UI_destroy_method(method_);
    ERR_clear_error();
  }
  UI_STRING* Record(UI* ui, int i);

  UI_METHOD* method_ = nullptr;
  UI* ui_ = nullptr;
  Script script_;
};

// The records are only reachable through a method; a reader that stops at
// record i hands it out.
UI_STRING* caught_record = nullptr;
int caught_index = 0;
int CatchRead(UI*, UI_STRING* uis) {
  if (caught_index-- == 0) caught_record = uis;
  return 1;
}
UI_STRING* ScriptedUi::Record(UI* ui, int i) {
  UI_METHOD* m = UI_create_method("catch");
  UI_method_set_reader(m, CatchRead);
  const UI_METHOD* old = UI_get_method(ui);
  UI_set_method(ui, m);
  caught_record = nullptr;
  caught_index = i;
  EXPECT_EQ(UI_process(ui), 0);
  UI_set_method(ui, old);
  UI_destroy_method(m);
  return caught_record;
}

using morvane_test::ErrEntry;
ErrEntry UiError(int func, int reason, const char* data = nullptr) {
  return {ERR_LIB_UI, func, reason, data};
}

TEST_F(ScriptedUi, RecordsCountFromOneAndBadOnesAreRefused) {
  EXPECT_EQ(UI_get0_result(ui_, 0), nullptr);  // an empty session
  EXPECT_ERRORS({UiError(UI_F_UI_GET0_RESULT, UI_R_INDEX_TOO_LARGE)});
  char a[8], b[8], buf[8];
  EXPECT_EQ(UI_add_input_string(ui_, "p:", 0, nullptr, 0, 7), -1);
  EXPECT_EQ(UI_add_verify_string(ui_, "p:", 0, nullptr, 0, 7, buf), -1);
  EXPECT_EQ(UI_add_input_string(ui_, nullptr, 0, buf, 0, 7), -1);
  EXPECT_EQ(UI_dup_input_string(ui_, nullptr, 0, buf, 0, 7), -1);
  EXPECT_EQ(UI_dup_info_string(ui_, nullptr), -1);
  EXPECT_EQ(UI_add_input_boolean(ui_, "q?", nullptr, nullptr, "n", 0, buf), -1);
  EXPECT_EQ(UI_dup_input_boolean(ui_, "q?", nullptr, "y", nullptr, 0, buf), -1);
  EXPECT_EQ(UI_dup_input_boolean(ui_, "q?", "a", "y", "n", 0, nullptr), -1);
  EXPECT_ERRORS({UiError(UI_F_GENERAL_ALLOCATE_PROMPT, UI_R_NO_RESULT_BUFFER),
                 UiError(UI_F_GENERAL_ALLOCATE_PROMPT, UI_R_NO_RESULT_BUFFER),
                 UiError(UI_F_GENERAL_ALLOCATE_PROMPT, ERR_R_PASSED_NULL_PARAMETER),
                 UiError(UI_F_GENERAL_ALLOCATE_PROMPT, ERR_R_PASSED_NULL_PARAMETER),
                 UiError(UI_F_GENERAL_ALLOCATE_PROMPT, ERR_R_PASSED_NULL_PARAMETER),
                 UiError(UI_F_GENERAL_ALLOCATE_BOOLEAN, ERR_R_PASSED_NULL_PARAMETER),
                 UiError(UI_F_GENERAL_ALLOCATE_BOOLEAN, ERR_R_PASSED_NULL_PARAMETER),
                 UiError(UI_F_GENERAL_ALLOCATE_PROMPT, UI_R_NO_RESULT_BUFFER)});
  EXPECT_EQ(UI_add_input_string(ui_, "first:", 0, a, 0, 7), 1);
  EXPECT_EQ(UI_add_input_string(ui_, "second:", 0, b, 0, 7), 2);
  EXPECT_EQ(UI_add_info_string(ui_, "info"), 3);
  // Shared ok and cancel characters are reported, and the record added.
  EXPECT_EQ(UI_add_input_boolean(ui_, "q?", nullptr, "yYx", "nNx", 0, buf), 4);
  EXPECT_EQ(UI_get0_result(ui_, 0), a);
  EXPECT_EQ(UI_get0_result(ui_, 1), b);
  EXPECT_EQ(UI_get0_result(ui_, 2), nullptr);  // an info text has no answer
  EXPECT_ERRORS({UiError(UI_F_GENERAL_ALLOCATE_BOOLEAN, UI_R_COMMON_OK_AND_CANCEL_CHARACTERS)});
  EXPECT_EQ(UI_get0_result(ui_, 4), nullptr);
  EXPECT_EQ(UI_get0_result(ui_, -1), nullptr);
  EXPECT_ERRORS({UiError(UI_F_UI_GET0_RESULT, UI_R_INDEX_TOO_LARGE),
                 UiError(UI_F_UI_GET0_RESULT, UI_R_INDEX_TOO_SMALL)});
}

TEST_F(ScriptedUi, DupCopiesTheTexts) {
  char prompt[] = "pass:";
  char action[] = "(y/n)";
  char ok[] = "y", cancel[] = "n";
  char buf[8], yn[2];
  ASSERT_EQ(UI_dup_input_string(ui_, prompt, 0, buf, 0, 7), 1);
  ASSERT_EQ(UI_dup_input_boolean(ui_, prompt, action, ok, cancel, 0, yn), 2);
  ASSERT_EQ(UI_dup_info_string(ui_, prompt), 3);
  ASSERT_EQ(UI_dup_error_string(ui_, prompt), 4);
  ASSERT_EQ(UI_dup_verify_string(ui_, prompt, 0, buf, 0, 7, buf), 5);
  memset(prompt, 'X', 5);
  memset(action, 'X', 5);
  ok[0] = 'X';
  cancel[0] = 'X';
  UI_STRING* b = Record(ui_, 1);
  ASSERT_NE(b, nullptr);
  EXPECT_STREQ(UI_get0_output_string(b), "pass:");
  EXPECT_STREQ(UI_get0_action_string(b), "(y/n)");
  EXPECT_EQ(UI_set_result(ui_, b, "n"), 0);
  EXPECT_EQ(yn[0], 'n');  // the copied cancel characters decide
  EXPECT_STREQ(UI_get0_output_string(Record(ui_, 3)), "pass:");
}

// What each kind of record answers through the accessors.
TEST_F(ScriptedUi, RecordAccessors) {
  char buf[8], yn[2];
  ASSERT_EQ(UI_add_verify_string(ui_, "again:", UI_INPUT_FLAG_ECHO, buf, 2, 7, "abc"), 1);
  ASSERT_EQ(UI_add_input_boolean(ui_, "q?", "(y/n)", "y", "n", 0, yn), 2);
  ASSERT_EQ(UI_add_error_string(ui_, "oops"), 3);
  ASSERT_EQ(UI_add_input_string(ui_, "p:", 0, buf, 1, 5), 4);
  UI_STRING* r[4] = {Record(ui_, 0), Record(ui_, 1), Record(ui_, 2), Record(ui_, 3)};
  auto text = [](const char* t) { return std::string(t != nullptr ? t : "-"); };
  std::vector<std::string> got;
  for (UI_STRING* u : {r[0], r[1], r[2], r[3], static_cast<UI_STRING*>(nullptr)}) {
    got.push_back(std::to_string(UI_get_string_type(u)) + " " +
                  std::to_string(UI_get_input_flags(u)) + " " + text(UI_get0_output_string(u)) +
                  " " + text(UI_get0_action_string(u)) + " " +
                  (UI_get0_result_string(u) == buf ? "buf" : text(UI_get0_result_string(u))) + " " +
                  text(UI_get0_test_string(u)) + " " + std::to_string(UI_get_result_minsize(u)) +
                  " " + std::to_string(UI_get_result_maxsize(u)));
  }
  EXPECT_EQ(got, (std::vector<std::string>{std::to_string(UIT_VERIFY) + " 1 again: - buf abc 2 7",
                                           std::to_string(UIT_BOOLEAN) + " 0 q? (y/n) - - -1 -1",
                                           std::to_string(UIT_ERROR) + " 0 oops - - - -1 -1",
                                           std::to_string(UIT_PROMPT) + " 0 p: - buf - 1 5",
                                           std::to_string(UIT_NONE) + " 0 - - - - -1 -1"}));
  // Extra data of a session.
  const int idx = UI_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
  int value = 5;
  EXPECT_EQ(UI_set_ex_data(ui_, idx, &value), 1);
  EXPECT_EQ(UI_get_ex_data(ui_, idx), &value);
}

TEST_F(ScriptedUi, AnswerLengthIsChecked) {
  char buf[1024];
  ASSERT_EQ(UI_add_input_string(ui_, "p:", 0, buf, 4, 8), 1);
  ASSERT_EQ(UI_add_input_string(ui_, "q:", 0, buf, 4, 1023), 2);
  UI_STRING* p = Record(ui_, 0);
  EXPECT_EQ(UI_set_result(ui_, p, "abc"), -1);
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_IS_REDOABLE, 0, nullptr, nullptr), 1);
  EXPECT_EQ(UI_set_result(ui_, p, "123456789"), -1);
  EXPECT_EQ(UI_set_result(ui_, Record(ui_, 1), ""), -1);
  EXPECT_ERRORS(
      {UiError(UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_SMALL, "You must type in 4 to 8 characters"),
       UiError(UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_LARGE, "You must type in 4 to 8 characters"),
       UiError(UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_SMALL,
               "You must type in 4 to 1023 characters")});
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_IS_REDOABLE, 0, nullptr, nullptr), 1);
  EXPECT_EQ(UI_set_result(ui_, p, "12345678"), 0);  // both limits are inclusive
  EXPECT_STREQ(buf, "12345678");
  EXPECT_EQ(UI_set_result(ui_, p, "1234"), 0);
  EXPECT_STREQ(buf, "1234");
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_IS_REDOABLE, 0, nullptr, nullptr), 0);
  EXPECT_EQ(UI_set_result(ui_, nullptr, "x"), -1);
  ERR_clear_error();
}

TEST_F(ScriptedUi, BooleanAnswers) {
  char yn[2] = {'?', 0};
  ASSERT_EQ(UI_add_input_boolean(ui_, "q?", nullptr, "yY", "nN", 0, yn), 1);
  UI_STRING* q = Record(ui_, 0);
  struct {
    const char* answer;
    char stored;
  } const cases[] = {
      {"no", 'n'}, {"NO", 'n'}, {"maybe", 'y'}, {"Yes", 'y'}, {"abc", 0}, {"", 0}, {"y\n", 'y'},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(UI_set_result(ui_, q, c.answer), 0) << c.answer;
    EXPECT_EQ(yn[0], c.stored) << c.answer;
  }
}

// Every step in order: open, all writes, flush, all reads, close.
TEST_F(ScriptedUi, ProcessRunsEveryStepInOrder) {
  char a[8], b[8];
  UI_add_info_string(ui_, "hello");
  UI_add_input_string(ui_, "first:", 0, a, 0, 7);
  UI_add_verify_string(ui_, "second:", 0, b, 0, 7, a);
  script_.answers = {"one", "two"};
  EXPECT_EQ(UI_process(ui_), 0);
  EXPECT_EQ(script_.calls, (std::vector<std::string>{"open", "write:hello", "write:first:",
                                                     "write:second:", "flush", "read:hello",
                                                     "read:first:", "read:second:", "close"}));
  EXPECT_STREQ(a, "one");
  EXPECT_STREQ(b, "two");
}

TEST_F(ScriptedUi, ProcessResults) {
  char a[8];
  UI_add_input_string(ui_, "p:", 0, a, 0, 7);
  struct {
    int open, write, flush, read, close;
    int want;
    const char* last_before_close;
  } const cases[] = {
      {0, 1, 1, 1, 1, -1, nullptr},  // a failed open ends at once, without close
      {1, 0, 1, 1, 1, -1, "write:p:"},
      {1, 1, 0, 1, 1, -1, "flush"},
      {1, 1, -1, 1, 1, -2, "flush"},
      {1, 1, 1, 0, 1, -1, "read:p:"},
      {1, 1, 1, -1, 1, -2, "read:p:"},
      {1, 1, 1, 7, 1, 0, "read:p:"},   // any other reader result is success
      {1, 1, 1, 1, 0, -1, "read:p:"},  // a failed close fails the run
      {1, 1, 1, -1, 0, -1, "read:p:"},
  };
  for (const auto& c : cases) {
    script_ = Script{};
    script_.answers = {"x"};
    script_.open_result = c.open;
    script_.write_result = c.write;
    script_.flush_result = c.flush;
    script_.read_result = c.read;
    script_.close_result = c.close;
    EXPECT_EQ(UI_process(ui_), c.want);
    if (c.last_before_close == nullptr) {
      EXPECT_EQ(script_.calls, std::vector<std::string>{"open"});
    } else {
      ASSERT_GE(script_.calls.size(), 2u);
      EXPECT_EQ(script_.calls.back(), "close");
      EXPECT_EQ(script_.calls[script_.calls.size() - 2], c.last_before_close);
    }
  }
}

TEST_F(ScriptedUi, PrintErrorsShowsTheQueuedErrorsFirst) {
  UI_add_info_string(ui_, "hello");
  auto queue_two = [] {
    ERR_put_error(ERR_LIB_UI, UI_F_UI_CTRL, UI_R_UNKNOWN_CONTROL_COMMAND, "a.cc", 7);
    ERR_put_error(ERR_LIB_UI, UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_LARGE, "b.cc", 9);
  };
  queue_two();
  UI_ctrl(ui_, UI_CTRL_PRINT_ERRORS, 1, nullptr, nullptr);
  EXPECT_EQ(UI_process(ui_), 0);
  const std::string id = std::to_string(CRYPTO_thread_id());
  EXPECT_EQ(script_.calls,
            (std::vector<std::string>{
                "open", "write:" + id + ":error:2806F06A:lib(40):func(111):reason(106):a.cc:7:\n",
                "write:" + id + ":error:28069064:lib(40):func(105):reason(100):b.cc:9:\n",
                "write:hello", "flush", "read:hello", "close"}));
  EXPECT_ERRORS({});  // the errors were taken off the queue
  // A failed error line stops the printing: the rest stays queued.
  queue_two();
  script_ = Script{};
  script_.write_result = 0;
  EXPECT_EQ(UI_process(ui_), -1);
  ASSERT_EQ(script_.calls.size(), 4u);
  EXPECT_NE(script_.calls[1].find("a.cc:7"), std::string::npos);
  EXPECT_EQ(script_.calls[2], "write:hello");
  EXPECT_ERRORS({UiError(UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_LARGE)});
}

// A method with empty slots skips them; a session can run again.
TEST_F(ScriptedUi, EmptySlotsAreSkippedAndSessionsRunAgain) {
  UI_METHOD* bare = UI_create_method("bare");
  UI* ui = UI_new_method(bare);
  char a[8];
  UI_add_input_string(ui, "p:", 0, a, 0, 7);
  EXPECT_EQ(UI_process(ui), 0);
  UI_free(ui);
  UI_destroy_method(bare);
  UI_add_input_string(ui_, "p:", 0, a, 0, 7);
  script_.answers = {"one", "two"};
  EXPECT_EQ(UI_process(ui_), 0);
  EXPECT_STREQ(a, "one");
  EXPECT_EQ(UI_process(ui_), 0);
  EXPECT_STREQ(a, "two");
}

TEST_F(ScriptedUi, Controls) {
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_PRINT_ERRORS, 1, nullptr, nullptr), 0);
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_PRINT_ERRORS, 1, nullptr, nullptr), 1);
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_PRINT_ERRORS, 0, nullptr, nullptr), 1);
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_PRINT_ERRORS, 0, nullptr, nullptr), 0);
  EXPECT_EQ(UI_ctrl(ui_, UI_CTRL_IS_REDOABLE, 0, nullptr, nullptr), 0);
  EXPECT_EQ(UI_ctrl(ui_, 99, 0, nullptr, nullptr), -1);
  EXPECT_EQ(UI_ctrl(nullptr, UI_CTRL_IS_REDOABLE, 0, nullptr, nullptr), -1);
  EXPECT_ERRORS({UiError(UI_F_UI_CTRL, UI_R_UNKNOWN_CONTROL_COMMAND),
                 UiError(UI_F_UI_CTRL, ERR_R_PASSED_NULL_PARAMETER)});
}

TEST_F(ScriptedUi, ConstructPrompt) {
  char* p = UI_construct_prompt(ui_, "pass phrase", "key.pem");
  EXPECT_STREQ(p, "Enter pass phrase for key.pem:");
  MORVANE_free(p);
  p = UI_construct_prompt(ui_, "pass phrase", nullptr);
  EXPECT_STREQ(p, "Enter pass phrase:");
  MORVANE_free(p);
  EXPECT_EQ(UI_construct_prompt(ui_, nullptr, "key.pem"), nullptr);
}

TEST(UiMethod, SlotsAndTheDefault) {
  EXPECT_EQ(UI_method_set_opener(nullptr, Open), -1);
  EXPECT_EQ(UI_method_set_writer(nullptr, Write), -1);
  EXPECT_EQ(UI_method_set_flusher(nullptr, Flush), -1);
  EXPECT_EQ(UI_method_set_reader(nullptr, Read), -1);
  EXPECT_EQ(UI_method_set_closer(nullptr, Close), -1);
  UI_METHOD* slots = UI_create_method("slots");
  for (const UI_METHOD* m :
       {static_cast<const UI_METHOD*>(slots), static_cast<const UI_METHOD*>(nullptr)}) {
    EXPECT_EQ(UI_method_get_opener(m), nullptr);
    EXPECT_EQ(UI_method_get_writer(m), nullptr);
    EXPECT_EQ(UI_method_get_flusher(m), nullptr);
    EXPECT_EQ(UI_method_get_reader(m), nullptr);
    EXPECT_EQ(UI_method_get_closer(m), nullptr);
  }
  UI_method_set_writer(slots, Write);
  UI_method_set_flusher(slots, Flush);
  UI_method_set_reader(slots, Read);
  UI_method_set_closer(slots, Close);
  EXPECT_EQ(UI_method_get_writer(slots), Write);
  EXPECT_EQ(UI_method_get_flusher(slots), Flush);
  EXPECT_EQ(UI_method_get_reader(slots), Read);
  EXPECT_EQ(UI_method_get_closer(slots), Close);
  UI_destroy_method(slots);
  EXPECT_EQ(UI_get_default_method(), UI_Morvane());
  UI* ui = UI_new();
  EXPECT_EQ(UI_get_method(ui), UI_Morvane());
  UI_METHOD* m = UI_create_method("mine");
  UI_set_default_method(m);
  UI* ui2 = UI_new();
  EXPECT_EQ(UI_get_method(ui2), m);
  UI_free(ui);
  UI_free(ui2);
  UI_set_default_method(UI_Morvane());
  UI_destroy_method(m);
}

TEST(UiReadPw, SizeBelowOneFailsWithoutPrompting) {
  // The default method is a scripted one that records any use.
  static int opened = 0;
  UI_METHOD* m = UI_create_method("count");
  UI_method_set_opener(m, [](UI*) {
    opened++;
    return 0;
  });
  UI_set_default_method(m);
  char buf[4], buff[4];
  EXPECT_EQ(UI_UTIL_read_pw(buf, buff, 0, "p:", 1), -1);
  EXPECT_EQ(_qarn_old_des_read_pw(buf, buff, -3, "p:", 0), -1);
  EXPECT_EQ(UI_UTIL_read_pw_string(buf, 0, "p:", 0), -1);
  EXPECT_EQ(opened, 0);
  EXPECT_EQ(UI_UTIL_read_pw(buf, buff, 4, "p:", 0), -1);  // the opener refuses
  EXPECT_EQ(opened, 1);
  UI_set_default_method(nullptr);
  UI_destroy_method(m);
}

// A reader that answers every prompt from a table, over the default method.
const char* pw_answers[2];
int pw_next = 0;
int PwRead(UI* ui, UI_STRING* uis) {
  return UI_set_result(ui, uis, pw_answers[pw_next++]) == 0 ? 1 : 0;
}

TEST(UiReadPw, ReadsAndVerifies) {
  UI_METHOD* m = UI_create_method("pw");
  UI_method_set_reader(m, PwRead);
  UI_set_default_method(m);
  char buf[16], buff[16];
  pw_answers[0] = "secret";
  pw_answers[1] = "secret";
  pw_next = 0;
  EXPECT_EQ(UI_UTIL_read_pw(buf, buff, sizeof(buf), "p:", 1), 0);
  EXPECT_STREQ(buf, "secret");
  EXPECT_EQ(pw_next, 2);
  pw_next = 0;
  EXPECT_EQ(UI_UTIL_read_pw_string(buf, sizeof(buf), "p:", 0), 0);
  EXPECT_EQ(pw_next, 1);
  pw_answers[0] = "0123456789abcdef";  // 16 characters: one too many for size 16
  pw_next = 0;
  EXPECT_EQ(_qarn_old_des_read_pw_string(buf, sizeof(buf), "p:", 0), -1);
  EXPECT_ERRORS({UiError(UI_F_UI_SET_RESULT, UI_R_RESULT_TOO_LARGE)});
  UI_set_default_method(nullptr);
  UI_destroy_method(m);
}

}  // namespace
