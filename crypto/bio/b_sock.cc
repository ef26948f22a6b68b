// Socket helpers over the BSD socket interface, IPv4 and TCP only: host and
// port texts to an address and a port number, listening sockets made from a
// "host:port" text, accepting with the peer described as text, non-blocking
// mode, a socket's pending error and the retry decision after a failed call.
//
// Implementation notes: the platform's name and service lookups return static
// records; they are called and copied out under the static locks
// CRYPTO_LOCK_GETHOSTBYNAME and CRYPTO_LOCK_GETSERVBYNAME.

#include <arpa/inet.h>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "internal/lock.h"

namespace {

// Ports of a few well-known services, for platforms whose service database
// lacks them.
struct Service {
  const char* name;
  unsigned short port;
};
constexpr Service kFallbackServices[] = {
    {"http", 80}, {"telnet", 23}, {"socks", 1080}, {"https", 443},
    {"ssl", 443}, {"ftp", 21},    {"gopher", 70},
};

// Parses a complete dotted quad ("a.b.c.d", each part 0..255) into ip[0..3]:
// 1 when it is one, 0 when the text is not an address (a name, a part above
// 255, too many or too few parts, a trailing dot), -1 for an empty part
// before a dot.
int ParseDottedQuad(const char* str, unsigned char ip[4]) {
  unsigned int part[4] = {0, 0, 0, 0};
  int n = 0;
  bool digit = false;
  for (;; ++str) {
    char c = *str;
    if (c >= '0' && c <= '9') {
      digit = true;
      part[n] = part[n] * 10 + static_cast<unsigned int>(c - '0');
      if (part[n] > 255) return 0;
    } else if (c == '.') {
      if (!digit) return -1;
      if (n == 3) return 0;
      ++n;
      digit = false;
    } else if (c == '\0' && n == 3 && digit) {
      break;
    } else {
      return 0;
    }
  }
  for (int i = 0; i < 4; ++i) ip[i] = static_cast<unsigned char>(part[i]);
  return 1;
}

// Resolves `name` through the platform under the name-lookup lock; queues the
// reason of a failure and returns false.
bool LookUpHost(const char* name, unsigned char ip[4]) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_GETHOSTBYNAME);
  const struct hostent* he = BIO_gethostbyname(name);
  if (he == nullptr || he->h_addr_list == nullptr || he->h_addr_list[0] == nullptr) {
    BIOerr(BIO_F_BIO_GET_HOST_IP, BIO_R_BAD_HOSTNAME_LOOKUP);
    return false;
  }
  if (static_cast<short>(he->h_addrtype) != AF_INET || he->h_length < 4) {
    BIOerr(BIO_F_BIO_GET_HOST_IP, BIO_R_GETHOSTBYNAME_ADDR_IS_NOT_AF_INET);
    return false;
  }
  memcpy(ip, he->h_addr_list[0], 4);
  return true;
}

// The platform's service database, under the service-lookup lock.
bool LookUpService(const char* name, unsigned short* port) {
  MORVANE_WRITE_LOCKED(CRYPTO_LOCK_GETSERVBYNAME);
  const struct servent* s = getservbyname(name, "tcp");
  if (s == nullptr) return false;
  *port = ntohs(static_cast<uint16_t>(s->s_port));
  return true;
}

// Queues the system error of `func` with `reason` and the error data
// "port='<text>'" that every failure of BIO_get_accept_socket carries.
void AcceptSocketError(int func, int reason, const char* text, int bio_reason) {
  SYSerr(func, reason);
  ERR_add_error_data(3, "port='", text, "'");
  BIOerr(BIO_F_BIO_GET_ACCEPT_SOCKET, bio_reason);
}

// Whether nobody answers at `addr`: a probe connection to it fails.  False
// also when the probe socket cannot be made.
bool NobodyListens(const sockaddr_in& addr) {
  int probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (probe == -1) return false;
  int r = connect(probe, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr));
  close(probe);
  return r == -1;
}

}  // namespace

