// Datagram streams: a UDP socket behind the stream interface, one datagram
// per read or write.  Unconnected, the stream answers the sender of the last
// datagram; connected, it writes with write().  For a protocol layer with its
// own timer it shortens the socket's receive time-out to that timer's
// deadline during each read and reports the expiry afterwards.
//
// Implementation notes: nothing goes on the error queue; the failures of the
// time-out calls are reported with perror, as the layer above expects.

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>

#include "bio/internal.h"

namespace {

using morvane::bio::ClearRetry;

struct bio_dgram_data_st {
  sockaddr peer;           // set by the application, or the last sender
  unsigned int connected;  // 1: write(); 0: sendto(peer), reads record the sender
  unsigned int _errno;     // errno of the last retry-worthy failure, until queried
  unsigned int mtu;        // kept for the layer above
  timeval next_timeout;    // the layer's deadline; zero: none
  timeval socket_timeout;  // the socket's own, saved during a read
};
static_assert(sizeof(sockaddr) == 16);

bio_dgram_data_st* Data(BIO* b) {
  return static_cast<bio_dgram_data_st*>(b->ptr);
}

bool TimerSet(const timeval& t) {
  return t.tv_sec > 0 || t.tv_usec > 0;
}

int dgram_new(BIO* b) {
  b->init = 0;
  b->num = 0;
  b->flags = 0;
  auto* data = static_cast<bio_dgram_data_st*>(MORVANE_malloc(sizeof(bio_dgram_data_st)));
  if (data == nullptr) return 0;
  memset(data, 0, sizeof(*data));
  b->ptr = data;
  return 1;
}

int dgram_free(BIO* a) {
  if (a == nullptr) return 0;
  morvane::bio::ReleaseDescriptor(a);
  if (a->ptr != nullptr) MORVANE_free(a->ptr);
  a->ptr = nullptr;
  return 1;
}

// Before a read: with a deadline set, lets the socket wait no longer than the
// time left (the socket's own time-out stays when it is the shorter one).
void ShortenReceiveTimeout(BIO* b) {
  bio_dgram_data_st* data = Data(b);
  if (!TimerSet(data->next_timeout)) return;
  socklen_t sz = sizeof(data->socket_timeout);
  if (getsockopt(b->num, SOL_SOCKET, SO_RCVTIMEO, &data->socket_timeout, &sz) < 0)
    perror("getsockopt");

  timeval now;
  gettimeofday(&now, nullptr);
  timeval left;
  left.tv_sec = data->next_timeout.tv_sec - now.tv_sec;
  left.tv_usec = data->next_timeout.tv_usec - now.tv_usec;
  if (left.tv_usec < 0) {
    left.tv_sec -= 1;
    left.tv_usec += 1000000;
  }
  // A deadline reached or past waits the least time there is: a zero time-out
  // would mean no time-out at all.
  if (left.tv_sec < 0 || (left.tv_sec == 0 && left.tv_usec == 0)) {
    left.tv_sec = 0;
    left.tv_usec = 1;
  }

  const timeval& own = data->socket_timeout;
  bool own_none = own.tv_sec == 0 && own.tv_usec == 0;
  bool own_longer =
      own.tv_sec > left.tv_sec || (own.tv_sec == left.tv_sec && own.tv_usec >= left.tv_usec);
  if (own_none || own_longer) {
    if (setsockopt(b->num, SOL_SOCKET, SO_RCVTIMEO, &left, sizeof(left)) < 0) perror("setsockopt");
  }
}

// After a read: gives the socket its own time-out back.
void RestoreReceiveTimeout(BIO* b) {
  bio_dgram_data_st* data = Data(b);
  if (!TimerSet(data->next_timeout)) return;
  if (setsockopt(b->num, SOL_SOCKET, SO_RCVTIMEO, &data->socket_timeout,
                 sizeof(data->socket_timeout)) < 0)
    perror("setsockopt");
}

int dgram_should_retry(int i) {
  if (i == 0 || i == -1) return BIO_dgram_non_fatal_error(errno);
  return 0;
}

int dgram_read(BIO* b, char* out, int outl) {
  if (out == nullptr) return 0;
  bio_dgram_data_st* data = Data(b);
  if (outl < 0) {  // never handed to recvfrom() as a huge size
    ClearRetry(b);
    return -1;
  }
  errno = 0;
  sockaddr sender;
  memset(&sender, 0, sizeof(sender));
  socklen_t len = sizeof(sender);
  ShortenReceiveTimeout(b);
  int ret = static_cast<int>(recvfrom(b->num, out, static_cast<size_t>(outl), 0, &sender, &len));
  int err = errno;
  RestoreReceiveTimeout(b);
  if (!data->connected && ret >= 0) BIO_ctrl(b, BIO_CTRL_DGRAM_SET_PEER, 0, &sender);
  ClearRetry(b);
  errno = err;
  if (ret < 0 && dgram_should_retry(ret)) {
    BIO_set_retry_read(b);
    data->_errno = static_cast<unsigned int>(err);
  }
  return ret;
}

int dgram_write(BIO* b, const char* in, int inl) {
  bio_dgram_data_st* data = Data(b);
  if (inl < 0) {
    ClearRetry(b);
    return -1;
  }
  errno = 0;
  int ret;
  if (data->connected) {
    ret = static_cast<int>(write(b->num, in, static_cast<size_t>(inl)));
  } else {
    ret = static_cast<int>(
        sendto(b->num, in, static_cast<size_t>(inl), 0, &data->peer, sizeof(data->peer)));
  }
  int err = errno;
  ClearRetry(b);
  if (ret <= 0 && dgram_should_retry(ret)) {
    BIO_set_retry_write(b);
    data->_errno = static_cast<unsigned int>(err);
  } else if (ret < 0 && err == EMSGSIZE) {
    // Not worth a retry as it is, but the layer above asks for it with
    // BIO_CTRL_DGRAM_MTU_EXCEEDED to make its datagrams smaller.
    data->_errno = static_cast<unsigned int>(err);
  }
  return ret;
}

int dgram_puts(BIO* b, const char* str) {
  return dgram_write(b, str, static_cast<int>(strlen(str)));
}

// SO_RCVTIMEO or SO_SNDTIMEO from or into the timeval at ptr.
long SetTimeout(BIO* b, int opt, const void* ptr) {
  if (setsockopt(b->num, SOL_SOCKET, opt, ptr, sizeof(timeval)) < 0) {
    perror("setsockopt");
    return -1;
  }
  return 1;
}

long GetTimeout(BIO* b, int opt, void* ptr) {
  socklen_t sz = sizeof(timeval);
  if (getsockopt(b->num, SOL_SOCKET, opt, ptr, &sz) < 0) {
    perror("getsockopt");
    return -1;
  }
  return static_cast<long>(sz);
}

// Whether the last retry-worthy failure was `err`; the answer is given once.
long ConsumeErrno(bio_dgram_data_st* data, int err) {
  if (data->_errno != static_cast<unsigned int>(err)) return 0;
  data->_errno = 0;
  return 1;
}

long dgram_ctrl(BIO* b, int cmd, long num, void* ptr) {
  if (auto ret = morvane::bio::DescriptorCtrl(b, cmd, num, ptr, true)) return *ret;
  bio_dgram_data_st* data = Data(b);
  switch (cmd) {
    case BIO_CTRL_RESET:
      return 0;
    case BIO_CTRL_DGRAM_CONNECT:
    case BIO_CTRL_DGRAM_SET_PEER:
      if (ptr == nullptr) return 0;
      memcpy(&data->peer, ptr, sizeof(data->peer));
      return 1;
    case BIO_CTRL_DGRAM_SET_CONNECTED:
      if (ptr != nullptr) {
        data->connected = 1;
        memcpy(&data->peer, ptr, sizeof(data->peer));
      } else {
        data->connected = 0;
        memset(&data->peer, 0, sizeof(data->peer));
      }
      return 1;
    case BIO_CTRL_DGRAM_SET_RECV_TIMEOUT:
      return SetTimeout(b, SO_RCVTIMEO, ptr);
    case BIO_CTRL_DGRAM_GET_RECV_TIMEOUT:
      return GetTimeout(b, SO_RCVTIMEO, ptr);
    case BIO_CTRL_DGRAM_SET_SEND_TIMEOUT:
      return SetTimeout(b, SO_SNDTIMEO, ptr);
    case BIO_CTRL_DGRAM_GET_SEND_TIMEOUT:
      return GetTimeout(b, SO_SNDTIMEO, ptr);
    case BIO_CTRL_DGRAM_GET_RECV_TIMER_EXP:
    case BIO_CTRL_DGRAM_GET_SEND_TIMER_EXP:
      return ConsumeErrno(data, EAGAIN);
    case BIO_CTRL_DGRAM_MTU_DISCOVER:
      return 1;
    case BIO_CTRL_DGRAM_GET_MTU:
      return data->mtu;
    case BIO_CTRL_DGRAM_SET_MTU:
      data->mtu = static_cast<unsigned int>(num);
      return num;
    case BIO_CTRL_DGRAM_MTU_EXCEEDED:
      return ConsumeErrno(data, EMSGSIZE);
    case BIO_CTRL_DGRAM_SET_NEXT_TIMEOUT:
      if (ptr == nullptr) return 0;
      memcpy(&data->next_timeout, ptr, sizeof(data->next_timeout));
      return 1;
    case BIO_CTRL_DGRAM_GET_PEER:
      if (ptr == nullptr) return 0;
      memcpy(ptr, &data->peer, sizeof(data->peer));
      return static_cast<long>(sizeof(data->peer));
    default:
      return 0;  // BIO_CTRL_DGRAM_QUERY_MTU among them: no answer here
  }
}

constinit BIO_METHOD methods_dgramp = {
    BIO_TYPE_DGRAM, "datagram socket", dgram_write, dgram_read, dgram_puts,
    nullptr,        dgram_ctrl,        dgram_new,   dgram_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_METHOD* BIO_s_datagram(void) {
  return &methods_dgramp;
}

/* see morvane/bio.h */
BIO* BIO_new_dgram(int fd, int close_flag) {
  return morvane::bio::NewOverDescriptor(BIO_s_datagram(), fd, close_flag);
}

/* see morvane/bio.h */
int BIO_dgram_non_fatal_error(int err) {
  // The socket set without ENOTCONN: an unconnected datagram socket stays so.
  return err != ENOTCONN && BIO_sock_non_fatal_error(err);
}
