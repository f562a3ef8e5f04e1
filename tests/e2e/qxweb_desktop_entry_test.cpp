// Tests of the menu entries qxweb writes, whole-program: installs from a
// directory and from a web server into a private data directory, entries
// the validator takes and whose Exec, read by the tests' own reader and
// run, starts the application; updates, removal, the sweep, the switch
// that turns entries off, and a file at the entry's name that is not ours.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/client/desktop_entry_reader.h"
#include "tests/support/test_support.h"
#include "tests/support/web_server.h"

namespace {

namespace fs = std::filesystem;
using qx_test::CommandResult;
using qx_test::ReadFile;
using qx_test::ShellQuote;
using qx_test::WriteFile;

// Writes its arguments one per line where it runs, and exits with 7.
constexpr const char* kProbe =
    "#!/bin/sh\n"
    "for a in \"$@\"; do echo \"[$a]\"; done > ran.txt\n"
    "exit 7\n";

// The smallest header a PNG file starts with, and some bytes.
const std::string kIcon = std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16) + "pixels";

class QxwebDesktopEntryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy(qx_test::SourceDir() + "/examples/demo/app", src_, fs::copy_options::recursive);
    WriteFile(src_ + "/bin/probe", kProbe);
    WriteFile(src_ + "/icon.png", kIcon);
  }

  std::string Environment() const {
    return "XDG_CONFIG_HOME=" + ShellQuote(dir_ / "config") +
           " XDG_DATA_HOME=" + ShellQuote(dir_ / "data") + " ";
  }

  CommandResult Qxweb(const std::string& arguments) {
    return qx_test::RunCommand(Environment() + ShellQuote(qx_test::QxwebPath()) + " " + arguments +
                               " </dev/null");
  }

  // Seals the demo as Demo into |install_to| with icon.png as its LaunchIcon.
  void Seal(const std::string& install_to) {
    const CommandResult made =
        Qxweb("new " + ShellQuote(project_) + " --force --name Demo --command-line bin/probe" +
              " --seal-from " + ShellQuote(src_) + " --put-to " + ShellQuote(out_) +
              " --install-to " + ShellQuote(install_to));
    ASSERT_EQ(made.status, 0) << made.err;
    std::string project = ReadFile(project_);
    const size_t icon_line = project.find("LaunchIcon:");
    ASSERT_NE(icon_line, std::string::npos) << project;
    project.insert(icon_line + std::string("LaunchIcon:").size(), " icon.png");
    WriteFile(project_, project);
    const CommandResult sealed = Qxweb("seal --scan --create-put-to " + ShellQuote(project_));
    ASSERT_EQ(sealed.status, 0) << sealed.err;
  }

  // The files in the menu's directory that the client's entries are named like.
  std::vector<std::string> Entries() const {
    std::vector<std::string> found;
    if (fs::exists(applications_)) {
      for (const auto& item : fs::directory_iterator(applications_)) {
        const std::string name = item.path().filename().string();
        if (name.rfind("tarnwick-app-", 0) == 0) {
          found.push_back(item.path().string());
        }
      }
    }
    std::sort(found.begin(), found.end());
    return found;
  }

  std::vector<std::string> Icons() const {
    std::vector<std::string> found;
    if (fs::exists(icons_)) {
      for (const auto& item : fs::directory_iterator(icons_)) {
        found.push_back(item.path().string());
      }
    }
    return found;
  }

  // Checks the one entry there is for |cache_name|: the validator takes it,
  // it shows the icon, and its Exec names this qxweb and the application;
  // then runs that command line, which must start the application.
  void CheckEntryStarts(const std::string& cache_name) {
    const std::vector<std::string> entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    const std::string text = ReadFile(entries.front());
    if (qx_test::HaveValidator()) {
      EXPECT_EQ(qx_test::ValidatorComplaints(
                    text, dir_ / ("checked/" + fs::path(entries.front()).filename().string())),
                "")
          << text;
    }
    const auto keys = qx_test::EntryKeys(text);
    ASSERT_EQ(keys.count("Exec"), 1u) << text;
    EXPECT_EQ(qx_test::ReadStringValue(keys.at("Name")), "Demo");
    EXPECT_EQ(qx_test::ReadStringValue(keys.at("X-Tarnwick-Cache-Name")), cache_name);
    ASSERT_EQ(keys.count("Icon"), 1u) << text;
    const std::string icon = qx_test::ReadStringValue(keys.at("Icon")).value_or("");
    EXPECT_EQ(fs::path(icon).parent_path(), fs::path(icons_));
    EXPECT_EQ(ReadFile(icon), kIcon);
    const auto exec = qx_test::ReadExec(keys.at("Exec"));
    ASSERT_TRUE(exec) << keys.at("Exec");
    ASSERT_EQ(exec->size(), 5u) << keys.at("Exec");
    EXPECT_TRUE(fs::equivalent((*exec)[0], qx_test::QxwebPath())) << (*exec)[0];
    EXPECT_EQ(fs::path((*exec)[0]).is_absolute(), true);
    EXPECT_EQ(std::vector<std::string>(exec->begin() + 1, exec->end()),
              (std::vector<std::string>{"cache", "launch", "--", cache_name}));
    // Started as a menu starts it: the vector as it is, no shell between.
    fs::remove(package_ + "/ran.txt");
    std::string command = Environment();
    for (const std::string& argument : *exec) {
      command += ShellQuote(argument) + " ";
    }
    const CommandResult started = qx_test::RunCommand(command + "</dev/null");
    EXPECT_EQ(started.status, 7) << started.err;
    EXPECT_TRUE(qx_test::FileExists(package_ + "/ran.txt")) << package_;
  }

  qx_test::TempDir dir_;
  const std::string src_ = dir_ / "src";
  const std::string out_ = dir_ / "out";
  const std::string project_ = dir_ / "demo.QXS";
  const std::string applications_ = dir_ / "data/applications";
  const std::string icons_ = dir_ / "data/tarnwick/icons";
  std::string package_;
};

