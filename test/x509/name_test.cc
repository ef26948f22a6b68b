// Name entries (adding and deleting with their RDN numbers, reading text,
// building entries), the ordering of names, the name hash, and the
// certificate's public key with the private-key match test.

#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/dsa.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/objects.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include "der_util.h"
#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

constexpr int kNidCommonName = 13;
constexpr int kNidEmailAddress = 48;
// What OBJ_txt2obj queues for a text that is neither a name nor a number.
const morvane_test::ErrEntry kUnknownObject = {ERR_LIB_ASN1, ASN1_F_A2D_ASN1_OBJECT,
                                               ASN1_R_FIRST_NUM_TOO_LARGE};

const unsigned char* U(const char* s) {
  return reinterpret_cast<const unsigned char*>(s);
}

// A name of CN entries a, b, c, ... whose RDN numbers are `sets`.
X509_NAME* NameWithSets(const std::vector<int>& sets) {
  X509_NAME* name = X509_NAME_new();
  for (size_t i = 0; i < sets.size(); i++) {
    const char value[2] = {static_cast<char>('a' + i), 0};
    EXPECT_EQ(1, X509_NAME_add_entry_by_NID(name, kNidCommonName, ASN1_UT_UTF8STRING, U(value), -1,
                                            -1, 0));
    X509_NAME_get_entry(name, static_cast<int>(i))->set = sets[i];
  }
  return name;
}

std::vector<int> Sets(X509_NAME* name) {
  std::vector<int> out;
  for (int i = 0; i < X509_NAME_entry_count(name); i++)
    out.push_back(X509_NAME_get_entry(name, i)->set);
  return out;
}

std::string Values(X509_NAME* name) {
  std::string out;
  for (int i = 0; i < X509_NAME_entry_count(name); i++) {
    const ASN1_STRING* v = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, i));
    out.append(reinterpret_cast<const char*>(v->data), static_cast<size_t>(v->length));
  }
  return out;
}

