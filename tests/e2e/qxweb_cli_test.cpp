// Tests of the command-line tool: what qxweb says about itself (version,
// help, wrong usage), whole-program runs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/support/test_support.h"

namespace {

using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::RunCommand;
using qx_test::ShellQuote;
using qx_test::WriteFile;

TEST(QxwebCli, VersionHelpAndWrongUsageEndWithTheirStatuses) {
  const std::string qxweb = ShellQuote(qx_test::QxwebPath());
  const auto version = RunCommand(qxweb + " --version");
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "qxweb " QX_VERSION " (qxwebcore " QX_VERSION ")\n");
  const auto help = RunCommand(qxweb + " --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("seal"), std::string::npos);
  EXPECT_EQ(RunCommand(qxweb + " --no-such-option").status, 2);
  EXPECT_EQ(RunCommand(qxweb).status, 2);
}

class QxwebProjectTest : public ::testing::Test {
 protected:
  // Runs qxweb in the test's directory, with its settings there too.
  CommandResult Qxweb(const std::string& arguments) {
    return RunCommand("cd " + ShellQuote(dir_.path()) +
                      " && XDG_CONFIG_HOME=" + ShellQuote(dir_.path()) + " " +
                      ShellQuote(qx_test::QxwebPath()) + " " + arguments);
  }

  // A project file named |name| with |keys| in its header and |list| after it.
  void WriteProject(const std::string& name, const std::string& keys,
                    const std::string& list = "") {
    WriteFile(dir_ / name, "##QXKWS## 1.0\r\n" + keys + "*** End Of Header ***\r\n" + list);
  }

  qx_test::TempDir dir_;
};

TEST_F(QxwebProjectTest, CommandsNameTheOptionOrTheKeyThatIsWrong) {
  WriteProject("no_name.QXS", "ApplName:\r\nCommandLine: run\r\nPutTo: /out\r\nSealFrom: /src\r\n");
  WriteProject("no_put_to.QXS",
               "ApplName: demo\r\nCommandLine: run\r\nPutTo: \r\nSealFrom: /src\r\n");
  WriteProject("no_seal_from.QXS", "ApplName: demo\r\nPutTo: /out\r\nSealFrom: \r\n");
  const std::string made = "new made.QXS --name demo --seal-from src --put-to out ";
  struct Case {
    std::string arguments;
    int status;
    std::string said;
  };
  const Case cases[] = {
      {made + "--command-line run --owner " + ShellQuote("Me\nPutTo: /x"), 2,
       "qxweb: --owner holds a line break or another control character"},
      {made + "--command-line " + ShellQuote("run\t-x"), 2, "qxweb: --command-line holds"},
      {"seal no_name.QXS", 1,
       "qxweb: " + (dir_ / "no_name.QXS") + " has no application name (ApplName)"},
      {"seal no_put_to.QXS", 1,
       "qxweb: " + (dir_ / "no_put_to.QXS") + " has no put-to directory (PutTo)"},
      {"scan no_seal_from.QXS", 1,
       "qxweb: " + (dir_ / "no_seal_from.QXS") + " has no seal-from directory (SealFrom)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments);
    const CommandResult run = Qxweb(c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_NE(run.err.find(c.said), std::string::npos) << run.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_ / "made.QXS"));
}

TEST_F(QxwebProjectTest, ScanRecreatesACorruptListOrMakesItAfresh) {
  WriteFile(dir_ / "src/a.txt", "a");
  WriteFile(dir_ / "src/b.txt", "b");
  const std::string keys = "ApplName: demo\r\nCommandLine: run\r\nPutTo: " + (dir_ / "out") +
                           "\r\nSealFrom: " + (dir_ / "src") + "\r\n";
  const std::string end_line = "*** End Of Header ***\r\n";
  struct Case {
    std::string options;
    std::string list;
  };
  const Case cases[] = {
      {"", ";about a\r\nFile: a.txt;\r\n;about b\r\nFile: b.txt;\r\n"},
      {"--fresh ", "File: a.txt;\r\nFile: b.txt;\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    WriteProject("p.QXS", keys,
                 ";about a\r\nFile: a.txt;\r\nno separator\r\n;about b\r\nFile: b.txt;\r\n");
    const CommandResult run = Qxweb("scan " + c.options + "p.QXS");
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string text = ReadFile(dir_ / "p.QXS");
    EXPECT_EQ(text.substr(text.find(end_line) + end_line.size()), c.list);
  }
}

}  // namespace
