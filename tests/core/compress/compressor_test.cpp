// Tests of the compressor (codec layer): the member written, its counts and
// digest, failures, and calls on several files at the same time.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "core/compress/codec.h"
#include "core/compress/compressor.h"
#include "tests/core/compress/codec_runner.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace {

using qx_codec_test::Compress;
using qx_codec_test::DigestOf;
using qx_codec_test::Expand;
using qx_codec_test::Feed;
using qx_codec_test::Le32;
using qx_codec_test::Peer;

uint32_t Crc(const std::string& bytes) {
  return static_cast<uint32_t>(
      crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
}

TEST(Compressor, EmptySourceGivesTheTwentyByteMember) {
  const auto run = Compress("", Feed::kFile, "Demo");
  ASSERT_EQ(run.result, qx::kCodecOk);
  const std::string expected("\x1F\x8B\x08\x00\x00\x00\x00\x00\x00\x0B\x03\x00\0\0\0\0\0\0\0\0",
                             20);
  EXPECT_EQ(run.output, expected);
  EXPECT_EQ(run.stored, 20);
  EXPECT_EQ(run.expanded, 0);
  EXPECT_EQ(run.digest, DigestOf(expected, "Demo"));
  EXPECT_TRUE(run.messages.empty());
  EXPECT_EQ(Peer("gzip -dc", run.output), "");
}

TEST(Compressor, MembersExpandWithGzipAndCarryHeaderTrailerCountsAndDigest) {
  // Sizes around the 32768-byte reads and 16384-byte writes, and data that
  // does and does not compress.
  const std::vector<std::string> sources = {
      "x",
      qx_test::TextBytes(16384, 1),
      qx_test::RandomBytes(32768, 2),
      qx_test::RandomBytes(32769, 3),
      qx_test::TextBytes(1000003, 4),
      qx_test::RandomBytes(300000, 5) + qx_test::TextBytes(300000, 6),
  };
  for (const std::string& source : sources) {
    SCOPED_TRACE(source.size());
    for (Feed feed : {Feed::kFile, Feed::kPipe}) {
      const auto run = Compress(source, feed, "Planner");
      ASSERT_EQ(run.result, qx::kCodecOk);
      EXPECT_TRUE(run.messages.empty());
      ASSERT_GT(run.output.size(), 18u);
      EXPECT_EQ(run.output.substr(0, 10), std::string("\x1F\x8B\x08\0\0\0\0\0\0\x0B", 10));
      EXPECT_EQ(Le32(run.output, run.output.size() - 8), Crc(source));
      EXPECT_EQ(Le32(run.output, run.output.size() - 4), source.size());
      EXPECT_EQ(run.stored, static_cast<int64_t>(run.output.size()));
      EXPECT_EQ(run.expanded, static_cast<int64_t>(source.size()));
      EXPECT_EQ(run.digest, DigestOf(run.output, "Planner"));
      EXPECT_EQ(Peer("gzip -dc", run.output), source);
    }
  }
}

// Around the size up to which a file is read whole and deflated in one call:
// either way, from a file or a pipe, the member is whole, expands with gzip
// and with the codec's own expander, and carries the right trailer.
TEST(Compressor, FilesAtAndPastTheWholeFileBoundGiveWholeMembers) {
  constexpr size_t kBound = qx::codec_detail::kWholeFileBound;
  const struct {
    const char* what;
    std::string source;
  } cases[] = {
      {"empty", ""},
      {"one byte", "x"},
      {"under the small-job buffers", qx_test::TextBytes(60000, 11)},
      {"text at the bound", qx_test::TextBytes(kBound, 12)},
      {"text one byte over", qx_test::TextBytes(kBound + 1, 13)},
      {"incompressible at the bound", qx_test::RandomBytes(kBound, 14)},
      {"incompressible one byte over", qx_test::RandomBytes(kBound + 1, 15)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::string first_member;
    for (Feed feed : {Feed::kFile, Feed::kPipe}) {
      const auto run = Compress(c.source, feed, "Demo");
      ASSERT_EQ(run.result, qx::kCodecOk);
      EXPECT_TRUE(run.messages.empty());
      ASSERT_GE(run.output.size(), 20u);
      EXPECT_EQ(run.output.substr(0, 10), std::string("\x1F\x8B\x08\0\0\0\0\0\0\x0B", 10));
      EXPECT_EQ(Le32(run.output, run.output.size() - 8), Crc(c.source));
      EXPECT_EQ(Le32(run.output, run.output.size() - 4), static_cast<uint32_t>(c.source.size()));
      EXPECT_EQ(run.stored, static_cast<int64_t>(run.output.size()));
      EXPECT_EQ(run.expanded, static_cast<int64_t>(c.source.size()));
      EXPECT_EQ(run.digest, DigestOf(run.output, "Demo"));
      // Stored data may grow by little more than its blocks' headers.
      EXPECT_LE(run.output.size(), c.source.size() + c.source.size() / 1000 + 64);
      EXPECT_TRUE(Peer("gzip -dc", run.output) == c.source);
      Peer("gzip -t", run.output);
      const auto unpacked = Expand(run.output, Feed::kFile, "Demo");
      ASSERT_EQ(unpacked.result, qx::kCodecOk);
      EXPECT_TRUE(unpacked.output == c.source);
      EXPECT_EQ(unpacked.digest, run.digest);
      if (feed == Feed::kFile) {
        first_member = run.output;
        // The same file always gives the same member.
        EXPECT_TRUE(Compress(c.source, Feed::kFile, "Demo").output == first_member);
      }
    }
  }
}

// A file that holds more than its size said when the call began (a file
// that grew while it was read; a /proc file, whose size is 0, always does)
// goes on as a stream behind the bytes read, and its member holds them all.
TEST(Compressor, FileLongerThanItsSizeGoesOnAsAStream) {
  const std::string expected = qx_test::ReadFile("/proc/version");
  ASSERT_FALSE(expected.empty());
  qx_test::TempDir dir;
  std::FILE* in = std::fopen("/proc/version", "rb");
  std::FILE* out = std::fopen((dir / "out").c_str(), "wb");
  ASSERT_NE(in, nullptr);
  ASSERT_NE(out, nullptr);
  char digest[64] = {};
  const qx::CodecRun run = qx::CompressStreams(in, out, true, digest, sizeof digest, "Demo");
  std::fclose(in);
  std::fclose(out);
  ASSERT_TRUE(run.result.ok());
  EXPECT_EQ(run.expanded, static_cast<int64_t>(expected.size()));
  const std::string member = qx_test::ReadFile(dir / "out");
  EXPECT_EQ(run.stored, static_cast<int64_t>(member.size()));
  EXPECT_EQ(Le32(member, member.size() - 8), Crc(expected));
  EXPECT_EQ(Peer("gzip -dc", member), expected);
  EXPECT_EQ(std::string(digest), DigestOf(member, "Demo"));
}

TEST(Compressor, ExpandingWhatWasCompressedGivesTheSameDigestAndLength) {
  const std::string source = qx_test::TextBytes(200000, 7) + qx_test::RandomBytes(50000, 8);
  for (const char* key : {static_cast<const char*>(nullptr), "Demo", ""}) {
    const auto packed = Compress(source, Feed::kFile, key);
    ASSERT_EQ(packed.result, qx::kCodecOk);
    const auto unpacked = Expand(packed.output, Feed::kFile, key);
    ASSERT_EQ(unpacked.result, qx::kCodecOk);
    EXPECT_EQ(unpacked.output, source);
    EXPECT_EQ(unpacked.digest, packed.digest);
    EXPECT_EQ(unpacked.stored, packed.stored);
    EXPECT_EQ(unpacked.expanded, packed.expanded);
  }
  // Without a key the digest is the plain MD5 of the member.
  const auto plain = Compress(source);
  EXPECT_EQ(plain.digest, Peer("md5sum", plain.output).substr(0, 32));
}

TEST(Compressor, FullDeviceIsReportedOnceAsDiskFull) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "source", qx_test::RandomBytes(100000, 9));
  for (bool compress : {true, false}) {
    // Expanding needs a member to expand.
    const std::string input = compress ? dir / "source" : dir / "member";
    if (!compress) {
      qx_test::WriteFile(input, Compress(qx_test::ReadFile(dir / "source")).output);
    }
    std::FILE* in = std::fopen(input.c_str(), "rb");
    std::FILE* out = std::fopen("/dev/full", "wb");
    ASSERT_NE(in, nullptr);
    ASSERT_NE(out, nullptr);
    qx::ScriptedUserInterface ui;
    qx::ScopedUserInterface scope(ui);
    int64_t stored = -5;
    EXPECT_EQ(qx::CompressFile(in, out, compress, &stored, nullptr, nullptr, 0, nullptr),
              qx::kCodecFailed);
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"compress-output: Disk full"});
    EXPECT_EQ(stored, -5);
    std::fclose(in);
    std::fclose(out);
  }
}

