// The certificate-policy check on chains the test makes (a test key signs
// certificates with chosen policy extensions, their values written as DER
// from the ASN.1 of RFC 5280, 4.2.1.4, 4.2.1.5, 4.2.1.11 and 4.2.1.14).
// Chains are given target first, trust anchor last.

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "../x509/der_util.h"
#include "cert_builder.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::CertExt;
using morvane_test::CertSpec;
using x509_test::Cat;
using x509_test::Tlv;

constexpr int kNidCertificatePolicies = 89;
constexpr int kNidPolicyConstraints = 401;
constexpr int kNidPolicyMappings = 747;
constexpr int kNidInhibitAnyPolicy = 748;
constexpr const char* kAny = "2.5.29.32.0";
constexpr const char* kP1 = "1.2.3.1";
constexpr const char* kP2 = "1.2.3.2";
constexpr const char* kP3 = "1.2.3.3";

#define NEEDS_METHODS()                                                       \
  do {                                                                        \
    if (X509V3_EXT_get_nid(kNidCertificatePolicies) == nullptr ||             \
        X509V3_EXT_get_nid(kNidPolicyConstraints) == nullptr ||               \
        X509V3_EXT_get_nid(kNidPolicyMappings) == nullptr ||                  \
        X509V3_EXT_get_nid(kNidInhibitAnyPolicy) == nullptr)                  \
      GTEST_SKIP() << "the policy extension methods are not registered";     \
  } while (0)

Bytes Oid(const char* text) {
  ASN1_OBJECT* o = OBJ_txt2obj(text, 1);
  const int n = i2d_ASN1_OBJECT(o, nullptr);  // the measuring form
  Bytes out(static_cast<size_t>(n));
  unsigned char* p = out.data();
  i2d_ASN1_OBJECT(o, &p);
  ASN1_OBJECT_free(o);
  return out;
}

Bytes Seq(const std::vector<Bytes>& parts) {
  Bytes content;
  for (const Bytes& p : parts) content.insert(content.end(), p.begin(), p.end());
  return Tlv(0x30, content);
}

CertExt Policies(const std::vector<const char*>& oids, bool critical = false) {
  std::vector<Bytes> infos;
  for (const char* o : oids) infos.push_back(Seq({Oid(o)}));
  return {kNidCertificatePolicies, critical, Seq(infos)};
}

Bytes Text(uint8_t tag, const std::string& s) { return Tlv(tag, Bytes(s.begin(), s.end())); }

// RFC 5280, 4.2.1.4: a PolicyInformation with qualifiers, id-qt-cps
// (1.3.6.1.5.5.7.2.1) with an IA5String, then id-qt-unotice
// (1.3.6.1.5.5.7.2.2) with a notice reference (a VisibleString organization
// and the numbers 1 and 2) and a UTF8String explicit text.
Bytes PolicyWithQualifiers(const char* oid) {
  const Bytes cps = Seq({Oid("1.3.6.1.5.5.7.2.1"), Text(0x16, "http://cps.example/1")});
  const Bytes ref = Seq({Text(0x1A, "Org"), Seq({Tlv(0x02, Bytes{1}), Tlv(0x02, Bytes{2})})});
  const Bytes notice = Seq({Oid("1.3.6.1.5.5.7.2.2"), Seq({ref, Text(0x0C, "Text")})});
  return Seq({Oid(oid), Seq({cps, notice})});
}

// requireExplicitPolicy [0] and inhibitPolicyMapping [1], -1 for absent.
CertExt Constraints(int require, int inhibit) {
  std::vector<Bytes> parts;
  if (require >= 0) parts.push_back(Tlv(0x80, Bytes{static_cast<uint8_t>(require)}));
  if (inhibit >= 0) parts.push_back(Tlv(0x81, Bytes{static_cast<uint8_t>(inhibit)}));
  return {kNidPolicyConstraints, true, Seq(parts)};
}

// policyMappings of the pairs (issuer-domain policy, subject-domain policy).
CertExt Mappings(const std::vector<std::pair<std::string, std::string>>& pairs) {
  std::vector<Bytes> maps;
  for (const auto& [from, to] : pairs) maps.push_back(Seq({Oid(from.c_str()), Oid(to.c_str())}));
  return {kNidPolicyMappings, true, Seq(maps)};
}

