// Tests of the install page (sealer project layer): its text for hostile
// header values, its link for every spelling of a base URL and of a name,
// the base URLs refused, its size text, and the page as seals write,
// publish, keep and refuse it.
#include "sealer/project/install_page.h"
#include "core/fsutil/path_text.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/signature/signing_key.h"
#include "sealer/project/form_commands.h"
#include "sealer/project/memory_form_view.h"
#include "sealer/project/seal_request.h"
#include "sealer/project/seal_staging.h"
#include "tests/support/html_reading.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

namespace fs = std::filesystem;
using qx_test::AttributeOf;
using qx_test::FileExists;
using qx_test::ReadFile;
using qx_test::StartTag;
using qx_test::TempDir;
using qx_test::Unescape;
using qx_test::WriteFile;

// The bytes of a percent-encoded |text|; nothing when a "%" is not followed
// by two upper-case hex digits or a byte is left that should have been
// encoded.
std::optional<std::string> PercentDecode(std::string_view text) {
  const auto hex = [](char c) {
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1;
  };
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size() || hex(text[i + 1]) < 0 || hex(text[i + 2]) < 0) {
        return std::nullopt;
      }
      out += static_cast<char>(hex(text[i + 1]) * 16 + hex(text[i + 2]));
      i += 2;
    } else if (std::isalnum(static_cast<unsigned char>(c)) ||
               std::string_view("-._~").find(c) != std::string_view::npos) {
      out += c;
    } else {
      return std::nullopt;
    }
  }
  return out;
}

// The text of the element |tag| ("h1", or an id as "#command") up to the
// next tag, unescaped.
std::string TextOf(const std::string& page, const std::string& tag) {
  const std::string open = tag[0] == '#' ? StartTag(page, tag.substr(1)) : "<" + tag + ">";
  const size_t at = page.find(open);
  if (open.empty() || at == std::string::npos) {
    return "(missing " + tag + ")";
  }
  const size_t start = at + open.size();
  return Unescape(page.substr(start, page.find('<', start) - start));
}

// The value shown for |term| in the page's list of facts, unescaped.
std::string FactOf(const std::string& page, const std::string& term) {
  const std::string open = "<dt>" + term + "</dt><dd>";
  const size_t at = page.find(open);
  if (at == std::string::npos) {
    return "(no " + term + ")";
  }
  const size_t start = at + open.size();
  return Unescape(page.substr(start, page.find("</dd>", start) - start));
}

// The name of every tag in |page| ("/p" for an end tag), in order.
std::vector<std::string> TagNames(const std::string& page) {
  std::vector<std::string> names;
  for (size_t at = page.find('<'); at != std::string::npos; at = page.find('<', at + 1)) {
    size_t end = at + 1;
    while (end < page.size() && (std::isalnum(static_cast<unsigned char>(page[end])) ||
                                 page[end] == '/' || page[end] == '!')) {
      ++end;
    }
    names.push_back(page.substr(at + 1, end - at - 1));
  }
  return names;
}

const std::set<std::string> kPageTags = {
    "!DOCTYPE", "html",  "/html", "head",  "/head", "meta", "title", "/title", "style",  "/style",
    "body",     "/body", "main",  "/main", "h1",    "/h1",  "dl",    "/dl",    "dt",     "/dt",
    "dd",       "/dd",   "p",     "/p",    "a",     "/a",   "code",  "/code",  "script", "/script"};

