// The seal's checks before anything is created, up to a trial header read
// back by the client's own reader. Sealer engine, without a window.
#include "sealer/project/seal_check.h"

#include <cstdio>
#include <memory>
#include <set>
#include <string>

#include "core/cache/cache_registry.h"
#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/fsutil/path_text.h"
#include "core/platform/file_handle.h"
#include "sealer/project/entry_fit.h"
#include "sealer/project/project_header.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/seal_staging.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

Error Refused(std::string text) {
  return SealFailure(std::move(text));
}

bool HasSeparator(std::string_view name) {
  return name.find_first_of("\\/") != std::string_view::npos;
}

// The key of a named-file field, as the project file and the header name it.
std::string_view NamedFileKey(std::string SealerProject::*field) {
  for (const ProjectField& project_field : ProjectFields()) {
    if (project_field.text == field) {
      return project_field.key;
    }
  }
  return {};
}

Result<void> CheckNamedFiles(const SealerProject& project) {
  for (std::string SealerProject::*field : NamedFileFields()) {
    const std::string& name = project.*field;
    // Stored unchanged from the top directory; with a path it would also be
    // listed, stored a second time and entered twice.
    if (!name.empty() && (HasSeparator(name) || !IsSafeRelativeName(name))) {
      return Refused("The " + std::string(NamedFileKey(field)) + " file " + name +
                     " must be a file name in the SealFrom directory itself");
    }
  }
  return {};
}

Result<void> CheckSource(const SealPlanItem& item) {
  if (!item.source_found) {
    return Refused("Unable to open source file " + item.source_path);
  }
  // A FIFO or a device would block the seal or never end.
  if (!item.source_regular) {
    return Refused("Unable to seal " + item.name + ": " + item.source_path +
                   " is not a regular file");
  }
  return {};
}

// Refuses two entries with one output, and an entry over one of the
// package's own files.
Result<void> CheckOutputs(const SealerProject& project, const SealPlan& plan) {
  const std::string header = HeaderFileName(project.appl_name);
  const std::string page = LandingPageFileName(project.appl_name);
  const std::string staging = StagingDirectoryName(project.appl_name);
  const std::string temporary = "." + header + ".";
  std::set<std::string> outputs;
  for (const SealPlanItem& item : plan.items) {
    if (item.kind == SealItemKind::kComment) {
      continue;
    }
    const std::string neutral = NeutralPath(item.name);
    const std::string top = neutral.substr(0, neutral.find(kNeutralSeparator));
    if (neutral == header || neutral == page || top == staging || top.rfind(temporary, 0) == 0) {
      return Refused("Unable to seal " + item.name + ": it would take the place of the package's " +
                     (neutral == page ? "landing page" : "header"));
    }
    if (!outputs.insert(neutral).second) {
      return Refused("Unable to seal " + item.name + ": the package would hold it twice");
    }
  }
  return {};
}

// The entry lines of |item| with the widest values its file can give.
std::array<std::string, 3> TrialEntryLines(const SealerProject& project, const SealPlanItem& item) {
  const bool named = item.kind == SealItemKind::kNamedFile;
  const int64_t length = named ? item.bytes : WorstStoredLength(item.bytes);
  return SealerEntryLines(item.name, "00:00:00", "01/01/1980",
                          named ? std::string_view(project.version) : kListEntryVersion, length,
                          item.bytes, std::string(kDigestTextLength, '0'));
}

bool WriteTrialHeader(SealerProject& project, const SealPlan& plan, std::FILE* file) {
  DigestPtr digest = DigestNew();
  if (!digest) {
    return false;
  }
  HeaderLineWriter header(file, digest.get());
  if (!WriteHeaderLines(header, project, true)) {
    return false;
  }
  for (const SealPlanItem& item : plan.items) {
    if (item.kind == SealItemKind::kComment) {
      header.WriteLine(item.text, false);
    } else {
      header.WriteEntryLines(TrialEntryLines(project, item));
    }
  }
  char trailer[kDigestBufferSize] = {};
  if (SecureDigest(digest.get(), trailer, sizeof trailer, project.date.c_str()) != kDigestOk) {
    return false;
  }
  header.WriteLine(TrailerLine(std::string_view(trailer, kDigestTextLength)), false);
  return header.ok() && std::fflush(file) == 0;
}

std::string TooLongOrUnreadable(std::string_view what, bool too_long) {
  return std::string(what) + (too_long ? " is too long for the package header"
                                       : " cannot be read back from the package header as written");
}

// The first key value the reader reads otherwise than it was written.
Result<void> CheckKeyValues(const SealerProject& project, const PackageHeader& record) {
  const auto& fields = ProjectFields();
  for (size_t i = 0; i < kSharedProjectFieldCount; ++i) {
    const HeaderKeyInfo& key = kHeaderKeys[i];
    if (key.kind != HeaderValueKind::kText) {
      continue;
    }
    const std::string& written = project.*fields[i].text;
    if (HeaderTextValue(record.values, key.key) != written) {
      const bool too_long =
          KeyLine(key.name, written, HeaderWriter::kSealer).size() > kMaxHeaderLine ||
          written.size() > key.capacity;
      return Refused(TooLongOrUnreadable("The " + std::string(key.name) + " value", too_long));
    }
  }
  return {};
}

