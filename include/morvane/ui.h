/* Morvane: prompts for pass phrases and yes/no answers.
 *
 * A caller builds a UI session, adds records to it (input prompts,
 * verification prompts that must match an earlier answer, yes/no questions,
 * information and error texts) and runs it with UI_process.  A method table
 * (UI_METHOD) does the talking: it opens a session, shows every record, flushes,
 * reads the answer of every record and closes; the console method of UI_Morvane
 * is the default.  Answers are written into buffers the caller passes with
 * each prompt and are checked against the prompt's length limits.
 *
 * Records made by the UI_add_ calls borrow their texts and buffers for the
 * life of the session; the UI_dup_ calls copy the texts.  The add calls return
 * the number of records after the add (the new record's position counted
 * from 1), or -1 after queuing an error (library 40).  Sessions, methods and the
 * default method pointer are not locked: one thread uses a session at a time,
 * and the default method is chosen at start-up.  The console method serialises
 * whole console sessions with static lock 31 ("ui").
 *
 * Null arguments: UI_free accepts null; sessions, prompts and result buffers
 * must otherwise be valid (result buffers for the sizes given). */
#ifndef MORVANE_UI_H
#define MORVANE_UI_H

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* One record of a session; read it through the UI_get_ accessors below. */
typedef struct ui_string_st UI_STRING;

enum UI_string_types {
  UIT_NONE = 0,
  UIT_PROMPT,  /* read an answer */
  UIT_VERIFY,  /* read an answer that must equal a given text */
  UIT_BOOLEAN, /* yes/no question */
  UIT_INFO,    /* text to show */
  UIT_ERROR    /* error text to show */
};

/* Input flag of a prompt: the answer may be shown while it is typed. */
#define UI_INPUT_FLAG_ECHO 0x01

/* UI_ctrl commands.  UI_CTRL_PRINT_ERRORS (i nonzero: on) makes UI_process
 * show the thread's queued errors first and returns whether it was on;
 * UI_CTRL_IS_REDOABLE returns 1 when the last answer was rejected for its
 * length. */
#define UI_CTRL_PRINT_ERRORS 1
#define UI_CTRL_IS_REDOABLE 2

/* ---- sessions and methods ----------------------------------------------- */

/* A session with the default method, or with `method` (the default when
 * null); null with "malloc failure" when it cannot be made. */
MORVANE_EXPORT UI *UI_new(void);
MORVANE_EXPORT UI *UI_new_method(const UI_METHOD *method);
/* Frees the records (with the texts they own), the extra data and the
 * session; null is ignored. */
MORVANE_EXPORT void UI_free(UI *ui);

/* The default method: the console method until one is set. */
MORVANE_EXPORT void UI_set_default_method(const UI_METHOD *meth);
MORVANE_EXPORT const UI_METHOD *UI_get_default_method(void);
MORVANE_EXPORT const UI_METHOD *UI_get_method(UI *ui);
/* Sets the session's method and returns it. */
MORVANE_EXPORT const UI_METHOD *UI_set_method(UI *ui, const UI_METHOD *meth);
/* The console method, named "Morvane default user interface": it reads from
 * /dev/tty (else standard input) and writes to /dev/tty (else standard error),
 * with echo off unless a prompt asks for it, and restores the terminal and
 * the signal actions after every answer. */
MORVANE_EXPORT UI_METHOD *UI_Morvane(void);

/* Method tables built by the application: UI_create_method makes an empty
 * table with a copy of `name` (null when out of memory); UI_destroy_method
 * frees it.  The setters return 0, or -1 for a null method; the getters
 * return the slot, or null for a null method.  Slot results: an opener,
 * writer or closer fails with 0; a flusher or reader returns -1 when
 * interrupted, 0 on failure. */
MORVANE_EXPORT UI_METHOD *UI_create_method(const char *name);
MORVANE_EXPORT void UI_destroy_method(UI_METHOD *ui_method);
MORVANE_EXPORT int UI_method_set_opener(UI_METHOD *method, int (*opener)(UI *ui));
MORVANE_EXPORT int UI_method_set_writer(UI_METHOD *method,
                                        int (*writer)(UI *ui, UI_STRING *uis));
