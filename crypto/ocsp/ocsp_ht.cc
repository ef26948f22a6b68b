// A minimal HTTP/1.0 client for OCSP (RFC 6960, appendix A.1): one POST of a
// DER request, one DER response read back, over a stream the caller has
// connected, with or without blocking.

#include <ctype.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ocsp.h>

// The client's state; every state with kNoRead set does no reading.
struct ocsp_req_ctx_st {
  int state;
  unsigned char* iobuf;
  int iobuflen;
  BIO* io;
  BIO* mem;
  unsigned long asn1_len;
};

namespace {

constexpr int kNoRead = 0x1000;
constexpr int kFirstLine = 1;
constexpr int kHeaders = 2;
constexpr int kAsn1Header = 3;
constexpr int kAsn1Content = 4;
constexpr int kError = kNoRead | 0;
constexpr int kWrite = kNoRead | 6;
constexpr int kFlush = kNoRead | 7;
constexpr int kDone = kNoRead | 8;

constexpr unsigned long kMaxResponse = 100 * 1024;
constexpr int kDefaultLine = 4096;

bool is_space(char c) { return isspace(static_cast<unsigned char>(c)) != 0; }

// The status line "HTTP/1.x code [reason]": 1 for code 200, else 0 (other
// codes and unreadable lines queue their error; a code that is not a number
// queues nothing).
int parse_http_line1(char* line) {
  char* p = line;
  while (*p != '\0' && !is_space(*p)) p++;  // the version
  if (*p == '\0') {
    OCSPerr(OCSP_F_PARSE_HTTP_LINE1, OCSP_R_SERVER_RESPONSE_PARSE_ERROR);
    return 0;
  }
  while (*p != '\0' && is_space(*p)) p++;
  if (*p == '\0') {
    OCSPerr(OCSP_F_PARSE_HTTP_LINE1, OCSP_R_SERVER_RESPONSE_PARSE_ERROR);
    return 0;
  }
  char* code = p;
  while (*p != '\0' && !is_space(*p)) p++;
  if (*p == '\0') {
    OCSPerr(OCSP_F_PARSE_HTTP_LINE1, OCSP_R_SERVER_RESPONSE_PARSE_ERROR);
    return 0;
  }
  *p++ = '\0';
  char* end = nullptr;
  const unsigned long retcode = strtoul(code, &end, 10);
  if (end == code || *end != '\0') return 0;
  while (*p != '\0' && is_space(*p)) p++;
  char* reason = p;
  size_t n = strlen(reason);
  while (n > 0 && is_space(reason[n - 1])) reason[--n] = '\0';
  if (retcode == 200) return 1;
  OCSPerr(OCSP_F_PARSE_HTTP_LINE1, OCSP_R_SERVER_RESPONSE_ERROR);
  char num[24];
  BIO_snprintf(num, sizeof(num), "%lu", retcode);
  if (*reason == '\0')
    ERR_add_error_data(2, "Code=", num);
  else
    ERR_add_error_data(4, "Code=", num, ",Reason=", reason);
  return 0;
}

// Bytes buffered in mem and where they are.
long mem_data(BIO* mem, const unsigned char** p) {
  char* d = nullptr;
  const long n = BIO_get_mem_data(mem, &d);
  *p = reinterpret_cast<const unsigned char*>(d);
  return n;
}

// Whether a path can stand in the request line: no space or control byte.
bool path_ok(const char* path) {
  for (const char* c = path; *c != '\0'; c++) {
    const unsigned char u = static_cast<unsigned char>(*c);
    if (u <= 0x20 || u == 0x7F) return false;
  }
  return true;
}

// Fails the exchange: the error state, `reason` queued with the data `what`
// (none when null); 0, the result of a failure.
int fail(OCSP_REQ_CTX* rctx, int reason, const char* what = nullptr) {
  rctx->state = kError;
  OCSPerr(OCSP_F_OCSP_SENDREQ_NBIO, reason);
  if (what != nullptr) ERR_add_error_data(1, what);
  return 0;
}

// A line of the status line or headers does not fit the line buffer.
int line_too_long(OCSP_REQ_CTX* rctx) {
  char what[48];
  BIO_snprintf(what, sizeof(what), "longer than %d bytes", rctx->iobuflen - 1);
  return fail(rctx, OCSP_R_RESPONSE_LINE_TOO_LONG, what);
}

// The stream ended (or failed) before the response was complete.
int read_failed(OCSP_REQ_CTX* rctx, int n) {
  if (n < 0) return fail(rctx, OCSP_R_SERVER_READ_ERROR);
  if (rctx->state != kAsn1Content)
    return fail(rctx, OCSP_R_RESPONSE_TRUNCATED,
                rctx->state == kAsn1Header ? "before the length of the response"
                                           : "before the end of the HTTP header");
  const unsigned char* p;
  char what[64];
  BIO_snprintf(what, sizeof(what), "%ld of %lu bytes", mem_data(rctx->mem, &p), rctx->asn1_len);
  return fail(rctx, OCSP_R_RESPONSE_TRUNCATED, what);
}

int i2d_req(void* a, unsigned char** pp) {
  return i2d_OCSP_REQUEST(static_cast<OCSP_REQUEST*>(a), pp);
}

}  // namespace

