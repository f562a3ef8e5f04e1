// Tests of the expander (codec layer): what gzip and zip write, broken and
// hostile inputs, and inputs read whole or through a pipe in small pieces.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/compress/codec.h"
#include "tests/core/compress/codec_runner.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace {

using qx_codec_test::CodecRun;
using qx_codec_test::DigestOf;
using qx_codec_test::Expand;
using qx_codec_test::Feed;
using qx_codec_test::Peer;

constexpr Feed kFeeds[] = {Feed::kFile, Feed::kPipe};

const char kUnexpectedEnd[] = "compress input: unexpected end of file";
const char kNotGzip[] = "\ncompress: input: not in gzip format";
const char kCrcError[] = "\ncompress: input: invalid compressed data--crc error";
const char kLengthError[] = "\ncompress: input: invalid compressed data--length error";
const char kFormatViolated[] = "\ncompress: input: invalid compressed data--format violated";
const char kNotZip[] = "\ncompress: input: not a valid zip file";
const char kTrailingGarbage[] = "\ncompress: input: decompression OK, trailing garbage ignored";
const char kRestIgnored[] = "compress: input has more than one entry--rest ignored";

std::string Gzip(const std::string& bytes) {
  return Peer("gzip -6 -c", bytes);
}

// Adds header fields to a member that has none (as "gzip -c" of stdin writes).
std::string WithHeaderFields(std::string member, std::string_view extra, std::string_view name,
                             std::string_view comment, bool with_extra = true) {
  std::string fields;
  unsigned char flags = 0;
  if (with_extra) {
    flags |= 0x04;
    fields += static_cast<char>(extra.size() & 0xFF);
    fields += static_cast<char>(extra.size() >> 8);
    fields += extra;
  }
  if (!name.empty()) {
    flags |= 0x08;
    fields += name;
    fields += '\0';
  }
  if (!comment.empty()) {
    flags |= 0x10;
    fields += comment;
    fields += '\0';
  }
  member[3] = static_cast<char>(static_cast<unsigned char>(member[3]) | flags);
  member.insert(10, fields);
  return member;
}

void ExpectFailure(const CodecRun& run, const std::vector<std::string>& messages) {
  EXPECT_EQ(run.result, qx::kCodecFailed);
  EXPECT_EQ(run.messages, messages);
}

// |last_size|: the last member's expanded size, when there are several.
void ExpectExpands(const CodecRun& run, const std::string& stored, const std::string& expanded,
                   const char* key, size_t last_size = std::string::npos) {
  EXPECT_EQ(run.result, qx::kCodecOk);
  EXPECT_TRUE(run.messages.empty());
  EXPECT_EQ(run.output, expanded);
  EXPECT_EQ(run.stored, static_cast<int64_t>(stored.size()));
  EXPECT_EQ(run.expanded,
            static_cast<int64_t>(last_size == std::string::npos ? expanded.size() : last_size));
  EXPECT_EQ(run.digest, DigestOf(stored, key));
}

// Deflate bits, least significant first; Huffman codes most significant first.
class BitWriter {
 public:
  void Put(unsigned value, int bits) {
    for (int i = 0; i < bits; ++i) {
      PutBit((value >> i) & 1);
    }
  }
  void PutCode(unsigned code, int length) {
    for (int i = length - 1; i >= 0; --i) {
      PutBit((code >> i) & 1);
    }
  }
  std::string bytes() const { return bytes_; }

 private:
  void PutBit(unsigned bit) {
    if (used_ % 8 == 0) {
      bytes_ += '\0';
    }
    bytes_.back() = static_cast<char>(bytes_.back() | (bit << (used_ % 8)));
    ++used_;
  }
  std::string bytes_;
  size_t used_ = 0;
};

// Starts a final dynamic block with 257 literal/length codes. The code-length
// code lengths are given in the order of the block header: 16, 17, 18, 0, 8,
// 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15.
void StartDynamicBlock(BitWriter& bits, unsigned distance_codes,
                       const std::vector<unsigned>& code_length_lengths) {
  bits.Put(1, 1);                   // final block
  bits.Put(2, 2);                   // dynamic Huffman codes
  bits.Put(0, 5);                   // 257 literal/length codes
  bits.Put(distance_codes - 1, 5);  // distance codes
  bits.Put(static_cast<unsigned>(code_length_lengths.size()) - 4, 4);
  for (size_t i = 0; i < code_length_lengths.size(); ++i) {
    bits.Put(code_length_lengths[i], 3);
  }
}

