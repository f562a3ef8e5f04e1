// Stored files expanded on worker threads, checked on the bytes read, and
// the in-place expansion of a package directory. Package layer.
#include "core/package/stored_expansion.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <set>

#include "core/compress/codec.h"
#include "core/digest/secure_digest.h"
#include "core/fsutil/directory_tree.h"
#include "core/fsutil/file_copy.h"
#include "core/fsutil/path_text.h"
#include "core/package/stored_file_check.h"
#include "core/platform/workers.h"

namespace qx {

namespace {

bool IsFileEntry(const FileEntry& entry) {
  return !entry.comment && entry.state != kEntryStateComment;
}

std::string LengthProblem(int64_t found, int64_t length) {
  return "length " + std::to_string(found) + ", the header says " + std::to_string(length);
}

// False when a level between |directory| and the file |name| is not a
// directory of its own (a link could lead the expansion out of the
// package). |checked| keeps the levels found sound.
bool StaysInside(const std::string& directory, std::string_view name,
                 std::set<std::string>& checked) {
  for (size_t end = name.find_first_of("\\/"); end != std::string_view::npos;
       end = name.find_first_of("\\/", end + 1)) {
    const std::string level = JoinNativePath(directory, name.substr(0, end));
    if (checked.count(level) != 0) {
      continue;
    }
    struct stat info {};
    if (::lstat(level.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
      return false;
    }
    checked.insert(level);
  }
  return true;
}

}  // namespace

std::string ExpandEntryStream(std::FILE* input, std::FILE* output, const FileEntry& entry,
                              const char* key, bool named) {
  char digest[kDigestBufferSize] = {};
  int64_t stored = 0;
  int64_t expanded = 0;
  if (named) {
    if (DigestCopyFile(input, output, &stored, digest, sizeof digest, key) != kCopyOk) {
      return "cannot be copied";
    }
    expanded = stored;
  } else {
    const CodecRun run = ExpandStreamsWithin(input, output, entry.size, digest, sizeof digest, key);
    if (run.past_limit) {
      return "expands past its Size of " + std::to_string(entry.size) + " bytes; stopped there";
    }
    if (!run.result.ok()) {
      std::string text = "cannot be expanded";
      if (!run.messages.empty()) {
        text += " (" + run.messages.back() + ")";
      }
      return text;
    }
    stored = run.stored;
    expanded = run.total_expanded;
  }
  if (stored != entry.length) {
    return LengthProblem(stored, entry.length);
  }
  if (std::string_view(digest) != entry.digest) {
    return "digest mismatch";
  }
  if (expanded != entry.size) {
    return "expands to " + std::to_string(expanded) + " bytes, the header says " +
           std::to_string(entry.size);
  }
  return {};
}

std::string ExpandEntryFile(const std::string& source, const std::string& target,
                            const FileEntry& entry, const char* key, bool named) {
  std::string error;
  const int result = CopyFileThrough(source, target, [&](std::FILE* in, std::FILE* out) {
    error = ExpandEntryStream(in, out, entry, key, named);
    return error.empty() ? kFileCopyOk : kFileCopyCompressFailed;
  });
  if (result == kFileCopyOk) {
    return {};
  }
  if (result != kFileCopySourceNotOpened && result != kFileCopyDestinationNotCreated) {
    ::unlink(target.c_str());
  }
  if (!error.empty()) {
    return error;
  }
  if (result == kFileCopySourceNotOpened) {
    return errno == ENOENT ? "missing" : std::string("cannot be read: ") + std::strerror(errno);
  }
  return "cannot be expanded into " + target + ": " + std::strerror(errno);
}

InPlaceExpansion ExpandInPlace(const PackageHeader& record, int threads) {
  enum class Form { kStored, kExpandedNow, kExpandedBefore };
  struct Item {
    const FileEntry* entry;
    bool named;
    std::string path;
    std::string temp;
    Form form = Form::kStored;
  };
  InPlaceExpansion outcome;
  std::vector<Item> items;
  std::set<std::string> sound_levels;
  for (const auto& entry : record.entries) {
    if (!entry || !IsFileEntry(*entry)) {
      continue;
    }
    if (!IsSafeRelativeName(entry->name)) {
      outcome.problems.push_back(PrintableText(entry->name) +
                                 ": unsafe name: " + NameFaultText(CheckRelativeName(entry->name)));
      return outcome;
    }
    if (!StaysInside(record.package_directory, entry->name, sound_levels)) {
      outcome.problems.push_back(PrintableText(entry->name) +
                                 ": a level of its path is not a directory of the package");
      return outcome;
    }
    const std::string path = JoinNativePath(record.package_directory, entry->name);
    items.push_back({entry.get(), IsNamedFileEntry(record.values, entry->name), path,
                     path + std::string(kExpandingSuffix)});
  }
  const char* key = record.values.appl_name.c_str();
  std::vector<std::string> failures = RunJobs(items.size(), threads, [&](size_t i) {
    Item& item = items[i];
    ::unlink(item.temp.c_str());  // what an interrupted run left
    struct stat info {};
    if (::lstat(item.path.c_str(), &info) != 0) {
      return std::string("missing");
    }
    if (!S_ISREG(info.st_mode)) {
      return std::string("not a regular file");
    }
    if (item.named) {
      // Named files were never compressed: they only have to be what the
      // header gives.
      switch (CheckStoredFileAt(item.path, *item.entry, key, nullptr)) {
        case kStoredFileOk:
          return std::string();
        case kStoredFileWrongLength:
          return LengthProblem(info.st_size, item.entry->length);
        case kStoredFileDigestMismatch:
          return std::string("digest mismatch");
        default:
          return std::string("cannot be read");
      }
    }
    std::string error;
    if (info.st_size == item.entry->length) {
      error = ExpandEntryFile(item.path, item.temp, *item.entry, key, false);
      if (error.empty()) {
        item.form = Form::kExpandedNow;
        return error;
      }
    } else {
      error = LengthProblem(info.st_size, item.entry->length);
    }
    // A file that is no longer its stored form but has its Size is one an
    // interrupted run put in place.
    if (info.st_size == item.entry->size) {
      item.form = Form::kExpandedBefore;
      return std::string();
    }
    return error;
  });
  const auto remove_temporaries = [&] {
    for (const Item& item : items) {
      if (item.form == Form::kExpandedNow) {
        ::unlink(item.temp.c_str());
      }
    }
  };
  for (size_t i = 0; i < failures.size(); ++i) {
    if (!failures[i].empty()) {
      outcome.problems.push_back(PrintableText(items[i].entry->name) + ": " + failures[i]);
    }
  }
  if (!outcome.problems.empty()) {
    remove_temporaries();
    return outcome;
  }
  SyncFileSystem(record.package_directory);
  // Each rename puts one file whole in its expanded form: a run killed
  // among them leaves files the next run tells apart.
  for (Item& item : items) {
    if (item.form == Form::kExpandedBefore) {
      ++outcome.found;
    }
    if (item.form != Form::kExpandedNow) {
      continue;
    }
    if (std::rename(item.temp.c_str(), item.path.c_str()) != 0) {
      outcome.problems.push_back(
          PrintableText(item.entry->name) +
          ": the expanded file cannot take its place: " + std::strerror(errno));
      remove_temporaries();
      return outcome;
    }
    item.form = Form::kExpandedBefore;
    ++outcome.expanded;
  }
  return outcome;
}

}  // namespace qx