TEST(Compressor, OutputNotOpenForWritingIsAnInvalidHandle) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "source", "some bytes");
  qx_test::WriteFile(dir / "target", "");
  std::FILE* in = std::fopen((dir / "source").c_str(), "rb");
  std::FILE* out = std::fopen((dir / "target").c_str(), "rb");
  qx::ScriptedUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  EXPECT_EQ(qx::CompressFile(in, out, true, nullptr, nullptr, nullptr, 0, nullptr),
            qx::kCodecFailed);
  EXPECT_EQ(ui.texts(), std::vector<std::string>{
                            "compress-output: Invalid file handle or file not opened for writing"});
  std::fclose(in);
  std::fclose(out);
}

TEST(Compressor, UnreadableSourceCompletesTheMemberButFails) {
  // A directory opens as a stream, but reading it fails.
  qx_test::TempDir dir;
  std::FILE* in = std::fopen(dir.path().c_str(), "rb");
  ASSERT_NE(in, nullptr);
  std::FILE* out = std::fopen((dir / "out").c_str(), "wb");
  qx::ScriptedUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  EXPECT_EQ(qx::CompressFile(in, out, true, nullptr, nullptr, nullptr, 0, nullptr),
            qx::kCodecFailed);
  std::fclose(in);
  std::fclose(out);
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"compress input: Bad file number"});
  // What was written is a whole member of the bytes read (none).
  EXPECT_EQ(Peer("gzip -dc", qx_test::ReadFile(dir / "out")), "");
}

