// The cipher envelope's cases as tables: every built-in description's
// numbers, buffering and padding, set-up and control results, the mapping to
// AlgorithmIdentifier NIDs, the description edge cases (ECB remainders,
// CFB1 bit lengths, two-key triple DES, random keys, RC2 bits, null, RC4),
// IV parameters through ASN1_TYPE, in-place decryption, and the limits.

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::ErrorsAre;
using morvane_test::FromHex;
using morvane_test::ToHex;
using Getter = const EVP_CIPHER* (*)();

struct Ctx {
  EVP_CIPHER_CTX c;
  Ctx() { EVP_CIPHER_CTX_init(&c); }
  ~Ctx() { EVP_CIPHER_CTX_cleanup(&c); }
  EVP_CIPHER_CTX* operator&() { return &c; }
};

// Function, NID, block, key, IV, flags (the compatibility names included).
struct Desc {
  Getter f;
  int nid, block, key, iv;
  unsigned long flags;
};
const Desc kDescs[] = {
    {EVP_aes_128_ecb, 418, 16, 16, 0, 0x1401},   {EVP_aes_128_cbc, 419, 16, 16, 16, 0x1402},
    {EVP_aes_128_ofb, 420, 1, 16, 16, 0x1404},   {EVP_aes_128_cfb128, 421, 1, 16, 16, 0x1403},
    {EVP_aes_128_cfb, 421, 1, 16, 16, 0x1403},   {EVP_aes_128_cfb1, 650, 1, 16, 16, 0x1403},
    {EVP_aes_128_cfb8, 653, 1, 16, 16, 0x1403},  {EVP_aes_192_ecb, 422, 16, 24, 0, 0x1401},
    {EVP_aes_192_cbc, 423, 16, 24, 16, 0x1402},  {EVP_aes_192_ofb, 424, 1, 24, 16, 0x1404},
    {EVP_aes_192_cfb128, 425, 1, 24, 16, 0x1403}, {EVP_aes_192_cfb, 425, 1, 24, 16, 0x1403},
    {EVP_aes_192_cfb1, 651, 1, 24, 16, 0x1403},  {EVP_aes_192_cfb8, 654, 1, 24, 16, 0x1403},
    {EVP_aes_256_ecb, 426, 16, 32, 0, 0x1401},   {EVP_aes_256_cbc, 427, 16, 32, 16, 0x1402},
    {EVP_aes_256_ofb, 428, 1, 32, 16, 0x1404},   {EVP_aes_256_cfb128, 429, 1, 32, 16, 0x1403},
    {EVP_aes_256_cfb, 429, 1, 32, 16, 0x1403},   {EVP_aes_256_cfb1, 652, 1, 32, 16, 0x1403},
    {EVP_aes_256_cfb8, 655, 1, 32, 16, 0x1403},  {EVP_bf_ecb, 92, 8, 16, 0, 0x9},
    {EVP_bf_cbc, 91, 8, 16, 8, 0xa},             {EVP_bf_cfb64, 93, 1, 16, 8, 0xb},
    {EVP_bf_cfb, 93, 1, 16, 8, 0xb},             {EVP_bf_ofb, 94, 1, 16, 8, 0xc},
    {EVP_cast5_ecb, 109, 8, 16, 0, 0x9},         {EVP_cast5_cbc, 108, 8, 16, 8, 0xa},
    {EVP_cast5_cfb64, 110, 1, 16, 8, 0xb},       {EVP_cast5_cfb, 110, 1, 16, 8, 0xb},
    {EVP_cast5_ofb, 111, 1, 16, 8, 0xc},         {EVP_des_ecb, 29, 8, 8, 0, 0x201},
    {EVP_des_cbc, 31, 8, 8, 8, 0x202},           {EVP_des_cfb64, 30, 1, 8, 8, 0x203},
    {EVP_des_cfb, 30, 1, 8, 8, 0x203},           {EVP_des_ofb, 45, 1, 8, 8, 0x204},
    {EVP_des_cfb1, 656, 1, 8, 8, 0x203},         {EVP_des_cfb8, 657, 1, 8, 8, 0x203},
    {EVP_des_ede_ecb, 32, 8, 16, 0, 0x1601},     {EVP_des_ede, 32, 8, 16, 0, 0x1601},
    {EVP_des_ede_cbc, 43, 8, 16, 8, 0x1602},     {EVP_des_ede_cfb64, 60, 1, 16, 8, 0x1603},
    {EVP_des_ede_cfb, 60, 1, 16, 8, 0x1603},     {EVP_des_ede_ofb, 62, 1, 16, 8, 0x1604},
    {EVP_des_ede3_ecb, 33, 8, 24, 0, 0x1601},    {EVP_des_ede3, 33, 8, 24, 0, 0x1601},
    {EVP_des_ede3_cbc, 44, 8, 24, 8, 0x1602},    {EVP_des_ede3_cfb64, 61, 1, 24, 8, 0x1603},
    {EVP_des_ede3_cfb, 61, 1, 24, 8, 0x1603},    {EVP_des_ede3_ofb, 63, 1, 24, 8, 0x1604},
    {EVP_des_ede3_cfb1, 658, 1, 24, 8, 0x1603},  {EVP_des_ede3_cfb8, 659, 1, 24, 8, 0x1603},
    {EVP_desx_cbc, 80, 8, 24, 8, 0x2},           {EVP_idea_ecb, 36, 8, 16, 0, 0x1},
    {EVP_idea_cbc, 34, 8, 16, 8, 0x2},           {EVP_idea_cfb64, 35, 1, 16, 8, 0x3},
    {EVP_idea_cfb, 35, 1, 16, 8, 0x3},           {EVP_idea_ofb, 46, 1, 16, 8, 0x4},
    {EVP_rc2_ecb, 38, 8, 16, 0, 0x49},           {EVP_rc2_cbc, 37, 8, 16, 8, 0x4a},
    {EVP_rc2_cfb64, 39, 1, 16, 8, 0x4b},         {EVP_rc2_cfb, 39, 1, 16, 8, 0x4b},
    {EVP_rc2_ofb, 40, 1, 16, 8, 0x4c},           {EVP_rc2_64_cbc, 166, 8, 8, 8, 0x4a},
    {EVP_rc2_40_cbc, 98, 8, 5, 8, 0x4a},         {EVP_rc4, 5, 1, 16, 0, 0x8},
    {EVP_rc4_40, 97, 1, 5, 0, 0x8},              {EVP_enc_null, 0, 1, 0, 0, 0x400},
};

