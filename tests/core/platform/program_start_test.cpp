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
      {" \t ", {}},
      {"  'a b' \"c d\"\tx", {"a b", "c d", "x"}},
      {"'a\\b \"x\"'", {"a\\b \"x\""}},
      {"\"say \\\"hi\\\" \\\\ \\$x 'q'\"", {"say \"hi\" \\ \\$x 'q'"}},
      {"a\\ b a\\\\b '' a''b", {"a b", "a\\b", "", "ab"}},
      {"x;y | && $(touch p) `id` > out *.txt ~ $HOME",
       {"x;y", "|", "&&", "$(touch", "p)", "`id`", ">", "out", "*.txt", "~", "$HOME"}},
      {"\"open x", {"open x"}},
      {"end\\", {"end\\"}},
      {"data\\file \\$x", {"data\\file", "\\$x"}},
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

TEST(ProgramStart, RunsWithItsArgumentsInTheWorkingDirectoryFoundThereFirstThenOnPath) {
  qx_test::TempDir dir;
  const std::string work = dir / "work";
  const std::string bin = dir / "bin";
  WriteReporter(work + "/both", "work");
  WriteReporter(work + "/sub/nested", "nested");
  WriteReporter(bin + "/both", "path");
  WriteReporter(bin + "/onpath", "path");
  WriteReporter(work + "/plain", "plain", 0644);
  qx_test::WriteFile(work + "/garbage",
                     "\x7f"
                     "ELF junk");
  ASSERT_EQ(::chmod((work + "/garbage").c_str(), 0755), 0);
  qx_test::ScopedEnv path("PATH", ("/nonexistent::" + bin).c_str());
  const std::string here = std::filesystem::current_path();
  const std::string report =
      "\n" + std::filesystem::canonical(work).string() + "\n[a b]\n[$HOME]\n";

  const struct {
    std::string program;
    int result;
    std::string mark;
  } cases[] = {
      {"both", kStartedOk, "work"},  // the working directory comes first
      {"onpath", kStartedOk, "path"},
      {"sub/nested", kStartedOk, "nested"},  // relative to the working directory
      {bin + "/onpath", kStartedOk, "path"},
      {"missing", kStartNotFound, ""},
      {"sub/missing", kStartNotFound, ""},
      {"plain", kStartAccessDenied, ""},  // no execute bit: even root cannot run it
      {"sub", kStartAccessDenied, ""},
      {"garbage", kStartBadFormat, ""},
      {"", kStartNothing, ""},
  };
  for (const auto& c : cases) {
    const std::string out = dir / "out";
    pid_t pid = 0;
    ASSERT_EQ(StartProgram(c.program, {out, "a b", "$HOME"}, work, &pid), c.result) << c.program;
    if (c.result == kStartedOk) {
      int status = -1;
      ASSERT_EQ(::waitpid(pid, &status, 0), pid);
      EXPECT_EQ(qx_test::ReadFile(out), c.mark + report) << c.program;
    }
  }
  EXPECT_EQ(std::filesystem::current_path(), here);

  // Nobody waits for this one: it is reaped in the background.
  ASSERT_EQ(StartProgram("both", {dir / "detached"}, work, nullptr), kStartedOk);
  for (int i = 0; i < 500 && qx_test::ReadFile(dir / "detached").empty(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_EQ(qx_test::ReadFile(dir / "detached").substr(0, 5), "work\n");
}

}  // namespace
}  // namespace qx
