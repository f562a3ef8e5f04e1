// Tests of launching a cached application (launch layer): expansion of the
// stored files before the start, a failed expansion that changes nothing, the
// program confined to the package and started without a shell, and the
// bitmap size check.
#include "core/launch/launch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "core/cache/cache_registry.h"
#include "core/cache/cache_root.h"
#include "core/platform/file_handle.h"
#include "core/platform/private_profile.h"
#include "tests/support/header_builder.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using Words = std::vector<std::string>;

// Writes its working directory and its arguments, one per line in brackets,
// to ran.txt in its working directory.
constexpr std::string_view kReporter =
    "#!/bin/sh\n{ pwd -P; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } > ran.txt\n";

class LaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(root_);
    fs::create_directories(temp_);
    SetCacheRoot(root_);
    ASSERT_TRUE(WriteProfileString(CacheFilePath(), kGeneralSection, kTempDirKey, temp_));
  }
  void TearDown() override { SetCacheRoot(""); }

  // Makes the package Demo from |files| (stored as gzip members unless listed
  // in |unchanged|) and reads its header with |command_line|.
  void MakeAndRead(const std::vector<std::pair<std::string, std::string>>& files,
                   const std::string& command_line, const Words& unchanged = {}) {
    qx_test::HeaderBuilder builder = qx_test::MakePackage(package_, "Demo", files, unchanged);
    builder.Set(HeaderKey::kCommandLine, command_line);
    if (!unchanged.empty()) {
      builder.Set(HeaderKey::kReadmeFile, unchanged.front());
    }
    builder.AddComment("; not a file");
    builder.Write(package_ + "/Demo.qxw");
    FilePtr file(std::fopen((package_ + "/Demo.qxw").c_str(), "r"));
    ASSERT_TRUE(file);
    FormatVersion version;
    ASSERT_EQ(ReadPackageHeader(file.get(), &version, &record_), kHeaderOk);
    ASSERT_EQ(record_->package_directory, package_);
  }

  // Launches the record and, when it started, waits for the child and
  // returns what it reported.
  std::optional<std::string> Launch(int expected, const Words& extra = {}) {
    pid_t pid = 0;
    LaunchOptions options;
    options.extra_arguments = extra;
    options.process = &pid;
    const int result = LaunchApplication(owner_, record_.get(), options);
    EXPECT_EQ(result, expected);
    if (result != kStartedOk) {
      return std::nullopt;
    }
    int status = -1;
    EXPECT_EQ(::waitpid(pid, &status, 0), pid);
    const std::string report = qx_test::ReadFile(package_ + "/ran.txt");
    fs::remove(package_ + "/ran.txt");
    return report;
  }

  std::string Report(const Words& arguments) const {
    std::string text = fs::canonical(package_).string() + "\n";
    for (const std::string& argument : arguments) {
      text += "[" + argument + "]\n";
    }
    return text;
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_ / "config").c_str()};
  std::string root_ = dir_ / "cache";
  std::string temp_ = dir_ / "temp";
  std::string package_ = root_ + "/Demo";
  std::unique_ptr<PackageHeader> record_;
  int window_ = 0;
  WindowHandle owner_ = &window_;
};

