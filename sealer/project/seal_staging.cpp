// The staging directory of a seal and the publication of its files.
// Sealer engine, without a window.
#include "sealer/project/seal_staging.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <set>
#include <vector>

#include "core/format/header_lines.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "core/signature/package_signature.h"
#include "sealer/project/install_page.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

constexpr char kFilesDirectory[] = "files";
constexpr char kPublishMarker[] = "publish";
constexpr char kUnsignMarker[] = "unsign";
// Up to this many staged files are put on the disk one by one; more with
// one sync of the whole file system, which also waits for whatever else
// is waiting to be written.
constexpr size_t kSyncOneByOne = 64;
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

bool SyncPath(const std::string& path, int flags) {
  const FileDescriptor fd(::open(path.c_str(), flags | O_CLOEXEC));
  return fd.is_open() && ::fsync(fd.get()) == 0;
}

bool SyncDirectory(const std::string& path) {
  return SyncPath(path, O_RDONLY | O_DIRECTORY);
}

// The names in the directory |path|, but "." and "..", gathered before
// anything is renamed, since a listing need not survive renames out of it.
bool ListNames(const std::string& path, std::vector<std::string>& names) {
  DirPtr listing(::opendir(path.c_str()));
  if (listing == nullptr) {
    return false;
  }
  errno = 0;
  while (const dirent* entry = ::readdir(listing.get())) {
    const std::string_view name = entry->d_name;
    if (name != "." && name != "..") {
      names.emplace_back(name);
    }
    errno = 0;
  }
  return errno == 0;
}

// Appends the relative name of every file under |root|/|relative| to
// |files|.
bool ListStagedFiles(const std::string& root, const std::string& relative,
                     std::vector<std::string>& files) {
  std::vector<std::string> names;
  if (!ListNames(relative.empty() ? root : root + "/" + relative, names)) {
    return false;
  }
  for (const std::string& name : names) {
    const std::string child = relative.empty() ? name : relative + "/" + name;
    struct stat info {};
    if (::lstat((root + "/" + child).c_str(), &info) != 0) {
      return false;
    }
    if (!S_ISDIR(info.st_mode)) {
      files.push_back(child);
    } else if (!ListStagedFiles(root, child, files)) {
      return false;
    }
  }
  return true;
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

// Moves everything under the directory |from| into the directory |to|: a
// name |to| lacks in one rename, file or whole directory, and a directory
// |to| also holds entry by entry.
bool MoveTree(const std::string& from, const std::string& to) {
  std::vector<std::string> names;
  if (!ListNames(from, names)) {
    return false;
  }
  for (const std::string& name : names) {
    const std::string source = from + "/" + name;
    const std::string target = to + "/" + name;
    struct stat staged {};
    struct stat there {};
    if (::lstat(source.c_str(), &staged) != 0) {
      return false;
    }
    // A directory reached through a link takes the staged files too.
    const bool merge =
        S_ISDIR(staged.st_mode) && ::stat(target.c_str(), &there) == 0 && S_ISDIR(there.st_mode);
    if (merge ? !MoveTree(source, target) : ::rename(source.c_str(), target.c_str()) != 0) {
      return false;
    }
  }
  return true;
}

std::string SignatureFileName(const std::string& appl_name) {
  return HeaderFileName(appl_name) + std::string(kSignatureSuffix);
}

// Moves whatever a begun publication still holds into |put_to|, the header
// and then the install page last, and removes the staging directory.
//
// The new signature goes before the new header: a client reads the header
// and then its signature, and a publication cut between the two renames
// (until the next seal finishes it) then serves the earlier header with a
// signature that does not match it, which every client refuses. The other
// order would serve the new header with the earlier signature or, on the
// first signed seal, with none, which a client that never pinned a key
// takes unsigned. A signature being dropped goes first for the same reason:
// the earlier header without its signature is refused by every client that
// pinned the key, and what the others install is the package they had.
// The install page tells the version the header holds, so it follows it.
bool FinishPublication(const std::string& directory, const std::string& put_to,
                       const std::string& appl_name) {
  const std::string files = directory + "/" + kFilesDirectory;
  if (IsDirectory(files) && !MoveTree(files, put_to)) {
    return false;
  }
  const std::string header = directory + "/" + HeaderFileName(appl_name);
  const std::string signature = directory + "/" + SignatureFileName(appl_name);
  const std::string published_signature = put_to + "/" + SignatureFileName(appl_name);
  if (PathExists(signature)) {
    // The stored files' new names are on disk before the signature names them.
    SyncDirectory(put_to);
    if (::rename(signature.c_str(), published_signature.c_str()) != 0) {
      return false;
    }
  } else if (PathExists(directory + "/" + kUnsignMarker)) {
    if (::unlink(published_signature.c_str()) != 0 && errno != ENOENT) {
      return false;
    }
  }
  if (PathExists(header)) {
    // The stored files' and the signature's new names are on disk before the
    // header names them.
    SyncDirectory(put_to);
    if (::rename(header.c_str(), (put_to + "/" + HeaderFileName(appl_name)).c_str()) != 0) {
      return false;
    }
  }
  const std::string page = directory + "/" + InstallPageFileName(appl_name);
  if (PathExists(page) &&
      ::rename(page.c_str(), (put_to + "/" + InstallPageFileName(appl_name)).c_str()) != 0) {
    return false;
  }
  SyncDirectory(put_to);
  return RemoveDirectoryTree(directory, {}, true);
}

// Puts the staged files |staged| (relative to |files|), the header, the
// signature and the install page when staged, and the directories that
// name them on the disk: one by one when they are few, as after a small
// change, else with one sync of the whole file system.
bool SyncStaged(const std::string& directory, const std::string& files,
                const std::vector<std::string>& staged, const std::string& header,
                const std::string& signature, const std::string& page) {
  if (staged.size() > kSyncOneByOne) {
    const FileDescriptor fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return fd.is_open() && ::syncfs(fd.get()) == 0;
  }
  std::set<std::string> directories = {directory, files};
  bool synced = SyncPath(header, O_RDONLY) &&
                (!PathExists(signature) || SyncPath(signature, O_RDONLY)) &&
                (!PathExists(page) || SyncPath(page, O_RDONLY));
  for (const std::string& relative : staged) {
    synced = synced && SyncPath(files + "/" + relative, O_RDONLY);
    for (size_t slash = relative.find('/'); slash != std::string::npos;
         slash = relative.find('/', slash + 1)) {
      directories.insert(files + "/" + relative.substr(0, slash));
    }
  }
  for (const std::string& path : directories) {
    synced = synced && SyncDirectory(path);
  }
  return synced;
}

// Removes the temporary headers ".NAME.qxw.XXXXXX" that a killed run of an
// earlier version left beside the header.
void RemoveTemporaryHeaders(const std::string& put_to, const std::string& appl_name) {
  const std::string prefix = "." + HeaderFileName(appl_name) + ".";
  std::vector<std::string> names;
  ListNames(put_to, names);
  for (const std::string& name : names) {
    if (name.size() == prefix.size() + kTemporarySuffixLength && name.rfind(prefix, 0) == 0) {
      ::unlink((put_to + "/" + name).c_str());
    }
  }
}

}  // namespace