CertExt Mapping(const char* issuer_domain, const char* subject_domain) {
  return Mappings({{issuer_domain, subject_domain}});
}

CertExt InhibitAny(int skip) {
  return {kNidInhibitAnyPolicy, true, Tlv(0x02, Bytes{static_cast<uint8_t>(skip)})};
}

// A chain that owns its certificates.
struct Chain {
  STACK* sk = sk_new_null();
  void Add(const std::string& subject, const std::string& issuer, std::vector<CertExt> exts) {
    CertSpec s;
    s.subject = subject;
    s.issuer = issuer;
    s.exts = std::move(exts);
    s.serial = sk_num(sk) + 1;
    sk_push(sk, reinterpret_cast<char*>(morvane_test::MakeCert(s)));
  }
  X509* at(int i) const { return reinterpret_cast<X509*>(sk_value(sk, i)); }
  ~Chain() {
    sk_pop_free(sk, [](void* x) { X509_free(static_cast<X509*>(x)); });
  }
};

struct Check {
  X509_POLICY_TREE* tree = nullptr;
  int explicit_policy = -1;
  int result = 0;
  Check(const Chain& chain, std::vector<const char*> user, unsigned int flags) {
    STACK* oids = nullptr;
    if (!user.empty()) {
      oids = sk_new_null();
      for (const char* o : user) sk_push(oids, reinterpret_cast<char*>(OBJ_txt2obj(o, 1)));
    }
    result = X509_policy_check(&tree, &explicit_policy, chain.sk, oids, flags);
    sk_pop_free(oids, [](void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); });
  }
  ~Check() { X509_policy_tree_free(tree); }
};

std::string PolicyText(const X509_POLICY_NODE* node) {
  char buf[80];
  OBJ_obj2txt(buf, sizeof buf, X509_policy_node_get0_policy(node), 1);
  return buf;
}

std::vector<std::string> LevelPolicies(X509_POLICY_TREE* tree, int level) {
  std::vector<std::string> out;
  X509_POLICY_LEVEL* l = X509_policy_tree_get0_level(tree, level);
  for (int i = 0; i < X509_policy_level_node_count(l); i++)
    out.push_back(PolicyText(X509_policy_level_get0_node(l, i)));
  return out;
}

TEST(PolicyCheck, ChainOfOne) {
  Chain c;
  c.Add("Root", "Root", {});
  Check r(c, {}, 0x100);
  EXPECT_EQ(1, r.result);
  EXPECT_EQ(nullptr, r.tree);
  EXPECT_EQ(0, r.explicit_policy);
}

TEST(PolicyCheck, NoPoliciesBelowTheAnchor) {
  NEEDS_METHODS();
  struct Row {
    unsigned int flags;
    CertExt ca_ext;
    int want, want_explicit;
  };
  const Row rows[] = {
      {0, Constraints(5, -1), 1, 0},
      {0x100, Constraints(5, -1), -2, 1},
      {0, Constraints(0, -1), -2, 1},  // the count reaches 0
  };
  for (const Row& row : rows) {
    Chain c;
    c.Add("Leaf", "CA", {});
    c.Add("CA", "Root", {row.ca_ext});
    c.Add("Root", "Root", {});
    Check r(c, {}, row.flags);
    EXPECT_EQ(row.want, r.result) << row.flags;
    EXPECT_EQ(row.want_explicit, r.explicit_policy);
    EXPECT_EQ(nullptr, r.tree);
  }
}

TEST(PolicyCheck, ExplicitWithoutUserPolicies) {
  NEEDS_METHODS();
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP1})});
  c.Add("CA", "Root", {Policies({kP1})});
  c.Add("Root", "Root", {});
  Check r(c, {}, 0x100);
  EXPECT_EQ(-2, r.result);
  EXPECT_EQ(1, r.explicit_policy);
  ASSERT_NE(nullptr, r.tree);
  EXPECT_GT(sk_num(X509_policy_tree_get0_policies(r.tree)), 0);
  Check user(c, {kP1}, 0x100);
  EXPECT_EQ(1, user.result);
  ASSERT_EQ(1, sk_num(X509_policy_tree_get0_user_policies(user.tree)));
  Check other(c, {kP2}, 0x100);
  EXPECT_EQ(-2, other.result);
}

