#pragma once

// The project file: new, open and save, filling the form from the record
// and the record from the form. Sealer engine, without a window.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "sealer/project/form_view.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// Resets the record to a new project (defaults from the settings) and fills
// the form from it. False, doing nothing, while a seal runs.
bool NewProject(SealerState& state, FormView& view);

// Writes the record into the form, names the window after |project_path|
// (or a new file), empties the file list, resets the lists' width tables,
// focuses Owner, clears ProjectModified and disables Scan and Seal.
void FillForm(SealerState& state, FormView& view, std::optional<std::string_view> project_path);

// Reads a project file into the record, the form and the file list. False
// when it cannot be opened (nothing changed), when it is not a project file
// (after its messages; the project is then new) or while a seal runs.
bool OpenProject(SealerState& state, FormView& view, const std::string& path);

// Reads the key lines of a project file up to its end-of-header line into
// |project| (cleared first, all but project_path). False when the magic line
// is missing, or (after "Bad Project File") when a line is not a key line.
bool ReadProjectHeader(std::FILE* file, SealerProject& project);

// Saves the record and the file list, asking first when |ask_first| and
// choosing a new name when |save_as| or when the project has none. Refuses,
// after a message, a value with a line break, which could not be read back.
// True when the caller may go on: saved, or the user chose not to save.
bool SaveProject(SealerState& state, FormView& view, bool ask_first, bool save_as);

}  // namespace qx
