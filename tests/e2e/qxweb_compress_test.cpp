// Tests of the command-line tool: whole-program runs of "qxweb compress" and
// "qxweb expand-file".
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using qx_test::RunCommand;
using qx_test::ShellQuote;

std::string Qxweb() {
  return ShellQuote(qx_test::QxwebPath());
}

std::string Q(const std::string& path) {
  return ShellQuote(path);
}

// Names in |dir|, to find temporary files left behind.
std::vector<std::string> Listing(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(QxwebCompress, CompressAndExpandPrintTheSameLengthAndDigest) {
  qx_test::TempDir dir;
  const std::string source = qx_test::TextBytes(250000, 1) + qx_test::RandomBytes(20000, 2);
  qx_test::WriteFile(dir / "app.exe", source);
  const auto packed =
      RunCommand(Qxweb() + " compress --key Demo " + Q(dir / "app.exe") + " " + Q(dir / "app.gz"));
  ASSERT_EQ(packed.status, 0) << packed.err;
  const std::string stored = qx_test::ReadFile(dir / "app.gz");
  const auto digest = RunCommand(Qxweb() + " digest --key Demo " + Q(dir / "app.gz"));
  EXPECT_EQ(packed.out, "Length = " + std::to_string(stored.size()) +
                            "\nSize = " + std::to_string(source.size()) +
                            "\nSECURE_MD5 = " + digest.out.substr(0, 32) + "\n");
  EXPECT_EQ(RunCommand("gzip -dc " + Q(dir / "app.gz")).out, source);

  const auto expanded = RunCommand(Qxweb() + " expand-file --key Demo " + Q(dir / "app.gz") + " " +
                                   Q(dir / "copy.exe"));
  ASSERT_EQ(expanded.status, 0) << expanded.err;
  EXPECT_EQ(expanded.out, packed.out);
  EXPECT_EQ(qx_test::ReadFile(dir / "copy.exe"), source);
  // Into a device the output is written in place.
  EXPECT_EQ(RunCommand(Qxweb() + " expand-file " + Q(dir / "app.gz") + " /dev/null").status, 0);
}

TEST(QxwebCompress, FailedExpansionLeavesNoOutputAndReportsOnStderr) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "data", qx_test::TextBytes(100000, 3));
  ASSERT_EQ(
      RunCommand("gzip -c " + Q(dir / "data") + " | head -c 5000 > " + Q(dir / "cut.gz")).status,
      0);
  const auto result =
      RunCommand(Qxweb() + " expand-file " + Q(dir / "cut.gz") + " " + Q(dir / "out"));
  EXPECT_EQ(result.status, 1);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "Tarnwick Web Sealer: compress input: unexpected end of file\n");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"cut.gz", "data"}));

  // An existing file of that name keeps its old contents.
  qx_test::WriteFile(dir / "out", "previous");
  EXPECT_EQ(RunCommand(Qxweb() + " expand-file " + Q(dir / "data") + " " + Q(dir / "out")).status,
            1);
  EXPECT_EQ(qx_test::ReadFile(dir / "out"), "previous");
  EXPECT_EQ(Listing(dir.path()), (std::vector<std::string>{"cut.gz", "data", "out"}));
}

TEST(QxwebCompress, MissingFilesAndUsageErrors) {
  qx_test::TempDir dir;
  qx_test::WriteFile(dir / "in", "x");
  const auto missing =
      RunCommand(Qxweb() + " compress " + Q(dir / "missing") + " " + Q(dir / "out"));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find(dir / "missing"), std::string::npos);
  EXPECT_EQ(
      RunCommand(Qxweb() + " expand-file " + Q(dir / "in") + " " + Q(dir / "no/such/out")).status,
      1);
  EXPECT_EQ(RunCommand(Qxweb() + " compress " + Q(dir / "in")).status, 2);
  EXPECT_EQ(RunCommand(Qxweb() + " expand-file").status, 2);
  for (const char* command : {"compress", "expand-file"}) {
    const auto help = RunCommand(Qxweb() + " " + command + " --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--key"), std::string::npos);
  }
}

}  // namespace
