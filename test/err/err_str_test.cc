// The error-string table: the built-in texts, registering and removing
// arrays, the lookups with their fallbacks, the one-line text of a code with
// its numeric forms and its cut, and the loaders of the core libraries.

#include <errno.h>
#include <string.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/bio.h>
#include <morvane/buffer.h>
#include <morvane/crypto.h>
#include <morvane/err.h>
#include <morvane/lhash.h>

#include "test_support.h"

namespace {

constexpr unsigned long kBufMemNewMalloc = 0x07065041UL;  // (7, 101, 65)

std::string Text(unsigned long e) {
  char buf[256];
  ERR_error_string_n(e, buf, sizeof buf);
  return buf;
}

std::string TextN(unsigned long e, size_t len) {
  std::vector<char> buf(len + 1, '#');
  ERR_error_string_n(e, buf.data(), len);
  return buf.data();
}

std::string OrNull(const char* s) {
  return s != nullptr ? s : "(null)";
}

// The texts of one section of test/data/err/texts.txt, by number.
std::vector<std::pair<int, std::string>> Texts(const std::string& section) {
  std::vector<std::pair<int, std::string>> out;
  for (const auto& r : morvane_test::ReadRsp(morvane_test::TestDataFile("err/texts.txt")))
    if (r.section.count(section))
      for (const auto& [n, text] : r.fields) out.emplace_back(std::stoi(n), text);
  EXPECT_FALSE(out.empty()) << section;
  return out;
}



// What the table must hold for system error i: at most 31 characters of the
// system's own text.
std::string SystemText(int i) {
  return std::string(strerror(i)).substr(0, 31);
}

TEST(ErrText, NumericFormsBeforeAnyLoad) {
  EXPECT_EQ(ERR_get_string_table(), nullptr);
  EXPECT_EQ(ERR_lib_error_string(kBufMemNewMalloc), nullptr);
  EXPECT_EQ(ERR_func_error_string(kBufMemNewMalloc), nullptr);
  EXPECT_EQ(ERR_reason_error_string(kBufMemNewMalloc), nullptr);
  EXPECT_EQ(Text(kBufMemNewMalloc), "error:07065041:lib(7):func(101):reason(65)");
  EXPECT_EQ(Text(0), "error:00000000:lib(0):func(0):reason(0)");
  EXPECT_EQ(Text(ERR_PACK(255, 4095, 4095)), "error:FFFFFFFF:lib(255):func(4095):reason(4095)");
  EXPECT_EQ(ERR_get_string_table(), nullptr);  // lookups do not create it
}

TEST(ErrText, BuiltInTables) {
  ERR_load_ERR_strings();
  EXPECT_EQ(Texts("LIBRARY").size() + Texts("REASON").size() + Texts("SYSCALL").size(), 73u);
  for (const auto& [lib, text] : Texts("LIBRARY")) {
    EXPECT_EQ(OrNull(ERR_lib_error_string(ERR_PACK(lib, 0, 0))), text) << lib;
  }
  for (const auto& [reason, text] : Texts("REASON")) {
    // Found for every library, including ones with no texts of their own.
    EXPECT_EQ(OrNull(ERR_reason_error_string(ERR_PACK(0, 0, reason))), text) << reason;
    EXPECT_EQ(OrNull(ERR_reason_error_string(ERR_PACK(200, 1, reason))), text) << reason;
  }
  for (const auto& [func, text] : Texts("SYSCALL")) {
    EXPECT_EQ(OrNull(ERR_func_error_string(ERR_PACK(ERR_LIB_SYS, func, 0))), text) << func;
  }
  // Registered under library 2 only.
  EXPECT_EQ(ERR_func_error_string(ERR_PACK(0, SYS_F_FOPEN, 0)), nullptr);
  EXPECT_EQ(ERR_func_error_string(ERR_PACK(ERR_LIB_SYS, 9, 0)), nullptr);
  // Libraries 40 to 44 have no name; nor do 12 and 17-19.
  for (int lib : {12, 17, 40, 41, 42, 43, 44}) {
    EXPECT_EQ(ERR_lib_error_string(ERR_PACK(lib, 0, 0)), nullptr) << lib;
  }
  EXPECT_EQ(ERR_reason_error_string(ERR_PACK(0, 0, ERR_R_UI_LIB)), nullptr);
  // 27 names, 35 reasons, 11 system calls and 127 system errors.
  ASSERT_NE(ERR_get_string_table(), nullptr);
  EXPECT_EQ(lh_num_items(ERR_get_string_table()), 27UL + 35 + 11 + 127);
}

TEST(ErrText, SystemErrorTexts) {
  ERR_load_ERR_strings();
  for (int i = 1; i <= 127; i++) {
    EXPECT_EQ(OrNull(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, i))), SystemText(i)) << i;
  }
  EXPECT_EQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, 128)), nullptr);
  // A long system text keeps 31 characters.
  ASSERT_GT(strlen(strerror(ESHUTDOWN)), 31u);
  EXPECT_EQ(strlen(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ESHUTDOWN))), 31u);
  // A system error as the socket and file helpers report it.
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_SYS, SYS_F_FOPEN, ENOENT)),
            "error:02001002:system library:fopen:" + SystemText(ENOENT));
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_SYS, 9, EINTR)),
            "error:02009004:system library:func(9):" + SystemText(EINTR));
}

