// Connect streams: given a host and a port, the stream opens a TCP connection
// itself, blocking or not, through a small state machine run by
// BIO_do_connect or by the first read or write, then reads and writes the
// socket like a socket stream.
//
// Implementation notes: a failed connection attempt closes its socket and
// goes back to BIO_CONN_S_CREATE_SOCKET, so that running the machine again
// tries again on a fresh socket (a socket whose connect failed is in no state
// to be used again, and its pending error is gone once read).  The record is
// released with the stream whatever the close flag says; the flag decides
// only about the socket.

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "bio/internal.h"

using ConnInfoCallback = int (*)(const BIO* bio, int state, int ret);

struct bio_connect_st {
  int state;
  char* param_hostname;
  char* param_port;
  int nbio;
  unsigned char ip[4];  // most significant byte first
  unsigned short port;  // host order
  sockaddr_in them;
  ConnInfoCallback info_callback;
};

namespace {

using morvane::bio::ClearRetry;
using morvane::bio::FreeIfSet;
using morvane::bio::FunctionCast;
using morvane::bio::SockRead;
using morvane::bio::SockWrite;

BIO_CONNECT* Data(BIO* b) {
  return static_cast<BIO_CONNECT*>(b->ptr);
}

// The error data of every failure from socket creation on.
void AddHostPort(const BIO_CONNECT* c) {
  ERR_add_error_data(4, "host=", c->param_hostname, ":", c->param_port);
}

void CloseSocket(BIO* b) {
  BIO_CONNECT* c = Data(b);
  if (b->num == -1) return;
  if (c->state == BIO_CONN_S_OK) shutdown(b->num, SHUT_RDWR);
  close(b->num);
  b->num = -1;
}

// Gives up the socket of a failed connection attempt; the next run of the
// machine makes a new one.
void DropFailedSocket(BIO* b) {
  close(b->num);
  b->num = -1;
  Data(b)->state = BIO_CONN_S_CREATE_SOCKET;
}

// BIO_CONN_S_BEFORE: "host:port/path" splits into the host text and, after
// the colon, a port text that replaces any set before.
bool SplitHostText(BIO_CONNECT* c) {
  if (c->param_hostname == nullptr) {
    BIOerr(BIO_F_CONN_STATE, BIO_R_NO_HOSTNAME_SPECIFIED);
    return false;
  }
  char* p = c->param_hostname;
  while (*p != '\0' && *p != ':' && *p != '/') ++p;
  if (*p == ':') {
    char* rest = p + 1;
    size_t n = strcspn(rest, "/");
    char* port = BUF_strndup(rest, n);
    if (port == nullptr) {
      BIOerr(BIO_F_CONN_STATE, ERR_R_MALLOC_FAILURE);
      return false;
    }
    FreeIfSet(c->param_port);
    c->param_port = port;
  }
  *p = '\0';
  if (c->param_port == nullptr) {
    BIOerr(BIO_F_CONN_STATE, BIO_R_NO_PORT_SPECIFIED);
    ERR_add_error_data(2, "host=", c->param_hostname);
    return false;
  }
  return true;
}

// Runs the connect machine from its current state until it is connected,
// must wait, or fails: 1 connected; -1 with retry special set while a
// non-blocking connect is in progress; 0 after a failed non-blocking connect;
// -1 with errors queued for other failures.  The info callback sees each
// step and may stop the machine (0) or change its result.
int conn_state(BIO* b, BIO_CONNECT* c) {
  int ret = -1;
  ConnInfoCallback cb = c->info_callback;
  for (;;) {
    switch (c->state) {
      case BIO_CONN_S_BEFORE:
        if (!SplitHostText(c)) goto exit_loop;
        c->state = BIO_CONN_S_GET_IP;
        break;

      case BIO_CONN_S_GET_IP:
        if (BIO_get_host_ip(c->param_hostname, c->ip) <= 0) goto exit_loop;
        c->state = BIO_CONN_S_GET_PORT;
        break;

      case BIO_CONN_S_GET_PORT:
        if (c->param_port == nullptr) goto exit_loop;
        if (BIO_get_port(c->param_port, &c->port) <= 0) goto exit_loop;
        c->state = BIO_CONN_S_CREATE_SOCKET;
        break;

      case BIO_CONN_S_CREATE_SOCKET:
        if (b->num != -1) {  // left over from an earlier round: never leaked
          close(b->num);
          b->num = -1;
        }
        memset(&c->them, 0, sizeof(c->them));
        c->them.sin_family = AF_INET;
        c->them.sin_port = htons(c->port);
        memcpy(&c->them.sin_addr.s_addr, c->ip, 4);  // network order
        ret = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        if (ret == -1) {
          SYSerr(SYS_F_SOCKET, errno);
          AddHostPort(c);
          BIOerr(BIO_F_CONN_STATE, BIO_R_UNABLE_TO_CREATE_SOCKET);
          goto exit_loop;
        }
        b->num = ret;
        c->state = BIO_CONN_S_NBIO;
        break;

      case BIO_CONN_S_NBIO: {
        if (c->nbio && !BIO_socket_nbio(b->num, 1)) {
          BIOerr(BIO_F_CONN_STATE, BIO_R_ERROR_SETTING_NBIO);
          AddHostPort(c);
          goto exit_loop;
        }
        c->state = BIO_CONN_S_CONNECT;
        int on = 1;
        if (setsockopt(b->num, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof(on)) < 0) {
          SYSerr(SYS_F_SOCKET, errno);
          AddHostPort(c);
          BIOerr(BIO_F_CONN_STATE, BIO_R_KEEPALIVE);
          goto exit_loop;
        }
        break;
      }

      case BIO_CONN_S_CONNECT: {
        ClearRetry(b);
        ret = connect(b->num, reinterpret_cast<sockaddr*>(&c->them), sizeof(c->them));
        int err = errno;
        b->retry_reason = 0;
        if (ret < 0) {
          if (BIO_sock_should_retry(ret)) {
            BIO_set_retry_special(b);
            c->state = BIO_CONN_S_BLOCKED_CONNECT;
            b->retry_reason = BIO_RR_CONNECT;
          } else {
            SYSerr(SYS_F_CONNECT, err);
            AddHostPort(c);
            BIOerr(BIO_F_CONN_STATE, BIO_R_CONNECT_ERROR);
            DropFailedSocket(b);
          }
          goto exit_loop;
        }
        c->state = BIO_CONN_S_OK;
        break;
      }

      case BIO_CONN_S_BLOCKED_CONNECT: {
        int e = BIO_sock_error(b->num);
        if (e != 0) {
          ClearRetry(b);
          SYSerr(SYS_F_CONNECT, e);
          AddHostPort(c);
          BIOerr(BIO_F_CONN_STATE, BIO_R_NBIO_CONNECT_ERROR);
          DropFailedSocket(b);
          ret = 0;
          goto exit_loop;
        }
        c->state = BIO_CONN_S_OK;
        break;
      }

      case BIO_CONN_S_OK:
        ret = 1;
        goto exit_loop;

      default:
        goto exit_loop;
    }
    if (cb != nullptr) {
      ret = cb(b, c->state, ret);
      if (ret == 0) return 0;
    }
  }
exit_loop:
  if (cb != nullptr) ret = cb(b, c->state, ret);
  return ret;
}

int conn_new(BIO* b) {
  b->init = 0;
  b->num = -1;
  b->flags = 0;
  b->ptr = BIO_CONNECT_new();
  return b->ptr != nullptr ? 1 : 0;
}

int conn_free(BIO* a) {
  if (a == nullptr) return 0;
  if (a->ptr == nullptr) return 1;
  if (a->shutdown) {
    CloseSocket(a);
    a->flags = 0;
    a->init = 0;
  }
  BIO_CONNECT_free(Data(a));
  a->ptr = nullptr;
  return 1;
}

int conn_read(BIO* b, char* out, int outl) {
  BIO_CONNECT* data = Data(b);
  int ret = 0;
  if (data->state != BIO_CONN_S_OK) {
    ret = conn_state(b, data);
    if (ret <= 0) return ret;
  }
  if (out != nullptr) ret = SockRead(b, out, outl);
  return ret;
}

int conn_write(BIO* b, const char* in, int inl) {
  BIO_CONNECT* data = Data(b);
  if (data->state != BIO_CONN_S_OK) {
    int ret = conn_state(b, data);
    if (ret <= 0) return ret;
  }
  return SockWrite(b, in, inl);
}

int conn_puts(BIO* b, const char* str) {
  return conn_write(b, str, static_cast<int>(strlen(str)));
}

// Replaces *slot by a copy of `text`; false (slot unchanged) when the copy
// cannot be made.
bool SetText(char** slot, const char* text) {
  char* copy = BUF_strdup(text);
  if (copy == nullptr) {
    BIOerr(BIO_F_CONN_CTRL, ERR_R_MALLOC_FAILURE);
    return false;
  }
  FreeIfSet(*slot);
  *slot = copy;
  return true;
}

// BIO_C_SET_CONNECT: larg 0 host text, 1 port text, 2 four address bytes,
// 3 an int port.  0 only when a copy cannot be made.
long SetConnect(BIO* b, BIO_CONNECT* data, long larg, void* ptr) {
  if (ptr == nullptr) return 1;
  b->init = 1;
  char text[16];
  switch (larg) {
    case 0:
      return SetText(&data->param_hostname, static_cast<const char*>(ptr));
    case 1:
      return SetText(&data->param_port, static_cast<const char*>(ptr));
    case 2: {
      const unsigned char* ip = static_cast<const unsigned char*>(ptr);
      BIO_snprintf(text, sizeof(text), "%d.%d.%d.%d", ip[0], ip[1], ip[2], ip[3]);
      if (!SetText(&data->param_hostname, text)) return 0;
      memcpy(data->ip, ip, 4);
      return 1;
    }
    case 3: {
      int port = *static_cast<const int*>(ptr);
      BIO_snprintf(text, sizeof(text), "%d", port);
      if (!SetText(&data->param_port, text)) return 0;
      data->port = static_cast<unsigned short>(port);
      return 1;
    }
    default:
      return 1;
  }
}

// BIO_C_GET_CONNECT: stores the host text (0), the port text (1), a pointer
// to the address bytes (2) or the port (3, an int) at ptr.
void GetConnect(const BIO* b, BIO_CONNECT* data, long larg, void* ptr) {
  if (!b->init) {
    // The text is a pointer; an int slot gets port 0 instead, never a
    // pointer it has no room for.
    if (larg == 3) {
      *static_cast<int*>(ptr) = 0;
    } else {
      *static_cast<const char**>(ptr) = "not initialized";
    }
    return;
  }
  switch (larg) {
    case 0:
      *static_cast<const char**>(ptr) = data->param_hostname;
      break;
    case 1:
      *static_cast<const char**>(ptr) = data->param_port;
      break;
    case 2:
      *static_cast<const unsigned char**>(ptr) = data->ip;
      break;
    case 3:
      *static_cast<int*>(ptr) = data->port;
      break;
    default:
      break;
  }
}

long conn_ctrl(BIO* b, int cmd, long num, void* ptr) {
  if (auto ret = morvane::bio::DescriptorCtrl(b, cmd, num, ptr, false)) return *ret;
  BIO_CONNECT* data = Data(b);
  switch (cmd) {
    case BIO_CTRL_RESET:
      data->state = BIO_CONN_S_BEFORE;
      CloseSocket(b);
      b->flags = 0;
      return 0;
    case BIO_C_DO_STATE_MACHINE:
      if (data->state != BIO_CONN_S_OK) return conn_state(b, data);
      return 1;
    case BIO_C_GET_CONNECT:
      if (ptr != nullptr) GetConnect(b, data, num, ptr);
      return 1;
    case BIO_C_SET_CONNECT:
      return SetConnect(b, data, num, ptr);
    case BIO_C_SET_NBIO:
      data->nbio = static_cast<int>(num);
      return 1;
    case BIO_CTRL_PENDING:
    case BIO_CTRL_WPENDING:
      return 0;
    case BIO_CTRL_DUP: {
      // The copy starts unconnected: the socket copied into it is not its own.
      BIO* dbio = static_cast<BIO*>(ptr);
      dbio->num = -1;
      if (data->param_port != nullptr && !BIO_set_conn_port(dbio, data->param_port)) return 0;
      if (data->param_hostname != nullptr && !BIO_set_conn_hostname(dbio, data->param_hostname))
        return 0;
      BIO_set_nbio(dbio, data->nbio);
      BIO_callback_ctrl(dbio, BIO_CTRL_SET_CALLBACK,
                        FunctionCast<bio_info_cb*>(data->info_callback));
      return 1;
    }
    case BIO_CTRL_SET_CALLBACK:
      return 0;  // installed through BIO_callback_ctrl only
    case BIO_CTRL_GET_CALLBACK:
      if (ptr != nullptr) *static_cast<ConnInfoCallback*>(ptr) = data->info_callback;
      return 1;
    default:
      return 0;
  }
}

long conn_callback_ctrl(BIO* b, int cmd, bio_info_cb* fp) {
  if (cmd != BIO_CTRL_SET_CALLBACK) return 0;
  // The caller passes the info callback's own type through bio_info_cb*.
  Data(b)->info_callback = FunctionCast<ConnInfoCallback>(fp);
  return 1;
}

constinit BIO_METHOD methods_connectp = {
    BIO_TYPE_CONNECT, "socket connect", conn_write, conn_read, conn_puts,
    nullptr,          conn_ctrl,        conn_new,   conn_free, conn_callback_ctrl,
};

}  // namespace

/* see morvane/bio.h */
BIO_CONNECT* BIO_CONNECT_new(void) {
  BIO_CONNECT* ret = static_cast<BIO_CONNECT*>(MORVANE_malloc(sizeof(BIO_CONNECT)));
  if (ret == nullptr) return nullptr;
  memset(ret, 0, sizeof(*ret));
  ret->state = BIO_CONN_S_BEFORE;
  ret->param_hostname = nullptr;
  ret->param_port = nullptr;
  ret->info_callback = nullptr;
  return ret;
}

/* see morvane/bio.h */
void BIO_CONNECT_free(BIO_CONNECT* a) {
  if (a == nullptr) return;
  FreeIfSet(a->param_hostname);
  FreeIfSet(a->param_port);
  MORVANE_free(a);
}

/* see morvane/bio.h */
BIO_METHOD* BIO_s_connect(void) {
  return &methods_connectp;
}

/* see morvane/bio.h */
BIO* BIO_new_connect(const char* str) {
  BIO* ret = BIO_new(BIO_s_connect());
  if (ret == nullptr) return nullptr;
  if (BIO_set_conn_hostname(ret, str)) return ret;
  BIO_free(ret);
  return nullptr;
}