extern "C" {

void OCSP_REQ_CTX_free(OCSP_REQ_CTX* rctx) {
  if (rctx == nullptr) return;
  BIO_free(rctx->mem);
  MORVANE_free(rctx->iobuf);
  MORVANE_free(rctx);
}

OCSP_REQ_CTX* OCSP_sendreq_new(BIO* io, char* path, OCSP_REQUEST* req, int maxline) {
  if (io == nullptr || req == nullptr) return nullptr;
  if (path == nullptr) path = const_cast<char*>("/");
  if (!path_ok(path)) {
    OCSPerr(OCSP_F_OCSP_SENDREQ_BIO, OCSP_R_ERROR_PARSING_URL);
    return nullptr;
  }
  const int reqlen = i2d_OCSP_REQUEST(req, nullptr);
  if (reqlen <= 0) return nullptr;
  auto* rctx = static_cast<OCSP_REQ_CTX*>(MORVANE_malloc(sizeof(OCSP_REQ_CTX)));
  if (rctx == nullptr) return nullptr;
  memset(rctx, 0, sizeof(*rctx));
  rctx->state = kWrite;
  rctx->io = io;
  rctx->iobuflen = maxline > 0 ? maxline : kDefaultLine;
  rctx->mem = BIO_new(BIO_s_mem());
  rctx->iobuf = static_cast<unsigned char*>(MORVANE_malloc(static_cast<size_t>(rctx->iobuflen)));
  if (rctx->mem == nullptr || rctx->iobuf == nullptr ||
      BIO_printf(rctx->mem,
                 "POST %s HTTP/1.0\r\nContent-Type: application/ocsp-request\r\n"
                 "Content-Length: %d\r\n\r\n",
                 path, reqlen) <= 0 ||
      ASN1_i2d_bio(i2d_req, rctx->mem, req) <= 0) {
    OCSP_REQ_CTX_free(rctx);
    return nullptr;
  }
  const unsigned char* d;
  rctx->asn1_len = static_cast<unsigned long>(mem_data(rctx->mem, &d));
  return rctx;
}

int OCSP_sendreq_nbio(OCSP_RESPONSE** presp, OCSP_REQ_CTX* rctx) {
  if (presp == nullptr || rctx == nullptr) return 0;
  for (;;) {
    if (!(rctx->state & kNoRead)) {
      const int n = BIO_read(rctx->io, rctx->iobuf, rctx->iobuflen);
      if (n <= 0) return BIO_should_retry(rctx->io) ? -1 : read_failed(rctx, n);
      if (BIO_write(rctx->mem, rctx->iobuf, n) != n) return fail(rctx, ERR_R_MALLOC_FAILURE);
    }
    const unsigned char* p;
    long have;
    switch (rctx->state) {
      case kWrite: {
        have = mem_data(rctx->mem, &p);
        if (have < 0 || rctx->asn1_len > static_cast<unsigned long>(have)) {
          rctx->state = kError;
          return 0;
        }
        const unsigned long chunk = rctx->asn1_len > INT_MAX ? INT_MAX : rctx->asn1_len;
        const int n = BIO_write(rctx->io, p + (have - static_cast<long>(rctx->asn1_len)),
                                static_cast<int>(chunk));
        if (n <= 0) return BIO_should_retry(rctx->io) ? -1 : fail(rctx, OCSP_R_SERVER_WRITE_ERROR);
        rctx->asn1_len -= static_cast<unsigned long>(n);
        if (rctx->asn1_len > 0) continue;
        rctx->state = kFlush;
        (void)BIO_reset(rctx->mem);
        [[fallthrough]];
      }
      case kFlush:
        if (BIO_flush(rctx->io) > 0) {
          rctx->state = kFirstLine;
          continue;
        }
        return BIO_should_retry(rctx->io) ? -1 : fail(rctx, OCSP_R_SERVER_WRITE_ERROR);
      case kFirstLine:
      case kHeaders: {
        // Lines one by one until the blank line after the headers.
        for (;;) {
          have = mem_data(rctx->mem, &p);
          if (have <= 0 || memchr(p, '\n', static_cast<size_t>(have)) == nullptr) {
            if (have >= rctx->iobuflen) return line_too_long(rctx);
            break;  // read more
          }
          auto* line = reinterpret_cast<char*>(rctx->iobuf);
          const int n = BIO_gets(rctx->mem, line, rctx->iobuflen);
          if (n <= 0) {
            if (BIO_should_retry(rctx->mem)) break;
            rctx->state = kError;
            return 0;
          }
          // A line longer than the buffer fails like an unterminated one.
          if (line[n - 1] != '\n') return line_too_long(rctx);
          if (rctx->state == kFirstLine) {
            if (!parse_http_line1(line)) {
              rctx->state = kError;
              return 0;
            }
            rctx->state = kHeaders;
            continue;
          }
          bool blank = true;
          for (int i = 0; i < n; i++)
            if (line[i] != '\r' && line[i] != '\n') blank = false;
          if (blank) {
            rctx->state = kAsn1Header;
            break;
          }
        }
        if (rctx->state != kAsn1Header) continue;
        [[fallthrough]];
      }
      case kAsn1Header: {
        // The length is known as soon as the length octets are: two bytes
        // in the short form, 2 + n in the long form.  An error status
        // response (30 03 0A 01 0s) is only five bytes long.
        have = mem_data(rctx->mem, &p);
        if (have < 2) continue;
        if (p[0] != 0x30)
          return fail(rctx, OCSP_R_SERVER_RESPONSE_PARSE_ERROR, "the response is not a SEQUENCE");
        if (p[1] < 0x80) {
          rctx->asn1_len = static_cast<unsigned long>(p[1]) + 2;
        } else {
          const int nb = p[1] & 0x7F;
          if (nb < 1 || nb > 4)
            return fail(rctx, OCSP_R_SERVER_RESPONSE_PARSE_ERROR, "bad length of the response");
          if (have < 2 + nb) continue;
          unsigned long len = 0;
          for (int i = 0; i < nb; i++) len = (len << 8) | p[2 + i];
          if (len > kMaxResponse) {
            char what[64];
            BIO_snprintf(what, sizeof(what), "%lu bytes, at most %lu", len, kMaxResponse);
            return fail(rctx, OCSP_R_RESPONSE_TOO_LONG, what);
          }
          rctx->asn1_len = len + static_cast<unsigned long>(nb) + 2;
        }
        rctx->state = kAsn1Content;
        [[fallthrough]];
      }
      case kAsn1Content: {
        have = mem_data(rctx->mem, &p);
        if (have < 0 || static_cast<unsigned long>(have) < rctx->asn1_len) continue;
        const unsigned char* q = p;
        OCSP_RESPONSE* resp = d2i_OCSP_RESPONSE(nullptr, &q, static_cast<long>(rctx->asn1_len));
        if (resp == nullptr) {
          rctx->state = kError;
          return 0;
        }
        *presp = resp;
        rctx->state = kDone;
        return 1;
      }
      case kDone:
        return 1;
      default:
        return 0;
    }
  }
}

OCSP_RESPONSE* OCSP_sendreq_bio(BIO* b, char* path, OCSP_REQUEST* req) {
  OCSP_REQ_CTX* ctx = OCSP_sendreq_new(b, path, req, -1);
  if (ctx == nullptr) return nullptr;
  OCSP_RESPONSE* resp = nullptr;
  int rv;
  do {
    rv = OCSP_sendreq_nbio(&resp, ctx);
  } while (rv == -1 && BIO_should_retry(b));
  OCSP_REQ_CTX_free(ctx);
  return rv != 0 ? resp : nullptr;
}

}  // extern "C"
