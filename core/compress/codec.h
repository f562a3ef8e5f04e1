#pragma once

// The stored-file codec: CompressStreams and ExpandStreamsWithin (one gzip
// member out; gzip members or a ZIP archive's first entry in), which give
// their failure and messages as values; DigestCopyFile; and CompressFile,
// ExpandWithin, the codec's message box, CompressFileByName and
// ExpandFileByName, which show the messages as boxes. Codec layer.

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/fsutil/file_copy.h"
#include "core/platform/result.h"
#include "qxwebcore_export.h"

namespace qx {

// Result codes of CompressFile.
inline constexpr int kCodecOk = 0;
inline constexpr int kCodecFailed = -1;

// Result codes of DigestCopyFile.
inline constexpr int kCopyOk = 0;
inline constexpr int kCopyNoDigestContext = 12;
inline constexpr int kCopyShortWrite = 13;
inline constexpr int kCopyDigestFailed = 14;
// Reading the input failed part way, or there was no input; the copy and its
// digest would be short.
inline constexpr int kCopyReadFailed = 15;

// The code of a codec run's error when the output would have passed its
// limit (ExpandStreamsWithin); the error then has no message.
inline constexpr int kCodecPastLimit = -2;

// Caption of every box the codec shows.
inline constexpr char kCodecCaption[] = "Tarnwick Web Sealer";

// What one codec run on two streams gave.
struct CodecRun {
  // kCodecFailed with the text that says why, or kCodecPastLimit.
  Result<void> result;
  int64_t stored = 0;          // bytes of the stored form: written or read
  int64_t expanded = 0;        // bytes of the expanded form (the last member's)
  int64_t total_expanded = 0;  // written when expanding, all members together
  bool past_limit = false;     // stopped as the output would pass the limit
  // Every text the run gave, in order, as a box shows it: notes of a run
  // that went on (a ZIP archive's further entries) and a failure's reason,
  // which comes last. Empty for most runs.
  std::vector<std::string> messages;
};

// Compresses |input| into one gzip member on |output| (|compress| true), or
// expands a gzip member, a run of members or the first entry of a ZIP
// archive (|compress| false), as CompressFile does, but shows nothing: the
// run's failure and texts come back in the value. Safe on any thread.
QXWEBCORE_EXPORT CodecRun CompressStreams(std::FILE* input, std::FILE* output, bool compress,
                                          char* digest_text, size_t digest_text_size,
                                          const char* key_text);

// Expands as ExpandWithin does (the output of all members together capped
// at |limit| bytes), showing nothing.
QXWEBCORE_EXPORT CodecRun ExpandStreamsWithin(std::FILE* input, std::FILE* output, int64_t limit,
                                              char* digest_text, size_t digest_text_size,
                                              const char* key_text);

// A codec message as its box shows it: formatted, at most 255 characters,
// one trailing line feed dropped.
QXWEBCORE_EXPORT std::string FormatCodecMessage(const char* format, va_list args);

// Compresses |input| into one gzip member on |output| (|compress| true), or
// expands a gzip member, a run of members or the first entry of a ZIP archive
// from |input| onto |output| (|compress| false). Both streams must be open and
// hold no buffered data: the call reads and writes their descriptors directly
// and the caller closes them afterwards. The secure digest is taken over the
// stored bytes (written when compressing, read when expanding) and copied into
// |digest_text| with a bounded copy of |digest_text_size| characters, keyed by
// |key_text| (null: plain digest). On success |compressed_size| receives the
// stored byte count and |uncompressed_size| the expanded count (the last
// member's when expanding); either pointer may be null. Returns kCodecOk, or
// kCodecFailed after its messages, each in a box as ShowCodecMessage shows
// it (CompressStreams gives them as values); on failure nothing
// is stored and |output| keeps whatever was written. Each call keeps its own
// state, so calls on different files may run at the same time.
QXWEBCORE_EXPORT int CompressFile(std::FILE* input, std::FILE* output, bool compress,
                                  int64_t* compressed_size, int64_t* uncompressed_size,
                                  char* digest_text, size_t digest_text_size, const char* key_text);

// What ExpandWithin read and wrote.
struct Expansion {
  int64_t stored = 0;       // bytes read
  int64_t expanded = 0;     // bytes written, all members together
  bool past_limit = false;  // stopped because the output would pass the limit
};

// Expands |input| onto |output| as CompressFile does with |compress| false,
// but counts the output of all members together and stops as soon as it
// would pass |limit| bytes: the call then fails with |result->past_limit|
// set and without a message, having written at most |limit| bytes. Other
// failures show their message as CompressFile's do. |result| may be null.
QXWEBCORE_EXPORT int ExpandWithin(std::FILE* input, std::FILE* output, int64_t limit,
                                  Expansion* result, char* digest_text, size_t digest_text_size,
                                  const char* key_text);

// Copies |input| to |output| unchanged through the streams in 516-byte blocks
// (|output| null: digest only), stores the byte count in |size| (may be null)
// and the secure digest of the bytes as CompressFile does. Shows no messages.
// Returns kCopyOk or one of the kCopy* failure codes.
QXWEBCORE_EXPORT int DigestCopyFile(std::FILE* input, std::FILE* output, int64_t* size,
                                    char* digest_text, size_t digest_text_size,
                                    const char* key_text);

// Formats a message (at most 255 characters), drops one trailing line feed,
// beeps and shows it in an information box captioned kCodecCaption. The
// platform layer shows the box; the codec itself never does.
QXWEBCORE_EXPORT void ShowCodecMessage(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Compresses |source| into one gzip member (|compress| true) or expands it
// (false) into |destination| with CompressFile, whose digest is keyed by
// |key_text| (none: the plain digest) and dropped, then carries the source's
// time stamps over. Returns kFileCopyOk, kFileCopySourceNotOpened,
// kFileCopyDestinationNotCreated, kFileCopyCompressFailed or
// kFileCopyShortWrite.
// Expands the stored file |source| into |destination| with ExpandWithin,
// which must give exactly |size| bytes, and carries the source's time stamps
// over. Returns kFileCopyOk; kFileCopySourceNotOpened or
// kFileCopyDestinationNotCreated; or, with |destination| removed again,
// kFileCopyCompressFailed (not expandable, message shown), kFileCopyShortWrite,
// kFileCopyPastSize (stopped as the expansion passed |size|) or
// kFileCopyShortOfSize (it ended short of |size|).
QXWEBCORE_EXPORT int ExpandFileByName(const std::string& source, const std::string& destination,
                                      int64_t size);

QXWEBCORE_EXPORT int CompressFileByName(const std::string& source, const std::string& destination,
                                        bool compress, std::optional<std::string_view> key_text);

}  // namespace qx
