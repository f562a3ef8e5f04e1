#pragma once

// Where a header value meets the client: the package directory under the
// cache root, the client's record made from a parsed header, and
// ReadPackageHeader (declared with the record in header_reader.h). Package
// layer.

#include <memory>
#include <string>
#include <string_view>

#include "core/format/header_reader.h"
#include "core/format/header_value.h"
#include "qxwebcore_export.h"

namespace qx {

// Native path of a package under |cache_root|: the root, InstallTo and
// ApplName, cut to kMaxPackageDirectory. Empty when ApplName or InstallTo
// cannot make a safe path.
QXWEBCORE_EXPORT std::string PackageDirectoryFor(std::string_view cache_root,
                                                 const HeaderValues& values);

// The client's record of a parsed header: its values and entries, corrupt
// when the digest did not match, |source_text| (the bytes parsed, which the
// writer follows) and |package_directory|.
QXWEBCORE_EXPORT std::unique_ptr<PackageHeader> MakePackageRecord(ParsedHeader header,
                                                                  std::string source_text,
                                                                  std::string package_directory);

}  // namespace qx
