// The text database: reading (comments, field counts, long lines, the exact
// complaints on standard error), writing with escaped tabs, indexes with
// qualification, clashes, inserts and ownership of rows.

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>
#include <morvane/txt_db.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "scripted_stream.h"
#include "test_support.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

// Reads `text` with `num` fields; *err receives what went to standard error.
TXT_DB* ReadText(const std::string& text, int num, std::string* err = nullptr) {
  BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  EXPECT_NE(in, nullptr);
  CaptureStderr();
  TXT_DB* db = TXT_DB_read(in, num);
  std::string e = GetCapturedStderr();
  if (err != nullptr) *err = e;
  BIO_free(in);
  return db;
}

// Writes the database; *text receives the bytes.
long WriteText(TXT_DB* db, std::string* text) {
  BIO* out = BIO_new(BIO_s_mem());
  EXPECT_NE(out, nullptr);
  long n = TXT_DB_write(out, db);
  char* data = nullptr;
  long len = BIO_get_mem_data(out, &data);
  text->assign(data != nullptr ? data : "", len > 0 ? static_cast<size_t>(len) : 0);
  BIO_free(out);
  return n;
}

std::vector<std::string> Fields(TXT_DB* db, int i) {
  auto row = reinterpret_cast<char**>(sk_value(db->data, i));
  std::vector<std::string> out;
  for (int f = 0; f < db->num_fields; f++) out.push_back(row[f] != nullptr ? row[f] : "(null)");
  return out;
}

// A caller-built row: null end marker, each field its own block.
char** MakeRow(const std::vector<const char*>& fields) {
  auto row = static_cast<char**>(MORVANE_malloc(sizeof(char*) * (fields.size() + 1)));
  for (size_t i = 0; i < fields.size(); i++) {
    row[i] = fields[i] != nullptr ? MORVANE_strdup(fields[i]) : nullptr;
  }
  row[fields.size()] = nullptr;
  return row;
}

void FreeRow(char** row, int num) {
  for (int i = 0; i < num; i++) MORVANE_free(row[i]);
  MORVANE_free(row);
}

// Index functions over field 0 and field 1.
template <int F>
unsigned long HashField(const void* row) {
  return lh_strhash(static_cast<char* const*>(row)[F]);
}
template <int F>
int CmpField(const void* a, const void* b) {
  return strcmp(static_cast<char* const*>(a)[F], static_cast<char* const*>(b)[F]);
}
// Rows whose field 1 is "V" (valid) qualify.
int IsValid(char** row) {
  return strcmp(row[1], "V") == 0;
}

}  // namespace

// The texts of test/data/txt_db/read.txt and the rows they read as, or the
// complaint on standard error when the read fails.
TEST(TxtDbRead, TableOfTexts) {
  const auto cases = morvane_test::ReadRsp(morvane_test::TestDataFile("txt_db/read.txt"));
  ASSERT_EQ(cases.size(), 15u);
  for (const auto& c : cases) {
    const std::string text = morvane_test::Unquote(c.Get("Text"));
    SCOPED_TRACE(text);
    std::string err;
    TXT_DB* db = ReadText(text, std::stoi(c.Get("Fields")), &err);
    EXPECT_EQ(err, c.Has("Err") ? morvane_test::Unquote(c.Get("Err")) : "");
    EXPECT_EQ(db == nullptr, c.Has("Err"));
    if (db == nullptr) continue;
    EXPECT_EQ(db->error, DB_ERROR_OK);
    std::string rows;
    for (int i = 0; i < sk_num(db->data); i++) {
      const std::vector<std::string> fields = Fields(db, i);
      for (size_t f = 0; f < fields.size(); f++) rows += (f ? "|" : "") + fields[f];
      rows += "\n";
    }
    EXPECT_EQ(rows, morvane_test::Unquote(c.Get("Rows")));
    TXT_DB_free(db);
  }
}