TEST(PolicyCheck, InvalidPolicyExtensionsMarkTheCertificate) {
  NEEDS_METHODS();
  const std::vector<CertExt> bad[] = {
      {Policies({kP1, kP2, kP1})},
      {Policies({kAny, kP1, kAny})},
      {Policies({kP1}), Constraints(-1, -1)},
      {Policies({kP1}), {kNidCertificatePolicies, false, Seq({})}},
      {{kNidCertificatePolicies, false, Seq({})}},  // empty list
      {Policies({kP1}), Mapping(kAny, kP2)},
      {Policies({kP1, kP2}), Mappings({{kP1, kP3}, {kP2, "1.2.4"}, {kP2, kP3}})},
      {Policies({kAny}), Mappings({{"1.2.4", kP3}, {kP1, kP2}, {"1.2.5", kP3}})},
      {Policies({kP1}), InhibitAny(0), InhibitAny(1)},
  };
  for (size_t i = 0; i < sizeof bad / sizeof bad[0]; i++) {
    Chain c;
    c.Add("Leaf", "CA", {Policies({kP1})});
    c.Add("CA", "Root", bad[i]);
    c.Add("Root", "Root", {});
    Check r(c, {kAny}, 0);
    EXPECT_EQ(-1, r.result) << i;
    EXPECT_TRUE(c.at(1)->ex_flags & EXFLAG_INVALID_POLICY) << i;
    EXPECT_FALSE(c.at(0)->ex_flags & EXFLAG_INVALID_POLICY) << i;
  }
}

TEST(PolicyCheck, MappedPolicyIsRemoved) {
  NEEDS_METHODS();
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP2, kP3})});
  // P3 mapped again after a mapping of a policy neither listed nor covered.
  c.Add("CA", "Root", {Policies({kP1, kP2}), Mappings({{"1.2.4", kP3}, {kP1, kP3}})});
  c.Add("Root", "Root", {});
  Check r(c, {kAny}, 0);
  ASSERT_EQ(1, r.result);
  ASSERT_NE(nullptr, r.tree);
  EXPECT_EQ(3, X509_policy_tree_level_count(r.tree));
  EXPECT_EQ((std::vector<std::string>{kAny}), LevelPolicies(r.tree, 0));
  EXPECT_EQ((std::vector<std::string>{kP2}), LevelPolicies(r.tree, 1));
  EXPECT_EQ((std::vector<std::string>{kP2}), LevelPolicies(r.tree, 2));
}

TEST(PolicyCheck, SelfIssuedDoesNotCountDown) {
  NEEDS_METHODS();
  for (bool self_issued : {true, false}) {
    Chain c;
    const char* mid = self_issued ? "CA" : "CA2";
    c.Add("Leaf", mid, {Policies({kP1})});
    c.Add(mid, "CA", {Policies({kP1})});
    c.Add("CA", "Root", {Policies({kP1}), Constraints(2, -1)});
    c.Add("Root", "Root", {});
    Check r(c, {}, 0);
    EXPECT_EQ(self_issued ? 1 : -2, r.result) << self_issued;
    EXPECT_EQ(self_issued ? 0 : 1, r.explicit_policy);
  }
  // The target counts down, self-issued or not (RFC 5280, 6.1.5 (a)).
  for (const char* subject : {"CA", "Leaf"}) {
    for (bool policy : {true, false}) {
      Chain c;
      c.Add(subject, "CA", policy ? std::vector<CertExt>{Policies({kP1})} : std::vector<CertExt>{});
      c.Add("CA", "Root", {Policies({kP1, kP2}), Constraints(1, -1)});
      c.Add("Root", "Root", {});
      Check r(c, {kP2}, 0);
      EXPECT_EQ(-2, r.result) << subject << policy;
      EXPECT_EQ(1, r.explicit_policy);
    }
  }
}

TEST(PolicyCheck, InhibitAnyPolicy) {
  NEEDS_METHODS();
  for (int inhibit : {0, 1}) {
    Chain c;
    c.Add("Leaf", "CA", {Policies({kAny})});
    c.Add("CA", "Root", inhibit ? std::vector<CertExt>{Policies({kAny}), InhibitAny(0)}
                                : std::vector<CertExt>{Policies({kAny})});
    c.Add("Root", "Root", {});
    Check r(c, {kAny}, 0x100);
    EXPECT_EQ(inhibit ? -2 : 1, r.result) << inhibit;
  }
  // A self-issued intermediate below the count keeps anyPolicy.
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP1})});
  c.Add("CA", "CA", {Policies({kAny})});
  c.Add("CA", "Root", {Policies({kAny}), InhibitAny(0)});
  c.Add("Root", "Root", {});
  Check r(c, {kP1}, 0x100);
  EXPECT_EQ(1, r.result);
}

