// Tests of the landing page's embed as the web client reads it: pages
// written for it, pages that hide or garble the element, and the page the
// sealer writes.
#include "client/landing_embed.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "core/format/landing_page.h"

namespace qx {
namespace {

TEST(LandingEmbed, TakesTheSrcOfTheFirstEmbedElement) {
  struct Case {
    const char* page;
    const char* source;  // "" for none
  };
  const Case cases[] = {
      {R"(<embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<EMBED SRC='Demo.qxw'>)", "Demo.qxw"},
      {"<embed\n\tsrc\n=\n\"Demo.qxw\"\n>", "Demo.qxw"},
      {"<embed src=Demo.qxw>", "Demo.qxw"},
      {"<embed src=Demo.qxw/>", "Demo.qxw/"},
      {R"(<embed src="  Demo.qxw  ">)", "Demo.qxw"},
      {R"(<embed src="a.qxw"><embed src="b.qxw">)", "a.qxw"},
      {R"(<embed src="a.qxw" src="b.qxw">)", "a.qxw"},
      {R"(<embed src="x.qxw?a=1&amp;b=2&#38;c=3&#x26;d">)", "x.qxw?a=1&b=2&c=3&d"},
      {R"(<embed src="&lt;&gt;&quot;&apos;&#233;&#0;">)", "<>\"'\xC3\xA9\xEF\xBF\xBD"},
      {R"(<embed src="a&amp">)", "a&amp"},
      {R"(<embed src="a&nosuch;b">)", "a&nosuch;b"},
      {R"(<embed width=10 align="top" src="Demo.qxw" border="0">)", "Demo.qxw"},
      // Only an attribute named src, read as attributes are read.
      {R"(<embed data-src="nope.qxw" src="Demo.qxw">)", "Demo.qxw"},
      {R"(<embed srcset="nope.qxw" src="Demo.qxw">)", "Demo.qxw"},
      {R"(<embed title="src=nope.qxw" src="Demo.qxw">)", "Demo.qxw"},
      {R"(<embed title='a > b' src="Demo.qxw">)", "Demo.qxw"},
      {R"(<embed a="x"src="Demo.qxw">)", "Demo.qxw"},
      {R"(<embed data-src="nope.qxw">)", ""},
      {R"(<embed type="application/x-qxw"><embed src="late.qxw">)", ""},
      {"<embed src>", ""},
      // Only elements count: not comments, declarations or other elements'
      // names and text.
      {R"(<!-- <embed src="old.qxw"> --> <embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<!-- a -- b --> <embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<!--> <embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<!-- x --!> <embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<!-- <embed src="old.qxw">)", ""},
      {R"(<!DOCTYPE html><?xml x="<embed src='no.qxw'>"?><embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<embedded src="no.qxw"><embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<p title="<embed src='no.qxw'>"><embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<script>document.write('<embed src="no.qxw">')</script><embed src="Demo.qxw">)",
       "Demo.qxw"},
      {R"(<SCRIPT type="x"><embed src="no.qxw"></scriptx></Script ><embed src="Demo.qxw">)",
       "Demo.qxw"},
      {R"(<title><embed src="no.qxw"></title><embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(<textarea><embed src="no.qxw">)", ""},
      {R"(<plaintext><embed src="no.qxw">)", ""},
      {R"(</p title="<embed src='no.qxw'>"><embed src="Demo.qxw">)", "Demo.qxw"},
      {R"(a < b <embed src="Demo.qxw">)", "Demo.qxw"},
      // A page that ends inside the element names nothing.
      {R"(<embed src="Demo.qxw")", ""},
      {R"(<embed src="Demo.q)", ""},
      {"<embed src=", ""},
      {"", ""},
      {"no markup at all", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.page);
    EXPECT_EQ(EmbeddedSource(c.page), c.source);
  }
}

// The page the sealer writes, in this build's edition, names its header
// although its comment talks of the embed tag.
TEST(LandingEmbed, ReadsThePageTheSealerWrites) {
  std::FILE* file = std::tmpfile();
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(WriteLandingPage(file, "Demo & Co", "Demo"), 0);
  std::rewind(file);
  std::string page;
  for (int c; (c = std::fgetc(file)) != EOF;) {
    page += static_cast<char>(c);
  }
  std::fclose(file);
  EXPECT_EQ(EmbeddedSource(page), "Demo.qxw");
  // Cut anywhere before the embed's end, it names nothing.
  const size_t embed_end = page.find('>', page.find("<embed"));
  ASSERT_NE(embed_end, std::string::npos);
  for (size_t size = 0; size <= embed_end; ++size) {
    ASSERT_EQ(EmbeddedSource(page.substr(0, size)), "") << size;
  }
}

}  // namespace
}  // namespace qx
