// The Kerberos structures: encodings written out by hand from the ASN.1
// module of RFC 4120 (EXPLICIT context tags, Ticket as [APPLICATION 1],
// AP-REQ as [APPLICATION 14], GeneralString tag 0x1B).

#include <cstring>
#include <string>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/krb5_asn.h>
#include <morvane/stack.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

template <typename T>
std::string Der(int (*i2d)(T*, unsigned char**), T* v) {
  unsigned char* out = nullptr;
  const int n = i2d(v, &out);
  if (n <= 0) return "";
  std::string hex = ToHex(out, static_cast<size_t>(n));
  MORVANE_free(out);
  return hex;
}

ASN1_INTEGER* Int(long v) {
  ASN1_INTEGER* i = ASN1_INTEGER_new();
  ASN1_INTEGER_set(i, v);
  return i;
}

void SetString(ASN1_STRING* s, const char* text) {
  ASN1_STRING_set(s, text, static_cast<int>(strlen(text)));
}

ASN1_GENERALSTRING* GeneralString(const char* text) {
  ASN1_GENERALSTRING* s = ASN1_GENERALSTRING_new();
  SetString(s, text);
  return s;
}

// EncryptedData {etype 1, cipher "ab"}, optionally with kvno.
KRB5_ENCDATA* EncData(long kvno) {
  KRB5_ENCDATA* e = KRB5_ENCDATA_new();
  ASN1_INTEGER_set(e->etype, 1);
  SetString(e->cipher, "ab");
  if (kvno >= 0) e->kvno = Int(kvno);
  return e;
}

// Ticket body {tktvno 5, realm "R", sname {1, ["a"]}, encdata {1, "ab"}}.
void FillTicket(KRB5_TKTBODY* t) {
  ASN1_INTEGER_set(t->tktvno, 5);
  SetString(t->realm, "R");
  ASN1_INTEGER_set(t->sname->nametype, 1);
  sk_push(t->sname->namestring, reinterpret_cast<char*>(GeneralString("a")));
  KRB5_ENCDATA_free(t->encdata);
  t->encdata = EncData(-1);
}

constexpr char kEncData[] =
    "300ba003020101a2040402"
    "6162";
// SEQUENCE { [0] 5, [1] "R", [2] PrincipalName {[0] 1, [1] {"a"}}, [3] EncData }
constexpr char kTicketBody[] =
    "3029a003020105a1031b0152a20e300ca003020101a10530031b0161a30d300ba003020101a2040402"
    "6162";

