// The OCSP HTTP client against a real HTTP server on 127.0.0.1: a small
// server in the test (a listening socket on a port the system picks, one
// accepting thread, scripted answers) checks the request and plays answers.
// With ocsp_lighttpd_test (the client against lighttpd) these tests make the
// OcspLoopback suite.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/x509.h>

#include "loopback.h"
#include "ocsp_util.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using ocsp_test::ConnectLoopback;
constexpr int kLib = ERR_LIB_OCSP;

// How the server sends its answer.
struct Script {
  std::string answer;
  size_t first = 0;          // when not 0: send this many bytes, pause, then the rest
  bool byte_by_byte = false;
  int read_delay_ms = 0;     // wait before reading the request
};

// One connection served by a thread: the request is read whole (headers
// and Content-Length bytes), then the answer is sent and the connection
// closed.  Every wait is bounded.
class Server {
 public:
  explicit Server(Script script) : script_(std::move(script)) {
    lfd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (script_.read_delay_ms > 0) {
      // A small receive window, inherited by the connection, so that a
      // large request fills it while the server waits.
      const int rcvbuf = 4096;
      setsockopt(lfd_, SOL_SOCKET, SO_RCVBUF, &rcvbuf, sizeof(rcvbuf));
    }
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    if (bind(lfd_, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0 || listen(lfd_, 1) != 0) {
      ADD_FAILURE() << "cannot listen on 127.0.0.1";
      return;
    }
    socklen_t len = sizeof(a);
    getsockname(lfd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Run(); });
  }
  ~Server() {
    if (thread_.joinable()) thread_.join();
    if (lfd_ >= 0) close(lfd_);
  }
  int port() const { return port_; }
  // The request as received; valid after Join().
  const std::string& request() const { return request_; }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  bool Wait(int fd, short ev) {
    pollfd p{fd, ev, 0};
    return poll(&p, 1, 5000) == 1;
  }
  void Run() {
    if (!Wait(lfd_, POLLIN)) return;
    const int fd = accept(lfd_, nullptr, nullptr);
    if (fd < 0) return;
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
    if (script_.read_delay_ms > 0)
      std::this_thread::sleep_for(std::chrono::milliseconds(script_.read_delay_ms));
    size_t want = std::string::npos;
    char buf[4096];
    while (request_.size() < want) {
      if (!Wait(fd, POLLIN)) break;
      const ssize_t n = read(fd, buf, sizeof(buf));
      if (n <= 0) break;
      request_.append(buf, static_cast<size_t>(n));
      const size_t end = request_.find("\r\n\r\n");
      if (want == std::string::npos && end != std::string::npos) {
        const size_t cl = request_.find("Content-Length: ");
        want = end + 4 + (cl != std::string::npos ? std::stoul(request_.substr(cl + 16)) : 0);
      }
    }
    const std::string& a = script_.answer;
    if (script_.byte_by_byte) {
      for (char c : a)
        if (write(fd, &c, 1) != 1) break;
    } else if (script_.first != 0) {
      morvane_test::WriteAll(fd, a.substr(0, script_.first));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      morvane_test::WriteAll(fd, a.substr(script_.first));
    } else {
      morvane_test::WriteAll(fd, a);
    }
    shutdown(fd, SHUT_WR);
    // Wait for the client to close before closing, so nothing is reset.
    while (Wait(fd, POLLIN) && read(fd, buf, sizeof(buf)) > 0) {
    }
    close(fd);
  }

  Script script_;
  int lfd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string request_;
};

OCSP_REQUEST* MakeRequest(int ids = 1) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  for (int i = 0; i < ids; i++) {
    OCSP_CERTID* id = OCSP_cert_to_id(nullptr, nullptr, ocsp_test::CaCert());
    ASN1_INTEGER_set(id->serialNumber, i + 1);
    OCSP_request_add0_id(req, id);
  }
  return req;
}

std::string ReqDer(OCSP_REQUEST* req) {
  unsigned char* p = nullptr;
  const int n = i2d_OCSP_REQUEST(req, &p);
  std::string s(reinterpret_cast<char*>(p), static_cast<size_t>(n));
  CRYPTO_free(p);
  return s;
}

const std::string kOk = "HTTP/1.0 200 OK\r\nContent-Type: application/ocsp-response\r\n\r\n";
const std::string kTryLater("\x30\x03\x0a\x01\x03", 5);

