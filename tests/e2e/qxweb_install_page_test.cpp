// Tests of the install page that "qxweb seal --install-page" writes, as a
// browser sees it: headless Chromium renders the page, from a file or served
// by nginx, with and without its script, and the Install button's link is
// read from the document it made.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "tests/support/html_reading.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx_test::AttributeOf;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::ShellQuote;
using qx_test::StartTag;
using qx_test::Unescape;
using qx_test::WriteFile;

constexpr std::string_view kLinkPrefix = "qxweb:?source=";

// |text| with %XX taken back; nothing when a "%" is not followed by two
// hex digits.
std::optional<std::string> PercentDecode(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      return std::nullopt;
    }
    out += static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16));
    i += 2;
  }
  return out;
}

// The text of the element with the id |id| up to its first child tag.
std::string TextOf(const std::string& dom, const std::string& id) {
  const std::string tag = StartTag(dom, id);
  const size_t at = tag.empty() ? std::string::npos : dom.find(tag);
  if (at == std::string::npos) {
    return "(no #" + id + ")";
  }
  const size_t start = at + tag.size();
  return Unescape(dom.substr(start, dom.find('<', start) - start));
}

// The URL the Install button of |dom| hands to the client, or what its
// link is when it is no install link.
std::string InstalledUrl(const std::string& dom) {
  const std::optional<std::string> href = AttributeOf(dom, "install", "href");
  if (!href) {
    return "(no link)";
  }
  if (href->rfind(kLinkPrefix, 0) != 0) {
    return "(not an install link: " + *href + ")";
  }
  return PercentDecode(href->substr(kLinkPrefix.size())).value_or("(badly encoded: " + *href + ")");
}

class QxwebInstallPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (qx_test::RunCommand("command -v chromium").status != 0) {
      GTEST_SKIP() << "chromium is not installed";
    }
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    fs::create_directories(dir_ / "home");
    ASSERT_EQ(New(project_, out_).status, 0);
  }

  CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand("XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
                               " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " " +
                               ShellQuote(qx_test::QxwebPath()) + " " + arguments + " </dev/null");
  }

  CommandResult New(const std::string& project, const std::string& put_to) {
    return Qxweb("new " + ShellQuote(project) +
                 " --name Demo --command-line bin/planner --owner 'Demo & <Works>' --seal-from " +
                 ShellQuote(src_) + " --put-to " + ShellQuote(put_to) + " --install-to apps/demo");
  }

  CommandResult Seal(const std::string& flags, const std::string& project = "") {
    return Qxweb("seal --scan --create-put-to " + flags + " " +
                 ShellQuote(project.empty() ? project_ : project));
  }

  // The document Chromium makes of |url|. Without scripts, a copy of the
  // page is rendered that forbids them by its security policy: Chromium's
  // own switch for that also stops --dump-dom from reading the document.
  std::string Render(const std::string& url, bool scripts = true) {
    std::string target = url;
    if (!scripts) {
      const std::string path = url.substr(std::string_view("file://").size());
      std::string page = ReadFile(path);
      const size_t head = page.find("<head>");
      EXPECT_NE(head, std::string::npos);
      page.insert(head + 6,
                  "<meta http-equiv=\"Content-Security-Policy\" content=\"script-src 'none'\">");
      target = path.substr(0, path.rfind('/')) + "/no-scripts.html";
      WriteFile(target, page);
      target = "file://" + target;
    }
    const CommandResult dumped = qx_test::RunCommand(
        "HOME=" + ShellQuote(dir_ / "home") +
        " timeout 60 chromium --headless --no-sandbox --disable-gpu --user-data-dir=" +
        ShellQuote(dir_ / "home/profile") + " --dump-dom " + ShellQuote(target));
    EXPECT_EQ(dumped.status, 0) << dumped.err;
    EXPECT_NE(dumped.out.find("</html>"), std::string::npos) << dumped.err;
    if (!scripts) {
      fs::remove(target.substr(std::string_view("file://").size()));
    }
    return dumped.out;
  }

  std::string Page() const { return out_ + "/Demo-install.html"; }

  qx_test::TempDir dir_;
  const std::string src_ = dir_ / "src";
  const std::string out_ = dir_ / "out";
  const std::string project_ = dir_ / "demo.QXS";
};

TEST_F(QxwebInstallPageTest, WithABaseUrlTheLinkIsWrittenOutAndWorksWithoutScripts) {
  // The same project without the page, into a put-to directory of its own.
  const std::string plain_project = dir_ / "plain.QXS";
  const std::string plain = dir_ / "plain";
  ASSERT_EQ(New(plain_project, plain).status, 0);
  const CommandResult without = Seal("", plain_project);
  ASSERT_EQ(without.status, 0) << without.err;
  EXPECT_FALSE(fs::exists(plain + "/Demo-install.html"));

  const std::string base = "http://127.0.0.1:" + std::to_string(qx_test::FreePort()) + "/dir";
  const CommandResult sealed = Seal("--install-page --base-url " + base);
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  EXPECT_NE(sealed.out.find(Page()), std::string::npos) << sealed.out;
  // The landing page is the format's, whatever else is written.
  EXPECT_EQ(ReadFile(out_ + "/Demo.htm"), ReadFile(plain + "/Demo.htm"));
  EXPECT_FALSE(ReadFile(out_ + "/Demo.htm").empty());

  for (const bool scripts : {true, false}) {
    SCOPED_TRACE(scripts ? "scripts on" : "scripts off");
    const std::string dom = Render("file://" + Page(), scripts);
    EXPECT_EQ(InstalledUrl(dom), base + "/Demo.qxw");
    EXPECT_EQ(TextOf(dom, "command"), "qxweb install " + base + "/Demo.qxw");
    EXPECT_NE(dom.find("Demo &amp; &lt;Works&gt;"), std::string::npos) << dom;
    EXPECT_EQ(dom.find("<Works>"), std::string::npos);
  }

  // The verify of the package is untouched by the page beside it.
  const CommandResult verify = Qxweb("verify " + ShellQuote(out_ + "/Demo.qxw"));
  EXPECT_EQ(verify.status, 0) << verify.out << verify.err;
}

