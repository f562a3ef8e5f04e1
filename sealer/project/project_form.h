#pragma once

// The form's project commands: new, open and save over the project file's
// values, the form filled from the record and the record collected from the
// form. Sealer engine, for a form.

#include <optional>
#include <string>
#include <string_view>

#include "sealer/project/form_view.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// Copies the form into the record. Without |validate| it never shows a
// message and succeeds. With it the fields are checked as they are read and
// the first failing check shows its message, moves the focus and fails; a
// missing put-to directory is offered for creation when |offer_put_to|.
bool CollectForm(SealerProject& project, FormView& view, bool validate, bool offer_put_to = true);

// Resets the record to a new project (defaults from the settings) and fills
// the form from it. False, doing nothing, while a seal runs.
bool NewProject(SealerState& state, FormView& view);

// Writes the record into the form, names the window after |project_path|
// (or a new file), empties the file list, resets the lists' width tables,
// focuses Owner, clears ProjectModified and disables Scan and Seal.
void FillForm(SealerState& state, FormView& view, std::optional<std::string_view> project_path);

// Reads a project file into the record, the form and the file list. False
// when it cannot be opened (nothing changed, after a box that says why), when it is not a project
// file (after its messages; the project is then new) or while a seal runs.
bool OpenProject(SealerState& state, FormView& view, const std::string& path);

// Saves the record and the file list, asking first when |ask_first| and
// choosing a new name when |save_as| or when the project has none. Refuses,
// after a message, a value with a line break, which could not be read back.
// True when the caller may go on: saved, or the user chose not to save.
bool SaveProject(SealerState& state, FormView& view, bool ask_first, bool save_as);

}  // namespace qx
