#pragma once

// What a read package header says about the package's files on disk: which
// stored files are missing or of the wrong size, and the bytes still to
// download, to expand and that expansion adds. Package layer.

#include <cstdint>

#include "core/format/header_reader.h"
#include "qxwebcore_export.h"

namespace qx {

// Checks every file entry's stored file in the package directory: missing
// ("Missing"), of the wrong size, or named unsafely ("Invalid") sets the
// error flag. Comment entries are left as they are. 0; -1 for no record or
// one without a package directory.
QXWEBCORE_EXPORT int ValidatePackageFiles(PackageHeader* record);

// Sum of Length over entries in states 1 and 2; 0 for no record.
QXWEBCORE_EXPORT int64_t DownloadBytes(const PackageHeader* record);
// Sum of Size minus progress over entries in states 1, 2 and 3; 0 for no record.
QXWEBCORE_EXPORT int64_t RemainingBytes(const PackageHeader* record);
// Bytes the expansion of the stored files adds (Size minus Length over
// entries in state 0) when the cache registry records the application's
// files as compressed; 0 otherwise and for no record.
QXWEBCORE_EXPORT int64_t ExpansionBytes(const PackageHeader* record);

}  // namespace qx