std::string MemberAround(const std::string& deflate_data) {
  return std::string("\x1F\x8B\x08\0\0\0\0\0\0\x03", 10) + deflate_data + std::string(8, '\0');
}

TEST(Expander, ReadsWhatGzipWritesWithAndWithoutAStoredName) {
  qx_test::TempDir dir;
  const std::vector<std::string> sources = {"", "a", qx_test::TextBytes(300000, 1),
                                            qx_test::RandomBytes(100000, 2)};
  for (const std::string& source : sources) {
    SCOPED_TRACE(source.size());
    qx_test::WriteFile(dir / "payload.dat", source);
    const std::string plain = Gzip(source);
    const std::string named = Peer("gzip -N -c " + qx_test::ShellQuote(dir / "payload.dat"));
    ASSERT_EQ(named[3], '\x08');
    for (const std::string& member : {plain, named}) {
      for (Feed feed : kFeeds) {
        ExpectExpands(Expand(member, feed, "Demo"), member, source, "Demo");
      }
    }
  }
}

TEST(Expander, TakesTheOldMagicAndIgnoresTheTextFlag) {
  const std::string source = qx_test::TextBytes(5000, 3);
  std::string member = Gzip(source);
  member[1] = '\x9E';
  member[3] = '\x01';
  ExpectExpands(Expand(member), member, source, nullptr);
}

TEST(Expander, ConcatenatedMembersExpandInTurnAndCountTheLastAlone) {
  const std::string a = qx_test::TextBytes(70000, 4), b = qx_test::RandomBytes(40000, 5),
                    c = "tail";
  const std::string stored = Gzip(a) + Gzip("") + Gzip(b) + Gzip(c);
  for (Feed feed : kFeeds) {
    ExpectExpands(Expand(stored, feed), stored, a + b + c, nullptr, c.size());
  }
}

TEST(Expander, HeaderFieldsAndMembersCrossBlockBoundaries) {
  // The first member is sized with its stored name so that the second one,
  // which has an extra field, a name and a comment, starts just before the
  // end of the first 32768-byte block; at offset 0 it starts the next block.
  const std::string first_payload = qx_test::TextBytes(20000, 6);
  const std::string second_payload = qx_test::TextBytes(9000, 7);
  const std::string first = Gzip(first_payload);
  const std::string second = WithHeaderFields(Gzip(second_payload), std::string(300, 'x'),
                                              std::string(50, 'n'), std::string(40, 'c'));
  const size_t bare = first.size() + 1;  // with an empty name and its zero
  ASSERT_LT(bare + 420, 32768u);
  for (size_t before_boundary = 0; before_boundary <= 420; ++before_boundary) {
    SCOPED_TRACE(before_boundary);
    const std::string name(32768 - before_boundary - bare, 'N');
    const std::string stored = WithHeaderFields(first, "", name, "", false) + second;
    ASSERT_EQ(stored.find(second), 32768 - before_boundary);
    const Feed feed = before_boundary % 7 == 0 ? Feed::kPipe : Feed::kFile;
    ExpectExpands(Expand(stored, feed), stored, first_payload + second_payload, nullptr,
                  second_payload.size());
  }
  // An extra field of the greatest length spans three blocks.
  const std::string wide = WithHeaderFields(Gzip(first_payload), std::string(65535, 'e'), "n", "");
  for (Feed feed : kFeeds) {
    ExpectExpands(Expand(wide, feed), wide, first_payload, nullptr);
  }
}

TEST(Expander, EveryTruncatedMemberEndsUnexpectedly) {
  for (const std::string& source : {qx_test::TextBytes(6000, 8), qx_test::RandomBytes(2000, 9)}) {
    const std::string member = WithHeaderFields(Gzip(source), "extra", "name.txt", "a comment");
    for (size_t length = 0; length < member.size(); ++length) {
      SCOPED_TRACE(length);
      const Feed feed = length % 13 == 0 ? Feed::kPipe : Feed::kFile;
      const CodecRun run = Expand(member.substr(0, length), feed);
      ExpectFailure(run, {kUnexpectedEnd});
      EXPECT_EQ(run.output, source.substr(0, run.output.size()));
    }
    ExpectExpands(Expand(member), member, source, nullptr);
  }
}

