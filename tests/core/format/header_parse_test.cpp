// Tests of the header parse (format layer): a header's bytes parse to the
// same values, entries and verdicts as the reader over a file gives the
// client's record, malformed headers included; a parsed header's lines keep
// their places, so that one written back comes out byte for byte.
#include "core/format/header_value.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/cache/cache_root.h"
#include "core/format/header_reader.h"
#include "core/format/header_writer.h"
#include "core/package/package_header.h"
#include "core/platform/file_handle.h"
#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::DumpRecord;
using qx_test::HeaderBuilder;
using qx_test::JoinLines;
using qx_test::Reseal;
using qx_test::SplitLines;

template <typename Header>
std::string WriteText(const Header& header) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* memory = ::open_memstream(&buffer, &size);
  EXPECT_EQ(WriteHeaderText(memory, header), kHeaderOk);
  std::fclose(memory);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

HeaderBuilder Sample() {
  HeaderBuilder builder;
  builder.Set(HeaderKey::kCopyright, "(c) 1997")
      .Set(HeaderKey::kVersion, "02.03.04b")
      .Set(HeaderKey::kReadmeFile, "README.TXT")
      .Set(HeaderKey::kInstallTo, "apps\\tools")
      .Set(HeaderKey::kUpdateOption, "Required")
      .Set(HeaderKey::kComment, "first seal");
  builder.AddFile({"README.TXT", 120, 120})
      .AddComment(" binaries follow")
      .AddFile({"bin\\demo.exe", 4000, 9000, std::string(32, 'a'), "08:07:06", "01/02/1999",
                "03.02.01z"});
  return builder;
}

// |text| with |line| put in before the first line that starts with |before|.
std::string InsertBefore(const std::string& text, const std::string& before,
                         const std::string& line) {
  std::vector<std::string> lines = SplitLines(text);
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind(before, 0) == 0) {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), line);
      return JoinLines(lines);
    }
  }
  ADD_FAILURE() << before;
  return text;
}

class HeaderParseTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCacheRoot(dir_.path() + "/cache"); }
  void TearDown() override { SetCacheRoot(""); }

  qx_test::TempDir dir_;
};

TEST_F(HeaderParseTest, ParsesAsTheReaderOverAFileReads) {
  const std::string sealed = Sample().Text();
  std::string corrupt = sealed;
  corrupt[corrupt.find("(c) 1997")] = 'C';
  std::string too_many = "##QXWEB## 1.0\nApplName: Demo\n";
  for (int32_t i = 0; i < 2 * kHeaderEntriesWithoutBudget; ++i) {
    too_many += ";\n";
  }
  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"as the sealer writes it", sealed},
      {"as the library writes it", HeaderBuilder(Sample()).LibraryForm().Text()},
      {"a digested byte changed", corrupt},
      {"empty", ""},
      {"no magic line", "Owner: x\r\nFile: \"a\"\r\n"},
      {"a magic line and no entries", "##QXWEB## 2.1\r\nApplName: Demo\r\n"},
      {"comments before the ApplName only",
       "##QXWEB## 1.0\r\n; one\r\nApplName: Demo\r\n"
       "File: \"a\" ; Size=3\r\n"},
      {"more short entries than its size allows", too_many},
      {"an entry the count pass does not see", InsertBefore(sealed, "SECURE_MD5", "file: \"x\"")},
      {"an unsafe application name",
       Reseal(HeaderBuilder(Sample()).Set(HeaderKey::kApplName, "..").Text())},
      {"an unsafe install-to",
       Reseal(HeaderBuilder(Sample()).Set(HeaderKey::kInstallTo, "../up").Text())},
      {"lines longer than the line buffer",
       Reseal(HeaderBuilder(Sample()).Set(HeaderKey::kComment, std::string(600, 'c')).Text())},
      {"line feeds alone and a stray carriage return",
       Reseal("##QXWEB## 1.0\nApplName: De\rmo\nFile: \"a\" \\\n; Size=2\n; a note\n")},
      {"two trailers", sealed + "SECURE_MD5: 0123\r\n"},
      {"no line end at all", "##QXWEB## 1.0 File:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    qx_test::WriteFile(dir_ / "h.qxw", c.text);
    FilePtr file(std::fopen((dir_ / "h.qxw").c_str(), "r"));
    ASSERT_TRUE(file);
    FormatVersion file_version;
    const int counted = CountHeaderEntries(file.get(), &file_version);
    FormatVersion version;
    std::unique_ptr<PackageHeader> read;
    const int result = ReadPackageHeader(file.get(), &version, &read);

    FormatVersion bytes_version;
    EXPECT_EQ(CountHeaderEntryLines(c.text, &bytes_version), counted);
    EXPECT_EQ(bytes_version.major, file_version.major);
    EXPECT_EQ(bytes_version.minor, file_version.minor);

    Result<ParsedHeader> parsed = ParseHeader(c.text);
    ASSERT_EQ(parsed.ok(), read != nullptr);
    if (!parsed) {
      EXPECT_EQ(parsed.error().code, result);
      EXPECT_FALSE(parsed.error().message.empty());
      continue;
    }
    EXPECT_EQ(parsed->values.format_version.major, version.major);
    EXPECT_EQ(parsed->values.format_version.minor, version.minor);
    EXPECT_LE(parsed->entries.size(), static_cast<size_t>(counted));
    const std::string directory = PackageDirectoryFor(GetCacheRoot(), parsed->values);
    EXPECT_EQ(result, parsed->digest_matches && !directory.empty() ? kHeaderOk : kHeaderFailed);
    const std::unique_ptr<PackageHeader> made =
        MakePackageRecord(std::move(parsed).value(), c.text, directory);
    EXPECT_EQ(DumpRecord(*made, true), DumpRecord(*read, true));
    EXPECT_EQ(made->source_text, read->source_text);
  }
}

