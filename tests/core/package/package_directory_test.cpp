// Tests of the package directory operations (package layer): making it,
// writing the header back, the temporary directory, expansion, deletion and
// time stamps.
#include "core/package/package_directory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/cache/cache_root.h"
#include "core/platform/file_handle.h"
#include "tests/support/header_builder.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using qx_test::HeaderBuilder;

std::vector<std::string> Listing(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(directory, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class PackageDirectoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_);
    SetCacheRoot(root_);
  }
  void TearDown() override { SetCacheRoot(""); }

  int ReadFrom(const std::string& path) {
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file) {
      return -100;
    }
    FormatVersion version;
    return ReadPackageHeader(file.get(), &version, &record_);
  }
  int ReadText(const std::string& text) {
    qx_test::WriteFile(dir_ / "in.qxw", text);
    return ReadFrom(dir_ / "in.qxw");
  }
  void SetTempDir(const std::string& value) {
    qx_test::WriteFile(dir_ / "config/tarnwick/qxweb.ini", "[General]\nTempDir=" + value + "\n");
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_ / "config").c_str()};
  std::string root_ = dir_ / "cache";
  std::unique_ptr<PackageHeader> record_;
};

TEST_F(PackageDirectoryTest, EnsureMakesEveryLevelOrOnlyTheDirectoryPart) {
  EXPECT_EQ(EnsurePackageDirectory(root_, "apps\\tools/Demo", true), kPackageOk);
  EXPECT_TRUE(fs::is_directory(root_ + "/apps/tools/Demo"));
  EXPECT_EQ(EnsurePackageDirectory(root_, "lib\\sub\\file.dll", false), kPackageOk);
  EXPECT_TRUE(fs::is_directory(root_ + "/lib/sub"));
  EXPECT_FALSE(fs::exists(root_ + "/lib/sub/file.dll"));
  EXPECT_EQ(EnsurePackageDirectory(root_, "file.dll", false), kPackageOk);
  EXPECT_FALSE(fs::exists(root_ + "/file.dll"));
  // A drive means another system's path: nothing to do, and no failure.
  EXPECT_EQ(EnsurePackageDirectory(root_, "C:\\x", true), kPackageOk);
  EXPECT_EQ(Listing(root_), (std::vector<std::string>{"apps", "lib"}));
  // No relative part names the root itself, which is there.
  EXPECT_EQ(EnsurePackageDirectory(root_, "", true), kPackageOk);

  EXPECT_EQ(EnsurePackageDirectory(dir_ / "missing", "x", true), kPackageFailed);
  EXPECT_FALSE(fs::exists(dir_ / "missing"));
  for (const char* unsafe : {"..\\escape", "a\\..\\..\\escape", "/abs", "a|..|..|escape"}) {
    EXPECT_EQ(EnsurePackageDirectory(root_, unsafe, true), kPackageFailed) << unsafe;
  }
  EXPECT_FALSE(fs::exists(dir_ / "escape"));
  qx_test::WriteFile(root_ + "/plain", "");
  EXPECT_EQ(EnsurePackageDirectory(root_, "plain\\x", true), kPackageFailed);
}

