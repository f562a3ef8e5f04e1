// Tests of the stored-file check (package layer): files as sealed, the first
// failing check, and refused names and arguments.
#include "core/package/stored_file_check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

#include "core/cache/cache_root.h"
#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

class StoredFileCheckTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCacheRoot(dir_.path());
    qx_test::MakePackage(dir_ / "Demo", "Demo",
                         {{"a.txt", qx_test::TextBytes(3000, 1)},
                          {"sub\\b.bin", qx_test::RandomBytes(700, 2)},
                          {"README", "plain"}},
                         {"README"});
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen((dir_ / "Demo/Demo.qxw").c_str(), "r"), &std::fclose);
    FormatVersion version;
    ASSERT_EQ(ReadPackageHeader(file.get(), &version, &record_), kHeaderOk);
  }
  void TearDown() override { SetCacheRoot(""); }

  int Check(size_t index, int64_t* length = nullptr) {
    return CheckStoredFile(record_.get(), record_->entries[index].get(), length);
  }

  qx_test::TempDir dir_;
  std::unique_ptr<PackageHeader> record_;
};

TEST_F(StoredFileCheckTest, AcceptsStoredFilesAsSealedAndNamesTheFirstFailure) {
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(Check(i), kStoredFileOk) << i;
  }
  // One bit changed, same length.
  std::string bytes = qx_test::ReadFile(dir_ / "Demo/sub/b.bin");
  bytes[100] ^= 0x10;
  qx_test::WriteFile(dir_ / "Demo/sub/b.bin", bytes);
  EXPECT_EQ(Check(1), kStoredFileDigestMismatch);
  bytes.pop_back();
  qx_test::WriteFile(dir_ / "Demo/sub/b.bin", bytes);
  int64_t length = 0;
  EXPECT_EQ(Check(1, &length), kStoredFileWrongLength);
  EXPECT_EQ(length, record_->entries[1]->length - 1);
  std::remove((dir_ / "Demo/README").c_str());
  EXPECT_EQ(Check(2), kStoredFileMissing);

  // The digests are keyed by the application's name.
  record_->values.appl_name = "Other";
  EXPECT_EQ(Check(0), kStoredFileDigestMismatch);
}

TEST_F(StoredFileCheckTest, RefusesUnsafeNamesCommentsAndMissingArguments) {
  FileEntry escaping = *record_->entries[0];
  escaping.name = "..\\Demo\\a.txt";
  EXPECT_EQ(CheckStoredFile(record_.get(), &escaping, nullptr), kStoredFileUnsafeName);
  FileEntry comment;
  comment.comment = true;
  comment.state = kEntryStateComment;
  EXPECT_EQ(CheckStoredFile(record_.get(), &comment, nullptr), kStoredFileBadArgument);
  EXPECT_EQ(CheckStoredFile(nullptr, &escaping, nullptr), kStoredFileBadArgument);
  EXPECT_EQ(CheckStoredFile(record_.get(), nullptr, nullptr), kStoredFileBadArgument);
  record_->package_directory.clear();
  EXPECT_EQ(Check(0), kStoredFileBadArgument);
}

}  // namespace
}  // namespace qx
