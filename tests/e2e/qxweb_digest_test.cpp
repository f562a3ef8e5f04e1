// Tests of the command-line tool: whole-program runs of "qxweb digest", with
// and without a key, on readable and unreadable files.
#include <gtest/gtest.h>

#include <string>

#include "tests/support/test_support.h"

namespace {

using qx_test::RunCommand;
using qx_test::ShellQuote;

std::string Qxweb() {
  return ShellQuote(qx_test::QxwebPath());
}

TEST(QxwebDigest, WithoutKeyPrintsExactlyWhatMd5sumPrints) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "empty", "");
  qx_test::WriteFile(dir / "sub dir/data.bin", qx_test::RandomBytes(100000, 1));
  qx_test::WriteFile(dir / "back\\slash", "odd name");
  const std::string files = ShellQuote(dir / "empty") + " " + ShellQuote(dir / "sub dir/data.bin") +
                            " " + ShellQuote(dir / "back\\slash");
  const auto ours = RunCommand(Qxweb() + " digest " + files);
  const auto peer = RunCommand("md5sum " + files);
  ASSERT_EQ(peer.status, 0);
  EXPECT_EQ(ours.status, 0) << ours.err;
  EXPECT_EQ(ours.out, peer.out);
}

TEST(QxwebDigest, KeyChangesTheDigest) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "f", "content");
  const auto plain = RunCommand(Qxweb() + " digest " + ShellQuote(dir / "f"));
  const auto keyed = RunCommand(Qxweb() + " digest --key Demo " + ShellQuote(dir / "f"));
  const auto again = RunCommand(Qxweb() + " digest --key Demo " + ShellQuote(dir / "f"));
  ASSERT_EQ(keyed.status, 0);
  EXPECT_NE(keyed.out, plain.out);
  EXPECT_EQ(keyed.out, again.out);
}

TEST(QxwebDigest, UnreadableFileIsNamedOnStderrAndTheOthersStillPrint) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "ok", "x");
  const auto result =
      RunCommand(Qxweb() + " digest " + ShellQuote(dir / "missing") + " " + ShellQuote(dir / "ok"));
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find(dir / "missing"), std::string::npos);
  EXPECT_NE(result.out.find(dir / "ok"), std::string::npos);
  // A directory cannot be read as a file either.
  EXPECT_EQ(RunCommand(Qxweb() + " digest " + ShellQuote(dir.path())).status, 1);
}

TEST(QxwebDigest, UsageErrorsExitWith2AndHelpWith0) {
  EXPECT_EQ(RunCommand(Qxweb() + " digest").status, 2);
  EXPECT_EQ(RunCommand(Qxweb() + " no-such-command").status, 2);
  EXPECT_EQ(RunCommand(Qxweb()).status, 2);
  const auto help = RunCommand(Qxweb() + " digest --help");
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("--key"), std::string::npos);
}

}  // namespace
