// The OCSP HTTP client against a real web server: lighttpd, started by the
// test on a free port of 127.0.0.1 with a generated configuration (mod_cgi
// and nothing else, everything in a temporary directory), runs the CGI
// responder ocsp_cgi_responder for the path "/ocsp".  The responder answers
// for a test CA written by the test; the statuses it gives (good, revoked
// with time and reason, unknown) are the ones the test lists for it.
// Skipped when lighttpd is not installed.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/x509.h>
#include <morvane/x509_vfy.h>

#include "loopback.h"
#include "ocsp_util.h"
#include "test_support.h"

#ifndef MORVANE_OCSP_CGI_RESPONDER
#error "MORVANE_OCSP_CGI_RESPONDER names the responder program"
#endif

namespace {

using morvane_test::ErrorsAre;
using ocsp_test::ConnectLoopback;

// The web server: MORVANE_LIGHTTPD when set, else the usual places.
std::string FindLighttpd() {
  const char* env = getenv("MORVANE_LIGHTTPD");
  if (env != nullptr && *env != '\0') return access(env, X_OK) == 0 ? env : "";
  for (const char* p : {"/usr/sbin/lighttpd", "/usr/local/sbin/lighttpd", "/usr/bin/lighttpd"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

// A port of 127.0.0.1 the system calls free now (it may be taken before
// the server binds it: the caller retries).
int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return 0;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  int port = 0;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) == 0 &&
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
    port = ntohs(a.sin_port);
  close(fd);
  return port;
}

// Bounds a blocking exchange: when it has not ended within the time, the
// connection is shut down, so that the client's read sees its end.
class Watchdog {
 public:
  Watchdog(int fd, int seconds)
      : thread_([this, fd, seconds] {
          std::unique_lock<std::mutex> lock(mutex_);
          if (!cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) {
            fired_ = true;
            shutdown(fd, SHUT_RDWR);
          }
        }) {}
  ~Watchdog() { Stop(); }
  // Ends the watch; true when it had to cut the connection.
  bool Stop() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      done_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable()) thread_.join();
    return fired_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  bool fired_ = false;
  std::thread thread_;  // last: starts once the members above exist
};

constexpr int kExchangeSeconds = 20;

// What the responder is told about the certificates of the test CA.
constexpr long kGoodSerial = 2;
constexpr long kRevokedSerial = 3;
constexpr long kUnknownSerial = 4;  // issued, but not listed
constexpr int kRevokedReason = 1;   // keyCompromise (RFC 5280, 5.3.1)
constexpr char kRevokedTime[] = "20261101093000Z";

constexpr int kStartAttempts = 5;
constexpr int kWaitSteps = 250;  // of 20 ms: 5 seconds
constexpr int kWaitStepMs = 20;

class OcspLoopback : public ::testing::Test {
 protected:
  void SetUp() override {
    lighttpd_ = FindLighttpd();
    if (lighttpd_.empty())
      GTEST_SKIP() << "lighttpd is not installed (apt-get install --no-install-recommends "
                      "lighttpd, as tools/deps.sh does): the web-server loopback tests are "
                      "skipped";
    ASSERT_NO_FATAL_FAILURE(WriteResponderData());
    ASSERT_NO_FATAL_FAILURE(StartServer());
  }

  void TearDown() override {
    StopServer();
    // The responder's standard error: a sanitizer report or a complaint
    // there is a fault of the responder, even when the answer looked right.
    const std::string cgi_log = ReadIfThere(dir_.Join("cgi.log"));
    EXPECT_EQ(std::string::npos, cgi_log.find("Sanitizer")) << cgi_log;
    EXPECT_EQ(std::string::npos, cgi_log.find("ocsp_cgi_responder:")) << cgi_log;
  }

  static std::string ReadIfThere(const std::string& path) {
    if (access(path.c_str(), R_OK) != 0) return "";
    return morvane_test::ReadFile(path);
  }

  // The CA, its key and the status table in data/; the script file
  // www/ocsp names that directory.
  void WriteResponderData() {
    const std::string data = dir_.Join("data");
    ASSERT_EQ(0, mkdir(data.c_str(), 0700));
    ASSERT_EQ(0, mkdir(dir_.Join("www").c_str(), 0700));
    BIO* b = BIO_new_file((data + "/ca.pem").c_str(), "w");
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(1, PEM_write_bio_X509(b, ocsp_test::CaCert()));
    BIO_free(b);
    b = BIO_new_file((data + "/key.pem").c_str(), "w");
    ASSERT_NE(nullptr, b);
    EXPECT_EQ(
        1, PEM_write_bio_PrivateKey(b, ocsp_test::CaKey(), nullptr, nullptr, 0, nullptr, nullptr));
    BIO_free(b);
    const std::string revoked = std::to_string(kRevokedSerial) + " revoked " +
                                std::to_string(kRevokedReason) + " " + kRevokedTime + "\n";
    morvane_test::WriteFile(data + "/status.txt",
                            std::to_string(kGoodSerial) + " good\n" + revoked);
    morvane_test::WriteFile(dir_.Join("www/ocsp"), data + "\n");
  }

