#include "core/format/package_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace qx {
namespace {

TEST(PackagePaths, CacheRootIsCutAt260Characters) {
  SetCacheRoot("/var/cache/qx");
  EXPECT_EQ(GetCacheRoot(), "/var/cache/qx");
  SetCacheRoot(std::string(300, 'r'));
  EXPECT_EQ(GetCacheRoot(), std::string(260, 'r'));
  SetCacheRoot("");
  EXPECT_EQ(GetCacheRoot(), "");
}

TEST(PackagePaths, ReferencesAndUrls) {
  EXPECT_TRUE(IsRelativeReference("apps\\demo.qxw"));
  EXPECT_FALSE(IsRelativeReference("C:\\apps"));
  EXPECT_FALSE(IsRelativeReference("http://host/x"));
  EXPECT_TRUE(IsFileUrl("file:///tmp/x"));
  EXPECT_FALSE(IsFileUrl("FILE:///tmp/x"));
  EXPECT_FALSE(IsFileUrl("file:"));
}

TEST(PackagePaths, Extension) {
  EXPECT_EQ(PathExtension(".profile"), "");
  EXPECT_EQ(PathExtension("a.b.c"), "c");
  EXPECT_EQ(PathExtension("dir.x\\file"), "x\\file");  // not stopped by separators
  EXPECT_EQ(PathExtension("noext"), "");
  EXPECT_EQ(PathExtension("trailing."), "");
}

TEST(PackagePaths, FileBaseAndDirectory) {
  EXPECT_EQ(PathFileName("a/b\\c.txt"), "c.txt");
  EXPECT_EQ(PathFileName("c.txt"), "c.txt");
  EXPECT_EQ(PathFileName("dir\\"), "");
  EXPECT_EQ(PathBaseName("C:\\apps\\demo\\run.exe"), "run");
  EXPECT_EQ(PathBaseName("/x/archive.tar.gz"), "archive.tar");
  EXPECT_EQ(PathBaseName("/x/.profile"), ".profile");
  EXPECT_EQ(PathDirectory("C:\\apps\\demo\\run.exe"), "C:\\apps\\demo");
  EXPECT_EQ(PathDirectory("/srv/apps/run"), "/srv/apps");
  EXPECT_EQ(PathDirectory("run.exe"), "");
}

TEST(PackagePaths, NeutralNamesRoundTripWithEitherSeparator) {
  EXPECT_EQ(NeutralPath("a\\b/c"), "a|b|c");
  std::string dest = "C:\\cache\\";
  EXPECT_EQ(AppendNeutralPath("\\", dest, "apps|demo"), "C:\\cache\\apps\\demo");
  std::string native = "/cache/";
  EXPECT_EQ(AppendNeutralPath("/", native, NeutralPath("apps\\demo")), "/cache/apps/demo");
  std::string unchanged = "x";
  EXPECT_EQ(AppendNeutralPath("", unchanged, "a|b"), "x");
}

TEST(PackagePaths, HtmAndHeaderExtensionsIgnoreCase) {
  EXPECT_TRUE(IsHtmPath("Demo.HTM"));
  EXPECT_FALSE(IsHtmPath("Demo.html"));
  EXPECT_TRUE(IsHeaderPath("/x/Demo.QxW"));
  EXPECT_FALSE(IsHeaderPath("Demo.qxs"));
}

TEST(PackagePaths, UnsafeNamesAreRecognised) {
  for (const char* bad : {"", "..\\x", "a\\..\\..\\x", "/etc/x", "\\x", "C:x", "C:\\x", "a\\.\\b",
                          "a\\\\b", "a\\", "..", "x\ty", "a:b", "..|x", "a|b"}) {
    EXPECT_FALSE(IsSafeRelativeName(bad)) << bad;
  }
  for (const char* good : {"x", "bin\\demo.exe", "a/b/c.txt", "..x", "x..", "a b\\c"}) {
    EXPECT_TRUE(IsSafeRelativeName(good)) << good;
  }
  EXPECT_EQ(JoinNativePath("/out", "bin\\demo.exe"), "/out/bin/demo.exe");
  EXPECT_EQ(JoinNativePath("/out/", "a/b"), "/out/a/b");
}

}  // namespace
}  // namespace qx
