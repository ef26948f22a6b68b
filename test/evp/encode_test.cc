// Base64 coding: the block coders on the RFC 4648 vectors, the streaming
// encoder's lines, and the streaming decoder's ends, line ends and refusals.

#include <limits.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/evp.h>

namespace {

struct Vector {
  const char* plain;
  const char* encoded;
};

// RFC 4648, section 10.
constexpr Vector kRfc4648[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

const unsigned char* U(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

std::string Text(const unsigned char* p, int n) {
  return std::string(reinterpret_cast<const char*>(p), static_cast<size_t>(n));
}

// EVP_DecodeUpdate over `text` from a fresh context, in one call or in
// calls of `piece` characters up to the first result -1.
struct Decoded {
  int rc;
  std::string bytes;
};
Decoded DecodeUpdate(const std::string& text, size_t piece = 0) {
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  std::vector<unsigned char> out(text.size() + 8);
  int total = 0, rc = 1;
  size_t at = 0;
  do {
    const size_t k = piece == 0 ? text.size() : std::min(piece, text.size() - at);
    int n = -7;
    rc = EVP_DecodeUpdate(&ctx, out.data() + total, &n, U(text.data() + at), static_cast<int>(k));
    total += n;
    at += k;
  } while (rc >= 0 && at < text.size());
  return {rc, Text(out.data(), total)};
}

TEST(Base64, BlockCodersOnTheRfcVectors) {
  for (const Vector& v : kRfc4648) {
    const int n = static_cast<int>(strlen(v.plain));
    unsigned char enc[16], dec[16];
    EXPECT_EQ(EVP_EncodeBlock(enc, U(v.plain), n), static_cast<int>(strlen(v.encoded)));
    EXPECT_STREQ(reinterpret_cast<char*>(enc), v.encoded);
    // Padding counts: 3 bytes per group of 4 characters.
    const int m = EVP_DecodeBlock(dec, U(v.encoded), static_cast<int>(strlen(v.encoded)));
    EXPECT_EQ(m, (n + 2) / 3 * 3) << v.encoded;
    EXPECT_EQ(Text(dec, n), v.plain);
  }
}

TEST(Base64, DecodeBlockTrimsAndRefuses) {
  unsigned char out[16];
  EXPECT_EQ(EVP_DecodeBlock(out, U(" Zg==\n"), 6), 3);
  EXPECT_EQ(EVP_DecodeBlock(out, U("Zm8"), 3), -1);
  EXPECT_EQ(EVP_DecodeBlock(out, U("Zm9v\nZm9v"), 9), -1);
  EXPECT_EQ(EVP_DecodeBlock(out, U("Zm!v"), 4), -1);
  EXPECT_EQ(EVP_DecodeBlock(out, U("Zm\xC1v"), 4), -1);  // a top-bit byte is no "A"
}

TEST(Base64, EncodeUpdateWritesWholeLines) {
  unsigned char in[48], out[200];
  for (int i = 0; i < 48; i++) in[i] = static_cast<unsigned char>(i);
  for (int len : {48, 47}) {
    EVP_ENCODE_CTX ctx;
    EVP_EncodeInit(&ctx);
    int n = -1, f = -1;
    EVP_EncodeUpdate(&ctx, out, &n, in, len);
    EXPECT_EQ(n, len == 48 ? 65 : 0);
    EVP_EncodeFinal(&ctx, out + n, &f);
    EXPECT_EQ(f, len == 48 ? 0 : 65);
    EXPECT_EQ(out[n + f - 1], '\n');
    EXPECT_EQ(out[n + f], '\0');
  }
}

// RFC 4648, section 4, one bit at a time: the model the coders are held to.
std::string ModelBase64(const std::vector<unsigned char>& in) {
  static const char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  for (size_t bit = 0; bit < 8 * in.size(); bit += 6) {
    int v = 0;
    for (size_t b = bit; b < bit + 6; b++)
      v = 2 * v + (b < 8 * in.size() ? (in[b / 8] >> (7 - b % 8)) & 1 : 0);
    out += kAlphabet[v];
  }
  while (out.size() % 4 != 0) out += '=';
  return out;
}

// Every length around the 48-byte pieces of the vector encoder, whole and in
// lines, against the model; nothing written past the zero.
TEST(Base64, EncodersMatchTheModelAtEveryLength) {
  unsigned seed = 1;
  for (size_t n = 0; n <= 150; n++) {
    std::vector<unsigned char> in(n);
    for (auto& b : in) b = static_cast<unsigned char>((seed = seed * 1103515245 + 12345) >> 16);
    const std::string want = ModelBase64(in);
    std::vector<unsigned char> out(want.size() + n / 48 + 8, 0xEE);
    ASSERT_EQ(EVP_EncodeBlock(out.data(), in.data(), static_cast<int>(n)),
              static_cast<int>(want.size()));
    EXPECT_EQ(Text(out.data(), static_cast<int>(want.size())), want) << n;
    EXPECT_EQ(out[want.size()], 0);
    EXPECT_EQ(out[want.size() + 1], 0xEE) << n;
    std::string lines;
    for (size_t i = 0; i < n; i += 48)
      lines += ModelBase64({in.begin() + i, in.begin() + std::min(n, i + 48)}) + "\n";
    EVP_ENCODE_CTX ctx;
    EVP_EncodeInit(&ctx);
    int a = 0, b = 0;
    EVP_EncodeUpdate(&ctx, out.data(), &a, in.data(), static_cast<int>(n));
    EVP_EncodeFinal(&ctx, out.data() + a, &b);
    EXPECT_EQ(Text(out.data(), a + b), lines) << n;
  }
}

TEST(Base64, EncodeUpdateRefusesCountsPastIntMax) {
  EVP_ENCODE_CTX ctx;
  EVP_EncodeInit(&ctx);
  unsigned char in[8] = {0}, out[8];
  int n = -1;
  EVP_EncodeUpdate(&ctx, out, &n, in, 3);
  // Nothing may be read or written: the input is far shorter than claimed.
  EVP_EncodeUpdate(&ctx, out, &n, in, INT_MAX);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(ctx.num, 3);
}

TEST(Base64, DecodeUpdateCases) {
  const std::string line64(64, 'A');
  const std::string zeros48(48, '\0');
  const struct {
    std::string text;
    int rc;
    std::string bytes;
  } kCases[] = {
      {line64 + "\r\n", 1, zeros48},                    // both line-end characters swallowed
      {line64 + "\r\n" + "Zm8=\n", 0, zeros48 + "fo"},  // padding ends, left out of the count
      {"Zm9v\n", 1, "foo"},                             // a short last line without padding
      {"-----END X-----\n", 0, ""},
      {std::string(81, 'A'), -1, zeros48},      // no line end in 80 characters
      {line64 + "\nZm9v!Zm9v\n", -1, zeros48},  // a bad character: the lines before it count
      {"Zm9\xC1\n", -1, ""},                    // 0xC1 is not "A"
      {"", 0, ""},
      {line64 + " \n", 1, zeros48},  // blanks after a full line end nothing
      {line64 + "\t\r\n" + line64 + " \n", 1, zeros48 + zeros48},
      {"\n", 1, ""},  // nor does an empty line
      {line64 + " \r\n" + "Zm8=\t\n", 0, zeros48 + "fo"},
      {"Zm8=\n-----END X-----\n", 0, "fo"},
      // Data after the padded group; the group counts, as it would had a
      // call ended after it.
      {"Zm8=\nZm9v\n", -1, "fo"},
      {std::string(62, 'A') + "==\nZm9v\n", -1, std::string(46, '\0')},
      {"Zm8=Zm9v\n", -1, "fo"},
      {"Zg=\n=x\n", -1, "f"},
      // A line starting with "-" ends the data, nothing after it is read;
      // a "-" inside a line, or after a cut group, is corrupt text.
      {"QUJD\n-\n", 0, "ABC"},
      {"QUJD\n -----END X-----\nQUJD\n", 0, "ABC"},
      {"QQ==\n\n-----END X-----\nQUJD\n", 0, "A"},
      {"QUJDRA\n-----END X-----\n", -1, "ABC"},
      {"QUJD-QUJD\n", -1, "ABC"},
  };
  // Where the calls split the text changes nothing (but the count before
  // a bad character or an over-long line: whole groups a call ended with).
  for (const auto& c : kCases) {
    for (size_t piece = 0; piece <= (c.rc < 0 && c.bytes.size() > 40 ? 0 : 7); piece++) {
      const Decoded d = DecodeUpdate(c.text, piece);
      EXPECT_EQ(d.rc, c.rc) << c.text << piece;
      EXPECT_EQ(d.bytes, c.bytes) << c.text << piece;
    }
  }
}

TEST(Base64, PaddingSplitAcrossCallsIsCounted) {
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  unsigned char out[16];
  int n = -1;
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out, &n, U("Zm8"), 3), 1);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out, &n, U("=\n"), 2), 0);
  EXPECT_EQ(Text(out, n), "fo");
}

