// The faces the block ciphers share, as typed suites over one set of traits
// and one table runner:
// key lengths of 0 or below give the schedule of the one-byte key 0x00 and
// bytes past the longest key are ignored (Blowfish, CAST5, RC2, RC4); the
// block functions' word order, pinned by each cipher's first published
// vector; the published single blocks through ECB; and the version and
// option texts of every cipher.

#include <climits>
#include <cstring>
#include <random>

#include <gtest/gtest.h>
#include <morvane/aes.h>
#include <morvane/blowfish.h>
#include <morvane/cast.h>
#include <morvane/des.h>
#include <morvane/idea.h>
#include <morvane/rc2.h>
#include <morvane/rc4.h>

#include "test_support.h"
#include "type_names.h"

namespace {

using morvane_test::Bytes;
using morvane_test::FromHex;

// Per cipher: Set (the key setup over a length), kLongest (key bytes that
// count); for the block ciphers the word face: a published key, plaintext and
// ciphertext, the halves' byte order and the block functions on two words.
struct Blowfish {
  static constexpr const char* kName = "Blowfish";
  using Key = BF_KEY;
  static void Set(Key* k, int n, const uint8_t* p) { BF_set_key(k, n, p); }
  static constexpr int kLongest = 72;
  // Schneier, vectors.txt.
  static constexpr const char *kKey = "FEDCBA9876543210", *kPlain = "0123456789ABCDEF",
                              *kCipher = "0ACEAB0FC6A0A28D";
  static constexpr bool kBigEndian = true;
  static void Encrypt(unsigned* d, const Key& k) { BF_encrypt(d, &k); }
  static void Decrypt(unsigned* d, const Key& k) { BF_decrypt(d, &k); }
};
struct Cast {
  static constexpr const char* kName = "Cast";
  using Key = CAST_KEY;
  static void Set(Key* k, int n, const uint8_t* p) { CAST_set_key(k, n, p); }
  static constexpr int kLongest = 16;
  // RFC 2144, Appendix B.1.
  static constexpr const char *kKey = "0123456712345678234567893456789A", *kPlain = "0123456789ABCDEF",
                              *kCipher = "238B4FE5847E44B2";
  static constexpr bool kBigEndian = true;
  static void Encrypt(unsigned* d, const Key& k) { CAST_encrypt(d, &k); }
  static void Decrypt(unsigned* d, const Key& k) { CAST_decrypt(d, &k); }
};
struct Rc2 {
  static constexpr const char* kName = "Rc2";
  using Key = RC2_KEY;
  static void Set(Key* k, int n, const uint8_t* p) { RC2_set_key(k, n, p, 64); }
  static constexpr int kLongest = 128;
  // RFC 2268, section 5, fourth vector (64 effective bits).
  static constexpr const char *kKey = "88", *kPlain = "0000000000000000", *kCipher = "61A8A244ADACCCF0";
  static constexpr bool kBigEndian = false;
  static void Encrypt(unsigned* d, const Key& k) { RC2_encrypt(d, &k); }
  static void Decrypt(unsigned* d, const Key& k) { RC2_decrypt(d, &k); }
};
struct Rc4 {
  static constexpr const char* kName = "Rc4";
  using Key = RC4_KEY;
  static void Set(Key* k, int n, const uint8_t* p) { RC4_set_key(k, n, p); }
  static constexpr int kLongest = 256;
};
// IDEA keys have one length; decryption runs on the derived schedule.
struct Idea {
  static constexpr const char* kName = "Idea";
  struct Key {
    IDEA_KEY_SCHEDULE e, d;
  };
  static void Set(Key* k, int, const uint8_t* p) {
    idea_set_encrypt_key(p, &k->e);
    idea_set_decrypt_key(&k->e, &k->d);
  }
  // Lai and Massey's example.
  static constexpr const char *kKey = "00010002000300040005000600070008", *kPlain = "0000000100020003",
                              *kCipher = "11FBED2B01986DE5";
  static constexpr bool kBigEndian = true;
  static void Encrypt(unsigned* d, const Key& k) { idea_encrypt(d, &k.e); }
  static void Decrypt(unsigned* d, const Key& k) { idea_encrypt(d, &k.d); }
};

template <class T>
typename T::Key Schedule(const Bytes& key) {
  typename T::Key k;
  std::memset(&k, 0x5a, sizeof k);
  T::Set(&k, static_cast<int>(key.size()), key.data());
  return k;
}
template <class T>
bool Same(const typename T::Key& a, const typename T::Key& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

template <class T>
class KeyLengths : public ::testing::Test {};
using VariableKeys = ::testing::Types<Blowfish, Cast, Rc2, Rc4>;
TYPED_TEST_SUITE(KeyLengths, VariableKeys, TypeNames);

// An empty or negative length reads no key byte (the pointer may be null).
TYPED_TEST(KeyLengths, EmptyKeyIsTheZeroByteKey) {
  const auto zero = Schedule<TypeParam>({0x00});
  for (int len : {0, -1, -72, INT_MIN}) {
    typename TypeParam::Key k;
    std::memset(&k, 0x5a, sizeof k);
    TypeParam::Set(&k, len, nullptr);
    EXPECT_TRUE(Same<TypeParam>(k, zero)) << len;
  }
}

TYPED_TEST(KeyLengths, BytesPastTheLongestKeyAreIgnored) {
  std::mt19937 rng(4);
  Bytes key(TypeParam::kLongest + 50);
  for (auto& v : key) v = static_cast<uint8_t>(rng());
  const auto longest = Schedule<TypeParam>(Bytes(key.begin(), key.begin() + TypeParam::kLongest));
  EXPECT_TRUE(Same<TypeParam>(Schedule<TypeParam>(key), longest));
  EXPECT_TRUE(Same<TypeParam>(
      Schedule<TypeParam>(Bytes(key.begin(), key.begin() + TypeParam::kLongest + 1)), longest));
  EXPECT_FALSE(Same<TypeParam>(
      Schedule<TypeParam>(Bytes(key.begin(), key.begin() + TypeParam::kLongest - 1)), longest));
}

template <class T>
class WordOrder : public ::testing::Test {};
using BlockCiphers = ::testing::Types<Blowfish, Cast, Idea, Rc2>;
TYPED_TEST_SUITE(WordOrder, BlockCiphers, TypeNames);

// Bytes 0-3 and 4-7 of a block are the two words, in the cipher's byte order.
TYPED_TEST(WordOrder, BlockFunctionsTakeTheHalvesAsWords) {
  const auto k = Schedule<TypeParam>(FromHex(TypeParam::kKey));
  auto words = [](const char* hex) {
    const Bytes b = FromHex(hex);
    std::vector<unsigned> w(2, 0);
    for (int i = 0; i < 8; i++)
      w[i / 4] |= unsigned{b[i]} << (TypeParam::kBigEndian ? 24 - 8 * (i % 4) : 8 * (i % 4));
    return w;
  };
  std::vector<unsigned> d = words(TypeParam::kPlain);
  TypeParam::Encrypt(d.data(), k);
  EXPECT_EQ(d, words(TypeParam::kCipher));
  TypeParam::Decrypt(d.data(), k);
  EXPECT_EQ(d, words(TypeParam::kPlain));
}

// Single blocks of each 64-bit cipher through ECB both ways, from
// test/data: Schneier's Blowfish tables, RFC 2144 B.1, the IDEA vectors and
// RFC 2268 (with its effective key lengths).
TEST(CipherVectors, EcbBothWays) {
  using Ecb = void (*)(const Bytes& key, int bits, const uint8_t* in, uint8_t* out, bool enc);
  const struct {
    const char* file;
    size_t count;
    Ecb ecb;
  } kFiles[] = {
      {"blowfish/schneier.txt", 58,
       [](const Bytes& key, int, const uint8_t* in, uint8_t* out, bool enc) {
         BF_KEY k;
         BF_set_key(&k, static_cast<int>(key.size()), key.data());
         BF_ecb_encrypt(in, out, &k, enc ? BF_ENCRYPT : BF_DECRYPT);
       }},
      {"cast/rfc2144.txt", 3,
       [](const Bytes& key, int, const uint8_t* in, uint8_t* out, bool enc) {
         CAST_KEY k;
         CAST_set_key(&k, static_cast<int>(key.size()), key.data());
         CAST_ecb_encrypt(in, out, &k, enc ? CAST_ENCRYPT : CAST_DECRYPT);
       }},
      {"idea/vectors.txt", 8,
       [](const Bytes& key, int, const uint8_t* in, uint8_t* out, bool enc) {
         IDEA_KEY_SCHEDULE e, d;
         idea_set_encrypt_key(key.data(), &e);
         idea_set_decrypt_key(&e, &d);
         idea_ecb_encrypt(in, out, enc ? &e : &d);
       }},
      {"rc2/rfc2268.txt", 8,
       [](const Bytes& key, int bits, const uint8_t* in, uint8_t* out, bool enc) {
         RC2_KEY k;
         RC2_set_key(&k, static_cast<int>(key.size()), key.data(), bits);
         RC2_ecb_encrypt(in, out, &k, enc ? RC2_ENCRYPT : RC2_DECRYPT);
       }},
  };
  for (const auto& f : kFiles) {
    const auto records = morvane_test::ReadRsp(morvane_test::TestDataFile(f.file));
    ASSERT_EQ(records.size(), f.count) << f.file;
    for (const auto& v : records) {
      SCOPED_TRACE(std::string(f.file) + " key " + v.Get("Key"));
      const Bytes key = FromHex(v.Get("Key")), plain = FromHex(v.Get("Plain"));
      const int bits = v.Has("Bits") ? std::stoi(v.Get("Bits")) : 0;
      uint8_t out[8], back[8];
      f.ecb(key, bits, plain.data(), out, true);
      EXPECT_EQ(morvane_test::ToHex(out, 8), morvane_test::ToHex(FromHex(v.Get("Cipher"))));
      f.ecb(key, bits, out, back, false);
      EXPECT_EQ(morvane_test::ToHex(back, 8), morvane_test::ToHex(plain));
    }
  }
}

TEST(CipherTexts, VersionsAndOptions) {
  const struct {
    const char *got, *want;
  } kTexts[] = {
      {AES_version, "AES part of Morvane 0.9.8o 01 Jun 2010"},
      {AES_options(), "aes(partial)"},
      {BF_version, "Blowfish part of Morvane 0.9.8o 01 Jun 2010"},
      {BF_options(), "blowfish(idx)"},
      {CAST_version, "CAST part of Morvane 0.9.8o 01 Jun 2010"},
      {QARN_DES_version, "DES part of Morvane 0.9.8o 01 Jun 2010"},
      {QARN_brevik_version, "brevik part of Morvane 0.9.8o 01 Jun 2010"},
      {DES_options(), "des(idx,cisc,4,long)"},
      {IDEA_version, "IDEA part of Morvane 0.9.8o 01 Jun 2010"},
      {idea_options(), "idea(int)"},
      {RC2_version, "RC2 part of Morvane 0.9.8o 01 Jun 2010"},
      {RC4_version, "RC4 part of Morvane 0.9.8o 01 Jun 2010"},
      {RC4_options(), "rc4(ptr,int)"},
  };
  for (const auto& t : kTexts) EXPECT_STREQ(t.got, t.want);
  EXPECT_EQ(DES_options(), DES_options());  // a fixed text, not rebuilt
}

}  // namespace
