// The leak checker: switching, recording, labels, suspensions and the exact
// text of its reports.  Each test runs in its own process, so each installs
// the checker before the library's first allocation under it.

#include <unistd.h>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "report.h"
#include "test_support.h"

namespace {

using mem_dbg_test::Report;

std::string Fmt(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* fmt, ...) {
  char buf[2048];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof(buf), fmt, ap);
  va_end(ap);
  return buf;
}

unsigned long Addr(const void* p) {
  return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p));
}

// The report through CRYPTO_mem_leaks_fp on a temporary file.
std::string ReportFp() {
  FILE* f = tmpfile();
  EXPECT_NE(f, nullptr);
  if (f == nullptr) return "";
  CRYPTO_mem_leaks_fp(f);
  std::string out;
  EXPECT_EQ(fflush(f), 0);  // the file is still open
  rewind(f);
  for (int c; (c = fgetc(f)) != EOF;) out += static_cast<char>(c);
  fclose(f);
  return out;
}

std::string BlockLine(unsigned long order, const char* file, int line, int num, const void* addr) {
  return Fmt("%5lu file=%s, line=%d, number=%d, address=%08lX\n", order, file, line, num,
             Addr(addr));
}

// One label line: depth '>' characters, the place, and the text cut so that
// the line holds at most 125 characters before the closing quote.
std::string LabelLine(int depth, int line, const std::string& info) {
  std::string prefix =
      std::string(static_cast<size_t>(depth), '>') +
      Fmt(" thread=%lu, file=%s, line=%d, info=\"", CRYPTO_thread_id(), __FILE__, line);
  size_t room = prefix.size() < 125 ? 125 - prefix.size() : 0;
  return prefix + info.substr(0, room) + "\"\n";
}

// The report holds the two records in either order (hash-table order).
testing::AssertionResult EitherOrder(const std::string& got, const std::string& a,
                                     const std::string& b, const std::string& summary) {
  if (got == a + b + summary || got == b + a + summary) return testing::AssertionSuccess();
  return testing::AssertionFailure() << got;
}

void StartChecker() {
  CRYPTO_malloc_debug_init();
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
}

}  // namespace

TEST(MemDbgCtrl, ModeWordOnEntry) {
  CRYPTO_malloc_debug_init();
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 0);
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 3);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 1);
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE), 3);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 0);
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE), 1);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 1);
  EXPECT_EQ(CRYPTO_mem_ctrl(42), 3);  // unknown modes do nothing
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_OFF), 3);
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_OFF), 0);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 0);
  // Suspending while off does nothing.
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE), 0);
  EXPECT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 1);
  // The options go to the checker through the debugging hooks.
  CRYPTO_set_mem_debug_options(V_CRYPTO_MDEBUG_ALL);
  EXPECT_EQ(CRYPTO_dbg_get_options(), V_CRYPTO_MDEBUG_ALL);
}

TEST(MemDbgReport, TwoLabelledLeaksInAFreshProcess) {
  StartChecker();
  const int outer_line = __LINE__ + 1;
  CRYPTO_push_info("outer phase");
  const int inner_line = __LINE__ + 1;
  CRYPTO_push_info("inner phase");
  void* a = CRYPTO_malloc(100, "alpha.c", 7);
  EXPECT_EQ(CRYPTO_pop_info(), 1);
  void* b = CRYPTO_malloc(33, "beta.c", 12);
  EXPECT_EQ(CRYPTO_pop_info(), 1);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);

  // A block under two labels prints them top first, with ">" and ">>".
  std::string block_a = BlockLine(0, "alpha.c", 7, 100, a) +
                        LabelLine(1, inner_line, "inner phase") +
                        LabelLine(2, outer_line, "outer phase");
  std::string block_b = BlockLine(1, "beta.c", 12, 33, b) + LabelLine(1, outer_line, "outer phase");
  const std::string got = Report();
  EXPECT_TRUE(EitherOrder(got, block_a, block_b, "133 bytes leaked in 2 chunks\n"));
  EXPECT_EQ(ReportFp(), got);

  CRYPTO_free(a);
  CRYPTO_free(b);
  EXPECT_EQ(Report(), "");
}