// Every description: its numbers, and a round trip with padding over 37
// bytes, byte by byte for decryption (in place), that restores the input.
TEST(CipherDescriptions, NumbersAndRoundTrip) {
  const Bytes msg(37, 0x5c);
  for (const Desc& d : kDescs) {
    const EVP_CIPHER* c = d.f();
    SCOPED_TRACE(d.nid);
    EXPECT_EQ(EVP_CIPHER_nid(c), d.nid);
    EXPECT_EQ(EVP_CIPHER_block_size(c), d.block);
    EXPECT_EQ(EVP_CIPHER_key_length(c), d.key);
    EXPECT_EQ(EVP_CIPHER_iv_length(c), d.iv);
    EXPECT_EQ(EVP_CIPHER_flags(c), d.flags);
    Bytes key(32), iv(16);
    for (size_t i = 0; i < 32; ++i) key[i] = static_cast<uint8_t>(7 * i + 1);
    Ctx ctx;
    Bytes buf(msg.size() + 32);
    int n = 0, m = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(&ctx, c, nullptr, key.data(), iv.data()), 1);
    ASSERT_EQ(EVP_EncryptUpdate(&ctx, buf.data(), &n, msg.data(), 37), 1);
    ASSERT_EQ(EVP_EncryptFinal_ex(&ctx, buf.data() + n, &m), 1);
    const int total = n + m;
    EXPECT_EQ(total, d.block == 1 ? 37 : (37 / d.block + 1) * d.block);
    if (d.nid != 0) {
      EXPECT_NE(ToHex(Bytes(buf.begin(), buf.begin() + 37)), ToHex(msg));
    }
    ASSERT_EQ(EVP_DecryptInit_ex(&ctx, nullptr, nullptr, key.data(), iv.data()), 1);
    int out = 0;
    for (int i = 0; i < total; ++i) {
      ASSERT_EQ(EVP_DecryptUpdate(&ctx, buf.data() + out, &n, buf.data() + i, 1), 1);
      out += n;
    }
    ASSERT_EQ(EVP_DecryptFinal_ex(&ctx, buf.data() + out, &m), 1);
    EXPECT_EQ(out + m, 37);
    EXPECT_EQ(ToHex(Bytes(buf.begin(), buf.begin() + 37)), ToHex(msg));
  }
}

