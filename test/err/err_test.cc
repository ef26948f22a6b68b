// The per-thread error queue on one thread: pushing, reading, attached data,
// marks, clearing, thread states, the implementation table and the lock
// requests each operation makes.

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

using morvane_test::LockEvent;
using morvane_test::ReadLock;
using morvane_test::ReadUnlock;
using morvane_test::WriteLock;
using morvane_test::WriteUnlock;

namespace {

unsigned long Code(int n) {
  return ERR_PACK(ERR_LIB_USER + 1, 100 + n, 200 + n);
}
void Push(int n) {
  ERR_put_error(ERR_LIB_USER + 1, 100 + n, 200 + n, "t.cc", n);
}

TEST(ErrCode, PackingKeepsTheLowBits) {
  EXPECT_EQ(ERR_PACK(7, 101, 65), 0x07065041UL);
  EXPECT_EQ(ERR_GET_LIB(0x07065041UL), 7);
  EXPECT_EQ(ERR_GET_FUNC(0x07065041UL), 101);
  EXPECT_EQ(ERR_GET_REASON(0x07065041UL), 65);
  EXPECT_TRUE(ERR_FATAL_ERROR(ERR_PACK(7, 1, ERR_R_MALLOC_FAILURE)));
  ERR_put_error(256 + 7, 0x1000 + 101, 0x3000 + 65, "f.cc", 1);
  EXPECT_EQ(ERR_get_error(), 0x07065041UL);
  ERR_put_error(-1, 0, 0, "f.cc", 1);
  EXPECT_EQ(ERR_get_error(), 0xFF000000UL);  // a 32-bit code, whatever the library
}

TEST(ErrQueue, RingKeepsTheFifteenNewest) {
  for (int i = 1; i <= 16; i++) Push(i);
  for (int i = 2; i <= 16; i++) EXPECT_EQ(ERR_get_error(), Code(i)) << i;
  EXPECT_EQ(ERR_get_error(), 0UL);
  // The ring keeps working after wrapping several times.
  for (int i = 1; i <= 40; i++) Push(i);
  EXPECT_EQ(ERR_peek_error(), Code(26));
  EXPECT_EQ(ERR_peek_last_error(), Code(40));
}

TEST(ErrQueue, PeekAndGet) {
  const char* file = "keep";
  const char* data = "keep";
  int line = 42, flags = 42;
  // An empty queue leaves the out parameters alone.
  EXPECT_EQ(ERR_get_error_line_data(&file, &line, &data, &flags), 0UL);
  EXPECT_EQ(ERR_peek_error_line_data(&file, &line, &data, &flags), 0UL);
  EXPECT_EQ(ERR_peek_last_error_line_data(&file, &line, &data, &flags), 0UL);
  EXPECT_EQ(std::string(file) + data + std::to_string(line) + std::to_string(flags),
            "keepkeep4242");
  Push(1);
  Push(2);
  EXPECT_EQ(ERR_peek_error_line(&file, &line), Code(1));
  EXPECT_EQ(line, 1);
  EXPECT_EQ(ERR_peek_last_error_line(&file, &line), Code(2));
  EXPECT_STREQ(file, "t.cc");
  EXPECT_EQ(line, 2);
  EXPECT_EQ(ERR_get_error_line(&file, &line), Code(1));
  EXPECT_EQ(line, 1);
  // File and line need both pointers; an entry without a file reads "NA".
  ERR_put_error(1, 2, 3, nullptr, 77);
  EXPECT_EQ(ERR_peek_last_error_line(&file, nullptr), ERR_PACK(1, 2, 3));
  EXPECT_EQ(ERR_peek_last_error_line(nullptr, &line), ERR_PACK(1, 2, 3));
  EXPECT_EQ(std::string(file) + std::to_string(line), "t.cc1");
  EXPECT_EQ(ERR_get_error(), Code(2));
  EXPECT_EQ(ERR_get_error_line(&file, &line), ERR_PACK(1, 2, 3));
  EXPECT_EQ(std::string(file) + std::to_string(line), "NA0");
  EXPECT_EQ(ERR_get_error(), 0UL);
}

TEST(ErrQueue, LibraryMacroRecordsThePathUnderCrypto) {
  // Reporters inside the library pass __FILE__ mapped to its path under
  // crypto/; a failure of CRYPTO_get_new_lockid shows it.
  EXPECT_EQ(CRYPTO_get_new_lockid(nullptr), 0);
  const char* file = nullptr;
  int line = 0;
  ERR_get_error_line(&file, &line);
  EXPECT_STREQ(file, "locks.cc");
  EXPECT_GT(line, 0);
}

// ---- attached data ---------------------------------------------------------

TEST(ErrData, JoinedTextsAreOwnedStrings) {
  Push(1);
  const char* data = nullptr;
  int flags = -1;
  EXPECT_EQ(ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags), Code(1));
  EXPECT_STREQ(data, "");
  EXPECT_EQ(flags, 0);
  ERR_add_error_data(3, "a", nullptr, "b");
  EXPECT_EQ(ERR_peek_last_error_line_data(nullptr, nullptr, &data, &flags), Code(1));
  EXPECT_STREQ(data, "ab");
  EXPECT_EQ(flags, ERR_TXT_MALLOCED | ERR_TXT_STRING);
  // Longer texts grow the buffer; replacing the data releases the joined
  // text (checked by the leak checker).
  const std::string a81(81, 'a'), b19(19, 'b');
  ERR_add_error_data(2, a81.c_str(), b19.c_str());
  EXPECT_EQ(ERR_peek_last_error_line_data(nullptr, nullptr, &data, nullptr), Code(1));
  EXPECT_EQ(std::string(data), a81 + b19);
  static char fixed[] = "fixed";
  ERR_set_error_data(fixed, ERR_TXT_STRING);
  EXPECT_EQ(ERR_peek_error_line_data(nullptr, nullptr, &data, &flags), Code(1));
  EXPECT_EQ(data, fixed);
  EXPECT_EQ(flags, ERR_TXT_STRING);
  ERR_clear_error();  // the caller's text is not freed
}