// One blocking exchange: the response (null on failure).
OCSP_RESPONSE* Exchange(const Script& script, std::string* request = nullptr) {
  Server srv(script);
  const int fd = ConnectLoopback(srv.port(), false);
  if (fd < 0) return nullptr;
  BIO* b = BIO_new_socket(fd, 1);
  OCSP_REQUEST* req = MakeRequest();
  char path[] = "/ocsp";
  OCSP_RESPONSE* resp = OCSP_sendreq_bio(b, path, req);
  BIO_free(b);
  srv.Join();
  if (request != nullptr) *request = srv.request();
  OCSP_REQUEST_free(req);
  return resp;
}

TEST(OcspLoopback, SignedResponseAndRequestBytes) {
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, nullptr, ocsp_test::CaCert());
  ASN1_TIME* now = X509_gmtime_adj(nullptr, 0);
  OCSP_basic_add1_status(bs, id, 0, -1, nullptr, now, nullptr);
  ASSERT_EQ(1, OCSP_basic_sign(bs, ocsp_test::CaCert(), ocsp_test::CaKey(), EVP_sha256(),
                               nullptr, 0));
  OCSP_RESPONSE* made = OCSP_response_create(0, bs);
  const std::string der = ocsp_test::Der(made);
  std::string request;
  OCSP_RESPONSE* got = Exchange({kOk + der}, &request);
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(der, ocsp_test::Der(got));
  OCSP_REQUEST* req = MakeRequest();
  const std::string rd = ReqDer(req);
  EXPECT_EQ("POST /ocsp HTTP/1.0\r\nContent-Type: application/ocsp-request\r\nContent-Length: " +
                std::to_string(rd.size()) + "\r\n\r\n" + rd,
            request);
  OCSP_REQUEST_free(req);
  OCSP_RESPONSE_free(got);
  OCSP_RESPONSE_free(made);
  ASN1_TIME_free(now);
  OCSP_CERTID_free(id);
  OCSP_BASICRESP_free(bs);
}

// Five bytes are a whole response: the client decides the length from the
// first two.
TEST(OcspLoopback, BareErrorStatusIsParsed) {
  ERR_clear_error();
  OCSP_RESPONSE* got = Exchange({kOk + kTryLater});
  ASSERT_NE(nullptr, got);
  EXPECT_EQ(3, OCSP_response_status(got));
  OCSP_RESPONSE_free(got);
  EXPECT_TRUE(ErrorsAre({}));
}

TEST(OcspLoopback, StatusLines) {
  struct Row {
    const char* line;
    int reason;  // 0: nothing queued
    const char* data;
  } rows[] = {
      {"HTTP/1.0 404 Not Found\r\n", OCSP_R_SERVER_RESPONSE_ERROR, "Code=404,Reason=Not Found"},
      {"HTTP/1.0 500\r\n", OCSP_R_SERVER_RESPONSE_ERROR, "Code=500"},
      {"HTTP/1.0\r\n", OCSP_R_SERVER_RESPONSE_PARSE_ERROR, nullptr},
      {"HTTP/1.0 2x0 OK\r\n", 0, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    ERR_clear_error();
    EXPECT_EQ(nullptr, Exchange({std::string(r.line) + "\r\n" + kTryLater}));
    if (r.reason == 0) {
      EXPECT_TRUE(ErrorsAre({}));
    } else {
      EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_PARSE_HTTP_LINE1, r.reason, r.data}}));
    }
  }
}

// A response of exactly the largest accepted length (102400 content octets).
std::string LargestResponse() {
  std::string big;
  for (int extra = 102400 - 40;; extra++) {
    OCSP_RESPONSE* r = OCSP_response_create(0, nullptr);
    r->responseBytes = OCSP_RESPBYTES_new();
    r->responseBytes->responseType = OBJ_nid2obj(365);
    std::string fill(static_cast<size_t>(extra), 'x');
    ASN1_STRING_set(r->responseBytes->response, fill.data(), extra);
    big = ocsp_test::Der(r);
    OCSP_RESPONSE_free(r);
    if (big.size() >= 102405) break;
  }
  return big;
}

TEST(OcspLoopback, LengthFields) {
  const std::string largest = LargestResponse();
  ASSERT_EQ("30830190", morvane_test::ToHex(reinterpret_cast<const uint8_t*>(largest.data()), 4));
  ASSERT_EQ(0, largest[4]);
  OCSP_RESPONSE* got = Exchange({kOk + largest});
  ASSERT_NE(nullptr, got);
  OCSP_RESPONSE_free(got);
  for (const char* hdr : {"\x30\x84\x00\x01\x90\x01", "\x30\x80\x00\x00\x00\x00",
                          "\x30\x85\x00\x00\x00\x01"}) {
    ERR_clear_error();
    EXPECT_EQ(nullptr, Exchange({kOk + std::string(hdr, 6) + std::string(16, '\0')}));
    ERR_clear_error();
  }
}