// In-place decryption over several updates equals out-of-place decryption
// (the held-back block used to overwrite input not yet decrypted).
TEST(CipherContext, InPlaceMultiUpdateDecryption) {
  const Bytes key(16, 3), iv(16, 4);
  Bytes msg(100);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = static_cast<uint8_t>(i);
  Ctx ctx;
  Bytes ct(128);
  int n = 0, m = 0;
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv.data()), 1);
  ASSERT_EQ(EVP_EncryptUpdate(&ctx, ct.data(), &n, msg.data(), 100), 1);
  ASSERT_EQ(EVP_EncryptFinal_ex(&ctx, ct.data() + n, &m), 1);
  ASSERT_EQ(n + m, 112);
  for (const std::vector<int>& pieces : std::vector<std::vector<int>>{
           {16, 32, 64}, {32, 32, 48}, {16, 16, 16, 16, 16, 16, 16}, {5, 27, 80}}) {
    Bytes buf = ct;
    ASSERT_EQ(EVP_DecryptInit_ex(&ctx, nullptr, nullptr, key.data(), iv.data()), 1);
    int in = 0, out = 0;
    for (int p : pieces) {
      ASSERT_EQ(EVP_DecryptUpdate(&ctx, buf.data() + out, &n, buf.data() + in, p), 1);
      in += p;
      out += n;
    }
    ASSERT_EQ(EVP_DecryptFinal_ex(&ctx, buf.data() + out, &m), 1);
    EXPECT_EQ(ToHex(Bytes(buf.begin(), buf.begin() + out + m)), ToHex(msg));
  }
}

TEST(CipherContext, PaddingAndBlockLengthErrors) {
  const Bytes key(8, 0x13), iv(8, 0);
  Ctx ctx;
  Bytes out(40);
  int n = 0, m = 0;
  // 16 bytes of DES-CBC: 24 bytes, the last block eight bytes of 8 decrypted.
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_cbc(), nullptr, key.data(), iv.data()), 1);
  ASSERT_EQ(EVP_EncryptUpdate(&ctx, out.data(), &n, Bytes(16, 1).data(), 16), 1);
  ASSERT_EQ(EVP_EncryptFinal_ex(&ctx, out.data() + n, &m), 1);
  EXPECT_EQ(n + m, 24);
  ASSERT_EQ(EVP_DecryptInit_ex(&ctx, nullptr, nullptr, key.data(), iv.data()), 1);
  EVP_CIPHER_CTX_set_padding(&ctx, 0);
  ASSERT_EQ(EVP_DecryptUpdate(&ctx, out.data(), &n, out.data(), 24), 1);
  EXPECT_EQ(ToHex(Bytes(out.begin() + 16, out.begin() + 24)), "0808080808080808");
  // Padding off and bytes left over: both directions fail at the final call.
  for (int enc : {1, 0}) {
    ASSERT_EQ(EVP_CipherInit_ex(&ctx, nullptr, nullptr, key.data(), iv.data(), enc), 1);
    ASSERT_EQ(EVP_CipherUpdate(&ctx, out.data(), &n, out.data(), 5), 1);
    EXPECT_EQ(EVP_CipherFinal_ex(&ctx, out.data(), &m), 0);
    if (enc) {
      EXPECT_EQ(ERR_peek_error(), 0x0607F08AUL);
    }
    EXPECT_ERRORS({{ERR_LIB_EVP, enc ? EVP_F_EVP_ENCRYPTFINAL_EX : EVP_F_EVP_DECRYPTFINAL_EX,
                    EVP_R_DATA_NOT_MULTIPLE_OF_BLOCK_LENGTH}});
  }
  // A negative length writes nothing and fails; zero succeeds.
  n = 99;
  EXPECT_EQ(EVP_EncryptUpdate(&ctx, out.data(), &n, out.data(), -1), 0);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(EVP_EncryptUpdate(&ctx, out.data(), &n, out.data(), 0), 1);
}

