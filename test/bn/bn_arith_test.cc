// Known answers of addition, subtraction, shifts and word operations, and of
// the hex, decimal and MPI forms, as tables; bad input and refused sizes.

#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_support.h"

namespace {

using morvane_test::Bytes;

BIGNUM* Hex(const char* text) {
  BIGNUM* n = nullptr;
  EXPECT_GT(BN_hex2bn(&n, text), 0) << text;
  return n;
}

// The value as upper-case hex; a negative zero shows as "-0".
std::string Show(const BIGNUM* n) {
  if (n->top == 0) return n->neg ? "-0" : "0";
  char* s = BN_bn2hex(n);
  std::string out(s);
  MORVANE_free(s);
  return out;
}

// Runs one named operation on a (and b or n); the result as text, a returned
// word as " r<hex>".
std::string RunOp(const std::string& op, BIGNUM* a, BIGNUM* b, BN_ULONG n) {
  BIGNUM* r = BN_new();
  int ok = 1;
  std::string extra;
  if (op == "add") ok = BN_add(r, a, b);
  if (op == "sub") ok = BN_sub(r, a, b);
  if (op == "uadd") ok = BN_uadd(r, a, b);
  if (op == "usub") ok = BN_usub(r, a, b);
  if (op == "lshift1") ok = BN_lshift1(r, a);
  if (op == "rshift1") ok = BN_rshift1(r, a);
  if (op == "lshift") ok = BN_lshift(r, a, static_cast<int>(n));
  if (op == "rshift") ok = BN_rshift(r, a, static_cast<int>(n));
  if (op.find("word") != std::string::npos) BN_copy(r, a);
  if (op == "add_word") ok = BN_add_word(r, n);
  if (op == "sub_word") ok = BN_sub_word(r, n);
  if (op == "mul_word") ok = BN_mul_word(r, n);
  char word[16];
  if (op == "div_word") snprintf(word, sizeof(word), " r%X", BN_div_word(r, n)), extra = word;
  if (op == "mod_word") snprintf(word, sizeof(word), " r%X", BN_mod_word(r, n)), extra = word;
  std::string out = ok ? Show(r) + extra : "fail";
  BN_free(r);
  return out;
}

}  // namespace

TEST(BnArith, KnownAnswers) {
  struct Case {
    const char *op, *a, *b;
    BN_ULONG n;
    const char* want;
  };
  const Case cases[] = {
      {"add", "5", "-5", 0, "0"},
      {"add", "-FFFFFFFF", "-1", 0, "-0100000000"},
      {"add", "-10", "3", 0, "-0D"},
      {"sub", "-3", "-5", 0, "02"},
      {"sub", "-5", "-3", 0, "-02"},
      {"sub", "0", "0", 0, "0"},
      {"sub", "3", "-5", 0, "08"},
      {"uadd", "1", "FFFFFFFFFFFFFFFF", 0, "010000000000000000"},
      {"uadd", "-1", "-1", 0, "02"},
      {"usub", "100000000", "1", 0, "FFFFFFFF"},
      {"usub", "-7", "7", 0, "0"},
      {"lshift1", "80000000", "", 0, "0100000000"},
      {"rshift1", "1", "", 0, "0"},
      {"rshift1", "-1", "", 0, "0"},
      {"rshift1", "-100000000", "", 0, "-80000000"},
      {"lshift", "ABC", "", 0, "0ABC"},
      {"lshift", "-1", "", 32, "-0100000000"},
      {"lshift", "0", "", 100000, "0"},
      {"rshift", "FFFFFFFFFFFFFFFF", "", 64, "0"},
      {"rshift", "-1", "", 1, "0"},
      {"rshift", "-123456789ABCDEF", "", 36, "-123456"},
      {"add_word", "FFFFFFFF", "", 1, "0100000000"},
      {"add_word", "FFFFFFF0", "", 0x20, "0100000010"},  // carry out of a one-word number
      {"add_word", "-5", "", 5, "0"},
      {"add_word", "-5", "", 7, "02"},
      {"sub_word", "0", "", 3, "-03"},
      {"sub_word", "2", "", 3, "-01"},
      {"sub_word", "100000000", "", 1, "FFFFFFFF"},
      {"sub_word", "-FFFFFFFF", "", 1, "-0100000000"},
      {"mul_word", "-1", "", 0, "0"},
      {"mul_word", "-1", "", 0xFFFFFFFF, "-FFFFFFFF"},
      {"div_word", "3B9ACA07", "", 10, "05F5E100 r7"},
      {"div_word", "-7", "", 10, "0 r7"},
      {"div_word", "-123", "", 0, "-0123 rFFFFFFFF"},
      {"mod_word", "10000000000000000", "", 0xFFFFFFFF, "010000000000000000 r1"},
      {"mod_word", "-123456789ABCDEF", "", 0x10000, "-0123456789ABCDEF rCDEF"},
      {"mod_word", "123456789ABCDEF", "", 0x10001, "0123456789ABCDEF r8888"},
      {"mod_word", "123456789ABCDEF", "", 0, "0123456789ABCDEF rFFFFFFFF"},
  };
  for (const Case& c : cases) {
    BIGNUM *a = Hex(c.a), *b = c.b[0] ? Hex(c.b) : nullptr;
    EXPECT_EQ(RunOp(c.op, a, b, c.n), c.want) << c.op << " " << c.a << " " << c.b << " " << c.n;
    BN_free(a);
    BN_free(b);
  }
}

