// Random base64 texts in the shapes files and mail take (64- and 76-column
// lines, blanks and tabs at line ends, CRLF or CR alone, with and without a final
// line end, bare or in PEM armour with or without header lines), what the writer
// makes when flushed between writes, and texts joined as `cat` joins files:
// read through the base64 filter with every read size, from a source that
// ends, one that gives short reads and asks to retry, and a memory stream
// whose end is a retry, each gives exactly its data and no error.  The bare
// texts also go through EVP_DecodeUpdate in random pieces, the armoured ones
// through PEM_read_bio.  The texts come from a fixed seed; the environment
// variable MORVANE_B64_TEXT_ROUNDS sets how many (2,000 by default).

#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>

#include "scripted_stream.h"
#include "test_support.h"

namespace {

int Rounds() {
  const char* env = getenv("MORVANE_B64_TEXT_ROUNDS");
  return env != nullptr && atoi(env) > 0 ? atoi(env) : 2000;
}

// RFC 4648, section 4, one run without line breaks.
std::string Base64(const std::string& data) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t i = 0; i < data.size(); i += 3) {
    const size_t n = data.size() - i < 3 ? data.size() - i : 3;
    unsigned v = 0;
    for (size_t k = 0; k < 3; k++)
      v = v << 8 | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
    for (size_t k = 0; k < 4; k++) out += k <= n ? kAlphabet[(v >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

std::string RandomBytes(std::mt19937& rng, size_t n) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng());
  return s;
}

// Mostly up to a few lines, now and then several kilobytes.
size_t RandomLength(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0:
      return rng() % 100;
    case 1:
      return rng() % 5000;
    default:
      return rng() % 1500;
  }
}

struct Shape {
  size_t width = 64;
  const char* eol = "\n";
  bool final_eol = true;
  int blanks = 0;  // 0 none, 1 on some lines, 2 on every line
};

Shape RandomShape(std::mt19937& rng) {
  Shape s;
  s.width = rng() % 2 ? 64 : 76;
  s.eol = rng() % 3 == 0 ? "\r\n" : rng() % 4 == 0 ? "\r" : "\n";
  s.final_eol = rng() % 4 != 0;
  s.blanks = static_cast<int>(rng() % 3);
  return s;
}

std::string Blanks(std::mt19937& rng, const Shape& s) {
  if (s.blanks == 0 || (s.blanks == 1 && rng() % 3 != 0)) return "";
  std::string b;
  for (unsigned n = 1 + rng() % 3; n > 0; n--) b += rng() % 2 ? ' ' : '\t';
  return b;
}

// `b64` in lines of `s.width` characters.
std::string Lines(std::mt19937& rng, const std::string& b64, const Shape& s, bool final_eol) {
  std::string out;
  for (size_t at = 0; at < b64.size(); at += s.width) {
    out += b64.substr(at, s.width) + Blanks(rng, s);
    if (at + s.width < b64.size() || final_eol) out += s.eol;
  }
  return out;
}

// Header lines: 0 none, 1 just the empty line that ends them, 2 the two of
// an encrypted block.
std::string Pem(std::mt19937& rng, const std::string& b64, const Shape& s, int headers) {
  std::string out = "-----BEGIN TEST DATA-----" + std::string(s.eol);
  if (headers == 2) {
    out += "Proc-Type: 4,ENCRYPTED" + std::string(s.eol) +
           "DEK-Info: DES-EDE3-CBC,0123456789ABCDEF" + s.eol;
  }
  if (headers != 0) out += s.eol;
  out += Lines(rng, b64, s, true) + "-----END TEST DATA-----";
  return s.final_eol ? out + s.eol : out;
}

enum Source { kEnds, kScripted, kMemory, kSources };

