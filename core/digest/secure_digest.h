#pragma once

// The secure digest: an incremental MD5 whose result is keyed with RC4 under a
// key derived from a name. Digest layer; it stands on libcrypto alone.

#include <cstddef>
#include <memory>

#include "qxwebcore_export.h"

namespace qx {

// Result codes of the digest operations.
inline constexpr int kDigestOk = 0;
inline constexpr int kDigestFailed = -1;

// Characters of a digest text, and the buffer the sealer passes (with the
// terminating zero).
inline constexpr size_t kDigestTextLength = 32;
inline constexpr size_t kDigestBufferSize = 33;

// One incremental MD5 computation.
struct DigestContext;

struct QXWEBCORE_EXPORT DigestContextDeleter {
  void operator()(DigestContext* context) const;
};
using DigestPtr = std::unique_ptr<DigestContext, DigestContextDeleter>;

// A new context in the MD5 starting state; null when memory runs out.
QXWEBCORE_EXPORT DigestPtr DigestNew();

// Feeds |count| bytes (0 feeds nothing).
QXWEBCORE_EXPORT void DigestUpdate(DigestContext* context, const void* bytes, size_t count);

// Finalises |context| and writes the digest text into |out| with a bounded
// copy of |out_len| characters (zero-filled beyond 32, unterminated at 32 or
// less). A null |key_name| gives the plain MD5; otherwise the MD5 is
// encrypted with RC4 under a key derived from the key prefix and the name.
// Returns 0, or -1 when scratch memory cannot be had. The context is not
// reused afterwards.
QXWEBCORE_EXPORT int SecureDigest(DigestContext* context, char* out, size_t out_len,
                                  const char* key_name);

}  // namespace qx
