// What the client does to a package directory on disk: making it, writing
// its header, temporary files, expansion, deletion, time stamps. Package layer.
#include "core/package/package_directory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <optional>
#include <string_view>

#include "core/cache/cache_registry.h"
#include "core/cache/cache_root.h"
#include "core/compress/codec.h"
#include "core/format/header_lines.h"
#include "core/format/header_writer.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/file_times.h"
#include "core/fsutil/path_text.h"
#include "core/platform/config_directory.h"
#include "core/platform/file_handle.h"
#include "core/platform/replacing_file.h"

namespace qx {

namespace {

// Temporary names tried before MakeTempFileName gives up; names change with
// the millisecond tick, so a clash clears within a few tries.
constexpr int kMaxTempNameTries = 100000;

bool PathExists(const std::string& path) {
  struct stat info;
  return ::lstat(path.c_str(), &info) == 0;
}

bool HasDrive(std::string_view path) {
  return path.size() >= 2 && path[1] == ':';
}

// "InstallTo\ApplName" (or "ApplName"), the package's place under the root.
std::string RelativePackageDirectory(const HeaderValues& values) {
  std::string relative;
  if (!values.install_to.empty()) {
    AppendNeutralPath("\\", relative, values.neutral_install_to);
    relative += '\\';
  }
  relative += values.appl_name;
  return relative;
}

// A new file of mode 0666 less the umask, never one that exists already.
FilePtr CreateNewFile(const std::string& path, int& fd_out) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  fd_out = fd;
  if (fd < 0) {
    return nullptr;
  }
  FilePtr file(::fdopen(fd, "wb"));
  if (!file) {
    ::close(fd);
    ::unlink(path.c_str());
  }
  return file;
}

// The configured temporary directory, or empty. Only an absolute path
// counts: a relative one would depend on where the caller happens to be.
std::string TempDirectory() {
  std::string directory;
  if (ReadTempDirSetting(kTempDirSettingSize, &directory) == 0 || directory.empty() ||
      directory.front() != '/') {
    return {};
  }
  return NativeSeparators(directory);
}

// Whether emptying |directory| would take the client's own files with it:
// its settings (which name the temporary directory) or its cache.
bool HoldsClientFiles(const std::string& directory) {
  for (const std::string& own : {ConfigDirectory(), GetCacheRoot()}) {
    if (!own.empty() && IsSameOrInsideDirectory(own, directory)) {
      return true;
    }
  }
  return false;
}

// The temporary directory as the file system names it, for emptying it; empty
// when there is none, or it is the root or holds the client's own files. A
// directory has many spellings ("//", "/.", "/tmp/..", a link), so the tests
// are made on the resolved path, which is also the one emptied.
std::string TempDirectoryToClear() {
  const std::string directory = TempDirectory();
  if (directory.empty()) {
    return {};
  }
  const std::string resolved = ResolvedPath(directory);
  if (resolved.empty() || resolved == "/" || HoldsClientFiles(resolved)) {
    return {};
  }
  return resolved;
}

}  // namespace

int EnsurePackageDirectory(std::string_view root, std::string_view relative, bool whole) {
  if (HasDrive(relative)) {
    return kPackageOk;  // made for another system; nothing to do here
  }
  if (!DirectoryExists(root)) {
    return kPackageFailed;
  }
  if (relative.empty()) {
    return kPackageOk;  // the root itself, which exists
  }
  if (!whole) {
    const size_t separator = relative.find_last_of("\\/");
    if (separator == std::string_view::npos) {
      return kPackageOk;
    }
    relative = relative.substr(0, separator);
  }
  if (!IsSafeRelativeName(relative)) {
    return kPackageFailed;
  }
  std::string path = JoinNativePath(root, relative);
  return CreateDirectoryPath(path) ? kPackageOk : kPackageFailed;
}

int WritePackageHeader(const PackageHeader* record) {
  if (record == nullptr) {
    return kPackageFailed;
  }
  const HeaderValues& values = record->values;
  if (record->package_directory.empty() || !IsSafeApplicationName(values.appl_name) ||
      (!values.install_to.empty() && !IsSafeRelativeName(values.install_to))) {
    return kPackageFailed;
  }
  try {
    if (EnsurePackageDirectory(GetCacheRoot(), RelativePackageDirectory(values), true) !=
            kPackageOk ||
        !DirectoryExists(record->package_directory)) {
      return kPackageFailed;
    }
    const std::string header_path = JoinNativePath(
        record->package_directory, values.appl_name + "." + std::string(kHeaderExtension));
    ReplacingFile file(header_path);
    if (file.Open() == nullptr || WriteHeaderText(file.file(), *record) != kHeaderOk ||
        !file.Commit(true)) {
      return kPackageFailed;
    }
    return kPackageOk;
  } catch (const std::bad_alloc&) {
    return kPackageFailed;
  }
}

bool MakeClientTempDirectory(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
    return false;
  }
  const std::string mark = JoinNativePath(path, kTempDirectoryMark);
  const int fd = ::open(mark.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd >= 0) {
    ::close(fd);
  }
  return IsClientTempDirectory(path);
}

