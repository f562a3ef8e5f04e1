#pragma once

// Secure digests of whole things the client checks: a bitmap resource's rows
// and a text file's lines. Digest layer, over the platform's bitmap source.

#include <cstddef>

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

}  // namespace qx