MORVANE_EXPORT int UI_method_set_flusher(UI_METHOD *method, int (*flusher)(UI *ui));
MORVANE_EXPORT int UI_method_set_reader(UI_METHOD *method,
                                        int (*reader)(UI *ui, UI_STRING *uis));
MORVANE_EXPORT int UI_method_set_closer(UI_METHOD *method, int (*closer)(UI *ui));
MORVANE_EXPORT int (*UI_method_get_opener(const UI_METHOD *method))(UI *);
MORVANE_EXPORT int (*UI_method_get_writer(const UI_METHOD *method))(UI *, UI_STRING *);
MORVANE_EXPORT int (*UI_method_get_flusher(const UI_METHOD *method))(UI *);
MORVANE_EXPORT int (*UI_method_get_reader(const UI_METHOD *method))(UI *, UI_STRING *);
MORVANE_EXPORT int (*UI_method_get_closer(const UI_METHOD *method))(UI *);

/* Stores `user_data` for the method and the caller and returns the previous
 * value. */
MORVANE_EXPORT void *UI_add_user_data(UI *ui, void *user_data);
MORVANE_EXPORT void *UI_get0_user_data(UI *ui);

/* Extra data of class CRYPTO_EX_INDEX_UI. */
MORVANE_EXPORT int UI_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                       CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int UI_set_ex_data(UI *r, int idx, void *arg);
MORVANE_EXPORT void *UI_get_ex_data(UI *r, int idx);

/* UI_CTRL_* commands; -1 with an error for a null session or an unknown
 * command.  `p` and `f` are not used. */
MORVANE_EXPORT int UI_ctrl(UI *ui, int cmd, long i, void *p, void (*f)(void));

/* ---- adding records ----------------------------------------------------- */

/* An input prompt: the answer goes to `result_buf`, which must hold
 * `maxsize` + 1 bytes, and must be `minsize` to `maxsize` characters long; a
 * negative maxsize or a minsize above it is refused ("invalid result
 * size"). */
MORVANE_EXPORT int UI_add_input_string(UI *ui, const char *prompt, int flags, char *result_buf,
                                       int minsize, int maxsize);
MORVANE_EXPORT int UI_dup_input_string(UI *ui, const char *prompt, int flags, char *result_buf,
                                       int minsize, int maxsize);
/* A verification prompt: as an input prompt, and the answer must equal
 * `test_buf` (as a rule the result buffer of an earlier prompt). */
MORVANE_EXPORT int UI_add_verify_string(UI *ui, const char *prompt, int flags, char *result_buf,
                                        int minsize, int maxsize, const char *test_buf);
MORVANE_EXPORT int UI_dup_verify_string(UI *ui, const char *prompt, int flags, char *result_buf,
                                        int minsize, int maxsize, const char *test_buf);
/* A yes/no question: `action_desc` (may be null) is shown after the prompt;
 * the first character of the answer found in `ok_chars` or `cancel_chars`
 * decides, and result_buf[0] becomes the first character of that set (0 when
 * the answer has neither).  A character in both sets queues "common ok and
 * cancel characters" without failing the add. */
MORVANE_EXPORT int UI_add_input_boolean(UI *ui, const char *prompt, const char *action_desc,
                                        const char *ok_chars, const char *cancel_chars,
                                        int flags, char *result_buf);
MORVANE_EXPORT int UI_dup_input_boolean(UI *ui, const char *prompt, const char *action_desc,
                                        const char *ok_chars, const char *cancel_chars,
                                        int flags, char *result_buf);
/* Texts to show. */
MORVANE_EXPORT int UI_add_info_string(UI *ui, const char *text);
MORVANE_EXPORT int UI_dup_info_string(UI *ui, const char *text);
MORVANE_EXPORT int UI_add_error_string(UI *ui, const char *text);
MORVANE_EXPORT int UI_dup_error_string(UI *ui, const char *text);

/* ---- reading records (for methods) -------------------------------------- */

/* UIT_NONE, 0, -1 or null for a null record; the boolean, result and test
 * accessors give null and the size limits -1 for records of other types. */
