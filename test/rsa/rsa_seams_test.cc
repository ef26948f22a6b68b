// What the public-key, certificate and container code relies on of the
// runtime core, the algorithm framework and the big numbers, one pinned line
// per operation, so that a change below cannot silently break what is built
// on it.  Operations not built yet are not listed.

#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/objects.h>
#include <morvane/rsa.h>
#include <morvane/rand.h>
#include <morvane/stack.h>
#include <morvane/x509.h>

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "rsa_test_util.h"
#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;
using morvane_test::LockEvent;
using rsa_test::Hex;

std::string Dec(const BIGNUM* a) {
  char* s = BN_bn2dec(a);
  std::string r = s;
  CRYPTO_free(s);
  return r;
}

// ---- runtime core ------------------------------------------------------------

TEST(Seams, MemoryAndBuffers) {
  EXPECT_EQ(CRYPTO_malloc(0, "f", 1), nullptr);
  void* p = CRYPTO_realloc(nullptr, 8, "f", 1);  // acts as malloc
  ASSERT_NE(p, nullptr);
  MORVANE_cleanse(p, 8);
  CRYPTO_free(p);
  CRYPTO_free(nullptr);
  void* locked = CRYPTO_malloc_locked(16, "f", 1);
  ASSERT_NE(locked, nullptr);
  CRYPTO_free_locked(locked);
  char* s = BUF_strdup("abc");
  EXPECT_STREQ(s, "abc");
  CRYPTO_free(s);
  EXPECT_EQ(BUF_strdup(nullptr), nullptr);
  s = BUF_strndup("abcdef", 2);
  EXPECT_STREQ(s, "ab");
  CRYPTO_free(s);
  s = static_cast<char*>(BUF_memdup("a\0b", 3));
  EXPECT_EQ(std::memcmp(s, "a\0b", 3), 0);
  CRYPTO_free(s);
  char dst[4];
  EXPECT_EQ(BUF_strlcpy(dst, "abcdef", sizeof dst), 6u);  // the length it tried to make
  EXPECT_STREQ(dst, "abc");
  EXPECT_EQ(BUF_strlcat(dst, "xy", sizeof dst), 5u);
  EXPECT_STREQ(dst, "abc");
  BUF_MEM* b = BUF_MEM_new();
  EXPECT_EQ(BUF_MEM_grow(b, 5), 5u);
  EXPECT_EQ(b->length, 5u);
  EXPECT_EQ(BUF_MEM_grow_clean(b, 2), 2u);
  BUF_MEM_free(b);
}

TEST(Seams, LocksAndThreadIds) {
  EXPECT_EQ(CRYPTO_thread_id(), static_cast<unsigned long>(getpid()));
  morvane_test::InstallLockingCallback();
  int count = 1;
  morvane_test::StartRecordingLocks();
  CRYPTO_lock(CRYPTO_LOCK | CRYPTO_READ, CRYPTO_LOCK_RSA_BLINDING, "f", 1);
  CRYPTO_lock(CRYPTO_UNLOCK | CRYPTO_READ, CRYPTO_LOCK_RSA_BLINDING, "f", 1);
  EXPECT_EQ(CRYPTO_add_lock(&count, 2, CRYPTO_LOCK_RSA, "f", 1), 3);
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{{5, 25}, {6, 25}, {9, 9}, {10, 9}}));
}

// The extra-data classes the public-key and certificate code use.
int news = 0;
int CountNew(void*, void*, CRYPTO_EX_DATA*, int, long, void*) {
  return ++news;
}

TEST(Seams, ExtraDataClasses) {
  for (int cls : {CRYPTO_EX_INDEX_X509_STORE, CRYPTO_EX_INDEX_X509_STORE_CTX, CRYPTO_EX_INDEX_RSA,
                  CRYPTO_EX_INDEX_DSA, CRYPTO_EX_INDEX_DH, CRYPTO_EX_INDEX_ECDSA,
                  CRYPTO_EX_INDEX_ECDH, CRYPTO_EX_INDEX_STORE}) {
    const int idx = CRYPTO_get_ex_new_index(cls, 0, nullptr, CountNew, nullptr, nullptr);
    ASSERT_GE(idx, 0) << cls;
    CRYPTO_EX_DATA ad;
    const int before = news;
    ASSERT_EQ(CRYPTO_new_ex_data(cls, nullptr, &ad), 1);
    EXPECT_EQ(news, before + 1) << cls;
    EXPECT_EQ(CRYPTO_get_ex_data(&ad, idx), nullptr);
    EXPECT_EQ(CRYPTO_set_ex_data(&ad, idx + 3, &ad), 1);  // grows the slot list
    EXPECT_EQ(CRYPTO_get_ex_data(&ad, idx + 3), &ad);
    CRYPTO_free_ex_data(cls, nullptr, &ad);
  }
}

TEST(Seams, ErrorQueue) {
  ERR_put_error(ERR_LIB_RSA, 1, 100, "a.c", 1);
  ERR_put_error(ERR_LIB_RSA, 2, 101, "b.c", 2);
  ERR_add_error_data(3, "x", nullptr, "y");
  EXPECT_EQ(ERR_peek_error(), ERR_PACK(ERR_LIB_RSA, 1, 100));
  EXPECT_EQ(ERR_peek_last_error(), ERR_PACK(ERR_LIB_RSA, 2, 101));
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_RSA, 1, 100}, {ERR_LIB_RSA, 2, 101, "xy"}}));
  EXPECT_EQ(ERR_peek_error(), 0u);
  ERR_put_error(ERR_LIB_RSA, 1, 100, "a.c", 1);
  ERR_clear_error();
  EXPECT_EQ(ERR_peek_last_error(), 0u);
  static ERR_STRING_DATA table[] = {{ERR_PACK(ERR_LIB_USER, 7, 0), "seven"}, {0, nullptr}};
  ERR_load_strings(0, table);
  EXPECT_STREQ(ERR_func_error_string(ERR_PACK(ERR_LIB_USER, 7, 1)), "seven");
}

int CmpText(const char* const* a, const char* const* b) {
  return std::strcmp(*a, *b);
}

