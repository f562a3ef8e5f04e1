// Test support for the codec tests (codec layer): the codec run with its
// input in a file or a pipe fed by a writer thread, the output read back and
// the boxes recorded; digests, peer commands and little-endian reads.
#include "tests/core/compress/codec_runner.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx_codec_test {

namespace {

constexpr size_t kPipePiece = 31;

// Writes |bytes| into |fd| in small pieces until done or the reader leaves.
void FeedPipe(int fd, std::string bytes) {
  for (size_t at = 0; at < bytes.size();) {
    const size_t piece = std::min(kPipePiece, bytes.size() - at);
    const ssize_t n = ::write(fd, bytes.data() + at, piece);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      break;  // the codec stopped reading (EPIPE)
    }
    at += static_cast<size_t>(n);
  }
  ::close(fd);
}

// Everything written to |stream|'s descriptor.
std::string ReadBack(std::FILE* stream) {
  std::string bytes;
  char block[65536];
  ssize_t n;
  ::lseek(fileno(stream), 0, SEEK_SET);
  while ((n = ::read(fileno(stream), block, sizeof block)) > 0) {
    bytes.append(block, static_cast<size_t>(n));
  }
  return bytes;
}

}  // namespace

CodecRun RunCodec(std::string_view input, bool compress, Feed feed, const char* key,
                  bool record_messages) {
  // A writer whose reader has gone must see EPIPE, not die of SIGPIPE.
  std::signal(SIGPIPE, SIG_IGN);
  std::FILE* in = nullptr;
  std::thread writer;
  if (feed == Feed::kFile) {
    in = std::tmpfile();
    if (in != nullptr) {
      std::fwrite(input.data(), 1, input.size(), in);
      std::fflush(in);
      std::rewind(in);
    }
  } else {
    int fds[2];
    if (::pipe(fds) == 0) {
      in = ::fdopen(fds[0], "rb");
      writer = std::thread(FeedPipe, fds[1], std::string(input));
    }
  }
  std::FILE* out = std::tmpfile();
  CodecRun run;
  if (in == nullptr || out == nullptr) {
    ADD_FAILURE() << "cannot open the codec's streams";
    return run;
  }
  qx::ScriptedUserInterface ui;
  {
    std::optional<qx::ScopedUserInterface> scope;
    if (record_messages) {
      scope.emplace(ui);
    }
    char digest[qx::kDigestBufferSize + 1] = {};
    std::strncpy(digest, kUntouchedDigest, sizeof digest - 1);
    run.result = qx::CompressFile(in, out, compress, &run.stored, &run.expanded, digest,
                                  qx::kDigestBufferSize, key);
    run.digest = digest;
  }
  std::fclose(in);
  if (writer.joinable()) {
    writer.join();
  }
  run.output = ReadBack(out);
  std::fclose(out);
  run.messages = ui.texts();
  // Every message is a box after a simple beep.
  EXPECT_EQ(ui.beeps(), static_cast<int>(ui.boxes().size()));
  if (run.result != qx::kCodecOk) {
    EXPECT_EQ(run.result, qx::kCodecFailed);
    EXPECT_EQ(run.stored, kUntouchedCount);
    EXPECT_EQ(run.expanded, kUntouchedCount);
    EXPECT_EQ(run.digest, kUntouchedDigest);
  }
  return run;
}

std::string DigestOf(std::string_view bytes, const char* key) {
  qx::DigestPtr context = qx::DigestNew();
  qx::DigestUpdate(context.get(), bytes.data(), bytes.size());
  char text[qx::kDigestBufferSize] = {};
  EXPECT_EQ(qx::SecureDigest(context.get(), text, sizeof text, key), qx::kDigestOk);
  return text;
}

std::string Peer(const std::string& command, std::string_view input) {
  const qx_test::CommandResult result = qx_test::RunCommand(command, input);
  EXPECT_EQ(result.status, 0) << command << ": " << result.err;
  return result.out;
}

uint32_t Le32(std::string_view bytes, size_t offset) {
  uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) {
    value |= static_cast<uint32_t>(static_cast<unsigned char>(bytes.at(offset + i))) << (8 * i);
  }
  return value;
}

}  // namespace qx_codec_test