TEST(PolicyCheck, UserAnyPolicyTakesTheAuthoritySet) {
  NEEDS_METHODS();
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP1, kP2})});
  c.Add("CA", "Root", {Policies({kP1, kP2})});
  c.Add("Root", "Root", {});
  Check r(c, {kP3, kAny}, 0);
  ASSERT_EQ(1, r.result);
  EXPECT_EQ(X509_policy_tree_get0_policies(r.tree), X509_policy_tree_get0_user_policies(r.tree));
  EXPECT_EQ(2, sk_num(X509_policy_tree_get0_user_policies(r.tree)));
  Check one(c, {kP2, kP3}, 0);
  ASSERT_EQ(1, one.result);
  STACK* user = X509_policy_tree_get0_user_policies(one.tree);
  ASSERT_EQ(1, sk_num(user));
  EXPECT_EQ(kP2, PolicyText(reinterpret_cast<X509_POLICY_NODE*>(sk_value(user, 0))));
}

// The authority set lists its nodes level by level, in the order found
// (not sorted by policy); the user set follows the user's order.
TEST(PolicyCheck, AuthoritySetKeepsItsOrder) {
  NEEDS_METHODS();
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP3, kP1})});
  c.Add("CA", "Root", {Policies({kP3, kAny})});
  c.Add("Root", "Root", {});
  Check r(c, {kP1, kP3}, 0);
  ASSERT_EQ(1, r.result);
  const auto texts = [](STACK* nodes) {
    std::vector<std::string> out;
    for (int i = 0; i < sk_num(nodes); i++)
      out.push_back(PolicyText(reinterpret_cast<X509_POLICY_NODE*>(sk_value(nodes, i))));
    return out;
  };
  // The CA's P3, then the leaf's P1 (under the CA's anyPolicy).
  EXPECT_EQ((std::vector<std::string>{kP3, kP1}), texts(X509_policy_tree_get0_policies(r.tree)));
  EXPECT_EQ((std::vector<std::string>{kP1, kP3}),
            texts(X509_policy_tree_get0_user_policies(r.tree)));
}

// An extra node stands for a user policy the last level's anyPolicy covers.
TEST(PolicyCheck, ExtraNodeUnderAnyPolicy) {
  NEEDS_METHODS();
  Chain c;
  c.Add("Leaf", "CA", {Policies({kAny})});
  c.Add("CA", "Root", {Policies({kAny})});
  c.Add("Root", "Root", {});
  Check r(c, {kP3}, 0x100);
  ASSERT_EQ(1, r.result);
  STACK* user = X509_policy_tree_get0_user_policies(r.tree);
  ASSERT_EQ(1, sk_num(user));
  auto* node = reinterpret_cast<X509_POLICY_NODE*>(sk_value(user, 0));
  EXPECT_EQ(kP3, PolicyText(node));
  EXPECT_EQ(kAny, PolicyText(X509_policy_node_get0_parent(node)));
}

std::string NodePrinted(X509_POLICY_NODE* node, int indent) {
  BIO* out = BIO_new(BIO_s_mem());
  X509_POLICY_NODE_print(out, node, indent);
  char* data = nullptr;
  const long n = BIO_get_mem_data(out, &data);
  std::string text(data, n > 0 ? static_cast<size_t>(n) : 0);
  BIO_free(out);
  return text;
}

