// What the headers promise about null arguments, call by call, each call in
// a forked child so that a crash shows as that call's failure: the cipher
// contexts (null context, null count, a context without a description),
// ASN1_item_free(NULL, it), BIO_new_file with a null name, the engine
// setters and getters, stacks, hash tables, buffers and priority queues,
// HMAC contexts, password-based keys, PKCS#8 conversion, attribute lists,
// the calls on names, extensions, certificates and keys, and the stream,
// shared-object, hash-table statistics and base64 calls whose header allows
// a null argument.

#include <climits>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/hmac.h>
#include <morvane/lhash.h>
#include <morvane/pqueue.h>
#include <morvane/stack.h>
#include <morvane/x509.h>
#include <morvane/x509v3.h>

#include "child.h"
#include "test_support.h"

namespace {

using morvane_test::Call;
using morvane_test::Require;
using morvane_test::RunAll;

unsigned char g_buf[64];
int g_n = 0;

TEST(NullArguments, CipherContexts) {
  EVP_CIPHER_CTX* const null_ctx = nullptr;
  const std::vector<Call> calls = {
      {"EVP_CIPHER_CTX_init", [=] { EVP_CIPHER_CTX_init(null_ctx); }},
      {"EVP_CIPHER_CTX_free", [=] { EVP_CIPHER_CTX_free(null_ctx); }},
      {"EVP_CIPHER_CTX_cleanup", [=] { Require(EVP_CIPHER_CTX_cleanup(null_ctx) == 1); }},
      {"EVP_CipherInit_ex",
       [=] { Require(!EVP_CipherInit_ex(null_ctx, EVP_aes_128_cbc(), nullptr, g_buf, g_buf, 1)); }},
      {"EVP_EncryptInit_ex",
       [=] { Require(!EVP_EncryptInit_ex(null_ctx, EVP_aes_128_cbc(), nullptr, g_buf, g_buf)); }},
      {"EVP_DecryptInit_ex",
       [=] { Require(!EVP_DecryptInit_ex(null_ctx, EVP_aes_128_cbc(), nullptr, g_buf, g_buf)); }},
      {"EVP_CipherInit", [=] { Require(!EVP_CipherInit(null_ctx, EVP_rc4(), g_buf, g_buf, 1)); }},
      {"EVP_EncryptInit", [=] { Require(!EVP_EncryptInit(null_ctx, EVP_rc4(), g_buf, g_buf)); }},
      {"EVP_DecryptInit", [=] { Require(!EVP_DecryptInit(null_ctx, EVP_rc4(), g_buf, g_buf)); }},
      {"EVP_EncryptUpdate",
       [=] { Require(!EVP_EncryptUpdate(null_ctx, g_buf, &g_n, g_buf, 16)); }},
      {"EVP_DecryptUpdate",
       [=] { Require(!EVP_DecryptUpdate(null_ctx, g_buf, &g_n, g_buf, 16)); }},
      {"EVP_CipherUpdate", [=] { Require(!EVP_CipherUpdate(null_ctx, g_buf, &g_n, g_buf, 16)); }},
      {"EVP_EncryptFinal_ex", [=] { Require(!EVP_EncryptFinal_ex(null_ctx, g_buf, &g_n)); }},
      {"EVP_EncryptFinal", [=] { Require(!EVP_EncryptFinal(null_ctx, g_buf, &g_n)); }},
      {"EVP_DecryptFinal_ex", [=] { Require(!EVP_DecryptFinal_ex(null_ctx, g_buf, &g_n)); }},
      {"EVP_DecryptFinal", [=] { Require(!EVP_DecryptFinal(null_ctx, g_buf, &g_n)); }},
      {"EVP_CipherFinal_ex", [=] { Require(!EVP_CipherFinal_ex(null_ctx, g_buf, &g_n)); }},
      {"EVP_CipherFinal", [=] { Require(!EVP_CipherFinal(null_ctx, g_buf, &g_n)); }},
      {"EVP_Cipher", [=] { Require(!EVP_Cipher(null_ctx, g_buf, g_buf, 16)); }},
      {"EVP_CIPHER_CTX_ctrl",
       [=] { Require(!EVP_CIPHER_CTX_ctrl(null_ctx, EVP_CTRL_INIT, 0, nullptr)); }},
      {"EVP_CIPHER_CTX_set_key_length",
       [=] { Require(!EVP_CIPHER_CTX_set_key_length(null_ctx, 16)); }},
      {"EVP_CIPHER_CTX_set_padding", [=] { Require(!EVP_CIPHER_CTX_set_padding(null_ctx, 0)); }},
      {"EVP_CIPHER_CTX_rand_key", [=] { Require(!EVP_CIPHER_CTX_rand_key(null_ctx, g_buf)); }},
      {"EVP_CIPHER_param_to_asn1",
       [=] { Require(EVP_CIPHER_param_to_asn1(null_ctx, ASN1_TYPE_new()) == -1); }},
      {"EVP_CIPHER_asn1_to_param",
       [=] { Require(EVP_CIPHER_asn1_to_param(null_ctx, ASN1_TYPE_new()) == -1); }},
      {"EVP_CIPHER_set_asn1_iv",
       [=] { Require(EVP_CIPHER_set_asn1_iv(null_ctx, ASN1_TYPE_new()) == -1); }},
      {"EVP_CIPHER_get_asn1_iv",
       [=] { Require(EVP_CIPHER_get_asn1_iv(null_ctx, ASN1_TYPE_new()) == -1); }},
      {"EVP_CIPHER_CTX_cipher", [=] { Require(EVP_CIPHER_CTX_cipher(null_ctx) == nullptr); }},
      {"EVP_CIPHER_CTX_nid", [=] { Require(EVP_CIPHER_CTX_nid(null_ctx) == 0); }},
      {"EVP_CIPHER_CTX_block_size", [=] { Require(EVP_CIPHER_CTX_block_size(null_ctx) == 0); }},
      {"EVP_CIPHER_CTX_key_length", [=] { Require(EVP_CIPHER_CTX_key_length(null_ctx) == 0); }},
      {"EVP_CIPHER_CTX_iv_length", [=] { Require(EVP_CIPHER_CTX_iv_length(null_ctx) == 0); }},
      {"EVP_CIPHER_CTX_flags", [=] { Require(EVP_CIPHER_CTX_flags(null_ctx) == 0); }},
      {"EVP_CIPHER_CTX_get_app_data",
       [=] { Require(EVP_CIPHER_CTX_get_app_data(null_ctx) == nullptr); }},
      {"EVP_CIPHER_CTX_set_app_data", [=] { EVP_CIPHER_CTX_set_app_data(null_ctx, g_buf); }},
      {"EVP_CIPHER_CTX_set_flags", [=] { EVP_CIPHER_CTX_set_flags(null_ctx, 1); }},
      {"EVP_CIPHER_CTX_clear_flags", [=] { EVP_CIPHER_CTX_clear_flags(null_ctx, 1); }},
      {"EVP_CIPHER_CTX_test_flags", [=] { Require(EVP_CIPHER_CTX_test_flags(null_ctx, 1) == 0); }},
      {"EVP_CIPHER_nid", [] { Require(EVP_CIPHER_nid(nullptr) == 0); }},
      {"EVP_CIPHER_type", [] { Require(EVP_CIPHER_type(nullptr) == 0); }},
  };
  RunAll(calls);
}

// The refusals queue what the header says.
TEST(NullArguments, CipherContextErrors) {
  int n = -1;
  EXPECT_EQ(0, EVP_EncryptUpdate(nullptr, g_buf, &n, g_buf, 16));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_ENCRYPTUPDATE, ERR_R_PASSED_NULL_PARAMETER}});
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  EXPECT_EQ(0, EVP_DecryptUpdate(&ctx, g_buf, &n, g_buf, 16));  // no description
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_DECRYPTUPDATE, EVP_R_NO_CIPHER_SET}});
  EXPECT_EQ(0, EVP_DecryptFinal_ex(&ctx, g_buf, &n));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_NO_CIPHER_SET}});
  ASSERT_EQ(1, EVP_EncryptInit_ex(&ctx, EVP_aes_128_ecb(), nullptr, g_buf, nullptr));
  EXPECT_EQ(0, EVP_EncryptUpdate(&ctx, g_buf, nullptr, g_buf, 16));  // no count pointer
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_ENCRYPTUPDATE, ERR_R_PASSED_NULL_PARAMETER}});
  EXPECT_EQ(0, EVP_CipherInit_ex(nullptr, EVP_rc4(), nullptr, g_buf, nullptr, 1));
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHERINIT_EX, ERR_R_PASSED_NULL_PARAMETER}});
  EVP_CIPHER_CTX_cleanup(&ctx);
}

