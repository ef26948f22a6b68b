// The leak checker's report as text, for the leak checker's tests.
#ifndef MORVANE_TEST_MEM_DBG_REPORT_H
#define MORVANE_TEST_MEM_DBG_REPORT_H

#include <morvane/bio.h>
#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <string>

namespace mem_dbg_test {

// CRYPTO_mem_leaks on a memory stream made while this thread's recording is
// suspended, so that the stream itself is not in the report.
inline std::string Report() {
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_DISABLE);
  BIO* b = BIO_new(BIO_s_mem());
  CRYPTO_mem_ctrl(CRYPTO_MEM_CHECK_ENABLE);
  EXPECT_NE(b, nullptr);
  if (b == nullptr) return "";
  CRYPTO_mem_leaks(b);
  char* data = nullptr;
  long n = BIO_get_mem_data(b, &data);
  std::string out(data != nullptr ? data : "", n > 0 ? static_cast<size_t>(n) : 0);
  BIO_free(b);
  return out;
}

}  // namespace mem_dbg_test

#endif  // MORVANE_TEST_MEM_DBG_REPORT_H