  // mod_cgi only, listening on 127.0.0.1 only, every file in dir_.
  void WriteConfig(int port) {
    std::string conf = "server.modules = ( \"mod_cgi\" )\n";
    conf += "server.bind = \"127.0.0.1\"\n";
    conf += "server.port = " + std::to_string(port) + "\n";
    conf += "server.document-root = \"" + dir_.Join("www") + "\"\n";
    conf += "server.errorlog = \"" + dir_.Join("error.log") + "\"\n";
    conf += "server.breakagelog = \"" + dir_.Join("cgi.log") + "\"\n";
    conf += "server.upload-dirs = ( \"" + dir_.path() + "\" )\n";
    conf += "cgi.assign = ( \"/ocsp\" => \"" MORVANE_OCSP_CGI_RESPONDER "\" )\n";
    morvane_test::WriteFile(dir_.Join("lighttpd.conf"), conf);
  }

  // lighttpd in the foreground as a child, on a free port; retried on a
  // new port when it stops before it has started (another program took the
  // port between the check and the bind).  Each attempt has a fresh error
  // log; those of failed attempts are kept in failed_starts_.
  void StartServer() {
    const std::string conf = dir_.Join("lighttpd.conf");
    const std::string out = dir_.Join("lighttpd.out");
    const std::string errlog = dir_.Join("error.log");
    for (int attempt = 0; attempt < kStartAttempts; attempt++) {
      port_ = attempt == 0 && first_port_ != 0 ? first_port_ : FreePort();
      ASSERT_NE(0, port_) << "no free port on 127.0.0.1";
      WriteConfig(port_);
      unlink(errlog.c_str());
      const char* argv[] = {lighttpd_.c_str(), "-D", "-f", conf.c_str(), nullptr};
      pid_ = fork();
      ASSERT_GE(pid_, 0);
      if (pid_ == 0) {
        // The server goes with the test, however the test ends.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int in = open("/dev/null", O_RDONLY);
        const int log = open(out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (in >= 0) dup2(in, 0);
        if (log >= 0) {
          dup2(log, 1);
          dup2(log, 2);
        }
        execv(argv[0], const_cast<char* const*>(argv));
        _exit(127);
      }
      if (WaitUntilStarted(errlog)) return;
      StopServer();
      failed_starts_ += ReadIfThere(errlog);
    }
    FAIL() << "lighttpd did not start in " << kStartAttempts << " attempts:\n"
           << ReadIfThere(out) << failed_starts_;
  }

  // True once the server has logged its start (it has bound the port) and
  // accepts a connection; false when it stopped or did not start within
  // the bound.  A connection alone could reach whatever else holds the port.
  bool WaitUntilStarted(const std::string& errlog) {
    for (int step = 0; step < kWaitSteps; step++) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return false;
      }
      if (ReadIfThere(errlog).find("server started") != std::string::npos) {
        const int fd = ConnectLoopback(port_);
        if (fd >= 0) {
          close(fd);
          return true;
        }
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    }
    return false;
  }

