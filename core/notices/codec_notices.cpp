// The codec's published calls that show their messages: CompressFile,
// ExpandWithin, ShowCodecMessage and the by-name copies, each over the
// value-giving run, its texts shown in the platform's notice box. The codec
// itself shows nothing. Notices layer, above the codec.
#include <unistd.h>

#include <cstdarg>
#include <string>

#include "core/compress/codec.h"
#include "core/fsutil/file_copy.h"
#include "core/platform/notice_box.h"

namespace qx {

namespace {

// Shows each text of |run| in the codec's box, in order; the run's code.
int ShowRun(const CodecRun& run) {
  for (const std::string& text : run.messages) {
    ShowNoticeBox(kCodecCaption, text);
  }
  return run.result.ok() ? kCodecOk : kCodecFailed;
}

}  // namespace

int CompressFile(std::FILE* input, std::FILE* output, bool compress, int64_t* compressed_size,
                 int64_t* uncompressed_size, char* digest_text, size_t digest_text_size,
                 const char* key_text) {
  const CodecRun run =
      CompressStreams(input, output, compress, digest_text, digest_text_size, key_text);
  const int result = ShowRun(run);
  if (result != kCodecOk) {
    return result;
  }
  if (compressed_size != nullptr) {
    *compressed_size = run.stored;
  }
  if (uncompressed_size != nullptr) {
    *uncompressed_size = run.expanded;
  }
  return kCodecOk;
}

int ExpandWithin(std::FILE* input, std::FILE* output, int64_t limit, Expansion* result,
                 char* digest_text, size_t digest_text_size, const char* key_text) {
  const CodecRun run =
      ExpandStreamsWithin(input, output, limit, digest_text, digest_text_size, key_text);
  if (result != nullptr && input != nullptr && output != nullptr) {
    result->stored = run.stored;
    result->expanded = run.total_expanded;
    result->past_limit = run.past_limit;
  }
  return ShowRun(run);
}

void ShowCodecMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatCodecMessage(format, args);
  va_end(args);
  ShowNoticeBox(kCodecCaption, std::move(text));
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
