/* Morvane: the text database.
 *
 * A TXT_DB is a table of rows of `num_fields` text fields, read from and
 * written to a tab-separated text file, with optional hash indexes on single
 * fields that keep the indexed values unique.  Each index has the caller's
 * hash and comparison functions (both receive rows) and an optional
 * qualification function: a row is in the field's index only when it returns
 * nonzero for the row.
 *
 * File format: one row per line, ended by a line feed (the last line may
 * lack it); no NUL bytes; the fields separated
 * by one tab each; a line that begins with '#' is a comment; lines may be of
 * any length.  A tab inside a field is written as a backslash followed by the
 * tab, and reading turns a backslash followed by a tab back into a tab.  No
 * other escape exists: a backslash is an ordinary character and is not itself
 * escaped.  So a field that ends in a backslash, followed by a further field,
 * does not read back as written: the backslash and the separating tab read as
 * an escaped tab and the two fields join.  Stored files rely on this format,
 * so it is kept; avoid fields that end in a backslash.
 *
 * Ownership: the database owns its rows once they are read or inserted.  A row
 * is an array of num_fields + 1 char pointers: the fields, then an end marker.
 * A row read from a file is one block (the pointers, then the field texts) and
 * its end marker points just past the last field's text; a caller may replace
 * a field of such a row with a text of its own allocation (MORVANE_malloc).  A
 * row that a caller builds and inserts has a null end marker, and it and each
 * of its non-null fields are separate MORVANE_malloc blocks.  TXT_DB_free
 * frees all of them.
 *
 * Nothing here queues an error.  Index and insert failures set `error` (and
 * the clash details); the reader reports its failures on standard error.
 *
 * Null arguments: TXT_DB_free accepts null; the stream, database and rows
 * passed to the other functions must be valid. */
#ifndef MORVANE_TXT_DB_H
#define MORVANE_TXT_DB_H

#include <morvane/export.h>
#include <morvane/lhash.h>
#include <morvane/stack.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* Values of `error`. */
#define DB_ERROR_OK 0
#define DB_ERROR_MALLOC 1
#define DB_ERROR_INDEX_CLASH 2
#define DB_ERROR_INDEX_OUT_OF_RANGE 3
#define DB_ERROR_NO_INDEX 4
#define DB_ERROR_COMMENT_ROW 5 /* a first field that begins with '#' */
#define DB_ERROR_NO_FUNCTION 6 /* an index without hash or compare function */

typedef struct txt_db_st {
  int num_fields;           /* fields per row, at least 1 */
  STACK *data;              /* the rows: file order, then insertion order */
  LHASH **index;            /* per field: its index, or null */
  int (**qual)(char **row); /* per field: its qualification function, or null */
  long error;               /* DB_ERROR_*: result of the last operation that sets it */
  long arg1;                /* index clash: position of the row already indexed;
                               insert clash: the field number */
  long arg2;                /* index clash: position of the row being indexed */
  char **arg_row;           /* insert clash: the row already held */
} TXT_DB;

MORVANE_EXPORT extern const char TXT_DB_version[];

/* Reads a whole file from `in` into a new database of `num` fields with no
 * index.  Null on failure, after a complaint on standard error: an allocation
 * failure, a line with another number of fields than `num` ("wrong number
 * of fields on line %ld (looking for field %d, got %d, '%s' left)"), a line
 * holding a NUL byte ("NUL byte on line %ld"), or a read of the stream that
 * fails ("read error on line %ld"; the stream's own errors stay queued).
 * Only the end of the input ends the file, and a last line without a line
 * feed is read as a row.  A read that asks to retry ends the file when the
 * stream is at its end (an empty memory stream, or a filter chain that
 * holds nothing in front of one); a stream
 * not at its end is read again, 16 times in a row at most, and one that
 * still has nothing fails the read as a read error. */
MORVANE_EXPORT TXT_DB *TXT_DB_read(BIO *in, int num);
/* Writes every row, in order; the number of bytes written, or -1. */
MORVANE_EXPORT long TXT_DB_write(BIO *out, TXT_DB *db);
/* Builds an index over `field` from every qualifying row and replaces the
 * field's previous index and qualification function: 1, or 0 with `error` set
 * (3 for a field out of range, 6 for a null `hash` or `cmp`, 1 for an
 * allocation failure, 2 when two rows are equal under `cmp`: arg1 and arg2
 * then hold their positions).  A failed build leaves the previous index in
 * place. */
MORVANE_EXPORT int TXT_DB_create_index(TXT_DB *db, int field, int (*qual)(char **row),
                                       LHASH_HASH_FN_TYPE hash, LHASH_COMP_FN_TYPE cmp);
/* The row that the index of field `idx` holds as equal to the key row `value`,
 * or null; `error` becomes 3 for a field out of range, 4 for a field without
 * index, else 0. */
MORVANE_EXPORT char **TXT_DB_get_by_index(TXT_DB *db, int idx, char **value);
/* Adds a row, which the database then owns, and enters it into every index
 * whose qualification accepts it: 1, or 0 with nothing changed and `error`
 * set (5 when the first field begins with '#', which the file would read back
 * as a comment; 2 when an index already holds an equal row: arg1 is the field
 * number and arg_row that row; 1 for an allocation failure). */
MORVANE_EXPORT int TXT_DB_insert(TXT_DB *db, char **row);
/* Frees the indexes, every row with its fields, and the database; null is
 * ignored. */
MORVANE_EXPORT void TXT_DB_free(TXT_DB *db);

MORVANE_END_DECLS

#endif /* MORVANE_TXT_DB_H */