TEST(Seams, Stacks) {
  char a1[] = "a", a2[] = "a", b[] = "b", c[] = "c";
  STACK* sk = sk_new(reinterpret_cast<sk_cmp_fn>(CmpText));
  EXPECT_EQ(sk_push(sk, b), 1);
  EXPECT_EQ(sk_push(sk, a2), 2);
  EXPECT_EQ(sk_insert(sk, a1, 99), 3);  // beyond the end: appended
  EXPECT_EQ(sk_is_sorted(sk), 0);
  EXPECT_EQ(sk_find(sk, c), -1);
  EXPECT_EQ(sk_find(sk, a1), 0);  // sorted first: the first of the two "a"
  EXPECT_EQ(sk_is_sorted(sk), 1);
  EXPECT_EQ(sk_value(sk, 2), b);
  EXPECT_EQ(sk_find_ex(sk, c), 2);  // the slot compared last, next to where it would go
  STACK* copy = sk_dup(sk);
  EXPECT_EQ(sk_num(copy), 3);
  EXPECT_EQ(sk_set(copy, 0, c), c);
  EXPECT_EQ(sk_delete(copy, 0), c);
  EXPECT_EQ(sk_delete_ptr(copy, b), b);
  EXPECT_EQ(sk_pop(copy), sk_value(sk, 1));
  EXPECT_EQ(sk_num(copy), 0);
  sk_free(copy);
  sk_sort(sk);
  STACK* plain = sk_new_null();
  sk_push(plain, a1);
  EXPECT_EQ(sk_find(plain, a2), -1);  // identical pointers only
  EXPECT_EQ(sk_find(plain, a1), 0);
  sk_free(plain);
  sk_free(sk);
  EXPECT_EQ(sk_num(nullptr), -1);
  EXPECT_EQ(sk_value(nullptr, 0), nullptr);
  STACK* owned = sk_new_null();
  sk_push(owned, BUF_strdup("x"));
  sk_push(owned, nullptr);
  sk_pop_free(owned, CRYPTO_free);
}

TEST(Seams, Streams) {
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(BIO_method_type(mem), BIO_TYPE_MEM);
  EXPECT_EQ(BIO_puts(mem, "abcdef\n"), 7);
  EXPECT_EQ(BIO_printf(mem, "%d", 42), 2);
  char line[8];
  EXPECT_EQ(BIO_gets(mem, line, 4), 3);  // size - 1 bytes at most
  EXPECT_STREQ(line, "abc");
  char rest[16];
  EXPECT_EQ(BIO_read(mem, rest, sizeof rest), 6);
  EXPECT_EQ(BIO_read(mem, rest, sizeof rest), -1);  // empty: retry
  EXPECT_NE(BIO_test_flags(mem, BIO_FLAGS_SHOULD_RETRY), 0);
  EXPECT_EQ(BIO_ctrl(mem, BIO_C_SET_BUF_MEM_EOF_RETURN, 0, nullptr), 1);
  EXPECT_EQ(BIO_read(mem, rest, sizeof rest), 0);  // now end of data
  BIO_write(mem, "xyz", 3);
  char* data = nullptr;
  EXPECT_EQ(BIO_ctrl(mem, 3, 0, &data), 3);
  EXPECT_EQ(std::string(data, 3), "xyz");
  EXPECT_EQ(BIO_ctrl(mem, 1, 0, nullptr), 1);  // reset empties it
  EXPECT_EQ(BIO_ctrl(mem, 3, 0, &data), 0);
  // The chain: buffer filter over the memory stream, found by type.
  BIO* buf = BIO_new(BIO_f_buffer());
  EXPECT_EQ(BIO_push(buf, mem), buf);
  EXPECT_EQ(BIO_next(buf), mem);
  EXPECT_EQ(BIO_find_type(buf, BIO_TYPE_MEM), mem);
  EXPECT_EQ(BIO_find_type(buf, BIO_TYPE_SOURCE_SINK), mem);  // low byte 0: any shared bit
  EXPECT_EQ(BIO_find_type(buf, BIO_TYPE_FILTER), buf);
  EXPECT_EQ(BIO_find_type(buf, BIO_TYPE_NULL), nullptr);
  EXPECT_EQ(BIO_write(buf, "12", 2), 2);
  EXPECT_EQ(BIO_ctrl(buf, 11, 0, nullptr), 1);  // flush through the chain
  EXPECT_EQ(BIO_ctrl(mem, 3, 0, &data), 2);
  EXPECT_EQ(BIO_pop(buf), mem);
  EXPECT_EQ(BIO_next(buf), nullptr);
  BIO_free(buf);
  EXPECT_EQ(BIO_dump_indent(mem, "0123456789abcdefX", 17, 2) > 0, true);
  BIO_free_all(mem);
  // A read-only memory stream over the caller's bytes.
  char bytes[] = "ro";
  BIO* ro = BIO_new_mem_buf(bytes, -1);
  EXPECT_NE(BIO_test_flags(ro, BIO_FLAGS_MEM_RDONLY), 0);
  EXPECT_LE(BIO_write(ro, "x", 1), 0);
  EXPECT_EQ(BIO_read(ro, rest, sizeof rest), 2);
  BIO_free(ro);
  BIO* null = BIO_new(BIO_s_null());
  EXPECT_EQ(BIO_write(null, "abc", 3), 3);
  EXPECT_EQ(BIO_read(null, rest, 3), 0);
  BIO_free(null);
  char small[5];
  EXPECT_EQ(BIO_snprintf(small, sizeof small, "%s", "abcdefg"), -1);
  EXPECT_STREQ(small, "abcd");
  // Files: bound to a FILE (not closed by the stream) or opened by name.
  morvane_test::TempPath tmp;
  morvane_test::WriteFile(tmp.path(), "file\n");
  FILE* fp = fopen(tmp.c_str(), "r");
  BIO* f1 = BIO_new(BIO_s_file());
  EXPECT_EQ(BIO_ctrl(f1, BIO_C_SET_FILE_PTR, 0, fp), 1);
  EXPECT_EQ(BIO_gets(f1, line, sizeof line), 5);
  BIO_free(f1);
  BIO* f2 = BIO_new_fp(fp, 0);
  BIO_free(f2);
  EXPECT_EQ(fclose(fp), 0);  // still open
  BIO* f3 = BIO_new(BIO_s_file());
  EXPECT_GT(
      BIO_ctrl(f3, BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_READ, const_cast<char*>(tmp.c_str())), 0);
  BIO_free(f3);
  BIO* f4 = BIO_new_file(tmp.c_str(), "r");
  EXPECT_NE(f4, nullptr);
  BIO_free(f4);
  EXPECT_EQ(BIO_new_file(tmp.Join("missing").c_str(), "r"), nullptr);
  ERR_clear_error();
}

int Collect(const char* e, int n, void* arg) {
  auto* v = static_cast<std::vector<std::string>*>(arg);
  v->push_back(e == nullptr ? "(null)" : std::string(e, n));
  return v->size() < 9 ? 1 : 0;
}

