// Text database: rows of tab-separated fields read from and written to a
// stream, with unique hash indexes on single fields.
//
// Implementation notes: a row read from a file is one block, the num_fields
// + 1 pointers followed by the field texts, and its end marker points just
// past the texts; TXT_DB_free tells those texts from fields that a caller put
// in their place by that address range.  The file format (backslash before a
// tab inside a field, no other escape) is described in morvane/txt_db.h.
// Only the end of the input ends the file.  A read that asks to retry is the
// end when the stream is at its end (an empty memory stream behind a
// buffering filter says so); a source that is not, and still has nothing
// after a bounded number of retries in a row, fails the read as a failed
// read does (internal/stream_read.h), so that no row goes missing unsaid.

#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>
#include <morvane/txt_db.h>

#include "internal/stream_read.h"
#include "internal/table_insert.h"

const char TXT_DB_version[] = "TXT_DB part of " MORVANE_VERSION_TEXT;

namespace {

// The line buffer grows by this much while a line does not fit.
constexpr int kBufSize = 512;

using Row = char**;

// A block of `count` elements of `size` bytes, or null when the count is not
// positive, the size does not fit the allocator's int, or allocation fails.
void* alloc_array(long count, size_t size) {
  if (count <= 0 || static_cast<size_t>(count) > static_cast<size_t>(INT_MAX) / size) {
    return nullptr;
  }
  return MORVANE_malloc(static_cast<size_t>(count) * size);
}

// Frees one row and the fields the database owns in it.
void free_row(Row row, int num_fields) {
  char* end = row[num_fields];
  if (end == nullptr) {
    for (int n = 0; n < num_fields; n++) {
      if (row[n] != nullptr) MORVANE_free(row[n]);
    }
  } else {
    auto start = reinterpret_cast<uintptr_t>(row);
    auto stop = reinterpret_cast<uintptr_t>(end);
    for (int n = 0; n < num_fields; n++) {
      auto f = reinterpret_cast<uintptr_t>(row[n]);
      if (row[n] != nullptr && (f < start || f > stop)) MORVANE_free(row[n]);
    }
  }
  MORVANE_free(row);
}

// Splits one line (without its line feed) into a row of `num` fields.  Returns
// the row, or null with *rest pointing at the unread rest and *found holding
// the number of fields started when the count is wrong; *oom is set when the
// row cannot be allocated.
Row split_line(const char* line, size_t len, int num, int* found, const char** rest, bool* oom) {
  size_t add = (static_cast<size_t>(num) + 1) * sizeof(char*);
  char* block = nullptr;
  if (add + len + 1 <= static_cast<size_t>(INT_MAX)) {
    block = static_cast<char*>(MORVANE_malloc(add + len + 1));
  }
  if (block == nullptr) {
    *oom = true;
    return nullptr;
  }
  auto row = reinterpret_cast<Row>(block);
  char* p = block + add;
  const char* f = line;
  int n = 0;
  row[n++] = p;
  bool esc = false;
  while (*f != '\0') {
    if (*f == '\t') {
      if (esc) {
        p--;  // an escaped tab: drop the backslash, keep the tab
      } else {
        *p++ = '\0';
        f++;
        if (n >= num) break;
        row[n++] = p;
        continue;
      }
    }
    esc = *f == '\\';
    *p++ = *f++;
  }
  *p++ = '\0';
  if (n != num || *f != '\0') {
    *found = n;
    *rest = f;
    MORVANE_free(block);
    return nullptr;
  }
  row[n] = p;
  return row;
}

void free_rows(STACK* rows, int num_fields) {
  if (rows == nullptr) return;
  for (int i = sk_num(rows) - 1; i >= 0; i--) {
    free_row(reinterpret_cast<Row>(sk_value(rows, i)), num_fields);
  }
  sk_free(rows);
}

// Inserts a row into an index: false when the table could not take it
// (decided by the row's presence, never by the table's error count).
using morvane::internal::table_insert;

bool qualifies(const TXT_DB* db, int field, Row row) {
  return db->qual[field] == nullptr || db->qual[field](row) != 0;
}

// A database of `num` fields with no rows and no indexes, or null.
TXT_DB* db_new(int num) {
  auto* db = static_cast<TXT_DB*>(MORVANE_malloc(sizeof(TXT_DB)));
  if (db == nullptr) return nullptr;
  db->num_fields = num;
  db->data = sk_new_null();
  db->index = static_cast<LHASH**>(alloc_array(num, sizeof(LHASH*)));
  db->qual = static_cast<int (**)(Row)>(alloc_array(num, sizeof(*db->qual)));
  db->error = DB_ERROR_OK;
  db->arg1 = 0;
  db->arg2 = 0;
  db->arg_row = nullptr;
  if (db->data == nullptr || db->index == nullptr || db->qual == nullptr) {
    sk_free(db->data);
    MORVANE_free(db->index);
    MORVANE_free(db->qual);
    MORVANE_free(db);
    return nullptr;
  }
  for (int i = 0; i < num; i++) {
    db->index[i] = nullptr;
    db->qual[i] = nullptr;
  }
  return db;
}

}  // namespace

