// Tests of the source scan (sealer project layer): fresh scans and merges,
// comments kept or dropped, corrupt lines, unlistable entries and the extent.
#include "sealer/project/source_scan.h"
#include "sealer/project/form_commands.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "core/widthlist/width_list.h"
#include "sealer/project/entry_fit.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/sealer_messages.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using Lines = std::vector<std::string>;
using qx_test::TempDir;

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetFieldText(FormControl::kSealFrom, src);
    view.SetFieldText(FormControl::kPutTo, dir / "out");
  }

  void Touch(const std::string& relative) { qx_test::WriteFile(src + "/" + relative, "x"); }
  void MakeDir(const std::string& relative) {
    std::filesystem::create_directories(src + "/" + relative);
  }

  Lines Visible() {
    return Lines(view.file_list().lines().begin(), view.file_list().lines().end());
  }
  void SetVisible(const Lines& lines) {
    view.file_list().Clear();
    for (const std::string& line : lines) {
      view.file_list().Add(line);
    }
  }
  // A list loaded from a project file made from this same directory.
  void LoadList(const Lines& lines) {
    state.project.prev_seal_from = src;
    SetVisible(lines);
  }

  // The list Scan makes of the seal-from directory for the record, merged
  // with |old_list| when the record's list was made from that directory.
  Lines ScanLines(const Lines& old_list = {}) {
    Project project{state.project, old_list};
    project.record.seal_from = src;
    project.record.put_to = dir / "out";
    Result<ScanOutcome> scanned = Scan(project, observer);
    EXPECT_TRUE(scanned.ok());
    return scanned.ok() ? scanned.value().file_list : Lines{};
  }

  // Answers every question with Yes; never cancels.
  class AnswerYes : public SealObserver {
   public:
    bool Progress(std::string_view, const SealProgress*) override { return false; }
    bool Ask(SealQuestion, std::string_view) override { return true; }
    void Notice(const Error&) override {}
  };

  TempDir dir;
  std::string src = dir / "src";
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  MemoryFormView view;
  SealerState state;
  AnswerYes observer;
};

TEST_F(ScanTest, FreshScanSortsEachLevelByBytesAndCountsOnlyDirectoriesWithFiles) {
  for (const char* name :
       {"b.txt", "B.txt", "a.txt", "Z", "sub/x", "sub/deep/y", "sub.txt", "sub/.hidden"}) {
    Touch(name);
  }
  MakeDir("empty");
  MakeDir("only_empty/e1/e2");
  view.work_list().Add("stray");

  ASSERT_TRUE(ScanCommand(state, view));
  // A subdirectory's lines stand where its name sorts among its siblings.
  const Lines expected = {"File: B.txt;",        "File: Z;",
                          "File: a.txt;",        "File: b.txt;",
                          "File: sub\\.hidden;", "File: sub\\deep\\y;",
                          "File: sub\\x;",       "File: sub.txt;"};
  EXPECT_EQ(Visible(), expected);
  EXPECT_EQ(state.project.file_count, 8);
  EXPECT_EQ(state.project.directory_count, 2);
  EXPECT_EQ(view.FieldText(FormControl::kFileCount), "8");
  EXPECT_EQ(view.FieldText(FormControl::kDirectoryCount), "2");
  EXPECT_EQ(state.project.prev_seal_from, src);
  EXPECT_EQ(state.project.put_to, dir / "out");
  EXPECT_TRUE(state.project_modified);
  EXPECT_EQ(view.file_list().Selected(), 0);
  EXPECT_TRUE(view.file_list().redraw());
  EXPECT_EQ(view.work_list().Count(), 0);
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(ui.beeps(), 0);
}

TEST_F(ScanTest, TreeOfEmptyDirectoriesGivesAnEmptyList) {
  MakeDir("a/b");
  MakeDir("c");
  SetVisible({"File: old;"});
  ASSERT_TRUE(ScanCommand(state, view));
  EXPECT_TRUE(Visible().empty());
  EXPECT_EQ(view.file_list().Selected(), -1);
  EXPECT_EQ(view.FieldText(FormControl::kFileCount), "0");
  EXPECT_EQ(view.FieldText(FormControl::kDirectoryCount), "0");
}

