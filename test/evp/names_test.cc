// The algorithm name registry: the digest list with every alias, alias
// chains, per-type functions and cleanup.  Process-wide state: each test runs
// in its own process.

#include <gtest/gtest.h>
#include <morvane/evp.h>
#include <morvane/objects.h>

#include <strings.h>

#include <string>
#include <vector>

namespace {

TEST(NameRegistry, EveryDigestName) {
  Morvane_add_all_digests();
  const struct {
    const char* name;
    const EVP_MD* (*md)();
  } kNames[] = {
      {"MD4", EVP_md4},
      {"md4", EVP_md4},
      {"RSA-MD4", EVP_md4},
      {"md4WithRSAEncryption", EVP_md4},
      {"MD5", EVP_md5},
      {"md5", EVP_md5},
      {"RSA-MD5", EVP_md5},
      {"md5WithRSAEncryption", EVP_md5},
      {"ssl2-md5", EVP_md5},
      {"ssl3-md5", EVP_md5},
      {"SHA", EVP_sha},
      {"sha", EVP_sha},
      {"RSA-SHA", EVP_sha},
      {"shaWithRSAEncryption", EVP_sha},
      {"DSA-SHA", EVP_dss},
      {"dsaWithSHA", EVP_dss},
      {"SHA1", EVP_sha1},
      {"sha1", EVP_sha1},
      {"RSA-SHA1", EVP_sha1},
      {"sha1WithRSAEncryption", EVP_sha1},
      {"ssl3-sha1", EVP_sha1},
      {"RSA-SHA1-2", EVP_sha1},
      {"DSA", EVP_dss1},
      {"dsaEncryption", EVP_dss1},
      {"DSA-SHA1", EVP_dss1},
      {"dsaWithSHA1", EVP_dss1},
      {"DSA-SHA1-old", EVP_dss1},
      {"DSS1", EVP_dss1},
      {"dss1", EVP_dss1},
      {"ecdsa-with-SHA1", EVP_ecdsa},
      {"RIPEMD160", EVP_ripemd160},
      {"ripemd160", EVP_ripemd160},
      {"RSA-RIPEMD160", EVP_ripemd160},
      {"ripemd160WithRSA", EVP_ripemd160},
      {"ripemd", EVP_ripemd160},
      {"rmd160", EVP_ripemd160},
      {"SHA224", EVP_sha224},
      {"RSA-SHA224", EVP_sha224},
      {"sha224WithRSAEncryption", EVP_sha224},
      {"sha256", EVP_sha256},
      {"RSA-SHA256", EVP_sha256},
      {"sha384", EVP_sha384},
      {"sha384WithRSAEncryption", EVP_sha384},
      {"SHA512", EVP_sha512},
      {"RSA-SHA512", EVP_sha512},
  };
  for (const auto& c : kNames) EXPECT_EQ(c.md(), EVP_get_digestbyname(c.name)) << c.name;
  for (const char* absent : {"MD2", "md2", "RSA-MD2", "sha1 ", "SHA-1", ""})
    EXPECT_EQ(nullptr, EVP_get_digestbyname(absent)) << absent;
  EXPECT_EQ(nullptr, EVP_get_digestbyname(nullptr));
  EXPECT_STREQ("MD5", OBJ_NAME_get("ssl3-md5", OBJ_NAME_TYPE_MD_METH | OBJ_NAME_ALIAS));
  EXPECT_STREQ("RSA-SHA1", OBJ_NAME_get("RSA-SHA1-2", OBJ_NAME_TYPE_MD_METH | OBJ_NAME_ALIAS));
  EXPECT_EQ(nullptr, EVP_get_cipherbyname("SHA1"));  // types are apart
  EVP_cleanup();
  EXPECT_EQ(nullptr, EVP_get_digestbyname("SHA1"));
  EXPECT_EQ(5, OBJ_NAME_new_index(nullptr, nullptr, nullptr));
}

TEST(NameRegistry, EveryCipherNameAndAlias) {
  MORVANE_add_all_algorithms_noconf();
  const struct {
    const char* name;
    const EVP_CIPHER* (*c)();
  } kNames[] = {
      {"des3", EVP_des_ede3_cbc},     {"DES3", EVP_des_ede3_cbc},
      {"DES-EDE3-CBC", EVP_des_ede3_cbc}, {"aes128", EVP_aes_128_cbc},
      {"AES192", EVP_aes_192_cbc},    {"aes256", EVP_aes_256_cbc},
      {"DES-EDE", EVP_des_ede},       {"des-ede3", EVP_des_ede3},
      {"DES-CFB", EVP_des_cfb64},     {"des-cfb", EVP_des_cfb64},
      {"AES-128-CFB", EVP_aes_128_cfb128}, {"aes-128-cfb1", EVP_aes_128_cfb1},
      {"DESX", EVP_desx_cbc},         {"des", EVP_des_cbc},
      {"IDEA", EVP_idea_cbc},         {"rc2", EVP_rc2_cbc},
      {"RC2-40-CBC", EVP_rc2_40_cbc}, {"blowfish", EVP_bf_cbc},
      {"CAST-cbc", EVP_cast5_cbc},    {"cast", EVP_cast5_cbc},
      {"RC4-40", EVP_rc4_40},         {"AES-256-OFB", EVP_aes_256_ofb},
  };
  for (const auto& c : kNames) EXPECT_EQ(c.c(), EVP_get_cipherbyname(c.name)) << c.name;
  EXPECT_EQ(nullptr, EVP_get_cipherbyname("NULL"));  // the null cipher is not listed
  EXPECT_EQ(EVP_sha1(), EVP_get_digestbyname("SHA1"));
}

TEST(NameRegistry, AliasChainsUpToTen) {
  const int type = OBJ_NAME_new_index(nullptr, nullptr, nullptr);
  EXPECT_EQ(5, type);
  static const char kTarget[] = "target";
  ASSERT_EQ(1, OBJ_NAME_add("n0", type, kTarget));
  std::vector<std::string> names{"n0"};
  names.reserve(12);  // the registry keeps pointers to the names
  for (int i = 1; i <= 11; i++) {
    names.push_back("n" + std::to_string(i));
    ASSERT_EQ(1, OBJ_NAME_add(names[i].c_str(), type | OBJ_NAME_ALIAS, names[i - 1].c_str()));
  }
  EXPECT_EQ(kTarget, OBJ_NAME_get("n10", type));  // ten alias steps
  EXPECT_EQ(nullptr, OBJ_NAME_get("n11", type));  // eleven
  EXPECT_STREQ("n10", OBJ_NAME_get("n11", type | OBJ_NAME_ALIAS));
  EXPECT_EQ(nullptr, OBJ_NAME_get("n0", type + 1));
  EXPECT_EQ(0, OBJ_NAME_remove("never", type));
  EXPECT_EQ(1, OBJ_NAME_remove("n5", type | OBJ_NAME_ALIAS));
  EXPECT_EQ(nullptr, OBJ_NAME_get("n6", type));  // the chain is broken
  OBJ_NAME_cleanup(-1);
}

std::vector<std::string> g_freed;
void RecordFree(const char* name, int, const char* data) {
  g_freed.push_back(std::string(name) + "=" + data);
}
int CaseBlindCmp(const char* a, const char* b) {
  return strcasecmp(a, b);
}
unsigned long CaseBlindHash(const char* s) {
  unsigned long h = 0;
  for (; *s; s++) h = h * 31 + static_cast<unsigned char>(*s | 0x20);
  return h;
}
void Collect(const OBJ_NAME* n, void* arg) {
  static_cast<std::vector<std::string>*>(arg)->push_back(n->name);
}

TEST(NameRegistry, TypeFunctionsAndSortedWalk) {
  const int type = OBJ_NAME_new_index(CaseBlindHash, CaseBlindCmp, RecordFree);
  ASSERT_NE(0, type);
  for (const char* n : {"delta", "alpha", "Charlie", "bravo"}) OBJ_NAME_add(n, type, "v1");
  OBJ_NAME_add("ALPHA", type, "v2");  // replaces "alpha" under this type's compare
  EXPECT_STREQ("v2", OBJ_NAME_get("Alpha", type));
  EXPECT_EQ(std::vector<std::string>{"alpha=v1"}, g_freed);
  OBJ_NAME_add("other", OBJ_NAME_TYPE_CIPHER_METH, "x");
  std::vector<std::string> seen;
  OBJ_NAME_do_all_sorted(type, Collect, &seen);
  EXPECT_EQ((std::vector<std::string>{"ALPHA", "Charlie", "bravo", "delta"}), seen);
  g_freed.clear();
  OBJ_NAME_cleanup(type);
  EXPECT_EQ(4u, g_freed.size());
  EXPECT_EQ(reinterpret_cast<const EVP_CIPHER*>("x"), EVP_get_cipherbyname("other"));
  EVP_cleanup();
  EXPECT_EQ(nullptr, EVP_get_cipherbyname("other"));
}

}  // namespace
