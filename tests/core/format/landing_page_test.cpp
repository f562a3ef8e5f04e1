// Tests of the landing page's Lite edition (format layer): its lines, the
// title that falls back to the name, and refused arguments.
#include "core/format/landing_page.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace qx {
namespace {

// The page split at CR LF; fails the test on a bare line feed.
std::vector<std::string> PageLines(const char* title, const char* name) {
  std::FILE* file = std::tmpfile();
  EXPECT_EQ(WriteLandingPage(file, title, name), 0);
  std::rewind(file);
  std::string page;
  int c;
  while ((c = std::fgetc(file)) != EOF) {
    page += static_cast<char>(c);
  }
  std::fclose(file);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < page.size()) {
    const size_t end = page.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "last line without CR LF";
    if (end == std::string::npos) {
      break;
    }
    lines.push_back(page.substr(start, end - start));
    EXPECT_EQ(lines.back().find('\n'), std::string::npos) << "bare line feed";
    start = end + 2;
  }
  return lines;
}

TEST(LandingPage, LiteEditionHas35LinesWithTheLiteTexts) {
  ASSERT_EQ(BuiltLandingPageEdition(), LandingPageEdition::kLite);
  const auto lines = PageLines("Demo Application", "Demo");
  ASSERT_EQ(lines.size(), 35u);
  EXPECT_EQ(lines[0], "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">");
  EXPECT_EQ(lines[5], "<meta name=\"GENERATOR\" content=\"Tarnwick Web Sealer\">");
  EXPECT_EQ(lines[6], "<title>Demo Application</title>");
  EXPECT_EQ(lines[9], "<h1 align=\"center\">Demo Application</h1>");
  EXPECT_EQ(lines[13], "    <tr>");
  EXPECT_EQ(lines[16], "        <embed src=\"Demo.qxw\" align=\"top\" border=\"0\"");
  EXPECT_EQ(lines[20], "        <i>Demo Application</i>,");
  EXPECT_EQ(lines[21], "        an application packaged by the Tarnwick Web Lite Sealer.");
  EXPECT_EQ(lines[22], "        Clicking on this icon tells Tarnwick Web Lite to download a");
  EXPECT_EQ(lines[28], "        Tarnwick Web Lite Sealer.</em></p>");
  EXPECT_EQ(lines[30], "    </tr>");
  EXPECT_EQ(lines[34], "</html>");
}

TEST(LandingPage, EmptyOrNullTitleUsesTheNameUnescaped) {
  for (const char* title : {static_cast<const char*>(nullptr), ""}) {
    const auto lines = PageLines(title, "A&B");
    ASSERT_EQ(lines.size(), 35u);
    EXPECT_EQ(lines[6], "<title>A&B</title>");
    EXPECT_EQ(lines[9], "<h1 align=\"center\">A&B</h1>");
    EXPECT_EQ(lines[20], "        <i>A&B</i>,");
  }
}

TEST(LandingPage, RefusesNullFileOrName) {
  std::FILE* file = std::tmpfile();
  EXPECT_EQ(WriteLandingPage(file, "t", nullptr), -1);
  EXPECT_EQ(std::ftell(file), 0);
  EXPECT_EQ(WriteLandingPage(nullptr, "t", "n"), -1);
  std::fclose(file);
}

}  // namespace
}  // namespace qx
