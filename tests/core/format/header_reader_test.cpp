// Tests of the header reader (format layer): values and entries of sealed
// headers, the count pass, key matching, digest checks, cut values, entry
// parsing, the entry array and format versions.
#include "core/format/header_reader.h"

#include <gtest/gtest.h>
#include <malloc.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "core/cache/cache_root.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_files.h"
#include "core/platform/file_handle.h"
#include "tests/support/header_builder.h"
#include "tests/support/test_support.h"

// Every allocation through operator new is counted, so that a test can hold
// the reader's memory to a bound without timing anything. AddressSanitizer
// keeps its own operator new, so its builds count nothing.
namespace {

std::atomic<int64_t> g_held_bytes{0};
std::atomic<int64_t> g_peak_bytes{0};

}  // namespace

#if defined(__SANITIZE_ADDRESS__)
#define QX_COUNTED_ALLOCATIONS 0
#else
#define QX_COUNTED_ALLOCATIONS 1
namespace {

void* CountedAllocate(std::size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  const int64_t held = g_held_bytes += static_cast<int64_t>(malloc_usable_size(block));
  int64_t peak = g_peak_bytes.load();
  while (held > peak && !g_peak_bytes.compare_exchange_weak(peak, held)) {
  }
  return block;
}

void CountedFree(void* block) {
  if (block != nullptr) {
    g_held_bytes -= static_cast<int64_t>(malloc_usable_size(block));
    std::free(block);
  }
}

}  // namespace

void* operator new(std::size_t size) {
  return CountedAllocate(size);
}
void* operator new[](std::size_t size) {
  return CountedAllocate(size);
}
void operator delete(void* block) noexcept {
  CountedFree(block);
}
void operator delete[](void* block) noexcept {
  CountedFree(block);
}
void operator delete(void* block, std::size_t) noexcept {
  CountedFree(block);
}
void operator delete[](void* block, std::size_t) noexcept {
  CountedFree(block);
}
#endif

namespace qx {
namespace {

using qx_test::HeaderBuilder;
using qx_test::JoinLines;
using qx_test::Reseal;
using qx_test::SplitLines;

class HeaderReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { SetCacheRoot(dir_.path() + "/cache"); }
  void TearDown() override { SetCacheRoot(""); }

  // Reads |text| as a header into record_; returns the result.
  int Read(const std::string& text) {
    qx_test::WriteFile(dir_ / "h.qxw", text);
    FilePtr file(std::fopen((dir_ / "h.qxw").c_str(), "r"));
    return ReadPackageHeader(file.get(), &version_, &record_);
  }

  static HeaderBuilder Sample() {
    HeaderBuilder builder;
    builder.Set(HeaderKey::kCopyright, "(c) 1997")
        .Set(HeaderKey::kVersion, "02.03.04b")
        .Set(HeaderKey::kMinVersion, "01.00.00")
        .Set(HeaderKey::kDelete, "Yes")
        .Set(HeaderKey::kReadmeFile, "README.TXT")
        .Set(HeaderKey::kRegistryFile, "demo.reg")
        .Set(HeaderKey::kCompanyIdentity, "yes")
        .Set(HeaderKey::kDownloadSplash, "down.bmp")
        .Set(HeaderKey::kLaunchSplash, "launch.bmp")
        .Set(HeaderKey::kLaunchSplashDuration, "5")
        .Set(HeaderKey::kInstallTo, "apps\\tools")
        .Set(HeaderKey::kUpdateOption, "Required")
        .Set(HeaderKey::kComment, "first seal");
    HeaderBuilder::File readme{"README.TXT", 120, 120};
    HeaderBuilder::File exe{"bin\\demo.exe", 4000,         9000,       std::string(32, 'a'),
                            "08:07:06",      "01/02/1999", "03.02.01z"};
    builder.AddFile(readme).AddComment(" binaries follow").AddFile(exe);
    return builder;
  }

