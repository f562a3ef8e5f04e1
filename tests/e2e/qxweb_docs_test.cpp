// Tests of qxweb's generated manual page and bash completion, against what
// the built qxweb says of itself and what the completion offers in a
// directory of sample files.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using qx_test::RunCommand;
using qx_test::ShellQuote;

const std::string kManPage = QX_DOCS_DIR "/qxweb.1";
const std::string kCompletion = QX_DOCS_DIR "/completions/qxweb";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

// The first word of each line in the help's section |title| ("Options:").
std::vector<std::string> HelpSection(const std::string& help, const std::string& title) {
  std::vector<std::string> words;
  bool inside = false;
  for (const std::string& line : Lines(help)) {
    if (line == title) {
      inside = true;
    } else if (line.empty() || line[0] != ' ') {
      inside = false;
    } else if (inside && line.compare(0, 3, "   ") != 0) {
      std::istringstream(line) >> words.emplace_back();
    }
  }
  return words;
}

// |text| as the manual page spells it.
std::string Roff(const std::string& text) {
  std::string out;
  for (const char c : text) {
    out += c == '-' ? std::string("\\-") : std::string(1, c);
  }
  return out;
}

// Every command, subcommands included, as qxweb's own help lists them.
std::vector<std::string> CommandsFromHelp(const std::string& prefix = "") {
  std::vector<std::string> commands;
  const auto help = RunCommand(ShellQuote(qx_test::QxwebPath()) + " " + prefix + "--help");
  EXPECT_EQ(help.status, 0) << prefix;
  for (const std::string& name : HelpSection(help.out, "Subcommands:")) {
    commands.push_back(prefix + name);
    for (const std::string& sub : CommandsFromHelp(prefix + name + " ")) {
      commands.push_back(sub);
    }
  }
  return commands;
}

TEST(QxwebDocs, ManualPageDescribesEveryCommandWithItsArguments) {
  const std::string page = qx_test::ReadFile(kManPage);
  ASSERT_FALSE(page.empty());
  EXPECT_EQ(page.find('@'), std::string::npos) << "a marker is left";
  const std::vector<std::string> commands = CommandsFromHelp();
  ASSERT_GE(commands.size(), 20u);
  for (const std::string& command : commands) {
    SCOPED_TRACE(command);
    // The command's section, up to the next one.
    const size_t start = page.find(".SS \"" + Roff(command) + "\"\n");
    ASSERT_NE(start, std::string::npos);
    const std::string section = page.substr(start, page.find("\n.S", start + 1) - start);
    EXPECT_NE(section.find("\n.B qxweb " + Roff(command) + "\n"), std::string::npos);
    const auto help = RunCommand(ShellQuote(qx_test::QxwebPath()) + " " + command + " --help");
    for (const std::string& positional : HelpSection(help.out, "Positionals:")) {
      EXPECT_NE(section.find("\n\\fI" + positional + "\\fR\n"), std::string::npos) << positional;
    }
    for (const std::string& names : HelpSection(help.out, "Options:")) {
      const size_t long_name = names.find("--");
      const std::string option = long_name == std::string::npos ? "" : names.substr(long_name);
      if (!option.empty() && option != "--help" && option != "--help-all") {
        EXPECT_NE(section.find("\\fB" + Roff(option) + "\\fR"), std::string::npos) << option;
      }
    }
  }
}

class QxwebDocsCompletionTest : public ::testing::Test {
 protected:
  QxwebDocsCompletionTest() {
    qx_test::WriteFile(dir_ / "a.QXS", "");
    qx_test::WriteFile(dir_ / "b.qxw", "");
    qx_test::WriteFile(dir_ / "c.txt", "");
    std::filesystem::create_directory(dir_ / "sub");
    // Stands in for qxweb in "cache list".
    qx_test::WriteFile(dir_ / "lister",
                       "#!/bin/sh\n"
                       "echo 'NAME                VERSION    FORM      STORED  EXPANDED'\n"
                       "echo 'apps\\demo\\Demo      1.0        stored         1         2'\n"
                       "echo 'Tools\\My App        2.0        expanded       1         2'\n");
    std::filesystem::permissions(dir_ / "lister", std::filesystem::perms::owner_exec,
                                 std::filesystem::perm_options::add);
  }

