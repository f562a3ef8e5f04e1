// The client cache registry through the INI profiles: texts and numbers read
// and written one value per call, the settings, application records and the
// numbered list with its renumbering and repair. Cache layer.
#include "core/cache/cache_registry.h"

#include <algorithm>
#include <limits>
#include <map>
#include <vector>

#include "core/cache/registry_names.h"
#include "core/fsutil/path_text.h"
#include "core/platform/config_directory.h"
#include "core/platform/private_profile.h"
#include "core/platform/user_interface.h"

namespace qx {

using namespace detail;  // the registry's names

namespace {

constexpr std::string_view kWriteFailureCaption = "Tarnwick Inc.";
// A long's decimal text, as the number keys are read.
constexpr size_t kLongTextSize = 34;
// Longest list key number taken from a damaged file; more digits are not a
// list key this code ever wrote.
constexpr size_t kMaxListNumberDigits = 18;

// A decimal long as the C library reads one: blanks, a sign, digits; the
// rest ignored; saturated at the limits.
int64_t ParseLong(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
    ++pos;
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    const int digit = text[pos] - '0';
    value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
  }
  return negative ? -value : value;
}

// The number of a list key name ("Application.7", in any case), or 0 for any
// other key. Only the form the list is written in counts: "Application.07"
// is not the key "Application.7" and is left alone.
int64_t ListKeyNumber(std::string_view key) {
  if (key.size() <= kListKeyPrefix.size() ||
      !ProfileNamesEqual(key.substr(0, kListKeyPrefix.size()), kListKeyPrefix)) {
    return 0;
  }
  const std::string_view digits = key.substr(kListKeyPrefix.size());
  if (digits.size() > kMaxListNumberDigits || digits.front() == '0' ||
      digits.find_first_not_of("0123456789") != std::string_view::npos) {
    return 0;
  }
  return ParseLong(digits);
}

// The numbers of the list keys present in General, ascending.
std::vector<int64_t> PresentListNumbers() {
  std::vector<int64_t> numbers;
  const std::string path = CacheFilePath();
  if (path.empty()) {
    return numbers;
  }
  for (const std::string& key : ReadProfileKeys(path, kGeneralSection)) {
    if (const int64_t number = ListKeyNumber(key); number > 0) {
      numbers.push_back(number);
    }
  }
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

// The numbers of the list keys present, up to |count|. Walking these rather
// than 1..count reads the same names (a missing key holds none) but stays
// short when a damaged file says ApplCount=2000000000: every read re-reads
// the file.
std::vector<int64_t> ListedNumbers(int count) {
  std::vector<int64_t> numbers = PresentListNumbers();
  numbers.erase(std::upper_bound(numbers.begin(), numbers.end(), int64_t{count}), numbers.end());
  return numbers;
}

// Appends |name| to a repaired list of |count| names. The key goes before
// the count: a crash between them leaves a key beyond the count, which the
// next repair lists, rather than a count without its key. Returns the new
// index.
int AppendToList(std::string_view name, int count) {
  WriteCacheString(kGeneralSection, ListKey(count + 1), name);
  WriteApplCount(count + 1);
  return count + 1;
}

void ShowWriteFailure(std::string_view section, std::optional<std::string_view> key) {
  MessageBoxRequest request;
  request.text = key ? "Unable to write " + std::string(*key) + " field"
                     : "Unable to write " + std::string(section) + " section";
  request.caption = std::string(kWriteFailureCaption);
  CurrentUserInterface().ShowMessageBox(request);
}

// Reads a setting that is kept without its trailing separator.
int ReadPathSetting(std::string_view section, std::string_view key, size_t size, std::string* out) {
  if (out == nullptr || ReadCacheString(section, key, size, "", *out) == 0) {
    return 0;
  }
  StripTrailingBackslash(*out);
  return 1;
}

void WritePathSetting(std::string_view key, std::string* path) {
  if (path != nullptr) {
    StripTrailingBackslash(*path);
    WriteCacheString(kGeneralSection, key, *path);
  }
}

}  // namespace

namespace detail {

// Each write is atomic on its own, so a name may only ever move to a list key
// at or below the one it is read from, and in ascending order: a name is
// then written at its new place before anything overwrites its old one, and
// a crash at any point leaves every name in some list key (at worst twice).
// The stray keys above the new count go last, after ApplCount says how many
// are listed.
int RepairApplicationList(bool drop_duplicates) {
  int count = 0;
  ReadApplCount(&count);
  const std::vector<int64_t> present = PresentListNumbers();
  std::map<int64_t, std::string> stored;
  std::vector<std::string> names;
  for (const int64_t number : present) {
    std::string name;
    ReadCacheString(kGeneralSection, ListKey(number), kCachedNameSize, "", name);
    const auto same = [&name](const std::string& listed) {
      return ProfileNamesEqual(listed, name);
    };
    if (!name.empty() &&
        !(drop_duplicates && std::find_if(names.begin(), names.end(), same) != names.end())) {
      names.push_back(name);
    }
    stored[number] = std::move(name);
  }
  const int listed = static_cast<int>(names.size());
  const bool intact = count == listed && present.size() == names.size() &&
                      (present.empty() || present.back() == listed);
  if (intact) {
    return count;
  }
  for (int index = 1; index <= listed; ++index) {
    const std::string& name = names[static_cast<size_t>(index - 1)];
    const auto old = stored.find(index);
    if (old == stored.end() || old->second != name) {
      WriteCacheString(kGeneralSection, ListKey(index), name);
    }
  }
  if (count != listed) {
    WriteApplCount(listed);
  }
  for (const int64_t number : present) {
    if (number > listed) {
      WriteCacheString(kGeneralSection, ListKey(number), std::nullopt);
    }
  }
  return listed;
}

}  // namespace detail

std::string CacheFilePath() {
  return ConfigFilePath(std::string(kCacheFileName));
}

const char* CacheNameFault(std::string_view name) {
  // What the profile trims from section names and values: a name with one
  // at either end would be listed otherwise than its section is named.
  constexpr std::string_view kTrimmedBlanks = " \t\v\f\r";
  static_assert(kCachedNameSize == 256, "the reason below names the characters kept");
  if (name.empty()) {
    return "is empty, which the cache registry's list cannot hold";
  }
  if (name.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos) {
    return "holds a line break or NUL, which the cache registry cannot hold";
  }
  if (name.find(']') != std::string_view::npos) {
    return "holds \"]\", which the cache registry cannot hold in a section name";
  }
  if (kTrimmedBlanks.find(name.front()) != std::string_view::npos ||
      kTrimmedBlanks.find(name.back()) != std::string_view::npos) {
    return "starts or ends with a blank, which the cache registry would drop";
  }
  // The list is read back with kCachedNameSize characters: a longer name
  // would no longer find its own section.
  if (name.size() > kCachedNameSize - 1) {
    return "is longer than the 255 characters the cache registry keeps";
  }
  return nullptr;
}

std::string PackageCacheName(std::string_view install_to, std::string_view appl_name) {
  std::string name;
  AppendNeutralPath("\\", name, NeutralPath(install_to));
  name += '\\';
  name += appl_name;
  return name;
}

const char* PackageCacheNameFault(std::string_view install_to, std::string_view appl_name,
                                  CacheNamePart* part) {
  const char* fault = CacheNameFault(PackageCacheName(install_to, appl_name));
  if (fault == nullptr) {
    return nullptr;
  }
  *part = CacheNamePart::kJoined;
  if (const char* own = CacheNameFault(PackageCacheName("", appl_name))) {
    *part = CacheNamePart::kApplName;
    return own;
  }
  if (const char* own = install_to.empty() ? nullptr : CacheNameFault(NeutralPath(install_to))) {
    *part = CacheNamePart::kInstallTo;
    return own;
  }
  return fault;
}

size_t ReadCacheString(std::string_view section, std::string_view key, size_t size,
                       std::string_view default_value, std::string& out) {
  const std::string path = CacheFilePath();
  if (path.empty()) {
    out.assign(default_value.substr(0, size == 0 ? 0 : size - 1));
    return out.size();
  }
  return ReadProfileString(path, section, key, default_value, size, out);
}

int WriteCacheString(std::string_view section, std::optional<std::string_view> key,
                     std::optional<std::string_view> value) {
  const std::string path = CacheFilePath();
  if (!path.empty() && WriteProfileString(path, section, key, value)) {
    return 1;
  }
  ShowWriteFailure(section, key);
  return 0;
}

int ReadCacheInt(std::string_view section, std::string_view key, int default_value, int* out) {
  const std::string path = CacheFilePath();
  const int value =
      path.empty() ? default_value : ReadProfileInt(path, section, key, default_value);
  if (out != nullptr) {
    *out = value;
  }
  return 1;
}

int WriteCacheInt(std::string_view section, std::string_view key, int value) {
  return WriteCacheLong(section, key, value);
}

int WriteCacheLong(std::string_view section, std::string_view key, int64_t value) {
  if (value == -1) {
    return WriteCacheString(section, key, std::nullopt);
  }
  return WriteCacheString(section, key, std::to_string(value));
}

int ReadCacheLong(std::string_view section, std::string_view key, int64_t default_value,
                  int64_t* out) {
  std::string text;
  ReadCacheString(section, key, kLongTextSize, std::to_string(default_value), text);
  if (out != nullptr) {
    *out = ParseLong(text);
  }
  return 1;
}

int ReadRootSetting(size_t size, std::string* out) {
  return ReadPathSetting(kGeneralSection, kRootKey, size, out);
}

void WriteRootSetting(std::string* path) {
  WritePathSetting(kRootKey, path);
}

int ReadTempDirSetting(size_t size, std::string* out) {
  return ReadPathSetting(kGeneralSection, kTempDirKey, size, out);
}

void WriteTempDirSetting(std::string* path) {
  WritePathSetting(kTempDirKey, path);
}

size_t ReadOSSetting(size_t size, std::string* out) {
  return out == nullptr ? 0 : ReadCacheString(kEnvironmentSection, kOSKey, size, "", *out);
}

int WriteOSSetting(std::string_view text) {
  return WriteCacheString(kEnvironmentSection, kOSKey, text);
}

size_t ReadCompressedSetting(std::string_view name, size_t size, std::string* out) {
  return out == nullptr ? 0 : ReadCacheString(name, kCompressedKey, size, "", *out);
}

int WriteCompressedSetting(std::string_view name, std::string_view text) {
  return WriteCacheString(name, kCompressedKey, text);
}

size_t ReadDeleteCacheSetting(std::string_view name, size_t size, std::string* out) {
  return out == nullptr ? 0 : ReadCacheString(name, kDeleteCacheKey, size, "", *out);
}

int WriteDeleteCacheSetting(std::string_view name, std::string_view text) {
  return WriteCacheString(name, kDeleteCacheKey, text);
}

int ReadApplCount(int* out) {
  return ReadCacheInt(kGeneralSection, kApplCountKey, 0, out);
}

void WriteApplCount(int count) {
  WriteCacheInt(kGeneralSection, kApplCountKey, count);
}

int ReadSplashSetting(size_t size, std::string* out) {
  return ReadPathSetting(kSplashSection, kSplashKey, size, out);
}

int FindApplication(std::string_view name, int* count) {
  int listed = 0;
  ReadApplCount(&listed);
  if (count != nullptr) {
    *count = listed;
  }
  std::string entry;
  for (const int64_t number : ListedNumbers(listed)) {
    ReadCacheString(kGeneralSection, ListKey(number), kCachedNameSize, "", entry);
    if (ProfileNamesEqual(entry, name)) {
      return static_cast<int>(number);
    }
  }
  return -1;
}

std::vector<std::string> ListedApplicationNames() {
  int listed = 0;
  ReadApplCount(&listed);
  std::vector<std::string> names;
  std::string name;
  for (const int64_t number : ListedNumbers(listed)) {
    if (ReadCacheString(kGeneralSection, ListKey(number), kCachedNameSize, "", name) > 0) {
      names.push_back(name);
    }
  }
  return names;
}

int GetApplicationName(int index, std::string* out) {
  if (out == nullptr) {
    return 0;
  }
  return ReadCacheString(kGeneralSection, ListKey(index), kCachedNameSize, "", *out) > 0 ? 1 : 0;
}

int ReadApplication(std::string_view name, CachedApplication* application) {
  if (application == nullptr) {
    return 0;
  }
  CachedApplication& app = *application;
  ReadCacheString(name, kOwnerKey, kCachedOwnerSize, "", app.owner);
  ReadCacheString(name, kCopyrightKey, kCachedCopyrightSize, "", app.copyright);
  ReadCacheString(name, detail::kVersionKey, kCachedVersionSize, "", app.version);
  ReadCacheString(name, kCommandLineKey, kCachedCommandLineSize, "", app.command_line);
  ReadCacheString(name, kReadmeKey, kCachedReadmeSize, "", app.readme);
  ReadCacheString(name, kCompressedKey, kCachedCompressedSize, kMarkedText, app.compressed);
  ReadCacheString(name, kDeleteCacheKey, kCachedDeleteMarkSize, kUnmarkedText, app.delete_mark);
  ReadCacheLong(name, kCompressedSizeKey, 0, &app.compressed_size);
  ReadCacheLong(name, kUncompressSizeKey, 0, &app.uncompressed_size);
  return 1;
}

int ReadApplicationByIndex(int index, CachedApplication* application) {
  std::string name;
  if (GetApplicationName(index, &name) == 0) {
    return 0;
  }
  ReadApplication(name, application);
  return 1;
}

int StoreApplication(std::string_view name, const CachedApplication& application, bool search) {
  const std::pair<std::string_view, const std::string*> texts[] = {
      {kOwnerKey, &application.owner},
      {kCopyrightKey, &application.copyright},
      {detail::kVersionKey, &application.version},
      {kCommandLineKey, &application.command_line},
      {kReadmeKey, &application.readme},
      {kCompressedKey, &application.compressed},
      {kDeleteCacheKey, &application.delete_mark},
  };
  int written = 0;
  for (const auto& [key, value] : texts) {
    written += WriteCacheString(name, key, *value);
  }
  written += WriteCacheLong(name, kCompressedSizeKey, application.compressed_size);
  written += WriteCacheLong(name, kUncompressSizeKey, application.uncompressed_size);
  if (!search) {
    return written == static_cast<int>(std::size(texts)) + 2 ? 1 : 0;
  }
  // Repaired first, so that a name kept in a stray key is found, not appended twice.
  const int count = detail::RepairApplicationList();
  std::string entry;
  for (int index = 1; index <= count; ++index) {
    GetApplicationName(index, &entry);
    if (entry == name) {
      return index;
    }
  }
  return AppendToList(name, count);
}

int StoreApplicationListed(std::string_view name, const CachedApplication& application) {
  return StoreApplication(name, application, true);
}

int AddOrUpdateApplication(const CachedApplication& application) {
  // The list itself says whether the application is new: a section without
  // a command line (an empty one, or a store cut short) would list it again.
  if (FindApplication(application.name, nullptr) == -1) {
    // Repaired first, so that a name kept in a stray key is not listed twice.
    AppendToList(application.name, detail::RepairApplicationList());
  }
  return StoreApplication(application.name, application, false);
}

void SaveLaunchSettings(const CachedApplication& application) {
  if (application.name.empty()) {
    return;
  }
  // ReadApplication keeps only the first characters of a longer command
  // line; writing those back would lose the rest.
  std::string stored;
  ReadCacheString(application.name, kCommandLineKey, std::numeric_limits<size_t>::max(), "",
                  stored);
  constexpr size_t kKept = kCachedCommandLineSize - 1;
  const bool read_cut = stored.size() > kKept &&
                        application.command_line == std::string_view(stored).substr(0, kKept);
  if (!read_cut) {
    WriteCacheString(application.name, kCommandLineKey, application.command_line);
  }
  WriteCacheString(application.name, kCompressedKey, application.compressed);
}

int RemoveApplicationEntry(std::string_view name, int index, int* count) {
  int listed = 0;
  if (index == -1) {
    index = FindApplication(name, &listed);
    if (index == -1) {
      return 0;
    }
  } else {
    if (count != nullptr) {
      listed = *count;
    } else {
      ReadApplCount(&listed);
    }
    // An index beyond the count would shift the count past a listed name.
    std::string entry;
    if (index < 1 || index > listed || GetApplicationName(index, &entry) == 0 ||
        !ProfileNamesEqual(entry, name)) {
      return 0;
    }
  }
  // Each write is atomic, the sequence is not. Moving the later names up
  // first leaves, on a crash, the last name twice but none lost; the count
  // then drops, the stray last key goes, and the section goes last, so an
  // entry that survives a crash still has its values.
  const int remaining = listed - 1;
  std::string next;
  for (int j = index; j <= remaining; ++j) {
    GetApplicationName(j + 1, &next);
    WriteCacheString(kGeneralSection, ListKey(j), next);
  }
  WriteApplCount(remaining);
  WriteCacheString(kGeneralSection, ListKey(remaining + 1), std::nullopt);
  WriteCacheString(name, std::nullopt, std::nullopt);
  if (count != nullptr) {
    *count = remaining;
  }
  return 1;
}

}  // namespace qx
