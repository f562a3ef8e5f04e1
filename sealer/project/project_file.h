#pragma once

// The project file: read and written as a value, and the form's new, open
// and save over that, filling the form from the record and the record from
// the form. Sealer engine, without a window.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/result.h"
#include "core/platform/user_interface.h"
#include "sealer/project/form_view.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// Codes of a project file's errors.
enum ProjectFileError : int {
  kProjectNotOpened = 1,  // missing, unreadable or a directory: nothing more to say
  kProjectCorrupted,      // not a project file, or its list could not be read
  kProjectBadHeader,      // a header line is no key line: "Bad Project File" first
  kProjectNotSaved,       // the message says why
};

// The record a new project starts from: the settings' owner and copyright.
SealerProject NewProjectRecord(const SealerSettings& settings);

// Reads the project file |path|: its record, with project_path set, and its
// file list (the lines that are not empty).
Result<Project> ReadProjectFile(const std::string& path);

// Writes |record| and |file_list| to record.project_path, through a
// temporary file renamed over the old one, stamping the record's Date (and
// MinVersion) as the header lines are written. Refuses a value with a line
// break, which could not be read back.
Result<void> WriteProjectFile(SealerProject& record, const std::vector<std::string>& file_list);

// Shows the messages of a project file's error over |owner|, as the form
// shows them.
void ShowProjectFileError(const Error& error, WindowHandle owner);

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

// Saves the record and the file list, asking first when |ask_first| and
// choosing a new name when |save_as| or when the project has none. Refuses,
// after a message, a value with a line break, which could not be read back.
// True when the caller may go on: saved, or the user chose not to save.
bool SaveProject(SealerState& state, FormView& view, bool ask_first, bool save_as);

}  // namespace qx