// The hooks take any address; whole 64-bit addresses tell records apart.
TEST(MemDbgReport, SpecimenLinesAndWholeAddresses) {
  StartChecker();
  void* fake = reinterpret_cast<void*>(0x1F0);
  void* lo = reinterpret_cast<void*>(0x1000001F0UL);
  void* hi = reinterpret_cast<void*>(0x2000001F0UL);
  CRYPTO_dbg_malloc(fake, 100, "x", 7, 1);
  EXPECT_EQ(Report(),
            "    0 file=x, line=7, number=100, address=000001F0\n"
            "100 bytes leaked in 1 chunks\n");
  CRYPTO_dbg_free(fake, 0);
  CRYPTO_dbg_malloc(lo, 10, "lo.c", 1, 1);
  CRYPTO_dbg_malloc(hi, 20, "hi.c", 2, 1);
  std::string a = "    1 file=lo.c, line=1, number=10, address=1000001F0\n";
  std::string b = "    2 file=hi.c, line=2, number=20, address=2000001F0\n";
  EXPECT_TRUE(EitherOrder(Report(), a, b, "30 bytes leaked in 2 chunks\n"));
  CRYPTO_dbg_free(lo, 0);
  EXPECT_EQ(Report(), b + "20 bytes leaked in 1 chunks\n");
  CRYPTO_dbg_free(hi, 0);
  EXPECT_EQ(Report(), "");
}

TEST(MemDbgReport, ThreadAndTimeOptions) {
  StartChecker();
  CRYPTO_dbg_set_options(V_CRYPTO_MDEBUG_THREAD);
  void* p = CRYPTO_malloc(8, "t.c", 3);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(Report(), Fmt("    0 file=t.c, line=3, thread=%lu, number=8, address=%08lX\n",
                          CRYPTO_thread_id(), Addr(p)) +
                          "8 bytes leaked in 1 chunks\n");

  // The time option at report time prints the recorded time, here 0, since
  // the block was recorded without it.
  CRYPTO_dbg_set_options(V_CRYPTO_MDEBUG_TIME);
  time_t zero = 0;
  struct tm lcl {};
  ASSERT_NE(localtime_r(&zero, &lcl), nullptr);
  std::string stamp = Fmt("[%02d:%02d:%02d] ", lcl.tm_hour, lcl.tm_min, lcl.tm_sec);
  EXPECT_EQ(Report(), stamp + BlockLine(0, "t.c", 3, 8, p) + "8 bytes leaked in 1 chunks\n");
  CRYPTO_free(p);

  // Recorded with the time option: the local time of the allocation.
  time_t before = time(nullptr);
  void* q = CRYPTO_malloc(9, "u.c", 4);
  time_t after = time(nullptr);
  ASSERT_NE(q, nullptr);
  std::string got = Report();
  std::string tail = BlockLine(1, "u.c", 4, 9, q) + "9 bytes leaked in 1 chunks\n";
  bool matched = false;
  for (time_t t = before; t <= after; t++) {
    ASSERT_NE(localtime_r(&t, &lcl), nullptr);
    matched |= got == Fmt("[%02d:%02d:%02d] ", lcl.tm_hour, lcl.tm_min, lcl.tm_sec) + tail;
  }
  EXPECT_TRUE(matched) << got;
  CRYPTO_free(q);
}

TEST(MemDbgReport, LongLabelIsCutAt125Characters) {
  StartChecker();
  std::string info(300, 'L');
  const int line = __LINE__ + 1;
  CRYPTO_push_info(info.c_str());
  void* p = CRYPTO_malloc(1, "l.c", 1);
  CRYPTO_pop_info();
  ASSERT_NE(p, nullptr);
  std::string label = LabelLine(1, line, info);
  EXPECT_EQ(label.size(), 127u);
  EXPECT_EQ(Report(), BlockLine(0, "l.c", 1, 1, p) + label + "1 bytes leaked in 1 chunks\n");
  CRYPTO_free(p);
}

TEST(MemDbgReport, CleanReportWritesNothingAndReleasesTheTables) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  // The first stream sets up the library's lasting per-class tables; made
  // before the checker starts, they are not recorded.
  BIO_free(BIO_new(BIO_s_file()));
  StartChecker();
  long baseline = morvane_test::GetAllocCounts().live_blocks;
  void* p = CRYPTO_malloc(64, "c.c", 1);
  ASSERT_NE(p, nullptr);
  CRYPTO_free(p);
  // The record table outlives its last record until a clean report.
  EXPECT_GT(morvane_test::GetAllocCounts().live_blocks, baseline);
  EXPECT_EQ(ReportFp(), "");
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, baseline);
  EXPECT_EQ(ReportFp(), "");
  EXPECT_EQ(Report(), "");
}

