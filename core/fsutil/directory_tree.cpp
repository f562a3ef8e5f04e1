// Directory trees walked through directory descriptors (openat, fstatat,
// unlinkat), so that no link inside a tree is ever followed. File-system
// utility layer.
#include "core/fsutil/directory_tree.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "core/platform/user_interface.h"

namespace qx {

namespace {

// |directory| and |name| with one "/" between them.
std::string ChildPath(const std::string& directory, std::string_view name) {
  std::string path = directory;
  if (path.empty() || path.back() != '/') {
    path += '/';
  }
  path += name;
  return path;
}

DirPtr OpenNamed(const std::string& path) {
  return DirPtr(::opendir(path.c_str()));
}

// Opens the sub-directory |name| of |parent| only if it is a real directory
// now; a link put in its place since it was examined is refused.
DirPtr OpenChild(DIR* parent, const char* name) {
  const int fd = ::openat(::dirfd(parent), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    return nullptr;
  }
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    ::close(fd);
  }
  return DirPtr(dir);
}

enum class Listing { kEntry, kEnd, kError };

// The next entry other than "." and "..", with its status (the link itself
// for a link). An entry that vanished since it was listed is passed over.
Listing NextEntry(DIR* dir, std::string& name, struct stat& st) {
  for (;;) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) {
      return errno == 0 ? Listing::kEnd : Listing::kError;
    }
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) {
      continue;
    }
    name = entry->d_name;
    if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      return Listing::kEntry;
    }
    if (errno != ENOENT) {
      return Listing::kError;
    }
  }
}

class TreeList {
 public:
  TreeList(std::string& list, size_t& offset, int& subdirectory_count, uint64_t& total_size)
      : list_(list),
        offset_(offset),
        subdirectory_count_(subdirectory_count),
        total_size_(total_size) {}

  int List(DIR* dir) {
    int files = 0;
    std::string name;
    struct stat st {};
    Listing listing;
    while ((listing = NextEntry(dir, name, st)) == Listing::kEntry) {
      if (S_ISDIR(st.st_mode)) {
        Put("{", name);
        const DirPtr child = OpenChild(dir, name.c_str());
        const int child_files = child ? List(child.get()) : kTreeFailed;
        if (child_files < 0) {
          return kTreeFailed;
        }
        files += child_files;
        ++subdirectory_count_;
        Put("}", name);
      } else {
        Put("", name);
        total_size_ += static_cast<uint64_t>(st.st_size);
        ++files;
      }
    }
    return listing == Listing::kEnd ? files : kTreeFailed;
  }

 private:
  void Put(std::string_view mark, std::string_view name) {
    const size_t end = offset_ + mark.size() + name.size() + 1;
    if (list_.size() < end) {
      list_.resize(end);
    }
    char* out = list_.data() + offset_;
    out = std::copy(mark.begin(), mark.end(), out);
    out = std::copy(name.begin(), name.end(), out);
    *out = '\0';
    offset_ = end;
  }

  std::string& list_;
  size_t& offset_;
  int& subdirectory_count_;
  uint64_t& total_size_;
};

int AddTreeSize(DIR* dir, uint64_t& total_size) {
  std::string name;
  struct stat st {};
  Listing listing;
  while ((listing = NextEntry(dir, name, st)) == Listing::kEntry) {
    if (S_ISDIR(st.st_mode)) {
      if (const DirPtr child = OpenChild(dir, name.c_str())) {
        if (AddTreeSize(child.get(), total_size) != kTreeOk) {
          return kTreeFailed;
        }
      }
    } else {
      total_size += static_cast<uint64_t>(st.st_size);
    }
  }
  return listing == Listing::kEnd ? kTreeOk : kTreeFailed;
}

bool RemoveEntries(DIR* dir, const std::string& path, const TreeCallback& callback) {
  std::string name;
  struct stat st {};
  Listing listing;
  while ((listing = NextEntry(dir, name, st)) == Listing::kEntry) {
    if (S_ISDIR(st.st_mode)) {
      const std::string child_path = ChildPath(path, name);
      if (callback && !callback(kTreeCallbackCode, child_path)) {
        return false;
      }
      const DirPtr child = OpenChild(dir, name.c_str());
      if (!child || !RemoveEntries(child.get(), child_path, callback)) {
        return false;
      }
      if (::unlinkat(::dirfd(dir), name.c_str(), AT_REMOVEDIR) != 0) {
        return false;
      }
    } else if (::unlinkat(::dirfd(dir), name.c_str(), 0) != 0) {
      return false;
    }
  }
  return listing == Listing::kEnd;
}

}  // namespace

bool DirectoryExists(std::string_view path) {
  // With the trailing "/" an empty text names the root, as a bare separator does.
  return OpenNamed(NativeSeparators(path) + "/") != nullptr;
}

bool CreateDirectoryPath(std::string& path) {
  for (size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsPathSeparator(path[i])) {
      continue;
    }
    const std::string prefix = NativeSeparators(std::string_view(path).substr(0, i));
    // Another process may make the directory between the test and mkdir.
    if (!DirectoryExists(prefix) && ::mkdir(prefix.c_str(), 0777) != 0 &&
        !DirectoryExists(prefix)) {
      path.resize(i);
      return false;
    }
  }
  return true;
}

int ListDirectoryTree(std::string_view directory, std::string& list, size_t& offset,
                      int& subdirectory_count, uint64_t& total_size) {
  const DirPtr dir = OpenNamed(NativeSeparators(directory));
  if (!dir) {
    return kTreeFailed;
  }
  return TreeList(list, offset, subdirectory_count, total_size).List(dir.get());
}

int GetDirectoryTreeSize(std::string_view directory, uint64_t& total_size) {
  const DirPtr dir = OpenNamed(NativeSeparators(directory));
  return dir ? AddTreeSize(dir.get(), total_size) : kTreeOk;
}

bool RemoveDirectoryTree(std::string_view directory, const TreeCallback& callback,
                         bool remove_self) {
  const std::string path = NativeSeparators(directory);
  {
    const DirPtr dir = OpenNamed(path);
    if (!dir || !RemoveEntries(dir.get(), path, callback)) {
      return false;
    }
  }
  return !remove_self || ::rmdir(path.c_str()) == 0;
}

bool YieldToWindowSystem(int /*code*/, std::string_view /*path*/) {
  CurrentUserInterface().DeliverPendingEvents();
  return true;
}

std::string ResolvedPath(std::string_view path) {
  const std::unique_ptr<char, decltype(&std::free)> resolved(
      ::realpath(NativeSeparators(path).c_str(), nullptr), &std::free);
  return resolved == nullptr ? std::string() : std::string(resolved.get());
}

bool IsSameOrInsideDirectory(std::string_view inner, std::string_view outer) {
  struct stat target {};
  if (::stat(NativeSeparators(outer).c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
    return false;
  }
  std::string path = NativeSeparators(inner);
  if (path.empty()) {
    path = ".";
  }
  // A path not made yet stands where its nearest existing ancestor is.
  std::string canonical;
  while ((canonical = ResolvedPath(path)).empty()) {
    if (path == "." || path == "/") {
      return false;
    }
    const size_t slash = path.find_last_of('/');
    path = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  }
  for (;;) {
    struct stat info {};
    if (::stat(canonical.c_str(), &info) == 0 && info.st_dev == target.st_dev &&
        info.st_ino == target.st_ino) {
      return true;
    }
    if (canonical == "/") {
      return false;
    }
    const size_t slash = canonical.find_last_of('/');
    canonical.resize(slash == 0 ? 1 : slash);
  }
}

void SyncFileSystem(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

}  // namespace qx