TEST(Seams, Configuration) {
  std::vector<std::string> seen;
  EXPECT_EQ(CONF_parse_list(",a , b,", ',', 1, Collect, &seen), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"(null)", "a", "b", "(null)"}));
  seen.clear();
  EXPECT_EQ(CONF_parse_list(" a ", ',', 0, Collect, &seen), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{" a "}));
  seen.assign(8, "");
  EXPECT_EQ(CONF_parse_list("x,y", ',', 1, Collect, &seen), 0);  // stopped by the callback
  EXPECT_EQ(CONF_parse_list(nullptr, ',', 1, Collect, &seen), 0);
  ERR_clear_error();
  CONF* conf = NCONF_new(nullptr);
  BIO* in = BIO_new_mem_buf(const_cast<char*>("[s]\na = 1\n"), -1);
  ASSERT_EQ(NCONF_load_bio(conf, in, nullptr), 1);
  STACK* section = NCONF_get_section(conf, "s");
  ASSERT_EQ(sk_num(section), 1);
  EXPECT_STREQ(reinterpret_cast<CONF_VALUE*>(sk_value(section, 0))->value, "1");
  EXPECT_STREQ(NCONF_get_string(conf, "s", "a"), "1");
  EXPECT_EQ(NCONF_get_section(conf, "t"), nullptr);
  EXPECT_EQ(NCONF_get_string(conf, "s", "b"), nullptr);
  EXPECT_NE(ERR_peek_error(), 0u);
  ERR_clear_error();
  NCONF_free(conf);
  BIO_free(in);
  in = BIO_new_mem_buf(const_cast<char*>("[s]\na = 2\n"), -1);
  LHASH* hash = CONF_load_bio(nullptr, in, nullptr);
  ASSERT_NE(hash, nullptr);
  EXPECT_STREQ(CONF_get_string(hash, "s", "a"), "2");
  EXPECT_EQ(sk_num(CONF_get_section(hash, "s")), 1);
  CONF bound;
  CONF_set_nconf(&bound, hash);
  EXPECT_STREQ(NCONF_get_string(&bound, "s", "a"), "2");
  CONF_free(hash);
  BIO_free(in);
}

// ---- algorithm framework -----------------------------------------------------------

TEST(Seams, Digests) {
  EXPECT_EQ(EVP_MD_type(EVP_sha1()), 64);
  EXPECT_EQ(EVP_MD_pkey_type(EVP_sha1()), 65);
  EXPECT_EQ(EVP_MD_size(EVP_sha1()), 20);
  EXPECT_EQ(EVP_MD_block_size(EVP_sha1()), 64);
  EXPECT_EQ(EVP_MD_type(EVP_md5()), 4);
  EXPECT_EQ(EVP_MD_type(EVP_dss1()), 116);  // SHA-1 under the NIDs of its signers
  EXPECT_EQ(EVP_MD_type(EVP_ecdsa()), 416);
  EXPECT_NE(EVP_dss1()->sign, EVP_sha1()->sign);
  EXPECT_NE(EVP_ecdsa()->sign, EVP_dss1()->sign);
  Morvane_add_all_digests();
  EXPECT_EQ(EVP_get_digestbyname("SHA1"), EVP_sha1());
  EXPECT_EQ(EVP_get_digestbyname("no such digest"), nullptr);
  // SHA-1("abc"), FIPS 180-2, appendix A.1.
  const std::string want = "a9993e364706816aba3e25717850c26c9cd0d89d";
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  EVP_MD_CTX ctx, copy;
  EVP_MD_CTX_init(&ctx);
  EVP_MD_CTX_set_flags(&ctx, EVP_MD_CTX_FLAG_NAME_HASH);  // flag 8: no effect on the digest
  ASSERT_EQ(EVP_DigestInit_ex(&ctx, EVP_sha1(), nullptr), 1);
  EXPECT_EQ(EVP_MD_CTX_md(&ctx), EVP_sha1());
  ASSERT_EQ(EVP_DigestUpdate(&ctx, "a", 1), 1);
  EVP_MD_CTX_init(&copy);
  ASSERT_EQ(EVP_MD_CTX_copy_ex(&copy, &ctx), 1);
  ASSERT_EQ(EVP_DigestUpdate(&ctx, "bc", 2), 1);
  ASSERT_EQ(EVP_DigestFinal_ex(&ctx, md, &len), 1);
  EXPECT_EQ(morvane_test::ToHex(md, len), want);
  ASSERT_EQ(EVP_DigestUpdate(&copy, "bc", 2), 1);
  ASSERT_EQ(EVP_DigestFinal(&copy, md, nullptr), 1);
  EXPECT_EQ(morvane_test::ToHex(md, 20), want);
  EXPECT_EQ(EVP_MD_CTX_cleanup(&ctx), 1);
  ASSERT_EQ(EVP_Digest("abc", 3, md, &len, EVP_sha1(), nullptr), 1);
  EXPECT_EQ(morvane_test::ToHex(md, len), want);
}

