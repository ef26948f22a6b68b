/* Morvane: byte streams (BIO).
 *
 * A stream is a source/sink (memory, FILE, descriptor, system log, null, ...)
 * or a filter that transforms or buffers data on its way to the next stream of
 * its chain.  Each stream type is a static method table (BIO_METHOD); the
 * generic functions below allocate the stream, dispatch every operation
 * through that table, count the bytes moved, keep the reference count (lock
 * CRYPTO_LOCK_BIO) and let an application callback watch or veto operations.
 *
 * Results of the data functions: a byte count, 0, or a negative value with
 * the stream's retry flags telling a temporary condition (BIO_should_retry)
 * from a real failure; -2 when the stream type has no function for the
 * operation ("unsupported method") or the stream is not initialised
 * ("uninitialized").  Control commands return longs whose meaning is the
 * command's.  Chains are doubly linked; BIO_free_all releases a chain.
 *
 * Formatted printing (BIO_printf, BIO_snprintf, ...) uses the library's own
 * locale-independent engine; see the comment above BIO_printf.
 *
 * Null arguments: a null stream is refused by the data, control and chain
 * functions (0, -1 or null) and accepted by BIO_free, BIO_free_all and
 * BIO_vfree; data buffers must be valid for the lengths given; BIO_new_file
 * refuses a null name or mode. */
#ifndef MORVANE_BIO_H
#define MORVANE_BIO_H

#include <stdarg.h>
#include <stddef.h>
#include <stdio.h>

#include <morvane/crypto.h>
#include <morvane/export.h>
#include <morvane/types.h>

MORVANE_BEGIN_DECLS

/* ---- type codes --------------------------------------------------------- */
/* Class bits, or-ed with an index in the low byte. */
#define BIO_TYPE_DESCRIPTOR 0x0100 /* the stream keeps a descriptor in num */
#define BIO_TYPE_FILTER 0x0200
#define BIO_TYPE_SOURCE_SINK 0x0400

#define BIO_TYPE_NONE 0
#define BIO_TYPE_MEM (1 | BIO_TYPE_SOURCE_SINK) /* also the system-log stream */
#define BIO_TYPE_FILE (2 | BIO_TYPE_SOURCE_SINK)
#define BIO_TYPE_FD (4 | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR)
#define BIO_TYPE_SOCKET (5 | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR)
#define BIO_TYPE_NULL (6 | BIO_TYPE_SOURCE_SINK)
#define BIO_TYPE_MD (8 | BIO_TYPE_FILTER)
#define BIO_TYPE_BUFFER (9 | BIO_TYPE_FILTER)
#define BIO_TYPE_CIPHER (10 | BIO_TYPE_FILTER) /* also the reliable filter */
#define BIO_TYPE_BASE64 (11 | BIO_TYPE_FILTER)
#define BIO_TYPE_CONNECT (12 | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR)
#define BIO_TYPE_ACCEPT (13 | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR)
#define BIO_TYPE_NBIO_TEST (16 | BIO_TYPE_FILTER)
#define BIO_TYPE_NULL_FILTER (17 | BIO_TYPE_FILTER)
#define BIO_TYPE_BIO (19 | BIO_TYPE_SOURCE_SINK)
#define BIO_TYPE_LINEBUFFER (20 | BIO_TYPE_FILTER)
#define BIO_TYPE_DGRAM (21 | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR)

/* ---- flags -------------------------------------------------------------- */
#define BIO_FLAGS_READ 0x01
#define BIO_FLAGS_WRITE 0x02
#define BIO_FLAGS_IO_SPECIAL 0x04
#define BIO_FLAGS_RWS (BIO_FLAGS_READ | BIO_FLAGS_WRITE | BIO_FLAGS_IO_SPECIAL)
#define BIO_FLAGS_SHOULD_RETRY 0x08
#define BIO_FLAGS_BASE64_NO_NL 0x100 /* base64 filter: no line breaks */
#define BIO_FLAGS_MEM_RDONLY 0x200  /* memory stream over caller data */

/* Retry reasons, meaningful with BIO_FLAGS_IO_SPECIAL. */
#define BIO_RR_CONNECT 0x02
#define BIO_RR_ACCEPT 0x03

/* Close flags. */
#define BIO_NOCLOSE 0x00
#define BIO_CLOSE 0x01

/* File-open mode bits of BIO_C_SET_FILENAME (bit 0x01 is BIO_CLOSE). */
#define BIO_FP_READ 0x02
#define BIO_FP_WRITE 0x04
#define BIO_FP_APPEND 0x08

/* ---- callback operations ------------------------------------------------ */
#define BIO_CB_FREE 0x01
#define BIO_CB_READ 0x02
#define BIO_CB_WRITE 0x03
#define BIO_CB_PUTS 0x04
#define BIO_CB_GETS 0x05
#define BIO_CB_CTRL 0x06
#define BIO_CB_RETURN 0x80 /* or-ed in for the call after the operation */
#define BIO_CB_return(a) ((a) | BIO_CB_RETURN)
#define BIO_cb_pre(a) (!((a)&BIO_CB_RETURN))
#define BIO_cb_post(a) ((a)&BIO_CB_RETURN)

/* ---- generic control commands ------------------------------------------- */
#define BIO_CTRL_RESET 1
#define BIO_CTRL_EOF 2
#define BIO_CTRL_INFO 3
#define BIO_CTRL_SET 4
#define BIO_CTRL_GET 5
#define BIO_CTRL_PUSH 6
#define BIO_CTRL_POP 7
#define BIO_CTRL_GET_CLOSE 8
#define BIO_CTRL_SET_CLOSE 9
#define BIO_CTRL_PENDING 10
#define BIO_CTRL_FLUSH 11
#define BIO_CTRL_DUP 12
#define BIO_CTRL_WPENDING 13
#define BIO_CTRL_SET_CALLBACK 14
#define BIO_CTRL_GET_CALLBACK 15