TEST(OcspLoopback, AnswerInPieces) {
  const std::string answer = kOk + kTryLater;
  {
    OCSP_RESPONSE* got = Exchange({answer, 0, true});
    ASSERT_NE(nullptr, got);
    OCSP_RESPONSE_free(got);
  }
  for (size_t k = 1; k < answer.size(); k++) {
    SCOPED_TRACE(k);
    OCSP_RESPONSE* got = Exchange({answer, k});
    ASSERT_NE(nullptr, got);
    EXPECT_EQ(3, OCSP_response_status(got));
    OCSP_RESPONSE_free(got);
  }
}

TEST(OcspLoopback, LongHeaderLineFails) {
  for (const std::string& header : {std::string(120, 'a'), std::string(120, 'a') + "\r\n"}) {
    Server srv({"HTTP/1.0 200 OK\r\n" + header + "\r\n" + kTryLater});
    const int fd = ConnectLoopback(srv.port(), false);
    ASSERT_GE(fd, 0);
    BIO* b = BIO_new_socket(fd, 1);
    OCSP_REQUEST* req = MakeRequest();
    OCSP_REQ_CTX* ctx = OCSP_sendreq_new(b, nullptr, req, 100);
    ASSERT_NE(nullptr, ctx);
    OCSP_RESPONSE* resp = nullptr;
    EXPECT_EQ(0, OCSP_sendreq_nbio(&resp, ctx));
    EXPECT_EQ(nullptr, resp);
    OCSP_REQ_CTX_free(ctx);
    BIO_free(b);
    srv.Join();
    OCSP_REQUEST_free(req);
  }
}

TEST(OcspLoopback, ClosedInBody) {
  ERR_clear_error();
  EXPECT_EQ(nullptr, Exchange({kOk + "\x30\x10\x0a\x01"}));
  ERR_clear_error();
}

// Every failure of the exchange says why.  The answers come from a scripted
// stream that ends when they are read (or fails a read or the write).
TEST(OcspClient, FailuresSayWhy) {
  using morvane_test::ScriptStep;
  const std::string head = "HTTP/1.0 200 OK\r\n";
  struct Row {
    std::string answer;
    int reason;
    const char* data;
    ScriptStep::Kind read = ScriptStep::kMove, write = ScriptStep::kMove;
  } rows[] = {
      {kOk + "\x30\x10\x0a\x01", OCSP_R_RESPONSE_TRUNCATED, "4 of 18 bytes"},
      {kOk + "\x30", OCSP_R_RESPONSE_TRUNCATED, "before the length of the response"},
      {head + "X: y\r\n", OCSP_R_RESPONSE_TRUNCATED, "before the end of the HTTP header"},
      {kOk + std::string("\x30\x84\x00\x01\x90\x01", 6) + std::string(16, '\0'),
       OCSP_R_RESPONSE_TOO_LONG, "102401 bytes, at most 102400"},
      {kOk + "\x04\x03"
             "abc",
       OCSP_R_SERVER_RESPONSE_PARSE_ERROR, "the response is not a SEQUENCE"},
      {kOk + std::string("\x30\x85\x00\x00\x00\x00\x01", 7), OCSP_R_SERVER_RESPONSE_PARSE_ERROR,
       "bad length of the response"},
      {head + std::string(120, 'a'), OCSP_R_RESPONSE_LINE_TOO_LONG, "longer than 99 bytes"},
      {head + std::string(120, 'a') + "\r\n", OCSP_R_RESPONSE_LINE_TOO_LONG,
       "longer than 99 bytes"},
      {kOk + kTryLater, OCSP_R_SERVER_READ_ERROR, nullptr, ScriptStep::kFail},
      {kOk + kTryLater, OCSP_R_SERVER_WRITE_ERROR, nullptr, ScriptStep::kMove, ScriptStep::kFail},
  };
  OCSP_REQUEST* req = MakeRequest();
  for (const Row& r : rows) {
    SCOPED_TRACE(r.data != nullptr ? r.data : "stream failure");
    BIO* b = morvane_test::NewScriptedStream();
    morvane_test::Script(b).input = r.answer;
    morvane_test::Script(b).read_script.push_back({r.read});
    morvane_test::Script(b).write_script.push_back({r.write});
    OCSP_REQ_CTX* ctx = OCSP_sendreq_new(b, nullptr, req, 100);
    ASSERT_NE(nullptr, ctx);
    OCSP_RESPONSE* resp = nullptr;
    EXPECT_EQ(0, OCSP_sendreq_nbio(&resp, ctx));
    EXPECT_EQ(nullptr, resp);
    EXPECT_TRUE(ErrorsAre({{kLib, OCSP_F_OCSP_SENDREQ_NBIO, r.reason, r.data}}));
    OCSP_REQ_CTX_free(ctx);
    BIO_free(b);
  }
  OCSP_REQUEST_free(req);
}