TEST(ErrText, CoreLibraryLoaders) {
  ERR_load_ERR_strings();
  EXPECT_EQ(Text(kBufMemNewMalloc),
            "error:07065041:memory buffer routines:func(101):malloc failure");
  ERR_load_BUF_strings();
  ERR_load_CRYPTO_strings();
  // The reason falls back to the common reason of the same number.
  EXPECT_EQ(Text(kBufMemNewMalloc),
            "error:07065041:memory buffer routines:BUF_MEM_new:malloc failure");
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_BUF, BUF_F_BUF_MEM_GROW_CLEAN, ERR_R_PASSED_NULL_PARAMETER)),
            "error:07069043:memory buffer routines:BUF_MEM_grow_clean:passed a null parameter");
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_CRYPTO, CRYPTO_F_CRYPTO_GET_NEW_DYNLOCKID,
                          CRYPTO_R_NO_DYNLOCK_CREATE_CALLBACK)),
            "error:0F067064:common Ostrand routines:CRYPTO_get_new_dynlockid:"
            "no dynlock create callback");
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_CRYPTO, CRYPTO_F_INT_NEW_EX_DATA, ERR_R_MALLOC_FAILURE)),
            "error:0F06C041:common Ostrand routines:INT_NEW_EX_DATA:malloc failure");
  ERR_load_BIO_strings();
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_BIO, BIO_F_BUFFER_CTRL, ERR_R_MALLOC_FAILURE)),
            "error:20072041:BIO routines:BUFFER_CTRL:malloc failure");
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_BIO, BIO_F_BIO_NEW, BIO_R_UNSUPPORTED_METHOD)),
            "error:2006C079:BIO routines:BIO_new:unsupported method");
  // A code that no library registered keeps its numeric parts.
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_UI, 100, 101)), "error:28064065:lib(40):func(100):reason(101)");
  EXPECT_EQ(Text(ERR_PACK(ERR_LIB_BUF, 99, 99)),
            "error:07063063:memory buffer routines:func(99):reason(99)");
}

TEST(ErrText, CutTextKeepsFourColons) {
  ERR_load_ERR_strings();
  ERR_load_BUF_strings();
  EXPECT_EQ(TextN(kBufMemNewMalloc, 20), "error:07065041:me::");
  EXPECT_EQ(TextN(kBufMemNewMalloc, 5), "::::");
  EXPECT_EQ(TextN(kBufMemNewMalloc, 4), "err");
  EXPECT_EQ(TextN(kBufMemNewMalloc, 1), "");
  // len 0 writes nothing at all.
  char untouched[4] = "abc";
  ERR_error_string_n(kBufMemNewMalloc, untouched, 0);
  EXPECT_STREQ(untouched, "abc");

  const std::string full = "error:07065041:memory buffer routines:BUF_MEM_new:malloc failure";
  for (size_t len = 1; len <= full.size() + 5; len++) {
    std::string cut = TextN(kBufMemNewMalloc, len);
    ASSERT_EQ(cut.size(), std::min(full.size(), len - 1)) << len;
    if (len > full.size()) {
      EXPECT_EQ(cut, full);
    } else if (len > 4) {
      EXPECT_EQ(std::count(cut.begin(), cut.end(), ':'), 4) << cut;
      // The full text's prefix, some of its characters overwritten by colons.
      for (size_t i = 0; i < cut.size(); i++) {
        if (cut[i] != ':') {
          EXPECT_EQ(cut[i], full[i]) << cut;
        }
      }
    }
  }
  // The text reaches no further than len bytes.
  char buf[32];
  memset(buf, '#', sizeof(buf));
  ERR_error_string_n(kBufMemNewMalloc, buf, 10);
  EXPECT_EQ(buf[9], '\0');
  EXPECT_EQ(buf[10], '#');
}

TEST(ErrText, StaticBufferWithoutCallerBuffer) {
  char* p = ERR_error_string(kBufMemNewMalloc, nullptr);
  ASSERT_NE(p, nullptr);
  EXPECT_STREQ(p, "error:07065041:lib(7):func(101):reason(65)");
  char* q = ERR_error_string(ERR_PACK(1, 2, 3), nullptr);
  EXPECT_EQ(p, q);  // the one shared buffer, overwritten
  EXPECT_STREQ(p, "error:01002003:lib(1):func(2):reason(3)");
  char mine[256];
  EXPECT_EQ(ERR_error_string(kBufMemNewMalloc, mine), mine);
}

