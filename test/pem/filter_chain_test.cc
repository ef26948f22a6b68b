// Loaders reading through filters: a buffer filter over a decrypting cipher
// filter or a base64 filter over a memory stream whose end is 0 or a retry.
// Over random texts each loader gives exactly the text's content or fails
// with a reason, never less: a cipher filter whose source asks to retry
// still holds its last block, so that chain fails.

#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/asn1.h>
#include <morvane/bio.h>
#include <morvane/conf.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>
#include <morvane/txt_db.h>
#include <morvane/x509.h>

#include "cert_builder.h"
#include "scripted_stream.h"
#include "test_support.h"

namespace {

const unsigned char kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};

// `text` as the middle filter writes it (without its last line feed when
// `cut`), in a memory stream read through that filter and a buffer filter.
// Ways 0 to 3: base64 or cipher (odd), the memory stream's end a retry or
// (2, 3) 0; 4 and 5: the reliable filter over a source that ends after its
// text, or holds half of it and then asks to retry; 6 and 7: the null or
// line-buffer filter alone over a memory stream at its default end.
BIO* Chain(const std::string& text, int way, bool cut) {
  const bool cipher = way == 1 || way == 3, reliable = way == 4 || way == 5;
  BIO_METHOD* meth = cipher ? BIO_f_cipher() : reliable ? BIO_f_reliable() : BIO_f_base64();
  BIO* w = BIO_push(BIO_new(meth), BIO_new(BIO_s_mem()));
  BIO_set_cipher(w, EVP_aes_128_cbc(), kKey, kKey, 1);
  BIO_set_md(w, EVP_sha1());
  if (!text.empty() && way < 6) BIO_write(w, text.data(), static_cast<int>(text.size()));
  EXPECT_EQ(BIO_flush(w), 1);
  char* p = nullptr;
  const long len = BIO_get_mem_data(BIO_next(w), &p);
  std::string wire = way < 6 ? std::string(p, static_cast<size_t>(len)) : text;
  if ((way == 0 || way == 2) && cut && !wire.empty()) wire.pop_back();
  BIO_free_all(w);
  BIO* mem = reliable ? morvane_test::NewScriptedSource(way == 4 ? wire : wire.substr(0, len / 2),
                                                        {}, way == 4)
                      : BIO_new(BIO_s_mem());
  if (!reliable) BIO_write(mem, wire.data(), static_cast<int>(wire.size()));
  if (way == 2 || way == 3) BIO_set_mem_eof_return(mem, 0);
  if (way >= 6) return BIO_push(BIO_new(way == 6 ? BIO_f_null() : BIO_f_linebuffer()), mem);
  BIO* mid = BIO_new(meth);
  BIO_set_cipher(mid, EVP_aes_128_cbc(), kKey, kKey, 0);
  BIO_set_md(mid, EVP_sha1());
  return BIO_push(BIO_new(BIO_f_buffer()), BIO_push(mid, mem));
}

std::string Words(std::mt19937& rng) {
  std::string s;
  for (int n = 1 + static_cast<int>(rng() % 4); n > 0; n--) {
    if (!s.empty()) s += ' ';
    for (int k = 1 + static_cast<int>(rng() % 9); k > 0; k--)
      s += static_cast<char>('a' + rng() % 26);
  }
  return s;
}

std::string Der(X509* x) {
  unsigned char* p = nullptr;
  const int n = i2d_X509(x, &p);
  std::string s(reinterpret_cast<char*>(p), static_cast<size_t>(n > 0 ? n : 0));
  CRYPTO_free(p);
  return s;
}

