#pragma once

// The Seal and Scan commands over the form. Each runs in three steps, so
// that a window can run the middle one off its own thread: Begin reads the
// form and asks every question, Run needs nothing of the form and may run
// on any thread, and End shows what the run gave. Sealer engine, without a
// window.

#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "core/platform/result.h"
#include "sealer/project/form_view.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_state.h"

namespace qx {

// A run the form asked for, with every answer it needs.
struct FormRequest {
  Project project;
  SealOptions options;  // a seal's
  SealAnswers answers;
};

// What a run gave: its result and the notices it went on after, in order.
template <typename T>
struct FormOutcome {
  Result<T> result;
  std::vector<Error> notices;
};

// A run's step, called on the run's thread; true asks for Cancel.
using RunProgress = std::function<bool(std::string_view text, const SealProgress* progress)>;

// Seal. Begin reads and checks the form into |state.project| and asks the
// seal's questions; nullopt when the seal does not start (after saying
// why). End shows the notices, then the error, or the completion box after
// the form's SealFinished; true only after the completion box.
std::optional<FormRequest> BeginSeal(SealerState& state, FormView& view);
FormOutcome<SealedPackage> RunSeal(const FormRequest& request, const RunProgress& progress);
bool EndSeal(SealerState& state, FormView& view, FormOutcome<SealedPackage> outcome);

// Scan: the seal-from tree listed into the file list, merged with the list
// it replaces when the seal-from directory is unchanged. End sets the list
// and the counts and shows what was left out; after a failure, shown there,
// the visible list is unchanged.
std::optional<FormRequest> BeginScan(SealerState& state, FormView& view);
FormOutcome<ScanOutcome> RunScan(const FormRequest& request, const RunProgress& progress);
bool EndScan(SealerState& state, FormView& view, FormOutcome<ScanOutcome> outcome);

// The three steps on the calling thread, the progress shown by the form's
// ProgressStep; refused (with a beep) while another run is under way.
bool SealCommand(SealerState& state, FormView& view);
bool ScanCommand(SealerState& state, FormView& view);

}  // namespace qx
