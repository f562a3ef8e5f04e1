// CheckDiskSpace through statvfs, going up to the nearest existing parent of a
// path that does not exist yet. File-system utility layer.
#include "core/fsutil/disk_space.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <string>

#include "core/fsutil/path_text.h"

namespace qx {

namespace {

// statvfs of |path| or, while it does not exist, of its parents.
bool FileSystemOf(std::string path, struct statvfs& vfs) {
  for (;;) {
    if (::statvfs(path.empty() ? "." : path.c_str(), &vfs) == 0) {
      return true;
    }
    if ((errno != ENOENT && errno != ENOTDIR) || path.empty() || path == "/") {
      return false;
    }
    while (!path.empty() && path.back() == '/') {
      path.pop_back();
    }
    const auto separator = path.find_last_of('/');
    path = separator == std::string::npos ? std::string() : path.substr(0, separator + 1);
  }
}

}  // namespace

int CheckDiskSpace(std::string_view path, uint64_t needed) {
  struct statvfs vfs {};
  if (!FileSystemOf(NativeSeparators(path), vfs)) {
    return kDiskSpaceUnknown;
  }
  const uint64_t free_bytes = static_cast<uint64_t>(vfs.f_bavail) * vfs.f_frsize;
  return needed >= free_bytes ? kDiskSpaceShort : kDiskSpaceEnough;
}

}  // namespace qx
