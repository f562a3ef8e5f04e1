// Tests of the private-profile INI files (platform layer): reads, writes that
// keep every other line, refused texts, and atomic replacement.
#include "core/platform/private_profile.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::ReadFile;
using qx_test::WriteFile;

std::string Read(const std::string& path, std::string_view section, std::string_view key,
                 std::string_view default_value = "", size_t size = 256) {
  std::string out = "garbage";
  const size_t count = ReadProfileString(path, section, key, default_value, size, out);
  EXPECT_EQ(count, out.size());
  return out;
}

std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

TEST(PrivateProfile, MissingFileReadsDefaultsAndIsNotCreatedByReadsOrDeletions) {
  qx_test::TempDir dir;
  const std::string path = dir / "none.ini";
  EXPECT_EQ(Read(path, "General", "Root", "C:\\dflt  "), "C:\\dflt");  // trailing blanks go
  EXPECT_EQ(Read(path, "General", "Root", "abcdef", 4), "abc");
  EXPECT_EQ(ReadProfileInt(path, "General", "ApplCount", 7), 7);
  EXPECT_TRUE(ReadProfileKeys(path, "General").empty());
  EXPECT_TRUE(ReadProfileSections(path).empty());
  EXPECT_TRUE(WriteProfileString(path, "General", "Root", std::nullopt));
  EXPECT_TRUE(WriteProfileString(path, "General", std::nullopt, std::nullopt));
  EXPECT_FALSE(qx_test::FileExists(path));
  // A path below a regular file reads as missing, too.
  WriteFile(dir / "file", "x");
  EXPECT_EQ(Read(dir / "file/a.ini", "S", "K", "d"), "d");
}

TEST(PrivateProfile, NewFileGetsCrLfAndKeysGoIntoTheirSection) {
  qx_test::TempDir dir;
  const std::string path = dir / "new.ini";
  ASSERT_TRUE(WriteProfileString(path, "General", "Root", "C:\\cache"));
  EXPECT_EQ(ReadFile(path), "[General]\r\nRoot=C:\\cache\r\n");
  ASSERT_TRUE(WriteProfileString(path, "Splash Screens", "Splash", "x"));
  ASSERT_TRUE(WriteProfileString(path, "general", "TempDir", "  /tmp  "));  // value trimmed
  EXPECT_EQ(ReadFile(path),
            "[General]\r\nRoot=C:\\cache\r\nTempDir=/tmp\r\n\r\n[Splash Screens]\r\nSplash=x\r\n");
  EXPECT_EQ(Read(path, "GENERAL", "tempdir"), "/tmp");
  EXPECT_EQ(ReadProfileSections(path), (std::vector<std::string>{"General", "Splash Screens"}));
  // Only the temporary file's rename creates the file: nothing is left beside it.
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"new.ini"});
}

TEST(PrivateProfile, ReadsWithoutCaseTrimmedAndCutToTheBuffer) {
  qx_test::TempDir dir;
  const std::string path = dir / "a.ini";
  WriteFile(path,
            "; leading comment\n"
            "orphan=ignored\n"
            "  [ Main ]  \n"
            "  Key One  =   a=b = c  \n"
            "Empty=\n"
            "NoEquals\n"
            "; Hidden=1\n"
            "=nameless\n"
            "Tabbed\t=\tv\t\r\n");
  EXPECT_EQ(Read(path, "main", "KEY ONE"), "a=b = c");
  EXPECT_EQ(Read(path, "MAIN", "empty", "dflt"), "");  // present but empty: not the default
  EXPECT_EQ(Read(path, "Main", "tabbed"), "v");
  EXPECT_EQ(Read(path, "Main", "Hidden", "no"), "no");
  EXPECT_EQ(Read(path, "Main", "NoEquals", "no"), "no");
  EXPECT_EQ(Read(path, "Main", "orphan", "no"), "no");  // keys before any section belong to none
  EXPECT_EQ(Read(path, "Other", "Key One", "no"), "no");
  EXPECT_EQ(Read(path, "Main", "Key One", "", 4), "a=b");
  EXPECT_EQ(Read(path, "Main", "Key One", "", 1), "");
  EXPECT_EQ(Read(path, "Main", "Key One", "", 0), "");
  EXPECT_EQ(ReadProfileKeys(path, "main"),
            (std::vector<std::string>{"Key One", "Empty", "Tabbed"}));
}