TEST(X509NameEntries, DeleteRenumbers) {
  const struct {
    std::vector<int> sets;
    int loc;
    std::vector<int> want;
  } cases[] = {
      {{0, 1, 2}, 1, {0, 1}},                          // the only member of its RDN: the gap closes
      {{0, 0, 1}, 1, {0, 1}},                          // its RDN keeps a member: nothing moves
      {{0, 1, 2}, 0, {0, 1}}, {{0, 1, 2}, 2, {0, 1}},  // the last entry
      {{0, 0, 1}, 0, {0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.loc);
    X509_NAME* name = NameWithSets(c.sets);
    name->modified = 0;
    X509_NAME_ENTRY* gone = X509_NAME_delete_entry(name, c.loc);
    ASSERT_NE(nullptr, gone);
    EXPECT_EQ(c.want, Sets(name));
    EXPECT_EQ(1, name->modified);
    X509_NAME_ENTRY_free(gone);
    X509_NAME_free(name);
  }
  X509_NAME* name = NameWithSets({0});
  EXPECT_EQ(nullptr, X509_NAME_delete_entry(name, 1));
  EXPECT_EQ(nullptr, X509_NAME_delete_entry(name, -1));
  EXPECT_EQ(nullptr, X509_NAME_delete_entry(nullptr, 0));
  X509_NAME_free(name);
}

TEST(X509NameEntries, AddChoosesTheRdn) {
  const struct {
    std::vector<int> sets;
    int loc, set;
    std::vector<int> want;
    const char* values;  // the new entry is "n"
  } cases[] = {
      {{0, 1}, -1, 0, {0, 1, 2}, "abn"},   // appended: a new last RDN
      {{0, 1}, 0, 0, {0, 1, 2}, "nab"},    // a new first RDN: the rest shift
      {{0, 1}, -1, -1, {0, 1, 1}, "abn"},  // joins the last RDN
      {{0, 1}, 9, 5, {0, 1, 2}, "abn"},    // past the end: appended
      {{0, 1}, 1, 0, {0, 1, 1}, "anb"},    // joins the RDN now at loc
      {{0, 1}, 1, -1, {0, 0, 1}, "anb"},   // joins the RDN before loc
      {{0, 1}, 0, -1, {0, 1, 2}, "nab"},  {{}, -1, 0, {0}, "n"}, {{}, 0, -1, {0}, "n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.loc) + "/" + std::to_string(c.set));
    X509_NAME* name = NameWithSets(c.sets);
    X509_NAME_ENTRY* ne =
        X509_NAME_ENTRY_create_by_NID(nullptr, kNidCommonName, ASN1_UT_UTF8STRING, U("n"), 1);
    ASSERT_NE(nullptr, ne);
    name->modified = 0;
    ASSERT_EQ(1, X509_NAME_add_entry(name, ne, c.loc, c.set));
    EXPECT_EQ(c.want, Sets(name));
    EXPECT_EQ(c.values, Values(name));
    EXPECT_EQ(1, name->modified);
    X509_NAME_ENTRY_free(ne);
    X509_NAME_free(name);
  }
  EXPECT_EQ(0, X509_NAME_add_entry(nullptr, nullptr, 0, 0));
}

// A multi-valued RDN made by the add calls encodes as one SET.
TEST(X509NameEntries, MultiValuedRdnEncodes) {
  X509_NAME* name = X509_NAME_new();
  ASSERT_EQ(1, X509_NAME_add_entry_by_txt(name, "O", ASN1_UT_UTF8STRING, U("o"), 1, -1, 0));
  ASSERT_EQ(1, X509_NAME_add_entry_by_txt(name, "CN", ASN1_UT_UTF8STRING, U("c"), 1, -1, -1));
  // X.690, 11.6: the members of a SET OF in the order of their encodings.
  EXPECT_EQ(FromHex("30163114"
                    "300806035504030c0163"
                    "3008060355040a0c016f"),
            x509_test::Encode(i2d_X509_NAME, name));
  X509_NAME_free(name);
}

TEST(X509NameEntries, Search) {
  X509_NAME* name = X509_NAME_new();
  for (const char* f : {"CN", "O", "CN"})
    ASSERT_EQ(1, X509_NAME_add_entry_by_txt(name, f, ASN1_UT_UTF8STRING, U("x"), -1, -1, 0));
  const struct {
    int lastpos, want;
  } cases[] = {{-1, 0}, {0, 2}, {2, -1}, {-7, 0}, {1, 2}, {3, -1}, {0x7fffffff, -1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.lastpos);
    EXPECT_EQ(c.want, X509_NAME_get_index_by_NID(name, kNidCommonName, c.lastpos));
  }
  EXPECT_EQ(-2, X509_NAME_get_index_by_NID(name, 100000, -1));
  EXPECT_EQ(-1, X509_NAME_get_index_by_NID(nullptr, kNidCommonName, -1));
  EXPECT_EQ(-1, X509_NAME_get_index_by_NID(name, kNidEmailAddress, -1));
  EXPECT_EQ(0, X509_NAME_entry_count(nullptr));
  EXPECT_EQ(nullptr, X509_NAME_get_entry(name, 3));
  EXPECT_EQ(nullptr, X509_NAME_get_entry(nullptr, 0));
  X509_NAME_free(name);
}

TEST(X509NameEntries, TextByNid) {
  X509_NAME* name = X509_NAME_new();
  ASSERT_EQ(1, X509_NAME_add_entry_by_NID(name, kNidCommonName, ASN1_UT_PRINTABLESTRING,
                                          U("abcdefg"), -1, -1, 0));
  char buf[16];
  memset(buf, '#', sizeof buf);
  EXPECT_EQ(4, X509_NAME_get_text_by_NID(name, kNidCommonName, buf, 5));
  EXPECT_STREQ("abcd", buf);
  EXPECT_EQ(7, X509_NAME_get_text_by_NID(name, kNidCommonName, nullptr, 0));
  EXPECT_EQ(7, X509_NAME_get_text_by_NID(name, kNidCommonName, buf, 16));
  EXPECT_STREQ("abcdefg", buf);
  EXPECT_EQ(0, X509_NAME_get_text_by_NID(name, kNidCommonName, buf, 1));
  EXPECT_STREQ("", buf);
  EXPECT_EQ(-1, X509_NAME_get_text_by_NID(name, kNidEmailAddress, buf, 16));
  EXPECT_EQ(-1, X509_NAME_get_text_by_NID(name, 100000, buf, 16));
  X509_NAME_free(name);
}

// An empty value without bytes (as a decoder may leave it) reads as "".
TEST(X509NameEntries, TextOfEmptyValue) {
  X509_NAME* name = X509_NAME_new();
  ASSERT_EQ(1, X509_NAME_add_entry_by_NID(name, kNidCommonName, ASN1_UT_UTF8STRING, U("a"), 1,
                                          -1, 0));
  X509_NAME_ENTRY* ne = X509_NAME_get_entry(name, 0);
  ASN1_STRING_free(ne->value);
  ne->value = ASN1_STRING_type_new(ASN1_UT_UTF8STRING);
  char buf[4] = "xyz";
  EXPECT_EQ(0, X509_NAME_get_text_by_NID(name, kNidCommonName, buf, 4));
  EXPECT_STREQ("", buf);
  X509_NAME_free(name);
}

// A buffer without room for the terminating zero is refused: nothing is
// written before or into it.
TEST(X509NameEntries, TextIntoNoRoomWritesNothing) {
  X509_NAME* name = X509_NAME_new();
  ASSERT_EQ(1, X509_NAME_add_entry_by_NID(name, kNidCommonName, ASN1_UT_PRINTABLESTRING,
                                          U("abcdefg"), -1, -1, 0));
  for (int len : {0, -1, -100}) {
    SCOPED_TRACE(len);
    char area[16];
    memset(area, '#', sizeof area);
    EXPECT_EQ(-1, X509_NAME_get_text_by_NID(name, kNidCommonName, area + 8, len));
    EXPECT_EQ(std::string(16, '#'), std::string(area, 16));
  }
  X509_NAME_free(name);
}

TEST(X509NameEntries, SetData) {
  X509_NAME_ENTRY* ne = X509_NAME_ENTRY_new();
  ASSERT_EQ(1, X509_NAME_ENTRY_set_object(ne, OBJ_nid2obj(kNidCommonName)));
  const struct {
    int type;
    const char* bytes;
    int len;
    int want_type;
    const char* want;
  } cases[] = {
      {ASN1_UT_IA5STRING, "abc", -1, ASN1_UT_IA5STRING, "abc"},
      {-1, "xy", 2, ASN1_UT_IA5STRING, "xy"},             // keeps the type
      {-2, "ab c", -1, ASN1_UT_PRINTABLESTRING, "ab c"},  // typed from the text
      {-2, "a@b", -1, ASN1_UT_IA5STRING, "a@b"},
      {ASN1_MB_ASCII, "Hi", 2, ASN1_UT_PRINTABLESTRING, "Hi"},  // the CN rule picks
      {ASN1_UT_UTF8STRING, "abcdef", 3, ASN1_UT_UTF8STRING, "abc"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    ASSERT_EQ(1, X509_NAME_ENTRY_set_data(ne, c.type, U(c.bytes), c.len));
    const ASN1_STRING* v = X509_NAME_ENTRY_get_data(ne);
    EXPECT_EQ(c.want_type, v->type);
    EXPECT_EQ(c.want,
              std::string(reinterpret_cast<const char*>(v->data), static_cast<size_t>(v->length)));
  }
  EXPECT_EQ(0, X509_NAME_ENTRY_set_data(ne, ASN1_UT_UTF8STRING, nullptr, 1));
  EXPECT_EQ(1, X509_NAME_ENTRY_set_data(ne, ASN1_UT_UTF8STRING, nullptr, 0));
  EXPECT_EQ(0, X509_NAME_ENTRY_set_data(nullptr, ASN1_UT_UTF8STRING, U("a"), 1));
  EXPECT_EQ(0, X509_NAME_ENTRY_set_object(ne, nullptr));
  EXPECT_EQ(0, X509_NAME_ENTRY_set_object(nullptr, OBJ_nid2obj(kNidCommonName)));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_NAME_ENTRY_SET_OBJECT, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_X509, X509_F_X509_NAME_ENTRY_SET_OBJECT, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(nullptr, X509_NAME_ENTRY_get_object(nullptr));
  EXPECT_EQ(nullptr, X509_NAME_ENTRY_get_data(nullptr));
  X509_NAME_ENTRY_free(ne);
}

TEST(X509NameEntries, Create) {
  // Into the caller's entry: filled, returned and kept on failure.
  X509_NAME_ENTRY* mine = X509_NAME_ENTRY_new();
  X509_NAME_ENTRY* ne = mine;
  EXPECT_EQ(mine, X509_NAME_ENTRY_create_by_txt(&ne, "2.5.4.3", ASN1_UT_UTF8STRING, U("a"), 1));
  EXPECT_EQ(kNidCommonName, OBJ_obj2nid(X509_NAME_ENTRY_get_object(mine)));
  EXPECT_EQ(nullptr,
            X509_NAME_ENTRY_create_by_txt(&ne, "notAField", ASN1_UT_UTF8STRING, U("a"), 1));
  EXPECT_EQ(mine, ne);
  EXPECT_ERRORS({kUnknownObject,
                 {ERR_LIB_X509, X509_F_X509_NAME_ENTRY_CREATE_BY_TXT, X509_R_INVALID_FIELD_NAME,
                  "name=notAField"}});
  X509_NAME_ENTRY_free(mine);
  // A new entry is stored through a pointer to null.
  ne = nullptr;
  X509_NAME_ENTRY* made =
      X509_NAME_ENTRY_create_by_NID(&ne, kNidEmailAddress, ASN1_UT_IA5STRING, U("a@b"), -1);
  ASSERT_NE(nullptr, made);
  EXPECT_EQ(made, ne);
  X509_NAME_ENTRY_free(made);
  EXPECT_EQ(nullptr, X509_NAME_ENTRY_create_by_NID(nullptr, 100000, ASN1_UT_IA5STRING, U("a"), 1));
  EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_NAME_ENTRY_CREATE_BY_NID, X509_R_UNKNOWN_NID}});
  // A failed add by text leaves the name unchanged.
  X509_NAME* name = X509_NAME_new();
  EXPECT_EQ(0, X509_NAME_add_entry_by_txt(name, "nope", ASN1_UT_UTF8STRING, U("a"), 1, -1, 0));
  EXPECT_EQ(0, X509_NAME_entry_count(name));
  EXPECT_ERRORS({kUnknownObject,
                 {ERR_LIB_X509, X509_F_X509_NAME_ENTRY_CREATE_BY_TXT, X509_R_INVALID_FIELD_NAME,
                  "name=nope"}});
  X509_NAME_free(name);
}

