// Tests of Seal and Scan asked with values (sealer project layer): each
// refusal and failure as an error with its code, field or file and message,
// the questions asked through the observer, and what a run gives back.
#include "sealer/project/seal_request.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "sealer/project/source_scan.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using Lines = std::vector<std::string>;
using qx_test::FileExists;
using qx_test::TempDir;
using qx_test::WriteFile;

// Records what a run shows and answers its questions as told; asks for
// Cancel at the progress step |cancel_at| (from 0) when set.
class RecordingObserver : public SealObserver {
 public:
  bool Progress(std::string_view text, const SealProgress* progress) override {
    steps.emplace_back(text);
    if (on_step) {
      on_step(text);
    }
    if (progress != nullptr) {
      ++file_steps;
    }
    return cancel_at >= 0 && static_cast<int>(steps.size()) > cancel_at;
  }
  bool Ask(SealQuestion question, std::string_view text) override {
    questions.emplace_back(question, std::string(text));
    return consent;
  }
  void Notice(const Error& notice) override { notices.push_back(notice.message); }

  bool consent = true;
  int cancel_at = -1;
  std::function<void(std::string_view)> on_step;
  Lines steps;
  int file_steps = 0;
  std::vector<std::pair<SealQuestion, std::string>> questions;
  Lines notices;
};

class SealRequestTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src + "/a.txt", qx_test::TextBytes(2000, 1));
    WriteFile(src + "/sub/b.bin", qx_test::RandomBytes(700, 2));
    ::mkdir(out.c_str(), 0777);
    project.record.owner = "Owner Inc";
    project.record.appl_name = "demo";
    project.record.command_line = "demo -run";
    project.record.version = "02.01.00";
    project.record.seal_from = src;
    project.record.put_to = out;
    project.file_list = {"File: a.txt;", "; a comment line", "File: sub\\b.bin;"};
    options.jobs = 2;
  }

  TempDir dir;
  const std::string src = dir / "src";
  const std::string out = dir / "out";
  // Nothing the engine does may reach a box.
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  Project project;
  SealOptions options;
  RecordingObserver observer;
};

