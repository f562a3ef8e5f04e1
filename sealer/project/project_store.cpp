// The project file read into and written from a Project value: the project
// file's reader and writer work over a form, so a form held in memory
// stands between them and the value. Sealer engine, without a window.
#include "sealer/project/project_store.h"

#include <utility>

#include "sealer/project/memory_form_view.h"
#include "sealer/project/project_file.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

bool LoadProject(SealerState& state, const std::string& path, Project& project) {
  MemoryFormView form;
  if (!OpenProject(state, form, path)) {
    return false;
  }
  project.record = state.project;
  project.file_list = ListLines(form.file_list());
  return true;
}

void StartProject(SealerState& state) {
  MemoryFormView form;
  NewProject(state, form);
}

bool CreateProject(SealerState& state, const SealerProject& record) {
  MemoryFormView form;
  NewProject(state, form);
  form.SetFieldText(FormControl::kOwner, record.owner);
  form.SetFieldText(FormControl::kName, record.appl_name);
  form.SetFieldText(FormControl::kCommandLine, record.command_line);
  form.SetFieldText(FormControl::kInstallTo, record.install_to);
  form.SetFieldText(FormControl::kSealFrom, record.seal_from);
  form.SetFieldText(FormControl::kPutTo, record.put_to);
  state.project.project_path = record.project_path;
  return SaveProject(state, form, false, false);
}

bool StoreProject(SealerState& state, const Project& project) {
  MemoryFormView form;
  state.project = project.record;
  FillForm(state, form, state.project.project_path);
  for (const std::string& line : project.file_list) {
    form.FileList().Add(line);
  }
  return SaveProject(state, form, false, false);
}

}  // namespace qx