TEST(MemDbgReport, LabelsOutliveTheirPopWhileBlocksNameThem) {
  StartChecker();
  const int line = __LINE__ + 1;
  CRYPTO_push_info("kept");
  void* p = CRYPTO_malloc(5, "k.c", 2);
  CRYPTO_pop_info();
  CRYPTO_push_info("later");  // a new stack: not printed under p
  void* q = CRYPTO_malloc(6, "k.c", 3);
  EXPECT_EQ(CRYPTO_remove_all_info(), 1);
  std::string later = LabelLine(1, line + 3, "later");
  std::string a = BlockLine(0, "k.c", 2, 5, p) + LabelLine(1, line, "kept");
  std::string b = BlockLine(1, "k.c", 3, 6, q) + later;
  EXPECT_TRUE(EitherOrder(Report(), a, b, "11 bytes leaked in 2 chunks\n"));
  CRYPTO_free(p);
  CRYPTO_free(q);
  EXPECT_EQ(Report(), "");
}

TEST(MemDbgLabels, ResultsOfPushPopAndRemoveAll) {
  CRYPTO_malloc_debug_init();
  // Off: nothing is done and every result is 0.
  EXPECT_EQ(CRYPTO_dbg_push_info("x", "f", 1), 0);
  EXPECT_EQ(CRYPTO_dbg_pop_info(), 0);
  EXPECT_EQ(CRYPTO_dbg_remove_all_info(), 0);
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  EXPECT_EQ(CRYPTO_dbg_pop_info(), 0);  // empty stack
  EXPECT_EQ(CRYPTO_dbg_push_info("one", "f", 1), 0);
  EXPECT_EQ(CRYPTO_dbg_pop_info(), 1);
  EXPECT_EQ(CRYPTO_dbg_pop_info(), 0);
  for (const char* s : {"a", "b", "c"}) EXPECT_EQ(CRYPTO_push_info(s), 0);
  EXPECT_EQ(CRYPTO_remove_all_info(), 3);
  EXPECT_EQ(CRYPTO_remove_all_info(), 0);
  EXPECT_EQ(Report(), "");
}

TEST(MemDbgRealloc, RecordFollowsTheBlockAndKeepsItsOrigin) {
  StartChecker();
  void* p = CRYPTO_malloc(10, "first.c", 5);
  ASSERT_NE(p, nullptr);
  void* q = CRYPTO_realloc(p, 5000, "second.c", 99);
  ASSERT_NE(q, nullptr);
  EXPECT_EQ(Report(), BlockLine(0, "first.c", 5, 5000, q) + "5000 bytes leaked in 1 chunks\n");

  // The cleansing form moves the record as well.
  void* r = CRYPTO_realloc_clean(q, 5000, 6000, "third.c", 1);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(Report(), BlockLine(0, "first.c", 5, 6000, r) + "6000 bytes leaked in 1 chunks\n");
  CRYPTO_free(r);

  // Reallocating from null records a new block at the caller's place.
  void* s = CRYPTO_realloc(nullptr, 7, "fresh.c", 8);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(Report(), BlockLine(1, "fresh.c", 8, 7, s) + "7 bytes leaked in 1 chunks\n");
  CRYPTO_free(s);
  EXPECT_EQ(Report(), "");
}

TEST(MemDbgSuspend, NestedSuspensionsNeedAsManyEnds) {
  StartChecker();
  void* a = CRYPTO_malloc(1, "a.c", 1);
  ASSERT_NE(a, nullptr);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  void* b = CRYPTO_malloc(2, "b.c", 2);  // not recorded
  CRYPTO_free(a);                        // not seen: a stays recorded
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 0);
  void* c = CRYPTO_malloc(3, "c.c", 3);  // still not recorded
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  EXPECT_EQ(CRYPTO_is_mem_check_on(), 1);
  void* d = CRYPTO_malloc(4, "d.c", 4);
  ASSERT_NE(d, nullptr);
  std::string ra = BlockLine(0, "a.c", 1, 1, a);
  std::string rd = BlockLine(1, "d.c", 4, 4, d);
  EXPECT_TRUE(EitherOrder(Report(), ra, rd, "5 bytes leaked in 2 chunks\n"));
  CRYPTO_dbg_free(a, 0);  // forget the stale record
  CRYPTO_free(b);
  CRYPTO_free(c);
  CRYPTO_free(d);
  EXPECT_EQ(Report(), "");
}

