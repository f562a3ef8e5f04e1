// Tests of the landing page's full edition (format layer). Runs against the
// shared library, which carries the full edition.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "core/format/landing_page.h"

namespace qx {
namespace {

TEST(LandingPageFull, SharedLibraryWritesTheFullEditionOf40Lines) {
  ASSERT_EQ(BuiltLandingPageEdition(), LandingPageEdition::kFull);
  std::FILE* file = std::tmpfile();
  ASSERT_EQ(WriteLandingPage(file, "", "Demo"), 0);
  std::rewind(file);
  std::string page;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    page += static_cast<char>(c);
  }
  std::fclose(file);
  std::vector<std::string> lines;
  size_t start = 0, end;
  while ((end = page.find("\r\n", start)) != std::string::npos) {
    lines.push_back(page.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, page.size());
  ASSERT_EQ(lines.size(), 40u);
  EXPECT_EQ(lines[6], "<title>Demo</title>");
  EXPECT_EQ(lines[21], "        an application packaged by the Tarnwick Web Sealer.");
  EXPECT_EQ(lines[22], "        Clicking on this icon tells Tarnwick Web to download a");
  EXPECT_EQ(lines[27], "        <b>Demo</b> package.");
  EXPECT_EQ(lines[33], "        Tarnwick Web Sealer.</em></p>");
  EXPECT_EQ(lines[39], "</html>");
}

}  // namespace
}  // namespace qx
