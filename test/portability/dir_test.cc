// Directory iteration: argument checks, a fresh directory's entries, missing
// directories and the close status.

#include <morvane/crypto.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include <unistd.h>

namespace {

// A fresh directory under the temporary folder, removed with its files.
class TempDir {
 public:
  TempDir() {
    const char* base = getenv("TMPDIR");
    std::string tmpl = std::string(base != nullptr ? base : "/tmp") + "/morvane-dir-XXXXXX";
    path_ = mkdtemp(tmpl.data()) != nullptr ? tmpl : "";
  }
  ~TempDir() {
    for (const auto& f : files_) unlink((path_ + "/" + f).c_str());
    rmdir(path_.c_str());
  }
  const std::string& path() const { return path_; }
  void Touch(const std::string& name) {
    FILE* f = fopen((path_ + "/" + name).c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
    files_.insert(name);
  }

 private:
  std::string path_;
  std::set<std::string> files_;
};

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

}  // namespace

TEST(DirRead, MissingArgumentsGiveEinval) {
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_read(nullptr, "/"), nullptr);
  EXPECT_EQ(errno, EINVAL);
  MORVANE_DIR_CTX* ctx = nullptr;
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_read(&ctx, nullptr), nullptr);
  EXPECT_EQ(errno, EINVAL);
  EXPECT_EQ(ctx, nullptr);
}

TEST(DirRead, EmptyDirectoryGivesItselfAndItsParent) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  MORVANE_DIR_CTX* ctx = nullptr;
  EXPECT_EQ(ReadAll(&ctx, dir.path().c_str()), (std::set<std::string>{".", ".."}));
  ASSERT_NE(ctx, nullptr);
  // The end is sticky while the context stays open.
  EXPECT_EQ(MORVANE_DIR_read(&ctx, dir.path().c_str()), nullptr);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 1);
}

TEST(DirRead, ListsEveryFileOnce) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::set<std::string> expected{".", ".."};
  for (int i = 0; i < 40; i++) {
    std::string name = "file-" + std::to_string(i) + std::string(static_cast<size_t>(i), 'x');
    dir.Touch(name);
    expected.insert(name);
  }
  dir.Touch(std::string(255, 'L'));  // the longest name the system allows
  expected.insert(std::string(255, 'L'));
  MORVANE_DIR_CTX* ctx = nullptr;
  EXPECT_EQ(ReadAll(&ctx, dir.path().c_str()), expected);
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 1);
}

TEST(DirRead, DirectoryIsOnlyLookedAtByTheOpeningCall) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  MORVANE_DIR_CTX* ctx = nullptr;
  ASSERT_NE(MORVANE_DIR_read(&ctx, dir.path().c_str()), nullptr);
  // Later calls ignore the name, even one that does not exist.
  EXPECT_NE(MORVANE_DIR_read(&ctx, "/no/such/directory"), nullptr);
  EXPECT_EQ(MORVANE_DIR_read(&ctx, "/no/such/directory"), nullptr);
  EXPECT_EQ(errno, 0);
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 1);
}

TEST(DirRead, MissingDirectoryKeepsOpendirErrnoAndNullContext) {
  MORVANE_DIR_CTX* ctx = nullptr;
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_read(&ctx, "/no/such/directory/at/all"), nullptr);
  EXPECT_EQ(errno, ENOENT);
  EXPECT_EQ(ctx, nullptr);
}

TEST(DirRead, RegularFileIsNotADirectory) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  dir.Touch("plain");
  MORVANE_DIR_CTX* ctx = nullptr;
  EXPECT_EQ(MORVANE_DIR_read(&ctx, (dir.path() + "/plain").c_str()), nullptr);
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_EQ(ctx, nullptr);
}

TEST(DirEnd, NullPointerOrContextGivesEinval) {
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_end(nullptr), 0);
  EXPECT_EQ(errno, EINVAL);
  MORVANE_DIR_CTX* ctx = nullptr;
  errno = 0;
  EXPECT_EQ(MORVANE_DIR_end(&ctx), 0);
  EXPECT_EQ(errno, EINVAL);
}
