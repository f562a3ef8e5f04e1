#include "core/fsutil/file_copy.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "core/compress/codec.h"
#include "core/fsutil/file_times.h"
#include "core/platform/file_handle.h"

namespace qx {

namespace {

// True when |path| names the file already open as |file|.
bool IsSameFile(std::FILE* file, const std::string& path) {
  struct stat open_st {};
  struct stat path_st {};
  return ::fstat(::fileno(file), &open_st) == 0 && ::stat(path.c_str(), &path_st) == 0 &&
         open_st.st_dev == path_st.st_dev && open_st.st_ino == path_st.st_ino;
}

// Closes |file| and reports whether everything buffered reached the file.
bool CloseWritten(FilePtr file) {
  return std::fclose(file.release()) == 0;
}

struct OpenedPair {
  FilePtr in;
  FilePtr out;
  int result = kFileCopyOk;
};

// Opens |source| for reading and creates |destination|, refusing to create
// the source over itself.
OpenedPair OpenPair(const std::string& source, const std::string& destination) {
  OpenedPair pair;
  pair.in.reset(std::fopen(source.c_str(), "rb"));
  if (!pair.in) {
    pair.result = kFileCopySourceNotOpened;
    return pair;
  }
  if (!IsSameFile(pair.in.get(), destination)) {
    pair.out.reset(std::fopen(destination.c_str(), "wb"));
  }
  if (!pair.out) {
    pair.result = kFileCopyDestinationNotCreated;
  }
  return pair;
}

}  // namespace

int CopyFilePlain(const std::string& source, const std::string& destination) {
  auto [in, out, opened] = OpenPair(source, destination);
  if (opened != kFileCopyOk) {
    return opened;
  }
  char block[kCopyBlockSize];
  size_t got = 0;
  do {
    got = std::fread(block, 1, sizeof block, in.get());
    if (got > 0 && std::fwrite(block, 1, got, out.get()) != got) {
      return kFileCopyShortWrite;
    }
  } while (got == sizeof block);
  if (std::ferror(in.get())) {
    return kFileCopyReadFailed;
  }
  in.reset();
  if (!CloseWritten(std::move(out))) {
    return kFileCopyShortWrite;
  }
  CopyFileTimes(source, destination, nullptr, nullptr);
  return kFileCopyOk;
}

int CompressFileByName(const std::string& source, const std::string& destination, bool compress,
                       std::optional<std::string_view> key_text) {
  auto [in, out, opened] = OpenPair(source, destination);
  if (opened != kFileCopyOk) {
    return opened;
  }
  const std::optional<std::string> key =
      key_text ? std::optional<std::string>(*key_text) : std::nullopt;
  if (CompressFile(in.get(), out.get(), compress, nullptr, nullptr, nullptr, 0,
                   key ? key->c_str() : nullptr) != kCodecOk) {
    return kFileCopyCompressFailed;
  }
  in.reset();
  if (!CloseWritten(std::move(out))) {
    return kFileCopyShortWrite;
  }
  CopyFileTimes(source, destination, nullptr, nullptr);
  return kFileCopyOk;
}

}  // namespace qx
