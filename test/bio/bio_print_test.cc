// Formatted printing: BIO_snprintf results and truncation, every conversion
// with its flags, widths and precisions, 64-bit values, floats, and
// BIO_printf into streams.  Expected texts are those of the C conventions
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

TEST(BioSnprintf, Strings) {
  EXPECT_EQ(Fmt("%5s", "ab"), "   ab");
  EXPECT_EQ(Fmt("%-5s|", "ab"), "ab   |");
  EXPECT_EQ(Fmt("%.2s", static_cast<const char*>(nullptr)), "<N");
  EXPECT_EQ(Fmt("%s", static_cast<const char*>(nullptr)), "<NULL>");
  EXPECT_EQ(Fmt("%.s", "abc"), "abc");  // a point without digits gives no limit
  // The limit counts the padding, worked out from the full length.
  EXPECT_EQ(Fmt("%5.3s", "abcdef"), "abc");
  EXPECT_EQ(Fmt("%6.3s|", "ab"), "   |");
  EXPECT_EQ(Fmt("%-6.4s|", "ab"), "ab  |");
  EXPECT_EQ(Fmt("%c%c", 'o', 'k'), "ok");
  EXPECT_EQ(Fmt("%-5c|%05c", 'A', 'B'), "A|B");  // width and flags ignored
}

TEST(BioSnprintf, Integers) {
  EXPECT_EQ(Fmt("%d %i", -42, 17), "-42 17");
  EXPECT_EQ(Fmt("%hd", 65535), "-1");
  EXPECT_EQ(Fmt("%hu", 65537), "1");
  EXPECT_EQ(Fmt("%hx", 0x12345), "2345");
  EXPECT_EQ(Fmt("%ld", static_cast<long>(INT32_MIN)), "-2147483648");
  EXPECT_EQ(Fmt("%08lX", 0xbeL), "000000BE");
  EXPECT_EQ(Fmt("%+d", 0), "+0");
  EXPECT_EQ(Fmt("% d", 3), " 3");
  EXPECT_EQ(Fmt("%+ d", 3), "+3");
  EXPECT_EQ(Fmt("%.d", 0), "0");
  EXPECT_EQ(Fmt("%#o", 0), "00");
  EXPECT_EQ(Fmt("%#o", 8), "010");
  EXPECT_EQ(Fmt("%#x", 0), "0x0");
  EXPECT_EQ(Fmt("%#X", 255), "0xFF");
  EXPECT_EQ(Fmt("%#6x|", 255), "  0xff|");
  EXPECT_EQ(Fmt("%#-6x|", 255), "0xff  |");
  EXPECT_EQ(Fmt("%#06x", 255), "0x00ff");
  EXPECT_EQ(Fmt("%-05d", 7), "00007");  // zero padding wins over the minus flag
  EXPECT_EQ(Fmt("%+.3d", 5), "+005");
  EXPECT_EQ(Fmt("%6.3d|", -5), "  -005|");
  EXPECT_EQ(Fmt("%-6.3d|", -5), "-005  |");
  EXPECT_EQ(Fmt("%u", 4294967295u), "4294967295");
  EXPECT_EQ(Fmt("%+u", 5u), "5");  // unsigned conversions never print a sign
  EXPECT_EQ(Fmt("%5%|"), "%|");    // %% takes no width
}

TEST(BioSnprintf, SixtyFourBitValuesPrintInFull) {
  EXPECT_EQ(Fmt("%ld", LONG_MIN), "-9223372036854775808");
  EXPECT_EQ(Fmt("%lu", static_cast<unsigned long>(LONG_MIN)), "9223372036854775808");
  EXPECT_EQ(Fmt("%ld", LONG_MAX), "9223372036854775807");
  EXPECT_EQ(Fmt("%lld", LLONG_MIN), "-9223372036854775808");
  EXPECT_EQ(Fmt("%qd", -1LL), "-1");
  EXPECT_EQ(Fmt("%qu", ULLONG_MAX), "18446744073709551615");
  EXPECT_EQ(Fmt("%llx", 0xfedcba9876543210ULL), "fedcba9876543210");
  EXPECT_EQ(Fmt("%lX", 0x123456789abcdefUL), "123456789ABCDEF");
  // The widest value: 22 octal digits.
  EXPECT_EQ(Fmt("%lo", ULONG_MAX), "1777777777777777777777");
  EXPECT_EQ(Fmt("%#lo", ULONG_MAX), "01777777777777777777777");
  // A long long after an int keeps the arguments in step.
  EXPECT_EQ(Fmt("%d %lld %d", 1, 0x100000000LL, 2), "1 4294967296 2");
}

