// Cipher contexts and the built-in descriptions through the envelope: the
// NIST CAVP AES and TDES known answers (KAT, MMT, AES MCT) streamed one-shot,
// in random pieces and in place; the Wycheproof AES-CBC-PKCS5 padding cases;
// every description's numbers; the buffering, control, parameter and edge
// cases; the description limits.

#include <algorithm>
#include <cstring>
#include <random>
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

// ---- one generic streaming runner -------------------------------------------

// `bits` > 0: a CFB1 run over that many bits (context flag 0x2000); only
// those bits of the output are compared.
struct Run {
  const EVP_CIPHER* cipher;
  Bytes key, iv, in, expected;
  int enc;
  size_t bits = 0;
};

// The output of one run with padding off, the input cut at `cuts` (byte
// offsets), written to `out` (which may be the input).
void Stream(const Run& r, const std::vector<size_t>& cuts, const uint8_t* in, uint8_t* out) {
  EVP_CIPHER_CTX ctx;
  EVP_CIPHER_CTX_init(&ctx);
  ASSERT_EQ(EVP_CipherInit_ex(&ctx, r.cipher, nullptr, nullptr, nullptr, r.enc), 1);
  ASSERT_EQ(EVP_CIPHER_CTX_set_key_length(&ctx, static_cast<int>(r.key.size())), 1);
  ASSERT_EQ(EVP_CipherInit_ex(&ctx, nullptr, nullptr, r.key.data(),
                              r.iv.empty() ? nullptr : r.iv.data(), -1), 1);
  EVP_CIPHER_CTX_set_padding(&ctx, 0);
  if (r.bits) EVP_CIPHER_CTX_set_flags(&ctx, EVP_CIPH_FLAG_LENGTH_BITS);
  size_t pos = 0, done = 0;
  for (size_t k = 0; k <= cuts.size(); ++k) {
    const size_t end = k < cuts.size() ? cuts[k] : r.in.size();
    int n = static_cast<int>(end - pos);
    if (r.bits) n = static_cast<int>(std::min(end * 8, r.bits) - pos * 8);
    int outl = -1;
    ASSERT_EQ(EVP_CipherUpdate(&ctx, out + done, &outl, in + pos, n), 1);
    done += r.bits ? end - pos : static_cast<size_t>(outl);
    pos = end;
  }
  int outl = -1;
  ASSERT_EQ(EVP_CipherFinal_ex(&ctx, out + done, &outl), 1);
  EXPECT_EQ(outl, 0);
  EXPECT_EQ(done, r.in.size());
  EXPECT_EQ(EVP_CIPHER_CTX_cleanup(&ctx), 1);
}

Bytes Masked(Bytes b, size_t bits) {
  if (bits % 8) b[bits / 8] &= static_cast<uint8_t>(0xff00 >> (bits % 8));
  return b;
}

// One-shot, byte by byte, random pieces, and in place with random pieces.
void Check(const Run& r, std::mt19937& rng, const std::string& what) {
  SCOPED_TRACE(what);
  const size_t n = r.in.size();
  std::vector<std::vector<size_t>> splits = {{}, {}, {}};
  for (size_t i = 1; i < n; ++i) splits[1].push_back(i);
  for (size_t i = 0; i < n;) {
    i += 1 + rng() % 37;
    if (i < n) splits[2].push_back(i);
  }
  for (size_t s = 0; s < splits.size() + 1; ++s) {
    const bool in_place = s == splits.size();
    Bytes out(n + 32, 0);
    if (in_place) std::copy(r.in.begin(), r.in.end(), out.begin());
    Stream(r, splits[in_place ? 2 : s], in_place ? out.data() : r.in.data(), out.data());
    out.resize(n);
    if (r.bits) {
      EXPECT_EQ(ToHex(Masked(out, r.bits)), ToHex(Masked(r.expected, r.bits))) << "split " << s;
    } else {
      EXPECT_EQ(ToHex(out), ToHex(r.expected)) << "split " << s;
    }
  }
}