TEST(ErrData, DataGoesToTheNewestEntryEvenInSlotZero) {
  for (int i = 1; i <= ERR_NUM_ERRORS; i++) Push(i);  // the newest now sits in slot 0
  ASSERT_EQ(ERR_get_state()->top, 0);
  ERR_add_error_data(1, "last");
  const char* data = nullptr;
  EXPECT_EQ(ERR_peek_last_error_line_data(nullptr, nullptr, &data, nullptr), Code(16));
  EXPECT_STREQ(data, "last");
  EXPECT_EQ(ERR_peek_error_line_data(nullptr, nullptr, &data, nullptr), Code(2));
  EXPECT_STREQ(data, "");
}

TEST(ErrData, OutOfMemoryAttachesNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Push(1);
  ERR_add_error_data(1, "kept");
  std::string long_text(200, 'z');
  morvane_test::FailAllocationAfter(2);  // the growth fails
  ERR_add_error_data(1, long_text.c_str());
  const char* data = nullptr;
  ERR_peek_last_error_line_data(nullptr, nullptr, &data, nullptr);
  EXPECT_STREQ(data, "kept");
  morvane_test::FailAllocationAfter(1);  // the first block fails
  ERR_add_error_data(1, "lost");
  ERR_peek_last_error_line_data(nullptr, nullptr, &data, nullptr);
  EXPECT_STREQ(data, "kept");
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);
}

// ---- marks and clearing ----------------------------------------------------

TEST(ErrMark, PopToMark) {
  EXPECT_EQ(ERR_set_mark(), 0);
  Push(1);
  EXPECT_EQ(ERR_set_mark(), 1);
  Push(2);
  Push(3);
  ERR_add_error_data(1, "dropped");
  EXPECT_EQ(ERR_pop_to_mark(), 1);
  EXPECT_EQ(ERR_peek_last_error(), Code(1));
  EXPECT_EQ(ERR_get_state()->err_flags[ERR_get_state()->top], 0);  // unmarked
  EXPECT_EQ(ERR_pop_to_mark(), 0);
  EXPECT_ERRORS({});
  // Popping walks back over slot zero.
  for (int i = 1; i <= 15; i++) Push(i);  // slots 1..15
  ASSERT_EQ(ERR_set_mark(), 1);
  Push(16);  // slot 0, dropping entry 1
  Push(17);  // slot 1, dropping entry 2
  EXPECT_EQ(ERR_pop_to_mark(), 1);
  EXPECT_EQ(ERR_peek_last_error(), Code(15));
  EXPECT_EQ(ERR_peek_error(), Code(3));
}

TEST(ErrClear, EmptiesAndFreesOwnedData) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Push(1);
  long before = morvane_test::GetAllocCounts().live_blocks;
  ERR_add_error_data(1, "owned");
  Push(2);
  ERR_add_error_data(1, "owned too");
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, before + 2);
  ERR_clear_error();
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, before);
  EXPECT_EQ(ERR_peek_error(), 0UL);
  EXPECT_EQ(ERR_peek_last_error(), 0UL);
  Push(3);
  EXPECT_EQ(ERR_get_error(), Code(3));
}

