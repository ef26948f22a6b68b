// The base64, cipher, digest and reliable filters over the scriptable test
// stream: what reaches the next stream, what comes back, and how failures
// are reported (results and status controls; the base64 reader alone
// queues a reason, for corrupt text).

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/sha.h>

#include "scripted_stream.h"
#include "test_support.h"

namespace {

using morvane_test::FromHex;
using morvane_test::Script;

// A filter of `meth` in front of a scripted stream; both freed at the end.
struct Chain {
  BIO* filter;
  BIO* next;
  explicit Chain(BIO_METHOD* meth)
      : filter(BIO_new(meth)), next(morvane_test::NewScriptedStream()) {
    BIO_push(filter, next);
  }
  ~Chain() { BIO_free_all(filter); }
  morvane_test::ScriptedStream& io() { return Script(next); }
  int Write(const std::string& s) {
    return BIO_write(filter, s.data(), static_cast<int>(s.size()));
  }
  // Reads until the filter gives 0 or less; `last` is that result.
  std::string ReadAll(int* last = nullptr, int piece = 1000) {
    std::string got;
    std::vector<char> buf(static_cast<size_t>(piece));
    int n;
    while ((n = BIO_read(filter, buf.data(), piece)) > 0)
      got.append(buf.data(), static_cast<size_t>(n));
    if (last != nullptr) *last = n;
    return got;
  }
};

std::string Str(const morvane_test::Bytes& b) {
  return std::string(b.begin(), b.end());
}

// ---- base64 ------------------------------------------------------------------

TEST(Base64Filter, SkipsArmourLinesAndStopsAtTheEndLine) {
  Chain c(BIO_f_base64());
  c.io().input = "-----BEGIN DATA-----\n--\n\nZm9vYmFy\nZm8=\n-----END DATA-----\n";
  int last = 1;
  EXPECT_EQ(c.ReadAll(&last), "foobarfo");
  EXPECT_EQ(last, 0);
  EXPECT_EQ(BIO_eof(c.filter), 1);
  EXPECT_ERRORS({});
}

TEST(Base64Filter, CorruptTextDeliversWhatPrecedesItThenFails) {
  Chain c(BIO_f_base64());
  const std::string line(64, 'A');
  c.io().input = line + "\n" + "Zm9v*mFy\n";
  int last = 0;
  EXPECT_EQ(c.ReadAll(&last), std::string(48, '\0'));
  EXPECT_EQ(last, -1);
  EXPECT_EQ(BIO_read(c.filter, &last, 1), -1);  // and keeps failing
  EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_B64_READ, EVP_R_DECODE_ERROR}});
}