// A CAVP CFB1 value is a string of bits.
Bytes FromBits(const std::string& s) {
  Bytes b((s.size() + 7) / 8, 0);
  for (size_t i = 0; i < s.size(); ++i)
    if (s[i] == '1') b[i / 8] |= static_cast<uint8_t>(0x80 >> (i % 8));
  return b;
}

Bytes Field(const morvane_test::RspRecord& rec, const std::string& k, bool bits) {
  return bits ? FromBits(rec.Get(k)) : FromHex(rec.Get(k));
}

// ---- NIST CAVP ----------------------------------------------------------------

struct Mode {
  const char* name;  // file prefix
  Getter aes[3];     // 128, 192, 256
  Getter tdes;       // three-key triple DES
};
const Mode kModes[] = {
    {"ECB", {EVP_aes_128_ecb, EVP_aes_192_ecb, EVP_aes_256_ecb}, EVP_des_ede3_ecb},
    {"CBC", {EVP_aes_128_cbc, EVP_aes_192_cbc, EVP_aes_256_cbc}, EVP_des_ede3_cbc},
    {"OFB", {EVP_aes_128_ofb, EVP_aes_192_ofb, EVP_aes_256_ofb}, EVP_des_ede3_ofb},
    {"CFB128", {EVP_aes_128_cfb128, EVP_aes_192_cfb128, EVP_aes_256_cfb128}, nullptr},
    {"CFB64", {}, EVP_des_ede3_cfb64},
    {"CFB8", {EVP_aes_128_cfb8, EVP_aes_192_cfb8, EVP_aes_256_cfb8}, EVP_des_ede3_cfb8},
    {"CFB1", {EVP_aes_128_cfb1, EVP_aes_192_cfb1, EVP_aes_256_cfb1}, EVP_des_ede3_cfb1},
};
const char* const kSizes[] = {"128", "192", "256"};

// Runs every record of one known-answer file in both directions.
void RunFile(const std::string& path, const EVP_CIPHER* c, bool cfb1, std::mt19937& rng) {
  int count = 0;
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("PLAINTEXT")) continue;
    Bytes key = rec.Has("KEY") ? FromHex(rec.Get("KEY")) : Bytes{};
    if (rec.Has("KEYs")) {
      const Bytes k = FromHex(rec.Get("KEYs"));
      for (int i = 0; i < 3; ++i) key.insert(key.end(), k.begin(), k.end());
    }
    for (const char* k : {"KEY1", "KEY2", "KEY3"})
      if (rec.Has(k)) {
        const Bytes part = FromHex(rec.Get(k));
        key.insert(key.end(), part.begin(), part.end());
      }
    const Bytes iv = rec.Has("IV") ? FromHex(rec.Get("IV")) : Bytes{};
    const Bytes pt = Field(rec, "PLAINTEXT", cfb1), ct = Field(rec, "CIPHERTEXT", cfb1);
    const size_t bits = cfb1 ? rec.Get("PLAINTEXT").size() : 0;
    const bool enc = rec.section.count("ENCRYPT") != 0;
    Check({c, key, iv, enc ? pt : ct, enc ? ct : pt, enc ? 1 : 0, bits}, rng,
          path + " COUNT " + rec.Get("COUNT"));
    ++count;
  }
  EXPECT_GT(count, 0) << path;
}

TEST(CipherCavp, AesKnownAnswersAndMultiblockMessages) {
  MORVANE_VECTOR_PATH_OR_SKIP(probe, "nist-cavp/aes/aesmmt/CBCMMT128.rsp");
  std::mt19937 rng(1);
  for (const Mode& m : kModes) {
    if (m.aes[0] == nullptr) continue;
    for (int s = 0; s < 3; ++s) {
      for (const char* kat : {"GFSbox", "KeySbox", "VarKey", "VarTxt"})
        RunFile(morvane_test::VectorFile(std::string("nist-cavp/aes/KAT_AES/") + m.name + kat +
                                         kSizes[s] + ".rsp"),
                m.aes[s](), std::string(m.name) == "CFB1", rng);
      RunFile(morvane_test::VectorFile(std::string("nist-cavp/aes/aesmmt/") + m.name + "MMT" +
                                       kSizes[s] + ".rsp"),
              m.aes[s](), std::string(m.name) == "CFB1", rng);
    }
  }
}

