// Tests of the command-line tool: whole-program runs of "qxweb cache" on a
// package sealed by "qxweb seal": install, list, launch, mark, sweep, remove,
// and installs that must change nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

namespace fs = std::filesystem;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::ShellQuote;

// Writes where it ran, its arguments one per line, and exits with 7.
constexpr const char* kProbe =
    "#!/bin/sh\n"
    "{ pwd; for a in \"$@\"; do echo \"[$a]\"; done; } > ran.txt\n"
    "exit 7\n";

class QxwebCacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    qx_test::WriteFile(src_ + "/bin/probe", kProbe);
    ASSERT_EQ(Seal().status, 0);
  }

  // Runs qxweb with the test's own configuration and data directories.
  CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
                               " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " " +
                               ShellQuote(qx_test::QxwebPath()) + " " + arguments + " </dev/null");
  }

  CommandResult Seal() {
    CommandResult made =
        Qxweb("new " + ShellQuote(project_) + " --force --name Demo --command-line " +
              ShellQuote("bin/probe 'two words' $HOME ; touch pwned > out") + " --seal-from " +
              ShellQuote(src_) + " --put-to " + ShellQuote(out_) + " --install-to apps/demo");
    EXPECT_EQ(made.status, 0) << made.err;
    CommandResult sealed = Qxweb("seal --scan --create-put-to " + ShellQuote(project_));
    EXPECT_EQ(sealed.status, 0) << sealed.err;
    return sealed;
  }

  // Every file and directory under the cache root but the cache's own tag
  // and work area.
  std::vector<std::string> CacheContents() const {
    std::vector<std::string> found;
    if (fs::exists(root_)) {
      for (const auto& item : fs::recursive_directory_iterator(root_)) {
        const std::string relative = fs::relative(item.path(), root_).string();
        if (relative != "CACHEDIR.TAG" && relative.rfind(".qxweb", 0) != 0) {
          found.push_back(relative);
        }
      }
    }
    return found;
  }

  qx_test::TempDir dir_;
  const std::string src_ = dir_ / "src";
  const std::string out_ = dir_ / "out";
  const std::string project_ = dir_ / "demo.QXS";
  const std::string root_ = dir_ / "data/tarnwick/cache";
  const std::string package_ = root_ + "/apps/demo/Demo";
};

TEST_F(QxwebCacheTest, InstallLaunchMarkAndSweepLeaveNothingBehind) {
  CommandResult install = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
  ASSERT_EQ(install.status, 0) << install.err;
  EXPECT_NE(install.out.find("apps\\demo\\Demo: installed 9 files into " + package_),
            std::string::npos)
      << install.out;
  CommandResult list = Qxweb("cache list");
  EXPECT_NE(list.out.find("apps\\demo\\Demo  01.00.00   stored"), std::string::npos) << list.out;
  EXPECT_NE(ReadFile(dir_ / "config/tarnwick/registry.ini")
                .find("[Software\\TARNWICK\\Tarnwick WEB\\apps\\demo\\Demo]"),
            std::string::npos);

  // The command line's words reach the program as they are, with the extra
  // arguments behind them; no shell sees them.
  CommandResult launch = Qxweb("cache launch demo -- 'x y'");
  EXPECT_EQ(launch.status, 7) << launch.err;
  EXPECT_EQ(ReadFile(package_ + "/ran.txt"),
            package_ + "\n[two words]\n[$HOME]\n[;]\n[touch]\n[pwned]\n[>]\n[out]\n[x y]\n");
  EXPECT_FALSE(fs::exists(package_ + "/pwned"));
  EXPECT_FALSE(fs::exists(package_ + "/out"));
  EXPECT_EQ(ReadFile(package_ + "/data/tasks.csv"), ReadFile(src_ + "/data/tasks.csv"));
  EXPECT_NE(Qxweb("cache list").out.find("expanded"), std::string::npos);
  EXPECT_EQ(Qxweb("cache launch Demo").status, 7);  // expanded files are not expanded again

  // Without a terminal and without --yes nothing is asked and nothing
  // changes: the mark stays.
  ASSERT_EQ(Qxweb("cache mark Demo").status, 0);
  const std::string registry = ReadFile(dir_ / "config/tarnwick/qxweb.ini");
  EXPECT_NE(
      Qxweb("cache sweep")
          .out.find("1 application is marked for deletion; qxweb cache sweep --yes removes it"),
      std::string::npos);
  EXPECT_TRUE(fs::exists(package_ + "/bin/probe"));
  EXPECT_EQ(ReadFile(dir_ / "config/tarnwick/qxweb.ini"), registry);
  CommandResult sweep = Qxweb("cache sweep --yes");
  EXPECT_EQ(sweep.status, 0) << sweep.err;
  EXPECT_NE(sweep.out.find("apps\\demo\\Demo: removed"), std::string::npos) << sweep.out;
  EXPECT_EQ(CacheContents(), std::vector<std::string>());
  EXPECT_NE(Qxweb("cache list").out.find("no applications cached"), std::string::npos);
  EXPECT_EQ(ReadFile(dir_ / "config/tarnwick/registry.ini").find("Demo"), std::string::npos);
}