  // What the completion offers for |words| (the last one under the cursor),
  // sorted and joined by spaces.
  std::string Complete(const std::vector<std::string>& words) {
    std::string array;
    for (const std::string& word : words) {
      array += ShellQuote(word) + " ";
    }
    const std::string script = "source " + ShellQuote(kCompletion) + "; COMP_WORDS=(" + array +
                               "); COMP_CWORD=" + std::to_string(words.size() - 1) +
                               "; _qxweb; printf '%s\\n' \"${COMPREPLY[@]}\"";
    const std::string data = ShellQuote(dir_ / "data");
    const auto run = RunCommand("cd " + ShellQuote(dir_.path()) + " && XDG_CONFIG_HOME=" + data +
                                " XDG_DATA_HOME=" + data + " bash -c " + ShellQuote(script));
    EXPECT_EQ(run.err, "");
    std::vector<std::string> offered = Lines(run.out);
    std::erase(offered, "");
    std::sort(offered.begin(), offered.end());
    std::string joined;
    for (const std::string& word : offered) {
      joined += (joined.empty() ? "" : " ") + word;
    }
    return joined;
  }

  qx_test::TempDir dir_;
};

TEST_F(QxwebDocsCompletionTest, OffersWhatTheWordBeforeTheCursorCallsFor) {
  const std::string qxweb = qx_test::QxwebPath();
  const std::string lister = dir_ / "lister";
  struct Case {
    std::vector<std::string> words;
    std::string offered;
  };
  const Case cases[] = {
      {{"qxweb", "se"}, "seal"},
      {{"qxweb", "cache", "l"}, "launch list"},
      {{"qxweb", "cache", "-h", "r"}, "remove root"},
      {{"qxweb", "seal", "--s"}, "--save --scan --sign"},
      {{"qxweb", "cache", "sweep", "-"}, "--help --help-all --yes -h -y"},
      {{"qxweb", "seal", ""}, "a.QXS sub"},
      {{"qxweb", "seal", "a.QXS", ""}, ""},
      {{"qxweb", "verify", ""}, "b.qxw sub"},
      {{"qxweb", "cache", "install", ""}, "b.qxw sub"},
      {{"qxweb", "unpack", "b.qxw", ""}, "sub"},
      {{"qxweb", "digest", "a.QXS", ""}, "a.QXS b.qxw c.txt lister sub"},
      {{"qxweb", "seal", "-j", ""}, ""},
      {{"qxweb", "seal", "-j", "4", ""}, "a.QXS sub"},
      {{"qxweb", "seal", "-v", ""}, "a.QXS sub"},
      {{"qxweb", "new", "x.QXS", "--seal-from", ""}, "sub"},
      {{"qxweb", "new", "x.QXS", "--put-to", "=", "s"}, "sub"},
      {{"qxweb", "new", "--name", ""}, ""},
      {{"qxweb", "install", "--cacert", "c"}, "c.txt"},
      {{"qxweb", "install", ""}, ""},
      {{"qxweb", "cache", "root", ""}, "sub"},
      {{"qxweb", "cache", "launch", "Demo", "--", "-"}, ""},
      {{"qxweb", "cache", "launch", "Demo", "--", ""}, "a.QXS b.qxw c.txt lister sub"},
      {{lister, "cache", "launch", ""}, "Demo My\\ App"},
      {{lister, "update", "D"}, "Demo"},
      {{qxweb, "cache", "show", ""}, ""},
  };
  for (const Case& c : cases) {
    std::string typed;
    for (const std::string& word : c.words) {
      typed += "[" + word + "]";
    }
    SCOPED_TRACE(typed);
    EXPECT_EQ(Complete(c.words), c.offered);
  }
}

}  // namespace