std::string StagingDirectoryName(std::string_view appl_name) {
  return "." + std::string(appl_name) + ".seal";
}

Result<void> RecoverSealStaging(const std::string& put_to, const std::string& appl_name) {
  RemoveTemporaryHeaders(put_to, appl_name);
  const std::string directory = put_to + "/" + StagingDirectoryName(appl_name);
  struct stat info {};
  if (::lstat(directory.c_str(), &info) != 0) {
    return {};
  }
  if (!S_ISDIR(info.st_mode)) {
    if (::unlink(directory.c_str()) == 0) {
      return {};
    }
  } else if (PathExists(directory + "/" + kPublishMarker)) {
    if (FinishPublication(directory, put_to, appl_name)) {
      return {};
    }
    return SealFailure("Unable to finish publishing the package begun in " + directory);
  } else if (RemoveDirectoryTree(directory, {}, true)) {
    return {};
  }
  return SealFailure("Unable to remove " + directory + " left by an earlier seal");
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

Result<void> SealStaging::Begin() {
  lock_ = ::open(NativeSeparators(put_to_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (lock_ < 0) {
    return SealFailure("Unable to open " + put_to_ + " directory");
  }
  // Two seals into one directory would remove each other's staging.
  if (::flock(lock_, LOCK_EX | LOCK_NB) != 0) {
    return SealFailure("Another seal is writing into " + put_to_);
  }
  if (Result<void> recovered = RecoverSealStaging(NativeSeparators(put_to_), appl_name_);
      !recovered) {
    return recovered;
  }
  if (::mkdir(directory_.c_str(), 0755) != 0 ||
      ::mkdir((directory_ + "/" + kFilesDirectory).c_str(), 0755) != 0) {
    return SealFailure("Unable to create sub-directory for " + directory_);
  }
  begun_ = true;
  return {};
}

std::string SealStaging::SignaturePath() const {
  return directory_ + "/" + SignatureFileName(appl_name_);
}

std::string SealStaging::InstallPagePath() const {
  return directory_ + "/" + InstallPageFileName(appl_name_);
}

std::string SealStaging::StagedPath(std::string_view name) const {
  return JoinNativePath(directory_ + "/" + kFilesDirectory, name);
}

Result<void> SealStaging::Publish() {
  const std::string files = directory_ + "/" + kFilesDirectory;
  const std::string put_to = NativeSeparators(put_to_);
  std::vector<std::string> staged;
  if (!ListStagedFiles(files, "", staged)) {
    return SealFailure("Unable to read " + files);
  }
  std::string refusal;
  auto refused = [&](const std::string& relative) {
    const std::string obstacle = PublishObstacle(put_to, relative);
    if (!obstacle.empty()) {
      refusal = "Unable to publish " + relative + ": " + obstacle;
    }
    return !obstacle.empty();
  };
  if (std::any_of(staged.begin(), staged.end(), refused) || refused(HeaderFileName(appl_name_)) ||
      refused(SignatureFileName(appl_name_)) ||
      (PathExists(InstallPagePath()) && refused(InstallPageFileName(appl_name_)))) {
    return SealFailure(refusal);
  }
  // Every staged byte is on disk before the marker makes the publication
  // one that must be finished.
  if (drop_signature_) {
    const FileDescriptor unsign(::open((directory_ + "/" + kUnsignMarker).c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (!unsign.is_open()) {
      return SealFailure("Unable to create " + directory_ + "/" + kUnsignMarker);
    }
  }
  if (!SyncStaged(directory_, files, staged, header_path_, SignaturePath(), InstallPagePath())) {
    return SealFailure("Unable to write the staged files of " + directory_ + " to the disk");
  }
  const std::string marker = directory_ + "/" + kPublishMarker;
  const FileDescriptor fd(::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd.is_open() || ::fsync(fd.get()) != 0 || !SyncDirectory(directory_)) {
    return SealFailure("Unable to create " + marker);
  }
  publishing_ = true;
  if (!FinishPublication(directory_, put_to, appl_name_)) {
    return SealFailure("Unable to publish the package into " + put_to_ +
                       "; the next seal finishes the publication");
  }
  begun_ = false;
  return {};
}

}  // namespace qx
