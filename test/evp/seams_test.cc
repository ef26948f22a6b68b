// What the envelope and the codecs rely on of the runtime core, the digests,
// the engine table and the public-key algorithms, one pinned line each, so a
// change below cannot silently break what is built on it.

#include <cstring>
#include <type_traits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/conf.h>
#include <morvane/crypto.h>
#include <morvane/dh.h>
#include <morvane/dsa.h>
#include <morvane/ec.h>
#include <morvane/ecdh.h>
#include <morvane/ecdsa.h>
#include <morvane/engine.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pkcs12.h>
#include <morvane/rsa.h>
#include <morvane/sha.h>

#include "test_support.h"

namespace {

using morvane_test::ErrorsAre;

// The stream controls of the digest, cipher and base64 filters and of the
// memory stream, and the base64 filter's flag.
static_assert(BIO_C_SET_MD == 111 && BIO_C_GET_MD == 112 && BIO_C_GET_CIPHER_STATUS == 113 &&
              BIO_C_GET_MD_CTX == 120 && BIO_C_GET_CIPHER_CTX == 129 &&
              BIO_C_SET_BUF_MEM_EOF_RETURN == 130 && BIO_C_SET_MD_CTX == 148 &&
              BIO_FLAGS_BASE64_NO_NL == 0x100);

TEST(Seams, RuntimeCoreAndDigests) {
  // CONF_parse_list: an empty element comes as (null, 0).
  std::vector<std::string> seen;
  auto record = [](const char* e, int n, void* arg) {
    static_cast<std::vector<std::string>*>(arg)->push_back(e ? std::string(e, n) : "(null)");
    return 1;
  };
  EXPECT_EQ(CONF_parse_list("a,,b", ',', 1, record, &seen), 1);
  EXPECT_EQ(seen, (std::vector<std::string>{"a", "(null)", "b"}));
  // ERR_set_mark / ERR_pop_to_mark.
  EXPECT_EQ(ERR_set_mark(), 0);
  ERR_put_error(ERR_LIB_EVP, 0, 1, "a", 1);
  EXPECT_EQ(ERR_set_mark(), 1);
  ERR_put_error(ERR_LIB_EVP, 0, 2, "b", 2);
  EXPECT_EQ(ERR_pop_to_mark(), 1);
  EXPECT_TRUE(ErrorsAre({{ERR_LIB_EVP, 0, 1}}));
  // BUF_MEM_grow_clean: released and new bytes are zero.
  BUF_MEM* buf = BUF_MEM_new();
  ASSERT_EQ(BUF_MEM_grow_clean(buf, 10), 10);
  memset(buf->data, 'x', 10);
  EXPECT_EQ(BUF_MEM_grow_clean(buf, 4), 4);
  EXPECT_EQ(BUF_MEM_grow_clean(buf, 100), 100);
  EXPECT_EQ(std::string(buf->data, 100), std::string(4, 'x') + std::string(96, '\0'));
  BUF_MEM_free(buf);
  // BIO_indent writes min(indent, max) blanks, none for a negative indent.
  BIO* mem = BIO_new(BIO_s_mem());
  EXPECT_EQ(BIO_indent(mem, 5, 3), 1);
  EXPECT_EQ(BIO_indent(mem, -2, 3), 1);
  char* text = nullptr;
  const long indented = BIO_get_mem_data(mem, &text);
  EXPECT_EQ(std::string(text, static_cast<size_t>(indented)), "   ");
  BIO_free(mem);
  // CRYPTO_mem_ctrl: 3 suspends and 2 resumes this thread's leak recording.
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 0);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 1);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_OFF);
  // SHA256_Final writes md_len bytes (28 after SHA224_Init).
  SHA256_CTX c;
  unsigned char md[33];
  memset(md, 0xEE, sizeof md);
  SHA224_Init(&c);
  EXPECT_EQ(SHA256_Final(md, &c), 1);
  EXPECT_EQ(md[27] != 0xEE && md[28] == 0xEE, true);
  SHA256_Init(&c);
  c.md_len = 33;
  EXPECT_EQ(SHA256_Final(md, &c), 0);
  EXPECT_TRUE(ErrorsAre({}));
}

TEST(Seams, EngineTableWithNoRegistration) {
  EXPECT_EQ(ENGINE_get_digest_engine(64), nullptr);
  EXPECT_TRUE(ErrorsAre({}));  // selection never queues
  EXPECT_EQ(ENGINE_get_digest(nullptr, 64), nullptr);
  EXPECT_EQ(ENGINE_init(nullptr), 0);
  EXPECT_EQ(ENGINE_finish(nullptr), 0);
  EXPECT_TRUE(
      ErrorsAre({{ERR_LIB_ENGINE, ENGINE_F_ENGINE_GET_DIGEST, ENGINE_R_UNIMPLEMENTED_DIGEST},
                 {ERR_LIB_ENGINE, ENGINE_F_ENGINE_INIT, ERR_R_PASSED_NULL_PARAMETER},
                 {ERR_LIB_ENGINE, ENGINE_F_ENGINE_FINISH, ERR_R_PASSED_NULL_PARAMETER}}));
}

// ---- the envelope's public-key slots ---------------------------------------

TEST(Seams, PublicKeySlotsReachTheirComponents) {
  alignas(16) static unsigned char not_a_key[512];
  PKCS12_PBE_add();  // adds its rows and reports nothing
  EXPECT_TRUE(ErrorsAre({}));
  // The envelope's signing slots reach ECDSA: bytes that are no signature.
  EXPECT_EQ(EVP_ecdsa()->verify(416, not_a_key, 20, not_a_key, 46, nullptr), -1);
  ERR_clear_error();
}

}  // namespace
