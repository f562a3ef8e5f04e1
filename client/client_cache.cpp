// The client's cache of applications over the cache registry, registration
// and launch, each change a transaction under the client's lock. Client.
#include "client/client_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "client/cache_area.h"
#include "client/cache_transaction.h"
#include "client/desktop_entry.h"
#include "client/package_check.h"
#include "client/signature_check.h"
#include "core/cache/cache_registry.h"
#include "core/cache/cache_root.h"
#include "core/cache/registry_names.h"
#include "core/compress/codec.h"
#include "core/format/package_paths.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/disk_space.h"
#include "core/fsutil/file_copy.h"
#include "core/fsutil/path_text.h"
#include "core/launch/launch.h"
#include "core/launch/registration.h"
#include "core/package/package_directory.h"
#include "core/package/stored_expansion.h"
#include "core/platform/config_directory.h"
#include "core/platform/file_handle.h"
#include "core/platform/private_profile.h"
#include "core/platform/registry_store.h"
#include "core/platform/user_interface.h"
#include "core/signature/package_signature.h"

namespace qx {

namespace {

// Characters of the Root setting as it is read, terminating zero included.
constexpr size_t kRootSettingSize = kMaxCacheRoot + 1;
constexpr std::string_view kLockFileName = "qxweb.lock";
// Entries named when a root holds what the cache did not put there.
constexpr size_t kForeignShown = 5;

// The owner handle of the client's boxes: the client has no window.
constexpr WindowHandle kNoWindow = nullptr;

bool IsFileEntry(const FileEntry& entry) {
  return !entry.comment && entry.state != kEntryStateComment;
}

// Comment entries and the header's named files were never compressed.
bool HasStoredForm(const HeaderValues& values, const FileEntry& entry) {
  return IsFileEntry(entry) && !IsNamedFileEntry(values, entry.name);
}

std::string Shown(std::string_view name) {
  return "\"" + PrintableText(name) + "\"";
}

// "a, b, c" of the first few, with how many more there are.
std::string FirstFew(const std::vector<std::string>& items) {
  std::string text;
  for (size_t i = 0; i < items.size() && i < kForeignShown; ++i) {
    text += (i == 0 ? "" : ", ") + PrintableText(items[i]);
  }
  if (items.size() > kForeignShown) {
    text += ", ...";
  }
  return text;
}

// Makes the directory that |path|'s file goes into, inside a staging
// directory of the cache's own.
bool MakeDirectoryOf(const std::string& path) {
  std::string directory = DirectoryOf(path);
  return CreateDirectoryPath(directory);
}

// Copies the header and the stored files of the package at |header_path|
// into |staging|: regular files only, and of each no more than one byte past
// its Length, so that the check that follows sees a wrong length rather than
// the copy running on. Problems are added for what cannot be copied.
void CopyPackage(const std::string& header_path, const PackageHeader& record,
                 const std::string& staging, std::vector<std::string>& problems) {
  const std::string source = DirectoryOf(header_path);
  const auto copy = [&](const std::string& from, const std::string& to, int64_t length) {
    const int copied = CopyRegularFile(from, to, static_cast<uint64_t>(length) + 1);
    if (copied == kFileCopyNotRegular) {
      problems.push_back(from + ": not a regular file");
    } else if (copied != kFileCopyOk && copied != kFileCopySourceNotOpened) {
      problems.push_back(from + ": cannot be copied into " + staging + ": " + std::strerror(errno));
    }
  };
  const std::string header = JoinNativePath(staging, HeaderFileName(record.values.appl_name));
  copy(header_path, header, kHeaderSizeLimit);
  // A missing signature is no problem here: the signer's check decides.
  copy(header_path + std::string(kSignatureSuffix), header + std::string(kSignatureSuffix),
       static_cast<int64_t>(MaxSignatureBytes(record.entries.size())));
  for (const auto& entry : record.entries) {
    if (IsFileEntry(*entry)) {
      const std::string target = JoinNativePath(staging, entry->name);
      if (MakeDirectoryOf(target)) {
        copy(JoinNativePath(source, entry->name), target, std::max<int64_t>(entry->length, 0));
      }
    }
  }
}

CachedApplication RecordOf(const std::string& name, const PackageHeader& record) {
  const HeaderValues& values = record.values;
  CachedApplication application;
  application.name = name;
  application.owner = values.owner;
  application.copyright = values.copyright;
  application.version = FormatVersionText(values.version);
  application.command_line = values.command_line;
  application.readme = values.readme_file;
  application.delete_mark = std::string(kNo);
  for (const auto& entry : record.entries) {
    if (IsFileEntry(*entry)) {
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

// The package's place in the cache, checked under the lock; false, with a
// problem added, when the package may not go there.
bool Place(const ClientCache& cache, const std::string& name, Placement& placement,
           std::vector<std::string>& problems) {
  if (!cache.root_problem().empty()) {
    problems.push_back(cache.root_problem());
    return false;
  }
  const std::string refused =
      PlacePackage(cache.root(), name, ListedApplicationNames(), &placement);
  if (!refused.empty()) {
    problems.push_back(refused);
    return false;
  }
  return true;
}

// The first level between |root| and |directory| (not |directory| itself)
// that is not a directory of the cache's own; empty when there is none.
std::string LinkOnTheWay(const std::string& root, const std::string& directory) {
  for (size_t slash = directory.find('/', root.size() + 1); slash != std::string::npos;
       slash = directory.find('/', slash + 1)) {
    const std::string level = directory.substr(0, slash);
    struct stat info {};
    if (::lstat(level.c_str(), &info) == 0 && !S_ISDIR(info.st_mode)) {
      return level;
    }
  }
  return {};
}

// The bytes the stored files of |record| expand to.
uint64_t ExpandedBytes(const PackageHeader& record) {
  uint64_t bytes = 0;
  for (const auto& entry : record.entries) {
    if (IsFileEntry(*entry) && HasStoredForm(record.values, *entry)) {
      bytes += static_cast<uint64_t>(std::max<int64_t>(entry->size, 0));
    }
  }
  return bytes;
}

// The cached file the header's LaunchIcon names, when the package lists it.
std::string LaunchIconPath(const PackageHeader& record, const std::string& directory) {
  const HeaderValues& values = record.values;
  if (values.launch_icon.empty()) {
    return {};
  }
  const std::string wanted = NeutralPath(values.launch_icon);
  for (const auto& entry : record.entries) {
    if (IsFileEntry(*entry) && NeutralPath(entry->name) == wanted &&
        IsSafeRelativeName(entry->name)) {
      return JoinNativePath(directory, entry->name);
    }
  }
  return {};
}

// Writes the menu entry of the committed application |name|; what fails
// goes to |notes|.
void WriteMenuEntry(const std::string& name, const PackageHeader& record,
                    const std::string& directory, std::vector<std::string>& notes) {
  if (!DesktopEntriesWanted()) {
    return;
  }
  DesktopEntryFields fields;
  fields.cache_name = name;
  fields.appl_name = record.values.appl_name;
  fields.version = FormatVersionText(record.values.version);
  fields.owner = record.values.owner;
  const std::vector<std::string> failed =
      WriteDesktopEntry(std::move(fields), LaunchIconPath(record, directory));
  notes.insert(notes.end(), failed.begin(), failed.end());
}

}  // namespace

std::string FileBytes(const std::string& path) {
  std::string bytes;
  FilePtr file(std::fopen(path.c_str(), "rb"));
  char block[65536];
  for (size_t got = 0; file && (got = std::fread(block, 1, sizeof block, file.get())) > 0;) {
    bytes.append(block, got);
  }
  return bytes;
}

bool RoomFor(const std::string& directory, uint64_t bytes, std::vector<std::string>& problems) {
  if (bytes == 0 || CheckDiskSpace(directory, bytes) != kDiskSpaceShort) {
    return true;
  }
  problems.push_back("not enough free space in " + directory + " for the " + std::to_string(bytes) +
                     " bytes the files expand to");
  return false;
}

std::string DefaultCacheRoot() {
  const std::string data = DataDirectory();
  return data.empty() ? std::string() : data + "cache";
}

std::unique_ptr<ClientCache> ClientCache::Open(std::function<void()> waiting, std::string* error) {
  if (CacheFilePath().empty()) {
    *error = "no configuration directory: neither XDG_CONFIG_HOME nor HOME is an absolute path";
    return nullptr;
  }
  std::unique_ptr<ClientCache> cache(new ClientCache);
  cache->waiting_ = std::move(waiting);
  if (!cache->Lock(error)) {
    return nullptr;
  }
  cache->PrepareRoot();
  return cache;
}

bool ClientCache::Lock(std::string* error) {
  if (lock_.held()) {
    return true;
  }
  if (!lock_.Take(ConfigDirectory() + std::string(kLockFileName), waiting_, error)) {
    return false;
  }
  if (std::string failed = RecoverInterruptedSwitch(); !failed.empty()) {
    *error = std::move(failed);
    lock_.Release();
    return false;
  }
  RemoveAbandonedRecordFiles();
  return true;
}

void ClientCache::PrepareRoot() {
  // A list left damaged, or with one name twice, by earlier versions.
  detail::RepairApplicationList(true);
  root_problem_.clear();
  if (ReadRootSetting(kRootSettingSize, &root_) == 0 || root_.empty()) {
    root_ = DefaultCacheRoot();
    std::string stored = root_;
    WriteRootSetting(&stored);
  }
  SetCacheRoot(root_);
  if (root_.empty() || root_.front() != '/') {
    root_problem_ = "the cache root \"" + PrintableText(root_) + "\" is not an absolute path";
    return;
  }
  std::string made = root_;
  if (!CreateDirectoryPath(made)) {
    root_problem_ = "cannot create the cache root " + made + ": " + std::strerror(errno);
    return;
  }
  if (!IsTaggedCacheRoot(root_)) {
    // A root recorded before roots were tagged is taken over only when it
    // holds nothing but the listed applications.
    std::vector<std::string> left_over;
    const std::vector<std::string> foreign =
        ForeignEntries(root_, ListedApplicationNames(), kForeignShown + 1, &left_over);
    if (!foreign.empty()) {
      root_problem_ = "the cache root " + root_ + " holds files the cache did not put there (" +
                      FirstFew(foreign) +
                      "); nothing is put into it until they are moved out, or until the cached "
                      "applications are removed and another root is chosen with qxweb cache "
                      "root DIR";
      return;
    }
    for (const std::string& path : left_over) {
      RemoveWithoutFollowing(path);
    }
  }
  if (std::string failed = TagCacheRoot(root_); !failed.empty()) {
    root_problem_ = std::move(failed);
    return;
  }
  std::string temp = CacheTempDirectory(root_);
  std::string recorded;
  if (ReadTempDirSetting(kTempDirSettingSize, &recorded) == 0 || recorded != temp) {
    WriteTempDirSetting(&temp);
  }
  ClearTempDirectory();
  RemoveAbandonedWorkDirectories(root_);
}

std::string ClientCache::ChangeRoot(const std::string& path) {
  if (path.empty() || path.front() != '/') {
    return "the cache root must be an absolute path";
  }
  for (const char c : path) {
    if (IsControlCharacter(c)) {
      return "the cache root must not hold control characters";
    }
  }
  std::string wanted = path;
  while (wanted.size() > 1 && wanted.back() == '/') {
    wanted.pop_back();
  }
  if (wanted.size() > kMaxCacheRoot) {
    return "the cache root must not be longer than " + std::to_string(kMaxCacheRoot) +
           " characters";
  }
  if (wanted == root_) {
    // The same root: made whole as every command makes it, never tagged blindly.
    PrepareRoot();
    return root_problem_;
  }
  if (!ListedApplicationNames().empty()) {
    return "applications are cached under " + root_ +
           "; remove them before the cache root is changed";
  }
  std::string made = wanted;
  if (!CreateDirectoryPath(made)) {
    return "cannot create the cache root " + made + ": " + std::strerror(errno);
  }
  if (ResolvedPath(wanted) == "/") {
    return "the cache root cannot be / itself: choose a directory of its own";
  }
  if (!IsTaggedCacheRoot(wanted)) {
    std::vector<std::string> left_over;
    std::vector<std::string> foreign = ForeignEntries(wanted, {}, kForeignShown + 1, &left_over);
    foreign.insert(foreign.end(), left_over.begin(), left_over.end());
    if (!foreign.empty()) {
      return wanted + " holds files the cache did not put there (" + FirstFew(foreign) +
             "); choose a new or empty directory";
    }
  }
  if (std::string failed = TagCacheRoot(wanted); !failed.empty()) {
    return failed;
  }
  std::string stored = wanted;
  WriteRootSetting(&stored);
  std::string check;
  ReadRootSetting(kRootSettingSize, &check);
  if (check != wanted) {
    return "the cache registry could not be written";
  }
  PrepareRoot();
  return root_problem_;
}

std::string CacheNameOf(const HeaderValues& values) {
  return PackageCacheName(values.install_to, values.appl_name);
}

std::string_view LastPart(std::string_view name) {
  const size_t separator = name.find_last_of("\\/");
  return separator == std::string_view::npos ? name : name.substr(separator + 1);
}

std::vector<std::string> MarkedApplications() {
  std::vector<std::string> marked;
  for (const std::string& name : ListedApplicationNames()) {
    std::string mark;
    ReadDeleteCacheSetting(name, kCachedDeleteMarkSize, &mark);
    if (mark == kYes) {
      marked.push_back(name);
    }
  }
  return marked;
}

std::string FindCachedApplication(std::string_view typed, std::string* error) {
  const std::vector<std::string> names = ListedApplicationNames();
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
    *error = "no cached application is named " + Shown(typed);
  } else {
    *error = Shown(typed) + " names " + std::to_string(by_last_part.size()) +
             " cached applications; give the whole name:";
    for (const std::string& name : by_last_part) {
      *error += " " + Shown(name);
    }
  }
  return {};
}

bool CheckPlacement(const ClientCache& cache, const HeaderValues& values, InstallOutcome& outcome) {
  Placement placement;
  outcome.name = CacheNameOf(values);
  const bool placed = Place(cache, outcome.name, placement, outcome.problems);
  outcome.directory = placement.directory;
  return placed;
}

void CommitPackage(const ClientCache& cache, const PackageHeader& record, bool stored_form,
                   const std::string& incoming, const std::string& aside,
                   const std::string& source_url, InstallOutcome& outcome,
                   const std::optional<SignerPin>& pin) {
  Placement placement;
  outcome.name = CacheNameOf(record.values);
  if (!Place(cache, outcome.name, placement, outcome.problems)) {
    return;
  }
  outcome.directory = placement.directory;
  const auto write_records = [&](std::vector<std::string>& problems) {
    const HeaderValues& values = record.values;
    CachedApplication application = RecordOf(outcome.name, record);
    application.compressed = std::string(stored_form ? kYes : kNo);
    if (AddOrUpdateApplication(application) != 1 ||
        (!source_url.empty() && WriteCacheString(outcome.name, kSourceUrlKey, source_url) != 1) ||
        (pin && !WriteSignerPin(outcome.name, pin))) {
      problems.push_back("the cache registry could not be written");
    }
    const std::string description = values.comment.empty() ? values.appl_name : values.comment;
    if (RegisterApplication(kNoWindow, outcome.name, values.install_to,
                            FormatVersionText(values.version), description) != 1) {
      problems.push_back("the application could not be registered");
    }
  };
  bool had_old = false;
  outcome.problems =
      CommitSwitch({cache.root(), outcome.directory, incoming, aside}, write_records, &had_old);
  outcome.replaced = outcome.problems.empty() && had_old && placement.listed;
  if (!outcome.problems.empty()) {
    PruneEmptyParents(cache.root(), outcome.directory);
    return;
  }
  WriteMenuEntry(outcome.name, record, outcome.directory, outcome.notes);
}

InstallOutcome InstallPackage(ClientCache& cache, const std::string& header_path,
                              const SignerPolicy& policy) {
  InstallOutcome outcome;
  // The names decide where the package goes; nothing is made for a header
  // that fails already.
  std::unique_ptr<PackageHeader> record = ReadHeaderFile(header_path, outcome.problems);
  if (record) {
    CheckEntries(*record, outcome.problems);
  }
  if (!record || !outcome.problems.empty() || !CheckPlacement(cache, record->values, outcome)) {
    return outcome;
  }
  WorkDirectory work;
  std::string error;
  if (!work.Make(cache.root(), &error)) {
    outcome.problems.push_back(error);
    return outcome;
  }
  // The copy and its check need no lock: the staging directory is ours alone.
  cache.Unlock();
  std::vector<std::string> copy_problems;
  CopyPackage(header_path, *record, work.incoming(), copy_problems);
  // What is checked is what was copied: a source changed in between fails.
  const std::string staged_header =
      JoinNativePath(work.incoming(), HeaderFileName(record->values.appl_name));
  PackageCheck check = CheckPackage(staged_header);
  SignatureCheck signature;
  if (check.record) {
    signature = CheckSignatureFile(staged_header, *check.record, policy.required_key);
    check.problems.insert(check.problems.end(), signature.problems.begin(),
                          signature.problems.end());
  }
  if (!cache.Lock(&error)) {
    outcome.problems.push_back(error);
    return outcome;
  }
  outcome.problems = copy_problems.empty() ? check.problems : copy_problems;
  if (outcome.problems.empty() && CacheNameOf(check.record->values) != outcome.name) {
    outcome.problems.push_back(header_path + ": changed while it was installed");
  }
  if (!outcome.problems.empty()) {
    return outcome;
  }
  // The pin is read under the lock, so that no other command moves it
  // between this judgement and the change that writes it.
  const std::string cached_header =
      JoinNativePath(CachedApplicationDirectory(cache.root(), outcome.name),
                     HeaderFileName(record->values.appl_name));
  const SignerJudgement signer = JudgeSigner(
      outcome.name, signature, FileBytes(cached_header) == FileBytes(staged_header), policy);
  if (!signer.refusal.empty()) {
    outcome.problems.push_back(signer.refusal);
    return outcome;
  }
  outcome.signer = signer.note;
  outcome.files = check.stored_files;
  SyncFileSystem(work.incoming());
  CommitPackage(cache, *check.record, true, work.incoming(), work.aside(), "", outcome, signer.pin);
  return outcome;
}

std::vector<std::string> RemoveCachedApplication(ClientCache& cache, const std::string& name,
                                                 std::vector<std::string>* notes) {
  std::vector<std::string> problems;
  const std::string& root = cache.root();
  std::string directory = CachedApplicationDirectory(root, name);
  if (directory.empty()) {
    problems.push_back(Shown(name) +
                       " does not name a directory in the cache; its files are left alone");
  } else if (const std::string link = LinkOnTheWay(root, directory); !link.empty()) {
    problems.push_back(link + " is not a directory of the cache's own; the files of " +
                       Shown(name) + " are left alone");
    directory.clear();
  }
  WorkDirectory work;
  std::string aside;
  std::string error;
  if (cache.root_problem().empty() && work.Make(root, &error)) {
    aside = work.aside();
  } else if (!directory.empty() && !RemoveWithoutFollowing(directory)) {
    // Without a work area of its own the directory goes first, then the records.
    problems.push_back("cannot remove " + directory + ": " + std::strerror(errno));
    return problems;
  }
  const auto write_records = [&name](std::vector<std::string>& failed) {
    if (RemoveApplicationEntry(name, -1, nullptr) != 1) {
      failed.push_back(Shown(name) + " is not listed");
    }
    if (!Unregister(name)) {
      failed.push_back("the registration could not be removed");
    }
  };
  const std::vector<std::string> failed =
      CommitSwitch({root, directory, "", aside}, write_records, nullptr);
  problems.insert(problems.end(), failed.begin(), failed.end());
  if (failed.empty()) {
    // Removed even when installs no longer write entries: it would start nothing.
    const std::vector<std::string> left = RemoveDesktopEntry(name);
    if (notes != nullptr) {
      notes->insert(notes->end(), left.begin(), left.end());
    }
  }
  return problems;
}

std::vector<std::string> SweepCachedApplications(
    ClientCache& cache, const std::function<bool(const std::string&)>& confirm,
    std::vector<std::string>& problems, std::vector<std::string>* notes) {
  std::vector<std::string> removed;
  for (const std::string& name : MarkedApplications()) {
    if (!confirm(name)) {
      // The question comes once per mark.
      WriteDeleteCacheSetting(name, kNo);
      continue;
    }
    const std::vector<std::string> failed = RemoveCachedApplication(cache, name, notes);
    if (failed.empty()) {
      removed.push_back(name);
    }
    problems.insert(problems.end(), failed.begin(), failed.end());
  }
  return removed;
}

LaunchOutcome LaunchCachedApplication(ClientCache& cache, const std::string& name,
                                      const std::vector<std::string>& arguments) {
  LaunchOutcome outcome;
  const std::string directory = CachedApplicationDirectory(cache.root(), name);
  if (directory.empty()) {
    outcome.problems.push_back(Shown(name) + " does not name a directory in the cache");
    return outcome;
  }
  CachedApplication application;
  ReadApplication(name, &application);
  const std::string header_path = JoinNativePath(directory, HeaderFileName(LastPart(name)));
  std::unique_ptr<PackageHeader> record = ReadHeaderFile(header_path, outcome.problems);
  if (!record || !outcome.problems.empty()) {
    return outcome;
  }
  record->package_directory = directory;
  // The header is held against its signature, and a pinned application
  // must have one: whoever could change the cached header could otherwise
  // drop the signature with it.
  const SignatureCheck signature = CheckSignatureFile(header_path, *record, "", false);
  outcome.problems = signature.problems;
  if (outcome.problems.empty() && !signature.present && ReadSignerPin(name)) {
    outcome.problems.push_back(Shown(name) + " is pinned to a signer, but its cached signature " +
                               header_path + std::string(kSignatureSuffix) + " is missing");
  }
  if (!outcome.problems.empty()) {
    return outcome;
  }
  if (application.compressed == kYes) {
    // Each stored file is checked on the bytes its expansion reads; a file
    // an interrupted launch expanded already has its Size.
    Placement placement;
    if (!Place(cache, name, placement, outcome.problems) ||
        !RoomFor(directory, ExpandedBytes(*record), outcome.problems)) {
      return outcome;
    }
    InPlaceExpansion expansion = ExpandInPlace(*record);
    if (!expansion.problems.empty()) {
      outcome.problems = std::move(expansion.problems);
      outcome.result = kLaunchExpandFailed;
      return outcome;
    }
    // Until this is written the next launch finds every file expanded.
    if (WriteCompressedSetting(name, kNo) != 1) {
      outcome.problems.push_back("the cache registry could not be written");
      outcome.result = kLaunchExpandFailed;
      return outcome;
    }
  }
  record->stored_form = false;
  LaunchOptions options;
  options.extra_arguments = arguments;
  options.process = &outcome.pid;
  // The client has no window; the launch asks for an owner all the same.
  static const char kConsoleOwner = 0;
  outcome.result = LaunchApplication(&kConsoleOwner, record.get(), options);
  return outcome;
}

}  // namespace qx