// Text that ends inside a group, in line mode or unbroken: the whole groups
// before the fault, then -1 with a reason; complete text ends with 0.
TEST(Base64Filter, TextEndingInsideAGroupFailsAfterTheWholeGroups) {
  const std::string full = std::string(64, 'A') + "\n";  // 48 zero bytes
  std::string ten;
  for (int i = 0; i < 10; i++) ten += full;
  struct Case {
    std::string text;
    bool unbroken;
    std::string data;
    int last;
  };
  const Case cases[] = {
      {"QUFBQUFB\nQU\n", false, "AAAAAA", -1},
      {ten + "QUF", false, std::string(480, '\0'), -1},
      {ten + "QUF\n", false, std::string(480, '\0'), -1},
      {"QUFBQUFB\nnot base64\n", false, "AAAAAA", -1},  // a text line after the data
      {"QUFBQUFB\nQUE=\n", false, "AAAAAAAA", 0},
      {ten + "QUFB\n", false, std::string(480, '\0') + "AAA", 0},
      {"QUFBQUFBQU", true, "AAAAAA", -1},
      {"QUFBQUFBQUE=", true, "AAAAAAAA", 0},
      // Blanks after full lines end nothing.
      {full.substr(0, 64) + " \n" + full.substr(0, 64) + "\t\n" + full.substr(0, 64) + " \r\n",
       false, std::string(144, '\0'), 0},
      // A padded group ends one run of data; what follows is new groups.
      {"QQ==\nQkNE\n", false, "ABCD", 0},
      {"QQ==\n\r\n \nQkM=\nRA==\n", false, "ABCD", 0},
      {std::string(63, 'A') + "=\nQkNE\n", false, std::string(47, '\0') + "BCD", 0},
      {"QQ==\n-----END X-----\nQkNE\n", false, "A", 0},  // an armour line ends it
      {"QQ==\nQk*E\n", false, "A", -1},                  // a corrupt line after it
      {"QQ==\nnot base64\n", false, "A", -1},
      {"QQ==QkNE\n", false, "ABCD", 0},  // files joined without a line end
      {"QUJD\nQQ==Qk*E\n", false, "ABCA", -1},
      {"QQ==QkNE", true, "ABCD", 0},
      {"QUI=QkNEQUJDRA==", true, "ABBCDABCD", 0},
      {"QQ=AQkNE", true, "", -1},
      // A first line of base64 gone wrong after its "=" is reported, not
      // passed over as a header.
      {"-----BEGIN X-----\nQU=JQkNE\n-----END X-----\n", false, "", -1},
      {"Content-Type: x=y\nQUJD\n", false, "ABC", 0},
      // "-" after a padded group ends the data there; inside a line
      // elsewhere it is no base64.
      {"QQ==-----END X-----\nQkNE\n", false, "A", 0},
      {"QUJD-----END X QQ==QkNE\n", false, "ABC", -1},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.text);
    for (int piece : {1, 1000}) {
      Chain c(BIO_f_base64());
      if (k.unbroken) BIO_set_flags(c.filter, BIO_FLAGS_BASE64_NO_NL);
      c.io().input = k.text;
      int last = 1;
      EXPECT_EQ(c.ReadAll(&last, piece), k.data);
      EXPECT_EQ(last, k.last);
      if (k.last < 0) {
        EXPECT_ERRORS({{ERR_LIB_EVP, EVP_F_B64_READ, EVP_R_DECODE_ERROR}});
      } else {
        EXPECT_ERRORS({});
      }
    }
  }
}

// What the writer makes when flushed between writes, in lines or unbroken,
// reads back whole.
TEST(Base64Filter, FlushedWritesReadBackWhole) {
  const std::vector<std::string> parts = {"A", "BCD", std::string(47, 'x'), "yz", "", "0123"};
  for (const bool unbroken : {false, true}) {
    Chain w(BIO_f_base64());
    if (unbroken) BIO_set_flags(w.filter, BIO_FLAGS_BASE64_NO_NL);
    std::string all;
    for (const std::string& part : parts) {
      if (!part.empty()) {
        EXPECT_EQ(w.Write(part), static_cast<int>(part.size()));
      }
      EXPECT_EQ(BIO_flush(w.filter), 1);
      all += part;
    }
    if (!unbroken) {
      EXPECT_EQ(w.io().output.substr(0, 10), "QQ==\nQkNE\n");
    }
    for (const int piece : {1, 3, 4096}) {
      Chain r(BIO_f_base64());
      if (unbroken) BIO_set_flags(r.filter, BIO_FLAGS_BASE64_NO_NL);
      r.io().input = w.io().output;
      int last = 1;
      EXPECT_EQ(r.ReadAll(&last, piece), all) << unbroken << " " << piece;
      EXPECT_EQ(last, 0);
      EXPECT_ERRORS({});
    }
  }
}

