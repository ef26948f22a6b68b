// The seed file: loaded in 1024-byte chunks, written as 1024 bytes of fresh
// generator output with mode 0600, and its default name from the
// environment.  An unseeded generator writes no seed file.

#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <morvane/buffer.h>
#include <morvane/err.h>
#include <morvane/rand.h>

#include "internal/wipe.h"
#include "rand/internal.h"

namespace {

constexpr int kChunk = 1024;

bool is_device(const struct stat& st) {
  return S_ISBLK(st.st_mode) || S_ISCHR(st.st_mode);
}

}  // namespace

/* see morvane/rand.h */
int RAND_load_file(const char* file, long bytes) {
  if (bytes < -1) {  // -1 alone means "all of it"
    RANDerr(RAND_F_RAND_LOAD_FILE, RAND_R_INVALID_LENGTH);
    return 0;
  }
  struct stat st;
  if (file == nullptr || stat(file, &st) != 0) return 0;
  RAND_add(&st, sizeof st, 0.0);
  if (bytes == 0) return 0;
  FILE* in = fopen(file, "rb");
  if (in == nullptr) return 0;
  if (is_device(st)) {
    // Bounded and unbuffered: each read takes only what the chunk asks for.
    if (bytes < 0) bytes = 2048;
    setvbuf(in, nullptr, _IONBF, 0);
  } else {
    setvbuf(in, nullptr, _IOFBF, 1 << 16);  // fewer system calls on large files
  }
  unsigned char buf[kChunk] = {};
  morvane::internal::Wiper w(buf);
  // Only the bytes read are mixed in (a short read leaves the rest of the
  // chunk stale); the count is kept wide and reported up to INT_MAX.
  unsigned long long total = 0;
  for (;;) {
    const long n = bytes > 0 ? (bytes < kChunk ? bytes : kChunk) : kChunk;
    const size_t got = fread(buf, 1, static_cast<size_t>(n), in);
    if (got == 0) break;
    RAND_add(buf, static_cast<int>(got), static_cast<double>(got));
    total += got;
    if (bytes > 0 && (bytes -= n) <= 0) break;
  }
  fclose(in);
  return total > static_cast<unsigned long long>(INT_MAX) ? INT_MAX : static_cast<int>(total);
}

int RAND_write_file(const char* file) {
  struct stat st;
  if (file == nullptr) return 0;
  if (stat(file, &st) == 0 && is_device(st)) return 1;
  unsigned char buf[kChunk];
  morvane::internal::Wiper w(buf);
  // Predictable bytes would later be credited as entropy: write nothing.
  if (RAND_bytes(buf, kChunk) <= 0) return -1;
  const int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return 0;
  fchmod(fd, 0600);  // an existing file keeps its mode through open
  FILE* out = fdopen(fd, "wb");
  if (out == nullptr) {
    close(fd);
    return 0;
  }
  const size_t put = fwrite(buf, 1, kChunk, out);
  const int closed = fclose(out);
  return put == kChunk && closed == 0 ? kChunk : 0;
}

char* RAND_file_name(char* buf, size_t size) {
  if (buf == nullptr || size == 0) return nullptr;
  const bool trusted = morvane::rand::seams.setugid() == 0;
  const char* s = trusted ? getenv("RANDFILE") : nullptr;
  if (s != nullptr && *s != '\0' && strlen(s) + 1 < size) {
    return BUF_strlcpy(buf, s, size) < size ? buf : nullptr;
  }
  s = trusted ? getenv("HOME") : nullptr;
  if (s != nullptr && *s != '\0' && strlen(s) + 6 < size) {
    BUF_strlcpy(buf, s, size);
    BUF_strlcat(buf, "/", size);
    BUF_strlcat(buf, ".rnd", size);
    return buf;
  }
  buf[0] = '\0';
  return buf;
}