// Nodes of a built tree printed: the criticality of the certificatePolicies
// extension the node's policy came from, then its qualifiers.
TEST(PolicyNodePrint, CriticalityAndQualifiers) {
  NEEDS_METHODS();
  Chain c;
  c.Add("Leaf", "CA", {{kNidCertificatePolicies, true, Seq({PolicyWithQualifiers(kP1)})}});
  c.Add("CA", "Root", {Policies({kP1, kP2})});
  c.Add("Root", "Root", {});
  Check r(c, {kP1}, 0);
  ASSERT_EQ(1, r.result);
  ASSERT_NE(nullptr, r.tree);
  ASSERT_EQ(1, X509_policy_level_node_count(X509_policy_tree_get0_level(r.tree, 2)));
  X509_POLICY_NODE* leaf = X509_policy_level_get0_node(X509_policy_tree_get0_level(r.tree, 2), 0);
  EXPECT_EQ(
      "Policy: 1.2.3.1\n"
      "  Critical\n"
      "  CPS: http://cps.example/1\n"
      "  User Notice:\n"
      "    Organization: Org\n"
      "    Numbers: 1, 2\n"
      "    Explicit Text: Text\n",
      NodePrinted(leaf, 0));
  // Its parent, from the CA's non-critical extension without qualifiers.
  auto* ca = const_cast<X509_POLICY_NODE*>(X509_policy_node_get0_parent(leaf));
  EXPECT_EQ(
      "    Policy: 1.2.3.1\n"
      "      Non Critical\n"
      "      No Qualifiers\n",
      NodePrinted(ca, 4));
  // The user set holds the node whose parent is anyPolicy: the CA's.
  STACK* user = X509_policy_tree_get0_user_policies(r.tree);
  ASSERT_EQ(1, sk_num(user));
  EXPECT_EQ(ca, reinterpret_cast<X509_POLICY_NODE*>(sk_value(user, 0)));
}

// The policy cache of a certificate is made once, under lock 3 held for
// writing; later checks read it without locking.
TEST(PolicyCache, BuiltOnceUnderWriteLock) {
  NEEDS_METHODS();
  morvane_test::InstallLockingCallback();
  Chain c;
  c.Add("Leaf", "Root", {});
  c.Add("Root", "Root", {});
  X509* leaf = c.at(0);
  X509_check_purpose(leaf, -1, 0);  // the facts first: they take the same lock
  ASSERT_EQ(nullptr, leaf->policy_cache);
  using morvane_test::WriteLock;
  using morvane_test::WriteUnlock;
  morvane_test::StartRecordingLocks();
  {
    Check r(c, {}, 0);
    EXPECT_EQ(1, r.result);
  }
  EXPECT_EQ((std::vector<morvane_test::LockEvent>{WriteLock(CRYPTO_LOCK_X509),
                                                   WriteUnlock(CRYPTO_LOCK_X509)}),
            morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509}));
  const X509_POLICY_CACHE* cache = leaf->policy_cache;
  EXPECT_NE(nullptr, cache);
  morvane_test::StartRecordingLocks();
  {
    Check r(c, {}, 0);
    EXPECT_EQ(1, r.result);
  }
  EXPECT_TRUE(morvane_test::StopRecordingLocks({CRYPTO_LOCK_X509}).empty());
  EXPECT_EQ(cache, leaf->policy_cache);
}

// Every allocation of a check failing in turn: the check gives 0 or its
// result and leaves nothing behind, the authority set and its index
// included (the last level has anyPolicy, so the set is a stack of its own,
// and it holds enough nodes that adding them allocates).  Needs its own
// process (ctest runs each test in one).
TEST(PolicyCheck, AllocationFailuresLeaveNothing) {
  NEEDS_METHODS();
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP1, kP2, kAny})});
  c.Add("CA", "Root", {Policies({kP2, kP1, "1.2.3.4", "1.2.3.5", "1.2.3.6", "1.2.3.7", kAny})});
  c.Add("Root", "Root", {});
  STACK* user = sk_new_null();
  for (const char* o : {kP1, kP3}) sk_push(user, reinterpret_cast<char*>(OBJ_txt2obj(o, 1)));
  X509_POLICY_TREE* tree = nullptr;
  int explicit_policy = 0;
  ASSERT_EQ(1, X509_policy_check(&tree, &explicit_policy, c.sk, user, 0));  // caches built
  X509_policy_tree_free(tree);
  const morvane_test::AllocCounts before = morvane_test::GetAllocCounts();
  ASSERT_EQ(1, X509_policy_check(&tree, &explicit_policy, c.sk, user, 0));
  ASSERT_EQ(2, sk_num(X509_policy_tree_get0_user_policies(tree)));
  X509_policy_tree_free(tree);
  const morvane_test::AllocCounts after = morvane_test::GetAllocCounts();
  const long allocations = after.mallocs + after.reallocs - before.mallocs - before.reallocs;
  ASSERT_GT(allocations, 10);
  for (long n = 1; n <= allocations; n++) {
    morvane_test::FailAllocationAfter(n);
    const int r = X509_policy_check(&tree, &explicit_policy, c.sk, user, 0);
    morvane_test::FailAllocationAfter(0);
    EXPECT_TRUE(r == 0 || r == 1) << n << ": " << r;
    if (r == 0) {
      EXPECT_EQ(nullptr, tree) << n;
    }
    X509_policy_tree_free(tree);
    tree = nullptr;
    EXPECT_EQ(before.live_blocks, morvane_test::GetAllocCounts().live_blocks) << n;
  }
  ERR_clear_error();
  sk_pop_free(user, [](void* o) { ASN1_OBJECT_free(static_cast<ASN1_OBJECT*>(o)); });
}

