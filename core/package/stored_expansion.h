#pragma once

// Stored files turned into their expanded form on worker threads, each
// checked on the bytes it is read from: its Length, its keyed digest and
// the Size it must expand to. The launch of a cached application expands
// in place, each file into a temporary beside it that takes its place only
// when every file has expanded; a launch killed part way leaves each file
// whole in one form or the other, which the next one tells apart. Package
// layer.

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/format/header_reader.h"

namespace qx {

// The suffix of the temporary a stored file is expanded into beside
// itself. No entry name can end in it: names never hold ";".
inline constexpr std::string_view kExpandingSuffix = ";expanding";

// Expands the stored file of |entry|, read from the start of |input|, onto
// |output|: its Length and its digest keyed by |key| are checked on the
// bytes read, and it must expand to exactly its Size. A named file
// (|named|) is copied, its digest checked the same way. Empty, or what is
// wrong with the file (without its name). Safe on any thread.
std::string ExpandEntryStream(std::FILE* input, std::FILE* output, const FileEntry& entry,
                              const char* key, bool named);

// The same into a new file |target| (any file there is replaced), which
// takes the source's time stamps; |target| is removed again on failure.
std::string ExpandEntryFile(const std::string& source, const std::string& target,
                            const FileEntry& entry, const char* key, bool named);

// What an in-place expansion of a package directory found and did.
struct InPlaceExpansion {
  int expanded = 0;                   // stored files expanded now
  int found = 0;                      // files an earlier, interrupted run had expanded
  std::vector<std::string> problems;  // "NAME: what is wrong"; nothing changed then
};

// Expands every stored file of |record| in its package directory on
// |threads| threads (0: one per processor): temporaries left by an earlier
// run are removed, a file that still has its stored Length and digest is
// expanded into NAME;expanding, and a file that has its Size already (an
// earlier run expanded it) is left. Only when every file is in one of
// these forms do the temporaries take their files' places; otherwise they
// are removed and nothing changes. Named files are checked, not expanded.
InPlaceExpansion ExpandInPlace(const PackageHeader& record, int threads = 0);

}  // namespace qx