TEST_F(HeaderParseTest, LinesKeepTheirPlacesAndWriteBackByteForByte) {
  const std::string library = HeaderBuilder(Sample()).LibraryForm().Text();
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> unknown;  // the lines the parse keeps no value of, in order
  };
  const Case cases[] = {
      {"as the library writes it", library, {}},
      {"an unknown key among the keys",
       Reseal(InsertBefore(library, "Copyright", "Publisher: Tarnwick")),
       {"Publisher: Tarnwick"}},
      {"unknown lines among the entries and before the trailer",
       Reseal(InsertBefore(InsertBefore(library, "; binaries", "X-Mark 1"), "SECURE_MD5",
                           "  trailing note")),
       {"X-Mark 1", "  trailing note"}},
      {"a second magic line",
       Reseal(InsertBefore(library, "Owner", "##QXWEB## 9.9")),
       {"##QXWEB## 9.9"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result<ParsedHeader> parsed = ParseHeader(c.text);
    ASSERT_TRUE(parsed.ok());
    EXPECT_TRUE(parsed->digest_matches);

    // The lines in order: every physical line is in exactly one of them.
    std::vector<std::string> physical;
    for (const std::string& line : SplitLines(c.text)) {
      physical.emplace_back(DigestedText(line));
    }
    std::vector<std::string> walked;
    std::vector<std::string> unknown;
    int entries = 0;
    for (const HeaderLine& line : parsed->lines) {
      walked.insert(walked.end(), line.text.begin(), line.text.end());
      if (line.role == HeaderLineRole::kOther) {
        unknown.insert(unknown.end(), line.text.begin(), line.text.end());
      }
      if (line.entry >= 0) {
        EXPECT_EQ(line.entry, entries++);
      }
      EXPECT_EQ(line.role == HeaderLineRole::kKey, line.key != nullptr);
    }
    EXPECT_EQ(walked, physical);
    EXPECT_EQ(unknown, c.unknown);
    EXPECT_EQ(static_cast<size_t>(entries), parsed->entries.size());
    EXPECT_EQ(parsed->lines.front().role, HeaderLineRole::kMagic);

    // Written back from the value itself, and from the client's record of it.
    EXPECT_EQ(WriteText(*parsed), c.text);
    const std::unique_ptr<PackageHeader> record =
        MakePackageRecord(std::move(parsed).value(), c.text, "");
    EXPECT_EQ(WriteText(*record), c.text);
  }
}

TEST_F(HeaderParseTest, EntriesAreValuesOfTheHeaderAlone) {
  Result<ParsedHeader> parsed = ParseHeader(Sample().Text());
  ASSERT_TRUE(parsed.ok());
  ASSERT_EQ(parsed->entries.size(), 3u);
  const HeaderEntry& readme = parsed->entries[0];
  EXPECT_FALSE(readme.comment);
  EXPECT_EQ(readme.name, "README.TXT");
  EXPECT_EQ(readme.length, 120);
  const HeaderEntry& note = parsed->entries[1];
  EXPECT_TRUE(note.comment);
  EXPECT_EQ(note.neutral_name, " binaries follow");
  const HeaderEntry& exe = parsed->entries[2];
  EXPECT_EQ(exe.neutral_name, "bin|demo.exe");
  EXPECT_EQ(exe.hours * 10000 + exe.minutes * 100 + exe.seconds, 80706);
  EXPECT_EQ(exe.year * 10000 + exe.month * 100 + exe.day, 19990102);
  EXPECT_EQ(exe.version.letter, 'z');
  EXPECT_EQ(exe.size, 9000);
  EXPECT_EQ(exe.digest, std::string(32, 'a'));
  // A parse is the same whatever the cache root: it places nothing.
  SetCacheRoot(dir_.path() + "/elsewhere");
  Result<ParsedHeader> again = ParseHeader(Sample().Text());
  ASSERT_TRUE(again.ok());
  EXPECT_EQ(again->values.install_to, parsed->values.install_to);
  EXPECT_EQ(again->values.neutral_install_to, "apps|tools");
}

TEST(PackageDirectoryFor, JoinsRootInstallToAndApplNameWhenSafe) {
  struct Case {
    const char* appl_name;
    const char* install_to;
    const char* expected;
  };
  const Case cases[] = {
      {"Demo", "", "/cache/Demo"},
      {"Demo", "apps\\tools", "/cache/apps/tools/Demo"},
      {"Demo", "apps/tools", "/cache/apps/tools/Demo"},
      {"", "", ""},
      {"..", "", ""},
      {"a/b", "", ""},
      {"Demo", "../up", ""},
      {"Demo", "/abs", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.appl_name) + " in " + c.install_to);
    HeaderValues values;
    values.appl_name = c.appl_name;
    values.install_to = c.install_to;
    EXPECT_EQ(PackageDirectoryFor("/cache", values), c.expected);
  }
  HeaderValues deep;
  deep.appl_name = "Demo";
  for (int level = 0; level < 6; ++level) {
    deep.install_to += std::string(100, static_cast<char>('a' + level)) + "/";
  }
  deep.install_to.pop_back();
  EXPECT_EQ(PackageDirectoryFor("/cache", deep).size(), kMaxPackageDirectory);
}

}  // namespace
}  // namespace qx
