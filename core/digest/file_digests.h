#pragma once

// Secure digests of whole things the client checks: a bitmap resource's rows,
// a text file's lines and an open file's bytes. Digest layer, over the platform's bitmap source.

#include <cstddef>
#include <cstdint>

#include "core/platform/bitmap_source.h"
#include "qxwebcore_export.h"

namespace qx {

// Digest of a bitmap resource's rows (each row without its last two bytes),
// keyed by the resource name. 0, or -1 on any failure.
QXWEBCORE_EXPORT int DigestBitmapResource(ModuleHandle module, const char* name, size_t out_len,
                                          char* out);

// Digest of a text file's lines (line feeds included, CR LF read as LF),
// keyed by the file name without its directories. 0, or -1 on any failure.
QXWEBCORE_EXPORT int DigestTextFile(const char* path, size_t out_len, char* out);

// Digest of at most |limit| bytes of the open file |fd| from its offset,
// read in large blocks, keyed by |key_name| as SecureDigest keys (null:
// plain); |size| (may be null) receives the bytes read, fewer at the file's
// end. 0, or -1 when reading or the digest failed.
QXWEBCORE_EXPORT int DigestFileBytes(int fd, int64_t limit, int64_t* size, size_t out_len,
                                     char* out, const char* key_name);

}  // namespace qx