TEST(Expander, BytesAfterAMemberMustBeginAnother) {
  const std::string source = qx_test::TextBytes(40000, 10);
  const std::string member = Gzip(source);
  for (Feed feed : kFeeds) {
    for (const std::string& garbage : {std::string("garbage"), std::string(1, '\0'),
                                       std::string("\x1F\x8C"), std::string("PK\3\4")}) {
      const CodecRun run = Expand(member + garbage, feed);
      ExpectFailure(run, {kTrailingGarbage});
      EXPECT_EQ(run.output, source);  // the output is complete all the same
    }
    // A magic alone, or a header cut short, is a member that ends too soon.
    for (const std::string& start :
         {std::string("\x1F"), std::string("\x1F\x8B"), std::string("\x1F\x8B\x08\x00\x00")}) {
      ExpectFailure(Expand(member + start, feed), {kUnexpectedEnd});
    }
  }
}

TEST(Expander, RefusesBadHeadersAndBrokenChecks) {
  const std::string source = qx_test::TextBytes(30000, 11);
  const std::string good = Gzip(source);
  auto patched = [&good](size_t offset, char value) {
    std::string member = good;
    member[offset] = value;
    return member;
  };
  std::string flipped_crc = good;
  flipped_crc[good.size() - 8] = static_cast<char>(flipped_crc[good.size() - 8] ^ 0x01);
  std::string wrong_length = good;
  wrong_length[good.size() - 4] = static_cast<char>(wrong_length[good.size() - 4] + 1);
  const struct {
    std::string input;
    std::string message;
  } cases[] = {
      {"", kUnexpectedEnd},
      {"\x1F", kUnexpectedEnd},
      {"hello world", kNotGzip},
      {"PK\x05\x06" + std::string(18, '\0'), kNotGzip},
      {patched(2, 7), "compress: input: unknown method 7 -- get newer version of gzip"},
      {patched(3, 0x20), "compress: input is encrypted -- get newer version of gzip"},
      {patched(3, 0x22), "compress: input is encrypted -- get newer version of gzip"},
      {patched(3, 0x02),
       "compress: input is a a multi-part gzip file -- get newer version of gzip"},
      {patched(3, 0x40), "compress: input has flags 0x40 -- get newer version of gzip"},
      {patched(3, '\xC8'), "compress: input has flags 0xc8 -- get newer version of gzip"},
      {flipped_crc, kCrcError},
      {wrong_length, kLengthError},
      {MemberAround("\x07"), kFormatViolated},  // block type 3
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    for (Feed feed : kFeeds) {
      ExpectFailure(Expand(c.input, feed), {c.message});
    }
  }
}

TEST(Expander, IncompleteCodeSetsAreNamedBeforeTheFormatError) {
  // Literal/length code lengths 2 and 2 (half the code space unused).
  BitWriter literal;
  // Code-length code: symbols 0 and 2, one bit each (order positions 3 and 15).
  std::vector<unsigned> lengths(16, 0);
  lengths[3] = 1;
  lengths[15] = 1;
  StartDynamicBlock(literal, 1, lengths);
  literal.PutCode(1, 1);  // literal 0: length 2
  for (int i = 1; i < 256; ++i) {
    literal.PutCode(0, 1);
  }
  literal.PutCode(1, 1);  // end of block: length 2
  literal.PutCode(0, 1);  // the one distance code: unused
  ExpectFailure(Expand(MemberAround(literal.bytes())),
                {" incomplete literal tree", kFormatViolated});

  // Complete literal/length code, two distance codes of length 2.
  BitWriter distance;
  // Code-length code: symbol 0 one bit, symbols 1 and 2 two bits each.
  lengths.assign(18, 0);
  lengths[3] = 1;
  lengths[15] = 2;
  lengths[17] = 2;
  StartDynamicBlock(distance, 2, lengths);
  distance.PutCode(2, 2);  // literal 0: length 1
  for (int i = 1; i < 256; ++i) {
    distance.PutCode(0, 1);
  }
  distance.PutCode(2, 2);  // end of block: length 1
  distance.PutCode(3, 2);  // distance 0: length 2
  distance.PutCode(3, 2);  // distance 1: length 2
  ExpectFailure(Expand(MemberAround(distance.bytes())),
                {" incomplete distance tree", kFormatViolated});
}

