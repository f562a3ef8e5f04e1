// The project file read into and written from a Project value, for the
// callers without a form (qxweb): the record takes the values as the form's
// fields would hold them. Sealer engine, without a window.
#include "sealer/project/project_store.h"

#include <utility>

#include "sealer/project/project_file.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

// Takes into |project| what the form's fields would hold of |typed|, as the
// form's save collects them: each value cut to its field, and the edition's
// fixed values.
void TakeFields(SealerProject& project, const SealerProject& typed) {
  project.owner = CutToWidth(typed.owner, kOwnerFieldLimit + 1);
  CollectFixedValues(project);
  project.install_to = CutToWidth(typed.install_to, kPathFieldLimit + 1);
  project.appl_name = CutToWidth(typed.appl_name, kPathFieldLimit + 1);
  project.command_line = CutToWidth(typed.command_line, kCommandLineFieldLimit + 1);
  project.seal_from = CutToWidth(typed.seal_from, kPathFieldLimit + 1);
  project.put_to = CutToWidth(typed.put_to, kPathFieldLimit + 1);
}

bool Write(SealerState& state, const std::vector<std::string>& file_list) {
  if (const Result<void> written = WriteProjectFile(state.project, file_list); !written) {
    ShowProjectFileError(written.error(), nullptr);
    return false;
  }
  state.project_modified = false;
  return true;
}

}  // namespace

bool LoadProject(SealerState& state, const std::string& path, Project& project) {
  Result<Project> read = ReadProjectFile(path);
  if (!read) {
    ShowProjectFileError(read.error(), nullptr);
    if (read.error().code != kProjectNotOpened) {
      StartProject(state);
    }
    return false;
  }
  project = std::move(read.value());
  // As the form holds it once filled: the scan compares the seal-from
  // directory with the one the list was made from.
  project.record.prev_seal_from = project.record.seal_from;
  state.project = project.record;
  state.project_modified = false;
  return true;
}

void StartProject(SealerState& state) {
  state.project = NewProjectRecord(state.settings);
  state.project_modified = false;
}

bool CreateProject(SealerState& state, const SealerProject& record) {
  StartProject(state);
  TakeFields(state.project, record);
  state.project.project_path = record.project_path;
  return Write(state, {});
}

bool StoreProject(SealerState& state, const Project& project) {
  state.project = project.record;
  state.project.prev_seal_from = state.project.seal_from;
  TakeFields(state.project, project.record);
  return Write(state, project.file_list);
}

}  // namespace qx
