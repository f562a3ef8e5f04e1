// The client's own things in the cache root: its tag, work area and
// staging directories, the placement check and removal without following
// links. Client.
#include "client/cache_area.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <set>

#include "core/cache/cache_list.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_directory.h"
#include "core/platform/private_profile.h"

namespace qx {

namespace {

// The signature line of every cache directory tag, then our own line, by
// which a tag of ours is told from another program's.
constexpr std::string_view kTagSignature = "Signature: 8a477f597d28d172789f06886806bc55";
constexpr std::string_view kTagOwnerLine = "# This is the application cache of qxweb.";
constexpr std::string_view kTagText =
    "Signature: 8a477f597d28d172789f06886806bc55\n"
    "# This is the application cache of qxweb.\n"
    "# The applications in it are fetched again when they are installed again.\n"
    "# For information about cache directory tags see https://bford.info/cachedir/\n";
constexpr size_t kTagReadLimit = 512;

constexpr std::string_view kStagingName = "staging";
constexpr std::string_view kTempName = "tmp";
// Staging directories of earlier versions of the client, made beside the
// package directory as ".ApplName.install-XXXXXX", with ".old" for the
// version moved aside.
constexpr std::string_view kOldStagingInfix = ".install-";
constexpr size_t kMkdtempSuffix = 6;

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

DirPtr OpenDirectory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  DIR* dir = fd < 0 ? nullptr : ::fdopendir(fd);
  if (fd >= 0 && dir == nullptr) {
    ::close(fd);
  }
  return DirPtr(dir);
}

// The names in the directory |path|, "." and ".." left out; empty when it
// cannot be listed.
std::vector<std::string> Names(const std::string& path) {
  std::vector<std::string> names;
  const DirPtr dir = OpenDirectory(path);
  for (const dirent* entry = nullptr; dir && (entry = ::readdir(dir.get())) != nullptr;) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
  }
  return names;
}

bool IsRealDirectory(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether the tree under |path| holds nothing but directories.
bool HoldsOnlyDirectories(const std::string& path) {
  for (const std::string& name : Names(path)) {
    const std::string child = path + "/" + name;
    if (!IsRealDirectory(child) || !HoldsOnlyDirectories(child)) {
      return false;
    }
  }
  return true;
}

bool MakePrivateDirectory(const std::string& path) {
  return (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) && IsRealDirectory(path);
}

std::string WorkArea(const std::string& root) {
  return root + "/" + std::string(kWorkAreaName);
}

std::string StagingArea(const std::string& root) {
  return WorkArea(root) + "/" + std::string(kStagingName);
}

// The components of a cache name ("apps\demo\Demo" gives apps, demo, Demo).
std::vector<std::string_view> Components(std::string_view name) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  while (start <= name.size()) {
    const size_t end = name.find_first_of("\\/", start);
    const std::string_view part =
        name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (!part.empty()) {
      parts.push_back(part);
    }
    if (end == std::string_view::npos) {
      break;
    }
    start = end + 1;
  }
  return parts;
}

// Whether |outer| is |inner| or one of its ancestors, compared as the
// registry compares names (without case), so that two names it cannot tell
// apart never share a place.
bool IsSameOrAncestor(const std::vector<std::string_view>& outer,
                      const std::vector<std::string_view>& inner) {
  if (outer.size() > inner.size()) {
    return false;
  }
  for (size_t i = 0; i < outer.size(); ++i) {
    if (!ProfileNamesEqual(outer[i], inner[i])) {
      return false;
    }
  }
  return true;
}

bool IsOldStagingName(std::string_view name) {
  if (name.size() > 4 && name.substr(name.size() - 4) == ".old") {
    name.remove_suffix(4);
  }
  const size_t infix = name.rfind(kOldStagingInfix);
  return name.size() > 1 && name.front() == '.' && infix != std::string_view::npos && infix > 1 &&
         name.size() - infix - kOldStagingInfix.size() == kMkdtempSuffix;
}