TEST_F(ScanTest, NamedFilesAreSkippedInTheTopDirectoryOnly) {
  state.project.registry_file = "app.reg";
  state.project.download_splash = "splash.bmp";
  state.project.readme_file = "docs";        // a directory of that name goes too
  state.project.corrupt_icon = "sub/x.ico";  // a path never matches a bare name
  for (const char* name :
       {"app.reg", "App.reg", "splash.bmp", "sub/app.reg", "sub/x.ico", "docs/d.txt"}) {
    Touch(name);
  }
  Project project{state.project, {}};
  project.record.seal_from = src;
  project.record.put_to = dir / "out";
  const Result<ScanOutcome> scanned = Scan(project, observer);
  ASSERT_TRUE(scanned.ok());
  EXPECT_EQ(scanned.value().file_list,
            (Lines{"File: App.reg;", "File: sub\\app.reg;", "File: sub\\x.ico;"}));
  EXPECT_EQ(scanned.value().directory_count, 1);
}

TEST_F(ScanTest, RefusedScansLeaveTheListAndRecordAlone) {
  Touch("a.txt");
  SetVisible({"File: keep;"});
  state.project.file_count = 41;

  state.seal_running = true;
  EXPECT_FALSE(ScanCommand(state, view));
  EXPECT_EQ(ui.beeps(), 1);
  state.seal_running = false;

  view.SetFieldText(FormControl::kSealFrom, "");
  EXPECT_FALSE(ScanCommand(state, view));
  EXPECT_EQ(view.focus(), FormControl::kSealFrom);

  view.SetFieldText(FormControl::kSealFrom, src);
  view.SetFieldText(FormControl::kPutTo, "");
  EXPECT_FALSE(ScanCommand(state, view));
  EXPECT_EQ(view.focus(), FormControl::kPutTo);
  EXPECT_EQ(ui.beeps(), 3);
  EXPECT_TRUE(ui.boxes().empty());

  // A seal-from directory that is not there must not wipe the list.
  view.SetFieldText(FormControl::kPutTo, dir / "out");
  view.SetFieldText(FormControl::kSealFrom, dir / "nowhere");
  EXPECT_FALSE(ScanCommand(state, view));
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].text, "Directory " + dir / "nowhere" + " does not exist");

  EXPECT_EQ(Visible(), Lines{"File: keep;"});
  EXPECT_EQ(state.project.file_count, 41);
  EXPECT_FALSE(state.project_modified);
  EXPECT_EQ(state.project.prev_seal_from, "");
}

TEST_F(ScanTest, RescanOfAnUnchangedTreeKeepsTheListWithItsComments) {
  for (const char* name : {"a.txt", "b.txt", "sub/c.txt"}) {
    Touch(name);
  }
  const Lines first = ScanLines();
  EXPECT_EQ(first.size(), 3u);
  state.project.prev_seal_from = src;
  EXPECT_EQ(ScanLines(first), first);

  // Extra text after the ";" (other editions write a version pair) is
  // matched by the path alone and replaced by a plain line.
  EXPECT_EQ(
      ScanLines({";about a", "File: a.txt;", ";about b", ";more", "File: b.txt; Version = 01.00.00",
                 "; c", "File: sub\\c.txt;", "; trailing"}),
      (Lines{";about a", "File: a.txt;", ";about b", ";more", "File: b.txt;", "; c",
             "File: sub\\c.txt;"}));
}

TEST_F(ScanTest, MergeDropsStaleEntriesWithTheirCommentsAndAddsNewFilesBare) {
  for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) {
    Touch(name);
  }
  state.project.prev_seal_from = src;
  EXPECT_EQ(ScanLines({";ca", "File: a.txt;", ";gone", "File: a2.txt;", "File: a3.txt;", ";cc",
                       "File: c.txt;", ";tail"}),
            (Lines{";ca", "File: a.txt;", "File: b.txt;", ";cc", "File: c.txt;", "File: d.txt;"}));
}