/* see morvane/txt_db.h */
TXT_DB* TXT_DB_read(BIO* in, int num) {
  TXT_DB* ret = nullptr;
  BUF_MEM* buf = BUF_MEM_new();
  bool oom = buf == nullptr || !BUF_MEM_grow(buf, kBufSize) || (ret = db_new(num)) == nullptr;
  bool ok = !oom;
  long ln = 0;
  int size = kBufSize;
  int offset = 0;
  while (ok) {
    if (offset != 0) {
      if (size > INT_MAX - kBufSize || !BUF_MEM_grow_clean(buf, size + kBufSize)) {
        oom = true;
        ok = false;
        break;
      }
      size += kBufSize;
    }
    // The stream is given one byte less than the room: a stream that fills
    // what it is given, terminator or not, still leaves text behind.
    buf->data[offset] = '\0';
    buf->data[size - 1] = '\0';
    const int got = morvane::internal::gets_or_fail(in, &buf->data[offset], size - offset - 1);
    const int piece = static_cast<int>(strlen(&buf->data[offset]));
    // Only the end of the input ends the file: a failed read, or a NUL that
    // would cut its line short, fails the read.
    if (got < 0 || piece < got) {
      fprintf(stderr, got < 0 ? "read error on line %ld\n" : "NUL byte on line %ld\n", ln + 1);
      ok = false;
      break;
    }
    if (piece == 0) {
      if (offset == 0) break;  // the end
      // The end, after a last line without a line feed: that line is a row.
    } else {
      offset += piece;
      if (buf->data[offset - 1] != '\n') continue;  // read on to the end of the line
      buf->data[--offset] = '\0';
    }
    ln++;
    size_t len = static_cast<size_t>(offset);
    offset = 0;
    if (buf->data[0] == '#') continue;

    int found = 0;
    const char* rest = "";
    Row row = split_line(buf->data, len, num, &found, &rest, &oom);
    if (row == nullptr) {
      if (!oom) {
        fprintf(stderr,
                "wrong number of fields on line %ld (looking for field %d, got %d, '%s' left)\n",
                ln, num, found, rest);
      }
      ok = false;
    } else if (!sk_push(ret->data, reinterpret_cast<char*>(row))) {
      free_row(row, num);
      fprintf(stderr, "failure in sk_push\n");
      ok = false;
    }
  }
  if (oom) fprintf(stderr, "MORVANE_malloc failure\n");
  BUF_MEM_free(buf);
  if (ok) return ret;
  TXT_DB_free(ret);  // with the rows already read
  return nullptr;
}

long TXT_DB_write(BIO* out, TXT_DB* db) {
  BUF_MEM* buf = BUF_MEM_new();
  if (buf == nullptr) return -1;
  long ret = -1;
  long tot = 0;
  int nn = db->num_fields;
  int n = sk_num(db->data);
  int i;
  for (i = 0; i < n; i++) {
    auto pp = reinterpret_cast<Row>(sk_value(db->data, i));
    size_t l = 0;
    for (int j = 0; j < nn; j++) {
      if (pp[j] != nullptr) l += strlen(pp[j]);
    }
    // Every byte may need an escape, and every field a separator.
    if (l > (static_cast<size_t>(INT_MAX) - static_cast<size_t>(nn)) / 2) break;
    if (!BUF_MEM_grow_clean(buf, static_cast<int>(l * 2 + static_cast<size_t>(nn)))) break;
    char* p = buf->data;
    for (int j = 0; j < nn; j++) {
      for (const char* f = pp[j]; f != nullptr && *f != '\0'; f++) {
        if (*f == '\t') *p++ = '\\';
        *p++ = *f;
      }
      *p++ = '\t';
    }
    p[-1] = '\n';
    auto len = static_cast<int>(p - buf->data);
    if (BIO_write(out, buf->data, len) != len) break;
    tot += len;
  }
  if (i == n) ret = tot;
  BUF_MEM_free(buf);
  return ret;
}

