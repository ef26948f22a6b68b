// Checks on the built-in object table generated from crypto/objects/objects.txt:
// every entry against the data file (names, and contents encoded here from
// the dotted text), the block of content octets, the uniqueness rules, the
// three index orders (searched with OBJ_bsearch_ex), and the names and
// identifiers the library relies on, typed from their standards.

#include <gtest/gtest.h>
#include <morvane/objects.h>

#include <cctype>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "objects/obj_dat.h"
// The generated tables, after the record type they fill.
#include "obj_dat.inc"

namespace {

using Bytes = std::vector<unsigned char>;

// Dotted text to content octets (X.690, 8.19), written independently of the
// generator; a lone root arc r reads as r.0.
Bytes Der(const std::string& dotted) {
  std::vector<uint64_t> arcs;
  for (size_t pos = 0;;) {
    size_t dot = dotted.find('.', pos);
    arcs.push_back(std::stoull(dotted.substr(pos, dot - pos)));
    if (dot == std::string::npos) break;
    pos = dot + 1;
  }
  if (arcs.size() == 1) arcs.push_back(0);
  std::vector<uint64_t> subids{arcs[0] * 40 + arcs[1]};
  subids.insert(subids.end(), arcs.begin() + 2, arcs.end());
  Bytes out;
  for (uint64_t v : subids) {
    Bytes groups{static_cast<unsigned char>(v & 0x7f)};
    for (v >>= 7; v != 0; v >>= 7) groups.push_back(static_cast<unsigned char>(0x80 | (v & 0x7f)));
    out.insert(out.end(), groups.rbegin(), groups.rend());
  }
  return out;
}

Bytes Content(const ObjRecord& o) {
  return o.length > 0 ? Bytes(o.data, o.data + o.length) : Bytes();
}

bool Live(const ObjRecord& o) { return o.sn != nullptr; }
bool HasContent(const ObjRecord& o) { return o.length > 0; }

// One line of the data file: NID | short name | long name | OID | source.
struct Line {
  int nid;
  std::string sn, ln, oid;
};

std::vector<Line> DataFile() {
  std::ifstream in(MORVANE_OBJECTS_TXT);
  EXPECT_TRUE(in) << MORVANE_OBJECTS_TXT;
  std::vector<Line> out;
  auto trim = [](std::string s) {
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
  };
  for (std::string text; std::getline(in, text);) {
    if (text.empty() || text[0] == '#' || text[0] == '!') continue;
    std::vector<std::string> f;
    for (size_t pos = 0;; pos++) {
      const size_t bar = text.find('|', pos);
      f.push_back(trim(text.substr(pos, bar - pos)));
      if (bar == std::string::npos) break;
      pos = bar;
    }
    EXPECT_EQ(f.size(), 5u) << text;
    if (f.size() == 5) out.push_back({std::stoi(f[0]), f[1], f[2], f[3]});
  }
  return out;
}

struct Pinned {
  int nid;
  const char* sn;
  const char* ln;   // null: only the short name is fixed
  const char* oid;  // null: only the names are fixed
};

// clang-format off
const Pinned kPinned[] = {
    // Digests, ciphers, signatures, key types and password-based encryption.
    {0, "UNDEF", "undefined", "0.0"}, {3, "MD2", "md2", "1.2.840.113549.2.2"},
    {4, "MD5", "md5", "1.2.840.113549.2.5"}, {5, "RC4", "rc4", "1.2.840.113549.3.4"},
    {6, "rsaEncryption", "rsaEncryption", "1.2.840.113549.1.1.1"},
    {7, "RSA-MD2", "md2WithRSAEncryption", "1.2.840.113549.1.1.2"},
    {8, "RSA-MD5", "md5WithRSAEncryption", "1.2.840.113549.1.1.4"},
    {9, "PBE-MD2-DES", "pbeWithMD2AndDES-CBC", "1.2.840.113549.1.5.1"},
    {10, "PBE-MD5-DES", "pbeWithMD5AndDES-CBC", "1.2.840.113549.1.5.3"},
    {19, "RSA", "rsa", "2.5.8.1.1"},
    {28, "dhKeyAgreement", "dhKeyAgreement", "1.2.840.113549.1.3.1"},
    {29, "DES-ECB", "des-ecb", "1.3.14.3.2.6"}, {30, "DES-CFB", "des-cfb", "1.3.14.3.2.9"},
    {31, "DES-CBC", "des-cbc", "1.3.14.3.2.7"}, {37, "RC2-CBC", "rc2-cbc", "1.2.840.113549.3.2"},
    {41, "SHA", "sha", "1.3.14.3.2.18"}, {44, "DES-EDE3-CBC", "des-ede3-cbc", "1.2.840.113549.3.7"},
    {64, "SHA1", "sha1", "1.3.14.3.2.26"},
    {65, "RSA-SHA1", "sha1WithRSAEncryption", "1.2.840.113549.1.1.5"},
    {66, "DSA-SHA", "dsaWithSHA", "1.3.14.3.2.13"},
    {67, "DSA-old", "dsaEncryption-old", "1.3.14.3.2.12"},
    {68, "PBE-SHA1-RC2-64", "pbeWithSHA1AndRC2-CBC", "1.2.840.113549.1.5.11"},
    {69, "PBKDF2", "PBKDF2", "1.2.840.113549.1.5.12"},
    {70, "DSA-SHA1-old", "dsaWithSHA1-old", "1.3.14.3.2.27"},
    {91, "BF-CBC", "bf-cbc", "1.3.6.1.4.1.3029.1.2"},
    {108, "CAST5-CBC", "cast5-cbc", "1.2.840.113533.7.66.10"},
    {113, "DSA-SHA1", "dsaWithSHA1", "1.2.840.10040.4.3"},
    {116, "DSA", "dsaEncryption", "1.2.840.10040.4.1"},
    {117, "RIPEMD160", "ripemd160", "1.3.36.3.2.1"},
    {119, "RSA-RIPEMD160", "ripemd160WithRSA", "1.3.36.3.3.1.2"},
    {161, "PBES2", "PBES2", "1.2.840.113549.1.5.13"},
    {163, "hmacWithSHA1", "hmacWithSHA1", "1.2.840.113549.2.7"},
    {168, "PBE-MD2-RC2-64", "pbeWithMD2AndRC2-CBC", "1.2.840.113549.1.5.4"},
    {169, "PBE-MD5-RC2-64", "pbeWithMD5AndRC2-CBC", "1.2.840.113549.1.5.6"},
    {170, "PBE-SHA1-DES", "pbeWithSHA1AndDES-CBC", "1.2.840.113549.1.5.10"},
    {257, "MD4", "md4", "1.2.840.113549.2.4"},
    {396, "RSA-MD4", "md4WithRSAEncryption", "1.2.840.113549.1.1.3"},
    {408, "id-ecPublicKey", "id-ecPublicKey", "1.2.840.10045.2.1"},
    {416, "ecdsa-with-SHA1", "ecdsa-with-SHA1", "1.2.840.10045.4.1"},
    {419, "AES-128-CBC", "aes-128-cbc", "2.16.840.1.101.3.4.1.2"},
    {423, "AES-192-CBC", "aes-192-cbc", "2.16.840.1.101.3.4.1.22"},
    {427, "AES-256-CBC", "aes-256-cbc", "2.16.840.1.101.3.4.1.42"},
    {668, "RSA-SHA256", "sha256WithRSAEncryption", "1.2.840.113549.1.1.11"},
    {672, "SHA256", "sha256", "2.16.840.1.101.3.4.2.1"},
    {673, "SHA384", "sha384", "2.16.840.1.101.3.4.2.2"},
    {674, "SHA512", "sha512", "2.16.840.1.101.3.4.2.3"},
    {675, "SHA224", "sha224", "2.16.840.1.101.3.4.2.4"},
    // Signature and key names that the digest registrations add as aliases.
    {42, "RSA-SHA", "shaWithRSAEncryption", nullptr},
    {669, "RSA-SHA384", "sha384WithRSAEncryption", "1.2.840.113549.1.1.12"},  // RFC 8017, A.2.4
    {670, "RSA-SHA512", "sha512WithRSAEncryption", "1.2.840.113549.1.1.13"},
    {671, "RSA-SHA224", "sha224WithRSAEncryption", "1.2.840.113549.1.1.14"},
    // Attribute types with a string rule (long names).
    {13, "CN", "commonName", nullptr}, {14, "C", "countryName", nullptr},
    {15, "L", "localityName", nullptr}, {16, "ST", "stateOrProvinceName", nullptr},
    {17, "O", "organizationName", nullptr}, {18, "OU", "organizationalUnitName", nullptr},
    {48, "emailAddress", "emailAddress", nullptr},
    {49, "unstructuredName", "unstructuredName", nullptr},
    {54, "challengePassword", "challengePassword", nullptr},
    {55, "unstructuredAddress", "unstructuredAddress", nullptr}, {99, "GN", "givenName", nullptr},
    {100, "SN", "surname", nullptr}, {101, "initials", "initials", nullptr},
    {105, "serialNumber", "serialNumber", nullptr}, {156, "friendlyName", "friendlyName", nullptr},
    {173, "name", "name", nullptr}, {174, "dnQualifier", "dnQualifier", nullptr},
    {391, "DC", "domainComponent", nullptr}, {417, "CSPName", "CSPName", nullptr},
    // Certificate-request extension attributes.
    {171, "msExtReq", "Microsoft Extension Request", nullptr},
    {172, "extReq", "Extension Request", nullptr},
    // Extensions as certificates print them.
    {82, "subjectKeyIdentifier", "X509v3 Subject Key Identifier", nullptr},
    {85, "subjectAltName", "X509v3 Subject Alternative Name", nullptr},
    {86, "issuerAltName", "X509v3 Issuer Alternative Name", nullptr},
    {87, "basicConstraints", "X509v3 Basic Constraints", nullptr},
    {90, "authorityKeyIdentifier", "X509v3 Authority Key Identifier", nullptr},
    {103, "crlDistributionPoints", "X509v3 CRL Distribution Points", nullptr},
    {177, "authorityInfoAccess", "Authority Information Access", nullptr},
    {398, "subjectInfoAccess", "Subject Information Access", nullptr},
    {401, "policyConstraints", "X509v3 Policy Constraints", nullptr},
    {666, "nameConstraints", "X509v3 Name Constraints", nullptr},
    {747, "policyMappings", "X509v3 Policy Mappings", nullptr},
    // PKCS #7 content types (RFC 2315, 14) and PKCS #9 attributes (RFC 2985).
    {21, "pkcs7-data", nullptr, "1.2.840.113549.1.7.1"},
    {22, "pkcs7-signedData", nullptr, "1.2.840.113549.1.7.2"},
    {23, "pkcs7-envelopedData", nullptr, "1.2.840.113549.1.7.3"},
    {24, "pkcs7-signedAndEnvelopedData", nullptr, "1.2.840.113549.1.7.4"},
    {25, "pkcs7-digestData", nullptr, "1.2.840.113549.1.7.5"},
    {26, "pkcs7-encryptedData", nullptr, "1.2.840.113549.1.7.6"},
    {50, "contentType", nullptr, "1.2.840.113549.1.9.3"},
    {51, "messageDigest", nullptr, "1.2.840.113549.1.9.4"},
    {52, "signingTime", nullptr, "1.2.840.113549.1.9.5"},
    {167, "SMIME-CAPS", nullptr, "1.2.840.113549.1.9.15"},
    // Elliptic-curve field types and bases (X9.62; RFC 3279, 2.3.5).
    {406, "prime-field", nullptr, "1.2.840.10045.1.1"},
    {407, "characteristic-two-field", nullptr, "1.2.840.10045.1.2"},
    {681, "onBasis", nullptr, "1.2.840.10045.1.2.3.1"},
    {682, "tpBasis", nullptr, "1.2.840.10045.1.2.3.2"},
    {683, "ppBasis", nullptr, "1.2.840.10045.1.2.3.3"},
    // The stored-block compression method names itself by its long name.
    {124, "RLE", "run length compression", nullptr},
};
// clang-format on

// The descriptions the cipher list registers; each has its short name in
// lower case as long name ("DES-CFB" and "des-cfb").
constexpr int kCipherNids[] = {30,  656, 657, 60,  61,  658, 659, 45,  62,  63,  80,  31,  43,  44,
                               29,  32,  33,  5,   97,  36,  35,  46,  34,  38,  39,  40,  37,  98,
                               166, 92,  93,  94,  91,  109, 110, 111, 108, 418, 419, 421, 650, 653,
                               420, 422, 423, 425, 651, 654, 424, 426, 427, 429, 652, 655, 428};

// Index-table searches, as the object database runs them: the key is a record
// that carries only the name or content sought, the element a NID.
const ObjRecord& At(const void* element) {
  return nid_objs[*static_cast<const unsigned int*>(element)];
}
int CmpSn(const void* key, const void* element) {
  return std::strcmp(static_cast<const ObjRecord*>(key)->sn, At(element).sn);
}
int CmpLn(const void* key, const void* element) {
  return std::strcmp(static_cast<const ObjRecord*>(key)->ln, At(element).ln);
}
int CmpContent(const void* key, const void* element) {
  const ObjRecord& a = *static_cast<const ObjRecord*>(key);
  const ObjRecord& b = At(element);
  if (a.length != b.length) return a.length - b.length;
  return std::memcmp(a.data, b.data, static_cast<size_t>(a.length));
}
int Find(const unsigned int* index, int n, const ObjRecord& key,
         int (*cmp)(const void*, const void*)) {
  const char* hit =
      OBJ_bsearch_ex(reinterpret_cast<const char*>(&key), reinterpret_cast<const char*>(index), n,
                     static_cast<int>(sizeof(*index)), cmp, 0);
  return hit == nullptr ? -1 : static_cast<int>(At(hit).nid);
}

// Checks that `index` lists every NID accepted by `member` once, in the order
// of `cmp`, and returns the pairs of neighbours that compare equal.
std::vector<std::pair<int, int>> CheckIndex(const unsigned int* index, int n,
                                            bool (*member)(const ObjRecord&),
                                            int (*cmp)(const void*, const void*)) {
  std::set<unsigned int> seen;
  std::vector<std::pair<int, int>> ties;
  for (int i = 0; i < n; i++) {
    EXPECT_LT(index[i], static_cast<unsigned int>(kNumNid));
    if (index[i] >= static_cast<unsigned int>(kNumNid)) return ties;
    EXPECT_TRUE(member(nid_objs[index[i]])) << "NID " << index[i];
    EXPECT_TRUE(seen.insert(index[i]).second) << "NID " << index[i] << " listed twice";
    if (i == 0) continue;
    int c = cmp(&nid_objs[index[i - 1]], &index[i]);
    EXPECT_LE(c, 0) << "NIDs " << index[i - 1] << " and " << index[i] << " out of order";
    if (c == 0) ties.emplace_back(index[i - 1], index[i]);
  }
  int members = 0;
  for (const ObjRecord& o : nid_objs) members += member(o) ? 1 : 0;
  EXPECT_EQ(members, n);
  return ties;
}

TEST(ObjectTable, EveryEntryAsTheDataFileGivesIt) {
  const std::vector<Line> lines = DataFile();
  ASSERT_EQ(kNumNid, 893);
  ASSERT_EQ(lines.size(), 893u);
  ASSERT_EQ(sizeof(nid_objs) / sizeof(nid_objs[0]), 893u);
  int live = 0, with_content = 0;
  for (int n = 0; n < kNumNid; n++) {
    const ObjRecord& o = nid_objs[n];
    const Line& l = lines[static_cast<size_t>(n)];
    ASSERT_EQ(l.nid, n);
    if (l.sn.empty()) {  // retired: an empty record
      EXPECT_TRUE(o.sn == nullptr && o.ln == nullptr && o.nid == 0 && o.length == 0 &&
                  o.data == nullptr && o.flags == 0)
          << "retired NID " << n << " is not empty";
      continue;
    }
    live++;
    ASSERT_TRUE(o.sn != nullptr && o.ln != nullptr) << "NID " << n;
    EXPECT_EQ(o.nid, n);
    EXPECT_EQ(o.flags, 0) << "NID " << n;
    EXPECT_EQ(o.sn, l.sn) << "NID " << n;
    EXPECT_EQ(o.ln, l.ln) << "NID " << n;
    EXPECT_EQ(Content(o), l.oid.empty() ? Bytes() : Der(l.oid)) << "NID " << n;
    EXPECT_EQ(o.data == nullptr, l.oid.empty()) << "NID " << n;
    with_content += l.oid.empty() ? 0 : 1;
  }
  EXPECT_EQ(live, 886);
  EXPECT_EQ(kNumSn, 886);
  EXPECT_EQ(kNumLn, 886);
  EXPECT_EQ(with_content, 840);
  EXPECT_EQ(kNumObj, 840);
}

// The contents lie back to back in the block in NID order, fill it exactly,
// and each is a well-formed series of subidentifiers (X.690, 8.19.2).
TEST(ObjectTable, ContentBlock) {
  ASSERT_EQ(sizeof(lvalues), 5824u);
  size_t offset = 0;
  for (const ObjRecord& o : nid_objs) {
    if (o.length == 0) continue;
    ASSERT_EQ(o.data, lvalues + offset) << "NID " << o.nid;
    offset += static_cast<size_t>(o.length);
    EXPECT_EQ(o.data[o.length - 1] & 0x80, 0) << "NID " << o.nid << " ends inside a subidentifier";
    for (int i = 0; i < o.length; i++) {
      bool starts = i == 0 || (o.data[i - 1] & 0x80) == 0;
      EXPECT_FALSE(starts && o.data[i] == 0x80) << "NID " << o.nid << " pads a subidentifier";
    }
  }
  EXPECT_EQ(offset, 5824u);
}

// Names and contents are unique except the shared ones the data file allows.
TEST(ObjectTable, UniqueExceptTheSharedOnes) {
  std::multiset<std::string> sn, ln;
  std::map<Bytes, std::set<int>> owners;
  for (const ObjRecord& o : nid_objs) {
    if (!Live(o)) continue;
    sn.insert(o.sn);
    ln.insert(o.ln);
    if (o.length > 0) owners[Content(o)].insert(o.nid);
  }
  for (const auto* names : {&sn, &ln})
    for (const std::string& s : *names) EXPECT_EQ(names->count(s), s == "NULL" ? 2u : 1u) << s;
  EXPECT_STREQ(nid_objs[393].ln, "NULL");
  EXPECT_STREQ(nid_objs[404].sn, "NULL");
  for (const auto& [content, nids] : owners) {
    if (content == Bytes{0x00})
      EXPECT_EQ(nids, (std::set<int>{0, 393, 404, 645}));
    else if (content == Bytes{0x2B})
      EXPECT_EQ(nids, (std::set<int>{379, 676}));
    else
      EXPECT_EQ(nids.size(), 1u) << "content shared by NID " << *nids.begin() << " and "
                                 << *nids.rbegin();
  }
}

TEST(ObjectTable, IndexOrders) {
  using Ties = std::vector<std::pair<int, int>>;
  EXPECT_EQ(CheckIndex(sn_objs, kNumSn, Live, CmpSn), (Ties{{393, 404}}));
  EXPECT_EQ(CheckIndex(ln_objs, kNumLn, Live, CmpLn), (Ties{{393, 404}}));
  EXPECT_EQ(CheckIndex(obj_objs, kNumObj, HasContent, CmpContent),
            (Ties{{0, 393}, {393, 404}, {404, 645}, {379, 676}}));
  // Shorter contents come first: the one-octet ones open the index.
  EXPECT_EQ(nid_objs[obj_objs[0]].length, 1);
}

// Every live entry is found by a binary search of each index that holds it;
// a shared name or content finds one of its owners.
TEST(ObjectTable, BinarySearchFindsEveryEntry) {
  const std::set<int> null_nids{393, 404}, zero{0, 393, 404, 645}, org{379, 676};
  for (const ObjRecord& o : nid_objs) {
    if (!Live(o)) continue;
    int by_sn = Find(sn_objs, kNumSn, o, CmpSn);
    int by_ln = Find(ln_objs, kNumLn, o, CmpLn);
    bool is_null = null_nids.count(o.nid) != 0;
    EXPECT_TRUE(by_sn == o.nid || (is_null && null_nids.count(by_sn))) << o.sn;
    EXPECT_TRUE(by_ln == o.nid || (is_null && null_nids.count(by_ln))) << o.ln;
    if (o.length == 0) continue;
    int by_content = Find(obj_objs, kNumObj, o, CmpContent);
    const std::set<int>* shared = zero.count(o.nid) ? &zero : org.count(o.nid) ? &org : nullptr;
    EXPECT_TRUE(by_content == o.nid || (shared && shared->count(by_content))) << "NID " << o.nid;
  }
  const unsigned char unknown[] = {0x2A, 0x03};  // 1.2.3
  ObjRecord key{"no such name", "no such name", 0, 2, unknown, 0};
  EXPECT_EQ(Find(sn_objs, kNumSn, key, CmpSn), -1);
  EXPECT_EQ(Find(ln_objs, kNumLn, key, CmpLn), -1);
  EXPECT_EQ(Find(obj_objs, kNumObj, key, CmpContent), -1);
}

TEST(ObjectTable, PinnedNamesAndIdentifiers) {
  for (const Pinned& p : kPinned) {
    const ObjRecord& o = nid_objs[p.nid];
    ASSERT_TRUE(Live(o)) << "NID " << p.nid;
    EXPECT_STREQ(o.sn, p.sn) << "NID " << p.nid;
    if (p.ln != nullptr) {
      EXPECT_STREQ(o.ln, p.ln) << "NID " << p.nid;
    }
    if (p.oid != nullptr) {
      EXPECT_EQ(Content(o), Der(p.oid)) << "NID " << p.nid << " is not " << p.oid;
    }
  }
}

// Content octets typed from published DER: the DigestInfo prefixes of
// RFC 8017, 9.2, note 1, and the examples of X.690's rules (1.2.840.113549
// and 2.999, which also check the test's own encoder).
TEST(ObjectTable, PublishedEncodings) {
  EXPECT_EQ(Der("1.2.840.113549"), (Bytes{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D}));
  EXPECT_EQ(Der("2.999"), (Bytes{0x88, 0x37}));
  EXPECT_EQ(Content(nid_objs[1]), (Bytes{0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D}));
  EXPECT_EQ(Content(nid_objs[3]), (Bytes{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x02}));
  EXPECT_EQ(Content(nid_objs[4]), (Bytes{0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x05}));
  EXPECT_EQ(Content(nid_objs[64]), (Bytes{0x2b, 0x0e, 0x03, 0x02, 0x1a}));
  EXPECT_EQ(Content(nid_objs[675]), (Bytes{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x04}));
  EXPECT_EQ(Content(nid_objs[672]), (Bytes{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x01}));
  EXPECT_EQ(Content(nid_objs[673]), (Bytes{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x02}));
  EXPECT_EQ(Content(nid_objs[674]), (Bytes{0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x02, 0x03}));
  // The one-arc roots are stored as r.0.
  EXPECT_EQ(Content(nid_objs[645]), Bytes{0x00});
  EXPECT_EQ(Content(nid_objs[181]), Bytes{0x28});
  EXPECT_EQ(Content(nid_objs[646]), Bytes{0x50});
}

TEST(ObjectTable, CipherLongNamesAreLowerCaseShortNames) {
  for (int nid : kCipherNids) {
    const ObjRecord& o = nid_objs[nid];
    ASSERT_TRUE(Live(o)) << "NID " << nid;
    std::string lower(o.sn);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_EQ(lower, o.ln) << "NID " << nid;
  }
}

}  // namespace
