// S/MIME framing through the public interface: the messages of
// test/data/asn1/smime_read.txt, the opaque and detached writers read back,
// their headers, boundaries and digest lists, line copying and text headers.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/rand.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "last_error.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::ErrEntry;
using morvane_test::ReadRsp;
using morvane_test::TestDataFile;
using morvane_test::Unquote;

// A read-only stream over bytes that must outlive it.
BIO* MemIn(const std::string& s) {
  return BIO_new_mem_buf(const_cast<char*>(s.data()), static_cast<int>(s.size()));
}
BIO* MemIn(std::string&&) = delete;
BIO* MemIn(const char* s) {
  return BIO_new_mem_buf(const_cast<char*>(s), -1);
}

std::string Drain(BIO* b) {
  std::string out;
  char buf[512];
  int n;
  while ((n = BIO_read(b, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}

std::string MemText(BIO* b) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  return std::string(p, static_cast<size_t>(n));
}

// AlgorithmIdentifier { sha1, NULL }, the value of the messages in the data
// file (RFC 3279, 2.2.1).
const char kSha1Alg[] = "300906052b0e03021a0500";

std::string Der(ASN1_VALUE* v) {
  unsigned char* out = nullptr;
  const int n = ASN1_item_i2d(v, &out, &X509_ALGOR_it);
  std::string hex = morvane_test::ToHex(out, n > 0 ? n : 0);
  MORVANE_free(out);
  return hex;
}

TEST(SmimeRead, MessagesOfTheDataFile) {
  const auto records = ReadRsp(TestDataFile("asn1/smime_read.txt"));
  ASSERT_EQ(19u, records.size());
  for (const auto& r : records) {
    SCOPED_TRACE(r.Get("name"));
    const std::string msg = Unquote(r.Get("message"));
    BIO* in = MemIn(msg);
    BIO* cont = nullptr;
    ASN1_VALUE* v = SMIME_read_ASN1(in, &cont, &X509_ALGOR_it);
    const int reason = std::stoi(r.Get("reason"));
    if (reason == 0) {
      ASSERT_NE(nullptr, v);
      EXPECT_EQ(kSha1Alg, Der(v));
      EXPECT_ERRORS({});
      if (r.Has("content")) {
        ASSERT_NE(nullptr, cont);
        EXPECT_EQ(Unquote(r.Get("content")), Drain(cont));
      } else {
        EXPECT_EQ(nullptr, cont);
      }
    } else {
      EXPECT_EQ(nullptr, v);
      EXPECT_EQ(nullptr, cont);
      const auto [got, data] = LastAsn1Error();
      EXPECT_EQ(reason, got);
      if (r.Has("data")) {
        EXPECT_EQ(r.Get("data"), data);
      }
    }
    // Without a content pointer both parts are released.
    BIO_free(in);
    in = MemIn(msg);
    ASN1_VALUE* again = SMIME_read_ASN1(in, nullptr, &X509_ALGOR_it);
    EXPECT_EQ(reason == 0, again != nullptr);
    ERR_clear_error();
    ASN1_item_free(again, &X509_ALGOR_it);
    ASN1_item_free(v, &X509_ALGOR_it);
    BIO_free(cont);
    BIO_free(in);
  }
}

// A stack of digest identifiers for the writers.
struct Algs {
  STACK* sk = sk_new_null();
  explicit Algs(std::initializer_list<int> nids) {
    for (int nid : nids) {
      X509_ALGOR* a = X509_ALGOR_new();
      X509_ALGOR_set0(a, OBJ_nid2obj(nid), -1, nullptr);
      sk_push(sk, reinterpret_cast<char*>(a));
    }
  }
  ~Algs() {
    sk_pop_free(sk, [](void* a) { X509_ALGOR_free(static_cast<X509_ALGOR*>(a)); });
  }
};

ASN1_VALUE* Sha1Alg() {
  const auto der = morvane_test::FromHex(kSha1Alg);
  const unsigned char* p = der.data();
  return ASN1_item_d2i(nullptr, &p, static_cast<long>(der.size()), &X509_ALGOR_it);
}

// The content writer of the detached tests: a text part copied as CRLF lines.
int WriteTextPart(BIO* out, BIO* data, ASN1_VALUE*, int flags, const ASN1_ITEM*) {
  return SMIME_crlf_copy(data, out, flags | 0x1);
}
int RefusePart(BIO*, BIO*, ASN1_VALUE*, int, const ASN1_ITEM*) { return 0; }

std::string WriteDetached(int flags, STACK* mdalgs, ASN1_VALUE* v, int* rc,
                          const ASN1_ITEM* it = &X509_ALGOR_it) {
  BIO* out = BIO_new(BIO_s_mem());
  BIO* data = MemIn("line one\nline two\n");
  *rc = int_smime_write_ASN1(out, v, data, flags | 0x40, 22, 0, mdalgs, WriteTextPart, it);
  std::string text = MemText(out);
  BIO_free(data);
  BIO_free(out);
  return text;
}

TEST(SmimeWrite, DetachedReadsBackWithItsContent) {
  ASN1_VALUE* v = Sha1Alg();
  Algs algs({64});
  for (int flags : {0, 0x400, 0x800, 0xC00}) {
    SCOPED_TRACE(flags);
    int rc = 0;
    const std::string msg = WriteDetached(flags, algs.sk, v, &rc);
    ASSERT_EQ(1, rc);
    const std::string eol = (flags & 0x800) ? "\r\n" : "\n";
    const std::string x = (flags & 0x400) ? "x-" : "";
    // RFC 1847, 2.1: "--" and the boundary parameter, which is "----" and
    // 32 upper-case hexadecimal digits.
    const size_t at = msg.find("boundary=\"----");
    ASSERT_NE(std::string::npos, at);
    const std::string bound = msg.substr(at + 14, 32);
    EXPECT_EQ(std::string::npos, bound.find_first_not_of("0123456789ABCDEF"));
    EXPECT_EQ("MIME-Version: 1.0" + eol + "Content-Type: multipart/signed; protocol=\"application/" +
                  x + "pkcs7-signature\"; micalg=\"sha1\"; boundary=\"----" + bound + "\"" + eol +
                  eol + "This is an S/MIME signed message" + eol + eol + "------" + bound + eol +
                  "Content-Type: text/plain\r\n\r\nline one\r\nline two\r\n" + eol + "------" +
                  bound + eol + "Content-Type: application/" + x +
                  "pkcs7-signature; name=\"smime.p7s\"" + eol +
                  "Content-Transfer-Encoding: base64" + eol +
                  "Content-Disposition: attachment; filename=\"smime.p7s\"" + eol + eol +
                  "MAkGBSsOAwIaBQA=\n" + eol + "------" + bound + "--" + eol + eol,
              msg);
    BIO* in = MemIn(msg);
    BIO* cont = nullptr;
    ASN1_VALUE* back = SMIME_read_ASN1(in, &cont, &X509_ALGOR_it);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(kSha1Alg, Der(back));
    ASSERT_NE(nullptr, cont);
    // The content part comes back as it was written, and its text header
    // comes off again.
    BIO* text = BIO_new(BIO_s_mem());
    EXPECT_EQ(1, SMIME_text(cont, text));
    EXPECT_EQ("line one\r\nline two\r\n", MemText(text));
    BIO_free(text);
    BIO_free(cont);
    BIO_free(in);
    ASN1_item_free(back, &X509_ALGOR_it);
  }
  EXPECT_ERRORS({});
  ASN1_item_free(v, &X509_ALGOR_it);
}

TEST(SmimeWrite, BoundariesDiffer) {
  ASN1_VALUE* v = Sha1Alg();
  int rc = 0;
  const std::string a = WriteDetached(0, nullptr, v, &rc);
  const std::string b = WriteDetached(0, nullptr, v, &rc);
  EXPECT_NE(a.substr(a.find("boundary"), 50), b.substr(b.find("boundary"), 50));
  ASN1_item_free(v, &X509_ALGOR_it);
}

TEST(SmimeWrite, DigestListOfTheMicalgParameter) {
  struct Case {
    std::initializer_list<int> nids;
    const char* micalg;
  };
  // RFC 5751, 3.4.3.2; MD4 (257), MD2 (3) and RIPEMD-160 (117) have no
  // MIME name there.
  const Case cases[] = {
      {{64, 4}, "sha1,md5"},
      {{672, 257, 3}, "sha-256,unknown"},
      {{257, 673, 117, 674}, "unknown,sha-384,sha-512"},
      {{}, ""},
  };
  ASN1_VALUE* v = Sha1Alg();
  for (const Case& c : cases) {
    Algs algs(c.nids);
    int rc = 0;
    const std::string msg = WriteDetached(0, algs.sk, v, &rc);
    EXPECT_EQ(1, rc);
    EXPECT_NE(std::string::npos, msg.find(std::string("; micalg=\"") + c.micalg + "\";"))
        << c.micalg;
  }
  ASN1_item_free(v, &X509_ALGOR_it);
}

TEST(SmimeWrite, OpaqueHeadersByContentType) {
  struct Case {
    int ctype, econt;
    bool digests;
    const char* type_params;  // the Content-Type line after "pkcs7-mime;"
    const char* file;
  };
  const Case cases[] = {
      {23, 0, false, " smime-type=enveloped-data; name=\"smime.p7m\"", "smime.p7m"},
      {22, 204, true, " smime-type=signed-receipt; name=\"smime.p7m\"", "smime.p7m"},
      {22, 0, true, " smime-type=signed-data; name=\"smime.p7m\"", "smime.p7m"},
      {22, 0, false, " smime-type=certs-only; name=\"smime.p7m\"", "smime.p7m"},
      {786, 0, false, " smime-type=compressed-data; name=\"smime.p7z\"", "smime.p7z"},
      {21, 0, false, " name=\"smime.p7m\"", "smime.p7m"},
  };
  ASN1_VALUE* v = Sha1Alg();
  Algs sha1({64});
  Algs none({});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.type_params);
    BIO* out = BIO_new(BIO_s_mem());
    // Without a content stream the detached flag still writes an opaque message.
    ASSERT_EQ(1, int_smime_write_ASN1(out, v, nullptr, 0x40 | 0x800, c.ctype, c.econt,
                                      c.digests ? sha1.sk : none.sk, nullptr, &X509_ALGOR_it));
    EXPECT_EQ(std::string("MIME-Version: 1.0\r\nContent-Disposition: attachment; filename=\"") +
                  c.file + "\"\r\nContent-Type: application/pkcs7-mime;" + c.type_params +
                  "\r\nContent-Transfer-Encoding: base64\r\n\r\nMAkGBSsOAwIaBQA=\n\r\n",
              MemText(out));
    const std::string msg = MemText(out);
    BIO* in = MemIn(msg);
    ASN1_VALUE* back = SMIME_read_ASN1(in, nullptr, &X509_ALGOR_it);
    ASSERT_NE(nullptr, back);
    EXPECT_EQ(kSha1Alg, Der(back));
    ASN1_item_free(back, &X509_ALGOR_it);
    BIO_free(in);
    BIO_free(out);
  }
  ASN1_item_free(v, &X509_ALGOR_it);
}