TEST_F(QxwebDesktopEntryTest, EachInstallWritesAnEntryThatStartsItAndRemovalTakesItAway) {
  struct Case {
    std::string install_to;
    std::string cache_name;
  };
  const Case cases[] = {
      {"apps/demo", "apps\\demo\\Demo"},
      {"-rf/it's $HOME", "-rf\\it's $HOME\\Demo"},
      {"`id`/50% (a) & b/%u~x", "`id`\\50% (a) & b\\%u~x\\Demo"},
      {"back\\slash/$(true)", "back\\slash\\$(true)\\Demo"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.install_to);
    Seal(c.install_to);
    std::string relative = c.cache_name;
    std::replace(relative.begin(), relative.end(), '\\', '/');
    package_ = dir_ / ("data/tarnwick/cache/" + relative);
    const CommandResult install = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
    ASSERT_EQ(install.status, 0) << install.err;
    EXPECT_EQ(install.err.find("warning"), std::string::npos) << install.err;
    CheckEntryStarts(c.cache_name);
    const CommandResult show = Qxweb("cache show -- " + ShellQuote(c.cache_name));
    EXPECT_NE(show.out.find("Menu entry:   " + Entries().front() + "\n"), std::string::npos)
        << show.out;
    const CommandResult remove = Qxweb("cache remove -- " + ShellQuote(c.cache_name));
    ASSERT_EQ(remove.status, 0) << remove.err;
    EXPECT_EQ(remove.err, "");
    EXPECT_TRUE(Entries().empty());
    EXPECT_TRUE(Icons().empty());
  }
}