TEST(CipherContext, SetUpControlAndKeyLength) {
  Ctx ctx;
  EXPECT_EQ(EVP_CIPHER_CTX_ctrl(&ctx, EVP_CTRL_INIT, 0, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHER_CTX_CTRL, EVP_R_NO_CIPHER_SET}});
  EXPECT_EQ(EVP_CipherInit_ex(&ctx, nullptr, nullptr, nullptr, nullptr, 1), 0);
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHERINIT_EX, EVP_R_NO_CIPHER_SET}});
  // enc -1 with no key keeps direction and key and takes the new IV.
  const Bytes key(16, 9), iv1(16, 1), iv2(16, 2), msg(16, 0x42);
  ASSERT_EQ(EVP_DecryptInit_ex(&ctx, EVP_aes_128_cbc(), nullptr, key.data(), iv1.data()), 1);
  ASSERT_EQ(EVP_CipherInit_ex(&ctx, nullptr, nullptr, nullptr, iv2.data(), -1), 1);
  EXPECT_EQ(ctx.c.encrypt, 0);
  EXPECT_EQ(0, memcmp(ctx.c.iv, iv2.data(), 16));
  EXPECT_EQ(0, memcmp(ctx.c.oiv, iv2.data(), 16));
  // Fixed-length descriptions take only their own length.
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, 16), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, 24), 0);
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHER_CTX_SET_KEY_LENGTH, EVP_R_INVALID_KEY_LENGTH}});
  EXPECT_EQ(EVP_CIPHER_CTX_ctrl(&ctx, EVP_CTRL_RAND_KEY, 0, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHER_CTX_CTRL, EVP_R_CTRL_NOT_IMPLEMENTED}});
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_cbc(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_ctrl(&ctx, EVP_CTRL_INIT, 0, nullptr), 0);
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHER_CTX_CTRL, EVP_R_CTRL_OPERATION_NOT_IMPLEMENTED}});
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_bf_cbc(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, 7), 1);
  EXPECT_EQ(EVP_CIPHER_CTX_key_length(&ctx), 7);
  EXPECT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, 0), 0);
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_CIPHER_CTX_SET_KEY_LENGTH, EVP_R_INVALID_KEY_LENGTH}});
}

TEST(CipherContext, AlgorithmIdentifierNids) {
  const struct {
    Getter f;
    int type;
  } kTypes[] = {{EVP_des_cfb8, 30},      {EVP_des_cfb1, 30},       {EVP_rc2_40_cbc, 37},
                {EVP_rc2_64_cbc, 37},    {EVP_rc4_40, 5},          {EVP_aes_192_cfb1, 425},
                {EVP_aes_256_cfb8, 429}, {EVP_aes_128_cbc, 419},   {EVP_desx_cbc, 0},
                {EVP_des_ede3_cfb64, 0}, {EVP_des_ede3_cfb1, 0},   {EVP_des_ede3_cfb8, 0}};
  for (const auto& t : kTypes) EXPECT_EQ(EVP_CIPHER_type(t.f()), t.type) << t.f()->nid;
}

