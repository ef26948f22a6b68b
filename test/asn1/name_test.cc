// Distinguished names: RDNs formed from the entries' set numbers, the cached
// encoding kept until a change and rebuilt in DER order after one (X.690,
// 11.6), X509_NAME_set, and the issuer and subject names of every PKITS
// certificate and revocation list decoded and re-encoded to their octets.

#include <dirent.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

// AttributeTypeAndValue DER (X.501; object identifiers of X.520): commonName
// "a", organizationName "b", organizationalUnitName "c", commonName "d".
constexpr const char* kCnA = "3008 0603550403 130161";
constexpr const char* kOB = "3008 060355040A 130162";
constexpr const char* kOuC = "3008 060355040B 130163";
constexpr const char* kCnD = "3008 0603550403 130164";

std::string Der(X509_NAME* name) {
  unsigned char* der = nullptr;
  const int n = i2d_X509_NAME(name, &der);
  if (n <= 0) return "";
  std::string hex = ToHex(der, n);
  MORVANE_free(der);
  return hex;
}

X509_NAME* Decode(const Bytes& der) {
  const unsigned char* p = der.data();
  X509_NAME* name = d2i_X509_NAME(nullptr, &p, static_cast<long>(der.size()));
  if (name != nullptr) {
    EXPECT_EQ(der.data() + der.size(), p);
  }
  return name;
}

X509_NAME_ENTRY* Entry(X509_NAME* name, size_t i) {
  return reinterpret_cast<X509_NAME_ENTRY*>(sk_value(name->entries, static_cast<int>(i)));
}

// Appends an entry of type nid with a one-character PrintableString.
void Add(X509_NAME* name, int nid, char c, int set) {
  X509_NAME_ENTRY* e = X509_NAME_ENTRY_new();
  ASN1_OBJECT_free(e->object);
  e->object = OBJ_nid2obj(nid);
  e->value->type = ASN1_UT_PRINTABLESTRING;
  ASSERT_EQ(1, ASN1_STRING_set(e->value, &c, 1));
  e->set = set;
  ASSERT_GT(sk_push(name->entries, reinterpret_cast<char*>(e)), 0);
  name->modified = 1;
}

TEST(X509Name, SetNumbersFormRdns) {
  const std::string a = kCnA, b = kOB, c = kOuC, d = kCnD;
  const struct {
    std::vector<int> sets;
    std::string der;
  } kCases[] = {
      // Entries CN a, OU c, O b, CN d: the middle RDN's members in DER order.
      {{0, 1, 1, 2}, "302E 310A" + a + "3114" + b + c + "310A" + d},
      {{0, 1, 0}, "3024 310A" + a + "310A" + c + "310A" + b},
      {{5, 5, 3, 3}, "302C 3114" + a + c + "3114" + d + b},
      // A first entry numbered -1 opens an RDN like any other.
      {{-1, -1, 0, 0}, "302C 3114" + a + c + "3114" + d + b},
      {{}, "3000"},
  };
  const int nids[] = {13, 18, 17, 13};
  const char chars[] = {'a', 'c', 'b', 'd'};
  for (const auto& k : kCases) {
    SCOPED_TRACE(k.der);
    X509_NAME* name = X509_NAME_new();
    for (size_t i = 0; i < k.sets.size(); i++) Add(name, nids[i], chars[i], k.sets[i]);
    EXPECT_EQ(ToHex(FromHex(k.der)), Der(name));
    EXPECT_EQ(0, name->modified);
    for (size_t i = 0; i < k.sets.size(); i++)  // the list keeps its own order
      EXPECT_EQ(nids[i], OBJ_obj2nid(Entry(name, i)->object));
    X509_NAME_free(name);
  }
}