TEST(OcspLoopback, PathWithControlBytesRefused) {
  OCSP_REQUEST* req = MakeRequest();
  BIO* mem = BIO_new(BIO_s_mem());
  for (const char* p : {"/a\r\nX: y", "/a b", "/a\tb", "/\x7f"}) {
    EXPECT_EQ(nullptr, OCSP_sendreq_new(mem, const_cast<char*>(p), req, -1));
  }
  ERR_clear_error();
  OCSP_REQ_CTX* ctx = OCSP_sendreq_new(mem, nullptr, req, -1);
  ASSERT_NE(nullptr, ctx);
  OCSP_REQ_CTX_free(ctx);
  BIO_free(mem);
  OCSP_REQUEST_free(req);
}

// A non-blocking stream driven in a select loop: writes that would block
// (a large request, a small send buffer and a server that reads late) and
// reads that would block (an answer in two parts) return -1 and resume.
TEST(OcspLoopback, NonBlockingSelectLoop) {
  const std::string answer = kOk + kTryLater;
  Server srv({answer, answer.size() - 3, false, 100});
  const int fd = ConnectLoopback(srv.port(), true, 4096);
  ASSERT_GE(fd, 0);
  BIO* b = BIO_new_socket(fd, 1);
  OCSP_REQUEST* req = MakeRequest(3000);
  OCSP_REQ_CTX* ctx = OCSP_sendreq_new(b, const_cast<char*>("/ocsp"), req, -1);
  ASSERT_NE(nullptr, ctx);
  OCSP_RESPONSE* resp = nullptr;
  int rv = -1, retries = 0;
  for (int round = 0; round < 100000 && rv == -1; round++) {
    rv = OCSP_sendreq_nbio(&resp, ctx);
    if (rv != -1) break;
    retries++;
    fd_set rd, wr;
    FD_ZERO(&rd);
    FD_ZERO(&wr);
    FD_SET(fd, &rd);
    FD_SET(fd, &wr);
    timeval tv{5, 0};
    if (select(fd + 1, BIO_should_read(b) ? &rd : nullptr, BIO_should_write(b) ? &wr : nullptr,
               nullptr, &tv) <= 0)
      break;
  }
  EXPECT_EQ(1, rv);
  // Writes into the small window and reads of the answer in two parts
  // would block; at least one of them always does.
  EXPECT_GE(retries, 1);
  ASSERT_NE(nullptr, resp);
  EXPECT_EQ(3, OCSP_response_status(resp));
  OCSP_RESPONSE_free(resp);
  OCSP_REQ_CTX_free(ctx);
  BIO_free(b);
  srv.Join();
  EXPECT_EQ(ReqDer(req).size() + srv.request().find("\r\n\r\n") + 4, srv.request().size());
  OCSP_REQUEST_free(req);
}

// A context that cannot be made completely is freed: every allocation of
// OCSP_sendreq_new failing in turn leaves no block behind.
TEST(OcspLoopback, FailedNewFreesWhatItBuilt) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  OCSP_REQUEST* req = MakeRequest();
  BIO* mem = BIO_new(BIO_s_mem());
  char* h = nullptr;
  OCSP_parse_url("x", &h, &h, &h, nullptr);  // the error queue exists from here
  ERR_clear_error();
  bool made = false;
  long made_at = 0;
  for (long n = 1; n <= 40 && !made; n++) {
    SCOPED_TRACE(n);
    const long before = morvane_test::GetAllocCounts().live_blocks;
    morvane_test::FailAllocationAfter(n);
    OCSP_REQ_CTX* ctx = OCSP_sendreq_new(mem, nullptr, req, -1);
    morvane_test::FailAllocationAfter(0);
    ERR_clear_error();
    if (ctx != nullptr) {
      made = true;
      made_at = n;
      OCSP_REQ_CTX_free(ctx);
    }
    EXPECT_EQ(before, morvane_test::GetAllocCounts().live_blocks);
  }
  EXPECT_TRUE(made);
  EXPECT_GT(made_at, 3);  // the context, its buffer and its stream each failed
  BIO_free(mem);
  OCSP_REQUEST_free(req);
}

}  // namespace