TEST(Seams, Ciphers) {
  Morvane_add_all_ciphers();
  const EVP_CIPHER* c = EVP_get_cipherbyname("des-ede3-cbc");
  ASSERT_EQ(c, EVP_des_ede3_cbc());
  EXPECT_EQ(EVP_CIPHER_nid(c), 44);
  EXPECT_EQ(EVP_CIPHER_type(c), 44);
  EXPECT_EQ(EVP_CIPHER_key_length(c), 24);
  EXPECT_EQ(EVP_CIPHER_iv_length(c), 8);
  EXPECT_EQ(EVP_CIPHER_key_length(EVP_des_ede_cbc()), 16);
  EXPECT_EQ(EVP_CIPHER_key_length(EVP_rc4()), 16);
  EXPECT_EQ(EVP_CIPHER_key_length(EVP_rc4_40()), 5);
  EXPECT_EQ(EVP_CIPHER_key_length(EVP_rc2_cbc()), 16);
  EXPECT_EQ(EVP_CIPHER_key_length(EVP_rc2_40_cbc()), 5);
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  unsigned char key[24], iv[8] = {1, 2, 3, 4, 5, 6, 7, 8}, ct[32], pt[32];
  ASSERT_EQ(EVP_CipherInit_ex(&ctx, c, nullptr, nullptr, nullptr, 1), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_rand_key(&ctx, key), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_block_size(&ctx), 8);
  EXPECT_EQ(EVP_CIPHER_CTX_key_length(&ctx), 24);
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, 16), 0);
  ERR_clear_error();
  int n = 0, m = 0;
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, nullptr, nullptr, key, iv), 1);
  ASSERT_EQ(
      EVP_EncryptUpdate(&ctx, ct, &n, reinterpret_cast<const unsigned char*>("ten bytes!"), 10), 1);
  ASSERT_EQ(EVP_EncryptFinal_ex(&ctx, ct + n, &m), 1);
  EXPECT_EQ(n + m, 16);  // padded by default
  ASN1_TYPE* param = ASN1_TYPE_new();
  EXPECT_GT(EVP_CIPHER_param_to_asn1(&ctx, param), 0);
  ASSERT_EQ(EVP_DecryptInit_ex(&ctx, c, nullptr, key, nullptr), 1);
  EXPECT_GT(EVP_CIPHER_asn1_to_param(&ctx, param), 0);  // the IV comes back
  ASN1_TYPE_free(param);
  int p = 0, q = 0;
  ASSERT_EQ(EVP_DecryptUpdate(&ctx, pt, &p, ct, 16), 1);
  ASSERT_EQ(EVP_DecryptFinal_ex(&ctx, pt + p, &q), 1);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(pt), p + q), "ten bytes!");
  ct[15] ^= 1;  // the padding no longer checks
  ASSERT_EQ(EVP_CipherInit_ex(&ctx, nullptr, nullptr, key, iv, 0), 1);
  ASSERT_EQ(EVP_CipherUpdate(&ctx, pt, &p, ct, 16), 1);
  EXPECT_EQ(EVP_CipherFinal_ex(&ctx, pt + p, &q), 0);
  ERR_clear_error();
  EXPECT_EQ(EVP_CIPHER_CTX_cleanup(&ctx), 1);
  EVP_CIPHER_CTX_init(&ctx);
  ASSERT_EQ(EVP_CipherInit_ex(&ctx, EVP_rc2_cbc(), nullptr, nullptr, nullptr, 1), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, 5), 1);
  EVP_CIPHER_CTX_cleanup(&ctx);
}

TEST(Seams, EnginesRandomAndObjects) {
  for (auto get : {ENGINE_get_default_RSA, ENGINE_get_default_DSA, ENGINE_get_default_DH,
                   ENGINE_get_default_ECDSA, ENGINE_get_default_ECDH})
    EXPECT_EQ(get(), nullptr);
  ENGINE* e = ENGINE_new();
  ENGINE_set_id(e, "seam");
  ENGINE_set_name(e, "seam");
  EXPECT_EQ(ENGINE_init(e), 1);
  EXPECT_EQ(ENGINE_get_RSA(e), nullptr);
  EXPECT_EQ(ENGINE_get_DSA(e), nullptr);
  EXPECT_EQ(ENGINE_get_DH(e), nullptr);
  EXPECT_EQ(ENGINE_get_ECDSA(e), nullptr);
  EXPECT_EQ(ENGINE_get_ECDH(e), nullptr);
  EXPECT_EQ(ENGINE_get_STORE(e), nullptr);
  EXPECT_EQ(ENGINE_finish(e), 1);
  ENGINE_free(e);
  unsigned char buf[16];
  EXPECT_EQ(RAND_bytes(buf, sizeof buf), 1);
  EXPECT_EQ(RAND_pseudo_bytes(buf, sizeof buf), 1);
  RAND_seed(buf, sizeof buf);
  RAND_add(buf, sizeof buf, 0.0);
  EXPECT_EQ(RAND_status(), 1);
  ASN1_OBJECT* sha1 = OBJ_nid2obj(64);
  ASSERT_NE(sha1, nullptr);
  EXPECT_EQ(OBJ_obj2nid(sha1), 64);
  EXPECT_EQ(OBJ_obj2nid(nullptr), 0);
  EXPECT_STREQ(OBJ_nid2sn(64), "SHA1");
  EXPECT_EQ(OBJ_sn2nid("SHA1"), 64);
  EXPECT_EQ(OBJ_txt2nid("sha1"), 64);
  EXPECT_EQ(OBJ_txt2nid("1.3.14.3.2.26"), 64);
  ASN1_OBJECT* t = OBJ_txt2obj("1.3.14.3.2.26", 1);
  EXPECT_EQ(OBJ_cmp(t, sha1), 0);
  ASN1_OBJECT* d = OBJ_dup(t);
  EXPECT_EQ(OBJ_cmp(d, sha1), 0);
  ASN1_OBJECT_free(d);
  ASN1_OBJECT_free(t);
  EXPECT_EQ(OBJ_txt2obj("no such name", 0), nullptr);
  const int sorted[] = {1, 3, 5, 7};
  const int key = 5;
  auto cmp = [](const void* a, const void* b) {
    return *static_cast<const int*>(a) - *static_cast<const int*>(b);
  };
  EXPECT_EQ(OBJ_bsearch(reinterpret_cast<const char*>(&key), reinterpret_cast<const char*>(sorted),
                        4, sizeof(int), cmp),
            reinterpret_cast<const char*>(&sorted[2]));
  ERR_clear_error();
}

// ---- big numbers ----------------------------------------------------------------------

// Numbers freed when the test ends.
class Pool {
 public:
  ~Pool() {
    for (BIGNUM* b : all_) BN_free(b);
  }
  BIGNUM* operator()(const char* hex) { return Keep(Hex(hex)); }
  BIGNUM* New() { return Keep(BN_new()); }
  BIGNUM* Keep(BIGNUM* b) {
    all_.push_back(b);
    return b;
  }

 private:
  std::vector<BIGNUM*> all_;
};