TEST(NullArguments, EmptyCipherContext) {
  const std::vector<Call> calls = {
      {"EVP_CIPHER_CTX_nid",
       [] {
         EVP_CIPHER_CTX c;
         EVP_CIPHER_CTX_init(&c);
         Require(EVP_CIPHER_CTX_nid(&c) == 0 && EVP_CIPHER_CTX_block_size(&c) == 0 &&
                 EVP_CIPHER_CTX_iv_length(&c) == 0 && EVP_CIPHER_CTX_flags(&c) == 0);
       }},
      {"EVP_Cipher",
       [] {
         EVP_CIPHER_CTX c;
         EVP_CIPHER_CTX_init(&c);
         Require(!EVP_Cipher(&c, g_buf, g_buf, 16));
       }},
      {"EVP_CIPHER_CTX_rand_key",
       [] {
         EVP_CIPHER_CTX c;
         EVP_CIPHER_CTX_init(&c);
         Require(!EVP_CIPHER_CTX_rand_key(&c, g_buf));
       }},
      {"EVP_CIPHER_param_to_asn1",
       [] {
         EVP_CIPHER_CTX c;
         EVP_CIPHER_CTX_init(&c);
         Require(EVP_CIPHER_param_to_asn1(&c, ASN1_TYPE_new()) == -1);
       }},
  };
  RunAll(calls);
}