TEST(BnArith, RefusedOperands) {
  BIGNUM *one = Hex("1"), *big = Hex("100000000"), *r = Hex("-77");
  EXPECT_EQ(BN_usub(r, one, big), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_USUB, BN_R_ARG2_LT_ARG3}});
  EXPECT_EQ(BN_lshift(r, big, -1), 0);
  EXPECT_EQ(BN_rshift(r, big, -32), 0);
  EXPECT_ERRORS({{ERR_LIB_BN, 0, BN_R_INVALID_LENGTH}, {ERR_LIB_BN, 0, BN_R_INVALID_LENGTH}});
  EXPECT_EQ(Show(r), "-77");
  EXPECT_EQ(BN_rshift(big, big, 0), 1);
  EXPECT_EQ(BN_lshift(r, big, 0x7FFFFFFF), 0);  // past the largest number
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, BN_R_BIGNUM_TOO_LONG}});
  for (BIGNUM* n : {one, big, r}) BN_free(n);
}

TEST(BnText, HexAndDecimalKnownAnswers) {
  const char* hex[][2] = {{"0", "0"}, {"-ff", "-FF"}, {"0ABC", "0ABC"}, {"100000000", "0100000000"}};
  for (auto& h : hex) {
    BIGNUM* n = Hex(h[0]);
    char* s = BN_bn2hex(n);
    EXPECT_STREQ(s, h[1]);
    MORVANE_free(s);
    BN_free(n);
  }
  const char* dec[] = {"1000000000", "-5", "0", "4294967296", "-1000000000000000000000000000"};
  for (const char* d : dec) {
    BIGNUM* n = nullptr;
    ASSERT_EQ(BN_dec2bn(&n, d), static_cast<int>(strlen(d)));
    char* s = BN_bn2dec(n);
    EXPECT_STREQ(s, d);
    MORVANE_free(s);
    BN_free(n);
  }
}

TEST(BnText, ParsingStopsAtTheFirstNonDigit) {
  struct Case {
    int (*parse)(BIGNUM**, const char*);
    const char* text;
    int taken;
    const char* value;  // null: the number is left alone
  };
  const Case cases[] = {
      {BN_hex2bn, "-1aG", 3, "-1A"},
      {BN_hex2bn, "-0", 2, "0"},
      {BN_hex2bn, "", 0, nullptr},
      {BN_hex2bn, "-", 0, nullptr},
      {BN_hex2bn, "xyz", 0, nullptr},
      {BN_hex2bn, nullptr, 0, nullptr},
      {BN_dec2bn, "1234567890123x", 13, "011F71FB04CB"},
      {BN_dec2bn, "-0000000000000", 14, "0"},
      {BN_dec2bn, "12a", 2, "0C"},
  };
  for (const Case& c : cases) {
    BIGNUM* n = Hex("-99");
    EXPECT_EQ(c.parse(&n, c.text), c.taken) << (c.text ? c.text : "null");
    EXPECT_EQ(Show(n), c.value ? c.value : "-99") << (c.text ? c.text : "null");
    EXPECT_EQ(c.parse(nullptr, c.text), c.taken);
    BN_free(n);
  }
}

