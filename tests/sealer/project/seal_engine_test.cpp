// Tests of the seal engine (sealer project layer): sealing into a verifiable
// header and landing page, refusals, failed runs, and storing one file.
#include "sealer/project/seal_engine.h"
#include "sealer/project/form_commands.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "core/digest/secure_digest.h"
#include "core/format/header_reader.h"
#include "core/format/header_value.h"
#include "core/package/stored_file_check.h"
#include "sealer/project/entry_fit.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/seal_plan.h"
#include "sealer/project/seal_reuse.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::FileExists;
using qx_test::ReadFile;
using qx_test::TempDir;
using qx_test::WriteFile;

std::vector<std::string> DirectoryNames(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") {
        names.push_back(name);
      }
    }
    ::closedir(dir);
  }
  return names;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  EXPECT_EQ(start, text.size()) << "text ends without CR LF";
  return lines;
}

class SealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetFieldText(FormControl::kOwner, "Owner Inc");
    view.SetFieldText(FormControl::kName, "demo");
    view.SetFieldText(FormControl::kCommandLine, "demo -run");
    view.SetFieldText(FormControl::kSealFrom, src);
    view.SetFieldText(FormControl::kPutTo, out);
    state.project.version = "02.01.00a";
    WriteFile(src + "/a.txt", qx_test::TextBytes(20000, 1));
    WriteFile(src + "/sub/B.bin", qx_test::RandomBytes(3000, 2));
    ::mkdir(out.c_str(), 0777);
    // More workers than most machines have processors, so every run here
    // stores its files on worker threads.
    state.seal_options.jobs = 4;
  }

  bool Seal() { return SealCommand(state, view); }
  std::string HeaderPath() const { return out + "/demo.qxw"; }
  std::string HeaderBytes() const { return ReadFile(HeaderPath()); }

  // The header read back, with its package directory pointed at the put-to
  // directory so that the stored files can be checked.
  std::unique_ptr<PackageHeader> ReadBack(int expected_result = kHeaderOk) {
    std::unique_ptr<PackageHeader> record;
    std::FILE* file = std::fopen(HeaderPath().c_str(), "rb");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) {
      return record;
    }
    FormatVersion version;
    EXPECT_EQ(ReadPackageHeader(file, &version, &record), expected_result);
    std::fclose(file);
    if (record) {
      record->package_directory = out;
    }
    return record;
  }

  bool HasTemporaryHeader() const {
    for (const std::string& name : DirectoryNames(out)) {
      if (name.rfind(".demo.qxw.", 0) == 0) {
        return true;
      }
    }
    return false;
  }

  TempDir dir;
  const std::string src = dir / "src";
  const std::string out = dir / "out";
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  MemoryFormView view;
  SealerState state;
};