void CollectForeign(const std::string& root, const std::string& relative,
                    const std::set<std::string>& packages, const std::set<std::string>& ancestors,
                    size_t limit, std::vector<std::string>& foreign,
                    std::vector<std::string>* left_over) {
  const std::string path = relative.empty() ? root : root + "/" + relative;
  for (const std::string& name : Names(path)) {
    if (foreign.size() >= limit) {
      return;
    }
    const std::string child = relative.empty() ? name : relative + "/" + name;
    const std::string child_path = root + "/" + child;
    if (relative.empty() && name == kWorkAreaName) {
      continue;
    }
    if (!IsRealDirectory(child_path)) {
      foreign.push_back(child);
    } else if (packages.count(child) != 0) {
      continue;
    } else if (ancestors.count(child) != 0) {
      CollectForeign(root, child, packages, ancestors, limit, foreign, left_over);
    } else if (IsOldStagingName(name)) {
      left_over->push_back(child_path);
    } else if (!HoldsOnlyDirectories(child_path)) {
      foreign.push_back(child);
    }
  }
}

}  // namespace

bool IsTaggedCacheRoot(const std::string& root) {
  const int fd = ::open((root + "/" + std::string(kCacheRootTagName)).c_str(),
                        O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    return false;
  }
  char buffer[kTagReadLimit];
  struct stat info {};
  const ssize_t got =
      ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) ? ::read(fd, buffer, sizeof buffer) : -1;
  ::close(fd);
  const std::string_view text(buffer, got > 0 ? static_cast<size_t>(got) : 0);
  return text.substr(0, kTagSignature.size()) == kTagSignature &&
         text.find(kTagOwnerLine) != std::string_view::npos;
}

std::string TagCacheRoot(const std::string& root) {
  if (!MakePrivateDirectory(WorkArea(root)) || !MakePrivateDirectory(StagingArea(root)) ||
      !MakeClientTempDirectory(CacheTempDirectory(root))) {
    return "cannot make the cache's own directory " + WorkArea(root) + ": " + std::strerror(errno);
  }
  if (IsTaggedCacheRoot(root)) {
    return {};
  }
  const std::string tag = root + "/" + std::string(kCacheRootTagName);
  const int fd = ::open(tag.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  const bool written = fd >= 0 && ::write(fd, kTagText.data(), kTagText.size()) ==
                                      static_cast<ssize_t>(kTagText.size());
  const int saved = errno;
  if (fd >= 0) {
    ::close(fd);
  }
  return written ? std::string() : "cannot write " + tag + ": " + std::strerror(saved);
}

std::string CacheTempDirectory(const std::string& root) {
  return WorkArea(root) + "/" + std::string(kTempName);
}

std::vector<std::string> ForeignEntries(const std::string& root,
                                        const std::vector<std::string>& listed, size_t limit,
                                        std::vector<std::string>* left_over) {
  std::set<std::string> packages;
  std::set<std::string> ancestors;
  for (const std::string& name : listed) {
    std::string relative;
    for (const std::string_view part : Components(name)) {
      if (!relative.empty()) {
        ancestors.insert(relative);
        relative += '/';
      }
      relative += part;
    }
    packages.insert(relative);
  }
  std::vector<std::string> foreign;
  CollectForeign(root, "", packages, ancestors, limit, foreign, left_over);
  return foreign;
}

void RemoveAbandonedWorkDirectories(const std::string& root) {
  const std::string staging = StagingArea(root);
  for (const std::string& name : Names(staging)) {
    const std::string path = staging + "/" + name;
    FileLock lock;
    if (!IsRealDirectory(path) || lock.TryDirectory(path)) {
      RemoveWithoutFollowing(path);
    }
  }
}

bool WorkDirectory::Make(const std::string& root, std::string* error) {
  Remove();
  if (!MakePrivateDirectory(WorkArea(root)) || !MakePrivateDirectory(StagingArea(root))) {
    *error =
        "cannot make the cache's own directory " + StagingArea(root) + ": " + std::strerror(errno);
    return false;
  }
  std::string pattern = StagingArea(root) + "/XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr || !lock_.TryDirectory(pattern)) {
    *error =
        "cannot make a staging directory in " + StagingArea(root) + ": " + std::strerror(errno);
    return false;
  }
  path_ = pattern;
  if (::mkdir(incoming().c_str(), 0700) != 0) {
    *error = "cannot create " + incoming() + ": " + std::strerror(errno);
    Remove();
    return false;
  }
  return true;
}

