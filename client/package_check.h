#pragma once

// A package header read and every stored file checked as a client checks
// them, for verify and unpack. Client.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/format/header_reader.h"

namespace qx {

// A package header read and checked as a client checks it, with its package
// directory taken as the header's own directory.
struct PackageCheck {
  std::unique_ptr<PackageHeader> record;  // null when no header could be read
  std::vector<std::string> problems;      // "NAME: what is wrong", in order; control
                                          // characters of names shown as "?"
  int stored_files = 0;                   // file entries checked
};

// Reads the header at |header_path|. Null, with the reason added to
// |problems|, when it cannot be read at all; otherwise the record, with a
// problem added for a digest that does not match and for an ApplName or
// InstallTo that cannot name a safe directory.
std::unique_ptr<PackageHeader> ReadHeaderFile(const std::string& header_path,
                                              std::vector<std::string>& problems);

// The same for a header already open as |file|; |label| names it in problems.
std::unique_ptr<PackageHeader> ReadHeaderStream(std::FILE* file, const std::string& label,
                                                std::vector<std::string>& problems);

// The same for a header's bytes held in memory (ParseHeader): the record's
// package directory is the one under the cache root.
std::unique_ptr<PackageHeader> ReadHeaderText(std::string bytes, const std::string& label,
                                              std::vector<std::string>& problems);

// Adds a problem for every file entry that a client refuses before it
// touches a file: a name it cannot take safely; a name of the same file as
// an earlier entry or as the header; a name of a file where an earlier entry
// needs a directory, or of a path that needs a directory where an earlier
// entry or the header names a file; a Date and Time that are no real time to
// stamp the file with (DosEntryTime). Each problem names the entry. Returns
// the number of file entries.
int CheckEntries(const PackageHeader& record, std::vector<std::string>& problems);

// Where a check of the stored files stands, as each file is begun.
struct CheckProgress {
  int files_done = 0;
  int files_total = 0;
  int64_t bytes_done = 0;  // the Lengths of the files done
  int64_t bytes_total = 0;
  const FileEntry* entry = nullptr;  // the file begun
};
using CheckProgressCallback = std::function<void(const CheckProgress&)>;

// Reads |header_path| and checks what verify, unpack and the client's
// install all refuse: the header digest, the application name and install-to
// path, the entries (CheckEntries), and every stored file's existence,
// Length and digest.
PackageCheck CheckPackage(const std::string& header_path,
                          const CheckProgressCallback& progress = {});

// Checks every file entry's stored file in the record's package directory
// (existence, Length, keyed digest), adding one problem per file that fails.
// Returns the number of file entries checked.
int CheckStoredFiles(const PackageHeader& record, std::vector<std::string>& problems,
                     const CheckProgressCallback& progress = {});

// The directory that holds |path| ("." for a bare name).
std::string DirectoryOf(const std::string& path);

}  // namespace qx