// Reads `text` through a base64 filter in reads of `piece` bytes; failures
// name the text.
void ExpectFilterReads(const std::string& text, const std::string& data, bool unbroken,
                       Source source, int piece, std::mt19937& rng) {
  SCOPED_TRACE(testing::Message() << "source " << source << ", reads of " << piece
                                  << (unbroken ? ", unbroken" : "") << ", text:\n"
                                  << text);
  BIO* src = nullptr;
  switch (source) {
    case kEnds:
      src = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
      break;
    case kScripted: {
      src = morvane_test::NewScriptedStream();
      morvane_test::ScriptedStream& st = morvane_test::Script(src);
      st.input = text;
      st.max_read = static_cast<int>(1 + rng() % 1100);
      for (int i = static_cast<int>(rng() % 6); i > 0; i--) {
        st.read_script.push_back(rng() % 2 ? morvane_test::ScriptStep::Retry()
                                           : morvane_test::ScriptStep::Move(1 + rng() % 70));
      }
      break;
    }
    default:
      // Its end asks to retry (and says it is the end).
      src = BIO_new(BIO_s_mem());
      BIO_write(src, text.data(), static_cast<int>(text.size()));
      break;
  }
  BIO* b64 = BIO_new(BIO_f_base64());
  ASSERT_TRUE(src != nullptr && b64 != nullptr);
  if (unbroken) BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
  BIO_push(b64, src);
  std::string got;
  std::vector<char> buf(static_cast<size_t>(piece));
  int n = 0, retries = 0;
  for (;;) {
    n = BIO_read(b64, buf.data(), piece);
    if (n > 0) {
      got.append(buf.data(), static_cast<size_t>(n));
    } else if (BIO_should_retry(b64) && source == kScripted && retries++ < 10) {
      continue;  // the script asked; the text is still to come
    } else {
      break;
    }
  }
  // At a memory stream's end the data may go on after unpadded text; the
  // filter then holds nothing and says it is at its end.
  if (source == kMemory && n < 0 && BIO_should_retry(b64) && BIO_eof(b64) == 1) n = 0;
  EXPECT_EQ(n, 0);
  EXPECT_EQ(got.size(), data.size());
  EXPECT_TRUE(got == data);
  EXPECT_ERRORS({});
  BIO_free_all(b64);
}

void ExpectFilterReadsAll(const std::string& text, const std::string& data, bool unbroken,
                          int round, std::mt19937& rng) {
  for (const int piece : {1, 3, 64, 1000, 4096}) {
    ExpectFilterReads(text, data, unbroken, static_cast<Source>((round + piece) % kSources), piece,
                      rng);
  }
}

// EVP_DecodeUpdate over `text` in random pieces, then EVP_DecodeFinal.
void ExpectPiecewiseDecode(const std::string& text, const std::string& data, std::mt19937& rng) {
  SCOPED_TRACE(text);
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  std::vector<unsigned char> out(text.size() + 3);
  int total = 0, rc = 1;
  for (size_t at = 0; at < text.size() && rc == 1;) {
    const size_t n = std::min(text.size() - at, static_cast<size_t>(1 + rng() % 200));
    int got = 0;
    rc = EVP_DecodeUpdate(&ctx, out.data() + total, &got,
                          reinterpret_cast<const unsigned char*>(text.data() + at),
                          static_cast<int>(n));
    total += got;
    at += n;
  }
  ASSERT_NE(rc, -1);
  if (rc == 1) {
    int got = 0;
    ASSERT_EQ(EVP_DecodeFinal(&ctx, out.data() + total, &got), 1);
    total += got;
  }
  EXPECT_TRUE(std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(total)) == data);
}

void ExpectPemRead(const std::string& text, const std::string& data) {
  SCOPED_TRACE(text);
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  char *name = nullptr, *header = nullptr;
  unsigned char* body = nullptr;
  long len = 0;
  ASSERT_EQ(PEM_read_bio(in, &name, &header, &body, &len), 1) << morvane_test::DrainErrors();
  EXPECT_STREQ(name, "TEST DATA");
  EXPECT_TRUE(std::string(reinterpret_cast<char*>(body), static_cast<size_t>(len)) == data);
  CRYPTO_free(name);
  CRYPTO_free(header);
  CRYPTO_free(body);
  BIO_free(in);
}

TEST(Base64Texts, BareTextsReadWhole) {
  std::mt19937 rng(0x6236342d);
  for (int round = 0; round < Rounds() && !HasFailure(); round++) {
    const std::string data = RandomBytes(rng, RandomLength(rng));
    const Shape shape = RandomShape(rng);
    const std::string text = Lines(rng, Base64(data), shape, shape.final_eol);
    ExpectFilterReadsAll(text, data, false, round, rng);
    ExpectPiecewiseDecode(text, data, rng);
  }
}

