// What the printing tests share: a memory stream read back as text, the
// expected-output files of test/data/print/, and DER decoding.
#ifndef MORVANE_TEST_PRINT_UTIL_H
#define MORVANE_TEST_PRINT_UTIL_H

#include <stdio.h>

#include <string>
#include <vector>

#include <morvane/asn1.h>
#include <morvane/bio.h>

#include "test_support.h"

namespace print_test {

// A memory stream freed with the object; Text() is what was written.
class MemOut {
 public:
  MemOut() : bio_(BIO_new(BIO_s_mem())) {}
  ~MemOut() { BIO_free(bio_); }
  MemOut(const MemOut&) = delete;
  MemOut& operator=(const MemOut&) = delete;
  BIO* bio() const { return bio_; }
  operator BIO*() const { return bio_; }
  std::string Text() const {
    char* p = nullptr;
    const long n = BIO_get_mem_data(bio_, &p);
    return n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
  }

 private:
  BIO* bio_;
};

// An expected output kept whole in test/data/print/<name>: the file less its
// opening lines that start with "##" (the note on where it comes from).
std::string Expected(const std::string& name);

// The rows of section `section` of test/data/print/<file>.
std::vector<std::vector<std::string>> Rows(const std::string& file, const std::string& section);

// Parses "0x..." or decimal text as an unsigned long.
unsigned long Flags(const std::string& text);

// A new string of `type` holding `content`.
ASN1_STRING* MakeString(int type, const morvane_test::Bytes& content);

// What a FILE printer writes, through a temporary file; its result in
// *result.
template <typename F>
std::string ThroughFile(F print, int* result) {
  morvane_test::TempPath path;
  FILE* fp = fopen(path.c_str(), "wb");
  *result = print(fp);
  fclose(fp);
  return morvane_test::ReadFile(path.path());
}

}  // namespace print_test

#endif  // MORVANE_TEST_PRINT_UTIL_H
