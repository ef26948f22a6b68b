// The MIME header parser of S/MIME framing, built into this program from
// crypto/asn1/mime_hdr.cc: header lines as the lists they give, and the
// boundary and line-end tests.

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/stack.h>

#include "asn1/mime_hdr.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

using namespace morvane::asn1;

std::string Show(const char* s) {
  return s == nullptr ? "(null)" : std::string("[") + s + "]";
}

// The list as text: each header "name value" and its parameters "; name=value".
std::string Render(STACK* headers) {
  std::string out;
  for (int i = 0; i < sk_num(headers); i++) {
    auto* h = reinterpret_cast<MIME_HEADER*>(sk_value(headers, i));
    out += (i > 0 ? " | " : "") + Show(h->name) + " " + Show(h->value);
    sk_sort(h->params);
    for (int j = 0; j < sk_num(h->params); j++) {
      auto* p = reinterpret_cast<MIME_PARAM*>(sk_value(h->params, j));
      out += "; " + Show(p->param_name) + "=" + Show(p->param_value);
    }
  }
  return out;
}

TEST(MimeHeaders, LinesAndTheListsTheyGive) {
  struct Case {
    const char* text;
    const char* list;  // headers and parameters in name order
  };
  const Case cases[] = {
      // RFC 2045, 5.1: type and parameters; names and the type lower-cased.
      {"Content-Type: Application/PKCS7-MIME; smime-type=enveloped-data; name=\"smime.p7m\"\n",
       "[content-type] [application/pkcs7-mime]; [name]=[smime.p7m]; "
       "[smime-type]=[enveloped-data]"},
      // A folded line continues the header above with more parameters.
      {"Content-Type: multipart/signed; protocol=\"a\";\n\tmicalg=SHA1;\r\n boundary=\"AbC\"\r\n",
       "[content-type] [multipart/signed]; [boundary]=[AbC]; [micalg]=[SHA1]; [protocol]=[a]"},
      // Headers come back sorted by name.
      {"To: x\nCONTENT-TYPE: text/plain\nMime-Version: 1.0\n",
       "[content-type] [text/plain] | [mime-version] [1.0] | [to] [x]"},
      // Quotes shelter ';' and '('; comments stay in the text.
      {"A: b (c; d) e; n=\"v;(w\"; m=x(y;z)\n", "[a] [b (c; d) e]; [m]=[x(y;z)]; [n]=[v;(w]"},
      // Stripping: blanks and one quote at each end; a quoted single
      // character is kept; empty and blank texts are null.
      {"A: \";p=\"\";q=\"x\";r= ;t=  \"u\"  ;\n",
       "[a] (null); [p]=[]; [q]=[x]; [r]=(null); [t]=[u]"},
      // A header without ':' or an unclosed comment or quote adds nothing.
      {"no colon here\nB: (open\nC: v; n=\"open\n", "[c] [v]"},
      // A parameter name runs to its '='; a name without text is null.
      {"D: v; flag; =1\nE: w;=2\n", "[d] [v]; [flag;]=[1] | [e] [w]; (null)=[2]"},
      // White space at the start of the first line does not fold.
      {" E: v\n", "[e] [v]"},
  };
  for (const Case& c : cases) {
    BIO* in = BIO_new_mem_buf(const_cast<char*>(c.text), -1);
    STACK* headers = mime_parse_hdr(in, ASN1_F_SMIME_READ_ASN1);
    ASSERT_NE(nullptr, headers);
    sk_sort(headers);
    EXPECT_EQ(c.list, Render(headers)) << c.text;
    mime_hdrs_free(headers);
    BIO_free(in);
  }
}