// The received octets are kept, canonical or not, until a change; then each
// RDN is written in DER order with definite lengths.
TEST(X509Name, DecodedNameKeepsItsOctetsUntilModified) {
  const struct {
    std::string in;
    std::string rebuilt;
    std::vector<int> sets;
  } kCases[] = {
      {std::string("3016 3114") + kOuC + kOB, std::string("3016 3114") + kOB + kOuC, {0, 0}},
      {std::string("3080 310A") + kCnA + "3180" + kOB + "0000 0000",
       std::string("3018 310A") + kCnA + "310A" + kOB,
       {0, 1}},
      {"3000", "3000", {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.in);
    const Bytes in = FromHex(c.in);
    X509_NAME* name = Decode(in);
    ASSERT_NE(nullptr, name);
    EXPECT_EQ(0, name->modified);
    ASSERT_EQ(static_cast<int>(c.sets.size()), sk_num(name->entries));
    for (size_t i = 0; i < c.sets.size(); i++) EXPECT_EQ(c.sets[i], Entry(name, i)->set);
    EXPECT_EQ(ToHex(in), Der(name));
    X509_NAME* copy = X509_NAME_dup(name);
    EXPECT_EQ(ToHex(in), Der(copy));
    name->modified = 1;
    EXPECT_EQ(ToHex(FromHex(c.rebuilt)), Der(name));
    X509_NAME_free(name);
    X509_NAME_free(copy);
  }
}

TEST(X509Name, Refusals) {
  for (const char* hex : {"", "30", "3103 310A", "3002 3000", "300C 310A 3008 0603550403 0201 61",
                          "3004 3002 0500"}) {
    SCOPED_TRACE(hex);
    EXPECT_EQ(nullptr, Decode(FromHex(hex)));
    EXPECT_NE(0u, ERR_get_error());
    ERR_clear_error();
  }
}

// X509_NAME_set copies unless the place already holds the name; a failed
// copy leaves the old name and says so.
TEST(X509Name, SetCopiesOrKeeps) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  X509_NAME* a = Decode(FromHex(std::string("300C 310A") + kCnA));
  X509_NAME* b = Decode(FromHex(std::string("300C 310A") + kOB));
  X509_NAME* place = a;
  EXPECT_EQ(1, X509_NAME_set(&place, a));
  EXPECT_EQ(a, place);
  EXPECT_EQ(0, X509_NAME_set(&place, nullptr));
  EXPECT_EQ(0, X509_NAME_set(nullptr, b));
  X509_NAME* empty = nullptr;
  ASSERT_EQ(1, X509_NAME_set(&empty, b));
  EXPECT_NE(b, empty);
  EXPECT_EQ(Der(b), Der(empty));
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(0, X509_NAME_set(&empty, a));
  morvane_test::FailAllocationAfter(0);
  EXPECT_EQ(Der(b), Der(empty));
  ERR_clear_error();
  for (X509_NAME* n : {a, b, empty}) X509_NAME_free(n);
}

// Every allocation of a decode failing in turn: a clean failure each time
// (the leak checker sees anything left behind), then success.
TEST(X509Name, DecodeSurvivesAllocationFailures) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const Bytes der = FromHex(std::string("3022 310A") + kCnA + "3114" + kOB + kOuC);
  for (long n = 1;; n++) {
    morvane_test::FailAllocationAfter(n);
    X509_NAME* name = Decode(der);
    morvane_test::FailAllocationAfter(0);
    ERR_clear_error();
    if (name != nullptr) {
      EXPECT_EQ(ToHex(der), Der(name));
      X509_NAME_free(name);
      break;
    }
  }
}

// ---- PKITS ------------------------------------------------------------------

// The issuer and subject of a certificate (RFC 5280, 4.1: the fourth and sixth
// fields of the signed part, counting an explicit version) or the issuer of a
// revocation list (5.1: the third, counting a version), as whole elements.
std::vector<Bytes> NamesOf(const Bytes& der, bool crl) {
  const unsigned char* p = der.data();
  const unsigned char* end = p + der.size();
  long len;
  int tag, cls;
  for (int depth = 0; depth < 2; depth++) {  // into the outer and the signed SEQUENCE
    if (ASN1_get_object(&p, &len, &tag, &cls, end - p) & ASN1_HDR_ERROR) return {};
    end = p + len;
  }
  const bool versioned = p < end && *p == (crl ? 0x02 : 0xA0);
  const int issuer = (crl ? 1 : 2) + versioned, subject = crl ? -1 : issuer + 2;
  std::vector<Bytes> out;
  for (int i = 0; p < end; i++) {
    const unsigned char* start = p;
    if (ASN1_get_object(&p, &len, &tag, &cls, end - p) & ASN1_HDR_ERROR) return {};
    p += len;
    if (i == issuer || i == subject) out.emplace_back(start, p);
  }
  return out;
}

TEST(X509Name, PkitsNamesRoundTrip) {
  MORVANE_VECTOR_PATH_OR_SKIP(dir, "pkits");
  size_t names = 0;
  for (const std::string sub : {"certs", "crls"}) {
    DIR* d = opendir((dir + "/" + sub).c_str());
    ASSERT_NE(nullptr, d);
    while (const dirent* ent = readdir(d)) {
      if (ent->d_name[0] == '.') continue;
      SCOPED_TRACE(ent->d_name);
      const Bytes file = morvane_test::ReadFileBytes(dir + "/" + sub + "/" + ent->d_name);
      const std::vector<Bytes> found = NamesOf(file, sub == "crls");
      EXPECT_EQ(sub == "crls" ? 1u : 2u, found.size());
      for (const Bytes& der : found) {
        X509_NAME* name = Decode(der);
        ASSERT_NE(nullptr, name);
        EXPECT_EQ(ToHex(der), Der(name));
        name->modified = 1;  // rebuilt from the entries: the same DER
        EXPECT_EQ(ToHex(der), Der(name));
        X509_NAME_free(name);
        names++;
      }
    }
    closedir(d);
  }
  EXPECT_EQ(2 * 405u + 173u, names);  // every certificate and revocation list
  EXPECT_ERRORS({});
}

}  // namespace
