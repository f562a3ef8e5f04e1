// Package path operations: references and file URLs, extensions, file, base
// and directory names. Format layer.
#include "core/format/package_paths.h"

#include "core/format/header_lines.h"
#include "core/fsutil/path_text.h"

namespace qx {

std::string HeaderFileName(std::string_view appl_name) {
  return std::string(appl_name) + "." + std::string(kHeaderExtension);
}

bool IsRelativeReference(std::string_view text) {
  return text.find(':') == std::string_view::npos;
}

bool IsFileUrl(std::string_view text) {
  return text.substr(0, 6) == "file:/";
}

std::string PathExtension(std::string_view path) {
  const std::string_view::size_type dot = path.rfind('.');
  if (dot == std::string_view::npos || dot == 0) {
    return {};
  }
  return std::string(path.substr(dot + 1));
}

std::string PathFileName(std::string_view path) {
  const std::string_view::size_type sep = path.find_last_of("\\/");
  return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string PathBaseName(std::string_view path) {
  std::string name = PathFileName(path);
  const std::string::size_type dot = name.rfind('.');
  if (dot != std::string::npos && dot != 0) {
    name.erase(dot);
  }
  return name;
}

std::string PathDirectory(std::string_view path) {
  const std::string_view::size_type sep = path.find_last_of("\\/");
  if (sep == std::string_view::npos) {
    // Only a drive ("C:run.exe") names no directory either.
    return {};
  }
  return std::string(path.substr(0, sep));
}

bool IsHtmPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  return ext.size() == 3 && StartsWithNoCase(ext, "htm");
}

bool IsHeaderPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  return ext.size() == kHeaderExtension.size() && StartsWithNoCase(ext, kHeaderExtension);
}

}  // namespace qx