// Over a source that asks to retry (a memory stream at its end), a padded
// group followed by nothing more ends a read with 0 and no retry; groups
// that come later are read by the next read.
TEST(Base64Filter, APaddedGroupEndsAReadWhenTheSourceWaits) {
  BIO* mem = BIO_new(BIO_s_mem());
  BIO* b64 = BIO_push(BIO_new(BIO_f_base64()), mem);
  char buf[16];
  BIO_puts(mem, "-----BEGIN X-----\nQQ==\n\n");
  EXPECT_EQ(BIO_read(b64, buf, sizeof buf), 1);
  EXPECT_EQ(BIO_read(b64, buf, sizeof buf), 0);
  EXPECT_FALSE(BIO_should_retry(b64));
  BIO_puts(mem, "QkNE\n");
  EXPECT_EQ(BIO_read(b64, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "BCD");
  EXPECT_EQ(BIO_read(b64, buf, sizeof buf), -1);  // unpadded: more may come
  EXPECT_TRUE(BIO_should_retry(b64));
  BIO_puts(mem, "-----END X-----\n");
  EXPECT_EQ(BIO_read(b64, buf, sizeof buf), 0);
  EXPECT_FALSE(BIO_should_retry(b64));
  EXPECT_ERRORS({});
  BIO_free_all(b64);
}

// Text written into a memory stream a few characters at each retry, lines
// ending in blanks: what the stream holds is decoded at each retry, the
// head of a line and its blank tail apart, and every size gives the data.
TEST(Base64Filter, TextFedInPiecesWithBlanksReadsWhole) {
  const std::string line(64, 'A');
  const std::string text = line + "\t\t \n" + line + " \r\n" + line + "\t\nZm8=\n";
  const std::string data = std::string(144, '\0') + "fo";
  for (const size_t step : {1, 5, 64, 66, 67}) {
    SCOPED_TRACE(step);
    BIO* mem = BIO_new(BIO_s_mem());
    BIO* b64 = BIO_push(BIO_new(BIO_f_base64()), mem);
    std::string got;
    char buf[7];
    size_t fed = 0;
    int n = 0;
    for (int calls = 0; calls < 10000; calls++) {
      n = BIO_read(b64, buf, sizeof buf);
      if (n > 0) {
        got.append(buf, static_cast<size_t>(n));
      } else if (BIO_should_retry(b64) && fed < text.size()) {
        const size_t k = std::min(step, text.size() - fed);
        BIO_write(mem, text.data() + fed, static_cast<int>(k));
        fed += k;
      } else {
        break;
      }
    }
    EXPECT_EQ(n, 0);
    EXPECT_TRUE(got == data);
    EXPECT_ERRORS({});
    BIO_free_all(b64);
  }
}

TEST(Base64Filter, AnUnterminatedLastLineIsRead) {
  Chain c(BIO_f_base64());
  c.io().input = "Zm9vYmFy";
  EXPECT_EQ(c.ReadAll(), "foobar");
}

TEST(Base64Filter, WritesLinesAndTheLastOneAtTheFlush) {
  Chain c(BIO_f_base64());
  const std::string data(50, 'x');
  EXPECT_EQ(c.Write(data), 50);
  EXPECT_EQ(c.io().output.size(), 65u);
  EXPECT_EQ(BIO_wpending(c.filter), 1);  // two bytes wait in the coder
  EXPECT_EQ(BIO_flush(c.filter), 1);
  EXPECT_EQ(c.io().output.substr(65), "eHg=\n");
}

TEST(Base64Filter, UnbrokenTextRoundTrip) {
  Chain w(BIO_f_base64());
  BIO_set_flags(w.filter, BIO_FLAGS_BASE64_NO_NL);
  EXPECT_EQ(w.Write(std::string("\x00\x01\x02\x03", 4)), 4);
  EXPECT_EQ(w.io().output, "AAEC");
  EXPECT_EQ(BIO_flush(w.filter), 1);
  EXPECT_EQ(w.io().output, "AAECAw==");

  Chain r(BIO_f_base64());
  BIO_set_flags(r.filter, BIO_FLAGS_BASE64_NO_NL);
  r.io().input = w.io().output;
  r.io().max_read = 3;  // groups split across reads
  EXPECT_EQ(r.ReadAll(), std::string("\x00\x01\x02\x03", 4));
}

TEST(Base64Filter, ARefusedWriteKeepsTheTextForLater) {
  Chain c(BIO_f_base64());
  c.io().write_script = {morvane_test::ScriptStep::Retry()};
  EXPECT_EQ(c.Write(std::string(48, 'y')), 48);  // taken; its line waits
  EXPECT_TRUE(BIO_should_retry(c.filter));
  EXPECT_EQ(BIO_flush(c.filter), 1);
  std::string line;
  for (int i = 0; i < 16; i++) line += "eXl5";  // "yyy" in base64
  EXPECT_EQ(c.io().output, line + "\n");
}

// ---- cipher ------------------------------------------------------------------

// FIPS 197, Appendix C.1 (AES-128).
const morvane_test::Bytes kKey = FromHex("000102030405060708090a0b0c0d0e0f");
const morvane_test::Bytes kPlain = FromHex("00112233445566778899aabbccddeeff");
const morvane_test::Bytes kCipher = FromHex("69c4e0d86a7b0430d8cdb78070b4c55a");

TEST(CipherFilter, HoldsAShortWriteUntilTheFlush) {
  Chain c(BIO_f_cipher());
  BIO_set_cipher(c.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 1);
  EXPECT_EQ(c.Write(Str(kPlain).substr(0, 10)), 10);
  EXPECT_EQ(c.io().output, "");
  EXPECT_EQ(BIO_flush(c.filter), 1);
  EXPECT_EQ(c.io().output.size(), 16u);
  EXPECT_EQ(BIO_get_cipher_status(c.filter), 1);

  Chain whole(BIO_f_cipher());
  BIO_set_cipher(whole.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 1);
  EXPECT_EQ(whole.Write(Str(kPlain)), 16);
  EXPECT_EQ(whole.io().output, Str(kCipher));
}

// A read without room reads nothing and says so: it answered 1, as if a
// byte had come, with the source untouched.
TEST(CipherFilter, AReadWithoutRoomGivesNothing) {
  Chain c(BIO_f_cipher());
  BIO_set_cipher(c.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 0);
  c.io().input = Str(kCipher);
  char byte = 'Q';
  for (const int len : {0, -1, -2, INT_MIN}) {
    EXPECT_EQ(BIO_read(c.filter, &byte, len), 0) << len;
    EXPECT_EQ(byte, 'Q');
  }
  EXPECT_EQ(c.io().input, Str(kCipher));
}

TEST(CipherFilter, BadPaddingDeliversTheBlocksBeforeIt) {
  // Two blocks whose last decrypts to the FIPS plaintext: no valid padding.
  Chain c(BIO_f_cipher());
  BIO_set_cipher(c.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 0);
  c.io().input = Str(kCipher) + Str(kCipher);
  EXPECT_EQ(c.ReadAll(), Str(kPlain));
  EXPECT_EQ(BIO_get_cipher_status(c.filter), 0);
  EXPECT_ERRORS({});
}

// The final block's flush (writing) and the source's end (reading, bad
// padding included) take back only what the envelope queued: the caller's
// entries and mark stay.
TEST(CipherFilter, FinalBlockKeepsTheCallersMark) {
  EXPECT_TRUE(morvane_test::KeepsCallersMark([] {
    Chain c(BIO_f_cipher());
    BIO_set_cipher(c.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 1);
    return c.Write(Str(kPlain)) == 16 && BIO_flush(c.filter) == 1 && c.io().output.size() == 32 &&
           BIO_get_cipher_status(c.filter) == 1;
  }));
  for (const bool padded : {true, false}) {
    SCOPED_TRACE(padded ? "good padding" : "bad padding");
    EXPECT_TRUE(morvane_test::KeepsCallersMark([padded] {
      Chain w(BIO_f_cipher());
      BIO_set_cipher(w.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 1);
      w.Write(Str(kPlain));
      BIO_flush(w.filter);
      Chain r(BIO_f_cipher());
      BIO_set_cipher(r.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 0);
      r.io().input = padded ? w.io().output : Str(kCipher) + Str(kCipher);
      return r.ReadAll() == Str(kPlain) && BIO_get_cipher_status(r.filter) == (padded ? 1 : 0);
    }));
  }
}

TEST(CipherFilter, AFailedSetUpLeavesTheFilterUnusable) {
  Chain c(BIO_f_cipher());
  BIO_set_cipher(c.filter, nullptr, kKey.data(), nullptr, 1);  // no cipher to set up
  ERR_clear_error();
  EXPECT_EQ(BIO_get_cipher_status(c.filter), 0);
  EXPECT_EQ(c.Write("abc"), -2);
  char buf[4];
  EXPECT_EQ(BIO_read(c.filter, buf, 4), -2);
  ERR_clear_error();
}

TEST(CipherFilter, ACopiedChainHasItsOwnKeyState) {
  Chain c(BIO_f_cipher());
  BIO_set_cipher(c.filter, EVP_aes_128_ecb(), kKey.data(), nullptr, 1);
  BIO* dup = BIO_dup_chain(c.filter);
  ASSERT_NE(dup, nullptr);
  ASSERT_EQ(BIO_write(dup, kPlain.data(), 16), 16);
  EXPECT_EQ(Script(BIO_next(dup)).output, Str(kCipher));
  BIO_free_all(dup);  // the original's key state stays
  EXPECT_EQ(c.Write(Str(kPlain)), 16);
  EXPECT_EQ(c.io().output, Str(kCipher));
}

// AES-128-CBC through a cipher filter over a base64 filter over a memory
// stream, whose end is a retry (the memory stream's default): in lines, the
// text's '=' padding ends the base64 data (unbroken text ends where the
// memory stream is told to end), so the cipher filter reaches its final
// block and every read size gets exactly the plaintext, then 0.  The text is
// in the memory stream from the start or fed 50 characters at each retry.
TEST(CipherFilter, OverBase64DeliversThePlaintextThenEnds) {
  const unsigned char iv[16] = {1, 2, 3};
  for (const int size : {0, 1, 15, 16, 100, 3000}) {
    std::string plain(static_cast<size_t>(size), '\0');
    for (int i = 0; i < size; i++) plain[i] = static_cast<char>(i * 7 + 3);
    std::string sealed(plain.size() + 16, '\0');
    int n1 = 0, n2 = 0;
    EVP_CIPHER_CTX enc;
    EVP_CIPHER_CTX_init(&enc);
    ASSERT_EQ(EVP_EncryptInit_ex(&enc, EVP_aes_128_cbc(), nullptr, kKey.data(), iv), 1);
    ASSERT_EQ(EVP_EncryptUpdate(&enc, reinterpret_cast<unsigned char*>(&sealed[0]), &n1,
                                reinterpret_cast<const unsigned char*>(plain.data()), size),
              1);
    ASSERT_EQ(EVP_EncryptFinal_ex(&enc, reinterpret_cast<unsigned char*>(&sealed[n1]), &n2), 1);
    EVP_CIPHER_CTX_cleanup(&enc);
    sealed.resize(static_cast<size_t>(n1 + n2));
    std::string text(sealed.size() * 2 + 4, '\0');
    text.resize(static_cast<size_t>(EVP_EncodeBlock(
        reinterpret_cast<unsigned char*>(&text[0]),
        reinterpret_cast<const unsigned char*>(sealed.data()), static_cast<int>(sealed.size()))));
    ASSERT_EQ(text.back(), '=');
    std::string lines;
    for (size_t at = 0; at < text.size(); at += 64) lines += text.substr(at, 64) + "\n";
    for (const int piece : {1, 7, 16, 4096}) {
      for (const int way : {0, 1, 2, 3}) {
        const bool fed = way & 1, unbroken = way & 2;
        SCOPED_TRACE(testing::Message()
                     << size << " bytes, reads of " << piece << (fed ? ", fed in pieces" : "")
                     << (unbroken ? ", one line" : ", in lines"));
        BIO* mem = BIO_new(BIO_s_mem());
        BIO* b64 = BIO_new(BIO_f_base64());
        BIO* cip = BIO_new(BIO_f_cipher());
        if (unbroken) BIO_set_flags(b64, BIO_FLAGS_BASE64_NO_NL);
        const std::string& in = unbroken ? text : lines;
        BIO_set_cipher(cip, EVP_aes_128_cbc(), kKey.data(), iv, 0);
        BIO_push(cip, BIO_push(b64, mem));
        size_t fed_up_to = fed ? 0 : in.size();
        BIO_write(mem, in.data(), static_cast<int>(fed_up_to));
        if (unbroken && !fed) BIO_set_mem_eof_return(mem, 0);
        std::string got;
        std::vector<char> buf(static_cast<size_t>(piece));
        int n = 1;
        for (int calls = 0; calls < 20000; calls++) {
          n = BIO_read(cip, buf.data(), piece);
          if (n > 0) {
            got.append(buf.data(), static_cast<size_t>(n));
          } else if (BIO_should_retry(cip) && fed_up_to < in.size()) {
            const size_t more = std::min<size_t>(50, in.size() - fed_up_to);
            BIO_write(mem, in.data() + fed_up_to, static_cast<int>(more));
            fed_up_to += more;
            if (unbroken && fed_up_to == in.size()) BIO_set_mem_eof_return(mem, 0);
          } else {
            break;
          }
        }
        EXPECT_EQ(n, 0);
        EXPECT_FALSE(BIO_should_retry(cip));
        EXPECT_EQ(got.size(), plain.size());
        EXPECT_TRUE(got == plain);
        EXPECT_EQ(BIO_get_cipher_status(cip), 1);
        EXPECT_EQ(BIO_read(cip, buf.data(), piece), 0);
        BIO_free_all(cip);
      }
    }
  }
}

// ---- digest ------------------------------------------------------------------

TEST(DigestFilter, GetsNeedsRoomAndLeavesTheDigestRunning) {
  Chain c(BIO_f_md());
  ASSERT_EQ(BIO_set_md(c.filter, EVP_sha1()), 1);
  EXPECT_EQ(c.Write("ab"), 2);
  char md[EVP_MAX_MD_SIZE];
  EXPECT_EQ(BIO_gets(c.filter, md, 19), -1);
  EXPECT_EQ(BIO_gets(c.filter, md, 20), -1);  // no room for the terminator
  EXPECT_EQ(c.Write("c"), 1);
  ASSERT_EQ(BIO_gets(c.filter, md, 21), 20);
  EXPECT_EQ(md[20], '\0');
  EXPECT_EQ(BIO_gets(c.filter, md + 32, 32), 0);  // handed out once
  // FIPS 180-2, Appendix A.1: SHA-1("abc").
  EXPECT_EQ(Str(morvane_test::Bytes(md, md + 20)),
            Str(FromHex("a9993e364706816aba3e25717850c26c9cd0d89d")));
  EXPECT_EQ(c.io().output, "abc");
}

TEST(DigestFilter, ASetContextStaysTheCallers) {
  EVP_MD_CTX* mine = EVP_MD_CTX_create();
  ASSERT_EQ(EVP_DigestInit_ex(mine, EVP_sha1(), nullptr), 1);
  {
    Chain c(BIO_f_md());
    ASSERT_EQ(BIO_set_md(c.filter, EVP_md5()), 1);
    ASSERT_EQ(BIO_set_md_ctx(c.filter, mine), 1);
    EVP_MD_CTX* got = nullptr;
    ASSERT_EQ(BIO_get_md_ctx(c.filter, &got), 1);
    EXPECT_EQ(got, mine);
    EXPECT_EQ(c.Write("abc"), 3);
  }  // the filter frees only its own context
  unsigned char md[EVP_MAX_MD_SIZE];
  unsigned int n = 0;
  ASSERT_EQ(EVP_DigestFinal_ex(mine, md, &n), 1);
  EXPECT_EQ(Str(morvane_test::Bytes(md, md + n)),
            Str(FromHex("a9993e364706816aba3e25717850c26c9cd0d89d")));
  EVP_MD_CTX_destroy(mine);
}

// ---- reliable ----------------------------------------------------------------

std::string ReliableStream(const EVP_MD* md, const std::string& data) {
  Chain w(BIO_f_reliable());
  EXPECT_EQ(BIO_set_md(w.filter, md), 1);
  EXPECT_EQ(w.Write(data), static_cast<int>(data.size()));
  EXPECT_EQ(BIO_flush(w.filter), 1);
  return w.io().output;
}

std::string Pattern(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; i++) s[i] = static_cast<char>(i * 7 + 1);
  return s;
}