/* Datagram stream commands. */
#define BIO_CTRL_DGRAM_CONNECT 31
#define BIO_CTRL_DGRAM_SET_CONNECTED 32
#define BIO_CTRL_DGRAM_SET_RECV_TIMEOUT 33
#define BIO_CTRL_DGRAM_GET_RECV_TIMEOUT 34
#define BIO_CTRL_DGRAM_SET_SEND_TIMEOUT 35
#define BIO_CTRL_DGRAM_GET_SEND_TIMEOUT 36
#define BIO_CTRL_DGRAM_GET_RECV_TIMER_EXP 37
#define BIO_CTRL_DGRAM_GET_SEND_TIMER_EXP 38
#define BIO_CTRL_DGRAM_MTU_DISCOVER 39
#define BIO_CTRL_DGRAM_QUERY_MTU 40
#define BIO_CTRL_DGRAM_GET_MTU 41
#define BIO_CTRL_DGRAM_SET_MTU 42
#define BIO_CTRL_DGRAM_MTU_EXCEEDED 43
#define BIO_CTRL_DGRAM_SET_PEER 44
#define BIO_CTRL_DGRAM_SET_NEXT_TIMEOUT 45
#define BIO_CTRL_DGRAM_GET_PEER 46

/* Type-specific commands. */
#define BIO_C_SET_CONNECT 100
#define BIO_C_DO_STATE_MACHINE 101
#define BIO_C_SET_NBIO 102
#define BIO_C_SET_FD 104
#define BIO_C_GET_FD 105
#define BIO_C_SET_FILE_PTR 106
#define BIO_C_GET_FILE_PTR 107
#define BIO_C_SET_FILENAME 108
#define BIO_C_SET_MD 111
#define BIO_C_GET_MD 112
#define BIO_C_GET_CIPHER_STATUS 113
#define BIO_C_SET_BUF_MEM 114
#define BIO_C_GET_BUF_MEM_PTR 115
#define BIO_C_GET_BUFF_NUM_LINES 116
#define BIO_C_SET_BUFF_SIZE 117
#define BIO_C_SET_ACCEPT 118
#define BIO_C_GET_MD_CTX 120
#define BIO_C_SET_BUFF_READ_DATA 122
#define BIO_C_GET_CONNECT 123
#define BIO_C_GET_ACCEPT 124
#define BIO_C_FILE_SEEK 128
#define BIO_C_GET_CIPHER_CTX 129
#define BIO_C_SET_BUF_MEM_EOF_RETURN 130
#define BIO_C_SET_BIND_MODE 131
#define BIO_C_GET_BIND_MODE 132
#define BIO_C_FILE_TELL 133
#define BIO_C_SET_WRITE_BUF_SIZE 136
#define BIO_C_GET_WRITE_BUF_SIZE 137
#define BIO_C_MAKE_BIO_PAIR 138
#define BIO_C_DESTROY_BIO_PAIR 139
#define BIO_C_GET_WRITE_GUARANTEE 140
#define BIO_C_GET_READ_REQUEST 141
#define BIO_C_SHUTDOWN_WR 142
#define BIO_C_NREAD0 143
#define BIO_C_NREAD 144
#define BIO_C_NWRITE0 145
#define BIO_C_NWRITE 146
#define BIO_C_RESET_READ_REQUEST 147
#define BIO_C_SET_MD_CTX 148

/* Connect stream states. */
#define BIO_CONN_S_BEFORE 1
#define BIO_CONN_S_GET_IP 2
#define BIO_CONN_S_GET_PORT 3
#define BIO_CONN_S_CREATE_SOCKET 4
#define BIO_CONN_S_CONNECT 5
#define BIO_CONN_S_OK 6
#define BIO_CONN_S_BLOCKED_CONNECT 7
#define BIO_CONN_S_NBIO 8

/* Bind modes of the accept stream. */
#define BIO_BIND_NORMAL 0
#define BIO_BIND_REUSEADDR_IF_UNUSED 1
#define BIO_BIND_REUSEADDR 2

/* ---- the stream and its method table ------------------------------------ */
/* The shape of a function-pointer argument of BIO_callback_ctrl. */
typedef void bio_info_cb(BIO *b, int oper, const char *argp, int argi, long argl, long ret);

struct bio_method_st {
  int type;
  const char *name;
  int (*bwrite)(BIO *b, const char *data, int len);
  int (*bread)(BIO *b, char *buf, int len);
  int (*bputs)(BIO *b, const char *str);
  int (*bgets)(BIO *b, char *buf, int size);
  long (*ctrl)(BIO *b, int cmd, long num, void *ptr);
  int (*create)(BIO *b);
  int (*destroy)(BIO *b);
  long (*callback_ctrl)(BIO *b, int cmd, bio_info_cb *fp);
};

struct bio_st {
  BIO_METHOD *method;
  /* Watcher of every operation; see BIO_set_callback. */
  long (*callback)(BIO *b, int oper, const char *argp, int argi, long argl, long ret);
  char *cb_arg;
  int init;
  int shutdown;
  int flags; /* retry flags (low 4 bits) and type-specific bits */
  int retry_reason;
  int num;
  void *ptr;
  BIO *next_bio;
  BIO *prev_bio;
  int references;
  unsigned long num_read;
  unsigned long num_write;
  CRYPTO_EX_DATA ex_data;
};

/* ---- life cycle --------------------------------------------------------- */
/* A new stream of that type (create run, one reference), or null; the
 * library's filters queue "malloc failure" when their state cannot be
 * allocated. */
MORVANE_EXPORT BIO *BIO_new(BIO_METHOD *type);
/* Initialises caller memory as a stream of that type; 1 or 0. */
MORVANE_EXPORT int BIO_set(BIO *bio, BIO_METHOD *type);
/* Drops one reference; at the last one runs the free callback, frees the
 * extra data, the type's state and the record.  1; 0 for null; or the free
 * callback's cancelling result. */
MORVANE_EXPORT int BIO_free(BIO *a);
MORVANE_EXPORT void BIO_vfree(BIO *a);
/* Frees a chain from `a` on, stopping behind a stream still used elsewhere. */
MORVANE_EXPORT void BIO_free_all(BIO *a);

/* ---- data --------------------------------------------------------------- */
MORVANE_EXPORT int BIO_read(BIO *b, void *data, int len);
MORVANE_EXPORT int BIO_write(BIO *b, const void *data, int len);
MORVANE_EXPORT int BIO_puts(BIO *b, const char *buf);
/* Reads a line of at most size - 1 bytes and a terminating zero into buf and
 * returns the number of bytes read, zero bytes within the line counted (so
 * the length is the result, not strlen(buf)); 0 at the end of the data.  A
 * size of 0 or less reads and stores nothing and gives 0 on every type, also
 * one without a gets function (which gives -2 for any other size); an
 * uninitialised stream gives -2 as for every data call.  A FILE stream whose
 * read fails before a byte is read gives -1 with the system error (fread)
 * queued, as BIO_read does. */
