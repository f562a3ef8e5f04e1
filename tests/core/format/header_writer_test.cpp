// Tests of the library's header writer (format layer): sound headers in any
// form read, written back and read again to the same record, and what a
// deliberate change to the record does to the header written.
#include "core/format/header_writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/cache/cache_root.h"
#include "core/digest/secure_digest.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::DumpRecord;
using qx_test::HeaderBuilder;
using qx_test::JoinLines;
using qx_test::SplitLines;

// Reads |text| as a header; |result| receives the reader's result.
std::unique_ptr<PackageHeader> ReadText(std::string text, int& result) {
  FilePtr file(::fmemopen(text.data(), text.size(), "r"));
  FormatVersion version;
  std::unique_ptr<PackageHeader> record;
  result = file ? ReadPackageHeader(file.get(), &version, &record) : -100;
  return record;
}

std::string WriteText(const PackageHeader& record, int& result) {
  char* buffer = nullptr;
  size_t size = 0;
  std::FILE* memory = ::open_memstream(&buffer, &size);
  result = WriteHeaderText(memory, record);
  std::fclose(memory);
  std::string text(buffer, size);
  std::free(buffer);
  return text;
}

// |text| with a line break put in |offset| characters into the first
// |needle|. The header digest feeds its lines one after the other, so a
// break that splits a digested line keeps the trailer right.
std::string BreakLine(std::string text, const std::string& needle, size_t offset) {
  const size_t at = text.find(needle);
  EXPECT_NE(at, std::string::npos) << needle;
  return text.insert(at + offset, "\r\n");
}

// |lines| without their trailer, sealed again by the digest rule written out
// here apart from the reader: every non-blank line feeds the digest without
// its trailing blanks except comments and the CommandLine and trailer lines;
// every line a file entry continues into feeds it too. The trailer goes
// in after the first |trailer_at| lines.
std::string Seal(const std::vector<std::string>& lines, size_t trailer_at) {
  DigestPtr digest = DigestNew();
  std::string date;
  bool in_entry = false;
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    const std::string_view text = DigestedText(line);
    const std::string_view body = SkipBlanks(text);
    const bool continued = !text.empty() && IsPathSeparator(text.back());
    bool fed = true;
    if (in_entry) {
      in_entry = continued;
    } else if (StartsWithNoCase(body, kDigestKey)) {
      continue;  // the old trailer
    } else if (body.empty() || body.front() == ';' || StartsWithNoCase(body, "CommandLine")) {
      fed = false;
    } else {
      if (StartsWithNoCase(body, "Date")) {
        date = std::string(SkipBlanks(body.substr(body.find(':') + 1)));
      }
      in_entry = StartsWithNoCase(body, "File") && continued;
    }
    if (fed) {
      DigestUpdate(digest.get(), text.data(), text.size());
    }
    kept.push_back(line);
  }
  char trailer[kDigestBufferSize] = {};
  SecureDigest(digest.get(), trailer, sizeof trailer, date.c_str());
  kept.insert(kept.begin() + static_cast<std::ptrdiff_t>(trailer_at), TrailerLine(trailer));
  std::string text = JoinLines(kept);
  return text;
}

class HeaderWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCacheRoot(dir_.path() + "/cache"); }
  void TearDown() override { SetCacheRoot(""); }

  static HeaderBuilder Sample() {
    HeaderBuilder builder;
    builder.Set(HeaderKey::kCopyright, "(c) 1997")
        .Set(HeaderKey::kVersion, "02.03.04b")
        .Set(HeaderKey::kDelete, "Yes")
        .Set(HeaderKey::kReadmeFile, "README.TXT")
        .Set(HeaderKey::kInstallTo, "apps\\tools")
        .Set(HeaderKey::kUpdateOption, "Required")
        .Set(HeaderKey::kComment, "first seal");
    builder.AddFile({"README.TXT", 120, 120, std::string(32, '1')})
        .AddComment(" binaries follow")
        .AddFile({"bin\\demo.exe", 4000, 9000, std::string(32, '2'), "08:07:06", "01/02/1999",
                  "03.02.01z"});
    return builder;
  }

  qx_test::TempDir dir_;
};

