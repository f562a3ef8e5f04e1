#pragma once

// Test support for the codec tests (codec layer): runs CompressFile on bytes
// held in memory, fed from a file or through a pipe in small pieces, and
// records everything the call produced.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qx_codec_test {

// How the input reaches the codec: a regular file, or a pipe that a writer
// thread fills 31 bytes at a time, so reads come in odd small pieces.
enum class Feed { kFile, kPipe };

// Values a failed call must leave untouched.
inline constexpr int64_t kUntouchedCount = -12345;
inline constexpr char kUntouchedDigest[] = "untouched-digest-buffer-contents";

struct CodecRun {
  int result = 99;
  int64_t stored = kUntouchedCount;
  int64_t expanded = kUntouchedCount;
  std::string digest;  // the 33-byte buffer up to its first zero
  std::string output;
  std::vector<std::string> messages;  // texts of the boxes shown, in order
};

// With |record_messages| false no user interface is installed, so calls on
// several threads do not race on it (no message may then be due).
CodecRun RunCodec(std::string_view input, bool compress, Feed feed = Feed::kFile,
                  const char* key = nullptr, bool record_messages = true);
inline CodecRun Compress(std::string_view input, Feed feed = Feed::kFile,
                         const char* key = nullptr) {
  return RunCodec(input, true, feed, key);
}
inline CodecRun Expand(std::string_view input, Feed feed = Feed::kFile, const char* key = nullptr) {
  return RunCodec(input, false, feed, key);
}

// The secure digest text of |bytes| (null key: plain MD5).
std::string DigestOf(std::string_view bytes, const char* key = nullptr);

// Standard output of a shell command fed |input|; fails the test when the
// command does not exit with 0.
std::string Peer(const std::string& command, std::string_view input = {});

// Little-endian 32-bit value at |offset|.
uint32_t Le32(std::string_view bytes, size_t offset);

}  // namespace qx_codec_test
