// Tests of the directory trees (file-system utility layer): making paths,
// listing, sizing and removing trees, and never following links.
#include "core/fsutil/directory_tree.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::FileExists;
using qx_test::WriteFile;

bool IsDirectory(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void MakeDirectory(const std::string& path) {
  ASSERT_EQ(::mkdir(path.c_str(), 0777), 0) << path;
}

// The zero-ended texts of |list| from |begin| to |end|.
std::vector<std::string> Texts(const std::string& list, size_t begin, size_t end) {
  std::vector<std::string> texts;
  while (begin < end) {
    texts.emplace_back(list.c_str() + begin);
    begin += texts.back().size() + 1;
  }
  return texts;
}

TEST(CreateDirectoryPath, CreatesEveryMissingLevelWithEitherSeparator) {
  qx_test::TempDir dir;
  MakeDirectory(dir / "a");
  std::string path = dir.path() + "\\a/b\\c";
  EXPECT_TRUE(CreateDirectoryPath(path));
  EXPECT_EQ(path, dir.path() + "\\a/b\\c");
  EXPECT_TRUE(IsDirectory(dir / "a/b/c"));
  EXPECT_FALSE(FileExists(dir.path() + "\\a"));  // a "\" never becomes part of a name

  std::string trailing = dir / "x/y/";
  EXPECT_TRUE(CreateDirectoryPath(trailing));
  EXPECT_TRUE(IsDirectory(dir / "x/y"));
  std::string existing = dir / "a/b";
  EXPECT_TRUE(CreateDirectoryPath(existing));
}

TEST(CreateDirectoryPath, LeavesTheTextCutAtTheDirectoryThatFailed) {
  qx_test::TempDir dir;
  WriteFile(dir / "a/file", "x");
  std::string path = dir / "a/file/sub/deeper";
  EXPECT_FALSE(CreateDirectoryPath(path));
  EXPECT_EQ(path, dir / "a/file");
  EXPECT_FALSE(FileExists(dir / "a/file/sub"));

  std::string last_level = dir.path() + "\\a\\file";
  EXPECT_FALSE(CreateDirectoryPath(last_level));
  EXPECT_EQ(last_level, dir.path() + "\\a\\file");

  // Levels made before the failure stay.
  std::string deeper = dir / "fresh/level/x";
  WriteFile(dir / "fresh/level/x", "z");
  deeper += "/y";
  EXPECT_FALSE(CreateDirectoryPath(deeper));
  EXPECT_EQ(deeper, dir / "fresh/level/x");
  EXPECT_TRUE(IsDirectory(dir / "fresh/level"));
}

TEST(DirectoryExists, OnlyForListableDirectories) {
  qx_test::TempDir dir;
  WriteFile(dir / "d/file", "x");
  EXPECT_TRUE(DirectoryExists(dir / "d"));
  EXPECT_TRUE(DirectoryExists(dir.path() + "\\d"));
  EXPECT_TRUE(DirectoryExists(dir / "d/"));
  EXPECT_FALSE(DirectoryExists(dir / "d/file"));
  EXPECT_FALSE(DirectoryExists(dir / "missing"));
  EXPECT_TRUE(DirectoryExists(""));  // the root, as a lone separator names it
}

TEST(IsSameOrInsideDirectory, ComparesAsTheFileSystemSees) {
  qx_test::TempDir dir;
  const std::string src = dir.path() + "/src";
  ASSERT_EQ(::mkdir(src.c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((src + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(::mkdir((dir.path() + "/other").c_str(), 0755), 0);
  ASSERT_EQ(::symlink(src.c_str(), (dir.path() + "/link").c_str()), 0);
  const struct {
    std::string inner;
    std::string outer;
    bool inside;
  } cases[] = {
      {src, src, true},
      {src + "/.", src, true},
      {src + "//", src, true},
      {dir.path() + "/link", src, true},
      {src, dir.path() + "/link/", true},
      {src + "/sub", src, true},
      {src + "/sub/not/yet", src, true},
      {dir.path() + "/link/new", src, true},
      {src + "/sub/..", src, true},
      {dir.path() + "/other", src, false},
      {dir.path() + "/srcx", src, false},
      {dir.path(), src, false},
      {src + "/sub", src + "/missing", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsSameOrInsideDirectory(c.inner, c.outer), c.inside) << c.inner << " in " << c.outer;
  }
}

TEST(ListDirectoryTree, WritesNestedTextsAndCounts) {
  qx_test::TempDir dir;
  WriteFile(dir / "a", "12345");
  WriteFile(dir / "d/b", "123");
  std::string list = "keep";
  list += '\0';
  size_t offset = list.size();
  int subdirectories = 5;
  uint64_t total = 10;
  EXPECT_EQ(ListDirectoryTree(dir.path() + "/", list, offset, subdirectories, total), 2);
  EXPECT_EQ(subdirectories, 6);
  EXPECT_EQ(total, 18u);
  EXPECT_EQ(offset, list.size());
  EXPECT_EQ(Texts(list, 0, 5), std::vector<std::string>{"keep"});
  const std::vector<std::string> texts = Texts(list, 5, offset);
  const std::vector<std::string> file_first = {"a", "{d", "b", "}d"};
  const std::vector<std::string> directory_first = {"{d", "b", "}d", "a"};
  EXPECT_TRUE(texts == file_first || texts == directory_first) << ::testing::PrintToString(texts);
}

TEST(ListDirectoryTree, GrowsTheListAndNeverEntersLinks) {
  qx_test::TempDir dir;
  qx_test::TempDir outside;
  WriteFile(outside / "secret", std::string(1000, 's'));
  const std::string tree = dir / "tree";
  for (int i = 0; i < 200; ++i) {
    const std::string name = "level/file-with-a-long-name-" + std::to_string(i);
    WriteFile(tree + "/" + name, "x");
  }
  MakeDirectory(tree + "/empty");
  ASSERT_EQ(::symlink(outside.path().c_str(), (tree + "/link").c_str()), 0);
  std::string list;
  size_t offset = 0;
  int subdirectories = 0;
  uint64_t total = 0;
  EXPECT_EQ(ListDirectoryTree(tree + "\\", list, offset, subdirectories, total), 201);
  EXPECT_EQ(subdirectories, 2);
  EXPECT_EQ(total, 200u + outside.path().size());  // the link counts as itself
  const std::vector<std::string> texts = Texts(list, 0, offset);
  EXPECT_EQ(texts.size(), 200u + 2 + 2 + 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "link"), 1);
  EXPECT_EQ(std::count(texts.begin(), texts.end(), "secret"), 0);

  offset = 0;
  EXPECT_EQ(ListDirectoryTree(dir / "missing/", list, offset, subdirectories, total), kTreeFailed);
  EXPECT_EQ(offset, 0u);
}

TEST(GetDirectoryTreeSize, AddsEveryFileOnceInSixtyFourBits) {
  qx_test::TempDir dir;
  qx_test::TempDir outside;
  WriteFile(outside / "big", std::string(5000, 'b'));
  WriteFile(dir / "one", "1");
  WriteFile(dir / "sub/two", "22");
  WriteFile(dir / "sub/deeper/three", "333");
  // Beyond 32 bits without using the space: a sparse file.
  const std::string sparse = dir / "sub/sparse";
  const int fd = ::open(sparse.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const off_t sparse_size = off_t{5} << 30;
  ASSERT_EQ(::ftruncate(fd, sparse_size), 0);
  ::close(fd);
  ASSERT_EQ(::symlink(outside.path().c_str(), (dir / "link").c_str()), 0);

  uint64_t total = 100;
  EXPECT_EQ(GetDirectoryTreeSize(dir.path(), total), kTreeOk);
  EXPECT_EQ(total, 100u + 6 + static_cast<uint64_t>(sparse_size) + outside.path().size());

  total = 7;
  EXPECT_EQ(GetDirectoryTreeSize(dir / "missing", total), kTreeOk);
  EXPECT_EQ(total, 7u);
}

TEST(RemoveDirectoryTree, EmptiesOrRemovesTheDirectory) {
  qx_test::TempDir dir;
  const std::string tree = dir / "tree";
  WriteFile(tree + "/f", "x");
  WriteFile(tree + "/s/g", "y");
  WriteFile(tree + "/s/t/h", "z");
  MakeDirectory(tree + "/empty");
  std::vector<std::string> visited;
  auto record = [&visited](int code, std::string_view path) {
    EXPECT_EQ(code, kTreeCallbackCode);
    visited.emplace_back(path);
    return true;
  };
  EXPECT_TRUE(RemoveDirectoryTree(tree, record, false));
  EXPECT_TRUE(IsDirectory(tree));
  EXPECT_TRUE(::rmdir(tree.c_str()) == 0);  // only an empty directory goes this way
  std::sort(visited.begin(), visited.end());
  EXPECT_EQ(visited, (std::vector<std::string>{tree + "/empty", tree + "/s", tree + "/s/t"}));

  WriteFile(tree + "/s/g", "y");
  EXPECT_TRUE(RemoveDirectoryTree(dir.path() + "\\tree", nullptr, true));
  EXPECT_FALSE(FileExists(tree));
  EXPECT_FALSE(RemoveDirectoryTree(tree, nullptr, false));  // nothing to list
}

TEST(RemoveDirectoryTree, StopsWhenTheCallbackSaysSo) {
  qx_test::TempDir dir;
  const std::string tree = dir / "tree";
  WriteFile(tree + "/s/keep", "x");
  WriteFile(tree + "/s/inner/keep", "y");
  int calls = 0;
  auto stop = [&calls](int, std::string_view) {
    ++calls;
    return false;
  };
  EXPECT_FALSE(RemoveDirectoryTree(tree, stop, true));
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(FileExists(tree + "/s/keep"));
  EXPECT_TRUE(FileExists(tree + "/s/inner/keep"));
}

TEST(RemoveDirectoryTree, RemovesLinksNotWhatTheyPointAt) {
  qx_test::TempDir dir;
  qx_test::TempDir outside;
  WriteFile(outside / "precious/data", "keep me");
  WriteFile(outside / "file", "keep me too");
  const std::string tree = dir / "tree";
  WriteFile(tree + "/sub/x", "x");
  ASSERT_EQ(::symlink((outside / "precious").c_str(), (tree + "/dirlink").c_str()), 0);
  ASSERT_EQ(::symlink((outside / "file").c_str(), (tree + "/sub/filelink").c_str()), 0);
  ASSERT_EQ(::symlink("nowhere", (tree + "/dangling").c_str()), 0);
  int calls = 0;
  auto count = [&calls](int, std::string_view) {
    ++calls;
    return true;
  };
  EXPECT_TRUE(RemoveDirectoryTree(tree, count, true));
  EXPECT_EQ(calls, 1);  // "sub" only: a link to a directory is no sub-directory
  EXPECT_FALSE(FileExists(tree));
  EXPECT_EQ(qx_test::ReadFile(outside / "precious/data"), "keep me");
  EXPECT_EQ(qx_test::ReadFile(outside / "file"), "keep me too");
}

TEST(YieldToWindowSystem, DeliversEventsAndGoesOn) {
  ScriptedUserInterface ui;
  ScopedUserInterface scope(ui);
  qx_test::TempDir dir;
  WriteFile(dir / "tree/a/b/file", "x");
  MakeDirectory(dir / "tree/c");
  EXPECT_TRUE(RemoveDirectoryTree(dir / "tree", YieldToWindowSystem, true));
  EXPECT_EQ(ui.deliveries(), 3);
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_FALSE(FileExists(dir / "tree"));
}

}  // namespace
}  // namespace qx