TEST(BioSnprintf, PointersPrintTheWholeAddress) {
  EXPECT_EQ(Fmt("%p", reinterpret_cast<void*>(0x1f)), "0x1f");
  EXPECT_EQ(Fmt("%p", static_cast<void*>(nullptr)), "0x0");
  EXPECT_EQ(Fmt("%p", reinterpret_cast<void*>(0x123456789abcdef0ULL)), "0x123456789abcdef0");
  EXPECT_EQ(Fmt("%20p|", reinterpret_cast<void*>(0xabcULL)), "               0xabc|");
}

TEST(BioSnprintf, StarWidthAndPrecision) {
  EXPECT_EQ(Fmt("%*d|", 4, 7), "   7|");
  EXPECT_EQ(Fmt("%*d|", -4, 7), "7|");  // a negative width gives no padding
  EXPECT_EQ(Fmt("%.*d", 3, 7), "007");
  EXPECT_EQ(Fmt("%.*d", -1, 7), "7");            // a negative precision counts as not given
  EXPECT_EQ(Fmt("%*.*s|", 5, 2, "abc"), "  |");  // the limit counts the padding
}

TEST(BioSnprintf, Floats) {
  EXPECT_EQ(Fmt("%f", 1.5), "1.500000");
  EXPECT_EQ(Fmt("%.1f", 0.25), "0.3");
  EXPECT_EQ(Fmt("%.0f", 2.5), "3");
  EXPECT_EQ(Fmt("%#.0f", 2.5), "3.0");
  EXPECT_EQ(Fmt("%5.1f", -1.25), " -1.3");
  EXPECT_EQ(Fmt("%05.1f", -1.25), "-01.3");
  EXPECT_EQ(Fmt("%4.0f|", 7.0), "  7|");  // the point counts even when not printed
  EXPECT_EQ(Fmt("%-6.1f|", 1.5), "1.5   |");
  EXPECT_EQ(Fmt("%.10f", 1.0), "1.000000000");  // at most nine fraction digits
  EXPECT_EQ(Fmt("%.f", 1.5), "1.500000");
  EXPECT_EQ(Fmt("%+.2f", 3.14159), "+3.14");
  EXPECT_EQ(Fmt("% .2f", 3.14159), " 3.14");
  EXPECT_EQ(Fmt("%.2f", 0.999), "1.00");  // the rounding carries into the integer
  EXPECT_EQ(Fmt("%.3f", -0.0005), "-0.001");
  EXPECT_EQ(Fmt("%Lf", static_cast<long double>(2.5)), "2.500000");
  EXPECT_EQ(Fmt("%.0f", 4294967296.0), "4294967296");
  EXPECT_EQ(Fmt("%.0f", 18446744073709551616.0), "18446744073709551616");  // 2^64
  EXPECT_EQ(Fmt("%.1f", ldexp(1.0, 100)), "1267650600228229401496703205376.0");
  EXPECT_EQ(Fmt("%f|%5f|%f", HUGE_VAL, -HUGE_VAL, NAN), "inf| -inf|nan");
}

TEST(BioSnprintf, ConversionsWithoutOutput) {
  EXPECT_EQ(Fmt("%e%d", 1.5, 7), "7");  // %e takes its double and prints nothing
  EXPECT_EQ(Fmt("%G%g%E|%d", 1.0, 2.0, 3.0, 9), "|9");
  EXPECT_EQ(Fmt("a%wzb"), "ab");  // %w skips the next character
  EXPECT_EQ(Fmt("a%yb"), "ab");
  EXPECT_EQ(Fmt("abc%-5"), "abc");  // an unfinished conversion prints nothing
  EXPECT_EQ(Fmt("abc%"), "abc");
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

TEST(BioPrintf, ReturnsTheWriteResult) {
  BIO* s = morvane_test::NewScriptedStream();
  morvane_test::Script(s).write_script = {morvane_test::ScriptStep::Move(3),
                                          morvane_test::ScriptStep::Retry()};
  EXPECT_EQ(BIO_printf(s, "%d-%s", 12, "ab"), 3);
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