TEST(BnText, DigitRunsPastTheLargestNumberAreRefused) {
  const std::string digits(8 * size_t{0xFFFFFF} + 1, '1');
  for (auto parse : {BN_hex2bn, BN_dec2bn}) {
    BIGNUM* n = nullptr;
    EXPECT_EQ(parse(&n, digits.c_str()), 0);
    EXPECT_EQ(parse(nullptr, digits.c_str()), 0);
    EXPECT_EQ(n, nullptr);
    EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, BN_R_BIGNUM_TOO_LONG},
                   {ERR_LIB_BN, BN_F_BN_EXPAND_INTERNAL, BN_R_BIGNUM_TOO_LONG}});
  }
}

TEST(BnMpi, KnownAnswersBothWays) {
  const char* cases[][2] = {
      {"0", "00000000"}, {"80", "000000020080"}, {"-80", "000000028080"},
      {"-1", "0000000181"}, {"7FFF", "000000027FFF"}, {"-123456", "00000003923456"},
  };
  for (auto& c : cases) {
    BIGNUM* n = Hex(c[0]);
    const Bytes want = morvane_test::FromHex(c[1]);
    Bytes out(static_cast<size_t>(BN_bn2mpi(n, nullptr)));
    EXPECT_EQ(BN_bn2mpi(n, out.data()), static_cast<int>(want.size()));
    EXPECT_EQ(out, want) << c[0];
    BIGNUM* back = BN_mpi2bn(want.data(), static_cast<int>(want.size()), nullptr);
    EXPECT_EQ(Show(back), Show(n));
    BN_free(back);
    BN_free(n);
  }
}

TEST(BnMpi, BadInputAndNegativeZero) {
  const Bytes minus_zero = morvane_test::FromHex("0000000180");
  BIGNUM* n = Hex("-5");
  ASSERT_EQ(BN_mpi2bn(minus_zero.data(), 5, n), n);
  EXPECT_EQ(Show(n), "0");
  const Bytes short_body = morvane_test::FromHex("0000000301");
  EXPECT_EQ(BN_mpi2bn(short_body.data(), 5, n), nullptr);
  EXPECT_EQ(BN_mpi2bn(short_body.data(), 3, n), nullptr);
  EXPECT_EQ(BN_mpi2bn(short_body.data(), -1, n), nullptr);
  EXPECT_ERRORS({{ERR_LIB_BN, BN_F_BN_MPI2BN, BN_R_ENCODING_ERROR},
                 {ERR_LIB_BN, BN_F_BN_MPI2BN, BN_R_INVALID_LENGTH},
                 {ERR_LIB_BN, BN_F_BN_MPI2BN, BN_R_INVALID_LENGTH}});
  BN_free(n);
}

TEST(BnPrint, HexDigitsToStreamAndFile) {
  const char* cases[][2] = {{"0ABC", "ABC"}, {"-0ABC", "-ABC"}, {"0", "0"}, {"100000000", "100000000"}};
  for (auto& c : cases) {
    BIGNUM* n = Hex(c[0]);
    BIO* mem = BIO_new(BIO_s_mem());
    ASSERT_EQ(BN_print(mem, n), 1);
    char* data = nullptr;
    const long len = BIO_get_mem_data(mem, &data);
    EXPECT_EQ(std::string(data, static_cast<size_t>(len)), c[1]);
    BIO_free(mem);
    morvane_test::TempPath path;
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_EQ(BN_print_fp(f, n), 1);
    fclose(f);  // still open after BN_print_fp
    EXPECT_EQ(morvane_test::ReadFile(path.path()), c[1]);
    BN_free(n);
  }
}
