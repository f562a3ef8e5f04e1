// Tests of the in-place expansion of a package directory (package layer):
// a whole run, a run that finds what an interrupted one left, and the
// faults that leave the directory as it was.
#include "core/package/stored_expansion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using qx_test::ReadFile;
using qx_test::WriteFile;

class StoredExpansionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int i = 0; i < 24; ++i) {
      files_["d" + std::to_string(i % 3) + "\\f" + std::to_string(i)] =
          i % 2 == 0 ? qx_test::TextBytes(5000 + i, i) : qx_test::RandomBytes(3000 + i, i);
    }
    files_["empty"] = "";
    files_["README"] = "read me\n";
    std::vector<std::pair<std::string, std::string>> listed(files_.begin(), files_.end());
    qx_test::MakePackage(package_, "Demo", listed, {"README"})
        .Set(HeaderKey::kReadmeFile, "README")
        .Write(package_ + "/Demo.qxw");
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(
        std::fopen((package_ + "/Demo.qxw").c_str(), "r"), &std::fclose);
    FormatVersion version;
    ASSERT_EQ(ReadPackageHeader(file.get(), &version, &record_), kHeaderOk);
    record_->package_directory = package_;
  }

  static std::string OnDisk(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
  }
  std::string Path(const std::string& name) const { return package_ + "/" + OnDisk(name); }

  // Every file of the package directory but the header, by name.
  std::map<std::string, std::string> Tree() const {
    std::map<std::string, std::string> tree;
    for (const auto& file : fs::recursive_directory_iterator(package_)) {
      if (file.is_regular_file() && file.path().filename() != "Demo.qxw") {
        tree[fs::relative(file.path(), package_).string()] = ReadFile(file.path());
      }
    }
    return tree;
  }

  qx_test::TempDir dir_;
  const std::string package_ = dir_ / "Demo";
  std::map<std::string, std::string> files_;
  std::unique_ptr<PackageHeader> record_;
};

TEST_F(StoredExpansionTest, ExpandsEveryStoredFileAndFinishesWhatAnInterruptedRunLeft) {
  std::map<std::string, std::string> expanded;
  for (const auto& [name, bytes] : files_) {
    expanded[OnDisk(name)] = bytes;
  }
  const struct {
    const char* what;
    std::function<void()> interrupted;  // what an earlier run left
    int found;
  } rows[] = {
      {"all stored", [] {}, 0},
      {"temporaries of a run killed while it expanded",
       [&] {
         WriteFile(Path("d0\\f0") + ";expanding", "half");
         WriteFile(Path("d1\\f1") + ";expanding", "");
       },
       0},
      {"a run killed while the expansions took their places",
       [&] {
         for (const char* name : {"d0\\f3", "d1\\f4", "d2\\f5", "empty"}) {
           WriteFile(Path(name), files_[name]);
         }
         WriteFile(Path("d0\\f6") + ";expanding", files_["d0\\f6"]);
       },
       4},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    row.interrupted();
    const InPlaceExpansion done = ExpandInPlace(*record_, 3);
    EXPECT_TRUE(done.problems.empty()) << done.problems.front();
    EXPECT_EQ(done.found, row.found);
    EXPECT_EQ(done.expanded, 25 - row.found);
    EXPECT_EQ(Tree(), expanded);
    // A second run finds every file expanded and changes nothing.
    const InPlaceExpansion again = ExpandInPlace(*record_, 2);
    EXPECT_TRUE(again.problems.empty());
    EXPECT_EQ(again.found, 25);
    EXPECT_EQ(Tree(), expanded);
    fs::remove_all(package_);
  }
}

TEST_F(StoredExpansionTest, AFaultAnywhereLeavesTheDirectoryAsItWas) {
  const struct {
    const char* what;
    std::function<void()> fault;
    std::string problem;
  } rows[] = {
      {"a stored byte changed",
       [&] {
         std::string bytes = ReadFile(Path("d2\\f8"));
         bytes[20] ^= 0x01;
         WriteFile(Path("d2\\f8"), bytes);
       },
       "d2\\f8: "},
      {"a stored file cut short",
       [&] {
         const std::string bytes = ReadFile(Path("d1\\f7"));
         WriteFile(Path("d1\\f7"), bytes.substr(0, bytes.size() - 1));
       },
       "d1\\f7: length "},
      {"a stored file gone", [&] { fs::remove(Path("d0\\f9")); }, "d0\\f9: missing"},
      {"the read-me changed", [&] { WriteFile(Path("README"), "read ME\n"); },
       "README: digest mismatch"},
      {"the read-me grown", [&] { WriteFile(Path("README"), "read me!\n"); },
       "README: length 9, the header says 8"},
      {"a directory of the package swapped for a link",
       [&] {
         fs::rename(Path("d1"), dir_ / "elsewhere");
         fs::create_directory_symlink(dir_ / "elsewhere", Path("d1"));
       },
       "d1\\f1: a level of its path is not a directory of the package"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    SetUp();
    row.fault();
    const std::map<std::string, std::string> before = Tree();
    const InPlaceExpansion done = ExpandInPlace(*record_, 4);
    ASSERT_FALSE(done.problems.empty());
    EXPECT_EQ(done.problems.front().rfind(row.problem, 0), 0u) << done.problems.front();
    EXPECT_EQ(done.expanded, 0);
    EXPECT_EQ(Tree(), before);
    fs::remove_all(package_);
    fs::remove_all(dir_ / "elsewhere");
  }
}

}  // namespace
}  // namespace qx
