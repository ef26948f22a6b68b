// Printing the error queue: the line format, data texts, entries without a
// file, stopping early through the callback, and the stream and FILE forms.

#include <stdio.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>

#include "test_support.h"

namespace {

std::string Tid() {
  return std::to_string(CRYPTO_thread_id());
}

struct Collected {
  std::vector<std::string> lines;
  int stop_after = -1;  // return 0 for this line (0-based); -1: never
};

int Collect(const char* str, size_t len, void* u) {
  auto* c = static_cast<Collected*>(u);
  EXPECT_EQ(strlen(str), len);
  c->lines.emplace_back(str, len);
  return static_cast<int>(c->lines.size()) - 1 == c->stop_after ? 0 : 1;
}

TEST(ErrPrint, LineFormat) {
  ERR_load_ERR_strings();
  ERR_load_BUF_strings();
  ERR_put_error(ERR_LIB_BUF, BUF_F_BUF_MEM_NEW, ERR_R_MALLOC_FAILURE, "buffer/buffer.cc", 42);
  ERR_put_error(ERR_LIB_BUF, BUF_F_BUF_STRDUP, ERR_R_MALLOC_FAILURE, "buffer/buffer.cc", 77);
  ERR_add_error_data(2, "size=", "12");
  ERR_put_error(ERR_LIB_USER + 3, 5, 300, nullptr, 9);
  static char raw[] = "not text";
  ERR_put_error(ERR_LIB_SYS, SYS_F_FOPEN, 2, "f.cc", 1);
  ERR_set_error_data(raw, 0);  // data without the text flag prints as ""
  Collected c;
  ERR_print_errors_cb(Collect, &c);
  ASSERT_EQ(c.lines.size(), 4u);
  EXPECT_EQ(c.lines[0], Tid() +
                            ":error:07065041:memory buffer routines:BUF_MEM_new:malloc failure:"
                            "buffer/buffer.cc:42:\n");
  EXPECT_EQ(c.lines[1], Tid() +
                            ":error:07066041:memory buffer routines:BUF_strdup:malloc failure:"
                            "buffer/buffer.cc:77:size=12\n");
  EXPECT_EQ(c.lines[2], Tid() + ":error:8300512C:lib(131):func(5):reason(300):NA:0:\n");
  EXPECT_EQ(c.lines[3], Tid() + ":error:02001002:system library:fopen:" +
                            std::string(strerror(2)).substr(0, 31) + ":f.cc:1:\n");
  EXPECT_ERRORS({});  // all taken off the queue
}

TEST(ErrPrint, CallbackCanStop) {
  Collected c;
  ERR_print_errors_cb(Collect, &c);  // an empty queue prints nothing
  EXPECT_TRUE(c.lines.empty());
  for (int i = 1; i <= 3; i++) ERR_put_error(ERR_LIB_USER, i, i, "x.cc", i);
  c.stop_after = 0;
  ERR_print_errors_cb(Collect, &c);
  ASSERT_EQ(c.lines.size(), 1u);
  EXPECT_EQ(c.lines[0], Tid() + ":error:80001001:lib(128):func(1):reason(1):x.cc:1:\n");
  // The printed entry is gone, the others stay queued.
  EXPECT_ERRORS({{ERR_LIB_USER, 2, 2}, {ERR_LIB_USER, 3, 3}});
}

TEST(ErrPrint, ToStreamAndFile) {
  ERR_load_ERR_strings();
  const std::string expected = Tid() +
                               ":error:07065041:memory buffer routines:func(101):"
                               "malloc failure:b.cc:3:\n";
  ERR_put_error(ERR_LIB_BUF, 101, ERR_R_MALLOC_FAILURE, "b.cc", 3);
  ERR_put_error(ERR_LIB_BUF, 101, ERR_R_MALLOC_FAILURE, "b.cc", 3);
  BIO* mem = BIO_new(BIO_s_mem());
  ASSERT_NE(mem, nullptr);
  ERR_print_errors(mem);
  char* p = nullptr;
  long n = BIO_get_mem_data(mem, &p);
  EXPECT_EQ(std::string(p, static_cast<size_t>(n)), expected + expected);
  BIO_free(mem);

  ERR_put_error(ERR_LIB_BUF, 101, ERR_R_MALLOC_FAILURE, "b.cc", 3);
  FILE* fp = tmpfile();
  ASSERT_NE(fp, nullptr);
  ERR_print_errors_fp(fp);
  fputs("still open\n", fp);
  rewind(fp);
  char buf[512] = "";
  size_t got = fread(buf, 1, sizeof(buf) - 1, fp);
  fclose(fp);
  EXPECT_EQ(std::string(buf, got), expected + "still open\n");
}

}  // namespace
