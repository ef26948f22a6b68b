// Directory iteration: argument checks, a fresh directory's entries, missing
// directories and the close status.

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <set>
#include <string>

#include "test_support.h"

namespace {

// Reads every entry; checks that the end comes with errno 0.
std::set<std::string> ReadAll(MORVANE_DIR_CTX** ctx, const char* dir) {
  std::set<std::string> names;
  const char* name;
  while ((name = MORVANE_DIR_read(ctx, dir)) != nullptr) {
    EXPECT_TRUE(names.insert(name).second) << "entry returned twice: " << name;
  }
  EXPECT_EQ(errno, 0);
  return names;
}

// A failed call: null result, errno `err`, the context left null.
void ExpectFailure(MORVANE_DIR_CTX** ctx, const char* dir, int err) {
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_read(ctx, dir), nullptr) << (dir ? dir : "(null)");
  EXPECT_EQ(errno, err) << (dir ? dir : "(null)");
  if (ctx != nullptr) {
    EXPECT_EQ(*ctx, nullptr);
  }
}

}  // namespace

TEST(DirRead, BadArgumentsAndPaths) {
  morvane_test::TempPath plain;
  MORVANE_DIR_CTX* ctx = nullptr;
  ExpectFailure(nullptr, "/", EINVAL);
  ExpectFailure(&ctx, nullptr, EINVAL);
  ExpectFailure(&ctx, "/no/such/directory/at/all", ENOENT);  // opendir's errno
  ExpectFailure(&ctx, plain.c_str(), ENOTDIR);
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_end(nullptr), 0);
  EXPECT_EQ(errno, EINVAL);
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 0);
  EXPECT_EQ(errno, EINVAL);
}

TEST(DirRead, EmptyDirectoryGivesItselfAndItsParent) {
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  MORVANE_DIR_CTX* ctx = nullptr;
  EXPECT_EQ(ReadAll(&ctx, dir.c_str()), (std::set<std::string>{".", ".."}));
  ASSERT_NE(ctx, nullptr);
  // The end is sticky while the context stays open.
  EXPECT_EQ(MORVANE_DIR_read(&ctx, dir.c_str()), nullptr);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 1);
}

TEST(DirRead, ListsEveryFileOnce) {
  morvane_test::TempPath dir(morvane_test::TempPath::kDir);
  std::set<std::string> expected{".", ".."};
  for (int i = 0; i <= 40; i++) {
    // The last is the longest name the system allows.
    const std::string name =
        i == 40 ? std::string(255, 'L') : "file-" + std::to_string(i) + std::string(i, 'x');
    morvane_test::WriteFile(dir.Join(name), "");
    expected.insert(name);
  }
  MORVANE_DIR_CTX* ctx = nullptr;
  EXPECT_EQ(ReadAll(&ctx, dir.c_str()), expected);
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 1);
  // Only the opening call looks at the name: later ones ignore it.
  ctx = nullptr;
  ASSERT_NE(MORVANE_DIR_read(&ctx, dir.c_str()), nullptr);
  EXPECT_NE(MORVANE_DIR_read(&ctx, "/no/such/directory"), nullptr);
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 1);
}