TEST(InstallPageText, HostileHeaderTextsStayTextInEveryPlaceTheyAreShown) {
  const struct {
    const char* what;
    std::string name;
    std::string version;
    std::string owner;
    // As a browser shows them: the texts themselves, or U+FFFD for bytes
    // that are no UTF-8 text.
    std::string shown_name;
    std::string shown_owner;
  } rows[] = {
      {"markup", "<b>Demo</b>", "01.00.00", "<script>alert(\"x\")</script>", "<b>Demo</b>",
       "<script>alert(\"x\")</script>"},
      {"ampersands, already escaped or not", "A&amp;B", "1&2", "Smith & Sons &lt;", "A&amp;B",
       "Smith & Sons &lt;"},
      {"quotes that would end an attribute", "it's\"", "'1'", "O'Brien \"Ltd\"", "it's\"",
       "O'Brien \"Ltd\""},
      {"tags that would end the title and the page", "</title><h1>x", "</dd>", "</html>",
       "</title><h1>x", "</html>"},
      {"bytes that are no UTF-8, a control character", "Caf\xE9", "1\x01", "\xFF\xFEOwner\x1B",
       "Caf\xEF\xBF\xBD", "\xEF\xBF\xBD\xEF\xBF\xBDOwner\xEF\xBF\xBD"},
      {"UTF-8 text is kept", "Grüße", "2.0", "Åsa Öberg", "Grüße", "Åsa Öberg"},
  };
  for (const auto& row : rows) {
    for (const bool with_base : {false, true}) {
      SCOPED_TRACE(std::string(row.what) + (with_base ? ", with a base URL" : ", scripted"));
      InstallPageFacts facts;
      facts.appl_name = row.name;
      facts.version = row.version;
      facts.owner = row.owner;
      facts.stored_bytes = 2048;
      facts.base_url = with_base ? "http://example.org/dir/" : "";
      const std::string page = InstallPageText(facts);
      for (const std::string& tag : TagNames(page)) {
        EXPECT_TRUE(kPageTags.count(tag) == 1) << "a tag of the texts' own: <" << tag;
      }
      const std::vector<std::string> tags = TagNames(page);
      EXPECT_EQ(std::count(tags.begin(), tags.end(), "script"), with_base ? 0 : 1);
      EXPECT_EQ(std::count(tags.begin(), tags.end(), "a"), 1);
      EXPECT_EQ(TextOf(page, "h1"), row.shown_name);
      EXPECT_EQ(TextOf(page, "title"), "Install " + row.shown_name);
      EXPECT_EQ(TextOf(page, "#install"), "Install " + row.shown_name);
      EXPECT_EQ(FactOf(page, "Owner"), row.shown_owner);
      // The link survives whatever the name holds: it decodes to the
      // header's name.
      const std::optional<std::string> href = AttributeOf(page, "install", "href");
      ASSERT_TRUE(href.has_value());
      if (with_base) {
        ASSERT_EQ(href->rfind(kInstallLinkPrefix, 0), 0u) << *href;
        const std::optional<std::string> url =
            PercentDecode(href->substr(kInstallLinkPrefix.size()));
        ASSERT_TRUE(url.has_value()) << *href;
        EXPECT_EQ(PercentDecode(url->substr(url->rfind('/') + 1)), row.name + ".qxw");
      } else {
        EXPECT_EQ(PercentDecode(*href), row.name + ".qxw");
      }
    }
  }
}

