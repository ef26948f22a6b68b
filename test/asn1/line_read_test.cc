// Line readers over streams that hand lines out in pieces: the hex value
// readers and the S/MIME header and text readers give what they give for
// the whole text in one memory stream, and a line too long for the reader's
// buffer fails with a reason.

#include <string.h>

#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/x509.h>

#include "last_error.h"
#include "chunked_sources.h"
#include "test_support.h"

namespace {

using A2i = int (*)(BIO*, ASN1_STRING*, char*, int);

// "rc:hex value:last reason".
std::string ReadHex(A2i a2i, BIO* in, int size) {
  ASN1_STRING* s = ASN1_STRING_new();
  std::string buf(static_cast<size_t>(size), '\0');
  const int rc = a2i(in, s, buf.data(), size);
  std::string r = std::to_string(rc) + ":" + morvane_test::ToHex(s->data, s->length);
  ASN1_STRING_free(s);
  return r + ":" + std::to_string(LastAsn1Error().first);
}

std::string Mem(BIO* b) {
  char* p = nullptr;
  const long n = b != nullptr ? BIO_get_mem_data(b, &p) : 0;
  return std::string(p != nullptr ? p : "", static_cast<size_t>(n));
}

std::string Text(BIO* in) {
  BIO* out = BIO_new(BIO_s_mem());
  std::string r = std::to_string(SMIME_text(in, out)) + ":" + Mem(out);
  BIO_free(out);
  return r + ":" + std::to_string(LastAsn1Error().first);
}

// Whether a value was read, and the content part.
std::string Read(BIO* in) {
  BIO* cont = nullptr;
  ASN1_VALUE* v = SMIME_read_ASN1(in, &cont, &X509_ALGOR_it);
  std::string r = (v != nullptr ? "value:" : "null:") + Mem(cont);
  ASN1_item_free(v, &X509_ALGOR_it);
  BIO_free(cont);
  return r + ":" + std::to_string(LastAsn1Error().first);
}

// A source whose line reads fill the whole buffer with "0", without a
// terminator, and never end.
BIO* NewFilling() {
  static BIO_METHOD m = {BIO_TYPE_SOURCE_SINK | 0x7d, "filling"};
  m.bread = m.bgets = [](BIO*, char* buf, int size) { return memset(buf, '0', size), size; };
  m.ctrl = [](BIO*, int, long, void*) { return 0L; };
  m.create = [](BIO* b) { return b->init = 1; };
  return BIO_new(&m);
}

const std::string kDigits70 = "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20212223";
const std::string kLong(10000, 'x');

}  // namespace

// Every reader over every kind of piece source, 12 cuts each: the result
// from the whole text in one memory stream, which succeeds.
TEST(LineRead, PiecesGiveTheWholeLine) {
  const struct {
    const char* name;
    std::string text;
    std::string (*run)(BIO*);
  } rows[] = {
      {"integer", kDigits70 + "\\\r\n0A0B\n",
       [](BIO* b) { return ReadHex(a2i_ASN1_INTEGER, b, 100); }},
      {"enumerated", "0102030405060708090A0B0C0D0E0F10\n",
       [](BIO* b) { return ReadHex(a2i_ASN1_ENUMERATED, b, 40); }},
      {"string", "0102030405060708090A0B0C0D0E0F10\\\n0102\r\n",
       [](BIO* b) { return ReadHex(a2i_ASN1_STRING, b, 40); }},
      {"text", "Content-Type: text/plain\r\nX-Long: " + kLong + "\r\n\r\nbody\r\nmore", Text},
      {"signed",
       "Content-Type: multipart/signed; x=\"" + kLong +
           "\"; boundary=b\n\n--b\nline one\nline two\n--b\nContent-Type: "
           "application/pkcs7-signature\nX-Long: " +
           kLong + "\n\nMAkGBSsOAwIaBQA=\n--b--\n",
       Read},
  };
  for (const auto& r : rows) {
    BIO* mem = BIO_new_mem_buf(const_cast<char*>(r.text.data()), static_cast<int>(r.text.size()));
    const std::string whole = r.run(mem);
    BIO_free(mem);
    EXPECT_TRUE(whole.rfind("1:", 0) == 0 || whole.rfind("value:", 0) == 0) << r.name << whole;
    for (int kind = 0; kind < morvane_test::PieceSource::kKinds; kind++) {
      for (uint32_t seed = 1; seed <= 12; seed++) {
        morvane_test::PieceSource src(kind, r.text, seed);
        ASSERT_NE(nullptr, src.bio());
        ASSERT_EQ(whole, r.run(src.bio()))
            << r.name << " " << morvane_test::PieceSource::kNames[kind] << " " << seed;
      }
    }
  }
}

