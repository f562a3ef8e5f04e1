// Plain copies of a file with its times, and copies through a caller's
// transfer that never create the source over itself. File-system utility layer.
#include "core/fsutil/file_copy.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

int CopyRegularFile(const std::string& source, const std::string& destination, uint64_t limit) {
  const FileDescriptor in(
      ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  struct stat info {};
  if (!in.is_open()) {
    return errno == ELOOP ? kFileCopyNotRegular : kFileCopySourceNotOpened;
  }
  if (::fstat(in.get(), &info) != 0) {
    return kFileCopySourceNotOpened;
  }
  if (!S_ISREG(info.st_mode)) {
    return kFileCopyNotRegular;
  }
  const FileDescriptor out(
      ::open(destination.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!out.is_open()) {
    return kFileCopyDestinationNotCreated;
  }
  char block[65536];
  for (uint64_t left = limit; left > 0;) {
    const ssize_t got = ::read(in.get(), block, std::min<uint64_t>(left, sizeof block));
    if (got < 0 && errno == EINTR) {
      continue;
    }
    if (got < 0) {
      return kFileCopyReadFailed;
    }
    if (got == 0) {
      break;
    }
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = ::write(out.get(), block + done, static_cast<size_t>(got - done));
      if (put < 0 && errno == EINTR) {
        continue;
      }
      if (put <= 0) {
        return kFileCopyShortWrite;
      }
      done += put;
    }
    left -= static_cast<uint64_t>(got);
  }
  const struct timespec times[2] = {info.st_atim, info.st_mtim};
  ::futimens(out.get(), times);
  return kFileCopyOk;
}

}  // namespace qx
