// Whether an allocation failed on the calling thread since a given point, as
// its error queue tells: code whose callees report a lack of memory only on
// the queue (a decoder's null means "malformed" or "no memory") uses it to
// keep the two apart, and so never caches or reports the one as the other.
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

class MallocFailureWatch {
 public:
  MallocFailureWatch()
      : es_(ERR_get_state()),
        slot_(es_->top),
        code_(es_->err_buffer[slot_]),
        file_(es_->err_file[slot_]),
        line_(es_->err_line[slot_]) {}
  MallocFailureWatch(const MallocFailureWatch&) = delete;
  MallocFailureWatch& operator=(const MallocFailureWatch&) = delete;

  // True when an entry of reason ERR_R_MALLOC_FAILURE (any library) was
  // queued on this thread since the watch began.
  bool seen() const {
    for (int i = es_->top; i != es_->bottom; i = i > 0 ? i - 1 : ERR_NUM_ERRORS - 1) {
      if (i == slot_ && es_->err_buffer[i] == code_ && es_->err_file[i] == file_ &&
          es_->err_line[i] == line_)
        break;  // the newest entry of before
      if (ERR_GET_REASON(es_->err_buffer[i]) == ERR_R_MALLOC_FAILURE) return true;
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

}  // namespace morvane::internal

#endif  // MORVANE_INTERNAL_ERR_WATCH_H