TEST_F(ScanTest, MergeFollowsTheWalkOrderAndAcceptsEitherSeparator) {
  // "d" sorts before "d.txt", though "\" is a greater byte than ".".
  for (const char* name : {"d/f", "d.txt", "e/g"}) {
    Touch(name);
  }
  state.project.prev_seal_from = src;
  EXPECT_EQ(
      ScanLines(
          {";for d\\f", "File: d\\f;", ";for d.txt", "File: d.txt;", ";for e/g", "File: e/g;"}),
      (Lines{";for d\\f", "File: d\\f;", ";for d.txt", "File: d.txt;", ";for e/g", "File: e\\g;"}));
}

TEST_F(ScanTest, AnotherSealFromDirectoryDropsEveryComment) {
  Touch("a.txt");
  LoadList({";about a", "File: a.txt;"});
  // Directories compare case-sensitively: a change of case is another directory.
  state.project.prev_seal_from = dir / "SRC";
  ASSERT_TRUE(ScanCommand(state, view));
  EXPECT_EQ(Visible(), Lines{"File: a.txt;"});
  EXPECT_EQ(state.project.prev_seal_from, src);
}

TEST_F(ScanTest, CorruptLineIsRecreatedOnYesAndBuiltAfreshOnNo) {
  for (const char* name : {"a.txt", "b.txt", "c.txt"}) {
    Touch(name);
  }
  struct Case {
    BoxAnswer answer;
    Lines expected;
  };
  // The comment lines before the corrupt line go with the next entry.
  const Case cases[] = {
      {BoxAnswer::kYes,
       {";c", "File: a.txt;", "File: b.txt;", ";before broken", ";cc", "File: c.txt;"}},
      {BoxAnswer::kNo, {"File: a.txt;", "File: b.txt;", "File: c.txt;"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer == BoxAnswer::kYes ? "Yes" : "No");
    ui.Clear();
    LoadList({";c", "File: a.txt;", ";before broken", "File: b.txt", ";cc", "File: c.txt;"});
    ui.QueueAnswer(c.answer);
    ASSERT_TRUE(ScanCommand(state, view));
    EXPECT_EQ(ui.texts(), Lines{"Recreate Tarnwick Web file?"});
    EXPECT_EQ(Visible(), c.expected);
    EXPECT_EQ(view.work_list().Count(), 0);
    EXPECT_EQ(view.FieldText(FormControl::kFileCount), "3");
  }
}

TEST_F(ScanTest, EntriesThatCannotBeListedAreNamedInOneBox) {
  // The seal and the reader refuse what the scan leaves out; a colon is a
  // drive form only at the front of the whole path.
  for (const char* name :
       {"ok.txt", "semi;colon", "back\\slash", "quote\"d", "ctl\x01x", "a:b.txt", "a|b.txt",
        " lead.txt", "trail.txt ", "sub/in.txt", "sub/a;b", "sub/a:b.txt", "bad|dir/f"}) {
    Touch(name);
  }
  ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0600), 0);
  // A socket's path must fit its address; a deep temporary directory skips it.
  const std::string socket_path = src + "/sock";
  sockaddr_un address{};
  const bool with_socket = socket_path.size() < sizeof address.sun_path;
  if (with_socket) {
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, socket_path.c_str(), socket_path.size() + 1);
    const int socket_fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(socket_fd, 0);
    ASSERT_EQ(bind(socket_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    close(socket_fd);  // the socket's entry stays
  }
  // A link to a device is taken as the device, as a link to a file is the file.
  ASSERT_EQ(symlink("/dev/null", (src + "/null").c_str()), 0);
  ASSERT_EQ(symlink("sub", (src + "/linkdir").c_str()), 0);
  ASSERT_EQ(symlink("ok.txt", (src + "/linkfile").c_str()), 0);
  ASSERT_EQ(symlink("missing", (src + "/dangling").c_str()), 0);

  ASSERT_TRUE(ScanCommand(state, view));
  EXPECT_EQ(Visible(), (Lines{"File: linkfile;", "File: ok.txt;", "File: sub\\a:b.txt;",
                              "File: sub\\in.txt;"}));
  EXPECT_EQ(state.project.file_count, 4);
  ASSERT_EQ(ui.boxes().size(), 1u);
  const MessageBoxRequest& box = ui.boxes()[0];
  EXPECT_EQ(box.icon, BoxIcon::kInformation);
  EXPECT_EQ(box.owner, view.Owner());
  EXPECT_EQ(box.text.rfind("These files were left out of the file list:\n", 0), 0u) << box.text;
  for (const char* named :
       {"semi;colon (unsafe name: a \";\")", "back\\slash (the name holds \\)",
        "quote\"d (unsafe name: a double quote)", "ctl?x (unsafe name: a control character)",
        "a:b.txt (unsafe name: a drive form)", "a|b.txt (unsafe name: a \"|\")",
        " lead.txt (unsafe name: a blank at the start or end of a name)",
        "trail.txt  (unsafe name: a blank", "sub/a;b (unsafe name",
        "bad|dir/ (unsafe name: a \"|\")", "linkdir (a link to a directory",
        "dangling (a link to nothing)", "pipe (a FIFO, not a regular file)",
        "null (a device, not a regular file)"}) {
    EXPECT_NE(box.text.find(named), std::string::npos) << named << " in " << box.text;
  }
  if (with_socket) {
    EXPECT_NE(box.text.find("sock (a socket, not a regular file)"), std::string::npos) << box.text;
  }
  EXPECT_EQ(box.text.find("linkfile"), std::string::npos);
}

