#pragma once

// SHA-256 of bytes and of a file, as lower-case hex. Signature layer, over
// libcrypto.

#include <cstddef>
#include <string>
#include <string_view>

#include "core/signature/signature_result.h"
#include "qxwebcore_export.h"

namespace qx {

// Hex digits of a SHA-256.
inline constexpr size_t kSha256TextLength = 64;

// The SHA-256 of |bytes|: 64 lower-case hex digits.
QXWEBCORE_EXPORT std::string Sha256Of(std::string_view bytes);

// The SHA-256 of the file |path|'s bytes, read in blocks.
QXWEBCORE_EXPORT SignatureResult<std::string> Sha256OfFile(const std::string& path);

// Whether |text| is a SHA-256 as Sha256Of writes it.
QXWEBCORE_EXPORT bool IsSha256Text(std::string_view text);

}  // namespace qx
