// Tests of the configuration directory (platform layer): which variable it
// comes from, and making it for a file's path.
#include "core/platform/config_directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "tests/support/test_support.h"

namespace qx {
namespace {

// Sets an environment variable for one test and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) {
      old_ = old;
    }
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(ConfigDirectory, PrefersXdgConfigHomeThenHome) {
  ScopedEnv xdg("XDG_CONFIG_HOME", "/x/config");
  ScopedEnv home("HOME", "/home/u");
  EXPECT_EQ(ConfigDirectory(), "/x/config/tarnwick/");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(ConfigDirectory(), "/home/u/.config/tarnwick/");
  ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);  // not absolute: ignored
  EXPECT_EQ(ConfigDirectory(), "/home/u/.config/tarnwick/");

  ScopedEnv data("XDG_DATA_HOME", "/x/data/");
  EXPECT_EQ(DataDirectory(), "/x/data/tarnwick/");
  ::unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(DataDirectory(), "/home/u/.local/share/tarnwick/");
}

TEST(ConfigDirectory, FilePathCreatesTheDirectory) {
  qx_test::TempDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", (dir / "a/b").c_str());
  const std::string path = ConfigFilePath("qxweb.ini");
  EXPECT_EQ(path, dir / "a/b/tarnwick/qxweb.ini");
  struct stat st {};
  ASSERT_EQ(::stat((dir / "a/b/tarnwick").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
}

TEST(ConfigDirectory, NoDirectoryWithoutEnvironment) {
  ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
  ScopedEnv home("HOME", nullptr);
  EXPECT_EQ(ConfigDirectory(), "");
  EXPECT_EQ(ConfigFilePath("x.ini"), "");
}

}  // namespace
}  // namespace qx