TEST(NullArguments, ItemFreeAndFileStream) {
  const std::vector<Call> calls = {
      // The item is not read when there is nothing to free.
      {"ASN1_item_free", [] { ASN1_item_free(nullptr, nullptr); }},
      {"BIO_new_file name", [] { Require(BIO_new_file(nullptr, "r") == nullptr); }},
      {"BIO_new_file mode", [] { Require(BIO_new_file("/dev/null", nullptr) == nullptr); }},
  };
  RunAll(calls);
  EXPECT_EQ(nullptr, BIO_new_file(nullptr, "r"));
  EXPECT_ERRORS({{ERR_LIB_BIO, BIO_F_BIO_NEW_FILE, ERR_R_PASSED_NULL_PARAMETER}});
}

TEST(NullArguments, EngineSettersAndGetters) {
  ENGINE* const e = nullptr;
  const std::vector<Call> calls = {
      {"ENGINE_set_id", [=] { Require(!ENGINE_set_id(e, "id")); }},
      {"ENGINE_set_name", [=] { Require(!ENGINE_set_name(e, "name")); }},
      {"ENGINE_get_id", [=] { Require(ENGINE_get_id(e) == nullptr); }},
      {"ENGINE_get_name", [=] { Require(ENGINE_get_name(e) == nullptr); }},
      {"ENGINE_set_flags", [=] { Require(!ENGINE_set_flags(e, 1)); }},
      {"ENGINE_get_flags", [=] { Require(ENGINE_get_flags(e) == 0); }},
      {"ENGINE_set_init_function", [=] { Require(!ENGINE_set_init_function(e, nullptr)); }},
      {"ENGINE_get_init_function", [=] { Require(ENGINE_get_init_function(e) == nullptr); }},
      {"ENGINE_set_cmd_defns", [=] { Require(!ENGINE_set_cmd_defns(e, nullptr)); }},
      {"ENGINE_get_cmd_defns", [=] { Require(ENGINE_get_cmd_defns(e) == nullptr); }},
      {"ENGINE_set_RSA", [=] { Require(!ENGINE_set_RSA(e, nullptr)); }},
      {"ENGINE_get_RSA", [=] { Require(ENGINE_get_RSA(e) == nullptr); }},
      {"ENGINE_set_RAND", [=] { Require(!ENGINE_set_RAND(e, nullptr)); }},
      {"ENGINE_get_RAND", [=] { Require(ENGINE_get_RAND(e) == nullptr); }},
      {"ENGINE_set_ciphers", [=] { Require(!ENGINE_set_ciphers(e, nullptr)); }},
      {"ENGINE_get_ciphers", [=] { Require(ENGINE_get_ciphers(e) == nullptr); }},
      {"ENGINE_set_digests", [=] { Require(!ENGINE_set_digests(e, nullptr)); }},
      {"ENGINE_get_digests", [=] { Require(ENGINE_get_digests(e) == nullptr); }},
      {"ENGINE_register_RSA", [=] { Require(!ENGINE_register_RSA(e)); }},
      {"ENGINE_register_ciphers", [=] { Require(!ENGINE_register_ciphers(e)); }},
      {"ENGINE_set_default_digests", [=] { Require(!ENGINE_set_default_digests(e)); }},
      {"ENGINE_set_default", [=] { Require(!ENGINE_set_default(e, ENGINE_METHOD_ALL)); }},
      {"ENGINE_set_ex_data", [=] { Require(!ENGINE_set_ex_data(e, 0, g_buf)); }},
      {"ENGINE_get_ex_data", [=] { Require(ENGINE_get_ex_data(e, 0) == nullptr); }},
  };
  RunAll(calls);
}

