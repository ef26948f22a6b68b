// Fuzzes the PEM reader: arbitrary text through PEM_read_bio, block after
// block; each block's header through PEM_get_EVP_CIPHER_INFO and, when it
// names a cipher, PEM_do_header with a fixed pass phrase (as user data of the
// default callback, which then never prompts); and the whole text through
// PEM_bytes_read_bio for "ANY PRIVATE KEY".
//
// Checks: a block read has a non-empty body and a name without line feed;
// written back with PEM_write_bio (when its header is empty or ends in a
// line feed, and no line reaches the reader's 253 characters) it counts the characters of its body
// lines and reads back the same; decryption never grows the body; a block taken for "ANY PRIVATE
// KEY" has a private-key name.

#include "fuzz_check.h"

#include <cstdint>
#include <cstring>
#include <string>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/evp.h>
#include <morvane/pem.h>

namespace {

char kPhrase[] = "fuzz pass phrase";

struct Block {
  char* name = nullptr;
  char* header = nullptr;
  unsigned char* data = nullptr;
  long len = 0;
  ~Block() {
    MORVANE_free(name);
    MORVANE_free(header);
    MORVANE_free(data);
  }
};

bool Read(BIO* b, Block* out) {
  return PEM_read_bio(b, &out->name, &out->header, &out->data, &out->len) == 1;
}

// The reader keeps at most 253 characters of a line: a block whose begin or
// header line comes near that is not written back (a longer line would
// come back cut).
bool Rewritable(const Block& in) {
  const size_t hl = strlen(in.header);
  if (hl != 0 && in.header[hl - 1] != '\n') return false;  // a zero byte cut the header short
  if (strlen(in.name) + 16 >= 253) return false;
  for (const char* p = in.header; *p != '\0';) {
    const char* end = strchr(p, '\n');
    if (end - p >= 253) return false;
    p = end + 1;
  }
  return true;
}

void RoundTrip(const Block& in) {
  if (!Rewritable(in)) return;
  BIO* out = BIO_new(BIO_s_mem());
  Check(out != nullptr, "a memory stream");
  const size_t n = static_cast<size_t>(in.len);
  const size_t chars = n / 48 * 65 + (n % 48 != 0 ? (n % 48 + 2) / 3 * 4 + 1 : 0);
  Check(PEM_write_bio(out, in.name, in.header, in.data, in.len) == static_cast<int>(chars),
        "the writer counts its body lines");
  Block back;
  Check(Read(out, &back), "a written block reads back");
  Check(strcmp(in.name, back.name) == 0, "the same name");
  Check(strcmp(in.header, back.header) == 0, "the same header");
  Check(in.len == back.len && memcmp(in.data, back.data, n) == 0, "the same bytes");
  BIO_free(out);
}

bool PrivateKeyName(const char* name) {
  for (const char* k : {"ENCRYPTED PRIVATE KEY", "PRIVATE KEY", "RSA PRIVATE KEY",
                        "DSA PRIVATE KEY", "EC PRIVATE KEY", "ANY PRIVATE KEY"})
    if (strcmp(name, k) == 0) return true;
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  Morvane_add_all_ciphers();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  BIO* b = BIO_new_mem_buf(&text[0], static_cast<int>(size));
  Check(b != nullptr, "a memory stream");
  for (int blocks = 0; blocks < 256; blocks++) {
    Block block;
    if (!Read(b, &block)) break;
    Check(block.len > 0, "a block has bytes");
    Check(strchr(block.name, '\n') == nullptr, "a name is one line");
    RoundTrip(block);
    EVP_CIPHER_INFO info;
    if (PEM_get_EVP_CIPHER_INFO(block.header, &info) == 1 && info.cipher != nullptr) {
      long len = block.len;
      if (PEM_do_header(&info, block.data, &len, nullptr, kPhrase) == 1)
        Check(len >= 0 && len <= block.len, "decryption does not grow the body");
      else
        Check(len == block.len, "a failed decryption keeps the length");
    }
  }
  BIO_free(b);

  b = BIO_new_mem_buf(&text[0], static_cast<int>(size));
  unsigned char* bytes = nullptr;
  char* name = nullptr;
  long len = 0;
  if (PEM_bytes_read_bio(&bytes, &len, &name, "ANY PRIVATE KEY", b, nullptr, kPhrase) == 1) {
    Check(PrivateKeyName(name), "a private-key name");
    Check(len >= 0, "a length");
    MORVANE_free(bytes);
    MORVANE_free(name);
  }
  BIO_free(b);
  ERR_clear_error();
  return 0;
}
