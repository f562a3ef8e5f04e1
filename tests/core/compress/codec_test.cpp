// Tests of the codec's entry points (codec layer): the codec's message box,
// the unchanged copy with its digest, and compression by file name.
#include "core/compress/codec.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/digest/secure_digest.h"
#include "core/platform/file_handle.h"
#include "tests/core/compress/codec_runner.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace {

using qx_codec_test::DigestOf;

TEST(ShowCodecMessage, BeepsThenShowsOneInformationBoxWithoutOneTrailingLineFeed) {
  qx::ScriptedUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  qx::ShowCodecMessage("\n%s: %s: %s\n", "compress", "input", "invalid compressed data--crc error");
  qx::ShowCodecMessage("%s-%s: %s", "compress", "output", "Disk full");
  qx::ShowCodecMessage("two\n\n");
  ASSERT_EQ(ui.events().size(), 6u);
  for (size_t i = 0; i < ui.events().size(); i += 2) {
    EXPECT_TRUE(ui.events()[i].is_beep);
    EXPECT_EQ(ui.events()[i].beep, qx::BeepKind::kSimple);
    const qx::MessageBoxRequest& box = ui.events()[i + 1].box;
    EXPECT_FALSE(ui.events()[i + 1].is_beep);
    EXPECT_EQ(box.owner, nullptr);
    EXPECT_EQ(box.caption, "Tarnwick Web Sealer");
    EXPECT_EQ(box.icon, qx::BoxIcon::kInformation);
    EXPECT_EQ(box.buttons, qx::BoxButtons::kOk);
  }
  EXPECT_EQ(ui.texts(),
            (std::vector<std::string>{"\ncompress: input: invalid compressed data--crc error",
                                      "compress-output: Disk full", "two\n"}));
}

TEST(ShowCodecMessage, KeepsAtMost255Characters) {
  qx::ScriptedUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  const std::string long_text(400, 'w');
  qx::ShowCodecMessage("%s\n", long_text.c_str());
  ASSERT_EQ(ui.texts().size(), 1u);
  EXPECT_EQ(ui.texts()[0], std::string(255, 'w'));
}

// Runs DigestCopyFile on |bytes| into a file (or digest only).
struct CopyRun {
  int result = -99;
  int64_t size = -1;
  std::string digest;
  std::string copy;
};

CopyRun DigestCopy(const std::string& bytes, bool with_output, const char* key) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "in", bytes);
  std::FILE* in = std::fopen((dir / "in").c_str(), "rb");
  std::FILE* out = with_output ? std::fopen((dir / "out").c_str(), "wb") : nullptr;
  CopyRun run;
  char digest[qx::kDigestBufferSize] = {};
  run.result = qx::DigestCopyFile(in, out, &run.size, digest, sizeof digest, key);
  run.digest = digest;
  std::fclose(in);
  if (out != nullptr) {
    std::fclose(out);
    run.copy = qx_test::ReadFile(dir / "out");
  }
  return run;
}

TEST(DigestCopyFile, CopiesAndDigestsWholeAndPartBlocks) {
  // 516 bytes exactly: one full block, then a read that gets nothing.
  for (size_t size : {0, 1, 515, 516, 517, 1032, 100000}) {
    SCOPED_TRACE(size);
    const std::string bytes = qx_test::RandomBytes(size, size + 1);
    const CopyRun run = DigestCopy(bytes, true, "Demo");
    EXPECT_EQ(run.result, qx::kCopyOk);
    EXPECT_EQ(run.size, static_cast<int64_t>(size));
    EXPECT_EQ(run.copy, bytes);
    EXPECT_EQ(run.digest, DigestOf(bytes, "Demo"));
  }
  const std::string bytes = qx_test::TextBytes(516, 3);
  const CopyRun digest_only = DigestCopy(bytes, false, nullptr);
  EXPECT_EQ(digest_only.result, qx::kCopyOk);
  EXPECT_EQ(digest_only.size, 516);
  EXPECT_EQ(digest_only.digest, qx_codec_test::Peer("md5sum", bytes).substr(0, 32));
}