MORVANE_EXPORT int BIO_gets(BIO *b, char *buf, int size);
/* Writes max(0, min(indent, max)) spaces; 1, or 0 when a write fails. */
MORVANE_EXPORT int BIO_indent(BIO *b, int indent, int max);

/* ---- control ------------------------------------------------------------ */
MORVANE_EXPORT long BIO_ctrl(BIO *b, int cmd, long larg, void *parg);
MORVANE_EXPORT long BIO_callback_ctrl(BIO *b, int cmd, bio_info_cb *fp);
/* BIO_ctrl with parg pointing to an int holding `iarg`. */
MORVANE_EXPORT long BIO_int_ctrl(BIO *b, int cmd, long larg, int iarg);
/* BIO_ctrl with parg pointing to a pointer; that pointer when the result is
 * positive, else null. */
MORVANE_EXPORT char *BIO_ptr_ctrl(BIO *b, int cmd, long larg);
MORVANE_EXPORT size_t BIO_ctrl_pending(BIO *b);
MORVANE_EXPORT size_t BIO_ctrl_wpending(BIO *b);

/* ---- chains ------------------------------------------------------------- */
/* Appends `append` behind the last stream of `b`; returns `b` (or `append`
 * when `b` is null).  The head `b` receives BIO_CTRL_PUSH. */
MORVANE_EXPORT BIO *BIO_push(BIO *b, BIO *append);
/* Unlinks `b` (after sending it BIO_CTRL_POP); returns the stream behind it. */
MORVANE_EXPORT BIO *BIO_pop(BIO *b);
MORVANE_EXPORT BIO *BIO_next(BIO *b);
/* First stream from `b` on of that type; a type with a zero low byte is a
 * class mask matched by any shared bit. */
MORVANE_EXPORT BIO *BIO_find_type(BIO *b, int bio_type);
/* A copy of the chain (types' state copied through BIO_CTRL_DUP), or null. */
MORVANE_EXPORT BIO *BIO_dup_chain(BIO *in);
/* The deepest stream of the run of retrying streams from `bio`, or `bio`;
 * stores its retry reason at `reason` when that is not null. */
MORVANE_EXPORT BIO *BIO_get_retry_BIO(BIO *bio, int *reason);
/* Or-s the next stream's retry flags into `b` and copies its retry reason;
 * nothing for a null stream or one without a next stream. */
MORVANE_EXPORT void BIO_copy_next_retry(BIO *b);

/* ---- accessors (no checks: the stream must not be null) ------------------ */
MORVANE_EXPORT void BIO_set_flags(BIO *b, int flags);
MORVANE_EXPORT void BIO_clear_flags(BIO *b, int flags);
MORVANE_EXPORT int BIO_test_flags(const BIO *b, int flags);
MORVANE_EXPORT long (*BIO_get_callback(const BIO *b))(BIO *, int, const char *, int, long,
                                                      long);
MORVANE_EXPORT void BIO_set_callback(BIO *b, long (*callback)(BIO *, int, const char *, int,
                                                              long, long));
MORVANE_EXPORT char *BIO_get_callback_arg(const BIO *b);
MORVANE_EXPORT void BIO_set_callback_arg(BIO *b, char *arg);
MORVANE_EXPORT const char *BIO_method_name(const BIO *b);
MORVANE_EXPORT int BIO_method_type(const BIO *b);
MORVANE_EXPORT int BIO_get_retry_reason(BIO *bio);
/* num_read / num_write, or 0 for a null stream. */
MORVANE_EXPORT unsigned long BIO_number_read(BIO *bio);
MORVANE_EXPORT unsigned long BIO_number_written(BIO *bio);

/* Application data slots of extra-data class CRYPTO_EX_INDEX_BIO. */
MORVANE_EXPORT int BIO_get_ex_new_index(long argl, void *argp, CRYPTO_EX_new *new_func,
                                        CRYPTO_EX_dup *dup_func, CRYPTO_EX_free *free_func);
MORVANE_EXPORT int BIO_set_ex_data(BIO *bio, int idx, void *data);
MORVANE_EXPORT void *BIO_get_ex_data(BIO *bio, int idx);

/* A ready-made callback that prints one line per call to the stream held in
 * cb_arg (standard error when that is null); it never changes a result. */
MORVANE_EXPORT long BIO_debug_callback(BIO *bio, int cmd, const char *argp, int argi, long argl,
                                       long ret);

/* ---- retry tests and common commands ------------------------------------ */
#define BIO_get_flags(b) BIO_test_flags((b), ~(0x0))
#define BIO_set_retry_special(b) BIO_set_flags((b), (BIO_FLAGS_IO_SPECIAL | BIO_FLAGS_SHOULD_RETRY))
#define BIO_set_retry_read(b) BIO_set_flags((b), (BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY))
#define BIO_set_retry_write(b) BIO_set_flags((b), (BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY))
#define BIO_clear_retry_flags(b) BIO_clear_flags((b), (BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY))
#define BIO_get_retry_flags(b) BIO_test_flags((b), (BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY))
#define BIO_should_read(a) BIO_test_flags((a), BIO_FLAGS_READ)
#define BIO_should_write(a) BIO_test_flags((a), BIO_FLAGS_WRITE)
#define BIO_should_io_special(a) BIO_test_flags((a), BIO_FLAGS_IO_SPECIAL)
#define BIO_retry_type(a) BIO_test_flags((a), BIO_FLAGS_RWS)
#define BIO_should_retry(a) BIO_test_flags((a), BIO_FLAGS_SHOULD_RETRY)

