// Tests of the replacing file (platform layer): the target changes only on
// commit, and failures leave nothing behind.
#include "core/platform/replacing_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::ReadFile;

size_t EntriesIn(const std::string& directory) {
  size_t count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(directory)) {
    ++count;
  }
  return count;
}

TEST(ReplacingFile, TargetChangesOnlyOnCommit) {
  qx_test::TempDir dir;
  const std::string target = dir / "out.txt";
  qx_test::WriteFile(target, "old");
  ::chmod(target.c_str(), 0640);
  {
    ReplacingFile file(target);
    ASSERT_NE(file.Open(), nullptr);
    std::fputs("new", file.file());
    EXPECT_EQ(ReadFile(target), "old");
    EXPECT_EQ(EntriesIn(dir.path()), 2u);
    // Abandoned: the old file stays and the temporary goes.
  }
  EXPECT_EQ(ReadFile(target), "old");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);

  ReplacingFile file(target);
  ASSERT_NE(file.Open(), nullptr);
  std::fputs("new", file.file());
  ASSERT_TRUE(file.Close());
  EXPECT_EQ(ReadFile(target), "old");
  ASSERT_TRUE(file.Commit());
  EXPECT_EQ(ReadFile(target), "new");
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
  struct stat info {};
  ASSERT_EQ(::stat(target.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);  // the replaced file's permissions
}

TEST(ReplacingFile, FailuresLeaveNothingBehind) {
  qx_test::TempDir dir;
  ReplacingFile missing_directory(dir / "no/such/out");
  EXPECT_EQ(missing_directory.Open(), nullptr);
  EXPECT_FALSE(missing_directory.Commit());

  // The rename fails: a directory stands at the target.
  std::filesystem::create_directories(dir / "target/inside");
  ReplacingFile file(dir / "target");
  ASSERT_NE(file.Open(), nullptr);
  EXPECT_FALSE(file.Commit());
  EXPECT_EQ(EntriesIn(dir.path()), 1u);
}

}  // namespace
}  // namespace qx
