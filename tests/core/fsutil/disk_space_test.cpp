// Tests of the free-space check (file-system utility layer): a need that
// reaches the free space, paths that do not exist yet, unreadable space.
#include "core/fsutil/disk_space.h"

#include <gtest/gtest.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

uint64_t FreeBytes(const std::string& path) {
  struct statvfs vfs {};
  EXPECT_EQ(::statvfs(path.c_str(), &vfs), 0);
  return static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
}

// Other processes write to the same file system; repeat until the free space
// stood still around the call.
// |measured| is where the test reads the free space, |path| what it checks.
int CheckAgainstFree(const std::string& measured, const std::string& path, int64_t offset,
                     uint64_t& free_bytes) {
  for (int attempt = 0; attempt < 50; ++attempt) {
    free_bytes = FreeBytes(measured);
    const int result = CheckDiskSpace(path, free_bytes + static_cast<uint64_t>(offset));
    if (FreeBytes(measured) == free_bytes) {
      return result;
    }
  }
  ADD_FAILURE() << "free space kept changing";
  return -2;
}

TEST(CheckDiskSpace, ANeedReachingTheFreeSpaceIsShort) {
  qx_test::TempDir dir;
  uint64_t free_bytes = 0;
  EXPECT_EQ(CheckAgainstFree(dir.path(), dir.path(), 0, free_bytes), kDiskSpaceShort);
  ASSERT_GT(free_bytes, 0u);
  EXPECT_EQ(CheckAgainstFree(dir.path(), dir.path(), -1, free_bytes), kDiskSpaceEnough);
  EXPECT_EQ(CheckAgainstFree(dir.path(), dir.path(), 1, free_bytes), kDiskSpaceShort);
  EXPECT_EQ(CheckDiskSpace(dir.path(), 0), kDiskSpaceEnough);
  // Beyond 32 bits the need is compared whole, not cut.
  EXPECT_EQ(CheckDiskSpace(dir.path(), (uint64_t{1} << 62) + 1), kDiskSpaceShort);
}

TEST(CheckDiskSpace, PathsThatDoNotExistYetUseTheirParent) {
  qx_test::TempDir dir;
  uint64_t free_bytes = 0;
  EXPECT_EQ(CheckAgainstFree(dir.path(), dir / "not/yet\\made.dat", 0, free_bytes),
            kDiskSpaceShort);
  EXPECT_EQ(CheckDiskSpace(dir / "not/yet/made.dat", 0), kDiskSpaceEnough);
  qx_test::WriteFile(dir / "file", "x");
  EXPECT_EQ(CheckDiskSpace(dir / "file/below", 0), kDiskSpaceEnough);
}

TEST(CheckDiskSpace, UnreadableFreeSpaceIsMinusOne) {
  qx_test::TempDir dir;
  ASSERT_EQ(::symlink("loop", (dir / "loop").c_str()), 0);
  EXPECT_EQ(CheckDiskSpace(dir / "loop", 0), kDiskSpaceUnknown);
}

}  // namespace
}  // namespace qx