  qx_test::TempDir dir_;
  FormatVersion version_;
  std::unique_ptr<PackageHeader> record_;
};

TEST_F(HeaderReaderTest, ReadsEveryValueAndEntryOfASealedHeader) {
  const HeaderBuilder builder = Sample();
  ASSERT_EQ(Read(builder.Text()), kHeaderOk);
  ASSERT_TRUE(record_);
  EXPECT_EQ(version_.major, 1);
  EXPECT_EQ(version_.minor, 0);
  const HeaderValues& v = record_->values;
  EXPECT_EQ(v.format_version.major, 1);
  EXPECT_EQ(v.owner, "Tarnwick Test");
  EXPECT_EQ(v.copyright, "(c) 1997");
  EXPECT_EQ(v.appl_name, "Demo");
  EXPECT_EQ(v.command_line, "bin\\demo.exe -x");
  EXPECT_EQ(v.version.major, 2);
  EXPECT_EQ(v.version.minor, 3);
  EXPECT_EQ(v.version.dotdot, 4);
  EXPECT_EQ(v.version.letter, 'b');
  EXPECT_EQ(v.min_version.letter, 0);
  EXPECT_EQ(v.date, "12/06/1997");
  EXPECT_EQ(v.month, 12);
  EXPECT_EQ(v.day, 6);
  EXPECT_EQ(v.year, 1997);
  EXPECT_TRUE(v.delete_package);
  EXPECT_TRUE(v.company_identity);  // "yes" in any case
  EXPECT_FALSE(v.download_detail);
  EXPECT_TRUE(v.update_required);
  EXPECT_EQ(v.readme_file, "README.TXT");
  EXPECT_EQ(v.registry_file, "demo.reg");
  EXPECT_TRUE(v.registry_file_line);
  EXPECT_EQ(v.launch_splash, "launch.bmp");
  EXPECT_EQ(v.launch_splash_duration, "5");
  EXPECT_EQ(v.install_to, "apps\\tools");
  EXPECT_EQ(v.neutral_install_to, "apps|tools");
  EXPECT_EQ(v.comment, "first seal");
  EXPECT_EQ(v.header_digest, builder.Digest());
  EXPECT_FALSE(record_->corrupt);
  EXPECT_EQ(record_->package_directory, dir_.path() + "/cache/apps/tools/Demo");

  ASSERT_EQ(record_->entries.size(), 3u);
  const FileEntry& readme = *record_->entries[0];
  EXPECT_EQ(readme.name, "README.TXT");
  EXPECT_EQ(readme.length, 120);
  EXPECT_EQ(readme.size, 120);
  const FileEntry& comment = *record_->entries[1];
  EXPECT_EQ(comment.state, kEntryStateComment);
  EXPECT_TRUE(comment.comment);
  EXPECT_EQ(comment.neutral_name, " binaries follow");
  const FileEntry& exe = *record_->entries[2];
  EXPECT_EQ(exe.state, kEntryStateFile);
  EXPECT_EQ(exe.name, "bin\\demo.exe");
  EXPECT_EQ(exe.neutral_name, "bin|demo.exe");
  EXPECT_EQ(exe.hours, 8);
  EXPECT_EQ(exe.minutes, 7);
  EXPECT_EQ(exe.seconds, 6);
  EXPECT_EQ(exe.month, 1);
  EXPECT_EQ(exe.day, 2);
  EXPECT_EQ(exe.year, 1999);
  EXPECT_EQ(exe.version.major, 3);
  EXPECT_EQ(exe.version.dotdot, 1);
  EXPECT_EQ(exe.version.letter, 'z');
  EXPECT_EQ(exe.length, 4000);
  EXPECT_EQ(exe.size, 9000);
  EXPECT_EQ(exe.digest, std::string(32, 'a'));
}

TEST_F(HeaderReaderTest, CountPassCountsFileLinesAndLaterCommentsOnly) {
  HeaderBuilder builder = Sample();
  std::string text = builder.Text();
  // A comment ahead of ApplName (the comment block) never counts.
  qx_test::WriteFile(dir_ / "c.qxw", text);
  FilePtr file(std::fopen((dir_ / "c.qxw").c_str(), "r"));
  FormatVersion version;
  EXPECT_EQ(CountHeaderEntries(file.get(), &version), 3);
  EXPECT_EQ(CountHeaderEntries(nullptr, &version), 0);
  EXPECT_EQ(CountHeaderEntries(file.get(), nullptr), 0);

  qx_test::WriteFile(dir_ / "d.qxw", "##qxweb## 12.34x\r\nFile: \"a\"\r\n  File: x\r\nfile: y\r\n");
  FilePtr other(std::fopen((dir_ / "d.qxw").c_str(), "r"));
  EXPECT_EQ(CountHeaderEntries(other.get(), &version), 2);
  EXPECT_EQ(version.major, 12);
  EXPECT_EQ(version.minor, 34);

  qx_test::WriteFile(dir_ / "e.qxw", " ##QXWEB## 1.0\r\nFile: \"a\"\r\n");
  FilePtr shifted(std::fopen((dir_ / "e.qxw").c_str(), "r"));
  EXPECT_EQ(CountHeaderEntries(shifted.get(), &version), 0);
}

TEST_F(HeaderReaderTest, RejectsFilesWithoutMagicOrEntriesAndLeavesTheRecord) {
  EXPECT_EQ(ReadPackageHeader(nullptr, &version_, &record_), kHeaderFailed);
  EXPECT_EQ(Read("##QXWEB 1.0\r\nFile: \"a\"\r\n"), kHeaderFailed);
  EXPECT_FALSE(record_);
  HeaderBuilder no_entries;  // key lines only
  EXPECT_EQ(Read(no_entries.Text()), kHeaderFailed);
  EXPECT_FALSE(record_);

  ASSERT_EQ(Read(Sample().Text()), kHeaderOk);
  PackageHeader* before = record_.get();
  EXPECT_EQ(Read(no_entries.Text()), kHeaderFailed);
  EXPECT_EQ(record_.get(), before);
  EXPECT_EQ(record_->entries.size(), 3u);
}

TEST_F(HeaderReaderTest, ReadingAgainHandsTheEntriesToAFreshRecord) {
  ASSERT_EQ(Read(Sample().Text()), kHeaderOk);
  record_->entries[1]->client_words[0] = 77;
  record_->entries[2]->state = 2;
  record_->entries[2]->progress = 500;
  record_->corrupt = true;
  const FileEntry* reused = record_->entries[1].get();

  // The new header has a file where the comment was, and fewer entries.
  HeaderBuilder builder;
  builder.AddFile({"one.txt", 1, 1}).AddFile({"two.txt", 2, 2});
  ASSERT_EQ(Read(builder.Text()), kHeaderOk);
  ASSERT_EQ(record_->entries.size(), 2u);
  EXPECT_FALSE(record_->corrupt);
  const FileEntry& second = *record_->entries[1];
  EXPECT_EQ(&second, reused);
  EXPECT_EQ(second.name, "two.txt");
  EXPECT_EQ(second.state, kEntryStateFile);  // no longer a comment
  EXPECT_FALSE(second.comment);
  EXPECT_EQ(second.client_words[0], 77);  // the client's own word stays
  EXPECT_EQ(record_->values.copyright, "");
}

TEST_F(HeaderReaderTest, KeysMatchAsCaseInsensitivePrefixesInTheirTestOrder) {
  std::vector<std::string> lines = SplitLines(Sample().Text());
  for (std::string& line : lines) {
    if (line.rfind("Owner:", 0) == 0) {
      line = "oWNER: lower owner";
    } else if (line.rfind("LaunchSplashDuration:", 0) == 0) {
      line = "LAUNCHSPLASHDURATION: 9";
    } else if (line.rfind("LaunchSplash:", 0) == 0) {
      line = "launchsplash: l.bmp";
    } else if (line.rfind("UpdateOption", 0) == 0) {
      line = "updateoption: rEQUIRED";
    } else if (line.rfind("DownloadDetail", 0) == 0) {
      line = "DOWNLOADDETAIL: YES";
    } else if (line.rfind("File:", 0) == 0) {
      line.replace(0, 4, "FILE");  // the count pass only takes "File:", the read any case
    }
  }
  // Keep the count pass in step: the first entry stays "File:".
  for (std::string& line : lines) {
    if (line.rfind("FILE:", 0) == 0) {
      line.replace(0, 4, "File");
      break;
    }
  }
  ASSERT_EQ(Read(Reseal(JoinLines(lines))), kHeaderOk);
  const HeaderValues& v = record_->values;
  EXPECT_EQ(v.owner, "lower owner");
  EXPECT_EQ(v.launch_splash_duration, "9");
  EXPECT_EQ(v.launch_splash, "l.bmp");
  EXPECT_TRUE(v.update_required);
  EXPECT_TRUE(v.download_detail);
  // The second file line was not counted: it is read and digested, not kept.
  ASSERT_EQ(record_->entries.size(), 2u);
  EXPECT_EQ(record_->entries[0]->name, "README.TXT");
  EXPECT_TRUE(record_->entries[1]->comment);
}

TEST_F(HeaderReaderTest, SurplusEntriesNeverGoPastTheArray) {
  // Many lower-case file lines the count pass ignores, one it counts.
  HeaderBuilder builder;
  builder.AddFile({"counted.txt", 1, 1});
  std::vector<std::string> lines = SplitLines(builder.Text());
  std::vector<std::string> extra;
  for (int i = 0; i < 50; ++i) {
    extra.push_back("file: \"x" + std::to_string(i) + "\"; Length = 1; \\");
    extra.push_back("   Size = 1");
  }
  lines.insert(lines.end() - 1, extra.begin(), extra.end());
  ASSERT_EQ(Read(Reseal(JoinLines(lines))), kHeaderOk);
  ASSERT_EQ(record_->entries.size(), 1u);
  EXPECT_EQ(record_->entries[0]->name, "counted.txt");
}

TEST_F(HeaderReaderTest, CommentsAreEntriesOnlyAfterANonEmptyApplName) {
  HeaderBuilder builder;
  builder.AddComment("kept").AddFile({"a.txt", 1, 1});
  std::vector<std::string> lines = SplitLines(builder.Text());
  lines.insert(lines.begin() + 8, "; before the name");  // among the key lines
  ASSERT_EQ(Read(Reseal(JoinLines(lines))), kHeaderOk);
  ASSERT_EQ(record_->entries.size(), 2u);
  EXPECT_EQ(record_->entries[0]->neutral_name, "kept");

  // With an empty ApplName the count pass still counts the comment, the read
  // does not take it, and no empty entry is left behind.
  builder.Set(HeaderKey::kApplName, "");
  EXPECT_EQ(Read(builder.Text()), kHeaderFailed);  // no safe package directory
  ASSERT_EQ(record_->entries.size(), 1u);
  EXPECT_EQ(record_->entries[0]->name, "a.txt");
  EXPECT_FALSE(record_->corrupt);
  EXPECT_EQ(record_->package_directory, "");
}

TEST_F(HeaderReaderTest, EntriesContinueWithEitherMarkAndAcceptLineFeedsAlone) {
  HeaderBuilder builder;
  builder.AddFile({"a\\b.exe", 10, 20, std::string(32, 'c')});
  builder.AddFile({"a/b.exe", 11, 21, std::string(32, 'd')});
  std::string text = builder.Text();
  // The first line of the first entry ends in "/" instead of "\".
  const size_t mark = text.find(" \\\r\n");
  text[mark + 1] = '/';
  std::string lf_only;
  for (char c : Reseal(text)) {
    if (c != '\r') {
      lf_only += c;
    }
  }
  ASSERT_EQ(Read(lf_only), kHeaderOk);
  ASSERT_EQ(record_->entries.size(), 2u);
  for (const auto& entry : record_->entries) {
    EXPECT_EQ(entry->neutral_name, "a|b.exe");
  }
  EXPECT_EQ(record_->entries[0]->size, 20);
  EXPECT_EQ(record_->entries[0]->digest, std::string(32, 'c'));
  EXPECT_EQ(record_->entries[1]->digest, std::string(32, 'd'));
}

TEST_F(HeaderReaderTest, TextValuesAndCommentsEndAtACarriageReturnInsideTheLine) {
  HeaderBuilder builder;
  builder.Set(HeaderKey::kApplName, "Demo\rX")
      .Set(HeaderKey::kOwner, "Tarnwick\r\rTest")
      .Set(HeaderKey::kCommandLine, "bin\\demo\r -x")
      .AddComment(" note\rhidden")
      .AddFile({"a.txt", 1, 1});
  const std::string text = builder.Text();
  ASSERT_EQ(Read(text), kHeaderOk);
  EXPECT_EQ(record_->values.appl_name, "Demo");
  EXPECT_EQ(record_->values.owner, "Tarnwick");
  EXPECT_EQ(record_->values.command_line, "bin\\demo");
  ASSERT_EQ(record_->entries.size(), 2u);
  EXPECT_EQ(record_->entries[0]->neutral_name, " note");
  // What follows the CR is still digested.
  std::string changed = text;
  changed[changed.find("Demo\rX") + 5] = 'Y';
  EXPECT_EQ(Read(changed), kHeaderFailed);
  EXPECT_TRUE(record_->corrupt);
}

TEST_F(HeaderReaderTest, EmptyValueFormsReadAndDigestAlike) {
  HeaderBuilder builder;
  builder.AddFile({"a.txt", 1, 1});
  std::string text = builder.Text();
  const size_t pos = text.find("ReadmeFile:\r\n");
  ASSERT_NE(pos, std::string::npos);
  text.insert(pos + 11, "   \t");
  ASSERT_EQ(Read(text), kHeaderOk);  // the trailer is the one of "ReadmeFile:"
  EXPECT_EQ(record_->values.readme_file, "");
}

TEST_F(HeaderReaderTest, InsignificantEditsKeepTheDigestValid) {
  HeaderBuilder builder = Sample();
  std::vector<std::string> lines = SplitLines(builder.Text());
  for (std::string& line : lines) {
    if (line.rfind("CommandLine:", 0) == 0) {
      line = "CommandLine: other.exe --changed";
    } else if (line.rfind("; Modifying", 0) == 0) {
      line = "; edited comment";
    }
  }
  lines.insert(lines.begin() + 12, "");
  lines.insert(lines.begin() + 20, "   \t");
  ASSERT_EQ(Read(JoinLines(lines)), kHeaderOk);
  EXPECT_EQ(record_->values.command_line, "other.exe --changed");
}

TEST_F(HeaderReaderTest, EverySignificantByteChangeIsDetected) {
  const std::string text = Sample().Text();
  ASSERT_EQ(Read(text), kHeaderOk);
  size_t line_start = 0;
  int checked = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n') {
      line_start = i + 1;
      continue;
    }
    const size_t line_end = text.find('\r', line_start);
    const std::string_view line(text.data() + line_start, line_end - line_start);
    const std::string_view body = SkipBlanks(line);
    if (text[i] == '\r' || body.empty() || body.front() == ';' ||
        (StartsWithNoCase(body, "CommandLine") && i - line_start >= 11)) {
      continue;
    }
    std::string changed = text;
    changed[i] = changed[i] == 'x' ? 'y' : 'x';
    record_.reset();
    ASSERT_NE(Read(changed), kHeaderOk) << "byte " << i << " of: " << line;
    ++checked;
  }
  EXPECT_GT(checked, 700);
}

