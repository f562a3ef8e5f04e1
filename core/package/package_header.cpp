// The package directory of a header under the cache root, the client's
// record made from a parsed header, and ReadPackageHeader over an open file.
// Package layer.
#include "core/package/package_header.h"

#include <algorithm>
#include <new>
#include <utility>
#include <vector>

#include "core/cache/cache_root.h"
#include "core/fsutil/path_text.h"

namespace qx {

namespace {

// Fills a record's entry array as the parse makes the entries: an earlier
// record's entries are taken again, keeping what the client set on them.
class RecordSink : public detail::HeaderEntrySink {
 public:
  explicit RecordSink(std::unique_ptr<PackageHeader>* record) : record_(record) {}

  bool Prepare(int32_t count) override {
    // The earlier record keeps its array until the parse can fill it.
    auto fresh = std::make_unique<PackageHeader>();
    PackageHeader* sized = *record_ ? record_->get() : fresh.get();
    if (ResizeEntryArray(sized, count) != kHeaderOk) {
      return false;
    }
    if (sized != fresh.get()) {
      fresh->entries = std::move(sized->entries);
    }
    *record_ = std::move(fresh);
    return true;
  }

  void Take(HeaderEntry&& entry) override {
    AssignHeaderEntry(entry, (*record_)->entries[taken_++].get());
  }

  size_t taken() const { return taken_; }

 private:
  std::unique_ptr<PackageHeader>* record_;
  size_t taken_ = 0;
};

}  // namespace

std::string PackageDirectoryFor(std::string_view cache_root, const HeaderValues& values) {
  if (!IsSafeApplicationName(values.appl_name) ||
      (!values.install_to.empty() && !IsSafeRelativeName(values.install_to))) {
    return {};
  }
  std::string directory(cache_root);
  if (!values.install_to.empty()) {
    directory = JoinNativePath(directory, values.install_to);
  }
  directory = JoinNativePath(directory, values.appl_name);
  directory.resize(std::min(directory.size(), kMaxPackageDirectory));
  return directory;
}

std::unique_ptr<PackageHeader> MakePackageRecord(ParsedHeader header, std::string source_text,
                                                 std::string package_directory) {
  // The lines go first: the record keeps the bytes instead, and its entries
  // then take the place they held.
  std::vector<HeaderLine>().swap(header.lines);
  auto record = std::make_unique<PackageHeader>();
  record->corrupt = !header.digest_matches;
  record->package_directory = std::move(package_directory);
  record->values = std::move(header.values);
  record->entries.reserve(header.entries.size());
  for (const HeaderEntry& entry : header.entries) {
    record->entries.push_back(std::make_unique<FileEntry>());
    AssignHeaderEntry(entry, record->entries.back().get());
  }
  record->source_text = std::move(source_text);
  return record;
}

int ReadPackageHeader(std::FILE* file, FormatVersion* version,
                      std::unique_ptr<PackageHeader>* record) {
  if (file == nullptr || version == nullptr || record == nullptr) {
    return kHeaderFailed;
  }
  try {
    std::string bytes;
    ReadWholeHeader(file, &bytes);
    const int counted = CountHeaderEntryLines(bytes, version);
    if (counted == 0) {
      return kHeaderFailed;
    }
    RecordSink sink(record);
    Result<ParsedHeader> parsed = detail::ParseHeaderInto(bytes, sink);
    if (!parsed) {
      return parsed.error().code;
    }
    PackageHeader& header = **record;
    // Lines the count pass took for entries but the parse did not (comments
    // while the application name was empty) leave no empty entries behind.
    header.entries.resize(sink.taken());
    const bool digest_matches = parsed->digest_matches;
    header.values = std::move(parsed.value().values);
    header.source_text = std::move(bytes);
    header.package_directory = PackageDirectoryFor(GetCacheRoot(), header.values);
    if (!digest_matches) {
      header.corrupt = true;
      return kHeaderFailed;
    }
    return header.package_directory.empty() ? kHeaderFailed : kHeaderOk;
  } catch (const std::bad_alloc&) {
    return kHeaderNoMemory;
  }
}

}  // namespace qx
