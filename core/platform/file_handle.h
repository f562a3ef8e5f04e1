#pragma once

// FilePtr, a C stream that closes itself, DirPtr, a directory listing that
// does the same, FileDescriptor, a descriptor that does the same, and
// CloseChecked, which closes a stream and tells whether everything written
// reached the file. Platform layer.

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace qx {

// Owns a C stream and closes it when the owner goes.
struct FileCloser {
  void operator()(std::FILE* file) const {
    if (file != nullptr) {
      std::fclose(file);
    }
  }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Owns a directory listing and closes it when the owner goes.
struct DirCloser {
  void operator()(DIR* dir) const {
    if (dir != nullptr) {
      ::closedir(dir);
    }
  }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// Owns a file descriptor (negative: none) and closes it when the owner goes.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) {
      ::close(fd_);
    }
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  bool is_open() const { return fd_ >= 0; }

 private:
  int fd_;
};

// Closes |file| (nothing to do when it is not open) and reports whether
// everything written reached the file: no error on the stream and a clean
// close.
inline bool CloseChecked(FilePtr& file) {
  std::FILE* raw = file.release();
  if (raw == nullptr) {
    return true;
  }
  const bool clean = std::ferror(raw) == 0;
  return std::fclose(raw) == 0 && clean;
}

}  // namespace qx
