// Fuzzes the OCSP HTTP client with arbitrary server answers: the first
// bytes pick the line length, then each chunk is a length byte and that
// many bytes written into the server half of a stream pair, after which
// OCSP_sendreq_nbio runs on the client half; the server half then reads
// away what the client sent.
//
// Checks: the client returns 1, 0 or -1; 1 comes with a response.

#include "fuzz_check.h"

#include <cstdint>

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/ocsp.h>

#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  BIO *client = nullptr, *server = nullptr;
  if (!BIO_new_bio_pair(&client, 1 << 16, &server, 1 << 16)) return 0;
  OCSP_REQUEST* req = OCSP_REQUEST_new();
  const int maxline = in.ConsumeIntegralInRange<int>(0, 300);
  OCSP_REQ_CTX* ctx = OCSP_sendreq_new(client, nullptr, req, maxline);
  Check(ctx != nullptr, "context made");
  OCSP_RESPONSE* resp = nullptr;
  unsigned char sink[4096];
  int rv = -1;
  for (int round = 0; round < 10000 && rv == -1; round++) {
    rv = OCSP_sendreq_nbio(&resp, ctx);
    Check(rv == 1 || rv == 0 || rv == -1, "result is 1, 0 or -1");
    if (rv != -1) break;
    while (BIO_read(server, sink, sizeof(sink)) > 0) {
    }
    if (in.remaining_bytes() == 0) {
      BIO_shutdown_wr(server);
      rv = OCSP_sendreq_nbio(&resp, ctx);
      Check(rv == 1 || rv == 0 || rv == -1, "result is 1, 0 or -1");
      break;
    }
    const size_t n = in.ConsumeIntegralInRange<size_t>(1, 64);
    for (size_t i = 0; i < n && in.remaining_bytes() > 0; i++) {
      const unsigned char c = in.ConsumeIntegral<unsigned char>();
      if (BIO_write(server, &c, 1) != 1) break;
    }
  }
  Check(rv != 1 || resp != nullptr, "a response comes with 1");
  OCSP_RESPONSE_free(resp);
  OCSP_REQ_CTX_free(ctx);
  OCSP_REQUEST_free(req);
  BIO_free(client);
  BIO_free(server);
  ERR_clear_error();
  return 0;
}