TEST(DigestCopyFile, ReportsWriteAndReadFailuresByTheirCodes) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "in", qx_test::RandomBytes(600, 4));
  std::FILE* in = std::fopen((dir / "in").c_str(), "rb");
  // Even what stays buffered in the stream is found missing.
  std::FILE* full = std::fopen("/dev/full", "wb");
  ASSERT_NE(full, nullptr);
  int64_t size = -1;
  char digest[qx::kDigestBufferSize] = {};
  EXPECT_EQ(qx::DigestCopyFile(in, full, &size, digest, sizeof digest, nullptr),
            qx::kCopyShortWrite);
  std::fclose(full);
  std::fclose(in);

  std::FILE* directory = std::fopen(dir.path().c_str(), "rb");
  ASSERT_NE(directory, nullptr);
  EXPECT_EQ(qx::DigestCopyFile(directory, nullptr, &size, digest, sizeof digest, nullptr),
            qx::kCopyReadFailed);
  EXPECT_EQ(size, 0);
  std::fclose(directory);

  size = -1;
  EXPECT_EQ(qx::DigestCopyFile(nullptr, nullptr, &size, digest, sizeof digest, nullptr),
            qx::kCopyReadFailed);
  EXPECT_EQ(size, 0);
}

}  // namespace

namespace qx {
namespace {

using qx_test::ReadFile;
using qx_test::WriteFile;
using qx_test::WriteTimeOf;

TEST(CompressFileByName, CompressesForGzipAndExpandsGzipOutput) {
  ScriptedUserInterface ui;
  ScopedUserInterface scope(ui);
  qx_test::TempDir dir;
  const std::string text = qx_test::TextBytes(70000, 3);
  WriteFile(dir / "plain.txt", text);
  const timespec times[2] = {{1000000000, 0}, {881403336, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, (dir / "plain.txt").c_str(), times, 0), 0);

  EXPECT_EQ(CompressFileByName(dir / "plain.txt", dir / "stored.gz", true, "AppName"), kFileCopyOk);
  EXPECT_EQ(WriteTimeOf(dir / "stored.gz"), 881403336);
  const auto peer = qx_test::RunCommand("gzip -dc " + qx_test::ShellQuote(dir / "stored.gz"));
  EXPECT_EQ(peer.status, 0) << peer.err;
  EXPECT_EQ(peer.out, text);

  // A member made by the peer expands back, the plain digest asked for.
  ASSERT_EQ(qx_test::RunCommand("gzip -c " + qx_test::ShellQuote(dir / "plain.txt") + " > " +
                                qx_test::ShellQuote(dir / "peer.gz"))
                .status,
            0);
  EXPECT_EQ(CompressFileByName(dir / "peer.gz", dir / "expanded.txt", false, std::nullopt),
            kFileCopyOk);
  EXPECT_EQ(ReadFile(dir / "expanded.txt"), text);
  EXPECT_TRUE(ui.boxes().empty());
}

TEST(CompressFileByName, ReportsEachFailure) {
  ScriptedUserInterface ui;
  ScopedUserInterface scope(ui);
  qx_test::TempDir dir;
  WriteFile(dir / "not-gzip", "plain text, no member");
  EXPECT_EQ(CompressFileByName(dir / "missing", dir / "out", true, "k"), kFileCopySourceNotOpened);
  EXPECT_EQ(CompressFileByName(dir / "not-gzip", dir / "no/dir/out", true, "k"),
            kFileCopyDestinationNotCreated);
  EXPECT_EQ(CompressFileByName(dir / "not-gzip", dir / "not-gzip", true, "k"),
            kFileCopyDestinationNotCreated);
  EXPECT_EQ(ReadFile(dir / "not-gzip"), "plain text, no member");
  EXPECT_TRUE(ui.boxes().empty());  // none of those is the codec's to report

  EXPECT_EQ(CompressFileByName(dir / "not-gzip", dir / "out", false, "k"), kFileCopyCompressFailed);
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].caption, kCodecCaption);
}