  // SIGTERM, then a bounded wait; SIGKILL when it does not stop in time.
  void StopServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    bool stopped = false;
    for (int step = 0; step < kWaitSteps && !stopped; step++) {
      stopped = waitpid(pid_, &status, WNOHANG) == pid_;
      if (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(kWaitStepMs));
    }
    if (!stopped) {
      ADD_FAILURE() << "lighttpd did not stop on SIGTERM";
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  // One exchange with the server on `path`: the response or null; the
  // client's time is recorded under `name`.
  OCSP_RESPONSE* Exchange(const char* path, OCSP_REQUEST* req, const char* name) {
    const auto start = std::chrono::steady_clock::now();
    const int fd = ConnectLoopback(port_);
    if (fd < 0) {
      ADD_FAILURE() << "cannot connect to 127.0.0.1:" << port_;
      return nullptr;
    }
    BIO* b = BIO_new_socket(fd, 1);
    Watchdog watchdog(fd, kExchangeSeconds);
    OCSP_RESPONSE* resp = OCSP_sendreq_bio(b, const_cast<char*>(path), req);
    EXPECT_FALSE(watchdog.Stop()) << "no answer within " << kExchangeSeconds << " seconds";
    BIO_free(b);
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(
                        std::chrono::steady_clock::now() - start)
                        .count();
    RecordProperty(std::string(name) + "_exchange_us", std::to_string(us));
    return resp;
  }

  // The status the server gives for id, asked alone and without a nonce
  // (none comes back); -3 when there is no single response for it.
  int StatusWithoutNonce(OCSP_CERTID* id, const char* name) {
    OCSP_REQUEST* req = OCSP_REQUEST_new();
    OCSP_request_add0_id(req, OCSP_CERTID_dup(id));
    OCSP_RESPONSE* resp = Exchange("/ocsp", req, name);
    OCSP_BASICRESP* bs = resp != nullptr ? OCSP_response_get1_basic(resp) : nullptr;
    int status = -3;
    if (bs != nullptr) {
      EXPECT_EQ(2, OCSP_check_nonce(req, bs));
      OCSP_resp_find_status(bs, id, &status, nullptr, nullptr, nullptr, nullptr);
    }
    OCSP_BASICRESP_free(bs);
    OCSP_RESPONSE_free(resp);
    OCSP_REQUEST_free(req);
    return status;
  }

  morvane_test::TempPath dir_{morvane_test::TempPath::kDir};
  std::string lighttpd_;
  int port_ = 0;
  int first_port_ = 0;  // when not 0: the port of the first attempt
  std::string failed_starts_;
  pid_t pid_ = -1;
};

// A certificate of the test CA with this serial number.
X509* IssuedCert(long serial) {
  return ocsp_test::MakeCert("OCSP loopback end entity", serial, ocsp_test::CaKey(),
                             ocsp_test::CaKey());
}

// The basic response verifies against a store trusting the CA alone (the
// CA signs its own responses).
bool VerifiesAgainstCa(OCSP_BASICRESP* bs) {
  X509_STORE* store = X509_STORE_new();
  const bool ok = store != nullptr && X509_STORE_add_cert(store, ocsp_test::CaCert()) == 1 &&
                  OCSP_basic_verify(bs, nullptr, store, 0) == 1;
  X509_STORE_free(store);
  return ok;
}

std::string Text(ASN1_STRING* s) {
  if (s == nullptr) return "(none)";
  return std::string(reinterpret_cast<const char*>(ASN1_STRING_data(s)),
                     static_cast<size_t>(ASN1_STRING_length(s)));
}

TEST_F(OcspLoopback, LighttpdStatuses) {
  struct Row {
    const char* name;
    long serial;
    int status;
    int reason;           // -1: none
    const char* revtime;  // null: none
  } rows[] = {
      {"good", kGoodSerial, V_OCSP_CERTSTATUS_GOOD, -1, nullptr},
      {"revoked", kRevokedSerial, V_OCSP_CERTSTATUS_REVOKED, kRevokedReason, kRevokedTime},
      {"unknown", kUnknownSerial, V_OCSP_CERTSTATUS_UNKNOWN, -1, nullptr},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    X509* cert = IssuedCert(r.serial);
    OCSP_CERTID* id = OCSP_cert_to_id(nullptr, cert, ocsp_test::CaCert());
    ASSERT_NE(nullptr, id);
    OCSP_REQUEST* req = OCSP_REQUEST_new();
    ASSERT_NE(nullptr, OCSP_request_add0_id(req, OCSP_CERTID_dup(id)));
    ASSERT_EQ(1, OCSP_request_add1_nonce(req, nullptr, -1));
    ERR_clear_error();
    OCSP_RESPONSE* resp = Exchange("/ocsp", req, r.name);
    ASSERT_NE(nullptr, resp) << morvane_test::DrainErrors();
    EXPECT_TRUE(ErrorsAre({}));
    EXPECT_EQ(OCSP_RESPONSE_STATUS_SUCCESSFUL, OCSP_response_status(resp));
    OCSP_BASICRESP* bs = OCSP_response_get1_basic(resp);
    ASSERT_NE(nullptr, bs);
    EXPECT_TRUE(VerifiesAgainstCa(bs)) << morvane_test::DrainErrors();
    EXPECT_EQ(1, OCSP_check_nonce(req, bs));
    EXPECT_EQ(1, OCSP_resp_count(bs));
    // reason and revtime are set for a revoked status only.
    int status = -2, reason = -1;
    ASN1_GENERALIZEDTIME *revtime = nullptr, *thisupd = nullptr, *nextupd = nullptr;
    ASSERT_EQ(1, OCSP_resp_find_status(bs, id, &status, &reason, &revtime, &thisupd, &nextupd));
    EXPECT_EQ(r.status, status);
    EXPECT_EQ(r.reason, reason);
    EXPECT_EQ(r.revtime != nullptr ? r.revtime : "(none)", Text(revtime));
    EXPECT_EQ(1, OCSP_check_validity(thisupd, nextupd, 300, -1));
    OCSP_BASICRESP_free(bs);
    OCSP_RESPONSE_free(resp);
    OCSP_REQUEST_free(req);
    OCSP_CERTID_free(id);
    X509_free(cert);
  }
}

// Three identifiers in one request, and a second request with its own
// nonce on a new connection to the same server.
TEST_F(OcspLoopback, LighttpdOneRequestManyIds) {
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  const long serials[] = {kUnknownSerial, kRevokedSerial, kGoodSerial};
  const int want[] = {V_OCSP_CERTSTATUS_UNKNOWN, V_OCSP_CERTSTATUS_REVOKED, V_OCSP_CERTSTATUS_GOOD};
  OCSP_CERTID* ids[3];
  for (int i = 0; i < 3; i++) {
    X509* cert = IssuedCert(serials[i]);
    ids[i] = OCSP_cert_to_id(EVP_sha256(), cert, ocsp_test::CaCert());
    X509_free(cert);
    ASSERT_NE(nullptr, OCSP_request_add0_id(req, OCSP_CERTID_dup(ids[i])));
  }
  for (int round = 0; round < 2; round++) {
    SCOPED_TRACE(round);
    ASSERT_EQ(1, OCSP_request_add1_nonce(req, nullptr, -1));  // replaces the last one
    OCSP_RESPONSE* resp = Exchange("/ocsp", req, round == 0 ? "three_ids" : "three_ids_again");
    ASSERT_NE(nullptr, resp);
    OCSP_BASICRESP* bs = OCSP_response_get1_basic(resp);
    ASSERT_NE(nullptr, bs);
    EXPECT_EQ(1, OCSP_check_nonce(req, bs));
    EXPECT_EQ(3, OCSP_resp_count(bs));
    for (int i = 0; i < 3; i++) {
      int status = -2;
      EXPECT_EQ(1, OCSP_resp_find_status(bs, ids[i], &status, nullptr, nullptr, nullptr, nullptr));
      EXPECT_EQ(want[i], status) << "serial " << serials[i];
    }
    OCSP_BASICRESP_free(bs);
    OCSP_RESPONSE_free(resp);
  }
  for (OCSP_CERTID* id : ids) OCSP_CERTID_free(id);
  OCSP_REQUEST_free(req);
}

// An identifier of another issuer (the right serial, a foreign CA's name
// and key) is unknown to the responder.
TEST_F(OcspLoopback, LighttpdOtherIssuerIsUnknown) {
  EVP_PKEY* other_key = ocsp_test::NewRsaKey();
  X509* other_ca = ocsp_test::MakeCert("Another CA", 9, other_key, other_key);
  X509* cert = IssuedCert(kGoodSerial);
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, cert, other_ca);
  EXPECT_EQ(V_OCSP_CERTSTATUS_UNKNOWN, StatusWithoutNonce(id, "other_issuer"));
  OCSP_CERTID_free(id);
  X509_free(cert);
  X509_free(other_ca);
  EVP_PKEY_free(other_key);
}

// A port taken between the check and the server's bind: the server stops
// at once and the next attempt, on another port, serves.
TEST_F(OcspLoopback, LighttpdStartRetriesOnTakenPort) {
  StopServer();
  const int taken = socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(taken, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof(a);
  ASSERT_EQ(0, bind(taken, reinterpret_cast<sockaddr*>(&a), sizeof(a)));
  ASSERT_EQ(0, listen(taken, 1));
  ASSERT_EQ(0, getsockname(taken, reinterpret_cast<sockaddr*>(&a), &len));
  first_port_ = ntohs(a.sin_port);
  ASSERT_NO_FATAL_FAILURE(StartServer());
  close(taken);
  EXPECT_NE(first_port_, port_);
  // lighttpd binds before it opens its error log: the complaint is on its
  // standard error.
  const std::string out = ReadIfThere(dir_.Join("lighttpd.out"));
  EXPECT_NE(std::string::npos, out.find("already in use")) << out;
  X509* cert = IssuedCert(kGoodSerial);
  OCSP_CERTID* id = OCSP_cert_to_id(nullptr, cert, ocsp_test::CaCert());
  EXPECT_EQ(V_OCSP_CERTSTATUS_GOOD, StatusWithoutNonce(id, "after_retry"));
  OCSP_CERTID_free(id);
  X509_free(cert);
}

TEST_F(OcspLoopback, LighttpdUnknownPathIs404) {
  X509* cert = IssuedCert(kGoodSerial);
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  ASSERT_NE(nullptr,
            OCSP_request_add0_id(req, OCSP_cert_to_id(nullptr, cert, ocsp_test::CaCert())));
  ERR_clear_error();
  EXPECT_EQ(nullptr, Exchange("/no-such-responder", req, "not_found"));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_OCSP, OCSP_F_PARSE_HTTP_LINE1, OCSP_R_SERVER_RESPONSE_ERROR,
                          "Code=404,Reason=Not Found"}}));
  OCSP_REQUEST_free(req);
  X509_free(cert);
}

}  // namespace