TEST(SmimeWrite, FailedPartsFailTheMessage) {
  // A value of no type cannot be encoded: the signature part of a detached
  // message fails, and with it the message.
  ASN1_TYPE* empty = ASN1_TYPE_new();
  auto* ev = reinterpret_cast<ASN1_VALUE*>(empty);
  int rc = -1;
  const std::string msg = WriteDetached(0, nullptr, ev, &rc, &ASN1_ANY_it);
  EXPECT_EQ(0, rc);
  EXPECT_NE(std::string::npos, msg.find("filename=\"smime.p7s\""));  // written up to there
  EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_ASN1_ITEM_I2D_BIO, ERR_R_MALLOC_FAILURE}});
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(0, int_smime_write_ASN1(out, ev, nullptr, 0, 23, 0, nullptr, nullptr, &ASN1_ANY_it));
  ERR_clear_error();
  // A content writer that fails, or none at all.
  ASN1_VALUE* v = Sha1Alg();
  BIO* data = MemIn("x");
  EXPECT_EQ(0, int_smime_write_ASN1(out, v, data, 0x40, 22, 0, nullptr, RefusePart,
                                    &X509_ALGOR_it));
  EXPECT_EQ(0, int_smime_write_ASN1(out, v, data, 0x40, 22, 0, nullptr, nullptr,
                                    &X509_ALGOR_it));
  BIO_free(data);
  BIO_free(out);
  ASN1_TYPE_free(empty);
  ASN1_item_free(v, &X509_ALGOR_it);
  EXPECT_ERRORS({});
}

