#pragma once

// The project file read into and written from a Project value, for the
// callers without a form (qxweb), with the form's messages. Sealer engine,
// without a window.

#include <string>

#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// Reads the project file |path| into |state| (the record, its path and its
// seal-from directory as the list's) and gives it with its file list. False
// when it cannot be opened (nothing shown) or is not a project file (after
// its messages).
bool LoadProject(SealerState& state, const std::string& path, Project& project);

// Resets the record to a new project with the settings' defaults.
void StartProject(SealerState& state);

// Saves a new project under the record's project path, as the window saves
// one whose fields were typed into a new form: the record's owner, name,
// command line, install-to, seal-from and put-to directories over the
// settings' defaults. The record had no name when the fields were typed, so
// its comment stays empty. False after a message.
bool CreateProject(SealerState& state, const SealerProject& record);

// Saves |project| under the record's project path, as the form's Save does
// (with the edition's fixed values). False after a message.
bool StoreProject(SealerState& state, const Project& project);

}  // namespace qx
