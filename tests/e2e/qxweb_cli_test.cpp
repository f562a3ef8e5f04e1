// Tests of the command-line tool: what qxweb says about itself (version,
// help, wrong usage), whole-program runs.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

using qx_test::RunCommand;
using qx_test::ShellQuote;

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

}  // namespace