/* see morvane/bio.h */
int BIO_get_host_ip(const char* str, unsigned char* ip) {
  if (str == nullptr) {
    BIOerr(BIO_F_BIO_GET_HOST_IP, BIO_R_NULL_PARAMETER);
    return 0;
  }
  unsigned char addr[4];
  int parsed = ParseDottedQuad(str, addr);
  bool ok;
  if (parsed == -1) {
    BIOerr(BIO_F_BIO_GET_HOST_IP, BIO_R_INVALID_IP_ADDRESS);
    ok = false;
  } else {
    if (BIO_sock_init() != 1) return 0;
    if (parsed == 1) {
      memcpy(ip, addr, 4);
      return 1;
    }
    ok = LookUpHost(str, ip);
  }
  if (!ok) ERR_add_error_data(2, "host=", str);
  return ok ? 1 : 0;
}

/* see morvane/bio.h */
int BIO_get_port(const char* str, unsigned short* port_ptr) {
  if (str == nullptr) {
    BIOerr(BIO_F_BIO_GET_PORT, BIO_R_NO_PORT_DEFINED);
    return 0;
  }
  // A leading number decides, as atoi reads it (whitespace and a sign
  // allowed, any text after it ignored); a port is its low 16 bits.  Port 0
  // asks the system for a free port when listening.
  char* end = nullptr;
  const int i = static_cast<int>(strtol(str, &end, 10));
  if (end != str) {
    *port_ptr = static_cast<unsigned short>(i);
    return 1;
  }
  if (LookUpService(str, port_ptr)) return 1;
  for (const Service& s : kFallbackServices) {
    if (strcmp(str, s.name) == 0) {
      *port_ptr = s.port;
      return 1;
    }
  }
  // The service lookup sets no errno: the reason is the library's own.
  BIOerr(BIO_F_BIO_GET_PORT, BIO_R_UNKNOWN_SERVICE);
  ERR_add_error_data(3, "service='", str, "'");
  return 0;
}

/* see morvane/bio.h */
struct hostent* BIO_gethostbyname(const char* name) {
  return gethostbyname(name);
}

/* see morvane/bio.h */
int BIO_sock_error(int sock) {
  int err = 0;
  socklen_t size = sizeof(err);
  if (getsockopt(sock, SOL_SOCKET, SO_ERROR, &err, &size) < 0) return 1;
  return err;
}

/* see morvane/bio.h */
int BIO_sock_init(void) {
  return 1;
}

/* see morvane/bio.h */
void BIO_sock_cleanup(void) {}

/* see morvane/bio.h */
int BIO_socket_ioctl(int fd, long type, void* arg) {
  int i = ioctl(fd, static_cast<unsigned long>(type), arg);
  if (i < 0) SYSerr(SYS_F_IOCTLSOCKET, errno);
  return i;
}

