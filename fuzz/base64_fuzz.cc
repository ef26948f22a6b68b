// Fuzzes base64 decoding: arbitrary text in arbitrary pieces through
// EVP_DecodeUpdate/EVP_DecodeFinal, the whole text through EVP_DecodeBlock,
// and the base64 filter reading it from the scriptable test stream (in
// pieces, with retries), with and without BIO_FLAGS_BASE64_NO_NL.
//
// Checks: no decoder writes more than 3 bytes per 4 characters given; a
// streaming result is -1, 0 or 1 and a block result -1 or a multiple of 3;
// the filter delivers at most that much and ends; text that the encoder
// wrote from the fuzz bytes decodes back to them by every route, also with
// blanks and carriage returns before its line ends, and so does what the
// filter writes from them in pieces with flushes between.

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <string>
#include <vector>

#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "scripted_stream.h"

namespace {

const unsigned char* U(const std::string& s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}

// Decodes `text` in pieces whose sizes come from `in` (one piece without); the bytes, and the
// last result in *rc (-2 when Final failed).
std::string StreamDecode(FuzzInput* in, const std::string& text, int* rc) {
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  std::string out;
  std::vector<unsigned char> buf(text.size() + 100);
  size_t pos = 0;
  *rc = 1;
  while (pos < text.size() && *rc == 1) {
    const size_t rest = text.size() - pos;
    const size_t n = in != nullptr ? in->ConsumeIntegralInRange<size_t>(1, rest) : rest;
    int got = -5;
    *rc = EVP_DecodeUpdate(&ctx, buf.data(), &got, U(text) + pos, static_cast<int>(n));
    Check(*rc >= -1 && *rc <= 1, "a streaming result");
    Check(got >= 0 && static_cast<size_t>(got) <= (n + 80) / 4 * 3,
          "bytes within the characters given and pending");
    out.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(got));
    pos += n;
  }
  if (*rc == 1) {
    int got = -5;
    if (EVP_DecodeFinal(&ctx, buf.data(), &got) != 1) *rc = -2;
    Check(got >= 0 && got <= 60, "final bytes");
    out.append(reinterpret_cast<char*>(buf.data()), static_cast<size_t>(got));
  }
  Check(out.size() <= text.size() / 4 * 3 + 3, "no more bytes than characters allow");
  return out;
}

std::string FilterDecode(FuzzInput& in, const std::string& text, bool unbroken, int* last) {
  BIO* b64 = BIO_new(BIO_f_base64());
  BIO* src = morvane_test::NewScriptedStream();
  Check(b64 != nullptr && src != nullptr, "streams");
  if (unbroken) BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
  BIO_push(b64, src);
  morvane_test::ScriptedStream& st = morvane_test::Script(src);
  st.input = text;
  st.max_read = in.ConsumeIntegralInRange(0, 1100);
  for (int i = in.ConsumeIntegralInRange(0, 4); i > 0; i--) {
    st.read_script.push_back(
        in.ConsumeBool() ? morvane_test::ScriptStep::Retry()
                         : morvane_test::ScriptStep::Move(in.ConsumeIntegralInRange(1, 70)));
  }
  std::string out;
  std::vector<char> buf(2000);
  int n = 0;
  for (int calls = 0; calls < 100000; calls++) {
    const int want = in.ConsumeIntegralInRange(1, 1999);
    n = BIO_read(b64, buf.data(), want);
    Check(n <= want, "no more than asked for");
    if (n > 0) {
      out.append(buf.data(), static_cast<size_t>(n));
    } else if (!BIO_should_retry(b64)) {
      break;
    }
  }
  Check(n <= 0, "the filter's reads end");
  Check(out.size() <= text.size() / 4 * 3 + 3, "no more bytes than characters allow");
  *last = n;
  BIO_free_all(b64);
  return out;
}

// `text` with `blank` and, with `crlf`, a carriage return before each line
// feed.
std::string Blanked(const std::string& text, const std::string& blank, bool crlf) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += blank + (crlf ? "\r" : "");
    out += c;
  }
  return out;
}

// `plain` written through the filter in pieces whose sizes, and the flushes
// after them, come from `in`.
std::string FlushedText(FuzzInput& in, const std::string& plain, bool unbroken) {
  BIO* sink = BIO_new(BIO_s_mem());
  BIO* b64 = BIO_new(BIO_f_base64());
  Check(sink != nullptr && b64 != nullptr, "streams");
  if (unbroken) BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
  BIO_push(b64, sink);
  for (size_t at = 0; at < plain.size();) {
    const size_t n = in.ConsumeIntegralInRange<size_t>(1, plain.size() - at);
    Check(BIO_write(b64, plain.data() + at, static_cast<int>(n)) == static_cast<int>(n),
          "a write taken whole");
    at += n;
    if (in.ConsumeBool()) Check(BIO_flush(b64) == 1, "a flush");
  }
  Check(BIO_flush(b64) == 1, "the last flush");
  char* p = nullptr;
  const long len = BIO_get_mem_data(sink, &p);
  std::string text(p, static_cast<size_t>(len));
  BIO_free_all(b64);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  const bool encode_first = in.ConsumeBool();
  const bool unbroken = in.ConsumeBool();
  std::string text = in.ConsumeRandomLengthString(6000);
  std::string plain;
  if (encode_first) {
    // Well-formed text: the encoder's lines of the fuzz bytes.
    plain = text;
    std::vector<unsigned char> enc(plain.size() / 3 * 4 + plain.size() / 48 + 80);
    int n = 0;
    if (unbroken) {
      n = EVP_EncodeBlock(enc.data(), U(plain), static_cast<int>(plain.size()));
    } else {
      EVP_ENCODE_CTX ctx;
      EVP_EncodeInit(&ctx);
      int f = 0;
      EVP_EncodeUpdate(&ctx, enc.data(), &n, U(plain), static_cast<int>(plain.size()));
      EVP_EncodeFinal(&ctx, enc.data() + n, &f);
      n += f;
    }
    text.assign(reinterpret_cast<char*>(enc.data()), static_cast<size_t>(n));
  }

  int rc = 0;
  const std::string streamed = StreamDecode(&in, text, &rc);
  int rc_whole = 0;
  const std::string whole = StreamDecode(nullptr, text, &rc_whole);
  std::vector<unsigned char> block(text.size() + 4);
  const int bn = EVP_DecodeBlock(block.data(), U(text), static_cast<int>(text.size()));
  Check(bn == -1 || (bn % 3 == 0 && static_cast<size_t>(bn) <= text.size() / 4 * 3),
        "a block result");
  int last = 0;
  const std::string filtered = FilterDecode(in, text, unbroken, &last);
  if (encode_first) {
    Check(unbroken || streamed == plain, "streamed round trip in pieces");
    Check(unbroken || whole == plain, "streamed round trip");
    Check(filtered == plain, "filter round trip");
    Check(last == 0, "a clean end");
    if (!unbroken) {
      static const char* const kBlanks[] = {"", " ", "\t", " \t "};
      const std::string blanked =
          Blanked(text, kBlanks[in.ConsumeIntegralInRange(0, 3)], in.ConsumeBool());
      Check(StreamDecode(&in, blanked, &rc) == plain && rc != -1 && rc != -2,
            "blanked text in pieces");
      Check(FilterDecode(in, blanked, false, &last) == plain && last == 0,
            "blanked text through the filter");
    }
    const std::string flushed = FlushedText(in, plain, unbroken);
    Check(FilterDecode(in, flushed, unbroken, &last) == plain && last == 0,
          "flushed writes through the filter");
  }
  ERR_clear_error();
  return 0;
}
