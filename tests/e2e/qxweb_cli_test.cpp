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

TEST_F(QxwebProjectTest, KeyNewWritesAKeyPairThatKeyShowReadsBack) {
  const auto key = [this](const std::string& passphrase, const std::string& arguments) {
    const std::string env =
        passphrase.empty() ? "" : "QXWEB_KEY_PASSPHRASE=" + ShellQuote(passphrase) + " ";
    return RunCommand("cd " + ShellQuote(dir_.path()) + " && " + env +
                      ShellQuote(qx_test::QxwebPath()) + " key " + arguments);
  };
  const CommandResult made = key("s3cret words", "new signer.key");
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(made.err, "");
  std::string line = ReadFile(dir_ / "signer.key.pub");
  ASSERT_FALSE(line.empty());
  line.pop_back();
  const std::string id = line.substr(line.rfind(' ') + 1);
  const std::string shown = "key id:     " + id + "\npublic key: " + line + "\n";
  EXPECT_EQ(made.out,
            shown + "secret key: signer.key (encrypted)\npublic key file: signer.key.pub\n");
  EXPECT_EQ(std::filesystem::status(dir_ / "signer.key").permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  struct Case {
    std::string passphrase;
    std::string arguments;
    int status;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"s3cret words", "show signer.key", 0, shown, ""},
      {"", "show signer.key.pub", 0, shown, ""},
      {"wrong", "show signer.key", 1, "", "qxweb key show: signer.key: wrong passphrase\n"},
      {"", "show signer.key", 1, "",
       "qxweb key show: signer.key is encrypted: set QXWEB_KEY_PASSPHRASE or run on a terminal\n"},
      {"other", "new signer.key", 1, "",
       "qxweb key new: signer.key already exists; a key file is never overwritten\n"},
      {"", "show missing.key.pub", 1, "",
       "qxweb key show: missing.key.pub: No such file or directory\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments + " with \"" + c.passphrase + "\"");
    const CommandResult run = key(c.passphrase, c.arguments);
    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.out);
    EXPECT_EQ(run.err, c.err);
  }

  // Without the variable or a terminal the key is stored as it is, and said so.
  const CommandResult plain = key("", "new plain.key");
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err,
            "qxweb key new: no passphrase (QXWEB_KEY_PASSPHRASE is not set and stdin is no "
            "terminal): plain.key is not encrypted\n");
  EXPECT_EQ(key("", "show plain.key").status, 0);
}
}  // namespace
