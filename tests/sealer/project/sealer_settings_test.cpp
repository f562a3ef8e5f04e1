// Tests of the sealer settings (sealer project layer): the owner and the
// recent-project list read and written, the list's order, and failed writes.
#include "sealer/project/sealer_settings.h"

#include <gtest/gtest.h>

#include <string>

#include "core/platform/private_profile.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

using qx_test::ReadFile;
using qx_test::WriteFile;

using Slots = std::array<std::string, kRecentProjectCount>;

class SettingsTest : public ::testing::Test {
 protected:
  std::string Value(std::string_view section, std::string_view key) {
    std::string value;
    ReadProfileString(ini, section, key, "<none>", 256, value);
    return value;
  }

  qx_test::TempDir dir;
  qx_test::ScopedEnv config{"XDG_CONFIG_HOME", dir.path().c_str()};
  std::string ini = dir / "tarnwick/qxsealer-lite.ini";
  ScriptedUserInterface ui;
  ScopedUserInterface scoped{ui};
  SealerSettings settings;
};

TEST_F(SettingsTest, ReadStopsAtTheFirstMissingSlotAndWritesOnlyThePrefix) {
  EXPECT_EQ(SettingsFilePath(), ini);
  ReadSettings(settings);  // no file yet
  EXPECT_EQ(settings.owner, "");
  EXPECT_EQ(settings.recent_projects, Slots{});
  EXPECT_FALSE(settings.recent_list_changed);

  WriteFile(ini,
            "[General]\r\nOwner = Me Inc\r\nCopyRight=(c) Me\r\nProject Directory=/p\r\n"
            "LastControl.1=/p/one.QXS\r\nLastControl.3=/p/three.QXS\r\n");
  ReadSettings(settings);
  EXPECT_EQ(settings.owner, "Me Inc");
  EXPECT_EQ(settings.copyright, "(c) Me");
  EXPECT_EQ(settings.project_directory, "/p");
  EXPECT_EQ(settings.recent_projects, (Slots{"/p/one.QXS", "", "", ""}));
  EXPECT_TRUE(settings.recent_list_changed);

  settings.owner = "Changed";
  WriteSettings(settings);
  EXPECT_TRUE(ui.boxes().empty());
  EXPECT_EQ(Value("General", "Owner"), "Changed");
  EXPECT_EQ(Value("General", "LastControl.2"), "<none>");
  EXPECT_EQ(Value("General", "LastControl.3"), "/p/three.QXS");

  // Values come back as through a 256-byte buffer.
  WriteFile(ini, "[General]\nOwner=" + std::string(300, 'o') + "\n");
  ReadSettings(settings);
  EXPECT_EQ(settings.owner, std::string(255, 'o'));
}

