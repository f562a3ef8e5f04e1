// The codec's entry points: CompressFile over the compressor and the expander,
// the digesting unchanged copy, the codec's messages and compression by file
// name. Codec layer.
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
#include "core/fsutil/file_copy.h"
#include "core/platform/user_interface.h"

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

// CompressFile and ExpandWithin: one codec call on the two streams, whose
// output is capped at |output_limit| bytes. |state| is kept for the caller.
int RunCodec(std::FILE* input, std::FILE* output, bool compress, uint64_t output_limit,
             std::unique_ptr<codec_detail::CodecState>& state, char* digest_text,
             size_t digest_text_size, const char* key_text) {
  using codec_detail::CodecState;
  if (input == nullptr) {
    ShowCodecMessage("%s %s: Bad file number\n", codec_detail::kProgramName,
                     codec_detail::kInputName);
    return kCodecFailed;
  }
  if (output == nullptr) {
    ShowCodecMessage("%s-%s: %s", codec_detail::kProgramName, codec_detail::kOutputName,
                     "Invalid file handle or file not opened for writing");
    return kCodecFailed;
  }
  // Descriptors have no text mode here: binary is all there is.
  state.reset(new (std::nothrow) CodecState(fileno(input), fileno(output)));
  if (!state || !state->MakeDigests()) {
    CodecState::ReportError(codec_detail::kOutOfMemory);
    return kCodecFailed;
  }
  state->LimitOutput(output_limit);
  const bool done = compress ? codec_detail::Compress(*state) : codec_detail::Expand(*state);
  if (!done) {
    return kCodecFailed;
  }
  // The stored bytes are the written ones when compressing, the read ones
  // when expanding; either way the digest covers the stored file.
  DigestContext* digest = compress ? state->write_digest() : state->read_digest();
  if (SecureDigest(digest, digest_text, digest_text_size, key_text) != kDigestOk) {
    CodecState::ReportError(codec_detail::kOutOfMemory);
    return kCodecFailed;
  }
  return kCodecOk;
}

}  // namespace

int CompressFile(std::FILE* input, std::FILE* output, bool compress, int64_t* compressed_size,
                 int64_t* uncompressed_size, char* digest_text, size_t digest_text_size,
                 const char* key_text) {
  std::unique_ptr<codec_detail::CodecState> state;
  const int result =
      RunCodec(input, output, compress, UINT64_MAX, state, digest_text, digest_text_size, key_text);
  if (result != kCodecOk) {
    return result;
  }
  const uint64_t stored = compress ? state->bytes_written() : state->bytes_read();
  const uint64_t expanded = compress ? state->bytes_read() : state->bytes_written();
  if (compressed_size != nullptr) {
    *compressed_size = static_cast<int64_t>(stored);
  }
  if (uncompressed_size != nullptr) {
    *uncompressed_size = static_cast<int64_t>(expanded);
  }
  return kCodecOk;
}

int ExpandWithin(std::FILE* input, std::FILE* output, int64_t limit, Expansion* result,
                 char* digest_text, size_t digest_text_size, const char* key_text) {
  std::unique_ptr<codec_detail::CodecState> state;
  const int status =
      RunCodec(input, output, false, static_cast<uint64_t>(std::max<int64_t>(limit, 0)), state,
               digest_text, digest_text_size, key_text);
  if (result != nullptr && state) {
    result->stored = static_cast<int64_t>(state->bytes_read());
    result->expanded = static_cast<int64_t>(state->total_written());
    result->past_limit = state->output_limit_passed();
  }
  return status;
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

void ShowCodecMessage(const char* format, ...) {
  char text[kMessageSize];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  std::string shown(text);
  if (!shown.empty() && shown.back() == '\n') {
    shown.pop_back();
  }
  MessageBoxRequest box;
  box.owner = nullptr;
  box.text = std::move(shown);
  box.caption = kCodecCaption;
  box.icon = BoxIcon::kInformation;
  box.buttons = BoxButtons::kOk;
  BeepAndShow(BeepKind::kSimple, box);
}

int ExpandFileByName(const std::string& source, const std::string& destination, int64_t size) {
  Expansion expansion;
  const int result = CopyFileThrough(source, destination, [&](std::FILE* in, std::FILE* out) {
    if (ExpandWithin(in, out, size, &expansion, nullptr, 0, nullptr) != kCodecOk) {
      return expansion.past_limit ? kFileCopyPastSize : kFileCopyCompressFailed;
    }
    return expansion.expanded == size ? kFileCopyOk : kFileCopyShortOfSize;
  });
  if (result != kFileCopyOk && result != kFileCopySourceNotOpened &&
      result != kFileCopyDestinationNotCreated) {
    ::unlink(destination.c_str());
  }
  return result;
}

int CompressFileByName(const std::string& source, const std::string& destination, bool compress,
                       std::optional<std::string_view> key_text) {
  const std::optional<std::string> key =
      key_text ? std::optional<std::string>(*key_text) : std::nullopt;
  return CopyFileThrough(source, destination, [&](std::FILE* in, std::FILE* out) {
    return CompressFile(in, out, compress, nullptr, nullptr, nullptr, 0,
                        key ? key->c_str() : nullptr) == kCodecOk
               ? kFileCopyOk
               : kFileCopyCompressFailed;
  });
}

}  // namespace qx
