// Tests of the project file (sealer project layer): a new project from the
// defaults, saving and reading back, hand-edited and corrupt files, saving.
#include "sealer/project/project_file.h"
#include "sealer/project/project_form.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "core/format/header_lines.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/project_header.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::FileExists;
using qx_test::ReadFile;
using qx_test::TempDir;
using qx_test::WriteFile;

// The names in |dir|, sorted.
std::vector<std::string> DirectoryEntries(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Remembers where the file dialog was asked to start.
class RecordingFormView : public MemoryFormView {
 public:
  bool ChooseProjectFile(std::string& path) override {
    proposed.push_back(path);
    return MemoryFormView::ChooseProjectFile(path);
  }
  std::vector<std::string> proposed;
};

class ProjectFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state.settings.owner = "Default Owner";
    state.settings.copyright = "(c) Default";
    state.settings.project_directory = dir / "projects";
  }

  void FillFields(RecordingFormView& form) {
    form.SetFieldText(FormControl::kOwner, "Owner Inc");
    form.SetFieldText(FormControl::kName, "demo");
    form.SetFieldText(FormControl::kCommandLine, "bin/demo -x");
    form.SetFieldText(FormControl::kInstallTo, "apps\\demo");
    form.SetFieldText(FormControl::kSealFrom, "/src/demo");
    form.SetFieldText(FormControl::kPutTo, "/out/demo.qxd");
  }

  // A project file with |keys| between the magic and the end line, then |list|.
  std::string WriteProject(const std::string& name, const std::string& keys,
                           const std::string& list = "") {
    std::string path = dir / name;
    WriteFile(path, "##QXKWS## 1.0\r\n" + keys + "*** End Of Header ***\r\n" + list);
    return path;
  }

  TempDir dir;
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  RecordingFormView view;
  SealerState state;
};

TEST_F(ProjectFileTest, NewProjectFillsTheFormFromDefaults) {
  view.SetFieldText(FormControl::kName, "old");
  view.file_list().Add("File: old;");
  state.project.appl_name = "old";
  state.project.project_path = "/x.QXS";
  state.project_modified = true;
  ASSERT_TRUE(NewProject(state, view));
  EXPECT_EQ(state.project.owner, "Default Owner");
  EXPECT_EQ(state.project.version, "01.00.00");
  EXPECT_EQ(state.project.project_path, "");
  EXPECT_EQ(view.FieldText(FormControl::kOwner), "Default Owner");
  EXPECT_EQ(view.title(), "Tarnwick Web Lite Sealer - [New Sealer Control File]");
  EXPECT_EQ(view.file_list().Count(), 0);
  EXPECT_TRUE(view.IsEnabled(FormControl::kName));
  EXPECT_FALSE(view.IsEnabled(FormControl::kScan));
  EXPECT_FALSE(view.IsEnabled(FormControl::kSeal));
  EXPECT_EQ(view.focus(), FormControl::kOwner);
  EXPECT_TRUE(view.focus_text_selected());
  EXPECT_FALSE(state.project_modified);

  // Nothing changes while a seal runs.
  state.seal_running = true;
  state.project.appl_name = "busy";
  EXPECT_FALSE(NewProject(state, view));
  EXPECT_FALSE(OpenProject(state, view, dir / "any.QXS"));
  EXPECT_EQ(state.project.appl_name, "busy");
  EXPECT_EQ(ui.beeps(), 2);
}