TEST(CipherDescriptions, EdgeCases) {
  Ctx ctx;
  const Bytes k1 = FromHex("0123456789abcdef"), k2 = FromHex("fedcba9876543210");
  Bytes out(24, 0xEE), in(24, 0x11);
  // ECB through EVP_Cipher: fewer bytes than a block write nothing; 20 of 8.
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_ecb(), nullptr, k1.data(), nullptr), 1);
  EXPECT_EQ(EVP_Cipher(&ctx, out.data(), in.data(), 7), 1);
  EXPECT_EQ(out, Bytes(24, 0xEE));
  EXPECT_EQ(EVP_Cipher(&ctx, out.data(), in.data(), 20), 1);
  EXPECT_EQ(ToHex(Bytes(out.begin() + 16, out.end())), "eeeeeeeeeeeeeeee");
  EXPECT_NE(out[15], 0xEE);
  // Two-key triple DES K1||K2 equals three-key K1||K2||K1.
  Bytes two = k1, three = k1, o2(24), o3(24);
  two.insert(two.end(), k2.begin(), k2.end());
  three.insert(three.end(), k2.begin(), k2.end());
  three.insert(three.end(), k1.begin(), k1.end());
  const Bytes iv(8, 0x77);
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_ede_cbc(), nullptr, two.data(), iv.data()), 1);
  EVP_Cipher(&ctx, o2.data(), in.data(), 24);
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_ede3_cbc(), nullptr, three.data(), iv.data()), 1);
  EVP_Cipher(&ctx, o3.data(), in.data(), 24);
  EXPECT_EQ(o2, o3);
  // DES CFB1: 2 bytes without the bit flag are 16 bits; with the flag, 3 bits
  // leave the other bits of the output byte alone.
  Bytes bytes_run(2), bits_run(2, 0);
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_cfb1(), nullptr, k1.data(), iv.data()), 1);
  EVP_Cipher(&ctx, bytes_run.data(), in.data(), 2);
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, nullptr, nullptr, nullptr, iv.data()), 1);
  EVP_CIPHER_CTX_set_flags(&ctx, EVP_CIPH_FLAG_LENGTH_BITS);
  EVP_Cipher(&ctx, bits_run.data(), in.data(), 16);
  EXPECT_EQ(bytes_run, bits_run);
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, nullptr, nullptr, nullptr, iv.data()), 1);
  Bytes three_bits = {0x1F};
  EVP_Cipher(&ctx, three_bits.data(), in.data(), 3);
  EXPECT_EQ(three_bits[0], (bytes_run[0] & 0xE0) | 0x1F);
  // A random 16-byte triple-DES key has odd parity in every byte.
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_des_ede_cbc(), nullptr, nullptr, nullptr), 1);
  for (int round = 0; round < 8; ++round) {
    Bytes rk(16);
    ASSERT_EQ(EVP_CIPHER_CTX_rand_key(&ctx, rk.data()), 1);
    for (uint8_t b : rk) EXPECT_EQ(__builtin_popcount(b) % 2, 1);
  }
  // RC2-40-CBC starts at 40 effective bits.
  int bits = 0;
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_rc2_40_cbc(), nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(EVP_CIPHER_CTX_ctrl(&ctx, EVP_CTRL_GET_RC2_KEY_BITS, 0, &bits), 1);
  EXPECT_EQ(bits, 40);
  // The null cipher copies, also in place.
  Bytes n_out(5);
  int n = 0;
  ASSERT_EQ(EVP_EncryptInit_ex(&ctx, EVP_enc_null(), nullptr, nullptr, nullptr), 1);
  ASSERT_EQ(EVP_EncryptUpdate(&ctx, n_out.data(), &n, k1.data(), 5), 1);
  EXPECT_EQ(n_out, Bytes(k1.begin(), k1.begin() + 5));
  ASSERT_EQ(EVP_EncryptUpdate(&ctx, n_out.data(), &n, n_out.data(), 5), 1);
  EXPECT_EQ(n_out, Bytes(k1.begin(), k1.begin() + 5));
}

// RFC 6229 key streams at offset 0 (40-bit and 128-bit keys).
TEST(CipherDescriptions, Rc4Rfc6229) {
  const struct {
    Getter f;
    const char *key, *stream;
  } kStreams[] = {
      {EVP_rc4_40, "0102030405", "b2396305f03dc027ccc3524a0a1118a8"},
      {EVP_rc4, "0102030405060708090a0b0c0d0e0f10", "9ac7cc9a609d1ef7b2932899cde41b97"}};
  for (const auto& s : kStreams) {
    Ctx ctx;
    const Bytes key = FromHex(s.key), zero(16, 0);
    Bytes out(16);
    int n = 0;
    ASSERT_EQ(EVP_EncryptInit_ex(&ctx, s.f(), nullptr, key.data(), nullptr), 1);
    ASSERT_EQ(EVP_EncryptUpdate(&ctx, out.data(), &n, zero.data(), 16), 1);
    EXPECT_EQ(ToHex(out), s.stream);
  }
}

