// The prompt interface: sessions, their records, answers and UI_process.
//
// Implementation notes: a record made by a UI_dup_ call owns its texts
// (kOutStringFreeable); the copies are made before the record, so a failed
// add frees them here and never leaves a half-owned record behind.

#include <stdio.h>
#include <string.h>

#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/stack.h>
#include <morvane/ui.h>

#include "ui/internal.h"

using namespace morvane::ui;

namespace {

// The default method; the console method is installed on first use.
constinit const UI_METHOD* default_ui_method = nullptr;

void free_string(UI_STRING* uis) {
  if (uis->flags & kOutStringFreeable) {
    MORVANE_free(const_cast<char*>(uis->out_string));
    if (uis->type == UIT_BOOLEAN) {
      MORVANE_free(const_cast<char*>(uis->_.boolean_data.action_desc));
      MORVANE_free(const_cast<char*>(uis->_.boolean_data.ok_chars));
      MORVANE_free(const_cast<char*>(uis->_.boolean_data.cancel_chars));
    }
  }
  MORVANE_free(uis);
}

void free_string_cb(void* p) { free_string(static_cast<UI_STRING*>(p)); }

// Makes a record after checking the prompt and the result buffer.  The record
// owns nothing yet: its flags are 0 until the caller sets them.
UI_STRING* general_allocate_prompt(const char* prompt, enum UI_string_types type,
                                   int input_flags, char* result_buf) {
  if (prompt == nullptr) {
    UIerr(UI_F_GENERAL_ALLOCATE_PROMPT, ERR_R_PASSED_NULL_PARAMETER);
    return nullptr;
  }
  if ((type == UIT_PROMPT || type == UIT_VERIFY || type == UIT_BOOLEAN) &&
      result_buf == nullptr) {
    UIerr(UI_F_GENERAL_ALLOCATE_PROMPT, UI_R_NO_RESULT_BUFFER);
    return nullptr;
  }
  auto* uis = static_cast<UI_STRING*>(MORVANE_malloc(sizeof(UI_STRING)));
  if (uis == nullptr) {
    UIerr(UI_F_GENERAL_ALLOCATE_PROMPT, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(uis, 0, sizeof(*uis));
  uis->type = type;
  uis->out_string = prompt;
  uis->input_flags = input_flags;
  uis->result_buf = result_buf;
  return uis;
}

// Appends `uis` to the session; frees it (with what it owns) on failure.
int append(UI* ui, UI_STRING* uis) {
  if (ui->strings == nullptr) ui->strings = sk_new_null();
  if (ui->strings == nullptr || sk_push(ui->strings, reinterpret_cast<char*>(uis)) <= 0) {
    free_string(uis);
    return -1;
  }
  return sk_num(ui->strings);
}

// Adds a prompt, verification prompt, information or error text.  With
// `owned`, the record takes `prompt` (a copy), also when the add fails.
int general_allocate_string(UI* ui, const char* prompt, bool owned, enum UI_string_types type,
                            int input_flags, char* result_buf, int minsize, int maxsize,
                            const char* test_buf) {
  // The answer must fit maxsize characters and be at least minsize long.
  if (maxsize < 0 || minsize > maxsize) {
    UIerr(UI_F_GENERAL_ALLOCATE_STRING, UI_R_INVALID_RESULT_SIZE);
    if (owned) MORVANE_free(const_cast<char*>(prompt));
    return -1;
  }
  UI_STRING* uis = general_allocate_prompt(prompt, type, input_flags, result_buf);
  if (uis == nullptr) {
    if (owned) MORVANE_free(const_cast<char*>(prompt));
    return -1;
  }
  if (owned) uis->flags = kOutStringFreeable;
  uis->_.string_data.result_minsize = minsize;
  uis->_.string_data.result_maxsize = maxsize;
  uis->_.string_data.test_buf = test_buf;
  return append(ui, uis);
}

struct BooleanTexts {
  const char* prompt;
  const char* action_desc;
  const char* ok_chars;
  const char* cancel_chars;
  void release() const {
    MORVANE_free(const_cast<char*>(prompt));
    MORVANE_free(const_cast<char*>(action_desc));
    MORVANE_free(const_cast<char*>(ok_chars));
    MORVANE_free(const_cast<char*>(cancel_chars));
  }
};

int general_allocate_boolean(UI* ui, const BooleanTexts& t, bool owned, int input_flags,
                             char* result_buf) {
  UI_STRING* uis = nullptr;
  if (t.ok_chars == nullptr || t.cancel_chars == nullptr) {
    UIerr(UI_F_GENERAL_ALLOCATE_BOOLEAN, ERR_R_PASSED_NULL_PARAMETER);
  } else {
    for (const char* p = t.ok_chars; *p != '\0'; p++)
      if (strchr(t.cancel_chars, *p) != nullptr)
        UIerr(UI_F_GENERAL_ALLOCATE_BOOLEAN, UI_R_COMMON_OK_AND_CANCEL_CHARACTERS);
    uis = general_allocate_prompt(t.prompt, UIT_BOOLEAN, input_flags, result_buf);
  }
  if (uis == nullptr) {
    if (owned) t.release();
    return -1;
  }
  if (owned) uis->flags = kOutStringFreeable;
  uis->_.boolean_data.action_desc = t.action_desc;
  uis->_.boolean_data.ok_chars = t.ok_chars;
  uis->_.boolean_data.cancel_chars = t.cancel_chars;
  return append(ui, uis);
}

// A copy of `text` for a UI_dup_ call: null stays null; a failed copy queues
// "malloc failure" under `func` and sets `failed`.
char* dup_text(const char* text, int func, bool* failed) {
  if (text == nullptr) return nullptr;
  char* copy = BUF_strdup(text);
  if (copy == nullptr) {
    UIerr(func, ERR_R_MALLOC_FAILURE);
    *failed = true;
  }
  return copy;
}

int dup_string(UI* ui, const char* text, int func, enum UI_string_types type, int flags,
               char* result_buf, int minsize, int maxsize, const char* test_buf) {
  bool failed = false;
  char* copy = dup_text(text, func, &failed);
  if (failed) return -1;
  // A null text has no copy to own: the add reports it and frees nothing.
  return general_allocate_string(ui, copy != nullptr ? copy : text, copy != nullptr, type,
                                 flags, result_buf, minsize, maxsize, test_buf);
}

// One error line of the thread's queue, shown as an error record.
int print_error(const char* str, size_t /*len*/, void* u) {
  UI* ui = static_cast<UI*>(u);
  if (ui->meth->ui_write_string == nullptr) return 1;
  UI_STRING uis;
  memset(&uis, 0, sizeof(uis));
  uis.type = UIT_ERROR;
  uis.out_string = str;
  return ui->meth->ui_write_string(ui, &uis) != 0 ? 1 : 0;
}

// Shows every record, flushes and reads every answer: 0, -1 on failure, -2
// when interrupted.  The first failing step ends the run.
int run_records(UI* ui) {
  const UI_METHOD* m = ui->meth;
  const int n = sk_num(ui->strings);
  auto record = [ui](int i) { return reinterpret_cast<UI_STRING*>(sk_value(ui->strings, i)); };
  if (m->ui_write_string != nullptr)
    for (int i = 0; i < n; i++)
      if (m->ui_write_string(ui, record(i)) == 0) return -1;
  if (m->ui_flush != nullptr) {
    const int r = m->ui_flush(ui);
    if (r == -1) return -2;
    if (r == 0) return -1;
  }
  if (m->ui_read_string != nullptr)
    for (int i = 0; i < n; i++) {
      const int r = m->ui_read_string(ui, record(i));
      if (r == -1) return -2;
      if (r == 0) return -1;
    }
  return 0;
}

}  // namespace

/* ---- sessions and methods ------------------------------------------------ */

/* see morvane/ui.h */
UI* UI_new(void) { return UI_new_method(nullptr); }

UI* UI_new_method(const UI_METHOD* method) {
  auto* ui = static_cast<UI*>(MORVANE_malloc(sizeof(UI)));
  if (ui == nullptr) {
    UIerr(UI_F_UI_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    return nullptr;
  }
  memset(ui, 0, sizeof(*ui));
  ui->meth = method != nullptr ? method : UI_get_default_method();
  if (!CRYPTO_new_ex_data(CRYPTO_EX_INDEX_UI, ui, &ui->ex_data)) {
    UIerr(UI_F_UI_NEW_METHOD, ERR_R_MALLOC_FAILURE);
    MORVANE_free(ui);
    return nullptr;
  }
  return ui;
}

void UI_free(UI* ui) {
  if (ui == nullptr) return;
  sk_pop_free(ui->strings, free_string_cb);
  CRYPTO_free_ex_data(CRYPTO_EX_INDEX_UI, ui, &ui->ex_data);
  MORVANE_free(ui);
}

void UI_set_default_method(const UI_METHOD* meth) { default_ui_method = meth; }

const UI_METHOD* UI_get_default_method(void) {
  if (default_ui_method == nullptr) default_ui_method = UI_Morvane();
  return default_ui_method;
}

const UI_METHOD* UI_get_method(UI* ui) { return ui->meth; }

const UI_METHOD* UI_set_method(UI* ui, const UI_METHOD* meth) {
  ui->meth = meth;
  return ui->meth;
}

UI_METHOD* UI_create_method(const char* name) {
  auto* m = static_cast<UI_METHOD*>(MORVANE_malloc(sizeof(UI_METHOD)));
  if (m == nullptr) return nullptr;
  memset(m, 0, sizeof(*m));
  m->name = BUF_strdup(name);
  if (name != nullptr && m->name == nullptr) {
    MORVANE_free(m);
    return nullptr;
  }
  return m;
}

void UI_destroy_method(UI_METHOD* ui_method) {
  if (ui_method == nullptr) return;
  MORVANE_free(ui_method->name);
  MORVANE_free(ui_method);
}

int UI_method_set_opener(UI_METHOD* method, int (*opener)(UI* ui)) {
  if (method == nullptr) return -1;
  method->ui_open_session = opener;
  return 0;
}

int UI_method_set_writer(UI_METHOD* method, int (*writer)(UI* ui, UI_STRING* uis)) {
  if (method == nullptr) return -1;
  method->ui_write_string = writer;
  return 0;
}

int UI_method_set_flusher(UI_METHOD* method, int (*flusher)(UI* ui)) {
  if (method == nullptr) return -1;
  method->ui_flush = flusher;
  return 0;
}

int UI_method_set_reader(UI_METHOD* method, int (*reader)(UI* ui, UI_STRING* uis)) {
  if (method == nullptr) return -1;
  method->ui_read_string = reader;
  return 0;
}

int UI_method_set_closer(UI_METHOD* method, int (*closer)(UI* ui)) {
  if (method == nullptr) return -1;
  method->ui_close_session = closer;
  return 0;
}

int (*UI_method_get_opener(const UI_METHOD* method))(UI*) {
  return method != nullptr ? method->ui_open_session : nullptr;
}

int (*UI_method_get_writer(const UI_METHOD* method))(UI*, UI_STRING*) {
  return method != nullptr ? method->ui_write_string : nullptr;
}

int (*UI_method_get_flusher(const UI_METHOD* method))(UI*) {
  return method != nullptr ? method->ui_flush : nullptr;
}

int (*UI_method_get_reader(const UI_METHOD* method))(UI*, UI_STRING*) {
  return method != nullptr ? method->ui_read_string : nullptr;
}

int (*UI_method_get_closer(const UI_METHOD* method))(UI*) {
  return method != nullptr ? method->ui_close_session : nullptr;
}

void* UI_add_user_data(UI* ui, void* user_data) {
  void* old = ui->user_data;
  ui->user_data = user_data;
  return old;
}

void* UI_get0_user_data(UI* ui) { return ui->user_data; }

int UI_get_ex_new_index(long argl, void* argp, CRYPTO_EX_new* new_func,
                        CRYPTO_EX_dup* dup_func, CRYPTO_EX_free* free_func) {
  return CRYPTO_get_ex_new_index(CRYPTO_EX_INDEX_UI, argl, argp, new_func, dup_func,
                                 free_func);
}

int UI_set_ex_data(UI* r, int idx, void* arg) { return CRYPTO_set_ex_data(&r->ex_data, idx, arg); }

void* UI_get_ex_data(UI* r, int idx) { return CRYPTO_get_ex_data(&r->ex_data, idx); }

int UI_ctrl(UI* ui, int cmd, long i, void* /*p*/, void (* /*f*/)(void)) {
  if (ui == nullptr) {
    UIerr(UI_F_UI_CTRL, ERR_R_PASSED_NULL_PARAMETER);
    return -1;
  }
  switch (cmd) {
    case UI_CTRL_PRINT_ERRORS: {
      const int was_set = (ui->flags & kUiFlagPrintErrors) != 0;
      if (i != 0)
        ui->flags |= kUiFlagPrintErrors;
      else
        ui->flags &= ~kUiFlagPrintErrors;
      return was_set;
    }
    case UI_CTRL_IS_REDOABLE:
      return (ui->flags & kUiFlagRedoable) != 0;
    default:
      UIerr(UI_F_UI_CTRL, UI_R_UNKNOWN_CONTROL_COMMAND);
      return -1;
  }
}

/* ---- adding records ------------------------------------------------------ */

int UI_add_input_string(UI* ui, const char* prompt, int flags, char* result_buf, int minsize,
                        int maxsize) {
  return general_allocate_string(ui, prompt, false, UIT_PROMPT, flags, result_buf, minsize,
                                 maxsize, nullptr);
}

int UI_dup_input_string(UI* ui, const char* prompt, int flags, char* result_buf, int minsize,
                        int maxsize) {
  return dup_string(ui, prompt, UI_F_UI_DUP_INPUT_STRING, UIT_PROMPT, flags, result_buf,
                    minsize, maxsize, nullptr);
}

int UI_add_verify_string(UI* ui, const char* prompt, int flags, char* result_buf, int minsize,
                         int maxsize, const char* test_buf) {
  return general_allocate_string(ui, prompt, false, UIT_VERIFY, flags, result_buf, minsize,
                                 maxsize, test_buf);
}

int UI_dup_verify_string(UI* ui, const char* prompt, int flags, char* result_buf, int minsize,
                         int maxsize, const char* test_buf) {
  return dup_string(ui, prompt, UI_F_UI_DUP_VERIFY_STRING, UIT_VERIFY, flags, result_buf,
                    minsize, maxsize, test_buf);
}

int UI_add_input_boolean(UI* ui, const char* prompt, const char* action_desc,
                         const char* ok_chars, const char* cancel_chars, int flags,
                         char* result_buf) {
  return general_allocate_boolean(ui, {prompt, action_desc, ok_chars, cancel_chars}, false,
                                  flags, result_buf);
}

int UI_dup_input_boolean(UI* ui, const char* prompt, const char* action_desc,
                         const char* ok_chars, const char* cancel_chars, int flags,
                         char* result_buf) {
  bool failed = false;
  const int f = UI_F_UI_DUP_INPUT_BOOLEAN;
  BooleanTexts copies{};
  copies.prompt = dup_text(prompt, f, &failed);
  if (!failed) copies.action_desc = dup_text(action_desc, f, &failed);
  if (!failed) copies.ok_chars = dup_text(ok_chars, f, &failed);
  if (!failed) copies.cancel_chars = dup_text(cancel_chars, f, &failed);
  if (failed) {
    copies.release();
    return -1;
  }
  return general_allocate_boolean(ui, copies, true, flags, result_buf);
}

int UI_add_info_string(UI* ui, const char* text) {
  return general_allocate_string(ui, text, false, UIT_INFO, 0, nullptr, 0, 0, nullptr);
}

int UI_dup_info_string(UI* ui, const char* text) {
  return dup_string(ui, text, UI_F_UI_DUP_INFO_STRING, UIT_INFO, 0, nullptr, 0, 0, nullptr);
}

int UI_add_error_string(UI* ui, const char* text) {
  return general_allocate_string(ui, text, false, UIT_ERROR, 0, nullptr, 0, 0, nullptr);
}

int UI_dup_error_string(UI* ui, const char* text) {
  return dup_string(ui, text, UI_F_UI_DUP_ERROR_STRING, UIT_ERROR, 0, nullptr, 0, 0, nullptr);
}

/* ---- reading records ----------------------------------------------------- */

enum UI_string_types UI_get_string_type(UI_STRING* uis) {
  return uis != nullptr ? uis->type : UIT_NONE;
}

int UI_get_input_flags(UI_STRING* uis) { return uis != nullptr ? uis->input_flags : 0; }

const char* UI_get0_output_string(UI_STRING* uis) {
  return uis != nullptr ? uis->out_string : nullptr;
}

const char* UI_get0_action_string(UI_STRING* uis) {
  if (uis == nullptr || uis->type != UIT_BOOLEAN) return nullptr;
  return uis->_.boolean_data.action_desc;
}

const char* UI_get0_result_string(UI_STRING* uis) {
  if (uis == nullptr || (uis->type != UIT_PROMPT && uis->type != UIT_VERIFY)) return nullptr;
  return uis->result_buf;
}

const char* UI_get0_test_string(UI_STRING* uis) {
  if (uis == nullptr || uis->type != UIT_VERIFY) return nullptr;
  return uis->_.string_data.test_buf;
}

int UI_get_result_minsize(UI_STRING* uis) {
  if (uis == nullptr || (uis->type != UIT_PROMPT && uis->type != UIT_VERIFY)) return -1;
  return uis->_.string_data.result_minsize;
}

int UI_get_result_maxsize(UI_STRING* uis) {
  if (uis == nullptr || (uis->type != UIT_PROMPT && uis->type != UIT_VERIFY)) return -1;
  return uis->_.string_data.result_maxsize;
}

const char* UI_get0_result(UI* ui, int i) {
  if (i < 0) {
    UIerr(UI_F_UI_GET0_RESULT, UI_R_INDEX_TOO_SMALL);
    return nullptr;
  }
  if (i >= sk_num(ui->strings)) {
    UIerr(UI_F_UI_GET0_RESULT, UI_R_INDEX_TOO_LARGE);
    return nullptr;
  }
  return UI_get0_result_string(reinterpret_cast<UI_STRING*>(sk_value(ui->strings, i)));
}

int UI_set_result(UI* ui, UI_STRING* uis, const char* result) {
  ui->flags &= ~kUiFlagRedoable;
  if (uis == nullptr) return -1;
  switch (uis->type) {
    case UIT_PROMPT:
    case UIT_VERIFY: {
      const int minsize = uis->_.string_data.result_minsize;
      const int maxsize = uis->_.string_data.result_maxsize;
      const size_t l = strlen(result);
      const bool too_small = minsize > 0 && l < static_cast<size_t>(minsize);
      const bool too_large = maxsize < 0 || l > static_cast<size_t>(maxsize);
      if (too_small || too_large) {
        ui->flags |= kUiFlagRedoable;
        UIerr(UI_F_UI_SET_RESULT, too_small ? UI_R_RESULT_TOO_SMALL : UI_R_RESULT_TOO_LARGE);
        char lo[16], hi[16];
        snprintf(lo, sizeof(lo), "%d", minsize);
        snprintf(hi, sizeof(hi), "%d", maxsize);
        ERR_add_error_data(5, "You must type in ", lo, " to ", hi, " characters");
        return -1;
      }
      if (uis->result_buf == nullptr) {
        UIerr(UI_F_UI_SET_RESULT, UI_R_NO_RESULT_BUFFER);
        return -1;
      }
      BUF_strlcpy(uis->result_buf, result, static_cast<size_t>(maxsize) + 1);
      return 0;
    }
    case UIT_BOOLEAN: {
      if (uis->result_buf == nullptr) {
        UIerr(UI_F_UI_SET_RESULT, UI_R_NO_RESULT_BUFFER);
        return -1;
      }
      const char* ok = uis->_.boolean_data.ok_chars;
      const char* cancel = uis->_.boolean_data.cancel_chars;
      uis->result_buf[0] = '\0';
      for (const char* p = result; *p != '\0'; p++) {
        if (strchr(ok, *p) != nullptr) {
          uis->result_buf[0] = ok[0];
          break;
        }
        if (strchr(cancel, *p) != nullptr) {
          uis->result_buf[0] = cancel[0];
          break;
        }
      }
      return 0;
    }
    default:
      return 0;
  }
}

/* ---- running ------------------------------------------------------------- */

int UI_process(UI* ui) {
  const UI_METHOD* m = ui->meth;
  if (m->ui_open_session != nullptr && m->ui_open_session(ui) == 0) return -1;
  if (ui->flags & kUiFlagPrintErrors) ERR_print_errors_cb(print_error, ui);
  const int outcome = run_records(ui);
  if (m->ui_close_session != nullptr && m->ui_close_session(ui) == 0) return -1;
  return outcome;
}

char* UI_construct_prompt(UI* ui, const char* object_desc, const char* object_name) {
  if (ui->meth->ui_construct_prompt != nullptr)
    return ui->meth->ui_construct_prompt(ui, object_desc, object_name);
  if (object_desc == nullptr) return nullptr;
  static constexpr char kEnter[] = "Enter ";
  static constexpr char kFor[] = " for ";
  size_t len = sizeof(kEnter) - 1 + strlen(object_desc) + 1 /* ":" */;
  if (object_name != nullptr) len += sizeof(kFor) - 1 + strlen(object_name);
  auto* prompt = static_cast<char*>(MORVANE_malloc(len + 1));
  if (prompt == nullptr) return nullptr;
  BUF_strlcpy(prompt, kEnter, len + 1);
  BUF_strlcat(prompt, object_desc, len + 1);
  if (object_name != nullptr) {
    BUF_strlcat(prompt, kFor, len + 1);
    BUF_strlcat(prompt, object_name, len + 1);
  }
  BUF_strlcat(prompt, ":", len + 1);
  return prompt;
}