TEST(Compressor, CallsOnSeveralFilesRunAtTheSameTime) {
  constexpr int kThreads = 4;
  std::vector<std::string> sources;
  for (int i = 0; i < kThreads; ++i) {
    sources.push_back(qx_test::TextBytes(400000 + 1000 * i, 20 + i));
  }
  std::vector<qx_codec_test::CodecRun> packed(kThreads), unpacked(kThreads);
  // No message is due, so the shared user interface is never touched.
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      packed[i] = qx_codec_test::RunCodec(sources[i], true, i % 2 == 0 ? Feed::kFile : Feed::kPipe,
                                          "Demo", false);
      unpacked[i] = qx_codec_test::RunCodec(packed[i].output, false,
                                            i % 2 == 0 ? Feed::kPipe : Feed::kFile, "Demo", false);
    });
  }
  for (auto& thread : threads) {
    thread.join();
  }
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_EQ(packed[i].result, qx::kCodecOk);
    EXPECT_EQ(unpacked[i].result, qx::kCodecOk);
    EXPECT_EQ(unpacked[i].output, sources[i]);
    EXPECT_EQ(unpacked[i].digest, packed[i].digest);
    EXPECT_EQ(packed[i].expanded, static_cast<int64_t>(sources[i].size()));
  }
}

}  // namespace