// ---- ordering ---------------------------------------------------------------

X509_NAME* OneEntry(int nid, int type, const char* value) {
  X509_NAME* name = X509_NAME_new();
  EXPECT_EQ(1, X509_NAME_add_entry_by_NID(name, nid, type, U(value), -1, -1, 0));
  return name;
}

TEST(X509NameCmp, Values) {
  constexpr int P = ASN1_UT_PRINTABLESTRING, U8 = ASN1_UT_UTF8STRING, IA5 = ASN1_UT_IA5STRING,
                T61 = ASN1_UT_T61STRING, BMP = ASN1_UT_BMPSTRING;
  const struct {
    int nid, ta;
    const char* a;
    int tb;
    const char* b;
    bool equal;
  } cases[] = {
      {kNidCommonName, P, "  Foo   Bar ", P, "foo bar", true},
      {kNidCommonName, P, "foobar", P, "foo bar", false},
      {kNidCommonName, P, "Foo\t\nBar", P, "FOO BAR", true},
      {kNidCommonName, P, "foo  bar", P, "foo bar ", true},
      {kNidCommonName, P, "foo bar", P, "foo bar x", false},
      {kNidCommonName, U8, "abc", P, "abc", true},
      {kNidCommonName, T61, "abc", U8, "abc", true},
      {kNidCommonName, U8, "abc", P, "ABC", false},  // only equal bytes cross types
      {kNidCommonName, U8, "abc", IA5, "abc", false},
      {kNidCommonName, BMP, "ab", P, "ab", false},
      {kNidCommonName, U8, "Abc", U8, "abc", false},  // UTF8String: byte for byte
      {kNidCommonName, IA5, "Abc", IA5, "abc", false},
      {kNidEmailAddress, IA5, "A@B.c", IA5, "a@b.C", true},
      {kNidEmailAddress, IA5, "a@b", IA5, "a@bc", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " / " + c.b);
    X509_NAME* a = OneEntry(c.nid, c.ta, c.a);
    X509_NAME* b = OneEntry(c.nid, c.tb, c.b);
    EXPECT_EQ(c.equal, X509_NAME_cmp(a, b) == 0);
    EXPECT_EQ(c.equal, X509_NAME_cmp(b, a) == 0);
    X509_NAME_free(a);
    X509_NAME_free(b);
  }
}