namespace {
struct Leak {
  unsigned long order;
  std::string file;
  int line;
  int num;
  void* addr;
};
std::vector<Leak> g_leaks;
void* CollectLeak(unsigned long order, const char* file, int line, int num, void* addr) {
  g_leaks.push_back({order, file, line, num, addr});
  return nullptr;
}
}  // namespace

TEST(MemDbgReport, CallbackSeesEveryRecord) {
  CRYPTO_mem_leaks_cb(CollectLeak);  // no table yet: no call
  EXPECT_TRUE(g_leaks.empty());
  StartChecker();
  void* p = CRYPTO_malloc(11, "p.c", 21);
  void* q = CRYPTO_malloc(12, "q.c", 22);
  CRYPTO_mem_leaks_cb(CollectLeak);
  ASSERT_EQ(g_leaks.size(), 2u);
  if (g_leaks[0].order != 0) std::swap(g_leaks[0], g_leaks[1]);
  EXPECT_EQ(g_leaks[0].file, "p.c");
  EXPECT_EQ(g_leaks[0].line, 21);
  EXPECT_EQ(g_leaks[0].num, 11);
  EXPECT_EQ(g_leaks[0].addr, p);
  EXPECT_EQ(g_leaks[1].order, 1u);
  EXPECT_EQ(g_leaks[1].file, "q.c");
  EXPECT_EQ(g_leaks[1].addr, q);
  CRYPTO_free(p);
  CRYPTO_free(q);
  EXPECT_EQ(Report(), "");
}

TEST(MemDbgReport, NothingRecordedWhileOff) {
  CRYPTO_malloc_debug_init();
  void* p = CRYPTO_malloc(10, "off.c", 1);
  EXPECT_EQ(Report(), "");
  EXPECT_EQ(ReportFp(), "");
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  CRYPTO_free(p);  // never recorded: nothing to forget
  void* q = CRYPTO_malloc(10, "on.c", 2);
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_OFF), 3);
  // Off again: the records stay and are still reported.
  EXPECT_EQ(Report(), BlockLine(0, "on.c", 2, 10, q) + "10 bytes leaked in 1 chunks\n");
  CRYPTO_free(q);  // not seen while off
  EXPECT_EQ(Report(), BlockLine(0, "on.c", 2, 10, q) + "10 bytes leaked in 1 chunks\n");
  ASSERT_EQ(CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ON), 0);
  CRYPTO_dbg_malloc(nullptr, 1, "n.c", 1, 1);  // a null block is ignored
  CRYPTO_dbg_free(q, 0);
  EXPECT_EQ(Report(), "");
}

// A report whose text finds no memory still counts every block: the blocks
// whose lines did not fit are said to be missing, and the tables stay.
TEST(MemDbgReport, TextWithoutMemoryStillCountsEveryBlock) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  StartChecker();
  void* a = CRYPTO_malloc(100, "alpha.c", 7);
  void* b = CRYPTO_malloc(33, "beta.c", 12);
  const std::string line_a = BlockLine(0, "alpha.c", 7, 100, a);
  const std::string line_b = BlockLine(1, "beta.c", 12, 33, b);
  const std::string summary = "133 bytes leaked in 2 chunks\n";
  morvane_test::FailAllocationsAfter(1, 2);
  EXPECT_EQ(ReportFp(), "2 chunks not listed: out of memory\n" + summary);
  morvane_test::FailAllocationAfter(1);
  const std::string one = ReportFp();
  const std::string tail = "1 chunks not listed: out of memory\n" + summary;
  EXPECT_TRUE(one == line_a + tail || one == line_b + tail) << one;
  EXPECT_TRUE(EitherOrder(ReportFp(), line_a, line_b, summary));
  CRYPTO_free(a);
  CRYPTO_free(b);
  EXPECT_EQ(ReportFp(), "");
}

