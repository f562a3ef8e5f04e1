#pragma once

#include "sealer/project/form_view.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// The Seal command: seals the project and its file list into the put-to
// directory and shows the completion message. True only after that message.
bool SealCommand(SealerState& state, FormView& view);

}  // namespace qx