TEST_F(QxwebCacheTest, ANewVersionReplacesTheOldOneAndRemoveTakesEverything) {
  ASSERT_EQ(Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw")).status, 0);
  EXPECT_EQ(Qxweb("cache launch Demo").status, 7);
  qx_test::WriteFile(src_ + "/data/tasks.csv", "title,owner,due\nNew task,Eve,01/02/2027\n");
  ASSERT_EQ(Seal().status, 0);
  CommandResult again = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
  ASSERT_EQ(again.status, 0) << again.err;
  EXPECT_NE(again.out.find("replaced the cached version"), std::string::npos) << again.out;
  EXPECT_FALSE(fs::exists(package_ + "/ran.txt"));  // the old version's files are gone
  EXPECT_NE(Qxweb("cache list").out.find("stored"), std::string::npos);
  EXPECT_EQ(Qxweb("cache launch Demo").status, 7);
  EXPECT_EQ(ReadFile(package_ + "/data/tasks.csv"), ReadFile(src_ + "/data/tasks.csv"));
  EXPECT_EQ(Qxweb("cache list").out.find("Demo  "), Qxweb("cache list").out.rfind("Demo  "));

  CommandResult remove = Qxweb("cache remove 'apps\\demo\\Demo'");
  EXPECT_EQ(remove.status, 0) << remove.err;
  EXPECT_EQ(CacheContents(), std::vector<std::string>());
  CommandResult unknown = Qxweb("cache remove Demo");
  EXPECT_EQ(unknown.status, 1);
  EXPECT_NE(unknown.err.find("no cached application is named \"Demo\""), std::string::npos);
}

// A package that fails verification is not installed: nothing is recorded,
// nothing is left in the cache, and an installed version stays as it was.
TEST_F(QxwebCacheTest, APackageThatFailsVerificationChangesNothing) {
  struct Damage {
    const char* what;
    const char* expected;
    std::function<void(const std::string& out)> apply;
  };
  const std::vector<Damage> damages = {
      {"tampered", "data\\tasks.csv: digest mismatch",
       [](const std::string& out) {
         std::string bytes = ReadFile(out + "/data/tasks.csv");
         bytes[bytes.size() / 2] ^= 0x20;
         qx_test::WriteFile(out + "/data/tasks.csv", bytes);
       }},
      {"truncated", "bin\\planner: length",
       [](const std::string& out) { fs::resize_file(out + "/bin/planner", 10); }},
      {"missing", "docs\\manual.txt: missing",
       [](const std::string& out) { fs::remove(out + "/docs/manual.txt"); }},
      {"header", "corrupt (the header digest does not match)",
       [](const std::string& out) {
         std::string header = ReadFile(out + "/Demo.qxw");
         header.replace(header.find("Copyright: copyright"), 20, "Copyright: copyleft");
         qx_test::WriteFile(out + "/Demo.qxw", header);
       }},
  };
  ASSERT_EQ(Qxweb("cache root").status, 0);  // settings made before anything is compared
  for (const bool installed_before : {false, true}) {
    for (const Damage& damage : damages) {
      SCOPED_TRACE(std::string(damage.what) + (installed_before ? " over an installed one" : ""));
      ASSERT_EQ(Seal().status, 0);
      if (installed_before) {
        ASSERT_EQ(Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw")).status, 0);
      }
      const std::vector<std::string> before = CacheContents();
      const std::string registry_before = ReadFile(dir_ / "config/tarnwick/qxweb.ini");
      damage.apply(out_);
      CommandResult install = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
      EXPECT_EQ(install.status, 1);
      EXPECT_NE(install.err.find(damage.expected), std::string::npos) << install.err;
      EXPECT_NE(install.err.find("not installed"), std::string::npos);
      EXPECT_EQ(CacheContents(), before);  // no staging directory left either
      EXPECT_EQ(ReadFile(dir_ / "config/tarnwick/qxweb.ini"), registry_before);
      if (installed_before) {
        EXPECT_EQ(Qxweb("cache launch Demo").status, 7);
        ASSERT_EQ(Qxweb("cache remove Demo").status, 0);
      }
    }
  }
}

}  // namespace