#define BIO_reset(b) BIO_ctrl((b), BIO_CTRL_RESET, 0, NULL)
#define BIO_eof(b) BIO_ctrl((b), BIO_CTRL_EOF, 0, NULL)
#define BIO_set_close(b, c) BIO_ctrl((b), BIO_CTRL_SET_CLOSE, (c), NULL)
#define BIO_get_close(b) BIO_ctrl((b), BIO_CTRL_GET_CLOSE, 0, NULL)
#define BIO_pending(b) BIO_ctrl((b), BIO_CTRL_PENDING, 0, NULL)
#define BIO_wpending(b) BIO_ctrl((b), BIO_CTRL_WPENDING, 0, NULL)
#define BIO_flush(b) BIO_ctrl((b), BIO_CTRL_FLUSH, 0, NULL)
#define BIO_get_info_callback(b, cbp) BIO_ctrl((b), BIO_CTRL_GET_CALLBACK, 0, (cbp))
#define BIO_set_info_callback(b, cb) BIO_callback_ctrl((b), BIO_CTRL_SET_CALLBACK, (cb))
#define BIO_seek(b, ofs) BIO_ctrl((b), BIO_C_FILE_SEEK, (ofs), NULL)
#define BIO_tell(b) BIO_ctrl((b), BIO_C_FILE_TELL, 0, NULL)

/* ---- memory and null streams -------------------------------------------- */
/* A byte queue: writes append, reads take from the front; reading or
 * writing n bytes costs O(n) whatever the size of the pieces.  An empty
 * stream reads as -1 with retry read set (more may be written), or as the
 * value set with BIO_set_mem_eof_return.  A stream holds at most
 * 2,147,483,644 bytes (the largest BUF_MEM storage, INT_MAX rounded down to
 * a multiple of 4): a write that would take it past that fails (-1, nothing
 * written, the bytes held kept) with (ERR_LIB_BUF, BUF_F_BUF_MEM_GROW_CLEAN,
 * BUF_R_SIZE_LIMIT_EXCEEDED).  BIO_get_mem_data gives the unread bytes in
 * place; BIO_get_mem_ptr gives the stream's BUF_MEM with the unread bytes
 * moved to the start of its storage (`data`, `length`), and both stay valid
 * until the stream is next used.  Under BIO_NOCLOSE a freed stream, or one
 * given another buffer, leaves its BUF_MEM holding just the unread bytes. */
MORVANE_EXPORT BIO_METHOD *BIO_s_mem(void);
/* A read-only memory stream over `len` bytes at `buf` (-1: strlen(buf)); the
 * bytes are read in place, never written or freed; the end reads as 0.  Null
 * with "null parameter" for a null buf, with "invalid argument" for any other
 * negative len. */
MORVANE_EXPORT BIO *BIO_new_mem_buf(void *buf, int len);
/* Discards writes (a write of len bytes gives len; a negative len is refused
 * with -1 and "invalid argument"), reads as end of data. */
MORVANE_EXPORT BIO_METHOD *BIO_s_null(void);

#define BIO_get_mem_data(b, pp) BIO_ctrl((b), BIO_CTRL_INFO, 0, (char *)(pp))
#define BIO_set_mem_buf(b, bm, c) BIO_ctrl((b), BIO_C_SET_BUF_MEM, (c), (char *)(bm))
#define BIO_get_mem_ptr(b, pp) BIO_ctrl((b), BIO_C_GET_BUF_MEM_PTR, 0, (char *)(pp))
#define BIO_set_mem_eof_return(b, v) BIO_ctrl((b), BIO_C_SET_BUF_MEM_EOF_RETURN, (v), NULL)

/* ---- FILE, descriptor and system-log streams ---------------------------- */
MORVANE_EXPORT BIO_METHOD *BIO_s_file(void);
/* fopen(filename, mode) wrapped in a FILE stream that closes it; null (with
 * the system error and the file name on the queue) on failure, and with
 * "passed a null parameter" for a null filename or mode. */
MORVANE_EXPORT BIO *BIO_new_file(const char *filename, const char *mode);
/* A FILE stream over `stream`; BIO_CLOSE in close_flag closes it on free. */
MORVANE_EXPORT BIO *BIO_new_fp(FILE *stream, int close_flag);
MORVANE_EXPORT BIO_METHOD *BIO_s_fd(void);
MORVANE_EXPORT BIO *BIO_new_fd(int fd, int close_flag);
/* For a result of 0 or -1: whether errno marks a temporary condition. */
MORVANE_EXPORT int BIO_fd_should_retry(int i);
/* 1 for EINTR, EAGAIN/EWOULDBLOCK, EINPROGRESS, EALREADY, ENOTCONN, EPROTO. */
MORVANE_EXPORT int BIO_fd_non_fatal_error(int error);
/* Write-only: each write is one message to the system log, its priority
 * chosen by a prefix such as "WARNING " or "ERR " (LOG_ERR without one). */
MORVANE_EXPORT BIO_METHOD *BIO_s_log(void);

#define BIO_set_fp(b, fp, c) BIO_ctrl((b), BIO_C_SET_FILE_PTR, (c), (char *)(fp))
#define BIO_get_fp(b, fpp) BIO_ctrl((b), BIO_C_GET_FILE_PTR, 0, (char *)(fpp))
#define BIO_read_filename(b, name) \
  BIO_ctrl((b), BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_READ, (char *)(name))
#define BIO_write_filename(b, name) \
  BIO_ctrl((b), BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_WRITE, (name))
#define BIO_append_filename(b, name) \
  BIO_ctrl((b), BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_APPEND, (name))
#define BIO_rw_filename(b, name) \
  BIO_ctrl((b), BIO_C_SET_FILENAME, BIO_CLOSE | BIO_FP_READ | BIO_FP_WRITE, (name))
#define BIO_set_fd(b, fd, c) BIO_int_ctrl((b), BIO_C_SET_FD, (c), (fd))
#define BIO_get_fd(b, c) BIO_ctrl((b), BIO_C_GET_FD, 0, (char *)(c))

/* ---- formatted printing ------------------------------------------------- */
/* The engine understands the flags "-+ #0", a width and a precision (also as
 * '*' arguments), the size modifiers h, l, ll, q and L, and the conversions
 * d i o u x X c s p n f and %; e E g G take a double and print nothing.
 * Integers are formatted up to 64 bits (l, ll and q), %p prints the whole
 * address with "0x", a null %s prints "<NULL>"; %f prints at most 9 fraction
 * digits (6 by default), any finite value in full, and "inf" or "nan" for
 * the others; %Lf takes a long double.  The output does not depend on the
 * locale.
 *
 * BIO_printf/BIO_vprintf format into a growable buffer (no heap below 2048
 * characters) and write the text with one BIO_write, whose result they
 * return (-1, writing nothing, when the buffer cannot grow; -1 also when the
 * stream took only part of the text, whose rest is then lost).
 * BIO_snprintf/BIO_vsnprintf write at most n bytes including the NUL and
 * return the text length, or -1 when it did not fit (the text is then cut to
 * n-1 characters) or n is 0. */
