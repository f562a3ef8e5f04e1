#pragma once

// The project file, read and written as a value. Sealer engine, without a
// window.

#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/result.h"
#include "core/platform/user_interface.h"
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

// The error of a record that has a value with a line break, which could not
// be read back; nothing when every value can be written.
Result<void> CheckProjectWritable(const SealerProject& record);

// Shows the messages of a project file's error over |owner|, as the form
// shows them.
void ShowProjectFileError(const Error& error, WindowHandle owner);

}  // namespace qx
