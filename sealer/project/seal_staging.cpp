// The staging directory of a seal and the publication of its files.
// Sealer engine, without a window.
#include "sealer/project/seal_staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

#include "core/format/header_lines.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

constexpr char kFilesDirectory[] = "files";
constexpr char kPublishMarker[] = "publish";
// ReplacingFile's temporary names: ".TARGET." and six characters.
constexpr size_t kTemporarySuffixLength = 6;

bool PathExists(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool SyncDirectory(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool synced = ::fsync(fd) == 0;
  ::close(fd);
  return synced;
}

// Appends the relative name of every file under |root|/|relative| to
// |files|. The names are gathered before anything is renamed, since a
// directory's listing need not survive renames out of it.
bool ListStagedFiles(const std::string& root, const std::string& relative,
                     std::vector<std::string>& files) {
  const std::string directory = relative.empty() ? root : root + "/" + relative;
  DirPtr listing(::opendir(directory.c_str()));
  if (listing == nullptr) {
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") {
      continue;
    }
    const std::string child = relative.empty() ? name : relative + "/" + name;
    struct stat info {};
    if (::lstat((root + "/" + child).c_str(), &info) != 0) {
      return false;
    }
    if (S_ISDIR(info.st_mode)) {
      if (!ListStagedFiles(root, child, files)) {
        return false;
      }
    } else {
      files.push_back(child);
    }
    errno = 0;
  }
  return errno == 0;
}

// Why |relative| cannot take its place in |put_to|, or empty when it can: a
// directory stands where the file goes, or a file where a directory must.
std::string PublishObstacle(const std::string& put_to, const std::string& relative) {
  for (size_t slash = relative.find('/'); slash != std::string::npos;
       slash = relative.find('/', slash + 1)) {
    const std::string parent = put_to + "/" + relative.substr(0, slash);
    if (PathExists(parent) && !IsDirectory(parent)) {
      return parent + " is not a directory";
    }
  }
  const std::string target = put_to + "/" + relative;
  struct stat info {};
  if (::lstat(target.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    return target + " is a directory";
  }
  return {};
}

bool MoveIntoPlace(const std::string& from, const std::string& put_to,
                   const std::string& relative) {
  const std::string target = put_to + "/" + relative;
  const size_t slash = target.rfind('/');
  std::string parent = target.substr(0, slash);
  if (!IsDirectory(parent) && !CreateDirectoryPath(parent)) {
    return false;
  }
  return ::rename(from.c_str(), target.c_str()) == 0;
}

// Moves whatever a begun publication still holds into |put_to|, the header
// last, and removes the staging directory.
bool FinishPublication(const std::string& directory, const std::string& put_to,
                       const std::string& appl_name) {
  const std::string files = directory + "/" + kFilesDirectory;
  std::vector<std::string> staged;
  if (IsDirectory(files) && !ListStagedFiles(files, "", staged)) {
    return false;
  }
  for (const std::string& relative : staged) {
    if (!MoveIntoPlace(files + "/" + relative, put_to, relative)) {
      return false;
    }
  }
  const std::string header = directory + "/" + HeaderFileName(appl_name);
  if (PathExists(header)) {
    // The stored files' new names are on disk before the header names them.
    SyncDirectory(put_to);
    if (!MoveIntoPlace(header, put_to, HeaderFileName(appl_name))) {
      return false;
    }
  }
  SyncDirectory(put_to);
  return RemoveDirectoryTree(directory, {}, true);
}

// Removes the temporary headers ".NAME.qxw.XXXXXX" that a killed run of an
// earlier version left beside the header.
void RemoveTemporaryHeaders(const std::string& put_to, const std::string& appl_name) {
  const std::string prefix = "." + HeaderFileName(appl_name) + ".";
  DirPtr listing(::opendir(put_to.c_str()));
  if (listing == nullptr) {
    return;
  }
  std::vector<std::string> stale;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name.size() == prefix.size() + kTemporarySuffixLength && name.rfind(prefix, 0) == 0) {
      stale.emplace_back(name);
    }
  }
  for (const std::string& name : stale) {
    ::unlink((put_to + "/" + name).c_str());
  }
}

}  // namespace

