// Tests of registering an application (launch layer): the key and its values,
// rewriting an existing key, and failures that leave no key behind.
#include "core/launch/registration.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "core/platform/private_profile.h"
#include "core/platform/registry_store.h"
#include "tests/support/scoped_env.h"
#include "tests/support/scripted_user_interface.h"
#include "tests/support/test_support.h"

namespace qx {
namespace {

class RegistrationTest : public ::testing::Test {
 protected:
  // The failure box: a beep first, then an information box owned by the window.
  void ExpectFailureBox(const std::string& text) {
    ASSERT_EQ(ui_.events().size(), 2u);
    EXPECT_TRUE(ui_.events()[0].is_beep && ui_.events()[0].beep == BeepKind::kSimple);
    const MessageBoxRequest& box = ui_.events()[1].box;
    EXPECT_EQ(std::tie(box.text, box.caption, box.owner), std::tie(text, "Tarnwick Web", owner_));
    EXPECT_TRUE(box.icon == BoxIcon::kInformation && box.buttons == BoxButtons::kOk);
    ui_.Clear();
  }

  qx_test::TempDir dir_;
  qx_test::ScopedEnv config_{"XDG_CONFIG_HOME", (dir_ / "config").c_str()};
  ScriptedUserInterface ui_;
  ScopedUserInterface scoped_{ui_};
  int window_ = 0;
  WindowHandle owner_ = &window_;
};

TEST_F(RegistrationTest, RegistersRewritesAndUnregisters) {
  const std::string key = ApplicationKeyPath("apps\\Demo");
  EXPECT_EQ(key, "Software\\TARNWICK\\Tarnwick WEB\\apps\\Demo");
  ASSERT_EQ(RegisterApplication(owner_, "apps\\Demo", "C:\\Apps", "1.0", "first"), 1);
  ASSERT_EQ(RegisterApplication(owner_, "apps\\Demo", "/opt/demo", "2.0", " second "), 1);
  RegistryStore store;
  EXPECT_EQ(store.ReadValue(key, "InstallTo"), "/opt/demo");
  EXPECT_EQ(store.ReadValue(key, "Version"), "2.0");
  EXPECT_EQ(store.ReadValue(key, "Description"), " second ");
  std::string class_text;
  ReadProfileString(store.path(), key, "(class)", "", 64, class_text);
  EXPECT_EQ(class_text, "Application Global Data");
  EXPECT_TRUE(ui_.events().empty());

  EXPECT_EQ(UnregisterApplication(owner_, "apps\\Demo"), 1);
  EXPECT_FALSE(store.KeyExists(key));
  EXPECT_EQ(UnregisterApplication(owner_, "apps\\Demo"), 0);
  ExpectFailureBox("Unable to UNregister application apps\\Demo");
}

TEST_F(RegistrationTest, AFailedRegistrationSaysSoAndLeavesNoKey) {
  const struct {
    std::string name;
    std::string version;
    std::string description;
    bool existed = false;
  } cases[] = {
      {"a]b", "1.0", "d"},            // cannot be a key
      {"Demo", "1.0", "two\nlines"},  // the last value fails on a new key
      {"Demo", "1\n0", "d", true},    // a value fails on an existing key: it goes too
      {"Demo ", "1.0", "d"},          // a trailing blank would alias "Demo"
  };
  RegistryStore store;
  for (const auto& c : cases) {
    if (c.existed) {
      ASSERT_EQ(RegisterApplication(owner_, c.name, "x", "1", "d"), 1);
    }
    EXPECT_EQ(RegisterApplication(owner_, c.name, "/opt/x", c.version, c.description), 0) << c.name;
    ExpectFailureBox("Unable to register application " + c.name);
    EXPECT_TRUE(ReadProfileSections(store.path()).empty()) << c.name;
  }
}

}  // namespace
}  // namespace qx
