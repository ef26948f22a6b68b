// Control commands: the generic commands answered from an engine's command
// table, and calling commands by name with raw or text arguments.
//
// Implementation notes: an optional command that the engine does not know
// removes only what its failed lookup queued (a mark set before the lookup),
// never errors the caller had queued before.

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/engine.h>
#include <morvane/err.h>

#include "engine/internal.h"
#include "internal/err_mark.h"
#include "internal/lock.h"

namespace {

bool is_end(const ENGINE_CMD_DEFN* d) {
  return d->cmd_num == 0 || d->cmd_name == nullptr;
}

// The entry numbered `num`, or null.
const ENGINE_CMD_DEFN* by_num(const ENGINE_CMD_DEFN* d, unsigned int num) {
  if (d == nullptr) return nullptr;
  while (!is_end(d) && d->cmd_num < num) d++;
  return !is_end(d) && d->cmd_num == num ? d : nullptr;
}

int helper_fail(int reason) {
  ENGINEerr(ENGINE_F_INT_CTRL_HELPER, reason);
  return -1;
}

// Writes `text` (null: "") with its terminator into p; its length.
int copy_text(const char* text, void* p) {
  if (text == nullptr) text = "";
  memcpy(p, text, strlen(text) + 1);
  return static_cast<int>(strlen(text));
}

// The generic commands 11 to 18 answered from the command table.
int int_ctrl_helper(ENGINE* e, int cmd, long i, void* p) {
  const ENGINE_CMD_DEFN* defns = e->cmd_defns;
  if (cmd == ENGINE_CTRL_GET_FIRST_CMD_TYPE)
    return defns == nullptr || is_end(defns) ? 0 : static_cast<int>(defns->cmd_num);
  if ((cmd == ENGINE_CTRL_GET_CMD_FROM_NAME || cmd == ENGINE_CTRL_GET_NAME_FROM_CMD ||
       cmd == ENGINE_CTRL_GET_DESC_FROM_CMD) &&
      p == nullptr)
    return helper_fail(ERR_R_PASSED_NULL_PARAMETER);
  if (cmd == ENGINE_CTRL_GET_CMD_FROM_NAME) {
    for (const ENGINE_CMD_DEFN* d = defns; d != nullptr && !is_end(d); d++) {
      if (strcmp(d->cmd_name, static_cast<const char*>(p)) == 0)
        return static_cast<int>(d->cmd_num);
    }
    return helper_fail(ENGINE_R_INVALID_CMD_NAME);
  }
  const ENGINE_CMD_DEFN* d =
      i > 0 && i <= 0xFFFFFFFFL ? by_num(defns, static_cast<unsigned int>(i)) : nullptr;
  if (d == nullptr) return helper_fail(ENGINE_R_INVALID_CMD_NUMBER);
  switch (cmd) {
    case ENGINE_CTRL_GET_NEXT_CMD_TYPE:
      return is_end(d + 1) ? 0 : static_cast<int>(d[1].cmd_num);
    case ENGINE_CTRL_GET_NAME_LEN_FROM_CMD:
      return static_cast<int>(strlen(d->cmd_name));
    case ENGINE_CTRL_GET_NAME_FROM_CMD:
      return copy_text(d->cmd_name, p);
    case ENGINE_CTRL_GET_DESC_LEN_FROM_CMD:
      return d->cmd_desc == nullptr ? 0 : static_cast<int>(strlen(d->cmd_desc));
    case ENGINE_CTRL_GET_DESC_FROM_CMD:
      return copy_text(d->cmd_desc, p);
    default:  // ENGINE_CTRL_GET_CMD_FLAGS
      return static_cast<int>(d->cmd_flags);
  }
}

// The number of the command `name`, or -1 with "invalid cmd name" (with
// cmd_optional: 0, leaving the queue as it was).
int lookup(ENGINE* e, const char* name, int cmd_optional, int func) {
  morvane::internal::ErrorMark mark(cmd_optional != 0);
  int num = e->ctrl == nullptr ? -1
                               : ENGINE_ctrl(e, ENGINE_CTRL_GET_CMD_FROM_NAME, 0,
                                             const_cast<char*>(name), nullptr);
  if (num > 0 || cmd_optional) {
    mark.pop();
    return num > 0 ? num : 0;
  }
  ENGINEerr(func, ENGINE_R_INVALID_CMD_NAME);
  return -1;
}

int fail(int func, int reason) {
  ERR_put_error(ERR_LIB_ENGINE, func, reason, __FILE__, __LINE__);
  return 0;
}

}  // namespace

