// The PEM armour (RFC 1421, 4.4; RFC 7468): the block layouts of
// test/data/pem/ through PEM_read_bio, blocks written by PEM_write_bio, the
// PKITS trust anchor both ways, and the FILE forms.

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/pem.h>

#include "pem_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::ErrorsAre;
using pem_test::Block;
using pem_test::MemBio;
using pem_test::ReadBlock;
using pem_test::Repeat;

// RFC 4648, 10: "foobar" is "Zm9vYmFy", "fooba" is "Zm9vYmE=".
const std::string kLine = Repeat("Zm9vYmFy", 8);  // 48 bytes in 64 characters

struct ReadCase {
  const char* file;
  int result;
  const char* name;
  const char* header;
  std::string data;
  int reason;  // the one error queued, 0 for none
};

const ReadCase kReadCases[] = {
    {"skip_leading.pem", 1, "TEST", "", "foobar", 0},
    {"no_start.pem", 0, nullptr, nullptr, "", PEM_R_NO_START_LINE},
    // First line is body: no header, lines of any length (76 characters, 252
    // with inner spaces: 253 bytes with the line feed, all that one read of
    // the line buffer takes) as long as the decoder takes them.
    {"no_header_long_lines.pem", 1, "TEST", "",
     Repeat("foobar", 9) + "foo" + Repeat("foobar", 8) + "fooba", 0},
    // An empty line after the begin line: the 64-character rule applies.
    {"empty_line_header.pem", 1, "TEST", "", Repeat("foobar", 16) + "fooba", 0},
    {"empty_line_long.pem", 0, nullptr, nullptr, "", PEM_R_BAD_END_LINE},
    {"header_short_middle.pem", 0, nullptr, nullptr, "", PEM_R_BAD_END_LINE},
    {"header_line_65.pem", 0, nullptr, nullptr, "", PEM_R_BAD_END_LINE},
    {"header_block.pem", 1, "TEST", "Comment: a header line\nX-Other: second line\n",
     Repeat("foobar", 8) + "fooba", 0},
    {"header_full_last_line.pem", 1, "TEST", "Comment: a header line\n", Repeat("foobar", 16), 0},
    {"end_other_name.pem", 0, nullptr, nullptr, "", PEM_R_BAD_END_LINE},
    {"end_trailing_text.pem", 0, nullptr, nullptr, "", PEM_R_BAD_END_LINE},
    {"end_missing.pem", 0, nullptr, nullptr, "", PEM_R_BAD_END_LINE},
    // A body that decodes to nothing: no block, and no error.
    {"empty_body.pem", 0, nullptr, nullptr, "", 0},
    // Spaces, tabs and CR at line ends are ignored.
    {"trailing_space.pem", 1, "TEST", "Comment: a header line\n", Repeat("foobar", 8) + "fooba", 0},
    {"bad_base64.pem", 0, nullptr, nullptr, "", PEM_R_BAD_BASE64_DECODE},
    {"empty_name.pem", 1, "", "", "foob", 0},
    // The longest begin line the 253-byte line buffer holds whole.
    {"name_237.pem", 1, nullptr, "", "foo", 0},
    {"name_238.pem", 0, nullptr, nullptr, "", PEM_R_NO_START_LINE},
    // Body lines of 253 and 506 characters are read whole and refused.
    {"body_line_253_last.pem", 0, nullptr, nullptr, "", PEM_R_BAD_BASE64_DECODE},
    {"body_line_506_middle.pem", 0, nullptr, nullptr, "", PEM_R_BAD_BASE64_DECODE},
    // Padding ends the data: a padded line before the last one is refused,
    // never read as the data before it.
    {"pad_full_line_middle.pem", 0, nullptr, nullptr, "", PEM_R_BAD_BASE64_DECODE},
    {"no_header_pad_middle.pem", 0, nullptr, nullptr, "", PEM_R_BAD_BASE64_DECODE},
    {"pad_full_line_last.pem", 1, "TEST", "", Repeat("foobar", 7) + "fooba", 0},
};

