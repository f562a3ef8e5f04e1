#pragma once

// The client cache registry, qxweb.ini in the configuration directory: its
// names, one application's record, and reads of texts, numbers and the
// temporary directory setting. Cache layer.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "qxwebcore_export.h"

namespace qx {

// The client cache registry: an INI file in the configuration directory.
inline constexpr std::string_view kCacheFileName = "qxweb.ini";
inline constexpr std::string_view kGeneralSection = "General";
inline constexpr std::string_view kTempDirKey = "TempDir";
inline constexpr std::string_view kCompressedKey = "Compressed";

// Buffer sizes of the application record's texts, terminating zero included:
// a value read keeps at most one character less.
inline constexpr size_t kCachedNameSize = 256;
inline constexpr size_t kCachedOwnerSize = 128;
inline constexpr size_t kCachedCopyrightSize = 128;
inline constexpr size_t kCachedVersionSize = 10;
inline constexpr size_t kCachedCommandLineSize = 128;
inline constexpr size_t kCachedReadmeSize = 256;
inline constexpr size_t kCachedCompressedSize = 4;
inline constexpr size_t kCachedDeleteMarkSize = 4;
// Size of the temporary directory setting as the package operations read it.
inline constexpr size_t kTempDirSettingSize = 261;

// One application's section of the registry.
struct CachedApplication {
  std::string name;  // the section name
  std::string owner;
  std::string copyright;
  std::string version;
  std::string command_line;
  std::string readme;
  std::string compressed;  // "Yes" while the files are held in stored form
  int64_t uncompressed_size = 0;
  int64_t compressed_size = 0;
  std::string delete_mark;
};

// Path of the registry file; empty when there is no configuration directory.
QXWEBCORE_EXPORT std::string CacheFilePath();

// |key| of |section| into |out| (at most |size| - 1 characters), or
// |default_value| when missing. Returns the number of characters copied.
QXWEBCORE_EXPORT size_t ReadCacheString(std::string_view section, std::string_view key, size_t size,
                                        std::string_view default_value, std::string& out);

// |key| of |section| as a decimal number (|default_value| when missing) into
// |out|. Returns 1.
QXWEBCORE_EXPORT int ReadCacheLong(std::string_view section, std::string_view key,
                                   int64_t default_value, int64_t* out);

// Reads the application's section into |application| (its name is not
// touched): Compressed defaults to "Yes", DeleteCache to "No". Returns 1.
QXWEBCORE_EXPORT int ReadApplication(std::string_view name, CachedApplication* application);

// General/TempDir into |out| (at most |size| - 1 characters) without one
// trailing separator: 1, or 0 when nothing was read.
QXWEBCORE_EXPORT int ReadTempDirSetting(size_t size, std::string* out);

}  // namespace qx
