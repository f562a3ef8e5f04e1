#pragma once

// The checks a seal makes before it creates anything: whatever it would
// write, the client's reader must read back as written. Sealer engine,
// without a window.

#include "core/platform/result.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/sealer_project.h"

namespace qx {

// Refuses, with an error whose message names the field, file or line, a plan that
// would give a package no client can read: no file at all; a named file
// that is not a plain name in the seal-from directory's top level; an entry
// name the client refuses; a source that is missing or not a regular file;
// two entries with one output, or an entry over the package's own files
// (header, landing page, staging directory); a key value, entry or comment
// line that the reader would cut or read otherwise. Writes the header once
// into an anonymous temporary file and reads it back to make sure.
Result<void> CheckSealPlan(SealerProject& project, const SealPlan& plan);

// Refuses a plan that stores no file: the first of the plan's checks, made
// before the put-to directory is offered for creation.
Result<void> CheckPlanHasFiles(const SealPlan& plan);

// Whether the item names a file the seal may store, with the error that says
// why not otherwise: a list line without a path, or an unsafe name.
Result<void> CheckItemName(const SealPlanItem& item);

}  // namespace qx
