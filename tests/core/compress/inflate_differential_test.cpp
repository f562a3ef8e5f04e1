// Differential tests of the expander (codec layer): what the real gzip, pigz
// and zip write, of sizes around the window and the input block, expands to
// what "gzip -dc" gives; broken members fail as zlib's own inflate judges them.
#include <gtest/gtest.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "core/compress/codec.h"
#include "tests/core/compress/codec_runner.h"
#include "tests/support/test_support.h"

namespace {

using qx_codec_test::CodecRun;
using qx_codec_test::DigestOf;
using qx_codec_test::Expand;
using qx_codec_test::Feed;
using qx_codec_test::Le32;
using qx_codec_test::Peer;

const char kUnexpectedEnd[] = "compress input: unexpected end of file";
const char kCrcError[] = "\ncompress: input: invalid compressed data--crc error";
const char kLengthError[] = "\ncompress: input: invalid compressed data--length error";
const char kFormatViolated[] = "\ncompress: input: invalid compressed data--format violated";

struct Source {
  const char* name;
  std::string bytes;
};

std::vector<Source> Sources() {
  std::vector<Source> sources;
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{65535}, size_t{65536}, size_t{65537}, size_t{3} << 20}) {
    sources.push_back({"text", qx_test::TextBytes(size, 40 + size)});
    sources.push_back({"random", qx_test::RandomBytes(size, 50 + size)});
  }
  return sources;
}

// Runs |command| with |bytes| in the file "f" of a scratch directory and
// returns its standard output (for zip, which names its input).
std::string InScratch(const std::string& command, const std::string& bytes) {
  return Peer(
      "d=$(mktemp -d) && cat >\"$d/f\" && cd \"$d\" && " + command + " && cd / && rm -r \"$d\"",
      bytes);
}

TEST(InflateDifferential, WhatRealCompressorsWriteExpandsAsGzipExpandsIt) {
  struct Writer {
    const char* name;
    std::string (*make)(const std::string&);
  };
  const Writer writers[] = {
      {"gzip -1", [](const std::string& b) { return Peer("gzip -1 -c", b); }},
      {"gzip -6", [](const std::string& b) { return Peer("gzip -6 -c", b); }},
      {"gzip -9", [](const std::string& b) { return Peer("gzip -9 -c", b); }},
      {"pigz", [](const std::string& b) { return Peer("pigz -c", b); }},
      // Members of every kind one after the other: each member's end falls
      // somewhere else within the inflater's look-ahead.
      {"members",
       [](const std::string& b) {
         const size_t third = b.size() / 3;
         return Peer("gzip -1 -c", b.substr(0, third)) +
                Peer("pigz -9 -c", b.substr(third, third)) + Peer("gzip -c", "") +
                Peer("gzip -9 -c", b.substr(2 * third));
       }},
      {"zip", [](const std::string& b) { return InScratch("zip -q -X a.zip f && cat a.zip", b); }},
      {"zip -0",
       [](const std::string& b) { return InScratch("zip -q -X -0 a.zip f && cat a.zip", b); }},
      {"zip streamed",
       [](const std::string& b) { return InScratch("cat f | zip -q -fz- - - | cat", b); }},
  };
  for (const Source& source : Sources()) {
    for (const Writer& writer : writers) {
      const std::string stored = writer.make(source.bytes);
      const bool zip = std::string(writer.name).rfind("zip", 0) == 0;
      // gzip takes the first entry of a ZIP archive too.
      const std::string reference = Peer("gzip -dc", stored);
      ASSERT_EQ(reference, source.bytes) << writer.name;
      for (Feed feed : {Feed::kFile, Feed::kPipe}) {
        if (feed == Feed::kPipe && source.bytes.size() > 65537) {
          continue;  // 31-byte pieces of megabytes take too long
        }
        SCOPED_TRACE(std::string(writer.name) + " " + source.name + " " +
                     std::to_string(source.bytes.size()) +
                     (feed == Feed::kPipe ? " pipe" : " file"));
        const CodecRun run = Expand(stored, feed, "Key");
        EXPECT_EQ(run.result, qx::kCodecOk);
        EXPECT_TRUE(run.messages.empty());
        EXPECT_TRUE(run.output == reference);
        if (zip) {
          // An archive is read in whole blocks up to its first entry's end.
          ASSERT_GT(run.stored, 0);
          EXPECT_EQ(run.digest, DigestOf(stored.substr(0, run.stored), "Key"));
        } else {
          EXPECT_EQ(run.stored, static_cast<int64_t>(stored.size()));
          EXPECT_EQ(run.digest, DigestOf(stored, "Key"));
        }
      }
    }
  }
}

