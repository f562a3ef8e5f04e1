#pragma once

// CheckStoredFile: one stored file against its header entry, by name, length
// and keyed digest. Package layer.

#include <sys/stat.h>

#include <cstdint>
#include <string>

#include "core/format/header_reader.h"
#include "qxwebcore_export.h"

namespace qx {

// Results of CheckStoredFile.
inline constexpr int kStoredFileOk = 0;
inline constexpr int kStoredFileBadArgument = -1;
inline constexpr int kStoredFileUnsafeName = 1;
inline constexpr int kStoredFileMissing = 2;
inline constexpr int kStoredFileWrongLength = 3;
inline constexpr int kStoredFileUnreadable = 4;
inline constexpr int kStoredFileDigestMismatch = 5;

// Checks the stored file of a file entry in the record's package directory
// as the header describes it: a safe name, a regular file of the entry's
// Length, and the secure digest of its bytes keyed by the ApplName value equal
// to the entry's SECURE_MD5. |length_found| (may be null) receives the file's
// size when it exists. Returns kStoredFileOk or the first check that failed;
// kStoredFileBadArgument for no record or entry, a comment entry, or a record
// without a package directory.
QXWEBCORE_EXPORT int CheckStoredFile(const PackageHeader* record, const FileEntry* entry,
                                     int64_t* length_found);

// The same checks, but the name's, of the file at |path| against |entry|,
// the digest keyed by |key|. |info| (may be null) receives the file's status
// when it could be opened.
QXWEBCORE_EXPORT int CheckStoredFileAt(const std::string& path, const FileEntry& entry,
                                       const char* key, struct stat* info);

}  // namespace qx
