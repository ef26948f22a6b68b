// Accept streams: given a listening address, the stream creates the listening
// socket and hands each accepted connection on as a socket stream (behind a
// copy of a configured filter chain, when one is set) pushed after itself;
// reads and writes go to that connection.  Popping the connection off lets
// the next run accept the next one.
//
// Implementation notes: every failure path releases what it made (the
// accepted descriptor, its stream, the chain copy).  The record goes with the
// stream whatever the close flag says; the flag decides only about the
// listening socket.

#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/internal.h"

struct bio_accept_st {
  int state;
  char* param_addr;  // a port, or a host, a colon and a port
  int accept_sock;   // -1 when none
  int accept_nbio;   // make the listening socket non-blocking
  char* addr;        // the last peer, "%d.%d.%d.%d:%d"
  int nbio;          // make each accepted socket non-blocking
  int bind_mode;
  BIO* bio_chain;  // copied in front of each accepted connection
};

namespace {

using morvane::bio::ClearRetry;
using morvane::bio::FreeIfSet;

// Accept states.
constexpr int ACPT_S_BEFORE = 1;             // no listening socket yet
constexpr int ACPT_S_GET_ACCEPT_SOCKET = 2;  // listening, no connection attached
constexpr int ACPT_S_OK = 3;                 // a connection chain follows the stream

BIO_ACCEPT* Data(BIO* b) {
  return static_cast<BIO_ACCEPT*>(b->ptr);
}

void CloseListeningSocket(BIO* b) {
  BIO_ACCEPT* c = Data(b);
  if (c->accept_sock == -1) return;
  morvane::bio::ShutdownAndClose(c->accept_sock);
  c->accept_sock = -1;
  b->num = -1;
}

// ACPT_S_BEFORE: creates the listening socket.
int Listen(BIO* b, BIO_ACCEPT* c) {
  if (c->param_addr == nullptr) {
    BIOerr(BIO_F_ACPT_STATE, BIO_R_NO_ACCEPT_PORT_SPECIFIED);
    return -1;
  }
  int s = BIO_get_accept_socket(c->param_addr, c->bind_mode);
  if (s == -1) return -1;
  if (c->accept_nbio && !BIO_socket_nbio(s, 1)) {
    close(s);
    BIOerr(BIO_F_ACPT_STATE, BIO_R_ERROR_SETTING_NBIO_ON_ACCEPT_SOCKET);
    return -1;
  }
  c->accept_sock = s;
  b->num = s;
  c->state = ACPT_S_GET_ACCEPT_SOCKET;
  return 1;
}

// ACPT_S_GET_ACCEPT_SOCKET with nothing attached: accepts one connection and
// pushes its chain after `b`.  1 attached; -1 with retry special when a
// non-blocking accept has nothing yet; -1 after an accept error; 0 when the
// connection could not be set up (it is closed again).
int AcceptOne(BIO* b, BIO_ACCEPT* c) {
  ClearRetry(b);
  b->retry_reason = 0;
  int i = BIO_accept(c->accept_sock, &c->addr);
  if (i == -2) {
    BIO_set_retry_special(b);
    b->retry_reason = BIO_RR_ACCEPT;
    return -1;
  }
  if (i < 0) return i;

  BIO* bio = BIO_new_socket(i, BIO_CLOSE);
  if (bio == nullptr) {
    close(i);
    return 0;
  }
  BIO_set_callback(bio, BIO_get_callback(b));
  BIO_set_callback_arg(bio, BIO_get_callback_arg(b));
  if (c->nbio && !BIO_socket_nbio(i, 1)) {
    BIOerr(BIO_F_ACPT_STATE, BIO_R_ERROR_SETTING_NBIO_ON_ACCEPTED_SOCKET);
    BIO_free(bio);  // closes i
    return 0;
  }
  if (c->bio_chain != nullptr) {
    BIO* chain = BIO_dup_chain(c->bio_chain);
    if (chain == nullptr) {
      // A filter of the chain that cannot be copied fails every connection.
      BIOerr(BIO_F_ACPT_STATE, BIO_R_UNABLE_TO_COPY_CHAIN);
      ERR_add_error_data(2, "peer=", c->addr != nullptr ? c->addr : "");
      BIO_free(bio);
      return 0;
    }
    bio = BIO_push(chain, bio);
  }
  BIO_push(b, bio);
  c->state = ACPT_S_OK;
  return 1;
}

int acpt_state(BIO* b, BIO_ACCEPT* c) {
  for (;;) {
    switch (c->state) {
      case ACPT_S_BEFORE:
        return Listen(b, c);  // the first run only makes the listening socket
      case ACPT_S_GET_ACCEPT_SOCKET:
        if (b->next_bio != nullptr) {
          c->state = ACPT_S_OK;
          break;
        }
        return AcceptOne(b, c);
      case ACPT_S_OK:
        if (b->next_bio != nullptr) return 1;
        c->state = ACPT_S_GET_ACCEPT_SOCKET;  // the connection was popped off
        break;
      default:
        return 0;
    }
  }
}

int acpt_new(BIO* b) {
  b->init = 0;
  b->num = -1;
  b->flags = 0;
  BIO_ACCEPT* ba = BIO_ACCEPT_new();
  if (ba == nullptr) return 0;
  b->ptr = ba;
  ba->state = ACPT_S_BEFORE;
  b->shutdown = 1;
  return 1;
}

int acpt_free(BIO* a) {
  if (a == nullptr) return 0;
  if (a->ptr == nullptr) return 1;
  if (a->shutdown) {
    CloseListeningSocket(a);
    a->flags = 0;
    a->init = 0;
  }
  BIO_ACCEPT_free(Data(a));
  a->ptr = nullptr;
  return 1;
}

// Reads and writes run the machine until a connection is attached, then go
// to it and take over its retry state.
template <typename Op>
int WithConnection(BIO* b, Op op) {
  ClearRetry(b);
  BIO_ACCEPT* data = Data(b);
  while (b->next_bio == nullptr) {
    int ret = acpt_state(b, data);
    if (ret <= 0) return ret;
  }
  int ret = op(b->next_bio);
  BIO_copy_next_retry(b);
  return ret;
}

int acpt_read(BIO* b, char* out, int outl) {
  return WithConnection(b, [&](BIO* next) { return BIO_read(next, out, outl); });
}

int acpt_write(BIO* b, const char* in, int inl) {
  return WithConnection(b, [&](BIO* next) { return BIO_write(next, in, inl); });
}

int acpt_puts(BIO* b, const char* str) {
  return acpt_write(b, str, static_cast<int>(strlen(str)));
}

// BIO_C_SET_ACCEPT: larg 0 the address text, 1 a non-blocking listening
// socket, 2 the filter chain (owned from now on).
long SetAccept(BIO* b, BIO_ACCEPT* data, long larg, void* ptr) {
  if (ptr == nullptr) return 1;
  switch (larg) {
    case 0: {
      char* copy = BUF_strdup(static_cast<const char*>(ptr));
      if (copy == nullptr) {
        BIOerr(BIO_F_BIO_CTRL, ERR_R_MALLOC_FAILURE);
        return 0;
      }
      b->init = 1;
      FreeIfSet(data->param_addr);
      data->param_addr = copy;
      return 1;
    }
    case 1:
      data->accept_nbio = 1;
      return 1;
    case 2:
      if (ptr != data->bio_chain) BIO_free_all(data->bio_chain);
      data->bio_chain = static_cast<BIO*>(ptr);
      return 1;
    default:
      return 1;
  }
}

long acpt_ctrl(BIO* b, int cmd, long num, void* ptr) {
  BIO_ACCEPT* data = Data(b);
  switch (cmd) {
    case BIO_CTRL_RESET:
      data->state = ACPT_S_BEFORE;
      CloseListeningSocket(b);
      b->flags = 0;
      return 0;
    case BIO_C_DO_STATE_MACHINE:
      return acpt_state(b, data);
    case BIO_C_SET_ACCEPT:
      return SetAccept(b, data, num, ptr);
    case BIO_C_SET_NBIO:
      data->nbio = static_cast<int>(num);
      return 1;
    case BIO_C_SET_FD:
      // Adopts a listening socket; one owned before is closed, not leaked.
      if (ptr == nullptr) return 0;
      if (b->shutdown) CloseListeningSocket(b);
      b->num = data->accept_sock = *static_cast<int*>(ptr);
      data->state = ACPT_S_GET_ACCEPT_SOCKET;
      b->shutdown = static_cast<int>(num);
      b->init = 1;
      return 1;
    case BIO_C_GET_FD:
      if (!b->init) return -1;
      if (ptr != nullptr) *static_cast<int*>(ptr) = data->accept_sock;
      return data->accept_sock;
    case BIO_C_GET_ACCEPT:
      if (!b->init || ptr == nullptr) return -1;
      *static_cast<char**>(ptr) = data->param_addr;
      return 1;
    case BIO_CTRL_DUP:
      return 1;  // a copy gets none of the settings
    case BIO_C_SET_BIND_MODE:
      data->bind_mode = static_cast<int>(num);
      return 1;
    case BIO_C_GET_BIND_MODE:
      return data->bind_mode;
    default:
      return morvane::bio::DescriptorCtrl(b, cmd, num, ptr, false).value_or(0);
  }
}

constinit BIO_METHOD methods_acceptp = {
    BIO_TYPE_ACCEPT, "socket accept", acpt_write, acpt_read, acpt_puts,
    nullptr,         acpt_ctrl,       acpt_new,   acpt_free, nullptr,
};

}  // namespace

