// The client's cache of applications over the cache registry, registration
// and launch. Client.
#include "client/client_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>

#include "client/cache_staging.h"
#include "client/package_check.h"
#include "core/cache/cache_root.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/file_copy.h"
#include "core/fsutil/path_text.h"
#include "core/launch/launch.h"
#include "core/launch/registration.h"
#include "core/platform/config_directory.h"
#include "core/platform/list_box.h"
#include "core/platform/private_profile.h"
#include "core/platform/registry_store.h"

namespace qx {

namespace {

// Characters of the Root setting as it is read, terminating zero included.
constexpr size_t kRootSettingSize = kMaxCacheRoot + 1;

// The owner handle of the client's boxes: the client has no window.
constexpr WindowHandle kNoWindow = nullptr;

// Copies the header and every stored file it lists into |staging|. A file
// that cannot be copied is left out; the check of the staged package names it.
void CopyPackage(const std::string& header_path, const PackageHeader& record,
                 const std::string& staging) {
  const std::string source = DirectoryOf(header_path);
  CopyFilePlain(header_path, JoinNativePath(staging, HeaderFileName(record.values.appl_name)));
  for (const auto& entry : record.entries) {
    if (entry->comment || entry->state == kEntryStateComment) {
      continue;
    }
    const std::string target = JoinNativePath(staging, entry->name);
    std::string directory = DirectoryOf(target);
    if (CreateDirectoryPath(directory)) {
      CopyFilePlain(JoinNativePath(source, entry->name), target);
    }
  }
}

CachedApplication RecordOf(const std::string& name, const HeaderValues& values,
                           const PackageHeader& record) {
  CachedApplication application;
  application.name = name;
  application.owner = values.owner;
  application.copyright = values.copyright;
  application.version = FormatVersionText(values.version);
  application.command_line = values.command_line;
  application.readme = values.readme_file;
  application.delete_mark = std::string(kNo);
  for (const auto& entry : record.entries) {
    if (!entry->comment && entry->state != kEntryStateComment) {
      application.compressed_size += entry->length;
      application.uncompressed_size += entry->size;
    }
  }
  return application;
}

// Removes a registration when there is one; a missing one is no failure.
bool Unregister(const std::string& name) {
  return !RegistryStore().KeyExists(ApplicationKeyPath(name)) ||
         UnregisterApplication(kNoWindow, name) == 1;
}

}  // namespace

std::string_view LastPart(std::string_view name) {
  const size_t separator = name.find_last_of("\\/");
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
}

void PruneEmptyParents(const std::string& root, std::string directory) {
  for (directory = DirectoryOf(directory);
       directory.size() > root.size() && IsSameOrInsideDirectory(directory, root) &&
       !IsSameOrInsideDirectory(root, directory);
       directory = DirectoryOf(directory)) {
    if (::rmdir(directory.c_str()) != 0) {
      break;
    }
  }
}

void SyncFileSystem(const std::string& directory) {
  const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::syncfs(fd);
    ::close(fd);
  }
}

bool PlaceInCache(const std::string& root, const HeaderValues& values, InstallOutcome& outcome) {
  outcome.name = CacheNameOf(values);
  outcome.directory = CachedApplicationDirectory(root, outcome.name);
  std::string parent = DirectoryOf(outcome.directory);
  if (outcome.directory.empty() || !CreateDirectoryPath(parent)) {
    outcome.problems.push_back("cannot create the directory " + parent + " in the cache");
    return false;
  }
  return true;
}

void RecordAndRegister(const PackageHeader& record, bool stored_form, InstallOutcome& outcome) {
  const HeaderValues& values = record.values;
  CachedApplication application = RecordOf(outcome.name, values, record);
  application.compressed = std::string(stored_form ? kYes : kNo);
  if (AddOrUpdateApplication(application) != 1) {
    outcome.problems.push_back("the cache registry could not be written");
  }
  const std::string description = values.comment.empty() ? values.appl_name : values.comment;
  if (RegisterApplication(kNoWindow, outcome.name, values.install_to,
                          FormatVersionText(values.version), description) != 1) {
    outcome.problems.push_back("the application could not be registered");
  }
}

std::string DefaultCacheRoot() {
  const std::string data = DataDirectory();
  return data.empty() ? std::string() : data + "cache";
}