// ---- thread states ---------------------------------------------------------

TEST(ErrState, RemoveStateFreesTheQueueAndTheTable) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  Push(1);
  ERR_add_error_data(1, "owned");
  ERR_STATE* es = ERR_get_state();
  EXPECT_EQ(es->pid, CRYPTO_thread_id());
  LHASH* table = ERR_get_err_state_table();
  ASSERT_NE(table, nullptr);
  ERR_release_err_state_table(&table);
  EXPECT_EQ(table, nullptr);  // nobody else held it
  ERR_release_err_state_table(&table);  // nothing to release
  ERR_release_err_state_table(nullptr);

  ERR_remove_state(CRYPTO_thread_id() + 1);  // no such queue: ours stays
  EXPECT_EQ(ERR_peek_error(), Code(1));
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, 0);  // state, text and table gone
  EXPECT_EQ(ERR_get_err_state_table(), nullptr);
  Push(2);
  EXPECT_EQ(ERR_get_error(), Code(2));
  EXPECT_EQ(ERR_get_error(), 0UL);
  ERR_remove_state(0);
}

unsigned long g_id;
unsigned long CurrentId() {
  return g_id;
}

TEST(ErrState, IdsThatDifferAboveBit31AreDifferentThreads) {
  // Equal low 32 bits: the difference of the two ids truncated to an int is 0.
  CRYPTO_set_id_callback(CurrentId);
  g_id = 0x5;
  Push(1);
  g_id = 0x100000005UL;
  EXPECT_EQ(ERR_peek_error(), 0UL);
  Push(2);
  g_id = 0x5;
  EXPECT_EQ(ERR_get_error(), Code(1));
  EXPECT_EQ(ERR_get_error(), 0UL);
  ERR_remove_state(0);
  g_id = 0x100000005UL;
  EXPECT_EQ(ERR_get_error(), Code(2));
  ERR_remove_state(0);
}

TEST(ErrState, FallbackWhenNoQueueCanBeMade) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  morvane_test::FailAllocationAfter(1);
  ERR_STATE* fallback = ERR_get_state();
  ERR_put_error(1, 2, 3, "f.cc", 4);  // now a queue of its own can be made
  EXPECT_NE(ERR_get_state(), fallback);
  EXPECT_EQ(ERR_get_error(), ERR_PACK(1, 2, 3));
  ERR_remove_state(0);
}

TEST(ErrImpl, TableIsFixedAfterFirstUse) {
  EXPECT_EQ(ERR_get_next_error_library(), 128);
  EXPECT_EQ(ERR_get_next_error_library(), 129);
  const ERR_FNS* fns = ERR_get_implementation();
  ASSERT_NE(fns, nullptr);
  EXPECT_EQ(ERR_set_implementation(fns), 0);
  EXPECT_EQ(ERR_get_implementation(), fns);
}

// A whole table serving one queue for every thread.
ERR_STATE g_only_state;
int g_gets;
LHASH* NoTable(int) {
  return nullptr;
}
void NoDel() {}
ERR_STRING_DATA* NoString(const ERR_STRING_DATA*) {
  return nullptr;
}
ERR_STRING_DATA* NoStringSet(ERR_STRING_DATA*) {
  return nullptr;
}
void NoRelease(LHASH**) {}
ERR_STATE* OnlyState(const ERR_STATE*) {
  g_gets++;
  return &g_only_state;
}
ERR_STATE* NoSet(ERR_STATE*) {
  return nullptr;
}
void NoThreadDel(const ERR_STATE*) {}
int Lib500() {
  return 500;
}

const ERR_FNS kMine = {NoTable,   NoDel,     NoString, NoStringSet, NoStringSet, NoTable,
                       NoRelease, OnlyState, NoSet,    NoThreadDel, Lib500};

TEST(ErrImpl, ApplicationTableBeforeFirstUse) {
  EXPECT_EQ(ERR_set_implementation(&kMine), 1);
  EXPECT_EQ(ERR_get_implementation(), &kMine);
  Push(1);
  EXPECT_GT(g_gets, 0);
  EXPECT_EQ(g_only_state.err_buffer[g_only_state.top], Code(1));
  EXPECT_EQ(ERR_get_error(), Code(1));
  EXPECT_EQ(ERR_get_next_error_library(), 500);
}