TEST_F(SealTest, SealsNamedFilesThenTheListIntoAVerifiableHeader) {
  state.project.registry_file = "setup.reg";
  state.project.download_icon = "Down.ico";
  state.project.readme_file = "README.TXT";  // never sealed in this edition
  WriteFile(src + "/setup.reg", "REGEDIT4\r\n");
  WriteFile(src + "/Down.ico", qx_test::RandomBytes(766, 3));
  WriteFile(src + "/README.TXT", "read me");
  ASSERT_EQ(
      qx_test::RunCommand("touch -t 200102030405.06 " + qx_test::ShellQuote(src + "/a.txt")).status,
      0);
  view.file_list().Add("File: a.txt;");
  view.file_list().Add("; between the files");
  view.file_list().Add("File: sub\\B.bin; trailing text");

  ASSERT_TRUE(Seal());
  EXPECT_TRUE(state.project_modified);
  EXPECT_FALSE(state.seal_running);
  // Only the completion message, without a beep.
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.beeps(), 0);
  const MessageBoxRequest& done = ui.boxes()[0];
  EXPECT_EQ(done.text, "The demo package seal is complete.");
  EXPECT_EQ(done.caption, "Tarnwick Web Sealer");
  EXPECT_EQ(done.icon, BoxIcon::kNone);
  EXPECT_EQ(done.owner, view.Owner());

  EXPECT_EQ(view.progress_texts(),
            (std::vector<std::string>{"Creating HTM file " + out + "/demo.htm ...",
                                      "Sealing setup.reg ...", "Sealing Down.ico ...",
                                      "Sealing File: a.txt ...", "Sealing File: sub\\B.bin ..."}));
  // Each file's step tells where the run is, the read-me file left out.
  using Step = MemoryFormView::FileStep;
  const int64_t total = 10 + 766 + 20000 + 3000;
  EXPECT_EQ(view.file_steps(), (std::vector<Step>{{0, 4, "setup.reg", 10, 0, total},
                                                  {1, 4, "Down.ico", 766, 10, total},
                                                  {2, 4, "a.txt", 20000, 776, total},
                                                  {3, 4, "sub\\B.bin", 3000, 20776, total}}));

  std::unique_ptr<PackageHeader> record = ReadBack();
  ASSERT_TRUE(record);
  EXPECT_FALSE(record->corrupt);
  EXPECT_EQ(record->values.appl_name, "demo");
  EXPECT_EQ(record->values.command_line, "demo -run");
  EXPECT_TRUE(record->values.update_required);
  EXPECT_EQ(record->values.min_version.letter, 'a');
  EXPECT_EQ(record->values.date, state.project.date);
  ASSERT_EQ(record->entries.size(), 5u);
  const std::vector<FileEntry*> e = {record->entries[0].get(), record->entries[1].get(),
                                     record->entries[2].get(), record->entries[3].get(),
                                     record->entries[4].get()};
  EXPECT_EQ(e[0]->name, "setup.reg");
  EXPECT_EQ(e[1]->name, "Down.ico");
  EXPECT_EQ(e[2]->name, "a.txt");
  EXPECT_TRUE(e[3]->comment);
  EXPECT_EQ(e[4]->name, "sub\\B.bin");

  // Named files: unchanged, under the package's version.
  for (int i : {0, 1}) {
    EXPECT_EQ(e[i]->length, e[i]->size);
    EXPECT_EQ(e[i]->version.major, 2);
    EXPECT_EQ(e[i]->version.minor, 1);
    EXPECT_EQ(e[i]->version.letter, 'a');
  }
  EXPECT_EQ(ReadFile(out + "/setup.reg"), "REGEDIT4\r\n");
  EXPECT_EQ(ReadFile(out + "/Down.ico"), ReadFile(src + "/Down.ico"));
  EXPECT_FALSE(FileExists(out + "/README.TXT"));

  // List files: gzip members of the sources, always version 01.00.00.
  for (int i : {2, 4}) {
    const std::string native = e[i]->name == "a.txt" ? "a.txt" : "sub/B.bin";
    const auto expanded =
        qx_test::RunCommand("gzip -dc " + qx_test::ShellQuote(out + "/" + native));
    EXPECT_EQ(expanded.status, 0);
    EXPECT_EQ(expanded.out, ReadFile(src + "/" + native));
    EXPECT_EQ(e[i]->size, static_cast<int64_t>(expanded.out.size()));
    EXPECT_EQ(e[i]->version.major, 1);
    EXPECT_EQ(e[i]->version.minor, 0);
    EXPECT_EQ(e[i]->version.letter, 0);
  }
  EXPECT_LT(e[2]->length, e[2]->size);

  for (FileEntry* entry : {e[0], e[1], e[2], e[4]}) {
    EXPECT_EQ(CheckStoredFile(record.get(), entry, nullptr), kStoredFileOk) << entry->name;
  }

  // The source's time stamp, in the entry and on the stored file.
  EXPECT_EQ(e[2]->month, 2);
  EXPECT_EQ(e[2]->day, 3);
  EXPECT_EQ(e[2]->year, 2001);
  EXPECT_EQ(e[2]->hours, 4);
  EXPECT_EQ(e[2]->minutes, 5);
  EXPECT_EQ(e[2]->seconds, 6);
  struct stat source_info {
  }, stored_info{};
  ASSERT_EQ(::stat((src + "/a.txt").c_str(), &source_info), 0);
  ASSERT_EQ(::stat((out + "/a.txt").c_str(), &stored_info), 0);
  EXPECT_EQ(source_info.st_mtime, stored_info.st_mtime);

  // The comment stands as written, in its place, and CR LF ends every line.
  const std::vector<std::string> lines = SplitCrLf(HeaderBytes());
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], "##QXWEB## 1.0");
  EXPECT_EQ(lines.back().rfind("SECURE_MD5: ", 0), 0u);
  const auto comment = std::find(lines.begin(), lines.end(), "; between the files");
  ASSERT_NE(comment, lines.end());
  EXPECT_EQ(comment[-3].rfind("File: \"a.txt\"", 0), 0u);
  EXPECT_EQ(comment[1].rfind("File: \"sub\\B.bin\"", 0), 0u);

  EXPECT_FALSE(HasTemporaryHeader());
  // The header is served like the other files, not kept private.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  struct stat header_info {};
  ASSERT_EQ(::stat(HeaderPath().c_str(), &header_info), 0);
  EXPECT_EQ(header_info.st_mode & 0777, 0666 & ~mask);
}