std::string PrepareClientCache(std::string* error) {
  if (CacheFilePath().empty()) {
    *error = "no configuration directory: neither XDG_CONFIG_HOME nor HOME is an absolute path";
    return {};
  }
  std::string root;
  if (ReadRootSetting(kRootSettingSize, &root) == 0 || root.empty()) {
    root = DefaultCacheRoot();
    std::string stored = root;
    WriteRootSetting(&stored);
  }
  std::string temp;
  if (ReadTempDirSetting(kTempDirSettingSize, &temp) == 0) {
    temp = TempDirFromEnvironment();
    WriteTempDirSetting(&temp);
  }
  if (root.empty() || root.front() != '/') {
    *error = "the cache root \"" + root + "\" is not an absolute path";
    return {};
  }
  std::string made = root;
  if (!CreateDirectoryPath(made)) {
    *error = "cannot create the cache root " + made + ": " + std::strerror(errno);
    return {};
  }
  SetCacheRoot(root);
  return root;
}

std::string ChangeCacheRoot(const std::string& path) {
  if (path.empty() || path.front() != '/') {
    return "the cache root must be an absolute path";
  }
  std::string error;
  const std::string root = PrepareClientCache(&error);
  if (root.empty()) {
    return error;
  }
  std::string wanted = path;
  StripTrailingBackslash(wanted);
  if (wanted != root && !ListedApplications().empty()) {
    return "applications are cached under " + root +
           "; remove them before the cache root is changed";
  }
  WriteRootSetting(&wanted);
  std::string check;
  ReadRootSetting(kRootSettingSize, &check);
  return check == wanted ? std::string() : "the cache registry could not be written";
}

std::string CacheNameOf(const HeaderValues& values) {
  std::string name;
  AppendNeutralPath("\\", name, values.neutral_install_to);
  name += '\\';
  name += values.appl_name;
  return name;
}

std::vector<std::string> ListedApplications() {
  std::vector<std::string> names;
  int count = 0;
  ReadApplCount(&count);
  for (int index = 1; index <= count; ++index) {
    std::string name;
    if (GetApplicationName(index, &name) == 1 && !name.empty()) {
      names.push_back(name);
    }
  }
  return names;
}

std::string FindCachedApplication(std::string_view typed, std::string* error) {
  const std::vector<std::string> names = ListedApplications();
  std::vector<std::string> by_last_part;
  for (const std::string& name : names) {
    if (ProfileNamesEqual(name, typed)) {
      return name;
    }
    if (ProfileNamesEqual(LastPart(name), typed)) {
      by_last_part.push_back(name);
    }
  }
  if (by_last_part.size() == 1) {
    return by_last_part.front();
  }
  if (by_last_part.empty()) {
    *error = "no cached application is named \"" + PrintableText(typed) + "\"";
  } else {
    *error = "\"" + PrintableText(typed) + "\" names " + std::to_string(by_last_part.size()) +
             " cached applications; give the whole name:";
    for (const std::string& name : by_last_part) {
      *error += " \"" + PrintableText(name) + "\"";
    }
  }
  return {};
}

namespace {

// Copies the package into a staging directory beside its place, checks the
// copy and switches it in. Fills the outcome's files, replaced and problems.
void StageAndSwitch(const std::string& header_path, const PackageHeader& record,
                    InstallOutcome& outcome, std::unique_ptr<PackageHeader>& staged) {
  StagingDirectory staging(outcome.directory);
  if (staging.path().empty()) {
    outcome.problems.push_back("cannot create a staging directory beside " + outcome.directory +
                               ": " + std::strerror(errno));
    return;
  }
  CopyPackage(header_path, record, staging.path());
  // What is checked is what was copied: a source changed in between fails.
  PackageCheck check =
      CheckPackage(JoinNativePath(staging.path(), HeaderFileName(record.values.appl_name)));
  outcome.problems = check.problems;
  if (outcome.problems.empty() && CacheNameOf(check.record->values) != outcome.name) {
    outcome.problems.push_back(header_path + ": changed while it was installed");
  }
  if (!outcome.problems.empty()) {
    return;
  }
  outcome.files = check.stored_files;
  SyncFileSystem(staging.path());
  if (!staging.SwitchInto(outcome.directory, &outcome.replaced)) {
    outcome.problems.push_back("cannot move the package into " + outcome.directory + ": " +
                               std::strerror(errno));
    return;
  }
  staged = std::move(check.record);
}

}  // namespace

