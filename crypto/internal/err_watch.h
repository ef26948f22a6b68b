// What the calling thread's error queue received since a given point: the
// entries queued since are looked at with a predicate on their codes.  Code
// whose callees report a lack of memory only on the queue (a decoder's null
// means "malformed" or "no memory") asks MallocFailureWatch to keep the two
// apart, and so never caches or reports the one as the other; code that
// sorts a callee's failures by their reasons asks ErrorWatch::any.
//
// Implementation notes: the watch notes the queue's newest slot and the entry
// it holds; the entries pushed after it are the ones looked at.  When that
// slot has been reused since (a full ring, or a clear and enough new entries)
// every live entry is newer, and all are looked at.  Entries that a callee
// popped again are not seen.
#ifndef MORVANE_INTERNAL_ERR_WATCH_H
#define MORVANE_INTERNAL_ERR_WATCH_H

#include <morvane/err.h>

namespace morvane::internal {

class ErrorWatch {
 public:
  ErrorWatch() : ErrorWatch(ERR_get_state()) {}
  // The same on the thread's queue `es` (ERR_get_state).
  explicit ErrorWatch(const ERR_STATE* es)
      : es_(es),
        slot_(es_->top),
        code_(es_->err_buffer[slot_]),
        file_(es_->err_file[slot_]),
        line_(es_->err_line[slot_]) {}
  ErrorWatch(const ErrorWatch&) = delete;
  ErrorWatch& operator=(const ErrorWatch&) = delete;

  // True when pred(code) holds for an entry queued on this thread since the
  // watch began (newest first; pred takes an unsigned long).
  template <typename Pred>
  bool any(Pred pred) const {
    for (int i = es_->top; i != es_->bottom; i = i > 0 ? i - 1 : ERR_NUM_ERRORS - 1) {
      if (i == slot_ && es_->err_buffer[i] == code_ && es_->err_file[i] == file_ &&
          es_->err_line[i] == line_)
        break;  // the newest entry of before
      if (pred(es_->err_buffer[i])) return true;
    }
    return false;
  }

 private:
  const ERR_STATE* es_;
  int slot_;
  unsigned long code_;
  const char* file_;
  int line_;
};

class MallocFailureWatch : public ErrorWatch {
 public:
  using ErrorWatch::ErrorWatch;
  // True when an entry of reason ERR_R_MALLOC_FAILURE (any library) was
  // queued on this thread since the watch began.
  bool seen() const {
    return any([](unsigned long code) { return ERR_GET_REASON(code) == ERR_R_MALLOC_FAILURE; });
  }
};

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ERR_WATCH_H