TEST(Base64Texts, ArmouredTextsReadWhole) {
  std::mt19937 rng(0x70656d21);
  for (int round = 0; round < Rounds() && !HasFailure(); round++) {
    const std::string data = RandomBytes(rng, RandomLength(rng));
    Shape shape = RandomShape(rng);
    if (shape.eol[0] == '\r' && shape.eol[1] == '\0') shape.eol = "\n";  // PEM lines end in LF
    const int headers = static_cast<int>(rng() % 3);
    if (headers != 0) shape.width = 64;  // a block with headers takes 64-character lines
    const std::string text = Pem(rng, Base64(data), shape, headers);
    // The filter reads a header line with base64 before its ":" as the
    // first line of data.
    if (headers != 2) ExpectFilterReadsAll(text, data, false, round, rng);
    if (!data.empty()) ExpectPemRead(text, data);
  }
}

// Random writes (empty ones too) with flushes between some of them, in
// lines and unbroken.
TEST(Base64Texts, FlushedWritesReadWhole) {
  std::mt19937 rng(0x666c7368);
  for (int round = 0; round < Rounds() / 4 && !HasFailure(); round++) {
    const bool unbroken = round % 2 != 0;
    BIO* sink = BIO_new(BIO_s_mem());
    BIO* w = BIO_push(BIO_new(BIO_f_base64()), sink);
    if (unbroken) BIO_set_flags(w, BIO_FLAGS_BASE64_NO_NL);
    std::string data;
    for (int k = static_cast<int>(rng() % 8); k >= 0; k--) {
      const std::string part = RandomBytes(rng, rng() % 4 == 0 ? rng() % 2000 : rng() % 60);
      if (!part.empty()) {
        ASSERT_EQ(BIO_write(w, part.data(), static_cast<int>(part.size())),
                  static_cast<int>(part.size()));
      }
      data += part;
      if (k == 0 || rng() % 2 == 0) {
        ASSERT_EQ(BIO_flush(w), 1);
      }
    }
    char* p = nullptr;
    const long len = BIO_get_mem_data(sink, &p);
    ExpectFilterReadsAll(std::string(p, static_cast<size_t>(len)), data, unbroken, round, rng);
    BIO_free_all(w);
  }
}

// Two to four texts joined, each but the last with its line end.
TEST(Base64Texts, JoinedTextsReadWhole) {
  std::mt19937 rng(0x63617421);
  for (int round = 0; round < Rounds() / 4 && !HasFailure(); round++) {
    const bool unbroken = round % 2 != 0;
    std::string text, data;
    for (int k = static_cast<int>(2 + rng() % 3); k > 0; k--) {
      const std::string part = RandomBytes(rng, RandomLength(rng) % 300);
      const Shape shape = RandomShape(rng);
      text += unbroken ? Base64(part) : Lines(rng, Base64(part), shape, shape.final_eol || k > 1);
      data += part;
    }
    ExpectFilterReadsAll(text, data, unbroken, round, rng);
  }
}

// One-line texts (with and without a line end, padded and not) and texts
// whose lines end with CR alone, from a memory stream the caller wrote:
// their data, then an end, at every read size.
TEST(Base64Texts, OneLineAndCrTextsFromMemoryAtEveryReadSize) {
  std::mt19937 rng(0x6f6e6531);
  Shape cr;
  cr.eol = "\r";
  for (const size_t len : {1, 2, 3, 45, 48, 2500}) {
    const std::string data = RandomBytes(rng, len);
    cr.final_eol = len % 2 != 0;
    const std::string texts[] = {Base64(data), Base64(data) + "\n",
                                 Lines(rng, Base64(data), cr, cr.final_eol)};
    for (const std::string& text : texts) {
      if (text.size() > 80 && text.find('\r') == std::string::npos) continue;  // a line too long
      for (int piece = 1; piece <= 4096 && !HasFailure(); piece++) {
        if (text.size() > 100 && piece % 37 != 1 && piece < 4090) continue;  // long texts: a sample
        ExpectFilterReads(text, data, false, kMemory, piece, rng);
      }
    }
  }
}

}  // namespace