TEST(Seams, BigNumbers) {
  Pool N;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* r = N.New();
  BIGNUM* a = N("123456789ABCDEF0123");
  BIGNUM* b = N("FEDCBA987");
  BIGNUM* m = N("F123456789ABCDEF1");
  BIGNUM embedded;
  BN_init(&embedded);
  EXPECT_EQ(BN_copy(&embedded, a), &embedded);
  BN_free(&embedded);
  BIGNUM* dup = BN_dup(a);
  EXPECT_EQ(BN_cmp(dup, a), 0);
  BN_clear_free(dup);
  EXPECT_EQ(BN_dup(nullptr), nullptr);
  EXPECT_TRUE(BN_is_one(BN_value_one()));
  EXPECT_EQ(BN_set_word(r, 5), 1);
  EXPECT_EQ(BN_set_bit(r, 70), 1);
  EXPECT_EQ(BN_is_bit_set(r, 70), 1);
  EXPECT_EQ(BN_is_bit_set(r, 700), 0);
  EXPECT_EQ(BN_num_bits(r), 71);
  EXPECT_EQ(BN_mask_bits(r, 3), 1);
  EXPECT_EQ(Dec(r), "5");
  BN_set_negative(r, 1);
  EXPECT_EQ(Dec(r), "-5");
  EXPECT_NE(bn_expand2(r, 40), nullptr);
  EXPECT_GE(r->dmax, 40);
  unsigned char bin[16];
  EXPECT_EQ(BN_bn2bin(b, bin), 5);
  BIGNUM* back = BN_bin2bn(bin, 5, nullptr);
  EXPECT_EQ(BN_cmp(back, b), 0);
  BN_free(back);
  BIGNUM* text = nullptr;
  EXPECT_EQ(BN_dec2bn(&text, "-1234"), 5);
  EXPECT_EQ(BN_hex2bn(&text, "aBc"), 3);
  EXPECT_EQ(Dec(text), "2748");
  BN_free(text);
  EXPECT_EQ(BN_ucmp(N("-5"), N("3")) > 0, true);
  EXPECT_EQ(BN_cmp(N("-5"), N("3")), -1);
  BIGNUM* q = N.New();
  ASSERT_TRUE(BN_add(r, a, b) && BN_sub(r, r, b) && BN_cmp(r, a) == 0);
  ASSERT_TRUE(BN_usub(r, a, b) && BN_mul(q, r, b, ctx) && BN_sqr(q, b, ctx));
  ASSERT_TRUE(BN_lshift(r, b, 33) && BN_rshift(r, r, 33) && BN_cmp(r, b) == 0);
  ASSERT_TRUE(BN_lshift1(r, b) && BN_rshift1(r, r) && BN_cmp(r, b) == 0);
  ASSERT_TRUE(BN_add_word(r, 3) && BN_sub_word(r, 3) && BN_mul_word(r, 2));
  EXPECT_EQ(BN_mod_word(N("11"), 5), 2u);
  // The remainder takes the numerator's sign; BN_nnmod's does not.
  BIGNUM* rem = N.New();
  ASSERT_EQ(BN_div(q, rem, N("-11"), N("5"), ctx), 1);
  EXPECT_EQ(Dec(q) + " " + Dec(rem), "-3 -2");
  ASSERT_EQ(BN_nnmod(rem, N("-11"), N("5"), ctx), 1);
  EXPECT_EQ(Dec(rem), "3");
  ASSERT_TRUE(BN_mod_add(r, a, b, m, ctx) && BN_mod_mul(r, a, b, m, ctx) &&
              BN_mod_sqr(r, a, m, ctx));
  EXPECT_LT(BN_cmp(r, m), 0);
  BIGNUM *x = N("7"), *y = N("9"), *mod = N("B");
  ASSERT_TRUE(BN_mod_add_quick(r, x, y, mod));
  EXPECT_EQ(Dec(r), "5");
  ASSERT_TRUE(BN_mod_sub_quick(r, x, y, mod));
  EXPECT_EQ(Dec(r), "9");
  ASSERT_TRUE(BN_mod_lshift1_quick(r, x, mod));
  EXPECT_EQ(Dec(r), "3");
  ASSERT_TRUE(BN_mod_lshift_quick(r, x, 2, mod));
  EXPECT_EQ(Dec(r), "6");
  EXPECT_NE(BN_mod_inverse(r, x, mod, ctx), nullptr);
  EXPECT_EQ(Dec(r), "8");
  EXPECT_EQ(BN_mod_inverse(r, N("6"), N("9"), ctx), nullptr);
  ERR_clear_error();
  ASSERT_EQ(BN_gcd(r, N("6"), N("9"), ctx), 1);
  EXPECT_EQ(Dec(r), "3");
  EXPECT_NE(BN_mod_sqrt(r, N("5"), mod, ctx), nullptr);  // 4^2 = 5 (mod 11)
  EXPECT_EQ(BN_mod_sqrt(r, N("6"), mod, ctx), nullptr);
  EXPECT_EQ(ERR_GET_REASON(ERR_peek_last_error()), BN_R_NOT_A_SQUARE);
  ERR_clear_error();
  EXPECT_EQ(BN_kronecker(N("6"), mod, ctx), -1);
  BN_CTX_start(ctx);
  EXPECT_NE(BN_CTX_get(ctx), nullptr);
  BN_CTX_end(ctx);
  BN_CTX_free(ctx);
}

TEST(Seams, ExponentiationAndMontgomery) {
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM *r = BN_new(), *r2 = BN_new();
  BIGNUM *a = Hex("1234567"), *p = Hex("10001"), *m = Hex("F123456789ABCDEF1");
  ASSERT_EQ(BN_mod_exp(r, a, p, m, ctx), 1);
  ASSERT_EQ(BN_mod_exp_mont(r2, a, p, m, ctx, nullptr), 1);
  EXPECT_EQ(BN_cmp(r, r2), 0);
  ASSERT_EQ(BN_mod_exp_mont_word(r2, 0x1234567, p, m, ctx, nullptr), 1);
  EXPECT_EQ(BN_cmp(r, r2), 0);
  ASSERT_EQ(BN_mod_exp2_mont(r2, a, p, BN_value_one(), p, m, ctx, nullptr), 1);
  EXPECT_EQ(BN_cmp(r, r2), 0);
  // A secret exponent goes the constant-time way, and the one-word form
  // refuses it.
  BN_set_flags(p, BN_FLAG_SECRET);
  ASSERT_EQ(BN_mod_exp_mont(r2, a, p, m, ctx, nullptr), 1);
  EXPECT_EQ(BN_cmp(r, r2), 0);
  EXPECT_EQ(BN_mod_exp_mont_word(r2, 3, p, m, ctx, nullptr), -1);
  EXPECT_TRUE(
      ErrorsAre({{ERR_LIB_BN, BN_F_BN_MOD_EXP_MONT_WORD, ERR_R_SHOULD_NOT_HAVE_BEEN_CALLED}}));
  BN_MONT_CTX* mont = BN_MONT_CTX_new();
  ASSERT_EQ(BN_MONT_CTX_set(mont, m, ctx), 1);
  BN_MONT_CTX* copy = BN_MONT_CTX_new();
  EXPECT_EQ(BN_MONT_CTX_copy(copy, mont), copy);
  ASSERT_TRUE(BN_to_montgomery(r2, a, mont, ctx) && BN_from_montgomery(r2, r2, mont, ctx));
  EXPECT_EQ(BN_cmp(r2, a), 0);
  ASSERT_EQ(BN_mod_mul_montgomery(r2, a, &mont->RR, mont, ctx), 1);  // a R mod m
  BN_MONT_CTX_free(copy);
  BN_MONT_CTX_free(mont);
  // Made once: the read check, then the write lock with a re-check.
  morvane_test::InstallLockingCallback();
  BN_MONT_CTX* slot = nullptr;
  morvane_test::StartRecordingLocks();
  BN_MONT_CTX* made = BN_MONT_CTX_set_locked(&slot, CRYPTO_LOCK_RSA, m, ctx);
  EXPECT_EQ(BN_MONT_CTX_set_locked(&slot, CRYPTO_LOCK_RSA, m, ctx), made);
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{{5, 9}, {6, 9}, {9, 9}, {10, 9}, {5, 9}, {6, 9}}));
  BN_MONT_CTX_free(slot);
  for (BIGNUM* n : {r, r2, a, p, m}) BN_free(n);
  BN_CTX_free(ctx);
}