TEST_F(SealTest, SealingAgainTheSameDayGivesTheSameHeader) {
  view.file_list().Add("File: a.txt;");
  view.file_list().Add("File: sub\\B.bin;");
  ASSERT_TRUE(Seal());
  const std::string first = HeaderBytes();
  ASSERT_TRUE(Seal());
  EXPECT_EQ(HeaderBytes(), first);
  std::unique_ptr<PackageHeader> record = ReadBack();
  ASSERT_TRUE(record);
  EXPECT_EQ(record->entries.size(), 2u);
}

TEST_F(SealTest, LandingPageIsWrittenOnceAndNeverRewritten) {
  view.file_list().Add("File: a.txt;");
  ASSERT_TRUE(Seal());
  const std::string page = ReadFile(out + "/demo.htm");
  EXPECT_NE(page.find("demo.qxw"), std::string::npos);
  EXPECT_NE(page.find("\r\n"), std::string::npos);

  WriteFile(out + "/demo.htm", "edited by the author");
  view.SetFieldText(FormControl::kName, "demo");
  ASSERT_TRUE(Seal());
  EXPECT_EQ(ReadFile(out + "/demo.htm"), "edited by the author");
  // Only the first run made the page.
  EXPECT_EQ(std::count_if(view.progress_texts().begin(), view.progress_texts().end(),
                          [](const std::string& text) { return text.rfind("Creating", 0) == 0; }),
            1);
}

TEST_F(SealTest, TrailerIsTheDigestOfTheSignificantLinesKeyedByTheDate) {
  view.file_list().Add("File: a.txt;");
  ASSERT_TRUE(Seal());
  EXPECT_TRUE(FileExists(out + "/demo.htm"));
  const std::vector<std::string> lines = SplitCrLf(HeaderBytes());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().substr(0, 12), "SECURE_MD5: ");
  // The trailer is the digest of the significant lines, and of every line of
  // an entry, keyed by the date.
  DigestPtr digest = DigestNew();
  int entry_lines = 0;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].rfind("File:", 0) == 0) {
      entry_lines = 3;
    }
    if (entry_lines-- > 0 || IsSignificantLine(lines[i])) {
      const std::string_view text = DigestedText(lines[i]);
      DigestUpdate(digest.get(), text.data(), text.size());
    }
  }
  char expected[kDigestBufferSize] = {};
  ASSERT_EQ(SecureDigest(digest.get(), expected, sizeof expected, state.project.date.c_str()),
            kDigestOk);
  EXPECT_EQ(lines.back().substr(12), expected);
}

TEST_F(SealTest, EmptyNameOrPutToOnlyBeepsAndFocuses) {
  view.SetFieldText(FormControl::kName, "");
  EXPECT_FALSE(Seal());
  EXPECT_EQ(view.focus(), FormControl::kName);
  view.SetFieldText(FormControl::kName, "demo");
  view.SetFieldText(FormControl::kPutTo, "");
  EXPECT_FALSE(Seal());
  EXPECT_EQ(view.focus(), FormControl::kPutTo);
  EXPECT_EQ(ui.beeps(), 2);
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_FALSE(state.project_modified);
  EXPECT_FALSE(state.seal_running);
}

TEST_F(SealTest, RefusedFormCreatesNothing) {
  view.SetFieldText(FormControl::kCommandLine, "");
  view.file_list().Add("File: a.txt;");
  EXPECT_FALSE(Seal());
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"Command Line was not entered"});
  EXPECT_TRUE(DirectoryNames(out).empty());
  EXPECT_TRUE(state.project_modified);
}

TEST_F(SealTest, MissingPutToIsOfferedAndCreated) {
  const std::string put_to = dir / "new/out";
  view.SetFieldText(FormControl::kPutTo, put_to);
  view.file_list().Add("File: a.txt;");
  ui.QueueAnswer(BoxAnswer::kCancel);
  EXPECT_FALSE(Seal());
  EXPECT_FALSE(FileExists(put_to));
  // Asked only after the whole form passed, so the record holds the form.
  EXPECT_TRUE(state.project_modified);
  ASSERT_TRUE(Seal());
  EXPECT_EQ(ui.texts().front(), "Directory " + put_to + " does not exist, create it?");
  EXPECT_TRUE(FileExists(put_to + "/demo.qxw"));
}