TEST(FilterChains, LoadersReadTheWholeTextOrFail) {
  std::vector<std::string> ders, pems;
  for (long i = 1; i <= 3; i++) {
    X509* x = morvane_test::MakeCert({.subject = "chain " + std::to_string(i), .serial = i});
    ders.push_back(Der(x));
    BIO* m = BIO_new(BIO_s_mem());
    PEM_write_bio_X509(m, x);
    char* p = nullptr;
    const long n = BIO_get_mem_data(m, &p);
    pems.emplace_back(p, static_cast<size_t>(n));
    BIO_free(m);
    X509_free(x);
  }
  std::mt19937 rng(0x63686e73);
  for (int round = 0; round < 100; round++) {
    const int rows = static_cast<int>(rng() % 6);
    const bool last_lf = rng() % 2 != 0;
    std::vector<std::string> values, fields;
    std::string conf = "[s]\n", db, certs;
    for (int i = 0; i < rows; i++) {
      values.push_back(Words(rng));
      conf +=
          "k" + std::to_string(i) + " = " + values.back() + (i + 1 < rows || last_lf ? "\n" : "");
      for (int f = 0; f < 3; f++) fields.push_back(Words(rng));
      db += fields[3 * i] + "\t" + fields[3 * i + 1] + "\t" + fields[3 * i + 2];
      if (i + 1 < rows || last_lf) db += "\n";
    }
    const int n_certs = 1 + static_cast<int>(rng() % 3);
    for (int i = 0; i < n_certs; i++) certs += (rng() % 2 ? "junk line\n" : "") + pems[i];
    for (int way = 0; way < 8; way++) {
      const bool cut = rng() % 2 != 0;
      const bool whole = way != 1 && way != 5;  // else the chain keeps a block, or half
      SCOPED_TRACE(testing::Message()
                   << "round " << round << " way " << way << (cut ? " cut" : ""));
      ERR_clear_error();
      BIO* b = Chain(conf, way, cut);
      CONF* c = NCONF_new(nullptr);
      long eline = 0;
      ASSERT_EQ(NCONF_load_bio(c, b, &eline), whole ? 1 : 0);
      for (int i = 0; whole && i < rows; i++) {
        const char* v = NCONF_get_string(c, "s", ("k" + std::to_string(i)).c_str());
        EXPECT_STREQ(v, values[i].c_str());
      }
      EXPECT_EQ(ERR_peek_error() != 0, !whole);
      NCONF_free(c);
      BIO_free_all(b);

      ERR_clear_error();
      b = Chain(db, way, cut);
      TXT_DB* t = TXT_DB_read(b, 3);
      ASSERT_EQ(t != nullptr, whole);
      for (int i = 0; t != nullptr && i < 3 * rows; i++) {
        ASSERT_EQ(sk_num(t->data), rows);
        EXPECT_EQ(reinterpret_cast<char**>(sk_value(t->data, i / 3))[i % 3], fields[i]);
      }
      TXT_DB_free(t);
      BIO_free_all(b);

      ERR_clear_error();
      b = Chain(certs, way, cut);
      X509* x = PEM_read_bio_X509(b, nullptr, nullptr, nullptr);
      if (x != nullptr || whole) {  // the first block may end before the held one
        EXPECT_EQ(x != nullptr ? Der(x) : "", ders[0]);
      } else {
        EXPECT_NE(ERR_peek_error(), 0UL);
      }
      X509_free(x);
      BIO_free_all(b);

      b = Chain(certs, way, cut);
      STACK* sk = PEM_X509_INFO_read_bio(b, nullptr, nullptr, nullptr);
      ASSERT_EQ(sk != nullptr, whole);
      EXPECT_EQ(ERR_peek_error() != 0, !whole);
      for (int i = 0; sk != nullptr && i < n_certs; i++) {
        ASSERT_EQ(sk_num(sk), n_certs);
        EXPECT_EQ(Der(reinterpret_cast<X509_INFO*>(sk_value(sk, i))->x509), ders[i]);
      }
      sk_pop_free(sk, reinterpret_cast<void (*)(void*)>(X509_INFO_free));
      BIO_free_all(b);

      b = Chain(last_lf ? "0102\\\n0304\n" : "0102\\\n0304", way, cut);
      ASN1_STRING* s = ASN1_STRING_new();
      char buf[16];
      EXPECT_EQ(a2i_ASN1_STRING(b, s, buf, sizeof buf), whole ? 1 : 0);
      EXPECT_EQ(s->length, whole ? 4 : 0);
      ASN1_STRING_free(s);
      BIO_free_all(b);
    }
  }
}

}  // namespace