bool IsClientTempDirectory(const std::string& path) {
  struct stat info {};
  struct stat mark {};
  return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
         (info.st_mode & 077) == 0 &&
         ::lstat(JoinNativePath(path, kTempDirectoryMark).c_str(), &mark) == 0 &&
         S_ISREG(mark.st_mode);
}

int ClearTempDirectory() {
  try {
    const std::string directory = TempDirectoryToClear();
    if (directory.empty() || !IsClientTempDirectory(directory)) {
      return 0;
    }
    // Everything but the mark goes; a listing that fails leaves the rest.
    const auto close = [](DIR* dir) { ::closedir(dir); };
    const std::unique_ptr<DIR, decltype(close)> dir(::opendir(directory.c_str()), close);
    if (!dir) {
      return 0;
    }
    bool emptied = true;
    for (const dirent* entry = nullptr; (entry = ::readdir(dir.get())) != nullptr;) {
      const std::string_view name = entry->d_name;
      if (name == "." || name == ".." || name == kTempDirectoryMark) {
        continue;
      }
      const std::string path = directory + "/" + std::string(name);
      struct stat info {};
      if (::lstat(path.c_str(), &info) != 0) {
        continue;
      }
      emptied = (S_ISDIR(info.st_mode) ? RemoveDirectoryTree(path, TreeCallback(), true)
                                       : ::unlink(path.c_str()) == 0) &&
                emptied;
    }
    return emptied ? 1 : 0;
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

std::string MakeTempFileName(size_t length) {
  try {
    std::string directory = TempDirectory();
    if (directory.empty()) {
      return {};
    }
    directory += '/';
    for (int tries = 0; tries < kMaxTempNameTries; ++tries) {
      std::string path = directory + MakeTempName();
      if (PathExists(path)) {
        continue;
      }
      // A cut path would name some other file.
      return path.size() < length ? path : std::string();
    }
  } catch (const std::bad_alloc&) {
  }
  return {};
}

int ExpandEntryToTemp(const PackageHeader* record, FileEntry* entry) {
  if (record == nullptr || entry == nullptr || entry->comment ||
      entry->state == kEntryStateComment || record->package_directory.empty() ||
      !IsSafeRelativeName(entry->name)) {
    return kPackageFailed;
  }
  try {
    const std::string stored_path = JoinNativePath(record->package_directory, entry->name);
    // Another process may take the name between the check and the open:
    // the open refuses an existing file, and a fresh name is tried.
    FilePtr output;
    std::string temp_path;
    for (int tries = 0; tries < kMaxTempNameTries && !output; ++tries) {
      temp_path = MakeTempFileName(kTempPathSize);
      if (temp_path.empty()) {
        return kPackageFailed;
      }
      int fd = -1;
      output = CreateNewFile(temp_path, fd);
      if (!output && errno != EEXIST) {
        return kPackageFailed;
      }
    }
    if (!output) {
      return kPackageFailed;
    }
    FilePtr input(std::fopen(stored_path.c_str(), "rb"));
    int result = kPackageFailed;
    if (input && CompressFile(input.get(), output.get(), false, nullptr, nullptr, nullptr, 0,
                              nullptr) == kCodecOk) {
      result = kPackageOk;
    }
    if (std::fclose(output.release()) != 0) {
      result = kPackageFailed;
    }
    if (result != kPackageOk) {
      ::unlink(temp_path.c_str());
      entry->temp_path.clear();
      return kPackageFailed;
    }
    entry->temp_path = temp_path;
    return kPackageOk;
  } catch (const std::bad_alloc&) {
    return kPackageFailed;
  }
}

int DeleteFileAndEmptyParents(std::string_view path, bool prune) {
  std::string walk(path);
  const int deleted = ::unlink(walk.c_str()) == 0 ? 1 : 0;
  if (!prune || deleted == 0) {
    return deleted;
  }
  // Never cut at position 0: the root itself is not a parent to remove.
  for (size_t cut = walk.find_last_of("\\/"); cut != std::string::npos && cut > 0;
       cut = walk.find_last_of("\\/")) {
    walk.resize(cut);
    if (::rmdir(walk.c_str()) != 0) {
      break;
    }
  }
  return deleted;
}

int SetFileTimeFromEntry(std::string_view path, int32_t day, int32_t month, int32_t year,
                         int32_t hours, int32_t minutes, int32_t seconds) {
  const std::string native(path);
  // Only a regular file takes an entry's time. Opening a FIFO for writing
  // would wait for a reader, and a device may act on being opened: the path
  // is looked at first, and what was opened is looked at again in case the
  // path changed in between.
  struct stat info {};
  if (::stat(native.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  const int fd = ::open(native.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    return -1;
  }
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return -1;
  }
  int result = 0;
  if (const std::optional<time_t> when = DosEntryTime(day, month, year, hours, minutes, seconds)) {
    const struct timespec times[2] = {{*when, 0}, {*when, 0}};
    result = ::futimens(fd, times) == 0 ? 1 : 0;
  }
  ::close(fd);
  return result;
}

}  // namespace qx