TEST(Expander, CorruptedMembersFailWithOneReportOrExpandCorrectly) {
  // Random byte changes anywhere in a member (run under the sanitizers, this
  // also checks that no header length leads a read astray).
  const std::string source = qx_test::TextBytes(3000, 17);
  const std::string member =
      WithHeaderFields(Gzip(source), std::string(40, 'x'), "file.name", "comment");
  uint64_t x = 88172645463325252ull;
  auto next = [&x] {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    return x;
  };
  for (int i = 0; i < 600; ++i) {
    std::string broken = member;
    const int changes = 1 + static_cast<int>(next() % 3);
    for (int c = 0; c < changes; ++c) {
      broken[next() % broken.size()] = static_cast<char>(next() & 0xFF);
    }
    const CodecRun run = Expand(broken, i % 5 == 0 ? Feed::kPipe : Feed::kFile);
    if (run.result == qx::kCodecOk) {
      // Only changes the checks cannot see (ignored header bytes, names).
      EXPECT_EQ(run.output, source);
    } else {
      ASSERT_FALSE(run.messages.empty());
      const bool tree_note = run.messages[0].rfind(" incomplete", 0) == 0;
      EXPECT_EQ(run.messages.size(), tree_note ? 2u : 1u) << run.messages[0];
    }
  }
}

TEST(Expander, InputThatCannotBeReadIsABadFileNumber) {
  qx_test::TempDir dir;
  std::FILE* in = std::fopen(dir.path().c_str(), "rb");
  std::FILE* out = std::fopen((dir / "out").c_str(), "wb");
  ASSERT_NE(in, nullptr);
  qx::ScriptedUserInterface ui;
  qx::ScopedUserInterface scope(ui);
  EXPECT_EQ(qx::CompressFile(in, out, false, nullptr, nullptr, nullptr, 0, nullptr),
            qx::kCodecFailed);
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"compress input: Bad file number"});
  std::fclose(in);
  std::fclose(out);
}

TEST(Expander, SucceedsWithNoCountsAndNoDigestBuffer) {
  qx_test::TempDir dir;
  const std::string source = qx_test::TextBytes(1000, 12);
  qx_test::WriteFile(dir / "in", Gzip(source));
  std::FILE* in = std::fopen((dir / "in").c_str(), "rb");
  std::FILE* out = std::fopen((dir / "out").c_str(), "wb");
  EXPECT_EQ(qx::CompressFile(in, out, false, nullptr, nullptr, nullptr, 0, nullptr), qx::kCodecOk);
  std::fclose(in);
  std::fclose(out);
  EXPECT_EQ(qx_test::ReadFile(dir / "out"), source);
}

// --- ZIP archives ---

class ZipArchives : public ::testing::Test {
 protected:
  void SetUp() override {
    qx_test::WriteFile(dir_ / "a.txt", first_);
    qx_test::WriteFile(dir_ / "b.bin", qx_test::RandomBytes(3000, 14));
  }
  // Runs a zip command in the directory and returns the archive it made.
  std::string Zip(const std::string& command, const std::string& archive) {
    Peer("cd " + qx_test::ShellQuote(dir_.path()) + " && " + command);
    return qx_test::ReadFile(dir_ / archive);
  }
  std::string Deflated() { return Zip("zip -q d.zip a.txt", "d.zip"); }
  std::string Stored() { return Zip("zip -q -0 s.zip a.txt", "s.zip"); }
  // Streamed into a pipe: sizes follow the data in a descriptor.
  std::string Streamed() { return Zip("cat a.txt | zip -q -fz- - - | cat > dd.zip", "dd.zip"); }

  qx_test::TempDir dir_;
  std::string first_ = qx_test::TextBytes(50000, 13);
};

TEST_F(ZipArchives, FirstEntryExpandsWhetherDeflatedStoredOrStreamed) {
  const std::string streamed = Streamed();
  ASSERT_EQ(streamed[6] & 0x08, 0x08);
  for (const std::string& archive : {Deflated(), Stored(), streamed}) {
    for (Feed feed : kFeeds) {
      const CodecRun run = Expand(archive, feed, "Demo");
      EXPECT_EQ(run.result, qx::kCodecOk);
      EXPECT_TRUE(run.messages.empty());
      EXPECT_EQ(run.output, first_);
      EXPECT_EQ(run.expanded, static_cast<int64_t>(first_.size()));
      // The digest covers the bytes read, whole blocks of the archive.
      ASSERT_GT(run.stored, 0);
      EXPECT_EQ(run.digest, DigestOf(archive.substr(0, run.stored), "Demo"));
    }
  }
}