TEST(InstallPageText, IsValidUtf8AndTheSameBytesForTheSameFacts) {
  InstallPageFacts facts;
  facts.appl_name = "Caf\xE9";
  facts.owner = "\xC3\x28 broken \xE2\x82";  // a bad continuation, a cut sequence
  facts.version = "\xED\xA0\x80";            // a surrogate, which UTF-8 may not hold
  facts.stored_bytes = 12897485;
  TempDir dir;
  const std::string page = InstallPageText(facts);
  WriteFile(dir / "page.html", page);
  // iconv refuses any byte sequence that is not UTF-8.
  const qx_test::CommandResult checked =
      qx_test::RunCommand("iconv -f UTF-8 -t UTF-8 " + qx_test::ShellQuote(dir / "page.html"));
  EXPECT_EQ(checked.status, 0) << checked.err;
  EXPECT_EQ(InstallPageText(facts), page);
  EXPECT_NE(page.find("<dd>12.3 MB</dd>"), std::string::npos);
  EXPECT_EQ(
      page.rfind("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n", 0), 0u);
  EXPECT_NE(page.find("<meta name=\"viewport\""), std::string::npos);
  // Nothing from outside the page.
  for (const char* outside : {"src=", "<link", "@import", "url("}) {
    EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
}

TEST(InstallPageLink, NamesTheHeaderUnderTheBaseUrlHoweverItIsSpelt) {
  const struct {
    const char* base;
    const char* name;
    const char* header_url;
  } rows[] = {
      {"http://127.0.0.1:8080/dir/", "Demo", "http://127.0.0.1:8080/dir/Demo.qxw"},
      {"http://127.0.0.1:8080/dir", "Demo", "http://127.0.0.1:8080/dir/Demo.qxw"},
      {"https://example.org", "Demo", "https://example.org/Demo.qxw"},
      {"HTTPS://Example.org/a%20b", "Demo", "https://Example.org/a%20b/Demo.qxw"},
      {"http://user@example.org:81/x/y/", "Demo", "http://user@example.org:81/x/y/Demo.qxw"},
      {"http://h/d/", "A b&c#%?+", "http://h/d/A%20b%26c%23%25%3F%2B.qxw"},
      {"http://h/d/", "Grüße", "http://h/d/Gr%C3%BC%C3%9Fe.qxw"},
      {"http://h/d/", "a-b.c_d~e", "http://h/d/a-b.c_d~e.qxw"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.base) + " " + row.name);
    const Result<std::string> base = CheckInstallPageBaseUrl(row.base);
    ASSERT_TRUE(base.ok()) << base.error().message;
    EXPECT_EQ(HeaderUrl(*base, row.name), row.header_url);
    InstallPageFacts facts;
    facts.appl_name = row.name;
    facts.base_url = *base;
    const std::string page = InstallPageText(facts);
    const std::optional<std::string> href = AttributeOf(page, "install", "href");
    ASSERT_TRUE(href.has_value());
    ASSERT_EQ(href->rfind("qxweb:?source=", 0), 0u) << *href;
    // Strictly encoded: PercentDecode takes nothing else, and the link
    // needs no attribute escape.
    EXPECT_EQ(PercentDecode(href->substr(14)), row.header_url) << *href;
    EXPECT_NE(page.find("href=\"" + *href + "\""), std::string::npos);
    EXPECT_EQ(TextOf(page, "#command"), std::string("qxweb install ") + row.header_url);
  }
  EXPECT_EQ(InstallLinkOf("http://h/d/A%20b.qxw"),
            "qxweb:?source=http%3A%2F%2Fh%2Fd%2FA%2520b.qxw");
}

TEST(InstallPageLink, WithoutABaseUrlTheScriptTakesThePagesAddress) {
  InstallPageFacts facts;
  facts.appl_name = "A\"b<c>'d";
  const std::string page = InstallPageText(facts);
  // Before the script runs (or without scripts) the link leads to the
  // header beside the page, and the page says why.
  EXPECT_EQ(AttributeOf(page, "install", "href"), "A%22b%3Cc%3E%27d.qxw");
  EXPECT_NE(StartTag(page, "no-address"), "");
  // The name reaches the script percent-encoded, so it cannot end the
  // string or the script.
  const size_t script = page.find("<script>");
  ASSERT_NE(script, std::string::npos);
  const std::string code = page.substr(script, page.find("</script>") - script);
  EXPECT_NE(code.find("new URL(\"A%22b%3Cc%3E%27d.qxw\", location.href)"), std::string::npos)
      << code;
  EXPECT_EQ(code.find('\''), std::string::npos);
  EXPECT_EQ(code.find('<', 1), std::string::npos);
}

