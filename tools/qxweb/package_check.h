#pragma once

// A package header read and every stored file checked as a client checks
// them, for verify and unpack. Command-line program.

#include <memory>
#include <string>
#include <vector>

#include "core/format/header_reader.h"

namespace qxweb_tool {

// A package header read and checked as a client checks it, with its package
// directory taken as the header's own directory.
struct PackageCheck {
  std::unique_ptr<qx::PackageHeader> record;  // null when no header could be read
  std::vector<std::string> problems;          // "NAME: what is wrong", in order; control
                                              // characters of names shown as "?"
  int stored_files = 0;                       // file entries checked
};

// Reads |header_path| and checks the header digest, the application name and
// install-to path, and every stored file's existence, Length and digest.
PackageCheck CheckPackage(const std::string& header_path);

// The directory that holds |path| ("." for a bare name).
std::string DirectoryOf(const std::string& path);

}  // namespace qxweb_tool