// The bounded expansion counts every member together, stops at the first
// byte past the size without a box, and leaves no file behind.
TEST(ExpandFileByName, StopsPastTheSizeAndFailsShortOfIt) {
  ScriptedUserInterface ui;
  ScopedUserInterface scope(ui);
  qx_test::TempDir dir;
  const std::string part = qx_test::TextBytes(100000, 5);
  WriteFile(dir / "part", part);
  // Two members, as gzip writes a file compressed in two pieces.
  ASSERT_EQ(qx_test::RunCommand("gzip -c " + qx_test::ShellQuote(dir / "part") + " > " +
                                qx_test::ShellQuote(dir / "two.gz") + " && gzip -c " +
                                qx_test::ShellQuote(dir / "part") + " >> " +
                                qx_test::ShellQuote(dir / "two.gz"))
                .status,
            0);
  const int64_t whole = 2 * static_cast<int64_t>(part.size());
  struct Row {
    int64_t size;
    int result;
  };
  for (const Row& row :
       {Row{whole - 1, kFileCopyPastSize}, Row{whole / 2, kFileCopyPastSize},
        Row{0, kFileCopyPastSize}, Row{whole + 1, kFileCopyShortOfSize}, Row{whole, kFileCopyOk}}) {
    SCOPED_TRACE(row.size);
    EXPECT_EQ(ExpandFileByName(dir / "two.gz", dir / "out", row.size), row.result);
    EXPECT_EQ(qx_test::FileExists(dir / "out"), row.result == kFileCopyOk);
  }
  EXPECT_TRUE(ReadFile(dir / "out") == part + part);
  EXPECT_TRUE(ui.boxes().empty());

  // The stream form reports how far it got.
  Expansion expansion;
  FilePtr in(std::fopen((dir / "two.gz").c_str(), "rb"));
  FilePtr out(std::fopen((dir / "out").c_str(), "wb"));
  EXPECT_EQ(ExpandWithin(in.get(), out.get(), 150000, &expansion, nullptr, 0, nullptr),
            kCodecFailed);
  EXPECT_TRUE(expansion.past_limit);
  EXPECT_LE(expansion.expanded, 150000);
  EXPECT_TRUE(ui.boxes().empty());

  WriteFile(dir / "not-gzip", "plain text");
  EXPECT_EQ(ExpandFileByName(dir / "not-gzip", dir / "out", 10), kFileCopyCompressFailed);
  EXPECT_FALSE(qx_test::FileExists(dir / "out"));
  EXPECT_EQ(ui.boxes().size(), 1u);
}

}  // namespace
}  // namespace qx

namespace qx {
namespace {

// The value forms show nothing: each failure comes back with its code and
// its reason, and every text the run gave, in order.
TEST(CodecStreams, FailuresAndTextsComeBackAsValues) {
  ScriptedUserInterface ui;
  ScopedUserInterface scope(ui);
  qx_test::TempDir dir;
  const std::string text = qx_test::TextBytes(50000, 3);
  qx_test::WriteFile(dir / "plain", text);
  {
    FilePtr in(std::fopen((dir / "plain").c_str(), "rb"));
    FilePtr out(std::fopen((dir / "packed").c_str(), "wb"));
    const CodecRun run = CompressStreams(in.get(), out.get(), true, nullptr, 0, nullptr);
    ASSERT_TRUE(run.result.ok());
    EXPECT_EQ(run.expanded, 50000);
    EXPECT_TRUE(run.messages.empty());
  }
  const std::string packed = qx_test::ReadFile(dir / "packed");
  const struct {
    const char* what;
    std::string input;
    int64_t limit;
    int code;  // 0: expanded whole
    std::string reason;
  } rows[] = {
      {"whole", packed, 50000, 0, ""},
      {"not gzip", "plain text", 100, kCodecFailed, "\ncompress: input: not in gzip format"},
      {"trailing garbage", packed + "garbage!", 50000, kCodecFailed,
       "\ncompress: input: decompression OK, trailing garbage ignored"},
      {"past the limit", packed, 49999, kCodecPastLimit, ""},
      {"cut short", packed.substr(0, packed.size() / 2), 50000, kCodecFailed,
       "compress input: unexpected end of file"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    qx_test::WriteFile(dir / "in", row.input);
    FilePtr in(std::fopen((dir / "in").c_str(), "rb"));
    FilePtr out(std::fopen((dir / "out").c_str(), "wb"));
    const CodecRun run = ExpandStreamsWithin(in.get(), out.get(), row.limit, nullptr, 0, nullptr);
    if (row.code == 0) {
      ASSERT_TRUE(run.result.ok());
      EXPECT_EQ(run.total_expanded, 50000);
      EXPECT_TRUE(run.messages.empty());
      continue;
    }
    ASSERT_FALSE(run.result.ok());
    EXPECT_EQ(run.result.error().code, row.code);
    EXPECT_EQ(run.result.error().message, row.reason);
    EXPECT_EQ(run.past_limit, row.code == kCodecPastLimit);
    // The reason is the last text of the run, and the only one here.
    EXPECT_EQ(run.messages, row.reason.empty() ? std::vector<std::string>{}
                                               : std::vector<std::string>{row.reason});
  }
  const CodecRun no_output = CompressStreams(nullptr, nullptr, true, nullptr, 0, nullptr);
  ASSERT_FALSE(no_output.result.ok());
  EXPECT_EQ(no_output.result.error().message, "compress input: Bad file number");
  EXPECT_TRUE(ui.events().empty());
}

}  // namespace
}  // namespace qx