// The tree stops growing at 10,000 nodes with its own result.
TEST(PolicyCheck, TreeSizeIsBounded) {
  NEEDS_METHODS();
  std::vector<std::string> names;
  for (int i = 0; i < 2000; i++) names.push_back("1.2.840.99." + std::to_string(i));
  std::vector<const char*> oids;
  for (const std::string& s : names) oids.push_back(s.c_str());
  const CertExt many = Policies(oids);
  Chain c;
  for (int i = 0; i < 9; i++)
    c.Add("C" + std::to_string(i), "C" + std::to_string(i + 1), {many});
  c.Add("C9", "C9", {});
  Check r(c, {kAny}, 0);
  EXPECT_EQ(X509_PCY_TREE_TOO_LARGE, r.result);
  EXPECT_EQ(nullptr, r.tree);
}

// Mappings of policies a certificate does not list, under its anyPolicy,
// make no node however many there are, even where its anyPolicy is
// inhibited (such nodes would go with the level's pruning).
TEST(PolicyCheck, UnlistedMappingsMakeNoNodes) {
  NEEDS_METHODS();
  std::vector<std::pair<std::string, std::string>> pairs;
  for (int i = 0; i < 10001; i++)
    pairs.push_back({"1.2.4." + std::to_string(i), "1.2.5." + std::to_string(i)});
  Chain c;
  c.Add("Leaf", "CA", {Policies({kAny}), Mappings(pairs)});
  c.Add("CA", "Root", {Policies({kP1, kAny}), InhibitAny(0)});
  c.Add("Root", "Root", {});
  Check r(c, {kP1}, 0);
  EXPECT_EQ(1, r.result);  // the leaf's anyPolicy inhibited: no valid policy, none required
  EXPECT_EQ(nullptr, r.tree);
}

// ---- the cache, data and node functions, through their exports ----------

struct Oids {
  ASN1_OBJECT* p1 = OBJ_txt2obj(kP1, 1);
  ASN1_OBJECT* p2 = OBJ_txt2obj(kP2, 1);
  ASN1_OBJECT* p3 = OBJ_txt2obj(kP3, 1);
  ASN1_OBJECT* any = OBJ_txt2obj(kAny, 1);
  ~Oids() {
    for (ASN1_OBJECT* o : {p1, p2, p3, any}) ASN1_OBJECT_free(o);
  }
};

TEST(PolicyParts, CacheIsBuiltOnceAndFindsItsPolicies) {
  NEEDS_METHODS();
  Oids o;
  Chain c;
  c.Add("CA", "Root", {Policies({kP2, kAny, kP1})});
  X509* x = c.at(0);
  const X509_POLICY_CACHE* cache = policy_cache_set(x);
  ASSERT_NE(nullptr, cache);
  EXPECT_EQ(cache, policy_cache_set(x));
  EXPECT_NE(nullptr, policy_cache_find_data(cache, o.p1));
  EXPECT_NE(nullptr, policy_cache_find_data(cache, o.p2));
  EXPECT_EQ(nullptr, policy_cache_find_data(cache, o.p3));
  EXPECT_EQ(nullptr, policy_cache_find_data(cache, o.any));  // held apart
  // A certificate without policies has a cache with no data.
  Chain plain;
  plain.Add("CA", "Root", {});
  const X509_POLICY_CACHE* empty = policy_cache_set(plain.at(0));
  ASSERT_NE(nullptr, empty);
  EXPECT_EQ(nullptr, policy_cache_find_data(empty, o.p1));
}