TEST_F(SettingsTest, WindowSizeIsReadBackAndKeptWhenNeverMeasured) {
  WriteFile(ini, "[General]\nWindowWidth=640\nWindowHeight=-5\n");
  ReadSettings(settings);
  EXPECT_EQ(settings.window_width, 640);
  EXPECT_EQ(settings.window_height, 0);

  // A size never measured leaves the written one alone; a measured one replaces it.
  WriteFile(ini, "[General]\nWindowWidth=700\nWindowHeight=500\n");
  SealerSettings unmeasured;
  WriteSettings(unmeasured);
  EXPECT_EQ(Value("General", "WindowWidth"), "700");
  unmeasured.window_width = 812;
  unmeasured.window_height = 0;
  WriteSettings(unmeasured);
  EXPECT_EQ(Value("General", "WindowWidth"), "700");
  unmeasured.window_height = 610;
  WriteSettings(unmeasured);
  EXPECT_EQ(Value("General", "WindowWidth"), "812");
  EXPECT_EQ(Value("General", "WindowHeight"), "610");
  ReadSettings(settings);
  EXPECT_EQ(settings.window_width, 812);
  EXPECT_EQ(settings.window_height, 610);
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(SettingsTest, RecentListMovesToTopAndDropsTheOldest) {
  WriteFile(ini, "[/p/a.QXS]\r\nSomething=1\r\n[General]\r\nOwner=x\r\n");
  for (const char* path : {"/p/a.QXS", "/p/b.QXS", "/p/c.QXS", "/p/d.QXS"}) {
    AddRecentProject(settings, path);
  }
  EXPECT_EQ(Value("/p/a.QXS", "Something"), "1");
  AddRecentProject(settings, "/p/e.QXS");
  EXPECT_EQ(settings.recent_projects, (Slots{"/p/e.QXS", "/p/d.QXS", "/p/c.QXS", "/p/b.QXS"}));
  EXPECT_EQ(ReadProfileSections(ini), std::vector<std::string>{"General"});
  EXPECT_TRUE(settings.recent_list_changed);

  AddRecentProject(settings, "/p/c.QXS");  // slot 3
  EXPECT_EQ(settings.recent_projects, (Slots{"/p/c.QXS", "/p/e.QXS", "/p/d.QXS", "/p/b.QXS"}));

  settings.recent_list_changed = false;
  AddRecentProject(settings, "/p/c.QXS");  // already on top
  AddRecentProject(settings, "");
  EXPECT_FALSE(settings.recent_list_changed);

  // Paths differing in case are different files here.
  AddRecentProject(settings, "/P/E.QXS");
  EXPECT_EQ(settings.recent_projects, (Slots{"/P/E.QXS", "/p/c.QXS", "/p/e.QXS", "/p/d.QXS"}));

  // A partly filled list grows from the top without gaps.
  SealerSettings fresh;
  AddRecentProject(fresh, "/x");
  AddRecentProject(fresh, "/y");
  EXPECT_EQ(fresh.recent_projects, (Slots{"/y", "/x", "", ""}));

  // A path that cannot name a section has none to remove when it falls off.
  for (const char* odd : {"/p/[x].QXS", "/p/line\nbreak.QXS"}) {
    fresh.recent_projects = {"/1", "/2", "/3", odd};
    AddRecentProject(fresh, "/4");
    EXPECT_EQ(fresh.recent_projects, (Slots{"/4", "/1", "/2", "/3"}));
  }
  EXPECT_TRUE(ui.boxes().empty());
}

TEST_F(SettingsTest, EachFailedWriteIsReportedAndTheRestStillWritten) {
  // A file where the configuration directory should be: nothing can be written.
  qx_test::TempDir other;
  WriteFile(other / "tarnwick", "not a directory");
  qx_test::ScopedEnv broken("XDG_CONFIG_HOME", other.path().c_str());
  settings.recent_projects = {"/p/a.QXS", "/p/b.QXS", "", ""};
  WriteSettings(settings, &settings);
  ASSERT_EQ(ui.boxes().size(), 5u);
  EXPECT_EQ(ui.boxes()[0].text, " Unable to update SECTION \"General\" ENTRY \"Owner\"");
  EXPECT_EQ(ui.boxes()[4].text, " Unable to update SECTION \"General\" ENTRY \"LastControl.2\"");
  EXPECT_EQ(ui.boxes()[0].caption, "Tarnwick Web Sealer");
  EXPECT_EQ(ui.boxes()[0].icon, BoxIcon::kNone);
  EXPECT_EQ(ui.boxes()[0].owner, &settings);
  ASSERT_TRUE(ui.events()[0].is_beep);
  EXPECT_EQ(ui.events()[0].beep, BeepKind::kDefault);

  ui.Clear();
  settings.recent_projects = {"/1", "/2", "/3", "/4"};
  AddRecentProject(settings, "/5");
  EXPECT_EQ(ui.texts(), std::vector<std::string>{" Unable to update SECTION \"/4\" ENTRY \"\""});
  EXPECT_EQ(settings.recent_projects, (Slots{"/5", "/1", "/2", "/3"}));
}

TEST_F(SettingsTest, InstallPageIsAskedForByItsKeyOrByABaseUrlAlone) {
  const struct {
    const char* lines;
    bool install_page;
    const char* base_url;
  } rows[] = {
      {"", false, ""},
      {"InstallPage=Yes\r\n", true, ""},
      {"InstallPage = yes\r\n", true, ""},
      {"InstallPage=No\r\n", false, ""},
      {"InstallPage=maybe\r\n", false, ""},
      {"InstallPageBaseUrl=https://example.org/apps/\r\n", true, "https://example.org/apps/"},
      {"InstallPage=No\r\nInstallPageBaseUrl=https://example.org/\r\n", false,
       "https://example.org/"},
      {"InstallPage=YES\r\nInstallPageBaseUrl= http://h/d \r\n", true, "http://h/d"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.lines);
    WriteFile(ini, std::string("[General]\r\nOwner=Me\r\n") + row.lines);
    ReadSettings(settings);
    EXPECT_EQ(settings.install_page, row.install_page);
    EXPECT_EQ(settings.install_page_base_url, row.base_url);
  }
  // Nothing the window writes touches them.
  WriteFile(ini, "[General]\r\nInstallPage=Yes\r\nInstallPageBaseUrl=http://h/d/\r\n");
  ReadSettings(settings);
  settings.owner = "Other";
  WriteSettings(settings);
  EXPECT_EQ(Value("General", "InstallPage"), "Yes");
  EXPECT_EQ(Value("General", "InstallPageBaseUrl"), "http://h/d/");
}

}  // namespace
}  // namespace qx