TEST_F(HeaderReaderTest, EveryPrefixOfAHeaderFailsUntilTheTrailerIsWhole) {
  const std::string text = Sample().Text();
  for (size_t n = 0; n <= text.size(); ++n) {
    record_.reset();
    const int result = Read(text.substr(0, n));
    // Only the line end of the trailer may be missing.
    EXPECT_EQ(result, n >= text.size() - 2 ? kHeaderOk : kHeaderFailed) << n;
  }
}

TEST_F(HeaderReaderTest, SmallStreamBuffersReadTheSameRecord) {
  const std::string text = Sample().Text();
  ASSERT_EQ(Read(text), kHeaderOk);
  const std::unique_ptr<PackageHeader> whole = std::move(record_);
  for (size_t block : {1u, 2u, 31u, 255u}) {
    FilePtr file(std::fopen((dir_ / "h.qxw").c_str(), "r"));
    std::vector<char> buffer(block);
    ASSERT_EQ(std::setvbuf(file.get(), buffer.data(), _IOFBF, block), 0);
    ASSERT_EQ(ReadPackageHeader(file.get(), &version_, &record_), kHeaderOk) << block;
    ASSERT_EQ(record_->entries.size(), whole->entries.size());
    EXPECT_EQ(record_->values.header_digest, whole->values.header_digest);
    for (size_t i = 0; i < whole->entries.size(); ++i) {
      EXPECT_EQ(record_->entries[i]->name, whole->entries[i]->name);
      EXPECT_EQ(record_->entries[i]->digest, whole->entries[i]->digest);
    }
    record_.reset();
  }
}

