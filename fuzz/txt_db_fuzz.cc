// Fuzzes the text database: the input (after a few option bytes) is read as
// a database file, indexed, searched, extended and written back.
//
// Checks against a model of the file format (lines ended by a line feed or,
// the last, by the end of the text; '#' comments, tab-separated fields,
// backslash-tab for a tab inside a field, no NUL bytes): the reader accepts exactly the texts the
// model accepts and gives the same rows; an index is built exactly when no
// two qualifying rows share the field, and finds each qualifying row by its
// own value; an insert clashes exactly when the model says so, and one whose
// first field starts with '#' (a comment line) is refused; the written
// text reads back as the same rows whenever no field could change meaning
// (one ending in a backslash before another field, or a first field that
// starts with '#').

#include "fuzz_check.h"
#include "fuzz_input.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/lhash.h>
#include <morvane/txt_db.h>

namespace {

using Rows = std::vector<std::vector<std::string>>;
constexpr int kMaxFields = 6;

// The model of TXT_DB_read; false when it fails.
bool ModelRead(const std::string& text, int num, Rows* rows) {
  if (text.find('\0') != std::string::npos) return false;
  for (size_t pos = 0, nl; pos < text.size(); pos = nl + 1) {
    nl = text.find('\n', pos);
    if (nl == std::string::npos) nl = text.size();
    const std::string line = text.substr(pos, nl - pos);
    if (!line.empty() && line[0] == '#') continue;
    std::vector<std::string> row(1);
    bool esc = false, extra = false;
    for (size_t i = 0; i < line.size(); i++) {
      const char c = line[i];
      if (c == '\t' && !esc) {
        if (static_cast<int>(row.size()) >= num) {  // one tab too many ends the line
          extra = i + 1 < line.size();
          break;
        }
        row.emplace_back();
        continue;
      }
      if (c == '\t') row.back().pop_back();  // the backslash of an escaped tab
      esc = c == '\\';
      row.back() += c;
    }
    if (extra || static_cast<int>(row.size()) != num) return false;
    rows->push_back(row);
  }
  return true;
}

Rows DbRows(const TXT_DB* db) {
  Rows rows;
  for (int i = 0; i < sk_num(db->data); i++) {
    char** r = reinterpret_cast<char**>(sk_value(db->data, i));
    rows.emplace_back(r, r + db->num_fields);
  }
  return rows;
}

// Hash, comparison and qualification per field (all see whole rows).
template <int F>
unsigned long HashField(const void* row) {
  return lh_strhash(static_cast<char* const*>(row)[F]);
}
template <int F>
int CompareField(const void* a, const void* b) {
  return strcmp(static_cast<char* const*>(a)[F], static_cast<char* const*>(b)[F]);
}
int EvenFirst(char** row) {
  return strlen(row[0]) % 2 == 0;
}

constexpr LHASH_HASH_FN_TYPE kHash[kMaxFields] = {HashField<0>, HashField<1>, HashField<2>,
                                                  HashField<3>, HashField<4>, HashField<5>};
constexpr LHASH_COMP_FN_TYPE kCompare[kMaxFields] = {CompareField<0>, CompareField<1>,
                                                     CompareField<2>, CompareField<3>,
                                                     CompareField<4>, CompareField<5>};

bool Qualifies(const std::vector<std::string>& row, bool even_only) {
  return !even_only || row[0].size() % 2 == 0;
}

char* Dup(const std::string& s) {
  char* p = static_cast<char*>(MORVANE_malloc(s.size() + 1));
  Check(p != nullptr, "allocation");
  memcpy(p, s.c_str(), s.size() + 1);
  return p;
}

// Whether writing and reading back can change the rows.
bool RoundTrips(const Rows& rows) {
  for (const auto& row : rows) {
    if (!row[0].empty() && row[0][0] == '#') return false;
    for (size_t j = 0; j + 1 < row.size(); j++)
      if (!row[j].empty() && row[j].back() == '\\') return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 16) return 0;
  FuzzInput in(data, size);
  const int num = in.ConsumeIntegralInRange(1, kMaxFields);
  const uint8_t indexed = in.ConsumeIntegral<uint8_t>();
  const uint8_t even_only = in.ConsumeIntegral<uint8_t>();
  std::vector<std::string> extra(static_cast<size_t>(num));
  for (auto& f : extra) f = in.ConsumeRandomLengthString(16);
  const std::string text = in.ConsumeBytesAsString(in.remaining_bytes());

  BIO* bio = BIO_new_mem_buf(const_cast<char*>(text.data()), static_cast<int>(text.size()));
  Check(bio != nullptr, "memory stream");
  TXT_DB* db = TXT_DB_read(bio, num);
  BIO_free(bio);
  Rows model;
  const bool model_ok = ModelRead(text, num, &model);
  Check((db != nullptr) == model_ok, "read succeeds as the model says");
  if (db == nullptr) return 0;
  Check(DbRows(db) == model, "rows as the model reads them");

  // Indexes.
  for (int f = 0; f < num; f++) {
    if ((indexed >> f & 1) == 0) continue;
    const bool even = (even_only >> f & 1) != 0;
    const int ok = TXT_DB_create_index(db, f, even ? EvenFirst : nullptr, kHash[f], kCompare[f]);
    bool clash = false;
    for (size_t i = 0; i < model.size() && !clash; i++)
      for (size_t j = i + 1; j < model.size() && !clash; j++)
        clash =
            Qualifies(model[i], even) && Qualifies(model[j], even) && model[i][f] == model[j][f];
    Check(ok == !clash, "an index is built unless two rows clash");
    if (!ok) {
      Check(db->error == DB_ERROR_INDEX_CLASH && db->arg1 >= 0 && db->arg1 < db->arg2 &&
                model[db->arg1][f] == model[db->arg2][f],
            "a clash names two equal rows");
      continue;
    }
    for (int i = 0; i < sk_num(db->data); i++) {
      char** r = reinterpret_cast<char**>(sk_value(db->data, i));
      char** found = TXT_DB_get_by_index(db, f, r);
      if (Qualifies(model[i], even)) Check(found == r, "a qualifying row finds itself");
      Check(found == nullptr || strcmp(found[f], r[f]) == 0, "a lookup finds an equal row");
    }
  }
  Check(
      TXT_DB_get_by_index(db, num, nullptr) == nullptr && db->error == DB_ERROR_INDEX_OUT_OF_RANGE,
      "a field out of range");

  // One insert of a caller-built row (fields without line feeds).
  std::vector<std::string> row_model;
  char** row = static_cast<char**>(MORVANE_malloc((num + 1) * sizeof(char*)));
  Check(row != nullptr, "allocation");
  for (int f = 0; f < num; f++) {
    std::string s = extra[static_cast<size_t>(f)];
    for (char& c : s)
      if (c == '\n' || c == '\0') c = ' ';
    row_model.push_back(s);
    row[f] = Dup(s);
  }
  row[num] = nullptr;
  int clash_field = -1;
  for (int f = 0; f < num && clash_field < 0; f++) {
    if (db->index[f] == nullptr) continue;
    const bool even = db->qual[f] != nullptr;
    if (!Qualifies(row_model, even)) continue;
    for (const auto& r : model)
      if (Qualifies(r, even) && r[f] == row_model[f]) clash_field = f;
  }
  const bool comment = !row_model[0].empty() && row_model[0][0] == '#';
  if (TXT_DB_insert(db, row)) {
    Check(!comment && clash_field < 0, "an insert without clash");
    model.push_back(row_model);
  } else {
    Check(comment
              ? db->error == DB_ERROR_COMMENT_ROW
              : clash_field >= 0 && db->error == DB_ERROR_INDEX_CLASH && db->arg1 == clash_field &&
                    row_model[clash_field] == db->arg_row[clash_field],
          "an insert clash names the field; a comment row is refused");
    for (int f = 0; f < num; f++) MORVANE_free(row[f]);
    MORVANE_free(row);
  }

  // Write, then read back.
  BIO* out = BIO_new(BIO_s_mem());
  Check(out != nullptr, "memory stream");
  const long written = TXT_DB_write(out, db);
  char* p = nullptr;
  const long len = BIO_get_mem_data(out, &p);
  Check(written == len, "write counts its bytes");
  if (RoundTrips(model)) {
    TXT_DB* back = TXT_DB_read(out, num);
    Check(back != nullptr && DbRows(back) == model, "written rows read back");
    TXT_DB_free(back);
  }
  BIO_free(out);
  TXT_DB_free(db);
  return 0;
}