/* see morvane/engine.h */
int ENGINE_ctrl(ENGINE* e, int cmd, long i, void* p, void (*f)(void)) {
  if (e == nullptr) return fail(ENGINE_F_ENGINE_CTRL, ERR_R_PASSED_NULL_PARAMETER);
  int ref;
  {
    MORVANE_WRITE_LOCKED(CRYPTO_LOCK_ENGINE);
    ref = e->struct_ref;
  }
  if (ref < 1) return fail(ENGINE_F_ENGINE_CTRL, ENGINE_R_NO_REFERENCE);
  if (cmd == ENGINE_CTRL_HAS_CTRL_FUNCTION) return e->ctrl != nullptr ? 1 : 0;
  if (cmd >= ENGINE_CTRL_GET_FIRST_CMD_TYPE && cmd <= ENGINE_CTRL_GET_CMD_FLAGS) {
    if (e->ctrl == nullptr) return fail(ENGINE_F_ENGINE_CTRL, ENGINE_R_NO_CONTROL_FUNCTION), -1;
    if (!(e->flags & ENGINE_FLAGS_MANUAL_CMD_CTRL)) return int_ctrl_helper(e, cmd, i, p);
  }
  if (e->ctrl == nullptr) return fail(ENGINE_F_ENGINE_CTRL, ENGINE_R_NO_CONTROL_FUNCTION);
  return e->ctrl(e, cmd, i, p, f);
}

/* see morvane/engine.h */
int ENGINE_cmd_is_executable(ENGINE* e, int cmd) {
  int flags = ENGINE_ctrl(e, ENGINE_CTRL_GET_CMD_FLAGS, cmd, nullptr, nullptr);
  if (flags < 0) return fail(ENGINE_F_ENGINE_CMD_IS_EXECUTABLE, ENGINE_R_INVALID_CMD_NUMBER);
  constexpr int kCallable =
      ENGINE_CMD_FLAG_NO_INPUT | ENGINE_CMD_FLAG_NUMERIC | ENGINE_CMD_FLAG_STRING;
  return (flags & kCallable) ? 1 : 0;
}

/* see morvane/engine.h */
int ENGINE_ctrl_cmd(ENGINE* e, const char* cmd_name, long i, void* p, void (*f)(void),
                    int cmd_optional) {
  if (e == nullptr || cmd_name == nullptr)
    return fail(ENGINE_F_ENGINE_CTRL_CMD, ERR_R_PASSED_NULL_PARAMETER);
  int num = lookup(e, cmd_name, cmd_optional, ENGINE_F_ENGINE_CTRL_CMD);
  if (num <= 0) return num == 0 ? 1 : 0;
  return ENGINE_ctrl(e, num, i, p, f) > 0 ? 1 : 0;
}

/* see morvane/engine.h */
int ENGINE_ctrl_cmd_string(ENGINE* e, const char* cmd_name, const char* arg, int cmd_optional) {
  constexpr int F = ENGINE_F_ENGINE_CTRL_CMD_STRING;
  if (e == nullptr || cmd_name == nullptr) return fail(F, ERR_R_PASSED_NULL_PARAMETER);
  int num = lookup(e, cmd_name, cmd_optional, F);
  if (num <= 0) return num == 0 ? 1 : 0;
  if (!ENGINE_cmd_is_executable(e, num)) return fail(F, ENGINE_R_CMD_NOT_EXECUTABLE);
  int flags = ENGINE_ctrl(e, ENGINE_CTRL_GET_CMD_FLAGS, num, nullptr, nullptr);
  if (flags < 0) return fail(F, ENGINE_R_INTERNAL_LIST_ERROR);
  if (flags & ENGINE_CMD_FLAG_NO_INPUT) {
    if (arg != nullptr) return fail(F, ENGINE_R_COMMAND_TAKES_NO_INPUT);
    return ENGINE_ctrl(e, num, 0, nullptr, nullptr) > 0 ? 1 : 0;
  }
  if (arg == nullptr) return fail(F, ENGINE_R_COMMAND_TAKES_INPUT);
  if (flags & ENGINE_CMD_FLAG_STRING)
    return ENGINE_ctrl(e, num, 0, const_cast<char*>(arg), nullptr) > 0 ? 1 : 0;
  if (!(flags & ENGINE_CMD_FLAG_NUMERIC)) return fail(F, ENGINE_R_INTERNAL_LIST_ERROR);
  char* end = nullptr;
  errno = 0;
  const long value = strtol(arg, &end, 10);
  // A number that does not fit a long is none (strtol would give the
  // nearest long and the command would run with it).
  if (end == arg || *end != '\0' || errno == ERANGE)
    return fail(F, ENGINE_R_ARGUMENT_IS_NOT_A_NUMBER);
  return ENGINE_ctrl(e, num, value, nullptr, nullptr) > 0 ? 1 : 0;
}
