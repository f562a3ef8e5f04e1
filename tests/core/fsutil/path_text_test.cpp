// Tests of the path texts (file-system utility layer): separators, drive
// roots, temporary names, neutral names and the safe-name rule.
#include "core/fsutil/path_text.h"

#include <gtest/gtest.h>
#include <cstdint>

#include <cctype>
#include <ctime>
#include <string>

namespace qx {
namespace {

std::string Stripped(std::string text) {
  StripTrailingBackslash(text);
  return text;
}

TEST(StripTrailingBackslash, RemovesOneTrailingSeparatorOnly) {
  EXPECT_EQ(Stripped(""), "");
  EXPECT_EQ(Stripped("C:\\dir"), "C:\\dir");
  EXPECT_EQ(Stripped("C:\\dir\\"), "C:\\dir");
  EXPECT_EQ(Stripped("C:\\dir\\\\"), "C:\\dir\\");
  EXPECT_EQ(Stripped("/home/dir/"), "/home/dir");
  EXPECT_EQ(Stripped("\\"), "");
}

TEST(GetDriveRoot, GivesTheRootOfDrivePathsOnly) {
  EXPECT_EQ(GetDriveRoot("\\dir"), "");
  EXPECT_EQ(GetDriveRoot("/usr/lib"), "");
  EXPECT_EQ(GetDriveRoot(""), "");
  EXPECT_EQ(GetDriveRoot("C"), "");
  EXPECT_EQ(GetDriveRoot("C:"), "C:\\");
  EXPECT_EQ(GetDriveRoot("C:\\"), "C:\\");
  EXPECT_EQ(GetDriveRoot("C:\\dir\\x"), "C:\\");
  EXPECT_EQ(GetDriveRoot("C:/dir"), "C:/");
  EXPECT_EQ(GetDriveRoot("C:dir"), "C:dir");  // no separator: all of it
  EXPECT_EQ(GetDriveRoot("C:dir\\x"), "C:dir\\");
}

TEST(NativeSeparators, TurnsBackslashesIntoSlashes) {
  EXPECT_EQ(NativeSeparators("a\\b/c\\"), "a/b/c/");
}

long TickCount() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000L + now.tv_nsec / 1000000L;
}

char WeekdayLetter() {
  const time_t now = ::time(nullptr);
  std::tm utc{};
  ::gmtime_r(&now, &utc);
  return "SMTWTFS"[utc.tm_wday];
}

TEST(MakeTempName, IsWeekdayLetterSevenTickDigitsAndExtension) {
  const char letter_before = WeekdayLetter();
  const long ticks_before = TickCount() % 10000000;
  const std::string name = MakeTempName();
  const long ticks_after = TickCount() % 10000000;
  const char letter_after = WeekdayLetter();

  ASSERT_EQ(name.size(), kTempNameLength);
  EXPECT_EQ(name.substr(8), ".WEB");
  EXPECT_TRUE(name[0] == letter_before || name[0] == letter_after) << name;
  for (size_t i = 1; i < 8; ++i) {
    EXPECT_TRUE(std::isdigit(static_cast<unsigned char>(name[i]))) << name;
  }
  const long ticks = std::stol(name.substr(1, 7));
  if (ticks_before <= ticks_after) {  // the seven digits did not wrap meanwhile
    EXPECT_GE(ticks, ticks_before);
    EXPECT_LE(ticks, ticks_after);
  }
}

TEST(PathText, NeutralNamesRoundTripWithEitherSeparator) {
  EXPECT_EQ(NeutralPath("a\\b/c"), "a|b|c");
  std::string dest = "C:\\cache\\";
  EXPECT_EQ(AppendNeutralPath("\\", dest, "apps|demo"), "C:\\cache\\apps\\demo");
  std::string native = "/cache/";
  EXPECT_EQ(AppendNeutralPath("/", native, NeutralPath("apps\\demo")), "/cache/apps/demo");
  std::string unchanged = "x";
  EXPECT_EQ(AppendNeutralPath("", unchanged, "a|b"), "x");
}

TEST(PathText, OneNameRuleGivesTheFirstFault) {
  const std::string long_part(kMaxNameComponent + 1, 'x');
  const struct {
    std::string name;
    NameFault fault;
  } cases[] = {
      {"", NameFault::kEmpty},
      {"/etc/x", NameFault::kAbsolute},
      {"\\x", NameFault::kAbsolute},
      {"C:x", NameFault::kDrive},
      {"C:\\x", NameFault::kDrive},
      {"a:b.txt", NameFault::kDrive},
      {"..\\x", NameFault::kDotComponent},
      {"a\\..\\..\\x", NameFault::kDotComponent},
      {"a\\.\\b", NameFault::kDotComponent},
      {"a\\\\b", NameFault::kDotComponent},
      {"a\\", NameFault::kDotComponent},
      {"..", NameFault::kDotComponent},
      {"x\ty", NameFault::kControlCharacter},
      {std::string("a\x7f"), NameFault::kControlCharacter},
      {"..|x", NameFault::kNeutralSeparator},
      {"a|b.txt", NameFault::kNeutralSeparator},
      {" lead.txt", NameFault::kEdgeBlank},
      {"trail.txt ", NameFault::kEdgeBlank},
      {"dir /x", NameFault::kEdgeBlank},
      {"a\"b", NameFault::kQuote},
      {"a;b", NameFault::kSemicolon},
      {"d/" + long_part, NameFault::kLongComponent},
      {"x", NameFault::kNone},
      {"bin\\demo.exe", NameFault::kNone},
      {"a/b/c.txt", NameFault::kNone},
      {"..x", NameFault::kNone},
      {"x..", NameFault::kNone},
      {"a b\\c", NameFault::kNone},
      {"ab:c.txt", NameFault::kNone},
      {std::string(kMaxNameComponent, 'y'), NameFault::kNone},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CheckRelativeName(c.name), c.fault) << c.name;
    EXPECT_EQ(IsSafeRelativeName(c.name), c.fault == NameFault::kNone) << c.name;
  }
  EXPECT_STREQ(NameFaultText(NameFault::kDrive), "a drive form");
  EXPECT_EQ(JoinNativePath("/out", "bin\\demo.exe"), "/out/bin/demo.exe");
  EXPECT_EQ(JoinNativePath("/out/", "a/b"), "/out/a/b");
}

}  // namespace
TEST(ByteSizeTextTest, TakesTheUnitThatSuitsTheBytes) {
  const struct {
    int64_t bytes;
    const char* text;
  } rows[] = {
      {0, "0 bytes"},
      {1, "1 byte"},
      {1023, "1023 bytes"},
      {1024, "1.0 kB"},
      {1536, "1.5 kB"},
      {1075, "1.0 kB"},     // 1.0498 kB
      {1076, "1.1 kB"},     // 1.0508 kB: rounded, not cut
      {1048575, "1.0 MB"},  // 1023.999 kB would read 1024.0 kB
      {12897485, "12.3 MB"},
      {5368709120, "5.0 GB"},
      {int64_t{3} << 40, "3.0 TB"},
      {int64_t{5000} << 40, "5000.0 TB"},  // no larger unit
  };
  for (const auto& row : rows) {
    EXPECT_EQ(qx::ByteSizeText(row.bytes), row.text) << row.bytes;
  }
}

}  // namespace qx