// A read that fails after two lines fails the whole read: no database with
// the rows before it, and a complaint naming the line being read.
TEST(TxtDbRead, AFailedReadIsNoEndOfFile) {
  BIO* in = morvane_test::NewScriptedStream();
  auto& st = morvane_test::Script(in);
  st.input = "a\tb\nc\td\ne\tf\n";
  st.read_script = {morvane_test::ScriptStep::Move(0), morvane_test::ScriptStep::Move(0),
                    morvane_test::ScriptStep::Fail()};
  CaptureStderr();
  EXPECT_EQ(TXT_DB_read(in, 2), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "read error on line 3\n");
  BIO_free(in);
  // A directory opened as a file fails its first read.
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  in = BIO_new_file(dir.c_str(), "r");
  ASSERT_NE(in, nullptr);
  CaptureStderr();
  EXPECT_EQ(TXT_DB_read(in, 2), nullptr);
  EXPECT_EQ(GetCapturedStderr(), "read error on line 1\n");
  EXPECT_NE(ERR_get_error(), 0u) << "the stream's error stays queued";
  ERR_clear_error();
  BIO_free(in);
}

// A read that asks to retry is no read error: a buffering filter over a
// writable memory stream reads as the text does, and so does a stream that
// asks again up to 16 times in a row.  A source that still has nothing
// after that, or that never reaches its end, fails the read on the line it
// was reading; so does a failure at any read.
TEST(TxtDbRead, RetriesEndOnlyAtTheEnd) {
  const std::string text = "a\tb\n#c\nd\te";
  const std::vector<morvane_test::RetryCase> cases = morvane_test::RetryCases(text, 3);
  for (const morvane_test::RetryCase& c : cases) {
    SCOPED_TRACE(&c - cases.data());
    CaptureStderr();
    TXT_DB* db = TXT_DB_read(c.in, 2);
    const std::string err = GetCapturedStderr();
    if (c.fail_line == 0) {
      ASSERT_NE(db, nullptr);
      ASSERT_EQ(sk_num(db->data), 2);
      EXPECT_EQ(Fields(db, 1), (std::vector<std::string>{"d", "e"}));
      EXPECT_EQ(err, "");
    } else {
      EXPECT_EQ(db, nullptr);
      EXPECT_EQ(err, "read error on line " + std::to_string(c.fail_line) + "\n");
    }
    TXT_DB_free(db);
    BIO_free_all(c.in);
  }
}

TEST(TxtDbRead, LongLinesAndLongComments) {
  std::string comment = "#" + std::string(1999, 'c') + "\n";
  std::string f1(5000, 'x'), f2(511, 'y'), f3(1023, 'z');
  std::string text = comment + f1 + "\t1\n" + f2 + "\t2\n" + "3\t" + f3 + "\n";
  TXT_DB* db = ReadText(text, 2);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(sk_num(db->data), 3);
  EXPECT_EQ(Fields(db, 0), (std::vector<std::string>{f1, "1"}));
  EXPECT_EQ(Fields(db, 1), (std::vector<std::string>{f2, "2"}));
  EXPECT_EQ(Fields(db, 2), (std::vector<std::string>{"3", f3}));
  TXT_DB_free(db);
  // Line numbers count the long comment as one line.
  std::string err;
  EXPECT_EQ(ReadText(comment + "only\n", 2, &err), nullptr);
  EXPECT_EQ(err, "wrong number of fields on line 2 (looking for field 2, got 1, '' left)\n");
}

TEST(TxtDbWrite, EscapesTabsAndReadsBack) {
  TXT_DB* db = ReadText("k\\\tey\tvalue\n", 2);  // an escaped tab inside field 0
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(Fields(db, 0), (std::vector<std::string>{"k\tey", "value"}));
  std::string text;
  EXPECT_EQ(WriteText(db, &text), 12);
  EXPECT_EQ(text, "k\\\tey\tvalue\n");
  TXT_DB_free(db);

  db = ReadText(text, 2);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(Fields(db, 0), (std::vector<std::string>{"k\tey", "value"}));
  TXT_DB_free(db);
}

TEST(TxtDbWrite, NullFieldsWriteNothingAndEmptyDatabaseWritesZero) {
  TXT_DB* db = ReadText("", 3);
  ASSERT_NE(db, nullptr);
  std::string text;
  EXPECT_EQ(WriteText(db, &text), 0);
  EXPECT_EQ(text, "");
  ASSERT_EQ(TXT_DB_insert(db, MakeRow({"a", nullptr, "c\td"})), 1);
  EXPECT_EQ(WriteText(db, &text), 8);
  EXPECT_EQ(text, "a\t\tc\\\td\n");
  TXT_DB_free(db);
}

