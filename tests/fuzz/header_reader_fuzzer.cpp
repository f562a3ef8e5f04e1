// Fuzz target for the header reader (format layer): any bytes as a header
// file, read twice (the second read reuses the first record's entries), with
// the record's capacities and counts checked after each read; and the same
// bytes parsed as a header value, which must agree with the record and hold
// every line of the bytes in its place.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_reader.h"
#include "core/format/header_value.h"
#include "core/format/header_writer.h"
#include "core/package/package_files.h"
#include "core/platform/file_handle.h"

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

void CheckRecord(const qx::PackageHeader& record, int counted) {
  Require(record.entries.size() <= static_cast<size_t>(counted));
  const qx::HeaderValues& v = record.values;
  for (const qx::HeaderKeyInfo& info : qx::kHeaderKeys) {
    if (info.kind == qx::HeaderValueKind::kText || info.kind == qx::HeaderValueKind::kDate) {
      Require(qx::HeaderTextValue(v, info.key).size() <= info.capacity);
    }
  }
  Require(v.neutral_install_to.size() <= qx::kMaxNeutralInstallTo);
  Require(v.header_digest.size() <= qx::kMaxHeaderDigest);
  Require(record.package_directory.size() <= qx::kMaxPackageDirectory);
  for (const auto& entry : record.entries) {
    Require(entry != nullptr);
    Require(entry->name.size() <= qx::kMaxEntryName);
    Require(entry->neutral_name.size() <= qx::kMaxEntryName);
    Require(entry->digest.size() <= qx::kMaxEntryDigest);
    Require(entry->comment == (entry->state == qx::kEntryStateComment));
  }
  // The package directory is only ever built from safe parts.
  Require(record.package_directory.empty() || qx::IsSafeApplicationName(v.appl_name));
  qx::DownloadBytes(&record);
  qx::RemainingBytes(&record);
}

// The parse of |bytes| against the file reader's |record| (null when it
// read nothing) and |result|.
void CheckParse(std::string_view bytes, const qx::PackageHeader* record, int result, int counted) {
  qx::Result<qx::ParsedHeader> parsed = qx::ParseHeader(bytes);
  Require(parsed.ok() == (record != nullptr));
  if (!parsed) {
    Require(parsed.error().code == result);
    return;
  }
  const qx::ParsedHeader& header = *parsed;
  Require(header.entries.size() == record->entries.size());
  Require(header.entries.size() <= static_cast<size_t>(counted));
  Require(header.digest_matches == !record->corrupt);
  for (const qx::HeaderKeyInfo& info : qx::kHeaderKeys) {
    Require(qx::HeaderTextValue(header.values, info.key) ==
            qx::HeaderTextValue(record->values, info.key));
  }
  for (size_t i = 0; i < header.entries.size(); ++i) {
    Require(header.entries[i].comment == record->entries[i]->comment);
    Require(header.entries[i].name == record->entries[i]->name);
    Require(header.entries[i].size == record->entries[i]->size);
    Require(header.entries[i].digest == record->entries[i]->digest);
  }
  // Every physical line, as a line buffer takes it (up to its line feed or
  // kMaxHeaderLine characters), lies in one line of the value, in order,
  // without its line end and trailing blanks.
  std::vector<std::string_view> physical;
  for (size_t at = 0; at < bytes.size();) {
    std::string_view line = bytes.substr(at, qx::kMaxHeaderLine);
    const size_t feed = line.find('\n');
    if (feed != std::string_view::npos) {
      line = line.substr(0, feed + 1);
    }
    at += line.size();
    physical.push_back(qx::DigestedText(line));
  }
  size_t walked = 0;
  int32_t next_entry = 0;
  for (const qx::HeaderLine& line : header.lines) {
    Require(!line.text.empty());
    Require((line.role == qx::HeaderLineRole::kKey) == (line.key != nullptr));
    if (line.entry >= 0) {
      Require(line.entry == next_entry++);
    }
    for (const std::string& text : line.text) {
      Require(walked < physical.size() && physical[walked++] == text);
    }
  }
  Require(walked == physical.size());
  // Any parsed header can be written back along its lines.
  char* buffer = nullptr;
  size_t written = 0;
  std::FILE* memory = ::open_memstream(&buffer, &written);
  Require(memory != nullptr);
  Require(qx::WriteHeaderText(memory, header) == qx::kHeaderOk);
  std::fclose(memory);
  std::free(buffer);
  Require(static_cast<size_t>(next_entry) == header.entries.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen wants a writable buffer and at least one byte.
  std::vector<char> bytes(data, data + size);
  bytes.push_back('\0');
  qx::FilePtr file(fmemopen(bytes.data(), size == 0 ? 1 : size, "r"));
  if (!file) {
    return 0;
  }
  if (size == 0) {
    std::fgetc(file.get());  // leave the one byte read: an empty file
  }
  qx::FormatVersion version;
  const int counted = qx::CountHeaderEntries(file.get(), &version);
  std::unique_ptr<qx::PackageHeader> record;
  for (int pass = 0; pass < 2; ++pass) {
    const int result = qx::ReadPackageHeader(file.get(), &version, &record);
    Require(result == qx::kHeaderOk || result == qx::kHeaderFailed);
    Require((counted == 0) == !record);
    if (record) {
      Require(result != qx::kHeaderOk || !record->corrupt);
      CheckRecord(*record, counted);
    }
    if (pass == 0) {
      CheckParse(std::string_view(bytes.data(), size), record.get(), result, counted);
    }
  }
  return 0;
}
