// A mark on the calling thread's error queue for the span of one scope, so
// that a call which tries something can take back what was queued since,
// and only that.
//
// Implementation notes: ERR_set_mark is one bit on the newest entry, so the
// caller's mark and this one may fall on the same entry, and marks do not
// nest there: a plain ERR_pop_to_mark would clear the caller's mark too, and
// the caller's own pop would then remove the caller's own entries.  The guard
// notes a mark that was already on the entry and leaves it in place.  Only
// the public queue calls are used, so that test programs which compile a
// library source of their own link without the library's hidden symbols.
#ifndef MORVANE_INTERNAL_ERR_MARK_H
#define MORVANE_INTERNAL_ERR_MARK_H

#include <morvane/err.h>

namespace morvane::internal {

class [[nodiscard]] ErrorMark {
 public:
  // Marks the newest entry (nothing when the queue is empty).  An inactive
  // guard does nothing at all.
  explicit ErrorMark(bool active = true) noexcept : active_(active) {
    if (active_) mark(ERR_get_state());
  }
  // The same on the thread's queue `es` (ERR_get_state), which stays the
  // thread's for the guard's life: pop() then looks it up only when
  // something was queued since.
  explicit ErrorMark(ERR_STATE* es) noexcept : active_(true), es_(es) { mark(es); }
  // Without pop(): the entries queued since stay, and only this mark goes
  // (from the slot; a push that reused the slot has cleared it already).
  ~ErrorMark() {
    if (active_ && slot_ >= 0 && !caller_mark_) ERR_get_state()->err_flags[slot_] &= ~ERR_FLAG_MARK;
  }
  ErrorMark(const ErrorMark&) = delete;
  ErrorMark& operator=(const ErrorMark&) = delete;

  // Removes every entry queued since the mark; the queue, marks included, is
  // then as it was when the guard was made.  Ends the guard.
  void pop() noexcept {
    if (!active_) return;
    active_ = false;
    if (es_ != nullptr && slot_ < 0 && es_->bottom == es_->top) return;  // none queued
    if (es_ != nullptr && slot_ >= 0 && es_->bottom != es_->top && es_->top == slot_ &&
        (es_->err_flags[slot_] & ERR_FLAG_MARK) != 0) {
      // None queued since: ERR_pop_to_mark would only take the mark.
      if (!caller_mark_) es_->err_flags[slot_] &= ~ERR_FLAG_MARK;
      return;
    }
    if (ERR_pop_to_mark() == 1 && caller_mark_) ERR_set_mark();
  }

  // Whether an entry was queued since the mark (and not yet popped).
  bool queued() const noexcept {
    if (!active_) return false;
    const ERR_STATE* es = ERR_get_state();
    if (slot_ < 0) return es->bottom != es->top;
    return es->top != slot_ || (es->err_flags[slot_] & ERR_FLAG_MARK) == 0;
  }

  // How many entries were queued since the mark (and not yet popped); a
  // queue that wrapped past the mark counts as full.
  int count() const noexcept {
    if (!queued()) return 0;
    const ERR_STATE* es = ERR_get_state();
    if (slot_ >= 0 && (es->err_flags[slot_] & ERR_FLAG_MARK) == 0) return ERR_NUM_ERRORS - 1;
    const int from = slot_ >= 0 ? slot_ : es->bottom;
    return (es->top - from + ERR_NUM_ERRORS) % ERR_NUM_ERRORS;
  }

 private:
  void mark(ERR_STATE* es) noexcept {
    if (es->bottom == es->top) return;
    slot_ = es->top;
    caller_mark_ = (es->err_flags[slot_] & ERR_FLAG_MARK) != 0;
    es->err_flags[slot_] |= ERR_FLAG_MARK;
  }

  int slot_ = -1;  // the marked slot; -1: the queue was empty, or inactive
  bool active_;
  bool caller_mark_ = false;  // the slot was marked before
  ERR_STATE* es_ = nullptr;   // the queue, when given
};

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ERR_MARK_H
