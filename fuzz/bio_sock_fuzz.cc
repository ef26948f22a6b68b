// Fuzzes host and port parsing: BIO_get_host_ip, BIO_get_port and
// BIO_get_accept_socket on texts from the input.
//
// No network is touched: this program defines the name and service lookups
// and the socket calls the library makes (gethostbyname, getservbyname,
// socket, bind, listen, connect), and the linker binds the library's calls to
// them.  The lookups answer from a hash of the name; "sockets" are
// descriptors of /dev/null; bind, listen and connect only record their
// arguments and fail or succeed as the input's script says.
//
// Checks: a complete dotted quad is taken as it is and never looked up;
// other texts are looked up and the answer used (or refused with its
// reason); a refusal without lookup is an empty part before a dot; a port is
// a non-zero leading number, else a service; the listening socket is bound
// to the host and port the text names (every address for "*" or none), a
// probe goes only to an address in use under BIO_BIND_REUSEADDR_IF_UNUSED,
// and a failure leaves no descriptor open.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include <morvane/bio.h>
#include <morvane/err.h>

namespace {

uint32_t Fnv(const char* s) {
  uint32_t h = 2166136261u;
  for (; *s != '\0'; s++) h = (h ^ static_cast<uint8_t>(*s)) * 16777619u;
  return h;
}

// What the fake resolver answers for a name.
enum class Answer { kNone, kNoAddress, kInet6, kInet };
Answer HostAnswer(const char* name) {
  return static_cast<Answer>(Fnv(name) % 4);
}
void HostAddress(const char* name, unsigned char ip[4]) {
  const uint32_t h = Fnv(name) * 2654435761u;
  memcpy(ip, &h, 4);
}
bool ServicePort(const char* name, unsigned short* port) {
  const uint32_t h = Fnv(name);
  if (h % 3 != 0) return false;
  *port = static_cast<unsigned short>(h >> 8);
  return true;
}

// The script and the record of the socket calls.
struct Net {
  uint32_t script = 0;  // a bit per call: 1 fails it
  int calls = 0;
  std::vector<int> fds;  // descriptors handed out by socket()
  std::vector<std::string> looked_up;
  std::vector<sockaddr_in> bound, probed;
  bool Fails() { return (script >> (calls++ % 32) & 1) != 0; }
};
Net g_net;

}  // namespace

// ---- the platform calls the library makes, answered here ----
extern "C" struct hostent* gethostbyname(const char* name) {
  static struct hostent he;
  static char addr[16];
  static char* list[2];
  static char* aliases[1];
  g_net.looked_up.push_back(name);
  const Answer a = HostAnswer(name);
  if (a == Answer::kNone) return nullptr;
  he.h_name = const_cast<char*>(name);
  he.h_aliases = aliases;
  he.h_addrtype = a == Answer::kInet6 ? AF_INET6 : AF_INET;
  he.h_length = a == Answer::kInet6 ? 16 : 4;
  HostAddress(name, reinterpret_cast<unsigned char*>(addr));
  list[0] = a == Answer::kNoAddress ? nullptr : addr;
  he.h_addr_list = list;
  return &he;
}

extern "C" struct servent* getservbyname(const char* name, const char* proto) {
  static struct servent se;
  unsigned short port;
  Check(strcmp(proto, "tcp") == 0, "services over TCP");
  if (!ServicePort(name, &port)) return nullptr;
  se.s_name = const_cast<char*>(name);
  se.s_port = htons(port);
  se.s_proto = const_cast<char*>(proto);
  return &se;
}

extern "C" int socket(int, int, int) {
  if (g_net.Fails()) {
    errno = EMFILE;
    return -1;
  }
  const int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  Check(fd >= 0, "/dev/null");
  g_net.fds.push_back(fd);
  return fd;
}

extern "C" int bind(int, const struct sockaddr* addr, socklen_t len) {
  Check(len == sizeof(sockaddr_in), "an IPv4 address");
  g_net.bound.push_back(*reinterpret_cast<const sockaddr_in*>(addr));
  if (g_net.Fails()) {
    errno = EADDRINUSE;
    return -1;
  }
  return 0;
}

extern "C" int listen(int, int) {
  if (g_net.Fails()) {
    errno = EADDRINUSE;
    return -1;
  }
  return 0;
}

extern "C" int connect(int, const struct sockaddr* addr, socklen_t len) {
  Check(len == sizeof(sockaddr_in), "an IPv4 address");
  g_net.probed.push_back(*reinterpret_cast<const sockaddr_in*>(addr));
  if (g_net.Fails()) {
    errno = ECONNREFUSED;
    return -1;
  }
  return 0;
}