TEST(InstallPageBaseUrl, RefusesWhatIsNoAbsoluteHttpDirectoryUrl) {
  const struct {
    std::string url;
    const char* why;
  } rows[] = {
      {"", "absolute http:// or https://"},
      {"example.org/dir/", "absolute http:// or https://"},
      {"/srv/www/", "absolute http:// or https://"},
      {"ftp://example.org/", "absolute http:// or https://"},
      {"file:///srv/www/", "absolute http:// or https://"},
      {"http:/example.org/", "absolute http:// or https://"},
      {"http://", "no host"},
      {"http:///dir/", "no host"},
      {"https://:8080/dir/", "no host"},
      {"http://user@/dir/", "no host"},
      {"http://example.org/my dir/", "blank"},
      {"http://example.org/dir/\n", "control character"},
      {"http://example.org/\x7F", "control character"},
      {"http://example.org/grüße/", "percent-encode"},
      {"http://example.org/<x>/", "percent-encode"},
      {"http://example.org/a\"b/", "percent-encode"},
      {"http://example.org/dir/?x=1", "query or fragment"},
      {"http://example.org/dir/#top", "query or fragment"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.url);
    const Result<std::string> checked = CheckInstallPageBaseUrl(row.url);
    ASSERT_FALSE(checked.ok()) << *checked;
    EXPECT_EQ(checked.error().code, kSealFieldInvalid);
    EXPECT_NE(checked.error().message.find(row.why), std::string::npos) << checked.error().message;
    // A control character is not shown as it stands.
    EXPECT_EQ(checked.error().message.find('\n'), std::string::npos);
  }
}

// Records what a run shows; asks for Cancel at the progress step
// |cancel_at| (from 0) when set.
class CountingObserver : public SealObserver {
 public:
  bool Progress(std::string_view text, const SealProgress*) override {
    steps.emplace_back(text);
    return cancel_at >= 0 && static_cast<int>(steps.size()) > cancel_at;
  }
  bool Ask(SealQuestion, std::string_view) override { return true; }
  void Notice(const Error& notice) override { notices.push_back(notice.message); }

  int cancel_at = -1;
  std::vector<std::string> steps;
  std::vector<std::string> notices;
};

class InstallPageSealTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(src + "/a.txt", qx_test::TextBytes(200000, 1));
    WriteFile(src + "/sub/b.bin", qx_test::RandomBytes(70000, 2));
    ::mkdir(out.c_str(), 0777);
    project.record.owner = "Owner & Co";
    project.record.appl_name = "demo";
    project.record.command_line = "demo -run";
    project.record.version = "02.01.00";
    project.record.seal_from = src;
    project.record.put_to = out;
    project.file_list = {"File: a.txt;", "File: sub\\b.bin;"};
    options.jobs = 2;
    options.install_page = true;
    options.install_page_base_url = "http://127.0.0.1:8080/pkg";
  }

  Result<SealedPackage> SealNow() {
    observer = CountingObserver();
    return Seal(project, options, observer);
  }

  std::string Page() const { return ReadFile(out + "/demo-install.html"); }

  TempDir dir;
  const std::string src = dir / "src";
  const std::string out = dir / "out";
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  Project project;
  SealOptions options;
  CountingObserver observer;
};

TEST_F(InstallPageSealTest, IsPublishedWithTheHeaderAndLeavesTheLandingPageAsItIs) {
  // The same project sealed without the page, elsewhere.
  const std::string plain = dir / "plain";
  ::mkdir(plain.c_str(), 0777);
  Project without = project;
  without.record.put_to = plain;
  SealOptions no_page = options;
  no_page.install_page = false;
  CountingObserver quiet;
  ASSERT_TRUE(Seal(without, no_page, quiet).ok());
  EXPECT_FALSE(FileExists(plain + "/demo-install.html"));

  ASSERT_TRUE(SealNow().ok());
  EXPECT_EQ(ReadFile(out + "/demo.htm"), ReadFile(plain + "/demo.htm"));
  EXPECT_EQ(ReadFile(out + "/demo.qxw").size(), ReadFile(plain + "/demo.qxw").size());
  EXPECT_FALSE(FileExists(out + "/" + StagingDirectoryName("demo")));
  const std::string page = Page();
  // The sizes of the stored files as they lie in the put-to directory.
  const int64_t stored =
      static_cast<int64_t>(fs::file_size(out + "/a.txt") + fs::file_size(out + "/sub/b.bin"));
  EXPECT_NE(page.find("<dt>Size</dt><dd>" + qx::ByteSizeText(stored) + "</dd>"), std::string::npos)
      << page;
  EXPECT_LT(stored, 270000);  // compressed: not the sources' sizes
  EXPECT_NE(page.find("<dt>Version</dt><dd>02.01.00</dd>"), std::string::npos);
  EXPECT_NE(page.find("<dt>Owner</dt><dd>Owner &amp; Co</dd>"), std::string::npos);
  EXPECT_EQ(page.find("Signed by key"), std::string::npos);
  EXPECT_EQ(AttributeOf(page, "install", "href"),
            InstallLinkOf("http://127.0.0.1:8080/pkg/demo.qxw"));

  // An unchanged re-seal writes the same bytes.
  ASSERT_TRUE(SealNow().ok());
  EXPECT_EQ(Page(), page);

  // A re-seal without the page leaves the published one alone, even when
  // it now tells an earlier version; with it, the page follows.
  project.record.version = "03.00.00";
  options.install_page = false;
  ASSERT_TRUE(SealNow().ok());
  EXPECT_EQ(Page(), page);
  options.install_page = true;
  ASSERT_TRUE(SealNow().ok());
  EXPECT_NE(Page().find("<dd>03.00.00</dd>"), std::string::npos);
}

