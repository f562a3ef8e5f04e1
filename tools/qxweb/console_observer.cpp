// The console as the observer of qxweb's seals and scans: boxes on standard
// error, the seal's progress line, and Ctrl-C as the seal's Cancel.
#include "tools/qxweb/console_observer.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>

#include "core/fsutil/path_text.h"
#include "sealer/project/seal_boxes.h"
#include "sealer/project/seal_plan.h"
#include "tools/qxweb/commands.h"

namespace qxweb_tool {

volatile std::sig_atomic_t cancel_requested = 0;

namespace {

void OnInterrupt(int) {
  cancel_requested = 1;
}

}  // namespace

InterruptAsCancel::InterruptAsCancel() {
  struct sigaction action {};
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND | SA_RESTART;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, &previous_);
}

InterruptAsCancel::~InterruptAsCancel() {
  sigaction(SIGINT, &previous_, nullptr);
}

ConsoleObserver::ConsoleObserver(bool verbose, bool create_put_to) : verbose_(verbose) {
  console_.SetOkCancelAnswer(create_put_to ? qx::BoxAnswer::kOk : qx::BoxAnswer::kCancel);
}

bool ConsoleObserver::Progress(std::string_view text, const qx::SealProgress* progress) {
  if (progress != nullptr) {
    Show(*progress);
  } else if (verbose_) {
    EndLine();
    std::fprintf(stderr, "%.*s\n", static_cast<int>(text.size()), text.data());
  }
  return cancel_requested != 0;
}

bool ConsoleObserver::Ask(qx::SealQuestion question, std::string_view text) {
  return qx::IsConsent(ShowMessageBox(qx::SealQuestionBox(question, text, nullptr)));
}

void ConsoleObserver::Notice(const qx::Error& notice) {
  ShowMessageBox(qx::SealNoticeBox(notice, nullptr));
}

void ConsoleObserver::ShowError(const qx::Error& error) {
  if (const std::optional<qx::MessageBoxRequest> box = qx::SealErrorBox(error, nullptr)) {
    ShowMessageBox(*box);
  }
}

qx::BoxAnswer ConsoleObserver::ShowMessageBox(const qx::MessageBoxRequest& request) {
  EndLine();
  return console_.ShowMessageBox(request);
}

void ConsoleObserver::Show(const qx::SealProgress& progress) {
  if (line_.terminal()) {
    line_.Show({.files_done = static_cast<int64_t>(progress.index),
                .files_total = static_cast<int64_t>(progress.count),
                .bytes_done = progress.done_bytes,
                .bytes_total = progress.total_bytes},
               qx::PrintableText(qx::NativeSeparators(progress.name)));
  } else if (verbose_) {
    std::fprintf(stderr, "Sealing file %zu of %zu: %s\n", progress.index + 1, progress.count,
                 std::string(progress.name).c_str());
    std::fflush(stderr);
  }
}

}  // namespace qxweb_tool