TEST(Base64, PaddingSplitInsideAFullLineIsCounted) {
  // A last line of 64 characters ending in "==", its first "=" in one call
  // and its second in the next: 48 - 2 bytes.
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  const std::string first = std::string(62, 'A') + "=";
  unsigned char out[64];
  int n = -1, m = -1;
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out, &n, U(first.data()), 63), 1);
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out + n, &m, U("=\n"), 2), 0);
  EXPECT_EQ(n + m, 46);
}

// Split anywhere into two calls, a text with blanks and carriage returns at
// its line ends decodes as in one call.
TEST(Base64, EverySplitDecodesAlike) {
  const std::string line64(64, 'A');
  const std::string text = line64 + " \r\n" + line64 + "\t\n" + line64 + "\nZm9vYmFy \n" + line64 +
                           "\r\n\nZm9vYg==  \r\n";
  const std::string want =
      std::string(96, '\0') + std::string(48, '\0') + "foobar" + std::string(48, '\0') + "foob";
  for (size_t at = 1; at <= text.size(); at++) {
    EVP_ENCODE_CTX ctx;
    EVP_DecodeInit(&ctx);
    std::vector<unsigned char> out(text.size());
    int n = -1, m = 0, f = 0;
    int rc = EVP_DecodeUpdate(&ctx, out.data(), &n, U(text.data()), static_cast<int>(at));
    if (rc == 1)
      rc = EVP_DecodeUpdate(&ctx, out.data() + n, &m, U(text.data() + at),
                            static_cast<int>(text.size() - at));
    if (rc == 1) {
      EXPECT_EQ(EVP_DecodeFinal(&ctx, out.data() + n + m, &f), 1);
    }
    EXPECT_NE(rc, -1) << at;
    EXPECT_EQ(Text(out.data(), n + m + f), want) << at;
  }
}

TEST(Base64, DecodeFinalTakesThePendingGroup) {
  EVP_ENCODE_CTX ctx;
  EVP_DecodeInit(&ctx);
  unsigned char out[16];
  int n = -1;
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out, &n, U("Zm9vYm"), 6), 1);
  EXPECT_EQ(EVP_DecodeFinal(&ctx, out, &n), -1);  // 6 characters: no whole groups
  EVP_DecodeInit(&ctx);
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out, &n, U("Zm"), 2), 1);
  EXPECT_EQ(EVP_DecodeUpdate(&ctx, out, &n, U("9v"), 2), 1);
  EXPECT_EQ(Text(out, n), "foo");
  EXPECT_EQ(EVP_DecodeFinal(&ctx, out, &n), 1);
  EXPECT_EQ(n, 0);
}

}  // namespace