/* see morvane/bio.h */
BIO_ACCEPT* BIO_ACCEPT_new(void) {
  BIO_ACCEPT* ret = static_cast<BIO_ACCEPT*>(MORVANE_malloc(sizeof(BIO_ACCEPT)));
  if (ret == nullptr) return nullptr;
  memset(ret, 0, sizeof(*ret));
  ret->param_addr = nullptr;
  ret->addr = nullptr;
  ret->bio_chain = nullptr;
  ret->accept_sock = -1;
  ret->bind_mode = BIO_BIND_NORMAL;
  return ret;
}

/* see morvane/bio.h */
void BIO_ACCEPT_free(BIO_ACCEPT* a) {
  if (a == nullptr) return;
  FreeIfSet(a->param_addr);
  FreeIfSet(a->addr);
  BIO_free_all(a->bio_chain);
  MORVANE_free(a);
}

/* see morvane/bio.h */
BIO_METHOD* BIO_s_accept(void) {
  return &methods_acceptp;
}

/* see morvane/bio.h */
BIO* BIO_new_accept(const char* str) {
  BIO* ret = BIO_new(BIO_s_accept());
  if (ret == nullptr) return nullptr;
  if (BIO_set_accept_port(ret, str)) return ret;
  BIO_free(ret);
  return nullptr;
}
