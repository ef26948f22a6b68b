// Streams that hand a text out in pieces of 1 to 7 bytes, asking to retry
// between pieces, for tests of the library's line readers: a scripted
// source, a stream pair read directly (it has no line reads) or behind the
// null or line-buffer filter, and a non-blocking socket behind a buffering
// filter.  The pair and the socket
// get their next piece when a read of them asks to retry (a watcher on the
// read end writes it), and are closed for writing after the last, so their
// reads end where the text does.
#ifndef MORVANE_TEST_CHUNKED_SOURCES_H
#define MORVANE_TEST_CHUNKED_SOURCES_H

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <string>

#include <morvane/bio.h>

#include "scripted_stream.h"

namespace morvane_test {

class PieceSource {
 public:
  // kinds: 0 scripted, 1 pair, 2 socket behind a buffering filter, 3 and 4
  // pair behind the null or line-buffer filter.
  static constexpr int kKinds = 5;
  static constexpr const char* kNames[kKinds] = {"scripted", "pair", "socket", "null, pair",
                                                 "line-buffer, pair"};

  PieceSource(int kind, const std::string& text, uint32_t seed) : text_(text), rng_(seed | 1) {
    if (kind == 0) {
      std::deque<ScriptStep> script;
      for (size_t at = 0; at < text.size();) {
        const int n = NextSize();
        script.push_back(ScriptStep::Move(n));
        script.push_back(ScriptStep::Retry());
        at += static_cast<size_t>(n);
      }
      read_ = NewScriptedSource(text, script);
      return;
    }
    BIO* watched = nullptr;
    if (kind != 2) {
      BIO_new_bio_pair(&read_, 0, &write_, 0);
      watched = read_;
      if (kind > 2) read_ = BIO_push(BIO_new(kind == 3 ? BIO_f_null() : BIO_f_linebuffer()), read_);
    } else {
      int fds[2];
      if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return;
      BIO_socket_nbio(fds[0], 1);
      watched = BIO_new_socket(fds[0], BIO_CLOSE);
      write_fd_ = fds[1];
      read_ = BIO_push(BIO_new(BIO_f_buffer()), watched);
    }
    BIO_set_callback_arg(watched, reinterpret_cast<char*>(this));
    BIO_set_callback(watched, OnRead);
    Feed();
  }
  ~PieceSource() {
    BIO_free_all(read_);
    BIO_free(write_);
    if (write_fd_ >= 0) close(write_fd_);
  }
  PieceSource(const PieceSource&) = delete;
  PieceSource& operator=(const PieceSource&) = delete;

  BIO* bio() const { return read_; }

 private:
  int NextSize() {
    rng_ ^= rng_ << 13;
    rng_ ^= rng_ >> 17;
    rng_ ^= rng_ << 5;
    return 1 + static_cast<int>(rng_ % 7);
  }
  // The next piece to the read end, or the end of the text.
  void Feed() {
    if (at_ >= text_.size()) {
      if (write_ != nullptr) (void)BIO_shutdown_wr(write_);
      if (write_fd_ >= 0) shutdown(write_fd_, SHUT_WR);
      return;
    }
    const size_t n = std::min(text_.size() - at_, static_cast<size_t>(NextSize()));
    const char* p = text_.data() + at_;
    const long put = write_ != nullptr ? BIO_write(write_, p, static_cast<int>(n))
                                       : static_cast<long>(write(write_fd_, p, n));
    if (put > 0) at_ += static_cast<size_t>(put);
  }
  static long OnRead(BIO* b, int oper, const char*, int, long, long ret) {
    if (oper == (BIO_CB_READ | BIO_CB_RETURN) && ret < 0 && BIO_should_retry(b))
      reinterpret_cast<PieceSource*>(BIO_get_callback_arg(b))->Feed();
    return ret;
  }

  std::string text_;
  uint32_t rng_;
  size_t at_ = 0;
  BIO* read_ = nullptr;
  BIO* write_ = nullptr;
  int write_fd_ = -1;
};

}  // namespace morvane_test

#endif  // MORVANE_TEST_CHUNKED_SOURCES_H