TEST(ErrText, ApplicationLibraryTexts) {
  ERR_load_ERR_strings();
  int lib = ERR_get_next_error_library();
  ASSERT_EQ(lib, ERR_LIB_USER);
  static ERR_STRING_DATA texts[] = {
      {ERR_PACK(ERR_LIB_USER, 0, 0), "application routines"},
      {ERR_PACK(0, 100, 0), "app_open"},
      {ERR_PACK(0, 0, 100), "app reason"},
      {ERR_PACK(0, 0, ERR_R_MALLOC_FAILURE), "app out of memory"},
      {0, nullptr},
  };
  ERR_load_strings(lib, texts);
  // The library number is written into the array in place.
  EXPECT_EQ(texts[1].error, ERR_PACK(lib, 100, 0));
  EXPECT_EQ(texts[2].error, ERR_PACK(lib, 0, 100));
  EXPECT_EQ(Text(ERR_PACK(lib, 100, 100)),
            "error:80064064:application routines:app_open:app reason");
  // The library's own reason 65 wins over the common one.
  EXPECT_EQ(Text(ERR_PACK(lib, 100, 65)),
            "error:80064041:application routines:app_open:app out of memory");
  EXPECT_EQ(OrNull(ERR_reason_error_string(ERR_PACK(lib + 1, 0, 65))), "malloc failure");

  // Loading again changes no code and replaces the entries with themselves.
  LHASH* table = ERR_get_string_table();
  unsigned long items = table->num_items;
  ERR_load_strings(lib, texts);
  EXPECT_EQ(texts[1].error, ERR_PACK(lib, 100, 0));
  EXPECT_EQ(table->num_items, items);
  EXPECT_EQ(OrNull(ERR_func_error_string(ERR_PACK(lib, 100, 0))), "app_open");

  // An entry with the same code replaces the registered one.
  static ERR_STRING_DATA other[] = {{0, "app_open_v2"}, {0, nullptr}};
  other[0].error = ERR_PACK(lib, 100, 0);
  ERR_load_strings(0, other);
  EXPECT_EQ(OrNull(ERR_func_error_string(ERR_PACK(lib, 100, 0))), "app_open_v2");

  // Unloading removes by code, whichever entry is registered.
  ERR_unload_strings(lib, texts);
  EXPECT_EQ(ERR_func_error_string(ERR_PACK(lib, 100, 0)), nullptr);
  EXPECT_EQ(ERR_lib_error_string(ERR_PACK(lib, 0, 0)), nullptr);
  EXPECT_EQ(OrNull(ERR_reason_error_string(ERR_PACK(lib, 0, 65))), "malloc failure");
  EXPECT_EQ(table->num_items, items - 4);
}

TEST(ErrText, NoTableMeansNoTexts) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  static ERR_STRING_DATA texts[] = {{ERR_PACK(ERR_LIB_USER, 0, 0), "lost"}, {0, nullptr}};
  morvane_test::FailAllocationAfter(1);  // the table's creation fails
  ERR_load_strings(0, texts);
  morvane_test::FailAllocationAfter(0);
  EXPECT_EQ(ERR_get_string_table(), nullptr);
  EXPECT_EQ(ERR_lib_error_string(texts[0].error), nullptr);
  EXPECT_EQ(Text(texts[0].error), "error:80000000:lib(128):func(0):reason(0)");
  // The next registration creates it.
  ERR_load_strings(0, texts);
  EXPECT_EQ(OrNull(ERR_lib_error_string(texts[0].error)), "lost");
}

TEST(ErrText, ConcurrentLoadsAndLookups) {
  morvane_test::InstallLockingCallback();
  morvane_test::InstallThreadIdCallback();
  const std::string full = "error:07065041:memory buffer routines:BUF_MEM_new:malloc failure";
  // Another thread may be between its check and its load of the function names.
  const std::string partial = "error:07065041:memory buffer routines:func(101):malloc failure";
  const std::string system = "error:02001002:system library:fopen:" + SystemText(ENOENT);
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; t++) {
    threads.emplace_back([&] {
      for (int round = 0; round < 200; round++) {
        ERR_load_ERR_strings();
        ERR_load_BUF_strings();
        const std::string text = Text(kBufMemNewMalloc);
        if (text != full && text != partial) failures++;
      }
      if (Text(ERR_PACK(ERR_LIB_SYS, SYS_F_FOPEN, ENOENT)) != system) failures++;
      ERR_remove_state(0);
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(Text(kBufMemNewMalloc), full);
}

}  // namespace
