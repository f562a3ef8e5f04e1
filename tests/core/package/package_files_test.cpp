// Tests of the package files (package layer): validation of the stored files
// and the byte sums of a read package.
#include "core/package/package_files.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "core/cache/cache_root.h"
#include "tests/support/header_builder.h"
#include "tests/support/scoped_env.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::HeaderBuilder;

class PackageFilesTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCacheRoot(dir_.path() + "/cache"); }
  void TearDown() override { SetCacheRoot(""); }

  // Reads |text| as a header into record_; returns the result.
  int Read(const std::string& text) {
    qx_test::WriteFile(dir_ / "h.qxw", text);
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen((dir_ / "h.qxw").c_str(), "r"),
                                                         &std::fclose);
    return ReadPackageHeader(file.get(), &version_, &record_);
  }

  qx_test::TempDir dir_;
  FormatVersion version_;
  std::unique_ptr<PackageHeader> record_;
};

class ValidateTest : public PackageFilesTest {
 protected:
  void SetUp() override {
    PackageFilesTest::SetUp();
    package_ = dir_.path() + "/cache/Demo";
  }
  std::string package_;
};

TEST_F(ValidateTest, MarksMissingAndWrongSizedFilesAndKeepsOthersAsTheyWere) {
  HeaderBuilder builder;
  builder.AddFile({"ok.txt", 3, 10}).AddFile({"sub\\short.txt", 3, 10}).AddFile({"gone.txt", 1, 1});
  builder.AddComment("ok.txt");
  ASSERT_EQ(Read(builder.Text()), kHeaderOk);
  qx_test::WriteFile(package_ + "/ok.txt", "abc");
  qx_test::WriteFile(package_ + "/sub/short.txt", "ab");
  record_->stored_form = true;
  record_->entries[0]->state = 2;
  record_->entries[0]->status = "earlier";
  EXPECT_EQ(ValidatePackageFiles(record_.get()), kHeaderOk);
  const auto& e = record_->entries;
  EXPECT_EQ(e[0]->state, kEntryStateFile);
  EXPECT_FALSE(e[0]->error);
  EXPECT_EQ(e[0]->status, "earlier");
  EXPECT_TRUE(e[1]->error);
  EXPECT_EQ(e[1]->status, "Invalid");
  EXPECT_TRUE(e[2]->error);
  EXPECT_EQ(e[2]->status, "Missing");
  EXPECT_EQ(e[3]->state, kEntryStateComment);
  EXPECT_FALSE(e[3]->error);
  EXPECT_EQ(e[3]->status, "");

  // Expanded form compares Size instead of Length.
  record_->stored_form = false;
  e[0]->error = false;
  e[0]->status.clear();
  ValidatePackageFiles(record_.get());
  EXPECT_TRUE(e[0]->error);
  EXPECT_EQ(ValidatePackageFiles(nullptr), kHeaderFailed);
}

TEST_F(ValidateTest, UnsafeNamesAreInvalidEvenWhenTheFileOutsideMatches) {
  HeaderBuilder builder;
  for (const char* name : {"..\\outside.txt", "a\\..\\..\\outside.txt", "/etc/x", "C:x",
                           "tab\there", "a|..|..|outside.txt"}) {
    builder.AddFile({name, 4, 4});
  }
  ASSERT_EQ(Read(builder.Text()), kHeaderOk);
  const std::string outside = dir_.path() + "/cache/outside.txt";
  qx_test::WriteFile(outside, "four");
  qx_test::WriteFile(package_ + "/a/keep", "");
  record_->stored_form = true;
  EXPECT_EQ(ValidatePackageFiles(record_.get()), kHeaderOk);
  for (const auto& entry : record_->entries) {
    EXPECT_TRUE(entry->error) << entry->name;
    EXPECT_EQ(entry->status, "Invalid") << entry->name;
  }
  EXPECT_EQ(qx_test::ReadFile(outside), "four");
}

TEST(ByteSums, CountEntriesInTheirStates) {
  PackageHeader record;
  ResizeEntryArray(&record, 6);
  const int32_t states[] = {0, 1, 2, 3, 4, 5};
  for (size_t i = 0; i < 6; ++i) {
    record.entries[i]->state = states[i];
    record.entries[i]->length = 10 << i;
    record.entries[i]->size = 1000 << i;
    record.entries[i]->progress = 1;
  }
  EXPECT_EQ(DownloadBytes(&record), 20 + 40);
  EXPECT_EQ(RemainingBytes(&record), 1999 + 3999 + 7999);
  EXPECT_EQ(DownloadBytes(nullptr), 0);
  // Counts read from a header may be anything; the sums saturate.
  record.entries[1]->length = INT64_MAX;
  record.entries[2]->size = INT64_MIN;
  record.entries[3]->size = INT64_MIN;
  EXPECT_EQ(DownloadBytes(&record), INT64_MAX);
  EXPECT_EQ(RemainingBytes(&record), INT64_MIN);
  EXPECT_EQ(RemainingBytes(nullptr), 0);
}

TEST_F(PackageFilesTest, ExpansionBytesFollowTheRegistrysCompressedValue) {
  qx_test::ScopedEnv config("XDG_CONFIG_HOME", dir_.path().c_str());
  HeaderBuilder builder;
  builder.Set(HeaderKey::kInstallTo, "apps/tools");
  builder.AddFile({"a", 10, 100}).AddFile({"b", 20, 50}).AddComment("c");
  ASSERT_EQ(Read(builder.Text()), kHeaderOk);
  record_->entries[1]->state = 1;                // only entries in state 0 count
  EXPECT_EQ(ExpansionBytes(record_.get()), 90);  // no registry: "Yes"
  const std::string ini = dir_.path() + "/tarnwick/qxweb.ini";
  qx_test::WriteFile(ini, "[apps\\tools\\Demo]\nCompressed=No\n");
  EXPECT_EQ(ExpansionBytes(record_.get()), 0);
  qx_test::WriteFile(ini, "[apps\\tools\\Demo]\nCompressed=Yes\n");
  EXPECT_EQ(ExpansionBytes(record_.get()), 90);
  EXPECT_EQ(ExpansionBytes(nullptr), 0);

  // Without InstallTo the name still begins with the separator.
  HeaderBuilder plain;
  plain.AddFile({"a", 10, 100});
  ASSERT_EQ(Read(plain.Text()), kHeaderOk);
  qx_test::WriteFile(ini, "[\\Demo]\nCompressed=No\n[Demo]\nCompressed=Yes\n");
  EXPECT_EQ(ExpansionBytes(record_.get()), 0);
}

}  // namespace
}  // namespace qx