int NewStyle(int, int, BN_GENCB* cb) {
  return *static_cast<int*>(cb->arg);
}

TEST(Seams, RandomNumbersAndPrimes) {
  Pool N;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* r = N.New();
  ASSERT_EQ(BN_rand(r, 64, 0, 1), 1);  // top 0: the top bit set; bottom: odd
  EXPECT_EQ(BN_num_bits(r), 64);
  EXPECT_TRUE(BN_is_odd(r));
  BIGNUM* range = N("64");
  for (int i = 0; i < 20; i++) {
    ASSERT_EQ(BN_rand_range(r, range), 1);
    EXPECT_LT(BN_cmp(r, range), 0);
  }
  int go_on = 1;
  BN_GENCB cb;
  cb.ver = 2;
  cb.arg = &go_on;
  cb.cb.cb_2 = NewStyle;
  EXPECT_EQ(BN_GENCB_call(nullptr, 0, 0), 1);
  EXPECT_EQ(BN_GENCB_call(&cb, 0, 0), 1);
  go_on = 0;
  EXPECT_EQ(BN_GENCB_call(&cb, 0, 0), 0);
  cb.ver = 3;
  EXPECT_EQ(BN_GENCB_call(&cb, 0, 0), 0);
  BIGNUM* p = N.New();
  ASSERT_EQ(BN_generate_prime_ex(p, 128, 0, nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(BN_num_bits(p), 128);
  EXPECT_EQ(BN_is_prime_ex(p, 0, ctx, nullptr), 1);
  EXPECT_EQ(BN_is_prime_fasttest_ex(p, 0, ctx, 1, nullptr), 1);
  EXPECT_EQ(BN_is_prime_ex(N("91"), 0, ctx, nullptr), 0);  // 7 * 13
  // With add and rem: p mod add = rem.
  ASSERT_EQ(BN_generate_prime_ex(p, 64, 0, N("C"), N("7"), nullptr), 1);
  EXPECT_EQ(BN_mod_word(p, 12), 7u);
  BIGNUM *xp = N.New(), *xq = N.New(), *q = N.New(), *e = N("10001");
  ASSERT_EQ(BN_X931_generate_Xpq(xp, xq, 1024, ctx), 1);
  EXPECT_EQ(BN_num_bits(xp), 512);
  BIGNUM *xp1 = N.New(), *xp2 = N.New();
  ASSERT_EQ(BN_X931_generate_prime_ex(q, nullptr, nullptr, xp1, xp2, xp, e, ctx, nullptr), 1);
  EXPECT_GE(BN_cmp(q, xp), 0);
  EXPECT_EQ(BN_is_prime_ex(q, 0, ctx, nullptr), 1);
  // The same starting values derive the same prime.
  ASSERT_EQ(BN_X931_derive_prime_ex(p, nullptr, nullptr, xp, xp1, xp2, e, ctx, nullptr), 1);
  EXPECT_EQ(BN_cmp(p, q), 0);
  BN_CTX_free(ctx);
}

// The blinding as the RSA code uses it: without a separate factor (the
// owner) and with one (the shared record, each user keeping its own Ai).
TEST(Seams, Blinding) {
  Pool N;
  BN_CTX* ctx = BN_CTX_new();
  // n = 61 * 53 = 3233, e = 17, d = 2753 (the textbook key).
  BIGNUM *n = N("CA1"), *e = N("11"), *d = N("AC1"), *x = N("41"), *want = N.New();
  ASSERT_EQ(BN_mod_exp(want, x, d, n, ctx), 1);
  BN_BLINDING* b = BN_BLINDING_create_param(nullptr, e, n, ctx, nullptr, nullptr);
  ASSERT_NE(b, nullptr);
  BN_BLINDING_set_thread_id(b, 77);
  EXPECT_EQ(BN_BLINDING_get_thread_id(b), 77u);
  BIGNUM* y = N.Keep(BN_dup(x));
  ASSERT_EQ(BN_BLINDING_convert_ex(y, nullptr, b, ctx), 1);
  ASSERT_EQ(BN_mod_exp(y, y, d, n, ctx), 1);
  ASSERT_EQ(BN_BLINDING_invert_ex(y, nullptr, b, ctx), 1);
  EXPECT_EQ(BN_cmp(y, want), 0);
  BIGNUM *y2 = N.Keep(BN_dup(x)), *ai = N.New();
  ASSERT_EQ(BN_BLINDING_convert_ex(y2, ai, b, ctx), 1);
  ASSERT_EQ(BN_mod_exp(y2, y2, d, n, ctx), 1);
  ASSERT_EQ(BN_BLINDING_invert_ex(y2, ai, b, ctx), 1);
  EXPECT_EQ(BN_cmp(y2, want), 0);
  BN_BLINDING_free(b);
  BN_BLINDING_free(nullptr);
  BN_CTX_free(ctx);
}

// The key containers as the public-key code uses them, with RSA keys.
TEST(Seams, KeyContainers) {
  const std::pair<int, int> folds[] = {{6, 6},    {19, 6},    {28, 28},   {66, 116},  {67, 116},
                                       {70, 116}, {113, 116}, {116, 116}, {408, 408}, {64, 0}};
  for (auto [nid, type] : folds) EXPECT_EQ(EVP_PKEY_type(nid), type) << nid;
  rsa_test::Rsa a = rsa_test::MakeKey(rsa_test::TestKey(512));
  rsa_test::Rsa b = rsa_test::MakeKey(rsa_test::TestKey(520));
  EVP_PKEY *pa = EVP_PKEY_new(), *pa2 = EVP_PKEY_new(), *pb = EVP_PKEY_new();
  ASSERT_EQ(EVP_PKEY_set1_RSA(pa, a.get()), 1);
  ASSERT_EQ(EVP_PKEY_set1_RSA(pa2, a.get()), 1);
  ASSERT_EQ(EVP_PKEY_set1_RSA(pb, b.get()), 1);
  EXPECT_EQ(a->references, 3);
  RSA* got = EVP_PKEY_get1_RSA(pa);
  EXPECT_EQ(got, a.get());
  RSA_free(got);
  EXPECT_EQ(EVP_PKEY_size(pa), 64);
  EXPECT_EQ(EVP_PKEY_missing_parameters(pa), 0);
  EXPECT_EQ(EVP_PKEY_cmp(pa, pa2), 1);
  EXPECT_EQ(EVP_PKEY_cmp(pa, pb), 0);
  EVP_PKEY *dh1 = EVP_PKEY_new(), *dh2 = EVP_PKEY_new();
  EVP_PKEY_assign(dh1, EVP_PKEY_DH, nullptr);
  EVP_PKEY_assign(dh2, EVP_PKEY_DH, nullptr);
  EXPECT_EQ(EVP_PKEY_cmp(dh1, dh2), -2);
  EXPECT_EQ(EVP_PKEY_cmp(pa, dh1), -1);
  EXPECT_EQ(EVP_PKEY_get1_DSA(pa), nullptr);
  ERR_clear_error();
  // PKCS#1 v1.5 encryption of a content key, and back.
  unsigned char key[16] = {1, 2, 3}, ek[64], back[64];
  EXPECT_EQ(EVP_PKEY_encrypt(ek, key, sizeof key, pa), 64);
  EXPECT_EQ(EVP_PKEY_decrypt(back, ek, 64, pa), 16);
  EXPECT_EQ(std::memcmp(back, key, 16), 0);
  EXPECT_EQ(EVP_PKEY_encrypt(ek, key, sizeof key, dh1), 0);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, EVP_F_EVP_PKEY_ENCRYPT, EVP_R_PUBLIC_KEY_NOT_RSA}}));
  unsigned char long_key[60] = {};
  EXPECT_EQ(EVP_PKEY_encrypt(ek, long_key, sizeof long_key, pa), -1);  // RSA refuses
  ERR_clear_error();
  // Sealing to three RSA recipients; each opens.
  EVP_PKEY* recipients[3] = {pa, pb, pa2};
  unsigned char eks[3][80], iv[16], ct[64], pt[64];
  unsigned char* ekp[3] = {eks[0], eks[1], eks[2]};
  int ekl[3] = {0, 0, 0};
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  ASSERT_EQ(EVP_SealInit(&ctx, EVP_aes_128_cbc(), ekp, ekl, iv, recipients, 3), 3);
  int n = 0, m = 0;
  ASSERT_EQ(EVP_SealUpdate(&ctx, ct, &n, reinterpret_cast<const unsigned char*>("sealed"), 6), 1);
  ASSERT_EQ(EVP_SealFinal(&ctx, ct + n, &m), 1);
  const int ctlen = n + m;
  for (int i = 0; i < 3; i++) {
    EVP_CIPHER_CTX_cleanup(&ctx);  // a type given: the context is set up afresh
    ASSERT_EQ(EVP_OpenInit(&ctx, EVP_aes_128_cbc(), eks[i], ekl[i], iv, recipients[i]), 1) << i;
    int p = 0, q = 0;
    ASSERT_EQ(EVP_OpenUpdate(&ctx, pt, &p, ct, ctlen), 1);
    ASSERT_EQ(EVP_OpenFinal(&ctx, pt + p, &q), 1);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pt), p + q), "sealed") << i;
  }
  EVP_CIPHER_CTX_cleanup(&ctx);
  for (EVP_PKEY* k : {pa, pa2, pb, dh1, dh2}) EVP_PKEY_free(k);
  EXPECT_EQ(a->references, 1);
  ERR_clear_error();
}

