// The Seal and Scan commands over the form: the form's fields read into a
// request and the questions asked, Seal and Scan run, and the result shown
// as the form always showed it.
#include "sealer/project/form_commands.h"

#include <string>
#include <utility>
#include <vector>

#include "core/fsutil/path_text.h"
#include "core/widthlist/width_list.h"
#include "sealer/project/form_messages.h"
#include "sealer/project/install_page.h"
#include "sealer/project/project_form.h"
#include "sealer/project/seal_boxes.h"
#include "sealer/project/seal_engine.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_messages.h"
#include "sealer/project/sealer_settings.h"
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

// The form's progress step as a run's.
RunProgress FormProgress(FormView& view) {
  return [&view](std::string_view text, const SealProgress* progress) {
    return view.ProgressStep(text, progress);
  };
}

// Shows the notices a run went on after, in their order.
void ShowNotices(FormView& view, const std::vector<Error>& notices) {
  FormObserver observer(view);
  for (const Error& notice : notices) {
    observer.Notice(notice);
  }
}

}  // namespace

std::optional<FormRequest> BeginSeal(SealerState& state, FormView& view) {
  SealerProject& project = state.project;
  project.appl_name = CutToWidth(view.FieldText(FormControl::kName), kApplNameWidth);
  if (project.appl_name.empty()) {
    RefuseEmptyField(view, FormControl::kName);
    return std::nullopt;
  }
  project.put_to = CutToWidth(view.FieldText(FormControl::kPutTo), kDirectoryWidth);
  if (project.put_to.empty()) {
    RefuseEmptyField(view, FormControl::kPutTo);
    return std::nullopt;
  }
  const bool collected = CollectForm(project, view, true, false);
  // The record now holds the form's values.
  state.project_modified = true;
  if (!collected) {
    return std::nullopt;
  }
  FormRequest request{Project{project, ListLines(view.FileList())}, state.seal_options, {}};
  // The window has no control of its own for the install page: the
  // settings file asks for it, as read when the window started.
  if (!request.options.install_page && state.settings.install_page) {
    request.options.install_page = true;
    request.options.install_page_base_url = state.settings.install_page_base_url;
  }
  if (request.options.install_page && !request.options.install_page_base_url.empty()) {
    if (Result<std::string> base = CheckInstallPageBaseUrl(request.options.install_page_base_url);
        !base) {
      ShowSealError(view, SealFailure(base.error().message + " (" + kInstallPageBaseUrlSetting +
                                      " in " + SettingsFilePath() + ")"));
      return std::nullopt;
    }
  }
  // A missing put-to directory is offered for creation once the whole form
  // has passed its checks and the list has files to store.
  FormObserver observer(view);
  Result<SealAnswers> answers = AskSealQuestions(request.project, observer);
  if (!answers.ok()) {
    ShowSealError(view, answers.error());
    return std::nullopt;
  }
  request.answers = answers.value();
  return request;
}

FormOutcome<SealedPackage> RunSeal(const FormRequest& request, const RunProgress& progress) {
  AnsweredObserver observer(request.answers, progress);
  Result<SealedPackage> result = Seal(request.project, request.options, observer);
  return {std::move(result), observer.TakeNotices()};
}

bool EndSeal(SealerState& state, FormView& view, FormOutcome<SealedPackage> outcome) {
  ShowNotices(view, outcome.notices);
  if (!outcome.result.ok()) {
    ShowSealError(view, outcome.result.error());
    return false;
  }
  // The record as sealed: the form's values, the fixed ones and the day's date.
  state.project = std::move(outcome.result).value().record;
  state.project_modified = true;
  view.SealFinished();
  CurrentUserInterface().ShowMessageBox(SealCompleteBox(state.project.appl_name, view.Owner()));
  return true;
}

std::optional<FormRequest> BeginScan(SealerState& state, FormView& view) {
  SealerProject& project = state.project;
  project.seal_from = CutToWidth(view.FieldText(FormControl::kSealFrom), kDirectoryWidth);
  if (project.seal_from.empty()) {
    RefuseEmptyField(view, FormControl::kSealFrom);
    return std::nullopt;
  }
  project.put_to = CutToWidth(view.FieldText(FormControl::kPutTo), kDirectoryWidth);
  if (project.put_to.empty()) {
    RefuseEmptyField(view, FormControl::kPutTo);
    return std::nullopt;
  }
  // The old list is read only when the new one is merged with it.
  const bool merge = !project.prev_seal_from.empty() && project.prev_seal_from == project.seal_from;
  FormRequest request{
      Project{project, merge ? ListLines(view.FileList()) : std::vector<std::string>()}, {}, {}};
  FormObserver observer(view);
  request.answers = AskScanQuestions(request.project, observer);
  return request;
}

FormOutcome<ScanOutcome> RunScan(const FormRequest& request, const RunProgress& progress) {
  AnsweredObserver observer(request.answers, progress);
  Result<ScanOutcome> result = Scan(request.project, observer);
  return {std::move(result), observer.TakeNotices()};
}

bool EndScan(SealerState& state, FormView& view, FormOutcome<ScanOutcome> outcome) {
  ShowNotices(view, outcome.notices);
  if (!outcome.result.ok()) {
    ShowSealError(view, outcome.result.error());
    return false;
  }
  const ScanOutcome& scanned = outcome.result.value();
  SealerProject& project = state.project;
  ShowList(view.FileList(), scanned.file_list);
  view.WorkList().Clear();
  project.prev_seal_from = project.seal_from;
  project.file_count = scanned.file_count;
  project.directory_count = scanned.directory_count;
  view.SetFieldText(FormControl::kDirectoryCount, std::to_string(project.directory_count));
  view.SetFieldText(FormControl::kFileCount, std::to_string(project.file_count));
  state.project_modified = true;
  if (!scanned.left_out.empty()) {
    InfoBox(view.Owner(), LeftOutMessage(scanned.left_out));
  }
  return true;
}

bool SealCommand(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  SealRunning running(state);
  std::optional<FormRequest> request = BeginSeal(state, view);
  return request && EndSeal(state, view, RunSeal(*request, FormProgress(view)));
}

bool ScanCommand(SealerState& state, FormView& view) {
  if (RefuseWhileSealing(state)) {
    return false;
  }
  SealRunning running(state);
  std::optional<FormRequest> request = BeginScan(state, view);
  return request && EndScan(state, view, RunScan(*request, FormProgress(view)));
}

}  // namespace qx