TEST_F(ScanTest, PathsLongerThanTheHeaderTakesAreLeftOutFromOneByteOverTheLimit) {
  // Touch writes one byte; the limit depends on the digits of a file's size,
  // so a large file has less room than a small one.
  const auto limit = [](int64_t size) {
    return LongestEntryName(kListEntryVersion, WorstStoredLength(size), size);
  };
  const size_t longest = limit(1);
  const int64_t large = 40'000'000'000;  // sparse
  const size_t large_longest = limit(large);
  ASSERT_GT(longest, large_longest);
  ASSERT_GE(large_longest, LongestListEntryName());
  const auto name = [](char c, size_t size) { return std::string(size, c); };
  struct Row {
    const char* what;
    std::string file;      // created, "/" between levels
    std::string left_out;  // empty: listed
    bool directory = false;
    int64_t size = 1;
  };
  const Row rows[] = {
      {"file at the limit", "sub/" + name('a', longest - 4), ""},
      {"file one byte over", "sub/" + name('b', longest - 3), "sub/" + name('b', longest - 3)},
      {"file far over", "sub/" + name('c', 200), "sub/" + name('c', 200)},
      {"top file one byte over", name('t', longest + 1), name('t', longest + 1)},
      {"directory with room for a one-byte name", name('e', longest - 2) + "/f", ""},
      {"directory without room", name('d', longest - 1) + "/f", name('d', longest - 1), true},
      {"directory below without room", "sub/" + name('g', longest - 5) + "/h/f",
       "sub/" + name('g', longest - 5), true},
      {"large file at its limit", "big/" + name('k', large_longest - 4), "", false, large},
      {"large file one byte over, with room for a small one", "big/" + name('m', large_longest - 3),
       "big/" + name('m', large_longest - 3), false, large},
      {"unsafe name named for that first", "sub/;" + name('s', longest),
       "sub/;" + name('s', longest)},
  };
  for (const Row& row : rows) {
    Touch(row.file);
    if (row.size != 1) {
      std::filesystem::resize_file(src + "/" + row.file, static_cast<uintmax_t>(row.size));
    }
  }
  Project project{state.project, {}};
  project.record.seal_from = src;
  project.record.put_to = dir / "out";
  const Result<ScanOutcome> scanned = Scan(project, observer);
  ASSERT_TRUE(scanned.ok());
  const ScanOutcome& outcome = scanned.value();
  const std::string message = LeftOutMessage(outcome.left_out);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::string listed = row.file;
    std::replace(listed.begin(), listed.end(), '/', '\\');
    const bool in_list = std::find(outcome.file_list.begin(), outcome.file_list.end(),
                                   FileLine(listed)) != outcome.file_list.end();
    EXPECT_EQ(in_list, row.left_out.empty());
    const size_t row_longest = row.directory ? limit(0) : limit(row.size);
    if (row.left_out.empty()) {
      EXPECT_LE(listed.size(), row_longest);
      continue;
    }
    const auto entry = std::find_if(outcome.left_out.begin(), outcome.left_out.end(),
                                    [&](const LeftOutEntry& e) { return e.path == row.left_out; });
    ASSERT_NE(entry, outcome.left_out.end());
    EXPECT_EQ(entry->directory, row.directory);
    if (row.left_out.find(';') != std::string::npos) {
      EXPECT_EQ(entry->reason, LeftOutReason::kUnsafeName);
      continue;
    }
    EXPECT_EQ(entry->reason, LeftOutReason::kNameTooLong);
    const std::string too_long = " (name too long for the package header (at most " +
                                 std::to_string(row_longest) + " bytes))";
    EXPECT_NE(message.find(row.left_out + (row.directory ? "/" : "") + too_long), std::string::npos)
        << message;
  }
  EXPECT_EQ(outcome.left_out.size(), 7u);
  EXPECT_EQ(outcome.file_count, 3);
  // "sub", "big" and the directory with room; the ones left out are not counted.
  EXPECT_EQ(outcome.directory_count, 3);
}