TEST(TxtDbWrite, FieldEndingInBackslashJoinsTheNextField) {
  // The format has no escape for a backslash: a field ending in one reads
  // back joined to the next field.  Stored files rely on the format as it is.
  TXT_DB* db = ReadText("", 3);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(TXT_DB_insert(db, MakeRow({"x\\", "y", "z"})), 1);
  std::string text;
  ASSERT_EQ(WriteText(db, &text), 7);
  EXPECT_EQ(text, "x\\\ty\tz\n");
  TXT_DB_free(db);

  std::string err;
  EXPECT_EQ(ReadText(text, 3, &err), nullptr);
  EXPECT_EQ(err, "wrong number of fields on line 1 (looking for field 3, got 2, '' left)\n");
  db = ReadText(text, 2);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(Fields(db, 0), (std::vector<std::string>{"x\ty", "z"}));
  TXT_DB_free(db);
}

TEST(TxtDbWrite, FailedStreamWriteGivesMinusOne) {
  TXT_DB* db = ReadText("a\tb\n", 2);
  ASSERT_NE(db, nullptr);
  char ro[] = "read only";
  BIO* out = BIO_new_mem_buf(ro, static_cast<int>(sizeof(ro) - 1));  // refuses writes
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(TXT_DB_write(out, db), -1);
  BIO_free(out);
  TXT_DB_free(db);
}

TEST(TxtDbIndex, LookupAndFieldChecks) {
  TXT_DB* db = ReadText("01\tV\talice\n02\tR\tbob\n03\tV\tcarol\n", 3);
  ASSERT_NE(db, nullptr);
  EXPECT_EQ(TXT_DB_create_index(db, 3, nullptr, HashField<0>, CmpField<0>), 0);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_OUT_OF_RANGE);
  EXPECT_EQ(TXT_DB_create_index(db, -1, nullptr, HashField<0>, CmpField<0>), 0);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_OUT_OF_RANGE);
  ASSERT_EQ(TXT_DB_create_index(db, 0, nullptr, HashField<0>, CmpField<0>), 1);

  char key0[] = "02";
  char* key[3] = {key0, nullptr, nullptr};
  char** row = TXT_DB_get_by_index(db, 0, key);
  ASSERT_NE(row, nullptr);
  EXPECT_STREQ(row[2], "bob");
  EXPECT_EQ(db->error, DB_ERROR_OK);
  char miss0[] = "09";
  key[0] = miss0;
  EXPECT_EQ(TXT_DB_get_by_index(db, 0, key), nullptr);
  EXPECT_EQ(db->error, DB_ERROR_OK);

  EXPECT_EQ(TXT_DB_get_by_index(db, 1, key), nullptr);
  EXPECT_EQ(db->error, DB_ERROR_NO_INDEX);
  EXPECT_EQ(TXT_DB_get_by_index(db, 3, key), nullptr);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_OUT_OF_RANGE);
  EXPECT_EQ(TXT_DB_get_by_index(db, -1, key), nullptr);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_OUT_OF_RANGE);
  TXT_DB_free(db);
}

TEST(TxtDbIndex, ClashNamesBothPositionsAndKeepsThePreviousIndex) {
  TXT_DB* db = ReadText("01\tV\tsame\n02\tR\tother\n03\tV\tsame\n", 3);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(TXT_DB_create_index(db, 0, nullptr, HashField<0>, CmpField<0>), 1);
  LHASH* before = db->index[0];
  // Field 2 holds "same" twice.
  EXPECT_EQ(TXT_DB_create_index(db, 2, nullptr, HashField<2>, CmpField<2>), 0);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_CLASH);
  EXPECT_EQ(db->arg1, 0);
  EXPECT_EQ(db->arg2, 2);
  EXPECT_EQ(db->index[2], nullptr);
  // Rebuilding field 0 over a clash leaves the old index in place.
  EXPECT_EQ(TXT_DB_create_index(db, 0, nullptr, HashField<2>, CmpField<2>), 0);
  EXPECT_EQ(db->index[0], before);
  TXT_DB_free(db);
}

