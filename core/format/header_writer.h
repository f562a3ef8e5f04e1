#pragma once

// The library's header writer: a PackageHeader record as header text, in the
// form the reader beside it reads back; a record read from a header is
// written back along the lines it was read from. Format layer.

#include <cstdio>

#include "core/format/header_reader.h"
#include "core/format/header_value.h"
#include "qxwebcore_export.h"

namespace qx {

// Writes |record| to |file| in the library writer's form, with the record's
// stored header digest as trailer: it is never computed here, so a record
// whose digested values changed writes a header that reads as corrupt.
// A record read from a header (one with a source text) is written along
// that header's lines, each in its place: the lines of its values in the
// writer's form where that form feeds the digest the same text or the value
// changed, else as read; the lines the record keeps nothing of as read
// (unknown text, file entries the record had no room for, counted
// comments); the writer's comment block after the magic line; blank lines
// and the header's own comment block left out. A sound header so read and
// written reads back with the same values (as long as its entries still fit
// the shorter text: see kHeaderBytesPerEntry). A record made otherwise gets
// the magic line with its format version, the comment block, every key line
// (RegistryFile only when the format or the record carries it) and the
// entries. Entries in client states 3 and 4 are left out either way.
// kHeaderOk, or kHeaderFailed for no file or when a write failed.
QXWEBCORE_EXPORT int WriteHeaderText(std::FILE* file, const PackageHeader& record);

// Writes a parsed header back along its own lines as the record read from
// it would be written: a header in the library writer's form (without blank
// lines) comes out byte for byte as it was parsed, its unknown lines in
// their places. kHeaderOk, or kHeaderFailed for no file or when a write
// failed.
QXWEBCORE_EXPORT int WriteHeaderText(std::FILE* file, const ParsedHeader& header);

}  // namespace qx