TEST_F(HeaderWriterTest, SoundHeadersInAnyFormAreWrittenBackToReadTheSame) {
  const std::string sample = Sample().Text();
  std::vector<std::string> lines = SplitLines(sample);
  lines.pop_back();  // the trailer
  const auto edited = [&lines](const std::function<void(std::vector<std::string>&)>& edit) {
    std::vector<std::string> copy = lines;
    edit(copy);
    return copy;
  };
  const auto index_of = [](const std::vector<std::string>& in, const std::string& start) {
    for (size_t i = 0; i < in.size(); ++i) {
      if (in[i].rfind(start, 0) == 0) {
        return static_cast<std::ptrdiff_t>(i);
      }
    }
    ADD_FAILURE() << start;
    return std::ptrdiff_t{0};
  };

  HeaderBuilder spelled = Sample();
  spelled.Set(HeaderKey::kVersion, "2.3")
      .Set(HeaderKey::kMinVersion, " 1.0.0 ")
      .Set(HeaderKey::kDelete, "yes")
      .Set(HeaderKey::kUpdateOption, "required")
      .Set(HeaderKey::kDate, "2/3/2026")
      .Set(HeaderKey::kCopyright, std::string(400, 'c'))  // read in two pieces
      .AddFile({"odd.txt", 5, 6, "abc", "1:2:3", "2/30/2026", "1.0"});
  HeaderBuilder stray_cr = Sample();
  stray_cr.Set(HeaderKey::kOwner, "Tarnwick\rTest").AddComment(" note\rhidden");

  struct Case {
    const char* what;
    std::string text;
  };
  const Case cases[] = {
      {"as the sealer writes it", sample},
      {"as the library writes it", HeaderBuilder(Sample()).LibraryForm().Text()},
      {"a value broken over two lines", BreakLine(sample, "Owner: Tarnwick", 8)},
      {"a break right after the key", BreakLine(sample, "Owner: Tarnwick", 6)},
      {"a key name broken", BreakLine(sample, "Owner: Tarnwick", 3)},
      {"a version broken", BreakLine(sample, "Version: 02.03.04b", 13)},
      {"a flag word broken", BreakLine(sample, "Delete: Yes", 9)},
      {"an entry broken inside its digest", BreakLine(sample, "SECURE_MD5 = 2222", 15)},
      {"values and entries in other spellings", spelled.Text()},
      {"carriage returns inside lines", stray_cr.Text()},
      {"blank lines, line feeds alone, comments among the keys",
       [&] {
         std::string text;
         for (const std::string& line : edited([&](std::vector<std::string>& in) {
                in.insert(in.begin() + index_of(in, "Copyright"), {"", "; among the keys", " \t"});
                in[index_of(in, "; Modifying")] = "; edited";
              })) {
           text += line + "\n";
         }
         return text + SplitLines(sample).back() + "\n";
       }()},
      {"keys in any case, twice, without a blank, and a second magic line",
       Seal(edited([&](std::vector<std::string>& in) {
              in[index_of(in, "Owner:")] = "owner:Tarnwick Test";
              in.insert(in.begin() + index_of(in, "Comment:") + 1,
                        {"COPYRIGHT:  (c) 2001", "##QXWEB## 9.9 among the keys", "DELETE: no"});
            }),
            lines.size() + 3)},
      {"the trailer first and the last entry continued to the end",
       Seal(edited([&](std::vector<std::string>& in) { in.back() += " \\"; }), 1)},
      {"a comment the count pass counts but the reader does not take",
       // The comment makes room for a lower-case entry line, which only
       // the reader takes.
       Seal(edited([&](std::vector<std::string>& in) {
              in.insert(in.begin() + index_of(in, "Owner:"), {"ApplName:", "; counted"});
              in.push_back("file: \"extra.txt\"; Length = 7; Size = 8");
            }),
            lines.size() + 3)},
  };
  const auto check = [](const Case& c) {
    SCOPED_TRACE(c.what);
    int first_result = 0;
    const auto first = ReadText(c.text, first_result);
    ASSERT_EQ(first_result, kHeaderOk);
    int written_result = 0;
    const std::string written = WriteText(*first, written_result);
    ASSERT_EQ(written_result, kHeaderOk);
    int again_result = 0;
    const auto again = ReadText(written, again_result);
    ASSERT_EQ(again_result, kHeaderOk) << written;
    EXPECT_EQ(DumpRecord(*again), DumpRecord(*first)) << written;
    // What the writer writes, it writes again the same.
    EXPECT_EQ(WriteText(*again, written_result), written);
    EXPECT_NE(written.find("\r\n; This package was created by Tarnwick Web Sealer\r\n"),
              std::string::npos);
  };
  for (const Case& c : cases) {
    check(c);
  }
}