TEST(PemRead, BlockLayouts) {
  for (const ReadCase& c : kReadCases) {
    SCOPED_TRACE(c.file);
    BIO* b = MemBio(pem_test::CaseFile(c.file));
    Block got;
    EXPECT_EQ(c.result, ReadBlock(b, &got));
    if (c.reason != 0) {
      EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, c.reason}});
    } else {
      EXPECT_ERRORS({});
    }
    if (c.result == 1) {
      if (c.name != nullptr) {
        EXPECT_EQ(c.name, got.name);
      }
      EXPECT_EQ(c.header, got.header);
      EXPECT_EQ(c.data, got.data);
    }
    BIO_free(b);
  }
  // The 237-character name comes back whole.
  BIO* b = MemBio(pem_test::CaseFile("name_237.pem"));
  Block got;
  ASSERT_EQ(1, ReadBlock(b, &got));
  EXPECT_EQ(std::string(237, 'N'), got.name);
  BIO_free(b);
}

TEST(PemRead, BlocksInTurn) {
  BIO* b = MemBio(pem_test::CaseFile("two_blocks.pem"));
  Block got;
  ASSERT_EQ(1, ReadBlock(b, &got));
  EXPECT_EQ("FIRST", got.name);
  EXPECT_EQ("f", got.data);
  ASSERT_EQ(1, ReadBlock(b, &got));
  EXPECT_EQ("SECOND", got.name);
  EXPECT_EQ("fo", got.data);
  EXPECT_EQ(0, ReadBlock(b, &got));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_NO_START_LINE}});
  BIO_free(b);
}

// A stream whose line reader claims more bytes than the buffer it was given
// holds: the reader takes at most the 253 it asked for.
int OverCountingGets(BIO* b, char* buf, int size) {
  if (b->num++ != 0) return 0;
  memset(buf, 'A', static_cast<size_t>(size - 1));
  buf[size - 1] = '\0';
  return 1000;
}
BIO_METHOD kOverCounting = {BIO_TYPE_NONE,
                            "over-counting lines",
                            nullptr,
                            nullptr,
                            nullptr,
                            OverCountingGets,
                            nullptr,
                            [](BIO* b) {
                              b->init = 1;
                              b->num = 0;
                              return 1;
                            },
                            nullptr,
                            nullptr};

TEST(PemRead, LineCountPastTheBufferIsCut) {
  BIO* b = BIO_new(&kOverCounting);
  ASSERT_NE(nullptr, b);
  Block got;
  EXPECT_EQ(0, ReadBlock(b, &got));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_NO_START_LINE}});
  BIO_free(b);
}

TEST(PemWrite, FortyEightBytesMakeOneLine) {
  BIO* b = BIO_new(BIO_s_mem());
  std::string data = Repeat("foobar", 8);
  EXPECT_EQ(65, PEM_write_bio(b, "TEST", nullptr, pem_test::U(data), 48));
  EXPECT_EQ("-----BEGIN TEST-----\n" + kLine + "\n-----END TEST-----\n", pem_test::Contents(b));
  BIO_free(b);
}

TEST(PemWrite, HeaderAndShortLastLine) {
  BIO* b = BIO_new(BIO_s_mem());
  std::string data = Repeat("foobar", 8) + "fooba";
  char header[] = "Comment: a header line\n";
  EXPECT_EQ(65 + 9,
            PEM_write_bio(b, "TEST", header, pem_test::U(data), static_cast<long>(data.size())));
  EXPECT_EQ("-----BEGIN TEST-----\nComment: a header line\n\n" + kLine +
                "\nZm9vYmE=\n-----END TEST-----\n",
            pem_test::Contents(b));
  BIO_free(b);
}

TEST(PemWrite, EmptyDataWritesTheTwoLines) {
  BIO* b = BIO_new(BIO_s_mem());
  char empty[] = "";
  EXPECT_EQ(0, PEM_write_bio(b, "TEST", empty, nullptr, 0));
  EXPECT_EQ("-----BEGIN TEST-----\n-----END TEST-----\n", pem_test::Contents(b));
  EXPECT_ERRORS({});
  BIO_free(b);
}

TEST(PemWrite, RefusesLengthsItCannotCount) {
  BIO* b = BIO_new(BIO_s_mem());
  unsigned char byte = 0;
  for (long len : {-1L, LONG_MAX}) {
    EXPECT_EQ(0, PEM_write_bio(b, "TEST", nullptr, &byte, len));
    EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_WRITE_BIO, ERR_R_BUF_LIB}});
  }
  EXPECT_EQ("", pem_test::Contents(b));
  BIO_free(b);
}