TEST_F(SealTest, EveryFailedRunKeepsTheEarlierHeaderAndRemovesItsTemporary) {
  view.file_list().Add("File: a.txt;");
  view.file_list().Add("File: sub\\B.bin;");
  ASSERT_TRUE(Seal());
  const std::string earlier = HeaderBytes();

  WriteFile(dir / "outside.txt", "not to be touched");
  WriteFile(src + "/deep/f.txt", "f");
  WriteFile(out + "/deep", "a file where a directory must go");
  const std::string long_name(200, 'n');
  WriteFile(src + "/" + long_name, "x");
  WriteFile(src + "/sub/" + long_name, "x");
  // Too long for a line of the header, not only for the joined entry text.
  const std::string longer_name(250, 'L');
  WriteFile(src + "/sub/" + longer_name, "x");
  // Each of these sources holds one byte: the limit depends on the digits
  // of its Length and Size.
  const size_t longest = LongestEntryName(kListEntryVersion, WorstStoredLength(1), 1);
  const auto too_long = [](const std::string& name, size_t longest) {
    return "File name " + name + " is too long for the package header (at most " +
           std::to_string(longest) + " bytes)";
  };
  ASSERT_EQ(::mkfifo((src + "/pipe").c_str(), 0644), 0);
  WriteFile(src + "/demo.htm", "a page of the application");
  WriteFile(src + "/spl/spl.bmp", "BM");
  WriteFile(src + "/a:b.txt", "colon");
  WriteFile(src + "/ lead.txt", "blank");

  const auto put_to_names = [&] {
    std::vector<std::string> names = DirectoryNames(out);
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::vector<std::string> put_to_before = put_to_names();

  int sealing_steps = 0;
  struct FailCase {
    std::string what;
    std::function<void()> arrange;
    std::string message;  // of the last box; empty: no box
  };
  const std::vector<FailCase> cases = {
      {"line without colon", [&] { view.file_list().Add("no colon here"); }, "no colon here"},
      {"refused form", [&] { view.SetFieldText(FormControl::kCommandLine, ""); },
       "Command Line was not entered"},
      {"empty list", [&] { view.file_list().Clear(); },
       "There are no files to seal. Scan the SealFrom directory first."},
      {"put-to is seal-from spelt otherwise",
       [&] { view.SetFieldText(FormControl::kPutTo, src + "/."); },
       "SealFrom and PutTo are the same directory"},
      {"put-to inside seal-from", [&] { view.SetFieldText(FormControl::kPutTo, src + "/pkg"); },
       "SealFrom and PutTo must not lie inside one another: " + src + ", " + src + "/pkg"},
      {"application name the reader refuses", [&] { view.SetFieldText(FormControl::kName, "A|B"); },
       "Invalid application name: it holds a \"|\""},
      {"parent component", [&] { view.file_list().Add("File: ..\\outside.txt;"); },
       "Unable to seal ..\\outside.txt (an empty, \".\" or \"..\" component)"},
      {"absolute name", [&] { view.file_list().Add("File: /etc/hostname;"); },
       "Unable to seal /etc/hostname (an absolute path)"},
      {"drive form", [&] { view.file_list().Add("File: a:b.txt;"); },
       "Unable to seal a:b.txt (a drive form)"},
      {"leading blank", [&] { view.file_list().Add("File:  lead.txt;"); },
       "Unable to seal  lead.txt (a blank at the start or end of a name)"},
      {"unsafe named file", [&] { state.project.launch_icon = "..\\outside.txt"; },
       "The LaunchIcon file ..\\outside.txt must be a file name in the SealFrom directory itself"},
      {"named file with a path", [&] { state.project.download_splash = "spl/spl.bmp"; },
       "The DownloadSplash file spl/spl.bmp must be a file name in the SealFrom directory itself"},
      {"missing source", [&] { view.file_list().Add("File: gone.txt;"); },
       "Unable to open source file " + src + "/gone.txt"},
      {"FIFO", [&] { view.file_list().Add("File: pipe;"); },
       "Unable to seal pipe: " + src + "/pipe is not a regular file"},
      {"one output twice", [&] { view.file_list().Add("File: a.txt;"); },
       "Unable to seal a.txt: the package would hold it twice"},
      {"over the landing page", [&] { view.file_list().Add("File: demo.htm;"); },
       "Unable to seal demo.htm: it would take the place of the package's landing page"},
      {"blocked sub-directory", [&] { view.file_list().Add("File: deep\\f.txt;"); },
       "Unable to publish deep/f.txt: " + out + "/deep is not a directory"},
      {"name too long for the reader", [&] { view.file_list().Add("File: " + long_name + ";"); },
       too_long(long_name, longest)},
      {"name below a directory too long for the reader",
       [&] { view.file_list().Add("File: sub\\" + long_name + ";"); },
       too_long("sub\\" + long_name, longest)},
      {"name too long for a header line",
       [&] { view.file_list().Add("File: sub\\" + longer_name + ";"); },
       too_long("sub\\" + longer_name, longest)},
      {"named file under the package's version, too long for the reader",
       [&] { state.project.launch_icon = long_name; },
       too_long(long_name, LongestEntryName("02.01.00a", 1, 1))},
      {"comment line too long for the reader",
       [&] { view.file_list().Add(";" + std::string(300, 'c')); },
       "The list line ;" + std::string(300, 'c') + " is too long for the package header"},
      {"install-to the reader cuts",
       [&] { view.SetFieldText(FormControl::kInstallTo, std::string(100, 'i')); },
       "The InstallTo value is too long for the package header"},
      {"application name the client's cache cannot record",
       [&] { view.SetFieldText(FormControl::kName, "Tool]x"); },
       "The application name Tool]x cannot be recorded in the client's cache: it holds \"]\", "
       "which the cache registry cannot hold in a section name"},
      {"install-to the client's cache cannot record",
       [&] { view.SetFieldText(FormControl::kInstallTo, "apps/x]y"); },
       "The InstallTo directory apps/x]y cannot be recorded in the client's cache: it holds "
       "\"]\", which the cache registry cannot hold in a section name"},
      {"cancel on the second file",
       [&] {
         view.SetProgressHook([&](std::string_view text) {
           return text.rfind("Sealing ", 0) == 0 && ++sealing_steps == 2;
         });
       },
       ""},
  };
  for (const FailCase& c : cases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> saved_list(view.file_list().lines().begin(),
                                              view.file_list().lines().end());
    ui.Clear();
    state.project_modified = false;
    c.arrange();
    EXPECT_FALSE(Seal());
    EXPECT_TRUE(state.project_modified);
    EXPECT_FALSE(state.seal_running);
    if (c.message.empty()) {
      EXPECT_TRUE(ui.boxes().empty());
    } else {
      ASSERT_FALSE(ui.boxes().empty());
      EXPECT_EQ(ui.boxes().back().text, c.message);
      EXPECT_GE(ui.beeps(), 1);
    }
    EXPECT_EQ(HeaderBytes(), earlier);
    EXPECT_FALSE(HasTemporaryHeader());
    EXPECT_FALSE(FileExists(out + "/.demo.seal"));
    EXPECT_EQ(put_to_names(), put_to_before);
    EXPECT_EQ(ReadFile(dir / "outside.txt"), "not to be touched");

    view.file_list().Clear();
    for (const std::string& line : saved_list) {
      view.file_list().Add(line);
    }
    view.SetFieldText(FormControl::kCommandLine, "demo -run");
    view.SetFieldText(FormControl::kName, "demo");
    view.SetFieldText(FormControl::kPutTo, out);
    view.SetFieldText(FormControl::kInstallTo, "");
    view.SetProgressHook(nullptr);
    state.project.launch_icon.clear();
    state.project.download_splash.clear();
  }
  // The line without a colon is shown as it stands, captioned as a name error.
  ui.Clear();
  view.file_list().Add("no colon here");
  EXPECT_FALSE(Seal());
  ASSERT_EQ(ui.boxes().size(), 1u);
  EXPECT_EQ(ui.boxes()[0].caption, "Unable to read pack file name");
  EXPECT_EQ(ui.boxes()[0].icon, BoxIcon::kNone);
  EXPECT_EQ(ui.boxes()[0].owner, nullptr);
  EXPECT_EQ(ui.beeps(), 1);
}

// Each change before a re-seal: the package that the parallel re-seal, which
// keeps what it can of the earlier package, writes must be byte for byte the
// package a full seal on one thread writes; and exactly the files the change
// touched are stored again.
TEST_F(SealTest, ReSealsKeepOnlyUnchangedFilesAndWriteWhatAFullOneThreadSealWrites) {
  const std::string ref = dir / "ref";
  auto native = [](std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    return name;
  };
  std::vector<std::string> names = {"Down.ico"};
  auto make_tree = [&] {
    view.file_list().Clear();
    state.project.launch_icon.clear();
    state.project.download_icon = "Down.ico";
    WriteFile(src + "/Down.ico", qx_test::RandomBytes(766, 3));
    names.resize(1);
    for (int i = 0; i < 24; ++i) {
      const std::string name = "d" + std::to_string(i % 3) + "\\f" + std::to_string(i) + ".txt";
      WriteFile(src + "/" + native(name), qx_test::TextBytes(500 + 997 * i, 10 + i));
      view.file_list().Add("File: " + name + ";");
      names.push_back(name);
    }
    view.file_list().Add("File: a.txt;");
    names.push_back("a.txt");
  };
  auto inodes = [&] {
    std::map<std::string, ino_t> found;
    for (const std::string& name : names) {
      struct stat info {};
      found[name] = ::stat((out + "/" + native(name)).c_str(), &info) == 0 ? info.st_ino : 0;
    }
    return found;
  };
  auto seal_into = [&](const std::string& put_to, int jobs, bool reuse) {
    view.SetFieldText(FormControl::kPutTo, put_to);
    state.seal_options = {};
    state.seal_options.jobs = jobs;
    state.seal_options.reuse = reuse;
    const bool sealed = Seal();
    view.SetFieldText(FormControl::kPutTo, out);
    return sealed;
  };
  // Sets |path|'s last-write time to |seconds| and |nanoseconds|.
  auto set_time = [](const std::string& path, time_t seconds, long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
  };
  auto mtime = [](const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0);
    return info.st_mtim;
  };
  // Changes the bytes of a stored file, then gives it back its times.
  auto alter_stored = [&](const std::string& name, std::function<void(std::string&)> edit) {
    const std::string path = out + "/" + name;
    const timespec was = mtime(path);
    std::string bytes = ReadFile(path);
    edit(bytes);
    WriteFile(path, bytes);
    set_time(path, was.tv_sec, was.tv_nsec);
  };

  struct ReSealCase {
    std::string what;
    std::function<void()> change;
    std::set<std::string> stored_again;  // "*": every file
    bool reuse = true;
  };
  const std::vector<ReSealCase> cases = {
      {"nothing changed", [] {}, {}},
      {"a source rewritten", [&] { WriteFile(src + "/d0/f3.txt", "shorter now"); }, {"d0\\f3.txt"}},
      {"same size within the same two seconds",
       [&] {
         const std::string path = src + "/d1/f4.txt";
         const timespec was = mtime(path);
         WriteFile(path, qx_test::TextBytes(500 + 997 * 4, 99));
         set_time(path, was.tv_sec, (was.tv_nsec + 1) % 1000000000);
       },
       {"d1\\f4.txt"}},
      {"a stored byte altered",
       [&] { alter_stored("d2/f5.txt", [](std::string& b) { b[b.size() / 2] ^= 1; }); },
       {"d2\\f5.txt"}},
      {"a stored file truncated",
       [&] { alter_stored("d0/f6.txt", [](std::string& b) { b.resize(b.size() - 1); }); },
       {"d0\\f6.txt"}},
      {"a stored file removed", [&] { std::remove((out + "/d1/f7.txt").c_str()); }, {"d1\\f7.txt"}},
      {"a list file made a named file",
       [&] {
         state.project.launch_icon = "a.txt";
         view.file_list().Delete(view.file_list().Count() - 1);
       },
       {"a.txt"}},
      {"the earlier header hand-edited",
       [&] {
         std::string header = HeaderBytes();
         header.replace(header.find("Copyright:"), 10, "Copyleft: ");
         WriteFile(HeaderPath(), header);
       },
       {"*"}},
      {"--full", [] {}, {"*"}, false},
  };
  for (const ReSealCase& c : cases) {
    SCOPED_TRACE(c.what);
    make_tree();
    ASSERT_TRUE(seal_into(out, 4, false));
    c.change();
    const std::map<std::string, ino_t> before = inodes();
    ASSERT_TRUE(seal_into(out, 4, c.reuse));
    const std::map<std::string, ino_t> after = inodes();
    for (const std::string& name : names) {
      const bool again = c.stored_again.count("*") != 0 || c.stored_again.count(name) != 0;
      EXPECT_EQ(before.at(name) != after.at(name), again) << name;
    }
    qx_test::RunCommand("rm -rf " + qx_test::ShellQuote(ref));
    ::mkdir(ref.c_str(), 0777);
    ASSERT_TRUE(seal_into(ref, 1, false));
    EXPECT_EQ(HeaderBytes(), ReadFile(ref + "/demo.qxw"));
    EXPECT_EQ(ReadFile(out + "/demo.htm"), ReadFile(ref + "/demo.htm"));
    std::unique_ptr<PackageHeader> record = ReadBack();
    ASSERT_TRUE(record);
    for (const std::unique_ptr<FileEntry>& entry : record->entries) {
      const std::string name = native(entry->name);
      EXPECT_TRUE(ReadFile(out + "/" + name) == ReadFile(ref + "/" + name)) << name;
    }
  }
}