TEST(Krb5, EncDataWithoutKvno) {
  KRB5_ENCDATA* e = EncData(-1);
  EXPECT_EQ(Der(i2d_KRB5_ENCDATA, e), std::string(kEncData));
  KRB5_ENCDATA_free(e);

  const Bytes der = FromHex(std::string(kEncData));
  const unsigned char* p = der.data();
  KRB5_ENCDATA* back = d2i_KRB5_ENCDATA(nullptr, &p, static_cast<long>(der.size()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->kvno, nullptr);
  EXPECT_EQ(ASN1_INTEGER_get(back->etype), 1);
  EXPECT_EQ(ToHex(back->cipher->data, back->cipher->length), "6162");
  KRB5_ENCDATA_free(back);
}

TEST(Krb5, EncDataWithKvno) {
  KRB5_ENCDATA* e = EncData(2);
  EXPECT_EQ(Der(i2d_KRB5_ENCDATA, e),
            "3010a003020101a103020102a2040402"
            "6162");
  KRB5_ENCDATA_free(e);
}

TEST(Krb5, EmptyNameString) {
  KRB5_PRINCNAME* n = KRB5_PRINCNAME_new();
  ASN1_INTEGER_set(n->nametype, 1);
  EXPECT_EQ(Der(i2d_KRB5_PRINCNAME, n), "3009a003020101a1023000");
  KRB5_PRINCNAME_free(n);
}

// Each decoder against the body with and without its [APPLICATION 1] tag.
TEST(Krb5, TicketNeedsItsApplicationTag) {
  const std::string body = kTicketBody;
  const std::string wrapped = "612b" + body;
  KRB5_TKTBODY* t = KRB5_TKTBODY_new();
  FillTicket(t);
  EXPECT_EQ(Der(i2d_KRB5_TKTBODY, t), body);
  EXPECT_EQ(Der(i2d_KRB5_TICKET, t), wrapped);
  KRB5_TKTBODY_free(t);

  struct Case {
    std::string hex;
    bool as_ticket;
    bool accepted;
  } const cases[] = {
      {body, false, true},
      {wrapped, true, true},
      {body, true, false},
      {wrapped, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex.substr(0, 4) + (c.as_ticket ? " as ticket" : " as body"));
    const Bytes der = FromHex(c.hex);
    const unsigned char* p = der.data();
    const long len = static_cast<long>(der.size());
    KRB5_TKTBODY* got =
        c.as_ticket ? d2i_KRB5_TICKET(nullptr, &p, len) : d2i_KRB5_TKTBODY(nullptr, &p, len);
    EXPECT_EQ(got != nullptr, c.accepted);
    if (got != nullptr) {
      EXPECT_EQ(ASN1_INTEGER_get(got->tktvno), 5);
      EXPECT_EQ(sk_num(got->sname->namestring), 1);
    }
    KRB5_TKTBODY_free(got);
    ERR_clear_error();
  }
}

TEST(Krb5, ApReqRoundTrip) {
  KRB5_APREQ* req = KRB5_APREQ_new();
  ASN1_INTEGER_set(req->pvno, 5);
  ASN1_INTEGER_set(req->msgtype, 14);
  ASN1_BIT_STRING_set_bit(req->apoptions, 1, 1);  // use-session-key
  FillTicket(req->ticket);
  KRB5_ENCDATA_free(req->authenticator);
  req->authenticator = EncData(-1);
  const std::string der = Der(i2d_KRB5_APREQ, req);
  KRB5_APREQ_free(req);

  // [3] holds the ticket with its [APPLICATION 1] tag.
  const std::string ticket = "a32d612b" + std::string(kTicketBody);
  EXPECT_NE(der.find(ticket), std::string::npos) << der;
  EXPECT_EQ(der.substr(0, 2), "6e");

  const Bytes bytes = FromHex(der);
  const unsigned char* p = bytes.data();
  KRB5_APREQ* back = d2i_KRB5_APREQ(nullptr, &p, static_cast<long>(bytes.size()));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(p, bytes.data() + bytes.size());
  EXPECT_EQ(ASN1_INTEGER_get(back->msgtype), 14);
  EXPECT_EQ(ASN1_INTEGER_get(back->ticket->tktvno), 5);
  EXPECT_EQ(Der(i2d_KRB5_APREQ, back), der);
  KRB5_APREQ_free(back);
}

TEST(Krb5, AuthenticatorOptionalFields) {
  KRB5_AUTHENT* a = KRB5_AUTHENT_new();
  EXPECT_EQ(a->cksum, nullptr);
  EXPECT_EQ(a->subkey, nullptr);
  EXPECT_EQ(a->seqnum, nullptr);
  EXPECT_EQ(a->authorization, nullptr);
  ASN1_INTEGER_set(a->avno, 5);
  SetString(a->crealm, "R");
  ASN1_INTEGER_set(a->cname->nametype, 1);
  ASN1_INTEGER_set(a->cusec, 0);
  ASSERT_EQ(ASN1_GENERALIZEDTIME_set_string(a->ctime, "20261207000000Z"), 1);
  a->seqnum = Int(7);
  // [APPLICATION 2] SEQUENCE { [0] 5, [1] "R", [2] {[0] 1, [1] {}}, [4] 0,
  //   [5] "20261207000000Z", [7] 7 }
  const std::string body =
      "a003020105"
      "a1031b0152"
      "a20b3009a003020101a1023000"
      "a403020100"
      "a511180f3230323631323037303030303030"
      "5a"
      "a703020107";
  const std::string der = Der(i2d_KRB5_AUTHENT, a);
  EXPECT_EQ(der, "62363034" + body);
  KRB5_AUTHENT_free(a);
}

}  // namespace