TEST_F(SealRequestTest, EachRefusalIsAnErrorWithItsCodeFieldAndMessage) {
  const std::string missing = dir / "nowhere";
  const struct {
    const char* what;
    std::function<void(Project&, RecordingObserver&)> change;
    int code;
    std::string path;
    std::string message;
  } rows[] = {
      {"no name", [](Project& p, RecordingObserver&) { p.record.appl_name.clear(); },
       kSealFieldMissing, "ApplName", ""},
      {"no put-to", [](Project& p, RecordingObserver&) { p.record.put_to.clear(); },
       kSealFieldMissing, "PutTo", ""},
      {"absolute install-to", [](Project& p, RecordingObserver&) { p.record.install_to = "/x"; },
       kSealFieldInvalid, "InstallTo", "Invalid InstallTo directory"},
      {"name with an extension",
       [](Project& p, RecordingObserver&) { p.record.appl_name = "demo.exe"; }, kSealFieldInvalid,
       "ApplName", "Application name should have no file extension"},
      {"no command line", [](Project& p, RecordingObserver&) { p.record.command_line.clear(); },
       kSealFieldInvalid, "CommandLine", "Command Line was not entered"},
      {"missing seal-from", [&](Project& p, RecordingObserver&) { p.record.seal_from = missing; },
       kSealFieldInvalid, "SealFrom", "Directory " + missing + " does not exist"},
      {"put-to is seal-from", [&](Project& p, RecordingObserver&) { p.record.put_to = src; },
       kSealFieldConflict, "SealFrom", "SealFrom and PutTo are the same directory"},
      {"relative put-to", [](Project& p, RecordingObserver&) { p.record.put_to = "rel/out"; },
       kSealFailed, "", "Must provide absolute path in putTo field"},
      {"missing put-to, not created",
       [&](Project& p, RecordingObserver& o) {
         p.record.put_to = missing;
         o.consent = false;
       },
       kSealDeclined, "PutTo", ""},
      {"empty list", [](Project& p, RecordingObserver&) { p.file_list = {"; only a comment"}; },
       kSealNotice, "", "There are no files to seal. Scan the SealFrom directory first."},
      {"empty list and a missing put-to: refused before the offer",
       [&](Project& p, RecordingObserver& o) {
         p.file_list.clear();
         p.record.put_to = missing;
         o.consent = true;
       },
       kSealNotice, "", "There are no files to seal. Scan the SealFrom directory first."},
      {"line without a path",
       [](Project& p, RecordingObserver&) { p.file_list.push_back("garbage line"); },
       kSealUnreadableListLine, "", "garbage line"},
      {"listed file gone",
       [](Project& p, RecordingObserver&) { p.file_list.push_back("File: gone.txt;"); },
       kSealFailed, "", "Unable to open source file " + src + "/gone.txt"},
      {"cancelled at the first step", [](Project&, RecordingObserver& o) { o.cancel_at = 0; },
       kSealCancelled, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Project request = project;
    RecordingObserver watcher;
    row.change(request, watcher);
    const Result<SealedPackage> sealed = Seal(request, options, watcher);
    ASSERT_FALSE(sealed.ok());
    EXPECT_EQ(sealed.error().code, row.code);
    EXPECT_EQ(sealed.error().path, row.path);
    EXPECT_EQ(sealed.error().message, row.message);
    // A refused or cancelled run publishes nothing.
    EXPECT_FALSE(FileExists(out + "/demo.qxw"));
  }
  EXPECT_FALSE(FileExists(missing));
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(SealRequestTest, SealGivesThePackageAndTheRecordAsSealed) {
  project.record.put_to = dir / "new/out";
  const Result<SealedPackage> sealed = Seal(project, options, observer);
  ASSERT_TRUE(sealed.ok()) << sealed.error().message;
  EXPECT_EQ(sealed->header_path, dir / "new/out/demo.qxw");
  EXPECT_TRUE(FileExists(sealed->header_path));
  EXPECT_TRUE(FileExists(dir / "new/out/sub/b.bin"));
  // The missing directory was offered once, then made.
  ASSERT_EQ(observer.questions.size(), 1u);
  EXPECT_EQ(observer.questions[0].first, SealQuestion::kCreatePutTo);
  EXPECT_EQ(observer.questions[0].second,
            "Directory " + (dir / "new/out") + " does not exist, create it?");
  // The landing page's step, then one per stored file.
  EXPECT_EQ(observer.file_steps, 2);
  EXPECT_EQ(observer.steps.size(), 3u);
  EXPECT_TRUE(observer.notices.empty());
  EXPECT_EQ(sealed->record.date, TodayDateText());
  EXPECT_EQ(sealed->record.comment, "demo");
  EXPECT_EQ(sealed->record.copyright, "copyright");
  // The request itself is left as it was.
  EXPECT_TRUE(project.record.date.empty());
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(SealRequestTest, TheFirstFailedFileInPlanOrderIsTheRunsError) {
  for (int i = 1; i < 7; ++i) {
    WriteFile(src + "/f" + std::to_string(i), qx_test::TextBytes(3000, i));
    project.file_list.push_back("File: f" + std::to_string(i) + ";");
  }
  options.jobs = 4;
  options.reuse = false;
  // Once the plan has passed its checks, f3 goes and f5 becomes a FIFO: the
  // workers fail both, and only f3's error, first in plan order, is the run's.
  observer.on_step = [&](std::string_view text) {
    if (text.rfind("Creating HTM file", 0) == 0) {
      std::filesystem::remove(src + "/f3");
      std::filesystem::remove(src + "/f5");
      EXPECT_EQ(::mkfifo((src + "/f5").c_str(), 0644), 0);
    }
  };
  const Result<SealedPackage> sealed = Seal(project, options, observer);
  ASSERT_FALSE(sealed.ok());
  EXPECT_EQ(sealed.error().code, kSealFailed);
  EXPECT_EQ(sealed.error().message, "Unable to open source file " + src + "/f3");
  EXPECT_EQ(sealed.error().path, src + "/f3");
  EXPECT_TRUE(observer.notices.empty());
  EXPECT_FALSE(FileExists(out + "/demo.qxw"));
  EXPECT_FALSE(FileExists(out + "/.demo.seal"));
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(SealRequestTest, ScanGivesTheListTheCountsAndWhatItLeftOut) {
  ::symlink((dir / "nothing").c_str(), (src + "/broken").c_str());
  const struct {
    const char* what;
    std::function<void(Project&)> change;
    int code;  // 0: scanned
    std::string path;
    std::string message;
  } rows[] = {
      {"no seal-from", [](Project& p) { p.record.seal_from.clear(); }, kSealFieldMissing,
       "SealFrom", ""},
      {"no put-to", [](Project& p) { p.record.put_to.clear(); }, kSealFieldMissing, "PutTo", ""},
      {"missing seal-from", [&](Project& p) { p.record.seal_from = dir / "gone"; },
       kSealFieldInvalid, "SealFrom", "Directory " + (dir / "gone") + " does not exist"},
      {"fresh", [](Project& p) { p.record.prev_seal_from.clear(); }, 0, "", ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Project request = project;
    row.change(request);
    const Result<ScanOutcome> scanned = Scan(request, observer);
    if (row.code != 0) {
      ASSERT_FALSE(scanned.ok());
      EXPECT_EQ(scanned.error().code, row.code);
      EXPECT_EQ(scanned.error().path, row.path);
      EXPECT_EQ(scanned.error().message, row.message);
      continue;
    }
    ASSERT_TRUE(scanned.ok());
    EXPECT_EQ(scanned->file_list, (Lines{"File: a.txt;", "File: sub\\b.bin;"}));
    EXPECT_EQ(scanned->file_count, 2);
    EXPECT_EQ(scanned->directory_count, 1);
    ASSERT_EQ(scanned->left_out.size(), 1u);
    EXPECT_EQ(scanned->left_out[0].path, "broken");
    EXPECT_EQ(scanned->left_out[0].reason, LeftOutReason::kBrokenLink);
  }
  EXPECT_TRUE(observer.questions.empty());
  EXPECT_TRUE(ui.events().empty());
}

TEST_F(SealRequestTest, ScanAsksBeforeItRecreatesACorruptListAndFollowsTheAnswer) {
  project.record.prev_seal_from = src;
  project.file_list = {"; kept with a.txt", "File: a.txt;", "File: broken line", "; kept with b",
                       "File: sub\\b.bin;"};
  for (const bool recreate : {true, false}) {
    SCOPED_TRACE(recreate);
    RecordingObserver watcher;
    watcher.consent = recreate;
    const Result<ScanOutcome> scanned = Scan(project, watcher);
    ASSERT_TRUE(scanned.ok());
    ASSERT_EQ(watcher.questions.size(), 1u);
    EXPECT_EQ(watcher.questions[0].first, SealQuestion::kRecreateList);
    EXPECT_EQ(watcher.questions[0].second, "Recreate Tarnwick Web file?");
    const Lines expected =
        recreate ? Lines{"; kept with a.txt", "File: a.txt;", "; kept with b", "File: sub\\b.bin;"}
                 : Lines{"File: a.txt;", "File: sub\\b.bin;"};
    EXPECT_EQ(scanned->file_list, expected);
  }
}

// A window asks the run's questions on its own thread, then runs the seal or
// the scan unattended on another with the answers it was given.
TEST_F(SealRequestTest, QuestionsAskedBeforeARunGiveItTheirAnswers) {
  const std::string missing = dir / "new/out";
  const struct {
    const char* what;
    std::function<void(Project&)> change;
    bool consent;
    size_t asked;
    int code;  // of the questions' step; 0: the run follows and seals
  } rows[] = {
      {"put-to there", [](Project&) {}, true, 0, 0},
      {"put-to missing, Yes", [&](Project& p) { p.record.put_to = missing; }, true, 1, 0},
      {"put-to missing, No", [&](Project& p) { p.record.put_to = missing; }, false, 1,
       kSealDeclined},
      {"put-to missing and nothing to seal: refused before the question",
       [&](Project& p) {
         p.record.put_to = missing;
         p.file_list = {"; only a comment"};
       },
       true, 0, kSealNotice},
      {"a refused field: no question",
       [&](Project& p) {
         p.record.put_to = missing;
         p.record.install_to = "/abs";
       },
       true, 0, kSealFieldInvalid},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove_all(dir / "new");
    Project request = project;
    row.change(request);
    RecordingObserver asker;
    asker.consent = row.consent;
    const Result<SealAnswers> answers = AskSealQuestions(request, asker);
    EXPECT_EQ(asker.questions.size(), row.asked);
    EXPECT_TRUE(asker.steps.empty());
    if (row.code != 0) {
      ASSERT_FALSE(answers.ok());
      EXPECT_EQ(answers.error().code, row.code);
      EXPECT_FALSE(FileExists(missing));
      continue;
    }
    ASSERT_TRUE(answers.ok());
    int steps = 0;
    AnsweredObserver unattended(answers.value(), [&](std::string_view, const SealProgress*) {
      ++steps;
      return false;
    });
    const Result<SealedPackage> sealed = Seal(request, options, unattended);
    ASSERT_TRUE(sealed.ok()) << sealed.error().message;
    EXPECT_TRUE(FileExists(sealed->header_path));
    EXPECT_EQ(steps, 3);
    EXPECT_TRUE(unattended.TakeNotices().empty());
  }
  // A question nobody answered beforehand is a No: the put-to directory
  // removed between the questions and the run is not made again.
  project.record.put_to = missing;
  AnsweredObserver unanswered(SealAnswers{}, nullptr);
  const Result<SealedPackage> sealed = Seal(project, options, unanswered);
  ASSERT_FALSE(sealed.ok());
  EXPECT_EQ(sealed.error().code, kSealDeclined);
  EXPECT_FALSE(FileExists(missing));

  // A scan asks only when it merges with a list that holds a corrupt line.
  const Lines corrupt = {"; kept with a.txt", "File: a.txt;", "File: broken line", "; kept with b",
                         "File: sub\\b.bin;"};
  const struct {
    const char* what;
    std::string prev_seal_from;
    Lines list;
    bool consent;
    size_t asked;
    Lines expected;
  } scans[] = {
      {"merge with a corrupt line, Yes",
       src,
       corrupt,
       true,
       1,
       {"; kept with a.txt", "File: a.txt;", "; kept with b", "File: sub\\b.bin;"}},
      {"merge with a corrupt line, No",
       src,
       corrupt,
       false,
       1,
       {"File: a.txt;", "File: sub\\b.bin;"}},
      {"another seal-from: no merge",
       dir / "elsewhere",
       corrupt,
       true,
       0,
       {"File: a.txt;", "File: sub\\b.bin;"}},
      {"merge with a sound list",
       src,
       {"; note", "File: a.txt;"},
       true,
       0,
       {"; note", "File: a.txt;", "File: sub\\b.bin;"}},
  };
  for (const auto& row : scans) {
    SCOPED_TRACE(row.what);
    Project request = project;
    request.record.prev_seal_from = row.prev_seal_from;
    request.file_list = row.list;
    RecordingObserver asker;
    asker.consent = row.consent;
    const SealAnswers answers = AskScanQuestions(request, asker);
    EXPECT_EQ(asker.questions.size(), row.asked);
    AnsweredObserver unattended(answers, nullptr);
    const Result<ScanOutcome> scanned = Scan(request, unattended);
    ASSERT_TRUE(scanned.ok());
    EXPECT_EQ(scanned->file_list, row.expected);
  }
  EXPECT_TRUE(ui.events().empty());
}

}  // namespace
}  // namespace qx
