// Tests of the progress line's layout: what it shows at a few terminal
// widths, and that it never takes the terminal's last column.
#include "tools/qxweb/progress_line.h"

#include <gtest/gtest.h>

#include <string>

namespace qxweb_tool {
namespace {

constexpr int64_t kMegabyte = 1024 * 1024;

TEST(ProgressLine, FitsTheWidthDroppingTheNameThenTheRateThenCutting) {
  const ProgressFigures early{.files_done = 3,
                              .files_total = 40,
                              .bytes_done = 12 * kMegabyte,
                              .bytes_total = 200 * kMegabyte,
                              .seconds = 0.4};
  const ProgressFigures later{.files_done = 10,
                              .files_total = 40,
                              .bytes_done = 50 * kMegabyte,
                              .bytes_total = 200 * kMegabyte,
                              .seconds = 4};
  const ProgressFigures small{
      .files_done = 1, .files_total = 2, .bytes_done = 512, .bytes_total = 2048, .seconds = 2};
  const ProgressFigures empty{.files_total = 0, .seconds = 3};
  const std::string path = "lib/plugins/imageformats/" + std::string(60, 'x') + "/libqjpeg.so";
  struct Case {
    ProgressFigures figures;
    std::string name;
    int width;
    std::string line;
  } cases[] = {
      // No rate in the first second.
      {early, "bin/app", 120, "Sealing 3 of 40 files, 12.0 of 200.0 MB (6%): bin/app"},
      {later, "bin/app", 120,
       "Sealing 10 of 40 files, 50.0 of 200.0 MB (25%), 12.5 MB/s, 0:12 left: bin/app"},
      // A long path loses its middle: where it lies and the file name stay.
      {later, path, 100,
       "Sealing 10 of 40 files, 50.0 of 200.0 MB (25%), 12.5 MB/s, 0:12 left: lib/plug..."
       "xxxxxx/libqjpeg.so"},
      // Too little room for the name, then for the rate, then for anything.
      {later, "bin/app", 80,
       "Sealing 10 of 40 files, 50.0 of 200.0 MB (25%), 12.5 MB/s, 0:12 left"},
      {later, "bin/app", 60, "Sealing 10 of 40 files, 50.0 of 200.0 MB (25%), 0:12 left"},
      {later, "", 50, "Sealing 10 of 40 files, 50.0 of 200.0 MB (25%)"},
      {later, "bin/app", 20, "Sealing 10 of 40 fi"},
      {later, "bin/app", 0, ""},
      // Small packages count in kB; nothing to do is all done.
      {small, "", 80, "Sealing 1 of 2 files, 0.5 of 2.0 kB (25%), 256 bytes/s, 0:06 left"},
      {empty, "", 80, "Sealing 0 of 0 files, 0.0 of 0.0 kB (100%)"},
  };
  for (const Case& c : cases) {
    const std::string line = ProgressText("Sealing", c.figures, c.name, c.width);
    EXPECT_EQ(line, c.line) << c.width;
    EXPECT_LE(TextColumns(line), std::max(c.width - 1, 0)) << line;
  }
}

TEST(ProgressLine, CountsColumnsNotBytesWhenShortening) {
  // Each of these takes two columns; the accented letters one.
  const std::string wide =
      "資料/" + std::string(30, 'a') + "/報告書/" + "ÄÖÜ-日本語のファイル名.txt";
  for (int width : {60, 75, 90}) {
    const std::string line = ProgressText(
        "Unpacking",
        {.files_done = 1, .files_total = 9, .bytes_done = kMegabyte, .bytes_total = 9 * kMegabyte},
        wide, width);
    // A two-column character does not go into the last free column.
    EXPECT_GE(TextColumns(line), width - 2) << line;
    EXPECT_LE(TextColumns(line), width - 1) << line;
    EXPECT_NE(line.find("..."), std::string::npos) << line;
    EXPECT_EQ(line.substr(line.size() - 4), ".txt") << line;
  }
  EXPECT_EQ(TextColumns("日本"), 4);
  EXPECT_EQ(TextColumns("ÄÖ"), 2);
}

}  // namespace
}  // namespace qxweb_tool