int TXT_DB_create_index(TXT_DB* db, int field, int (*qual)(Row), LHASH_HASH_FN_TYPE hash,
                        LHASH_COMP_FN_TYPE cmp) {
  if (field < 0 || field >= db->num_fields) {
    db->error = DB_ERROR_INDEX_OUT_OF_RANGE;
    return 0;
  }
  if (hash == nullptr || cmp == nullptr) {  // the index could never find a row
    db->error = DB_ERROR_NO_FUNCTION;
    return 0;
  }
  LHASH* idx = lh_new(hash, cmp);
  if (idx == nullptr) {
    db->error = DB_ERROR_MALLOC;
    return 0;
  }
  int n = sk_num(db->data);
  for (int i = 0; i < n; i++) {
    auto r = reinterpret_cast<Row>(sk_value(db->data, i));
    if (qual != nullptr && qual(r) == 0) continue;
    void* k;
    if (!table_insert(idx, r, &k)) {
      db->error = DB_ERROR_MALLOC;
      lh_free(idx);
      return 0;
    }
    if (k != nullptr) {
      db->error = DB_ERROR_INDEX_CLASH;
      db->arg1 = sk_find(db->data, static_cast<char*>(k));
      db->arg2 = i;
      lh_free(idx);
      return 0;
    }
  }
  if (db->index[field] != nullptr) lh_free(db->index[field]);
  db->index[field] = idx;
  db->qual[field] = qual;
  return 1;
}

Row TXT_DB_get_by_index(TXT_DB* db, int idx, Row value) {
  if (idx < 0 || idx >= db->num_fields) {
    db->error = DB_ERROR_INDEX_OUT_OF_RANGE;
    return nullptr;
  }
  LHASH* lh = db->index[idx];
  if (lh == nullptr) {
    db->error = DB_ERROR_NO_INDEX;
    return nullptr;
  }
  auto ret = static_cast<Row>(lh_retrieve(lh, value));
  db->error = DB_ERROR_OK;
  return ret;
}

int TXT_DB_insert(TXT_DB* db, Row row) {
  // Such a row would be written as a comment line and lost on reading.
  if (row[0] != nullptr && row[0][0] == '#') {
    db->error = DB_ERROR_COMMENT_ROW;
    return 0;
  }
  for (int i = 0; i < db->num_fields; i++) {
    if (db->index[i] == nullptr || !qualifies(db, i, row)) continue;
    auto r = static_cast<Row>(lh_retrieve(db->index[i], row));
    if (r != nullptr) {
      db->error = DB_ERROR_INDEX_CLASH;
      db->arg1 = i;
      db->arg_row = r;
      return 0;
    }
  }
  if (!sk_push(db->data, reinterpret_cast<char*>(row))) {
    db->error = DB_ERROR_MALLOC;
    return 0;
  }
  for (int i = 0; i < db->num_fields; i++) {
    if (db->index[i] == nullptr || !qualifies(db, i, row)) continue;
    if (!table_insert(db->index[i], row, nullptr)) {
      // Undo, so that a failed insert leaves the database as it was.
      for (int j = 0; j < i; j++) {
        if (db->index[j] != nullptr && qualifies(db, j, row)) lh_delete(db->index[j], row);
      }
      sk_pop(db->data);
      db->error = DB_ERROR_MALLOC;
      return 0;
    }
  }
  return 1;
}

void TXT_DB_free(TXT_DB* db) {
  if (db == nullptr) return;
  if (db->index != nullptr) {
    for (int i = db->num_fields - 1; i >= 0; i--) {
      if (db->index[i] != nullptr) lh_free(db->index[i]);
    }
    MORVANE_free(db->index);
  }
  if (db->qual != nullptr) MORVANE_free(db->qual);
  free_rows(db->data, db->num_fields);
  MORVANE_free(db);
}
