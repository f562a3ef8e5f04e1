// Fuzz target for the header reader (format layer): any bytes as a header
// file, read twice (the second read reuses the first record's entries), with
// the record's capacities and counts checked after each read.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "core/format/header_reader.h"
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
  }
  return 0;
}
