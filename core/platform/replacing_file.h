#pragma once

// ReplacingFile: a file written under a temporary name beside its target and
// renamed over the target only when committed. Platform layer.

#include <cstdio>
#include <string>

#include "qxwebcore_export.h"

namespace qx {

// Creates a new private file ".NAME.XXXXXX" beside |target| (NAME being its
// last part) and opens it for writing; its path goes to |path|. The
// descriptor, or -1 with errno set.
QXWEBCORE_EXPORT int CreateFileBeside(const std::string& target, std::string* path);

// A file written under a temporary name beside its target and renamed over
// the target only when committed, so that a failed or abandoned write never
// leaves a half-written file in the target's place. Without a commit the
// temporary file is removed when the object goes.
class QXWEBCORE_EXPORT ReplacingFile {
 public:
  explicit ReplacingFile(std::string target) : target_(std::move(target)) {}
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Creates the temporary file ".NAME.XXXXXX" beside the target, with the
  // permissions of the file it replaces (a new file's otherwise), and opens
  // a binary stream on it. Null with errno set on failure.
  std::FILE* Open();
  std::FILE* file() const { return file_; }
  const std::string& target() const { return target_; }
  const std::string& temporary_path() const { return temporary_; }

  // Flushes and closes the stream, syncing the data to disk first when
  // asked; the temporary file stays for Commit. False with errno set when
  // any step failed; the temporary file is then removed.
  bool Close(bool sync = false);
  // Closes the stream if it is still open, then renames the temporary file
  // over the target. False with errno set when any step failed; the
  // temporary file is then removed.
  bool Commit(bool sync = false);

 private:
  void Discard();

  std::string target_;
  std::string temporary_;
  std::FILE* file_ = nullptr;
};

}  // namespace qx