// The kept-file checks that run ahead of the staging: their answers are the
// ones a check made then would give, and they are given up when the earlier
// header was replaced (or appeared) after it was read.
TEST_F(SealTest, KeptFilesCheckedAheadHoldOnlyWhileTheHeaderIsTheOneRead) {
  const std::vector<std::string> list = {"File: a.txt;", "; a comment", "File: sub\\B.bin;"};
  for (const std::string& line : list) {
    view.file_list().Add(line);
  }
  ASSERT_TRUE(Seal());
  SealerProject project;
  project.appl_name = "demo";
  project.seal_from = src;
  project.put_to = out;
  const SealPlan plan = MakeSealPlan(project, list);
  ASSERT_EQ(plan.file_count, 2u);
  auto replace_header = [&] {
    const std::string bytes = HeaderBytes();
    WriteFile(out + "/replacement", bytes);
    ASSERT_EQ(std::rename((out + "/replacement").c_str(), HeaderPath().c_str()), 0);
  };
  const struct {
    const char* what;
    std::function<void()> before_read;
    std::function<void()> after_checks;
    bool holds;
  } cases[] = {
      {"nothing changed", [] {}, [] {}, true},
      {"the header replaced by a publication", [] {}, replace_header, false},
      {"the header touched", [] {},
       [&] { ASSERT_EQ(::utimensat(AT_FDCWD, HeaderPath().c_str(), nullptr, 0), 0); }, false},
      {"the header appeared", [&] { std::rename(HeaderPath().c_str(), (out + "/away").c_str()); },
       [&] { std::rename((out + "/away").c_str(), HeaderPath().c_str()); }, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    c.before_read();
    EarlierPackage earlier(out, "demo");
    earlier.CheckAhead(plan, 2);
    c.after_checks();
    EXPECT_EQ(earlier.FinishAhead(), c.holds);
    if (c.holds) {
      std::unique_ptr<PackageHeader> record = ReadBack();
      ASSERT_TRUE(record);
      for (const SealPlanItem& item : plan.items) {
        if (item.kind == SealItemKind::kComment) {
          continue;
        }
        StoredFile stored;
        EXPECT_TRUE(earlier.Keep(item, stored)) << item.name;
        const auto entry =
            std::find_if(record->entries.begin(), record->entries.end(),
                         [&](const std::unique_ptr<FileEntry>& e) { return e->name == item.name; });
        ASSERT_NE(entry, record->entries.end());
        EXPECT_EQ(stored.digest, (*entry)->digest);
        EXPECT_EQ(stored.length, (*entry)->length);
        EXPECT_EQ(stored.size, (*entry)->size);
      }
    }
  }
}

// Files that fail on several workers at once: only the first in plan order
// is reported, as a one-thread seal would, and the earlier package stays.
TEST_F(SealTest, ParallelSealReportsOnlyTheFirstFailureInPlanOrder) {
  WriteFile(src + "/big.bin", qx_test::RandomBytes(4 << 20, 5));
  view.file_list().Add("File: big.bin;");
  for (int i = 1; i < 8; ++i) {
    WriteFile(src + "/f" + std::to_string(i), qx_test::TextBytes(1000, i));
    view.file_list().Add("File: f" + std::to_string(i) + ";");
  }
  ASSERT_TRUE(Seal());
  const std::string earlier = HeaderBytes();
  std::remove((out + "/demo.htm").c_str());
  ui.Clear();
  // Every file is stored again, none kept as the plan found it.
  state.seal_options.reuse = false;
  // Once the plan has passed its checks: f3 goes, and f5 becomes a FIFO.
  view.SetProgressHook([&](std::string_view text) {
    if (text.rfind("Creating HTM file", 0) == 0) {
      std::remove((src + "/f3").c_str());
      std::remove((src + "/f5").c_str());
      EXPECT_EQ(::mkfifo((src + "/f5").c_str(), 0644), 0);
    }
    return false;
  });
  EXPECT_FALSE(Seal());
  EXPECT_EQ(ui.texts(), std::vector<std::string>{"Unable to open source file " + src + "/f3"});
  EXPECT_EQ(ui.beeps(), 1);
  EXPECT_EQ(HeaderBytes(), earlier);
  EXPECT_FALSE(FileExists(out + "/.demo.seal"));
}

TEST_F(SealTest, SecondSealFromInsideTheProgressStepIsRefused) {
  view.file_list().Add("File: a.txt;");
  int nested_results = 0;
  view.SetProgressHook([&](std::string_view) {
    EXPECT_TRUE(state.seal_running);
    nested_results += SealCommand(state, view) ? 1 : 0;
    return false;
  });
  ASSERT_TRUE(Seal());
  EXPECT_EQ(nested_results, 0);
  EXPECT_EQ(ui.beeps(), static_cast<int>(view.progress_texts().size()));
  EXPECT_EQ(ui.boxes().size(), 1u);  // the one completion message
  EXPECT_FALSE(state.seal_running);
}

// The scan's limit holds for the client's reader: a list file whose path
// takes the whole limit is sealed and read back under its full name.
TEST_F(SealTest, ListFileAtTheNameLimitIsSealedAndReadBackWhole) {
  const std::string name = "sub\\" + std::string(LongestListEntryName() - 4, 'm');
  WriteFile(src + "/sub/" + name.substr(4), "at the limit");
  view.file_list().Add("File: a.txt;");
  view.file_list().Add("File: " + name + ";");
  ASSERT_TRUE(Seal()) << (ui.boxes().empty() ? "" : ui.boxes().back().text);
  const std::unique_ptr<PackageHeader> record = ReadBack();
  ASSERT_NE(record, nullptr);
  ASSERT_EQ(record->entries.size(), 2u);
  EXPECT_EQ(record->entries[1]->name, name);
  // The digest ends the entry's joined text: it is the first thing a cut takes.
  EXPECT_EQ(record->entries[1]->size, 12);
  EXPECT_EQ(record->entries[1]->digest.size(), kDigestTextLength);
}

// The entry of a name of the longest length, with the widest values a file
// gives, is read back whole; one byte more and it is cut.
TEST(EntryFit, LongestEntryNameIsTheLastLengthTheReaderTakesWhole) {
  const std::string digest(kDigestTextLength, 'f');
  const auto entry = [&](size_t name_size, std::string_view version) {
    return SealerEntryLines(std::string(name_size, 'n'), "23:59:59", "12/31/2099", version,
                            999999999999, 999999999999, digest);
  };
  // What the header parser makes of the entry: whole when the name, the
  // widest size and the digest all come back as written.
  const auto read_whole = [&](size_t name_size, std::string_view version) {
    std::string bytes =
        SealerMagicLine() + "\r\n" + KeyLine("ApplName", "demo", HeaderWriter::kSealer) + "\r\n";
    for (const std::string& line : entry(name_size, version)) {
      bytes += line + "\r\n";
    }
    const Result<ParsedHeader> parsed = ParseHeader(bytes);
    return parsed.ok() && parsed->entries.size() == 1 &&
           parsed->entries[0].name == std::string(name_size, 'n') &&
           parsed->entries[0].size == 999999999999 && parsed->entries[0].digest == digest;
  };
  for (const std::string_view version : {kListEntryVersion, std::string_view("02.01.00a")}) {
    SCOPED_TRACE(version);
    const size_t longest = LongestEntryName(version);
    ASSERT_GT(longest, 0u);
    EXPECT_TRUE(EntryFitsReader(entry(longest, version)));
    EXPECT_FALSE(EntryFitsReader(entry(longest + 1, version)));
    EXPECT_TRUE(read_whole(longest, version));
    EXPECT_FALSE(read_whole(longest + 1, version));
    // Shorter numbers leave more room, never less.
    EXPECT_TRUE(EntryFitsReader(SealerEntryLines(std::string(longest, 'n'), "00:00:00",
                                                 "01/01/1980", version, 1, 1, digest)));
  }
  EXPECT_EQ(LongestListEntryName(), LongestEntryName(kListEntryVersion));
  EXPECT_EQ(LongestEntryName("02.01.00a"), LongestListEntryName() - 1);
  // A version that fills a line by itself leaves no room at all.
  EXPECT_EQ(LongestEntryName(std::string(300, '9')), 0u);
  EXPECT_FALSE(EntryFitsReader(entry(0, std::string(300, '9'))));
}

TEST(StoreFile, UnchangedCopyAndCompressedCopyReportTheirCounts) {
  TempDir dir;
  ScriptedUserInterface ui;
  ScopedUserInterface scoped(ui);
  const std::string data = qx_test::TextBytes(5000, 9);
  WriteFile(dir / "in", data);

  StoredFile copied;
  ASSERT_TRUE(StoreFile(false, dir / "in", dir / "copy", "demo", copied));
  EXPECT_EQ(ReadFile(dir / "copy"), data);
  EXPECT_EQ(copied.length, 5000);
  EXPECT_EQ(copied.size, 5000);
  EXPECT_EQ(copied.digest.size(), 32u);
  EXPECT_EQ(copied.date_text.size(), 10u);
  EXPECT_EQ(copied.time_text.size(), 8u);

  StoredFile packed;
  ASSERT_TRUE(StoreFile(true, dir / "in", dir / "packed", "demo", packed));
  EXPECT_EQ(packed.size, 5000);
  EXPECT_EQ(packed.length, static_cast<int64_t>(ReadFile(dir / "packed").size()));
  EXPECT_NE(packed.digest, copied.digest);

  // The digest is keyed by the application name.
  StoredFile other_key;
  ASSERT_TRUE(StoreFile(false, dir / "in", dir / "copy", "other", other_key));
  EXPECT_NE(other_key.digest, copied.digest);

  // The failure comes back as a value, shown nowhere: a stop box's text.
  const Result<void> failed = StoreFile(false, dir / "in", dir / "no/such/dir/out", "demo", copied);
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.error().code, kSealFailed);
  EXPECT_EQ(failed.error().message, "Unable to create output file " + (dir / "no/such/dir/out"));
  EXPECT_EQ(failed.error().path, dir / "no/such/dir/out");
  EXPECT_TRUE(ui.boxes().empty());
}

}  // namespace
}  // namespace qx