TEST(PrivateProfile, ReadsIntegersAsDecimalPrefix) {
  qx_test::TempDir dir;
  const std::string path = dir / "n.ini";
  WriteFile(path,
            "[N]\nplain=42\nsuffix=17abc\nneg=-7\nplus=+5\nword=abc\nempty=\nhex=0x1F\n"
            "big=99999999999\nsmall=-99999999999\n");
  EXPECT_EQ(ReadProfileInt(path, "n", "PLAIN", -1), 42);
  EXPECT_EQ(ReadProfileInt(path, "N", "suffix", -1), 17);
  EXPECT_EQ(ReadProfileInt(path, "N", "neg", 0), -7);
  EXPECT_EQ(ReadProfileInt(path, "N", "plus", 0), 5);
  EXPECT_EQ(ReadProfileInt(path, "N", "word", -1), 0);
  EXPECT_EQ(ReadProfileInt(path, "N", "empty", 9), 9);
  EXPECT_EQ(ReadProfileInt(path, "N", "missing", 9), 9);
  EXPECT_EQ(ReadProfileInt(path, "N", "hex", -1), 0);
  EXPECT_EQ(ReadProfileInt(path, "N", "big", 0), INT_MAX);
  EXPECT_EQ(ReadProfileInt(path, "N", "small", 0), INT_MIN);
}

TEST(PrivateProfile, FirstDuplicateWinsAndWritesGoToIt) {
  qx_test::TempDir dir;
  const std::string path = dir / "dup.ini";
  WriteFile(path, "[A]\nk=1\nK=2\n[B]\nk=b\n[a]\nk=3\nlate=4\n");
  EXPECT_EQ(Read(path, "A", "k"), "1");
  EXPECT_EQ(Read(path, "A", "late"), "4");  // a repeated section adds its keys
  EXPECT_EQ(ReadProfileKeys(path, "A"), (std::vector<std::string>{"k", "late"}));
  EXPECT_EQ(ReadProfileSections(path), (std::vector<std::string>{"A", "B"}));

  ASSERT_TRUE(WriteProfileString(path, "a", "K", "9"));
  EXPECT_EQ(ReadFile(path), "[A]\nk=9\nK=2\n[B]\nk=b\n[a]\nk=3\nlate=4\n");
  ASSERT_TRUE(WriteProfileString(path, "A", "new", "n"));  // into the first block
  EXPECT_EQ(ReadFile(path), "[A]\nk=9\nK=2\nnew=n\n[B]\nk=b\n[a]\nk=3\nlate=4\n");

  // Deleting removes every copy, so no shadowed value comes back.
  ASSERT_TRUE(WriteProfileString(path, "A", "k", std::nullopt));
  EXPECT_EQ(Read(path, "A", "k", "gone"), "gone");
  EXPECT_EQ(ReadFile(path), "[A]\nnew=n\n[B]\nk=b\n[a]\nlate=4\n");
  ASSERT_TRUE(WriteProfileString(path, "A", std::nullopt, std::nullopt));
  EXPECT_EQ(ReadFile(path), "[B]\nk=b\n");
}

// Reads may keep what they read, but never past a change: another writer's
// replacement or an edit in place of the same size, however quickly they
// follow one another, and a file read again after it settled.
TEST(PrivateProfile, ReadsSeeEveryChangeAtOnce) {
  qx_test::TempDir dir;
  const std::string path = dir / "busy.ini";
  const std::string other = dir / "other.ini";
  WriteFile(other, "[S]\nk=other\n");
  for (int round = 0; round < 300; ++round) {
    char value[8];
    std::snprintf(value, sizeof value, "%03d", round);
    if (round % 2 == 0) {
      WriteFile(path, std::string("[S]\nk=") + value + "\n");  // in place, same size
    } else {
      ASSERT_TRUE(WriteProfileString(path, "S", "k", value));
    }
    ASSERT_EQ(Read(path, "S", "k"), value) << "round " << round;
    ASSERT_EQ(Read(other, "s", "K"), "other");
  }
  // Settled files are read from what was kept, and still see a change.
  const struct timespec old_times[2] = {{1000000, 0}, {1000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old_times, 0), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(150));  // the change time settles
  EXPECT_EQ(Read(path, "S", "k"), "299");
  EXPECT_EQ(Read(path, "S", "k"), "299");
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "300"));
  EXPECT_EQ(Read(path, "S", "k"), "300");
  EXPECT_EQ(Read(path, "S", "missing", "none"), "none");
}

