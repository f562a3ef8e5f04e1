// ReplacingFile: the temporary file with the target's permissions, its checked
// close, the rename on commit and the clean-up otherwise. Platform layer.
#include "core/platform/replacing_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

namespace qx {

int CreateFileBeside(const std::string& target, std::string* path) {
  const std::string::size_type slash = target.rfind('/');
  const std::string directory = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  std::string pattern = directory + "." + base + ".XXXXXX";
  const int fd = ::mkstemp(pattern.data());
  if (fd >= 0) {
    *path = std::move(pattern);
  }
  return fd;
}

ReplacingFile::~ReplacingFile() {
  Discard();
}

std::FILE* ReplacingFile::Open() {
  Discard();
  const int fd = CreateFileBeside(target_, &temporary_);
  if (fd < 0) {
    return nullptr;
  }
  // mkstemp makes the file private; give it what the file it replaces had,
  // or what a new file would get.
  struct stat info {};
  mode_t mode = 0;
  if (::stat(target_.c_str(), &info) == 0) {
    mode = info.st_mode & 07777;
  } else {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    mode = 0666 & ~mask;
  }
  ::fchmod(fd, mode);
  file_ = ::fdopen(fd, "wb");
  if (file_ == nullptr) {
    const int error = errno;
    ::close(fd);
    Discard();
    errno = error;
  }
  return file_;
}

bool ReplacingFile::Close(bool sync) {
  if (file_ == nullptr) {
    errno = EBADF;
    Discard();
    return false;
  }
  bool ok = std::fflush(file_) == 0 && (!sync || ::fsync(::fileno(file_)) == 0);
  int error = errno;
  std::FILE* file = file_;
  file_ = nullptr;
  if (std::fclose(file) != 0 && ok) {
    ok = false;
    error = errno;
  }
  if (!ok) {
    Discard();
    errno = error;
  }
  return ok;
}

bool ReplacingFile::Commit(bool sync) {
  if (file_ != nullptr && !Close(sync)) {
    return false;
  }
  if (temporary_.empty()) {
    errno = EBADF;
    return false;
  }
  if (std::rename(temporary_.c_str(), target_.c_str()) != 0) {
    const int error = errno;
    Discard();
    errno = error;
    return false;
  }
  temporary_.clear();
  return true;
}

void ReplacingFile::Discard() {
  if (file_ != nullptr) {
    std::fclose(file_);
    file_ = nullptr;
  }
  if (!temporary_.empty()) {
    ::unlink(temporary_.c_str());
    temporary_.clear();
  }
}

}  // namespace qx
