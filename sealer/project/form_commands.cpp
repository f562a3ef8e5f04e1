// The Seal and Scan commands over the form: the form's fields read into a
// request, Seal and Scan run with the form as their observer, and the
// result shown as the form always showed it. Sealer engine, without a window.
#include <string>
#include <utility>
#include <vector>

#include "core/fsutil/path_text.h"
#include "core/widthlist/width_list.h"
#include "sealer/project/form_messages.h"
#include "sealer/project/project_form.h"
#include "sealer/project/seal_boxes.h"
#include "sealer/project/seal_engine.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_messages.h"
#include "sealer/project/source_scan.h"

namespace qx {

namespace {

// Marks a seal as running for the life of the command.
class SealRunning {
 public:
  explicit SealRunning(SealerState& state) : state_(state) { state_.seal_running = true; }
  ~SealRunning() { state_.seal_running = false; }
  SealRunning(const SealRunning&) = delete;
  SealRunning& operator=(const SealRunning&) = delete;

 private:
  SealerState& state_;
};

// Replaces the visible list by |lines|, registering each line's width so the
// horizontal extent follows the new lines.
void ShowList(ListBox& list, const std::vector<std::string>& lines) {
  list.SetRedraw(false);
  list.Clear();
  WidthListReset(list);
  for (const std::string& line : lines) {
    list.Add(line);
    WidthListAdd(list, line);
  }
  list.Select(lines.empty() ? -1 : 0);
  list.SetRedraw(true);
}

}  // namespace

bool SealCommand(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  SealRunning running(state);
  SealerProject& project = state.project;
  project.appl_name = CutToWidth(view.FieldText(FormControl::kName), kApplNameWidth);
  if (project.appl_name.empty()) {
    return RefuseEmptyField(view, FormControl::kName);
  }
  project.put_to = CutToWidth(view.FieldText(FormControl::kPutTo), kDirectoryWidth);
  if (project.put_to.empty()) {
    return RefuseEmptyField(view, FormControl::kPutTo);
  }
  // A missing put-to directory is offered for creation by the seal, once the
  // whole form has passed its checks and the list has files to store.
  bool sealed = false;
  if (CollectForm(project, view, true, false)) {
    FormObserver observer(view);
    Result<SealedPackage> result =
        Seal(Project{project, ListLines(view.FileList())}, state.seal_options, observer);
    if (result.ok()) {
      project = std::move(result).value().record;
      sealed = true;
    } else {
      ShowSealError(view, result.error());
    }
  }
  // The record now holds the form's values (and, sealed, the day's date).
  state.project_modified = true;
  if (!sealed) {
    return false;
  }
  view.SealFinished();
  CurrentUserInterface().ShowMessageBox(SealCompleteBox(project.appl_name, view.Owner()));
  return true;
}

bool ScanCommand(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  SealerProject& project = state.project;
  project.seal_from = CutToWidth(view.FieldText(FormControl::kSealFrom), kDirectoryWidth);
  if (project.seal_from.empty()) {
    return RefuseEmptyField(view, FormControl::kSealFrom);
  }
  project.put_to = CutToWidth(view.FieldText(FormControl::kPutTo), kDirectoryWidth);
  if (project.put_to.empty()) {
    return RefuseEmptyField(view, FormControl::kPutTo);
  }
  // The old list is read only when the new one is merged with it.
  ListBox& visible = view.FileList();
  const bool merge = !project.prev_seal_from.empty() && project.prev_seal_from == project.seal_from;
  FormObserver observer(view);
  Result<ScanOutcome> scanned =
      Scan(Project{project, merge ? ListLines(visible) : std::vector<std::string>()}, observer);
  if (!scanned.ok()) {
    ShowSealError(view, scanned.error());
    return false;
  }
  const ScanOutcome& outcome = scanned.value();
  ShowList(visible, outcome.file_list);
  view.WorkList().Clear();
  project.prev_seal_from = project.seal_from;
  project.file_count = outcome.file_count;
  project.directory_count = outcome.directory_count;
  view.SetFieldText(FormControl::kDirectoryCount, std::to_string(project.directory_count));
  view.SetFieldText(FormControl::kFileCount, std::to_string(project.file_count));
  state.project_modified = true;
  if (!outcome.left_out.empty()) {
    InfoBox(view.Owner(), LeftOutMessage(outcome.left_out));
  }
  return true;
}

}  // namespace qx