MORVANE_EXPORT int BIO_printf(BIO *bio, const char *format, ...)
    __attribute__((format(printf, 2, 3)));
MORVANE_EXPORT int BIO_vprintf(BIO *bio, const char *format, va_list args)
    __attribute__((format(printf, 2, 0)));
MORVANE_EXPORT int BIO_snprintf(char *buf, size_t n, const char *format, ...)
    __attribute__((format(printf, 3, 4)));
MORVANE_EXPORT int BIO_vsnprintf(char *buf, size_t n, const char *format, va_list args)
    __attribute__((format(printf, 3, 0)));

/* ---- hex dump ----------------------------------------------------------- */
/* A hexadecimal and character dump of `len` bytes at `s`, one line per row:
 * the indentation, the row's offset ("%04x - "), the bytes in hexadecimal (a
 * hyphen after the eighth), two spaces and the bytes as characters ('.' for
 * anything outside 0x20-0x7e), then a newline.  A row holds 16 bytes up to
 * indent 6 and one fewer for every further four columns, at least one;
 * `indent` is taken within 0..128.  A trailing run of spaces and NULs is not
 * dumped: one last line "<offset> - <SPACES/NULS>" gives the length.  Each
 * finished line goes to the sink (the callback `cb` with `u`, BIO_write on
 * `bp`, or one fwrite item on `fp`); the result is the sum of the sink's
 * results: bytes written for a stream, lines written for a FILE.  Nothing
 * for a `len` of 0 or less. */
MORVANE_EXPORT int BIO_dump_cb(int (*cb)(const void *data, size_t len, void *u), void *u,
                               const char *s, int len);
MORVANE_EXPORT int BIO_dump_indent_cb(int (*cb)(const void *data, size_t len, void *u), void *u,
                                      const char *s, int len, int indent);
MORVANE_EXPORT int BIO_dump(BIO *bp, const char *s, int len);
MORVANE_EXPORT int BIO_dump_indent(BIO *bp, const char *s, int len, int indent);
MORVANE_EXPORT int BIO_dump_fp(FILE *fp, const char *s, int len);
MORVANE_EXPORT int BIO_dump_indent_fp(FILE *fp, const char *s, int len, int indent);

/* ---- buffering filters -------------------------------------------------- */
/* The buffer filter keeps an input and an output buffer (4096 bytes each to
 * begin with) in front of the next stream: small reads are served from one
 * large read, small writes collected until the output buffer is full or
 * flushed; transfers larger than a buffer go straight through.  BIO_gets
 * reads lines out of the input buffer.  Unflushed output is lost when the
 * filter is freed.  BIO_eof is 0 while either buffer holds bytes, else the
 * next stream's answer.  Commands: BIO_CTRL_FLUSH sends the waiting output;
 * BIO_CTRL_PENDING / BIO_CTRL_WPENDING count buffered input / output (else
 * the next stream's answer); BIO_CTRL_INFO the waiting output;
 * BIO_CTRL_RESET drops both buffers' contents; BIO_C_GET_BUFF_NUM_LINES
 * counts newlines in the unread input; BIO_C_SET_BUFF_SIZE replaces one or
 * both buffers by larger ones (sizes of 4096 or less change nothing; the
 * replaced buffer's content is dropped); BIO_C_SET_BUFF_READ_DATA makes the
 * given bytes the unread input.  Other commands go to the next stream. */
MORVANE_EXPORT BIO_METHOD *BIO_f_buffer(void);
/* The line-buffer filter holds output (10240 bytes to begin with) until a
 * line is complete, then passes it on joined to what it held, so the next
 * stream gets one write per line; a tail longer than the buffer goes straight
 * through.  Reads and gets pass through with the next stream's retry flags
 * (a 0 with a retry asked for becomes -1).  BIO_CTRL_FLUSH sends the held
 * output; BIO_C_SET_BUFF_SIZE grows the buffer, keeping its content;
 * BIO_eof is 0 while output is held, else the next stream's answer. */
MORVANE_EXPORT BIO_METHOD *BIO_f_linebuffer(void);

/* The buffer filter's state (the stream's ptr). */
typedef struct bio_f_buffer_ctx_struct {
  int ibuf_size; /* capacities */
  int obuf_size;
  char *ibuf; /* unread input: ibuf[ibuf_off .. ibuf_off + ibuf_len) */
  int ibuf_len;
  int ibuf_off;
  char *obuf; /* waiting output: obuf[obuf_off .. obuf_off + obuf_len) */
  int obuf_len;
  int obuf_off;
} BIO_F_BUFFER_CTX;

#define BIO_get_buffer_num_lines(b) BIO_ctrl((b), BIO_C_GET_BUFF_NUM_LINES, 0, NULL)
#define BIO_set_buffer_size(b, size) BIO_ctrl((b), BIO_C_SET_BUFF_SIZE, (size), NULL)
#define BIO_set_read_buffer_size(b, size) BIO_int_ctrl((b), BIO_C_SET_BUFF_SIZE, (size), 0)
#define BIO_set_write_buffer_size(b, size) BIO_int_ctrl((b), BIO_C_SET_BUFF_SIZE, (size), 1)
#define BIO_set_buffer_read_data(b, buf, num) \
  BIO_ctrl((b), BIO_C_SET_BUFF_READ_DATA, (num), (void *)(buf))

/* ---- test filters ------------------------------------------------------- */
/* The NULL filter passes every operation to the next stream unchanged (its
 * BIO_CTRL_DUP fails): reads, writes, gets and puts take over the next
 * stream's retry flags (a 0 with a retry asked for becomes -1, as every
 * filter gives).  The non-blocking test filter does the same except
 * that reads and writes move random pieces of 1 to 7 bytes, and about one
 * call in eight returns -1 with retry read or retry write set without
 * touching the next stream; after the next stream refused a write, the same
 * length is offered first again. */