TEST(NullArguments, StacksHashTablesBuffersQueues) {
  const std::vector<Call> calls = {
      {"sk_dup", [] { Require(sk_dup(nullptr) == nullptr); }},
      {"sk_set_cmp_func", [] { Require(sk_set_cmp_func(nullptr, nullptr) == nullptr); }},
      {"sk_num, sk_value, sk_find, sk_push, sk_pop, sk_sort",
       [] {
         Require(sk_num(nullptr) == -1 && sk_value(nullptr, 0) == nullptr &&
                 sk_find(nullptr, nullptr) == -1 && sk_push(nullptr, nullptr) == 0 &&
                 sk_pop(nullptr) == nullptr);
         sk_sort(nullptr);
         sk_zero(nullptr);
         sk_free(nullptr);
       }},
      {"sk_pop_free without a free function",
       [] {
         STACK* sk = sk_new_null();
         sk_push(sk, reinterpret_cast<char*>(g_buf));
         sk_pop_free(sk, nullptr);
       }},
      {"lh_insert, lh_delete, lh_retrieve",
       [] {
         Require(lh_insert(nullptr, g_buf) == nullptr && lh_delete(nullptr, g_buf) == nullptr &&
                 lh_retrieve(nullptr, g_buf) == nullptr && lh_num_items(nullptr) == 0);
         lh_doall(nullptr, nullptr);
         lh_free(nullptr);
       }},
      {"lh_doall with a null function",
       [] {
         LHASH* lh = lh_new(nullptr, nullptr);
         lh_insert(lh, const_cast<char*>("item"));
         lh_doall(lh, nullptr);
         lh_doall_arg(lh, nullptr, nullptr);
       }},
      {"BUF_MEM_grow", [] { Require(BUF_MEM_grow(nullptr, 10) == 0); }},
      {"BUF_MEM_grow_clean", [] { Require(BUF_MEM_grow_clean(nullptr, 10) == 0); }},
      {"BUF_MEM_free", [] { BUF_MEM_free(nullptr); }},
      {"BUF_strdup", [] { Require(BUF_strdup(nullptr) == nullptr); }},
      {"CRYPTO_strdup", [] { Require(CRYPTO_strdup(nullptr, __FILE__, __LINE__) == nullptr); }},
      {"pqueue",
       [] {
         Require(pqueue_peek(nullptr) == nullptr && pqueue_pop(nullptr) == nullptr &&
                 pqueue_size(nullptr) == 0 && pqueue_iterator(nullptr) == nullptr);
         pqueue_free(nullptr);
         pitem_free(nullptr);
       }},
  };
  RunAll(calls);
}