// IV parameters through ASN1_TYPE: AES-128-CBC writes its IV, a fresh
// context reads it back; RC2 versions 58 (128 bits) and 59 (unknown).
TEST(CipherParameters, IvAndRc2ThroughAsn1Type) {
  const Bytes key(16, 5), iv = FromHex("000102030405060708090a0b0c0d0e0f");
  Ctx a, b;
  ASSERT_EQ(EVP_EncryptInit_ex(&a, EVP_aes_128_cbc(), nullptr, key.data(), iv.data()), 1);
  ASN1_TYPE* t = ASN1_TYPE_new();
  ASSERT_EQ(EVP_CIPHER_param_to_asn1(&a, t), 1);
  ASSERT_EQ(EVP_DecryptInit_ex(&b, EVP_aes_128_cbc(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EVP_CIPHER_asn1_to_param(&b, t), 16);
  EXPECT_EQ(0, memcmp(b.c.iv, iv.data(), 16));
  EXPECT_EQ(EVP_CIPHER_param_to_asn1(&b, nullptr), 0);
  ASSERT_EQ(EVP_EncryptInit_ex(&b, EVP_rc4(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EVP_CIPHER_param_to_asn1(&b, t), -1);

  unsigned char rc2_iv[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (long version : {58L, 59L}) {
    ASSERT_EQ(ASN1_TYPE_set_int_octetstring(t, version, rc2_iv, 8), 1);
    Ctx c;
    ASSERT_EQ(EVP_DecryptInit_ex(&c, EVP_rc2_40_cbc(), nullptr, nullptr, nullptr), 1);
    if (version == 58) {
      EXPECT_EQ(EVP_CIPHER_asn1_to_param(&c, t), 8);
      int bits = 0;
      ASSERT_EQ(EVP_CIPHER_CTX_ctrl(&c, EVP_CTRL_GET_RC2_KEY_BITS, 0, &bits), 1);
      EXPECT_EQ(bits, 128);
      EXPECT_EQ(EVP_CIPHER_CTX_key_length(&c), 16);
      EXPECT_EQ(0, memcmp(c.c.iv, rc2_iv, 8));
    } else {
      EXPECT_EQ(EVP_CIPHER_asn1_to_param(&c, t), -1);
      EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_RC2_MAGIC_TO_METH, EVP_R_UNSUPPORTED_KEY_SIZE}});
    }
  }
  // RC2-40-CBC writes version 160; a fresh RC2-CBC context reads 40 bits.
  Ctx w, r;
  ASSERT_EQ(EVP_EncryptInit_ex(&w, EVP_rc2_40_cbc(), nullptr, nullptr, rc2_iv), 1);
  ASSERT_EQ(EVP_CIPHER_param_to_asn1(&w, t), 1);
  long version = 0;
  EXPECT_EQ(ASN1_TYPE_get_int_octetstring(t, &version, nullptr, 0), 8);
  EXPECT_EQ(version, 160);
  ASSERT_EQ(EVP_DecryptInit_ex(&r, EVP_rc2_cbc(), nullptr, nullptr, nullptr), 1);
  EXPECT_EQ(EVP_CIPHER_asn1_to_param(&r, t), 8);
  EXPECT_EQ(EVP_CIPHER_CTX_key_length(&r), 5);
  ASN1_TYPE_free(t);
}

// A description that breaks the limits ends the process with the check's text.
TEST(CipherLimitsDeathTest, BlockSizeAndIvLength) {
  static EVP_CIPHER odd_block, long_iv;
  odd_block = *EVP_aes_128_cbc();
  odd_block.block_size = 4;
  long_iv = *EVP_aes_128_cbc();
  long_iv.iv_len = 17;
  EXPECT_DEATH(
      {
        Ctx ctx;
        EVP_EncryptInit_ex(&ctx, &odd_block, nullptr, nullptr, nullptr);
      },
      "ctx->cipher->block_size == 1 \\|\\| ctx->cipher->block_size == 8 \\|\\| "
      "ctx->cipher->block_size == 16");
  EXPECT_DEATH(
      {
        Ctx ctx;
        EVP_EncryptInit_ex(&ctx, &long_iv, nullptr, nullptr, nullptr);
      },
      "EVP_CIPHER_CTX_iv_length\\(ctx\\) <= \\(int\\)sizeof\\(ctx->iv\\)");
}

}  // namespace