TEST_F(InstallPageSealTest, SignedSealShowsTheSignersKeyId) {
  const SignatureResult<SigningKey> key = MakeSigningKey();
  ASSERT_TRUE(key.ok()) << key.error;
  options.signing_key = key.value;
  ASSERT_TRUE(SealNow().ok());
  const std::string id = KeyId(key.value.public_key());
  ASSERT_EQ(id.size(), kKeyIdLength);
  EXPECT_EQ(TextOf(Page(), "#key"), id);
  EXPECT_TRUE(FileExists(out + "/demo.qxw.sig"));
}

TEST_F(InstallPageSealTest, CancelledSealLeavesTheEarlierPageOrNone) {
  // No earlier page: a cancelled seal leaves none.
  {
    CountingObserver cancelling;
    cancelling.cancel_at = 2;  // the second stored file
    const Result<SealedPackage> cancelled = Seal(project, options, cancelling);
    ASSERT_FALSE(cancelled.ok());
    EXPECT_EQ(cancelled.error().code, kSealCancelled);
    EXPECT_FALSE(FileExists(out + "/demo-install.html"));
  }
  ASSERT_TRUE(SealNow().ok());
  const std::string earlier = Page();
  const std::string header = ReadFile(out + "/demo.qxw");
  project.record.version = "09.09.09";
  // Cancelled at each step in turn, the install page's own the last.
  std::string last_cancelled;
  for (int step = 0;; ++step) {
    CountingObserver cancelling;
    cancelling.cancel_at = step;
    const Result<SealedPackage> run = Seal(project, options, cancelling);
    if (run.ok()) {
      break;
    }
    ASSERT_LT(step, 10);
    last_cancelled = cancelling.steps.back();
    SCOPED_TRACE(last_cancelled);
    EXPECT_EQ(run.error().code, kSealCancelled);
    EXPECT_EQ(Page(), earlier);
    EXPECT_EQ(ReadFile(out + "/demo.qxw"), header);
  }
  EXPECT_EQ(last_cancelled.rfind("Creating install page " + out + "/demo-install.html", 0), 0u)
      << last_cancelled;
  EXPECT_NE(Page().find("09.09.09"), std::string::npos);
}

TEST_F(InstallPageSealTest, APublicationThatCannotPlaceThePageChangesNothing) {
  ASSERT_TRUE(SealNow().ok());
  const std::string header = ReadFile(out + "/demo.qxw");
  fs::remove(out + "/demo-install.html");
  fs::create_directory(out + "/demo-install.html");
  project.record.version = "04.00.00";
  const Result<SealedPackage> run = SealNow();
  ASSERT_FALSE(run.ok());
  EXPECT_NE(run.error().message.find("demo-install.html is a directory"), std::string::npos)
      << run.error().message;
  EXPECT_EQ(ReadFile(out + "/demo.qxw"), header);
  EXPECT_TRUE(fs::is_directory(out + "/demo-install.html"));
}