TEST_F(ProjectFileTest, SavedProjectReadsBackAndSavesIdentically) {
  ASSERT_TRUE(NewProject(state, view));
  FillFields(view);
  const std::string long_line = "File: " + std::string(600, 'x') + ";";
  for (const std::string& line : {std::string("File: a.txt;"), std::string("; comment"), long_line,
                                  std::string("File: sub\\b.dll;")}) {
    view.file_list().Add(line);
  }
  state.project.file_count = 3;
  state.project.directory_count = 2;
  state.project_modified = true;
  const std::string path = dir / "demo.QXS";
  view.SetNextProjectFile(path);
  ASSERT_TRUE(SaveProject(state, view, false, false));
  EXPECT_EQ(view.proposed, std::vector<std::string>{dir / "projects/demo.QXS"});
  EXPECT_EQ(state.project.project_path, path);
  EXPECT_FALSE(state.project_modified);
  const std::string first = ReadFile(path);
  EXPECT_NE(first.find("ApplName: demo\r\n"), std::string::npos);
  EXPECT_NE(first.find("Comment:\r\n"), std::string::npos);  // the name came after the save
  EXPECT_EQ(first.find('\n'), first.find("\r\n") + 1);
  EXPECT_EQ(first.substr(first.find("*** End Of Header ***\r\n") + 23),
            "File: a.txt;\r\n; comment\r\n" + long_line + "\r\nFile: sub\\b.dll;\r\n");

  SealerState reopened;
  RecordingFormView form;
  ASSERT_TRUE(OpenProject(reopened, form, path));
  EXPECT_TRUE(ui.boxes().empty());
  const SealerProject& p = reopened.project;
  EXPECT_EQ(p.project_path, path);
  EXPECT_EQ(p.owner, "Owner Inc");
  EXPECT_EQ(p.install_to, "apps\\demo");
  EXPECT_EQ(p.prev_seal_from, "/src/demo");
  EXPECT_EQ(form.FieldText(FormControl::kPutTo), "/out/demo.qxd");
  EXPECT_EQ(form.FieldText(FormControl::kFileCount), "3");
  EXPECT_EQ(form.FieldText(FormControl::kDirectoryCount), "2");
  EXPECT_EQ(form.title(), "Tarnwick Web Lite Sealer - [" + path + "]");
  EXPECT_FALSE(form.IsEnabled(FormControl::kName));
  ASSERT_EQ(form.file_list().Count(), 4);
  EXPECT_EQ(form.file_list().Text(2), long_line);
  EXPECT_EQ(form.file_list().Selected(), 0);
  EXPECT_GT(form.file_list().HorizontalExtent(), 600 * MemoryListBox::kDefaultPitch);

  // Later saves replace the file and leave no temporary file behind.
  reopened.project_modified = true;
  ASSERT_TRUE(SaveProject(reopened, form, false, false));
  EXPECT_TRUE(form.proposed.empty());
  // Byte for byte the same, but for the comment, which now takes the name
  // the record held when the form was collected.
  std::string expected = first;
  expected.replace(expected.find("Comment:\r\n"), 10, "Comment: demo\r\n");
  EXPECT_EQ(ReadFile(path), expected);
  ASSERT_TRUE(SaveProject(reopened, form, false, false));
  EXPECT_EQ(ReadFile(path), expected);
  EXPECT_EQ(DirectoryEntries(dir.path()), std::vector<std::string>{"demo.QXS"});
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(ProjectFileTest, ReadingRulesForHandEditedFiles) {
  const std::string path =
      WriteProject("hand.QXS",
                   "\r\nOwner:\r\nPutTo: \r\nApplName:xdemo\r\nUnknownKey: ignored\r\n"
                   "owner: wrong case\r\n\n\nCommandLine: run\nComment: " +
                       std::string(600, 'c') + "\r\nVersion: 01.00.00abc\r\nFileCount: 12\r\n" +
                       "DirectoryCount: 3x\r\nSealFrom: /s: with colon\r\n",
                   "File: a;\r\n\r\n\nFile: b;\r\nFile: last;");
  state.project.owner = "stale";
  ASSERT_TRUE(OpenProject(state, view, path));
  EXPECT_TRUE(ui.boxes().empty());
  const SealerProject& p = state.project;
  EXPECT_EQ(p.owner, "");
  EXPECT_EQ(p.put_to, "");
  EXPECT_EQ(p.appl_name, "demo");  // no blank after the colon: one character lost
  EXPECT_EQ(p.command_line, "run");
  EXPECT_EQ(p.comment, std::string(515, 'c'));
  EXPECT_EQ(p.version, "01.00.00a");
  EXPECT_EQ(p.file_count, 12);
  EXPECT_EQ(p.directory_count, 3);
  EXPECT_EQ(p.seal_from, "/s: with colon");
  EXPECT_EQ(view.FieldText(FormControl::kFileCount), "12");
  EXPECT_EQ(view.FieldText(FormControl::kDirectoryCount), "3");
  EXPECT_EQ(view.file_list().lines(),
            (std::deque<std::string>{"File: a;", "File: b;", "File: last;"}));
}

TEST_F(ProjectFileTest, CorruptFilesResetTheProject) {
  // A package header: its magic line differs, so only the corrupted box.
  SealerProject package;
  package.appl_name = "demo";
  const std::string header = dir / "demo.qxw";
  {
    std::FILE* file = std::fopen(header.c_str(), "wb");
    HeaderLineWriter out(file, nullptr);
    ASSERT_TRUE(WriteHeaderLines(out, package, true));
    std::fclose(file);
  }
  struct Case {
    std::string path;
    std::vector<std::string> texts;
  };
  const Case cases[] = {
      {header, {"Project file " + header + " corrupted"}},
      {WriteProject("bad.QXS", "Owner: x\r\nno colon here\r\n"),
       {"Bad Project File", "Project file " + (dir / "bad.QXS") + " corrupted"}},
      {dir / "short.QXS",
       {"Bad Project File", "Project file " + (dir / "short.QXS") + " corrupted"}},
      {dir / "empty.QXS", {"Project file " + (dir / "empty.QXS") + " corrupted"}},
  };
  WriteFile(dir / "short.QXS", "##QXKWS## 1.0\r\nOwner: x\r\n");
  WriteFile(dir / "empty.QXS", "");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    ui.Clear();
    state.project.appl_name = "before";
    state.project.project_path = c.path;
    EXPECT_FALSE(OpenProject(state, view, c.path));
    EXPECT_EQ(ui.texts(), c.texts);
    EXPECT_EQ(ui.boxes().back().icon, BoxIcon::kInformation);
    EXPECT_EQ(ui.boxes().back().owner, view.Owner());
    if (c.texts.size() == 2) {
      EXPECT_EQ(ui.boxes().front().icon, BoxIcon::kStop);
    }
    EXPECT_EQ(state.project.appl_name, "");
    EXPECT_EQ(state.project.project_path, "");
    EXPECT_EQ(state.project.owner, "Default Owner");
    EXPECT_EQ(view.title(), "Tarnwick Web Lite Sealer - [New Sealer Control File]");
  }

  // What cannot be opened changes nothing, and says why.
  ui.Clear();
  for (const std::string& path : {dir / "missing.QXS", dir.path()}) {
    EXPECT_FALSE(OpenProject(state, view, path));
  }
  EXPECT_EQ(ui.texts(), (std::vector<std::string>{
                            "Unable to open Project file \"" + (dir / "missing.QXS") +
                                "\": No such file or directory",
                            "Unable to open Project file \"" + dir.path() + "\": Is a directory"}));
  EXPECT_EQ(ui.boxes().back().icon, BoxIcon::kStop);
  EXPECT_EQ(state.project.owner, "Default Owner");
}

