// Tests of the package path operations (format layer): references, URLs,
// extensions, file, base and directory names.
#include "core/format/package_paths.h"

#include <gtest/gtest.h>

#include <string>

namespace qx {
namespace {

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

TEST(PackagePaths, HtmAndHeaderExtensionsIgnoreCase) {
  EXPECT_TRUE(IsHtmPath("Demo.HTM"));
  EXPECT_FALSE(IsHtmPath("Demo.html"));
  EXPECT_TRUE(IsHeaderPath("/x/Demo.QxW"));
  EXPECT_FALSE(IsHeaderPath("Demo.qxs"));
}

}  // namespace
}  // namespace qx