TEST(ReliableFilter, FramesBlocksOfAtMost4096Bytes) {
  const std::string data = Pattern(5000);
  const std::string wire = ReliableStream(EVP_sha1(), data);
  // The handshake (2 x 20), a block of 4 + 4096 + 20, a block of 4 + 904 + 20.
  ASSERT_EQ(wire.size(), 40u + 4120 + 928);
  EXPECT_EQ(wire.substr(40, 4), std::string("\x00\x00\x10\x00", 4));
  EXPECT_EQ(wire.substr(40 + 4120, 4), std::string("\x00\x00\x03\x88", 4));
  EXPECT_EQ(wire.substr(44, 4096), data.substr(0, 4096));
  // Each block's digest starts from all-zero chaining words.
  SHA_CTX sha;
  SHA1_Init(&sha);
  sha.h0 = sha.h1 = sha.h2 = sha.h3 = sha.h4 = 0;
  SHA1_Update(&sha, data.data() + 4096, 904);
  unsigned char md[20];
  SHA1_Final(md, &sha);
  EXPECT_EQ(wire.substr(40 + 4120 + 4 + 904), std::string(reinterpret_cast<char*>(md), 20));
}

TEST(ReliableFilter, RoundTripsWithEveryBuiltInDigest) {
  const std::string data = Pattern(9000);
  for (const EVP_MD* md : {EVP_md2(), EVP_md4(), EVP_md5(), EVP_sha(), EVP_sha1(), EVP_sha224(),
                           EVP_sha256(), EVP_sha384(), EVP_sha512(), EVP_ripemd160()}) {
    const std::string wire = ReliableStream(md, data);
    const size_t n = static_cast<size_t>(EVP_MD_size(md));
    EXPECT_EQ(wire.size(), 2 * n + 3 * 4 + data.size() + 3 * n) << EVP_MD_type(md);
    Chain r(BIO_f_reliable());
    ASSERT_EQ(BIO_set_md(r.filter, md), 1);
    r.io().input = wire;
    r.io().max_read = 1000;
    EXPECT_EQ(r.ReadAll(nullptr, 777), data) << EVP_MD_type(md);
    EXPECT_EQ(BIO_ctrl(r.filter, BIO_CTRL_INFO, 0, nullptr), 1) << EVP_MD_type(md);
  }
}

