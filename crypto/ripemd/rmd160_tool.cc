// The rmd160 program, carried by the library: prints the RIPEMD-160 digest of
// each file named on the command line, or of standard input.
//
// Implementation notes: an input is read whole before anything is printed for
// it, so a file that fails part-way prints no digest; it is reported like a
// file that cannot be opened and counted in the exit status.

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <morvane/ripemd.h>
#include <morvane/rmd160.h>

namespace {

constexpr size_t kReadSize = 16384;
constexpr int kMaxStatus = 255;

// Digests everything readable from `fd` into md.  False on a read error,
// with errno set by read.
bool digest_fd(int fd, unsigned char md[RIPEMD160_DIGEST_LENGTH]) {
  unsigned char buf[kReadSize];
  RIPEMD160_CTX c;
  RIPEMD160_Init(&c);
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof(buf));
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    RIPEMD160_Update(&c, buf, static_cast<size_t>(n));
  }
  RIPEMD160_Final(md, &c);
  return true;
}

// Digests `f` and prints its line ("RIPEMD160(name)= " first when name is
// given); on a read error reports it with perror(label) instead.
bool digest_and_print(FILE* f, const char* name, const char* label) {
  unsigned char md[RIPEMD160_DIGEST_LENGTH];
  if (!digest_fd(fileno(f), md)) {
    perror(label);
    return false;
  }
  if (name != nullptr) printf("RIPEMD160(%s)= ", name);
  pt(md);
  return true;
}

}  // namespace

/* see morvane/rmd160.h */
void pt(unsigned char* md) {
  for (int i = 0; i < RIPEMD160_DIGEST_LENGTH; i++) printf("%02x", md[i]);
  printf("\n");
}

void do_fp(FILE* f) {
  digest_and_print(f, nullptr, "read");
}

int main(int argc, char** argv) {
  int failed = 0;
  if (argc <= 1) {
    if (!digest_and_print(stdin, nullptr, "stdin")) failed++;
  } else {
    for (int i = 1; i < argc; i++) {
      FILE* f = fopen(argv[i], "r");
      if (f == nullptr) {
        perror(argv[i]);
        failed++;
        continue;
      }
      if (!digest_and_print(f, argv[i], argv[i])) failed++;
      fclose(f);
    }
  }
  // A digest that never reached its destination is a failure too.
  if (fflush(stdout) != 0 || ferror(stdout)) {
    perror("stdout");
    failed++;
  }
  // The count of failures, kept from wrapping round to 0 ("success").
  exit(failed > kMaxStatus ? kMaxStatus : failed);
}