TEST(TxtDbIndex, QualificationDecidesWhichRowsAreIndexed) {
  TXT_DB* db = ReadText("01\tV\tsame\n02\tR\tsame\n03\tV\tother\n", 3);
  ASSERT_NE(db, nullptr);
  // Only rows 0 and 2 qualify, so the repeated "same" does not clash.
  ASSERT_EQ(TXT_DB_create_index(db, 2, IsValid, HashField<2>, CmpField<2>), 1);
  EXPECT_EQ(db->qual[2], IsValid);
  EXPECT_EQ(lh_num_items(db->index[2]), 2u);

  // A revoked row with a clashing value is accepted and not indexed.
  EXPECT_EQ(TXT_DB_insert(db, MakeRow({"04", "R", "other"})), 1);
  EXPECT_EQ(lh_num_items(db->index[2]), 2u);
  // A valid one clashes.
  char** dup = MakeRow({"05", "V", "other"});
  EXPECT_EQ(TXT_DB_insert(db, dup), 0);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_CLASH);
  EXPECT_EQ(db->arg1, 2);
  ASSERT_NE(db->arg_row, nullptr);
  EXPECT_STREQ(db->arg_row[0], "03");
  EXPECT_EQ(sk_num(db->data), 4);
  FreeRow(dup, 3);  // still the caller's
  TXT_DB_free(db);
}

TEST(TxtDbInsert, InsertedRowsAreIndexedWrittenAndFreed) {
  TXT_DB* db = ReadText("01\tV\talice\n", 3);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(TXT_DB_create_index(db, 0, nullptr, HashField<0>, CmpField<0>), 1);
  char** row = MakeRow({"02", "V", "bob"});
  ASSERT_EQ(TXT_DB_insert(db, row), 1);
  char key0[] = "02";
  char* key[3] = {key0, nullptr, nullptr};
  EXPECT_EQ(TXT_DB_get_by_index(db, 0, key), row);

  char** clash = MakeRow({"01", "R", "mallory"});
  EXPECT_EQ(TXT_DB_insert(db, clash), 0);
  EXPECT_EQ(db->error, DB_ERROR_INDEX_CLASH);
  EXPECT_EQ(db->arg1, 0);
  EXPECT_STREQ(db->arg_row[2], "alice");
  FreeRow(clash, 3);
  // A first field beginning with '#' would be written as a comment line.
  char** comment = MakeRow({"#03", "V", "carol"});
  EXPECT_EQ(TXT_DB_insert(db, comment), 0);
  EXPECT_EQ(db->error, DB_ERROR_COMMENT_ROW);
  FreeRow(comment, 3);

  std::string text;
  EXPECT_EQ(WriteText(db, &text), 20);
  EXPECT_EQ(text, "01\tV\talice\n02\tV\tbob\n");
  TXT_DB_free(db);
}

TEST(TxtDbFree, ReplacedFieldsOfReadRowsAreFreed) {
  TXT_DB* db = ReadText("01\tV\talice\n", 3);
  ASSERT_NE(db, nullptr);
  auto row = reinterpret_cast<char**>(sk_value(db->data, 0));
  row[1] = MORVANE_strdup("R");  // the caller's own text in a read row
  std::string text;
  WriteText(db, &text);
  EXPECT_EQ(text, "01\tR\talice\n");
  TXT_DB_free(db);  // frees the replacement, not the texts inside the row's block
  TXT_DB_free(nullptr);
}

TEST(TxtDbRead, AllocationFailuresAreReportedAndLeakNothing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  // Five rows (the row list grows past its first four slots) and a line
  // longer than the first piece of 511 bytes.
  const std::string text =
      "01\tV\talice\n02\tR\tbob\n#c\n" + std::string(700, 'x') + "\ty\tz\n04\tV\tdan\n05\tV\teve\n";
  // The thread's error queue (which the buffer's failures fill) and the
  // streams' lasting per-class tables exist from here on, so that only the
  // read's own blocks come and go below.
  ERR_get_state();
  BIO_free(BIO_new(BIO_s_mem()));
  // Fail each allocation of the read in turn until one read succeeds.
  bool saw_push_failure = false;
  for (long n = 1; n < 100; n++) {
    long live = morvane_test::GetAllocCounts().live_blocks;
    BIO* in = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
    ASSERT_NE(in, nullptr);
    morvane_test::FailAllocationAfter(n);
    CaptureStderr();
    TXT_DB* db = TXT_DB_read(in, 3);
    std::string err = GetCapturedStderr();
    morvane_test::FailAllocationAfter(0);
    BIO_free(in);
    ERR_clear_error();
    if (db != nullptr) {
      EXPECT_EQ(sk_num(db->data), 5);
      EXPECT_TRUE(saw_push_failure);
      TXT_DB_free(db);
      EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live);
      return;
    }
    EXPECT_TRUE(err == "MORVANE_malloc failure\n" || err == "failure in sk_push\n")
        << n << ": " << err;
    saw_push_failure |= err == "failure in sk_push\n";
    EXPECT_EQ(morvane_test::GetAllocCounts().live_blocks, live) << n;
  }
  FAIL() << "the read never succeeded";
}