// Each call with only the named argument null (or, for BIO_copy_next_retry,
// a stream without a next one), the others valid.
TEST(NullArguments, StreamsSharedObjectsStatisticsBase64) {
  const std::vector<Call> calls = {
      {"BIO_copy_next_retry(null)", [] { BIO_copy_next_retry(nullptr); }},
      {"BIO_copy_next_retry without a next stream",
       [] {
         BIO* b = BIO_new(BIO_s_mem());
         const int flags = b->flags;
         BIO_copy_next_retry(b);
         Require(b->flags == flags);
         BIO_free(b);
       }},
      {"DSO_get_method", [] { Require(DSO_get_method(nullptr) == nullptr); }},
      {"DSO_set_method",
       [] { Require(DSO_set_method(nullptr, DSO_get_default_method()) == nullptr); }},
      {"lh_stats, lh_node_stats, lh_node_usage_stats",
       [] {
         FILE* fp = tmpfile();
         Require(fp != nullptr);
         lh_stats(nullptr, fp);
         lh_node_stats(nullptr, fp);
         lh_node_usage_stats(nullptr, fp);
         Require(ftell(fp) == 0);
         fclose(fp);
       }},
      {"lh_stats_bio, lh_node_stats_bio, lh_node_usage_stats_bio",
       [] {
         BIO* mem = BIO_new(BIO_s_mem());
         lh_stats_bio(nullptr, mem);
         lh_node_stats_bio(nullptr, mem);
         lh_node_usage_stats_bio(nullptr, mem);
         Require(BIO_pending(mem) == 0);
         BIO_free(mem);
       }},
      {"EVP_EncodeInit", [] { EVP_EncodeInit(nullptr); }},
      {"EVP_EncodeUpdate",
       [] {
         g_n = -1;
         EVP_EncodeUpdate(nullptr, g_buf, &g_n, g_buf, 48);
         Require(g_n == 0);
       }},
      {"EVP_EncodeFinal",
       [] {
         g_n = -1;
         EVP_EncodeFinal(nullptr, g_buf, &g_n);
         Require(g_n == 0);
       }},
      {"EVP_DecodeInit", [] { EVP_DecodeInit(nullptr); }},
      {"EVP_DecodeUpdate",
       [] {
         g_n = -1;
         Require(EVP_DecodeUpdate(nullptr, g_buf, &g_n,
                                  reinterpret_cast<const unsigned char*>("QUJD\n"), 5) == -1);
         Require(g_n == 0);
       }},
      {"EVP_DecodeFinal",
       [] {
         g_n = -1;
         Require(EVP_DecodeFinal(nullptr, g_buf, &g_n) == -1);
         Require(g_n == 0);
       }},
  };
  RunAll(calls);
  EXPECT_ERRORS({});
}

