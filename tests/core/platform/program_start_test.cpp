// Tests of starting a program (platform layer): the shell-like splitting with
// nothing expanded, argv and working directory as the child sees them, and
// the lookup in the working directory, then along PATH.
#include "core/platform/program_start.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/scoped_env.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using Words = std::vector<std::string>;

TEST(ProgramStart, SplitsLikeAShellWithoutExpandingAnything) {
  const struct {
    std::string_view text;
    Words words;
  } cases[] = {
      {"", {}},
      {" \t ", {}},
      {"  a  b\tc ", {"a", "b", "c"}},
      {"'a b' \"c d\"", {"a b", "c d"}},
      {"'a\\b \"x\"'", {"a\\b \"x\""}},
      {"\"say \\\"hi\\\" \\\\ \\$x 'q'\"", {"say \"hi\" \\ \\$x 'q'"}},
      {"a\\ b a\\\\b data\\file", {"a b", "a\\b", "datafile"}},
      {"'' a''b \"\"", {"", "ab", ""}},
      {"x;y ; | && $(touch p) `id` > out < in *.txt ~ $HOME",
       {"x;y", ";", "|", "&&", "$(touch", "p)", "`id`", ">", "out", "<", "in", "*.txt", "~",
        "$HOME"}},
      {"\"open x", {"open x"}},
      {"'open", {"open"}},
      {"end\\", {"end\\"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SplitParameters(c.text), c.words) << c.text;
  }
}

// A script that writes its mark, its working directory and its arguments
// (one per line, bracketed) to the file named by its first argument.
void WriteReporter(const std::string& path, std::string_view mark, mode_t mode = 0755) {
  qx_test::WriteFile(path, "#!/bin/sh\nout=$1; shift\n{ echo " + std::string(mark) +
                               "; pwd -P; for a in \"$@\"; do printf '[%s]\\n' \"$a\"; done; } "
                               "> \"$out\"\n");
  ASSERT_EQ(::chmod(path.c_str(), mode), 0);
}

std::string WaitAndRead(pid_t pid, const std::string& out) {
  int status = -1;
  EXPECT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  return qx_test::ReadFile(out);
}

TEST(ProgramStart, ChildGetsItsArgumentsAndWorkingDirectoryTheCallerKeepsItsOwn) {
  qx_test::TempDir dir;
  const std::string work = dir / "work";
  WriteReporter(dir / "bin/report", "R");
  std::filesystem::create_directories(work);
  const std::string before = std::filesystem::current_path();
  pid_t pid = 0;
  ASSERT_EQ(StartProgram(dir / "bin/report", {dir / "out", "a b", "$HOME", "", "*"}, work, &pid),
            kStartedOk);
  EXPECT_EQ(std::filesystem::current_path(), before);
  EXPECT_EQ(WaitAndRead(pid, dir / "out"),
            "R\n" + std::filesystem::canonical(work).string() + "\n[a b]\n[$HOME]\n[]\n[*]\n");

  // Nobody waits for this one: it is reaped in the background.
  ASSERT_EQ(StartProgram(dir / "bin/report", {dir / "detached"}, work, nullptr), kStartedOk);
  for (int i = 0; i < 500 && qx_test::ReadFile(dir / "detached").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(qx_test::ReadFile(dir / "detached").substr(0, 2), "R\n");
}

TEST(ProgramStart, LooksInTheWorkingDirectoryThenAlongPath) {
  qx_test::TempDir dir;
  const std::string work = dir / "work";
  const std::string bin = dir / "bin";
  WriteReporter(work + "/here", "here");
  WriteReporter(work + "/both", "work");
  WriteReporter(work + "/sub/nested", "nested");
  WriteReporter(bin + "/both", "path");
  WriteReporter(bin + "/onpath", "path");
  WriteReporter(work + "/plain", "plain", 0644);
  qx_test::WriteFile(work + "/garbage", std::string("\x7f"
                                                    "ELF junk",
                                                    9));
  ASSERT_EQ(::chmod((work + "/garbage").c_str(), 0755), 0);
  std::filesystem::create_directories(work + "/adir");
  qx_test::ScopedEnv path("PATH", ("/nonexistent::" + bin).c_str());

  const struct {
    std::string program;
    int result;
    std::string mark;
  } cases[] = {
      {"here", kStartedOk, "here"},
      {"both", kStartedOk, "work"},  // the working directory comes first
      {"onpath", kStartedOk, "path"},
      {"sub/nested", kStartedOk, "nested"},  // relative to the working directory
      {"missing", kStartNotFound, ""},
      {"sub/missing", kStartNotFound, ""},
      {"plain", kStartAccessDenied, ""},  // no execute bit: even root cannot run it
      {"adir", kStartAccessDenied, ""},
      {"garbage", kStartBadFormat, ""},
      {"", kStartNothing, ""},
  };
  for (const auto& c : cases) {
    const std::string out = dir / ("out-" + std::to_string(&c - cases));
    pid_t pid = 0;
    ASSERT_EQ(StartProgram(c.program, {out}, work, &pid), c.result) << c.program;
    if (c.result == kStartedOk) {
      EXPECT_EQ(WaitAndRead(pid, out).substr(0, c.mark.size() + 1), c.mark + "\n") << c.program;
    }
  }
}

}  // namespace
}  // namespace qx
