// An OCSP responder run as a CGI program by the web server of the loopback
// tests (RFC 6960, A.1 over RFC 3875).  The server runs it as
// "ocsp_cgi_responder <script file>"; the script file holds one line, the
// directory the test wrote for it:
//   ca.pem      the CA certificate, signer of every response
//   key.pem     the CA's private key
//   status.txt  one certificate a line: "<serial> good" or
//               "<serial> revoked <reason> <YYYYMMDDHHMMSSZ>"
// The request (CONTENT_LENGTH octets of DER) comes on standard input; the
// answer is a CGI header and the DER of the response on standard output.
// Identifiers of another issuer and serial numbers not listed are answered
// "unknown"; the request's nonce is copied.  Problems are told on standard
// error (the server's CGI log) and answered with an unsuccessful response.

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/ocsp.h>
#include <morvane/pem.h>
#include <morvane/x509.h>

namespace {

constexpr size_t kMaxRequest = 100000;
constexpr int kMaxStatusLines = 64;

struct StatusLine {
  long serial;
  int status;  // V_OCSP_CERTSTATUS_*
  int reason;
  char revtime[32];
};

struct Data {
  X509* ca = nullptr;
  EVP_PKEY* key = nullptr;
  StatusLine lines[kMaxStatusLines];
  int count = 0;
};

void Complain(const char* what) {
  fprintf(stderr, "ocsp_cgi_responder: %s\n", what);
  ERR_print_errors_fp(stderr);
}

// The first line of `path` into buf (without its newline).
bool ReadLine(const char* path, char* buf, size_t size) {
  FILE* f = fopen(path, "r");
  if (f == nullptr) return false;
  const bool ok = fgets(buf, static_cast<int>(size), f) != nullptr;
  fclose(f);
  if (!ok) return false;
  buf[strcspn(buf, "\r\n")] = '\0';
  return buf[0] != '\0';
}

bool LoadData(const char* dir, Data* d) {
  char path[4096];
  snprintf(path, sizeof(path), "%s/ca.pem", dir);
  BIO* b = BIO_new_file(path, "r");
  if (b != nullptr) d->ca = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
  BIO_free(b);
  snprintf(path, sizeof(path), "%s/key.pem", dir);
  b = BIO_new_file(path, "r");
  if (b != nullptr) d->key = PEM_read_bio_PrivateKey(b, nullptr, nullptr, nullptr);
  BIO_free(b);
  if (d->ca == nullptr || d->key == nullptr) return false;
  snprintf(path, sizeof(path), "%s/status.txt", dir);
  FILE* f = fopen(path, "r");
  if (f == nullptr) return false;
  char line[256];
  while (d->count < kMaxStatusLines && fgets(line, sizeof(line), f) != nullptr) {
    StatusLine& s = d->lines[d->count];
    char word[16] = "";
    s.reason = -1;
    s.revtime[0] = '\0';
    const int n = sscanf(line, "%ld %15s %d %31s", &s.serial, word, &s.reason, s.revtime);
    if (n == 2 && strcmp(word, "good") == 0) {
      s.status = V_OCSP_CERTSTATUS_GOOD;
    } else if (n == 4 && strcmp(word, "revoked") == 0) {
      s.status = V_OCSP_CERTSTATUS_REVOKED;
    } else {
      continue;  // blank or unreadable lines are ignored
    }
    d->count++;
  }
  fclose(f);
  return true;
}

// The request body: exactly CONTENT_LENGTH octets (bounded); false when it
// is missing, too long or cut short.
bool ReadBody(unsigned char* buf, size_t* len) {
  const char* cl = getenv("CONTENT_LENGTH");
  if (cl == nullptr || *cl == '\0') return false;
  char* end = nullptr;
  const unsigned long want = strtoul(cl, &end, 10);
  if (*end != '\0' || want == 0 || want > kMaxRequest) return false;
  size_t got = 0;
  while (got < want) {
    const ssize_t n = read(0, buf + got, want - got);
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  *len = got;
  return true;
}

// The status of one identifier, added to bs.
bool AddStatus(const Data& d, OCSP_BASICRESP* bs, OCSP_CERTID* id, ASN1_TIME* thisupd,
               ASN1_TIME* nextupd) {
  ASN1_OBJECT* md_obj = nullptr;
  ASN1_INTEGER* serial = nullptr;
  OCSP_id_get0_info(nullptr, &md_obj, nullptr, &serial, id);
  const EVP_MD* md = EVP_get_digestbyname(OBJ_nid2sn(OBJ_obj2nid(md_obj)));
  int status = V_OCSP_CERTSTATUS_UNKNOWN, reason = -1;
  const char* revtime = nullptr;
  // The identifier names our CA when its hashes, in its own algorithm,
  // are those of the CA's name and key.
  OCSP_CERTID* ours = md != nullptr ? OCSP_cert_to_id(md, nullptr, d.ca) : nullptr;
  if (ours != nullptr && OCSP_id_issuer_cmp(ours, id) == 0) {
    const long sn = ASN1_INTEGER_get(serial);
    for (int i = 0; i < d.count; i++) {
      if (d.lines[i].serial != sn) continue;
      status = d.lines[i].status;
      if (status == V_OCSP_CERTSTATUS_REVOKED) {
        reason = d.lines[i].reason;
        revtime = d.lines[i].revtime;
      }
      break;
    }
  }
  OCSP_CERTID_free(ours);
  ASN1_GENERALIZEDTIME* rt = nullptr;
  if (revtime != nullptr) {
    rt = ASN1_GENERALIZEDTIME_new();
    if (rt == nullptr || !ASN1_GENERALIZEDTIME_set_string(rt, revtime)) {
      ASN1_GENERALIZEDTIME_free(rt);
      return false;
    }
  }
  const bool ok = OCSP_basic_add1_status(bs, id, status, reason, rt, thisupd, nextupd) != nullptr;
  ASN1_GENERALIZEDTIME_free(rt);
  return ok;
}

// The signed response to req, or null.
OCSP_RESPONSE* Answer(const Data& d, OCSP_REQUEST* req) {
  OCSP_BASICRESP* bs = OCSP_BASICRESP_new();
  ASN1_TIME* thisupd = X509_gmtime_adj(nullptr, 0);
  ASN1_TIME* nextupd = X509_gmtime_adj(nullptr, 3600);
  OCSP_RESPONSE* resp = nullptr;
  bool ok = bs != nullptr && thisupd != nullptr && nextupd != nullptr;
  const int n = ok ? OCSP_request_onereq_count(req) : 0;
  for (int i = 0; ok && i < n; i++) {
    OCSP_CERTID* id = OCSP_onereq_get0_id(OCSP_request_onereq_get0(req, i));
    ok = id != nullptr && AddStatus(d, bs, id, thisupd, nextupd);
  }
  ok = ok && OCSP_copy_nonce(bs, req) > 0 &&
       OCSP_basic_sign(bs, d.ca, d.key, EVP_sha256(), nullptr, 0) == 1;
  if (ok) resp = OCSP_response_create(OCSP_RESPONSE_STATUS_SUCCESSFUL, bs);
  ASN1_TIME_free(thisupd);
  ASN1_TIME_free(nextupd);
  OCSP_BASICRESP_free(bs);
  return resp;
}

bool WriteAll(const unsigned char* p, size_t n) {
  while (n > 0) {
    const ssize_t w = write(1, p, n);
    if (w <= 0) return false;
    p += w;
    n -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  MORVANE_add_all_algorithms_noconf();
  ERR_load_crypto_strings();
  Data d;
  char dir[2048];
  unsigned char* body = static_cast<unsigned char*>(malloc(kMaxRequest));
  size_t len = 0;
  OCSP_REQUEST* req = nullptr;
  OCSP_RESPONSE* resp = nullptr;
  if (argc < 2 || !ReadLine(argv[1], dir, sizeof(dir)) || !LoadData(dir, &d)) {
    Complain("cannot read the test CA");
  } else if (body == nullptr || !ReadBody(body, &len)) {
    Complain("no request body");
    resp = OCSP_response_create(OCSP_RESPONSE_STATUS_MALFORMEDREQUEST, nullptr);
  } else {
    const unsigned char* p = body;
    req = d2i_OCSP_REQUEST(nullptr, &p, static_cast<long>(len));
    if (req == nullptr) {
      Complain("malformed request");
      resp = OCSP_response_create(OCSP_RESPONSE_STATUS_MALFORMEDREQUEST, nullptr);
    } else if ((resp = Answer(d, req)) == nullptr) {
      Complain("cannot make the response");
    }
  }
  if (resp == nullptr) resp = OCSP_response_create(OCSP_RESPONSE_STATUS_INTERNALERROR, nullptr);
  unsigned char* der = nullptr;
  const int n = resp != nullptr ? i2d_OCSP_RESPONSE(resp, &der) : -1;
  static const char kHeader[] = "Content-Type: application/ocsp-response\r\n\r\n";
  int rc = 0;
  if (n <= 0 || !WriteAll(reinterpret_cast<const unsigned char*>(kHeader), sizeof(kHeader) - 1) ||
      !WriteAll(der, static_cast<size_t>(n))) {
    Complain("cannot write the response");
    rc = 1;
  }
  CRYPTO_free(der);
  OCSP_RESPONSE_free(resp);
  OCSP_REQUEST_free(req);
  X509_free(d.ca);
  EVP_PKEY_free(d.key);
  free(body);
  return rc;
}