TEST(PolicyParts, DataFromAnIdentifierOrAPolicyInformation) {
  Oids o;
  EXPECT_EQ(nullptr, policy_data_new(nullptr, nullptr, 0));
  X509_POLICY_DATA* copied = policy_data_new(nullptr, o.p1, 1);
  ASSERT_NE(nullptr, copied);
  POLICYINFO* info = POLICYINFO_new();
  ASN1_OBJECT_free(info->policyid);
  info->policyid = OBJ_dup(o.p2);
  X509_POLICY_DATA* taken = policy_data_new(info, nullptr, 0);
  ASSERT_NE(nullptr, taken);
  EXPECT_EQ(nullptr, info->policyid);  // taken over
  POLICYINFO_free(info);
  // Nodes over the data: found by identifier in an ordered stack, each
  // pointing at its parent.
  X509_POLICY_NODE* parent = level_add_node(nullptr, copied, nullptr, nullptr);
  X509_POLICY_NODE* child = level_add_node(nullptr, taken, parent, nullptr);
  ASSERT_NE(nullptr, parent);
  ASSERT_NE(nullptr, child);
  EXPECT_EQ(parent, X509_policy_node_get0_parent(child));
  EXPECT_EQ(0, OBJ_cmp(o.p2, X509_policy_node_get0_policy(child)));
  STACK* nodes = policy_node_cmp_new();
  ASSERT_NE(nullptr, nodes);
  sk_push(nodes, reinterpret_cast<char*>(child));
  sk_push(nodes, reinterpret_cast<char*>(parent));
  EXPECT_EQ(parent, tree_find_sk(nodes, o.p1));
  sk_sort(nodes);
  EXPECT_EQ(parent, tree_find_sk(nodes, o.p1));
  EXPECT_EQ(child, tree_find_sk(nodes, o.p2));
  EXPECT_EQ(nullptr, tree_find_sk(nodes, o.p3));
  EXPECT_EQ(nullptr, tree_find_sk(nullptr, o.p1));
  sk_free(nodes);
  policy_node_free(child);
  policy_node_free(parent);
  policy_data_free(taken);
  policy_data_free(copied);
  policy_data_free(nullptr);
  policy_node_free(nullptr);
}

// A node added to a built tree's level is found there; the tree takes the
// data over (the leak check sees it freed with the tree).
TEST(PolicyParts, NodesOfATreeLevel) {
  NEEDS_METHODS();
  Oids o;
  Chain c;
  c.Add("Leaf", "CA", {Policies({kP1})});
  c.Add("CA", "Root", {Policies({kP1, kP2})});
  c.Add("Root", "Root", {});
  Check r(c, {kP1}, 0);
  ASSERT_EQ(1, r.result);
  ASSERT_NE(nullptr, r.tree);
  X509_POLICY_LEVEL* level = X509_policy_tree_get0_level(r.tree, 1);
  X509_POLICY_NODE* p1 = level_find_node(level, o.p1);
  ASSERT_NE(nullptr, p1);
  EXPECT_EQ(0, OBJ_cmp(o.p1, X509_policy_node_get0_policy(p1)));
  const int before = X509_policy_level_node_count(level);
  X509_POLICY_LEVEL* leaf_level = X509_policy_tree_get0_level(r.tree, 2);
  X509_POLICY_DATA* data = policy_data_new(nullptr, o.p3, 0);
  X509_POLICY_NODE* added = level_add_node(leaf_level, data, p1, r.tree);
  ASSERT_NE(nullptr, added);
  EXPECT_EQ(added, level_find_node(leaf_level, o.p3));
  EXPECT_EQ(p1, X509_policy_node_get0_parent(added));
  EXPECT_EQ(before, X509_policy_level_node_count(level));
  // A second anyPolicy node on one level is refused, the data not taken.
  X509_POLICY_DATA* any = policy_data_new(nullptr, o.any, 0);
  X509_POLICY_LEVEL* root_level = X509_policy_tree_get0_level(r.tree, 0);
  ASSERT_EQ("2.5.29.32.0", PolicyText(X509_policy_level_get0_node(root_level, 0)));
  EXPECT_EQ(nullptr, level_add_node(root_level, any, nullptr, r.tree));
  policy_data_free(any);
}

}  // namespace
