#pragma once

// The registry's key and section names beyond the public ones, the list key
// of a number, and the repair of the numbered list, shared by the registry
// and its list-box side; not part of the installed API. Cache layer.

#include <string>
#include <string_view>

#include "core/cache/cache_registry.h"

namespace qx::detail {

inline constexpr std::string_view kRootKey = "Root";
inline constexpr std::string_view kApplCountKey = "ApplCount";
// The list keys are this prefix and a decimal number from 1 to ApplCount.
inline constexpr std::string_view kListKeyPrefix = "Application.";
inline constexpr std::string_view kEnvironmentSection = "Environment";
inline constexpr std::string_view kOSKey = "OS";
inline constexpr std::string_view kSplashSection = "Splash Screens";
inline constexpr std::string_view kSplashKey = "Splash";
// Keys of an application's section, named after the application.
// Those of the header's values are the key table's.
inline constexpr std::string_view kOwnerKey = HeaderKeyOf(HeaderKey::kOwner).cache_key;
inline constexpr std::string_view kCopyrightKey = HeaderKeyOf(HeaderKey::kCopyright).cache_key;
inline constexpr std::string_view kVersionKey = HeaderKeyOf(HeaderKey::kVersion).cache_key;
inline constexpr std::string_view kCommandLineKey = HeaderKeyOf(HeaderKey::kCommandLine).cache_key;
inline constexpr std::string_view kReadmeKey = HeaderKeyOf(HeaderKey::kReadmeFile).cache_key;
inline constexpr std::string_view kDeleteCacheKey = "DeleteCache";
inline constexpr std::string_view kCompressedSizeKey = "CompressedSize";
inline constexpr std::string_view kUncompressSizeKey = "UncompressSize";
inline constexpr std::string_view kMarkedText = "Yes";
inline constexpr std::string_view kUnmarkedText = "No";

// The list key of |number|: "Application.7".
inline std::string ListKey(long long number) {
  return std::string(kListKeyPrefix) + std::to_string(number);
}

// Brings the list keys of a hand-damaged or crash-interrupted registry back
// to 1..n without gaps, with ApplCount = n and no list key beyond it: the
// names of every list key present (also those beyond ApplCount) are kept in
// their order, empty ones dropped, and with |drop_duplicates| a name listed
// again (compared without case) dropped too. Writes nothing when the list
// is whole. Returns n.
int RepairApplicationList(bool drop_duplicates = false);

}  // namespace qx::detail
