#pragma once

// A seal or a scan asked for with values: the project and its file list in,
// the package or the new list out, failures as errors. The observer shows
// the progress and answers the questions a run must ask. Sealer engine,
// without a window.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform/result.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/sealer_project.h"
#include "sealer/project/sealer_state.h"

namespace qx {

struct LeftOutEntry;

// A project as a seal or a scan takes it: the record and the file list's
// lines.
struct Project {
  SealerProject record;
  std::vector<std::string> file_list;
};

// Codes of a seal's or a scan's error; |path| names the field (by its
// project file key) or the file the error concerns.
enum SealErrorCode : int {
  kSealCancelled = 1,      // Cancel was asked for: nothing more to say
  kSealFieldMissing,       // a field the run needs is empty (no message)
  kSealFieldInvalid,       // a field's value is refused (|path|: its key)
  kSealFieldConflict,      // SealFrom and PutTo overlap (|path|: "SealFrom")
  kSealDeclined,           // a question was answered No: nothing more to say
  kSealFailed,             // the run failed; |path|: the file, when one is concerned
  kSealNotice,             // the run could not go on, for a reason to take note of
  kSealUnreadableListLine  // a list line names no file (the line is the message)
};

// The questions a run asks.
enum class SealQuestion {
  kCreatePutTo,   // the put-to directory is missing: create it?
  kRecreateList,  // the old list holds a corrupt line: keep the sound lines' comments?
};

// Sees a seal or a scan run: its progress, its questions and the failures
// it goes on after.
class SealObserver {
 public:
  virtual ~SealObserver();

  // A step of the run: |progress| tells where the run is when the step
  // starts a stored file, and is null otherwise. True asks for Cancel.
  virtual bool Progress(std::string_view text, const SealProgress* progress) = 0;
  // A question the run must have answered; true for OK or Yes.
  virtual bool Ask(SealQuestion question, std::string_view text) = 0;
  // A failure the run goes on after (the landing page could not be
  // written: kSealNotice), or a text the codec gave before a stored file
  // failed (kSealFailed, without a path).
  virtual void Notice(const Error& error) = 0;
};

// Answers given before a run starts, so that it runs without stopping to
// ask: a window asks its questions on its own thread, then runs the seal
// or the scan on another.
struct SealAnswers {
  bool create_put_to = false;  // SealQuestion::kCreatePutTo
  bool recreate_list = false;  // SealQuestion::kRecreateList
};

// The observer of a run that nobody attends: questions are answered from
// |answers| (one not foreseen is answered No), notices are kept for later,
// and each step goes to |progress|, whose true asks for Cancel.
class AnsweredObserver : public SealObserver {
 public:
  using ProgressFunction = std::function<bool(std::string_view, const SealProgress*)>;

  AnsweredObserver(SealAnswers answers, ProgressFunction progress)
      : answers_(answers), progress_(std::move(progress)) {}

  bool Progress(std::string_view text, const SealProgress* progress) override;
  bool Ask(SealQuestion question, std::string_view text) override;
  void Notice(const Error& error) override;

  // The notices in the order the run gave them.
  std::vector<Error> TakeNotices() { return std::move(notices_); }

 private:
  SealAnswers answers_;
  ProgressFunction progress_;
  std::vector<Error> notices_;
};

// What a seal wrote.
struct SealedPackage {
  std::string header_path;  // "<PutTo>/<ApplName>.qxw"
  // The record as sealed: the form's fixed values and the day's date.
  SealerProject record;
};

// Checks the record as a seal takes it, in the form's order: InstallTo,
// ApplName, CommandLine, SealFrom, PutTo. A missing put-to directory is
// offered for creation later, once the seal knows it has files to store.
Result<void> CheckSealFields(const SealerProject& record, SealObserver& observer);

// Runs the checks a seal of |project| makes before its first question (the
// fields, then a file list with files to store) and asks |observer| the
// questions the seal would ask. An error, or kSealDeclined for a No, stops
// the seal before it starts.
Result<SealAnswers> AskSealQuestions(const Project& project, SealObserver& observer);

// Seals |project| into its put-to directory: the package header, the landing
// page and every stored file, on |options.jobs| threads. The files are staged
// and published only when the whole run succeeded, so a failed, cancelled or
// killed run leaves an earlier package as it was.
Result<SealedPackage> Seal(const Project& project, const SealOptions& options,
                           SealObserver& observer);

// What a scan gives: the new file list, what it left out (sorted by path)
// and the counts.
struct ScanOutcome {
  std::vector<std::string> file_list;
  std::vector<LeftOutEntry> left_out;
  int32_t file_count = 0;
  int32_t directory_count = 0;
};

// Lists |project|'s seal-from tree into a new file list, merged with its
// list when the seal-from directory is the one the list was made from.
Result<ScanOutcome> Scan(const Project& project, SealObserver& observer);

// Asks |observer| the question a scan of |project| may ask: whether to keep
// the comment lines of an old list that holds a corrupt line.
SealAnswers AskScanQuestions(const Project& project, SealObserver& observer);

// The text that names what a scan left out.
std::string LeftOutMessage(const std::vector<LeftOutEntry>& left_out);

}  // namespace qx