TEST(ReliableFilter, BlocksBufferedAtTheSourcesEndAreDelivered) {
  // Small flushed blocks: one read of the source takes them all at once.
  Chain w(BIO_f_reliable());
  ASSERT_EQ(BIO_set_md(w.filter, EVP_md5()), 1);
  std::string data;
  for (int i = 0; i < 5; i++) {
    const std::string part = Pattern(10 + static_cast<size_t>(i));
    EXPECT_EQ(w.Write(part), static_cast<int>(part.size()));
    EXPECT_EQ(BIO_flush(w.filter), 1);
    data += part;
  }
  Chain r(BIO_f_reliable());
  ASSERT_EQ(BIO_set_md(r.filter, EVP_md5()), 1);
  r.io().input = w.io().output;
  EXPECT_EQ(r.ReadAll(nullptr, 4), data);
  EXPECT_EQ(BIO_ctrl(r.filter, BIO_CTRL_INFO, 0, nullptr), 1);
}

TEST(ReliableFilter, AChangedByteStopsDeliveryAtItsBlock) {
  const std::string data = Pattern(5000);
  std::string wire = ReliableStream(EVP_sha1(), data);
  wire[40 + 4120 + 4 + 10] ^= 1;  // in the second block's data
  Chain r(BIO_f_reliable());
  ASSERT_EQ(BIO_set_md(r.filter, EVP_sha1()), 1);
  r.io().input = wire;
  EXPECT_EQ(r.ReadAll(), data.substr(0, 4096));
  EXPECT_EQ(BIO_ctrl(r.filter, BIO_CTRL_INFO, 0, nullptr), 0);
  EXPECT_EQ(BIO_eof(r.filter), 1);
}