// A table with a null slot is refused before first use, queuing nothing, so
// that the choice stays open.
TEST(ErrImpl, TableWithANullSlotIsRefused) {
  ERR_FNS holed = kMine;
  holed.cb_thread_del_item = nullptr;
  EXPECT_EQ(ERR_set_implementation(&holed), 0);
  EXPECT_EQ(ERR_set_implementation(&kMine), 1);
  EXPECT_EQ(ERR_get_implementation(), &kMine);
}

// ---- lock requests ---------------------------------------------------------

TEST(ErrLocks, EachOperationTakesLockOneThreeTimes) {
  morvane_test::InstallLockingCallback();
  morvane_test::StartRecordingLocks();
  Push(1);
  std::vector<LockEvent> first = morvane_test::StopRecordingLocks();
  const std::vector<LockEvent> kLookup = {WriteLock(1),  WriteUnlock(1), ReadLock(1),
                                          ReadUnlock(1), WriteLock(1),   WriteUnlock(1)};
  std::vector<LockEvent> expected = {
      WriteLock(1), WriteUnlock(1),  // install the storage functions
      WriteLock(1), WriteUnlock(1),  // look up: no table yet
      WriteLock(1), WriteUnlock(1),  // store: create the table and hold it
      WriteLock(1), WriteUnlock(1),  // insert
      WriteLock(1), WriteUnlock(1),  // release the table
  };
  expected.insert(expected.end(), kLookup.begin(), kLookup.end());  // look up again
  EXPECT_EQ(first, expected);

  morvane_test::StartRecordingLocks();
  Push(2);
  ERR_add_error_data(1, "x");
  ERR_get_error();
  std::vector<LockEvent> three = kLookup;
  three.insert(three.end(), kLookup.begin(), kLookup.end());
  three.insert(three.end(), kLookup.begin(), kLookup.end());
  EXPECT_EQ(morvane_test::StopRecordingLocks(), three);

  morvane_test::StartRecordingLocks();
  ERR_remove_state(0);
  EXPECT_EQ(morvane_test::StopRecordingLocks(),
            (std::vector<LockEvent>{WriteLock(1), WriteUnlock(1),     // hold the table
                                    WriteLock(1), WriteUnlock(1),     // delete, free the table
                                    WriteLock(1), WriteUnlock(1)}));  // release
}

}  // namespace

namespace {
std::vector<std::string> g_labels;
int RecordLabel(const char* info, const char*, int) {
  g_labels.push_back(info);
  return 1;
}
int PopLabel() {
  g_labels.push_back("pop");
  return 1;
}
}  // namespace

// The blocks of the error tables carry a label in leak reports.
TEST(ErrTables, CreationIsLabelledForTheLeakChecker) {
  CRYPTO_set_mem_info_functions(RecordLabel, PopLabel, nullptr);
  ERR_put_error(ERR_LIB_SYS, 0, 1, "x", 1);
  ASSERT_GE(g_labels.size(), 2u);
  EXPECT_EQ(g_labels[0], "thread_get (err/err_fns.cc)");
  EXPECT_EQ(g_labels[1], "pop");
  g_labels.clear();
  ERR_load_ERR_strings();
  ASSERT_GE(g_labels.size(), 2u);
  EXPECT_EQ(g_labels[0], "err_get (err/err_fns.cc)");
  EXPECT_EQ(g_labels[1], "pop");
  CRYPTO_set_mem_info_functions(nullptr, nullptr, nullptr);
  ERR_remove_state(0);
  ERR_free_strings();
}

// Caller-owned data (no ERR_TXT_MALLOCED) may be freed once its entry is
// gone.  However the entry went, a later entry in that slot must read "" and
// flags 0, never the old pointer.

namespace {

void ReadWithData() {
  const char *data, *file;
  int line, flags;
  ERR_get_error_line_data(&file, &line, &data, &flags);
}

TEST(ErrDataSlot, ReusedSlotsCarryNoStalePointer) {
  for (void (*drop)() : {+[] { ERR_get_error(); }, ReadWithData, ERR_clear_error}) {
    char* text = strdup("caller");
    ERR_put_error(ERR_LIB_USER, 1, 1, "x.cc", 1);
    ERR_set_error_data(text, ERR_TXT_STRING);
    drop();
    free(text);
    for (int i = 0; i < ERR_NUM_ERRORS; i++) ERR_put_error(ERR_LIB_USER, 2, 2, "y.cc", i);
    const char *data, *file;
    int line, flags = -1, entries = 0;
    for (; ERR_get_error_line_data(&file, &line, &data, &flags) != 0; entries++)
      EXPECT_TRUE(strcmp(data, "") == 0 && flags == 0);
    EXPECT_EQ(entries, ERR_NUM_ERRORS - 1);  // every slot, that one included
  }
}

}  // namespace
