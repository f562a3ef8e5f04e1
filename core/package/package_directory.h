#pragma once

// What the client does to a package directory on disk: making it, writing
// its header, temporary files, expansion, deletion, time stamps. Package layer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/format/header_reader.h"
#include "qxwebcore_export.h"

namespace qx {

// Result codes of the package directory operations.
inline constexpr int kPackageOk = 0;
inline constexpr int kPackageFailed = -1;

// Characters a temporary file path may have, as ExpandEntryToTemp asks.
inline constexpr size_t kTempPathSize = 261;

// Makes the directory |root|/|relative| with every missing level (only the
// part of |relative| before its last separator when |whole| is false). 0 when
// it exists afterwards (an empty |relative| names |root| itself), and also
// when |relative| has a drive or (with |whole| false) no directory part, so
// there is nothing to do; -1 when |root|
// does not exist, |relative| is not a safe relative name, or a level cannot
// be made.
QXWEBCORE_EXPORT int EnsurePackageDirectory(std::string_view root, std::string_view relative,
                                            bool whole);

// Writes |record| as the header "<ApplName>.qxw" in its package directory, in
// the library writer's form with the record's stored header digest as
// trailer. The text goes to a temporary file in that directory that is
// renamed over the old header, so a failure leaves the old header whole.
// 0 when written; -1 for no record, an unsafe location, or a failure to make
// the directory or to write the file.
QXWEBCORE_EXPORT int WritePackageHeader(const PackageHeader* record);

// The file that marks a directory as the client's own temporary directory.
inline constexpr std::string_view kTempDirectoryMark = ".qxweb-temp";

// Makes |path| the client's own temporary directory: a directory created with
// mode 0700 when missing, holding the mark. True when it is one afterwards.
QXWEBCORE_EXPORT bool MakeClientTempDirectory(const std::string& path);

// Whether |path| is the client's own temporary directory: a directory (not
// a link) owned by the user, closed to everyone else, that holds the mark.
QXWEBCORE_EXPORT bool IsClientTempDirectory(const std::string& path);

// Empties the client's temporary directory (the registry's TempDir), keeping
// the directory itself and its mark. 1 when emptied; 0 when none is
// configured (or it is not an absolute path, or it resolves to the root or to
// a directory that holds the configuration directory or the cache root, or
// it is not the client's own temporary directory: a shared one such as /tmp
// holds other programs' files) or emptying it failed.
QXWEBCORE_EXPORT int ClearTempDirectory();

// A path in the client's temporary directory at which no file exists, of at
// most |length| - 1 characters; empty when no temporary directory is
// configured or the path would be longer.
QXWEBCORE_EXPORT std::string MakeTempFileName(size_t length);

// Expands the stored file of |entry| into a new temporary file, whose path is
// left in the entry's temp_path. 0, or -1 for a missing argument, a comment
// entry, an unsafe name, or a failure (temp_path then empty, nothing left).
QXWEBCORE_EXPORT int ExpandEntryToTemp(const PackageHeader* record, FileEntry* entry);

// Deletes the file at |path|; with |prune|, then removes its parent
// directories from the nearest upwards while they are empty. Returns 1 when
// the file was deleted, else 0.
QXWEBCORE_EXPORT int DeleteFileAndEmptyParents(std::string_view path, bool prune);

// Stamps the existing file at |path| with the entry date and time, read as
// local time in the two-second DOS form (DosEntryTime), as its last-access
// and last-write time. 1 when set; 0 when they are no real time or the
// times cannot be set; -1 when the file cannot be opened for writing or is
// not a regular file (a FIFO or a device is never opened and waited on).
QXWEBCORE_EXPORT int SetFileTimeFromEntry(std::string_view path, int32_t day, int32_t month,
                                          int32_t year, int32_t hours, int32_t minutes,
                                          int32_t seconds);

}  // namespace qx