// A thread that has its recording suspended (and so holds lock 27) gets the
// callback's records as it gets the report; a hang ends the program.
TEST(MemDbgReport, CallbackWhileSuspendedListsWhatTheReportLists) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  StartChecker();
  void* p = CRYPTO_malloc(11, "p.c", 21);
  void* q = CRYPTO_malloc(12, "q.c", 22);
  g_leaks.clear();
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  alarm(1);
  CRYPTO_mem_leaks_cb(CollectLeak);
  alarm(0);
  ASSERT_EQ(g_leaks.size(), 2u);
  std::string lines;
  for (const Leak& l : g_leaks) lines += BlockLine(l.order, l.file.c_str(), l.line, l.num, l.addr);
  EXPECT_EQ(Report(), lines + "23 bytes leaked in 2 chunks\n");
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  CRYPTO_free(p);
  CRYPTO_free(q);
  EXPECT_EQ(Report(), "");
}

// A report into a recorded memory stream, fresh or holding data that its
// text makes it reallocate, alone or under a buffer or base64 filter made
// after it: the chain's blocks are not listed, and once the chain is freed
// none of its records is left.
TEST(MemDbgReport, TheReportsOwnStreamLeavesNoRecord) {
  BIO_free(BIO_new(BIO_s_mem()));  // the streams' shared tables exist
  StartChecker();
  void* p = CRYPTO_malloc(10, "kept.c", 1);
  const std::string expect = BlockLine(0, "kept.c", 1, 10, p) + "10 bytes leaked in 1 chunks\n";
  for (BIO_METHOD* filter : {static_cast<BIO_METHOD*>(nullptr), BIO_f_buffer(), BIO_f_base64()}) {
    for (const std::string held : {"", "abc"}) {
      BIO* mem = BIO_new(BIO_s_mem());
      BIO* b = filter != nullptr ? BIO_push(BIO_new(filter), mem) : mem;
      ASSERT_NE(b, nullptr);
      if (!held.empty()) {
        ASSERT_EQ(BIO_write(b, held.data(), static_cast<int>(held.size())), 3);
      }
      CRYPTO_mem_leaks(b);
      ASSERT_EQ(BIO_flush(b), 1);
      char* data = nullptr;
      const long n = BIO_get_mem_data(mem, &data);
      std::string got(data, static_cast<size_t>(n));
      if (filter == BIO_f_base64()) {
        BIO* dec = BIO_push(BIO_new(BIO_f_base64()), BIO_new_mem_buf(data, static_cast<int>(n)));
        char text[4096];
        const int r = BIO_read(dec, text, sizeof text);
        got.assign(text, r > 0 ? static_cast<size_t>(r) : 0);
        BIO_free_all(dec);
      }
      EXPECT_EQ(got, held + expect) << held;
      BIO_free_all(b);
      EXPECT_EQ(Report(), expect) << held;
    }
  }
  CRYPTO_free(p);
  EXPECT_EQ(Report(), "");
}

// A report into a memory stream that cannot grow (its storage, 340 bytes,
// holds one of these lines, 200 to 208 bytes): one line, then the others
// said to be missing before the summary.
TEST(MemDbgReport, StreamThatCannotGrowSaysWhatIsMissing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  CRYPTO_malloc_debug_init();
  BIO* b = BIO_new(BIO_s_mem());
  ASSERT_EQ(BIO_write(b, std::string(252, 'x').data(), 252), 252);
  ASSERT_EQ(BIO_reset(b), 1);
  ERR_put_error(ERR_LIB_BIO, 0, ERR_R_MALLOC_FAILURE, __FILE__, __LINE__);
  ERR_clear_error();  // the error state exists
  StartChecker();
  const std::string name = std::string(150, 'n') + ".c";
  std::set<std::string> lines;
  void* blocks[3];
  for (int i = 0; i < 3; i++) {
    blocks[i] = CRYPTO_malloc(100, name.c_str(), i);
    lines.insert(BlockLine(static_cast<unsigned long>(i), name.c_str(), i, 100, blocks[i]) +
                 "2 chunks not listed: out of memory\n300 bytes leaked in 3 chunks\n");
  }
  morvane_test::FailAllocationsAfter(2, 1000);  // all but the report's text
  CRYPTO_mem_leaks(b);
  morvane_test::FailAllocationAfter(0);
  char* data = nullptr;
  EXPECT_EQ(lines.count(std::string(data, static_cast<size_t>(BIO_get_mem_data(b, &data)))), 1u);
  BIO_free(b);
  for (void* p : blocks) CRYPTO_free(p);
  ERR_clear_error();
}