TEST(MimeHeaders, BlankLineEndsTheHeaders) {
  const char text[] = "A: 1\r\nB: 2\r\n\r\nC: 3\n";
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text), -1);
  STACK* headers = mime_parse_hdr(in, ASN1_F_SMIME_READ_ASN1);
  ASSERT_NE(nullptr, headers);
  EXPECT_EQ(2, sk_num(headers));
  MIME_HEADER* b = mime_hdr_find(headers, "b");
  ASSERT_NE(nullptr, b);
  EXPECT_STREQ("2", b->value);
  EXPECT_EQ(nullptr, mime_hdr_find(headers, "B"));
  EXPECT_EQ(nullptr, mime_param_find(b, "x"));
  char rest[16] = {};
  EXPECT_EQ(5, BIO_read(in, rest, sizeof rest));
  EXPECT_STREQ("C: 3\n", rest);
  mime_hdrs_free(headers);
  BIO_free(in);
}

// A read that fails is no end of the headers, at any read: no list, and
// the reason under the caller's function.
TEST(MimeHeaders, AFailedReadIsNoEnd) {
  for (int k = 1; k <= 3; k++) {
    BIO* in = morvane_test::NewScriptedSource("A: 1\r\nB: 2\r\n\r\nC: 3\n",
                                              morvane_test::ScriptStep::FailAt(k));
    EXPECT_EQ(nullptr, mime_parse_hdr(in, ASN1_F_SMIME_TEXT)) << k;
    EXPECT_ERRORS({{ERR_LIB_ASN1, ASN1_F_SMIME_TEXT, ASN1_R_STREAM_READ_ERROR}});
    BIO_free(in);
  }
}

// A section of kMaxMimeRecords headers and parameters reads, whatever their
// mix; one more is refused, and reading stops at the line that passed.
TEST(MimeHeaders, RecordsOfASectionAreBounded) {
  for (const std::string& unit : {std::string("A: b\n"), std::string("A: b; c=d\n")}) {
    const int per_line = unit.size() == 5 ? 1 : 2;
    const int units = (kMaxMimeRecords - 1) / per_line;
    const int ys = kMaxMimeRecords - units * per_line;
    for (bool over : {false, true}) {
      std::string text;
      for (int i = 0; i < units; i++) text += unit;
      for (int i = 0; i < ys; i++) text += "Y: 2\n";
      if (over) text += "Z: 1\n";
      text += "\nrest";
      BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
      STACK* headers = mime_parse_hdr(in, ASN1_F_SMIME_READ_ASN1);
      if (!over) {
        ASSERT_NE(nullptr, headers) << unit;
        EXPECT_EQ(units + ys, sk_num(headers));
        EXPECT_NE(nullptr, mime_hdr_find(headers, "y"));
      } else {
        EXPECT_EQ(nullptr, headers) << unit;
      }
      char rest[16] = {};
      EXPECT_EQ(over ? 5 : 4, BIO_read(in, rest, sizeof rest - 1)) << unit;
      mime_hdrs_free(headers);
      BIO_free(in);
    }
  }
}

TEST(MimeHeaders, BoundaryLines) {
  struct Case {
    const char* line;
    int state;
  };
  // RFC 2046, 5.1.1: "--" boundary, and "--" boundary "--" to close.
  const Case cases[] = {
      {"--AbC\r\n", 1}, {"--AbC--\r\n", 2}, {"--AbC--", 2}, {"--AbCd\n", 1}, {"--abc\n", 0},
      {"--AbC-\n", 1},  {"-AbC\n", 0},      {"--Ab", 0},    {"--AbC", 1},    {"", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(c.state, mime_bound_check(c.line, -1, "AbC", -1)) << c.line;
  EXPECT_EQ(0, mime_bound_check("--AbC--", 4, "AbC", 3));
}

TEST(MimeHeaders, LineEnds) {
  struct Case {
    const char* line;
    int len;
    bool lf;
  };
  const Case cases[] = {{"ab\r\n", 2, true}, {"ab\r", 2, false}, {"ab\n\r\n", 2, true},
                        {"\n", 0, true},     {"ab", 2, false},   {"a\rb", 3, false}};
  for (const Case& c : cases) {
    int len = static_cast<int>(strlen(c.line));
    EXPECT_EQ(c.lf, strip_eol(c.line, &len)) << c.line;
    EXPECT_EQ(c.len, len) << c.line;
  }
}

}  // namespace
