// Reads of the client cache registry through the INI profiles: texts, numbers
// read as the C library reads a long, an application's section and the
// temporary directory. Cache layer.
#include "core/cache/cache_registry.h"

#include <limits>

#include "core/fsutil/path_text.h"
#include "core/platform/config_directory.h"
#include "core/platform/private_profile.h"

namespace qx {

namespace {

constexpr std::string_view kOwnerKey = "Owner";
constexpr std::string_view kCopyrightKey = "Copyright";
constexpr std::string_view kVersionKey = "Version";
constexpr std::string_view kCommandLineKey = "CommandLine";
constexpr std::string_view kReadmeKey = "ReadmeTxt";
constexpr std::string_view kDeleteCacheKey = "DeleteCache";
constexpr std::string_view kCompressedSizeKey = "CompressedSize";
constexpr std::string_view kUncompressSizeKey = "UncompressSize";
// A long's decimal text, as the number keys are read.
constexpr size_t kLongTextSize = 34;

// A decimal long as the C library reads one: blanks, a sign, digits; the
// rest ignored; saturated at the limits.
int64_t ParseLong(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) {
    ++pos;
  }
  bool negative = false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    negative = text[pos] == '-';
    ++pos;
  }
  constexpr int64_t kLimit = std::numeric_limits<int64_t>::max();
  int64_t value = 0;
  for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
    const int digit = text[pos] - '0';
    value = value > (kLimit - digit) / 10 ? kLimit : value * 10 + digit;
  }
  return negative ? -value : value;
}

}  // namespace

std::string CacheFilePath() {
  return ConfigFilePath(std::string(kCacheFileName));
}

size_t ReadCacheString(std::string_view section, std::string_view key, size_t size,
                       std::string_view default_value, std::string& out) {
  const std::string path = CacheFilePath();
  if (path.empty()) {
    out.assign(default_value.substr(0, size == 0 ? 0 : size - 1));
    return out.size();
  }
  return ReadProfileString(path, section, key, default_value, size, out);
}

int ReadCacheLong(std::string_view section, std::string_view key, int64_t default_value,
                  int64_t* out) {
  std::string text;
  ReadCacheString(section, key, kLongTextSize, std::to_string(default_value), text);
  if (out != nullptr) {
    *out = ParseLong(text);
  }
  return 1;
}

int ReadApplication(std::string_view name, CachedApplication* application) {
  if (application == nullptr) {
    return 0;
  }
  CachedApplication& app = *application;
  ReadCacheString(name, kOwnerKey, kCachedOwnerSize, "", app.owner);
  ReadCacheString(name, kCopyrightKey, kCachedCopyrightSize, "", app.copyright);
  ReadCacheString(name, kVersionKey, kCachedVersionSize, "", app.version);
  ReadCacheString(name, kCommandLineKey, kCachedCommandLineSize, "", app.command_line);
  ReadCacheString(name, kReadmeKey, kCachedReadmeSize, "", app.readme);
  ReadCacheString(name, kCompressedKey, kCachedCompressedSize, "Yes", app.compressed);
  ReadCacheString(name, kDeleteCacheKey, kCachedDeleteMarkSize, "No", app.delete_mark);
  ReadCacheLong(name, kCompressedSizeKey, 0, &app.compressed_size);
  ReadCacheLong(name, kUncompressSizeKey, 0, &app.uncompressed_size);
  return 1;
}

int ReadTempDirSetting(size_t size, std::string* out) {
  if (out == nullptr) {
    return 0;
  }
  if (ReadCacheString(kGeneralSection, kTempDirKey, size, "", *out) == 0) {
    return 0;
  }
  StripTrailingBackslash(*out);
  return 1;
}

}  // namespace qx
