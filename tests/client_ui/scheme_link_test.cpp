// A qxweb: link opened as a browser opens it: xdg-open (or gio open) finds
// the client's desktop entry as the handler of the scheme, in a private
// XDG_DATA_HOME, and the client's install dialog installs from a local nginx.
// The dialog is answered by the test hook; the program runs offscreen.
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx_test::ReadFile;
using qx_test::RunCommand;
using qx_test::ShellQuote;

bool OnPath(const std::string& program) {
  return RunCommand("command -v " + program + " >/dev/null").status == 0;
}

std::string Encoded(const std::string& url) {
  std::string encoded;
  for (const char c : url) {
    encoded += c == ':' ? std::string("%3A") : c == '/' ? std::string("%2F") : std::string(1, c);
  }
  return encoded;
}

class SchemeLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnPath("xdg-open") && !OnPath("gio")) {
      GTEST_SKIP() << "neither xdg-open nor gio is installed";
    }
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", dir_ / "src",
             fs::copy_options::recursive);
    ASSERT_EQ(Run(Quoted(qx_test::QxwebPath()) + " new " + Quoted(dir_ / "demo.QXS") +
                  " --name Demo --command-line bin/planner --seal-from " + Quoted(dir_ / "src") +
                  " --put-to " + Quoted(dir_ / "out") + " && " + Quoted(qx_test::QxwebPath()) +
                  " seal --scan --create-put-to " + Quoted(dir_ / "demo.QXS"))
                  .status,
              0);
    ASSERT_TRUE(server_.Start());
    // The client's own desktop entry, its Exec pointed at the program under
    // test, registered as the scheme's handler the way a desktop does.
    std::string entry = ReadFile(qx_test::SourceDir() + "/client_ui/desktop/qxweb-client.desktop");
    entry = std::regex_replace(entry, std::regex("\nExec=qxweb-client "),
                               "\nExec=" + std::string(QX_CLIENT_PROGRAM) + " ");
    qx_test::WriteFile(dir_ / "data/applications/qxweb-client.desktop", entry);
    ASSERT_EQ(Run("xdg-mime default qxweb-client.desktop x-scheme-handler/qxweb").status, 0);
  }

  static std::string Quoted(const std::string& text) { return ShellQuote(text); }

  qx_test::CommandResult Run(const std::string& command) {
    return RunCommand(
        "env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION DISPLAY=:0 "
        "QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME=" +
        Quoted(dir_ / "config") + " XDG_DATA_HOME=" + Quoted(dir_ / "data") +
        " XDG_DATA_DIRS=" + Quoted(dir_ / "data") + ":/usr/share " + command + " </dev/null");
  }

  // Opens |link| as a browser would and waits for the handler to end; the
  // dialog's answers come from |answers|.
  std::string Open(const std::string& link, const std::string& answers) {
    const std::string log = dir_ / "handler.log";
    fs::remove(log);
    const std::string opener = OnPath("xdg-open") ? "xdg-open" : "gio open";
    const auto opened =
        Run("QXWEB_CLIENT_TEST_ANSWERS=" + answers + " " + opener + " " + Quoted(link) + " >" +
            Quoted(log) + " 2>&1; echo done >>" + Quoted(log));
    EXPECT_EQ(opened.status, 0) << ReadFile(log);
    // xdg-open may return before its handler ends.
    for (int i = 0;
         i < 300 && Run("pgrep -f " + Quoted("^" + std::string(QX_CLIENT_PROGRAM))).status == 0;
         ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return ReadFile(log);
  }

  qx_test::TempDir dir_;
  qx_test::WebServer server_{dir_ / "web", dir_ / "out"};
};

TEST_F(SchemeLinkTest, ALinkReachesTheInstallDialogWhichInstallsOnlyOnYes) {
  const std::string link = "qxweb:?source=" + Encoded(server_.Url("/Demo.htm"));
  Open(link, "cancel");
  EXPECT_EQ(Run(Quoted(qx_test::QxwebPath()) + " cache list").out.find("Demo"), std::string::npos);

  const std::string said = Open(link, "install,close");
  EXPECT_NE(said.find("Install <b>Demo</b>"), std::string::npos) << said;
  EXPECT_NE(Run(Quoted(qx_test::QxwebPath()) + " cache list").out.find("Demo"), std::string::npos)
      << said;
}

TEST_F(SchemeLinkTest, ALinkToAnythingButAWebPackageIsRefused) {
  const std::string said = Open("qxweb:?source=file%3A%2F%2F%2Fetc%2Fpasswd", "install,close");
  EXPECT_NE(said.find("its source is not an http or https URL"), std::string::npos) << said;
  EXPECT_FALSE(fs::exists(dir_ / "data/tarnwick/cache"));
}

}  // namespace