TEST_F(HeaderReaderTest, HeadersWithTooManyEntriesAreRefusedBeforeAnyAllocation) {
  std::string text = "##QXWEB## 1.0\nApplName: Demo\n";
  text.reserve(text.size() + 2 * (kMaxHeaderEntries + 1));
  for (int32_t i = 0; i <= kMaxHeaderEntries; ++i) {
    text += ";\n";
  }
  EXPECT_EQ(Read(text), kHeaderNoMemory);
  EXPECT_FALSE(record_);
}

TEST_F(HeaderReaderTest, MemoryStaysWithinASmallMultipleOfTheHeader) {
#if !QX_COUNTED_ALLOCATIONS
  GTEST_SKIP() << "allocations are not counted under AddressSanitizer";
#endif
  // Whatever its lines, a header never costs the reader much more than its
  // own size; a sealed header of many files still reads.
  constexpr size_t kHeaderSize = 1 << 20;
  constexpr int64_t kFactor = 12;
  constexpr int64_t kFixedBytes = 256 << 10;
  const std::string start = "##QXWEB## 1.0\r\nApplName: Demo\r\n";
  HeaderBuilder sealed;
  for (int i = 0; i < 6000; ++i) {
    sealed.AddFile({"bin\\file" + std::to_string(i) + ".dat", 1000, 2000, std::string(32, 'e')});
  }
  struct Shape {
    const char* what;
    std::string text;
  };
  std::vector<Shape> shapes = {{"sealed", sealed.Text()}};
  for (const char* line : {";\r\n", ";\n", "File:\n", "; a short note\r\n",
                           "; a comment of thirty-two bytes\r\n", "File: \\\n"}) {
    std::string text = start;
    while (text.size() < kHeaderSize) {
      text += line;
    }
    shapes.push_back({line, text});
  }
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.what);
    qx_test::WriteFile(dir_ / "h.qxw", shape.text);
    FilePtr file(std::fopen((dir_ / "h.qxw").c_str(), "r"));
    record_.reset();
    const int64_t before = g_held_bytes;
    g_peak_bytes = before;
    const int result = ReadPackageHeader(file.get(), &version_, &record_);
    const int64_t peak = g_peak_bytes - before;
    EXPECT_LE(peak, kFactor * static_cast<int64_t>(shape.text.size()) + kFixedBytes);
    if (shape.what == std::string("sealed")) {
      EXPECT_EQ(result, kHeaderOk);
    }
    record_.reset();
  }
}

