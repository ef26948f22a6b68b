// DES-encrypted records on a file descriptor: each record is a 4-byte
// big-endian plaintext length followed by the PCBC or CBC encryption of the
// plaintext (at least one block), every record started from the same IV.
//
// Implementation notes: the writer's output buffer and the reader's two
// buffers are allocated on first use and kept for the life of the process;
// the reader also keeps the decrypted bytes of a record that did not fit the
// caller's buffer and returns them first.  None of this is locked.

#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <morvane/crypto.h>
#include <morvane/des.h>
#include <morvane/rand.h>

#include "internal/byteorder.h"

int _shadow_DES_rw_mode = 1;

namespace {

constexpr int kMaxRecord = 16384;                    // plaintext bytes a record
constexpr int kHeader = 4;                           // the length in front
constexpr int kMaxRaw = kHeader + kMaxRecord;        // 16388: the largest record
constexpr int kWriteBuf = kMaxRecord + kHeader + 8;  // 16392

unsigned char* g_out = nullptr;  // writer: header and ciphertext

// Reader: one block holding the raw record and, behind it, the decrypted
// bytes kept for later calls.  (The mode functions write exactly n bytes when
// decrypting, so a record that fits the caller's buffer is decrypted there.)
unsigned char* g_in = nullptr;
constexpr int kRawOff = 0, kKeptOff = kMaxRaw;
int g_kept_start = 0;
int g_kept_count = 0;

bool pcbc_mode() {
  return (DES_rw_mode & 1) != 0;
}

// Ciphertext bytes of a record of n plaintext bytes: at least one block.
int cipher_len(int n) {
  return n < 8 ? 8 : (n + 7) / 8 * 8;
}

void run_mode(const unsigned char* in, unsigned char* out, int n, DES_key_schedule* ks,
              DES_cblock* iv, int enc) {
  if (pcbc_mode()) {
    DES_pcbc_encrypt(in, out, n, ks, iv, enc);
  } else {
    DES_cbc_encrypt(in, out, n, ks, iv, enc);
  }
}

// Moves exactly n bytes with `io` (read or write), retrying after EINTR;
// false at end of input, when nothing moves, or on any other error.
template <class Io, class Byte>
bool move_all(Io io, int fd, Byte* p, size_t n) {
  while (n != 0) {
    const ssize_t r = io(fd, p, n);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) return false;
    p += r;
    n -= static_cast<size_t>(r);
  }
  return true;
}

// One record of len (0 to kMaxRecord) bytes.
int write_record(int fd, const unsigned char* buf, int len, DES_key_schedule* sched,
                 DES_cblock* iv) {
  morvane::internal::store_be32(g_out, static_cast<uint32_t>(len));
  if (len < 8) {
    // A short record is one block: the data, then random filler (zeros where
    // the generator gives nothing).
    unsigned char block[8] = {};
    if (len > 0) memcpy(block, buf, static_cast<size_t>(len));
    RAND_pseudo_bytes(block + len, 8 - len);
    run_mode(block, g_out + kHeader, 8, sched, iv, DES_ENCRYPT);
    MORVANE_cleanse(block, sizeof(block));
  } else {
    run_mode(buf, g_out + kHeader, len, sched, iv, DES_ENCRYPT);
  }
  if (!move_all(write, fd, g_out, static_cast<size_t>(kHeader + cipher_len(len)))) return -1;
  return len;
}

// Hands out up to len of the bytes kept from the last record.
int take_kept(unsigned char* buf, int len) {
  unsigned char* kept = g_in + kKeptOff;
  if (g_kept_count > len) {
    memcpy(buf, kept + g_kept_start, static_cast<size_t>(len));
    g_kept_start += len;
    g_kept_count -= len;
    return len;
  }
  const int n = g_kept_count;
  memcpy(buf, kept + g_kept_start, static_cast<size_t>(n));
  MORVANE_cleanse(kept, static_cast<size_t>(g_kept_start + n));
  g_kept_start = 0;
  g_kept_count = 0;
  return n;
}

}  // namespace

/* see morvane/des.h */
int DES_enc_write(int fd, const void* _buf, int len, DES_key_schedule* sched, DES_cblock* iv) {
  if (len < 0) return -1;
  if (g_out == nullptr) {
    g_out = static_cast<unsigned char*>(MORVANE_malloc(kWriteBuf));
    if (g_out == nullptr) return -1;
  }
  const unsigned char* buf = static_cast<const unsigned char*>(_buf);
  if (len <= kMaxRecord) return write_record(fd, buf, len, sched, iv);
  // Longer data goes out as records of kMaxRecord bytes and one shorter one.
  int sent = 0;
  for (int j = 0; j < len; j += kMaxRecord) {
    const int piece = len - j < kMaxRecord ? len - j : kMaxRecord;
    const int r = write_record(fd, buf + j, piece, sched, iv);
    if (r < 0) return r;
    sent += r;
  }
  return sent;
}

int DES_enc_read(int fd, void* _buf, int len, DES_key_schedule* sched, DES_cblock* iv) {
  if (len < 0) return -1;
  if (g_in == nullptr) {
    g_in = static_cast<unsigned char*>(MORVANE_malloc(2 * kMaxRaw));
    if (g_in == nullptr) return -1;
  }
  unsigned char* buf = static_cast<unsigned char*>(_buf);
  if (g_kept_count > 0) return len == 0 ? 0 : take_kept(buf, len);
  if (len > kMaxRecord) len = kMaxRecord;

  unsigned char* raw = g_in + kRawOff;
  if (!move_all(read, fd, raw, kHeader)) return 0;
  // The length as a signed 32-bit value; anything outside 0..kMaxRecord
  // leaves the stream out of step and is never used as a size.
  const int32_t n = static_cast<int32_t>(morvane::internal::load_be32(raw));
  if (n < 0 || n > kMaxRecord) return -1;
  const int m = cipher_len(n);
  if (!move_all(read, fd, raw, static_cast<size_t>(m))) return 0;

  // The mode functions read whole blocks and write exactly n bytes.
  if (len >= n) {
    run_mode(raw, buf, n, sched, iv, DES_DECRYPT);
    return n;
  }
  unsigned char* kept = g_in + kKeptOff;
  run_mode(raw, kept, n, sched, iv, DES_DECRYPT);
  if (len > 0) memcpy(buf, kept, static_cast<size_t>(len));
  g_kept_start = len;
  g_kept_count = n - len;
  return len;
}