TEST_F(QxwebDesktopEntryTest, AnUpdateKeepsOneEntryAndTheSwitchStopsNewOnesOnly) {
  Seal("apps/demo");
  package_ = dir_ / "data/tarnwick/cache/apps/demo/Demo";
  ASSERT_EQ(Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw")).status, 0);
  WriteFile(src_ + "/data/tasks.csv", "changed\n");
  Seal("apps/demo");
  const CommandResult update = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_NE(update.out.find("replaced the cached version"), std::string::npos) << update.out;
  CheckEntryStarts("apps\\demo\\Demo");
  EXPECT_EQ(Icons().size(), 1u);

  // Switched off: the sweep still takes the entry the install wrote.
  const std::string ini = dir_ / "config/tarnwick/qxweb.ini";
  std::string settings = ReadFile(ini);
  ASSERT_NE(settings.find("[General]\r\n"), std::string::npos) << settings;
  settings.insert(settings.find("[General]\r\n") + 11, "DesktopEntries=no\r\n");
  WriteFile(ini, settings);
  ASSERT_EQ(Qxweb("cache mark Demo").status, 0);
  const CommandResult sweep = Qxweb("cache sweep --yes");
  ASSERT_EQ(sweep.status, 0) << sweep.err;
  EXPECT_NE(sweep.out.find("apps\\demo\\Demo: removed"), std::string::npos) << sweep.out;
  EXPECT_TRUE(Entries().empty());
  EXPECT_TRUE(Icons().empty());
  // ... and an install writes none.
  const CommandResult quiet = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
  ASSERT_EQ(quiet.status, 0) << quiet.err;
  EXPECT_TRUE(Entries().empty());
  EXPECT_TRUE(Icons().empty());
  EXPECT_NE(Qxweb("cache show Demo").out.find("Menu entry:   none\n"), std::string::npos);
}

TEST_F(QxwebDesktopEntryTest, AFileAtTheEntrysNameThatIsNotOursStaysAndOnlyWarns) {
  Seal("apps/demo");
  const std::string entry = applications_ + "/tarnwick-app-apps_5cdemo_5cdemo.desktop";
  const std::string foreign = "[Desktop Entry]\nType=Application\nName=Mine\nExec=mine\n";
  WriteFile(entry, foreign);
  const CommandResult install = Qxweb("cache install " + ShellQuote(out_ + "/Demo.qxw"));
  ASSERT_EQ(install.status, 0) << install.err;
  EXPECT_NE(install.out.find("apps\\demo\\Demo: installed"), std::string::npos) << install.out;
  EXPECT_NE(install.err.find("qxweb cache install: warning: no menu entry: " + entry +
                             " is not an entry qxweb wrote"),
            std::string::npos)
      << install.err;
  EXPECT_EQ(ReadFile(entry), foreign);
  EXPECT_TRUE(Icons().empty());
  const CommandResult remove = Qxweb("cache remove Demo");
  ASSERT_EQ(remove.status, 0) << remove.err;
  EXPECT_NE(remove.err.find("qxweb cache remove: warning: " + entry), std::string::npos)
      << remove.err;
  EXPECT_EQ(ReadFile(entry), foreign);
  EXPECT_EQ(Qxweb("cache list").out.find("Demo"), std::string::npos);
}

TEST_F(QxwebDesktopEntryTest, AnInstallFromTheWebWritesTheEntryThroughTheHelper) {
  Seal("apps/demo");
  package_ = dir_ / "data/tarnwick/cache/apps/demo/Demo";
  qx_test::WebServer server(dir_ / "web", out_);
  ASSERT_TRUE(server.Start()) << ReadFile(dir_ / "web/error.log");
  const CommandResult install = Qxweb("install " + server.Url("/Demo.qxw"));
  ASSERT_EQ(install.status, 0) << install.err;
  EXPECT_EQ(install.err.find("warning"), std::string::npos) << install.err;
  CheckEntryStarts("apps\\demo\\Demo");
  WriteFile(src_ + "/data/tasks.csv", "changed\n");
  Seal("apps/demo");
  const CommandResult update = Qxweb("update Demo");
  ASSERT_EQ(update.status, 0) << update.err;
  EXPECT_NE(update.out.find("updated"), std::string::npos) << update.out;
  CheckEntryStarts("apps\\demo\\Demo");
}

}  // namespace