TEST(X509NameCmp, Structure) {
  X509_NAME* a = NameWithSets({0, 1});
  X509_NAME* b = NameWithSets({0, 1, 2});
  EXPECT_LT(X509_NAME_cmp(a, b), 0);  // fewer entries first
  EXPECT_GT(X509_NAME_cmp(b, a), 0);
  X509_NAME* c = NameWithSets({0, 0});  // same values, one RDN
  EXPECT_NE(0, X509_NAME_cmp(a, c));
  X509_NAME* d = NameWithSets({0, 1});
  EXPECT_EQ(0, X509_NAME_cmp(a, d));
  ASN1_OBJECT_free(X509_NAME_get_entry(d, 0)->object);
  X509_NAME_get_entry(d, 0)->object = OBJ_nid2obj(3);  // another type, same value
  EXPECT_NE(0, X509_NAME_cmp(a, d));
  X509_NAME* empty = X509_NAME_new();
  EXPECT_EQ(0, X509_NAME_cmp(empty, nullptr));
  EXPECT_EQ(0, X509_NAME_cmp(empty, empty));
  for (X509_NAME* n : {a, b, c, d, empty}) X509_NAME_free(n);
}

// ---- hash -------------------------------------------------------------------

TEST(X509NameHash, EmptyNameAndRefresh) {
  X509_NAME* name = x509_test::Decode(d2i_X509_NAME, FromHex("3000"));
  ASSERT_NE(nullptr, name);
  EXPECT_EQ(0x543b6ca4UL, X509_NAME_hash(name));
  // A change makes the cached encoding stale; the hash refreshes it.
  X509_NAME* fresh = X509_NAME_new();
  ASSERT_EQ(1, X509_NAME_add_entry_by_txt(name, "CN", ASN1_UT_UTF8STRING, U("x"), 1, -1, 0));
  ASSERT_EQ(1, X509_NAME_add_entry_by_txt(fresh, "CN", ASN1_UT_UTF8STRING, U("x"), 1, -1, 0));
  const unsigned long h = X509_NAME_hash(name);
  EXPECT_EQ(0, name->modified);
  EXPECT_NE(0x543b6ca4UL, h);
  EXPECT_EQ(h, X509_NAME_hash(fresh));
  EXPECT_EQ(0UL, X509_NAME_hash(nullptr));
  X509_NAME_free(fresh);
  X509_NAME_free(name);
}