TEST(NullArguments, HmacPasswordsAndPkcs8) {
  const std::vector<Call> calls = {
      {"HMAC_CTX_init/cleanup/set_flags",
       [] {
         HMAC_CTX_init(nullptr);
         HMAC_CTX_cleanup(nullptr);
         HMAC_CTX_set_flags(nullptr, 1);
       }},
      {"HMAC_Init_ex", [] { Require(!HMAC_Init_ex(nullptr, g_buf, 1, EVP_sha1(), nullptr)); }},
      {"HMAC_Update", [] { Require(!HMAC_Update(nullptr, g_buf, 1)); }},
      {"HMAC_Final", [] { Require(!HMAC_Final(nullptr, g_buf, nullptr)); }},
      {"HMAC without digest", [] { Require(!HMAC(nullptr, g_buf, 1, g_buf, 1, g_buf, nullptr)); }},
      {"EVP_BytesToKey",
       [] { Require(!EVP_BytesToKey(nullptr, nullptr, nullptr, g_buf, 1, 1, g_buf, g_buf)); }},
      {"EVP_read_pw_string", [] { Require(EVP_read_pw_string(nullptr, 8, "p", 0) == -1); }},
      {"EVP_set_pw_prompt", [] { EVP_set_pw_prompt(nullptr); }},
      {"EVP_PBE_CipherInit", [] { Require(!EVP_PBE_CipherInit(nullptr, nullptr, 0, nullptr, nullptr, 1)); }},
      {"PKCS5_PBE_keyivgen",
       [] { Require(!PKCS5_PBE_keyivgen(nullptr, nullptr, 0, nullptr, nullptr, nullptr, 1)); }},
      {"PKCS5_v2_PBE_keyivgen",
       [] { Require(!PKCS5_v2_PBE_keyivgen(nullptr, nullptr, 0, nullptr, nullptr, nullptr, 1)); }},
      {"PKCS5_PBKDF2_HMAC_SHA1",
       [] { Require(!PKCS5_PBKDF2_HMAC_SHA1(nullptr, 0, nullptr, 4, 1, 20, nullptr)); }},
      {"PKCS5_pbe2_set", [] { Require(PKCS5_pbe2_set(nullptr, 1, nullptr, 0) == nullptr); }},
      {"EVP_PKCS82PKEY", [] { Require(EVP_PKCS82PKEY(nullptr) == nullptr); }},
      {"EVP_PKEY2PKCS8", [] { Require(EVP_PKEY2PKCS8(nullptr) == nullptr); }},
      {"PKCS8_set_broken", [] { Require(PKCS8_set_broken(nullptr, 0) == nullptr); }},
      {"X509at on null lists",
       [] {
         Require(X509at_get_attr_count(nullptr) == -1 &&
                 X509at_get_attr_by_NID(nullptr, 49, -1) == -1 &&
                 X509at_get_attr_by_OBJ(nullptr, nullptr, -1) == -1 &&
                 X509at_get_attr(nullptr, 0) == nullptr &&
                 X509at_delete_attr(nullptr, 0) == nullptr &&
                 X509at_add1_attr(nullptr, nullptr) == nullptr &&
                 X509at_add1_attr_by_OBJ(nullptr, nullptr, 4, g_buf, 1) == nullptr &&
                 X509at_add1_attr_by_txt(nullptr, nullptr, 4, g_buf, 1) == nullptr);
       }},
      {"EVP_PKEY attributes of a null key",
       [] {
         Require(EVP_PKEY_get_attr_count(nullptr) == -1 && EVP_PKEY_get_attr(nullptr, 0) == nullptr &&
                 EVP_PKEY_delete_attr(nullptr, 0) == nullptr && !EVP_PKEY_add1_attr(nullptr, nullptr) &&
                 !EVP_PKEY_add1_attr_by_NID(nullptr, 49, 4, g_buf, 1));
       }},
  };
  RunAll(calls);
}