// Without random bytes there is no boundary, and no message.
TEST(SmimeWrite, NoBoundaryWithoutRandomBytes) {
  static const RAND_METHOD kNothing = {};
  ASSERT_EQ(1, RAND_set_rand_method(&kNothing));
  ASN1_VALUE* v = Sha1Alg();
  int rc = -1;
  EXPECT_EQ("", WriteDetached(0, nullptr, v, &rc));
  EXPECT_EQ(0, rc);
  RAND_set_rand_method(nullptr);
  ASN1_item_free(v, &X509_ALGOR_it);
  ERR_clear_error();
}

// Copies into a sink that refuses what it is given fail.
TEST(SmimeCopy, FailedWritesFailTheCopy) {
  for (int flags : {0, 0x80}) {
    BIO* in = MemIn("a\nb\n");
    BIO* out = morvane_test::NewScriptedStream();
    morvane_test::Script(out).write_script.push_back(morvane_test::ScriptStep::Fail());
    EXPECT_EQ(0, SMIME_crlf_copy(in, out, flags));
    BIO_free(in);
    BIO_free(out);
  }
  BIO* in = MemIn("Content-Type: text/plain\n\nbody\n");
  BIO* out = morvane_test::NewScriptedStream();
  morvane_test::Script(out).write_script.push_back(morvane_test::ScriptStep::Fail());
  EXPECT_EQ(0, SMIME_text(in, out));
  BIO_free(in);
  BIO_free(out);
  ERR_clear_error();
}

