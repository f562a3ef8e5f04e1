#include "core/format/package_paths.h"

#include <mutex>

#include "core/format/header_lines.h"

namespace qx {

namespace {

struct CacheRoot {
  std::mutex mutex;
  std::string path;
};

CacheRoot& TheCacheRoot() {
  static CacheRoot root;
  return root;
}

}  // namespace

void SetCacheRoot(std::string_view path) {
  CacheRoot& root = TheCacheRoot();
  std::lock_guard lock(root.mutex);
  root.path.assign(path.substr(0, kMaxCacheRoot));
}

std::string GetCacheRoot() {
  CacheRoot& root = TheCacheRoot();
  std::lock_guard lock(root.mutex);
  return root.path;
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

std::string NeutralPath(std::string_view path) {
  std::string neutral(path);
  for (char& c : neutral) {
    if (IsPathSeparator(c)) {
      c = kNeutralSeparator;
    }
  }
  return neutral;
}

std::string& AppendNeutralPath(std::string_view separator, std::string& destination,
                               std::string_view neutral) {
  if (separator.empty()) {
    return destination;
  }
  for (char c : neutral) {
    destination += c == kNeutralSeparator ? separator.front() : c;
  }
  return destination;
}

bool IsHtmPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  return ext.size() == 3 && StartsWithNoCase(ext, "htm");
}

bool IsHeaderPath(std::string_view path) {
  const std::string ext = PathExtension(path);
  return ext.size() == kHeaderExtension.size() && StartsWithNoCase(ext, kHeaderExtension);
}

bool IsSafeRelativeName(std::string_view name) {
  if (name.empty() || IsPathSeparator(name.front())) {
    return false;
  }
  if (name.size() >= 2 && name[1] == ':') {
    return false;
  }
  for (char c : name) {
    // "|" would become a separator in the name's neutral form.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':' || c == kNeutralSeparator) {
      return false;
    }
  }
  std::string_view::size_type start = 0;
  while (start <= name.size()) {
    std::string_view::size_type end = start;
    while (end < name.size() && !IsPathSeparator(name[end])) {
      ++end;
    }
    const std::string_view part = name.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") {
      return false;
    }
    start = end + 1;
  }
  return true;
}

std::string JoinNativePath(std::string_view directory, std::string_view name) {
  std::string path(directory);
  if (!path.empty() && path.back() != '/') {
    path += '/';
  }
  AppendNeutralPath("/", path, NeutralPath(name));
  return path;
}

}  // namespace qx