/* see morvane/bio.h */
int BIO_get_accept_socket(const char* host, int bind_mode) {
  if (BIO_sock_init() != 1) return -1;
  char* str = BUF_strdup(host);
  if (str == nullptr) return -1;

  // Every ':' ends the text before it, so the port is the text after the
  // last colon and the host the text before the first; a '/' ends it all.
  char* h = str;
  char* p = nullptr;
  for (char* e = str; *e != '\0'; ++e) {
    if (*e == ':') {
      *e = '\0';
      p = e + 1;
    } else if (*e == '/') {
      *e = '\0';
      break;
    }
  }
  const char* host_text = h;
  if (p == nullptr) {
    p = h;
    host_text = "*";
  }
  const bool any = strcmp(host_text, "*") == 0;

  int s = -1;
  bool ok = false;
  unsigned short port = 0;
  sockaddr_in server;
  memset(&server, 0, sizeof(server));
  server.sin_family = AF_INET;
  if (!BIO_get_port(p, &port)) goto end;
  server.sin_port = htons(port);
  if (any) {
    server.sin_addr.s_addr = htonl(INADDR_ANY);
  } else {
    unsigned char ip[4];
    if (!BIO_get_host_ip(host_text, ip)) goto end;
    memcpy(&server.sin_addr.s_addr, ip, 4);  // already in network order
  }

  for (;;) {
    s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (s == -1) {
      AcceptSocketError(SYS_F_SOCKET, errno, host, BIO_R_UNABLE_TO_CREATE_SOCKET);
      goto end;
    }
    if (bind_mode == BIO_BIND_REUSEADDR) {
      int on = 1;
      setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &on, sizeof(on));
      bind_mode = BIO_BIND_NORMAL;
    }
    if (bind(s, reinterpret_cast<sockaddr*>(&server), sizeof(server)) == 0) break;
    int err_num = errno;
    if (bind_mode == BIO_BIND_REUSEADDR_IF_UNUSED && err_num == EADDRINUSE) {
      // In use: by a live listener, or only by the lingering connections of
      // a closed one?  A failing probe connection tells the second case,
      // which may take the address over.
      sockaddr_in probe = server;
      if (any) probe.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      if (NobodyListens(probe)) {
        bind_mode = BIO_BIND_REUSEADDR;
        close(s);
        s = -1;
        continue;
      }
    }
    AcceptSocketError(SYS_F_BIND, err_num, host, BIO_R_UNABLE_TO_BIND_SOCKET);
    goto end;
  }
  if (listen(s, 128) == -1) {
    AcceptSocketError(SYS_F_LISTEN, errno, host, BIO_R_UNABLE_TO_LISTEN_SOCKET);
    goto end;
  }
  ok = true;

end:
  MORVANE_free(str);
  if (!ok && s != -1) {
    close(s);
    s = -1;
  }
  return s;
}

/* see morvane/bio.h */
int BIO_accept(int sock, char** addr) {
  sockaddr_in from;
  memset(&from, 0, sizeof(from));
  socklen_t len = sizeof(from);
  int ret = accept(sock, reinterpret_cast<sockaddr*>(&from), &len);
  if (ret == -1) {
    int err = errno;
    if (BIO_sock_should_retry(ret)) return -2;
    SYSerr(SYS_F_ACCEPT, err);
    BIOerr(BIO_F_BIO_ACCEPT, BIO_R_ACCEPT_ERROR);
    return -1;
  }
  if (addr == nullptr) return ret;
  // "255.255.255.255:65535" and its NUL fit in 24 bytes.
  constexpr int kAddrTextSize = 24;
  if (*addr == nullptr) {
    *addr = static_cast<char*>(MORVANE_malloc(kAddrTextSize));
    if (*addr == nullptr) {
      BIOerr(BIO_F_BIO_ACCEPT, ERR_R_MALLOC_FAILURE);
      return ret;
    }
  }
  uint32_t l = ntohl(from.sin_addr.s_addr);
  BIO_snprintf(*addr, kAddrTextSize, "%d.%d.%d.%d:%d", static_cast<int>((l >> 24) & 0xff),
               static_cast<int>((l >> 16) & 0xff), static_cast<int>((l >> 8) & 0xff),
               static_cast<int>(l & 0xff), static_cast<int>(ntohs(from.sin_port)));
  return ret;
}

/* see morvane/bio.h */
int BIO_set_tcp_ndelay(int s, int on) {
  return setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof(on)) == 0 ? 1 : 0;
}

/* see morvane/bio.h */
int BIO_socket_nbio(int s, int mode) {
  int l = mode;
  return BIO_socket_ioctl(s, FIONBIO, &l) == 0 ? 1 : 0;
}

/* see morvane/bio.h */
int BIO_sock_should_retry(int i) {
  if (i == 0 || i == -1) return BIO_sock_non_fatal_error(errno);
  return 0;
}

/* see morvane/bio.h */
int BIO_sock_non_fatal_error(int err) {
  // The same set as for descriptors: interrupted, would block, in progress,
  // already in progress, not connected yet, protocol error.
  return BIO_fd_non_fatal_error(err);
}