MORVANE_EXPORT BIO_METHOD *BIO_f_null(void);
MORVANE_EXPORT BIO_METHOD *BIO_f_nbio_test(void);

/* ======================================================================== */
/* Network streams: socket helpers, socket, connect, accept and datagram     */
/* streams, and stream pairs.                                               */
/* ======================================================================== */

/* ---- socket helpers (IPv4, TCP) ----------------------------------------- */
/* Every failure is queued under the BIO library (32) or the system library
 * (2, with errno as reason), with the offending text as error data where one
 * is named below.  Addresses are four bytes in network order (most
 * significant first); ports are in host order. */
struct hostent;

/* A complete dotted quad is taken as it is; any other text is looked up by
 * name (under lock CRYPTO_LOCK_GETHOSTBYNAME).  1 and ip[0..3] filled, or 0
 * with "invalid ip address" (an empty part before a dot), "bad hostname
 * lookup" or "gethostbyname addr is not af inet", and the data "host=<str>". */
MORVANE_EXPORT int BIO_get_host_ip(const char *str, unsigned char *ip);
/* A leading number is the port (its low 16 bits; "0" gives 0, which a
 * listening socket takes as "any free port"); otherwise the text is a
 * service name, looked up in the platform's database (under lock
 * CRYPTO_LOCK_GETSERVBYNAME) and then among "http", "telnet", "socks",
 * "https", "ssl", "ftp" and "gopher".  1, or 0 with "no port defined" (null
 * text) or "unknown service" and the data "service='<str>'". */
MORVANE_EXPORT int BIO_get_port(const char *str, unsigned short *port_ptr);
/* The platform's gethostbyname(name), unchanged. */
MORVANE_EXPORT struct hostent *BIO_gethostbyname(const char *name);
/* The socket's pending error (SO_ERROR, which reading clears), 0 for none;
 * 1 when it cannot be read. */
MORVANE_EXPORT int BIO_sock_error(int sock);
/* Nothing to set up or tear down on this platform; BIO_sock_init returns 1. */
MORVANE_EXPORT int BIO_sock_init(void);
MORVANE_EXPORT void BIO_sock_cleanup(void);
/* ioctl(fd, type, arg); a negative result also queues the system error. */
MORVANE_EXPORT int BIO_socket_ioctl(int fd, long type, void *arg);
/* A listening TCP socket (backlog 128) for "port", "host:port" or "*:port"
 * (the port after the last colon, the host before the first, a '/' ends the
 * text; "*" or no host: every address).  bind_mode is one of BIO_BIND_*:
 * BIO_BIND_REUSEADDR_IF_UNUSED takes the address over when it is in use but
 * nobody answers a probe connection there.  Port 0 listens on a free port
 * the system picks (getsockname on the descriptor tells which).  The
 * descriptor, or -1 with an error (a port text that is no number and no
 * known service: BIO_get_port's "unknown service", else the failing call's
 * and the data "port='<host>'"); a failure leaves no socket open. */
MORVANE_EXPORT int BIO_get_accept_socket(const char *host, int bind_mode);
/* Accepts one connection on a listening socket: its descriptor; -2 when a
 * non-blocking accept found nothing (no error queued); -1 with an error.
 * When addr is not null the peer is written there as "%d.%d.%d.%d:%d" (24
 * bytes, allocated when *addr is null; the caller frees it). */
MORVANE_EXPORT int BIO_accept(int sock, char **addr);
/* Sets TCP_NODELAY to `on`: 1, or 0 when the option cannot be set. */
MORVANE_EXPORT int BIO_set_tcp_ndelay(int s, int on);
/* Non-blocking mode on (mode non-zero) or off: 1, or 0 on failure. */
MORVANE_EXPORT int BIO_socket_nbio(int s, int mode);
/* For a result of 0 or -1 from a socket call: whether errno marks a
 * temporary condition; 0 for any other result. */
MORVANE_EXPORT int BIO_sock_should_retry(int i);
/* 1 for EINTR, EAGAIN/EWOULDBLOCK, EINPROGRESS, EALREADY, ENOTCONN, EPROTO. */
MORVANE_EXPORT int BIO_sock_non_fatal_error(int error);

/* ---- socket, connect and accept streams ---------------------------------- */
/* The socket stream reads and writes an open socket (num holds it). */
MORVANE_EXPORT BIO_METHOD *BIO_s_socket(void);
/* A socket stream over fd; BIO_CLOSE in close_flag shuts it down and closes
 * it when the stream is freed. */
MORVANE_EXPORT BIO *BIO_new_socket(int fd, int close_flag);

/* The connect stream opens a TCP connection to its host and port through a
 * state machine (BIO_CONN_S_*) run by BIO_do_connect or the first read or
 * write: 1 connected; -1 with retry special and retry reason BIO_RR_CONNECT
 * while a non-blocking connect is in progress (run it again later); 0 after a
 * failed non-blocking connect; -1 with errors queued otherwise.  A failed
 * connection attempt closes its socket; the next run tries again.  The host
 * text may be "host:port" (a '/' and what follows are ignored).  An info
 * callback of the shape int cb(const BIO *b, int state, int ret), installed
 * with BIO_set_info_callback (converted to bio_info_cb*), sees every step:
 * its result replaces the current one, and 0 stops the machine. */
typedef struct bio_connect_st BIO_CONNECT;
MORVANE_EXPORT BIO_METHOD *BIO_s_connect(void);
/* A connect stream to `host_port`; null on failure. */
MORVANE_EXPORT BIO *BIO_new_connect(const char *host_port);
/* The connect stream's record (state BIO_CONN_S_BEFORE, nothing set). */
MORVANE_EXPORT BIO_CONNECT *BIO_CONNECT_new(void);
MORVANE_EXPORT void BIO_CONNECT_free(BIO_CONNECT *a);

/* The accept stream listens on its address ("port" or "host:port", as for
 * BIO_get_accept_socket).  Its first run (BIO_do_accept, or the first read or
 * write) only makes the listening socket; the next run waits for a
 * connection (or, non-blocking, returns -1 with retry special and retry
 * reason BIO_RR_ACCEPT) and pushes it after the accept stream as a socket
 * stream, behind a copy of the chain set with BIO_set_accept_bios when there
 * is one (a chain that cannot be copied, such as one holding the NULL
 * filter, closes the connection: 0 with "unable to copy chain" and the data
 * "peer=<address>").  Reads and writes go to that connection; BIO_pop it off
 * (the caller then owns it) and the next run accepts the next connection.
 * With port 0 the stream listens on a free port: after the first run,
 * getsockname on BIO_get_fd's descriptor tells which. */