TEST(PrivateProfile, WritesKeepUntouchedLinesAndTheFileLineEnds) {
  qx_test::TempDir dir;
  const std::string path = dir / "keep.ini";
  const std::string head =
      "; settings\r\n"
      "[General]\r\n"
      "  Owner = Someone  \r\n"
      "; about the root\r\n"
      "Root=old\r\n"
      "\r\n"
      "[Other]\r\n"
      "x=1";  // last line without a line end
  WriteFile(path, head);
  ASSERT_TRUE(WriteProfileString(path, "GENERAL", "OWNER", "Another One"));
  ASSERT_TRUE(WriteProfileString(path, "General", "Root", ""));
  ASSERT_TRUE(WriteProfileString(path, "General", "Added", "v"));
  ASSERT_TRUE(WriteProfileString(path, "Other", "y", "2"));
  EXPECT_EQ(ReadFile(path),
            "; settings\r\n[General]\r\n  Owner = Another One\r\n; about the root\r\nRoot=\r\n"
            "Added=v\r\n\r\n[Other]\r\nx=1\r\ny=2\r\n");

  ASSERT_TRUE(WriteProfileString(path, "General", "Root", std::nullopt));
  ASSERT_TRUE(WriteProfileString(path, "Other", std::nullopt, std::nullopt));
  EXPECT_EQ(ReadFile(path),
            "; settings\r\n[General]\r\n  Owner = Another One\r\n; about the root\r\n"
            "Added=v\r\n\r\n");

  const std::string lf_path = dir / "lf.ini";
  WriteFile(lf_path, "[S]\na=1\n");
  ASSERT_TRUE(WriteProfileString(lf_path, "T", "b", "2"));
  EXPECT_EQ(ReadFile(lf_path), "[S]\na=1\n\n[T]\nb=2\n");
}

TEST(PrivateProfile, RefusesTextsThatWouldBreakTheFile) {
  qx_test::TempDir dir;
  const std::string path = dir / "r.ini";
  WriteFile(path, "[S]\na=1\n");
  EXPECT_FALSE(WriteProfileString(path, "S", "a", "two\nlines"));
  EXPECT_FALSE(WriteProfileString(path, "S", "a", std::string_view("nul\0", 4)));
  EXPECT_FALSE(WriteProfileString(path, "S", "a=b", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S", "  ", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S", "[x", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S", ";x", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S]x", "a", "v"));
  EXPECT_FALSE(WriteProfileString(path, "S\r\n[T", "a", "v"));
  EXPECT_EQ(ReadFile(path), "[S]\na=1\n");
}

TEST(PrivateProfile, FailedWritesLeaveTheOldFileWhole) {
  qx_test::TempDir dir;
  WriteFile(dir / "file", "x");
  EXPECT_FALSE(WriteProfileString(dir / "file/sub.ini", "S", "k", "v"));  // no such directory
  EXPECT_FALSE(WriteProfileString(dir / "missing/sub.ini", "S", "k", "v"));
  std::filesystem::create_directory(dir / "adir");
  EXPECT_FALSE(WriteProfileString(dir / "adir", "S", "k", "v"));  // not a file

  // A write that runs out of room half-way must not touch the file it replaces.
  const std::string path = dir / "big.ini";
  const std::string original = "[S]\nk=" + std::string(100, 'o') + "\n";
  WriteFile(path, original);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  struct sigaction old_action {};
  ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old_action), 0);
  rlimit old_limit{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  rlimit small = old_limit;
  small.rlim_cur = 64;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteProfileString(path, "S", "k", std::string(200, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_FALSE(written);
  EXPECT_EQ(ReadFile(path), original);
  EXPECT_EQ(DirectoryEntries(dir.path()).size(), 3u);  // file, adir, big.ini: no temporary left
}

TEST(PrivateProfile, ReplacesTheFileKeepingItsModeAndLinks) {
  qx_test::TempDir dir;
  const std::string path = dir / "m.ini";
  WriteFile(path, "[S]\n");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "v"));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  const std::string link = dir / "link.ini";
  ASSERT_EQ(::symlink(path.c_str(), link.c_str()), 0);
  ASSERT_TRUE(WriteProfileString(link, "S", "k", "through link"));
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Read(path, "S", "k"), "through link");
}

TEST(PrivateProfile, SeesChangesMadeBehindItsBack) {
  qx_test::TempDir dir;
  const std::string path = dir / "c.ini";
  ASSERT_TRUE(WriteProfileString(path, "S", "k", "1"));
  EXPECT_EQ(Read(path, "S", "k"), "1");
  WriteFile(path, "[S]\nk=2\n");
  EXPECT_EQ(Read(path, "S", "k"), "2");
  ASSERT_TRUE(WriteProfileString(path, "S", "j", "3"));
  EXPECT_EQ(ReadFile(path), "[S]\nk=2\nj=3\n");
}

}  // namespace
}  // namespace qx
