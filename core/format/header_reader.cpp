// The client's header record over an open file: the count pass and the
// whole header read from the file for the parse, an entry's header values
// given to the record, the entry array, format versions and names. Format
// layer.
#include "core/format/header_reader.h"

#include <initializer_list>
#include <new>

#include "core/fsutil/path_text.h"

namespace qx {

bool ReadWholeHeader(std::FILE* file, std::string* bytes) {
  if (file == nullptr || bytes == nullptr) {
    return false;
  }
  bytes->clear();
  // Sized first where the file can tell its size: the bytes are kept whole
  // as the record's source text.
  if (std::fseek(file, 0, SEEK_END) == 0) {
    const long size = std::ftell(file);
    if (size > 0) {
      bytes->reserve(static_cast<size_t>(size));
    }
  }
  std::rewind(file);
  char buffer[8192];
  size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes->append(buffer, got);
  }
  return true;
}

int CountHeaderEntries(std::FILE* file, FormatVersion* version) {
  if (file == nullptr || version == nullptr) {
    return 0;
  }
  try {
    std::string bytes;
    ReadWholeHeader(file, &bytes);
    return CountHeaderEntryLines(bytes, version);
  } catch (const std::bad_alloc&) {
    return 0;
  }
}

void AssignHeaderEntry(const HeaderEntry& from, FileEntry* entry) {
  if (entry == nullptr) {
    return;
  }
  // What the client set (states 1 to 4, its words, progress, temporary
  // path, validation result) stays; a comment is state 5 whatever it was.
  if (from.comment) {
    entry->state = kEntryStateComment;
  } else if (entry->state == kEntryStateComment) {
    entry->state = kEntryStateFile;
  }
  entry->comment = from.comment;
  entry->name = from.name;
  entry->neutral_name = from.neutral_name;
  entry->hours = from.hours;
  entry->minutes = from.minutes;
  entry->seconds = from.seconds;
  entry->day = from.day;
  entry->month = from.month;
  entry->year = from.year;
  entry->version = from.version;
  entry->length = from.length;
  entry->size = from.size;
  entry->digest = from.digest;
}

int ResizeEntryArray(PackageHeader* record, int32_t count) {
  if (record == nullptr || count < 0) {
    return kHeaderFailed;
  }
  auto& entries = record->entries;
  const auto wanted = static_cast<size_t>(count);
  try {
    if (wanted > entries.size()) {
      // Build the new entries aside, so that running out of memory leaves
      // the array as it was.
      std::vector<std::unique_ptr<FileEntry>> added;
      added.reserve(wanted - entries.size());
      while (entries.size() + added.size() < wanted) {
        added.push_back(std::make_unique<FileEntry>());
      }
      entries.reserve(wanted);
      for (auto& entry : added) {
        entries.push_back(std::move(entry));
      }
    }
  } catch (const std::bad_alloc&) {
    return kHeaderNoMemory;
  }
  entries.resize(wanted);
  for (auto& entry : entries) {
    if (!entry) {
      entry = std::make_unique<FileEntry>();
    }
  }
  return kHeaderOk;
}

int FreeEntryArray(PackageHeader* record) {
  if (record == nullptr || record->entries.empty()) {
    return kHeaderFailed;
  }
  record->entries.clear();
  record->entries.shrink_to_fit();
  return kHeaderOk;
}

int CompareFormatVersion(const FormatVersion* a, const FormatVersion* b) {
  if (a == nullptr) {
    return 0;
  }
  if (b == nullptr) {
    return 2;
  }
  if (a->major != b->major) {
    return a->major < b->major ? -2 : 2;
  }
  if (a->minor != b->minor) {
    return a->minor < b->minor ? -1 : 1;
  }
  return 0;
}

bool IsSafeApplicationName(std::string_view name) {
  return IsSafeRelativeName(name) && name.find_first_of("\\/") == std::string_view::npos;
}

bool IsNamedFileEntry(const HeaderValues& values, std::string_view name) {
  const std::string neutral = NeutralPath(name);
  for (const std::string* value :
       {&values.readme_file, &values.registry_file, &values.download_splash, &values.launch_splash,
        &values.download_icon, &values.launch_icon, &values.corrupt_icon}) {
    if (!value->empty() && NeutralPath(*value) == neutral) {
      return true;
    }
  }
  return false;
}

}  // namespace qx