// A read that fails ends the copy with a failure and its reason, in both
// modes; a retry ends the data only when the stream is at its end (an empty
// memory stream's answer), and is otherwise read through, 16 times in a row
// at most.
TEST(SmimeCopy, FailedReadsFailTheCopy) {
  using morvane_test::ScriptStep;
  const struct {
    std::deque<ScriptStep> script;
    bool ends;
    const char* out;  // with line ends made CR LF; null for a failure
  } rows[] = {
      {{ScriptStep::Move(2), ScriptStep::Fail()}, true, nullptr},
      {{ScriptStep::Move(2), ScriptStep::Retry()}, true, "a\r\nb\r\n"},
      {{ScriptStep::Move(4), ScriptStep::Retry()}, true, "a\r\nb\r\n"},
      {ScriptStep::Retries(16), true, "a\r\nb\r\n"},
      {ScriptStep::Retries(17), true, nullptr},
      {{ScriptStep::Move(2)}, false, nullptr},
  };
  for (int flags : {0, 0x80}) {
    for (const auto& r : rows) {
      SCOPED_TRACE(testing::Message() << flags << " " << &r - rows);
      BIO* in = morvane_test::NewScriptedSource("a\nb\n", r.script, r.ends);
      BIO* out = BIO_new(BIO_s_mem());
      EXPECT_EQ(r.out == nullptr ? 0 : 1, SMIME_crlf_copy(in, out, flags));
      if (r.out == nullptr) {
        EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_SMIME_CRLF_COPY, ASN1_R_STREAM_READ_ERROR}});
      } else {
        EXPECT_EQ(flags ? "a\nb\n" : r.out, MemText(out));
        EXPECT_ERRORS({});
      }
      BIO_free(in);
      BIO_free(out);
    }
  }
}

// A buffering filter that cannot be made says so.
TEST(SmimeCopy, FilterThatCannotBeMadeIsReported) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BIO* in = MemIn("a\n");
  BIO* out = BIO_new(BIO_s_mem());
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(0, SMIME_crlf_copy(in, out, 0));
  morvane_test::FailAllocationAfter(0);
  EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_SMIME_CRLF_COPY, ERR_R_MALLOC_FAILURE),
            ERR_peek_last_error());
  ERR_clear_error();
  BIO_free(in);
  BIO_free(out);
}