TEST_F(LaunchTest, StoredFilesAreExpandedInPlaceThenTheProgramStartsInThePackage) {
  const std::string data = qx_test::TextBytes(5000, 1);
  MakeAndRead({{"bin\\run.sh", std::string(kReporter)},
               {"data\\note.txt", data},
               {"readme.txt", "stored unchanged"}},
              "  bin\\run.sh -x 'a b'", {"readme.txt"});
  record_->stored_form = true;
  const fs::path before = fs::current_path();
  EXPECT_EQ(Launch(kStartedOk, {"--cached"}), Report({"-x", "a b", "--cached"}));
  EXPECT_EQ(fs::current_path(), before);
  EXPECT_EQ(qx_test::ReadFile(package_ + "/data/note.txt"), data);
  EXPECT_EQ(qx_test::ReadFile(package_ + "/readme.txt"), "stored unchanged");
  EXPECT_TRUE(fs::is_empty(temp_));
  // The expanded program got its execute bits back where it is readable.
  struct stat info;
  ASSERT_EQ(::stat((package_ + "/bin/run.sh").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0111, (info.st_mode & 0444) >> 2);
}

TEST_F(LaunchTest, AFailedExpansionChangesNoStoredFileAndStartsNothing) {
  MakeAndRead({{"run.sh", std::string(kReporter)}, {"b.txt", "bbb"}, {"c.txt", "ccc"}}, "run.sh");
  qx_test::WriteFile(package_ + "/b.txt", "not a gzip member");
  const std::string stored_a = qx_test::ReadFile(package_ + "/run.sh");
  const std::string stored_c = qx_test::ReadFile(package_ + "/c.txt");
  record_->stored_form = true;
  record_->entries[2]->temp_path = "stale";  // cleared before the expansion
  ScriptedUserInterface ui;
  ScopedUserInterface scoped(ui);
  EXPECT_EQ(Launch(kLaunchExpandFailed), std::nullopt);
  EXPECT_FALSE(record_->entries[0]->temp_path.empty());  // expanded, then deleted
  EXPECT_FALSE(qx_test::FileExists(record_->entries[0]->temp_path));
  EXPECT_EQ(record_->entries[2]->temp_path, "");  // never expanded
  EXPECT_TRUE(fs::is_empty(temp_));
  EXPECT_EQ(qx_test::ReadFile(package_ + "/run.sh"), stored_a);
  EXPECT_EQ(qx_test::ReadFile(package_ + "/b.txt"), "not a gzip member");
  EXPECT_EQ(qx_test::ReadFile(package_ + "/c.txt"), stored_c);
  EXPECT_FALSE(qx_test::FileExists(package_ + "/ran.txt"));
}

TEST_F(LaunchTest, TheProgramStaysInsideThePackageAndNoShellSeesItsCommandLine) {
  // Without the stored form, no file is touched before the start.
  MakeAndRead({{"run.sh", std::string(kReporter)}, {"sub\\run.sh", std::string(kReporter)}},
              "run.sh", {"run.sh", "sub\\run.sh"});
  fs::last_write_time(package_ + "/sub/run.sh", fs::file_time_type{});
  ASSERT_EQ(::symlink("/bin/sh", (package_ + "/link").c_str()), 0);
  ASSERT_EQ(::symlink("run.sh", (package_ + "/inner").c_str()), 0);
  const struct {
    std::string command_line;
    int result;
    std::optional<Words> arguments;
  } cases[] = {
      {"run.sh ; touch pwned $(touch pwned2) > out", kStartedOk,
       Words{";", "touch", "pwned", "$(touch", "pwned2)", ">", "out"}},
      {"sub\\run.sh", kStartedOk, Words{}},  // nothing after the program
      {"run.sh a", kStartedOk, Words{"a"}},
      {"./inner a", kStartedOk, Words{"a"}},  // a link that stays inside
      {"/bin/sh -c 'touch pwned'", kStartAccessDenied, std::nullopt},
      {"\\bin\\sh", kStartAccessDenied, std::nullopt},
      {"C:\\run.sh", kStartAccessDenied, std::nullopt},
      {"../Demo/run.sh", kStartAccessDenied, std::nullopt},
      {"sub/../../Demo/run.sh", kStartAccessDenied, std::nullopt},
      {"link -c 'touch pwned'", kStartAccessDenied, std::nullopt},
      {"sub", kStartAccessDenied, std::nullopt},
      {"missing", kStartNotFound, std::nullopt},
      {"sh", kStartNotFound, std::nullopt},  // never looked up along PATH
      {"", kStartNothing, std::nullopt},
      {"   ", kStartNothing, std::nullopt},
  };
  for (const auto& c : cases) {
    record_->values.command_line = c.command_line;
    const std::optional<std::string> report = Launch(c.result);
    EXPECT_EQ(report, c.arguments ? std::optional(Report(*c.arguments)) : std::nullopt)
        << c.command_line;
  }
  for (const char* name : {"pwned", "pwned2", "out"}) {
    EXPECT_FALSE(qx_test::FileExists(package_ + "/" + name)) << name;
    EXPECT_FALSE(qx_test::FileExists(name)) << name;
  }
  EXPECT_EQ(fs::last_write_time(package_ + "/sub/run.sh"), fs::file_time_type{});
  EXPECT_EQ(qx_test::ReadFile(package_ + "/sub/run.sh"), kReporter);
  EXPECT_EQ(LaunchApplication(nullptr, record_.get()), kLaunchRefused);
  EXPECT_EQ(LaunchApplication(owner_, nullptr), kLaunchRefused);
}

TEST(CheckBitmapSize, OnlyAnOpenModuleWithThatBitmapInExactlyThatSizePasses) {
  auto source = std::make_shared<MemoryBitmapSource>();
  Bitmap logo;
  logo.width = 16;
  logo.height = 8;
  source->Add("logo", logo);
  const ModuleHandle module = OpenBitmapModule(source);
  const ModuleHandle closed = OpenBitmapModule(source);
  CloseBitmapModule(closed);
  EXPECT_EQ(CheckBitmapSize(module, "logo", 16, 8), 0);
  for (const auto& [handle, name, width, height] : {std::tuple{module, "logo", 16, 9},
                                                    {module, "logo", 15, 8},
                                                    {module, "none", 16, 8},
                                                    {module, nullptr, 16, 8},
                                                    {0, "logo", 16, 8},
                                                    {closed, "logo", 16, 8}}) {
    EXPECT_EQ(CheckBitmapSize(handle, name, width, height), -1) << handle << " " << width;
  }
  CloseBitmapModule(module);
}

}  // namespace
}  // namespace qx