// Over a digest filter (the digest, then nothing) and a source that fills
// whatever it is given: every reader stays inside its buffer (the caller's
// of each size, the object list's and the MIME header's) and returns.
TEST(LineRead, ReadersStayInTheirBuffers) {
  for (const bool digest : {true, false}) {
    const auto once = [&](auto run) {
      BIO* b = digest
                   ? BIO_push(BIO_new(BIO_f_md()), BIO_new_mem_buf(const_cast<char*>("0A0B\n"), 5))
                   : NewFilling();
      BIO_set_md(b, EVP_sha1());
      const auto r = run(b);
      BIO_free_all(b);
      return r;
    };
    for (int size = 1; size <= 600; size++) {
      for (A2i a2i : {a2i_ASN1_INTEGER, a2i_ASN1_ENUMERATED, a2i_ASN1_STRING})
        EXPECT_EQ('0', once([&](BIO* b) { return ReadHex(a2i, b, size); })[0]) << size;
    }
    EXPECT_EQ(0, once(OBJ_create_objects));
    EXPECT_EQ('0', once(Text)[0]);
    EXPECT_EQ('n', once(Read)[0]);
  }
  ERR_clear_error();
}

// A line that does not fit the caller's buffer (with its terminator) fails
// with "too long"; one whose line feed alone does not fit is whole.
TEST(LineRead, HexLinesLongerThanTheBufferFail) {
  const std::string d32 = "0102030405060708090A0B0C0D0E0F10", v32 = "0102030405060708090a0b0c0d0e0f10";
  const std::string fail = "0::" + std::to_string(ASN1_R_TOO_LONG);
  const struct {
    A2i a2i;
    std::string text;
    int size;
    std::string result;
  } rows[] = {
      {a2i_ASN1_INTEGER, d32 + "\n", 15, fail},
      {a2i_ASN1_INTEGER, d32 + "\n", 32, fail},
      {a2i_ASN1_INTEGER, d32 + "\r\n", 33, fail},
      {a2i_ASN1_INTEGER, d32 + "\n", 33, "1:" + v32 + ":0"},
      {a2i_ASN1_INTEGER, d32, 33, "1:" + v32 + ":0"},
      {a2i_ASN1_INTEGER, "01\\\n" + d32 + "\n", 20, fail},
      {a2i_ASN1_ENUMERATED, d32 + "\n", 15, fail},
      {a2i_ASN1_STRING, d32 + "\n", 15, fail},
      {a2i_ASN1_STRING, d32 + "\n", 34, "1:" + v32 + ":0"},
  };
  for (const auto& r : rows) {
    BIO* in = BIO_new_mem_buf(const_cast<char*>(r.text.data()), static_cast<int>(r.text.size()));
    EXPECT_EQ(r.result, ReadHex(r.a2i, in, r.size)) << r.text << " " << r.size;
    BIO_free(in);
  }
}

// A header line longer than the header reader holds (65,535 bytes without
// its line end) fails the headers.
TEST(LineRead, HeaderLinesLongerThanTheReaderFail) {
  const std::string text = "Content-Type: text/plain\nX: " + std::string(70000, 'x') + "\n\nbody";
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(0, SMIME_text(in, out));
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_SMIME_TEXT, ASN1_R_HEADER_TOO_LONG},
                 {ERR_LIB_ASN1, ASN1_F_SMIME_TEXT, ASN1_R_MIME_PARSE_ERROR}});
  BIO_free(in);
  // 65,535 bytes without the CR LF that ends them: whole.
  const std::string crlf = "Content-Type: text/plain\r\nX: " + std::string(65532, 'x') + "\r\n\r\n";
  in = BIO_new_mem_buf(const_cast<char*>(crlf.data()), static_cast<int>(crlf.size()));
  EXPECT_EQ(1, SMIME_text(in, out));
  BIO_free(out);
  BIO_free(in);
}