TEST(SmimeCopy, LinesEndInCrLf) {
  struct Case {
    const char* in;
    int flags;
    const char* out;
  };
  const Case cases[] = {
      {"a\nb\r\n\nc", 0, "a\r\nb\r\n\r\nc"},
      {"a\r\r\n", 0, "a\r\n"},
      {"a\nb", 0x1, "Content-Type: text/plain\r\n\r\na\r\nb"},
      {"a\nb\r", 0, "a\r\nb"},
      {"a\nb\r", 0x80, "a\nb\r"},
      {"a\nb", 0x81, "a\nb"},
      {"", 0x1, "Content-Type: text/plain\r\n\r\n"},
  };
  for (const Case& c : cases) {
    BIO* in = MemIn(c.in);
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(1, SMIME_crlf_copy(in, out, c.flags));
    EXPECT_EQ(c.out, MemText(out)) << c.in;
    BIO_free(in);
    BIO_free(out);
  }
  // Lines longer than a read piece are copied whole.
  const std::string long_line(3000, 'z');
  const std::string two_lines = long_line + "\n" + long_line;
  BIO* in = MemIn(two_lines);
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, SMIME_crlf_copy(in, out, 0));
  EXPECT_EQ(long_line + "\r\n" + long_line, MemText(out));
  BIO_free(in);
  BIO_free(out);
  EXPECT_ERRORS({});
}

// The line copy reads its input in pieces; how the input is cut must not
// change a byte of the output.  Each case gives the input as the pieces a
// source hands out, and the output laid out by hand.
TEST(SmimeCopy, LineEndsAcrossReadPieces) {
  struct Case {
    std::vector<std::string> pieces;
    int flags;
    std::string out;
  };
  const Case cases[] = {
      {{"ab", "\ncd\n"}, 0, "ab\r\ncd\r\n"},
      {{"ab\r", "\ncd"}, 0, "ab\r\ncd"},           // CR LF split between pieces
      {{"ab\r", "cd\n"}, 0, "ab\rcd\r\n"},         // a CR inside a line stays
      {{"ab\r", "\r", "\r\n"}, 0, "ab\r\n"},       // CRs before LF all go
      {{"ab\r\r", "c\r", "\n"}, 0, "ab\r\rc\r\n"},
      {{"\n", "\n", "\r\n"}, 0, "\r\n\r\n\r\n"},   // empty lines
      {{"a", "b", "c"}, 0, "abc"},                 // no final newline
      {{"abc\r", "\r"}, 0, "abc"},                 // CRs at the end are dropped
      {{"\r"}, 0, ""},
      {{"x\n", "y\r"}, 0x1, "Content-Type: text/plain\r\n\r\nx\r\ny"},
      {{"x\r", "\ny\r"}, 0x80, "x\r\ny\r"},
  };
  for (const Case& c : cases) {
    BIO* in = morvane_test::NewScriptedStream();
    auto& script = morvane_test::Script(in);
    for (const std::string& p : c.pieces) {
      script.input += p;
      script.read_script.push_back(morvane_test::ScriptStep::Move(static_cast<int>(p.size())));
    }
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(1, SMIME_crlf_copy(in, out, c.flags));
    EXPECT_EQ(c.out, MemText(out)) << c.pieces.size() << " pieces from " << c.pieces[0];
    BIO_free(in);
    BIO_free(out);
  }
  EXPECT_ERRORS({});
}

// From a memory stream, with line ends around the 4096-byte read size and
// lines longer than it: a CR in a long line is kept wherever it falls (the
// copy once read 1023 bytes at a time and dropped a CR that ended a piece).
TEST(SmimeCopy, LongLinesKeepTheirBytes) {
  const std::string a1022(1022, 'a'), a4095(4095, 'a'), a4096(4096, 'a'), z9000(9000, 'z');
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {a1022 + "\rb\n", a1022 + "\rb\r\n"},
      {a1022 + "\r\n", a1022 + "\r\n"},
      {a4095 + "\r\nb", a4095 + "\r\nb"},        // CR ends the first read, LF starts the next
      {a4095 + "\rb", a4095 + "\rb"},
      {a4096 + "\n\n", a4096 + "\r\n\r\n"},      // LF starts the second read
      {a4095 + "\n", a4095 + "\r\n"},            // LF ends the first read
      {z9000 + "\n" + z9000, z9000 + "\r\n" + z9000},
      {z9000 + std::string(5000, '\r') + "\n", z9000 + "\r\n"},
      {z9000 + std::string(5000, '\r') + "x", z9000 + std::string(5000, '\r') + "x"},
  };
  for (const Case& c : cases) {
    BIO* in = MemIn(c.in);
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(1, SMIME_crlf_copy(in, out, 0));
    EXPECT_EQ(c.out, MemText(out)) << c.in.size();
    BIO_free(in);
    BIO_free(out);
  }
  EXPECT_ERRORS({});
}