TEST(InflateDifferential, ALongMemberEndsAnywhereInAFreshInputBlock) {
  // The member is too long to be kept for a second reading, and an extra
  // field of every length moves its end across the start of an input block,
  // where the bytes read past it came from the block before.
  const std::string first = qx_test::RandomBytes(200000, 61);
  const std::string member = Peer("gzip -1 -c", first);
  const std::string next = Peer("gzip -c", "next member");
  for (size_t extra = 0; extra < 80; ++extra) {
    std::string stored = member;
    stored[3] = static_cast<char>(stored[3] | 0x04);
    stored.insert(10, std::string(1, static_cast<char>(extra)) + '\0' + std::string(extra, 'e'));
    stored += next;
    const CodecRun run = Expand(stored);
    SCOPED_TRACE(extra);
    EXPECT_EQ(run.result, qx::kCodecOk);
    EXPECT_TRUE(run.output == first + "next member");
    EXPECT_EQ(run.digest, DigestOf(stored));
  }
}

// What zlib's inflate makes of the member |member| (a 10-byte header without
// fields, deflate data, trailer): the messages the expander must give.
std::vector<std::string> ZlibVerdict(const std::string& member) {
  z_stream stream{};
  EXPECT_EQ(inflateInit2(&stream, -15), Z_OK);
  const std::string data = member.substr(10);
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  std::string output;
  int status = Z_OK;
  char block[16384];
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(block);
    stream.avail_out = sizeof block;
    status = inflate(&stream, Z_NO_FLUSH);
    output.append(block, sizeof block - stream.avail_out);
    if (status == Z_BUF_ERROR && stream.avail_in == 0) {
      break;
    }
  }
  const std::string message = stream.msg != nullptr ? stream.msg : "";
  const size_t used = data.size() - stream.avail_in;
  inflateEnd(&stream);
  if (status == Z_DATA_ERROR) {
    if (message == "invalid literal/lengths set") {
      return {" incomplete literal tree", kFormatViolated};
    }
    if (message == "invalid distances set") {
      return {" incomplete distance tree", kFormatViolated};
    }
    return {kFormatViolated};
  }
  if (status != Z_STREAM_END || data.size() - used < 8) {
    return {kUnexpectedEnd};
  }
  const uint32_t crc = static_cast<uint32_t>(
      crc32(0, reinterpret_cast<const Bytef*>(output.data()), static_cast<uInt>(output.size())));
  if (Le32(data, used) != crc) {
    return {kCrcError};
  }
  if (Le32(data, used + 4) != static_cast<uint32_t>(output.size())) {
    return {kLengthError};
  }
  return {};
}

TEST(InflateDifferential, BrokenMembersFailAsZlibJudgesThem) {
  // Members of one and of several input blocks; the changes land in the
  // deflate data, the trailer, or cut the member short.
  uint64_t x = 0x9E3779B97F4A7C15ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (size_t size : {size_t{3000}, size_t{70000}, size_t{150000}}) {
    for (const char* command : {"gzip -1 -c", "gzip -9 -c"}) {
      const std::string member = Peer(command, qx_test::TextBytes(size, size));
      const size_t data_end = member.size() - 8;
      std::vector<std::string> broken;
      for (int i = 0; i < 60; ++i) {
        std::string flipped = member;
        flipped[10 + next() % (data_end - 10)] ^= static_cast<char>(1 << (next() % 8));
        broken.push_back(flipped);
      }
      std::string crc = member;
      crc[data_end] ^= 0x40;
      std::string length = member;
      length[data_end + 5] ^= 0x01;
      broken.push_back(crc);
      broken.push_back(length);
      broken.push_back(member.substr(0, member.size() - 3));
      broken.push_back(member.substr(0, data_end));
      broken.push_back(member.substr(0, data_end - 1));
      for (size_t i = 0; i < broken.size(); ++i) {
        const std::vector<std::string> expected = ZlibVerdict(broken[i]);
        const CodecRun run = Expand(broken[i], i % 7 == 0 ? Feed::kPipe : Feed::kFile);
        SCOPED_TRACE(std::string(command) + " " + std::to_string(size) + " case " +
                     std::to_string(i));
        EXPECT_EQ(run.result, expected.empty() ? qx::kCodecOk : qx::kCodecFailed);
        EXPECT_EQ(run.messages, expected);
      }
    }
  }
}

}  // namespace
