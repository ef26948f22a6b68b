// Small helpers of the PEM tests: memory streams, one block read into
// standard strings, and the case files of test/data/pem/.
#ifndef MORVANE_TEST_PEM_TEST_UTIL_H
#define MORVANE_TEST_PEM_TEST_UTIL_H

#include <string>

#include <morvane/bio.h>
#include <morvane/crypto.h>
#include <morvane/pem.h>

#include "test_support.h"

namespace pem_test {

inline std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; i++) out += s;
  return out;
}

inline unsigned char* U(std::string& s) {
  return reinterpret_cast<unsigned char*>(&s[0]);
}

// A memory stream holding `text`.
inline BIO* MemBio(const std::string& text) {
  BIO* b = BIO_new(BIO_s_mem());
  if (!text.empty()) BIO_write(b, text.data(), static_cast<int>(text.size()));
  return b;
}

// What a memory stream holds.
inline std::string Contents(BIO* b) {
  char* p = nullptr;
  const long n = BIO_get_mem_data(b, &p);
  return n > 0 ? std::string(p, static_cast<size_t>(n)) : std::string();
}

// The text of test/data/pem/<file>.
inline std::string CaseFile(const std::string& file) {
  return morvane_test::ReadFile(morvane_test::TestDataFile("pem/" + file));
}

struct Block {
  std::string name, header, data;
};

// PEM_read_bio into `out`, releasing the library's buffers; its result.
inline int ReadBlock(BIO* b, Block* out) {
  char *name = nullptr, *header = nullptr;
  unsigned char* data = nullptr;
  long len = 0;
  const int ret = PEM_read_bio(b, &name, &header, &data, &len);
  if (ret == 1) {
    out->name = name;
    out->header = header;
    out->data.assign(reinterpret_cast<char*>(data), static_cast<size_t>(len));
    MORVANE_free(name);
    MORVANE_free(header);
    MORVANE_free(data);
  }
  return ret;
}

}  // namespace pem_test

#endif  // MORVANE_TEST_PEM_TEST_UTIL_H