// A source that cannot read lines (a base64 filter has no gets) is copied
// too; the line-wise copy read nothing from it and still reported success.
TEST(SmimeCopy, SourceWithoutLineReads) {
  BIO* b64 = BIO_new(BIO_f_base64());
  ASSERT_NE(b64, nullptr);
  BIO* in = BIO_push(b64, MemIn("YQpiDQpj\n"));  // "a\nb\r\nc"
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, SMIME_crlf_copy(in, out, 0));
  EXPECT_EQ("a\r\nb\r\nc", MemText(out));
  BIO_free_all(in);
  BIO_free(out);
  EXPECT_ERRORS({});
}

TEST(SmimeText, StripsTheTextHeader) {
  struct Case {
    const char* in;
    int rc;
    const char* out;
    std::vector<ErrEntry> errors;
  };
  const Case cases[] = {
      {"Content-Type: Text/Plain; charset=us-ascii\r\n\r\nbody\r\n", 1, "body\r\n", {}},
      {"Content-Type: text/plain\n", 1, "", {}},
      {"Content-Type: text/html\n\n<p>\n",
       0,
       "",
       {{ERR_LIB_ASN1, ASN1_F_SMIME_TEXT, ASN1_R_INVALID_MIME_TYPE, "type: text/html"}}},
      {"Subject: x\n\nbody\n",
       0,
       "",
       {{ERR_LIB_ASN1, ASN1_F_SMIME_TEXT, ASN1_R_MIME_NO_CONTENT_TYPE}}},
  };
  for (const Case& c : cases) {
    BIO* in = MemIn(c.in);
    BIO* out = BIO_new(BIO_s_mem());
    EXPECT_EQ(c.rc, SMIME_text(in, out)) << c.in;
    EXPECT_EQ(c.out, MemText(out));
    EXPECT_ERRORS(c.errors);
    BIO_free(in);
    BIO_free(out);
  }
  // A memory stream with its default end (a retry at its end) ends the text.
  BIO* in = BIO_new(BIO_s_mem());
  BIO_puts(in, "Content-Type: text/plain\n\nbody");
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_EQ(1, SMIME_text(in, out));
  EXPECT_EQ("body", MemText(out));
  BIO_free(in);
  BIO_free(out);
}

// A multipart/signed message with boundary "b" around `body` (its last line
// end belongs to the delimiter after it) and the signature part.
std::string SignedAround(const std::string& body) {
  return "Content-Type: multipart/signed; boundary=b\n\n--b\n" + body +
         "\n--b\nContent-Type: application/pkcs7-signature\n\nMAkGBSsOAwIaBQA=\n--b--\n";
}

// Content lines around the 1,023-byte pieces lines are read in (the
// PKCS#7 tests verify whole messages): the CRs that end a piece stay unless
// the line ends there, and a delimiter counts only at the start of a line,
// where the rest of its line, padding too, is no content.  Before, a CR that
// ended a piece was dropped and text like a delimiter at a piece's start
// ended the part.
TEST(SmimeRead, LongContentLinesKeepTheirBytes) {
  const auto a = [](size_t n) { return std::string(n, 'a'); };
  const std::string crs(3000, '\r');
  struct Case {
    std::string body, content;
  };
  std::vector<Case> cases;
  for (size_t n = 1021; n <= 1023; n++) {
    cases.push_back({a(n) + "\rb\nz", a(n) + "\rb\r\nz"});
    cases.push_back({a(n) + "\r\r\r\nz\r", a(n) + "\r\nz"});
    cases.push_back({a(n) + "--b--\nc", a(n) + "--b--\r\nc"});
  }
  cases.push_back({a(2046) + crs + "x", a(2046) + crs + "x"});
  cases.push_back({a(2046) + crs + "\nx", a(2046) + "\r\nx"});
  cases.push_back({"--b" + std::string(3000, ' ') + "\nc", "c"});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.size());
    const std::string msg = SignedAround(c.body);
    BIO* in = MemIn(msg);
    BIO* cont = nullptr;
    ASN1_VALUE* v = SMIME_read_ASN1(in, &cont, &X509_ALGOR_it);
    ASSERT_NE(nullptr, v);
    ASSERT_NE(nullptr, cont);
    EXPECT_TRUE(c.content == Drain(cont));
    ASN1_item_free(v, &X509_ALGOR_it);
    BIO_free(cont);
    BIO_free(in);
  }
  EXPECT_ERRORS({});
}

