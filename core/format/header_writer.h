#pragma once

// The library's header writer: a PackageHeader record as header text, in the
// form the reader beside it reads back. Format layer.

#include <cstdio>

#include "core/format/header_reader.h"
#include "qxwebcore_export.h"

namespace qx {

// Writes |record| to |file| in the library writer's form: magic line with the
// record's format version, comment block, key lines (RegistryFile only when
// the format or the record carries it), the entries (client states 3 and 4
// left out) and the record's stored header digest as trailer. kHeaderOk, or
// kHeaderFailed for no file or when a write failed.
QXWEBCORE_EXPORT int WriteHeaderText(std::FILE* file, const PackageHeader& record);

}  // namespace qx