TEST_F(ZipArchives, FurtherEntriesAreIgnoredWithAWarning) {
  for (const char* options : {"", "-0 "}) {
    const std::string archive =
        Zip(std::string("zip -q ") + options + "two.zip a.txt b.bin", "two.zip");
    for (Feed feed : kFeeds) {
      const CodecRun run = Expand(archive, feed);
      EXPECT_EQ(run.result, qx::kCodecOk);
      EXPECT_EQ(run.messages, std::vector<std::string>{kRestIgnored});
      EXPECT_EQ(run.output, first_);
    }
    std::remove((dir_ / "two.zip").c_str());
  }
}

TEST_F(ZipArchives, SixtyFourBitSizesAreRefused) {
  // Streamed without -fz-, zip records the sizes in 64-bit fields.
  const std::string archive = Zip("cat a.txt | zip -q - - | cat > z64.zip", "z64.zip");
  ASSERT_EQ(qx_codec_test::Le32(archive, 18), 0xFFFFFFFFu);
  for (Feed feed : kFeeds) {
    const CodecRun run = Expand(archive, feed);
    ExpectFailure(run, {kNotZip});
    EXPECT_EQ(run.output, "");
  }
}

TEST_F(ZipArchives, BadLocalHeadersAreRefused) {
  const std::string deflated = Deflated();
  const std::string stored = Stored();
  auto patched = [](std::string archive, size_t offset, std::string bytes) {
    archive.replace(offset, bytes.size(), bytes);
    return archive;
  };
  const struct {
    std::string input;
    std::string message;
  } cases[] = {
      {patched(deflated, 8, "\x0C"),
       "\ncompress: input: first entry not deflated or stored -- use unzip"},
      {patched(deflated, 8, std::string("\x08\x01", 2)),
       "\ncompress: input: first entry not deflated or stored -- use unzip"},
      {patched(deflated, 6, "\x01"), "\ncompress: input: encrypted file -- use unzip"},
      // Name length reaching past the first block of a long archive.
      {patched(deflated + std::string(70000, 'z'), 26, std::string("\xF0\x7F", 2)), kNotZip},
      // Extra field length reaching past the end of a short archive.
      {patched(deflated, 28, std::string("\xFF\x7F", 2)), kNotZip},
      {"PK\x03\x04" + std::string(10, '\0'), kNotZip},
      {patched(stored, 18, std::string("\x87\x13\0\0", 4)),
       "\ncompress: input: Invalid compressed data--length mismatch lenght 50000, size 4999\n"},
      {patched(deflated, 14, "\xFF"), kCrcError},
      {patched(deflated, 22, "\x01"), kLengthError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    for (Feed feed : kFeeds) {
      ExpectFailure(Expand(c.input, feed), {c.message});
    }
  }
}

TEST_F(ZipArchives, EveryPrefixOfAStreamedArchiveHasItsExactResult) {
  first_ = qx_test::TextBytes(4000, 15);
  qx_test::WriteFile(dir_ / "a.txt", first_);
  const std::string archive = Streamed();
  const size_t data_start =
      30 + static_cast<unsigned char>(archive[26]) + static_cast<unsigned char>(archive[28]);
  const size_t descriptor = archive.find("PK\x07\x08");
  ASSERT_NE(descriptor, std::string::npos);
  const size_t entry_end = descriptor + 16;
  for (size_t length = 0; length <= archive.size(); ++length) {
    SCOPED_TRACE(length);
    const CodecRun run =
        Expand(archive.substr(0, length), length % 11 == 0 ? Feed::kPipe : Feed::kFile);
    if (length >= entry_end) {
      EXPECT_EQ(run.result, qx::kCodecOk);
      EXPECT_TRUE(run.messages.empty());
      EXPECT_EQ(run.output, first_);
    } else if (length >= data_start || length < 2) {
      ExpectFailure(run, {kUnexpectedEnd});
    } else if (length < 4) {
      ExpectFailure(run, {kNotGzip});
    } else {
      ExpectFailure(run, {kNotZip});
    }
  }
}

TEST_F(ZipArchives, AFailedArchiveLeavesNothingForTheNextCall) {
  std::string archive = Streamed();
  const std::string truncated = archive.substr(0, archive.size() / 2);
  archive[6] = static_cast<char>(archive[6] | 0x01);  // encrypted
  ExpectFailure(Expand(archive), {"\ncompress: input: encrypted file -- use unzip"});
  ExpectFailure(Expand(truncated), {kUnexpectedEnd});
  const std::string source = qx_test::TextBytes(20000, 16);
  const std::string member = Gzip(source) + Gzip(source);
  ExpectExpands(Expand(member), member, source + source, nullptr, source.size());
}

}  // namespace
