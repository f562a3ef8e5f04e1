// The codec's entry points as values: CompressStreams and ExpandStreamsWithin
// over the compressor and the expander, the digesting unchanged copy and the
// codec's message text. Codec layer.
#include "core/compress/codec.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <memory>
#include <new>
#include <string>
#include <utility>

#include "core/compress/codec_state.h"
#include "core/compress/compressor.h"
#include "core/compress/expander.h"
#include "core/digest/secure_digest.h"

namespace qx {

namespace {

constexpr size_t kMessageSize = 256;
constexpr size_t kCopyBlock = 516;

// fread() that carries on after an interrupted read.
size_t ReadFully(void* buffer, size_t count, std::FILE* stream) {
  size_t done = 0;
  while (done < count) {
    done += std::fread(static_cast<char*>(buffer) + done, 1, count - done, stream);
    if (done < count && std::ferror(stream) && errno == EINTR) {
      std::clearerr(stream);
      continue;
    }
    break;
  }
  return done;
}

// fwrite() that carries on after an interrupted write.
size_t WriteFully(const void* buffer, size_t count, std::FILE* stream) {
  size_t done = 0;
  while (done < count) {
    done += std::fwrite(static_cast<const char*>(buffer) + done, 1, count - done, stream);
    if (done < count && std::ferror(stream) && errno == EINTR) {
      std::clearerr(stream);
      continue;
    }
    break;
  }
  return done;
}

// CompressStreams and ExpandStreamsWithin: one codec call on the two
// streams, whose output is capped at |output_limit| bytes.
CodecRun RunCodec(std::FILE* input, std::FILE* output, bool compress, uint64_t output_limit,
                  char* digest_text, size_t digest_text_size, const char* key_text) {
  using codec_detail::CodecState;
  CodecRun run;
  codec_detail::NoteSink sink(run.messages);
  std::unique_ptr<CodecState> state;
  auto failed = [&run] {
    std::string reason = run.messages.empty() ? std::string() : run.messages.back();
    run.result = Error{run.past_limit ? kCodecPastLimit : kCodecFailed, std::move(reason), {}};
    return std::move(run);
  };
  if (input == nullptr) {
    codec_detail::Note("%s %s: Bad file number\n", codec_detail::kProgramName,
                       codec_detail::kInputName);
    return failed();
  }
  if (output == nullptr) {
    codec_detail::Note("%s-%s: %s", codec_detail::kProgramName, codec_detail::kOutputName,
                       "Invalid file handle or file not opened for writing");
    return failed();
  }
  // Descriptors have no text mode here: binary is all there is.
  state.reset(new (std::nothrow) CodecState(fileno(input), fileno(output)));
  if (!state || !state->MakeDigests()) {
    CodecState::ReportError(codec_detail::kOutOfMemory);
    return failed();
  }
  state->LimitOutput(output_limit);
  const bool done = compress ? codec_detail::Compress(*state) : codec_detail::Expand(*state);
  run.stored = static_cast<int64_t>(compress ? state->bytes_written() : state->bytes_read());
  run.expanded = static_cast<int64_t>(compress ? state->bytes_read() : state->bytes_written());
  run.total_expanded = static_cast<int64_t>(state->total_written());
  run.past_limit = state->output_limit_passed();
  if (!done) {
    return failed();
  }
  // The stored bytes are the written ones when compressing, the read ones
  // when expanding; either way the digest covers the stored file.
  DigestContext* digest = compress ? state->write_digest() : state->read_digest();
  if (SecureDigest(digest, digest_text, digest_text_size, key_text) != kDigestOk) {
    CodecState::ReportError(codec_detail::kOutOfMemory);
    return failed();
  }
  return run;
}

}  // namespace

CodecRun CompressStreams(std::FILE* input, std::FILE* output, bool compress, char* digest_text,
                         size_t digest_text_size, const char* key_text) {
  return RunCodec(input, output, compress, UINT64_MAX, digest_text, digest_text_size, key_text);
}

CodecRun ExpandStreamsWithin(std::FILE* input, std::FILE* output, int64_t limit, char* digest_text,
                             size_t digest_text_size, const char* key_text) {
  return RunCodec(input, output, false, static_cast<uint64_t>(std::max<int64_t>(limit, 0)),
                  digest_text, digest_text_size, key_text);
}

std::string FormatCodecMessage(const char* format, va_list args) {
  char text[kMessageSize];
  std::vsnprintf(text, sizeof text, format, args);
  std::string shown(text);
  if (!shown.empty() && shown.back() == '\n') {
    shown.pop_back();
  }
  return shown;
}

int DigestCopyFile(std::FILE* input, std::FILE* output, int64_t* size, char* digest_text,
                   size_t digest_text_size, const char* key_text) {
  if (size != nullptr) {
    *size = 0;
  }
  // No input is nothing read: no count and no digest to give.
  if (input == nullptr) {
    return kCopyReadFailed;
  }
  DigestPtr digest = DigestNew();
  if (!digest) {
    return kCopyNoDigestContext;
  }
  int64_t total = 0;
  unsigned char block[kCopyBlock];
  size_t n;
  do {
    n = ReadFully(block, sizeof block, input);
    total += static_cast<int64_t>(n);
    if (size != nullptr) {
      *size = total;
    }
    DigestUpdate(digest.get(), block, n);
    if (output != nullptr && WriteFully(block, n, output) < n) {
      return kCopyShortWrite;
    }
  } while (n == sizeof block);
  if (std::ferror(input)) {
    return kCopyReadFailed;
  }
  // Buffered bytes that cannot be written are bytes missing from the copy.
  if (output != nullptr && std::fflush(output) != 0) {
    return kCopyShortWrite;
  }
  if (SecureDigest(digest.get(), digest_text, digest_text_size, key_text) != kDigestOk) {
    return kCopyDigestFailed;
  }
  return kCopyOk;
}

}  // namespace qx