TEST_F(PackageDirectoryTest, SealedHeaderReadAndWrittenBackStillVerifies) {
  HeaderBuilder builder;
  builder.Set(HeaderKey::kVersion, "01.02.03a")
      .Set(HeaderKey::kInstallTo, "apps\\tools")
      .Set(HeaderKey::kReadmeFile, "README.TXT")
      .Set(HeaderKey::kCompanyIdentity, "Yes")
      .Set(HeaderKey::kUpdateOption, "Required")
      .Set(HeaderKey::kComment, "round trip");
  builder.AddFile({"README.TXT", 12, 12, std::string(32, '1')})
      .AddComment(" the program")
      .AddFile(
          {"bin\\demo.exe", 400, 900, std::string(32, '2'), "23:59:58", "02/29/2000", "09.08.07q"});
  ASSERT_EQ(ReadText(builder.Text()), kHeaderOk);
  ASSERT_EQ(record_->package_directory, root_ + "/apps/tools/Demo");
  ASSERT_EQ(WritePackageHeader(record_.get()), kPackageOk);

  const std::string written = root_ + "/apps/tools/Demo/Demo.qxw";
  const std::string text = qx_test::ReadFile(written);
  EXPECT_NE(text.find("; This package was created by Tarnwick Web Sealer\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nRegistryFile: \r\n"), std::string::npos);  // kept: digest covers it
  EXPECT_NE(text.find("\r\nVersion: 01.02.03a\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n; the program\r\n"), std::string::npos);
  EXPECT_NE(text.find("   Version = 09.08.07q; Length = 400; Size = 900; \\\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("\n\n"), std::string::npos);
  EXPECT_EQ(Listing(root_ + "/apps/tools/Demo"), (std::vector<std::string>{"Demo.qxw"}));

  std::unique_ptr<PackageHeader> first = std::move(record_);
  ASSERT_EQ(ReadFrom(written), kHeaderOk);
  const HeaderValues& a = first->values;
  const HeaderValues& b = record_->values;
  EXPECT_EQ(b.version.letter, 'a');
  EXPECT_EQ(b.readme_file, a.readme_file);
  EXPECT_EQ(b.comment, a.comment);
  EXPECT_TRUE(b.update_required);
  EXPECT_TRUE(b.company_identity);
  ASSERT_EQ(record_->entries.size(), 3u);
  EXPECT_EQ(record_->entries[1]->neutral_name, " the program");
  EXPECT_EQ(record_->entries[2]->version.letter, 'q');
  EXPECT_EQ(record_->entries[2]->year, 2000);

  // Writing again replaces the header in place.
  record_->values.command_line = "changed.exe";
  ASSERT_EQ(WritePackageHeader(record_.get()), kPackageOk);
  ASSERT_EQ(ReadFrom(written), kHeaderOk);
  EXPECT_EQ(record_->values.command_line, "changed.exe");
}

TEST_F(PackageDirectoryTest, RegistryFileLineFollowsTheFormatAndTheRecord) {
  HeaderBuilder builder;
  builder.AddFile({"a.txt", 1, 1});
  ASSERT_EQ(ReadText(builder.Text()), kHeaderOk);
  const std::string written = root_ + "/Demo/Demo.qxw";

  // A format 1.0 record of the client's own, without the line or a value.
  record_->values.registry_file_line = false;
  ASSERT_EQ(WritePackageHeader(record_.get()), kPackageOk);
  EXPECT_EQ(qx_test::ReadFile(written).find("RegistryFile"), std::string::npos);

  record_->values.registry_file = "demo.reg";
  ASSERT_EQ(WritePackageHeader(record_.get()), kPackageOk);
  EXPECT_NE(qx_test::ReadFile(written).find("\r\nRegistryFile: demo.reg\r\n"), std::string::npos);

  // Format 2 always has the line.
  HeaderBuilder library;
  library.LibraryForm().AddFile({"a.txt", 1, 1});
  ASSERT_EQ(ReadText(library.Text()), kHeaderOk);
  EXPECT_EQ(record_->values.format_version.major, 2);
  record_->values.registry_file_line = false;
  ASSERT_EQ(WritePackageHeader(record_.get()), kPackageOk);
  EXPECT_EQ(qx_test::ReadFile(written), library.Text());  // byte for byte
}

TEST_F(PackageDirectoryTest, WriterLeavesOutClientStatesThreeAndFour) {
  HeaderBuilder builder;
  builder.AddFile({"one", 1, 1}).AddFile({"two", 2, 2}).AddFile({"three", 3, 3});
  ASSERT_EQ(ReadText(builder.Text()), kHeaderOk);
  record_->entries[0]->state = 3;
  record_->entries[2]->state = 4;
  ASSERT_EQ(WritePackageHeader(record_.get()), kPackageOk);
  EXPECT_EQ(ReadFrom(root_ + "/Demo/Demo.qxw"), kHeaderFailed);  // the digest covered them
  ASSERT_EQ(record_->entries.size(), 1u);
  EXPECT_EQ(record_->entries[0]->name, "two");
}

TEST_F(PackageDirectoryTest, WriterRefusesUnsafeRecordsAndLeavesNoPartialFile) {
  EXPECT_EQ(WritePackageHeader(nullptr), kPackageFailed);
  HeaderBuilder builder;
  builder.AddFile({"a", 1, 1});
  ASSERT_EQ(ReadText(builder.Text()), kHeaderOk);

  PackageHeader unsafe;
  unsafe.values = record_->values;
  unsafe.values.appl_name = "..";
  unsafe.package_directory = root_;
  EXPECT_EQ(WritePackageHeader(&unsafe), kPackageFailed);
  unsafe.values.appl_name = "Demo";
  unsafe.values.install_to = "..\\..";
  unsafe.values.neutral_install_to = "..|..";
  EXPECT_EQ(WritePackageHeader(&unsafe), kPackageFailed);
  EXPECT_EQ(Listing(root_), std::vector<std::string>{});

  // The header's name is taken by a directory: the rename fails, and the
  // temporary file goes again.
  fs::create_directories(root_ + "/Demo/Demo.qxw/inside");
  EXPECT_EQ(WritePackageHeader(record_.get()), kPackageFailed);
  EXPECT_EQ(Listing(root_ + "/Demo"), std::vector<std::string>{"Demo.qxw"});

  SetCacheRoot(dir_ / "no-such-root");
  fs::remove_all(root_ + "/Demo");
  EXPECT_EQ(WritePackageHeader(record_.get()), kPackageFailed);
  EXPECT_FALSE(fs::exists(root_ + "/Demo"));
}

TEST_F(PackageDirectoryTest, TempDirectoryIsClearedAndNamedOnlyWhenConfiguredSafely) {
  EXPECT_EQ(ClearTempDirectory(), 0);  // nothing configured
  EXPECT_EQ(MakeTempFileName(kTempPathSize), "");
  const std::string temp = dir_ / "temp";
  qx_test::WriteFile(temp + "/old.WEB", "x");
  qx_test::WriteFile(temp + "/sub/deeper/file", "y");
  for (const std::string& refused : {std::string("/"), std::string("relative/temp")}) {
    SetTempDir(refused);
    EXPECT_EQ(ClearTempDirectory(), 0) << refused;
    EXPECT_EQ(MakeTempFileName(kTempPathSize), "") << refused;
  }
  // Nor is a directory that holds the client's settings or cache, under
  // whatever spelling: emptying it would take them along.
  fs::create_directory_symlink(dir_.path(), dir_ / "link");
  for (const std::string& holding :
       {dir_ / "config/..", dir_.path() + "//", dir_ / "cache/.", dir_ / "link", root_}) {
    SetTempDir(holding);
    EXPECT_EQ(ClearTempDirectory(), 0) << holding;
  }
  EXPECT_TRUE(fs::exists(temp + "/old.WEB"));
  EXPECT_TRUE(fs::exists(dir_ / "config/tarnwick/qxweb.ini"));

  // A directory others may use, or one without the mark, holds other
  // programs' files: it is never emptied.
  SetTempDir(temp + "\\");
  fs::permissions(temp, fs::perms::owner_all);
  EXPECT_EQ(ClearTempDirectory(), 0);
  ASSERT_TRUE(MakeClientTempDirectory(temp));
  fs::permissions(temp, fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
  EXPECT_EQ(ClearTempDirectory(), 0);
  EXPECT_TRUE(fs::exists(temp + "/old.WEB"));

  fs::permissions(temp, fs::perms::owner_all);
  EXPECT_EQ(ClearTempDirectory(), 1);
  EXPECT_TRUE(fs::is_directory(temp));
  EXPECT_EQ(Listing(temp), std::vector<std::string>{std::string(kTempDirectoryMark)});

  const std::string name = MakeTempFileName(kTempPathSize);
  ASSERT_EQ(name.size(), temp.size() + 1 + 12);
  EXPECT_EQ(name.substr(0, temp.size() + 1), temp + "/");
  EXPECT_EQ(name.substr(name.size() - 4), ".WEB");
  EXPECT_FALSE(fs::exists(name));
  // A path that would not fit is no path at all.
  EXPECT_EQ(MakeTempFileName(name.size()), "");
  EXPECT_EQ(MakeTempFileName(name.size() + 1).size(), name.size());
}

TEST_F(PackageDirectoryTest, ExpandsStoredEntriesIntoFreshTemporaryFiles) {
  const std::string temp = dir_ / "temp";
  fs::create_directories(temp);
  SetTempDir(temp);
  const std::string package = root_ + "/Demo";
  const std::string content = qx_test::TextBytes(20000, 3);
  qx_test::MakePackage(package, "Demo", {{"bin\\demo.txt", content}, {"broken.txt", "abc"}});
  qx_test::WriteFile(package + "/broken.txt", "not a gzip member");
  ASSERT_EQ(ReadFrom(package + "/Demo.qxw"), kHeaderOk);

  FileEntry& good = *record_->entries[0];
  ASSERT_EQ(ExpandEntryToTemp(record_.get(), &good), kPackageOk);
  EXPECT_EQ(good.temp_path.substr(0, temp.size()), temp);
  EXPECT_EQ(qx_test::ReadFile(good.temp_path), content);

  ScriptedUserInterface ui;
  ScopedUserInterface scoped(ui);
  FileEntry& broken = *record_->entries[1];
  EXPECT_EQ(ExpandEntryToTemp(record_.get(), &broken), kPackageFailed);
  EXPECT_EQ(broken.temp_path, "");
  EXPECT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(Listing(temp).size(), 1u);  // only the good one

  FileEntry comment;
  comment.comment = true;
  comment.state = kEntryStateComment;
  comment.name = "bin\\demo.txt";
  EXPECT_EQ(ExpandEntryToTemp(record_.get(), &comment), kPackageFailed);
  FileEntry escaping = good;
  escaping.name = "..\\Demo\\bin\\demo.txt";
  EXPECT_EQ(ExpandEntryToTemp(record_.get(), &escaping), kPackageFailed);
  EXPECT_EQ(ExpandEntryToTemp(nullptr, &good), kPackageFailed);
  EXPECT_EQ(ExpandEntryToTemp(record_.get(), nullptr), kPackageFailed);
  EXPECT_EQ(Listing(temp).size(), 1u);
}

TEST_F(PackageDirectoryTest, DeletingPrunesOnlyEmptiedParents) {
  const std::string base = dir_ / "tree";
  qx_test::WriteFile(base + "/keep.txt", "");
  qx_test::WriteFile(base + "/a/b/c/file.txt", "");
  qx_test::WriteFile(base + "/a/other.txt", "");
  EXPECT_EQ(DeleteFileAndEmptyParents(base + "/a/b/c/file.txt", true), 1);
  EXPECT_FALSE(fs::exists(base + "/a/b"));
  EXPECT_TRUE(fs::exists(base + "/a/other.txt"));

  EXPECT_EQ(DeleteFileAndEmptyParents(base + "/a/other.txt", false), 1);
  EXPECT_TRUE(fs::is_directory(base + "/a"));
  EXPECT_EQ(DeleteFileAndEmptyParents(base + "/a/missing", true), 0);
  EXPECT_TRUE(fs::is_directory(base + "/a"));
  qx_test::WriteFile(base + "/a/last", "");
  EXPECT_EQ(DeleteFileAndEmptyParents(base + "/a/last", true), 1);
  EXPECT_FALSE(fs::exists(base + "/a"));
  EXPECT_TRUE(fs::exists(base + "/keep.txt"));
}

TEST_F(PackageDirectoryTest, StampsLocalTimeInTheDosForm) {
  const std::string path = dir_ / "stamped";
  qx_test::WriteFile(path, "x");
  ASSERT_EQ(SetFileTimeFromEntry(path, 6, 12, 1997, 10, 20, 59), 1);
  struct stat info;
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  std::tm local{};
  localtime_r(&info.st_mtime, &local);
  EXPECT_EQ(local.tm_year + 1900, 1997);
  EXPECT_EQ(local.tm_mon + 1, 12);
  EXPECT_EQ(local.tm_mday, 6);
  EXPECT_EQ(local.tm_hour, 10);
  EXPECT_EQ(local.tm_min, 20);
  EXPECT_EQ(local.tm_sec, 58);  // two-second steps
  EXPECT_EQ(info.st_atime, info.st_mtime);

  EXPECT_EQ(SetFileTimeFromEntry(dir_ / "absent", 6, 12, 1997, 10, 20, 58), -1);
  EXPECT_EQ(SetFileTimeFromEntry(path, 31, 2, 2001, 0, 0, 0), 0);
  EXPECT_EQ(SetFileTimeFromEntry(path, 1, 13, 2001, 0, 0, 0), 0);
  EXPECT_EQ(SetFileTimeFromEntry(path, 0, 1, 2001, 0, 0, 0), 0);
  ASSERT_EQ(::stat(path.c_str(), &info), 0);
  localtime_r(&info.st_mtime, &local);
  EXPECT_EQ(local.tm_year + 1900, 1997);  // failures change nothing

  // Only a regular file is stamped: a FIFO is refused even while a reader
  // waits on it, with which opening it for writing would succeed.
  const std::string fifo = dir_ / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  EXPECT_EQ(SetFileTimeFromEntry(fifo, 6, 12, 1997, 10, 20, 58), -1);
  ::close(reader);
}

}  // namespace
}  // namespace qx