TEST_F(ScanTest, LeftOutBoxIsCapped) {
  for (int i = 0; i < 25; ++i) {
    Touch("bad;" + std::to_string(100 + i));
  }
  ASSERT_TRUE(ScanCommand(state, view));
  ASSERT_EQ(ui.boxes().size(), 1u);
  const std::string& text = ui.boxes()[0].text;
  EXPECT_NE(text.find("bad;119"), std::string::npos);
  EXPECT_EQ(text.find("bad;120"), std::string::npos);
  EXPECT_NE(text.find("... and 5 more"), std::string::npos) << text;
}

TEST_F(ScanTest, UnreadableSubdirectoryFailsTheScanAndKeepsTheList) {
#if defined(__SANITIZE_ADDRESS__)
  // The sanitizers' own checks need descriptors that the tight limit denies.
  GTEST_SKIP() << "the descriptor limit starves the sanitizers";
#endif
  Touch("a.txt");
  Touch("deep/f");
  const Lines old = {";kept", "File: a.txt;", ";for f", "File: deep\\f;"};
  LoadList(old);
  // No descriptor is left once the walk holds the top directory open: a
  // subdirectory that cannot be opened, for root too (unlike chmod 000).
  rlimit files_limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files_limit), 0);
  const int lowest_free = open("/dev/null", O_RDONLY | O_CLOEXEC);
  close(lowest_free);
  rlimit tight = files_limit;
  tight.rlim_cur = static_cast<rlim_t>(lowest_free) + 1;
  ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
  const bool scanned = ScanCommand(state, view);
  setrlimit(RLIMIT_NOFILE, &files_limit);

  EXPECT_FALSE(scanned);
  EXPECT_EQ(ui.texts(), Lines{"Unable to read directory " + src + "/deep"});
  EXPECT_EQ(Visible(), old);
  EXPECT_FALSE(state.project_modified);
}

TEST_F(ScanTest, HorizontalExtentFollowsTheScannedLines) {
  Touch("a");
  Touch("a_much_longer_name.txt");
  SetVisible({std::string(200, 'w')});
  WidthListReset(view.file_list());
  WidthListAdd(view.file_list(), std::string(200, 'w'));
  ASSERT_TRUE(ScanCommand(state, view));
  const WidthList* table = FindWidthList(view.file_list());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->count(), 2);
  EXPECT_EQ(view.file_list().HorizontalExtent(),
            MeasureLine(view.file_list(), "File: a_much_longer_name.txt;"));
}

TEST(ListPathTest, FileLinesAndTheWalkOrderOfPaths) {
  EXPECT_EQ(FileLine("sub\\name"), "File: sub\\name;");
  EXPECT_LT(CompareListPaths("d\\f", "d.txt"), 0);
  EXPECT_LT(CompareListPaths("a\\y", "ab\\x"), 0);
  EXPECT_EQ(CompareListPaths("e/g", "e\\g"), 0);
  EXPECT_LT(CompareListPaths("B", "a"), 0);
  EXPECT_LT(CompareListPaths("a", "a\\b"), 0);
  EXPECT_GT(CompareListPaths("\xe9", "z"), 0);  // bytes compare unsigned
}

}  // namespace
}  // namespace qx