TEST_F(InstallPageSealTest, KilledPublicationIsFinishedWithItsPage) {
  // What a seal killed after its marker leaves: the staged page and header.
  const std::string staging = out + "/" + StagingDirectoryName("demo");
  WriteFile(staging + "/files/a.txt", "stored");
  WriteFile(staging + "/demo.qxw", "header");
  WriteFile(staging + "/demo-install.html", "page");
  WriteFile(staging + "/publish", "");
  ASSERT_TRUE(RecoverSealStaging(out, "demo").ok());
  EXPECT_EQ(ReadFile(out + "/demo-install.html"), "page");
  EXPECT_EQ(ReadFile(out + "/demo.qxw"), "header");
  EXPECT_FALSE(fs::exists(staging));
}

TEST_F(InstallPageSealTest, RefusalsComeBeforeAnythingIsWritten) {
  const struct {
    const char* what;
    std::function<void(Project&, SealOptions&)> change;
    std::string message;
  } rows[] = {
      {"a base URL of another scheme",
       [](Project&, SealOptions& o) { o.install_page_base_url = "ftp://example.org/"; },
       "The install page's base URL \"ftp://example.org/\" is refused"},
      {"a base URL with a query",
       [](Project&, SealOptions& o) { o.install_page_base_url = "http://example.org/?a"; },
       "query or fragment"},
      {"a stored file in the page's place",
       [&](Project& p, SealOptions&) {
         WriteFile(src + "/demo-install.html", "mine");
         p.file_list.push_back("File: demo-install.html;");
       },
       "Unable to seal demo-install.html: it would take the place of the package's install "
       "page"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Project changed = project;
    SealOptions changed_options = options;
    row.change(changed, changed_options);
    CountingObserver quiet;
    const Result<SealedPackage> run = Seal(changed, changed_options, quiet);
    ASSERT_FALSE(run.ok());
    EXPECT_NE(run.error().message.find(row.message), std::string::npos) << run.error().message;
    EXPECT_TRUE(fs::is_empty(out));
  }
  // Without the page, a file of that name is the author's to store.
  project.file_list.push_back("File: demo-install.html;");
  options.install_page = false;
  ASSERT_TRUE(SealNow().ok());
  EXPECT_EQ(qx_test::RunCommand("gzip -dc " + qx_test::ShellQuote(out + "/demo-install.html")).out,
            "mine");
}

// The window's seal, through the form's command: the settings ask for the
// page, since the form has no control for it.
class InstallPageFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    view.SetFieldText(FormControl::kOwner, "Owner Inc");
    view.SetFieldText(FormControl::kName, "demo");
    view.SetFieldText(FormControl::kCommandLine, "demo -run");
    view.SetFieldText(FormControl::kSealFrom, src);
    view.SetFieldText(FormControl::kPutTo, out);
    WriteFile(src + "/a.txt", qx_test::TextBytes(2000, 1));
    ::mkdir(out.c_str(), 0777);
    view.file_list().Add("File: a.txt;");
    state.project.version = "01.00.00";
  }

  TempDir dir;
  const std::string src = dir / "src";
  const std::string out = dir / "out";
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  MemoryFormView view;
  SealerState state;
};

TEST_F(InstallPageFormTest, TheSettingsAskForThePageWithItsBaseUrl) {
  ASSERT_TRUE(SealCommand(state, view));
  EXPECT_FALSE(FileExists(out + "/demo-install.html"));

  state.settings.install_page = true;
  state.settings.install_page_base_url = "https://example.org/apps";
  ASSERT_TRUE(SealCommand(state, view));
  EXPECT_EQ(AttributeOf(ReadFile(out + "/demo-install.html"), "install", "href"),
            InstallLinkOf("https://example.org/apps/demo.qxw"));

  // A base URL the page cannot use stops the seal before it starts, naming
  // the setting.
  fs::remove(out + "/demo-install.html");
  state.settings.install_page_base_url = "example.org/apps";
  const size_t boxes = ui.boxes().size();
  EXPECT_FALSE(SealCommand(state, view));
  ASSERT_EQ(ui.boxes().size(), boxes + 1);
  EXPECT_NE(ui.boxes().back().text.find("InstallPageBaseUrl"), std::string::npos)
      << ui.boxes().back().text;
  EXPECT_FALSE(FileExists(out + "/demo-install.html"));
}

}  // namespace
}  // namespace qx