void WorkDirectory::Remove() {
  if (!path_.empty()) {
    RemoveWithoutFollowing(path_);
    path_.clear();
  }
  lock_.Release();
}

std::string PlacePackage(const std::string& root, const std::string& name,
                         const std::vector<std::string>& listed, Placement* placement) {
  placement->name = name;
  placement->directory = CachedApplicationDirectory(root, name);
  placement->listed = false;
  placement->exists = false;
  const std::string shown = "\"" + PrintableText(name) + "\"";
  const std::vector<std::string_view> parts = Components(name);
  if (placement->directory.empty() || parts.empty()) {
    return shown + " does not name a safe directory in the cache";
  }
  if (ProfileNamesEqual(parts.front(), kWorkAreaName)) {
    return shown + ": \"" + std::string(parts.front()) + "\" is the cache's own directory";
  }
  for (const std::string& other : listed) {
    const std::string other_shown = "\"" + PrintableText(other) + "\"";
    if (ProfileNamesEqual(other, name)) {
      if (other != name) {
        return shown + ": the cache holds " + other_shown +
               ", a name that differs only in letter case; remove it first";
      }
      placement->listed = true;
      continue;
    }
    const std::vector<std::string_view> other_parts = Components(other);
    if (IsSameOrAncestor(other_parts, parts)) {
      return shown + " would lie inside the cached application " + other_shown;
    }
    if (IsSameOrAncestor(parts, other_parts)) {
      return shown + " would hold the cached application " + other_shown;
    }
  }
  // Every level below the root must be a directory of its own: through a
  // link the package would land, and be replaced later, wherever it points.
  std::string path = root;
  for (size_t i = 0; i < parts.size(); ++i) {
    path += "/";
    path += parts[i];
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
      if (errno == ENOENT) {
        return {};
      }
      return "cannot examine " + path + ": " + std::strerror(errno);
    }
    if (S_ISLNK(info.st_mode)) {
      return path + " is a symbolic link; the cache puts packages only into directories of its own";
    }
    if (!S_ISDIR(info.st_mode)) {
      return path + " is not a directory; nothing was changed";
    }
  }
  placement->exists = true;
  if (!placement->listed && !Names(path).empty()) {
    return path + " holds files the cache did not put there; nothing was changed";
  }
  return {};
}

std::string MakeParentDirectories(const std::string& root, const std::string& directory) {
  if (directory.size() <= root.size() + 1 || directory.compare(0, root.size(), root) != 0) {
    return directory + " is not in the cache root " + root;
  }
  for (size_t slash = directory.find('/', root.size() + 1); slash != std::string::npos;
       slash = directory.find('/', slash + 1)) {
    const std::string level = directory.substr(0, slash);
    if (::mkdir(level.c_str(), 0755) != 0 && errno != EEXIST) {
      return "cannot create " + level + ": " + std::strerror(errno);
    }
    if (!IsRealDirectory(level)) {
      return level + " is not a directory of the cache's own";
    }
  }
  return {};
}

void PruneEmptyParents(const std::string& root, const std::string& directory) {
  std::string level = directory;
  for (size_t slash = level.rfind('/'); slash != std::string::npos && slash > root.size();
       slash = level.rfind('/')) {
    level.resize(slash);
    if (level.compare(0, root.size(), root) != 0 || ::rmdir(level.c_str()) != 0) {
      break;
    }
  }
}

std::string FileIdOf(const std::string& path) {
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0) {
    return {};
  }
  return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
}

bool RemoveWithoutFollowing(const std::string& path) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    return errno == ENOENT;
  }
  if (!S_ISDIR(info.st_mode)) {
    return ::unlink(path.c_str()) == 0;
  }
  return RemoveDirectoryTree(path, TreeCallback(), true);
}

}  // namespace qx