// ---- public key and private-key match --------------------------------------

// A certificate whose public key is `key` (one reference taken).
X509* CertWithKey(EVP_PKEY* key) {
  X509* x = X509_new();
  CRYPTO_add(&key->references, 1, CRYPTO_LOCK_EVP_PKEY);
  EVP_PKEY_free(x->cert_info->key->pkey);
  x->cert_info->key->pkey = key;
  return x;
}

// A DSA key over the toy group p 23, q 11, g 4 with public value y; null
// while DSA keys are not built.
EVP_PKEY* DsaKey(unsigned long y) {
  DSA* dsa = DSA_new();
  if (dsa == nullptr) {
    ERR_clear_error();
    return nullptr;
  }
  BIGNUM** fields[] = {&dsa->p, &dsa->q, &dsa->g, &dsa->pub_key};
  const unsigned long values[] = {23, 11, 4, y};
  for (int i = 0; i < 4; i++) {
    *fields[i] = BN_new();
    BN_set_word(*fields[i], values[i]);
  }
  EVP_PKEY* key = EVP_PKEY_new();
  EVP_PKEY_assign_DSA(key, dsa);
  return key;
}

TEST(X509CheckPrivateKey, Reasons) {
  EVP_PKEY* dsa = DsaKey(8);
  if (dsa == nullptr) GTEST_SKIP() << "DSA keys are not built yet";
  EVP_PKEY* other_dsa = DsaKey(9);
  EVP_PKEY* dh = EVP_PKEY_new();  // of type DH, without a key: cannot be compared
  EVP_PKEY_assign(dh, EVP_PKEY_DH, nullptr);
  EVP_PKEY* none = EVP_PKEY_new();
  const struct {
    EVP_PKEY* cert_key;
    EVP_PKEY* k;
    int reason;  // 0: a match
  } cases[] = {
      {dsa, dsa, 0},
      {dsa, other_dsa, X509_R_KEY_VALUES_MISMATCH},
      {dsa, none, X509_R_KEY_TYPE_MISMATCH},
      {dh, dh, X509_R_CANT_CHECK_DH_KEY},
      {none, none, X509_R_UNKNOWN_KEY_TYPE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reason);
    X509* x = CertWithKey(c.cert_key);
    EXPECT_EQ(c.reason == 0 ? 1 : 0, X509_check_private_key(x, c.k));
    if (c.reason == 0) {
      EXPECT_ERRORS({});
    } else {
      EXPECT_ERRORS({{ERR_LIB_X509, X509_F_X509_CHECK_PRIVATE_KEY, c.reason}});
    }
    X509_free(x);
  }
  for (EVP_PKEY* k : {dsa, other_dsa, dh, none}) EVP_PKEY_free(k);
}

TEST(X509CheckPrivateKey, CertificateWithoutKey) {
  X509* x = X509_new();
  EVP_PKEY* dsa = EVP_PKEY_new();
  EXPECT_EQ(0, X509_check_private_key(x, dsa));
  // The decoder's reasons come first; the last one is ours.
  const unsigned long last = ERR_peek_last_error();
  EXPECT_EQ(ERR_LIB_X509, ERR_GET_LIB(last));
  EXPECT_EQ(X509_F_X509_CHECK_PRIVATE_KEY, ERR_GET_FUNC(last));
  EXPECT_EQ(X509_R_UNABLE_TO_GET_CERTS_PUBLIC_KEY, ERR_GET_REASON(last));
  ERR_clear_error();
  EXPECT_EQ(nullptr, X509_get_pubkey(nullptr));
  EXPECT_EQ(nullptr, X509_get0_pubkey_bitstr(nullptr));
  EXPECT_EQ(x->cert_info->key->public_key, X509_get0_pubkey_bitstr(x));
  EVP_PKEY_free(dsa);
  X509_free(x);
}

}  // namespace
