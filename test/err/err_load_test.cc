// The error-text loaders: after ERR_load_crypto_strings every library prints
// its name (or lib(N) for the libraries without one) and every function and
// reason it registers prints its own text; the numbers of texts per library
// are pinned; loading twice registers once; freeing and reloading restores
// everything.

#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <morvane/crypto.h>
#include <morvane/dso.h>
#include <morvane/err.h>
#include <morvane/lhash.h>

#include "test_support.h"

namespace {

// One library of test/data/err/loaders.txt: its number, loader, the numbers
// of function and reason texts it registers and its name text ("": printed
// as lib(N)).
struct Library {
  int lib;
  void (*loader)(void);
  int functions;
  int reasons;
  std::string name;
};

const std::vector<Library>& Libraries() {
  static const std::vector<Library> libs = [] {
    std::vector<Library> out;
    for (const auto& r : morvane_test::ReadRsp(morvane_test::TestDataFile("err/loaders.txt"))) {
      auto* loader = reinterpret_cast<void (*)(void)>(dlsym(RTLD_DEFAULT, r.Get("Loader").c_str()));
      EXPECT_NE(loader, nullptr) << r.Get("Loader");
      out.push_back({std::stoi(r.Get("Library")), loader, std::stoi(r.Get("Functions")),
                     std::stoi(r.Get("Reasons")), r.Has("Name") ? r.Get("Name") : ""});
    }
    EXPECT_EQ(out.size(), 25u);
    return out;
  }();
  return libs;
}

constexpr int kMaxCode = 0xFFF;
// Libraries number their own reasons from 99 up; below are the common ones.
constexpr int kFirstOwnReason = 70;

std::string Text(unsigned long e) {
  char buf[256];
  ERR_error_string_n(e, buf, sizeof(buf));
  return buf;
}

// "error:" and the code in eight upper-case hex digits.
std::string Hex(unsigned long e) {
  char buf[16];
  snprintf(buf, sizeof(buf), "%08lX", e);
  return std::string("error:") + buf;
}

std::vector<int> RegisteredFunctions(int lib) {
  std::vector<int> out;
  for (int f = 1; f <= kMaxCode; f++)
    if (ERR_func_error_string(ERR_PACK(lib, f, 0)) != nullptr) out.push_back(f);
  return out;
}

std::vector<int> RegisteredReasons(int lib) {
  std::vector<int> out;
  for (int r = kFirstOwnReason; r <= kMaxCode; r++)
    if (ERR_reason_error_string(ERR_PACK(lib, 0, r)) != nullptr) out.push_back(r);
  return out;
}

TEST(ErrLoad, EveryLibraryPrintsEveryRegisteredCode) {
  ERR_load_crypto_strings();
  for (const Library& l : Libraries()) {
    SCOPED_TRACE("library " + std::to_string(l.lib));
    const std::string lib_part = !l.name.empty() ? l.name : "lib(" + std::to_string(l.lib) + ")";
    const char* name = ERR_lib_error_string(ERR_PACK(l.lib, 0, 0));
    EXPECT_EQ(name != nullptr ? name : "", l.name);

    const std::vector<int> functions = RegisteredFunctions(l.lib);
    const std::vector<int> reasons = RegisteredReasons(l.lib);
    EXPECT_EQ(static_cast<int>(functions.size()), l.functions);
    EXPECT_EQ(static_cast<int>(reasons.size()), l.reasons);
    for (int f : functions) {
      const unsigned long e = ERR_PACK(l.lib, f, ERR_R_MALLOC_FAILURE);
      const char* name = ERR_func_error_string(e);
      ASSERT_NE(name, nullptr);
      EXPECT_NE(*name, '\0');
      EXPECT_EQ(Text(e), Hex(e) + ":" + lib_part + ":" + name + ":malloc failure");
    }
    ASSERT_FALSE(functions.empty());
    const char* first = ERR_func_error_string(ERR_PACK(l.lib, functions[0], 0));
    for (int r : reasons) {
      const unsigned long e = ERR_PACK(l.lib, functions[0], r);
      const char* text = ERR_reason_error_string(e);
      ASSERT_NE(text, nullptr);
      EXPECT_NE(*text, '\0');
      EXPECT_EQ(Text(e), Hex(e) + ":" + lib_part + ":" + first + ":" + text);
    }
  }
  // Libraries without a name print their number; the store's texts are left out.
  for (int lib = ERR_LIB_UI; lib <= ERR_LIB_STORE; lib++) {
    const unsigned long e = ERR_PACK(lib, 0, 0);
    EXPECT_EQ(Text(e), Hex(e) + ":lib(" + std::to_string(lib) + "):func(0):reason(0)");
  }
  EXPECT_TRUE(RegisteredFunctions(ERR_LIB_STORE).empty());
  EXPECT_TRUE(RegisteredReasons(ERR_LIB_STORE).empty());
}

TEST(ErrLoad, EachLoaderRegistersItsOwnLibraryOnly) {
  for (const Library& l : Libraries()) {
    ERR_free_strings();
    l.loader();
    EXPECT_EQ(static_cast<int>(RegisteredFunctions(l.lib).size()), l.functions) << l.lib;
    for (const Library& other : Libraries()) {
      if (other.lib == l.lib) continue;
      for (int f = 99; f <= 110; f++)  // every library's first function codes
        EXPECT_EQ(ERR_func_error_string(ERR_PACK(other.lib, f, 0)), nullptr) << l.lib;
    }
  }
}

// Every loader checks whether its texts are there: a second load inserts
// nothing.
TEST(ErrLoad, LoadingTwiceRegistersOnce) {
  ERR_load_crypto_strings();
  LHASH* table = ERR_get_string_table();
  ASSERT_NE(table, nullptr);
  const unsigned long items = lh_num_items(table), inserts = table->num_insert;
  ERR_load_crypto_strings();
  for (const Library& l : Libraries()) l.loader();
  ERR_load_ERR_strings();
  EXPECT_EQ(lh_num_items(table), items);
  EXPECT_EQ(table->num_insert, inserts);
}

// Freeing drops every text (codes print in numeric form again); loading
// again restores them all, the system texts built once per process.
TEST(ErrLoad, FreeingAndLoadingAgainRestoresEverything) {
  ERR_load_crypto_strings();
  const char* system_text = ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT));
  EXPECT_STREQ(system_text, strerror(ENOENT));
  ERR_free_strings();
  EXPECT_EQ(ERR_get_string_table(), nullptr);
  EXPECT_EQ(Text(0x07065041UL), "error:07065041:lib(7):func(101):reason(65)");
  EXPECT_EQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT)), nullptr);
  ERR_free_strings();  // nothing left to free
  ERR_load_crypto_strings();
  for (const Library& l : Libraries()) {
    EXPECT_EQ(static_cast<int>(RegisteredFunctions(l.lib).size()), l.functions) << l.lib;
    EXPECT_EQ(static_cast<int>(RegisteredReasons(l.lib).size()), l.reasons) << l.lib;
  }
  EXPECT_EQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT)), system_text);
}