std::string StagingDirectoryName(std::string_view appl_name) {
  return "." + std::string(appl_name) + ".seal";
}

bool RecoverSealStaging(const std::string& put_to, const std::string& appl_name) {
  RemoveTemporaryHeaders(put_to, appl_name);
  const std::string directory = put_to + "/" + StagingDirectoryName(appl_name);
  struct stat info {};
  if (::lstat(directory.c_str(), &info) != 0) {
    return true;
  }
  if (!S_ISDIR(info.st_mode)) {
    if (::unlink(directory.c_str()) == 0) {
      return true;
    }
  } else if (PathExists(directory + "/" + kPublishMarker)) {
    if (FinishPublication(directory, put_to, appl_name)) {
      return true;
    }
    ErrorBox("Unable to finish publishing the package begun in " + directory);
    return false;
  } else if (RemoveDirectoryTree(directory, {}, true)) {
    return true;
  }
  ErrorBox("Unable to remove " + directory + " left by an earlier seal");
  return false;
}

SealStaging::SealStaging(std::string put_to, std::string appl_name)
    : put_to_(std::move(put_to)), appl_name_(std::move(appl_name)) {
  directory_ = JoinNativePath(put_to_, StagingDirectoryName(appl_name_));
  header_path_ = directory_ + "/" + HeaderFileName(appl_name_);
}

SealStaging::~SealStaging() {
  if (begun_ && !publishing_) {
    RemoveDirectoryTree(directory_, {}, true);
  }
  if (lock_ >= 0) {
    ::close(lock_);
  }
}

bool SealStaging::Begin() {
  lock_ = ::open(NativeSeparators(put_to_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_ < 0) {
    ErrorBox("Unable to open " + put_to_ + " directory");
    return false;
  }
  // Two seals into one directory would remove each other's staging.
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    ErrorBox("Another seal is writing into " + put_to_);
    return false;
  }
  if (!RecoverSealStaging(NativeSeparators(put_to_), appl_name_)) {
    return false;
  }
  if (::mkdir(directory_.c_str(), 0755) != 0 ||
      ::mkdir((directory_ + "/" + kFilesDirectory).c_str(), 0755) != 0) {
    ErrorBox("Unable to create sub-directory for " + directory_);
    return false;
  }
  begun_ = true;
  return true;
}

std::string SealStaging::StagedPath(std::string_view name) const {
  return JoinNativePath(directory_ + "/" + kFilesDirectory, name);
}

bool SealStaging::Publish() {
  const std::string files = directory_ + "/" + kFilesDirectory;
  const std::string put_to = NativeSeparators(put_to_);
  std::vector<std::string> staged;
  if (!ListStagedFiles(files, "", staged)) {
    ErrorBox("Unable to read " + files);
    return false;
  }
  staged.push_back(HeaderFileName(appl_name_));
  for (const std::string& relative : staged) {
    const std::string obstacle = PublishObstacle(put_to, relative);
    if (!obstacle.empty()) {
      ErrorBox("Unable to publish " + relative + ": " + obstacle);
      return false;
    }
  }
  // Every staged byte is on disk before the marker makes the publication
  // one that must be finished.
  const std::string marker = directory_ + "/" + kPublishMarker;
  const int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool marked = fd >= 0 && ::syncfs(fd) == 0;
  if (fd >= 0 && ::close(fd) != 0) {
    marked = false;
  }
  if (!marked || !SyncDirectory(directory_)) {
    ErrorBox("Unable to create " + marker);
    return false;
  }
  publishing_ = true;
  if (!FinishPublication(directory_, put_to, appl_name_)) {
    ErrorBox("Unable to publish the package into " + put_to_ +
             "; the next seal finishes the publication");
    return false;
  }
  begun_ = false;
  return true;
}

}  // namespace qx