Result<void> CheckEntries(const SealerProject& project, const SealPlan& plan,
                          const PackageHeader& record) {
  for (size_t i = 0; i < plan.items.size(); ++i) {
    const SealPlanItem& item = plan.items[i];
    const FileEntry* entry = i < record.entries.size() ? record.entries[i].get() : nullptr;
    if (item.kind == SealItemKind::kComment) {
      if (entry == nullptr || !entry->comment || entry->neutral_name != item.text.substr(1)) {
        return Refused(
            TooLongOrUnreadable("The list line " + item.text, item.text.size() > kMaxHeaderLine));
      }
      continue;
    }
    if (entry == nullptr || entry->comment || entry->name != item.name) {
      bool too_long = false;
      for (const std::string& line : TrialEntryLines(project, item)) {
        too_long = too_long || line.size() > kMaxHeaderLine;
      }
      if (too_long || item.name.size() >= kMaxEntryText) {
        const bool named = item.kind == SealItemKind::kNamedFile;
        return Refused(EntryNameTooLong(
            item.name, named ? LongestEntryName(project.version, item.bytes, item.bytes)
                             : LongestEntryName(kListEntryVersion, WorstStoredLength(item.bytes),
                                                item.bytes)));
      }
      return Refused(TooLongOrUnreadable("The entry of " + item.name, false));
    }
  }
  return {};
}

// Writes the header the plan would give, with the widest values its files
// can give, and reads it back with the client's reader.
Result<void> CheckReadBack(SealerProject& project, const SealPlan& plan) {
  FilePtr file(std::tmpfile());
  if (!file || !WriteTrialHeader(project, plan, file.get())) {
    return Refused("Unable to check the package header");
  }
  std::rewind(file.get());
  FormatVersion version;
  std::unique_ptr<PackageHeader> record;
  const int result = ReadPackageHeader(file.get(), &version, &record);
  if (record == nullptr) {
    return Refused("Unable to check the package header");
  }
  if (Result<void> values = CheckKeyValues(project, *record); !values) {
    return values;
  }
  if (Result<void> entries = CheckEntries(project, plan, *record); !entries) {
    return entries;
  }
  if (result != kHeaderOk || record->entries.size() != plan.items.size()) {
    return Refused("The package header would not read back as written");
  }
  return {};
}

// Refuses a package whose cache name ("InstallTo\ApplName", as a client
// records it) the client's cache registry cannot hold: the client would
// refuse the package.
Result<void> CheckCacheName(const SealerProject& project) {
  CacheNamePart part = CacheNamePart::kJoined;
  const char* fault = PackageCacheNameFault(project.install_to, project.appl_name, &part);
  if (fault == nullptr) {
    return {};
  }
  const std::string what =
      part == CacheNamePart::kApplName ? "The application name " + project.appl_name
      : part == CacheNamePart::kInstallTo
          ? "The InstallTo directory " + project.install_to
          : "The cache name " + PackageCacheName(project.install_to, project.appl_name);
  return Refused(what + " cannot be recorded in the client's cache: it " + fault);
}

}  // namespace

Result<void> CheckItemName(const SealPlanItem& item) {
  if (item.kind == SealItemKind::kListLine && !ListLinePath(item.text)) {
    return Error{kSealUnreadableListLine, item.text, {}};
  }
  const NameFault fault = CheckRelativeName(item.name);
  if (fault != NameFault::kNone) {
    return Refused("Unable to seal " + item.name + " (" + NameFaultText(fault) + ")");
  }
  return {};
}

Result<void> CheckPlanHasFiles(const SealPlan& plan) {
  if (plan.file_count == 0) {
    return Error{kSealNotice, "There are no files to seal. Scan the SealFrom directory first.", {}};
  }
  return {};
}

Result<void> CheckSealPlan(SealerProject& project, const SealPlan& plan) {
  if (Result<void> files = CheckPlanHasFiles(plan); !files) {
    return files;
  }
  if (Result<void> named = CheckNamedFiles(project); !named) {
    return named;
  }
  for (const SealPlanItem& item : plan.items) {
    if (item.kind == SealItemKind::kComment) {
      continue;
    }
    if (Result<void> name = CheckItemName(item); !name) {
      return name;
    }
    if (Result<void> source = CheckSource(item); !source) {
      return source;
    }
  }
  if (Result<void> outputs = CheckOutputs(project, plan); !outputs) {
    return outputs;
  }
  // After the read-back, which names a value too long for the header.
  if (Result<void> read_back = CheckReadBack(project, plan); !read_back) {
    return read_back;
  }
  return CheckCacheName(project);
}

}  // namespace qx