// The digest and cipher filters and base64 coding.
TEST(Seams, FiltersAndBase64) {
  BIO* md = BIO_new(BIO_f_md());
  BIO_set_md(md, EVP_sha1());
  BIO* sink = BIO_new(BIO_s_null());
  BIO_push(md, sink);
  EXPECT_EQ(BIO_write(md, "abc", 3), 3);
  EVP_MD_CTX* mdctx = nullptr;
  BIO_get_md_ctx(md, &mdctx);
  unsigned char digest[20];
  ASSERT_EQ(EVP_DigestFinal_ex(mdctx, digest, nullptr), 1);
  EXPECT_EQ(morvane_test::ToHex(digest, 20), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(BIO_find_type(md, BIO_TYPE_MD), md);
  BIO_free_all(md);
  // The cipher filter encrypts on write; a flush writes the padded last block.
  const unsigned char key[16] = {9}, iv[16] = {8};
  BIO* enc = BIO_new(BIO_f_cipher());
  BIO_set_cipher(enc, EVP_aes_128_cbc(), key, iv, 1);
  BIO* mem = BIO_new(BIO_s_mem());
  BIO_push(enc, mem);
  EXPECT_EQ(BIO_write(enc, "seventeen bytes!!", 17), 17);
  EXPECT_EQ(BIO_ctrl(enc, 11, 0, nullptr), 1);
  char* data = nullptr;
  EXPECT_EQ(BIO_ctrl(mem, 3, 0, &data), 32);
  BIO_free_all(enc);
  // Base64: a whole line is 64 characters and a line feed.
  unsigned char in[48], text[80], back[64];
  for (int i = 0; i < 48; i++) in[i] = static_cast<unsigned char>(i);
  EVP_ENCODE_CTX ectx;
  EVP_EncodeInit(&ectx);
  int n = 0, m = 0;
  EVP_EncodeUpdate(&ectx, text, &n, in, 48);
  EVP_EncodeFinal(&ectx, text + n, &m);
  EXPECT_EQ(n + m, 65);
  EXPECT_EQ(text[64], '\n');
  EXPECT_EQ(EVP_EncodeBlock(text, in, 3), 4);
  EXPECT_STREQ(reinterpret_cast<char*>(text), "AAEC");
  EXPECT_EQ(EVP_DecodeBlock(back, text, 4), 3);
  EVP_DecodeInit(&ectx);
  EXPECT_GE(EVP_DecodeUpdate(&ectx, back, &n, reinterpret_cast<const unsigned char*>("AAEC\n"), 5),
            0);
  EXPECT_EQ(EVP_DecodeFinal(&ectx, back + n, &m), 1);
  EXPECT_EQ(n + m, 3);
  EXPECT_EQ(EVP_DecodeBlock(back, reinterpret_cast<const unsigned char*>("A*=="), 4), -1);
}

// HMAC, EVP_BytesToKey and the prompt text.
TEST(Seams, MacsAndPassPhraseKeys) {
  // RFC 2202, test case 1 (HMAC-SHA-1).
  const unsigned char key[20] = {0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b,
                                 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b, 0x0b};
  HMAC_CTX h;
  HMAC_CTX_init(&h);
  ASSERT_EQ(HMAC_Init_ex(&h, key, 20, EVP_sha1(), nullptr), 1);
  ASSERT_EQ(HMAC_Update(&h, reinterpret_cast<const unsigned char*>("Hi "), 3), 1);
  ASSERT_EQ(HMAC_Update(&h, reinterpret_cast<const unsigned char*>("There"), 5), 1);
  unsigned char mac[EVP_MAX_MD_SIZE];
  unsigned int len = 0;
  ASSERT_EQ(HMAC_Final(&h, mac, &len), 1);
  EXPECT_EQ(morvane_test::ToHex(mac, len), "b617318655057264e28bc0b6fb378c8ef146be00");
  HMAC_CTX_cleanup(&h);
  // D1 = MD5(data || salt), D2 = MD5(D1 || data || salt): key bytes first,
  // then the IV (count 1).
  const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  const std::string data = "pass";
  unsigned char k[24], iv[8], d1[16], d2[16];
  EXPECT_EQ(EVP_BytesToKey(EVP_des_ede3_cbc(), EVP_md5(), salt,
                           reinterpret_cast<const unsigned char*>(data.data()), 4, 1, k, iv),
            24);
  const std::string s1 = data + std::string(reinterpret_cast<const char*>(salt), 8);
  ASSERT_EQ(EVP_Digest(s1.data(), s1.size(), d1, nullptr, EVP_md5(), nullptr), 1);
  const std::string s2 = std::string(reinterpret_cast<char*>(d1), 16) + s1;
  ASSERT_EQ(EVP_Digest(s2.data(), s2.size(), d2, nullptr, EVP_md5(), nullptr), 1);
  EXPECT_EQ(morvane_test::ToHex(k, 24), morvane_test::ToHex(d1, 16) + morvane_test::ToHex(d2, 8));
  EXPECT_EQ(morvane_test::ToHex(iv, 8), morvane_test::ToHex(d2 + 8, 8));
  EXPECT_EQ(EVP_get_pw_prompt(), nullptr);
  EVP_set_pw_prompt("Pass phrase:");
  EXPECT_STREQ(EVP_get_pw_prompt(), "Pass phrase:");
  EVP_set_pw_prompt(nullptr);
  char pw[16];
  EXPECT_EQ(EVP_read_pw_string(nullptr, 16, "pw:", 0), -1);  // nothing asked
  EXPECT_EQ(EVP_read_pw_string(pw, 0, "pw:", 0), -1);
  ERR_clear_error();
}

// Password-based encryption (PBES1 with MD5 and DES): a null pass phrase is
// empty whatever its length, and -1 stands for the text's length.
TEST(Seams, PasswordBasedCipher) {
  PKCS5_PBE_add();
  const unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  X509_ALGOR* alg = PKCS5_pbe_set(10, 1, salt, 8);
  ASSERT_NE(alg, nullptr);
  auto encrypt = [&](const char* pass, int passlen) {
    EVP_CIPHER_CTX ctx;
    EVP_CIPHER_CTX_init(&ctx);
    unsigned char out[16];
    int n = 0;
    std::string r;
    if (EVP_PBE_CipherInit(alg->algorithm, pass, passlen, alg->parameter, &ctx, 1) == 1 &&
        EVP_CipherUpdate(&ctx, out, &n, reinterpret_cast<const unsigned char*>("8 bytes!"), 8) ==
            1)
      r = morvane_test::ToHex(out, n);
    EVP_CIPHER_CTX_cleanup(&ctx);
    return r;
  };
  EXPECT_EQ(encrypt(nullptr, 5), encrypt("", 0));
  EXPECT_EQ(encrypt("secret", -1), encrypt("secret", 6));
  EXPECT_NE(encrypt("secret", -1), encrypt("secret", 5));
  EXPECT_EQ(encrypt("", 0).size(), 16u);
  X509_ALGOR_free(alg);
  EVP_PBE_cleanup();
  ERR_clear_error();
}

// The NIST primes with their reduction, and GF(2^m) arithmetic over
// exponent lists.
TEST(Seams, SpecialModuli) {
  Pool N;
  BN_CTX* ctx = BN_CTX_new();
  BIGNUM* r = N.New();
  // p192 = 2^192 - 2^64 - 1 (FIPS 186-2, D.2.1).
  EXPECT_EQ(Dec(BN_get0_nist_prime_192()),
            "6277101735386680763835789423207666416083908700390324961279");
  for (auto get : {BN_get0_nist_prime_224, BN_get0_nist_prime_256, BN_get0_nist_prime_384,
                   BN_get0_nist_prime_521})
    EXPECT_TRUE(BN_is_odd(get()));
  BIGNUM* a = N.Keep(BN_dup(BN_get0_nist_prime_192()));
  ASSERT_EQ(BN_add_word(a, 5), 1);
  ASSERT_EQ(BN_nist_mod_192(r, a, BN_get0_nist_prime_192(), ctx), 1);
  EXPECT_EQ(Dec(r), "5");
  // x^3 + x + 1 and friends, as numbers whose bits are the coefficients.
  unsigned int arr[8];
  EXPECT_EQ(BN_GF2m_poly2arr(N("B"), arr, 8), 3);  // x^3 + x + 1
  EXPECT_EQ(arr[0], 3u);
  EXPECT_EQ(arr[2], 0u);
  EXPECT_EQ(BN_GF2m_poly2arr(N("A"), arr, 8), 0);  // x^3 + x: no x^0 term
  EXPECT_EQ(BN_GF2m_poly2arr(N("0"), arr, 8), 0);
  const unsigned int p[] = {3, 1, 0};
  ASSERT_EQ(BN_GF2m_add(r, N("6"), N("3")), 1);
  EXPECT_EQ(Dec(r), "5");
  ASSERT_EQ(BN_GF2m_mod_arr(r, N("8"), p), 1);  // x^3 = x + 1
  EXPECT_EQ(Dec(r), "3");
  ASSERT_EQ(BN_GF2m_mod_mul_arr(r, N("2"), N("4"), p, ctx), 1);  // x * x^2
  EXPECT_EQ(Dec(r), "3");
  ASSERT_EQ(BN_GF2m_mod_sqr_arr(r, N("4"), p, ctx), 1);  // x^4 = x^2 + x
  EXPECT_EQ(Dec(r), "6");
  ASSERT_EQ(BN_GF2m_mod_div(r, N("4"), N("2"), N("B"), ctx), 1);  // x^2 / x
  EXPECT_EQ(Dec(r), "2");
  BN_CTX_free(ctx);
}

}  // namespace