InstallOutcome InstallPackage(const std::string& root, const std::string& header_path) {
  InstallOutcome outcome;
  // The names decide where the package goes; nothing is made for a header
  // that fails already.
  std::unique_ptr<PackageHeader> record = ReadHeaderFile(header_path, outcome.problems);
  if (record) {
    CheckEntryNames(*record, outcome.problems);
  }
  if (!record || !outcome.problems.empty() || !PlaceInCache(root, record->values, outcome)) {
    return outcome;
  }
  std::unique_ptr<PackageHeader> staged;
  StageAndSwitch(header_path, *record, outcome, staged);
  if (!staged) {
    PruneEmptyParents(root, outcome.directory);
    return outcome;
  }
  RecordAndRegister(*staged, true, outcome);
  return outcome;
}

std::vector<std::string> RemoveCachedApplication(const std::string& root, const std::string& name) {
  std::vector<std::string> problems;
  const std::string directory = CachedApplicationDirectory(root, name);
  if (directory.empty()) {
    problems.push_back("\"" + PrintableText(name) +
                       "\" does not name a directory in the cache; its files are left alone");
  } else if (DirectoryExists(directory)) {
    if (!RemoveDirectoryTree(directory, TreeCallback(), true)) {
      problems.push_back("cannot remove " + directory + ": " + std::strerror(errno));
      return problems;  // still listed, so that a later removal can finish
    }
    PruneEmptyParents(root, directory);
  }
  if (RemoveApplicationEntry(name, -1, nullptr) != 1) {
    problems.push_back("\"" + PrintableText(name) + "\" is not listed");
  }
  if (!Unregister(name)) {
    problems.push_back("the registration could not be removed");
  }
  return problems;
}

std::vector<std::string> SweepCachedApplications(const std::string& root) {
  std::vector<std::string> marked;
  for (const std::string& name : ListedApplications()) {
    std::string mark;
    ReadDeleteCacheSetting(name, kCachedDeleteMarkSize, &mark);
    if (mark == kYes) {
      marked.push_back(name);
    }
  }
  MemoryListBox list_box;
  CacheState state;
  LoadApplicationList(&list_box, &state);
  std::vector<std::string> removed;
  for (const std::string& name : marked) {
    if (FindApplication(name, nullptr) == -1) {
      Unregister(name);
      const std::string directory = CachedApplicationDirectory(root, name);
      if (!directory.empty()) {
        PruneEmptyParents(root, directory);
      }
      removed.push_back(name);
    }
  }
  return removed;
}

LaunchOutcome LaunchCachedApplication(const std::string& root, const std::string& name,
                                      const std::vector<std::string>& arguments) {
  LaunchOutcome outcome;
  const std::string directory = CachedApplicationDirectory(root, name);
  if (directory.empty()) {
    outcome.problems.push_back("\"" + PrintableText(name) +
                               "\" does not name a directory in the cache");
    return outcome;
  }
  CachedApplication application;
  application.name = name;
  ReadApplication(name, &application);
  std::unique_ptr<PackageHeader> record =
      ReadHeaderFile(JoinNativePath(directory, HeaderFileName(LastPart(name))), outcome.problems);
  if (!record || !outcome.problems.empty()) {
    return outcome;
  }
  record->package_directory = directory;
  record->stored_form = application.compressed == kYes;
  // Stored files are checked before they are expanded and run; expanded
  // ones no longer have the digests the header gives.
  if (record->stored_form) {
    CheckStoredFiles(*record, outcome.problems);
    if (!outcome.problems.empty()) {
      return outcome;
    }
  }
  LaunchOptions options;
  options.extra_arguments = arguments;
  options.process = &outcome.pid;
  // The client has no window; the launch asks for an owner all the same.
  static const char kConsoleOwner = 0;
  outcome.result = LaunchApplication(&kConsoleOwner, record.get(), options);
  if (record->stored_form && outcome.result != kLaunchExpandFailed) {
    application.compressed = std::string(kNo);
    SaveLaunchSettings(application);
  }
  return outcome;
}

}  // namespace qx