TEST_F(HeaderReaderTest, TrailerMissingOrLongerThanADigestIsCorrupt) {
  std::vector<std::string> lines = SplitLines(Sample().Text());
  const std::string trailer = lines.back();
  lines.pop_back();
  EXPECT_EQ(Read(JoinLines(lines)), kHeaderFailed);
  EXPECT_TRUE(record_->corrupt);
  EXPECT_EQ(record_->values.header_digest, "");
  lines.push_back(trailer + "0");
  EXPECT_EQ(Read(JoinLines(lines)), kHeaderFailed);
  EXPECT_TRUE(record_->corrupt);
  lines.back() = trailer;
  EXPECT_EQ(Read(JoinLines(lines)), kHeaderOk);
}

TEST_F(HeaderReaderTest, LongValuesAndLinesAreCutNeverOverrun) {
  HeaderBuilder builder;
  builder.Set(HeaderKey::kOwner, std::string(200, 'o'))
      .Set(HeaderKey::kCopyright, std::string(400, 'c'))  // read in two pieces
      .Set(HeaderKey::kLaunchSplashDuration, "123456789012");
  builder.AddFile({std::string(180, 'n'), 1, 2, std::string(32, 'f')});  // joined text too long
  ASSERT_EQ(Read(builder.Text()), kHeaderOk);
  const HeaderValues& v = record_->values;
  EXPECT_EQ(v.owner, std::string(80, 'o'));
  EXPECT_EQ(v.copyright, std::string(80, 'c'));
  EXPECT_EQ(v.launch_splash_duration, "12345678");
  ASSERT_EQ(record_->entries.size(), 1u);
  const FileEntry& first = *record_->entries[0];
  EXPECT_EQ(first.name, std::string(180, 'n'));
  EXPECT_EQ(first.length, 1);
  EXPECT_EQ(first.size, 0);     // the text is cut right after "Size"
  EXPECT_EQ(first.digest, "");  // beyond the 256 characters of joined text

  // An entry line longer than a line may be falls apart into pieces: its
  // third line then reads as a trailer, so the header cannot verify.
  builder.AddFile({std::string(300, 'm') + ".txt", 3, 4});
  EXPECT_EQ(Read(builder.Text()), kHeaderFailed);
  EXPECT_TRUE(record_->corrupt);
  ASSERT_EQ(record_->entries.size(), 2u);
  EXPECT_EQ(record_->entries[1]->name, std::string(248, 'm'));

  // The digest is keyed by the date as kept, so an over-long date cannot verify.
  HeaderBuilder dated;
  dated.Set(HeaderKey::kDate, "12/06/1997 and then some").AddFile({"a", 1, 1});
  EXPECT_EQ(Read(dated.Text()), kHeaderFailed);
  EXPECT_EQ(record_->values.date, "12/06/1997 ");
  EXPECT_EQ(record_->values.year, 1997);
  EXPECT_TRUE(record_->corrupt);
}

