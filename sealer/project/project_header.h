#pragma once

// The key lines a project file and a package header share, written in the
// sealer's form. Sealer engine, without a window.

#include "core/format/header_lines.h"
#include "sealer/project/sealer_project.h"

namespace qx {

// Writes the lines a project file and a package header share, in the
// sealer's form: the magic line, the comment block (package only) and the
// 22 key lines, after stamping Date with today's date and copying Version
// into MinVersion when that is empty or the update is required. A project
// file then gets its own keys and the end-of-header line; a package header
// feeds its significant lines to the writer's digest. False when a write
// failed.
bool WriteHeaderLines(HeaderLineWriter& out, SealerProject& project, bool package);

}  // namespace qx
