// Plain copies of a file with its times, and copies through a caller's
// transfer that never create the source over itself. File-system utility layer.
#include "core/fsutil/file_copy.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

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

int CopyFileThrough(const std::string& source, const std::string& destination,
                    const std::function<int(std::FILE*, std::FILE*)>& transfer) {
  auto [in, out, opened] = OpenPair(source, destination);
  if (opened != kFileCopyOk) {
    return opened;
  }
  if (const int moved = transfer(in.get(), out.get()); moved != kFileCopyOk) {
    return moved;
  }
  in.reset();
  if (!CloseWritten(std::move(out))) {
    return kFileCopyShortWrite;
  }
  CopyFileTimes(source, destination, nullptr, nullptr);
  return kFileCopyOk;
}

int CopyFilePlain(const std::string& source, const std::string& destination) {
  return CopyFileThrough(source, destination, [](std::FILE* in, std::FILE* out) {
    char block[kCopyBlockSize];
    size_t got = 0;
    do {
      got = std::fread(block, 1, sizeof block, in);
      if (got > 0 && std::fwrite(block, 1, got, out) != got) {
        return kFileCopyShortWrite;
      }
    } while (got == sizeof block);
    return std::ferror(in) ? kFileCopyReadFailed : kFileCopyOk;
  });
}

}  // namespace qx