TEST(ReliableFilter, ALengthAbove4096EndsTheStream) {
  std::string wire = ReliableStream(EVP_md5(), "abc");
  wire.replace(32, 4, std::string("\x00\x00\x10\x01", 4));
  Chain r(BIO_f_reliable());
  ASSERT_EQ(BIO_set_md(r.filter, EVP_md5()), 1);
  r.io().input = wire + std::string(5000, 'z');
  EXPECT_EQ(r.ReadAll(), "");
  EXPECT_EQ(BIO_ctrl(r.filter, BIO_CTRL_INFO, 0, nullptr), 0);
}

TEST(ReliableFilter, ACutStreamIsReported) {
  const std::string wire = ReliableStream(EVP_sha256(), Pattern(100));
  Chain r(BIO_f_reliable());
  ASSERT_EQ(BIO_set_md(r.filter, EVP_sha256()), 1);
  r.io().input = wire.substr(0, wire.size() - 1);
  EXPECT_EQ(r.ReadAll(), "");
  EXPECT_EQ(BIO_ctrl(r.filter, BIO_CTRL_INFO, 0, nullptr), 0);
}

TEST(ReliableFilter, AFlushSealsTheBlockUnderWayOnce) {
  Chain w(BIO_f_reliable());
  ASSERT_EQ(BIO_set_md(w.filter, EVP_sha1()), 1);
  EXPECT_EQ(BIO_flush(w.filter), 1);  // before the first write: nothing
  EXPECT_EQ(w.io().output, "");
  EXPECT_EQ(w.Write(Pattern(10)), 10);
  EXPECT_EQ(w.io().output.size(), 40u);  // the handshake
  EXPECT_EQ(BIO_flush(w.filter), 1);
  EXPECT_EQ(w.io().output.size(), 40u + 4 + 10 + 20);
  EXPECT_EQ(BIO_flush(w.filter), 1);  // right after a flush: nothing more
  EXPECT_EQ(w.io().output.size(), 40u + 4 + 10 + 20);
  EXPECT_EQ(w.Write(Pattern(4096)), 4096);  // a full block is sealed and waits
  EXPECT_EQ(BIO_flush(w.filter), 1);
  EXPECT_EQ(w.io().output.size(), 40u + 34 + 4120);
}

