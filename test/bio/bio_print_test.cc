// Formatted printing: BIO_snprintf results and truncation, every conversion
// with its flags, widths and precisions, 64-bit values, floats (the cases of
// one argument are in test/data/bio/printf.txt), and BIO_printf into streams.  Expected texts are those of the C conventions
// for printf and of the library's documented rules (the sign, prefix and
// padding order of integers; the limit of %s counting its padding).

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>

#include "scripted_stream.h"
#include "test_support.h"

// The engine accepts conversions the compiler's printf checker does not know.
#pragma GCC diagnostic ignored "-Wformat"
#pragma GCC diagnostic ignored "-Wformat-extra-args"
#pragma GCC diagnostic ignored "-Wformat-zero-length"
#pragma GCC diagnostic ignored "-Wformat-overflow"
#pragma GCC diagnostic ignored "-Wpragmas"
#pragma GCC diagnostic ignored "-Wformat-invalid-specifier"

namespace {

template <typename... Args>
std::string Fmt(const char* format, Args... args) {
  char buf[512];
  int n = BIO_snprintf(buf, sizeof(buf), format, args...);
  EXPECT_GE(n, 0) << format;
  EXPECT_EQ(static_cast<size_t>(n), strlen(buf)) << format;
  return buf;
}

TEST(BioSnprintf, ResultsAndTruncation) {
  char buf[16];
  memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(BIO_snprintf(buf, 6, "%s", "hello"), 5);
  EXPECT_STREQ(buf, "hello");
  memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(BIO_snprintf(buf, 5, "%s", "hello"), -1);
  EXPECT_STREQ(buf, "hell");
  memset(buf, 'x', sizeof(buf));
  EXPECT_EQ(BIO_snprintf(buf, 0, "%s", "hello"), -1);
  EXPECT_EQ(buf[0], 'x');  // untouched
  EXPECT_EQ(BIO_snprintf(buf, 1, ""), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_EQ(BIO_snprintf(buf, 1, "a"), -1);
  EXPECT_EQ(buf[0], '\0');
  // Cut in the middle of a conversion.
  EXPECT_EQ(BIO_snprintf(buf, 4, "%d", 12345), -1);
  EXPECT_STREQ(buf, "123");
}

TEST(BioSnprintf, HugeWidthsStopAtTheBufferEnd) {
  char buf[8];
  EXPECT_EQ(BIO_snprintf(buf, sizeof(buf), "%2147483647d", 1), -1);
  EXPECT_STREQ(buf, "       ");
  // A width past INT_MAX saturates instead of overflowing.
  EXPECT_EQ(BIO_snprintf(buf, sizeof(buf), "%99999999999999s", "x"), -1);
  EXPECT_STREQ(buf, "       ");
  EXPECT_EQ(BIO_snprintf(buf, sizeof(buf), "%.99999999999999d", 1), -1);
  EXPECT_STREQ(buf, "0000000");
}

// One argument of the C type named in the data file.
int PrintOne(char* buf, size_t len, const char* f, const std::string& arg) {
  const size_t sp = arg.find(' ');
  const std::string type = arg.substr(0, sp);
  const char* v = sp == std::string::npos ? "" : arg.c_str() + sp + 1;
  if (type == "none") return BIO_snprintf(buf, len, f);
  if (type == "str") return BIO_snprintf(buf, len, f, v);
  if (type == "null") return BIO_snprintf(buf, len, f, static_cast<const char*>(nullptr));
  if (type == "int") return BIO_snprintf(buf, len, f, static_cast<int>(strtol(v, nullptr, 0)));
  if (type == "uint") return BIO_snprintf(buf, len, f, static_cast<unsigned>(strtoul(v, nullptr, 0)));
  if (type == "long") return BIO_snprintf(buf, len, f, strtol(v, nullptr, 0));
  if (type == "ulong") return BIO_snprintf(buf, len, f, strtoul(v, nullptr, 0));
  if (type == "llong") return BIO_snprintf(buf, len, f, strtoll(v, nullptr, 0));
  if (type == "ullong") return BIO_snprintf(buf, len, f, strtoull(v, nullptr, 0));
  if (type == "double") return BIO_snprintf(buf, len, f, strtod(v, nullptr));
  if (type == "ldouble") return BIO_snprintf(buf, len, f, strtold(v, nullptr));
  if (type == "ptr") return BIO_snprintf(buf, len, f, reinterpret_cast<void*>(strtoull(v, nullptr, 0)));
  ADD_FAILURE() << "unknown argument type " << arg;
  return -1;
}

std::string Unquoted(const std::string& s) {
  return s.size() >= 2 && s.front() == '"' && s.back() == '"' ? s.substr(1, s.size() - 2) : s;
}

TEST(BioSnprintf, OneArgument) {
  auto records = morvane_test::ReadRsp(morvane_test::TestDataFile("bio/printf.txt"));
  ASSERT_GT(records.size(), 60u);
  for (const auto& r : records) {
    const std::string format = Unquoted(r.Get("format"));
    char buf[512];
    int n = PrintOne(buf, sizeof(buf), format.c_str(), r.Get("arg"));
    EXPECT_EQ(buf, Unquoted(r.Get("text"))) << format << " " << r.Get("arg");
    EXPECT_EQ(n, static_cast<int>(strlen(buf))) << format;
  }
}

TEST(BioSnprintf, SeveralArguments) {
  EXPECT_EQ(Fmt("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(Fmt("%-5c|%05c", 'A', 'B'), "A|B");  // width and flags ignored
  EXPECT_EQ(Fmt("%d %i", -42, 17), "-42 17");
  // A long long after an int keeps the arguments in step.
  EXPECT_EQ(Fmt("%d %lld %d", 1, 0x100000000LL, 2), "1 4294967296 2");
  EXPECT_EQ(Fmt("%*d|", 4, 7), "   7|");
  EXPECT_EQ(Fmt("%*d|", -4, 7), "7|");  // a negative width gives no padding
  EXPECT_EQ(Fmt("%.*d", 3, 7), "007");
  EXPECT_EQ(Fmt("%.*d", -1, 7), "7");            // a negative precision counts as not given
  EXPECT_EQ(Fmt("%*.*s|", 5, 2, "abc"), "  |");  // the limit counts the padding
  EXPECT_EQ(Fmt("%f|%5f|%f", HUGE_VAL, -HUGE_VAL, NAN), "inf| -inf|nan");
  EXPECT_EQ(Fmt("%e%d", 1.5, 7), "7");  // %e takes its double and prints nothing
  EXPECT_EQ(Fmt("%G%g%E|%d", 1.0, 2.0, 3.0, 9), "|9");
}

TEST(BioSnprintf, StoresTheCurrentLength) {
  int n = -1;
  short hn = -1;
  long ln = -1;
  long long lln = -1;
  EXPECT_EQ(Fmt("abc%n", &n), "abc");
  EXPECT_EQ(n, 3);
  EXPECT_EQ(Fmt("%s%hn-%ln-%lln", "xy", &hn, &ln, &lln), "xy--");
  EXPECT_EQ(hn, 2);
  EXPECT_EQ(ln, 3);
  EXPECT_EQ(lln, 4);
}

// Collects what each BIO_write call received.
std::vector<int> g_write_sizes;
long CountWrites(BIO*, int oper, const char*, int argi, long, long ret) {
  if (oper == BIO_CB_WRITE) g_write_sizes.push_back(argi);
  return oper & BIO_CB_RETURN ? ret : 1;
}

TEST(BioPrintf, LongTextsGoOutInOneWrite) {
  for (int len : {10, 2047, 2048, 2049, 5000, 70000}) {
    BIO* mem = BIO_new(BIO_s_mem());
    ASSERT_NE(mem, nullptr);
    g_write_sizes.clear();
    BIO_set_callback(mem, CountWrites);
    std::string text(static_cast<size_t>(len), 'q');
    text[0] = 'a';
    text[static_cast<size_t>(len) - 1] = 'z';
    EXPECT_EQ(BIO_printf(mem, "%s", text.c_str()), len);
    EXPECT_EQ(g_write_sizes, std::vector<int>{len});
    char* data = nullptr;
    long n = BIO_get_mem_data(mem, &data);
    ASSERT_EQ(n, len);
    EXPECT_EQ(std::string(data, static_cast<size_t>(n)), text);
    BIO_free(mem);
  }
}

// The write's result, except that a stream that takes part of the text
// fails the call: the caller never saw the rest to write it.
TEST(BioPrintf, ReturnsTheWriteResult) {
  BIO* s = morvane_test::NewScriptedStream();
  morvane_test::Script(s).write_script = {morvane_test::ScriptStep::Move(3),
                                          morvane_test::ScriptStep::Retry()};
  EXPECT_EQ(BIO_printf(s, "%d-%s", 12, "ab"), -1);  // a short write: the rest is lost
  EXPECT_EQ(BIO_printf(s, "more"), -1);
  EXPECT_TRUE(BIO_should_retry(s));
  EXPECT_EQ(morvane_test::Script(s).output, "12-");
  BIO_free(s);
  EXPECT_EQ(BIO_printf(nullptr, "x"), 0);  // as BIO_write on a null stream
}

TEST(BioPrintf, ShortTextsNeedNoHeap) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BIO* sink = BIO_new(BIO_s_null());
  ASSERT_NE(sink, nullptr);
  auto before = morvane_test::GetAllocCounts();
  EXPECT_EQ(BIO_printf(sink, "%2047s", "x"), 2047);
  auto after = morvane_test::GetAllocCounts();
  EXPECT_EQ(after.mallocs, before.mallocs);
  EXPECT_EQ(after.reallocs, before.reallocs);
  // A longer text moves to the heap and gives the block back.
  EXPECT_EQ(BIO_printf(sink, "%5000s", "x"), 5000);
  after = morvane_test::GetAllocCounts();
  EXPECT_GT(after.mallocs, before.mallocs);
  EXPECT_EQ(after.live_blocks, before.live_blocks);
  BIO_free(sink);
}

TEST(BioPrintf, FailedGrowthWritesNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  BIO* s = morvane_test::NewScriptedStream();
  ASSERT_NE(s, nullptr);
  auto before = morvane_test::GetAllocCounts();
  morvane_test::FailAllocationAfter(1);
  EXPECT_EQ(BIO_printf(s, "%3000s", "x"), -1);
  EXPECT_EQ(morvane_test::Script(s).writes, 0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, before.live_blocks);
  // A failure in a later growth step releases the first block too.
  morvane_test::FailAllocationAfter(2);
  EXPECT_EQ(BIO_printf(s, "%9000s", "x"), -1);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, before.live_blocks);
  morvane_test::FailAllocationAfter(0);
  BIO_free(s);
}

std::vector<std::string> g_info;
int PushInfo(const char* info, const char*, int) {
  g_info.push_back(info);
  return 1;
}
int PopInfo() {
  g_info.push_back("pop");
  return 1;
}
int RemoveAllInfo() {
  return 1;
}

TEST(BioPrintf, TagsItsWorkForTheLeakChecker) {
  CRYPTO_set_mem_info_functions(PushInfo, PopInfo, RemoveAllInfo);
  BIO* sink = BIO_new(BIO_s_null());
  g_info.clear();
  BIO_printf(sink, "x");
  EXPECT_EQ(g_info, (std::vector<std::string>{"doapr()", "pop"}));
  BIO_free(sink);
}

}  // namespace
