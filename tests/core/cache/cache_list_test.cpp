// Tests of the registry's list-box side (cache layer): loading with marked
// applications and their directories, saving the order, the sweep and its
// prompt, and where an application's directory lies.
#include "core/cache/cache_list.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "core/widthlist/width_list.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

class CacheListTest : public ::testing::Test {
 protected:
  // A list of |names|; those in |marked| carry DeleteCache=Yes.
  void Seed(const std::vector<std::string>& names, const std::vector<std::string>& marked,
            const std::string& general = "") {
    std::string text = "[General]\n" + general + "ApplCount=" + std::to_string(names.size()) + "\n";
    for (size_t i = 0; i < names.size(); ++i) {
      text += "Application." + std::to_string(i + 1) + "=" + names[i] + "\n";
    }
    for (const std::string& name : marked) {
      text += "[" + name + "]\nDeleteCache=Yes\n";
    }
    qx_test::WriteFile(dir_ / "tarnwick/qxweb.ini", text);
  }

  static std::string Value(std::string_view section, std::string_view key) {
    std::string value;
    ReadCacheString(section, key, 256, "", value);
    return value;
  }

  static std::vector<std::string> List() {
    int count = 0;
    ReadApplCount(&count);
    std::vector<std::string> names(static_cast<size_t>(count));
    for (int i = 1; i <= count; ++i) {
      GetApplicationName(i, &names[static_cast<size_t>(i - 1)]);
    }
    EXPECT_EQ(Value("General", "Application." + std::to_string(count + 1)), "");
    return names;
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", dir_.path().c_str()};
  ScriptedUserInterface ui_;
  ScopedUserInterface install_{ui_};
};

TEST_F(CacheListTest, LoadRemovesConfirmedApplicationsWithTheirFilesInsideTheRoot) {
  const std::string root = dir_ / "root";
  for (const char* file : {"root/A/f", "root/B/f", "root/apps/C/sub/f", "root/D/f", "outside/f"}) {
    qx_test::WriteFile(dir_ / file, "x");
  }
  ASSERT_EQ(::symlink((dir_ / "outside").c_str(), (dir_ / "root/L").c_str()), 0);
  Seed({"A", "B", "\\apps\\C", "D", "..\\outside", "L", "E"},
       {"B", "\\apps\\C", "D", "..\\outside", "L"}, "Root=" + root + "\\\n");
  for (BoxAnswer answer :
       {BoxAnswer::kYes, BoxAnswer::kYes, BoxAnswer::kNo, BoxAnswer::kYes, BoxAnswer::kYes}) {
    ui_.QueueAnswer(answer);
  }
  qx_test::ScopedEnv temp("TEMP", nullptr);
  qx_test::ScopedEnv tmp("TMP", "/var/tmpx");
  MemoryListBox list_box;
  CacheState state;
  EXPECT_EQ(LoadApplicationList(&list_box, &state), kApplicationListFilled);

  EXPECT_EQ(list_box.lines(), (std::deque<std::string>{"A", "D", "E"}));
  EXPECT_EQ(list_box.Selected(), 0);
  EXPECT_EQ(state.selected, "A");
  EXPECT_EQ(state.count, 3);
  EXPECT_EQ(state.root, root + "\\");  // as stored
  EXPECT_EQ(state.temp_dir, "/var/tmpx");
  EXPECT_NE(FindWidthList(list_box), nullptr);
  EXPECT_EQ(List(), (std::vector<std::string>{"A", "D", "E"}));
  EXPECT_EQ(Value("D", "DeleteCache"), "No");
  EXPECT_EQ(Value("B", "DeleteCache"), "");  // section gone

  ASSERT_EQ(ui_.boxes().size(), 5u);
  EXPECT_EQ(ui_.beeps(), 5);
  const MessageBoxRequest& box = ui_.boxes()[1];
  EXPECT_EQ(box.text, "Do you want to delete the application?");
  EXPECT_EQ(box.caption, "Application \"\\apps\\C\" marked to be deleted");
  EXPECT_EQ(box.owner, nullptr);
  EXPECT_EQ(box.icon, BoxIcon::kQuestion);
  EXPECT_EQ(box.buttons, BoxButtons::kYesNo);

  EXPECT_FALSE(qx_test::FileExists(dir_ / "root/B"));
  EXPECT_FALSE(qx_test::FileExists(dir_ / "root/apps/C"));
  EXPECT_TRUE(qx_test::FileExists(dir_ / "root/apps"));
  EXPECT_TRUE(qx_test::FileExists(dir_ / "root/D/f"));
  EXPECT_TRUE(qx_test::FileExists(dir_ / "outside/f"));  // neither ".." nor a link reach it
}

TEST_F(CacheListTest, LoadOfNothingListed) {
  qx_test::ScopedEnv temp("TEMP", nullptr);
  qx_test::ScopedEnv tmp("TMP", nullptr);
  MemoryListBox list_box;
  CacheState state;
  EXPECT_EQ(LoadApplicationList(&list_box, &state), kApplicationListEmpty);
  EXPECT_EQ(state.temp_dir, "/tmp");
  EXPECT_EQ(FindWidthList(list_box), nullptr);  // left alone

  Seed({"A"}, {});
  EXPECT_EQ(LoadApplicationList(nullptr, &state), kApplicationListNotPrepared);
  Seed({"A", "B"}, {"A", "B"});
  ui_.SetDefaultAnswer(BoxAnswer::kYes);
  EXPECT_EQ(LoadApplicationList(&list_box, &state), kApplicationListEmpty);
  EXPECT_EQ(list_box.Count(), 0);
  EXPECT_EQ(List(), std::vector<std::string>{});
}

TEST_F(CacheListTest, SaveOrderWritesTheLinesAndDropsTheRest) {
  Seed({"A", "B", "C"}, {});
  MemoryListBox list_box;
  list_box.Add("C");
  list_box.Add("A");
  CacheState state;
  state.count = 3;
  EXPECT_EQ(SaveApplicationOrder(&list_box, &state), 1);
  EXPECT_EQ(List(), (std::vector<std::string>{"C", "A"}));
  EXPECT_EQ(state.count, 3);
}

TEST_F(CacheListTest, SweepTakesTheFormatAsPlainText) {
  const std::string long_name(250, 'n');
  Seed({"A", "B", long_name, "C"}, {"B", long_name, "C"});
  qx_test::WriteFile(dir_ / "root/B/f", "x");
  ui_.QueueAnswer(BoxAnswer::kYes);
  ui_.QueueAnswer(BoxAnswer::kNo);
  ui_.QueueAnswer(BoxAnswer::kNo);
  int owner = 0;
  EXPECT_EQ(SweepMarkedApplications(&owner, "Remove %s? %n %s %d 100%%", "Cap"), 1);
  ASSERT_EQ(ui_.boxes().size(), 3u);
  EXPECT_EQ(ui_.boxes()[0].text, "Remove B? %n %s %d 100%");
  EXPECT_EQ(ui_.boxes()[0].owner, &owner);
  EXPECT_EQ(ui_.boxes()[0].caption, "Cap");
  EXPECT_EQ(ui_.boxes()[0].icon, BoxIcon::kQuestion);
  EXPECT_EQ(ui_.boxes()[1].text, "Remove " + long_name.substr(0, 248));
  EXPECT_EQ(ui_.beeps(), 0);
  EXPECT_EQ(List(), (std::vector<std::string>{"A", long_name, "C"}));
  EXPECT_EQ(Value("C", "DeleteCache"), "No");
  EXPECT_TRUE(qx_test::FileExists(dir_ / "root/B/f"));
}

TEST_F(CacheListTest, ApplicationDirectoryIsOnlyASafeNameUnderARoot) {
  struct Case {
    const char* root;
    const char* name;
    const char* directory;
  };
  const Case table[] = {
      {"/r", "apps\\Demo", "/r/apps/Demo"},
      {"/r/", "\\Demo", "/r/Demo"},
      {"/r\\", "/x/Demo", "/r/x/Demo"},
      {"", "Demo", ""},
      {"/r", "..\\x", ""},
      {"/r", "apps\\..\\..\\x", ""},
      {"/r", "\\\\x", ""},
      {"/r", "C:\\x", ""},
      {"/r", "", ""},
      {"/r", "\\", ""},
  };
  for (const Case& c : table) {
    EXPECT_EQ(CachedApplicationDirectory(c.root, c.name), c.directory) << c.root << " " << c.name;
  }
}

}  // namespace
}  // namespace qx
