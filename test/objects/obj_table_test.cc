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
#include "test_support.h"
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

bool Live(const ObjRecord& o) {
  return o.sn != nullptr;
}
bool HasContent(const ObjRecord& o) {
  return o.length > 0;
}

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
  const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("objects/pinned.txt"));
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].fields.size(), 99u);
  for (const auto& [nid_text, value] : records[0].fields) {
    const int nid = std::stoi(nid_text);
    std::vector<std::string> f;
    for (size_t pos = 0, bar;; pos = bar + 1) {
      bar = value.find('|', pos);
      std::string part = value.substr(pos, bar - pos);
      part.erase(0, part.find_first_not_of(' '));
      part.erase(part.find_last_not_of(' ') + 1);
      f.push_back(part);
      if (bar == std::string::npos) break;
    }
    ASSERT_EQ(f.size(), 3u) << value;
    const ObjRecord& o = nid_objs[nid];
    ASSERT_TRUE(Live(o)) << "NID " << nid;
    EXPECT_EQ(o.sn, f[0]) << "NID " << nid;
    EXPECT_TRUE(f[1] == "-" || o.ln == f[1]) << "NID " << nid << ": " << o.ln;
    EXPECT_TRUE(f[2] == "-" || Content(o) == Der(f[2])) << "NID " << nid << " is not " << f[2];
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