typedef struct bio_accept_st BIO_ACCEPT;
MORVANE_EXPORT BIO_METHOD *BIO_s_accept(void);
/* An accept stream on `host_port`; null on failure. */
MORVANE_EXPORT BIO *BIO_new_accept(const char *host_port);
/* The accept stream's record (no listening socket, bind mode 0). */
MORVANE_EXPORT BIO_ACCEPT *BIO_ACCEPT_new(void);
MORVANE_EXPORT void BIO_ACCEPT_free(BIO_ACCEPT *a);

#define BIO_set_conn_hostname(b, name) BIO_ctrl((b), BIO_C_SET_CONNECT, 0, (char *)(name))
#define BIO_set_conn_port(b, port) BIO_ctrl((b), BIO_C_SET_CONNECT, 1, (char *)(port))
/* ip: four bytes; port: an int*. */
#define BIO_set_conn_ip(b, ip) BIO_ctrl((b), BIO_C_SET_CONNECT, 2, (char *)(ip))
#define BIO_set_conn_int_port(b, port) BIO_ctrl((b), BIO_C_SET_CONNECT, 3, (char *)(port))
#define BIO_get_conn_hostname(b) BIO_ptr_ctrl((b), BIO_C_GET_CONNECT, 0)
#define BIO_get_conn_port(b) BIO_ptr_ctrl((b), BIO_C_GET_CONNECT, 1)
#define BIO_get_conn_ip(b) BIO_ptr_ctrl((b), BIO_C_GET_CONNECT, 2)
/* Non-blocking connects (connect stream) or accepted sockets (accept stream). */
#define BIO_set_nbio(b, n) BIO_ctrl((b), BIO_C_SET_NBIO, (n), NULL)
#define BIO_do_connect(b) BIO_ctrl((b), BIO_C_DO_STATE_MACHINE, 0, NULL)
#define BIO_do_accept(b) BIO_ctrl((b), BIO_C_DO_STATE_MACHINE, 0, NULL)
#define BIO_do_handshake(b) BIO_ctrl((b), BIO_C_DO_STATE_MACHINE, 0, NULL)
#define BIO_set_accept_port(b, name) BIO_ctrl((b), BIO_C_SET_ACCEPT, 0, (char *)(name))
#define BIO_get_accept_port(b) BIO_ptr_ctrl((b), BIO_C_GET_ACCEPT, 0)
/* A non-blocking listening socket; once set it cannot be cleared. */
#define BIO_set_nbio_accept(b, n) BIO_ctrl((b), BIO_C_SET_ACCEPT, 1, (n) ? (void *)"a" : NULL)
/* The chain is owned by the accept stream from now on. */
#define BIO_set_accept_bios(b, bio) BIO_ctrl((b), BIO_C_SET_ACCEPT, 2, (char *)(bio))
#define BIO_set_bind_mode(b, mode) BIO_ctrl((b), BIO_C_SET_BIND_MODE, (mode), NULL)
#define BIO_get_bind_mode(b) BIO_ctrl((b), BIO_C_GET_BIND_MODE, 0, NULL)

/* ---- datagram stream ----------------------------------------------------- */
/* One datagram per read or write on a UDP socket.  Unconnected, writes go
 * with sendto to the peer (set by the application, or the sender of the last
 * datagram read); connected (BIO_CTRL_DGRAM_SET_CONNECTED), with write.  A
 * deadline set with BIO_CTRL_DGRAM_SET_NEXT_TIMEOUT (an absolute timeval)
 * limits each read's wait; a read that ran into it returns -1 with retry
 * read set, and BIO_dgram_recv_timedout then answers 1, once.  Nothing is
 * queued on the error queue; failing time-out calls are reported with
 * perror. */
MORVANE_EXPORT BIO_METHOD *BIO_s_datagram(void);
MORVANE_EXPORT BIO *BIO_new_dgram(int fd, int close_flag);
/* As BIO_sock_non_fatal_error, but ENOTCONN is fatal. */
MORVANE_EXPORT int BIO_dgram_non_fatal_error(int error);

/* peer: a 16-byte struct sockaddr. */
#define BIO_ctrl_dgram_connect(b, peer) BIO_ctrl((b), BIO_CTRL_DGRAM_CONNECT, 0, (char *)(peer))
#define BIO_ctrl_set_connected(b, state, peer) \
  BIO_ctrl((b), BIO_CTRL_DGRAM_SET_CONNECTED, (state), (char *)(peer))
#define BIO_dgram_recv_timedout(b) BIO_ctrl((b), BIO_CTRL_DGRAM_GET_RECV_TIMER_EXP, 0, NULL)
#define BIO_dgram_send_timedout(b) BIO_ctrl((b), BIO_CTRL_DGRAM_GET_SEND_TIMER_EXP, 0, NULL)
#define BIO_dgram_get_peer(b, peer) BIO_ctrl((b), BIO_CTRL_DGRAM_GET_PEER, 0, (char *)(peer))
#define BIO_dgram_set_peer(b, peer) BIO_ctrl((b), BIO_CTRL_DGRAM_SET_PEER, 0, (char *)(peer))

/* ---- stream pairs -------------------------------------------------------- */
/* Two halves of an in-memory pipe: what is written into one half is read
 * from the other.  Each half holds what is written into it in a ring buffer
 * (17408 bytes unless set while unpaired); a read of an empty ring returns -1
 * with retry read and records the request (BIO_ctrl_get_read_request on the
 * other half), a write into a full one returns -1 with retry write.  After
 * BIO_shutdown_wr on a half, the other half reads what is left, then 0.
 * BIO_nread0/BIO_nwrite0 point into the ring without copying (never across
 * its wrap); BIO_nread/BIO_nwrite then commit up to num bytes (a negative
 * num is refused: -1 with "invalid argument", nothing committed).  These
 * four return -2 with "uninitialized" on an unpaired half. */
MORVANE_EXPORT BIO_METHOD *BIO_s_bio(void);
/* Two paired halves (sizes 0: the default); 1, or 0 with both set to null
 * (a null bio1 or bio2 is refused with "passed a null parameter"). */
