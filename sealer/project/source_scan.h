#pragma once

#include "sealer/project/form_view.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// The Scan command: lists the seal-from tree into the file list (merging
// with the list it replaces when the seal-from directory is unchanged) and
// sets the counts. False when it did not run or failed; the visible list is
// then unchanged.
bool ScanCommand(SealerState& state, FormView& view);

}  // namespace qx
