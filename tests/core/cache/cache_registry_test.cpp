// Tests of the cache registry (cache layer): record defaults, case-blind reads
// cut at the buffer sizes, and the temporary directory setting.
#include "core/cache/cache_registry.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/scoped_env.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

class CacheRegistryTest : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text) {
    qx_test::WriteFile(dir_.path() + "/tarnwick/qxweb.ini", text);
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", dir_.path().c_str()};
};

TEST_F(CacheRegistryTest, MissingKeysReadAsTheRecordDefaults) {
  CachedApplication app;
  app.name = "untouched";
  EXPECT_EQ(ReadApplication("apps\\Demo", &app), 1);  // no file at all
  EXPECT_EQ(app.name, "untouched");
  EXPECT_EQ(app.compressed, "Yes");
  EXPECT_EQ(app.delete_mark, "No");
  EXPECT_EQ(app.owner, "");
  EXPECT_EQ(app.compressed_size, 0);
  EXPECT_EQ(CacheFilePath(), dir_.path() + "/tarnwick/qxweb.ini");
}

TEST_F(CacheRegistryTest, ReadsASectionWithoutCaseAndCutsAtTheBufferSizes) {
  WriteIni(
      "[General]\r\nTempDir=/var/tmp/qx\\\r\n"
      "[APPS\\demo]\r\nOwner=" +
      std::string(200, 'o') +
      "\r\nVersion=01.02.03abcdef\r\nCommandLine=run.exe\r\nCompressed=No\r\n"
      "DeleteCache=Yes\r\nCompressedSize=123456789012\r\nUncompressSize=-7x\r\n");
  CachedApplication app;
  ReadApplication("apps\\Demo", &app);
  EXPECT_EQ(app.owner, std::string(kCachedOwnerSize - 1, 'o'));
  EXPECT_EQ(app.version, "01.02.03a");
  EXPECT_EQ(app.command_line, "run.exe");
  EXPECT_EQ(app.compressed, "No");
  EXPECT_EQ(app.delete_mark, "Yes");
  EXPECT_EQ(app.compressed_size, 123456789012);
  EXPECT_EQ(app.uncompressed_size, -7);

  std::string temp;
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, &temp), 1);
  EXPECT_EQ(temp, "/var/tmp/qx");  // one trailing separator removed
}

TEST_F(CacheRegistryTest, TempDirSettingIsZeroWhenNothingIsRead) {
  std::string temp = "old";
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, &temp), 0);
  WriteIni("[General]\nTempDir=\n");
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, &temp), 0);
  EXPECT_EQ(ReadTempDirSetting(kTempDirSettingSize, nullptr), 0);
}

}  // namespace
}  // namespace qx
