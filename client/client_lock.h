#pragma once

// Advisory locks of the client: the one lock on its state (qxweb.lock beside
// qxweb.ini) that every command holds while it reads or changes the
// registry, the registration or the cache tree, and the locks on work
// directories that tell a live command's from a killed one's. Client.

#include <functional>
#include <string>

namespace qx {

// An exclusive flock(2) on one file or directory, released by Release, by the
// object's end or by the death of the process. The descriptor is closed on
// exec, so a started application never inherits the lock.
class FileLock {
 public:
  FileLock() = default;
  ~FileLock() { Release(); }
  FileLock(FileLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  FileLock& operator=(FileLock&& other) noexcept;
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Takes the lock on |path|, creating it as a file (mode 0600) when it is
  // missing, waiting for another holder; |waiting| (may be empty) is called
  // once when that takes more than a second. False, with the reason in
  // |error|, when the file cannot be opened.
  bool Take(const std::string& path, const std::function<void()>& waiting, std::string* error);
  // Takes the lock on the directory |path| when nobody holds it; false when
  // someone does or it cannot be opened (never a link).
  bool TryDirectory(const std::string& path);
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace qx
