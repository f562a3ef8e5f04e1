#pragma once

// SHA-256 of bytes and of a file, as lower-case hex. Signature layer, over
// libcrypto.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "core/signature/signature_result.h"
#include "qxwebcore_export.h"

namespace qx {

// Hex digits of a SHA-256.
inline constexpr size_t kSha256TextLength = 64;

// A SHA-256 taken over bytes as they come.
class QXWEBCORE_EXPORT Sha256Stream {
 public:
  Sha256Stream();
  ~Sha256Stream();
  Sha256Stream(Sha256Stream&&) noexcept;
  Sha256Stream& operator=(Sha256Stream&&) noexcept;

  void Update(const void* data, size_t count);
  // The SHA-256 of the bytes so far, as Sha256Of writes it; empty when
  // libcrypto failed. Ends the stream.
  std::string Finish();

 private:
  struct Context;
  std::unique_ptr<Context> context_;
};

// The SHA-256 of |bytes|: 64 lower-case hex digits.
QXWEBCORE_EXPORT std::string Sha256Of(std::string_view bytes);

// The SHA-256 of the file |path|'s bytes, read in blocks.
QXWEBCORE_EXPORT SignatureResult<std::string> Sha256OfFile(const std::string& path);

// Whether |text| is a SHA-256 as Sha256Of writes it.
QXWEBCORE_EXPORT bool IsSha256Text(std::string_view text);

}  // namespace qx