// The interleaved and pipelined files (TCBCI, TOFBI, TCFBP) name modes that
// the library does not offer.
TEST(CipherCavp, TripleDesKnownAnswersAndMultiblockMessages) {
  MORVANE_VECTOR_PATH_OR_SKIP(probe, "nist-cavp/des/tdesmmt/TCBCMMT2.rsp");
  std::mt19937 rng(2);
  for (const Mode& m : kModes) {
    if (m.tdes == nullptr) continue;
    const bool cfb1 = std::string(m.name) == "CFB1";
    for (const char* kat : {"invperm", "permop", "subtab", "varkey", "vartext"})
      RunFile(morvane_test::VectorFile(std::string("nist-cavp/des/KAT_TDES/T") + m.name + kat +
                                       ".rsp"),
              m.tdes(), cfb1, rng);
    for (const char* n : {"1", "2", "3"})
      RunFile(morvane_test::VectorFile(std::string("nist-cavp/des/tdesmmt/T") + m.name + "MMT" +
                                       n + ".rsp"),
              m.tdes(), cfb1, rng);
  }
}

// The Monte Carlo inner loop (AESAVS, TMOVS) over one streaming context:
// `iterations` units (a block, a byte for CFB8, a bit for CFB1), input j+1
// being IV unit j for the first `lag` steps and output j - lag afterwards
// (ECB: lag 0); the last output is the record's answer.  At most `limit`
// records a direction.
void MonteCarlo(const std::string& path, const EVP_CIPHER* c, const std::string& mode,
                int iterations, int limit) {
  const bool cfb1 = mode == "CFB1";
  const size_t block = static_cast<size_t>(EVP_CIPHER_iv_length(c) ? EVP_CIPHER_iv_length(c)
                                                                     : c->block_size);
  const size_t unit = cfb1 || mode == "CFB8" ? 1 : block;
  const size_t lag = mode == "ECB" ? 0 : cfb1 ? block * 8 : block / unit;
  int done[2] = {0, 0};
  for (const auto& rec : morvane_test::ReadRsp(path)) {
    if (!rec.Has("PLAINTEXT")) continue;
    const bool enc = rec.section.count("ENCRYPT") != 0;
    if (done[enc]++ >= limit) continue;
    Bytes key = rec.Has("KEY") ? FromHex(rec.Get("KEY")) : Bytes{};
    for (const char* k : {"KEY1", "KEY2", "KEY3"})
      if (rec.Has(k)) {
        const Bytes part = FromHex(rec.Get(k));
        key.insert(key.end(), part.begin(), part.end());
      }
    const Bytes iv = rec.Has("IV") ? FromHex(rec.Get("IV")) : Bytes(block, 0);
    Bytes in = Field(rec, enc ? "PLAINTEXT" : "CIPHERTEXT", cfb1);
    const Bytes want = Field(rec, enc ? "CIPHERTEXT" : "PLAINTEXT", cfb1);
    EVP_CIPHER_CTX ctx;
    EVP_CIPHER_CTX_init(&ctx);
    ASSERT_EQ(EVP_CipherInit_ex(&ctx, c, nullptr, key.data(), iv.data(), enc), 1);
    EVP_CIPHER_CTX_set_padding(&ctx, 0);
    if (cfb1) EVP_CIPHER_CTX_set_flags(&ctx, EVP_CIPH_FLAG_LENGTH_BITS);
    std::vector<Bytes> outs;
    for (size_t j = 0; j < static_cast<size_t>(iterations); ++j) {
      Bytes out(unit, 0);
      int outl = 0;
      ASSERT_EQ(EVP_CipherUpdate(&ctx, out.data(), &outl, in.data(),
                                 cfb1 ? 1 : static_cast<int>(unit)), 1);
      outs.push_back(out);
      if (j < lag) {
        in.assign(iv.begin() + (cfb1 ? j / 8 : j * unit),
                  iv.begin() + (cfb1 ? j / 8 + 1 : (j + 1) * unit));
        if (cfb1) in[0] = static_cast<uint8_t>((in[0] << (j % 8)) & 0x80);
      } else {
        in = outs[j - lag];
      }
    }
    EVP_CIPHER_CTX_cleanup(&ctx);
    const Bytes got = cfb1 ? Masked(outs.back(), 1) : outs.back();
    EXPECT_EQ(ToHex(got), ToHex(want)) << path << " COUNT " << rec.Get("COUNT");
  }
  EXPECT_GT(done[0] + done[1], 0) << path;
}