// A load that could not register every text (no memory for an entry) is
// repeated by the next one: whichever allocation of a whole load fails,
// a second load leaves every text there.
TEST(ErrLoadAlloc, FailedLoadIsRepairedByTheNext) {
  ASSERT_TRUE(morvane_test::InstallCountingAllocator());
  const auto allocations = [] {
    const morvane_test::AllocCounts n = morvane_test::GetAllocCounts();
    return n.mallocs + n.reallocs;
  };
  const long before = allocations();
  ERR_load_crypto_strings();
  const long n = allocations() - before;
  ASSERT_GT(n, 100);
  for (long k : {1L, 2L, 3L, n / 3, n / 2, n - 1, n}) {
    SCOPED_TRACE("allocation " + std::to_string(k) + " of " + std::to_string(n));
    ERR_free_strings();
    morvane_test::FailAllocationAfter(k);
    ERR_load_crypto_strings();
    morvane_test::FailAllocationAfter(0);
    ERR_load_crypto_strings();
    for (const Library& l : Libraries()) {
      EXPECT_EQ(static_cast<int>(RegisteredFunctions(l.lib).size()), l.functions) << l.lib;
      EXPECT_EQ(static_cast<int>(RegisteredReasons(l.lib).size()), l.reasons) << l.lib;
    }
    EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_SYS, 0, ENOENT)), strerror(ENOENT));
    EXPECT_EQ(Text(0x02001002UL),
              std::string("error:02001002:system library:fopen:") + strerror(ENOENT));
  }
}

}  // namespace

// A few registered texts, exactly as they print.
TEST(ErrLoadAll, SampleTextsAreExact) {
  ERR_load_crypto_strings();
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_DSO, 0, DSO_R_NO_FILE_SPECIFICATION)),
               "no file spec"
               "ification");
  EXPECT_STREQ(ERR_reason_error_string(ERR_PACK(ERR_LIB_DSO, 0, DSO_R_FUNCTIONALITY_NOT_SUPPORTED)),
               "functionality not supported");
  ERR_free_strings();
}