TEST(PemWrite, ShortWriteFails) {
  char room[] = "read-only";
  BIO* b = BIO_new_mem_buf(room, -1);
  unsigned char byte = 0;
  EXPECT_EQ(0, PEM_write_bio(b, "TEST", nullptr, &byte, 1));
  const std::string errors = morvane_test::DrainErrors();
  EXPECT_NE(std::string::npos, errors.find("reason 7 ")) << errors;
  BIO_free(b);
}

TEST(PemWrite, RoundTripOfManyChunks) {
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); i++) data[i] = static_cast<char>(i * 7 + i / 251);
  BIO* b = BIO_new(BIO_s_mem());
  const long n = static_cast<long>(data.size());
  // 2083 full lines of 65 characters and 16 bytes in a last line of 24 + 1.
  EXPECT_EQ(2083 * 65 + 25, PEM_write_bio(b, "DATA", nullptr, pem_test::U(data), n));
  Block got;
  ASSERT_EQ(1, ReadBlock(b, &got));
  EXPECT_EQ("DATA", got.name);
  EXPECT_EQ(data, got.data);
  BIO_free(b);
}

// PKITS (NIST), TrustAnchorRootCertificate.crt: 843 bytes are 17 lines of
// 48 bytes and one of 27, so 17 * 65 + 36 + 1 = 1142 body characters.
TEST(PemWrite, PkitsTrustAnchorBothWays) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "pkits/certs/TrustAnchorRootCertificate.crt");
  std::string der;
  for (uint8_t c : morvane_test::ReadFileBytes(path)) der += static_cast<char>(c);
  ASSERT_EQ(843u, der.size());
  BIO* b = BIO_new(BIO_s_mem());
  EXPECT_EQ(1142, PEM_write_bio(b, "CERTIFICATE", nullptr, pem_test::U(der), 843));
  const std::string text = pem_test::Contents(b);
  EXPECT_EQ(strlen("-----BEGIN CERTIFICATE-----\n") + 1142 + strlen("-----END CERTIFICATE-----\n"),
            text.size());
  // The published decoder of the test support agrees with the armour.
  const Bytes body = morvane_test::PemBody(text, "CERTIFICATE");
  EXPECT_EQ(der, std::string(body.begin(), body.end()));
  Block got;
  ASSERT_EQ(1, ReadBlock(b, &got));
  EXPECT_EQ("CERTIFICATE", got.name);
  EXPECT_EQ("", got.header);
  EXPECT_EQ(der, got.data);
  BIO_free(b);
}

TEST(PemFile, WriteAndReadThroughFile) {
  FILE* f = tmpfile();
  ASSERT_NE(nullptr, f);
  std::string data = "foobar";
  EXPECT_EQ(9, PEM_write(f, "TEST", nullptr, pem_test::U(data), 6));
  rewind(f);
  char *name = nullptr, *header = nullptr;
  unsigned char* bytes = nullptr;
  long len = 0;
  ASSERT_EQ(1, PEM_read(f, &name, &header, &bytes, &len));
  EXPECT_STREQ("TEST", name);
  EXPECT_STREQ("", header);
  EXPECT_EQ("foobar", std::string(reinterpret_cast<char*>(bytes), static_cast<size_t>(len)));
  MORVANE_free(name);
  MORVANE_free(header);
  MORVANE_free(bytes);
  EXPECT_EQ(0, PEM_read(f, &name, &header, &bytes, &len));
  EXPECT_ERRORS({{ERR_LIB_PEM, PEM_F_PEM_READ_BIO, PEM_R_NO_START_LINE}});
  fclose(f);
}

// No stream is no empty input: the read fails.
TEST(PemRead, NullStreamHasNoBlock) {
  Block got;
  EXPECT_EQ(0, ReadBlock(nullptr, &got));
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_GETS, BIO_R_UNSUPPORTED_METHOD},
                 {ERR_LIB_PEM, PEM_F_PEM_READ_BIO, ERR_R_BIO_LIB}});
}

}  // namespace
