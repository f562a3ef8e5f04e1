// The form's project commands over the project file's values, and the
// record collected from the form. Sealer engine, for a form.
#include "sealer/project/project_form.h"

#include <string>
#include <utility>

#include "core/widthlist/width_list.h"
#include "sealer/project/form_messages.h"
#include "sealer/project/project_file.h"
#include "sealer/project/sealer_messages.h"

namespace qx {

namespace {

constexpr char kWindowTitle[] = "Tarnwick Web Lite Sealer";
constexpr char kNewFileTitle[] = "New Sealer Control File";
constexpr char kSaveQuestion[] = "Do you want to save the modified Project File?";

std::string ReadField(const FormView& view, FormControl id, size_t limit) {
  return CutToWidth(view.FieldText(id), limit + 1);
}

// Where the file dialog starts for a project without a path.
std::string ProposedProjectPath(const SealerState& state) {
  std::string name;
  if (!state.project.appl_name.empty()) {
    name = state.project.appl_name + "." + std::string(kProjectFileExtension);
  }
  std::string directory = state.settings.project_directory;
  if (directory.empty()) {
    return name;
  }
  if (directory.back() != '/' && directory.back() != '\\') {
    directory += '/';
  }
  return directory + name;
}

}  // namespace

bool CollectForm(SealerProject& project, FormView& view, bool validate, bool offer_put_to) {
  FormObserver observer(view);
  // Each field is checked as it is read: a refused one leaves the later
  // fields of the record as they were.
  auto check = [&](SealField field) {
    return !validate || Shown(view, CheckSealField(project, field, observer, offer_put_to));
  };
  project.owner = ReadField(view, FormControl::kOwner, kOwnerFieldLimit);
  CollectFixedValues(project);
  project.install_to = ReadField(view, FormControl::kInstallTo, kPathFieldLimit);
  if (!check(SealField::kInstallTo)) {
    return false;
  }
  project.appl_name = ReadField(view, FormControl::kName, kPathFieldLimit);
  if (!check(SealField::kApplName)) {
    return false;
  }
  project.command_line = ReadField(view, FormControl::kCommandLine, kCommandLineFieldLimit);
  if (!check(SealField::kCommandLine)) {
    return false;
  }
  project.seal_from = ReadField(view, FormControl::kSealFrom, kPathFieldLimit);
  if (!check(SealField::kSealFrom)) {
    return false;
  }
  project.put_to = ReadField(view, FormControl::kPutTo, kPathFieldLimit);
  return check(SealField::kPutTo);
}

bool NewProject(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  state.project = NewProjectRecord(state.settings);
  FillForm(state, view, std::nullopt);
  return true;
}

void FillForm(SealerState& state, FormView& view, std::optional<std::string_view> project_path) {
  SealerProject& project = state.project;
  view.EnableStatusTexts(false);
  view.SetFieldText(FormControl::kOwner, project.owner);
  view.SetFieldText(FormControl::kName, project.appl_name);
  view.SetFieldText(FormControl::kInstallTo, project.install_to);
  view.SetFieldText(FormControl::kCommandLine, project.command_line);
  view.SetFieldText(FormControl::kSealFrom, project.seal_from);
  view.SetFieldText(FormControl::kPutTo, project.put_to);
  // A named project keeps its name: the package files are named after it.
  view.EnableControl(FormControl::kName, project.appl_name.empty());
  project.prev_seal_from = project.seal_from;

  std::string title = kWindowTitle;
  title += " - [";
  title += project_path && !project_path->empty() ? *project_path : kNewFileTitle;
  title += "]";
  view.SetWindowTitle(title);

  view.FileList().Clear();
  view.SetFieldText(FormControl::kDirectoryCount, "0");
  view.SetFieldText(FormControl::kFileCount, "0");
  WidthListReset(view.FileList());
  WidthListReset(view.WorkList());
  view.FocusControl(FormControl::kOwner, true);
  // After the field writes, which mark the form as edited.
  state.project_modified = false;
  view.EnableControl(FormControl::kScan, false);
  view.EnableControl(FormControl::kSeal, false);
  view.EnableStatusTexts(true);
}

bool OpenProject(SealerState& state, FormView& view, const std::string& path) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  Result<Project> read = ReadProjectFile(path);
  if (!read) {
    // A file that cannot be opened at all leaves the form, its path and
    // its title as they were.
    if (read.error().code == kProjectNotOpened) {
      BeepAndShow(BeepKind::kSimple, {view.Owner(), read.error().message, kSealerCaption,
                                      BoxIcon::kStop, BoxButtons::kOk});
      return false;
    }
    ShowProjectFileError(read.error(), view.Owner());
    NewProject(state, view);
    return false;
  }
  SealerProject& project = state.project;
  project = std::move(read.value().record);
  FillForm(state, view, path);
  view.SetFieldText(FormControl::kDirectoryCount, std::to_string(project.directory_count));
  view.SetFieldText(FormControl::kFileCount, std::to_string(project.file_count));

  ListBox& list = view.FileList();
  list.SetRedraw(false);
  for (const std::string& line : read.value().file_list) {
    list.Add(line);
    WidthListAdd(list, line);
  }
  list.SetRedraw(true);
  if (list.Count() > 0) {
    list.Select(0);
  }
  return true;
}

bool SaveProject(SealerState& state, FormView& view, bool ask_first, bool save_as) {
  // Collecting the form would change the record a running seal works from.
  if (RefuseWhileSealing(state)) {
    return false;
  }
  if (ask_first) {
    BoxAnswer answer = AskBox(view.Owner(), kSaveQuestion, BoxButtons::kYesNoCancel);
    if (answer == BoxAnswer::kNo) {
      return true;
    }
    if (answer != BoxAnswer::kYes) {
      return false;
    }
  }
  SealerProject& project = state.project;
  CollectForm(project, view, false);
  // Refused before a name is asked for.
  if (const Result<void> writable = CheckProjectWritable(project); !writable) {
    ShowProjectFileError(writable.error(), view.Owner());
    return false;
  }

  bool choose = save_as || project.project_path.empty();
  if (choose) {
    std::string path =
        project.project_path.empty() ? ProposedProjectPath(state) : project.project_path;
    if (!view.ChooseProjectFile(path)) {
      // The next Save asks for a name again.
      project.project_path.clear();
      return false;
    }
    project.project_path = path;
  }
  if (const Result<void> written = WriteProjectFile(project, ListLines(view.FileList()));
      !written) {
    ShowProjectFileError(written.error(), view.Owner());
    return false;
  }
  state.project_modified = false;
  return true;
}

}  // namespace qx
