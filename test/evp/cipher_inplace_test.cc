// Cipher contexts working in place and near the int limit: every built-in
// description, both directions, with and without padding, streamed in
// random pieces with the output on the input (exact aliasing) and lagging
// behind it, gives the bytes of one-shot processing; an output ahead of the
// input it overlaps is refused and nothing is written; length sums near
// INT_MAX neither overflow nor write past the block buffer.

#include <sys/mman.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include "test_support.h"

namespace {

using morvane_test::Bytes;
using morvane_test::ToHex;
using Getter = const EVP_CIPHER* (*)();

constexpr Getter kCiphers[] = {
    EVP_enc_null,       EVP_des_ecb,       EVP_des_ede,        EVP_des_ede3,
    EVP_des_cfb64,      EVP_des_cfb8,      EVP_des_ede3_cfb64, EVP_des_ede3_cfb8,
    EVP_des_ofb,        EVP_des_ede3_ofb,  EVP_des_cbc,        EVP_des_ede_cbc,
    EVP_des_ede3_cbc,   EVP_desx_cbc,      EVP_rc4,            EVP_idea_ecb,
    EVP_idea_cfb64,     EVP_idea_ofb,      EVP_idea_cbc,       EVP_rc2_ecb,
    EVP_rc2_cbc,        EVP_rc2_cfb64,     EVP_rc2_ofb,        EVP_bf_ecb,
    EVP_bf_cbc,         EVP_bf_cfb64,      EVP_bf_ofb,         EVP_cast5_ecb,
    EVP_cast5_cbc,      EVP_cast5_cfb64,   EVP_cast5_ofb,      EVP_aes_128_ecb,
    EVP_aes_128_cbc,    EVP_aes_128_cfb8,  EVP_aes_128_cfb128, EVP_aes_128_ofb,
    EVP_aes_192_ecb,    EVP_aes_192_cbc,   EVP_aes_256_ecb,    EVP_aes_256_cbc,
    EVP_aes_256_cfb128, EVP_aes_256_ofb,
};

struct Ctx {
  EVP_CIPHER_CTX c;
  Ctx() { EVP_CIPHER_CTX_init(&c); }
  ~Ctx() { EVP_CIPHER_CTX_cleanup(&c); }
  EVP_CIPHER_CTX* operator&() { return &c; }
};

void Start(EVP_CIPHER_CTX* ctx, const EVP_CIPHER* c, int enc, bool pad) {
  unsigned char key[32], iv[16];
  for (int i = 0; i < 32; i++) key[i] = static_cast<unsigned char>(11 * i + 5);
  for (int i = 0; i < 16; i++) iv[i] = static_cast<unsigned char>(3 * i + 1);
  ASSERT_EQ(1, EVP_CipherInit_ex(ctx, c, nullptr, key, iv, enc));
  EVP_CIPHER_CTX_set_padding(ctx, pad ? 1 : 0);
}

// How the pieces of a message reach the context.
enum class Layout { kSeparate, kAliased, kLagging };

// Streams `in` in `pieces` and finishes; the concatenated output, or "fail".
std::string Stream(const EVP_CIPHER* c, int enc, bool pad, const Bytes& in,
                   const std::vector<size_t>& pieces, Layout layout) {
  Ctx ctx;
  Start(&ctx, c, enc, pad);
  const size_t room = in.size() + 64;
  Bytes out(room, 0xEE), whole = in;
  whole.resize(room, 0xEE);
  size_t pos = 0, done = 0;
  for (size_t p : pieces) {
    int n = -1;
    int ok;
    if (layout == Layout::kSeparate) {
      ok = EVP_CipherUpdate(&ctx, out.data() + done, &n, in.data() + pos, static_cast<int>(p));
    } else if (layout == Layout::kAliased) {  // the piece in a buffer of its own, in place
      Bytes scratch(in.begin() + static_cast<long>(pos), in.begin() + static_cast<long>(pos + p));
      scratch.resize(p + 64, 0xEE);
      ok = EVP_CipherUpdate(&ctx, scratch.data(), &n, scratch.data(), static_cast<int>(p));
      if (ok) std::memcpy(out.data() + done, scratch.data(), static_cast<size_t>(n));
    } else {  // one buffer: the output at the end of what came out so far
      ok = EVP_CipherUpdate(&ctx, whole.data() + done, &n, whole.data() + pos,
                            static_cast<int>(p));
    }
    if (!ok) return "fail";
    pos += p;
    done += static_cast<size_t>(n);
  }
  int n = -1;
  unsigned char* tail = (layout == Layout::kLagging ? whole.data() : out.data()) + done;
  if (!EVP_CipherFinal_ex(&ctx, tail, &n)) return "fail";
  done += static_cast<size_t>(n);
  return ToHex(layout == Layout::kLagging ? whole.data() : out.data(), done);
}

std::vector<size_t> RandomPieces(size_t total, std::mt19937& rng, size_t max_piece) {
  std::vector<size_t> v;
  for (size_t pos = 0; pos < total;) {
    const size_t p = std::min(total - pos, 1 + rng() % max_piece);
    v.push_back(p);
    pos += p;
  }
  return v;
}

TEST(CipherInPlace, EveryDescriptionBothDirectionsAliasedAndLagging) {
  std::mt19937 rng(43);
  for (Getter g : kCiphers) {
    const EVP_CIPHER* c = g();
    const size_t bl = static_cast<size_t>(EVP_CIPHER_block_size(c));
    SCOPED_TRACE(EVP_CIPHER_nid(c));
    for (bool pad : {true, false}) {
      // Without padding a block mode needs whole blocks.
      const size_t len = pad ? 203 : 13 * bl + (bl == 1 ? 7 : 0);
      Bytes plain(len);
      for (size_t i = 0; i < len; i++) plain[i] = static_cast<uint8_t>(rng());
      const std::string ct_hex = Stream(c, 1, pad, plain, {len}, Layout::kSeparate);
      ASSERT_NE("fail", ct_hex);
      const Bytes ct = morvane_test::FromHex(ct_hex);
      for (int enc : {1, 0}) {
        const Bytes& in = enc ? plain : ct;
        const std::string want = enc ? ct_hex : ToHex(plain);
        for (int round = 0; round < 12; round++) {
          std::vector<size_t> pieces = RandomPieces(in.size(), rng, round < 6 ? 7 : 70);
          if (round == 0 && in.size() > 5) pieces = {5, in.size() - 5};
          SCOPED_TRACE(testing::Message() << "enc " << enc << " pad " << pad << " round "
                                          << round);
          EXPECT_EQ(want, Stream(c, enc, pad, in, pieces, Layout::kAliased));
          EXPECT_EQ(want, Stream(c, enc, pad, in, pieces, Layout::kLagging));
        }
      }
    }
  }
  EXPECT_ERRORS({});
}

// AES-128-ECB without padding, 5 bytes then 27, each update in place.
TEST(CipherInPlace, HeldBytesThenAliasedUpdateEqualsOneShot) {
  Bytes msg(32);
  for (size_t i = 0; i < msg.size(); i++) msg[i] = static_cast<uint8_t>(i);
  const std::string want = Stream(EVP_aes_128_ecb(), 1, false, msg, {32}, Layout::kSeparate);
  EXPECT_EQ(want, Stream(EVP_aes_128_ecb(), 1, false, msg, {5, 27}, Layout::kAliased));
}

// An output ahead of the input it overlaps fails, writes nothing and leaves
// the context as it was: the same update done properly afterwards continues
// the stream.
TEST(CipherInPlace, OutputAheadOfInputIsRefused) {
  for (Getter g : {EVP_aes_128_cbc, EVP_bf_ecb, EVP_rc4, EVP_aes_128_ofb}) {
    const EVP_CIPHER* c = g();
    SCOPED_TRACE(EVP_CIPHER_nid(c));
    for (int enc : {1, 0}) {
      Bytes msg(64);
      for (size_t i = 0; i < msg.size(); i++) msg[i] = static_cast<uint8_t>(7 * i);
      const std::string want = Stream(c, enc, false, msg, {3, 61}, Layout::kSeparate);
      Ctx ctx;
      Start(&ctx, c, enc, false);
      Bytes out(200, 0);
      int n = -1;
      ASSERT_EQ(1, EVP_CipherUpdate(&ctx, out.data(), &n, msg.data(), 3));
      size_t done = static_cast<size_t>(n);
      Bytes buf(200, 0);
      std::memcpy(buf.data(), msg.data() + 3, 61);
      const Bytes before = buf;
      for (size_t ahead : {1, 8, 60}) {
        n = -1;
        EXPECT_EQ(0, EVP_CipherUpdate(&ctx, buf.data() + ahead, &n, buf.data(), 61));
        EXPECT_EQ(0, n);
        EXPECT_EQ(ToHex(before), ToHex(buf));
        const int fn = enc ? EVP_F_EVP_ENCRYPTUPDATE : EVP_F_EVP_DECRYPTUPDATE;
        EXPECT_ERRORS({{ERR_LIB_EVP, fn, EVP_R_PARTIALLY_OVERLAPPING}});
      }
      ASSERT_EQ(1, EVP_CipherUpdate(&ctx, out.data() + done, &n, buf.data(), 61));
      done += static_cast<size_t>(n);
      ASSERT_EQ(1, EVP_CipherFinal_ex(&ctx, out.data() + done, &n));
      done += static_cast<size_t>(n);
      EXPECT_EQ(want, ToHex(out.data(), done));
    }
  }
}

// ---- lengths near INT_MAX ----------------------------------------------------

// A mapping of `n` zero bytes that is committed only where written.
struct BigBuffer {
  explicit BigBuffer(size_t n) : size(n) {
    void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
    data = p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
  }
  ~BigBuffer() {
    if (data != nullptr) munmap(data, size);
  }
  unsigned char* data;
  size_t size;
};

// With bytes held, an update whose output count would pass INT_MAX fails
// without writing; the held bytes stay and the stream goes on.
TEST(CipherLengths, OutputCountPastIntMaxIsRefused) {
  BigBuffer big(static_cast<size_t>(INT_MAX) + 64);
  ASSERT_NE(nullptr, big.data);
  for (int enc : {1, 0}) {
    for (bool pad : {true, false}) {
      SCOPED_TRACE(testing::Message() << "enc " << enc << " pad " << pad);
      Ctx ctx;
      Start(&ctx, EVP_aes_128_cbc(), enc, pad);
      unsigned char out[64];
      std::memset(out, 0xAB, sizeof out);
      int n = -1;
      const unsigned char zeros[32] = {};
      // One byte held; padded decryption holds a whole block back instead.
      const int first = enc == 0 && pad ? 32 : 17;
      ASSERT_EQ(1, EVP_CipherUpdate(&ctx, out, &n, zeros, first));
      unsigned char probe[64];
      std::memset(probe, 0xCD, sizeof probe);
      n = -1;
      EXPECT_EQ(0, EVP_CipherUpdate(&ctx, probe, &n, big.data, INT_MAX));
      EXPECT_EQ(0, n);
      for (unsigned char b : probe) ASSERT_EQ(0xCD, b);
      const int fn = enc ? EVP_F_EVP_ENCRYPTUPDATE : EVP_F_EVP_DECRYPTUPDATE;
      EXPECT_ERRORS({{ERR_LIB_EVP, fn, EVP_R_OUTPUT_TOO_LARGE}});
      // Still usable.
      EXPECT_EQ(1, EVP_CipherUpdate(&ctx, out, &n, zeros, 15));
    }
  }
}

// NIST AESAVS, KeySbox128 COUNT 0: this key encrypts the zero block to
// 6d251e6944b051e04eaa6fb4dbf78465.  One byte, then INT_MAX - 16 bytes in
// place (the held byte and the input make INT_MAX - 15 bytes, a whole number
// of blocks): every block of the 2 GB output is that value.
TEST(CipherLengths, LargeUpdateThatFitsIsProcessed) {
  const Bytes key = morvane_test::FromHex("10a58869d74be5a374cf867cfb473859");
  const size_t total = static_cast<size_t>(INT_MAX) - 15;
  BigBuffer big(total + 64);
  ASSERT_NE(nullptr, big.data);
  Ctx ctx;
  ASSERT_EQ(1, EVP_EncryptInit_ex(&ctx, EVP_aes_128_ecb(), nullptr, key.data(), nullptr));
  EVP_CIPHER_CTX_set_padding(&ctx, 0);
  int n = -1;
  const unsigned char zero = 0;
  ASSERT_EQ(1, EVP_EncryptUpdate(&ctx, big.data, &n, &zero, 1));
  ASSERT_EQ(0, n);
  ASSERT_EQ(1, EVP_EncryptUpdate(&ctx, big.data, &n, big.data, INT_MAX - 16));
  ASSERT_EQ(static_cast<int>(total), n);
  const Bytes want = morvane_test::FromHex("6d251e6944b051e04eaa6fb4dbf78465");
  for (size_t at : {size_t{0}, size_t{16}, total / 2 & ~size_t{15}, total - 16}) {
    SCOPED_TRACE(at);
    EXPECT_EQ(ToHex(want), ToHex(big.data + at, 16));
  }
  ASSERT_EQ(1, EVP_EncryptFinal_ex(&ctx, big.data + total, &n));
  EXPECT_EQ(0, n);
}

}  // namespace
