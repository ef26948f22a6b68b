// The known answers of test/data/bn/known_answers.txt (bytes, comparison,
// bits, addition, shifts, word operations, the double-word division, hex,
// decimal and MPI forms, printing, products, division, the modular and
// reciprocal operations), plus refused digit runs.

#include <morvane/bio.h>
#include <morvane/bn.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "bn_test_util.h"
#include "test_support.h"

namespace {

using bn_test::Bn;
using bn_test::Ctx;
using bn_test::Hex;
using bn_test::Show;
using morvane_test::Bytes;
using morvane_test::FromHex;
using morvane_test::ToHex;

std::string Word(BN_ULONG w, const char* format = "%X") {
  char buf[12];
  snprintf(buf, sizeof(buf), format, w);
  return buf;
}

// Runs one record; see the data file for the form of the outcome.
std::string Apply(const morvane_test::RspRecord& t) {
  const std::string op = t.section.at("op");
  auto get = [&](const char* k) { return t.Has(k) ? t.Get(k) : std::string(); };
  Bn a = Hex(t.Has("a") ? get("a") : "0"), b = Hex(t.Has("b") ? get("b") : "0"), r = Hex("-77");
  const int n = t.Has("n") ? std::stoi(get("n")) : 0;
  const BN_ULONG w = t.Has("w") ? static_cast<BN_ULONG>(std::stoul(get("w"), nullptr, 16)) : 0;
  Bytes bytes = FromHex(get("bytes"));
  std::string text = get("text");
  int ok = 1;
  std::string extra;
  if (op == "bin2bn") {
    ok = BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), r.get()) != nullptr;
    std::string out = "words";
    for (int i = 0; i < r->top; i++) out += " " + Word(r->d[i], "%08X");
    return out;
  }
  if (op == "bn2bin") {
    Bytes out(static_cast<size_t>(BN_num_bytes(a.get())));
    EXPECT_EQ(BN_bn2bin(a.get(), out.data()), static_cast<int>(out.size()));
    return ToHex(out);
  }
  if (op == "cmp") return std::to_string(BN_cmp(a.get(), b.get()));
  if (op == "ucmp") return std::to_string(BN_ucmp(a.get(), b.get()));
  if (op == "get_word") return Word(BN_get_word(a.get()));
  if (op == "num_bits") return std::to_string(BN_num_bits(a.get()));
  if (op == "set_bit") extra = " r" + std::to_string(BN_set_bit(a.get(), n));
  if (op == "clear_bit") extra = " r" + std::to_string(BN_clear_bit(a.get(), n));
  if (op == "mask_bits") extra = " r" + std::to_string(BN_mask_bits(a.get(), n));
  if (!extra.empty()) return Show(a.get()) + extra;
  if (op == "add") ok = BN_add(r.get(), a.get(), b.get());
  if (op == "sub") ok = BN_sub(r.get(), a.get(), b.get());
  if (op == "uadd") ok = BN_uadd(r.get(), a.get(), b.get());
  if (op == "usub") ok = BN_usub(r.get(), a.get(), b.get());
  if (op == "lshift1") ok = BN_lshift1(r.get(), a.get());
  if (op == "rshift1") ok = BN_rshift1(r.get(), a.get());
  if (op == "lshift") ok = BN_lshift(r.get(), a.get(), n);
  if (op == "rshift") ok = BN_rshift(r.get(), a.get(), n);
  if (op.ends_with("_word")) BN_copy(r.get(), a.get());
  if (op == "add_word") ok = BN_add_word(r.get(), w);
  if (op == "sub_word") ok = BN_sub_word(r.get(), w);
  if (op == "mul_word") ok = BN_mul_word(r.get(), w);
  if (op == "div_word") extra = " r" + Word(BN_div_word(r.get(), w));
  if (op == "mod_word") extra = " r" + Word(BN_mod_word(r.get(), w));
  if (op == "div_words") {
    std::istringstream in(get("words"));
    unsigned long h, l, d;
    in >> std::hex >> h >> l >> d;
    return Word(bn_div_words(BN_ULONG(h), BN_ULONG(l), BN_ULONG(d)), "%08X");
  }
  if (op == "bn2hex") return Show(a.get());
  if (op == "print") {  // to a memory stream, then to a file through BN_print_fp
    BIO* mem = BIO_new(BIO_s_mem());
    char* data = nullptr;
    EXPECT_EQ(BN_print(mem, a.get()), 1);
    const long len = BIO_get_mem_data(mem, &data);
    std::string out(data, static_cast<size_t>(len));
    BIO_free(mem);
    morvane_test::TempPath path;
    FILE* f = fopen(path.c_str(), "w");
    EXPECT_EQ(BN_print_fp(f, a.get()), 1);
    fclose(f);  // still open after BN_print_fp
    return out + " " + morvane_test::ReadFile(path.path());
  }
  if (op == "bn2dec") {
    char* s = BN_bn2dec(a.get());
    std::string out(s);
    MORVANE_free(s);
    return out;
  }
  if (op == "hex2bn" || op == "dec2bn") {
    auto parse = op == "hex2bn" ? BN_hex2bn : BN_dec2bn;
    BIGNUM* p = r.get();
    const int taken = parse(&p, text.c_str());
    EXPECT_EQ(parse(nullptr, text.c_str()), taken);
    return taken == 0 ? "0" : std::to_string(taken) + " " + Show(r.get());
  }
  if (op == "bn2mpi") {
    Bytes out(static_cast<size_t>(BN_bn2mpi(a.get(), nullptr)));
    EXPECT_EQ(BN_bn2mpi(a.get(), out.data()), static_cast<int>(out.size()));
    return ToHex(out);
  }
  Bn m = Hex(t.Has("m") ? get("m") : "0"), q = Hex("-77");
  Ctx ctx(BN_CTX_new());
  BN_CTX* c = ctx.get();
  if (op == "div" || op == "div_secret" || op == "div_recp") {
    if (op == "div_secret") BN_set_flags(a.get(), BN_FLAG_SECRET);
    BN_RECP_CTX* recp = BN_RECP_CTX_new();
    if (op == "div_recp") {
      ok = BN_RECP_CTX_set(recp, b.get(), c) && BN_div_recp(q.get(), r.get(), a.get(), recp, c);
    } else {
      ok = BN_div(q.get(), r.get(), a.get(), b.get(), c);
    }
    BN_RECP_CTX_free(recp);
    return ok ? Show(q.get()) + " " + Show(r.get()) : "fail";
  }
  if (op == "kronecker") return std::to_string(BN_kronecker(a.get(), b.get(), c));
  if (t.Has("secret")) BN_set_flags(t.Get("secret") == "m" ? m.get() : b.get(), BN_FLAG_SECRET);
  bn_test::g_ctx = c;
  bn_test::g_shift = n;
  if (bn_test::kOps.count(op))
    ok = bn_test::kOps.at(op)(r.get(), a.get(), t.Has("b") ? b.get() : nullptr, m.get());
  if (op == "mpi2bn")
    ok = BN_mpi2bn(bytes.data(), static_cast<int>(bytes.size()), r.get()) != nullptr;
  return (ok == 1 ? "" : ok == 0 ? "fail " : "refused ") + Show(r.get()) + extra;
}

}  // namespace

TEST(BnKnownAnswers, FromTheDataFile) {
  auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("bn/known_answers.txt"));
  ASSERT_GT(records.size(), 100u);
  for (const auto& t : records) {
    std::ostringstream where;
    for (const auto& [k, v] : t.fields) where << k << "=" << v << " ";
    SCOPED_TRACE(t.section.at("op") + ": " + where.str());
    EXPECT_EQ(Apply(t), t.Get("want"));
    int func = 0, reason = 0;
    if (t.Has("error")) std::istringstream(t.Get("error")) >> func >> reason;
    if (t.Has("error")) {
      EXPECT_ERRORS({{ERR_LIB_BN, func, reason}});
    } else {
      EXPECT_ERRORS({});
    }
  }
}

TEST(BnKnownAnswers, DigitRunsPastTheLargestNumberAreRefused) {
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