TEST(CipherCavp, AesMonteCarlo) {
  MORVANE_VECTOR_PATH_OR_SKIP(probe, "nist-cavp/aes/aesmct/CBCMCT128.rsp");
  for (const Mode& m : kModes)
    for (int s = 0; m.aes[0] != nullptr && s < 3; ++s)
      MonteCarlo(morvane_test::VectorFile(std::string("nist-cavp/aes/aesmct/") + m.name + "MCT" +
                                          kSizes[s] + ".rsp"),
                 m.aes[s](), m.name, 1000, 100);
}

// TMOVS's triple-DES loops (after SP 800-17) over one streaming context: each
// of 10,000 steps processes one unit, the state staying in the context.  The
// next input is the previous output for ECB and CBC decryption, the chaining
// value the step started from for CBC encryption and OFB, its leading unit
// for CFB encryption, and input XOR output for CFB decryption.  Every 80th
// record of each file (each record states its own inputs).
TEST(CipherCavp, TripleDesMonteCarlo) {
  MORVANE_VECTOR_PATH_OR_SKIP(probe, "nist-cavp/des/tdesmct/TECBMonte1.rsp");
  const struct {
    const char* name;
    Getter c;
  } kTdes[] = {{"ECB", EVP_des_ede3_ecb}, {"CBC", EVP_des_ede3_cbc},
               {"OFB", EVP_des_ede3_ofb}, {"CFB64", EVP_des_ede3_cfb64},
               {"CFB8", EVP_des_ede3_cfb8}, {"CFB1", EVP_des_ede3_cfb1}};
  for (const auto& m : kTdes) {
    const std::string mode = m.name;
    const bool cfb1 = mode == "CFB1", cfb = mode.rfind("CFB", 0) == 0;
    const size_t unit = cfb1 || mode == "CFB8" ? 1 : 8;
    for (const char* n : {"1", "2", "3"}) {
      const std::string path =
          morvane_test::VectorFile("nist-cavp/des/tdesmct/T" + mode + "Monte" + n + ".rsp");
      const auto records = morvane_test::ReadRsp(path);
      ASSERT_EQ(records.size(), 800u) << path;
      for (size_t i = 0; i < records.size(); i += 80) {
        const auto& rec = records[i];
        const bool enc = rec.section.count("ENCRYPT") != 0;
        Bytes key;
        for (const char* k : {"KEY1", "KEY2", "KEY3"}) {
          const Bytes part = FromHex(rec.Get(k));
          key.insert(key.end(), part.begin(), part.end());
        }
        const Bytes iv = rec.Has("IV") ? FromHex(rec.Get("IV")) : Bytes(8, 0);
        Bytes x = Field(rec, enc ? "PLAINTEXT" : "CIPHERTEXT", cfb1), out;
        EVP_CIPHER_CTX ctx;
        EVP_CIPHER_CTX_init(&ctx);
        ASSERT_EQ(EVP_CipherInit_ex(&ctx, m.c(), nullptr, key.data(), iv.data(), enc), 1);
        EVP_CIPHER_CTX_set_padding(&ctx, 0);
        if (cfb1) EVP_CIPHER_CTX_set_flags(&ctx, EVP_CIPH_FLAG_LENGTH_BITS);
        for (int j = 0; j < 10000; j++) {
          const Bytes before(ctx.iv, ctx.iv + 8);
          out.assign(unit, 0);
          int outl = 0;
          ASSERT_EQ(EVP_CipherUpdate(&ctx, out.data(), &outl, x.data(),
                                     cfb1 ? 1 : static_cast<int>(unit)), 1);
          if (mode == "ECB" || (mode == "CBC" && !enc)) {
            x = out;
          } else if (!cfb || enc) {
            x.assign(before.begin(), before.begin() + static_cast<long>(cfb ? unit : 8));
            if (cfb1) x[0] &= 0x80;
          } else {
            for (size_t b = 0; b < unit; b++) x[b] ^= out[b];
          }
        }
        EVP_CIPHER_CTX_cleanup(&ctx);
        EXPECT_EQ(ToHex(cfb1 ? Masked(out, 1) : out),
                  ToHex(Field(rec, enc ? "CIPHERTEXT" : "PLAINTEXT", cfb1)))
            << path << " COUNT " << rec.Get("COUNT");
      }
    }
  }
}

