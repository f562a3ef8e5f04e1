// Launch of a cached application: expansion of the stored files in place,
// the program confined to the package directory and started without a
// shell, and the bitmap size check. Launch layer.
#include "core/launch/launch.h"

#include <sys/stat.h>

#include <cerrno>
#include <new>
#include <string_view>

#include "core/fsutil/directory_tree.h"
#include "core/fsutil/file_copy.h"
#include "core/fsutil/path_text.h"
#include "core/package/package_directory.h"

namespace qx {

namespace {

constexpr std::string_view kCommandBlanks = " \t";

// Comment entries and the header's named files were never compressed, so
// they have no stored form to expand.
bool HasStoredForm(const HeaderValues& values, const FileEntry& entry) {
  return !entry.comment && entry.state != kEntryStateComment &&
         !IsNamedFileEntry(values, entry.name);
}

bool HasParentComponent(std::string_view path) {
  size_t start = 0;
  for (;;) {
    const size_t end = path.find_first_of("\\/", start);
    if (path.substr(start, end == std::string_view::npos ? end : end - start) == "..") {
      return true;
    }
    if (end == std::string_view::npos) {
      return false;
    }
    start = end + 1;
  }
}

// The program's real path inside the package directory, or the start error.
// A header comes from a download: its command line must not run anything
// outside the package, neither by its text nor through a link in it.
int ResolveProgram(const PackageHeader& record, std::string_view program, std::string* path) {
  if (record.package_directory.empty() || IsPathSeparator(program.front()) ||
      (program.size() >= 2 && program[1] == ':') || HasParentComponent(program)) {
    return kStartAccessDenied;
  }
  const std::string package = ResolvedPath(record.package_directory);
  if (package.empty()) {
    return kStartNotFound;
  }
  const std::string resolved =
      ResolvedPath(JoinNativePath(record.package_directory, NativeSeparators(program)));
  if (resolved.empty()) {
    return errno == ENOENT || errno == ENOTDIR ? kStartNotFound : kStartAccessDenied;
  }
  if (resolved == package || !IsSameOrInsideDirectory(resolved, package)) {
    return kStartAccessDenied;
  }
  *path = resolved;
  return 0;
}

// Packages carry no file modes, so an expanded program arrives without its
// execute bits: give them back where the file can be read.
void MakeRunnable(const std::string& path) {
  struct stat info;
  if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || (info.st_mode & S_IXUSR)) {
    return;
  }
  mode_t mode = (info.st_mode & 07777) | S_IXUSR;
  if (mode & S_IRGRP) {
    mode |= S_IXGRP;
  }
  if (mode & S_IROTH) {
    mode |= S_IXOTH;
  }
  // When this fails, the start says so.
  ::chmod(path.c_str(), mode);
}

}  // namespace

int ExpandStoredFiles(PackageHeader* record) {
  bool failed = false;
  for (const auto& entry : record->entries) {
    if (!entry) {
      continue;
    }
    entry->temp_path.clear();
    if (!failed && HasStoredForm(record->values, *entry) &&
        ExpandEntryToTemp(record, entry.get()) != kPackageOk) {
      failed = true;
    }
  }
  for (const auto& entry : record->entries) {
    if (!entry || entry->temp_path.empty()) {
      continue;
    }
    // The very file the expansion read, whose name it found safe. A copy
    // that breaks off (a full disk) leaves a broken file: that is a failure
    // of the launch, not a start of a damaged program.
    if (!failed && CopyFilePlain(entry->temp_path, JoinNativePath(record->package_directory,
                                                                  entry->name)) != kFileCopyOk) {
      failed = true;
    }
    DeleteFileAndEmptyParents(entry->temp_path, false);
  }
  return failed ? kLaunchExpandFailed : kPackageOk;
}

int LaunchApplication(WindowHandle owner, PackageHeader* record, const LaunchOptions& options) {
  if (owner == nullptr || record == nullptr) {
    return kLaunchRefused;
  }
  try {
    if (record->stored_form && ExpandStoredFiles(record) != kPackageOk) {
      return kLaunchExpandFailed;
    }
    std::string_view command = record->values.command_line;
    const size_t first = command.find_first_not_of(kCommandBlanks);
    if (first == std::string_view::npos) {
      return kStartNothing;
    }
    command.remove_prefix(first);
    const size_t blank = command.find_first_of(kCommandBlanks);
    const std::string_view program = command.substr(0, blank);
    const std::string_view parameters =
        blank == std::string_view::npos ? std::string_view() : command.substr(blank + 1);

    std::string path;
    if (const int refused = ResolveProgram(*record, program, &path); refused != 0) {
      return refused;
    }
    MakeRunnable(path);
    std::vector<std::string> arguments = SplitParameters(parameters);
    arguments.insert(arguments.end(), options.extra_arguments.begin(),
                     options.extra_arguments.end());
    // The package directory becomes the child's working directory only: the
    // caller's is shared by all its threads.
    return StartProgram(path, arguments, record->package_directory, options.process);
  } catch (const std::bad_alloc&) {
    return kLaunchRefused;
  }
}

int CheckBitmapSize(ModuleHandle module, const char* name, int width, int height) {
  if (module < kFirstModuleHandle || name == nullptr) {
    return -1;
  }
  const std::shared_ptr<const BitmapSource> source = FindBitmapModule(module);
  Bitmap bitmap;
  if (!source || !source->Load(name, bitmap)) {
    return -1;
  }
  return bitmap.width == width && bitmap.height == height ? 0 : -1;
}

}  // namespace qx