MORVANE_EXPORT enum UI_string_types UI_get_string_type(UI_STRING *uis);
MORVANE_EXPORT int UI_get_input_flags(UI_STRING *uis);
MORVANE_EXPORT const char *UI_get0_output_string(UI_STRING *uis);
MORVANE_EXPORT const char *UI_get0_action_string(UI_STRING *uis);
MORVANE_EXPORT const char *UI_get0_result_string(UI_STRING *uis);
MORVANE_EXPORT const char *UI_get0_test_string(UI_STRING *uis);
MORVANE_EXPORT int UI_get_result_minsize(UI_STRING *uis);
MORVANE_EXPORT int UI_get_result_maxsize(UI_STRING *uis);
/* The answer buffer of record `i` counted from 0; null with "index too
 * small" or "index too large" outside the session's records. */
MORVANE_EXPORT const char *UI_get0_result(UI *ui, int i);
/* Stores an answer: for prompts, copies it when its length is within the
 * limits (else -1 with "result too small"/"result too large", the text "You
 * must type in MIN to MAX characters" attached, and the session marked
 * redoable); for yes/no questions, stores the deciding character.  0 on
 * success, -1 on failure. */
MORVANE_EXPORT int UI_set_result(UI *ui, UI_STRING *uis, const char *result);

/* ---- running ------------------------------------------------------------ */

/* Opens the session, shows every record, flushes, reads every answer and
 * closes.  0 on success, -1 on failure, -2 when interrupted.  A session may
 * be run again; its records stay. */
MORVANE_EXPORT int UI_process(UI *ui);

/* The method's prompt builder when it has one; otherwise "Enter " followed
 * by `object_desc`, " for " and `object_name` when a name is given, and ":".
 * A new string the caller frees; null for a null `object_desc`. */
MORVANE_EXPORT char *UI_construct_prompt(UI *ui, const char *object_desc,
                                         const char *object_name);

/* Reads a pass phrase of up to `size` - 1 characters into `buf` with the
 * default method, asking a second time into `buff` when `verify` is nonzero.
 * 0 on success, -1 on failure (also for `size` < 1), -2 when interrupted. */
MORVANE_EXPORT int UI_UTIL_read_pw(char *buf, char *buff, int size, const char *prompt,
                                   int verify);
/* UI_UTIL_read_pw with an internal, wiped scratch buffer for the second entry
 * and `length` capped at 1024. */
MORVANE_EXPORT int UI_UTIL_read_pw_string(char *buf, int length, const char *prompt, int verify);
/* Old names of the two readers. */
MORVANE_EXPORT int _qarn_old_des_read_pw(char *buf, char *buff, int size, const char *prompt,
                                         int verify);
MORVANE_EXPORT int _qarn_old_des_read_pw_string(char *buf, int length, const char *prompt,
                                                int verify);

/* Registers the texts of library 40 (ERR_LIB_UI) unless they are registered
 * already. */
MORVANE_EXPORT void ERR_load_UI_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 40 (UI). */
#define UI_F_GENERAL_ALLOCATE_STRING 100
#define UI_F_UI_DUP_ERROR_STRING 101
#define UI_F_UI_DUP_INFO_STRING 102
#define UI_F_UI_DUP_INPUT_STRING 103
#define UI_F_UI_NEW_METHOD 104
#define UI_F_UI_SET_RESULT 105
#define UI_F_UI_DUP_VERIFY_STRING 106
#define UI_F_UI_GET0_RESULT 107
#define UI_F_GENERAL_ALLOCATE_BOOLEAN 108
#define UI_F_GENERAL_ALLOCATE_PROMPT 109
#define UI_F_UI_DUP_INPUT_BOOLEAN 110
#define UI_F_UI_CTRL 111
/* Reason codes of library 40 (UI). */
#define UI_R_RESULT_TOO_LARGE 100
#define UI_R_RESULT_TOO_SMALL 101
#define UI_R_INDEX_TOO_LARGE 102
#define UI_R_INDEX_TOO_SMALL 103
#define UI_R_COMMON_OK_AND_CANCEL_CHARACTERS 104
#define UI_R_NO_RESULT_BUFFER 105
#define UI_R_UNKNOWN_CONTROL_COMMAND 106
#define UI_R_INVALID_RESULT_SIZE 107
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_UI_H */