namespace {

// The value of a part of digits, or 256 for anything above 255.
int PartValue(const std::string& digits) {
  const size_t nz = digits.find_first_not_of('0');
  if (nz == std::string::npos) return 0;
  return digits.size() - nz > 3 ? 256 : std::min(256, std::stoi(digits.substr(nz)));
}

size_t DigitsEnd(const std::string& s, size_t p) {
  while (p < s.size() && s[p] >= '0' && s[p] <= '9') p++;
  return p;
}

// Whether the text is four parts of digits, each at most 255, joined by dots.
bool ParseQuad(const std::string& s, unsigned char ip[4]) {
  size_t p = 0;
  for (int k = 0; k < 4; k++) {
    const size_t q = DigitsEnd(s, p);
    if (q == p || PartValue(s.substr(p, q - p)) > 255) return false;
    ip[k] = static_cast<unsigned char>(PartValue(s.substr(p, q - p)));
    if (k < 3 && (q == s.size() || s[q] != '.')) return false;
    p = q + 1;
  }
  return p == s.size() + 1;
}

// Whether reading the text as an address meets an empty part before a dot
// before anything else that makes it a name.
bool EmptyPartFirst(const std::string& s) {
  size_t p = 0;
  for (int k = 0;; k++) {
    if (p < s.size() && s[p] == '.') return true;
    const size_t q = DigitsEnd(s, p);
    if (q == p || PartValue(s.substr(p, q - p)) > 255) return false;
    if (q == s.size() || s[q] != '.' || k == 3) return false;
    p = q + 1;
  }
}

// BIO_get_host_ip's expected result: 1 and the address, or 0.
int ModelHostIp(const std::string& s, unsigned char ip[4], bool* lookup) {
  *lookup = false;
  if (ParseQuad(s, ip)) return 1;
  if (EmptyPartFirst(s)) return 0;
  *lookup = true;
  if (HostAnswer(s.c_str()) != Answer::kInet) return 0;
  HostAddress(s.c_str(), ip);
  return 1;
}

int ModelPort(const std::string& s, unsigned short* port) {
  // A leading number decides, 0 included (a free port when listening).
  char* end = nullptr;
  const int i = static_cast<int>(strtol(s.c_str(), &end, 10));
  if (end != s.c_str()) {
    *port = static_cast<unsigned short>(i);
    return 1;
  }
  if (ServicePort(s.c_str(), port)) return 1;
  static const std::pair<const char*, unsigned short> kKnown[] = {
      {"http", 80}, {"telnet", 23}, {"socks", 1080}, {"https", 443},
      {"ssl", 443}, {"ftp", 21},    {"gopher", 70}};
  for (const auto& k : kKnown) {
    if (s == k.first) {
      *port = k.second;
      return 1;
    }
  }
  return 0;
}

void FuzzHostIp(const std::string& s) {
  unsigned char want[4] = {}, got[4] = {};
  bool lookup;
  const int expect = ModelHostIp(s, want, &lookup);
  g_net.looked_up.clear();
  ERR_clear_error();
  const int r = BIO_get_host_ip(s.c_str(), got);
  Check(r == expect, "host result as the model says");
  Check(g_net.looked_up.size() == (lookup ? 1u : 0u), "looked up only when not a quad");
  if (r == 1) {
    Check(memcmp(got, want, 4) == 0, "the address");
    Check(ERR_peek_error() == 0, "no error on success");
  } else {
    Check(ERR_peek_error() != 0, "an error queued");
    if (!lookup) Check(ERR_GET_REASON(ERR_peek_error()) == BIO_R_INVALID_IP_ADDRESS, "invalid");
  }
}

void FuzzPort(const std::string& s) {
  unsigned short want = 0, got = 0;
  const int expect = ModelPort(s, &want);
  ERR_clear_error();
  const int r = BIO_get_port(s.c_str(), &got);
  Check(r == expect && (r == 0 || got == want), "port as the model says");
  Check((r == 0) == (ERR_peek_error() != 0), "an error exactly on failure");
}

void FuzzAcceptSocket(const std::string& text, int bind_mode, uint32_t script) {
  // The model: a '/' ends the text, the port follows the last ':', the host
  // precedes the first.
  std::string t = text.substr(0, text.find('/'));
  const size_t first = t.find(':'), last = t.rfind(':');
  const std::string host = first == std::string::npos ? "*" : t.substr(0, first);
  const std::string port_text = last == std::string::npos ? t : t.substr(last + 1);
  const bool any = host == "*";
  unsigned short port = 0;
  unsigned char ip[4] = {};
  bool lookup;
  const bool named = ModelPort(port_text, &port) && (any || ModelHostIp(host, ip, &lookup));

  g_net = Net();
  g_net.script = script;
  ERR_clear_error();
  const int fd = BIO_get_accept_socket(text.c_str(), bind_mode);
  for (int f : g_net.fds) {
    const bool open = fcntl(f, F_GETFD) != -1;
    Check(open == (f == fd), "only the returned descriptor stays open");
  }
  if (fd >= 0) close(fd);
  Check((fd < 0) == (ERR_peek_error() != 0), "an error exactly on failure");
  if (!named) {
    Check(fd == -1 && g_net.bound.empty(), "a bad text binds nothing");
    return;
  }
  for (const sockaddr_in& a : g_net.bound) {
    Check(a.sin_family == AF_INET && ntohs(a.sin_port) == port, "bound to the port");
    if (any) Check(a.sin_addr.s_addr == htonl(INADDR_ANY), "bound to every address");
    if (!any) Check(memcmp(&a.sin_addr.s_addr, ip, 4) == 0, "bound to the host");
  }
  for (const sockaddr_in& a : g_net.probed) {
    Check(bind_mode == BIO_BIND_REUSEADDR_IF_UNUSED, "a probe only when asked");
    Check(ntohs(a.sin_port) == port, "the probe goes to the port in use");
    if (any) Check(a.sin_addr.s_addr == htonl(INADDR_LOOPBACK), "the probe stays local");
    if (!any) Check(memcmp(&a.sin_addr.s_addr, ip, 4) == 0, "the probe goes to the host");
  }
  Check(g_net.probed.size() <= 1 && g_net.bound.size() <= 2, "at most one retry");
  Check(fd < 0 || !g_net.bound.empty(), "a socket is bound");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const std::string host = in.ConsumeRandomLengthString(64);
  const std::string port = in.ConsumeRandomLengthString(64);
  const std::string accept = in.ConsumeRandomLengthString(128);
  const int bind_mode = in.ConsumeIntegralInRange(0, 2);
  const uint32_t script = in.ConsumeIntegral<uint32_t>();
  FuzzHostIp(host.c_str());
  FuzzPort(port.c_str());
  FuzzAcceptSocket(accept.c_str(), bind_mode, script);
  ERR_clear_error();
  return 0;
}