// Every k-th allocation failing while rows are inserted and an index is
// made between them: each row the database holds is found by every index it
// qualifies for, each refused row is in none and stays the caller's.
TEST(TxtDbInsert, EveryKthAllocationFailing) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  constexpr int kRows = 120;
  for (long k : morvane_test::SweepSteps()) {
    TXT_DB* db = ReadText("", 3);
    ASSERT_NE(db, nullptr);
    ASSERT_EQ(TXT_DB_create_index(db, 0, nullptr, HashField<0>, CmpField<0>), 1);
    std::vector<char**> rows;
    for (int i = 0; i < kRows; i++) {
      const std::string key = "r" + std::to_string(i), name = "n" + std::to_string(i);
      rows.push_back(MakeRow({key.c_str(), i % 3 == 0 ? "R" : "V", name.c_str()}));
    }
    std::vector<bool> held(kRows);
    int indexed = 0;
    morvane_test::FailEveryAllocation(k);
    for (int i = 0; i < kRows; i++) {
      if (i == kRows / 2) indexed = TXT_DB_create_index(db, 2, IsValid, HashField<2>, CmpField<2>);
      held[i] = TXT_DB_insert(db, rows[i]) == 1;
    }
    morvane_test::FailEveryAllocation(0);
    EXPECT_EQ(indexed == 1, db->index[2] != nullptr) << k;
    for (int i = 0; i < kRows; i++) {
      EXPECT_EQ(TXT_DB_get_by_index(db, 0, rows[i]), held[i] ? rows[i] : nullptr) << k << " " << i;
      if (indexed == 1 && IsValid(rows[i])) {
        EXPECT_EQ(TXT_DB_get_by_index(db, 2, rows[i]), held[i] ? rows[i] : nullptr) << k;
      }
      if (!held[i]) FreeRow(rows[i], 3);
    }
    TXT_DB_free(db);
  }
}

TEST(TxtDbInsert, AllocationFailureLeavesTheDatabaseUnchanged) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  TXT_DB* db = ReadText("01\tV\talice\n", 3);
  ASSERT_NE(db, nullptr);
  ASSERT_EQ(TXT_DB_create_index(db, 0, nullptr, HashField<0>, CmpField<0>), 1);
  ASSERT_EQ(TXT_DB_create_index(db, 2, nullptr, HashField<2>, CmpField<2>), 1);
  char key0[] = "02";
  char* key[3] = {key0, nullptr, nullptr};
  // The first allocation is the node of index 0, the second that of index 2.
  for (long n : {1, 2}) {
    char** row = MakeRow({"02", "V", "bob"});
    morvane_test::FailAllocationAfter(n);
    EXPECT_EQ(TXT_DB_insert(db, row), 0) << n;
    morvane_test::FailAllocationAfter(0);
    EXPECT_EQ(db->error, DB_ERROR_MALLOC);
    EXPECT_EQ(sk_num(db->data), 1);
    EXPECT_EQ(TXT_DB_get_by_index(db, 0, key), nullptr);
    EXPECT_EQ(lh_num_items(db->index[0]), 1u);
    EXPECT_EQ(lh_num_items(db->index[2]), 1u);
    FreeRow(row, 3);  // still the caller's
  }
  EXPECT_EQ(TXT_DB_insert(db, MakeRow({"02", "V", "bob"})), 1);
  EXPECT_NE(TXT_DB_get_by_index(db, 0, key), nullptr);
  TXT_DB_free(db);
}