TEST_F(HeaderReaderTest, MissingSeparatorsReadAsZeroAndEmpty) {
  const std::string text =
      "##QXWEB## 3\r\nOwner\r\nApplName: Demo\r\nVersion 01.02.03\r\nMinVersion: 7\r\n"
      "Date: 11\r\nFile: \"x\"; Time = 10; Date; Version = 4.5; Length; Size 9; SECURE_MD5\r\n"
      "File\r\nSECURE_MD5\r\n";
  EXPECT_EQ(Read(text), kHeaderFailed);
  ASSERT_TRUE(record_);
  EXPECT_TRUE(record_->corrupt);
  EXPECT_EQ(version_.major, 3);
  EXPECT_EQ(version_.minor, 0);
  const HeaderValues& v = record_->values;
  EXPECT_EQ(v.owner, "");
  EXPECT_EQ(v.version.major, 0);
  EXPECT_EQ(v.min_version.major, 7);
  EXPECT_EQ(v.min_version.minor, 0);
  EXPECT_EQ(v.month, 11);
  EXPECT_EQ(v.day, 0);
  const FileEntry& entry = *record_->entries[0];
  EXPECT_EQ(entry.hours, 10);
  EXPECT_EQ(entry.minutes, 0);
  EXPECT_EQ(entry.version.major, 4);
  EXPECT_EQ(entry.version.minor, 5);
  EXPECT_EQ(entry.version.dotdot, 0);
  EXPECT_EQ(entry.length, 0);
  EXPECT_EQ(entry.size, 0);
  EXPECT_EQ(entry.digest, "");
}