TEST(ReliableFilter, RefusesADigestWhoseStateItCannotReach) {
  EVP_MD odd = *EVP_sha1();  // the same numbers, not a built-in description
  Chain c(BIO_f_reliable());
  EXPECT_EQ(BIO_set_md(c.filter, &odd), 0);
  EXPECT_EQ(BIO_set_md(c.filter, EVP_md_null()), 0);  // it would check nothing
  EXPECT_EQ(c.Write("x"), -2);                        // not initialised
  ERR_clear_error();
}

// Sets up a cipher or reliable filter (others need nothing).
void SetUpFilter(BIO* f, int enc) {
  if (BIO_method_type(f) == BIO_TYPE_CIPHER && BIO_set_md(f, EVP_md5()) != 1)
    BIO_set_cipher(f, EVP_aes_128_cbc(), kKey.data(), kKey.data(), enc);
}

// What a writing filter of `meth` sends for `data`.
std::string Written(BIO_METHOD* meth, const std::string& data) {
  Chain w(meth);
  SetUpFilter(w.filter, 1);
  EXPECT_EQ(w.Write(data), static_cast<int>(data.size()));
  EXPECT_EQ(BIO_flush(w.filter), 1);
  return w.io().output;
}

// A filter answers BIO_eof for itself: 0 while it holds data (or a cipher's
// final block is to come), whatever its source says; 1 after the last byte
// and the source's end.
TEST(FilterEnd, HeldDataIsNoEnd) {
  const std::string data = Pattern(40), b64 = Written(BIO_f_base64(), data);
  const struct {
    BIO_METHOD* meth;
    std::string wire;
    size_t len = 40;
  } kRows[] = {
      {BIO_f_cipher(), Written(BIO_f_cipher(), data)},
      {BIO_f_base64(), "-----BEGIN X-----\n" + b64 + "-----END X-----\n"},
      {BIO_f_base64(), b64.substr(0, 52), 39},  // one line, no line end
      {BIO_f_base64(), b64.substr(0, 52) + "\r" + b64.substr(52, 4) + "\r"},
      {BIO_f_buffer(), data},
      {BIO_f_reliable(), Written(BIO_f_reliable(), data)},
  };
  for (const auto& row : kRows) {
    SCOPED_TRACE(row.wire);
    BIO* mem = BIO_new(BIO_s_mem());
    BIO* f = BIO_push(BIO_new(row.meth), mem);
    SetUpFilter(f, 0);
    BIO_write(mem, row.wire.data(), static_cast<int>(row.wire.size()));
    std::string got(1, '\0');
    ASSERT_EQ(BIO_read(f, &got[0], 1), 1);
    EXPECT_EQ(BIO_eof(mem), 1);
    EXPECT_EQ(BIO_eof(f), 0);
    char buf[7];
    for (int eof_return : {-1, 0}) {
      BIO_set_mem_eof_return(mem, eof_return);
      for (int n; (n = BIO_read(f, buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
      EXPECT_EQ(BIO_eof(f), row.meth != BIO_f_cipher() || eof_return == 0) << eof_return;
    }
    EXPECT_EQ(got, data.substr(0, row.len));
    EXPECT_ERRORS({});
    BIO_free_all(f);
  }
  // Output held by a writer is no end either.
  for (BIO_METHOD* meth : {BIO_f_buffer(), BIO_f_linebuffer(), BIO_f_base64(), BIO_f_cipher()}) {
    Chain c(meth);
    SetUpFilter(c.filter, 1);
    EXPECT_EQ(c.Write("ab"), 2);
    EXPECT_EQ(BIO_eof(c.filter), 0);
    EXPECT_EQ(BIO_flush(c.filter), 1);
    EXPECT_EQ(BIO_eof(c.filter), 1);
  }
}

}  // namespace