TEST_F(HeaderWriterTest, ChangesAreWrittenAndTheTrailerIsNeverComputedAgain) {
  const std::string sample = Sample().Text();
  std::string no_command_line = sample;
  no_command_line.erase(no_command_line.find("CommandLine:"),
                        no_command_line.find("\r\n", no_command_line.find("CommandLine:")) + 2 -
                            no_command_line.find("CommandLine:"));
  const std::string broken = BreakLine(sample, "Owner: Tarnwick", 8);

  struct Case {
    const char* what;
    std::string text;
    std::function<void(PackageHeader&)> change;
    int result;
    std::function<void(const PackageHeader&, const std::string&)> check;
  };
  const Case cases[] = {
      {"a new command line, not digested", broken,
       [](PackageHeader& r) { r.values.command_line = "other.exe"; }, kHeaderOk,
       [](const PackageHeader& r, const std::string& text) {
         EXPECT_EQ(r.values.command_line, "other.exe");
         EXPECT_NE(text.find("\r\nOwner: T\r\narnwick Test\r\n"), std::string::npos) << text;
       }},
      {"a command line the header did not have", no_command_line,
       [](PackageHeader& r) { r.values.command_line = "added.exe"; }, kHeaderOk,
       [](const PackageHeader& r, const std::string&) {
         EXPECT_EQ(r.values.command_line, "added.exe");
       }},
      {"a digested value", broken, [](PackageHeader& r) { r.values.owner = "Someone Else"; },
       kHeaderFailed,
       [](const PackageHeader& r, const std::string& text) {
         EXPECT_TRUE(r.corrupt);
         EXPECT_EQ(r.values.owner, "Someone Else");
         EXPECT_NE(text.find("\r\nOwner: Someone Else\r\narnwick Test\r\n"), std::string::npos)
             << text;
       }},
      {"an entry's digest", sample, [](PackageHeader& r) { r.entries[0]->digest = "changed"; },
       kHeaderFailed,
       [](const PackageHeader& r, const std::string&) {
         EXPECT_TRUE(r.corrupt);
         EXPECT_EQ(r.entries[0]->digest, "changed");
       }},
      {"an entry in client state 3", sample, [](PackageHeader& r) { r.entries[2]->state = 3; },
       kHeaderFailed,
       [](const PackageHeader& r, const std::string&) {
         EXPECT_TRUE(r.corrupt);
         EXPECT_EQ(r.entries.size(), 2u);
       }},
      {"an added entry", sample,
       [](PackageHeader& r) {
         r.entries.push_back(std::make_unique<FileEntry>());
         r.entries.back()->name = "new.txt";
       },
       kHeaderFailed,
       [](const PackageHeader& r, const std::string&) {
         EXPECT_TRUE(r.corrupt);
         ASSERT_EQ(r.entries.size(), 4u);
         EXPECT_EQ(r.entries[3]->name, "new.txt");
       }},
      {"the stored header digest", sample,
       [](PackageHeader& r) { r.values.header_digest = std::string(32, 'f'); }, kHeaderFailed,
       [](const PackageHeader& r, const std::string&) {
         EXPECT_TRUE(r.corrupt);
         EXPECT_EQ(r.values.header_digest, std::string(32, 'f'));
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int result = 0;
    auto record = ReadText(c.text, result);
    ASSERT_EQ(result, kHeaderOk);
    c.change(*record);
    const std::string written = WriteText(*record, result);
    ASSERT_EQ(result, kHeaderOk);
    const auto again = ReadText(written, result);
    ASSERT_TRUE(again);
    EXPECT_EQ(result, c.result) << written;
    c.check(*again, written);
  }
}

}  // namespace
}  // namespace qx