// A read that fails at any point of a multipart/signed message (its headers,
// its parts, up to the closing delimiter) fails the read with "stream read
// error": no message from a part of it.
TEST(SmimeRead, FailedReadsFailTheRead) {
  const std::string msg = SignedAround("line one\nline two");
  for (int k = 1; k <= 10; k++) {
    SCOPED_TRACE(k);
    BIO* in = morvane_test::NewScriptedSource(msg, morvane_test::ScriptStep::FailAt(k));
    BIO* cont = nullptr;
    EXPECT_EQ(nullptr, SMIME_read_ASN1(in, &cont, &X509_ALGOR_it));
    EXPECT_EQ(nullptr, cont);
    const unsigned long e = ERR_peek_error();
    EXPECT_EQ(ERR_PACK(ERR_LIB_ASN1, ASN1_F_SMIME_READ_ASN1, ASN1_R_STREAM_READ_ERROR), e);
    ERR_clear_error();
    BIO_free(in);
  }
}

// Refused messages of 10 MB made of what costs memory to hold: one-byte
// parts, header lines (at the top, in the signature part, for SMIME_text)
// and parameters.  Each is refused, with the peak of the library's memory
// within a few times the input's size (the text is read in place; only the
// signature part is held whole).  Before, the parts peaked at 327 MB and the
// header lines at 288 MB.
TEST(SmimeRead, RefusedMessagesCostLittleMemory) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const size_t kSize = 10 * 1000 * 1000;
  const auto fill = [&](std::string head, const std::string& unit, const std::string& tail) {
    while (head.size() + unit.size() + tail.size() <= kSize) head += unit;
    return head + tail;
  };
  const std::string sig_head = "\n--b\nContent-Type: application/pkcs7-signature\n";
  struct Case {
    std::string msg;
    int reason;
    bool text;  // read with SMIME_text
  };
  const Case cases[] = {
      {fill("Content-Type: multipart/signed; boundary=b\n\n", "--b\nx\n", "--b--\n"), 205, false},
      {fill("", "a:b\n", "Content-Type: application/pkcs7-mime\n\nMAkGBSsOAwIaBQA=\n"), 202, false},
      {fill("Content-Type: multipart/signed; boundary=b\n\n--b\nx" + sig_head, "a:b\n",
            "\nMAkGBSsOAwIaBQA=\n--b--\n"),
       203, false},
      {fill("Content-Type: text/plain;\n", " a=b;a=b;a=b;a=b;a=b;a=b;a=b;a=b;a=b;\n", "\nx\n"), 202,
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.reason);
    ASSERT_GT(c.msg.size(), kSize - 100);
    BIO* in = MemIn(c.msg);
    BIO* out = BIO_new(BIO_s_mem());
    morvane_test::ResetAllocPeak();
    const size_t base = morvane_test::GetAllocCounts().live_bytes;
    if (c.text) {
      EXPECT_EQ(0, SMIME_text(in, out));
    } else {
      BIO* cont = nullptr;
      EXPECT_EQ(nullptr, SMIME_read_ASN1(in, &cont, &X509_ALGOR_it));
      EXPECT_EQ(nullptr, cont);
    }
    const size_t peak = morvane_test::GetAllocCounts().peak_bytes - base;
    EXPECT_LT(peak, 3 * kSize);
    EXPECT_EQ(c.reason, LastAsn1Error().first);
    BIO_free(out);
    BIO_free(in);
  }
  // A signed message with 10 MB of content reads, holding about its size.
  const std::string body = fill("", "0123456789abcdefghijklmnopqrstu\r\n", "x");
  const std::string big = SignedAround(body);
  BIO* in = MemIn(big);
  BIO* cont = nullptr;
  morvane_test::ResetAllocPeak();
  const size_t base = morvane_test::GetAllocCounts().live_bytes;
  ASN1_VALUE* v = SMIME_read_ASN1(in, &cont, &X509_ALGOR_it);
  EXPECT_LT(morvane_test::GetAllocCounts().peak_bytes - base, 3 * kSize);
  ASSERT_NE(nullptr, v);
  ASSERT_NE(nullptr, cont);
  EXPECT_TRUE(body == Drain(cont));
  ASN1_item_free(v, &X509_ALGOR_it);
  BIO_free(cont);
  BIO_free(in);
  EXPECT_ERRORS({});
}

}  // namespace
