#pragma once

// FilePtr, a C stream that closes itself, DirPtr, a directory listing that
// does the same, and CloseChecked, which closes one
// and tells whether everything written reached the file. Platform layer.

#include <dirent.h>

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