TEST(ParseFileEntry, ReadsEachPieceAndTrimsNamesAndDigests) {
  FileEntry entry;
  EXPECT_EQ(ParseFileEntry("\"a\\b.exe\"; Time = 01:02:04; Date = 12/31/1999; "
                           "Version = 01.02.03a; Length = 99999999999; Size = -5; "
                           "SECURE_MD5 = \"abc\"  ; unknown = 1",
                           &entry),
            kHeaderOk);
  EXPECT_EQ(entry.name, "a\\b.exe");
  EXPECT_EQ(entry.neutral_name, "a|b.exe");
  EXPECT_EQ(entry.seconds, 4);
  EXPECT_EQ(entry.year, 1999);
  EXPECT_EQ(entry.version.letter, 'a');
  EXPECT_EQ(entry.length, 99999999999);
  EXPECT_EQ(entry.size, -5);
  EXPECT_EQ(entry.digest, "abc");

  FileEntry other;
  ParseFileEntry("  \" \"a/b.exe\" ; Version = 01.02.03 ; length = 99999999999999999999999",
                 &other);
  EXPECT_EQ(other.name, "a/b.exe");
  EXPECT_EQ(other.neutral_name, "a|b.exe");
  EXPECT_EQ(other.version.letter, 0);
  EXPECT_EQ(other.length, INT64_MAX);
  EXPECT_EQ(ParseFileEntry("\"x\"", nullptr), kHeaderFailed);
}