TEST_F(ProjectFileTest, SaveQuestionAnswers) {
  ASSERT_TRUE(NewProject(state, view));
  FillFields(view);
  const std::string path = dir / "q.QXS";
  state.project.project_path = path;
  state.project_modified = true;

  ui.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(SaveProject(state, view, true, false));
  ui.QueueAnswer(BoxAnswer::kNo);
  EXPECT_TRUE(SaveProject(state, view, true, false));
  EXPECT_FALSE(FileExists(path));
  EXPECT_TRUE(state.project_modified);

  ui.QueueAnswer(BoxAnswer::kYes);
  EXPECT_TRUE(SaveProject(state, view, true, false));
  EXPECT_TRUE(FileExists(path));
  EXPECT_FALSE(state.project_modified);
  ASSERT_EQ(ui.boxes().size(), 3u);
  for (const MessageBoxRequest& box : ui.boxes()) {
    EXPECT_EQ(box.text, "Do you want to save the modified Project File?");
    EXPECT_EQ(box.buttons, BoxButtons::kYesNoCancel);
    EXPECT_EQ(box.icon, BoxIcon::kQuestion);
    EXPECT_EQ(box.caption, "Tarnwick Web Sealer");
  }
}

TEST_F(ProjectFileTest, SaveFailures) {
  ASSERT_TRUE(NewProject(state, view));
  FillFields(view);
  state.project_modified = true;

  // A cancelled Save As leaves the project without a path.
  state.project.project_path = dir / "had.QXS";
  view.SetNextProjectFile(std::nullopt);
  EXPECT_FALSE(SaveProject(state, view, false, true));
  EXPECT_EQ(view.proposed, std::vector<std::string>{dir / "had.QXS"});
  EXPECT_EQ(state.project.project_path, "");
  EXPECT_TRUE(ui.boxes().empty());

  struct Case {
    std::string project_path;  // empty: chosen in the dialog
    std::string chosen;
    std::string message;
  };
  WriteFile(dir / "taken/keep", "");
  ASSERT_EQ(mkfifo((dir / "pipe.QXS").c_str(), 0600), 0);
  const Case cases[] = {
      {dir / "missing/p.QXS", "",
       "Unable to create Project file \"" + (dir / "missing/p.QXS") + "\""},
      {"", dir / "missing/p.QXS",
       "Unable to create Project file \"" + (dir / "missing/p.QXS") + "\""},
      // Only a regular file is replaced: a rename would put a directory, a
      // pipe or a device out of its place.
      {dir / "taken", "", "Unable to create Project file \"" + (dir / "taken") + "\""},
      {"", dir / "pipe.QXS", "Unable to create Project file \"" + (dir / "pipe.QXS") + "\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    ui.Clear();
    state.project.project_path = c.project_path;
    view.SetNextProjectFile(c.chosen);
    EXPECT_FALSE(SaveProject(state, view, false, false));
    ASSERT_EQ(ui.boxes().size(), 1u);
    EXPECT_EQ(ui.boxes()[0].text, c.message);
    EXPECT_EQ(ui.boxes()[0].icon, BoxIcon::kNone);
    EXPECT_EQ(ui.boxes()[0].buttons, BoxButtons::kOk);
    EXPECT_EQ(ui.beeps(), 1);
    EXPECT_TRUE(state.project_modified);
  }
  struct stat info {};
  ASSERT_EQ(lstat((dir / "pipe.QXS").c_str(), &info), 0);
  EXPECT_TRUE(S_ISFIFO(info.st_mode));
  EXPECT_EQ(DirectoryEntries(dir.path()), (std::vector<std::string>{"pipe.QXS", "taken"}));

  // A link stays a link: the file it names is replaced.
  WriteFile(dir / "real.QXS", "old");
  ASSERT_EQ(symlink("real.QXS", (dir / "link.QXS").c_str()), 0);
  ui.Clear();
  state.project.project_path = dir / "link.QXS";
  EXPECT_TRUE(SaveProject(state, view, false, false));
  EXPECT_TRUE(ui.boxes().empty());
  ASSERT_EQ(lstat((dir / "link.QXS").c_str(), &info), 0);
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_NE(ReadFile(dir / "real.QXS").find("ApplName: demo\r\n"), std::string::npos);
}

TEST_F(ProjectFileTest, ValueWithALineBreakIsNotWritten) {
  const std::string path = dir / "p.QXS";
  // From the form, and a value only a project file gives the record.
  for (const char* key : {"Owner", "DownloadSplash"}) {
    SCOPED_TRACE(key);
    ui.Clear();
    ASSERT_TRUE(NewProject(state, view));
    FillFields(view);
    if (std::string_view(key) == "Owner") {
      view.SetFieldText(FormControl::kOwner, "Me\nPutTo: /x");
    } else {
      state.project.download_splash = "splash\r.bmp";
    }
    state.project.project_path = path;
    EXPECT_FALSE(SaveProject(state, view, false, false));
    EXPECT_EQ(ui.texts(), std::vector<std::string>{"Unable to save the Project file: " +
                                                   std::string(key) + " holds a line break"});
    EXPECT_FALSE(FileExists(path));
  }
}

TEST_F(ProjectFileTest, ConcurrentSavesInOneDirectoryNeverCrossOver) {
  constexpr int kRounds = 30;
  const std::string names[] = {"first", "second"};
  std::vector<std::thread> savers;
  std::atomic<int> failures{0};
  // Each round's two saves start together.
  std::barrier round(2);
  for (const std::string& name : names) {
    savers.emplace_back([&, name] {
      SealerState own;
      MemoryFormView form;
      ASSERT_TRUE(NewProject(own, form));
      form.SetFieldText(FormControl::kName, name);
      form.file_list().Add("File: " + name + ";");
      own.project.project_path = dir / (name + ".QXS");
      for (int i = 0; i < kRounds; ++i) {
        round.arrive_and_wait();
        if (!SaveProject(own, form, false, false) ||
            ReadFile(dir / (name + ".QXS")).find("ApplName: " + name + "\r\n") ==
                std::string::npos) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& saver : savers) {
    saver.join();
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(DirectoryEntries(dir.path()), (std::vector<std::string>{"first.QXS", "second.QXS"}));
}

}  // namespace
}  // namespace qx
