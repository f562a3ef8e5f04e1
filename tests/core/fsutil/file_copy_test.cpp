// Tests of the plain copy (file-system utility layer): every byte and the
// times copied, a longer destination replaced, and each kind of failure.
#include "core/fsutil/file_copy.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::ReadFile;
using qx_test::WriteFile;
using qx_test::WriteTimeOf;

// Limits the size of files this process may write, for one scope.
class ScopedFileSizeLimit {
 public:
  explicit ScopedFileSizeLimit(rlim_t bytes) {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGXFSZ, &ignore, &old_action_);
    ::getrlimit(RLIMIT_FSIZE, &old_limit_);
    rlimit limit = old_limit_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~ScopedFileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old_limit_);
    ::sigaction(SIGXFSZ, &old_action_, nullptr);
  }

 private:
  struct sigaction old_action_ {};
  rlimit old_limit_{};
};

TEST(CopyFilePlain, CopiesEveryByteAcrossBlockBoundariesAndTheTimes) {
  qx_test::TempDir dir;
  for (size_t size : {size_t{0}, size_t{1}, kCopyBlockSize - 1, kCopyBlockSize, kCopyBlockSize + 1,
                      2 * kCopyBlockSize, size_t{100000}}) {
    const std::string source = dir / ("src" + std::to_string(size));
    const std::string destination = dir / ("dst" + std::to_string(size));
    const std::string bytes = qx_test::RandomBytes(size, size);
    WriteFile(source, bytes);
    const timespec times[2] = {{1000000000, 0}, {881403336, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, source.c_str(), times, 0), 0);
    EXPECT_EQ(CopyFilePlain(source, destination), kFileCopyOk) << size;
    EXPECT_EQ(ReadFile(destination), bytes) << size;
    EXPECT_EQ(WriteTimeOf(destination), 881403336) << size;
  }
}

TEST(CopyFilePlain, ReplacesALongerDestination) {
  qx_test::TempDir dir;
  WriteFile(dir / "src", "short");
  WriteFile(dir / "dst", std::string(2000, 'L'));
  EXPECT_EQ(CopyFilePlain(dir / "src", dir / "dst"), kFileCopyOk);
  EXPECT_EQ(ReadFile(dir / "dst"), "short");
}

TEST(CopyFilePlain, ReportsWhichSideFailed) {
  qx_test::TempDir dir;
  WriteFile(dir / "src", "data");
  EXPECT_EQ(CopyFilePlain(dir / "missing", dir / "dst"), kFileCopySourceNotOpened);
  EXPECT_FALSE(qx_test::FileExists(dir / "dst"));
  EXPECT_EQ(CopyFilePlain(dir / "src", dir / "no/such/dir"), kFileCopyDestinationNotCreated);
  // Copying a file onto itself would empty it first.
  EXPECT_EQ(CopyFilePlain(dir / "src", dir / "src"), kFileCopyDestinationNotCreated);
  ASSERT_EQ(::link((dir / "src").c_str(), (dir / "hard").c_str()), 0);
  EXPECT_EQ(CopyFilePlain(dir / "hard", dir / "src"), kFileCopyDestinationNotCreated);
  EXPECT_EQ(ReadFile(dir / "src"), "data");
  // A directory opens but cannot be read.
  ::mkdir((dir / "adir").c_str(), 0755);
  EXPECT_EQ(CopyFilePlain(dir / "adir", dir / "dst"), kFileCopyReadFailed);
}

TEST(CopyFilePlain, ReportsShortWritesInTheLoopAndAtClose) {
  qx_test::TempDir dir;
  WriteFile(dir / "large", qx_test::RandomBytes(100000, 1));
  WriteFile(dir / "small", qx_test::RandomBytes(3000, 2));  // fits the stream's buffer
  int large_result = -1;
  int small_result = -1;
  {
    ScopedFileSizeLimit limit(1000);
    large_result = CopyFilePlain(dir / "large", dir / "large.out");
    small_result = CopyFilePlain(dir / "small", dir / "small.out");
  }
  EXPECT_EQ(large_result, kFileCopyShortWrite);
  EXPECT_EQ(small_result, kFileCopyShortWrite);
}

// Only a regular file is read, never past the limit: a link, a pipe, a
// device or a directory in its place is refused without being opened for
// reading.
TEST(CopyRegularFile, CopiesRegularFilesUpToTheLimitAndRefusesTheRest) {
  qx_test::TempDir dir;
  WriteFile(dir / "plain", "0123456789");
  const timespec times[2] = {{1000000000, 0}, {881403336, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "plain").c_str(), times, 0), 0);
  ASSERT_EQ(::symlink((dir / "plain").c_str(), (dir / "link").c_str()), 0);
  ASSERT_EQ(::symlink("/dev/zero", (dir / "zero").c_str()), 0);
  ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir((dir / "directory").c_str(), 0700), 0);
  struct Row {
    const char* source;
    uint64_t limit;
    int result;
    const char* copied;  // null: no copy
  };
  for (const Row& row :
       {Row{"plain", 100, kFileCopyOk, "0123456789"}, Row{"plain", 11, kFileCopyOk, "0123456789"},
        Row{"plain", 4, kFileCopyOk, "0123"}, Row{"plain", 0, kFileCopyOk, ""},
        Row{"link", 100, kFileCopyNotRegular, nullptr},
        Row{"zero", 100, kFileCopyNotRegular, nullptr},
        Row{"pipe", 100, kFileCopyNotRegular, nullptr},
        Row{"directory", 100, kFileCopyNotRegular, nullptr},
        Row{"missing", 100, kFileCopySourceNotOpened, nullptr}}) {
    SCOPED_TRACE(std::string(row.source) + " " + std::to_string(row.limit));
    std::remove((dir / "copy").c_str());
    EXPECT_EQ(CopyRegularFile(dir / row.source, dir / "copy", row.limit), row.result);
    if (row.copied != nullptr) {
      EXPECT_EQ(ReadFile(dir / "copy"), row.copied);
      EXPECT_EQ(WriteTimeOf(dir / "copy"), 881403336);
    } else {
      EXPECT_FALSE(qx_test::FileExists(dir / "copy"));
    }
  }
}

}  // namespace
}  // namespace qx