MORVANE_EXPORT int BIO_new_bio_pair(BIO **bio1, size_t writebuf1, BIO **bio2,
                                    size_t writebuf2);
/* Bytes the next write into this half is sure to accept. */
MORVANE_EXPORT size_t BIO_ctrl_get_write_guarantee(BIO *bio);
/* Bytes the other half asked for when it last found this half empty. */
MORVANE_EXPORT size_t BIO_ctrl_get_read_request(BIO *bio);
MORVANE_EXPORT int BIO_ctrl_reset_read_request(BIO *bio);
MORVANE_EXPORT int BIO_nread0(BIO *bio, char **buf);
MORVANE_EXPORT int BIO_nread(BIO *bio, char **buf, int num);
MORVANE_EXPORT int BIO_nwrite0(BIO *bio, char **buf);
MORVANE_EXPORT int BIO_nwrite(BIO *bio, char **buf, int num);

#define BIO_set_write_buf_size(b, size) \
  (int)BIO_ctrl((b), BIO_C_SET_WRITE_BUF_SIZE, (long)(size), NULL)
#define BIO_get_write_buf_size(b) (size_t)BIO_ctrl((b), BIO_C_GET_WRITE_BUF_SIZE, 0, NULL)
#define BIO_make_bio_pair(b1, b2) (int)BIO_ctrl((b1), BIO_C_MAKE_BIO_PAIR, 0, (b2))
#define BIO_destroy_bio_pair(b) (int)BIO_ctrl((b), BIO_C_DESTROY_BIO_PAIR, 0, NULL)
#define BIO_shutdown_wr(b) (int)BIO_ctrl((b), BIO_C_SHUTDOWN_WR, 0, NULL)
#define BIO_get_write_guarantee(b) (int)BIO_ctrl((b), BIO_C_GET_WRITE_GUARANTEE, 0, NULL)
#define BIO_get_read_request(b) (int)BIO_ctrl((b), BIO_C_GET_READ_REQUEST, 0, NULL)

/* ==================== end of the network streams ========================= */

/* ---- error codes -------------------------------------------------------- */
/* Registers the texts of library 32 (ERR_LIB_BIO) once; see ERR_load_strings
 * in <morvane/err.h>. */
MORVANE_EXPORT void ERR_load_BIO_strings(void);

/* BEGIN ERROR CODES (generated by tools/gen_errors.py) */
/* Function codes of library 32 (BIO). */
#define BIO_F_ACPT_STATE 100
#define BIO_F_BIO_ACCEPT 101
#define BIO_F_BIO_BER_GET_HEADER 102
#define BIO_F_BIO_CTRL 103
#define BIO_F_BIO_GETS 104
#define BIO_F_BIO_GET_ACCEPT_SOCKET 105
#define BIO_F_BIO_GET_HOST_IP 106
#define BIO_F_BIO_GET_PORT 107
#define BIO_F_BIO_NEW 108
#define BIO_F_BIO_NEW_FILE 109
#define BIO_F_BIO_PUTS 110
#define BIO_F_BIO_READ 111
#define BIO_F_BIO_SOCK_INIT 112
#define BIO_F_BIO_WRITE 113
#define BIO_F_BUFFER_CTRL 114
#define BIO_F_CONN_STATE 115
#define BIO_F_FILE_CTRL 116
#define BIO_F_MEM_WRITE 117
#define BIO_F_SSL_NEW 118
#define BIO_F_WSASTARTUP 119
#define BIO_F_BIO_GETHOSTBYNAME 120
#define BIO_F_BIO_MAKE_PAIR 121
#define BIO_F_BIO_NWRITE0 122
#define BIO_F_BIO_NREAD 123
#define BIO_F_BIO_NREAD0 124
#define BIO_F_BIO_NWRITE 125
#define BIO_F_BIO_NEW_MEM_BUF 126
#define BIO_F_CONN_CTRL 127
#define BIO_F_MEM_READ 128
#define BIO_F_LINEBUFFER_CTRL 129
#define BIO_F_FILE_READ 130
#define BIO_F_BIO_CALLBACK_CTRL 131
/* Reason codes of library 32 (BIO). */
#define BIO_R_ACCEPT_ERROR 100
#define BIO_R_BAD_FOPEN_MODE 101
#define BIO_R_BAD_HOSTNAME_LOOKUP 102
#define BIO_R_CONNECT_ERROR 103
#define BIO_R_ERROR_SETTING_NBIO 104
#define BIO_R_ERROR_SETTING_NBIO_ON_ACCEPTED_SOCKET 105
#define BIO_R_ERROR_SETTING_NBIO_ON_ACCEPT_SOCKET 106
#define BIO_R_GETHOSTBYNAME_ADDR_IS_NOT_AF_INET 107
#define BIO_R_INVALID_IP_ADDRESS 108
#define BIO_R_KEEPALIVE 109
#define BIO_R_NBIO_CONNECT_ERROR 110
#define BIO_R_NO_ACCEPT_PORT_SPECIFIED 111
#define BIO_R_NO_HOSTNAME_SPECIFIED 112
#define BIO_R_NO_PORT_DEFINED 113
#define BIO_R_NO_PORT_SPECIFIED 114
#define BIO_R_NULL_PARAMETER 115
#define BIO_R_TAG_MISMATCH 116
#define BIO_R_UNABLE_TO_BIND_SOCKET 117
#define BIO_R_UNABLE_TO_CREATE_SOCKET 118
#define BIO_R_UNABLE_TO_LISTEN_SOCKET 119
#define BIO_R_UNINITIALIZED 120
#define BIO_R_UNSUPPORTED_METHOD 121
#define BIO_R_WSASTARTUP 122
#define BIO_R_IN_USE 123
#define BIO_R_BROKEN_PIPE 124
#define BIO_R_INVALID_ARGUMENT 125
#define BIO_R_WRITE_TO_READ_ONLY_BIO 126
#define BIO_R_EOF_ON_MEMORY_BIO 127
#define BIO_R_NO_SUCH_FILE 128
#define BIO_R_UNKNOWN_SERVICE 129
#define BIO_R_UNABLE_TO_COPY_CHAIN 130
/* END ERROR CODES */

MORVANE_END_DECLS

#endif /* MORVANE_BIO_H */
