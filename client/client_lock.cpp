// Advisory locks of the client over flock(2). Client.
#include "client/client_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace qx {

namespace {

// How long a command waits quietly before it says what it waits for.
constexpr auto kQuietWait = std::chrono::seconds(1);
constexpr auto kPollInterval = std::chrono::milliseconds(20);

}  // namespace

FileLock& FileLock::operator=(FileLock&& other) noexcept {
  if (this != &other) {
    Release();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

bool FileLock::Take(const std::string& path, const std::function<void()>& waiting,
                    std::string* error) {
  Release();
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) {
    *error = "cannot open the lock file " + path + ": " + std::strerror(errno);
    return false;
  }
  const auto deadline = std::chrono::steady_clock::now() + kQuietWait;
  int result = 0;
  while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EWOULDBLOCK &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(kPollInterval);
  }
  if (result != 0 && errno == EWOULDBLOCK) {
    if (waiting) {
      waiting();
    }
    while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
  }
  if (result != 0) {
    *error = "cannot lock " + path + ": " + std::strerror(errno);
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

bool FileLock::TryDirectory(const std::string& path) {
  Release();
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

void FileLock::Release() {
  if (fd_ >= 0) {
    ::close(fd_);  // closing the last descriptor releases the lock
    fd_ = -1;
  }
}

}  // namespace qx
