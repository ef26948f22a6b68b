// Published known answers for every digest, each table citing its source.
// Every vector also runs fed in random pieces and through the one-shot.

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "digest_algos.h"

namespace digest_test {
namespace {

struct Vector {
  const char* algo;
  const char* msg;
  size_t repeat;  // the message is msg repeated this many times
  const char* md;
};

const char kAlnum[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
const char kDigits80[] =
    "12345678901234567890123456789012345678901234567890123456789012345678901234567890";
const char kAbc448[] = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
const char kAbc896[] =
    "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnop"
    "qrsmnopqrstnopqrstu";

const Vector kVectors[] = {
    // RFC 1319, A.5 (MD2 test suite)
    {"MD2", "", 1, "8350e5a3e24c153df2275c9f80692773"},
    {"MD2", "a", 1, "32ec01ec4a6dac72c0ab96fb34c0b5d1"},
    {"MD2", "abc", 1, "da853b0d3f88d99b30283a69e6ded6bb"},
    {"MD2", "message digest", 1, "ab4f496bfb2a530b219ff33031fe06b0"},
    {"MD2", "abcdefghijklmnopqrstuvwxyz", 1, "4e8ddff3650292ab5a4108c3aa47940b"},
    {"MD2", kAlnum, 1, "da33def2a42df13975352846c30338cd"},
    {"MD2", kDigits80, 1, "d5976f79d83d3a0dc9806c3c66f3efd8"},
    // RFC 1320, A.5 (MD4 test suite)
    {"MD4", "", 1, "31d6cfe0d16ae931b73c59d7e0c089c0"},
    {"MD4", "a", 1, "bde52cb31de33e46245e05fbdbd6fb24"},
    {"MD4", "abc", 1, "a448017aaf21d8525fc10ae87aa6729d"},
    {"MD4", "message digest", 1, "d9130a8164549fe818874806e1c7014b"},
    {"MD4", "abcdefghijklmnopqrstuvwxyz", 1, "d79e1c308aa5bbcdeea8ed63df412da9"},
    {"MD4", kAlnum, 1, "043f8582f241db351ce627e153e7f0e4"},
    {"MD4", kDigits80, 1, "e33b4ddc9c38f2199c3e7b164fcc0536"},
    // RFC 1321, A.5 (MD5 test suite)
    {"MD5", "", 1, "d41d8cd98f00b204e9800998ecf8427e"},
    {"MD5", "a", 1, "0cc175b9c0f1b6a831c399e269772661"},
    {"MD5", "abc", 1, "900150983cd24fb0d6963f7d28e17f72"},
    {"MD5", "message digest", 1, "f96b697d7cb7938d525a2f31aaf161d0"},
    {"MD5", "abcdefghijklmnopqrstuvwxyz", 1, "c3fcd3d76192e4007dfb496cca67e13b"},
    {"MD5", kAlnum, 1, "d174ab98d277d9f5a5611c2c9f419d9f"},
    {"MD5", kDigits80, 1, "57edf4a22be3c955ac49da2e2107b67a"},
    // FIPS 180 (1993), Appendices A, B and C (SHA, now called SHA-0)
    {"SHA0", "abc", 1, "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"},
    {"SHA0", kAbc448, 1, "d2516ee1acfa5baf33dfc1c471e438449ef134c8"},
    {"SHA0", "a", 1000000, "3232affa48628a26653b5aaa44541fd90d690603"},
    // FIPS 180-2, Appendix A (SHA-1)
    {"SHA1", "abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"SHA1", kAbc448, 1, "84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
    {"SHA1", "a", 1000000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
    // FIPS 180-2 change notice 1, Appendix (SHA-224)
    {"SHA224", "abc", 1, "23097d223405d8228642a477bda255b32aadbce4bda0b3f7e36c9da7"},
    {"SHA224", kAbc448, 1, "75388b16512776cc5dba5da1fd890150b0c6455cb4f58b1952522525"},
    {"SHA224", "a", 1000000, "20794655980c91d8bbb4c1ea97618a4bf03f42581948b2ee4ee7ad67"},
    // FIPS 180-2, Appendix B (SHA-256)
    {"SHA256", "abc", 1, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"SHA256", kAbc448, 1, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"SHA256", "a", 1000000, "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    // FIPS 180-2, Appendix D (SHA-384)
    {"SHA384", "abc", 1,
     "cb00753f45a35e8bb5a03d699ac65007272c32ab0eded1631a8b605a43ff5bed8086072ba1e7cc2358baeca134c82"
     "5"
     "a7"},
    {"SHA384", kAbc896, 1,
     "09330c33f71147e83d192fc782cd1b4753111b173b3b05d22fa08086e3b0f712fcc7c71a557e2db966c3e9fa91746"
     "0"
     "39"},
    {"SHA384", "a", 1000000,
     "9d0e1809716474cb086e834e310a4a1ced149e9c00f248527972cec5704c2a5b07b8b3dc38ecc4ebae97ddd87f3d8"
     "9"
     "85"},
    // FIPS 180-2, Appendix C (SHA-512)
    {"SHA512", "abc", 1,
     "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3fee"
     "b"
     "bd454d4423643ce80e2a9ac94fa54ca49f"},
    {"SHA512", kAbc896, 1,
     "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b54"
     "3"
     "3ac7d329eeb6dd26545e96e55b874be909"},
    {"SHA512", "a", 1000000,
     "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c"
     "3"
     "1beb009c5c2c49aa2e4eadb217ad8cc09b"},
    // RIPEMD-160 test vectors published by its authors (Dobbertin, Bosselaers,
    // Preneel), with the algorithm's description
    {"RIPEMD160", "", 1, "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
    {"RIPEMD160", "a", 1, "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
    {"RIPEMD160", "abc", 1, "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
    {"RIPEMD160", "message digest", 1, "5d0689ef49d2fae572b881b123a85ffa21595f36"},
    {"RIPEMD160", "abcdefghijklmnopqrstuvwxyz", 1, "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
    {"RIPEMD160", kAbc448, 1, "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
    {"RIPEMD160", kAlnum, 1, "b0e20b6e3116640286ed3a87a5713079b21f5189"},
    {"RIPEMD160", "1234567890", 8, "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
    {"RIPEMD160", "a", 1000000, "52783243c1697bdbe16d37f97f68f08325dc1528"},
};

// Messages of n bytes 'a' around the padding boundaries, for the digests that
// the NIST files do not cover.  Values computed with Nettle 3.8.1, an
// independent implementation.
const Vector kBoundaries[] = {
    {"MD2", "a", 15, "a1379a1027d0d29af98200799b8d5d8e"},
    {"MD2", "a", 16, "b437ae50feb09a37c16b4c605cd642da"},
    {"MD2", "a", 17, "dbf15a5fdfd6f7e9ece27d5e310c58ed"},
    {"MD2", "a", 32, "fc6f34c6b52617387390d85ea9e510be"},
    {"MD4", "a", 55, "c889c81dd86c4d2e025778944ea02881"},
    {"MD4", "a", 56, "d5f9a9e9257077a5f08b0b92f348b0ad"},
    {"MD4", "a", 63, "7ea3da77432d44c323671097d1348fc8"},
    {"MD4", "a", 64, "52f5076fabd22680234a3fa9f9dc5732"},
    {"MD4", "a", 65, "330e377bf231f3cacfecc2c182fe7e5b"},
    {"MD5", "a", 55, "ef1772b6dff9a122358552954ad0df65"},
    {"MD5", "a", 56, "3b0c8ac703f828b04c6c197006d17218"},
    {"MD5", "a", 63, "b06521f39153d618550606be297466d5"},
    {"MD5", "a", 64, "014842d480b571495a4a0363793f7367"},
    {"MD5", "a", 65, "c743a45e0d2e6a95cb859adae0248435"},
    {"RIPEMD160", "a", 55, "0d8a8c9063a48576a7c97e9f95253a6e53ff6765"},
    {"RIPEMD160", "a", 56, "e72334b46c83cc70bef979e15453706c95b888be"},
    {"RIPEMD160", "a", 63, "e640041293fe663b9bf3f8c21ffecac03819e6b2"},
    {"RIPEMD160", "a", 64, "9dfb7d374ad924f3f88de96291c33e9abed53e32"},
    {"RIPEMD160", "a", 65, "99724bb11811e7166af38f671b6a082d8ab4960b"},
};

Bytes Expand(const Vector& v) {
  Bytes m;
  const size_t n = std::strlen(v.msg);
  m.reserve(n * v.repeat);
  for (size_t r = 0; r < v.repeat; r++) m.insert(m.end(), v.msg, v.msg + n);
  return m;
}

void CheckVector(const Vector& v, std::mt19937& rng) {
  SCOPED_TRACE(std::string(v.algo) + " of " + std::to_string(v.repeat) + " x \"" + v.msg + "\"");
  const Algo& a = FindAlgo(v.algo);
  const Bytes m = Expand(v);
  EXPECT_EQ(Digest(a, m.data(), m.size()), v.md);

  unsigned char md[64];
  EXPECT_EQ(a.oneshot(m.data(), m.size(), md), md);
  EXPECT_EQ(morvane_test::ToHex(md, a.md_len), v.md);

  std::vector<size_t> cuts;
  size_t left = m.size();
  while (left > 0) {
    size_t cut = std::uniform_int_distribution<size_t>(0, std::min<size_t>(left, 300))(rng);
    cuts.push_back(cut);
    left -= cut;
  }
  EXPECT_EQ(DigestInPieces(a, m.data(), m.size(), cuts), v.md);
}

TEST(DigestKnownAnswers, PublishedSuites) {
  std::mt19937 rng(1);
  for (const Vector& v : kVectors) CheckVector(v, rng);
}

TEST(DigestKnownAnswers, PaddingBoundaries) {
  std::mt19937 rng(2);
  for (const Vector& v : kBoundaries) CheckVector(v, rng);
}

// SHA-0 and SHA-1 differ only in the rotation of the message schedule: the
// same initial values, so a context started by either Init follows the
// Update and Final it is given (FIPS 180-1 keeps the initial values of 180).
TEST(DigestKnownAnswers, ShaInitsAreInterchangeable) {
  SHA_CTX a, b;
  SHA_Init(&a);
  SHA1_Init(&b);
  EXPECT_EQ(0, std::memcmp(&a, &b, offsetof(SHA_CTX, data)));
  EXPECT_EQ(a.num, b.num);

  unsigned char md[SHA_DIGEST_LENGTH];
  SHA_Init(&a);
  SHA1_Update(&a, "abc", 3);
  SHA1_Final(md, &a);
  EXPECT_EQ(morvane_test::ToHex(md, sizeof(md)), "a9993e364706816aba3e25717850c26c9cd0d89d");
  SHA1_Init(&b);
  SHA_Update(&b, "abc", 3);
  SHA_Final(md, &b);
  EXPECT_EQ(morvane_test::ToHex(md, sizeof(md)), "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880");
}

TEST(DigestKnownAnswers, VersionAndOptionTexts) {
  EXPECT_STREQ(MD2_version, "MD2 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(MD4_version, "MD4 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(MD5_version, "MD5 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA_version, "SHA part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA1_version, "SHA1 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA256_version, "SHA-256 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(SHA512_version, "SHA-512 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(RMD160_version, "RIPE-MD160 part of Morvane 0.9.8o 01 Jun 2010");
  EXPECT_STREQ(MD2_options(), "md2(int)");
}

}  // namespace
}  // namespace digest_test