TEST(EntryArray, ResizesKeepingEntriesAndFreesThem) {
  EXPECT_EQ(ResizeEntryArray(nullptr, 3), kHeaderFailed);
  EXPECT_EQ(FreeEntryArray(nullptr), kHeaderFailed);
  PackageHeader record;
  EXPECT_EQ(FreeEntryArray(&record), kHeaderFailed);
  EXPECT_EQ(ResizeEntryArray(&record, -1), kHeaderFailed);
  ASSERT_EQ(ResizeEntryArray(&record, 3), kHeaderOk);
  record.entries[1]->name = "kept";
  const FileEntry* kept = record.entries[1].get();
  ASSERT_EQ(ResizeEntryArray(&record, 2), kHeaderOk);
  ASSERT_EQ(ResizeEntryArray(&record, 5), kHeaderOk);
  EXPECT_EQ(record.entries[1].get(), kept);
  for (const auto& entry : record.entries) {
    ASSERT_NE(entry, nullptr);
  }
  EXPECT_EQ(record.entries[4]->name, "");
  EXPECT_EQ(FreeEntryArray(&record), kHeaderOk);
  EXPECT_TRUE(record.entries.empty());
}

TEST(CompareFormatVersion, OrdersByMajorThenMinor) {
  const FormatVersion v10{1, 0}, v11{1, 1}, v20{2, 0}, v19{1, 9};
  EXPECT_EQ(CompareFormatVersion(&v10, &v20), -2);
  EXPECT_EQ(CompareFormatVersion(&v20, &v19), 2);
  EXPECT_EQ(CompareFormatVersion(&v10, &v11), -1);
  EXPECT_EQ(CompareFormatVersion(&v11, &v10), 1);
  EXPECT_EQ(CompareFormatVersion(&v11, &v11), 0);
  EXPECT_EQ(CompareFormatVersion(nullptr, &v11), 0);
  EXPECT_EQ(CompareFormatVersion(&v11, nullptr), 2);
}

TEST_F(HeaderReaderTest, UnsafeApplicationNameOrInstallToGivesNoPackageDirectory) {
  for (const auto& [key, value] :
       std::vector<std::pair<HeaderKey, std::string>>{{HeaderKey::kApplName, ".."},
                                                      {HeaderKey::kApplName, "a\\b"},
                                                      {HeaderKey::kInstallTo, "..\\.."},
                                                      {HeaderKey::kInstallTo, "/abs"},
                                                      {HeaderKey::kInstallTo, "C:\\x"}}) {
    HeaderBuilder builder;
    builder.Set(key, value).AddFile({"a.txt", 1, 1});
    EXPECT_EQ(Read(builder.Text()), kHeaderFailed) << value;
    EXPECT_FALSE(record_->corrupt);
    EXPECT_EQ(record_->package_directory, "");
    EXPECT_EQ(ValidatePackageFiles(record_.get()), kHeaderFailed);
  }
}

}  // namespace
}  // namespace qx