// ---- Wycheproof padding --------------------------------------------------------

TEST(CipherPadding, WycheproofAesCbcPkcs5) {
  MORVANE_VECTOR_PATH_OR_SKIP(path, "wycheproof/aes_cbc_pkcs5_test.json");
  const Getter by_size[] = {EVP_aes_128_cbc, EVP_aes_192_cbc, EVP_aes_256_cbc};
  int valid = 0, bad_padding = 0, empty = 0;
  for (const auto& t : morvane_test::ReadWycheproof(path)) {
    SCOPED_TRACE("tcId " + std::to_string(t.id));
    const Bytes key = FromHex(t.Get("key")), iv = FromHex(t.Get("iv"));
    const Bytes msg = FromHex(t.Get("msg")), ct = FromHex(t.Get("ct"));
    const EVP_CIPHER* c = by_size[key.size() / 8 - 2]();
    EVP_CIPHER_CTX ctx;
    EVP_CIPHER_CTX_init(&ctx);
    ASSERT_EQ(EVP_DecryptInit_ex(&ctx, c, nullptr, key.data(), iv.data()), 1);
    Bytes out(ct.size() + 32, 0xA5);
    int n1 = 0, n2 = 0;
    ASSERT_EQ(EVP_DecryptUpdate(&ctx, out.data(), &n1, ct.data(), static_cast<int>(ct.size())),
              1);
    const int ok = EVP_DecryptFinal_ex(&ctx, out.data() + n1, &n2);
    const size_t written = static_cast<size_t>(n1 + n2);
    EXPECT_TRUE(std::all_of(out.begin() + static_cast<long>(written), out.end(),
                            [](uint8_t b) { return b == 0xA5; }));
    EVP_CIPHER_CTX_cleanup(&ctx);
    if (t.Get("result") == "valid") {
      ++valid;
      EXPECT_EQ(ok, 1);
      EXPECT_EQ(ToHex(Bytes(out.begin(), out.begin() + static_cast<long>(written))), ToHex(msg));
      Bytes enc(msg.size() + 16);
      ASSERT_EQ(EVP_EncryptInit_ex(&ctx, c, nullptr, key.data(), iv.data()), 1);
      ASSERT_EQ(EVP_EncryptUpdate(&ctx, enc.data(), &n1, msg.data(),
                                  static_cast<int>(msg.size())), 1);
      ASSERT_EQ(EVP_EncryptFinal_ex(&ctx, enc.data() + n1, &n2), 1);
      enc.resize(static_cast<size_t>(n1 + n2));
      EXPECT_EQ(ToHex(enc), ToHex(ct));
      EVP_CIPHER_CTX_cleanup(&ctx);
    } else if (ct.empty()) {
      ++empty;
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(ERR_peek_error(), 0x0606506DUL);
      EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_WRONG_FINAL_BLOCK_LENGTH}});
    } else {
      ++bad_padding;
      EXPECT_NE(t.Get("flags").find("BadPadding"), std::string::npos) << t.Get("flags");
      EXPECT_EQ(ok, 0);
      EXPECT_EQ(ERR_peek_error(), 0x06065064UL);
      EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_EVP_DECRYPTFINAL_EX, EVP_R_BAD_DECRYPT}});
    }
  }
  EXPECT_EQ(valid, 72);
  EXPECT_EQ(bad_padding, 141);
  EXPECT_EQ(empty, 3);
}

}  // namespace
