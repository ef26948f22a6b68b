// The records behind the prompt interface: the session, its records and the
// method table.  Only crypto/ui sees them; callers go through the accessors of
// morvane/ui.h.
#ifndef MORVANE_CRYPTO_UI_INTERNAL_H
#define MORVANE_CRYPTO_UI_INTERNAL_H

#include <morvane/crypto.h>
#include <morvane/ui.h>

// Session flags.
namespace morvane::ui {

constexpr int kUiFlagRedoable = 0x0001;     // the last answer was rejected for its length
constexpr int kUiFlagPrintErrors = 0x0100;  // UI_process shows the queued errors first

// Record flag: the record owns its texts (made by a UI_dup_ call).
constexpr int kOutStringFreeable = 0x0001;

}  // namespace morvane::ui

struct ui_method_st {
  char* name;
  int (*ui_open_session)(UI* ui);
  int (*ui_write_string)(UI* ui, UI_STRING* uis);
  int (*ui_flush)(UI* ui);
  int (*ui_read_string)(UI* ui, UI_STRING* uis);
  int (*ui_close_session)(UI* ui);
  char* (*ui_construct_prompt)(UI* ui, const char* object_desc, const char* object_name);
};

struct ui_string_st {
  enum UI_string_types type;
  const char* out_string;  // the prompt or text to show
  int input_flags;         // UI_INPUT_FLAG_*
  char* result_buf;        // the caller's answer buffer (prompts and booleans)
  union {
    struct {                // UIT_PROMPT, UIT_VERIFY
      int result_minsize;
      int result_maxsize;
      const char* test_buf;  // UIT_VERIFY: the text the answer must equal
    } string_data;
    struct {  // UIT_BOOLEAN
      const char* action_desc;
      const char* ok_chars;
      const char* cancel_chars;
    } boolean_data;
  } _;
  int flags;  // kOutStringFreeable
};

struct ui_st {
  const UI_METHOD* meth;
  STACK* strings;  // the records in the order added; null until the first add
  void* user_data;
  CRYPTO_EX_DATA ex_data;
  int flags;  // kUiFlag*
};

#endif  // MORVANE_CRYPTO_UI_INTERNAL_H
