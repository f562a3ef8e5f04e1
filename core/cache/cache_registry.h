#pragma once

// The client cache registry, qxweb.ini in the configuration directory: its
// names, one application's record, reads and writes of texts and numbers,
// the settings, and the numbered list of cached applications. Cache layer.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_lines.h"
#include "qxwebcore_export.h"

namespace qx {

// The client cache registry: an INI file in the configuration directory.
inline constexpr std::string_view kCacheFileName = "qxweb.ini";
inline constexpr std::string_view kGeneralSection = "General";
inline constexpr std::string_view kTempDirKey = "TempDir";
inline constexpr std::string_view kCompressedKey = "Compressed";

// Buffer sizes of the application record's texts, terminating zero included:
// a value read keeps at most one character less. Those of the header's
// values are the key table's.
inline constexpr size_t kCachedNameSize = 256;
inline constexpr size_t kCachedOwnerSize = HeaderKeyOf(HeaderKey::kOwner).cache_size;
inline constexpr size_t kCachedCopyrightSize = HeaderKeyOf(HeaderKey::kCopyright).cache_size;
inline constexpr size_t kCachedVersionSize = HeaderKeyOf(HeaderKey::kVersion).cache_size;
inline constexpr size_t kCachedCommandLineSize = HeaderKeyOf(HeaderKey::kCommandLine).cache_size;
inline constexpr size_t kCachedReadmeSize = HeaderKeyOf(HeaderKey::kReadmeFile).cache_size;
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

// Why the application named |name| (its cache name, "InstallTo\ApplName")
// could not be recorded and read back unchanged, both here (a section name
// and a list value read with kCachedNameSize) and in the registry store (a
// key path ending in it): a short reason to follow the name, such as "holds
// "]", which the cache registry cannot hold in a section name"; nullptr when
// it can be recorded.
QXWEBCORE_EXPORT const char* CacheNameFault(std::string_view name);

// The cache name of a package: its InstallTo's levels joined by "\", "\"
// and its ApplName ("\ApplName" without InstallTo).
QXWEBCORE_EXPORT std::string PackageCacheName(std::string_view install_to,
                                              std::string_view appl_name);

// The part of a package's names that holds the fault of its cache name.
enum class CacheNamePart { kApplName, kInstallTo, kJoined };

// CacheNameFault of the package's cache name, with the part that holds it
// in |part| (the ApplName or the InstallTo on its own, else their join).
QXWEBCORE_EXPORT const char* PackageCacheNameFault(std::string_view install_to,
                                                   std::string_view appl_name, CacheNamePart* part);

// |key| of |section| into |out| (at most |size| - 1 characters), or
// |default_value| when missing. Returns the number of characters copied.
QXWEBCORE_EXPORT size_t ReadCacheString(std::string_view section, std::string_view key, size_t size,
                                        std::string_view default_value, std::string& out);

// |key| of |section| as a decimal number (|default_value| when missing) into
// |out|. Returns 1.
QXWEBCORE_EXPORT int ReadCacheLong(std::string_view section, std::string_view key,
                                   int64_t default_value, int64_t* out);

// Writes |key| of |section|; a null |value| deletes the key, a null |key|
// the whole section. Returns 1, or 0 after a box telling of the failure.
QXWEBCORE_EXPORT int WriteCacheString(std::string_view section, std::optional<std::string_view> key,
                                      std::optional<std::string_view> value);

// |key| of |section| as a decimal int (|default_value| when missing) into
// |out|. Returns 1.
QXWEBCORE_EXPORT int ReadCacheInt(std::string_view section, std::string_view key, int default_value,
                                  int* out);

// Writes |value| in decimal as WriteCacheString does; -1 deletes the key.
QXWEBCORE_EXPORT int WriteCacheInt(std::string_view section, std::string_view key, int value);
QXWEBCORE_EXPORT int WriteCacheLong(std::string_view section, std::string_view key, int64_t value);

// General/Root into |out| (at most |size| - 1 characters) without one
// trailing separator: 1, or 0 when nothing was read.
QXWEBCORE_EXPORT int ReadRootSetting(size_t size, std::string* out);
// Removes one trailing separator from |path| itself, then writes it as General/Root.
QXWEBCORE_EXPORT void WriteRootSetting(std::string* path);

// General/TempDir into |out| (at most |size| - 1 characters) without one
// trailing separator: 1, or 0 when nothing was read.
QXWEBCORE_EXPORT int ReadTempDirSetting(size_t size, std::string* out);
// Removes one trailing separator from |path| itself, then writes it as General/TempDir.
QXWEBCORE_EXPORT void WriteTempDirSetting(std::string* path);

// Environment/OS, unchanged: the read returns the number of characters, the
// write the result of WriteCacheString.
QXWEBCORE_EXPORT size_t ReadOSSetting(size_t size, std::string* out);
QXWEBCORE_EXPORT int WriteOSSetting(std::string_view text);

// The application's Compressed and DeleteCache values, read with an empty
// default; results as for the OS setting.
QXWEBCORE_EXPORT size_t ReadCompressedSetting(std::string_view name, size_t size, std::string* out);
QXWEBCORE_EXPORT int WriteCompressedSetting(std::string_view name, std::string_view text);
QXWEBCORE_EXPORT size_t ReadDeleteCacheSetting(std::string_view name, size_t size,
                                               std::string* out);
QXWEBCORE_EXPORT int WriteDeleteCacheSetting(std::string_view name, std::string_view text);

// General/ApplCount (0 when missing) into |out|; returns 1.
QXWEBCORE_EXPORT int ReadApplCount(int* out);
QXWEBCORE_EXPORT void WriteApplCount(int count);

// Splash Screens/Splash into |out| without one trailing separator: 1, or 0
// when nothing was read.
QXWEBCORE_EXPORT int ReadSplashSetting(size_t size, std::string* out);

// The list index (1 to ApplCount) of |name|, compared without case, or -1.
// Stores ApplCount through |count| when given.
QXWEBCORE_EXPORT int FindApplication(std::string_view name, int* count);

// The names the list holds, in list order, empty ones left out. Only the
// list keys present are read, so a damaged ApplCount cannot make it long.
QXWEBCORE_EXPORT std::vector<std::string> ListedApplicationNames();

// The name held by list key |index| into |out| (at most kCachedNameSize - 1
// characters): 1, or 0 when the key holds none.
QXWEBCORE_EXPORT int GetApplicationName(int index, std::string* out);

// Reads the application's section into |application| (its name is not
// touched): Compressed defaults to "Yes", DeleteCache to "No". Returns 1.
QXWEBCORE_EXPORT int ReadApplication(std::string_view name, CachedApplication* application);

// Reads the record of the application at list |index| (the record's name is
// not touched): 1, or 0 when the index holds no name.
QXWEBCORE_EXPORT int ReadApplicationByIndex(int index, CachedApplication* application);

// Writes the record's values into the section |name|. Without |search|: 1
// when every value was written, else 0; the list is not touched. With
// |search|: the list index of |name| (compared with case), appending it to
// the list when it is not there.
QXWEBCORE_EXPORT int StoreApplication(std::string_view name, const CachedApplication& application,
                                      bool search);
// StoreApplication with search.
QXWEBCORE_EXPORT int StoreApplicationListed(std::string_view name,
                                            const CachedApplication& application);

// Stores the record under its name, first appending the name to the list
// when its section has no command line yet (a new application). Returns the
// store's result: 1 when the record was written whole.
QXWEBCORE_EXPORT int AddOrUpdateApplication(const CachedApplication& application);

// Writes the record's CommandLine and Compressed values; nothing for an
// unnamed record. A command line that is what ReadApplication keeps of a
// longer stored one leaves the stored one as it is.
QXWEBCORE_EXPORT void SaveLaunchSettings(const CachedApplication& application);

// Takes |name| out of the list (at |index|, or wherever it is for -1),
// moving the later names up, and deletes its section; the files stay. With an
// index, |count| gives ApplCount. Stores the new count through |count|.
// Returns 1, or 0 when the name is not listed there.
QXWEBCORE_EXPORT int RemoveApplicationEntry(std::string_view name, int index, int* count);

}  // namespace qx