TEST_F(QxwebInstallPageTest, WithoutABaseUrlThePageTakesItsServedAddressAndTheLinkInstalls) {
  const CommandResult sealed = Seal("--install-page");
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  qx_test::WebServer server(dir_ / "web", out_);
  ASSERT_TRUE(server.Start()) << ReadFile(dir_ / "web/error.log");

  const std::string dom = Render(server.Url("/Demo-install.html"));
  const std::string header_url = server.Url("/Demo.qxw");
  ASSERT_EQ(InstalledUrl(dom), header_url) << dom;
  EXPECT_EQ(TextOf(dom, "command"), "qxweb install " + header_url);
  EXPECT_NE(StartTag(dom, "no-address").find(" hidden"), std::string::npos)
      << StartTag(dom, "no-address");

  // What the link carries is what the client installs from.
  const CommandResult installed = Qxweb("install " + ShellQuote(InstalledUrl(dom)));
  ASSERT_EQ(installed.status, 0) << installed.err;
  EXPECT_NE(installed.out.find("apps\\demo\\Demo: installed"), std::string::npos) << installed.out;

  // Without scripts, and from a file, whose address names no web server,
  // the button leads to the header beside the page and the page says why.
  for (const bool scripts : {false, true}) {
    SCOPED_TRACE(scripts ? "from a file" : "scripts off");
    const std::string local = Render("file://" + Page(), scripts);
    EXPECT_EQ(AttributeOf(local, "install", "href"), "Demo.qxw");
    EXPECT_EQ(StartTag(local, "no-address").find(" hidden"), std::string::npos);
    EXPECT_EQ(TextOf(local, "command"), "qxweb install URL");
  }
}

TEST_F(QxwebInstallPageTest, FlagsWinOverTheSettingsAndAFailedSealLeavesThePageAsItWas) {
  const std::string settings = dir_ / "config/tarnwick/qxsealer-lite.ini";
  WriteFile(settings, "[General]\r\nInstallPageBaseUrl=https://example.org/from-settings\r\n");
  // A base URL in the settings asks for the page, as --base-url does.
  CommandResult sealed = Seal("");
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  EXPECT_EQ(InstalledUrl(ReadFile(Page())), "https://example.org/from-settings/Demo.qxw");

  sealed = Seal("--base-url https://example.org/flag/");
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  const std::string published = ReadFile(Page());
  EXPECT_EQ(InstalledUrl(published), "https://example.org/flag/Demo.qxw");

  // Without a page asked for, the published one stays, and qxweb says it
  // may be stale; --no-install-page says nothing of it.
  WriteFile(settings, "[General]\r\nInstallPage=No\r\n");
  sealed = Seal("");
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  EXPECT_NE(sealed.err.find("Demo-install.html is left as it was"), std::string::npos)
      << sealed.err;
  sealed = Seal("--no-install-page");
  ASSERT_EQ(sealed.status, 0) << sealed.err;
  EXPECT_EQ(sealed.err.find("Demo-install.html"), std::string::npos) << sealed.err;
  EXPECT_EQ(ReadFile(Page()), published);

  // Refused base URLs change nothing, and each names where it came from.
  WriteFile(settings, "[General]\r\nInstallPage=Yes\r\nInstallPageBaseUrl=ftp://example.org/\r\n");
  sealed = Seal("");
  EXPECT_NE(sealed.status, 0);
  EXPECT_NE(sealed.err.find("InstallPageBaseUrl in " + settings), std::string::npos) << sealed.err;
  sealed = Seal("--base-url example.org/dir");
  EXPECT_NE(sealed.status, 0);
  EXPECT_NE(sealed.err.find("--base-url: The install page's base URL \"example.org/dir\" is "
                            "refused"),
            std::string::npos)
      << sealed.err;
  EXPECT_NE(Seal("--no-install-page --base-url http://h/").status, 0);
  EXPECT_EQ(ReadFile(Page()), published);

  // So does a seal refused for a source gone since the scan.
  WriteFile(settings, "[General]\r\n");
  const CommandResult scanned = Qxweb("scan " + ShellQuote(project_));
  ASSERT_EQ(scanned.status, 0) << scanned.err;
  fs::remove(src_ + "/data/tasks.csv");
  sealed =
      Qxweb("seal --install-page --base-url https://example.org/other/ " + ShellQuote(project_));
  EXPECT_NE(sealed.status, 0);
  EXPECT_NE(sealed.err.find("tasks.csv"), std::string::npos) << sealed.err;
  EXPECT_EQ(ReadFile(Page()), published);
}

TEST_F(QxwebInstallPageTest, ASealThatFailsToPublishLeavesNoPage) {
  // Everything is staged, the page too, but the header cannot take its
  // place.
  fs::create_directories(out_ + "/Demo.qxw");
  const CommandResult sealed = Seal("--install-page --base-url http://127.0.0.1/dir/");
  EXPECT_NE(sealed.status, 0);
  EXPECT_NE(sealed.err.find("Demo.qxw is a directory"), std::string::npos) << sealed.err;
  EXPECT_FALSE(fs::exists(Page()));
  EXPECT_FALSE(fs::exists(out_ + "/.Demo.seal"));
  EXPECT_TRUE(fs::is_directory(out_ + "/Demo.qxw"));
}

}  // namespace