TEST(NullArguments, CertificatesAndKeys) {
  const std::vector<Call> calls = {
      {"X509_NAME_oneline",
       [] {
         char* text = X509_NAME_oneline(nullptr, nullptr, 0);
         Require(text != nullptr && strcmp(text, "NO X509_NAME") == 0);
         MORVANE_free(text);
       }},
      {"X509_INFO_free, X509_PKEY_free",
       [] {
         X509_INFO_free(nullptr);
         X509_PKEY_free(nullptr);
       }},
      {"i2d_X509_AUX", [] { Require(i2d_X509_AUX(nullptr, nullptr) == 0); }},
      {"d2i_X509_PKEY",
       [] {
         const unsigned char der[] = {0x30, 0x00};
         const unsigned char* p = der;
         Require(d2i_X509_PKEY(nullptr, &p, sizeof der) == nullptr);
       }},
      {"X509_PUBKEY_set", [] { Require(X509_PUBKEY_set(nullptr, nullptr) == 0); }},
      {"X509_PUBKEY_get", [] { Require(X509_PUBKEY_get(nullptr) == nullptr); }},
      {"i2d_PUBKEY and the typed forms",
       [] {
         Require(i2d_PUBKEY(nullptr, nullptr) == 0 && i2d_RSA_PUBKEY(nullptr, nullptr) == 0 &&
                 i2d_DSA_PUBKEY(nullptr, nullptr) == 0 && i2d_EC_PUBKEY(nullptr, nullptr) == 0);
       }},
      {"i2d_PrivateKey, i2d_PublicKey",
       [] {
         Require(i2d_PrivateKey(nullptr, nullptr) == -1 && i2d_PublicKey(nullptr, nullptr) == -1);
       }},
      {"AUTHORITY_KEYID_free, policy_cache_free",
       [] {
         AUTHORITY_KEYID_free(nullptr);
         policy_cache_free(nullptr);
       }},
      {"name entries of a null name",
       [] {
         char buf[4];
         Require(X509_NAME_entry_count(nullptr) == 0 &&
                 X509_NAME_get_index_by_NID(nullptr, 13, -1) == -1 &&
                 X509_NAME_get_index_by_OBJ(nullptr, nullptr, -1) == -1 &&
                 X509_NAME_get_text_by_NID(nullptr, 13, buf, 4) == -1 &&
                 X509_NAME_get_entry(nullptr, 0) == nullptr &&
                 X509_NAME_delete_entry(nullptr, 0) == nullptr &&
                 X509_NAME_add_entry(nullptr, nullptr, 0, 0) == 0 &&
                 X509_NAME_add_entry_by_NID(nullptr, 13, 12, g_buf, 1, -1, 0) == 0 &&
                 X509_NAME_ENTRY_set_object(nullptr, nullptr) == 0 &&
                 X509_NAME_ENTRY_set_data(nullptr, 12, g_buf, 1) == 0 &&
                 X509_NAME_ENTRY_get_object(nullptr) == nullptr &&
                 X509_NAME_ENTRY_get_data(nullptr) == nullptr &&
                 X509_NAME_ENTRY_create_by_txt(nullptr, nullptr, 12, g_buf, 1) == nullptr);
       }},
      {"X509_NAME_cmp, X509_NAME_hash, the public key of a null certificate",
       [] {
         Require(X509_NAME_cmp(nullptr, nullptr) == 0 && X509_NAME_hash(nullptr) == 0 &&
                 X509_get_pubkey(nullptr) == nullptr &&
                 X509_get0_pubkey_bitstr(nullptr) == nullptr &&
                 X509_find_by_issuer_and_serial(nullptr, nullptr, nullptr) == nullptr &&
                 X509_find_by_subject(nullptr, nullptr) == nullptr);
       }},
      {"extension lists and extensions",
       [] {
         Require(X509v3_get_ext_count(nullptr) == 0 &&
                 X509v3_get_ext_by_NID(nullptr, 83, -1) == -1 &&
                 X509v3_get_ext_by_OBJ(nullptr, nullptr, -1) == -1 &&
                 X509v3_get_ext_by_critical(nullptr, 1, -1) == -1 &&
                 X509v3_get_ext(nullptr, 0) == nullptr && X509v3_delete_ext(nullptr, 0) == nullptr &&
                 X509v3_add_ext(nullptr, nullptr, 0) == nullptr &&
                 X509_EXTENSION_create_by_OBJ(nullptr, nullptr, 0, nullptr) == nullptr &&
                 X509_EXTENSION_set_object(nullptr, nullptr) == 0 &&
                 X509_EXTENSION_set_critical(nullptr, 1) == 0 &&
                 X509_EXTENSION_set_data(nullptr, nullptr) == 0 &&
                 X509_EXTENSION_get_object(nullptr) == nullptr &&
                 X509_EXTENSION_get_data(nullptr) == nullptr &&
                 X509_EXTENSION_get_critical(nullptr) == 0);
       }},
      {"single attributes",
       [] {
         Require(X509_ATTRIBUTE_create_by_OBJ(nullptr, nullptr, 12, g_buf, 1) == nullptr &&
                 X509_ATTRIBUTE_create_by_txt(nullptr, nullptr, 12, g_buf, 1) == nullptr &&
                 X509_ATTRIBUTE_set1_object(nullptr, nullptr) == 0 &&
                 X509_ATTRIBUTE_set1_data(nullptr, 12, g_buf, 1) == 0 &&
                 X509_ATTRIBUTE_count(nullptr) == 0 &&
                 X509_ATTRIBUTE_get0_object(nullptr) == nullptr &&
                 X509_ATTRIBUTE_get0_type(nullptr, 0) == nullptr &&
                 X509_ATTRIBUTE_get0_data(nullptr, 0, 12, nullptr) == nullptr &&
                 X509at_get0_data_by_OBJ(nullptr, nullptr, -1, 12) == nullptr);
       }},
  };
  RunAll(calls);
}

}  // namespace
